// bench/bit_stream_bench.cpp - throughput of the bit cursors over a stream of a few MB.
//
// The field mix resembles decoded objects: flags, small enumerations, bytes, quantized
// numbers, 16-bit values, hashes and IDs, and VarUInts (array sizes, dynamic integers).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/string_buffer.h"

namespace {

constexpr uint32_t kVarUInt = 0;  // width marker for a VarUInt field
constexpr uint32_t kFieldCount = 1u << 20;

struct Schedule {
  std::vector<uint8_t> widths;
  std::vector<uint32_t> values;
};

const Schedule& MixedSchedule() {
  static const Schedule schedule = [] {
    static constexpr uint8_t kMix[] = {1, 5, 8, 13, 16, 32, kVarUInt, 1, 32, kVarUInt};
    std::mt19937 rng(7);
    Schedule s;
    s.widths.reserve(kFieldCount);
    s.values.reserve(kFieldCount);
    for (uint32_t i = 0; i < kFieldCount; ++i) {
      const uint32_t width = kMix[rng() % std::size(kMix)];
      auto value = static_cast<uint32_t>(rng());
      value = width == kVarUInt ? value >> (1 + rng() % 31)
                                : (width == 32 ? value : value & ((1u << width) - 1));
      s.widths.push_back(static_cast<uint8_t>(width));
      s.values.push_back(value);
    }
    return s;
  }();
  return schedule;
}

void WriteSchedule(const Schedule& s, ByteBuffer& buffer) {
  BitWriter writer(buffer);
  for (uint32_t i = 0; i < kFieldCount; ++i) {
    if (s.widths[i] == kVarUInt) {
      writer.WriteVarUInt(s.values[i]);
    } else {
      writer.Write(s.widths[i], s.values[i]);
    }
  }
  if (writer.failed) std::abort();
}

void BM_ReadMixedFields(benchmark::State& state) {
  const Schedule& s = MixedSchedule();
  ByteBuffer buffer;
  WriteSchedule(s, buffer);
  for (auto _ : state) {
    BitReader reader(buffer.data, buffer.size);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kFieldCount; ++i) {
      sum += s.widths[i] == kVarUInt ? reader.ReadVarUInt() : reader.Read(s.widths[i]);
    }
    if (reader.failed) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t{state.iterations()} * kFieldCount);
  state.SetBytesProcessed(int64_t{state.iterations()} * buffer.size);
}
BENCHMARK(BM_ReadMixedFields);

void BM_WriteMixedFields(benchmark::State& state) {
  const Schedule& s = MixedSchedule();
  ByteBuffer buffer;
  WriteSchedule(s, buffer);  // the capacity is kept, as in a command that reuses its buffer
  for (auto _ : state) {
    buffer.Reset();
    WriteSchedule(s, buffer);
    benchmark::DoNotOptimize(buffer.data);
  }
  state.SetItemsProcessed(int64_t{state.iterations()} * kFieldCount);
  state.SetBytesProcessed(int64_t{state.iterations()} * buffer.size);
}
BENCHMARK(BM_WriteMixedFields);

// The same fields, growing a fresh buffer granule by granule each time.
void BM_WriteMixedFieldsGrowing(benchmark::State& state) {
  const Schedule& s = MixedSchedule();
  uint32_t size = 0;
  for (auto _ : state) {
    ByteBuffer buffer;
    WriteSchedule(s, buffer);
    size = buffer.size;
    benchmark::DoNotOptimize(buffer.data);
  }
  state.SetItemsProcessed(int64_t{state.iterations()} * kFieldCount);
  state.SetBytesProcessed(int64_t{state.iterations()} * size);
}
BENCHMARK(BM_WriteMixedFieldsGrowing);

// The raw byte-loop routine over the same stream, for comparison with the cursor's word path.
void BM_ReadBitsRaw(benchmark::State& state) {
  const Schedule& s = MixedSchedule();
  ByteBuffer buffer;
  WriteSchedule(s, buffer);
  for (auto _ : state) {
    uint32_t position = 0;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kFieldCount; ++i) {
      uint32_t width = s.widths[i];
      if (width == kVarUInt) {
        width = ReadBits(buffer.data, position, 5);
        position += 5;
      }
      sum += ReadBits(buffer.data, position, width);
      position += width;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t{state.iterations()} * kFieldCount);
}
BENCHMARK(BM_ReadBitsRaw);

// Names of a few to a few dozen characters at every bit offset.
void BM_ReadWriteBitStrings(benchmark::State& state) {
  static const char* const kNames[] = {"cGameObjectState", "m_Position", "a", "",
                                       "WarpMotionByLocatorFlags@WMBLF_IGNORE_HEADING"};
  constexpr uint32_t kStrings = 1u << 16;
  ByteBuffer buffer;
  TStringBufferA<64> text;
  for (auto _ : state) {
    buffer.Reset();
    BitWriter writer(buffer);
    for (uint32_t i = 0; i < kStrings; ++i) {
      writer.Write(1 + i % 7, i);
      writer.WriteBitString(kNames[i % std::size(kNames)]);
    }
    BitReader reader(buffer.data, buffer.size);
    uint32_t total = 0;
    for (uint32_t i = 0; i < kStrings; ++i) {
      reader.Read(1 + i % 7);
      reader.ReadBitString(text);
      total += text.length;
    }
    if (writer.failed || reader.failed) state.SkipWithError("string stream failed");
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(int64_t{state.iterations()} * kStrings);
}
BENCHMARK(BM_ReadWriteBitStrings);

}  // namespace
