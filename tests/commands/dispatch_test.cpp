// tests/commands/dispatch_test.cpp - the command line: usage text, command words, fallback.
#include <gtest/gtest.h>

#include <string>

#include "tests/commands/run_tool.h"

namespace {

const char kUsage[] =
    "Vorlane bin tool\n"
    "Supported commands:\n"
    "buildtlib - Generate typelib - <Game folder> [output file] - output file defaults to QVX.tl\n"
    "gentext - Generate text from bin file - <Input file> [output file] - output file defaults "
    "to input file.txt\n"
    "genbin - Generate bin from text file - <Input file> [output file] - output file defaults to "
    "input file.bin\n"
    "dumptypes - Dump typelib info to text file - <Input file> [output file] - output file "
    "defaults to input file.txt\n";

const char kGenTextHelp[] =
    "Generate text from bin file\n"
    "<Input file> [output file]\n"
    "<Input file> - Input .bin file\n"
    "[output file] - Output text file, defaults to inputfile.txt\n";

const char kGenBinHelp[] =
    "Generate bin from text file\n"
    "<Input file> [output file]\n"
    "<Input file> - Input .txt file\n"
    "[output file] - Output bin file, defaults to inputfile.bin\n";

TEST(DispatchTest, NoArgumentPrintsTheSixUsageLines) {
  const ToolRun run = RunQvx({});
  EXPECT_EQ(run.output, kUsage);
  EXPECT_EQ(run.exit_code, 2);
}

TEST(DispatchTest, CommandWordsIgnoreLetterCase) {
  for (const char* word : {"gentext", "GENTEXT", "GenText"}) {
    SCOPED_TRACE(word);
    const ToolRun run = RunQvx({word});
    EXPECT_EQ(run.output, kGenTextHelp);
    EXPECT_EQ(run.exit_code, 2);
  }
  const ToolRun genbin = RunQvx({"GenBin"});
  EXPECT_EQ(genbin.output, kGenBinHelp);
  EXPECT_EQ(genbin.exit_code, 2);
}

TEST(DispatchTest, EveryCommandWordReachesItsCommand) {
  // Each command alone prints its own help, whose first line names it.
  const struct {
    const char* word;
    const char* first_line;
  } kCases[] = {
      {"buildtlib", "buildtlib - generate typelib\n"},
      {"gentext", "Generate text from bin file\n"},
      {"genbin", "Generate bin from text file\n"},
      {"dumptypes", "Dump typelib info to text file\n"},
      {"dumpobject", "Dump object raw data\n"},
      {"bitcompare", "Compare two files at bit level\n"},
      {"dobr", "Dump object raw data\n"},
      {"refdump", "Dump the objects that belong to one object alone\n"},
      {"objdump", "Dump one object with every object it references\n"},
      {"stringdump", "Dump every string of a bin file\n"},
      {"renameall", "Rename every object to a prefix and a running number\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.word);
    const ToolRun run = RunQvx({c.word});
    EXPECT_EQ(run.output.substr(0, std::string(c.first_line).size()), c.first_line);
    EXPECT_EQ(run.exit_code, 2);
  }
}

TEST(DispatchTest, CommandsThatNeedTwoArgumentsPrintHelpWithOne) {
  for (const char* word : {"dumpobject", "dobr", "bitcompare", "objdump", "refdump", "renameall"}) {
    SCOPED_TRACE(word);
    const ToolRun one = RunQvx({word, "a.bin"});
    EXPECT_EQ(one.exit_code, 2);
    const ToolRun none = RunQvx({word});
    EXPECT_EQ(one.output, none.output);
  }
}

TEST(DispatchTest, ExtensionFallbackReachesTheConversions) {
  // A file given alone reaches gentext (.bin) or genbin (.txt) as their first argument, so the
  // commands do not print their help.
  for (const char* file : {"a.BIN", "a.bin", "x.Txt", "dir.d/x.txt"}) {
    SCOPED_TRACE(file);
    const ToolRun run = RunQvx({file});
    EXPECT_NE(run.output, kGenTextHelp);
    EXPECT_NE(run.output, kGenBinHelp);
    EXPECT_NE(run.output, kUsage);
  }
}

TEST(DispatchTest, OtherFirstArgumentsPrintTheUsageText) {
  for (const char* arg : {"a", "a.dat", "some.folder/file", "some.folder\\file", "bin", ".bin.x"}) {
    SCOPED_TRACE(arg);
    const ToolRun run = RunQvx({arg});
    EXPECT_EQ(run.output, kUsage);
    EXPECT_EQ(run.exit_code, 2);
  }
}

}  // namespace
