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
  EXPECT_EQ(run.output, "Loaded types from " + NativePath("game/X.BIN") + "\n" +
                            "Loaded types from " + NativePath("game/a.bin") + "\n" +
                            "Loaded types from " + NativePath("game/s/b.bin") + "\n" +
                            "Loaded types from " + NativePath("game/s/broken.bin") + "\n" +
                            "Successfully generated \"out.tl\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Get("out.tl"),
            LibraryInRegistryOrder({shared_a, only_a, upper, only_b, broken}));
}

TEST(BuildTlibTest, TrailingSeparatorMissingFolderAndUnwritableOutput) {
  TestFolder folder("qvx_buildtlib_test_");
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.Put("game/sub/one.bin", TestBinFile({})));
  ASSERT_TRUE(folder.Put("QVX.tl", std::string(100, 'x')));
  const struct {
    std::string folder, output, message;
    int exit_code;
  } kCases[] = {
      {"game/", "QVX.tl",
       "Loaded types from game/" + NativePath("sub/one.bin") +
           "\nSuccessfully generated \"QVX.tl\".\n",
       0},
      {"no_such_folder", "QVX.tl", "Successfully generated \"QVX.tl\".\n", 0},
      {"game/sub/", "missing/out.tl",
       "Loaded types from game/sub/one.bin\nFailed to write \"missing/out.tl\".\n", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.folder);
    ASSERT_TRUE(folder.Put("QVX.tl", std::string(100, 'x')));
    const ToolRun run = RunQvx({"buildtlib", c.folder, c.output, "ignored"}, folder.root());
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(folder.Get("QVX.tl"), c.exit_code == 0 ? kEmptyLibrary : std::string(100, 'x'));
  }
  EXPECT_FALSE(folder.Exists("missing"));
}

}  // namespace
