// The corpus check catches every way a seed folder can drift from the
// generator, and writing a folder leaves exactly the seeds in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tools/fuzz-seeds/seed_corpus.h"

namespace {

namespace fs = std::filesystem;
using fuzz_seeds::CompareCorpus;
using fuzz_seeds::Seed;
using fuzz_seeds::WriteCorpus;

const std::vector<Seed> kSeeds = {{"a.bmp", {'B', 'M', 1, 2, 3}}, {"b.bmp", {}}, {"c.bmp", {7, 7, 7}}};

void Put(const fs::path &dir, const std::string &name, const std::string &bytes) {
  std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << bytes;
}

class SeedCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("fuzz_seeds_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

struct DriftCase {
  const char *label;
  std::function<void(const fs::path &dir)> change;
  std::string problem;  // the one line CompareCorpus reports, after the folder
};

TEST_F(SeedCorpusTest, ReportsEachDriftOnce) {
  const std::vector<DriftCase> cases = {
      {"a byte changed", [](const fs::path &dir) { Put(dir, "a.bmp", std::string("BM\1\2\4")); },
       "a.bmp: differs from the generated seed (5 bytes, generated 5)"},
      {"a byte added", [](const fs::path &dir) { Put(dir, "c.bmp", std::string("\7\7\7\0", 4)); },
       "c.bmp: differs from the generated seed (4 bytes, generated 3)"},
      {"an empty seed filled", [](const fs::path &dir) { Put(dir, "b.bmp", "x"); },
       "b.bmp: differs from the generated seed (1 bytes, generated 0)"},
      {"a seed deleted", [](const fs::path &dir) { fs::remove(dir / "b.bmp"); }, "b.bmp: missing"},
      {"a stray file", [](const fs::path &dir) { Put(dir, "old.bmp", "BM"); }, "old.bmp: not a generated seed"},
  };
  for (const DriftCase &c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir_);
    WriteCorpus(dir_, kSeeds);
    ASSERT_TRUE(CompareCorpus(dir_, kSeeds).empty());
    c.change(dir_);
    EXPECT_EQ(CompareCorpus(dir_, kSeeds), std::vector<std::string>{(dir_ / c.problem).string()});
  }
}

TEST_F(SeedCorpusTest, AbsentFolderMissesEverySeed) { EXPECT_EQ(CompareCorpus(dir_, kSeeds).size(), kSeeds.size()); }

TEST_F(SeedCorpusTest, WritingRemovesStrayFilesAndKeepsSubfolders) {
  fs::create_directories(dir_ / "keep");
  Put(dir_, "old.bmp", "BM");
  Put(dir_, "a.bmp", "stale");
  EXPECT_EQ(WriteCorpus(dir_, kSeeds), std::vector<std::string>{"old.bmp"});
  EXPECT_TRUE(CompareCorpus(dir_, kSeeds).empty());
  EXPECT_TRUE(fs::is_directory(dir_ / "keep"));
}

}  // namespace
