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
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("qvx_names_test_" + std::to_string(seed()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root_ = candidate.string();
    }
    EXPECT_FALSE(root_.empty());
  }
  ~TempFolder() {
    std::error_code error;
    if (!root_.empty()) fs::remove_all(root_, error);
  }

  const std::string& root() const { return root_; }
  std::string At(const std::string& name) const { return root_ + kPathSeparator + name; }

  void Put(const std::string& name, const std::string& content) const {
    std::ofstream out(At(name), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good());
  }

 private:
  std::string root_;
};

void AppendWord(std::string& out, uint32_t word) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
}

// A well-formed ".cvs" file: N, the keys, the offsets, then each text with its NUL.
std::string MakeCvs(const std::vector<std::pair<uint32_t, std::string>>& entries) {
  const uint32_t count = static_cast<uint32_t>(entries.size());
  std::string out;
  AppendWord(out, count);
  for (const auto& entry : entries) AppendWord(out, entry.first);
  uint32_t offset = 4 + 8 * count;
  for (const auto& entry : entries) {
    AppendWord(out, offset);
    offset += static_cast<uint32_t>(entry.second.size()) + 1;
  }
  for (const auto& entry : entries) {
    out += entry.second;
    out.push_back('\0');
  }
  return out;
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

// ---- Hash.txt and AddName -------------------------------------------------------------------

TEST(HashListTest, ReadsOneNamePerLine) {
  const struct {
    std::string content;
    std::map<uint32_t, std::string> names;
  } cases[] = {
      {"Alpha\r\nBeta\r\nGamma\r\n", Named({"Alpha", "Beta", "Gamma"})},
      {"Alpha\nBeta\nGamma", Named({"Alpha", "Beta", "Gamma"})},
      {"\r\n\nAlpha\n\n\r\nBeta\r\r\nGamma\n\n", Named({"Alpha", "Beta", "Gamma"})},
      {"Alpha\rBeta\rGamma\r", Named({"Alpha", "Beta", "Gamma"})},
      {"Name \nName\n\tName\t\nZ\xC3\xBCrich",
       Named({"Name ", "Name", "\tName\t", "Z\xC3\xBCrich"})},
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

TEST(HashListTest, AddsToNamesAlreadyInTheTable) {
  TempFolder folder;
  folder.Put("Hash.txt", "Listed");
  NameTable names;
  ASSERT_TRUE(AddName(names, "Earlier"));
  ASSERT_TRUE(LoadHashList(names, folder.At("Hash.txt").c_str()));
  EXPECT_EQ(Contents(names), Named({"Earlier", "Listed"}));
}

TEST(HashListTest, FailsWhenTheFileOrTheTableFails) {
  TempFolder folder;
  NameTable names;
  EXPECT_FALSE(LoadHashList(names, folder.At("Hash.txt").c_str()));
  folder.Put("Hash.txt", "Alpha\nBeta\n");
  NameTable::Pool pool;
  pool.Shutdown();
  NameTable starved(pool);
  EXPECT_FALSE(LoadHashList(starved, folder.At("Hash.txt").c_str()));
  EXPECT_EQ(names.count() + starved.count(), 0u);
}

TEST(AddNameTest, ReplacesTheTextOfItsHashAndIgnoresEmptyTexts) {
  NameTable names;
  EXPECT_TRUE(AddName(names, ""));
  EXPECT_TRUE(AddName(names, nullptr));
  EXPECT_EQ(names.count(), 0u);
  ASSERT_TRUE(AddName(names, kCollidingFirst));
  ASSERT_TRUE(AddName(names, kCollidingSecond));
  EXPECT_EQ(Contents(names), Named({kCollidingSecond}));
}

// ---- .cvs tables ----------------------------------------------------------------------------

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
}

TEST_F(TextIdTableTest, ZeroEntriesIsAValidEmptyTable) {
  ASSERT_TRUE(Load(std::string(4, '\0')));
  ExpectEmpty();
}

TEST_F(TextIdTableTest, RejectsEveryTruncation) {
  const std::string whole = MakeCvs({{1, "first"}, {2, "second"}});
  for (size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(Load(whole.substr(0, length)));
    ExpectEmpty();
  }
  EXPECT_TRUE(Load(whole));
  EXPECT_STREQ(FindTextId(table_, 2), "second");
}

// N, then the words (keys and offsets), then the bytes after them.
std::string Forged(std::initializer_list<uint32_t> words, const std::string& tail) {
  std::string out;
  for (const uint32_t word : words) AppendWord(out, word);
  return out + tail;
}

TEST_F(TextIdTableTest, RejectsMalformedTablesWhole) {
  const std::string nul(1, '\0');
  // 0x20000001 entries need 4 + 8 * N bytes, which is 12 in 32-bit arithmetic.
  const std::string cases[] = {
      Forged({0xFFFFFFFF, 5, 12}, "abc" + nul), Forged({0x20000001, 5, 12}, "abc" + nul),
      Forged({0x20000000, 5, 12}, "abc" + nul), Forged({2, 5, 12}, "abc" + nul),
      Forged({1, 5, 16}, "abc" + nul),          Forged({1, 5, 1000}, "abc" + nul),
      Forged({1, 5, 0xFFFFFFFF}, "abc" + nul),  Forged({2, 5, 6, 20, 24}, "abc" + nul + "de"),
  };
  for (const std::string& content : cases) {
    SCOPED_TRACE(testing::PrintToString(content));
    EXPECT_FALSE(Load(content));
    ExpectEmpty();
  }
  ASSERT_TRUE(Load(Forged({1, 5, 12}, nul)));
  EXPECT_STREQ(FindTextId(table_, 5), "");
}

TEST_F(TextIdTableTest, FailedLoadEmptiesAnEarlierTable) {
  ASSERT_TRUE(Load(MakeCvs({{7, "seven"}})));
  EXPECT_FALSE(LoadTextIdTable(table_, folder_.At("missing.cvs").c_str()));
  ExpectEmpty();
}

// ---- ResolveName ----------------------------------------------------------------------------

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
    AddObject(77, NameHash("cCrate"));
    dictionaries_.class_types = &registry_;
    dictionaries_.objects = &objects_;
  }
  void TearDown() override {
    for (ValueNode* object : made_) ReleaseObject(object);
  }

  void AddObject(uint32_t id, uint32_t class_hash) {
    ValueNode* object = NewObjectValue(class_hash, id);
    ASSERT_NE(object, nullptr);
    made_.push_back(object);
    ValueNode** entry = objects_.FindOrInsert(id, true);
    ASSERT_NE(entry, nullptr);
    *entry = object;
  }
  void LoadTable(TextIdTable& table, const std::vector<std::pair<uint32_t, std::string>>& rows) {
    folder_.Put("table.cvs", MakeCvs(rows));
    ASSERT_TRUE(LoadTextIdTable(table, folder_.At("table.cvs").c_str()));
  }
  const char* Resolve(uint32_t value, uint32_t kind) {
    return ResolveName(value, kind, &dictionaries_);
  }

  TempFolder folder_;
  TypeRegistry registry_;
  ObjectIdTable objects_;
  std::vector<ValueNode*> made_;
  NameDictionaries dictionaries_;
};

