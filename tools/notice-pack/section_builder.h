// Builds FFS sections: a 4-byte header (24-bit size including the header,
// then the type) followed by the section body.
#pragma once

#include <string_view>

#include "tools/notice-pack/byte_buffer.h"

namespace notice_pack {

// Throws PackError when the section would not fit the 24-bit size field.
Bytes BuildSection(uint8_t type, ByteView body);

// A USER_INTERFACE section: `name` (printable ASCII) as UCS-2 with its
// terminating zero character.
Bytes BuildUserInterfaceSection(std::string_view name);

}  // namespace notice_pack
