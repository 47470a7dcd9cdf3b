#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
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
    // Bitwise rather than short-circuit: the hot loops ask it of every successor, and its answer is as
    // good as random.
    bool refuseSubstitution(const Occ& o, bool multibloc) const {
        return (o.nberr + 1 == total) | (multibloc & (o.nberrbloc + 1 == box));
    }
};

// An edge of the tree as the walks read it: the record below it, that record's colour set, the label
// and its length.
struct Edge {
    const void* record;
    ColourRef colours;
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
    const void* record;  // the record below the edge, childOf(occ)
    ColourRef colours;   // its colour set
    const char* label;   // the edge's label
    int32_t length;      // the edge's length
    int32_t symbol;      // letter number of the character read

    Edge edge() const { return {record, colours, label, length}; }
};

// What the successors of one letter give the candidate symbols, known before any move: how many
// survive as exact matches and as substitutions, and the union of their colour sets either way.
struct LetterTally {
    int32_t exactCount = 0;
    int32_t substitutedCount = 0;
    // Colour sets united last: occurrences on one edge follow each other, and a set is united once.
    ColourRef lastExact = 0;
    ColourRef lastSubstituted = 0;
};

// Which successors a block of the table keeps: those of the landing groups in mask, groups being told
// apart by spacer code % groups (see SuccessorTable::Block).
struct SuccessorGroupFilter {
    int32_t groups = 1;
    uint32_t mask = ~0u;
};

// Per model: the successors, and for each letter its tally and two unions (all of its successors;
// those that can afford a substitution), so that the exact number of sequences of every extension is
// known without moving a single occurrence.  Each model's tables are a block of their own, taken from a
// pool, so that the blocks of sibling models can be filled together in one pass over their parent's.
class SuccessorTable {
  public:
    // A growable array of successors that is written through a raw pointer: the collection loops are the
    // walk's hottest code.
    class Successors {
      public:
        Successors() = default;
        Successors(const Successors&) = delete;
        Successors& operator=(const Successors&) = delete;
        ~Successors() { free(data_); }
        const Successor* begin() const { return data_; }
        const Successor* end() const { return data_ + size_; }
        size_t size() const { return size_; }
        void clear() { size_ = 0; }
        // Room for n more; the next n appends need no check.
        void reserve(size_t n) {
            if (size_ + n <= capacity_) return;
            const size_t capacity = std::max(size_ + n, 2 * capacity_ + 64);
            auto* grown = static_cast<Successor*>(realloc(data_, capacity * sizeof(Successor)));
            if (grown == nullptr) throw std::bad_alloc();
            data_ = grown;
            capacity_ = capacity;
        }
        // The storage itself, for a writer that keeps its own cursor (see Collector); resize stays within
        // the capacity.
        Successor* data() { return data_; }
        size_t capacity() const { return capacity_; }
        void resize(size_t n) { size_ = n; }

      private:
        Successor* data_ = nullptr;
        size_t size_ = 0;
        size_t capacity_ = 0;
    };

    // A block may tell apart the landing groups of the last spacer (the spacer lengths, group g being
    // length min + g, read from the occurrence's spacer code): its tallies and unions are then kept per
    // letter and group, so that any window of consecutive groups can be counted on its own.
    struct Block {
        Successors successors;
        int32_t groups = 1;                  // groups told apart; 1: none
        std::vector<LetterTally> tallies;    // nbSymbSeq * groups, slot letter * groups + group
        std::vector<uint64_t> unions;        // 2 per slot, of colourWords() words each
        std::vector<uint32_t> letterGroups;  // per letter, the groups it has successors in (groups <= 32)
    };
    using Range = Block*;

    using GroupFilter = SuccessorGroupFilter;
    static int32_t groupOf(const Occ& o, int32_t groups) { return groups > 1 ? o.codesaut % groups : 0; }

    SuccessorTable() = default;
    SuccessorTable(const SuccessorTable&) = delete;
    SuccessorTable& operator=(const SuccessorTable&) = delete;

    // Reads the successors of every occurrence of the walk w over pile, newest occurrence first and, at a
    // node, children in letter order: the order in which the moves push their occurrences.  A one-box run
    // (multibloc false) counts no box substitutions and carries no spacers.
    Range collect(const PileOcc* pile, LevelWalk w, const SubstitutionLimits& limits, bool multibloc,
                  GroupFilter filter = {}) {
        return filter.groups > 1 ? collectLevel<true>(pile, w, limits, multibloc, filter)
                                 : collectLevel<false>(pile, w, limits, multibloc, filter);
    }

