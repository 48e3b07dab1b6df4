// The simulated machine behind the hardware seam (hw/hw_access.h).
//
// Port I/O is routed to attached devices, CPUID answers from a table of
// leaves, the timestamp counter follows the machine's virtual clock, and
// every MMIO store is recorded in order. One machine is active at a time.
//
// This folder is a library of its own (notice_machine): the host build's
// driver library links it for the seam (hw_access_host.cpp), and it links
// neither the driver nor the simulated firmware platform.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

#include "hw/hw_access.h"

namespace sim {

class Hardware;

// A device answering on a fixed set of I/O ports, as a plain register file.
// Attach() routes its ports of one machine to it; Detach(), or destroying
// the device, gives them back. A machine that goes away first (a platform
// reset replaces it) leaves the device detached.
class PortDevice {
 public:
  explicit PortDevice(std::initializer_list<uint16_t> ports) : ports_(ports) {}
  virtual ~PortDevice();
  PortDevice(const PortDevice &) = delete;
  PortDevice &operator=(const PortDevice &) = delete;

  // Answers on its ports of the machine (the current one by default); a
  // device attached elsewhere leaves that machine first.
  void Attach(Hardware &hardware);
  void Attach();
  void Detach();
  bool attached() const { return attached_ != nullptr; }

  virtual uint8_t PortRead(uint16_t port) = 0;
  virtual void PortWrite(uint16_t port, uint8_t value) = 0;

 private:
  friend class Hardware;
  std::vector<uint16_t> ports_;
  Hardware *attached_ = nullptr;
};

struct PortAccess {
  uint64_t time_ns;
  uint16_t port;
  uint8_t value;
  bool write;
};

struct MmioStore {
  uint64_t address;
  unsigned width_bits;
  uint64_t value;
};

class Hardware {
 public:
  Hardware();
  ~Hardware();  // leaves every device still attached detached
  Hardware(const Hardware &) = delete;
  Hardware &operator=(const Hardware &) = delete;

  // --- port I/O ---------------------------------------------------------
  // Reads of a port with no device give 0xFF (a floating ISA bus); writes are
  // dropped. Devices come and go through PortDevice::Attach and Detach.
  uint8_t PortRead(uint16_t port);
  void PortWrite(uint16_t port, uint8_t value);
  const std::vector<PortAccess> &port_log() const { return port_log_; }
  std::vector<PortAccess> PortLogFor(uint16_t port) const;

  // --- CPUID ------------------------------------------------------------
  // Leaf 0 reports the highest basic leaf (the largest leaf set). A leaf above
  // it answers with the highest leaf's data, as Intel processors do.
  void SetCpuidLeaf(uint32_t leaf, CpuidResult value);
  void SetMaxBasicLeaf(uint32_t leaf);  // overrides leaf 0's EAX
  CpuidResult CpuidQuery(uint32_t leaf);
  unsigned cpuid_calls() const { return cpuid_calls_; }

  // --- virtual clock and timestamp counter ------------------------------
  // The clock counts nanoseconds; the counter runs at tsc_hz from it.
  uint64_t now_ns() const { return now_ns_; }
  void AdvanceNs(uint64_t ns) { now_ns_ += ns; }
  void set_tsc_hz(uint64_t hz) { tsc_hz_ = hz; }
  uint64_t tsc_hz() const { return tsc_hz_; }
  // Each PAUSE lets this much virtual time pass.
  void set_pause_ns(uint64_t ns) { pause_ns_ = ns; }
  uint64_t ReadTsc();
  void Pause();
  uint64_t pause_count() const { return pause_count_; }
  uint64_t tsc_reads() const { return tsc_reads_; }

  // --- MMIO stores ------------------------------------------------------
  void RecordMmio(uint64_t address, unsigned width_bits, uint64_t value);
  const std::vector<MmioStore> &mmio_log() const { return mmio_log_; }
  void ClearMmioLog() { mmio_log_.clear(); }

  // Observers see every access as it happens (the preview tool's timeline).
  std::function<void(const PortAccess &)> on_port;
  std::function<void(const MmioStore &)> on_mmio;

 private:
  friend class PortDevice;
  std::map<uint16_t, PortDevice *> ports_;  // the device answering each port
  std::vector<PortDevice *> devices_;       // every device attached, in order
  std::vector<PortAccess> port_log_;
  std::map<uint32_t, CpuidResult> cpuid_;
  bool max_leaf_overridden_ = false;
  uint32_t max_leaf_override_ = 0;
  unsigned cpuid_calls_ = 0;
  uint64_t now_ns_ = 0;
  uint64_t tsc_hz_ = 2'000'000'000;
  uint64_t pause_ns_ = 1000;
  uint64_t pause_count_ = 0;
  uint64_t tsc_reads_ = 0;
  std::vector<MmioStore> mmio_log_;
};

// The active machine; a fresh one is made by sim::Platform (or ResetHardware).
Hardware &CurrentHardware();
void ResetHardware();

}  // namespace sim
