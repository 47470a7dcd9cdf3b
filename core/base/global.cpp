#include "global.h"

#include <cstdio>

#include "run_exit.h"

void fatalError(const char* msg) {
    endRun(1, ">> Error: %s\n", msg);
}

void warning(const char* msg) {
    fprintf(stderr, "> Warning: %s\n", msg);
}
