#pragma once
// For death tests of the library's refusals: runs a statement as a program runs its body, so that the
// RunExit that ends it early is written on standard error and ends the process with its status.
#include <cstdio>
#include <cstdlib>

#include "run_exit.h"

template <typename F>
void asProgram(F&& statement) {
    try {
        statement();
    } catch (const RunExit& e) {
        fwrite(e.text().data(), 1, e.text().size(), stderr);
        std::exit(e.status());
    }
}
