// bench/gentext_path_bench.cpp - the hot paths of gentext, one at a time.
//
// A stream of objects of one class (integers, a float, a vector, a flag, a string, a pointer,
// a hash, an integer array and a nested class of three fields) is encoded once with the
// project's own writer; the benchmarks then check it (the first pass), decode and release it,
// write decoded objects as document text, write the objects straight from the stream (the
// second pass as gentext runs it), and take value nodes from the pool and give them back. Items are
// objects, except for the pool (nodes).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <utility>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/document_writer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/field_types.h"
#include "types/type_stream.h"

namespace {

constexpr uint32_t kObjectCount = 4096;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "gentext_path_bench: %s\n", what);
  std::exit(1);
}

void AddClass(TypeRegistry& registry, const char* name,
              std::initializer_list<std::pair<const char*, uint32_t>> fields,
              int32_t array_field = -1) {
  ClassTypePtr class_type = MakeClassType();
  if (class_type == nullptr || !class_type->AllocateFields(static_cast<uint32_t>(fields.size()))) {
    Die("no class");
  }
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  uint32_t i = 0;
  for (const auto& [field_name, type_hash] : fields) {
    FieldInfo& field = class_type->fields[i];
    field.name.Assign(field_name);
    field.name_hash = NameHash(field_name);
    field.type_hash = type_hash;
    field.array_size = static_cast<int32_t>(i) == array_field ? -1 : 0;
    ++i;
  }
  if (registry.Add(std::move(class_type)) == nullptr) Die("no class");
}

ValueNode* Child(ValueNode& parent, const char* name, uint32_t type, bool array = false) {
  ValueNode* child = AppendChildValue(parent, name == nullptr ? 0 : NameHash(name), type, array, 0);
  if (child == nullptr) Die("out of value nodes");
  return child;
}

// The encoded stream and everything needed to read it back.
struct Workload {
  CoreTypeTable core_types;
  TypeRegistry registry;
  ByteBuffer stream;
  const ClassType* object_class = nullptr;

  Workload() {
    if (!BuildCoreTypeTable(core_types)) Die("no core types");
    AddClass(registry, "cPathInner", {{"A", kCIntHash}, {"B", kCFloatHash}, {"C", kCByteHash}});
    AddClass(registry, "cPathObject",
             {{"Health", kCIntHash},
              {"Speed", kCFloatHash},
              {"Position", kCVector3Hash},
              {"Enabled", kCBoolHash},
              {"Name", kCStringHash},
              {"Owner", kCPointerHash},
              {"Template", kCHashHash},
              {"Counts", kCIntHash},
              {"Inner", NameHash("cPathInner")},
              {"Level", kCShortHash}},
             7);
    object_class = registry.Find(NameHash("cPathObject"));
    std::mt19937 rng(99);
    OwnedObjectList objects;
    for (uint32_t i = 0; i < kObjectCount; ++i) {
      ValueNode* object = NewObjectValue(object_class->name_hash, 1000 + i);
      if (!objects.Append(object)) Die("out of value nodes");
      Child(*object, "Health", kCIntHash)->payload.int32 = static_cast<int32_t>(rng() % 100000);
      Child(*object, "Speed", kCFloatHash)->payload.floats[0] = static_cast<float>(rng() % 500) / 8;
      float* position = Child(*object, "Position", kCVector3Hash)->payload.floats;
      for (int k = 0; k < 3; ++k) position[k] = static_cast<float>(rng() % 8000) / 4 - 1000;
      Child(*object, "Enabled", kCBoolHash)->payload.boolean = rng() & 1;
      char name[48];
      std::snprintf(name, sizeof name, "object %u of the path bench %.*s", i,
                    static_cast<int>(rng() % 12), "xxxxxxxxxxxx");
      Child(*object, "Name", kCStringHash)->payload.text.AssignText(name);
      Child(*object, "Owner", kCPointerHash)->payload.word = 1000 + rng() % kObjectCount;
      Child(*object, "Template", kCHashHash)->payload.word = static_cast<uint32_t>(rng());
      ValueNode* counts = Child(*object, "Counts", kCIntHash, true);
      for (uint32_t k = rng() % 9; k > 0; --k) {
        Child(*counts, nullptr, kCIntHash)->payload.int32 = static_cast<int32_t>(rng() % 1000);
      }
      ValueNode* inner = Child(*object, "Inner", NameHash("cPathInner"));
      Child(*inner, "A", kCIntHash)->payload.int32 = static_cast<int32_t>(rng() % 50);
      Child(*inner, "B", kCFloatHash)->payload.floats[0] = 0.5f;
      Child(*inner, "C", kCByteHash)->payload.byte = static_cast<int8_t>(rng() % 100);
      Child(*object, "Level", kCShortHash)->payload.int16 = static_cast<int16_t>(rng() % 300);
    }
    if (!WriteBinObjects(registry, core_types, objects, stream)) Die("cannot encode");
  }
};

