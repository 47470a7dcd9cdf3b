#include "colour_union.h"

#include "cpu_dispatch.h"
#include "strands.h"

namespace {

// Sequences in the n words of a union whose members are strand pairs: member 2i (bit 2i + 1) and member
// 2i + 1 (bit 2i + 2) count once together.  Bits run from the high bit of each byte down, so a pair lies
// in one byte but for the one that starts at a byte's low bit and ends at the next byte's high bit.
POPCOUNT_DISPATCH int32_t countStrandPairs(const uint64_t* words, size_t n) {
    int32_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t w = words[i];
        total += std::popcount(w);
        if constexpr (std::endian::native == std::endian::little) {
            const uint64_t next = i + 1 < n ? words[i + 1] : 0;
            const uint64_t inByte = w & (w >> 1) & 0x2A2A2A2A2A2A2A2Aull;
            const uint64_t acrossBytes = w & (w >> 15) & 0x0001010101010101ull;
            const uint64_t acrossWords = (w >> 56) & (next >> 7) & 1;
            total -= std::popcount(inByte) + std::popcount(acrossBytes) + static_cast<int32_t>(acrossWords);
        } else {
            const auto* bytes = reinterpret_cast<const unsigned char*>(words);
            for (size_t b = 8 * i; b < 8 * i + 8; ++b) {
                const unsigned x = bytes[b];
                const unsigned following = b + 1 < 8 * n ? bytes[b + 1] : 0;
                total -= std::popcount(x & (x >> 1) & 0x2Au) + static_cast<int32_t>(x & (following >> 7) & 1);
            }
        }
    }
    return total;
}

// Members in the n words of a union.  The counts here are compiled twice so that processors with a
// popcount instruction use it; only this file calls them, as clang requires of such functions.
POPCOUNT_DISPATCH int32_t countMembers(const uint64_t* words, size_t n) {
    int32_t total = 0;
    for (size_t i = 0; i < n; ++i) total += std::popcount(words[i]);
    return total;
}

}  // namespace

int32_t countColourWords(const uint64_t* words, size_t n) {
    return strandState().strandPairs ? countStrandPairs(words, n) : countMembers(words, n);
}

int32_t sequencesInColourSet(unsigned char* bt) {
    if (!strandState().strandPairs) return nbSequenceInBitTab(bt);
    static thread_local ColourUnion scratch;
    scratch.reset();
    scratch.add(bt);
    return scratch.count();
}
