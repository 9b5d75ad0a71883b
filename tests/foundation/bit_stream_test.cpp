// tests/foundation/bit_stream_test.cpp
#include "foundation/bit_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
    const uint32_t bit = position + i;
    value |= uint32_t{(bytes[bit / 8] >> (bit % 8)) & 1u} << i;
  }
  return value;
}

void RefWrite(std::vector<uint8_t>& bytes, uint32_t position, uint32_t n, uint32_t value) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t bit = position + i;
    const auto mask = static_cast<uint8_t>(1u << (bit % 8));
    if ((value >> i) & 1u) {
      bytes[bit / 8] |= mask;
    } else {
      bytes[bit / 8] &= static_cast<uint8_t>(~mask);
    }
  }
}

uint32_t Mask(uint32_t n) { return n == 32 ? 0xFFFFFFFFu : (1u << n) - 1; }

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<uint8_t> Contents(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

// A field of a mixed stream: a raw field, a VarUInt or a BitString.
struct Field {
  enum Kind { kRaw, kVarUInt, kString } kind;
  uint32_t width;
  uint32_t value;
  std::string text;
};

std::vector<Field> RandomFields(std::mt19937& rng, int count) {
  std::vector<Field> fields;
  for (int i = 0; i < count; ++i) {
    Field field{static_cast<Field::Kind>(rng() % 3), 0, 0, {}};
    if (field.kind == Field::kRaw) {
      field.width = 1 + rng() % 32;
      field.value = static_cast<uint32_t>(rng()) & Mask(field.width);
    } else if (field.kind == Field::kVarUInt) {
      field.value = rng() % 8 == 0 ? 0 : static_cast<uint32_t>(rng()) >> (1 + rng() % 31);
    } else {
      const uint32_t length = rng() % 20;
      for (uint32_t c = 0; c < length; ++c)
        field.text.push_back(static_cast<char>(1 + rng() % 255));
    }
    fields.push_back(field);
  }
  return fields;
}

// --- Raw fields ---

TEST(BitFieldTest, ReadsHighNibbleThenLowNibbleAcrossByteBoundary) {
  const uint8_t bytes[] = {0xAB, 0xCD};
  EXPECT_EQ(ReadBits(bytes, 4, 8), 0xDAu);
}

TEST(BitFieldTest, AlignedWordReadsLittleEndian) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(ReadBits(bytes, 0, 32), 0x04030201u);
}

TEST(BitFieldTest, WriteAcrossByteBoundaryKeepsOtherBits) {
  uint8_t zeros[] = {0x00, 0x00};
  WriteBits(zeros, 6, 3, 0b101);
  EXPECT_EQ(zeros[0], 0x40);
  EXPECT_EQ(zeros[1], 0x01);

  uint8_t ones[] = {0xFF, 0xFF};
  WriteBits(ones, 6, 3, 0b101);
  EXPECT_EQ(ones[0], 0x7F);
  EXPECT_EQ(ones[1], 0xFF);
}

TEST(BitFieldTest, ZeroWidthReadsZeroAndWritesNothing) {
  uint8_t bytes[] = {0xFF};
  EXPECT_EQ(ReadBits(bytes, 3, 0), 0u);
  WriteBits(bytes, 3, 0, 0);
  EXPECT_EQ(bytes[0], 0xFF);
}

// Each field sits in a heap block that ends with the field's last byte, so the sanitizer
// catches a routine that touches a byte beyond the field.
TEST(BitFieldTest, ReadSweepMatchesReference) {
  std::mt19937 rng(1);
  for (uint32_t offset = 0; offset < 40; ++offset) {
    for (uint32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " width " << n);
      for (int trial = 0; trial < 4; ++trial) {
        const std::vector<uint8_t> bytes = RandomBytes(rng, (offset + n + 7) / 8);
        auto* exact = new uint8_t[bytes.size()];
        std::memcpy(exact, bytes.data(), bytes.size());
        EXPECT_EQ(ReadBits(exact, offset, n), RefRead(bytes, offset, n));
        delete[] exact;
      }
    }
  }
}

TEST(BitFieldTest, WriteSweepChangesOnlyFieldBits) {
  std::mt19937 rng(2);
  for (uint32_t offset = 0; offset < 40; ++offset) {
    for (uint32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " width " << n);
      for (int trial = 0; trial < 4; ++trial) {
        std::vector<uint8_t> expected = RandomBytes(rng, (offset + n + 7) / 8);
        const auto value = static_cast<uint32_t>(rng());
        auto* exact = new uint8_t[expected.size()];
        std::memcpy(exact, expected.data(), expected.size());
        WriteBits(exact, offset, n, value);
        RefWrite(expected, offset, n, value & Mask(n));
        EXPECT_EQ(std::vector<uint8_t>(exact, exact + expected.size()), expected);
        delete[] exact;
      }
    }
  }
}

