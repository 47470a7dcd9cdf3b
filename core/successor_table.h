#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "alphabet.h"
#include "colour_union.h"
#include "criteres.h"
#include "global_fonctions.h"
#include "occ.h"
#include "pile_occ.h"

// The step of the spelling walks that reads the tree: where the occurrences of a model go one character
// further, tallied by letter, so that every candidate symbol is judged and moved without reading the
// tree again.  Shared by both programs' engines.

// Limits of the substitutions of a move inside box numbloc; tested by equality, so a negative limit
// never refuses.
struct SubstitutionLimits {
    int32_t total;
    int32_t box;  // unused by a one-box run, whose moves count no box substitutions

    SubstitutionLimits(const Criteres* cr, int32_t numbloc, bool multibloc)
        : total(cr->maxerr + 1), box(multibloc ? cr->errbloc[numbloc] + 1 : 0) {}
    bool refuseSubstitution(const Occ& o, bool multibloc) const {
        return o.nberr + 1 == total || (multibloc && o.nberrbloc + 1 == box);
    }
};

// A place one text character beyond an occurrence of the current model, whatever symbol spells that
// character: the moved occurrence, substitution not yet counted.  The places are read from the tree
// once per model and then filtered for each candidate symbol: the tree, not the filtering, is what
// costs (every step is a cache miss).
struct Successor {
    Occ occ;
    int32_t symbol;  // letter number of the character read
};

// What the successors of one letter give the candidate symbols, known before any move: how many
// survive as exact matches and as substitutions, and the union of their colour sets either way.
struct LetterTally {
    int32_t exactCount = 0;
    int32_t substitutedCount = 0;
};

// Per model: the successors, and for each letter its tally and two unions (all of its successors;
// those that can afford a substitution), so that the exact number of sequences of every extension is
// known without moving a single occurrence.
class SuccessorTable {
  public:
    struct Range {
        size_t succBegin, succEnd, letterBegin, unionBegin;
    };

    // Reads the successors of every occurrence of the walk w over pile, newest occurrence first and, at a
    // node, children in letter order: the order in which the moves push their occurrences.  A one-box run
    // (multibloc false) counts no box substitutions and carries no spacers.
    Range collect(const PileOcc* pile, LevelWalk w, const SubstitutionLimits& limits, bool multibloc) {
        words_ = colourWords();
        Range r{successors_.size(), 0, tallies_.size(), unions_.size()};
        tallies_.resize(r.letterBegin + static_cast<size_t>(nbSymbSeq));
        unions_.resize(r.unionBegin + 2 * static_cast<size_t>(nbSymbSeq) * words_);
        LetterTally* tally = tallies_.data() + r.letterBegin;
        uint64_t* unions = unions_.data() + r.unionBegin;
        auto add = [&](const Occ& from, Noeud* noeudpere, int32_t lettre, int32_t pos, int32_t symbol,
                       const void* record) {
            Occ next = from;
            next.noeudpere = noeudpere;
            next.lettre = lettre;
            next.pos = pos;
            if (!multibloc) next.longsaut = next.codesaut = 0;
            successors_.push_back({next, symbol});
            LetterTally& t = tally[symbol];
            uint64_t* exact = unions + 2 * static_cast<size_t>(symbol) * words_;
            uint64_t* substituted = exact + words_;
            if (t.exactCount++ == 0) std::fill(exact, exact + 2 * words_, 0);
            const unsigned char* colours = colourSet(record);
            uniteColourSet(exact, colours);
            if (limits.refuseSubstitution(from, multibloc)) return;
            ++t.substitutedCount;
            uniteColourSet(substituted, colours);
        };
        for (int64_t i = w.from; i > w.stop && pile->occ[i].noeudpere != nullptr; --i) {
            const Occ& o = pile->occ[i];
            void* child = childOf(o);
            if (o.pos < seg_taille(child)) {
                const char c = edgeChar(child, o.pos);
                if (c != '$') add(o, o.noeudpere, o.lettre, o.pos + 1, textSymbol(c), child);
                continue;
            }
            // A leaf ends with "$" or at the window, which the length limits never let a model pass.
            if (isFeuille(child)) continue;
            auto* node = static_cast<Noeud*>(child);
            for (int32_t m = 0; m < nbSymbSeq; ++m)
                if (void* g = node->fils[m]) add(o, node, m, 1, m, g);
        }
        r.succEnd = successors_.size();
        return r;
    }

    // Drops the tables of r and of every model collected after it.
    void release(const Range& r) {
        successors_.resize(r.succBegin);
        tallies_.resize(r.letterBegin);
        unions_.resize(r.unionBegin);
    }

    // Number of moves of symbol s, and the exact number of sequences they stand in (0 when none).
    struct Count {
        int32_t moves;
        int32_t sequences;
    };
    Count count(const Range& r, int32_t s) {
        const unsigned char* accepts = TabSymb[s];
        const LetterTally* tally = tallies_.data() + r.letterBegin;
        const uint64_t* unions = unions_.data() + r.unionBegin;
        Count c{0, 0};
        bool first = true;
        scratch_.resize(words_);
        for (int32_t m = 0; m < nbSymbSeq; ++m) {
            const int32_t moves = accepts[m] ? tally[m].exactCount : tally[m].substitutedCount;
            if (moves == 0) continue;
            c.moves += moves;
            const uint64_t* u = unions + (2 * static_cast<size_t>(m) + (accepts[m] ? 0 : 1)) * words_;
            if (first) std::copy(u, u + words_, scratch_.begin());
            else
                for (size_t k = 0; k < words_; ++k) scratch_[k] |= u[k];
            first = false;
        }
        if (c.moves > 0) c.sequences = countColourWords(scratch_.data(), words_);
        return c;
    }

    // Moves the occurrences of r by symbol s onto pileNext (emptied first).  Every move is written and then
    // kept or not: which characters a symbol accepts is as good as random, and a branch on it would be
    // mispredicted a quarter of the time.
    void move(const Range& r, int32_t s, const SubstitutionLimits& limits, bool multibloc, PileOcc* pileNext) {
        videPile(pileNext);
        Occ* out = reserveOcc(pileNext, static_cast<uint32_t>(r.succEnd - r.succBegin));
        const unsigned char* accepts = TabSymb[s];
        const Successor* st = successors_.data() + r.succBegin;
        const Successor* last = successors_.data() + r.succEnd;
        uint32_t kept = 0;
        for (; st != last; ++st) {
            const bool substitution = accepts[st->symbol] == 0;
            const bool refused = substitution && limits.refuseSubstitution(st->occ, multibloc);
            const int32_t add = substitution ? 1 : 0;
            out[kept] = st->occ;
            out[kept].nberr += add;
            if (multibloc) out[kept].nberrbloc += add;
            kept += refused ? 0 : 1;
        }
        pileNext->nbocc += kept;
    }

  private:
    size_t words_ = 0;
    std::vector<Successor> successors_;
    std::vector<LetterTally> tallies_;
    std::vector<uint64_t> unions_;
    std::vector<uint64_t> scratch_;
};

