#include "spill_streams.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

// A task keeps at most this much in memory before its stream goes to a temporary file.
constexpr size_t kChunkMemory = 4u << 20;
constexpr size_t kCopyBlock = 1u << 16;

}  // namespace

int unlinkedTemporaryDescriptor(const char* stem) {
    const char* dir = getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + stem + "-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd >= 0) unlink(path.c_str());
    return fd;
}

FILE* unlinkedTemporaryFile(const char* stem) {
    const int fd = unlinkedTemporaryDescriptor(stem);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "w+");
    if (file == nullptr) close(fd);
    return file;
}

CallbackStream::CallbackStream(Sink sink) : sink_(std::move(sink)) {
    cookie_io_functions_t io{};
    io.write = &CallbackStream::onWrite;
    stream_ = fopencookie(this, "w", io);
}

void CallbackStream::close() {
    if (stream_ != nullptr) fclose(stream_);
    stream_ = nullptr;
}

ssize_t CallbackStream::onWrite(void* cookie, const char* data, size_t size) {
    auto* self = static_cast<CallbackStream*>(cookie);
    return self->sink_(data, size) ? static_cast<ssize_t>(size) : -1;
}

ChunkStream::ChunkStream(SpillBudget& budget)
    : budget_(budget), out_([this](const char* data, size_t size) {
          if (keep(data, size)) return true;
          failed_ = true;
          return false;
      }) {
    if (out_.stream() == nullptr) failed_ = true;
}

ChunkStream::~ChunkStream() {
    out_.close();
    if (spill_ != nullptr) fclose(spill_);
    budget_.give(static_cast<int64_t>(memory_.size()));
}

bool ChunkStream::keep(const char* data, size_t size) {
    if (spill_ == nullptr && memory_.size() + size <= kChunkMemory &&
        budget_.take(static_cast<int64_t>(size))) {
        memory_.append(data, size);
        return true;
    }
    if (spill_ == nullptr && !spill()) return false;
    return fwrite(data, 1, size, spill_) == size;
}

// Moves what memory holds to a new temporary file, which takes every later byte.
bool ChunkStream::spill() {
    spill_ = unlinkedTemporaryFile("motbox-task");
    if (spill_ == nullptr) return false;
    const bool written = fwrite(memory_.data(), 1, memory_.size(), spill_) == memory_.size();
    budget_.give(static_cast<int64_t>(memory_.size()));
    std::string().swap(memory_);
    return written;
}

bool ChunkStream::finish() {
    if (out_.stream() != nullptr && fflush(out_.stream()) != 0) failed_ = true;
    return !failed_;
}

bool ChunkStream::copyTo(FILE* out) {
    return drain(kCopyBlock,
                 [out](const char* data, size_t size) { return fwrite(data, 1, size, out) == size; });
}

bool ChunkStream::drain(size_t maxBlock, const std::function<bool(const char*, size_t)>& sink) {
    if (!finish()) return false;
    bool ok = true;
    if (spill_ == nullptr) {
        for (size_t at = 0; at < memory_.size() && ok; at += maxBlock)
            ok = sink(memory_.data() + at, std::min(maxBlock, memory_.size() - at));
        budget_.give(static_cast<int64_t>(memory_.size()));
        std::string().swap(memory_);
        return ok;
    }
    if (fflush(spill_) != 0 || fseek(spill_, 0, SEEK_SET) != 0) return false;
    std::vector<char> block(maxBlock);
    size_t n;
    while (ok && (n = fread(block.data(), 1, block.size(), spill_)) > 0) ok = sink(block.data(), n);
    if (ferror(spill_)) ok = false;
    fclose(spill_);
    spill_ = nullptr;
    return ok;
}
