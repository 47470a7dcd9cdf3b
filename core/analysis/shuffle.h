#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Control sequences made from the input itself: shuffles that keep every sequence's dinucleotide
// counts, so that a model owes its support in the input to more than the local composition.

// Seed of the control shuffles when none is given (the year Altschul and Erickson published the
// shuffle).  Runs with the same seed shuffle the same way.
constexpr uint64_t kDefaultShuffleSeed = 1985;

// A sequence drawn uniformly among those with the same adjacent-pair counts, first character and last
// character as seq (Altschul and Erickson's Euler-path shuffle).  Bytes are taken as they are, so any
// alphabet and any case do; sequences shorter than 3 come back unchanged.
std::string dinucleotideShuffle(const std::string& seq, std::mt19937_64& rng);

// copies shuffles of every input, in input order: inputs[0] shuffled copies times, then inputs[1]...
// The same seed gives the same controls.  Throws std::invalid_argument when copies < 0.
std::vector<std::string> shuffledControls(const std::vector<std::string>& inputs, int copies,
                                          uint64_t seed = kDefaultShuffleSeed);

// Sequences equal once upper-cased, counted once.
struct DistinctSequences {
    std::vector<int> firstOf;  // for each sequence, the index of its first occurrence (its own if new)
    int folded = 0;            // sequences standing for an earlier one
};
DistinctSequences foldDuplicates(const std::vector<std::string>& seqs);
