#include "cluster.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "barre.h"
#include "global.h"
#include "run_exit.h"
#include "user_time.h"

#ifdef MOTBOX_WITH_MPI
#include <mpi.h>
#endif

namespace {

int processRank = 0;
int processCount = 1;
float otherCpuSeconds = 0;

// Starts `threads` workers, each running work() and then ended().
void startWorkers(WorkerThreads& workers, int threads, const std::function<void()>& work,
                  std::function<void()> ended) {
    for (int i = 0; i < threads; ++i)
        if (!workers.start([&work, ended] {
                work();
                ended();
            }))
            fatalError("doSpell: cannot start the extraction threads\n");
}

// The first failure among the workers of a run, raised again in the thread that waits for them.
class WorkerFailure {
  public:
    void record(std::exception_ptr failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!first_) first_ = std::move(failure);
    }
    void rethrowIfAny() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (first_) std::rethrow_exception(first_);
    }

  private:
    std::mutex mutex_;
    std::exception_ptr first_;
};

// The tasks of a run in one process: the workers run them, the calling thread writes them.  A failure on
// either side abandons the board, which stops the other side; the workers' first failure is the one
// raised, since the writer's is only that a task never came.
void runInThisProcess(TaskBoard& board, int threads, const std::function<void()>& work,
                      const std::function<void()>& write) {
    WorkerFailure failure;
    const std::function<void()> guardedWork = [&] {
        try {
            work();
        } catch (...) {
            failure.record(std::current_exception());
            board.abandon();
        }
    };
    WorkerThreads workers;
    try {
        startWorkers(workers, threads, guardedWork, [] {});
        write();
    } catch (...) {
        board.abandon();
        workers.joinAll();
        failure.rethrowIfAny();
        throw;
    }
    workers.joinAll();
    failure.rethrowIfAny();
}

}  // namespace

int clusterSize() {
    return processCount;
}
int clusterRank() {
    return processRank;
}
float clusterOtherCpuSeconds() {
    return otherCpuSeconds;
}

#ifndef MOTBOX_WITH_MPI

void clusterStart(int*, char***) {}
void clusterInputsAccepted() {}
int clusterThreads(int threads) {
    return threads;
}

void runTasks(TaskBoard& board, int threads, const std::function<void()>& work,
              const std::function<void()>& write) {
    runInThisProcess(board, threads, work, write);
}

#else

namespace {

enum Tag : int {
    kGo = 1,  // first rank -> others: 1 to read the inputs, 0 to stop (the first ended without error)
    kClaim,   // int64 task: may the sender run it?
    kGrant,   // int: 1 yes, 0 another rank has it
    kResult,  // int64 [task, result, ticks, streams, figures, figure...]: a finished task, its streams follow
    kData,    // bytes of the current stream; an empty message ends it
    kDone,    // double: the sender's extraction CPU seconds; it claims and sends nothing more
    kRelease,  // first rank -> others: the run is written, finish
};

constexpr size_t kDataBlock = 1u << 20;

bool goSent = false;
int givenStderr = -1;  // ranks after the first: the standard error mpirun gave them
int quietLog = -1;     // ranks after the first: what they wrote on standard error, kept aside

void sendInt(int value, int to, int tag) {
    MPI_Send(&value, 1, MPI_INT, to, tag, MPI_COMM_WORLD);
}

// Waits for a message without holding a core: MPI's blocking calls poll without pause.
void waitForMessage(int source, int tag, MPI_Status* status) {
    useconds_t pause = 20;
    for (;;) {
        int arrived = 0;
        MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, status);
        if (arrived) return;
        usleep(pause);
        pause = std::min<useconds_t>(pause * 2, 1000);
    }
}

int receiveInt(int source, int tag) {
    MPI_Status status;
    waitForMessage(source, tag, &status);
    int value = 0;
    MPI_Recv(&value, 1, MPI_INT, source, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    return value;
}

// Ranks after the first write nothing on standard output, and keep their standard error aside: the first
// rank shows the run's progress and reports what every rank would.
void quietRank() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    quietLog = unlinkedTemporaryDescriptor("motbox-rank");
    if (quietLog < 0) return;
    fflush(stderr);
    givenStderr = dup(STDERR_FILENO);
    dup2(quietLog, STDERR_FILENO);
    barreSilence();
}

