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

// An edge of the tree as the walks read it: the record below it, that record's colour set, the label
// and its length.
struct Edge {
    const void* record;
    const unsigned char* colours;
    const char* label;
    int32_t length;
};

// A place one text character beyond an occurrence of the current model, whatever symbol spells that
// character: the moved occurrence, substitution not yet counted, with the edge it stands on.  The places
// are read from the tree once per model and then filtered for each candidate symbol: the tree, not the
// filtering, is what costs (every step is a cache miss).  Keeping the edge lets the extended model read
// its own successors along that edge without going back to the tree records.
struct Successor {
    Occ occ;
    const void* record;            // the record below the edge, childOf(occ)
    const unsigned char* colours;  // its colour set
    const char* label;             // the edge's label
    int32_t length;                // the edge's length
    int32_t symbol;                // letter number of the character read

    Edge edge() const { return {record, colours, label, length}; }
};

// What the successors of one letter give the candidate symbols, known before any move: how many
// survive as exact matches and as substitutions, and the union of their colour sets either way.
struct LetterTally {
    int32_t exactCount = 0;
    int32_t substitutedCount = 0;
    // Colour sets united last: occurrences on one edge follow each other, and a set is united once.
    const unsigned char* lastExact = nullptr;
    const unsigned char* lastSubstituted = nullptr;
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
        Collector c(*this, limits, multibloc);
        for (int64_t i = w.from; i > w.stop && pile->occ[i].noeudpere != nullptr; --i) {
            const Occ& o = pile->occ[i];
            const void* child = childOf(o);
            c.step(o, {child, colourSet(child), Sequence[numSeqOf(child)] + labelStart(child), seg_taille(child)});
        }
        return c.finish();
    }

    // The same for the occurrences that moving the successors of parent by symbol s gives (with the limits
    // of that move): the model extended by s, read without a level of its own in the stack.
    Range collectAfter(const Range& parent, int32_t s, const SubstitutionLimits& moveLimits,
                       const SubstitutionLimits& limits, bool multibloc) {
        Collector c(*this, limits, multibloc);
        const unsigned char* accepts = TabSymb[s];
        // The moves stack the successors in order, and a level is read from its top.
        for (size_t i = parent.succEnd; i-- > parent.succBegin;) {
            const Successor st = successors_[i];  // a copy: collecting may move the table
            Occ o = st.occ;
            if (!applyMove(o, accepts[st.symbol] == 0, moveLimits, multibloc)) continue;
            c.step(o, st.edge());
        }
        return c.finish();
    }

    // Moves the occurrences of r by symbol s onto the top of dest, in the order of the table.  Every move is
    // written and then kept or not: which characters a symbol accepts is as good as random, and a branch on
    // it would be mispredicted a quarter of the time.
    void appendMoves(const Range& r, int32_t s, const SubstitutionLimits& limits, bool multibloc,
                     PileOcc* dest) const {
        Occ* out = reserveOcc(dest, static_cast<uint32_t>(r.succEnd - r.succBegin));
        const unsigned char* accepts = TabSymb[s];
        const Successor* st = successors_.data() + r.succBegin;
        const Successor* last = successors_.data() + r.succEnd;
        uint32_t kept = 0;
        for (; st != last; ++st) {
            out[kept] = st->occ;
            kept += applyMove(out[kept], accepts[st->symbol] == 0, limits, multibloc) ? 1 : 0;
        }
        dest->nbocc += kept;
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

  private:
    // Counts a substitution into o when the move has one; false when the limits refuse it.
    static bool applyMove(Occ& o, bool substitution, const SubstitutionLimits& limits, bool multibloc) {
        const bool refused = substitution && limits.refuseSubstitution(o, multibloc);
        const int32_t add = substitution ? 1 : 0;
        o.nberr += add;
        if (multibloc) o.nberrbloc += add;
        return !refused;
    }

    // Appends the successors of occurrences one by one, tallying them by letter.
    class Collector {
      public:
        Collector(SuccessorTable& t, const SubstitutionLimits& limits, bool multibloc)
            : t_(t), limits_(limits), multibloc_(multibloc) {
            t_.words_ = colourWords();
            range_ = {t_.successors_.size(), 0, t_.tallies_.size(), t_.unions_.size()};
            t_.tallies_.resize(range_.letterBegin + static_cast<size_t>(nbSymbSeq));
            t_.unions_.resize(range_.unionBegin + 2 * static_cast<size_t>(nbSymbSeq) * t_.words_);
        }

        // The successors of occurrence o, which stands on edge e.
        void step(const Occ& o, const Edge& e) {
            if (o.pos < e.length) {
                const char c = e.label[o.pos];
                if (c != '$') add(o, o.noeudpere, o.lettre, o.pos + 1, textSymbol(c), e);
                return;
            }
            // A leaf ends with "$" or at the window, which the length limits never let a model pass.
            if (isFeuille(e.record)) return;
            auto* node = static_cast<Noeud*>(const_cast<void*>(e.record));
            for (int32_t m = 0; m < nbSymbSeq; ++m) {
                const void* g = node->fils[m];
                if (g != nullptr)
                    add(o, node, m, 1, m, {g, colourSet(g), Sequence[numSeqOf(g)] + labelStart(g), seg_taille(g)});
            }
        }

        Range finish() {
            range_.succEnd = t_.successors_.size();
            return range_;
        }

      private:
        void add(const Occ& from, Noeud* noeudpere, int32_t lettre, int32_t pos, int32_t symbol, const Edge& e) {
            Occ next = from;
            next.noeudpere = noeudpere;
            next.lettre = lettre;
            next.pos = pos;
            if (!multibloc_) next.longsaut = next.codesaut = 0;
            t_.successors_.push_back({next, e.record, e.colours, e.label, e.length, symbol});
            const size_t words = t_.words_;
            LetterTally& t = t_.tallies_[range_.letterBegin + static_cast<size_t>(symbol)];
            uint64_t* exact = t_.unions_.data() + range_.unionBegin + 2 * static_cast<size_t>(symbol) * words;
            uint64_t* substituted = exact + words;
            if (t.exactCount++ == 0) std::fill(exact, exact + 2 * words, 0);
            if (e.colours != t.lastExact) uniteColourSet(exact, e.colours);
            t.lastExact = e.colours;
            if (limits_.refuseSubstitution(from, multibloc_)) return;
            ++t.substitutedCount;
            if (e.colours != t.lastSubstituted) uniteColourSet(substituted, e.colours);
            t.lastSubstituted = e.colours;
        }

        SuccessorTable& t_;
        const SubstitutionLimits& limits_;
        bool multibloc_;
        Range range_{};
    };

    size_t words_ = 0;
    std::vector<Successor> successors_;
    std::vector<LetterTally> tallies_;
    std::vector<uint64_t> unions_;
    std::vector<uint64_t> scratch_;
};

