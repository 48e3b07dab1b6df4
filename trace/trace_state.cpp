#include "trace/trace_state.h"

constinit TraceState gTrace;
