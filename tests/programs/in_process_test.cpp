// Command lines of motbox run in this process, one after the other and two at once in two threads, write
// what the program writes as a process of its own; many runs, refusals among them, leave nothing behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "motbox_run.h"
#include "run.h"
#include "run_exit.h"
#include "test_util.h"

namespace {

// Small inputs: the first five example promoters, 200 nt each, and the four bases alone (the examples'
// alphabet, with its joker and ambiguity symbols, writes far more models).
struct Inputs {
    std::string dir, alphabet, fasta;
};
Inputs writeInputs() {
    Inputs in{makeTempDir(), "", ""};
    in.alphabet = in.dir + "/acgt.alph";
    in.fasta = in.dir + "/small.fa";
    writeFile(in.alphabet, "Nucleotide\nA\nC\nG\nT\n");
    std::ifstream promoters(std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa");
    std::string fasta, sequence, line;
    int entries = 0;
    auto flush = [&] { fasta += sequence.substr(0, 200) + "\n"; };
    while (std::getline(promoters, line)) {
        if (line.rfind('>', 0) == 0) {
            if (entries > 0) flush();
            if (++entries > 5) break;
            fasta += line + "\n";
            sequence.clear();
        } else {
            sequence += line;
        }
    }
    if (entries <= 5) flush();
    writeFile(in.fasta, fasta);
    // A run that went astray must not fill the disk.
    rlimit size{64 << 20, 64 << 20};
    setrlimit(RLIMIT_FSIZE, &size);
    return in;
}
const Inputs kInputs = writeInputs();

// The options, and the positional arguments after the three file names.
struct Case {
    std::vector<std::string> options;
    std::vector<std::string> parameters;
    bool missingFasta = false;
};
const std::vector<std::string> kTwoBoxes = {"100", "2", "10", "10", "1", "5", "5",
                                            "0",   "2", "6",  "5",  "5", "1"};
const Case kCases[] = {
    {{"-t", "1"}, kTwoBoxes},
    {{"-t", "3", "--both-strands"}, kTwoBoxes},
    {{}, {"100", "2", "10", "10", "2", "5", "5", "1", "2", "6", "5", "5", "1", "p2/1"}},
    {{"-t", "2"}, {"100", "1", "8", "8", "1"}},
    {{}, {"100", "1", "8", "8", "1"}, true},                                      // no FASTA file
    {{}, {"100", "2", "10", "10", "1", "5", "5", "0", "6", "2", "5", "5", "1"}},  // spacer max below min
    {{"--bogus"}, {"100", "1", "8", "8", "1"}},
};

std::vector<std::string> commandLine(const Case& c, const std::string& result) {
    std::vector<std::string> args = {MOTBOX_BIN};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(kInputs.alphabet);
    args.push_back(c.missingFasta ? kInputs.dir + "/absent.fa" : kInputs.fasta);
    args.push_back(result);
    args.insert(args.end(), c.parameters.begin(), c.parameters.end());
    return args;
}

struct Outcome {
    int status;
    std::string result;  // the result file, its CPU time line left out
    std::string out;
    std::string err;
};

std::string resultOf(const std::string& path) {
    return fileExists(path) ? testutil::withoutUserTime(readFile(path)) : "(none)";
}

Outcome asProcess(const Case& c, const std::string& dir) {
    const std::string result = dir + "/process.txt";
    const testutil::RunResult r = testutil::runCommand(commandLine(c, result));
    return {r.status, resultOf(result), r.out, r.err};
}

// One run in this process; with capture, its standard output and error are kept (one thread only).
Outcome inProcess(const Case& c, const std::string& result, bool capture) {
    std::vector<std::string> args = commandLine(c, result);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (capture) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    const int status = runProgramInARun(motboxRun, static_cast<int>(args.size()), argv.data()) & 0xFF;
    fflush(stdout);
    Outcome o{status, resultOf(result), "", ""};
    if (capture) {
        o.out = testing::internal::GetCapturedStdout();
        o.err = testing::internal::GetCapturedStderr();
    }
    return o;
}

// The meter's time estimates, which differ from run to run, as "hh:mm:ss".
std::string withoutEstimates(std::string text) {
    return std::regex_replace(text, std::regex("[0-9][0-9]:[0-9][0-9]:[0-9][0-9]"), "hh:mm:ss");
}

// The standard streams name the result file, which differs between the runs compared.
std::string withPath(std::string text, const std::string& from, const std::string& to) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
}

TEST(InProcessRuns, OneAfterTheOtherWriteWhatProcessesWrite) {
    const std::string dir = makeTempDir();
    for (const Case& c : kCases) {
        const Outcome expected = asProcess(c, dir);
        for (int round = 0; round < 2; ++round) {
            const std::string result = dir + "/in" + std::to_string(round) + ".txt";
            const Outcome got = inProcess(c, result, true);
            const std::string what = std::to_string(&c - kCases) + " round " + std::to_string(round);
            EXPECT_EQ(got.status, expected.status) << what;
            EXPECT_EQ(got.result, expected.result) << what;
            EXPECT_EQ(testutil::withoutUserTime(withPath(got.out, result, dir + "/process.txt")),
                      testutil::withoutUserTime(expected.out))
                << what;
            EXPECT_EQ(withoutEstimates(withPath(got.err, result, dir + "/process.txt")),
                      withoutEstimates(expected.err))
                << what;
        }
    }
    removeTree(dir);
}

TEST(InProcessRuns, TwoAtOnceWriteWhatProcessesWrite) {
    const std::string dir = makeTempDir();
    // The model-finding cases: a refusal's message goes to the shared standard error.
    const Case& a = kCases[1];
    const Case& b = kCases[2];
    const Outcome expectedA = asProcess(a, dir);
    const Outcome expectedB = asProcess(b, dir);
    for (int round = 0; round < 3; ++round) {
        Outcome gotA, gotB;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::thread other([&] { gotB = inProcess(b, dir + "/b.txt", false); });
        gotA = inProcess(a, dir + "/a.txt", false);
        other.join();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(gotA.status, 0);
        EXPECT_EQ(gotB.status, 0);
        EXPECT_EQ(gotA.result, expectedA.result) << "round " << round;
        EXPECT_EQ(gotB.result, expectedB.result) << "round " << round;
    }
    removeTree(dir);
}

// Number of descriptors this process holds open.
int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Peak resident memory of this process, in kB.
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// The sanitizer build's leak check, at exit, finds what a run did not release; elsewhere the peak resident
// memory must not grow from run to run.
TEST(InProcessRuns, ManyRunsLeaveNothingBehind) {
    const std::string dir = makeTempDir();
    const std::string result = dir + "/r.txt";
    constexpr int kRuns = 200;
    long peakAfterWarmUp = 0;
    const int descriptors = openDescriptors();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (int k = 0; k < kRuns; ++k) {
        const Case& c = kCases[k % std::size(kCases)];
        inProcess(c, result, false);
        if (k == 2 * static_cast<int>(std::size(kCases)) - 1) peakAfterWarmUp = peakResidentKb();
    }
    // Measured before the captured streams are read back into memory.
    const long peak = peakResidentKb();
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
#if !defined(__SANITIZE_ADDRESS__)
    // What the parallel runs' finished tasks hold while they wait for the writer depends on the scheduling:
    // a loaded machine adds half a megabyte now and then, a leak adds up over the runs.
    EXPECT_LE(peak, peakAfterWarmUp + peakAfterWarmUp / 10 + 4096) << "kB after " << kRuns << " runs";
#endif
    EXPECT_GT(peak, 0);
    EXPECT_EQ(openDescriptors(), descriptors) << "files left open";
    removeTree(dir);
}

}  // namespace

