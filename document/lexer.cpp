// document/lexer.cpp - token scanning, number conversion, diagnostics and the quoted forms.
//
// The scanner works on bytes: ASCII is dispatched directly and only bytes from 0x80 go through
// the UTF-8 decoder, which is where invalid sequences are caught. Runs of plain characters in
// strings are copied in one step, and buffers that the lexer fills grow geometrically, so a
// string of many megabytes costs linear time. Token values live in buffers that are reused
// from token to token.
#include "document/lexer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <system_error>

#include "foundation/inline.h"
#include "foundation/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kDiagnosticsReserve = 1024;
// Room for the text that a number is converted through: sign, integer digits, ".", leading
// zeros, fraction digits, "E" and the signed exponent.
constexpr uint32_t kMaxNumberTextLength = 63;

// ReadCodePoint results besides code points. 0 doubles as the end of the text because a NUL
// byte can never be a code point read from the text (an embedded NUL is an error).
constexpr uint32_t kEndOfText = 0;
constexpr uint32_t kReportedError = 0xFFFFFFFFu;

struct TokenRow {
  int32_t kind;
  const char* name;
  bool keyword;
};

// The one table of token names; ends with a row of kind -1.
constexpr TokenRow kTokenRows[] = {
    {1, "malformed number", false},
    {2, "string", false},
    {3, "number", false},
    {4, "identifier", false},
    {5, "extended identifier", false},
    {6, "<EOF>", false},
    {7, "{", false},
    {8, "}", false},
    {9, "[", false},
    {10, "]", false},
    {11, "=", false},
    {12, ",", false},
    {13, "true", true},
    {14, "false", true},
    {15, "@", false},
    {16, "#", false},
    {-1, nullptr, false},
};

// The length of the longest keyword.
constexpr uint32_t kLongestKeyword = [] {
  uint32_t longest = 0;
  for (const TokenRow* row = kTokenRows; row->kind != -1; ++row) {
    uint32_t length = 0;
    while (row->keyword && row->name[length] != '\0') ++length;
    longest = length > longest ? length : longest;
  }
  return longest;
}();

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

constexpr bool IsDigit(uint32_t c) { return c >= '0' && c <= '9'; }

constexpr bool IsLetter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr bool IsIdentifierStart(uint32_t c) { return IsLetter(c) || c == '_'; }

constexpr bool IsIdentifierContinuation(uint32_t c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '@';
}

