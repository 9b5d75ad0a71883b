// tests/foundation/bit_stream_test.cpp
#include "foundation/bit_stream.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/byte_buffer.h"
#include "foundation/string_buffer.h"

namespace {

// Bit-by-bit definitions of the field layout, independent of the code under test.
uint32_t RefRead(const std::vector<uint8_t>& bytes, uint32_t position, uint32_t n) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < n; ++i) {
    value |= uint32_t{(bytes[(position + i) / 8] >> ((position + i) % 8)) & 1u} << i;
  }
  return value;
}

void RefWrite(std::vector<uint8_t>& bytes, uint32_t position, uint32_t n, uint32_t value) {
  for (uint32_t i = 0; i < n; ++i) {
    const auto mask = static_cast<uint8_t>(1u << ((position + i) % 8));
    uint8_t& byte = bytes[(position + i) / 8];
    byte = ((value >> i) & 1u) ? byte | mask : byte & static_cast<uint8_t>(~mask);
  }
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<uint8_t> Contents(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

TEST(BitFieldTest, ReferenceVectors) {
  const uint8_t bytes[] = {0xAB, 0xCD, 0x03, 0x04};
  EXPECT_EQ(ReadBits(bytes, 4, 8), 0xDAu);
  EXPECT_EQ(ReadBits(bytes, 0, 32), 0x0403CDABu);
  EXPECT_EQ(ReadBits(bytes, 3, 0), 0u);
  uint8_t zeros[] = {0x00, 0x00}, ones[] = {0xFF, 0xFF};
  WriteBits(zeros, 6, 3, 0b101);
  WriteBits(ones, 6, 3, 0b101);
  WriteBits(ones, 0, 0, 0);
  EXPECT_EQ(std::vector<uint8_t>(zeros, zeros + 2), (std::vector<uint8_t>{0x40, 0x01}));
  EXPECT_EQ(std::vector<uint8_t>(ones, ones + 2), (std::vector<uint8_t>{0x7F, 0xFF}));
}

// Each field sits in a heap block that ends with the field's last byte, so the sanitizer
// catches a routine that touches a byte beyond the field.
TEST(BitFieldTest, SweepMatchesReferenceAndChangesOnlyFieldBits) {
  std::mt19937 rng(1);
  for (uint32_t offset = 0; offset < 40; ++offset) {
    for (uint32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " width " << n);
      for (int trial = 0; trial < 4; ++trial) {
        std::vector<uint8_t> expected = RandomBytes(rng, (offset + n + 7) / 8);
        const auto value = static_cast<uint32_t>(rng());
        auto exact = std::make_unique<uint8_t[]>(expected.size());
        std::memcpy(exact.get(), expected.data(), expected.size());
        EXPECT_EQ(ReadBits(exact.get(), offset, n), RefRead(expected, offset, n));
        WriteBits(exact.get(), offset, n, value);
        RefWrite(expected, offset, n, n == 32 ? value : value & ((1u << n) - 1));
        EXPECT_EQ(std::vector<uint8_t>(exact.get(), exact.get() + expected.size()), expected);
      }
    }
  }
}

// Every position of a short range, so that both the word path and the byte path near the
// end are taken; the last fitting field succeeds, one bit more fails.
TEST(BitReaderTest, ReadSweepMatchesReferenceUpToTheEnd) {
  std::mt19937 rng(3);
  const std::vector<uint8_t> bytes = RandomBytes(rng, 20);
  for (uint32_t n = 1; n <= 32; ++n) {
    for (uint32_t start = 0; start + n <= 161; ++start) {
      SCOPED_TRACE(testing::Message() << "start " << start << " width " << n);
      BitReader reader(bytes.data(), 20);
      reader.position = start;
      const uint32_t value = reader.Read(n);
      const bool fits = start + n <= 160;
      EXPECT_EQ(reader.failed, !fits);
      EXPECT_EQ(value, fits ? RefRead(bytes, start, n) : 0u);
      EXPECT_EQ(reader.position, fits ? start + n : start);
    }
  }
}

// A failed read yields 0, keeps the position and fails every later read. The range claimed
// near the limit is far longer than the array, so only a bounds check that does not wrap at
// 2^32 keeps those reads inside it.
TEST(BitReaderTest, FailedReadsKeepThePositionAndStick) {
  const uint8_t bytes[10] = {0xFF, 0xFF, 20, 0xFF, 0, 0, 0, 0, 20, 0xFF};
  const struct {
    uint32_t size;
    uint32_t start;
    uint32_t n;  // 0: a VarUInt
    uint32_t end;
  } cases[] = {
      {2, 0, 33, 0},               // too wide
      {kMaxStreamBytes, 0, 8, 0},  // range too large
      {kMaxStreamBytes - 1, (kMaxStreamBytes - 1) * 8 - 4, 32, (kMaxStreamBytes - 1) * 8 - 4},
      {4, 16, 0, 21},   // value cut off
      {10, 64, 0, 69},  // ... after a longer prefix
      {1, 4, 0, 4},     // width cut off
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " start " << c.start);
    BitReader reader(bytes, c.size);
    reader.position = c.start;
    EXPECT_EQ(c.n == 0 ? reader.ReadVarUInt() : reader.Read(c.n), 0u);
    EXPECT_TRUE(reader.failed);
    EXPECT_EQ(reader.position, c.end);
    EXPECT_EQ(reader.Read(1), 0u);
    EXPECT_EQ(reader.RemainingBits(), 0u);
  }
  BitReader largest(bytes, kMaxStreamBytes - 1);
  EXPECT_EQ(largest.RemainingBits(), (kMaxStreamBytes - 1) * 8);
  EXPECT_EQ(largest.Read(0), 0u);
  EXPECT_EQ(largest.Read(8), 0xFFu);
  EXPECT_FALSE(largest.failed);
}

