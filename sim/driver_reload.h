// Returns every driver-wide value to what a freshly loaded image holds.
#pragma once

namespace sim {
void ReloadDriver();
}
