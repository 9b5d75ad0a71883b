// types/primitive_types.cpp - the 17 built-in primitive value types.
//
// The static instances at the end link themselves into CoreTypeList when the program starts;
// PrimitiveCoreTypeCount is this unit's link anchor (see types/core_type.h).
#include "types/primitive_types.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "document/lexer.h"
#include "foundation/name_hash.h"
#include "types/decimal_digits.h"
#include "types/float_text.h"
#include "types/quantization.h"
#include "types/type_stream.h"

namespace {

// ---- bit forms ------------------------------------------------------------------------------

// Writes an integer payload (sign-extended to 32 bits) of `width` bits (8, 16 or 32) under
// the field's mode: raw, Int or DynValInt.
bool WriteInteger(BitWriter& writer, const FieldInfo& field, int32_t value, uint32_t width) {
  switch (field.mode()) {
    case QuantizationMode::None:
      writer.Write(width, static_cast<uint32_t>(value));
      return !writer.failed;
    case QuantizationMode::Int:
      return EncodeQuantizedInt(writer, field.int_quantization, value, width);
    case QuantizationMode::DynValInt:
      return EncodeDynValInt(writer, value);
    default:
      return false;
  }
}

// Reads an integer payload of `width` bits into `value` (sign-extended from the width). A mode
// the integers do not accept touches neither the reader nor `value`.
bool ReadInteger(BitReader& reader, const FieldInfo& field, uint32_t width, int32_t& value) {
  switch (field.mode()) {
    case QuantizationMode::None: {
      const uint32_t raw = reader.Read(width);
      const uint32_t sign = width < 32 ? 1u << (width - 1) : 0u;
      const uint32_t low = width < 32 ? raw & ((1u << width) - 1u) : raw;
      value = static_cast<int32_t>((low ^ sign) - sign);
      return !reader.failed;
    }
    case QuantizationMode::Int:
      return DecodeQuantizedInt(reader, field.int_quantization, width, value);
    case QuantizationMode::DynValInt:
      return DecodeDynValInt(reader, width, value);
    default:
      return false;
  }
}

// The width ReadInteger reads for `field`; false where it reads a varying width or fails.
bool FixedIntegerWidth(const FieldInfo& field, uint32_t width, uint32_t& bits) {
  switch (field.mode()) {
    case QuantizationMode::None:
      bits = width;
      return true;
    case QuantizationMode::Int:
      bits = IntQuantizationBits(field.int_quantization);
      return IsValidIntQuantization(field.int_quantization) && bits <= 32;
    default:
      return false;
  }
}

void WriteRawFloats(BitWriter& writer, const float* components, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    writer.WriteWord(std::bit_cast<uint32_t>(components[i]));
  }
}

// A component that cannot be read is 0 (the reader yields 0 once it has failed).
void ReadRawFloats(BitReader& reader, float* components, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    components[i] = std::bit_cast<float>(reader.Read(32));
  }
}

// ---- text forms -----------------------------------------------------------------------------

