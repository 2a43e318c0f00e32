// Loaded by name from the platform tests: one exported function with a known answer.
#include "qvlink/platform/callconv.h"

extern "C" QV_EXPORT int qv_test_answer() { return 42; }
