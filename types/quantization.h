// types/quantization.h - quantized number encodings of class fields.
//
// A field may store its numbers in fewer bits than their natural width. The field carries a
// QuantizationMode; Int and Float take their parameters from the field (IntQuantization,
// FloatQuantization), Pos, Scale, Scale2 and Quat use the fixed sets below, DynValInt needs none.
// Every encoded value is one unsigned bit field (LSB first, no padding) of a width derived from
// the parameters; a width of 0 writes and reads nothing and the value decodes as the minimum.
// Out-of-range values are clamped to [minimum, maximum], never reported.
//
// Field widths:
//
//   Mode            Code  Bits per value                                   Parameters
//   --------------  ----  -----------------------------------------------  -----------------
//   None               0  raw (the value type's own width)                 -
//   Int                1  BitLength(range + half)                          IntQuantization
//                           range = (maximum - minimum) / step   (int32, truncating)
//                           half  = step / 2                     (int32, truncating)
//   Float              2  BitLength(FloatToInt(range + half))              FloatQuantization
//                           range = (maximum - minimum) / step   (float)
//                           half  = step * 0.5                   (float)
//   DynValInt          3  VarUInt: 5-bit width w, then w bits (0..2^31-1)  -
//   Pos                4  X 18 + Y 16 + Z 18 = 52 per cVector3             kPositionX/Y/ZSet
//   Scale, Scale2    5,6  7 + 7 + 7 = 21 per cVector3                      kScaleSet
//   Quat               7  9 + 9 + 9 + 9 = 36 per cQuat                     kQuaternionSet
//
// Fixed sets (single precision; the step is given by its bit pattern):
//
//   Set                  Minimum            Maximum  Step                      Bits
//   -------------------  -----------------  -------  ------------------------  ----
//   position X, Z        -1300              1100     0x3C160026 (~0.00915531)    18
//   position Y           -50                300      0x3BAF00AF (~0.00534066)    16
//   scale                0.1 (0x3DCCCCCD)   10       0x3DCCCCCD (0.1)             7
//   quaternion           -1                 1        0x3B804020 (~0.00391389)     9
//
// Arithmetic (bit-exact, no fused multiply-add):
//
//   Int encode    v = clamp(value) reduced to the payload width; q = (v - minimum) / step
//                 (int32, wrap-around subtraction, truncating division); q reduced to the
//                 payload width and sign-extended; its low `bits` bits written.
//   Int decode    u * step + minimum, int32 wrap-around, reduced to the payload width.
//   Float encode  q = FloatToInt(((x - minimum) + step * 0.5) / step), all float; a
//                 non-negative q above the largest code of the field is stored as that code.
//   Float decode  float(double(u)) widened to double, * double(step) + double(minimum),
//                 rounded to float.
//   Fixed encode  t = ((x - minimum) + step * 0.5) / step in float; q = FloatToInt(float(
//                 floor(double(t)))).
//   Fixed decode  f = float(double(u)); f * step + minimum, each step in float.
//
// Clamping of floats: if minimum > x then x = minimum, else if x > maximum then x = maximum,
// so a NaN passes through and encodes as 0 (the minimum).
//
// Values outside the range: a field often holds more codes than its range needs (the scale
// set's 7 bits hold codes 100 to 127, which decode to 10.1 to 12.8). A value outside the range
// that is exactly what one of the field's codes decodes to is stored as that code, so every
// value read from a file encodes back to its own bits; every other value is clamped.
//
// Failure: every encode and decode returns false when its cursor is (or becomes) failed, and
// respects the cursor's sticky flag. A read past the end yields the minimum. Parameters that
// would divide by zero or overflow a division (see IsValidIntQuantization and
// IsValidFloatQuantization) set the cursor's failed flag without reading or writing anything;
// so does a DynValInt value outside 0..2^31-1.
#pragma once

#include <bit>
#include <cstdint>

struct BitReader;
struct BitWriter;

/// Quantization mode codes, as stored in the type information of a field.
enum class QuantizationMode : uint32_t {
  None = 0,
  Int = 1,
  Float = 2,
  DynValInt = 3,
  Pos = 4,
  Scale = 5,
  Scale2 = 6,
  Quat = 7,
};

