// foundation/string_buffer.cpp - growth and clearing of the string buffers and heap texts.
//
// Sizes are computed in 64 bits before they are stored in the 32-bit fields; a request that
// cannot be represented ends the process like a failed allocation, since no block could hold it.
#include "foundation/string_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/memory.h"
#include "foundation/utf8.h"

char SharedEmptyString[4] = {};
char SharedEmptyValueString[4] = {};
char16_t SharedEmptyWideString[2] = {};

namespace {

constexpr uint64_t kGrowthStep = 256;
// The largest capacity that doubling asks for; it still rounds to a 32-bit capacity.
constexpr uint64_t kLargestDoubling = UINT32_MAX - kGrowthStep + 1;
constexpr uint32_t kHeapTextHeaderBytes = 8;
constexpr uint32_t kHeapTextCapacityOffset = 0;
constexpr uint32_t kHeapTextLengthOffset = 4;
// Keeps every stored capacity below 2^31, so the header words read the same as signed values.
constexpr uint32_t kMaxHeapTextLength = INT32_MAX - kHeapTextHeaderBytes - 1;

[[noreturn]] void ExitOutOfMemory() {
  std::fputs("Out of memory.\n", stderr);
  std::exit(1);
}

// A byte count for a narrow buffer; counts past the 32-bit capacity field cannot be supplied.
uint32_t NarrowRequest(uint64_t bytes) {
  if (bytes > UINT32_MAX) ExitOutOfMemory();
  return static_cast<uint32_t>(bytes);
}

uint64_t RoundUpToGrowthStep(uint64_t n) {
  return (n + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
}

char* HeaderOf(char* text) { return text - kHeapTextHeaderBytes; }

uint32_t ReadHeaderWord(const char* text, uint32_t offset) {
  uint32_t word;
  std::memcpy(&word, text - kHeapTextHeaderBytes + offset, sizeof(word));
  return word;
}

void WriteHeaderWord(char* text, uint32_t offset, uint32_t word) {
  std::memcpy(text - kHeapTextHeaderBytes + offset, &word, sizeof(word));
}

// Records may hold a zero-filled handle; only a pointer past a header owns a block.
bool OwnsHeapTextBlock(const char* text) {
  return text != nullptr && text != SharedEmptyValueString && text != SharedEmptyString;
}

// A fresh block for n characters with its header filled in; null when none can be had.
char* NewHeapTextBlock(uint32_t n) {
  if (n > kMaxHeapTextLength) return nullptr;
  char* block =
      static_cast<char*>(MemoryInterface::Allocate(std::size_t{n} + kHeapTextHeaderBytes + 1));
  if (block == nullptr) return nullptr;
  char* text = block + kHeapTextHeaderBytes;
  WriteHeaderWord(text, kHeapTextCapacityOffset, n + 1);
  WriteHeaderWord(text, kHeapTextLengthOffset, n);
  return text;
}

// Block kept only while n + 1 stays below the capacity. Compared in 64 bits: a huge n must not
// wrap around into a small request and keep a block that is far too short.
bool HeapTextBlockFits(const char* text, uint32_t n) {
  return uint64_t{n} + 1 < ReadHeaderWord(text, kHeapTextCapacityOffset);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CStringBufferA

CStringBufferA::CStringBufferA() : data(SharedEmptyString), capacity(0), length(0) {}

CStringBufferA::CStringBufferA(const char* text) : CStringBufferA() {
  if (text != nullptr) Assign(text);
}

CStringBufferA::~CStringBufferA() {
  if (IsHeapOwned()) MemoryInterface::Free(data);
  data = SharedEmptyString;
  capacity = 0;
  length = 0;
}

bool CStringBufferA::IsHeapOwned() const {
  return data != nullptr && data != SharedEmptyString && data != SharedEmptyValueString &&
         data != InlineStorage();
}

void CStringBufferA::Reserve(uint32_t n) { ReserveHeap(n); }

void CStringBufferA::Clear(bool release) { ClearHeap(release); }

void CStringBufferA::ReserveHeap(uint32_t n) {
  if (n <= capacity) return;
  const uint32_t new_capacity = NarrowRequest(RoundUpToGrowthStep(n));
  char* block;
  if (IsHeapOwned()) {
    // Resizing in place keeps the text (and its NUL, since length < capacity) without a copy
    // where the runtime can remap a large block, so a growing document never holds two copies.
    block = static_cast<char*>(MemoryInterface::Reallocate(data, new_capacity));
    if (block == nullptr) ExitOutOfMemory();
  } else {
    block = static_cast<char*>(MemoryInterface::AllocateOrExit(new_capacity));
    block[0] = '\0';
  }
  data = block;
  capacity = new_capacity;
}

void CStringBufferA::ClearHeap(bool release) {
  if (release) {
    if (IsHeapOwned()) MemoryInterface::Free(data);
    data = SharedEmptyString;
    capacity = 0;
    length = 0;
    return;
  }
  // The shared empty strings already read as empty and must stay untouched.
  if (data != nullptr && data != SharedEmptyString && data != SharedEmptyValueString) {
    data[0] = '\0';
  }
  length = 0;
}

void CStringBufferA::ReserveInline(uint32_t n, char* storage, uint32_t inline_capacity) {
  if (n <= inline_capacity && (data == storage || data == SharedEmptyString)) {
    data = storage;
    if (length == 0) storage[0] = '\0';
    // The whole inline storage is there anyway; granting it spares later appends a call.
    capacity = inline_capacity;
    return;
  }
  if (data == storage) {
    // The text outgrows the inline storage: start a heap block and carry the text over.
    data = SharedEmptyString;
    capacity = 0;
    ReserveHeap(n);
    uint32_t count = 0;
    while (count < inline_capacity && count + 1 < capacity && storage[count] != '\0') ++count;
    std::memcpy(data, storage, count);
    data[count] = '\0';
    return;
  }
  ReserveHeap(n);
}

void CStringBufferA::ClearInline(bool release, char* storage) {
  if (data == storage) {
    data = SharedEmptyString;
    capacity = 0;
    length = 0;
    return;
  }
  ClearHeap(release);
}

const char* CStringBufferA::Assign(const char* text) {
  if (text == nullptr) {
    Clear(false);
    return data;
  }
  const uint32_t text_length = NarrowRequest(std::strlen(text));
  Reserve(NarrowRequest(uint64_t{text_length} + 1));
  std::memmove(data, text, std::size_t{text_length} + 1);
  length = text_length;
  return data;
}

uint32_t CStringBufferA::Append(const char* text) {
  if (text == nullptr) return length;
  return Append(text, NarrowRequest(std::strlen(text)));
}

void CStringBufferA::GrowForAppend(uint64_t needed) {
  uint64_t request = needed;
  if (capacity >= kGeometricGrowthFrom) {
    // Large texts (whole documents) double, so appending hundreds of megabytes costs linear
    // time; small texts keep the exact 256-character steps.
    request = std::max(needed, std::min(uint64_t{capacity} * 2, kLargestDoubling));
  }
  Reserve(NarrowRequest(request));
}

uint32_t CStringBufferA::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int n = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (n <= 0) {
    va_end(args);
    Clear(false);
    return length;
  }
  const uint32_t text_length = static_cast<uint32_t>(n);
  Reserve(text_length + 1);
  std::vsnprintf(data, std::size_t{text_length} + 1, format, args);
  va_end(args);
  length = text_length;
  return length;
}

uint32_t CStringBufferA::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint32_t result = AppendFormatV(format, args);
  va_end(args);
  return result;
}

uint32_t CStringBufferA::AppendFormatV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int n = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (n <= 0) return length;
  const uint32_t added = static_cast<uint32_t>(n);
  ReserveForAppend(uint64_t{length} + added + 1);
  std::vsnprintf(data + length, std::size_t{added} + 1, format, args);
  length += added;
  return length;
}