    // The successors of the models parent + symbols[i], for i < n, in out[i]: read in one pass over the
    // successors of parent moved by each symbol (with the limits of those moves), so that the tree is read
    // once for all of them.  Those models have no level of their own in the stack.  A parent that tells
    // groups apart passes its children's group masks in groupMasks (nullptr: every group).
    void collectChildren(Range parent, const int32_t* symbols, int n, const SubstitutionLimits& moveLimits,
                         const SubstitutionLimits& limits, bool multibloc, Range* out,
                         const uint32_t* groupMasks = nullptr) {
        // The collection tells its children apart in a 32-bit mask: a larger alphabet is read in parts.
        for (int from = 0; from < n; from += kChildrenPerPass) {
            const int part = std::min(n - from, kChildrenPerPass);
            if (parent->groups > 1)
                collectChildrenOf<true>(parent, symbols + from, part, moveLimits, limits, multibloc,
                                        out + from, groupMasks != nullptr ? groupMasks + from : nullptr);
            else
                collectChildrenOf<false>(parent, symbols + from, part, moveLimits, limits, multibloc,
                                         out + from);
        }
    }

    // The successors of the one model parent + s (see collectChildren).
    Range collectAfter(Range parent, int32_t s, const SubstitutionLimits& moveLimits,
                       const SubstitutionLimits& limits, bool multibloc, uint32_t groupMask = ~0u) {
        Range r = nullptr;
        collectChildren(parent, &s, 1, moveLimits, limits, multibloc, &r, &groupMask);
        return r;
    }

    // Moves the occurrences of r by symbol s onto the top of dest, in the order of the table.  Every move is
    // written and then kept or not: which characters a symbol accepts is as good as random, and a branch on
    // it would be mispredicted a quarter of the time.
    void appendMoves(Range r, int32_t s, const SubstitutionLimits& limits, bool multibloc,
                     PileOcc* dest) const {
        Occ* out = reserveOcc(dest, static_cast<uint32_t>(r->successors.size()));
        const unsigned char* accepts = alphabetTables().TabSymb[s];
        uint32_t kept = 0;
        for (const Successor& st : r->successors) {
            // Moved in registers: the next write's place must not wait for this one's read back.
            Occ o = st.occ;
            const bool keep = applyMove(o, accepts[st.symbol] == 0, limits, multibloc);
            out[kept] = o;
            kept += keep ? 1 : 0;
        }
        dest->nbocc += kept;
    }

    // Gives r's storage back for later models.
    void release(Range r) {
        if (r != nullptr) free_.push_back(r);
    }

    // Number of moves of symbol s, and the exact number of sequences they stand in (0 when none), in a
    // block that does not tell groups apart.
    struct Count {
        int32_t moves;
        int32_t sequences;
    };
    Count count(Range r, int32_t s) {
        const unsigned char* accepts = alphabetTables().TabSymb[s];
        const size_t words = colourWords();
        const LetterTally* tally = r->tallies.data();
        const uint64_t* unions = r->unions.data();
        Count c{0, 0};
        bool first = true;
        scratch_.resize(words);
        const int32_t letters = alphabetTables().nbSymbSeq;
        for (int32_t m = 0; m < letters; ++m) {
            const int32_t moves = accepts[m] ? tally[m].exactCount : tally[m].substitutedCount;
            if (moves == 0) continue;
            c.moves += moves;
            const uint64_t* u = unions + (2 * static_cast<size_t>(m) + (accepts[m] ? 0 : 1)) * words;
            if (first)
                std::copy(u, u + words, scratch_.begin());
            else
                for (size_t k = 0; k < words; ++k) scratch_[k] |= u[k];
            first = false;
        }
        if (c.moves > 0) c.sequences = countColourWords(scratch_.data(), words);
        return c;
    }