// Skipping a string from bit `start` ends where reading it ends, failed exactly when reading
// fails.
void ExpectSkipEndsLikeRead(const uint8_t* data, uint32_t size, uint32_t start) {
  BitReader read(data, size), skipped(data, size);
  read.position = skipped.position = start;
  CStringBufferA text;
  read.ReadBitString(text);
  skipped.SkipBitString();
  EXPECT_EQ(skipped.position, read.position) << start;
  EXPECT_EQ(skipped.failed, read.failed) << start;
}

// A NUL ends the text but not the string. Cut off after its length, the text keeps the
// characters present; cut off in its length, the target is untouched; a forged length
// reserves only what the range holds. Skipping moves exactly as reading does in each case.
TEST(BitReaderTest, StringsWithNulOrCutOffReadSoundly) {
  ByteBuffer buffer(16);
  BitWriter writer(buffer);
  writer.WriteBitString("ab\0cd", 5);
  writer.Write(7, 0x55);
  BitReader with_nul(buffer.data, buffer.size);
  CStringBufferA text;
  with_nul.ReadBitString(text);
  EXPECT_STREQ(text.data, "ab");
  EXPECT_EQ(text.length, 2u);
  EXPECT_EQ(with_nul.Read(7), 0x55u);
  EXPECT_FALSE(with_nul.failed);
  ExpectSkipEndsLikeRead(buffer.data, buffer.size, 0);
  for (uint32_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    ByteBuffer cut_buffer(16);
    BitWriter cut_writer(cut_buffer, shift);
    cut_writer.WriteVarUInt(10);
    cut_writer.WriteWord(0x7A797877);  // "wxyz"
    BitReader reader(cut_buffer.data, cut_buffer.size);
    reader.position = shift;
    TStringBufferA<32> cut_text("previous text");
    reader.ReadBitString(cut_text);
    EXPECT_TRUE(reader.failed);
    EXPECT_STREQ(cut_text.data, "wxyz");
    EXPECT_EQ(cut_text.length, 4u);
    EXPECT_EQ(reader.position, cut_writer.position);
    ExpectSkipEndsLikeRead(cut_buffer.data, cut_buffer.size, shift);
  }
  const uint8_t width_only[] = {0x1F};
  BitReader reader(width_only, 1);
  reader.ReadBitString(text);
  EXPECT_TRUE(reader.failed);
  EXPECT_STREQ(text.data, "ab");
  EXPECT_EQ(text.length, 2u);
  ExpectSkipEndsLikeRead(width_only, 1, 0);

  ByteBuffer forged_buffer(16);
  BitWriter forger(forged_buffer);
  forger.WriteVarUInt(0x7FFFFFFF);
  forger.Write(8, 'q');
  BitReader forged(forged_buffer.data, forged_buffer.size);
  CStringBufferA forged_text;
  forged.ReadBitString(forged_text);
  EXPECT_TRUE(forged.failed);
  EXPECT_STREQ(forged_text.data, "q");
  EXPECT_LE(forged_text.capacity, 256u);
  ExpectSkipEndsLikeRead(forged_buffer.data, forged_buffer.size, 0);
}

