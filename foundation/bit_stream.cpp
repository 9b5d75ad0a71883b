// foundation/bit_stream.cpp - raw bit fields and the two bit cursors.
//
// ReadBits and WriteBits know nothing about the range, so they touch only the bytes of the
// field. The cursors do know it: when at least 8 bytes lie between the field's first byte and
// the end of the range (or of the buffer's capacity), a field costs one unaligned 64-bit
// little-endian load (and store); near the end they fall back to the byte loops. A field is at
// most 32 bits plus a 7-bit offset, and a VarUInt at most 36 bits, so one load always covers it.
#include "foundation/bit_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "foundation/string_buffer.h"

namespace {

constexpr uint32_t kVarUIntWidthBits = 5;
constexpr uint32_t kMaxVarUInt = 0x7FFFFFFFu;

inline uint64_t LowMask(uint32_t n) { return (uint64_t{1} << n) - 1; }  // n < 64

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}

inline void StoreLe64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, sizeof v);
  } else {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

// True when the 8 bytes from `byte` lie inside the first `limit` bytes.
inline bool HasWord(uint32_t byte, uint32_t limit) { return uint64_t{byte} + 8 <= limit; }

}  // namespace

uint32_t ReadBits(const uint8_t* data, uint32_t position, uint32_t n) {
  if (n == 0) return 0;
  const uint8_t* bytes = data + (position >> 3);
  const uint32_t shift = position & 7;
  uint64_t value = bytes[0] >> shift;
  for (uint32_t have = 8 - shift, i = 1; have < n; have += 8, ++i) {
    value |= uint64_t{bytes[i]} << have;
  }
  return static_cast<uint32_t>(value & LowMask(n));
}

void WriteBits(uint8_t* data, uint32_t position, uint32_t n, uint32_t value) {
  if (n == 0) return;
  uint8_t* bytes = data + (position >> 3);
  const uint32_t shift = position & 7;
  const uint64_t mask = LowMask(n) << shift;
  const uint64_t field = (value & LowMask(n)) << shift;
  for (uint32_t i = 0; i * 8 < shift + n; ++i) {
    const auto byte_mask = static_cast<uint8_t>(mask >> (8 * i));
    bytes[i] =
        static_cast<uint8_t>((bytes[i] & ~byte_mask) | static_cast<uint8_t>(field >> (8 * i)));
  }
}

BitReader::BitReader(const uint8_t* bytes, uint32_t byte_count)
    : data(bytes), size(byte_count), failed(byte_count >= kMaxStreamBytes) {}

uint32_t BitReader::ReadSlow(uint32_t n) {
  if (failed || n == 0) return 0;
  // 64-bit arithmetic: position + n may not fit in 32 bits.
  if (n > 32 || uint64_t{position} + n > uint64_t{size} * 8) {
    failed = true;
    return 0;
  }
  const uint32_t byte = position >> 3;
  uint32_t value;
  if (HasWord(byte, size)) {
    value = static_cast<uint32_t>((LoadLe64(data + byte) >> (position & 7)) & LowMask(n));
  } else {
    value = ReadBits(data, position, n);
  }
  position += n;
  return value;
}

uint32_t BitReader::ReadVarUInt() {
  if (failed) return 0;
  const uint32_t byte = position >> 3;
  if (HasWord(byte, size)) {
    // At least 57 bits remain: the width and up to 31 value bits come from one load.
    const uint64_t bits = LoadLe64(data + byte) >> (position & 7);
    const auto width = static_cast<uint32_t>(bits & LowMask(kVarUIntWidthBits));
    position += kVarUIntWidthBits + width;
    return static_cast<uint32_t>((bits >> kVarUIntWidthBits) & LowMask(width));
  }
  const uint32_t width = Read(kVarUIntWidthBits);
  if (width == 0 || failed) return 0;
  return Read(width);
}

