// The EFI_BOOT_SERVICES table of the simulated platform: one EFIAPI thunk per
// slot, each logging the call and forwarding to the active Platform.
#include <cstring>

#include "sim/platform.h"

namespace sim {

namespace {

Platform &P() { return Platform::Active(); }

std::string Ptr(const void *p) { return HexText(reinterpret_cast<uintptr_t>(p)); }

std::string GuidOrNull(const EFI_GUID *guid) { return guid == nullptr ? "null" : GuidText(*guid); }

// --- services the driver uses -----------------------------------------------------

EFI_STATUS EFIAPI AllocatePoolThunk(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  Platform::Call call = P().BeginCall("AllocatePool", {{"PoolType", DecText(type)}, {"Size", DecText(size)}});
  if (call.forced()) return call.Finish(*call.forced());
  EFI_STATUS status = P().DoAllocatePool(type, size, buffer, P().CallCount("AllocatePool"));
  if (!EFI_ERROR(status)) call.AddField("Buffer", Ptr(*buffer));
  return call.Finish(status);
}

EFI_STATUS EFIAPI FreePoolThunk(void *buffer) {
  Platform::Call call = P().BeginCall("FreePool", {{"Buffer", Ptr(buffer)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoFreePool(buffer));
}

EFI_STATUS EFIAPI CreateEventThunk(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, void *context,
                                   EFI_EVENT *event) {
  Platform::Call call = P().BeginCall(
      "CreateEvent", {{"Type", HexText(type)}, {"NotifyTpl", DecText(tpl)}, {"NotifyContext", Ptr(context)}});
  if (call.forced()) return call.Finish(*call.forced());
  EFI_STATUS status = P().DoCreateEvent(type, tpl, notify, context, nullptr, event);
  if (!EFI_ERROR(status)) call.AddField("Event", Ptr(*event));
  return call.Finish(status);
}

EFI_STATUS EFIAPI CreateEventExThunk(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const void *context,
                                     const EFI_GUID *group, EFI_EVENT *event) {
  Platform::Call call = P().BeginCall("CreateEventEx", {{"Type", HexText(type)},
                                                        {"NotifyTpl", DecText(tpl)},
                                                        {"NotifyContext", Ptr(context)},
                                                        {"EventGroup", GuidOrNull(group)}});
  if (call.forced()) return call.Finish(*call.forced());
  EFI_STATUS status = P().DoCreateEvent(type, tpl, notify, context, group, event);
  if (!EFI_ERROR(status)) call.AddField("Event", Ptr(*event));
  return call.Finish(status);
}

EFI_STATUS EFIAPI SignalEventThunk(EFI_EVENT event) {
  Platform::Call call = P().BeginCall("SignalEvent", {{"Event", Ptr(event)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoSignalEvent(event));
}

EFI_STATUS EFIAPI CloseEventThunk(EFI_EVENT event) {
  Platform::Call call = P().BeginCall("CloseEvent", {{"Event", Ptr(event)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoCloseEvent(event));
}

EFI_TPL EFIAPI RaiseTplThunk(EFI_TPL tpl) {
  Platform::Call call = P().BeginCall("RaiseTPL", {{"NewTpl", DecText(tpl)}});
  EFI_TPL old = P().DoRaiseTpl(tpl);
  call.AddField("OldTpl", DecText(old));
  call.FinishVoid();
  return old;
}

void EFIAPI RestoreTplThunk(EFI_TPL tpl) {
  Platform::Call call = P().BeginCall("RestoreTPL", {{"OldTpl", DecText(tpl)}});
  P().DoRestoreTpl(tpl);
  call.FinishVoid();
}

EFI_STATUS EFIAPI InstallProtocolInterfaceThunk(EFI_HANDLE *handle, const EFI_GUID *protocol,
                                                EFI_INTERFACE_TYPE interface_type, void *interface) {
  Platform::Call call = P().BeginCall("InstallProtocolInterface",
                                      {{"Handle", handle == nullptr ? "null" : Ptr(*handle)},
                                       {"Protocol", GuidOrNull(protocol)},
                                       {"Interface", Ptr(interface)}});
  if (call.forced()) return call.Finish(*call.forced());
  if (interface_type != EFI_NATIVE_INTERFACE) return call.Finish(EFI_INVALID_PARAMETER);
  return call.Finish(P().DoInstallProtocolInterface(handle, protocol, interface));
}

EFI_STATUS EFIAPI UninstallProtocolInterfaceThunk(EFI_HANDLE handle, const EFI_GUID *protocol, void *interface) {
  Platform::Call call = P().BeginCall("UninstallProtocolInterface",
                                      {{"Handle", Ptr(handle)}, {"Protocol", GuidOrNull(protocol)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoUninstallProtocolInterface(handle, protocol, interface));
}

EFI_STATUS EFIAPI HandleProtocolThunk(EFI_HANDLE handle, const EFI_GUID *protocol, void **interface) {
  Platform::Call call = P().BeginCall("HandleProtocol", {{"Handle", Ptr(handle)},
                                                         {"HandleName", P().HandleName(handle)},
                                                         {"Protocol", GuidOrNull(protocol)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoHandleProtocol(handle, protocol, interface));
}

EFI_STATUS EFIAPI RegisterProtocolNotifyThunk(const EFI_GUID *protocol, EFI_EVENT event, void **registration) {
  Platform::Call call =
      P().BeginCall("RegisterProtocolNotify", {{"Protocol", GuidOrNull(protocol)}, {"Event", Ptr(event)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoRegisterProtocolNotify(protocol, event, registration));
}

EFI_STATUS EFIAPI LocateHandleBufferThunk(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *protocol, void *key,
                                          UINTN *count, EFI_HANDLE **buffer) {
  Platform::Call call = P().BeginCall(
      "LocateHandleBuffer",
      {{"SearchType", DecText(type)}, {"Protocol", GuidOrNull(protocol)}, {"SearchKey", Ptr(key)}});
  if (call.forced()) return call.Finish(*call.forced());
  EFI_STATUS status = P().DoLocateHandleBuffer(type, protocol, key, count, buffer);
  if (!EFI_ERROR(status)) {
    call.AddField("NoHandles", DecText(*count));
    call.AddField("Buffer", Ptr(*buffer));
  }
  return call.Finish(status);
}

EFI_STATUS EFIAPI LocateProtocolThunk(const EFI_GUID *protocol, void *registration, void **interface) {
  Platform::Call call = P().BeginCall("LocateProtocol", {{"Protocol", GuidOrNull(protocol)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoLocateProtocol(protocol, registration, interface));
}

EFI_STATUS EFIAPI StallThunk(UINTN microseconds) {
  Platform::Call call = P().BeginCall("Stall", {{"Microseconds", DecText(microseconds)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoStall(microseconds));
}

EFI_STATUS EFIAPI SetWatchdogTimerThunk(UINTN timeout, UINT64 code, UINTN data_size, CHAR16 *) {
  Platform::Call call = P().BeginCall(
      "SetWatchdogTimer",
      {{"Timeout", DecText(timeout)}, {"WatchdogCode", HexText(code)}, {"DataSize", DecText(data_size)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(EFI_SUCCESS);
}

EFI_STATUS EFIAPI ConnectControllerThunk(EFI_HANDLE handle, EFI_HANDLE *driver_image,
                                         EFI_DEVICE_PATH_PROTOCOL *path, BOOLEAN recursive) {
  Platform::Call call = P().BeginCall("ConnectController", {{"ControllerHandle", Ptr(handle)},
                                                            {"HandleName", P().HandleName(handle)},
                                                            {"DriverImageHandle", Ptr(driver_image)},
                                                            {"RemainingDevicePath", Ptr(path)},
                                                            {"Recursive", DecText(recursive)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoConnectController(handle, driver_image, path, recursive));
}

void EFIAPI CopyMemThunk(void *destination, void *source, UINTN length) {
  Platform::Call call = P().BeginCall("CopyMem", {{"Length", DecText(length)}});
  std::memmove(destination, source, length);
  call.FinishVoid();
}

void EFIAPI SetMemThunk(void *buffer, UINTN size, UINT8 value) {
  Platform::Call call = P().BeginCall("SetMem", {{"Size", DecText(size)}, {"Value", HexText(value)}});
  std::memset(buffer, value, size);
  call.FinishVoid();
}

// --- services the driver never calls -------------------------------------------------

EFI_STATUS Unexpected(const char *service) {
  P().Unexpected(service);
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI AllocatePagesThunk(EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN, EFI_PHYSICAL_ADDRESS *) {
  return Unexpected("AllocatePages");
}
EFI_STATUS EFIAPI FreePagesThunk(EFI_PHYSICAL_ADDRESS, UINTN) { return Unexpected("FreePages"); }
EFI_STATUS EFIAPI GetMemoryMapThunk(UINTN *, EFI_MEMORY_DESCRIPTOR *, UINTN *, UINTN *, UINT32 *) {
  return Unexpected("GetMemoryMap");
}
EFI_STATUS EFIAPI SetTimerThunk(EFI_EVENT, EFI_TIMER_DELAY, UINT64) { return Unexpected("SetTimer"); }
EFI_STATUS EFIAPI WaitForEventThunk(UINTN, EFI_EVENT *, UINTN *) { return Unexpected("WaitForEvent"); }
EFI_STATUS EFIAPI CheckEventThunk(EFI_EVENT) { return Unexpected("CheckEvent"); }
EFI_STATUS EFIAPI ReinstallProtocolInterfaceThunk(EFI_HANDLE, const EFI_GUID *, void *, void *) {
  return Unexpected("ReinstallProtocolInterface");
}
EFI_STATUS EFIAPI LocateHandleThunk(EFI_LOCATE_SEARCH_TYPE, const EFI_GUID *, void *, UINTN *, EFI_HANDLE *) {
  return Unexpected("LocateHandle");
}
EFI_STATUS EFIAPI LocateDevicePathThunk(const EFI_GUID *, EFI_DEVICE_PATH_PROTOCOL **, EFI_HANDLE *) {
  return Unexpected("LocateDevicePath");
}
EFI_STATUS EFIAPI InstallConfigurationTableThunk(const EFI_GUID *, void *) {
  return Unexpected("InstallConfigurationTable");
}
EFI_STATUS EFIAPI LoadImageThunk(BOOLEAN, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL *, void *, UINTN, EFI_HANDLE *) {
  return Unexpected("LoadImage");
}
EFI_STATUS EFIAPI StartImageThunk(EFI_HANDLE, UINTN *, CHAR16 **) { return Unexpected("StartImage"); }
EFI_STATUS EFIAPI ExitThunk(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16 *) { return Unexpected("Exit"); }
EFI_STATUS EFIAPI UnloadImageThunk(EFI_HANDLE) { return Unexpected("UnloadImage"); }
EFI_STATUS EFIAPI ExitBootServicesThunk(EFI_HANDLE, UINTN) { return Unexpected("ExitBootServices"); }
EFI_STATUS EFIAPI GetNextMonotonicCountThunk(UINT64 *) { return Unexpected("GetNextMonotonicCount"); }
EFI_STATUS EFIAPI DisconnectControllerThunk(EFI_HANDLE, EFI_HANDLE, EFI_HANDLE) {
  return Unexpected("DisconnectController");
}
EFI_STATUS EFIAPI OpenProtocolThunk(EFI_HANDLE, const EFI_GUID *, void **, EFI_HANDLE, EFI_HANDLE, UINT32) {
  return Unexpected("OpenProtocol");
}
EFI_STATUS EFIAPI CloseProtocolThunk(EFI_HANDLE, const EFI_GUID *, EFI_HANDLE, EFI_HANDLE) {
  return Unexpected("CloseProtocol");
}
EFI_STATUS EFIAPI OpenProtocolInformationThunk(EFI_HANDLE, const EFI_GUID *, EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **,
                                               UINTN *) {
  return Unexpected("OpenProtocolInformation");
}
EFI_STATUS EFIAPI ProtocolsPerHandleThunk(EFI_HANDLE, EFI_GUID ***, UINTN *) {
  return Unexpected("ProtocolsPerHandle");
}
EFI_STATUS EFIAPI CalculateCrc32Thunk(void *, UINTN, UINT32 *) { return Unexpected("CalculateCrc32"); }
// The two variadic services are declared as plain slots; this only keeps them from being null.
EFI_STATUS EFIAPI MultipleProtocolInterfacesThunk() { return Unexpected("InstallMultipleProtocolInterfaces"); }

}  // namespace

void Platform::FillBootServices() {
  EFI_BOOT_SERVICES &bs = boot_services_;
  bs.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  bs.Hdr.Revision = system_table_.Hdr.Revision;
  bs.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);

  bs.RaiseTPL = RaiseTplThunk;
  bs.RestoreTPL = RestoreTplThunk;
  bs.AllocatePages = AllocatePagesThunk;
  bs.FreePages = FreePagesThunk;
  bs.GetMemoryMap = GetMemoryMapThunk;
  bs.AllocatePool = AllocatePoolThunk;
  bs.FreePool = FreePoolThunk;
  bs.CreateEvent = CreateEventThunk;
  bs.SetTimer = SetTimerThunk;
  bs.WaitForEvent = WaitForEventThunk;
  bs.SignalEvent = SignalEventThunk;
  bs.CloseEvent = CloseEventThunk;
  bs.CheckEvent = CheckEventThunk;
  bs.InstallProtocolInterface = InstallProtocolInterfaceThunk;
  bs.ReinstallProtocolInterface = ReinstallProtocolInterfaceThunk;
  bs.UninstallProtocolInterface = UninstallProtocolInterfaceThunk;
  bs.HandleProtocol = HandleProtocolThunk;
  bs.Reserved = nullptr;
  bs.RegisterProtocolNotify = RegisterProtocolNotifyThunk;
  bs.LocateHandle = LocateHandleThunk;
  bs.LocateDevicePath = LocateDevicePathThunk;
  bs.InstallConfigurationTable = InstallConfigurationTableThunk;
  bs.LoadImage = LoadImageThunk;
  bs.StartImage = StartImageThunk;
  bs.Exit = ExitThunk;
  bs.UnloadImage = UnloadImageThunk;
  bs.ExitBootServices = ExitBootServicesThunk;
  bs.GetNextMonotonicCount = GetNextMonotonicCountThunk;
  bs.Stall = StallThunk;
  bs.SetWatchdogTimer = SetWatchdogTimerThunk;
  bs.ConnectController = ConnectControllerThunk;
  bs.DisconnectController = DisconnectControllerThunk;
  bs.OpenProtocol = OpenProtocolThunk;
  bs.CloseProtocol = CloseProtocolThunk;
  bs.OpenProtocolInformation = OpenProtocolInformationThunk;
  bs.ProtocolsPerHandle = ProtocolsPerHandleThunk;
  bs.LocateHandleBuffer = LocateHandleBufferThunk;
  bs.LocateProtocol = LocateProtocolThunk;
  bs.InstallMultipleProtocolInterfaces = reinterpret_cast<void *>(&MultipleProtocolInterfacesThunk);
  bs.UninstallMultipleProtocolInterfaces = reinterpret_cast<void *>(&MultipleProtocolInterfacesThunk);
  bs.CalculateCrc32 = CalculateCrc32Thunk;
  bs.CopyMem = CopyMemThunk;
  bs.SetMem = SetMemThunk;
  bs.CreateEventEx = CreateEventExThunk;
}

}  // namespace sim