// A rank after the first that fails shows its message: what it wrote on standard error after its last
// stage banner ("** ... **").
void showFailure() {
    if (givenStderr < 0) return;
    fflush(stderr);
    std::string log;
    char block[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(quietLog, block, sizeof block, at)) > 0; at += n) log.append(block, n);
    size_t from = 0;
    for (size_t line = 0; line < log.size();) {
        const size_t end = std::min(log.find('\n', line), log.size());
        if (log.compare(line, 3, "** ") == 0) from = std::min(end + 1, log.size());
        line = end + 1;
    }
    while (from < log.size() && log[from] == '\n') ++from;
    if (write(givenStderr, log.data() + from, log.size() - from) < 0) return;
}

// A run that ends with status 0 finishes MPI on every rank; a failing rank leaves its job to mpirun, which
// ends every other rank and returns the status.
void onProcessExit(int status, void*) {
    if (status != 0) {
        if (processRank > 0) showFailure();
        return;
    }
    if (processRank == 0 && !goSent) {
        goSent = true;
        for (int r = 1; r < processCount; ++r) sendInt(0, r, kGo);
    }
    MPI_Finalize();
}

// First rank: grants every task to the first rank that asks, and receives the tasks the others ran.
class WritingDealer final : public TaskDealer {
  public:
    explicit WritingDealer(TaskBoard& board) : board_(board), incoming_(static_cast<size_t>(processCount)) {}

