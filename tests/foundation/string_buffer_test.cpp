// tests/foundation/string_buffer_test.cpp - capacities, growth and clearing of the text buffers.
#include "foundation/string_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

TEST(CStringBufferATest, GrowsIn256StepsThenDoubles) {
  CStringBufferA buffer;
  buffer.Reserve(0);
  EXPECT_EQ(buffer.data, SharedEmptyString);
  std::string expected;
  for (int i = 0; i < 600; ++i) {
    expected += static_cast<char>('a' + i % 26);
    ASSERT_EQ(buffer.AppendChar(expected.back()), expected.size());
    ASSERT_EQ(buffer.capacity, (expected.size() + 256) / 256 * 256);
  }
  buffer.Reserve(768);
  EXPECT_EQ(buffer.capacity, 768u);
  buffer.Reserve(769);
  EXPECT_EQ(buffer.capacity, 1024u);
  buffer.Reserve(3);
  EXPECT_EQ(buffer.capacity, 1024u);
  EXPECT_EQ(buffer.Append("\x01xy", 2), 602u);
  EXPECT_EQ(buffer.data, expected + "\x01x");

  CStringBufferA text;
  const std::string chunk(100, 'x');
  uint32_t previous = 0;
  while (text.length < 1000000) {
    text.Append(chunk.c_str());
    if (text.capacity == previous) continue;
    if (previous < CStringBufferA::kGeometricGrowthFrom) {
      EXPECT_EQ(text.capacity, (text.length + 1 + 255) / 256 * 256);
    } else {
      EXPECT_EQ(text.capacity, previous * 2);
    }
    previous = text.capacity;
  }
  EXPECT_EQ(text.capacity, 1u << 20);
  EXPECT_EQ(std::string(text.data), std::string(1000000, 'x'));
}

