// foundation/bit_stream.h - bit cursors over LSB-first packed fields.
//
// Bit i of a field at stream position p is bit (p+i)%8 of byte (p+i)/8, bit 0 being the least
// significant bit of a byte; fields are not padded. So a 32-bit field at a byte-aligned
// position reads like a little-endian 32-bit integer. Reading 3 bits at position 6:
//
//   byte 0: 7 6 5 4 3 2 1 0    byte 1: 7 6 5 4 3 2 1 0
//           1 0 . . . . . .            . . . . . . . 2      (field bit i marked i)
//
// Composite encodings:
//
//   VarUInt     5-bit width w (0..31), then w bits of value (nothing more when w is 0);
//               w is the bit length of the value, so a VarUInt holds 0 .. 2^31 - 1
//   BitString   VarUInt length L, then L characters of 8 bits each, first character first;
//               no terminator is stored
//
// BitReader and BitWriter carry a sticky failed flag: after the first failure reads yield 0
// and do not move, writes are skipped, so a caller checks `failed` once at the end of a unit
// of work. Positions are 32-bit bit counts, so a stream holds less than kMaxStreamBytes bytes:
// a reader over a larger range starts failed, and a writer fails rather than reach it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "foundation/byte_buffer.h"

class CStringBufferA;

/// Streams (and the files that hold them) must be smaller than 512 MiB.
inline constexpr uint32_t kMaxStreamBytes = 1u << 29;

/// The n-bit field (0..32) at bit `position`, zero-extended; 0 when n is 0. Touches only the
/// bytes that hold the field. No bounds checks.
uint32_t ReadBits(const uint8_t* data, uint32_t position, uint32_t n);
/// Stores the low n bits (0..32) of `value` at bit `position`; other bits of the touched bytes
/// keep their values, and no other byte is touched. No bounds checks.
void WriteBits(uint8_t* data, uint32_t position, uint32_t n, uint32_t value);

/// Reading cursor over a byte range it does not own.
struct BitReader {
  uint32_t position = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  bool failed = false;

  BitReader() = default;
  /// A cursor at bit 0 of `size` bytes at `data`; fails at once when size >= kMaxStreamBytes.
  BitReader(const uint8_t* bytes, uint32_t byte_count);

  /// Reads n bits (1..32). Past the end, or a width above 32: sets failed, yields 0, keeps the
  /// position. A width of 0 reads nothing and yields 0. Inline for a field with a whole 64-bit
  /// word of the range from its first byte on (one load); otherwise ReadSlow does the checks.
  uint32_t Read(uint32_t n) {
    const uint32_t byte = position >> 3;
    if (failed || n - 1 >= 32 || uint64_t{byte} + 8 > size) return ReadSlow(n);
    uint64_t word;
    std::memcpy(&word, data + byte, sizeof word);
    if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
    const uint32_t value =
        static_cast<uint32_t>((word >> (position & 7)) & ((uint64_t{1} << n) - 1));
    position += n;
    return value;
  }
  /// Read for every case: past the end, a width of 0 or above 32, a failed reader, the tail.
  uint32_t ReadSlow(uint32_t n);
  /// Reads a VarUInt; yields 0 when failed.
  uint32_t ReadVarUInt();
  /// Reads a BitString into `target`. When the length cannot be read the target is untouched.
  /// Otherwise the target holds the characters up to the first NUL among them, and the
  /// position moves past every character that was read. A string cut off by the end of the
  /// range keeps the characters that were there and sets failed; room is reserved only for
  /// characters that the range can hold, so a forged length never causes a large allocation.
  void ReadBitString(CStringBufferA& target);
  /// Copies `count` 8-bit characters from the position into `out` (no NUL is added) and moves
  /// past them. The range must hold them: count <= RemainingBits() / 8.
  void ReadCharacters(char* out, uint32_t count);
  /// Moves past a BitString exactly as ReadBitString does, keeping none of it: nothing moves
  /// when the length cannot be read, and a string cut off by the end of the range moves the
  /// position past the characters that are there and sets failed.
  void SkipBitString();
  /// Bits left before the end of the range; 0 once the reader has failed.
  uint32_t RemainingBits() const {
    const uint64_t end = uint64_t{size} * 8;
    if (failed || position >= end) return 0;
    const uint64_t left = end - position;
    return left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
  }
};

