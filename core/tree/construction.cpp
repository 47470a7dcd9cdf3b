#include "construction.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "allocateurs.h"
#include "bit_tab.h"
#include "global_fonctions.h"
#include "liste_pos.h"
#include "run_exit.h"

namespace {

// The active list and its companions, shared by the phases of one construction.
struct Working {
    Noeud* arbre;
    int32_t fenetre;
    Liste** debut;
    Liste** fin;
    void** finPere;
    int32_t* nb;
};

// State carried from one extension to the next.
struct Step {
    int32_t etat = 0;
    void* courant = nullptr;   // record from which the next extension starts
    Noeud* attente = nullptr;  // node made by the last split, still without its suffix link
    void* pere = nullptr;      // second result of Add_Fast_String
};

enum class Extension { Inserted, Present, EndedAtLeaf };

Noeud* asNoeud(void* x) {
    return static_cast<Noeud*>(x);
}
Feuille* asFeuille(void* x) {
    return static_cast<Feuille*>(x);
}

int32_t textLength() {
    return static_cast<int32_t>(strlen(treeState().Sequence[treeState().current_sequence]));
}

[[noreturn]] void abortConstruction(const char* message) {
    endRunWith(-1, message);
}

constexpr char kTerminator = '$';

// A text the tree can index: alphabet letters (a letter outside the alphabet
// has no child slot) ended by the terminator, which occurs nowhere else (the
// construction relies on no word being a prefix of another).
bool validText(const char* text) {
    if (text == nullptr || text[0] == '\0') return false;
    const char* c = text;
    for (; *c != '\0'; ++c) {
        if (treeState().Translation_Table[static_cast<unsigned char>(*c)] >= treeState().ALPHA_CARD)
            return false;
        if (*c == kTerminator && c[1] != '\0') return false;
    }
    return c[-1] == kTerminator;
}

// A lookup result that a consistent tree never produces.  Going on would
// extract from a wrong tree, so the run ends with a failure status.
[[noreturn]] void reportInconsistentTree(const char* what, int32_t from, int32_t to) {
    char line[160];
    snprintf(line, sizeof line, "ERREUR    %s for sequence %d and string %d .. %d \n", what,
             treeState().current_sequence, from, to);
    const char* text = treeState().Sequence[treeState().current_sequence];
    std::string message = line;
    for (int32_t k = from; k < to; ++k) message += text[k];
    endRunWith(-1, message + '\n');
}

void linkPending(Step& st, void* target) {
    if (st.attente != nullptr) setSuffixLink(st.attente, asNoeud(target));
    st.attente = nullptr;
}

// A new leaf hung under an existing node: the next suffix is one character below pere's link.
void afterNewLeaf(Step& st) {
    st.etat = -1;
    st.courant = st.pere;
}

// A split made node pere: the next suffix is its label plus one character below
// the link of the node the split edge hung from (held in pere's link until now).
void afterSplit(Step& st) {
    Noeud* m = asNoeud(st.pere);
    st.attente = m;
    st.etat = -(seg_taille(m) + 1);
    st.courant = suffixLinkOf(m);
    m->lien_suffixe = kNoRecord;
}

void* listedRecord(const Liste* cell) {
    return cell->feuille;
}

void openLeaf(void* leaf) {
    setLeafEnd(asFeuille(leaf), -1);
}
void closeLeaf(void* leaf, int32_t end) {
    setLeafEnd(asFeuille(leaf), end);
}

void appendActive(const Working& w, void* record) {
    Liste* cell = Alloc_Liste();
    cell->feuille = record;
    (*w.fin)->suivant = cell;
    *w.fin = cell;
}

void dropHead(const Working& w) {
    Liste* head = *w.debut;
    *w.debut = head->suivant;
    Free_Liste(head);
}

// Where extension j of phase i starts: one step along a suffix link when
// there is one, else the whole word from the root.
void* extensionStart(const Working& w, const Step& st, int32_t j, int32_t i, int32_t* index) {
    void* c = st.courant;
    if (c == nullptr || c == w.arbre || isFeuille(c) || asNoeud(c)->lien_suffixe == kNoRecord) {
        *index = j;
        return w.arbre;
    }
    *index = i + st.etat;
    return suffixLinkOf(asNoeud(c));
}

// Extension step of phase i for suffix j.  A new leaf is opened and joins the active list.
Extension extend(const Working& w, Step& st, int32_t j, int32_t i, bool sliding) {
    int32_t index = 0;
    void* start = extensionStart(w, st, j, i, &index);
    st.pere = nullptr;
    void* r = Add_Fast_String(start, index, i, &st.etat, &st.pere);
    st.courant = r;
    if (st.etat == 1 || st.etat == 3) {
        openLeaf(r);
        appendActive(w, r);
        ++*w.nb;
        *w.finPere = st.pere;
        linkPending(st, st.pere);
        if (st.etat == 3)
            afterSplit(st);
        else
            afterNewLeaf(st);
        return Extension::Inserted;
    }
    if (st.etat < 0) {
        if (st.attente != nullptr) setSuffixLink(st.attente, asNoeud(r));
        return Extension::Present;
    }
    st.attente = nullptr;
    st.etat = sliding ? -seg_taille(r) : -1;
    st.courant = st.pere;
    return Extension::EndedAtLeaf;
}

// The word of length W-1 starting at the next suffix is already present: the
// record on whose edge it ends stands in the active list for that suffix, and
// the next phase records its full-window word from there.
void carryPresentWord(const Working& w, Step& st, int32_t i) {
    void* r = st.courant;
    void* child = Get_Child_Start_Letter(r, i + st.etat);
    if (seg_taille(child) + st.etat == 0) st.etat = 1;
    *w.finPere = isFeuille(child) ? r : child;
    appendActive(w, child);
    ++*w.nb;
    dropHead(w);
}

// Records the carried full-window word T[i+etat..i) below courant.
void recordCarriedWord(Step& st, int32_t i) {
    void* passed = st.courant;
    st.pere = nullptr;
    void* r = Add_Fast_String(st.courant, i + st.etat, i, &st.etat, &st.pere);
    st.courant = r;
    if (st.etat == 1) {
        afterNewLeaf(st);
    } else if (st.etat == 3) {
        afterSplit(st);
    } else if (st.etat == 2) {
        st.etat = -seg_taille(r);
        st.courant = passed;
    }
}

void closeAllOpenLeaves(const Working& w, int32_t end) {
    Liste* cell = *w.debut;
    for (;;) {
        Liste* next = cell->suivant;
        const bool last = cell == *w.fin;
        closeLeaf(listedRecord(cell), end);
        Free_Liste(cell);
        if (last) break;
        cell = next;
    }
    *w.debut = *w.fin = nullptr;
}

// The word T[L+etat..L) is present but ends inside the edge of child below r:
// an explicit node is made at its end.
void splitAtEnd(Step& st, void* r, void* child, int32_t end) {
    Noeud* m = Alloc_Noeud();
    if (st.attente != nullptr) setSuffixLink(st.attente, m);
    m->debut = end + st.etat;
    m->fin = end;
    if (isFeuille(child))
        asFeuille(child)->debut = (labelStart(child) - st.etat) | MARQUE_FEUILLE;
    else
        asNoeud(child)->debut -= st.etat;
    Ajoute_Fils_Au_Noeud(r, m);
    Ajoute_Fils_Au_Noeud(m, child);
    st.attente = m;
    st.courant = st.pere;
}

void insertFinalSuffix(const Working& w, Step& st, int32_t j, int32_t end) {
    int32_t index = 0;
    void* start = extensionStart(w, st, j, end, &index);
    st.pere = nullptr;
    void* r = Add_Fast_String(start, index, end, &st.etat, &st.pere);
    st.courant = r;
    if (st.etat == 1 || st.etat == 3) {
        *w.finPere = st.pere;
        ++*w.nb;
        linkPending(st, st.pere);
        if (st.etat == 3)
            afterSplit(st);
        else
            afterNewLeaf(st);
    } else if (st.etat < 0) {
        void* child = Get_Child_Start_Letter(r, end + st.etat);
        if (seg_taille(child) > -st.etat)
            splitAtEnd(st, r, child, end);
        else
            linkPending(st, r);
    } else {
        st.attente = nullptr;
        st.etat = -1;
        st.courant = st.pere;
    }
}

// Window of one character: the root with one leaf per letter, each leaf
// holding every position of its letter.  Add_Fast_String makes the leaf of a
// new letter and records a new occurrence of a known one.
void addSingleLetters(Noeud* root, int32_t from) {
    const int32_t length = textLength();
    for (int32_t p = from; p < length; ++p) {
        int32_t etat = 0;
        void* pere = nullptr;
        Add_Fast_String(root, p, p + 1, &etat, &pere);
    }
}

// Leaves whose colour set still has to receive the current sequence, one entry
// per recorded occurrence, in recording order.  Nothing reads a leaf's set while
// a text's present words are walked, so the additions wait and are then made
// together, each set's memory fetched ahead of its turn: the sets are spread
// over much more memory than the cache holds.

// Address of the byte of bt that adding the newest sequence s will touch.
const unsigned char* colourTouchedBy(const unsigned char* bt, int32_t s) {
    if (!isDynamicBitTab(bt)) return bt + (s + 1) / 8;
    const int32_t k = nbSequenceInBitTabDynamic(const_cast<unsigned char*>(bt));
    return bt + 2 * k;
}

// Each addition reads three places, each known only once the one before has arrived: the leaf, the head
// of its set (with the allocator's word just before it), and the byte the new member goes to.  They are
// asked for in three stages, kAhead additions apart.
void addPendingColours() {
    constexpr size_t kAhead = 8;
    std::vector<Feuille*>& leaves = treeState().pendingColourAdds;
    const size_t n = leaves.size();
    for (size_t i = 0; i < n; ++i) {
        if (i + 3 * kAhead < n) __builtin_prefetch(leaves[i + 3 * kAhead]);
        if (i + 2 * kAhead < n) {
            const auto bt = reinterpret_cast<uintptr_t>(leaves[i + 2 * kAhead]->bit_tab);
            __builtin_prefetch(reinterpret_cast<const void*>(bt - sizeof(size_t)));
            __builtin_prefetch(reinterpret_cast<const void*>(bt));
        }
        if (i + kAhead < n)
            __builtin_prefetch(colourTouchedBy(leaves[i + kAhead]->bit_tab, treeState().current_sequence));
        addNewestBitTabValue(&leaves[i]->bit_tab, treeState().current_sequence);
    }
    leaves.clear();
}

// A full-window word of the sequence being added ends exactly at leaf: a new
// occurrence ending at end.  Its colour is added by addPendingColours.
void recordWindowWord(Feuille* leaf, int32_t end) {
    const int32_t len = seg_taille(leaf);
    leaf->debut = (end - len) | MARQUE_FEUILLE;
    const int flag = leaf->num_seq != treeState().current_sequence ? 1 : 0;
    appendLeafEnd(leaf, end, flag);
    leaf->num_seq = treeState().current_sequence;
    treeState().pendingColourAdds.push_back(leaf);
}

// Compares a leaf's label with T[*pos..e) character by character, its first `known` characters (0 or 1,
// with *pos < e) being known to match.
void* matchLeafLabel(Feuille* leaf, int32_t* pos, int32_t e, int32_t* etat, int32_t* r, int32_t known) {
    const char* text = treeState().Sequence[treeState().current_sequence];
    const char* label = treeState().Sequence[leaf->num_seq];
    int32_t k = labelStart(leaf) + known;
    const int32_t end = labelStart(leaf) + seg_taille(leaf);
    int32_t matched = known;
    *pos += known;
    for (; *pos < e && k < end; ++*pos, ++k, ++matched) {
        if (label[k] != text[*pos]) {
            *etat = *pos - e;
            *r = matched;
            return leaf;
        }
    }
    *r = 0;
    *etat = (*pos == e && k == end) ? 1 : (k == end ? 2 : 3);
    return leaf;
}

// Follows a word known to be in the tree, T[s..e) below n, by edge lengths
// alone.  Returns the record whose label ends exactly at e, with its parent in
// *pere, or null when the lengths do not lead to such a record.
void* followPresentWord(void* n, int32_t s, int32_t e, void** pere) {
    for (;;) {
        void* child = Get_Child_Start_Letter(n, s);
        if (child == nullptr) return nullptr;
        *pere = n;
        const int32_t len = seg_taille(child);
        if (s + len == e) return child;
        if (s + len > e || isFeuille(child)) return nullptr;
        n = child;
        s += len;
    }
}

// The leaf of the word T[k..end) that ends with the terminator, or null.
// The word is known to be present; it is found along suffix links by edge
// lengths from where the previous word's parent leads (n, d characters below
// it), so that a text already in the tree costs time linear in its length.
Feuille* finalWordLeaf(Noeud* root, void** n, int32_t* d, int32_t k, int32_t end) {
    void* pere = nullptr;
    void* rec = followPresentWord(*n, end - *d, end, &pere);
    if (rec == nullptr || !isFeuille(rec)) return nullptr;
    const char* text = treeState().Sequence[treeState().current_sequence];
    if (treeState().Sequence[asFeuille(rec)->num_seq][labelStart(rec) + seg_taille(rec) - 1] != text[end - 1])
        return nullptr;
    Noeud* link = pere == root ? nullptr : suffixLinkOf(asNoeud(pere));
    *n = link != nullptr ? link : root;
    *d = link != nullptr ? seg_taille(rec) : end - k - 1;
    return asFeuille(rec);
}

// Every window word of the text was already present: records the shorter
// words of its end, T[k..L) for k > L - W (the word of k = L - W is recorded
// already).
void recordFinalWords(Noeud* root, int32_t length, int32_t window) {
    void* n = root;
    int32_t d = window;
    for (int32_t k = length - window; k < length; ++k) {
        Feuille* leaf = finalWordLeaf(root, &n, &d, k, length);
        if (leaf == nullptr) {
            // Not where the lengths lead: an exact search tells what is there.
            void* pere = nullptr;
            int32_t etat = 0;
            int32_t r = 0;
            void* rec = FindString(root, k, length, &pere, &etat, &r);
            if (etat != 1) {
                endRun(-1, "YOUPI II I I I %d \n", etat);
            }
            n = root;
            d = length - k - 1;
            if (!isFeuille(rec)) continue;
            leaf = asFeuille(rec);
        }
        if (leaf->num_seq != treeState().current_sequence || labelStart(leaf) != length - seg_taille(leaf))
            recordWindowWord(leaf, length);
    }
}

// Window words of a text looked up from the root several at a time.  Along suffix links each word's walk
// starts where the previous one ended, so the walk waits for one cache miss after the other; walks from the
// root are independent, and taking them a step each in turn overlaps their misses.  A root walk spells the
// whole word instead of its last few characters, which pays only for short windows.
constexpr int32_t kLanes = 16;
constexpr int32_t kLaneWindowLimit = 32;

// One window word T[end-W..end) being looked up: the record reached next (its label starts at text position
// pos, its first character known from its slot), then what was found.
struct WordLookup {
    void* next;
    int32_t pos;
    int32_t end;
    void* found;  // the record whose label ends exactly at end; null while looking, or when it is not there
};

void* childInSlot(const void* node, char c) {
    const unsigned char letter = treeState().Translation_Table[static_cast<unsigned char>(c)];
    if (letter >= treeState().ALPHA_CARD) return nullptr;
    return childIn(static_cast<const Noeud*>(node), letter);
}

void fetchRecord(const void* record) {
    __builtin_prefetch(record);
    __builtin_prefetch(childSlotsOf(record));
}

// Follows the edge of look.next.  Returns false when the lookup is over: found, or not there as a whole
// word ending at a record (look.found stays null).
bool followEdge(WordLookup& look, const char* text) {
    void* rec = look.next;
    const int32_t len = seg_taille(rec);
    if (len > look.end - look.pos) return false;
    const char* label = treeState().Sequence[numSeqOf(rec)] + labelStart(rec);
    for (int32_t k = 1; k < len; ++k)
        if (label[k] != text[look.pos + k]) return false;
    look.pos += len;
    if (look.pos == look.end) {
        look.found = rec;
        return false;
    }
    if (isFeuille(rec)) return false;
    look.next = childInSlot(rec, text[look.pos]);
    if (look.next == nullptr) return false;
    fetchRecord(look.next);
    return true;
}

// Looks up the count (at most kLanes) window words ending at from, from + 1, ... and records those found at
// a leaf, in order, up to the first one that is not found whole.  Returns the number of words before that
// one: the walk along suffix links takes over at its end.
int32_t recordPresentWordBatch(Noeud* root, int32_t from, int32_t count, int32_t window) {
    const char* text = treeState().Sequence[treeState().current_sequence];
    WordLookup lanes[kLanes];
    int32_t active = 0;
    for (int32_t l = 0; l < count; ++l) {
        const int32_t end = from + l;
        lanes[l] = {childInSlot(root, text[end - window]), end - window, end, nullptr};
        if (lanes[l].next == nullptr) break;
        fetchRecord(lanes[l].next);
        active = l + 1;
    }
    // Lanes at and after the first miss are of no use: the walk along suffix links takes over there.
    int32_t limit = active;
    for (bool stepping = true; stepping;) {
        stepping = false;
        for (int32_t l = 0; l < limit; ++l) {
            if (lanes[l].next == nullptr) continue;
            if (followEdge(lanes[l], text)) {
                stepping = true;
                continue;
            }
            lanes[l].next = nullptr;
            if (lanes[l].found == nullptr) limit = l;
        }
    }
    for (int32_t l = 0; l < limit; ++l)
        if (isFeuille(lanes[l].found)) recordWindowWord(asFeuille(lanes[l].found), lanes[l].end);
    return limit;
}

// Whether the child in node's slot k is a node.  The node's mask tells without reading the child's
// record, most of which are leaves spread over the whole tree.
bool isNodeChild(const Noeud* node, int32_t k, const void* child) {
    if (treeState().ALPHA_CARD <= kMaskedSlots) return (node->nodeChildren >> k & 1u) != 0;
    return !isFeuille(child);
}

// The colour propagation.  A node's colour set is the union of its children's, in letter order, so the
// children's sets must be final first.  Read through the records, that is a miss for every child's
// record and another for its set, all over the tree.  Instead one breadth-first walk lists, in order, the
// internal nodes and for each its children's kinds and its leaf children's sets; the nodes are then coloured
// from the last to the first.  A node's node children come right after the nodes listed before it, so the
// list entry of a coloured node takes its set, and a node finds its children's sets in the lists, read in
// order.  Only the nodes' own records are then read (by the walk) and written (by the colouring) out of
// order, and they are asked for ahead. One propagation colours several subtrees in turn and keeps its lists'
// memory from one to the next.
class ColourPropagation {
  public:
    // Colours every node of the subtree below root, root included.
    void colour(Noeud* root) {
        nodes_.clear();
        childCounts_.clear();
        childKinds_.clear();
        children_ = 0;
        leafSets_.clear();
        listBreadthFirst(root);
        takeLeafSets();
        colourInReverse();
    }

