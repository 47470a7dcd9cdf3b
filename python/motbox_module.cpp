// The binding of one program's run: built twice, as motbox._motbox and motbox._motbox_delta, each with its
// own build of the library (the two differ in their criteria and engine).  Besides the run, it reads back
// the result files the package keeps a run's models in.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include MOTBOX_PROGRAM_HEADER
#include "result_file.h"
#include "run.h"
#include "run_exit.h"
#include "run_messages.h"

namespace py = pybind11;

namespace {

// How often the waiting thread looks for a signal (Ctrl-C) while a run goes on.
constexpr auto kSignalPoll = std::chrono::milliseconds(100);

struct Outcome {
    int status = 0;
    std::string refusal;  // the standard-error text of a run that ended with a status other than 0
    std::exception_ptr failure;
};

// Runs the command line in a run of its own, in a thread of its own.
void runInAThread(std::vector<char*>& argv, const std::atomic<bool>& stop, Outcome& out) {
    Run run;
    run.stopRequest = &stop;
    RunBinding bound(&run);
    try {
        out.status = MOTBOX_PROGRAM_RUN(static_cast<int>(argv.size()) - 1, argv.data());
    } catch (const RunExit& e) {
        out.status = e.status();
        if (out.status != 0)
            out.refusal =
                e.text().empty() ? "the run ended with status " + std::to_string(out.status) : e.text();
    } catch (...) {
        out.failure = std::current_exception();
    }
    fflush(stdout);
    fflush(stderr);
}

// Runs a command line without the interpreter's lock.  The run goes on in a thread of its own while the
// calling thread waits and looks for signals: on Ctrl-C the run is asked to stop, ends at its next check,
// and KeyboardInterrupt is raised.  A refusal or a failure raises ValueError with what the program writes
// on standard error.
int cli(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Outcome out;
    bool interrupted = false;
    {
        py::gil_scoped_release unlocked;
        std::atomic<bool> stop{false};
        std::mutex m;
        std::condition_variable ended;
        bool done = false;
        std::thread worker([&] {
            runInAThread(argv, stop, out);
            const std::lock_guard<std::mutex> lock(m);
            done = true;
            ended.notify_one();
        });
        std::unique_lock<std::mutex> lock(m);
        while (!ended.wait_for(lock, kSignalPoll, [&] { return done; })) {
            if (interrupted) continue;
            lock.unlock();
            {
                py::gil_scoped_acquire locked;
                interrupted = PyErr_CheckSignals() != 0;  // leaves the exception set for the raise below
            }
            if (interrupted) stop = true;
            lock.lock();
        }
        lock.unlock();
        worker.join();
    }
    if (interrupted) throw py::error_already_set();
    if (out.failure) std::rethrow_exception(out.failure);
    if (!out.refusal.empty()) throw py::value_error(out.refusal);
    return out.status;
}

FILE* openResult(const std::string& path) {
    FILE* in = fopen(path.c_str(), "r");
    if (in == nullptr) throw py::value_error("cannot read the result file '" + path + "'");
    return in;
}

// The models of a result file: a dict of lists (name, code, support, occurrences, offset) and the final
// counts.
py::dict readResult(const std::string& path) {
    StoredResult result;
    {
        py::gil_scoped_release unlocked;
        const OwnedFile in(openResult(path));
        result = readStoredResult(in.get());
    }
    py::list names, codes, supports, occurrences, offsets;
    for (const StoredModel& m : result.models) {
        names.append(m.name);
        codes.append(m.code);
        supports.append(m.support);
        occurrences.append(m.occurrences);
        offsets.append(m.occurrencesAt);
    }
    py::dict d;
    d["model"] = names;
    d["code"] = codes;
    d["support"] = supports;
    d["occurrences"] = occurrences;
    d["offset"] = offsets;
    d["complete"] = result.complete;
    d["recorded_models"] = result.recordedModels;
    d["user_seconds"] = result.userSeconds;
    return d;
}

// The occurrence lines of one model as packed native int32 records: seq, pos, the spacer lengths, and the
// strand's character code.
py::bytes readOccurrences(const std::string& path, int64_t offset, size_t spacers, bool strandMarked) {
    std::string packed;
    {
        py::gil_scoped_release unlocked;
        const OwnedFile in(openResult(path));
        for (const Occurrence& o : storedOccurrences(in.get(), offset, spacers, strandMarked)) {
            auto put = [&packed](int32_t v) { packed.append(reinterpret_cast<const char*>(&v), sizeof v); };
            put(o.seq);
            put(o.pos);
            for (int s : o.spacers) put(s);
            put(static_cast<unsigned char>(o.strand));
        }
    }
    return py::bytes(packed);
}

}  // namespace

PYBIND11_MODULE(MOTBOX_MODULE_NAME, m) {
    m.doc() = "One program's run of motbox, in this process, and its result files read back.";
    m.def("cli", &cli, py::arg("args"),
          "Runs the command line args (argv[0] first) in this process and returns the exit status; a refusal "
          "raises ValueError with the program's message, Ctrl-C stops the run and raises KeyboardInterrupt.");
    m.def("read_result", &readResult, py::arg("path"), "The models of a result file and its final counts.");
    m.def("read_occurrences", &readOccurrences, py::arg("path"), py::arg("offset"), py::arg("spacers"),
          py::arg("strand_marked"),
          "The occurrence lines of the model whose first one starts at offset, as packed int32 records.");
}
