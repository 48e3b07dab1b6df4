// Numbers on the command line: decimal, or hexadecimal with a 0x prefix.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace preview {

// The value of a whole decimal or 0x-prefixed hexadecimal number no larger
// than max; empty for anything else (signs, spaces, empty digits, overflow).
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max);

// The value of whole hexadecimal digits (with or without 0x) no larger than max.
std::optional<uint64_t> ParseHex(std::string_view text, uint64_t max);

}  // namespace preview