  private:
    // Where the children of the node being coloured, and of the nodes before it, end in the lists.
    struct ListEnds {
        size_t child;
        size_t node;
        size_t leaf;
    };

    void colourInReverse() {
        constexpr size_t kNodeAhead = 12;
        ListEnds end{children_, nodes_.size(), leafSets_.size()};
        ListEnds fetched = end;
        std::vector<BitTab> sets;
        for (size_t i = nodes_.size(); i-- > 0;) {
            if (i >= kNodeAhead) __builtin_prefetch(&asNoeud(nodes_[i - kNodeAhead])->bit_tab, 1);
            const ListEnds start = childrenStart(i, end);
            fetchSetsAhead(i, start, fetched);
            sets.clear();
            size_t nextNode = start.node;
            size_t nextLeaf = start.leaf;
            for (size_t c = start.child; c < end.child; ++c)
                sets.push_back(childIsNode(c) ? static_cast<BitTab>(nodes_[nextNode++])
                                              : leafSets_[nextLeaf++]);
            Noeud* node = asNoeud(nodes_[i]);
            if (sets.empty()) {
                node->nb_seq = nbSequenceInBitTab(node->bit_tab);
            } else {
                // Written, not read: the walk left every such node the shared empty set.
                BitTab united = SharedEmptyBitTab();
                node->nb_seq = uniteColourSets(&united, sets.data(), static_cast<int32_t>(sets.size()));
                node->bit_tab = united;
            }
            nodes_[i] = node->bit_tab;
            end = start;
        }
    }

