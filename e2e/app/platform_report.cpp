#include "e2e/app/platform_report.h"

#include "e2e/app/app_state.h"
#include "e2e/app/protocol_handles.h"
#include "e2e/app/serial_report.h"

namespace {

bool HasHobList() {
  const EFI_SYSTEM_TABLE *table = gApp.SystemTable;
  for (UINTN i = 0; i < table->NumberOfTableEntries; ++i) {
    if (GuidEquals(table->ConfigurationTable[i].VendorGuid, EFI_HOB_LIST_GUID)) return true;
  }
  return false;
}

constexpr EFI_GUID kDevicePathProtocolGuid = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Whether the graphics output LocateProtocol gives sits on a display's own handle (one with a device
// path: 1), on a handle without one (the console splitter's, drawing on every display: 0), or on no
// handle listed for it (2).
UINTN LocatedGopOnDevice(const void *Located) {
  constexpr UINTN kNotListed = 2;
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  UINTN found = kNotListed;
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  if (EFI_ERROR(bs->LocateHandleBuffer(ByProtocol, &EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, &count, &handles)) ||
      handles == nullptr) {
    return found;
  }
  for (UINTN i = 0; i < count && found == kNotListed; ++i) {
    void *interface = nullptr;
    if (EFI_ERROR(bs->HandleProtocol(handles[i], &EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, &interface)) ||
        interface != Located) {
      continue;
    }
    void *path = nullptr;
    found = EFI_ERROR(bs->HandleProtocol(handles[i], &kDevicePathProtocolGuid, &path)) ? 0 : 1;
  }
  bs->FreePool(handles);
  return found;
}

void ReportGraphicsOutput() {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = nullptr;
  EFI_STATUS status =
      gApp.BootServices->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, reinterpret_cast<void **>(&gop));
  if (EFI_ERROR(status) || gop == nullptr || gop->Mode == nullptr || gop->Mode->Info == nullptr) {
    ReportValue("GopModes", 0);
    return;
  }
  ReportValue("GopModes", gop->Mode->MaxMode);
  ReportValue("GopWidth", gop->Mode->Info->HorizontalResolution);
  ReportValue("GopHeight", gop->Mode->Info->VerticalResolution);
  ReportValue("GopHandles", CountProtocolHandles(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID));
  ReportValue("GopOnDevice", LocatedGopOnDevice(gop));
}

}  // namespace

void ReportPlatform() {
  ReportValue("HobList", HasHobList() ? 1 : 0);
  ReportValue("FirmwareVolumeHandles", CountProtocolHandles(&EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID));
  ReportValue("PciIoHandles", CountProtocolHandles(&EFI_PCI_IO_PROTOCOL_GUID));
  ReportGraphicsOutput();
}

void ReportPictureVolumeIndex(EFI_HANDLE Handle) {
  constexpr UINTN kNotListed = 0xFFFF;
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  UINTN index = kNotListed;
  if (!EFI_ERROR(gApp.BootServices->LocateHandleBuffer(ByProtocol, &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, nullptr, &count,
                                                       &handles)) &&
      handles != nullptr) {
    for (UINTN i = 0; i < count && index == kNotListed; ++i) {
      if (handles[i] == Handle) index = i;
    }
    gApp.BootServices->FreePool(handles);
  }
  ReportValue("PictureVolumeIndex", index);
}

void ReportBoundControllers(const char *NvmeStep, const char *AtaStep) {
  ReportValue(NvmeStep, CountProtocolHandles(&kNvmExpressPassThruProtocolGuid));
  ReportValue(AtaStep, CountProtocolHandles(&kAtaPassThruProtocolGuid));
}
