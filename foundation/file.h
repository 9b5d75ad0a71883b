// foundation/file.h - opening, reading and writing whole files, and listing folders.
//
// The only module that touches the file system. Every command reads its inputs whole and
// writes each output whole in one call:
//
//   reading  a file of kMaxStreamBytes (512 MiB) or more is refused; a failed read leaves
//            the buffer empty
//   writing  atomic: the content goes to a temporary file in the target's folder, which is
//            then renamed over the target. On any failure the temporary file is removed, an
//            existing target keeps its old content, and the call returns false
//
// Paths are narrow strings handed to the platform as they are. Nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/byte_buffer.h"
#include "foundation/string_buffer.h"

/// An open file: a POSIX descriptor or a Win32 HANDLE, held as an integer.
using FileHandle = intptr_t;
/// The handle of no file (all bits set), returned when opening fails.
inline constexpr FileHandle kInvalidFile = -1;

/// Opens `path` by a mode of one letter, optionally followed by "+":
///
///   mode  access          others may    creation                      after opening
///   "r"   read            read          existing only
///   "w"   write           nothing       always (truncates)
///   "a"   write           nothing       always (creates if missing)   position at the end
///   "r+"  read and write  nothing       existing only
///   "w+"  read and write  nothing       always (truncates)
///   "a+"  read and write  nothing       always (creates if missing)   position at the end
///
/// A second character other than "+" is ignored ("rb" acts as "r"). An empty or null mode, any
/// other first letter, or a null path yields kInvalidFile without touching the file system. A
/// folder cannot be opened, and a file that another open handle shares in a conflicting way
/// is refused, so a writer excludes every other user and readers exclude writers.
[[nodiscard]] FileHandle OpenFile(const char* path, const char* mode);
/// Closes a handle from OpenFile; kInvalidFile is ignored.
void CloseFile(FileHandle file);
/// Reads up to `count` bytes at the file position into `bytes`; `delivered` receives how many
/// arrived (fewer than `count` only at the end of the file). False on a read error.
[[nodiscard]] bool ReadFromFile(FileHandle file, void* bytes, uint32_t count, uint32_t& delivered);
/// Writes all `count` bytes at the file position; false when any of them could not be written.
[[nodiscard]] bool WriteToFile(FileHandle file, const void* bytes, uint32_t count);
/// The current size of an open file in bytes.
[[nodiscard]] bool QueryFileSize(FileHandle file, uint64_t& size);

/// Reads the whole file into `buffer` (Reset first, then size = the file's length). False,
/// with the buffer reset, when the file cannot be opened or read, when it holds
/// kMaxStreamBytes or more, or when the buffer cannot grow.
[[nodiscard]] bool ReadWholeFile(const char* path, ByteBuffer& buffer);
/// Reads the whole file into `text` and terminates it with a NUL; `length` is the file's
/// length (a NUL inside the file ends the text for readers that stop at the first NUL).
/// False, with the text empty, on the failures of ReadWholeFile.
[[nodiscard]] bool ReadWholeText(const char* path, CStringBufferA& text);

/// A whole input file, held for reading. A regular file is mapped straight from the system's
/// file cache where the platform allows it: no copy and no fresh memory to fault in, which is
/// most of the cost of reading a large file. An empty file, a pipe or device, or a platform
/// without mapping is read into an owned buffer instead. Either way `data` and `size` hold the
/// whole content until the next Load, Release or destruction; `data` is never null (an empty
/// content points at a static empty byte). The content of a mapped file is that of the file
/// itself: a program that truncates the file while it is held makes further reads fail hard,
/// as with any memory-mapped reader.
class FileContent {
 public:
  FileContent() = default;
  ~FileContent();
  FileContent(const FileContent&) = delete;
  FileContent& operator=(const FileContent&) = delete;

  /// Loads `path` whole (Release first). Fails, holding nothing, as ReadWholeFile does: the
  /// file cannot be opened or read, or holds kMaxStreamBytes or more.
  [[nodiscard]] bool Load(const char* path);
  /// Gives back the mapping or the buffer; the content is empty afterwards.
  void Release();

  const uint8_t* data = kEmpty;
  uint32_t size = 0;

 private:
  static constexpr uint8_t kEmpty[1] = {0};
  ByteBuffer buffer_;
  void* mapping_ = nullptr;  // the platform's view, when the content is mapped
  size_t mapping_bytes_ = 0;
};

/// An input file read a part at a time into one block that holds a window over it, for a
/// reader that goes through a large file once: memory then holds the window, not the file, and
/// the same few pages of it are filled again and again. (Fresh memory, and each page of a view
/// mapped from the file cache, cost a trap of their own when first touched; on this project's
/// measuring machine that was most of the cost of reading a 173 MB file.) data[size] is always
/// a NUL that may be read.
class FileWindow {
 public:
  FileWindow() = default;
  ~FileWindow();
  FileWindow(const FileWindow&) = delete;
  FileWindow& operator=(const FileWindow&) = delete;

  /// Opens `path` and reads its first `window_bytes` (1 or more) bytes, or all of a shorter
  /// file. Fails, holding nothing, as FileContent::Load does: the file cannot be opened or read,
  /// or holds kMaxStreamBytes or more.
  [[nodiscard]] bool Open(const char* path, uint32_t window_bytes);
  /// Keeps the bytes from offset `keep` on (at most `size`), now at offset 0, and reads more
  /// after them up to the window's size (or, with `rest`, all of the rest of the file). False
  /// on a read error or when the file reaches kMaxStreamBytes; the window is then empty.
  [[nodiscard]] bool Advance(uint32_t keep, bool rest);
  /// Closes the file and gives the block back; the window is empty afterwards.
  void Close();

