// tests/foundation/file_test.cpp - the open modes, whole-file reading, atomic writing, file
// identity and the .bin listing, each test in a fresh folder under the system temp folder.
#include "foundation/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("qvx_file_test_" + std::to_string(seed()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root_ = candidate.string();
    }
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override {
    std::error_code error;
    if (!root_.empty()) fs::remove_all(root_, error);
  }

  std::string At(const std::string& relative) const { return root_ + "/" + relative; }

  void Put(const std::string& relative, const std::string& content) const {
    const fs::path path = At(relative);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good());
  }

  std::string Get(const std::string& relative) const {
    std::ifstream in(At(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Names in the test folder itself: shows stray temporary files.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
};

// Relative paths in this file are written with "/"; the listing joins with kPathSeparator.
std::string Native(std::string text) {
  for (char& c : text) {
    if (c == '/') c = kPathSeparator;
  }
  return text;
}

std::string Bytes(const ByteBuffer& buffer) {
  if (buffer.size == 0) return std::string();
  return std::string(reinterpret_cast<const char*>(buffer.data), buffer.size);
}

// ---------------------------------------------------------------------------------------------
// Open modes

TEST_F(FileTest, OpenModesFollowTheTable) {
  const struct {
    const char* mode;
    bool opens_missing;     // creates a missing file
    const char* read_back;  // reading "hello" right after opening; null: reading fails
    const char* after_xy;   // the file after writing "XY" right after opening
  } kCases[] = {
      {"r", false, "hello", "hello"},   {"rb", false, "hello", "hello"},
      {"r+", false, "hello", "XYllo"},  {"w", true, nullptr, "XY"},
      {"w+", true, "", "XY"},           {"wt", true, nullptr, "XY"},
      {"a", true, nullptr, "helloXY"},  {"a+", true, "", "helloXY"},
      {"ab", true, nullptr, "helloXY"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mode);
    const std::string missing = At(std::string("missing_") + c.mode);
    const FileHandle created = OpenFile(missing.c_str(), c.mode);
    EXPECT_EQ(created != kInvalidFile, c.opens_missing);
    EXPECT_EQ(fs::exists(missing), c.opens_missing);
    CloseFile(created);

    Put("file", "hello");
    FileHandle file = OpenFile(At("file").c_str(), c.mode);
    ASSERT_NE(file, kInvalidFile);
    char read[16] = {};
    uint32_t delivered = 99;
    const bool read_ok = ReadFromFile(file, read, sizeof(read), delivered);
    EXPECT_EQ(read_ok, c.read_back != nullptr);
    if (read_ok) {
      EXPECT_EQ(std::string(read, delivered), c.read_back);
    }
    CloseFile(file);

    Put("file", "hello");
    file = OpenFile(At("file").c_str(), c.mode);
    ASSERT_NE(file, kInvalidFile);
    const bool writes = std::string(c.after_xy) != "hello";
    EXPECT_EQ(WriteToFile(file, "XY", 2), writes);
    CloseFile(file);
    EXPECT_EQ(Get("file"), c.after_xy);
  }
}

TEST_F(FileTest, UnknownModesOpenNothingAndTouchNothing) {
  Put("file", "hello");
  const char* kModes[] = {"", "x", "R", "W", "+r", "b"};
  for (const char* mode : kModes) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(OpenFile(At("file").c_str(), mode), kInvalidFile);
    EXPECT_EQ(OpenFile(At("new").c_str(), mode), kInvalidFile);
  }
  EXPECT_EQ(OpenFile(At("new").c_str(), nullptr), kInvalidFile);
  EXPECT_EQ(OpenFile(nullptr, "w"), kInvalidFile);
  EXPECT_EQ(Get("file"), "hello");
  EXPECT_EQ(Entries(), std::vector<std::string>{"file"});
}

TEST_F(FileTest, ReadersShareAndWritersExcludeEveryone) {
  Put("file", "hello");
  const std::string path = At("file");
  const FileHandle first_reader = OpenFile(path.c_str(), "r");
  const FileHandle second_reader = OpenFile(path.c_str(), "r");
  ASSERT_NE(first_reader, kInvalidFile);
  EXPECT_NE(second_reader, kInvalidFile);
  // A refused "w" must not have truncated the file on its way to the refusal.
  EXPECT_EQ(OpenFile(path.c_str(), "w"), kInvalidFile);
  EXPECT_EQ(OpenFile(path.c_str(), "r+"), kInvalidFile);
  EXPECT_EQ(Get("file"), "hello");
  CloseFile(first_reader);
  CloseFile(second_reader);

  const FileHandle writer = OpenFile(path.c_str(), "a");
  ASSERT_NE(writer, kInvalidFile);
  EXPECT_EQ(OpenFile(path.c_str(), "r"), kInvalidFile);
  EXPECT_EQ(OpenFile(path.c_str(), "a+"), kInvalidFile);
  CloseFile(writer);
  const FileHandle after = OpenFile(path.c_str(), "r");
  EXPECT_NE(after, kInvalidFile);
  CloseFile(after);
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST_F(FileTest, ReadWholeFileDeliversEveryByteAndZeroesTheRest) {
  std::string content(10000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + 7);
  Put("big.bin", content);
  Put("small.bin", std::string("\0\xFF\x01", 3));

  ByteBuffer buffer(kGranuleBytes);
  ASSERT_TRUE(ReadWholeFile(At("big.bin").c_str(), buffer));
  EXPECT_EQ(Bytes(buffer), content);
  EXPECT_EQ(buffer.capacity, 16384u);

  // Reusing the buffer: the earlier, longer content must not linger after the new size.
  ASSERT_TRUE(ReadWholeFile(At("small.bin").c_str(), buffer));
  EXPECT_EQ(Bytes(buffer), std::string("\0\xFF\x01", 3));
  for (uint32_t i = buffer.size; i < buffer.capacity; ++i) ASSERT_EQ(buffer.data[i], 0) << i;
}

TEST_F(FileTest, EmptyFileReadsAsEmpty) {
  Put("empty", "");
  ByteBuffer buffer;
  ASSERT_TRUE(ReadWholeFile(At("empty").c_str(), buffer));
  EXPECT_EQ(buffer.size, 0u);
  CStringBufferA text("stale");
  ASSERT_TRUE(ReadWholeText(At("empty").c_str(), text));
  EXPECT_STREQ(text.data, "");
  EXPECT_EQ(text.length, 0u);
}

TEST_F(FileTest, MissingFileFailsBothReadersAndCreatesNothing) {
  Put("other.bin", "0123456789");
  ByteBuffer buffer;
  ASSERT_TRUE(ReadWholeFile(At("other.bin").c_str(), buffer));
  EXPECT_FALSE(ReadWholeFile(At("missing.bin").c_str(), buffer));
  EXPECT_EQ(buffer.size, 0u);
  EXPECT_EQ(buffer.data[0], 0);

  CStringBufferA text("stale");
  EXPECT_FALSE(ReadWholeText(At("missing.txt").c_str(), text));
  EXPECT_STREQ(text.data, "");
  EXPECT_EQ(Entries(), std::vector<std::string>{"other.bin"});
}

TEST_F(FileTest, ReadWholeTextTerminatesAndKeepsEveryByte) {
  Put("doc.txt", std::string("ab\0cd\n", 6));
  TStringBufferA<4> text("old");
  ASSERT_TRUE(ReadWholeText(At("doc.txt").c_str(), text));
  EXPECT_EQ(text.length, 6u);
  EXPECT_EQ(std::string(text.data, 7), std::string("ab\0cd\n\0", 7));

  const std::string long_text(5000, 'z');
  Put("long.txt", long_text);
  ASSERT_TRUE(ReadWholeText(At("long.txt").c_str(), text));
  EXPECT_EQ(std::string(text.data), long_text);
  EXPECT_EQ(text.length, 5000u);
}

#ifdef __linux__
// Pipes report no size; their content still has to arrive whole, NULs included.
TEST_F(FileTest, ReadersTakeContentBeyondTheReportedSize) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    // Filled without waiting for a reader: as much as the pipe takes (64 KiB by default).
    ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    std::string content;
    for (;;) {
      char chunk[1000];
      for (size_t i = 0; i < sizeof(chunk); ++i) {
        chunk[i] = static_cast<char>((content.size() + i) % 251);
      }
      const ssize_t written = write(ends[1], chunk, sizeof(chunk));
      if (written <= 0) break;
      content.append(chunk, static_cast<size_t>(written));
    }
    close(ends[1]);
    ASSERT_GT(content.size(), 0u);
    const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
    std::string got;
    if (round == 0) {
      ByteBuffer buffer;
      EXPECT_TRUE(ReadWholeFile(path.c_str(), buffer));
      got = Bytes(buffer);
    } else {
      TStringBufferA<64> text;
      EXPECT_TRUE(ReadWholeText(path.c_str(), text));
      got.assign(text.data, text.length);
      EXPECT_EQ(text.data[text.length], '\0');
    }
    close(ends[0]);
    EXPECT_EQ(got, content);
  }
}
#endif

