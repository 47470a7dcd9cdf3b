#include "liste_pos.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "allocateurs.h"
#include "criteres.h"
#include "memory_batches.h"
#include "strands.h"

// The two arrays of a large list, each in addresses reserved for the most cells an index reaches: the list
// grows in place, without the copy of a reallocation, on huge pages (with small pages a table of hundreds of
// megabytes takes a fault every 4 KB it grows).  While a supplier is in use (a run on several threads), the
// supplier's thread makes the pages resident a little ahead of the appends.
struct CellRanges {
    void* mappings[2] = {};     // as reserved, each array's start rounded up to a huge page
    int32_t* arrays[2] = {};    // valeurs, suivants
    size_t committedBytes = 0;  // writable from each array's start
    size_t residentCells = 0;   // cells of each array the supplier was asked to make resident
};

namespace {

// The list grows by half its size (at least 50 cells), so that filling it costs
// time linear in its length; the growth is capped at what an int32 index reaches.
int32_t grownCapacity(int32_t taille) {
    const int64_t grown = static_cast<int64_t>(taille) + std::max<int64_t>(50, taille / 2);
    return static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX));
}

constexpr size_t kCellBytes = sizeof(int32_t);
// Bytes of one array of the most cells an index reaches, in whole huge pages.
constexpr size_t kRangeBytes =
    (static_cast<size_t>(INT32_MAX) * kCellBytes + kHugeBatch - 1) / kHugeBatch * kHugeBatch;
constexpr size_t kCellsPerHugePage = kHugeBatch / kCellBytes;
// Cells made resident ahead of the next append while a supplier is in use.
constexpr size_t kResidentAheadCells = 2 * kCellsPerHugePage;
constexpr int32_t kNoResidentMark = INT32_MAX;

size_t roundUp(size_t n, size_t unit) {
    return (n + unit - 1) / unit * unit;
}

// Whether a list of n cells is large enough for ranges of its own.
bool wantsRanges(int32_t n) {
    return static_cast<size_t>(n) * kCellBytes >= kHugeFrom;
}

void unmapRanges(CellRanges* r) {
    for (void* m : r->mappings)
        if (m != nullptr) releaseAlignedRange(m, kRangeBytes);
    delete r;
}

// Makes the first `cells` cells of both arrays writable; false when the system refuses.
bool commitCells(CellRanges& r, int32_t cells) {
    const size_t bytes = roundUp(static_cast<size_t>(cells) * kCellBytes, kHugeBatch);
    if (bytes <= r.committedBytes) return true;
    for (int32_t* array : r.arrays) {
        char* at = reinterpret_cast<char*>(array) + r.committedBytes;
        if (mprotect(at, bytes - r.committedBytes, PROT_READ | PROT_WRITE) != 0) return false;
        madvise(at, bytes - r.committedBytes, MADV_HUGEPAGE);  // advice only: refused, pages stay small
    }
    r.committedBytes = bytes;
    return true;
}

// Ranges with room for `cells` writable cells, or null where the system refuses the addresses or the memory.
CellRanges* reserveRanges(int32_t cells) {
    auto* r = new (std::nothrow) CellRanges;
    if (r == nullptr) return nullptr;
    for (int k = 0; k < 2; ++k) {
        char* start = reserveAlignedRange(kRangeBytes, &r->mappings[k]);
        if (start == nullptr) {
            unmapRanges(r);
            return nullptr;
        }
        r->arrays[k] = reinterpret_cast<int32_t*>(start);
    }
    if (!commitCells(*r, cells)) {
        unmapRanges(r);
        return nullptr;
    }
    return r;
}

int32_t* allocCells(int32_t n) {
    auto* cells = static_cast<int32_t*>(calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(int32_t)));
    if (cells == nullptr) treeOutOfMemory();
    return cells;
}

int32_t* growCells(int32_t* cells, int32_t n) {
    auto* grown = static_cast<int32_t*>(realloc(cells, static_cast<size_t>(n) * sizeof(int32_t)));
    if (grown == nullptr) treeOutOfMemory();
    return grown;
}

bool validCell(const ListePositions* l, int32_t i) {
    return i >= 0 && i < l->nb_elements;
}

// Walks the members of a colour set from the highest sequence of a leaf's
// chain down to the lowest, in step with the chain's sequence groups.
class DynamicSequenceCursor {
  public:
    explicit DynamicSequenceCursor(BitTab bt) : bt_(bt), index_(nbSequenceInBitTabDynamic(bt) - 1) {}

