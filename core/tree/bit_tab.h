#pragma once
#include <cstdint>
#include <memory>

// Colour set: a set of sequence numbers in one heap byte string, either a
// short list (dynamic form, top bit of byte 0 set, 15-bit big-endian count
// then native uint16 members) or a bit array of SIZE_STATIC_BIT_TAB bytes
// (static form, bit s+1 for sequence s).  The layout is read directly by the
// position printers and the spelling engines.
typedef unsigned char* BitTab;

class ColourSetBlocks;

// The colour sets of one run: their sizes for the run's number of sequences, and the memory the shared,
// final and growing sets are cut from (released with the store).
struct ColourSetStore {
    int32_t NB_SEQUENCE = 0;
    int32_t SIZE_STATIC_BIT_TAB = 1;
    int32_t CHANGE_LIMITE = 1;
    ColourSetBlocks* blocks;

    ColourSetStore();
    ColourSetStore(const ColourSetStore&) = delete;
    ColourSetStore& operator=(const ColourSetStore&) = delete;
    ~ColourSetStore();
};

// The store the calling thread works with: that of the run it works for (see Run), else the process's own,
// which the library's unit tests use.
extern constinit thread_local ColourSetStore* colourSetsInUse;
inline ColourSetStore& colourSetStore() {
    return *colourSetsInUse;
}

// The final sets of a colour propagation that several threads share: while a thread uses pool p, the unions
// it makes are carved from that pool alone, so that the threads never share a carving.  The store takes all
// the pools over when they are destroyed, by the thread bound to it, once the other threads are done with
// them; until then the sets they hold are only read.
class FinalSetPools {
  public:
    explicit FinalSetPools(int count);
    FinalSetPools(const FinalSetPools&) = delete;
    FinalSetPools& operator=(const FinalSetPools&) = delete;
    ~FinalSetPools();
    // The calling thread carves from pool p from now on; -1: from the store again.
    void use(int p);

  private:
    struct Pools;
    std::unique_ptr<Pools> pools_;
};

// Sets NB_SEQUENCE, SIZE_STATIC_BIT_TAB and CHANGE_LIMITE; call before any set exists.
void initBitTab(int32_t n);
// Operations that may move, grow or replace a set take the holder's pointer.
// Out of memory ends the process with status -2.
BitTab AllocBitTab();
BitTab AllocBitTabStatic();
// An empty dynamic set that many holders may share, for sets that stay empty
// until something is added: the operations below then give the holder one of
// its own.  Sets are released with FreeBitTab, which leaves the shared one alone.
BitTab SharedEmptyBitTab();
// The set {s}, byte for byte as AllocBitTab then addBitTabValue(s) make it;
// shared the same way whenever it takes the dynamic form.
BitTab SingletonBitTab(int32_t s);
void FreeBitTab(BitTab bt);
BitTab ReinitBitTab(BitTab* bt);
void CopyBitTab(BitTab* dest, BitTab src);
void addBitTabValue(BitTab* bt, int32_t s);
void addBitTabValueDynamic(BitTab* bt, int32_t s);
void addBitTabValueStatic(BitTab* bt, int32_t s);
// addBitTabValue for a set whose members were added in increasing order (a
// leaf's: the sequences are added in increasing order), without scanning it.
// A short list that is not the allocator's own (a shared, final or slot set)
// grows in a slot: cut from ranges that hold many, released all together by
// releaseFinalBitTabs, and treated as final sets are.  One thread at a time
// may grow lists so.
void addNewestBitTabValue(BitTab* bt, int32_t s);
void convertBitTab(BitTab* bt);
void fusionneBitTab(BitTab* dest, BitTab src);
void fusionneBitTabDynamic(BitTab* dest, BitTab src);
void fusionneBitTabStatic(BitTab* dest, BitTab src);
// Sets *dest to the union of the n >= 1 sets of sources, byte for byte as
// CopyBitTab of the first then fusionneBitTab of each next one would make it,
// but in one pass.  Returns the number of members.  The old *dest is released.
// A small union (most nodes' sets) is a final set: carved from blocks that
// hold many, released all together by releaseFinalBitTabs.  FreeBitTab leaves
// a final set alone, and an operation that would resize one gives its holder
// a copy of its own.  One thread at a time may make unions.
int32_t uniteColourSets(BitTab* dest, const BitTab* sources, int32_t n);
// Releases the final sets and the slots, which no holder may use afterwards.
void releaseFinalBitTabs();
// Number of members (the form bit of a static set is never counted).
int32_t nbSequenceInBitTab(BitTab bt);
int32_t nbSequenceInBitTabDynamic(BitTab bt);
int32_t nbSequenceInBitTabStatic(BitTab bt);
// Writes "d:" or "s:" then "%d," per member on standard output, no line end.
void printBitTab(BitTab bt);

inline bool isDynamicBitTab(const unsigned char* bt) {
    return (bt[0] & 0x80) != 0;
}
