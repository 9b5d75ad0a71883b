// commands/bitcompare.cpp - the bitcompare command: compares two files bit by bit and prints
// the runs of bits that differ.
//
// Bit i of a file is bit i % 8 of byte i / 8, least significant bit first, as in the bit
// streams of a .bin file. Only the length of the shorter file is compared; a difference in
// length is not reported. A run of mismatching bits is reported when it ends (at the next
// matching bit, or after the last compared bit): a single bit as "Bit <i> mismatched." and a
// longer run as "Bits <first> - <end> (<count>) mismatched.", where <end> is one past its
// last bit. The exit status says whether any bit differed.
#include <cstdint>
#include <cstdio>

#include "commands/commands.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"

namespace {

const char* const kHelp[] = {
    "Compare two files at bit level\n",
    "<file 1> <file 2>\n",
    "<file 1> - First file\n",
    "<file 2> - ID of the object to dump\n",
};

void ReportRun(uint32_t start, uint32_t end) {
  const uint32_t length = end - start;
  if (length == 1) {
    std::printf("Bit %u mismatched.\n", start);
  } else {
    std::printf("Bits %u - %u (%u) mismatched.\n", start, end, length);
  }
}

// Prints every run of differing bits over the first `size` bytes of `a` and `b`; returns
// whether there was one. Files are below 512 MiB, so every bit index fits 32 bits.
bool CompareBits(const uint8_t* a, const uint8_t* b, uint32_t size) {
  bool differs = false;
  bool in_run = false;
  uint32_t run_start = 0;
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t diff = static_cast<uint32_t>(a[i] ^ b[i]);
    // Whole bytes that neither open nor close a run need no look at their bits.
    if ((diff == 0 && !in_run) || (diff == 0xFF && in_run)) continue;
    for (uint32_t bit = 0; bit < 8; ++bit) {
      const bool mismatch = ((diff >> bit) & 1) != 0;
      if (mismatch == in_run) continue;
      if (mismatch) {
        run_start = i * 8 + bit;
        in_run = true;
        differs = true;
      } else {
        ReportRun(run_start, i * 8 + bit);
        in_run = false;
      }
    }
  }
  if (in_run) ReportRun(run_start, size * 8);
  return differs;
}

}  // namespace

int RunBitCompare(int count, char** args, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  ByteBuffer first(kGranuleBytes);
  ByteBuffer second(kGranuleBytes);
  if (!ReadWholeFile(args[0], first) || !ReadWholeFile(args[1], second)) return kExitFailure;
  const uint32_t size = first.size < second.size ? first.size : second.size;
  return CompareBits(first.data, second.data, size) ? kExitFailure : kExitSuccess;
}
