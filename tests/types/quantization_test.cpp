// tests/types/quantization_test.cpp - quantized encodings: bit patterns, round trips, limits.
#include "types/quantization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"

namespace {

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

// A writer over its own buffer, and readers over what has been written.
struct Stream {
  ByteBuffer buffer;
  BitWriter writer{buffer};

  BitReader Reader() const { return BitReader(buffer.data, buffer.size); }
  // The n-bit field (1..32) at bit `position` of what has been written.
  uint32_t Field(uint32_t position, uint32_t n) const {
    BitReader reader = Reader();
    reader.position = position;
    return reader.Read(n);
  }
};

uint32_t EncodeIntField(const IntQuantization& q, int32_t value, uint32_t width = 32) {
  Stream s;
  EXPECT_TRUE(EncodeQuantizedInt(s.writer, q, value, width));
  const uint32_t bits = IntQuantizationBits(q);
  EXPECT_EQ(s.writer.position, bits);
  return bits == 0 ? 0 : s.Field(0, bits);
}

int32_t IntRoundTrip(const IntQuantization& q, int32_t value, uint32_t width = 32) {
  Stream s;
  EXPECT_TRUE(EncodeQuantizedInt(s.writer, q, value, width));
  BitReader reader = s.Reader();
  int32_t decoded = 0;
  EXPECT_TRUE(DecodeQuantizedInt(reader, q, width, decoded));
  EXPECT_EQ(reader.position, s.writer.position);
  return decoded;
}

uint32_t EncodeFloatField(const FloatQuantization& q, float value) {
  Stream s;
  EXPECT_TRUE(EncodeQuantizedFloat(s.writer, q, value));
  const uint32_t bits = FloatQuantizationBits(q);
  EXPECT_EQ(s.writer.position, bits);
  return bits == 0 ? 0 : s.Field(0, bits);
}

float DecodeFloatField(const FloatQuantization& q, uint32_t u) {
  Stream s;
  const uint32_t bits = FloatQuantizationBits(q);
  if (bits != 0) s.writer.Write(bits, u);
  BitReader reader = s.Reader();
  float value = 0.0f;
  EXPECT_TRUE(DecodeQuantizedFloat(reader, q, value));
  return value;
}

uint32_t EncodeFixedField(const FloatQuantization& set, float value) {
  Stream s;
  EXPECT_TRUE(EncodeFixedFloat(s.writer, set, value));
  EXPECT_EQ(s.writer.position, set.bit_count);
  return s.Field(0, set.bit_count);
}

float DecodeFixedField(const FloatQuantization& set, uint32_t u) {
  Stream s;
  s.writer.Write(set.bit_count, u);
  BitReader reader = s.Reader();
  float value = 0.0f;
  EXPECT_TRUE(DecodeFixedFloat(reader, set, value));
  return value;
}

using QuatCodes = std::array<uint32_t, 4>;
using Quat = std::array<float, 4>;

QuatCodes EncodeQuatFields(const Quat& q) {
  Stream s;
  EXPECT_TRUE(EncodeQuat(s.writer, q.data()));
  EXPECT_EQ(s.writer.position, 36u);
  return {s.Field(0, 9), s.Field(9, 9), s.Field(18, 9), s.Field(27, 9)};
}

Quat DecodeQuatFields(const QuatCodes& codes) {
  Stream s;
  for (uint32_t code : codes) s.writer.Write(9, code);
  BitReader reader = s.Reader();
  Quat q = {};
  EXPECT_TRUE(DecodeQuat(reader, q.data()));
  return q;
}

// Each component encoded on its own, with no search.
QuatCodes NaiveQuatFields(const Quat& q) {
  QuatCodes codes = {};
  for (int i = 0; i < 4; ++i) codes[i] = EncodeFixedField(kQuaternionSet, q[i]);
  return codes;
}

std::array<uint32_t, 4> QuatBits(const Quat& q) {
  return {Bits(q[0]), Bits(q[1]), Bits(q[2]), Bits(q[3])};
}

// Length of the quaternion the codes stand for, before the normalisation.
double StoredLength(const QuatCodes& codes) {
  double sum = 0.0;
  for (uint32_t code : codes) {
    const double value = DecodeFixedField(kQuaternionSet, code);
    sum += value * value;
  }
  return std::sqrt(sum);
}

}  // namespace

TEST(QuantizationModeTest, NamesEveryCodeAndFallsBackToNone) {
  const char* const expected[] = {"QuantizationMode_None",   "QuantizationMode_Int",
                                  "QuantizationMode_Float",  "QuantizationMode_DynValInt",
                                  "QuantizationMode_Pos",    "QuantizationMode_Scale",
                                  "QuantizationMode_Scale2", "QuantizationMode_Quat"};
  for (uint32_t code = 0; code < 8; ++code) {
    EXPECT_STREQ(QuantizationModeName(code), expected[code]) << code;
  }
  EXPECT_STREQ(QuantizationModeName(8), "QuantizationMode_None");
  EXPECT_STREQ(QuantizationModeName(9), "QuantizationMode_None");
  EXPECT_STREQ(QuantizationModeName(0xFFFFFFFFu), "QuantizationMode_None");
}

