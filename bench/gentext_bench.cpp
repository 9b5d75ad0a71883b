// bench/gentext_bench.cpp - builds a large .bin file for timing gentext, and times the
// document writer in process.
//
//   qvx_gentext_bench <output folder> [object count]
//
// Writes "<folder>/bench.bin" through the project's own encoder (WriteBinFile), and
// "<folder>/Hash.txt" naming every object, so the tool can be run with and without
// dictionaries beside it (scripts/bench_gentext.sh does that under /usr/bin/time). Each object
// has twelve fields of mixed kinds: integers, floats, a raw vector, a quantized quaternion, a
// box, strings, a hash, a reference to another object, a float array, a nested class and an
// array of classes. The values are pseudo-random with a fixed seed, so every run writes the
// same file. It then writes every object with WriteObject, once without a name resolver and
// once with the dictionaries loaded, and prints the writer's throughput.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>

#include "bench/bench_classes.h"
#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/document_writer.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/name_hash.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/quantization.h"
#include "types/type_stream.h"

namespace {

constexpr uint32_t kDefaultObjectCount = 300000;
constexpr const char* kWords[] = {"crate", "barrel", "door",  "zombie",  "survivor", "mall",
                                  "food",  "weapon", "ammo",  "vehicle", "light",    "trigger",
                                  "north", "south",  "plaza", "wooden",  "metal",    "heavy"};

class ObjectMaker {
 public:
  explicit ObjectMaker(uint32_t count) : count_(count), rng_(20240611) {}

  static std::string ObjectName(uint32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "Bench_Object_%06u", index);
    return name;
  }

  ValueNode* Make(uint32_t index) {
    ValueNode* object =
        NewObjectValue(NameHash("cBenchObject"), NameHash(ObjectName(index).c_str()));
    if (object == nullptr) return nullptr;
    Child(*object, "Health", kCIntHash)->payload.int32 = Int(-1000, 100000);
    Child(*object, "Speed", kCFloatHash)->payload.floats[0] = Float(0, 50);
    FillFloats(Child(*object, "Position", kCVector3Hash)->payload.floats, 3, -4000, 4000);
    FillRotation(Child(*object, "Rotation", kCQuatHash)->payload.floats);
    FillFloats(Child(*object, "Bounds", kCAxisAlignedBoundingBoxHash)->payload.floats, 6, -50, 50);
    Child(*object, "Name", kCStringHash)->payload.text.AssignText(Words(3, 6).c_str());
    Child(*object, "Description", kCStringHash)->payload.text.AssignText(Words(10, 18).c_str());
    Child(*object, "Template", kCHashHash)->payload.word = NameHash(Words(2, 3).c_str());
    // Most references point into the file, some outside it.
    const uint32_t target = Int(0, static_cast<int32_t>(count_ + count_ / 10));
    Child(*object, "Owner", kCPointerHash)->payload.word =
        target < count_ ? NameHash(ObjectName(target).c_str()) : target;
    Child(*object, "Enabled", kCBoolHash)->payload.boolean = Int(0, 1) != 0;
    ValueNode* weights = Child(*object, "Weights", kCFloatHash, true);
    for (int i = Int(2, 8); i > 0; --i) {
      Element(*weights)->payload.floats[0] = Float(0, 1);
    }
    FillSettings(*Child(*object, "Settings", NameHash("cBenchSettings")));
    ValueNode* slots = Child(*object, "Slots", NameHash("cBenchSettings"), true);
    for (int i = Int(0, 3); i > 0; --i) {
      FillSettings(*Element(*slots));
    }
    return object;
  }

 private:
  static ValueNode* Child(ValueNode& parent, const char* name, uint32_t type, bool array = false) {
    ValueNode* child = AppendChildValue(parent, NameHash(name), type, array, 0);
    if (child == nullptr) {
      std::fputs("Out of value nodes.\n", stderr);
      std::exit(1);
    }
    return child;
  }
  static ValueNode* Element(ValueNode& array) {
    ValueNode* element = AppendChildValue(array, 0, array.type_hash, false, 0);
    if (element == nullptr) {
      std::fputs("Out of value nodes.\n", stderr);
      std::exit(1);
    }
    return element;
  }
  int32_t Int(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(rng_);
  }
  float Float(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(rng_);
  }
  void FillFloats(float* out, int count, float low, float high) {
    for (int i = 0; i < count; ++i) out[i] = Float(low, high);
  }
  void FillRotation(float* q) {
    FillFloats(q, 4, -1, 1);
    const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int i = 0; i < 4; ++i) q[i] = length > 0 ? q[i] / length : (i == 3 ? 1.0f : 0.0f);
  }
  std::string Words(int low, int high) {
    std::string text;
    for (int i = Int(low, high); i > 0; --i) {
      if (!text.empty()) text += ' ';
      text += kWords[Int(0, static_cast<int32_t>(std::size(kWords)) - 1)];
    }
    return text;
  }
  void FillSettings(ValueNode& settings) {
    Child(settings, "Count", kCIntHash)->payload.int32 = Int(0, 64);
    FillFloats(Child(settings, "Scale", kCVector3Hash)->payload.floats, 3, 0.5f, 2);
    Child(settings, "Label", kCStringHash)->payload.text.AssignText(Words(1, 3).c_str());
  }

  uint32_t count_;
  std::mt19937 rng_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Writes every object once into a fresh document and prints the writer's throughput.
