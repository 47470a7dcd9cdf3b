// Result files of motbox-delta: window counts, the file number of a window combination and back, and the
// creation of the files with their names, ".namefile" and the reserved header.
#include "criteres_delta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

struct Spacer {
    int min;
    int max;
    int delta;
};

// A criteria record with one box more than spacers, as the driver fills it; its arrays are freed with it.
struct TestCriteres {
    explicit TestCriteres(const std::vector<Spacer>& spacers) {
        cr.nbbloc = static_cast<signed char>(spacers.size() + 1);
        allocBloc(&cr, cr.nbbloc);
        for (size_t i = 0; i < spacers.size(); i++) {
            cr.sauts[i] = {spacers[i].min, spacers[i].max};
            cr.deltas[i] = spacers[i].delta;
        }
    }
    ~TestCriteres() {
        free(cr.compobloc);
        free(cr.errbloc);
        free(cr.bornesbloc);
        free(cr.sauts);
        free(cr.deltas);
        free(cr.flagcompobloc);
        free(cr.palbloc);
    }
    TestCriteres(const TestCriteres&) = delete;
    TestCriteres& operator=(const TestCriteres&) = delete;
    Criteres cr{};
};

// The 320-byte reserved header: three lines of 79 blanks and one of 79 "=".
const std::string kHeader = std::string(79, ' ') + "\n" + std::string(79, ' ') + "\n" + std::string(79, ' ') +
                            "\n" + std::string(79, '=') + "\n";

// Runs the body in a fresh temporary directory, since ".namefile" is written in the current one.
class InTempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldDir_ = buf;
        dir_ = makeTempDir();
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(oldDir_.c_str()), 0);
        removeTree(dir_);
    }
    std::string oldDir_;
    std::string dir_;
};

void closeAll(std::vector<FILE*>& table) {
    for (FILE*& fp : table) {
        if (fp != nullptr) fclose(fp);
        fp = nullptr;
    }
}

TEST(CriteresDelta, WindowAndFileCounts) {
    struct Case {
        std::vector<Spacer> spacers;
        std::vector<int> windows;
        int files;
    };
    const std::vector<Case> cases = {
        {{{3, 6, 1}}, {2}, 2},
        {{{3, 6, 1}, {0, 4, 1}}, {2, 3}, 6},
        {{{2, 2, 0}}, {1}, 1},
        {{{0, 3, 0}, {5, 9, 2}}, {4, 1}, 4},  // Delta 0: one window per length
        {{{10, 20, 2}, {0, 1, 0}, {4, 7, 1}}, {7, 2, 2}, 28},
        {{{3, 6, 2}}, {0}, 0},  // range narrower than a window
        {{{3, 5, 2}}, {-1}, 0},
        {{{0, 4, 1}, {5, 4, 0}}, {3, 0}, 0},   // maximum below minimum
        {{{3, 6, 2147483647}}, {INT_MIN}, 0},  // 2 x Delta beyond int: clamped, not wrapped
    };
    for (const Case& c : cases) {
        TestCriteres crOwned(c.spacers);
        const Criteres& cr = crOwned.cr;
        for (size_t i = 0; i < c.windows.size(); i++)
            EXPECT_EQ(nbFenetres(&cr, static_cast<int>(i)), c.windows[i]);
        EXPECT_EQ(nbFichiers(&cr), c.files);
    }
}

TEST(CriteresDelta, FileCountBeyondIntRangeIsReported) {
    std::vector<Spacer> spacers(4, {0, 999, 0});  // 1000^4 files
    TestCriteres crOwned(spacers);
    const Criteres& cr = crOwned.cr;
    EXPECT_EQ(nbFichiers(&cr), -1);
}