    // Sequence of the current group; -1 once the set is exhausted (a chain
    // with more groups than the set has members).
    int32_t current() const {
        if (index_ < 0) return -1;
        uint16_t v;
        memcpy(&v, bt_ + 2 + 2 * index_, sizeof v);
        return v;
    }
    void previous() {
        if (index_ >= 0) --index_;
    }

  private:
    const unsigned char* bt_;
    int32_t index_;
};

class StaticSequenceCursor {
  public:
    explicit StaticSequenceCursor(const unsigned char* bt)
        : bt_(bt), bit_(8 * colourSetStore().SIZE_STATIC_BIT_TAB) {
        previous();
    }

    int32_t current() const { return bit_ >= 1 ? bit_ - 1 : -1; }
    // Next lower set bit; bit 0 is the form flag, never a member.
    void previous() {
        do {
            --bit_;
        } while (bit_ >= 1 && (bt_[bit_ / 8] & (0x80 >> (bit_ % 8))) == 0);
    }

  private:
    const unsigned char* bt_;
    int32_t bit_;
};

constexpr size_t kMaxSuffix = 1 + 12 * 127 + 1;  // nbbloc is a signed char

// The parts of an occurrence line are short: each is copied by a fixed number of bytes (its buffer and
// the line's have room for them), then the line's end moves by its length.  A copy of variable length is
// a library call, and there are three per line.
constexpr size_t kShortPart = 32;

// The spacer columns of a multi-box run are the same on every line of a
// chain, so they are formatted once: "\t" then "%d " per spacer, then "\n".
// Returns the length written into out, which holds kMaxSuffix + kShortPart bytes; its first kShortPart
// bytes are all set, so that appendPart may copy them whole.
size_t formatLineEnd(char* out, const Criteres* cr, int32_t r) {
    memset(out, 0, kShortPart);
    char* p = out;
    if (cr != nullptr && cr->nbbloc != 1) {
        *p++ = '\t';
        for (int32_t j = 0; j < cr->nbbloc - 1; ++j) {
            p = appendDecimal(p, spacerCodes().code2Sauts[r][j]);
            *p++ = ' ';
        }
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

// Both strands: the line end of each strand, its spacer columns followed by "\t+" or "\t-".
struct StrandLineEnds {
    char text[2][kMaxSuffix + 2 + kShortPart];
    size_t length[2];

    StrandLineEnds(const Criteres* cr, int32_t r) {
        for (int strand = 0; strand < 2; ++strand) {
            char* p = text[strand];
            p += formatLineEnd(p, cr, r) - 1;  // over its line feed
            *p++ = '\t';
            *p++ = strand == 0 ? '+' : '-';
            *p++ = '\n';
            length[strand] = static_cast<size_t>(p - text[strand]);
        }
    }
};

char* appendPart(char* out, const char* part, size_t length) {
    if (length <= kShortPart)
        memcpy(out, part, kShortPart);
    else
        memcpy(out, part, length);
    return out + length;
}

// "Seq %5d   Pos " for sequence number v: the part of an occurrence line that changes only where the
// chain crosses into another sequence.  Returns its length; out holds 2 * kShortPart bytes.
size_t formatSequencePrefix(char* out, int32_t v) {
    memcpy(out, "Seq ", 4);
    char* p = appendDecimalWidth(out + 4, v, 5);
    memcpy(p, "   Pos ", 7);
    return static_cast<size_t>(p + 7 - out);
}

// Occurrence lines of one chain gathered before they reach the stream: output-heavy runs write tens of
// millions of them, and one stream call per line cost more than building it.
class ChainLines {
  public:
    explicit ChainLines(FILE* flot) : flot_(flot) {}
    ChainLines(const ChainLines&) = delete;
    ChainLines& operator=(const ChainLines&) = delete;
    ~ChainLines() { flush(); }

    // Room for one more line of at most kMaxLine bytes, flushing what is gathered when needed.
    char* line() {
        if (static_cast<size_t>(text_ + sizeof text_ - end_) < kMaxLine) flush();
        return end_;
    }
    void wrote(char* lineEnd) { end_ = lineEnd; }

  private:
    static constexpr size_t kMaxLine = 64 + kMaxSuffix + 2 + kShortPart;
    void flush() {
        if (end_ != text_) fwrite_unlocked(text_, 1, static_cast<size_t>(end_ - text_), flot_);
        end_ = text_;
    }

    FILE* flot_;
    char text_[16384];
    char* end_ = text_;
};

// Writes the lines of a leaf's chain.  With Strands, the texts are strand pairs: each line names the
// sequence of its text, the start of the occurrence (of span characters) in the sequence as written and
// its strand.
template <typename Cursor, bool Strands>
int32_t printChain(FILE* flot, const Feuille* leaf, int32_t d, const Criteres* cr, int32_t r, int32_t span) {
    const ListePositions* l = treeState().Liste_positions_fin;
    int32_t c = leaf->dernier_indice;
    // An empty chain is -1 in the leaf; FIN_CHAINE is accepted as well.
    if (c == FIN_CHAINE || !validCell(l, c)) return 0;
    const int32_t distance = l->valeurs[c] - labelStart(leaf) + d;
    Cursor seq(leaf->bit_tab);
    char end[kMaxSuffix + kShortPart];
    const size_t endLength = Strands ? 0 : formatLineEnd(end, cr, r);
    std::optional<StrandLineEnds> strandEnds;
    if constexpr (Strands) strandEnds.emplace(cr, r);
    ChainLines out(flot);
    char prefix[2 * kShortPart] = {};
    size_t prefixLength = 0;
    bool newSequence = true;
    int32_t lines = 0;
    for (;;) {
        const int32_t t = seq.current();
        if (newSequence) prefixLength = formatSequencePrefix(prefix, Strands ? sequenceOfText(t) : t);
        newSequence = false;
        char* p = appendPart(out.line(), prefix, prefixLength);
        const int32_t start = l->valeurs[c] - distance;
        if constexpr (Strands) {
            const int strand = isReverseText(t) ? 1 : 0;
            p = appendDecimalWidth(p, t < 0 ? start : positionInSequence(t, start, span), 5);
            p = appendPart(p, strandEnds->text[strand], strandEnds->length[strand]);
        } else {
            p = appendDecimalWidth(p, start, 5);
            p = appendPart(p, end, endLength);
        }
        out.wrote(p);
        ++lines;
        const int32_t link = l->suivants[c];
        if ((link & MARQUE_CHANGE_SEQ) != 0) {
            seq.previous();
            newSequence = true;
        }
        c = link & ~MARQUE_CHANGE_SEQ;
        if (c == FIN_CHAINE || !validCell(l, c)) return lines;
    }
}

template <typename Cursor>
int32_t printLeaf(FILE* flot, const Feuille* leaf, int32_t d, const Criteres* cr, int32_t r, int32_t span) {
    return strandState().strandPairs ? printChain<Cursor, true>(flot, leaf, d, cr, r, span)
                                     : printChain<Cursor, false>(flot, leaf, d, cr, r, span);
}

}  // namespace

char* appendDecimal(char* out, int32_t v) {
    // The magnitude is taken unsigned so that INT32_MIN needs no special case.
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) *out++ = '-';
    while (n > 0) *out++ = digits[--n];
    return out;
}

