#pragma once
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>

// Memory that a structure takes a batch at a time (the tree's record pools, the nodes' colour sets): small
// batches while it is small, so that a small tree keeps a small footprint; once it is large, batches of
// huge pages (where the system grants them on request), since its readers go all over it and with small
// pages nearly every read would also miss the address translation.  The last huge batch is resident whole,
// which a large structure amortises.  The untouched pages of a small batch take no memory.
constexpr size_t kSmallBatch = 256 * 1024;
constexpr size_t kHugeBatch = 2 * 1024 * 1024;
constexpr size_t kHugeFrom = 8 * 1024 * 1024;

// A batch of at least `needed` bytes for a structure that already holds `taken` bytes of batches; its size
// goes to *size.  Null when the allocation fails.
inline void* allocateBatch(size_t needed, size_t taken, size_t* size) {
    const bool huge = taken >= kHugeFrom;
    const size_t unit = huge ? kHugeBatch : kSmallBatch;
    *size = std::max(unit, (needed + unit - 1) / unit * unit);
    void* batch = huge ? aligned_alloc(kHugeBatch, *size) : malloc(*size);
    if (batch != nullptr && huge)
        madvise(batch, *size, MADV_HUGEPAGE);  // advice only: refused, pages stay small
    return batch;
}
