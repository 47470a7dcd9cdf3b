// Differential test of motbox-delta against a brute force that uses no suffix tree: for random small
// cases it enumerates the candidate models in the walk's order, finds their occurrences by matching them
// directly against the texts, and predicts every result file (its models in order, their sequence counts,
// their occurrence lines with spacer lengths, and the summary line), which must be what the program writes.
//
// A plain brute force ("every model that occurs in a quorum of sequences") lacks several rules of the
// engine; each is reproduced below where it applies and named in a comment starting with "Rule:".
//
// With --both-strands each sequence is also matched as its reverse complement: a model counts the distinct
// sequences where it occurs on either strand, and an occurrence on the reverse complement is written at the
// place it covers in the sequence as written, its spacer lengths as read on its strand, then its strand.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

using testutil::complementChar;
using testutil::reverseComplement;

namespace {

struct Symbol {
    std::string line;     // as written in the alphabet file
    std::string name;     // display name once translated (AG -> R, * -> N)
    std::string accepts;  // text characters accepted
    bool joker;
};

struct Box {
    int min, max, err;  // max 0 = no limit; a negative err never refuses
};

struct Spacer {
    int min, max, delta;
};

struct Case {
    std::vector<Symbol> symbols;
    std::vector<std::string> texts;
    int quorumPercent = 0;
    int quorum = 0;
    int minlong = 0, maxlong = 0, maxerr = 0;
    std::vector<Box> boxes;
    std::vector<Spacer> spacers;
    // Composition limits, -1 = none; a group on the command line sets flagcompo / flagcompobloc.
    std::vector<int> compo;
    std::vector<std::vector<int>> compobloc;
    bool flagcompo = false;
    std::vector<bool> flagcompobloc;
    std::vector<std::string> tail;
    bool bothStrands = false;
    bool lowerCase = false;  // the FASTA file holds the texts in lower case
};

struct Window {
    int lo, hi;
};

struct Occurrence {
    int seq, pos;  // pos in the sequence as written
    std::vector<int> lens;
    bool reverse;  // found on the reverse complement
};

// ---- Direct matching ---------------------------------------------------------------------------

bool accepts(const Symbol& s, char c) {
    return s.joker || s.accepts.find(c) != std::string::npos;
}

// Every placement of the boxes in the texts: box characters inside the sequence (never on its end),
// spacer j of a length inside windows[j], at most box.err substitutions per box and maxerr in all.
// Rule: a spacer lies inside one sequence, and the joker accepts every character without a substitution.
// With both strands, the placements in the reverse complement of each text too.
std::vector<Occurrence> findOccurrences(const Case& c, const std::vector<std::vector<int>>& model,
                                        const std::vector<Window>& windows) {
    std::vector<Occurrence> found;
    std::vector<int> lens;
    auto limitOk = [](int spent, int limit) { return limit < 0 || spent <= limit; };
    for (int strand = 0; strand < (c.bothStrands ? 2 : 1) * static_cast<int>(c.texts.size()); strand++) {
        const int s = c.bothStrands ? strand / 2 : strand;
        const bool reverse = c.bothStrands && strand % 2 == 1;
        const std::string t = reverse ? reverseComplement(c.texts[s]) : c.texts[s];
        const int len = static_cast<int>(t.size());
        // place(j, at, err): box j starts at text index at, err substitutions spent before it.
        auto place = [&](auto&& self, size_t j, int at, int err, int start) -> void {
            int boxErr = 0;
            for (int sym : model[j]) {
                if (at >= len) return;
                if (!accepts(c.symbols[sym], t[at])) {
                    boxErr++;
                    err++;
                }
                at++;
            }
            if (!limitOk(boxErr, c.boxes[j].err) || !limitOk(err, c.maxerr)) return;
            if (j + 1 == model.size()) {
                // On the reverse complement the occurrence covers [start, at): in the sequence, from len -
                // at.
                found.push_back({s, reverse ? len - at : start, lens, reverse});
                return;
            }
            for (int l = windows[j].lo; l <= windows[j].hi; l++) {
                lens.push_back(l);
                self(self, j + 1, at + l, err, start);
                lens.pop_back();
            }
        };
        for (int p = 0; p < len; p++) place(place, 0, p, 0, p);
    }
    return found;
}

int countSequences(const std::vector<Occurrence>& occ) {
    std::set<int> seqs;
    for (const Occurrence& o : occ) seqs.insert(o.seq);
    return static_cast<int>(seqs.size());
}

// ---- The walk, for one result file --------------------------------------------------------------

struct Written {
    std::string line;              // "names code count"
    std::vector<std::string> occ;  // occurrence lines, sorted
    int prof;
    std::vector<int> boxLengths;
};

// Predicts the models of the file whose spacer windows are `windows`.
// Rule: a model is written once per window combination whose landings pass the quorum, into that
// combination's file, with the occurrences of those windows only; so each file is its own walk here, every
// count taken in that file's windows (a window that fails the quorum hides every model below it, and
// counts only shrink as a model grows, so checking each model's own count is the same test).
class BruteForce {
  public:
    BruteForce(const Case& c, std::vector<Window> windows) : c_(c), windows_(std::move(windows)) {
        compo_ = c.compo;
        compobloc_ = c.compobloc;
        model_.assign(1, {});
    }

