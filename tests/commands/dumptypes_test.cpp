// tests/commands/dumptypes_test.cpp - dumptypes as a user runs it: the exact listing, the
// default output name and every failure message with its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const char kHelp[] =
    "Dump typelib info to text file\n"
    "<Input file> [output file]\n"
    "<Input file> - Input .tl file\n"
    "[output file] - Output text file, defaults to inputfile.txt\n";

TestClass ExampleClass() {
  return {"cExample",
          {{"position", "cVector3", 0, 4, {}},
           {"counts", "cInt", 4, 1, {static_cast<uint32_t>(-10), 10, 1}},
           {"weight", "cFloat", 0, 2, {FloatBits(0.0f), FloatBits(1.0f), FloatBits(0.01f)}},
           {"child", "cOtherClass", -1, 0, {}},
           {"missing", "cMissingType", 0, 0, {}}}};
}

std::string Header(const std::string& name) {
  char line[128];
  std::snprintf(line, sizeof line, "%s %u %X {\r\n", name.c_str(), TestNameHash(name),
                TestNameHash(name));
  return line;
}

class DumpTypesCommandTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  TestFolder folder_{"qvx_dumptypes_test_"};
};

TEST_F(DumpTypesCommandTest, WithoutArgumentsPrintsItsHelp) {
  const ToolRun run = RunQvx({"dumptypes"});
  EXPECT_EQ(run.output, kHelp);
  EXPECT_EQ(run.exit_code, 2);
}

TEST_F(DumpTypesCommandTest, ListsEveryClassByteForByte) {
  // cExample's hash ends in 0x47, cOtherClass's in 0xCB: that is the listing order.
  ASSERT_TRUE(folder_.Put("lib.tl", TestTypeLibrary({{"cOtherClass", {}}, ExampleClass()})));
  const ToolRun run = RunQvx({"dumptypes", "lib.tl", "types.txt"}, folder_.root());
  EXPECT_EQ(run.output, "Successfully generated \"types.txt\"\r\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("types.txt"),
            "cExample 4055981895 F1C15F47 {\r\n"
            "\tcVector3 position QuantizationMode_Pos [Core type]\r\n"
            "\tcInt counts[4] QuantizationMode_Int [-10 - 10: 1] [Core type]\r\n"
            "\tcFloat weight QuantizationMode_Float [0 - 1: 0.01] [Core type]\r\n"
            "\tcOtherClass child[] QuantizationMode_None\r\n"
            "\t#4072813245 missing QuantizationMode_None\r\n"
            "}\r\n" +
                Header("cOtherClass") + "}\r\n");
}

TEST_F(DumpTypesCommandTest, UnknownModeAndStringFieldsAndEmptyLibrary) {
  ASSERT_TRUE(folder_.Put("lib.tl", TestTypeLibrary({{"cOnlyA",
                                                      {{"label", "cString", 0, 9, {}},
                                                       {"scale", "cVector3", 2, 5, {}},
                                                       {"turn", "cQuat", 0, 7, {}}}}})));
  ASSERT_EQ(RunQvx({"dumptypes", "lib.tl", "out.txt"}, folder_.root()).exit_code, 0);
  EXPECT_EQ(folder_.Get("out.txt"), Header("cOnlyA") +
                                        "\tcString label QuantizationMode_None [Core type]\r\n"
                                        "\tcVector3 scale[2] QuantizationMode_Scale [Core type]\r\n"
                                        "\tcQuat turn QuantizationMode_Quat [Core type]\r\n"
                                        "}\r\n");

  ASSERT_TRUE(folder_.Put("empty.tl", TestTypeLibrary({})));
  ASSERT_TRUE(folder_.Put("empty.txt", "old content"));
  ASSERT_EQ(RunQvx({"dumptypes", "empty.tl"}, folder_.root()).exit_code, 0);
  EXPECT_TRUE(folder_.Exists("empty.txt"));
  EXPECT_EQ(folder_.Get("empty.txt"), "");
}

TEST_F(DumpTypesCommandTest, DefaultOutputSitsBesideTheInput) {
  ASSERT_TRUE(folder_.Put("sub/a.tl", TestTypeLibrary({{"cOnlyA", {}}})));
  const ToolRun run = RunQvx({"dumptypes", "sub/a.tl"}, folder_.root());
  EXPECT_EQ(run.output, "Successfully generated \"" + NativePath("sub/a.txt") + "\"\r\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("sub/a.txt"), Header("cOnlyA") + "}\r\n");
}

TEST_F(DumpTypesCommandTest, FailuresAreReportedAndWriteNothing) {
  const std::string library = TestTypeLibrary({{"cOnlyA", {}}});
  ASSERT_TRUE(folder_.Put("lib.tl", library));
  ASSERT_TRUE(folder_.Put("lib.txt", library));
  ASSERT_TRUE(folder_.Put("short.tl", "BIL"));
  ASSERT_TRUE(folder_.Put("magic.tl", std::string("TLIB\0\0\0\0", 8)));
  std::string cut = TestTypeLibrary({ExampleClass()});
  cut.resize(cut.size() - 1);
  ASSERT_TRUE(folder_.Put("cut.tl", cut));
  const std::string kSame = "Output file is the same as the input file.\n";
  const struct {
    std::string input, output, message;
  } kCases[] = {
      {"short.tl", "out.txt", "Failed to load \"short.tl\"\n"},
      {"magic.tl", "out.txt", "Failed to load \"magic.tl\"\n"},
      {"cut.tl", "out.txt", "Failed to load \"cut.tl\"\n"},
      {"missing.tl", "out.txt", "Failed to load \"missing.tl\"\n"},
      {"lib.tl", "./lib.tl", kSame},
      {"lib.txt", "", kSame},
      {"lib.tl", "nowhere/out.txt", "Failed to write \"nowhere/out.txt\"\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input + " " + c.output);
    const ToolRun run = c.output.empty() ? RunQvx({"dumptypes", c.input}, folder_.root())
                                         : RunQvx({"dumptypes", c.input, c.output}, folder_.root());
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(folder_.Exists("out.txt"));
  }
  EXPECT_FALSE(folder_.Exists("nowhere"));
  EXPECT_EQ(folder_.Get("lib.tl"), library);
  EXPECT_EQ(folder_.Get("lib.txt"), library);
}

}  // namespace
