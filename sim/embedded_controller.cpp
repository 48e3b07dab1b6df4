#include "sim/embedded_controller.h"

#include <charconv>

namespace sim {

namespace {

constexpr struct {
  EcKind kind;
  const char *name;
} kKindNames[] = {
    {EcKind::kIdle, "idle"},
    {EcKind::kAbsent, "absent"},
    {EcKind::kStuckInput, "stuck-input"},
    {EcKind::kNoOutput, "no-output"},
};

// A byte value written as decimal or 0x-prefixed hexadecimal.
std::optional<uint8_t> ParseByte(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const char *end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end || value > 0xFF) return std::nullopt;
  return static_cast<uint8_t>(value);
}

}  // namespace

const char *EcKindName(EcKind kind) {
  for (const auto &entry : kKindNames) {
    if (entry.kind == kind) return entry.name;
  }
  return "?";
}

std::optional<EcKind> ParseEcKind(std::string_view name) {
  for (const auto &entry : kKindNames) {
    if (name == entry.name) return entry.kind;
  }
  return std::nullopt;
}

std::optional<EcRegisterSetting> ParseEcRegisterSetting(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  auto reg = ParseByte(text.substr(0, equals));
  if (!reg) return std::nullopt;

  EcRegisterSetting setting;
  setting.reg = *reg;
  std::string_view rest = text.substr(equals + 1);
  while (true) {
    const size_t comma = rest.find(',');
    auto value = ParseByte(rest.substr(0, comma));
    if (!value) return std::nullopt;
    setting.values.push_back(*value);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return setting;
}

EmbeddedController::EmbeddedController(EcKind kind) : PortDevice({kDataPort, kCommandPort}), kind_(kind) {}

void EmbeddedController::SetRegisterSequence(uint8_t reg, std::vector<uint8_t> values) {
  if (values.empty()) {
    registers_.erase(reg);
    return;
  }
  registers_[reg] = std::move(values);
}

unsigned EmbeddedController::ReadsOf(uint8_t reg) const {
  auto it = read_counts_.find(reg);
  return it == read_counts_.end() ? 0 : it->second;
}

uint8_t EmbeddedController::status() const {
  if (kind_ == EcKind::kAbsent) return 0xFF;
  uint8_t status = output_full_ ? kOutputFull : 0;
  if (kind_ == EcKind::kStuckInput || pending_) status |= kInputFull;
  return status;
}

uint8_t EmbeddedController::PortRead(uint16_t port) {
  if (kind_ == EcKind::kAbsent) return 0xFF;
  if (port == kCommandPort) {
    ++status_reads_;
    OnStatusPoll();
    return status();
  }
  output_full_ = false;
  return data_latch_;
}

void EmbeddedController::PortWrite(uint16_t port, uint8_t value) {
  writes_.push_back({port == kCommandPort, value});
  if (kind_ == EcKind::kAbsent || kind_ == EcKind::kStuckInput) return;

  // A byte written while the previous one is still pending replaces it.
  pending_ = writes_.back();
  busy_polls_left_ = latency_polls_;
  if (busy_polls_left_ == 0) TakePendingByte();
}

void EmbeddedController::OnStatusPoll() {
  if (!pending_) return;
  if (busy_polls_left_ > 0) {
    --busy_polls_left_;
    return;
  }
  TakePendingByte();
}

void EmbeddedController::TakePendingByte() {
  const EcWrite byte = *pending_;
  pending_.reset();

  if (byte.command) {
    expect_ = byte.value == kReadCommand ? Expect::kRegister : Expect::kCommand;
    return;
  }
  if (expect_ != Expect::kRegister) return;  // a data byte nobody asked for
  expect_ = Expect::kCommand;
  if (kind_ == EcKind::kNoOutput) return;

  data_latch_ = NextValueOf(byte.value);
  output_full_ = true;
  served_.push_back({byte.value, data_latch_});
}

uint8_t EmbeddedController::NextValueOf(uint8_t reg) {
  const unsigned index = read_counts_[reg]++;
  auto it = registers_.find(reg);
  if (it == registers_.end()) return 0x00;
  const std::vector<uint8_t> &values = it->second;
  return index < values.size() ? values[index] : values.back();
}

}  // namespace sim
