// Whole result files of small motbox runs, byte for byte except the user-time figure.  Every expected
// record below was worked out by hand from the texts (the comments give the reasoning); the order of
// the occurrence lines follows the tree: occurrences newest first, leaves in letter order below each,
// sequences from the highest number down within a leaf.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string kDna = "Nucleotide alphabet\nA\nC\nG\nT\n";

struct Outcome {
    RunResult result;
    std::string file;  // the result file, or standard output for "stdout"
};

class SpellEndToEnd : public testing::Test {
  protected:
    std::string dir = makeTempDir();
    ~SpellEndToEnd() override { removeTree(dir); }

    Outcome run(const std::string& alphabet, const std::vector<std::string>& seqs,
                std::vector<std::string> args, const std::string& output = "r.txt") {
        writeFile(dir + "/a.txt", alphabet);
        std::string fasta;
        for (size_t i = 0; i < seqs.size(); ++i) fasta += ">s" + std::to_string(i) + "\n" + seqs[i] + "\n";
        writeFile(dir + "/s.fa", fasta);
        args.insert(args.begin(), {"a.txt", "s.fa", output});
        // Every case also runs cut into tasks over three workers, which must write the same bytes.
        const Outcome parallel = runWith("3", args, output);
        const Outcome r = runWith("1", args, output);
        EXPECT_EQ(parallel.result.status, r.result.status);
        EXPECT_EQ(maskUserTime(parallel.result.out), maskUserTime(r.result.out));
        EXPECT_EQ(maskUserTime(parallel.file), maskUserTime(r.file));
        return r;
    }

    Outcome runWith(const std::string& threads, std::vector<std::string> args, const std::string& output) {
        args.insert(args.begin(), {MOTBOX_BIN, "-t", threads});
        Outcome r{runCommand(args, dir), ""};
        r.file = output == "stdout" ? r.result.out : readFile(dir + "/" + output);
        return r;
    }

    static std::string maskUserTime(const std::string& s) {
        return std::regex_replace(s, std::regex("User time : [0-9]+\\.[0-9]{2} sec\\."), "User time : #");
    }
};

std::string maskTime(const std::string& s) {
    return std::regex_replace(s, std::regex("User time : [0-9]+\\.[0-9]{2} sec\\."), "User time : # sec.");
}

// The 320-byte reserved header with the summary written over the start of its first line, the
// records, then the final counts.
std::string resultFile(const std::string& summary, const std::string& records, int models) {
    const std::string blanks(79, ' ');
    return summary + blanks.substr(summary.size()) + "\n" + blanks + "\n" + blanks + "\n" +
           std::string(79, '=') + "\n" + records + "Nb models: " + std::to_string(models) +
           "\nUser time : # sec.\n";
}

