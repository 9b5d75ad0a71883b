// commands/renameall.cpp - the renameall command: gives every object of a .bin file a new name
// and writes the whole file as a document under the new names.
//
// The objects are named, in load order, the prefix followed by 0, 1, 2, ...; each takes the
// NameHash of its name as its ID, and the name enters the name table so the document shows it.
// Every reference to an ID carried by an object of the file is rewritten to that object's new
// ID (to the last one loaded, when several carry the ID); a reference to any other ID keeps its
// value. The document is written atomically at the end, never over the input.
#include <cstdio>
#include <vector>

#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/file.h"
#include "foundation/hash_table.h"
#include "foundation/name_hash.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Rename every object to a prefix and a running number\n",
    "<Input file> <name prefix> [output file]\n",
    "<Input file> - Input .bin file\n",
    "<Name prefix> - Prefix of the new object names\n",
    "[output file] - Output text file, defaults to inputfile_refdump.txt\n",
};

/// The new identity of an object ID of the file.
struct Rename {
  ValueNode* object;  // the last object loaded with the ID
  uint32_t new_id;    // that object's new ID
};

/// Old object ID -> Rename (65536 buckets, 4 entries per node, inserts behind a switch).
using RenameTable = THashTable<Rename, kLargeTableBucketBits, 4, HashInsert::kSwitch>;

}  // namespace

int RunRenameAll(int count, char** args, const char* exe_folder) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  const char* input = args[0];
  const char* prefix = args[1];
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 2, "_refdump.txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ObjectIdTable ids;
  RenameTable renames;
  OwnedObjectList objects;
  // Declared after the tables it borrows, so it is released before them on every path.
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, exe_folder, &registry, &ids);

  // The new ID of each object, in load order.
  std::vector<uint32_t> new_ids;
  TStringBufferA<260> name;
  const bool loaded = LoadBinInputObjects(
      input, registry, core_types, [&](ValueNode* object) { return objects.Append(object); },
      [&](ValueNode& object) {
        name.Format("%s%u", prefix, static_cast<uint32_t>(new_ids.size()));
        new_ids.push_back(NameHash(name.data));
        Rename* rename = renames.FindOrInsert(object.name, true);
        if (!AddName(dictionaries.names, name.data) || rename == nullptr) return false;
        rename->object = &object;
        rename->new_id = new_ids.back();
        if (ValueNode** id_slot = ids.FindOrInsert(object.name, true)) *id_slot = &object;
        return true;
      });
  if (!loaded) return kExitFailure;
  std::printf("Finished loading objects.\n");

  std::printf("Renaming objects...\n");
  // Every object takes its own new ID, even one whose old ID a later object took over. The
  // object table follows, so a reference's comment names the class of its new target.
  ids.Clear();
  size_t index = 0;
  for (ValueNode* object = objects.head; object != nullptr; object = object->next) {
    object->name = new_ids[index++];
    if (ValueNode** id_slot = ids.FindOrInsert(object->name, true)) *id_slot = object;
  }
  for (ValueNode* object = objects.head; object != nullptr; object = object->next) {
    ForEachReference(*object, [&](ValueNode& reference) {
      if (const Rename* rename = renames.Find(reference.payload.word)) {
        reference.payload.word = rename->new_id;
      }
    });
  }

  std::printf("Generating output...\n");
  CStringBufferA text;
  if (!WriteDocument(objects.head, registry, core_types, text)) return kExitFailure;
  ReleaseObjects(objects);
  std::printf("Finished generating output.\n");

  return WriteTextOutput(output.data, text);
}
