#pragma once
// Options of both programs.  They come before the positional arguments: an argument is read as an option
// only while it starts with "-" (and is not "-" alone) and no positional argument has been seen; "--" ends
// them.  To add an option, add a field to RunOptions and a row to the table in options.cpp.

#include <cstdio>
#include <string>

// Seed of the control shuffles when none is given (that of the shuffle module).
inline constexpr unsigned long long kDefaultRankingSeed = 1985;

// What the options set; the defaults are those of a run without options.
struct RunOptions {
    long long maxMemory = -1;   // --max-memory: bytes the tree may take; -1 = the memory available
    bool memoryReport = false;  // --memory-report: the tree's memory estimate on standard error
    int threads = 0;            // -t/--threads: extraction threads; 0 = the cores this process may run on
    bool bothStrands = false;   // --both-strands: sequence i is read as written and as its reverse complement
    // Ranking of the written models against a control set.
    const char* rankFile = nullptr;     // --rank: the table to write; null = no ranking
    const char* controlFile = nullptr;  // --control: control sequences; null = shuffles of the input
    int shuffles = 3;                   // --shuffle: shuffles of every input sequence
    unsigned long long seed = kDefaultRankingSeed;  // --seed: of the shuffles
    bool keepDuplicates = false;  // --keep-duplicates: count identical sequences as often as they occur
    // The HTML report of the ranking.
    const char* reportFile = nullptr;  // --report: the page to write; null = no report
    int reportTop = 50;  // --report-top: families drawn in it, and written by --meme and --sites
    // The motifs of the best families.
    const char* memeFile = nullptr;   // --meme: their count matrices in the MEME motif format
    const char* sitesFile = nullptr;  // --sites: their sites as BED6
    // Runs without an extraction, or without words.
    bool rankOnly = false;  // --rank-only: rank the models OUTPUT already holds instead of extracting
    bool quiet = false;     // -q/--quiet: no parameter report, banners or meter; errors and warnings stay
};

// Whether the run ranks its models: asked by --rank, or by --report, --meme or --sites, which need it.
bool rankingWanted(const RunOptions& opts);

// The ranked table's file: that of --rank, else the report's name with ".tsv" for its ".html" (or ".htm"),
// else "" (--meme and --sites alone write no table).
std::string rankingTableFile(const RunOptions& opts);

// The extraction threads asked for, or the number of cores this process may run on.
int extractionThreads(const RunOptions& opts);

// What the option reader needs to know of the program.
struct ProgramInfo {
    const char* name;  // as shown by --version
    const char* version;
    void (*printUsage)(FILE* to);  // the usage text of the positional arguments
};

// Reads the options of argv into opts and returns the index of the first positional argument (argc when
// there is none).  -h/--help prints the usage and the options on standard output, --version the name and
// version; both end the process with status 0.  An unknown option or a missing or bad value is reported on
// one line, followed by the usage and the options on standard error, status 1.
int readOptions(int argc, char** argv, const ProgramInfo& program, RunOptions* opts);

// Reads a size in bytes: digits, optionally followed by K, M or G (powers of 1024, either case).  False when
// the text is not of that form, is zero or does not fit in a long long.
bool parseByteSize(const char* text, long long* bytes);
