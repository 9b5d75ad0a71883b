// tests/commands/buildtlib_test.cpp - buildtlib over small game folders: which files it reads,
// in which order, which definition wins, and the exact library it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const char kHelp[] =
    "buildtlib - generate typelib\n"
    "<Game folder> [output file]\n"
    "<Game folder> - Vorlane installation folder\n"
    "[output file] - Output typelib file, defaults to \"QVX.tl\"\n";

const std::string kEmptyLibrary("BILT\0\0\0\0", 8);

// The library holds its classes by the low 8 bits of their hashes (all distinct here).
std::string LibraryInRegistryOrder(std::vector<TestClass> classes) {
  std::sort(classes.begin(), classes.end(), [](const TestClass& a, const TestClass& b) {
    return (TestNameHash(a.name) & 0xFF) < (TestNameHash(b.name) & 0xFF);
  });
  for (size_t i = 1; i < classes.size(); ++i) {
    EXPECT_NE(TestNameHash(classes[i - 1].name) & 0xFF, TestNameHash(classes[i].name) & 0xFF);
  }
  return TestTypeLibrary(classes);
}

TEST(BuildTlibTest, WithoutArgumentsPrintsItsHelp) {
  const ToolRun run = RunQvx({"buildtlib"});
  EXPECT_EQ(run.output, kHelp);
  EXPECT_EQ(run.exit_code, 2);
}

TEST(BuildTlibTest, MergesTheGameFolderInDepthFirstNameOrder) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  const TestClass shared_a{"cShared", {{"first", "cInt", 0, 1, {0xFFFFFFF6u, 10, 1}}}, 5};
  const TestClass shared_b{
      "cShared", {{"first", "cFloat", -1, 0, {}}, {"second", "cInt", 3, 0, {}}}, 6};
  const TestClass only_a{"cOnlyA", {{"pos", "cVector3", 0, 4, {}}}};
  const TestClass only_b{"cOnlyB", {{"link", "cOnlyA", -1, 0, {}}}};
  const TestClass upper{"cUpper", {{"w", "cFloat", 0, 2, {0, FloatBits(1), FloatBits(0.5f)}}}};
  const TestClass broken{"cBroken", {}};
  const TestClass lost{"cLater", {{"x", "cInt", 0, 0, {}}}};

  // "X.BIN" sorts before "a.bin"; s/ comes after every file of the game folder itself.
  ASSERT_TRUE(folder.Put("game/a.bin", TestBinFile({shared_a, only_a})));
  ASSERT_TRUE(folder.Put("game/X.BIN", TestBinFile({upper})));
  ASSERT_TRUE(folder.Put("game/s/b.bin", TestBinFile({shared_b, only_b})));
  std::string cut = TestBinFile({broken, lost});
  cut.resize(cut.size() - 3);
  ASSERT_TRUE(folder.Put("game/s/broken.bin", cut));
  std::string other_word = TestBinFile({lost});
  other_word[0] = 1;
  ASSERT_TRUE(folder.Put("game/bad_word.bin", other_word));
  std::string other_version = TestBinFile({lost});
  other_version[7] = '3';
  ASSERT_TRUE(folder.Put("game/bad_version.bin", other_version));
  ASSERT_TRUE(folder.Put("game/short.bin", std::string("\0\0\0\0v00", 7)));
  ASSERT_TRUE(folder.Put("game/notes.txt", TestBinFile({lost})));

  const ToolRun run = RunQvx({"buildtlib", "game", "out.tl"}, folder.root());
  EXPECT_EQ(run.output,
            "Loaded types from game/X.BIN\n"
            "Loaded types from game/a.bin\n"
            "Loaded types from game/s/b.bin\n"
            "Loaded types from game/s/broken.bin\n"
            "Successfully generated \"out.tl\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Get("out.tl"),
            LibraryInRegistryOrder({shared_a, only_a, upper, only_b, broken}));
}

TEST(BuildTlibTest, TrailingSeparatorGivesTheSamePaths) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.Put("game/sub/one.bin", TestBinFile({})));
  const ToolRun run = RunQvx({"buildtlib", "game/", "lib.tl"}, folder.root());
  EXPECT_EQ(run.output,
            "Loaded types from game/sub/one.bin\n"
            "Successfully generated \"lib.tl\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Get("lib.tl"), kEmptyLibrary);
}

TEST(BuildTlibTest, FolderWithoutBinFilesStillWritesAnEmptyLibrary) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.Put("game/readme.txt", "nothing here"));
  const ToolRun run = RunQvx({"buildtlib", "game"}, folder.root());
  EXPECT_EQ(run.output, "Successfully generated \"QVX.tl\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Get("QVX.tl"), kEmptyLibrary);

  const ToolRun missing = RunQvx({"buildtlib", "no_such_folder", "QVX.tl"}, folder.root());
  EXPECT_EQ(missing.output, "Successfully generated \"QVX.tl\".\n");
  EXPECT_EQ(missing.exit_code, 0);
  EXPECT_EQ(folder.Get("QVX.tl"), kEmptyLibrary);
}

TEST(BuildTlibTest, ReplacesAnExistingLibrary) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  const TestClass only{"cOnlyA", {}};
  ASSERT_TRUE(folder.Put("game/a.bin", TestBinFile({only})));
  ASSERT_TRUE(folder.Put("QVX.tl", std::string(100, 'x')));
  const ToolRun run = RunQvx({"buildtlib", "game", "QVX.tl", "ignored"}, folder.root());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Get("QVX.tl"), TestTypeLibrary({only}));
}

TEST(BuildTlibTest, UnwritableOutputIsReported) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.Put("game/a.bin", TestBinFile({})));
  const ToolRun run = RunQvx({"buildtlib", "game", "missing/out.tl"}, folder.root());
  EXPECT_EQ(run.output,
            "Loaded types from game/a.bin\n"
            "Failed to write \"missing/out.tl\".\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_FALSE(folder.Exists("missing"));
}

}  // namespace
