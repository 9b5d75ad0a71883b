// document/lexer.h - tokens of a text document, collected diagnostics, and the quoted forms.
//
// The lexer cuts a UTF-8 text into tokens. genbin runs one over the whole document and a second
// one, reset before each value, over the text of a single value (the core types parse their
// values through it). Errors and warnings become lines "<file>(<line>) Error: <message>" in the
// lexer's diagnostics text; nothing is printed here. Lines are kept 0-based and shown 1-based,
// in one place (the diagnostics formatter). Positions are byte offsets into the source text.
//
// Every token consumes at least one byte, and at the end of the text NextToken keeps giving
// kEof, so a loop over NextToken always ends. Invalid UTF-8 and NUL bytes inside the text are
// errors, never a silent end. A token never allocates unless its text outgrows the buffers.
//
// Token grammar (bytes; "ws" is space, TAB, CR or LF; LF adds one to the line everywhere):
//
//   string       '"' { char | escape | LF } '"'          kString, text in string_value
//   ext. ident   '\'' { char | escape | LF } '\''        kExtendedIdentifier, in identifier_value
//   identifier   [A-Za-z_] [A-Za-z0-9_@]*                kIdentifier (or a keyword: true, false)
//   number       [+-]? digits ( '.' digits? )? ( [eE] [+-]? digits )?      kNumber, see below
//   comments     "//" up to LF, "/*" up to "*/"          skipped like ws
//   punctuation  { } [ ] = , @ #
//
// Escapes inside strings and extended identifiers:
//
//   \"  \'  \\  \b  \f  \n  \r  \t     the character (0x22 0x27 0x5C 0x08 0x0C 0x0A 0x0D 0x09)
//   \uXXXX                             U+XXXX (4 hex digits, any case); XXXX = 0000 is invalid
//   \uD8xx..\uDBxx followed at once    a surrogate pair (the second group must be DC00..DFFF,
//     by XXXX                          with no backslash between), giving U+10000..U+10FFFF
//   \xHH                               the raw byte HH (01..FF); lets invalid UTF-8 survive
//   \ + anything else                  warning "Unrecognized escape sequence."; the character
//                                      itself (also for \x not followed by two hex digits)
//
// A number keeps its parts, not a converted value: 1.05e3 is integer part 1, fraction 5 with
// 1 leading zero, exponent 3. The integer part and the fraction (as a decimal integer) must fit
// in 64 bits and the exponent in 32 bits, else the number fails (kError, nothing reported: the
// caller names the bad token). A number stops at the first byte that cannot continue it, which
// starts the next token: 12abc is 12, then abc.
#pragma once

#include <cstdint>

#include "foundation/string_buffer.h"

/// Kinds of tokens. The numbers are fixed: messages and callers use them.
enum class TokenKind : int32_t {
  kNone = 0,                // no token yet; also "not a keyword"
  kError = 1,               // any lexing failure
  kString = 2,              // "..."
  kNumber = 3,              // sign or digit
  kIdentifier = 4,          // letter or underscore
  kExtendedIdentifier = 5,  // '...'
  kEof = 6,                 // end of the text
  kOpenBrace = 7,           // {
  kCloseBrace = 8,          // }
  kOpenBracket = 9,         // [
  kCloseBracket = 10,       // ]
  kEquals = 11,             // =
  kComma = 12,              // ,
  kTrue = 13,               // keyword true
  kFalse = 14,              // keyword false
  kAt = 15,                 // @
  kHash = 16,               // #
};

/// The parts of the last number token. All zero before the first number.
struct NumberToken {
  bool negative;           // a leading "-"
  uint64_t integer_part;   // digits before "." or "e"
  uint64_t fraction;       // digits after "." read as an integer ("050" -> 50)
  uint32_t leading_zeros;  // zeros between "." and the first non-zero fraction digit
  int32_t exponent;        // after "e"/"E", with its sign
  bool is_float;           // a "." or an exponent was present
};

/// Tokenizer state. Fields are public in their fixed order; callers set `source` and
/// `file_name` and read the token values, the error flag and the diagnostics.
class Lexer {
 public:
  /// All buffers empty, line 0, current kind kNone; room for 1024 characters of diagnostics.
  Lexer();
  Lexer(const Lexer&) = delete;
  Lexer& operator=(const Lexer&) = delete;

