// The quorum from the command-line percentage, and its warning and refusal.

#include "quorum.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "as_program.h"
#include "run_messages.h"

namespace {

const DriverMessages kTestMessages = {.quorumIsOne = "quorum one", .quorumBelowOne = "quorum below one"};

TEST(QuorumTest, PercentageOfTheSequencesRoundedUp) {
    struct Case {
        float percent;
        int n;
        int quorum;
    };
    const Case cases[] = {
        {0, 10, 7},
        {0, 3, 3},
        {0, 2, 2},
        {50, 3, 2},
        {10, 5, 1},
        {100, 7, 7},
        {150, 3, 5},
        {33.4f, 3, 2},
        {-10, 5, 0},
        {0.1f, 2, 1},
        {0, 1000, 700},
        {0, 2000000000, 1400000000},
        {1e30f, 10, INT_MAX},
        {-1e30f, 10, INT_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(computeQuorum(c.percent, c.n), c.quorum) << c.percent << "% of " << c.n;
    EXPECT_EQ(computeQuorum(std::nanf(""), 10), 0);
}

TEST(QuorumTest, OneIsAWarningAndBelowOneIsFatal) {
    ::testing::internal::CaptureStderr();
    checkQuorum(1, kTestMessages);
    checkQuorum(2, kTestMessages);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "> Warning: quorum one\n");
    for (int q : {0, -3, INT_MIN})
        EXPECT_EXIT(asProgram([&] { checkQuorum(q, kTestMessages); }), ::testing::ExitedWithCode(1),
                    "^>> Error: quorum below one\n$");
}

}  // namespace