    // Where node i's children start in the lists, given where they end.
    ListEnds childrenStart(size_t i, const ListEnds& end) const {
        ListEnds start{end.child - childCounts_[i], end.node, end.leaf};
        for (size_t c = start.child; c < end.child; ++c) start.node -= childIsNode(c);
        start.leaf -= end.child - start.child - (end.node - start.node);
        return start;
    }

    // Asks for the sets of the children of the next nodes to colour, a few entries ahead of each list's
    // start; the node entries after node i are sets already.
    void fetchSetsAhead(size_t i, const ListEnds& start, ListEnds& fetched) const {
        constexpr size_t kSetAhead = 8;
        for (; fetched.node > std::max(start.node, i + 1 + kSetAhead) - kSetAhead;)
            __builtin_prefetch(nodes_[--fetched.node]);
        for (; fetched.leaf > std::max(start.leaf, kSetAhead) - kSetAhead;)
            __builtin_prefetch(leafSets_[--fetched.leaf]);
    }

    // Lists the nodes breadth first.  The list is its own queue, and a level may be wider than any cache, so
    // the records are asked for a few places ahead in the queue.  Leaf children are listed by their records
    // until takeLeafSets.
    void listBreadthFirst(Noeud* root) {
        constexpr size_t kRecordAhead = 8;
        const char* const base = recordBase();
        nodes_.push_back(root);
        for (size_t next = 0; next < nodes_.size(); ++next) {
            if (next + kRecordAhead < nodes_.size()) fetchRecord(nodes_[next + kRecordAhead]);
            Noeud* node = asNoeud(nodes_[next]);
            uint16_t count = 0;
            for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k) {
                void* child = childIn(node, k, base);
                if (child == nullptr) continue;
                ++count;
                const bool isNode = isNodeChild(node, k, child);
                markChild(isNode);
                if (isNode) {
                    nodes_.push_back(child);
                } else {
                    leafSets_.push_back(static_cast<BitTab>(child));
                }
            }
            childCounts_.push_back(count);
            // A set from an earlier colouring is released here, where the record is read anyway, so that
            // the colouring only writes the record.
            if (count > 0 && node->bit_tab != SharedEmptyBitTab()) {
                FreeBitTab(node->bit_tab);
                node->bit_tab = SharedEmptyBitTab();
            }
        }
    }

