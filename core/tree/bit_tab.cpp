#include "bit_tab.h"

#include <malloc.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "cpu_dispatch.h"
#include "memory_batches.h"
#include "run_exit.h"

namespace {

// The spelling engines count a union for every candidate symbol, so this is hot: it counts eight bytes
// at a time, and is compiled twice so that processors with a popcount instruction use it.  Only this
// file calls it, and it is defined before its first use, as clang requires of such functions.
POPCOUNT_DISPATCH int32_t countStaticMembers(BitTab bt) {
    // Byte 0 is masked so that the form bit is never counted.
    int32_t n = std::popcount(static_cast<unsigned>(bt[0] & 0x7F));
    int32_t i = 1;
    for (; i + 8 <= colourSetStore().SIZE_STATIC_BIT_TAB; i += 8) {
        uint64_t word;
        memcpy(&word, bt + i, sizeof word);
        n += std::popcount(word);
    }
    for (; i < colourSetStore().SIZE_STATIC_BIT_TAB; ++i) n += std::popcount(static_cast<unsigned>(bt[i]));
    return n;
}

constexpr unsigned char kDynamicFlag = 0x80;
constexpr int32_t kDynamicHeader = 2;
// The count field of the dynamic form has 15 bits and its members 16 bits.
constexpr int32_t kMaxDynamicCount = 0x7FFF;
constexpr int32_t kMaxDynamicMember = 0xFFFF;

[[noreturn]] void bitTabOutOfMemory() {
    endRunWith(-2, "No enougth space... \n Program aborded \n");
}

unsigned char* checkedMalloc(size_t size) {
    auto* p = static_cast<unsigned char*>(malloc(size));
    if (p == nullptr) bitTabOutOfMemory();
    return p;
}

// Entries of the shared singletons: every sequence number the dynamic form can hold.
constexpr size_t kSharedSingletons = static_cast<size_t>(kMaxDynamicMember) + 1;

bool isSharedSingleton(const unsigned char* bt);

int32_t dynamicCount(const unsigned char* bt) {
    return ((bt[0] & 0x7F) << 8) | bt[1];
}

void setDynamicCount(unsigned char* bt, int32_t k) {
    bt[0] = static_cast<unsigned char>(kDynamicFlag | ((k >> 8) & 0x7F));
    bt[1] = static_cast<unsigned char>(k & 0xFF);
}

size_t dynamicSize(int32_t k) {
    return static_cast<size_t>(kDynamicHeader + 2 * k);
}

// Left unused at the end of the memory that final sets and slots are cut from: readers may fetch a few bytes
// past a set's end.
constexpr size_t kTailRoom = 64;

// Final sets: the small unions of the colour propagation, which stay as made until the tree is released,
// carved one after the other from large blocks rather than allocated one by one.  A block of its own for
// each node's set cost a fifth of the propagation's time, and its header and rounding a quarter of the
// sets' memory.
class FinalSetBlocks {
  public:
    unsigned char* take(size_t size) {
        size += size & 1;  // set addresses stay even: the walks mark a set of one sequence by an odd value
        if (size > left_) openBlock(size);
        unsigned char* p = next_;
        next_ += size;
        left_ -= size;
        return p;
    }

    bool holds(const unsigned char* p) const {
        const auto a = reinterpret_cast<uintptr_t>(p);
        if (a < lowest_ || a >= highest_) return false;
        const auto after = firstAfter(blocks_, a);
        return after != blocks_.begin() && a < std::prev(after)->start + std::prev(after)->size;
    }

    // Takes over the blocks of other (which is left empty); sets keep being carved from this one's own.
    void adopt(FinalSetBlocks& other) {
        for (const Block& b : other.blocks_) {
            blocks_.insert(firstAfter(blocks_, b.start), b);
            lowest_ = std::min(lowest_, b.start);
            highest_ = std::max(highest_, b.start + b.size);
        }
        taken_ += other.taken_;
        other.blocks_.clear();
        other.release();
    }

