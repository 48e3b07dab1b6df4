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
