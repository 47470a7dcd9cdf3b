#pragma once
#include <cstdio>

// Text alphabet, models alphabet and their tables (filled once per run).
constexpr int kAlphabetSlots = 127;
// Models symbols a file may declare: numbers 0 to 125, the spacer symbol taking the next one.
constexpr int kMaxModelsSymbols = kAlphabetSlots - 1;
// Room of alphSeq: at most 95 text symbols (codes 32 to 126), then "$" and NUL.
constexpr int kAlphSeqSize = 95 + 2;

// The text and models alphabets of one run and their tables.
struct AlphabetTables {
    char alphSeq[kAlphSeqSize] = {};
    int nbSymbSeq = 0;
    int carseq2num[kAlphabetSlots] = {};
    int nbSymbMod = 0;
    unsigned char TabSymb[kAlphabetSlots][kAlphabetSlots] = {};
    char* nummod2str[kAlphabetSlots] = {};
    char* alphMod[kAlphabetSlots] = {};
    int type = 0;       // 0 nucleotides, 1 amino acids, 2 any other
    int numJOKER = -1;  // -1 = no joker
    int numSAUT = -1;   // spacer symbol, nbSymbMod once the file is read
    int comp[kAlphabetSlots] = {};

    constexpr AlphabetTables() = default;
    AlphabetTables(const AlphabetTables&) = delete;
    AlphabetTables& operator=(const AlphabetTables&) = delete;
    // Frees the symbols' names and lines read from the alphabet file (a run does when it ends).
    void releaseNames();
};

// The tables the calling thread works with: those of the run it works for (see Run), else the process's
// own, which the library's unit tests use.
extern constinit thread_local AlphabetTables* alphabetInUse;
inline AlphabetTables& alphabetTables() {
    return *alphabetInUse;
}

// Letter number of text character c (an index into the child slots of a node).
inline int textSymbol(char c) {
    return alphabetTables().carseq2num[static_cast<unsigned char>(c)];
}

// Empties carseq2num, TabSymb and alphSeq; numJOKER and numSAUT keep their values,
// so initAlphabet + chargeAlphabet run once per process.
void initAlphabet();
// Checks and upper-cases the texts, derives the text alphabet, reads the models
// symbols; returns alphSeq.  Every failure ends the process with status 1.  withComplements adds the
// complement of every text character to the text alphabet, for the reverse strands.
char* chargeAlphabet(FILE* file, char** texts, int nbSeq, bool withComplements = false);
// Gives the models symbols their display names and, when pal, fills comp.
void transAlphMod(unsigned char pal);
// 1 when a and b have the same length and every character of a occurs in b, else 0.
int strshfl(const char* a, const char* b);
void chercheComp(const char* a, const char* b);
// Number of the first models symbol named exactly s, or -1.
int str2nummod(const char* s);
