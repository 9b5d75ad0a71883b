// foundation/string_buffer.h - growable NUL-terminated texts and the heap-text handle.
//
// CStringBufferA holds 8-bit text, TStringBufferA<N> adds inline room for N characters, and
// CStringBuffer holds 16-bit text. A buffer is in one of three states:
//
//   empty   data == the shared empty string, capacity 0, length 0 (owns nothing)
//   inline  TStringBufferA only: data == the inline storage, capacity == N
//   heap    data == a block of exactly `capacity` characters from the MemoryInterface
//
// Heap capacities are multiples of 256 characters; appending to a text of 64 KiB or more
// doubles its capacity. Every growing operation goes through the
// virtual Reserve and Clear, so TStringBufferA keeps short texts inline with the same calls.
// The text is always NUL-terminated; `length` counts the characters before that NUL.
// Arguments of Assign, Append and Format must not point into the buffer they change: growth
// may move the text.
//
// HeapText is a pointer-sized handle to a text stored inside a record. A text that owns a
// block is preceded by a header in that block:
//
//   offset 0  u32 capacity   bytes available for characters and NUL (length + 1 at creation)
//   offset 4  u32 length     characters before the NUL
//   offset 8  characters, NUL          <- the handle points here
//
// The empty handle points at SharedEmptyValueString, which has no header and is never freed.
#pragma once

#include <bit>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define QVX_PRINTF_FORMAT(fmt_index, args_index) \
  __attribute__((format(printf, fmt_index, args_index)))
#else
#define QVX_PRINTF_FORMAT(fmt_index, args_index)
#endif

/// The empty text every empty CStringBufferA points at. Zero-filled, never written, never freed.
extern char SharedEmptyString[4];
/// The empty text of heap-text values (HeapText). Zero-filled, never written, never freed.
extern char SharedEmptyValueString[4];
/// The empty text of every empty CStringBuffer.
extern char16_t SharedEmptyWideString[2];

/// Copies `count` bytes from `from` to `to` (which must not overlap it). Texts of a document are
/// mostly a few bytes long, where a call of the library's copy costs more than the copy: up to
/// 16 bytes are moved by two loads and two stores that may overlap each other, reading and
/// writing nothing outside the two ranges.
inline void CopyBytes(char* to, const char* from, size_t count) {
#if defined(__GNUC__)
  // A count known at compile time is the compiler's to copy (and to check against the arrays).
  if (__builtin_constant_p(count)) {
    std::memcpy(to, from, count);
    return;
  }
#endif
  if (count > 16) {
    std::memcpy(to, from, count);
  } else if (count >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + count - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + count - 8, &tail, 8);
  } else if (count >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + count - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + count - 4, &tail, 4);
  } else if (count != 0) {
    const char first = from[0], middle = from[count / 2], last = from[count - 1];
    to[0] = first;
    to[count / 2] = middle;
    to[count - 1] = last;
  }
}

/// A byte of one in every byte of a word, and the high bit of every byte.
inline constexpr uint64_t kEveryByteOne = 0x0101010101010101u;
inline constexpr uint64_t kEveryByteHigh = 0x8080808080808080u;

/// The high bit of each zero byte of `word`: none when no byte is zero. A borrow can also flag
/// a byte above a zero byte, so of the flags only the lowest is exact.
constexpr uint64_t ZeroBytes(uint64_t word) {
  return (word - kEveryByteOne) & ~word & kEveryByteHigh;
}

