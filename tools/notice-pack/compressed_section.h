// Picture files whose RAW section is stored LZMA-compressed inside a
// GUID-defined section, as firmware's own compressed sections are: the
// firmware-volume protocol's ReadSection extracts it, so the driver reads
// the same bytes either way.
#pragma once

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/guid.h"

namespace notice_pack {

// GUID-defined section: common header, SectionDefinitionGuid, DataOffset
// (u16, from the section's start), Attributes (u16).
inline constexpr uint8_t kSectionGuidDefined = 0x02;
inline constexpr size_t kGuidDefinedHeaderSize = 24;
inline constexpr uint16_t kGuidedSectionProcessingRequired = 0x01;
inline constexpr Guid kLzmaSectionGuid = GuidLiteral("EE4E5898-3914-4259-9D6E-DC7BD79403CF");

// A GUID-defined section holding `sections` (complete sections) as LZMA
// "alone" data; processing is required to read them.
Bytes BuildLzmaGuidedSection(ByteView sections);

// A FREEFORM file named `fileGuid` whose one section is the LZMA GUID-defined
// section around the RAW section holding `picture`.
Bytes BuildCompressedPictureFile(const Guid &fileGuid, ByteView picture);

}  // namespace notice_pack
