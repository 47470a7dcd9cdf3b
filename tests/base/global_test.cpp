// fatalError and warning.
#include "global.h"

#include <gtest/gtest.h>

#include "as_program.h"
#include "support_test_util.h"

using supporttest::exactly;

TEST(FatalError, WritesPrefixMessageAndLineFeedThenExitsWithOne) {
    EXPECT_EXIT(asProgram([&] { fatalError("criteres: allocBloc: allocation error"); }),
                ::testing::ExitedWithCode(1), exactly(">> Error: criteres: allocBloc: allocation error\n"));
}

TEST(FatalError, MessageEndingWithLineFeedIsFollowedByAnEmptyLine) {
    EXPECT_EXIT(asProgram([&] { fatalError("main: cannot allocate 'text'\n"); }),
                ::testing::ExitedWithCode(1), exactly(">> Error: main: cannot allocate 'text'\n\n"));
}

TEST(FatalError, PercentSignsInTheMessageArePrintedAsIs) {
    EXPECT_EXIT(asProgram([&] { fatalError("100% %d"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: 100% %d\n"));
}

TEST(FatalError, FlushesStandardOutputOnExit) {
    // Open streams are flushed by the normal process exit.
    std::string path = ::testing::TempDir() + "support_fatal_stdout.txt";
    EXPECT_EXIT(asProgram([&] {
                    if (freopen(path.c_str(), "w", stdout) == nullptr) _exit(3);
                    printf("pending report");
                    fatalError("stop");
                }),
                ::testing::ExitedWithCode(1), exactly(">> Error: stop\n"));
    FILE* f = fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[64] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    remove(path.c_str());
    EXPECT_EQ(std::string(buf, n), "pending report");
}

TEST(Warning, WritesPrefixAndLineFeedAndReturns) {
    ::testing::internal::CaptureStderr();
    warning("quorum value is 1 sequence!");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "> Warning: quorum value is 1 sequence!\n");
}

TEST(Warning, MessageEndingWithLineFeedGetsASecondOne) {
    ::testing::internal::CaptureStderr();
    warning("a\n");
    warning("b");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "> Warning: a\n\n> Warning: b\n");
}

TEST(Warning, WritesNothingOnStandardOutput) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    warning("x");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(err, "> Warning: x\n");
}