TEST(QuantizationHelpersTest, BitLengthAndFloatToInt) {
  EXPECT_EQ(BitLength(0), 0u);
  EXPECT_EQ(BitLength(1), 1u);
  EXPECT_EQ(BitLength(6), 3u);
  EXPECT_EQ(BitLength(0x80000000u), 32u);
  EXPECT_EQ(FloatToInt(2.9f), 2);
  EXPECT_EQ(FloatToInt(-2.9f), -2);
  EXPECT_EQ(FloatToInt(4294967296.0f + 65536.0f * 4), 262144);  // low 32 bits of 2^32 + 2^18
  EXPECT_EQ(FloatToInt(3000000000.0f), static_cast<int32_t>(3000000000u));
  EXPECT_EQ(FloatToInt(-9223372036854775808.0f), 0);  // -2^63: low 32 bits are 0
  EXPECT_EQ(FloatToInt(9223372036854775808.0f), 0);   // 2^63 is out of range
  EXPECT_EQ(FloatToInt(kNaN), 0);
  EXPECT_EQ(FloatToInt(kInf), 0);
  EXPECT_EQ(FloatToInt(-kInf), 0);
}

TEST(IntQuantizationTest, DerivesBitCounts) {
  EXPECT_EQ(IntQuantizationBits({0, 10, 2}), 3u);    // 5 + 1 = 6
  EXPECT_EQ(IntQuantizationBits({-10, 10, 1}), 5u);  // 20
  EXPECT_EQ(IntQuantizationBits({5, 5, 1}), 0u);
  EXPECT_EQ(IntQuantizationBits({0, 255, 1}), 8u);
  EXPECT_EQ(IntQuantizationBits({0, 100, 3}), 6u);  // 33 + 1 = 34
  EXPECT_EQ(IntQuantizationBits({kMin32, kMax32, 1}), 32u);
}

TEST(IntQuantizationTest, EncodesDocumentedExamples) {
  const IntQuantization even{0, 10, 2};
  EXPECT_EQ(EncodeIntField(even, 7), 3u);
  EXPECT_EQ(IntRoundTrip(even, 7), 6);
  EXPECT_EQ(EncodeIntField(even, 11), 5u);
  EXPECT_EQ(IntRoundTrip(even, 11), 10);
  EXPECT_EQ(EncodeIntField(even, -4), 0u);
  EXPECT_EQ(IntRoundTrip(even, -4), 0);

  const IntQuantization symmetric{-10, 10, 1};
  EXPECT_EQ(EncodeIntField(symmetric, -10), 0u);
  EXPECT_EQ(EncodeIntField(symmetric, 10), 20u);
  EXPECT_EQ(EncodeIntField(symmetric, kMin32), 0u);
  EXPECT_EQ(EncodeIntField(symmetric, kMax32), 20u);
}

TEST(IntQuantizationTest, ZeroBitsWriteNothingAndDecodeAsMinimum) {
  const IntQuantization q{5, 5, 1};
  Stream s;
  ASSERT_TRUE(EncodeQuantizedInt(s.writer, q, 123, 32));
  EXPECT_EQ(s.writer.position, 0u);

  const uint8_t ones[] = {0xFF};
  BitReader reader(ones, 1);
  int32_t value = 0;
  ASSERT_TRUE(DecodeQuantizedInt(reader, q, 32, value));
  EXPECT_EQ(value, 5);
  EXPECT_EQ(reader.position, 0u);
}

TEST(IntQuantizationTest, NarrowPayloadsReduceClampedValueAndStepCount) {
  // The minimum lies outside a byte: 5 clamps to 200, which a byte holds as -56, and the step
  // count -256 keeps only its low 8 bits (0).
  const IntQuantization outside{200, 300, 1};
  EXPECT_EQ(EncodeIntField(outside, 5, 8), 0u);
  EXPECT_EQ(IntRoundTrip(outside, 5, 8), -56);

  // A field wider than the payload receives the step count sign-extended from the payload:
  // -1 - (-1000) = 999 = 0x3E7, whose low byte 0xE7 is -25, written as 0x7E7 in 11 bits.
  const IntQuantization wide{-1000, 1000, 1};
  EXPECT_EQ(EncodeIntField(wide, -1, 8), 0x7E7u);
  EXPECT_EQ(EncodeIntField(wide, -128, 8), 104u);  // 872 = 0x368 -> 0x68
  for (int32_t v = -128; v <= 127; ++v) {
    EXPECT_EQ(IntRoundTrip(wide, v, 8), v) << v;
  }
  EXPECT_EQ(IntRoundTrip({-40000, 40000, 1}, -32768, 16), -32768);
  EXPECT_EQ(IntRoundTrip({-40000, 40000, 1}, 32767, 16), 32767);
}