    std::vector<Written> run() {
        walk(0, 0, 0);
        return written_;
    }

  private:
    int nbBoxes() const { return static_cast<int>(c_.boxes.size()); }
    int joker() const {
        for (size_t i = 0; i < c_.symbols.size(); i++)
            if (c_.symbols[i].joker) return static_cast<int>(i);
        return -1;
    }
    bool compositionApplies(int box) const { return c_.flagcompo || c_.flagcompobloc[box]; }

    int countOf(const std::vector<std::vector<int>>& m) const {
        return countSequences(findOccurrences(c_, m, windows_));
    }

    // Rule: the walk stops growing a model at the total maximum length or at the box maximum; in the last
    // box such a model goes straight to the keep point, without the final length tests.
    bool atLimit(int prof, int lgbloc, int box) const {
        if (c_.maxlong != 0 && prof >= c_.maxlong) return true;
        return c_.boxes[box].max != 0 && lgbloc >= c_.boxes[box].max;
    }

    // Rule: a model ending with the joker (or with an empty box) is never written, but tells its caller
    // that this extension reached the keep point (result 1).
    int keepPoint(int prof) {
        const std::vector<int>& lastBox = model_.back();
        if (lastBox.empty() || lastBox.back() == joker()) return 1;
        write(prof);
        return 0;
    }

    void write(int prof) {
        Written w;
        std::string names, code;
        for (size_t b = 0; b < model_.size(); b++) {
            if (b > 0) {
                names += "_";
                code += "-";
            }
            for (int s : model_[b]) {
                names += c_.symbols[s].name;
                code += c_.symbols[s].joker ? '*' : static_cast<char>('0' + s);
            }
            w.boxLengths.push_back(static_cast<int>(model_[b].size()));
        }
        std::vector<Occurrence> occ = findOccurrences(c_, model_, windows_);
        // Rule: the count after the model is the number of sequences of its occurrences in this file's
        // windows (the last extension's count), not of the whole spacer ranges.
        w.line = names + " " + code + " " + std::to_string(countSequences(occ));
        for (const Occurrence& o : occ) {
            char buf[64];
            snprintf(buf, sizeof buf, "Seq %5d   Pos %5d\t", o.seq, o.pos);
            std::string line = buf;
            for (int l : o.lens) line += std::to_string(l) + " ";
            if (c_.bothStrands) line += o.reverse ? "\t-" : "\t+";
            w.occ.push_back(line);
        }
        std::sort(w.occ.begin(), w.occ.end());
        w.prof = prof;
        written_.push_back(w);
    }