// A run asked to stop ends at its next check with the stopped status and text: before its tree is built
// when asked from the start, and in the middle of the walk (the main thread's, or the workers') when asked
// once its result file is open.
TEST(InProcessRuns, AStopRequestEndsTheRunAtItsNextCheck) {
    const std::string dir = makeTempDir();
    const std::string promoters = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_promoters_200.fa";
    for (const char* threads : {"1", "3"}) {
        for (const bool fromTheStart : {true, false}) {
            const std::string result = dir + "/stopped" + threads + (fromTheStart ? "a" : "b");
            std::vector<std::string> args = {MOTBOX_BIN, "-q",   "-t", threads, kInputs.alphabet,
                                             promoters,  result, "30", "2",     "12",
                                             "12",       "2",    "6",  "6",     "1",
                                             "12",       "22",   "6",  "6",     "1"};
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            std::atomic<bool> stop{fromTheStart};
            std::atomic<bool> ended{false};
            // Asks the run to stop once its result file exists: the tree is built and the walk starts.
            std::thread asker([&] {
                while (!ended && !fileExists(result))
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                stop = true;
            });
            testing::internal::CaptureStderr();
            int status = 0;
            {
                ::Run run;
                run.stopRequest = &stop;
                RunBinding bound(&run);
                status = runProgram(motboxRun, static_cast<int>(args.size()), argv.data());
            }
            ended = true;
            asker.join();
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(status, kStoppedStatus) << threads;
            EXPECT_EQ(err, kStoppedText) << threads;
            EXPECT_EQ(fileExists(result), !fromTheStart) << threads;
            if (!fromTheStart) EXPECT_EQ(readFile(result).find("Nb models"), std::string::npos);
        }
    }
    testutil::removeTree(dir);
}
