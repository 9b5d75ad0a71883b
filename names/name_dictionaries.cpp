// names/name_dictionaries.cpp - loading the name dictionaries and resolving names from them.
#include "names/name_dictionaries.h"

#include <cstring>
#include <new>

#include "foundation/file.h"
#include "foundation/name_hash.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/component_names.h"
#include "types/core_type_hashes.h"

namespace {

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Enters `length` bytes of `name` under their hash, replacing any earlier text of that hash.
bool EnterName(NameTable& names, const char* name, uint32_t length) {
  HeapText* entry = names.FindOrInsert(NameHash(name, length), true);
  if (entry == nullptr) {
    return false;
  }
  entry->AssignBytes(name, length);
  return true;
}

// "<folder><separator><file>"; no separator is doubled, and an empty folder gives the name.
void BuildDictionaryPath(const char* folder, const char* file, CStringBufferA& path) {
  path.Assign(folder);
  if (path.length != 0 && !IsPathSeparator(path.data[path.length - 1])) {
    path.AppendChar(kPathSeparator);
  }
  path.Append(file);
}

// A name is usable for `value` only when the reader, which hashes it, gets `value` back.
const char* IfNames(const char* name, uint32_t value) {
  if (name == nullptr || name[0] == '\0' || NameHash(name) != value) {
    return nullptr;
  }
  return name;
}

const char* ClassOrListedName(const NameDictionaries& dictionaries, uint32_t value) {
  if (dictionaries.class_types != nullptr) {
    if (const ClassType* class_type = dictionaries.class_types->Find(value)) {
      if (const char* name = IfNames(class_type->name.data, value)) {
        return name;
      }
    }
  }
  if (const HeapText* entry = dictionaries.names.Find(value)) {
    return IfNames(entry->text, value);
  }
  return nullptr;
}

const char* PointerComment(const NameDictionaries& dictionaries, uint32_t id) {
  if (dictionaries.class_types == nullptr || dictionaries.objects == nullptr) {
    return kNoTablesComment;
  }
  if (id == 0) {
    return kNullPointerComment;
  }
  uint32_t class_hash = 0;
  if (dictionaries.object_classes != nullptr) {
    if (!dictionaries.object_classes->Find(id, class_hash)) {
      return nullptr;
    }
  } else {
    ValueNode* const* object = dictionaries.objects->Find(id);
    if (object == nullptr || *object == nullptr) {
      return nullptr;
    }
    class_hash = (*object)->type_hash;
  }
  const ClassType* class_type = dictionaries.class_types->Find(class_hash);
  return class_type == nullptr ? nullptr : class_type->name.data;
}

}  // namespace

// ---- ObjectClassIndex -----------------------------------------------------------------------

bool ObjectClassIndex::Reset(uint32_t object_count) {
  slots_.clear();
  mask_ = 0;
  shift_ = 32;
  // At most three quarters full, so a probe ends after a few slots.
  uint32_t bits = 4;
  while (bits < 31 && (uint64_t{1} << bits) * 3 < uint64_t{object_count} * 4) {
    ++bits;
  }
  try {
    slots_.assign(size_t{1} << bits, Slot{0, 0});
  } catch (const std::bad_alloc&) {
    slots_.clear();
    return false;
  }
  mask_ = (1u << bits) - 1;
  shift_ = 32 - bits;
  return true;
}

void ObjectClassIndex::Enter(uint32_t id, uint32_t class_hash) {
  if (id == 0) {
    return;
  }
  uint32_t i = Home(id);
  while (slots_[i].id != 0 && slots_[i].id != id) {
    i = (i + 1) & mask_;
  }
  slots_[i] = Slot{id, class_hash};
}

bool ObjectClassIndex::Build(const ScannedObjectList& objects) {
  if (objects.size() > UINT32_MAX || !Reset(static_cast<uint32_t>(objects.size()))) {
    return false;
  }
  for (const ScannedObject& object : objects) {
    Enter(object.id, object.class_hash);
  }
  return true;
}

// ---- TextIdTable ----------------------------------------------------------------------------

void TextIdTable::Release() {
  file_.reset();
  count_ = 0;
  keys_ = nullptr;
  offsets_ = nullptr;
  base_ = nullptr;
}