    // count for each window m of the mask windows, over groups m to m + span - 1 of a block that tells
    // groups apart (at most 32): out[m] for those m only.
    void countWindows(Range r, int32_t s, uint32_t windows, int32_t span, Count* out) {
        const size_t groups = static_cast<size_t>(r->groups);
        const size_t words = colourWords();
        const unsigned char* accepts = alphabetTables().TabSymb[s];
        const uint64_t spanMask = (1ull << span) - 1;
        uint64_t covered = 0;
        for (uint32_t m = windows; m != 0; m &= m - 1) covered |= spanMask << __builtin_ctz(m);
        // Each group's moves of s and their union, over the letters it has successors of.
        int32_t groupMoves[32];
        uint32_t filled = 0;
        groupUnions_.resize(groups * words);
        const int32_t letters = alphabetTables().nbSymbSeq;
        for (int32_t m = 0; m < letters; ++m) {
            const size_t kind = accepts[m] ? 0 : 1;
            for (uint32_t rest = r->letterGroups[static_cast<size_t>(m)] & static_cast<uint32_t>(covered);
                 rest != 0; rest &= rest - 1) {
                const int g = __builtin_ctz(rest);
                const size_t slot = static_cast<size_t>(m) * groups + static_cast<size_t>(g);
                const LetterTally& t = r->tallies[slot];
                const int32_t moves = kind == 0 ? t.exactCount : t.substitutedCount;
                if (moves == 0) continue;
                const uint64_t* u = r->unions.data() + (2 * slot + kind) * words;
                uint64_t* gu = groupUnions_.data() + static_cast<size_t>(g) * words;
                if ((filled >> g & 1) == 0) {
                    std::copy(u, u + words, gu);
                    groupMoves[g] = moves;
                    filled |= 1u << g;
                } else {
                    for (size_t k = 0; k < words; ++k) gu[k] |= u[k];
                    groupMoves[g] += moves;
                }
            }
        }
        scratch_.resize(words);
        for (uint32_t rest = windows; rest != 0; rest &= rest - 1) {
            const int m = __builtin_ctz(rest);
            Count c{0, 0};
            for (uint32_t in = filled & static_cast<uint32_t>(spanMask << m); in != 0; in &= in - 1) {
                const int g = __builtin_ctz(in);
                const uint64_t* gu = groupUnions_.data() + static_cast<size_t>(g) * words;
                if (c.moves == 0)
                    std::copy(gu, gu + words, scratch_.begin());
                else
                    for (size_t k = 0; k < words; ++k) scratch_[k] |= gu[k];
                c.moves += groupMoves[g];
            }
            if (c.moves > 0) c.sequences = countColourWords(scratch_.data(), words);
            out[m] = c;
        }
    }

  private:
    // The bodies of collect and collectChildren; Grouped: the blocks tell groups apart, which the one-box
    // runs and most models never do, so that their loops stay as lean as they were.  Each is one function
    // with the placing and the tallying inlined in its loop: the walks' hottest code.
    template <bool Grouped>
    [[gnu::noinline]] Range collectLevel(const PileOcc* pile, LevelWalk w, const SubstitutionLimits& limits,
                                         bool multibloc, GroupFilter filter) {
        Collector<Grouped> c(take(filter.groups), limits, multibloc);
        const TreeReading tree = readingTree();
        Place places[kMaxPlaces];
        for (int64_t i = w.from; i > w.stop && pile->occ[i].noeudpere != nullptr; --i) {
            const Occ& o = pile->occ[i];
            int32_t g = 0;
            if constexpr (Grouped) {
                g = groupOf(o, filter.groups);
                if (((filter.mask >> g) & 1) == 0) continue;
            }
            const void* child = childOf(o);
            const int n = placesAfter(o,
                                      {child, colourRef(colourSet(child)),
                                       tree.texts[numSeqOf(child)] + labelStart(child), seg_taille(child)},
                                      places, tree);
            c.reserve(static_cast<size_t>(n));
            for (int k = 0; k < n; ++k) c.add(o, false, places[k], g);
        }
        return c.block();
    }

