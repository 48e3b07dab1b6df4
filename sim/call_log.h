// The interaction log of the simulated platform: every firmware service the
// driver calls, in call order, with its arguments, its status and the virtual
// time it was called at. The preview tool turns it into a timeline.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "efi/efi_types.h"

namespace sim {

struct LogField {
  std::string key;
  std::string value;
};

struct CallRecord {
  uint64_t time_ns = 0;          // virtual clock when the call was made
  std::string name;              // service name as UEFI writes it ("AllocatePool", "Blt", ...), or "Notify"
  std::vector<LogField> fields;  // arguments (and results worth showing) as text
  bool has_status = false;       // false for services returning nothing, and while the call runs
  EFI_STATUS status = 0;
  unsigned depth = 0;  // 0 for calls from the driver's entry or a host step; +1 inside each notify

  // The value of a field, or an empty string when the record has none of that name.
  std::string Field(std::string_view key) const;
};

// Text forms used in the log fields.
std::string HexText(uint64_t value);
std::string DecText(uint64_t value);
std::string GuidText(const EFI_GUID &guid);
std::string StatusText(EFI_STATUS status);
std::string Utf8Text(std::u16string_view text);

}  // namespace sim
