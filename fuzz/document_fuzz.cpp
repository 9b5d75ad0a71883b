// fuzz/document_fuzz.cpp - feeds arbitrary bytes to genbin's path as a document.
//
// The text is lexed, parsed and validated against the class types of the example game folder
// and written as a .bin file, as genbin does with that folder's type library; genbin's reading
// that encodes objects straight from the text must give what reading trees gives. Whatever genbin
// writes must be a file that gentext loads, and the document of that file must convert back
// to a file whose document is the same text.
#include <cstddef>
#include <cstdint>

#include "foundation/byte_buffer.h"
#include "fuzz/example_types.h"
#include "fuzz/fuzz_support.h"
#include "types/type_stream.h"

namespace {

// The library every input is parsed against, loaded once with the list fields switched to
// cStringHash as genbin switches them.
TypeRegistry& ExampleLibrary() {
  static TypeRegistry* library = [] {
    static TypeRegistry registry;
    FuzzCheck(LoadTypeInfo(registry, kExampleTypeStream, sizeof(kExampleTypeStream)) != 0);
    TypePatch(registry, TypePatchDirection::kToStringHash);
    return &registry;
  }();
  return *library;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxFuzzInputBytes) return 0;
  TypeRegistry& library = ExampleLibrary();
  // genbin encodes objects straight from the text where it can: it must not change a thing.
  CheckDirectEncoding(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), library);
  ByteBuffer bin;
  if (!TextToBin(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), library, bin)) {
    return 0;
  }
  CheckBinRoundTrip(bin.data, bin.size, &library, true);
  return 0;
}
