// The hardware seam: the only way driver code touches the machine directly.
//
// The driver image links hw/x86/hw_access_x86.cpp, which executes the real
// instructions; host builds link the simulated machine in sim/machine/ instead.
// Every function here is one instruction's worth of work: no function
// splits, merges, repeats or reads back an access.
#pragma once

#include "efi/efi_types.h"

struct CpuidResult {
  UINT32 Eax;
  UINT32 Ebx;
  UINT32 Ecx;
  UINT32 Edx;
};

// 8-bit x86 port I/O.
UINT8 IoRead8(UINT16 Port);
void IoWrite8(UINT16 Port, UINT8 Value);

// CPUID with EAX = Leaf; the sub-leaf register (ECX) is left as it is.
CpuidResult Cpuid(UINT32 Leaf);

// A plain, unserialised read of the timestamp counter.
UINT64 ReadTimestampCounter();

// The processor's spin-wait hint (PAUSE).
void CpuPause();

// Single stores of their full width to a memory-mapped register.
void MmioWrite8(UINTN Address, UINT8 Value);
void MmioWrite16(UINTN Address, UINT16 Value);
void MmioWrite32(UINTN Address, UINT32 Value);
void MmioWrite64(UINTN Address, UINT64 Value);
