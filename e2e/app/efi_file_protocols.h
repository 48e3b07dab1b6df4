// The loaded-image, simple-file-system, file and device-path interfaces the
// test application uses to read files from the volume it was booted from.
// Only the application needs them, so they live beside it.
#pragma once

#include "efi/efi_boot_services.h"
#include "efi/efi_types.h"

// Service tables keep the layout of the UEFI and PI specifications' own
// declarations: one member a line, arguments wrapped under the first.
// clang-format off

struct EFI_SYSTEM_TABLE;

inline constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID EFI_DEVICE_PATH_PROTOCOL_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  void *Reserved;
  UINT32 LoadOptionsSize;
  void *LoadOptions;
  void *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_STATUS(EFIAPI *Unload)(EFI_HANDLE ImageHandle);
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "loaded image layout");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32, "loaded image layout");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64, "loaded image layout");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80, "loaded image layout");
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "loaded image size");

constexpr UINT64 EFI_FILE_MODE_READ = 0x0000000000000001ULL;

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *Open)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, const CHAR16 *FileName,
                           UINT64 OpenMode, UINT64 Attributes);
  EFI_STATUS(EFIAPI *Close)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Delete)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Read)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, void *Buffer);
  EFI_STATUS(EFIAPI *Write)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, void *Buffer);
  EFI_STATUS(EFIAPI *GetPosition)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
  EFI_STATUS(EFIAPI *SetPosition)(EFI_FILE_PROTOCOL *This, UINT64 Position);
  // GetInfo, SetInfo, Flush and the revision-2 services are not used.
  void *GetInfo;
  void *SetInfo;
  void *Flush;
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32, "file protocol layout");
static_assert(offsetof(EFI_FILE_PROTOCOL, GetPosition) == 48, "file protocol layout");
static_assert(offsetof(EFI_FILE_PROTOCOL, SetPosition) == 56, "file protocol layout");

// Setting this position moves a file to its end.
constexpr UINT64 EFI_FILE_POSITION_END = 0xFFFFFFFFFFFFFFFFULL;

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);
};
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8, "simple file system layout");
// clang-format on
