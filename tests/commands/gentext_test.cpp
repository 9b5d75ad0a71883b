// tests/commands/gentext_test.cpp - gentext as a user runs it: exact documents, the default
// output name, names from dictionaries, and every failure with its message and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const char kLoaded[] =
    "Loading types...\n"
    "Loading objects...\n"
    "Finished loading objects.\n";

// Class cA with the cInt field xy, and object 7 whose xy holds 5.
const std::string kSmallBin(
    "\x00\x00\x00\x00v002"
    "\x01\x00\x00\x00\xC2\xB1\x20\x4F\x8C\x31\x00\x00\x00\x00\x80\x00"
    "\x00\x00\x00\x21\x5E\x5E\x80\x07\x1E\x00\x4B\xD0\xA0\x08\x00\x00"
    "\x9E\x18\x63\x00\x07\x00\x00\x00\x05\x00\x00\x00",
    52);
const char kSmallText[] = "cA 7 {\r\n\txy = \"5\"\r\n}\r\n";

std::string Succeeded(const std::string& output) {
  return std::string(kLoaded) + "Generating output...\nFinished generating output.\n" +
         "Successfully generated \"" + output + "\".\n";
}

class GenTextTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  TestFolder folder_{"qvx_gentext_test_"};
};

TEST_F(GenTextTest, SmallFileGivesItsThreeLinesBesideTheInputByDefault) {
  ASSERT_TRUE(folder_.Put("in/a.bin", kSmallBin));
  const ToolRun run = RunQvx({"gentext", "in/a.bin"}, folder_.root());
  EXPECT_EQ(run.output, Succeeded(NativePath("in/a.txt")));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("in/a.txt"), kSmallText);

  // Again, over the existing file, by the extension fallback and to a named output.
  const ToolRun again = RunQvx({folder_.At("in/a.bin")});
  EXPECT_EQ(again.exit_code, 0) << again.output;
  EXPECT_EQ(folder_.Get("in/a.txt"), kSmallText);
  const ToolRun named = RunQvx({"gentext", folder_.At("in/a.bin"), folder_.At("b.txt")});
  EXPECT_EQ(named.output, Succeeded(folder_.At("b.txt")));
  EXPECT_EQ(folder_.Get("b.txt"), kSmallText);

  ASSERT_TRUE(folder_.Put("e.bin", std::string("\0\0\0\0v002\0\0\0\0", 12)));
  const ToolRun empty = RunQvx({"gentext", folder_.At("e.bin")});
  EXPECT_EQ(empty.output, Succeeded(NativePath(folder_.At("e.txt"))));
  EXPECT_TRUE(folder_.Exists("e.txt"));
  EXPECT_EQ(folder_.Get("e.txt"), "");
}

#ifdef _WIN32
TEST_F(GenTextTest, FoldersInArgumentsMayBeSeparatedByBackslashes) {
  ASSERT_TRUE(folder_.Put("in/sub/a.bin", kSmallBin));
  const ToolRun run = RunQvx({"gentext", "in\\sub/a.bin"}, folder_.root());
  EXPECT_EQ(run.output, Succeeded("in\\sub\\a.txt"));
  EXPECT_EQ(folder_.Get("in/sub/a.txt"), kSmallText);
}
#endif

TEST_F(GenTextTest, EveryFailureIsReportedAndLeavesTheOutputAlone) {
  std::string cut = kSmallBin;
  cut.resize(48);  // the object's field is missing
  ASSERT_TRUE(folder_.Put("cut.bin", cut));
  ASSERT_TRUE(folder_.Put("header.bin", kSmallBin.substr(0, 8)));
  ASSERT_TRUE(folder_.Put("text.bin", "cA 7 {\r\n}\r\n"));
  ASSERT_TRUE(folder_.Put("good.bin", kSmallBin));
  ASSERT_TRUE(folder_.Put("out.txt", "old"));
  const std::string missing = folder_.At("missing.bin");
  const std::string unwritable = folder_.At("no/such/folder/out.txt");
  const struct {
    std::string input;
    std::string output;
    std::string message;
  } kCases[] = {
      {missing, folder_.At("out.txt"), "Failed to load \"" + missing + "\".\n"},
      {folder_.At("text.bin"), folder_.At("out.txt"), "Unexpected file format.\n"},
      {folder_.At("header.bin"), folder_.At("out.txt"),
       "Loading types...\nFailed to load types.\n"},
      {folder_.At("cut.bin"), folder_.At("out.txt"),
       "Loading types...\nLoading objects...\nFailed to load objects.\n"},
      {folder_.At("good.bin"), unwritable,
       std::string(kLoaded) + "Generating output...\nFinished generating output.\n" +
           "Failed to write \"" + unwritable + "\".\n"},
      {folder_.At("good.bin"), folder_.At("good.bin"),
       "Output file is the same as the input file.\n"},
      {folder_.At("good.bin"), folder_.At("./good.bin"),
       "Output file is the same as the input file.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input);
    const ToolRun run = RunQvx({"gentext", c.input, c.output});
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(folder_.Get("out.txt"), "old");
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.At("no")));
  EXPECT_EQ(folder_.Get("good.bin"), kSmallBin);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.root()),
                          std::filesystem::directory_iterator()),
            5);  // the four inputs and out.txt: no temporary files
}

