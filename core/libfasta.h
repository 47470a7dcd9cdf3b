#pragma once
#include <cstdio>

// FASTA reader.
struct FastaSequence {
    int ok;
    int length;
    long offset;
    int bufsize;
    char name[64];
    char comment[512];
    char* seq;
};

FastaSequence* NewFastaSequence();
int FreeFastaSequence(FastaSequence* s);
int ReadFastaSequence(FILE* stream, FastaSequence* s);
int GetFastaSequence(FILE* stream, FastaSequence* s);
void WriteFastaSequence(FILE* stream, const FastaSequence* s, int width);
char* GetFastaName(const char* header);
char* GetFastaComment(const char* header);
int CountAlpha(const char* s);
char* StrcpyAlpha(char* dest, const char* src);
char* NextSpace(char* s);