TEST(IntQuantizationTest, FullPayloadRangesRoundTripExactly) {
  for (int32_t v = -128; v <= 127; ++v) {
    ASSERT_EQ(IntRoundTrip({-128, 127, 1}, v, 8), v);
  }
  for (int32_t v = -32768; v <= 32767; ++v) {
    ASSERT_EQ(IntRoundTrip({-32768, 32767, 1}, v, 16), v);
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> any(kMin32, kMax32);
  const IntQuantization full{kMin32, kMax32, 1};
  for (int32_t v : {kMin32, -1, 0, 1, kMax32}) EXPECT_EQ(IntRoundTrip(full, v), v);
  for (int i = 0; i < 20000; ++i) {
    const int32_t v = any(rng);
    ASSERT_EQ(IntRoundTrip(full, v), v) << v;
  }
}

TEST(IntQuantizationTest, RandomValuesDecodeToTheStepAtOrBelow) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> minimum_of(-1000000, 1000000);
  std::uniform_int_distribution<int32_t> step_of(1, 1000);
  std::uniform_int_distribution<int32_t> steps_of(0, 100000);
  for (int i = 0; i < 20000; ++i) {
    IntQuantization q;
    q.minimum = minimum_of(rng);
    q.step = step_of(rng);
    q.maximum = q.minimum + q.step * steps_of(rng) + step_of(rng) % q.step;
    std::uniform_int_distribution<int32_t> value_of(q.minimum - 5000, q.maximum + 5000);
    const int32_t v = value_of(rng);
    const int32_t clamped = std::min(std::max(v, q.minimum), q.maximum);
    const int32_t expected = q.minimum + (clamped - q.minimum) / q.step * q.step;
    ASSERT_EQ(IntRoundTrip(q, v), expected)
        << q.minimum << " " << q.maximum << " " << q.step << " " << v;
  }
}

TEST(IntQuantizationTest, RefusesParametersThatDivideBadly) {
  for (const IntQuantization& q : {IntQuantization{0, 10, 0}, IntQuantization{kMin32, 0, -1},
                                   IntQuantization{kMin32, kMax32, -1}}) {
    SCOPED_TRACE(q.step);
    EXPECT_FALSE(IsValidIntQuantization(q));
    EXPECT_FALSE(IsValidFieldQuantization(1, q, {}));
    EXPECT_EQ(IntQuantizationBits(q), 0u);

    Stream s;
    EXPECT_FALSE(EncodeQuantizedInt(s.writer, q, 0, 32));
    EXPECT_TRUE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);

    const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader(bytes, 4);
    int32_t value = 1;
    EXPECT_FALSE(DecodeQuantizedInt(reader, q, 32, value));
    EXPECT_TRUE(reader.failed);
    EXPECT_EQ(reader.position, 0u);
  }
  EXPECT_TRUE(IsValidIntQuantization({kMin32, 0, -2}));
  EXPECT_TRUE(IsValidIntQuantization({-5, 0, -1}));
}

TEST(IntQuantizationTest, TruncatedStreamYieldsMinimumAndFails) {
  const IntQuantization q{7, 262, 1};  // 8 bits
  const uint8_t bytes[] = {0xFF};
  BitReader reader(bytes, 1);
  reader.position = 1;
  int32_t value = 0;
  EXPECT_FALSE(DecodeQuantizedInt(reader, q, 32, value));
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(reader.failed);

  // Sticky: a later read that would fit still fails.
  reader.position = 0;
  EXPECT_FALSE(DecodeQuantizedInt(reader, {0, 1, 1}, 32, value));
  EXPECT_EQ(value, 0);
}

TEST(IntQuantizationTest, FailedWriterWritesNothing) {
  Stream s;
  s.writer.failed = true;
  EXPECT_FALSE(EncodeQuantizedInt(s.writer, {0, 10, 1}, 5, 32));
  EXPECT_EQ(s.writer.position, 0u);
}

TEST(DynValIntTest, EncodesAsVarUInt) {
  Stream s;
  ASSERT_TRUE(EncodeDynValInt(s.writer, 5));
  EXPECT_EQ(s.writer.position, 8u);
  EXPECT_EQ(s.Field(0, 8), 3u | (5u << 5));  // width 3, then 101

  Stream zero;
  ASSERT_TRUE(EncodeDynValInt(zero.writer, 0));
  EXPECT_EQ(zero.writer.position, 5u);
  EXPECT_EQ(zero.Field(0, 5), 0u);

  Stream largest;
  ASSERT_TRUE(EncodeDynValInt(largest.writer, kMax32));
  EXPECT_EQ(largest.writer.position, 36u);
  EXPECT_EQ(largest.Field(0, 5), 31u);
  EXPECT_EQ(largest.Field(5, 31), 0x7FFFFFFFu);
}

TEST(DynValIntTest, NegativeValuesCannotBeStored) {
  for (int32_t v : {-1, -128, kMin32}) {
    Stream s;
    EXPECT_FALSE(EncodeDynValInt(s.writer, v)) << v;
    EXPECT_TRUE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);
  }
}