// --- BitReader ---

// Every position of a short range, so that both the word path and the byte path near the
// end are taken, against the reference; the last fitting field succeeds, one bit more fails.
TEST(BitReaderTest, ReadSweepMatchesReferenceUpToTheEnd) {
  std::mt19937 rng(3);
  const std::vector<uint8_t> bytes = RandomBytes(rng, 20);
  const uint32_t total = 20 * 8;
  for (uint32_t n = 1; n <= 32; ++n) {
    for (uint32_t start = 0; start + n <= total + 1; ++start) {
      SCOPED_TRACE(testing::Message() << "start " << start << " width " << n);
      BitReader reader(bytes.data(), 20);
      reader.position = start;
      const uint32_t value = reader.Read(n);
      if (start + n <= total) {
        EXPECT_FALSE(reader.failed);
        EXPECT_EQ(value, RefRead(bytes, start, n));
        EXPECT_EQ(reader.position, start + n);
      } else {
        EXPECT_TRUE(reader.failed);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(reader.position, start);
      }
    }
  }
}

TEST(BitReaderTest, FailureIsSticky) {
  const uint8_t bytes[] = {0xFF, 0xFF};
  BitReader reader(bytes, sizeof bytes);
  EXPECT_EQ(reader.Read(12), 0xFFFu);
  EXPECT_EQ(reader.Read(5), 0u);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(reader.Read(1), 0u);
  EXPECT_EQ(reader.Read(4), 0u);
  EXPECT_EQ(reader.ReadVarUInt(), 0u);
  EXPECT_EQ(reader.position, 12u);
  EXPECT_EQ(reader.RemainingBits(), 0u);
}

TEST(BitReaderTest, WidthZeroReadsNothingAndAbove32Fails) {
  const uint8_t bytes[16] = {0xFF};
  BitReader reader(bytes, sizeof bytes);
  EXPECT_EQ(reader.Read(0), 0u);
  EXPECT_FALSE(reader.failed);
  EXPECT_EQ(reader.Read(33), 0u);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(reader.position, 0u);
}

TEST(BitReaderTest, RangeOfMaxStreamBytesStartsFailed) {
  const uint8_t bytes[8] = {0xFF};
  BitReader too_large(bytes, kMaxStreamBytes);
  EXPECT_TRUE(too_large.failed);
  EXPECT_EQ(too_large.Read(8), 0u);
  EXPECT_EQ(too_large.RemainingBits(), 0u);

  BitReader largest(bytes, kMaxStreamBytes - 1);
  EXPECT_FALSE(largest.failed);
  EXPECT_EQ(largest.RemainingBits(), (kMaxStreamBytes - 1) * 8);
  EXPECT_EQ(largest.Read(8), 0xFFu);
}

// position + n passes 2^32 here; a 32-bit sum would wrap and let the read through. The backing
// array is far shorter than the claimed size, so only a correct check keeps this in bounds.
TEST(BitReaderTest, BoundsCheckDoesNotWrapNearTheLimit) {
  const uint8_t bytes[8] = {};
  BitReader reader(bytes, kMaxStreamBytes - 1);
  reader.position = (kMaxStreamBytes - 1) * 8 - 4;
  EXPECT_EQ(reader.Read(32), 0u);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(reader.position, (kMaxStreamBytes - 1) * 8 - 4);
}

TEST(BitReaderTest, VarUIntOfZeroWidthReadsFiveBits) {
  const uint8_t bytes[] = {0xE0};  // width 0, then three set bits
  BitReader reader(bytes, sizeof bytes);
  EXPECT_EQ(reader.ReadVarUInt(), 0u);
  EXPECT_EQ(reader.position, 5u);
  EXPECT_EQ(reader.Read(3), 0b111u);
}

TEST(BitReaderTest, VarUIntCutOffAfterItsWidthFails) {
  // Width 20 with only 11 value bits left, on the byte path and after a word-path prefix.
  for (uint32_t prefix_bytes : {0u, 16u}) {
    SCOPED_TRACE(prefix_bytes);
    std::vector<uint8_t> bytes(prefix_bytes, 0x00);
    bytes.push_back(20);
    bytes.push_back(0xFF);
    BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
    reader.position = prefix_bytes * 8;
    EXPECT_EQ(reader.ReadVarUInt(), 0u);
    EXPECT_TRUE(reader.failed);
    EXPECT_EQ(reader.position, prefix_bytes * 8 + 5);
  }
}

