// types/float_text.cpp - the text form of single-precision floats in documents.
//
// The text is defined by a search: "%.*G" of the widened double with precision 6, 7, 8, 9 until
// the text reads back (correctly rounded double, then float) to the same bits. The search costs
// up to four printf-style conversions and four parses per float, so it is kept only as the
// slow path; most floats are printed straight from their shortest round-trip digits:
//
// - Let S be the shortest digits (n of them) that read back to the float. For a precision
//   p < n no p-digit number lies in the float's rounding interval, so the search never stops
//   before p = max(n, 6).
// - When the interval is symmetric about the value (every float except the normal powers of
//   two, whose lower neighbour is half as far away), the p-digit rounding of the value is at
//   least as close as S, so it lies in the interval too; for p = n it is S itself (S is the
//   closest n-digit number in the interval, ties going to the even digit like the rounding),
//   and for p = 6 > n it is S as well, because a normal float's interval (at most 2^-23 of
//   the value wide) holds no two 6-digit numbers. So the search stops at p = max(n, 6) with
//   the text of S.
// - Subnormals with fewer than 6 shortest digits have intervals wide enough to hold several
//   6-digit numbers, so they take the search; the powers of two take it once each, into a
//   table built on first use.
// - All of the above is about reading a text straight to float. Documents are read through a
//   double first, and rounding twice can land on the other side of a midpoint between two
//   floats when a decimal of up to 9 digits lies within half a double step of that midpoint
//   (0x15AE43FD and 0x15AE43FE are two such neighbours: "7.038531E-26" reads back to the
//   first straight and to the second through a double). NearMidpoint finds those floats with
//   exact integer arithmetic and sends them, with the smallest normals, to the search.
// - The shortest digits come from exact arithmetic as well (ScaledFloat): the value and the
//   midpoints to its neighbours, scaled by a power of ten so that they are less than 10 units
//   apart, are fractions over one denominator, in 64 bits for the usual magnitudes and in 128
//   bits beyond. A multiple of ten between the midpoints has the fewest digits; otherwise the
//   nearest whole number does. The same scaled midpoints serve NearMidpoint. They give exactly
//   the digits of std::to_chars(float), which ShortestFloatDigits falls back on for the floats
//   not scaled (zero, subnormals, the smallest normals and the powers of two).
//
// bench/float_text_check.cpp compares this against the plain search for every float, and
// bench/shortest_digits_check.cpp the shortest digits against std::to_chars(float).
#include "types/float_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "foundation/inline.h"
#include "foundation/string_buffer.h"
#include "types/decimal_digits.h"

namespace {

constexpr int kFewestDigits = 6;  // the precision of plain "%G"
constexpr int kMostDigits = 9;    // enough for every float

constexpr uint32_t kQuietNanBits = 0x7FC00000u;
constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kInfinityBits = 0x7F800000u;
constexpr uint32_t kMantissaMask = 0x007FFFFFu;
constexpr uint32_t kMantissaBits = 23;
constexpr uint32_t kLargestExponentField = 254;

// Every `out` below has room for kFloatTextCapacity bytes.

// Writes the "%.*G" text of `value` and returns its length. No NaN or infinity gets here.
uint32_t FormatWithPrecision(double value, int precision, char* out) {
  const std::to_chars_result result = std::to_chars(out, out + kFloatTextCapacity - 1, value,
                                                    std::chars_format::general, precision);
  const uint32_t length = static_cast<uint32_t>(result.ptr - out);
  out[length] = '\0';
  // "%g" writes a lower-case exponent; "%G" the same text with an upper-case one.
  if (char* e = static_cast<char*>(std::memchr(out, 'e', length))) {
    *e = 'E';
  }
  return length;
}

// True when the text reads back to the float with these bits. The exponent letter's case makes
// no difference to from_chars, and from_chars rounds like the lexer's NumberToDouble.
bool ReadsBackTo(const char* text, uint32_t length, uint32_t bits) {
  double read = 0.0;
  const std::from_chars_result result = std::from_chars(text, text + length, read);
  if (result.ec != std::errc() || result.ptr != text + length) {
    return false;
  }
  return std::bit_cast<uint32_t>(static_cast<float>(read)) == bits;
}

// The defining search, for the floats the shortest digits do not settle. Finite values only.
uint32_t FormatBySearch(float value, char* out) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const double wide = value;
  uint32_t length = 0;
  for (int precision = kFewestDigits; precision <= kMostDigits; ++precision) {
    length = FormatWithPrecision(wide, precision, out);
    if (ReadsBackTo(out, length, bits)) {
      break;
    }
  }
  return length;
}

