// commands/genbin.cpp - the genbin command: turns a text document back into a .bin file.
//
// The document names no types of its own, so the class types come from the type library beside
// the executable. The document is read one top-level object at a time: an object whose fields
// stand in declaration order (as gentext writes them) is encoded into the object stream while
// it is read; any other (with its inline objects) is read into a tree, validated and encoded as
// soon as its closing brace is read, and its nodes go back to the pool. The text itself is read
// through a window of 512 KiB (lexed in place), refilled between objects; an object that is
// not encoded straight is read from the whole rest of the text. So memory holds the window, the
// stream and at most one object's tree. The messages are still those of three whole phases
// (every parse error first, then the first object that fails validation, then encoding), since
// each phase's outcome is only reported once the whole document has been read. At the end the
// header and the class records of exactly the types the document uses are written, followed by
// the stream, as one file in one atomic step, so any failure leaves no output behind. The
// output may not be the input document or the type library.
#include <algorithm>
#include <cstdio>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "commands/commands.h"
#include "document/document_parser.h"
#include "document/lexer.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/memory.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_library.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Generate bin from text file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .txt file\n",
    "[output file] - Output bin file, defaults to inputfile.bin\n",
};

// Validates each object the parser hands over and, while every object so far was valid and
// encoded, appends it to the object stream; then releases it. Only the first validation
// failure is kept, as the message of a validation phase that stops there. The outcome is that
// of validating every object first and then encoding them, in fewer walks.
class ObjectEncoder final : public ObjectSink {
 public:
  ObjectEncoder(const TypeRegistry& registry, const CoreTypeTable& core_types, ByteBuffer& stream)
      : registry_(registry),
        core_types_(core_types),
        types_(registry, core_types),
        writer_(stream) {}

  void TakeObjects(ValueObjectList& objects) override {
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      ++object_count;
      if (validation_failed) {
        continue;
      }
      const ClassType* class_type = FindClassType(registry_, object->type_hash);
      // An object the encoder takes is valid: encoding checks everything validation checks (and
      // more). So validation walks an object only when the encoder refuses it, or once encoding
      // has failed, to tell a validation failure and its message from a failed encoding. What a
      // refused object left in the stream never reaches a file: either failure ends the run.
      if (class_type != nullptr && !encoding_failed &&
          WriteBinObject(registry_, core_types_, *object, writer_, &types_)) {
        continue;
      }
      if (class_type == nullptr || !ValidateObject(*object, *class_type, registry_, core_types_,
                                                   object->name, messages, &types_)) {
        validation_failed = true;
        continue;
      }
      encoding_failed = true;
    }
    ReleaseObjects(objects);
    PrepareStreamAhead();
  }

  // While every object so far was valid and encoded, the parser may encode the next one
  // straight into the stream (when its tree is one WriteBinObject would take).
  BitWriter* DirectWriter() override {
    return validation_failed || encoding_failed ? nullptr : &writer_;
  }
  void EncodedObject() override {
    ++object_count;
    PrepareStreamAhead();
  }

  uint32_t object_count = 0;
  bool validation_failed = false;
  bool encoding_failed = false;
  CStringBufferA messages;  // the first validation failure

 private:
  const TypeRegistry& registry_;
  const CoreTypeTable& core_types_;
  // Keeps the stream's pages asked for a few MiB ahead of the writer (MemoryInterface::
  // PreparePages), so that they come a step of many at a time instead of a fault each.
  void PrepareStreamAhead() {
    constexpr uint64_t kStep = uint64_t{4} << 20;
    constexpr uint64_t kLead = uint64_t{1} << 20;
    const ByteBuffer& stream = *writer_.buffer;
    if (uint64_t{stream.size} + kLead <= prepared_ || prepared_ >= stream.capacity) {
      return;
    }
    // What the writer has passed is backed already.
    const uint64_t start = std::max<uint64_t>(prepared_, stream.size);
    const uint64_t end = std::min<uint64_t>(start + kStep, stream.capacity);
    MemoryInterface::PreparePages(stream.data + start, static_cast<size_t>(end - start));
    prepared_ = end;
  }

  FieldTypeCache types_;  // the tables are complete before the first object is parsed
  BitWriter writer_;
  uint64_t prepared_ = 0;  // bytes of the stream whose pages have been asked for
};

// The document, read a window at a time as the parse goes through it.
class WindowFeed final : public DocumentFeed {
 public:
  explicit WindowFeed(FileWindow& window) : window_(window) {}

  bool Whole() const override { return window_.at_end; }
  bool Feed(Lexer& lexer, bool rest) override {
    if (!window_.Advance(lexer.position, rest)) {
      failed = true;
      return false;
    }
    ContinueLexerText(lexer, reinterpret_cast<const char*>(window_.data), window_.size);
    return true;
  }

  bool failed = false;  // a part of the document could not be read

