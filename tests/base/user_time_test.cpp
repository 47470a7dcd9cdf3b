// The process's user CPU time, as the result files report it.

#include "user_time.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(UserTimeTest, CountsCpuTimeSpentSinceTheStart) {
    float start = userTimeTicks();
    EXPECT_GE(userSecondsSince(start), 0.0f);
    // Burn CPU until the user time moves; a working clock gets there long before the wall-clock limit.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    volatile unsigned long sink = 0;
    while (userSecondsSince(start) < 0.05f && std::chrono::steady_clock::now() < deadline)
        for (int i = 0; i < 100000; i++) sink = sink + i;
    float spent = userSecondsSince(start);
    EXPECT_GE(spent, 0.05f);
    EXPECT_LT(spent, 20.0f);
}

}  // namespace
