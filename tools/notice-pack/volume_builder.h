// Builds a complete FFS2 firmware volume with erase polarity 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/ffs_layout.h"

namespace notice_pack {

struct VolumeOptions {
  uint32_t BlockSize = 0x1000;
  // 0: the smallest whole number of blocks that holds the files.
  size_t Length = 0;
  uint32_t Attributes = kVolumeDefaultAttributes;
};

// Header with a one-entry block map, then `files` (complete FFS files) each on
// an 8-byte boundary of the volume, the gaps and the free space after the
// last file erased (0xFF). Throws PackError when the options are inconsistent
// or the files do not fit.
Bytes BuildVolume(const std::vector<Bytes> &files, const VolumeOptions &options = {});

}  // namespace notice_pack
