#include "ranking.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <tuple>
#include <utility>

#include "alphabet.h"
#include "barre.h"
#include "enrichment.h"
#include "global.h"
#include "libfasta.h"
#include "result_file.h"
#include "run.h"
#include "sequences.h"
#include "shuffle.h"
#include "spill_streams.h"
#include "strands.h"

struct Ranking::Model {
    std::string name;
    std::string code;
    int file = 0;
    long long occurrencesAt = 0;  // offset in its file of its first occurrence line
    size_t spacerBase = 0;        // its file's first spacer in matching_.spacers
    int32_t support = 0;          // input sequences holding it, as the ranking counts them
    int32_t controlSupport = 0;   // control sequences holding it
    Enrichment score{};
    int partner = -1;   // both strands: the model that is its reverse complement, -1 none
    bool shown = true;  // false for the reverse complement of a model read before it
    size_t family = 0;  // its family in families_ (rows only)
};

struct Ranking::Family {
    size_t head = 0;              // the model heading it
    size_t headRank = 0;          // the head's rank, 1 = the best: the family's number
    std::vector<size_t> members;  // its models in rank order, the head first
};

namespace {

// Static storage is set up as the process starts: the report's wall time runs from here.
const auto kProcessStart = std::chrono::steady_clock::now();

[[noreturn]] void refuse(const std::string& message) {
    fatalError(message.c_str());
}

[[noreturn]] void refuseControlCharacter(const char* path, size_t seq, size_t pos, const char* what,
                                         int code) {
    char where[160];
    snprintf(where, sizeof where, "': Seq %zu Pos %zu %s character %d", seq, pos, what, code);
    refuse("control file '" + std::string(path) + where);
}

[[noreturn]] void refuseUncomplemented(const char* path, size_t seq, size_t pos, char c) {
    char where[160];
    if (c > ' ' && c < 127)
        snprintf(where, sizeof where, "': Seq %zu Pos %zu character '%c' has no complement (--both-strands)",
                 seq, pos, c);
    else
        snprintf(where, sizeof where, "': Seq %zu Pos %zu character %d has no complement (--both-strands)",
                 seq, pos, static_cast<signed char>(c));
    refuse("control file '" + std::string(path) + where);
}

// The texts of the control file, upper-cased, after the checks the input's texts pass: a character the
// texts cannot hold, or with both strands one without complement, is refused with the file's name, the
// sequence and the position.
std::vector<std::string> readControlFile(const char* path, bool bothStrands) {
    FILE* fp = fopen(path, "r");
    if (fp == nullptr) refuse("main: cannot open control FASTA file '" + std::string(path) + "'");
    std::vector<std::string> texts;
    for (;;) {
        FastaSequence* entry = NewFastaSequence();
        if (entry == nullptr) fatalError("main: cannot allocate a FASTA record");
        const bool read = ReadFastaSequence(fp, entry) != 0;
        if (read && !entry->ok) fatalError("main: cannot allocate a control sequence\n");
        if (read) texts.emplace_back(entry->seq, static_cast<size_t>(entry->length));
        FreeFastaSequence(entry);
        if (!read) break;
    }
    fclose(fp);
    if (texts.empty()) refuse("control file '" + std::string(path) + "' holds no sequence");
    for (size_t s = 0; s < texts.size(); ++s)
        for (size_t p = 0; p < texts[s].size(); ++p) {
            char& c = texts[s][p];
            const int code = static_cast<signed char>(c);
            const bool control = code <= 31 || code == 127;
            if (control || c == '$' || c == '*' || c == '_')
                refuseControlCharacter(path, s, p, control ? "Control" : "Forbidden", code);
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (bothStrands && complementBase(c) == 0) refuseUncomplemented(path, s, p, c);
        }
    return texts;
}

// The input texts as loaded (upper-cased by the alphabet step), without their terminator; of strand pairs,
// the sequences as written.
std::vector<std::string> loadedTexts(int count) {
    const int stride = strandState().strandPairs ? 2 : 1;
    std::vector<std::string> texts;
    for (int k = 0; k < count; ++k)
        texts.emplace_back(sequenceTexts().text[stride * k], strcspn(sequenceTexts().text[stride * k], "$"));
    return texts;
}

// What sequences are folded by: themselves, or with both strands the lesser of a sequence and its reverse
// complement, both reading the same pair of strands.
std::vector<std::string> foldingKeys(const std::vector<std::string>& texts, bool bothStrands) {
    if (!bothStrands) return texts;
    std::vector<std::string> keys;
    for (const std::string& t : texts) keys.push_back(std::min(t, reverseComplement(t)));
    return keys;
}

std::string commandLineOf(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    return line;
}

// Distinct texts, each once, in order of first appearance.
std::vector<std::string> distinctOf(const std::vector<std::string>& texts, bool bothStrands, size_t* folded) {
    const DistinctSequences d = foldDuplicates(foldingKeys(texts, bothStrands));
    std::vector<std::string> kept;
    for (size_t i = 0; i < texts.size(); ++i)
        if (d.firstOf[i] == static_cast<int>(i)) kept.push_back(texts[i]);
    *folded = static_cast<size_t>(d.folded);
    return kept;
}

}  // namespace