// 5^k for k = 0..44: 5^44 times a 25-bit number still fits in 128 bits.
constexpr uint32_t kLargestFivePower = 44;
constexpr std::array<unsigned __int128, kLargestFivePower + 1> kFivePowers = [] {
  std::array<unsigned __int128, kLargestFivePower + 1> powers{};
  powers[0] = 1;
  for (uint32_t k = 1; k <= kLargestFivePower; ++k) powers[k] = powers[k - 1] * 5;
  return powers;
}();

// floor(e log10 2), exact for |e| <= 2620.
constexpr int FloorLog10Pow2(int e) { return (e * 315653) >> 20; }

using Wide = unsigned __int128;

// A normal float m x 2^e (2^23 <= m < 2^24) and its midpoints (2m -+ 1) x 2^(e-1) to the
// neighbours, all scaled by 10^-k where 10^k <= 2^e < 10^(k+1), as exact fractions over one
// denominator: (2m + i) x 5^-k x 2^(e-1-k) is a whole number over a power of two when k <= 0
// and a multiple of a power of two over 5^k when k > 0. The scaled value lies in [m, 10m), so
// every whole part fits in 32 bits; the midpoints are at least 1 and less than 10 units apart.
// `Word` holds the numerators: 64 bits cover the exponent fields kFirstNarrowField to
// kLastNarrowField (e from -53 to 57, values from about 1e-9 to 2e24: (2m + 1) x 5^16 and
// (2m + 1) x 2^39 stay below 2^64, and so do the remainders times 100 x 2^20 that
// NearMidpoint forms), 128 bits every field from kSmallestScaledField on (k >= -44).
template <typename Word>
struct ScaledFloat {
  struct Division {
    uint32_t quotient;
    Word remainder;
  };
  Word center;       // the value times the denominator
  Word denominator;  // 2^shift when k <= 0, else 5^k
  uint32_t shift;
  int32_t exponent;  // k
  Division lower;    // of each midpoint times the denominator
  Division upper;

  Division Divide(Word x) const {
    if (exponent <= 0) return {static_cast<uint32_t>(x >> shift), x & (denominator - 1)};
    return {static_cast<uint32_t>(x / denominator), x % denominator};
  }
};

constexpr uint32_t kSmallestScaledField = 4;
constexpr uint32_t kFirstNarrowField = 150 - 53;
constexpr uint32_t kLastNarrowField = 150 + 57;

// What scaling a float takes from its exponent field alone: k, the denominator and its shift,
// half a step in units of 1 / denominator, and the scale of NearMidpoint (10 or 100).
template <typename Word>
struct ScaleOfField {
  Word half_step;
  Word denominator;
  uint32_t shift;
  int32_t exponent;
  uint32_t near_scale;
};

template <typename Word>
constexpr ScaleOfField<Word> ScaleOf(uint32_t exponent_field) {
  const int e = static_cast<int>(exponent_field) - 150;
  const int k = FloorLog10Pow2(e);
  const int g = e - 1 - k;  // half a step is 2^g x 5^-k units
  ScaleOfField<Word> row{};
  row.exponent = k;
  if (k <= 0) {
    row.half_step = static_cast<Word>(kFivePowers[static_cast<uint32_t>(-k)]) << (g > 0 ? g : 0);
    row.shift = g < 0 ? static_cast<uint32_t>(-g) : 0;
    row.denominator = static_cast<Word>(1) << row.shift;
  } else {
    row.half_step = static_cast<Word>(1) << g;  // g > 0 here
    row.shift = 0;
    row.denominator = static_cast<Word>(kFivePowers[static_cast<uint32_t>(k)]);
  }
  // 2^b <= value < 2^(b+1) puts the value and its midpoints in [10^d, 2 x 10^(d+1)) with
  // d = floor(b log10 2), so 10^(8-d) scales them to 9 or 10 integer digits; that is 10^k
  // times 10 or 100.
  const int binary_exponent = static_cast<int>(exponent_field) - 127;
  row.near_scale = (8 - FloorLog10Pow2(binary_exponent) + k) == 1 ? 10 : 100;
  return row;
}