TEST(DynValIntTest, RoundTripsAndTruncatesToPayload) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> any(0, kMax32);
  for (int i = 0; i < 20000; ++i) {
    const int32_t v = any(rng);
    Stream s;
    ASSERT_TRUE(EncodeDynValInt(s.writer, v));
    for (uint32_t width : {8u, 16u, 32u}) {
      BitReader reader = s.Reader();
      int32_t decoded = 0;
      ASSERT_TRUE(DecodeDynValInt(reader, width, decoded));
      const int32_t expected = width == 8    ? static_cast<int8_t>(v)
                               : width == 16 ? static_cast<int16_t>(v)
                                             : v;
      ASSERT_EQ(decoded, expected) << v << " " << width;
    }
  }
  Stream s;
  ASSERT_TRUE(EncodeDynValInt(s.writer, 200));
  BitReader reader = s.Reader();
  int32_t decoded = 0;
  ASSERT_TRUE(DecodeDynValInt(reader, 8, decoded));
  EXPECT_EQ(decoded, -56);
}

TEST(DynValIntTest, TruncatedStreamFails) {
  Stream s;
  ASSERT_TRUE(EncodeDynValInt(s.writer, 1000));  // 5 + 10 bits
  BitReader reader(s.buffer.data, 1);
  int32_t value = 7;
  EXPECT_FALSE(DecodeDynValInt(reader, 32, value));
  EXPECT_EQ(value, 0);
}

TEST(FloatQuantizationTest, DerivesBitCountsWithHalfStepAfterDivision) {
  EXPECT_EQ(FloatQuantizationBits({0.0f, 12.0f, 4.0f}), 3u);   // 3 + 2 = 5
  EXPECT_EQ(FloatQuantizationBits({0.0f, 0.4f, 1.0f}), 0u);    // toInt(0.4 + 0.5) = 0
  EXPECT_EQ(FloatQuantizationBits({0.0f, 10.0f, 2.0f}), 3u);   // 5 + 1 = 6
  EXPECT_EQ(FloatQuantizationBits({0.0f, 1.0f, 0.01f}), 7u);   // 100.005
  EXPECT_EQ(FloatQuantizationBits({-1.0f, 1.0f, 0.25f}), 4u);  // 8.125
}

TEST(FloatQuantizationTest, EncodesDocumentedExamples) {
  const FloatQuantization fours{0.0f, 12.0f, 4.0f};
  EXPECT_EQ(EncodeFloatField(fours, 5.0f), 1u);
  EXPECT_EQ(DecodeFloatField(fours, 1), 4.0f);

  const FloatQuantization twos{0.0f, 10.0f, 2.0f};
  EXPECT_EQ(EncodeFloatField(twos, 3.0f), 2u);  // halves go up
  EXPECT_EQ(DecodeFloatField(twos, 2), 4.0f);
  EXPECT_EQ(EncodeFloatField(twos, 2.9f), 1u);
  EXPECT_EQ(EncodeFloatField(twos, 10.0f), 5u);
  EXPECT_EQ(EncodeFloatField(twos, 1e30f), 5u);
  EXPECT_EQ(EncodeFloatField(twos, -1e30f), 0u);
  EXPECT_EQ(EncodeFloatField(twos, kInf), 5u);
  EXPECT_EQ(EncodeFloatField(twos, -kInf), 0u);
}

TEST(FloatQuantizationTest, MaximumBeyondTheLastCodeSaturates) {
  // 3.8 / 0.5 + 0.25 = 7.85: 3 bits, but 3.8 rounds to code 8, which would wrap to 0.
  const FloatQuantization q{0.0f, 3.8f, 0.5f};
  EXPECT_EQ(FloatQuantizationBits(q), 3u);
  EXPECT_EQ(EncodeFloatField(q, 3.8f), 7u);
  EXPECT_EQ(EncodeFloatField(q, 3.76f), 7u);
  EXPECT_EQ(EncodeFloatField(q, 3.7f), 7u);
  EXPECT_EQ(EncodeFloatField(q, 3.2f), 6u);
  EXPECT_EQ(DecodeFloatField(q, 7), 3.5f);
}

TEST(FloatQuantizationTest, NaNEncodesAsMinimum) {
  const FloatQuantization q{-3.0f, 5.0f, 0.5f};
  EXPECT_EQ(EncodeFloatField(q, kNaN), 0u);
  EXPECT_EQ(DecodeFloatField(q, 0), -3.0f);
}

TEST(FloatQuantizationTest, ZeroBitsDecodeAsMinimumWhateverFollows) {
  const FloatQuantization q{0.0f, 0.4f, 1.0f};
  Stream s;
  ASSERT_TRUE(EncodeQuantizedFloat(s.writer, q, 0.3f));
  EXPECT_EQ(s.writer.position, 0u);
  const uint8_t ones[] = {0xFF};
  BitReader reader(ones, 1);
  float value = 1.0f;
  ASSERT_TRUE(DecodeQuantizedFloat(reader, q, value));
  EXPECT_EQ(value, 0.0f);
  EXPECT_EQ(reader.position, 0u);
}

TEST(FloatQuantizationTest, DecodesInDoublePrecision) {
  // 99 * 0.1f + 0.1f is 10.000000149 in double, 10 in single precision; the fixed sets, which
  // round each step to single precision, give 10.000001 for the same parameters.
  const FloatQuantization q{std::bit_cast<float>(0x3DCCCCCDu), 10.0f,
                            std::bit_cast<float>(0x3DCCCCCDu)};
  EXPECT_EQ(FloatQuantizationBits(q), 7u);
  EXPECT_EQ(Bits(DecodeFloatField(q, 99)), 0x41200000u);
  EXPECT_EQ(Bits(DecodeFixedField(kScaleSet, 99)), 0x41200001u);
}

