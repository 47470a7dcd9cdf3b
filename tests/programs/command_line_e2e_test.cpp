// End-to-end runs of both programs on what the command line may hold beyond sane positional arguments:
// options, numbers the arithmetic cannot carry, NUL bytes in the sequences and the tree memory limit.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string kAlphabet = "Nucleotide\nA\nC\nG\nT\nAG\nCT\n*\n";
const std::string kFasta = ">1\nACGTACGTAAGGCCTTAC\n>2\nACGTTCGTAAGGCATTGG\n>3\nTTACGTACGGAACGT\n";
const std::string kRangeHint = ": it must be between -100000000 and 100000000\n";

std::string maskTime(const std::string& s) {
    return std::regex_replace(s, std::regex("User time : [0-9]+\\.[0-9]{2} sec\\."), "User time : T sec.");
}

class CommandLineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = makeTempDir();
        writeFile(dir + "/a.alph", kAlphabet);
        writeFile(dir + "/s.fa", kFasta);
    }
    void TearDown() override { removeTree(dir); }

    RunResult run(const char* program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return runCommand(args, dir);
    }
    // Runs program with options before positional and expects the refusal of a run that cannot fit: status
    // 1, a last error line matching refusal, no tree built and no file created.
    void expectRefusedAtOnce(const char* program, std::vector<std::string> options,
                             const std::vector<std::string>& positional, const std::regex& refusal) {
        options.insert(options.end(), positional.begin(), positional.end());
        RunResult refused = run(program, options);
        EXPECT_EQ(refused.status, 1) << program;
        const std::string last = refused.err.substr(refused.err.rfind(">> Error:"));
        EXPECT_TRUE(std::regex_match(last, refusal)) << refused.err;
        EXPECT_EQ(refused.err.find("Suffix tree construction"), std::string::npos);
        EXPECT_TRUE(noFileCreated()) << program;
    }
    // No result file, no ".namefile": a refusal came before any file was created.
    bool noFileCreated() {
        return !fileExists(dir + "/o.txt") && !fileExists(dir + "/.namefile") && !fileExists(dir + "/stdout");
    }

    std::string dir;
};

struct Refusal {
    const char* what;
    const char* program;
    std::vector<std::string> args;
    std::string err;  // the whole standard error
};