    void release() {
        for (const Block& b : blocks_) free(reinterpret_cast<void*>(b.start));
        blocks_.clear();
        next_ = nullptr;
        left_ = 0;
        taken_ = 0;
        lowest_ = UINTPTR_MAX;
        highest_ = 0;
    }

  private:
    struct Block {
        uintptr_t start;
        size_t size;
    };
    // The first block that starts after address a.
    static std::vector<Block>::const_iterator firstAfter(const std::vector<Block>& blocks, uintptr_t a) {
        return std::upper_bound(blocks.begin(), blocks.end(), a,
                                [](uintptr_t v, const Block& b) { return v < b.start; });
    }

    // Blocks are batches of memory_batches.h.
    void openBlock(size_t size) {
        size_t bytes = 0;
        void* block = allocateBatch(size + kTailRoom, taken_, &bytes);
        if (block == nullptr) bitTabOutOfMemory();
        const Block b{reinterpret_cast<uintptr_t>(block), bytes};
        blocks_.insert(firstAfter(blocks_, b.start), b);
        lowest_ = std::min(lowest_, b.start);
        highest_ = std::max(highest_, b.start + bytes);
        taken_ += bytes;
        next_ = static_cast<unsigned char*>(block);
        left_ = bytes - kTailRoom;
    }

    std::vector<Block> blocks_;  // by address
    unsigned char* next_ = nullptr;
    size_t left_ = 0;
    size_t taken_ = 0;
    uintptr_t lowest_ = UINTPTR_MAX;
    uintptr_t highest_ = 0;
};

// Leaves' sets: short lists that grow a member at a time, in increasing order, while the tree is built, and
// then stay until it is released.  Millions of them got a block of the allocator each, most of it header
// and rounding.  Here each short one lives in a slot of a size class (8, 16 or 32 bytes) cut from a few
// ranges of memory, each twice as large as the one before, so that telling a slot from any other set takes
// a comparison per range.  A list that outgrows its slot moves to one of the next class, or to the
// allocator, and the slot it leaves goes to the next list that grows into its class: a list of k members is
// always in the class of its k members' bytes.  One thread at a time may grow them.
class GrowingSetSlots {
  public:
    static constexpr size_t kLargestSlot = 32;

    bool holds(const unsigned char* p) const {
        for (int32_t r = 0; r < ranges_; ++r)
            if (reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(range_[r].start) <
                range_[r].used)
                return true;
        return false;
    }

    // A slot for a list of `size` bytes (at most kLargestSlot), null when no memory is left.
    unsigned char* take(size_t size) {
        const int32_t c = classOf(size);
        if (unsigned char* p = free_[c]; p != nullptr) {
            memcpy(&free_[c], p, sizeof p);
            return p;
        }
        const size_t slot = kSmallestSlot << c;
        if ((ranges_ == 0 || last().used + slot + kTailRoom > last().size) && !openRange()) return nullptr;
        unsigned char* p = last().start + last().used;
        last().used += slot;
        return p;
    }

    // Whether a slot holding a list of `size` bytes can hold one of `grown` bytes.
    static bool fits(size_t size, size_t grown) { return classOf(grown) == classOf(size); }

    // The slot of a list of `size` bytes is free again.
    void recycle(unsigned char* p, size_t size) {
        const int32_t c = classOf(size);
        memcpy(p, &free_[c], sizeof p);
        free_[c] = p;
    }

    void release() {
        for (int32_t r = 0; r < ranges_; ++r) munmap(range_[r].start, range_[r].size);
        ranges_ = 0;
        std::fill(std::begin(free_), std::end(free_), nullptr);
    }

  private:
    struct Range {
        unsigned char* start;
        size_t size;
        size_t used;
    };
    static constexpr size_t kSmallestSlot = 8;
    static constexpr int32_t kClasses = 3;  // 8, 16 and 32 bytes
    static constexpr size_t kFirstRange = 4 * 1024 * 1024;
    static constexpr int32_t kMaxRanges = 30;  // the last one would be 2 PB