/// "QuantizationMode_Int" etc.; "QuantizationMode_None" for 0 and for every unknown code.
/// The text is static.
const char* QuantizationModeName(uint32_t code);

/// Parameters of mode Int. The step must not be 0.
struct IntQuantization {
  int32_t minimum = 0;
  int32_t maximum = 0;
  int32_t step = 0;
};

/// Parameters of mode Float, and the form of the fixed sets. `bit_count` is used only by the
/// fixed sets; for mode Float the width is derived from the other three fields.
struct FloatQuantization {
  float minimum = 0.0f;
  float maximum = 0.0f;
  float step = 0.0f;
  uint32_t bit_count = 0;
};

/// The fixed sets of modes Pos (X, Y, Z), Scale and Scale2, and Quat (every component).
inline constexpr FloatQuantization kPositionXSet = {-1300.0f, 1100.0f,
                                                    std::bit_cast<float>(0x3C160026u), 18};
inline constexpr FloatQuantization kPositionYSet = {-50.0f, 300.0f,
                                                    std::bit_cast<float>(0x3BAF00AFu), 16};
inline constexpr FloatQuantization kPositionZSet = kPositionXSet;
inline constexpr FloatQuantization kScaleSet = {std::bit_cast<float>(0x3DCCCCCDu), 10.0f,
                                                std::bit_cast<float>(0x3DCCCCCDu), 7};
inline constexpr FloatQuantization kQuaternionSet = {-1.0f, 1.0f, std::bit_cast<float>(0x3B804020u),
                                                     9};

/// 0 for 0, otherwise the index of the highest set bit plus 1.
uint32_t BitLength(uint32_t n);

/// Truncates toward zero to a signed 64-bit integer and keeps its low 32 bits. A NaN, an
/// infinity or a value outside [-2^63, 2^63) gives 0.
int32_t FloatToInt(float x);

/// False when the integer divisions would be undefined: a step of 0, or a minimum of -2^31 with
/// a step of -1.
[[nodiscard]] bool IsValidIntQuantization(const IntQuantization& q);
/// False when the derived width would be meaningless: a step of 0, or a NaN or an infinity in
/// the minimum, the maximum or the step.
[[nodiscard]] bool IsValidFloatQuantization(const FloatQuantization& q);
/// Checks the parameters that a field's mode uses (Int and Float); every other code, known or
/// not, is accepted. Used when type information is loaded, so that a bad field fails there.
[[nodiscard]] bool IsValidFieldQuantization(uint32_t mode, const IntQuantization& int_q,
                                            const FloatQuantization& float_q);

/// Width in bits (0..32) of an Int-quantized value; 0 for invalid parameters.
uint32_t IntQuantizationBits(const IntQuantization& q);
/// Width in bits (0..32) of a Float-quantized value; 0 for invalid parameters.
uint32_t FloatQuantizationBits(const FloatQuantization& q);

/// Int mode. `value` is the payload sign-extended to 32 bits; `payload_bits` is the payload's
/// width (8, 16 or 32). Returns false when the writer is failed afterwards.
[[nodiscard]] bool EncodeQuantizedInt(BitWriter& writer, const IntQuantization& q, int32_t value,
                                      uint32_t payload_bits);
/// Int mode. Stores the decoded value, truncated to `payload_bits` (8, 16 or 32) and
/// sign-extended, in `value`; the minimum (so truncated) when the read fails. Returns false
/// when the reader is failed afterwards.
[[nodiscard]] bool DecodeQuantizedInt(BitReader& reader, const IntQuantization& q,
                                      uint32_t payload_bits, int32_t& value);

/// DynValInt mode. `value` is the payload sign-extended to 32 bits; a negative value cannot be
/// stored and sets the writer's failed flag with nothing written.
[[nodiscard]] bool EncodeDynValInt(BitWriter& writer, int32_t value);
/// DynValInt mode. Stores the VarUInt read, truncated to `payload_bits` (8, 16 or 32) and
/// sign-extended, in `value` (0 when the read fails).
[[nodiscard]] bool DecodeDynValInt(BitReader& reader, uint32_t payload_bits, int32_t& value);