    // Replaces each listed leaf by its colour set, asking for the leaves' records ahead.
    void takeLeafSets() {
        constexpr size_t kLeafAhead = 16;
        const size_t n = leafSets_.size();
        for (size_t l = 0; l < n; ++l) {
            if (l + kLeafAhead < n) __builtin_prefetch(leafSets_[l + kLeafAhead]);
            leafSets_[l] = reinterpret_cast<const Feuille*>(leafSets_[l])->bit_tab;
        }
    }

    void markChild(bool isNode) {
        if (children_ % 64 == 0) childKinds_.push_back(0);
        if (isNode) childKinds_.back() |= uint64_t{1} << (children_ % 64);
        ++children_;
    }
    bool childIsNode(size_t c) const { return (childKinds_[c / 64] >> (c % 64) & 1u) != 0; }

    std::vector<void*> nodes_;           // breadth first: a node until it is coloured, then its colour set
    std::vector<uint16_t> childCounts_;  // each node's number of children
    std::vector<uint64_t> childKinds_;   // each child's bit, in the order of the list: set for a node
    size_t children_ = 0;
    std::vector<BitTab> leafSets_;  // each leaf child's colour set, in the order of the list
};

// Words of the text whose paths the scout walks ahead of a phase: those that start this many positions
// after the next suffix to extend.
constexpr int32_t kScoutLead = 24;