    void spend(int box, int s, int delta) {
        if (!compositionApplies(box)) return;
        compo_[s] -= delta;
        compobloc_[box][s] -= delta;
    }

    // The walk of one model (the content of model_, box `box` holding lgbloc symbols, prof in all).
    int walk(int prof, int lgbloc, int box) {
        const bool lastBox = box == nbBoxes() - 1;
        if (atLimit(prof, lgbloc, box)) return lastBox ? keepPoint(prof) : 0;
        bool jokerFlag = false;
        int sum = 0;
        for (int s = 0; s < static_cast<int>(c_.symbols.size()); s++) {
            // Rule: no model begins with the joker.
            if (prof == 0 && s == joker()) continue;
            // Rule: allowances are spent by the symbols appended while a limit applies to the box.
            if (compositionApplies(box) && (compobloc_[box][s] == 0 || compo_[s] == 0)) continue;
            model_.back().push_back(s);
            const int count = countOf(model_);
            if (count == 0) {
                model_.back().pop_back();
                continue;
            }
            // Rule: the next box is tried before the extension inside the box (both are explored).  In
            // this file only its window is spelled; a box change happens only once the box holds its
            // minimum length.
            if (!lastBox && lgbloc + 1 >= c_.boxes[box].min && count >= c_.quorum) {
                spend(box, s, 1);
                model_.push_back({});
                walk(prof + 1, 0, box + 1);
                model_.pop_back();
                spend(box, s, -1);
            }
            if (count >= c_.quorum) {
                if (s == joker()) jokerFlag = true;
                spend(box, s, 1);
                sum += walk(prof + 1, lgbloc + 1, box);
                spend(box, s, -1);
            }
            model_.back().pop_back();
        }
        if (!lastBox || prof < c_.minlong || lgbloc < c_.boxes[box].min) return 0;
        // Rule: a model whose joker extension met the quorum but never reached the keep point is not
        // written.  (Without palindromes a joker extension that meets the quorum always reaches it, since
        // it passes the length tests whenever the model does; the rule is kept for fidelity.)
        if (jokerFlag && sum == 0) return 0;
        return keepPoint(prof);
    }

