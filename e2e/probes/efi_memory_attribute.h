// The memory attribute protocol of UEFI 2.10 and the memory attribute bits it
// reports. Only the protection probes use it, so it lives beside them.
#pragma once

#include "efi/efi_types.h"

// clang-format off

inline constexpr EFI_GUID EFI_MEMORY_ATTRIBUTE_PROTOCOL_GUID = {
    0xF4560CF6, 0x40EC, 0x4B4A, {0xA1, 0x92, 0xBF, 0x1D, 0x57, 0xD0, 0xB1, 0x89}};

constexpr UINT64 EFI_MEMORY_RP = 0x0000000000002000ULL;  // not readable (here: not mapped)
constexpr UINT64 EFI_MEMORY_XP = 0x0000000000004000ULL;  // not executable
constexpr UINT64 EFI_MEMORY_RO = 0x0000000000020000ULL;  // not writable

struct EFI_MEMORY_ATTRIBUTE_PROTOCOL {
  EFI_STATUS(EFIAPI *GetMemoryAttributes)(EFI_MEMORY_ATTRIBUTE_PROTOCOL *This, EFI_PHYSICAL_ADDRESS BaseAddress,
                                          UINT64 Length, UINT64 *Attributes);
  EFI_STATUS(EFIAPI *SetMemoryAttributes)(EFI_MEMORY_ATTRIBUTE_PROTOCOL *This, EFI_PHYSICAL_ADDRESS BaseAddress,
                                          UINT64 Length, UINT64 Attributes);
  EFI_STATUS(EFIAPI *ClearMemoryAttributes)(EFI_MEMORY_ATTRIBUTE_PROTOCOL *This, EFI_PHYSICAL_ADDRESS BaseAddress,
                                            UINT64 Length, UINT64 Attributes);
};
static_assert(sizeof(EFI_MEMORY_ATTRIBUTE_PROTOCOL) == 24, "memory attribute protocol layout");

// clang-format on
