// Helpers shared by the notice-pack tests: a minimal driver image and a
// reader that walks a volume the way the firmware does.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/ffs_layout.h"

namespace pack_test {

using notice_pack::Bytes;
using notice_pack::ByteView;
using notice_pack::GetLe;

// MZ stub, PE signature at 0x40, COFF header and the start of a PE32+
// optional header: enough for the image check, padded to `size` bytes.
inline Bytes MakeDriverImage(uint16_t machine = 0x8664, uint16_t magic = 0x20B, uint16_t subsystem = 11,
                             size_t size = 0x200) {
  Bytes image(size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  notice_pack::PutLe(image, 0x3C, 0x40, 4);
  notice_pack::PutLe(image, 0x40, 0x00004550, 4);
  notice_pack::PutLe(image, 0x44, machine, 2);
  notice_pack::PutLe(image, 0x58, magic, 2);
  notice_pack::PutLe(image, 0x58 + 68, subsystem, 2);
  for (size_t i = 0x100; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7);
  return image;
}

inline uint8_t Sum8(ByteView data) {
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

struct SectionView {
  size_t Offset;  // within the file
  uint8_t Type;
  ByteView Body;
};

// Sections of a file as the firmware's section walk sees them: each on a
// 4-byte boundary after the previous one, up to the file's size.
inline std::vector<SectionView> ReadSections(ByteView file) {
  std::vector<SectionView> sections;
  size_t at = notice_pack::kFileHeaderSize;
  const size_t end = GetLe(file, notice_pack::kFileSizeOffset, 3);
  while (at + notice_pack::kSectionHeaderSize <= end) {
    const size_t size = GetLe(file, at, 3);
    if (size < notice_pack::kSectionHeaderSize || size > end - at) break;
    sections.push_back({at, file[at + 3], file.subspan(at + 4, size - 4)});
    at = notice_pack::AlignUp(at + size, notice_pack::kSectionAlignment);
  }
  return sections;
}

struct FileView {
  size_t Offset;  // within the volume
  ByteView Bytes;
};

// Files of a volume: from the header length, each on an 8-byte boundary,
// until free space (an all-0xFF header) or the end.
inline std::vector<FileView> ReadFiles(ByteView volume) {
  std::vector<FileView> files;
  size_t at = GetLe(volume, notice_pack::kVolumeHeaderLengthOffset, 2);
  while (at + notice_pack::kFileHeaderSize <= volume.size()) {
    const ByteView header = volume.subspan(at, notice_pack::kFileHeaderSize);
    bool erased = true;
    for (uint8_t b : header) erased = erased && b == 0xFF;
    if (erased) break;
    const size_t size = GetLe(header, notice_pack::kFileSizeOffset, 3);
    if (size < notice_pack::kFileHeaderSize || size > volume.size() - at) break;
    files.push_back({at, volume.subspan(at, size)});
    at = notice_pack::AlignUp(at + size, notice_pack::kFileAlignment);
  }
  return files;
}

}  // namespace pack_test
