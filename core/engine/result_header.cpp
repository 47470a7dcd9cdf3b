#include "result_header.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kHeaderTextBytes = kHeaderLineBytes - 1;

size_t summaryRoom(int blankLines) {
    return static_cast<size_t>(blankLines) * kHeaderLineBytes - 1;
}

}  // namespace

int headerBlankLinesFor(size_t summaryLength) {
    int lines = kDefaultHeaderBlankLines;
    while (summaryLength > summaryRoom(lines)) lines++;
    return lines;
}

void writeReservedHeader(FILE* f, int blankLines) {
    char blanks[kHeaderTextBytes + 2];
    memset(blanks, ' ', kHeaderTextBytes);
    blanks[kHeaderTextBytes] = '\n';
    blanks[kHeaderTextBytes + 1] = '\0';
    char rule[kHeaderTextBytes + 2];
    memset(rule, '=', kHeaderTextBytes);
    rule[kHeaderTextBytes] = '\n';
    rule[kHeaderTextBytes + 1] = '\0';
    for (int i = 0; i < blankLines; i++) fputs(blanks, f);
    fputs(rule, f);
}

// The summary goes over the reserved blank lines.  Standard output is never rewound: on a pipe that does
// nothing anyway, and when it is redirected to a file a rewind would overwrite the parameter report, so
// there the summary simply follows the counts.
void writeSummaryLine(FILE* f, const std::string& line, int blankLines) {
    if (f != stdout && line.size() <= summaryRoom(blankLines)) rewind(f);
    fputs(line.c_str(), f);
}

std::string summaryStart(const Criteres& cr, int nbseq, int reachedMax) {
    char buf[160];
    snprintf(buf, sizeof buf, "%%%%%% %d %d/%d %ld %d %d %d", cr.nbbloc, cr.quorum, nbseq, cr.longtext,
             cr.minlong, reachedMax, cr.maxerr);
    return buf;
}

void appendSummaryBox(std::string& line, int boxMin, int reached, int err) {
    char buf[48];
    snprintf(buf, sizeof buf, " %d %d %d", boxMin, reached, err);
    line += buf;
}

void appendSummarySpacer(std::string& line, int low, int high) {
    char buf[32];
    snprintf(buf, sizeof buf, " %d %d", low, high);
    line += buf;
}

void appendSummaryNames(std::string& line, const char* alphabetFile, const char* textAlphabet) {
    line += ' ';
    line += alphabetFile;
    line += ' ';
    line += textAlphabet;
}

int reachableLength(int limit, int longestSequence) {
    if (limit <= 0) return longestSequence;
    return std::min(limit, longestSequence);
}

void writeFinalCounts(FILE* f, int nbModels, float seconds) {
    fprintf(f, "Nb models: %d\nUser time : %.2f sec.\n", nbModels, seconds);
}
