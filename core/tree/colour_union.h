#pragma once
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bit_tab.h"

// Unions of colour sets for the quorum counts of the spelling walks: bit arrays in the static layout of a
// colour set, padded to whole 64-bit words, so that static sets are united eight bytes at a time and a
// union is counted with popcount.

// Words of one union for the current number of sequences.
inline size_t colourWords() {
    return (static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB) + 7) / 8;
}

// Unites colour set bt into the colourWords() words at words; staticBytes is the size of a static set
// (SIZE_STATIC_BIT_TAB), which the hot loops read once.
inline void uniteColourSet(uint64_t* words, const unsigned char* bt, size_t staticBytes) {
    auto* bytes = reinterpret_cast<unsigned char*>(words);
    if (isDynamicBitTab(bt)) {
        // Short list: 15-bit big-endian count, then native 16-bit members; sequence s is bit s + 1.
        const int32_t k = ((bt[0] & 0x7F) << 8) | bt[1];
        for (int32_t i = 0; i < k; ++i) {
            uint16_t s;
            memcpy(&s, bt + 2 + 2 * i, sizeof s);
            const int32_t bit = s + 1;
            bytes[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
        }
        return;
    }
    // A static set's form bit is 0, so uniting it never sets bit 0.
    const size_t size = staticBytes;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t w;
        memcpy(&w, bt + i, sizeof w);
        words[i / 8] |= w;
    }
    for (; i < size; ++i) bytes[i] |= bt[i];
}

// A colour set as the walks carry it along an edge: the set's address, or, for a set of one sequence s
// (most leaves deep in the tree), 2s + 1, so that uniting it reads no memory.  Set addresses are even.
using ColourRef = uintptr_t;

inline ColourRef colourRef(const unsigned char* bt) {
    if (isDynamicBitTab(bt) && bt[0] == 0x80 && bt[1] == 1) {
        uint16_t s;
        memcpy(&s, bt + 2, sizeof s);
        return (static_cast<ColourRef>(s) << 1) | 1;
    }
    return reinterpret_cast<ColourRef>(bt);
}

inline void uniteColourRef(uint64_t* words, ColourRef c, size_t staticBytes) {
    if ((c & 1) == 0) {
        uniteColourSet(words, reinterpret_cast<const unsigned char*>(c), staticBytes);
        return;
    }
    const auto bit = static_cast<size_t>(c >> 1) + 1;
    reinterpret_cast<unsigned char*>(words)[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
}

// Number of sequences in the n words of a union: of members, or of strand pairs in a both-strands run.
int32_t countColourWords(const uint64_t* words, size_t n);

// One union with its own storage; nothing is allocated after the first reset.
class ColourUnion {
  public:
    // Empties the union; call after initBitTab, before the first add.
    void reset() {
        const size_t words = colourWords();
        if (words_.size() != words)
            words_.assign(words, 0);
        else
            std::fill(words_.begin(), words_.end(), 0);
        staticBytes_ = static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB);
    }
    void add(const unsigned char* bt) { uniteColourSet(words_.data(), bt, staticBytes_); }
    int32_t count() const { return countColourWords(words_.data(), words_.size()); }

  private:
    std::vector<uint64_t> words_;
    size_t staticBytes_ = 0;
};

// Number of sequences in colour set bt, counted as countColourWords counts them.
int32_t sequencesInColourSet(unsigned char* bt);