TEST_F(FileTest, FilesOf512MiBOrMoreAreRefused) {
  Put("huge.bin", "");
  fs::resize_file(At("huge.bin"), kMaxStreamBytes);
  ByteBuffer buffer;
  EXPECT_FALSE(ReadWholeFile(At("huge.bin").c_str(), buffer));
  EXPECT_EQ(buffer.size, 0u);
  CStringBufferA text;
  EXPECT_FALSE(ReadWholeText(At("huge.bin").c_str(), text));
  EXPECT_EQ(text.length, 0u);
}

// ---------------------------------------------------------------------------------------------
// Held content (mapped where the platform maps)

std::string Bytes(const FileContent& content) {
  return std::string(reinterpret_cast<const char*>(content.data), content.size);
}

TEST_F(FileTest, FileContentHoldsEveryByteOfFilesOfAnySize) {
  std::mt19937 random(777);
  FileContent content;
  for (uint32_t size : {1u, 2u, 4095u, 4096u, 4097u, 70000u, 0u}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
    Put("f.bin", bytes);
    ASSERT_TRUE(content.Load(At("f.bin").c_str()));
    ASSERT_NE(content.data, nullptr);
    EXPECT_EQ(content.size, size);
    EXPECT_TRUE(Bytes(content) == bytes);
  }
  // Held content stays as loaded when the file is replaced (the way outputs are written).
  Put("g.bin", "first");
  ASSERT_TRUE(content.Load(At("g.bin").c_str()));
  ASSERT_TRUE(WriteWholeBytes(At("g.bin").c_str(), "second", 6));
  EXPECT_EQ(Bytes(content), "first");
  content.Release();
  EXPECT_EQ(content.size, 0u);
  ASSERT_NE(content.data, nullptr);
}

