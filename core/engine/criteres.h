#pragma once
#include <cstdint>
#include <vector>

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
    int* deltas;  // window half-width of each spacer
#endif
    unsigned char* flagcompobloc;
    int* palbloc;   // partner box of each box, -1 = none
    long longtext;  // total length of the sequences, terminators excluded
    int minlong;
    int maxlong;  // 0 = no limit
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

// The spacer codes of one run: spacer code -> spacer lengths, one row per combination (initTabSauts).
struct SpacerCodes {
    int** code2Sauts = nullptr;
    int rows = 0;
};
// The codes the calling thread works with: those of the run it works for (see Run), else the process's own,
// which the library's unit tests use.
extern constinit thread_local SpacerCodes* spacerCodesInUse;
inline SpacerCodes& spacerCodes() {
    return *spacerCodesInUse;
}
// Frees the rows of code2Sauts.
void releaseSpacerCodes();
// Frees the per-box arrays of cr (allocBloc and setCompoPal), leaving it empty.
void releaseCriteres(Criteres* cr);

void allocBloc(Criteres* cr, int nb);
// Code of spacers 0..i once spacer i takes length saut (code: that of spacers 0..i-1).
int addSaut2Code(int code, int saut, int i, const Criteres* cr);
// Rows of code2Sauts: the product of the spacers' widths, LLONG_MAX when beyond it.
long long spacerCombinations(const Criteres* cr);
// Builds code2Sauts; needs nbbloc >= 2 and spacer bounds accepted by checkSpacerBounds.
// Writes one newline on standard output per spacer.
void initTabSauts(Criteres* cr);
int recFillTab(int i, Criteres* cr, int* remaining, int** table);
// Reads the command-line tail (composition groups, then pI/J palindrome declarations).
// A malformed tail (group announcing more pairs than remain, box number out of range,
// palindrome argument not of the form pI/J) is refused with ">> Error: ..." and exit status 1.
void setCompoPal(Criteres* cr, char** args, int n);

// Refuses (">> Error: ..." on standard error, exit status 1) a spacer whose maximum
// length is below its minimum; the drivers call it before any work.
void checkSpacerBounds(const Criteres* cr);
// First box (0-based) whose palindrome partner is not an earlier box (itself or a
// later one), or -1 when every declared partner is earlier.
int firstPalWithoutEarlierPartner(const Criteres* cr);

// The most symbols a model of the run can hold (spacers not counted): the total maximum, else the sum of
// the box maxima when every box has one; 0 when nothing bounds it.
int longestModel(const Criteres* cr);

// A copy of a run's criteria whose composition allowances, which the spelling walks count down and
// restore, are its own: each walk of a parallel run has one.  Everything else is shared, read only.
class CriteresCopy {
  public:
    CriteresCopy(const Criteres* source, int symbols);
    CriteresCopy(const CriteresCopy&) = delete;
    CriteresCopy& operator=(const CriteresCopy&) = delete;
    Criteres* get() { return &cr_; }

  private:
    Criteres cr_;
    std::vector<int> compo_;
    std::vector<std::vector<int>> rows_;
    std::vector<int*> compobloc_;
};
