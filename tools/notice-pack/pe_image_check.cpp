#include "tools/notice-pack/pe_image_check.h"

namespace notice_pack {
namespace {

constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kOptionalMagicOffset = 4 + kCoffHeaderSize;
constexpr size_t kOptionalSubsystemOffset = kOptionalMagicOffset + 68;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kSubsystemBootServiceDriver = 11;

bool Holds(ByteView image, size_t offset, size_t width) {
  return offset <= image.size() && width <= image.size() - offset;
}

}  // namespace

std::optional<std::string> FindDriverImageProblem(ByteView image) {
  if (!Holds(image, kPeOffsetField, 4) || image[0] != 'M' || image[1] != 'Z') return "not a PE image (no MZ header)";
  const size_t pe = GetLe(image, kPeOffsetField, 4);
  if (!Holds(image, pe, kOptionalSubsystemOffset + 2)) return "PE header lies outside the file";
  if (GetLe(image, pe, 4) != 0x00004550) return "no PE signature";
  if (GetLe(image, pe + 4, 2) != kMachineX64) return "not an x86-64 image";
  if (GetLe(image, pe + kOptionalMagicOffset, 2) != kPe32PlusMagic) return "not a PE32+ image";
  if (GetLe(image, pe + kOptionalSubsystemOffset, 2) != kSubsystemBootServiceDriver) {
    return "subsystem is not EFI boot-service driver (11)";
  }
  return std::nullopt;
}

}  // namespace notice_pack