void BitReader::ReadBitString(CStringBufferA& target) {
  const uint32_t length = ReadVarUInt();
  if (failed) return;
  // Characters past the end would read as 0 and end the text anyway, so only those that
  // the range holds are copied and given room.
  const uint32_t count = std::min(length, RemainingBits() / 8);
  target.Reserve(count + 1);
  if (target.capacity < count + 1) {
    failed = true;
    return;
  }
  char* out = target.data;
  ReadCharacters(out, count);
  out[count] = '\0';
  const char* nul = FindByte(out, count, '\0');
  target.length = nul != nullptr ? static_cast<uint32_t>(nul - out) : count;
  if (count < length) failed = true;
}

void BitReader::ReadCharacters(char* out, uint32_t count) {
  const uint8_t* in = data + (position >> 3);
  const uint32_t shift = position & 7;
  if (shift == 0) {
    std::memcpy(out, in, count);
  } else {
    // Character i spans bytes i and i + 1; the last of these is inside the range because
    // all count characters are. While a whole word of the range lies ahead, one load gives
    // seven whole characters (the eighth byte of each store is rewritten by the next).
    uint32_t i = 0;
    const uint32_t first_byte = position >> 3;
    for (; i + 8 <= count && HasWord(first_byte + i, size); i += 7) {
      StoreLe64(reinterpret_cast<uint8_t*>(out + i), LoadLe64(in + i) >> shift);
    }
    for (; i < count; ++i) {
      out[i] = static_cast<char>((in[i] >> shift) | (in[i + 1] << (8 - shift)));
    }
  }
  position += count * 8;
}

void BitReader::SkipBitString() {
  const uint32_t length = ReadVarUInt();
  if (failed) return;
  const uint32_t count = std::min(length, RemainingBits() / 8);
  position += count * 8;
  if (count < length) failed = true;
}

BitWriter::BitWriter(ByteBuffer& target, uint32_t start) : buffer(&target), position(start) {}

void BitWriter::WriteField(uint32_t n, uint64_t value) {
  if (failed) return;
  if (buffer == nullptr) {
    failed = true;
    return;
  }
  const uint64_t end = uint64_t{position} + n;
  const uint64_t needed = (end + 7) / 8;
  ByteBuffer& out = *buffer;
  if (needed >= kMaxStreamBytes ||
      (needed > out.capacity && !out.Grow(static_cast<uint32_t>(needed)))) {
    failed = true;
    return;
  }
  out.size = static_cast<uint32_t>(needed);
  const uint32_t byte = position >> 3;
  const uint32_t shift = position & 7;
  value &= LowMask(n);
  if (HasWord(byte, out.capacity)) {
    // Bytes between size and capacity are owned and zero, so a whole-word store is safe.
    const uint64_t word = LoadLe64(out.data + byte);
    StoreLe64(out.data + byte, (word & ~(LowMask(n) << shift)) | (value << shift));
  } else if (n <= 32) {
    WriteBits(out.data, position, n, static_cast<uint32_t>(value));
  } else {
    WriteBits(out.data, position, 32, static_cast<uint32_t>(value));
    WriteBits(out.data, position + 32, n - 32, static_cast<uint32_t>(value >> 32));
  }
  position = static_cast<uint32_t>(end);
}

void BitWriter::WriteSlow(uint32_t n, uint32_t value) {
  if (n == 0) return;
  if (n > 32) {
    failed = true;
    return;
  }
  WriteField(n, value);
}

void BitWriter::WriteVarUInt(uint32_t value) {
  if (value > kMaxVarUInt) {
    failed = true;
    return;
  }
  // The width and the value go out as one field of 5 + width bits, width first.
  const auto width = static_cast<uint32_t>(std::bit_width(value));
  WriteField(kVarUIntWidthBits + width, uint64_t{width} | (uint64_t{value} << kVarUIntWidthBits));
}

