// Criteria record, spacer code table, compositions and
// palindromes (motbox build of the library).
#include "criteres.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "alphabet.h"
#include "as_program.h"
#include "support_test_util.h"

using supporttest::exactly;

namespace {

// A criteria record through allocBloc, freed at the end of the test.
class Record {
  public:
    explicit Record(int nb) {
        memset(&cr, 0, sizeof cr);
        cr.nbbloc = static_cast<signed char>(nb);
        cr.flagpal = 7;  // allocBloc must clear it
        allocBloc(&cr, nb);
    }
    ~Record() {
        if (cr.compobloc)
            for (int b = 0; b < cr.nbbloc; b++) free(cr.compobloc[b]);
        free(cr.compobloc);
        free(cr.errbloc);
        free(cr.compo);
        free(cr.bornesbloc);
        free(cr.sauts);
        free(cr.flagcompobloc);
        free(cr.palbloc);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    void spacers(const std::vector<std::pair<int, int>>& bounds) {
        for (size_t j = 0; j < bounds.size(); j++) cr.sauts[j] = {bounds[j].first, bounds[j].second};
    }
    Criteres cr;
};

int rowCount(const Criteres& cr) {
    int t = 1;
    for (int j = 0; j < cr.nbbloc - 1; j++) t *= cr.sauts[j].max - cr.sauts[j].min + 1;
    return t;
}

void freeCode2Sauts(int rows) {
    for (int r = 0; r < rows; r++) free(spacerCodes().code2Sauts[r]);
    free(spacerCodes().code2Sauts);
    spacerCodes().code2Sauts = nullptr;
}

// Builds the table, returns its rows and what initTabSauts wrote on standard output.
std::vector<std::vector<int>> buildTable(Criteres& cr, std::string* out) {
    ::testing::internal::CaptureStdout();
    initTabSauts(&cr);
    *out = ::testing::internal::GetCapturedStdout();
    int rows = rowCount(cr);
    std::vector<std::vector<int>> table;
    for (int r = 0; r < rows; r++)
        table.emplace_back(spacerCodes().code2Sauts[r], spacerCodes().code2Sauts[r] + cr.nbbloc - 1);
    freeCode2Sauts(rows);
    return table;
}

// Every combination of spacer lengths, spacer 0 varying slowest: the brute force.
std::vector<std::vector<int>> allCombinations(const Criteres& cr) {
    std::vector<std::vector<int>> all{{}};
    for (int j = 0; j < cr.nbbloc - 1; j++) {
        std::vector<std::vector<int>> next;
        for (const auto& prefix : all)
            for (int l = cr.sauts[j].min; l <= cr.sauts[j].max; l++) {
                next.push_back(prefix);
                next.back().push_back(l);
            }
        all = next;
    }
    return all;
}

int codeOf(const std::vector<int>& lengths, const Criteres& cr) {
    int code = 12345;  // ignored for spacer 0
    for (size_t i = 0; i < lengths.size(); i++)
        code = addSaut2Code(code, lengths[i], static_cast<int>(i), &cr);
    return code;
}

// Models symbol names as the alphabet loader leaves them (before translation).
class CompoPal : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* names[] = {"A", "C", "G", "T", "AG", "*"};
        alphabetTables().nbSymbMod = 6;
        for (int m = 0; m < alphabetTables().nbSymbMod; m++)
            alphabetTables().nummod2str[m] = strdup(names[m]);
        alphabetTables().nummod2str[alphabetTables().nbSymbMod] = strdup("_");
    }
    void TearDown() override {
        for (int m = 0; m <= alphabetTables().nbSymbMod; m++) {
            free(alphabetTables().nummod2str[m]);
            alphabetTables().nummod2str[m] = nullptr;
        }
        alphabetTables().nbSymbMod = 0;
    }
    // Runs setCompoPal on the tail and returns its standard error.
    static std::string run(Criteres& cr, std::vector<std::string> tail) {
        std::vector<char*> args;
        for (auto& a : tail) args.push_back(a.data());
        ::testing::internal::CaptureStderr();
        setCompoPal(&cr, args.data(), static_cast<int>(args.size()));
        return ::testing::internal::GetCapturedStderr();
    }
    // For death tests: no capture, the child's standard error goes to the matcher.
    static void runInChild(Criteres& cr, std::vector<std::string> tail) {
        std::vector<char*> args;
        for (auto& a : tail) args.push_back(a.data());
        setCompoPal(&cr, args.data(), static_cast<int>(args.size()));
    }
};
using CompoPalDeathTest = CompoPal;

