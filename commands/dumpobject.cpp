// commands/dumpobject.cpp - the dumpobject command: copies the field bits of one object of a
// .bin file into a file of their own.
//
// The output holds the object's fields exactly as they stand in the stream (without its class
// hash and ID), moved to start at bit 0 of the first byte, least significant bit first; the
// bits of the last byte beyond the fields are zero. Only the objects up to the first one with
// the requested ID are read. The output is written atomically, never over the input.
#include <cstdio>

#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "commands/object_usage.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_stream.h"

namespace {

// Copies `length` bits from the reader's position to the start of `out`, a word at a time.
// False when the reader or the writer failed.
bool CopyBits(BitReader& reader, uint32_t length, ByteBuffer& out) {
  BitWriter writer(out);
  uint32_t remaining = length;
  while (remaining != 0) {
    const uint32_t chunk = remaining < 32 ? remaining : 32;
    writer.Write(chunk, reader.Read(chunk));
    if (reader.failed || writer.failed) return false;
    remaining -= chunk;
  }
  return !reader.failed;
}

}  // namespace

int RunDumpObject(int count, char** args, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kObjectUsage, kObjectUsageLineCount);
    return kExitUsage;
  }
  const uint32_t object_id = ParseObjectIdArgument(args[1]);
  const char* input = args[0];
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 2, ".data", output)) return kExitFailure;

  ObjectSearchState state;
  ObjectSearch search = ObjectSearch::kFailed;
  if (!SearchObjectInFile(input, object_id, state, search)) return kExitFailure;
  const TypeRegistry& registry = state.registry;
  const CoreTypeTable& core_types = state.core_types;
  BitReader& reader = state.reader;
  DecodeBudget& budget = state.budget;
  const FoundObject& found = state.found;
  if (search == ObjectSearch::kFound && (!DecodeObjectFields(*found.object, registry, core_types,
                                                             *found.class_type, reader, &budget) ||
                                         reader.failed)) {
    search = ObjectSearch::kFailed;
  }
  if (search == ObjectSearch::kFailed) {
    std::printf("Failed to parse data.\n");
    return kExitFailure;
  }
  if (search == ObjectSearch::kNotFound) {
    std::printf("Object was not found.\n");
    return kExitFailure;
  }

  const uint32_t length = reader.position - found.fields_start;
  reader.position = found.fields_start;
  std::printf("Object length = %u bits\n", length);
  ByteBuffer bits(kGranuleBytes);
  if (!CopyBits(reader, length, bits)) {
    std::printf("Error while copying data.\n");
    return kExitFailure;
  }
  ReleaseObjects(state.objects);

  if (!WriteWholeFile(output.data, bits)) {
    std::printf("Failed to write\"%s\".\n", output.data);
    return kExitFailure;
  }
  std::printf("Successfully wrote \"%s\".\n", output.data);
  return kExitSuccess;
}
