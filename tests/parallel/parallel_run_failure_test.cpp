// A failure in a parallel run, in a worker or in the writer, ends the run with that failure: the other
// side stops instead of waiting for tasks that never come, and the process goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "cluster.h"
#include "global.h"
#include "run_exit.h"
#include "task_output.h"

namespace {

constexpr int64_t kTasks = 200;

// Workers claim the tasks in order and finish them, except that failAt fails in its worker; the writer
// waits for every task in order, failing itself at writerFailAt.
std::string runEndingWith(int64_t failAt, int64_t writerFailAt, int threads) {
    TaskBoard board(1 << 20);
    std::atomic<int64_t> written{0};
    auto work = [&] {
        for (int64_t k = 0; k < kTasks; ++k) {
            if (board.claim(k) == nullptr) continue;
            if (k == failAt) fatalError("worker failed");
            board.finish(k, 0);
        }
    };
    auto write = [&] {
        for (int64_t k = 0; k < kTasks; ++k) {
            if (k == writerFailAt) fatalError("writer failed");
            if (board.waitFor(k) == nullptr) fatalError("a task never came");
            board.release(k);
            ++written;
        }
    };
    try {
        runTasks(board, threads, work, write);
    } catch (const RunExit& e) {
        return e.text();
    }
    return written == kTasks ? "all written" : "returned early";
}

TEST(ParallelRunFailure, EndsTheRunWithTheFirstFailure) {
    for (int threads : {1, 3}) {
        EXPECT_EQ(runEndingWith(-1, -1, threads), "all written") << threads;
        // The writer's own complaint that a task never came is not the failure to report.
        EXPECT_EQ(runEndingWith(57, -1, threads), ">> Error: worker failed\n") << threads;
        EXPECT_EQ(runEndingWith(0, -1, threads), ">> Error: worker failed\n") << threads;
        EXPECT_EQ(runEndingWith(-1, 10, threads), ">> Error: writer failed\n") << threads;
    }
}

}  // namespace
