#include "global.h"

#include <cstdio>
#include <cstdlib>

void fatalError(const char* msg) {
    fprintf(stderr, ">> Error: %s\n", msg);
    exit(1);
}

void warning(const char* msg) {
    fprintf(stderr, "> Warning: %s\n", msg);
}
