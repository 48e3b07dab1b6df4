// Writing a run's files: the contact sheet, and DIR/screen.png,
// DIR/summary.json and DIR/events.jsonl, all whole or none changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "preview_run.h"

namespace preview {

// Writes `contact_sheet` (PNG bytes) to options.contact_sheet when given, and
// with options.out_dir the run's three files, creating the folder when needed.
// Each file goes to a temporary file beside it first; only when all are
// written are they renamed over their targets, so a failure leaves every
// target as it was. `result` may be null when no boot was run. Returns an
// empty string on success, otherwise what failed.
std::string WriteOutputs(const Options &options, const RunResult *result,
                         const std::optional<std::vector<uint8_t>> &contact_sheet);

}  // namespace preview
