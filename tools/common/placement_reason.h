// Where a decoded picture lands on a screen, or why it is not drawn, in
// words. The decision is the driver's PlaceNotice.
#pragma once

#include <cstdint>
#include <string>

namespace picture_tools {

struct ScreenFit {
  bool Drawn = false;
  uint64_t X = 0;  // where the top-left corner goes, when drawn
  uint64_t Y = 0;
  std::string Reason;  // why it is not drawn, when it is not
};

// A picture taller than the screen passes the driver's width test but its
// position wraps, so the graphics output refuses it: not drawn either.
ScreenFit FitOnScreen(uint32_t ScreenWidth, uint32_t ScreenHeight, uint32_t Width, uint32_t Height);

}  // namespace picture_tools
