#include "tools/notice-pack/section_builder.h"

#include <algorithm>
#include <string>

#include "tools/notice-pack/ffs_layout.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {

Bytes BuildSection(uint8_t type, ByteView body) {
  if (body.size() > kMaxSize24 - kSectionHeaderSize) {
    throw PackError("section body of " + std::to_string(body.size()) + " bytes exceeds the 24-bit section size");
  }
  Bytes section(kSectionHeaderSize + body.size());
  PutLe(section, 0, section.size(), 3);
  section[3] = type;
  std::copy(body.begin(), body.end(), section.begin() + kSectionHeaderSize);
  return section;
}

Bytes BuildUserInterfaceSection(std::string_view name) {
  if (name.empty()) throw PackError("the user-interface name is empty");
  Bytes text;
  for (char c : name) {
    if (c < 0x20 || c > 0x7E) throw PackError("the user-interface name must be printable ASCII");
    text.push_back(static_cast<uint8_t>(c));
    text.push_back(0);
  }
  text.push_back(0);
  text.push_back(0);
  return BuildSection(kSectionUserInterface, text);
}

}  // namespace notice_pack
