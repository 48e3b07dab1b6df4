// The notice-sim command line: the simulated machine's state and the output folder.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/embedded_controller.h"

namespace preview {

// The largest side of a simulated screen (--screen).
inline constexpr uint32_t kMaxScreenSide = 8192;

struct PciFunction {
  std::string name;
  uint8_t base_class;
  uint8_t subclass;
  uint8_t programming_interface;
};

enum class SecureBootVariable {
  kByte,     // a one-byte variable holding secure_boot_byte
  kMissing,  // no such variable
  kBig,      // a two-byte variable, so a one-byte read is refused
};

struct CpuidLeaf15 {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
};

struct Options {
  std::string out_dir;
  std::string contact_sheet;  // PNG of all six pictures on the screen; without --out, no boot is run
  uint32_t screen_width = 1280;
  uint32_t screen_height = 800;
  // In firmware order; the default machine has one NVM Express controller.
  std::vector<PciFunction> pci = {{"nvme0", 0x01, 0x08, 0x02}};
  SecureBootVariable secure_boot = SecureBootVariable::kByte;
  uint8_t secure_boot_byte = 1;
  // Register -> the values its successive reads give, the last one repeating.
  std::map<uint8_t, std::vector<uint8_t>> ec_registers;
  sim::EcKind ec_kind = sim::EcKind::kIdle;
  // Mode -> BMP file replacing the built-in picture; modes without a picture file at all.
  std::map<unsigned, std::string> picture_files;
  std::set<unsigned> no_picture;
  // Mode -> BMP file in a second firmware volume, after the first in handle order.
  std::map<unsigned, std::string> second_volume_files;
  unsigned triggers = 1;
  bool trigger_before_end_of_dxe = false;
  bool no_gop = false;
  bool no_console = false;
  std::optional<uint32_t> trace_hub_base;
  std::optional<uint64_t> fail_alloc;  // 1-based index of the pool allocation that fails
  std::optional<CpuidLeaf15> cpuid_15;
  std::optional<uint32_t> cpuid_max_leaf;
};

struct ParseResult {
  std::optional<Options> options;  // empty on error or when help was asked for
  std::string error;               // what is wrong, when options is empty and help is false
  bool help = false;
};

ParseResult ParseOptions(const std::vector<std::string> &args);

// The --help text.
std::string UsageText();

}  // namespace preview
