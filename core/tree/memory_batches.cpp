#include "memory_batches.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

constinit thread_local BatchSupplier* batchSupplierInUse = nullptr;

namespace {

// Batches held ready at once: enough for the construction not to wait between two, little memory.
constexpr size_t kReadyBatches = 4;

// Faults in the pages of a writable range without changing what they hold; false where the system cannot
// (the pages then get their memory when they are first written).
bool makeResident([[maybe_unused]] void* start, [[maybe_unused]] size_t size) {
#ifdef MADV_POPULATE_WRITE
    return madvise(start, size, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

// A huge batch whose pages are resident, or null.
void* residentBatch() {
    void* batch = hugePageBatch(kHugeBatch);
    if (batch == nullptr) return nullptr;
    if (makeResident(batch, kHugeBatch)) return batch;
    // One write per small page makes each resident (a huge page at the first): the batch is no one's yet.
    auto* bytes = static_cast<volatile unsigned char*>(batch);
    for (size_t at = 0; at < kHugeBatch; at += 4096) bytes[at] = 0;
    return batch;
}

}  // namespace

struct BatchSupplier::State {
    std::mutex mutex;
    std::condition_variable wanted;  // a batch was taken, or the supplier stops
    std::deque<void*> ready;
    std::deque<std::pair<void*, size_t>> toPopulate;
    bool stopping = false;
    std::thread maker;

    void makeBatches() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            if (!toPopulate.empty()) {
                const auto [start, size] = toPopulate.front();
                toPopulate.pop_front();
                lock.unlock();
                makeResident(start, size);
                lock.lock();
                continue;
            }
            if (ready.size() >= kReadyBatches) {
                wanted.wait(lock);
                continue;
            }
            lock.unlock();
            void* batch = residentBatch();
            lock.lock();
            if (batch == nullptr) {
                wanted.wait(lock);  // no memory now: try again once one is taken
                continue;
            }
            ready.push_back(batch);
        }
    }
};

BatchSupplier::BatchSupplier() : state_(new State) {
    state_->maker = std::thread([this] { state_->makeBatches(); });
}

BatchSupplier::~BatchSupplier() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wanted.notify_one();
    state_->maker.join();
    for (void* batch : state_->ready) free(batch);
}

void BatchSupplier::populate(void* start, size_t size) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->toPopulate.emplace_back(start, size);
    }
    state_->wanted.notify_one();
}

void* BatchSupplier::take() {
    void* batch = nullptr;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->ready.empty()) return nullptr;
        batch = state_->ready.front();
        state_->ready.pop_front();
    }
    state_->wanted.notify_one();
    return batch;
}
