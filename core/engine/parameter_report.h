#pragma once
// The report of a run's parameters that both programs print before the extraction.

#include "criteres.h"
#include "run_messages.h"

// File names and quorum figures shown by the parameter report.
struct ReportInput {
    const char* fastaFile;
    const char* alphabetFile;
    const char* outputFile;
    float quorumPercent;  // as given on the command line (0 for the default)
    int nbseq;
    bool bothStrands = false;
};
// Prints the parameter report on standard output and the "CHECK THESE PARAMETERS" line on standard error,
// unless the run is quiet.
void printParameterReport(const Criteres& cr, const ReportInput& in, const DriverMessages& m);
