#include "core/storage_probe.h"

#include "base/calling_convention.h"
#include "base/driver_state.h"
#include "core/driver.h"

namespace {

bool IsMassStorageWithSubclass(EFI_BOOT_SERVICES *bs, EFI_HANDLE handle, UINT8 subclass) {
  EFI_PCI_IO_PROTOCOL *pci_io = nullptr;
  if (EFI_ERROR(bs->HandleProtocol(handle, &EFI_PCI_IO_PROTOCOL_GUID, reinterpret_cast<void **>(&pci_io)))) {
    return false;
  }
  UINT32 class_dword = 0;
  if (EFI_ERROR(pci_io->Pci.Read(pci_io, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &class_dword))) {
    return false;
  }
  const UINT8 base_class = static_cast<UINT8>(class_dword >> 24);
  const UINT8 sub_class = static_cast<UINT8>(class_dword >> 16);
  return base_class == kPciClassMassStorage && sub_class == subclass;
}

// Connects every controller in the list, releases the list and marks storage present.
NOTICE_INTERNAL_CALL bool ConnectStorage(UINT8 subclass) {
  EFI_BOOT_SERVICES *bs = gDriver.BootServices;
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(FindMassStorageControllers(subclass, &count, &handles))) return false;

  for (UINTN i = 0; i < count; ++i) {
    bs->ConnectController(handles[i], nullptr, nullptr, 1);
  }
  bs->FreePool(handles);
  gDriver.StorageAbsent = 0;
  return true;
}

}  // namespace

EFI_STATUS FindMassStorageControllers(UINT8 Subclass, UINTN *Count, EFI_HANDLE **Handles) {
  if (Count == nullptr || Handles == nullptr) return EFI_INVALID_PARAMETER;

  EFI_BOOT_SERVICES *bs = gDriver.BootServices;
  UINTN handle_count = 0;
  EFI_HANDLE *buffer = nullptr;
  EFI_STATUS status = bs->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &handle_count, &buffer);
  if (EFI_ERROR(status)) return status;

  *Count = 0;
  // A success without a handle buffer counts as no handles.
  if (buffer == nullptr) return EFI_NOT_FOUND;
  for (UINTN i = 0; i < handle_count; ++i) {
    if (IsMassStorageWithSubclass(bs, buffer[i], Subclass)) buffer[(*Count)++] = buffer[i];
  }

  if (*Count > 0) {
    *Handles = buffer;
    return EFI_SUCCESS;
  }
  bs->FreePool(buffer);
  return EFI_NOT_FOUND;
}

void EFIAPI OnEndOfDxe(EFI_EVENT, void *) {
  // NVM Express is preferred; SATA controllers are looked for only without one.
  if (ConnectStorage(kPciSubclassNvm)) return;
  ConnectStorage(kPciSubclassSata);
}