// Every file number decodes to digits within the window counts, and encoding those digits (as centres)
// gives the number back; the numbers follow the order of the combinations, first spacer most significant.
TEST(CriteresDelta, RoundTripOverAllFileNumbers) {
    const std::vector<std::vector<Spacer>> layouts = {
        {{3, 6, 1}},
        {{3, 6, 1}, {0, 4, 1}},
        {{0, 3, 0}, {5, 9, 2}},
        {{10, 20, 2}, {0, 1, 0}, {4, 7, 1}},
        {{1, 1, 0}, {0, 5, 0}, {2, 4, 1}, {7, 12, 1}},
    };
    for (const auto& layout : layouts) {
        TestCriteres crOwned(layout);
        const Criteres& cr = crOwned.cr;
        const int spacers = cr.nbbloc - 1;
        const int files = nbFichiers(&cr);
        std::vector<int> digits(static_cast<size_t>(spacers));
        std::vector<int> previous;
        for (int k = 0; k < files; k++) {
            ASSERT_EQ(file2Delta(k, digits.data(), &cr), 1) << "file " << k;
            std::vector<int> centres(static_cast<size_t>(spacers));
            for (int i = 0; i < spacers; i++) {
                ASSERT_GE(digits[i], 0);
                ASSERT_LT(digits[i], nbFenetres(&cr, i));
                centres[i] = cr.sauts[i].min + cr.deltas[i] + digits[i];
            }
            EXPECT_EQ(delta2File(centres.data(), &cr), k);
            if (!previous.empty()) {
                EXPECT_LT(previous, digits) << "file " << k;
            }
            previous = digits;
        }
    }
}

TEST(CriteresDelta, ExamplesOfTheTwoAndSixFileLayouts) {
    TestCriteres twoOwned({{3, 6, 1}});
    const Criteres& two = twoOwned.cr;
    int centre = 5;
    EXPECT_EQ(delta2File(&centre, &two), 1);
    int digit = -1;
    EXPECT_EQ(file2Delta(1, &digit, &two), 1);
    EXPECT_EQ(digit, 1);  // window 4 to 6

    TestCriteres sixOwned({{3, 6, 1}, {0, 4, 1}});
    const Criteres& six = sixOwned.cr;
    int centres[2] = {5, 3};
    EXPECT_EQ(delta2File(centres, &six), 5);
    int digits[2] = {-1, -1};
    EXPECT_EQ(file2Delta(5, digits, &six), 1);
    EXPECT_EQ(digits[0], 1);
    EXPECT_EQ(digits[1], 2);
}

TEST(CriteresDelta, NumberOutOfRangeWarns) {
    TestCriteres sixOwned({{3, 6, 1}, {0, 4, 1}});
    const Criteres& six = sixOwned.cr;
    for (int k : {6, 7, 100, -1, -6}) {
        int digits[2] = {0, 0};
        testing::internal::CaptureStderr();
        EXPECT_EQ(file2Delta(k, digits, &six), 0) << "file " << k;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "> Warning: file2Delta: conversion error\n");
    }
    // The last number is still valid and silent.
    int digits[2];
    testing::internal::CaptureStderr();
    EXPECT_EQ(file2Delta(5, digits, &six), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CriteresDelta, ManySpacersBeyondAHundred) {
    // 120 spacers: windows are coded in a table sized from the criteria, not in a fixed array.
    std::vector<Spacer> spacers(120, {0, 0, 0});
    spacers[0] = {2, 5, 0};
    spacers[119] = {1, 3, 1};
    TestCriteres crOwned(spacers);
    const Criteres& cr = crOwned.cr;
    ASSERT_EQ(nbFichiers(&cr), 4);
    std::vector<int> centres(120, 0);
    centres[0] = 4;
    centres[119] = 2;
    EXPECT_EQ(delta2File(centres.data(), &cr), 2);
    std::vector<int> digits(120, -1);
    EXPECT_EQ(file2Delta(3, digits.data(), &cr), 1);
    EXPECT_EQ(digits[0], 3);
    EXPECT_EQ(digits[60], 0);
    EXPECT_EQ(digits[119], 0);
}

using CriteresDeltaFiles = InTempDir;

