// Why the driver refuses a picture, in words a platform engineer can act on.
// The decision itself is the driver's CheckBmp; this only explains its answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "display/bmp_check.h"

namespace picture_tools {

using ByteSpan = std::span<const uint8_t>;

// The name of a picture format recognised by its first bytes ("PNG", "JPEG",
// "GIF", "WebP", "TIFF"), or empty.
std::string OtherFormatName(ByteSpan bytes);

// The first failed check of `bytes` (CheckBmp's answer and layout) as one
// sentence: what is wrong and what to do. `fault` must not be None.
std::string BmpFaultReason(BmpFault fault, const BmpLayout &layout, ByteSpan bytes);

// Runs the driver's checks on `bytes`: nothing when the driver converts the
// picture, else the reason. Fills *layout when given.
std::optional<std::string> BmpRefusal(ByteSpan bytes, BmpLayout *layout = nullptr);

}  // namespace picture_tools