    static int32_t classOf(size_t size) {
        return std::bit_width((std::max(size, kSmallestSlot) - 1) / kSmallestSlot);
    }

    Range& last() { return range_[ranges_ - 1]; }

    // Pages become memory as slots are cut from them.  Huge pages once the ranges already held reach the
    // size from which batches are huge (memory_batches.h).
    bool openRange() {
        if (ranges_ == kMaxRanges) return false;
        const size_t size = kFirstRange << ranges_;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        const size_t held = size - kFirstRange;  // the ranges before this one
        if (held >= kHugeFrom) madvise(p, size, MADV_HUGEPAGE);
        range_[ranges_++] = {static_cast<unsigned char*>(p), size, 0};
        return true;
    }

    Range range_[kMaxRanges] = {};
    int32_t ranges_ = 0;
    unsigned char* free_[kClasses] = {};  // each free slot holds the address of the next one of its class
};

}  // namespace

// Shared sets, never written once made nor freed: the empty set every node holds until the colour
// propagation gives it its own, and the sets of one sequence that most leaves keep for good (a window word is
// mostly found in one sequence), so that making a node or a leaf costs no allocation.  Entry s of the
// singletons holds {s} in the dynamic form; only the pages of the sequences used become resident.  Then the
// blocks of the final sets and the slots of the growing ones.
class ColourSetBlocks {
  public:
    ColourSetBlocks() : sharedSingletons(static_cast<unsigned char (*)[4]>(calloc(kSharedSingletons, 4))) {
        if (sharedSingletons == nullptr) bitTabOutOfMemory();
    }
    ColourSetBlocks(const ColourSetBlocks&) = delete;
    ColourSetBlocks& operator=(const ColourSetBlocks&) = delete;
    ~ColourSetBlocks() {
        finalSets.release();
        growingSets.release();
        free(sharedSingletons);
    }

    unsigned char sharedEmpty[2] = {0x80, 0x00};
    unsigned char (*sharedSingletons)[4];
    FinalSetBlocks finalSets;
    GrowingSetSlots growingSets;
};

ColourSetStore::ColourSetStore() : blocks(new ColourSetBlocks) {}
ColourSetStore::~ColourSetStore() {
    delete blocks;
}

namespace {

ColourSetStore processColourSets;

}  // namespace

constinit thread_local ColourSetStore* colourSetsInUse = &processColourSets;

namespace {

ColourSetBlocks& blocks() {
    return *colourSetStore().blocks;
}

bool isSharedSingleton(const unsigned char* bt) {
    const auto p = reinterpret_cast<uintptr_t>(bt);
    const auto first = reinterpret_cast<uintptr_t>(&blocks().sharedSingletons[0][0]);
    return p >= first && p < first + 4 * kSharedSingletons;
}

// Unions up to this size, most nodes', are carved from the blocks; a larger one gets an allocation of its
// own, where the allocator may reuse the room that sets freed as they grew while the tree was built.
constexpr size_t kCarvedUnionMax = 256;

// The pool of a thread that takes part in a shared colour propagation (FinalSetPools), else null.
constinit thread_local FinalSetBlocks* ownFinalSets = nullptr;

unsigned char* newUnion(size_t size) {
    if (size > kCarvedUnionMax) return checkedMalloc(size);
    return ownFinalSets != nullptr ? ownFinalSets->take(size) : blocks().finalSets.take(size);
}

bool isShared(const unsigned char* bt) {
    return bt == blocks().sharedEmpty || isSharedSingleton(bt);
}

// A set that is no block of the allocator's own: shared, carved from the final sets' blocks, or a growing
// list's slot.
bool notOwned(const unsigned char* bt) {
    return isShared(bt) || blocks().finalSets.holds(bt) || blocks().growingSets.holds(bt);
}

// Bytes a set occupies.
size_t setBytes(const unsigned char* bt) {
    return isDynamicBitTab(bt) ? dynamicSize(dynamicCount(bt))
                               : static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB);
}