    const Case& c_;
    std::vector<Window> windows_;
    std::vector<int> compo_;
    std::vector<std::vector<int>> compobloc_;
    std::vector<std::vector<int>> model_;
    std::vector<Written> written_;
};

// ---- Files of a case ------------------------------------------------------------------------------

// Window combinations in file-number order: the first spacer varies slowest.
std::vector<std::vector<Window>> windowCombinations(const Case& c) {
    std::vector<std::vector<Window>> all{{}};
    for (const Spacer& sp : c.spacers) {
        std::vector<std::vector<Window>> longer;
        for (const auto& prefix : all)
            for (int lo = sp.min; lo + 2 * sp.delta <= sp.max; lo++) {
                longer.push_back(prefix);
                longer.back().push_back({lo, lo + 2 * sp.delta});
            }
        all = longer;
    }
    return all;
}

std::string fileName(const std::vector<Window>& windows) {
    std::string name = "res";
    for (const Window& w : windows) {
        name += '[';
        name += std::to_string(w.lo);
        name += '-';
        name += std::to_string(w.hi);
        name += ']';
    }
    return name;
}

std::string textAlphabet(const Case& c) {
    std::set<char> chars;
    for (const std::string& t : c.texts) {
        chars.insert(t.begin(), t.end());
        if (c.bothStrands)
            for (char ch : t) chars.insert(complementChar(ch));  // the reverse strands' characters
    }
    return std::string(chars.begin(), chars.end()) + "$";
}

// What the file must hold once parsed (see canonical()): first line, then the models, then the count.
std::string expectedFile(const Case& c, const std::vector<Window>& windows, int& nbModels) {
    std::vector<Written> models = BruteForce(c, windows).run();
    nbModels = static_cast<int>(models.size());
    int reached = 0;
    std::vector<int> reachedBox(c.boxes.size(), 0);
    std::string body;
    for (const Written& w : models) {
        reached = std::max(reached, w.prof);
        for (size_t b = 0; b < reachedBox.size(); b++)
            reachedBox[b] = std::max(reachedBox[b], w.boxLengths[b]);
        body += w.line + "\n";
        for (const std::string& l : w.occ) body += l + "\n";
        body += std::to_string(w.occ.size()) + "\n";
    }
    long longtext = 0;
    for (const std::string& t : c.texts) longtext += static_cast<long>(t.size());
    std::ostringstream summary;
    summary << "%%% " << c.boxes.size() << " " << c.quorum << "/" << c.texts.size() << " " << longtext << " "
            << c.minlong << " " << reached << " " << c.maxerr;
    for (size_t b = 0; b < c.boxes.size(); b++) {
        summary << " " << c.boxes[b].min << " " << reachedBox[b] << " " << c.boxes[b].err;
        if (b < windows.size()) summary << " " << windows[b].lo << " " << windows[b].hi;
    }
    summary << " alpha.txt " << textAlphabet(c);
    std::string first = summary.str();
    if (first.size() < 79) first += std::string(79 - first.size(), ' ');
    return first + "\n" + body + "Nb models: " + std::to_string(models.size()) + "\n";
}

// A result file with the occurrence lines of each model sorted (their order follows the tree) and the
// time line dropped; the blank and separator lines of the reserved header are checked here.
std::string canonical(const std::string& content, std::string& problems) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    if (lines.size() < 6) {
        problems += "file too short\n";
        return content;
    }
    if (lines[1] != std::string(79, ' ') || lines[2] != std::string(79, ' ') ||
        lines[3] != std::string(79, '='))
        problems += "reserved header damaged\n";
    if (lines.back().rfind("User time : ", 0) != 0) problems += "no time line\n";
    std::string out = lines[0] + "\n";
    size_t i = 4;
    const size_t end = lines.size() - 2;  // "Nb models" and the time line
    while (i < end) {
        out += lines[i++] + "\n";
        std::vector<std::string> occ;
        while (i < end && lines[i].rfind("Seq ", 0) == 0) occ.push_back(lines[i++]);
        std::sort(occ.begin(), occ.end());
        for (const std::string& l : occ) out += l + "\n";
        if (i < end) out += lines[i++] + "\n";
    }
    return out + lines[end] + "\n";
}

// ---- Random cases ---------------------------------------------------------------------------------

struct Shape {
    int boxes;
    int delta;  // -1: any
    bool zeroMinimum;
    // The last spacer has over 32 lengths (windows of 33), so that its windows are walked one by one
    // rather than together.
    bool wideLastSpacer = false;
};

// Both strands: some symbols also accept a degenerate character, their names staying those of the plain
// symbols, and the texts then hold a few of those characters, whose complements differ from them or not.
void readBothStrands(Case& c, std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };
    static const std::vector<std::pair<std::string, std::vector<std::string>>> wider = {
        {"A", {"AR", "AN", "ARN"}},
        {"C", {"CY", "CN", "CYN"}},
        {"G", {"GR", "GN", "GRN"}},
        {"T", {"TY", "TN", "TYN"}},
        {"R", {"AGR", "AGN", "AGRN"}}};
    c.bothStrands = true;
    c.lowerCase = chance(0.15);
    if (!chance(0.5)) return;
    for (Symbol& s : c.symbols)
        for (const auto& [name, lines] : wider)
            if (s.name == name && chance(0.5)) s.line = s.accepts = lines[pick(0, 2)];
    std::string extra;
    for (char ch : std::string("NRY"))
        for (const Symbol& s : c.symbols)
            if (!s.joker && s.accepts.find(ch) != std::string::npos && extra.find(ch) == std::string::npos)
                extra += ch;
    if (extra.empty()) return;
    for (std::string& t : c.texts)
        for (char& ch : t)
            if (chance(0.2)) ch = extra[pick(0, static_cast<int>(extra.size()) - 1)];
}

