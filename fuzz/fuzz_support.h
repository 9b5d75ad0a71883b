// fuzz/fuzz_support.h - the conversions the fuzz targets chain: a .bin file to its document
// and a document back to a .bin file, each as the gentext and genbin commands do it, in process
// and without printing.
//
// Both report failure with false and leave nothing behind but what the caller passed in. The
// targets decide which failures are allowed (a malformed input) and which break a property
// (output of the tool that the tool itself cannot read back); they stop with FuzzCheck.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/document_parser.h"
#include "document/document_writer.h"
#include "document/lexer.h"
#include "foundation/byte_buffer.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Inputs longer than this are skipped by the targets that convert whole files: the code paths
/// are the same for a few KiB, and short inputs keep the executions fast.
inline constexpr size_t kMaxFuzzInputBytes = 1u << 20;

/// Stops the process when a property fails: libFuzzer keeps the input, a replay test crashes.
inline void FuzzCheck(bool holds) {
  if (!holds) __builtin_trap();
}

/// True when both texts hold the same characters.
inline bool SameText(const CStringBufferA& a, const CStringBufferA& b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
}

/// The folder handed to the name dictionaries: one that does not exist, so only the built-in
/// component names, the class types and the objects name values, whatever the working folder
/// holds.
inline constexpr const char* kNoDictionaryFolder = "qvx-fuzz-no-such-folder";

/// gentext in process: checks the header, loads the type information (switched to cStringHash)
/// into `registry` and every object, then appends the document of every object to `text` with
/// the name resolver installed as gentext installs it. Writing the objects straight from the
/// stream, as gentext does, must give the same text (FuzzCheck). Class names come from
/// `name_types`, or from `registry` when it is null. False when the file does not load or an object
/// cannot be written.
inline bool BinToText(const uint8_t* bytes, uint32_t size, const TypeRegistry* name_types,
                      TypeRegistry& registry, CStringBufferA& text) {
  // One set of dictionaries for the process: loading them fills and empties a name table of
  // 65536 buckets, which would cost most of an execution. Only the borrowed tables change.
  static NameDictionaries dictionaries;
  static const bool loaded =
      (LoadNameDictionaries(dictionaries, kNoDictionaryFolder, nullptr, nullptr, true), true);
  (void)loaded;
  CoreTypeTable core_types;
  ObjectIdTable ids;
  OwnedObjectList objects;
  // The borrowed tables are forgotten again on every path out, before `ids` goes.
  struct Borrow {
    explicit Borrow(const TypeRegistry* class_types, const ObjectIdTable* objects) {
      dictionaries.class_types = class_types;
      dictionaries.objects = objects;
    }
    ~Borrow() {
      dictionaries.class_types = nullptr;
      dictionaries.objects = nullptr;
    }
  } const borrow(name_types != nullptr ? name_types : &registry, &ids);
  const NameResolverScope resolver(&ResolveName, &dictionaries);
  if (!CheckBinHeader(bytes, size)) return false;
  uint32_t objects_offset = 0;
  if (LoadBinTypes(bytes, size, registry, objects_offset) != BinLoadResult::kOk) return false;
  BitReader reader(bytes + objects_offset, size - objects_offset);
  if (!BuildCoreTypeTable(core_types)) return false;
  // gentext's first pass steps over the objects (runs of fixed-width values at once): it must
  // succeed exactly where loading them does, stop at the same bit and find the same objects.
  ScannedObjectList scanned;
  BitReader scan(bytes + objects_offset, size - objects_offset);
  const bool scan_succeeded = ScanObjects(scan, registry, core_types, scanned);
  const bool objects_loaded = LoadObjects(reader, registry, core_types, objects, ids);
  FuzzCheck(scan_succeeded == objects_loaded && scan.position == reader.position);
  if (!objects_loaded) return false;
  FuzzCheck(scanned.size() == objects.count);
  const ValueNode* loaded_object = objects.head;
  for (const ScannedObject& object : scanned) {
    FuzzCheck(object.class_hash == loaded_object->type_hash && object.id == loaded_object->name);
    loaded_object = loaded_object->next;
  }
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  // gentext writes each object straight from its bits; that text must be the loaded tree's.
  BitReader stream(bytes + objects_offset, size - objects_offset);
  DecodeBudget budget = DecodeBudget::ForBits(stream.RemainingBits());
  CStringBufferA streamed;
  StreamWriterState stream_state;  // kept from object to object, as gentext keeps it
  const uint32_t start = text.length;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    const ClassType* class_type = registry.Find(object->type_hash);
    if (class_type == nullptr || !WriteObject(*object, *class_type, text, value_scratch, registry,
                                              core_types, comment_scratch)) {
      return false;
    }
    stream.Read(32);
    stream.Read(32);
    FuzzCheck(WriteObjectFromStream(object->name, *class_type, stream, budget, streamed,
                                    value_scratch, registry, core_types, comment_scratch, nullptr,
                                    &stream_state) &&
              !stream.failed);
  }
  FuzzCheck(text.length - start == streamed.length &&
            std::memcmp(text.data + start, streamed.data, streamed.length) == 0);
  return true;
}

