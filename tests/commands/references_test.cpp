// tests/commands/references_test.cpp - objdump, refdump and renameall as a user runs them:
// which objects each writes and in which order, how references come out, and every failure
// with its message and exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const TestClass kNode{"cNode", {{"to", "cPointer", 0, 0, {}}, {"n", "cInt", 0, 0, {}}}};
const TestClass kLink{"cLink", {{"to", "cPointer", 0, 0, {}}}};
const TestClass kHub{
    "cHub",
    {{"refs", "cPointer", -1, 0, {}}, {"inner", "cLink", 0, 0, {}}, {"links", "cLink", -1, 0, {}}}};

const char kLoaded[] =
    "Loading types...\n"
    "Loading objects...\n"
    "Finished loading objects.\n";

// The object stream of a file over cNode, cLink and cHub.
class Objects {
 public:
  Objects& Node(uint32_t id, uint32_t to, uint32_t n = 0) {
    Start("cNode", id);
    bits_.Word(to);
    bits_.Word(n);
    return *this;
  }
  Objects& Hub(uint32_t id, const std::vector<uint32_t>& refs, uint32_t inner,
               const std::vector<uint32_t>& links) {
    Start("cHub", id);
    bits_.VarUInt(static_cast<uint32_t>(refs.size()));
    for (uint32_t ref : refs) bits_.Word(ref);
    bits_.Word(inner);
    bits_.VarUInt(static_cast<uint32_t>(links.size()));
    for (uint32_t link : links) bits_.Word(link);
    return *this;
  }
  std::string File() const { return TestBinFile({kNode, kLink, kHub}) + bits_.bytes(); }

 private:
  void Start(const char* class_name, uint32_t id) {
    bits_.Word(TestNameHash(class_name));
    bits_.Word(id);
  }
  TestBits bits_;
};

std::string Generated(const std::string& middle, const std::string& output) {
  return kLoaded + middle + "Generating output...\nFinished generating output.\n" +
         "Successfully generated \"" + output + "\".\n";
}

// The object headers of a document (its lines that are not indented), in order.
std::vector<std::string> Headers(const std::string& text) {
  std::vector<std::string> headers;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    if (text[at] == 'c') headers.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return headers;
}

class ReferencesTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  TestFolder folder_{"qvx_references_test_"};
};

