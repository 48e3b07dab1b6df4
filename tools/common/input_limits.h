// Limits on what the host tools read, set far above any real notice picture
// so that a hostile or mistaken file is refused at once, with the limit named,
// instead of costing gigabytes or never ending.
#pragma once

#include <cstdint>

namespace picture_tools {

// The largest file a tool reads: a 24-bit picture the size of the largest
// screen below takes 24,883,254 bytes as a BMP.
inline constexpr uint64_t kMaxInputFileBytes = uint64_t{64} << 20;
inline constexpr const char *kMaxInputFileText = "64 MiB";

// The largest screen the tools know (the last of the common screens notice-pack
// reports on). No screen they know draws a larger picture, so artwork wider or
// taller is refused before its pixels are read.
inline constexpr uint32_t kLargestScreenWidth = 3840;
inline constexpr uint32_t kLargestScreenHeight = 2160;

// libpng's limits for one PNG: chunks other than the picture's own are skipped
// unread, and these bound what is left.
inline constexpr uint32_t kMaxPngChunkBytes = uint32_t{1} << 20;  // one chunk's data in memory
inline constexpr uint32_t kMaxPngCachedChunks = 32;               // ancillary chunks kept

}  // namespace picture_tools