// ScaleOf for every field of the 64-bit range, worked out when the program is built.
constexpr std::array<ScaleOfField<uint64_t>, kLastNarrowField - kFirstNarrowField + 1>
    kNarrowScales = [] {
      std::array<ScaleOfField<uint64_t>, kLastNarrowField - kFirstNarrowField + 1> rows{};
      for (uint32_t field = kFirstNarrowField; field <= kLastNarrowField; ++field) {
        rows[field - kFirstNarrowField] = ScaleOf<uint64_t>(field);
      }
      return rows;
    }();

template <typename Word>
inline ScaledFloat<Word> Scale(uint32_t magnitude_bits, const ScaleOfField<Word>& row) {
  const Word mantissa = (magnitude_bits & kMantissaMask) | (1u << kMantissaBits);
  ScaledFloat<Word> s;
  s.exponent = row.exponent;
  s.shift = row.shift;
  s.denominator = row.denominator;
  const Word half_step = row.half_step;  // in units of 1 / denominator
  const Word lower = (2 * mantissa - 1) * half_step;
  s.center = lower + half_step;
  s.lower = s.Divide(lower);
  s.upper = s.Divide(s.center + half_step);
  return s;
}

// The scaling of a float of the 64-bit range, from the table.
inline ScaledFloat<uint64_t> ScaleNarrow(uint32_t magnitude_bits) {
  return Scale(magnitude_bits,
               kNarrowScales[(magnitude_bits >> kMantissaBits) - kFirstNarrowField]);
}

inline ScaledFloat<Wide> ScaleWide(uint32_t magnitude_bits) {
  return Scale(magnitude_bits, ScaleOf<Wide>(magnitude_bits >> kMantissaBits));
}

// Scaled by 10^k so that it has 9 or 10 integer digits, a midpoint must stay at least 2^-20
// away from a whole number; otherwise some decimal of up to 9 significant digits is within
// half a double step (2^-53 of the value, below 2^-22 at this scale) of it. That scale is
// 10 or 100 times the one of ScaledFloat; `remainder` is the midpoint's remainder there.
template <typename Word>
bool ScaledNearWhole(const ScaledFloat<Word>& s, Word remainder, uint32_t scale) {
  constexpr int kMarginBits = 20;
  const Word fraction = s.Divide(remainder * scale).remainder;
  return (fraction << kMarginBits) < s.denominator ||
         ((s.denominator - fraction) << kMarginBits) < s.denominator;
}

// True when reading some decimal of at most 9 digits through a double might give another
// float than reading it straight would, near the normal float scaled as `s` (not a power of
// two): a midpoint to either neighbour is almost a short decimal. `scale` is the field's
// near_scale (ScaleOf).
template <typename Word>
bool NearMidpoint(const ScaledFloat<Word>& s, uint32_t scale) {
  return ScaledNearWhole(s, s.lower.remainder, scale) ||
         ScaledNearWhole(s, s.upper.remainder, scale);
}

// Up to nine decimal digits as text, most significant first: `low` holds the first eight (the
// first in its lowest byte), `high` the ninth; every byte past the last digit is zero. Kept in
// registers and written with whole-word stores: the digits of a float are built and placed
// without reading back bytes that were only just stored one or two at a time.
struct DigitText {
  uint64_t low;
  uint64_t high;
  uint32_t count;
};