bool AtEnd(Lexer& lexer) { return NextToken(lexer) == TokenKind::kEof; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Fast paths for the texts gentext writes. Each reads a plain form straight from the value's
// text and gives exactly what the lexer's number token would; any other text (a "+", spaces,
// comments, exponents, more digits than the fast arithmetic holds) goes through the lexer.

constexpr bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// How the readers below find the end of a text: by its length, or by the first byte that
// cannot continue what they read (ReadPlainPrefix's texts always go on to such a byte: a NUL
// or a closing quote), sparing a compare for every digit; the caller then looks at that byte.
// A text read through a lexer may end anywhere, so those readers go by the length.
enum class TextEnd { kLength, kStopByte };

// The position after the decimal digits from `at` on, with `digits` times ten plus each of them
// (wrapping around past 19 digits, which the callers refuse anyway).
template <TextEnd kEnd>
inline uint32_t TakeDigits(const char* text, uint32_t length, uint32_t at, uint64_t& digits) {
  for (; kEnd == TextEnd::kStopByte || at < length; ++at) {
    const uint32_t digit = static_cast<uint32_t>(static_cast<uint8_t>(text[at])) - '0';
    if (digit > 9) {
      break;
    }
    digits = digits * 10 + digit;
  }
  return at;
}

// The text from `at` to its end is "-" (optional) and 1 to 19 digits, which a 64-bit integer
// holds: the lexer would read one number token and then the end.
bool TakePlainIntegerText(const char* text, uint32_t length, uint32_t at, bool& negative,
                          uint64_t& magnitude) {
  negative = at < length && text[at] == '-';
  if (negative) {
    ++at;
  }
  const uint32_t digits = length - at;
  if (at >= length || digits > 19) {
    return false;
  }
  uint64_t value = 0;
  if (TakeDigits<TextEnd::kLength>(text, length, at, value) != length) {
    return false;
  }
  magnitude = value;
  return true;
}

// The same form from `at` up to the first byte that is no digit: the position of that byte,
// or 0 when no such integer stands at `at`.
uint32_t TakePlainIntegerPrefix(const char* text, uint32_t at, bool& negative,
                                uint64_t& magnitude) {
  negative = text[at] == '-';
  if (negative) {
    ++at;
  }
  uint64_t value = 0;
  const uint32_t end = TakeDigits<TextEnd::kStopByte>(text, 0, at, value);
  if (end == at || end - at > 19) {
    return 0;
  }
  magnitude = value;
  return end;
}

// TakePlainIntegerText for the rest of the lexer's text; moves the position to its end.
bool TakePlainInteger(Lexer& lexer, bool& negative, uint64_t& magnitude) {
  const uint32_t length = LexerTextLength(lexer);
  if (!TakePlainIntegerText(LexerText(lexer), length, lexer.position, negative, magnitude)) {
    return false;
  }
  lexer.position = length;
  return true;
}

// Reads the rest of the lexer's text with `read_plain` (a plain reader that goes by the length
// of the text) and, when it has that form, moves the position to its end: the first step of
// ParseValue for the types whose plain form is a whole text.
template <typename ReadPlain>
bool TakePlainRest(Lexer& lexer, ValueNode& value, ReadPlain&& read_plain) {
  const uint32_t length = LexerTextLength(lexer);
  if (!read_plain(LexerText(lexer) + lexer.position, length - lexer.position, value)) {
    return false;
  }
  lexer.position = length;
  return true;
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kLargestExactPower = 22;
// Digits that always give an integer below 2^53.
constexpr uint32_t kExactDigits = 15;

// A float component in the form "-ddd.dddE-dd" (sign, fraction and exponent optional; at most
// 15 digits; an exponent of one to three digits) at `at`, ending at the end of the text or at
// a ",". Its digits form an integer w below 2^53 and its value is w x 10^e; with |e| <= 22 both
// factors are exact doubles, so one multiplication or division rounds the exact value once:
// the nearest double, as from_chars gives (Clinger's fast path). False, changing nothing, for
// any other form. On success `end` is just past the number. Going by the stop byte, the
// number may be followed by anything (the caller looks at what follows).
template <TextEnd kEnd>
bool TakePlainFloat(const char* text, uint32_t length, uint32_t at, uint32_t& end, double& value) {
  // Whether `i` is within the text: always, going by the stop byte, which no test below takes.
  const auto within = [length](uint32_t i) { return kEnd == TextEnd::kStopByte || i < length; };
  const bool negative = within(at) && text[at] == '-';
  if (negative) {
    ++at;
  }
  uint64_t digits = 0;
  const uint32_t integer_start = at;
  at = TakeDigits<kEnd>(text, length, at, digits);
  if (at == integer_start) {
    return false;
  }
  uint32_t count = at - integer_start;
  int exponent = 0;
  if (within(at) && text[at] == '.') {
    const uint32_t fraction_start = ++at;
    at = TakeDigits<kEnd>(text, length, at, digits);
    if (at == fraction_start) {
      return false;
    }
    count += at - fraction_start;
    exponent = -static_cast<int>(at - fraction_start);
  }
  if (count > kExactDigits) {
    return false;
  }
  if (within(at) && (text[at] == 'E' || text[at] == 'e')) {
    ++at;
    const bool negative_exponent = within(at) && text[at] == '-';
    if (within(at) && (text[at] == '-' || text[at] == '+')) {
      ++at;
    }
    const uint32_t exponent_start = at;
    int written = 0;
    for (; within(at) && IsDecimalDigit(text[at]) && at - exponent_start < 3; ++at) {
      written = written * 10 + (text[at] - '0');
    }
    if (at == exponent_start) {
      return false;
    }
    exponent += negative_exponent ? -written : written;
  }
  if (kEnd == TextEnd::kLength && at < length && text[at] != ',') {
    return false;
  }
  if (exponent > kLargestExactPower || exponent < -kLargestExactPower) {
    return false;
  }
  const double whole = static_cast<double>(digits);
  const double magnitude =
      exponent >= 0 ? whole * kExactPowersOfTen[exponent] : whole / kExactPowersOfTen[-exponent];
  value = negative ? -magnitude : magnitude;
  end = at;
  return true;
}

// The value of an integer number in [minimum, maximum]. The whole integer part is compared,
// not its low 32 bits, so 4294967296 clamps to the maximum instead of wrapping to 0.
int32_t ClampedInteger(const NumberToken& number, int32_t minimum, int32_t maximum) {
  if (number.negative) {
    const uint64_t limit = static_cast<uint64_t>(-static_cast<int64_t>(minimum));
    return number.integer_part >= limit
               ? minimum
               : static_cast<int32_t>(-static_cast<int64_t>(number.integer_part));
  }
  return number.integer_part >= static_cast<uint64_t>(maximum)
             ? maximum
             : static_cast<int32_t>(number.integer_part);
}

// The plain integer text from `at` on, clamped.
bool TakePlainClampedInteger(const char* text, uint32_t length, uint32_t at, int32_t minimum,
                             int32_t maximum, int32_t& value) {
  NumberToken plain;
  if (!TakePlainIntegerText(text, length, at, plain.negative, plain.integer_part)) {
    return false;
  }
  value = ClampedInteger(plain, minimum, maximum);
  return true;
}

// The plain form of a cByte or cShort at `text`: an integer clamped to the payload's range.
// Returns its length, or 0 (ReadPlainPrefix).
template <typename Small>
uint32_t ReadPlainClamped(const char* text, Small& payload) {
  NumberToken plain;
  const uint32_t end = TakePlainIntegerPrefix(text, 0, plain.negative, plain.integer_part);
  if (end != 0) {
    payload = static_cast<Small>(ClampedInteger(plain, std::numeric_limits<Small>::min(),
                                                std::numeric_limits<Small>::max()));
  }
  return end;
}

// One number, clamped; nothing may follow it.
bool ParseClampedInteger(Lexer& lexer, int32_t minimum, int32_t maximum, int32_t& value) {
  const uint32_t length = LexerTextLength(lexer);
  if (TakePlainClampedInteger(LexerText(lexer), length, lexer.position, minimum, maximum, value)) {
    lexer.position = length;
    return true;
  }
  if (NextToken(lexer) != TokenKind::kNumber) {
    return false;
  }
  value = ClampedInteger(lexer.number, minimum, maximum);
  return AtEnd(lexer);
}

// One float component: a number, or one of the words INF and NAN with an optional sign. The
// lexer reads "-INF" as a malformed number, so the words are matched in the source text
// before the lexer is asked for a number (after the whitespace it would skip itself).
bool ParseFloatComponent(Lexer& lexer, float& value) {
  const char* text = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  uint32_t position = lexer.position;
  uint32_t line_feeds = 0;
  while (position < length && IsSpace(text[position])) {
    line_feeds += text[position] == '\n' ? 1 : 0;
    ++position;
  }
  if (position < length) {
    // A plain number cannot be one of the words, which begin with a letter after the sign.
    uint32_t end = 0;
    double plain = 0.0;
    if (TakePlainFloat<TextEnd::kLength>(text, length, position, end, plain)) {
      value = static_cast<float>(plain);
      lexer.position = end;
      lexer.line += line_feeds;
      return true;
    }
    if (const uint32_t matched = MatchFloatWord(text + position, value)) {
      lexer.position = position + matched;
      lexer.line += line_feeds;
      return true;
    }
  }
  if (NextToken(lexer) != TokenKind::kNumber) {
    return false;
  }
  // The token's bytes spell its exact decimal value, so from_chars reads them in place, with
  // no copy. A leading "+" is skipped (from_chars refuses it). When the span does not read
  // whole (a comment came before the token) or the value is beyond the double range,
  // NumberToDouble converts the scanned parts, with the same correctly rounded result.
  const uint32_t end = lexer.position;
  if (position < end && text[position] == '+') {
    ++position;
  }
  double read = 0.0;
  const std::from_chars_result result = std::from_chars(text + position, text + end, read);
  if (result.ec != std::errc() || result.ptr != text + end) {
    read = NumberToDouble(lexer.number);
  }
  value = static_cast<float>(read);
  return true;
}

// `count` components separated by ","; nothing may follow the last. A "," right after a
// component and the end of the text right after the last, the forms gentext writes, are taken
// without asking the lexer.
bool ParseFloats(Lexer& lexer, float* components, uint32_t count) {
  const char* const text = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  for (uint32_t i = 0; i < count; ++i) {
    if (i != 0) {
      if (lexer.position < length && text[lexer.position] == ',') {
        ++lexer.position;
      } else if (NextToken(lexer) != TokenKind::kComma) {
        return false;
      }
    }
    if (!ParseFloatComponent(lexer, components[i])) {
      return false;
    }
  }
  return lexer.position == length || AtEnd(lexer);
}

// The plain form of `count` components at `text`: plain numbers or the words, separated by ","
// and nothing else, as gentext writes them. ParseFloats reads such a text to the same
// components, taking the same steps. Returns its length, or 0 (ReadPlainPrefix).
uint32_t ReadPlainFloats(const char* text, float* components, uint32_t count) {
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (i != 0) {
      if (text[at] != ',') {
        return 0;
      }
      ++at;
    }
    uint32_t end = 0;
    double plain = 0.0;
    if (TakePlainFloat<TextEnd::kStopByte>(text, 0, at, end, plain)) {
      components[i] = static_cast<float>(plain);
      at = end;
    } else if (const uint32_t matched = MatchFloatWord(text + at, components[i])) {
      at += matched;
    } else {
      return 0;
    }
  }
  return at;
}

void FormatFloats(CStringBufferA& out, const float* components, uint32_t count) {
  out.Empty();
  AppendFloatList(out, components, count);
}

// A hash from a token that has just been read: a number gives the low 32 bits of its integer
// part (the sign is ignored), an identifier or a quoted name its NameHash.
bool HashFromToken(const Lexer& lexer, TokenKind kind, uint32_t& value) {
  switch (kind) {
    case TokenKind::kNumber:
      value = static_cast<uint32_t>(lexer.number.integer_part);
      return true;
    case TokenKind::kIdentifier:
    case TokenKind::kExtendedIdentifier:
      value = NameHash(lexer.identifier_value.data, lexer.identifier_value.length);
      return true;
    default:
      return false;
  }
}

// Appends the resolver's name for `value` in its quoted form. The text is read back through
// NameHash, so a name that does not hash to the value would change it: such a name is refused.
bool AppendResolvedName(CStringBufferA& out, const NameResolver& resolver, uint32_t value,
                        uint32_t kind) {
  if (resolver.function == nullptr) {
    return false;
  }
  const char* name = resolver.function(value, kind, resolver.context);
  if (name == nullptr || NameHash(name) != value) {
    return false;
  }
  AppendQuotedName(out, name);
  return true;
}

// The plain cBool text: just the word, no token needs reading. The compare stays within the
// text, wherever it ends.
bool ReadPlainBool(const char* text, uint32_t length, ValueNode& value) {
  if ((length == 4 && std::memcmp(text, "true", 4) == 0) ||
      (length == 5 && std::memcmp(text, "false", 5) == 0)) {
    value.payload.boolean = length == 4 ? 1 : 0;
    return true;
  }
  return false;
}

// The word at `text`; strncmp reads no further than the first byte that differs.
uint32_t ReadPlainBoolPrefix(const char* text, ValueNode& value) {
  const bool yes = std::strncmp(text, "true", 4) == 0;
  if (!yes && std::strncmp(text, "false", 5) != 0) {
    return 0;
  }
  value.payload.boolean = yes ? 1 : 0;
  return yes ? 4 : 5;
}

// The plain cInt text: its low 32 bits with its sign.
void StoreInt(bool negative, uint64_t magnitude, ValueNode& value) {
  const uint32_t low = static_cast<uint32_t>(magnitude);
  value.payload.int32 = static_cast<int32_t>(negative ? 0u - low : low);
}

bool ReadPlainInt(const char* text, uint32_t length, ValueNode& value) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!TakePlainIntegerText(text, length, 0, negative, magnitude)) {
    return false;
  }
  StoreInt(negative, magnitude, value);
  return true;
}

