// Base types of the UEFI and PI interfaces, written for x86-64.
//
// Every firmware table the driver calls is declared in this folder from the
// public UEFI 2.x and PI 1.x layouts. Function pointers carry EFIAPI, the
// Microsoft x64 calling convention, so the image and the host tests call the
// very same declarations.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define EFIAPI __attribute__((ms_abi))

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

typedef UINTN EFI_STATUS;
typedef void *EFI_HANDLE;
typedef void *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

static_assert(sizeof(void *) == 8, "the driver is built for x86-64 only");
static_assert(sizeof(CHAR16) == 2, "console and variable text is UCS-2");
static_assert(sizeof(BOOLEAN) == 1, "BOOLEAN is one byte");

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16, "GUID layout");
static_assert(offsetof(EFI_GUID, Data4) == 8, "GUID layout");

// Compares all 16 bytes, as two 8-byte words (either GUID may be unaligned).
inline bool GuidEquals(const EFI_GUID &a, const EFI_GUID &b) {
  UINT64 words_a[2];
  UINT64 words_b[2];
  __builtin_memcpy(words_a, &a, sizeof(words_a));
  __builtin_memcpy(words_b, &b, sizeof(words_b));
  return ((words_a[0] ^ words_b[0]) | (words_a[1] ^ words_b[1])) == 0;
}

// Status codes: the top bit marks an error.
constexpr EFI_STATUS kEfiErrorBit = 0x8000000000000000ULL;
constexpr bool EFI_ERROR(EFI_STATUS status) { return (status & kEfiErrorBit) != 0; }
constexpr EFI_STATUS EfiErrorCode(UINT64 code) { return kEfiErrorBit | code; }

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR = EfiErrorCode(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiErrorCode(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EfiErrorCode(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EfiErrorCode(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiErrorCode(5);
constexpr EFI_STATUS EFI_NOT_READY = EfiErrorCode(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiErrorCode(7);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiErrorCode(9);
constexpr EFI_STATUS EFI_NOT_FOUND = EfiErrorCode(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = EfiErrorCode(15);
constexpr EFI_STATUS EFI_TIMEOUT = EfiErrorCode(18);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EfiErrorCode(26);

// Warnings: the top bit is clear.
constexpr EFI_STATUS EFI_WARN_BUFFER_TOO_SMALL = 4;

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24, "table header layout");

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME layout");
static_assert(offsetof(EFI_TIME, Month) == 2 && offsetof(EFI_TIME, Day) == 3, "EFI_TIME layout");
static_assert(offsetof(EFI_TIME, Hour) == 4 && offsetof(EFI_TIME, Minute) == 5, "EFI_TIME layout");
static_assert(offsetof(EFI_TIME, Nanosecond) == 8 && offsetof(EFI_TIME, TimeZone) == 12, "EFI_TIME layout");

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};

typedef void(EFIAPI *EFI_EVENT_NOTIFY)(EFI_EVENT Event, void *Context);
