#include "sim/driver_reload.h"

#include "core/driver_state.h"

namespace sim {

void ReloadDriver() { gDriver = DriverState{}; }

}  // namespace sim