// A small granule, so that fields near the end of the capacity take the byte path. The size
// becomes the bytes touched by the last write.
TEST(BitWriterTest, WriteSweepMatchesReferenceAndKeepsNeighbouringBits) {
  std::mt19937 rng(4);
  for (uint32_t start = 0; start < 64; ++start) {
    for (uint32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(testing::Message() << "start " << start << " width " << n);
      ByteBuffer buffer(8);
      ASSERT_TRUE(buffer.Grow(start / 8 + 1));
      std::vector<uint8_t> expected = RandomBytes(rng, buffer.capacity);
      std::memcpy(buffer.data, expected.data(), expected.size());
      buffer.size = buffer.capacity;
      const auto value = static_cast<uint32_t>(rng());
      BitWriter writer(buffer, start);
      writer.Write(n, value);
      ASSERT_FALSE(writer.failed);
      EXPECT_EQ(writer.position, start + n);
      EXPECT_EQ(buffer.size, (start + n + 7) / 8);
      expected.resize(buffer.capacity, 0);
      RefWrite(expected, start, n, value);
      EXPECT_EQ(std::vector<uint8_t>(buffer.data, buffer.data + buffer.capacity), expected);
    }
  }
}

TEST(BitWriterTest, FortyCharacterStringLayoutKeepsBitsAroundIt) {
  const std::string text = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  for (uint32_t start = 0; start < 8; ++start) {
    SCOPED_TRACE(start);
    ByteBuffer buffer(64);
    ASSERT_TRUE(buffer.Grow(64));
    std::memset(buffer.data, 0xFF, 64);
    BitWriter writer(buffer, start);
    writer.WriteBitString(text.c_str());
    writer.WriteBitString(nullptr);
    EXPECT_EQ(writer.position, start + 5 + 6 + 320 + 5);
    EXPECT_EQ(buffer.size, (writer.position + 7) / 8);
    std::vector<uint8_t> expected(64, 0xFF);
    RefWrite(expected, start, 5, 6);
    RefWrite(expected, start + 5, 6, 40);
    for (uint32_t i = 0; i < 40; ++i) RefWrite(expected, start + 11 + 8 * i, 8, uint8_t(text[i]));
    RefWrite(expected, start + 331, 5, 0);
    EXPECT_EQ(std::vector<uint8_t>(buffer.data, buffer.data + 64), expected);
  }
}