TEST(FloatQuantizationTest, RandomValuesRoundToNearestStep) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> minimum_of(-1000.0f, 1000.0f);
  std::uniform_real_distribution<float> step_of(0.001f, 10.0f);
  std::uniform_int_distribution<int> steps_of(1, 100000);
  for (int i = 0; i < 20000; ++i) {
    FloatQuantization q;
    q.minimum = minimum_of(rng);
    q.step = step_of(rng);
    q.maximum = q.minimum + q.step * static_cast<float>(steps_of(rng));
    std::uniform_real_distribution<float> value_of(q.minimum, q.maximum);
    const float x = value_of(rng);

    Stream s;
    ASSERT_TRUE(EncodeQuantizedFloat(s.writer, q, x));
    BitReader reader = s.Reader();
    float decoded = 0.0f;
    ASSERT_TRUE(DecodeQuantizedFloat(reader, q, decoded));
    ASSERT_EQ(reader.position, s.writer.position);
    ASSERT_LE(std::fabs(decoded - x),
              q.step * 0.5f + (std::fabs(x) + std::fabs(q.minimum)) * 2.5e-7f)
        << q.minimum << " " << q.maximum << " " << q.step << " " << x;

    // A decoded value is a fixed point of the encoding.
    const uint32_t bits = s.writer.position;
    Stream again;
    ASSERT_TRUE(EncodeQuantizedFloat(again.writer, q, decoded));
    if (bits != 0) {
      ASSERT_EQ(again.Field(0, bits), s.Field(0, bits)) << x;
    }
  }
}

TEST(FloatQuantizationTest, RefusesStepZeroNaNAndInfinity) {
  const FloatQuantization bad[] = {
      {0.0f, 10.0f, 0.0f}, {0.0f, 10.0f, -0.0f}, {kNaN, 10.0f, 1.0f}, {0.0f, kNaN, 1.0f},
      {0.0f, 10.0f, kNaN}, {-kInf, 10.0f, 1.0f}, {0.0f, kInf, 1.0f},  {0.0f, 10.0f, kInf},
  };
  for (const FloatQuantization& q : bad) {
    SCOPED_TRACE(testing::Message() << q.minimum << " " << q.maximum << " " << q.step);
    EXPECT_FALSE(IsValidFloatQuantization(q));
    EXPECT_FALSE(IsValidFieldQuantization(2, {}, q));
    EXPECT_EQ(FloatQuantizationBits(q), 0u);

    Stream s;
    EXPECT_FALSE(EncodeQuantizedFloat(s.writer, q, 1.0f));
    EXPECT_TRUE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);

    const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader(bytes, 4);
    float value = 0.0f;
    EXPECT_FALSE(DecodeQuantizedFloat(reader, q, value));
    EXPECT_EQ(reader.position, 0u);
  }
}

TEST(FloatQuantizationTest, TruncatedStreamYieldsMinimumAndFails) {
  const FloatQuantization q{-2.5f, 100.0f, 0.5f};  // 8 bits
  const uint8_t bytes[] = {0xFF};
  BitReader reader(bytes, 1);
  reader.position = 3;
  float value = 0.0f;
  EXPECT_FALSE(DecodeQuantizedFloat(reader, q, value));
  EXPECT_EQ(value, -2.5f);
}

