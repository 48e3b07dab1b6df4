// EFI_RUNTIME_SERVICES, every slot in UEFI order.
#pragma once

#include "efi/efi_types.h"

// Service tables keep the layout of the UEFI and PI specifications' own
// declarations: one member a line, arguments wrapped under the first.
// clang-format off

enum EFI_RESET_TYPE : UINT32 { EfiResetCold = 0, EfiResetWarm = 1, EfiResetShutdown = 2 };

struct EFI_TIME_CAPABILITIES;
struct EFI_MEMORY_DESCRIPTOR;
struct EFI_CAPSULE_HEADER;

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;

  EFI_STATUS(EFIAPI *GetTime)(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities);
  EFI_STATUS(EFIAPI *SetTime)(EFI_TIME *Time);
  EFI_STATUS(EFIAPI *GetWakeupTime)(BOOLEAN *Enabled, BOOLEAN *Pending, EFI_TIME *Time);
  EFI_STATUS(EFIAPI *SetWakeupTime)(BOOLEAN Enable, EFI_TIME *Time);

  EFI_STATUS(EFIAPI *SetVirtualAddressMap)(UINTN MemoryMapSize, UINTN DescriptorSize, UINT32 DescriptorVersion,
                                           EFI_MEMORY_DESCRIPTOR *VirtualMap);
  EFI_STATUS(EFIAPI *ConvertPointer)(UINTN DebugDisposition, void **Address);

  EFI_STATUS(EFIAPI *GetVariable)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 *Attributes,
                                  UINTN *DataSize, void *Data);
  EFI_STATUS(EFIAPI *GetNextVariableName)(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid);
  EFI_STATUS(EFIAPI *SetVariable)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 Attributes,
                                  UINTN DataSize, void *Data);

  EFI_STATUS(EFIAPI *GetNextHighMonotonicCount)(UINT32 *HighCount);
  void(EFIAPI *ResetSystem)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize, void *ResetData);

  EFI_STATUS(EFIAPI *UpdateCapsule)(EFI_CAPSULE_HEADER **CapsuleHeaderArray, UINTN CapsuleCount,
                                    EFI_PHYSICAL_ADDRESS ScatterGatherList);
  EFI_STATUS(EFIAPI *QueryCapsuleCapabilities)(EFI_CAPSULE_HEADER **CapsuleHeaderArray, UINTN CapsuleCount,
                                               UINT64 *MaximumCapsuleSize, EFI_RESET_TYPE *ResetType);
  EFI_STATUS(EFIAPI *QueryVariableInfo)(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                        UINT64 *RemainingVariableStorageSize, UINT64 *MaximumVariableSize);
};

#define EFI_RT_SLOT(field, index) \
  static_assert(offsetof(EFI_RUNTIME_SERVICES, field) == 24 + 8 * (index), "EFI_RUNTIME_SERVICES." #field)
EFI_RT_SLOT(GetTime, 0);
EFI_RT_SLOT(SetTime, 1);
EFI_RT_SLOT(GetWakeupTime, 2);
EFI_RT_SLOT(SetWakeupTime, 3);
EFI_RT_SLOT(SetVirtualAddressMap, 4);
EFI_RT_SLOT(ConvertPointer, 5);
EFI_RT_SLOT(GetVariable, 6);
EFI_RT_SLOT(GetNextVariableName, 7);
EFI_RT_SLOT(SetVariable, 8);
EFI_RT_SLOT(GetNextHighMonotonicCount, 9);
EFI_RT_SLOT(ResetSystem, 10);
EFI_RT_SLOT(UpdateCapsule, 11);
EFI_RT_SLOT(QueryCapsuleCapabilities, 12);
EFI_RT_SLOT(QueryVariableInfo, 13);
#undef EFI_RT_SLOT
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 24 + 8 * 14, "EFI_RUNTIME_SERVICES size");
// clang-format on
