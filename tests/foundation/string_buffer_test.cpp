// tests/foundation/string_buffer_test.cpp - capacities, growth and clearing of the text buffers.
#include "foundation/string_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

uint32_t HeaderWord(const HeapText& handle, int offset) {
  uint32_t word;
  std::memcpy(&word, handle.text - 8 + offset, sizeof(word));
  return word;
}

bool SharedEmptyStringsUntouched() {
  static const char kZeros[4] = {};
  return std::memcmp(SharedEmptyString, kZeros, 4) == 0 &&
         std::memcmp(SharedEmptyValueString, kZeros, 4) == 0 && SharedEmptyWideString[0] == 0;
}

TEST(CStringBufferATest, ReserveRoundsUpToMultiplesOf256) {
  CStringBufferA buffer;
  buffer.Reserve(0);
  EXPECT_EQ(buffer.data, SharedEmptyString);
  EXPECT_EQ(buffer.capacity, 0u);
  buffer.Reserve(256);
  EXPECT_EQ(buffer.capacity, 256u);
  EXPECT_STREQ(buffer.data, "");
  buffer.Append("kept");
  buffer.Reserve(257);
  EXPECT_EQ(buffer.capacity, 512u);
  buffer.Reserve(3);
  EXPECT_EQ(buffer.capacity, 512u);
  EXPECT_STREQ(buffer.data, "kept");
  EXPECT_EQ(buffer.length, 4u);
}

TEST(CStringBufferATest, AppendGrowsOncePer256Bytes) {
  CStringBufferA buffer;
  std::string expected;
  for (int i = 0; i < 600; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    expected += c;
    ASSERT_EQ(buffer.AppendChar(c), expected.size());
    ASSERT_EQ(buffer.capacity, (expected.size() + 1 + 255) / 256 * 256);
  }
  EXPECT_EQ(buffer.data, expected);
  EXPECT_EQ(buffer.Append("\x01xy", 2), 602u);
  EXPECT_EQ(std::string(buffer.data + 600), "\x01x");
}

TEST(CStringBufferATest, FormatReplacesAndAppendFormatExtends) {
  CStringBufferA buffer("older text that is longer");
  EXPECT_EQ(buffer.Format("%s%u", "obj", 7u), 4u);
  EXPECT_STREQ(buffer.data, "obj7");
  const std::string long_text(300, 'x');
  EXPECT_EQ(buffer.AppendFormat("-%s", long_text.c_str()), 305u);
  EXPECT_EQ(buffer.data, "obj7-" + long_text);
  EXPECT_EQ(buffer.capacity, 512u);
  EXPECT_EQ(buffer.AppendFormat("%s", ""), 305u);
  EXPECT_EQ(buffer.data, "obj7-" + long_text);
  EXPECT_EQ(buffer.Format("%s", ""), 0u);
  EXPECT_STREQ(buffer.data, "");
  EXPECT_EQ(buffer.capacity, 512u);
}

