// The seed pictures of the BMP fuzz targets, built with the tests' BMP writer
// (tests/display/bmp_writer.h), so the seeds and the tests share one BMP layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_seeds {

struct Seed {
  std::string name;  // the file's name inside its target's folder
  std::vector<uint8_t> bytes;
};

// Every converted depth (1, 4, 8, 24 bits) at widths 1, 3, 7, 10 and 33, which
// leave each kind of row tail, followed by pictures at the edges the decoder
// and the placement must handle: depths it refuses, colour maps read from the
// pixel data, a gap before the pixels, sizes whose 32-bit products wrap, and
// pictures just fitting, too wide or too tall for a 1024 x 768 screen.
// Always the same seeds in the same order.
std::vector<Seed> PictureSeeds();

}  // namespace fuzz_seeds