const int A = 0, C = 1, G = 2, T = 3, AG = 4, JOKER = 5;

}  // namespace

// ---- Criteria record ----

TEST(AllocBloc, InitialValuesOfThreeBoxes) {
    Record r(3);
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(r.cr.errbloc[b], -1);
        EXPECT_EQ(r.cr.bornesbloc[b].min, -1);
        EXPECT_EQ(r.cr.bornesbloc[b].max, -1);
        EXPECT_EQ(r.cr.sauts[b].min, 0);
        EXPECT_EQ(r.cr.sauts[b].max, 0);
        EXPECT_EQ(r.cr.palbloc[b], -1);
        EXPECT_EQ(r.cr.flagcompobloc[b], 0);
        EXPECT_EQ(r.cr.compobloc[b], nullptr);
    }
    EXPECT_EQ(r.cr.flagpal, 0);
    EXPECT_EQ(r.cr.nbbloc, 3);  // left as the driver stored it
}

// Longest model: the total maximum first, else the sum of the box maxima when every box has one.
TEST(LongestModel, TotalMaximumElseEveryBoxMaximum) {
    struct Row {
        int maxlong;
        std::vector<int> boxMax;
        int longest;
    };
    for (const Row& row : {Row{12, {6, 6}, 12}, Row{0, {6, 6}, 12}, Row{0, {6, 0}, 0}, Row{0, {3, 4, 5}, 12},
                           Row{9, {}, 9}, Row{0, {}, 0}}) {
        Record r(row.boxMax.empty() ? 1 : static_cast<int>(row.boxMax.size()));
        r.cr.maxlong = row.maxlong;
        r.cr.nbbloc = static_cast<signed char>(row.boxMax.empty() ? 1 : row.boxMax.size());
        for (size_t b = 0; b < row.boxMax.size(); b++) r.cr.bornesbloc[b].max = row.boxMax[b];
        EXPECT_EQ(longestModel(&r.cr), row.longest) << row.maxlong;
    }
}

TEST(AllocBloc, SingleBoxKeepsTheInitialBounds) {
    Record r(1);
    EXPECT_EQ(r.cr.bornesbloc[0].min, -1);
    EXPECT_EQ(r.cr.bornesbloc[0].max, -1);
    EXPECT_EQ(r.cr.errbloc[0], -1);
}

// ---- Spacer code table ----

TEST(AddSaut2Code, ExtendsTheMixedRadixCode) {
    Record r(3);
    r.spacers({{2, 4}, {0, 1}});
    EXPECT_EQ(addSaut2Code(999, 3, 0, &r.cr), 1);  // spacer 0 ignores the code
    EXPECT_EQ(addSaut2Code(1, 1, 1, &r.cr), 3);    // (3 - 2) x 2 + (1 - 0)
    EXPECT_EQ(addSaut2Code(2, 0, 1, &r.cr), 4);
}

TEST(SpacerTable, TwoBoxesZeroToThree) {
    Record r(2);
    r.spacers({{0, 3}});
    std::string out;
    auto table = buildTable(r.cr, &out);
    EXPECT_EQ(table, (std::vector<std::vector<int>>{{0}, {1}, {2}, {3}}));
    EXPECT_EQ(out, "\n");
}

TEST(SpacerTable, ThreeBoxesTwoToFourThenZeroToOne) {
    Record r(3);
    r.spacers({{2, 4}, {0, 1}});
    std::string out;
    auto table = buildTable(r.cr, &out);
    EXPECT_EQ(table, (std::vector<std::vector<int>>{{2, 0}, {2, 1}, {3, 0}, {3, 1}, {4, 0}, {4, 1}}));
    EXPECT_EQ(out, "\n\n");
    EXPECT_EQ(codeOf({3, 1}, r.cr), 3);
}