TEST(CStringBufferATest, FormatReplacesAndAppendFormatExtends) {
  CStringBufferA buffer("older text that is longer");
  EXPECT_EQ(buffer.Format("%s%u", "obj", 7u), 4u);
  EXPECT_STREQ(buffer.data, "obj7");
  const std::string long_text(300, 'x');
  EXPECT_EQ(buffer.AppendFormat("-%s", long_text.c_str()), 305u);
  EXPECT_EQ(buffer.data, "obj7-" + long_text);
  EXPECT_EQ(buffer.capacity, 512u);
  EXPECT_EQ(buffer.Format("%s", ""), 0u);
  EXPECT_STREQ(buffer.data, "");
  EXPECT_EQ(buffer.AppendCodePoint(0xE9), 2u);
  EXPECT_EQ(buffer.AppendCodePoint(0x1F600), 6u);
  EXPECT_EQ(buffer.AppendCodePoint(0x80000000u), 6u);
  EXPECT_STREQ(buffer.data, "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(CStringBufferATest, ClearAndNullTextsNeverWriteSharedEmptyString) {
  CStringBufferA buffer(nullptr);
  buffer.Clear(false);
  buffer.Assign(nullptr);
  buffer.Format("%s", "");
  EXPECT_EQ(buffer.data, SharedEmptyString);
  buffer.Assign("text");
  ASSERT_TRUE(buffer.IsHeapOwned());
  char* block = buffer.data;
  buffer.Clear(false);
  EXPECT_EQ(buffer.data, block);
  EXPECT_STREQ(buffer.data, "");
  buffer.Clear(true);
  EXPECT_EQ(buffer.data, SharedEmptyString);
  EXPECT_EQ(buffer.capacity, 0u);
  for (bool release : {false, true}) {
    TStringBufferA<64> inline_text("inline");
    inline_text.Clear(release);
    EXPECT_EQ(inline_text.data, SharedEmptyString);
    EXPECT_EQ(inline_text.Append("again"), 5u);
    EXPECT_FALSE(inline_text.IsHeapOwned());
  }
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

// Empty and Refill keep whatever storage the buffer has, where Clear gives inline storage up.
TEST(CStringBufferATest, EmptyAndRefillKeepTheStorage) {
  TStringBufferA<16> inline_text("inline");
  char* const storage = inline_text.data;
  inline_text.Empty();
  EXPECT_EQ(inline_text.data, storage);
  EXPECT_EQ(inline_text.length, 0u);
  EXPECT_STREQ(inline_text.data, "");
  inline_text.Refill("again");
  EXPECT_EQ(inline_text.data, storage);
  EXPECT_STREQ(inline_text.data, "again");
  inline_text.Refill(nullptr);
  EXPECT_STREQ(inline_text.data, "");
  inline_text.Refill("longer than the sixteen inline bytes");
  EXPECT_TRUE(inline_text.IsHeapOwned());
  EXPECT_STREQ(inline_text.data, "longer than the sixteen inline bytes");

  CStringBufferA heap("heap text");
  char* const block = heap.data;
  heap.Refill("other");
  EXPECT_EQ(heap.data, block);
  EXPECT_EQ(heap.length, 5u);
  CStringBufferA empty;
  empty.Empty();
  empty.Refill("");
  EXPECT_EQ(empty.data, SharedEmptyString);
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

// Every count a short copy distinguishes, between buffers of exactly that size (so a byte read
// or written outside either shows under AddressSanitizer), and appends of each length.
TEST(CopyBytesTest, CopiesExactlyTheBytesAskedFor) {
  for (size_t count = 0; count <= 40; ++count) {
    std::vector<char> from(count), to(count + 2, '#');
    for (size_t i = 0; i < count; ++i) from[i] = static_cast<char>('a' + i % 26);
    volatile size_t runtime_count = count;  // the path taken for counts not known at compile time
    CopyBytes(to.data() + 1, from.data(), runtime_count);
    EXPECT_EQ(to.front(), '#') << count;
    EXPECT_EQ(to.back(), '#') << count;
    EXPECT_EQ(std::string(to.data() + 1, count), std::string(from.data(), count)) << count;

    CStringBufferA text;
    text.Append("x", 1);
    text.Append(from.data(), static_cast<uint32_t>(runtime_count));
    EXPECT_EQ(text.length, count + 1);
    EXPECT_EQ(text.data[0], 'x');
    EXPECT_EQ(std::string(text.data + 1), std::string(from.data(), count)) << count;
  }
}

// Short and long texts alike: the first match, wherever it stands, and none when absent. The
// fillers include bytes one bit away from the byte sought and bytes with the high bit, which
// a search a word at a time could take for a match. Each text has exactly its size, so a read
// past it shows under AddressSanitizer.
TEST(FindByteTest, FindsTheFirstMatchAsMemchrDoes) {
  const struct {
    char sought;
    char filler;
  } pairs[] = {{'b', 'a'}, {'b', 'c'}, {'\0', '\x01'}, {'\\', '\xDC'}, {'\x80', '\x81'}};
  for (const auto& pair : pairs) {
    const char c = pair.sought;
    for (size_t count = 0; count <= 70; ++count) {
      std::vector<char> text(count, pair.filler);
      EXPECT_EQ(FindByte(text.data(), count, c), nullptr) << count;
      for (size_t at = 0; at < count; ++at) {
        text[at] = c;
        if (at + 1 < count) text[count - 1] = c;  // a later match does not count
        EXPECT_EQ(FindByte(text.data(), count, c), text.data() + at) << count << " " << at;
        EXPECT_EQ(FindByte(text.data(), count, c), std::memchr(text.data(), c, count));
        std::fill(text.begin(), text.end(), pair.filler);
      }
    }
  }
}

TEST(TStringBufferATest, ShortTextsStayInlineLongerOnesMoveToHeap) {
  TStringBufferA<32> buffer("abc");
  EXPECT_FALSE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 32u);
  buffer.Reserve(20);
  EXPECT_EQ(buffer.capacity, 32u);
  const std::string longest(31, 'n');
  buffer.Assign(longest.c_str());
  EXPECT_FALSE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 32u);
  EXPECT_EQ(buffer.AppendChar('!'), 32u);
  EXPECT_TRUE(buffer.IsHeapOwned());
  EXPECT_EQ(buffer.capacity, 256u);
  EXPECT_EQ(buffer.data, longest + "!");
}

TEST(CStringBufferTest, RequestEqualToCapacityGrows) {
  CStringBuffer buffer;
  buffer.Reserve(-1);
  EXPECT_EQ(buffer.data, SharedEmptyWideString);
  buffer.Reserve(0);
  EXPECT_EQ(buffer.capacity, 256);
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
  EXPECT_EQ(buffer.data, expected);
  buffer.Clear(true);
  EXPECT_EQ(buffer.data, SharedEmptyWideString);
  EXPECT_TRUE(SharedEmptyStringsUntouched());
}

TEST(HeapTextTest, HeaderHoldsCapacityAndLength) {
  HeapText handle = HeapText::Empty();
  handle.AssignText("hello world");
  EXPECT_EQ(HeaderWord(handle, 0), 12u);
  EXPECT_EQ(HeaderWord(handle, 4), 11u);
  EXPECT_STREQ(handle.text, "hello world");
  ASSERT_TRUE(handle.Resize(3));
  EXPECT_EQ(HeaderWord(handle, 0), 12u);
  EXPECT_EQ(handle.Length(), 3u);
  ASSERT_TRUE(handle.Resize(40));
  EXPECT_EQ(HeaderWord(handle, 0), 41u);
  handle.AssignText(nullptr);
  EXPECT_TRUE(handle.IsEmptyHandle());
  ASSERT_TRUE(handle.Resize(0));
  EXPECT_EQ(HeaderWord(handle, 0), 1u);
  EXPECT_FALSE(handle.Resize(0));
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
  handle.AssignText(handle.text + 1);
  EXPECT_STREQ(handle.text, "ello");
  handle.AssignBytes(handle.text + 1, 2);
  EXPECT_STREQ(handle.text, "ll");
  handle.Release();
}

TEST(FormatFixed64Test, ReportsOutputThatDoesNotFit) {
  char out[64];
  EXPECT_EQ(FormatFixed64(out, "%c%llu.%lluE%d", '+', 12ull, 5ull, -3), 8);
  EXPECT_STREQ(out, "+12.5E-3");
  const std::string longest(63, '9');
  EXPECT_EQ(FormatFixed64(out, "%s", longest.c_str()), 63);
  EXPECT_EQ(FormatFixed64(out, "%s!", longest.c_str()), -1);
  EXPECT_STREQ(out, "");
}

}  // namespace