size_t usableSize(unsigned char* bt) {
    return notOwned(bt) ? 0 : malloc_usable_size(bt);
}

// A set that is not the allocator's own block is never resized in place: its holder gets a copy of its own.
unsigned char* checkedRealloc(unsigned char* p, size_t size) {
    if (notOwned(p)) {
        auto* q = static_cast<unsigned char*>(malloc(size));
        if (q == nullptr) bitTabOutOfMemory();
        memcpy(q, p, std::min(size, setBytes(p)));
        return q;
    }
    auto* q = static_cast<unsigned char*>(realloc(p, size));
    if (q == nullptr) bitTabOutOfMemory();
    return q;
}

// Members are native-order uint16 at odd offsets from a malloc'd base, so
// they are read and written through memcpy rather than by cast.
int32_t dynamicMember(const unsigned char* bt, int32_t i) {
    uint16_t v;
    memcpy(&v, bt + kDynamicHeader + 2 * i, sizeof v);
    return v;
}

void setDynamicMember(unsigned char* bt, int32_t i, int32_t s) {
    const auto v = static_cast<uint16_t>(s);
    memcpy(bt + kDynamicHeader + 2 * i, &v, sizeof v);
}

// Whether s is among the first k members of the dynamic set bt.
bool containsDynamicMember(const unsigned char* bt, int32_t k, int32_t s) {
    for (int32_t i = 0; i < k; ++i)
        if (dynamicMember(bt, i) == s) return true;
    return false;
}

// A set grows one member at a time: the room the allocator really gave (its own
// rounding) is used before asking for more.  Asking for more than needed would
// raise the peak memory of the many leaf sets.
void appendDynamicMember(BitTab* bt, int32_t k, int32_t s) {
    const size_t size = dynamicSize(k + 1);
    if (size > usableSize(*bt)) *bt = checkedRealloc(*bt, size);
    setDynamicMember(*bt, k, s);
    setDynamicCount(*bt, k + 1);
}

// Appends s to a list whose members were added in increasing order: in a growing list's slot, except for a
// list of the allocator's own, which stays one, and for a list too long for the largest slot.
void appendNewestMember(BitTab* bt, int32_t k, int32_t s) {
    const size_t size = dynamicSize(k);
    const size_t grown = dynamicSize(k + 1);
    const bool inSlot = blocks().growingSets.holds(*bt);
    if (!inSlot && !notOwned(*bt)) {
        appendDynamicMember(bt, k, s);
        return;
    }
    if (!inSlot || !GrowingSetSlots::fits(size, grown)) {
        unsigned char* moved =
            grown <= GrowingSetSlots::kLargestSlot ? blocks().growingSets.take(grown) : nullptr;
        if (moved == nullptr) moved = checkedMalloc(grown);
        memcpy(moved, *bt, size);
        if (inSlot) blocks().growingSets.recycle(*bt, size);
        *bt = moved;
    }
    setDynamicMember(*bt, k, s);
    setDynamicCount(*bt, k + 1);
}

void setStaticBit(unsigned char* bt, int32_t s) {
    assert(s >= 0 && (s + 1) / 8 < colourSetStore().SIZE_STATIC_BIT_TAB);
    bt[(s + 1) / 8] |= static_cast<unsigned char>(0x80 >> ((s + 1) % 8));
}

