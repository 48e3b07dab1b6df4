// Builds HOB lists as PI firmware lays them out: 8-byte aligned HOBs, each
// starting with type, length and a reserved word, ended by an end HOB. Raw
// HOBs with any length field let tests build malformed lists.
//
// A list built here does not know the address it will live at, so the
// hand-off HOB records the list's end as an offset from the list's start;
// Platform::InstallHobList turns it into the address in the installed copy.
#pragma once

#include <cstdint>
#include <vector>

#include "efi/efi_types.h"

namespace sim {

class HobListBuilder {
 public:
  // A GUID-extension HOB (type 4): name, then the data, padded to 8 bytes.
  HobListBuilder &Guid(const EFI_GUID &name, const std::vector<uint8_t> &data);
  // The trace-hub HOB: TraceHubInfoHobGuid with the 32-bit base at byte 20 of
  // its data (byte 44 of the HOB), 48 bytes in all.
  HobListBuilder &TraceHub(uint32_t base);
  // A HOB of any type holding `data` after its header, padded to 8 bytes.
  HobListBuilder &Generic(uint16_t type, const std::vector<uint8_t> &data);
  // Exactly these bytes after a header claiming `length`, whatever it is; no padding.
  HobListBuilder &Raw(uint16_t type, uint16_t length, const std::vector<uint8_t> &body);
  // The end-of-list HOB (type 0xFFFF, 8 bytes). A hand-off HOB records it as the list's end.
  HobListBuilder &End();
  // The hand-off HOB (type 1, 56 bytes) that starts PI lists. It records the
  // end as the offset of the list's end HOB (End()), or, until End() is
  // called, of the list's last byte + 1, unless HandoffEndAt set it.
  HobListBuilder &Handoff();
  // The hand-off HOB records this offset as the list's end, whatever follows.
  HobListBuilder &HandoffEndAt(uint64_t offset);
  // These bytes, as they are.
  HobListBuilder &Bytes(const std::vector<uint8_t> &bytes);

  const std::vector<uint8_t> &bytes() const { return bytes_; }

 private:
  void Header(uint16_t type, uint16_t length);
  void RecordEnd(uint64_t offset);
  std::vector<uint8_t> bytes_;
  bool has_handoff_ = false;
  bool end_fixed_ = false;
};

}  // namespace sim
