// tests/types/quantization_test.cpp - quantized encodings: bit patterns, round trips, limits.
#include "types/quantization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"

namespace {

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

struct Stream {
  ByteBuffer buffer;
  BitWriter writer{buffer};

  BitReader Reader() const { return BitReader(buffer.data, buffer.size); }
  uint32_t Field(uint32_t position, uint32_t n) const {
    BitReader reader = Reader();
    reader.position = position;
    return reader.Read(n);
  }
};

uint32_t Written(const Stream& s, uint32_t bits) {
  EXPECT_EQ(s.writer.position, bits);
  return bits == 0 ? 0 : s.Field(0, bits);
}

uint32_t EncodeIntField(const IntQuantization& q, int32_t value, uint32_t width = 32) {
  Stream s;
  EXPECT_TRUE(EncodeQuantizedInt(s.writer, q, value, width));
  return Written(s, IntQuantizationBits(q));
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
  return Written(s, FloatQuantizationBits(q));
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
  return Written(s, set.bit_count);
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

QuatCodes NaiveQuatFields(const Quat& q) {
  QuatCodes codes = {};
  for (int i = 0; i < 4; ++i) codes[i] = EncodeFixedField(kQuaternionSet, q[i]);
  return codes;
}

std::array<uint32_t, 4> QuatBits(const Quat& q) {
  return {Bits(q[0]), Bits(q[1]), Bits(q[2]), Bits(q[3])};
}

double StoredLength(const QuatCodes& codes) {
  double sum = 0.0;
  for (uint32_t code : codes) {
    const double value = kQuaternionSet.minimum + code * static_cast<double>(kQuaternionSet.step);
    sum += value * value;
  }
  return std::sqrt(sum);
}

}  // namespace

TEST(QuantizationTest, EncodesDocumentedBitPatterns) {
  const IntQuantization even{0, 10, 2};
  const IntQuantization wide{-1000, 1000, 1};
  const FloatQuantization twos{0.0f, 10.0f, 2.0f};
  const float tenth = std::bit_cast<float>(0x3DCCCCCDu);
  const float pos[3] = {-1300.0f, 300.0f, 1100.0f};
  const float scale[3] = {0.1f, 10.0f, 0.42f};
  const float quat[4] = {1.0f, -1.0f, 2.0f, 0.5f};
  Stream vec3, scale2, quat_s, dyn5, dyn_max, dyn200;
  ASSERT_TRUE(EncodeVec3(vec3.writer, QuantizationMode::Pos, pos));
  ASSERT_TRUE(EncodeVec3(scale2.writer, QuantizationMode::Scale2, scale));
  ASSERT_TRUE(EncodeQuat(quat_s.writer, quat));
  ASSERT_TRUE(EncodeDynValInt(dyn5.writer, 5));
  ASSERT_TRUE(EncodeDynValInt(dyn_max.writer, kMax32));
  ASSERT_TRUE(EncodeDynValInt(dyn200.writer, 200));
  BitReader dyn200_reader = dyn200.Reader();
  int32_t dyn200_byte = 0;
  ASSERT_TRUE(DecodeDynValInt(dyn200_reader, 8, dyn200_byte));

  struct Case {
    const char* name;
    int64_t actual;
    int64_t expected;
  };
  const Case cases[] = {
      {"BitLength(2^31)", BitLength(0x80000000u), 32},
      {"FloatToInt(-2.9)", FloatToInt(-2.9f), -2},
      {"FloatToInt(2^32+2^18)", FloatToInt(4294967296.0f + 262144.0f), 262144},
      {"FloatToInt(3e9)", FloatToInt(3000000000.0f), static_cast<int32_t>(3000000000u)},
      {"FloatToInt(-2^63)", FloatToInt(-9223372036854775808.0f), 0},
      {"FloatToInt(2^63)", FloatToInt(9223372036854775808.0f), 0},
      {"FloatToInt(NaN)", FloatToInt(kNaN), 0},
      {"int bits 0..100/3", IntQuantizationBits({0, 100, 3}), 6},
      {"int bits full", IntQuantizationBits({kMin32, kMax32, 1}), 32},
      {"int 7", EncodeIntField(even, 7), 3},
      {"int 7 back", IntRoundTrip(even, 7), 6},
      {"int 11", EncodeIntField(even, 11), 5},
      {"int -4", EncodeIntField(even, -4), 0},
      {"int min32", EncodeIntField({-10, 10, 1}, kMin32), 0},
      {"int max32", EncodeIntField({-10, 10, 1}, kMax32), 20},
      {"int zero bits", IntRoundTrip({5, 5, 1}, 123), 5},
      {"byte minimum outside", EncodeIntField({200, 300, 1}, 5, 8), 0},
      {"byte minimum outside back", IntRoundTrip({200, 300, 1}, 5, 8), -56},
      {"byte steps sign-extended", EncodeIntField(wide, -1, 8), 0x7E7},
      {"byte -128", EncodeIntField(wide, -128, 8), 104},
      {"short -32768 back", IntRoundTrip({-40000, 40000, 1}, -32768, 16), -32768},
      {"dyn 5 length", dyn5.writer.position, 8},
      {"dyn 5", dyn5.Field(0, 8), 3u | (5u << 5)},
      {"dyn max", dyn_max.writer.position, 36},
      {"dyn max payload", dyn_max.Field(5, 31), kMax32},
      {"dyn 200 as byte", dyn200_byte, -56},
      {"float bits 0..12/4", FloatQuantizationBits({0.0f, 12.0f, 4.0f}), 3},
      {"float bits 0..1/0.01", FloatQuantizationBits({0.0f, 1.0f, 0.01f}), 7},
      {"float 5", EncodeFloatField({0.0f, 12.0f, 4.0f}, 5.0f), 1},
      {"float half up", EncodeFloatField(twos, 3.0f), 2},
      {"float 2.9", EncodeFloatField(twos, 2.9f), 1},
      {"float -inf", EncodeFloatField(twos, -kInf), 0},
      {"float inf", EncodeFloatField(twos, kInf), 5},
      {"float NaN", EncodeFloatField({-3.0f, 5.0f, 0.5f}, kNaN), 0},
      {"float code 2", Bits(DecodeFloatField(twos, 2)), Bits(4.0f)},
      {"float zero bits", Bits(DecodeFloatField({0.0f, 0.4f, 1.0f}, 0)), Bits(0.0f)},
      {"float double product", Bits(DecodeFloatField({tenth, 10.0f, tenth}, 99)), 0x41200000},
      {"x step", Bits(kPositionXSet.step), 0x3C160026},
      {"y step", Bits(kPositionYSet.step), 0x3BAF00AF},
      {"quat step", Bits(kQuaternionSet.step), 0x3B804020},
      {"scale step", Bits(kScaleSet.step), 0x3DCCCCCD},
      {"x 262143", Bits(DecodeFixedField(kPositionXSet, 262143)), Bits(1100.0f)},
      {"scale 0.05", EncodeFixedField(kScaleSet, 0.05f), 0},
      {"scale 1000", EncodeFixedField(kScaleSet, 1000.0f), 99},
      {"scale 99", Bits(DecodeFixedField(kScaleSet, 99)), 0x41200001},
      {"quat NaN", EncodeFixedField(kQuaternionSet, kNaN), 0},
      {"quat code 0", Bits(DecodeFixedField(kQuaternionSet, 0)), Bits(-1.0f)},
      {"pos length", vec3.writer.position, 52},
      {"pos x, y", vec3.Field(0, 18) | (int64_t{vec3.Field(18, 16)} << 18), 65535ll << 18},
      {"pos z", vec3.Field(34, 18), 262143},
      {"scale2 length", scale2.writer.position, 21},
      {"scale2", scale2.Field(0, 21), 0 | (99 << 7) | (3 << 14)},
      {"quat length", quat_s.writer.position, 36},
      {"quat 0, 1", quat_s.Field(0, 18), 511},
      {"quat 2, 3", quat_s.Field(18, 18), 511 | (383 << 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual, c.expected);
  }
  EXPECT_STREQ(QuantizationModeName(7), "QuantizationMode_Quat");
  EXPECT_STREQ(QuantizationModeName(8), "QuantizationMode_None");
}

TEST(QuantizationTest, RefusesBadParameters) {
  struct Case {
    uint32_t mode;
    IntQuantization i;
    FloatQuantization f;
  };
  const Case cases[] = {
      {1, {0, 10, 0}, {}},          {1, {kMin32, 0, -1}, {}},      {1, {kMin32, kMax32, -1}, {}},
      {2, {}, {0.0f, 10.0f, 0.0f}}, {2, {}, {0.0f, 10.0f, -0.0f}}, {2, {}, {kNaN, 10.0f, 1.0f}},
      {2, {}, {0.0f, kNaN, 1.0f}},  {2, {}, {0.0f, 10.0f, kNaN}},  {2, {}, {-kInf, 10.0f, 1.0f}},
      {2, {}, {0.0f, kInf, 1.0f}},  {2, {}, {0.0f, 10.0f, kInf}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << ": " << c.i.step << " " << c.f.minimum << " "
                                    << c.f.maximum << " " << c.f.step);
    EXPECT_FALSE(IsValidFieldQuantization(c.mode, c.i, c.f));
    Stream s;
    const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader(ones, 4);
    if (c.mode == 1) {
      EXPECT_EQ(IntQuantizationBits(c.i), 0u);
      EXPECT_FALSE(EncodeQuantizedInt(s.writer, c.i, 0, 32));
      int32_t value = 1;
      EXPECT_FALSE(DecodeQuantizedInt(reader, c.i, 32, value));
    } else {
      EXPECT_EQ(FloatQuantizationBits(c.f), 0u);
      EXPECT_FALSE(EncodeQuantizedFloat(s.writer, c.f, 1.0f));
      float value = 0.0f;
      EXPECT_FALSE(DecodeQuantizedFloat(reader, c.f, value));
    }
    EXPECT_TRUE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);
    EXPECT_TRUE(reader.failed);
    EXPECT_EQ(reader.position, 0u);
  }
  EXPECT_TRUE(IsValidIntQuantization({kMin32, 0, -2}));
  EXPECT_TRUE(IsValidFieldQuantization(1, {0, 10, 1}, {kNaN, 0.0f, 0.0f}));
  EXPECT_TRUE(IsValidFieldQuantization(2, {0, 0, 0}, {0.0f, 1.0f, 0.1f}));
  for (uint32_t mode : {0u, 3u, 7u, 9u}) {
    EXPECT_TRUE(IsValidFieldQuantization(mode, {0, 0, 0}, {kNaN, 0.0f, 0.0f})) << mode;
  }
}

TEST(FloatQuantizationTest, MaximumBeyondTheLastCodeSaturates) {
  // 3.8 / 0.5 + 0.25 = 7.85: 3 bits, but 3.8 rounds to code 8, which would wrap to 0.
  const FloatQuantization q{0.0f, 3.8f, 0.5f};
  EXPECT_EQ(FloatQuantizationBits(q), 3u);
  EXPECT_EQ(EncodeFloatField(q, 3.8f), 7u);
  EXPECT_EQ(EncodeFloatField(q, 3.76f), 7u);
  EXPECT_EQ(EncodeFloatField(q, 3.2f), 6u);
  EXPECT_EQ(DecodeFloatField(q, 7), 3.5f);
}

TEST(QuantizationTest, CodesPastTheMaximumComeBackAndOtherValuesStillClamp) {
  // Fields hold more codes than their range needs: 7 scale bits hold 28 codes past 10, and
  // 3 bits of {0, 10, 2} hold 12 and 14. What a file's code decodes to must encode back to it.
  for (uint32_t u = 0; u < 128; ++u) {
    EXPECT_EQ(EncodeFixedField(kScaleSet, DecodeFixedField(kScaleSet, u)), u) << u;
  }
  const FloatQuantization float_q{0.0f, 10.0f, 2.0f};
  const IntQuantization int_q{0, 10, 2};
  for (uint32_t u = 0; u < 8; ++u) {
    EXPECT_EQ(EncodeFloatField(float_q, DecodeFloatField(float_q, u)), u) << u;
    EXPECT_EQ(EncodeIntField(int_q, static_cast<int32_t>(2 * u)), u) << u;
  }
  EXPECT_EQ(EncodeFixedField(kScaleSet, 12.85f), 99u);
  EXPECT_EQ(EncodeFixedField(kScaleSet, 0.05f), 0u);
  EXPECT_EQ(EncodeFloatField(float_q, 13.0f), 5u);
  EXPECT_EQ(EncodeFloatField(float_q, 100.0f), 5u);
  EXPECT_EQ(EncodeIntField(int_q, 13), 5u);
  EXPECT_EQ(EncodeIntField(int_q, 16), 5u);
  EXPECT_EQ(EncodeIntField(int_q, -2), 0u);
}

TEST(DynValIntTest, NegativeValuesCannotBeStored) {
  for (int32_t v : {-1, kMin32}) {
    Stream s;
    EXPECT_FALSE(EncodeDynValInt(s.writer, v)) << v;
    EXPECT_TRUE(s.writer.failed);
    EXPECT_EQ(s.writer.position, 0u);
  }
}

TEST(QuantizationTest, EveryTruncationFails) {
  struct Case {
    const char* name;
    uint32_t bits;
    std::function<bool(BitReader&)> fails_with_default;
  };
  const Case cases[] = {
      {"int", 8,
       [](BitReader& r) {
         int32_t v = 0;
         return !DecodeQuantizedInt(r, {7, 262, 1}, 32, v) && v == 7;
       }},
      {"float", 8,
       [](BitReader& r) {
         float v = 0.0f;
         return !DecodeQuantizedFloat(r, {-2.5f, 100.0f, 0.5f}, v) && v == -2.5f;
       }},
      {"dynvalint", 36,
       [](BitReader& r) {
         int32_t v = 7;
         return !DecodeDynValInt(r, 32, v);
       }},
      {"pos", 52,
       [](BitReader& r) {
         float v[3] = {};
         return !DecodeVec3(r, QuantizationMode::Pos, v) && v[2] == -1300.0f;
       }},
      {"quat", 36,
       [](BitReader& r) {
         float q[4] = {};
         return !DecodeQuat(r, q);
       }},
  };
  const uint8_t ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (const Case& c : cases) {
    for (uint32_t start = 0; start < 8; ++start) {
      for (uint32_t size = 0; size * 8 < start + c.bits; ++size) {
        SCOPED_TRACE(testing::Message() << c.name << " at " << start << " in " << size);
        BitReader reader(ones, size);
        reader.position = start;
        EXPECT_TRUE(c.fails_with_default(reader));
        EXPECT_TRUE(reader.failed);
      }
    }
  }
}

TEST(IntQuantizationTest, RandomValuesDecodeToTheStepAtOrBelow) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> minimum_of(-1000000, 1000000);
  std::uniform_int_distribution<int32_t> step_of(1, 1000);
  std::uniform_int_distribution<int32_t> steps_of(0, 100000);
  std::uniform_int_distribution<int32_t> any(kMin32, kMax32);
  for (int i = 0; i < 300; ++i) {
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
    const int32_t full = any(rng);
    ASSERT_EQ(IntRoundTrip({kMin32, kMax32, 1}, full), full);
    ASSERT_EQ(IntRoundTrip({-1000, 1000, 1}, static_cast<int8_t>(full), 8),
              static_cast<int8_t>(full));
  }
}

