// types/quantization.cpp - quantized number encodings of class fields.
//
// Every floating-point step is written as one operation on a named float or double so that
// the rounding happens exactly where the stored format expects it. Integer arithmetic wraps
// around like the 32-bit machine arithmetic that produced the files; divisions go through
// 64 bits so that no parameter can make them undefined.
#include "types/quantization.h"

#include <cassert>
#include <cmath>
#include <limits>

#include "foundation/bit_stream.h"

namespace {

constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

// The low `width` bits of `value`, sign-extended (width 8, 16 or 32).
int32_t ReduceToWidth(uint32_t value, uint32_t width) {
  assert(width == 8 || width == 16 || width == 32);
  if (width >= 32) return static_cast<int32_t>(value);
  const uint32_t sign = 1u << (width - 1);
  const uint32_t low = value & ((1u << width) - 1u);
  return static_cast<int32_t>((low ^ sign) - sign);
}

// Signed 32-bit division truncating toward zero; the quotient keeps its low 32 bits, so
// -2^31 / -1 wraps to -2^31 instead of trapping. The divisor is never 0 here.
int32_t Divide(int32_t dividend, int32_t divisor) {
  const int64_t quotient = static_cast<int64_t>(dividend) / static_cast<int64_t>(divisor);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(quotient)));
}

int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Reads a field of `bits` bits (0..32); a width of 0 reads nothing and yields 0.
uint32_t ReadField(BitReader& reader, uint32_t bits) {
  assert(bits <= 32);
  if (bits == 0) return 0;
  return reader.Read(bits);
}

void WriteField(BitWriter& writer, uint32_t bits, uint32_t value) {
  assert(bits <= 32);
  if (bits != 0) writer.Write(bits, value);
}

// The order of the comparisons matters: a NaN fails both and is kept.
float ClampFloat(float x, float minimum, float maximum) {
  if (minimum > x) return minimum;
  if (x > maximum) return maximum;
  return x;
}

// ((x - minimum) + step * 0.5) / step, each operation rounded to single precision.
float StepsAboveMinimum(float x, const FloatQuantization& q) {
  const float offset = x - q.minimum;
  const float half_step = q.step * 0.5f;
  const float shifted = offset + half_step;
  return shifted / q.step;
}

const FloatQuantization* Vec3Set(QuantizationMode mode, int component) {
  switch (mode) {
    case QuantizationMode::Pos:
      return component == 0 ? &kPositionXSet : component == 1 ? &kPositionYSet : &kPositionZSet;
    case QuantizationMode::Scale:
    case QuantizationMode::Scale2:
      return &kScaleSet;
    default:
      return nullptr;
  }
}

}  // namespace

const char* QuantizationModeName(uint32_t code) {
  switch (static_cast<QuantizationMode>(code)) {
    case QuantizationMode::Int:
      return "QuantizationMode_Int";
    case QuantizationMode::Float:
      return "QuantizationMode_Float";
    case QuantizationMode::DynValInt:
      return "QuantizationMode_DynValInt";
    case QuantizationMode::Pos:
      return "QuantizationMode_Pos";
    case QuantizationMode::Scale:
      return "QuantizationMode_Scale";
    case QuantizationMode::Scale2:
      return "QuantizationMode_Scale2";
    case QuantizationMode::Quat:
      return "QuantizationMode_Quat";
    case QuantizationMode::None:
      break;
  }
  return "QuantizationMode_None";
}

uint32_t BitLength(uint32_t n) { return static_cast<uint32_t>(std::bit_width(n)); }

int32_t FloatToInt(float x) {
  // -2^63 and 2^63 are exact in single precision; a NaN fails the test.
  constexpr float kTwoTo63 = 9223372036854775808.0f;
  if (!(x >= -kTwoTo63 && x < kTwoTo63)) return 0;
  const int64_t truncated = static_cast<int64_t>(x);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(truncated)));
}

bool IsValidIntQuantization(const IntQuantization& q) {
  if (q.step == 0) return false;
  if (q.step == -1 && q.minimum == kInt32Min) return false;
  return true;
}

