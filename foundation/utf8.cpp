// foundation/utf8.cpp - decoding and encoding of UTF-8 sequences.
//
// The decoder takes the length of a sequence from its lead byte and follows continuation bytes
// as far as they go, so an overlong form or a 5-/6-byte form is one invalid sequence covering
// all of its bytes rather than a run of stray ones.
#include "foundation/utf8.h"

#include <bit>
#include <cstdint>

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;
constexpr uint32_t kMaxContinuationBytes = 3;
// Smallest value that needs 1, 2 or 3 continuation bytes; anything below is overlong.
constexpr uint32_t kMinValueByContinuationCount[kMaxContinuationBytes + 1] = {0, 0x80, 0x800,
                                                                              0x10000};

bool IsContinuationByte(uint8_t byte) { return (byte & 0xC0) == 0x80; }

bool IsSurrogate(uint32_t value) { return value >= 0xD800 && value <= 0xDFFF; }

}  // namespace

Utf8Decoded DecodeUtf8(const char* p, const char* end) {
  if (p >= end) return {kReplacementCharacter, 1, false};
  const auto lead = static_cast<uint8_t>(p[0]);
  if (lead < 0x80) return {lead, 1, true};
  // Continuation bytes and 0xFE/0xFF cannot start a sequence.
  if (lead < 0xC0 || lead >= 0xFE) return {kReplacementCharacter, 1, false};

  const uint32_t continuation_count = static_cast<uint32_t>(std::countl_one(lead)) - 1;
  uint32_t value = lead & (0x3Fu >> continuation_count);
  uint32_t consumed = 1;
  while (consumed <= continuation_count) {
    if (p + consumed >= end) return {kReplacementCharacter, consumed, false};
    const auto byte = static_cast<uint8_t>(p[consumed]);
    if (!IsContinuationByte(byte)) return {kReplacementCharacter, consumed, false};
    value = (value << 6) | (byte & 0x3Fu);
    ++consumed;
  }

  const bool valid = continuation_count <= kMaxContinuationBytes &&
                     value >= kMinValueByContinuationCount[continuation_count] &&
                     value <= kMaxCodePoint && !IsSurrogate(value);
  if (!valid) return {kReplacementCharacter, consumed, false};
  return {value, consumed, true};
}

char* EncodeUtf8(uint32_t code_point, char* out) {
  if ((code_point & 0x80000000u) != 0) return out;
  if (code_point <= 0x7F) {
    *out++ = static_cast<char>(code_point);
    return out;
  }
  // Each continuation byte carries 6 bits and takes one bit of room from the lead byte.
  const uint32_t highest_bit = static_cast<uint32_t>(std::bit_width(code_point)) - 1;
  const uint32_t continuation_count = (highest_bit - 6) / 5 + 1;
  const uint32_t lead_marker = (0xFF00u >> (continuation_count + 1)) & 0xFFu;
  *out++ = static_cast<char>(lead_marker | (code_point >> (6 * continuation_count)));
  for (uint32_t i = continuation_count; i > 0; --i) {
    *out++ = static_cast<char>(0x80u | ((code_point >> (6 * (i - 1))) & 0x3Fu));
  }
  return out;
}
