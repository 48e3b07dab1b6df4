// Notice picture table and the firmware-volume read.
#include "display/notice_image_lookup.h"

#include "base/driver_state.h"

namespace {

// Indexed by notice mode - 1.
constexpr EFI_GUID kNoticeImageGuids[] = {NoticeImage1Guid, NoticeImage2Guid, NoticeImage3Guid,
                                          NoticeImage4Guid, NoticeImage5Guid, NoticeImage6Guid};
constexpr UINT8 kNoticeImageCount = sizeof(kNoticeImageGuids) / sizeof(kNoticeImageGuids[0]);

}  // namespace

const EFI_GUID &NoticeImageGuid(UINT8 NoticeMode) {
  // Out of range: the first picture (its table row, so the image holds one copy of the name).
  if (NoticeMode < 1 || NoticeMode > kNoticeImageCount) return kNoticeImageGuids[0];
  return kNoticeImageGuids[NoticeMode - 1];
}

EFI_STATUS GetBitMapFromFV(const EFI_GUID *FileGuid, void **Picture, UINTN *PictureSize) {
  EFI_BOOT_SERVICES *boot_services = gDriver.BootServices;
  UINTN handle_count = 0;
  EFI_HANDLE *handles = nullptr;
  // A success without a handle buffer counts as no volumes.
  if (EFI_ERROR(boot_services->LocateHandleBuffer(ByProtocol, &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, nullptr,
                                                  &handle_count, &handles)) ||
      handles == nullptr) {
    return EFI_NOT_FOUND;
  }

  EFI_STATUS result = EFI_NOT_FOUND;
  for (UINTN index = 0; index < handle_count; ++index) {
    void *interface = nullptr;
    if (EFI_ERROR(boot_services->HandleProtocol(handles[index], &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, &interface)) ||
        interface == nullptr) {
      continue;
    }
    const EFI_FIRMWARE_VOLUME2_PROTOCOL *volume = static_cast<const EFI_FIRMWARE_VOLUME2_PROTOCOL *>(interface);
    UINT32 authentication_status = 0;
    // Empty slots for every volume: what a volume that failed left there must
    // not become the next volume's buffer (it would copy into it and warn).
    *Picture = nullptr;
    *PictureSize = 0;
    const EFI_STATUS status =
        volume->ReadSection(volume, FileGuid, EFI_SECTION_RAW, 0, Picture, PictureSize, &authentication_status);
    // The first volume that has the file, or that cannot hand it over whole,
    // ends the search. Only a plain success delivers the whole picture.
    if (status == EFI_SUCCESS || status == EFI_BUFFER_TOO_SMALL) {
      result = status;
      break;
    }
  }

  boot_services->FreePool(handles);
  return result;
}
