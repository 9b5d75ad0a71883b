// tests/commands/fault_test.cpp - the tool against hostile input and failing outputs: damaged
// .bin files and documents, output folders that are missing or are files, a full device and a
// disk that fills up mid-file. Every failure prints its message, exits 1 and leaves no file
// behind; an existing output keeps its content.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const std::string kExamples = QVX_SOURCE_DIR "/examples/game";
const std::string kProps = kExamples + "/levels/harbor/harbor_props.bin";

const TestClass kLink{
    "cLink", {{"name", "cString", 0, 0, {}}, {"size", "cInt", 0, 0, {}}, {"next", "cPointer"}}};
// A class that holds itself: only a document can make such a value finite.
const TestClass kBox{"cBox", {{"inner", "cBox"}}};

// The last line of `output` with its line feed.
std::string LastLine(const std::string& output) {
  const size_t start =
      output.size() < 2 ? std::string::npos : output.rfind('\n', output.size() - 2);
  return start == std::string::npos ? output : output.substr(start + 1);
}

size_t EntriesIn(const std::string& folder) {
  const std::filesystem::directory_iterator entries(folder);
  return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

std::string Repeat(const std::string& text, int count) {
  std::string repeated;
  for (int i = 0; i < count; ++i) repeated += text;
  return repeated;
}

class FaultTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    std::filesystem::create_directory(folder_.At("tool"));
    std::filesystem::copy_file(QVX_TOOL_PATH, tool_);
    ASSERT_TRUE(folder_.Put("tool/QVX.tl", TestTypeLibrary({kLink, kBox})));
  }

  ToolRun Run(std::initializer_list<std::string> args) {
    return RunTool(tool_, args, folder_.root());
  }

  TestFolder folder_{"qvx_fault_test_"};
  std::string tool_ = folder_.At("tool/QVXBinTool");
};

TEST_F(FaultTest, DamagedBinFilesFailWithoutOutputOrGiveADocument) {
  std::mt19937 random(7);
  int failures = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kExamples)) {
    if (!entry.is_regular_file() || entry.file_size() <= 12) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(bytes.empty());
    std::string flipped = bytes;
    flipped[random() % flipped.size()] ^= static_cast<char>(1 << (random() % 8));
    for (const std::string& damaged : {bytes.substr(0, bytes.size() / 2), flipped}) {
      SCOPED_TRACE(entry.path().string() + ", " + std::to_string(damaged.size()) + " bytes");
      ASSERT_TRUE(folder_.Put("in/d.bin", damaged));
      const ToolRun run = Run({"gentext", "in/d.bin"});
      if (run.exit_code == 0) {
        EXPECT_EQ(LastLine(run.output),
                  "Successfully generated \"" + NativePath("in/d.txt") + "\".\n");
        EXPECT_TRUE(folder_.Exists("in/d.txt"));
      } else {
        ++failures;
        EXPECT_EQ(run.exit_code, 1) << run.output;
        const std::string last = LastLine(run.output);
        EXPECT_TRUE(last.rfind("Failed to load", 0) == 0 || last == "Unexpected file format.\n")
            << run.output;
        EXPECT_EQ(EntriesIn(folder_.At("in")), 1u);
      }
      std::filesystem::remove(folder_.At("in/d.txt"));
    }
  }
  EXPECT_GE(failures, 4);  // every half file fails
}

