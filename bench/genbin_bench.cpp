// bench/genbin_bench.cpp - throughput and peak memory of genbin over a large generated document.
//
//   qvx_genbin_bench <work folder> [megabytes, default 120] [tool, default the built QVXBinTool]
//
// Writes "<folder>/QVX.tl" and a document "<folder>/bench.txt" of at least the given size in
// the form the document writer produces (CR LF lines, TAB indentation, quoted values, header
// comments and quoted names). Each object has fifteen fields of mixed kinds: integers, floats,
// vectors, a quaternion, a box, a string, hashes given as names and as numbers, a reference, an
// enumeration, a flag set, a boolean, a float array, a nested class and an array of classes;
// every 50th object holds an inline object in its reference. Values are pseudo-random with a
// fixed seed, so every run writes the same document.
//
// Then it times the phases in process (parse, validate, encode) and runs a copy of the tool on
// the document as a user would, reporting its wall time and its peak resident memory.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#define QVX_BENCH_CAN_RUN_TOOL 1
#endif

#include "bench/bench_classes.h"
#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/document_parser.h"
#include "document/lexer.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/name_hash.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_library.h"
#include "types/type_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kDefaultMegabytes = 120;
constexpr const char* kWords[] = {"crate", "barrel", "door",  "zombie",  "survivor", "mall",
                                  "food",  "weapon", "ammo",  "vehicle", "light",    "trigger",
                                  "north", "south",  "plaza", "wooden",  "metal",    "heavy"};
constexpr const char* kWeaponTypes[] = {"WEAPON_TYPE_GUN", "WEAPON_TYPE_NOT_GUN",
                                        "WEAPON_TYPE_ANY"};
constexpr const char* kFlags[] = {"", "UPGRADEABLE_DEATH_EXPLOSION", "UPGRADEABLE_SUCTION",
                                  "UPGRADEABLE_DEATH_EXPLOSION,UPGRADEABLE_SUCTION"};

bool BuildLibrary(TypeRegistry& registry) {
  const uint32_t part = NameHash("cBenchPart");
  return AddBenchClass(
             registry, "cBenchPart",
             {{"Count", kCIntHash, 0}, {"Weight", kCFloatHash, 0}, {"Tag", kCHashHash, 0}}) &&
         AddBenchClass(registry, "cBenchObject",
                       {{"Health", kCIntHash, 0},
                        {"Speed", kCFloatHash, 0},
                        {"Position", kCVector3Hash, 0},
                        {"Rotation", kCQuatHash, 0},
                        {"Bounds", kCAxisAlignedBoundingBoxHash, 0},
                        {"Name", kCStringHash, 0},
                        {"Template", kCHashHash, 0},
                        {"Text", kCTextIDHash, 0},
                        {"Owner", kCPointerHash, 0},
                        {"Weapon", NameHash("cWeaponType"), 0},
                        {"Flags", NameHash("cUpgradeableFlags"), 0},
                        {"Enabled", kCBoolHash, 0},
                        {"Weights", kCFloatHash, -1},
                        {"Part", part, 0},
                        {"Parts", part, -1}}) &&
         // Enumerations and flag sets are written with a class record of their own name.
         AddBenchClass(registry, "cWeaponType", {}) &&
         AddBenchClass(registry, "cUpgradeableFlags", {});
}

class DocumentMaker {
 public:
  explicit DocumentMaker(std::string& out) : out_(out), rng_(20240612) {}

