// What each packed file costs in flash: raw input, the FFS file as stored,
// and the same after LZMA compression as a firmware's compressed volume
// stores it (the "alone" format, 13-byte header, 16 MiB dictionary).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/guid.h"

namespace notice_pack {

struct PackedFile {
  std::string Label;  // the input file's name
  Guid Name;
  std::string Kind;  // "driver", "24-bit 640x200", with ", LZMA section" when compressed
  size_t RawBytes = 0;
  Bytes Ffs;
};

struct FlashCost {
  // One row per file and a total row. With a volume, a last line gives the
  // volume's size and its size after LZMA compression.
  std::string Table;
  uint64_t PlacedBytes = 0;  // the FFS files one after another, each on an 8-byte boundary
  uint64_t LzmaBytes = 0;    // the files' LZMA sizes, each compressed alone
};

FlashCost MeasureFlashCost(const std::vector<PackedFile> &files, const Bytes *volume);

}  // namespace notice_pack