TEST_F(FaultTest, ForgedCountsAndClassesThatHoldThemselvesFailQuickly) {
  const TestClass empty{"cE", {}};
  const TestClass holder{"cH", {{"items", "cE", -1}, {"text", "cString"}}};
  // An object of `class_name` with ID 1 whose fields are the bits of `fields`, each given as
  // {width, value}; a count is a 5-bit width and that many value bits.
  auto object = [](const std::string& class_name,
                   std::initializer_list<std::pair<uint32_t, uint32_t>> fields) {
    TestBits bits;
    bits.Word(TestNameHash(class_name));
    bits.Word(1);
    for (const auto& [width, value] : fields) bits.Put(width, value);
    return bits.bytes();
  };
  const std::string holders = TestBinFile({empty, holder});
  TestBits huge_fields;  // one class record "cF" that claims 2^32-1 fields
  huge_fields.Word(1);
  huge_fields.Text("cF");
  huge_fields.Word(TestNameHash("cF"));
  huge_fields.Word(0);
  huge_fields.Word(0xFFFFFFFF);
  const struct {
    const char* name;
    std::string file;
    const char* message;
  } kCases[] = {
      {"honest counts",
       holders + object("cH", {{5, 31}, {31, 3}, {32, 1}, {5, 1}, {1, 1}, {8, 'h'}}),
       "Successfully generated \"f.txt\"."},
      {"class count", std::string("\0\0\0\0v002\xFF\xFF\xFF\xFF", 12), "Failed to load types."},
      {"field count", std::string("\0\0\0\0v002", 8) + huge_fields.bytes(),
       "Failed to load types."},
      {"array count", holders + object("cH", {{5, 31}, {31, 0x7FFFFFFF}, {32, 0}}),
       "Failed to load objects."},
      {"string length",
       holders + object("cH", {{5, 31}, {31, 3}, {32, 1}, {5, 31}, {31, 0x7FFFFFFF}, {8, 'h'}}),
       "Failed to load objects."},
      {"class that holds itself", TestBinFile({kBox}) + object("cBox", {}),
       "Failed to load objects."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(folder_.Put("f.bin", c.file));
    const ToolRun run = Run({"gentext", "f.bin"});
    EXPECT_EQ(LastLine(run.output), std::string(c.message) + "\n") << run.output;
    EXPECT_EQ(run.exit_code, c.message[0] == 'S' ? 0 : 1);
    EXPECT_EQ(folder_.Exists("f.txt"), run.exit_code == 0);
    std::filesystem::remove(folder_.At("f.txt"));
  }
}

TEST_F(FaultTest, DamagedDocumentsNameFileAndLineAndWriteNothing) {
  const std::string ok_body = "\tname = \"a\"\n\tsize = \"1\"\n\tnext = \"@0\"\n}\n";
  const char* const kBadUtf8Line2 = "(2) Error: Invalid UTF-8 sequence.";
  const struct {
    const char* name;
    std::string document;
    std::string message;
  } kCases[] = {
      {"unterminated string", "cLink 1 {\n\tname = \"abc\n}\n", "(2) Error: Unterminated string."},
      {"unterminated name", "cLink 'abc {\n}\n", "(1) Error: Unterminated extended identifier."},
      {"unterminated comment", "cLink 1 {\n/* never closed\n}\n",
       "(2) Error: Unterminated comment."},
      {"invalid UTF-8 in a name", "cLink 1 {\n\tname\xFF = \"x\"\n}\n", kBadUtf8Line2},
      {"invalid UTF-8 in an ID", "cLink '\xC3' {\n}\n", "(1) Error: Invalid UTF-8 sequence."},
      {"invalid UTF-8 in a string", "cLink 1 {\n\tname = \"\xE2\x82\"\n}\n", kBadUtf8Line2},
      {"overlong UTF-8", "cLink 1 {\n\tname = \"\xC0\xAF\"\n}\n", kBadUtf8Line2},
      {"UTF-16 surrogate", "cLink 1 {\n\tname = \"\xED\xA0\x80\"\n}\n", kBadUtf8Line2},
      {"invalid UTF-8 in a line comment", "// \xFE\ncLink 1 {\n" + ok_body,
       "(1) Error: Invalid UTF-8 sequence."},
      {"invalid UTF-8 in a block comment", "cLink 1 {\n/*\n\xF8\n*/" + ok_body,
       "(3) Error: Invalid UTF-8 sequence."},
      {"10000 nested objects", "cLink 0 {\n" + Repeat("\tnext = cLink 1 {\n", 10000),
       "(258) Error: Objects nested deeper than 256 levels."},
      {"10000 braces", "cBox 1 " + Repeat("{ inner = ", 10000),
       "(1) Error: Objects nested deeper than 256 levels."},
      {"huge float ID", "cLink 1e999999 {\n" + ok_body, "(1) Error: Expected integer, got float."},
      {"huge integer ID", "cLink 99999999999999999999999 {\n" + ok_body,
       "(1) Error: Expected identifier, extended identifier or integer, got malformed number."},
      {"huge integer value", "cLink 1 {\n\tsize = \"99999999999999999999999\"\n}\n",
       "(2) Error: Failed to parse value of field \"size\" (cInt): expected a number."},
      {"missing closing brace", "cLink 1 {\n\tname = \"a\"\n",
       "(3) Error: Expected identifier or '}', got <EOF>."},
      {"missing opening brace", "cLink 1\n" + ok_body, "(2) Error: Expected '{', got identifier."},
      {"extra closing brace", "cLink 1 {\n" + ok_body + "}\n",
       "(6) Error: Expected identifier, got }."},
      {"object without a class", "1 {\n" + ok_body, "(1) Error: Expected identifier, got number."},
      {"body without a class", "{\n" + ok_body, "(1) Error: Expected identifier, got {."},
      {"10 MB line", "cLink 1 { name = \"" + std::string(10 << 20, 'x') + "\" size = 5 }",
       "(1) Error: Expected string, got number."},
      {"NUL between tokens", std::string("cLink 1 {\0\n", 11) + ok_body,
       "(1) Error: Unexpected character."},
      {"NUL in a string", std::string("cLink 1 {\n\tname = \"a\0b\"\n", 25) + "}\n",
       "(2) Error: Unexpected character."},
      {"only a byte order mark", "\xEF\xBB\xBF", "(1) Error: Invalid identifier"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(folder_.Put("d.txt", c.document));
    ASSERT_TRUE(folder_.Put("d.bin", "old"));
    const ToolRun run = Run({"genbin", "d.txt"});
    EXPECT_EQ(run.output, "Parsing document...\nd.txt" + c.message + "\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(folder_.Get("d.bin"), "old");
  }
  EXPECT_EQ(EntriesIn(folder_.root()), 3u);  // tool/, d.txt and d.bin: no temporary files
}

// Runs every command that writes an output file with `output` as that file.
class OutputFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    ASSERT_TRUE(folder_.Put("doc.txt", "cLink 1 {\n\tname = \"" + std::string(2000, 'n') +
                                           "\"\n\tsize = \"1\"\n\tnext = \"@0\"\n}\n"));
  }

  using Command = std::function<ToolRun(const std::string& output)>;

  std::vector<std::pair<const char*, Command>> Commands() {
    const std::string library = folder_.At("tool/QVX.tl");
    return {
        {"gentext",
         [=, this](auto& out) {
           return Run({"gentext", kProps, out});
         }},
        {"genbin",
         [=, this](auto& out) {
           return Run({"genbin", "doc.txt", out});
         }},
        {"buildtlib",
         [=, this](auto& out) {
           return Run({"buildtlib", kExamples, out});
         }},
        {"dumptypes",
         [=, this](auto& out) {
           return Run({"dumptypes", library, out});
         }},
        {"stringdump",
         [=, this](auto& out) {
           return Run({"stringdump", kProps, out});
         }},
        {"objdump",
         [=, this](auto& out) {
           return Run({"objdump", kProps, "1001", out});
         }},
        {"refdump",
         [=, this](auto& out) {
           return Run({"refdump", kProps, "1001", out});
         }},
        {"renameall",
         [=, this](auto& out) {
           return Run({"renameall", kProps, "X", out});
         }},
        {"dumpobject",
         [=, this](auto& out) {
           return Run({"dumpobject", kProps, "1001", out});
         }},
    };
  }
};

TEST_F(OutputFaultTest, UnreachableOutputFoldersFailWithTheirMessage) {
  ASSERT_TRUE(folder_.Put("file", "plain"));
  for (const auto& [name, run_with] : Commands()) {
    for (const std::string output : {"missing/out", "file/out",
#ifndef _WIN32
                                     "/dev/full"
#endif
         }) {
      SCOPED_TRACE(std::string(name) + " > " + output);
      const ToolRun run = run_with(output);
      EXPECT_EQ(run.exit_code, 1) << run.output;
      EXPECT_EQ(LastLine(run.output).rfind("Failed to write", 0), 0u) << run.output;
    }
  }
  EXPECT_FALSE(folder_.Exists("missing"));
  EXPECT_EQ(folder_.Get("file"), "plain");
  EXPECT_EQ(EntriesIn(folder_.root()), 3u);  // tool/, doc.txt and file
}

#ifndef _WIN32

// Runs the tool from the test folder with writes limited to `max_bytes` per file, the way a
// full disk stops a write part of the way through (SIGXFSZ ignored, so write() fails instead).
ToolRun RunWithFileSizeLimit(const std::string& tool, std::vector<std::string> args,
                             const std::string& cwd, rlim_t max_bytes) {
  ToolRun run;
  int out[2];
  if (pipe(out) != 0) return run;
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{max_bytes, max_bytes};
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || chdir(cwd.c_str()) != 0) _exit(99);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(tool.c_str(), argv.data());
    _exit(98);
  }
  close(out[1]);
  char chunk[4096];
  ssize_t got;
  while ((got = read(out[0], chunk, sizeof chunk)) > 0) run.output.append(chunk, got);
  close(out[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  return run;
}

TEST_F(OutputFaultTest, AFullDiskLeavesNoPartialFileAndTheOldOutputAlone) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const std::string library = folder_.At("tool/QVX.tl");
  const Case kCases[] = {
      {"gentext", {"gentext", kProps, "out/file"}},
      {"genbin", {"genbin", "doc.txt", "out/file"}},
      {"buildtlib", {"buildtlib", kExamples, "out/file"}},
      {"dumptypes", {"dumptypes", library, "out/file"}},
      {"stringdump", {"stringdump", kProps, "out/file"}},
      {"objdump", {"objdump", kProps, "1001", "out/file"}},
      {"renameall", {"renameall", kProps, "X", "out/file"}},
      {"dumpobject", {"dumpobject", kProps, "1001", "out/file"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(folder_.Put("out/file", "old"));
    const ToolRun run = RunWithFileSizeLimit(tool_, c.args, folder_.root(), 16);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(LastLine(run.output).rfind("Failed to write", 0), 0u) << run.output;
    EXPECT_EQ(folder_.Get("out/file"), "old");
    EXPECT_EQ(EntriesIn(folder_.At("out")), 1u);
  }
}

// gentext hands a large document to its file in pieces while producing it: a disk that fills
// after the first pieces still ends in "Failed to write", with the old output kept and the
// pieces already written removed.
TEST_F(OutputFaultTest, ADiskFillingPartWayThroughALargeDocumentKeepsTheOldOutput) {
  TestBits objects;
  for (uint32_t id = 1; id <= 40000; ++id) {
    objects.Word(TestNameHash("cLink"));
    objects.Word(id);
    std::string name(40, 'n');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + (id + i) % 26);
    objects.Word(static_cast<uint32_t>(name.size()));
    objects.Text(name);
    objects.Word(id);
    objects.Word(id + 1);
  }
  ASSERT_TRUE(folder_.Put("big.bin", TestBinFile({kLink}) + objects.bytes()));
  ASSERT_TRUE(folder_.Put("out/file", "old"));
  const ToolRun run =
      RunWithFileSizeLimit(tool_, {"gentext", "big.bin", "out/file"}, folder_.root(), 3u << 20);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_EQ(LastLine(run.output), "Failed to write \"out/file\".\n") << run.output;
  EXPECT_NE(run.output.find("Finished generating output.\n"), std::string::npos);
  EXPECT_EQ(folder_.Get("out/file"), "old");
  EXPECT_EQ(EntriesIn(folder_.At("out")), 1u);

  // Without the limit the same run succeeds: the limit, not the input, stopped it.
  const ToolRun unlimited = RunWithFileSizeLimit(tool_, {"gentext", "big.bin", "out/file"},
                                                 folder_.root(), RLIM_INFINITY);
  EXPECT_EQ(unlimited.exit_code, 0) << unlimited.output;
  EXPECT_GT(folder_.Get("out/file").size(), 3u << 20);
}

TEST_F(OutputFaultTest, AFolderWithoutWritePermissionKeepsTheOldOutput) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into folders without write permission";
  ASSERT_TRUE(folder_.Put("locked/file", "old"));
  ASSERT_EQ(chmod(folder_.At("locked").c_str(), 0555), 0);
  for (const auto& [name, run_with] : Commands()) {
    SCOPED_TRACE(name);
    const ToolRun run = run_with("locked/file");
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(folder_.Get("locked/file"), "old");
  }
  EXPECT_EQ(EntriesIn(folder_.At("locked")), 1u);
  chmod(folder_.At("locked").c_str(), 0755);
}

TEST_F(FaultTest, InputsOf512MiBOrMoreAreRefused) {
  for (const char* name : {"big.bin", "big.txt"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(folder_.Put(name, ""));
    std::filesystem::resize_file(folder_.At(name), uint64_t{512} << 20);  // sparse: no disk used
    const ToolRun run = Run({name, "out"});
    EXPECT_EQ(run.output, "Failed to load \"" + std::string(name) + "\".\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_FALSE(folder_.Exists("out"));
    std::filesystem::remove(folder_.At(name));
  }
}

#endif

}  // namespace