// s0 ACGTAC, s1 TACGAA, s2 GGACGT; quorum 60 % of 3 = 2 sequences; lengths 2 to 3; no substitution.
// Words of 2 in at least two texts: AC, CG, GA, GT, TA; of 3: ACG (all three), CGT (s0, s2), TAC
// (s0, s1).  A model comes after its extensions.  Window 3: "AC" is a node whose G leaf (ACG) holds
// s2, s1, s0 and whose "$" leaf holds the AC at the end of s0.
TEST_F(SpellEndToEnd, OneBox) {
    const Outcome r = run(kDna, {"ACGTAC", "TACGAA", "GGACGT"}, {"60", "1", "2", "3", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string records =
        "ACG 012 3\nSeq     2   Pos     2\nSeq     1   Pos     1\nSeq     0   Pos     0\n3\n"
        "AC 01 3\nSeq     2   Pos     2\nSeq     1   Pos     1\nSeq     0   Pos     0\nSeq     0   Pos     "
        "4\n4\n"
        "CGT 123 2\nSeq     2   Pos     3\nSeq     0   Pos     1\n2\n"
        "CG 12 3\nSeq     1   Pos     2\nSeq     2   Pos     3\nSeq     0   Pos     1\n3\n"
        "GA 20 2\nSeq     1   Pos     3\nSeq     2   Pos     1\n2\n"
        "GT 23 2\nSeq     0   Pos     2\nSeq     2   Pos     4\n2\n"
        "TAC 301 2\nSeq     1   Pos     0\nSeq     0   Pos     3\n2\n"
        "TA 30 2\nSeq     1   Pos     0\nSeq     0   Pos     3\n2\n";
    EXPECT_EQ(maskTime(r.file), resultFile("%%% 1 2/3 18 2 3 0 a.txt ACGT$", records, 8));
}

// s0 ACGTA, s1 GCATA; two boxes of exactly one symbol, spacer 1 to 2, no substitution, both texts.
// Pairs X..Y at distance 2 or 3 in s0: A_G(1) A_T(2) C_T(1) C_A(2) G_A(1); in s1: G_A(1) G_T(2) C_T(1)
// C_A(2) A_A(1).  Common: C_A, C_T, G_A.  Below node C the landings are, in push order, CA+1, CAT+2,
// CG+1, CGT+2; the second box keeps the ones whose next character matches, and the output walks them
// newest first: s1 before s0.  Below node G the same gives GC+1 (s1) pushed after GT+1 (s0).
TEST_F(SpellEndToEnd, TwoBoxesWithASpacer) {
    const Outcome r =
        run(kDna, {"ACGTA", "GCATA"}, {"100", "2", "2", "2", "0", "1", "1", "0", "1", "2", "1", "1", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string records =
        "C_A 1-0 2\nSeq     1   Pos     1\t2 \nSeq     0   Pos     1\t2 \n2\n"
        "C_T 1-3 2\nSeq     1   Pos     1\t1 \nSeq     0   Pos     1\t1 \n2\n"
        "G_A 2-0 2\nSeq     1   Pos     0\t1 \nSeq     0   Pos     2\t1 \n2\n";
    EXPECT_EQ(maskTime(r.file), resultFile("%%% 2 2/2 10 2 2 0 1 1 0 1 2 1 1 0 a.txt ACGT$", records, 3));
}

// s0 AAAA, s1 ACAA; three boxes of one symbol, both spacers 0 to 1.  Only A_A_A is in both texts:
// in s0 at 0 with spacers (0,0), (0,1), (1,0) and at 1 with (0,0); in s1 at 0 with (1,0).  Positions
// 0 of s0 with (0,1) and (1,0) end at the same tree place but stay two occurrences.  Newest first:
// the place AAA of (0,0) (its leaves AAAA$ then AAA$, i.e. positions 0 and 1), then AAAA of (0,1),
// AAAA of (1,0), ACAA of (1,0).
TEST_F(SpellEndToEnd, ThreeBoxesWriteOneColumnPerSpacer) {
    const Outcome r =
        run(kDna, {"AAAA", "ACAA"},
            {"100", "3", "3", "3", "0", "1", "1", "0", "0", "1", "1", "1", "0", "0", "1", "1", "1", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string records =
        "A_A_A 0-0-0 2\n"
        "Seq     0   Pos     0\t0 0 \nSeq     0   Pos     1\t0 0 \nSeq     0   Pos     0\t0 1 \n"
        "Seq     0   Pos     0\t1 0 \nSeq     1   Pos     0\t1 0 \n5\n";
    EXPECT_EQ(maskTime(r.file),
              resultFile("%%% 3 2/2 8 3 3 0 1 1 0 0 1 1 1 0 0 1 1 1 0 a.txt AC$", records, 1));
}

// s0 ACG, s1 AGG; models of exactly 3 symbols, no substitution, with the joker (named N).  A*G is in
// both texts; A** reaches the keep point but ends with the joker, and nothing may begin with it.
TEST_F(SpellEndToEnd, JokerStandsForAnySymbolInside) {
    const Outcome r = run(kDna + "*\n", {"ACG", "AGG"}, {"100", "1", "3", "3", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string records = "ANG 0*2 2\nSeq     0   Pos     0\nSeq     1   Pos     0\n2\n";
    EXPECT_EQ(maskTime(r.file), resultFile("%%% 1 2/2 6 3 3 0 a.txt ACG$", records, 1));
}

// The part of a result file between the header separator and the final counts.
std::string records(const std::string& file) {
    const std::string separator = std::string(79, '=') + "\n";
    const size_t start = file.find(separator) + separator.size();
    return file.substr(start, file.find("Nb models: ") - start);
}

// A total minimum length of 0 lets the empty model pass the final tests; it is never written (it would
// stand for every position of every text), so the records are those of a minimum of 1.  A negative
// maximum sends the empty model straight to the keep point: nothing is written either.
TEST_F(SpellEndToEnd, EmptyModelIsNeverWritten) {
    const std::vector<std::string> seqs = {"ACGTAC", "TACGAA", "GGACGT"};
    const Outcome fromZero = run(kDna, seqs, {"60", "1", "0", "2", "0"});
    const Outcome fromOne = run(kDna, seqs, {"60", "1", "1", "2", "0"});
    ASSERT_EQ(fromZero.result.status, 0) << fromZero.result.err;
    ASSERT_EQ(fromOne.result.status, 0) << fromOne.result.err;
    EXPECT_EQ(records(fromZero.file), records(fromOne.file));
    EXPECT_EQ(records(fromZero.file).rfind("AC 01 3\n", 0), 0u);  // models of 1 and 2 symbols

    const Outcome negative = run(kDna, seqs, {"60", "1", "0", "-1", "0"});
    ASSERT_EQ(negative.result.status, 0) << negative.result.err;
    EXPECT_EQ(maskTime(negative.file), resultFile("%%% 1 2/3 18 0 0 0 a.txt ACGT$", "", 0));
}

// A spacer cannot be shorter than nothing: a negative minimum is taken as 0 (jumping backwards would
// start before the occurrence), and the lengths printed are still the real ones.
TEST_F(SpellEndToEnd, NegativeSpacerMinimumCountsFromZero) {
    const std::vector<std::string> seqs = {"ACGTAC", "TACGAA", "GGACGT"};
    const Outcome negative =
        run(kDna, seqs, {"100", "2", "2", "4", "0", "1", "2", "0", "-2", "1", "1", "2", "0"});
    const Outcome zero = run(kDna, seqs, {"100", "2", "2", "4", "0", "1", "2", "0", "0", "1", "1", "2", "0"});
    ASSERT_EQ(negative.result.status, 0) << negative.result.err;
    ASSERT_EQ(zero.result.status, 0) << zero.result.err;
    EXPECT_FALSE(records(zero.file).empty());
    EXPECT_EQ(records(negative.file), records(zero.file));
}

// The record of the result-file description: AC at 12 in s0 and at 40 in s1, followed by G after a
// spacer of 5 and of 3; every other character is T, which the tail forbids in models, so AC_G is the
// only model.  After AC both texts share TTT, then s1 goes on with G and s0 with T: the jump reaches
// that node at exactly the minimum and lands on its G edge (s1) before its T edge (s0), so the s0
// occurrence is pushed first by the second box and printed last.
TEST_F(SpellEndToEnd, RecordOfTwoBoxesPrintsSpacerLengthsNewestFirst) {
    const std::string s0 = std::string(12, 'T') + "ACTTTTTG" + std::string(30, 'T');
    const std::string s1 = std::string(40, 'T') + "ACTTTG" + std::string(4, 'T');
    const Outcome r =
        run(kDna, {s0, s1},
            {"100", "2", "3", "3", "0", "2", "2", "0", "3", "5", "1", "1", "0", "0", "1", "T", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string records = "AC_G 01-2 2\nSeq     1   Pos    40\t3 \nSeq     0   Pos    12\t5 \n2\n";
    EXPECT_EQ(maskTime(r.file), resultFile("%%% 2 2/2 100 3 3 0 2 2 0 3 5 1 1 0 a.txt ACGT$", records, 1));
}

TEST_F(SpellEndToEnd, NoModelStillFramesTheFile) {
    const Outcome r = run(kDna, {"AAAA", "CCCC"}, {"100", "1", "2", "3", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(maskTime(r.file), resultFile("%%% 1 2/2 8 2 0 0 a.txt AC$", "", 0));
}

// With "stdout" everything goes to standard output after the reports; the rewind cannot move back on
// a pipe, so the summary line comes last, with no line end.
TEST_F(SpellEndToEnd, StdoutCarriesReportsThenTheResultThenTheSummary) {
    const Outcome r = run(kDna, {"ACGTA", "TACGT"}, {"100", "1", "4", "4", "0"}, "stdout");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string blanks(79, ' ');
    const std::string expected =
        "\n** Text alphabet: ACGT$ (4 symbols + terminator) **\n"
        "Extraction is going to be made with the following parameters:\n"
        "FASTA file:                    s.fa\n"
        "Alphabet file:                 a.txt\n"
        "Output file:                   stdout\n"
        "Total min length:              4\n"
        "Total max length:              4\n"
        "Boxes:                         1\n"
        "Total number of subst.:        0\n"
        "Quorum:                        100.000000% (2 sequences in 2)\n\n" +
        blanks + "\n" + blanks + "\n" + blanks + "\n" + std::string(79, '=') + "\n" +
        "ACGT 0123 2\nSeq     1   Pos     1\nSeq     0   Pos     0\n2\n"
        "\nNb models: 1\nUser time : # sec.\n"
        "Nb models: 1\nUser time : # sec.\n"
        "%%% 1 2/2 10 4 4 0 a.txt ACGT$";
    EXPECT_EQ(maskTime(r.file), expected);
}

// Two texts sharing a segment of 50000 characters give models as long as the segment: the walk goes
// one model deeper per symbol and must not run out of stack.  A^n is in both texts at 0, A^(n-1) at 0
// and 1, A^(n-2) at 0, 1 and 2; a model comes after its extensions.
TEST_F(SpellEndToEnd, ModelsAsLongAsASharedSegment) {
    const int n = 50000;
    const std::string text(n, 'A');
    const Outcome r = run(kDna, {text, text}, {"100", "1", std::to_string(n - 2), "0", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    std::string expected;
    for (int length = n, lines = 2; length >= n - 2; --length, lines += 2)
        expected +=
            std::string(length, 'A') + " " + std::string(length, '0') + " 2\n" + std::to_string(lines) + "\n";
    std::string got;
    const std::string body = records(r.file);
    for (size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos; start = end + 1)
        if (body.compare(start, 4, "Seq ") != 0) got += body.substr(start, end + 1 - start);
    EXPECT_EQ(got, expected);
    EXPECT_NE(r.file.find("Nb models: 3\n"), std::string::npos);
}

// Without a total maximum length the tree keeps whole texts, so below a short model's occurrence it can be
// as deep as the texts are long.  Two boxes of one A with a spacer of 0 in two texts of 300000 A: the one
// model A_A starts at every position but the last, and its single occurrence has a chain of about 300000
// nodes below it.  Listing them must not run out of stack.
TEST_F(SpellEndToEnd, OccurrencesBelowADeepSubtree) {
    const int n = 300000;
    const std::string text(n, 'A');
    const Outcome r =
        run(kDna, {text, text}, {"100", "2", "2", "0", "0", "1", "1", "0", "0", "0", "1", "1", "0"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string body = records(r.file);
    ASSERT_EQ(body.compare(0, 10, "A_A 0-0 2\n"), 0) << body.substr(0, 40);
    size_t seqLines = 0;
    for (size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos; start = end + 1)
        if (body.compare(start, 4, "Seq ") == 0) ++seqLines;
    EXPECT_EQ(seqLines, 2u * (n - 1));
    EXPECT_NE(body.find("\n" + std::to_string(2 * (n - 1)) + "\n"), std::string::npos);
    EXPECT_NE(r.file.find("Nb models: 1\n"), std::string::npos);
}

}  // namespace
