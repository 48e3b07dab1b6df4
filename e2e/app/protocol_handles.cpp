#include "e2e/app/protocol_handles.h"

#include "e2e/app/app_state.h"

UINTN CountProtocolHandles(const EFI_GUID *Protocol) {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gApp.BootServices->LocateHandleBuffer(ByProtocol, Protocol, nullptr, &count, &handles))) return 0;
  if (handles != nullptr) gApp.BootServices->FreePool(handles);
  return count;
}
