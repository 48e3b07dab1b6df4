// The handle database of the simulated platform: handles in creation order,
// each with its protocol interfaces, and the protocol-notify registrations
// that installation signals.
#include "core/driver_guids.h"
#include "sim/platform.h"

namespace sim {

namespace {

void *FindInterface(const SimHandle &handle, const EFI_GUID &protocol) {
  for (const auto &[guid, interface] : handle.protocols) {
    if (GuidEquals(guid, protocol)) return interface;
  }
  return nullptr;
}

bool HasProtocol(const SimHandle &handle, const EFI_GUID &protocol) {
  for (const auto &entry : handle.protocols) {
    if (GuidEquals(entry.first, protocol)) return true;
  }
  return false;
}

}  // namespace

EFI_HANDLE Platform::CreateHandle(std::string name) {
  handles_.push_back(std::make_unique<SimHandle>());
  handles_.back()->name = std::move(name);
  return handles_.back().get();
}

SimHandle *Platform::FindHandle(EFI_HANDLE handle) const {
  for (const auto &h : handles_) {
    if (h.get() == handle) return h.get();
  }
  return nullptr;
}

std::string Platform::HandleName(EFI_HANDLE handle) const {
  const SimHandle *h = FindHandle(handle);
  return h == nullptr ? std::string() : h->name;
}

std::vector<SimRegistration *> Platform::registrations() const {
  std::vector<SimRegistration *> out;
  for (const auto &r : registrations_) out.push_back(r.get());
  return out;
}

std::vector<std::string> Platform::connected_names() const {
  std::vector<std::string> out;
  for (const ConnectCall &c : connect_calls_) out.push_back(c.name);
  return out;
}

// --- installation -------------------------------------------------------------------

void Platform::NotifyRegistrations(const EFI_GUID &protocol, EFI_HANDLE handle) {
  for (const auto &r : registrations_) {
    if (!GuidEquals(r->protocol, protocol)) continue;
    r->unreported.push_back(handle);
    QueueEvent(r->event);
  }
  DispatchPending();
}

EFI_STATUS Platform::DoInstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *protocol, void *interface) {
  if (handle == nullptr || protocol == nullptr) {
    Fault("InstallProtocolInterface with a null handle slot or protocol");
    return EFI_INVALID_PARAMETER;
  }
  SimHandle *target = nullptr;
  if (*handle == nullptr) {
    target = static_cast<SimHandle *>(CreateHandle(""));
  } else {
    target = FindHandle(*handle);
    if (target == nullptr) return EFI_INVALID_PARAMETER;
    if (HasProtocol(*target, *protocol)) return EFI_INVALID_PARAMETER;
  }
  target->protocols.emplace_back(*protocol, interface);
  *handle = target;
  NotifyRegistrations(*protocol, target);
  return EFI_SUCCESS;
}

EFI_HANDLE Platform::InstallProtocol(const EFI_GUID &protocol, void *interface, EFI_HANDLE handle, std::string name) {
  if (handle == nullptr) handle = CreateHandle(std::move(name));
  if (EFI_ERROR(DoInstallProtocolInterface(&handle, &protocol, interface))) return nullptr;
  return handle;
}

EFI_HANDLE Platform::InstallTrigger() {
  return InstallProtocol(NoticeTriggerProtocolGuid, nullptr, nullptr, "trigger");
}

