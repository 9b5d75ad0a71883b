// tests/document/lexer_test.cpp - tokens, diagnostics lines, numbers and the quoted forms.
#include "document/lexer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "foundation/utf8.h"

namespace {

void SetSource(Lexer& lexer, std::string_view text) {
  lexer.source.Clear(false);
  lexer.source.Append(text.data(), static_cast<uint32_t>(text.size()));
  ResetLexer(lexer);
}

// One token as the tables write it: values in their quotes, punctuation by name.
std::string Describe(const Lexer& lexer, TokenKind kind) {
  switch (kind) {
    case TokenKind::kError:
      return "ERROR";
    case TokenKind::kString:
      return "\"" + std::string(lexer.string_value.data, lexer.string_value.length) + "\"";
    case TokenKind::kIdentifier:
      return std::string(lexer.identifier_value.data, lexer.identifier_value.length);
    case TokenKind::kExtendedIdentifier:
      return "'" + std::string(lexer.identifier_value.data, lexer.identifier_value.length) + "'";
    default:
      return TokenName(kind);
  }
}

struct Lexed {
  std::string tokens;
  std::string diagnostics;
};

// Reads tokens up to the end of the text or the first lexing error.
Lexed LexAll(std::string_view text) {
  Lexer lexer;
  lexer.file_name.Assign("doc.txt");
  SetSource(lexer, text);
  Lexed lexed;
  for (;;) {
    const TokenKind kind = NextToken(lexer);
    if (!lexed.tokens.empty()) lexed.tokens += ' ';
    lexed.tokens += Describe(lexer, kind);
    if (kind == TokenKind::kEof || kind == TokenKind::kError) break;
  }
  lexed.diagnostics.assign(lexer.diagnostics.data, lexer.diagnostics.length);
  EXPECT_EQ(lexer.error, lexed.diagnostics.find(") Error: ") != std::string::npos);
  return lexed;
}

struct LexCase {
  std::string_view input;
  const char* tokens;
  const char* diagnostics;
};

void RunLexCases(const LexCase* begin, const LexCase* end) {
  for (const LexCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(testing::Message() << "input: \"" << c->input << "\"");
    const Lexed lexed = LexAll(c->input);
    EXPECT_EQ(lexed.tokens, c->tokens);
    EXPECT_EQ(lexed.diagnostics, c->diagnostics);
  }
}

TEST(LexerTest, ReadsTokens) {
  const LexCase cases[] = {
      {"", "<EOF>", ""},
      {" \t\r\n ", "<EOF>", ""},
      {"{}[]=,@#", "{ } [ ] = , @ # <EOF>", ""},
      {"cFoo Obj_1 {\r\n\tname = \"x\"\r\n}", "cFoo Obj_1 { name = \"x\" } <EOF>", ""},
      {"Type@NAME_2", "Type@NAME_2 <EOF>", ""},
      {"_a9 A", "_a9 A <EOF>", ""},
      {"true false True FALSE truex", "true false True FALSE truex <EOF>", ""},
      {"12abc", "number abc <EOF>", ""},
      {"1.5x", "number x <EOF>", ""},
      {"a,b", "a , b <EOF>", ""},
      {"@12", "@ number <EOF>", ""},
      {"\"\"", "\"\" <EOF>", ""},
      {"''", "'' <EOF>", ""},
      {"' '", "' ' <EOF>", ""},
      {"'it''s'", "'it' 's' <EOF>", ""},
      {"\"a'b\" 'a\"b'", "\"a'b\" 'a\"b' <EOF>", ""},
      {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\" <EOF>", ""},
      {"\"tab\there\"", "\"tab\there\" <EOF>", ""},
      {"a // comment\nb", "a b <EOF>", ""},
      {"a // comment at the end", "a <EOF>", ""},
      {"a /* x\n*y*\n**/ b", "a b <EOF>", ""},
      {"a/**/b", "a b <EOF>", ""},
      {"// caf\xC3\xA9\n", "<EOF>", ""},
  };
  RunLexCases(std::begin(cases), std::end(cases));
}

TEST(LexerTest, ReadsEscapes) {
  const LexCase cases[] = {
      {R"("\"\'\\\b\f\n\r\t")", "\"\"'\\\b\f\n\r\t\" <EOF>", ""},
      {R"('\"\'\\')", "'\"'\\' <EOF>", ""},
      {R"("\u0041BC")", "\"ABC\" <EOF>", ""},
      {R"("\u00e9\u00E9")", "\"\xC3\xA9\xC3\xA9\" <EOF>", ""},
      {R"("\u0009")", "\"\t\" <EOF>", ""},
      {R"("\uD83DDE00")", "\"\xF0\x9F\x98\x80\" <EOF>", ""},
      {R"("\uDBFFDFFF")", "\"\xF4\x8F\xBF\xBF\" <EOF>", ""},
      {R"("\uDC00")", "\"\xED\xB0\x80\" <EOF>", ""},  // a lone low surrogate is kept as is
      {R"("\xC0\x80\xff")", "\"\xC0\x80\xFF\" <EOF>", ""},
      {R"('\x41\xE9')", "'A\xE9' <EOF>", ""},
      {R"("\q")", "\"q\" <EOF>", "doc.txt(1) warning: Unrecognized escape sequence.\n"},
      {R"("\x4")", "\"x4\" <EOF>", "doc.txt(1) warning: Unrecognized escape sequence.\n"},
      {R"("\x00")", "\"x00\" <EOF>", "doc.txt(1) warning: Unrecognized escape sequence.\n"},
      {"\"\\\xC3\xA9\"", "\"\xC3\xA9\" <EOF>",
       "doc.txt(1) warning: Unrecognized escape sequence.\n"},
      {"\n\"\\a\\b\\c\"", "\"a\bc\" <EOF>",
       "doc.txt(2) warning: Unrecognized escape sequence.\n"
       "doc.txt(2) warning: Unrecognized escape sequence.\n"},
      {"\"a\\\nb\" c", "\"a\nb\" c <EOF>", "doc.txt(1) warning: Unrecognized escape sequence.\n"},
  };
  RunLexCases(std::begin(cases), std::end(cases));
}