MatchRules matchRulesOfRun(const Criteres& cr) {
    MatchRules rules;
    for (int s = 0; s < alphabetTables().nbSymbMod; ++s) {
        std::string line = alphabetTables().alphMod[s] != nullptr ? alphabetTables().alphMod[s] : "";
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        for (char& c : line) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        rules.accepted.push_back(line);
    }
    rules.joker = alphabetTables().numJOKER;
    rules.maxErr = cr.maxerr;
    if (cr.nbbloc > 1) rules.boxErr.assign(cr.errbloc, cr.errbloc + cr.nbbloc);
    return rules;
}

namespace {

std::string lengthsInWords(int min, int max, const char* unit) {
    if (max == 0) return "at least " + std::to_string(min) + " " + unit;
    if (min == max) return std::to_string(min) + " " + unit;
    return std::to_string(min) + " to " + std::to_string(max) + " " + unit;
}

std::string substitutionsInWords(int n) {
    return n == 0 ? "no substitution"
                  : "at most " + std::to_string(n) + (n == 1 ? " substitution" : " substitutions");
}

}  // namespace

std::vector<std::string> criteriaInWords(const Criteres& cr, float quorumPercent, int nbseq) {
    std::vector<std::string> lines;
    char quorum[160];
    if (quorumPercent == 0)
        snprintf(quorum, sizeof quorum, "Quorum: %d of %d sequences (the default 70 %%)", cr.quorum, nbseq);
    else
        snprintf(quorum, sizeof quorum, "Quorum: %d of %d sequences (%g %%)", cr.quorum, nbseq,
                 quorumPercent);
    lines.emplace_back(quorum);
    lines.push_back("Model: " + std::to_string(cr.nbbloc) + (cr.nbbloc == 1 ? " box, " : " boxes, ") +
                    lengthsInWords(cr.minlong, cr.maxlong, "symbols") + " in all, " +
                    substitutionsInWords(cr.maxerr) + " in all");
    if (cr.nbbloc < 2) return lines;
    for (int b = 0; b < cr.nbbloc; ++b) {
        std::string box = "Box " + std::to_string(b + 1) + ": " +
                          lengthsInWords(cr.bornesbloc[b].min, cr.bornesbloc[b].max, "symbols") + ", " +
                          substitutionsInWords(cr.errbloc[b]);
        if (cr.palbloc != nullptr && cr.palbloc[b] >= 0 && cr.palbloc[b] != b)
            box += ", the reverse complement of box " + std::to_string(cr.palbloc[b] + 1);
        lines.push_back(box);
        if (b + 1 == cr.nbbloc) break;
        std::string spacer = "Spacer " + std::to_string(b + 1) + ": " +
                             lengthsInWords(cr.sauts[b].min, cr.sauts[b].max, "characters");
#if MOTBOX_DELTA
        spacer += ", sorted into windows of " + std::to_string(2 * cr.deltas[b] + 1) + " lengths (Delta " +
                  std::to_string(cr.deltas[b]) + ")";
#endif
        lines.push_back(spacer);
    }
    if (cr.flagcompo) lines.emplace_back("Composition limits: as on the command line");
    return lines;
}