bool TimeWriter(const char* label, const ValueObjectList& objects, const TypeRegistry& registry,
                const CoreTypeTable& core_types) {
  CStringBufferA text;
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  const ClassType* class_type = registry.Find(NameHash("cBenchObject"));
  const auto start = std::chrono::steady_clock::now();
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    if (!WriteObject(*object, *class_type, text, value_scratch, registry, core_types,
                     comment_scratch)) {
      std::printf("%s: the writer failed\n", label);
      return false;
    }
  }
  const double seconds = Seconds(start);
  std::printf("%-28s %8.3f s  %9.0f objects/s  %7.1f MB/s of text (%u bytes)\n", label, seconds,
              objects.count / seconds, text.length / seconds / 1e6, text.length);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: qvx_gentext_bench <output folder> [object count]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const uint32_t count =
      argc >= 3 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : kDefaultObjectCount;

  TypeRegistry registry;
  CoreTypeTable core_types;
  const uint32_t settings = NameHash("cBenchSettings");
  using Q = QuantizationMode;
  if (!BuildCoreTypeTable(core_types) ||
      !AddBenchClass(registry, "cBenchSettings",
                     {{"Count", kCIntHash, 0, Q::None},
                      {"Scale", kCVector3Hash, 0, Q::None},
                      {"Label", kCStringHash, 0, Q::None}}) ||
      !AddBenchClass(registry, "cBenchObject",
                     {{"Health", kCIntHash, 0, Q::None},
                      {"Speed", kCFloatHash, 0, Q::None},
                      {"Position", kCVector3Hash, 0, Q::None},
                      {"Rotation", kCQuatHash, 0, Q::Quat},
                      {"Bounds", kCAxisAlignedBoundingBoxHash, 0, Q::None},
                      {"Name", kCStringHash, 0, Q::None},
                      {"Description", kCStringHash, 0, Q::None},
                      {"Template", kCHashHash, 0, Q::None},
                      {"Owner", kCPointerHash, 0, Q::None},
                      {"Enabled", kCBoolHash, 0, Q::None},
                      {"Weights", kCFloatHash, -1, Q::None},
                      {"Settings", settings, 0, Q::None},
                      {"Slots", settings, -1, Q::None}})) {
    std::fputs("Cannot set up the class types.\n", stderr);
    return 1;
  }

  OwnedObjectList objects;
  ObjectMaker maker(count);
  CStringBufferA names;
  for (uint32_t i = 0; i < count; ++i) {
    ValueNode* object = maker.Make(i);
    if (object == nullptr || !objects.Append(object)) {
      std::fputs("Out of value nodes.\n", stderr);
      return 1;
    }
    names.Append(ObjectMaker::ObjectName(i).c_str());
    names.Append("\r\n", 2);
  }

  ReferencedTypeSet types;
  if (types.FindOrInsert(settings) == nullptr ||
      types.FindOrInsert(NameHash("cBenchObject")) == nullptr) {
    return 1;
  }
  ByteBuffer file(kGranuleBytes);
  auto start = std::chrono::steady_clock::now();
  if (WriteBinFile(registry, types, core_types, objects, file) != BinWriteResult::kOk) {
    std::fputs("Encoding failed.\n", stderr);
    return 1;
  }
  std::printf("%-28s %8.3f s  %u objects, %u bytes\n", "encode (WriteBinFile)", Seconds(start),
              count, file.size);
  const std::string bin_path = folder + "/bench.bin";
  const std::string names_path = folder + "/Hash.txt";
  if (!WriteWholeFile(bin_path.c_str(), file) || !WriteWholeText(names_path.c_str(), names)) {
    std::fprintf(stderr, "Cannot write into %s.\n", folder.c_str());
    return 1;
  }

  // The writer alone, over objects already in memory, with and without names to look up.
  ObjectIdTable ids;
  for (ValueNode* object = objects.head; object != nullptr; object = object->next) {
    ValueNode** entry = ids.FindOrInsert(object->name, true);
    if (entry == nullptr) return 1;
    *entry = object;
  }
  if (!TimeWriter("write, no dictionaries", objects, registry, core_types)) return 1;
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, folder.c_str(), &registry, &ids);
  if (!TimeWriter("write, with Hash.txt", objects, registry, core_types)) return 1;
  return 0;
}