// Walks, a few phases ahead of the growing and the sliding phases, the paths from the root of the words they
// are about to extend, only asking for their records and label texts.  An extension starts below a suffix
// link and waits for one record after the other; the scout's walks are independent of each other and of the
// tree's changes, so they are taken a step each in turn and their misses overlap.  What they read guides
// nothing: a walk that a split has led astray only fetches records for nothing.
class PathScout {
  public:
    PathScout(Noeud* root, int32_t window, int32_t firstStart)
        : root_(root),
          window_(window),
          text_(treeState().Sequence[treeState().current_sequence]),
          length_(textLength()),
          nextStart_(firstStart) {}

    // Starts the walks of the words up to kScoutLead positions after nextSuffix, the next suffix to extend,
    // then moves every walk one edge down.
    void advance(int32_t nextSuffix) {
        for (; nextStart_ < nextSuffix + kScoutLead && nextStart_ < length_; ++nextStart_) launch(nextStart_);
        for (int32_t l = 0; l < active_;) {
            if (step(lanes_[l]))
                ++l;
            else
                lanes_[l] = lanes_[--active_];
        }
    }

  private:
    struct Lane {
        const void* record;
        int32_t pos;  // text position where the record's label starts
        int32_t end;
    };
    static constexpr int32_t kLanes = 24;

    void launch(int32_t start) {
        if (active_ == kLanes) return;
        const void* child = childInSlot(root_, text_[start]);
        if (child == nullptr) return;
        fetchRecord(child);
        lanes_[active_++] = {child, start, start + std::min(window_, length_ - start)};
    }

    // One edge down by its length alone; false when the walk is over.
    bool step(Lane& lane) const {
        // The extension whose word ends on this edge compares a character of its label.
        __builtin_prefetch(treeState().Sequence[numSeqOf(lane.record)] + labelStart(lane.record));
        if (isFeuille(lane.record)) return false;
        const int32_t len = seg_taille(lane.record);
        if (len <= 0) return false;
        lane.pos += len;
        if (lane.pos >= lane.end) return false;
        const void* child = childInSlot(lane.record, text_[lane.pos]);
        if (child == nullptr) return false;
        fetchRecord(child);
        lane.record = child;
        return true;
    }

    Noeud* root_;
    int32_t window_;
    const char* text_;
    int32_t length_;
    int32_t nextStart_;
    Lane lanes_[kLanes] = {};
    int32_t active_ = 0;
};

}  // namespace

