#pragma once
// Ranking of the written models against a control set: each model's support among the input sequences
// and among the control sequences (matched under the run's own rules), a one-sided Fisher test of the two,
// and a table of every model sorted by p-value.  In rank order the models are grouped into families of
// models whose sites overlap; the best families' heads give the report's rows, the count matrices of the
// MEME file and the sites of the BED file.  The result files are read back once written and are left as
// they are.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control_support.h"
#include "criteres.h"
#include "motifs.h"
#include "options.h"
#include "report.h"
#include "spill_streams.h"

// The matching rules of the run: what each models symbol accepts (its alphabet file line, upper-cased),
// the joker, and the substitution allowances of cr.  Needs the loaded alphabet.
MatchRules matchRulesOfRun(const Criteres& cr);

// The run's criteria in words, for the report: quorum, boxes with their lengths and substitutions, spacers.
std::vector<std::string> criteriaInWords(const Criteres& cr, float quorumPercent, int nbseq);

// A result file the ranking reads its models from.
struct RankedFile {
    std::string name;                  // shown in the table's file column
    FILE* stream;                      // read from its start; the ranking does not close it
    std::vector<SpacerRange> spacers;  // the range of each spacer of its models
};

class Ranking {
  public:
    // Prepares the ranking of a run whose inputs are loaded: keeps the input texts, reads and checks the
    // control file (a refusal names it and ends the process with status 1), checks that the MEME format
    // can declare the texts' letters, and opens the table, report, MEME and BED files.  nbseq input sequences
    // are in `text` (as strand pairs when strandPairs is set); argc and argv are the whole command line, for
    // the table's header; criteria, the run's in words, for the report's.  With opts.bothStrands, models
    // count on either strand of the control too, and a model and its reverse complement make one row of the
    // table.
    Ranking(const RunOptions& opts, const char* program, const char* inputFile, int nbseq, int argc,
            char** argv, MatchRules rules, std::vector<std::string> criteria);
    ~Ranking();
    Ranking(const Ranking&) = delete;
    Ranking& operator=(const Ranking&) = delete;

    // Reads the models of the files, in order, and writes the ranked table and the report.
    // extractionSeconds: the CPU time the result files show.
    void write(const std::vector<RankedFile>& files, double extractionSeconds);

  private:
    struct Model;
    struct Family;
    void readModels(FILE* in, int file, size_t spacerBase);
    std::vector<SpacerRange> spacersOf(const Model& model, const std::vector<RankedFile>& files) const;
    void pairReverseComplements(const std::vector<RankedFile>& files);
    std::string reverseComplementColumn(const Model& model) const;
    std::vector<std::string> controlTexts() const;
    std::string controlInWords() const;
    void writeTable(const std::vector<size_t>& order, const std::vector<RankedFile>& files, size_t controls,
                    size_t controlFolded);
    void writeReport(const std::vector<size_t>& order, const std::vector<RankedFile>& files, size_t controls,
                     double extractionSeconds);
    template <typename Visit>
    void forEachOccurrenceLine(const Model& model, const std::vector<RankedFile>& files, Visit&& visit) const;
    std::vector<Occurrence> occurrenceLinesOf(const Model& model, const std::vector<RankedFile>& files) const;
    ReportOccurrences occurrencesOf(const std::vector<Occurrence>& lines, size_t spacers) const;
    void rankOrder(std::vector<size_t>& order) const;
    void groupIntoFamilies(const std::vector<size_t>& order, const std::vector<RankedFile>& files);
    std::vector<size_t> bestHeads() const;
    std::vector<CountMatrix> boxMatricesOf(const Model& model, const std::vector<Occurrence>& lines) const;
    void writeMeme(const std::vector<size_t>& heads, const std::vector<RankedFile>& files);
    void writeSites(const std::vector<size_t>& heads, const std::vector<RankedFile>& files);
    std::vector<std::string> headerWordsOf(const char* fastaFile) const;
    static size_t spacerCount(const Model& model);
    void chooseLetters();
    void refuseSharedOutputNames() const;
    static FILE* openOrRefuse(const char* name, const char* what);
    static void closeOrRefuse(FILE** out, const std::string& name, const char* what);

    RunOptions opts_;
    std::string program_;
    std::string inputFile_;
    std::string header_;               // program, version and input file
    std::string command_;              // the command line
    std::vector<std::string> inputs_;  // input texts, upper-cased
    std::vector<int> inputOf_;         // by input sequence: the one it counts as (itself, or its first copy)
    size_t distinctInputs_ = 0;
    std::vector<std::string> control_;  // the control file's texts (empty with shuffles)
    MatchRules rules_;
    std::string tableFile_;
    FILE* table_ = nullptr;
    FILE* report_ = nullptr;
    std::vector<std::string> criteria_;
    FILE* meme_ = nullptr;
    FILE* sites_ = nullptr;
    std::string letters_;          // the texts' letters, for count matrices and logos
    bool memeDeclarable_ = false;  // letters_ is a MEME alphabet
    MemeAlphabet memeAlphabet_ = MemeAlphabet::Dna;
    std::vector<std::string> headerWords_;  // by input sequence, with --sites: its header's first word
    std::vector<Model> models_;
    std::vector<Family> families_;  // in the rank order of their heads
    MatchingModels matching_;
    std::vector<int> seen_;  // by input sequence: last model counted, for the supports
};

// A stream that passes every byte on to out and keeps a copy in an unlinked temporary file: the models a
// run writes to standard output, kept for the ranking.
class OutputCopy {
  public:
    explicit OutputCopy(FILE* out);
    ~OutputCopy();
    OutputCopy(const OutputCopy&) = delete;
    OutputCopy& operator=(const OutputCopy&) = delete;
    FILE* stream() { return stream_.stream(); }
    // The copy, flushed and rewound.
    FILE* copy();

  private:
    FILE* out_;
    FILE* copy_;
    CallbackStream stream_;  // last: it writes to both
};
