// The BMP decoder alone over arbitrary bytes: whatever the header claims, no
// read outside the picture, no allocation larger than the picture justifies,
// and on success exactly width x height written pixels, released again.
//
// The decoder reaches the firmware only for its one allocation, so this target
// hands it the pool-only firmware (exactly sized C-heap blocks the sanitizers
// watch) instead of building a whole simulated platform per input: that keeps
// thousands of inputs a second.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/driver_state.h"
#include "display/bmp_decode.h"
#include "sim/driver_reload.h"
#include "sim/pool_only_firmware.h"

namespace {

// One pixel of output needs at least one bit of pixel data, so a picture of
// at most a few kilobytes never asks for megabytes.
constexpr size_t kAllocationLimit = size_t{1} << 24;

sim::PoolOnlyFirmware &Firmware() {
  static sim::PoolOnlyFirmware firmware;
  firmware.set_allocation_limit(kAllocationLimit);
  return firmware;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::PoolOnlyFirmware &firmware = Firmware();
  sim::ReloadDriver();
  firmware.BindDriver();
  // An exactly sized copy, so a read one byte past the picture is reported.
  std::unique_ptr<uint8_t[]> picture(new uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(picture.get(), data, size);

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
  UINT32 width = 0;
  UINT32 height = 0;
  const EFI_STATUS status = ConvertBmpToGopBltofTarvex(picture.get(), size, &pixels, &width, &height);
  if (EFI_ERROR(status)) {
    // A failure hands out and keeps nothing, and asks for nothing it may not.
    if (pixels != nullptr || !firmware.blocks().empty() || !firmware.faults().empty()) std::abort();
    return 0;
  }
  if (!firmware.faults().empty()) std::abort();
  const size_t count = static_cast<size_t>(width) * height;
  const auto block = firmware.blocks().find(pixels);
  if (pixels == nullptr || block == firmware.blocks().end() || block->second != count * 4) std::abort();
  // Every pixel was written whole: reading them is defined, and the reserved byte is 0.
  for (size_t i = 0; i < count; ++i) {
    if (pixels[i].Reserved != 0) std::abort();
  }
  if (gDriver.BootServices->FreePool(pixels) != EFI_SUCCESS) std::abort();
  if (!firmware.blocks().empty() || !firmware.faults().empty()) std::abort();
  return 0;
}