void Premiere_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                    void** Fin_liste_pere, int32_t* nb_element_liste, int32_t i) {
    const Working w{Arbre, taille_fenetre, Debut_liste, Fin_liste, Fin_liste_pere, nb_element_liste};
    PathScout scout(Arbre, taille_fenetre, *nb_element_liste);
    for (; i < taille_fenetre; ++i) {
        scout.advance(*nb_element_liste);
        Step st;
        st.courant = *Fin_liste_pere;
        treeState().global_indice = i;
        st.etat = -seg_taille(listedRecord(*Fin_liste));
        for (int32_t j = *nb_element_liste; j < i; ++j)
            if (extend(w, st, j, i, false) == Extension::Present) break;
    }
}

int Deuxieme_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                   void** Fin_liste_pere, int32_t* nb_element_liste, int32_t i, int deja_present,
                   int32_t etat) {
    const Working w{Arbre, taille_fenetre, Debut_liste, Fin_liste, Fin_liste_pere, nb_element_liste};
    const int32_t length = textLength();
    Step st;
    st.etat = etat;
    PathScout scout(Arbre, taille_fenetre, *nb_element_liste);
    for (; i < length; ++i) {
        scout.advance(*nb_element_liste);
        st.attente = nullptr;
        st.courant = *Fin_liste_pere;
        treeState().global_indice = i;
        st.etat = -(st.etat > 0 ? st.etat : seg_taille(listedRecord(*Fin_liste)));
        if (deja_present == 0) {
            // The oldest open leaf now spells a full window.
            closeLeaf(listedRecord(*Debut_liste), i);
            st.etat = -seg_taille(listedRecord(*Fin_liste));
        } else {
            recordCarriedWord(st, i);
        }
        deja_present = 0;
        bool carried = false;
        for (int32_t j = *nb_element_liste; j < i; ++j) {
            if (extend(w, st, j, i, true) != Extension::Present) continue;
            if (*nb_element_liste == i - w.fenetre + 1) {
                carryPresentWord(w, st, i);
                deja_present = 1;
                carried = true;
            }
            break;
        }
        if (!carried) dropHead(w);
    }
    return deja_present;
}

void Troisieme_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                     void** Fin_liste_pere, int32_t* nb_element_liste, int deja_present) {
    const Working w{Arbre, taille_fenetre, Debut_liste, Fin_liste, Fin_liste_pere, nb_element_liste};
    const int32_t length = textLength();
    treeState().global_indice = length;
    Step st;
    st.courant = *Fin_liste_pere;
    void* last = listedRecord(*Fin_liste);
    auto lastOffset = [last] { return isFeuille(last) ? -seg_taille(last) : -1; };
    st.etat = lastOffset();
    if (deja_present == 1) {
        recordCarriedWord(st, length);
        // The list held only the record that ended the carried word.
        Free_Liste(*Debut_liste);
        *Debut_liste = *Fin_liste = nullptr;
    } else {
        closeAllOpenLeaves(w, length);
        st.etat = lastOffset();
    }
    for (int32_t j = *nb_element_liste; j < length; ++j) insertFinalSuffix(w, st, j, length);
}

Noeud* Construction_Arbre(char* text, int32_t taille_fenetre) {
    if (!validText(text)) abortConstruction("Construction_Arbre : Invalide String\nProgram Abord\n");
    if (taille_fenetre <= 0) abortConstruction("Construction_Arbre: taille fenetre = 0!\n");
    Liste* cell = Alloc_Liste();
    Noeud* root = Alloc_Noeud();
    Feuille* leaf = Alloc_Feuille();
    treeState().Sequence[0] = text;
    const auto length = static_cast<int32_t>(strlen(text));
    // One cell per occurrence, about 20 per character of the first text;
    // clamped so that the capacity stays a valid int32.
    const int64_t capacity = std::min<int64_t>(20 * static_cast<int64_t>(length), INT32_MAX);
    treeState().Liste_positions_fin = Alloc_ListePositions(static_cast<int32_t>(capacity));

    appendLeafEnd(leaf, -1, 0);
    cell->feuille = leaf;
    Liste* debut = cell;
    Liste* fin = cell;
    void* finPere = root;
    int32_t nb = 1;
    Ajoute_Fils_Au_Noeud(root, leaf);
    const int32_t window = std::min(taille_fenetre, length);
    if (window == 1) {
        // No phase is needed (the sliding phase would empty its active list);
        // suffix 0 already has its leaf.
        closeLeaf(leaf, 1);
        Free_Liste(cell);
        treeState().global_indice = length;
        addSingleLetters(root, 1);
        return root;
    }
    Premiere_Phase(root, window, &debut, &fin, &finPere, &nb, 2);
    const int deja = Deuxieme_Phase(root, window, &debut, &fin, &finPere, &nb, window, 0, 0);
    Troisieme_Phase(root, window, &debut, &fin, &finPere, &nb, deja);
    return root;
}