bool staticBitSet(const unsigned char* bt, int32_t bit) {
    return (bt[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

int32_t staticBitCount() {
    return 8 * colourSetStore().SIZE_STATIC_BIT_TAB;
}

// A zeroed static string holding the members of the dynamic set bt.
unsigned char* staticCopyOfDynamic(const unsigned char* bt) {
    unsigned char* st = AllocBitTabStatic();
    const int32_t k = dynamicCount(bt);
    for (int32_t i = 0; i < k; ++i) setStaticBit(st, dynamicMember(bt, i));
    return st;
}

// Adds s to a set of either form, re-reading the form each time because an
// addition may turn a dynamic set static.
void addToEitherForm(BitTab* bt, int32_t s) {
    if (isDynamicBitTab(*bt))
        addBitTabValueDynamic(bt, s);
    else
        setStaticBit(*bt, s);
}

// Member by member, a union scans the destination for each source member;
// beyond this many comparisons the members are marked in a bit array instead.
constexpr int64_t kSmallUnionWork = 256;

struct UnionScratch {
    std::vector<uint64_t> marks =
        std::vector<uint64_t>((kMaxDynamicMember + 1) / 64);  // all clear between unions
    std::vector<int32_t> source;
    std::vector<int32_t> added;
};

UnionScratch& unionScratch() {
    static thread_local UnionScratch scratch;
    return scratch;
}

void flipMark(std::vector<uint64_t>& marks, int32_t s) {
    marks[static_cast<size_t>(s) >> 6] ^= uint64_t{1} << (s & 63);
}
bool marked(const std::vector<uint64_t>& marks, int32_t s) {
    return (marks[static_cast<size_t>(s) >> 6] >> (s & 63) & 1) != 0;
}

// Calls f(s) for every member of the static set bt, in increasing order.
template <typename F>
void forEachStaticMember(const unsigned char* bt, F f) {
    for (int32_t byte = 0; byte < colourSetStore().SIZE_STATIC_BIT_TAB; ++byte) {
        unsigned bits = bt[byte];
        if (byte == 0) bits &= 0x7F;  // the form bit is no member
        while (bits != 0) {
            const int lead = std::countl_zero(static_cast<unsigned char>(bits));
            f(8 * byte + lead - 1);
            bits &= ~(0x80u >> lead);
        }
    }
}

// Adds members one by one to the dynamic set *dest, with the outcome of as many
// addBitTabValueDynamic calls (order kept, duplicates skipped, the static form
// taken at the first addition that finds the list full or a number too large
// for it) but in time linear in both sets.
void uniteIntoDynamic(BitTab* dest, const std::vector<int32_t>& members) {
    UnionScratch& scratch = unionScratch();
    std::vector<uint64_t>& marks = scratch.marks;
    std::vector<int32_t>& added = scratch.added;
    added.clear();
    const int32_t k = dynamicCount(*dest);
    for (int32_t i = 0; i < k; ++i) flipMark(marks, dynamicMember(*dest, i));
    size_t next = 0;
    for (; next < members.size(); ++next) {
        const int32_t s = members[next];
        if (k + static_cast<int32_t>(added.size()) >= colourSetStore().CHANGE_LIMITE || s > kMaxDynamicMember)
            break;
        if (marked(marks, s)) continue;
        flipMark(marks, s);
        added.push_back(s);
    }
    for (int32_t i = 0; i < k; ++i) flipMark(marks, dynamicMember(*dest, i));
    for (int32_t s : added) flipMark(marks, s);
    if (!added.empty()) {
        const auto n = k + static_cast<int32_t>(added.size());
        if (dynamicSize(n) > usableSize(*dest)) *dest = checkedRealloc(*dest, dynamicSize(n));
        for (size_t i = 0; i < added.size(); ++i)
            setDynamicMember(*dest, k + static_cast<int32_t>(i), added[i]);
        setDynamicCount(*dest, n);
    }
    if (next == members.size()) return;
    convertBitTab(dest);
    for (; next < members.size(); ++next) setStaticBit(*dest, members[next]);
}

// The union of several sets, built in scratch space and allocated once.  The
// dynamic form follows the rules of addBitTabValueDynamic member by member: a
// member offered while the list is full, or too large for it, turns the union
// static for good.
class ColourUnion {
  public:
    void start() {
        members_.clear();
        static_ = false;
        first_ = true;
    }

    void add(const unsigned char* src) {
        // The first set is copied in its own form, as CopyBitTab does.
        const bool first = first_;
        first_ = false;
        if (static_) {
            orInto(src);
        } else if (isDynamicBitTab(src)) {
            const int32_t k = dynamicCount(src);
            for (int32_t i = 0; i < k && !static_; ++i) offer(dynamicMember(src, i));
            if (static_) orInto(src);
        } else if (first) {
            takeStatic(src);
        } else {
            forEachStaticMember(src, [&](int32_t s) {
                if (!static_) offer(s);
            });
            if (static_) orInto(src);
        }
    }

    // Writes the union into a final set that replaces *dest, released, and returns its size.
    int32_t finish(BitTab* dest) {
        FreeBitTab(*dest);
        if (static_) {
            *dest = newUnion(bits_.size());
            memcpy(*dest, bits_.data(), bits_.size());
            return nbSequenceInBitTabStatic(*dest);
        }
        const auto k = static_cast<int32_t>(members_.size());
        *dest = newUnion(dynamicSize(k));
        setDynamicCount(*dest, k);
        for (int32_t i = 0; i < k; ++i) setDynamicMember(*dest, i, members_[static_cast<size_t>(i)]);
        clearMarks();
        return k;
    }

  private:
    void offer(int32_t s) {
        if (static_cast<int32_t>(members_.size()) >= colourSetStore().CHANGE_LIMITE ||
            s > kMaxDynamicMember) {
            turnStatic();
            return;
        }
        std::vector<uint64_t>& marks = unionScratch().marks;
        if (marked(marks, s)) return;
        flipMark(marks, s);
        members_.push_back(s);
    }

    // The members so far in a bit array; the source being added is then ORed in whole.
    void turnStatic() {
        bits_.assign(static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB), 0);
        for (int32_t s : members_) setStaticBit(bits_.data(), s);
        clearMarks();
        static_ = true;
    }

    void takeStatic(const unsigned char* src) {
        bits_.assign(src, src + colourSetStore().SIZE_STATIC_BIT_TAB);
        static_ = true;
    }

    void orInto(const unsigned char* src) {
        if (isDynamicBitTab(src)) {
            const int32_t k = dynamicCount(src);
            for (int32_t i = 0; i < k; ++i) setStaticBit(bits_.data(), dynamicMember(src, i));
        } else {
            for (int32_t i = 0; i < colourSetStore().SIZE_STATIC_BIT_TAB; ++i)
                bits_[static_cast<size_t>(i)] |= src[i];
        }
    }

    void clearMarks() {
        std::vector<uint64_t>& marks = unionScratch().marks;
        for (int32_t s : members_) flipMark(marks, s);
    }

    std::vector<int32_t> members_;
    std::vector<unsigned char> bits_;
    bool static_ = false;
    bool first_ = true;
};

// The union of short lists that together hold no more members than a short list may: no member can turn it
// static, so the members go straight into the final set, in order of first appearance, duplicates skipped
// (most nodes' sets are made so, and deep in a large tree they are many).  Returns -1 for other sources.
int32_t uniteShortLists(BitTab* dest, const BitTab* sources, int32_t n) {
    int32_t total = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!isDynamicBitTab(sources[i])) return -1;
        total += dynamicCount(sources[i]);
    }
    if (total > colourSetStore().CHANGE_LIMITE) return -1;
    std::vector<uint64_t>& marks = unionScratch().marks;
    uint16_t members[kMaxDynamicCount];
    int32_t k = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t count = dynamicCount(sources[i]);
        for (int32_t m = 0; m < count; ++m) {
            const int32_t s = dynamicMember(sources[i], m);
            if (marked(marks, s)) continue;
            flipMark(marks, s);
            members[k++] = static_cast<uint16_t>(s);
        }
    }
    for (int32_t m = 0; m < k; ++m) flipMark(marks, members[m]);
    unsigned char* united = newUnion(dynamicSize(k));
    setDynamicCount(united, k);
    memcpy(united + kDynamicHeader, members, sizeof(uint16_t) * static_cast<size_t>(k));
    FreeBitTab(*dest);
    *dest = united;
    return k;
}

}  // namespace

