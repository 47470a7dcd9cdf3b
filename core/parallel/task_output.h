#pragma once
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "spill_streams.h"

// The task board of a parallel extraction.  The walk is cut into tasks (the subtrees of the models of one
// depth, numbered in walk order); each task writes its models into spill streams of its own, which a
// single writer copies to the result files in task order.

// What the walk records about one task; written by the worker that runs it, read by the writer once done.
struct TaskRecord {
    bool claimed = false;
    bool done = false;
    bool released = false;  // written, or handed to another process: the record may go
    int32_t result = 0;     // the walk's result for the task's model
    int32_t ticks = 0;      // meter steps of a task run by another process, drawn when it is written
    std::vector<std::unique_ptr<ChunkStream>> streams;  // the task's output, in the engine's order
    std::vector<int32_t> figures;                       // the engine's counts for the summary lines
};

// Deals the tasks of a run among several processes; a run in one process has none.
class TaskDealer {
  public:
    virtual ~TaskDealer() = default;
    // Whether this process runs task k: the first process of the run to ask gets it.
    virtual bool grant(int64_t k) = 0;
    // True on a process that does not write the results: its finished tasks go to finished().
    virtual bool shipsResults() const = 0;
    // Takes task k, run here and finished, to the process that writes the results.
    virtual void finished(int64_t k, TaskRecord task) = 0;
};

// Tasks of one parallel extraction: claimed by workers in walk order, handed to the writer in that order.
class TaskBoard {
  public:
    explicit TaskBoard(int64_t memoryBudget) : budget_(memoryBudget) {}

    // The record of task k when the caller becomes its owner, else null (another worker has it).
    TaskRecord* claim(int64_t k);
    // Marks task k done with the walk's result for its model.
    void finish(int64_t k, int32_t result);
    // Waits until task k is done, then returns its record for the writer.
    TaskRecord* waitFor(int64_t k);
    // Drops task k's record once written.
    void release(int64_t k);
    // Ends every wait: a worker failed and the run stops.
    void abandon();
    // Task k, run by another process, arrived with its output: the writer may take it.
    void deliver(int64_t k, TaskRecord task);

    // Tasks are shared with other processes through dealer from now on.
    void setDealer(TaskDealer* dealer) { dealer_ = dealer; }
    // True when the tasks run here are written by another process.
    bool shipsResults() const { return dealer_ != nullptr && dealer_->shipsResults(); }
    SpillBudget& budget() { return budget_; }

  private:
    TaskRecord& record(int64_t k);  // needs mutex_
    void dropWritten();             // needs mutex_

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TaskRecord> tasks_;
    int64_t first_ = 0;  // number of the task at the front of tasks_
    bool abandoned_ = false;
    SpillBudget budget_;
    TaskDealer* dealer_ = nullptr;
};

// The worker threads of a parallel run, started with pthread_create: libstdc++'s std::thread hands its
// state over in a way that UndefinedBehaviorSanitizer's vptr check misreads when the thread ends at once.
class WorkerThreads {
  public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { joinAll(); }
    // Runs body on a new thread; false when no thread could be started.
    bool start(std::function<void()> body);
    void joinAll();

  private:
    std::vector<pthread_t> threads_;
    std::vector<std::unique_ptr<std::function<void()>>> bodies_;
};

// Depth of the models whose subtrees are the tasks: deep enough that there are many more tasks than
// threads (so that one heavy first symbol does not hold the run), no deeper than the longest model.
int32_t taskDepth(int32_t symbols, int32_t threads, int32_t maxLength);
