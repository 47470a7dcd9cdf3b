#pragma once
#include <cstdio>

// Text alphabet, models alphabet and their tables (filled once per run).
constexpr int kAlphabetSlots = 127;

extern char alphSeq[];
extern int nbSymbSeq;
extern int carseq2num[kAlphabetSlots];
extern int nbSymbMod;
extern unsigned char TabSymb[kAlphabetSlots][kAlphabetSlots];
extern char* nummod2str[kAlphabetSlots];
extern char* alphMod[kAlphabetSlots];
extern int type;
extern int numJOKER;
extern int numSAUT;
extern int comp[kAlphabetSlots];

void initAlphabet();
char* chargeAlphabet(FILE* file, char** texts, int nbSeq);
void transAlphMod(unsigned char pal);
int strshfl(const char* a, const char* b);
void chercheComp(const char* a, const char* b);
int str2nummod(const char* s);
