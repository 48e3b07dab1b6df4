// The firmware files that carry the notice driver and its pictures.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/guid.h"

namespace notice_pack {

// File name of the notice driver in every firmware image we build.
inline constexpr Guid kNoticeDriverFileGuid = GuidLiteral("1E16495C-074B-42D0-884C-5729229B3EEB");
inline constexpr std::string_view kNoticeDriverDefaultName = "NoticeDxe";

// Picture files, indexed by picture number 1-6; the driver looks them up by
// these names.
inline constexpr std::array<Guid, 6> kNoticePictureGuids = {
    GuidLiteral("2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6"), GuidLiteral("D667348E-1827-4DF0-8D56-847211257F85"),
    GuidLiteral("8CCA080A-4A46-4E16-9AA7-57D6853071BB"), GuidLiteral("E98CCA77-61E4-474C-8660-5B10B8A0F128"),
    GuidLiteral("C6E37D95-A12F-4321-AB6C-A0EB9708100A"), GuidLiteral("748A836A-D16D-43DC-997C-98B3220A096B")};

// The file GUID of picture `number` (1-6), or nothing for other numbers.
std::optional<Guid> NoticePictureGuid(int number);

// A DRIVER file: the PE32 section, then the USER_INTERFACE section with
// `name`; no dependency section, so it is dispatched once all architectural
// protocols exist. Throws PackError when `image` is not a PE32+ x86-64
// boot-service driver.
Bytes BuildDriverFile(ByteView image, std::string_view name, const Guid &fileGuid = kNoticeDriverFileGuid);

// A FREEFORM file named `fileGuid` holding `picture` in one RAW section.
Bytes BuildPictureFile(const Guid &fileGuid, ByteView picture);

}  // namespace notice_pack
