// fuzz-seeds --out CORPUS_DIR: writes the generated seed corpora into
// CORPUS_DIR/<target>/ (today bmp_decode and artwork_convert), removing files that are no longer
// seeds there.
// fuzz-seeds --check CORPUS_DIR: compares those folders with what --out would
// write; exits 1 and names each differing file when they are not identical.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "seed_corpus.h"

namespace {

constexpr const char *kUsage = "usage: fuzz-seeds --out CORPUS_DIR | --check CORPUS_DIR\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Write(const std::filesystem::path &root) {
  for (const fuzz_seeds::GeneratedCorpus &corpus : fuzz_seeds::kGeneratedCorpora) {
    const std::filesystem::path dir = root / corpus.folder;
    const std::vector<fuzz_seeds::Seed> seeds = corpus.seeds();
    for (const std::string &name : fuzz_seeds::WriteCorpus(dir, seeds)) {
      std::printf("fuzz-seeds: removed %s (not a generated seed)\n", (dir / name).c_str());
    }
    std::printf("fuzz-seeds: wrote %zu seeds to %s\n", seeds.size(), dir.c_str());
  }
  return 0;
}

int Check(const std::filesystem::path &root) {
  size_t problem_count = 0;
  size_t seed_count = 0;
  for (const fuzz_seeds::GeneratedCorpus &corpus : fuzz_seeds::kGeneratedCorpora) {
    const std::vector<fuzz_seeds::Seed> seeds = corpus.seeds();
    seed_count += seeds.size();
    for (const std::string &problem : fuzz_seeds::CompareCorpus(root / corpus.folder, seeds)) {
      std::fprintf(stderr, "fuzz-seeds: %s\n", problem.c_str());
      ++problem_count;
    }
  }
  if (problem_count != 0) {
    std::fprintf(stderr,
                 "fuzz-seeds: %zu file(s) in %s differ from the generator's output; if the generator changed on "
                 "purpose, rewrite them with: fuzz-seeds --out %s\n",
                 problem_count, root.c_str(), root.c_str());
    return 1;
  }
  std::printf("fuzz-seeds: the %zu generated seeds in %s match byte for byte\n", seed_count, root.c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 3) return Usage();
  try {
    if (std::strcmp(argv[1], "--out") == 0) return Write(argv[2]);
    if (std::strcmp(argv[1], "--check") == 0) return Check(argv[2]);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return Usage();
}
