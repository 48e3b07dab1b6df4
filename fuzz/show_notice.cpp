// ShowNotice end to end on a freshly reset simulated platform, with the
// fuzzer's bytes as the picture file: no finding, the platform sees no misuse,
// and once the raw picture is released (as the notice does after its hold) no
// pool is left. One platform serves the whole run (Platform::Reset).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/driver_state.h"
#include "display/notice_display.h"
#include "display/notice_image_lookup.h"
#include "sim/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static sim::Platform platform;
  platform.Reset();
  platform.BindDriver();
  // The default 1024 x 768 screen: pictures up to 1004 pixels wide are drawn.
  platform.AddFirmwareVolume("fv0").AddRawFile(NoticeImage1Guid, std::vector<uint8_t>(data, data + size));
  gDriver.NoticeMode = 1;

  if (ShowNotice() != EFI_SUCCESS) std::abort();
  if (gDriver.NoticeImageBuffer != nullptr) {
    gDriver.BootServices->FreePool(gDriver.NoticeImageBuffer);
    gDriver.NoticeImageBuffer = nullptr;
  }
  if (platform.pool_usage().blocks != 0 || !platform.faults().empty() || !platform.unexpected_calls().empty()) {
    std::abort();
  }
  return 0;
}
