// The run's timeline: every firmware call, port access and MMIO store in the
// order it happened, each as one JSON object with its virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/call_log.h"
#include "sim/machine/hardware.h"

namespace preview {

// What sits behind a port, for the timeline's "device" field.
std::string PortDeviceName(uint16_t port);

class Timeline {
 public:
  // Port accesses, MMIO stores and host steps are kept with the number of
  // firmware calls begun before them, so they can be merged with the
  // platform's call log (ordered by call start) afterwards.
  void AddPort(const sim::PortAccess &access, size_t calls_begun);
  void AddMmio(const sim::MmioStore &store, uint64_t time_ns, size_t calls_begun);
  void AddHostStep(std::string step, uint64_t time_ns, size_t calls_begun, nlohmann::ordered_json details = {});

  // The complete timeline, calls from the platform's log merged in.
  std::vector<nlohmann::ordered_json> Merge(const std::vector<sim::CallRecord> &calls) const;

 private:
  struct Entry {
    size_t calls_begun;
    nlohmann::ordered_json json;
  };
  std::vector<Entry> entries_;
};

nlohmann::ordered_json CallEvent(const sim::CallRecord &call);

}  // namespace preview
