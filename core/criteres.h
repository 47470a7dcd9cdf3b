#pragma once
#include <cstdint>

#include "build_traits.h"

struct Intervalle {
    int min;
    int max;
};

// Every constraint of one extraction.  motbox-delta adds deltas,
// maxnbfenetres and maxlargsaut.
struct Criteres {
    int** compobloc;         // [box][symbol] remaining allowance, -1 = no limit
    int* errbloc;            // most substitutions per box
    int* compo;              // [symbol] allowance in the whole model, -1 = no limit
    Intervalle* bornesbloc;  // box length bounds, max 0 = no limit
    Intervalle* sauts;       // spacer length bounds (entry nbbloc-1 unused)
#if MOTBOX_DELTA
    int* deltas;             // window half-width of each spacer
#endif
    unsigned char* flagcompobloc;
    int* palbloc;            // partner box of each box, -1 = none
    long longtext;           // total length of the sequences, terminators excluded
    int minlong;
    int maxlong;             // 0 = no limit
    int maxerr;
#if MOTBOX_DELTA
    int maxnbfenetres;
    int maxlargsaut;
#endif
    int quorum;
    signed char nbbloc;
    unsigned char flagcompo;
    unsigned char flagpal;
};

// Spacer code -> spacer lengths, one row per combination.
extern int** code2Sauts;

void allocBloc(Criteres* cr, int nb);
int addSaut2Code(int code, int saut, int i, const Criteres* cr);
void initTabSauts(Criteres* cr);
int recFillTab(int i, Criteres* cr, int* remaining, int** table);
void setCompoPal(Criteres* cr, char** args, int n);
