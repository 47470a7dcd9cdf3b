#pragma once
// The sequence texts the tree indexes: the FASTA entries loaded into `text`, the checks on their count and
// characters, and the reverse strands of a both-strands run.

#include "libfasta.h"
#include "run_messages.h"

// The sequence texts of one run, in FASTA order, each followed by "$" and a NUL.
struct SequenceTexts {
    char** text = nullptr;
    int count = 0;  // texts in the array, both strands counted
};
// The texts the calling thread works with: those of the run it works for (see Run), else the process's own,
// which the library's unit tests use.
extern constinit thread_local SequenceTexts* textsInUse;
inline SequenceTexts& sequenceTexts() {
    return *textsInUse;
}

// The entries of a FASTA file once loaded into `text`.
struct LoadedSequences {
    FastaSequence** records = nullptr;  // parallel to `text`, same capacity; released by freeFastaRecords
    int count = 0;                      // number of entries read
    int capacity = 0;                   // slots of both arrays: 500, doubled whenever full
    long totalLength = 0;               // sum of the entries' lengths, terminators not counted
    int longest = 0;                    // length of the longest entry
};

// Record factory and reader, replaceable so that failures can be exercised.
using NewRecordFn = FastaSequence* (*)();
using ReadRecordFn = int (*)(FILE*, FastaSequence*);

// Reads every entry of fp into `text` (each a heap block of length + 3 bytes ending with "$" and NUL) and
// into the parallel record array.  Allocation failures end the run through fatalError, including a null
// record and a read that could not complete its entry (ok left at 0).
LoadedSequences loadSequences(FILE* fp, NewRecordFn newRecord = NewFastaSequence,
                              ReadRecordFn readRecord = ReadFastaSequence);
// Frees every record and the record array; the texts stay.
void freeFastaRecords(LoadedSequences& loaded);
// Frees the n texts and the `text` array (n counts both strands of a both-strands run); none when the
// array is already freed.
void freeTexts(int n);
// Refuses a file of no entry or of a single entry with the driver's messages.
void checkSequenceCount(int n, const DriverMessages& m);

// Refuses a "$" inside a sequence: it is the tree's terminator, and a text holding one would index
// words that cross from one part of the sequence into the other.  Refuses a NUL byte as the control
// character it is: the texts are C strings, it would cut its sequence short.  The first of either in
// FASTA order is reported.
void checkTextCharacters(const LoadedSequences& loaded);

// Refuses --both-strands unless the alphabet file declares nucleotides and every text character has a
// complement (the texts are upper-cased by then).
void checkStrandsReadable(const LoadedSequences& loaded, const char* alphabetFile);
// Interleaves the reverse complements with the texts, text 2i being sequence i as written and text 2i+1 its
// reverse complement, and declares the texts strand pairs.  Returns the number of texts.
int addReverseStrands(const LoadedSequences& loaded);