bool IsWhitespace(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Byte classes for the scanning loops, one bit per loop. A "run" byte is one that the loop may
// step over without a closer look: plain ASCII that ends nothing and needs no decoding.
enum : uint8_t {
  kSpaceByte = 1,          // space, TAB, CR (LF also counts a line, so it is handled apart)
  kIdentifierByte = 2,     // continues an identifier
  kStringRunByte = 4,      // inside "...": not NUL, not 0x80+, not '"', '\\' or LF
  kNameRunByte = 8,        // inside '...': the same with '\'' instead of '"'
  kLineCommentByte = 16,   // inside // ...: not NUL, not 0x80+, not LF
  kBlockCommentByte = 32,  // inside /* */: the same, and not '*'
  kAsciiByte = 64,         // 0x01..0x7F: a whole character, no decoding needed
};

struct ByteClassTable {
  uint8_t classes[256];
};

constexpr ByteClassTable MakeByteClasses() {
  ByteClassTable table{};
  for (uint32_t c = 1; c < 0x80; ++c) {
    uint8_t bits = kAsciiByte;
    if (c == ' ' || c == '\t' || c == '\r') bits |= kSpaceByte;
    if (IsIdentifierContinuation(c)) bits |= kIdentifierByte;
    if (c != '\n') {
      bits |= kLineCommentByte;
      if (c != '*') bits |= kBlockCommentByte;
      if (c != '\\') {
        if (c != '"') bits |= kStringRunByte;
        if (c != '\'') bits |= kNameRunByte;
      }
    }
    table.classes[c] = bits;
  }
  return table;
}

constexpr ByteClassTable kByteClasses = MakeByteClasses();

bool HasClass(char byte, uint8_t mask) {
  return (kByteClasses.classes[static_cast<uint8_t>(byte)] & mask) != 0;
}

int HexValue(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Output buffers

// The buffers' own growth is in fixed steps; doubling keeps long texts linear.
void EnsureRoom(CStringBufferA& out, uint64_t extra) {
  const uint64_t needed = uint64_t{out.length} + extra + 1;
  if (needed <= out.capacity || needed > UINT32_MAX) return;  // Append handles the rest
  const uint64_t request =
      std::min<uint64_t>(std::max(needed, uint64_t{out.capacity} * 2), UINT32_MAX);
  out.Reserve(static_cast<uint32_t>(request));
}

void AppendBytes(CStringBufferA& out, const char* bytes, uint32_t count) {
  if (count == 0) return;
  EnsureRoom(out, count);
  if (uint64_t{out.length} + count >= out.capacity) {
    out.Append(bytes, count);  // no room was made: Append takes the failure path
    return;
  }
  CopyBytes(out.data + out.length, bytes, count);
  out.length += count;
  out.data[out.length] = '\0';
}

// Empties a token buffer but keeps its storage, so the next token fills it without growing it
// again (Clear would give inline storage up).
void ClearText(CStringBufferA& out) {
  if (out.length != 0) {
    out.length = 0;
    out.data[0] = '\0';
  }
}

// Replaces the text of a token buffer by `count` bytes. A token almost always fits the storage
// the buffer already has, and then costs one short copy.
void SetText(CStringBufferA& out, const char* bytes, uint32_t count) {
  if (count < out.capacity) {
    CopyBytes(out.data, bytes, count);
    out.data[count] = '\0';
    out.length = count;
    return;
  }
  ClearText(out);
  AppendBytes(out, bytes, count);
}

// Moves the position past bytes of class `mask`.
void SkipRun(Lexer& lexer, uint8_t mask) {
  const char* const data = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  uint32_t position = lexer.position;
  while (position < length && HasClass(data[position], mask)) ++position;
  lexer.position = position;
}

#if defined(__SSE2__)
// Sixteen bytes at a time, where the processor has the instructions (every x86-64 one): a
// long run takes a bit per byte (bit i for byte i) and steps to the first stop. (The short
// runs, blanks and identifiers of a few bytes each, measured slower this way than byte by byte.)
constexpr uint32_t kBlockBytes = 16;

__m128i LoadBlock(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
uint32_t ByteMask(__m128i flags) { return static_cast<uint32_t>(_mm_movemask_epi8(flags)); }
__m128i Equal(__m128i block, char c) { return _mm_cmpeq_epi8(block, _mm_set1_epi8(c)); }
// The bytes of a block that end a long run: NUL, any byte from 0x80 (its high bit is its own
// mask bit), and the ASCII bytes `a`, `b` and `c`.
uint32_t RunStops(__m128i block, char a, char b, char c) {
  const __m128i ends = _mm_or_si128(_mm_or_si128(Equal(block, '\0'), Equal(block, a)),
                                    _mm_or_si128(Equal(block, b), Equal(block, c)));
  return ByteMask(block) | ByteMask(ends);
}
#endif

// SkipRun for the classes whose runs end at NUL, at any byte from 0x80, and at the ASCII bytes
// `a`, `b` and `c`: strings, quoted names and comments, the long runs of a document. Sixteen
// bytes are tested at a time where the processor can, else eight (the lowest flagged byte of a
// little-endian word is the first stop); the tail, and every byte on a big-endian machine
// without those instructions, goes through the table.
void SkipLongRun(Lexer& lexer, uint8_t mask, uint8_t a, uint8_t b, uint8_t c) {
#if defined(__SSE2__)
  {
    const char* const data = LexerText(lexer);
    const uint32_t length = LexerTextLength(lexer);
    uint32_t position = lexer.position;
    while (length - position >= kBlockBytes) {
      const uint32_t stops = RunStops(LoadBlock(data + position), static_cast<char>(a),
                                      static_cast<char>(b), static_cast<char>(c));
      if (stops != 0) {
        lexer.position = position + static_cast<uint32_t>(std::countr_zero(stops));
        return;
      }
      position += kBlockBytes;
    }
    lexer.position = position;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    const char* const data = LexerText(lexer);
    const uint32_t length = LexerTextLength(lexer);
    uint32_t position = lexer.position;
    while (length - position >= 8) {
      uint64_t word = 0;
      std::memcpy(&word, data + position, 8);
      const uint64_t stops =
          (word & kEveryByteHigh) | ZeroBytes(word) | ZeroBytes(word ^ (kEveryByteOne * a)) |
          ZeroBytes(word ^ (kEveryByteOne * b)) | ZeroBytes(word ^ (kEveryByteOne * c));
      if (stops != 0) {
        lexer.position = position + static_cast<uint32_t>(std::countr_zero(stops) / 8);
        return;
      }
      position += 8;
    }
    lexer.position = position;
  }
  SkipRun(lexer, mask);
}

void AppendByte(CStringBufferA& out, uint32_t byte) {
  EnsureRoom(out, 1);
  out.AppendChar(static_cast<char>(byte));
}

void AppendUtf8(CStringBufferA& out, uint32_t code_point) {
  char bytes[6];
  const char* end = EncodeUtf8(code_point, bytes);
  AppendBytes(out, bytes, static_cast<uint32_t>(end - bytes));
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

// The one place where a diagnostics line is formatted, and where lines become 1-based.
void AppendDiagnosticV(Lexer& lexer, uint32_t line, const char* severity, const char* format,
                       va_list args) {
  lexer.scratch.Clear(false);
  lexer.scratch.AppendFormatV(format, args);
  lexer.diagnostics.AppendFormat("%s(%u) %s: %s\n", lexer.file_name.data, line + 1, severity,
                                 lexer.scratch.data);
}

void AppendDiagnostic(Lexer& lexer, uint32_t line, const char* severity, const char* format, ...)
    QVX_PRINTF_FORMAT(4, 5);

void AppendDiagnostic(Lexer& lexer, uint32_t line, const char* severity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendDiagnosticV(lexer, line, severity, format, args);
  va_end(args);
}

// A lexing error is always reported: the token it belongs to is the one being read.
TokenKind LexError(Lexer& lexer, uint32_t line, const char* message) {
  AppendDiagnostic(lexer, line, "Error", "%s", message);
  lexer.error = true;
  return TokenKind::kError;
}

// ---------------------------------------------------------------------------------------------
// Reading

bool AtEnd(const Lexer& lexer) { return lexer.position >= LexerTextLength(lexer); }

// The byte `offset` bytes ahead of the position, or 0 past the end of the text.
uint32_t PeekByte(const Lexer& lexer, uint32_t offset = 0) {
  const uint64_t at = uint64_t{lexer.position} + offset;
  if (at >= LexerTextLength(lexer)) return 0;
  return static_cast<uint8_t>(LexerText(lexer)[at]);
}

// Reads the code point at the position and moves past it. Gives kEndOfText at the end of the
// text without moving, and kReportedError (after reporting it) for a NUL byte or an invalid
// UTF-8 sequence, which are skipped.
uint32_t ReadCodePoint(Lexer& lexer) {
  if (AtEnd(lexer)) return kEndOfText;
  const char* p = LexerText(lexer) + lexer.position;
  const auto byte = static_cast<uint8_t>(*p);
  if (byte != 0 && byte < 0x80) {
    ++lexer.position;
    return byte;
  }
  if (byte == 0) {
    ++lexer.position;
    LexError(lexer, lexer.line, "Unexpected character.");
    return kReportedError;
  }
  const Utf8Decoded decoded = DecodeUtf8(p, LexerText(lexer) + LexerTextLength(lexer));
  lexer.position += decoded.length;
  if (!decoded.valid) {
    LexError(lexer, lexer.line, "Invalid UTF-8 sequence.");
    return kReportedError;
  }
  return decoded.code_point;
}

// Four hexadecimal digits; false (stopping before the offending character) if one is missing.
bool ReadHexGroup(Lexer& lexer, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = HexValue(PeekByte(lexer));
    if (digit < 0) return false;
    ++lexer.position;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

// After "\u". U+0000 is refused: the texts are NUL-terminated and would end there.
bool ReadUnicodeEscape(Lexer& lexer, CStringBufferA& out) {
  uint32_t value = 0;
  bool valid = ReadHexGroup(lexer, value) && value != 0;
  if (valid && value >= 0xD800 && value <= 0xDBFF) {
    uint32_t low = 0;
    valid = ReadHexGroup(lexer, low) && low >= 0xDC00 && low <= 0xDFFF;
    value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
  }
  if (!valid) {
    LexError(lexer, lexer.line, "Invalid UTF escape sequence.");
    return false;
  }
  AppendUtf8(out, value);
  return true;
}

// After a backslash inside a quoted token. False when an error has been reported.
bool ReadEscape(Lexer& lexer, CStringBufferA& out, uint32_t start_line,
                const char* unterminated_message) {
  const uint32_t c = ReadCodePoint(lexer);
  switch (c) {
    case kEndOfText:
      LexError(lexer, start_line, unterminated_message);
      return false;
    case kReportedError:
      return false;
    case '"':
    case '\'':
    case '\\':
      AppendByte(out, c);
      return true;
    case 'b':
      AppendByte(out, 0x08);
      return true;
    case 'f':
      AppendByte(out, 0x0C);
      return true;
    case 'n':
      AppendByte(out, 0x0A);
      return true;
    case 'r':
      AppendByte(out, 0x0D);
      return true;
    case 't':
      AppendByte(out, 0x09);
      return true;
    case 'u':
      return ReadUnicodeEscape(lexer, out);
    case 'x': {
      const int high = HexValue(PeekByte(lexer, 0));
      const int low = HexValue(PeekByte(lexer, 1));
      if (high >= 0 && low >= 0 && (high | low) != 0) {
        lexer.position += 2;
        AppendByte(out, static_cast<uint32_t>(high * 16 + low));
        return true;
      }
      break;
    }
    default:
      break;
  }
  AppendDiagnostic(lexer, lexer.line, "warning", "%s", "Unrecognized escape sequence.");
  if (c == '\n') ++lexer.line;
  AppendUtf8(out, c);
  return true;
}

// After the opening quote of a string or an extended identifier. A raw line feed is part of
// the value and counts as a new line; an unterminated token is reported at its opening line.
TokenKind ReadQuoted(Lexer& lexer, uint32_t quote, CStringBufferA& out,
                     const char* unterminated_message, TokenKind kind) {
  const uint32_t start_line = lexer.line;
  const uint8_t run_mask = quote == '"' ? kStringRunByte : kNameRunByte;
  const auto quote_byte = static_cast<uint8_t>(quote);
  for (bool first_run = true;; first_run = false) {
    const uint32_t run_start = lexer.position;
    SkipLongRun(lexer, run_mask, quote_byte, '\\', '\n');
    const char* const run = LexerText(lexer) + run_start;
    const uint32_t run_length = lexer.position - run_start;
    if (first_run) {
      SetText(out, run, run_length);
    } else {
      AppendBytes(out, run, run_length);
    }
    if (lexer.position < LexerTextLength(lexer) &&
        static_cast<uint8_t>(LexerText(lexer)[lexer.position]) == quote) {
      ++lexer.position;  // the usual end of a run: the closing quote
      return kind;
    }

    const uint32_t c = ReadCodePoint(lexer);
    if (c == quote) return kind;
    switch (c) {
      case kEndOfText:
        return LexError(lexer, start_line, unterminated_message);
      case kReportedError:
        return TokenKind::kError;
      case '\n':
        ++lexer.line;
        AppendByte(out, c);
        break;
      case '\\':
        if (!ReadEscape(lexer, out, start_line, unterminated_message)) return TokenKind::kError;
        break;
      default:
        AppendUtf8(out, c);
        break;
    }
  }
}

uint32_t DecimalDigitCount(uint64_t value) {
  uint32_t count = 1;
  while (value >= 10) {
    value /= 10;
    ++count;
  }
  return count;
}

// Length of the text "%c%llu.%0*d%lluE%d" that NumberToDouble converts through.
uint64_t NumberTextLength(const NumberToken& number) {
  const uint64_t exponent_magnitude =
      number.exponent < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(number.exponent))
                          : static_cast<uint64_t>(number.exponent);
  return 1 + DecimalDigitCount(number.integer_part) + 1 + uint64_t{number.leading_zeros} +
         DecimalDigitCount(number.fraction) + 1 + (number.exponent < 0 ? 1 : 0) +
         DecimalDigitCount(exponent_magnitude);
}

// Digits a uint64_t always takes without overflow (10^19 - 1 < 2^64).
constexpr uint32_t kSafeDigits = 19;
// A number token of at most this many bytes always has a text short enough for NumberToDouble:
// that text adds at most 7 characters to the token's digits ("." and "E", a sign before each
// part, a 0 for an empty fraction or exponent), so the exact count is needed only beyond it.
constexpr uint32_t kShortNumberToken = kMaxNumberTextLength - 7;

// Reads a run of decimal digits from `position` into `value`. False when the value would not
// fit in 64 bits (the position is then left at the digit that overflows, as the caller fails
// the token).
bool ReadDigits(const char* data, uint32_t length, uint32_t& position, uint64_t& value) {
  const uint32_t start = position;
  uint32_t end = start;
  while (end < length && IsDigit(static_cast<uint8_t>(data[end]))) ++end;
  // The first kSafeDigits digits cannot overflow; only later ones are checked.
  const uint32_t safe_end = end - start > kSafeDigits ? start + kSafeDigits : end;
  uint64_t result = 0;
  uint32_t at = start;
  for (; at < safe_end; ++at) result = result * 10 + static_cast<uint32_t>(data[at] - '0');
  for (; at < end; ++at) {
    const auto digit = static_cast<uint32_t>(data[at] - '0');
    if (result > (UINT64_MAX - digit) / 10) {
      position = at;
      return false;
    }
    result = result * 10 + digit;
  }
  position = end;
  value = result;
  return true;
}

// After the first character c ("+", "-" or a digit). Failure gives kError and reports nothing.
TokenKind ReadNumber(Lexer& lexer, uint32_t c) {
  NumberToken& number = lexer.number;
  number = NumberToken{};
  const char* const data = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  const uint32_t token_start = lexer.position - 1;
  uint32_t position = lexer.position;
  // The byte at `at`, or 0 past the end of the text.
  const auto byte_at = [&](uint32_t at) -> uint32_t {
    return at < length ? static_cast<uint8_t>(data[at]) : 0;
  };
  if (c == '-' || c == '+') {
    number.negative = c == '-';
    if (!IsDigit(byte_at(position))) {
      lexer.position = position;
      return TokenKind::kError;
    }
  } else {
    --position;  // c is the first digit, read again with the others
  }

  uint64_t integer_part = 0;
  const bool integer_fits = ReadDigits(data, length, position, integer_part);
  lexer.position = position;
  if (!integer_fits) return TokenKind::kError;
  number.integer_part = integer_part;
  uint32_t next = byte_at(position);

  if (next == '.') {
    number.is_float = true;
    ++position;
    lexer.position = position;
    next = byte_at(position);
    if (IsDigit(next)) {
      const uint32_t fraction_start = position;
      uint64_t fraction = 0;
      const bool fraction_fits = ReadDigits(data, length, position, fraction);
      lexer.position = position;
      if (!fraction_fits) return TokenKind::kError;
      number.fraction = fraction;
      if (fraction != 0) {
        uint32_t zeros = 0;
        while (data[fraction_start + zeros] == '0') ++zeros;
        number.leading_zeros = zeros;
      }
      next = byte_at(position);
    } else if (!IsWhitespace(next) && position < length) {
      // "1." is complete before whitespace or the end of the text; "1.x" is not a number.
      return TokenKind::kError;
    }
  }

  if (next == 'e' || next == 'E') {
    number.is_float = true;
    ++position;
    next = byte_at(position);
    const bool negative_exponent = next == '-';
    if (next == '-' || next == '+') {
      ++position;
      next = byte_at(position);
    }
    lexer.position = position;
    if (!IsDigit(next)) return TokenKind::kError;
    // -2^31 is the one magnitude that fits only with a minus sign.
    const int64_t limit = negative_exponent ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    int64_t exponent = 0;
    for (; IsDigit(next); next = byte_at(position)) {
      exponent = exponent * 10 + (next - '0');
      if (exponent > limit) {
        lexer.position = position;
        return TokenKind::kError;
      }
      ++position;
    }
    lexer.position = position;
    number.exponent = static_cast<int32_t>(negative_exponent ? -exponent : exponent);
  }

  if (position - token_start > kShortNumberToken &&
      NumberTextLength(number) > kMaxNumberTextLength) {
    return TokenKind::kError;
  }
  return TokenKind::kNumber;
}

// After the first character c of an identifier.
TokenKind ReadIdentifier(Lexer& lexer, uint32_t c) {
  if (!IsIdentifierStart(c)) return LexError(lexer, lexer.line, "Invalid identifier");
  const uint32_t start = lexer.position - 1;  // c is one ASCII byte
  SkipRun(lexer, kIdentifierByte);
  const char* text = LexerText(lexer) + start;
  const uint32_t length = lexer.position - start;
  // The two keywords, without KeywordKind's walk over the token table.
  if (length == 4 && std::memcmp(text, "true", 4) == 0) return TokenKind::kTrue;
  if (length == 5 && std::memcmp(text, "false", 5) == 0) return TokenKind::kFalse;
  SetText(lexer.identifier_value, text, length);
  return TokenKind::kIdentifier;
}

// After "/". Gives kNone when a comment was skipped, otherwise the token to return.
TokenKind SkipComment(Lexer& lexer) {
  const uint32_t start_line = lexer.line;
  const uint32_t c = ReadCodePoint(lexer);
  if (c == '/') {
    for (;;) {
      SkipLongRun(lexer, kLineCommentByte, '\n', '\n', '\n');
      const uint32_t d = ReadCodePoint(lexer);
      if (d == kEndOfText) return TokenKind::kEof;
      if (d == kReportedError) return TokenKind::kError;
      if (d == '\n') {
        ++lexer.line;
        return TokenKind::kNone;
      }
    }
  }
  if (c == '*') {
    for (;;) {
      SkipLongRun(lexer, kBlockCommentByte, '\n', '*', '*');
      const uint32_t d = ReadCodePoint(lexer);
      if (d == kEndOfText) return LexError(lexer, start_line, "Unterminated comment.");
      if (d == kReportedError) return TokenKind::kError;
      if (d == '\n') {
        ++lexer.line;
      } else if (d == '*' && PeekByte(lexer) == '/') {
        ++lexer.position;
        return TokenKind::kNone;
      }
    }
  }
  if (c == kReportedError) return TokenKind::kError;
  return LexError(lexer, lexer.line, "Unexpected character.");
}

// The position after the whitespace from the lexer's position on (space, TAB, CR, LF), and in
// `line` the line there; stops at the end of the text.
uint32_t SkipBlanks(const Lexer& lexer, uint32_t& line) {
  const char* const data = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  uint32_t position = lexer.position;
  line = lexer.line;
  for (; position < length; ++position) {
    const char byte = data[position];
    if (byte == '\n') {
      ++line;
    } else if (!HasClass(byte, kSpaceByte)) {
      break;
    }
  }
  return position;
}

// The kind of a punctuation token, or kNone for any other byte.
TokenKind PunctuationKind(char c) {
  switch (c) {
    case '{':
      return TokenKind::kOpenBrace;
    case '}':
      return TokenKind::kCloseBrace;
    case '[':
      return TokenKind::kOpenBracket;
    case ']':
      return TokenKind::kCloseBracket;
    case '=':
      return TokenKind::kEquals;
    case ',':
      return TokenKind::kComma;
    case '@':
      return TokenKind::kAt;
    case '#':
      return TokenKind::kHash;
    default:
      return TokenKind::kNone;
  }
}

TokenKind Record(Lexer& lexer, TokenKind kind) {
  lexer.current_kind = kind;
  return kind;
}

}  // namespace

Lexer::Lexer() : line(0), current_kind(TokenKind::kNone), position(0), number{}, error(false) {
  diagnostics.Reserve(kDiagnosticsReserve);
}

void ResetLexer(Lexer& lexer) {
  lexer.position = 0;
  lexer.line = 0;
  lexer.current_kind = TokenKind::kNone;
  ClearText(lexer.string_value);
  ClearText(lexer.identifier_value);
  ClearText(lexer.scratch);
  ClearText(lexer.diagnostics);
  lexer.number = NumberToken{};
  lexer.error = false;
}

void SetLexerText(Lexer& lexer, const char* text, uint32_t length, bool nul_after) {
  lexer.text = text != nullptr ? text : "";
  lexer.text_length = text != nullptr ? length : 0;
  lexer.nul_after_text = text == nullptr || nul_after;
  ResetLexer(lexer);
}

void ContinueLexerText(Lexer& lexer, const char* text, uint32_t length) {
  lexer.text = text;
  lexer.text_length = length;
  lexer.nul_after_text = true;
  lexer.position = 0;
}

void ResetLexerOver(Lexer& lexer, const char* text, uint32_t length, uint32_t line) {
  SetLexerText(lexer, text, length, true);
  lexer.line = line;
}

// How far ahead of the token being read the document is asked into the cache. A document's
// pages come from the page cache in no particular physical order, so the processor's own
// stream detection starts over on every page; asked for half a kilobyte ahead, the bytes are
// there when the token reaches them (512 to 1024 bytes measured best on 200,000 objects).
constexpr uint32_t kReadAhead = 512;

TokenKind NextToken(Lexer& lexer) {
  for (;;) {
    // Whitespace between tokens is skipped in one tight loop over the bytes.
    const char* const data = LexerText(lexer);
    const uint32_t length = LexerTextLength(lexer);
    if (length - lexer.position > kReadAhead) {
      __builtin_prefetch(data + lexer.position + kReadAhead);
    }
    uint32_t line = 0;
    const uint32_t position = SkipBlanks(lexer, line);
    lexer.position = position;
    lexer.line = line;
    uint32_t c = kEndOfText;
    if (position < length && HasClass(data[position], kAsciiByte)) {
      c = static_cast<uint8_t>(data[position]);
      lexer.position = position + 1;
    } else {
      c = ReadCodePoint(lexer);
    }
    switch (c) {
      case kEndOfText:
        return Record(lexer, TokenKind::kEof);
      case kReportedError:
        return Record(lexer, TokenKind::kError);
      case '"':
        return Record(lexer, ReadQuoted(lexer, c, lexer.string_value, "Unterminated string.",
                                        TokenKind::kString));
      case '\'':
        return Record(
            lexer, ReadQuoted(lexer, c, lexer.identifier_value, "Unterminated extended identifier.",
                              TokenKind::kExtendedIdentifier));
      case '+':
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        // A malformed number is left for the caller to report, so it must not be recorded as a
        // reported error; that would silence the caller's message.
        const TokenKind kind = ReadNumber(lexer, c);
        lexer.current_kind = kind == TokenKind::kNumber ? kind : TokenKind::kNone;
        return kind;
      }
      case '{':
      case '}':
      case '[':
      case ']':
      case '=':
      case ',':
      case '@':
      case '#':
        return Record(lexer, PunctuationKind(static_cast<char>(c)));
      case '/': {
        const TokenKind kind = SkipComment(lexer);
        if (kind == TokenKind::kNone) continue;
        return Record(lexer, kind);
      }
      default:
        return Record(lexer, ReadIdentifier(lexer, c));
    }
  }
}

namespace {

// Whether the `count` bytes at `a` and at `b` are the same. Names are a few bytes long, where
// the library's compare costs more than the compare: whole words are compared, overlapping.
QVX_ALWAYS_INLINE bool SameBytes(const char* a, const char* b, uint32_t count) {
  if (count >= 8) {
    for (uint32_t i = 0; i + 8 < count; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return false;
    }
    uint64_t x, y;
    std::memcpy(&x, a + count - 8, 8);
    std::memcpy(&y, b + count - 8, 8);
    return x == y;
  }
  if (count >= 4) {
    uint32_t x1, y1, x2, y2;
    std::memcpy(&x1, a, 4);
    std::memcpy(&y1, b, 4);
    std::memcpy(&x2, a + count - 4, 4);
    std::memcpy(&y2, b + count - 4, 4);
    return x1 == y1 && x2 == y2;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Whether `line` starts with CR LF and `tabs` TABs; `room` (at least 2 + tabs) bytes may be
// read there. A line of up to six TABs is one compare of a word, where a loop would take a
// branch per byte and miss the last one whenever the depth changes.
bool LineStartsWith(const char* line, uint32_t tabs, uint32_t room) {
  constexpr uint64_t kEveryByteTab = 0x0909090909090909u;
  constexpr uint32_t kLineBreakBytes = 2;
  if constexpr (std::endian::native == std::endian::little) {
    if (tabs <= 8 - kLineBreakBytes && room >= 8) {
      uint64_t word = 0;
      std::memcpy(&word, line, 8);
      const uint64_t expected = (kEveryByteTab << 16) | 0x0A0Du;  // CR LF, then TABs
      const uint64_t mask = ~uint64_t{0} >> (8 * (8 - kLineBreakBytes - tabs));
      return ((word ^ expected) & mask) == 0;
    }
  }
  if (line[0] != '\r' || line[1] != '\n') {
    return false;
  }
  for (uint32_t i = 0; i < tabs; ++i) {
    if (line[kLineBreakBytes + i] != '\t') {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsPlainIdentifier(const char* name, uint32_t length) {
  if (length == 0 || !IsIdentifierStart(static_cast<uint8_t>(name[0])) ||
      KeywordKind(name, length) != TokenKind::kNone) {
    return false;
  }
  for (uint32_t i = 1; i < length; ++i) {
    if (!HasClass(name[i], kIdentifierByte)) {
      return false;
    }
  }
  return true;
}

bool TakeIdentifier(Lexer& lexer, const char* name, uint32_t length) {
  uint32_t line = 0;
  const uint32_t start = SkipBlanks(lexer, line);
  const char* const data = LexerText(lexer);
  const uint32_t text_length = LexerTextLength(lexer);
  if (text_length - start < length || !SameBytes(data + start, name, length)) {
    return false;
  }
  // The token must end where the name does.
  const uint32_t end = start + length;
  if (end < text_length && HasClass(data[end], kIdentifierByte)) {
    return false;
  }
  lexer.position = end;
  lexer.line = line;
  lexer.current_kind = TokenKind::kIdentifier;
  return true;
}

namespace {

// The offset of the first byte of a line's token, for a line as TakeLineToken takes it (CR LF,
// the TABs, the name and " = ", from the end of the token before it or of a trailing comment
// of plain ASCII); 0 (never such an offset) for any other line. At least one byte follows.
QVX_ALWAYS_INLINE uint32_t LineTokenStart(Lexer& lexer, uint32_t tabs, const char* name,
                                          uint32_t length) {
  const char* const data = LexerText(lexer);
  const uint32_t text_length = LexerTextLength(lexer);
  const uint32_t first = lexer.position;
  uint32_t start = first;
  // The document is asked into the cache ahead of the lines, as NextToken does.
  if (text_length - first > kReadAhead) {
    __builtin_prefetch(data + first + kReadAhead);
  }
  // The comment that gentext puts after some values (" //cClass"), when it is plain ASCII:
  // the line then starts with the CR before its line feed.
  if (text_length - start >= 3 && data[start] == ' ' && data[start + 1] == '/' &&
      data[start + 2] == '/') {
    lexer.position = start + 3;
    SkipLongRun(lexer, kLineCommentByte, '\n', '\n', '\n');
    const uint32_t line_feed = lexer.position;
    lexer.position = first;
    if (line_feed >= text_length || data[line_feed] != '\n') {
      return 0;
    }
    start = line_feed - 1;  // checked for the CR below
  }
  // CR LF, the TABs, then the name and " = " (or nothing), and the token's first byte.
  const uint64_t prefix = uint64_t{2} + tabs + (length != 0 ? uint64_t{length} + 3 : 0);
  if (uint64_t{text_length} - start < prefix + 1) {
    return 0;
  }
  if (!LineStartsWith(data + start, tabs, text_length - start)) {
    return 0;
  }
  uint32_t at = start + 2 + tabs;
  if (length != 0) {
    // The byte after the name is a space, so the identifier ends with the name.
    if (!SameBytes(data + at, name, length) || std::memcmp(data + at + length, " = ", 3) != 0) {
      return 0;
    }
    at += length + 3;
  }
  return at;
}

}  // namespace

uint32_t LineStringStart(Lexer& lexer, uint32_t tabs, const char* name, uint32_t length) {
  if (!lexer.nul_after_text) {
    return 0;
  }
  const uint32_t at = LineTokenStart(lexer, tabs, name, length);
  return at != 0 && LexerText(lexer)[at] == '"' ? at + 1 : 0;
}

uint32_t LineStringEnd(Lexer& lexer, uint32_t start) {
  const uint32_t first = lexer.position;
  lexer.position = start;
  SkipLongRun(lexer, kStringRunByte, '"', '\\', '\n');
  const uint32_t end = lexer.position;
  lexer.position = first;
  return end < LexerTextLength(lexer) && LexerText(lexer)[end] == '"' ? end : 0;
}

void TakeLineString(Lexer& lexer, uint32_t closing_quote) {
  lexer.position = closing_quote + 1;
  ++lexer.line;  // the line feed of the CR LF
  lexer.current_kind = TokenKind::kString;
}

TokenKind TakeLineToken(Lexer& lexer, uint32_t tabs, const char* name, uint32_t length) {
  const char* const data = LexerText(lexer);
  const uint32_t text_length = LexerTextLength(lexer);
  const uint32_t first = lexer.position;
  const uint32_t at = LineTokenStart(lexer, tabs, name, length);
  if (at == 0) {
    return TokenKind::kNone;
  }
  switch (data[at]) {
    case '{':
    case '}':
    case '[':
    case ']':
      lexer.position = at + 1;
      ++lexer.line;  // the line feed of the CR LF
      return Record(lexer, PunctuationKind(data[at]));
    case '"':
      break;
    default:
      return TokenKind::kNone;
  }
  // The string's first run, as ReadQuoted takes it; the token is this simple only when the run
  // ends at the closing quote.
  CStringBufferA& value = lexer.string_value;
#if defined(__SSE2__)
  // The end is found a block at a time, and a text shorter than a block goes to the token's
  // buffer as the whole block (the bytes past its end are cut off by the NUL).
  for (uint32_t block_start = at + 1; text_length - block_start >= kBlockBytes;
       block_start += kBlockBytes) {
    const __m128i block = LoadBlock(data + block_start);
    const uint32_t stops = RunStops(block, '"', '\\', '\n');
    if (stops == 0) {
      continue;
    }
    const uint32_t end = block_start + static_cast<uint32_t>(std::countr_zero(stops));
    if (data[end] != '"') {
      return TokenKind::kNone;
    }
    const uint32_t count = end - (at + 1);
    if (count < kBlockBytes && value.capacity > kBlockBytes) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(value.data), block);
      value.data[count] = '\0';
      value.length = count;
    } else {
      SetText(value, data + at + 1, count);
    }
    lexer.position = end + 1;
    ++lexer.line;  // the line feed of the CR LF
    return Record(lexer, TokenKind::kString);
  }
#endif
  lexer.position = at + 1;
  SkipLongRun(lexer, kStringRunByte, '"', '\\', '\n');
  const uint32_t end = lexer.position;
  if (end >= text_length || data[end] != '"') {
    lexer.position = first;
    return TokenKind::kNone;
  }
  SetText(value, data + at + 1, end - at - 1);
  lexer.position = end + 1;
  ++lexer.line;  // the line feed of the CR LF
  return Record(lexer, TokenKind::kString);
}

bool TakeObjectHeader(Lexer& lexer, const char* name, uint32_t length, uint64_t& number) {
  const char* const data = LexerText(lexer);
  const uint32_t text_length = LexerTextLength(lexer);
  uint32_t at = lexer.position;
  uint32_t line = lexer.line;
  if (at != 0) {
    if (text_length - at < 2 || data[at] != '\r' || data[at + 1] != '\n') {
      return false;
    }
    at += 2;
    ++line;
  }
  // The name, a space, at least one digit and the space after the digits.
  if (text_length - at < uint64_t{length} + 3 || !SameBytes(data + at, name, length) ||
      data[at + length] != ' ') {
    return false;
  }
  at += length + 1;
  // The digits as the number token reads them: a value beyond 64 bits is no number.
  uint32_t end = at;
  uint64_t value = 0;
  if (!ReadDigits(data, text_length, end, value) || end == at || end >= text_length ||
      data[end] != ' ') {
    return false;
  }
  lexer.position = end;
  lexer.line = line;
  lexer.number = NumberToken{};
  lexer.number.integer_part = value;
  lexer.current_kind = TokenKind::kNumber;
  number = value;
  return true;
}

bool TakePunctuation(Lexer& lexer, char c) {
  const TokenKind kind = PunctuationKind(c);
  uint32_t line = 0;
  const uint32_t start = SkipBlanks(lexer, line);
  if (kind == TokenKind::kNone || start >= LexerTextLength(lexer) || LexerText(lexer)[start] != c) {
    return false;
  }
  lexer.position = start + 1;
  lexer.line = line;
  lexer.current_kind = kind;
  return true;
}

void ReportError(Lexer& lexer, const char* format, ...) {
  if (lexer.current_kind == TokenKind::kError) return;
  va_list args;
  va_start(args, format);
  AppendDiagnosticV(lexer, lexer.line, "Error", format, args);
  va_end(args);
  lexer.error = true;
}

void ReportWarning(Lexer& lexer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendDiagnosticV(lexer, lexer.line, "warning", format, args);
  va_end(args);
}

const char* TokenName(TokenKind kind) {
  for (const TokenRow* row = kTokenRows; row->kind != -1; ++row) {
    if (row->kind == static_cast<int32_t>(kind)) return row->name;
  }
  return nullptr;
}

TokenKind KeywordKind(const char* text, uint32_t length) {
  if (length > kLongestKeyword) {
    return TokenKind::kNone;  // most identifiers: no row to look through
  }
  for (const TokenRow* row = kTokenRows; row->kind != -1; ++row) {
    if (row->keyword && std::strlen(row->name) == length &&
        std::memcmp(row->name, text, length) == 0) {
      return static_cast<TokenKind>(row->kind);
    }
  }
  return TokenKind::kNone;
}

TokenKind KeywordKind(const char* text) {
  if (text == nullptr) return TokenKind::kNone;
  const size_t length = std::strlen(text);
  if (length > UINT32_MAX) return TokenKind::kNone;
  return KeywordKind(text, static_cast<uint32_t>(length));
}

double NumberToDouble(const NumberToken& number) {
  if (NumberTextLength(number) > kMaxNumberTextLength) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  // The digits written out again form the exact decimal value, so a correctly rounding
  // conversion gives the nearest double. from_chars is independent of the C locale.
  char text[kMaxNumberTextLength + 1];
  char* const end = text + sizeof(text);
  char* p = std::to_chars(text, end, number.integer_part).ptr;
  *p++ = '.';
  std::memset(p, '0', number.leading_zeros);
  p += number.leading_zeros;
  // Cannot fail after the length check; the test keeps the writes visibly in bounds.
  const std::to_chars_result fraction = std::to_chars(p, end, number.fraction);
  if (fraction.ec != std::errc() || fraction.ptr == end) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  p = fraction.ptr;
  *p++ = 'E';
  p = std::to_chars(p, end, number.exponent).ptr;

  double value = 0;
  const std::from_chars_result result = std::from_chars(text, p, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range means beyond the largest double or below half the smallest: the position
    // of the first significant digit tells which.
    int64_t magnitude = int64_t{number.exponent};
    if (number.integer_part != 0) {
      magnitude += DecimalDigitCount(number.integer_part) - 1;
    } else {
      magnitude -= int64_t{number.leading_zeros} + 1;
    }
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return number.negative ? -value : value;
}

namespace {

// The end of the run of bytes from `p` that the quoted forms copy as they are: 0x20 to 0x7F,
// except '"', '\\' and, in names, '\''.
const char* PlainRunEnd(const char* p, const char* end, bool escape_single_quote) {
#if defined(__SSE2__)
  const __m128i single_quote = _mm_set1_epi8(escape_single_quote ? '\'' : '"');
  while (end - p >= kBlockBytes) {
    const __m128i block = LoadBlock(p);
    // As signed bytes, those from 0x80 are negative: below ' ' like the control characters.
    const __m128i stops =
        _mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(' ')),
                     _mm_or_si128(_mm_or_si128(Equal(block, '"'), Equal(block, '\\')),
                                  _mm_cmpeq_epi8(block, single_quote)));
    if (const uint32_t mask = ByteMask(stops); mask != 0) {
      return p + std::countr_zero(mask);
    }
    p += kBlockBytes;
  }
#endif
  for (; p < end; ++p) {
    const auto byte = static_cast<uint8_t>(*p);
    if (byte < 0x20 || byte >= 0x80 || byte == '"' || byte == '\\' ||
        (byte == '\'' && escape_single_quote)) {
      break;
    }
  }
  return p;
}

// Shared by both quoted forms; the single quote is escaped only in names.
void AppendEscaped(CStringBufferA& out, const char* text, bool escape_single_quote) {
  if (text == nullptr) return;
  const char* p = text;
  const char* const end = text + std::strlen(text);
  while (p < end) {
    const char* run = p;
    p = PlainRunEnd(p, end, escape_single_quote);
    AppendBytes(out, run, static_cast<uint32_t>(p - run));
    if (p == end) break;

    const auto byte = static_cast<uint8_t>(*p);
    if (byte < 0x80) {
      char escape[6] = {'\\', 0, 0, 0, 0, 0};
      uint32_t escape_length = 2;
      switch (byte) {
        case 0x08:
          escape[1] = 'b';
          break;
        case 0x0A:
          escape[1] = 'n';
          break;
        case 0x0C:
          escape[1] = 'f';
          break;
        case 0x0D:
          escape[1] = 'r';
          break;
        case '"':
        case '\'':
        case '\\':
          escape[1] = static_cast<char>(byte);
          break;
        default:  // other control characters, TAB included
          escape[1] = 'u';
          escape[2] = '0';
          escape[3] = '0';
          escape[4] = kUpperHexDigits[byte >> 4];
          escape[5] = kUpperHexDigits[byte & 0xF];
          escape_length = 6;
          break;
      }
      AppendBytes(out, escape, escape_length);
      ++p;
      continue;
    }

    const Utf8Decoded decoded = DecodeUtf8(p, end);
    if (decoded.valid) {
      AppendBytes(out, p, decoded.length);
    } else {
      for (uint32_t i = 0; i < decoded.length; ++i) {
        const auto raw = static_cast<uint8_t>(p[i]);
        const char escape[4] = {'\\', 'x', kUpperHexDigits[raw >> 4], kUpperHexDigits[raw & 0xF]};
        AppendBytes(out, escape, 4);
      }
    }
    p += decoded.length;
  }
}

}  // namespace

void AppendQuotedName(CStringBufferA& out, const char* name) {
  AppendByte(out, '\'');
  AppendEscaped(out, name, true);
  AppendByte(out, '\'');
}

void FormatEscapedString(CStringBufferA& out, const char* text) {
  out.Empty();
  AppendEscaped(out, text, false);
}