TEST(FieldQuantizationTest, ChecksOnlyTheParametersItsModeUses) {
  const IntQuantization bad_int{0, 0, 0};
  const FloatQuantization bad_float{kNaN, 0.0f, 0.0f};
  EXPECT_TRUE(IsValidFieldQuantization(1, {0, 10, 1}, bad_float));
  EXPECT_TRUE(IsValidFieldQuantization(2, bad_int, {0.0f, 1.0f, 0.1f}));
  for (uint32_t mode : {0u, 3u, 4u, 5u, 6u, 7u, 9u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(IsValidFieldQuantization(mode, bad_int, bad_float)) << mode;
  }
}

TEST(FixedSetTest, StepsSpreadTheRangeOverAllCodes) {
  for (const FloatQuantization& set : {kPositionXSet, kPositionYSet, kQuaternionSet}) {
    const float codes = static_cast<float>((1u << set.bit_count) - 1u);
    EXPECT_EQ(Bits(set.step), Bits((set.maximum - set.minimum) / codes));
  }
  EXPECT_EQ(Bits(kPositionXSet.step), 0x3C160026u);
  EXPECT_EQ(Bits(kPositionYSet.step), 0x3BAF00AFu);
  EXPECT_EQ(Bits(kQuaternionSet.step), 0x3B804020u);
  EXPECT_EQ(Bits(kScaleSet.minimum), 0x3DCCCCCDu);
  EXPECT_EQ(Bits(kScaleSet.step), 0x3DCCCCCDu);
}

TEST(FixedSetTest, EncodesDocumentedExamples) {
  EXPECT_EQ(EncodeFixedField(kPositionXSet, -1300.0f), 0u);
  EXPECT_EQ(EncodeFixedField(kPositionXSet, 1100.0f), 262143u);
  EXPECT_EQ(EncodeFixedField(kPositionYSet, 300.0f), 65535u);
  EXPECT_EQ(DecodeFixedField(kPositionXSet, 262143), 1100.0f);

  EXPECT_EQ(EncodeFixedField(kScaleSet, 0.1f), 0u);
  EXPECT_EQ(EncodeFixedField(kScaleSet, 10.0f), 99u);
  EXPECT_EQ(EncodeFixedField(kScaleSet, 0.05f), 0u);
  EXPECT_EQ(EncodeFixedField(kScaleSet, 1000.0f), 99u);
  EXPECT_EQ(Bits(DecodeFixedField(kScaleSet, 99)), 0x41200001u);

  EXPECT_EQ(EncodeFixedField(kQuaternionSet, 1.0f), 511u);
  EXPECT_EQ(EncodeFixedField(kQuaternionSet, -1.0f), 0u);
  EXPECT_EQ(DecodeFixedField(kQuaternionSet, 0), -1.0f);

  EXPECT_EQ(EncodeFixedField(kPositionYSet, kNaN), 0u);
  EXPECT_EQ(EncodeFixedField(kQuaternionSet, kNaN), 0u);
}

TEST(FixedSetTest, EveryCodeDecodesToAValueThatEncodesBack) {
  for (const FloatQuantization& set : {kPositionXSet, kPositionYSet, kScaleSet, kQuaternionSet}) {
    const uint32_t last = set.bit_count == 7 ? 99u : (1u << set.bit_count) - 1u;
    for (uint32_t u = 0; u <= last; ++u) {
      const float value = DecodeFixedField(set, u);
      ASSERT_GE(value, set.minimum);
      ASSERT_LE(value, set.maximum * 1.000001f);
      ASSERT_EQ(EncodeFixedField(set, value), u) << set.bit_count << " " << u;
    }
  }
}

TEST(FixedSetTest, RandomValuesRoundToNearestStep) {
  std::mt19937 rng(13);
  for (const FloatQuantization& set : {kPositionXSet, kPositionYSet, kScaleSet, kQuaternionSet}) {
    std::uniform_real_distribution<float> value_of(set.minimum, set.maximum);
    for (int i = 0; i < 20000; ++i) {
      const float x = value_of(rng);
      const float decoded = DecodeFixedField(set, EncodeFixedField(set, x));
      ASSERT_LE(std::fabs(decoded - x),
                set.step * 0.5f + (std::fabs(x) + std::fabs(set.minimum)) * 2.5e-7f)
          << set.bit_count << " " << x;
    }
  }
}

TEST(Vec3QuantizationTest, PositionPacksXYZIn52Bits) {
  const float v[3] = {-1300.0f, 300.0f, 1100.0f};
  Stream s;
  ASSERT_TRUE(EncodeVec3(s.writer, QuantizationMode::Pos, v));
  EXPECT_EQ(s.writer.position, 52u);
  EXPECT_EQ(s.Field(0, 18), 0u);
  EXPECT_EQ(s.Field(18, 16), 65535u);
  EXPECT_EQ(s.Field(34, 18), 262143u);

  BitReader reader = s.Reader();
  float decoded[3] = {};
  ASSERT_TRUE(DecodeVec3(reader, QuantizationMode::Pos, decoded));
  EXPECT_EQ(reader.position, 52u);
  EXPECT_EQ(decoded[0], -1300.0f);
  EXPECT_EQ(decoded[1], 300.0f);
  EXPECT_EQ(decoded[2], 1100.0f);
}

TEST(Vec3QuantizationTest, ScaleModesPackThreeSevenBitFields) {
  for (QuantizationMode mode : {QuantizationMode::Scale, QuantizationMode::Scale2}) {
    const float v[3] = {0.1f, 10.0f, 0.42f};
    Stream s;
    ASSERT_TRUE(EncodeVec3(s.writer, mode, v));
    EXPECT_EQ(s.writer.position, 21u);
    EXPECT_EQ(s.Field(0, 7), 0u);
    EXPECT_EQ(s.Field(7, 7), 99u);
    EXPECT_EQ(s.Field(14, 7), 3u);
  }
}

TEST(Vec3QuantizationTest, OtherModesLeaveTheStreamUntouched) {
  const float v[3] = {1.0f, 2.0f, 3.0f};
  for (QuantizationMode mode :
       {QuantizationMode::None, QuantizationMode::Int, QuantizationMode::Float,
        QuantizationMode::Quat, static_cast<QuantizationMode>(9)}) {
    Stream s;
    EXPECT_FALSE(EncodeVec3(s.writer, mode, v));
    EXPECT_FALSE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);

    const uint8_t bytes[8] = {};
    BitReader reader(bytes, 8);
    float decoded[3] = {7.0f, 7.0f, 7.0f};
    EXPECT_FALSE(DecodeVec3(reader, mode, decoded));
    EXPECT_FALSE(reader.failed);
    EXPECT_EQ(reader.position, 0u);
    EXPECT_EQ(decoded[0], 7.0f);
  }
}

