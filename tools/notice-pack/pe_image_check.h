// Checks that a file is a PE32+ x86-64 image of the boot-service-driver
// subsystem before it is packed as the firmware's DXE driver.
#pragma once

#include <optional>
#include <string>

#include "tools/notice-pack/byte_buffer.h"

namespace notice_pack {

// The reason the image is unfit, or nothing when it is fit.
std::optional<std::string> FindDriverImageProblem(ByteView image);

}  // namespace notice_pack
