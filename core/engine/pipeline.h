#pragma once
// Run steps shared by the motbox and motbox-delta drivers.

#include <cstdio>
#include <string>

#include "criteres.h"
#include "global_variables.h"
#include "libfasta.h"
#include "options.h"

// Sequence texts in FASTA order, each followed by "$" and a NUL.
extern char** text;

// How a refusal is reported.  With viaFatalError the text goes through fatalError (">> Error: " prefix,
// used as is); otherwise it is a printf format with one %s for the file name, written on standard error
// without prefix.  Either way the process ends with status 1.
struct RunMessage {
    const char* text;
    bool viaFatalError;
};

// The texts that differ between the two drivers.
struct DriverMessages {
    RunMessage fastaOpen;              // FASTA file cannot be opened
    const char* noSequence;            // fatalError text: the FASTA file holds no entry
    const char* oneSequence;           // fatalError text: the FASTA file holds a single entry
    const char* quorumIsOne;           // warning text: the quorum is exactly one sequence
    const char* quorumBelowOne;        // fatalError text: the quorum is below one sequence
    RunMessage alphabetOpen;           // alphabet file cannot be opened
    const char* alphabetFormat;        // fatalError text: chargeAlphabet gave no text alphabet
    const char* boxCompositionFormat;  // report line of one per-box composition limit ("%s" name, "%d" limit)
};

// Reports the refusal m about the file name and ends the process with status 1.
[[noreturn]] void refuseRun(const RunMessage& m, const char* name);

// Opens path for reading; refuses the run with onFailure when it cannot be opened.
FILE* openInputOrRefuse(const char* path, const RunMessage& onFailure);

// The entries of a FASTA file once loaded into `text`.
struct LoadedSequences {
    FastaSequence** records = nullptr;  // parallel to `text`, same capacity; released by freeFastaRecords
    int count = 0;                      // number of entries read
    int capacity = 0;                   // slots of both arrays: 500, doubled whenever full
    long totalLength = 0;               // sum of the entries' lengths, terminators not counted
    int longest = 0;                    // length of the longest entry
};

// Record factory and reader, replaceable so that failures can be exercised.
using NewRecordFn = FastaSequence* (*)();
using ReadRecordFn = int (*)(FILE*, FastaSequence*);

// Reads every entry of fp into `text` (each a heap block of length + 3 bytes ending with "$" and NUL) and
// into the parallel record array.  Allocation failures end the run through fatalError, including a null
// record and a read that could not complete its entry (ok left at 0).
LoadedSequences loadSequences(FILE* fp, NewRecordFn newRecord = NewFastaSequence,
                              ReadRecordFn readRecord = ReadFastaSequence);
// Frees every record and the record array; the texts stay.
void freeFastaRecords(LoadedSequences& loaded);
// Frees the n texts and the `text` array (n counts both strands of a both-strands run).
void freeTexts(int n);
// Refuses a file of no entry or of a single entry with the driver's messages.
void checkSequenceCount(int n, const DriverMessages& m);

// Quorum for n sequences from the command-line percentage: 0 selects the default of 70 %.  The ceiling is
// clamped to the int range (NaN gives 0) so that absurd percentages cannot overflow.
int computeQuorum(float percent, int n);
// Warns about a quorum of exactly 1 and refuses one below 1.
void checkQuorum(int quorum, const DriverMessages& m);

// Longest text span a model can cover: 2147483647 when the total maximum or a box maximum (boxes are read
// only with two or more) is 0, else max(sum of box maxima, total maximum) + sum of spacer maxima.  Computed
// without overflow, capped at 2147483647 and never below 1 (a degenerate negative window would otherwise
// reach the tree construction).
int windowLength(const Criteres& cr);

// Builds the generalised suffix tree of the n texts truncated at window, with its banner and the progress
// meter on standard error.  Returns the root; colour sets are not yet propagated.
Noeud* buildSuffixTree(const char* textAlphabet, int n, int window);

// The positional command line: three file names, the quorum, the number of boxes B, the totals, then,
// when B is 2 or more, one group per box (min, max, substitutions) and after every box but the last one
// per spacer (min, max and, for motbox-delta, Delta), then the tail of compositions and palindromes.
struct CommandLine {
    const char* alphabetFile;
    const char* fastaFile;
    const char* outputFile;
    float quorumPercent;  // as converted from the argument; 0 selects the default
    int tailStart;        // argv index of the first composition or palindrome argument
    int tailCount;
};
// What the two programs do differently when they read it.
struct CommandLineRules {
    int minBoxes;                          // fewer boxes are refused by refuseBoxes
    void (*refuseBoxes)(const char* arg);  // given the boxes argument as written; ends the process
    void (*printUsage)(FILE* to);          // the usage text
};
// Numbers each spacer group holds: min, max, and Delta in motbox-delta.
inline constexpr int kArgsPerSpacer = MOTBOX_DELTA ? 3 : 2;
// Converts the positional arguments into cr (allocBloc included).  A command line shorter than its layout
// is refused with the usage text before any argument is used.
CommandLine parseCommandLine(int argc, char** argv, Criteres* cr, const CommandLineRules& rules);

