#pragma once
#include <ctime>

// One-line progress meter with a remaining-time estimate, on standard error.

// The meter of one run: its task's steps and what it has drawn.
struct Meter {
    int pos = 0;
    int max = 0;
    int lastecrit = 0;
    time_t start = 0;
    bool silent = false;
    bool quiet = false;  // --quiet: neither the meter nor the progress notes are drawn
};
// The meter the calling thread draws: that of the run it works for (see Run), else the process's own.
extern constinit thread_local Meter* meterInUse;
inline Meter& progressMeter() {
    return *meterInUse;
}

// n != 0: start a task of n steps and draw the empty bar; n == 0: advance one step.
void barre(int n);
// Draws nothing from now on: a process whose progress another one shows.
void barreSilence();
// Writes a note on the run's progress (a stage's banner, the alphabet read) on standard error, unless the
// run is quiet.
void progressNote(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes "\n-- Type ENTER\n" on standard output and reads one character.
int entree();
// Writes c count times on standard error.
void repChar(char c, int count);

// Test seams, never used by the programs.
// Replaces the calendar clock the meter reads (same contract as time()); nullptr restores time().
void barreSetClock(time_t (*clock)(time_t*));
// Puts the meter in use back in its program-start state: no task, pos = max = lastecrit = start = 0.
void barreReset();
