// End-to-end runs of motbox-delta: whole result files, ".namefile" and standard output byte for byte on a
// hand-checked example, and every refusal of the driver.  Each run happens in a private directory, since
// ".namefile" is written in the current one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Two sequences sharing the core ACAAAAGT after different prefixes.  With boxes of exactly two symbols,
// no substitution and a spacer of 3 to 6, the models found in both are AC_AG (spacer 3), AC_GT (spacer 4)
// and CA_GT (spacer 3); each time the two occurrences are the same word, so they stand at one place of the
// tree and print from the highest sequence down.
const std::string kFasta = ">s0 prefix G\nGACAAAAGT\n>s1 prefix TT\nTTACAAAAGT\n";
const std::string kAlphabet = "Nucleotide alphabet\nA\nC\nG\nT\n";

std::string blankLine() {
    return std::string(79, ' ') + "\n";
}

// The reserved header whose first line holds the summary (padded by the blanks it did not cover).
std::string header(const std::string& summary) {
    return summary + std::string(79 - summary.size(), ' ') + "\n" + blankLine() + blankLine() +
           std::string(79, '=') + "\n";
}

std::string maskTime(const std::string& s) {
    return std::regex_replace(s, std::regex("User time : [0-9]+\\.[0-9]{2} sec\\."), "User time : T sec.");
}

class DeltaRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = makeTempDir();
        writeFile(dir_ + "/alpha.txt", kAlphabet);
        writeFile(dir_ + "/seqs.fa", kFasta);
    }
    void TearDown() override { removeTree(dir_); }

    // Runs with the extraction in the calling thread alone, after a run cut into tasks over three workers
    // that must leave the same files and standard output.
    RunResult run(const std::vector<std::string>& args) {
        const std::set<std::string> before = names();
        const RunResult parallel = runWith("3", args);
        const std::map<std::string, std::string> parallelFiles = contents();
        for (const std::string& name : names())
            if (before.count(name) == 0) std::filesystem::remove(dir_ + "/" + name);
        RunResult r = runWith("1", args);
        EXPECT_EQ(parallel.status, r.status);
        EXPECT_EQ(maskTime(parallel.out), maskTime(r.out));
        EXPECT_EQ(parallelFiles, contents());
        return r;
    }
    RunResult runWith(const std::string& threads, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {MOTBOX_DELTA_BIN, "-t", threads};
        argv.insert(argv.end(), args.begin(), args.end());
        return runCommand(argv, dir_);
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            found.insert(entry.path().filename());
        return found;
    }
    std::map<std::string, std::string> contents() const {
        std::map<std::string, std::string> files;
        for (const std::string& name : names())
            if (std::filesystem::is_regular_file(dir_ + "/" + name))
                files[name] = maskTime(readFile(dir_ + "/" + name));
        return files;
    }
    // Runs through the shell, for settings the child must inherit (open-file limits).
    RunResult runShell(const std::string& before, const std::vector<std::string>& args) {
        std::string cmd = before + "; exec '" + std::string(MOTBOX_DELTA_BIN) + "'";
        for (const std::string& a : args) cmd += " '" + a + "'";
        return runCommand({"/bin/sh", "-c", cmd}, dir_);
    }
    std::string read(const std::string& name) { return readFile(dir_ + "/" + name); }
    bool exists(const std::string& name) { return fileExists(dir_ + "/" + name); }

    std::string dir_;
};

// Arguments 4 onward for the example: quorum 100 %, two boxes, 4 symbols in all, no substitution, boxes of
// exactly two symbols, spacer lo to hi with the given Delta.
std::vector<std::string> exampleArgs(int lo, int hi, int delta) {
    return {"alpha.txt",
            "seqs.fa",
            "res",
            "100",
            "2",
            "4",
            "4",
            "0",
            "2",
            "2",
            "0",
            std::to_string(lo),
            std::to_string(hi),
            std::to_string(delta),
            "2",
            "2",
            "0"};
}

const std::string kAcAg = "AC_AG 01-02 2\nSeq     1   Pos     2\t3 \nSeq     0   Pos     1\t3 \n2\n";
const std::string kAcGt = "AC_GT 01-23 2\nSeq     1   Pos     2\t4 \nSeq     0   Pos     1\t4 \n2\n";
const std::string kCaGt = "CA_GT 10-23 2\nSeq     1   Pos     3\t3 \nSeq     0   Pos     2\t3 \n2\n";

