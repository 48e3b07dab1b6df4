// Real-instruction implementation of the hardware seam, linked into the image.
#include "hw/hw_access.h"

UINT8 IoRead8(UINT16 Port) {
  UINT8 value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(Port) : "memory");
  return value;
}

void IoWrite8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port) : "memory"); }

CpuidResult Cpuid(UINT32 Leaf) {
  // ECX (the sub-leaf) is not loaded: the leaves the driver asks for have none.
  CpuidResult r;
  __asm__ __volatile__("cpuid" : "=a"(r.Eax), "=b"(r.Ebx), "=c"(r.Ecx), "=d"(r.Edx) : "a"(Leaf));
  return r;
}

UINT64 ReadTimestampCounter() {
  UINT32 lo, hi;
  __asm__ __volatile__("rdtsc" : "=a"(lo), "=d"(hi));
  return (static_cast<UINT64>(hi) << 32) | lo;
}

void CpuPause() { __asm__ __volatile__("pause" : : : "memory"); }

// Volatile stores of the full width; the compiler may neither split nor merge them.
void MmioWrite8(UINTN Address, UINT8 Value) { *reinterpret_cast<volatile UINT8 *>(Address) = Value; }
void MmioWrite16(UINTN Address, UINT16 Value) { *reinterpret_cast<volatile UINT16 *>(Address) = Value; }
void MmioWrite32(UINTN Address, UINT32 Value) { *reinterpret_cast<volatile UINT32 *>(Address) = Value; }
void MmioWrite64(UINTN Address, UINT64 Value) { *reinterpret_cast<volatile UINT64 *>(Address) = Value; }
