// The HOB list the simulated firmware publishes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace preview {

// A HOB list with, when a base is given, one trace-hub GUID-extension HOB
// carrying it, then the end-of-list HOB.
std::vector<uint8_t> BuildHobList(std::optional<uint32_t> trace_hub_base);

}  // namespace preview
