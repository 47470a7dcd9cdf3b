// Run steps shared by the drivers: sequence loading, quorum and window rules, header and summary line.

#include "pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "criteres.h"
#include "test_util.h"

namespace {

const DriverMessages kTestMessages = {
    {"open %s\n", false}, "no entry",
    "one entry",          "quorum one",
    "quorum below one",   {"alphabet %s\n", false},
    "bad alphabet",       "Max composition in %s: %d\n",
};

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override {
        freeTexts(loadedCount);
        removeTree(dir);
    }
    // Loads the FASTA content through a file, as the drivers do.
    LoadedSequences load(const std::string& content) {
        std::string path = dir + "/in.fa";
        writeFile(path, content);
        FILE* fp = fopen(path.c_str(), "r");
        LoadedSequences loaded = loadSequences(fp);
        fclose(fp);
        loadedCount = loaded.count;
        return loaded;
    }
    std::string dir;
    int loadedCount = 0;
};

std::string fastaOfEntries(int n) {
    std::string content;
    for (int k = 0; k < n; k++) content += ">e" + std::to_string(k) + "\nAC" + std::string(k % 7, 'G') + "\n";
    return content;
}

using LoadTest = TempDirTest;

TEST_F(LoadTest, TextsCarryTheTerminatorAndLengthsAddUp) {
    LoadedSequences loaded = load(">s1 first\nacgt\nAC\n>s2\n\nNN ac\n>empty\n>s4\nT\n");
    ASSERT_EQ(loaded.count, 4);
    EXPECT_STREQ(text[0], "acgtAC$");
    EXPECT_STREQ(text[1], "NN ac$");
    EXPECT_STREQ(text[2], "$");
    EXPECT_STREQ(text[3], "T$");
    EXPECT_EQ(loaded.totalLength, 6 + 5 + 0 + 1);
    EXPECT_EQ(loaded.longest, 6);
    EXPECT_EQ(loaded.capacity, 500);
    ASSERT_NE(loaded.records, nullptr);
    EXPECT_STREQ(loaded.records[1]->name, "s2");
    freeFastaRecords(loaded);
    EXPECT_EQ(loaded.records, nullptr);
    EXPECT_STREQ(text[3], "T$") << "the texts outlive the records";
}

TEST_F(LoadTest, EmptyFileAndFileWithoutHeaderLoadNothing) {
    for (const char* content : {"", "acgt\nacgt\n"}) {
        LoadedSequences loaded = load(content);
        EXPECT_EQ(loaded.count, 0) << content;
        EXPECT_EQ(loaded.totalLength, 0);
        freeFastaRecords(loaded);
        freeTexts(0);
    }
}

TEST_F(LoadTest, ArraysDoubleWhenFull) {
    struct Case {
        int entries;
        int capacity;
    };
    // The read that finds the end of the file takes a slot too, so 500 entries already double.
    for (Case c : {Case{499, 500}, Case{500, 1000}, Case{501, 1000}, Case{1000, 2000}}) {
        LoadedSequences loaded = load(fastaOfEntries(c.entries));
        ASSERT_EQ(loaded.count, c.entries);
        EXPECT_EQ(loaded.capacity, c.capacity) << c.entries;
        // Every entry landed in its own slot, in file order.
        for (int k : {0, c.entries / 2, c.entries - 1}) {
            std::string want = "AC" + std::string(k % 7, 'G') + "$";
            EXPECT_STREQ(text[k], want.c_str()) << k;
            EXPECT_EQ(loaded.records[k]->name, "e" + std::to_string(k));
        }
        freeFastaRecords(loaded);
        freeTexts(loaded.count);
        loadedCount = 0;
    }
}

FastaSequence* noRecord() {
    return nullptr;
}

// A read that ran out of memory for the sequence: the entry is there but incomplete.
int incompleteRead(FILE*, FastaSequence* s) {
    s->ok = 0;
    s->length = 3;
    memcpy(s->name, "cut", 4);
    return 1;
}

TEST_F(LoadTest, AllocationFailuresOfTheReaderEndTheRun) {
    std::string path = dir + "/in.fa";
    writeFile(path, ">a\nACGT\n");
    EXPECT_EXIT(
        {
            FILE* fp = fopen(path.c_str(), "r");
            loadSequences(fp, noRecord);
        },
        ::testing::ExitedWithCode(1), "^>> Error: main: cannot allocate a FASTA record\n$");
    EXPECT_EXIT(
        {
            FILE* fp = fopen(path.c_str(), "r");
            loadSequences(fp, NewFastaSequence, incompleteRead);
        },
        ::testing::ExitedWithCode(1),
        "^>> Error: main: cannot allocate the text of sequence 0 \\('cut'\\)\n$");
}

