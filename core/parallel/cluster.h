#pragma once
#include <functional>

#include "task_output.h"

// The processes of a run.  motbox and motbox-delta run as one process; motbox-mpi and motbox-delta-mpi
// run as the ranks of an MPI job, which all read the inputs and build the tree, share the extraction's
// tasks, and leave the writing to the first rank.  Ranks other than the first write nothing to standard
// output; their standard error is kept aside and shown only when they fail.

// Starts the process's part of the run; first thing in main.  The ranks other than the first wait here
// until the first has read its inputs, so that a refusal is reported once, by the first.
void clusterStart(int* argc, char*** argv);
// Number of processes of the run, and this one's place among them (0: the one that writes).
int clusterSize();
int clusterRank();
inline bool clusterWritesResults() {
    return clusterRank() == 0;
}
// Called by the first rank once its inputs are read and accepted: the other ranks go on.
void clusterInputsAccepted();
// Worker threads of the whole run, when this process runs `threads` of them.
int clusterThreads(int threads);
// User CPU seconds the other processes spent in the extraction (known to the first once it ends).
float clusterOtherCpuSeconds();

// Runs the tasks of board: `threads` worker threads run work(), each until the walk ends; the calling
// thread runs write() on the process that writes the results, else passes claims and finished tasks
// between this process and that one.  Returns once every task of the run is done here.
void runTasks(TaskBoard& board, int threads, const std::function<void()>& work,
              const std::function<void()>& write);
