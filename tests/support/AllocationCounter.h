// Counts the calling thread's allocations through the global operator new, so tests can check
// that a render allocates nothing. Linking this file (by calling any function below) replaces
// the global allocation functions of the test binary; under the sanitizers it stays out of
// their way and counting is off.
#pragma once

namespace TB {

// Whether counting works in this build.
bool AllocationCountingEnabled();
// Allocations made by the calling thread so far (0 when counting is off).
long ThreadAllocationCount();

}  // namespace TB
