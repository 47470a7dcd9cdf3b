#pragma once
#include <cstdio>

// FASTA reader.  One stream is read at a time: the reader keeps the header
// line that ended the previous entry for the next read.
struct FastaSequence {
    int ok;       // 1 once a read completed (and in a fresh record); 0 after a failed enlargement
    int length;   // characters in seq, NUL not counted
    long offset;  // stream position of the entry's header line
    int bufsize;  // bytes allocated for seq
    char name[64];
    char comment[512];
    char* seq;
};

// Returns a record with a 1024-byte seq buffer, or null when memory is exhausted.
FastaSequence* NewFastaSequence();
// Frees seq and the record (null accepted); returns 0.
int FreeFastaSequence(FastaSequence* s);
// Returns 1 when an entry was read, 0 when there is none (end of stream or no header).
// A header line longer than 1023 characters keeps its first 1023 characters; the rest
// of that line is skipped, never read as sequence text.
int ReadFastaSequence(FILE* stream, FastaSequence* s);
// Seeks to s->offset and reads that entry; returns 1 or 0 like ReadFastaSequence.
int GetFastaSequence(FILE* stream, FastaSequence* s);
void WriteFastaSequence(FILE* stream, const FastaSequence* s, int width);
// Both return a module buffer that the next call overwrites.
char* GetFastaName(const char* header);
char* GetFastaComment(const char* header);
int CountAlpha(const char* s);
// Copies the letters of src, adds a NUL and returns the address of that NUL.
char* StrcpyAlpha(char* dest, const char* src);
// Returns the first whitespace character of s, or null.
char* NextSpace(char* s);