TEST(FloatQuantizationTest, RandomValuesRoundToNearestStep) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> minimum_of(-1000.0f, 1000.0f);
  std::uniform_real_distribution<float> step_of(0.001f, 10.0f);
  std::uniform_int_distribution<int> steps_of(1, 100000);
  for (int i = 0; i < 300; ++i) {
    FloatQuantization q;
    q.minimum = minimum_of(rng);
    q.step = step_of(rng);
    q.maximum = q.minimum + q.step * static_cast<float>(steps_of(rng));
    std::uniform_real_distribution<float> value_of(q.minimum, q.maximum);
    const float x = value_of(rng);

    const uint32_t code = EncodeFloatField(q, x);
    const float decoded = DecodeFloatField(q, code);
    ASSERT_LE(std::fabs(decoded - x),
              q.step * 0.5f + (std::fabs(x) + std::fabs(q.minimum)) * 2.5e-7f)
        << q.minimum << " " << q.maximum << " " << q.step << " " << x;
    ASSERT_EQ(EncodeFloatField(q, decoded), code) << x;
  }
}

TEST(FixedSetTest, RandomValuesRoundToNearestStepAndCodesComeBack) {
  std::mt19937 rng(13);
  for (const FloatQuantization& set : {kPositionXSet, kPositionYSet, kScaleSet, kQuaternionSet}) {
    const uint32_t last = set.bit_count == 7 ? 99u : (1u << set.bit_count) - 1u;
    std::uniform_real_distribution<float> value_of(set.minimum, set.maximum);
    std::uniform_int_distribution<uint32_t> code_of(0, last);
    for (int i = 0; i < 150; ++i) {
      const float x = value_of(rng);
      const float decoded = DecodeFixedField(set, EncodeFixedField(set, x));
      ASSERT_LE(std::fabs(decoded - x),
                set.step * 0.5f + (std::fabs(x) + std::fabs(set.minimum)) * 2.5e-7f)
          << set.bit_count << " " << x;
      const uint32_t u = i < 2 ? i * last : code_of(rng);
      const float value = DecodeFixedField(set, u);
      ASSERT_GE(value, set.minimum);
      ASSERT_LE(value, set.maximum * 1.000001f);
      ASSERT_EQ(EncodeFixedField(set, value), u) << set.bit_count << " " << u;
    }
  }
}