uint32_t ReadPlainIntPrefix(const char* text, ValueNode& value) {
  bool negative = false;
  uint64_t magnitude = 0;
  const uint32_t end = TakePlainIntegerPrefix(text, 0, negative, magnitude);
  if (end != 0) {
    StoreInt(negative, magnitude, value);
  }
  return end;
}

// The plain text of a hash as a number: its low 32 bits, the sign ignored.
bool ReadPlainHash(const char* text, uint32_t length, ValueNode& value) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!TakePlainIntegerText(text, length, 0, negative, magnitude)) {
    return false;
  }
  value.payload.word = static_cast<uint32_t>(magnitude);
  return true;
}

uint32_t ReadPlainHashPrefix(const char* text, ValueNode& value) {
  bool negative = false;
  uint64_t magnitude = 0;
  const uint32_t end = TakePlainIntegerPrefix(text, 0, negative, magnitude);
  if (end != 0) {
    value.payload.word = static_cast<uint32_t>(magnitude);
  }
  return end;
}

}  // namespace

namespace {

// Room for the decimal text of any 32-bit integer, its sign and the NUL (WriteDecimalDigits
// stores no further).
constexpr uint32_t kDecimalRoom = 12;

// Converts straight into the buffer's room after its text: no copy from a scratch array. The
// sign goes in without a branch, as in the float texts.
template <typename Integer>
void AppendInteger(CStringBufferA& out, Integer value) {
  out.ReserveForAppend(uint64_t{out.length} + kDecimalRoom);
  char* const at = out.data + out.length;
  bool negative = false;
  auto magnitude = static_cast<uint32_t>(value);
  if constexpr (std::is_signed_v<Integer>) {
    negative = value < 0;
    magnitude = negative ? 0u - magnitude : magnitude;
  }
  at[0] = '-';
  char* const end = WriteDecimalDigits(at + (negative ? 1 : 0), magnitude);
  *end = '\0';
  out.length = static_cast<uint32_t>(end - out.data);
}

}  // namespace

