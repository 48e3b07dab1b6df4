// One simulated boot: the machine built from the options, the real driver run
// on it (entry, end of DXE, the trigger installations), and what came of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "efi/efi.h"
#include "options.h"

namespace preview {

struct EcReadRecord {
  uint8_t reg;
  uint8_t value;
};

struct BltRect {
  uint64_t x;
  uint64_t y;
  uint64_t width;
  uint64_t height;
};

// One installation of the trigger protocol and what the driver did about it.
struct Notification {
  unsigned index = 0;  // 0-based, in installation order
  bool before_end_of_dxe = false;
  bool notified = false;                      // the driver's trigger notify function ran
  uint8_t mode_before = 0;                    // gDriver.NoticeMode when it started
  uint8_t notice_mode = 0;                    // gDriver.NoticeMode afterwards
  uint8_t storage_absent = 1;                 // gDriver.StorageAbsent during the notification
  uint8_t secure_boot_state = 0xFF;           // gDriver.SecureBootState afterwards
  std::optional<EFI_GUID> picture_requested;  // file asked of the firmware volumes
  bool picture_read = false;                  // ... and delivered
  std::optional<BltRect> blt;                 // the Blt that succeeded
  std::vector<BltRect> refused_blts;
  std::vector<std::string> console;  // OutputString texts, UTF-8
  std::optional<uint8_t> cmos_0x30;  // last value written to CMOS byte 0x30
  uint64_t stall_us = 0;
  unsigned get_variable_calls = 0;
  std::vector<EcReadRecord> ec_reads;
  bool shutdown = false;
  std::optional<std::string> reason;  // why the notice's picture is not on the screen
  uint64_t start_us = 0;
  uint64_t end_us = 0;
};

struct RunResult {
  uint32_t screen_width = 0;
  uint32_t screen_height = 0;
  EFI_STATUS entry_status = EFI_SUCCESS;
  uint8_t storage_absent = 1;
  uint8_t secure_boot_state = 0xFF;
  uint32_t trace_hub_base = 0;
  std::vector<std::string> connected;
  uint64_t pool_in_use_bytes = 0;
  uint64_t pool_peak_bytes = 0;
  std::vector<Notification> notifications;
  unsigned triggers_skipped = 0;  // trigger installations that never happened: the machine was off
  bool machine_off = false;
  uint64_t end_us = 0;
  std::vector<std::string> unexpected_calls;
  std::vector<std::string> faults;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> framebuffer;  // screen_width x screen_height, top row first
  std::vector<nlohmann::ordered_json> events;
};

// The BMP bytes each notice mode's picture file holds; modes without an entry have no file.
using PictureFiles = std::map<unsigned, std::vector<uint8_t>>;

// Runs the boot. Throws std::runtime_error only for faults of the tool itself.
// A non-empty second_volume is a second firmware volume after the first.
RunResult RunPreview(const Options &options, const PictureFiles &pictures, const PictureFiles &second_volume = {});

}  // namespace preview
