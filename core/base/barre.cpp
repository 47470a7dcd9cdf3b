#include "barre.h"

#include <cstdio>

namespace {

constexpr int kCells = 60;

// The meter's state, zero at program start; one meter per process.
int pos = 0;
int max = 0;
int lastecrit = 0;
time_t start = 0;
bool silent = false;

time_t (*clockFn)(time_t*) = time;

}  // namespace

void repChar(char c, int count) {
    for (int i = 0; i < count; i++) fputc(c, stderr);
}

void barreSilence() {
    silent = true;
}

void barre(int n) {
    if (silent) return;
    if (n != 0) {
        start = clockFn(nullptr);
        lastecrit = 0;
        max = n;
        pos = 1;
        fprintf(stderr, "  0%%");
        fprintf(stderr, " [");
        repChar(' ', kCells);
        fprintf(stderr, "]");
        return;
    }
    if (pos > max) return;
    if (pos == max) {
        fprintf(stderr, "\r100%%");
        fprintf(stderr, " [");
        repChar('.', kCells);
        fprintf(stderr, "]");
        fprintf(stderr, " 00:00:00\n");
        pos++;
        return;
    }
    int elapsed = static_cast<int>(difftime(clockFn(nullptr), start));
    int remaining = static_cast<int>(static_cast<double>(elapsed) * (max - pos) / pos);
    int hours = remaining / 3600;
    int minutes = (remaining - 3600 * hours) / 60;
    int seconds = remaining - 3600 * hours - 60 * minutes;
    // 64-bit products: the engines start the meter with the cube of the models alphabet size.
    int cells = static_cast<int>(static_cast<long long>(kCells) * pos / max);
    if (cells != lastecrit) {
        fprintf(stderr, "\r%3d%%", static_cast<int>(100LL * pos / max));
        fprintf(stderr, " [");
        repChar('.', cells);
        repChar(' ', kCells - cells);
        fprintf(stderr, "]");
        if (pos > 3) fprintf(stderr, " %02d:%02d:%02d", hours, minutes, seconds);
        lastecrit = cells;
    }
    pos++;
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
    pos = 0;
    max = 0;
    lastecrit = 0;
    start = 0;
}
