// The EFI_RUNTIME_SERVICES table of the simulated platform: the variable
// store behind GetVariable, and ResetSystem, which here marks the machine off
// and returns to its caller (real firmware never returns).
#include <cstring>

#include "sim/platform.h"

namespace sim {

namespace {

Platform &P() { return Platform::Active(); }

std::u16string NameText(const CHAR16 *name) {
  if (name == nullptr) return {};
  std::u16string text;
  while (*name != 0) text += *name++;
  return text;
}

EFI_STATUS EFIAPI GetVariableThunk(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes, UINTN *size,
                                   void *data) {
  Platform::Call call = P().BeginCall("GetVariable", {{"VariableName", Utf8Text(NameText(name))},
                                                      {"VendorGuid", vendor ? GuidText(*vendor) : "null"},
                                                      {"DataSize", size ? DecText(*size) : "null"}});
  if (call.forced()) return call.Finish(*call.forced());
  EFI_STATUS status = P().DoGetVariable(name, vendor, attributes, size, data);
  if (size != nullptr) call.AddField("DataSizeOut", DecText(*size));
  return call.Finish(status);
}

void EFIAPI ResetSystemThunk(EFI_RESET_TYPE type, EFI_STATUS status, UINTN data_size, void *) {
  Platform::Call call = P().BeginCall(
      "ResetSystem", {{"ResetType", DecText(type)}, {"ResetStatus", HexText(status)}, {"DataSize", DecText(data_size)}});
  P().DoResetSystem(type, status, data_size);
  call.FinishVoid();
}

EFI_STATUS Unexpected(const char *service) {
  P().Unexpected(service);
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI GetTimeThunk(EFI_TIME *, EFI_TIME_CAPABILITIES *) { return Unexpected("GetTime"); }
EFI_STATUS EFIAPI SetTimeThunk(EFI_TIME *) { return Unexpected("SetTime"); }
EFI_STATUS EFIAPI GetWakeupTimeThunk(BOOLEAN *, BOOLEAN *, EFI_TIME *) { return Unexpected("GetWakeupTime"); }
EFI_STATUS EFIAPI SetWakeupTimeThunk(BOOLEAN, EFI_TIME *) { return Unexpected("SetWakeupTime"); }
EFI_STATUS EFIAPI SetVirtualAddressMapThunk(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR *) {
  return Unexpected("SetVirtualAddressMap");
}
EFI_STATUS EFIAPI ConvertPointerThunk(UINTN, void **) { return Unexpected("ConvertPointer"); }
EFI_STATUS EFIAPI GetNextVariableNameThunk(UINTN *, CHAR16 *, EFI_GUID *) {
  return Unexpected("GetNextVariableName");
}
EFI_STATUS EFIAPI SetVariableThunk(const CHAR16 *, const EFI_GUID *, UINT32, UINTN, void *) {
  return Unexpected("SetVariable");
}
EFI_STATUS EFIAPI GetNextHighMonotonicCountThunk(UINT32 *) { return Unexpected("GetNextHighMonotonicCount"); }
EFI_STATUS EFIAPI UpdateCapsuleThunk(EFI_CAPSULE_HEADER **, UINTN, EFI_PHYSICAL_ADDRESS) {
  return Unexpected("UpdateCapsule");
}
EFI_STATUS EFIAPI QueryCapsuleCapabilitiesThunk(EFI_CAPSULE_HEADER **, UINTN, UINT64 *, EFI_RESET_TYPE *) {
  return Unexpected("QueryCapsuleCapabilities");
}
EFI_STATUS EFIAPI QueryVariableInfoThunk(UINT32, UINT64 *, UINT64 *, UINT64 *) {
  return Unexpected("QueryVariableInfo");
}

}  // namespace

void Platform::FillRuntimeServices() {
  EFI_RUNTIME_SERVICES &rt = runtime_services_;
  rt.Hdr.Signature = EFI_RUNTIME_SERVICES_SIGNATURE;
  rt.Hdr.Revision = system_table_.Hdr.Revision;
  rt.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  rt.GetTime = GetTimeThunk;
  rt.SetTime = SetTimeThunk;
  rt.GetWakeupTime = GetWakeupTimeThunk;
  rt.SetWakeupTime = SetWakeupTimeThunk;
  rt.SetVirtualAddressMap = SetVirtualAddressMapThunk;
  rt.ConvertPointer = ConvertPointerThunk;
  rt.GetVariable = GetVariableThunk;
  rt.GetNextVariableName = GetNextVariableNameThunk;
  rt.SetVariable = SetVariableThunk;
  rt.GetNextHighMonotonicCount = GetNextHighMonotonicCountThunk;
  rt.ResetSystem = ResetSystemThunk;
  rt.UpdateCapsule = UpdateCapsuleThunk;
  rt.QueryCapsuleCapabilities = QueryCapsuleCapabilitiesThunk;
  rt.QueryVariableInfo = QueryVariableInfoThunk;
}

// --- variable store ------------------------------------------------------------------

Platform::Variable *Platform::FindVariable(std::u16string_view name, const EFI_GUID &vendor) {
  for (Variable &v : variables_) {
    if (v.name == name && GuidEquals(v.vendor, vendor)) return &v;
  }
  return nullptr;
}

void Platform::SetVariable(std::u16string name, const EFI_GUID &vendor, UINT32 attributes,
                           std::vector<uint8_t> data) {
  if (Variable *existing = FindVariable(name, vendor)) {
    existing->attributes = attributes;
    existing->data = std::move(data);
    return;
  }
  variables_.push_back(Variable{std::move(name), vendor, attributes, std::move(data)});
}

void Platform::RemoveVariable(const std::u16string &name, const EFI_GUID &vendor) {
  for (auto it = variables_.begin(); it != variables_.end(); ++it) {
    if (it->name == name && GuidEquals(it->vendor, vendor)) {
      variables_.erase(it);
      return;
    }
  }
}

void Platform::SetSecureBoot(uint8_t value) {
  constexpr UINT32 kBootServiceAccess = 0x2;
  constexpr UINT32 kRuntimeAccess = 0x4;
  SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, kBootServiceAccess | kRuntimeAccess, {value});
}

EFI_STATUS Platform::DoGetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes, UINTN *size,
                                   void *data) {
  GetVariableCall record{NameText(name), vendor ? *vendor : EFI_GUID{}, size ? *size : 0, EFI_SUCCESS};
  auto finish = [&](EFI_STATUS status) {
    record.status = status;
    get_variable_calls_.push_back(record);
    return status;
  };
  if (name == nullptr || vendor == nullptr || size == nullptr) {
    Fault("GetVariable with a null name, vendor or size slot");
    return finish(EFI_INVALID_PARAMETER);
  }
  Variable *variable = FindVariable(record.name, *vendor);
  if (variable == nullptr) return finish(EFI_NOT_FOUND);
  if (*size < variable->data.size()) {
    *size = variable->data.size();
    return finish(EFI_BUFFER_TOO_SMALL);
  }
  if (data == nullptr) {
    Fault("GetVariable with a null data buffer");
    return finish(EFI_INVALID_PARAMETER);
  }
  // An empty variable has no data pointer to copy from.
  if (!variable->data.empty()) std::memcpy(data, variable->data.data(), variable->data.size());
  *size = variable->data.size();
  if (attributes != nullptr) *attributes = variable->attributes;
  return finish(EFI_SUCCESS);
}

// --- reset -------------------------------------------------------------------------------

void Platform::DoResetSystem(EFI_RESET_TYPE type, EFI_STATUS status, UINTN data_size) {
  reset_calls_.push_back({type, status, data_size});
  off_ = true;
}

}  // namespace sim
