// tests/document/lexer_test.cpp - tokens, diagnostics lines, numbers and the quoted forms.
#include "document/lexer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/utf8.h"

namespace {

using namespace std::string_view_literals;

void SetSource(Lexer& lexer, std::string_view text) {
  lexer.source.Clear(false);
  lexer.source.Append(text.data(), static_cast<uint32_t>(text.size()));
  ResetLexer(lexer);
}

// Values in their quotes, punctuation by name, numbers as num(sign and integer part, fraction,
// leading zeros, exponent, f or i).
std::string Describe(const Lexer& lexer, TokenKind kind) {
  const CStringBufferA& id = lexer.identifier_value;
  const NumberToken& n = lexer.number;
  char number[96];
  std::snprintf(number, sizeof number, "num(%c%" PRIu64 ",%" PRIu64 ",%u,%d,%c)",
                n.negative ? '-' : '+', n.integer_part, n.fraction, n.leading_zeros, n.exponent,
                n.is_float ? 'f' : 'i');
  if (kind == TokenKind::kError) return "ERROR";
  if (kind == TokenKind::kNumber) return number;
  if (kind == TokenKind::kIdentifier) return std::string(id.data, id.length);
  if (kind == TokenKind::kExtendedIdentifier)
    return std::string("'").append(id.data, id.length).append("'");
  if (kind != TokenKind::kString) return TokenName(kind);
  return std::string("\"").append(lexer.string_value.data, lexer.string_value.length) + "\"";
}

struct LexCase {
  std::string_view input;
  const char* tokens;
  const char* diagnostics;
};

// Reads tokens up to the end of the text or the first lexing error, once from the lexer's own
// source and once in place from an exact-size copy without a terminating NUL (how genbin reads
// a mapped document), where a read past the end shows under AddressSanitizer.
void ExpectLexes(std::initializer_list<LexCase> cases) {
  for (const LexCase& c : cases) {
    for (const bool in_place : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "input: \"" << c.input << "\"" << (in_place ? " in place" : ""));
      Lexer lexer;
      lexer.file_name.Assign("doc.txt");
      const std::unique_ptr<char[]> copy(new char[c.input.size()]);
      std::memcpy(copy.get(), c.input.data(), c.input.size());
      if (in_place) {
        SetLexerText(lexer, copy.get(), static_cast<uint32_t>(c.input.size()));
      } else {
        SetSource(lexer, c.input);
      }
      std::string tokens;
      for (TokenKind kind = TokenKind::kNone;
           kind != TokenKind::kEof && kind != TokenKind::kError;) {
        kind = NextToken(lexer);
        tokens.append(tokens.empty() ? "" : " ").append(Describe(lexer, kind));
      }
      const std::string diagnostics(lexer.diagnostics.data, lexer.diagnostics.length);
      EXPECT_EQ(tokens, c.tokens);
      EXPECT_EQ(diagnostics, c.diagnostics);
      EXPECT_EQ(lexer.error, diagnostics.find(") Error: ") != std::string::npos);
    }
  }
}

TEST(LexerTest, ReadsTokens) {
  ExpectLexes({
      {"", "<EOF>", ""},
      {" \t\r\n{}[]=,@#", "{ } [ ] = , @ # <EOF>", ""},
      {"cFoo Obj_1 {\r\n\tname = \"x\"\r\n}", "cFoo Obj_1 { name = \"x\" } <EOF>", ""},
      {"Type@NAME_2 _a9 @12", "Type@NAME_2 _a9 @ num(+12,0,0,0,i) <EOF>", ""},
      {"true false True truex", "true false True truex <EOF>", ""},
      {"12abc 1.5x a,b", "num(+12,0,0,0,i) abc num(+1,5,0,0,f) x a , b <EOF>", ""},
      {"\"\" '' 'it''s'", "\"\" '' 'it' 's' <EOF>", ""},
      {"\"a'b\" 'a\"b'", "\"a'b\" 'a\"b' <EOF>", ""},
      {"\"caf\xC3\xA9\t\xF0\x9F\x98\x80\"", "\"caf\xC3\xA9\t\xF0\x9F\x98\x80\" <EOF>", ""},
      {"a // c\nb /* x\n*y*\n**/ c/**/d // caf\xC3\xA9", "a b c d <EOF>", ""},
  });
}

