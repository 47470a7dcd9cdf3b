// The result file's reserved header, its summary line and its final counts.

#include "result_header.h"

#include <gtest/gtest.h>

#include <string>

#include "criteres.h"
#include "test_util.h"

namespace {

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

// A scratch folder for the result files, removed with the test.
class HeaderTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { removeTree(dir); }
    std::string dir;
};

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

}  // namespace
