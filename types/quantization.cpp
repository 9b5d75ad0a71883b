// types/quantization.cpp - quantized number encodings of class fields.
//
// Every floating-point step is written as one operation on a named float or double so that
// the rounding happens exactly where the stored format expects it. Integer arithmetic wraps
// around like the 32-bit machine arithmetic that produced the files; divisions go through
// 64 bits so that no parameter can make them undefined.
#include "types/quantization.h"

#include <array>
#include <bit>
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

// The largest code a field of `bits` bits holds.
uint32_t LargestCode(uint32_t bits) { return bits >= 32 ? UINT32_MAX : (1u << bits) - 1u; }

bool SameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

// A field of b bits holds 2^b codes, often more than the range needs, and the codes past the
// maximum's decode to values beyond the range (the scale set's codes 100 to 127 read as 10.1
// to 12.8). Clamping such a value would change a file on its way through a document and back,
// so a value outside the range that is exactly what one of the field's codes decodes to keeps
// that code. `decode` gives a code's value; `guess` is the code the unclamped value rounds to.
template <typename Decode>
bool FindExactFloatCode(float value, uint32_t bits, int64_t guess, Decode decode, uint32_t& code) {
  for (int64_t u = guess - 1; u <= guess + 1; ++u) {
    if (u < 0 || u > int64_t{LargestCode(bits)}) continue;
    if (SameBits(decode(static_cast<uint32_t>(u)), value)) {
      code = static_cast<uint32_t>(u);
      return true;
    }
  }
  return false;
}

bool OutsideRange(float value, float minimum, float maximum) {
  return value < minimum || value > maximum;
}

// The value of code `u` in a fixed set.
float FixedValue(const FloatQuantization& set, uint32_t u) {
  const float steps = static_cast<float>(static_cast<double>(u));
  const float product = steps * set.step;
  return product + set.minimum;
}

// The step of a fixed set that `x` rounds to, halves rounding up; x is not clamped.
uint32_t NearestFixedStep(const FloatQuantization& set, float x) {
  const float t = StepsAboveMinimum(x, set);
  const float floored = static_cast<float>(std::floor(static_cast<double>(t)));
  return static_cast<uint32_t>(FloatToInt(floored));
}