TEST_F(FileTest, FileContentFailsAsTheReadersDo) {
  FileContent content;
  Put("ok.bin", "held");
  ASSERT_TRUE(content.Load(At("ok.bin").c_str()));
  EXPECT_FALSE(content.Load(At("missing.bin").c_str()));
  EXPECT_EQ(content.size, 0u);
  EXPECT_FALSE(content.Load(root_.c_str()));
  EXPECT_FALSE(content.Load(nullptr));
  Put("huge.bin", "");
  fs::resize_file(At("huge.bin"), kMaxStreamBytes);
  EXPECT_FALSE(content.Load(At("huge.bin").c_str()));
  EXPECT_EQ(content.size, 0u);
  fs::resize_file(At("huge.bin"), kMaxStreamBytes - 1);
  ASSERT_TRUE(content.Load(At("huge.bin").c_str()));
  EXPECT_EQ(content.size, kMaxStreamBytes - 1);
  EXPECT_EQ(content.data[kMaxStreamBytes / 2], 0);
}

// A file read through a window, keeping a different tail each time, gives back every byte in
// order, whatever the window and the file's size; with `rest` the whole remainder arrives at
// once. A NUL always follows what is held.
TEST_F(FileTest, AFileReadThroughAWindowArrivesWholeAndInOrder) {
  std::mt19937 random(31);
  for (const uint32_t size : {0u, 1u, 7u, 8u, 100u, 4096u, 70001u}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() | 1);
    Put("w.txt", bytes);
    for (const uint32_t window : {1u, 3u, 8u, 1000u, 1u << 20}) {
      for (const bool rest_at_once : {false, true}) {
        SCOPED_TRACE(testing::Message() << size << " bytes, window " << window);
        FileWindow reader;
        ASSERT_TRUE(reader.Open(At("w.txt").c_str(), window));
        EXPECT_EQ(reader.file_size, size);
        std::string seen;  // the bytes given up so far
        uint32_t steps = 0;
        while (true) {
          ASSERT_LE(reader.size, std::max(window, size));
          ASSERT_EQ(reader.data[reader.size], 0);
          ASSERT_TRUE(bytes.compare(seen.size(), reader.size,
                                    reinterpret_cast<const char*>(reader.data), reader.size) == 0);
          if (reader.at_end) {
            EXPECT_EQ(seen.size() + reader.size, size);
            break;
          }
          // Keep a varying tail: none, some, or all that is held.
          const uint32_t keep =
              steps % 3 == 0 ? reader.size : (steps % 3 == 1 ? 0 : reader.size / 2);
          seen.append(reinterpret_cast<const char*>(reader.data), keep);
          const bool rest = rest_at_once && steps == 2;
          ASSERT_TRUE(reader.Advance(keep, rest));
          if (rest) {
            ASSERT_TRUE(reader.at_end);
          }
          ASSERT_LT(++steps, 3 * size + 10);
        }
      }
    }
  }
  FileWindow reader;
  EXPECT_FALSE(reader.Open(At("missing.txt").c_str(), 10));
  EXPECT_FALSE(reader.Open(root_.c_str(), 10));
  EXPECT_EQ(reader.size, 0u);
  EXPECT_EQ(reader.data[0], 0);
  Put("huge.txt", "");
  fs::resize_file(At("huge.txt"), kMaxStreamBytes);
  EXPECT_FALSE(reader.Open(At("huge.txt").c_str(), 10));
}

