// tests/names/name_dictionaries_test.cpp - the name dictionaries: "Hash.txt", the ".cvs"
// tables, the built-in component names and the rules of ResolveName, with files in a fresh
// folder under the system temp folder.
#include "names/name_dictionaries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "foundation/name_hash.h"
#include "foundation/path.h"
#include "names/component_names.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

namespace {

namespace fs = std::filesystem;

// Two names with one hash, and a name with the hash of the built-in "cGameActor".
constexpr const char* kCollidingFirst = "BgeXCKW";
constexpr const char* kCollidingSecond = "NqLrDrn";
constexpr const char* kLikeGameActor = "MNVwIOPNF";
static_assert(NameHash("BgeXCKW") == NameHash("NqLrDrn"));
static_assert(NameHash("MNVwIOPNF") == NameHash("cGameActor"));

class TempFolder {
 public:
  TempFolder() {
    const fs::path path =
        fs::temp_directory_path() / ("qvx_names_test_" + std::to_string(std::random_device()()));
    EXPECT_TRUE(fs::create_directory(path));
    root_ = path.string();
  }
  ~TempFolder() {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  const std::string& root() const { return root_; }
  std::string At(const std::string& name) const { return root_ + kPathSeparator + name; }
  void Put(const std::string& name, const std::string& content) const {
    std::ofstream(At(name), std::ios::binary) << content;
  }

 private:
  std::string root_;
};

std::string Words(std::initializer_list<uint32_t> words) {
  std::string out;
  for (const uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
  }
  return out;
}

// A well-formed ".cvs" file: N, the keys, the offsets, then each text with its NUL.
std::string MakeCvs(const std::vector<std::pair<uint32_t, std::string>>& entries) {
  auto offset = static_cast<uint32_t>(4 + 8 * entries.size());
  std::string out = Words({static_cast<uint32_t>(entries.size())}), offsets, texts;
  for (const auto& [key, text] : entries) {
    out += Words({key});
    offsets += Words({offset});
    offset += static_cast<uint32_t>(text.size()) + 1;
    texts += text + '\0';
  }
  return out + offsets + texts;
}

std::map<uint32_t, std::string> Contents(const NameTable& names) {
  std::map<uint32_t, std::string> out;
  names.ForEach([&](uint32_t key, const HeapText& text) { out[key] = text.text; });
  return out;
}

std::map<uint32_t, std::string> Named(std::initializer_list<const char*> names) {
  std::map<uint32_t, std::string> out;
  for (const char* name : names) out[NameHash(name)] = name;
  return out;
}

TEST(HashListTest, ReadsOneNamePerLine) {
  const struct {
    std::string content;
    std::map<uint32_t, std::string> names;
  } cases[] = {
      {"Alpha\r\nBeta\r\nGamma\r\n", Named({"Alpha", "Beta", "Gamma"})},
      {"\r\n\nAlpha\n\n\r\nBeta\r\r\nGamma", Named({"Alpha", "Beta", "Gamma"})},
      {"Alpha\rBeta\rGamma\r", Named({"Alpha", "Beta", "Gamma"})},
      {"Name \n\tName\t\nZ\xC3\xBCrich", Named({"Name ", "\tName\t", "Z\xC3\xBCrich"})},
      {std::string("One\nTwo\0Three\n", 14), Named({"One", "Two"})},
      {std::string(kCollidingFirst) + "\n" + kCollidingSecond, Named({kCollidingSecond})},
      {"", {}},
  };
  TempFolder folder;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.content);
    folder.Put("Hash.txt", test.content);
    NameTable names;
    ASSERT_TRUE(LoadHashList(names, folder.At("Hash.txt").c_str()));
    EXPECT_EQ(Contents(names), test.names);
  }
}