TEST(BitReaderTest, VarUIntCutOffInItsWidthFails) {
  const uint8_t bytes[] = {0x00};
  BitReader reader(bytes, sizeof bytes);
  reader.position = 4;
  EXPECT_EQ(reader.ReadVarUInt(), 0u);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(reader.position, 4u);
}

TEST(BitReaderTest, StringWithEmbeddedNulEndsThereButConsumesEveryCharacter) {
  ByteBuffer buffer(16);
  BitWriter writer(buffer);
  writer.WriteBitString("ab\0cd", 5);
  writer.Write(7, 0x55);
  BitReader reader(buffer.data, buffer.size);
  CStringBufferA text;
  reader.ReadBitString(text);
  EXPECT_STREQ(text.data, "ab");
  EXPECT_EQ(text.length, 2u);
  EXPECT_EQ(reader.position, 8u + 5 * 8);
  EXPECT_EQ(reader.Read(7), 0x55u);
  EXPECT_FALSE(reader.failed);
}

TEST(BitReaderTest, StringCutOffKeepsCharactersThatArePresent) {
  for (uint32_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    ByteBuffer buffer(16);
    BitWriter writer(buffer, shift);
    writer.WriteVarUInt(10);
    writer.Write(8, 'w');
    writer.Write(8, 'x');
    writer.Write(8, 'y');
    writer.Write(8, 'z');
    BitReader reader(buffer.data, buffer.size);
    reader.position = shift;
    TStringBufferA<32> text("previous text");
    reader.ReadBitString(text);
    EXPECT_TRUE(reader.failed);
    EXPECT_STREQ(text.data, "wxyz");
    EXPECT_EQ(text.length, 4u);
    EXPECT_EQ(reader.position, writer.position);
  }
}

TEST(BitReaderTest, StringWhoseLengthIsCutOffLeavesTargetUntouched) {
  const uint8_t bytes[] = {0x1F};  // width 31, no length bits
  BitReader reader(bytes, sizeof bytes);
  CStringBufferA text("kept");
  reader.ReadBitString(text);
  EXPECT_TRUE(reader.failed);
  EXPECT_STREQ(text.data, "kept");
  EXPECT_EQ(text.length, 4u);

  BitReader failed_before(bytes, sizeof bytes);
  failed_before.failed = true;
  failed_before.ReadBitString(text);
  EXPECT_STREQ(text.data, "kept");
  EXPECT_EQ(failed_before.position, 0u);
}

TEST(BitReaderTest, ForgedStringLengthDoesNotReserveIt) {
  ByteBuffer buffer(16);
  BitWriter writer(buffer);
  writer.WriteVarUInt(0x7FFFFFFF);
  writer.Write(8, 'q');
  BitReader reader(buffer.data, buffer.size);
  CStringBufferA text;
  reader.ReadBitString(text);
  EXPECT_TRUE(reader.failed);
  EXPECT_STREQ(text.data, "q");
  EXPECT_LE(text.capacity, 256u);
}

// --- BitWriter ---