/// genbin in process: parses `length` bytes of document text against `registry` (class types
/// switched to cStringHash), validates every object and writes the whole .bin file into `out`.
/// False on a parse error, a failed validation or a failed write.
inline bool TextToBin(const char* text, uint32_t length, TypeRegistry& registry, ByteBuffer& out) {
  CoreTypeTable core_types;
  if (!BuildCoreTypeTable(core_types)) return false;
  Lexer lexer;
  lexer.source.Append(text, length);
  lexer.file_name.Assign("fuzz.txt");
  ResetLexer(lexer);
  Lexer value_lexer;
  ReferencedTypeSet referenced_types;
  OwnedObjectList objects;
  if (!ParseDocument(lexer, value_lexer, registry, core_types, referenced_types, objects) ||
      lexer.error) {
    return false;
  }
  CStringBufferA messages;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    const ClassType* class_type = registry.Find(object->type_hash);
    if (class_type == nullptr ||
        !ValidateObject(*object, *class_type, registry, core_types, object->name, messages)) {
      return false;
    }
  }
  return WriteBinFile(registry, referenced_types, core_types, objects, out) == BinWriteResult::kOk;
}

/// Encodes what it takes as genbin does (until an object is refused) and, when `direct`, lets
/// the parser encode objects straight from the text. The parser tests use it too.
class EncodingSink final : public ObjectSink {
 public:
  EncodingSink(const TypeRegistry& registry, const CoreTypeTable& core_types, bool direct)
      : registry_(registry), core_types_(core_types), direct_(direct) {}
  void TakeObjects(ValueObjectList& objects) override {
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      ++objects_seen;
      ++objects_taken;
      const ClassType* class_type = registry_.Find(object->type_hash);
      if (!refused &&
          (class_type == nullptr || !WriteBinObject(registry_, core_types_, *object, writer))) {
        refused = true;
      }
    }
    ReleaseObjects(objects);
  }
  BitWriter* DirectWriter() override { return direct_ && !refused ? &writer : nullptr; }
  void EncodedObject() override { ++objects_seen; }

  ByteBuffer stream;
  BitWriter writer{stream};
  uint32_t objects_seen = 0;   // taken as trees or encoded straight
  uint32_t objects_taken = 0;  // taken as trees
  bool refused = false;

 private:
  const TypeRegistry& registry_;
  const CoreTypeTable& core_types_;
  bool direct_;
};

/// A document handed to the parse a window of `window` bytes at a time, as genbin reads it.
class WindowedText final : public DocumentFeed {
 public:
  WindowedText(const char* text, uint32_t length, uint32_t window)
      : text_(text, length), window_(window), part_(text_.substr(0, window)) {}
  const std::string& part() const { return part_; }
  bool Whole() const override { return passed_ + part_.size() == text_.size(); }
  bool Feed(Lexer& lexer, bool rest) override {
    passed_ += lexer.position;
    const size_t left = part_.size() - lexer.position;
    part_ = text_.substr(passed_, rest ? std::string::npos : std::max<size_t>(window_, left + 1));
    ContinueLexerText(lexer, part_.c_str(), static_cast<uint32_t>(part_.size()));
    return true;
  }

