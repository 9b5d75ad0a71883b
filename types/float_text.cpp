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
//
// bench/float_text_check.cpp compares this against the plain search for every float.
#include "types/float_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
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
  if (exponent_field == 0 && magnitude_bits != 0 && count < kFewestDigits) {
    return FormatBySearch(value, out);
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
