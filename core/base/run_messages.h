#pragma once
// The refusals whose texts differ between the motbox and motbox-delta drivers, and the opening of an input
// file that refuses the run when it cannot be read.

#include <cstdio>
#include <memory>

// How a refusal is reported.  With viaFatalError the text goes through fatalError (">> Error: " prefix,
// used as is); otherwise it is a printf format with one %s for the file name, written on standard error
// without prefix.  Either way the process ends with status 1.
struct RunMessage {
    const char* text = nullptr;
    bool viaFatalError = false;
};

// The texts that differ between the two drivers.
struct DriverMessages {
    RunMessage fastaOpen{};                // FASTA file cannot be opened
    const char* noSequence = nullptr;      // fatalError text: the FASTA file holds no entry
    const char* oneSequence = nullptr;     // fatalError text: the FASTA file holds a single entry
    const char* quorumIsOne = nullptr;     // warning text: the quorum is exactly one sequence
    const char* quorumBelowOne = nullptr;  // fatalError text: the quorum is below one sequence
    RunMessage alphabetOpen{};             // alphabet file cannot be opened
    const char* alphabetFormat = nullptr;  // fatalError text: chargeAlphabet gave no text alphabet
    // Report line of one per-box composition limit ("%s" name, "%d" limit).
    const char* boxCompositionFormat = nullptr;
};

// Reports the refusal m about the file name and ends the process with status 1.
[[noreturn]] void refuseRun(const RunMessage& m, const char* name);

// Opens path for reading; refuses the run with onFailure when it cannot be opened.
FILE* openInputOrRefuse(const char* path, const RunMessage& onFailure);

// A file closed when it goes out of scope, whether the run goes on or is refused.
struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;
