// foundation/file.cpp - the mode table, whole-file reading and atomic writing on POSIX and Win32.
//
// The platform-independent parts (mode parsing, reading to the end, temporary names, the
// listing order) come first; each platform then supplies the same small set of calls.
#include "foundation/file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "foundation/ascii.h"
#include "foundation/bit_stream.h"
#include "foundation/memory.h"
#include "foundation/path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace {

enum class Access { kRead, kWrite, kReadWrite };
enum class Creation { kExistingOnly, kAlwaysTruncate, kAlwaysKeep };

struct OpenRule {
  Access access;
  Creation creation;
  bool others_may_read;
  bool seek_to_end;
};

bool ParseMode(const char* mode, OpenRule& rule) {
  if (mode == nullptr || mode[0] == '\0') {
    return false;
  }
  const bool plus = mode[1] == '+';
  const Access write_access = plus ? Access::kReadWrite : Access::kWrite;
  switch (mode[0]) {
    case 'r':
      rule = {plus ? Access::kReadWrite : Access::kRead, Creation::kExistingOnly, !plus, false};
      return true;
    case 'w':
      rule = {write_access, Creation::kAlwaysTruncate, false, false};
      return true;
    case 'a':
      rule = {write_access, Creation::kAlwaysKeep, false, true};
      return true;
    default:
      return false;
  }
}

// Separators the platform itself honours. On POSIX a backslash is an ordinary character of a
// name, so treating it as a separator here would point at the wrong folder.
bool IsNativeSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// Writes all `count` bytes at the file position; false when any could not be written.
bool WriteAllTo(FileHandle file, const uint8_t* bytes, size_t count);
// Maps `size` bytes of an open regular file read-only into `view`; false where the platform
// does not map or the mapping fails (the caller then reads the file instead).
bool MapReadOnly(FileHandle file, uint64_t size, void*& view);
// Gives back a view from MapReadOnly.
void UnmapReadOnly(void* view, size_t bytes);

// Storage that ReadToEnd fills: `bytes` can take `room` bytes.
struct Room {
  uint8_t* bytes;
  uint32_t room;
};

// Reads an open file to its end through `make_room(n)`, which must keep the first bytes
// already read and return room for at least n bytes (or null bytes when it cannot). The size
// the file reports is only a hint: pipes and some special files report 0 and still deliver
// content, and a file may change while it is read. Fails at kMaxStreamBytes.
template <typename MakeRoom>
bool ReadToEnd(FileHandle file, MakeRoom make_room, uint32_t& total) {
  total = 0;
  uint64_t hint = 0;
  if (!QueryFileSize(file, hint)) {
    hint = 0;
  }
  if (hint >= kMaxStreamBytes) {
    return false;
  }
  Room storage = make_room(static_cast<uint32_t>(hint));
  if (storage.bytes == nullptr && hint != 0) {
    return false;
  }
  for (;;) {
    if (total < storage.room) {
      const uint32_t limit = std::min<uint32_t>(storage.room, kMaxStreamBytes);
      uint32_t delivered = 0;
      if (!ReadFromFile(file, storage.bytes + total, limit - total, delivered)) {
        return false;
      }
      total += delivered;
      if (total >= kMaxStreamBytes) {
        return false;
      }
      if (total < limit) {
        return true;  // the end of the file came first
      }
      continue;
    }
    // The storage is full: probe for more before growing it, so a file of exactly the
    // announced size costs no extra allocation.
    uint8_t probe[4096];
    uint32_t delivered = 0;
    if (!ReadFromFile(file, probe, sizeof(probe), delivered)) {
      return false;
    }
    if (delivered == 0) {
      return true;
    }
    if (delivered >= kMaxStreamBytes - total) {
      return false;
    }
    // Grow geometrically so that a long pipe is not copied once per granule.
    const uint32_t needed = total + delivered;
    const uint32_t wanted = std::min<uint32_t>(std::max(needed, total * 2), kMaxStreamBytes);
    storage = make_room(wanted);
    if (storage.bytes == nullptr || storage.room < needed) {
      return false;
    }
    std::memcpy(storage.bytes + total, probe, delivered);
    total = needed;
  }
}

