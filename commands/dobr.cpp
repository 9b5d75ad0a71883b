// commands/dobr.cpp - the dobr command: prints the bit range of every field of one object of a
// .bin file.
//
// Each field gives one line "<path>: <start> - <end> (<length>)", the path starting with
// "object" and the positions counted from the first bit of the object's fields; a nested
// field's line comes before the line of the field that holds it. Only the objects up to the
// first one with the requested ID are read. The optional output path is accepted for the
// sake of the shared usage text and not used: dobr writes no file.
#include <cstdio>

#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "commands/object_usage.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_stream.h"

int RunDobr(int count, char** args, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kObjectUsage, kObjectUsageLineCount);
    return kExitUsage;
  }
  const uint32_t object_id = ParseObjectIdArgument(args[1]);
  const char* input = args[0];

  ObjectSearchState state;
  ObjectSearch search = ObjectSearch::kFailed;
  if (!SearchObjectInFile(input, object_id, state, search)) return kExitFailure;
  const TypeRegistry& registry = state.registry;
  const CoreTypeTable& core_types = state.core_types;
  BitReader& reader = state.reader;
  DecodeBudget& budget = state.budget;
  const FoundObject& found = state.found;
  if (search == ObjectSearch::kNotFound) {
    std::printf("Object was not found.\n");
    return kExitFailure;
  }
  bool listed = false;
  if (search == ObjectSearch::kFound) {
    CStringBufferA ranges;
    listed = PrintObjectBitRanges(*found.object, registry, core_types, *found.class_type, reader,
                                  found.fields_start, "object", ranges, &budget) &&
             !reader.failed;
    // The lines of the fields read before a failure are shown too: they tell where it stopped.
    std::fwrite(ranges.data, 1, ranges.length, stdout);
  }
  if (!listed) {
    std::printf("Failed to load objects.\n");
    return kExitFailure;
  }
  return kExitSuccess;
}