// The text of 10^6 <= number < 2 x 10^8 (7 to 9 digits) without its trailing zeros.
inline DigitText DigitsOf(uint32_t number) {
  const uint32_t leading = number >= 100000000 ? 1 : 0;  // a ninth digit, 1, before the eight
  uint64_t values = EightDigitValues(number - leading * 100000000);
  uint32_t in_word = 8;
  if (number < 10000000) {  // seven digits: the eight start with a zero
    values >>= 8;
    in_word = 7;
  }
  // Trailing zero digits are the word's highest bytes (all eight when the ninth digit leads).
  const uint32_t zeros =
      (values == 0 ? 8 : static_cast<uint32_t>(std::countl_zero(values)) / 8) - (8 - in_word);
  const uint32_t kept = in_word - zeros;
  uint64_t text = values + 0x3030303030303030u;
  text = kept == 0 ? 0 : text & (~uint64_t{0} >> (64 - 8 * kept));
  if (leading == 0) {
    return DigitText{text, 0, kept};
  }
  return DigitText{'1' | (text << 8), text >> 56, kept + 1};
}

// The shortest digits of a scaled float that is not a power of two (its midpoints are then
// equally far from it). `even` tells whether m is even: then a number on a midpoint reads back
// to this float (ties to even), otherwise to the neighbour. Returns the digits and sets
// `exponent` so that the value reads d1.d2...dn x 10^exponent.
template <typename Word>
inline DigitText ShortestDigits(const ScaledFloat<Word>& s, bool even, int32_t& exponent) {
  // Less than 10 units wide, the interval between the midpoints holds at most one multiple of
  // ten; when it does, that number has the fewest digits and is the only one with so few.
  const uint32_t ten = s.upper.quotient - s.upper.quotient % 10;
  const bool above_lower =
      ten > s.lower.quotient || (even && ten == s.lower.quotient && s.lower.remainder == 0);
  const bool below_upper = ten < s.upper.quotient || s.upper.remainder != 0 || even;
  uint32_t number = 0;
  if (above_lower && below_upper) {
    number = ten;
  } else {
    // At least a unit wide on each side, the interval holds the whole number nearest to the
    // value; between two equally near ones the even one is taken.
    const auto center = s.Divide(s.center);
    const Word twice = center.remainder << 1;
    number = center.quotient;
    if (twice > s.denominator || (twice == s.denominator && (number & 1) != 0)) ++number;
  }
  const uint32_t length = 7 + (number >= 10000000) + (number >= 100000000);
  exponent = s.exponent + static_cast<int32_t>(length) - 1;
  return DigitsOf(number);
}

// The shortest digits taken from std::to_chars(float), "d[.ddd]e[+-]dd", for the floats not
// scaled above. Returns 0 for an infinity or a NaN, which have no exponent there.
uint32_t ShortestDigitsByLibrary(float magnitude, char (&digits)[kFloatDigitsCapacity],
                                 int32_t& exponent) {
  char text[kFloatTextCapacity];
  const char* const end =
      std::to_chars(text, text + sizeof(text), magnitude, std::chars_format::scientific).ptr;
  const char* const e = static_cast<const char*>(std::memchr(text, 'e', end - text));
  if (e == nullptr) {
    exponent = 0;
    return 0;
  }
  digits[0] = text[0];
  const uint32_t count = e == text + 1 ? 1 : static_cast<uint32_t>(e - text) - 1;
  std::memcpy(digits + 1, text + 2, count - 1);
  int32_t magnitude_of_exponent = 0;
  for (const char* c = e + 2; c != end; ++c)
    magnitude_of_exponent = magnitude_of_exponent * 10 + (*c - '0');
  exponent = e[1] == '-' ? -magnitude_of_exponent : magnitude_of_exponent;
  return count;
}

struct ShortText {
  char text[kFloatTextCapacity];
  uint32_t length;
};