struct FinalSetPools::Pools {
    std::vector<FinalSetBlocks> pools;
};

FinalSetPools::FinalSetPools(int count) : pools_(new Pools) {
    pools_->pools.resize(static_cast<size_t>(count));
}

FinalSetPools::~FinalSetPools() {
    ownFinalSets = nullptr;
    for (FinalSetBlocks& pool : pools_->pools) blocks().finalSets.adopt(pool);
}

void FinalSetPools::use(int p) {
    ownFinalSets = p < 0 ? nullptr : &pools_->pools[static_cast<size_t>(p)];
}

int32_t uniteColourSets(BitTab* dest, const BitTab* sources, int32_t n) {
    if (const int32_t k = uniteShortLists(dest, sources, n); k >= 0) return k;
    static thread_local ColourUnion scratch;
    scratch.start();
    for (int32_t i = 0; i < n; ++i) scratch.add(sources[i]);
    return scratch.finish(dest);
}

void initBitTab(int32_t n) {
    colourSetStore().NB_SEQUENCE = n;
    colourSetStore().SIZE_STATIC_BIT_TAB = n / 8 + 1;
    // Capped so that a dynamic list never outgrows its 15-bit count field.
    colourSetStore().CHANGE_LIMITE =
        std::min(std::max(1, colourSetStore().SIZE_STATIC_BIT_TAB / 2 - 1), kMaxDynamicCount);
}

