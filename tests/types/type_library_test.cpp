// tests/types/type_library_test.cpp - the ".tl" file, the .bin search order and the text
// listing of class types, each test in a fresh folder under the system temp folder.
#include "types/type_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "foundation/name_hash.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_dump.h"

namespace {

namespace fs = std::filesystem;

class TypeLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("qvx_typelib_test_" + std::to_string(seed()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root_ = candidate.string();
    }
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override {
    std::error_code error;
    if (!root_.empty()) fs::remove_all(root_, error);
  }

  std::string At(const std::string& relative) const { return root_ + "/" + relative; }

  void Put(const std::string& relative, const std::string& content) const {
    const fs::path path = At(relative);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good());
  }

  std::string Get(const std::string& relative) const {
    std::ifstream in(At(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
};

ClassType* AddClass(TypeRegistry& registry, const char* name, uint32_t field_count) {
  ClassTypePtr class_type = MakeClassType();
  EXPECT_NE(class_type, nullptr);
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  EXPECT_TRUE(class_type->AllocateFields(field_count));
  return registry.Add(std::move(class_type));
}

void SetField(FieldInfo& field, const char* name, const char* type_name, int32_t array_size,
              uint32_t mode) {
  field.name.Assign(name);
  field.name_hash = NameHash(name);
  field.type_hash = NameHash(type_name);
  field.array_size = array_size;
  field.quantization_mode = mode;
}

TEST_F(TypeLibraryTest, EmptyRegistryGivesMagicAndZeroCount) {
  TypeRegistry registry;
  ASSERT_TRUE(SaveTypelib(registry, At("empty.tl").c_str()));
  EXPECT_EQ(Get("empty.tl"), std::string("BILT\0\0\0\0", 8));
}

TEST_F(TypeLibraryTest, SavedLibraryLoadsBackWithTheSameClasses) {
  TypeRegistry registry;
  ClassType* a = AddClass(registry, "cAlpha", 2);
  SetField(a->fields[0], "count", "cInt", 0, 1);
  a->fields[0].int_quantization = {-3, 30, 3};
  SetField(a->fields[1], "beta", "cBeta", -1, 0);
  a->extra_word = 77;
  AddClass(registry, "cBeta", 0);
  ASSERT_TRUE(SaveTypelib(registry, At("lib.tl").c_str()));

  TypeRegistry loaded;
  ClassType* mine = AddClass(loaded, "cBeta", 1);  // classes already held are kept
  ASSERT_TRUE(LoadTypelib(loaded, At("lib.tl").c_str()));
  EXPECT_EQ(loaded.count(), 2u);
  EXPECT_EQ(FindClassType(loaded, NameHash("cBeta")), mine);
  EXPECT_EQ(mine->field_count, 1u);
  const ClassType* back = FindClassType(loaded, NameHash("cAlpha"));
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->name.data, "cAlpha");
  EXPECT_EQ(back->extra_word, 77u);
  ASSERT_EQ(back->field_count, 2u);
  EXPECT_EQ(back->fields[0].int_quantization.minimum, -3);
  EXPECT_EQ(back->fields[0].int_quantization.step, 3);
  EXPECT_EQ(back->fields[1].array_size, -1);
  EXPECT_EQ(back->fields[1].type_hash, NameHash("cBeta"));
}

TEST_F(TypeLibraryTest, WhatIsNotATypeLibraryFailsToLoadAndAFailedSaveLeavesNoFile) {
  TypeRegistry registry;
  for (const std::string& bad : {std::string("BIL"), std::string("LTIB\0\0\0\0", 8),
                                 std::string("BILT"), std::string("BILT\1\0\0\0", 8)}) {
    Put("bad.tl", bad);
    EXPECT_FALSE(LoadTypelib(registry, At("bad.tl").c_str())) << bad;
  }
  EXPECT_FALSE(LoadTypelib(registry, At("missing.tl").c_str()));
  Put("trailing.tl", std::string("BILT\0\0\0\0junk", 12));
  EXPECT_TRUE(LoadTypelib(registry, At("trailing.tl").c_str()));
  AddClass(registry, "cA", 0);
  EXPECT_FALSE(SaveTypelib(registry, At("no/such/folder/lib.tl").c_str()));
  EXPECT_FALSE(fs::exists(At("no")));
}

TEST_F(TypeLibraryTest, ScanVisitsFilesThenSubfoldersDepthFirst) {
  for (const char* file :
       {"b.bin", "A.BIN", "notes.txt", "bin", "z/y.bin", "s/x.Bin", "s/deep/w.bin", "s/v.bin"}) {
    Put(std::string("game/") + file, "");
  }
  fs::create_directories(At("game/empty.bin"));
  // Separators the scan adds are the platform's; a trailing one given with the folder stays.
  const std::string sep(1, kPathSeparator);
  const std::vector<std::string> found = {"A.BIN",
                                          "b.bin",
                                          "s" + sep + "v.bin",
                                          "s" + sep + "x.Bin",
                                          "s" + sep + "deep" + sep + "w.bin",
                                          "z" + sep + "y.bin"};
  for (const std::string& folder : {At("game"), At("game/")}) {
    SCOPED_TRACE(folder);
    const std::string prefix = folder.back() == '/' ? folder : folder + kPathSeparator;
    std::vector<std::string> paths = {"stale"};
    ASSERT_EQ(ScanBinFiles(paths, folder.c_str()), 6u);
    std::vector<std::string> expected;
    for (const std::string& name : found) expected.push_back(prefix + name);
    EXPECT_EQ(paths, expected);
  }
  std::vector<std::string> paths = {"stale"};
  EXPECT_EQ(ScanBinFiles(paths, At("missing").c_str()), 0u);
  EXPECT_TRUE(paths.empty());
}

std::string Dump(const TypeRegistry& registry) {
  CoreTypeTable core_types;
  EXPECT_TRUE(BuildCoreTypeTable(core_types));
  CStringBufferA out;
  DumpTypes(registry, core_types, out);
  return std::string(out.data, out.length);
}

TEST(DumpTypesTest, ListsEachClassWithItsFieldLines) {
  TypeRegistry empty, example, registry;
  EXPECT_EQ(Dump(empty), "");
  AddClass(example, "cExample", 0);
  EXPECT_EQ(Dump(example), "cExample 4055981895 F1C15F47 {\r\n}\r\n");
  ClassType* c = AddClass(registry, "cHolder", 6);
  SetField(c->fields[0], "text", "cString", 0, 0);
  SetField(c->fields[1], "odd", "cInt", 2, 9);
  c->fields[1].int_quantization = {1, 2, 3};
  SetField(c->fields[2], "tenth", "cFloat", -1, 2);
  c->fields[2].float_quantization = {0.1f, 2.5f, 0.1f, 0};
  SetField(c->fields[3], "self", "cHolder", -3, 3);
  SetField(c->fields[4], "big", "cFloat", 0, 2);
  c->fields[4].float_quantization = {-1e7f, 123456789.0f, 0.000001f, 0};
  SetField(c->fields[5], "gone", "cGone", 1, 0);
  char header[64];
  std::snprintf(header, sizeof header, "cHolder %u %X {\r\n", NameHash("cHolder"),
                NameHash("cHolder"));
  EXPECT_EQ(Dump(registry),
            std::string(header) +
                "\tcString text QuantizationMode_None [Core type]\r\n"
                "\tcInt odd[2] QuantizationMode_None [Core type]\r\n"
                "\tcFloat tenth[] QuantizationMode_Float [0.1 - 2.5: 0.1] [Core type]\r\n"
                "\tcHolder self[] QuantizationMode_DynValInt\r\n"
                "\tcFloat big QuantizationMode_Float [-1E+07 - 1.23457E+08: 1E-06] "
                "[Core type]\r\n"
                "\t#" +
                std::to_string(NameHash("cGone")) +
                " gone[1] QuantizationMode_None\r\n"
                "}\r\n");
}

}  // namespace
