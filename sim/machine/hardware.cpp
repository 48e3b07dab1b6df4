#include "sim/machine/hardware.h"

#include <algorithm>
#include <memory>

namespace sim {

namespace {
std::unique_ptr<Hardware> g_hardware;
}

Hardware &CurrentHardware() {
  if (!g_hardware) g_hardware = std::make_unique<Hardware>();
  return *g_hardware;
}

void ResetHardware() { g_hardware = std::make_unique<Hardware>(); }

Hardware::Hardware() {
  // A processor without the timestamp-counter leaf: highest basic leaf 0xD.
  SetCpuidLeaf(0, CpuidResult{0xD, 0x756E6547, 0x6C65746E, 0x49656E69});
}

Hardware::~Hardware() {
  for (PortDevice *device : devices_) device->attached_ = nullptr;
}

PortDevice::~PortDevice() { Detach(); }

void PortDevice::Attach() { Attach(CurrentHardware()); }

void PortDevice::Attach(Hardware &hardware) {
  Detach();
  for (uint16_t port : ports_) hardware.ports_[port] = this;
  hardware.devices_.push_back(this);
  attached_ = &hardware;
}

void PortDevice::Detach() {
  if (attached_ == nullptr) return;
  // A port another device took over since stays with that device.
  for (uint16_t port : ports_) {
    auto it = attached_->ports_.find(port);
    if (it != attached_->ports_.end() && it->second == this) attached_->ports_.erase(it);
  }
  std::erase(attached_->devices_, this);
  attached_ = nullptr;
}

uint8_t Hardware::PortRead(uint16_t port) {
  auto it = ports_.find(port);
  uint8_t value = it == ports_.end() ? 0xFF : it->second->PortRead(port);
  port_log_.push_back({now_ns_, port, value, false});
  if (on_port) on_port(port_log_.back());
  return value;
}

void Hardware::PortWrite(uint16_t port, uint8_t value) {
  port_log_.push_back({now_ns_, port, value, true});
  if (on_port) on_port(port_log_.back());
  auto it = ports_.find(port);
  if (it != ports_.end()) it->second->PortWrite(port, value);
}

std::vector<PortAccess> Hardware::PortLogFor(uint16_t port) const {
  std::vector<PortAccess> out;
  for (const auto &a : port_log_) {
    if (a.port == port) out.push_back(a);
  }
  return out;
}

void Hardware::SetCpuidLeaf(uint32_t leaf, CpuidResult value) { cpuid_[leaf] = value; }

void Hardware::SetMaxBasicLeaf(uint32_t leaf) {
  max_leaf_overridden_ = true;
  max_leaf_override_ = leaf;
}

CpuidResult Hardware::CpuidQuery(uint32_t leaf) {
  ++cpuid_calls_;
  uint32_t max_leaf = max_leaf_overridden_ ? max_leaf_override_ : cpuid_[0].Eax;
  if (leaf == 0) {
    CpuidResult r = cpuid_[0];
    r.Eax = max_leaf;
    return r;
  }
  if (leaf > max_leaf) leaf = max_leaf;  // out-of-range basic leaves repeat the highest one
  auto it = cpuid_.find(leaf);
  return it == cpuid_.end() ? CpuidResult{0, 0, 0, 0} : it->second;
}

uint64_t Hardware::ReadTsc() {
  ++tsc_reads_;
  return static_cast<uint64_t>(static_cast<unsigned __int128>(now_ns_) * tsc_hz_ / 1'000'000'000u);
}

void Hardware::Pause() {
  ++pause_count_;
  now_ns_ += pause_ns_;
}

void Hardware::RecordMmio(uint64_t address, unsigned width_bits, uint64_t value) {
  mmio_log_.push_back({address, width_bits, value});
  if (on_mmio) on_mmio(mmio_log_.back());
}

}  // namespace sim