TEST(HashListTest, AddsToEarlierNamesAndFailsWhenTheFileOrTheTableFails) {
  TempFolder folder;
  NameTable names;
  EXPECT_FALSE(LoadHashList(names, folder.At("Hash.txt").c_str()));
  EXPECT_TRUE(AddName(names, ""));
  EXPECT_TRUE(AddName(names, nullptr));
  EXPECT_EQ(names.count(), 0u);
  ASSERT_TRUE(AddName(names, kCollidingFirst));
  ASSERT_TRUE(AddName(names, "Earlier"));
  folder.Put("Hash.txt", std::string("Listed\n") + kCollidingSecond);
  ASSERT_TRUE(LoadHashList(names, folder.At("Hash.txt").c_str()));
  EXPECT_EQ(Contents(names), Named({kCollidingSecond, "Earlier", "Listed"}));
  ASSERT_TRUE(AddName(names, kCollidingFirst));
  EXPECT_STREQ(names.Find(NameHash(kCollidingSecond))->text, kCollidingFirst);
  NameTable::Pool pool;
  pool.Shutdown();
  NameTable starved(pool);
  EXPECT_FALSE(LoadHashList(starved, folder.At("Hash.txt").c_str()));
  EXPECT_EQ(starved.count(), 0u);
}

class TextIdTableTest : public testing::Test {
 protected:
  bool Load(const std::string& content) {
    folder_.Put("table.cvs", content);
    return LoadTextIdTable(table_, folder_.At("table.cvs").c_str());
  }
  void ExpectEmpty() {
    EXPECT_EQ(table_.count(), 0u);
    EXPECT_EQ(FindTextId(table_, 0), nullptr);
    EXPECT_EQ(FindTextId(table_, 7), nullptr);
  }

  TempFolder folder_;
  TextIdTable table_;
};

TEST_F(TextIdTableTest, FindsTheFirstEntryWithAKey) {
  ASSERT_TRUE(Load(MakeCvs({{7, "seven"}, {9, "nine"}, {7, "again"}, {0, ""}})));
  EXPECT_EQ(table_.count(), 4u);
  EXPECT_STREQ(FindTextId(table_, 7), "seven");
  EXPECT_STREQ(FindTextId(table_, 9), "nine");
  EXPECT_STREQ(FindTextId(table_, 0), "");
  EXPECT_EQ(FindTextId(table_, 8), nullptr);
  ASSERT_TRUE(Load(std::string(4, '\0')));
  ExpectEmpty();
}

TEST_F(TextIdTableTest, FailedLoadsOfEveryTruncationLeaveTheTableEmpty) {
  const std::string whole = MakeCvs({{1, "first"}, {7, "second"}});
  ASSERT_TRUE(Load(whole));
  for (size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(Load(whole.substr(0, length)));
    ExpectEmpty();
  }
  EXPECT_TRUE(Load(whole));
  EXPECT_FALSE(LoadTextIdTable(table_, folder_.At("missing.cvs").c_str()));
  ExpectEmpty();
}

TEST_F(TextIdTableTest, RejectsMalformedTablesWhole) {
  const std::string abc("abc\0", 4);
  // 0x20000001 entries need 4 + 8 * N bytes, which is 12 in 32-bit arithmetic.
  const std::string cases[] = {
      Words({0xFFFFFFFF, 5, 12}) + abc, Words({0x20000001, 5, 12}) + abc,
      Words({0x20000000, 5, 12}) + abc, Words({2, 5, 12}) + abc,
      Words({1, 5, 16}) + abc,          Words({1, 5, 1000}) + abc,
      Words({1, 5, 0xFFFFFFFF}) + abc,  Words({2, 5, 6, 20, 24}) + abc + "de",
  };
  for (const std::string& content : cases) {
    SCOPED_TRACE(testing::PrintToString(content));
    EXPECT_FALSE(Load(content));
    ExpectEmpty();
  }
  ASSERT_TRUE(Load(Words({1, 5, 12}) + '\0'));
  EXPECT_STREQ(FindTextId(table_, 5), "");
}

ClassType* AddClass(TypeRegistry& registry, const char* name, uint32_t key) {
  ClassTypePtr class_type = MakeClassType();
  if (class_type == nullptr) return nullptr;
  class_type->name.Assign(name);
  class_type->name_hash = key;
  return registry.Add(std::move(class_type));
}

class ResolveNameTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(AddClass(registry_, "cCrate", NameHash("cCrate")), nullptr);
    ASSERT_NE(AddClass(registry_, kCollidingSecond, NameHash(kCollidingSecond)), nullptr);
    ASSERT_NE(AddClass(registry_, "cWrong", NameHash("Right")), nullptr);
    AddObject(77, NameHash("cCrate"));
    AddObject(78, NameHash("cUnknownClass"));
    dictionaries_.class_types = &registry_;
    dictionaries_.objects = &objects_;
    folder_.Put("ids.cvs", MakeCvs({{NameHash("TXT_CRATE"), "TXT_CRATE"},
                                    {1234, "TXT_WRONG"},
                                    {NameHash("Right"), "Other"}}));
    ASSERT_TRUE(LoadTextIdTable(dictionaries_.text_id_names, folder_.At("ids.cvs").c_str()));
    folder_.Put("en.cvs", MakeCvs({{4242, "A wooden crate\r\nfull of things"}}));
    ASSERT_TRUE(LoadTextIdTable(dictionaries_.english_texts, folder_.At("en.cvs").c_str()));
    for (const char* name : {kCollidingFirst, "Crate_A", "Listed", "Right"}) {
      ASSERT_TRUE(AddName(dictionaries_.names, name));
    }
    dictionaries_.names.FindOrInsert(42, true)->AssignText("NotFortyTwo");
    ASSERT_NE(dictionaries_.names.FindOrInsert(0, true), nullptr);
  }
  void TearDown() override {
    for (ValueNode* object : made_) ReleaseObject(object);
  }
  // The objects made so far as a scan lists them, in the order they entered the table.
  ScannedObjectList Scanned() const {
    ScannedObjectList scanned;
    for (const ValueNode* object : made_) {
      scanned.push_back(ScannedObject{object->type_hash, object->name});
    }
    return scanned;
  }

  void AddObject(uint32_t id, uint32_t class_hash) {
    ValueNode* object = NewObjectValue(class_hash, id);
    ASSERT_NE(object, nullptr);
    made_.push_back(object);
    *objects_.FindOrInsert(id, true) = object;
  }

  TempFolder folder_;
  TypeRegistry registry_;
  ObjectIdTable objects_;
  std::vector<ValueNode*> made_;
  NameDictionaries dictionaries_;
};

TEST_F(ResolveNameTest, FirstRuleThatAppliesAnswers) {
  const uint32_t txt = NameHash("TXT_CRATE");
  const uint32_t crate = NameHash("cCrate");
  const struct {
    uint32_t value;
    uint32_t kind;
    const char* name;
  } cases[] = {
      {0, kResolvePointerComment, "NULL"},
      {77, kResolvePointerComment, "cCrate"},
      {78, kResolvePointerComment, nullptr},
      {79, kResolvePointerComment, nullptr},
      {txt, kCTextIDHash, "TXT_CRATE"},
      {txt, kCStringHashHash, "TXT_CRATE"},
      {txt, kCHashHash, nullptr},
      {txt, 0, nullptr},
      {txt, kResolveHashComment, nullptr},
      {4242, kResolveHashComment, "A wooden crate\r\nfull of things"},
      {4242, kCTextIDHash, nullptr},
      {NameHash("Listed"), kResolveHashComment, nullptr},
      {crate, kResolveHashComment, nullptr},
      {crate, kCStringHashHash, "cCrate"},
      {crate, kCTextIDHash, "cCrate"},
      {NameHash(kCollidingFirst), 0, kCollidingSecond},
      {NameHash(kCollidingFirst), kCPointerHash, kCollidingSecond},
      {NameHash("Crate_A"), kCHashHash, "Crate_A"},
      {NameHash("Crate_A"), 0x12345678u, "Crate_A"},
      {NameHash("Crate_B"), 0, nullptr},
      {1234, kCTextIDHash, nullptr},
      {NameHash("Right"), 0, "Right"},
      {NameHash("Right"), kCTextIDHash, "Right"},
      {42, kCHashHash, nullptr},
      {0, 0, nullptr},
  };
  // The same answers with the object class index that gentext installs.
  ObjectClassIndex index;
  ASSERT_TRUE(index.Build(Scanned()));
  for (const ObjectClassIndex* object_classes : {static_cast<ObjectClassIndex*>(nullptr), &index}) {
    dictionaries_.object_classes = object_classes;
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.value << " of kind " << c.kind
                                      << (object_classes != nullptr ? " with the index" : ""));
      const char* name = ResolveName(c.value, c.kind, &dictionaries_);
      EXPECT_STREQ(name, c.name);
    }
  }
}