  CStringBufferA source;                 // the whole text; `length` bytes are read
  const char* text = nullptr;            // a text read in place instead of source (SetLexerText)
  uint32_t text_length = 0;              // its length in bytes
  bool nul_after_text = false;           // text[text_length] is a NUL that may be read
  TStringBufferA<128> string_value;      // text of the last kString token
  TStringBufferA<128> identifier_value;  // text of the last identifier or extended identifier
  TStringBufferA<128> scratch;           // message formatting
  TStringBufferA<64> diagnostics;        // collected error and warning lines
  TStringBufferA<260> file_name;         // shown in every diagnostics line
  uint32_t line;                         // current line, 0-based
  TokenKind current_kind;                // last token; kError means "already reported"
  uint32_t position;                     // byte offset of the next unread byte in source
  NumberToken number;                    // parts of the last kNumber token
  bool error;                            // set by every reported error
};

/// The text the lexer reads: the one handed over by SetLexerText, else `source`.
inline const char* LexerText(const Lexer& lexer) {
  return lexer.text != nullptr ? lexer.text : lexer.source.data;
}
/// The length in bytes of LexerText.
inline uint32_t LexerTextLength(const Lexer& lexer) {
  return lexer.text != nullptr ? lexer.text_length : lexer.source.length;
}

/// Rewinds to the start of the source: position 0, line 0, current kind kNone; empties the
/// token values, scratch and diagnostics, clears the number and the error flag. The source text
/// and the file name are kept.
void ResetLexer(Lexer& lexer);

/// ResetLexer, with `length` bytes of `text` read in place instead of `source` from now on:
/// how a whole document is read without a copy. The text must stay unchanged and alive while
/// the lexer reads it (a null text reads as empty). `nul_after` tells that a NUL follows it,
/// which lets LineStringStart's callers read a value where it stands.
void SetLexerText(Lexer& lexer, const char* text, uint32_t length, bool nul_after = false);

/// Reads on in `text` (`length` bytes, a NUL after them) from its start: the text that was left
/// to read, from the position on, now stands at the start of `text`, with more after it. How a
/// document read a part at a time is handed over part by part; the line, the current kind, the
/// token values and the diagnostics stay as they were.
void ContinueLexerText(Lexer& lexer, const char* text, uint32_t length);

/// SetLexerText over `text`, with the line set to `line`: how a value's text is handed to the
/// value lexer. The text (typically the document lexer's string_value) must stay unchanged
/// while the value is read, must not be one of `lexer`'s own buffers, and must be followed by
/// a NUL (text[length] == 0): the value parsers of the core types also read it as a C string.
void ResetLexerOver(Lexer& lexer, const char* text, uint32_t length, uint32_t line);

/// Reads the next token and returns its kind; afterwards string_value, identifier_value or
/// number holds its content. Lexing errors are reported here and give kError; a malformed
/// number gives kError without a report, so that the caller's own message about the token
/// is the one shown. Past the end of the text every call gives kEof again.
TokenKind NextToken(Lexer& lexer);

