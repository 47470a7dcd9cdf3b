// The binding of one program's run: built twice, as motbox._motbox and motbox._motbox_delta, each with its
// own build of the library (the two differ in their criteria and engine).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <string>
#include <vector>

#include MOTBOX_PROGRAM_HEADER
#include "run.h"
#include "run_exit.h"

namespace py = pybind11;

namespace {

// Runs a command line in a run of its own, without the interpreter's lock; a refusal or a failure raises
// ValueError with what the program writes on standard error.
int cli(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = 0;
    std::string refusal;
    {
        py::gil_scoped_release unlocked;
        Run run;
        RunBinding bound(&run);
        try {
            status = MOTBOX_PROGRAM_RUN(static_cast<int>(args.size()), argv.data());
        } catch (const RunExit& e) {
            status = e.status();
            if (status != 0)
                refusal = e.text().empty() ? "the run ended with status " + std::to_string(status) : e.text();
        }
        fflush(stdout);
        fflush(stderr);
    }
    if (!refusal.empty()) throw py::value_error(refusal);
    return status;
}

}  // namespace

PYBIND11_MODULE(MOTBOX_MODULE_NAME, m) {
    m.doc() = "One program's run of motbox, in this process.";
    m.def("cli", &cli, py::arg("args"),
          "Runs the command line args (argv[0] first) in this process and returns the exit status; a refusal "
          "raises ValueError with the program's message.");
}
