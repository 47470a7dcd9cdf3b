#pragma once
// Reading back a result file as the programs write it: the reserved header, up to its separator line; one
// block per model, a model line "NAME CODE SUPPORT" followed by its occurrence lines
// ("Seq %5d   Pos %5d\t" with the spacer lengths and, with both strands, the strand last); then the final
// counts "Nb models: N" and "User time : S sec.".  Used to rank stored results and by the Python package,
// which keeps a run's models in its result file rather than in memory.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "motifs.h"

// A model of a result file and where its occurrence lines are.
struct StoredModel {
    std::string name;
    std::string code;
    int support = 0;            // sequences it occurs in, as its model line gives it
    int64_t occurrencesAt = 0;  // byte offset of its first occurrence line
    int64_t occurrences = 0;    // number of its occurrence lines
};

struct StoredResult {
    std::vector<StoredModel> models;
    bool complete = false;  // the final counts were found
    long long recordedModels = 0;
    double userSeconds = 0;
};

// Reads the whole stream from its start.
StoredResult readStoredResult(FILE* in);

// strtol(at, &at, 10) without the locale's cost, for the numbers of the lines the programs write: white
// space, an optional sign, decimal digits; without a digit, 0 and `at` left where it was; LONG_MIN or
// LONG_MAX past their range.
long readDecimal(char*& at);

// Reads an occurrence line into o (o.spacers sized to the model's spacers beforehand; the strand is the
// line's last mark when strandMarked, else '+'); false when the line is not an occurrence line.
bool readOccurrenceLine(char* line, bool strandMarked, Occurrence& o);

// The occurrence lines of the model whose first one starts at `offset`, with `spacers` spacer lengths.
std::vector<Occurrence> storedOccurrences(FILE* in, int64_t offset, size_t spacers, bool strandMarked);

// The final counts of a result file, read from its last lines without reading the models: false when the
// stream does not end with them (a file cut short, or not a result file).
bool storedFinalCounts(FILE* in, long long* models, double* userSeconds);

// The user time the result file `name` records, for a ranking of its models: refused (status 1) when the
// file cannot be read or does not end with its final counts.
double recordedUserSeconds(const char* name);
