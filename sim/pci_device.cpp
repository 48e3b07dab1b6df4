// Simulated PCI devices: each has its own configuration space and its own
// EFI_PCI_IO_PROTOCOL instance on its own handle. Only configuration-space
// access is served; the other services count as unexpected.
#include <cstring>

#include "sim/thunk.h"

namespace sim {

namespace {

// Pci.Read and Pci.Write: the configuration-space access, one way or the other.
template <bool kWrite>
EFI_STATUS PciConfigAccess(Platform &platform, EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width,
                           UINT32 offset, UINTN count, void *buffer) {
  return platform.DoPciRead(self, width, offset, count, buffer, kWrite);
}

template <FixedString Name, bool kWrite>
void BindPciConfigAccess(EFI_PCI_IO_PROTOCOL_CONFIG &slot) {
  Bind<Name, PciConfigAccess<kWrite>, Instance, Arg<"Width", DecText>, Arg<"Offset", HexText>, Arg<"Count", DecText>,
       Unlogged>(slot);
}

}  // namespace

void PciDevice::SetClassCode(uint8_t base_class, uint8_t subclass, uint8_t prog_if, uint8_t revision) {
  SetConfigDword(kPciClassCodeOffset, static_cast<uint32_t>(base_class) << 24 | static_cast<uint32_t>(subclass) << 16 |
                                          static_cast<uint32_t>(prog_if) << 8 | revision);
}

void PciDevice::SetConfigDword(uint32_t offset, uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) config_.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

PciDevice &Platform::AddPciDevice(std::string name, uint8_t base_class, uint8_t subclass, uint8_t prog_if,
                                  uint8_t revision) {
  auto device = std::make_unique<PciDevice>();
  device->name_ = name;
  device->SetClassCode(base_class, subclass, prog_if, revision);
  EFI_PCI_IO_PROTOCOL &p = device->protocol_;
  BindPciConfigAccess<"PciIo.Pci.Read", false>(p.Pci.Read);
  BindPciConfigAccess<"PciIo.Pci.Write", true>(p.Pci.Write);
  BindUnexpected<"PciIo.Poll">(p.PollMem);
  BindUnexpected<"PciIo.Poll">(p.PollIo);
  BindUnexpected<"PciIo.Mem/Io">(p.Mem.Read);
  BindUnexpected<"PciIo.Mem/Io">(p.Mem.Write);
  BindUnexpected<"PciIo.Mem/Io">(p.Io.Read);
  BindUnexpected<"PciIo.Mem/Io">(p.Io.Write);
  // The remaining slots are declared as plain pointers.
  void *other = UnexpectedPlainSlot<"PciIo.other">();
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

EFI_STATUS Platform::DoPciRead(EFI_PCI_IO_PROTOCOL *pci_io, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset, UINTN count,
                               void *buffer, bool write) {
  PciDevice *device = nullptr;
  for (const auto &d : pci_devices_) {
    if (d->protocol() == pci_io) device = d.get();
  }
  if (device == nullptr) {
    Fault("PciIo.Pci access with a This that is no device's");
    return EFI_INVALID_PARAMETER;
  }
  if (!write) ++device->config_reads_;
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