TEST(LexerTest, ReadsEscapes) {
  const char* const kWarning = "doc.txt(1) warning: Unrecognized escape sequence.\n";
  ExpectLexes({
      {R"("\"\'\\\b\f\n\r\t")", "\"\"'\\\b\f\n\r\t\" <EOF>", ""},
      {R"('\"\'\\')", "'\"'\\' <EOF>", ""},
      {R"("\u0041\u00e9\u00E9\u0009")", "\"A\xC3\xA9\xC3\xA9\t\" <EOF>", ""},
      {R"("\uD83DDE00\uDBFFDFFF")", "\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\" <EOF>", ""},
      {R"("\uDC00")", "\"\xED\xB0\x80\" <EOF>", ""},
      {R"("\xC0\x80\xff")", "\"\xC0\x80\xFF\" <EOF>", ""},
      {R"("\x4")", "\"x4\" <EOF>", kWarning},
      {"\"\\\xC3\xA9\"", "\"\xC3\xA9\" <EOF>", kWarning},
      {"\"a\\\nb\" c", "\"a\nb\" c <EOF>", kWarning},
      {"\n\"\\q\\b\\x00\"", "\"q\bx00\" <EOF>",
       "doc.txt(2) warning: Unrecognized escape sequence.\n"
       "doc.txt(2) warning: Unrecognized escape sequence.\n"},
  });
}