void BitWriter::WriteBitString(const char* text) {
  if (text == nullptr) {
    WriteVarUInt(0);
    return;
  }
  const size_t length = std::strlen(text);
  if (length > kMaxVarUInt) {
    failed = true;
    return;
  }
  WriteBitString(text, static_cast<uint32_t>(length));
}

bool BitWriter::HoldBytes(uint64_t end_bit) {
  const uint64_t needed = (end_bit + 7) / 8;
  ByteBuffer& out = *buffer;
  if (needed >= kMaxStreamBytes ||
      (needed > out.capacity && !out.Grow(static_cast<uint32_t>(needed)))) {
    return false;
  }
  out.size = static_cast<uint32_t>(needed);
  return true;
}

void BitWriter::CopyBytes(const uint8_t* bytes, uint32_t count) {
  uint8_t* dest = buffer->data + (position >> 3);
  const uint32_t shift = position & 7;
  if (shift == 0) {
    std::memcpy(dest, bytes, count);
  } else {
    // Each byte fills the high bits of one byte and the low bits of the next.
    const auto low_mask = static_cast<uint8_t>(LowMask(shift));
    uint64_t carry = dest[0] & low_mask;
    uint32_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
      // Eight bytes at a time: a word of them shifted up, the carry below.
      for (; i + 8 <= count; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        const uint64_t shifted = carry | (word << shift);
        std::memcpy(dest + i, &shifted, 8);
        carry = word >> (64 - shift);
      }
    }
    for (; i < count; ++i) {
      const uint32_t c = bytes[i];
      dest[i] = static_cast<uint8_t>(carry | (c << shift));
      carry = c >> (8 - shift);
    }
    dest[count] = static_cast<uint8_t>((dest[count] & ~low_mask) | carry);
  }
  position += count * 8;
}

void BitWriter::WriteBitString(const char* text, uint32_t length) {
  WriteVarUInt(length);
  if (failed || length == 0) return;
  if (!HoldBytes(uint64_t{position} + uint64_t{length} * 8)) {
    // The whole text does not fit: write it character by character, so the failure comes
    // exactly where the stream stops growing.
    for (uint32_t i = 0; i < length && !failed; ++i) {
      Write(8, static_cast<uint8_t>(text[i]));
    }
    return;
  }
  CopyBytes(reinterpret_cast<const uint8_t*>(text), length);
}

void BitWriter::WriteStream(const uint8_t* bytes, uint32_t bit_count) {
  if (failed || bit_count == 0) {
    return;
  }
  if (buffer == nullptr || !HoldBytes(uint64_t{position} + bit_count)) {
    // The stream does not fit: write it a word at a time, so the failure comes where the
    // stream stops growing.
    uint32_t at = 0;
    for (; bit_count - at >= 32 && !failed; at += 32) {
      Write(32, ReadBits(bytes, at, 32));
    }
    if (at < bit_count) {
      Write(bit_count - at, ReadBits(bytes, at, bit_count - at));
    }
    return;
  }
  // The whole bytes are copied as a text is; the bits of the last, partial byte follow.
  CopyBytes(bytes, bit_count / 8);
  if (const uint32_t rest = bit_count % 8; rest != 0) {
    WriteField(rest, bytes[bit_count / 8]);
  }
}

void BitWriter::Truncate(uint32_t target) {
  failed = false;
  if (buffer == nullptr || target >= position) {
    return;
  }
  ByteBuffer& out = *buffer;
  const uint32_t first_byte = target >> 3;
  const uint32_t kept_bits = target & 7;
  if (first_byte < out.size) {
    uint32_t cleared_from = first_byte;
    if (kept_bits != 0) {
      out.data[first_byte] = static_cast<uint8_t>(out.data[first_byte] & LowMask(kept_bits));
      ++cleared_from;
    }
    if (out.size > cleared_from) {
      std::memset(out.data + cleared_from, 0, out.size - cleared_from);
    }
  }
  position = target;
  out.size = (target + 7) / 8;
}
