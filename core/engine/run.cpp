#include "run.h"

#include "allocateurs.h"
#include "run_exit.h"

// AddressSanitizer's leak check reports what a process leaves allocated at its exit.
#if defined(__SANITIZE_ADDRESS__)
#define MOTBOX_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define MOTBOX_LEAK_CHECKED 1
#endif
#endif
#ifndef MOTBOX_LEAK_CHECKED
#define MOTBOX_LEAK_CHECKED 0
#endif

namespace {

constinit thread_local Run* currentRun = nullptr;

}  // namespace

Run* Run::current() {
    return currentRun;
}

void endRunIfStopped() {
    const Run* run = currentRun;
    if (run != nullptr && run->stopRequest != nullptr && run->stopRequest->load(std::memory_order_relaxed))
        endRunWith(kStoppedStatus, kStoppedText);
}

Run::~Run() {
    RunBinding bound(this);
    Free_Arbre();
    freeTreeTexts();
    freeTexts(texts.count);
    alphabet.releaseNames();
    releaseSpacerCodes();
    releaseCriteres(&criteres);
}

RunBinding::RunBinding(Run* run)
    : run_(currentRun),
      alphabet_(alphabetInUse),
      tree_(treeInUse),
      colourSets_(colourSetsInUse),
      texts_(textsInUse),
      strands_(strandsInUse),
      spacerCodes_(spacerCodesInUse),
      meter_(meterInUse),
      fastaReader_(fastaReaderInUse) {
    currentRun = run;
    alphabetInUse = &run->alphabet;
    treeInUse = &run->tree;
    colourSetsInUse = &run->colourSets;
    textsInUse = &run->texts;
    strandsInUse = &run->strands;
    spacerCodesInUse = &run->spacerCodes;
    meterInUse = &run->meter;
    fastaReaderInUse = &run->fastaReader;
}

RunBinding::~RunBinding() {
    currentRun = run_;
    alphabetInUse = alphabet_;
    treeInUse = tree_;
    colourSetsInUse = colourSets_;
    textsInUse = texts_;
    strandsInUse = strands_;
    spacerCodesInUse = spacerCodes_;
    meterInUse = meter_;
    fastaReaderInUse = fastaReader_;
}

int runProgramInARun(int (*body)(int, char**), int argc, char** argv) {
    Run run;
    RunBinding bound(&run);
    return runProgram(body, argc, argv);
}

int runProgramAsTheProcess(int (*body)(int, char**), int argc, char** argv) {
#if MOTBOX_LEAK_CHECKED
    return runProgramInARun(body, argc, argv);
#else
    Run* run = new Run;  // never deleted: the process ends with it
    RunBinding bound(run);
    return runProgram(body, argc, argv);
#endif
}
