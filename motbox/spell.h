#pragma once
#include <cstdio>

#include "criteres.h"
#include "global_variables.h"

// Result stream and run counters, written by keepModel and read by the driver.
extern FILE* f;
extern int nbmod;
extern int maxlongmod;
extern int* maxlongbloc;

// Runs the whole extraction, writing every model to f, with `threads` worker threads (1: in the calling
// thread alone).  The result is the same for every number of threads.
void doSpell(Criteres* cr, int nbseq, Noeud* racine, int threads = 1);