// A failed write changes neither the buffer nor the position, and later writes are skipped.
// Streams may not reach kMaxStreamBytes, and a position sum past 2^32 must not wrap.
TEST(BitWriterTest, FailedWritesChangeNothingAndStick) {
  const struct {
    uint32_t position;
    uint32_t n;  // 0: a VarUInt
    uint32_t value;
  } cases[] = {
      {4, 33, 0},
      {4, 0, 0x80000000u},
      {4, 0, 0xFFFFFFFFu},
      {0xFFFFFFFFu, 32, 1},
      {(kMaxStreamBytes - 1) * 8, 1, 1},
      {kMaxStreamBytes * 8 - 8, 8, 1},
      {0xFFFFFFF0u, 0, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.position << " " << c.n << " " << c.value);
    ByteBuffer buffer(16);
    BitWriter writer(buffer, c.position);
    c.n == 0 ? writer.WriteVarUInt(c.value) : writer.Write(c.n, c.value);
    EXPECT_TRUE(writer.failed);
    writer.Write(8, 0xFF);
    writer.WriteBitString("abc");
    EXPECT_EQ(writer.position, c.position);
    EXPECT_EQ(buffer.capacity, 0u);
  }
  ByteBuffer buffer(16);
  BitWriter writer(buffer), unbound;
  writer.Write(0, 0xFF);
  EXPECT_FALSE(writer.failed);
  EXPECT_EQ(buffer.size, 0u);
  unbound.Write(1, 1);
  EXPECT_TRUE(unbound.failed);
}

// Random mixes of raw fields, VarUInts and strings at every start offset: the written bits
// equal the reference layout and read back field by field.
TEST(BitWriterTest, MixedStreamsMatchReferenceLayoutAndRoundTrip) {
  struct Field {
    uint32_t kind;  // 0 raw, 1 VarUInt, 2 string
    uint32_t width;
    uint32_t value;
    std::string text;
  };
  std::mt19937 rng(5);
  for (uint32_t start = 0; start < 16; ++start) {
    SCOPED_TRACE(start);
    ByteBuffer buffer(64);
    BitWriter writer(buffer, start);
    std::vector<uint8_t> expected(8192, 0);
    uint32_t bit = start;
    auto append = [&](uint32_t n, uint32_t value) {
      RefWrite(expected, bit, n, value);
      bit += n;
    };
    auto append_var = [&](uint32_t value) {
      append(5, static_cast<uint32_t>(std::bit_width(value)));
      append(static_cast<uint32_t>(std::bit_width(value)), value);
    };
    std::vector<Field> fields(300);
    for (Field& f : fields) {
      f = {static_cast<uint32_t>(rng() % 3), 1 + static_cast<uint32_t>(rng() % 32),
           static_cast<uint32_t>(rng()), std::string(rng() % 20, '\0')};
      if (f.kind == 0) {
        f.value = static_cast<uint32_t>(uint64_t{f.value} >> (32 - f.width));
        writer.Write(f.width, f.value);
        append(f.width, f.value);
      } else if (f.kind == 1) {
        f.value = static_cast<uint32_t>(uint64_t{f.value} >> f.width);
        writer.WriteVarUInt(f.value);
        append_var(f.value);
      } else {
        for (char& c : f.text) c = static_cast<char>(1 + rng() % 255);
        writer.WriteBitString(f.text.c_str());
        append_var(static_cast<uint32_t>(f.text.size()));
        for (char c : f.text) append(8, static_cast<uint8_t>(c));
      }
    }
    ASSERT_FALSE(writer.failed);
    ASSERT_EQ(writer.position, bit);
    expected.resize((bit + 7) / 8);
    ASSERT_EQ(Contents(buffer), expected);

    BitReader reader(buffer.data, buffer.size);
    reader.position = start;
    TStringBufferA<32> text;
    for (const Field& f : fields) {
      if (f.kind == 0) {
        ASSERT_EQ(reader.Read(f.width), f.value);
      } else if (f.kind == 1) {
        ASSERT_EQ(reader.ReadVarUInt(), f.value);
      } else {
        reader.ReadBitString(text);
        ASSERT_EQ(std::string(text.data, text.length), f.text);
      }
    }
    EXPECT_FALSE(reader.failed);
    EXPECT_EQ(reader.position, bit);
  }
}