char* appendDecimalWidth(char* out, int32_t v, int width) {
    // Sequence numbers and positions nearly always fit five columns: written right to left in place.
    if (width == 5 && static_cast<uint32_t>(v) < 100000u) {
        uint32_t u = static_cast<uint32_t>(v);
        out[4] = static_cast<char>('0' + u % 10);
        for (int i = 3; i >= 0; --i) {
            u /= 10;
            out[i] = u != 0 ? static_cast<char>('0' + u % 10) : ' ';
        }
        return out + 5;
    }
    char text[11];
    const int n = static_cast<int>(appendDecimal(text, v) - text);
    for (int i = n; i < width; ++i) *out++ = ' ';
    memcpy(out, text, static_cast<size_t>(n));
    return out + n;
}

namespace {

void useRanges(ListePositions* l, CellRanges* r) {
    l->ranges = r;
    l->valeurs = r->arrays[0];
    l->suivants = r->arrays[1];
    l->residentMark = l->nb_elements;  // the next append asks for the pages ahead
}

// Moves a list's heap arrays into ranges of their own with room for `cells` cells; false, the list
// unchanged, when the system refuses.
bool moveToRanges(ListePositions* l, int32_t cells) {
    CellRanges* r = reserveRanges(cells);
    if (r == nullptr) return false;
    const size_t bytes = static_cast<size_t>(l->taille) * kCellBytes;
    memcpy(r->arrays[0], l->valeurs, bytes);
    memcpy(r->arrays[1], l->suivants, bytes);
    free(l->valeurs);
    free(l->suivants);
    useRanges(l, r);
    return true;
}

[[gnu::noinline]] void growList(ListePositions* l) {
    const int32_t taille = grownCapacity(l->taille);
    if (taille <= l->taille) treeOutOfMemory();  // no int32 index is left
    if (l->ranges != nullptr) {
        if (!commitCells(*l->ranges, taille)) treeOutOfMemory();
        l->residentMark = l->nb_elements;
    } else if (!wantsRanges(taille) || !moveToRanges(l, taille)) {
        l->valeurs = growCells(l->valeurs, taille);
        l->suivants = growCells(l->suivants, taille);
    }
    l->taille = taille;
}

// Asks the supplier in use, if any, to make resident the pages of both arrays up to kResidentAheadCells
// past the next cell, in whole huge pages, and sets the cell at which to ask again: halfway through those,
// or once the list has grown.
[[gnu::noinline]] void askResidentAhead(ListePositions* l) {
    CellRanges& r = *l->ranges;
    if (batchSupplierInUse == nullptr) {
        l->residentMark = kNoResidentMark;
        return;
    }
    const size_t next = static_cast<size_t>(l->nb_elements);
    const size_t committedCells = r.committedBytes / kCellBytes;
    r.residentCells = std::max(r.residentCells, next / kCellsPerHugePage * kCellsPerHugePage);
    const size_t wanted = std::min(committedCells, roundUp(next + kResidentAheadCells, kCellsPerHugePage));
    if (wanted > r.residentCells) {
        for (int32_t* array : r.arrays)
            batchSupplierInUse->populate(array + r.residentCells, (wanted - r.residentCells) * kCellBytes);
        r.residentCells = wanted;
    }
    const size_t mark =
        r.residentCells < committedCells ? r.residentCells - kResidentAheadCells / 2 : committedCells;
    l->residentMark = static_cast<int32_t>(std::clamp<size_t>(mark, next + 1, kNoResidentMark));
}

}  // namespace

