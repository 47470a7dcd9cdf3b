// End-to-end runs of the motbox program: standard output, standard error, exit status and result file.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string kDnaAlphabet = "Nucleotide alphabet\nA\nC\nG\nT\nAG\nCT\n*\n";
const std::string kThreeSequences = ">s1 first\nacgtacgt\n>s2\nACGGTACG\n>s3\nttacgtag\n";

const std::string kTextAlphabetLine = "\n** Text alphabet: ACGT$ (4 symbols + terminator) **\n";
const std::string kNucleotidesLine = "** Models alphabet: Nucleotides **\n";
// The joker line's star is not alphanumeric: it is warned about like any punctuation.
const std::string kJokerWarning = "Warning: Non alphanumeric character '*' in the alphabet file\n";
const std::string kDnaAlphabetReport = kNucleotidesLine + kJokerWarning + "Models alphabet's size: 7\n";
const std::string kDnaTranslation = "Symbol AG ->> R\nSymbol CT ->> Y\nSymbol '*' ->> N\n";
const std::string kCheckBanner = "\n                   ------ CHECK THESE PARAMETERS! ------\n";

std::string repeat(char c, int n) {
    return std::string(n, c);
}

// Tree construction banner and meter for three sequences: no time estimate is shown before the fourth step.
const std::string kTreeOfThree = "** Suffix tree construction **\n  0% [" + repeat(' ', 60) + "]\r 33% [" +
                                 repeat('.', 20) + repeat(' ', 40) + "]\r 66% [" + repeat('.', 40) +
                                 repeat(' ', 20) + "]\r100% [" + repeat('.', 60) + "] 00:00:00\n\n";
const std::string kTreeOfTwo = "** Suffix tree construction **\n  0% [" + repeat(' ', 60) + "]\r 50% [" +
                               repeat('.', 30) + repeat(' ', 30) + "]\r100% [" + repeat('.', 60) +
                               "] 00:00:00\n\n";

// Standard error of a good run of dna.alph over the three sequences, up to the extraction.
const std::string kGoodRunErr = kDnaAlphabetReport + kDnaTranslation + kTreeOfThree + kCheckBanner;

std::string header(int blankLines = 3) {
    std::string h;
    for (int i = 0; i < blankLines; i++) h += repeat(' ', 79) + "\n";
    return h + repeat('=', 79) + "\n";
}

// The extraction's duration is the only part of the output that depends on the machine.
std::string maskTime(const std::string& s) {
    static const std::regex kTime("User time : [0-9]+\\.[0-9]{2} sec\\.");
    return std::regex_replace(s, kTime, "User time : T sec.");
}

std::string reportStart(const std::string& output, int minLength, const std::string& maxLength, int boxes,
                        int subst, const std::string& quorum) {
    std::string r = "Extraction is going to be made with the following parameters:\n";
    r += "FASTA file:                    seqs.fa\n";
    r += "Alphabet file:                 dna.alph\n";
    r += "Output file:                   " + output + "\n";
    r += "Total min length:              " + std::to_string(minLength) + "\n";
    r += "Total max length:              " + maxLength + "\n";
    r += "Boxes:                         " + std::to_string(boxes) + "\n";
    r += "Total number of subst.:        " + std::to_string(subst) + "\n";
    r += "Quorum:                        " + quorum + "\n\n";
    return r;
}

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = makeTempDir();
        put("dna.alph", kDnaAlphabet);
        put("seqs.fa", kThreeSequences);
    }
    void TearDown() override { removeTree(dir); }

    void put(const std::string& name, const std::string& content) { writeFile(dir + "/" + name, content); }
    std::string get(const std::string& name) { return readFile(dir + "/" + name); }

    // Runs motbox in the fixture directory with the given arguments.
    RunResult motbox(std::vector<std::string> args) {
        args.insert(args.begin(), MOTBOX_BIN);
        return runCommand(args, dir);
    }

    std::string dir;
};

// Standard error up to the extraction must match exactly; what the extraction engine itself reports
// (banner and meter) is not the driver's and is only located.
void expectErrThroughCheck(const RunResult& r, const std::string& expected) {
    ASSERT_GE(r.err.size(), expected.size()) << r.err;
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    std::string rest = r.err.substr(expected.size());
    EXPECT_TRUE(rest.empty() || rest.rfind("** Models extraction **\n", 0) == 0) << rest;
}

