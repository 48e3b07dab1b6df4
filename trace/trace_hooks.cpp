#include "trace/trace_hooks.h"

#include "core/driver_state.h"
#include "hw/hw_access.h"
#include "trace/trace_channel.h"

namespace {

// The address of one register of the handle's channel, or 0 when the handle
// is bound to no channel.
UINTN ChannelRegister(const TraceHandle *Handle, UINTN Offset) {
  if (Handle->ChannelMmio == nullptr) return 0;
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
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterDataStamped)) MmioWrite32(reg, Value);
}

void EFIAPI TraceWrite32MarkStamped(TraceHandle *Handle, UINT32 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterDataMarkedStamped)) MmioWrite32(reg, Value);
}

void EFIAPI TraceWrite64MarkStamped(TraceHandle *Handle, UINT64 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterDataMarkedStamped)) MmioWrite64(reg, Value);
}

void EFIAPI TraceWrite8(TraceHandle *Handle, UINT8 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterData)) MmioWrite8(reg, Value);
}

void EFIAPI TraceWrite16(TraceHandle *Handle, UINT16 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterData)) MmioWrite16(reg, Value);
}

void EFIAPI TraceWrite32(TraceHandle *Handle, UINT32 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterData)) MmioWrite32(reg, Value);
}

void EFIAPI TraceWrite64(TraceHandle *Handle, UINT64 Value) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterData)) MmioWrite64(reg, Value);
}

void EFIAPI TraceWriteEndFlag(TraceHandle *Handle) {
  if (UINTN reg = ChannelRegister(Handle, kTraceRegisterFlag)) MmioWrite32(reg, 0);
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
