// Stores to the decoder's output that do not first read the cache line in.
//
// The output is written once, is larger than the caches and is filled bottom
// row first, so ordinary stores would wait for every line to be read before
// overwriting it. MOVNTI is a non-temporal store from a general-purpose
// register: it needs no SSE state (the image is built without SSE, which some
// firmware leaves disabled). To ordinary memory it is an instruction choice of
// the compiler's kind, not a hardware access, so it sits here beside the
// decoder rather than behind the hardware seam in hw/.
//
// Sanitizer builds use plain stores, which the sanitizers can check; inline
// assembly is invisible to them.
#pragma once

#include "base/memory.h"
#include "efi/efi_types.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define NOTICE_PLAIN_STREAM_STORES 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || !defined(__x86_64__)
#define NOTICE_PLAIN_STREAM_STORES 1
#endif

// Stores 8 bytes at Destination (8-byte aligned for the store to stream).
inline void StreamStore64(void *Destination, UINT64 Value) {
#if defined(NOTICE_PLAIN_STREAM_STORES)
  CopyBytes(Destination, &Value, sizeof(Value));
#else
  __asm__ __volatile__("movntiq %1, %0" : "=m"(*static_cast<UINT64 *>(Destination)) : "r"(Value));
#endif
}

// Stores 4 bytes at Destination (4-byte aligned).
inline void StreamStore32(void *Destination, UINT32 Value) {
#if defined(NOTICE_PLAIN_STREAM_STORES)
  CopyBytes(Destination, &Value, sizeof(Value));
#else
  __asm__ __volatile__("movntil %1, %0" : "=m"(*static_cast<UINT32 *>(Destination)) : "r"(Value));
#endif
}

// Orders the streaming stores before whatever reads the output next (SFENCE).
inline void FinishStreaming() {
#if defined(__x86_64__)
  __asm__ __volatile__("sfence" : : : "memory");
#endif
}