TEST(SpacerTable, MinEqualsMaxEverywhereGivesOneRow) {
    Record r(4);
    r.spacers({{5, 5}, {0, 0}, {7, 7}});
    std::string out;
    auto table = buildTable(r.cr, &out);
    EXPECT_EQ(table, (std::vector<std::vector<int>>{{5, 0, 7}}));
    EXPECT_EQ(out, "\n\n\n");
    EXPECT_EQ(codeOf({5, 0, 7}, r.cr), 0);
}

TEST(SpacerTable, ConstantColumnInTheMiddle) {
    Record r(4);
    r.spacers({{0, 1}, {4, 4}, {2, 3}});
    std::string out;
    auto table = buildTable(r.cr, &out);
    EXPECT_EQ(table, (std::vector<std::vector<int>>{{0, 4, 2}, {0, 4, 3}, {1, 4, 2}, {1, 4, 3}}));
    EXPECT_EQ(out, "\n\n\n");
}

TEST(SpacerTable, MatchesBruteForceAndAddSaut2CodeForSeveralLayouts) {
    const std::vector<std::vector<std::pair<int, int>>> layouts = {
        {{0, 3}},
        {{2, 4}, {0, 1}},
        {{5, 5}, {0, 0}, {7, 7}},
        {{1, 2}, {0, 2}, {3, 4}},
        {{0, 1}, {3, 3}, {2, 4}, {0, 2}},
        {{10, 12}, {0, 0}, {1, 1}, {0, 4}, {6, 7}},
        {{0, 0}, {0, 5}},
    };
    for (const auto& layout : layouts) {
        Record r(static_cast<int>(layout.size()) + 1);
        r.spacers(layout);
        std::string out;
        auto table = buildTable(r.cr, &out);
        auto expected = allCombinations(r.cr);
        EXPECT_EQ(table, expected) << "layout of " << layout.size() << " spacers";
        EXPECT_EQ(out, std::string(layout.size(), '\n'));
        for (size_t c = 0; c < table.size(); c++) EXPECT_EQ(codeOf(table[c], r.cr), static_cast<int>(c));
    }
}

