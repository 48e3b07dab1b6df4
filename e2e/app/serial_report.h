// Report lines written straight to the first serial port (COM1), so that the
// host sees them whole and apart from the firmware's console mirror.
//
// Every line has the form "E2E <Step> 0x<hex status>" (or "E2E <Step>" alone),
// starting on a fresh line.
#pragma once

#include "efi/efi.h"

// Writes "E2E <step> 0x<status in hex>".
void ReportStatus(const char *Step, EFI_STATUS Status);

// Writes "E2E <step> 0x<value in hex>" for a value that is not a status.
inline void ReportValue(const char *Step, UINT64 Value) { ReportStatus(Step, Value); }

// Writes "E2E <step>".
void ReportStep(const char *Step);

// Writes "E2E <step>", then polls COM1's receiver for one byte from the host
// for at most TimeoutMs milliseconds. Returns success with the byte, or
// time-out.
EFI_STATUS AskHostAndWait(const char *Step, UINTN TimeoutMs, UINT8 *Byte);