std::string expectedStdout(int spacerMax, int delta, int total) {
    return "\n** Text alphabet: ACGT$ (4 symbols + terminator) **\n"
           "Extraction is going to be made with the following parameters:\n"
           "FASTA file:                    seqs.fa\n"
           "Alphabet file:                 alpha.txt\n"
           "Output file:                   res\n"
           "Total min length:              4\n"
           "Total max length:              4\n"
           "Boxes:                         2\n"
           "Total number of subst.:        0\n"
           "Quorum:                        100.000000% (2 sequences in 2)\n\n"
           "\nBOX 1\n"
           "Min length:                    2\n"
           "Max length:                    2\n"
           "Max number of subst.:          0\n"
           "Min spacer length:             3\n"
           "Max spacer length:             " +
           std::to_string(spacerMax) +
           "\n"
           "Delta     :                    " +
           std::to_string(delta) +
           "\n"
           "\nBOX 2\n"
           "Min length:                    2\n"
           "Max length:                    2\n"
           "Max number of subst.:          0\n"
           "\n"  // one line feed per spacer while the spacer code table is built
           "\nNb models: " +
           std::to_string(total) + "\nUser time : T sec.\n";
}

struct ExpectedFile {
    std::string name;
    std::string summary;
    std::string models;
    int count;
};

TEST_F(DeltaRun, OverlappingWindowsSplitTheModels) {
    RunResult r = run(exampleArgs(3, 6, 1));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<ExpectedFile> files = {
        {"res[3-5]", "%%% 2 2/2 19 4 4 0 2 2 0 3 5 2 2 0 alpha.txt ACGT$", kAcAg + kAcGt + kCaGt, 3},
        {"res[4-6]", "%%% 2 2/2 19 4 4 0 2 2 0 4 6 2 2 0 alpha.txt ACGT$", kAcGt, 1},
    };
    EXPECT_EQ(read(".namefile"), "res[3-5]\nres[4-6]\n");
    for (const ExpectedFile& e : files)
        EXPECT_EQ(maskTime(read(e.name)), header(e.summary) + e.models + "Nb models: " +
                                              std::to_string(e.count) + "\nUser time : T sec.\n")
            << e.name;
    EXPECT_EQ(maskTime(r.out), expectedStdout(6, 1, 4));
    EXPECT_EQ(r.err.find(">> Error"), std::string::npos) << r.err;
}

TEST_F(DeltaRun, DeltaZeroGivesOneFilePerLength) {
    RunResult r = run(exampleArgs(3, 4, 0));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<ExpectedFile> files = {
        {"res[3-3]", "%%% 2 2/2 19 4 4 0 2 2 0 3 3 2 2 0 alpha.txt ACGT$", kAcAg + kCaGt, 2},
        {"res[4-4]", "%%% 2 2/2 19 4 4 0 2 2 0 4 4 2 2 0 alpha.txt ACGT$", kAcGt, 1},
    };
    EXPECT_EQ(read(".namefile"), "res[3-3]\nres[4-4]\n");
    for (const ExpectedFile& e : files)
        EXPECT_EQ(maskTime(read(e.name)), header(e.summary) + e.models + "Nb models: " +
                                              std::to_string(e.count) + "\nUser time : T sec.\n")
            << e.name;
    EXPECT_EQ(maskTime(r.out), expectedStdout(4, 0, 3));
}

TEST_F(DeltaRun, WindowWithoutModelStillGetsItsSummary) {
    // Spacer 5 to 6: no model has such a spacer in both sequences; the file reports 0 as reached lengths.
    RunResult r = run(exampleArgs(5, 6, 0));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read(".namefile"), "res[5-5]\nres[6-6]\n");
    EXPECT_EQ(maskTime(read("res[6-6]")), header("%%% 2 2/2 19 4 0 0 2 0 0 6 6 2 0 0 alpha.txt ACGT$") +
                                              "Nb models: 0\nUser time : T sec.\n");
}