TEST(SpacerTable, WritesNothingOnStandardError) {
    Record r(3);
    r.spacers({{2, 4}, {0, 1}});
    ::testing::internal::CaptureStderr();
    std::string out;
    buildTable(r.cr, &out);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(RecFillTab, FillsColumnsFromTheLastSpacerAndReturnsTheRepetition) {
    Record r(4);
    r.spacers({{0, 1}, {1, 3}, {0, 1}});
    int rows = 12;
    std::vector<std::vector<int>> store(rows, std::vector<int>(3, -9));
    std::vector<int*> table;
    for (auto& row : store) table.push_back(row.data());
    int remaining = rows;
    ::testing::internal::CaptureStdout();
    int rep = recFillTab(1, &r.cr, &remaining, table.data());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n\n");
    EXPECT_EQ(rep, 6);        // w(1) x w(2)
    EXPECT_EQ(remaining, 2);  // 12 / (3 x 2) = w(0)
    for (int row = 0; row < rows; row++) {
        EXPECT_EQ(store[row][0], -9);  // column 0 is left to initTabSauts
        EXPECT_EQ(store[row][1], 1 + (row / 2) % 3);
        EXPECT_EQ(store[row][2], row % 2);
    }
}

TEST(SpacerTableDeathTest, TooManyCombinationsAreRefusedBeforeAllocating) {
    Record r(4);
    r.spacers({{0, 1999}, {0, 1999}, {0, 1999}});
    EXPECT_EXIT(asProgram([&] { initTabSauts(&r.cr); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: criteres: initTabSauts: cannot allocate 'code2Sauts'\n\n"));
}

// The count of combinations that sizes the table before it is built, saturated rather than overflowed.
TEST(SpacerCombinations, ProductOfTheWidthsSaturatingAtTheLargestCount) {
    struct Case {
        std::vector<std::pair<int, int>> spacers;
        long long combinations;
    };
    const Case cases[] = {
        {{{0, 3}}, 4},
        {{{2, 4}, {0, 1}}, 6},
        {{{5, 5}, {7, 7}, {0, 0}}, 1},
        {{{0, 100000000}}, 100000001},
        {{{0, 1999}, {0, 1999}, {0, 1999}}, 8000000000LL},  // beyond an int: initTabSauts refuses it
        {{{-100000000, 100000000}, {-100000000, 100000000}, {-100000000, 100000000}}, LLONG_MAX},
    };
    for (const Case& c : cases) {
        Record r(static_cast<int>(c.spacers.size()) + 1);
        r.spacers(c.spacers);
        EXPECT_EQ(spacerCombinations(&r.cr), c.combinations) << c.spacers.size() << " spacers";
    }
}

TEST(CheckSpacerBounds, AcceptsOrderedBoundsAndIgnoresTheUnusedEntry) {
    Record r(3);
    r.spacers({{2, 4}, {3, 3}, {9, 1}});  // entry 2 is not a spacer of three boxes
    ::testing::internal::CaptureStderr();
    checkSpacerBounds(&r.cr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    Record single(1);
    single.cr.sauts[0] = {5, 1};
    checkSpacerBounds(&single.cr);
}

TEST(CheckSpacerBoundsDeathTest, RefusesMaxBelowMin) {
    Record r(4);
    r.spacers({{2, 4}, {5, 4}, {0, 1}});
    EXPECT_EXIT(asProgram([&] { checkSpacerBounds(&r.cr); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: spacer 2: maximum length 4 is lower than minimum length 5\n"));
}

TEST(FirstPalWithoutEarlierPartner, FindsSelfAndLaterPartners) {
    Record r(4);
    EXPECT_EQ(firstPalWithoutEarlierPartner(&r.cr), -1);
    r.cr.palbloc[2] = 0;
    EXPECT_EQ(firstPalWithoutEarlierPartner(&r.cr), -1);
    r.cr.palbloc[3] = 3;
    EXPECT_EQ(firstPalWithoutEarlierPartner(&r.cr), 3);
    r.cr.palbloc[1] = 2;
    EXPECT_EQ(firstPalWithoutEarlierPartner(&r.cr), 1);
}

// ---- Compositions and palindromes ----

TEST_F(CompoPal, EmptyTailLeavesNoLimit) {
    Record r(3);
    EXPECT_EQ(run(r.cr, {}), "");
    EXPECT_EQ(r.cr.flagcompo, 0);
    EXPECT_EQ(r.cr.flagpal, 0);
    for (int m = 0; m < alphabetTables().nbSymbMod; m++) EXPECT_EQ(r.cr.compo[m], -1);
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(r.cr.flagcompobloc[b], 0);
        EXPECT_EQ(r.cr.palbloc[b], -1);
        for (int m = 0; m < alphabetTables().nbSymbMod; m++) EXPECT_EQ(r.cr.compobloc[b][m], -1);
    }
}

TEST_F(CompoPal, ExampleTail) {
    Record r(3);
    EXPECT_EQ(run(r.cr, {"0", "1", "*", "2", "3", "2", "AG", "1", "T", "0", "p3/1"}), "");
    EXPECT_EQ(r.cr.flagcompo, 1);
    EXPECT_EQ(r.cr.compo[JOKER], 2);
    EXPECT_EQ(r.cr.compo[A], -1);
    EXPECT_EQ(r.cr.flagcompobloc[0], 0);
    EXPECT_EQ(r.cr.flagcompobloc[1], 0);
    EXPECT_EQ(r.cr.flagcompobloc[2], 1);
    EXPECT_EQ(r.cr.compobloc[2][AG], 1);
    EXPECT_EQ(r.cr.compobloc[2][T], 0);
    EXPECT_EQ(r.cr.compobloc[2][A], -1);
    EXPECT_EQ(r.cr.compobloc[0][T], -1);
    EXPECT_EQ(r.cr.flagpal, 1);
    EXPECT_EQ(r.cr.palbloc[2], 0);
    EXPECT_EQ(r.cr.palbloc[0], -1);  // only the given direction
}

TEST_F(CompoPal, EmptyGroupsChangeNothing) {
    Record r(3);
    EXPECT_EQ(run(r.cr, {"0", "0", "2", "0"}), "");
    EXPECT_EQ(r.cr.flagcompo, 0);
    EXPECT_EQ(r.cr.flagcompobloc[1], 0);
    EXPECT_EQ(r.cr.flagpal, 0);
}

TEST_F(CompoPal, TranslatedAndLowerCaseNamesAreIgnoredWithAWarning) {
    Record r(2);
    std::string err = run(r.cr, {"1", "4", "R", "5", "N", "1", "ag", "2", "C", "3"});
    EXPECT_EQ(err,
              "> Warning: composition in 'R' ignored, symbol is not in the models alphabet.\n"
              "> Warning: composition in 'N' ignored, symbol is not in the models alphabet.\n"
              "> Warning: composition in 'ag' ignored, symbol is not in the models alphabet.\n");
    // The ignored pairs consumed their values: C got 3.
    EXPECT_EQ(r.cr.compobloc[0][C], 3);
    EXPECT_EQ(r.cr.flagcompobloc[0], 1);
    EXPECT_EQ(r.cr.flagpal, 0);
}

TEST_F(CompoPal, OnlyIgnoredPairsDoNotSetTheFlags) {
    Record r(2);
    run(r.cr, {"0", "1", "R", "1", "2", "1", "_", "4"});
    EXPECT_EQ(r.cr.flagcompo, 0);
    EXPECT_EQ(r.cr.flagcompobloc[1], 0);
}

TEST_F(CompoPal, LaterValueReplacesEarlierAndNumbersUseAtoi) {
    Record r(2);
    run(r.cr, {"2", "3", "A", "3", "A", "1", "G", "x7", "0", "1", "G", " 4z"});
    EXPECT_EQ(r.cr.compobloc[1][A], 1);
    EXPECT_EQ(r.cr.compobloc[1][G], 0);
    EXPECT_EQ(r.cr.compo[G], 4);
}

TEST_F(CompoPal, PalindromesOnly) {
    Record r(4);
    EXPECT_EQ(run(r.cr, {"p2/4", "p4/2", "p3/1"}), "");
    EXPECT_EQ(r.cr.flagpal, 1);
    EXPECT_EQ(r.cr.palbloc[0], -1);
    EXPECT_EQ(r.cr.palbloc[1], 3);
    EXPECT_EQ(r.cr.palbloc[2], 0);
    EXPECT_EQ(r.cr.palbloc[3], 1);
    EXPECT_EQ(r.cr.flagcompo, 0);
    for (int b = 0; b < 4; b++) EXPECT_EQ(r.cr.flagcompobloc[b], 0);
}

TEST_F(CompoPal, OneDirectionOnly) {
    Record r(4);
    run(r.cr, {"p2/4"});
    EXPECT_EQ(r.cr.palbloc[1], 3);
    EXPECT_EQ(r.cr.palbloc[3], -1);
}

TEST_F(CompoPal, PInsideAGroupIsNotASectionEnd) {
    Record r(3);
    // "p" as a symbol and "p3/1" as a value are read as group arguments.
    std::string err = run(r.cr, {"1", "2", "p", "4", "A", "p3/1"});
    EXPECT_EQ(err, "> Warning: composition in 'p' ignored, symbol is not in the models alphabet.\n");
    EXPECT_EQ(r.cr.compobloc[0][A], 0);  // atoi("p3/1")
    EXPECT_EQ(r.cr.flagpal, 0);
    EXPECT_EQ(r.cr.palbloc[2], -1);
}

TEST_F(CompoPal, GroupsThenPalindromes) {
    Record r(3);
    run(r.cr, {"3", "1", "A", "2", "p3/1", "p2/1"});
    EXPECT_EQ(r.cr.compobloc[2][A], 2);
    EXPECT_EQ(r.cr.palbloc[2], 0);
    EXPECT_EQ(r.cr.palbloc[1], 0);
    EXPECT_EQ(r.cr.flagpal, 1);
}

TEST_F(CompoPal, GroupForTheLastBox) {
    Record r(2);
    run(r.cr, {"2", "1", "*", "0"});
    EXPECT_EQ(r.cr.compobloc[1][JOKER], 0);
    EXPECT_EQ(r.cr.flagcompobloc[1], 1);
}

TEST_F(CompoPalDeathTest, GroupAnnouncingMorePairsThanRemain) {
    Record r(3);
    EXPECT_EXIT(
        asProgram([&] {
            runInChild(r.cr, {"1", "2", "A", "3"});
        }),
        ::testing::ExitedWithCode(1),
        exactly(">> Error: composition group '1 2' announces 2 pairs but 2 arguments remain after it\n"));
    EXPECT_EXIT(
        asProgram([&] {
            runInChild(r.cr, {"0", "1", "A"});
        }),
        ::testing::ExitedWithCode(1),
        exactly(">> Error: composition group '0 1' announces 1 pairs but 1 arguments remain after it\n"));
    EXPECT_EXIT(
        asProgram([&] {
            runInChild(r.cr, {"1", "-1"});
        }),
        ::testing::ExitedWithCode(1),
        exactly(">> Error: composition group '1 -1' announces -1 pairs but 0 arguments remain after it\n"));
}

TEST_F(CompoPalDeathTest, GroupWithoutItsNumberOfPairs) {
    Record r(3);
    EXPECT_EXIT(asProgram([&] {
                    runInChild(r.cr, {"0", "1", "A", "2", "3"});
                }),
                ::testing::ExitedWithCode(1),
                exactly(">> Error: composition group '3' has no number of pairs\n"));
}

TEST_F(CompoPalDeathTest, WarningsBeforeTheRefusalAreKept) {
    Record r(3);
    EXPECT_EXIT(asProgram([&] {
                    runInChild(r.cr, {"0", "1", "R", "2", "9", "0"});
                }),
                ::testing::ExitedWithCode(1),
                exactly("> Warning: composition in 'R' ignored, symbol is not in the models alphabet.\n"
                        ">> Error: composition group '9 0': box 9 is not between 0 and 3\n"));
}

TEST_F(CompoPalDeathTest, BoxNumberOutOfRange) {
    Record r(3);
    EXPECT_EXIT(asProgram([&] {
                    runInChild(r.cr, {"4", "1", "A", "1"});
                }),
                ::testing::ExitedWithCode(1),
                exactly(">> Error: composition group '4 1': box 4 is not between 0 and 3\n"));
    EXPECT_EXIT(asProgram([&] {
                    runInChild(r.cr, {"-1", "0"});
                }),
                ::testing::ExitedWithCode(1),
                exactly(">> Error: composition group '-1 0': box -1 is not between 0 and 3\n"));
}

TEST_F(CompoPalDeathTest, PalindromeArgumentNotOfTheFormPIJ) {
    Record r(3);
    for (const char* bad : {"p3", "p3/", "p/1", "p3/1x", "px/1", "p3-1"}) {
        EXPECT_EXIT(
            asProgram([&] {
                runInChild(r.cr, {"p2/1", bad});
            }),
            ::testing::ExitedWithCode(1),
            exactly(std::string(">> Error: palindrome argument '") + bad + "' is not of the form pI/J\n"))
            << bad;
    }
    // Once the palindrome section began, every argument must be a declaration.
    EXPECT_EXIT(asProgram([&] {
                    runInChild(r.cr, {"p2/1", "0", "1"});
                }),
                ::testing::ExitedWithCode(1),
                exactly(">> Error: palindrome argument '0' is not of the form pI/J\n"));
}

TEST_F(CompoPalDeathTest, PalindromeBoxesOutOfRange) {
    Record r(3);
    for (const char* bad : {"p4/1", "p0/1", "p2/0", "p2/4", "p-1/2"}) {
        EXPECT_EXIT(asProgram([&] { runInChild(r.cr, {bad}); }), ::testing::ExitedWithCode(1),
                    exactly(std::string(">> Error: palindrome argument '") + bad +
                            "': boxes must be between 1 and 3\n"))
            << bad;
    }
}