 private:
  const std::string text_;
  const size_t window_;
  size_t passed_ = 0;
  std::string part_;
};

/// genbin's reading of a document, once encoding objects straight from the text where it can,
/// once through trees, and once more straight but with the text read in place a window at a
/// time (the window's size taken from the text): the outcome, the messages, the referenced
/// types, the object count and every bit of the object stream must be the same (FuzzCheck).
inline void CheckDirectEncoding(const char* text, uint32_t length, const TypeRegistry& registry) {
  CoreTypeTable core_types;
  if (!BuildCoreTypeTable(core_types)) return;
  struct Run {
    bool parsed = false;
    bool error = false;
    CStringBufferA diagnostics;
    ReferencedTypeSet types;
    CStringBufferA type_list;
  };
  Run runs[3];
  EncodingSink tree(registry, core_types, false);
  EncodingSink direct(registry, core_types, true);
  EncodingSink windowed(registry, core_types, true);
  EncodingSink* sinks[3] = {&tree, &direct, &windowed};
  WindowedText feed(text, length, length == 0 ? 1 : static_cast<uint8_t>(text[0]) % 64 + 1);
  for (int i = 0; i < 3; ++i) {
    Lexer lexer;
    lexer.file_name.Assign("fuzz.txt");
    if (i == 2) {
      SetLexerText(lexer, feed.part().c_str(), static_cast<uint32_t>(feed.part().size()), true);
    } else {
      lexer.source.Append(text, length);
      ResetLexer(lexer);
    }
    Lexer value_lexer;
    OwnedObjectList objects;
    runs[i].parsed = ParseDocumentObjects(lexer, value_lexer, registry, core_types, runs[i].types,
                                          objects, *sinks[i], i == 2 ? &feed : nullptr);
    runs[i].error = lexer.error;
    runs[i].diagnostics.Append(lexer.diagnostics.data, lexer.diagnostics.length);
    runs[i].types.ForEach(
        [&](uint32_t key, const uint8_t&) { runs[i].type_list.AppendFormat("%u ", key); });
  }
  for (int i = 1; i < 3; ++i) {
    FuzzCheck(runs[0].parsed == runs[i].parsed && runs[0].error == runs[i].error &&
              SameText(runs[0].diagnostics, runs[i].diagnostics) &&
              SameText(runs[0].type_list, runs[i].type_list));
    const EncodingSink& other = *sinks[i];
    FuzzCheck(tree.objects_seen == other.objects_seen && tree.refused == other.refused &&
              tree.writer.position == other.writer.position &&
              tree.stream.size == other.stream.size &&
              (tree.stream.size == 0 ||
               std::memcmp(tree.stream.data, other.stream.data, tree.stream.size) == 0));
  }
}

/// The round trip that every written .bin file must survive: `bytes` loads and writes to a
/// document, and when that document converts back to a .bin file the new file loads and writes
/// to the very same document. Class names in both documents come from `name_types` (or from the
/// first file's types when null), so a class that the second file no longer declares does not
/// change a name. Traps when the second file fails or differs; returns whether the document of
/// the second file was reached. With `strict`, the first file must load and its document must
/// convert back too.
inline bool CheckBinRoundTrip(const uint8_t* bytes, uint32_t size, const TypeRegistry* name_types,
                              bool strict) {
  TypeRegistry registry;
  CStringBufferA text;
  const bool written = BinToText(bytes, size, name_types, registry, text);
  FuzzCheck(written || !strict);
  if (!written) return false;
  ByteBuffer rebuilt;
  const bool encoded = TextToBin(text.data, text.length, registry, rebuilt);
  FuzzCheck(encoded || !strict);
  if (!encoded) return false;
  TypeRegistry rebuilt_registry;
  CStringBufferA rebuilt_text;
  FuzzCheck(BinToText(rebuilt.data, rebuilt.size, name_types != nullptr ? name_types : &registry,
                      rebuilt_registry, rebuilt_text));
  FuzzCheck(SameText(text, rebuilt_text));
  return true;
}
