// Register reads from the platform's embedded controller through its two
// I/O ports, with the read command of the ACPI embedded-controller interface.
//
//   port 0x66  read: status (bit 0 output buffer full, bit 1 input buffer full)
//              write: command
//   port 0x62  read/write: data byte
//
// Every wait polls the status at most 512 times with a one-millisecond
// TscDelay after each poll, so a wait gives up after about half a second.
#pragma once

#include "efi/efi_types.h"

inline constexpr UINT16 kEcDataPort = 0x62;
inline constexpr UINT16 kEcCommandPort = 0x66;
inline constexpr UINT8 kEcStatusOutputFull = 0x01;
inline constexpr UINT8 kEcStatusInputFull = 0x02;
inline constexpr UINT8 kEcReadCommand = 0x80;
inline constexpr UINTN kEcPollLimit = 512;

// Success once the input buffer is seen empty, time-out after 512 polls
// (a poll limit reached counts as time-out even if that last poll saw it empty).
EFI_STATUS EcWaitInputEmpty();

// Success once the output buffer is seen full, time-out after 512 polls (same rule).
EFI_STATUS EcWaitOutputFull();

// Reads one register. The waits' time-outs are not acted on: the sequence
// always runs to the end and Value is whatever the data port then returns.
// Always returns success.
EFI_STATUS EcRead(UINT8 Register, UINT8 *Value);