TEST(LexerTest, ReportsLexingErrors) {
  const LexCase cases[] = {
      {"a /", "a ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"/x", "ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"(", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"a;", "a ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {".5", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"\x01", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"\xC3\xA9t\xC3\xA9", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"\"abc", "ERROR", "doc.txt(1) Error: Unterminated string.\n"},
      {"\"abc\\", "ERROR", "doc.txt(1) Error: Unterminated string.\n"},
      {"'abc", "ERROR", "doc.txt(1) Error: Unterminated extended identifier.\n"},
      {"'abc\"", "ERROR", "doc.txt(1) Error: Unterminated extended identifier.\n"},
      {"\"ab\ncd", "ERROR", "doc.txt(1) Error: Unterminated string.\n"},
      {"x\n/* a\n\n", "x ERROR", "doc.txt(2) Error: Unterminated comment.\n"},
      {"/* a *", "ERROR", "doc.txt(1) Error: Unterminated comment.\n"},
      {R"("\u004")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\u00G0")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\u0000")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\uD800")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\uD800\uDC00")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\uD800D7FF")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"('\u12')", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
  };
  RunLexCases(std::begin(cases), std::end(cases));
}

TEST(LexerTest, InvalidUtf8AndNulAreErrorsWherever) {
  using namespace std::string_view_literals;
  const LexCase cases[] = {
      {"a \xC0\x80 b", "a ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"a\n}\n\xFF", "a } ERROR", "doc.txt(3) Error: Invalid UTF-8 sequence.\n"},
      {"abc\xE9", "abc ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"12\xE9", "number ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"\"ok\xED\xA0\x80\"", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"'\xF8\x88\x80\x80\x80'", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"// \xC3(\n", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"/*\n\xF4\x90\x80\x80*/", "ERROR", "doc.txt(2) Error: Invalid UTF-8 sequence.\n"},
      {"\"\\\xC3\"", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"a\0b"sv, "a ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"\"a\0b\""sv, "ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"/*\0*/"sv, "ERROR", "doc.txt(1) Error: Unexpected character.\n"},
  };
  RunLexCases(std::begin(cases), std::end(cases));
}

