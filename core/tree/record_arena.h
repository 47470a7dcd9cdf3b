#pragma once
#include <cstddef>
#include <cstdint>

// A tree's nodes and leaves are carved from one reserved range of addresses, so that a record is named by a
// 32-bit reference, its offset from the range's start in 8-byte units (up to 32 GiB of records), rather than
// by a 64-bit pointer: a node's child slots and suffix link take half the room they would.
using RecordRef = uint32_t;
constexpr RecordRef kNoRecord = 0;  // the range's first page is never handed out, so no record has offset 0
constexpr size_t kRecordAlignment = 8;

// The record that reference r names in a range starting at base; r must not be kNoRecord.
inline void* recordAt(const char* base, RecordRef r) {
    return const_cast<char*>(base) + (static_cast<size_t>(r) << 3);
}
// The record that r names, or null for kNoRecord.
inline void* recordOrNull(const char* base, RecordRef r) {
    return r == kNoRecord ? nullptr : recordAt(base, r);
}
// The reference of a record of a range starting at base; null gives kNoRecord.
inline RecordRef refOf(const char* base, const void* record) {
    if (record == nullptr) return kNoRecord;
    return static_cast<RecordRef>(static_cast<size_t>(static_cast<const char*>(record) - base) >> 3);
}

// The range of one tree.  Addresses are reserved without memory; pages get memory as they are handed out,
// in small steps while the tree is small and then in huge pages (where the system grants them), which a
// supplier thread in use (see memory_batches.h) makes resident ahead of the construction.
class RecordArena {
  public:
    RecordArena() = default;
    RecordArena(const RecordArena&) = delete;
    RecordArena& operator=(const RecordArena&) = delete;
    // The range stays until release (Free_Arbre): a tree left to the process's exit keeps its records where
    // the leak check of the sanitizer build still finds the colour sets they hold.
    ~RecordArena() = default;

    // The next unused page (getpagesize() bytes, zeroed); null when no more memory or addresses can be had.
    // The first call reserves the range.
    void* takePage();
    // Gives the whole range back; references into it are void.  The next takePage reserves a new one.
    void release();
    // Start of the range (null until the first page is taken).
    const char* base() const { return base_; }
    // Bytes of pages handed out, the unused first page included.
    size_t bytesTaken() const { return taken_; }

  private:
    bool reserve();
    bool commitUpTo(size_t end);

    char* base_ = nullptr;
    size_t reserved_ = 0;      // bytes of addresses
    size_t committed_ = 0;     // bytes from base_ that may be written
    size_t taken_ = 0;         // bytes from base_ handed out
    void* mapping_ = nullptr;  // the reservation, reserved_ bytes and the room to align base_ on a huge page
};