#ifndef _WIN32
// The path of the read end `fd` of a pipe that holds `content` and is closed for writing.
std::string PipeHolding(const std::string& content, int& fd) {
  int ends[2];
  fd = -1;
  if (pipe(ends) != 0) return std::string();
  const bool written =
      write(ends[1], content.data(), content.size()) == static_cast<ssize_t>(content.size());
  close(ends[1]);
  fd = ends[0];
  return written ? "/proc/self/fd/" + std::to_string(ends[0]) : std::string();
}

// A pipe reports no size; it is read through the window to its end all the same.
TEST_F(FileTest, APipeIsReadThroughAWindowToItsEnd) {
  const std::string content(30000, 'q');
  int fd = -1;
  const std::string path = PipeHolding(content, fd);
  ASSERT_FALSE(path.empty());
  FileWindow reader;
  ASSERT_TRUE(reader.Open(path.c_str(), 4096));
  close(fd);
  EXPECT_EQ(reader.file_size, 0u);
  std::string seen;
  while (!reader.at_end) {
    seen.append(reinterpret_cast<const char*>(reader.data), reader.size);
    ASSERT_TRUE(reader.Advance(reader.size, false));
  }
  seen.append(reinterpret_cast<const char*>(reader.data), reader.size);
  EXPECT_TRUE(seen == content);
}

TEST_F(FileTest, FileContentReadsAPipeToItsEnd) {
  const std::string content(30000, 'p');
  int fd = -1;
  const std::string path = PipeHolding(content, fd);
  ASSERT_FALSE(path.empty());
  FileContent held;
  EXPECT_TRUE(held.Load(path.c_str()));
  close(fd);
  EXPECT_TRUE(Bytes(held) == content);
}
#endif

// ---------------------------------------------------------------------------------------------
// Writing

TEST_F(FileTest, OutputFileJoinsItsPiecesAndReplacesTheTargetOnlyOnCommit) {
  Put("out.bin", "old");
  const std::string big(100000, 'b');
  OutputFile file;
  ASSERT_TRUE(file.Open(At("out.bin").c_str()));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.ReplacesTarget());  // flushed before the rename
  EXPECT_TRUE(file.Write("abc", 3));
  EXPECT_TRUE(file.Write(nullptr, 0));
  EXPECT_TRUE(file.Write(big.data(), big.size()));
  EXPECT_EQ(Get("out.bin"), "old");
  EXPECT_EQ(Entries().size(), 2u);  // the target and the temporary file
  EXPECT_TRUE(file.Commit());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(Get("out.bin") == "abc" + big);
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
  // A finished file takes nothing more.
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_FALSE(file.Commit());
  EXPECT_FALSE(file.ReplacesTarget());
  EXPECT_TRUE(Get("out.bin") == "abc" + big);
}

