#include "timeline.h"

namespace preview {

namespace {

uint64_t Microseconds(uint64_t ns) { return ns / 1000; }

}  // namespace

std::string PortDeviceName(uint16_t port) {
  switch (port) {
    case 0x62:
    case 0x66:
      return "ec";
    case 0x72:
    case 0x73:
      return "cmos";
  }
  return "none";
}

void Timeline::AddPort(const sim::PortAccess &access, size_t calls_begun) {
  nlohmann::ordered_json j;
  j["t_us"] = Microseconds(access.time_ns);
  j["kind"] = access.write ? "port_write" : "port_read";
  j["port"] = sim::HexText(access.port);
  j["value"] = sim::HexText(access.value);
  j["device"] = PortDeviceName(access.port);
  entries_.push_back({calls_begun, std::move(j)});
}

void Timeline::AddMmio(const sim::MmioStore &store, uint64_t time_ns, size_t calls_begun) {
  nlohmann::ordered_json j;
  j["t_us"] = Microseconds(time_ns);
  j["kind"] = "trace_hub_store";
  j["address"] = sim::HexText(store.address);
  j["width"] = store.width_bits;
  j["value"] = sim::HexText(store.value);
  entries_.push_back({calls_begun, std::move(j)});
}

void Timeline::AddHostStep(std::string step, uint64_t time_ns, size_t calls_begun, nlohmann::ordered_json details) {
  nlohmann::ordered_json j;
  j["t_us"] = Microseconds(time_ns);
  j["kind"] = "host";
  j["step"] = std::move(step);
  if (details.is_object()) {
    for (auto &[key, value] : details.items()) j[key] = value;
  }
  entries_.push_back({calls_begun, std::move(j)});
}

nlohmann::ordered_json CallEvent(const sim::CallRecord &call) {
  nlohmann::ordered_json j;
  j["t_us"] = Microseconds(call.time_ns);
  j["kind"] = "call";
  j["name"] = call.name;
  nlohmann::ordered_json args = nlohmann::ordered_json::object();
  for (const auto &field : call.fields) args[field.key] = field.value;
  j["args"] = std::move(args);
  if (call.has_status) {
    j["status"] = sim::StatusText(call.status);
  } else {
    j["status"] = nullptr;
  }
  j["depth"] = call.depth;
  return j;
}

std::vector<nlohmann::ordered_json> Timeline::Merge(const std::vector<sim::CallRecord> &calls) const {
  // entries_ is already in time order and its calls_begun never decreases, so
  // one pass places each entry right after the last call begun before it.
  std::vector<nlohmann::ordered_json> out;
  out.reserve(calls.size() + entries_.size());
  size_t next_entry = 0;
  for (size_t begun = 0; begun <= calls.size(); ++begun) {
    while (next_entry < entries_.size() && entries_[next_entry].calls_begun <= begun) {
      out.push_back(entries_[next_entry++].json);
    }
    if (begun < calls.size()) out.push_back(CallEvent(calls[begun]));
  }
  while (next_entry < entries_.size()) out.push_back(entries_[next_entry++].json);
  return out;
}

}  // namespace preview