/// True when the `length` bytes of `name` lex as one identifier token: an identifier that is
/// no keyword.
bool IsPlainIdentifier(const char* name, uint32_t length);
/// Reads the next token when it is the identifier spelled exactly `name` (`length` bytes, for
/// which IsPlainIdentifier holds) and only whitespace stands before it: position, line and
/// current kind then are those NextToken leaves, but identifier_value keeps its text (the
/// caller knows it). Otherwise reads nothing and returns false; NextToken then reads the token
/// (also one that a comment precedes).
bool TakeIdentifier(Lexer& lexer, const char* name, uint32_t length);
/// Reads the first token of a line as gentext writes it, from the end of the token before it
/// (or from the " //" of a trailing comment of plain ASCII after it): CR LF, `tabs` TABs, then
/// (when `length` is not 0) the name spelled exactly (`length` bytes, for which
/// IsPlainIdentifier holds) and " = ", then one of { } [ ] or a string with no escape, line
/// feed, NUL or byte from 0x80 in its text. Returns that token's kind, with position, line,
/// current kind and string_value as NextToken leaves them after reading the line's tokens
/// (identifier_value keeps its text). Any other line reads nothing and gives kNone; the caller
/// then reads it token by token.
TokenKind TakeLineToken(Lexer& lexer, uint32_t tabs, const char* name, uint32_t length);
/// For a line that TakeLineToken would take with a string as its token (and `name` as for it):
/// the offset of the string's first byte, just after the opening quote. Reads nothing, and
/// gives 0 (never such an offset) for any other line and when the text has no NUL after it
/// (nul_after_text): the caller may read the string's bytes up to any byte it stops at,
/// knowing that the NUL ends the text. TakeLineString then completes the line.
uint32_t LineStringStart(Lexer& lexer, uint32_t tabs, const char* name, uint32_t length);
/// The offset of the closing double quote of the string that LineStringStart found starting at
/// `start`, when no escape, line feed, NUL or byte from 0x80 comes before it: the string
/// TakeLineToken would take, whose text is the bytes from `start` up to that quote. Reads
/// nothing, and gives 0 (never such an offset) for any other string.
uint32_t LineStringEnd(Lexer& lexer, uint32_t start);
/// Reads the line whose string LineStringStart found, when that string ends at the double quote
/// at `closing_quote` with no escape, line feed, NUL or byte from 0x80 before it: position,
/// line and current kind then are those TakeLineToken leaves, but string_value keeps its text
/// (the caller has read the string where it stands).
void TakeLineString(Lexer& lexer, uint32_t closing_quote);
/// Reads the first two tokens of an object's header line as gentext writes it, from the end
/// of the token before it: CR LF (nothing at the start of the text), the class name spelled
/// exactly (`length` bytes, for which IsPlainIdentifier holds) and one space, then decimal
/// digits whose value fits in 64 bits and a space. Returns true with the digits' value in `number`,
/// and position, line, current kind and number as NextToken leaves them after reading the name and
/// the number (identifier_value keeps its text: the caller knows the name). Any other text reads
/// nothing and gives false; the caller then reads it token by token.
bool TakeObjectHeader(Lexer& lexer, const char* name, uint32_t length, uint64_t& number);
/// Reads the next token when it is the punctuation `c` (one of { } [ ] = , @ #) and only
/// whitespace stands before it, as NextToken would; otherwise reads nothing and returns false.
bool TakePunctuation(Lexer& lexer, char c);

/// Appends "<file>(<line>) Error: <message>\n" to the diagnostics and sets the error flag,
/// unless the current token is a lexing error that has already been reported (then nothing).
void ReportError(Lexer& lexer, const char* format, ...) QVX_PRINTF_FORMAT(2, 3);

/// Appends "<file>(<line>) warning: <message>\n" to the diagnostics; the error flag is kept.
void ReportWarning(Lexer& lexer, const char* format, ...) QVX_PRINTF_FORMAT(2, 3);

/// The name that messages print for a token kind ("string", "<EOF>", "{", ...), or null for a
/// value that is not a kind. kError is named "malformed number": the only kError token whose
/// error the lexer leaves to its caller to report.
const char* TokenName(TokenKind kind);

/// kTrue or kFalse when `text` is exactly that keyword (case-sensitive), else kNone.
TokenKind KeywordKind(const char* text);
TokenKind KeywordKind(const char* text, uint32_t length);

/// The correctly rounded double of the number (independent of the C locale). Values too large
/// for a double give an infinity, values too small a zero, each with the number's sign. A
/// record whose digits would not fit in 63 characters of text (the lexer never makes one)
/// gives NaN.
double NumberToDouble(const NumberToken& number);

/// Appends `name` in single quotes, escaped so that the lexer reads it back as an extended
/// identifier with the same bytes (a null name is the empty one). Escaped: \b \n \f \r, the
/// characters ' " \ with a backslash, other control characters below 0x20 (TAB too) as \uXXXX,
/// and each byte of an invalid UTF-8 sequence as \xHH; everything else is copied.
void AppendQuotedName(CStringBufferA& out, const char* name);

/// Replaces the content of `out` by `text` escaped as for AppendQuotedName, without quotes
/// and with a single quote left as it is; read between double quotes it gives `text` back.
/// `text` must not point into `out`.
void FormatEscapedString(CStringBufferA& out, const char* text);