// Box 2 as the palindrome of box 1 keeps AC_GT only (GT is AC read backwards and complemented).
TEST_F(DeltaRun, PalindromicBoxReadsItsPartnerBackwards) {
    std::vector<std::string> args = exampleArgs(3, 6, 1);
    args.push_back("p2/1");
    RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Max number of subst.:          0\nPalindrom of box:              1\n"),
              std::string::npos);
    EXPECT_EQ(maskTime(read("res[3-5]")), header("%%% 2 2/2 19 4 4 0 2 2 0 3 5 2 2 0 alpha.txt ACGT$") +
                                              kAcGt + "Nb models: 1\nUser time : T sec.\n");
    EXPECT_EQ(maskTime(read("res[4-6]")), header("%%% 2 2/2 19 4 4 0 2 2 0 4 6 2 2 0 alpha.txt ACGT$") +
                                              kAcGt + "Nb models: 1\nUser time : T sec.\n");
}

// At most one A in the whole model removes AC_AG; the per-box limit is reported with its own wording.
TEST_F(DeltaRun, CompositionLimitsAreReportedAndApplied) {
    std::vector<std::string> args = exampleArgs(3, 6, 1);
    args.insert(args.end(), {"0", "1", "A", "1", "1", "1", "C", "1"});
    RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(2 sequences in 2)\n\nTotal max composition in A:    1\n\nBOX 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Delta     :                    1\nMax composition in C:         1\n\nBOX 2\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(maskTime(read("res[3-5]")), header("%%% 2 2/2 19 4 4 0 2 2 0 3 5 2 2 0 alpha.txt ACGT$") +
                                              kAcGt + kCaGt + "Nb models: 2\nUser time : T sec.\n");
}

TEST_F(DeltaRun, QuorumOfOneSequenceWarnsAndRuns) {
    std::vector<std::string> args = exampleArgs(3, 6, 1);
    args[3] = "50";
    RunResult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("> Warning: quorum value is 1 sequence\n"), std::string::npos) << r.err;
    EXPECT_TRUE(exists("res[4-6]"));
}

