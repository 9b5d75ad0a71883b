// tests/commands/examples_test.cpp - the example game folder under examples/: the generator
// still writes exactly the committed files, and the tool carries every example through a text
// document and back to the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "bin/bin_file.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "tests/commands/run_tool.h"
#include "tests/commands/type_stream_writer.h"

namespace {

namespace fs = std::filesystem;

const std::string kExamples = std::string(QVX_SOURCE_DIR) + "/examples";
const char* const kDictionaries[] = {"Hash.txt", "qvxmain_ids.cvs", "qvxmain_en.cvs"};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Paths relative to `root`, with "/" separators, of every regular file below it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files.insert(entry.path().lexically_relative(root).generic_string());
  }
  return files;
}

// The committed output of the generator: the game folder and the dictionaries beside it.
std::set<std::string> CommittedExamples() {
  std::set<std::string> files;
  for (const std::string& file : FilesBelow(kExamples + "/game")) files.insert("game/" + file);
  for (const char* name : kDictionaries) {
    if (fs::exists(kExamples + "/" + name)) files.insert(name);
  }
  return files;
}

std::vector<std::string> ExampleBinFiles() {
  std::vector<std::string> files;
  for (const std::string& file : FilesBelow(kExamples + "/game")) {
    std::string extension = fs::path(file).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".bin") files.push_back(file);
  }
  return files;
}

// A copy of the tool with the example dictionaries beside it, since the tool reads QVX.tl and
// the dictionaries from its own folder. Returns the copy's path.
std::string InstallTool(const TestFolder& folder) {
  const std::string tool = folder.At("QVXBinTool");
  fs::copy_file(QVX_TOOL_PATH, tool);
  for (const char* name : kDictionaries) {
    fs::copy_file(kExamples + "/" + name, folder.At(name));
  }
  return tool;
}

TEST(ExamplesTest, GeneratorWritesExactlyTheCommittedFiles) {
  TestFolder folder("qvx_examples_test_");
  ASSERT_TRUE(folder.ok());
  const ToolRun run = RunTool(QVX_MAKE_EXAMPLES_PATH, {folder.root()});
  ASSERT_EQ(run.exit_code, 0) << run.output;

  const std::set<std::string> generated = FilesBelow(folder.root());
  EXPECT_EQ(generated, CommittedExamples());
  EXPECT_GE(ExampleBinFiles().size(), 5u);
  for (const std::string& file : generated) {
    SCOPED_TRACE(file);
    const std::string fresh = folder.Get(file);
    EXPECT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh == ReadFile(kExamples + "/" + file))
        << "examples/" << file << " differs from what make_examples writes now";
  }
}

TEST(ExamplesTest, GeneratorRefusesAMissingOutputFolder) {
  const ToolRun run = RunTool(QVX_MAKE_EXAMPLES_PATH, {});
  EXPECT_EQ(run.exit_code, 2);
}

