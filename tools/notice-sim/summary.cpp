#include "summary.h"

#include <cstdio>

#include "decision_rule.h"
#include "sim/call_log.h"

namespace preview {

namespace {

using Json = nlohmann::ordered_json;

Json RectJson(const BltRect &r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

Json OptionalByte(const std::optional<uint8_t> &v) { return v ? Json(*v) : Json(nullptr); }

Json NotificationJson(const Options &options, const Notification &n) {
  const DecisionRule rule = ExplainDecision(options, n);
  Json j;
  j["trigger"] = n.index;
  j["before_end_of_dxe"] = n.before_end_of_dxe;
  j["notified"] = n.notified;
  j["notice_mode"] = n.notice_mode;
  j["rule"] = rule.id;
  j["rule_mode"] = rule.expected_mode;
  j["picture"] = n.picture_read && n.picture_requested ? Json(sim::GuidText(*n.picture_requested)) : Json(nullptr);
  j["picture_requested"] = n.picture_requested ? Json(sim::GuidText(*n.picture_requested)) : Json(nullptr);
  j["blt"] = n.blt ? RectJson(*n.blt) : Json(nullptr);
  Json refused = Json::array();
  for (const auto &r : n.refused_blts) refused.push_back(RectJson(r));
  j["refused_blts"] = std::move(refused);
  j["console"] = n.console;
  j["cmos_0x30"] = OptionalByte(n.cmos_0x30);
  j["stall_us"] = n.stall_us;
  j["get_variable_calls"] = n.get_variable_calls;
  Json reads = Json::array();
  for (const auto &r : n.ec_reads) reads.push_back(Json{{"register", r.reg}, {"value", r.value}});
  j["ec_reads"] = std::move(reads);
  j["shutdown"] = n.shutdown;
  j["reason"] = n.reason ? Json(*n.reason) : Json(nullptr);
  j["start_us"] = n.start_us;
  j["end_us"] = n.end_us;
  return j;
}

std::string Printf(const char *format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof(text), format, args...);
  return text;
}

// "nvme0 and sata0", "nvme0, sata0 and sata1".
std::string JoinNames(const std::vector<std::string> &names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
    out += names[i];
  }
  return out;
}

std::string ConsoleQuote(const std::vector<std::string> &lines) {
  std::string out;
  for (const auto &line : lines) {
    std::string shown = line;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    if (!out.empty()) out += ", ";
    out += "\"" + shown + "\"";
  }
  return out;
}

std::string DescribeNotification(const Options &options, const RunResult &result, const Notification &n) {
  const DecisionRule rule = ExplainDecision(options, n);
  std::string s =
      "Trigger " + std::to_string(n.index + 1) + (n.before_end_of_dxe ? " (installed before end of DXE)" : "") + ": ";
  if (!n.notified) return s + "the driver did not react (" + rule.reason + ").";
  if (n.notice_mode == 0) return s + "no notice, because " + rule.reason + "; nothing was drawn.";

  s += "notice " + std::to_string(n.notice_mode) + " (" + NoticeMeaning(n.notice_mode) + ") because " + rule.reason;
  if (rule.expected_mode != n.notice_mode) {
    s += " [the rules give notice " + std::to_string(rule.expected_mode) + " from these inputs, but the driver chose " +
         std::to_string(n.notice_mode) + "]";
  }
  s += ". ";
  if (n.blt) {
    s += Printf("Its %llux%llu picture was drawn at x=%llu, y=%llu on the %ux%u screen",
                (unsigned long long)n.blt->width, (unsigned long long)n.blt->height, (unsigned long long)n.blt->x,
                (unsigned long long)n.blt->y, result.screen_width, result.screen_height);
  } else {
    s += "Nothing was drawn";
    if (n.reason) s += " (" + *n.reason + ")";
  }
  if (!n.console.empty()) s += "; the console showed " + ConsoleQuote(n.console);
  s += Printf("; the driver waited %.1f s", static_cast<double>(n.stall_us) / 1e6);
  if (n.cmos_0x30) s += Printf(" and left CMOS byte 0x30 at 0x%02X", *n.cmos_0x30);
  if (n.shutdown) s += ", then powered the machine off";
  return s + ".";
}

}  // namespace

nlohmann::ordered_json SummaryJson(const Options &options, const RunResult &result) {
  Json j;
  j["screen"] = Json{{"width", result.screen_width}, {"height", result.screen_height}};
  j["storage_absent"] = result.storage_absent;
  j["secure_boot_state"] = result.secure_boot_state;
  j["connected"] = result.connected;
  j["pool_in_use_bytes"] = result.pool_in_use_bytes;
  j["pool_peak_bytes"] = result.pool_peak_bytes;
  j["trace_hub_base"] = result.trace_hub_base;
  j["entry_status"] = sim::StatusText(result.entry_status);
  Json notifications = Json::array();
  for (const auto &n : result.notifications) notifications.push_back(NotificationJson(options, n));
  j["notifications"] = std::move(notifications);
  j["triggers_skipped"] = result.triggers_skipped;
  j["machine_off"] = result.machine_off;
  j["virtual_time_us"] = result.end_us;
  j["unexpected_calls"] = result.unexpected_calls;
  j["faults"] = result.faults;
  return j;
}

std::string HumanSummary(const Options &options, const RunResult &result) {
  std::string s = Printf("On a %ux%u screen ", result.screen_width, result.screen_height);
  s += result.connected.empty() ? std::string("with no storage controller connected at end of DXE")
                                : "with " + JoinNames(result.connected) + " connected at end of DXE";
  s += ", the driver ran " + std::to_string(result.notifications.size()) + " trigger notification" +
       (result.notifications.size() == 1 ? "" : "s") + ". ";
  for (const auto &n : result.notifications) s += DescribeNotification(options, result, n) + " ";
  if (result.triggers_skipped > 0) {
    s += std::to_string(result.triggers_skipped) + " later trigger" + (result.triggers_skipped == 1 ? "" : "s") +
         " never came: the machine was off. ";
  }
  if (!result.faults.empty() || !result.unexpected_calls.empty()) {
    s += Printf("The platform noted %zu misuse%s and %zu unexpected call%s (see summary.json). ", result.faults.size(),
                result.faults.size() == 1 ? "" : "s", result.unexpected_calls.size(),
                result.unexpected_calls.size() == 1 ? "" : "s");
  }
  s += Printf("Virtual time at the end: %.3f s.", static_cast<double>(result.end_us) / 1e6);
  return s;
}

}  // namespace preview
