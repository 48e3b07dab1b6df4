// Simulated PCI devices: each has its own configuration space and its own
// EFI_PCI_IO_PROTOCOL instance on its own handle. Only configuration-space
// access is served; the other services count as unexpected.
#include <cstring>

#include "sim/platform.h"

namespace sim {

namespace {

Platform &P() { return Platform::Active(); }

EFI_STATUS EFIAPI PciReadThunk(EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                               UINTN count, void *buffer) {
  Platform::Call call = P().BeginCall("PciIo.Pci.Read", {{"Width", DecText(width)},
                                                         {"Offset", HexText(offset)},
                                                         {"Count", DecText(count)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoPciRead(self, width, offset, count, buffer, false));
}

EFI_STATUS EFIAPI PciWriteThunk(EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                                UINTN count, void *buffer) {
  Platform::Call call = P().BeginCall("PciIo.Pci.Write", {{"Width", DecText(width)},
                                                          {"Offset", HexText(offset)},
                                                          {"Count", DecText(count)}});
  if (call.forced()) return call.Finish(*call.forced());
  return call.Finish(P().DoPciRead(self, width, offset, count, buffer, true));
}

EFI_STATUS EFIAPI PollThunk(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64, UINT64, UINT64,
                            UINT64 *) {
  P().Unexpected("PciIo.Poll");
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI BarAccessThunk(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN, void *) {
  P().Unexpected("PciIo.Mem/Io");
  return EFI_UNSUPPORTED;
}

// The remaining slots are declared as plain pointers; this keeps them from being null.
EFI_STATUS EFIAPI OtherServiceThunk() {
  P().Unexpected("PciIo.other");
  return EFI_UNSUPPORTED;
}

}  // namespace

void PciDevice::SetClassCode(uint8_t base_class, uint8_t subclass, uint8_t prog_if, uint8_t revision) {
  SetConfigDword(kPciClassCodeOffset, static_cast<uint32_t>(base_class) << 24 |
                                           static_cast<uint32_t>(subclass) << 16 |
                                           static_cast<uint32_t>(prog_if) << 8 | revision);
}

void PciDevice::SetConfigDword(uint32_t offset, uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) config_.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void PciDevice::FailHandleProtocol(EFI_STATUS status) { handle_->handle_protocol_status = status; }

PciDevice &Platform::AddPciDevice(std::string name, uint8_t base_class, uint8_t subclass, uint8_t prog_if,
                                  uint8_t revision) {
  auto device = std::make_unique<PciDevice>();
  device->name_ = name;
  device->SetClassCode(base_class, subclass, prog_if, revision);
  EFI_PCI_IO_PROTOCOL &p = device->protocol_;
  p.PollMem = PollThunk;
  p.PollIo = PollThunk;
  p.Mem.Read = BarAccessThunk;
  p.Mem.Write = BarAccessThunk;
  p.Io.Read = BarAccessThunk;
  p.Io.Write = BarAccessThunk;
  p.Pci.Read = PciReadThunk;
  p.Pci.Write = PciWriteThunk;
  void *other = reinterpret_cast<void *>(&OtherServiceThunk);
  p.CopyMem = p.Map = p.Unmap = p.AllocateBuffer = p.FreeBuffer = p.Flush = other;
  p.GetLocation = p.Attributes = p.GetBarAttributes = p.SetBarAttributes = other;
  device->handle_ = static_cast<SimHandle *>(InstallProtocol(EFI_PCI_IO_PROTOCOL_GUID, &p, nullptr, name));
  pci_devices_.push_back(std::move(device));
  return *pci_devices_.back();
}

PciDevice *Platform::FindPciDevice(std::string_view name) {
  for (const auto &d : pci_devices_) {
    if (d->name() == name) return d.get();
  }
  return nullptr;
}

EFI_STATUS Platform::DoPciRead(EFI_PCI_IO_PROTOCOL *pci_io, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                               UINTN count, void *buffer, bool write) {
  PciDevice *device = nullptr;
  for (const auto &d : pci_devices_) {
    if (d->protocol() == pci_io) device = d.get();
  }
  if (device == nullptr) {
    Fault("PciIo.Pci access with a This that is no device's");
    return EFI_INVALID_PARAMETER;
  }
  if (!write) {
    ++device->config_reads_;
    if (device->read_status_) return *device->read_status_;
  }
  if (buffer == nullptr) {
    Fault("PciIo.Pci access with a null buffer");
    return EFI_INVALID_PARAMETER;
  }
  if (width > EfiPciIoWidthUint64) return EFI_INVALID_PARAMETER;
  const UINTN item = UINTN{1} << width;
  if (offset % item != 0) return EFI_INVALID_PARAMETER;

  // The whole range must lie in configuration space; checked without forming offset + count * item.
  const UINTN space = device->config_.size();
  if (offset > space || count > (space - offset) / item) return EFI_UNSUPPORTED;
  const UINTN length = count * item;
  if (write) {
    std::memcpy(device->config_.data() + offset, buffer, length);
  } else {
    std::memcpy(buffer, device->config_.data() + offset, length);
  }
  return EFI_SUCCESS;
}

}  // namespace sim