void expectCounts(const std::string& tail, int models) {
    EXPECT_EQ(maskTime(tail), "\nNb models: " + std::to_string(models) + "\nUser time : T sec.\n");
}

// --- Complete runs ---------------------------------------------------------------------------------------

// A quorum above the number of sequences finds nothing, which makes every byte of the run predictable.
TEST_F(DriverTest, OneBoxRunWritesReportHeaderCountsAndSummary) {
    RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "200", "1", "3", "5", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expectedOut =
        kTextAlphabetLine + reportStart("out.txt", 3, "5", 1, 1, "200.000000% (6 sequences in 3)");
    ASSERT_GE(r.out.size(), expectedOut.size());
    EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
    expectCounts(r.out.substr(expectedOut.size()), 0);
    expectErrThroughCheck(r, kGoodRunErr);

    std::string summary = "%%% 1 6/3 24 3 0 1 dna.alph ACGT$";
    std::string file = header();
    file.replace(0, summary.size(), summary);
    EXPECT_EQ(maskTime(get("out.txt")), file + "Nb models: 0\nUser time : T sec.\n");
}

TEST_F(DriverTest, DefaultQuorumIsSeventyPercentRoundedUp) {
    struct Case {
        std::string fasta;
        int quorum;
        int sequences;
        std::string treeMeter;
    };
    const Case cases[] = {
        {kThreeSequences, 3, 3, kTreeOfThree},        // ceil(2.1)
        {">a\nACGT\n>b\nTTGCA\n", 2, 2, kTreeOfTwo},  // ceil(1.4)
    };
    for (const Case& c : cases) {
        put("seqs.fa", c.fasta);
        RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "0", "1", "3", "0", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::string quorum = std::to_string(c.quorum);
        std::string n = std::to_string(c.sequences);
        std::string expectedOut =
            kTextAlphabetLine +
            reportStart("out.txt", 3, "MAX", 1, 0, "0.000000% (" + quorum + " sequences in " + n + ")");
        EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
        expectErrThroughCheck(r, kDnaAlphabetReport + kDnaTranslation + c.treeMeter + kCheckBanner);
        // The summary leads the first line; what the engine found is not this test's concern.
        std::string file = get("out.txt");
        EXPECT_EQ(file.rfind("%%% 1 " + quorum + "/" + n + " ", 0), 0u) << file.substr(0, 80);
        EXPECT_EQ(file.substr(240, 80), repeat('=', 79) + "\n");
    }
}

TEST_F(DriverTest, ThreeBoxReportWithCompositionsAndPalindrome) {
    // clang-format off
    RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "200", "3", "6", "0", "2",
                          "2", "3", "1", "1", "4",  // box 1, spacer 1
                          "2", "0", "0", "0", "2",  // box 2, spacer 2
                          "2", "3", "1",            // box 3
                          "0", "1", "*", "2", "3", "2", "A", "1", "T", "0", "0", "1", "R", "1", "p3/1"});
    // clang-format on
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expectedOut = kTextAlphabetLine +
                              reportStart("out.txt", 6, "MAX", 3, 2, "200.000000% (6 sequences in 3)") +
                              "Total max composition in N:    2\n"
                              "\nBOX 1\n"
                              "Min length:                    2\n"
                              "Max length:                    3\n"
                              "Max number of subst.:          1\n"
                              "Min spacer length:             1\n"
                              "Max spacer length:             4\n"
                              "\nBOX 2\n"
                              "Min length:                    2\n"
                              "Max length:                    MAX\n"
                              "Max number of subst.:          0\n"
                              "Min spacer length:             0\n"
                              "Max spacer length:             2\n"
                              "\nBOX 3\n"
                              "Min length:                    2\n"
                              "Max length:                    3\n"
                              "Max number of subst.:          1\n"
                              "Max composition in A:          1\n"
                              "Max composition in T:          0\n"
                              "Palindrom of box:              1\n"
                              "\n\n";  // one line feed per spacer while the spacer code table is built
    ASSERT_GE(r.out.size(), expectedOut.size());
    EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
    expectCounts(r.out.substr(expectedOut.size()), 0);
    expectErrThroughCheck(
        r, kDnaAlphabetReport +
               "> Warning: composition in 'R' ignored, symbol is not in the models alphabet.\n" +
               kDnaTranslation + kTreeOfThree + kCheckBanner);

    std::string summary = "%%% 3 6/3 24 6 0 2 2 0 1 1 4 2 0 0 0 2 2 0 1 dna.alph ACGT$";
    std::string file = header();
    file.replace(0, summary.size(), summary);
    EXPECT_EQ(maskTime(get("out.txt")), file + "Nb models: 0\nUser time : T sec.\n");
}

