// types/decimal_digits.h - decimal digits a word at a time, for the number texts of documents.
//
// The float and integer texts are built in registers, eight digits to a 64-bit word (one digit
// per byte, the most significant in the lowest byte), and stored with whole-word stores.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

/// The eight decimal digits of n < 10^8, leading zeros included, one per byte (0 to 9), the most
/// significant in the lowest byte. Each step splits every lane of the word in two at once: four
/// digits and four, then two and two, then one and one (a quotient by 100 or 10 is a product
/// and a shift, exact for these lane values, and no lane's product reaches the next lane's
/// bits that are kept).
inline uint64_t EightDigitValues(uint32_t n) {
  const uint64_t upper = n / 10000;
  uint64_t lanes = upper | ((n - upper * 10000) << 32);
  uint64_t quotients = ((lanes * 5243) >> 19) & 0x0000007F0000007Fu;
  lanes = quotients | ((lanes - quotients * 100) << 16);
  quotients = ((lanes * 103) >> 10) & 0x000F000F000F000Fu;
  return quotients | ((lanes - quotients * 10) << 8);
}

/// Stores the eight bytes of `word`, lowest first, at `p`: one store on a little-endian machine.
inline void StoreWord(char* p, uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &word, 8);
  } else {
    for (int i = 0; i < 8; ++i) {
      p[i] = static_cast<char>(word >> (8 * i));
    }
  }
}

/// Writes the decimal text of `value` at `at` (no sign, no NUL) and returns its end. `at` has
/// room for 10 bytes: whole words are stored, and the bytes past the text that they reach are
/// left for the caller to overwrite or cut off.
inline char* WriteDecimalDigits(char* at, uint32_t value) {
  constexpr uint64_t kZeros = 0x3030303030303030u;
  constexpr uint32_t kEightDigits = 100000000;
  if (value >= kEightDigits) {
    // Nine or ten digits: the leading one or two, then eight.
    const uint32_t leading = value / kEightDigits;
    const bool two = leading >= 10;
    at[0] = static_cast<char>('0' + (two ? leading / 10 : leading));
    at[1] = static_cast<char>('0' + leading % 10);
    StoreWord(at + (two ? 2 : 1), EightDigitValues(value - leading * kEightDigits) + kZeros);
    return at + (two ? 10 : 9);
  }
  // The leading zero digits are the lowest bytes: shifted out, the text starts at the first
  // byte. Zero keeps one digit.
  const uint64_t digits = EightDigitValues(value);
  const uint32_t zeros = digits == 0 ? 7 : static_cast<uint32_t>(std::countr_zero(digits)) / 8;
  StoreWord(at, (digits + kZeros) >> (8 * zeros));
  return at + (8 - zeros);
}