bool IsValidFloatQuantization(const FloatQuantization& q) {
  return std::isfinite(q.minimum) && std::isfinite(q.maximum) && std::isfinite(q.step) &&
         q.step != 0.0f;
}

bool IsValidFieldQuantization(uint32_t mode, const IntQuantization& int_q,
                              const FloatQuantization& float_q) {
  switch (static_cast<QuantizationMode>(mode)) {
    case QuantizationMode::Int:
      return IsValidIntQuantization(int_q);
    case QuantizationMode::Float:
      return IsValidFloatQuantization(float_q);
    default:
      return true;
  }
}

uint32_t IntQuantizationBits(const IntQuantization& q) {
  if (!IsValidIntQuantization(q)) return 0;
  const int32_t range = Divide(WrapSub(q.maximum, q.minimum), q.step);
  const int32_t half = Divide(q.step, 2);
  return BitLength(static_cast<uint32_t>(range) + static_cast<uint32_t>(half));
}

uint32_t FloatQuantizationBits(const FloatQuantization& q) {
  if (!IsValidFloatQuantization(q)) return 0;
  // The half step is added after the division, not half of one unit.
  const float span = q.maximum - q.minimum;
  const float range = span / q.step;
  const float half_step = q.step * 0.5f;
  const float n = range + half_step;
  return BitLength(static_cast<uint32_t>(FloatToInt(n)));
}

bool EncodeQuantizedInt(BitWriter& writer, const IntQuantization& q, int32_t value,
                        uint32_t payload_bits) {
  if (writer.failed) return false;
  if (!IsValidIntQuantization(q)) {
    writer.failed = true;
    return false;
  }
  int32_t v = value;
  if (v < q.minimum) {
    v = q.minimum;
  } else if (v > q.maximum) {
    v = q.maximum;
  }
  // The clamped value lives in the payload, which matters only when the minimum or the
  // maximum lies outside the payload's range.
  v = ReduceToWidth(static_cast<uint32_t>(v), payload_bits);
  const int32_t steps = Divide(WrapSub(v, q.minimum), q.step);
  const int32_t stored = ReduceToWidth(static_cast<uint32_t>(steps), payload_bits);
  WriteField(writer, IntQuantizationBits(q), static_cast<uint32_t>(stored));
  return !writer.failed;
}

bool DecodeQuantizedInt(BitReader& reader, const IntQuantization& q, uint32_t payload_bits,
                        int32_t& value) {
  if (!IsValidIntQuantization(q)) {
    reader.failed = true;
  }
  uint32_t u = 0;
  if (!reader.failed) u = ReadField(reader, IntQuantizationBits(q));
  const uint32_t decoded = u * static_cast<uint32_t>(q.step) + static_cast<uint32_t>(q.minimum);
  value = ReduceToWidth(decoded, payload_bits);
  return !reader.failed;
}

bool EncodeDynValInt(BitWriter& writer, int32_t value) {
  if (writer.failed) return false;
  // The 5-bit width cannot express 32 bits, so negative payloads have no encoding.
  if (value < 0) {
    writer.failed = true;
    return false;
  }
  writer.WriteVarUInt(static_cast<uint32_t>(value));
  return !writer.failed;
}

bool DecodeDynValInt(BitReader& reader, uint32_t payload_bits, int32_t& value) {
  value = ReduceToWidth(reader.ReadVarUInt(), payload_bits);
  return !reader.failed;
}

