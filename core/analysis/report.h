#pragma once
// The HTML report of a ranked run: one self-contained page (inline CSS and SVG, a few lines of inline
// script, nothing fetched) with the run's figures, the best-ranked models drawn as their boxes and
// spacers, their supports in the input and the control, their scores, where their occurrences start and,
// for models of several boxes, which spacer lengths they use.  A run that groups its models into families
// shows one row per family head, with the family's size and members, and a sequence logo of each box.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "control_support.h"
#include "enrichment.h"

// A models symbol as the report draws it.
struct ReportSymbol {
    std::string accepted;  // the sequence characters it accepts, upper-cased ("A", "AG")
    bool joker = false;    // accepts every character
};

// Where the occurrences of one model lie, one entry per occurrence line of the result file (occurrences
// in sequences that the ranking does not count, identical copies of an earlier one, left out).
struct ReportOccurrences {
    std::vector<int> starts;         // start of the occurrence in its sequence, 0 = the first character
    std::vector<int> startsFromEnd;  // the same start minus the sequence's length: -1 = the last character
    std::vector<std::vector<int>> spacerLengths;  // by spacer of the model: the length each occurrence used
    std::vector<char> strands;  // '+' or '-' by occurrence in a both-strands run, else empty
};

// Counts of each letter at each position of one box over a model's sites, read on each site's own strand.
struct ReportBoxCounts {
    std::string letters;                   // the alphabet's letters in order ("ACGT", or 20 amino acids)
    std::vector<std::vector<int>> counts;  // by box position, by letter (index into letters)
};

struct ReportModel {
    size_t rank = 0;             // 1 = the best, as in the table
    std::string name;            // as in the result file and the table
    std::string code;            // coded form: a digit-like character per symbol, '-' a spacer, '*' the joker
    int32_t support = 0;         // input sequences counted holding it
    int32_t controlSupport = 0;  // control sequences holding it
    Enrichment score{};
    std::string file;                  // result file it was read from
    std::vector<SpacerRange> spacers;  // length range of each of its spacers (one per '-' of the code)
    ReportOccurrences occurrences;
    std::string
        reverseComplement;  // both strands: the name of the model sharing its row, "=" itself, "" none
    size_t familySize = 0;  // models in its family (it is the head); 0: no families in this run
    std::vector<std::string> familyMembers;  // the family's other models' names, in rank order
    std::vector<ReportBoxCounts> boxCounts;  // one per box of the model; empty: no logo
};

// What the report's header says about the run.
struct ReportRun {
    std::string program;  // "motbox" or "motbox-delta"
    std::string version;
    std::string commandLine;
    std::string inputFile;
    size_t sequences = 0;         // input sequences read
    size_t countedSequences = 0;  // of them counted by the ranking (identical copies folded)
    long long totalLength = 0;    // characters of all input sequences
    int longestSequence = 0;
    std::string control;                // the control set in words ("file c.fa" or the shuffles and seed)
    size_t controlSequences = 0;        // counted
    std::vector<std::string> criteria;  // the run's criteria in words, one line each
    size_t modelsWritten = 0;
    bool bothStrands = false;  // models counted on either strand, a model and its reverse complement one row
    size_t rows = 0;           // rows of the ranked table (with both strands, fewer than the models)
    double extractionSeconds = 0;       // CPU time of the extraction, as in the result file
    double wallSeconds = 0;             // whole run, start to the report
    std::string tableFile;              // the ranked table (TSV), as named on the command line
    std::string tableLink;              // the same file as a link from the report's directory
    size_t top = 0;                     // models asked for (--report-top)
    std::vector<ReportSymbol> symbols;  // by models symbol number
    bool families = false;              // the models grouped into families, the rows their heads
    size_t familiesCount = 0;           // families of the ranked models (with `families`)
};

// Writes the page; `top` holds the best-ranked models, in rank order (at most run.top of them, none for
// a run without model).
void writeReport(FILE* out, const ReportRun& run, const std::vector<ReportModel>& top);

// Text with &, <, >, " and ' written as character references.
std::string htmlEscaped(std::string_view text);