TEST(CStringBufferATest, ClearAndNullTextsNeverWriteSharedEmptyString) {
  CStringBufferA buffer(nullptr);
  buffer.Clear(false);
  buffer.Assign(nullptr);
  buffer.Format("%s", "");
  EXPECT_EQ(buffer.data, SharedEmptyString);
  EXPECT_FALSE(buffer.IsHeapOwned());

  buffer.Assign("text");
  ASSERT_TRUE(buffer.IsHeapOwned());
  char* block = buffer.data;
  buffer.Clear(false);
  EXPECT_EQ(buffer.data, block);
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_STREQ(buffer.data, "");
  buffer.Clear(true);
  EXPECT_EQ(buffer.data, SharedEmptyString);
  EXPECT_EQ(buffer.capacity, 0u);
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

TEST(CStringBufferATest, AppendCodePointWritesUtf8) {
  CStringBufferA buffer("a");
  EXPECT_EQ(buffer.AppendCodePoint(0xE9), 3u);
  EXPECT_EQ(buffer.AppendCodePoint(0x1F600), 7u);
  EXPECT_EQ(buffer.AppendCodePoint(0x80000000u), 7u);
  EXPECT_STREQ(buffer.data, "a\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(TStringBufferATest, ShortTextsStayInline) {
  TStringBufferA<32> buffer("abc");
  EXPECT_FALSE(buffer.IsHeapOwned());
  EXPECT_NE(buffer.data, SharedEmptyString);
  EXPECT_EQ(buffer.capacity, 4u);
  buffer.Reserve(20);
  EXPECT_EQ(buffer.capacity, 20u);
  buffer.Reserve(2);
  EXPECT_EQ(buffer.capacity, 2u);
  EXPECT_STREQ(buffer.data, "abc");

  const std::string longest(31, 'n');
  buffer.Assign(longest.c_str());
  EXPECT_FALSE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 32u);
  EXPECT_EQ(buffer.AppendChar('!'), 32u);
  EXPECT_TRUE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 256u);
  EXPECT_EQ(buffer.data, longest + "!");
}

TEST(TStringBufferATest, OutgrowingInlineMovesTextToHeap) {
  TStringBufferA<260> path("C:\\a\\b.bin");
  path.Reserve(300);
  EXPECT_TRUE(path.IsHeapOwned());
  EXPECT_EQ(path.capacity, 512u);
  EXPECT_EQ(path.length, 10u);
  EXPECT_STREQ(path.data, "C:\\a\\b.bin");
}

