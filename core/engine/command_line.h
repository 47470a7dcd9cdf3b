#pragma once
// The positional command line both programs share, and the checks of what it holds before a run starts.

#include <cstdio>

#include "build_traits.h"
#include "criteres.h"

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

// Refuses a palindrome declaration whose partner is not an earlier box (a palindromic box is spelled
// against the finished box it mirrors), or any declaration in a single-box run.
void checkPalindromes(const Criteres& cr);

// --rank-only reads the models from the result file: refused (status 1) when OUTPUT is standard output.
void checkRankOnlyOutput(const char* outputFile);