Case randomCase(std::mt19937& rng, const Shape& shape, bool bothStrands = false) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };
    Case c;
    c.symbols = {
        {"A", "A", "A", false}, {"C", "C", "C", false}, {"G", "G", "G", false}, {"T", "T", "T", false}};
    if (chance(0.3)) c.symbols.push_back({"AG", "R", "AG", false});
    if (chance(0.4)) c.symbols.push_back({"*", "N", "", true});
    std::shuffle(c.symbols.begin(), c.symbols.end(), rng);

    // A small text alphabet makes models recur across sequences.
    const std::string letters = std::vector<std::string>{"AC", "ACG", "ACGT", "AGT"}[pick(0, 3)];
    const int n = pick(2, 4);
    for (int s = 0; s < n; s++) {
        std::string t;
        for (int k = pick(4, 10); k > 0; k--) t += letters[pick(0, static_cast<int>(letters.size()) - 1)];
        c.texts.push_back(t);
    }
    if (bothStrands) readBothStrands(c, rng);
    // A quorum of at least two sequences keeps the number of models small.
    do {
        c.quorumPercent = std::vector<int>{0, 50, 60, 75, 100}[pick(0, 4)];
        c.quorum = c.quorumPercent == 0 ? (70 * n + 99) / 100 : (n * c.quorumPercent + 99) / 100;
    } while (c.quorum < 2);

    c.minlong = pick(0, 4);
    c.maxlong = chance(0.4) ? 0 : pick(2, 7);
    c.maxerr = std::vector<int>{0, 0, 1, 2, -1}[pick(0, 4)];
    for (int b = 0; b < shape.boxes; b++) {
        Box box;
        box.min = pick(0, 2);
        box.max = chance(0.15) ? 0 : box.min + pick(0, 2);
        if (box.max == 0 && c.maxlong == 0) box.max = std::max(1, box.min);
        box.err = std::vector<int>{0, 0, 1, -1}[pick(0, 3)];
        c.boxes.push_back(box);
        if (b + 1 < shape.boxes) {
            Spacer sp;
            sp.delta = shape.delta >= 0 ? shape.delta : pick(0, 2);
            sp.min = shape.zeroMinimum ? 0 : pick(0, 3);
            sp.max = sp.min + 2 * sp.delta + pick(0, 2);
            if (shape.wideLastSpacer && b + 2 == shape.boxes) {
                sp.delta = 16;
                sp.max = sp.min + 33 + pick(0, 1);
            }
            c.spacers.push_back(sp);
        }
    }

    c.compo.assign(c.symbols.size(), -1);
    c.compobloc.assign(c.boxes.size(), std::vector<int>(c.symbols.size(), -1));
    c.flagcompobloc.assign(c.boxes.size(), false);
    for (size_t s = 0; s < c.symbols.size(); s++) {
        if (c.symbols[s].joker && chance(0.4)) {
            c.compo[s] = pick(0, 1);
            c.flagcompo = true;
            c.tail.insert(c.tail.end(), {"0", "1", "*", std::to_string(c.compo[s])});
        }
    }
    if (chance(0.25)) {
        const int box = pick(0, shape.boxes - 1);
        const int s = pick(0, static_cast<int>(c.symbols.size()) - 1);
        c.compobloc[box][s] = pick(0, 1);
        c.flagcompobloc[box] = true;
        c.tail.insert(c.tail.end(),
                      {std::to_string(box + 1), "1", c.symbols[s].line, std::to_string(c.compobloc[box][s])});
    }
    return c;
}