Ranking::Ranking(const RunOptions& opts, const char* program, const char* inputFile, int nbseq, int argc,
                 char** argv, MatchRules rules, std::vector<std::string> criteria)
    : opts_(opts),
      rules_(std::move(rules)),
      tableFile_(rankingTableFile(opts)),
      criteria_(std::move(criteria)) {
    program_ = program;
    inputFile_ = inputFile;
    header_ = std::string(program) + " " + MOTBOX_VERSION + "; input " + inputFile;
    command_ = commandLineOf(argc, argv);
    inputs_ = loadedTexts(nbseq);
    inputOf_.resize(inputs_.size());
    std::iota(inputOf_.begin(), inputOf_.end(), 0);
    if (!opts.keepDuplicates) inputOf_ = foldDuplicates(foldingKeys(inputs_, opts.bothStrands)).firstOf;
    for (size_t i = 0; i < inputOf_.size(); ++i) distinctInputs_ += inputOf_[i] == static_cast<int>(i);
    seen_.assign(inputs_.size(), -1);
    if (opts.controlFile != nullptr) control_ = readControlFile(opts.controlFile, opts.bothStrands);
    chooseLetters();
    if (opts.sitesFile != nullptr) headerWords_ = headerWordsOf(inputFile);
    refuseSharedOutputNames();
    if (!tableFile_.empty()) table_ = openOrRefuse(tableFile_.c_str(), "ranking");
    if (opts.reportFile != nullptr) report_ = openOrRefuse(opts.reportFile, "report");
    if (opts.memeFile != nullptr) meme_ = openOrRefuse(opts.memeFile, "MEME");
    if (opts.sitesFile != nullptr) sites_ = openOrRefuse(opts.sitesFile, "sites");
}

// The letters of the count matrices and logos: those of the MEME alphabet declaring the texts' characters
// (both strands' with --both-strands), else the characters themselves; --meme refuses texts it cannot
// declare.
void Ranking::chooseLetters() {
    std::string present;
    for (const std::string& t : inputs_)
        for (char c : t) {
            if (present.find(c) == std::string::npos) present += c;
            const char rc = opts_.bothStrands ? complementBase(c) : '\0';
            if (rc != '\0' && present.find(rc) == std::string::npos) present += rc;
        }
    std::sort(present.begin(), present.end());
    letters_ = present;
    const MemeAlphabetCheck check =
        memeAlphabetFor(alphabetTables().type == 0, alphabetTables().type == 1, present);
    if (check.ok) {
        memeDeclarable_ = true;
        memeAlphabet_ = check.alphabet;
        letters_ = memeLettersOf(check.alphabet);
    } else if (opts_.memeFile != nullptr) {
        refuse(check.message);
    }
}

// Two of the files the ranking writes under one name would overwrite each other.
void Ranking::refuseSharedOutputNames() const {
    const std::pair<const char*, std::string> outputs[] = {
        {"ranking table", tableFile_},
        {"report", opts_.reportFile != nullptr ? opts_.reportFile : ""},
        {"MEME file", opts_.memeFile != nullptr ? opts_.memeFile : ""},
        {"sites file", opts_.sitesFile != nullptr ? opts_.sitesFile : ""}};
    for (size_t a = 0; a < std::size(outputs); ++a)
        for (size_t b = a + 1; b < std::size(outputs); ++b)
            if (!outputs[a].second.empty() && outputs[a].second == outputs[b].second) {
                if (a == 0 && b == 1)  // the message scripts know
                    refuse("main: the report and the ranking table must be different files ('" + tableFile_ +
                           "')");
                refuse(std::string("main: the ") + outputs[a].first + " and the " + outputs[b].first +
                       " must be different files ('" + outputs[a].second + "')");
            }
}

FILE* Ranking::openOrRefuse(const char* name, const char* what) {
    FILE* out = fopen(name, "w");
    if (out == nullptr) refuse("main: cannot open " + std::string(what) + " file '" + name + "'");
    return out;
}

// The first word of each input sequence's header, for the sites' chromosome names and coordinates.  A
// header that reads as genome coordinates but does not fit its sequence is warned of once.
std::vector<std::string> Ranking::headerWordsOf(const char* fastaFile) const {
    FILE* fp = fopen(fastaFile, "r");
    if (fp == nullptr)
        refuse("main: cannot read back FASTA file '" + std::string(fastaFile) + "' for the sites");
    std::vector<long> offsets;
    for (;;) {
        FastaSequence* entry = NewFastaSequence();
        if (entry == nullptr) fatalError("main: cannot allocate a FASTA record");
        const bool read = ReadFastaSequence(fp, entry) != 0;
        if (read) offsets.push_back(entry->offset);
        FreeFastaSequence(entry);
        if (!read) break;
    }
    std::vector<std::string> words;
    char* line = nullptr;
    size_t room = 0;
    size_t misfits = 0;
    std::string firstMisfit;
    for (size_t k = 0; k < offsets.size() && k < inputs_.size(); ++k) {
        std::string word;
        if (fseek(fp, offsets[k], SEEK_SET) == 0 && getline(&line, &room, fp) > 0 && line[0] == '>')
            word.assign(line + 1, strcspn(line + 1, " \t\r\n"));
        if (word.empty()) word = "seq" + std::to_string(k);
        bool misfit = false;
        bedPlacementOf(word, static_cast<int64_t>(inputs_[k].size()),
                       Site{static_cast<int32_t>(k), 0, 0, '+'}, &misfit);
        if (misfit && misfits++ == 0) firstMisfit = word;
        words.push_back(std::move(word));
    }
    free(line);
    fclose(fp);
    while (words.size() < inputs_.size()) words.push_back("seq" + std::to_string(words.size()));
    if (misfits > 0)
        fprintf(stderr,
                "> Warning: --sites: %zu FASTA header%s read%s as genome coordinates that do not fit the "
                "sequence (the first: '%s'); %s sites are given as offsets in the sequence\n",
                misfits, misfits == 1 ? "" : "s", misfits == 1 ? "s" : "", firstMisfit.c_str(),
                misfits == 1 ? "its" : "their");
    return words;
}

