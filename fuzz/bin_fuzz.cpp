// fuzz/bin_fuzz.cpp - feeds arbitrary bytes to gentext's path as a whole .bin file.
//
// The bytes go through the header check, the type information, the list-field switch, the
// object stream (scanned as gentext's first pass does, and loaded) and the document writer,
// as gentext runs them. When a document comes out and
// the parser takes it back against the file's own types (as genbin would with a type library
// built from this one file), the re-encoded file must load and write to the same document.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxFuzzInputBytes) return 0;
  CheckBinRoundTrip(data, static_cast<uint32_t>(size), nullptr, false);
  return 0;
}