  // Appends one object (and, now and then, an inline object in its reference).
  void Object(uint32_t index) {
    char line[160];
    if (index % 2 == 0) {
      std::snprintf(line, sizeof line, "cBenchObject /* %u */ 'Bench_%06u' {\r\n", Id(index),
                    index);
    } else {
      std::snprintf(line, sizeof line, "cBenchObject %u {\r\n", Id(index));
    }
    out_ += line;
    Value(1, "Health", "%d", Int(-1000, 100000));
    Value(1, "Speed", "%.7g", Float(0, 50));
    Value(1, "Position", "%.7g,%.7g,%.7g", Float(-4000, 4000), Float(-4000, 4000),
          Float(-4000, 4000));
    Value(1, "Rotation", "%.7g,%.7g,%.7g,%.7g", Float(-1, 1), Float(-1, 1), Float(-1, 1),
          Float(-1, 1));
    Value(1, "Bounds", "%.6g,%.6g,%.6g,%.6g,%.6g,%.6g", Float(-50, 0), Float(-50, 0), Float(-50, 0),
          Float(0, 50), Float(0, 50), Float(0, 50));
    Value(1, "Name", "%s %s %s", Word(), Word(), Word());
    Value(1, "Template", "'%s_%s'", Word(), Word());
    Value(1, "Text", "%u", static_cast<uint32_t>(Int(0, 1 << 30)));
    if (index % 50 == 49) {
      out_ += "\tOwner = cBenchPart /* 1 */ 'Inline_";
      out_ += std::to_string(index);
      out_ += "' {\r\n";
      Part(2);
      out_ += "\t}\r\n";
    } else {
      Value(1, "Owner", "@'Bench_%06u'", static_cast<uint32_t>(Int(0, 999999)));
    }
    Value(1, "Weapon", "%s", kWeaponTypes[Int(0, 2)]);
    Value(1, "Flags", "%s", kFlags[Int(0, 3)]);
    Value(1, "Enabled", "%s", Int(0, 1) != 0 ? "true" : "false");
    out_ += "\tWeights = [\r\n";
    for (int i = Int(2, 8); i > 0; --i) {
      std::snprintf(line, sizeof line, "\t\t\"%.7g\"\r\n", Float(0, 1));
      out_ += line;
    }
    out_ += "\t]\r\n\tPart = {\r\n";
    Part(2);
    out_ += "\t}\r\n\tParts = [\r\n";
    for (int i = Int(0, 3); i > 0; --i) {
      out_ += "\t{\r\n";
      Part(2);
      out_ += "\t}\r\n";
    }
    out_ += "\t]\r\n}\r\n";
  }

  static uint32_t Id(uint32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "Bench_%06u", index);
    return index % 2 == 0 ? NameHash(name) : index;
  }

 private:
  template <typename... Args>
  void Value(int level, const char* name, const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    out_.append(static_cast<size_t>(level), '\t');
    out_ += name;
    out_ += " = \"";
    out_ += text;
    out_ += "\"\r\n";
  }
  void Part(int level) {
    Value(level, "Count", "%d", Int(0, 99));
    Value(level, "Weight", "%.7g", Float(0, 10));
    Value(level, "Tag", "%s", Word());
  }
  int32_t Int(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(rng_);
  }
  double Float(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(rng_);
  }
  const char* Word() { return kWords[Int(0, std::size(kWords) - 1)]; }

  std::string& out_;
  std::mt19937 rng_;
};

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

