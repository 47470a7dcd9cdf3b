#pragma once
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Memory that a structure takes a batch at a time (the tree's record pools, the nodes' colour sets): small
// batches while it is small, so that a small tree keeps a small footprint; once it is large, batches of
// huge pages (where the system grants them on request), since its readers go all over it and with small
// pages nearly every read would also miss the address translation.  The last huge batch is resident whole,
// which a large structure amortises.  The untouched pages of a small batch take no memory.
constexpr size_t kSmallBatch = 256 * 1024;
constexpr size_t kHugeBatch = 2 * 1024 * 1024;
constexpr size_t kHugeFrom = 8 * 1024 * 1024;

// size bytes (a multiple of kHugeBatch) aligned to a huge page and asked to be huge pages; null when the
// allocation fails.
inline void* hugePageBatch(size_t size) {
    void* batch = aligned_alloc(kHugeBatch, size);
    if (batch != nullptr) madvise(batch, size, MADV_HUGEPAGE);  // advice only: refused, pages stay small
    return batch;
}

// A range of `size` bytes of addresses, without memory, that starts on a huge page: its start, or null when
// the system refuses.  *mapping receives what releaseAlignedRange(*mapping, size) gives back.
inline char* reserveAlignedRange(size_t size, void** mapping) {
    void* m = mmap(nullptr, size + kHugeBatch, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    *mapping = m;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(m) + kHugeBatch - 1) & ~(uintptr_t{kHugeBatch} - 1);
    return reinterpret_cast<char*>(start);
}
inline void releaseAlignedRange(void* mapping, size_t size) {
    munmap(mapping, size + kHugeBatch);
}

// Huge batches made ready ahead by a thread of their own: the system clears a page when it is first
// written, which in a large tree's construction is a fifth of the time.  While a supplier is in use by the
// constructing thread (a run on several threads), that clearing is done by the supplier's thread on the few
// batches it holds ready, and the construction takes them already resident.  A batch it has not made ready
// in time is allocated as without it.
class BatchSupplier {
  public:
    BatchSupplier();
    BatchSupplier(const BatchSupplier&) = delete;
    BatchSupplier& operator=(const BatchSupplier&) = delete;
    // Stops the thread; the batches still ready are freed.
    ~BatchSupplier();
    // A ready batch of kHugeBatch bytes, or null when none is.
    void* take();
    // Asks the thread to make the writable pages of [start, start + size) resident, before it makes more
    // batches.  Their contents are left as they are: the caller may already write there.
    void populate(void* start, size_t size);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The supplier whose batches the calling thread's huge batches come from; null: none.
extern constinit thread_local BatchSupplier* batchSupplierInUse;

// A batch of at least `needed` bytes for a structure that already holds `taken` bytes of batches; its size
// goes to *size.  Null when the allocation fails.
inline void* allocateBatch(size_t needed, size_t taken, size_t* size) {
    const bool huge = taken >= kHugeFrom;
    if (huge && needed <= kHugeBatch && batchSupplierInUse != nullptr) {
        if (void* ready = batchSupplierInUse->take(); ready != nullptr) {
            *size = kHugeBatch;
            return ready;
        }
    }
    const size_t unit = huge ? kHugeBatch : kSmallBatch;
    *size = std::max(unit, (needed + unit - 1) / unit * unit);
    return huge ? hugePageBatch(*size) : malloc(*size);
}