namespace {

// Spells T[s..e) below n (see FindString).  With kSlotsTrusted, a child reached through the slot of
// text[pos] is taken to start with that character, which is then not read again from the label's text:
// that read is a cache miss at every step of the walk over the window words.  Without it every character
// is compared, so that a label that disagrees with its slot is seen.
template <bool kSlotsTrusted>
void* spellBelow(void* n, int32_t s, int32_t e, void** pere, int32_t* etat, int32_t* r) {
    const char* text = treeState().Sequence[treeState().current_sequence];
    int32_t pos = s;
    for (;;) {
        if (n != nullptr && isFeuille(n)) return matchLeafLabel(asFeuille(n), &pos, e, etat, r, 0);
        if (n != nullptr && pos >= e) {
            *etat = 1;
            *r = 0;
            return n;
        }
        void* child = Get_Child_Start_Letter(n, pos);
        if (child == nullptr) {
            *etat = pos - e;
            *r = -1;
            return n;
        }
        *pere = n;
        constexpr int32_t known = kSlotsTrusted ? 1 : 0;
        if (isFeuille(child)) return matchLeafLabel(asFeuille(child), &pos, e, etat, r, known);
        const Noeud* node = asNoeud(child);
        const char* label = treeState().Sequence[node->num_seq];
        const int32_t end = node->debut + seg_taille(node);
        int32_t k = node->debut + known;
        for (pos += known; pos < e && k < end; ++pos, ++k) {
            if (label[k] != text[pos]) {
                *etat = pos - e;
                *r = k - node->debut;
                return child;
            }
        }
        if (k == end && pos == e) {
            *etat = 1;
            *r = 0;
            return child;
        }
        if (pos == e) {
            *etat = 3;
            *r = 0;
            return child;
        }
        n = child;
    }
}

}  // namespace

void* FindString(void* n, int32_t s, int32_t e, void** pere, int32_t* etat, int32_t* r) {
    return spellBelow<false>(n, s, e, pere, etat, r);
}

Noeud* CaseTreeAddSequence(Noeud* root, void* n, int32_t a, int32_t e, int32_t taille_fenetre) {
    Liste* debut = Alloc_Liste();
    Liste* fin = nullptr;
    void* finPere = nullptr;
    int32_t nb = 0;
    Step st;
    st.etat = a - e;
    treeState().global_indice = e;
    int32_t j = std::max(0, e - taille_fenetre);
    // Finish phase e: the suffixes from the first full-window word on get their
    // leaves until one is found already present.
    while (j < e) {
        st.pere = nullptr;
        void* r = Add_Fast_String(n, e + st.etat, e, &st.etat, &st.pere);
        n = r;
        if (st.etat < 0) {
            if (st.attente != nullptr) setSuffixLink(st.attente, asNoeud(r));
            break;
        }
        Noeud* parent = asNoeud(st.pere);
        const bool inserted = st.etat == 1 || st.etat == 3;
        if (inserted) {
            openLeaf(r);
            Liste* cell = debut;
            if (fin != nullptr) {
                cell = Alloc_Liste();
                fin->suivant = cell;
            }
            cell->feuille = r;
            fin = cell;
            ++nb;
            finPere = parent;
            linkPending(st, parent);
        } else {
            st.attente = nullptr;
        }
        ++j;
        if (st.etat == 3) {
            st.attente = parent;
            Noeud* held = suffixLinkOf(parent);
            parent->lien_suffixe = kNoRecord;
            if (held == root) {
                n = root;
                st.etat = -seg_taille(parent);
            } else {
                n = suffixLinkOf(held);
                st.etat = -seg_taille(parent) - 1;
            }
        } else if (parent == root) {
            n = root;
            st.etat = 0;
        } else {
            n = parent != nullptr ? suffixLinkOf(parent) : nullptr;
            st.etat = -1;
        }
        // Without a suffix link the next suffix is spelled from the root.
        if (n == nullptr) {
            n = root;
            st.etat = j - e;
        }
    }
    if (fin == nullptr) reportInconsistentTree("CAS 0", e - taille_fenetre, e);

    int deja = 0;
    if (e > taille_fenetre) {
        closeLeaf(listedRecord(debut), e);  // that word is complete
        if (nb == 1) {
            deja = 1;
        } else {
            --nb;
            Liste* closed = debut;
            debut = debut->suivant;
            Free_Liste(closed);
        }
        nb = (deja == 0 ? 1 : 0) + (e - taille_fenetre) + nb;
        deja = Deuxieme_Phase(root, taille_fenetre, &debut, &fin, &finPere, &nb, e + (deja == 0 ? 1 : 0),
                              deja, 0);
    } else {
        Premiere_Phase(root, taille_fenetre, &debut, &fin, &finPere, &nb, e + 1);
        deja = Deuxieme_Phase(root, taille_fenetre, &debut, &fin, &finPere, &nb, taille_fenetre, 0, 0);
    }
    Troisieme_Phase(root, taille_fenetre, &debut, &fin, &finPere, &nb, deja);
    return root;
}