BitTab AllocBitTab() {
    unsigned char* bt = checkedMalloc(dynamicSize(0));
    setDynamicCount(bt, 0);
    return bt;
}

BitTab SharedEmptyBitTab() {
    return blocks().sharedEmpty;
}

BitTab SingletonBitTab(int32_t s) {
    if (s < 0 || s > kMaxDynamicMember) {
        BitTab bt = AllocBitTab();
        addBitTabValue(&bt, s);
        return bt;
    }
    unsigned char* bt = blocks().sharedSingletons[s];
    if (bt[0] == 0) {
        setDynamicCount(bt, 1);
        setDynamicMember(bt, 0, s);
    }
    return bt;
}

void FreeBitTab(BitTab bt) {
    if (!notOwned(bt)) free(bt);
}

BitTab AllocBitTabStatic() {
    auto* bt =
        static_cast<unsigned char*>(calloc(static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB), 1));
    if (bt == nullptr) bitTabOutOfMemory();
    return bt;
}

BitTab ReinitBitTab(BitTab* bt) {
    if (isDynamicBitTab(*bt)) {
        *bt = checkedRealloc(*bt, dynamicSize(0));
        setDynamicCount(*bt, 0);
    } else {
        memset(*bt, 0, static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB));
    }
    return *bt;
}

void CopyBitTab(BitTab* dest, BitTab src) {
    if (*dest == src) return;  // freeing the destination would free the source
    if (isDynamicBitTab(src)) {
        const size_t size = dynamicSize(dynamicCount(src));
        *dest = checkedRealloc(*dest, size);
        memcpy(*dest, src, size);
    } else {
        FreeBitTab(*dest);
        *dest = AllocBitTabStatic();
        memcpy(*dest, src, static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB));
    }
}

void addBitTabValue(BitTab* bt, int32_t s) {
    if (isDynamicBitTab(*bt))
        addBitTabValueDynamic(bt, s);
    else
        addBitTabValueStatic(bt, s);
}

void addBitTabValueDynamic(BitTab* bt, int32_t s) {
    const int32_t k = dynamicCount(*bt);
    // A number that does not fit a 16-bit member can only live in the static form.
    if (k >= colourSetStore().CHANGE_LIMITE || s > kMaxDynamicMember) {
        convertBitTab(bt);
        setStaticBit(*bt, s);
        return;
    }
    if (containsDynamicMember(*bt, k, s)) return;
    appendDynamicMember(bt, k, s);
}

