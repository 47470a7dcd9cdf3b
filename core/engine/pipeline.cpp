#include "pipeline.h"

#include <sys/times.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "alphabet.h"
#include "barre.h"
#include "cluster.h"
#include "construction.h"
#include "global.h"
#include "global_fonctions.h"
#include "memory_guard.h"
#include "strands.h"

char** text = nullptr;

namespace {

constexpr int kInitialEntries = 500;
constexpr int kDefaultQuorumPercent = 70;
constexpr int kHeaderTextBytes = kHeaderLineBytes - 1;

// Enlarges the record and text arrays to newCapacity slots; false when either cannot be enlarged.
bool growEntryArrays(LoadedSequences& loaded, int newCapacity) {
    auto* records = static_cast<FastaSequence**>(
        realloc(loaded.records, static_cast<size_t>(newCapacity) * sizeof(FastaSequence*)));
    if (records == nullptr) return false;
    loaded.records = records;
    auto* texts = static_cast<char**>(realloc(text, static_cast<size_t>(newCapacity) * sizeof(char*)));
    if (texts == nullptr) return false;
    text = texts;
    loaded.capacity = newCapacity;
    return true;
}

// Copies an entry into a fresh text block followed by the terminator the tree needs.
char* makeText(const FastaSequence& entry) {
    auto* t = allocOrDie<char>(static_cast<size_t>(entry.length) + 3, "main: cannot allocate 'text'\n");
    memcpy(t, entry.seq, static_cast<size_t>(entry.length));
    t[entry.length] = '$';
    t[entry.length + 1] = '\0';
    return t;
}

[[noreturn]] void refuseIncompleteEntry(int k, const FastaSequence& entry) {
    char msg[160];
    snprintf(msg, sizeof msg, "main: cannot allocate the text of sequence %d ('%s')", k, entry.name);
    fatalError(msg);
}

void printBoxSection(const Criteres& cr, int box, const DriverMessages& m) {
    printf("\nBOX %d\n", box + 1);
    printf("Min length:                    %d\n", cr.bornesbloc[box].min);
    if (cr.bornesbloc[box].max != 0)
        printf("Max length:                    %d\n", cr.bornesbloc[box].max);
    else
        printf("Max length:                    MAX\n");
    printf("Max number of subst.:          %d\n", cr.errbloc[box]);
    if (box < cr.nbbloc - 1) {
        printf("Min spacer length:             %d\n", cr.sauts[box].min);
        printf("Max spacer length:             %d\n", cr.sauts[box].max);
#if MOTBOX_DELTA
        printf("Delta     :                    %d\n", cr.deltas[box]);
#endif
    }
    if (cr.flagcompobloc[box]) {
        for (int j = 0; j < nbSymbMod; j++)
            if (cr.compobloc[box][j] != -1)
                printf(m.boxCompositionFormat, nummod2str[j], cr.compobloc[box][j]);
    }
    if (cr.palbloc[box] != -1) printf("Palindrom of box:              %d\n", cr.palbloc[box] + 1);
}

size_t summaryRoom(int blankLines) {
    return static_cast<size_t>(blankLines) * kHeaderLineBytes - 1;
}

}  // namespace

void refuseRun(const RunMessage& m, const char* name) {
    if (m.viaFatalError) fatalError(m.text);
    fprintf(stderr, m.text, name);
    exit(1);
}

FILE* openInputOrRefuse(const char* path, const RunMessage& onFailure) {
    FILE* fp = fopen(path, "r");
    if (fp == nullptr) refuseRun(onFailure, path);
    return fp;
}

LoadedSequences loadSequences(FILE* fp, NewRecordFn newRecord, ReadRecordFn readRecord) {
    LoadedSequences loaded;
    loaded.records = static_cast<FastaSequence**>(malloc(kInitialEntries * sizeof(FastaSequence*)));
    text = static_cast<char**>(malloc(kInitialEntries * sizeof(char*)));
    if (loaded.records == nullptr || text == nullptr) fatalError("main: seq/text: cannot allocate\n");
    loaded.capacity = kInitialEntries;

    for (int k = 0;; k++) {
        if (k == loaded.capacity && !growEntryArrays(loaded, 2 * loaded.capacity))
            fatalError("main: seq/text: cannot reallocate\n");
        FastaSequence* entry = newRecord();
        if (entry == nullptr) fatalError("main: cannot allocate a FASTA record");
        if (!readRecord(fp, entry)) {
            // The end of the file: this last record holds nothing.
            FreeFastaSequence(entry);
            break;
        }
        loaded.records[k] = entry;
        loaded.count = k + 1;
        if (!entry->ok) refuseIncompleteEntry(k, *entry);
        loaded.totalLength += entry->length;
        if (entry->length > loaded.longest) loaded.longest = entry->length;
        text[k] = makeText(*entry);
    }
    return loaded;
}

