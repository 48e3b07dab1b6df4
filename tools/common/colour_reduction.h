// Lossy colour reduction, only when asked for (notice-pack convert --colours
// N): libgd's median-cut quantiser (its "JQUANT" method, without dithering),
// under libgd's permissive licence.
#pragma once

#include "tools/common/smallest_bmp.h"

namespace picture_tools {

inline constexpr unsigned kMinReducedColours = 2;
inline constexpr unsigned kMaxReducedColours = 256;

// At most `colours` (2-256) colours; a picture that already has no more is
// returned unchanged. Throws ArtworkError when libgd fails.
FlatPicture ReduceColours(const FlatPicture &picture, unsigned colours);

}  // namespace picture_tools
