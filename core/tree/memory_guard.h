#pragma once
// Estimate of the memory the suffix tree takes, checked against what the run may use before the tree is
// built: a run that cannot fit is refused at once rather than failing after minutes of construction.

#include <cstdio>

struct TreeSize {
    long totalLength;  // characters of all sequences, terminators excluded
    int nbseq;
    int longest;               // length of the longest sequence
    int window;                // depth of the tree (2147483647 = no limit)
    int letters;               // letters of the text alphabet, terminator excluded
    bool bothStrands = false;  // the lengths and counts above hold both strands of every sequence
};

// Peak bytes of the process while the tree is built and its colour sets propagated.
long long estimateTreeBytes(const TreeSize& t);

// MemAvailable of a /proc/meminfo file, in bytes; -1 when it cannot be read.
long long availableMemoryBytes(const char* meminfo = "/proc/meminfo");

// Refuses the run (one line on standard error, status 1) when the estimate exceeds limit bytes (the
// --max-memory value, or when it is -1 the memory available; no check when that is unknown).  With report,
// first writes "memory estimate: N bytes ..." on standard error.
void checkTreeMemory(const TreeSize& t, long long limit, bool report, const char* meminfo = "/proc/meminfo");

// Bytes of the table that turns spacer codes back into lengths: per combination of spacer lengths, a
// pointer and a heap block of `spacers` ints.  combinations is LLONG_MAX when beyond it.
long long estimateSpacerTableBytes(long long combinations, int spacers);

// Refuses the run, as checkTreeMemory does, when the spacer code table and the tree (treeBytes) together
// exceed limit: wide spacer ranges make that table alone larger than any tree.
void checkSpacerTableMemory(long long combinations, int spacers, long long treeBytes, long long limit,
                            const char* meminfo = "/proc/meminfo");
