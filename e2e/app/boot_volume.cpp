#include "e2e/app/boot_volume.h"

#include "e2e/app/app_state.h"

EFI_STATUS OpenBootVolume(EFI_FILE_PROTOCOL **Root) {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  EFI_LOADED_IMAGE_PROTOCOL *image = nullptr;
  EFI_STATUS status =
      bs->HandleProtocol(gApp.ImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, reinterpret_cast<void **>(&image));
  if (EFI_ERROR(status)) return status;

  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *file_system = nullptr;
  status = bs->HandleProtocol(image->DeviceHandle, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                              reinterpret_cast<void **>(&file_system));
  if (EFI_ERROR(status)) return status;
  return file_system->OpenVolume(file_system, Root);
}

namespace {

// The size of an open file: its position after a move to the end.
EFI_STATUS MeasureFile(EFI_FILE_PROTOCOL *File, UINTN *Size) {
  EFI_STATUS status = File->SetPosition(File, EFI_FILE_POSITION_END);
  if (EFI_ERROR(status)) return status;
  UINT64 end = 0;
  status = File->GetPosition(File, &end);
  if (EFI_ERROR(status)) return status;
  *Size = end;
  return File->SetPosition(File, 0);
}

EFI_STATUS ReadOpenFile(EFI_FILE_PROTOCOL *File, void **Buffer, UINTN *Size) {
  EFI_BOOT_SERVICES *bs = gApp.BootServices;
  UINTN size = 0;
  EFI_STATUS status = MeasureFile(File, &size);
  if (EFI_ERROR(status)) return status;

  void *buffer = nullptr;
  // A pool request of 0 bytes is allowed to fail; ask for at least one.
  status = bs->AllocatePool(EfiBootServicesData, size == 0 ? 1 : size, &buffer);
  if (EFI_ERROR(status)) return status;

  UINTN read = size;
  status = File->Read(File, &read, buffer);
  if (!EFI_ERROR(status) && read != size) status = EFI_DEVICE_ERROR;
  if (EFI_ERROR(status)) {
    bs->FreePool(buffer);
    return status;
  }
  *Buffer = buffer;
  *Size = size;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS ReadWholeFile(EFI_FILE_PROTOCOL *Root, const CHAR16 *Path, void **Buffer, UINTN *Size) {
  *Buffer = nullptr;
  *Size = 0;
  EFI_FILE_PROTOCOL *file = nullptr;
  EFI_STATUS status = Root->Open(Root, &file, Path, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR(status)) return status;
  status = ReadOpenFile(file, Buffer, Size);
  file->Close(file);
  return status;
}
