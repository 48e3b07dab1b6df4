#include "tools/notice-pack/checksum.h"

namespace notice_pack {

uint8_t Checksum8(ByteView data) {
  uint8_t sum = 0;
  for (uint8_t byte : data) sum = static_cast<uint8_t>(sum + byte);
  return static_cast<uint8_t>(0x100 - sum);
}

uint16_t Checksum16(ByteView data) {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    sum = static_cast<uint16_t>(sum + GetLe(data, i, 2));
  }
  return static_cast<uint16_t>(0x10000 - sum);
}

}  // namespace notice_pack
