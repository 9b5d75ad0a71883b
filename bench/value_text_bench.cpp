// bench/value_text_bench.cpp - the text of single values: float and integer printing, and
// float parsing on the genbin path.
//
// Each benchmark cycles through a fixed table of values (fixed seeds), so runs compare. The
// "typed" floats are what a person or a tool writes (a few significant digits, small
// exponents); the "bits" floats are random finite bit patterns, which need 8 or 9 digits.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "document/lexer.h"
#include "foundation/string_buffer.h"
#include "types/float_text.h"
#include "types/primitive_types.h"
#include "types/value.h"

namespace {

constexpr uint32_t kTableSize = 4096;  // a power of two

std::vector<float> TypedFloats() {
  std::mt19937 rng(11);
  std::vector<float> values;
  for (uint32_t i = 0; i < kTableSize; ++i) {
    char text[32];
    std::snprintf(text, sizeof(text), "%d.%02d", static_cast<int>(rng() % 20001) - 10000,
                  static_cast<int>(rng() % 100));
    values.push_back(std::strtof(text, nullptr));
  }
  return values;
}

std::vector<float> RandomBitFloats() {
  std::mt19937 rng(12);
  std::vector<float> values;
  while (values.size() < kTableSize) {
    const float value = std::bit_cast<float>(static_cast<uint32_t>(rng()));
    if (std::isfinite(value)) values.push_back(value);
  }
  return values;
}

void FormatFloats(benchmark::State& state, const std::vector<float>& values) {
  char text[kFloatTextCapacity];
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatFloat(values[i++ & (kTableSize - 1)], text));
    benchmark::ClobberMemory();
  }
}

void BM_FormatFloatTyped(benchmark::State& state) { FormatFloats(state, TypedFloats()); }
BENCHMARK(BM_FormatFloatTyped);

void BM_FormatFloatRandomBits(benchmark::State& state) { FormatFloats(state, RandomBitFloats()); }
BENCHMARK(BM_FormatFloatRandomBits);

void BM_FormatFloatPowersOfTwo(benchmark::State& state) {
  std::vector<float> values;
  for (uint32_t i = 0; i < kTableSize; ++i) values.push_back(std::ldexp(1.0f, int(i % 40) - 20));
  FormatFloats(state, values);
}
BENCHMARK(BM_FormatFloatPowersOfTwo);

// A cInt value through its type, as the document writer prints it.
void BM_FormatIntValue(benchmark::State& state) {
  std::mt19937 rng(13);
  std::vector<int32_t> values;
  for (uint32_t i = 0; i < kTableSize; ++i)
    values.push_back(static_cast<int32_t>(rng()) >> (i % 31));
  ValueNode node{};
  TStringBufferA<64> out, comment;
  uint32_t i = 0;
  for (auto _ : state) {
    node.payload.int32 = values[i++ & (kTableSize - 1)];
    benchmark::DoNotOptimize(CIntType.FormatValue(out, node, nullptr, comment));
  }
}
BENCHMARK(BM_FormatIntValue);

std::vector<std::string> FloatTexts(const std::vector<float>& values) {
  std::vector<std::string> texts;
  char text[kFloatTextCapacity];
  for (const float value : values) texts.emplace_back(text, FormatFloat(value, text));
  return texts;
}

// A cFloat value parsed from its text, as genbin parses a field: the lexer over the text.
void ParseFloatValues(benchmark::State& state, const std::vector<std::string>& texts) {
  Lexer lexer;
  ValueNode node{};
  uint32_t i = 0;
  for (auto _ : state) {
    lexer.source.Assign(texts[i++ & (kTableSize - 1)].c_str());
    ResetLexer(lexer);
    benchmark::DoNotOptimize(CFloatType.ParseValue(lexer, node, nullptr));
  }
}

void BM_ParseFloatValueTyped(benchmark::State& state) {
  ParseFloatValues(state, FloatTexts(TypedFloats()));
}
BENCHMARK(BM_ParseFloatValueTyped);

void BM_ParseFloatValueRandomBits(benchmark::State& state) {
  ParseFloatValues(state, FloatTexts(RandomBitFloats()));
}
BENCHMARK(BM_ParseFloatValueRandomBits);

// The lexer's own conversion of a scanned number (the path of a number after a comment).
void BM_NumberToDouble(benchmark::State& state) {
  const std::vector<std::string> texts = FloatTexts(RandomBitFloats());
  std::vector<NumberToken> numbers;
  Lexer lexer;
  for (const std::string& text : texts) {
    lexer.source.Assign(text.c_str());
    ResetLexer(lexer);
    if (NextToken(lexer) == TokenKind::kNumber) numbers.push_back(lexer.number);
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(NumberToDouble(numbers[i++ % numbers.size()]));
  }
}
BENCHMARK(BM_NumberToDouble);

}  // namespace
