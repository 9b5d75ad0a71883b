// tests/types/float_text_test.cpp
#include "types/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "document/lexer.h"

namespace {

std::string Text(float value) {
  char out[kFloatTextCapacity];
  const uint32_t length = FormatFloat(value, out);
  EXPECT_EQ(length, std::char_traits<char>::length(out));
  return std::string(out, length);
}

float FromBits(uint32_t bits) { return std::bit_cast<float>(bits); }
uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }

// "%.*G" with the fewest digits from 6 to 9 that read back to the same float.
std::string ReferenceText(float value) {
  char text[64];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof(text), "%.*G", digits, static_cast<double>(value));
    if (Bits(static_cast<float>(std::strtod(text, nullptr))) == Bits(value)) break;
  }
  return text;
}

TEST(FloatTextTest, PrintsLikePercentGWithTheFewestDigitsAndWords) {
  const float inf = std::numeric_limits<float>::infinity(), tiny = FromBits(1),
              nan = FromBits(0x7FC00000u), minus_nan = FromBits(0xFFC00000u),
              signalling = FromBits(0x7F800001u), minus_all_ones = FromBits(0xFFFFFFFFu);
  const float third = 1.0f / 3.0f, minus_zero = -0.0f, minus_inf = -inf;
  const float values[] = {0.0f,      minus_zero, 1.5f,          0.0001f, 0.00001f,    100000.0f,
                          1e6f,      -123.25f,   0.3f,          FLT_MAX, 3.14159274f, 16777216.0f,
                          third,     tiny,       FLT_MIN,       inf,     minus_inf,   nan,
                          minus_nan, signalling, minus_all_ones};
  std::istringstream texts(
      "0 -0 1.5 0.0001 1E-05 100000 1E+06 -123.25 0.3 3.4028235E+38 3.1415927 16777216 0.33333334 "
      "1.4013E-45 1.1754944E-38 INF -INF NAN -NAN NAN -NAN");
  for (const float value : values) {
    std::string text;
    texts >> text;
    EXPECT_EQ(Text(value), text);
  }
  EXPECT_TRUE(texts.eof());
}

// Read through a double, the 7-digit text of either float lands on the other one.
// A list is written in place after one check for room: every length of list, after text already
// in the buffer, must read as the single texts joined by ",", however the buffer had to grow.
TEST(FloatTextTest, AListIsItsTextsJoinedByCommas) {
  const float values[] = {-1.17549435e-38f,
                          3.14159274f,
                          -0.0f,
                          16777216.0f,
                          std::numeric_limits<float>::infinity(),
                          std::nanf(""),
                          1e-45f,
                          -123456.789f,
                          0.5f};
  for (uint32_t count = 0; count <= std::size(values); ++count) {
    std::string expected = "prefix:";
    for (uint32_t i = 0; i < count; ++i) {
      char text[kFloatTextCapacity];
      FormatFloat(values[i], text);
      if (i != 0) expected += ',';
      expected += text;
    }
    TStringBufferA<8> out("prefix:");
    AppendFloatList(out, values, count);
    EXPECT_EQ(std::string(out.data, out.length), expected) << count;
    EXPECT_EQ(out.data[out.length], '\0');
  }
}

TEST(FloatTextTest, NeighboursAcrossAMidpointTakeMoreDigits) {
  EXPECT_EQ(Text(FromBits(0x15AE43FDu)), "7.0385307E-26");
  EXPECT_EQ(Text(FromBits(0x15AE43FEu)), "7.038531E-26");
}

TEST(FloatTextTest, MatchesWordsWithOptionalSign) {
  const struct {
    const char* text;
    uint32_t matched;
    uint32_t bits;
  } cases[] = {{"INF", 3, 0x7F800000u}, {"-INF", 4, 0xFF800000u}, {"+INF", 4, 0x7F800000u},
               {"NAN", 3, 0x7FC00000u}, {"-NAN", 4, 0xFFC00000u}, {"NAN,1", 3, 0x7FC00000u}};
  for (const auto& c : cases) {
    float value = 42.0f;
    EXPECT_EQ(MatchFloatWord(c.text, value), c.matched) << c.text;
    EXPECT_EQ(Bits(value), c.bits) << c.text;
  }
  for (const char* text : {"INFINITY", "INF_", "NAN2", "inf", "--INF", "- INF", "IN", "", "-"}) {
    float value = 42.0f;
    EXPECT_EQ(MatchFloatWord(text, value), 0u) << text;
    EXPECT_EQ(value, 42.0f) << text;
  }
}

