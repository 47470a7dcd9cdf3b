// A run that ends early ends with a RunExit carrying its standard-error text and status: the process that
// asked for the run goes on, and the programs write that text and exit with that status.
#include "run_exit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "command_line.h"
#include "criteres.h"
#include "global.h"
#include "test_util.h"

namespace {

// The RunExit that f ends with; fails the test when f returns.
template <typename F>
RunExit exitOf(F&& f) {
    try {
        f();
    } catch (const RunExit& e) {
        return e;
    }
    ADD_FAILURE() << "the run did not end early";
    return RunExit(-100, "");
}

TEST(RunExit, CarriesTheExactTextAndStatus) {
    struct Case {
        RunExit got;
        int status;
        std::string text;
    };
    const Case cases[] = {
        {exitOf([] { fatalError("100% %d"); }), 1, ">> Error: 100% %d\n"},
        {exitOf([] { endRun(-2, "No enougth space... %s", "\n"); }), -2, "No enougth space... \n"},
        // A refused control character is written as the byte itself, a NUL included.
        {exitOf([] { endRun(1, "('%c')\n", '\0'); }), 1, std::string("('\0')\n", 6)},
        {exitOf([] { endRunWith(0, ""); }), 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got.status(), c.status);
        EXPECT_EQ(c.got.text(), c.text);
    }
}

void printTwoLines(FILE* to) {
    fputs("usage: x\n", to);
    fprintf(to, "%d options\n", 2);
}

TEST(RunExit, RefusalsCarryTheUsageTheyPrint) {
    EXPECT_EQ(textPrintedBy(printTwoLines), "usage: x\n2 options\n");
    static const CommandLineRules rules = {1, [](const char*) {}, printTwoLines};
    Criteres cr{};
    char* argv[] = {const_cast<char*>("motbox"), const_cast<char*>("a.alph"), nullptr};
    const RunExit e = exitOf([&] { parseCommandLine(2, argv, &cr, rules); });
    EXPECT_EQ(e.status(), 1);
    EXPECT_EQ(e.text(), ">> Error: missing arguments: 1 given, 8 needed\nusage: x\n2 options\n");
}

int refusingBody(int, char** argv) {
    endRun(1, ">> Error: cannot open '%s'\n", argv[0]);
}
int finishingBody(int argc, char**) {
    return argc;
}

TEST(RunExit, ProgramsWriteTheTextAndExitWithTheStatus) {
    char name[] = "x.fa";
    char* argv[] = {name, nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(runProgram(refusingBody, 1, argv), 1);
    EXPECT_EQ(runProgram(finishingBody, 1, argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ">> Error: cannot open 'x.fa'\n");
}

}  // namespace
