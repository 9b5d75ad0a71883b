// commands/gentext.cpp - the gentext command: converts a .bin file into a text document.
//
// The file is read in two passes over its object stream. The first checks every object as a
// full load would (same failures, same messages) but keeps only each object's class and ID
// (and the values of its pointers), so every pointer comment can name its target's class
// wherever it is referenced. The second writes each value as it decodes it
// (WriteObjectFromStream), so memory holds the file's bytes, eight bytes per object, four per
// pointer and a little text, never an object's tree of values.
//
// The text goes to a temporary file beside the output in pieces of about a megabyte while it
// is produced, and is renamed over the output only when the whole document has been written:
// a failure at any point leaves no output file, and an existing file of that name keeps its
// content. The messages are those of a document built whole and written at the end: a write
// that fails part-way is reported after "Finished generating output." (and a document that
// cannot be generated is reported as such even when the writing failed before).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/field_types.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Generate text from bin file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .bin file\n",
    "[output file] - Output text file, defaults to inputfile.txt\n",
};

// Text is handed to the output file once this much of it has been written; the buffer is
// then emptied and reused, so it stays near this size (an object's text is seldom larger).
constexpr uint32_t kFlushBytes = 1u << 20;

// The output file of one run, fed in pieces. Remembers a failed write and drops what comes
// after it, so the generation still runs to its end and reports its own failure first.
class TextOutput {
 public:
  explicit TextOutput(const char* path) : path_(path) {}

  // Passes `text` on to the file when it holds at least kFlushBytes (every byte when `all`)
  // and empties it. False when the document grows past kMaxDocumentBytes.
  bool Take(CStringBufferA& text, bool all) {
    if (text.length < kFlushBytes && !all) {
      return true;
    }
    if (uint64_t{written_} + text.length > kMaxDocumentBytes) {
      return false;
    }
    written_ += text.length;
    if (!failed_ && !file_.IsOpen() && !file_.Open(path_)) {
      failed_ = true;
    }
    if (!failed_ && !file_.Write(text.data, text.length)) {
      failed_ = true;
    }
    text.Clear(false);
    return true;
  }

  // Renames the finished file over the output; false when any write failed.
  bool Commit() { return !failed_ && file_.Commit(); }

 private:
  const char* path_;
  OutputFile file_;
  uint32_t written_ = 0;
  bool failed_ = false;
};

// What the first pass leaves for the second and for the pointer comments. The dictionaries
// borrow the index or the ID table, so it is declared before them.
struct ScanResult {
  ScannedObjectList objects;        // class hash and ID of each object, in stream order
  PointerLog pointers;              // every cPointer value, for reading index slots ahead
  ObjectClassIndex object_classes;  // ID -> class, for the pointer comments
  bool indexed = false;             // object_classes was built
  ObjectIdTable ids;                // answers the comments instead when the index was not
  OwnedObjectList nodes;            // the top-level nodes `ids` points at
};

// Enters every scanned object in the result's ID table, in stream order, each as a top-level
// node (its class hash and ID). False when a node or a table entry cannot be had.
bool EnterObjectIds(ScanResult& scan) {
  for (const ScannedObject& object : scan.objects) {
    ValueNode* node = NewObjectValue(object.class_hash, object.id);
    if (!scan.nodes.Append(node)) {
      return false;
    }
    ValueNode** entry = scan.ids.FindOrInsert(object.id, true);
    if (entry == nullptr) {
      return false;
    }
    *entry = node;
  }
  return true;
}

// Reads the input and checks its types and objects, printing the progress lines and the failure
// message of the phase that fails. The file's bytes stay in `file` for the second pass. Once
// every object is known, pointer comments look their targets' classes up in one flat index;
// without memory for it, the ID table is filled to answer them instead (the later of two
// objects with one ID stands in either).
bool LoadInput(const char* input, FileContent& file, TypeRegistry& registry,
               CoreTypeTable& core_types, ScanResult& scan, uint32_t& objects_offset) {
  if (!LoadBinInputTypes(input, file, registry, objects_offset)) {
    return false;
  }
  std::printf("Loading objects...\n");
  BitReader reader(file.data + objects_offset, file.size - objects_offset);
  if (!BuildCoreTypeTable(core_types) ||
      !ScanObjects(reader, registry, core_types, scan.objects, &scan.pointers)) {
    std::printf("Failed to load objects.\n");
    return false;
  }
  scan.indexed = scan.object_classes.Build(scan.objects);
  if (!scan.indexed && !EnterObjectIds(scan)) {
    scan.ids.Clear();
    std::printf("Failed to load objects.\n");
    return false;
  }
  std::printf("Finished loading objects.\n");
  return true;
}

