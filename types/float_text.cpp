// types/float_text.cpp - the text form of single-precision floats in documents.
//
// The text is defined by a search: "%.*G" of the widened double with precision 6, 7, 8, 9 until
// the text reads back (correctly rounded double, then float) to the same bits. The search costs
// up to four printf-style conversions and four parses per float, so it is kept only as the
// slow path; most floats are printed straight from their shortest round-trip digits, which
// std::to_chars(float) gives in one cheap call:
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
//   exact integer arithmetic and sends them, with every float too small for its arithmetic,
//   to the search.
//
// bench/float_text_check.cpp compares this against the plain search for every float.
#include "types/float_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "foundation/string_buffer.h"

namespace {

constexpr int kFewestDigits = 6;  // the precision of plain "%G"
constexpr int kMostDigits = 9;    // enough for every float

constexpr uint32_t kQuietNanBits = 0x7FC00000u;
constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kInfinityBits = 0x7F800000u;
constexpr uint32_t kMantissaMask = 0x007FFFFFu;
constexpr uint32_t kMantissaBits = 23;
constexpr uint32_t kLargestExponentField = 254;

// Writes the "%.*G" text of `value` and returns its length. No NaN or infinity gets here.
uint32_t FormatWithPrecision(double value, int precision, char (&out)[kFloatTextCapacity]) {
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
uint32_t FormatBySearch(float value, char (&out)[kFloatTextCapacity]) {
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

// 5^k for k = 0..44, the powers that fit in 128 bits beside a 25-bit odd number.
constexpr uint32_t kLargestFivePower = 44;
constexpr std::array<unsigned __int128, kLargestFivePower + 1> kFivePowers = [] {
  std::array<unsigned __int128, kLargestFivePower + 1> powers{};
  powers[0] = 1;
  for (uint32_t k = 1; k <= kLargestFivePower; ++k) powers[k] = powers[k - 1] * 5;
  return powers;
}();

// Scaled by 10^k so that it has 9 or 10 integer digits, the midpoint odd x 2^q must stay at
// least 2^-20 away from a whole number; otherwise some decimal of up to 9 significant digits
// is within half a double step (2^-53 of the value, below 2^-22 at this scale) of it. True
// when it does not, or when the arithmetic cannot tell (the caller then takes the search).
bool ScaledNearWhole(uint32_t odd, int q, int k) {
  constexpr int kMarginBits = 20;
  if (k >= 0) {
    if (k > static_cast<int>(kLargestFivePower)) return true;
    const unsigned __int128 scaled = odd * kFivePowers[static_cast<uint32_t>(k)];
    const int shift = -(q + k);   // the value is scaled / 2^shift
    if (shift <= 0) return true;  // a whole number: the midpoint is a short decimal itself
    const unsigned __int128 one = static_cast<unsigned __int128>(1) << shift;
    const unsigned __int128 fraction = scaled & (one - 1);
    const unsigned __int128 margin =
        shift > kMarginBits ? static_cast<unsigned __int128>(1) << (shift - kMarginBits) : 1;
    return fraction < margin || one - fraction < margin;
  }
  const int shift = q + k;  // the value is odd x 2^shift / 5^-k
  if (shift < 0 || -k > static_cast<int>(kLargestFivePower)) return true;
  const unsigned __int128 numerator = static_cast<unsigned __int128>(odd) << shift;
  const unsigned __int128 denominator = kFivePowers[static_cast<uint32_t>(-k)];
  const unsigned __int128 remainder = numerator % denominator;
  return (remainder << kMarginBits) < denominator ||
         ((denominator - remainder) << kMarginBits) < denominator;
}

// True when reading some decimal of at most 9 digits through a double might give another
// float than reading it straight would, near the normal float with these bits (not a power of
// two): a midpoint to either neighbour is almost a short decimal.
bool NearMidpoint(uint32_t magnitude_bits) {
  const uint32_t exponent_field = magnitude_bits >> kMantissaBits;
  const uint32_t mantissa = (magnitude_bits & kMantissaMask) | (1u << kMantissaBits);
  const int binary_exponent = static_cast<int>(exponent_field) - 127;  // 2^e <= value < 2^(e+1)
  // floor(e log10 2): the value, and both midpoints, are at least 10^decimal_exponent and below
  // 2 x 10^(decimal_exponent + 1), so 10^(8 - decimal_exponent) scales them to 9 or 10 digits.
  const int decimal_exponent = static_cast<int>(std::floor(binary_exponent * 0.30102999566398120));
  const int k = 8 - decimal_exponent;
  const int q = static_cast<int>(exponent_field) - 151;  // midpoints are (2m +- 1) x 2^q
  return ScaledNearWhole(2 * mantissa - 1, q, k) || ScaledNearWhole(2 * mantissa + 1, q, k);
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

// Room for the shortest digits plus the fixed-size copies below, which move up to 8 bytes
// past the last digit (the bytes past it are cut off or overwritten afterwards).
constexpr int kDigitRoom = 24;

// Writes "%.*G" of d1.d2...dn x 10^exponent for precision max(n, 6), with trailing zeros
// dropped (the shortest digits end in a non-zero digit, or are the single "0", so there are
// none to drop). `p` has room for 24 bytes. Returns the end of the text.
char* WriteGeneral(char* p, const char (&digits)[kDigitRoom], int count, int exponent) {
  const int precision = std::max(count, kFewestDigits);
  if (exponent < -4 || exponent >= precision) {
    p[0] = digits[0];
    p[1] = '.';
    std::memcpy(p + 2, digits + 1, 8);
    p += count == 1 ? 1 : count + 1;
    p[0] = 'E';
    p[1] = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;  // at most 45 for a float
    p[2] = static_cast<char>('0' + magnitude / 10);
    p[3] = static_cast<char>('0' + magnitude % 10);
    return p + 4;
  }
  if (exponent < 0) {
    std::memcpy(p, "0.000", 5);
    p += 1 - exponent;  // "0." and -exponent - 1 zeros
    std::memcpy(p, digits, 16);
    return p + count;
  }
  const int integer_digits = exponent + 1;  // at most 9
  std::memcpy(p, digits, 16);
  if (count <= integer_digits) {
    std::memset(p + count, '0', 8);
    return p + integer_digits;
  }
  p[integer_digits] = '.';
  std::memcpy(p + integer_digits + 1, digits + integer_digits, 8);
  return p + count + 1;
}

uint32_t CopyWord(const char* word, char (&out)[kFloatTextCapacity]) {
  const uint32_t length = static_cast<uint32_t>(std::strlen(word));
  std::memcpy(out, word, length + 1);
  return length;
}

bool ContinuesIdentifier(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '@';
}

}  // namespace

uint32_t FormatFloat(float value, char (&out)[kFloatTextCapacity]) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits & kSignBit) != 0;
  const uint32_t magnitude_bits = bits & ~kSignBit;
  if (magnitude_bits > kInfinityBits) {
    return CopyWord(negative ? "-NAN" : "NAN", out);
  }
  if (magnitude_bits == kInfinityBits) {
    return CopyWord(negative ? "-INF" : "INF", out);
  }
  char* p = out;
  if (negative) {
    *p++ = '-';
  }
  const uint32_t exponent_field = magnitude_bits >> kMantissaBits;
  if ((magnitude_bits & kMantissaMask) == 0 && exponent_field > 1) {
    const ShortText& power = PowerOfTwoTexts()[exponent_field];
    std::memcpy(p, power.text, 16);  // every such text is shorter, NUL included
    return static_cast<uint32_t>(p - out) + power.length;
  }

  // Shortest digits in the form "d[.ddd]e[+-]xx": a float's decimal exponent always has
  // exactly two digits.
  char shortest[kFloatTextCapacity] = {};
  const char* const end =
      std::to_chars(shortest, shortest + sizeof(shortest), std::bit_cast<float>(magnitude_bits),
                    std::chars_format::scientific)
          .ptr;
  const char* const e = end - 4;
  int exponent = (e[2] - '0') * 10 + (e[3] - '0');
  if (e[1] == '-') {
    exponent = -exponent;
  }
  char digits[kDigitRoom] = {};
  digits[0] = shortest[0];
  const int count = e == shortest + 1 ? 1 : static_cast<int>(e - shortest) - 1;
  std::memcpy(digits + 1, shortest + 2, 8);
  if (exponent_field == 0 || NearMidpoint(magnitude_bits)) {
    return magnitude_bits == 0 ? CopyWord(negative ? "-0" : "0", out) : FormatBySearch(value, out);
  }
  p = WriteGeneral(p, digits, count, exponent);
  *p = '\0';
  return static_cast<uint32_t>(p - out);
}

void AppendFloat(CStringBufferA& out, float value) {
  char text[kFloatTextCapacity];
  const uint32_t length = FormatFloat(value, text);
  out.Append(text, length);
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