TEST_F(ResolveNameTest, NoDictionariesNameNothing) {
  for (const uint32_t kind :
       {0u, kResolveHashComment, kResolvePointerComment, kCHashHash, kCTextIDHash, kCPointerHash}) {
    EXPECT_EQ(ResolveName(NameHash("cCrate"), kind, nullptr), nullptr);
    EXPECT_EQ(ResolveName(0, kind, nullptr), nullptr);
  }
}

TEST_F(ResolveNameTest, PointerCommentWithoutATableSaysSo) {
  dictionaries_.objects = nullptr;
  EXPECT_STREQ(Resolve(77, kResolvePointerComment), "Type manager or object table NULL");
  EXPECT_STREQ(Resolve(0, kResolvePointerComment), "Type manager or object table NULL");
  dictionaries_.objects = &objects_;
  dictionaries_.class_types = nullptr;
  EXPECT_STREQ(Resolve(77, kResolvePointerComment), "Type manager or object table NULL");
}

TEST_F(ResolveNameTest, PointerCommentNamesTheClassOfTheObject) {
  AddObject(78, NameHash("cUnknownClass"));
  EXPECT_STREQ(Resolve(0, kResolvePointerComment), "NULL");
  EXPECT_STREQ(Resolve(77, kResolvePointerComment), "cCrate");
  EXPECT_EQ(Resolve(78, kResolvePointerComment), nullptr);
  EXPECT_EQ(Resolve(79, kResolvePointerComment), nullptr);
}

TEST_F(ResolveNameTest, TextIdNameAnswersTextIdsAndStringHashesOnly) {
  LoadTable(dictionaries_.text_id_names, {{NameHash("TXT_CRATE"), "TXT_CRATE"}});
  const uint32_t value = NameHash("TXT_CRATE");
  EXPECT_STREQ(Resolve(value, kCTextIDHash), "TXT_CRATE");
  EXPECT_STREQ(Resolve(value, kCStringHashHash), "TXT_CRATE");
  EXPECT_EQ(Resolve(value, kCHashHash), nullptr);
  EXPECT_EQ(Resolve(value, 0), nullptr);
  EXPECT_EQ(Resolve(value, kResolveHashComment), nullptr);
}

