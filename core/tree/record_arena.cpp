#include "record_arena.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "memory_batches.h"

// The leak check of AddressSanitizer looks for pointers in the heap, the stacks and the globals, not in
// mapped ranges: the colour sets that only the records hold would look lost, so the range is declared to it.
#if defined(__SANITIZE_ADDRESS__)
#define MOTBOX_RANGE_DECLARED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define MOTBOX_RANGE_DECLARED 1
#endif
#endif
#ifdef MOTBOX_RANGE_DECLARED
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Addresses reserved for one tree: all that a reference reaches, or less where the system refuses that much,
// down to a size below which a run could not do much.  Reserving takes no memory.
constexpr size_t kMostAddresses = size_t{1} << 35;
constexpr size_t kFewestAddresses = size_t{1} << 24;
// Huge steps made writable ahead of the page in use while a supplier makes them resident, so that the
// construction meets pages that are already there.
constexpr size_t kStepsAhead = 4;

size_t pageBytes() {
    return static_cast<size_t>(getpagesize());
}

// Under a limit on the address space the range takes about the share of it that records take of a tree's
// memory (three fifths; colour sets, position lists and texts take the rest), so that it does not leave too
// little for the other allocations.
size_t addressesToReserve() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMostAddresses;
    const size_t share = static_cast<size_t>(limit.rlim_cur) / 5 * 3 / kHugeBatch * kHugeBatch;
    return std::clamp(share, kFewestAddresses, kMostAddresses);
}

}  // namespace

bool RecordArena::reserve() {
    for (size_t size = addressesToReserve(); size >= kFewestAddresses; size /= 2) {
        base_ = reserveAlignedRange(size, &mapping_);
        if (base_ == nullptr) continue;
        reserved_ = size;
        committed_ = 0;
        taken_ = pageBytes();  // offset 0 is kNoRecord
#ifdef MOTBOX_RANGE_DECLARED
        __lsan_register_root_region(base_, reserved_);
#endif
        return true;
    }
    return false;
}

// Makes the range writable up to end (or as near as the system allows); false when it stops short of it.
// Small steps while the tree is small, so that it keeps a small footprint; huge pages beyond.
bool RecordArena::commitUpTo(size_t end) {
    end = std::min(end, reserved_);
    while (committed_ < end) {
        const bool huge = committed_ >= kHugeFrom;
        const size_t step = std::min(huge ? kHugeBatch : kSmallBatch, reserved_ - committed_);
        char* at = base_ + committed_;
        if (mprotect(at, step, PROT_READ | PROT_WRITE) != 0) return false;
        if (huge) {
            madvise(at, step, MADV_HUGEPAGE);  // advice only: refused, pages stay small
            if (batchSupplierInUse != nullptr) batchSupplierInUse->populate(at, step);
        }
        committed_ += step;
    }
    return true;
}

void* RecordArena::takePage() {
    if (base_ == nullptr && !reserve()) return nullptr;
    const size_t end = taken_ + pageBytes();
    if (end > reserved_) return nullptr;
    const size_t ahead = taken_ >= kHugeFrom && batchSupplierInUse != nullptr ? kStepsAhead * kHugeBatch : 0;
    if (end + ahead > committed_ && !commitUpTo(end + ahead) && committed_ < end) return nullptr;
    void* page = base_ + taken_;
    taken_ = end;
    return page;
}

void RecordArena::release() {
    if (mapping_ == nullptr) return;
#ifdef MOTBOX_RANGE_DECLARED
    __lsan_unregister_root_region(base_, reserved_);
#endif
    releaseAlignedRange(mapping_, reserved_);
    mapping_ = nullptr;
    base_ = nullptr;
    reserved_ = committed_ = taken_ = 0;
}