uint32_t CStringBufferA::AppendCodePoint(uint32_t code_point) {
  char bytes[6];
  const char* end = EncodeUtf8(code_point, bytes);
  for (const char* byte = bytes; byte != end; ++byte) AppendChar(*byte);
  return length;
}

// ---------------------------------------------------------------------------------------------
// CStringBuffer

CStringBuffer::CStringBuffer() : data(SharedEmptyWideString), capacity(0), length(0) {}

CStringBuffer::~CStringBuffer() {
  if (IsHeapOwned()) MemoryInterface::Free(data);
  data = SharedEmptyWideString;
  capacity = 0;
  length = 0;
}

bool CStringBuffer::IsHeapOwned() const { return data != nullptr && data != SharedEmptyWideString; }

void CStringBuffer::Reserve(int32_t n) {
  if (n < capacity) return;
  // A request for 0 characters still needs room for the NUL written below.
  uint64_t rounded = RoundUpToGrowthStep(static_cast<uint64_t>(n));
  if (rounded == 0) rounded = kGrowthStep;
  if (rounded > INT32_MAX) ExitOutOfMemory();
  const int32_t new_capacity = static_cast<int32_t>(rounded);
  auto* block = static_cast<char16_t*>(
      MemoryInterface::AllocateOrExit(static_cast<std::size_t>(rounded) * sizeof(char16_t)));
  if (IsHeapOwned()) {
    std::memcpy(block, data, (static_cast<std::size_t>(length) + 1) * sizeof(char16_t));
    MemoryInterface::Free(data);
  } else {
    block[0] = u'\0';
  }
  data = block;
  capacity = new_capacity;
}

