// LZMA in the "alone" format firmware uses for compressed sections and
// volumes: a 13-byte header (properties byte lc3 lp0 pb2 = 0x5D, 32-bit
// dictionary size, 64-bit uncompressed size) and the LZMA stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace picture_tools {

inline constexpr size_t kLzmaAloneHeaderSize = 13;
// The dictionary firmware build tools use (16 MiB).
inline constexpr uint32_t kFirmwareLzmaDictionary = 1u << 24;

// Compresses `data`; the header carries its real size (firmware decoders
// size their output from it). Throws std::runtime_error if liblzma fails.
std::vector<uint8_t> CompressLzmaAlone(std::span<const uint8_t> data);

// The inverse, for checks; throws std::runtime_error on corrupt input.
std::vector<uint8_t> DecompressLzmaAlone(std::span<const uint8_t> packed);

}  // namespace picture_tools