void FormatDecimal(CStringBufferA& out, int32_t value) {
  out.Empty();
  AppendInteger(out, value);
}

void AppendDecimal(CStringBufferA& out, uint32_t value) { AppendInteger(out, value); }

// ---- cBool ----------------------------------------------------------------------------------

bool CPrimitiveBool::WriteValue(BitWriter& writer, const FieldInfo&, const ValueNode& value) const {
  writer.Write(1, value.payload.boolean != 0 ? 1u : 0u);
  return !writer.failed;
}

bool CPrimitiveBool::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  value.payload.boolean = static_cast<uint8_t>(reader.Read(1));
  return !reader.failed;
}

bool CPrimitiveBool::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 1;
  return true;
}

uint32_t CPrimitiveBool::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainBoolPrefix(text, value);
}

bool CPrimitiveBool::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  if (TakePlainRest(lexer, value, ReadPlainBool)) {
    return true;
  }
  const TokenKind kind = NextToken(lexer);
  if (kind != TokenKind::kTrue && kind != TokenKind::kFalse) {
    return false;
  }
  value.payload.boolean = kind == TokenKind::kTrue ? 1 : 0;
  return AtEnd(lexer);
}

bool CPrimitiveBool::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  out.Refill(value.payload.boolean != 0 ? "true" : "false");
  return true;
}

