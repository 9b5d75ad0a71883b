// names/name_dictionaries.h - the dictionaries that turn hashes back into readable names.
//
// A document names classes, objects, hashes and text IDs where it can. The names come from five
// sources, all optional: a list of known names ("Hash.txt"), the game's text-ID names
// ("qvxmain_ids.cvs") and English texts ("qvxmain_en.cvs") beside the executable, the built-in
// component class names, and the class types and objects the command has loaded. They answer
// through ResolveName, which LoadNameDictionaries installs as the process-wide NameResolver
// until ReleaseNameDictionaries (or the destructor) removes it again.
//
// Every name given for a value hashes back to that value with NameHash, because the reader
// turns a quoted name back into its hash; a source whose name does not is passed over and the
// value prints as a number. Comments are never read back and are not checked.
//
// A missing, unreadable or malformed dictionary file is a normal state: that source stays
// empty and nothing is printed. Nothing here prints.
//
// "Hash.txt": plain text, one name per line. Any run of CR and LF characters ends a line (so
// blank lines vanish), the last line needs no line end, and a line is taken unchanged (spaces
// and tabs included). The text ends at its first NUL.
//
// ".cvs" text-ID table (numbers are little-endian u32):
//
//   offset        size    content
//   0             4       N, the number of entries
//   4             4 * N   keys: the text IDs, entry by entry (neither sorted nor unique)
//   4 + 4 * N     4 * N   offsets: from the start of the file to each entry's text
//   anywhere              the texts, UTF-8, each ending in a NUL
//
// A table is taken only whole: a file shorter than 4 + 8 * N bytes, an offset at or past the
// end of the file, or a text with no NUL before the end of the file rejects the whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "foundation/byte_buffer.h"
#include "foundation/hash_table.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Dictionary file names, looked for in the executable's folder.
inline constexpr const char* kHashListFileName = "Hash.txt";
inline constexpr const char* kTextIdNamesFileName = "qvxmain_ids.cvs";
inline constexpr const char* kEnglishTextsFileName = "qvxmain_en.cvs";

/// Comment of a pointer when the dictionaries were given no class type table or object table.
inline constexpr const char* kNoTablesComment = "Type manager or object table NULL";
/// Comment of a pointer whose value is 0.
inline constexpr const char* kNullPointerComment = "NULL";

/// The whole content of one ".cvs" file and its entry count. Empty (N = 0) until a load
/// succeeds; a failed load leaves it empty. Texts point into the table's own buffer and stay
/// valid until the next load or Release.
class TextIdTable {
 public:
  TextIdTable() = default;
  TextIdTable(const TextIdTable&) = delete;
  TextIdTable& operator=(const TextIdTable&) = delete;

  /// Number of entries, N.
  uint32_t count() const { return count_; }
  /// Frees the file's buffer; the table is empty afterwards.
  void Release();

 private:
  friend bool LoadTextIdTable(TextIdTable& table, const char* path);
  friend const char* FindTextId(const TextIdTable& table, uint32_t key);

  std::optional<ByteBuffer> file_;  // the whole file; absent while the table is empty
  uint32_t count_ = 0;
  const uint8_t* keys_ = nullptr;     // file + 4
  const uint8_t* offsets_ = nullptr;  // file + 4 + 4 * N
  const uint8_t* base_ = nullptr;     // file + 0
};

/// Replaces the content of `table` by the ".cvs" file at `path`. False, with the table empty,
/// when the file cannot be read or is malformed (see the layout above). N = 0 is a valid,
/// empty table.
[[nodiscard]] bool LoadTextIdTable(TextIdTable& table, const char* path);
/// The text of the first entry whose key is `key`, or null when there is none. A linear scan.
[[nodiscard]] const char* FindTextId(const TextIdTable& table, uint32_t key);

/// Reads the "Hash.txt" file at `path` into `names`, each non-empty line under its NameHash.
/// A later line with the same hash replaces the earlier text; entries already in `names` stay
/// unless a line replaces them. False when the file cannot be read, or when the table cannot
/// take an entry (its node pool is exhausted): the lines before that one stay entered.
[[nodiscard]] bool LoadHashList(NameTable& names, const char* path);
/// Enters `text` under its NameHash, replacing the text of an existing entry. An empty or null
/// text names nothing and is not entered (true). False when the table cannot take an entry.
[[nodiscard]] bool AddName(NameTable& names, const char* text);

