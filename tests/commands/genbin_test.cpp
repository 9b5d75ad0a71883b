// tests/commands/genbin_test.cpp - genbin as a user runs it: a copy of the tool with its type
// library beside it, the exact bytes it writes, and every failure with its message and status.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const char kNoLibrary[] =
    "Failed to load typelib. Make sure QVX.tl is in the same folder as QVXBinTool.exe.\n";

const char kSmallDocument[] = "cA 7 {\r\n\txy = \"5\"\r\n}\r\n";

// The file of one class cA (field xy, cInt) and one object 7 whose xy is 5.
const std::string kSmallBin(
    "\x00\x00\x00\x00v002"
    "\x01\x00\x00\x00\xC2\xB1\x20\x4F\x8C\x31\x00\x00\x00\x00\x80\x00"
    "\x00\x00\x00\x21\x5E\x5E\x80\x07\x1E\x00\x4B\xD0\xA0\x08\x00\x00"
    "\x9E\x18\x63\x00\x07\x00\x00\x00\x05\x00\x00\x00",
    52);

const TestClass kClassA{"cA", {{"xy", "cInt", 0, 0, {}}}};
// cWeaponType is an enumeration of 2 bits; the library carries a record under its name.
const TestClass kClassE{"cE", {{"kind", "cWeaponType", 0, 0, {}}}};
const TestClass kWeaponTypeRecord{"cWeaponType", {}};

std::string Progress(uint32_t objects) {
  return "Parsing document...\n"
         "Parsing complete.\n"
         "Validating data...\n"
         "Data validation succeeded.\n"
         "Serializing referenced typeinfo...\n"
         "Successfully serialized typeinfo.\n"
         "Generating data for " +
         std::to_string(objects) +
         " objects...\n"
         "Successfully generated data.\n";
}

class GenBinTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    std::filesystem::create_directory(folder_.At("tool"));
    std::filesystem::copy_file(QVX_TOOL_PATH, tool_);
  }

  void UseLibrary(const std::vector<TestClass>& classes) {
    ASSERT_TRUE(folder_.Put("tool/QVX.tl", TestTypeLibrary(classes)));
  }

  ToolRun Run(std::initializer_list<std::string> args) {
    return RunTool(tool_, args, folder_.root());
  }

  TestFolder folder_{"qvx_genbin_test_"};
  std::string tool_ = folder_.At("tool/QVXBinTool");
};

TEST_F(GenBinTest, DocumentsGiveTheKnownFiles) {
  UseLibrary({{"cOther", {{"a", "cFloat", 0, 0, {}}}}, kClassA});
  ASSERT_TRUE(folder_.Put("empty.txt", ""));
  ASSERT_TRUE(folder_.Put("small.txt", kSmallDocument));
  const ToolRun empty = Run({"genbin", "empty.txt"});
  EXPECT_EQ(empty.output, Progress(0));
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(folder_.Get("empty.bin"), std::string("\0\0\0\0v002\0\0\0\0", 12));
  const ToolRun run = Run({"genbin", "small.txt", "out.bin"});
  EXPECT_EQ(run.output, Progress(1));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("out.bin"), kSmallBin);
  // The extension alone selects genbin.
  EXPECT_EQ(Run({"small.txt"}).output, Progress(1));
  EXPECT_EQ(folder_.Get("small.bin"), kSmallBin);
}

TEST_F(GenBinTest, ObjectIdsByNumberAndByNameShareOneClassRecord) {
  UseLibrary({kClassA});
  ASSERT_TRUE(folder_.Put(
      "two.txt", "cA 42 {\r\n\txy = \"1\"\r\n}\r\ncA 'Seven' {\r\n\txy = \"-2\"\r\n}\r\n"));
  const ToolRun run = Run({"genbin", "two.txt"});
  EXPECT_EQ(run.output, Progress(2));
  const std::string bin = folder_.Get("two.bin");
  ASSERT_EQ(bin.size(), 40u + 24u);
  EXPECT_EQ(bin.substr(0, 40), kSmallBin.substr(0, 40));  // one class record, count 1
  TestBits objects;
  for (const auto& [id, xy] : {std::pair<uint32_t, int32_t>{42, 1}, {TestNameHash("Seven"), -2}}) {
    objects.Word(TestNameHash("cA"));
    objects.Word(id);
    objects.Word(static_cast<uint32_t>(xy));
  }
  EXPECT_EQ(bin.substr(40), objects.bytes());
}

