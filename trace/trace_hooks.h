// The hooks a trace header holds: binding a handle to the driver's channel,
// releasing it, and the eight output hooks. Each output hook is exactly one
// MMIO store of its width to one register of the handle's channel.
#pragma once

#include "trace/trace_records.h"

// Binds the handle to master 72, channel 14. With no trace hub (TraceHubBase
// 0) the handle is bound to no channel: ChannelMmio stays empty, so its output
// hooks store nothing for the handle's whole life. No register is touched.
void EFIAPI TraceHandleInitHook(TraceHandle *Handle);

// Releasing a handle needs no work.
void EFIAPI TraceHandleReleaseHook(TraceHandle *Handle);

// Output hooks. A handle whose ChannelMmio is empty (bound to no channel, or
// never bound) gets no store at all: its register block would lie at the
// bottom of physical memory.
void EFIAPI TraceWrite32Stamped(TraceHandle *Handle, UINT32 Value);      // 32 bits at 0x10
void EFIAPI TraceWrite32MarkStamped(TraceHandle *Handle, UINT32 Value);  // 32 bits at 0x18
void EFIAPI TraceWrite64MarkStamped(TraceHandle *Handle, UINT64 Value);  // 64 bits at 0x18
void EFIAPI TraceWrite8(TraceHandle *Handle, UINT8 Value);               // 8 bits at 0x00
void EFIAPI TraceWrite16(TraceHandle *Handle, UINT16 Value);             // 16 bits at 0x00
void EFIAPI TraceWrite32(TraceHandle *Handle, UINT32 Value);             // 32 bits at 0x00
void EFIAPI TraceWrite64(TraceHandle *Handle, UINT64 Value);             // 64 bits at 0x00
void EFIAPI TraceWriteEndFlag(TraceHandle *Handle);                      // 32 bits of 0 at 0x30

// Fills every hook slot except Writer (set by TraceHeaderInit) and leaves the
// version word alone. The argument is not used.
void EFIAPI TraceHookTableInit(TraceHeader *Header, UINT64 Argument);
