// A contact sheet: the six notice pictures, each on its own copy of the
// chosen screen where the driver would put it, as one PNG (three screens a
// row, grey gutters between them).
#pragma once

#include <string>
#include <vector>

#include "preview_run.h"

namespace preview {

// The largest screen side a sheet is drawn for: six 4096x4096 screens already
// take 400 MB of pixels (options refuse larger ones).
inline constexpr uint32_t kLargestSheetScreen = 4096;

// Draws the sheet as PNG bytes into *png; appends one line per picture (where
// it lands, or why it is not drawn) to *report. Returns an empty string on
// success, otherwise what failed.
std::string DrawContactSheet(uint32_t screen_width, uint32_t screen_height, const PictureFiles &pictures,
                             std::vector<uint8_t> *png, std::string *report);

}  // namespace preview