TEST(LexerTest, CountsLinesFromOne) {
  const LexCase cases[] = {
      {"(", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"a\nb\n(", "a b ERROR", "doc.txt(3) Error: Invalid identifier\n"},
      {"a\r\nb\r\n(", "a b ERROR", "doc.txt(3) Error: Invalid identifier\n"},
      {"/* 1\n2\n3 */ (", "ERROR", "doc.txt(3) Error: Invalid identifier\n"},
      {"// 1\n// 2\n(", "ERROR", "doc.txt(3) Error: Invalid identifier\n"},
      {"\"1\n2\" (", "\"1\n2\" ERROR", "doc.txt(2) Error: Invalid identifier\n"},
      {"'1\n2\n3' (", "'1\n2\n3' ERROR", "doc.txt(3) Error: Invalid identifier\n"},
      {"\"1\\n2\" (", "\"1\n2\" ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"a\n\n\"open\n\n", "a ERROR", "doc.txt(3) Error: Unterminated string.\n"},
  };
  RunLexCases(std::begin(cases), std::end(cases));
}

TEST(LexerTest, EndOfTextRepeatsAndPositionStopsThere) {
  Lexer lexer;
  SetSource(lexer, "a");
  EXPECT_EQ(NextToken(lexer), TokenKind::kIdentifier);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(NextToken(lexer), TokenKind::kEof);
    EXPECT_EQ(lexer.position, 1u);
  }
}

TEST(LexerTest, KeywordsLeaveTheIdentifierValueAlone) {
  Lexer lexer;
  SetSource(lexer, "name true");
  EXPECT_EQ(NextToken(lexer), TokenKind::kIdentifier);
  EXPECT_EQ(NextToken(lexer), TokenKind::kTrue);
  EXPECT_STREQ(lexer.identifier_value.data, "name");
}

// Every call either consumes input or gives the end, so a loop that ignores errors ends.
TEST(LexerTest, EveryTokenConsumesInputOnRandomBytes) {
  std::mt19937 random(7);
  const char alphabet[] = "\"'\\/*{}[]=,@#+-.eE0159azAZ_ \t\r\nux\xC3\xA9\xFF\xED\xA0\x80\x00";
  Lexer lexer;
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const size_t size = random() % 40;
    for (size_t i = 0; i < size; ++i) text += alphabet[random() % (sizeof(alphabet) - 1)];
    SCOPED_TRACE(testing::Message() << "input: \"" << text << "\"");
    SetSource(lexer, text);
    size_t calls = 0;
    for (;;) {
      const uint32_t before = lexer.position;
      const TokenKind kind = NextToken(lexer);
      ASSERT_LE(lexer.position, text.size());
      if (kind == TokenKind::kEof) break;
      ASSERT_GT(lexer.position, before);
      ASSERT_LE(++calls, text.size());
    }
  }
}

TEST(LexerTest, LongInputsStayLinearAndClean) {
  constexpr size_t kSize = 10u << 20;
  Lexer lexer;
  lexer.file_name.Assign("big.txt");

  std::string text = "\"" + std::string(kSize, 'a') + "\"";
  SetSource(lexer, text);
  ASSERT_EQ(NextToken(lexer), TokenKind::kString);
  EXPECT_EQ(lexer.string_value.length, kSize);

  // Escapes every other character: many small appends into one growing value.
  text = "'";
  for (size_t i = 0; i < kSize / 4; ++i) text += "\\tb";
  text += "'";
  SetSource(lexer, text);
  ASSERT_EQ(NextToken(lexer), TokenKind::kExtendedIdentifier);
  EXPECT_EQ(lexer.identifier_value.length, kSize / 2);

  text = std::string(kSize, 'z');
  SetSource(lexer, text);
  ASSERT_EQ(NextToken(lexer), TokenKind::kIdentifier);
  EXPECT_EQ(lexer.identifier_value.length, kSize);

  text = "\"" + std::string(kSize, 'a');
  SetSource(lexer, text);
  EXPECT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_STREQ(lexer.diagnostics.data, "big.txt(1) Error: Unterminated string.\n");

  text = "/*" + std::string(kSize, '\n');
  SetSource(lexer, text);
  EXPECT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_STREQ(lexer.diagnostics.data, "big.txt(1) Error: Unterminated comment.\n");

  text = std::string(kSize / 8, '[');
  SetSource(lexer, text);
  for (size_t i = 0; i < kSize / 8; ++i) ASSERT_EQ(NextToken(lexer), TokenKind::kOpenBracket);
  EXPECT_EQ(NextToken(lexer), TokenKind::kEof);

  text = "1" + std::string(kSize, '0');
  SetSource(lexer, text);
  EXPECT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_STREQ(lexer.diagnostics.data, "");
}