TEST_F(ReferencesTest, WithoutArgumentsPrintTheirHelp) {
  const struct {
    const char* command;
    std::string help;
  } kCases[] = {
      {"objdump",
       "Dump one object with every object it references\n"
       "<Input file> <object ID> [output file]\n<Input file> - Input .bin file\n"
       "<Object ID> - ID of the object to dump\n"
       "[output file] - Output text file, defaults to inputfile_objdump.txt\n"},
      {"refdump",
       "Dump the objects that belong to one object alone\n"
       "<Input file> <object ID> [output file]\n<Input file> - Input .bin file\n"
       "<Object ID> - ID of the object whose dependencies to dump\n"
       "[output file] - Output text file, defaults to inputfile_refdump.txt\n"},
      {"renameall",
       "Rename every object to a prefix and a running number\n"
       "<Input file> <name prefix> [output file]\n<Input file> - Input .bin file\n"
       "<Name prefix> - Prefix of the new object names\n"
       "[output file] - Output text file, defaults to inputfile_refdump.txt\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    const ToolRun run = RunQvx({c.command});
    EXPECT_EQ(run.output, c.help);
    EXPECT_EQ(run.exit_code, 2);
  }
}

// Fewer than 32 bits after the last object end the stream normally.
TEST_F(ReferencesTest, ObjDumpWritesSelfAndMutualReferencesOnce) {
  ASSERT_TRUE(folder_.Put("s.bin", Objects().Node(1, 1, 7).Node(2, 3, 20).Node(3, 2, 30).File() +
                                       std::string("\x01\x02\x03")));
  const ToolRun self = RunQvx({"objdump", "s.bin", "1"}, folder_.root());
  EXPECT_EQ(self.output, Generated("", "s_objdump.txt"));
  EXPECT_EQ(self.exit_code, 0);
  EXPECT_EQ(folder_.Get("s_objdump.txt"),
            "cNode 1 {\r\n\tto = \"@1\" //cNode\r\n\tn = \"7\"\r\n}\r\n");

  const ToolRun mutual = RunQvx({"objdump", "s.bin", " +2", "m.txt"}, folder_.root());
  EXPECT_EQ(mutual.exit_code, 0) << mutual.output;
  EXPECT_EQ(folder_.Get("m.txt"),
            "cNode 2 {\r\n"
            "\tto = cNode 3 {\r\n"
            "\t\tto = \"@2\" //cNode\r\n"
            "\t\tn = \"30\"\r\n"
            "\t}\r\n"
            "\tn = \"20\"\r\n"
            "}\r\n");
}

// Pointer arrays and class fields take objects inline; the elements of a class array do not.
TEST_F(ReferencesTest, ObjDumpInlinesThroughArraysAndClassFields) {
  ASSERT_TRUE(folder_.Put("h.bin", Objects()
                                       .Hub(4294967295u, {2, 2, 3}, 4, {5})
                                       .Node(2, 0, 20)
                                       .Node(3, 4294967295u, 30)
                                       .Node(4, 99, 40)
                                       .Node(5, 0, 50)
                                       .File()));
  const ToolRun run = RunQvx({"objdump", "h.bin", "-1"}, folder_.root());
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(folder_.Get("h_objdump.txt"),
            "cHub 4294967295 {\r\n"
            "\trefs = [\r\n"
            "\t\tcNode 2 {\r\n\t\t\tto = \"@0\" //NULL\r\n\t\t\tn = \"20\"\r\n\t\t}\r\n"
            "\t\t\"@2\" //cNode\r\n"
            "\t\tcNode 3 {\r\n\t\t\tto = \"@4294967295\" //cHub\r\n\t\t\tn = \"30\"\r\n\t\t}\r\n"
            "\t]\r\n"
            "\tinner = {\r\n"
            "\t\tto = cNode 4 {\r\n"
            "\t\t\tto = \"@99\" //External object\r\n\t\t\tn = \"40\"\r\n\t\t}\r\n"
            "\t}\r\n"
            "\tlinks = [\r\n"
            "\t{\r\n\t\tto = \"@5\" //cNode\r\n\t}\r\n"
            "\t]\r\n"
            "}\r\n");
}

TEST_F(ReferencesTest, ObjDumpStopsInliningAChainAt256Levels) {
  Objects chain;
  for (uint32_t id = 1; id <= 300; ++id) chain.Node(id, id < 300 ? id + 1 : 0, id);
  ASSERT_TRUE(folder_.Put("chain.bin", chain.File()));
  const ToolRun run = RunQvx({"objdump", "chain.bin", "1"}, folder_.root());
  EXPECT_EQ(run.output, Generated("", "chain_objdump.txt"));
  const std::string text = folder_.Get("chain_objdump.txt");
  size_t headers = 0;
  for (size_t at = 0; (at = text.find(" {\r\n", at)) != std::string::npos; ++at) ++headers;
  EXPECT_EQ(headers, 256u);
  EXPECT_NE(text.find(std::string(255, '\t') + "to = cNode 256 {\r\n"), std::string::npos);
  EXPECT_NE(text.find(std::string(256, '\t') + "to = \"@257\" //cNode\r\n"), std::string::npos);
  EXPECT_EQ(text.find("cNode 257 {"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 3), "}\r\n");
}

// What objdump writes reads back through genbin as the same objects, in the same order.
TEST_F(ReferencesTest, ObjDumpDocumentReadsBackThroughGenBin) {
  const std::string tool = folder_.At("tool/QVXBinTool");
  std::filesystem::create_directories(folder_.At("tool"));
  std::filesystem::copy_file(QVX_TOOL_PATH, tool);
  ASSERT_TRUE(folder_.Put(
      "game/h.bin",
      Objects().Hub(1, {2, 2, 3}, 4, {2}).Node(2, 0, 20).Node(3, 1, 30).Node(4, 4, 40).File()));
  const std::string root = folder_.root();
  for (const ToolRun& run : {RunTool(tool, {"buildtlib", "game", "tool/QVX.tl"}, root),
                             RunTool(tool, {"objdump", "game/h.bin", "1", "doc.txt"}, root),
                             RunTool(tool, {"genbin", "doc.txt", "back.bin"}, root),
                             RunTool(tool, {"gentext", "back.bin", "back.txt"}, root),
                             RunTool(tool, {"gentext", "game/h.bin", "original.txt"}, root)}) {
    ASSERT_EQ(run.exit_code, 0) << run.output;
  }
  EXPECT_EQ(Headers(folder_.Get("doc.txt")), std::vector<std::string>{"cHub 1 {"});
  EXPECT_EQ(Headers(folder_.Get("back.txt")),
            (std::vector<std::string>{"cHub 1 {", "cNode 2 {", "cNode 3 {", "cNode 4 {"}));
  EXPECT_EQ(folder_.Get("back.txt"), folder_.Get("original.txt"));
}

// The group of the root: 0x10001 and 0x20001 share bucket 1, so the table's order puts both
// before 2 and the root 3. 7 is also reached from the outside object 5, which takes it out;
// 99 is carried by no object and still counts.
TEST_F(ReferencesTest, RefDumpWritesTheGroupInTableOrder) {
  ASSERT_TRUE(folder_.Put("g.bin", Objects()
                                       .Hub(3, {0x20001, 2}, 99, {})
                                       .Node(0x20001, 0x10001)
                                       .Node(2, 7)
                                       .Node(0x10001, 0)
                                       .Node(7, 0)
                                       .Hub(5, {7}, 0, {6})
                                       .Node(6, 0)
                                       .File()));
  const ToolRun run = RunQvx({"refdump", "g.bin", "3"}, folder_.root());
  EXPECT_EQ(run.output, Generated("Locating dependencies...\n"
                                  "Finished locating dependencies, count = 5/7\n",
                                  "g_refdump.txt"));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Headers(folder_.Get("g_refdump.txt")),
            (std::vector<std::string>{"cNode 131073 {", "cNode 65537 {", "cNode 2 {", "cHub 3 {"}));

  // From 5 everything it reaches is its own, through the class array too.
  const ToolRun other = RunQvx({"refdump", "g.bin", "5", "five.txt"}, folder_.root());
  EXPECT_NE(other.output.find("count = 2/7\n"), std::string::npos) << other.output;
  EXPECT_EQ(Headers(folder_.Get("five.txt")), (std::vector<std::string>{"cHub 5 {", "cNode 6 {"}));

  // A root referenced from outside its group has nothing of its own.
  const ToolRun seven = RunQvx({"refdump", "g.bin", "7", "seven.txt"}, folder_.root());
  EXPECT_EQ(seven.output,
            Generated("Locating dependencies...\nFinished locating dependencies, count = 0/7\n",
                      "seven.txt"));
  EXPECT_EQ(seven.exit_code, 0);
  EXPECT_TRUE(folder_.Exists("seven.txt"));
  EXPECT_EQ(folder_.Get("seven.txt"), "");
}