// The code of `value` in a fixed set: the nearest step, halves rounding up.
uint32_t FixedCode(const FloatQuantization& set, float value) {
  uint32_t exact = 0;
  if (OutsideRange(value, set.minimum, set.maximum) &&
      FindExactFloatCode(
          value, set.bit_count, NearestFixedStep(set, value),
          [&set](uint32_t u) { return FixedValue(set, u); }, exact)) {
    return exact;
  }
  return NearestFixedStep(set, ClampFloat(value, set.minimum, set.maximum));
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

namespace {

// The value of code `u` of an integer quantization, in the payload's width.
int32_t DecodedInt(const IntQuantization& q, uint32_t payload_bits, uint32_t u) {
  const uint32_t decoded = u * static_cast<uint32_t>(q.step) + static_cast<uint32_t>(q.minimum);
  return ReduceToWidth(decoded, payload_bits);
}

// The value of code `u` of a float quantization with a derived bit count.
float DecodedFloat(const FloatQuantization& q, uint32_t u) {
  // The step count passes through single precision before the double-precision product.
  const float steps = static_cast<float>(static_cast<double>(u));
  const double product = static_cast<double>(steps) * static_cast<double>(q.step);
  const double sum = product + static_cast<double>(q.minimum);
  return static_cast<float>(sum);
}

}  // namespace

bool EncodeQuantizedInt(BitWriter& writer, const IntQuantization& q, int32_t value,
                        uint32_t payload_bits) {
  if (writer.failed) return false;
  if (!IsValidIntQuantization(q)) {
    writer.failed = true;
    return false;
  }
  const uint32_t bits = IntQuantizationBits(q);
  if (value < q.minimum || value > q.maximum) {
    // Kept when one of the field's codes decodes to exactly this value (see FindExactFloatCode).
    const uint32_t u = static_cast<uint32_t>(Divide(WrapSub(value, q.minimum), q.step));
    if (u <= LargestCode(bits) && DecodedInt(q, payload_bits, u) == value) {
      WriteField(writer, bits, u);
      return !writer.failed;
    }
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
  WriteField(writer, bits, static_cast<uint32_t>(stored));
  return !writer.failed;
}

bool DecodeQuantizedInt(BitReader& reader, const IntQuantization& q, uint32_t payload_bits,
                        int32_t& value) {
  if (!IsValidIntQuantization(q)) {
    reader.failed = true;
  }
  uint32_t u = 0;
  if (!reader.failed) u = ReadField(reader, IntQuantizationBits(q));
  value = DecodedInt(q, payload_bits, u);
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
  const uint32_t bits = FloatQuantizationBits(q);
  uint32_t exact = 0;
  if (OutsideRange(value, q.minimum, q.maximum) &&
      FindExactFloatCode(
          value, bits, static_cast<uint32_t>(FloatToInt(StepsAboveMinimum(value, q))),
          [&q](uint32_t u) { return DecodedFloat(q, u); }, exact)) {
    WriteField(writer, bits, exact);
    return !writer.failed;
  }
  const float x = ClampFloat(value, q.minimum, q.maximum);
  uint32_t steps = static_cast<uint32_t>(FloatToInt(StepsAboveMinimum(x, q)));
  // The width only counts a half step beyond the range, so a value near a maximum that is not
  // a whole number of steps above the minimum can round up to one code more than the field
  // holds. Cut to the field it would wrap around to a small code and read back near the
  // minimum; the largest code is the nearest value the field can hold. Values decoded from a
  // field never round up past their own code, so they still encode to the same bits.
  if (bits < 32 && steps <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    if (steps > LargestCode(bits)) steps = LargestCode(bits);
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
  value = DecodedFloat(q, u);
  return !reader.failed;
}

bool EncodeFixedFloat(BitWriter& writer, const FloatQuantization& set, float value) {
  if (writer.failed) return false;
  WriteField(writer, set.bit_count, FixedCode(set, value));
  return !writer.failed;
}

bool DecodeFixedFloat(BitReader& reader, const FloatQuantization& set, float& value) {
  value = FixedValue(set, ReadField(reader, set.bit_count));
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

uint32_t Vec3Bits(QuantizationMode mode) {
  if (Vec3Set(mode, 0) == nullptr) return 0;
  uint32_t bits = 0;
  for (int i = 0; i < 3; ++i) bits += Vec3Set(mode, i)->bit_count;
  return bits;
}

namespace {

constexpr uint32_t kLargestQuatCode = (1u << kQuaternionSet.bit_count) - 1u;

// How far from 1 the double-precision sum of the squares of a decoded quaternion can lie. The
// normalisation leaves each component within about five single-precision roundings of exact,
// so the sum lies within about 6e-7 of 1; the slack is ten times wider.
constexpr double kDecodedLengthSlack = 1e-5;

// How far the value of a code may lie from q[j] * s (see Direction) when the codes decode to q.
// Three roundings bound the distance by 1.2e-7; values of neighbouring codes are 0.0039 apart.
constexpr double kDirectionSlack = 1e-5;

void NaiveQuatCodes(const float* q, uint32_t* codes) {
  for (int i = 0; i < 4; ++i) {
    codes[i] = FixedCode(kQuaternionSet, q[i]);
  }
}

bool QuatCodesReproduce(const uint32_t* codes, const float* q) {
  float decoded[4];
  DecodeQuatCodes(codes, decoded);
  for (int i = 0; i < 4; ++i) {
    if (std::bit_cast<uint32_t>(decoded[i]) != std::bit_cast<uint32_t>(q[i])) return false;
  }
  return true;
}

// A cheap test that lets values no code can decode to (hand-typed ones, mostly) skip the
// search: a decoded quaternion is finite, of unit length, and has no zero component, since no
// code of the set decodes to 0 before the normalisation.
bool CouldBeDecodedQuat(const float* q) {
  double sum = 0.0;
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(q[i]) || q[i] == 0.0f) return false;
    const double component = static_cast<double>(q[i]);
    sum = sum + component * component;
  }
  return std::fabs(sum - 1.0) <= kDecodedLengthSlack;
}

int LargestComponent(const float* q) {
  int m = 0;
  for (int i = 1; i < 4; ++i) {
    if (std::fabs(q[i]) > std::fabs(q[m])) m = i;
  }
  return m;
}

// The candidate searches below look for codes that decode to q. The values of such codes are
// q times one scale s, their length before the normalisation, to within three roundings: each
// lies within 1.2e-7 of q[j] * s. The largest component m gives s = value(c[m]) / q[m]; a
// candidate whose codes stray further than kDirectionSlack from q[j] * s cannot decode to q,
// and this test, far cheaper than a decode, rules out nearly every candidate before
// QuatCodesReproduce has the final say.
struct Direction {
  const float* q;
  int m;
  double inverse_qm;

  explicit Direction(const float* quaternion)
      : q(quaternion),
        m(LargestComponent(quaternion)),
        inverse_qm(1.0 / static_cast<double>(quaternion[m])) {}

  // The scale code k of component m stands for; not positive when k is out of range or
  // decodes to the wrong sign.
  double ScaleAt(int32_t k) const {
    if (k < 0 || k > static_cast<int32_t>(kLargestQuatCode)) return 0.0;
    const float value = FixedValue(kQuaternionSet, static_cast<uint32_t>(k));
    return static_cast<double>(value) * inverse_qm;
  }

  bool Near(uint32_t code, double target) const {
    const double value = static_cast<double>(FixedValue(kQuaternionSet, code));
    return std::fabs(value - target) <= kDirectionSlack;
  }

  bool Reproduced(const uint32_t* codes) const {
    const double s = ScaleAt(static_cast<int32_t>(codes[m]));
    if (!(s > 0.0)) return false;
    for (int j = 0; j < 4; ++j) {
      if (j != m && !Near(codes[j], static_cast<double>(q[j]) * s)) return false;
    }
    return QuatCodesReproduce(codes, q);
  }
};

struct CodeOffset {
  int8_t delta[4];
};

// The 80 combinations of -1, 0 and +1 other than all zeros, fewest changed components first;
// then by the set of changed components (component 0 as the lowest bit), then by their signs
// (-1 before +1, the first changed component varying fastest).
constexpr std::array<CodeOffset, 80> MakeNeighbourOffsets() {
  std::array<CodeOffset, 80> table{};
  size_t n = 0;
  for (int changed = 1; changed <= 4; ++changed) {
    for (uint32_t mask = 1; mask < 16; ++mask) {
      if (std::popcount(mask) != changed) continue;
      for (uint32_t signs = 0; signs < (1u << changed); ++signs) {
        CodeOffset offset{};
        uint32_t sign_bit = 0;
        for (int i = 0; i < 4; ++i) {
          if (((mask >> i) & 1u) == 0) continue;
          offset.delta[i] = ((signs >> sign_bit) & 1u) != 0 ? 1 : -1;
          ++sign_bit;
        }
        table[n++] = offset;
      }
    }
  }
  return table;
}

constexpr std::array<CodeOffset, 80> kNeighbourOffsets = MakeNeighbourOffsets();

// The first combination within one code of `naive` in every component that decodes to `q`.
// Enough for quaternions stored within about half a percent of unit length, which covers what
// writers of these files produce: their codes lie within half a step of a unit quaternion.
bool SearchNeighbourCodes(const Direction& direction, const uint32_t* naive, uint32_t* found) {
  for (const CodeOffset& offset : kNeighbourOffsets) {
    bool in_range = true;
    for (int i = 0; i < 4; ++i) {
      const int32_t code = static_cast<int32_t>(naive[i]) + offset.delta[i];
      if (code < 0 || code > static_cast<int32_t>(kLargestQuatCode)) {
        in_range = false;
        break;
      }
      found[i] = static_cast<uint32_t>(code);
    }
    if (in_range && direction.Reproduced(found)) return true;
  }
  return false;
}

uint32_t NearestQuatCode(double x) {
  constexpr double kCodesPerUnit = 1.0 / static_cast<double>(kQuaternionSet.step);
  const double steps = (x - static_cast<double>(kQuaternionSet.minimum)) * kCodesPerUnit;
  const double nearest = std::floor(steps + 0.5);
  if (!(nearest > 0.0)) return 0;
  if (nearest > static_cast<double>(kLargestQuatCode)) return kLargestQuatCode;
  return static_cast<uint32_t>(nearest);
}

// Each code k of the largest component fixes the scale, and the codes of the other components
// can only be the nearest ones to q[j] * s: one candidate per code of that component, and the
// codes decoding to q are among them whatever their length. Candidates are tried from its
// naive code outwards, taking whichever side's scale lies nearer to 1, so codes near unit
// length come first.
bool SearchAlongDirection(const Direction& direction, uint32_t* found) {
  const float* q = direction.q;
  const int m = direction.m;
  int32_t below = static_cast<int32_t>(FixedCode(kQuaternionSet, q[m]));
  int32_t above = below + 1;
  double below_scale = direction.ScaleAt(below);
  double above_scale = direction.ScaleAt(above);
  while (below_scale > 0.0 || above_scale > 0.0) {
    int32_t k = 0;
    double s = 0.0;
    if (below_scale > 0.0 &&
        (!(above_scale > 0.0) || std::fabs(below_scale - 1.0) <= std::fabs(above_scale - 1.0))) {
      k = below--;
      s = below_scale;
      below_scale = direction.ScaleAt(below);
    } else {
      k = above++;
      s = above_scale;
      above_scale = direction.ScaleAt(above);
    }
    bool along = true;
    for (int j = 0; j < 4 && along; ++j) {
      if (j == m) {
        found[j] = static_cast<uint32_t>(k);
        continue;
      }
      const double target = static_cast<double>(q[j]) * s;
      found[j] = NearestQuatCode(target);
      along = direction.Near(found[j], target);
    }
    if (along && QuatCodesReproduce(found, q)) return true;
  }
  return false;
}

}  // namespace

bool EncodeQuat(BitWriter& writer, const float* q) {
  if (writer.failed) return false;
  uint32_t codes[4];
  (void)FindQuatCodes(q, codes);  // the naive codes when nothing reproduces q
  for (int i = 0; i < 4; ++i) {
    WriteField(writer, kQuaternionSet.bit_count, codes[i]);
  }
  return !writer.failed;
}

bool DecodeQuat(BitReader& reader, float* q) {
  uint32_t codes[4];
  for (int i = 0; i < 4; ++i) {
    codes[i] = ReadField(reader, kQuaternionSet.bit_count);
  }
  DecodeQuatCodes(codes, q);
  return !reader.failed;
}

void DecodeQuatCodes(const uint32_t* codes, float* q) {
  for (int i = 0; i < 4; ++i) {
    q[i] = FixedValue(kQuaternionSet, codes[i]);
  }
  NormaliseQuaternion(q);
}

bool FindQuatCodes(const float* q, uint32_t* codes) {
  NaiveQuatCodes(q, codes);
  if (QuatCodesReproduce(codes, q)) return true;
  if (!CouldBeDecodedQuat(q)) return false;
  uint32_t found[4];
  const Direction direction(q);
  if (!SearchNeighbourCodes(direction, codes, found) && !SearchAlongDirection(direction, found)) {
    return false;
  }
  for (int i = 0; i < 4; ++i) codes[i] = found[i];
  return true;
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
