// The records of the trace channel: the header that holds the hooks shared by
// all handles, the handle of one message origin, the origin given when a
// handle is made, and one entry of a scatter program.
//
// Other firmware modules may hold a handle and call through its header, so
// every hook uses the firmware's calling convention (EFIAPI), as the firmware
// tables do.
#pragma once

#include "efi/efi_types.h"

struct TraceHeader;
struct TraceHandle;
struct TraceScatterEntry;

typedef void(EFIAPI *TraceHandleHook)(TraceHandle *Handle);
typedef void(EFIAPI *TraceScatterWriter)(TraceHandle *Handle, const TraceScatterEntry *Program, const void *Descriptor);
typedef void(EFIAPI *TraceWrite8Hook)(TraceHandle *Handle, UINT8 Value);
typedef void(EFIAPI *TraceWrite16Hook)(TraceHandle *Handle, UINT16 Value);
typedef void(EFIAPI *TraceWrite32Hook)(TraceHandle *Handle, UINT32 Value);
typedef void(EFIAPI *TraceWrite64Hook)(TraceHandle *Handle, UINT64 Value);

// Fills a header's hook table; called as Filler(Header, Argument).
typedef void(EFIAPI *TraceHookFiller)(TraceHeader *Header, UINT64 Argument);

struct TraceHeader {
  UINT32 Version = 0;
  TraceHandleHook InitHandle = nullptr;
  TraceHandleHook ReleaseHandle = nullptr;
  TraceScatterWriter Writer = nullptr;
  TraceWrite32Hook Write32Stamped = nullptr;
  TraceWrite32Hook Write32MarkStamped = nullptr;
  TraceWrite64Hook Write64MarkStamped = nullptr;
  TraceWrite8Hook Write8 = nullptr;
  TraceWrite16Hook Write16 = nullptr;
  TraceWrite32Hook Write32 = nullptr;
  TraceWrite64Hook Write64 = nullptr;
  TraceHandleHook WriteEndFlag = nullptr;
};
static_assert(offsetof(TraceHeader, InitHandle) == 8, "hook table follows the version word");
static_assert(offsetof(TraceHeader, WriteEndFlag) == 8 + 10 * sizeof(void *), "eleven hook slots");

// Version word set by TraceHeaderInit.
constexpr UINT32 kTraceHeaderVersion = 0x10000;

// Handle flag: the handle's storage came from pool.
constexpr UINT32 kTraceHandleFromPool = 1u << 0;

// Bits of the handle's message-header template (Tag).
constexpr UINT32 kTraceTagChecksum = 1u << 10;
constexpr UINT32 kTraceTagUnitShift = 12;
constexpr UINT32 kTraceTagUnitMask = 0x7FFu << kTraceTagUnitShift;
constexpr UINT32 kTraceTagOriginGuid = 1u << 23;

struct TraceHandle {
  TraceHeader *Header;
  UINT32 Flags;
  UINT32 Tag;
  EFI_GUID OriginGuid;
  UINT32 Master;
  UINT32 Channel;
  // The channel's register block; empty while the handle is bound to no channel.
  void *ChannelMmio;
};
static_assert(offsetof(TraceHandle, Flags) == 8 && offsetof(TraceHandle, Tag) == 12, "handle layout");
static_assert(offsetof(TraceHandle, OriginGuid) == 16 && offsetof(TraceHandle, Master) == 32, "handle layout");
static_assert(offsetof(TraceHandle, Channel) == 36 && offsetof(TraceHandle, ChannelMmio) == 40, "handle layout");

// The origin of a handle's messages. Byte 8 of the GUID selects the form: top
// bit set, a full GUID; clear, a short origin whose module number is its low 7 bits.
struct TraceOrigin {
  EFI_GUID OriginGuid;
  UINT16 Unit;
};

// One 4-byte entry of a scatter program.
struct TraceScatterEntry {
  UINT8 Opcode;
  UINT8 Offset;  // bytes from the start of the message descriptor
  UINT16 Count;  // items for opcodes 1, 2, 4, 8; bytes for opcode 16
};
static_assert(sizeof(TraceScatterEntry) == 4, "scatter entries are 4 bytes");

// Opcodes 1, 2, 4 and 8 send Count items of that many bytes from the descriptor.
constexpr UINT8 kTraceScatter8 = 1;
constexpr UINT8 kTraceScatter16 = 2;
constexpr UINT8 kTraceScatter32 = 4;
constexpr UINT8 kTraceScatter64 = 8;
// The descriptor holds a 64-bit pointer to Count bytes of data.
constexpr UINT8 kTraceScatterBlob = 16;
// Ends the program; of this entry only the opcode byte is read.
constexpr UINT8 kTraceScatterEnd = 0xFF;