Ranking::~Ranking() {
    for (FILE* out : {table_, report_, meme_, sites_})
        if (out != nullptr) fclose(out);
}

// Model lines ("name code count") and their occurrence lines ("Seq N ..."), between the header's
// separator line and the final counts.
void Ranking::readModels(FILE* in, int file, size_t spacerBase) {
    char* line = nullptr;
    size_t room = 0;
    ssize_t length;
    bool body = false;
    long long offset = 0;  // of the next line: the files are read from their start
    while ((length = getline(&line, &room, in)) > 0) {
        offset += length;
        if (!body) {
            body = strncmp(line, "====", 4) == 0;
            continue;
        }
        if (strncmp(line, "Nb models:", 10) == 0) break;
        if (strncmp(line, "Seq ", 4) == 0) {
            char* at = line + 4;
            const long seq = readDecimal(at);
            if (models_.empty() || seq < 0 || seq >= static_cast<long>(inputOf_.size())) continue;
            const int counted = inputOf_[static_cast<size_t>(seq)];
            const int model = static_cast<int>(models_.size()) - 1;
            if (seen_[static_cast<size_t>(counted)] != model) {
                seen_[static_cast<size_t>(counted)] = model;
                ++models_.back().support;
            }
            continue;
        }
        char name[4096], code[4096];
        int count = 0;
        if (length >= static_cast<ssize_t>(sizeof name) ||
            sscanf(line, "%4095s %4095s %d", name, code, &count) != 3)
            continue;  // the count line after the occurrences
        Model m;
        m.name = name;
        m.code = code;
        m.file = file;
        m.occurrencesAt = offset;
        m.spacerBase = spacerBase;
        models_.push_back(std::move(m));
        std::vector<int> steps;
        size_t spacer = spacerBase;
        for (const char* c = code; *c != '\0'; ++c)
            steps.push_back(*c == '-'   ? spacerStep(static_cast<int>(spacer++))
                            : *c == '*' ? rules_.joker
                                        : *c - '0');
        matching_.steps.push_back(std::move(steps));
    }
    free(line);
}

std::vector<std::string> Ranking::controlTexts() const {
    if (opts_.controlFile != nullptr) return control_;
    std::vector<std::string> sources;
    for (size_t i = 0; i < inputs_.size(); ++i)
        if (inputOf_[i] == static_cast<int>(i)) sources.push_back(inputs_[i]);
    return shuffledControls(sources, opts_.shuffles, opts_.seed);
}

