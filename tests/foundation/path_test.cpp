// tests/foundation/path_test.cpp - splitting paths, folder normalization, output names and the
// executable's folder.
#include "foundation/path.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/file.h"
#include "foundation/process.h"
#include "foundation/string_buffer.h"

namespace {

// Expected texts are written with "/"; paths the program builds use the platform separator.
std::string Native(std::string text) {
  for (char& c : text) {
    if (c == '/') c = kPathSeparator;
  }
  return text;
}

struct SplitCase {
  const char* path;
  const char* folder;
  const char* name;
  const char* extension;
};

TEST(SplitPathTest, SplitsAtTheLastSeparatorOfEitherKind) {
  const SplitCase kCases[] = {
      {"data/levels/a.b.bin", "data/levels/", "a.b", "bin"},
      {"README", "", "README", ""},
      {"a/b.c/d", "a/b.c/", "d", ""},
      {"a/b/", "a/b/", "", ""},
      {"x\\y/z.txt", "x\\y/", "z", "txt"},
      {"a/b\\c.BIN", "a/b\\", "c", "BIN"},
      {"C:\\data\\x.bin", "C:\\data\\", "x", "bin"},
      {".hidden", "", "", "hidden"},
      {"name.", "", "name", ""},
      {"/", "/", "", ""},
      {"", "", "", ""},
  };
  for (const SplitCase& c : kCases) {
    SCOPED_TRACE(c.path);
    TStringBufferA<8> folder("stale");
    CStringBufferA name("stale");
    CStringBufferA extension("stale");
    SplitPath(c.path, &folder, &name, &extension);
    EXPECT_STREQ(folder.data, c.folder);
    EXPECT_EQ(folder.length, std::string(c.folder).size());
    EXPECT_STREQ(name.data, c.name);
    EXPECT_EQ(name.length, std::string(c.name).size());
    EXPECT_STREQ(extension.data, c.extension);
    EXPECT_EQ(extension.length, std::string(c.extension).size());
  }
}

TEST(SplitPathTest, OutputsMayBeAbsentOrHoldThePathItself) {
  CStringBufferA extension;
  SplitPath("some.folder/file", nullptr, nullptr, &extension);
  EXPECT_STREQ(extension.data, "");
  SplitPath("x/a.Txt", nullptr, nullptr, &extension);
  EXPECT_STREQ(extension.data, "Txt");

  CStringBufferA text("dir.d/inner/a.b.bin");
  CStringBufferA name;
  SplitPath(text.data, &text, &name, nullptr);
  EXPECT_STREQ(text.data, "dir.d/inner/");
  EXPECT_STREQ(name.data, "a.b");

  CStringBufferA same("long_folder_name/x.cvs");
  SplitPath(same.data, nullptr, nullptr, &same);
  EXPECT_STREQ(same.data, "cvs");
}

TEST(NormalizeFolderTest, FoldsSeparatorRunsAndDropsTrailingOnes) {
  const struct {
    const char* source;
    const char* expected;  // "/" stands for the platform separator
  } kCases[] = {
      {"D:/data//levels/", "D:/data/levels"},
      {"D:\\tools\\", "D:/tools"},
      {"a\\\\b\\/c", "a/b/c"},
      {"/abs/path/", "/abs/path"},
      {"plain", "plain"},
      {"", ""},
      {"/", ""},
      {"\\/\\", ""},
      {"\xC3\x9C"
       "bersetzung//\xC3\x84/",
       "\xC3\x9C"
       "bersetzung/\xC3\x84"},
      // Bytes of another code page are not UTF-8 but must survive: the folder has to exist.
      {"dir\xC4/\xFF\xFEx\\", "dir\xC4/\xFF\xFEx"},
#ifndef _WIN32
      {"//lead", "/lead"},
#else
      {"\\\\server\\share\\", "\\\\server/share"},
#endif
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.source);
    CStringBufferA target("stale");
    NormalizeFolder(c.source, target);
    EXPECT_EQ(std::string(target.data), Native(c.expected));
    EXPECT_EQ(target.length, std::string(c.expected).size());
  }
}