// Objects whose pointers' index slots are read ahead together.
constexpr size_t kWarmObjects = 16;
// Where the reads ahead leave what they read; nothing uses it.
volatile uint32_t warmed_slots = 0;

// Reads the index slots of the pointers of objects `first` to `first + kWarmObjects - 1` (counted
// from 0) before their comments look them up: the reads of a group overlap, where each lookup
// alone would wait for its slot. Nothing when the log or the index is missing.
void WarmPointerTargets(const PointerLog& pointers, const ObjectClassIndex* object_classes,
                        size_t first) {
  const size_t objects = pointers.object_starts.size();
  if (object_classes == nullptr || !pointers.complete || first >= objects) {
    return;
  }
  const size_t last = first + kWarmObjects;
  const size_t end = last < objects ? pointers.object_starts[last] : pointers.ids.size();
  uint32_t seen = 0;
  for (size_t i = pointers.object_starts[first]; i < end; ++i) {
    seen ^= object_classes->Touch(pointers.ids[i]);
  }
  warmed_slots = seen;  // kept, so the reads are made
}

// Decodes and writes every object in stream order, one at a time and each value as it is read,
// handing the text to `output` as it grows. The index slots that the pointer comments look up
// are read a group of objects ahead.
bool GenerateText(const FileContent& file, uint32_t objects_offset, const TypeRegistry& registry,
                  const CoreTypeTable& core_types, const ScanResult& scan, TextOutput& output) {
  const ScannedObjectList& objects = scan.objects;
  const ObjectClassIndex* object_classes = scan.indexed ? &scan.object_classes : nullptr;
  CStringBufferA text;
  text.Reserve(kFlushBytes + kFlushBytes / 4);
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  BitReader reader(file.data + objects_offset, file.size - objects_offset);
  DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
  FieldTypeCache types(registry, core_types);
  StreamWriterState stream_state;
  for (size_t index = 0; index < objects.size(); ++index) {
    if (index % kWarmObjects == 0) {
      WarmPointerTargets(scan.pointers, object_classes, index);
    }
    reader.Read(32);  // the class hash and ID, which the scan kept
    reader.Read(32);
    const ScannedObject& object = objects[index];
    const ClassType* class_type = registry.Find(object.class_hash);
    if (class_type == nullptr ||
        !WriteObjectFromStream(object.id, *class_type, reader, budget, text, value_scratch,
                               registry, core_types, comment_scratch, &types, &stream_state) ||
        reader.failed || !output.Take(text, false)) {
      return false;
    }
  }
  return output.Take(text, true);
}

}  // namespace

int RunGenText(int count, char** args, const char* exe_folder) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 1, ".txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ScanResult scan;
  // Declared after the tables it borrows, so it is released before them on every path.
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, exe_folder, &registry, &scan.ids);

  FileContent file;
  uint32_t objects_offset = 0;
  if (!LoadInput(input, file, registry, core_types, scan, objects_offset)) {
    return kExitFailure;
  }
  if (scan.indexed) {
    dictionaries.object_classes = &scan.object_classes;
  }

  std::printf("Generating output...\n");
  TextOutput text_output(output.data);
  if (!GenerateText(file, objects_offset, registry, core_types, scan, text_output)) {
    std::printf("Failed to generate output.\n");
    return kExitFailure;
  }
  std::printf("Finished generating output.\n");

  if (!text_output.Commit()) {
    std::printf("Failed to write \"%s\".\n", output.data);
    return kExitFailure;
  }
  std::printf("Successfully generated \"%s\".\n", output.data);
  return kExitSuccess;
}
