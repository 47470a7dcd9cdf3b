#pragma once
// The result file's frame: the header reserved at its start, the summary line written over it once the
// extraction is done, and the final counts at its end.

#include <cstddef>
#include <cstdio>
#include <string>

#include "criteres.h"

// Bytes of one reserved header line, line feed included.
inline constexpr int kHeaderLineBytes = 80;
// Blank lines reserved by default; the separator line follows them.
inline constexpr int kDefaultHeaderBlankLines = 3;
// Number of blank header lines needed so that a summary of summaryLength bytes stays clear of the
// separator line (it must leave the last line feed before it intact): 3 unless the summary is 240 bytes or
// longer.
int headerBlankLinesFor(size_t summaryLength);
// Writes blankLines lines of 79 blanks and a line of 79 "=", each followed by a line feed (320 bytes for
// the default 3 blank lines).
void writeReservedHeader(FILE* f, int blankLines = kDefaultHeaderBlankLines);
// Writes the summary line over the start of the reserved header (no line feed).  Standard output is never
// rewound: a terminal or pipe cannot be, and a redirected file would lose the report it starts with, so
// there the line comes after the final counts.  A line longer than the room of blankLines lines (a fault
// of the caller's bound) is written at the end as well rather than over the separator.
void writeSummaryLine(FILE* f, const std::string& line, int blankLines = kDefaultHeaderBlankLines);

// Summary line pieces.  Start: "%%% B quorum/n longtext minlong reachedMax maxerr".
std::string summaryStart(const Criteres& cr, int nbseq, int reachedMax);
// " boxMin reached err" for one box.
void appendSummaryBox(std::string& line, int boxMin, int reached, int err);
// " low high" for one spacer.
void appendSummarySpacer(std::string& line, int low, int high);
// " alphabetFile textAlphabet", the end of the line.
void appendSummaryNames(std::string& line, const char* alphabetFile, const char* textAlphabet);
// The greatest length a run can report for a part limited by limit (0 or less = no limit), knowing that a
// model symbol consumes one character of a single sequence: min(limit, longest sequence).
int reachableLength(int limit, int longestSequence);

// "Nb models: %d\nUser time : %.2f sec.\n" on f.
void writeFinalCounts(FILE* f, int nbModels, float seconds);