TEST_F(ResolveNameTest, EnglishTextAnswersOnlyTheHashComment) {
  LoadTable(dictionaries_.english_texts, {{4242, "A wooden crate\r\nfull of things"}});
  ASSERT_TRUE(AddName(dictionaries_.names, "Listed"));
  EXPECT_EQ(Resolve(4242, kCTextIDHash), nullptr);
  EXPECT_STREQ(Resolve(4242, kResolveHashComment), "A wooden crate\r\nfull of things");
  EXPECT_EQ(Resolve(NameHash("Listed"), kResolveHashComment), nullptr);
  EXPECT_EQ(Resolve(NameHash("cCrate"), kResolveHashComment), nullptr);
}

TEST_F(ResolveNameTest, StringHashFallsBackToTheClassName) {
  EXPECT_STREQ(Resolve(NameHash("cCrate"), kCStringHashHash), "cCrate");
  EXPECT_STREQ(Resolve(NameHash("cCrate"), kCTextIDHash), "cCrate");
}

TEST_F(ResolveNameTest, OtherKindsTakeTheClassNameBeforeTheListedName) {
  ASSERT_NE(AddClass(registry_, kCollidingSecond, NameHash(kCollidingSecond)), nullptr);
  ASSERT_TRUE(AddName(dictionaries_.names, kCollidingFirst));
  ASSERT_TRUE(AddName(dictionaries_.names, "Crate_A"));
  for (const uint32_t kind : {0u, kCHashHash, kCPointerHash, 0x12345678u}) {
    SCOPED_TRACE(kind);
    EXPECT_STREQ(Resolve(NameHash(kCollidingFirst), kind), kCollidingSecond);
    EXPECT_STREQ(Resolve(NameHash("Crate_A"), kind), "Crate_A");
    EXPECT_EQ(Resolve(NameHash("Crate_B"), kind), nullptr);
  }
}

TEST_F(ResolveNameTest, NamesThatDoNotHashToTheValueAreNotUsed) {
  LoadTable(dictionaries_.text_id_names, {{1234, "TXT_WRONG"}, {NameHash("Right"), "Other"}});
  EXPECT_EQ(Resolve(1234, kCTextIDHash), nullptr);
  ASSERT_NE(AddClass(registry_, "cWrong", NameHash("Right")), nullptr);
  EXPECT_EQ(Resolve(NameHash("Right"), 0), nullptr);
  ASSERT_TRUE(AddName(dictionaries_.names, "Right"));
  EXPECT_STREQ(Resolve(NameHash("Right"), 0), "Right");
  EXPECT_STREQ(Resolve(NameHash("Right"), kCTextIDHash), "Right");

  HeapText* entry = dictionaries_.names.FindOrInsert(42, true);
  ASSERT_NE(entry, nullptr);
  entry->AssignText("NotFortyTwo");
  EXPECT_EQ(Resolve(42, kCHashHash), nullptr);
  ASSERT_NE(dictionaries_.names.FindOrInsert(0, true), nullptr);
  EXPECT_EQ(Resolve(0, 0), nullptr);
}

// ---- LoadNameDictionaries -------------------------------------------------------------------

TEST(LoadNameDictionariesTest, LoadsEverySourceAndInstallsTheResolverUntilReleased) {
  TempFolder folder;
  folder.Put("Hash.txt", "Crate_A\r\nCrate_B\r\n");
  folder.Put("qvxmain_ids.cvs", MakeCvs({{NameHash("TXT_CRATE"), "TXT_CRATE"}}));
  folder.Put("qvxmain_en.cvs", MakeCvs({{NameHash("TXT_CRATE"), "A crate"}}));
  TypeRegistry registry;
  ObjectIdTable objects;
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, folder.root().c_str(), &registry, &objects);

  EXPECT_EQ(CurrentNameResolver.function, &ResolveName);
  EXPECT_EQ(CurrentNameResolver.context, &dictionaries);
  EXPECT_EQ(dictionaries.class_types, &registry);
  EXPECT_EQ(dictionaries.objects, &objects);
  EXPECT_EQ(dictionaries.names.count(), 2 + kBuiltInComponentNameCount);
  EXPECT_STREQ(ResolveName(NameHash("Crate_B"), 0, &dictionaries), "Crate_B");
  EXPECT_STREQ(ResolveName(NameHash("TXT_CRATE"), kCTextIDHash, &dictionaries), "TXT_CRATE");
  EXPECT_STREQ(ResolveName(NameHash("TXT_CRATE"), kResolveHashComment, &dictionaries), "A crate");

  ReleaseNameDictionaries(dictionaries);
  EXPECT_EQ(CurrentNameResolver.function, nullptr);
  EXPECT_EQ(CurrentNameResolver.context, nullptr);
  EXPECT_EQ(dictionaries.names.count(), 0u);
  EXPECT_EQ(dictionaries.text_id_names.count(), 0u);
  EXPECT_EQ(dictionaries.english_texts.count(), 0u);
  EXPECT_EQ(dictionaries.class_types, nullptr);
}

