// Which rule of the notice decision produced a notification's mode: what the
// driver read (EC registers, SecureBoot, storage) handed to the driver's own
// decision rule. The mode itself always comes from the driver's run; this names
// the reason and lets the summary flag a run whose choice does not follow
// from its inputs.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"
#include "preview_run.h"

namespace preview {

struct DecisionRule {
  std::string id;         // "storage_absent", "secure_boot_not_enabled", "ec_flag", "ec_critical_level",
                          // "ec_state_code_1", "previous_notice", "nothing_to_show", "not_notified"
  std::string reason;     // a sentence fragment saying why
  uint8_t expected_mode;  // the mode this rule gives
};

DecisionRule ExplainDecision(const Options &options, const Notification &n);

// A few words on what a notice means ("Secure Boot not enabled").
std::string NoticeMeaning(unsigned mode);

}  // namespace preview
