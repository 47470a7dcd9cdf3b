#include "user_time.h"

#include <sys/times.h>
#include <unistd.h>

float userTimeTicks() {
    tms now{};
    times(&now);
    return static_cast<float>(now.tms_utime);
}

float userSecondsSince(float startTicks) {
    return (userTimeTicks() - startTicks) / static_cast<float>(sysconf(_SC_CLK_TCK));
}