    bool grant(int64_t k) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (granted_.size() <= static_cast<size_t>(k)) granted_.resize(static_cast<size_t>(k) + 1, false);
        if (granted_[static_cast<size_t>(k)]) return false;
        granted_[static_cast<size_t>(k)] = true;
        return true;
    }
    bool shipsResults() const override { return false; }
    void finished(int64_t, TaskRecord) override {}

    // Serves the other ranks until each has sent its last task; returns their CPU seconds.
    double serve() {
        double cpuSeconds = 0;
        for (int running = processCount - 1; running > 0;) {
            MPI_Status status;
            waitForMessage(MPI_ANY_SOURCE, MPI_ANY_TAG, &status);
            const int from = status.MPI_SOURCE;
            switch (status.MPI_TAG) {
                case kClaim: {
                    int64_t k = 0;
                    MPI_Recv(&k, 1, MPI_INT64_T, from, kClaim, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                    sendInt(grant(k) ? 1 : 0, from, kGrant);
                    break;
                }
                case kResult:
                    receiveResult(from, status);
                    break;
                case kData:
                    receiveData(from, status);
                    break;
                case kDone: {
                    double seconds = 0;
                    MPI_Recv(&seconds, 1, MPI_DOUBLE, from, kDone, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                    cpuSeconds += seconds;
                    --running;
                    break;
                }
                default:
                    fatalError("doSpell: unexpected message between the processes of the run\n");
            }
        }
        return cpuSeconds;
    }

  private:
    // A task on its way from another rank.
    struct Incoming {
        int64_t task = -1;
        TaskRecord record;
        size_t stream = 0;  // stream being received
    };

    void receiveResult(int from, const MPI_Status& status) {
        int count = 0;
        MPI_Get_count(&status, MPI_INT64_T, &count);
        std::vector<int64_t> header(static_cast<size_t>(std::max(count, 0)));
        MPI_Recv(header.data(), count, MPI_INT64_T, from, kResult, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (header.size() < 5 || header.size() != 5 + static_cast<size_t>(header[4]))
            fatalError("doSpell: unexpected message between the processes of the run\n");
        Incoming& in = incoming_[static_cast<size_t>(from)];
        in = Incoming{};
        in.task = header[0];
        in.record.result = static_cast<int32_t>(header[1]);
        in.record.ticks = static_cast<int32_t>(header[2]);
        for (int64_t i = 0; i < header[3]; ++i) {
            in.record.streams.push_back(std::make_unique<ChunkStream>(board_.budget()));
            if (in.record.streams.back()->stream() == nullptr)
                fatalError("doSpell: cannot open a stream for a part of the results\n");
        }
        in.record.figures.assign(header.begin() + 5, header.end());
        deliverWhenComplete(in);
    }

    void receiveData(int from, const MPI_Status& status) {
        int count = 0;
        MPI_Get_count(&status, MPI_BYTE, &count);
        buffer_.resize(static_cast<size_t>(std::max(count, 0)));
        MPI_Recv(buffer_.data(), count, MPI_BYTE, from, kData, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        Incoming& in = incoming_[static_cast<size_t>(from)];
        if (in.stream >= in.record.streams.size())
            fatalError("doSpell: unexpected message between the processes of the run\n");
        ChunkStream& stream = *in.record.streams[in.stream];
        const bool kept = count == 0
                              ? stream.finish()
                              : fwrite(buffer_.data(), 1, buffer_.size(), stream.stream()) == buffer_.size();
        if (!kept) fatalError("doSpell: cannot keep a part of the results in a temporary file\n");
        if (count == 0) {
            ++in.stream;
            deliverWhenComplete(in);
        }
    }

    void deliverWhenComplete(Incoming& in) {
        if (in.stream < in.record.streams.size()) return;
        board_.deliver(in.task, std::move(in.record));
        in = Incoming{};
    }

    TaskBoard& board_;
    std::mutex mutex_;
    std::vector<bool> granted_;
    std::vector<Incoming> incoming_;  // by rank
    std::vector<char> buffer_;
};

// Ranks after the first: asks the first rank for each task, and sends it every task run here.  Workers
// queue their requests; the calling thread of runTasks talks to the first rank.
class ShippingDealer final : public TaskDealer {
  public:
    explicit ShippingDealer(int workers) : running_(workers) {}

    bool grant(int64_t k) override {
        Claim claim{k};
        std::unique_lock<std::mutex> lock(mutex_);
        claims_.push_back(&claim);
        changed_.notify_all();
        answered_.wait(lock, [&] { return claim.answered; });
        return claim.granted;
    }
    bool shipsResults() const override { return true; }
    void finished(int64_t k, TaskRecord task) override {
        std::lock_guard<std::mutex> lock(mutex_);
        shipments_.push_back({k, std::move(task)});
        changed_.notify_all();
    }
    void workerEnded() {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        changed_.notify_all();
    }

    // Passes claims (first) and finished tasks to the first rank until every worker has ended.
    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !claims_.empty() || !shipments_.empty() || running_ == 0; });
            if (!claims_.empty()) {
                Claim* claim = claims_.front();
                claims_.pop_front();
                lock.unlock();
                MPI_Send(&claim->task, 1, MPI_INT64_T, 0, kClaim, MPI_COMM_WORLD);
                const bool granted = receiveInt(0, kGrant) != 0;
                lock.lock();
                claim->granted = granted;
                claim->answered = true;
                answered_.notify_all();
            } else if (!shipments_.empty()) {
                Shipment shipment = std::move(shipments_.front());
                shipments_.pop_front();
                lock.unlock();
                ship(shipment);
                lock.lock();
            } else {
                return;
            }
        }
    }

  private:
    struct Claim {
        int64_t task;
        bool answered = false;
        bool granted = false;
    };
    struct Shipment {
        int64_t task;
        TaskRecord record;
    };

    static void ship(Shipment& s) {
        std::vector<int64_t> header = {s.task, s.record.result, s.record.ticks,
                                       static_cast<int64_t>(s.record.streams.size()),
                                       static_cast<int64_t>(s.record.figures.size())};
        header.insert(header.end(), s.record.figures.begin(), s.record.figures.end());
        MPI_Send(header.data(), static_cast<int>(header.size()), MPI_INT64_T, 0, kResult, MPI_COMM_WORLD);
        for (auto& stream : s.record.streams) {
            const bool sent = stream->drain(kDataBlock, [](const char* data, size_t size) {
                return MPI_Send(data, static_cast<int>(size), MPI_BYTE, 0, kData, MPI_COMM_WORLD) ==
                       MPI_SUCCESS;
            });
            if (!sent)
                fatalError("doSpell: cannot read back a part of the results from its temporary file\n");
            MPI_Send(nullptr, 0, MPI_BYTE, 0, kData, MPI_COMM_WORLD);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable answered_;
    std::deque<Claim*> claims_;
    std::deque<Shipment> shipments_;
    int running_;
};

// Ends this process of a cluster run with the failure's text and status.
[[noreturn]] void endProcess(const RunExit& e) {
    fwrite(e.text().data(), 1, e.text().size(), stderr);
    exit(e.status());
}

void runWritingRank(TaskBoard& board, int threads, const std::function<void()>& work,
                    const std::function<void()>& write) {
    WritingDealer dealer(board);
    board.setDealer(&dealer);
    double others = 0;
    WorkerThreads server;
    if (!server.start([&] { others = dealer.serve(); }))
        fatalError("doSpell: cannot start the extraction threads\n");
    WorkerThreads workers;
    startWorkers(workers, threads, work, [] {});
    write();
    workers.joinAll();
    server.joinAll();
    for (int r = 1; r < processCount; ++r) sendInt(1, r, kRelease);
    board.setDealer(nullptr);
    otherCpuSeconds = static_cast<float>(others);
}

void runShippingRank(TaskBoard& board, int threads, const std::function<void()>& work) {
    const float start = userTimeTicks();
    ShippingDealer dealer(threads);
    board.setDealer(&dealer);
    WorkerThreads workers;
    startWorkers(workers, threads, work, [&dealer] { dealer.workerEnded(); });
    dealer.serve();
    workers.joinAll();
    double seconds = userSecondsSince(start);
    MPI_Send(&seconds, 1, MPI_DOUBLE, 0, kDone, MPI_COMM_WORLD);
    receiveInt(0, kRelease);
    board.setDealer(nullptr);
}

}  // namespace