Workload& TheWorkload() {
  static Workload workload;
  return workload;
}

// The first pass: every object checked, only class hashes, IDs and pointers kept.
void BM_ScanObjects(benchmark::State& state) {
  Workload& w = TheWorkload();
  for (auto _ : state) {
    BitReader reader(w.stream.data, w.stream.size);
    ScannedObjectList objects;
    PointerLog pointers;
    if (!ScanObjects(reader, w.registry, w.core_types, objects, &pointers)) Die("scan failed");
    benchmark::DoNotOptimize(objects.data());
  }
  state.SetItemsProcessed(state.iterations() * kObjectCount);
}
BENCHMARK(BM_ScanObjects);

// The second pass without the writer: decode one object's tree, release it, next.
void BM_DecodeAndReleaseObjects(benchmark::State& state) {
  Workload& w = TheWorkload();
  ValueNode* object = NewObjectValue(w.object_class->name_hash, 1);
  for (auto _ : state) {
    BitReader reader(w.stream.data, w.stream.size);
    DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
    for (uint32_t i = 0; i < kObjectCount; ++i) {
      reader.Read(32);
      reader.Read(32);
      if (!DecodeObjectFields(*object, w.registry, w.core_types, *w.object_class, reader,
                              &budget)) {
        Die("decode failed");
      }
      ReleaseValue(*object);
    }
  }
  ReleaseObject(object);
  state.SetItemsProcessed(state.iterations() * kObjectCount);
}
BENCHMARK(BM_DecodeAndReleaseObjects);

// The writer on decoded objects, into a text that is emptied (memory kept) between rounds.
void BM_WriteObjects(benchmark::State& state) {
  Workload& w = TheWorkload();
  OwnedObjectList objects;
  ObjectIdTable ids;
  BitReader reader(w.stream.data, w.stream.size);
  if (!LoadObjects(reader, w.registry, w.core_types, objects, ids)) Die("load failed");
  CStringBufferA text;
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  for (auto _ : state) {
    text.Clear(false);
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      if (!WriteObject(*object, *w.object_class, text, value_scratch, w.registry, w.core_types,
                       comment_scratch)) {
        Die("write failed");
      }
    }
    benchmark::DoNotOptimize(text.data);
  }
  state.SetItemsProcessed(state.iterations() * kObjectCount);
  state.SetBytesProcessed(state.iterations() * text.length);
}
BENCHMARK(BM_WriteObjects);

// gentext's second pass: every object written straight from the stream, each value as it is
// decoded, into a text that is emptied (memory kept) between rounds.
void BM_WriteObjectsFromStream(benchmark::State& state) {
  Workload& w = TheWorkload();
  CStringBufferA text;
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  FieldTypeCache types(w.registry, w.core_types);
  StreamWriterState stream_state;
  for (auto _ : state) {
    text.Clear(false);
    BitReader reader(w.stream.data, w.stream.size);
    DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
    for (uint32_t i = 0; i < kObjectCount; ++i) {
      reader.Read(32);
      const uint32_t id = reader.Read(32);
      if (!WriteObjectFromStream(id, *w.object_class, reader, budget, text, value_scratch,
                                 w.registry, w.core_types, comment_scratch, &types,
                                 &stream_state)) {
        Die("write from the stream failed");
      }
    }
    benchmark::DoNotOptimize(text.data);
  }
  state.SetItemsProcessed(state.iterations() * kObjectCount);
  state.SetBytesProcessed(state.iterations() * text.length);
}
BENCHMARK(BM_WriteObjectsFromStream);

// Short appends of the kind the writer makes, into a text reserved once.
void BM_AppendPieces(benchmark::State& state) {
  CStringBufferA text;
  text.Reserve(1u << 20);
  for (auto _ : state) {
    text.Clear(false);
    for (int i = 0; i < 8192; ++i) {
      text.Append("\tHealth = ", 10);
      text.AppendChar('"');
      text.Append("12345", 5);
      text.Append("\"\r\n", 3);
    }
    benchmark::DoNotOptimize(text.data);
  }
  state.SetItemsProcessed(state.iterations() * 8192 * 4);
}
BENCHMARK(BM_AppendPieces);

// Value nodes taken from the process-wide pool and given back, 64 at a time.
void BM_ValueNodeAllocateFree(benchmark::State& state) {
  ValueNodePool& pool = DefaultValueNodePool();
  ValueNode* nodes[64];
  for (auto _ : state) {
    for (ValueNode*& node : nodes) node = pool.Allocate();
    benchmark::DoNotOptimize(nodes);
    for (ValueNode* node : nodes) pool.Free(node);
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_ValueNodeAllocateFree);

}  // namespace
