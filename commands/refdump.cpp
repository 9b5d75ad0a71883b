// commands/refdump.cpp - the refdump command: writes the objects that belong to one object
// alone, as a document.
//
// The group of an object is what it reaches through references (itself included) minus
// everything that an object outside the group reaches: an outside object that references the
// root takes the root and all it reaches out of the group. Two passes over a work queue find
// it, each visiting an object at most once (processed) and queueing an ID at most once
// (queued):
//
//   forward    from the root, mark every ID reached as in the group
//   backward   from every object outside the group, unmark every ID reached
//
// The group is written in the iteration order of the dependency table; its count also takes
// IDs that are referenced but carried by no object of the file, which write nothing. The
// document is written atomically at the end, never over the input.
#include <cstdio>

#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/file.h"
#include "foundation/hash_table.h"
#include "foundation/link_list.h"
#include "foundation/node_pool.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Dump the objects that belong to one object alone\n",
    "<Input file> <object ID> [output file]\n",
    "<Input file> - Input .bin file\n",
    "<Object ID> - ID of the object whose dependencies to dump\n",
    "[output file] - Output text file, defaults to inputfile_refdump.txt\n",
};

/// What the passes know about one object ID.
struct Dependency {
  ValueNode* object;  // the last object loaded with this ID, or null when none carries it
  bool processed;     // its references were collected in this pass
  bool in_set;        // it belongs to the group
  bool queued;        // it was put on the work queue in this pass
};

/// Object ID -> Dependency (65536 buckets, 4 entries per node, every FindOrInsert inserts).
using DependencyTable = THashTable<Dependency, kLargeTableBucketBits, 4, HashInsert::kAlways>;

/// The pool of refdump's list of loaded objects, apart from every other list's links.
struct AllObjectsLinkTag {};
LinkPool& AllObjectsLinkPool() {
  return ProcessNodePool<Link, kLinksPerBlock, AllObjectsLinkTag>();
}

/// Every loaded object in load order; releases them whenever it goes out of scope. The objects
/// chain through their own `next` only on the work queue, so the list keeps them by link.
class AllObjects {
 public:
  AllObjects() : links_(AllObjectsLinkPool()) {}
  ~AllObjects() {
    links_.Clear([](void* object) { ReleaseObject(static_cast<ValueNode*>(object)); });
  }
  AllObjects(const AllObjects&) = delete;
  AllObjects& operator=(const AllObjects&) = delete;

  [[nodiscard]] bool Append(ValueNode* object) {
    if (!links_.Append(object)) return false;
    ++count_;
    return true;
  }
  const Link* head() const { return links_.head(); }
  uint32_t count() const { return count_; }

 private:
  LinkList links_;
  uint32_t count_ = 0;
};

/// The work queue, and afterwards the output list. It never owns its objects; it is emptied
/// before the objects are released so no object is left on it.
class ObjectQueue : public ValueObjectList {
 public:
  ObjectQueue() = default;
  ~ObjectQueue() { Init(); }
};

// Queues the target of every reference of `object` that has not been queued in this pass,
// setting its in-set flag to `in_set`. A target ID no object carries gets an entry but queues
// nothing. False when the table cannot take an entry.
bool CollectReferences(ValueNode& object, bool in_set, DependencyTable& dependencies,
                       ObjectQueue& queue) {
  return ForEachReference(object, [&](ValueNode& reference) {
    Dependency* target = dependencies.FindOrInsert(reference.payload.word);
    if (target == nullptr) return false;
    if (!target->queued) {
      target->queued = true;
      target->in_set = in_set;
      if (target->object != nullptr) static_cast<void>(queue.Append(target->object));
    }
    return true;
  });
}

// Collects the references of each queued object whose ID has not been processed in this pass,
// until the queue is empty.
bool DrainQueue(bool in_set, DependencyTable& dependencies, ObjectQueue& queue) {
  while (ValueNode* object = queue.PopHead()) {
    Dependency* entry = dependencies.FindOrInsert(object->name);
    if (entry == nullptr) return false;
    if (!entry->processed) {
      if (!CollectReferences(*object, in_set, dependencies, queue)) return false;
      entry->processed = true;
    }
  }
  return true;
}

// Leaves the group in `queue`'s objects (in the table's iteration order) and its size in
// `group_size`.
bool LocateGroup(const AllObjects& all, DependencyTable& dependencies, ObjectQueue& queue,
                 uint32_t& group_size) {
  if (!DrainQueue(true, dependencies, queue)) return false;
  dependencies.ForEach([](uint32_t, Dependency& entry) {
    entry.processed = false;
    entry.queued = false;
  });
  for (const Link* link = all.head(); link != nullptr; link = link->next) {
    ValueNode& object = *static_cast<ValueNode*>(link->payload);
    const Dependency* entry = dependencies.Find(object.name);
    if ((entry == nullptr || !entry->in_set) &&
        !CollectReferences(object, false, dependencies, queue)) {
      return false;
    }
  }
  if (!DrainQueue(false, dependencies, queue)) return false;

  group_size = 0;
  dependencies.ForEach([&](uint32_t, Dependency& entry) {
    if (!entry.in_set) return;
    ++group_size;
    if (entry.object != nullptr) static_cast<void>(queue.Append(entry.object));
  });
  return true;
}

}  // namespace

int RunRefDump(int count, char** args, const char* exe_folder) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  const char* input = args[0];
  const uint32_t object_id = ParseObjectIdArgument(args[1]);
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 2, "_refdump.txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ObjectIdTable ids;
  DependencyTable dependencies;
  AllObjects all;
  // Destroyed before `all`, so the queue lets go of the objects before they are released.
  ObjectQueue queue;
  // Declared after the tables it borrows, so it is released before them on every path.
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, exe_folder, &registry, &ids);

  const ValueNode* root = nullptr;
  const bool loaded = LoadBinInputObjects(
      input, registry, core_types, [&](ValueNode* object) { return all.Append(object); },
      [&](ValueNode& object) {
        Dependency* entry = dependencies.FindOrInsert(object.name);
        if (entry == nullptr) return false;
        entry->object = &object;
        if (object.name == object_id) {
          entry->in_set = true;
          entry->queued = true;
          if (!queue.Append(&object)) return false;
          root = &object;
        }
        if (ValueNode** id_slot = ids.FindOrInsert(object.name, true)) *id_slot = &object;
        return true;
      });
  if (!loaded) return kExitFailure;
  if (root == nullptr) {
    std::printf("Failed to load objects.\n");
    return kExitFailure;
  }
  std::printf("Finished loading objects.\n");

  std::printf("Locating dependencies...\n");
  uint32_t group_size = 0;
  if (!LocateGroup(all, dependencies, queue, group_size)) {
    std::printf("Failed to generate output.\n");
    return kExitFailure;
  }
  std::printf("Finished locating dependencies, count = %u/%u\n", group_size, all.count());

  std::printf("Generating output...\n");
  CStringBufferA text;
  if (!WriteDocument(queue.head, registry, core_types, text)) return kExitFailure;
  std::printf("Finished generating output.\n");

  return WriteTextOutput(output.data, text);
}
