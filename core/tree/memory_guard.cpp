#include "memory_guard.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run_exit.h"

namespace {

// Calibration, on the Release build, of the peak resident memory of `motbox ALPHABET FASTA /dev/null 200 1
// W W 0` (the tree only) over Drosophila upstream regions of 2000 bases, one strand and both; the estimate
// lies 1.18 to 1.34 times above the peak for 100, 1000, 10 000 and all 26 454 regions, windows 20 and
// unlimited (bench/README.md, "The memory guard").  Bytes per input character, for 1000 sequences:
// - whatever the window: the texts, the FASTA records and the positions of the leaves;
constexpr double kBytesPerCharAnyWindow = 12;
// - once the window is deep enough for most words of that length to be distinct (window 15 and beyond
//   with DNA): the nodes and leaves of the tree with their colour sets;
constexpr double kBytesPerCharFullTree = 50;
// - a window as long as the longest sequence adds this much, growing roughly with window / longest.
constexpr double kBytesPerCharWholeSequences = 17;
// The colour sets grow with the number of sequences (both strands of one count once): this much per
// tenfold from 1000 sequences, within the bounds measured from 100 to 26 454 sequences.
constexpr double kGrowthPerTenfoldSequences = 0.13;
constexpr double kLeastGrowth = 0.77;
constexpr double kMostGrowth = 1.13;
constexpr double kSequencesOfCalibration = 1000;
// The process before any input is read.
constexpr double kBaseBytes = 4.0 * 1024 * 1024;

// Share of the full tree a window of w letters reaches: distinct words of at most w letters over the text
// alphabet, against the number of characters.
double treeFill(const TreeSize& t, double window) {
    double letters = std::max(2, t.letters);
    double words = std::pow(letters, std::min(window, 64.0)) * letters / (letters - 1);
    return std::min(1.0, words / std::max(1.0, static_cast<double>(t.totalLength)));
}

}  // namespace

long long estimateTreeBytes(const TreeSize& t) {
    double window = std::min<double>(t.window, std::max(1, t.longest));
    double perChar = kBytesPerCharAnyWindow + kBytesPerCharFullTree * treeFill(t, window) +
                     kBytesPerCharWholeSequences * window / std::max(1, t.longest);
    const int sequences = std::max(1, t.bothStrands ? t.nbseq / 2 : t.nbseq);
    const double growth =
        std::clamp(1 + kGrowthPerTenfoldSequences * std::log10(sequences / kSequencesOfCalibration),
                   kLeastGrowth, kMostGrowth);
    return static_cast<long long>(kBaseBytes + perChar * growth * static_cast<double>(t.totalLength));
}

long long availableMemoryBytes(const char* meminfo) {
    FILE* f = fopen(meminfo, "r");
    if (f == nullptr) return -1;
    char line[256];
    long long kb = -1;
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, "MemAvailable:", 13) == 0) {
            char* end = nullptr;
            long long v = strtoll(line + 13, &end, 10);
            if (end != line + 13 && v >= 0) kb = v;
            break;
        }
    }
    fclose(f);
    return kb < 0 ? -1 : kb * 1024;
}

namespace {

// The run's room in words, "--max-memory allows 64 MB" or "only 12 MB are available".
std::string describeRoom(long long limit, bool given) {
    const long long mb = 1024 * 1024;
    char size[48];
    if (limit >= mb)
        snprintf(size, sizeof size, "%lld MB", limit / mb);
    else
        snprintf(size, sizeof size, "%lld bytes", limit);
    char room[96];
    snprintf(room, sizeof room, given ? "--max-memory allows %s" : "only %s are available", size);
    return room;
}

long long megabytesAbove(long long bytes) {
    const long long mb = 1024 * 1024;
    return (bytes + mb - 1) / mb;
}

}  // namespace

void checkTreeMemory(const TreeSize& t, long long limit, bool report, const char* meminfo) {
    const long long estimate = estimateTreeBytes(t);
    const bool given = limit >= 0;
    if (!given) limit = availableMemoryBytes(meminfo);
    if (report) {
        if (t.bothStrands)
            fprintf(stderr,
                    "memory estimate: %lld bytes (%ld characters, %d texts: both strands of %d sequences, "
                    "window ",
                    estimate, t.totalLength, t.nbseq, t.nbseq / 2);
        else
            fprintf(stderr, "memory estimate: %lld bytes (%ld characters, %d sequences, window ", estimate,
                    t.totalLength, t.nbseq);
        if (t.window == 2147483647)
            fputs("none", stderr);
        else
            fprintf(stderr, "%d", t.window);
        fprintf(stderr, "; %s: %lld bytes)\n", given ? "limit" : "available", limit);
    }
    if (limit < 0 || estimate <= limit) return;
    endRun(1,
           ">> Error: the suffix tree needs about %lld MB but %s: give a maximum model length (MAX_LENGTH, "
           "or every BOX_MAX) or fewer sequences\n",
           megabytesAbove(estimate), describeRoom(limit, given).c_str());
}

long long estimateSpacerTableBytes(long long combinations, int spacers) {
    // A malloc block holds its size word and is at least 32 bytes, in steps of 16.
    const long long block = std::max(32LL, (4LL * spacers + 8 + 15) / 16 * 16);
    const double bytes = static_cast<double>(combinations) * static_cast<double>(block + sizeof(int*));
    return bytes >= 0x1p62 ? 1LL << 62 : static_cast<long long>(bytes);
}

void checkSpacerTableMemory(long long combinations, int spacers, long long treeBytes, long long limit,
                            const char* meminfo) {
    const bool given = limit >= 0;
    if (!given) limit = availableMemoryBytes(meminfo);
    const long long table = estimateSpacerTableBytes(combinations, spacers);
    if (limit < 0 || table <= limit - treeBytes) return;
    const char* beyond = combinations == LLONG_MAX ? "more than " : "";
    endRun(
        1,
        ">> Error: the spacer ranges allow %s%lld combinations of lengths, whose table needs about %lld MB "
        "beside the suffix tree's %lld MB, but %s: narrow the spacer ranges\n",
        beyond, combinations, megabytesAbove(table), megabytesAbove(treeBytes),
        describeRoom(limit, given).c_str());
}
