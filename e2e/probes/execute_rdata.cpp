// Probe: runs code from its own read-only data section (read-only data should
// not be executable). The RET is stored there at build time.
#include "e2e/probes/probe_frame.h"

namespace {

constexpr UINT8 kReturnInReadOnlyData[16] = {0xC3};

}  // namespace

void BreakRule() { CallCodeAt(kReturnInReadOnlyData); }
