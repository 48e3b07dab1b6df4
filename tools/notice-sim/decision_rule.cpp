#include "decision_rule.h"

#include "core/notice_decision.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace preview {

namespace {

std::string Hex2(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", v);
  return text;
}

std::vector<uint8_t> ReadsOf(const Notification &n, uint8_t reg) {
  std::vector<uint8_t> values;
  for (const auto &r : n.ec_reads) {
    if (r.reg == reg) values.push_back(r.value);
  }
  return values;
}

std::string SecureBootReason(const Options &options, const Notification &n) {
  if (n.get_variable_calls == 0) {
    return "Secure Boot was already found not enabled earlier in this boot (state " + Hex2(n.secure_boot_state) + ")";
  }
  switch (options.secure_boot) {
    case SecureBootVariable::kMissing:
      return "the SecureBoot variable does not exist, so its read failed";
    case SecureBootVariable::kBig:
      return "the SecureBoot variable is two bytes long, so the one-byte read was refused";
    case SecureBootVariable::kByte:
      break;
  }
  return "the SecureBoot variable holds " + Hex2(n.secure_boot_state) + ", not 1";
}

}  // namespace

std::string NoticeMeaning(unsigned mode) {
  switch (mode) {
    case 0:
      return "no notice";
    case 1:
      return "EC state code 1";
    case 2:
      return "EC flag: register 0x0D bit 1";
    case 3:
      return "critical EC level, power-off";
    case 4:
      return "no storage controller";
    case 5:
      return "Secure Boot not enabled";
    case 6:
      return "the sixth picture";
  }
  return "mode " + std::to_string(mode);
}

DecisionRule ExplainDecision(const Options &options, const Notification &n) {
  if (!n.notified) {
    return {"not_notified", "the driver's trigger notification did not run", n.mode_before};
  }
  // The readings the driver took, handed to the driver's own rule.
  const auto states = ReadsOf(n, kEcStateRegister);
  const auto levels = ReadsOf(n, kEcLevelRegister);
  const auto flags = ReadsOf(n, kEcFlagRegister);
  NoticeReadings readings{};
  readings.State = states.empty() ? 0 : states.front();
  readings.Level = levels.empty() ? 0 : levels.front();
  readings.LevelAgain = levels.size() >= 2 ? levels[1] : readings.Level;
  readings.Flag = flags.empty() ? 0 : flags.front();
  readings.SecureBootState = n.secure_boot_state;
  readings.StorageAbsent = n.storage_absent;
  readings.PreviousMode = n.mode_before;
  const NoticeRule rule = DecidingRule(readings);
  const uint8_t mode = NoticeOfRule(rule, n.mode_before);
  const uint8_t code = readings.State & kEcStateCodeMask;

  switch (rule) {
    case NoticeRule::NoStorage: {
      const std::string reason = n.before_end_of_dxe
                                     ? "the trigger came before end of DXE, so no storage controller had been found yet"
                                     : "no NVM Express or SATA controller was found at end of DXE";
      return {"storage_absent", reason + "; this outranks every other rule", mode};
    }
    case NoticeRule::SecureBootOff:
      return {"secure_boot_not_enabled", SecureBootReason(options, n) + "; this outranks the EC rules", mode};
    case NoticeRule::EcFlag:
      return {"ec_flag", "EC register 0x0D reads " + Hex2(readings.Flag) + ", bit 1 set", mode};
    case NoticeRule::CriticalLevel:
      return {"ec_critical_level",
              "EC state code 2 with level " + std::to_string(readings.Level) + " and, a second later, " +
                  std::to_string(readings.LevelAgain) + " (5 or below counts as critical)",
              mode};
    case NoticeRule::EcStateCode1:
      return {"ec_state_code_1", "EC register 0x80 reads " + Hex2(readings.State) + ", state code 1", mode};
    case NoticeRule::PreviousNotice:
      break;
  }
  // Why the EC rules did not apply, for the two answers below.
  std::string ec_state = "the EC reports nothing (state code " + std::to_string(code) + ", register 0x0D " +
                         (flags.empty() ? std::string("not read") : Hex2(flags.front())) + ")";
  if (code == kEcStateCheckLevel) {
    std::string seen;
    for (uint8_t level : levels) seen += (seen.empty() ? "" : " then ") + std::to_string(level);
    ec_state = "the EC reports state code 2 but the level (" + seen + ") is not critical";
  }
  if (mode != 0) {
    return {"previous_notice",
            "no rule applied this time (" + ec_state + "), so the previous notification's notice " +
                std::to_string(mode) + " stays",
            mode};
  }
  return {"nothing_to_show", "storage is present, Secure Boot is enabled and " + ec_state, 0};
}

}  // namespace preview