// ---------------------------------------------------------------------------------------------

TEST(LexerDiagnosticsTest, ReportsWithFileNameAndLine) {
  Lexer lexer;
  lexer.file_name.Assign("C:\\data\\world.txt");
  SetSource(lexer, "a\n\nb");
  NextToken(lexer);
  ReportWarning(lexer, "Unknown name \"%s\" for %s, using fallback.", "X", "eKind");
  EXPECT_FALSE(lexer.error);
  NextToken(lexer);
  ReportError(lexer, "Expected '=', got %s.", TokenName(TokenKind::kIdentifier));
  EXPECT_TRUE(lexer.error);
  ReportError(lexer, "%s", "");
  EXPECT_STREQ(lexer.diagnostics.data,
               "C:\\data\\world.txt(1) warning: Unknown name \"X\" for eKind, using fallback.\n"
               "C:\\data\\world.txt(3) Error: Expected '=', got identifier.\n"
               "C:\\data\\world.txt(3) Error: \n");
}

TEST(LexerDiagnosticsTest, EmptyFileNameStillGivesTheLine) {
  Lexer lexer;
  SetSource(lexer, "");
  ReportError(lexer, "Failed to parse value.");
  EXPECT_STREQ(lexer.diagnostics.data, "(1) Error: Failed to parse value.\n");
}

TEST(LexerDiagnosticsTest, ErrorAfterAReportedLexingErrorIsDropped) {
  Lexer lexer;
  lexer.file_name.Assign("f");
  SetSource(lexer, "\"open");
  ASSERT_EQ(NextToken(lexer), TokenKind::kError);
  ReportError(lexer, "Expected string, got %s.", "x");
  ReportWarning(lexer, "still shown");
  EXPECT_STREQ(lexer.diagnostics.data,
               "f(1) Error: Unterminated string.\n"
               "f(1) warning: still shown\n");
}

TEST(LexerDiagnosticsTest, MalformedNumberIsLeftForTheCallerToReport) {
  Lexer lexer;
  lexer.file_name.Assign("f");
  SetSource(lexer, "x = 1.x");
  NextToken(lexer);
  NextToken(lexer);
  const TokenKind kind = NextToken(lexer);
  ASSERT_EQ(kind, TokenKind::kError);
  EXPECT_FALSE(lexer.error);
  ReportError(lexer, "Expected string, got %s.", TokenName(kind));
  EXPECT_STREQ(lexer.diagnostics.data, "f(1) Error: Expected string, got malformed number.\n");
  EXPECT_TRUE(lexer.error);
}

TEST(LexerDiagnosticsTest, ResetRewindsAndForgetsDiagnostics) {
  Lexer lexer;
  lexer.file_name.Assign("f");
  SetSource(lexer, "a\n(");
  NextToken(lexer);
  ASSERT_EQ(NextToken(lexer), TokenKind::kError);
  ASSERT_TRUE(lexer.error);
  ResetLexer(lexer);
  EXPECT_FALSE(lexer.error);
  EXPECT_EQ(lexer.diagnostics.length, 0u);
  EXPECT_EQ(lexer.line, 0u);
  EXPECT_STREQ(lexer.file_name.data, "f");
  EXPECT_EQ(NextToken(lexer), TokenKind::kIdentifier);
  EXPECT_STREQ(lexer.identifier_value.data, "a");
}