bool EndsWithBin(const std::string& name) {
  static constexpr char kSuffix[] = ".bin";
  if (name.size() < 4) {
    return false;
  }
  const char* tail = name.data() + name.size() - 4;
  for (int i = 0; i < 4; ++i) {
    if (AsciiToLower(tail[i]) != kSuffix[i]) {
      return false;
    }
  }
  return true;
}

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Collects the entries of one folder; false when it cannot be read. Per platform.
bool CollectEntries(const std::string& prefix, std::vector<std::string>& files,
                    std::vector<std::string>& folders);

// Emits a folder's files, then walks its subfolders, each group in byte-wise ascending order
// (std::string compares as unsigned bytes). `prefix` ends in a separator. The depth is bounded
// by the platform's path length limit: a deeper folder cannot be opened.
bool ListFolder(const std::string& prefix, std::vector<std::string>& paths) {
  std::vector<std::string> files;
  std::vector<std::string> folders;
  if (!CollectEntries(prefix, files, folders)) {
    return false;
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : files) {
    paths.push_back(prefix + name);
  }
  for (const std::string& name : folders) {
    // An unreadable subfolder contributes nothing, as an empty one would.
    (void)ListFolder(prefix + name + kPathSeparator, paths);
  }
  return true;
}

// Up to this many names are tried for a temporary file before giving up.
constexpr uint32_t kTempNameAttempts = 100;

// The temporary file's path: the target's own folder (as the platform sees it) and a name no
// other writer of this process uses.
void MakeTempPath(const char* target, unsigned long process_id, CStringBufferA& temp) {
  static uint32_t serial = 0;
  size_t folder_length = 0;
  for (size_t i = 0; target[i] != '\0'; ++i) {
#ifdef _WIN32
    const bool ends_folder = IsNativeSeparator(target[i]) || target[i] == ':';  // "C:name"
#else
    const bool ends_folder = IsNativeSeparator(target[i]);
#endif
    if (ends_folder) {
      folder_length = i + 1;
    }
  }
  temp.Clear(false);
  if (folder_length != 0) {
    temp.Append(target, static_cast<uint32_t>(folder_length));
  }
  temp.AppendFormat(".qvxtmp-%lu-%u", process_id, serial++);
}

}  // namespace

#ifdef _WIN32

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

bool CollectEntries(const std::string& prefix, std::vector<std::string>& files,
                    std::vector<std::string>& folders) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((prefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    return false;
  }
  do {
    if (IsDotOrDotDot(entry.cFileName)) {
      continue;
    }
    std::string name(entry.cFileName);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // Junctions and folder links could lead back up the tree.
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        folders.push_back(std::move(name));
      }
    } else if (EndsWithBin(name)) {
      files.push_back(std::move(name));
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return true;
}

bool WriteAll(HANDLE file, const uint8_t* bytes, size_t count) {
  while (count != 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    count -= written;
  }
  return true;
}

// Devices ("NUL", "CON") and pipes have no content to replace: a rename over one would fail or
// destroy it, so they are written through the handle opened here. Opening an existing file
// this way changes nothing; null when `path` is no such target (also when it is missing).
HANDLE OpenDeviceTarget(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    return file;
  }
  CloseHandle(file);
  return nullptr;
}

bool IdentifyFile(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known;
}

}  // namespace

FileHandle OpenFile(const char* path, const char* mode) {
  OpenRule rule;
  if (path == nullptr || !ParseMode(mode, rule)) {
    return kInvalidFile;
  }
  const DWORD access = rule.access == Access::kRead    ? GENERIC_READ
                       : rule.access == Access::kWrite ? GENERIC_WRITE
                                                       : GENERIC_READ | GENERIC_WRITE;
  const DWORD share = rule.others_may_read ? FILE_SHARE_READ : 0;
  const DWORD creation = rule.creation == Creation::kExistingOnly     ? OPEN_EXISTING
                         : rule.creation == Creation::kAlwaysTruncate ? CREATE_ALWAYS
                                                                      : OPEN_ALWAYS;
  HANDLE file = CreateFileA(path, access, share, nullptr, creation, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return kInvalidFile;
  }
  if (rule.seek_to_end) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) {
      CloseHandle(file);
      return kInvalidFile;
    }
  }
  return reinterpret_cast<FileHandle>(file);
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) {
    CloseHandle(ToHandle(file));
  }
}

