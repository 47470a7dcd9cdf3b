#include "shuffle.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {

// The draws below use only the generator's output, which the standard fixes, so a seed gives the
// same shuffles with every standard library (std::uniform_int_distribution and std::shuffle differ).
uint64_t uniformBelow(std::mt19937_64& rng, uint64_t bound) {
    const uint64_t rejectedBelow = (0 - bound) % bound;  // 2^64 mod bound: keeps every residue equally likely
    for (;;) {
        const uint64_t draw = rng();
        if (draw >= rejectedBelow) return draw % bound;
    }
}

template <class T>
void shuffleInPlace(std::vector<T>& items, std::mt19937_64& rng) {
    for (size_t i = items.size(); i > 1; i--) std::swap(items[i - 1], items[uniformBelow(rng, i)]);
}

constexpr int kBytes = 256;
using Symbol = unsigned char;

// Multigraph of the sequence's transitions: exits[a] holds b once for every "ab" in it.
using Exits = std::array<std::vector<Symbol>, kBytes>;

Exits transitionsOf(const std::string& seq) {
    Exits exits;
    for (size_t i = 0; i + 1 < seq.size(); i++) {
        exits[static_cast<Symbol>(seq[i])].push_back(static_cast<Symbol>(seq[i + 1]));
    }
    return exits;
}

// For every character with exits but the last one, the target of its last exit, such that these
// edges form a tree leading to the last character, the tree drawn with probability proportional to
// the product of its edges' multiplicities (Wilson's loop-erased random walks).  Every character
// reaches the last one through the sequence itself, so the walks end.
std::array<Symbol, kBytes> randomLastExits(const Exits& exits, Symbol last, std::mt19937_64& rng) {
    std::array<Symbol, kBytes> lastExit{};
    std::array<bool, kBytes> inTree{};
    inTree[last] = true;
    for (int start = 0; start < kBytes; start++) {
        if (exits[start].empty()) continue;
        // A walk overwrites the exit of a character it comes back to, which erases the loop.
        for (int at = start; !inTree[at]; at = lastExit[at]) {
            lastExit[at] = exits[at][uniformBelow(rng, exits[at].size())];
        }
        for (int at = start; !inTree[at]; at = lastExit[at]) inTree[at] = true;
    }
    return lastExit;
}

// Puts each character's exits in the order the walk takes them: its tree edge last, the others in a
// random order before it.
void orderExits(Exits& exits, const std::array<Symbol, kBytes>& lastExit, Symbol last, std::mt19937_64& rng) {
    for (int from = 0; from < kBytes; from++) {
        std::vector<Symbol>& out = exits[from];
        if (out.empty()) continue;
        if (from == last) {
            shuffleInPlace(out, rng);
            continue;
        }
        std::swap(out[std::find(out.begin(), out.end(), lastExit[from]) - out.begin()], out.back());
        out.pop_back();
        shuffleInPlace(out, rng);
        out.push_back(lastExit[from]);
    }
}

std::string walk(const Exits& exits, Symbol first, size_t length) {
    std::array<size_t, kBytes> taken{};
    std::string seq;
    seq.reserve(length);
    Symbol at = first;
    seq.push_back(static_cast<char>(at));
    while (seq.size() < length) {
        at = exits[at][taken[at]++];
        seq.push_back(static_cast<char>(at));
    }
    return seq;
}

std::string upperCased(std::string seq) {
    for (char& ch : seq) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return seq;
}

}  // namespace

std::string dinucleotideShuffle(const std::string& seq, std::mt19937_64& rng) {
    if (seq.size() < 3) return seq;
    const Symbol last = static_cast<Symbol>(seq.back());
    Exits exits = transitionsOf(seq);
    orderExits(exits, randomLastExits(exits, last, rng), last, rng);
    return walk(exits, static_cast<Symbol>(seq.front()), seq.size());
}

std::vector<std::string> shuffledControls(const std::vector<std::string>& inputs, int copies, uint64_t seed) {
    if (copies < 0) throw std::invalid_argument("shuffledControls needs copies >= 0");
    std::mt19937_64 rng(seed);
    std::vector<std::string> controls;
    controls.reserve(inputs.size() * static_cast<size_t>(copies));
    for (const std::string& input : inputs) {
        for (int copy = 0; copy < copies; copy++) controls.push_back(dinucleotideShuffle(input, rng));
    }
    return controls;
}

DistinctSequences foldDuplicates(const std::vector<std::string>& seqs) {
    DistinctSequences distinct;
    distinct.firstOf.reserve(seqs.size());
    std::unordered_map<std::string, int> firstIndex;
    for (int i = 0; i < static_cast<int>(seqs.size()); i++) {
        const auto [entry, isNew] = firstIndex.try_emplace(upperCased(seqs[i]), i);
        distinct.firstOf.push_back(entry->second);
        if (!isNew) distinct.folded++;
    }
    return distinct;
}
