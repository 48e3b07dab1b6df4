// Why a notification's picture is not on the screen, in words: the driver's
// own checks and placement explain it (tools/common).
#pragma once

#include <optional>
#include <string>

#include "options.h"
#include "preview_run.h"

namespace preview {

// Nothing when the picture was drawn, or when there was no notice to show.
std::optional<std::string> NotShownReason(const Options &options, const PictureFiles &pictures, uint32_t screen_width,
                                          uint32_t screen_height, const Notification &n);

}  // namespace preview
