#pragma once
// One extraction's state.  Everything a run builds or changes lives in its Run: the alphabet tables, the
// texts, the tree and its pools, the colour-set store, the criteria and spacer codes, the strands, the
// meter and the FASTA reader's buffers.  The library's modules reach them through the thread's binding
// (alphabetTables(), treeState(), ...): a thread works for one run at a time, the workers of a parallel run
// work for the run that started them, and once built the tree, texts and tables are only read by them.
// Several runs may thus go on in one process, one after the other or at once in different threads.

#include <atomic>
#include <chrono>

#include "alphabet.h"
#include "barre.h"
#include "bit_tab.h"
#include "criteres.h"
#include "global_variables.h"
#include "libfasta.h"
#include "sequences.h"
#include "strands.h"

class Run {
  public:
    Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    // Releases everything the run still holds: tree, texts, names, spacer codes and criteria.
    ~Run();

    // The run the calling thread works for; null outside any run (the library's unit tests).
    static Run* current();

    AlphabetTables alphabet;
    TreeState tree;
    ColourSetStore colourSets;
    SequenceTexts texts;
    StrandPairs strands;
    SpacerCodes spacerCodes;
    Meter meter;
    FastaReaderState fastaReader;
    Criteres criteres{};
    const std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
    // Set (by another thread, such as the one that waits for the run) when the run must stop: it ends at its
    // next check, between the sequences of the tree and between the walk's models of depth 3 and tasks.
    const std::atomic<bool>* stopRequest = nullptr;
};

// The status and text a stopped run ends with.
inline constexpr int kStoppedStatus = 1;
inline constexpr const char* kStoppedText = ">> Error: main: the run was interrupted\n";
// Ends the run of the calling thread with kStoppedStatus when it was asked to stop.
void endRunIfStopped();

// Makes the calling thread work for run until the binding ends, then for the run (or process state) it
// worked for before.
class RunBinding {
  public:
    explicit RunBinding(Run* run);
    RunBinding(const RunBinding&) = delete;
    RunBinding& operator=(const RunBinding&) = delete;
    ~RunBinding();

  private:
    Run* run_;
    AlphabetTables* alphabet_;
    TreeState* tree_;
    ColourSetStore* colourSets_;
    SequenceTexts* texts_;
    StrandPairs* strands_;
    SpacerCodes* spacerCodes_;
    Meter* meter_;
    FastaReaderState* fastaReader_;
};

// Runs a program's body (see runProgram) in a run of its own, released when the body ends however it ends.
int runProgramInARun(int (*body)(int, char**), int argc, char** argv);
// The same for a body that is its process's whole work (a program's main): the run is left for the process's
// exit to take back, all at once, instead of being released record by record (a tenth of a tree's build
// time).  Sanitizer builds release it, so that their leak check still covers what a run allocates.
int runProgramAsTheProcess(int (*body)(int, char**), int argc, char** argv);
