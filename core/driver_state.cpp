#include "core/driver_state.h"

DriverState gDriver;
