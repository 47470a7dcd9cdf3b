#pragma once
// From the input files to the coloured suffix tree the walk reads: the window the tree is truncated at,
// its construction, and the whole loading and indexing step both drivers run.

#include "criteres.h"
#include "global_variables.h"
#include "options.h"
#include "run_messages.h"

// Longest text span a model can cover: 2147483647 when the total maximum or a box maximum (boxes are read
// only with two or more) is 0, else max(sum of box maxima, total maximum) + sum of spacer maxima.  Computed
// without overflow, capped at 2147483647 and never below 1 (a degenerate negative window would otherwise
// reach the tree construction).
int windowLength(const Criteres& cr);

// Inputs of the loading and indexing steps common to both drivers.
struct RunInputs {
    const char* fastaFile;
    const char* alphabetFile;
    float quorumPercent;  // as given on the command line (0 for the default)
    char** tail;          // composition and palindrome arguments
    int tailCount;
    int window;             // depth of the suffix tree
    RunOptions options{};   // the memory limit and report
    bool buildTree = true;  // false: the inputs only, for a ranking of models already written
};
// What those steps leave for the report and the extraction.
struct IndexedRun {
    int nbseq;
    int texts;                 // texts in `text`: nbseq, or twice as many when both strands are read
    int longest;               // length of the longest sequence
    const char* textAlphabet;  // the text alphabet string, "$" included
    Noeud* root;               // the tree, colour sets propagated; null when none was asked for
};
// Reads every FASTA entry into `text`, fills longtext and quorum, loads the alphabet file, reads the
// command-line tail into cr, translates the models alphabet, refuses a tree estimated larger than the
// memory the run may use, and builds the coloured suffix tree.  Every refusal ends the process with the
// driver's messages.
IndexedRun loadAndIndex(Criteres* cr, const RunInputs& in, const DriverMessages& m);