// The index, built from the objects as scanned (in the order they entered the table), answers
// exactly as the object table does: for any number of objects, IDs that crowd into the same
// slots, entries without an object, repeated IDs (the later object stands) and missing IDs.
TEST_F(ResolveNameTest, ObjectClassIndexAnswersAsTheTable) {
  std::mt19937 random(99);
  for (uint32_t i = 0; i < 3000; ++i) {
    AddObject(random() | 1u, random());
    AddObject(1000000 + i, i);        // consecutive IDs
    AddObject((i + 1) << 20, i * 7);  // IDs that differ only in their high bits
  }
  AddObject(0, 5);
  *objects_.FindOrInsert(12345, true) = nullptr;
  AddObject(77, NameHash("cLater"));  // a repeated ID keeps the last object
  ObjectClassIndex index;
  ASSERT_TRUE(index.Build(Scanned()));
  uint32_t checked = 0;
  (void)objects_.ForEach([&](uint32_t id, ValueNode* const& object) {
    uint32_t class_hash = 0;
    const bool found = index.Find(id, class_hash);
    EXPECT_EQ(found, id != 0 && object != nullptr) << id;
    if (found) {
      EXPECT_EQ(class_hash, object->type_hash) << id;
    }
    ++checked;
  });
  EXPECT_EQ(checked, objects_.count());
  uint32_t class_hash = 0;
  EXPECT_TRUE(index.Find(77, class_hash));
  EXPECT_EQ(class_hash, NameHash("cLater"));
  for (uint32_t id : {2u, 4u, 999999u, 1003000u, 3001u << 20}) {
    EXPECT_FALSE(index.Find(id, class_hash)) << id;
  }
  ObjectClassIndex nothing;
  ASSERT_TRUE(nothing.Build(ScannedObjectList{}));
  EXPECT_FALSE(nothing.Find(77, class_hash));
}

TEST_F(ResolveNameTest, MissingDictionariesOrTablesNameNothing) {
  for (const uint32_t kind :
       {0u, kResolveHashComment, kResolvePointerComment, kCHashHash, kCTextIDHash, kCPointerHash}) {
    EXPECT_EQ(ResolveName(NameHash("cCrate"), kind, nullptr), nullptr);
    EXPECT_EQ(ResolveName(0, kind, nullptr), nullptr);
  }
  dictionaries_.objects = nullptr;
  EXPECT_STREQ(ResolveName(0, kResolvePointerComment, &dictionaries_),
               "Type manager or object table NULL");
  dictionaries_.objects = &objects_;
  dictionaries_.class_types = nullptr;
  EXPECT_STREQ(ResolveName(77, kResolvePointerComment, &dictionaries_),
               "Type manager or object table NULL");
}

