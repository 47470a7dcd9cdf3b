#include "colour_union.h"

// Compiled twice so that processors with a popcount instruction use it.
__attribute__((target_clones("popcnt", "default"))) int32_t countColourWords(const uint64_t* words, size_t n) {
    int32_t total = 0;
    for (size_t i = 0; i < n; ++i) total += std::popcount(words[i]);
    return total;
}
