#pragma once
#include <cstdio>

// What the reader keeps between two entries of the file it reads, and the names it returns.
struct FastaReaderState {
    static constexpr int kBufSize = 1024;
    static constexpr int kNameSize = 64;
    static constexpr int kCommentSize = 512;
    // Line buffer of the reader; after a read that stopped on the next entry's header, it holds that header
    // and sRetained is set.
    char sBuffer[kBufSize] = {};
    int sRetained = 0;
    // Stream position of the retained header line: measured back from the end of the line, it would be one
    // too low when the file ends without a line feed.
    long sRetainedOffset = 0;
    // Bytes held by sBuffer, NUL bytes of the stream included.
    int sLength = 0;
    char sName[kNameSize] = {};
    char sComment[kCommentSize] = {};
};
// The reader state the calling thread uses: that of the run it works for (see Run), else the process's own.
extern constinit thread_local FastaReaderState* fastaReaderInUse;

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
