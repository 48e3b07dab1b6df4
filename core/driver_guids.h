// Identifiers that belong to this driver rather than to UEFI or PI.
#pragma once

#include "efi/efi_types.h"

// Installing any interface of this protocol starts a notice.
inline constexpr EFI_GUID NoticeTriggerProtocolGuid = {
    0xEF9A3971, 0xC1A0, 0x4A93, {0xBD, 0x40, 0x5A, 0xA1, 0x65, 0xF2, 0xDC, 0x3A}};

// GUID-extension HOB that carries the trace-hub base address.
inline constexpr EFI_GUID TraceHubInfoHobGuid = {
    0xF1187E54, 0x995F, 0x49D9, {0xAC, 0xEE, 0xC5, 0x34, 0xF4, 0x5A, 0x18, 0xC7}};