TEST(Vec3QuantizationTest, EveryTruncationFails) {
  const float v[3] = {12.5f, -3.0f, 800.0f};
  Stream s;
  ASSERT_TRUE(EncodeVec3(s.writer, QuantizationMode::Pos, v));
  ASSERT_EQ(s.buffer.size, 7u);
  for (uint32_t size = 0; size < 7; ++size) {
    BitReader reader(s.buffer.data, size);
    float decoded[3] = {};
    EXPECT_FALSE(DecodeVec3(reader, QuantizationMode::Pos, decoded)) << size;
    EXPECT_EQ(decoded[2], -1300.0f) << size;  // the last field never fits: the minimum
  }
}

TEST(QuatQuantizationTest, PacksFourNineBitFieldsWithoutNormalising) {
  const float q[4] = {1.0f, -1.0f, 2.0f, 0.5f};  // not unit length, and 2 clamps to 1
  Stream s;
  ASSERT_TRUE(EncodeQuat(s.writer, q));
  EXPECT_EQ(s.writer.position, 36u);
  EXPECT_EQ(s.Field(0, 9), 511u);
  EXPECT_EQ(s.Field(9, 9), 0u);
  EXPECT_EQ(s.Field(18, 9), 511u);
  EXPECT_EQ(s.Field(27, 9), 383u);
}

TEST(QuatQuantizationTest, DecodingNormalises) {
  const uint8_t zeros[5] = {};
  BitReader reader(zeros, 5);
  float q[4] = {};
  ASSERT_TRUE(DecodeQuat(reader, q));
  EXPECT_EQ(reader.position, 36u);
  for (float c : q) EXPECT_EQ(c, -0.5f);
}

TEST(QuatQuantizationTest, TruncatedStreamFails) {
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  BitReader reader(ones, 4);  // 32 of 36 bits
  float q[4] = {};
  EXPECT_FALSE(DecodeQuat(reader, q));
  EXPECT_TRUE(reader.failed);
}

TEST(QuatQuantizationTest, DecodedQuaternionsSurviveParsedNormalisationUnchanged) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<uint32_t> code(0, 511);
  for (int i = 0; i < 20000; ++i) {
    Stream s;
    for (int c = 0; c < 4; ++c) s.writer.Write(9, code(rng));
    BitReader reader = s.Reader();
    float q[4] = {};
    ASSERT_TRUE(DecodeQuat(reader, q));
    float parsed[4] = {q[0], q[1], q[2], q[3]};
    NormaliseParsedQuaternion(parsed);
    for (int c = 0; c < 4; ++c) ASSERT_EQ(Bits(parsed[c]), Bits(q[c])) << i << " " << c;
  }
}

TEST(QuatQuantizationTest, CodesDriftingUnderNaiveEncodingComeBackExactly) {
  // The normalisation moves component 2 past the midpoint between codes 489 and 490.
  const QuatCodes codes = {276, 165, 489, 213};
  const Quat decoded = DecodeQuatFields(codes);
  EXPECT_EQ(NaiveQuatFields(decoded), (QuatCodes{276, 165, 490, 213}));
  EXPECT_EQ(EncodeQuatFields(decoded), codes);
}

TEST(QuatQuantizationTest, CodesNearUnitLengthComeBackExactly) {
  // Codes a writer makes from unit quaternions, moved by up to 3 steps per component: stored
  // lengths within 2% of 1.
  std::mt19937 rng(29);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> offset(-3, 3);
  int drifting = 0;
  int checked = 0;
  while (checked < 40000) {
    double v[4];
    double sum = 0.0;
    for (double& x : v) {
      x = normal(rng);
      sum += x * x;
    }
    Quat unit;
    for (int i = 0; i < 4; ++i) unit[i] = static_cast<float>(v[i] / std::sqrt(sum));
    QuatCodes codes = NaiveQuatFields(unit);
    for (uint32_t& code : codes) {
      code = static_cast<uint32_t>(std::clamp(static_cast<int>(code) + offset(rng), 0, 511));
    }
    if (std::fabs(StoredLength(codes) - 1.0) > 0.02) continue;
    ++checked;
    const Quat decoded = DecodeQuatFields(codes);
    if (NaiveQuatFields(decoded) != codes) ++drifting;
    ASSERT_EQ(EncodeQuatFields(decoded), codes)
        << codes[0] << " " << codes[1] << " " << codes[2] << " " << codes[3];
  }
  EXPECT_GT(drifting, checked / 2);  // most of these need the search
}

TEST(QuatQuantizationTest, EveryDecodedQuaternionSurvivesAnotherRoundTrip) {
  std::mt19937_64 rng(31);
  int same_codes = 0;
  for (int i = 0; i < 40000; ++i) {
    const uint64_t bits = rng();
    QuatCodes codes;
    for (int c = 0; c < 4; ++c) codes[c] = static_cast<uint32_t>(bits >> (9 * c)) & 511u;
    const Quat decoded = DecodeQuatFields(codes);
    QuatCodes found;
    ASSERT_TRUE(FindQuatCodes(decoded.data(), found.data())) << i;
    const QuatCodes written = EncodeQuatFields(decoded);
    EXPECT_EQ(written, found);
    ASSERT_EQ(QuatBits(DecodeQuatFields(written)), QuatBits(decoded)) << i;
    if (written == codes) ++same_codes;
  }
  // Far from unit length, a few values have several encodings; the first one found is written.
  EXPECT_GT(same_codes, 39900);
}