TEST(FloatTextTest, RandomAndTypedFloatsReadBackExactlyWithFewestDigits) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> mantissa(-999999, 999999);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int i = 0; i < 150000; ++i) {
    float value;
    if (i % 3 == 0) {  // typed by hand: six digits suffice, the text is plain "%G"
      char typed[32];
      std::snprintf(typed, sizeof(typed), "%dE%d", mantissa(rng), exponent(rng));
      value = std::strtof(typed, nullptr);
    } else {
      value = FromBits(i % 3 == 1 ? rng() : rng() & 0x807FFFFFu);  // all, then subnormals
      if (std::isnan(value) || std::isinf(value)) continue;
    }
    const std::string text = Text(value);
    ASSERT_EQ(text, ReferenceText(value)) << "bits 0x" << std::hex << Bits(value);
    Lexer lexer;  // read back as a document reader does
    lexer.source.Assign(text.c_str());
    ResetLexer(lexer);
    ASSERT_EQ(NextToken(lexer), TokenKind::kNumber) << text;
    ASSERT_EQ(NextToken(lexer), TokenKind::kEof) << text;
    ASSERT_EQ(Bits(static_cast<float>(NumberToDouble(lexer.number))), Bits(value)) << text;
  }
}

// The digits and exponent of std::to_chars(float, scientific).
std::pair<std::string, int32_t> LibraryDigits(float value) {
  char text[64];
  const char* const end =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific).ptr;
  const std::string written(text, static_cast<size_t>(end - text));
  const size_t e = written.find('e');
  std::string digits = written.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // the point
  return {digits, std::stoi(written.substr(e + 1))};
}

std::pair<std::string, int32_t> Shortest(float value) {
  char digits[kFloatDigitsCapacity];
  int32_t exponent = 99;
  const uint32_t count = ShortestFloatDigits(value, digits, exponent);
  for (uint32_t i = count; i < kFloatDigitsCapacity; ++i) EXPECT_EQ(digits[i], '\0') << i;
  return {std::string(digits, count), exponent};
}

TEST(FloatTextTest, ShortestDigitsOnBoundsAndTies) {
  const struct {
    float value;
    const char* digits;
    int32_t exponent;
  } cases[] = {
      {33554448.0f, "3355445", 7},   // even: the upper midpoint 33554450 reads back to it
      {33554452.0f, "33554452", 7},  // odd: the lower midpoint 33554450 reads to the neighbour
      {2097152.25f, "20971522", 6},  // exactly between ...22 and ...23: the even one
      {2097152.75f, "20971528", 6},  // between ...27 and ...28
      {-0.3f, "3", -1},              // the sign is ignored
      {1e10f, "1", 10},              // a power of ten in the interval
      {FLT_MAX, "34028235", 38},
      {FromBits(1), "1", -45},  // the smallest subnormal
      {0.0f, "0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    EXPECT_EQ(Shortest(c.value), std::make_pair(std::string(c.digits), c.exponent));
    EXPECT_EQ(Shortest(c.value), LibraryDigits(std::fabs(c.value)));
  }
  EXPECT_EQ(Shortest(std::numeric_limits<float>::infinity()), std::make_pair(std::string(), 0));
  EXPECT_EQ(Shortest(FromBits(0x7FC00000u)), std::make_pair(std::string(), 0));
}

// Each exponent takes its own scaling, so every one is tried with mantissas at both ends, in
// the middle and at random; the text is checked against its definition at the same time.
TEST(FloatTextTest, ShortestDigitsAndTextOnEveryExponent) {
  std::mt19937 rng(7);
  for (uint32_t field = 0; field <= 254; ++field) {
    for (uint32_t mantissa : {0u, 1u, 2u, 3u, 0x400000u, 0x7FFFFEu, 0x7FFFFFu,
                              static_cast<uint32_t>(rng()) & 0x7FFFFFu}) {
      const float value = FromBits(field << 23 | mantissa);
      SCOPED_TRACE(::testing::Message() << "bits 0x" << std::hex << Bits(value));
      EXPECT_EQ(Shortest(value), LibraryDigits(value));
      EXPECT_EQ(Text(value), ReferenceText(value));
    }
  }
}

}  // namespace
