// tests/foundation/name_hash_test.cpp
#include "foundation/name_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace {

TEST(NameHashTest, MatchesKnownHashes) {
  const struct {
    const char* text;
    uint32_t expected;
  } cases[] = {
      {"", 0x00000000u},
      {"abc", 0x3025F862u},
      {"A", 0x00000041u},
      {"\xE9", 0xFFFFFFE9u},
      {"a\x80", 97u * 65599u - 128u},
      {"cInt", 0x2283412Cu},
      {"cint", 0x3245314Cu},
      {"cTextID", 0xEE05922Bu},
      {"cPointer", 0xADE538BAu},
      {"cAxisAlignedBoundingBox", 0x7D978C07u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(NameHash(c.text), c.expected);
    EXPECT_EQ(NameHash(c.text, static_cast<uint32_t>(std::strlen(c.text))), c.expected);
  }
  EXPECT_EQ(NameHash(nullptr), 0u);
}

TEST(NameHashTest, LengthFormHashesExactlyTheGivenBytes) {
  EXPECT_EQ(NameHash("cIntXYZ", 4), 0x2283412Cu);
  EXPECT_EQ(NameHash("abc", 0), 0u);
  EXPECT_EQ(NameHash("a\0b", 2), 97u * 65599u);
  EXPECT_NE(NameHash("a\0b", 3), NameHash("ab", 2));
}

// The counted form takes the bytes four at a time; every length, and every byte value in every
// place of a group, hashes as one step per byte does.
TEST(NameHashTest, LengthFormAgreesWithOneStepPerByte) {
  std::mt19937 random(17);
  for (uint32_t length = 0; length <= 40; ++length) {
    for (int round = 0; round < 50; ++round) {
      std::string bytes(length, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      uint32_t expected = 0;
      for (char c : bytes) expected = name_hash_detail::Step(expected, c);
      ASSERT_EQ(NameHash(bytes.data(), length), expected) << length;
    }
  }
}

static_assert(NameHash("cTextID") == 0xEE05922Bu, "usable in constant expressions");

}  // namespace