bool LoadTextIdTable(TextIdTable& table, const char* path) {
  table.Release();
  ByteBuffer& file = table.file_.emplace(kGranuleBytes);
  if (!ReadWholeFile(path, file) || file.size < 4) {
    table.Release();
    return false;
  }
  const uint32_t size = file.size;
  const uint32_t count = ReadLittleEndian32(file.data);
  // In 64 bits: with 32, a count of 2^29 or more would wrap the size test around.
  if (uint64_t{size} < 4 + 8 * uint64_t{count}) {
    table.Release();
    return false;
  }
  const uint8_t* keys = file.data + 4;
  const uint8_t* offsets = keys + 4 * static_cast<size_t>(count);
  if (count != 0) {
    // A text is terminated when some NUL lies at or after its start, that is when it starts
    // no later than the file's last NUL. One backward scan settles that for every entry.
    uint32_t last_nul = size;
    for (uint32_t i = size; i-- > 0;) {
      if (file.data[i] == 0) {
        last_nul = i;
        break;
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t offset = ReadLittleEndian32(offsets + 4 * static_cast<size_t>(i));
      if (offset >= size || last_nul == size || offset > last_nul) {
        table.Release();
        return false;
      }
    }
  }
  table.count_ = count;
  table.keys_ = keys;
  table.offsets_ = offsets;
  table.base_ = file.data;
  return true;
}

const char* FindTextId(const TextIdTable& table, uint32_t key) {
  for (uint32_t i = 0; i < table.count_; ++i) {
    if (ReadLittleEndian32(table.keys_ + 4 * static_cast<size_t>(i)) == key) {
      const uint32_t offset = ReadLittleEndian32(table.offsets_ + 4 * static_cast<size_t>(i));
      return reinterpret_cast<const char*>(table.base_ + offset);
    }
  }
  return nullptr;
}

// ---- Names ----------------------------------------------------------------------------------

bool LoadHashList(NameTable& names, const char* path) {
  CStringBufferA text;
  if (!ReadWholeText(path, text)) {
    return false;
  }
  const char* cursor = text.data;
  while (*cursor != '\0') {
    const char* line_end = cursor;
    while (*line_end != '\0' && *line_end != '\r' && *line_end != '\n') {
      ++line_end;
    }
    const uint32_t length = static_cast<uint32_t>(line_end - cursor);
    if (length != 0 && !EnterName(names, cursor, length)) {
      return false;
    }
    cursor = line_end;
    while (*cursor == '\r' || *cursor == '\n') {
      ++cursor;
    }
  }
  return true;
}

bool AddName(NameTable& names, const char* text) {
  if (text == nullptr || text[0] == '\0') {
    return true;
  }
  const size_t length = std::strlen(text);
  if (length > UINT32_MAX - 1) {
    return false;
  }
  return EnterName(names, text, static_cast<uint32_t>(length));
}

// ---- NameDictionaries -----------------------------------------------------------------------

NameDictionaries::~NameDictionaries() { ReleaseNameDictionaries(*this); }

void LoadNameDictionaries(NameDictionaries& dictionaries, const char* folder,
                          const TypeRegistry* class_types, const ObjectIdTable* objects,
                          bool install_resolver) {
  ReleaseNameDictionaries(dictionaries);
  if (folder == nullptr) {
    folder = "";
  }

  // Each source that cannot be read simply stays empty.
  TStringBufferA<260> path;
  BuildDictionaryPath(folder, kHashListFileName, path);
  const bool have_hash_list = LoadHashList(dictionaries.names, path.data);
  BuildDictionaryPath(folder, kTextIdNamesFileName, path);
  const bool have_text_ids = LoadTextIdTable(dictionaries.text_id_names, path.data);
  BuildDictionaryPath(folder, kEnglishTextsFileName, path);
  const bool have_english = LoadTextIdTable(dictionaries.english_texts, path.data);

  // Entered last so that they replace any listed name of the same hash.
  for (const char* name : kBuiltInComponentNames) {
    if (!AddName(dictionaries.names, name)) {
      break;
    }
  }

  dictionaries.class_types = class_types;
  dictionaries.objects = objects;

  if (have_hash_list || have_text_ids || have_english || install_resolver ||
      kBuiltInComponentNameCount != 0) {
    dictionaries.resolver_scope_.emplace(&ResolveName, &dictionaries);
  }
}

void ReleaseNameDictionaries(NameDictionaries& dictionaries) {
  dictionaries.resolver_scope_.reset();
  dictionaries.text_id_names.Release();
  dictionaries.english_texts.Release();
  dictionaries.names.Clear();
  dictionaries.names.Release();
  dictionaries.class_types = nullptr;
  dictionaries.objects = nullptr;
}

// ---- ResolveName ----------------------------------------------------------------------------

const char* ResolveName(uint32_t value, uint32_t kind, void* context) {
  if (context == nullptr) {
    return nullptr;
  }
  const NameDictionaries& dictionaries = *static_cast<const NameDictionaries*>(context);
  if (kind == kResolvePointerComment) {
    return PointerComment(dictionaries, value);
  }
  if (kind == kCTextIDHash || kind == kCStringHashHash) {
    if (const char* name = IfNames(FindTextId(dictionaries.text_id_names, value), value)) {
      return name;
    }
    return ClassOrListedName(dictionaries, value);
  }
  if (kind == kResolveHashComment) {
    return FindTextId(dictionaries.english_texts, value);
  }
  return ClassOrListedName(dictionaries, value);
}