ListePositions* Alloc_ListePositions(int32_t n) {
    auto* l = static_cast<ListePositions*>(malloc(sizeof(ListePositions)));
    if (l == nullptr) treeOutOfMemory();
    l->nb_elements = 0;
    l->taille = n;
    l->residentMark = kNoResidentMark;
    l->ranges = nullptr;
    if (CellRanges* r = wantsRanges(n) ? reserveRanges(n) : nullptr; r != nullptr) {
        useRanges(l, r);
        return l;
    }
    l->valeurs = allocCells(n);
    l->suivants = allocCells(n);
    return l;
}

int32_t Ajoute_Position_Liste(ListePositions* l, int32_t* head, int32_t v, int flag) {
    if (l == nullptr) return -2;
    if (l->nb_elements >= l->taille) growList(l);
    if (l->nb_elements >= l->residentMark) askResidentAhead(l);
    const int32_t n = l->nb_elements;
    l->valeurs[n] = v;
    l->suivants[n] = FIN_CHAINE;
    if (*head != -1) l->suivants[n] = flag != 0 ? (*head | MARQUE_CHANGE_SEQ) : *head;
    *head = n;
    l->nb_elements = n + 1;
    return 1;
}

void setListeValue(ListePositions* l, int32_t i, int32_t v) {
    if (l == nullptr || !validCell(l, i)) return;
    l->valeurs[i] = v;
}

int32_t getIndiceSuivant(const ListePositions* l, int32_t i) {
    if (l == nullptr) return -2;
    if (!validCell(l, i)) return -3;
    return l->suivants[i];
}

int32_t ChercheDerniereCelluleDansListe(const ListePositions* l, int32_t i) {
    if (l == nullptr) return -1;
    // A cell outside the list has no chain to follow.
    if (!validCell(l, i)) return -3;
    for (;;) {
        const int32_t next = l->suivants[i] & ~MARQUE_CHANGE_SEQ;
        if (next == FIN_CHAINE || !validCell(l, next)) return i;
        i = next;
    }
}

void Free_ListePositions(ListePositions* l) {
    if (l == nullptr) return;
    if (l->ranges != nullptr) {
        unmapRanges(l->ranges);
    } else {
        free(l->valeurs);
        free(l->suivants);
    }
    free(l);
}

int32_t Print_Positions(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r, int32_t span) {
    return isDynamicBitTab(leaf->bit_tab) ? Print_Positions_Dynamique(flot, leaf, d, cr, r, span)
                                          : Print_Positions_Statique(flot, leaf, d, cr, r, span);
}

int32_t Print_Positions_Dynamique(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r,
                                  int32_t span) {
    return printLeaf<DynamicSequenceCursor>(flot, leaf, d, cr, r, span);
}

int32_t Print_Positions_Statique(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r,
                                 int32_t span) {
    return printLeaf<StaticSequenceCursor>(flot, leaf, d, cr, r, span);
}