TEST(SequenceCountTest, FewerThanTwoSequencesAreRefused) {
    EXPECT_EXIT(checkSequenceCount(0, kTestMessages), ::testing::ExitedWithCode(1), "^>> Error: no entry\n$");
    EXPECT_EXIT(checkSequenceCount(1, kTestMessages), ::testing::ExitedWithCode(1),
                "^>> Error: one entry\n$");
    checkSequenceCount(2, kTestMessages);  // returns
}

TEST(RefuseRunTest, DirectMessageNamesTheFileAndFatalOnesDoNot) {
    EXPECT_EXIT(refuseRun({"Error: cannot open '%s'\n", false}, "x.fa"), ::testing::ExitedWithCode(1),
                "^Error: cannot open 'x.fa'\n$");
    EXPECT_EXIT(refuseRun({"cannot open", true}, "x.fa"), ::testing::ExitedWithCode(1),
                "^>> Error: cannot open\n$");
}

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
        EXPECT_EXIT(checkQuorum(q, kTestMessages), ::testing::ExitedWithCode(1),
                    "^>> Error: quorum below one\n$");
}

// A criteria record with the given totals and, for two boxes or more, box maxima and spacer maxima.
struct WindowCase {
    int nbbloc;
    int maxlong;
    std::vector<int> boxMax;
    std::vector<int> spacerMax;
    int window;
};

// A criteria record with its per-box arrays, released with the test.
struct BoxedCriteres {
    explicit BoxedCriteres(int nbbloc) {
        cr.nbbloc = static_cast<signed char>(nbbloc);
        allocBloc(&cr, nbbloc);
    }
    ~BoxedCriteres() {
        free(cr.compobloc);
        free(cr.errbloc);
        free(cr.bornesbloc);
        free(cr.sauts);
        free(cr.flagcompobloc);
        free(cr.palbloc);
    }
    BoxedCriteres(const BoxedCriteres&) = delete;
    BoxedCriteres& operator=(const BoxedCriteres&) = delete;
    Criteres cr{};
};

TEST(WindowTest, LongestSpanOfAModel) {
    const WindowCase cases[] = {
        {1, 20, {}, {}, 20},
        {1, 0, {}, {}, INT_MAX},
        {1, -5, {}, {}, 1},
        {2, 15, {10, 12}, {5}, 27},
        {2, 30, {10, 12}, {5}, 35},
        {2, 20, {8, 8}, {30}, 50},
        {2, 20, {8, 0}, {30}, INT_MAX},
        {2, 0, {8, 8}, {30}, INT_MAX},
        {3, 5, {1, 2, 3}, {4, 6}, 16},
        {3, 5, {INT_MAX, INT_MAX, 1}, {INT_MAX, 3}, INT_MAX},
    };
    for (const WindowCase& c : cases) {
        BoxedCriteres boxed(c.nbbloc);
        Criteres& cr = boxed.cr;
        cr.maxlong = c.maxlong;
        for (size_t b = 0; b < c.boxMax.size(); b++) cr.bornesbloc[b].max = c.boxMax[b];
        for (size_t s = 0; s < c.spacerMax.size(); s++) cr.sauts[s].max = c.spacerMax[s];
        EXPECT_EQ(windowLength(cr), c.window) << c.nbbloc << " boxes, total max " << c.maxlong;
    }
}

TEST(WindowTest, SingleBoxIgnoresTheUnreadBoxBounds) {
    BoxedCriteres boxed(1);
    Criteres& cr = boxed.cr;
    cr.bornesbloc[0].max = 0;  // never read from the command line with one box
    cr.maxlong = 12;
    EXPECT_EQ(windowLength(cr), 12);
}

std::string blankHeader(int blankLines) {
    std::string h;
    for (int i = 0; i < blankLines; i++) h += std::string(79, ' ') + "\n";
    return h + std::string(79, '=') + "\n";
}

