// Probe: runs code from its own stack frame (the stack should not be
// executable).
#include "e2e/probes/probe_frame.h"

void BreakRule() {
  volatile UINT8 frame[16] = {};
  CallReturnAt(frame);
}
