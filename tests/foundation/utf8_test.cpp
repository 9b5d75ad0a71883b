// tests/foundation/utf8_test.cpp - standard UTF-8 decoding spans, and the extended encoder.
#include "foundation/utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Decodes from an exactly sized heap copy, so a read past the end shows under AddressSanitizer.
Utf8Decoded DecodeExact(std::string_view bytes) {
  auto copy = std::make_unique<char[]>(bytes.size());
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return DecodeUtf8(copy.get(), copy.get() + bytes.size());
}

TEST(Utf8Test, DecodesBoundariesOfEachLength) {
  struct Case {
    std::string_view bytes;
    uint32_t code_point;
  };
  const Case cases[] = {
      {{"\0", 1}, 0},
      {"\x7F", 0x7F},
      {"\xC2\x80", 0x80},
      {"\xDF\xBF", 0x7FF},
      {"\xE0\xA0\x80", 0x800},
      {"\xED\x9F\xBF", 0xD7FF},
      {"\xEE\x80\x80", 0xE000},
      {"\xEF\xBF\xBF", 0xFFFF},
      {"\xF0\x90\x80\x80", 0x10000},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_point);
    const Utf8Decoded decoded = DecodeExact(c.bytes);
    EXPECT_TRUE(decoded.valid);
    EXPECT_EQ(decoded.code_point, c.code_point);
    EXPECT_EQ(decoded.length, c.bytes.size());
  }
}

TEST(Utf8Test, InvalidSequencesSpanTheirBytes) {
  struct Case {
    std::string_view bytes;
    uint32_t span;
  };
  const Case cases[] = {
      {"\x80", 1},                      // continuation byte as lead
      {"\xBF\xBF", 1},                  //
      {"\xFE\x80", 1},                  //
      {"\xFF", 1},                      //
      {"\xC0\x80", 2},                  // overlong NUL
      {"\xC1\xBF", 2},                  // overlong 0x7F
      {"\xE0\x9F\xBF", 3},              // overlong 0x7FF
      {"\xF0\x8F\xBF\xBF", 4},          // overlong 0xFFFF
      {"\xED\xA0\x80", 3},              // surrogate D800
      {"\xED\xBF\xBF", 3},              // surrogate DFFF
      {"\xF4\x90\x80\x80", 4},          // 0x110000
      {"\xF7\xBF\xBF\xBF", 4},          // 0x1FFFFF
      {"\xF8\x88\x80\x80\x80", 5},      // 5-byte form
      {"\xFD\xBF\xBF\xBF\xBF\xBF", 6},  // 6-byte form
      {"\xE2\x82"
       "A",
       2},                         // cut short by a non-continuation byte
      {{"\xF0\x9F\0\x80", 4}, 2},  // ... or by a NUL
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    const Utf8Decoded decoded = DecodeExact(c.bytes);
    EXPECT_FALSE(decoded.valid);
    EXPECT_EQ(decoded.code_point, 0xFFFDu);
    EXPECT_EQ(decoded.length, c.span);
  }
}

TEST(Utf8Test, NeverReadsAtOrBeyondEnd) {
  for (std::string_view whole :
       {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFD\xBF\xBF\xBF\xBF\xBF"}) {
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << whole.size() << " bytes cut to " << cut);
      const Utf8Decoded decoded = DecodeExact(whole.substr(0, cut));
      EXPECT_FALSE(decoded.valid);
      EXPECT_EQ(decoded.length, cut);
    }
  }
}

TEST(Utf8Test, EveryScalarValueRoundTrips) {
  char out[6];
  for (uint32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    const char* end = EncodeUtf8(code_point, out);
    const auto count = static_cast<uint32_t>(end - out);
    const uint32_t expected_count = code_point < 0x80      ? 1
                                    : code_point < 0x800   ? 2
                                    : code_point < 0x10000 ? 3
                                                           : 4;
    ASSERT_EQ(count, expected_count) << code_point;
    const Utf8Decoded decoded = DecodeUtf8(out, end);
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    ASSERT_EQ(decoded.valid, !surrogate) << code_point;
    ASSERT_EQ(decoded.length, count) << code_point;
    ASSERT_EQ(decoded.code_point, surrogate ? 0xFFFDu : code_point) << code_point;
  }
}

TEST(Utf8Test, EncodesExtendedValuesAndSkipsNegativeOnes) {
  struct Case {
    uint32_t code_point;
    std::string_view bytes;
  };
  const Case cases[] = {
      {0x110000, "\xF4\x90\x80\x80"},
      {0x200000, "\xF8\x88\x80\x80\x80"},
      {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
      {0x80000000u, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_point);
    char out[6] = {};
    const char* end = EncodeUtf8(c.code_point, out);
    EXPECT_EQ(std::string_view(out, static_cast<size_t>(end - out)), c.bytes);
  }
}

}  // namespace
