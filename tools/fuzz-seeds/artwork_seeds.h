// The seed files of the artwork fuzz target (fuzz/artwork_convert.cpp): PNGs
// of every colour type, depth and interlacing written by libpng, a few
// hand-made PNGs at the reader's limits, and BMPs of every header size and
// depth an editor writes. Built with the tests' writers
// (tests/picture_tools/png_writer.h, artwork_files.h), so the seeds and the
// tests share one layout.
#pragma once

#include <vector>

#include "picture_seeds.h"

namespace fuzz_seeds {

// Always the same seeds in the same order.
std::vector<Seed> ArtworkSeeds();

}  // namespace fuzz_seeds
