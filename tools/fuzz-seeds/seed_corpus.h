// A seed folder on disk: writing one, and comparing one with the seeds it
// should hold byte for byte.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "artwork_seeds.h"
#include "picture_seeds.h"

namespace fuzz_seeds {

// A target folder the generator writes and the seeds that fill it.
struct GeneratedCorpus {
  const char *folder;  // under the corpus root, e.g. "bmp_decode"
  std::vector<Seed> (*seeds)();
};

// Every corpus the generator writes; the other folders are hand-made.
inline const GeneratedCorpus kGeneratedCorpora[] = {{"bmp_decode", PictureSeeds}, {"artwork_convert", ArtworkSeeds}};

// Writes each seed as dir/name (creating dir) and removes the other regular
// files in dir. Returns the names removed. Throws std::runtime_error when a
// file cannot be written.
std::vector<std::string> WriteCorpus(const std::filesystem::path &dir, const std::vector<Seed> &seeds);

// One line for each file of dir that is missing, differs from its seed, or is
// not a seed; empty when dir holds exactly the seeds.
std::vector<std::string> CompareCorpus(const std::filesystem::path &dir, const std::vector<Seed> &seeds);

}  // namespace fuzz_seeds
