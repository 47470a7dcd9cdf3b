#pragma once
// The process's user CPU time, as the result files report it.

// User CPU time of the process so far, in clock ticks, single precision.
float userTimeTicks();
// Seconds of user CPU time since startTicks (from userTimeTicks), in single precision.
float userSecondsSince(float startTicks);