TEST(LoadNameDictionariesTest, MissingFilesPrintNothingAndLeaveTheBuiltInNames) {
  TempFolder folder;
  NameDictionaries dictionaries;
  testing::internal::CaptureStdout();
  LoadNameDictionaries(dictionaries, folder.root().c_str(), nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(CurrentNameResolver.function, &ResolveName);
  EXPECT_EQ(dictionaries.names.count(), kBuiltInComponentNameCount);
  EXPECT_EQ(dictionaries.text_id_names.count(), 0u);
  EXPECT_STREQ(ResolveName(NameHash("cVehicle2"), kCStringHashHash, &dictionaries), "cVehicle2");
  EXPECT_STREQ(ResolveName(NameHash("cGameActor"), kCHashHash, &dictionaries), "cGameActor");
  EXPECT_STREQ(ResolveName(5, kResolvePointerComment, &dictionaries),
               "Type manager or object table NULL");
  ASSERT_TRUE(AddName(dictionaries.names, "Renamed_1"));
  EXPECT_STREQ(ResolveName(NameHash("Renamed_1"), 0, &dictionaries), "Renamed_1");
}

TEST(LoadNameDictionariesTest, BuiltInNameReplacesAListedNameOfTheSameHash) {
  TempFolder folder;
  folder.Put("Hash.txt", std::string(kLikeGameActor) + "\n");
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, folder.root().c_str(), nullptr, nullptr);
  EXPECT_EQ(dictionaries.names.count(), kBuiltInComponentNameCount);
  EXPECT_STREQ(ResolveName(NameHash(kLikeGameActor), 0, &dictionaries), "cGameActor");
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
  EXPECT_EQ(ResolveName(NameHash("TXT_CRATE"), kCTextIDHash, &dictionaries), nullptr);
}

TEST(LoadNameDictionariesTest, LoadingAgainReplacesTheEarlierContent) {
  TempFolder first;
  TempFolder second;
  first.Put("Hash.txt", "Crate_A");
  first.Put("qvxmain_en.cvs", MakeCvs({{9, "nine"}}));
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, (first.root() + kPathSeparator).c_str(), nullptr, nullptr);
  ASSERT_STREQ(ResolveName(NameHash("Crate_A"), 0, &dictionaries), "Crate_A");
  ASSERT_STREQ(ResolveName(9, kResolveHashComment, &dictionaries), "nine");
  LoadNameDictionaries(dictionaries, second.root().c_str(), nullptr, nullptr);
  EXPECT_EQ(ResolveName(NameHash("Crate_A"), 0, &dictionaries), nullptr);
  EXPECT_EQ(ResolveName(9, kResolveHashComment, &dictionaries), nullptr);
  ReleaseNameDictionaries(dictionaries);
  EXPECT_EQ(CurrentNameResolver.function, nullptr);
}

const char* OuterResolver(uint32_t, uint32_t, void*) { return "outer"; }

TEST(LoadNameDictionariesTest, LeavingTheScopeRemovesTheResolver) {
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

// ---- Built-in component names ---------------------------------------------------------------

TEST(BuiltInComponentNamesTest, HoldsTheComponentClassesInTheirFixedOrder) {
  EXPECT_EQ(kBuiltInComponentNameCount, 191u);
  EXPECT_EQ(std::size(kBuiltInComponentNames), 191u);
  EXPECT_STREQ(kBuiltInComponentNames[0], "cActionLogicComponent");
  EXPECT_STREQ(kBuiltInComponentNames[1], "cActorClimbingControllerComponent");
  EXPECT_STREQ(kBuiltInComponentNames[142], "cVehicle2");
  EXPECT_STREQ(kBuiltInComponentNames[155], "cDynamicProp");
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