// Two texts of 50000 A: box 1 of exactly h = 25000 symbols, a spacer of 1 to 4 (Delta 1: windows 1-3 and
// 2-4), box 2 free, models of at least n - 3 symbols.  The walk goes one model deeper per symbol, about n
// models deep, and must not run out of stack.  A^h _l A^j is at position p when p + h + l + j <= n: box 2
// reaches j = n - h - 1 with spacer 1 only, and the window 2-4 keeps spacers 2 and 3 only.
TEST_F(DeltaRun, ModelsAsLongAsASharedSegment) {
    const int n = 50000;
    const int h = n / 2;
    const std::string text(n, 'A');
    writeFile(dir_ + "/long.fa", ">s0\n" + text + "\n>s1\n" + text + "\n");
    RunResult r = run({"alpha.txt", "long.fa", "res", "100", "2", std::to_string(n - 3), "0", "0",
                       std::to_string(h), std::to_string(h), "0", "1", "4", "1", "1", "0", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read(".namefile"), "res[1-3]\nres[2-4]\n");

    // Each place prints its longest text first, sequences from the highest down.  Every symbol of box 2
    // reverses the order of the places (a level is read from the top and its extensions are pushed), so the
    // spacers come in increasing order after an odd number of box 2 symbols, decreasing after an even one.
    auto model = [&](int j, int lo, int hi) {
        std::string m = std::string(h, 'A') + "_" + std::string(j, 'A') + " " + std::string(h, '0') + "-" +
                        std::string(j, '0') + " 2\n";
        std::vector<int> spacers;
        for (int l = lo; l <= hi; l++)
            if (h + l + j <= n) spacers.push_back(l);
        if (j % 2 == 0) std::reverse(spacers.begin(), spacers.end());
        int lines = 0;
        char line[64];
        for (int l : spacers)
            for (int p = 0; p + h + l + j <= n; p++)
                for (int seq = 1; seq >= 0; seq--) {
                    snprintf(line, sizeof line, "Seq %5d   Pos %5d\t%d \n", seq, p, l);
                    m += line;
                    lines++;
                }
        return m + std::to_string(lines) + "\n";
    };
    const std::vector<ExpectedFile> files = {
        {"res[1-3]", "%%% 2 2/2 100000 49997 49999 0 25000 25000 0 1 3 1 24999 0 alpha.txt A$",
         model(n - h - 1, 1, 3) + model(n - h - 2, 1, 3) + model(n - h - 3, 1, 3), 3},
        {"res[2-4]", "%%% 2 2/2 100000 49997 49998 0 25000 25000 0 2 4 1 24998 0 alpha.txt A$",
         model(n - h - 2, 2, 4) + model(n - h - 3, 2, 4), 2},
    };
    for (const ExpectedFile& e : files)
        EXPECT_EQ(maskTime(read(e.name)), header(e.summary) + e.models + "Nb models: " +
                                              std::to_string(e.count) + "\nUser time : T sec.\n")
            << e.name;
}

// ---- Refusals ---------------------------------------------------------------------------------

struct Refusal {
    const char* what;
    std::vector<std::string> args;
    std::string err;  // the whole standard error
};

TEST_F(DeltaRun, RefusalsBeforeAnyResultFile) {
    writeFile(dir_ + "/empty.fa", "");
    writeFile(dir_ + "/one.fa", ">only\nACGT\n");
    auto with = [](std::vector<std::string> a, size_t i, const std::string& v) {
        a[i] = v;
        return a;
    };
    const std::vector<std::string> base = exampleArgs(3, 6, 1);
    const std::vector<Refusal> cases = {
        {"one box", with(base, 4, "1"), ">> Error: Incorrect boxes number\n\n"},
        {"no box", with(base, 4, "0"), ">> Error: Incorrect boxes number\n\n"},
        {"256 boxes read as 0", with(base, 4, "256"), ">> Error: Incorrect boxes number\n\n"},
        {"missing FASTA", with(base, 1, "nothere.fa"), ">> Error: main: cannot open FASTA file\n"},
        {"empty FASTA", with(base, 1, "empty.fa"), ">> Error: main: no sequences in FASTA file\n"},
        {"one sequence", with(base, 1, "one.fa"), ">> Error: main: one sequence only in FASTA file\n"},
        {"negative quorum", with(base, 3, "-10"), ">> Error: quorum value is lower than 1 sequence\n"},
        {"missing alphabet", with(base, 0, "nothere.txt"), ">> Error: main: cannot open alphabet file\n\n"},
        {"inverted spacer", with(with(base, 11, "5"), 12, "2"),
         ">> Error: spacer 1: maximum length 2 is lower than minimum length 5\n"},
        {"range narrower than a window", with(base, 12, "4"),
         ">> Error: spacer 1: lengths 3 to 4 are fewer than one window of 2 x Delta + 1 = 3 lengths\n"},
        {"negative Delta", with(base, 13, "-1"), ">> Error: spacer 1: negative Delta -1\n"},
        {"Delta whose window length overflows", with(base, 13, "2147483647"),
         ">> Error: spacer 1: lengths 3 to 6 are fewer than one window of 2 x Delta + 1 = 4294967295 "
         "lengths\n"},
        {"spacer lengths beyond int", with(with(base, 11, "0"), 12, "2147483647"),
         ">> Error: spacer 1: lengths 0 to 2147483647 are too many\n"},
        {"negative spacer minimum", with(with(base, 11, "-2"), 13, "0"),
         ">> Error: spacer 1: negative minimum length -2\n"},
        {"file count beyond int",
         {"alpha.txt", "seqs.fa", "res", "100", "5", "4", "0",   "0", "1", "1", "0", "0",
          "999",       "0",       "1",   "1",   "0", "0", "999", "0", "1", "1", "0", "0",
          "999",       "0",       "1",   "1",   "0", "0", "999", "0", "1", "1", "0"},
         ">> Error: main: too many result files (more than 2147483647)\n"},
    };
    for (const Refusal& c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_FALSE(exists(".namefile")) << c.what;
    }
}

TEST_F(DeltaRun, ShortCommandLineGivesUsage) {
    struct Short {
        std::vector<std::string> args;
        std::string first;
    };
    const std::vector<Short> cases = {
        {{}, ">> Error: missing arguments: 0 given, 8 needed\n"},
        {{"alpha.txt", "seqs.fa", "res", "100", "2", "4", "4"},
         ">> Error: missing arguments: 7 given, 8 needed\n"},
        // Two boxes take 17 arguments; the second box is missing.
        {{"alpha.txt", "seqs.fa", "res", "100", "2", "4", "4", "0", "2", "2", "0", "3", "6", "1"},
         ">> Error: missing arguments: 14 given, 17 needed\n"},
        // The spacer group has three numbers: a motbox-style command line is one argument short.
        {{"alpha.txt", "seqs.fa", "res", "100", "2", "4", "4", "0", "2", "2", "0", "3", "6", "2", "2", "0"},
         ">> Error: missing arguments: 16 given, 17 needed\n"},
    };
    for (const Short& c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(0, c.first.size()), c.first);
        EXPECT_NE(r.err.find("Usage: motbox-delta ALPHABET FASTA OUTPUT QUORUM BOXES"), std::string::npos);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(exists(".namefile"));
    }
}

