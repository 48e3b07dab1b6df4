#include "e2e/app/storage_report.h"

#include "e2e/app/app_state.h"
#include "e2e/app/serial_report.h"

namespace {

// Installed by the firmware's NVMe driver on a controller it has started.
constexpr EFI_GUID kNvmExpressPassThruProtocolGuid = {
    0x52C78312, 0x8EDC, 0x4233, {0x98, 0xF2, 0x1A, 0x1A, 0xA5, 0xE3, 0x88, 0xA5}};
constexpr EFI_GUID kBlockIoProtocolGuid = {
    0x964E5B21, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Handles carrying the protocol; none when the firmware finds none.
UINTN CountHandles(const EFI_GUID *Protocol) {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gApp.BootServices->LocateHandleBuffer(ByProtocol, Protocol, nullptr, &count, &handles))) return 0;
  gApp.BootServices->FreePool(handles);
  return count;
}

}  // namespace

void ReportStorageBindings() {
  ReportValue("NvmePassThruHandles", CountHandles(&kNvmExpressPassThruProtocolGuid));
  ReportValue("BlockIoHandles", CountHandles(&kBlockIoProtocolGuid));
}
