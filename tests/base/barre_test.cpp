// The progress meter barre, repChar and entree.
// The meter writes to standard error, captured with gtest's CaptureStderr;
// its clock is replaced through the barreSetClock seam so that the time
// estimate is exact, and barreReset gives each test the program-start state.
#include "barre.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "as_program.h"
#include "support_test_util.h"

namespace {

time_t fakeNow = 0;
time_t fakeClock(time_t* t) {
    if (t) *t = fakeNow;
    return fakeNow;
}

std::string emptyBar() {
    return "  0% [" + std::string(60, ' ') + "]";
}
std::string finalLine() {
    return "\r100% [" + std::string(60, '.') + "] 00:00:00\n";
}
std::string bar(int percent, int cells) {
    char head[8];
    snprintf(head, sizeof head, "\r%3d%%", percent);
    return head + std::string(" [") + std::string(cells, '.') + std::string(60 - cells, ' ') + "]";
}

// Runs one call of barre and returns what it wrote.
std::string step(int n) {
    ::testing::internal::CaptureStderr();
    barre(n);
    return ::testing::internal::GetCapturedStderr();
}

class Barre : public ::testing::Test {
  protected:
    void SetUp() override {
        fakeNow = 1000;
        barreSetClock(fakeClock);
        barreReset();
    }
    void TearDown() override {
        barreSetClock(nullptr);
        barreReset();
    }
};

}  // namespace

TEST_F(Barre, StartDrawsTheEmptyBarWithoutLineFeed) {
    EXPECT_EQ(step(5), emptyBar());
    EXPECT_EQ(emptyBar().size(), 4u + 2u + 60u + 1u);
}

TEST_F(Barre, TaskOfOneStep) {
    EXPECT_EQ(step(1), emptyBar());
    EXPECT_EQ(step(0), finalLine());
    EXPECT_EQ(step(0), "");
    EXPECT_EQ(step(0), "");
}

TEST_F(Barre, TaskOfThreeSteps) {
    EXPECT_EQ(step(3), emptyBar());
    EXPECT_EQ(step(0), bar(33, 20));
    EXPECT_EQ(step(0), bar(66, 40));
    EXPECT_EQ(step(0), finalLine());
    EXPECT_EQ(step(0), "");
}

TEST_F(Barre, TaskOfThreeStepsShowsNoTimeEvenWhenSlow) {
    step(3);
    fakeNow += 500;
    EXPECT_EQ(step(0), bar(33, 20));
    fakeNow += 500;
    EXPECT_EQ(step(0), bar(66, 40));
    EXPECT_EQ(step(0), finalLine());
}

TEST_F(Barre, TaskOfHundredStepsFirstAdvancesAndTimeFromTheFourth) {
    EXPECT_EQ(step(100), emptyBar());
    EXPECT_EQ(step(0), "");  // 0 cells: nothing redrawn
    EXPECT_EQ(step(0), "\r  2% [." + std::string(59, ' ') + "]");
    EXPECT_EQ(step(0), "");  // still 1 cell
    fakeNow = 1010;          // 10 s for 4 steps: 10 x 96 / 4 = 240 s left
    EXPECT_EQ(step(0), bar(4, 2) + " 00:04:00");
}

TEST_F(Barre, TimeEstimateIsTruncatedAndSplitIntoHoursMinutesSeconds) {
    step(100);
    for (int i = 0; i < 3; i++) step(0);
    fakeNow = 1000 + 3725;  // 3725 x 96 / 4 = 89400 s = 24:50:00
    EXPECT_EQ(step(0), bar(4, 2) + " 24:50:00");
    EXPECT_EQ(step(0), bar(5, 3) + " 19:39:35");  // 3725 x 95 / 5 = 70775 s
    EXPECT_EQ(step(0), "");                       // step 6: still 3 cells
    fakeNow = 1000 + 2;                           // step 7: 2 x 93 / 7 = 26.57, truncated to 26
    EXPECT_EQ(step(0), bar(7, 4) + " 00:00:26");
}