TEST(LexerDiagnosticsTest, TokenNamesAndKeywords) {
  const struct {
    TokenKind kind;
    const char* name;
  } names[] = {
      {TokenKind::kString, "string"},
      {TokenKind::kNumber, "number"},
      {TokenKind::kIdentifier, "identifier"},
      {TokenKind::kExtendedIdentifier, "extended identifier"},
      {TokenKind::kEof, "<EOF>"},
      {TokenKind::kOpenBrace, "{"},
      {TokenKind::kCloseBrace, "}"},
      {TokenKind::kOpenBracket, "["},
      {TokenKind::kCloseBracket, "]"},
      {TokenKind::kEquals, "="},
      {TokenKind::kComma, ","},
      {TokenKind::kTrue, "true"},
      {TokenKind::kFalse, "false"},
      {TokenKind::kAt, "@"},
      {TokenKind::kHash, "#"},
      {TokenKind::kError, "malformed number"},
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    EXPECT_STREQ(TokenName(n.kind), n.name);
  }
  EXPECT_EQ(TokenName(TokenKind::kNone), nullptr);
  EXPECT_EQ(TokenName(static_cast<TokenKind>(17)), nullptr);
  EXPECT_EQ(TokenName(static_cast<TokenKind>(-1)), nullptr);

  EXPECT_EQ(KeywordKind("true"), TokenKind::kTrue);
  EXPECT_EQ(KeywordKind("false"), TokenKind::kFalse);
  EXPECT_EQ(KeywordKind("True"), TokenKind::kNone);
  EXPECT_EQ(KeywordKind("tru"), TokenKind::kNone);
  EXPECT_EQ(KeywordKind("string"), TokenKind::kNone);
  EXPECT_EQ(KeywordKind("{"), TokenKind::kNone);
  EXPECT_EQ(KeywordKind(""), TokenKind::kNone);
}

// ---------------------------------------------------------------------------------------------

struct NumberCase {
  const char* text;
  bool negative;
  uint64_t integer_part;
  uint64_t fraction;
  uint32_t leading_zeros;
  int32_t exponent;
  bool is_float;
};

TEST(LexerNumberTest, SplitsNumbersIntoParts) {
  const NumberCase cases[] = {
      {"0", false, 0, 0, 0, 0, false},
      {"1.5", false, 1, 5, 0, 0, true},
      {"-3", true, 3, 0, 0, 0, false},
      {"+7", false, 7, 0, 0, 0, false},
      {"-0", true, 0, 0, 0, 0, false},
      {"1e5", false, 1, 0, 0, 5, true},
      {"1E-005", false, 1, 0, 0, -5, true},
      {"2.5e+3", false, 2, 5, 0, 3, true},
      {"-1.05E3", true, 1, 5, 1, 3, true},
      {"1. ", false, 1, 0, 0, 0, true},
      {"1.", false, 1, 0, 0, 0, true},
      {"0.05", false, 0, 5, 1, 0, true},
      {"0.000", false, 0, 0, 0, 0, true},
      {"1.50", false, 1, 50, 0, 0, true},
      {"007", false, 7, 0, 0, 0, false},
      {"18446744073709551615", false, UINT64_MAX, 0, 0, 0, false},
      {"0.18446744073709551615", false, 0, UINT64_MAX, 0, 0, true},
      {"1e2147483647", false, 1, 0, 0, INT32_MAX, true},
      {"1e-2147483648", false, 1, 0, 0, INT32_MIN, true},
      {"1e0000000000000000005", false, 1, 0, 0, 5, true},
      // Conversion text "+0.<zeros>1E0" fits 63 characters with 57 zeros, not with 58.
      {"0.0000000000000000000000000000000000000000000000000000000001", false, 0, 1, 57, 0, true},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.text);
    Lexer lexer;
    SetSource(lexer, c.text);
    ASSERT_EQ(NextToken(lexer), TokenKind::kNumber);
    EXPECT_EQ(lexer.number.negative, c.negative);
    EXPECT_EQ(lexer.number.integer_part, c.integer_part);
    EXPECT_EQ(lexer.number.fraction, c.fraction);
    EXPECT_EQ(lexer.number.leading_zeros, c.leading_zeros);
    EXPECT_EQ(lexer.number.exponent, c.exponent);
    EXPECT_EQ(lexer.number.is_float, c.is_float);
    EXPECT_EQ(NextToken(lexer), TokenKind::kEof);
  }
}

