// Probe: writes into its own read-only data section (read-only data should
// not be writable).
#include "e2e/probes/probe_frame.h"

namespace {

constexpr UINT8 kReadOnlyData[16] = {0x5A};

}  // namespace

void BreakRule() { WriteByteAt(kReadOnlyData); }