TEST(QuatQuantizationTest, EveryDecodedQuaternionSurvivesAnotherRoundTrip) {
  std::mt19937_64 rng(31);
  int same_codes = 0;
  for (int i = 0; i < 500; ++i) {
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
    Quat parsed = decoded;
    NormaliseParsedQuaternion(parsed.data());
    ASSERT_EQ(QuatBits(parsed), QuatBits(decoded)) << i;
  }
  // Far from unit length, a few values have several encodings; the first one found is written.
  EXPECT_GT(same_codes, 495);
}

TEST(QuatQuantizationTest, CodesDriftingUnderNaiveEncodingComeBackExactly) {
  // The normalisation moves component 2 past the midpoint between codes 489 and 490.
  const QuatCodes codes = {276, 165, 489, 213};
  const Quat decoded = DecodeQuatFields(codes);
  EXPECT_EQ(NaiveQuatFields(decoded), (QuatCodes{276, 165, 490, 213}));
  EXPECT_EQ(EncodeQuatFields(decoded), codes);
}

TEST(QuatQuantizationTest, CodesNearUnitLengthComeBackExactly) {
  // Codes of unit quaternions moved by up to 3 steps per component: lengths within 2% of 1.
  std::mt19937 rng(29);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> offset(-3, 3);
  int drifting = 0;
  int checked = 0;
  while (checked < 400) {
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

TEST(QuatQuantizationTest, AllZeroCodesKeepTheirValueNotTheirBits) {
  const Quat decoded = DecodeQuatFields({0, 0, 0, 0});
  for (float c : decoded) EXPECT_EQ(Bits(c), Bits(-0.5f));
  // Codes 128 stand for the same direction at unit length, and are found first.
  const QuatCodes written = EncodeQuatFields(decoded);
  EXPECT_EQ(written, (QuatCodes{128, 128, 128, 128}));
  EXPECT_EQ(QuatBits(DecodeQuatFields(written)), QuatBits(decoded));
}

TEST(QuatQuantizationTest, HandTypedValuesKeepTheirNaiveCodes) {
  const Quat half = {0.5f, -0.5f, 0.5f, 0.5f};
  QuatCodes found;
  EXPECT_TRUE(FindQuatCodes(half.data(), found.data()));
  EXPECT_EQ(found, (QuatCodes{383, 128, 383, 383}));
  EXPECT_EQ(EncodeQuatFields(half), NaiveQuatFields(half));
  EXPECT_EQ(QuatBits(DecodeQuatFields(found)), QuatBits(half));

  Quat typed = {0.1f, 0.2f, 0.3f, 0.9f};
  NormaliseParsedQuaternion(typed.data());
  for (const Quat& q : {typed, Quat{0.0f, 0.0f, 0.0f, 1.0f}, Quat{0.6f, 0.8f, 0.0f, 0.0f},
                        Quat{0.5f, 0.5f, 0.5f, 0.6f}, Quat{kNaN, 0.5f, 0.5f, 0.5f}}) {
    EXPECT_FALSE(FindQuatCodes(q.data(), found.data()));
    EXPECT_EQ(found, NaiveQuatFields(q));
    EXPECT_EQ(EncodeQuatFields(q), NaiveQuatFields(q));
  }
}

TEST(QuaternionNormalisationTest, KeepsParsedNearUnitValuesZeroAndNaN) {
  // 1 + 4 ulp squares to 1 + 9.5e-7: kept; 1 + 5 ulp squares to 1 + 1.19e-6: normalised.
  float parsed[4] = {std::bit_cast<float>(0x3F800004u), 0.0f, 0.0f, 0.0f};
  NormaliseParsedQuaternion(parsed);
  EXPECT_EQ(Bits(parsed[0]), 0x3F800004u);
  NormaliseQuaternion(parsed);
  EXPECT_EQ(parsed[0], 1.0f);
  float outside[4] = {std::bit_cast<float>(0x3F800005u), 0.0f, 0.0f, 0.0f};
  NormaliseParsedQuaternion(outside);
  EXPECT_EQ(outside[0], 1.0f);

  float zero[4] = {0.0f, -0.0f, 0.0f, -0.0f};
  NormaliseParsedQuaternion(zero);
  for (float c : zero) EXPECT_EQ(c, 0.0f);
  float nan[4] = {kNaN, 0.0f, 0.0f, 1.0f};
  NormaliseQuaternion(nan);
  EXPECT_TRUE(std::isnan(nan[3]));
}