 private:
  FileWindow& window_;
};

// The window the document is read through: small enough that a part is still in the
// processor's cache while it is parsed after being read, and several times what the parse
// keeps of a part when it asks for the next (128 KiB), so that little is moved and read again.
// An object cut short by a part's end is read again from a part that starts with it; only one
// longer than the window is read from the whole rest of the document.
constexpr uint32_t kDocumentWindowBytes = 512u << 10;

// Whether the file of `front` (header and type section) followed by the object stream stays
// below the largest stream size, as everything the tools read must.
bool FitsOneFile(const ByteBuffer& front, const ByteBuffer& stream) {
  return uint64_t{front.size} + stream.size < kMaxStreamBytes;
}

// Writes the header and type section, then the object stream, as one file in one atomic step.
bool WriteBinOutput(const char* path, const ByteBuffer& front, const ByteBuffer& stream) {
  OutputFile file;
  return file.Open(path) && file.Write(front.data, front.size) &&
         file.Write(stream.data, stream.size) && file.Commit();
}

}  // namespace

int RunGenBin(int count, char** args, const char* exe_folder) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  TStringBufferA<260> output;
  if (count >= 2) {
    output.Assign(args[1]);
  } else {
    DeriveOutputName(input, output, ".bin");
  }
  TStringBufferA<260> library_path;
  if (exe_folder != nullptr && exe_folder[0] != '\0') {
    library_path.Format("%s%c%s", exe_folder, kPathSeparator, kDefaultTypeLibraryName);
  } else {
    library_path.Assign(kDefaultTypeLibraryName);
  }
  if (SameFile(input, output.data) || SameFile(library_path.data, output.data)) {
    std::printf("Output file is the same as the input file.\n");
    return kExitFailure;
  }

  Lexer lexer;
  lexer.file_name.Assign(input);
  FileWindow document;
  if (!document.Open(input, kDocumentWindowBytes)) {
    std::printf("Failed to load \"%s\".\n", input);
    return kExitFailure;
  }

  CoreTypeTable core_types;
  TypeRegistry registry;
  if (!BuildCoreTypeTable(core_types) || !LoadTypelib(registry, library_path.data)) {
    std::printf(
        "Failed to load typelib. Make sure QVX.tl is in the same folder as QVXBinTool.exe.\n");
    return kExitFailure;
  }
  TypePatch(registry, TypePatchDirection::kToStringHash);

  SetLexerText(lexer, reinterpret_cast<const char*>(document.data), document.size, true);
  WindowFeed feed(document);
  std::printf("Parsing document...\n");
  Lexer value_lexer;
  ReferencedTypeSet referenced_types;
  OwnedObjectList objects;
  ByteBuffer stream(kGranuleBytes);
  // A .bin file is several times smaller than its document. Reserving half the document's
  // size spares the stream its growth steps (each a copy of everything written so far); the
  // zeroed pages that stay unwritten are never touched and cost no memory. When the
  // reservation fails the stream simply grows as it is written.
  (void)stream.Grow(
      static_cast<uint32_t>(std::min<uint64_t>(document.file_size / 2, kMaxStreamBytes - 1)));
  ObjectEncoder encoder(registry, core_types, stream);
  const bool parsed = ParseDocumentObjects(lexer, value_lexer, registry, core_types,
                                           referenced_types, objects, encoder, &feed);
  if (feed.failed) {
    std::printf("Failed to load \"%s\".\n", input);
    return kExitFailure;
  }
  if (lexer.diagnostics.length != 0) {
    std::fwrite(lexer.diagnostics.data, 1, lexer.diagnostics.length, stdout);
  }
  if (!parsed || lexer.error) {
    return kExitFailure;
  }

  std::printf("Parsing complete.\n");
  std::printf("Validating data...\n");
  if (encoder.validation_failed) {
    std::fwrite(encoder.messages.data, 1, encoder.messages.length, stdout);
    std::printf("Data validation failed.\n");
    return kExitFailure;
  }
  std::printf("Data validation succeeded.\n");

  std::printf("Serializing referenced typeinfo...\n");
  ByteBuffer bin(kGranuleBytes);
  if (!WriteBinTypeSection(registry, referenced_types, bin)) {
    std::printf("Type serialization failed.\n");
    return kExitFailure;
  }
  std::printf("Successfully serialized typeinfo.\n");

  std::printf("Generating data for %u objects...\n", encoder.object_count);
  if (encoder.encoding_failed || !FitsOneFile(bin, stream)) {
    std::printf("Failed to generate data.\n");
    return kExitFailure;
  }
  std::printf("Successfully generated data.\n");

  if (!WriteBinOutput(output.data, bin, stream)) {
    std::printf("Failed to write \"%s\".\n", output.data);
    return kExitFailure;
  }
  return kExitSuccess;
}
