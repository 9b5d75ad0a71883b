// types/float_text.cpp - the text form of single-precision floats in documents.
//
// std::to_chars with a precision produces exactly printf's "%.*g" text (correctly rounded, in
// the "C" locale), and std::from_chars gives the correctly rounded double of a text, as the
// lexer's NumberToDouble does for the same digits; both are much faster than printf and strtod,
// which matters for documents that hold millions of floats.
#include "types/float_text.h"

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
// no difference to from_chars.
bool ReadsBackTo(const char* text, uint32_t length, uint32_t bits) {
  double read = 0.0;
  const std::from_chars_result result = std::from_chars(text, text + length, read);
  if (result.ec != std::errc() || result.ptr != text + length) {
    return false;
  }
  return std::bit_cast<uint32_t>(static_cast<float>(read)) == bits;
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
  if (std::isnan(value)) {
    return CopyWord(negative ? "-NAN" : "NAN", out);
  }
  if (std::isinf(value)) {
    return CopyWord(negative ? "-INF" : "INF", out);
  }
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
