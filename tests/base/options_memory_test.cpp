// The option reader's sizes and the tree memory estimate.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "memory_guard.h"
#include "options.h"
#include "test_util.h"

namespace {

TEST(ByteSize, DigitsWithAnOptionalBinarySuffix) {
    struct Case {
        const char* text;
        bool ok;
        long long bytes;
    };
    const Case cases[] = {
        {"1", true, 1},
        {"4096", true, 4096},
        {"3K", true, 3LL << 10},
        {"3k", true, 3LL << 10},
        {"20M", true, 20LL << 20},
        {"2G", true, 2LL << 30},
        {"8589934591G", true, 8589934591LL << 30},
        {"8589934592G", false, 0},  // 2^63: beyond a long long
        {"99999999999999999999", false, 0},
        {"0", false, 0},
        {"0G", false, 0},
        {"", false, 0},
        {"G", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1.5G", false, 0},
        {"1GB", false, 0},
        {"1T", false, 0},
    };
    for (const Case& c : cases) {
        long long bytes = -7;
        EXPECT_EQ(parseByteSize(c.text, &bytes), c.ok) << c.text;
        EXPECT_EQ(bytes, c.ok ? c.bytes : -7) << c.text;
    }
}

TEST(AvailableMemory, MemAvailableLineOfMeminfo) {
    const std::string dir = makeTempDir();
    struct Case {
        std::string content;
        long long bytes;
    };
    const Case cases[] = {
        {"MemTotal:       24000000 kB\nMemFree:  100 kB\nMemAvailable:   2048 kB\nBuffers: 1 kB\n",
         2048LL * 1024},
        {"MemTotal:       24000000 kB\nMemFree:  100 kB\n", -1},  // kernels before 3.14
        {"MemAvailable: none\n", -1},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/meminfo", c.content);
        EXPECT_EQ(availableMemoryBytes((dir + "/meminfo").c_str()), c.bytes) << c.content;
    }
    EXPECT_EQ(availableMemoryBytes((dir + "/absent").c_str()), -1);
    removeTree(dir);
}

// The estimate follows what the tree holds: more characters, a deeper window or more sequences never
// make it smaller, and a window of a few letters keeps it far below the full tree.
TEST(TreeEstimate, GrowsWithTheInputAndTheWindow) {
    const TreeSize dm3{2000000, 1000, 2000, 20, 4};
    const long long base = estimateTreeBytes(dm3);
    TreeSize t = dm3;
    t.totalLength *= 2;
    EXPECT_GT(estimateTreeBytes(t), base + base / 2);
    t = dm3;
    t.nbseq = 10000;
    EXPECT_GT(estimateTreeBytes(t), base);
    t = dm3;
    t.nbseq = 10;
    EXPECT_LT(estimateTreeBytes(t), base);  // smaller colour sets
    EXPECT_GT(estimateTreeBytes(t), base * 3 / 4);
    t.nbseq = 100000;
    const long long many = estimateTreeBytes(t);
    t.nbseq = 1000000;
    EXPECT_EQ(estimateTreeBytes(t), many);  // the colour sets stop growing
    // Both strands of 1000 sequences: twice the characters, the colour sets of 1000 sequences.
    t = {4000000, 2000, 2000, 20, 4, true};
    const TreeSize oneStrand{4000000, 2000, 2000, 20, 4};
    EXPECT_LT(estimateTreeBytes(t), estimateTreeBytes(oneStrand));
    t = dm3;
    t.window = 2147483647;
    EXPECT_GT(estimateTreeBytes(t), base);
    t.window = 2000;  // as deep as the longest sequence: no deeper tree
    EXPECT_EQ(estimateTreeBytes(t), estimateTreeBytes({2000000, 1000, 2000, 2147483647, 4}));
    t.window = 6;
    EXPECT_LT(estimateTreeBytes(t), base / 4);
    t.letters = 20;  // more letters reach the full tree at a shallower depth
    EXPECT_GT(estimateTreeBytes(t), estimateTreeBytes({2000000, 1000, 2000, 6, 4}));
}

TEST(TreeEstimate, ExtremeSizesStayPositiveAndFinite) {
    const TreeSize extremes[] = {
        {0, 2, 0, 1, 1}, {1, 2, 1, 2147483647, 0}, {2147483647L * 4, 65535, 2147483647, 2147483647, 95}};
    for (const TreeSize& t : extremes) {
        const long long e = estimateTreeBytes(t);
        EXPECT_GT(e, 0);
        EXPECT_LT(e, 1LL << 62);
    }
}

// The spacer code table as the allocator lays it out: 40 bytes per combination up to six spacers, then
// 16 more per four spacers; it saturates rather than overflows.
TEST(SpacerTableEstimate, PointerAndHeapBlockPerCombination) {
    EXPECT_EQ(estimateSpacerTableBytes(1, 1), 40);
    EXPECT_EQ(estimateSpacerTableBytes(100000001, 1), 4000000040LL);
    EXPECT_EQ(estimateSpacerTableBytes(1000, 6), 40000);
    EXPECT_EQ(estimateSpacerTableBytes(1000, 7), 56000);
    EXPECT_EQ(estimateSpacerTableBytes(LLONG_MAX, 3), 1LL << 62);
}

}  // namespace

TEST(RankingTableFile, ThatOfRankElseTheReportsNameWithTsv) {
    struct Case {
        const char* rank;
        const char* report;
        std::string table;
    };
    const Case cases[] = {
        {"t.tsv", "r.html", "t.tsv"},      {nullptr, "out/r.html", "out/r.tsv"}, {nullptr, "r.HTM", "r.tsv"},
        {nullptr, "report", "report.tsv"}, {nullptr, ".html", ".html.tsv"},      {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        RunOptions opts;
        opts.rankFile = c.rank;
        opts.reportFile = c.report;
        EXPECT_EQ(rankingTableFile(opts), c.table) << (c.report ? c.report : "(no report)");
        EXPECT_EQ(rankingWanted(opts), c.rank != nullptr || c.report != nullptr);
    }
}