// ---- cByte ----------------------------------------------------------------------------------

bool CPrimitiveByte::WriteValue(BitWriter& writer, const FieldInfo& field,
                                const ValueNode& value) const {
  return WriteInteger(writer, field, value.payload.byte, 8);
}

bool CPrimitiveByte::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  int32_t decoded = value.payload.byte;
  const bool ok = ReadInteger(reader, field, 8, decoded);
  value.payload.byte = static_cast<int8_t>(decoded);
  return ok;
}

bool CPrimitiveByte::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  return FixedIntegerWidth(field, 8, bits);
}

uint32_t CPrimitiveByte::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainClamped(text, value.payload.byte);
}

bool CPrimitiveByte::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  int32_t parsed = 0;
  if (!ParseClampedInteger(lexer, std::numeric_limits<int8_t>::min(),
                           std::numeric_limits<int8_t>::max(), parsed)) {
    return false;
  }
  value.payload.byte = static_cast<int8_t>(parsed);
  return true;
}

bool CPrimitiveByte::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  FormatDecimal(out, value.payload.byte);
  return true;
}

// ---- cShort ---------------------------------------------------------------------------------

bool CPrimitiveShort::WriteValue(BitWriter& writer, const FieldInfo& field,
                                 const ValueNode& value) const {
  return WriteInteger(writer, field, value.payload.int16, 16);
}

bool CPrimitiveShort::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  int32_t decoded = value.payload.int16;
  const bool ok = ReadInteger(reader, field, 16, decoded);
  value.payload.int16 = static_cast<int16_t>(decoded);
  return ok;
}

bool CPrimitiveShort::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  return FixedIntegerWidth(field, 16, bits);
}

uint32_t CPrimitiveShort::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainClamped(text, value.payload.int16);
}

bool CPrimitiveShort::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  int32_t parsed = 0;
  if (!ParseClampedInteger(lexer, std::numeric_limits<int16_t>::min(),
                           std::numeric_limits<int16_t>::max(), parsed)) {
    return false;
  }
  value.payload.int16 = static_cast<int16_t>(parsed);
  return true;
}

bool CPrimitiveShort::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                  CStringBufferA&) const {
  FormatDecimal(out, value.payload.int16);
  return true;
}

// ---- cInt -----------------------------------------------------------------------------------

bool CPrimitiveInt::WriteValue(BitWriter& writer, const FieldInfo& field,
                               const ValueNode& value) const {
  return WriteInteger(writer, field, value.payload.int32, 32);
}

bool CPrimitiveInt::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  return ReadInteger(reader, field, 32, value.payload.int32);
}

bool CPrimitiveInt::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  return FixedIntegerWidth(field, 32, bits);
}

uint32_t CPrimitiveInt::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainIntPrefix(text, value);
}

bool CPrimitiveInt::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  if (TakePlainRest(lexer, value, ReadPlainInt)) {
    return true;
  }
  if (NextToken(lexer) != TokenKind::kNumber) {
    return false;
  }
  // Modulo 2^32: the low 32 bits of the integer part, negated in 32-bit arithmetic.
  const uint32_t low = static_cast<uint32_t>(lexer.number.integer_part);
  value.payload.int32 = static_cast<int32_t>(lexer.number.negative ? 0u - low : low);
  return AtEnd(lexer);
}