// A new target is renamed into place without waiting for the disk; one that appears while the
// file is written is replaced all the same, whole.
TEST_F(FileTest, AnOutputFileMakesANewTargetOrReplacesOneThatAppeared) {
  OutputFile file;
  ASSERT_TRUE(file.Open(At("new.bin").c_str()));
  EXPECT_FALSE(file.ReplacesTarget());
  ASSERT_TRUE(file.Write("fresh", 5));
  EXPECT_EQ(Entries().size(), 1u);  // only the temporary file
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Get("new.bin"), "fresh");

  ASSERT_TRUE(file.Open(At("late.bin").c_str()));
  EXPECT_FALSE(file.ReplacesTarget());
  ASSERT_TRUE(file.Write("second", 6));
  Put("late.bin", "written meanwhile");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Get("late.bin"), "second");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"late.bin", "new.bin"}));
}

// A file of many pieces is handed to the disk a part at a time while it is written (every
// 16 MiB); what arrives is still every piece in order, and only on Commit. A second, smaller
// file reuses the object.
TEST_F(FileTest, ALargeOutputFileWrittenInPiecesArrivesWhole) {
  Put("out.bin", "old");
  OutputFile file;
  for (const int pieces : {17, 3}) {
    SCOPED_TRACE(pieces);
    std::string expected;
    ASSERT_TRUE(file.Open(At("out.bin").c_str()));
    std::string piece(1 << 20, '\0');
    for (int i = 0; i < pieces; ++i) {
      for (size_t j = 0; j < piece.size(); j += 4096) piece[j] = static_cast<char>('a' + i);
      ASSERT_TRUE(file.Write(piece.data(), piece.size()));
      expected += piece;
    }
    EXPECT_NE(Get("out.bin").size(), expected.size());
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(Get("out.bin") == expected);
  }
}

// The system may give an output file its space ahead of the writes (1 to 32 MiB past them);
// whatever was given, the committed file holds exactly the bytes written, in pieces that end
// anywhere around those steps, and keeps no space past its end.
TEST_F(FileTest, AnOutputFileIsAsLongAsWhatWasWritten) {
  constexpr size_t kMiB = size_t{1} << 20;
  const std::vector<std::vector<size_t>> cases = {{},
                                                  {0},
                                                  {1},
                                                  {kMiB - 1, 1},
                                                  {kMiB, kMiB + 1},
                                                  {3, 700001, 700001, 700001, 5},
                                                  std::vector<size_t>(9, kMiB / 2 + 7),
                                                  {40 * kMiB + 3}};
  Put("out.bin", std::string(50000, 'o'));
  OutputFile file;
  for (const std::vector<size_t>& pieces : cases) {
    for (const char* name : {"out.bin", "new.bin"}) {
      SCOPED_TRACE(testing::Message() << name << ", " << pieces.size() << " pieces");
      ASSERT_TRUE(file.Open(At(name).c_str()));
      std::string expected;
      for (const size_t size : pieces) {
        std::string piece(size, static_cast<char>('a' + expected.size() % 26));
        if (size != 0) piece.back() = '!';
        ASSERT_TRUE(file.Write(piece.data(), piece.size()));
        expected += piece;
      }
      ASSERT_TRUE(file.Commit());
      EXPECT_TRUE(Get(name) == expected);
      EXPECT_EQ(std::filesystem::file_size(At(name)), expected.size());
#ifndef _WIN32
      struct stat info;
      ASSERT_EQ(stat(At(name).c_str(), &info), 0);
      EXPECT_LT(static_cast<uint64_t>(info.st_blocks) * 512, expected.size() + kMiB);
#endif
      std::filesystem::remove(At("new.bin"));
    }
  }
}

