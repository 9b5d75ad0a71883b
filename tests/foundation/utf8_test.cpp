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

TEST(Utf8Test, EncodesAndDecodesBoundariesOfEachLength) {
  const struct {
    uint32_t code_point;
    std::string_view bytes;
  } cases[] = {
      {0, {"\0", 1}},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0x110000, "\xF4\x90\x80\x80"},
      {0x200000, "\xF8\x88\x80\x80\x80"},
      {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
      {0x80000000u, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_point);
    char out[6] = {};
    const char* end = EncodeUtf8(c.code_point, out);
    EXPECT_EQ(std::string_view(out, static_cast<size_t>(end - out)), c.bytes);
    if (c.bytes.empty()) continue;
    const Utf8Decoded decoded = DecodeExact(c.bytes);
    EXPECT_EQ(decoded.valid, c.code_point <= 0x10FFFF);
    EXPECT_EQ(decoded.code_point, decoded.valid ? c.code_point : 0xFFFDu);
    EXPECT_EQ(decoded.length, c.bytes.size());
  }
}

TEST(Utf8Test, InvalidSequencesSpanTheirBytes) {
  const struct {
    std::string_view bytes;
    uint32_t span;
  } cases[] = {
      {"\x80", 1},
      {"\xBF\xBF", 1},
      {"\xFE\x80", 1},
      {"\xFF", 1},
      {"\xC0\x80", 2},
      {"\xC1\xBF", 2},
      {"\xE0\x9F\xBF", 3},
      {"\xF0\x8F\xBF\xBF", 4},
      {"\xED\xA0\x80", 3},
      {"\xED\xBF\xBF", 3},
      {"\xF7\xBF\xBF\xBF", 4},
      {"\xE2\x82\x41", 2},
      {{"\xF0\x9F\0\x80", 4}, 2},
  };
  for (const auto& c : cases) {
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
    ASSERT_EQ(count, code_point < 0x80      ? 1u
                     : code_point < 0x800   ? 2u
                     : code_point < 0x10000 ? 3u
                                            : 4u)
        << code_point;
    const Utf8Decoded decoded = DecodeUtf8(out, end);
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    ASSERT_EQ(decoded.valid, !surrogate) << code_point;
    ASSERT_EQ(decoded.length, count) << code_point;
    ASSERT_EQ(decoded.code_point, surrogate ? 0xFFFDu : code_point) << code_point;
  }
}

}  // namespace