TEST_F(GenBinTest, WarningsArePrintedAndDoNotStopTheCommand) {
  UseLibrary({kClassE, kWeaponTypeRecord});
  ASSERT_TRUE(folder_.Put("w.txt", "cE 1 {\n\tkind = \"Bogus\"\n}\n"));
  const ToolRun run = Run({"genbin", "w.txt"});
  EXPECT_EQ(run.output,
            "Parsing document...\n"
            "w.txt(2) warning: Unknown name \"Bogus\" for cWeaponType, using fallback.\n" +
                Progress(1).substr(std::string("Parsing document...\n").size()));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(folder_.Exists("w.bin"));
}

TEST_F(GenBinTest, GentextReadsBackWhatGenbinWrote) {
  UseLibrary({{"cR",
               {{"name", "cString", 0, 0, {}},
                {"to", "cPointer", 0, 0, {}},
                {"values", "cFloat", -1, 0, {}},
                {"part", "cA", 0, 0, {}}}},
              kClassA});
  const std::string document =
      "cR 1 {\r\n"
      "\tname = \"say \\\"hi\\\"\\n\"\r\n"
      "\tto = \"@8\" //External object\r\n"
      "\tvalues = [\r\n\t\t\"1.5\"\r\n\t\t\"-2\"\r\n\t]\r\n"
      "\tpart = {\r\n\t\txy = \"3\"\r\n\t}\r\n"
      "}\r\n" +
      std::string(kSmallDocument);
  ASSERT_TRUE(folder_.Put("r.txt", document));
  ASSERT_EQ(Run({"genbin", "r.txt"}).exit_code, 0);
  ASSERT_EQ(Run({"gentext", "r.bin", "back.txt"}).exit_code, 0);
  EXPECT_EQ(folder_.Get("back.txt"), document);
}

// A document longer than the window genbin reads it through (8 MiB) is converted as a whole:
// every object, one whose fields stand out of order (read as a tree, from the whole rest of the
// document) among them; and an error far into it is reported at its line.
TEST_F(GenBinTest, LongDocumentsAreReadAPartAtATime) {
  UseLibrary(
      {{"cR",
        {{"name", "cString", 0, 0, {}}, {"values", "cFloat", -1, 0, {}}, {"part", "cA", 0, 0, {}}}},
       kClassA});
  const std::string name(300, 'n');
  std::string in_order;
  std::string reordered;
  std::string broken;
  constexpr uint32_t kObjects = 40000;
  uint32_t broken_line = 0;
  uint32_t line = 1;
  for (uint32_t id = 1; id <= kObjects; ++id) {
    const std::string n = std::to_string(id);
    const std::string values = "\tvalues = [\r\n\t\t\"1.5\"\r\n\t\t\"" + n + "\"\r\n\t]\r\n";
    const std::string part =
        "\tpart = {\r\n\t\txy = \"" + std::to_string(id % 100) + "\"\r\n\t}\r\n";
    const std::string named = "\tname = \"" + name + "\"\r\n";
    const std::string object = "cR " + n + " {\r\n" + named + values + part + "}\r\n";
    in_order += object;
    reordered +=
        id == kObjects / 2 ? "cR " + n + " {\r\n" + part + named + values + "}\r\n" : object;
    if (id == kObjects - 10) {
      broken_line = line + 1;
      broken += "cR " + n + " {\r\n\tbogus = \"1\"\r\n" + named + values + part + "}\r\n";
    } else {
      broken += object;
    }
    line += 10;
  }
  ASSERT_GT(in_order.size(), 12u << 20);
  ASSERT_TRUE(folder_.Put("long.txt", in_order));
  ASSERT_TRUE(folder_.Put("reordered.txt", reordered));
  ASSERT_TRUE(folder_.Put("broken.txt", broken));
  ToolRun run = Run({"genbin", "long.txt"});
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, Progress(kObjects));
  ASSERT_EQ(Run({"gentext", "long.bin", "back.txt"}).exit_code, 0);
  EXPECT_TRUE(folder_.Get("back.txt") == in_order);
  ASSERT_EQ(Run({"genbin", "reordered.txt"}).exit_code, 0);
  EXPECT_TRUE(folder_.Get("reordered.bin") == folder_.Get("long.bin"));
  run = Run({"genbin", "broken.txt"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.output, "Parsing document...\nbroken.txt(" + std::to_string(broken_line) +
                            ") Error: Unknown field cR::bogus.\n");
  EXPECT_FALSE(folder_.Exists("broken.bin"));
}

struct FailureCase {
  const char* name;
  std::vector<TestClass> library;
  std::string document;
  std::string output;
};

