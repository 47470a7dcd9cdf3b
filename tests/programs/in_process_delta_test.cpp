// Command lines of motbox-delta run in this process, one after the other, write the files, standard
// streams and statuses that the program writes as a process of its own.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "motbox_delta_run.h"
#include "run.h"
#include "test_util.h"

namespace {

// Every file a run left in dir, by name, their CPU time lines left out.
std::map<std::string, std::string> filesIn(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files[e.path().filename().string()] = testutil::withoutUserTime(readFile(e.path().string()));
    return files;
}

TEST(InProcessDeltaRuns, OneAfterTheOtherWriteWhatProcessesWrite) {
    // A run that went astray must not fill the disk.
    rlimit size{64 << 20, 64 << 20};
    setrlimit(RLIMIT_FSIZE, &size);
    const std::string inputs = makeTempDir();
    writeFile(inputs + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    writeFile(inputs + "/s.fa", ">a\nACGTTGCAACGTAGGCTA\n>b\nTTACGTTGCAGGCTAACG\n>c\nGGACGTAGCATTGGCTAA\n");
    struct Case {
        std::vector<std::string> options, parameters;
    };
    const Case cases[] = {
        {{"-t", "1"}, {"100", "2", "4", "4", "0", "2", "2", "0", "1", "4", "1", "2", "2", "0"}},
        {{"-t", "3"}, {"67", "2", "4", "4", "1", "2", "2", "0", "1", "5", "2", "2", "2", "0"}},
        {{}, {"100", "2", "4", "4", "0", "2", "2", "0", "1", "4", "-1", "2", "2", "0"}},  // negative Delta
        {{"--bogus"}, {}},
    };
    const std::string here = std::filesystem::current_path().string();
    for (const Case& c : cases) {
        std::vector<std::string> args = {MOTBOX_DELTA_BIN};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {inputs + "/acgt.alph", inputs + "/s.fa", "res"});
        args.insert(args.end(), c.parameters.begin(), c.parameters.end());

        const std::string processDir = makeTempDir();
        const testutil::RunResult expected = testutil::runCommand(args, processDir);
        if (&c == cases) ASSERT_NE(expected.out.find("Nb models: "), std::string::npos) << expected.err;
        if (&c == cases) ASSERT_EQ(expected.out.find("Nb models: 0\n"), std::string::npos);
        for (int round = 0; round < 2; ++round) {
            const std::string dir = makeTempDir();
            ASSERT_EQ(chdir(dir.c_str()), 0);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            const int status = runProgramInARun(motboxDeltaRun, static_cast<int>(args.size()), argv.data());
            fflush(stdout);
            const std::string out = testing::internal::GetCapturedStdout();
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(chdir(here.c_str()), 0);
            const std::string what = "case " + std::to_string(&c - cases) + " round " + std::to_string(round);
            EXPECT_EQ(status & 0xFF, expected.status) << what;
            EXPECT_EQ(testutil::withoutUserTime(out), testutil::withoutUserTime(expected.out)) << what;
            const std::regex estimate("[0-9][0-9]:[0-9][0-9]:[0-9][0-9]");  // the meter's, run to run
            EXPECT_EQ(std::regex_replace(err, estimate, "hh:mm:ss"),
                      std::regex_replace(expected.err, estimate, "hh:mm:ss"))
                << what;
            EXPECT_EQ(filesIn(dir), filesIn(processDir)) << what;
            removeTree(dir);
        }
        removeTree(processDir);
    }
    removeTree(inputs);
}

}  // namespace
