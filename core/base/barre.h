#pragma once
#include <ctime>

// One-line progress meter with a remaining-time estimate, on standard error.

// n != 0: start a task of n steps and draw the empty bar; n == 0: advance one step.
void barre(int n);
// Draws nothing from now on: a process whose progress another one shows.
void barreSilence();
// Writes "\n-- Type ENTER\n" on standard output and reads one character.
int entree();
// Writes c count times on standard error.
void repChar(char c, int count);

// Test seams, never used by the programs.
// Replaces the calendar clock the meter reads (same contract as time()); nullptr restores time().
void barreSetClock(time_t (*clock)(time_t*));
// Puts the meter back in its program-start state: no task, pos = max = lastecrit = start = 0.
void barreReset();
