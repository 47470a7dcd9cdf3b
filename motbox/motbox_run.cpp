// motbox: extracts the structured models shared by a quorum of sequences and writes them, framed by a
// reserved header and a summary line, to one result file (or standard output).

#include "motbox_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "alphabet.h"
#include "cluster.h"
#include "command_line.h"
#include "construction.h"
#include "criteres.h"
#include "global.h"
#include "indexing.h"
#include "options.h"
#include "parameter_report.h"
#include "ranking.h"
#include "result_file.h"
#include "result_header.h"
#include "run.h"
#include "run_exit.h"
#include "run_messages.h"
#include "sequences.h"
#include "spell.h"
#include "user_time.h"

namespace {

constexpr DriverMessages kMessages = {
    {"Error: main: cannot open FASTA file '%s'\n", false},
    "No sequence in FASTA file!\n",
    "One sequence only in FASTA file!\n",
    "quorum value is 1 sequence!",
    "main: quorum value is lower than 1 sequence!",
    {"Error: main: cannot open alphabet file '%s'\n", false},
    "main: incorrect alphabet file format\n",
    "Max composition in %s:          %d\n",
};

void printUsage(FILE* to) {
    fputs(
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
        "  pI/J           box I is the palindrome of the earlier box J\n",
        to);
}

[[noreturn]] void refuseBoxes(const char* arg) {
    endRun(1, ">> Error: incorrect number of boxes '%s': at least one box is needed\n", arg);
}

constexpr ProgramInfo kProgram = {"motbox", MOTBOX_VERSION, printUsage};
constexpr CommandLineRules kCommandLineRules = {1, refuseBoxes, printUsage};

FILE* openResultStream(const char* name) {
    // Only the first process of a cluster run writes the results.
    if (!clusterWritesResults()) name = "/dev/null";
    if (strcmp(name, "stdout") == 0) return stdout;
    FILE* out = fopen(name, "w");
    if (out == nullptr) {
        endRun(1, "Error: main: cannot open output file '%s'\n", name);
    }
    return out;
}

// Summary line: the common start, then (several boxes only) each box's minimum, reached length and
// substitutions with the bounds of the spacer after it, then the alphabet file and the text alphabet.
std::string motboxSummary(const Criteres& cr, const CommandLine& cl, int nbseq, int reachedMax,
                          const int* reachedBox, const char* textAlphabet) {
    std::string line = summaryStart(cr, nbseq, reachedMax);
    if (cr.nbbloc >= 2) {
        for (int b = 0; b < cr.nbbloc; b++) {
            appendSummaryBox(line, cr.bornesbloc[b].min, reachedBox[b], cr.errbloc[b]);
            if (b < cr.nbbloc - 1) appendSummarySpacer(line, cr.sauts[b].min, cr.sauts[b].max);
        }
    }
    appendSummaryNames(line, cl.alphabetFile, textAlphabet);
    return line;
}

// Header blank lines for the longest summary this run can write: the reached lengths are bounded by the
// length limits and by the longest sequence.
int headerBlankLinesForRun(const Criteres& cr, const CommandLine& cl, int nbseq, int longest,
                           const char* textAlphabet) {
    std::vector<int> boxBounds(static_cast<size_t>(cr.nbbloc), 0);
    for (int b = 0; b < cr.nbbloc && cr.nbbloc >= 2; b++)
        boxBounds[static_cast<size_t>(b)] = reachableLength(cr.bornesbloc[b].max, longest);
    const std::string bound =
        motboxSummary(cr, cl, nbseq, reachableLength(cr.maxlong, longest), boxBounds.data(), textAlphabet);
    return headerBlankLinesFor(bound.size());
}

// A result that could not be written completely must not end with status 0.
void checkResultWritten(FILE* out, const char* name, bool failedBefore) {
    if (!failedBefore && fflush(out) == 0 && !ferror(out)) return;
    endRun(1, ">> Error: main: cannot write output file '%s'\n", name);
}

// Ranks the models of the result file, read back from the file or from the copy of standard output.
void rankModels(Ranking& ranking, const Criteres& cr, const char* outputFile, OutputCopy* outputCopy,
                double seconds) {
    FILE* models = outputCopy != nullptr ? outputCopy->copy() : fopen(outputFile, "r");
    if (models == nullptr) {
        endRun(1, ">> Error: main: cannot read back output file '%s' for the ranking\n", outputFile);
    }
    std::vector<SpacerRange> spacers;
    for (int b = 0; b + 1 < cr.nbbloc; b++) spacers.push_back({cr.sauts[b].min, cr.sauts[b].max});
    ranking.write({{outputFile, models, spacers}}, seconds);
    if (outputCopy == nullptr) fclose(models);
}

}  // namespace

