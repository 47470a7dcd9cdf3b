#pragma once
// Both strands of nucleotide sequences.  With --both-strands, sequence i is indexed twice: as written, text
// 2i, and as its reverse complement, text 2i+1.  A model then counts in sequence i when it occurs in either
// text, so colour sets are counted by pairs of members, and an occurrence found in text 2i+1 is written at
// the place it covers in sequence i, with its strand.

#include <cstdint>
#include <string>
#include <vector>

// Whether the texts of one run are strand pairs (false, one text per sequence, unless setStrandPairs was
// called), and the sequences' lengths when they are.
struct StrandPairs {
    bool strandPairs = false;
    std::vector<int32_t> lengths;
};
// The strands the calling thread works with: those of the run it works for (see Run), else the process's
// own, which the library's unit tests use.
extern constinit thread_local StrandPairs* strandsInUse;
inline StrandPairs& strandState() {
    return *strandsInUse;
}

// Declares the texts strand pairs of the sequences whose lengths (terminators not counted) are given, in
// sequence order; an empty vector goes back to one text per sequence.
void setStrandPairs(std::vector<int32_t> sequenceLengths);

// The sequence a text belongs to, and whether it is the reverse complement.
inline int32_t sequenceOfText(int32_t t) {
    return strandState().strandPairs ? t >> 1 : t;
}
inline bool isReverseText(int32_t t) {
    return strandState().strandPairs && (t & 1) != 0;
}

// Length of sequence s (valid while the texts are strand pairs).
int32_t strandSequenceLength(int32_t s);

// Start, in the sequence as written, of an occurrence found at index p of text t and covering span
// characters: p itself on the + strand, L - p - span on the - strand (L the sequence's length).
inline int32_t positionInSequence(int32_t t, int32_t p, int32_t span) {
    if (!isReverseText(t)) return p;
    return strandSequenceLength(t >> 1) - p - span;
}

// The IUPAC complement of an upper-case nucleotide character (A/T, C/G, R/Y, K/M, S/S, W/W, B/V, D/H,
// N/N); 0 for any other character.
char complementBase(char c);

// The reverse complement of an upper-case nucleotide string; characters without complement become 0.
std::string reverseComplement(const std::string& s);