// Three objects become obj0, obj1 and obj2; every reference into the file follows, also after
// a reference to an ID outside it in the same array, and 0 stays a null reference.
TEST_F(ReferencesTest, RenameAllNamesObjectsAndRewritesReferences) {
  ASSERT_TRUE(folder_.Put(
      "r.bin",
      Objects().Node(100, 300, 1).Node(0, 0, 2).Hub(300, {999, 100, 0}, 0, {999, 300}).File()));
  const ToolRun run = RunQvx({"renameall", "r.bin", "obj"}, folder_.root());
  EXPECT_EQ(run.output, Generated("Renaming objects...\n", "r_refdump.txt"));
  EXPECT_EQ(run.exit_code, 0);
  const std::string id0 = std::to_string(TestNameHash("obj0"));
  const std::string id1 = std::to_string(TestNameHash("obj1"));
  const std::string id2 = std::to_string(TestNameHash("obj2"));
  EXPECT_EQ(folder_.Get("r_refdump.txt"),
            "cNode /* " + id0 +
                " */ 'obj0' {\r\n\tto = \"@'obj2'\" //cHub\r\n\tn = \"1\"\r\n}\r\n" + "cNode /* " +
                id1 + " */ 'obj1' {\r\n\tto = \"@0\" //NULL\r\n\tn = \"2\"\r\n}\r\n" + "cHub /* " +
                id2 + " */ 'obj2' {\r\n" +
                "\trefs = [\r\n\t\t\"@999\" //External object\r\n\t\t\"@'obj0'\" //cNode\r\n"
                "\t\t\"@0\" //NULL\r\n\t]\r\n"
                "\tinner = {\r\n\t\tto = \"@0\" //NULL\r\n\t}\r\n"
                "\tlinks = [\r\n"
                "\t{\r\n\t\tto = \"@999\" //External object\r\n\t}\r\n"
                "\t{\r\n\t\tto = \"@'obj2'\" //cHub\r\n\t}\r\n"
                "\t]\r\n"
                "}\r\n");
}

