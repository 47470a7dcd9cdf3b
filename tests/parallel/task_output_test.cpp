// Ordered output of parallel runs: task streams in memory and in temporary files, the task board, the
// task depth, and whole runs on the shipped promoters with one and four threads.
#include "task_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Everything a stream kept, read back through copyTo.
std::string copied(ChunkStream& chunk) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    EXPECT_TRUE(chunk.copyTo(out));
    fclose(out);
    std::string s(text, size);
    free(text);
    return s;
}

std::string randomText(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    for (char& c : s) c = static_cast<char>('A' + rng() % 26);
    return s;
}

TEST(ChunkStream, KeepsEveryByteInMemoryOrInAnUnlinkedFile) {
    const std::string tmp = makeTempDir();
    setenv("TMPDIR", tmp.c_str(), 1);
    // Budgets: all in memory; nothing in memory; more than one stream's own limit (4 MB).
    for (int64_t budget : {int64_t{1} << 30, int64_t{0}, int64_t{64} << 20}) {
        SpillBudget spill(budget);
        const std::string text = randomText(9u << 20, static_cast<unsigned>(budget));
        ChunkStream chunk(spill);
        for (size_t i = 0; i < text.size(); i += 100000)
            fwrite(text.data() + i, 1, std::min<size_t>(100000, text.size() - i), chunk.stream());
        EXPECT_TRUE(chunk.finish());
        // A spilled stream leaves no name behind.
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << budget;
        EXPECT_EQ(copied(chunk), text) << budget;
    }
    unsetenv("TMPDIR");
    removeTree(tmp);
}

TEST(ChunkStream, GivesItsMemoryBackToTheBudget) {
    SpillBudget spill(1000);
    {
        ChunkStream a(spill);
        fputs(std::string(800, 'a').c_str(), a.stream());
        a.finish();
        EXPECT_FALSE(spill.take(300));  // 800 of 1000 held
    }
    EXPECT_TRUE(spill.take(1000));
}

TEST(TaskBoard, WorkersClaimEachTaskOnceAndTheWriterReadsThemInOrder) {
    constexpr int kTasks = 300;
    TaskBoard board(1 << 20);
    WorkerThreads workers;
    std::atomic<int> runs{0};
    for (int w = 0; w < 3; ++w)
        workers.start([&] {
            // Like a walker: every task met in order, run when claimed.
            for (int64_t k = 0; k < kTasks; ++k) {
                TaskRecord* task = board.claim(k);
                if (task == nullptr) continue;
                ++runs;
                task->streams.push_back(std::make_unique<ChunkStream>(board.budget()));
                fprintf(task->streams.back()->stream(), "task %lld\n", static_cast<long long>(k));
                task->streams.back()->finish();
                board.finish(k, static_cast<int32_t>(k % 2));
            }
        });
    std::string written, expected;
    for (int64_t k = 0; k < kTasks; ++k) {
        TaskRecord* task = board.waitFor(k);
        ASSERT_NE(task, nullptr);
        EXPECT_EQ(task->result, k % 2);
        written += copied(*task->streams.at(0));
        expected += "task " + std::to_string(k) + "\n";
        board.release(k);
    }
    workers.joinAll();
    EXPECT_EQ(runs.load(), kTasks);
    EXPECT_EQ(written, expected);
}

// Two processes simulated in one: the grant table of the writing one, and a shipping one whose finished
// tasks are handed over as a network would (bytes drained into new streams of the writer's board).
struct SharedGrants {
    std::mutex mutex;
    std::vector<int> runner;  // by task: 0 none, else the process that has it
    bool grant(int64_t k, int process) {
        std::lock_guard<std::mutex> lock(mutex);
        if (runner.size() <= static_cast<size_t>(k)) runner.resize(static_cast<size_t>(k) + 1, 0);
        if (runner[static_cast<size_t>(k)] != 0) return false;
        runner[static_cast<size_t>(k)] = process;
        return true;
    }
};
struct WriterSide final : TaskDealer {
    SharedGrants& grants;
    explicit WriterSide(SharedGrants& g) : grants(g) {}
    bool grant(int64_t k) override { return grants.grant(k, 1); }
    bool shipsResults() const override { return false; }
    void finished(int64_t, TaskRecord) override { ADD_FAILURE() << "the writer ships nothing"; }
};
struct ShipperSide final : TaskDealer {
    SharedGrants& grants;
    TaskBoard& writer;
    ShipperSide(SharedGrants& g, TaskBoard& w) : grants(g), writer(w) {}
    bool grant(int64_t k) override { return grants.grant(k, 2); }
    bool shipsResults() const override { return true; }
    void finished(int64_t k, TaskRecord task) override {
        TaskRecord arrived;
        arrived.result = task.result;
        arrived.ticks = task.ticks;
        arrived.figures = task.figures;
        for (auto& stream : task.streams) {
            arrived.streams.push_back(std::make_unique<ChunkStream>(writer.budget()));
            FILE* to = arrived.streams.back()->stream();
            EXPECT_TRUE(stream->drain(3, [to](const char* d, size_t n) { return fwrite(d, 1, n, to) == n; }));
            arrived.streams.back()->finish();
        }
        writer.deliver(k, std::move(arrived));
    }
};

