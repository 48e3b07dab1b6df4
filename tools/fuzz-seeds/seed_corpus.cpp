#include "seed_corpus.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <system_error>

namespace fuzz_seeds {

namespace {

namespace fs = std::filesystem;

std::set<std::string> SeedNames(const std::vector<Seed> &seeds) {
  std::set<std::string> names;
  for (const Seed &seed : seeds) names.insert(seed.name);
  return names;
}

// The regular files directly in dir, sorted (none when dir does not exist).
std::vector<std::string> FileNames(const fs::path &dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir, error)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ReadFile(const fs::path &path, std::vector<uint8_t> &bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

}  // namespace

std::vector<std::string> WriteCorpus(const fs::path &dir, const std::vector<Seed> &seeds) {
  fs::create_directories(dir);
  for (const Seed &seed : seeds) {
    const fs::path path = dir / seed.name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
  }
  const std::set<std::string> wanted = SeedNames(seeds);
  std::vector<std::string> removed;
  for (const std::string &name : FileNames(dir)) {
    if (wanted.count(name) != 0) continue;
    fs::remove(dir / name);
    removed.push_back(name);
  }
  return removed;
}

std::vector<std::string> CompareCorpus(const fs::path &dir, const std::vector<Seed> &seeds) {
  std::vector<std::string> problems;
  for (const Seed &seed : seeds) {
    const fs::path path = dir / seed.name;
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, bytes)) {
      problems.push_back(path.string() + ": missing");
    } else if (bytes != seed.bytes) {
      problems.push_back(path.string() + ": differs from the generated seed (" + std::to_string(bytes.size()) +
                         " bytes, generated " + std::to_string(seed.bytes.size()) + ")");
    }
  }
  const std::set<std::string> wanted = SeedNames(seeds);
  for (const std::string &name : FileNames(dir)) {
    if (wanted.count(name) == 0) problems.push_back((dir / name).string() + ": not a generated seed");
  }
  return problems;
}

}  // namespace fuzz_seeds