  const uint8_t* data = kEmpty;
  uint32_t size = 0;
  bool at_end = true;      // the window holds the end of the file (nothing more to read)
  uint64_t file_size = 0;  // as the file reported it when opened (0 for a pipe)

 private:
  static constexpr uint8_t kEmpty[1] = {0};
  // Reads until the block holds `wanted` bytes or the file ends.
  [[nodiscard]] bool Fill(uint64_t wanted);

  FileHandle file_ = kInvalidFile;
  uint8_t* block_ = nullptr;
  uint64_t capacity_ = 0;  // bytes of the block, one of them for the NUL
  uint32_t window_ = 0;
  uint64_t passed_ = 0;  // bytes of the file before the window
};

/// One output file written in pieces, with the guarantees of WriteWholeBytes (below): Open
/// prepares a temporary file in the target's folder (or opens a device or pipe target
/// directly), Write appends to it, and Commit renames it over the target. The target is
/// untouched until Commit succeeds; a failed Write or Commit, an Abandon, or destruction before
/// Commit removes the temporary file.
///
/// When the rename replaces an existing file, Commit first waits until the new content is on
/// the disk: a crash soon after could otherwise leave an empty file where the old content was.
/// A new file is not waited for: there is nothing a crash could take from the user there (at
/// worst the new file is incomplete, as after any interrupted write), and for a large file the
/// wait is long (for a text of 170 MB, 0.1 to 0.16 s on a local disk, a third of the time of
/// converting it).
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// False, with nothing created, when `path` cannot be written (see WriteWholeBytes).
  [[nodiscard]] bool Open(const char* path);
  /// Appends `count` bytes. False when the file is not open or any byte could not be
  /// written; the file is then abandoned.
  [[nodiscard]] bool Write(const void* bytes, size_t count);
  /// Finishes the file: renamed over the target, after it is flushed to the disk when that
  /// replaces an existing file. False, with the temporary file removed and the target as it
  /// was, on any failure or when not open.
  [[nodiscard]] bool Commit();
  /// Closes and removes the temporary file, if any; the target stays as it was.
  void Abandon();
  /// True between a successful Open and the end of the file (Commit, Abandon or a failure).
  [[nodiscard]] bool IsOpen() const { return handle_ != kInvalidFile; }
  /// True while open when the target existed at Open: Commit will flush before it renames.
  [[nodiscard]] bool ReplacesTarget() const { return IsOpen() && replaces_; }

 private:
  // Asks the system to start writing what has been written so far to the disk, in steps of
  // several MiB, so that Commit's flush waits only for the last of it. Only for a file that
  // will be flushed.
  void StartWriteback();
  // Gives the file its disk space ahead of the writes, up to at least `end` bytes and some way
  // beyond, where the system can: a file system that allocates as the pages are written then
  // has far less to do for each page. Commit cuts the file back to what was written. Nothing
  // changes when the system cannot (a failure here is no failure of the file).
  void ReserveAhead(uint64_t end);

  FileHandle handle_ = kInvalidFile;
  bool direct_ = false;         // a device or pipe, written in place
  bool replaces_ = false;       // the target existed at Open
  uint64_t written_ = 0;        // bytes written so far
  uint64_t flushed_ = 0;        // bytes whose writeback to the disk has been started
  uint64_t reserved_ = 0;       // the file's length with the space given ahead (0: none)
  bool reserving_ = true;       // the system has not refused to give space ahead
  TStringBufferA<260> temp_;    // the temporary file while open
  TStringBufferA<260> target_;  // what Commit renames it to
};

/// Writes `count` bytes atomically to `path` (see above). An existing character device or pipe
/// (such as /dev/null, or NUL on Windows) cannot be replaced and is written directly instead; a
/// folder, a block device or a socket is refused, and so is an existing file the caller may not
/// write (its permissions and the link it is reached through are kept). False when the folder
/// does not exist or on any failure.
[[nodiscard]] bool WriteWholeBytes(const char* path, const void* bytes, size_t count);
/// Writes the used bytes of `buffer` (`size` of them) as WriteWholeBytes does.
[[nodiscard]] bool WriteWholeFile(const char* path, const ByteBuffer& buffer);
/// Writes the characters of `text` (`length` of them, no NUL) as WriteWholeBytes does.
[[nodiscard]] bool WriteWholeText(const char* path, const CStringBufferA& text);

/// True when both paths name the same existing file, however they are spelled (relative or
/// absolute, through links, "." and ".." steps). False when either does not exist.
[[nodiscard]] bool SameFile(const char* a, const char* b);
/// True when `path` names an existing folder.
[[nodiscard]] bool IsDirectory(const char* path);

/// Replaces `paths` by the full path of every regular file under `folder` whose name ends in
/// ".bin" in any letter case, in depth-first pre-order: a folder's own files in byte-wise
/// ascending name order, then each subfolder's whole tree, subfolders in byte-wise ascending
/// name order. Each path is the folder text, a kPathSeparator unless that text already ends in
/// a separator the platform honours ("/"; on Windows also "\\"), and the name. Links to
/// folders are not followed (a link cycle cannot loop); subfolders that cannot be read
/// contribute nothing. False, with `paths` empty, when `folder` is empty or cannot be read.
[[nodiscard]] bool ListBinFilesRecursive(const char* folder, std::vector<std::string>& paths);
