// motbox-delta: extracts the structured models shared by a quorum of sequences, giving every spacer a
// window half-width (its Delta), and writes the models of each combination of spacer windows to a result
// file of its own, whose names are listed in ".namefile".

#include "motbox_delta_run.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "alphabet.h"
#include "cluster.h"
#include "command_line.h"
#include "construction.h"
#include "criteres.h"
#include "criteres_delta.h"
#include "global.h"
#include "indexing.h"
#include "options.h"
#include "parameter_report.h"
#include "ranking.h"
#include "result_file.h"
#include "result_header.h"
#include "run.h"
#include "run_exit.h"
#include "sequences.h"
#include "spell.h"
#include "user_time.h"

namespace {

constexpr DriverMessages kMessages = {
    {"main: cannot open FASTA file", true},  "main: no sequences in FASTA file",
    "main: one sequence only in FASTA file", "quorum value is 1 sequence",
    "quorum value is lower than 1 sequence", {"main: cannot open alphabet file\n", true},
    "main: wrong alphabet file format\n",    "Max composition in %s:         %d\n",
};

void printUsage(FILE* to) {
    fputs(
        "Usage: motbox-delta ALPHABET FASTA OUTPUT QUORUM BOXES MIN_LENGTH MAX_LENGTH SUBSTITUTIONS\n"
        "                    BOX_MIN BOX_MAX BOX_SUBST [SPACER_MIN SPACER_MAX DELTA BOX_MIN BOX_MAX "
        "BOX_SUBST]...\n"
        "                    [COMPOSITION]... [pI/J]...\n"
        "  ALPHABET       alphabet file: a header line, then one models symbol per line\n"
        "  FASTA          sequences in FASTA format (at least two)\n"
        "  OUTPUT         stem of the result file names: OUTPUT[low-high]... one window per spacer\n"
        "  QUORUM         percentage of the sequences a model must occur in (0 = 70 %)\n"
        "  BOXES          number of boxes B (2 to 127)\n"
        "  MIN_LENGTH     total minimum model length, spacers not counted\n"
        "  MAX_LENGTH     total maximum model length (0 = no limit)\n"
        "  SUBSTITUTIONS  total maximum number of substitutions\n"
        "  For each box in order: BOX_MIN BOX_MAX (0 = no limit) BOX_SUBST, and after every box but the\n"
        "  last the spacer that follows it: SPACER_MIN SPACER_MAX DELTA, its windows being the ranges of\n"
        "  2 x DELTA + 1 lengths between SPACER_MIN and SPACER_MAX\n"
        "  COMPOSITION    groups B N SYM1 VAL1 ... SYMN VALN (B = 0: whole model, else box B)\n"
        "  pI/J           box I is the palindrome of the earlier box J\n",
        to);
}

[[noreturn]] void refuse(const std::string& message) {
    endRun(1, ">> Error: %s\n", message.c_str());
}

[[noreturn]] void refuseBoxes(const char*) {
    fatalError("Incorrect boxes number\n");
}

constexpr ProgramInfo kProgram = {"motbox-delta", MOTBOX_VERSION, printUsage};
constexpr CommandLineRules kCommandLineRules = {2, refuseBoxes, printUsage};

// Every spacer must have at least one window: its jump would otherwise land nowhere and no result file
// could hold the models that cross it.  Its lengths must also be countable in an int, as the spacer codes
// and the landing groups count them.
void checkSpacerWindows(const Criteres& cr) {
    for (int i = 0; i < cr.nbbloc - 1; i++) {
        const Intervalle& s = cr.sauts[i];
        const std::string spacer = "spacer " + std::to_string(i + 1) + ": ";
        if (s.min < 0) refuse(spacer + "negative minimum length " + std::to_string(s.min));
        if (cr.deltas[i] < 0) refuse(spacer + "negative Delta " + std::to_string(cr.deltas[i]));
        const long long lengths = static_cast<long long>(s.max) - s.min + 1;
        if (lengths > INT_MAX)
            refuse(spacer + "lengths " + std::to_string(s.min) + " to " + std::to_string(s.max) +
                   " are too many");
        if (nbFenetres(&cr, i) <= 0)
            refuse(spacer + "lengths " + std::to_string(s.min) + " to " + std::to_string(s.max) +
                   " are fewer than one window of 2 x Delta + 1 = " + std::to_string(2LL * cr.deltas[i] + 1) +
                   " lengths");
    }
}

// Descriptors already open (the standard streams and whatever the process inherited), counted among the
// numbers below limit; numbers beyond the first 65536 are not examined.
long openDescriptors(rlim_t limit) {
    const long scan = limit == RLIM_INFINITY || limit > 65536 ? 65536 : static_cast<long>(limit);
    long open = 0;
    for (int fd = 0; fd < scan; fd++)
        if (fcntl(fd, F_GETFD) != -1) open++;
    return open;
}

// Every result file stays open during the whole extraction, besides ".namefile" while they are created:
// make sure the process may hold them all, raising its soft limit of open files up to the hard one when
// that is enough.
void checkOpenFileLimit(int nbFiles) {
    if (nbFiles < 0) refuse("main: too many result files (more than " + std::to_string(INT_MAX) + ")");
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return;
    const rlim_t needed =
        static_cast<rlim_t>(nbFiles) + 1 + static_cast<rlim_t>(openDescriptors(lim.rlim_cur));
    if (lim.rlim_cur == RLIM_INFINITY || needed <= lim.rlim_cur) return;
    if (lim.rlim_max == RLIM_INFINITY || needed <= lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = needed;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return;
    }
    refuse(
        "main: " + std::to_string(nbFiles) + " result files cannot be open at once (the limit is " +
        std::to_string(static_cast<long long>(lim.rlim_max == RLIM_INFINITY ? lim.rlim_cur : lim.rlim_max)) +
        " open files); narrow the spacer ranges or widen their Delta");
}

// The widest window of every spacer and the greatest lengths that can be reached (maxlargsaut), and the
// most windows of one spacer (maxnbfenetres).  A spacer of Delta 0 has one window per length.
void computeWindowExtents(Criteres* cr) {
    cr->maxlargsaut = 0;
    cr->maxnbfenetres = 0;
    for (int i = 0; i < cr->nbbloc - 1; i++) {
        cr->maxlargsaut = std::max(cr->maxlargsaut, cr->sauts[i].max - cr->sauts[i].min + 1);
        cr->maxnbfenetres = std::max(cr->maxnbfenetres, nbFenetres(cr, i));
    }
}

// Summary line of one result file: its reached lengths, and for each spacer its window instead of its range.
std::string fileSummary(const Criteres& cr, int nbseq, int reachedMax, const int* reachedBox,
                        const int* digits, const char* alphabetFile, const char* textAlphabet) {
    std::string line = summaryStart(cr, nbseq, reachedMax);
    for (int b = 0; b < cr.nbbloc; b++) {
        appendSummaryBox(line, cr.bornesbloc[b].min, reachedBox[b], cr.errbloc[b]);
        if (b < cr.nbbloc - 1) {
            int low = cr.sauts[b].min + digits[b];
            appendSummarySpacer(line, low, low + 2 * cr.deltas[b]);
        }
    }
    appendSummaryNames(line, alphabetFile, textAlphabet);
    return line;
}

// Header blank lines for the longest summary any file of this run can write: the reached lengths are bounded
// by the length limits and by the longest sequence, and the last window of each spacer has the largest ends.
int headerBlankLinesForRun(const Criteres& cr, const CommandLine& cl, int nbseq, int longest,
                           const char* textAlphabet) {
    std::vector<int> boxBounds(static_cast<size_t>(cr.nbbloc));
    std::vector<int> lastDigits(static_cast<size_t>(cr.nbbloc));
    for (int b = 0; b < cr.nbbloc; b++) {
        boxBounds[b] = reachableLength(cr.bornesbloc[b].max, longest);
        if (b < cr.nbbloc - 1) lastDigits[b] = nbFenetres(&cr, b) - 1;
    }
    std::string bound = fileSummary(cr, nbseq, reachableLength(cr.maxlong, longest), boxBounds.data(),
                                    lastDigits.data(), cl.alphabetFile, textAlphabet);
    return headerBlankLinesFor(bound.size());
}

std::string resultFileName(const Criteres& cr, const char* outname, const int* digits) {
    std::string name = outname;
    for (int i = 0; i < cr.nbbloc - 1; i++) {
        int low = cr.sauts[i].min + digits[i];
        appendWindowName(name, low, low + 2 * cr.deltas[i]);
    }
    return name;
}

struct RunOutcome {
    int nbseq;
    const char* textAlphabet;
    int headerLines;
    float seconds;
};

// Writes the final counts and the summary line of every result file and closes it; returns the number of
// models over all files.  A file that could not be written completely ends the run with status 1.
int finishResultFiles(const Criteres& cr, const CommandLine& cl, std::vector<FILE*>& files,
                      const std::vector<SpellCounters>& counters, const RunOutcome& run) {
    std::vector<int> digits(static_cast<size_t>(cr.nbbloc));
    int* deltatab = digits.data();
    int total = 0;
    for (size_t k = 0; k < files.size(); k++) {
        FILE* out = files[k];
        writeFinalCounts(out, counters[k].nbmod, run.seconds);
        total += counters[k].nbmod;
        // Rewinding flushes first and then clears the error flag, so check what was written before it.
        bool failed = fflush(out) != 0 || ferror(out);
        file2Delta(static_cast<int>(k), deltatab, &cr);
        writeSummaryLine(out,
                         fileSummary(cr, run.nbseq, counters[k].maxlongmod, counters[k].maxlongbloc.data(),
                                     deltatab, cl.alphabetFile, run.textAlphabet),
                         run.headerLines);
        failed = failed || fflush(out) != 0 || ferror(out);
        failed = fclose(out) != 0 || failed;
        files[k] = nullptr;
        if (failed)
            refuse("main: cannot write output file '" + resultFileName(cr, cl.outputFile, deltatab) + "'");
    }
    return total;
}

// Ranks the models of every result file, read back in the order of .namefile; each file's spacers are its
// windows.
void rankModels(Ranking& ranking, const Criteres& cr, const char* outputFile, int nbFiles, double seconds) {
    std::vector<int> digits(static_cast<size_t>(cr.nbbloc));
    std::vector<RankedFile> files;
    for (int k = 0; k < nbFiles; k++) {
        file2Delta(k, digits.data(), &cr);
        const std::string name = resultFileName(cr, outputFile, digits.data());
        FILE* models = fopen(name.c_str(), "r");
        if (models == nullptr) refuse("main: cannot read back output file '" + name + "' for the ranking");
        std::vector<SpacerRange> windows;
        for (int i = 0; i + 1 < cr.nbbloc; i++) {
            const int low = cr.sauts[i].min + digits[static_cast<size_t>(i)];
            windows.push_back({low, low + 2 * cr.deltas[i]});
        }
        files.push_back({name, models, windows});
    }
    ranking.write(files, seconds);
    for (const RankedFile& file : files) fclose(file.stream);
}

// Ranks the models result files written before hold: each must end with its final counts.
void rankStoredModels(Ranking& ranking, const Criteres& cr, const char* outputFile, int nbFiles) {
    std::vector<int> digits(static_cast<size_t>(cr.nbbloc));
    double seconds = 0;
    for (int k = 0; k < nbFiles; k++) {
        file2Delta(k, digits.data(), &cr);
        const double fileSeconds = recordedUserSeconds(resultFileName(cr, outputFile, digits.data()).c_str());
        if (k == 0) seconds = fileSeconds;
    }
    rankModels(ranking, cr, outputFile, nbFiles, seconds);
}

}  // namespace

