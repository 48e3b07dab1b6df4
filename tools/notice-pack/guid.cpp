#include "tools/notice-pack/guid.h"

namespace notice_pack {

std::string FormatGuid(const Guid &guid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text(36, '-');
  for (size_t i = 0; i < guid.Bytes.size(); ++i) {
    const size_t at = guid_detail::kDigitPosition[i];
    text[at] = kHex[guid.Bytes[i] >> 4];
    text[at + 1] = kHex[guid.Bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace notice_pack
