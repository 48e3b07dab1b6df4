// Counting the handles that carry a protocol, and the storage protocols the
// firmware's own drivers install on a controller they have started.
#pragma once

#include "efi/efi.h"

inline constexpr EFI_GUID kNvmExpressPassThruProtocolGuid = {
    0x52C78312, 0x8EDC, 0x4233, {0x98, 0xF2, 0x1A, 0x1A, 0xA5, 0xE3, 0x88, 0xA5}};
inline constexpr EFI_GUID kAtaPassThruProtocolGuid = {
    0x1D3DE7F0, 0x0807, 0x424F, {0xAA, 0x69, 0x11, 0xA5, 0x4E, 0x19, 0xA4, 0x6F}};

// Handles carrying the protocol; 0 when the firmware finds none or refuses the search.
UINTN CountProtocolHandles(const EFI_GUID *Protocol);