/// The first of `count` bytes at `text` that equals `c`, or null. Short texts are searched here,
/// where a call of the library's search would cost more than the search: eight bytes at a time
/// on a little-endian machine (the last word overlapping the one before), byte by byte below
/// eight bytes and elsewhere.
inline const char* FindByte(const char* text, size_t count, char c) {
  if (count > 32) {
    return static_cast<const char*>(std::memchr(text, c, count));
  }
  if constexpr (std::endian::native == std::endian::little) {
    if (count >= 8) {
      const uint64_t pattern = kEveryByteOne * static_cast<uint8_t>(c);
      size_t at = 0;
      for (;;) {
        uint64_t word;
        std::memcpy(&word, text + at, 8);
        // The lowest flag is exact; the bytes below it in an overlapping word were searched.
        const uint64_t found = ZeroBytes(word ^ pattern);
        if (found != 0) {
          return text + at + static_cast<size_t>(std::countr_zero(found)) / 8;
        }
        if (at + 8 == count) {
          return nullptr;
        }
        at = at + 16 <= count ? at + 8 : count - 8;
      }
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (text[i] == c) {
      return text + i;
    }
  }
  return nullptr;
}

/// Growable 8-bit text. Fields are public in their fixed order; use the operations to change them.
class CStringBufferA {
 public:
  /// Empty: data = SharedEmptyString, capacity 0, length 0.
  CStringBufferA();
  /// Copy of `text`; a null text leaves the buffer empty.
  explicit CStringBufferA(const char* text);
  virtual ~CStringBufferA();
  CStringBufferA(const CStringBufferA&) = delete;
  CStringBufferA& operator=(const CStringBufferA&) = delete;

  /// Makes room for `n` bytes (characters and NUL). Heap capacity is n rounded up to 256.
  virtual void Reserve(uint32_t n);
  /// release false: empties the text and keeps the memory; true: frees a heap block too.
  virtual void Clear(bool release);

  /// Empties the text and keeps the storage it has, inline or heap, for the next text (Clear
  /// gives inline storage up, so refilling costs a Reserve): for scratch buffers refilled once
  /// per value.
  void Empty() {
    if (length != 0) {
      length = 0;
      data[0] = '\0';
    }
  }
  /// Empty, then the NUL-terminated `text` appended (nothing for null or empty): Assign without
  /// giving up the storage.
  void Refill(const char* text) {
    Empty();
    if (text != nullptr && text[0] != '\0') Append(text, static_cast<uint32_t>(std::strlen(text)));
  }
  /// Replaces the text by a copy of `text` (a null text empties the buffer); returns data.
  const char* Assign(const char* text);
  /// Appends a NUL-terminated text; returns the new length.
  uint32_t Append(const char* text);
  /// Appends `count` bytes of `bytes` (which may contain no NUL); returns the new length.
  /// Inline: an append that fits the capacity costs a compare and a copy.
  uint32_t Append(const char* bytes, uint32_t count) {
    ReserveForAppend(uint64_t{length} + count + 1);
    CopyBytes(data + length, bytes, count);
    length += count;
    data[length] = '\0';
    return length;
  }
  /// Appends one character; returns the new length.
  uint32_t AppendChar(char c) {
    ReserveForAppend(uint64_t{length} + 2);
    data[length] = c;
    ++length;
    data[length] = '\0';
    return length;
  }
  /// Replaces the text by the formatted text; a format that yields nothing empties the buffer.
  uint32_t Format(const char* format, ...) QVX_PRINTF_FORMAT(2, 3);
  /// Appends the formatted text; a format that yields nothing leaves the buffer unchanged.
  uint32_t AppendFormat(const char* format, ...) QVX_PRINTF_FORMAT(2, 3);
  uint32_t AppendFormatV(const char* format, va_list args);
  /// Appends the UTF-8 form of `code_point` (nothing for negative values); returns the length.
  uint32_t AppendCodePoint(uint32_t code_point);

  /// True when data is a block this buffer owns (not the shared empty string, not inline).
  bool IsHeapOwned() const;

  /// From this capacity on, appending doubles the capacity instead of adding 256-character
  /// steps, so building a whole document costs linear time.
  static constexpr uint32_t kGeometricGrowthFrom = 64 * 1024;
  /// Makes room for an append that needs `needed` bytes in all (characters and NUL).
  void ReserveForAppend(uint64_t needed) {
    if (needed > capacity) GrowForAppend(needed);
  }

  char* data;
  uint32_t capacity;
  uint32_t length;

 protected:
  /// The inline storage of TStringBufferA, null for the plain buffer.
  virtual const char* InlineStorage() const { return nullptr; }
  /// The growing part of ReserveForAppend, out of line.
  void GrowForAppend(uint64_t needed);
  /// The Reserve of CStringBufferA itself, which TStringBufferA::Reserve builds on.
  void ReserveHeap(uint32_t n);
  /// The Clear of CStringBufferA itself.
  void ClearHeap(bool release);
  /// Shared by every TStringBufferA<N>: the inline-aware Reserve and Clear.
  void ReserveInline(uint32_t n, char* storage, uint32_t inline_capacity);
  void ClearInline(bool release, char* storage);
};

/// CStringBufferA with inline room for N characters (texts up to N - 1 need no allocation).
template <uint32_t N>
class TStringBufferA : public CStringBufferA {
 public:
  TStringBufferA() = default;
  explicit TStringBufferA(const char* text) {
    if (text == nullptr) {
      Clear(false);
    } else {
      Assign(text);
    }
  }
  ~TStringBufferA() override {
    // The base destructor frees only heap blocks; forget the inline storage first.
    if (data == storage_) {
      data = SharedEmptyString;
      capacity = 0;
      length = 0;
    }
  }

  void Reserve(uint32_t n) override { ReserveInline(n, storage_, N); }
  void Clear(bool release) override { ClearInline(release, storage_); }

 protected:
  const char* InlineStorage() const override { return storage_; }

 private:
  char storage_[N];
};

/// Growable 16-bit text (capacity and length in characters).
class CStringBuffer {
 public:
  CStringBuffer();
  /// Frees a heap-owned block and returns to the shared empty wide string.
  ~CStringBuffer();
  CStringBuffer(const CStringBuffer&) = delete;
  CStringBuffer& operator=(const CStringBuffer&) = delete;

  /// Grows unless n < capacity (a request equal to the capacity grows); 256-character steps.
  virtual void Reserve(int32_t n);
  virtual void Clear(bool release);
  /// Appends one 16-bit character; returns the new length.
  int32_t AppendUnit(char16_t unit);

  bool IsHeapOwned() const;

  char16_t* data;
  int32_t capacity;
  int32_t length;
};

/// Pointer-sized handle to a text stored inside a record (see the header layout above).
/// A plain value: records hold it without construction; Release gives its block back.
struct HeapText {
  char* text;

  /// The empty handle (points at SharedEmptyValueString).
  static HeapText Empty() { return HeapText{SharedEmptyValueString}; }
  bool IsEmptyHandle() const { return text == SharedEmptyValueString; }
  /// Stored length (0 for the empty handle).
  uint32_t Length() const;
  /// Makes room for n characters and stores n as the length; the caller fills the characters
  /// and the NUL. Returns false (handle empty) when no block is held afterwards.
  [[nodiscard]] bool Resize(uint32_t n);
  /// Replaces the text by a copy of `source`; a null source makes the handle empty.
  void AssignText(const char* source);
  /// Replaces the text by a copy of `count` bytes of `source` followed by a NUL.
  void AssignBytes(const char* source, uint32_t count);
  /// Gives an owned block back and makes the handle empty.
  void Release();
};

/// Formats into a caller's 64-character array. Returns the length written, or -1 when the
/// output would not fit (the array then holds the empty text).
int FormatFixed64(char (&out)[64], const char* format, ...) QVX_PRINTF_FORMAT(2, 3);
