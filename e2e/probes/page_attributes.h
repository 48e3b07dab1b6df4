// What protects a page, read two ways: from the processor's own page tables
// (works on every firmware) and from the memory attribute protocol (where the
// firmware installs it). Both are given as UEFI memory attribute bits:
// EFI_MEMORY_RP for a page that is not mapped, EFI_MEMORY_RO for one mapped
// read-only, EFI_MEMORY_XP for one mapped non-executable.
#pragma once

#include "efi/efi.h"

// The attribute bits the page tables give the page holding Address. Read-only
// and non-executable take effect only with CR0.WP and EFER.NXE set
// (ReportPagingState reports both).
UINT64 PageTableAttributes(UINTN Address);

// Reports CR0, CR4, EFER and whether the memory attribute protocol is there:
// "E2E Cr0 0x...", "E2E Cr4 0x...", "E2E Efer 0x...",
// "E2E MemoryAttributeProtocol 0x<LocateProtocol status>".
void ReportPagingState();

// Reports the page holding Address as "E2E <Step>.Pages 0x<bits>" from the
// page tables and, with the protocol, "E2E <Step>.Attributes 0x<bits>" (or
// "E2E <Step>.AttributesStatus 0x<status>" when it refuses).
void ReportPage(const char *Step, UINTN Address);