bool CPrimitiveInt::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                CStringBufferA&) const {
  FormatDecimal(out, value.payload.int32);
  return true;
}

// ---- cHash, cStringHash, cTextID ------------------------------------------------------------

bool CPrimitiveUINT32::WriteValue(BitWriter& writer, const FieldInfo&,
                                  const ValueNode& value) const {
  writer.WriteWord(value.payload.word);
  return !writer.failed;
}

bool CPrimitiveUINT32::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  value.payload.word = reader.Read(32);
  return !reader.failed;
}

bool CPrimitiveUINT32::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 32;
  return true;
}

uint32_t CPrimitiveUINT32::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainHashPrefix(text, value);
}

bool CPrimitiveUINT32::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  if (TakePlainRest(lexer, value, ReadPlainHash)) {
    return true;
  }
  uint32_t hash = 0;
  if (!HashFromToken(lexer, NextToken(lexer), hash)) {
    return false;
  }
  value.payload.word = hash;
  return AtEnd(lexer);
}

bool CPrimitiveUINT32::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                   CStringBufferA& comment) const {
  const uint32_t word = value.payload.word;
  const NameResolver resolver = CurrentNameResolver;
  out.Empty();
  if (!AppendResolvedName(out, resolver, word, name_hash)) {
    AppendDecimal(out, word);
  }
  if (resolver.function != nullptr) {
    if (const char* text = resolver.function(word, kResolveHashComment, resolver.context)) {
      comment.Refill(text);
    }
  }
  return true;
}

// ---- cPointer -------------------------------------------------------------------------------

bool CPrimitivePointer::WriteValue(BitWriter& writer, const FieldInfo&,
                                   const ValueNode& value) const {
  writer.WriteWord(value.payload.word);
  return !writer.failed;
}

bool CPrimitivePointer::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  value.payload.word = reader.Read(32);
  return !reader.failed;
}

bool CPrimitivePointer::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 32;
  return true;
}

uint32_t CPrimitivePointer::ReadPlainPrefix(const char* text, ValueNode& value) const {
  bool negative = false;
  uint64_t magnitude = 0;
  const uint32_t end = text[0] == '@' ? TakePlainIntegerPrefix(text, 1, negative, magnitude) : 0;
  if (end != 0) {
    value.payload.word = static_cast<uint32_t>(magnitude);  // the sign is ignored
  }
  return end;
}

bool CPrimitivePointer::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  // An "@" right at the start, the form gentext writes, is taken without asking the lexer.
  if (lexer.position < LexerTextLength(lexer) && LexerText(lexer)[lexer.position] == '@') {
    ++lexer.position;
  } else if (NextToken(lexer) != TokenKind::kAt) {
    return false;
  }
  bool negative = false;
  uint64_t magnitude = 0;
  if (TakePlainInteger(lexer, negative, magnitude)) {
    value.payload.word = static_cast<uint32_t>(magnitude);  // the sign is ignored
    return true;
  }
  uint32_t id = 0;
  if (!HashFromToken(lexer, NextToken(lexer), id)) {
    return false;
  }
  value.payload.word = id;
  return AtEnd(lexer);
}

bool CPrimitivePointer::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                    CStringBufferA& comment) const {
  const uint32_t id = value.payload.word;
  const NameResolver resolver = CurrentNameResolver;
  out.Empty();
  out.AppendChar('@');
  if (!AppendResolvedName(out, resolver, id, name_hash)) {
    AppendDecimal(out, id);
  }
  const char* text = resolver.function == nullptr
                         ? nullptr
                         : resolver.function(id, kResolvePointerComment, resolver.context);
  comment.Refill(text != nullptr ? text : kExternalObjectComment);
  return true;
}

// ---- cFloat, cAngle -------------------------------------------------------------------------

bool CPrimitiveFloat::WriteValue(BitWriter& writer, const FieldInfo& field,
                                 const ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      WriteRawFloats(writer, value.payload.floats, 1);
      return !writer.failed;
    case QuantizationMode::Float:
      return EncodeQuantizedFloat(writer, field.float_quantization, value.payload.floats[0]);
    default:
      return false;
  }
}

bool CPrimitiveFloat::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      ReadRawFloats(reader, value.payload.floats, 1);
      return !reader.failed;
    case QuantizationMode::Float:
      return DecodeQuantizedFloat(reader, field.float_quantization, value.payload.floats[0]);
    default:
      return false;
  }
}