TEST(NormalizeFolderTest, SourceMayBeTheTargetsOwnText) {
  CStringBufferA heap("a//b\\\\c/");
  NormalizeFolder(heap.data, heap);
  EXPECT_EQ(std::string(heap.data), Native("a/b/c"));

  TStringBufferA<16> inline_text("/x//y/");
  NormalizeFolder(inline_text.data, inline_text);
  EXPECT_EQ(std::string(inline_text.data), Native("/x/y"));

  const std::string long_folder = std::string(300, 'q') + "//" + std::string(300, 'r') + "/";
  TStringBufferA<64> grown(long_folder.c_str());
  NormalizeFolder(grown.data, grown);
  EXPECT_EQ(std::string(grown.data), Native(std::string(300, 'q') + "/" + std::string(300, 'r')));
}

TEST(DeriveOutputNameTest, ReplacesTheExtensionBySuffixInTheNormalizedFolder) {
  const struct {
    const char* input;
    const char* suffix;
    const char* expected;  // "/" stands for the platform separator
  } kCases[] = {
      {"a.bin", ".txt", "a.txt"},
      {"x/y/a.bin", ".txt", "x/y/a.txt"},
      {"x\\y\\a.bin", ".txt", "x/y/a.txt"},
      {"x//y/a.b.bin", "_objdump.txt", "x/y/a.b_objdump.txt"},
      {"a.bin", ".bin", "a.bin"},
      {"level.txt", ".bin", "level.bin"},
      {"README", ".data", "README.data"},
      {"some.folder/file", "_refdump.txt", "some.folder/file_refdump.txt"},
      {"/a.bin", ".txt", "/a.txt"},
      {"dir/", ".txt", "dir/.txt"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input);
    CStringBufferA target("stale");
    DeriveOutputName(c.input, target, c.suffix);
    EXPECT_EQ(std::string(target.data), Native(c.expected));
  }
}

TEST(DeriveOutputNameTest, InputMayBeTheTargetsOwnText) {
  TStringBufferA<32> target("x/y//a.bin");
  DeriveOutputName(target.data, target, "_stringdump.txt");
  EXPECT_EQ(std::string(target.data), Native("x/y/a_stringdump.txt"));
}

TEST(ExeFolderTest, FolderOfTheExecutablePathWithoutTrailingSeparator) {
  const struct {
    const char* executable;
    const char* expected;  // "/" stands for the platform separator
  } kCases[] = {
      {"D:\\tools\\QVXBinTool.exe", "D:/tools"},
      {"/opt//qvx/bin/QVXBinTool", "/opt/qvx/bin"},
      {"QVXBinTool", ""},
      {"/QVXBinTool", ""},
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.executable);
    CStringBufferA folder("stale");
    ComputeExeFolder(c.executable, folder);
    EXPECT_EQ(std::string(folder.data), Native(c.expected));
  }
}

TEST(ExeFolderTest, RunningExecutableIsFoundAndItsFolderExists) {
  TStringBufferA<64> path;
  ASSERT_TRUE(GetExecutablePath(path));
  ASSERT_GT(path.length, 0u);
  EXPECT_EQ(path.length, std::string(path.data).size());
  CStringBufferA name;
  SplitPath(path.data, nullptr, &name, nullptr);
  EXPECT_STREQ(name.data, "foundation_tests");
#ifdef __linux__
  EXPECT_EQ(path.data[0], '/');
  EXPECT_TRUE(SameFile(path.data, "/proc/self/exe"));
#endif
  CStringBufferA folder;
  ComputeExeFolder(path.data, folder);
  EXPECT_TRUE(IsDirectory(folder.data));
}

}  // namespace
