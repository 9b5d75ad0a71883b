// bench/float_text_check.cpp - compares FormatFloat with the plain precision search it
// replaces, for every non-negative float bit pattern.
//
//   qvx_float_text_check [threads] [negative stride] [block sample]
//
// The reference below is the straightforward definition of the float text: "%.*G" of the
// widened double for precision 6..9, stopping at the first text that reads back to the same
// bits. Every pattern 0x00000000..0x7FFFFFFF is compared in full; for each of them the
// negative pattern must print as "-" followed by the positive text, and every
// `negative stride`-th negative pattern (default 16) is compared with the reference as well.
// Blocks of 65536 patterns are taken in bit-reversed order, so a run stopped early has still
// sampled every exponent; a progress line follows every 256 blocks. A block sample k > 1
// checks only every k-th block, for a quick look.
// Prints the counts and the first mismatches; exits 1 when any text differs.
#include <atomic>
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "types/float_text.h"

namespace {

uint32_t ReferenceText(float value, char (&out)[kFloatTextCapacity]) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits & 0x80000000u) != 0;
  const char* word = nullptr;
  if (std::isnan(value)) {
    word = negative ? "-NAN" : "NAN";
  } else if (std::isinf(value)) {
    word = negative ? "-INF" : "INF";
  }
  if (word != nullptr) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(word));
    std::memcpy(out, word, length + 1);
    return length;
  }
  uint32_t length = 0;
  for (int precision = 6; precision <= 9; ++precision) {
    const std::to_chars_result result = std::to_chars(
        out, out + kFloatTextCapacity - 1, double{value}, std::chars_format::general, precision);
    length = static_cast<uint32_t>(result.ptr - out);
    out[length] = '\0';
    if (char* e = static_cast<char*>(std::memchr(out, 'e', length))) {
      *e = 'E';
    }
    double read = 0.0;
    const std::from_chars_result parsed = std::from_chars(out, out + length, read);
    if (parsed.ec == std::errc() && parsed.ptr == out + length &&
        std::bit_cast<uint32_t>(static_cast<float>(read)) == bits) {
      break;
    }
  }
  return length;
}

constexpr uint32_t kBlockBits = 16;
constexpr uint32_t kBlockCount = 1u << (31 - kBlockBits);

// Block i of the walk: the 15-bit index reversed.
uint32_t BlockAt(uint32_t i) {
  uint32_t reversed = 0;
  for (uint32_t bit = 0; bit < 31 - kBlockBits; ++bit) {
    reversed |= ((i >> bit) & 1u) << (30 - kBlockBits - bit);
  }
  return reversed;
}

struct Totals {
  std::atomic<uint32_t> blocks{0};
  std::atomic<uint64_t> compared{0};
  std::atomic<uint64_t> mirrored{0};
  std::atomic<uint64_t> mismatches{0};
  std::mutex print_lock;
};

void Report(Totals& totals, const char* what, uint32_t bits, const char* got, const char* want) {
  if (totals.mismatches.fetch_add(1) < 20) {
    std::lock_guard<std::mutex> lock(totals.print_lock);
    std::printf("%s mismatch at 0x%08" PRIX32 ": got \"%s\", want \"%s\"\n", what, bits, got, want);
  }
}

void CheckSlice(Totals& totals, uint32_t slice, uint32_t slices, uint32_t negative_stride,
                uint32_t sample) {
  char got[kFloatTextCapacity], want[kFloatTextCapacity], minus[kFloatTextCapacity];
  for (uint32_t i = slice; i < kBlockCount; i += slices) {
    const uint32_t block = BlockAt(i);
    if (block % sample != 0) continue;
    uint64_t compared = 0, mirrored = 0;
    for (uint32_t bits = block << kBlockBits, stop = bits + (1u << kBlockBits); bits != stop;
         ++bits) {
      const uint32_t length = FormatFloat(std::bit_cast<float>(bits), got);
      ReferenceText(std::bit_cast<float>(bits), want);
      if (std::strcmp(got, want) != 0) Report(totals, "positive", bits, got, want);
      ++compared;

      const uint32_t negative_bits = bits | 0x80000000u;
      const uint32_t minus_length = FormatFloat(std::bit_cast<float>(negative_bits), minus);
      const bool is_nan = std::isnan(std::bit_cast<float>(bits));
      if (!is_nan && (minus_length != length + 1 || minus[0] != '-' ||
                      std::memcmp(minus + 1, got, length + 1) != 0)) {
        Report(totals, "mirror", negative_bits, minus, got);
      }
      ++mirrored;
      if (bits % negative_stride == 0) {
        ReferenceText(std::bit_cast<float>(negative_bits), want);
        if (std::strcmp(minus, want) != 0) Report(totals, "negative", negative_bits, minus, want);
        ++compared;
      }
    }
    totals.compared += compared;
    totals.mirrored += mirrored;
    if (const uint32_t done = totals.blocks.fetch_add(1) + 1; done % 256 == 0) {
      std::lock_guard<std::mutex> lock(totals.print_lock);
      std::printf("%u blocks: %" PRIu64 " compared, %" PRIu64 " mismatches\n", done,
                  totals.compared.load(), totals.mismatches.load());
      std::fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t threads = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 2;
  const uint32_t negative_stride = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 16;
  const uint32_t sample = argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 1;
  if (threads == 0 || negative_stride == 0 || sample == 0) {
    std::fprintf(stderr, "usage: qvx_float_text_check [threads] [negative stride] [sample]\n");
    return 2;
  }
  Totals totals;
  std::vector<std::thread> workers;
  for (uint32_t i = 0; i < threads; ++i) {
    workers.emplace_back(CheckSlice, std::ref(totals), i, threads, negative_stride, sample);
  }
  for (std::thread& worker : workers) worker.join();
  std::printf("compared with the reference: %" PRIu64 " bit patterns\n", totals.compared.load());
  std::printf("negatives checked as mirrors: %" PRIu64 "\n", totals.mirrored.load());
  std::printf("mismatches: %" PRIu64 "\n", totals.mismatches.load());
  return totals.mismatches.load() == 0 ? 0 : 1;
}