namespace {

bool sameFile(FILE* a, FILE* b) {
    struct stat sa {
    }, sb{};
    return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

void Ranking::write(const std::vector<RankedFile>& files, double extractionSeconds) {
    // A table or page named like a result file would be written over it: refused while the results are whole.
    for (const RankedFile& file : files) {
        if (table_ != nullptr && sameFile(table_, file.stream))
            refuse("main: ranking file '" + tableFile_ + "' is the result file '" + file.name + "'");
        if (report_ != nullptr && sameFile(report_, file.stream))
            refuse("main: report file '" + std::string(opts_.reportFile) + "' is the result file '" +
                   file.name + "'");
        if (meme_ != nullptr && sameFile(meme_, file.stream))
            refuse("main: MEME file '" + std::string(opts_.memeFile) + "' is the result file '" + file.name +
                   "'");
        if (sites_ != nullptr && sameFile(sites_, file.stream))
            refuse("main: sites file '" + std::string(opts_.sitesFile) + "' is the result file '" +
                   file.name + "'");
    }
    progressNote("** Ranking against the control set **\n");
    for (size_t f = 0; f < files.size(); ++f) {
        const size_t base = matching_.spacers.size();
        matching_.spacers.insert(matching_.spacers.end(), files[f].spacers.begin(), files[f].spacers.end());
        readModels(files[f].stream, static_cast<int>(f), base);
    }
    endRunIfStopped();
    if (opts_.bothStrands) pairReverseComplements(files);
    std::vector<size_t> order;
    for (size_t i = 0; i < models_.size(); ++i)
        if (models_[i].shown) order.push_back(i);
    std::vector<std::string> controls = controlTexts();
    size_t controlFolded = 0;
    if (!opts_.keepDuplicates) controls = distinctOf(controls, opts_.bothStrands, &controlFolded);
    const std::vector<int32_t> support =
        opts_.bothStrands ? controlSupport(withReverseStrands(controls), matching_, rules_, true)
                          : controlSupport(controls, matching_, rules_);
    endRunIfStopped();
    const int64_t n = static_cast<int64_t>(distinctInputs_), m = static_cast<int64_t>(controls.size());
    // A model and its reverse complement are one row, so one test.
    for (size_t i = 0; i < models_.size(); ++i) {
        models_[i].controlSupport = support[i];
        models_[i].score =
            enrichmentOf(models_[i].support, n, support[i], m, static_cast<int64_t>(order.size()));
    }
    rankOrder(order);
    groupIntoFamilies(order, files);
    const size_t folded = inputs_.size() - distinctInputs_;
    if (folded > 0)
        fprintf(
            stderr,
            "> Warning: %zu input sequences identical to an earlier one%s are counted once by the ranking "
            "(--keep-duplicates counts each)\n",
            folded, opts_.bothStrands ? " or to its reverse complement" : "");
    if (table_ != nullptr) writeTable(order, files, controls.size(), controlFolded);
    if (report_ != nullptr) writeReport(order, files, controls.size(), extractionSeconds);
    const std::vector<size_t> heads = bestHeads();
    if (meme_ != nullptr) writeMeme(heads, files);
    if (sites_ != nullptr) writeSites(heads, files);
}

namespace {

// P-values this close in log10 (a relative 1e-9) are taken as one p-value computed along two paths.
constexpr double kTiedLog10P = 1e-9 / 2.302585092994046;

}  // namespace

// By p-value; runs of p-values each within a relative 1e-9 of the one before are tied, and ordered by
// support (descending), then by result-file order.
void Ranking::rankOrder(std::vector<size_t>& order) const {
    const auto log10P = [&](size_t model) { return models_[model].score.log10P; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return log10P(a) < log10P(b); });
    for (size_t first = 0; first < order.size();) {
        size_t last = first + 1;
        while (last < order.size() && log10P(order[last]) - log10P(order[last - 1]) <= kTiedLog10P) ++last;
        std::stable_sort(order.begin() + static_cast<long>(first), order.begin() + static_cast<long>(last),
                         [&](size_t a, size_t b) { return models_[a].support > models_[b].support; });
        first = last;
    }
}

// In rank order, each row joins the family of the first earlier head its sites overlap in enough of the
// sequences the ranking counts, or heads a family of its own.
void Ranking::groupIntoFamilies(const std::vector<size_t>& order, const std::vector<RankedFile>& files) {
    // Sequences folded into an earlier one give no site, so they take no room in the builder's sets.
    std::vector<int32_t> lengths;
    for (size_t i = 0; i < inputs_.size(); ++i)
        lengths.push_back(inputOf_[i] == static_cast<int>(i) ? static_cast<int32_t>(inputs_[i].size()) : 0);
    FamilyBuilder builder(std::move(lengths));
    std::vector<size_t> familyOfRow(order.size());
    std::vector<Site> sites;
    for (size_t r = 0; r < order.size(); ++r) {
        Model& m = models_[order[r]];
        const std::vector<int> boxes = boxLengthsOf(m.code);
        sites.clear();
        forEachOccurrenceLine(m, files, [&](const Occurrence& o) {
            if (inputOf_[static_cast<size_t>(o.seq)] == o.seq) sites.push_back(siteOf(o, boxes));
        });
        const size_t headRow = builder.add(sites);
        if (headRow == r) {
            familyOfRow[r] = families_.size();
            families_.push_back({order[r], r + 1, {}});
        } else {
            familyOfRow[r] = familyOfRow[headRow];
        }
        m.family = familyOfRow[r];
        families_[m.family].members.push_back(order[r]);
    }
}

// The heads of the best --report-top families.
std::vector<size_t> Ranking::bestHeads() const {
    std::vector<size_t> heads;
    for (size_t f = 0; f < families_.size() && f < static_cast<size_t>(opts_.reportTop); ++f)
        heads.push_back(families_[f].head);
    return heads;
}

std::vector<CountMatrix> Ranking::boxMatricesOf(const Model& model,
                                                const std::vector<Occurrence>& lines) const {
    const std::vector<int> boxes = boxLengthsOf(model.code);
    MotifCounts counts(letters_, boxes);
    for (const Occurrence& o : lines) counts.add(boxWordsOf(o, boxes, inputs_[static_cast<size_t>(o.seq)]));
    return counts.boxes();
}

// One motif per box of each head, named after the family and the box, its alternative name the head.
void Ranking::writeMeme(const std::vector<size_t>& heads, const std::vector<RankedFile>& files) {
    std::vector<MemeMotif> motifs;
    for (size_t head : heads) {
        const Model& m = models_[head];
        const std::vector<Occurrence> lines = occurrenceLinesOf(m, files);
        const std::vector<CountMatrix> boxes = boxMatricesOf(m, lines);
        const std::string family = "F" + std::to_string(families_[m.family].headRank);
        for (size_t b = 0; b < boxes.size(); ++b)
            motifs.push_back({family + "." + std::to_string(b + 1), m.name, boxes[b], m.score.log10E});
    }
    std::vector<std::string> texts = inputs_;
    if (opts_.bothStrands)
        for (const std::string& t : inputs_) texts.push_back(reverseComplement(t));
    const std::string strands = memeAlphabet_ == MemeAlphabet::Protein ? "" : opts_.bothStrands ? "+ -" : "+";
    ::writeMeme(meme_, memeAlphabet_, strands, backgroundFrequencies(texts, letters_), motifs);
    closeOrRefuse(&meme_, opts_.memeFile, "MEME");
}

// One BED6 line per site of each head, by family, then by sequence, position and strand.
void Ranking::writeSites(const std::vector<size_t>& heads, const std::vector<RankedFile>& files) {
    for (size_t head : heads) {
        const Model& m = models_[head];
        std::vector<Occurrence> lines = occurrenceLinesOf(m, files);
        std::stable_sort(lines.begin(), lines.end(), [](const Occurrence& a, const Occurrence& b) {
            return std::tie(a.seq, a.pos, a.strand) < std::tie(b.seq, b.pos, b.strand);
        });
        const std::vector<int> boxes = boxLengthsOf(m.code);
        const std::string name = "F" + std::to_string(families_[m.family].headRank) + "_" + m.name;
        const int score = bedScore(m.score.log10E);
        for (const Occurrence& o : lines) {
            const size_t seq = static_cast<size_t>(o.seq);
            writeBedLine(sites_,
                         bedPlacementOf(headerWords_[seq], static_cast<int64_t>(inputs_[seq].size()),
                                        siteOf(o, boxes), nullptr),
                         name, score);
        }
    }
    closeOrRefuse(&sites_, opts_.sitesFile, "sites");
}

void Ranking::closeOrRefuse(FILE** out, const std::string& name, const char* what) {
    const bool failed = fflush(*out) != 0 || ferror(*out);
    const bool closed = fclose(*out) == 0;
    *out = nullptr;
    if (failed || !closed) refuse("main: cannot write " + std::string(what) + " file '" + name + "'");
}

std::vector<SpacerRange> Ranking::spacersOf(const Model& model, const std::vector<RankedFile>& files) const {
    const size_t count = std::min(static_cast<size_t>(std::count(model.code.begin(), model.code.end(), '-')),
                                  files[static_cast<size_t>(model.file)].spacers.size());
    const auto first = matching_.spacers.begin() + static_cast<long>(model.spacerBase);
    return {first, first + static_cast<long>(count)};
}

// Each model learns its reverse complement; of a pair, the one read first stands for both.
void Ranking::pairReverseComplements(const std::vector<RankedFile>& files) {
    std::vector<CodedModel> coded;
    for (const Model& m : models_) coded.push_back({m.code, spacersOf(m, files)});
    const std::vector<int> partner = reverseComplementPartners(coded, rules_);
    for (size_t i = 0; i < models_.size(); ++i) {
        const int p = partner[i];
        models_[i].partner = p;
        models_[i].shown =
            p < 0 || static_cast<size_t>(p) >= i || partner[static_cast<size_t>(p)] != static_cast<int>(i);
    }
}

std::string Ranking::reverseComplementColumn(const Model& model) const {
    if (model.partner < 0) return "";
    const Model& other = models_[static_cast<size_t>(model.partner)];
    return &other == &model ? "=" : other.name;
}

std::string Ranking::controlInWords() const {
    if (opts_.controlFile != nullptr) return std::string("file ") + opts_.controlFile;
    return std::to_string(opts_.shuffles) + " dinucleotide shuffles of each distinct input sequence, seed " +
           std::to_string(opts_.seed);
}

void Ranking::writeTable(const std::vector<size_t>& order, const std::vector<RankedFile>& files,
                         size_t controls, size_t controlFolded) {
    const std::string control =
        "control " + (opts_.controlFile != nullptr ? opts_.controlFile : controlInWords());
    std::string models = std::to_string(models_.size()) + " models";
    if (opts_.bothStrands)
        models +=
            ", " + std::to_string(order.size()) +
            " rows; both strands: a model and its reverse complement share a row, a sequence identical to "
            "the reverse complement of another is folded";
    fprintf(table_,
            "# %s: %zu sequences, %zu of them counted (%zu identical ones folded); %s: %zu sequences counted "
            "(%zu identical ones folded); %s; command line: %s\n",
            header_.c_str(), inputs_.size(), distinctInputs_, inputs_.size() - distinctInputs_,
            control.c_str(), controls, controlFolded, models.c_str(), command_.c_str());
    fputs(
        "rank\tmodel\tcode\tsupport\tsequences\tcontrol_support\tcontrol_sequences\tenrichment\tlog10_p\tp_"
        "value\te_value\tfile",
        table_);
    fputs(opts_.bothStrands ? "\treverse_complement\tfamily\tfamily_size\n" : "\tfamily\tfamily_size\n",
          table_);
    for (size_t r = 0; r < order.size(); ++r) {
        const Model& m = models_[order[r]];
        fprintf(table_, "%zu\t%s\t%s\t%d\t%zu\t%d\t%zu\t%s\t%s\t%s\t%s\t%s", r + 1, m.name.c_str(),
                m.code.c_str(), m.support, distinctInputs_, m.controlSupport, controls,
                formatNumber(m.score.enrichment).c_str(), formatNumber(m.score.log10P).c_str(),
                formatNumber(m.score.pValue).c_str(), formatNumber(m.score.eValue).c_str(),
                files[static_cast<size_t>(m.file)].name.c_str());
        if (opts_.bothStrands) fprintf(table_, "\t%s", reverseComplementColumn(m).c_str());
        const Family& family = families_[m.family];
        fprintf(table_, "\t%zu\t%zu\n", family.headRank, family.members.size());
    }
    closeOrRefuse(&table_, tableFile_, "ranking");
}

// The occurrence lines of a model, from its file ("Seq %5d   Pos %5d\t%d %d ..." with the spacer lengths
// and, with both strands, the strand that ends the line; '+' in a single-strand run).
// Calls visit(o) for each occurrence line of the model in a sequence of the input, in file order; the
// Occurrence is one object reused from line to line.
template <typename Visit>
void Ranking::forEachOccurrenceLine(const Model& model, const std::vector<RankedFile>& files,
                                    Visit&& visit) const {
    FILE* const in = files[static_cast<size_t>(model.file)].stream;
    if (fseeko(in, model.occurrencesAt, SEEK_SET) != 0) return;
    Occurrence o{0, 0, std::vector<int>(spacerCount(model)), '+'};
    char* line = nullptr;
    size_t room = 0;
    while (getline(&line, &room, in) > 0 && readOccurrenceLine(line, opts_.bothStrands, o)) {
        if (o.seq < 0 || o.seq >= static_cast<int32_t>(inputOf_.size())) continue;
        visit(static_cast<const Occurrence&>(o));
    }
    free(line);
}

std::vector<Occurrence> Ranking::occurrenceLinesOf(const Model& model,
                                                   const std::vector<RankedFile>& files) const {
    std::vector<Occurrence> lines;
    forEachOccurrenceLine(model, files, [&](const Occurrence& o) { lines.push_back(o); });
    return lines;
}

size_t Ranking::spacerCount(const Model& model) {
    return static_cast<size_t>(std::count(model.code.begin(), model.code.end(), '-'));
}

// Where the lines in the sequences the ranking counts start, counted from the sequence's start and from
// its end, with their spacer lengths and strands.
ReportOccurrences Ranking::occurrencesOf(const std::vector<Occurrence>& lines, size_t spacers) const {
    ReportOccurrences found;
    found.spacerLengths.resize(spacers);
    for (const Occurrence& o : lines) {
        const size_t seq = static_cast<size_t>(o.seq);
        if (inputOf_[seq] != o.seq) continue;
        found.starts.push_back(o.pos);
        found.startsFromEnd.push_back(o.pos - static_cast<int>(inputs_[seq].size()));
        for (size_t s = 0; s < spacers && s < o.spacers.size(); ++s)
            found.spacerLengths[s].push_back(o.spacers[s]);
        if (opts_.bothStrands) found.strands.push_back(o.strand);
    }
    return found;
}

namespace {

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The table as a link from the report's page: its bare name when both are in one directory, else a file
// URL of its absolute path.
std::string tableLinkFrom(const std::string& report, const std::string& table) {
    if (table.empty() || table[0] != '/') {
        if (directoryOf(report) == directoryOf(table)) return table.substr(directoryOf(table).size());
        char* absolute = realpath(table.c_str(), nullptr);
        if (absolute == nullptr) return table;
        const std::string link = std::string("file://") + absolute;
        free(absolute);
        return link;
    }
    return "file://" + table;
}

std::vector<ReportSymbol> reportSymbols(const MatchRules& rules) {
    std::vector<ReportSymbol> symbols;
    for (size_t s = 0; s < rules.accepted.size(); ++s)
        symbols.push_back({rules.accepted[s], static_cast<int>(s) == rules.joker});
    return symbols;
}

}  // namespace

void Ranking::writeReport(const std::vector<size_t>& order, const std::vector<RankedFile>& files,
                          size_t controls, double extractionSeconds) {
    ReportRun run;
    run.program = program_;
    run.version = MOTBOX_VERSION;
    run.commandLine = command_;
    run.inputFile = inputFile_;
    run.sequences = inputs_.size();
    run.countedSequences = distinctInputs_;
    for (const std::string& t : inputs_) {
        run.totalLength += static_cast<long long>(t.size());
        run.longestSequence = std::max(run.longestSequence, static_cast<int>(t.size()));
    }
    run.control = controlInWords();
    run.controlSequences = controls;
    run.criteria = criteria_;
    run.modelsWritten = models_.size();
    run.bothStrands = opts_.bothStrands;
    run.rows = order.size();
    run.extractionSeconds = extractionSeconds;
    run.tableFile = tableFile_;
    run.tableLink = tableLinkFrom(opts_.reportFile, tableFile_);
    run.top = static_cast<size_t>(opts_.reportTop);
    run.symbols = reportSymbols(rules_);

    run.families = true;
    run.familiesCount = families_.size();

    std::vector<ReportModel> top;
    for (size_t head : bestHeads()) {
        const Model& m = models_[head];
        const Family& family = families_[m.family];
        const RankedFile& file = files[static_cast<size_t>(m.file)];
        ReportModel shown;
        shown.rank = family.headRank;
        shown.name = m.name;
        shown.code = m.code;
        shown.support = m.support;
        shown.controlSupport = m.controlSupport;
        shown.score = m.score;
        shown.file = file.name;
        shown.spacers = spacersOf(m, files);
        const std::vector<Occurrence> lines = occurrenceLinesOf(m, files);
        shown.occurrences = occurrencesOf(lines, shown.spacers.size());
        if (opts_.bothStrands) shown.reverseComplement = reverseComplementColumn(m);
        shown.familySize = family.members.size();
        for (size_t k = 1; k < family.members.size(); ++k)
            shown.familyMembers.push_back(models_[family.members[k]].name);
        for (const CountMatrix& box : boxMatricesOf(m, lines))
            shown.boxCounts.push_back({letters_, box.counts});
        top.push_back(std::move(shown));
    }
    const auto started = Run::current() != nullptr ? Run::current()->startedAt : kProcessStart;
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::writeReport(report_, run, top);
    closeOrRefuse(&report_, opts_.reportFile, "report");
}

OutputCopy::OutputCopy(FILE* out)
    : out_(out),
      copy_(unlinkedTemporaryFile("motbox-output")),
      stream_([this](const char* data, size_t size) {
          return fwrite(data, 1, size, out_) == size && fwrite(data, 1, size, copy_) == size;
      }) {
    if (copy_ == nullptr || stream_.stream() == nullptr)
        fatalError("main: cannot create a temporary copy of the results for the ranking\n");
}

OutputCopy::~OutputCopy() {
    stream_.close();
    if (copy_ != nullptr) fclose(copy_);
}

FILE* OutputCopy::copy() {
    fflush(stream_.stream());
    fflush(copy_);
    rewind(copy_);
    return copy_;
}