TEST_F(ReferencesTest, FailuresAreReportedAndWriteNothing) {
  const std::string good = Objects().Node(1, 0).File();
  ASSERT_TRUE(folder_.Put("good.bin", good));
  ASSERT_TRUE(folder_.Put("text.bin", "cNode 1 {\r\n}\r\n"));
  ASSERT_TRUE(folder_.Put("header.bin", good.substr(0, 8)));
  // A class hash with only 24 bits after it cannot carry an ID.
  ASSERT_TRUE(folder_.Put("cut.bin", good + std::string("\xA4\x3D\x5B\x01\x02\x03\x04", 7)));
  const std::string missing = folder_.At("missing.bin");
  const std::string unwritable = folder_.At("no/such/out.txt");
  const struct {
    const char* command;
    std::string middle, absent;  // what an ID outside the file prints; renameall takes no ID
  } kCommands[] = {
      {"objdump", "", kLoaded + std::string("Coudln't find object 99\n")},
      {"refdump", "Locating dependencies...\nFinished locating dependencies, count = 1/1\n",
       "Loading types...\nLoading objects...\nFailed to load objects.\n"},
      {"renameall", "Renaming objects...\n", ""},
  };
  for (const auto& command : kCommands) {
    const struct {
      std::string input, id, output, message;
    } kCases[] = {
        {missing, "1", "out.txt", "Failed to load \"" + missing + "\".\n"},
        {"text.bin", "1", "out.txt", "Unexpected file format.\n"},
        {"header.bin", "1", "out.txt", "Loading types...\nFailed to load types.\n"},
        {"cut.bin", "1", "out.txt",
         "Loading types...\nLoading objects...\nFailed to load objects.\n"},
        {"good.bin", "1", unwritable,
         kLoaded + command.middle + "Generating output...\nFinished generating output.\n" +
             "Failed to write \"" + unwritable + "\".\n"},
        {"good.bin", "1", "./good.bin", "Output file is the same as the input file.\n"},
        {"good.bin", "99", "out.txt", command.absent},
    };
    for (const auto& c : kCases) {
      if (c.message.empty()) continue;
      SCOPED_TRACE(std::string(command.command) + " " + c.input + " " + c.id + " " + c.output);
      const ToolRun run = RunQvx({command.command, c.input, c.id, c.output}, folder_.root());
      EXPECT_EQ(run.output, c.message);
      EXPECT_EQ(run.exit_code, 1);
      EXPECT_FALSE(folder_.Exists("out.txt"));
    }
  }
  EXPECT_EQ(folder_.Get("good.bin"), good);
  EXPECT_FALSE(folder_.Exists("no"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.root()),
                          std::filesystem::directory_iterator()),
            4);
}

}  // namespace