EFI_STATUS Platform::DoUninstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID *protocol, void *interface) {
  SimHandle *target = FindHandle(handle);
  if (target == nullptr || protocol == nullptr) return EFI_INVALID_PARAMETER;
  for (auto it = target->protocols.begin(); it != target->protocols.end(); ++it) {
    if (GuidEquals(it->first, *protocol) && it->second == interface) {
      target->protocols.erase(it);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS Platform::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &protocol) {
  SimHandle *target = FindHandle(handle);
  if (target == nullptr) return EFI_INVALID_PARAMETER;
  return DoUninstallProtocolInterface(handle, &protocol, FindInterface(*target, protocol));
}

// --- lookups --------------------------------------------------------------------------

EFI_STATUS Platform::DoHandleProtocol(EFI_HANDLE handle, const EFI_GUID *protocol, void **interface) {
  if (protocol == nullptr || interface == nullptr) {
    Fault("HandleProtocol with a null protocol or interface slot");
    return EFI_INVALID_PARAMETER;
  }
  *interface = nullptr;
  SimHandle *target = FindHandle(handle);
  if (target == nullptr) {
    Fault("HandleProtocol on a handle that does not exist");
    return EFI_INVALID_PARAMETER;
  }
  if (!HasProtocol(*target, *protocol)) return EFI_UNSUPPORTED;
  *interface = FindInterface(*target, *protocol);
  return EFI_SUCCESS;
}

EFI_STATUS Platform::DoRegisterProtocolNotify(const EFI_GUID *protocol, EFI_EVENT event, void **registration) {
  SimEvent *target = FindLiveEvent(event);
  if (protocol == nullptr || registration == nullptr || target == nullptr) {
    Fault("RegisterProtocolNotify with a null protocol or registration slot, or an unknown event");
    return EFI_INVALID_PARAMETER;
  }
  registrations_.push_back(std::make_unique<SimRegistration>(SimRegistration{*protocol, target, {}}));
  *registration = registrations_.back().get();
  return EFI_SUCCESS;
}

EFI_STATUS Platform::DoLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *protocol, void *key,
                                          UINTN *count, EFI_HANDLE **buffer) {
  if (count == nullptr || buffer == nullptr) {
    Fault("LocateHandleBuffer with a null count or buffer slot");
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> found;
  switch (type) {
    case AllHandles:
      for (const auto &h : handles_) {
        if (!h->protocols.empty()) found.push_back(h.get());
      }
      break;
    case ByProtocol:
      if (protocol == nullptr) return EFI_INVALID_PARAMETER;
      for (const auto &h : handles_) {
        if (HasProtocol(*h, *protocol)) found.push_back(h.get());
      }
      break;
    case ByRegisterNotify: {
      // One handle a call, as firmware reports registrations.
      SimRegistration *reg = nullptr;
      for (const auto &r : registrations_) {
        if (r.get() == key) reg = r.get();
      }
      if (reg == nullptr) return EFI_INVALID_PARAMETER;
      if (!reg->unreported.empty()) {
        found.push_back(reg->unreported.front());
        reg->unreported.erase(reg->unreported.begin());
      }
      break;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }
  *count = 0;
  *buffer = nullptr;
  if (found.empty()) return EFI_NOT_FOUND;

  void *memory = AllocateInternal(EfiBootServicesData, found.size() * sizeof(EFI_HANDLE), "LocateHandleBuffer");
  if (memory == nullptr) return EFI_OUT_OF_RESOURCES;
  auto *handles = static_cast<EFI_HANDLE *>(memory);
  for (size_t i = 0; i < found.size(); ++i) handles[i] = found[i];
  *count = found.size();
  *buffer = handles;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::DoLocateProtocol(const EFI_GUID *protocol, void *, void **interface) {
  if (protocol == nullptr || interface == nullptr) {
    Fault("LocateProtocol with a null protocol or interface slot");
    return EFI_INVALID_PARAMETER;
  }
  for (const auto &h : handles_) {
    if (HasProtocol(*h, *protocol)) {
      *interface = FindInterface(*h, *protocol);
      return EFI_SUCCESS;
    }
  }
  *interface = nullptr;
  return EFI_NOT_FOUND;
}

EFI_STATUS Platform::DoConnectController(EFI_HANDLE handle, EFI_HANDLE *driver_image, EFI_DEVICE_PATH_PROTOCOL *path,
                                         BOOLEAN recursive) {
  const bool known = ValidHandle(handle);
  if (!known) Fault("ConnectController on a handle that does not exist");
  const EFI_STATUS status = known ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
  connect_calls_.push_back({handle, HandleName(handle), driver_image, path, recursive, status});
  return status;
}

}  // namespace sim