// Each line once segfaulted, overflowed or read out of bounds; now each is refused before any file exists.
TEST_F(CommandLineRun, NumbersTheArithmeticCannotCarryAreRefused) {
    const std::vector<std::string> twoBoxes = {"a.alph", "s.fa", "o.txt", "100", "2", "2",
                                               "4",      "0",    "1",     "2",   "0"};
    auto motboxSpacer = [&](const char* lo, const char* hi) {
        std::vector<std::string> a = twoBoxes;
        a.insert(a.end(), {lo, hi, "1", "2", "0"});
        return a;
    };
    const std::vector<Refusal> cases = {
        {"spacer maximum at INT_MAX", MOTBOX_BIN, motboxSpacer("0", "2147483647"),
         ">> Error: argument 13 (maximum length of spacer 1) is 2147483647: it must be between 0 and "
         "100000000\n"},
        {"spacer minimum at INT_MIN", MOTBOX_BIN, motboxSpacer("-2147483648", "0"),
         ">> Error: argument 12 (minimum length of spacer 1) is -2147483648" + kRangeHint},
        {"spacer of the single length INT_MAX", MOTBOX_BIN, motboxSpacer("2147483647", "2147483647"),
         ">> Error: argument 12 (minimum length of spacer 1) is 2147483647" + kRangeHint},
        {"negative spacer maximum", MOTBOX_BIN, motboxSpacer("-1", "-1"),
         ">> Error: argument 13 (maximum length of spacer 1) is -1: it must be between 0 and 100000000\n"},
        {"window loop at INT_MAX",
         MOTBOX_DELTA_BIN,
         {"a.alph", "s.fa", "res", "60", "2", "4", "6", "1", "2", "3", "1", "2147483647", "2147483647", "0",
          "2", "3", "1"},
         ">> Error: argument 12 (minimum length of spacer 1) is 2147483647" + kRangeHint},
        {"composition at INT_MIN",
         MOTBOX_BIN,
         {"a.alph", "s.fa", "o.txt", "100", "1", "3", "4", "1", "0", "1", "A", "-2147483648"},
         ">> Error: argument 12 (composition limit of 'A' in box 0) is -2147483648" + kRangeHint},
        {"composition read from 2147483648",
         MOTBOX_DELTA_BIN,
         {"a.alph", "s.fa", "res", "100", "2", "3", "4", "1", "2", "3",         "1",
          "0",      "2",    "0",   "2",   "3", "1", "2", "1", "A", "2147483648"},
         ">> Error: argument 21 (composition limit of 'A' in box 2) is -2147483648" + kRangeHint},
        {"substitutions at INT_MAX",
         MOTBOX_BIN,
         {"a.alph", "s.fa", "o.txt", "100", "1", "3", "4", "2147483647"},
         ">> Error: argument 8 (total substitutions) is 2147483647" + kRangeHint},
        {"box substitutions at INT_MAX",
         MOTBOX_DELTA_BIN,
         {"a.alph", "s.fa", "res", "100", "2", "3", "4", "1", "2", "3", "2147483647", "0", "2", "0", "2", "3",
          "1"},
         ">> Error: argument 11 (substitutions of box 1) is 2147483647" + kRangeHint},
        {"total maximum length beyond the bound",
         MOTBOX_BIN,
         {"a.alph", "s.fa", "o.txt", "100", "1", "3", "100000001", "0"},
         ">> Error: argument 7 (total maximum length) is 100000001" + kRangeHint},
        {"box minimum below the bound",
         MOTBOX_BIN,
         {"a.alph", "s.fa", "o.txt", "100", "2", "2", "4", "0", "-100000001", "2", "0", "0", "1", "1", "2",
          "0"},
         ">> Error: argument 9 (minimum length of box 1) is -100000001" + kRangeHint},
    };
    for (const Refusal& c : cases) {
        RunResult r = run(c.program, c.args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_TRUE(noFileCreated()) << c.what;
    }
}

// The bound itself, and a negative spacer minimum (run as 0), are accepted.
TEST_F(CommandLineRun, NumbersAtTheBoundsStillRun) {
    const std::vector<std::vector<std::string>> runs = {
        {"a.alph", "s.fa", "o.txt", "100", "1", "3", "4", "100000000", "0", "1", "A", "100000000"},
        {"a.alph", "s.fa", "o.txt", "100", "1", "3", "4", "-100000000", "0", "1", "A", "-100000000"},
        {"a.alph", "s.fa", "o.txt", "100", "2", "2", "4", "0", "1", "2", "0", "-2", "1", "1", "2", "0"},
    };
    for (const auto& args : runs) {
        RunResult r = run(MOTBOX_BIN, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fileExists(dir + "/o.txt"));
    }
}

// A NUL byte used to end its line silently; it is now the control character it is.
TEST_F(CommandLineRun, NulByteInASequenceIsAControlCharacter) {
    writeFile(dir + "/s.fa", std::string(">1\nACGT\n>2\nAC\0GTTT\n>3\nACGT\n", 27));
    const std::string expected = std::string(">> Error: Seq 1 Pos 2 Control character 0 ('") + '\0' + "')\n";
    const std::vector<std::string> motboxRun = {"a.alph", "s.fa", "o.txt", "100", "2", "2", "4", "0",
                                                "1",      "2",    "0",     "0",   "1", "1", "2", "0"};
    std::vector<std::string> deltaRun = motboxRun;
    deltaRun.insert(deltaRun.begin() + 13, "0");
    for (const auto& [program, args] :
         {std::pair{MOTBOX_BIN, motboxRun}, std::pair{MOTBOX_DELTA_BIN, deltaRun}}) {
        RunResult r = run(program, args);
        EXPECT_EQ(r.status, 1) << program;
        EXPECT_EQ(r.err, expected) << program;
        EXPECT_TRUE(noFileCreated()) << program;
    }
}

TEST_F(CommandLineRun, HelpAndVersionGoToStandardOutput) {
    struct Case {
        const char* program;
        const char* option;
        std::string outStart;
        bool listsOptions;
    };
    const Case cases[] = {
        {MOTBOX_BIN, "--version", "motbox 1.0.0\n", false},
        {MOTBOX_DELTA_BIN, "--version", "motbox-delta 1.0.0\n", false},
        {MOTBOX_BIN, "-h", "Usage: motbox ALPHABET FASTA OUTPUT", true},
        {MOTBOX_DELTA_BIN, "--help", "Usage: motbox-delta ALPHABET FASTA OUTPUT", true},
    };
    for (const Case& c : cases) {
        // Whatever follows is not read: the options are handled as they come.
        RunResult r = run(c.program, {c.option, "a.alph", "s.fa"});
        EXPECT_EQ(r.status, 0) << c.option;
        EXPECT_EQ(r.err, "") << c.option;
        EXPECT_EQ(r.out.substr(0, c.outStart.size()), c.outStart) << c.option;
        EXPECT_EQ(r.out.find("--max-memory SIZE") != std::string::npos, c.listsOptions) << c.option;
        if (!c.listsOptions) {
            EXPECT_EQ(r.out, c.outStart);
        }
    }
}

TEST_F(CommandLineRun, BadOptionsNameThemselvesAndShowTheUsage) {
    const std::vector<std::string> run1 = {"a.alph", "s.fa", "o.txt", "100", "1", "3", "4", "0"};
    struct Case {
        std::vector<std::string> options;
        std::string firstLine;
    };
    const Case cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--max-memory"}, "option '--max-memory' needs a value SIZE"},
        {{"--max-memory", "12X"}, "bad value '12X' for option '--max-memory'"},
        {{"--max-memory=0"}, "bad value '0' for option '--max-memory'"},
        {{"--max-memory", "99999999999G"}, "bad value '99999999999G' for option '--max-memory'"},
        {{"--version=2"}, "option '--version' takes no value"},
        {{"--report-top", "5"}, "option '--report-top' needs --report, --meme or --sites"},
        {{"--report", "r.html", "--report-top", "0"}, "bad value '0' for option '--report-top'"},
        {{"--report", "r.html", "--report-top", "1001"}, "bad value '1001' for option '--report-top'"},
        {{"--report="}, "bad value '' for option '--report'"},
    };
    for (const char* program : {MOTBOX_BIN, MOTBOX_DELTA_BIN}) {
        for (const Case& c : cases) {
            std::vector<std::string> args = c.options;
            // "--max-memory" alone at the end has no value; before the positionals it would take "a.alph".
            if (c.options.size() != 1 || c.options[0] != "--max-memory")
                args.insert(args.end(), run1.begin(), run1.end());
            RunResult r = run(program, args);
            EXPECT_EQ(r.status, 1) << c.firstLine;
            EXPECT_EQ(r.out, "") << c.firstLine;
            EXPECT_EQ(r.err.substr(0, r.err.find('\n')), ">> Error: " + c.firstLine);
            EXPECT_NE(r.err.find("\nUsage: "), std::string::npos) << c.firstLine;
            EXPECT_NE(r.err.find("--max-memory SIZE"), std::string::npos) << c.firstLine;
            EXPECT_TRUE(noFileCreated()) << c.firstLine;
        }
    }
}

