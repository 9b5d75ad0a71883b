// foundation/utf8.h - the UTF-8 codec of texts, documents and folder names.
//
// Decoding is standard UTF-8: a lead byte 0xC2..0xF4 and 1 to 3 continuation bytes 10xxxxxx
// giving a value that needs exactly that many bytes, outside U+D800..U+DFFF and at most
// U+10FFFF. Anything else is an invalid sequence, reported as U+FFFD with the bytes it spans.
// Encoding writes up to 6 bytes (UTF-8 extended to 31-bit values); negative values write
// nothing.
#pragma once

#include <cstdint>

struct Utf8Decoded {
  uint32_t code_point;  // U+FFFD for an invalid sequence
  uint32_t length;      // bytes consumed, at least 1
  bool valid;
};

/// Decodes the sequence starting at `p`. Never reads at or beyond `end` (p < end required);
/// a sequence cut short by `end` is invalid and spans the bytes before it.
Utf8Decoded DecodeUtf8(const char* p, const char* end);

/// Writes the UTF-8 form of `code_point` at `out` (room for 6 bytes) and returns the end of
/// the written bytes (`out` itself when nothing was written).
char* EncodeUtf8(uint32_t code_point, char* out);
