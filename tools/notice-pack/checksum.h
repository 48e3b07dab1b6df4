// The integrity sums of FFS file headers and volume headers.
#pragma once

#include <cstdint>

#include "tools/notice-pack/byte_buffer.h"

namespace notice_pack {

// The byte that makes the 8-bit sum of `data` plus itself zero.
uint8_t Checksum8(ByteView data);

// The word that makes the sum of the little-endian 16-bit words of `data`
// (even length) plus itself zero.
uint16_t Checksum16(ByteView data);

}  // namespace notice_pack
