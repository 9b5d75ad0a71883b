// tests/types/field_types_test.cpp - the field type cache against the two tables it stands for.
#include "types/field_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "foundation/name_hash.h"
#include "types/core_type_hashes.h"

namespace {

ClassType* AddClass(TypeRegistry& registry, uint32_t name_hash) {
  ClassTypePtr class_type = MakeClassType();
  class_type->name.Assign("cTest");
  class_type->name_hash = name_hash;
  return registry.Add(std::move(class_type));
}

class FieldTypeCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(BuildCoreTypeTable(core_types_)); }

  CoreTypeTable core_types_;
  TypeRegistry registry_;
};

// Every answer, in any order and however often slots are shared, is what the tables say: a
// core type first, then a class, else nothing.
TEST_F(FieldTypeCacheTest, AnswersAsTheTablesDo) {
  std::vector<uint32_t> hashes = {0,
                                  kCIntHash,
                                  kCFloatHash,
                                  kCStringHash,
                                  kCPointerHash,
                                  kCVector3Hash,
                                  NameHash("cUnknownType")};
  for (uint32_t i = 0; i < 600; ++i) {
    const uint32_t hash = NameHash("cClass") + i * 7919u;
    hashes.push_back(hash);
    if (i % 3 == 0) {
      ASSERT_NE(AddClass(registry_, hash), nullptr);
    }
  }
  // A class under a core type's hash: the core type wins.
  ASSERT_NE(AddClass(registry_, kCIntHash), nullptr);

  FieldTypeCache cache(registry_, core_types_);
  uint32_t cores = 0, classes = 0, unknown = 0;
  for (uint32_t round = 0; round < 3; ++round) {
    for (size_t i = 0; i < hashes.size(); ++i) {
      // Walk the list forwards, backwards and strided so entries are evicted and refilled.
      const size_t at = round == 0   ? i
                        : round == 1 ? hashes.size() - 1 - i
                                     : (i * 37) % hashes.size();
      const uint32_t hash = hashes[at];
      const FieldTypes types = cache.Find(hash);
      const CCoreType* core = FindCoreType(core_types_, hash);
      EXPECT_EQ(types.core, core) << hash;
      EXPECT_EQ(types.nested, core == nullptr ? registry_.Find(hash) : nullptr) << hash;
      cores += types.core != nullptr;
      classes += types.nested != nullptr;
      unknown += types.core == nullptr && types.nested == nullptr;
    }
  }
  EXPECT_GT(cores, 0u);
  EXPECT_GT(classes, 0u);
  EXPECT_GT(unknown, 0u);
}

// A cache made for other tables is never used for these: its answers would be wrong here.
TEST_F(FieldTypeCacheTest, WithUsesOnlyACacheThatServesTheTables) {
  const uint32_t hash = NameHash("cOnlyHere");
  ClassType* here = AddClass(registry_, hash);
  ASSERT_NE(here, nullptr);
  TypeRegistry other;
  FieldTypeCache other_cache(other, core_types_);
  EXPECT_EQ(other_cache.Find(hash).nested, nullptr);  // remembered as unknown there

  EXPECT_FALSE(other_cache.Serves(registry_, core_types_));
  const ClassType* found =
      FieldTypeCache::With(&other_cache, registry_, core_types_, [&](FieldTypeCache& cache) {
        EXPECT_NE(&cache, &other_cache);
        return cache.Find(hash).nested;
      });
  EXPECT_EQ(found, here);

  FieldTypeCache own(registry_, core_types_);
  EXPECT_TRUE(own.Serves(registry_, core_types_));
  const FieldTypeCache* used = FieldTypeCache::With(&own, registry_, core_types_,
                                                    [](FieldTypeCache& cache) { return &cache; });
  EXPECT_EQ(used, &own);
  EXPECT_EQ(FieldTypeCache::With(nullptr, registry_, core_types_,
                                 [&](FieldTypeCache& cache) { return cache.Find(hash).nested; }),
            here);
}

}  // namespace
