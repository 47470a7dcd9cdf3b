#pragma once
// Spill streams: output that stays in memory within a budget shared by every stream of a run, then goes to
// an unlinked temporary file in TMPDIR, so that a run whose results are gigabytes never holds them, and
// nothing is left behind whatever way the process ends.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// A temporary file named after stem in TMPDIR (else /tmp), unlinked at once so that it disappears with the
// process whatever way that ends; -1 or null when none could be made.
int unlinkedTemporaryDescriptor(const char* stem);
FILE* unlinkedTemporaryFile(const char* stem);

// Bytes that finished and running tasks may hold in memory, all together.
class SpillBudget {
  public:
    explicit SpillBudget(int64_t bytes) : left_(bytes) {}
    // Takes n bytes when they are left.
    bool take(int64_t n) {
        if (left_.fetch_sub(n, std::memory_order_relaxed) >= n) return true;
        left_.fetch_add(n, std::memory_order_relaxed);
        return false;
    }
    void give(int64_t n) { left_.fetch_add(n, std::memory_order_relaxed); }

  private:
    std::atomic<int64_t> left_;
};

// A write-only stdio stream whose bytes go to a function of the owner's, which returns false to fail the
// write; the stream closes with the object.
class CallbackStream {
  public:
    using Sink = std::function<bool(const char*, size_t)>;
    explicit CallbackStream(Sink sink);
    ~CallbackStream() { close(); }
    CallbackStream(const CallbackStream&) = delete;
    CallbackStream& operator=(const CallbackStream&) = delete;

    FILE* stream() { return stream_; }  // null when none could be made
    void close();

  private:
    static ssize_t onWrite(void* cookie, const char* data, size_t size);
    Sink sink_;
    FILE* stream_ = nullptr;
};

// One output stream of a task: a stdio stream whose bytes are kept in memory within the budget, then in a
// temporary file.
class ChunkStream {
  public:
    explicit ChunkStream(SpillBudget& budget);
    ~ChunkStream();
    ChunkStream(const ChunkStream&) = delete;
    ChunkStream& operator=(const ChunkStream&) = delete;

    FILE* stream() { return out_.stream(); }
    // Flushes the stream; false when a byte could not be kept.
    bool finish();
    // Appends every byte written to out and releases them; false when a byte could not be read back or
    // written.
    bool copyTo(FILE* out);
    // Hands every byte written to sink, in order and in blocks of at most maxBlock bytes, and releases
    // them; false when a byte could not be read back or sink refused a block.
    bool drain(size_t maxBlock, const std::function<bool(const char*, size_t)>& sink);

  private:
    bool keep(const char* data, size_t size);
    bool spill();

    SpillBudget& budget_;
    std::string memory_;
    FILE* spill_ = nullptr;
    bool failed_ = false;
    CallbackStream out_;  // last: closed, and so flushed, before the members it writes to go
};
