// EFI_FIRMWARE_VOLUME2_PROTOCOL (PI volume 3).
#pragma once

#include "efi/efi_types.h"

// Service tables keep the layout of the UEFI and PI specifications' own
// declarations: one member a line, arguments wrapped under the first.
// clang-format off

typedef UINT8 EFI_SECTION_TYPE;
typedef UINT8 EFI_FV_FILETYPE;
typedef UINT32 EFI_FV_FILE_ATTRIBUTES;
typedef UINT64 EFI_FV_ATTRIBUTES;

constexpr EFI_SECTION_TYPE EFI_SECTION_GUID_DEFINED = 0x02;
constexpr EFI_SECTION_TYPE EFI_SECTION_PE32 = 0x10;
constexpr EFI_SECTION_TYPE EFI_SECTION_DXE_DEPEX = 0x13;
constexpr EFI_SECTION_TYPE EFI_SECTION_USER_INTERFACE = 0x15;
constexpr EFI_SECTION_TYPE EFI_SECTION_FIRMWARE_VOLUME_IMAGE = 0x17;
constexpr EFI_SECTION_TYPE EFI_SECTION_RAW = 0x19;

struct EFI_FIRMWARE_VOLUME2_PROTOCOL;

struct EFI_FIRMWARE_VOLUME2_PROTOCOL {
  EFI_STATUS(EFIAPI *GetVolumeAttributes)(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, EFI_FV_ATTRIBUTES *FvAttributes);
  EFI_STATUS(EFIAPI *SetVolumeAttributes)(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, EFI_FV_ATTRIBUTES *FvAttributes);
  EFI_STATUS(EFIAPI *ReadFile)(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, void **Buffer,
                               UINTN *BufferSize, EFI_FV_FILETYPE *FoundType,
                               EFI_FV_FILE_ATTRIBUTES *FileAttributes, UINT32 *AuthenticationStatus);
  EFI_STATUS(EFIAPI *ReadSection)(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid,
                                  EFI_SECTION_TYPE SectionType, UINTN SectionInstance, void **Buffer,
                                  UINTN *BufferSize, UINT32 *AuthenticationStatus);
  void *WriteFile;
  void *GetNextFile;
  UINT32 KeySize;
  EFI_HANDLE ParentHandle;
  void *GetInfo;
  void *SetInfo;
};
static_assert(offsetof(EFI_FIRMWARE_VOLUME2_PROTOCOL, ReadSection) == 24, "FV2 ReadSection slot");
static_assert(offsetof(EFI_FIRMWARE_VOLUME2_PROTOCOL, KeySize) == 48, "FV2 KeySize");
static_assert(offsetof(EFI_FIRMWARE_VOLUME2_PROTOCOL, ParentHandle) == 56, "FV2 ParentHandle");
static_assert(sizeof(EFI_FIRMWARE_VOLUME2_PROTOCOL) == 80, "FV2 size");
// clang-format on
