// A whole run of either program (built twice, with its driver) on tiny inputs: loading, the tree, the
// spelling engine and the result files, written in a private directory.  Input: the arguments after the
// three file names, a line "@@", the alphabet file, a line "@@", the FASTA file.
#include <sys/stat.h>

#include <filesystem>

#include FUZZ_PROGRAM_HEADER
#include "fuzz_support.h"
#include "run.h"

namespace {
// Private directory of the runs: motbox-delta writes ".namefile" in the current one.
std::filesystem::path gRunDir;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietStdout();
    char dir[] = "/tmp/motbox_fuzz_XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    gRunDir = dir;
    // motbox-delta keeps every result file open: a few dozen are plenty here.
    rlimit files{64, 64};
    setrlimit(RLIMIT_NOFILE, &files);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) return 0;
    std::vector<std::string> parts =
        fuzz::split(std::string_view(reinterpret_cast<const char*>(data), size), "\n@@\n");
    if (parts.size() != 3 || parts[2].size() > 600) return 0;
    std::vector<std::string> w = fuzz::words(parts[0]);
    // A total maximum length is required and kept short: without it, jokers make models of every length,
    // and the output (millions of lines for 40 characters) grows beyond any time limit without a fault.
    // Eleven symbols with a joker and two substitutions already write gigabytes from three short texts.
    if (w.size() > 64 || w.size() < 4 || atoi(w[3].c_str()) < 1 || atoi(w[3].c_str()) > 6) return 0;
    // libFuzzer reads and writes its corpus relative to its own directory: go back there afterwards.
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(gRunDir);
    fuzz::writeWhole("a.alph", parts[1]);
    fuzz::writeWhole("s.fa", parts[2]);
    std::vector<std::string> args = {"motbox", "-t", "2", "--max-memory", "64M", "a.alph", "s.fa", "o"};
    args.insert(args.end(), w.begin(), w.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::vector<bool> before = fuzz::openDescriptors();
    runProgramInARun(FUZZ_PROGRAM_RUN, static_cast<int>(argv.size()) - 1, argv.data());
    fuzz::closeOpenedSince(before);
    // The result files of one input are not those of the next.
    for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove(entry.path());
    std::filesystem::current_path(home);
    return 0;
}