TEST_F(GenBinTest, FailuresPrintTheirMessageAndWriteNothing) {
  const std::string parsed = "Parsing document...\nParsing complete.\nValidating data...\n";
  const std::string validated = parsed +
                                "Data validation succeeded.\n"
                                "Serializing referenced typeinfo...\n";
  const FailureCase cases[] = {
      {"syntax error",
       {kClassA},
       "cA 7 {\n\txy = 5\n}\n",
       "Parsing document...\nin.txt(2) Error: Expected string, got number.\n"},
      {"unknown type",
       {kClassA},
       "cB 7 {\n}\n",
       "Parsing document...\nin.txt(1) Error: Unknown type: \"cB\".\n"},
      {"float id",
       {kClassA},
       "cA 1.5 {\n}\n",
       "Parsing document...\nin.txt(1) Error: Expected integer, got float.\n"},
      {"missing field",
       {kClassA},
       "cA 7 {\n}\n",
       parsed + "Missing field cA::xy in object 7\nData validation failed.\n"},
      {"enumeration without a record",
       {kClassE},
       "cE 1 {\n\tkind = \"WEAPON_TYPE_GUN\"\n}\n",
       validated + "Type serialization failed.\n"},
      {"value that does not fit",
       {kClassE, kWeaponTypeRecord},
       "cE 1 {\n\tkind = \"7\"\n}\n",
       validated + "Successfully serialized typeinfo.\nGenerating data for 1 objects...\n"
                   "Failed to generate data.\n"},
      // Objects are checked as they are read, but each phase still reports on the whole
      // document: a later parse error wins over an invalid object, the first invalid object
      // over a later one, and any invalid object over a value that cannot be written.
      {"invalid object before a syntax error",
       {kClassA},
       "cA 7 {\n}\ncA 8 {\n\txy = 5\n}\n",
       "Parsing document...\nin.txt(4) Error: Expected string, got number.\n"},
      {"first of two invalid objects",
       {kClassA},
       "cA 7 {\n\txy = \"1\"\n}\ncA 8 {\n}\ncA 9 {\n}\n",
       parsed + "Missing field cA::xy in object 8\nData validation failed.\n"},
      {"value that does not fit before an invalid object",
       {kClassE, kWeaponTypeRecord},
       "cE 1 {\n\tkind = \"7\"\n}\ncE 2 {\n}\n",
       parsed + "Missing field cE::kind in object 2\nData validation failed.\n"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseLibrary(c.library);
    ASSERT_TRUE(folder_.Put("in.txt", c.document));
    ASSERT_TRUE(folder_.Put("old.bin", "old"));
    const ToolRun run = Run({"genbin", "in.txt", "old.bin"});
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(folder_.Get("old.bin"), "old");
    const ToolRun fresh = Run({"genbin", "in.txt"});
    EXPECT_EQ(fresh.exit_code, 1);
    EXPECT_FALSE(folder_.Exists("in.bin"));
  }
}

TEST_F(GenBinTest, StopsBeforeParsingAndNeverWritesOverItsInputOrLibrary) {
  ASSERT_TRUE(folder_.Put("small.txt", kSmallDocument));
  const struct {
    const char* library;  // nullptr: none
    std::string output, message;
  } kCases[] = {
      {nullptr, "out.bin", kNoLibrary},
      {"BIL", "out.bin", kNoLibrary},
      {"", "small.txt", "Output file is the same as the input file.\n"},
      {"", "./tool/../small.txt", "Output file is the same as the input file.\n"},
      {"", "tool/QVX.tl", "Output file is the same as the input file.\n"},
      {"", "no/such/out.bin", Progress(1) + "Failed to write \"no/such/out.bin\".\n"},
  };
  const std::string library = TestTypeLibrary({kClassA});
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.output);
    if (c.library != nullptr) {
      ASSERT_TRUE(folder_.Put("tool/QVX.tl", *c.library ? std::string(c.library) : library));
    }
    const ToolRun run = Run({"genbin", "small.txt", c.output});
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(folder_.Exists("out.bin"));
    EXPECT_FALSE(folder_.Exists("no"));
  }
  EXPECT_EQ(folder_.Get("small.txt"), kSmallDocument);
  EXPECT_EQ(folder_.Get("tool/QVX.tl"), library);
  const ToolRun absent = Run({"genbin", "absent.txt"});
  EXPECT_EQ(absent.output, "Failed to load \"absent.txt\".\n");
  EXPECT_EQ(absent.exit_code, 1);
}

}  // namespace
