#pragma once
// Windowed spelling engine of motbox-delta: the next box is spelled once per spacer window whose landings
// reach the quorum, and every model goes to the result file of its window combination.
#include <cstdio>

#include "criteres.h"
#include "global_variables.h"

// Per-file result streams and counters, indexed by file number (see criteres_delta.h).  Created by the
// driver before the extraction, written by the engine, read back for each file's final counts and summary.
extern FILE** f;
extern int* nbmod;         // models written to each file
extern int* maxlongmod;    // greatest model length (symbols, spacers excluded) written to each file
extern int** maxlongbloc;  // [file][box] greatest length of the box among the models of the file

// Runs the whole extraction over the tree rooted at racine (colour sets propagated).  Requires at least two
// boxes, maxlargsaut and maxnbfenetres filled, code2Sauts built and the result files open.  Gives the root
// a one-character entering edge (under a new super-root) so that spelling starts from a place on an edge.
// With `threads` worker threads (1: in the calling thread alone); the result files are the same for every
// number of threads.
void doSpell(Criteres* cr, int nbseq, Noeud* racine, int threads = 1);
