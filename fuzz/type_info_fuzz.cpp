// fuzz/type_info_fuzz.cpp - feeds arbitrary bytes to the type information reader.
//
// Whatever loads must save, and the saved stream must load back to the same classes: the same
// names, keys and extra words, and the same fields in the same order with the same types,
// array sizes and quantization words. Saving the reloaded classes takes as many bytes again
// (the class order may differ: it follows the table, not the stream).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/byte_buffer.h"
#include "fuzz/fuzz_support.h"
#include "types/type_stream.h"

namespace {

bool SameName(const TStringBufferA<32>& a, const TStringBufferA<32>& b) {
  return a.length == b.length && std::memcmp(a.data, b.data, a.length) == 0;
}

bool SameField(const FieldInfo& a, const FieldInfo& b) {
  return SameName(a.name, b.name) && a.name_hash == b.name_hash && a.type_hash == b.type_hash &&
         a.quantization_mode == b.quantization_mode && a.array_size == b.array_size &&
         std::memcmp(&a.int_quantization, &b.int_quantization, sizeof(a.int_quantization)) == 0 &&
         std::memcmp(&a.float_quantization, &b.float_quantization, sizeof(a.float_quantization)) ==
             0;
}

bool SameClass(const ClassType& a, const ClassType& b) {
  if (!SameName(a.name, b.name) || a.name_hash != b.name_hash || a.extra_word != b.extra_word ||
      a.field_count != b.field_count) {
    return false;
  }
  for (uint32_t i = 0; i < a.field_count; ++i) {
    if (!SameField(a.fields[i], b.fields[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxFuzzInputBytes) return 0;
  TypeRegistry loaded;
  if (LoadTypeInfo(loaded, data, static_cast<uint32_t>(size)) == 0) return 0;
  ByteBuffer saved;
  FuzzCheck(SaveTypeInfo(loaded, saved) != 0);

  TypeRegistry reloaded;
  FuzzCheck(LoadTypeInfo(reloaded, saved.data, saved.size) == saved.size);
  FuzzCheck(reloaded.count() == loaded.count());
  loaded.ForEach([&](const ClassType& class_type) {
    const ClassType* twin = reloaded.Find(class_type.name_hash);
    FuzzCheck(twin != nullptr && SameClass(class_type, *twin));
  });

  ByteBuffer saved_again;
  FuzzCheck(SaveTypeInfo(reloaded, saved_again) == saved.size);
  return 0;
}
