// tests/commands/diagnostics_test.cpp - stringdump, dumpobject, dobr and bitcompare as a user
// runs them: exact listings and copied bits, object ID arguments, and every failure with its
// message, exit status and the absence of an output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

const char kObjectUsage[] =
    "Dump object raw data\n"
    "<Input file> <object ID> [output file]\n"
    "<Input file> - Input .bin file\n"
    "<Object ID> - ID of the object to dump\n"
    "[output file] - Output text file, defaults to inputfile.data\n";

const std::vector<TestClass> kClasses = {
    {"cBit", {{"b", "cBool"}}},
    {"cWide", {{"a", "cInt"}, {"b", "cBool"}}},
    {"cEmpty", {}},
    {"cInner", {{"s", "cString"}, {"n", "cShort"}}},
    {"cHolder",
     {{"title", "cString"},
      {"inner", "cInner"},
      {"items", "cInner", -1},
      {"tags", "cString", -1},
      {"flag", "cBool"},
      {"note", "cString"}}},
};

/// Appends objects to an object stream.
class Objects {
 public:
  Objects& Header(const std::string& class_name, uint32_t id) {
    bits_.Word(TestNameHash(class_name));
    bits_.Word(id);
    return *this;
  }
  Objects& Bit(uint32_t id, uint32_t b) {
    Header("cBit", id);
    bits_.Put(1, b);
    return *this;
  }
  Objects& Wide(uint32_t id, uint32_t a, uint32_t b) {
    Header("cWide", id);
    bits_.Word(a);
    bits_.Put(1, b);
    return *this;
  }
  Objects& String(const std::string& text) {
    bits_.Word(static_cast<uint32_t>(text.size()));
    if (!text.empty()) bits_.Text(text);
    return *this;
  }
  // inner.s, inner.n, one element per item text, the tags, flag and note.
  Objects& Holder(uint32_t id, const std::string& title, const std::string& inner,
                  const std::vector<std::string>& items, const std::vector<std::string>& tags,
                  const std::string& note) {
    Header("cHolder", id);
    String(title).String(inner);
    bits_.Put(16, 0x1234);
    bits_.VarUInt(static_cast<uint32_t>(items.size()));
    for (const std::string& item : items) {
      String(item);
      bits_.Put(16, 7);
    }
    bits_.VarUInt(static_cast<uint32_t>(tags.size()));
    for (const std::string& tag : tags) String(tag);
    bits_.Put(1, 1);
    return String(note);
  }
  Objects& Raw(uint32_t width, uint32_t value) {
    bits_.Put(width, value);
    return *this;
  }
  std::string Bin() const { return TestBinFile(kClasses) + bits_.bytes(); }

 private:
  TestBits bits_;
};

class DiagnosticsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  // Names of the files in the test folder, so a test can see that nothing else was written.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_.root())) {
      names.push_back(std::filesystem::relative(entry.path(), folder_.root()).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TestFolder folder_{"qvx_diagnostics_test_"};
};

using Names = std::vector<std::string>;

TEST_F(DiagnosticsTest, WithoutArgumentsPrintTheirUsage) {
  const std::pair<const char*, const char*> kCases[] = {
      {"dumpobject", kObjectUsage},
      {"dobr", kObjectUsage},
      {"stringdump",
       "Dump every string of a bin file\n<Input file> [output file]\n<Input file> - Input .bin "
       "file\n[output file] - Output text file, defaults to inputfile_stringdump.txt\n"},
      {"bitcompare",
       "Compare two files at bit level\n<file 1> <file 2>\n<file 1> - First file\n"
       "<file 2> - ID of the object to dump\n"},
  };
  for (const auto& [command, usage] : kCases) {
    const ToolRun run = RunQvx({command});
    EXPECT_EQ(run.output, usage) << command;
    EXPECT_EQ(run.exit_code, 2);
  }
}