TEST(TStringBufferATest, ClearFromInlineReturnsToEmpty) {
  for (bool release : {false, true}) {
    TStringBufferA<64> buffer("inline");
    buffer.Clear(release);
    EXPECT_EQ(buffer.data, SharedEmptyString);
    EXPECT_EQ(buffer.capacity, 0u);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(buffer.Append("again"), 5u);
    EXPECT_FALSE(buffer.IsHeapOwned());
    EXPECT_STREQ(buffer.data, "again");
  }
  TStringBufferA<64> untouched;
  EXPECT_EQ(untouched.Format("%d", 42), 2u);
  EXPECT_STREQ(untouched.data, "42");
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

TEST(CStringBufferTest, RequestEqualToCapacityGrows) {
  CStringBuffer buffer;
  buffer.Reserve(-1);
  EXPECT_EQ(buffer.data, SharedEmptyWideString);
  buffer.Reserve(0);
  ASSERT_TRUE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 256);
  EXPECT_EQ(buffer.data[0], u'\0');
  std::u16string expected;
  for (int i = 0; i < 300; ++i) {
    expected += static_cast<char16_t>(0x4E00 + i);
    ASSERT_EQ(buffer.AppendUnit(expected.back()), i + 1);
  }
  EXPECT_EQ(buffer.capacity, 512);
  char16_t* block = buffer.data;
  buffer.Reserve(511);
  EXPECT_EQ(buffer.data, block);
  buffer.Reserve(512);
  EXPECT_NE(buffer.data, block);
  EXPECT_EQ(buffer.capacity, 512);
  EXPECT_EQ(buffer.data, expected);
  buffer.Clear(false);
  EXPECT_EQ(buffer.data[0], u'\0');
  buffer.Clear(true);
  EXPECT_EQ(buffer.data, SharedEmptyWideString);
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

TEST(HeapTextTest, AssignTextWritesHeaderAndText) {
  HeapText handle = HeapText::Empty();
  handle.AssignText("hello world");
  ASSERT_FALSE(handle.IsEmptyHandle());
  EXPECT_EQ(HeaderWord(handle, 0), 12u);
  EXPECT_EQ(HeaderWord(handle, 4), 11u);
  EXPECT_EQ(handle.Length(), 11u);
  EXPECT_STREQ(handle.text, "hello world");

  ASSERT_TRUE(handle.Resize(3));
  EXPECT_EQ(HeaderWord(handle, 0), 12u);
  EXPECT_EQ(handle.Length(), 3u);
  ASSERT_TRUE(handle.Resize(40));
  EXPECT_EQ(HeaderWord(handle, 0), 41u);
  EXPECT_EQ(handle.Length(), 40u);
  handle.AssignText(nullptr);
  EXPECT_TRUE(handle.IsEmptyHandle());
  EXPECT_EQ(handle.Length(), 0u);
}

TEST(HeapTextTest, ZeroLengthResize) {
  HeapText handle = HeapText::Empty();
  ASSERT_TRUE(handle.Resize(0));
  ASSERT_FALSE(handle.IsEmptyHandle());
  EXPECT_EQ(HeaderWord(handle, 0), 1u);
  // A one-byte block cannot keep n + 1 below its capacity: it is given back.
  EXPECT_FALSE(handle.Resize(0));
  EXPECT_TRUE(handle.IsEmptyHandle());
  handle.AssignText("");
  EXPECT_FALSE(handle.IsEmptyHandle());
  EXPECT_STREQ(handle.text, "");
  handle.Release();
  EXPECT_TRUE(handle.IsEmptyHandle());
  HeapText zero_filled{nullptr};
  EXPECT_EQ(zero_filled.Length(), 0u);
  zero_filled.Release();
  EXPECT_TRUE(zero_filled.IsEmptyHandle());
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

TEST(HeapTextTest, HugeResizeFailsInsteadOfKeepingShortBlock) {
  for (uint32_t n : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
    HeapText handle = HeapText::Empty();
    handle.AssignText("short");
    EXPECT_FALSE(handle.Resize(n));
    EXPECT_TRUE(handle.IsEmptyHandle());
  }
}

TEST(HeapTextTest, SourceInsideOwnTextIsCopiedBeforeRelease) {
  HeapText handle = HeapText::Empty();
  handle.AssignText("hello");
  handle.AssignText(handle.text);
  EXPECT_STREQ(handle.text, "hello");
  handle.AssignText(handle.text + 1);
  EXPECT_STREQ(handle.text, "ello");
  handle.AssignBytes(handle.text + 1, 2);
  EXPECT_STREQ(handle.text, "ll");
  EXPECT_EQ(handle.Length(), 2u);
  handle.Release();
}

TEST(FormatFixed64Test, ReportsOutputThatDoesNotFit) {
  char out[64];
  EXPECT_EQ(FormatFixed64(out, "%c%llu.%lluE%d", '+', 12ull, 5ull, -3), 8);
  EXPECT_STREQ(out, "+12.5E-3");
  const std::string longest(63, '9');
  EXPECT_EQ(FormatFixed64(out, "%s", longest.c_str()), 63);
  EXPECT_EQ(out, longest);
  EXPECT_EQ(FormatFixed64(out, "%s!", longest.c_str()), -1);
  EXPECT_STREQ(out, "");
}

}  // namespace

TEST(CStringBufferATest, LargeTextsDoubleWhenAppending) {
  CStringBufferA text;
  const std::string chunk(100, 'x');
  uint32_t previous = 0;
  uint32_t growths_below = 0;
  uint32_t growths_above = 0;
  while (text.length < 1000000) {
    text.Append(chunk.c_str());
    if (text.capacity == previous) continue;
    if (previous < CStringBufferA::kGeometricGrowthFrom) {
      // Small texts grow by the exact 256-character steps.
      EXPECT_EQ(text.capacity, (text.length + 1 + 255) / 256 * 256);
      ++growths_below;
    } else {
      EXPECT_EQ(text.capacity, previous * 2);
      ++growths_above;
    }
    previous = text.capacity;
  }
  EXPECT_GT(growths_below, 100u);
  EXPECT_LE(growths_above, 5u);
  EXPECT_EQ(std::string(text.data), std::string(1000000, 'x'));
}