// The dictionaries are in the formats the tool reads: names, text IDs and English texts show.
TEST(ExamplesTest, GentextNamesTheExampleValuesFromTheDictionaries) {
  TestFolder folder("qvx_examples_names_");
  ASSERT_TRUE(folder.ok());
  const std::string tool = InstallTool(folder);
  const ToolRun props = RunTool(
      tool, {"gentext", kExamples + "/game/levels/harbor/harbor_props.bin", folder.At("p.txt")});
  ASSERT_EQ(props.exit_code, 0) << props.output;
  const std::string text = folder.Get("p.txt");
  const std::string crate = std::to_string(TestNameHash("Crate_Wood_01"));
  const std::string barrel_text = std::to_string(TestNameHash("TXT_PROP_BARREL"));
  for (const std::string& line : {
           "cGameObjectState /* " + crate + " */ 'Crate_Wood_01' {\r\n",
           std::string("\t\t\"'cRigidBodyComponent'\"\r\n"),
           std::string("\tTemplate = \"'Props/Crate_Wood'\"\r\n"),
           std::string("\tDisplayName = \"'TXT_PROP_CRATE'\" //Wooden crate\r\n"),
           "\tDisplayName = \"" + barrel_text + "\" //Explosive barrel\r\n",
           std::string("\tDisplayName = \"'TXT_PROP_DOOR'\"\r\n"),
           std::string("\tParent = \"@'Crate_Wood_01'\" //cGameObjectState\r\n"),
           std::string("\tParent = \"@40017\" //External object\r\n"),
           std::string("\t\tItem = \"@'Ammo_Pistol_Box'\" //External object\r\n"),
           std::string("cGameObjectState 1001 {\r\n"),
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }

  const ToolRun weapons = RunTool(
      tool, {"gentext", kExamples + "/game/characters/weapons/Weapons.BIN", folder.At("w.txt")});
  ASSERT_EQ(weapons.exit_code, 0) << weapons.output;
  EXPECT_NE(folder.Get("w.txt").find("\tDescription = \"'TXT_WEAPON_PISTOL_DESC'\" //A reliable "
                                     "sidearm.\\r\\nHolds 15 rounds.\r\n"),
            std::string::npos);
}

TEST(ExamplesTest, EveryExampleConvertsToTextAndBackUnchanged) {
  TestFolder folder("qvx_examples_round_trip_");
  ASSERT_TRUE(folder.ok());
  const std::string tool = InstallTool(folder);
  const ToolRun library = RunTool(tool, {"buildtlib", kExamples + "/game", folder.At("QVX.tl")});
  ASSERT_EQ(library.exit_code, 0) << library.output;

  for (const std::string& file : ExampleBinFiles()) {
    SCOPED_TRACE(file);
    const std::string flat = fs::path(file).stem().string();
    const std::string text = folder.At(flat + ".txt");
    const std::string bin = folder.At(flat + ".bin");
    const ToolRun to_text = RunTool(tool, {"gentext", kExamples + "/game/" + file, text});
    ASSERT_EQ(to_text.exit_code, 0) << to_text.output;
    const ToolRun to_bin = RunTool(tool, {"genbin", text, bin});
    ASSERT_EQ(to_bin.exit_code, 0) << to_bin.output;
    EXPECT_EQ(to_bin.output.find("warning"), std::string::npos) << to_bin.output;
    EXPECT_TRUE(ReadFile(bin) == ReadFile(kExamples + "/game/" + file))
        << "genbin did not give back the bytes of examples/game/" << file;
  }
}

// The example file with its class records reversed and an unused class added: a layout genbin
// never writes itself, though any reader must accept it.
std::string ReorderedWithUnusedClass(const std::string& original) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(original.data());
  const auto size = static_cast<uint32_t>(original.size());
  TypeRegistry registry;
  uint32_t objects_offset = 0;
  if (LoadBinTypes(bytes, size, registry, objects_offset) != BinLoadResult::kOk) return "";
  TypePatch(registry, TypePatchDirection::kToInt);
  std::vector<const ClassType*> classes;
  registry.ForEach([&](const ClassType& class_type) { classes.push_back(&class_type); });
  std::reverse(classes.begin(), classes.end());
  ClassTypePtr unused = MakeClassType();
  unused->name.Assign("cNeverUsed");
  unused->name_hash = NameHash("cNeverUsed");
  classes.insert(classes.begin() + 1, unused.get());

  ByteBuffer out;
  BitWriter writer(out);
  writer.WriteWord(0);
  writer.WriteWord(0x32303076);  // "v002"
  writer.WriteWord(static_cast<uint32_t>(classes.size()));
  for (const ClassType* class_type : classes) {
    if (!WriteClassRecord(*class_type, writer)) return "";
  }
  std::string result(reinterpret_cast<const char*>(out.data), out.size);
  return result + original.substr(objects_offset);
}

TEST(ExamplesTest, TextSurvivesGenbinWhateverTheClassRecordOrder) {
  TestFolder folder("qvx_examples_reordered_");
  ASSERT_TRUE(folder.ok());
  const std::string tool = InstallTool(folder);
  ASSERT_EQ(RunTool(tool, {"buildtlib", kExamples + "/game", folder.At("QVX.tl")}).exit_code, 0);
  const std::string original = ReadFile(kExamples + "/game/levels/harbor/harbor_props.bin");
  const std::string reordered = ReorderedWithUnusedClass(original);
  ASSERT_FALSE(reordered.empty());
  ASSERT_NE(reordered, original);
  {
    std::ofstream file(folder.At("reordered.bin"), std::ios::binary);
    file << reordered;
  }

  ASSERT_EQ(RunTool(tool, {"gentext", folder.At("reordered.bin"), folder.At("a.txt")}).exit_code,
            0);
  ASSERT_EQ(RunTool(tool, {"genbin", folder.At("a.txt"), folder.At("b.bin")}).exit_code, 0);
  ASSERT_EQ(RunTool(tool, {"gentext", folder.At("b.bin"), folder.At("b.txt")}).exit_code, 0);
  ASSERT_EQ(RunTool(tool, {"gentext", kExamples + "/game/levels/harbor/harbor_props.bin",
                           folder.At("original.txt")})
                .exit_code,
            0);
  const std::string text = ReadFile(folder.At("a.txt"));
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(ReadFile(folder.At("b.txt")), text);
  EXPECT_EQ(ReadFile(folder.At("original.txt")), text);
  // genbin writes the referenced records in its own order, so the file becomes the original.
  EXPECT_TRUE(ReadFile(folder.At("b.bin")) == original);
}

}  // namespace
