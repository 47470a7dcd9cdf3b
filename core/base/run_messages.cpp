#include "run_messages.h"

#include <cstdlib>

#include "global.h"
#include "run_exit.h"

void refuseRun(const RunMessage& m, const char* name) {
    if (m.viaFatalError) fatalError(m.text);
    endRun(1, m.text, name);
}

FILE* openInputOrRefuse(const char* path, const RunMessage& onFailure) {
    FILE* fp = fopen(path, "r");
    if (fp == nullptr) refuseRun(onFailure, path);
    return fp;
}