void freeFastaRecords(LoadedSequences& loaded) {
    for (int k = 0; k < loaded.count; k++) FreeFastaSequence(loaded.records[k]);
    free(loaded.records);
    loaded.records = nullptr;
}

void freeTexts(int n) {
    if (text == nullptr) return;
    for (int k = 0; k < n; k++) free(text[k]);
    free(text);
    text = nullptr;
}

void checkSequenceCount(int n, const DriverMessages& m) {
    if (n == 0) fatalError(m.noSequence);
    if (n == 1) fatalError(m.oneSequence);
}

int computeQuorum(float percent, int n) {
    double q;
    if (percent == 0)
        q = std::ceil(static_cast<double>(static_cast<long long>(kDefaultQuorumPercent) * n) / 100);
    else
        q = std::ceil(n * static_cast<double>(percent) / 100);
    if (std::isnan(q)) return 0;
    if (q >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (q <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(q);
}

void checkQuorum(int quorum, const DriverMessages& m) {
    if (quorum == 1) warning(m.quorumIsOne);
    if (quorum < 1) fatalError(m.quorumBelowOne);
}

int windowLength(const Criteres& cr) {
    bool noUpperLimit = cr.maxlong == 0;
    long long boxSum = 0;
    long long spacerSum = 0;
    for (int b = 0; cr.nbbloc >= 2 && b < cr.nbbloc; b++) {
        if (cr.bornesbloc[b].max == 0) noUpperLimit = true;
        boxSum += cr.bornesbloc[b].max;
        if (b < cr.nbbloc - 1) spacerSum += cr.sauts[b].max;
    }
    if (noUpperLimit) return INT_MAX;
    long long window = std::max(boxSum, static_cast<long long>(cr.maxlong)) + spacerSum;
    return static_cast<int>(std::clamp(window, 1LL, static_cast<long long>(INT_MAX)));
}

Noeud* buildSuffixTree(const char* textAlphabet, int n, int window) {
    fputs("** Suffix tree construction **\n", stderr);
    barre(n);
    Init_All(textAlphabet, 0, n);
    Noeud* root = Construction_Arbre(text[0], window);
    barre(0);
    for (int i = 1; i < n; i++) {
        root = AjouteSequence(root, text[i], window);
        barre(0);
    }
    fputc('\n', stderr);
    return root;
}

namespace {

constexpr int kArgAlphabet = 1;
constexpr int kArgFasta = 2;
constexpr int kArgOutput = 3;
constexpr int kArgQuorum = 4;
constexpr int kArgBoxes = 5;
constexpr int kArgMinLength = 6;
constexpr int kArgMaxLength = 7;
constexpr int kArgSubstitutions = 8;
constexpr int kFixedArguments = 8;
constexpr int kArgsPerBox = 3;

[[noreturn]] void refuseShortCommandLine(int given, int needed, const CommandLineRules& rules) {
    fprintf(stderr, ">> Error: missing arguments: %d given, %d needed\n", given, needed);
    rules.printUsage(stderr);
    exit(1);
}

// Arguments the positional layout takes for nbbloc boxes (a single box has no groups).
int positionalArguments(int nbbloc) {
    if (nbbloc < 2) return kFixedArguments;
    return kFixedArguments + kArgsPerBox * nbbloc + kArgsPerSpacer * (nbbloc - 1);
}

void readBoxGroups(char** argv, Criteres* cr) {
    int a = kFixedArguments + 1;
    for (int b = 0; b < cr->nbbloc; b++) {
        cr->bornesbloc[b].min = atoi(argv[a++]);
        cr->bornesbloc[b].max = atoi(argv[a++]);
        cr->errbloc[b] = atoi(argv[a++]);
        if (b < cr->nbbloc - 1) {
            cr->sauts[b].min = atoi(argv[a++]);
            cr->sauts[b].max = atoi(argv[a++]);
#if MOTBOX_DELTA
            cr->deltas[b] = atoi(argv[a++]);
#endif
        }
    }
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv, Criteres* cr, const CommandLineRules& rules) {
    int given = argc - 1;
    if (given < kFixedArguments) refuseShortCommandLine(given, kFixedArguments, rules);
    CommandLine cl{argv[kArgAlphabet], argv[kArgFasta], argv[kArgOutput], 0, 0, 0};
    cl.quorumPercent = static_cast<float>(atof(argv[kArgQuorum]));
    cr->nbbloc = static_cast<signed char>(atoi(argv[kArgBoxes]));
    if (cr->nbbloc < rules.minBoxes) rules.refuseBoxes(argv[kArgBoxes]);
    int needed = positionalArguments(cr->nbbloc);
    if (given < needed) refuseShortCommandLine(given, needed, rules);

    allocBloc(cr, cr->nbbloc);
    cr->minlong = atoi(argv[kArgMinLength]);
    cr->maxlong = atoi(argv[kArgMaxLength]);
    cr->maxerr = atoi(argv[kArgSubstitutions]);
    if (cr->nbbloc >= 2) readBoxGroups(argv, cr);
    cl.tailStart = needed + 1;
    cl.tailCount = argc - cl.tailStart;
    return cl;
}

namespace {

[[noreturn]] void refuseArgument(int index, const std::string& what, int value, int low, int high) {
    fprintf(stderr, ">> Error: argument %d (%s) is %d: it must be between %d and %d\n", index, what.c_str(),
            value, low, high);
    exit(1);
}

void checkRange(int index, const std::string& what, int value, int low = -kMaxArgumentMagnitude,
                int high = kMaxArgumentMagnitude) {
    if (value < low || value > high) refuseArgument(index, what, value, low, high);
}

// The limits of the composition groups, read as setCompoPal reads them.
void checkCompositionRanges(char** args, int first, int n, int nbbloc) {
    int a = first;
    while (n > 0 && args[a][0] != 'p' && n >= 2) {
        int box = atoi(args[a]);
        int pairs = atoi(args[a + 1]);
        if (box < 0 || box > nbbloc || pairs < 0 || pairs > (n - 2) / 2) return;
        a += 2;
        n -= 2;
        for (int p = 0; p < pairs; p++, a += 2, n -= 2)
            checkRange(a + 1,
                       "composition limit of '" + std::string(args[a]) + "' in box " + std::to_string(box),
                       atoi(args[a + 1]));
    }
}

}  // namespace

void checkArgumentRanges(char** argv, const Criteres& cr, const CommandLine& cl) {
    checkRange(kArgMinLength, "total minimum length", cr.minlong);
    checkRange(kArgMaxLength, "total maximum length", cr.maxlong);
    checkRange(kArgSubstitutions, "total substitutions", cr.maxerr);
    int a = kFixedArguments + 1;
    for (int b = 0; cr.nbbloc >= 2 && b < cr.nbbloc; b++) {
        const std::string box = " of box " + std::to_string(b + 1);
        checkRange(a++, "minimum length" + box, cr.bornesbloc[b].min);
        checkRange(a++, "maximum length" + box, cr.bornesbloc[b].max);
        checkRange(a++, "substitutions" + box, cr.errbloc[b]);
        if (b == cr.nbbloc - 1) break;
        const std::string spacer = " of spacer " + std::to_string(b + 1);
        checkRange(a++, "minimum length" + spacer, cr.sauts[b].min);
        // A spacer cannot be shorter than nothing: a negative minimum counts from 0, a negative maximum
        // leaves no length at all.
        checkRange(a++, "maximum length" + spacer, cr.sauts[b].max, 0);
#if MOTBOX_DELTA
        checkRange(a++, "Delta" + spacer, cr.deltas[b], 0);
#endif
    }
    checkCompositionRanges(argv, cl.tailStart, cl.tailCount, cr.nbbloc);
}

void checkTextCharacters(const LoadedSequences& loaded) {
    for (int s = 0; s < loaded.count; s++) {
        const char* t = text[s];
        // The first "$" or NUL byte, whichever comes first, found by the library's word-wide scans.
        const size_t length = static_cast<size_t>(loaded.records[s]->length);
        const auto* dollar = static_cast<const char*>(memchr(t, '$', length));
        const size_t dollarAt = dollar != nullptr ? static_cast<size_t>(dollar - t) : length;
        const size_t nulAt = strnlen(t, length);
        if (dollarAt < nulAt) {
            fprintf(stderr, ">> Error: Seq %d Pos %d Forbidden character %d ('%c') in the sequences\n", s,
                    static_cast<int>(dollarAt), '$', '$');
            exit(1);
        }
        if (nulAt < length) {
            // Written like the other control characters, the byte itself between the quotes.
            fprintf(stderr, ">> Error: Seq %d Pos %d Control character %d ('%c')\n", s,
                    static_cast<int>(nulAt), 0, '\0');
            exit(1);
        }
    }
}

void checkPalindromes(const Criteres& cr) {
    int box = firstPalWithoutEarlierPartner(&cr);
    if (box == -1) return;
    if (cr.nbbloc < 2) {
        fputs(">> Error: palindrome declarations need a run of at least two boxes\n", stderr);
    } else {
        fprintf(stderr,
                ">> Error: box %d cannot be the palindrome of box %d: the partner must be an earlier box\n",
                box + 1, cr.palbloc[box] + 1);
    }
    exit(1);
}

// Refuses --both-strands unless the alphabet file declares nucleotides and every text character has a
// complement (the texts are upper-cased by then).
void checkStrandsReadable(const LoadedSequences& loaded, const char* alphabetFile) {
    if (type != 0) {
        fprintf(
            stderr,
            ">> Error: --both-strands needs a nucleotide alphabet, and alphabet file '%s' does not declare "
            "one (its header line must hold the word \"Nucleotide\")\n",
            alphabetFile);
        exit(1);
    }
    for (int s = 0; s < loaded.count; s++)
        for (int p = 0; p < loaded.records[s]->length; p++)
            if (complementBase(text[s][p]) == 0) {
                fprintf(stderr, ">> Error: --both-strands: Seq %d Pos %d character '%c' has no complement\n",
                        s, p, text[s][p]);
                exit(1);
            }
}

// Sequence i's reverse complement, in a text block of its own followed by the terminator.
char* reverseComplementText(const char* forward, int length) {
    auto* t = allocOrDie<char>(static_cast<size_t>(length) + 3, "main: cannot allocate 'text'\n");
    for (int p = 0; p < length; p++) t[length - 1 - p] = complementBase(forward[p]);
    t[length] = '$';
    t[length + 1] = '\0';
    return t;
}

// Interleaves the reverse complements with the texts, text 2i being sequence i as written and text 2i+1 its
// reverse complement, and declares the texts strand pairs.  Returns the number of texts.
int addReverseStrands(const LoadedSequences& loaded) {
    const int n = loaded.count;
    auto* paired = static_cast<char**>(malloc(2 * static_cast<size_t>(n) * sizeof(char*)));
    if (paired == nullptr) fatalError("main: seq/text: cannot reallocate\n");
    std::vector<int32_t> lengths(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        lengths[static_cast<size_t>(i)] = loaded.records[i]->length;
        paired[2 * i] = text[i];
        paired[2 * i + 1] = reverseComplementText(text[i], loaded.records[i]->length);
    }
    free(text);
    text = paired;
    setStrandPairs(std::move(lengths));
    return 2 * n;
}

IndexedRun loadAndIndex(Criteres* cr, const RunInputs& in, const DriverMessages& m) {
    FILE* fasta = openInputOrRefuse(in.fastaFile, m.fastaOpen);
    LoadedSequences loaded = loadSequences(fasta);
    fclose(fasta);
    IndexedRun run{loaded.count, loaded.count, loaded.longest, nullptr, nullptr};
    checkSequenceCount(run.nbseq, m);
    cr->longtext = loaded.totalLength;
    cr->quorum = computeQuorum(in.quorumPercent, run.nbseq);
    checkQuorum(cr->quorum, m);
    // The quorum follows from the count of sequences: its warning or refusal comes before a text is refused.
    checkTextCharacters(loaded);

    FILE* alphabet = openInputOrRefuse(in.alphabetFile, m.alphabetOpen);
    initAlphabet();
    run.textAlphabet = chargeAlphabet(alphabet, text, run.nbseq, in.options.bothStrands);
    if (run.textAlphabet == nullptr) fatalError(m.alphabetFormat);
    fclose(alphabet);
    if (in.options.bothStrands) checkStrandsReadable(loaded, in.alphabetFile);
    setCompoPal(cr, in.tail, in.tailCount);
    checkPalindromes(*cr);
    transAlphMod(cr->flagpal);
    // The other processes of a cluster run read the same inputs once the first has accepted them.
    clusterInputsAccepted();

    // Both strands index every sequence twice.
    const int strands = in.options.bothStrands ? 2 : 1;
    const TreeSize tree{
        strands * loaded.totalLength, strands * run.nbseq, loaded.longest, in.window, nbSymbSeq,
        in.options.bothStrands};
    checkTreeMemory(tree, in.options.maxMemory, in.options.memoryReport);
    if (cr->nbbloc >= 2)
        checkSpacerTableMemory(spacerCombinations(cr), cr->nbbloc - 1, estimateTreeBytes(tree),
                               in.options.maxMemory);
    if (in.options.bothStrands) run.texts = addReverseStrands(loaded);
    run.root = buildSuffixTree(run.textAlphabet, run.texts, in.window);
    freeFastaRecords(loaded);
    UpdateBit_TabForAllTree(run.root);
    return run;
}

void printParameterReport(const Criteres& cr, const ReportInput& in, const DriverMessages& m) {
    printf("Extraction is going to be made with the following parameters:\n");
    printf("FASTA file:                    %s\n", in.fastaFile);
    printf("Alphabet file:                 %s\n", in.alphabetFile);
    printf("Output file:                   %s\n", in.outputFile);
    printf("Total min length:              %d\n", cr.minlong);
    if (cr.maxlong != 0)
        printf("Total max length:              %d\n", cr.maxlong);
    else
        printf("Total max length:              MAX\n");
    printf("Boxes:                         %d\n", cr.nbbloc);
    printf("Total number of subst.:        %d\n", cr.maxerr);
    if (in.bothStrands) printf("Strands:                       both\n");
    printf("Quorum:                        %f%% (%d sequences in %d)\n\n", in.quorumPercent, cr.quorum,
           in.nbseq);
    if (cr.flagcompo) {
        for (int j = 0; j < nbSymbMod; j++)
            if (cr.compo[j] != -1) printf("Total max composition in %s:    %d\n", nummod2str[j], cr.compo[j]);
    }
    if (cr.nbbloc >= 2) {
        for (int b = 0; b < cr.nbbloc; b++) printBoxSection(cr, b, m);
    }
    fputs("\n                   ------ CHECK THESE PARAMETERS! ------\n", stderr);
}

int headerBlankLinesFor(size_t summaryLength) {
    int lines = kDefaultHeaderBlankLines;
    while (summaryLength > summaryRoom(lines)) lines++;
    return lines;
}

void writeReservedHeader(FILE* f, int blankLines) {
    char blanks[kHeaderTextBytes + 2];
    memset(blanks, ' ', kHeaderTextBytes);
    blanks[kHeaderTextBytes] = '\n';
    blanks[kHeaderTextBytes + 1] = '\0';
    char rule[kHeaderTextBytes + 2];
    memset(rule, '=', kHeaderTextBytes);
    rule[kHeaderTextBytes] = '\n';
    rule[kHeaderTextBytes + 1] = '\0';
    for (int i = 0; i < blankLines; i++) fputs(blanks, f);
    fputs(rule, f);
}

// The summary goes over the reserved blank lines.  Standard output is never rewound: on a pipe that does
// nothing anyway, and when it is redirected to a file a rewind would overwrite the parameter report, so
// there the summary simply follows the counts.
void writeSummaryLine(FILE* f, const std::string& line, int blankLines) {
    if (f != stdout && line.size() <= summaryRoom(blankLines)) rewind(f);
    fputs(line.c_str(), f);
}

std::string summaryStart(const Criteres& cr, int nbseq, int reachedMax) {
    char buf[160];
    snprintf(buf, sizeof buf, "%%%%%% %d %d/%d %ld %d %d %d", cr.nbbloc, cr.quorum, nbseq, cr.longtext,
             cr.minlong, reachedMax, cr.maxerr);
    return buf;
}

void appendSummaryBox(std::string& line, int boxMin, int reached, int err) {
    char buf[48];
    snprintf(buf, sizeof buf, " %d %d %d", boxMin, reached, err);
    line += buf;
}

void appendSummarySpacer(std::string& line, int low, int high) {
    char buf[32];
    snprintf(buf, sizeof buf, " %d %d", low, high);
    line += buf;
}

void appendSummaryNames(std::string& line, const char* alphabetFile, const char* textAlphabet) {
    line += ' ';
    line += alphabetFile;
    line += ' ';
    line += textAlphabet;
}

int reachableLength(int limit, int longestSequence) {
    if (limit <= 0) return longestSequence;
    return std::min(limit, longestSequence);
}

void writeFinalCounts(FILE* f, int nbModels, float seconds) {
    fprintf(f, "Nb models: %d\nUser time : %.2f sec.\n", nbModels, seconds);
}

float userTimeTicks() {
    tms now{};
    times(&now);
    return static_cast<float>(now.tms_utime);
}

float userSecondsSince(float startTicks) {
    return (userTimeTicks() - startTicks) / static_cast<float>(sysconf(_SC_CLK_TCK));
}