TEST_F(DeltaRun, PalindromeOfALaterBoxIsRefused) {
    std::vector<std::string> args = exampleArgs(3, 6, 1);
    args.push_back("p1/2");
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind(">> Error")),
              ">> Error: box 1 cannot be the palindrome of box 2: the partner must be an earlier box\n");
    EXPECT_FALSE(exists(".namefile"));
}

TEST_F(DeltaRun, ResultFileThatCannotBeCreated) {
    std::vector<std::string> args = exampleArgs(3, 6, 1);
    args[2] = "no-such-dir/res";
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind(">> Error")), ">> Error: main: cannot initialize output files\n\n");
    EXPECT_EQ(read(".namefile"), "");
}

TEST_F(DeltaRun, NameFileThatCannotBeCreated) {
    ASSERT_EQ(mkdir((dir_ + "/.namefile").c_str(), 0700), 0);
    RunResult r = run(exampleArgs(3, 6, 1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind(">> Error")), ">> Error: main: cannot initialize output files\n\n");
    EXPECT_FALSE(exists("res[3-5]"));
}

// Writes beyond a file size limit fail (the signal that would kill the process is ignored): a name list or
// result file that could not be written in full is an error, never a run ending with status 0.
TEST_F(DeltaRun, NameFileThatCannotBeWritten) {
    RunResult r = runShell("trap '' XFSZ; ulimit -f 0", exampleArgs(3, 6, 1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind(">> Error")), ">> Error: main: cannot initialize output files\n\n");
}

TEST_F(DeltaRun, ResultFileThatCannotBeWrittenInFull) {
    // 512 bytes: enough for ".namefile" (18 bytes) but not for res[3-5] (553 bytes once complete).
    RunResult r = runShell("trap '' XFSZ; ulimit -f 1", exampleArgs(3, 6, 1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind(">> Error")), ">> Error: main: cannot write output file 'res[3-5]'\n");
}

TEST_F(DeltaRun, MoreFilesThanTheOpenFileLimit) {
    // Spacer 0 to 100 with Delta 0: 101 result files, more than a hard limit of 40 open files.
    const std::vector<std::string> args = {"alpha.txt", "seqs.fa", "res", "100", "2", "2", "2", "0", "1",
                                           "1",         "0",       "0",   "100", "0", "1", "1", "0"};
    RunResult r = runShell("ulimit -n 40", args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        ">> Error: main: 101 result files cannot be open at once (the limit is 40 open files); narrow the "
        "spacer ranges or widen their Delta\n");
    EXPECT_FALSE(exists(".namefile"));
    EXPECT_FALSE(exists("res[0-0]"));
}

TEST_F(DeltaRun, SoftOpenFileLimitIsRaisedWhenTheHardOneAllows) {
    const std::vector<std::string> args = {"alpha.txt", "seqs.fa", "res", "100", "2", "2", "2", "0", "1",
                                           "1",         "0",       "0",   "100", "0", "1", "1", "0"};
    RunResult r = runShell("ulimit -S -n 40", args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists("res[100-100]"));
    // Every listed file was created and finished.
    const std::string list = read(".namefile");
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 101);
    EXPECT_NE(read("res[0-0]").find("Nb models: "), std::string::npos);
}

}  // namespace
