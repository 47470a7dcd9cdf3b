#include "options.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run_exit.h"

namespace {

enum class Action { Help, Version, Set };

struct OptionRule {
    char shortName;         // 0 = none
    const char* longName;   // without "--"
    const char* valueName;  // null when the option takes no value
    const char* help;
    Action action;
    // For Action::Set: stores the value (null for an option without one); false when it is not acceptable.
    bool (*apply)(RunOptions& opts, const char* value);
};

bool setMaxMemory(RunOptions& opts, const char* value) {
    return parseByteSize(value, &opts.maxMemory);
}

// Threads beyond this would only add tasks' replays of the shallow walk.
constexpr long kMaxThreads = 4096;

bool setThreads(RunOptions& opts, const char* value) {
    if (value == nullptr || *value < '0' || *value > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long n = strtol(value, &end, 10);
    if (errno == ERANGE || *end != '\0' || n < 1 || n > kMaxThreads) return false;
    opts.threads = static_cast<int>(n);
    return true;
}

bool setMemoryReport(RunOptions& opts, const char*) {
    opts.memoryReport = true;
    return true;
}

// Reads a whole decimal number within [low, high].
bool parseWhole(const char* value, unsigned long long low, unsigned long long high, unsigned long long* n) {
    if (value == nullptr || *value < '0' || *value > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(value, &end, 10);
    if (errno == ERANGE || *end != '\0' || v < low || v > high) return false;
    *n = v;
    return true;
}

// A file name: anything but empty.
bool setFileName(const char** field, const char* value) {
    *field = value;
    return *value != '\0';
}

// A whole number within [low, high] into an int field.
bool setCount(int* field, const char* value, int low, int high) {
    unsigned long long n = 0;
    if (!parseWhole(value, static_cast<unsigned long long>(low), static_cast<unsigned long long>(high), &n))
        return false;
    *field = static_cast<int>(n);
    return true;
}

bool setRankFile(RunOptions& opts, const char* value) {
    return setFileName(&opts.rankFile, value);
}

bool setControlFile(RunOptions& opts, const char* value) {
    return setFileName(&opts.controlFile, value);
}

// More shuffles than this only add time: the control already outnumbers the input a thousand times.
constexpr int kMaxShuffles = 1000;

bool setShuffles(RunOptions& opts, const char* value) {
    return setCount(&opts.shuffles, value, 1, kMaxShuffles);
}

bool setSeed(RunOptions& opts, const char* value) {
    return parseWhole(value, 0, ULLONG_MAX, &opts.seed);
}

bool setKeepDuplicates(RunOptions& opts, const char*) {
    opts.keepDuplicates = true;
    return true;
}

bool setBothStrands(RunOptions& opts, const char*) {
    opts.bothStrands = true;
    return true;
}

bool setReportFile(RunOptions& opts, const char* value) {
    return setFileName(&opts.reportFile, value);
}

// A page of more models than this is no longer read; the table holds them all.
constexpr int kMaxReportTop = 1000;

bool setReportTop(RunOptions& opts, const char* value) {
    return setCount(&opts.reportTop, value, 1, kMaxReportTop);
}

bool setMemeFile(RunOptions& opts, const char* value) {
    return setFileName(&opts.memeFile, value);
}

bool setSitesFile(RunOptions& opts, const char* value) {
    return setFileName(&opts.sitesFile, value);
}

bool setRankOnly(RunOptions& opts, const char*) {
    opts.rankOnly = true;
    return true;
}

bool setQuiet(RunOptions& opts, const char*) {
    opts.quiet = true;
    return true;
}

const OptionRule kOptions[] = {
    {'h', "help", nullptr, "print this help and exit", Action::Help, nullptr},
    {0, "version", nullptr, "print the program name and version and exit", Action::Version, nullptr},
    {'t', "threads", "N",
     "extraction threads, 1 to 4096 (default: the cores this process may run on);\n"
     "the results are the same for every N",
     Action::Set, setThreads},
    {0, "both-strands", nullptr,
     "count a model in a sequence when it occurs on either strand\n"
     "(nucleotide alphabets; occurrence lines end with their strand)",
     Action::Set, setBothStrands},
    {0, "max-memory", "SIZE",
     "refuse a run whose suffix tree would need more than SIZE bytes\n"
     "(suffix K, M or G; default: the memory available)",
     Action::Set, setMaxMemory},
    {0, "memory-report", nullptr, "print the suffix tree's memory estimate on standard error", Action::Set,
     setMemoryReport},
    {0, "rank", "FILE",
     "rank the written models against a control set by a one-sided Fisher\n"
     "test of sequence counts; write the table to FILE (TSV)",
     Action::Set, setRankFile},
    {0, "control", "FASTA", "control sequences of the ranking (default: shuffles of the input)", Action::Set,
     setControlFile},
    {0, "shuffle", "K",
     "without --control: K shuffles of every input sequence keeping its\n"
     "dinucleotide counts, 1 to 1000 (default 3)",
     Action::Set, setShuffles},
    {0, "seed", "S", "seed of the shuffles (default 1985)", Action::Set, setSeed},
    {0, "keep-duplicates", nullptr,
     "rank with every sequence counted, identical ones as often as they\n"
     "occur (default: each distinct sequence once)",
     Action::Set, setKeepDuplicates},
    {0, "report", "FILE.html",
     "write an HTML page of the best-ranked models (ranks them as --rank\n"
     "does; without --rank the table goes next to it, FILE.tsv)",
     Action::Set, setReportFile},
    {0, "report-top", "N",
     "families drawn in the report and written by --meme and --sites,\n"
     "1 to 1000 (default 50)",
     Action::Set, setReportTop},
    {0, "meme", "FILE",
     "write the best families' count matrices, one motif per box, in the\n"
     "MEME motif format (ranks the models as --rank does)",
     Action::Set, setMemeFile},
    {0, "sites", "FILE",
     "write the sites of the families --meme writes as BED6 (ranks the\n"
     "models as --rank does)",
     Action::Set, setSitesFile},
    {0, "rank-only", nullptr,
     "do not extract: rank the models of OUTPUT, a result file written\n"
     "before by the same command line (with --rank, --report, --meme or --sites)",
     Action::Set, setRankOnly},
    {'q', "quiet", nullptr,
     "print neither the parameters nor the progress; errors and warnings\n"
     "are still printed",
     Action::Set, setQuiet},
};

// The options section of the help text.
void printOptionsHelp(FILE* to) {
    fputs("Options, before ALPHABET (\"--\" ends them):\n", to);
    for (const OptionRule& o : kOptions) {
        std::string names = o.shortName ? std::string("-") + o.shortName + ", " : std::string("    ");
        names += "--";
        names += o.longName;
        if (o.valueName != nullptr) names += std::string(" ") + o.valueName;
        fprintf(to, "  %-24s ", names.c_str());
        // Continuation lines of a help text line up under its first line.
        for (const char* c = o.help; *c; c++) {
            fputc(*c, to);
            if (*c == '\n') fputs("                           ", to);
        }
        fputc('\n', to);
    }
}

[[noreturn]] void refuseOption(const ProgramInfo& program, const std::string& message) {
    endRunWith(1, ">> Error: " + message + "\n" + textPrintedBy(program.printUsage) +
                      textPrintedBy(printOptionsHelp));
}

const OptionRule* findLong(const std::string& name) {
    for (const OptionRule& o : kOptions)
        if (name == o.longName) return &o;
    return nullptr;
}

const OptionRule* findShort(char c) {
    for (const OptionRule& o : kOptions)
        if (o.shortName != 0 && o.shortName == c) return &o;
    return nullptr;
}

}  // namespace

bool rankingWanted(const RunOptions& opts) {
    return opts.rankFile != nullptr || opts.reportFile != nullptr || opts.memeFile != nullptr ||
           opts.sitesFile != nullptr;
}

std::string rankingTableFile(const RunOptions& opts) {
    if (opts.rankFile != nullptr) return opts.rankFile;
    if (opts.reportFile == nullptr) return "";
    std::string name = opts.reportFile;
    for (const char* suffix : {".html", ".htm", ".HTML", ".HTM"}) {
        const size_t n = strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
            name.resize(name.size() - n);
            break;
        }
    }
    return name + ".tsv";
}

int extractionThreads(const RunOptions& opts) {
    if (opts.threads > 0) return opts.threads;
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
    return std::max(1, CPU_COUNT(&cores));
}

bool parseByteSize(const char* text, long long* bytes) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    long long n = strtoll(text, &end, 10);
    if (errno == ERANGE) return false;
    long long unit = 1;
    switch (*end) {
        case '\0':
            break;
        case 'k':
        case 'K':
            unit = 1LL << 10;
            end++;
            break;
        case 'm':
        case 'M':
            unit = 1LL << 20;
            end++;
            break;
        case 'g':
        case 'G':
            unit = 1LL << 30;
            end++;
            break;
        default:
            return false;
    }
    if (*end != '\0' || n == 0 || n > LLONG_MAX / unit) return false;
    *bytes = n * unit;
    return true;
}

