// Writing a run's three files into the output folder.
#pragma once

#include <string>

#include "options.h"
#include "preview_run.h"

namespace preview {

// Writes DIR/screen.png, DIR/summary.json and DIR/events.jsonl, creating DIR
// when needed. Returns an empty string on success, otherwise what failed.
std::string WriteOutputs(const Options &options, const RunResult &result);

}  // namespace preview