// The texts of the positive normal powers of two, indexed by their exponent field.
const std::array<ShortText, kLargestExponentField + 1>& PowerOfTwoTexts() {
  static const std::array<ShortText, kLargestExponentField + 1> texts = [] {
    std::array<ShortText, kLargestExponentField + 1> table{};
    for (uint32_t field = 1; field <= kLargestExponentField; ++field) {
      table[field].length =
          FormatBySearch(std::bit_cast<float>(field << kMantissaBits), table[field].text);
    }
    return table;
  }();
  return texts;
}

// Writes "%.*G" of d1.d2...dn x 10^exponent for precision max(n, 6), with trailing zeros
// dropped (the shortest digits end in a non-zero digit, so there are none to drop). Whole words
// are stored up to 16 bytes past the start of the digits and cut off or overwritten afterwards;
// `p` has room for 24 bytes. Returns the end of the text.
QVX_ALWAYS_INLINE char* WriteGeneral(char* p, const DigitText& digits, int exponent) {
  const int count = static_cast<int>(digits.count);
  const Wide all = digits.low | (static_cast<Wide>(digits.high) << 64);
  const int precision = std::max(count, kFewestDigits);
  if (exponent < -4 || exponent >= precision) {
    p[0] = static_cast<char>(digits.low);
    p[1] = '.';
    StoreWord(p + 2, static_cast<uint64_t>(all >> 8));
    p += count == 1 ? 1 : count + 1;
    p[0] = 'E';
    p[1] = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;  // at most 45 for a float
    p[2] = static_cast<char>('0' + magnitude / 10);
    p[3] = static_cast<char>('0' + magnitude % 10);
    return p + 4;
  }
  if (exponent < 0) {
    StoreWord(p, 0x303030302E30u);  // "0.0000", of which "0." and -exponent - 1 zeros stay
    p += 1 - exponent;
    StoreWord(p, digits.low);
    p[8] = static_cast<char>(digits.high);
    return p + count;
  }
  const int integer_digits = exponent + 1;  // at most 9
  StoreWord(p, digits.low);
  StoreWord(p + 8, digits.high);
  if (count <= integer_digits) {
    StoreWord(p + count, 0x3030303030303030u);
    return p + integer_digits;
  }
  p[integer_digits] = '.';
  StoreWord(p + integer_digits + 1, static_cast<uint64_t>(all >> (8 * integer_digits)));
  return p + count + 1;
}

uint32_t CopyWord(const char* word, char* out) {
  const uint32_t length = static_cast<uint32_t>(std::strlen(word));
  std::memcpy(out, word, length + 1);
  return length;
}

bool ContinuesIdentifier(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '@';
}

// Writes the text of a normal float from kSmallestScaledField on, not a power of two, at `p`
// (after its sign in `out`) and returns the length of `out`.
template <typename Word>
uint32_t FormatScaled(float value, uint32_t magnitude_bits, const ScaleOfField<Word>& row, char* p,
                      char* out) {
  const ScaledFloat<Word> scaled = Scale(magnitude_bits, row);
  if (NearMidpoint(scaled, row.near_scale)) {
    return FormatBySearch(value, out);
  }
  int32_t exponent = 0;
  const DigitText digits = ShortestDigits(scaled, (magnitude_bits & 1) == 0, exponent);
  p = WriteGeneral(p, digits, exponent);
  *p = '\0';
  return static_cast<uint32_t>(p - out);
}

bool InNarrowRange(uint32_t exponent_field) {
  return exponent_field >= kFirstNarrowField && exponent_field <= kLastNarrowField;
}

