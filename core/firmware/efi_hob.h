// Hand-off block (HOB) list headers (PI volume 3).
#pragma once

#include "core/firmware/efi_types.h"

constexpr UINT16 EFI_HOB_TYPE_GUID_EXTENSION = 0x0004;
constexpr UINT16 EFI_HOB_TYPE_END_OF_HOB_LIST = 0xFFFF;

struct EFI_HOB_GENERIC_HEADER {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "HOB header size");

struct EFI_HOB_GUID_TYPE {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  // GUID-specific data follows.
};
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "GUID extension HOB header size");
static_assert(offsetof(EFI_HOB_GUID_TYPE, Name) == 8, "GUID extension HOB name");