TEST(LexerTest, ReportsLexingErrorsAtTheirLine) {
  ExpectLexes({
      {"a /", "a ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"\"a\0b\""sv, "ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"/*\0*/"sv, "ERROR", "doc.txt(1) Error: Unexpected character.\n"},
      {"a;", "a ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {".5", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"\xC3\xA9t\xC3\xA9", "ERROR", "doc.txt(1) Error: Invalid identifier\n"},
      {"\"abc\\", "ERROR", "doc.txt(1) Error: Unterminated string.\n"},
      {"'abc\"", "ERROR", "doc.txt(1) Error: Unterminated extended identifier.\n"},
      {"a\n\n\"open\n\n", "a ERROR", "doc.txt(3) Error: Unterminated string.\n"},
      {"x\n/* a\n\n", "x ERROR", "doc.txt(2) Error: Unterminated comment.\n"},
      {"/* a *", "ERROR", "doc.txt(1) Error: Unterminated comment.\n"},
      {R"("\u004")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\u0000")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\uD800\uDC00")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"("\uD800D7FF")", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {R"('\u12')", "ERROR", "doc.txt(1) Error: Invalid UTF escape sequence.\n"},
      {"a \xC0\x80 b", "a ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"12\xE9", "num(+12,0,0,0,i) ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"\"ok\xED\xA0\x80\"", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"\"\\\xC3\"", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"// \xC3(\n", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
      {"/*\n\xF4\x90\x80\x80*/", "ERROR", "doc.txt(2) Error: Invalid UTF-8 sequence.\n"},
      {"a\r\nb\n}\n\xFF", "a b } ERROR", "doc.txt(4) Error: Invalid UTF-8 sequence.\n"},
      {"/* 1\n2\n3 */ // 4\n(", "ERROR", "doc.txt(4) Error: Invalid identifier\n"},
      {"'1\n2\n3' \"1\\n2\" (", "'1\n2\n3' \"1\n2\" ERROR",
       "doc.txt(3) Error: Invalid identifier\n"},
  });
}

TEST(LexerTest, LongRunsEndAtTheirFirstSpecialByteWhereverItStands) {
  // Runs inside strings, names and comments are skipped several bytes at a time, so each
  // ending byte is tried at every offset of two such steps and the tail after them; the final
  // "(" checks the line count.
  for (uint32_t k = 0; k <= 40; ++k) {
    const std::string pad(k, 'a');
    const struct {
      std::string input;
      std::string tokens;
      std::string diagnostics;
    } cases[] = {
        {"\"" + pad + "\t'\" '" + pad + "\"' (", "\"" + pad + "\t'\" '" + pad + "\"' ERROR",
         "doc.txt(1) Error: Invalid identifier\n"},
        {"\"" + pad + "\n\\n\" // " + pad + "\xC3\xA9*\n/* " + pad + "\"*\n* */ (",
         "\"" + pad + "\n\n\" ERROR", "doc.txt(4) Error: Invalid identifier\n"},
        {"'" + pad + "\n\\q' (", "'" + pad + "\nq' ERROR",
         "doc.txt(2) warning: Unrecognized escape sequence.\n"
         "doc.txt(2) Error: Invalid identifier\n"},
        {"\"" + pad + "\xFF\"", "ERROR", "doc.txt(1) Error: Invalid UTF-8 sequence.\n"},
        {"// " + pad + std::string(1, '\0') + "\n", "ERROR",
         "doc.txt(1) Error: Unexpected character.\n"},
        {"\n/* " + pad, "ERROR", "doc.txt(2) Error: Unterminated comment.\n"},
    };
    for (const auto& c : cases) {
      ExpectLexes({{c.input, c.tokens.c_str(), c.diagnostics.c_str()}});
    }
  }
}

TEST(LexerTest, EveryTokenConsumesInputOnRandomBytes) {
  std::mt19937 random(7);
  const char alphabet[] = "\"'\\/*{}[]=,@#+-.eE0159azAZ_ \t\r\nux\xC3\xA9\xFF\xED\xA0\x80\x00";
  Lexer lexer;
  for (int round = 0; round < 1000; ++round) {
    std::string text;
    const size_t size = random() % 40;
    for (size_t i = 0; i < size; ++i) text += alphabet[random() % (sizeof(alphabet) - 1)];
    SCOPED_TRACE(testing::Message() << "input: \"" << text << "\"");
    SetSource(lexer, text);
    for (size_t calls = 0;; ++calls) {
      const uint32_t before = lexer.position;
      if (NextToken(lexer) == TokenKind::kEof) break;
      ASSERT_GT(lexer.position, before);
      ASSERT_LE(lexer.position, text.size());
      ASSERT_LT(calls, text.size());
    }
    EXPECT_EQ(NextToken(lexer), TokenKind::kEof);
    EXPECT_EQ(lexer.position, text.size());
  }
}

TEST(LexerTest, LongInputsStayLinearAndClean) {
  constexpr size_t kSize = 2u << 20;
  Lexer lexer;
  lexer.file_name.Assign("big.txt");
  SetSource(lexer, std::string("\"").append(kSize, 'a').append("\""));
  ASSERT_EQ(NextToken(lexer), TokenKind::kString);
  EXPECT_EQ(lexer.string_value.length, kSize);

  std::string text = "'";
  for (size_t i = 0; i < kSize / 4; ++i) text += "\\tb";
  SetSource(lexer, text + "'");
  ASSERT_EQ(NextToken(lexer), TokenKind::kExtendedIdentifier);
  EXPECT_EQ(lexer.identifier_value.length, kSize / 2);

  SetSource(lexer, std::string("/*").append(kSize, '\n'));
  EXPECT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_STREQ(lexer.diagnostics.data, "big.txt(1) Error: Unterminated comment.\n");

  SetSource(lexer, "1" + std::string(kSize, '0'));
  EXPECT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_STREQ(lexer.diagnostics.data, "");
}

TEST(LexerTest, SplitsNumbersIntoPartsThatFit) {
  // Too large for their fields, or not numbers at all: an unreported error token.
  ExpectLexes({
      {"0 -0 +007", "num(+0,0,0,0,i) num(-0,0,0,0,i) num(+7,0,0,0,i) <EOF>", ""},
      {"1E-005 -1.05E+3", "num(+1,0,0,-5,f) num(-1,5,1,3,f) <EOF>", ""},
      {"1. 0.000 1.50", "num(+1,0,0,0,f) num(+0,0,0,0,f) num(+1,50,0,0,f) <EOF>", ""},
      {"18446744073709551615", "num(+18446744073709551615,0,0,0,i) <EOF>", ""},
      {"0.18446744073709551615", "num(+0,18446744073709551615,0,0,f) <EOF>", ""},
      {"1e2147483647 1e-2147483648", "num(+1,0,0,2147483647,f) num(+1,0,0,-2147483648,f) <EOF>",
       ""},
      {"1e0000000000000000005", "num(+1,0,0,5,f) <EOF>", ""},
      // Conversion text "+0.<zeros>1E0" fits 63 characters with 57 zeros, not with 58.
      {"0.0000000000000000000000000000000000000000000000000000000001", "num(+0,1,57,0,f) <EOF>",
       ""},
  });
  for (const char* text :
       {"0.00000000000000000000000000000000000000000000000000000000001", "18446744073709551616",
        "0.18446744073709551616", "0.000018446744073709551619", "1e2147483648", "1e-2147483649",
        "1.x", "1.e5", "- 1", "+", "1e", "1e+"}) {
    ExpectLexes({{text, "ERROR", ""}});
  }
}

TEST(LexerDiagnosticsTest, ReportsWithFileNameAndLineKeepingOnlyTheFirstError) {
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
  lexer.file_name.Clear(false);
  ResetLexer(lexer);
  EXPECT_FALSE(lexer.error);
  ReportError(lexer, "Failed to parse value.");
  EXPECT_STREQ(lexer.diagnostics.data, "(1) Error: Failed to parse value.\n");

  lexer.file_name.Assign("f");
  SetSource(lexer, "\"open");
  ASSERT_EQ(NextToken(lexer), TokenKind::kError);
  ReportError(lexer, "Expected string, got %s.", "x");
  ReportWarning(lexer, "still shown");
  EXPECT_STREQ(lexer.diagnostics.data,
               "f(1) Error: Unterminated string.\nf(1) warning: still shown\n");

  SetSource(lexer, "1.x");
  ASSERT_EQ(NextToken(lexer), TokenKind::kError);
  EXPECT_FALSE(lexer.error);
  ReportError(lexer, "Expected string, got %s.", TokenName(TokenKind::kError));
  EXPECT_STREQ(lexer.diagnostics.data, "f(1) Error: Expected string, got malformed number.\n");
  EXPECT_EQ(TokenName(static_cast<TokenKind>(17)), nullptr);
  EXPECT_EQ(KeywordKind("True"), TokenKind::kNone);
}

double LexToDouble(const std::string& text) {
  Lexer lexer;
  SetSource(lexer, text);
  EXPECT_EQ(NextToken(lexer), TokenKind::kNumber) << text;
  return NumberToDouble(lexer.number);
}

TEST(LexerNumberTest, ConvertsToTheNearestDouble) {
  const double kInf = std::numeric_limits<double>::infinity();
  // 9007199254740993 is a tie that goes to even; a digit far below it decides the other way.
  const std::pair<const char*, double> cases[] = {
      {"1.05", 1.05},
      {"-2.5e3", -2500.0},
      {"3.40282347E+38", 3.40282347e38},
      {"1.7976931348623157e308", DBL_MAX},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"18446744073709551615", 18446744073709551615.0},
      {"9007199254740993", 9007199254740992.0},
      {"9007199254740993.00000000000000001", 9007199254740994.0},
      {"1.7976931348623159e308", kInf},
      {"-1e400", -kInf},
      {"1e2147483647", kInf},
      {"0.0e2147483647", 0.0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(LexToDouble(text), value) << text;
  EXPECT_FALSE(std::signbit(LexToDouble("1e-400")));
  EXPECT_EQ(LexToDouble("-0.001e-2147483648"), 0.0);
  EXPECT_TRUE(std::signbit(LexToDouble("-0.001e-2147483648")));
  EXPECT_TRUE(std::signbit(LexToDouble("-0")));
  NumberToken too_long{false, 1, 1, 1000, 0, true};
  EXPECT_TRUE(std::isnan(NumberToDouble(too_long)));

  std::mt19937_64 random(11);
  for (int i = 0; i < 10000; ++i) {
    std::string text = std::to_string(random() % 10000000000000000000ull);
    text.resize(1 + random() % text.size());
    if (random() % 2) text += '.' + std::string(random() % 15, '0') + std::to_string(random());
    if (random() % 2) text += 'e' + std::to_string(static_cast<int>(random() % 700) - 350);
    ASSERT_EQ(LexToDouble(text), std::strtod(text.c_str(), nullptr)) << text;
  }
}

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
      {"it's \"hi\" C:\\", R"('it\'s \"hi\" C:\\')", R"(it's \"hi\" C:\\)"},
      {"\b\n\f\r\t", R"('\b\n\f\r\u0009')", R"(\b\n\f\r\u0009)"},
      {"\x01\x1F\x7F", "'\\u0001\\u001F\x7F'", "\\u0001\\u001F\x7F"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "'caf\xC3\xA9 \xF0\x9F\x98\x80'",
       "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\xE9t\xC0\x80\xED\xA0\x80z", R"('\xE9t\xC0\x80\xED\xA0\x80z')",
       R"(\xE9t\xC0\x80\xED\xA0\x80z)"},
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

// Both quoted forms of `text` must be valid UTF-8 without raw control characters, so that they
// sit on one line of a document, and read back as one token holding `text`.
void ExpectRoundTrips(const std::string& text) {
  for (const TokenKind kind : {TokenKind::kExtendedIdentifier, TokenKind::kString}) {
    const bool string = kind == TokenKind::kString;
    const std::string form =
        string ? std::string("\"").append(EscapedString(text)).append("\"") : QuotedName(text);
    for (const char* p = form.data(); p < form.data() + form.size();) {
      const Utf8Decoded decoded = DecodeUtf8(p, form.data() + form.size());
      ASSERT_TRUE(decoded.valid) << form;
      ASSERT_GE(decoded.code_point, 0x20u) << form;
      p += decoded.length;
    }
    Lexer lexer;
    SetSource(lexer, form);
    EXPECT_EQ(NextToken(lexer), kind);
    EXPECT_EQ(NextToken(lexer), TokenKind::kEof);
    EXPECT_EQ(lexer.diagnostics.length, 0u);
    const CStringBufferA& value = string ? lexer.string_value : lexer.identifier_value;
    EXPECT_EQ(std::string(value.data, value.length), text);
  }
}

TEST(LexerQuotedFormTest, EveryByteAndRandomByteStringsRoundTrip) {
  for (int byte = 1; byte <= 255; ++byte) {
    SCOPED_TRACE(byte);
    ExpectRoundTrips(std::string(1, static_cast<char>(byte)));
    ExpectRoundTrips(std::string("a")
                         .append(1, static_cast<char>(byte))
                         .append("\xC3\xA9"
                                 "0"));
  }
  std::mt19937 random(3);
  const std::string_view pieces[] = {
      "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "'", "\"", "\\", "\\u", "\\x", "41", "\n"};
  for (int round = 0; round < 800; ++round) {
    std::string text;
    for (int i = static_cast<int>(random() % 24); i > 0; --i) {
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

// Plain text is copied a block at a time: every byte that needs a different form must be found
// wherever it stands, in the first or second block or in the tail after them, and only there.
TEST(LexerQuotedFormTest, EachSpecialByteIsEscapedAtEveryOffset) {
  const char specials[] = {'\x01', '\t',   '\n',   '\x1F', '"',   '\'',
                           '\\',   '\x7F', '\x80', '\xC3', '\xFF'};
  for (const char special : specials) {
    CStringBufferA alone;
    FormatEscapedString(alone, std::string(1, special).c_str());
    CStringBufferA alone_in_name;
    AppendQuotedName(alone_in_name, std::string(1, special).c_str());
    for (uint32_t before = 0; before <= 40; ++before) {
      for (const uint32_t after : {0u, 1u, 7u, 16u, 23u}) {
        SCOPED_TRACE(testing::Message() << "byte " << int{static_cast<uint8_t>(special)}
                                        << " after " << before << " plain bytes");
        const std::string head(before, 'a');
        const std::string tail(after, '~');
        CStringBufferA string_form;
        FormatEscapedString(string_form, (head + special + tail).c_str());
        EXPECT_EQ(std::string(string_form.data, string_form.length),
                  head + std::string(alone.data, alone.length) + tail);
        CStringBufferA name_form;
        AppendQuotedName(name_form, (head + special + tail).c_str());
        const std::string quoted_alone(alone_in_name.data + 1, alone_in_name.length - 2);
        EXPECT_EQ(std::string(name_form.data, name_form.length),
                  "'" + head + quoted_alone + tail + "'");
      }
    }
  }
}

TEST(LexerTest, PlainIdentifiersAreNamesThatLexAsOneIdentifier) {
  for (const char* name : {"Count", "_x", "a1@b_2", "True", "falsehood"}) {
    EXPECT_TRUE(IsPlainIdentifier(name, static_cast<uint32_t>(std::strlen(name)))) << name;
  }
  for (const char* name : {"", "true", "false", "2abc", "a-b", "a b", "@a", "x\xC3\xA9"}) {
    EXPECT_FALSE(IsPlainIdentifier(name, static_cast<uint32_t>(std::strlen(name)))) << name;
  }
}

// TakeIdentifier and TakePunctuation read exactly the token NextToken would read when it is
// the one asked for, with the same position, line and kind, and read nothing otherwise.
TEST(LexerTest, TakingAnExpectedTokenIsNextTokenOrNothing) {
  const struct {
    const char* text;
    const char* name;  // an identifier to take, or null for the punctuation below
    char punctuation;
    bool taken;
  } cases[] = {
      {"Count = 1", "Count", 0, true},
      {" \t\r\n\n  Count\n", "Count", 0, true},
      {"Count", "Count", 0, true},
      {"Count_2@x", "Count_2@x", 0, true},
      {"Counter", "Count", 0, false},
      {"Count2", "Count", 0, false},
      {"Coun", "Count", 0, false},
      {"count", "Count", 0, false},
      {"// note\nCount", "Count", 0, false},
      {"'Count'", "Count", 0, false},
      {"", "Count", 0, false},
      {"\n = \"x\"", nullptr, '=', true},
      {"}", nullptr, '}', true},
      {"\t[", nullptr, '[', true},
      {"x", nullptr, '=', false},
      {"/**/=", nullptr, '=', false},
      {"", nullptr, '=', false},
      {"a", nullptr, 'a', false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "<" << c.text << ">");
    Lexer taking;
    taking.source.Assign(c.text);
    ResetLexer(taking);
    taking.identifier_value.Assign("before");
    Lexer reading;
    reading.source.Assign(c.text);
    ResetLexer(reading);
    const bool taken =
        c.name != nullptr
            ? TakeIdentifier(taking, c.name, static_cast<uint32_t>(std::strlen(c.name)))
            : TakePunctuation(taking, c.punctuation);
    ASSERT_EQ(taken, c.taken);
    if (!taken) {
      EXPECT_EQ(taking.position, 0u);
      EXPECT_EQ(taking.line, 0u);
      EXPECT_EQ(taking.current_kind, TokenKind::kNone);
      continue;
    }
    const TokenKind kind = NextToken(reading);
    EXPECT_EQ(taking.current_kind, kind);
    EXPECT_EQ(taking.position, reading.position);
    EXPECT_EQ(taking.line, reading.line);
    EXPECT_STREQ(taking.identifier_value.data, "before");
    if (c.name != nullptr) {
      EXPECT_EQ(kind, TokenKind::kIdentifier);
      EXPECT_STREQ(reading.identifier_value.data, c.name);
    }
    EXPECT_FALSE(taking.error);
    EXPECT_EQ(taking.diagnostics.length, 0u);
  }
}

// TakeLineToken reads a line as gentext writes it exactly as the tokens it stands for read (the
// name, "=" and the value's first token, or that token alone), and reads nothing from any other
// line. The text is an exact-size copy without a terminating NUL, so a read past its end shows
// under AddressSanitizer.
TEST(LexerTest, TakingALineIsReadingItsTokensOrNothing) {
  std::mt19937 rng(77);
  const std::string plain = "abcxyzABC 0123456789.,-+_@'\t~{}[]=/*";
  const auto random_text = [&](uint32_t length) {
    std::string text;
    for (uint32_t i = 0; i < length; ++i) text += plain[rng() % plain.size()];
    return text;
  };
  struct Line {
    std::string text;
    uint32_t tabs;
    const char* name;  // null for an element's line
    bool taken;        // what gentext's form of the line must give
  };
  std::vector<Line> lines;
  for (uint32_t length = 0; length <= 40; ++length) {
    const std::string value = random_text(length);
    for (const char* after : {"", "\r\n", "\r\n\tNext = \"1\"\r\n}\r\n"}) {
      lines.push_back({"\r\n\tHealth = \"" + value + "\"" + after, 1, "Health", true});
      lines.push_back({"\r\n\t\t\t\"" + value + "\"" + after, 3, nullptr, true});
    }
    // A byte that ends the string's first run, at every offset of the value.
    for (const char* stop : {"\\n", "\\\\", "\xC3\xA9", "\n"}) {
      std::string stopped = value;
      stopped.insert(rng() % (length + 1), stop);
      lines.push_back({"\r\n\tHealth = \"" + stopped + "\"\r\n}", 1, "Health", false});
    }
    lines.push_back({"\r\n\tHealth = \"" + value, 1, "Health", false});  // unterminated
  }
  // Lines with braces and brackets, and after trailing comments, that are taken; then lines
  // that are not.
  const Line fixed[] = {
      {"\r\n\tCounts = [\r\n", 1, "Counts", true},
      {"\r\n\t\tSettings = {", 2, "Settings", true},
      {"\r\n}", 0, nullptr, true},
      {"\r\n\t]\r\n\tNext", 1, nullptr, true},
      {"\r\n\t{", 1, nullptr, true},
      {"\r\n\tCounts = ]", 1, "Counts", true},
      {" //cObject\r\n\tOwner = \"@1\"", 1, "Owner", true},
      {" //\r\n}", 0, nullptr, true},
      {" // x = \"y\" /* z\r\n\t]", 1, nullptr, true},
      {"\n\tHealth = \"1\"", 1, "Health", false},
      {"\r\n\t\tHealth = \"1\"", 1, "Health", false},
      {"\r\nHealth = \"1\"", 1, "Health", false},
      {"\r\n\tHealth2 = \"1\"", 1, "Health", false},
      {"\r\n\tHealth  = \"1\"", 1, "Health", false},
      {"\r\n\tHealth = 1", 1, "Health", false},
      {"\r\n\tHealth = =", 1, "Health", false},
      {"\r\n\tHealt = \"1\"", 1, "Health", false},
      {" \r\n\tHealth = \"1\"", 1, "Health", false},
      {"\r\n\t/**/Health = \"1\"", 1, "Health", false},
      {"\r\n\t\"1\"", 1, "Health", false},
      {"\r\n\tHealth = \"1\"", 1, nullptr, false},
      {"\r\n\t\t{", 1, nullptr, false},
      {"\r\n\t=", 1, nullptr, false},
      {"\r\n\tCounts = 'x'", 1, "Counts", false},
      {"\r\n\tx", 1, nullptr, false},
      {"\r\n\tHealth = \"", 1, "Health", false},
      {"\r\n\tHeal", 1, "Health", false},
      {"", 0, nullptr, false},
      {"\r", 0, nullptr, false},
      {" //c\xC3\xA9\r\n\tOwner = \"1\"", 1, "Owner", false},
      {" //x\n\tOwner = \"1\"", 1, "Owner", false},
      {"  //x\r\n\tOwner = \"1\"", 1, "Owner", false},
      {" /*x*/\r\n\tOwner = \"1\"", 1, "Owner", false},
      {" //x", 1, nullptr, false},
      {" //\n}", 0, nullptr, false},
      {" //x\r\n\t\tOwner = \"1\"", 1, "Owner", false},
  };
  lines.insert(lines.end(), std::begin(fixed), std::end(fixed));
  // Lines of every depth around a word of CR LF and TABs: one TAB too few or too many, a TAB
  // that is a space, the line break turned round; short lines and lines with more after them.
  for (uint32_t tabs = 0; tabs <= 9; ++tabs) {
    for (const char* after : {"", "\r\n\t\t\t\t\t\t\t\t\t\t}"}) {
      const std::string indent(tabs, '\t');
      lines.push_back({"\r\n" + indent + "{" + after, tabs, nullptr, true});
      lines.push_back({"\r\n" + indent + "\t{" + after, tabs, nullptr, false});
      lines.push_back({"\n\r" + indent + "{" + after, tabs, nullptr, false});
      if (tabs != 0) {
        lines.push_back({"\r\n" + indent.substr(1) + "{" + after, tabs, nullptr, false});
      }
      for (uint32_t i = 0; i < tabs; ++i) {
        std::string spaced = indent;
        spaced[i] = ' ';
        lines.push_back({"\r\n" + spaced + "{" + after, tabs, nullptr, false});
      }
    }
  }

  for (const Line& line : lines) {
    for (const bool roomy : {false, true}) {
      SCOPED_TRACE(testing::Message() << "<" << line.text << "> roomy " << roomy);
      const auto copy = std::make_unique<char[]>(line.text.size() + 1);
      std::memcpy(copy.get(), line.text.data(), line.text.size());
      const auto size = static_cast<uint32_t>(line.text.size());
      Lexer taking;
      SetLexerText(taking, copy.get(), size);
      // The token buffer with and without room for a whole block.
      taking.string_value.Assign(roomy ? "a value long enough for a block of text" : "x");
      taking.identifier_value.Assign("before");
      const uint32_t name_length = line.name != nullptr ? std::strlen(line.name) : 0;
      const TokenKind taken_kind = TakeLineToken(taking, line.tabs, line.name, name_length);
      const bool taken = taken_kind != TokenKind::kNone;
      ASSERT_EQ(taken, line.taken);
      // Read in place (the copy has a NUL after it): a line taken with a string has its text
      // found where the token's text starts, LineStringEnd finds its closing quote, and
      // TakeLineString there reads the line as TakeLineToken did. Other lines may start a
      // string that is not plain (LineStringEnd finds no end), never anything else. Without the
      // NUL declared, no line is read in place.
      Lexer placing;
      SetLexerText(placing, copy.get(), size, true);
      const uint32_t start = LineStringStart(placing, line.tabs, line.name, name_length);
      EXPECT_EQ(placing.position, 0u);
      if (taken_kind == TokenKind::kString) {
        ASSERT_NE(start, 0u);
        ASSERT_EQ(std::string(copy.get() + start, taking.string_value.length),
                  std::string(taking.string_value.data, taking.string_value.length));
        EXPECT_EQ(LineStringEnd(placing, start), start + taking.string_value.length);
        EXPECT_EQ(placing.position, 0u);
        TakeLineString(placing, start + taking.string_value.length);
        EXPECT_EQ(placing.position, taking.position);
        EXPECT_EQ(placing.line, taking.line);
        EXPECT_EQ(placing.current_kind, TokenKind::kString);
      } else if (start != 0) {
        EXPECT_FALSE(taken);
        EXPECT_EQ(copy[start - 1], '"');
        EXPECT_EQ(LineStringEnd(placing, start), 0u);
        EXPECT_EQ(placing.position, 0u);
      }
      Lexer unterminated;
      SetLexerText(unterminated, copy.get(), size);
      EXPECT_EQ(LineStringStart(unterminated, line.tabs, line.name, name_length), 0u);
      if (!taken) {
        EXPECT_EQ(taking.position, 0u);
        EXPECT_EQ(taking.line, 0u);
        EXPECT_EQ(taking.current_kind, TokenKind::kNone);
        continue;
      }
      Lexer reading;
      SetLexerText(reading, copy.get(), size);
      if (line.name != nullptr) {
        ASSERT_EQ(NextToken(reading), TokenKind::kIdentifier);
        EXPECT_STREQ(reading.identifier_value.data, line.name);
        ASSERT_EQ(NextToken(reading), TokenKind::kEquals);
      }
      const TokenKind kind = NextToken(reading);
      ASSERT_EQ(taken_kind, kind);
      EXPECT_EQ(taking.current_kind, kind);
      EXPECT_EQ(taking.position, reading.position);
      EXPECT_EQ(taking.line, reading.line);
      if (kind == TokenKind::kString) {
        EXPECT_EQ(std::string(taking.string_value.data, taking.string_value.length),
                  std::string(reading.string_value.data, reading.string_value.length));
        EXPECT_EQ(taking.string_value.data[taking.string_value.length], '\0');
      }
      EXPECT_STREQ(taking.identifier_value.data, "before");
      EXPECT_FALSE(taking.error);
    }
  }
}

// TakeObjectHeader reads a header as gentext writes it exactly as NextToken reads its class
// name and ID, and reads nothing of any other text. Exact-size copies, as above.
TEST(LexerTest, TakingAnObjectHeaderIsReadingItsNameAndIdOrNothing) {
  struct Header {
    std::string text;
    uint32_t start;  // where the previous token ended
    bool taken;
  };
  const std::string name = "cWorkloadObject";
  const Header headers[] = {
      {"cWorkloadObject 839030271 {", 0, true},
      {"}\r\ncWorkloadObject 0 {\r\n\tHealth", 1, true},
      {"}\r\ncWorkloadObject 0042 {", 1, true},
      {"}\r\ncWorkloadObject 1234567890123456789 {", 1, true},
      {"}\r\ncWorkloadObject 4294967296 {", 1, true},
      {"}\r\ncWorkloadObject 18446744073709551615 {", 1, true},
      {"}\r\ncWorkloadObject 0000000000000000000000042 {", 1, true},
      {"}\r\ncWorkloadObject 18446744073709551616 {", 1, false},
      {"}\r\ncWorkloadObject 1", 1, false},
      {"}\r\ncWorkloadObject 1{", 1, false},
      {"}\r\ncWorkloadObject 1.5 {", 1, false},
      {"}\r\ncWorkloadObject -1 {", 1, false},
      {"}\r\ncWorkloadObject  1 {", 1, false},
      {"}\r\ncWorkloadObject {", 1, false},
      {"}\r\ncWorkloadObject2 1 {", 1, false},
      {"}\r\ncworkloadobject 1 {", 1, false},
      {"}\r\ncWorkloadObjec 1 {", 1, false},
      {"}\ncWorkloadObject 1 {", 1, false},
      {"}\r\n\r\ncWorkloadObject 1 {", 1, false},
      {"} cWorkloadObject 1 {", 1, false},
      {" cWorkloadObject 1 {", 0, false},
      {"cWorkloadObject 'x' {", 0, false},
      {"}\r\n", 1, false},
      {"}", 1, false},
      {"", 0, false},
  };
  for (const Header& header : headers) {
    SCOPED_TRACE("<" + header.text + ">");
    const auto copy = std::make_unique<char[]>(header.text.size() + 1);
    std::memcpy(copy.get(), header.text.data(), header.text.size());
    const auto size = static_cast<uint32_t>(header.text.size());
    Lexer taking;
    SetLexerText(taking, copy.get(), size);
    taking.position = header.start;
    taking.line = 3;
    taking.identifier_value.Assign("before");
    uint64_t number = 7;
    const bool taken =
        TakeObjectHeader(taking, name.data(), static_cast<uint32_t>(name.size()), number);
    ASSERT_EQ(taken, header.taken);
    if (!taken) {
      EXPECT_EQ(taking.position, header.start);
      EXPECT_EQ(taking.line, 3u);
      EXPECT_EQ(taking.current_kind, TokenKind::kNone);
      continue;
    }
    Lexer reading;
    SetLexerText(reading, copy.get(), size);
    reading.position = header.start;
    reading.line = 3;
    ASSERT_EQ(NextToken(reading), TokenKind::kIdentifier);
    EXPECT_EQ(std::string(reading.identifier_value.data), name);
    ASSERT_EQ(NextToken(reading), TokenKind::kNumber);
    EXPECT_EQ(taking.current_kind, TokenKind::kNumber);
    EXPECT_EQ(taking.position, reading.position);
    EXPECT_EQ(taking.line, reading.line);
    EXPECT_EQ(number, reading.number.integer_part);
    EXPECT_EQ(taking.number.negative, reading.number.negative);
    EXPECT_EQ(taking.number.integer_part, reading.number.integer_part);
    EXPECT_EQ(taking.number.fraction, reading.number.fraction);
    EXPECT_EQ(taking.number.leading_zeros, reading.number.leading_zeros);
    EXPECT_EQ(taking.number.exponent, reading.number.exponent);
    EXPECT_EQ(taking.number.is_float, reading.number.is_float);
    EXPECT_STREQ(taking.identifier_value.data, "before");
    EXPECT_FALSE(taking.error);
  }
}

}  // namespace