#ifdef QVX_BENCH_CAN_RUN_TOOL
// Runs `tool genbin <document>` with its output discarded; returns false when it did not exit
// with 0. Fills the wall time and the child's peak resident memory.
bool RunTool(const std::string& tool, const std::string& document, double& seconds,
             long& peak_kib) {
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int null_output = open("/dev/null", O_WRONLY);
    if (null_output >= 0) dup2(null_output, STDOUT_FILENO);
    execl(tool.c_str(), tool.c_str(), "genbin", document.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return false;
  seconds = Seconds(start);
  peak_kib = usage.ru_maxrss;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <work folder> [megabytes] [tool]\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const std::string folder = argv[1];
  const uint64_t megabytes = argc >= 3 ? std::strtoull(argv[2], nullptr, 10) : kDefaultMegabytes;
#ifdef QVX_TOOL_PATH
  const std::string tool = argc >= 4 ? argv[3] : QVX_TOOL_PATH;
#else
  const std::string tool = argc >= 4 ? argv[3] : "";
#endif
  std::error_code error;
  fs::create_directories(folder, error);

  TypeRegistry registry;
  const std::string library = folder + "/QVX.tl";
  if (!BuildLibrary(registry) || !SaveTypelib(registry, library.c_str())) {
    std::fprintf(stderr, "Cannot write %s\n", library.c_str());
    return 1;
  }
  TypePatch(registry, TypePatchDirection::kToStringHash);

  std::string document;
  const uint64_t target_bytes = megabytes << 20;
  document.reserve(target_bytes + (1 << 20));
  DocumentMaker maker(document);
  uint32_t generated = 0;
  while (document.size() < target_bytes) maker.Object(generated++);
  const std::string document_path = folder + "/bench.txt";
  {
    std::ofstream out(document_path, std::ios::binary | std::ios::trunc);
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
    if (!out) {
      std::fprintf(stderr, "Cannot write %s\n", document_path.c_str());
      return 1;
    }
  }
  const double text_mb = static_cast<double>(document.size()) / (1 << 20);
  std::printf("document: %.1f MiB, %u objects (plus %u inline)\n", text_mb, generated,
              generated / 50);
  document.clear();
  document.shrink_to_fit();

  // In process, phase by phase.
  CoreTypeTable core_types;
  Lexer lexer;
  lexer.file_name.Assign(document_path.c_str());
  if (!BuildCoreTypeTable(core_types) || !ReadWholeText(document_path.c_str(), lexer.source)) {
    std::fprintf(stderr, "Cannot read %s\n", document_path.c_str());
    return 1;
  }
  ResetLexer(lexer);
  Lexer value_lexer;
  ReferencedTypeSet referenced_types;
  OwnedObjectList objects;
  Clock::time_point start = Clock::now();
  if (!ParseDocument(lexer, value_lexer, registry, core_types, referenced_types, objects)) {
    std::fprintf(stderr, "Parse failed:\n%s", lexer.diagnostics.data);
    return 1;
  }
  const double parse_seconds = Seconds(start);

  start = Clock::now();
  CStringBufferA messages;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    if (!ValidateObject(*object, *registry.Find(object->type_hash), registry, core_types,
                        object->name, messages)) {
      std::fprintf(stderr, "Validation failed: %s", messages.data);
      return 1;
    }
  }
  const double validate_seconds = Seconds(start);

  start = Clock::now();
  ByteBuffer bin(kGranuleBytes);
  if (WriteBinFile(registry, referenced_types, core_types, objects, bin) != BinWriteResult::kOk) {
    std::fprintf(stderr, "Encoding failed\n");
    return 1;
  }
  const double encode_seconds = Seconds(start);
  const double objects_total = objects.count;
  std::printf("parse:    %7.3f s  %7.1f MiB/s  %6.2f M objects/s\n", parse_seconds,
              text_mb / parse_seconds, objects_total / parse_seconds / 1e6);
  std::printf("validate: %7.3f s  %7.1f MiB/s\n", validate_seconds, text_mb / validate_seconds);
  std::printf("encode:   %7.3f s  %7.1f MiB/s  (%.1f MiB of .bin)\n", encode_seconds,
              text_mb / encode_seconds, static_cast<double>(bin.size) / (1 << 20));
  ReleaseObjects(objects);

  // Again, now that the node pool holds enough nodes: the parser's own cost, without the first
  // touch of fresh memory.
  ResetLexer(lexer);
  referenced_types.Release();
  start = Clock::now();
  if (!ParseDocument(lexer, value_lexer, registry, core_types, referenced_types, objects)) {
    return 1;
  }
  const double warm_seconds = Seconds(start);
  std::printf("parse with warm pool: %.3f s  %7.1f MiB/s  %6.2f M objects/s\n", warm_seconds,
              text_mb / warm_seconds, objects_total / warm_seconds / 1e6);
  ReleaseObjects(objects);

#ifdef QVX_BENCH_CAN_RUN_TOOL
  if (!tool.empty()) {
    // The tool looks for QVX.tl beside itself, so it runs from a copy in the work folder.
    const std::string copy = folder + "/QVXBinTool";
    fs::copy_file(tool, copy, fs::copy_options::overwrite_existing, error);
    double seconds = 0;
    long peak_kib = 0;
    if (error || !RunTool(copy, document_path, seconds, peak_kib)) {
      std::fprintf(stderr, "The tool failed on %s\n", document_path.c_str());
      return 1;
    }
    std::printf("genbin:   %7.3f s  %7.1f MiB/s  peak %.0f MiB resident\n", seconds,
                text_mb / seconds, static_cast<double>(peak_kib) / 1024);
  }
#endif
  return 0;
}
