// Fixed values of the firmware file system (FFS2) and firmware volume
// layouts this tool writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/notice-pack/guid.h"

namespace notice_pack {

// Section header: Size[3] (header included), Type.
inline constexpr size_t kSectionHeaderSize = 4;
inline constexpr size_t kSectionAlignment = 4;
inline constexpr uint8_t kSectionPe32 = 0x10;
inline constexpr uint8_t kSectionUserInterface = 0x15;
inline constexpr uint8_t kSectionRaw = 0x19;

// File header: Name, IntegrityCheck.Header, IntegrityCheck.File, Type,
// Attributes, Size[3] (header included), State.
inline constexpr size_t kFileHeaderSize = 24;
inline constexpr size_t kFileAlignment = 8;
inline constexpr size_t kFileHeaderChecksumOffset = 16;
inline constexpr size_t kFileDataChecksumOffset = 17;
inline constexpr size_t kFileTypeOffset = 18;
inline constexpr size_t kFileAttributesOffset = 19;
inline constexpr size_t kFileSizeOffset = 20;
inline constexpr size_t kFileStateOffset = 23;
inline constexpr uint8_t kFileTypeFreeform = 0x02;
inline constexpr uint8_t kFileTypeDriver = 0x07;
// Without the checksum attribute the file checksum byte holds this fixed value.
inline constexpr uint8_t kFileChecksumNotUsed = 0xAA;
// Header construction, header valid, data valid.
inline constexpr uint8_t kFileStateComplete = 0x07;

// Both section and file sizes are 24-bit fields.
inline constexpr size_t kMaxSize24 = 0xFFFFFF;

// Volume header: ZeroVector[16], FileSystemGuid, FvLength (u64), "_FVH",
// Attributes (u32), HeaderLength (u16), Checksum (u16), ExtHeaderOffset (u16),
// Reserved (u8), Revision (u8), then the block map ending in {0, 0}.
inline constexpr size_t kVolumeLengthOffset = 32;
inline constexpr size_t kVolumeSignatureOffset = 40;
inline constexpr size_t kVolumeAttributesOffset = 44;
inline constexpr size_t kVolumeHeaderLengthOffset = 48;
inline constexpr size_t kVolumeChecksumOffset = 50;
inline constexpr size_t kVolumeRevisionOffset = 55;
inline constexpr size_t kVolumeBlockMapOffset = 56;
// One block-map entry and the terminating {0, 0}.
inline constexpr size_t kVolumeHeaderSize = kVolumeBlockMapOffset + 2 * 8;
inline constexpr uint8_t kVolumeRevision = 2;
inline constexpr uint32_t kVolumeSignature = 0x4856465F;  // "_FVH"
inline constexpr uint32_t kVolumeAttributeErasePolarity = 0x800;
// Read/write/lock capabilities and status, memory mapped, sticky write,
// erase polarity 1, 16-byte alignment: what a flash-resident DXE volume declares.
inline constexpr uint32_t kVolumeDefaultAttributes = 0x0004FEFF;
inline constexpr uint8_t kErasedByte = 0xFF;

inline constexpr Guid kFfs2FileSystemGuid = GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");

}  // namespace notice_pack