bool CPrimitiveFloat::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      bits = 32;
      return true;
    case QuantizationMode::Float:
      bits = FloatQuantizationBits(field.float_quantization);
      return IsValidFloatQuantization(field.float_quantization) && bits <= 32;
    default:
      return false;
  }
}

uint32_t CPrimitiveFloat::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainFloats(text, value.payload.floats, 1);
}

bool CPrimitiveFloat::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParseFloats(lexer, value.payload.floats, 1);
}

bool CPrimitiveFloat::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                  CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 1);
  return true;
}

// ---- cVector2 -------------------------------------------------------------------------------

bool CPrimitiveVec2::WriteValue(BitWriter& writer, const FieldInfo&, const ValueNode& value) const {
  WriteRawFloats(writer, value.payload.floats, 2);
  return !writer.failed;
}

bool CPrimitiveVec2::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  ReadRawFloats(reader, value.payload.floats, 2);
  return !reader.failed;
}

bool CPrimitiveVec2::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 2 * 32;
  return true;
}

uint32_t CPrimitiveVec2::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainFloats(text, value.payload.floats, 2);
}

bool CPrimitiveVec2::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParseFloats(lexer, value.payload.floats, 2);
}

bool CPrimitiveVec2::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 2);
  return true;
}

// ---- cVector3 -------------------------------------------------------------------------------

bool CPrimitiveVec3::WriteValue(BitWriter& writer, const FieldInfo& field,
                                const ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      WriteRawFloats(writer, value.payload.floats, 3);
      return !writer.failed;
    case QuantizationMode::Pos:
    case QuantizationMode::Scale:
    case QuantizationMode::Scale2:
      return EncodeVec3(writer, field.mode(), value.payload.floats);
    default:
      return false;
  }
}

bool CPrimitiveVec3::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      ReadRawFloats(reader, value.payload.floats, 3);
      return !reader.failed;
    case QuantizationMode::Pos:
    case QuantizationMode::Scale:
    case QuantizationMode::Scale2:
      return DecodeVec3(reader, field.mode(), value.payload.floats);
    default:
      return false;
  }
}

bool CPrimitiveVec3::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  bits = field.mode() == QuantizationMode::None ? 3 * 32 : Vec3Bits(field.mode());
  return bits != 0;  // every other mode fails in ReadValue
}

uint32_t CPrimitiveVec3::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainFloats(text, value.payload.floats, 3);
}

bool CPrimitiveVec3::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParseFloats(lexer, value.payload.floats, 3);
}

bool CPrimitiveVec3::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 3);
  return true;
}

// ---- cVector4, cColor -----------------------------------------------------------------------

bool CPrimitiveVec4::WriteValue(BitWriter& writer, const FieldInfo&, const ValueNode& value) const {
  WriteRawFloats(writer, value.payload.floats, 4);
  return !writer.failed;
}

bool CPrimitiveVec4::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  ReadRawFloats(reader, value.payload.floats, 4);
  return !reader.failed;
}

bool CPrimitiveVec4::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 4 * 32;
  return true;
}

uint32_t CPrimitiveVec4::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainFloats(text, value.payload.floats, 4);
}

bool CPrimitiveVec4::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParseFloats(lexer, value.payload.floats, 4);
}

bool CPrimitiveVec4::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 4);
  return true;
}

// ---- cQuat ----------------------------------------------------------------------------------

bool CPrimitiveQuat::WriteValue(BitWriter& writer, const FieldInfo& field,
                                const ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      WriteRawFloats(writer, value.payload.floats, 4);
      return !writer.failed;
    case QuantizationMode::Quat:
      return EncodeQuat(writer, value.payload.floats);
    default:
      return false;
  }
}

bool CPrimitiveQuat::ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      ReadRawFloats(reader, value.payload.floats, 4);
      return !reader.failed;
    case QuantizationMode::Quat:
      return DecodeQuat(reader, value.payload.floats);
    default:
      return false;
  }
}

bool CPrimitiveQuat::FixedBitWidth(const FieldInfo& field, uint32_t& bits) const {
  switch (field.mode()) {
    case QuantizationMode::None:
      bits = 4 * 32;
      return true;
    case QuantizationMode::Quat:
      bits = 4 * kQuaternionSet.bit_count;
      return true;
    default:
      return false;
  }
}

uint32_t CPrimitiveQuat::ReadPlainPrefix(const char* text, ValueNode& value) const {
  float q[4] = {};
  const uint32_t end = ReadPlainFloats(text, q, 4);
  if (end == 0) {
    return 0;
  }
  NormaliseParsedQuaternion(q);
  for (int i = 0; i < 4; ++i) {
    value.payload.floats[i] = q[i];
  }
  return end;
}