TEST_F(FileTest, AnOutputFileNeverCommittedLeavesNoTrace) {
  Put("out.bin", "old");
  {
    OutputFile file;
    ASSERT_TRUE(file.Open(At("out.bin").c_str()));
    ASSERT_TRUE(file.Write("new", 3));
  }
  EXPECT_EQ(Get("out.bin"), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});

  OutputFile file;
  ASSERT_TRUE(file.Open(At("fresh.bin").c_str()));
  file.Abandon();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
  EXPECT_FALSE(file.Open(At("no/such/folder/out.bin").c_str()));
  EXPECT_FALSE(file.Open(root_.c_str()));
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
}

TEST_F(FileTest, WrittenFilesReadBackUnchanged) {
  std::mt19937 random(12345);
  const uint32_t kSizes[] = {0, 1, 2, 8191, 8192, 8193, 70000};
  for (uint32_t size : kSizes) {
    SCOPED_TRACE(size);
    ByteBuffer written;
    ASSERT_TRUE(written.Grow(size + 100));
    for (uint32_t i = 0; i < size + 100; ++i) written.data[i] = static_cast<uint8_t>(random());
    written.size = size;  // the bytes past size must not be written
    ASSERT_TRUE(WriteWholeFile(At("out.bin").c_str(), written));
    EXPECT_EQ(fs::file_size(At("out.bin")), size);

    ByteBuffer read;
    ASSERT_TRUE(ReadWholeFile(At("out.bin").c_str(), read));
    ASSERT_EQ(read.size, size);
    if (size != 0) {
      EXPECT_EQ(std::memcmp(read.data, written.data, size), 0);
    }
  }
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
}

TEST_F(FileTest, WriteWholeTextWritesTheCharactersWithoutTheNul) {
  Put("doc.txt", "a much longer earlier content of the document");
  CStringBufferA text("line\n");
  ASSERT_TRUE(WriteWholeText(At("doc.txt").c_str(), text));
  EXPECT_EQ(Get("doc.txt"), "line\n");

  CStringBufferA empty;
  ASSERT_TRUE(WriteWholeText(At("doc.txt").c_str(), empty));
  EXPECT_EQ(Get("doc.txt"), "");
  EXPECT_EQ(Entries(), std::vector<std::string>{"doc.txt"});
}

TEST_F(FileTest, WritingIntoAMissingFolderFailsAndCreatesNothing) {
  EXPECT_FALSE(WriteWholeBytes(At("missing/out.txt").c_str(), "x", 1));
  EXPECT_FALSE(WriteWholeBytes("", "x", 1));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(FileTest, FoldersAreNeitherOpenedNorReplaced) {
  Put("dir/inside", "kept");
  EXPECT_EQ(OpenFile(At("dir").c_str(), "r"), kInvalidFile);
  EXPECT_EQ(OpenFile(At("dir").c_str(), "a"), kInvalidFile);
  ByteBuffer buffer;
  EXPECT_FALSE(ReadWholeFile(At("dir").c_str(), buffer));
  EXPECT_FALSE(WriteWholeBytes(At("dir").c_str(), "x", 1));
  EXPECT_TRUE(IsDirectory(At("dir").c_str()));
  EXPECT_EQ(Get("dir/inside"), "kept");
  EXPECT_EQ(Entries(), std::vector<std::string>{"dir"});
}

#ifndef _WIN32
// Runs `write` with files limited to `max_bytes`, so a write past that comes up short, as on a
// full disk (SIGXFSZ ignored, so write() fails instead of stopping the process).
template <typename Write>
void WithFileSizeLimit(rlim_t max_bytes, Write write) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = max_bytes;
  const auto saved_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  write();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, saved_handler);
}