bool ReadFromFile(FileHandle file, void* bytes, uint32_t count, uint32_t& delivered) {
  delivered = 0;
  auto* target = static_cast<uint8_t*>(bytes);
  while (delivered < count) {
    DWORD got = 0;
    if (!ReadFile(ToHandle(file), target + delivered, count - delivered, &got, nullptr)) {
      // A pipe whose writer has gone is the end of its content.
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    if (got == 0) {
      break;
    }
    delivered += got;
  }
  return true;
}

bool WriteToFile(FileHandle file, const void* bytes, uint32_t count) {
  return WriteAll(ToHandle(file), static_cast<const uint8_t*>(bytes), count);
}

bool QueryFileSize(FileHandle file, uint64_t& size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(ToHandle(file), &value) || value.QuadPart < 0) {
    return false;
  }
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool OutputFile::Open(const char* path) {
  Abandon();
  replaces_ = false;
  if (path == nullptr || path[0] == '\0') {
    return false;
  }
  if (HANDLE device = OpenDeviceTarget(path)) {
    handle_ = reinterpret_cast<FileHandle>(device);
    direct_ = true;
    return true;
  }
  // Renaming over a read-only file would slip past its protection.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  replaces_ = attributes != INVALID_FILE_ATTRIBUTES;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (uint32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    MakeTempPath(path, GetCurrentProcessId(), temp_);
    file = CreateFileA(temp_.data, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  target_.Assign(path);
  handle_ = reinterpret_cast<FileHandle>(file);
  direct_ = false;
  return true;
}

bool OutputFile::Commit() {
  if (handle_ == kInvalidFile) {
    return false;
  }
  HANDLE file = ToHandle(handle_);
  handle_ = kInvalidFile;
  if (direct_) {
    return CloseHandle(file) != 0;
  }
  // A target that appeared since Open is replaced as well, and gets the same care.
  const bool replaces = replaces_ || GetFileAttributesA(target_.data) != INVALID_FILE_ATTRIBUTES;
  bool ok = !replaces || FlushFileBuffers(file) != 0;
  if (!CloseHandle(file)) {
    ok = false;
  }
  if (ok &&
      !MoveFileExA(temp_.data, target_.data, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
  }
  if (!ok) {
    DeleteFileA(temp_.data);
  }
  return ok;
}

// Windows starts writing back on its own schedule; Commit's flush waits for all of it.
void OutputFile::StartWriteback() {}

// Windows files grow without the per-page work that giving space ahead would spare.
void OutputFile::ReserveAhead(uint64_t) {}

void OutputFile::Abandon() {
  if (handle_ == kInvalidFile) {
    return;
  }
  CloseHandle(ToHandle(handle_));
  handle_ = kInvalidFile;
  if (!direct_) {
    DeleteFileA(temp_.data);
  }
}

namespace {

bool WriteAllTo(FileHandle file, const uint8_t* bytes, size_t count) {
  return WriteAll(ToHandle(file), bytes, count);
}

// Files are read into memory here: a mapped view would keep the file from being replaced
// while it is held.
bool MapReadOnly(FileHandle, uint64_t, void*&) { return false; }

void UnmapReadOnly(void*, size_t) {}

}  // namespace

bool SameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  if (!IdentifyFile(a, first) || !IdentifyFile(b, second)) {
    return false;
  }
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool IsDirectory(const char* path) {
  if (path == nullptr) {
    return false;
  }
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

#else  // POSIX

namespace {

int ToDescriptor(FileHandle file) { return static_cast<int>(file); }

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
  while (count != 0) {
    const ssize_t written = write(fd, bytes, std::min<size_t>(count, 1u << 30));
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool CollectEntries(const std::string& prefix, std::vector<std::string>& files,
                    std::vector<std::string>& folders) {
  DIR* dir = opendir(prefix.c_str());
  if (dir == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (IsDotOrDotDot(entry->d_name)) {
      continue;
    }
    std::string name(entry->d_name);
    const std::string full = prefix + name;
    struct stat info;
    if (lstat(full.c_str(), &info) != 0) {
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      folders.push_back(std::move(name));
      continue;
    }
    if (!EndsWithBin(name)) {
      continue;
    }
    // A link to a file counts as that file; a link to a folder is not followed.
    if (S_ISLNK(info.st_mode) && stat(full.c_str(), &info) != 0) {
      continue;
    }
    if (S_ISREG(info.st_mode)) {
      files.push_back(std::move(name));
    }
  }
  closedir(dir);
  return true;
}

// The data must be on disk before a rename over an existing file makes it visible, or a crash
// could leave an empty file where the old content was. File systems without fsync report
// EINVAL or ENOTSUP; nothing more can be done there.
bool SyncFile(int fd) {
  return fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
}

}  // namespace

FileHandle OpenFile(const char* path, const char* mode) {
  OpenRule rule;
  if (path == nullptr || !ParseMode(mode, rule)) {
    return kInvalidFile;
  }
  int flags = O_CLOEXEC;
  flags |= rule.access == Access::kRead ? O_RDONLY
           : rule.access == Access::kWrite ? O_WRONLY
                                           : O_RDWR;
  if (rule.creation != Creation::kExistingOnly) {
    flags |= O_CREAT;
  }
  const int fd = OpenRetrying(path, flags, 0666);
  if (fd < 0) {
    return kInvalidFile;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return kInvalidFile;
  }
  // flock stands in for the share modes: readers share, writers exclude everyone. A file
  // system without flock support is used unlocked.
  if (flock(fd, (rule.others_may_read ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0 &&
      errno == EWOULDBLOCK) {
    close(fd);
    return kInvalidFile;
  }
  // Truncated only once the lock is held, so a refused open leaves the content alone.
  const bool regular = S_ISREG(info.st_mode);
  if ((regular && rule.creation == Creation::kAlwaysTruncate && ftruncate(fd, 0) != 0) ||
      (regular && rule.seek_to_end && lseek(fd, 0, SEEK_END) < 0)) {
    close(fd);
    return kInvalidFile;
  }
  return fd;
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) {
    close(ToDescriptor(file));
  }
}

bool ReadFromFile(FileHandle file, void* bytes, uint32_t count, uint32_t& delivered) {
  delivered = 0;
  auto* target = static_cast<uint8_t*>(bytes);
  while (delivered < count) {
    const ssize_t got = read(ToDescriptor(file), target + delivered, count - delivered);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    delivered += static_cast<uint32_t>(got);
  }
  return true;
}

bool WriteToFile(FileHandle file, const void* bytes, uint32_t count) {
  return WriteAll(ToDescriptor(file), static_cast<const uint8_t*>(bytes), count);
}

bool QueryFileSize(FileHandle file, uint64_t& size) {
  struct stat info;
  if (fstat(ToDescriptor(file), &info) != 0 || info.st_size < 0) {
    return false;
  }
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool OutputFile::Open(const char* path) {
  Abandon();
  written_ = 0;
  flushed_ = 0;
  reserved_ = 0;
  reserving_ = true;
  if (path == nullptr || path[0] == '\0') {
    return false;
  }
  target_.Assign(path);
  replaces_ = false;
  bool keep_mode = false;
  mode_t mode = 0;
  struct stat existing;
  if (stat(path, &existing) == 0) {
    if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) {
      // Devices and pipes have no content to replace: renaming over one would destroy the
      // node, so they are written in place.
      const int fd = OpenRetrying(path, O_WRONLY | O_CLOEXEC, 0);
      if (fd < 0) {
        return false;
      }
      handle_ = fd;
      direct_ = true;
      return true;
    }
    // Renaming over a read-only file would slip past its protection.
    if (!S_ISREG(existing.st_mode) || access(path, W_OK) != 0) {
      return false;
    }
    keep_mode = true;
    replaces_ = true;
    mode = existing.st_mode & 07777;
    struct stat link;
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
      // Replace the file the link leads to and keep the link.
      char* resolved = realpath(path, nullptr);
      if (resolved == nullptr) {
        return false;
      }
      target_.Assign(resolved);
      std::free(resolved);
    }
  }

  int fd = -1;
  for (uint32_t attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
    MakeTempPath(target_.data, static_cast<unsigned long>(getpid()), temp_);
    fd = OpenRetrying(temp_.data, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      return false;
    }
  }
  if (fd < 0) {
    return false;
  }
  if (keep_mode && fchmod(fd, mode) != 0) {
    // The content matters more than the permissions; the new file keeps the defaults.
  }
  handle_ = fd;
  direct_ = false;
  return true;
}

bool OutputFile::Commit() {
  if (handle_ == kInvalidFile) {
    return false;
  }
  const int fd = ToDescriptor(handle_);
  handle_ = kInvalidFile;
  // close reports write errors that some file systems deliver late.
  if (direct_) {
    return close(fd) == 0;
  }
  // The space given ahead past the last write goes: the file is as long as what was written.
  bool ok = reserved_ <= written_ || ftruncate(fd, static_cast<off_t>(written_)) == 0;
  // A target that appeared since Open is replaced as well, and gets the same care.
  struct stat existing;
  const bool replaces = replaces_ || stat(target_.data, &existing) == 0;
  ok = ok && (!replaces || SyncFile(fd));
  if (close(fd) != 0) {
    ok = false;
  }
  if (ok && rename(temp_.data, target_.data) != 0) {
    ok = false;
  }
  if (!ok) {
    unlink(temp_.data);
  }
  return ok;
}

void OutputFile::StartWriteback() {
#if defined(SYNC_FILE_RANGE_WRITE)
  // The step: big enough for few, long writes to the disk; small enough to keep it busy.
  constexpr uint64_t kWritebackStep = uint64_t{16} << 20;
  if (!direct_ && replaces_ && written_ - flushed_ >= kWritebackStep) {
    // Only a start: the call does not wait for the disk, and a failure here changes nothing
    // (Commit's flush still writes and checks everything).
    (void)sync_file_range(ToDescriptor(handle_), static_cast<off_t>(flushed_),
                          static_cast<off_t>(written_ - flushed_), SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
#endif
}

void OutputFile::ReserveAhead(uint64_t end) {
#if defined(__linux__)
  if (direct_ || !reserving_ || end <= reserved_) {
    return;
  }
  // Ahead by as much as was written, 1 to 32 MiB: a few calls for a large file, and little
  // space held for nothing at any time. The system call, not posix_fallocate: where a file
  // system cannot give space ahead, that would write zeros instead.
  constexpr uint64_t kStep = uint64_t{1} << 20;
  const uint64_t ahead = std::clamp(end, kStep, 32 * kStep);
  const uint64_t length = (end + ahead + kStep - 1) / kStep * kStep;
  if (length > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      fallocate(ToDescriptor(handle_), 0, 0, static_cast<off_t>(length)) != 0) {
    reserving_ = false;  // not supported here, or no space to spare: the writes decide
    return;
  }
  reserved_ = length;
#else
  (void)end;
#endif
}

void OutputFile::Abandon() {
  if (handle_ == kInvalidFile) {
    return;
  }
  close(ToDescriptor(handle_));
  handle_ = kInvalidFile;
  if (!direct_) {
    unlink(temp_.data);
  }
}

namespace {

bool WriteAllTo(FileHandle file, const uint8_t* bytes, size_t count) {
  return WriteAll(ToDescriptor(file), bytes, count);
}

bool MapReadOnly(FileHandle file, uint64_t size, void*& view) {
  int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
  // The whole file is read anyway: mapping every page now spares one fault per page later.
  flags |= MAP_POPULATE;
#endif
  void* mapped = mmap(nullptr, static_cast<size_t>(size), PROT_READ, flags, ToDescriptor(file), 0);
  if (mapped == MAP_FAILED) {
    return false;
  }
  view = mapped;
  return true;
}

void UnmapReadOnly(void* view, size_t bytes) { munmap(view, bytes); }

}  // namespace

bool SameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) {
    return false;
  }
  struct stat first;
  struct stat second;
  if (stat(a, &first) != 0 || stat(b, &second) != 0) {
    return false;
  }
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsDirectory(const char* path) {
  struct stat info;
  return path != nullptr && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

#endif

namespace {

// Reads an open file from its position to its end into `buffer` (already Reset). Leaves the
// buffer reset on failure. Does not close the file.
bool ReadOpenFile(FileHandle file, ByteBuffer& buffer) {
  uint32_t total = 0;
  const bool ok = ReadToEnd(
      file,
      [&buffer](uint32_t n) {
        return buffer.Grow(n) ? Room{buffer.data, buffer.capacity} : Room{nullptr, 0};
      },
      total);
  if (!ok) {
    // Zero what the failed read left, so unwritten bytes stay zero.
    buffer.Reset();
    return false;
  }
  buffer.size = total;
  return true;
}

}  // namespace

bool ReadWholeFile(const char* path, ByteBuffer& buffer) {
  buffer.Reset();
  const FileHandle file = OpenFile(path, "r");
  if (file == kInvalidFile) {
    return false;
  }
  const bool ok = ReadOpenFile(file, buffer);
  CloseFile(file);
  return ok;
}

FileContent::~FileContent() { Release(); }

void FileContent::Release() {
  if (mapping_ != nullptr) {
    UnmapReadOnly(mapping_, mapping_bytes_);
    mapping_ = nullptr;
    mapping_bytes_ = 0;
  }
  buffer_.Reset();
  data = kEmpty;
  size = 0;
}

bool FileContent::Load(const char* path) {
  Release();
  const FileHandle file = OpenFile(path, "r");
  if (file == kInvalidFile) {
    return false;
  }
  uint64_t length = 0;
  if (!QueryFileSize(file, length)) {
    length = 0;
  }
  if (length >= kMaxStreamBytes) {
    CloseFile(file);
    return false;
  }
  // Only a file that announces its size is mapped; the rest (empty files, pipes, devices and
  // files whose mapping fails) is read to its end.
  void* view = nullptr;
  if (length != 0 && MapReadOnly(file, length, view)) {
    CloseFile(file);
    mapping_ = view;
    mapping_bytes_ = static_cast<size_t>(length);
    data = static_cast<const uint8_t*>(view);
    size = static_cast<uint32_t>(length);
    return true;
  }
  const bool ok = ReadOpenFile(file, buffer_);
  CloseFile(file);
  if (!ok) {
    return false;
  }
  if (buffer_.size != 0) {
    data = buffer_.data;
    size = buffer_.size;
  }
  return true;
}

FileWindow::~FileWindow() { Close(); }

void FileWindow::Close() {
  CloseFile(file_);
  file_ = kInvalidFile;
  MemoryInterface::Free(block_);
  block_ = nullptr;
  capacity_ = 0;
  window_ = 0;
  passed_ = 0;
  data = kEmpty;
  size = 0;
  at_end = true;
  file_size = 0;
}

bool FileWindow::Open(const char* path, uint32_t window_bytes) {
  Close();
  file_ = OpenFile(path, "r");
  if (file_ == kInvalidFile) {
    return false;
  }
  uint64_t length = 0;
  if (!QueryFileSize(file_, length)) {
    length = 0;
  }
  window_ = std::max<uint32_t>(window_bytes, 1);
  at_end = false;
  file_size = length;
  if (length >= kMaxStreamBytes || !Fill(window_)) {
    Close();
    return false;
  }
  return true;
}

bool FileWindow::Advance(uint32_t keep, bool rest) {
  keep = std::min(keep, size);
  if (keep != 0) {
    std::memmove(block_, block_ + keep, size - keep);
    size -= keep;
    passed_ += keep;
  }
  // A window's worth, or at least one byte more than is kept.
  if (!Fill(rest ? kMaxStreamBytes : std::max<uint64_t>(window_, uint64_t{size} + 1))) {
    Close();
    return false;
  }
  return true;
}

bool FileWindow::Fill(uint64_t wanted) {
  while (!at_end && size < wanted) {
    if (uint64_t{size} + 1 >= capacity_) {
      // Room for the window, or twice the bytes held when they outgrow it, or at once for all
      // that is wanted of what the file announced.
      uint64_t grown = std::max<uint64_t>(uint64_t{window_} + 1, capacity_ * 2);
      if (file_size > passed_ + size) {
        grown = std::max(grown, std::min(file_size - passed_, wanted) + 1);
      }
      auto* block =
          static_cast<uint8_t*>(block_ == nullptr ? MemoryInterface::Allocate(grown)
                                                  : MemoryInterface::Reallocate(block_, grown));
      if (block == nullptr) {
        return false;
      }
      block_ = block;
      capacity_ = grown;
    }
    const uint64_t room = std::min(capacity_ - 1, wanted) - size;
    uint32_t delivered = 0;
    if (!ReadFromFile(file_, block_ + size, static_cast<uint32_t>(room), delivered)) {
      return false;
    }
    size += delivered;
    if (passed_ + size >= kMaxStreamBytes) {
      return false;
    }
    if (delivered < room) {
      at_end = true;  // ReadFromFile delivers less only at the end of the file
      CloseFile(file_);
      file_ = kInvalidFile;
    }
  }
  if (block_ != nullptr) {
    block_[size] = 0;
    data = block_;
  }
  return true;
}

bool ReadWholeText(const char* path, CStringBufferA& text) {
  text.Clear(false);
  const FileHandle file = OpenFile(path, "r");
  if (file == kInvalidFile) {
    return false;
  }
  uint32_t total = 0;
  const bool ok = ReadToEnd(
      file,
      [&text, &total](uint32_t n) {
        if (n + 1 > text.capacity) {
          // Growing a string buffer carries its text over only up to the first NUL, and file
          // content may hold NULs, so what has arrived moves through a side buffer.
          ByteBuffer arrived(1);
          if (!arrived.Grow(total)) {
            return Room{nullptr, 0};
          }
          if (total != 0) {
            std::memcpy(arrived.data, text.data, total);
          }
          text.Clear(false);
          text.Reserve(n + 1);
          if (text.capacity < n + 1) {
            return Room{nullptr, 0};
          }
          if (total != 0) {
            std::memcpy(text.data, arrived.data, total);
          }
        }
        return Room{reinterpret_cast<uint8_t*>(text.data), text.capacity - 1};
      },
      total);
  CloseFile(file);
  if (!ok) {
    text.Clear(false);
    return false;
  }
  if (text.capacity > total) {
    text.data[total] = '\0';
    text.length = total;
  }
  return true;
}

bool OutputFile::Write(const void* bytes, size_t count) {
  if (handle_ != kInvalidFile) {
    ReserveAhead(written_ + count);
  }
  if (handle_ == kInvalidFile || (bytes == nullptr && count != 0) ||
      !WriteAllTo(handle_, static_cast<const uint8_t*>(bytes), count)) {
    Abandon();
    return false;
  }
  written_ += count;
  StartWriteback();
  return true;
}

bool WriteWholeBytes(const char* path, const void* bytes, size_t count) {
  if (bytes == nullptr && count != 0) {
    return false;
  }
  OutputFile file;
  return file.Open(path) && file.Write(bytes, count) && file.Commit();
}

bool WriteWholeFile(const char* path, const ByteBuffer& buffer) {
  return WriteWholeBytes(path, buffer.data, buffer.size);
}

bool WriteWholeText(const char* path, const CStringBufferA& text) {
  return WriteWholeBytes(path, text.data, text.length);
}

bool ListBinFilesRecursive(const char* folder, std::vector<std::string>& paths) {
  paths.clear();
  if (folder == nullptr || folder[0] == '\0') {
    return false;
  }
  std::string prefix(folder);
  if (!IsNativeSeparator(prefix.back())) {
    prefix += kPathSeparator;
  }
  return ListFolder(prefix, paths);
}
