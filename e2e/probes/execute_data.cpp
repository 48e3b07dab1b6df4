// Probe: runs code from its own writable data section (data pages should not
// be executable).
#include "e2e/probes/probe_frame.h"

namespace {

// Initialised, so the linker keeps it in .data rather than in zero-filled memory.
volatile UINT8 gCodeInData[16] = {0xCC, 0xCC, 0xCC, 0xCC};

}  // namespace

void BreakRule() { CallReturnAt(gCodeInData); }