Noeud* AjouteSequence(Noeud* root, char* text, int32_t taille_fenetre) {
    if (!validText(text)) abortConstruction("AjouteSequence : Invalide String\nProgram Abord\n");
    if (taille_fenetre <= 0) abortConstruction("AjouteSequence: taille fenetre = 0!\n");
    if (treeState().current_sequence + 1 >= colourSetStore().NB_SEQUENCE)
        abortConstruction("AjouteSequence : too many sequences\nProgram Abord\n");
    ++treeState().current_sequence;
    treeState().Sequence[treeState().current_sequence] = text;
    const int32_t length = textLength();
    const int32_t window = std::min(taille_fenetre, length);
    if (window == 1) {
        addSingleLetters(root, 0);
        return root;
    }

    // Walk the window words T[i-W..i) while they are all in the tree: short words in batches from the root,
    // then (from the first that is not found whole) one after the other, only the last d characters of
    // each searched below the previous word's link.
    int32_t i = window;
    while (window <= kLaneWindowLimit && i <= length) {
        const int32_t batch = std::min(kLanes, length - i + 1);
        const int32_t found = recordPresentWordBatch(root, i, batch, window);
        i += found;
        if (found < batch) break;
    }
    int32_t d = window;
    void* n = root;
    while (i <= length) {
        void* pere = nullptr;
        int32_t etat = 0;
        int32_t r = 0;
        void* rec = spellBelow<true>(n, i - d, i, &pere, &etat, &r);
        n = rec;
        if (r == -1) {
            addPendingColours();
            return CaseTreeAddSequence(root, rec, i + etat, i + etat + 1, window);
        }
        if (etat == 1) {
            if (isFeuille(rec)) recordWindowWord(asFeuille(rec), i);
            d = seg_taille(rec) + 1;
            ++i;
            n = pere == root ? nullptr : suffixLinkOf(asNoeud(pere));
            if (n == nullptr) {
                d = window;
                n = root;
            }
        } else if (etat == 2) {
            reportInconsistentTree("CAS 2", i - d, i);
        } else if (etat == 3) {
            // Searching again from a leaf would find the same thing forever.
            if (isFeuille(rec)) reportInconsistentTree("CAS 3", i - d, i);
        } else {
            addPendingColours();
            return CaseTreeAddSequence(root, pere, i + etat - r, i + etat + 1, window);
        }
    }

    recordFinalWords(root, length, window);
    addPendingColours();
    return root;
}

namespace {

// Node's colour set from its children's records: for the few nodes above the subtrees coloured apart.
void uniteChildColours(Noeud* node) {
    std::vector<BitTab> sets;
    for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k)
        if (void* child = childIn(node, k); child != nullptr) sets.push_back(colourSet(child));
    node->nb_seq = sets.empty()
                       ? nbSequenceInBitTab(node->bit_tab)
                       : uniteColourSets(&node->bit_tab, sets.data(), static_cast<int32_t>(sets.size()));
}

// Calls f on each child of node that is a node, in letter order.
template <typename F>
void forEachNodeChild(Noeud* node, F f) {
    for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k)
        if (void* child = childIn(node, k); child != nullptr && isNodeChild(node, k, child))
            f(asNoeud(child));
}

// The subtrees `levels` node levels below node, which are coloured apart (their lists then take a fraction
// of the memory they would for the whole tree, memory that every subtree uses again), in tree order.
void subtreesBelow(Noeud* node, int32_t levels, std::vector<Noeud*>& subtrees) {
    if (levels == 0) {
        subtrees.push_back(node);
        return;
    }
    forEachNodeChild(node, [&](Noeud* child) { subtreesBelow(child, levels - 1, subtrees); });
}

// Colours the nodes above the subtrees `levels` node levels below node, once those are coloured.
void colourAbove(Noeud* node, int32_t levels) {
    if (levels == 0) return;
    forEachNodeChild(node, [&](Noeud* child) { colourAbove(child, levels - 1); });
    uniteChildColours(node);
}

// Colours the subtrees with `threads` threads (the calling one among them), each taking the next subtree
// left.  A subtree's nodes are written by its thread alone, and each thread carves its sets from its own
// pool; the first failure of any thread is the run's, once all are done.
void colourSubtrees(const std::vector<Noeud*>& subtrees, int threads) {
    if (threads <= 1 || subtrees.size() <= 1) {
        ColourPropagation propagation;
        for (Noeud* subtree : subtrees) propagation.colour(subtree);
        return;
    }
    threads = std::min(threads, static_cast<int>(subtrees.size()));
    FinalSetPools pools(threads);
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failures(static_cast<size_t>(threads));
    auto work = [&](int t) {
        try {
            pools.use(t);
            ColourPropagation propagation;
            for (size_t i = next++; i < subtrees.size(); i = next++) propagation.colour(subtrees[i]);
        } catch (...) {
            failures[static_cast<size_t>(t)] = std::current_exception();
            next = subtrees.size();
        }
        pools.use(-1);
    };
    // The helpers work on the calling thread's tree and colour sets.
    TreeState* const tree = treeInUse;
    ColourSetStore* const colourSets = colourSetsInUse;
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back([&, t] {
            treeInUse = tree;
            colourSetsInUse = colourSets;
            work(t);
        });
    work(0);
    for (std::thread& h : helpers) h.join();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
}

// Where the colouring splits the tree: the subtrees `levels` node levels below the root.  Two levels on one
// thread (on DNA some twenty subtrees), more on several, until there are some eight subtrees per thread to
// share out.
struct ColouringSplit {
    int32_t levels;
    std::vector<Noeud*> subtrees;
};

ColouringSplit colouringSplit(Noeud* root, int threads) {
    constexpr int32_t kSingleThreadLevels = 2;
    constexpr int32_t kMostLevels = 6;
    constexpr size_t kSubtreesPerThread = 8;
    ColouringSplit split{kSingleThreadLevels, {}};
    for (;; ++split.levels) {
        split.subtrees.clear();
        subtreesBelow(root, split.levels, split.subtrees);
        if (threads <= 1 || split.levels == kMostLevels ||
            split.subtrees.size() >= kSubtreesPerThread * static_cast<size_t>(threads))
            return split;
    }
}

}  // namespace

void UpdateBit_TabForAllTree(void* x, int threads) {
    if (x == nullptr || isFeuille(x)) return;
    try {
        const ColouringSplit split = colouringSplit(asNoeud(x), threads);
        colourSubtrees(split.subtrees, threads);
        colourAbove(asNoeud(x), split.levels);
    } catch (const std::bad_alloc&) {
        treeOutOfMemory();
    }
}
