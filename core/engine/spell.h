#pragma once
// The spelling engine of both programs: a depth-first walk over the models alphabet that carries, on an
// occurrence stack, every place of the suffix tree where the current model ends, and prunes a branch as
// soon as those places fall in fewer sequences than the quorum.  motbox spells the box after a spacer
// once over all its lengths and writes every model to its one result file; motbox-delta spells it once
// per spacer window reaching the quorum and writes each model to the file of its windows.
#include <cstdio>
#include <vector>

#include "criteres.h"
#include "global_variables.h"

// The figures of one result file's summary line, over the models written to it.
struct SpellCounters {
    int nbmod = 0;                 // models written
    int maxlongmod = 0;            // greatest model length, spacers excluded
    std::vector<int> maxlongbloc;  // by box, the greatest length of the box (runs of two boxes or more)
};

// Where the models go: the result streams, and for motbox-delta the file number of a combination of
// spacer windows (their centres, one per spacer).  Without that function every model goes to files[0].
struct SpellOutput {
    std::vector<FILE*> files;
    int (*fileOfWindows)(const int* centres, const Criteres* cr) = nullptr;
};

// Runs the whole extraction over the tree rooted at racine (colour sets propagated) with `threads`
// worker threads (1: in the calling thread alone), writing the models to output; returns the counters
// of each result file.  The results are the same for every number of threads.  Needs code2Sauts for
// runs of two boxes or more, and for motbox-delta the criteria's window extents.
std::vector<SpellCounters> doSpell(const Criteres& cr, Noeud* racine, int threads, const SpellOutput& output);
