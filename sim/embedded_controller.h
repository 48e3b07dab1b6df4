// A simulated embedded controller behind ports 0x62 (data) and 0x66
// (status/command) that answers the ACPI read command (0x80).
//
// Protocol, as the driver sees it:
//   - a byte written to either port sets input-buffer-full (status bit 1);
//     it stays set for `latency_polls` status reads, then the byte is taken;
//   - the read command followed by a register number makes the controller
//     look the register up; output-buffer-full (status bit 0) shows after
//     the same latency, and reading port 0x62 hands out the byte and clears it;
//   - reading port 0x62 with no output pending gives the last byte handed out.
//
// Each register holds a sequence of values for successive reads; the last
// one repeats. Registers never set read 0x00.
//
// Faulty kinds:
//   absent       no hardware: both ports read 0xFF, writes go nowhere
//   stuck-input  input-buffer-full never clears, nothing is ever taken
//   no-output    bytes are taken, but output-buffer-full is never set
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/machine/hardware.h"

namespace sim {

enum class EcKind { kIdle, kAbsent, kStuckInput, kNoOutput };

// "idle", "absent", "stuck-input", "no-output".
const char *EcKindName(EcKind kind);
std::optional<EcKind> ParseEcKind(std::string_view name);

// One register setting as written on a command line: "REG=V1,V2,...", each
// number decimal or 0x-prefixed hexadecimal, all within 0..255.
struct EcRegisterSetting {
  uint8_t reg = 0;
  std::vector<uint8_t> values;
};
std::optional<EcRegisterSetting> ParseEcRegisterSetting(std::string_view text);

// A byte the driver wrote to the controller, in order.
struct EcWrite {
  bool command;  // true: port 0x66; false: port 0x62
  uint8_t value;
};

// A register read the controller answered: which register, what it delivered.
struct EcServedRead {
  uint8_t reg;
  uint8_t value;
};

class EmbeddedController : public PortDevice {
 public:
  static constexpr uint16_t kDataPort = 0x62;
  static constexpr uint16_t kCommandPort = 0x66;
  static constexpr uint8_t kOutputFull = 0x01;
  static constexpr uint8_t kInputFull = 0x02;
  static constexpr uint8_t kReadCommand = 0x80;

  // Attach() puts it on ports 0x62 and 0x66 (PortDevice).
  explicit EmbeddedController(EcKind kind = EcKind::kIdle);

  // --- configuration --------------------------------------------------------
  void set_kind(EcKind kind) { kind_ = kind; }
  EcKind kind() const { return kind_; }
  // Status reads that show the controller busy after each byte written.
  void set_latency_polls(unsigned polls) { latency_polls_ = polls; }
  unsigned latency_polls() const { return latency_polls_; }
  void SetRegister(uint8_t reg, uint8_t value) { SetRegisterSequence(reg, {value}); }
  // Successive reads of reg deliver these values; the last one repeats.
  // An empty sequence makes the register read 0x00 again.
  void SetRegisterSequence(uint8_t reg, std::vector<uint8_t> values);
  void Apply(const EcRegisterSetting &setting) { SetRegisterSequence(setting.reg, setting.values); }

  // --- what the driver did --------------------------------------------------
  const std::vector<EcWrite> &writes() const { return writes_; }
  const std::vector<EcServedRead> &served_reads() const { return served_; }
  // How often each register was read so far.
  unsigned ReadsOf(uint8_t reg) const;
  unsigned status_reads() const { return status_reads_; }
  uint8_t status() const;

  // --- PortDevice -----------------------------------------------------------
  uint8_t PortRead(uint16_t port) override;
  void PortWrite(uint16_t port, uint8_t value) override;

 private:
  enum class Expect { kCommand, kRegister };

  void OnStatusPoll();
  void TakePendingByte();
  uint8_t NextValueOf(uint8_t reg);

  EcKind kind_;
  unsigned latency_polls_ = 0;
  std::map<uint8_t, std::vector<uint8_t>> registers_;
  std::map<uint8_t, unsigned> read_counts_;

  // Protocol state.
  Expect expect_ = Expect::kCommand;
  std::optional<EcWrite> pending_;  // byte written, not yet taken (input buffer full)
  std::optional<uint8_t> lookup_;   // register being looked up (output not yet full)
  unsigned busy_polls_left_ = 0;
  bool output_full_ = false;
  uint8_t data_latch_ = 0x00;

  std::vector<EcWrite> writes_;
  std::vector<EcServedRead> served_;
  unsigned status_reads_ = 0;
};

}  // namespace sim
