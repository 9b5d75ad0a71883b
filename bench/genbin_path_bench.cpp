// bench/genbin_path_bench.cpp - the stages of genbin one at a time: lexing, parsing, value text
// and encoding, over a document generated in memory.
//
// The document has kObjects objects of twelve fields in the form gentext writes (TAB
// indentation, CR LF lines, an ID comment and a quoted name): integers, a float, a vector, a
// boolean, a string of 0..40 bytes, a reference, a hash given as a name, an integer array of
// 0..8 elements, a nested class of three fields, a byte and a short. Values are pseudo-random
// with a fixed seed. Each benchmark reports bytes of text and objects per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

#include "bench/bench_classes.h"
#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/document_parser.h"
#include "document/lexer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

namespace {

constexpr uint32_t kObjects = 20000;

// The class types, the core types and the document text, made once for every benchmark.
struct Workload {
  TypeRegistry registry;
  CoreTypeTable core_types;
  std::string text;
  bool ready = false;

  Workload() {
    ready = BuildCoreTypeTable(core_types) &&
            AddBenchClass(
                registry, "cPathPart",
                {{"Count", kCIntHash, 0}, {"Weight", kCFloatHash, 0}, {"Tag", kCHashHash, 0}}) &&
            AddBenchClass(registry, "cPathObject",
                          {{"Health", kCIntHash, 0},
                           {"Speed", kCFloatHash, 0},
                           {"Position", kCVector3Hash, 0},
                           {"Enabled", kCBoolHash, 0},
                           {"Name", kCStringHash, 0},
                           {"Owner", kCPointerHash, 0},
                           {"Template", kCHashHash, 0},
                           {"Values", kCIntHash, -1},
                           {"Part", NameHash("cPathPart"), 0},
                           {"Small", kCByteHash, 0},
                           {"Medium", kCShortHash, 0},
                           {"Level", kCIntHash, 0}});
    std::mt19937 rng(20241207);
    const auto uniform = [&rng](int32_t low, int32_t high) {
      return std::uniform_int_distribution<int32_t>(low, high)(rng);
    };
    const auto real = [&rng](float low, float high) {
      return std::uniform_real_distribution<float>(low, high)(rng);
    };
    char line[256];
    for (uint32_t i = 0; i < kObjects; ++i) {
      std::snprintf(line, sizeof line, "cPathObject /* %u */ 'Object_%06u' {\r\n",
                    NameHash(("Object_" + std::to_string(i)).c_str()), i);
      text += line;
      std::snprintf(line, sizeof line,
                    "\tHealth = \"%d\"\r\n\tSpeed = \"%.8g\"\r\n"
                    "\tPosition = \"%.8g,%.8g,%.8g\"\r\n\tEnabled = \"%s\"\r\n",
                    uniform(-1000, 100000), real(0, 50), real(-4000, 4000), real(-4000, 4000),
                    real(-4000, 4000), uniform(0, 1) != 0 ? "true" : "false");
      text += line;
      text += "\tName = \"";
      text.append(static_cast<size_t>(uniform(0, 40)), static_cast<char>('a' + i % 26));
      std::snprintf(line, sizeof line,
                    "\"\r\n\tOwner = \"@'Object_%06u'\" //cPathObject\r\n"
                    "\tTemplate = \"'Template_%d'\"\r\n\tValues = [\r\n",
                    static_cast<uint32_t>(uniform(0, kObjects - 1)), uniform(0, 99));
      text += line;
      for (int32_t n = uniform(0, 8); n > 0; --n) {
        std::snprintf(line, sizeof line, "\t\t\"%d\"\r\n", uniform(-50000, 50000));
        text += line;
      }
      std::snprintf(line, sizeof line,
                    "\t]\r\n\tPart = {\r\n\t\tCount = \"%d\"\r\n\t\tWeight = \"%.8g\"\r\n"
                    "\t\tTag = \"%u\"\r\n\t}\r\n\tSmall = \"%d\"\r\n\tMedium = \"%d\"\r\n"
                    "\tLevel = \"%d\"\r\n}\r\n",
                    uniform(0, 99), real(0, 10), static_cast<uint32_t>(uniform(0, 1 << 30)),
                    uniform(-128, 127), uniform(-32768, 32767), uniform(0, 60));
      text += line;
    }
  }
};

const Workload& TheWorkload() {
  static const Workload workload;
  return workload;
}

void LoadSource(Lexer& lexer, const Workload& workload) {
  lexer.file_name.Assign("bench.txt");
  lexer.source.Clear(false);
  lexer.source.Append(workload.text.data(), static_cast<uint32_t>(workload.text.size()));
  ResetLexer(lexer);
}

void ReportRates(benchmark::State& state, const Workload& workload) {
  const auto passes = static_cast<int64_t>(state.iterations());
  state.SetBytesProcessed(passes * static_cast<int64_t>(workload.text.size()));
  state.counters["objects/s"] =
      benchmark::Counter(static_cast<double>(passes) * kObjects, benchmark::Counter::kIsRate);
}

// Releases each object as soon as the parser hands it over, as genbin does.
class ReleasingSink final : public ObjectSink {
 public:
  void TakeObjects(ValueObjectList& objects) override { ReleaseObjects(objects); }
};

// Encodes and releases each object as it is handed over; with `direct`, lets the parser encode
// in-order objects straight from the text, as genbin does.
class EncodingSink final : public ObjectSink {
 public:
  EncodingSink(const Workload& workload, ByteBuffer& stream, bool direct)
      : workload_(workload), writer_(stream), direct_(direct) {}
  void TakeObjects(ValueObjectList& objects) override {
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      failed_ |= !WriteBinObject(workload_.registry, workload_.core_types, *object, writer_);
    }
    ReleaseObjects(objects);
  }
  BitWriter* DirectWriter() override { return direct_ && !failed_ ? &writer_ : nullptr; }
  bool failed() const { return failed_; }