// A stream copied into another writer at any bit position gives the bits that writing its
// fields there would give; truncating a stream at any bit gives the stream of its first bits,
// with every later bit zero, and writing on from there gives what writing only that would.
TEST(BitWriterTest, CopiedAndTruncatedStreamsMatchWritingTheirFields) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::pair<uint32_t, uint32_t>> fields;  // width, value
    for (int i = static_cast<int>(rng() % 12); i > 0; --i) {
      const uint32_t width = 1 + rng() % 32;
      fields.emplace_back(width,
                          static_cast<uint32_t>(rng()) & (width == 32 ? ~0u : (1u << width) - 1));
    }
    const uint32_t start = rng() % 70;
    const auto write_fields = [&](BitWriter& writer, size_t count) {
      for (size_t i = 0; i < count; ++i) writer.Write(fields[i].first, fields[i].second);
    };

    ByteBuffer expected_buffer;
    BitWriter expected(expected_buffer);
    expected.Write(start % 32 + 1, 1);
    write_fields(expected, fields.size());

    ByteBuffer source_buffer;
    BitWriter source(source_buffer);
    write_fields(source, fields.size());
    ByteBuffer copy_buffer;
    BitWriter copy(copy_buffer);
    copy.Write(start % 32 + 1, 1);
    copy.WriteStream(source_buffer.data, source.position);
    ASSERT_FALSE(copy.failed);
    EXPECT_EQ(copy.position, expected.position);
    EXPECT_EQ(Contents(copy_buffer), Contents(expected_buffer));

    // Back to the end of any field, then the rest written again.
    const size_t kept = fields.empty() ? 0 : rng() % fields.size();
    ByteBuffer prefix_buffer;
    BitWriter prefix(prefix_buffer);
    prefix.Write(start % 32 + 1, 1);
    write_fields(prefix, kept);
    BitWriter again(expected_buffer, expected.position);
    again.failed = true;
    again.Truncate(prefix.position);
    EXPECT_FALSE(again.failed);
    EXPECT_EQ(again.position, prefix.position);
    EXPECT_EQ(Contents(expected_buffer), Contents(prefix_buffer));
    for (uint32_t i = expected_buffer.size; i < expected_buffer.capacity; ++i) {
      ASSERT_EQ(expected_buffer.data[i], 0) << i;
    }
    for (size_t i = kept; i < fields.size(); ++i) again.Write(fields[i].first, fields[i].second);
    source.Truncate(0);
    EXPECT_EQ(source_buffer.size, 0u);
    write_fields(source, fields.size());
    EXPECT_EQ(again.position, copy.position);
    EXPECT_EQ(Contents(expected_buffer), Contents(copy_buffer));
  }
}

// Only the first bit_count bits of the source are copied, whatever follows them in its last
// byte and beyond, at every bit offset and length around the whole bytes and the words.
TEST(BitWriterTest, CopiedStreamTakesOnlyItsBits) {
  std::mt19937 rng(11);
  std::vector<uint8_t> source(24);
  for (uint32_t start = 0; start < 16; ++start) {
    for (uint32_t bit_count = 0; bit_count <= 140; ++bit_count) {
      for (uint8_t& byte : source) byte = static_cast<uint8_t>(rng());
      for (uint32_t bit = bit_count; bit < source.size() * 8; ++bit) {
        source[bit / 8] = static_cast<uint8_t>(source[bit / 8] | (1u << (bit % 8)));
      }
      ByteBuffer expected_buffer;
      BitWriter expected(expected_buffer);
      ByteBuffer copy_buffer;
      BitWriter copy(copy_buffer);
      for (uint32_t bit = 0; bit < start; ++bit) {
        expected.Write(1, bit & 1);
        copy.Write(1, bit & 1);
      }
      for (uint32_t bit = 0; bit < bit_count; ++bit) {
        expected.Write(1, (source[bit / 8] >> (bit % 8)) & 1);
      }
      copy.WriteStream(source.data(), bit_count);
      ASSERT_FALSE(copy.failed);
      ASSERT_EQ(copy.position, start + bit_count);
      ASSERT_EQ(Contents(copy_buffer), Contents(expected_buffer)) << start << " " << bit_count;
      for (uint32_t i = copy_buffer.size; i < copy_buffer.capacity; ++i) {
        ASSERT_EQ(copy_buffer.data[i], 0) << start << " " << bit_count << " " << i;
      }
    }
  }
}

}  // namespace