// Too large for their fields, or not numbers at all: an unreported error token.
TEST(LexerNumberTest, RefusesNumbersThatDoNotFit) {
  const char* const cases[] = {
      "18446744073709551616",
      "18446744073709551619",
      "99999999999999999999",
      "0.18446744073709551616",
      "0.000018446744073709551619",
      "1e2147483648",
      "1e-2147483649",
      "1.x",
      "1.,",
      "1.e5",
      "-x",
      "- 1",
      "+",
      "1e",
      "1e+",
      "1ex",
      "0.00000000000000000000000000000000000000000000000000000000001",  // 58 zeros
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    Lexer lexer;
    SetSource(lexer, text);
    EXPECT_EQ(NextToken(lexer), TokenKind::kError);
    EXPECT_EQ(lexer.diagnostics.length, 0u);
    EXPECT_FALSE(lexer.error);
  }
}

double LexToDouble(const std::string& text) {
  Lexer lexer;
  SetSource(lexer, text);
  EXPECT_EQ(NextToken(lexer), TokenKind::kNumber) << text;
  return NumberToDouble(lexer.number);
}

TEST(LexerNumberTest, ConvertsToTheNearestDouble) {
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"1.05", 1.05},
      {"12", 12.0},
      {"-2.5e3", -2500.0},
      {"1E-005", 1e-5},
      {"0.1", 0.1},
      {"0.05", 0.05},
      {"1.5E+38", 1.5e38},
      {"3.40282347E+38", 3.40282347e38},
      {"1.17549435E-38", 1.17549435e-38},
      {"1.7976931348623157e308", DBL_MAX},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"18446744073709551615", 18446744073709551615.0},
      {"9007199254740993", 9007199254740992.0},                    // tie goes to even
      {"9007199254740993.00000000000000001", 9007199254740994.0},  // just above the tie
      {"1.7976931348623159e308", kInf},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1e2147483647", kInf},
      {"0.0e2147483647", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(LexToDouble(c.text), c.value);
  }
  const double tiny = LexToDouble("1e-400");
  EXPECT_EQ(tiny, 0.0);
  EXPECT_FALSE(std::signbit(tiny));
  const double negative_tiny = LexToDouble("-0.001e-2147483648");
  EXPECT_EQ(negative_tiny, 0.0);
  EXPECT_TRUE(std::signbit(negative_tiny));
  EXPECT_TRUE(std::signbit(LexToDouble("-0")));
}

TEST(LexerNumberTest, MatchesCorrectlyRoundedStrtodOnRandomDecimals) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) {
    std::string text = std::to_string(random() % 10000000000000000000ull);
    text.resize(1 + random() % text.size());
    if (random() % 2) {
      text += '.';
      text += std::to_string(random() % 10000000000000000000ull);
    }
    if (random() % 2 && text.find('.') != std::string::npos) {
      text.insert(text.find('.') + 1, std::string(random() % 15, '0'));
    }
    if (random() % 2) {
      text += 'e';
      text += std::to_string(static_cast<int>(random() % 700) - 350);
    }
    SCOPED_TRACE(text);
    EXPECT_EQ(LexToDouble(text), std::strtod(text.c_str(), nullptr));
  }
}

// Floats printed with 9 significant digits must read back to the same single-precision value.
TEST(LexerNumberTest, NineDigitFloatTextReadsBackExactly) {
  std::mt19937 random(5);
  for (int i = 0; i < 100000; ++i) {
    uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value)) continue;
    char text[64];
    std::snprintf(text, sizeof(text), "%.9G", static_cast<double>(value));
    SCOPED_TRACE(text);
    ASSERT_EQ(static_cast<float>(LexToDouble(text)), value);
  }
}

TEST(LexerNumberTest, RecordTooLongForItsTextGivesNaN) {
  NumberToken number{};
  number.integer_part = 1;
  number.fraction = 1;
  number.leading_zeros = 1000;
  EXPECT_TRUE(std::isnan(NumberToDouble(number)));
}

// ---------------------------------------------------------------------------------------------

std::string QuotedName(std::string_view name) {
  TStringBufferA<64> out;
  out.Append("x=");
  AppendQuotedName(out, std::string(name).c_str());
  return std::string(out.data, out.length).substr(2);
}

