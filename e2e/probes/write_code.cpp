// Probe: writes into its own code section (code pages should be read-only).
#include "e2e/probes/probe_frame.h"

void BreakRule() { WriteByteAt(reinterpret_cast<const void *>(&BreakRule)); }
