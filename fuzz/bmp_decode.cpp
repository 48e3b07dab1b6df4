// The BMP decoder alone over arbitrary bytes: whatever the header claims, no
// read outside the picture, no allocation larger than the picture justifies,
// and on success exactly width x height written pixels, released again.
//
// The decoder reaches the firmware only for its one allocation, so this target
// hands it a boot-services table whose pool is the C heap (exactly sized
// blocks the sanitizers watch) instead of building a whole simulated platform
// per input: that keeps thousands of inputs a second.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "core/driver_state.h"
#include "display/bmp_decode.h"

namespace {

// Live blocks and their sizes.
std::map<void *, size_t> gBlocks;

EFI_STATUS EFIAPI HeapAllocatePool(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  if (type != EfiBootServicesData || buffer == nullptr) std::abort();
  // One pixel of output needs at least one bit of pixel data, so a picture of
  // at most a few kilobytes never asks for megabytes.
  if (size > (size_t{1} << 24)) std::abort();
  *buffer = std::malloc(size == 0 ? 1 : size);
  if (*buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  gBlocks[*buffer] = size;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI HeapFreePool(void *buffer) {
  if (gBlocks.erase(buffer) != 1) std::abort();
  std::free(buffer);
  return EFI_SUCCESS;
}

EFI_BOOT_SERVICES gBootServices = [] {
  EFI_BOOT_SERVICES services{};
  services.AllocatePool = HeapAllocatePool;
  services.FreePool = HeapFreePool;
  return services;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  gDriver = DriverState{};
  gDriver.BootServices = &gBootServices;
  // An exactly sized copy, so a read one byte past the picture is reported.
  std::unique_ptr<uint8_t[]> picture(new uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(picture.get(), data, size);

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
  UINT32 width = 0;
  UINT32 height = 0;
  const EFI_STATUS status = ConvertBmpToGopBltofTarvex(picture.get(), size, &pixels, &width, &height);
  if (EFI_ERROR(status)) {
    if (pixels != nullptr || !gBlocks.empty()) std::abort();  // a failure hands out and keeps nothing
    return 0;
  }
  const size_t count = static_cast<size_t>(width) * height;
  if (pixels == nullptr || gBlocks.count(pixels) != 1 || gBlocks[pixels] != count * 4) std::abort();
  // Every pixel was written whole: reading them is defined, and the reserved byte is 0.
  for (size_t i = 0; i < count; ++i) {
    if (pixels[i].Reserved != 0) std::abort();
  }
  gDriver.BootServices->FreePool(pixels);
  if (!gBlocks.empty()) std::abort();
  return 0;
}