std::vector<std::string> commandLine(const Case& c) {
    std::vector<std::string> args = {MOTBOX_DELTA_BIN,
                                     "alpha.txt",
                                     "seqs.fa",
                                     "res",
                                     std::to_string(c.quorumPercent),
                                     std::to_string(c.boxes.size()),
                                     std::to_string(c.minlong),
                                     std::to_string(c.maxlong),
                                     std::to_string(c.maxerr)};
    for (size_t b = 0; b < c.boxes.size(); b++) {
        for (int v : {c.boxes[b].min, c.boxes[b].max, c.boxes[b].err}) args.push_back(std::to_string(v));
        if (b < c.spacers.size())
            for (int v : {c.spacers[b].min, c.spacers[b].max, c.spacers[b].delta})
                args.push_back(std::to_string(v));
    }
    args.insert(args.end(), c.tail.begin(), c.tail.end());
    if (c.bothStrands) args.insert(args.begin() + 1, "--both-strands");
    return args;
}

std::string describe(const Case& c) {
    std::string d = "command:";
    for (size_t i = 1; i < commandLine(c).size(); i++) d += " " + commandLine(c)[i];
    d += "\nalphabet:";
    for (const Symbol& s : c.symbols) d += " " + s.line;
    d += c.lowerCase ? "\ntexts (in lower case in the file):" : "\ntexts:";
    for (const std::string& t : c.texts) d += " " + t;
    return d + "\n";
}

struct Figures {
    int models = 0;        // models written, over the case's files
    int files = 0;         // result files
    int reverseLines = 0;  // occurrence lines of the - strand
};

// Runs one case with the given number of extraction threads and compares every result file with the
// prediction; returns what the files held.
Figures checkCase(const Case& c, int threads) {
    const std::string dir = makeTempDir();
    std::string alphabet = "Nucleotide alphabet\n";
    for (const Symbol& s : c.symbols) alphabet += s.line + "\n";
    writeFile(dir + "/alpha.txt", alphabet);
    std::string fasta;
    for (size_t s = 0; s < c.texts.size(); s++) {
        std::string t = c.texts[s];
        if (c.lowerCase)
            for (char& ch : t) ch = static_cast<char>(ch - 'A' + 'a');
        fasta += ">s" + std::to_string(s) + "\n" + t + "\n";
    }
    writeFile(dir + "/seqs.fa", fasta);

    std::vector<std::string> args = commandLine(c);
    args.insert(args.begin() + 1, {"-t", std::to_string(threads)});
    RunResult r = runCommand(args, dir);
    Figures seen;
    EXPECT_EQ(r.status, 0) << describe(c) << "threads " << threads << "\n" << r.err;
    const auto combinations = windowCombinations(c);
    std::string names;
    for (const auto& w : combinations) names += fileName(w) + "\n";
    EXPECT_EQ(readFile(dir + "/.namefile"), names) << describe(c);
    for (const auto& windows : combinations) {
        const std::string path = dir + "/" + fileName(windows);
        if (!fileExists(path)) {
            ADD_FAILURE() << describe(c) << "missing " << fileName(windows);
            continue;
        }
        std::string problems;
        const std::string actual = canonical(readFile(path), problems);
        int nbModels = 0;
        const std::string expected = expectedFile(c, windows, nbModels);
        EXPECT_EQ(problems, "") << describe(c) << fileName(windows);
        EXPECT_EQ(actual, expected) << describe(c) << fileName(windows);
        seen.models += nbModels;
        seen.files++;
        for (size_t at = expected.find("\t-\n"); at != std::string::npos; at = expected.find("\t-\n", at + 1))
            seen.reverseLines++;
    }
    removeTree(dir);
    return seen;
}