int readOptions(int argc, char** argv, const ProgramInfo& program, RunOptions* opts) {
    int i = 1;
    bool reportTopGiven = false;
    while (i < argc) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') break;
        i++;
        if (strcmp(arg, "--") == 0) break;

        const OptionRule* rule = nullptr;
        const char* value = nullptr;  // given in the same argument ("--name=value" or "-xvalue")
        std::string shown;
        if (arg[1] == '-') {
            std::string name = arg + 2;
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = arg + 2 + eq + 1;
                name.resize(eq);
            }
            rule = findLong(name);
            shown = "--" + name;
        } else {
            rule = findShort(arg[1]);
            shown = std::string("-") + arg[1];
            if (arg[2] != '\0') value = arg + 2;
        }
        if (rule == nullptr) refuseOption(program, "unknown option '" + std::string(arg) + "'");
        if (rule->valueName == nullptr && value != nullptr)
            refuseOption(program, "option '" + shown + "' takes no value");
        if (rule->valueName != nullptr && value == nullptr) {
            if (i == argc) refuseOption(program, "option '" + shown + "' needs a value " + rule->valueName);
            value = argv[i++];
        }
        switch (rule->action) {
            case Action::Help:
                program.printUsage(stdout);
                printOptionsHelp(stdout);
                endRunWith(0, "");
            case Action::Version:
                printf("%s %s\n", program.name, program.version);
                endRunWith(0, "");
            case Action::Set:
                reportTopGiven = reportTopGiven || rule->apply == setReportTop;
                if (!rule->apply(*opts, value))
                    refuseOption(program, "bad value '" + std::string(value != nullptr ? value : "") +
                                              "' for option '" + shown + "'");
                break;
        }
    }
    if (reportTopGiven && opts->reportFile == nullptr && opts->memeFile == nullptr &&
        opts->sitesFile == nullptr)
        refuseOption(program, "option '--report-top' needs --report, --meme or --sites");
    if (opts->rankOnly && !rankingWanted(*opts))
        refuseOption(program, "option '--rank-only' needs --rank, --report, --meme or --sites");
    return i;
}
