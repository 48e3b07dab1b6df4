// What a run produced, as summary.json and as a paragraph for people.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "options.h"
#include "preview_run.h"

namespace preview {

nlohmann::ordered_json SummaryJson(const Options &options, const RunResult &result);

// One paragraph: which notice, the rule that decided it, where it was drawn.
std::string HumanSummary(const Options &options, const RunResult &result);

}  // namespace preview