// FormatFloat into `out`, which has room for kFloatTextCapacity bytes.
uint32_t FormatFloatAt(float value, char* out) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits & kSignBit) != 0;
  const uint32_t magnitude_bits = bits & ~kSignBit;
  if (magnitude_bits > kInfinityBits) {
    return CopyWord(negative ? "-NAN" : "NAN", out);
  }
  if (magnitude_bits == kInfinityBits) {
    return CopyWord(negative ? "-INF" : "INF", out);
  }
  // The sign goes in without a branch: half the values of a typical document are negative, in
  // no order a branch predictor could learn.
  out[0] = '-';
  char* p = out + (negative ? 1 : 0);
  const uint32_t exponent_field = magnitude_bits >> kMantissaBits;
  if ((magnitude_bits & kMantissaMask) == 0 && exponent_field > 1) {
    const ShortText& power = PowerOfTwoTexts()[exponent_field];
    std::memcpy(p, power.text, 16);  // every such text is shorter, NUL included
    return static_cast<uint32_t>(p - out) + power.length;
  }

  if (exponent_field < kSmallestScaledField) {  // zero, subnormals and the smallest normals
    return magnitude_bits == 0 ? CopyWord(negative ? "-0" : "0", out) : FormatBySearch(value, out);
  }
  if (InNarrowRange(exponent_field)) {
    return FormatScaled(value, magnitude_bits, kNarrowScales[exponent_field - kFirstNarrowField], p,
                        out);
  }
  return FormatScaled(value, magnitude_bits, ScaleOf<Wide>(exponent_field), p, out);
}

}  // namespace

uint32_t FormatFloat(float value, char (&out)[kFloatTextCapacity]) {
  return FormatFloatAt(value, out);
}

uint32_t ShortestFloatDigits(float value, char (&digits)[kFloatDigitsCapacity], int32_t& exponent) {
  const uint32_t magnitude_bits = std::bit_cast<uint32_t>(value) & ~kSignBit;
  const uint32_t exponent_field = magnitude_bits >> kMantissaBits;
  std::memset(digits, 0, kFloatDigitsCapacity);
  if (exponent_field < kSmallestScaledField || exponent_field > kLargestExponentField ||
      (magnitude_bits & kMantissaMask) == 0) {
    return ShortestDigitsByLibrary(std::bit_cast<float>(magnitude_bits), digits, exponent);
  }
  const bool even = (magnitude_bits & 1) == 0;
  const DigitText text = InNarrowRange(exponent_field)
                             ? ShortestDigits(ScaleNarrow(magnitude_bits), even, exponent)
                             : ShortestDigits(ScaleWide(magnitude_bits), even, exponent);
  StoreWord(digits, text.low);
  digits[8] = static_cast<char>(text.high);
  return text.count;
}

void AppendFloat(CStringBufferA& out, float value) {
  // Straight into the buffer when it has the room: a copy would read back bytes that were
  // only just stored, and wait for them.
  out.ReserveForAppend(uint64_t{out.length} + kFloatTextCapacity);
  if (out.capacity - out.length < kFloatTextCapacity) {
    char text[kFloatTextCapacity];
    const uint32_t length = FormatFloatAt(value, text);
    out.Append(text, length);
    return;
  }
  out.length += FormatFloatAt(value, out.data + out.length);
}

void AppendFloatList(CStringBufferA& out, const float* values, uint32_t count) {
  // Each text and the "," before it take less than kFloatTextCapacity bytes, so room for
  // `count` of them lets every text be written in place, with one check for the whole list.
  const uint64_t room = uint64_t{count} * kFloatTextCapacity;
  out.ReserveForAppend(uint64_t{out.length} + room);
  if (out.capacity - out.length < room) {
    for (uint32_t i = 0; i < count; ++i) {
      if (i != 0) {
        out.AppendChar(',');
      }
      AppendFloat(out, values[i]);
    }
    return;
  }
  char* p = out.data + out.length;
  for (uint32_t i = 0; i < count; ++i) {
    if (i != 0) {
      *p++ = ',';
    }
    p += FormatFloatAt(values[i], p);
  }
  out.length = static_cast<uint32_t>(p - out.data);
}

uint32_t MatchFloatWord(const char* text, float& value) {
  uint32_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  uint32_t magnitude_bits = 0;
  if (std::strncmp(text + i, "INF", 3) == 0) {
    magnitude_bits = kInfinityBits;
  } else if (std::strncmp(text + i, "NAN", 3) == 0) {
    magnitude_bits = kQuietNanBits;
  } else {
    return 0;
  }
  i += 3;
  if (ContinuesIdentifier(text[i])) {
    return 0;
  }
  value = std::bit_cast<float>(magnitude_bits | (negative ? kSignBit : 0u));
  return i;
}
