#include "trace/trace_hooks.h"

#include "base/driver_state.h"
#include "hw/hw_access.h"
#include "trace/trace_channel.h"

namespace {

// A handle bound to no channel gets no stores.
bool IsBound(const TraceHandle *Handle) { return Handle->ChannelMmio != nullptr; }

UINTN ChannelRegister(const TraceHandle *Handle, UINTN Offset) {
  return reinterpret_cast<UINTN>(Handle->ChannelMmio) + Offset;
}

}  // namespace

void EFIAPI TraceHandleInitHook(TraceHandle *Handle) {
  Handle->Master = kTraceMaster;
  Handle->Channel = kTraceChannel;
  // The address is fixed here for the handle's life; a base of 0 means there
  // is no trace hub, and a channel computed from it would be ordinary memory.
  Handle->ChannelMmio = gDriver.TraceHubBase == 0 ? nullptr : TraceChannelMmio(kTraceMaster, kTraceChannel);
}

void EFIAPI TraceHandleReleaseHook(TraceHandle *) {}

void EFIAPI TraceWrite32Stamped(TraceHandle *Handle, UINT32 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite32(ChannelRegister(Handle, kTraceRegisterDataStamped), Value);
}

void EFIAPI TraceWrite32MarkStamped(TraceHandle *Handle, UINT32 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite32(ChannelRegister(Handle, kTraceRegisterDataMarkedStamped), Value);
}

void EFIAPI TraceWrite64MarkStamped(TraceHandle *Handle, UINT64 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite64(ChannelRegister(Handle, kTraceRegisterDataMarkedStamped), Value);
}

void EFIAPI TraceWrite8(TraceHandle *Handle, UINT8 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite8(ChannelRegister(Handle, kTraceRegisterData), Value);
}

void EFIAPI TraceWrite16(TraceHandle *Handle, UINT16 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite16(ChannelRegister(Handle, kTraceRegisterData), Value);
}

void EFIAPI TraceWrite32(TraceHandle *Handle, UINT32 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite32(ChannelRegister(Handle, kTraceRegisterData), Value);
}

void EFIAPI TraceWrite64(TraceHandle *Handle, UINT64 Value) {
  if (!IsBound(Handle)) return;
  MmioWrite64(ChannelRegister(Handle, kTraceRegisterData), Value);
}

void EFIAPI TraceWriteEndFlag(TraceHandle *Handle) {
  if (!IsBound(Handle)) return;
  MmioWrite32(ChannelRegister(Handle, kTraceRegisterFlag), 0);
}

void EFIAPI TraceHookTableInit(TraceHeader *Header, UINT64) {
  Header->InitHandle = TraceHandleInitHook;
  Header->ReleaseHandle = TraceHandleReleaseHook;
  Header->Write32Stamped = TraceWrite32Stamped;
  Header->Write32MarkStamped = TraceWrite32MarkStamped;
  Header->Write64MarkStamped = TraceWrite64MarkStamped;
  Header->Write8 = TraceWrite8;
  Header->Write16 = TraceWrite16;
  Header->Write32 = TraceWrite32;
  Header->Write64 = TraceWrite64;
  Header->WriteEndFlag = TraceWriteEndFlag;
}
