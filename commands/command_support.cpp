// commands/command_support.cpp - steps that several commands share.
#include "commands/command_support.h"

#include <cstdio>

#include "bin/bin_file.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/file.h"
#include "foundation/path.h"

uint32_t ParseObjectIdArgument(const char* text) {
  if (text == nullptr) return 0;
  const char* c = text;
  // The white space of the C locale: space, TAB, LF, VT, FF and CR.
  while (*c == ' ' || (*c >= '\t' && *c <= '\r')) ++c;
  bool negative = false;
  if (*c == '+' || *c == '-') {
    negative = *c == '-';
    ++c;
  }
  // Accumulate the magnitude; past the signed 64-bit range the number saturates, as the C
  // library's conversion does, instead of wrapping to an unrelated ID.
  constexpr uint64_t kMaxPositive = uint64_t{INT64_MAX};
  constexpr uint64_t kMaxNegative = kMaxPositive + 1;
  const uint64_t limit = negative ? kMaxNegative : kMaxPositive;
  uint64_t magnitude = 0;
  for (; *c >= '0' && *c <= '9'; ++c) {
    const uint64_t digit = static_cast<uint64_t>(*c - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  const uint64_t value = negative ? (~magnitude + 1) : magnitude;
  return static_cast<uint32_t>(value);
}

bool ChooseOutputPath(const char* input, int count, char** args, int index, const char* suffix,
                      CStringBufferA& output) {
  if (count > index) {
    output.Assign(args[index]);
  } else {
    DeriveOutputName(input, output, suffix);
  }
  if (SameFile(input, output.data)) {
    std::printf("Output file is the same as the input file.\n");
    return false;
  }
  return true;
}

bool WriteDocument(const ValueNode* first, const TypeRegistry& registry,
                   const CoreTypeTable& core_types, CStringBufferA& text) {
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  FieldTypeCache types(registry, core_types);
  for (const ValueNode* object = first; object != nullptr; object = object->next) {
    const ClassType* class_type = registry.Find(object->type_hash);
    if (class_type == nullptr || !WriteObject(*object, *class_type, text, value_scratch, registry,
                                              core_types, comment_scratch, &types)) {
      std::printf("Failed to generate output.\n");
      return false;
    }
  }
  return true;
}

int WriteTextOutput(const char* output, const CStringBufferA& text) {
  if (!WriteWholeText(output, text)) {
    std::printf("Failed to write \"%s\".\n", output);
    return kExitFailure;
  }
  std::printf("Successfully generated \"%s\".\n", output);
  return kExitSuccess;
}

bool SearchObjectInFile(const char* input, uint32_t object_id, ObjectSearchState& state,
                        ObjectSearch& search) {
  uint32_t objects_offset = 0;
  if (!LoadBinInputTypes(input, state.file, state.registry, objects_offset)) return false;
  std::printf("Searching for object...\n");
  state.reader = BitReader(state.file.data + objects_offset, state.file.size - objects_offset);
  state.budget = DecodeBudget::ForBits(state.reader.RemainingBits());
  search = ObjectSearch::kFailed;
  if (BuildCoreTypeTable(state.core_types)) {
    search = SeekObject(state.reader, state.registry, state.core_types, object_id, state.objects,
                        state.budget, state.found);
  }
  return true;
}

bool LoadBinInputTypes(const char* input, FileContent& file, TypeRegistry& registry,
                       uint32_t& objects_offset) {
  if (!file.Load(input)) {
    std::printf("Failed to load \"%s\".\n", input);
    return false;
  }
  if (!CheckBinHeader(file.data, file.size)) {
    std::printf("Unexpected file format.\n");
    return false;
  }
  std::printf("Loading types...\n");
  if (LoadBinTypes(file.data, file.size, registry, objects_offset) != BinLoadResult::kOk) {
    std::printf("Failed to load types.\n");
    return false;
  }
  return true;
}

ObjectSearch SeekObject(BitReader& reader, const TypeRegistry& registry,
                        const CoreTypeTable& core_types, uint32_t object_id,
                        ValueObjectList& objects, DecodeBudget& budget, FoundObject& found) {
  while (!reader.failed && reader.RemainingBits() >= 32) {
    const uint32_t class_hash = reader.Read(32);
    if (reader.RemainingBits() < 32) return ObjectSearch::kFailed;
    const uint32_t id = reader.Read(32);
    ValueNode* object = NewObjectValue(class_hash, id);
    if (!objects.Append(object)) {
      ReleaseObject(object);
      return ObjectSearch::kFailed;
    }
    const ClassType* class_type = registry.Find(class_hash);
    if (class_type == nullptr) return ObjectSearch::kFailed;
    if (id == object_id) {
      found.object = object;
      found.class_type = class_type;
      found.fields_start = reader.position;
      return ObjectSearch::kFound;
    }
    if (!DecodeObjectFields(*object, registry, core_types, *class_type, reader, &budget) ||
        reader.failed) {
      return ObjectSearch::kFailed;
    }
  }
  // A reader that failed from the start (a range too large to address) read nothing.
  return reader.failed ? ObjectSearch::kFailed : ObjectSearch::kNotFound;
}
