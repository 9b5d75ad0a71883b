// tests/types/float_text_test.cpp
#include "types/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "document/lexer.h"
#include "foundation/string_buffer.h"

namespace {

std::string Text(float value) {
  char out[kFloatTextCapacity];
  const uint32_t length = FormatFloat(value, out);
  EXPECT_EQ(length, std::char_traits<char>::length(out));
  return std::string(out, length);
}

float FromBits(uint32_t bits) { return std::bit_cast<float>(bits); }
uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }

// Reads a number the way a document reader does: one lexer token, NumberToDouble, then float.
bool ReadThroughLexer(const std::string& text, float& value) {
  Lexer lexer;
  lexer.source.Assign(text.c_str());
  ResetLexer(lexer);
  if (NextToken(lexer) != TokenKind::kNumber || NextToken(lexer) != TokenKind::kEof) {
    return false;
  }
  value = static_cast<float>(NumberToDouble(lexer.number));
  return true;
}

// The reference rule, built on printf and strtod: "%.*G" with the fewest digits from 6 to 9
// that read back to the same float.
std::string ReferenceText(float value) {
  char text[64];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof(text), "%.*G", digits, static_cast<double>(value));
    if (Bits(static_cast<float>(std::strtod(text, nullptr))) == Bits(value)) {
      break;
    }
  }
  return text;
}

void ExpectExactRoundTrip(float value) {
  const std::string text = Text(value);
  SCOPED_TRACE(text);
  EXPECT_EQ(text, ReferenceText(value));
  float read = 0.0f;
  ASSERT_TRUE(ReadThroughLexer(text, read));
  EXPECT_EQ(Bits(read), Bits(value));
}

TEST(FloatTextTest, PrintsLikePercentGWhenSixDigitsSuffice) {
  const struct {
    float value;
    const char* text;
  } cases[] = {
      {0.0f, "0"},
      {-0.0f, "-0"},
      {1.5f, "1.5"},
      {2.0f, "2"},
      {0.0001f, "0.0001"},
      {0.00001f, "1E-05"},
      {100000.0f, "100000"},
      {1e6f, "1E+06"},
      {-123.25f, "-123.25"},
      {0.3f, "0.3"},
      {FLT_MAX, "3.4028235E+38"},
      {3.14159274f, "3.1415927"},
      {16777216.0f, "16777216"},
      {1.0f / 3.0f, "0.33333334"},
      {FromBits(1), "1.4013E-45"},
      {FLT_MIN, "1.1754944E-38"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(c.value), c.text);
  }
}

TEST(FloatTextTest, PrintsInfinitiesAndNaNsAsWords) {
  EXPECT_EQ(Text(std::numeric_limits<float>::infinity()), "INF");
  EXPECT_EQ(Text(-std::numeric_limits<float>::infinity()), "-INF");
  EXPECT_EQ(Text(FromBits(0x7FC00000u)), "NAN");
  EXPECT_EQ(Text(FromBits(0xFFC00000u)), "-NAN");
  EXPECT_EQ(Text(FromBits(0x7F800001u)), "NAN");  // signalling, with a payload
  EXPECT_EQ(Text(FromBits(0xFFFFFFFFu)), "-NAN");
}

TEST(FloatTextTest, MatchesWordsWithOptionalSign) {
  const struct {
    const char* text;
    uint32_t matched;
    uint32_t bits;
  } cases[] = {
      {"INF", 3, 0x7F800000u},
      {"-INF", 4, 0xFF800000u},
      {"+INF", 4, 0x7F800000u},
      {"NAN", 3, 0x7FC00000u},
      {"-NAN", 4, 0xFFC00000u},
      {"NAN,1", 3, 0x7FC00000u},
      {"INF ", 3, 0x7F800000u},
      {"INFINITY", 0, 0},
      {"INF_", 0, 0},
      {"NAN@x", 0, 0},
      {"NAN2", 0, 0},
      {"inf", 0, 0},
      {"Nan", 0, 0},
      {"--INF", 0, 0},
      {"- INF", 0, 0},
      {"IN", 0, 0},
      {"", 0, 0},
      {"-", 0, 0},
      {"1.5", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    float value = 42.0f;
    EXPECT_EQ(MatchFloatWord(c.text, value), c.matched);
    EXPECT_EQ(Bits(value), c.matched == 0 ? Bits(42.0f) : c.bits);
  }
}

TEST(FloatTextTest, RandomFloatsReadBackExactlyWithFewestDigits) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 100000; ++i) {
    uint32_t bits = rng();
    if (i % 4 == 0) {
      bits &= 0x807FFFFFu;  // subnormals
    }
    const float value = FromBits(bits);
    if (std::isnan(value) || std::isinf(value)) {
      continue;
    }
    ExpectExactRoundTrip(value);
    if (HasFailure()) {
      FAIL() << "bits 0x" << std::hex << bits;
    }
  }
}

TEST(FloatTextTest, ShortDecimalsKeepTheirPercentGText) {
  // Values typed by hand: whenever six digits suffice the text is plain "%G".
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> mantissa(-999999, 999999);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int i = 0; i < 50000; ++i) {
    char typed[32];
    std::snprintf(typed, sizeof(typed), "%dE%d", mantissa(rng), exponent(rng));
    const float value = std::strtof(typed, nullptr);
    char percent_g[32];
    std::snprintf(percent_g, sizeof(percent_g), "%G", static_cast<double>(value));
    ASSERT_EQ(Text(value), percent_g) << typed;
  }
}

}  // namespace