/// Object ID -> class type hash of every object a scan found, in one flat array probed
/// linearly. Pointer comments look a class up for every reference of a
/// document; in a file of many objects, the object table's bucket, its chain node and the
/// object itself are three scattered reads each time, where the index takes one. Built once
/// the objects are all known; it does not follow later changes.
class ObjectClassIndex {
 public:
  /// Indexes the scanned objects by ID (ID 0 excepted: a pointer of 0 is null and never looked
  /// up); where IDs repeat, the later object's class is kept, as an ObjectIdTable filled in
  /// stream order keeps the later object. False, leaving the index empty, when memory runs out.
  [[nodiscard]] bool Build(const ScannedObjectList& objects);
  /// Reads the slot where the search for `id` begins and returns its first word, so that a
  /// Find a little later finds the slot (and its page) in the caches. Changes nothing. Reads of
  /// many IDs in a row overlap each other where the searches one by one would each wait; a
  /// prefetch instruction does less here, since it is dropped when the page is not mapped in
  /// the translation cache.
  [[nodiscard]] uint32_t Touch(uint32_t id) const {
    return slots_.empty() ? 0 : slots_[Home(id)].id;
  }
  /// The class type hash of the object with ID `id`; false when no object has it.
  [[nodiscard]] bool Find(uint32_t id, uint32_t& class_hash) const {
    if (slots_.empty() || id == 0) {
      return false;
    }
    for (uint32_t i = Home(id);; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.id == id) {
        class_hash = slot.class_hash;
        return true;
      }
      if (slot.id == 0) {
        return false;
      }
    }
  }

 private:
  struct Slot {
    uint32_t id;  // 0: free
    uint32_t class_hash;
  };
  uint32_t Home(uint32_t id) const { return (id * 0x9E3779B1u) >> shift_; }
  // Empties the index and sizes it for `object_count` objects; false when memory runs out.
  bool Reset(uint32_t object_count);
  // Enters (or replaces) the class of `id`; ID 0 is skipped.
  void Enter(uint32_t id, uint32_t class_hash);

  LargeVector<Slot> slots_;
  uint32_t mask_ = 0;
  uint32_t shift_ = 32;
};

class NameDictionaries;

/// Fills `dictionaries` from `folder` (the executable's folder): "Hash.txt", then the two
/// ".cvs" tables, then the built-in component names (which replace a "Hash.txt" line of the
/// same hash). Keeps the two borrowed tables and installs ResolveName as the NameResolver with
/// the dictionaries as its context. The resolver is installed whenever `install_resolver` is
/// set or any source holds names, and the built-in names always do, so it always is. Whatever
/// the dictionaries held before is released first. Files are looked for at the folder, the
/// platform's path separator and the file name (the name alone when the folder is empty).
void LoadNameDictionaries(NameDictionaries& dictionaries, const char* folder,
                          const TypeRegistry* class_types, const ObjectIdTable* objects,
                          bool install_resolver = false);
/// Removes the resolver (putting back whichever was installed before the load), frees both
/// ".cvs" tables, frees the names and gives the name table's nodes back. The borrowed tables
/// are forgotten. Safe to call more than once. Dictionaries loaded one inside the other must be
/// released in the reverse order.
void ReleaseNameDictionaries(NameDictionaries& dictionaries);

/// The dictionaries of one command that writes a document. The class type table and the object
/// table are borrowed from the command (either may be absent) and must outlive every use of
/// the resolver; the command may fill them after loading. Destroying the dictionaries releases
/// them, so no path out of a command leaves the resolver pointing at them.
class NameDictionaries {
 public:
  NameDictionaries() = default;
  ~NameDictionaries();
  NameDictionaries(const NameDictionaries&) = delete;
  NameDictionaries& operator=(const NameDictionaries&) = delete;

  /// NameHash -> name: "Hash.txt", then the built-in component names, then names added later.
  NameTable names;
  /// Text ID -> symbolic name ("qvxmain_ids.cvs").
  TextIdTable text_id_names;
  /// Text ID -> English text ("qvxmain_en.cvs").
  TextIdTable english_texts;
  /// The command's class types and loaded objects, or null.
  const TypeRegistry* class_types = nullptr;
  const ObjectIdTable* objects = nullptr;
  /// Optional, set by a command once it knows all its objects: pointer comments then take the
  /// class of an object from here instead of the table. Borrowed like the tables.
  const ObjectClassIndex* object_classes = nullptr;

 private:
  friend void LoadNameDictionaries(NameDictionaries& dictionaries, const char* folder,
                                   const TypeRegistry* class_types, const ObjectIdTable* objects,
                                   bool install_resolver);
  friend void ReleaseNameDictionaries(NameDictionaries& dictionaries);

  std::optional<NameResolverScope> resolver_scope_;  // set while ResolveName is installed
};

/// The resolver (a NameResolverFunction) over the NameDictionaries in `context`. The first
/// rule that applies answers:
///   1. no dictionaries: null;
///   2. kind kResolvePointerComment: kNoTablesComment when either borrowed table is absent,
///      kNullPointerComment for the value 0, otherwise the class name of the object with that
///      ID (null when the object or its class type is unknown);
///   3. kind cTextID or cStringHash: the text-ID name of the value, when it has one that hashes
///      to the value; otherwise rule 5;
///   4. kind kResolveHashComment: the English text of the value, or null;
///   5. any other kind: the name of the class type whose key is the value, when that name
///      hashes to it; otherwise the name table's text for the value when it hashes to it;
///      otherwise null.
/// An empty name is no name. The returned text belongs to the dictionaries or the borrowed
/// tables.
const char* ResolveName(uint32_t value, uint32_t kind, void* context);
