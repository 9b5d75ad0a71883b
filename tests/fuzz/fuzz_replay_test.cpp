// tests/fuzz/fuzz_replay_test.cpp - runs every committed input of each fuzz target (its seed
// corpus and the inputs of past findings) through the target's own entry point. A failed
// property traps and a sanitizer report aborts, so either fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using FuzzEntry = int (*)(const uint8_t* data, size_t size);

}  // namespace

// The entry points of fuzz/*_fuzz.cpp, renamed by the build.
extern "C" int QvxFuzz_lexer(const uint8_t* data, size_t size);
extern "C" int QvxFuzz_number(const uint8_t* data, size_t size);
extern "C" int QvxFuzz_type_info(const uint8_t* data, size_t size);
extern "C" int QvxFuzz_dictionary(const uint8_t* data, size_t size);
extern "C" int QvxFuzz_bin(const uint8_t* data, size_t size);
extern "C" int QvxFuzz_document(const uint8_t* data, size_t size);

namespace {

struct FuzzTarget {
  const char* name;
  FuzzEntry entry;
};

const FuzzTarget kTargets[] = {
    {"lexer_fuzz", QvxFuzz_lexer},
    {"number_fuzz", QvxFuzz_number},
    {"type_info_fuzz", QvxFuzz_type_info},
    {"dictionary_fuzz", QvxFuzz_dictionary},
    {"bin_fuzz", QvxFuzz_bin},
    {"document_fuzz", QvxFuzz_document},
};

// Every regular file under fuzz/<kind>/<target>, in name order; none when the folder is absent.
std::vector<fs::path> InputsOf(const char* kind, const char* target) {
  std::vector<fs::path> files;
  const fs::path folder = fs::path(QVX_SOURCE_DIR) / "fuzz" / kind / target;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzReplayTest : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplayTest, EveryCommittedInputPasses) {
  const FuzzTarget& target = GetParam();
  std::vector<fs::path> inputs = InputsOf("corpus", target.name);
  ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << target.name;
  for (fs::path& path : InputsOf("regression", target.name)) inputs.push_back(std::move(path));

  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.string());
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file.good());
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    // A buffer of exactly the input's size, as libFuzzer passes it, so that any read past the
    // end is one the sanitizers see.
    auto data = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    EXPECT_EQ(target.entry(data.get(), bytes.size()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<FuzzTarget>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