 private:
  const Workload& workload_;
  BitWriter writer_;
  bool direct_;
  bool failed_ = false;
};

void BM_LexDocument(benchmark::State& state) {
  const Workload& workload = TheWorkload();
  Lexer lexer;
  LoadSource(lexer, workload);
  for (auto _ : state) {
    ResetLexer(lexer);
    uint32_t tokens = 0;
    while (NextToken(lexer) != TokenKind::kEof) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  ReportRates(state, workload);
}
BENCHMARK(BM_LexDocument)->Unit(benchmark::kMillisecond);

void BM_ParseDocument(benchmark::State& state) {
  const Workload& workload = TheWorkload();
  Lexer lexer;
  Lexer value_lexer;
  LoadSource(lexer, workload);
  ReleasingSink sink;
  for (auto _ : state) {
    ResetLexer(lexer);
    ReferencedTypeSet referenced;
    OwnedObjectList objects;
    if (!workload.ready || !ParseDocumentObjects(lexer, value_lexer, workload.registry,
                                                 workload.core_types, referenced, objects, sink)) {
      state.SkipWithError("parse failed");
      return;
    }
  }
  ReportRates(state, workload);
}
BENCHMARK(BM_ParseDocument)->Unit(benchmark::kMillisecond);

// Parsing and encoding together, one object at a time: genbin without file input and output
// (argument 1: objects encoded straight from the text, as genbin does; 0: through trees).
void BM_ParseAndEncode(benchmark::State& state) {
  const Workload& workload = TheWorkload();
  Lexer lexer;
  Lexer value_lexer;
  LoadSource(lexer, workload);
  ByteBuffer stream(kGranuleBytes);
  for (auto _ : state) {
    ResetLexer(lexer);
    stream.Reset();
    EncodingSink sink(workload, stream, state.range(0) != 0);
    ReferencedTypeSet referenced;
    OwnedObjectList objects;
    if (!workload.ready ||
        !ParseDocumentObjects(lexer, value_lexer, workload.registry, workload.core_types,
                              referenced, objects, sink) ||
        sink.failed()) {
      state.SkipWithError("parse or encode failed");
      return;
    }
  }
  ReportRates(state, workload);
}
BENCHMARK(BM_ParseAndEncode)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Encoding alone, over trees parsed once.
void BM_EncodeObjects(benchmark::State& state) {
  const Workload& workload = TheWorkload();
  Lexer lexer;
  Lexer value_lexer;
  LoadSource(lexer, workload);
  ReferencedTypeSet referenced;
  OwnedObjectList objects;
  if (!workload.ready || !ParseDocument(lexer, value_lexer, workload.registry, workload.core_types,
                                        referenced, objects)) {
    state.SkipWithError("parse failed");
    return;
  }
  ByteBuffer stream(kGranuleBytes);
  for (auto _ : state) {
    stream.Reset();
    BitWriter writer(stream);
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      if (!WriteBinObject(workload.registry, workload.core_types, *object, writer)) {
        state.SkipWithError("encode failed");
        return;
      }
    }
    benchmark::DoNotOptimize(stream.data);
  }
  ReportRates(state, workload);
}
BENCHMARK(BM_EncodeObjects)->Unit(benchmark::kMillisecond);

}  // namespace