// A buffer of random bytes with a small granule, so that fields near the end of the capacity
// take the byte path; every write must leave every other bit as it was.
TEST(BitWriterTest, WriteSweepMatchesReferenceAndKeepsNeighbouringBits) {
  std::mt19937 rng(4);
  for (uint32_t start = 0; start < 64; ++start) {
    for (uint32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(testing::Message() << "start " << start << " width " << n);
      ByteBuffer buffer(8);
      ASSERT_TRUE(buffer.Grow(start / 8 + 1));
      std::vector<uint8_t> expected = RandomBytes(rng, buffer.capacity);
      std::memcpy(buffer.data, expected.data(), expected.size());
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

TEST(BitWriterTest, SizeIsBytesTouchedByTheLastWrite) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.Grow(100));
  buffer.size = 100;
  BitWriter writer(buffer);
  writer.Write(9, 0x1FF);
  EXPECT_EQ(buffer.size, 2u);
  EXPECT_EQ(Contents(buffer), (std::vector<uint8_t>{0xFF, 0x01}));
}

TEST(BitWriterTest, GrowsByWholeGranules) {
  ByteBuffer buffer(kGranuleBytes);
  BitWriter writer(buffer);
  writer.Write(1, 1);
  EXPECT_EQ(buffer.capacity, kGranuleBytes);
  for (uint32_t i = 0; i < kGranuleBytes / 4 - 1; ++i) writer.WriteWord(0xFFFFFFFF);
  EXPECT_EQ(buffer.capacity, kGranuleBytes);
  writer.WriteWord(0);
  EXPECT_EQ(buffer.capacity, 2 * kGranuleBytes);
  EXPECT_EQ(buffer.size, kGranuleBytes + 1);
  EXPECT_FALSE(writer.failed);
}

TEST(BitWriterTest, VarUIntLayout) {
  struct Case {
    uint32_t value;
    uint32_t bits;
    uint64_t field;
  };
  const Case cases[] = {
      {0, 5, 0},
      {1, 6, 1 | 1 << 5},
      {5, 8, 3 | 0b101 << 5},
      {0x7FFFFFFF, 36, 31 | uint64_t{0x7FFFFFFF} << 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ByteBuffer buffer(16);
    BitWriter writer(buffer, 3);
    writer.WriteVarUInt(c.value);
    EXPECT_FALSE(writer.failed);
    EXPECT_EQ(writer.position, 3 + c.bits);
    const std::vector<uint8_t> bytes = Contents(buffer);
    uint64_t field = RefRead(bytes, 3, std::min(c.bits, 32u));
    if (c.bits > 32) field |= uint64_t{RefRead(bytes, 35, c.bits - 32)} << 32;
    EXPECT_EQ(field, c.field);
    BitReader reader(buffer.data, buffer.size);
    reader.position = 3;
    EXPECT_EQ(reader.ReadVarUInt(), c.value);
    EXPECT_EQ(reader.position, 3 + c.bits);
  }
}

TEST(BitWriterTest, VarUIntOf2To31OrMoreFails) {
  for (uint32_t value : {0x80000000u, 0xFFFFFFFFu}) {
    ByteBuffer buffer(16);
    BitWriter writer(buffer);
    writer.WriteVarUInt(value);
    EXPECT_TRUE(writer.failed);
    EXPECT_EQ(writer.position, 0u);
    EXPECT_EQ(buffer.size, 0u);
  }
}

TEST(BitWriterTest, EmptyStringIsFiveZeroBits) {
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    ByteBuffer buffer(16);
    BitWriter writer(buffer);
    writer.Write(3, 0b111);
    writer.WriteBitString(empty);
    writer.Write(3, 0b101);
    EXPECT_EQ(writer.position, 11u);
    EXPECT_EQ(Contents(buffer), (std::vector<uint8_t>{0x07, 0x05}));

    BitReader reader(buffer.data, buffer.size);
    reader.position = 3;
    CStringBufferA text("old");
    reader.ReadBitString(text);
    EXPECT_STREQ(text.data, "");
    EXPECT_EQ(text.length, 0u);
    EXPECT_EQ(reader.position, 8u);
    EXPECT_EQ(reader.Read(3), 0b101u);
  }
}

TEST(BitWriterTest, FortyCharacterStringLayout) {
  const std::string text = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  ASSERT_EQ(text.size(), 40u);
  for (uint32_t start = 0; start < 8; ++start) {
    SCOPED_TRACE(start);
    ByteBuffer buffer(16);
    BitWriter writer(buffer, start);
    writer.WriteBitString(text.c_str());
    EXPECT_EQ(writer.position, start + 5 + 6 + 320);
    const std::vector<uint8_t> bytes = Contents(buffer);
    EXPECT_EQ(RefRead(bytes, start, 5), 6u);
    EXPECT_EQ(RefRead(bytes, start + 5, 6), 40u);
    std::string stored;
    for (uint32_t i = 0; i < 40; ++i) {
      stored.push_back(static_cast<char>(RefRead(bytes, start + 11 + 8 * i, 8)));
    }
    EXPECT_EQ(stored, text);
  }
}

TEST(BitWriterTest, StringKeepsBitsBeforeItAndBytesAfterIt) {
  ByteBuffer buffer(16);
  ASSERT_TRUE(buffer.Grow(16));
  std::memset(buffer.data, 0xFF, 16);
  BitWriter writer(buffer, 2);
  writer.WriteBitString("\x80\x01", 2);  // 2 + 7 + 16 bits: ends at bit 25
  EXPECT_EQ(buffer.size, 4u);
  std::vector<uint8_t> expected(16, 0xFF);
  RefWrite(expected, 2, 5, 2);
  RefWrite(expected, 7, 2, 2);
  RefWrite(expected, 9, 8, 0x80);
  RefWrite(expected, 17, 8, 0x01);
  EXPECT_EQ(std::vector<uint8_t>(buffer.data, buffer.data + 16), expected);
}

TEST(BitWriterTest, FailureIsSticky) {
  ByteBuffer buffer(16);
  BitWriter writer(buffer);
  writer.Write(4, 0xF);
  writer.WriteVarUInt(0x80000000u);
  ASSERT_TRUE(writer.failed);
  writer.Write(8, 0xFF);
  writer.WriteVarUInt(3);
  writer.WriteBitString("abc");
  EXPECT_EQ(writer.position, 4u);
  EXPECT_EQ(Contents(buffer), (std::vector<uint8_t>{0x0F}));
}

TEST(BitWriterTest, BadWidthsAndMissingBufferFail) {
  ByteBuffer buffer(16);
  BitWriter writer(buffer);
  writer.Write(0, 0xFF);
  EXPECT_FALSE(writer.failed);
  EXPECT_EQ(buffer.size, 0u);
  writer.Write(33, 0);
  EXPECT_TRUE(writer.failed);

  BitWriter unbound;
  unbound.Write(1, 1);
  EXPECT_TRUE(unbound.failed);
}

TEST(BitWriterTest, StreamMayNotReachMaxStreamBytes) {
  struct Case {
    uint32_t position;
    uint32_t n;
  };
  const Case cases[] = {
      {(kMaxStreamBytes - 1) * 8, 1},  // needs exactly kMaxStreamBytes bytes
      {kMaxStreamBytes * 8 - 8, 8},    // the last bit position a 32-bit count can hold
      {0xFFFFFFFFu, 32},               // position + n passes 2^32
      {0xFFFFFFF0u, 31},               // a VarUInt of 36 bits from here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    ByteBuffer buffer(16);
    BitWriter writer(buffer, c.position);
    if (c.n == 31) {
      writer.WriteVarUInt(0x7FFFFFFF);
    } else {
      writer.Write(c.n, 1);
    }
    EXPECT_TRUE(writer.failed);
    EXPECT_EQ(writer.position, c.position);
    EXPECT_EQ(buffer.capacity, 0u);
    EXPECT_EQ(buffer.size, 0u);
  }
}

// Random mixes of raw fields, VarUInts and strings at every start offset: the written bits
// equal the reference layout and read back field by field.
TEST(BitWriterTest, MixedStreamsRoundTrip) {
  std::mt19937 rng(5);
  for (uint32_t start = 0; start < 16; ++start) {
    SCOPED_TRACE(start);
    const std::vector<Field> fields = RandomFields(rng, 300);
    ByteBuffer buffer(64);
    BitWriter writer(buffer, start);
    std::vector<uint8_t> expected(1);
    uint32_t bit = start;
    auto append = [&](uint32_t n, uint32_t value) {
      expected.resize((bit + n + 7) / 8 + 1, 0);
      RefWrite(expected, bit, n, value);
      bit += n;
    };
    auto append_var = [&](uint32_t value) {
      uint32_t width = 0;
      while (width < 32 && (value >> width) != 0) ++width;
      append(5, width);
      if (width != 0) append(width, value);
    };
    for (const Field& field : fields) {
      if (field.kind == Field::kRaw) {
        writer.Write(field.width, field.value);
        append(field.width, field.value);
      } else if (field.kind == Field::kVarUInt) {
        writer.WriteVarUInt(field.value);
        append_var(field.value);
      } else {
        writer.WriteBitString(field.text.c_str());
        append_var(static_cast<uint32_t>(field.text.size()));
        for (char c : field.text) append(8, static_cast<uint8_t>(c));
      }
    }
    ASSERT_FALSE(writer.failed);
    ASSERT_EQ(writer.position, bit);
    expected.resize((bit + 7) / 8);
    ASSERT_EQ(Contents(buffer), expected);

    BitReader reader(buffer.data, buffer.size);
    reader.position = start;
    TStringBufferA<32> text;
    for (size_t i = 0; i < fields.size(); ++i) {
      const Field& field = fields[i];
      SCOPED_TRACE(i);
      if (field.kind == Field::kRaw) {
        ASSERT_EQ(reader.Read(field.width), field.value);
      } else if (field.kind == Field::kVarUInt) {
        ASSERT_EQ(reader.ReadVarUInt(), field.value);
      } else {
        reader.ReadBitString(text);
        ASSERT_EQ(std::string(text.data, text.length), field.text);
      }
    }
    EXPECT_FALSE(reader.failed);
    EXPECT_EQ(reader.position, bit);
  }
}

}  // namespace
