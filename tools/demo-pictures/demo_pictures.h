// The six demo notice pictures, one per notice mode, composed in code so they
// can be rebuilt at any time and told apart on screen: each has its own
// colours, its notice number in large type and a caption saying what it means.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"

namespace demo {

inline constexpr unsigned kFirstDemoMode = 1;
inline constexpr unsigned kLastDemoMode = 6;

struct DemoPicture {
  unsigned mode;
  unsigned bits_per_pixel;
  unsigned width;
  unsigned height;
  std::string caption;       // what the picture says besides its number
  std::vector<uint8_t> bmp;  // the complete BMP file
  std::vector<Rgb> pixels;   // what it shows, width x height, top row first
};

// The demo picture for a notice mode from 1 to 6; throws std::out_of_range otherwise.
DemoPicture MakeDemoPicture(unsigned mode);

// "notice<mode>.bmp", the name the generator writes it under.
std::string DemoPictureFileName(unsigned mode);

}  // namespace demo