TEST_F(DriverTest, TwoBoxesWithoutTailTakeExactlySixteenArguments) {
    RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "200", "2", "4", "9", "1", "2", "4", "0", "1",
                          "3", "2", "5", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expectedOut = kTextAlphabetLine +
                              reportStart("out.txt", 4, "9", 2, 1, "200.000000% (6 sequences in 3)") +
                              "\nBOX 1\nMin length:                    2\nMax length:                    4\n"
                              "Max number of subst.:          0\nMin spacer length:             1\n"
                              "Max spacer length:             3\n"
                              "\nBOX 2\nMin length:                    2\nMax length:                    5\n"
                              "Max number of subst.:          1\n"
                              "\n";
    EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
    expectCounts(r.out.substr(expectedOut.size()), 0);
    std::string summary = "%%% 2 6/3 24 4 0 1 2 0 0 1 3 2 0 1 dna.alph ACGT$";
    std::string file = header();
    file.replace(0, summary.size(), summary);
    EXPECT_EQ(maskTime(get("out.txt")), file + "Nb models: 0\nUser time : T sec.\n");
}

TEST_F(DriverTest, StdoutOutputCarriesHeaderCountsTwiceAndTheSummaryLast) {
    RunResult r = motbox({"dna.alph", "seqs.fa", "stdout", "200", "1", "3", "5", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(maskTime(r.out),
              kTextAlphabetLine + reportStart("stdout", 3, "5", 1, 1, "200.000000% (6 sequences in 3)") +
                  header() + "\nNb models: 0\nUser time : T sec.\n" + "Nb models: 0\nUser time : T sec.\n" +
                  "%%% 1 6/3 24 3 0 1 dna.alph ACGT$");
    expectErrThroughCheck(r, kGoodRunErr);
}

TEST_F(DriverTest, QuorumOfOneWarnsBeforeTheAlphabetAndGoesOn) {
    RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "10", "1", "40", "50", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expectedOut =
        kTextAlphabetLine + reportStart("out.txt", 40, "50", 1, 0, "10.000000% (1 sequences in 3)");
    EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
    expectCounts(r.out.substr(expectedOut.size()), 0);  // no model reaches 40 symbols in 8-letter texts
    expectErrThroughCheck(r, "> Warning: quorum value is 1 sequence!\n" + kGoodRunErr);
}

// Paths far longer than any fixed name buffer: the output name is kept whole, and a long alphabet name
// that pushes the summary past the reserved lines gets more of them instead of eating the rule.
TEST_F(DriverTest, LongNamesAreKeptAndTheHeaderMakesRoomForALongSummary) {
    std::string sub = repeat('d', 120) + "/" + repeat('e', 110);
    std::filesystem::create_directories(dir + "/" + sub);
    std::string alphabet = sub + "/dna.alph";
    std::string output = sub + "/" + repeat('o', 100) + ".txt";
    put(alphabet, kDnaAlphabet);
    RunResult r = motbox({alphabet, "seqs.fa", output, "200", "1", "3", "5", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Output file:                   " + output + "\n"), std::string::npos);
    std::string summary = "%%% 1 6/3 24 3 0 1 " + alphabet + " ACGT$";
    ASSERT_GE(summary.size(), 240u);
    ASSERT_LT(summary.size(), 320u);
    std::string file = header(4);
    file.replace(0, summary.size(), summary);
    EXPECT_EQ(maskTime(get(output)), file + "Nb models: 0\nUser time : T sec.\n");
}

TEST_F(DriverTest, ExistingResultFileIsTruncated) {
    put("out.txt", repeat('x', 5000));
    RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "200", "1", "3", "5", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(get("out.txt").find('x'), std::string::npos);
    EXPECT_EQ(get("out.txt").size(), 320u + std::string("Nb models: 0\nUser time : 0.00 sec.\n").size());
}

// --- Refusals before any file is read ------------------------------------------------------------------

const std::string kUsage =
    "Usage: motbox ALPHABET FASTA OUTPUT QUORUM BOXES MIN_LENGTH MAX_LENGTH SUBSTITUTIONS\n"
    "              [BOX_MIN BOX_MAX BOX_SUBST [SPACER_MIN SPACER_MAX]]... [COMPOSITION]... [pI/J]...\n"
    "  ALPHABET       alphabet file: a header line, then one models symbol per line\n"
    "  FASTA          sequences in FASTA format (at least two)\n"
    "  OUTPUT         result file, or \"stdout\"\n"
    "  QUORUM         percentage of the sequences a model must occur in (0 = 70 %)\n"
    "  BOXES          number of boxes B (1 to 127)\n"
    "  MIN_LENGTH     total minimum model length, spacers not counted\n"
    "  MAX_LENGTH     total maximum model length (0 = no limit)\n"
    "  SUBSTITUTIONS  total maximum number of substitutions\n"
    "  When B is 2 or more, for each box in order: BOX_MIN BOX_MAX (0 = no limit) BOX_SUBST,\n"
    "  and after every box but the last the spacer that follows it: SPACER_MIN SPACER_MAX\n"
    "  COMPOSITION    groups B N SYM1 VAL1 ... SYMN VALN (B = 0: whole model, else box B)\n"
    "  pI/J           box I is the palindrome of the earlier box J\n";

struct RefusalCase {
    const char* what;
    std::vector<std::string> args;
    std::string err;
};

// Every case names a FASTA file that does not exist: the refusal must come before it is opened.
TEST_F(DriverTest, CommandLinesThatCannotBeReadAreRefusedFirst) {
    const RefusalCase cases[] = {
        {"no argument", {}, ">> Error: missing arguments: 0 given, 8 needed\n" + kUsage},
        {"seven arguments",
         {"dna.alph", "none.fa", "out.txt", "0", "1", "3", "5"},
         ">> Error: missing arguments: 7 given, 8 needed\n" + kUsage},
        {"two boxes, fifteen arguments",
         {"dna.alph", "none.fa", "out.txt", "0", "2", "3", "5", "1", "1", "2", "0", "0", "3", "1", "2"},
         ">> Error: missing arguments: 15 given, 16 needed\n" + kUsage},
        {"three boxes, sixteen arguments",
         {"dna.alph", "none.fa", "out.txt", "0", "3", "3", "5", "1", "1", "2", "0", "0", "3", "1", "2", "0"},
         ">> Error: missing arguments: 16 given, 21 needed\n" + kUsage},
        {"zero boxes",
         {"dna.alph", "none.fa", "out.txt", "0", "0", "3", "5", "1"},
         ">> Error: incorrect number of boxes '0': at least one box is needed\n"},
        {"negative boxes",
         {"dna.alph", "none.fa", "out.txt", "0", "-2", "3", "5", "1"},
         ">> Error: incorrect number of boxes '-2': at least one box is needed\n"},
        {"non-numeric boxes",
         {"dna.alph", "none.fa", "out.txt", "0", "two", "3", "5", "1"},
         ">> Error: incorrect number of boxes 'two': at least one box is needed\n"},
        {"256 boxes is a zero byte",
         {"dna.alph", "none.fa", "out.txt", "0", "256", "3", "5", "1"},
         ">> Error: incorrect number of boxes '256': at least one box is needed\n"},
        {"128 boxes is a negative byte",
         {"dna.alph", "none.fa", "out.txt", "0", "128", "3", "5", "1"},
         ">> Error: incorrect number of boxes '128': at least one box is needed\n"},
        {"spacer maximum below minimum",
         {"dna.alph", "none.fa", "out.txt", "0", "3", "3", "5", "1", "1", "2", "0",
          "0",        "3",       "1",       "2", "0", "5", "4", "1", "2", "0"},
         ">> Error: spacer 2: maximum length 4 is lower than minimum length 5\n"},
    };
    for (const RefusalCase& c : cases) {
        RunResult r = motbox(c.args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

TEST_F(DriverTest, ThreeHundredBoxesAreReadAsFortyFour) {
    // The low byte of 300 is 44: the layout then needs 5 x 44 + 6 arguments.
    RunResult r = motbox({"dna.alph", "none.fa", "out.txt", "0", "300", "3", "5", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, ">> Error: missing arguments: 8 given, 226 needed\n" + kUsage);
}

// --- Refusals while loading ----------------------------------------------------------------------------

TEST_F(DriverTest, SequenceFileProblems) {
    const std::vector<std::string> run = {"dna.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"};
    struct Case {
        const char* what;
        std::string fasta;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"empty file", "", "", ">> Error: No sequence in FASTA file!\n\n"},
        {"no header line", "ACGT\nACGT\n", "", ">> Error: No sequence in FASTA file!\n\n"},
        {"one sequence", ">only\nACGTACGT\n", "", ">> Error: One sequence only in FASTA file!\n\n"},
        {"joker character", ">a\nACGT\n>b\nAC*GT\n", "",
         ">> Error: Seq 1 Pos 2 Forbidden character 42 ('*') in the sequences\n"},
        {"tab character", ">a\nACG\tT\n>b\nACGT\n", "", ">> Error: Seq 0 Pos 3 Control character 9 ('\t')\n"},
        {"carriage returns", ">a\r\nACGT\r\n>b\r\nACGT\r\n", "",
         ">> Error: Seq 0 Pos 4 Control character 13 ('\r')\n"},
        // A "$" would act as a second terminator inside the text; it is refused before the alphabet is read.
        {"terminator character", ">a\nACGT\n>b\nAC$GT\n", "",
         ">> Error: Seq 1 Pos 2 Forbidden character 36 ('$') in the sequences\n"},
        {"terminator at the end", ">a\nACGT$\n>b\nACGT\n", "",
         ">> Error: Seq 0 Pos 4 Forbidden character 36 ('$') in the sequences\n"},
        // Of a NUL byte and a "$" in one sequence, the first one is reported.
        {"NUL byte before a terminator", std::string(">a\nACGT\n>b\nA\0C$GT\n", 18), "",
         std::string(">> Error: Seq 1 Pos 1 Control character 0 ('\0')\n", 48)},
        {"terminator before a NUL byte", std::string(">a\nACGT\n>b\nA$C\0GT\n", 18), "",
         ">> Error: Seq 1 Pos 1 Forbidden character 36 ('$') in the sequences\n"},
    };
    for (const Case& c : cases) {
        put("seqs.fa", c.fasta);
        RunResult r = motbox(run);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_FALSE(fileExists(dir + "/out.txt")) << c.what;
    }
}

TEST_F(DriverTest, MissingFilesAreReportedInPipelineOrder) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string fasta;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"missing FASTA file",
         {"dna.alph", "none.fa", "out.txt", "0", "1", "3", "5", "1"},
         kThreeSequences,
         "",
         "Error: main: cannot open FASTA file 'none.fa'\n"},
        {"missing alphabet file",
         {"none.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"},
         kThreeSequences,
         "",
         "Error: main: cannot open alphabet file 'none.alph'\n"},
        // The FASTA file is read to its end before the alphabet file is opened.
        {"missing alphabet after an empty FASTA file",
         {"none.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"},
         "",
         "",
         ">> Error: No sequence in FASTA file!\n\n"},
        {"missing alphabet after the quorum warning",
         {"none.alph", "seqs.fa", "out.txt", "10", "1", "3", "5", "1"},
         kThreeSequences,
         "",
         "> Warning: quorum value is 1 sequence!\nError: main: cannot open alphabet file 'none.alph'\n"},
        {"missing alphabet after bad sequence characters",
         {"none.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"},
         ">a\nAC_GT\n>b\nACGT\n",
         "",
         "Error: main: cannot open alphabet file 'none.alph'\n"},
        // The result file is opened only once the tree is built and the report printed.
        {"missing output directory",
         {"dna.alph", "seqs.fa", "nodir/out.txt", "0", "1", "3", "5", "1"},
         kThreeSequences,
         kTextAlphabetLine + reportStart("nodir/out.txt", 3, "5", 1, 1, "0.000000% (3 sequences in 3)"),
         kGoodRunErr + "Error: main: cannot open output file 'nodir/out.txt'\n"},
    };
    for (const Case& c : cases) {
        put("seqs.fa", c.fasta);
        RunResult r = motbox(c.args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

TEST_F(DriverTest, QuorumBelowOneIsRefusedBeforeTheAlphabet) {
    for (const char* percent : {"-10", "-0.5"}) {
        RunResult r = motbox({"none.alph", "seqs.fa", "out.txt", percent, "1", "3", "5", "1"});
        EXPECT_EQ(r.status, 1) << percent;
        EXPECT_EQ(r.out, "") << percent;
        EXPECT_EQ(r.err, ">> Error: main: quorum value is lower than 1 sequence!\n") << percent;
    }
}

// The quorum is judged as soon as the sequences are counted, before any text is refused.
TEST_F(DriverTest, QuorumIsJudgedBeforeATerminatorInsideASequence) {
    put("seqs.fa", ">a\nACGT\n>b\nAC$GT\n>c\nACGT\n");
    const std::string dollar = ">> Error: Seq 1 Pos 2 Forbidden character 36 ('$') in the sequences\n";
    RunResult warned = motbox({"dna.alph", "seqs.fa", "out.txt", "10", "1", "3", "5", "1"});
    EXPECT_EQ(warned.status, 1);
    EXPECT_EQ(warned.err, "> Warning: quorum value is 1 sequence!\n" + dollar);
    RunResult refused = motbox({"dna.alph", "seqs.fa", "out.txt", "-10", "1", "3", "5", "1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, ">> Error: main: quorum value is lower than 1 sequence!\n");
    EXPECT_FALSE(fileExists(dir + "/out.txt"));
}

TEST_F(DriverTest, AlphabetFileProblems) {
    struct Case {
        const char* what;
        std::string alphabet;
        std::string err;
    };
    const Case cases[] = {
        {"space in a symbol line", "Nucleotide\nA\nC G\n",
         kNucleotidesLine + ">> Error: Control character ' ' in the alphabet file\n"},
        {"joker not alone", "Nucleotide\nA\n*A\n",
         kNucleotidesLine + ">> Error: JOKER character '*' not alone\n"},
        {"forbidden character", "Nucleotide\nA\nG$\n",
         kNucleotidesLine + ">> Error: Forbidden character 36 ('$') in the alphabet file\n"},
        {"confusable symbols", "Nucleotide\nA\nAR\n",
         kNucleotidesLine +
             "Models alphabet's size: 2\n> Warning: text symbol 'C' is not recognized by any models symbol.\n"
             "> Warning: text symbol 'G' is not recognized by any models symbol.\n"
             "> Warning: text symbol 'T' is not recognized by any models symbol.\n"
             "Symbol AR ->> A\n>> Error: possible confusion between symbols AR\n and A\n of the alphabet.\n"
             "Modify the alphabet to avoid conflict.\n"},
    };
    for (const Case& c : cases) {
        put("dna.alph", c.alphabet);
        RunResult r = motbox({"dna.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"});
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, kTextAlphabetLine) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_FALSE(fileExists(dir + "/out.txt")) << c.what;
    }
}

// Tails are parsed once the alphabet is known, so these refusals follow the alphabet reports.
TEST_F(DriverTest, BadTailsAreRefusedBeforeTheTreeIsBuilt) {
    const std::vector<std::string> oneBox = {"dna.alph", "seqs.fa", "out.txt", "0", "1", "3", "5", "1"};
    const std::vector<std::string> twoBoxes = {"dna.alph", "seqs.fa", "out.txt", "0", "2", "3", "5", "1",
                                               "1",        "2",       "0",       "0", "3", "1", "2", "0"};
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> tail;
        std::string err;
    };
    const Case cases[] = {
        {"group announcing more pairs than remain",
         oneBox,
         {"0", "3", "A", "1"},
         ">> Error: composition group '0 3' announces 3 pairs but 2 arguments remain after it\n"},
        {"group for a box that does not exist",
         twoBoxes,
         {"3", "1", "A", "1"},
         ">> Error: composition group '3 1': box 3 is not between 0 and 2\n"},
        {"palindrome argument of the wrong form",
         twoBoxes,
         {"p2-1"},
         ">> Error: palindrome argument 'p2-1' is not of the form pI/J\n"},
        {"palindrome of a box that does not exist",
         twoBoxes,
         {"p3/1"},
         ">> Error: palindrome argument 'p3/1': boxes must be between 1 and 2\n"},
        {"palindrome of a later box",
         twoBoxes,
         {"p1/2"},
         ">> Error: box 1 cannot be the palindrome of box 2: the partner must be an earlier box\n"},
        {"palindrome of itself",
         twoBoxes,
         {"p2/2"},
         ">> Error: box 2 cannot be the palindrome of box 2: the partner must be an earlier box\n"},
        {"palindrome in a single-box run",
         oneBox,
         {"p1/1"},
         ">> Error: palindrome declarations need a run of at least two boxes\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), c.tail.begin(), c.tail.end());
        RunResult r = motbox(args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, kTextAlphabetLine) << c.what;
        EXPECT_EQ(r.err, kDnaAlphabetReport + c.err) << c.what;
    }
}

TEST_F(DriverTest, PalindromesNeedANucleotideAlphabet) {
    put("prot.alph", "Protein\nA\nC\nG\nT\n");
    RunResult r = motbox({"prot.alph", "seqs.fa", "out.txt", "0", "2", "3", "5", "1", "1", "2", "0", "0", "3",
                          "1", "2", "0", "p2/1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kTextAlphabetLine);
    EXPECT_EQ(r.err,
              "** Models alphabet: Amino-acids **\nModels alphabet's size: 4\n"
              ">> Error: palindroms can only be used with a nucleotide alphabet\n");
}

// --- Result file that cannot be written ----------------------------------------------------------------

TEST_F(DriverTest, ResultThatCannotBeWrittenIsAFailure) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    RunResult r = motbox({"dna.alph", "seqs.fa", "/dev/full", "200", "1", "3", "5", "1"});
    EXPECT_EQ(r.status, 1);
    std::string expectedOut =
        kTextAlphabetLine + reportStart("/dev/full", 3, "5", 1, 1, "200.000000% (6 sequences in 3)");
    EXPECT_EQ(r.out.substr(0, expectedOut.size()), expectedOut);
    const std::string failure = ">> Error: main: cannot write output file '/dev/full'\n";
    ASSERT_GE(r.err.size(), failure.size());
    EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure);
    expectErrThroughCheck({r.out, r.err.substr(0, r.err.size() - failure.size()), r.status}, kGoodRunErr);
}

// --- The shipped examples ------------------------------------------------------------------------------

TEST(ExamplesTest, ExampleDataSetsRunThroughTheDriver) {
    struct Case {
        const char* alphabet;
        const char* fasta;
        std::string textAlphabetLine;
        std::string modelsAlphabet;
        int sequences;
    };
    const Case cases[] = {
        {"dna.alph", "dm3_upstream_20.fa", kTextAlphabetLine, kDnaAlphabetReport + kDnaTranslation, 20},
        {"protein.alph", "globins45.fa",
         "\n** Text alphabet: ACDEFGHIKLMNPQRSTVWY$ (20 symbols + terminator) **\n",
         "** Models alphabet: Amino-acids **\n" + kJokerWarning +
             "Models alphabet's size: 26\nSymbol '*' ->> X\n",
         45},
    };
    std::string dir = makeTempDir();
    for (const Case& c : cases) {
        std::string examples = std::string(MOTBOX_SOURCE_DIR) + "/examples/";
        RunResult r = runCommand({MOTBOX_BIN, examples + c.alphabet, examples + c.fasta, dir + "/out.txt",
                                  "200", "1", "4", "6", "1"});
        ASSERT_EQ(r.status, 0) << c.fasta << "\n" << r.err;
        EXPECT_EQ(r.out.rfind(c.textAlphabetLine, 0), 0u) << c.fasta;
        EXPECT_EQ(r.err.rfind(c.modelsAlphabet + "** Suffix tree construction **\n", 0), 0u) << c.fasta;
        std::string quorum = std::to_string(2 * c.sequences) + "/" + std::to_string(c.sequences);
        EXPECT_NE(r.out.find("(" + std::to_string(2 * c.sequences) + " sequences in " +
                             std::to_string(c.sequences) + ")"),
                  std::string::npos);
        std::string file = readFile(dir + "/out.txt");
        EXPECT_EQ(file.rfind("%%% 1 " + quorum + " ", 0), 0u) << file.substr(0, 80);
        EXPECT_EQ(file.substr(240, 80), repeat('=', 79) + "\n");
    }
    removeTree(dir);
}

}  // namespace