void CStringBuffer::Clear(bool release) {
  if (release) {
    if (IsHeapOwned()) MemoryInterface::Free(data);
    data = SharedEmptyWideString;
    capacity = 0;
    length = 0;
    return;
  }
  if (IsHeapOwned()) data[0] = u'\0';
  length = 0;
}

int32_t CStringBuffer::AppendUnit(char16_t unit) {
  if (length > INT32_MAX - 2) ExitOutOfMemory();
  Reserve(length + 2);
  data[length] = unit;
  ++length;
  data[length] = u'\0';
  return length;
}

// ---------------------------------------------------------------------------------------------
// HeapText

uint32_t HeapText::Length() const {
  if (!OwnsHeapTextBlock(text)) return 0;
  return ReadHeaderWord(text, kHeapTextLengthOffset);
}

bool HeapText::Resize(uint32_t n) {
  if (OwnsHeapTextBlock(text)) {
    if (HeapTextBlockFits(text, n)) {
      WriteHeaderWord(text, kHeapTextLengthOffset, n);
      return true;
    }
    MemoryInterface::Free(HeaderOf(text));
    text = SharedEmptyValueString;
    if (n == 0) return false;
  }
  char* fresh = NewHeapTextBlock(n);
  if (fresh == nullptr) {
    text = SharedEmptyValueString;
    return false;
  }
  text = fresh;
  return true;
}

void HeapText::AssignText(const char* source) {
  if (source == nullptr) {
    Release();
    return;
  }
  const std::size_t count = std::strlen(source);
  if (count > kMaxHeapTextLength) {
    Release();
    return;
  }
  AssignBytes(source, static_cast<uint32_t>(count));
}

void HeapText::AssignBytes(const char* source, uint32_t count) {
  // Same outcome as Resize followed by a copy, but the old block is given back only after the
  // copy, so a source inside the current text stays readable.
  if (OwnsHeapTextBlock(text) && HeapTextBlockFits(text, count)) {
    if (count != 0) std::memmove(text, source, count);
    text[count] = '\0';
    WriteHeaderWord(text, kHeapTextLengthOffset, count);
    return;
  }
  char* fresh = nullptr;
  if (count != 0 || !OwnsHeapTextBlock(text)) fresh = NewHeapTextBlock(count);
  if (fresh != nullptr) {
    if (count != 0) std::memcpy(fresh, source, count);
    fresh[count] = '\0';
  }
  Release();
  if (fresh != nullptr) text = fresh;
}

void HeapText::Release() {
  if (OwnsHeapTextBlock(text)) MemoryInterface::Free(HeaderOf(text));
  text = SharedEmptyValueString;
}

// ---------------------------------------------------------------------------------------------

int FormatFixed64(char (&out)[64], const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(out, sizeof(out), format, args);
  va_end(args);
  if (n < 0 || n >= static_cast<int>(sizeof(out))) {
    out[0] = '\0';
    return -1;
  }
  return n;
}