    template <bool Grouped>
    [[gnu::noinline]] void collectChildrenOf(Range parent, const int32_t* symbols, int n,
                                             const SubstitutionLimits& moveLimits,
                                             const SubstitutionLimits& limits, bool multibloc, Range* out,
                                             const uint32_t* groupMasks = nullptr) {
        const int32_t groups = parent->groups;
        std::vector<Collector<Grouped>> children;
        children.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) children.emplace_back(take(groups), limits, multibloc);
        const TreeReading tree = readingTree();
        // Per letter, the children whose symbol accepts it: the others take it as a substitution.
        uint32_t exactChildren[kAlphabetSlots] = {};
        for (int32_t m = 0; m < tree.alphabet->nbSymbSeq; ++m)
            for (int i = 0; i < n; ++i)
                if (tree.alphabet->TabSymb[symbols[i]][m] != 0) exactChildren[m] |= 1u << i;
        const uint32_t allChildren = n == kChildrenPerPass ? ~0u : (1u << n) - 1;
        Place places[kMaxPlaces];
        const Successor* first = parent->successors.begin();
        // The moves stack the successors in order, and a level is read from its top.
        for (const Successor* st = parent->successors.end(); st-- != first;) {
            const int found = placesAfter(st->occ, st->edge(), places, tree);
            if (found == 0) continue;
            int32_t g = 0;
            if constexpr (Grouped) g = groupOf(st->occ, groups);
            // Whether the occurrence can afford a substitution is the same for every child.
            const bool substitutionAllowed = !moveLimits.refuseSubstitution(st->occ, multibloc);
            // The children it goes to, found without a branch per child (which is as good as random).
            const uint32_t exact = exactChildren[st->symbol];
            for (uint32_t to = substitutionAllowed ? allChildren : exact; to != 0; to &= to - 1) {
                const int i = __builtin_ctz(to);
                if constexpr (Grouped)
                    if (groupMasks != nullptr && ((groupMasks[i] >> g) & 1) == 0) continue;
                const bool substitution = ((exact >> i) & 1) == 0;
                Collector<Grouped>& child = children[static_cast<size_t>(i)];
                child.reserve(static_cast<size_t>(found));
                for (int k = 0; k < found; ++k) child.add(st->occ, substitution, places[k], g);
            }
        }
        for (int i = 0; i < n; ++i) out[i] = children[static_cast<size_t>(i)].block();
    }

    // A place one character beyond an occurrence: where it stands and the edge below.
    struct Place {
        Noeud* noeudpere;
        int32_t lettre;
        int32_t pos;
        int32_t symbol;
        Edge edge;
    };
    static constexpr int kMaxPlaces = kAlphabetSlots;
    static constexpr int kChildrenPerPass = 32;

    // The run's tables the hot loops read, fetched once per call rather than at every place.
    struct TreeReading {
        const AlphabetTables* alphabet;
        char* const* texts;
        const char* records;  // start of the record range the child references point into
    };
    static TreeReading readingTree() { return {&alphabetTables(), treeState().Sequence, recordBase()}; }

    // The places one text character beyond occurrence o, which stands on edge e, in the order the moves
    // push them; returns their number.
    [[gnu::always_inline]] static int placesAfter(const Occ& o, const Edge& e, Place* places,
                                                  const TreeReading& tree) {
        if (o.pos < e.length) {
            const char c = e.label[o.pos];
            if (c == '$') return 0;
            places[0] = {o.noeudpere, o.lettre, o.pos + 1,
                         tree.alphabet->carseq2num[static_cast<unsigned char>(c)], e};
            return 1;
        }
        // A leaf ends with "$" or at the window, which the length limits never let a model pass.
        if (isFeuille(e.record)) return 0;
        auto* node = static_cast<Noeud*>(const_cast<void*>(e.record));
        int n = 0;
        const int32_t letters = tree.alphabet->nbSymbSeq;
        for (int32_t m = 0; m < letters; ++m) {
            const RecordRef r = node->fils[m];
            if (r == kNoRecord) continue;
            const void* g = recordAt(tree.records, r);
            places[n++] = {
                node,
                m,
                1,
                m,
                {g, colourRef(colourSet(g)), tree.texts[numSeqOf(g)] + labelStart(g), seg_taille(g)}};
        }
        return n;
    }

    // Counts a substitution into o when the move has one; false when the limits refuse it.
    static bool applyMove(Occ& o, bool substitution, const SubstitutionLimits& limits, bool multibloc) {
        const bool refused = substitution && limits.refuseSubstitution(o, multibloc);
        const int32_t add = substitution ? 1 : 0;
        o.nberr += add;
        if (multibloc) o.nberrbloc += add;
        return !refused;
    }

    // An empty block sized for the current alphabet, number of sequences and groups.
    Block* take(int32_t groups = 1) {
        Block* b;
        if (free_.empty()) {
            all_.push_back(std::make_unique<Block>());
            b = all_.back().get();
        } else {
            b = free_.back();
            free_.pop_back();
        }
        b->successors.clear();
        b->groups = groups;
        const size_t slots = static_cast<size_t>(alphabetTables().nbSymbSeq) * static_cast<size_t>(groups);
        b->tallies.assign(slots, LetterTally{});
        b->unions.resize(2 * slots * colourWords());
        if (groups > 1) b->letterGroups.assign(static_cast<size_t>(alphabetTables().nbSymbSeq), 0);
        return b;
    }

    // Appends the successors of occurrences to one block, tallying them by letter (and group).
    template <bool Grouped>
    class Collector {
      public:
        Collector(Block* b, const SubstitutionLimits& limits, bool multibloc)
            : b_(b),
              limits_(limits),
              multibloc_(multibloc),
              words_(colourWords()),
              staticBytes_(static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB)),
              tallies_(b->tallies.data()),
              unions_(b->unions.data()) {
            cursor_ = b->successors.data() + b->successors.size();
            limit_ = b->successors.data() + b->successors.capacity();
        }

        // The successor at place p of occurrence `from` moved with or without a substitution, of group g.
        // A colour set of one sequence (most edges deep in the tree) is united without a branch.
        [[gnu::always_inline]] void add(const Occ& from, bool substitution, const Place& p, int32_t g) {
            const Edge& e = p.edge;
            Successor* s = cursor_++;
            // Made in registers, then stored: a field read back from the successor just stored had to
            // wait for the store.
            Occ o = from;
            const int32_t counted = substitution ? 1 : 0;
            o.nberr += counted;
            if (multibloc_) o.nberrbloc += counted;
            o.noeudpere = p.noeudpere;
            o.lettre = p.lettre;
            o.pos = p.pos;
            if (!multibloc_) o.longsaut = o.codesaut = 0;
            s->occ = o;
            s->colours = e.colours;
            s->record = e.record;
            s->label = e.label;
            s->length = e.length;
            s->symbol = p.symbol;
            const bool substitutable = !limits_.refuseSubstitution(o, multibloc_);
            size_t slot = static_cast<size_t>(p.symbol);
            if constexpr (Grouped) slot = slot * static_cast<size_t>(b_->groups) + static_cast<size_t>(g);
            // A letter's unions are cleared when it is first met.
            if (tallies_[slot].exactCount == 0) {
                uint64_t* cleared = unions_ + 2 * slot * words_;
                std::fill(cleared, cleared + 2 * words_, 0);
                if constexpr (Grouped) b_->letterGroups[static_cast<size_t>(p.symbol)] |= 1u << g;
            }
            LetterTally& t = tallies_[slot];
            uint64_t* exact = unions_ + 2 * slot * words_;
            uint64_t* substituted = exact + words_;
            ++t.exactCount;
            t.substitutedCount += substitutable ? 1 : 0;
            if ((e.colours & 1) != 0) {
                const auto bit = static_cast<size_t>(e.colours >> 1) + 1;
                const auto mask = static_cast<unsigned char>(0x80 >> (bit % 8));
                reinterpret_cast<unsigned char*>(exact)[bit / 8] |= mask;
                reinterpret_cast<unsigned char*>(substituted)[bit / 8] |= substitutable ? mask : 0;
                return;
            }
            if (e.colours != t.lastExact) uniteColourRef(exact, e.colours, staticBytes_);
            t.lastExact = e.colours;
            if (!substitutable) return;
            if (e.colours != t.lastSubstituted) uniteColourRef(substituted, e.colours, staticBytes_);
            t.lastSubstituted = e.colours;
        }

        // Room for n more successors.
        void reserve(size_t n) {
            if (static_cast<size_t>(limit_ - cursor_) < n) grow(n);
        }
        // The block, its successors all counted; the collector is done.
        Block* block() {
            b_->successors.resize(static_cast<size_t>(cursor_ - b_->successors.data()));
            return b_;
        }

      private:
        [[gnu::noinline]] void grow(size_t n) {
            Successors& all = b_->successors;
            all.resize(static_cast<size_t>(cursor_ - all.data()));
            all.reserve(n);
            cursor_ = all.data() + all.size();
            limit_ = all.data() + all.capacity();
        }

        Block* b_;
        SubstitutionLimits limits_;
        bool multibloc_;
        size_t words_;
        size_t staticBytes_;
        // The block's storage, read through these rather than through the block in the hot loops.
        LetterTally* tallies_;
        uint64_t* unions_;
        Successor* cursor_;  // where the next successor goes
        Successor* limit_;   // end of the reserved room
    };

    std::vector<std::unique_ptr<Block>> all_;
    std::vector<Block*> free_;
    std::vector<uint64_t> scratch_;
    std::vector<uint64_t> groupUnions_;
};
