// The EFI_RUNTIME_SERVICES table of the simulated platform: the variable
// store behind GetVariable, and ResetSystem, which here marks the machine off
// and returns to its caller (real firmware never returns). The slots are bound
// to the Platform members that serve them (sim/thunk.h makes the thunks).
#include <cstring>

#include "sim/thunk.h"

namespace sim {

namespace {

std::u16string NameText(const CHAR16 *name) {
  if (name == nullptr) return {};
  std::u16string text;
  while (*name != 0) text += *name++;
  return text;
}

std::string VariableNameText(const CHAR16 *name) { return Utf8Text(NameText(name)); }

}  // namespace

void Platform::FillRuntimeServices() {
  EFI_RUNTIME_SERVICES &rt = runtime_services_;
  FillHeader(rt, EFI_RUNTIME_SERVICES_SIGNATURE, system_table_.Hdr.Revision);

  // --- services the driver uses ---------------------------------------------------------
  Bind<"GetVariable", &Platform::DoGetVariable, Arg<"VariableName", VariableNameText>, GuidArg<"VendorGuid">, Unlogged,
       SizeArg<"DataSize">, Unlogged>(rt.GetVariable);
  Bind<"ResetSystem", &Platform::DoResetSystem, Arg<"ResetType", DecText>, Arg<"ResetStatus", HexText>,
       Arg<"DataSize", DecText>, Unused>(rt.ResetSystem);

  // --- services the driver never calls ------------------------------------------------------
  BindUnexpected<"GetTime">(rt.GetTime);
  BindUnexpected<"SetTime">(rt.SetTime);
  BindUnexpected<"GetWakeupTime">(rt.GetWakeupTime);
  BindUnexpected<"SetWakeupTime">(rt.SetWakeupTime);
  BindUnexpected<"SetVirtualAddressMap">(rt.SetVirtualAddressMap);
  BindUnexpected<"ConvertPointer">(rt.ConvertPointer);
  BindUnexpected<"GetNextVariableName">(rt.GetNextVariableName);
  BindUnexpected<"SetVariable">(rt.SetVariable);
  BindUnexpected<"GetNextHighMonotonicCount">(rt.GetNextHighMonotonicCount);
  BindUnexpected<"UpdateCapsule">(rt.UpdateCapsule);
  BindUnexpected<"QueryCapsuleCapabilities">(rt.QueryCapsuleCapabilities);
  BindUnexpected<"QueryVariableInfo">(rt.QueryVariableInfo);
}

// --- variable store ------------------------------------------------------------------

Platform::Variable *Platform::FindVariable(std::u16string_view name, const EFI_GUID &vendor) {
  for (Variable &v : variables_) {
    if (v.name == name && GuidEquals(v.vendor, vendor)) return &v;
  }
  return nullptr;
}

void Platform::SetVariable(std::u16string name, const EFI_GUID &vendor, UINT32 attributes, std::vector<uint8_t> data) {
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
