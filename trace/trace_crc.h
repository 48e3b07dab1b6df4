// Streaming CRC-32C (Castagnoli, reflected polynomial 0x82F63B78) for trace
// messages: the register starts at kTraceCrcPreset, takes bytes one at a time
// and is complemented when sent.
#pragma once

#include "efi/efi_types.h"

constexpr UINT32 kTraceCrcPreset = 0xFFFFFFFFu;

// Builds the lookup table unless it is already built. Cheap once built.
void TraceCrcPrepareTable();

// Feeds the low Bytes bytes of Value to the register, least significant byte
// first, and returns the new register. The table must be prepared.
UINT32 TraceCrcAdd(UINT32 Crc, UINT64 Value, UINTN Bytes);