TEST(TaskBoard, DealtBetweenProcessesEachTaskRunsOnceAndIsWrittenInOrder) {
    constexpr int kTasks = 400;
    SharedGrants grants;
    TaskBoard writing(1 << 20), shipping(1 << 20);
    WriterSide writerSide(grants);
    ShipperSide shipperSide(grants, writing);
    writing.setDealer(&writerSide);
    shipping.setDealer(&shipperSide);
    EXPECT_TRUE(shipping.shipsResults());
    EXPECT_FALSE(writing.shipsResults());
    WorkerThreads workers;
    for (TaskBoard* board : {&writing, &writing, &shipping, &shipping})
        workers.start([board] {
            for (int64_t k = 0; k < kTasks; ++k) {
                TaskRecord* task = board->claim(k);
                if (task == nullptr) continue;
                task->streams.push_back(std::make_unique<ChunkStream>(board->budget()));
                fprintf(task->streams.back()->stream(), "task %lld\n", static_cast<long long>(k));
                task->figures = {static_cast<int32_t>(k)};
                task->ticks = board->shipsResults() ? 1 : 0;
                board->finish(k, static_cast<int32_t>(k % 3));
            }
        });
    std::string written, expected;
    int ticks = 0;
    for (int64_t k = 0; k < kTasks; ++k) {
        TaskRecord* task = writing.waitFor(k);
        ASSERT_NE(task, nullptr);
        EXPECT_EQ(task->result, k % 3);
        EXPECT_EQ(task->figures, std::vector<int32_t>{static_cast<int32_t>(k)});
        ticks += task->ticks;
        written += copied(*task->streams.at(0));
        expected += "task " + std::to_string(k) + "\n";
        writing.release(k);
    }
    workers.joinAll();
    EXPECT_EQ(written, expected);
    EXPECT_EQ(ticks, static_cast<int>(std::count(grants.runner.begin(), grants.runner.end(), 2)));
    EXPECT_EQ(std::count(grants.runner.begin(), grants.runner.end(), 0), 0);
    // The shipping side keeps no record once every task has left or gone elsewhere.
    EXPECT_EQ(shipping.claim(kTasks - 1), nullptr);
}

TEST(TaskBoard, AbandonEndsTheWriterWait) {
    TaskBoard board(1024);
    WorkerThreads stopper;
    ASSERT_TRUE(stopper.start([&] { board.abandon(); }));
    EXPECT_EQ(board.waitFor(0), nullptr);
    stopper.joinAll();
    EXPECT_EQ(board.claim(1), nullptr);
}

TEST(TaskDepth, ManyMoreTasksThanThreadsWithinTheLongestModel) {
    struct Row {
        int32_t symbols, threads, maxLength, depth;
    };
    for (const Row& r :
         {Row{4, 1, 0, 3}, Row{4, 2, 0, 4}, Row{4, 64, 0, 6}, Row{6, 2, 0, 3}, Row{20, 2, 0, 2},
          Row{20, 128, 0, 4}, Row{4, 2, 2, 2}, Row{1, 8, 0, 1}, Row{4, 2, 1, 1}})
        EXPECT_EQ(taskDepth(r.symbols, r.threads, r.maxLength), r.depth)
            << r.symbols << " symbols, " << r.threads << " threads, longest " << r.maxLength;
}

std::string maskUserTime(const std::string& s) {
    return std::regex_replace(s, std::regex("User time : [0-9]+\\.[0-9]{2} sec\\."), "User time : #");
}

// Two boxes with substitutions and a spacer range on the shipped promoters (about 15 000 models): the thread
// count changes no byte of the result, written to a file or to standard output.
TEST(ParallelRun, OneAndFourThreadsWriteTheSameResults) {
    const std::string promoters = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa";
    const std::vector<std::string> criteria = {"90", "2", "12", "12", "1", "6", "6",
                                               "1",  "3", "9",  "6",  "6", "1"};
    for (const std::string output : {"r.txt", "stdout"}) {
        std::string results[2], outs[2];
        int threads[2] = {1, 4};
        for (int i = 0; i < 2; ++i) {
            const std::string dir = makeTempDir();
            writeFile(dir + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
            std::vector<std::string> args = {MOTBOX_BIN,  "-t",      std::to_string(threads[i]),
                                             "acgt.alph", promoters, output};
            args.insert(args.end(), criteria.begin(), criteria.end());
            const RunResult r = runCommand(args, dir);
            ASSERT_EQ(r.status, 0) << r.err;
            outs[i] = maskUserTime(r.out);
            results[i] = output == "stdout" ? outs[i] : maskUserTime(readFile(dir + "/" + output));
            removeTree(dir);
        }
        EXPECT_NE(results[0].find("Nb models: "), std::string::npos);
        EXPECT_GT(results[0].size(), 100000u) << "the case must write many models";
        EXPECT_EQ(results[0], results[1]) << output;
        EXPECT_EQ(outs[0], outs[1]) << output;
    }
}

}  // namespace
