// tests/types/value_text_test.cpp
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "document/lexer.h"
#include "foundation/string_buffer.h"
#include "types/float_text.h"
#include "types/primitive_types.h"
#include "types/value.h"

namespace {

std::string FloatText(uint32_t bits) {
  char out[kFloatTextCapacity];
  const uint32_t length = FormatFloat(std::bit_cast<float>(bits), out);
  EXPECT_EQ(length, std::char_traits<char>::length(out));
  return std::string(out, length);
}

TEST(ValueTextTest, FloatTextOfHardCases) {
  const struct {
    const char* name;
    uint32_t bits;
    const char* text;
  } cases[] = {
      {"one", 0x3F800000u, "1"},
      {"half", 0x3F000000u, "0.5"},
      {"2^24", 0x4B800000u, "16777216"},
      {"2^25", 0x4C000000u, "33554432"},
      {"2^127", 0x7F000000u, "1.7014118E+38"},
      {"2^-20", 0x35800000u, "9.536743E-07"},
      {"2^-96, nine digits", 0x0F800000u, "1.26217745E-29"},
      {"2^87, nine digits", 0x6B000000u, "1.54742505E+26"},
      {"smallest normal", 0x00800000u, "1.1754944E-38"},
      {"largest subnormal", 0x007FFFFFu, "1.1754942E-38"},
      {"smallest subnormal", 0x00000001u, "1.4013E-45"},
      {"second subnormal", 0x00000002u, "2.8026E-45"},
      {"subnormal 7", 0x00000007u, "9.80909E-45"},
      {"subnormal 0x12345", 0x00012345u, "1.04488E-40"},
      {"largest", 0x7F7FFFFFu, "3.4028235E+38"},
      {"shortest text rounds away through a double", 0x15AE43FDu, "7.0385307E-26"},
      {"shorter text than its own, through a double", 0x15AE43FEu, "7.038531E-26"},
      {"0.1", 0x3DCCCCCDu, "0.1"},
      {"7 digits", 0x47F1205Au, "123456.7"},
      {"8 digits", 0x3F9E0651u, "1.2345678"},
      {"9 digits", 0x447A0001u, "1000.00006"},
      {"above one", 0x3F800001u, "1.0000001"},
      {"below one", 0x3F7FFFFFu, "0.99999994"},
      {"1E-05", 0x3727C5ACu, "1E-05"},
      {"below 1E-05", 0x3727C5ABu, "9.999999E-06"},
      {"0.0001", 0x38D1B717u, "0.0001"},
      {"0.00012345", 0x3901725Bu, "0.00012345"},
      {"0.001", 0x3A83126Fu, "0.001"},
      {"999999", 0x497423F0u, "999999"},
      {"999999.5", 0x497423F8u, "999999.5"},
      {"1E+06", 0x49742400u, "1E+06"},
      {"9999999", 0x4B18967Fu, "9999999"},
      {"99999.99", 0x47C34FFFu, "99999.99"},
      {"8388607.5", 0x4AFFFFFFu, "8388607.5"},
      {"1E+09", 0x4E6E6B28u, "1E+09"},
      {"3E+38", 0x7F61B1E6u, "3E+38"},
      {"zero", 0x00000000u, "0"},
      {"negative zero", 0x80000000u, "-0"},
      {"negative 9 digits", 0xC47A0001u, "-1000.00006"},
      {"negative subnormal", 0x80000001u, "-1.4013E-45"},
      {"negative power of two", 0xBF000000u, "-0.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FloatText(c.bits), c.text);
  }
}

TEST(ValueTextTest, DecimalFormatReplacesAndAppendAppends) {
  const struct {
    int32_t value;
    const char* text;
  } signed_cases[] = {{0, "0"},
                      {-1, "-1"},
                      {9, "9"},
                      {10, "10"},
                      {-2147483647 - 1, "-2147483648"},
                      {2147483647, "2147483647"}};
  for (const auto& c : signed_cases) {
    SCOPED_TRACE(c.text);
    TStringBufferA<4> out("previous text");
    FormatDecimal(out, c.value);
    EXPECT_STREQ(out.data, c.text);
    EXPECT_EQ(out.length, std::char_traits<char>::length(c.text));
  }
  CStringBufferA out("@");
  AppendDecimal(out, 4294967295u);
  AppendDecimal(out, 0u);
  EXPECT_STREQ(out.data, "@42949672950");
}

// The digits are made a word at a time: every length of text, every digit in every place,
// the edges of each length and the sign must give the library's text.
TEST(ValueTextTest, DecimalTextIsTheLibrarysForEveryLength) {
  std::vector<uint32_t> values;
  for (uint32_t v = 0; v < 200000; ++v) values.push_back(v);
  for (uint64_t power = 10; power <= 10000000000u; power *= 10) {
    for (uint64_t v = power - 3; v <= power + 3 && v <= UINT32_MAX; ++v) {
      values.push_back(static_cast<uint32_t>(v));
    }
    for (uint64_t v = power / 10 * 9; v < power && v <= UINT32_MAX; v += power / 1000 + 7) {
      values.push_back(static_cast<uint32_t>(v));
    }
  }
  std::mt19937 random(11);
  for (int i = 0; i < 200000; ++i) values.push_back(static_cast<uint32_t>(random()));
  values.push_back(UINT32_MAX);
  values.push_back(0x80000000u);
  for (const uint32_t v : values) {
    char expected[16];
    CStringBufferA out("@");
    AppendDecimal(out, v);
    *std::to_chars(expected, expected + sizeof expected, v).ptr = '\0';
    ASSERT_EQ(std::string(out.data), std::string("@") + expected) << v;
    const auto as_signed = static_cast<int32_t>(v);
    TStringBufferA<4> signed_out("previous text");
    FormatDecimal(signed_out, as_signed);
    *std::to_chars(expected, expected + sizeof expected, as_signed).ptr = '\0';
    ASSERT_EQ(std::string(signed_out.data, signed_out.length), expected) << as_signed;
    ASSERT_EQ(signed_out.data[signed_out.length], '\0');
  }
}

TEST(ValueTextTest, FloatValuesParseLikeTheLexerNumbers) {
  // Each text reads to the float of the correctly rounded double; the numbers the lexer itself
  // converts must agree wherever there is one.
  const struct {
    const char* text;
    uint32_t bits;
  } cases[] = {
      {"1.5", 0x3FC00000u},
      {"+1.5", 0x3FC00000u},
      {"1.", 0x3F800000u},
      {"-0", 0x80000000u},
      {"0.1", 0x3DCCCCCDu},
      {" \n 2.5e+1", 0x41C80000u},
      {"1000.00006", 0x447A0001u},
      {"1.4013E-45", 0x00000001u},
      {"1e39", 0x7F800000u},
      {"1e400", 0x7F800000u},
      {"-1e-400", 0x80000000u},
      {"/* first */ 2.5", 0x40200000u},
      // Just above the midpoint of 1 and the next float, closer to it than half a double step:
      // the double is the midpoint, which rounds to the even float 1.
      {"1.00000005960464477550", 0x3F800000u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Lexer lexer;
    lexer.source.Assign(c.text);
    ResetLexer(lexer);
    ValueNode node{};
    ASSERT_TRUE(CFloatType.ParseValue(lexer, node, nullptr));
    EXPECT_EQ(std::bit_cast<uint32_t>(node.payload.floats[0]), c.bits);
    ResetLexer(lexer);
    if (NextToken(lexer) == TokenKind::kNumber) {
      EXPECT_EQ(std::bit_cast<uint32_t>(static_cast<float>(NumberToDouble(lexer.number))), c.bits);
    }
  }
}

}  // namespace