TEST_F(CriteresDeltaFiles, SixFilesNamedListedAndHeaded) {
    TestCriteres crOwned({{3, 6, 1}, {0, 4, 1}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(6, nullptr);
    ASSERT_EQ(initFiles(table.data(), "res", &cr), 1);
    const std::vector<std::string> names = {"res[3-5][0-2]", "res[3-5][1-3]", "res[3-5][2-4]",
                                            "res[4-6][0-2]", "res[4-6][1-3]", "res[4-6][2-4]"};
    std::string list;
    for (const std::string& n : names) list += n + "\n";
    EXPECT_EQ(readFile(kNameFile), list);
    // File k of the table is the k-th created: write its number through the table and read it back by name.
    for (size_t k = 0; k < table.size(); k++) {
        ASSERT_NE(table[k], nullptr);
        fprintf(table[k], "file %zu\n", k);
    }
    closeAll(table);
    for (size_t k = 0; k < names.size(); k++)
        EXPECT_EQ(readFile(names[k]), kHeader + "file " + std::to_string(k) + "\n") << names[k];
}

TEST_F(CriteresDeltaFiles, DeltaZeroGivesOneFilePerLength) {
    TestCriteres crOwned({{2, 2, 0}, {0, 2, 0}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(3, nullptr);
    ASSERT_EQ(initFiles(table.data(), "out", &cr), 1);
    closeAll(table);
    EXPECT_EQ(readFile(kNameFile), "out[2-2][0-0]\nout[2-2][1-1]\nout[2-2][2-2]\n");
    EXPECT_EQ(readFile("out[2-2][1-1]"), kHeader);
}

TEST_F(CriteresDeltaFiles, HeaderMayReserveMoreLines) {
    TestCriteres crOwned({{1, 1, 0}});
    const Criteres& cr = crOwned.cr;
    FILE* only = nullptr;
    ASSERT_EQ(initFiles(&only, "r", &cr, 5), 1);
    fclose(only);
    std::string expected;
    for (int i = 0; i < 5; i++) expected += std::string(79, ' ') + "\n";
    EXPECT_EQ(readFile("r[1-1]"), expected + std::string(79, '=') + "\n");
}

TEST_F(CriteresDeltaFiles, RangeNarrowerThanWindowCreatesNoFile) {
    TestCriteres crOwned({{0, 4, 1}, {3, 6, 2}});
    const Criteres& cr = crOwned.cr;
    FILE* none = nullptr;
    EXPECT_EQ(initFiles(&none, "res", &cr), 1);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(readFile(kNameFile), "");
}

TEST_F(CriteresDeltaFiles, NamesLongerThan511CharactersAreKeptWhole) {
    // A deep directory prefix makes every path longer than the 511 characters a fixed buffer would hold.
    std::string dir;
    for (int i = 0; i < 6; i++) {
        dir += std::string(100, 'd' + static_cast<char>(i)) + "/";
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    }
    TestCriteres crOwned({{3, 6, 1}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(2, nullptr);
    ASSERT_EQ(initFiles(table.data(), (dir + "res").c_str(), &cr), 1);
    closeAll(table);
    EXPECT_EQ(readFile(kNameFile), dir + "res[3-5]\n" + dir + "res[4-6]\n");
    EXPECT_EQ(readFile(dir + "res[4-6]"), kHeader);
}

TEST_F(CriteresDeltaFiles, UncreatableResultFileFails) {
    TestCriteres crOwned({{3, 6, 1}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(2, nullptr);
    EXPECT_EQ(initFiles(table.data(), "missing-dir/res", &cr), 0);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_EQ(readFile(kNameFile), "");
}

TEST_F(CriteresDeltaFiles, FailureStopsAfterTheFilesAlreadyMade) {
    // The second file's name is taken by a directory: the first stays created, open and listed.
    ASSERT_EQ(mkdir("res[4-6]", 0700), 0);
    TestCriteres crOwned({{3, 6, 1}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(2, nullptr);
    EXPECT_EQ(initFiles(table.data(), "res", &cr), 0);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[1], nullptr);
    closeAll(table);
    EXPECT_EQ(readFile(kNameFile), "res[3-5]\n");
    EXPECT_EQ(readFile("res[3-5]"), kHeader);
}

TEST_F(CriteresDeltaFiles, UncreatableNameFileFails) {
    ASSERT_EQ(mkdir(kNameFile, 0700), 0);
    TestCriteres crOwned({{3, 6, 1}});
    const Criteres& cr = crOwned.cr;
    std::vector<FILE*> table(2, nullptr);
    EXPECT_EQ(initFiles(table.data(), "res", &cr), 0);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_FALSE(fileExists("res[3-5]"));
}

TEST_F(CriteresDeltaFiles, OverAHundredSpacersDoNotOverflow) {
    // 110 spacers of one window each: the name outgrows what the file system accepts for one file name, so
    // creation fails cleanly instead of writing past a fixed path buffer.
    std::vector<Spacer> spacers(110, {0, 0, 0});
    TestCriteres crOwned(spacers);
    const Criteres& cr = crOwned.cr;
    FILE* only = nullptr;
    EXPECT_EQ(initFiles(&only, "r", &cr), 0);
    EXPECT_EQ(only, nullptr);
}

}  // namespace