TEST(LoadNameDictionariesTest, LoadsEverySourceReplacesThemOnReloadAndReleases) {
  TempFolder first;
  TempFolder empty;
  first.Put("Hash.txt", std::string("Crate_A\r\nCrate_B\r\n") + kLikeGameActor);
  first.Put("qvxmain_ids.cvs", MakeCvs({{NameHash("TXT_CRATE"), "TXT_CRATE"}}));
  first.Put("qvxmain_en.cvs", MakeCvs({{NameHash("TXT_CRATE"), "A crate"}}));
  TypeRegistry registry;
  ObjectIdTable objects;
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, (first.root() + kPathSeparator).c_str(), &registry, &objects);
  EXPECT_EQ(CurrentNameResolver.function, &ResolveName);
  EXPECT_EQ(CurrentNameResolver.context, &dictionaries);
  EXPECT_EQ(dictionaries.class_types, &registry);
  EXPECT_EQ(dictionaries.objects, &objects);
  EXPECT_EQ(dictionaries.names.count(), 2 + kBuiltInComponentNameCount);
  EXPECT_STREQ(ResolveName(NameHash("Crate_B"), 0, &dictionaries), "Crate_B");
  EXPECT_STREQ(ResolveName(NameHash(kLikeGameActor), 0, &dictionaries), "cGameActor");
  EXPECT_STREQ(ResolveName(NameHash("TXT_CRATE"), kCTextIDHash, &dictionaries), "TXT_CRATE");
  EXPECT_STREQ(ResolveName(NameHash("TXT_CRATE"), kResolveHashComment, &dictionaries), "A crate");

  testing::internal::CaptureStdout();
  LoadNameDictionaries(dictionaries, empty.root().c_str(), nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(dictionaries.names.count(), kBuiltInComponentNameCount);
  EXPECT_EQ(dictionaries.text_id_names.count() + dictionaries.english_texts.count(), 0u);
  EXPECT_EQ(ResolveName(NameHash("Crate_A"), 0, &dictionaries), nullptr);
  EXPECT_STREQ(ResolveName(NameHash("cVehicle2"), kCStringHashHash, &dictionaries), "cVehicle2");
  EXPECT_STREQ(ResolveName(5, kResolvePointerComment, &dictionaries),
               "Type manager or object table NULL");
  ASSERT_TRUE(AddName(dictionaries.names, "Renamed_1"));
  EXPECT_STREQ(ResolveName(NameHash("Renamed_1"), 0, &dictionaries), "Renamed_1");

  ReleaseNameDictionaries(dictionaries);
  EXPECT_EQ(CurrentNameResolver.function, nullptr);
  EXPECT_EQ(CurrentNameResolver.context, nullptr);
  EXPECT_EQ(dictionaries.names.count(), 0u);
  EXPECT_EQ(dictionaries.class_types, nullptr);
}

TEST(LoadNameDictionariesTest, MalformedTableLeavesOnlyThatSourceEmpty) {
  TempFolder folder;
  std::string ids = MakeCvs({{NameHash("TXT_CRATE"), "TXT_CRATE"}});
  ids.pop_back();
  folder.Put("qvxmain_ids.cvs", ids);
  folder.Put("qvxmain_en.cvs", MakeCvs({{NameHash("TXT_CRATE"), "A crate"}}));
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, folder.root().c_str(), nullptr, nullptr);
  EXPECT_EQ(dictionaries.text_id_names.count(), 0u);
  EXPECT_EQ(dictionaries.english_texts.count(), 1u);
}

const char* OuterResolver(uint32_t, uint32_t, void*) { return "outer"; }

TEST(LoadNameDictionariesTest, LeavingTheScopeRestoresTheOuterResolver) {
  TempFolder folder;
  {
    NameResolverScope outer(&OuterResolver, nullptr);
    {
      NameDictionaries dictionaries;
      LoadNameDictionaries(dictionaries, folder.root().c_str(), nullptr, nullptr);
      EXPECT_EQ(CurrentNameResolver.function, &ResolveName);
    }
    EXPECT_EQ(CurrentNameResolver.function, &OuterResolver);
  }
  EXPECT_EQ(CurrentNameResolver.function, nullptr);
}

TEST(BuiltInComponentNamesTest, HoldsTheComponentClassesInTheirFixedOrder) {
  EXPECT_EQ(kBuiltInComponentNameCount, 191u);
  EXPECT_EQ(std::size(kBuiltInComponentNames), 191u);
  EXPECT_STREQ(kBuiltInComponentNames[0], "cActionLogicComponent");
  EXPECT_STREQ(kBuiltInComponentNames[142], "cVehicle2");
  EXPECT_STREQ(kBuiltInComponentNames[157], "cGameActor");
  EXPECT_STREQ(kBuiltInComponentNames[190], "cCustomActionTriggerVolumeComponent");
  std::set<uint32_t> hashes;
  for (const char* name : kBuiltInComponentNames) {
    SCOPED_TRACE(name);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name[0], 'c');
    EXPECT_TRUE(hashes.insert(NameHash(name)).second);
  }
}

}  // namespace
