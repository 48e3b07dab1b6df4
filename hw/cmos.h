// The boot-progress marker in the extended CMOS bank (index port 0x72,
// data port 0x73), byte 0x30: other firmware reads it to learn whether a
// notice started (0x00) and finished (0xAA).
#pragma once

#include "efi/efi_types.h"

inline constexpr UINT16 kCmosExtendedIndexPort = 0x72;
inline constexpr UINT16 kCmosExtendedDataPort = 0x73;
inline constexpr UINT8 kCmosNoticeMarkerIndex = 0x30;
inline constexpr UINT8 kCmosNoticeStarted = 0x00;
inline constexpr UINT8 kCmosNoticeFinished = 0xAA;

// Writes the marker index to port 0x72, then Value to port 0x73.
void WriteCmosNoticeMarker(UINT8 Value);
