// Registration of the end-of-DXE and trigger notifications.
#include "base/driver_state.h"
#include "core/driver.h"
#include "core/driver_guids.h"

EFI_STATUS NoticeDriverInit(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  EFI_BOOT_SERVICES *bs = gDriver.BootServices;

  // The end-of-DXE event is never closed, so its handle is not kept.
  EFI_EVENT end_of_dxe = nullptr;
  bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnEndOfDxe, nullptr, &EFI_END_OF_DXE_EVENT_GROUP_GUID,
                    &end_of_dxe);

  EFI_STATUS status = bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnNoticeTrigger, nullptr, &gDriver.TriggerEvent);
  if (EFI_ERROR(status)) return EFI_SUCCESS;

  // Signalled at each later installation of the trigger protocol; one installed
  // before this point does not start a notice.
  bs->RegisterProtocolNotify(&NoticeTriggerProtocolGuid, gDriver.TriggerEvent, &gDriver.TriggerRegistration);
  return EFI_SUCCESS;
}