// Cases of one shape; the seed makes every run check the same cases.
void checkShape(const Shape& shape, unsigned seed, int cases) {
    std::mt19937 rng(seed);
    int models = 0;
    for (int i = 0; i < cases && !::testing::Test::HasFailure(); i++) {
        // In the calling thread alone, and cut into tasks over an odd number of workers.
        const Case c = randomCase(rng, shape);
        models += checkCase(c, 1).models;
        checkCase(c, 3);
    }
    // The cases must not all be empty: the shapes are chosen so that models are found.
    EXPECT_GT(models, cases);
}

TEST(SpellDeltaDiff, TwoBoxesDeltaZero) {
    checkShape({2, 0, false}, 11, 50);
}
TEST(SpellDeltaDiff, TwoBoxesOverlappingWindows) {
    checkShape({2, 1, false}, 12, 60);
}
TEST(SpellDeltaDiff, TwoBoxesSpacerMinimumZero) {
    checkShape({2, -1, true}, 13, 50);
}
TEST(SpellDeltaDiff, ThreeBoxesDeltaZero) {
    checkShape({3, 0, false}, 14, 40);
}
TEST(SpellDeltaDiff, ThreeBoxesOverlappingWindows) {
    checkShape({3, -1, false}, 15, 60);
}
TEST(SpellDeltaDiff, ThreeBoxesSpacerMinimumZero) {
    checkShape({3, -1, true}, 16, 50);
}
TEST(SpellDeltaDiff, WideLastSpacerWalksItsWindowsOneByOne) {
    checkShape({2, -1, false, true}, 17, 20);
    checkShape({3, -1, true, true}, 18, 20);
}

// Both strands, over the shapes above: every case in one and three threads, the features' coverage counted
// over all the rows.
TEST(SpellDeltaDiff, BothStrandsOverEveryShape) {
    struct Row {
        Shape shape;
        unsigned seed;
        int cases;
    };
    const Row rows[] = {{{2, 0, false}, 21, 50},        {{2, 1, false}, 22, 50},      {{2, -1, true}, 23, 50},
                        {{3, 0, false}, 24, 40},        {{3, -1, false}, 25, 50},     {{3, -1, true}, 26, 40},
                        {{2, -1, false, true}, 27, 20}, {{3, -1, true, true}, 28, 20}};
    int cases = 0, withModels = 0, withJoker = 0, withCompo = 0, degenerate = 0, lowerCase = 0, reverse = 0;
    int manyFiles = 0;
    long models = 0;
    for (const Row& row : rows) {
        std::mt19937 rng(row.seed);
        for (int i = 0; i < row.cases && !HasFailure(); i++, cases++) {
            const Case c = randomCase(rng, row.shape, true);
            const Figures seen = checkCase(c, 1);
            checkCase(c, 3);
            models += seen.models;
            withModels += seen.models > 0;
            withJoker +=
                std::any_of(c.symbols.begin(), c.symbols.end(), [](const Symbol& s) { return s.joker; });
            withCompo += !c.tail.empty();
            degenerate += std::any_of(c.texts.begin(), c.texts.end(), [](const std::string& t) {
                return t.find_first_of("NRY") != std::string::npos;
            });
            lowerCase += c.lowerCase;
            reverse += seen.reverseLines > 0;
            manyFiles += seen.files > 1;
        }
    }
    printf(
        "cases %d: with models %d, joker %d, compositions %d, degenerate texts %d, lower-case texts %d, "
        "- strand occurrences %d, several windows %d; models %ld\n",
        cases, withModels, withJoker, withCompo, degenerate, lowerCase, reverse, manyFiles, models);
    // The generator must cover the features, not only produce empty runs.
    EXPECT_GT(withModels, cases / 2);
    EXPECT_GT(withJoker, cases / 4);
    EXPECT_GT(withCompo, cases / 5);
    EXPECT_GT(degenerate, cases / 5);
    EXPECT_GT(lowerCase, cases / 20);
    EXPECT_GT(reverse, cases / 2);
    EXPECT_GT(manyFiles, cases / 2);
}

}  // namespace