// Greatest magnitude accepted for a length, a spacer bound, a Delta, a number of substitutions or a
// composition limit: far beyond any sequence the tree can hold, and small enough that sums and doubled
// values of a few of them stay within an int.
inline constexpr int kMaxArgumentMagnitude = 100000000;
// Refuses, with a message naming the argument and status 1, a number of the command line that the
// arithmetic of the run cannot carry: any of them beyond kMaxArgumentMagnitude, a negative spacer maximum
// or Delta, and the limits of composition groups (the tail is walked as setCompoPal reads it; a malformed
// group is left to it).  argv is the vector given to parseCommandLine.
void checkArgumentRanges(char** argv, const Criteres& cr, const CommandLine& cl);

// Refuses a "$" inside a sequence: it is the tree's terminator, and a text holding one would index
// words that cross from one part of the sequence into the other.  Refuses a NUL byte as the control
// character it is: the texts are C strings, it would cut its sequence short.  The first of either in
// FASTA order is reported.
void checkTextCharacters(const LoadedSequences& loaded);

// Refuses a palindrome declaration whose partner is not an earlier box (a palindromic box is spelled
// against the finished box it mirrors), or any declaration in a single-box run.
void checkPalindromes(const Criteres& cr);

// Inputs of the loading and indexing steps common to both drivers.
struct RunInputs {
    const char* fastaFile;
    const char* alphabetFile;
    float quorumPercent;  // as given on the command line (0 for the default)
    char** tail;          // composition and palindrome arguments
    int tailCount;
    int window;            // depth of the suffix tree
    RunOptions options{};  // the memory limit and report
};
// What those steps leave for the report and the extraction.
struct IndexedRun {
    int nbseq;
    int texts;                 // texts in `text`: nbseq, or twice as many when both strands are read
    int longest;               // length of the longest sequence
    const char* textAlphabet;  // the text alphabet string, "$" included
    Noeud* root;               // the tree, colour sets propagated
};
// Reads every FASTA entry into `text`, fills longtext and quorum, loads the alphabet file, reads the
// command-line tail into cr, translates the models alphabet, refuses a tree estimated larger than the
// memory the run may use, and builds the coloured suffix tree.  Every refusal ends the process with the
// driver's messages.
IndexedRun loadAndIndex(Criteres* cr, const RunInputs& in, const DriverMessages& m);

// File names and quorum figures shown by the parameter report.
struct ReportInput {
    const char* fastaFile;
    const char* alphabetFile;
    const char* outputFile;
    float quorumPercent;  // as given on the command line (0 for the default)
    int nbseq;
    bool bothStrands = false;
};
// Prints the parameter report on standard output and the "CHECK THESE PARAMETERS" line on standard error.
void printParameterReport(const Criteres& cr, const ReportInput& in, const DriverMessages& m);

// Bytes of one reserved header line, line feed included.
inline constexpr int kHeaderLineBytes = 80;
// Blank lines reserved by default; the separator line follows them.
inline constexpr int kDefaultHeaderBlankLines = 3;
// Number of blank header lines needed so that a summary of summaryLength bytes stays clear of the
// separator line (it must leave the last line feed before it intact): 3 unless the summary is 240 bytes or
// longer.
int headerBlankLinesFor(size_t summaryLength);
// Writes blankLines lines of 79 blanks and a line of 79 "=", each followed by a line feed (320 bytes for
// the default 3 blank lines).
void writeReservedHeader(FILE* f, int blankLines = kDefaultHeaderBlankLines);
// Writes the summary line over the start of the reserved header (no line feed).  Standard output is never
// rewound: a terminal or pipe cannot be, and a redirected file would lose the report it starts with, so
// there the line comes after the final counts.  A line longer than the room of blankLines lines (a fault
// of the caller's bound) is written at the end as well rather than over the separator.
void writeSummaryLine(FILE* f, const std::string& line, int blankLines = kDefaultHeaderBlankLines);

// Summary line pieces.  Start: "%%% B quorum/n longtext minlong reachedMax maxerr".
std::string summaryStart(const Criteres& cr, int nbseq, int reachedMax);
// " boxMin reached err" for one box.
void appendSummaryBox(std::string& line, int boxMin, int reached, int err);
// " low high" for one spacer.
void appendSummarySpacer(std::string& line, int low, int high);
// " alphabetFile textAlphabet", the end of the line.
void appendSummaryNames(std::string& line, const char* alphabetFile, const char* textAlphabet);
// The greatest length a run can report for a part limited by limit (0 or less = no limit), knowing that a
// model symbol consumes one character of a single sequence: min(limit, longest sequence).
int reachableLength(int limit, int longestSequence);

// "Nb models: %d\nUser time : %.2f sec.\n" on f.
void writeFinalCounts(FILE* f, int nbModels, float seconds);

// User CPU time of the process so far, in clock ticks, single precision.
float userTimeTicks();
// Seconds of user CPU time since startTicks (from userTimeTicks), in single precision.
float userSecondsSince(float startTicks);
