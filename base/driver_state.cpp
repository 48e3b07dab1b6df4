#include "base/driver_state.h"

DriverState gDriver;