int motboxRun(int argc, char** argv) {
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
    checkArgumentRanges(argv, cr, cl);
    const int window = windowLength(cr);

    IndexedRun run = loadAndIndex(&cr,
                                  {cl.fastaFile, cl.alphabetFile, cl.quorumPercent, argv + cl.tailStart,
                                   cl.tailCount, window, options, !options.rankOnly},
                                  kMessages);
    const int nbseq = run.nbseq;

    std::unique_ptr<Ranking> ranking;
    if (rankingWanted(options) && clusterWritesResults())
        ranking =
            std::make_unique<Ranking>(options, "motbox", cl.fastaFile, nbseq, fullArgc, fullArgv,
                                      matchRulesOfRun(cr), criteriaInWords(cr, cl.quorumPercent, nbseq));

    if (options.rankOnly) {
        if (ranking != nullptr)
            rankModels(*ranking, cr, cl.outputFile, nullptr, recordedUserSeconds(cl.outputFile));
        return 0;
    }
    printParameterReport(
        cr, {cl.fastaFile, cl.alphabetFile, cl.outputFile, cl.quorumPercent, nbseq, options.bothStrands},
        kMessages);
    if (cr.nbbloc >= 2) initTabSauts(&cr);

    FILE* f = openResultStream(cl.outputFile);
    // Closed when the run ends, however it ends; standard output stays open.
    const OwnedFile resultFile(f != stdout ? f : nullptr);
    // Models written to standard output are kept aside as well, to be ranked.
    std::unique_ptr<OutputCopy> outputCopy;
    if (ranking != nullptr && f == stdout) {
        outputCopy = std::make_unique<OutputCopy>(stdout);
        f = outputCopy->stream();
    }
    int headerLines = headerBlankLinesForRun(cr, cl, nbseq, run.longest, run.textAlphabet);
    writeReservedHeader(f, headerLines);

    const float dust = userTimeTicks();
    const SpellCounters counters =
        doSpell(cr, run.root, extractionThreads(options), SpellOutput{{f}}).front();
    float seconds = userSecondsSince(dust) + clusterOtherCpuSeconds();
    if (!clusterWritesResults()) return 0;
    if (outputCopy != nullptr) fflush(f);  // the models come before what is written to stdout itself

    freeTexts(run.texts);
    if (!options.quiet) {
        printf("\n");
        writeFinalCounts(stdout, counters.nbmod, seconds);
    }
    writeFinalCounts(f, counters.nbmod, seconds);
    // Rewinding flushes first and then clears the error flag, so check what was written before it.
    bool failedBefore = fflush(f) != 0 || ferror(f);
    writeSummaryLine(
        outputCopy != nullptr ? stdout : f,
        motboxSummary(cr, cl, nbseq, counters.maxlongmod, counters.maxlongbloc.data(), run.textAlphabet),
        headerLines);
    checkResultWritten(f, cl.outputFile, failedBefore);
    if (ranking != nullptr) rankModels(*ranking, cr, cl.outputFile, outputCopy.get(), seconds);
    return 0;  // the run releases the tree
}