TEST_F(FileTest, FailedWriteLeavesTheOldTargetAndNoTemporaryFile) {
  const std::string old_content = "old content that must survive";
  Put("out.bin", old_content);
  struct stat before;
  ASSERT_EQ(stat(At("out.bin").c_str(), &before), 0);
  const std::string big(20000, 'n');
  bool written = true;
  WithFileSizeLimit(
      4096, [&] { written = WriteWholeBytes(At("out.bin").c_str(), big.data(), big.size()); });

  EXPECT_FALSE(written);
  EXPECT_EQ(Get("out.bin"), old_content);
  struct stat after;
  ASSERT_EQ(stat(At("out.bin").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
}

TEST_F(FileTest, AnOutputFileFailingPartWayRemovesWhatItWrote) {
  Put("out.bin", "old content");
  const std::string piece(3000, 'p');
  OutputFile file;
  ASSERT_TRUE(file.Open(At("out.bin").c_str()));
  bool first = false;
  bool second = true;
  WithFileSizeLimit(4096, [&] {
    first = file.Write(piece.data(), piece.size());
    second = file.Write(piece.data(), piece.size());
  });

  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(Get("out.bin"), "old content");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
}

TEST_F(FileTest, ShortWriteToDevFullFailsAndKeepsTheDevice) {
  struct stat before;
  if (stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) {
    GTEST_SKIP() << "no /dev/full";
  }
  const std::string content(10000, 'f');
  EXPECT_FALSE(WriteWholeBytes("/dev/full", content.data(), content.size()));
  struct stat after;
  ASSERT_EQ(stat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
}

TEST_F(FileTest, PipeTargetIsWrittenInPlace) {
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0600), 0);
  // Held open for reading, so the writer's open does not wait for a reader.
  const int reader = open(At("pipe").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(WriteWholeBytes(At("pipe").c_str(), "through", 7));
  char received[16] = {};
  EXPECT_EQ(read(reader, received, sizeof(received)), 7);
  close(reader);
  EXPECT_STREQ(received, "through");
  EXPECT_TRUE(fs::is_fifo(At("pipe")));
  EXPECT_EQ(Entries(), std::vector<std::string>{"pipe"});
}

TEST_F(FileTest, ReplacingKeepsPermissionsAndLinks) {
  Put("real.txt", "before");
  fs::permissions(At("real.txt"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.txt", At("link.txt"));

  ASSERT_TRUE(WriteWholeBytes(At("link.txt").c_str(), "after", 5));
  EXPECT_TRUE(fs::is_symlink(At("link.txt")));
  EXPECT_EQ(Get("real.txt"), "after");
  EXPECT_EQ(fs::status(At("real.txt")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"link.txt", "real.txt"}));
}
#endif

#ifdef _WIN32
TEST_F(FileTest, DeviceTargetIsWrittenInPlace) {
  const fs::path before = fs::current_path();
  fs::current_path(root_);
  const std::string content(10000, 'n');
  const bool written = WriteWholeBytes("NUL", content.data(), content.size());
  fs::current_path(before);
  EXPECT_TRUE(written);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(FileTest, ReadOnlyTargetIsNotReplaced) {
  Put("locked.txt", "before");
  fs::permissions(At("locked.txt"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_FALSE(WriteWholeBytes(At("locked.txt").c_str(), "after", 5));
  fs::permissions(At("locked.txt"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(Get("locked.txt"), "before");
  EXPECT_EQ(Entries(), std::vector<std::string>{"locked.txt"});
}

TEST_F(FileTest, ReplacingAFileThatAReaderHoldsFailsAndKeepsIt) {
  Put("out.bin", "old");
  const FileHandle reader = OpenFile(At("out.bin").c_str(), "r");
  ASSERT_NE(reader, kInvalidFile);
  EXPECT_FALSE(WriteWholeBytes(At("out.bin").c_str(), "new", 3));
  CloseFile(reader);
  EXPECT_EQ(Get("out.bin"), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.bin"});
  ASSERT_TRUE(WriteWholeBytes(At("out.bin").c_str(), "new", 3));
  EXPECT_EQ(Get("out.bin"), "new");
}
#endif

// ---------------------------------------------------------------------------------------------
// Identity

TEST_F(FileTest, SameFileSeesThroughSpellingsAndLinks) {
  Put("sub/x.bin", "data");
  Put("y.bin", "data");
  const std::string path = At("sub/x.bin");
  EXPECT_TRUE(SameFile(path.c_str(), path.c_str()));
  EXPECT_TRUE(SameFile(path.c_str(), At("sub/../sub/./x.bin").c_str()));
  EXPECT_TRUE(SameFile(path.c_str(), (root_ + "//sub///x.bin").c_str()));
  fs::create_hard_link(path, At("hard.bin"));
  EXPECT_TRUE(SameFile(path.c_str(), At("hard.bin").c_str()));
#ifndef _WIN32
  fs::create_symlink("sub/x.bin", At("soft.bin"));
  EXPECT_TRUE(SameFile(At("soft.bin").c_str(), path.c_str()));
#endif

  EXPECT_FALSE(SameFile(path.c_str(), At("y.bin").c_str()));
  EXPECT_FALSE(SameFile(path.c_str(), At("missing.bin").c_str()));
  EXPECT_FALSE(SameFile(At("missing.bin").c_str(), At("missing.bin").c_str()));
}

TEST_F(FileTest, IsDirectoryOnlyForExistingFolders) {
  Put("sub/x.bin", "data");
  EXPECT_TRUE(IsDirectory(root_.c_str()));
  EXPECT_TRUE(IsDirectory(At("sub").c_str()));
  EXPECT_FALSE(IsDirectory(At("sub/x.bin").c_str()));
  EXPECT_FALSE(IsDirectory(At("missing").c_str()));
}

// ---------------------------------------------------------------------------------------------
// Listing

TEST_F(FileTest, ListsBinFilesBeforeSubfoldersEachInByteOrder) {
  for (const char* file :
       {"game/b.bin", "game/A.BIN", "game/c.Bin", "game/_.bin", "game/Z.bin", "game/\xC3\xA9.bin",
        "game/notes.txt", "game/x.bin.bak", "game/bin", "game/sub2/y.bin", "game/sub1/deep/z.bin",
        "game/sub1/a.bin", "game/Sub0/q.bin", "game/folder.bin/inner.bin"}) {
    Put(file, "v002");
  }
  fs::create_directories(At("game/empty"));

  const std::string game = At("game");
  const char* kExpected[] = {
      "A.BIN",      "Z.bin",           "_.bin",      "b.bin",
      "c.Bin",      "\xC3\xA9.bin",    "Sub0/q.bin", "folder.bin/inner.bin",
      "sub1/a.bin", "sub1/deep/z.bin", "sub2/y.bin",
  };
  // The folder is kept as given; every separator added to it is the platform's.
  const struct {
    std::string folder;
    std::string prefix;
  } kFolders[] = {{game, game + kPathSeparator}, {game + "/", game + "/"}};
  for (const auto& c : kFolders) {
    SCOPED_TRACE(c.folder);
    std::vector<std::string> paths = {"stale"};
    ASSERT_TRUE(ListBinFilesRecursive(c.folder.c_str(), paths));
    std::vector<std::string> expected;
    for (const char* name : kExpected) expected.push_back(c.prefix + Native(name));
    EXPECT_EQ(paths, expected);
  }
}

#ifndef _WIN32
TEST_F(FileTest, ListingFollowsFileLinksButNotFolderLinks) {
  Put("game/a.bin", "v002");
  Put("elsewhere/far.bin", "v002");
  fs::create_symlink(At("elsewhere/far.bin"), At("game/linked.bin"));
  fs::create_directory_symlink(At("game"), At("game/loop"));
  fs::create_directory_symlink(At("elsewhere"), At("game/other"));
  fs::create_symlink(At("missing.bin"), At("game/dangling.bin"));

  std::vector<std::string> paths;
  ASSERT_TRUE(ListBinFilesRecursive(At("game").c_str(), paths));
  EXPECT_EQ(paths, (std::vector<std::string>{At("game/a.bin"), At("game/linked.bin")}));
}
#endif

TEST_F(FileTest, ListingOfAMissingOrEmptyFolder) {
  std::vector<std::string> paths = {"stale"};
  EXPECT_FALSE(ListBinFilesRecursive(At("missing").c_str(), paths));
  EXPECT_TRUE(paths.empty());
  paths = {"stale"};
  EXPECT_FALSE(ListBinFilesRecursive("", paths));
  EXPECT_TRUE(paths.empty());
  Put("file.bin", "v002");
  EXPECT_FALSE(ListBinFilesRecursive(At("file.bin").c_str(), paths));

  fs::create_directories(At("nothing/inner"));
  Put("nothing/readme.txt", "");
  paths = {"stale"};
  EXPECT_TRUE(ListBinFilesRecursive(At("nothing").c_str(), paths));
  EXPECT_TRUE(paths.empty());
}

}  // namespace
