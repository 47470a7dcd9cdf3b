#include "task_output.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "run.h"

TaskRecord& TaskBoard::record(int64_t k) {
    while (first_ + static_cast<int64_t>(tasks_.size()) <= k) tasks_.emplace_back();
    return tasks_[static_cast<size_t>(k - first_)];
}

TaskRecord* TaskBoard::claim(int64_t k) {
    TaskRecord* task;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (k < first_ || abandoned_) return nullptr;
        task = &record(k);
        if (task->claimed) return nullptr;
        task->claimed = true;
    }
    // The record stays in place meanwhile: records leave the front only once done.
    if (dealer_ == nullptr || dealer_->grant(k)) return task;
    if (dealer_->shipsResults()) {
        // Another process runs it and nothing of it comes here.
        std::lock_guard<std::mutex> lock(mutex_);
        task->done = true;
        task->released = true;
        dropWritten();
    }
    return nullptr;
}

void TaskBoard::finish(int64_t k, int32_t result) {
    if (shipsResults()) {
        TaskRecord shipped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            TaskRecord& task = record(k);
            task.result = result;
            task.done = true;
            shipped = std::move(task);
            task.streams.clear();
            task.released = true;
            dropWritten();
        }
        dealer_->finished(k, std::move(shipped));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        TaskRecord& task = record(k);
        task.result = result;
        task.done = true;
    }
    changed_.notify_all();
}

void TaskBoard::deliver(int64_t k, TaskRecord arrived) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        TaskRecord& task = record(k);
        task = std::move(arrived);
        task.claimed = true;
        task.done = true;
    }
    changed_.notify_all();
}

TaskRecord* TaskBoard::waitFor(int64_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return abandoned_ || record(k).done; });
    return abandoned_ ? nullptr : &record(k);
}

void TaskBoard::release(int64_t k) {
    std::lock_guard<std::mutex> lock(mutex_);
    TaskRecord& task = record(k);
    task.streams.clear();
    task.released = true;
    dropWritten();
}

// Records are dropped from the front once written; deque references to later ones stay valid.
void TaskBoard::dropWritten() {
    while (!tasks_.empty() && tasks_.front().released) {
        tasks_.pop_front();
        ++first_;
    }
}

void TaskBoard::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

bool WorkerThreads::start(std::function<void()> body) {
    // The worker works for the run of the thread that starts it.
    Run* owner = Run::current();
    bodies_.push_back(std::make_unique<std::function<void()>>([owner, body = std::move(body)] {
        if (owner == nullptr) {
            body();
            return;
        }
        RunBinding bound(owner);
        body();
    }));
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    if (pthread_create(&thread, nullptr, run, bodies_.back().get()) != 0) {
        bodies_.pop_back();
        return false;
    }
    threads_.push_back(thread);
    return true;
}

void WorkerThreads::joinAll() {
    for (pthread_t t : threads_) pthread_join(t, nullptr);
    threads_.clear();
    bodies_.clear();
}

int32_t taskDepth(int32_t symbols, int32_t threads, int32_t maxLength) {
    // About 64 tasks per thread: the walk's subtrees differ in size by orders of magnitude.
    const double wanted = 64.0 * std::max(1, threads);
    int32_t depth = 1;
    if (symbols >= 2) depth = static_cast<int32_t>(std::ceil(std::log(wanted) / std::log(symbols)));
    depth = std::max(1, depth);
    if (maxLength > 0) depth = std::min(depth, maxLength);
    return depth;
}