TEST_F(DiagnosticsTest, DumpObjectCopiesThirtyThreeBitsIntoFiveBytes) {
  // cBit puts the wanted object's fields off a byte boundary; the second ID 2 is never used.
  ASSERT_TRUE(folder_.Put(
      "in/a.bin", Objects().Bit(1, 1).Wide(2, 0x89ABCDEF, 1).Wide(2, 0, 0).Bit(3, 1).Bin()));
  const ToolRun run = RunQvx({"dumpobject", "in/a.bin", "2"}, folder_.root());
  EXPECT_EQ(run.output,
            "Loading types...\nSearching for object...\nObject length = 33 bits\n"
            "Successfully wrote \"" +
                NativePath("in/a.data") + "\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("in/a.data"), std::string("\xEF\xCD\xAB\x89\x01", 5));
}

TEST_F(DiagnosticsTest, ObjectIdArgumentIsASigned64BitDecimalCutTo32Bits) {
  // The object lengths tell which object was found: ID 2 has 33 bits, 0xFFFFFFFF one, 0 none.
  ASSERT_TRUE(folder_.Put(
      "a.bin",
      Objects().Header("cEmpty", 0).Bit(0xFFFFFFFF, 1).Wide(2, 5, 0).Raw(32, 0xDEAD).Bin()));
  const struct {
    const char* argument;
    uint32_t length;
  } kCases[] = {
      {"2", 33},
      {" \t+2", 33},
      {"2abc", 33},
      {"4294967298", 33},
      {"-1", 1},
      {"abc", 0},
      {"-4294967294", 33},
      {"99999999999999999999", 1},
      {"", 0},
      {"- 2", 0},
      {"-99999999999999999999", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.argument);
    const ToolRun run =
        RunQvx({"dumpobject", folder_.At("a.bin"), c.argument, folder_.At("o.data")});
    EXPECT_EQ(run.output, "Loading types...\nSearching for object...\nObject length = " +
                              std::to_string(c.length) + " bits\nSuccessfully wrote \"" +
                              folder_.At("o.data") + "\".\n");
    EXPECT_EQ(run.exit_code, 0);
    if (c.length == 0) {
      EXPECT_EQ(folder_.Get("o.data"), "");
    }
  }
}

TEST_F(DiagnosticsTest, DumpObjectFailuresWriteNothing) {
  const std::string good = Objects().Bit(1, 1).Wide(2, 7, 1).Bin();
  ASSERT_TRUE(folder_.Put("good.bin", good));
  ASSERT_TRUE(folder_.Put("text.bin", "cWide 2 {\r\n}\r\n"));
  ASSERT_TRUE(folder_.Put("header.bin", good.substr(0, 8)));
  // An unknown class before the object, a class hash without its ID, fields cut short.
  ASSERT_TRUE(folder_.Put("unknown.bin", Objects().Header("cNone", 1).Wide(2, 7, 1).Bin()));
  ASSERT_TRUE(folder_.Put("noid.bin", Objects().Bit(1, 1).Raw(32, TestNameHash("cWide")).Bin()));
  ASSERT_TRUE(folder_.Put("cut.bin", Objects().Bit(1, 1).Header("cWide", 2).Raw(20, 0).Bin()));
  const std::string missing = folder_.At("missing.bin");
  const std::string unwritable = folder_.At("no/such/o.data");
  const struct {
    std::string input, id, output, message;
  } kCases[] = {
      {missing, "2", "o.data", "Failed to load \"" + missing + "\".\n"},
      {folder_.At("text.bin"), "2", "o.data", "Unexpected file format.\n"},
      {folder_.At("header.bin"), "2", "o.data", "Loading types...\nFailed to load types.\n"},
      {folder_.At("unknown.bin"), "2", "o.data",
       "Loading types...\nSearching for object...\nFailed to parse data.\n"},
      {folder_.At("noid.bin"), "2", "o.data",
       "Loading types...\nSearching for object...\nFailed to parse data.\n"},
      {folder_.At("cut.bin"), "2", "o.data",
       "Loading types...\nSearching for object...\nFailed to parse data.\n"},
      {folder_.At("good.bin"), "3", "o.data",
       "Loading types...\nSearching for object...\nObject was not found.\n"},
      {folder_.At("good.bin"), "2", unwritable,
       "Loading types...\nSearching for object...\nObject length = 33 bits\n"
       "Failed to write\"" +
           unwritable + "\".\n"},
      {folder_.At("good.bin"), "2", folder_.At("./good.bin"),
       "Output file is the same as the input file.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input + " " + c.output);
    const ToolRun run = RunQvx({"dumpobject", c.input, c.id, c.output}, folder_.root());
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
  }
  EXPECT_EQ(folder_.Get("good.bin"), good);
  EXPECT_EQ(Files(),
            (Names{"cut.bin", "good.bin", "header.bin", "noid.bin", "text.bin", "unknown.bin"}));
}

TEST_F(DiagnosticsTest, DobrListsEveryFieldFromTheStartOfTheObjectsFields) {
  ASSERT_TRUE(folder_.Put("a.bin",
                          Objects().Bit(1, 1).Holder(9, "hi", "", {"x"}, {}, "n").Bit(2, 0).Bin()));
  const ToolRun run = RunQvx({"dobr", "a.bin", "9", "out.txt"}, folder_.root());
  EXPECT_EQ(run.output,
            "Loading types...\n"
            "Searching for object...\n"
            "object.title: 0 - 55 (55)\n"
            "object.inner.s: 55 - 87 (32)\n"
            "object.inner.n: 87 - 103 (16)\n"
            "object.inner: 55 - 103 (48)\n"
            "object.items.s: 109 - 155 (46)\n"
            "object.items.n: 155 - 171 (16)\n"
            "object.items: 103 - 171 (68)\n"
            "object.tags: 171 - 176 (5)\n"
            "object.flag: 176 - 177 (1)\n"
            "object.note: 177 - 223 (46)\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Files(), Names{"a.bin"});  // the output path is not used
}

TEST_F(DiagnosticsTest, DobrFailures) {
  const std::string holder = Objects().Bit(1, 1).Holder(9, "hi", "", {"x"}, {}, "").Bin();
  ASSERT_TRUE(folder_.Put("good.bin", holder));
  // Cut inside the element of "items": the lines before it stay and tell where it stopped.
  ASSERT_TRUE(folder_.Put("cut.bin", holder.substr(0, holder.size() - 8)));
  ASSERT_TRUE(folder_.Put("unknown.bin", Objects().Header("cNone", 1).Bit(9, 1).Bin()));
  ASSERT_TRUE(folder_.Put("header.bin", holder.substr(0, 8)));
  const std::string missing = folder_.At("missing.bin");
  const struct {
    std::string input, id, message;
  } kCases[] = {
      {missing, "9", "Failed to load \"" + missing + "\".\n"},
      {folder_.At("header.bin"), "9", "Loading types...\nFailed to load types.\n"},
      {folder_.At("good.bin"), "8",
       "Loading types...\nSearching for object...\nObject was not found.\n"},
      {folder_.At("unknown.bin"), "9",
       "Loading types...\nSearching for object...\nFailed to load objects.\n"},
      {folder_.At("cut.bin"), "9",
       "Loading types...\nSearching for object...\n"
       "object.title: 0 - 55 (55)\n"
       "object.inner.s: 55 - 87 (32)\n"
       "object.inner.n: 87 - 103 (16)\n"
       "object.inner: 55 - 103 (48)\n"
       "Failed to load objects.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input);
    const ToolRun run = RunQvx({"dobr", c.input, c.id});
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
  }
}

const char kStringsDumped[] =
    "Loading types...\nLoading objects...\nFinished loading objects.\n"
    "Dumping strings...\nFinished dumping strings.\n";

TEST_F(DiagnosticsTest, StringDumpListsStringsAsStoredInFieldOrder) {
  ASSERT_TRUE(folder_.Put("in/a.bin", Objects()
                                          .Holder(1, "say \"hi\"\\", "", {"x", "", "x"},
                                                  {"tab\there", "two\nlines"}, "note")
                                          .Bit(2, 1)
                                          .Holder(3, "", "caf\xC3\xA9 \xFF", {}, {"x"}, "")
                                          .Bin()));
  const ToolRun run = RunQvx({"stringdump", "in/a.bin"}, folder_.root());
  EXPECT_EQ(run.output, std::string(kStringsDumped) + "Successfully generated \"" +
                            NativePath("in/a_stringdump.txt") + "\".\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder_.Get("in/a_stringdump.txt"),
            "say \"hi\"\\\r\nx\r\nx\r\ntab\there\r\ntwo\nlines\r\nnote\r\n"
            "caf\xC3\xA9 \xFF\r\nx\r\n");
}

TEST_F(DiagnosticsTest, StringDumpOfAFileWithoutStringsWritesAnEmptyFile) {
  ASSERT_TRUE(folder_.Put("a.bin", Objects().Bit(1, 1).Holder(2, "", "", {""}, {""}, "").Bin()));
  ASSERT_TRUE(folder_.Put("e.bin", std::string("\0\0\0\0v002\0\0\0\0", 12)));
  for (const char* name : {"a", "e"}) {
    const std::string out = folder_.At(std::string(name) + ".txt");
    const ToolRun run = RunQvx({"stringdump", folder_.At(std::string(name) + ".bin"), out});
    EXPECT_EQ(run.output,
              std::string(kStringsDumped) + "Successfully generated \"" + out + "\".\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(folder_.Get(std::string(name) + ".txt"), "");
  }
}

TEST_F(DiagnosticsTest, StringDumpFailuresWriteNothing) {
  const std::string good = Objects().Holder(2, "t", "", {}, {}, "").Bin();
  ASSERT_TRUE(folder_.Put("good.bin", good));
  ASSERT_TRUE(folder_.Put("header.bin", good.substr(0, 8)));
  ASSERT_TRUE(folder_.Put("short.bin", good.substr(0, 7)));
  ASSERT_TRUE(folder_.Put("cut.bin", good.substr(0, good.size() - 2)));
  const std::string missing = folder_.At("missing.bin");
  const std::string unwritable = folder_.At("no/such/out.txt");
  const struct {
    std::string input, output, message;
  } kCases[] = {
      {missing, "out.txt", "Failed to load \"" + missing + "\".\n"},
      {folder_.At("short.bin"), "out.txt", "Unexpected file format.\n"},
      {folder_.At("header.bin"), "out.txt", "Loading types...\nFailed to load types.\n"},
      {folder_.At("cut.bin"), "out.txt",
       "Loading types...\nLoading objects...\nFailed to load objects.\n"},
      {folder_.At("good.bin"), unwritable,
       std::string(kStringsDumped) + "Failed to write \"" + unwritable + "\".\n"},
      {"good.bin", "../" + std::filesystem::path(folder_.root()).filename().string() + "/good.bin",
       "Output file is the same as the input file.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input + " " + c.output);
    const ToolRun run = RunQvx({"stringdump", c.input, c.output}, folder_.root());
    EXPECT_EQ(run.output, c.message);
    EXPECT_EQ(run.exit_code, 1);
  }
  EXPECT_EQ(folder_.Get("good.bin"), good);
  EXPECT_EQ(Files(), (Names{"cut.bin", "good.bin", "header.bin", "short.bin"}));
}

// Either order gives the same report; only the length of the shorter file is compared.
TEST_F(DiagnosticsTest, BitCompareReportsEachRunOfDifferingBits) {
  const struct {
    std::string first, second, report;
  } kCases[] = {
      {std::string("\x00\x00\x00", 3), std::string("\xE0\x10\x00", 3),
       "Bits 5 - 8 (3) mismatched.\nBit 12 mismatched.\n"},
      {std::string("\x00\x00", 2), std::string("\xC0\x07", 2), "Bits 6 - 11 (5) mismatched.\n"},
      {std::string("\x0F\xF0\x55", 3), std::string("\xFF\x0F\x55", 3),
       "Bits 4 - 16 (12) mismatched.\n"},
      {std::string("\x00\x00", 2), std::string("\x01\x80", 2),
       "Bit 0 mismatched.\nBit 15 mismatched.\n"},
      {std::string("\x00\x00", 2), std::string("\x00\xC0", 2), "Bits 14 - 16 (2) mismatched.\n"},
      {"\xFF", std::string("\x00", 1), "Bits 0 - 8 (8) mismatched.\n"},
      {"\xAA", std::string("\x00", 1),
       "Bit 1 mismatched.\nBit 3 mismatched.\nBit 5 mismatched.\nBit 7 mismatched.\n"},
      {std::string("\x01\xFF", 2), std::string("\x03", 1), "Bit 1 mismatched.\n"},
      {"same bytes", "same bytes", ""},
      {std::string("\x12\x34", 2), std::string("\x12", 1), ""},
      {"", "anything", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.report);
    ASSERT_TRUE(folder_.Put("1", c.first));
    ASSERT_TRUE(folder_.Put("2", c.second));
    for (const ToolRun& run : {RunQvx({"bitcompare", folder_.At("1"), folder_.At("2")}),
                               RunQvx({"bitcompare", folder_.At("2"), folder_.At("1")})}) {
      EXPECT_EQ(run.output, c.report);
      EXPECT_EQ(run.exit_code, c.report.empty() ? 0 : 1);
    }
  }
  for (const ToolRun& run : {RunQvx({"bitcompare", folder_.At("1"), folder_.At("missing")}),
                             RunQvx({"bitcompare", folder_.At("missing"), folder_.At("1")}),
                             RunQvx({"bitcompare", folder_.root(), folder_.At("1")})}) {
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exit_code, 1);
  }
}

}  // namespace
