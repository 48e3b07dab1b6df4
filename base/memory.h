// Byte copy, fill and compare, and little-endian reads, for driver code.
//
// They expand to the compiler's builtins: host builds reach the C library,
// the image reaches the small routines in base/runtime/compiler_runtime.cpp.
#pragma once

#include "efi/efi_types.h"

inline void CopyBytes(void *Destination, const void *Source, UINTN Length) {
  __builtin_memcpy(Destination, Source, Length);
}

inline void FillBytes(void *Destination, UINT8 Value, UINTN Length) { __builtin_memset(Destination, Value, Length); }

inline void ZeroBytes(void *Destination, UINTN Length) { __builtin_memset(Destination, 0, Length); }

inline bool BytesEqual(const void *a, const void *b, UINTN Length) {
  const UINT8 *pa = static_cast<const UINT8 *>(a);
  const UINT8 *pb = static_cast<const UINT8 *>(b);
  for (UINTN i = 0; i < Length; ++i) {
    if (pa[i] != pb[i]) return false;
  }
  return true;
}

// Multi-byte fields of firmware tables, pictures and trace records are
// little-endian, as the machine is: a read of a fixed width is one unaligned load.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian fields are read in the machine's byte order");

// The little-endian value of the Length bytes (at most 8) at Source, at any alignment.
inline UINT64 ReadLittleEndian(const void *Source, UINTN Length) {
  UINT64 value = 0;
  CopyBytes(&value, Source, Length);
  return value;
}

inline UINT16 ReadLe16(const void *Source) { return static_cast<UINT16>(ReadLittleEndian(Source, sizeof(UINT16))); }

inline UINT32 ReadLe32(const void *Source) { return static_cast<UINT32>(ReadLittleEndian(Source, sizeof(UINT32))); }

inline UINT64 ReadLe64(const void *Source) { return ReadLittleEndian(Source, sizeof(UINT64)); }
