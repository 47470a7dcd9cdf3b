#include "barre.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int kCells = 60;

Meter processMeter;

time_t (*clockFn)(time_t*) = time;

}  // namespace

constinit thread_local Meter* meterInUse = &processMeter;

void repChar(char c, int count) {
    for (int i = 0; i < count; i++) fputc(c, stderr);
}

void barreSilence() {
    progressMeter().silent = true;
}

void progressNote(const char* format, ...) {
    if (progressMeter().quiet) return;
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

void barre(int n) {
    Meter& m = progressMeter();
    if (m.silent || m.quiet) return;
    if (n != 0) {
        m.start = clockFn(nullptr);
        m.lastecrit = 0;
        m.max = n;
        m.pos = 1;
        fprintf(stderr, "  0%%");
        fprintf(stderr, " [");
        repChar(' ', kCells);
        fprintf(stderr, "]");
        return;
    }
    if (m.pos > m.max) return;
    if (m.pos == m.max) {
        fprintf(stderr, "\r100%%");
        fprintf(stderr, " [");
        repChar('.', kCells);
        fprintf(stderr, "]");
        fprintf(stderr, " 00:00:00\n");
        m.pos++;
        return;
    }
    int elapsed = static_cast<int>(difftime(clockFn(nullptr), m.start));
    int remaining = static_cast<int>(static_cast<double>(elapsed) * (m.max - m.pos) / m.pos);
    int hours = remaining / 3600;
    int minutes = (remaining - 3600 * hours) / 60;
    int seconds = remaining - 3600 * hours - 60 * minutes;
    // 64-bit products: the engines start the meter with the cube of the models alphabet size.
    int cells = static_cast<int>(static_cast<long long>(kCells) * m.pos / m.max);
    if (cells != m.lastecrit) {
        fprintf(stderr, "\r%3d%%", static_cast<int>(100LL * m.pos / m.max));
        fprintf(stderr, " [");
        repChar('.', cells);
        repChar(' ', kCells - cells);
        fprintf(stderr, "]");
        if (m.pos > 3) fprintf(stderr, " %02d:%02d:%02d", hours, minutes, seconds);
        m.lastecrit = cells;
    }
    m.pos++;
}

int entree() {
    printf("\n-- Type ENTER\n");
    fflush(stdout);
    fflush(stdin);
    return getchar();
}

void barreSetClock(time_t (*clock)(time_t*)) {
    clockFn = clock ? clock : time;
}

void barreReset() {
    Meter& m = progressMeter();
    m.pos = 0;
    m.max = 0;
    m.lastecrit = 0;
    m.start = 0;
}