// A document of several megabytes reaches the file in pieces while it is produced; the file
// holds exactly the text of every object, in order, and reads back to the same .bin.
TEST_F(GenTextTest, LargeDocumentsArriveWholeAndReadBack) {
  const TestClass item{"cA", {{"xy", "cInt", 0, 0, {}}, {"label", "cString", 0, 0, {}}}};
  TestBits objects;
  std::string expected;
  for (uint32_t id = 1; id <= 60000; ++id) {
    const std::string label(id % 97, static_cast<char>('a' + id % 26));
    objects.Word(TestNameHash("cA"));
    objects.Word(id);
    objects.Word(id * 7919u);
    objects.Word(static_cast<uint32_t>(label.size()));  // a string's word: its length
    if (!label.empty()) objects.Text(label);
    expected += "cA " + std::to_string(id) + " {\r\n\txy = \"" +
                std::to_string(static_cast<int32_t>(id * 7919u)) + "\"\r\n\tlabel = \"" + label +
                "\"\r\n}\r\n";
  }
  ASSERT_GT(expected.size(), 4u << 20);
  const std::string bin = TestBinFile({item}) + objects.bytes();
  ASSERT_TRUE(folder_.Put("big.bin", bin));
  ASSERT_TRUE(folder_.Put("big.txt", "old"));

  const ToolRun run = RunQvx({"gentext", folder_.At("big.bin")});
  EXPECT_EQ(run.output, Succeeded(NativePath(folder_.At("big.txt"))));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(folder_.Get("big.txt") == expected);

  const std::string tool = folder_.At("QVXBinTool");
  std::filesystem::copy_file(QVX_TOOL_PATH, tool);
  ASSERT_EQ(RunTool(tool, {"buildtlib", folder_.root(), folder_.At("QVX.tl")}).exit_code, 0);
  const ToolRun back = RunTool(tool, {"genbin", folder_.At("big.txt"), folder_.At("back.bin")});
  EXPECT_EQ(back.exit_code, 0) << back.output;
  EXPECT_TRUE(folder_.Get("back.bin") == bin);
}

// Object names come from Hash.txt beside the executable; a reference's comment names the class
// of its target, even when the target comes later in the file.
TEST_F(GenTextTest, NamesObjectsAndReferencesFromTheDictionaries) {
  const std::string tool = folder_.At("QVXBinTool");
  std::filesystem::copy_file(QVX_TOOL_PATH, tool);
  ASSERT_TRUE(folder_.Put("Hash.txt", "Crate_A\r\nCrate_B\r\n"));
  const TestClass crate{"cCrate", {{"to", "cPointer", 0, 0, {}}}};
  TestBits objects;
  for (const auto& [id, to] :
       {std::pair<uint32_t, uint32_t>{TestNameHash("Crate_A"), TestNameHash("Crate_B")},
        {TestNameHash("Crate_B"), 99},
        {5, TestNameHash("Crate_A")}}) {
    objects.Word(TestNameHash("cCrate"));
    objects.Word(id);
    objects.Word(to);
  }
  ASSERT_TRUE(folder_.Put("c.bin", TestBinFile({crate}) + objects.bytes()));

  const ToolRun run = RunTool(tool, {"gentext", folder_.At("c.bin")});
  EXPECT_EQ(run.output, Succeeded(NativePath(folder_.At("c.txt"))));
  EXPECT_EQ(folder_.Get("c.txt"), "cCrate /* " + std::to_string(TestNameHash("Crate_A")) +
                                      " */ 'Crate_A' {\r\n\tto = \"@'Crate_B'\" //cCrate\r\n}\r\n"
                                      "cCrate /* " +
                                      std::to_string(TestNameHash("Crate_B")) +
                                      " */ 'Crate_B' {\r\n\tto = \"@99\" //External object\r\n}\r\n"
                                      "cCrate 5 {\r\n\tto = \"@'Crate_A'\" //cCrate\r\n}\r\n");
}

}  // namespace
