// tests/foundation/name_hash_test.cpp
#include "foundation/name_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

struct HashCase {
  const char* text;
  uint32_t expected;
};

constexpr HashCase kKnownHashes[] = {
    {"", 0x00000000u},
    {"abc", 0x3025F862u},
    {"A", 0x00000041u},
    {"\xE9", 0xFFFFFFE9u},
    {"cInt", 0x2283412Cu},
    {"cStringHash", 0x6AAD3A82u},
    {"cTextID", 0xEE05922Bu},
    {"cPointer", 0xADE538BAu},
    {"cBool", 0x7A42634Du},
    {"cVector3", 0x5260632Du},
    {"cAxisAlignedBoundingBox", 0x7D978C07u},
};

TEST(NameHashTest, MatchesKnownHashes) {
  for (const HashCase& c : kKnownHashes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(NameHash(c.text), c.expected);
    EXPECT_EQ(NameHash(c.text, static_cast<uint32_t>(std::strlen(c.text))), c.expected);
  }
}

TEST(NameHashTest, HighBytesCountAsNegative) {
  // 'a' * 65599 + (0x80 - 256), not + 0x80.
  EXPECT_EQ(NameHash("a\x80"), 97u * 65599u - 128u);
  EXPECT_EQ(NameHash("\xFF"), 0xFFFFFFFFu);
}

TEST(NameHashTest, IsCaseSensitive) { EXPECT_NE(NameHash("cint"), NameHash("cInt")); }

TEST(NameHashTest, LengthFormHashesExactlyTheGivenBytes) {
  EXPECT_EQ(NameHash("cIntXYZ", 4), 0x2283412Cu);
  EXPECT_EQ(NameHash("abc", 0), 0u);
  // An embedded NUL is a byte like any other: h("a\0") = 97 * 65599.
  EXPECT_EQ(NameHash("a\0b", 2), 97u * 65599u);
  EXPECT_NE(NameHash("a\0b", 3), NameHash("ab", 2));
}

TEST(NameHashTest, NullTextHashesToZero) { EXPECT_EQ(NameHash(nullptr), 0u); }

static_assert(NameHash("cTextID") == 0xEE05922Bu, "usable in constant expressions");

}  // namespace