void addNewestBitTabValue(BitTab* bt, int32_t s) {
    if (!isDynamicBitTab(*bt)) {
        setStaticBit(*bt, s);
        return;
    }
    const int32_t k = dynamicCount(*bt);
    const int32_t last = k > 0 ? dynamicMember(*bt, k - 1) : -1;
    // Members added in increasing order: s is a member exactly when it is the
    // last one, and is new when above it.  Anything else takes the general path.
    if (last > s || k >= colourSetStore().CHANGE_LIMITE || s > kMaxDynamicMember) {
        addBitTabValueDynamic(bt, s);
        return;
    }
    if (last != s) appendNewestMember(bt, k, s);
}

void addBitTabValueStatic(BitTab* bt, int32_t s) {
    setStaticBit(*bt, s);
}

void convertBitTab(BitTab* bt) {
    unsigned char* st = staticCopyOfDynamic(*bt);
    FreeBitTab(*bt);
    *bt = st;
}

void fusionneBitTab(BitTab* dest, BitTab src) {
    if (*dest == src) return;  // a set united with itself is unchanged
    if (isDynamicBitTab(*dest))
        fusionneBitTabDynamic(dest, src);
    else
        fusionneBitTabStatic(dest, src);
}

void fusionneBitTabDynamic(BitTab* dest, BitTab src) {
    if (*dest == src) return;
    const int32_t k = dynamicCount(*dest);
    if (isDynamicBitTab(src)) {
        const int32_t n = dynamicCount(src);
        if (static_cast<int64_t>(k) * n > kSmallUnionWork) {
            std::vector<int32_t>& members = unionScratch().source;
            members.resize(static_cast<size_t>(n));
            for (int32_t i = 0; i < n; ++i) members[static_cast<size_t>(i)] = dynamicMember(src, i);
            uniteIntoDynamic(dest, members);
            return;
        }
        for (int32_t i = 0; i < n; ++i) addToEitherForm(dest, dynamicMember(src, i));
    } else {
        std::vector<int32_t>& members = unionScratch().source;
        members.clear();
        forEachStaticMember(src, [&](int32_t s) { members.push_back(s); });
        uniteIntoDynamic(dest, members);
    }
}

void fusionneBitTabStatic(BitTab* dest, BitTab src) {
    unsigned char* d = *dest;
    if (isDynamicBitTab(src)) {
        const int32_t k = dynamicCount(src);
        for (int32_t i = 0; i < k; ++i) setStaticBit(d, dynamicMember(src, i));
    } else {
        for (int32_t i = 0; i < colourSetStore().SIZE_STATIC_BIT_TAB; ++i) d[i] |= src[i];
    }
}

int32_t nbSequenceInBitTab(BitTab bt) {
    return isDynamicBitTab(bt) ? nbSequenceInBitTabDynamic(bt) : nbSequenceInBitTabStatic(bt);
}

int32_t nbSequenceInBitTabDynamic(BitTab bt) {
    return dynamicCount(bt);
}

int32_t nbSequenceInBitTabStatic(BitTab bt) {
    return countStaticMembers(bt);
}

void printBitTab(BitTab bt) {
    if (isDynamicBitTab(bt)) {
        fputs("d:", stdout);
        const int32_t k = dynamicCount(bt);
        for (int32_t i = 0; i < k; ++i) printf("%d,", dynamicMember(bt, i));
    } else {
        fputs("s:", stdout);
        const int32_t bits = staticBitCount();
        for (int32_t bit = 1; bit < bits; ++bit)
            if (staticBitSet(bt, bit)) printf("%d,", bit - 1);
    }
}

void releaseFinalBitTabs() {
    blocks().finalSets.release();
    blocks().growingSets.release();
}