int motboxDeltaRun(int argc, char** argv) {
    Criteres& cr = Run::current()->criteres;
    clusterStart(&argc, &argv);
    const int fullArgc = argc;
    char** const fullArgv = argv;
    RunOptions options;
    // The positional arguments, seen as a command line of their own: argv[0] or the last option before them.
    const int skipped = readOptions(argc, argv, kProgram, &options) - 1;
    if (options.quiet) progressMeter().quiet = true;
    argc -= skipped;
    argv += skipped;
    CommandLine cl = parseCommandLine(argc, argv, &cr, kCommandLineRules);
    if (options.rankOnly) checkRankOnlyOutput(cl.outputFile);
    checkSpacerBounds(&cr);
    checkSpacerWindows(cr);
    checkArgumentRanges(argv, cr, cl);
    const int nbFiles = nbFichiers(&cr);
    checkOpenFileLimit(nbFiles);
    const int window = windowLength(cr);

    const IndexedRun run = loadAndIndex(&cr,
                                        {cl.fastaFile, cl.alphabetFile, cl.quorumPercent, argv + cl.tailStart,
                                         cl.tailCount, window, options, !options.rankOnly},
                                        kMessages);
    const int nbseq = run.nbseq;

    std::unique_ptr<Ranking> ranking;
    if (rankingWanted(options) && clusterWritesResults())
        ranking =
            std::make_unique<Ranking>(options, "motbox-delta", cl.fastaFile, nbseq, fullArgc, fullArgv,
                                      matchRulesOfRun(cr), criteriaInWords(cr, cl.quorumPercent, nbseq));

    if (options.rankOnly) {
        if (ranking != nullptr) rankStoredModels(*ranking, cr, cl.outputFile, nbFiles);
        return 0;
    }
    printParameterReport(
        cr, {cl.fastaFile, cl.alphabetFile, cl.outputFile, cl.quorumPercent, nbseq, options.bothStrands},
        kMessages);
    computeWindowExtents(&cr);

    std::vector<FILE*> files(static_cast<size_t>(nbFiles), nullptr);
    // The files still open when the run ends early are closed (the discarded output is one stream).
    struct OpenFiles {
        std::vector<FILE*>& files;
        ~OpenFiles() {
            FILE* closed = nullptr;
            for (FILE* f : files)
                if (f != nullptr && f != closed) fclose(closed = f);
        }
    } openFiles{files};
    const int headerLines = headerBlankLinesForRun(cr, cl, nbseq, run.longest, run.textAlphabet);
    if (clusterWritesResults()) {
        if (!initFiles(files.data(), cl.outputFile, &cr, headerLines))
            fatalError("main: cannot initialize output files\n");
    } else {
        // Only the first process of a cluster run writes the results.
        FILE* discard = fopen("/dev/null", "w");
        if (discard == nullptr) fatalError("main: cannot initialize output files\n");
        std::fill(files.begin(), files.end(), discard);
    }
    initTabSauts(&cr);

    const float dust = userTimeTicks();
    const std::vector<SpellCounters> counters =
        doSpell(cr, run.root, extractionThreads(options), SpellOutput{files, delta2File});
    const float seconds = userSecondsSince(dust) + clusterOtherCpuSeconds();
    if (!clusterWritesResults()) return 0;

    int total = finishResultFiles(cr, cl, files, counters, {nbseq, run.textAlphabet, headerLines, seconds});
    if (!options.quiet) {
        printf("\n");
        writeFinalCounts(stdout, total, seconds);
    }
    if (ranking != nullptr) rankModels(*ranking, cr, cl.outputFile, nbFiles, seconds);
    return 0;  // the run releases the texts and the tree
}