bool CPrimitiveQuat::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  float q[4] = {};
  if (!ParseFloats(lexer, q, 4)) {
    return false;
  }
  NormaliseParsedQuaternion(q);
  for (int i = 0; i < 4; ++i) {
    value.payload.floats[i] = q[i];
  }
  return true;
}

bool CPrimitiveQuat::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                 CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 4);
  return true;
}

// ---- cAxisAlignedBoundingBox ----------------------------------------------------------------

bool CPrimitiveAABBox::WriteValue(BitWriter& writer, const FieldInfo&,
                                  const ValueNode& value) const {
  WriteRawFloats(writer, value.payload.floats, 6);
  return !writer.failed;
}

bool CPrimitiveAABBox::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  ReadRawFloats(reader, value.payload.floats, 6);
  return !reader.failed;
}

bool CPrimitiveAABBox::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = 6 * 32;
  return true;
}

uint32_t CPrimitiveAABBox::ReadPlainPrefix(const char* text, ValueNode& value) const {
  return ReadPlainFloats(text, value.payload.floats, 6);
}

bool CPrimitiveAABBox::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParseFloats(lexer, value.payload.floats, 6);
}

bool CPrimitiveAABBox::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                   CStringBufferA&) const {
  FormatFloats(out, value.payload.floats, 6);
  return true;
}

// ---- cString --------------------------------------------------------------------------------

bool CPrimitiveString::WriteValue(BitWriter& writer, const FieldInfo&,
                                  const ValueNode& value) const {
  const HeapText& text = value.payload.text;
  const uint32_t length = text.Length();
  writer.WriteWord(length);
  if (length != 0) {
    writer.WriteBitString(text.text, length);
  }
  return !writer.failed;
}

bool CPrimitiveString::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  HeapText& text = value.payload.text;
  // The word only says whether a bit string follows; the bit string has its own length.
  if (reader.Read(32) == 0) {
    text.Release();
    return !reader.failed;
  }
  // The bit string is read straight into the value's text: its characters up to the first NUL
  // among them, as many as the stream holds (a string cut off by the end fails the read).
  const uint32_t length = reader.ReadVarUInt();
  const uint32_t count = std::min(length, reader.RemainingBits() / 8);
  if (reader.failed || count == 0) {
    text.Release();
    reader.failed = reader.failed || count < length;
    return !reader.failed;
  }
  if (!text.Resize(count)) {
    reader.failed = true;  // no memory for the text
    return false;
  }
  reader.ReadCharacters(text.text, count);
  text.text[count] = '\0';
  if (const char* nul = FindByte(text.text, count, '\0')) {
    const auto kept = static_cast<uint32_t>(nul - text.text);
    if (kept == 0) {
      text.Release();
    } else {
      (void)text.Resize(kept);  // a shorter length keeps the block
    }
  }
  reader.failed = count < length;
  return !reader.failed;
}

bool CPrimitiveString::SkipValue(BitReader& reader, const FieldInfo&, ValueNode&) const {
  if (reader.Read(32) != 0) {
    reader.SkipBitString();
  }
  return !reader.failed;
}

bool CPrimitiveString::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  return ParsePlainText(LexerText(lexer), LexerTextLength(lexer), value);
}

// Every text is plain: the whole text is the string, unchanged.
bool CPrimitiveString::ParsePlainText(const char* text, uint32_t length, ValueNode& value) const {
  HeapText& held = value.payload.text;
  if (length == 0) {
    held.Release();
    return true;
  }
  held.AssignBytes(text, length);
  return !held.IsEmptyHandle();
}

bool CPrimitiveString::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                   CStringBufferA&) const {
  FormatEscapedString(out, value.payload.text.text);
  return true;
}

// ---- the instances --------------------------------------------------------------------------

CPrimitiveBool CBoolType("cBool");
CPrimitiveByte CByteType("cByte");
CPrimitiveShort CShortType("cShort");
CPrimitiveInt CIntType("cInt");
CPrimitiveFloat CFloatType("cFloat");
CPrimitiveFloat CAngleType("cAngle");
CPrimitiveVec2 CVector2Type("cVector2");
CPrimitiveVec3 CVector3Type("cVector3");
CPrimitiveVec4 CVector4Type("cVector4");
CPrimitiveVec4 CColorType("cColor");
CPrimitiveQuat CQuatType("cQuat");
CPrimitiveAABBox CAxisAlignedBoundingBoxType("cAxisAlignedBoundingBox");
CPrimitiveUINT32 CHashType("cHash");
CPrimitiveUINT32 CStringHashType("cStringHash");
CPrimitiveUINT32 CTextIDType("cTextID");
CPrimitivePointer CPointerType("cPointer");
CPrimitiveString CStringType("cString");

uint32_t PrimitiveCoreTypeCount() { return kPrimitiveTypeCount; }
