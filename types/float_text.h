// types/float_text.h - the text form of single-precision floats in documents.
//
// A float prints like printf's "%G" of its value widened to double, with the fewest significant
// digits from 6 to 9 whose text reads back (through the lexer's number rules: the correctly
// rounded double, then rounded to float) to exactly the same float. Whenever 6 digits suffice
// the text is identical to "%G"; 9 digits always suffice, so every finite float, subnormals and
// negative zero included, survives a print and a read bit for bit.
//
//   value                 text
//   -------------------   ----------------
//   1.5                   1.5
//   0.0001                0.0001
//   1e6                   1E+06
//   0.3f                  0.3              (6 digits read back to the same float)
//   3.14159274f           3.1415927        (7 digits needed; "%G" gives 3.14159)
//   16777216.0f           16777216         (8 digits needed; "%G" gives 1.67772E+07)
//   1.40129846e-45f       1.4013E-45       (the smallest subnormal)
//   -0.0                  -0
//   +infinity, -infinity  INF, -INF
//   NaN (any payload)     NAN, or -NAN when its sign bit is set
//
// The words INF and NAN are not numbers to the lexer, so readers of float components match them
// with MatchFloatWord before asking the lexer for a number. A NaN reads back as the quiet NaN of
// its sign (0x7FC00000 or 0xFFC00000); its payload bits are not kept.
#pragma once

#include <cstdint>

class CStringBufferA;

/// Room for a float text with its NUL (the longest, like "-1.23456789E-38", has 15 characters).
inline constexpr uint32_t kFloatTextCapacity = 32;

/// Room for the shortest digits of a float (at most 9) and the zeros after them.
inline constexpr uint32_t kFloatDigitsCapacity = 24;

/// Writes the shortest decimal digits d1 d2 ... dn that read back (straight to float) to the
/// magnitude of `value`, the nearest to it of that length with ties to an even last digit, as
/// std::to_chars(float, scientific) does, and sets `exponent` so that the magnitude reads
/// d1.d2...dn x 10^exponent. Zero is the single digit "0" with exponent 0. The bytes after the
/// digits are zero. Returns n, or 0 (with exponent 0) for an infinity or a NaN.
uint32_t ShortestFloatDigits(float value, char (&digits)[kFloatDigitsCapacity], int32_t& exponent);

/// Writes the text of `value` NUL-terminated into `out` and returns its length.
uint32_t FormatFloat(float value, char (&out)[kFloatTextCapacity]);

/// Appends the text of `value` to `out`.
void AppendFloat(CStringBufferA& out, float value);
/// Appends the texts of `count` floats, joined by ",": the text of a vector.
void AppendFloatList(CStringBufferA& out, const float* values, uint32_t count);

/// Recognises INF or NAN at `text`, optionally preceded by one "+" or "-" and not followed by a
/// character that could continue an identifier (a letter, a digit, "_" or "@"). On a match
/// stores the value (an infinity, or the quiet NaN, with the sign's sign bit) and returns the
/// number of bytes matched; otherwise returns 0 and leaves `value` alone. Case-sensitive.
uint32_t MatchFloatWord(const char* text, float& value);