/// Float mode, width derived from the parameters (`q.bit_count` is ignored).
[[nodiscard]] bool EncodeQuantizedFloat(BitWriter& writer, const FloatQuantization& q, float value);
/// Float mode. Stores the decoded value in `value`; the minimum when the read fails.
[[nodiscard]] bool DecodeQuantizedFloat(BitReader& reader, const FloatQuantization& q,
                                        float& value);

/// One component with a fixed set (`set.bit_count` bits, 1..32).
[[nodiscard]] bool EncodeFixedFloat(BitWriter& writer, const FloatQuantization& set, float value);
/// One component with a fixed set; the minimum when the read fails.
[[nodiscard]] bool DecodeFixedFloat(BitReader& reader, const FloatQuantization& set, float& value);

/// Pos, Scale or Scale2: the three components of `v`, in order. Any other mode returns false
/// and leaves the writer untouched.
[[nodiscard]] bool EncodeVec3(BitWriter& writer, QuantizationMode mode, const float* v);
/// Pos, Scale or Scale2 into the three components of `v`. Any other mode returns false and
/// leaves the reader and `v` untouched.
[[nodiscard]] bool DecodeVec3(BitReader& reader, QuantizationMode mode, float* v);
/// The bits of one cVector3 that EncodeVec3 writes and DecodeVec3 reads under `mode`: 52 for
/// Pos, 21 for Scale and Scale2, 0 for any other mode.
uint32_t Vec3Bits(QuantizationMode mode);

/// Quat: the four codes FindQuatCodes chooses for `q`, in order. `q` is not normalised first.
[[nodiscard]] bool EncodeQuat(BitWriter& writer, const float* q);
/// Quat: four codes, then DecodeQuatCodes into `q`.
[[nodiscard]] bool DecodeQuat(BitReader& reader, float* q);

/// The quaternion that four codes of the quaternion set (0..511) stand for: each decoded like
/// DecodeFixedFloat, then NormaliseQuaternion.
void DecodeQuatCodes(const uint32_t* codes, float* q);

/// Chooses the four codes of `q` (a decoded quaternion reads back bit for bit from them) and
/// returns whether DecodeQuatCodes gives back exactly `q`:
///   1. The naive codes, each component on its own as EncodeFixedFloat: kept when they
///      reproduce `q`, so a value they already hold encodes as it always has.
///   2. Otherwise, since the normalisation on decoding moves values by up to a few steps, the
///      first combination reproducing `q` among the 80 neighbours of the naive codes (each
///      code -1, 0 or +1, fewest changes first),
///   3. then among the codes along the direction of `q`: one candidate per code of its largest
///      component, scales nearest to unit length first (at most 512 candidates).
///   4. Nothing reproduces `q` (a hand-typed value, or a NaN): the naive codes, and false.
/// Steps 2 and 3 are skipped when `q` is not finite, of unit length and without zero components,
/// which every decoded quaternion is. Every decoded quaternion is thus reproduced; the codes read
/// are the ones written back unless another combination decodes to the same four floats and comes
/// first. That happens to quaternions stored far from unit length, such as four codes 0 and four
/// codes 128, which both decode to -0.5 four times: their value survives, their bits may not.
[[nodiscard]] bool FindQuatCodes(const float* q, uint32_t* codes);

/// How far the double-precision sum of squares of a parsed quaternion may lie from 1 for the
/// quaternion to count as unit length.
inline constexpr double kUnitQuaternionTolerance = 1e-6;

/// Scales the four components of `q` to unit length in single precision: s is the sum of the
/// squares accumulated in order, length = float(sqrt(double(s))); a zero length makes all four
/// components 0, otherwise each is multiplied by float 1 / length. A NaN stays NaN.
void NormaliseQuaternion(float* q);
/// For quaternions read from text: keeps `q` exactly when the sum of the squares of its
/// components, in double precision, differs from 1 by at most kUnitQuaternionTolerance, so
/// stored unit quaternions read back bit for bit; otherwise NormaliseQuaternion.
void NormaliseParsedQuaternion(float* q);
