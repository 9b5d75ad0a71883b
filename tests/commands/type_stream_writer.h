// tests/commands/type_stream_writer.h - a small, independent writer of type information
// streams, for building game folders and type libraries that the tool then reads.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

/// h = h * 65599 + c over the signed characters of `text`.
inline uint32_t TestNameHash(const std::string& text) {
  uint32_t h = 0;
  for (char c : text) h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(c));
  return h;
}

/// Appends bit fields least significant bit first.
class TestBits {
 public:
  void Put(uint32_t width, uint64_t value) {
    for (uint32_t i = 0; i < width; ++i, ++bit_) {
      if (bit_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << (bit_ % 8)));
    }
  }
  void Word(uint32_t value) { Put(32, value); }
  void VarUInt(uint32_t value) {
    uint32_t width = 0;
    while (width < 32 && (value >> width) != 0) ++width;
    Put(5, width);
    Put(width, value);
  }
  void Text(const std::string& text) {
    VarUInt(static_cast<uint32_t>(text.size()));
    for (char c : text) Put(8, static_cast<uint8_t>(c));
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  uint64_t bit_ = 0;
};

struct TestField {
  std::string name;
  std::string type;  // hashed for the type hash; "#<n>" gives the hash n itself
  int32_t array_size = 0;
  uint32_t mode = 0;
  uint32_t params[3] = {0, 0, 0};  // Int: minimum (two's complement), maximum, step; Float: bits
};

struct TestClass {
  std::string name;
  std::vector<TestField> fields;
  uint32_t extra_word = 0;
};

inline void PutClass(TestBits& bits, const TestClass& c) {
  bits.Text(c.name);
  bits.Word(TestNameHash(c.name));
  bits.Word(c.extra_word);
  bits.Word(static_cast<uint32_t>(c.fields.size()));
  for (const TestField& f : c.fields) {
    bits.Text(f.name);
    bits.Word(TestNameHash(f.name));
    bits.Word(f.type[0] == '#' ? static_cast<uint32_t>(std::stoul(f.type.substr(1)))
                               : TestNameHash(f.type));
    if (f.array_size == -1) {
      bits.Put(1, 1);
    } else {
      bits.Put(1, 0);
      bits.VarUInt(static_cast<uint32_t>(f.array_size));
    }
    bits.VarUInt(f.mode);
    if (f.mode == 1) {
      bits.Word(f.params[0]);
      bits.VarUInt(f.params[1]);
      bits.VarUInt(f.params[2]);
    } else if (f.mode == 2) {
      for (uint32_t p : f.params) bits.Word(p);
    }
  }
}

/// The type information stream of `classes`, in the order given.
inline std::string TestStream(const std::vector<TestClass>& classes) {
  TestBits bits;
  bits.Word(static_cast<uint32_t>(classes.size()));
  for (const TestClass& c : classes) PutClass(bits, c);
  return bits.bytes();
}

/// A .bin file that holds only its header and the type stream of `classes`.
inline std::string TestBinFile(const std::vector<TestClass>& classes) {
  return std::string("\0\0\0\0v002", 8) + TestStream(classes);
}

/// A type library of `classes`, in the order given.
inline std::string TestTypeLibrary(const std::vector<TestClass>& classes) {
  return "BILT" + TestStream(classes);
}

inline uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

/// A fresh folder under the system temp folder, removed with everything in it at the end.
class TestFolder {
 public:
  explicit TestFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / (prefix + std::to_string(seed()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root_ = candidate.string();
    }
  }
  ~TestFolder() {
    std::error_code error;
    if (!root_.empty()) std::filesystem::remove_all(root_, error);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  bool ok() const { return !root_.empty(); }
  const std::string& root() const { return root_; }
  std::string At(const std::string& relative) const { return root_ + "/" + relative; }

  bool Put(const std::string& relative, const std::string& content) const {
    const std::filesystem::path path = At(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return out.good();
  }
  std::string Get(const std::string& relative) const {
    std::ifstream in(At(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& relative) const { return std::filesystem::exists(At(relative)); }

 private:
  std::string root_;
};
