// foundation/ascii.h - letter-case rules of command words, extensions and type names.
//
// Only the ASCII letters A-Z and a-z fold; every other byte compares as it is, so the result
// never depends on the locale.
#pragma once

#include <cstdint>

/// The byte with A-Z folded to a-z.
inline char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

/// True when the two NUL-terminated texts are equal apart from ASCII letter case.
inline bool EqualsIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (AsciiToLower(*a) != AsciiToLower(*b)) return false;
    if (*a == '\0') return true;
  }
}