std::string EscapedString(std::string_view text) {
  TStringBufferA<64> out("old text");
  FormatEscapedString(out, std::string(text).c_str());
  return std::string(out.data, out.length);
}

TEST(LexerQuotedFormTest, EscapesAsTheLexerReads) {
  const struct {
    std::string_view text;
    const char* quoted_name;
    const char* escaped_string;
  } cases[] = {
      {"", "''", ""},
      {"Crate_B", "'Crate_B'", "Crate_B"},
      {"it's", R"('it\'s')", "it's"},
      {"say \"hi\"", R"('say \"hi\"')", R"(say \"hi\")"},
      {"C:\\dir", R"('C:\\dir')", R"(C:\\dir)"},
      {"\b\n\f\r", R"('\b\n\f\r')", R"(\b\n\f\r)"},
      {"a\tb", R"('a\u0009b')", R"(a\u0009b)"},
      {"\x01\x1F\x7F", "'\\u0001\\u001F\x7F'", "\\u0001\\u001F\x7F"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "'caf\xC3\xA9 \xF0\x9F\x98\x80'",
       "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\xE9t\xE9", R"('\xE9t\xE9')", R"(\xE9t\xE9)"},
      {"\xC0\x80", R"('\xC0\x80')", R"(\xC0\x80)"},
      {"\xED\xA0\x80z", R"('\xED\xA0\x80z')", R"(\xED\xA0\x80z)"},
      {"\xC3"
       "41",
       R"('\xC341')", R"(\xC341)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text: \"" << c.text << "\"");
    EXPECT_EQ(QuotedName(c.text), c.quoted_name);
    EXPECT_EQ(EscapedString(c.text), c.escaped_string);
  }
  TStringBufferA<64> out;
  AppendQuotedName(out, nullptr);
  EXPECT_STREQ(out.data, "''");
  FormatEscapedString(out, nullptr);
  EXPECT_STREQ(out.data, "");
}

// Reads `form` as one token of `kind` and returns its value; the form must be valid UTF-8
// without raw control characters, so that it sits on one line of a document.
std::string ReadBack(const std::string& form, TokenKind kind) {
  const char* end = form.data() + form.size();
  for (const char* p = form.data(); p < end;) {
    const Utf8Decoded decoded = DecodeUtf8(p, end);
    EXPECT_TRUE(decoded.valid);
    EXPECT_GE(decoded.code_point, 0x20u);
    p += decoded.length;
  }
  Lexer lexer;
  SetSource(lexer, form);
  EXPECT_EQ(NextToken(lexer), kind);
  EXPECT_EQ(NextToken(lexer), TokenKind::kEof);
  EXPECT_EQ(lexer.diagnostics.length, 0u);
  const CStringBufferA& value =
      kind == TokenKind::kString ? lexer.string_value : lexer.identifier_value;
  return std::string(value.data, value.length);
}

void ExpectRoundTrips(const std::string& text) {
  EXPECT_EQ(ReadBack(QuotedName(text), TokenKind::kExtendedIdentifier), text);
  EXPECT_EQ(ReadBack("\"" + EscapedString(text) + "\"", TokenKind::kString), text);
}

TEST(LexerQuotedFormTest, EveryByteRoundTrips) {
  for (int byte = 1; byte <= 255; ++byte) {
    SCOPED_TRACE(byte);
    ExpectRoundTrips(std::string(1, static_cast<char>(byte)));
    std::string text = "a";
    text += static_cast<char>(byte);
    text +=
        "\xC3\xA9"
        "0";
    ExpectRoundTrips(text);
  }
}

TEST(LexerQuotedFormTest, RandomByteStringsRoundTrip) {
  std::mt19937 random(3);
  const std::string_view pieces[] = {
      "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "'", "\"", "\\", "\\u", "\\x", "41", "\n"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) {
      if (random() % 3 == 0) {
        text += pieces[random() % std::size(pieces)];
      } else {
        text += static_cast<char>(1 + random() % 255);
      }
    }
    SCOPED_TRACE(testing::Message() << "text: \"" << text << "\"");
    ExpectRoundTrips(text);
  }
}

}  // namespace