// Options change nothing of what a run writes; "--" ends them, and after the first positional argument a
// leading "-" is an ordinary argument (here a negative quorum, refused as before).
TEST_F(CommandLineRun, OptionsLeaveTheRunAsItWas) {
    const std::vector<std::string> positional = {"a.alph", "s.fa", "stdout", "60", "1", "3", "4", "0"};
    RunResult plain = run(MOTBOX_BIN, positional);
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (std::vector<std::string> options :
         {std::vector<std::string>{"--"}, {"--max-memory", "64G"}, {"--max-memory=1048576K", "--"}}) {
        options.insert(options.end(), positional.begin(), positional.end());
        RunResult r = run(MOTBOX_BIN, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(maskTime(r.out), maskTime(plain.out));
        // The meter's remaining-time estimates depend on the machine's load.
        const std::regex estimate("[0-9]{2}:[0-9]{2}:[0-9]{2}");
        EXPECT_EQ(std::regex_replace(r.err, estimate, "hh:mm:ss"),
                  std::regex_replace(plain.err, estimate, "hh:mm:ss"));
    }
    RunResult dashAlphabet = run(MOTBOX_BIN, {"--", "-a.alph", "s.fa", "o.txt", "60", "1", "3", "4", "0"});
    EXPECT_EQ(dashAlphabet.status, 1);
    EXPECT_EQ(dashAlphabet.err, "Error: main: cannot open alphabet file '-a.alph'\n");
    RunResult negativeQuorum = run(MOTBOX_BIN, {"a.alph", "s.fa", "o.txt", "-10", "1", "3", "4", "0"});
    EXPECT_EQ(negativeQuorum.status, 1);
    EXPECT_EQ(negativeQuorum.err, ">> Error: main: quorum value is lower than 1 sequence!\n");
}

TEST_F(CommandLineRun, TreeLargerThanTheMemoryLimitIsRefused) {
    const std::vector<std::string> motboxRun = {"a.alph", "s.fa", "o.txt", "60", "1", "3", "4", "0"};
    const std::vector<std::string> deltaRun = {"a.alph", "s.fa", "o.txt", "60", "2", "2", "4", "0", "1",
                                               "2",      "0",    "0",     "1",  "0", "1", "2", "0"};
    const std::regex refusal(
        ">> Error: the suffix tree needs about [0-9]+ MB but --max-memory allows 1024 bytes: give a maximum "
        "model length \\(MAX_LENGTH, or every BOX_MAX\\) or fewer sequences\n");
    for (const auto& [program, positional] :
         {std::pair{MOTBOX_BIN, motboxRun}, std::pair{MOTBOX_DELTA_BIN, deltaRun}}) {
        expectRefusedAtOnce(program, {"--max-memory", "1K"}, positional, refusal);

        std::vector<std::string> large = {"--max-memory=1G", "--memory-report"};
        large.insert(large.end(), positional.begin(), positional.end());
        RunResult accepted = run(program, large);
        EXPECT_EQ(accepted.status, 0) << accepted.err;
        EXPECT_TRUE(std::regex_search(
            accepted.err, std::regex("memory estimate: [0-9]+ bytes \\(51 characters, 3 sequences, "
                                     "window [45]; limit: 1073741824 bytes\\)\n")))
            << accepted.err;
        std::filesystem::remove(dir + "/o.txt");
        std::filesystem::remove(dir + "/.namefile");
    }
}

// Wide spacer ranges make the table of spacer lengths alone larger than the tree: a run whose limit cannot
// hold both is refused at once, with the count of combinations; a wider limit lets the same run through.
TEST_F(CommandLineRun, SpacerTableLargerThanTheMemoryLimitIsRefused) {
    const std::vector<std::string> motboxRun = {"a.alph", "s.fa", "o.txt", "60", "2",       "2", "4", "0",
                                                "1",      "2",    "0",     "0",  "1000000", "1", "2", "0"};
    const std::vector<std::string> deltaRun = {"a.alph",  "s.fa",   "o.txt", "60", "2", "2",
                                               "4",       "0",      "1",     "2",  "0", "0",
                                               "1000000", "500000", "1",     "2",  "0"};
    const std::regex refusal(
        ">> Error: the spacer ranges allow 1000001 combinations of lengths, whose table needs about 39 MB "
        "beside the suffix tree's [0-9]+ MB, but --max-memory allows 32 MB: narrow the spacer ranges\n");
    for (const auto& [program, positional] :
         {std::pair{MOTBOX_BIN, motboxRun}, std::pair{MOTBOX_DELTA_BIN, deltaRun}})
        expectRefusedAtOnce(program, {"--max-memory", "32M"}, positional, refusal);
    std::vector<std::string> roomy = {"--max-memory", "256M"};
    roomy.insert(roomy.end(), motboxRun.begin(), motboxRun.end());
    RunResult accepted = run(MOTBOX_BIN, roomy);
    EXPECT_EQ(accepted.status, 0) << accepted.err;
}

}  // namespace
