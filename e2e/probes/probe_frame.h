// The frame every protection probe shares. A probe is a boot-service driver
// that breaks one memory-protection rule, run either loaded from disk (by the
// probe loader) or dispatched from the firmware volume, which carries all of
// them: a probe acts only when the byte read from kProbeSelectPort is its own
// number, PROBE_NUMBER, and otherwise returns EFI_UNSUPPORTED at once. It
// reports on COM1:
//
//   E2E ProbeBegin
//   E2E Cr0/Cr4/Efer/MemoryAttributeProtocol ...   the paging state
//   E2E Probe.ImageBase, E2E Probe<section>.Flags/.Pages/.Attributes ...   its own sections
//   E2E Target.Pages/.Attributes 0x...   the page it is about to break the rule on
//   E2E Breaking 0x<address>             the address it writes to or calls
//   E2E Survived                         the firmware let it
//
// and powers the machine off. Where the firmware enforces the rule the
// processor faults at <address> instead, and "Survived" never comes.
#pragma once

#include "efi/efi.h"

// Each probe image defines it: breaks the image's one rule through one of the
// three below.
void BreakRule();

// Writes the byte at Target back onto itself: a write that changes nothing,
// into pages that may be read-only.
void WriteByteAt(const void *Target);

// Calls the RET instruction at Code: runs code from wherever Code lies.
void CallCodeAt(const void *Code);

// Stores a RET instruction at Buffer and calls it.
void CallReturnAt(volatile UINT8 *Buffer);
