// Byte copy, fill and compare for driver code.
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
