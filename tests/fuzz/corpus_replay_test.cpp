// Every fuzz target replays its corpus in the ordinary test build: the seeds
// from the documented byte examples and every input a campaign found. A
// broken invariant of a target fails the test with the target's message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace bms::fuzz {
namespace {

namespace fs = std::filesystem;

struct InvariantBroken : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFailHandler([](const std::string& what) { throw InvariantBroken(what); });
  }
  void TearDown() override { SetFailHandler({}); }
};

TEST_F(FuzzCorpus, EveryTargetKeepsItsInvariantsOverItsCorpus) {
  ASSERT_FALSE(FuzzTargets().empty());
  for (const TargetEntry& t : FuzzTargets()) {
    SCOPED_TRACE(t.name);
    const fs::path dir = fs::path(BMS_FUZZ_CORPUS_DIR) / t.name;
    ASSERT_TRUE(fs::is_directory(dir)) << "no corpus for " << t.name;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
    EXPECT_FALSE(files.empty()) << "the corpus of " << t.name << " is empty";
    for (const fs::path& f : files) {
      const std::vector<uint8_t> bytes = ReadBytes(f);
      try {
        t.fn(bytes.data(), bytes.size());
      } catch (const InvariantBroken& e) {
        ADD_FAILURE() << f.filename().string() << ": " << e.what();
      }
    }
  }
}

TEST_F(FuzzCorpus, EveryCorpusFolderBelongsToATarget) {
  std::set<std::string> names;
  for (const TargetEntry& t : FuzzTargets()) EXPECT_TRUE(names.insert(t.name).second) << "two targets named " << t.name;
  for (const auto& e : fs::directory_iterator(BMS_FUZZ_CORPUS_DIR)) {
    if (e.is_directory()) {
      EXPECT_TRUE(names.count(e.path().filename().string())) << "corpus without a target: " << e.path();
    }
  }
}

// The empty input and a run of 0xFF bytes are the edges every target must
// take: nothing at all, and every burst a failed read.
TEST_F(FuzzCorpus, EveryTargetTakesEmptyAndSaturatedInputs) {
  const std::vector<std::vector<uint8_t>> inputs = {{}, {0x00}, {0x80}, std::vector<uint8_t>(300, 0xFF), std::vector<uint8_t>(300, 0x00)};
  for (const TargetEntry& t : FuzzTargets()) {
    for (const auto& in : inputs) {
      SCOPED_TRACE(std::string(t.name) + " on " + std::to_string(in.size()) + " bytes");
      try {
        t.fn(in.data(), in.size());
      } catch (const InvariantBroken& e) {
        ADD_FAILURE() << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace bms::fuzz
