// The few C runtime routines the compiler emits calls to, for the image only
// (host builds use the C library's). String instructions keep them small.
#include <stddef.h>

extern "C" {

void *memcpy(void *destination, const void *source, size_t length) {
  void *d = destination;
  __asm__ __volatile__("rep movsb" : "+D"(d), "+S"(source), "+c"(length) : : "memory");
  return destination;
}

void *memset(void *destination, int value, size_t length) {
  void *d = destination;
  __asm__ __volatile__("rep stosb" : "+D"(d), "+c"(length) : "a"(value) : "memory");
  return destination;
}

}  // extern "C"
