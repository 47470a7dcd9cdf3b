#include "run_messages.h"

#include <cstdlib>

#include "global.h"

void refuseRun(const RunMessage& m, const char* name) {
    if (m.viaFatalError) fatalError(m.text);
    fprintf(stderr, m.text, name);
    exit(1);
}

FILE* openInputOrRefuse(const char* path, const RunMessage& onFailure) {
    FILE* fp = fopen(path, "r");
    if (fp == nullptr) refuseRun(onFailure, path);
    return fp;
}