/// Writing cursor over a ByteBuffer it does not own; grows the buffer as it writes and sets
/// the buffer's size to the bytes touched by the last write, (position + 7) / 8 after it.
/// A write fails (sticky) when the buffer cannot grow or the stream would reach
/// kMaxStreamBytes; a failed write changes neither the buffer nor the position.
struct BitWriter {
  ByteBuffer* buffer = nullptr;
  uint32_t position = 0;
  bool failed = false;

  BitWriter() = default;
  /// A cursor at bit `start` of `target`.
  explicit BitWriter(ByteBuffer& target, uint32_t start = 0);

  /// Writes the low n bits (1..32) of `value`. A width of 0 writes nothing; a width above 32,
  /// or a writer without a buffer, sets failed. Inline when the whole 64-bit word from the
  /// field's first byte on is already within the buffer's capacity (bytes past `size` are
  /// owned and zero, so storing the word back changes none of them); otherwise WriteSlow grows
  /// the buffer and does the checks.
  void Write(uint32_t n, uint32_t value) {
    const uint32_t byte = position >> 3;
    if (failed || n - 1 >= 32 || buffer == nullptr || uint64_t{byte} + 8 > buffer->capacity ||
        byte + 8 >= kMaxStreamBytes) {
      WriteSlow(n, value);
      return;
    }
    const uint64_t end = uint64_t{position} + n;
    const uint64_t mask = (uint64_t{1} << n) - 1;
    const uint32_t shift = position & 7;
    uint64_t word;
    std::memcpy(&word, buffer->data + byte, sizeof word);
    if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
    word = (word & ~(mask << shift)) | ((value & mask) << shift);
    if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
    std::memcpy(buffer->data + byte, &word, sizeof word);
    buffer->size = static_cast<uint32_t>((end + 7) / 8);
    position = static_cast<uint32_t>(end);
  }
  /// Write for every case: a width of 0 or above 32, a failed writer, a buffer to grow.
  void WriteSlow(uint32_t n, uint32_t value);
  /// Writes a 32-bit word.
  void WriteWord(uint32_t value) { Write(32, value); }
  /// Writes a VarUInt; values of 2^31 and above cannot be stored and set failed.
  void WriteVarUInt(uint32_t value);
  /// Writes the NUL-terminated `text` as a BitString; a null text is written as the empty one.
  void WriteBitString(const char* text);
  /// Writes `length` bytes of `text` as a BitString; lengths of 2^31 and above set failed.
  void WriteBitString(const char* text, uint32_t length);
  /// Writes the first `bit_count` bits of the stream in `bytes` (bit i of the stream is bit
  /// i % 8 of byte i / 8), as the same number of Write calls would.
  void WriteStream(const uint8_t* bytes, uint32_t bit_count);
  /// Moves back to `position` (at most the current one) and clears the failed flag: every bit
  /// from there on is zero again and the buffer's size is that of a stream of `position` bits,
  /// as if nothing had been written after it. The capacity stays.
  void Truncate(uint32_t position);

 private:
  /// Writes the low n bits (1..57) of `value`.
  void WriteField(uint32_t n, uint64_t value);
  /// Gives the buffer room up to bit `end_bit` and makes that its size; false when it cannot.
  [[nodiscard]] bool HoldBytes(uint64_t end_bit);
  /// Copies `count` whole bytes to the position, which HoldBytes has made room for.
  void CopyBytes(const uint8_t* bytes, uint32_t count);
};
