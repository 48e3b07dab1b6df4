// Numbers as people read them in messages.
#pragma once

#include <cstdint>
#include <string>

namespace picture_tools {

// 1234567 -> "1,234,567".
std::string GroupDigits(uint64_t value);

}  // namespace picture_tools
