// The EFI_BOOT_SERVICES table of the simulated platform: each slot is bound
// to the Platform member that serves it (sim/thunk.h makes the thunks).
#include <cstring>

#include "sim/thunk.h"

namespace sim {

namespace {

// --- what a few services do beyond forwarding ---------------------------------------

EFI_STATUS AllocatePoolNumbered(Platform &platform, EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  return platform.DoAllocatePool(type, size, buffer, platform.CallCount("AllocatePool"));
}

// CreateEvent is CreateEventEx in no group.
EFI_STATUS CreateEventInNoGroup(Platform &platform, UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, void *context,
                                EFI_EVENT *event) {
  return platform.DoCreateEvent(type, tpl, notify, context, nullptr, event);
}

EFI_STATUS InstallNativeInterface(Platform &platform, EFI_HANDLE *handle, const EFI_GUID *protocol,
                                  EFI_INTERFACE_TYPE interface_type, void *interface) {
  if (interface_type != EFI_NATIVE_INTERFACE) return EFI_INVALID_PARAMETER;
  return platform.DoInstallProtocolInterface(handle, protocol, interface);
}

EFI_STATUS AcceptWatchdog(Platform &, UINTN, UINT64, UINTN) { return EFI_SUCCESS; }

void CopyMemory(Platform &, void *destination, void *source, UINTN length) {
  std::memmove(destination, source, length);
}

void SetMemory(Platform &, void *buffer, UINTN size, UINT8 value) { std::memset(buffer, value, size); }

// --- hand-written: RaiseTPL returns the previous TPL, not a status -------------------

EFI_TPL EFIAPI RaiseTplThunk(EFI_TPL tpl) {
  Platform &platform = Platform::Active();
  Platform::Call call = platform.BeginCall("RaiseTPL", {{"NewTpl", DecText(tpl)}});
  EFI_TPL old = platform.DoRaiseTpl(tpl);
  call.AddField("OldTpl", DecText(old));
  call.FinishVoid();
  return old;
}

}  // namespace

void Platform::FillBootServices() {
  EFI_BOOT_SERVICES &bs = boot_services_;
  FillHeader(bs, EFI_BOOT_SERVICES_SIGNATURE, system_table_.Hdr.Revision);
  bs.Reserved = nullptr;

  // --- services the driver uses ---------------------------------------------------------
  bs.RaiseTPL = RaiseTplThunk;
  Bind<"RestoreTPL", &Platform::DoRestoreTpl, Arg<"OldTpl", DecText>>(bs.RestoreTPL);
  Bind<"AllocatePool", AllocatePoolNumbered, Arg<"PoolType", DecText>, Arg<"Size", DecText>, Out<"Buffer", Ptr>>(
      bs.AllocatePool);
  Bind<"FreePool", &Platform::DoFreePool, Arg<"Buffer", Ptr>>(bs.FreePool);
  Bind<"CreateEvent", CreateEventInNoGroup, Arg<"Type", HexText>, Arg<"NotifyTpl", DecText>, Unlogged,
       Arg<"NotifyContext", Ptr>, Out<"Event", Ptr>>(bs.CreateEvent);
  Bind<"CreateEventEx", &Platform::DoCreateEvent, Arg<"Type", HexText>, Arg<"NotifyTpl", DecText>, Unlogged,
       Arg<"NotifyContext", Ptr>, GuidArg<"EventGroup">, Out<"Event", Ptr>>(bs.CreateEventEx);
  Bind<"SignalEvent", &Platform::DoSignalEvent, Arg<"Event", Ptr>>(bs.SignalEvent);
  Bind<"CloseEvent", &Platform::DoCloseEvent, Arg<"Event", Ptr>>(bs.CloseEvent);
  Bind<"InstallProtocolInterface", InstallNativeInterface, Arg<"Handle", PtrAtOrNull>, GuidArg<"Protocol">, Unlogged,
       Arg<"Interface", Ptr>>(bs.InstallProtocolInterface);
  Bind<"UninstallProtocolInterface", &Platform::DoUninstallProtocolInterface, Arg<"Handle", Ptr>, GuidArg<"Protocol">,
       Unlogged>(bs.UninstallProtocolInterface);
  Bind<"HandleProtocol", &Platform::DoHandleProtocol, HandleArg<"Handle">, GuidArg<"Protocol">, OutSlot<"Interface">>(
      bs.HandleProtocol);
  Bind<"RegisterProtocolNotify", &Platform::DoRegisterProtocolNotify, GuidArg<"Protocol">, Arg<"Event", Ptr>,
       OutSlot<"Registration">>(bs.RegisterProtocolNotify);
  Bind<"LocateHandleBuffer", &Platform::DoLocateHandleBuffer, Arg<"SearchType", DecText>, GuidArg<"Protocol">,
       Arg<"SearchKey", Ptr>, Out<"NoHandles", DecText>, Out<"Buffer", Ptr>>(bs.LocateHandleBuffer);
  Bind<"LocateProtocol", &Platform::DoLocateProtocol, GuidArg<"Protocol">, Unlogged, OutSlot<"Interface">>(
      bs.LocateProtocol);
  Bind<"Stall", &Platform::DoStall, Arg<"Microseconds", DecText>>(bs.Stall);
  Bind<"SetWatchdogTimer", AcceptWatchdog, Arg<"Timeout", DecText>, Arg<"WatchdogCode", HexText>,
       Arg<"DataSize", DecText>, Unused>(bs.SetWatchdogTimer);
  Bind<"ConnectController", &Platform::DoConnectController, HandleArg<"ControllerHandle">,
       Arg<"DriverImageHandle", Ptr>, Arg<"RemainingDevicePath", Ptr>, Arg<"Recursive", DecText>>(bs.ConnectController);
  Bind<"CopyMem", CopyMemory, Unlogged, Unlogged, Arg<"Length", DecText>>(bs.CopyMem);
  Bind<"SetMem", SetMemory, Unlogged, Arg<"Size", DecText>, Arg<"Value", HexText>>(bs.SetMem);

  // --- services the driver never calls ------------------------------------------------------
  BindUnexpected<"AllocatePages">(bs.AllocatePages);
  BindUnexpected<"FreePages">(bs.FreePages);
  BindUnexpected<"GetMemoryMap">(bs.GetMemoryMap);
  BindUnexpected<"SetTimer">(bs.SetTimer);
  BindUnexpected<"WaitForEvent">(bs.WaitForEvent);
  BindUnexpected<"CheckEvent">(bs.CheckEvent);
  BindUnexpected<"ReinstallProtocolInterface">(bs.ReinstallProtocolInterface);
  BindUnexpected<"LocateHandle">(bs.LocateHandle);
  BindUnexpected<"LocateDevicePath">(bs.LocateDevicePath);
  BindUnexpected<"InstallConfigurationTable">(bs.InstallConfigurationTable);
  BindUnexpected<"LoadImage">(bs.LoadImage);
  BindUnexpected<"StartImage">(bs.StartImage);
  BindUnexpected<"Exit">(bs.Exit);
  BindUnexpected<"UnloadImage">(bs.UnloadImage);
  BindUnexpected<"ExitBootServices">(bs.ExitBootServices);
  BindUnexpected<"GetNextMonotonicCount">(bs.GetNextMonotonicCount);
  BindUnexpected<"DisconnectController">(bs.DisconnectController);
  BindUnexpected<"OpenProtocol">(bs.OpenProtocol);
  BindUnexpected<"CloseProtocol">(bs.CloseProtocol);
  BindUnexpected<"OpenProtocolInformation">(bs.OpenProtocolInformation);
  BindUnexpected<"ProtocolsPerHandle">(bs.ProtocolsPerHandle);
  BindUnexpected<"CalculateCrc32">(bs.CalculateCrc32);
  // The two variadic services share one name in the log, as they always have.
  bs.InstallMultipleProtocolInterfaces = UnexpectedPlainSlot<"InstallMultipleProtocolInterfaces">();
  bs.UninstallMultipleProtocolInterfaces = UnexpectedPlainSlot<"InstallMultipleProtocolInterfaces">();
}

}  // namespace sim