void clusterStart(int* argc, char*** argv) {
    int provided = 0;
    if (MPI_Init_thread(argc, argv, MPI_THREAD_SERIALIZED, &provided) != MPI_SUCCESS) {
        endRunWith(1, ">> Error: main: cannot start MPI\n");
    }
    MPI_Comm_rank(MPI_COMM_WORLD, &processRank);
    MPI_Comm_size(MPI_COMM_WORLD, &processCount);
    if (provided < MPI_THREAD_SERIALIZED) {
        if (processRank == 0)
            fputs(">> Error: main: the MPI library does not serve threaded programs\n", stderr);
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
    on_exit(onProcessExit, nullptr);
    if (processRank == 0) return;
    quietRank();
    goSent = true;
    // The first rank refused the run or ended early: this one ends without a word.
    if (receiveInt(0, kGo) == 0) endRunWith(0, "");
}

void clusterInputsAccepted() {
    if (processRank != 0 || goSent) return;
    goSent = true;
    for (int r = 1; r < processCount; ++r) sendInt(1, r, kGo);
}

int clusterThreads(int threads) {
    int total = threads;
    MPI_Allreduce(&threads, &total, 1, MPI_INT, MPI_SUM, MPI_COMM_WORLD);
    return total;
}

void runTasks(TaskBoard& board, int threads, const std::function<void()>& work,
              const std::function<void()>& write) {
    if (processCount == 1) {
        runInThisProcess(board, threads, work, write);
        return;
    }
    // The processes of a cluster run wait for one another's messages: a failure in one of them ends its
    // process where it happens, whichever thread it is in, and mpirun then stops the others.
    const auto endingTheProcess = [](const std::function<void()>& part) {
        return [&part] {
            try {
                part();
            } catch (const RunExit& e) {
                endProcess(e);
            }
        };
    };
    const std::function<void()> failingWork = endingTheProcess(work);
    const std::function<void()> failingWrite = endingTheProcess(write);
    try {
        if (processRank == 0)
            runWritingRank(board, threads, failingWork, failingWrite);
        else
            runShippingRank(board, threads, failingWork);
    } catch (const RunExit& e) {
        endProcess(e);
    }
}

#endif