bool EncodeQuantizedFloat(BitWriter& writer, const FloatQuantization& q, float value) {
  if (writer.failed) return false;
  if (!IsValidFloatQuantization(q)) {
    writer.failed = true;
    return false;
  }
  const float x = ClampFloat(value, q.minimum, q.maximum);
  const uint32_t bits = FloatQuantizationBits(q);
  uint32_t steps = static_cast<uint32_t>(FloatToInt(StepsAboveMinimum(x, q)));
  // The width only counts a half step beyond the range, so a value near a maximum that is not
  // a whole number of steps above the minimum can round up to one code more than the field
  // holds. Cut to the field it would wrap around to a small code and read back near the
  // minimum; the largest code is the nearest value the field can hold. Values decoded from a
  // field never round up past their own code, so they still encode to the same bits.
  if (bits < 32 && steps <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    const uint32_t largest = (1u << bits) - 1u;
    if (steps > largest) steps = largest;
  }
  WriteField(writer, bits, steps);
  return !writer.failed;
}

bool DecodeQuantizedFloat(BitReader& reader, const FloatQuantization& q, float& value) {
  if (!IsValidFloatQuantization(q)) {
    reader.failed = true;
  }
  uint32_t u = 0;
  if (!reader.failed) u = ReadField(reader, FloatQuantizationBits(q));
  // The step count passes through single precision before the double-precision product.
  const float steps = static_cast<float>(static_cast<double>(u));
  const double product = static_cast<double>(steps) * static_cast<double>(q.step);
  const double sum = product + static_cast<double>(q.minimum);
  value = static_cast<float>(sum);
  return !reader.failed;
}

bool EncodeFixedFloat(BitWriter& writer, const FloatQuantization& set, float value) {
  if (writer.failed) return false;
  const float x = ClampFloat(value, set.minimum, set.maximum);
  const float t = StepsAboveMinimum(x, set);
  const float floored = static_cast<float>(std::floor(static_cast<double>(t)));
  WriteField(writer, set.bit_count, static_cast<uint32_t>(FloatToInt(floored)));
  return !writer.failed;
}

bool DecodeFixedFloat(BitReader& reader, const FloatQuantization& set, float& value) {
  const uint32_t u = ReadField(reader, set.bit_count);
  const float steps = static_cast<float>(static_cast<double>(u));
  const float product = steps * set.step;
  value = product + set.minimum;
  return !reader.failed;
}

bool EncodeVec3(BitWriter& writer, QuantizationMode mode, const float* v) {
  if (Vec3Set(mode, 0) == nullptr) return false;
  for (int i = 0; i < 3; ++i) {
    (void)EncodeFixedFloat(writer, *Vec3Set(mode, i), v[i]);
  }
  return !writer.failed;
}

bool DecodeVec3(BitReader& reader, QuantizationMode mode, float* v) {
  if (Vec3Set(mode, 0) == nullptr) return false;
  for (int i = 0; i < 3; ++i) {
    (void)DecodeFixedFloat(reader, *Vec3Set(mode, i), v[i]);
  }
  return !reader.failed;
}

bool EncodeQuat(BitWriter& writer, const float* q) {
  for (int i = 0; i < 4; ++i) {
    (void)EncodeFixedFloat(writer, kQuaternionSet, q[i]);
  }
  return !writer.failed;
}

bool DecodeQuat(BitReader& reader, float* q) {
  for (int i = 0; i < 4; ++i) {
    (void)DecodeFixedFloat(reader, kQuaternionSet, q[i]);
  }
  NormaliseQuaternion(q);
  return !reader.failed;
}

void NormaliseQuaternion(float* q) {
  float sum = q[0] * q[0];
  for (int i = 1; i < 4; ++i) {
    const float square = q[i] * q[i];
    sum = sum + square;
  }
  const float length = static_cast<float>(std::sqrt(static_cast<double>(sum)));
  if (length == 0.0f) {
    for (int i = 0; i < 4; ++i) q[i] = 0.0f;
    return;
  }
  const float inverse = 1.0f / length;
  for (int i = 0; i < 4; ++i) q[i] = q[i] * inverse;
}

void NormaliseParsedQuaternion(float* q) {
  double sum = 0.0;
  for (int i = 0; i < 4; ++i) {
    const double component = static_cast<double>(q[i]);
    const double square = component * component;
    sum = sum + square;
  }
  if (std::fabs(sum - 1.0) <= kUnitQuaternionTolerance) return;
  NormaliseQuaternion(q);
}
