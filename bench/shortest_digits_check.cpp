// bench/shortest_digits_check.cpp - compares ShortestFloatDigits with std::to_chars(float) for
// every positive finite float bit pattern.
//
//   qvx_shortest_digits_check [threads]
//
// Every pattern 0x00000001..0x7F7FFFFF is given to both; the digits and the decimal exponent
// must agree. Prints the counts and the first mismatches; exits 1 when any pattern differs.
#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "types/float_text.h"

namespace {

constexpr uint32_t kFirstBits = 0x00000001u;
constexpr uint32_t kLastBits = 0x7F7FFFFFu;
constexpr uint32_t kChunk = 1u << 16;

struct Totals {
  std::atomic<uint32_t> next_chunk{0};
  std::atomic<uint64_t> compared{0};
  std::atomic<uint64_t> mismatches{0};
  std::mutex print_lock;
};

// The digits and exponent of to_chars' "d[.ddd]e[+-]dd", with the digits NUL-terminated.
int32_t LibraryDigits(float value, char (&digits)[kFloatTextCapacity]) {
  char text[kFloatTextCapacity];
  char* const end =
      std::to_chars(text, text + sizeof(text) - 1, value, std::chars_format::scientific).ptr;
  *end = '\0';
  const char* const e = static_cast<const char*>(std::memchr(text, 'e', end - text));
  uint32_t count = 0;
  for (const char* c = text; c != e; ++c) {
    if (*c != '.') digits[count++] = *c;
  }
  digits[count] = '\0';
  return static_cast<int32_t>(std::strtol(e + 1, nullptr, 10));
}

void CheckChunks(Totals& totals) {
  const uint64_t chunks = (uint64_t{kLastBits} + kChunk) / kChunk;
  for (uint32_t chunk = totals.next_chunk.fetch_add(1); chunk < chunks;
       chunk = totals.next_chunk.fetch_add(1)) {
    const uint64_t first = std::max<uint64_t>(uint64_t{chunk} * kChunk, kFirstBits);
    const uint64_t last = std::min<uint64_t>(uint64_t{chunk} * kChunk + kChunk - 1, kLastBits);
    uint64_t compared = 0;
    for (uint64_t bits = first; bits <= last; ++bits) {
      const float value = std::bit_cast<float>(static_cast<uint32_t>(bits));
      char got[kFloatDigitsCapacity], want[kFloatTextCapacity];  // both end in a NUL
      int32_t got_exponent = 0;
      const uint32_t count = ShortestFloatDigits(value, got, got_exponent);
      const int32_t want_exponent = LibraryDigits(value, want);
      ++compared;
      if (count == std::strlen(want) && std::strcmp(got, want) == 0 &&
          got_exponent == want_exponent) {
        continue;
      }
      if (totals.mismatches.fetch_add(1) < 20) {
        std::lock_guard<std::mutex> lock(totals.print_lock);
        std::printf("mismatch at 0x%08" PRIX32 ": got %s e%d (%u digits), want %s e%d\n",
                    static_cast<uint32_t>(bits), got, got_exponent, count, want, want_exponent);
      }
    }
    totals.compared += compared;
    if (chunk % 4096 == 4095) {
      std::lock_guard<std::mutex> lock(totals.print_lock);
      std::printf("%" PRIu64 " compared, %" PRIu64 " mismatches\n", totals.compared.load(),
                  totals.mismatches.load());
      std::fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t threads = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 2;
  if (threads == 0) {
    std::fprintf(stderr, "usage: qvx_shortest_digits_check [threads]\n");
    return 2;
  }
  Totals totals;
  std::vector<std::thread> workers;
  for (uint32_t i = 0; i < threads; ++i) workers.emplace_back(CheckChunks, std::ref(totals));
  for (std::thread& worker : workers) worker.join();
  std::printf("compared with std::to_chars: %" PRIu64 " bit patterns\n", totals.compared.load());
  std::printf("mismatches: %" PRIu64 "\n", totals.mismatches.load());
  return totals.mismatches.load() == 0 ? 0 : 1;
}