// Writes what a run writes to a real file and returns the file's bytes.
std::string runFile(const std::string& dir, const std::string& summary, int blankLines) {
    std::string path = dir + "/res.txt";
    FILE* out = fopen(path.c_str(), "w");
    writeReservedHeader(out, blankLines);
    fputs("AC 01 2\nSeq     0   Pos     4\n1\n", out);
    writeFinalCounts(out, 1, 0.25f);
    writeSummaryLine(out, summary, blankLines);
    fclose(out);
    return readFile(path);
}

using HeaderTest = TempDirTest;

TEST_F(HeaderTest, ReservedHeaderIs320BytesOfBlankLinesAndARule) {
    std::string path = dir + "/h.txt";
    for (int lines : {3, 4, 6}) {
        FILE* out = fopen(path.c_str(), "w");
        writeReservedHeader(out, lines);
        fclose(out);
        std::string bytes = readFile(path);
        EXPECT_EQ(bytes.size(), static_cast<size_t>(80 * (lines + 1)));
        EXPECT_EQ(bytes, blankHeader(lines));
    }
    FILE* out = fopen(path.c_str(), "w");
    writeReservedHeader(out);
    fclose(out);
    EXPECT_EQ(readFile(path).size(), 320u);
}

TEST(HeaderLinesTest, MoreRoomOnlyForSummariesThatWouldReachTheRule) {
    struct Case {
        size_t length;
        int lines;
    };
    for (Case c :
         {Case{0, 3}, Case{79, 3}, Case{239, 3}, Case{240, 4}, Case{319, 4}, Case{320, 5}, Case{1000, 13}})
        EXPECT_EQ(headerBlankLinesFor(c.length), c.lines) << c.length;
}

TEST_F(HeaderTest, SummaryOverwritesTheStartOfTheHeaderOnly) {
    const std::string tail = "AC 01 2\nSeq     0   Pos     4\n1\nNb models: 1\nUser time : 0.25 sec.\n";
    struct Case {
        size_t length;
        int lines;
    };
    // Short, spilling over the first line feeds, and as long as the room allows.
    for (Case c : {Case{30, 3}, Case{150, 3}, Case{239, 3}, Case{300, 4}}) {
        std::string summary = "%%% " + std::string(c.length - 4, 'x');
        std::string expected = blankHeader(c.lines);
        expected.replace(0, summary.size(), summary);
        EXPECT_EQ(runFile(dir, summary, c.lines), expected + tail) << c.length;
    }
}

TEST_F(HeaderTest, SummaryTooLongForItsRoomGoesToTheEndInstead) {
    std::string summary = "%%% " + std::string(236, 'x');  // 240 bytes: would eat the last line feed
    EXPECT_EQ(runFile(dir, summary, 3),
              blankHeader(3) + "AC 01 2\nSeq     0   Pos     4\n1\nNb models: 1\nUser time : 0.25 sec.\n" +
                  summary);
}

TEST(SummaryTest, PiecesFollowTheSummaryFormat) {
    Criteres cr{};
    cr.nbbloc = 2;
    cr.quorum = 3;
    cr.longtext = 123456789L;
    cr.minlong = 10;
    cr.maxerr = 3;
    std::string line = summaryStart(cr, 4, 17);
    EXPECT_EQ(line, "%%% 2 3/4 123456789 10 17 3");
    appendSummaryBox(line, 5, 8, 1);
    appendSummarySpacer(line, 10, 30);
    appendSummaryBox(line, -1, 0, -1);
    appendSummaryNames(line, "dna.alph", "ACGT$");
    EXPECT_EQ(line, "%%% 2 3/4 123456789 10 17 3 5 8 1 10 30 -1 0 -1 dna.alph ACGT$");
}

TEST(SummaryTest, ReachableLengthIsBoundedByTheLimitAndTheLongestSequence) {
    EXPECT_EQ(reachableLength(0, 2000), 2000);
    EXPECT_EQ(reachableLength(-3, 2000), 2000);
    EXPECT_EQ(reachableLength(8, 2000), 8);
    EXPECT_EQ(reachableLength(5000, 2000), 2000);
}

TEST(FinalCountsTest, CountAndTimeLines) {
    std::string path = makeTempDir();
    std::string file = path + "/c.txt";
    FILE* out = fopen(file.c_str(), "w");
    writeFinalCounts(out, 42, 1.005f);
    writeFinalCounts(out, 0, 0);
    fclose(out);
    EXPECT_EQ(readFile(file), "Nb models: 42\nUser time : 1.00 sec.\nNb models: 0\nUser time : 0.00 sec.\n");
    removeTree(path);
}

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
