#include "sim/driver_reload.h"

#include "core/driver_state.h"
#include "trace/trace_state.h"

namespace sim {

void ReloadDriver() {
  gDriver = DriverState{};
  gTrace = TraceState{};
}

}  // namespace sim
