// Addresses of the trace hub's software channels.
//
// Every master from 16 upward has 128 channels; each channel is a 64-byte
// block of write-only registers, the blocks of all masters and channels lying
// one after another from TraceHubBase.
#pragma once

#include "efi/efi_types.h"

// The driver's own channel.
constexpr UINT32 kTraceMaster = 72;
constexpr UINT32 kTraceChannel = 14;

// Register offsets inside a channel's block; a store to each makes one packet.
constexpr UINTN kTraceRegisterData = 0x00;               // plain data
constexpr UINTN kTraceRegisterDataStamped = 0x10;        // data with time stamp
constexpr UINTN kTraceRegisterDataMarkedStamped = 0x18;  // data with marker and time stamp
constexpr UINTN kTraceRegisterFlag = 0x30;               // flag (value 0)

// Stores TraceHubBase + ((Master * 128 - 2048 + Channel) mod 2^32) * 64 through
// Address. Masters below 16 and channels above 127 are not rejected: the sum is
// taken as it comes. Returns EFI_INVALID_PARAMETER, storing nothing, when
// Address is empty.
EFI_STATUS TraceChannelAddress(UINT32 Master, UINT32 Channel, UINT64 *Address);

// The register block of Master/Channel as a pointer (never empty: the address
// computation cannot fail for a valid out slot).
void *TraceChannelMmio(UINT32 Master, UINT32 Channel);