TEST_F(Barre, EstimateUsesWholeElapsedSeconds) {
    step(100);
    for (int i = 0; i < 3; i++) step(0);
    fakeNow = 1000 + 3661 * 4 / 96 + 1;  // 153 s: 153 x 96 / 4 = 3672 s = 01:01:12
    EXPECT_EQ(step(0), bar(4, 2) + " 01:01:12");
}

TEST_F(Barre, TaskOfHundredStepsRedrawsOnlyWhenCellsChange) {
    std::string all = step(100);
    for (int i = 0; i < 100; i++) all += step(0);
    size_t redraws = 0;
    for (char c : all)
        if (c == '\r') redraws++;
    EXPECT_EQ(redraws, 59u + 1u);  // cells 1 to 59, then the final line
    size_t lineFeeds = 0;
    for (char c : all)
        if (c == '\n') lineFeeds++;
    EXPECT_EQ(lineFeeds, 1u);
    EXPECT_EQ(all.substr(all.size() - finalLine().size()), finalLine());
    EXPECT_EQ(step(0), "");
}

TEST_F(Barre, EveryRedrawShowsItsStep) {
    // Task of 7 steps: cells 60 x k / 7 all differ, so every advance but the last redraws.
    std::string expected = emptyBar();
    std::string got = step(7);
    for (int k = 1; k <= 6; k++) {
        expected += bar(100 * k / 7, 60 * k / 7);
        if (k > 3) expected += " 00:00:00";
        got += step(0);
    }
    expected += finalLine();
    got += step(0);
    EXPECT_EQ(got, expected);
}

TEST_F(Barre, AdvanceWithoutStartDrawsTheFinalLineOnce) {
    EXPECT_EQ(step(0), finalLine());
    EXPECT_EQ(step(0), "");
    EXPECT_EQ(step(0), "");
}

TEST_F(Barre, AdvanceAfterTheEndDrawsNothingUntilANewStart) {
    step(2);
    step(0);
    EXPECT_EQ(step(0), finalLine());
    EXPECT_EQ(step(0), "");
    EXPECT_EQ(step(2), emptyBar());
    EXPECT_EQ(step(0), bar(50, 30));
    EXPECT_EQ(step(0), finalLine());
}

TEST_F(Barre, NewStartInTheMiddleResetsTheMeter) {
    step(100);
    for (int i = 0; i < 50; i++) step(0);
    EXPECT_EQ(step(4), emptyBar());
    EXPECT_EQ(step(0), bar(25, 15));
}

TEST_F(Barre, LargeTaskDoesNotOverflowThePercentage) {
    // The engines start the meter with the cube of the models alphabet size.
    const int n = 126 * 126 * 126;
    step(n);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < n / 60 + 1; i++) barre(0);  // the first cell fills at step 33340
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), bar(1, 1) + " 00:00:00");
}

TEST_F(Barre, WritesNothingOnStandardOutput) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    barre(2);
    barre(0);
    barre(0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(RepChar, WritesTheCharacterCountTimes) {
    ::testing::internal::CaptureStderr();
    repChar('x', 5);
    repChar('-', 0);
    repChar('.', 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "xxxxx.");
}

TEST(Entree, PromptsOnStandardOutputAndReadsOneCharacter) {
    // Runs in a child: standard input and output are replaced by files.
    std::string in = ::testing::TempDir() + "support_entree_in.txt";
    std::string out = ::testing::TempDir() + "support_entree_out.txt";
    FILE* f = fopen(in.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("Qrest\n", f);
    fclose(f);
    EXPECT_EXIT(
        asProgram([&] {
            if (freopen(in.c_str(), "r", stdin) == nullptr || freopen(out.c_str(), "w", stdout) == nullptr)
                _exit(3);
            exit(entree() == 'Q' ? 0 : 2);
        }),
        ::testing::ExitedWithCode(0), supporttest::exactly(""));
    FILE* g = fopen(out.c_str(), "r");
    ASSERT_NE(g, nullptr);
    char buf[64] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, g);
    fclose(g);
    remove(in.c_str());
    remove(out.c_str());
    EXPECT_EQ(std::string(buf, n), "\n-- Type ENTER\n");
}