TEST(QuatQuantizationTest, AllZeroCodesKeepTheirValueNotTheirBits) {
  const Quat decoded = DecodeQuatFields({0, 0, 0, 0});
  for (float c : decoded) EXPECT_EQ(Bits(c), Bits(-0.5f));
  // Codes 128 stand for the same direction at unit length, and are found first.
  const QuatCodes written = EncodeQuatFields(decoded);
  EXPECT_EQ(written, (QuatCodes{128, 128, 128, 128}));
  EXPECT_EQ(QuatBits(DecodeQuatFields(written)), QuatBits(decoded));
}

TEST(QuatQuantizationTest, HandTypedValuesKeepTheirNaiveCodes) {
  // Reproduced by its naive codes.
  const Quat half = {0.5f, -0.5f, 0.5f, 0.5f};
  QuatCodes found;
  EXPECT_TRUE(FindQuatCodes(half.data(), found.data()));
  EXPECT_EQ(found, (QuatCodes{383, 128, 383, 383}));
  EXPECT_EQ(EncodeQuatFields(half), NaiveQuatFields(half));
  EXPECT_EQ(QuatBits(DecodeQuatFields(found)), QuatBits(half));

  // Reproduced by no code: unit length, but not a decoded value.
  Quat typed = {0.1f, 0.2f, 0.3f, 0.9f};
  NormaliseParsedQuaternion(typed.data());
  EXPECT_FALSE(FindQuatCodes(typed.data(), found.data()));
  EXPECT_EQ(found, NaiveQuatFields(typed));
  EXPECT_EQ(EncodeQuatFields(typed), NaiveQuatFields(typed));

  // Zero components, values off unit length and NaNs are never decoded values.
  for (const Quat& q : {Quat{0.0f, 0.0f, 0.0f, 1.0f}, Quat{0.6f, 0.8f, 0.0f, 0.0f},
                        Quat{0.5f, 0.5f, 0.5f, 0.6f}, Quat{kNaN, 0.5f, 0.5f, 0.5f}}) {
    EXPECT_FALSE(FindQuatCodes(q.data(), found.data()));
    EXPECT_EQ(found, NaiveQuatFields(q));
    EXPECT_EQ(EncodeQuatFields(q), NaiveQuatFields(q));
  }
}

TEST(QuaternionNormalisationTest, ZeroQuaternionBecomesZero) {
  float q[4] = {0.0f, -0.0f, 0.0f, -0.0f};
  NormaliseQuaternion(q);
  for (float c : q) EXPECT_EQ(c, 0.0f);
  float parsed[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  NormaliseParsedQuaternion(parsed);
  for (float c : parsed) EXPECT_EQ(c, 0.0f);
}

TEST(QuaternionNormalisationTest, ScalesToUnitLength) {
  float q[4] = {2.0f, 0.0f, 0.0f, 0.0f};
  NormaliseQuaternion(q);
  EXPECT_EQ(q[0], 1.0f);
  EXPECT_EQ(q[1], 0.0f);

  float ones[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  NormaliseParsedQuaternion(ones);
  for (float c : ones) EXPECT_EQ(c, 0.5f);

  float typed[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  NormaliseParsedQuaternion(typed);
  double sum = 0.0;
  for (float c : typed) sum += static_cast<double>(c) * c;
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_NEAR(typed[3] / typed[0], 4.0f, 1e-5f);
}

TEST(QuaternionNormalisationTest, ParsedNearUnitQuaternionIsKeptExactly) {
  // 1 + 4 ulp squares to 1 + 9.5e-7: inside the tolerance, so it is kept, while the plain
  // normalisation rounds it to 1.
  const float near_one = std::bit_cast<float>(0x3F800004u);
  float parsed[4] = {near_one, 0.0f, 0.0f, 0.0f};
  NormaliseParsedQuaternion(parsed);
  EXPECT_EQ(Bits(parsed[0]), 0x3F800004u);
  float plain[4] = {near_one, 0.0f, 0.0f, 0.0f};
  NormaliseQuaternion(plain);
  EXPECT_EQ(plain[0], 1.0f);

  // 1 + 5 ulp squares to 1 + 1.19e-6: outside, so it is normalised.
  float outside[4] = {std::bit_cast<float>(0x3F800005u), 0.0f, 0.0f, 0.0f};
  NormaliseParsedQuaternion(outside);
  EXPECT_EQ(outside[0], 1.0f);
}

TEST(QuaternionNormalisationTest, NaNStaysNaN) {
  float q[4] = {kNaN, 0.0f, 0.0f, 1.0f};
  NormaliseQuaternion(q);
  EXPECT_TRUE(std::isnan(q[0]));
  EXPECT_TRUE(std::isnan(q[3]));
}
