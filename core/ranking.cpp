#include "ranking.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "alphabet.h"
#include "enrichment.h"
#include "global.h"
#include "libfasta.h"
#include "pipeline.h"
#include "shuffle.h"
#include "task_output.h"

struct Ranking::Model {
    std::string name;
    std::string code;
    int file = 0;
    int32_t support = 0;         // input sequences holding it, as the ranking counts them
    int32_t controlSupport = 0;  // control sequences holding it
    Enrichment score{};
};

namespace {

[[noreturn]] void refuse(const std::string& message) { fatalError(message.c_str()); }

// The texts of the control file, upper-cased, after the checks the input's texts pass: a character the
// texts cannot hold is refused with the file's name, the sequence and the position.
std::vector<std::string> readControlFile(const char* path) {
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
            if (control || c == '$' || c == '*' || c == '_') {
                char where[160];
                snprintf(where, sizeof where, "': Seq %zu Pos %zu %s character %d", s, p,
                         control ? "Control" : "Forbidden", code);
                refuse("control file '" + std::string(path) + where);
            }
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
    return texts;
}

// The input texts as loaded (upper-cased by the alphabet step), without their terminator.
std::vector<std::string> loadedTexts(int count) {
    std::vector<std::string> texts;
    for (int k = 0; k < count; ++k) texts.emplace_back(text[k], strcspn(text[k], "$"));
    return texts;
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
std::vector<std::string> distinctOf(const std::vector<std::string>& texts, size_t* folded) {
    const DistinctSequences d = foldDuplicates(texts);
    std::vector<std::string> kept;
    for (size_t i = 0; i < texts.size(); ++i)
        if (d.firstOf[i] == static_cast<int>(i)) kept.push_back(texts[i]);
    *folded = static_cast<size_t>(d.folded);
    return kept;
}

}  // namespace

MatchRules matchRulesOfRun(const Criteres& cr) {
    MatchRules rules;
    for (int s = 0; s < nbSymbMod; ++s) {
        std::string line = alphMod[s] != nullptr ? alphMod[s] : "";
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        for (char& c : line) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        rules.accepted.push_back(line);
    }
    rules.joker = numJOKER;
    rules.maxErr = cr.maxerr;
    if (cr.nbbloc > 1) rules.boxErr.assign(cr.errbloc, cr.errbloc + cr.nbbloc);
    return rules;
}

Ranking::Ranking(const RunOptions& opts, const char* program, const char* inputFile, int nbseq, int argc,
                 char** argv, MatchRules rules)
    : opts_(opts), rules_(std::move(rules)) {
    header_ = std::string(program) + " " + MOTBOX_VERSION + "; input " + inputFile;
    command_ = commandLineOf(argc, argv);
    inputs_ = loadedTexts(nbseq);
    inputOf_.resize(inputs_.size());
    std::iota(inputOf_.begin(), inputOf_.end(), 0);
    if (!opts.keepDuplicates) inputOf_ = foldDuplicates(inputs_).firstOf;
    for (size_t i = 0; i < inputOf_.size(); ++i) distinctInputs_ += inputOf_[i] == static_cast<int>(i);
    seen_.assign(inputs_.size(), -1);
    if (opts.controlFile != nullptr) control_ = readControlFile(opts.controlFile);
    table_ = fopen(opts.rankFile, "w");
    if (table_ == nullptr) refuse("main: cannot open ranking file '" + std::string(opts.rankFile) + "'");
}

Ranking::~Ranking() {
    if (table_ != nullptr) fclose(table_);
}

// Model lines ("name code count") and their occurrence lines ("Seq N ..."), between the header's
// separator line and the final counts.
void Ranking::readModels(FILE* in, int file, size_t spacerBase) {
    char* line = nullptr;
    size_t room = 0;
    ssize_t length;
    bool body = false;
    while ((length = getline(&line, &room, in)) > 0) {
        if (!body) {
            body = strncmp(line, "====", 4) == 0;
            continue;
        }
        if (strncmp(line, "Nb models:", 10) == 0) break;
        if (strncmp(line, "Seq ", 4) == 0) {
            const long seq = strtol(line + 4, nullptr, 10);
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
        if (length >= static_cast<ssize_t>(sizeof name) || sscanf(line, "%4095s %4095s %d", name, code, &count) != 3)
            continue;  // the count line after the occurrences
        Model m;
        m.name = name;
        m.code = code;
        m.file = file;
        models_.push_back(std::move(m));
        std::vector<int> steps;
        size_t spacer = spacerBase;
        for (const char* c = code; *c != '\0'; ++c)
            steps.push_back(*c == '-' ? spacerStep(static_cast<int>(spacer++)) : *c == '*' ? rules_.joker : *c - '0');
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

void Ranking::write(const std::vector<RankedFile>& files) {
    fputs("** Ranking against the control set **\n", stderr);
    for (size_t f = 0; f < files.size(); ++f) {
        const size_t base = matching_.spacers.size();
        matching_.spacers.insert(matching_.spacers.end(), files[f].spacers.begin(), files[f].spacers.end());
        readModels(files[f].stream, static_cast<int>(f), base);
    }
    std::vector<std::string> controls = controlTexts();
    size_t controlFolded = 0;
    if (!opts_.keepDuplicates) controls = distinctOf(controls, &controlFolded);
    const std::vector<int32_t> support = controlSupport(controls, matching_, rules_);
    const int64_t n = static_cast<int64_t>(distinctInputs_), m = static_cast<int64_t>(controls.size());
    for (size_t i = 0; i < models_.size(); ++i) {
        models_[i].controlSupport = support[i];
        models_[i].score = enrichmentOf(models_[i].support, n, support[i], m, static_cast<int64_t>(models_.size()));
    }
    std::vector<size_t> order(models_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (models_[a].score.log10P != models_[b].score.log10P) return models_[a].score.log10P < models_[b].score.log10P;
        return models_[a].support > models_[b].support;
    });
    const size_t folded = inputs_.size() - distinctInputs_;
    if (folded > 0)
        fprintf(stderr,
                "> Warning: %zu input sequences identical to an earlier one are counted once by the ranking "
                "(--keep-duplicates counts each)\n",
                folded);
    writeTable(order, files, controls.size(), controlFolded);
}

void Ranking::writeTable(const std::vector<size_t>& order, const std::vector<RankedFile>& files, size_t controls,
                         size_t controlFolded) {
    std::string control = opts_.controlFile != nullptr
                              ? std::string("control ") + opts_.controlFile
                              : "control " + std::to_string(opts_.shuffles) + " dinucleotide shuffles of each distinct input sequence, seed " +
                                    std::to_string(opts_.seed);
    fprintf(table_, "# %s: %zu sequences, %zu of them counted (%zu identical ones folded); %s: %zu sequences counted (%zu identical ones folded); %zu models; command line: %s\n",
            header_.c_str(), inputs_.size(), distinctInputs_, inputs_.size() - distinctInputs_, control.c_str(),
            controls, controlFolded, models_.size(), command_.c_str());
    fputs("rank\tmodel\tcode\tsupport\tsequences\tcontrol_support\tcontrol_sequences\tenrichment\tlog10_p\tp_value\te_value\tfile\n",
          table_);
    for (size_t r = 0; r < order.size(); ++r) {
        const Model& m = models_[order[r]];
        fprintf(table_, "%zu\t%s\t%s\t%d\t%zu\t%d\t%zu\t%s\t%s\t%s\t%s\t%s\n", r + 1, m.name.c_str(), m.code.c_str(),
                m.support, distinctInputs_, m.controlSupport, controls, formatNumber(m.score.enrichment).c_str(),
                formatNumber(m.score.log10P).c_str(), formatNumber(m.score.pValue).c_str(),
                formatNumber(m.score.eValue).c_str(), files[static_cast<size_t>(m.file)].name.c_str());
    }
    const bool failed = fflush(table_) != 0 || ferror(table_);
    if (fclose(table_) != 0 || failed) {
        table_ = nullptr;
        refuse("main: cannot write ranking file '" + std::string(opts_.rankFile) + "'");
    }
    table_ = nullptr;
}

OutputCopy::OutputCopy(FILE* out) : out_(out) {
    copy_ = unlinkedTemporaryFile("motbox-output");
    cookie_io_functions_t io{};
    io.write = &OutputCopy::onWrite;
    stream_ = fopencookie(this, "w", io);
    if (copy_ == nullptr || stream_ == nullptr)
        fatalError("main: cannot create a temporary copy of the results for the ranking\n");
}

OutputCopy::~OutputCopy() {
    if (stream_ != nullptr) fclose(stream_);
    if (copy_ != nullptr) fclose(copy_);
}

ssize_t OutputCopy::onWrite(void* cookie, const char* data, size_t size) {
    auto* self = static_cast<OutputCopy*>(cookie);
    if (fwrite(data, 1, size, self->out_) != size || fwrite(data, 1, size, self->copy_) != size) return -1;
    return static_cast<ssize_t>(size);
}

FILE* OutputCopy::copy() {
    fflush(stream_);
    fflush(copy_);
    rewind(copy_);
    return copy_;
}
