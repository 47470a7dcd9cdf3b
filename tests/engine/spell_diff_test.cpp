// Differential test of the model spelling engine: random small runs of the motbox binary against a
// brute-force extractor that never builds a tree.  The brute force keeps every occurrence as a plain
// alignment (sequence, start, end, substitutions, spacer lengths) and extends it by reading the text
// itself, so everything the engine does with the suffix tree -- occurrence places, edge walks, colour
// sets and the quorum bound, spacer jumps, occurrence stacks, position lists -- is checked against
// direct string matching.
//
// The enumeration order and the rules of the walk that a plain "every model that matches" brute force
// would not have are reproduced on purpose, each where it applies:
//  - models are visited depth first, symbols in increasing number, a box change before the extension
//    inside the box, and a model is written after all its extensions;
//  - no model begins with the joker;
//  - a model ending with the joker (or with an empty last box) is never written, but reports to its
//    caller that it reached the keep point;
//  - joker flag: a model of the last box that explored a joker extension is written only if at least
//    one of those extensions reached the keep point (its box changes never matter: a model that can
//    change box is not in the last box, and only last-box models are written).  Reproduced as the
//    engine has it, although it cannot suppress anything here: the final tests only get easier as a
//    model grows, so a joker extension of a model that passes them always reaches the keep point;
//  - limits reached (total maximum length, box maximum length, or a palindromic box at its partner's
//    length) stop the extension and, in the last box, go straight to the keep point without the final
//    tests of minimum lengths;
//  - a palindromic box spells the reverse complement of its partner and stops at its length;
//  - substitution and composition limits: a negative value never refuses.
//
// With --both-strands every sequence is also read as its reverse complement: the places start in both
// texts, a model counts the distinct sequences of its occurrences on either strand, and an occurrence of
// the reverse text is written at the place it covers in the sequence as written, with its strand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

using testutil::complementChar;
using testutil::reverseComplement;

namespace {

constexpr int kCases = 500;
constexpr int kStrandCases = 300;
constexpr int kWideCases = 40;
constexpr long kVisitCap = 60000;  // brute-force visits; bigger random cases are drawn again

struct Symbol {
    std::string line;     // as written in the alphabet file (also its name for compositions)
    std::string display;  // name after translation
    bool joker = false;
};

struct Case {
    std::vector<std::string> seqs;
    std::vector<Symbol> symbols;  // in file order: symbol numbers
    int nbbloc = 1, minlong = 0, maxlong = 0, maxerr = 0, quorum = 1;
    std::string quorumArg;
    std::vector<int> boxMin, boxMax, boxErr, gapMin, gapMax;  // boxes and spacers (multi-box runs)
    std::vector<int> compo;                                   // whole-model limit per symbol, -1 none
    std::vector<std::vector<int>> compoBox;                   // per box and symbol, -1 none
    std::vector<int> pal;                                     // partner box, -1 none
    std::vector<std::string> tail;
    bool bothStrands = false;
    bool lowerCase = false;  // the FASTA file holds the texts in lower case

    int jokerNumber() const {
        for (size_t i = 0; i < symbols.size(); ++i)
            if (symbols[i].joker) return static_cast<int>(i);
        return -1;
    }
    std::vector<std::string> arguments() const {
        std::vector<std::string> args = {"a.txt",
                                         "s.fa",
                                         "r.txt",
                                         quorumArg,
                                         std::to_string(nbbloc),
                                         std::to_string(minlong),
                                         std::to_string(maxlong),
                                         std::to_string(maxerr)};
        if (nbbloc > 1)
            for (int b = 0; b < nbbloc; ++b) {
                for (int v : {boxMin[b], boxMax[b], boxErr[b]}) args.push_back(std::to_string(v));
                if (b + 1 < nbbloc)
                    for (int v : {gapMin[b], gapMax[b]}) args.push_back(std::to_string(v));
            }
        args.insert(args.end(), tail.begin(), tail.end());
        return args;
    }
    std::string describe() const {
        std::string d = bothStrands ? "motbox --both-strands" : "motbox";
        for (const std::string& a : arguments()) d += " " + a;
        d += "\nalphabet:";
        for (const Symbol& s : symbols) d += " " + s.line;
        d += lowerCase ? "\nsequences (in lower case in the file):" : "\nsequences:";
        for (const std::string& s : seqs) d += " " + s;
        return d;
    }
};

struct ModelRecord {
    std::string line;                   // names, coded form, number of sequences
    std::vector<std::string> occLines;  // sorted
    int count = 0;                      // the count line written after the occurrences
    bool operator==(const ModelRecord&) const = default;
};

struct Extraction {
    std::vector<ModelRecord> models;
    int maxProf = 0;          // the summary's reached maximum length
    std::vector<int> maxBox;  // the summary's reached box lengths (multi-box runs)
};

// ---- Brute force -------------------------------------------------------------------------------

class BruteForce {
  public:
    explicit BruteForce(const Case& c)
        : c_(c), nsym_(static_cast<int>(c.symbols.size())), joker_(c.jokerNumber()), spacer_(nsym_) {
        result_.maxBox.assign(c.nbbloc, 0);
        boxLen_.assign(c.nbbloc, 0);
        boxStart_.assign(c.nbbloc, 0);
        for (int s = 0; s < nsym_; ++s) comp_.push_back(complementOf(s));
        for (int q = 0; q < static_cast<int>(c.seqs.size()); ++q) {
            texts_.push_back({q, false, c.seqs[q]});
            if (c.bothStrands) texts_.push_back({q, true, reverseComplement(c.seqs[q])});
        }
    }

    // False when the case is too big to be worth checking.
    bool run() {
        std::vector<Place> roots;
        for (int t = 0; t < static_cast<int>(texts_.size()); ++t)
            for (int p = 0; p < static_cast<int>(texts_[t].chars.size()); ++p)
                roots.push_back({t, p, p, 0, 0, {}});
        explore(0, 0, 0, roots);
        return visits_ <= kVisitCap;
    }
    const Extraction& result() const { return result_; }

  private:
    struct Text {
        int seq;
        bool reverse;  // the reverse complement of sequence seq
        std::string chars;
    };
    struct Place {
        int text, start, end, err, errBox;  // start and end in texts_[text]
        std::vector<int> gaps;
    };

    bool multi() const { return c_.nbbloc > 1; }

    bool accepts(int s, char ch) const {
        return c_.symbols[s].joker || c_.symbols[s].line.find(ch) != std::string::npos;
    }

    int complementOf(int s) const {
        static const std::string from = "ACGTRYN", to = "TGCAYRN";
        const size_t k = from.find(c_.symbols[s].display);
        for (int t = 0; t < nsym_ && k != std::string::npos; ++t)
            if (c_.symbols[t].display == std::string(1, to[k])) return t;
        return -1;
    }

    static bool overLimit(int value, int limit) { return limit >= 0 && value > limit; }

    int countInModel(int s, size_t from) const {
        return static_cast<int>(std::count(name_.begin() + from, name_.end(), s));
    }

    bool allowed(int s, int prof, int lgbloc, int box) {
        if (prof == 0 && s == joker_) return false;
        if (c_.compo[s] >= 0 && countInModel(s, 0) >= c_.compo[s]) return false;
        if (lgbloc == 0) boxStart_[box] = static_cast<int>(name_.size());
        const int limit = c_.compoBox[box][s];
        if (limit >= 0 && countInModel(s, boxStart_[box]) >= limit) return false;
        const int p = c_.pal[box];
        return p < 0 || comp_[name_[boxStart_[p] + boxLen_[p] - lgbloc - 1]] == s;
    }

    std::vector<Place> extend(const std::vector<Place>& occs, int s, int box) const {
        std::vector<Place> next;
        for (const Place& o : occs) {
            const std::string& t = texts_[o.text].chars;
            if (o.end >= static_cast<int>(t.size())) continue;
            Place n = o;
            ++n.end;
            if (!accepts(s, t[o.end])) {
                ++n.err;
                ++n.errBox;
            }
            if (overLimit(n.err, c_.maxerr) || (multi() && overLimit(n.errBox, c_.boxErr[box]))) continue;
            next.push_back(n);
        }
        return next;
    }

    // Every spacer length of the range after each occurrence, as long as the next box has a character.
    std::vector<Place> jump(const std::vector<Place>& occs, int box) const {
        std::vector<Place> landings;
        for (const Place& o : occs)
            for (int l = c_.gapMin[box]; l <= c_.gapMax[box]; ++l) {
                if (o.end + l >= static_cast<int>(texts_[o.text].chars.size())) break;
                Place n = o;
                n.end += l;
                n.errBox = 0;
                n.gaps.push_back(l);
                landings.push_back(n);
            }
        return landings;
    }

    int sequences(const std::vector<Place>& occs) const {
        std::set<int> seen;
        for (const Place& o : occs) seen.insert(texts_[o.text].seq);
        return static_cast<int>(seen.size());
    }

    bool limitsReached(int prof, int lgbloc, int box) const {
        if (c_.maxlong != 0 && prof >= c_.maxlong) return true;
        if (multi() && c_.boxMax[box] != 0 && lgbloc >= c_.boxMax[box]) return true;
        return c_.pal[box] >= 0 && boxLen_[c_.pal[box]] == lgbloc;
    }

    bool finalTests(int prof, int lgbloc, int box) const {
        if (box != c_.nbbloc - 1 || prof < c_.minlong) return false;
        if (multi() && lgbloc < c_.boxMin[box]) return false;
        return c_.pal[box] < 0 || boxLen_[c_.pal[box]] == lgbloc;
    }

    int keep(int prof, int lgbloc, int box, const std::vector<Place>& occs) {
        if (name_.empty()) return 0;
        if (name_.back() == joker_ || name_.back() == spacer_) return 1;
        boxLen_[box] = lgbloc;
        write(prof, occs);
        return 0;
    }

    void write(int prof, const std::vector<Place>& occs) {
        ModelRecord r;
        std::string coded;
        for (int s : name_) {
            r.line += s == spacer_ ? "_" : c_.symbols[s].display;
            coded += s == joker_ ? '*' : s == spacer_ ? '-' : static_cast<char>('0' + s);
        }
        r.line += " " + coded + " " + std::to_string(sequences(occs));
        for (const Place& o : occs) {
            const Text& t = texts_[o.text];
            // On the reverse text the occurrence covers [start, end): in the sequence, from L - end.
            const int pos = t.reverse ? static_cast<int>(t.chars.size()) - o.end : o.start;
            char buf[64];
            snprintf(buf, sizeof buf, "Seq %5d   Pos %5d", t.seq, pos);
            std::string line = buf;
            if (multi()) {
                line += "\t";
                for (int g : o.gaps) line += std::to_string(g) + " ";
            }
            if (c_.bothStrands) line += t.reverse ? "\t-" : "\t+";
            r.occLines.push_back(line);
        }
        std::sort(r.occLines.begin(), r.occLines.end());
        r.count = static_cast<int>(occs.size());
        result_.models.push_back(r);
        result_.maxProf = std::max(result_.maxProf, prof);
        if (multi())
            for (int b = 0; b < c_.nbbloc; ++b) result_.maxBox[b] = std::max(result_.maxBox[b], boxLen_[b]);
    }

    // Returns 1 when the model ends with the joker or an empty box and reached the keep point.
    int explore(int prof, int lgbloc, int box, const std::vector<Place>& occs) {
        if (++visits_ > kVisitCap) return 0;
        const bool lastBox = box == c_.nbbloc - 1;
        if (limitsReached(prof, lgbloc, box)) return lastBox ? keep(prof, lgbloc, box, occs) : 0;
        bool jokerFlag = false;
        int sum = 0;
        for (int s = 0; s < nsym_; ++s) {
            if (!allowed(s, prof, lgbloc, box)) continue;
            const std::vector<Place> next = extend(occs, s, box);
            if (sequences(next) < c_.quorum) continue;
            if (multi() && !lastBox && lgbloc + 1 >= c_.boxMin[box]) {
                const std::vector<Place> landings = jump(next, box);
                if (!landings.empty()) {
                    jokerFlag = true;
                    name_.push_back(s);
                    name_.push_back(spacer_);
                    boxLen_[box] = lgbloc + 1;
                    sum += explore(prof + 1, 0, box + 1, landings);
                    name_.resize(name_.size() - 2);
                }
            }
            if (s == joker_) jokerFlag = true;
            name_.push_back(s);
            sum += explore(prof + 1, lgbloc + 1, box, next);
            name_.pop_back();
        }
        if (!finalTests(prof, lgbloc, box)) return 0;
        if (jokerFlag && sum == 0) return 0;
        return keep(prof, lgbloc, box, occs);
    }

    const Case& c_;
    const int nsym_, joker_, spacer_;
    std::vector<int> comp_;
    std::vector<Text> texts_;  // the sequences, each followed by its reverse complement with both strands
    std::vector<int> name_, boxLen_, boxStart_;
    long visits_ = 0;
    Extraction result_;
};

// ---- Random cases ------------------------------------------------------------------------------

class CaseMaker {
  public:
    // A wide alphabet has 33 to 61 models symbols, so that the children of a place are taken more than 32
    // at a time.
    CaseMaker(unsigned seed, bool bothStrands, bool wideAlphabet)
        : rng_(seed), bothStrands_(bothStrands), wide_(wideAlphabet) {}

    Case make() {
        Case c;
        const int n = pick(2, 6);
        for (int i = 0; i < n; ++i) {
            std::string s;
            for (int k = pick(3, 11); k > 0; --k) s += "ACGT"[pick(0, 3)];
            c.seqs.push_back(s);
        }
        c.nbbloc = chance(0.4) ? 1 : chance(0.65) ? 2 : 3;
        const bool pal = !wide_ && c.nbbloc > 1 && chance(0.3);  // bracketed symbols have no complement
        if (wide_)
            makeWideAlphabet(c);
        else
            makeAlphabet(c, pal);
        if (bothStrands_) readBothStrands(c);
        makeLengths(c);
        makeQuorum(c, n);
        makeCompositions(c);
        c.pal.assign(c.nbbloc, -1);
        if (pal) {
            const int box = pick(1, c.nbbloc - 1);
            c.pal[box] = pick(0, box - 1);
            c.tail.push_back("p" + std::to_string(box + 1) + "/" + std::to_string(c.pal[box] + 1));
        }
        return c;
    }

  private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    void makeAlphabet(Case& c, bool pal) {
        for (const char* base : {"A", "C", "G", "T"})
            if (pal || !chance(0.08)) c.symbols.push_back({base, base});
        if (chance(0.4)) {  // degenerate symbols come in complementary pairs
            c.symbols.push_back({"AG", "R"});
            c.symbols.push_back({"CT", "Y"});
        }
        if (chance(0.45)) c.symbols.push_back({"*", "N", true});
        std::shuffle(c.symbols.begin(), c.symbols.end(), rng_);
    }

    // The four bases, maybe the joker, and many symbols of several bases, each of which prints as its line
    // in brackets: every order of the sets of two to four bases but {A, G} and {C, T}, whose names would
    // become R and Y and clash.
    void makeWideAlphabet(Case& c) {
        std::vector<std::string> lines;
        for (std::string set : {"AC", "AT", "CG", "GT", "ACG", "ACT", "AGT", "CGT", "ACGT"}) {
            do {
                lines.push_back(set);
            } while (std::next_permutation(set.begin(), set.end()));
        }
        std::shuffle(lines.begin(), lines.end(), rng_);
        lines.resize(static_cast<size_t>(pick(29, static_cast<int>(lines.size()))));
        for (const char* base : {"A", "C", "G", "T"}) c.symbols.push_back({base, base});
        for (const std::string& l : lines) c.symbols.push_back({l, "[" + l + "]"});
        if (chance(0.45)) c.symbols.push_back({"*", "N", true});
        std::shuffle(c.symbols.begin(), c.symbols.end(), rng_);
    }

    // Some symbols also accept a degenerate character, their names staying those of the plain symbols,
    // and the texts then hold a few of those characters, whose complements differ from them or not.
    void readBothStrands(Case& c) {
        static const std::vector<std::pair<std::string, std::vector<std::string>>> wider = {
            {"A", {"AR", "AN", "ARN"}}, {"C", {"CY", "CN", "CYN"}},    {"G", {"GR", "GN", "GRN"}},
            {"T", {"TY", "TN", "TYN"}}, {"R", {"AGR", "AGN", "AGRN"}}, {"Y", {"CTY", "CTN", "CTYN"}}};
        c.bothStrands = true;
        c.lowerCase = chance(0.15);
        if (!chance(0.5)) return;
        for (Symbol& s : c.symbols)
            for (const auto& [name, lines] : wider)
                if (s.display == name && chance(0.5)) s.line = lines[pick(0, 2)];
        std::string extra;
        for (char ch : std::string("NRY"))
            for (const Symbol& s : c.symbols)
                if (!s.joker && s.line.find(ch) != std::string::npos && extra.find(ch) == std::string::npos)
                    extra += ch;
        if (extra.empty()) return;
        for (std::string& t : c.seqs)
            for (char& ch : t)
                if (chance(0.2)) ch = extra[pick(0, static_cast<int>(extra.size()) - 1)];
    }

    void makeLengths(Case& c) {
        c.maxerr = chance(0.15) ? -1 : pick(0, 2);
        if (c.nbbloc == 1) {
            c.minlong = pick(0, 3);
            c.maxlong = wide_ ? pick(1, 2) : chance(0.1) ? 0 : pick(1, 5);
            return;
        }
        for (int b = 0; b < c.nbbloc; ++b) {
            c.boxMin.push_back(chance(0.15) ? 0 : pick(1, 2));
            c.boxMax.push_back(chance(0.2) ? 0 : std::max(1, c.boxMin[b]) + pick(0, 2));
            c.boxErr.push_back(pick(-1, 1));
            c.gapMin.push_back(pick(0, 3));
            c.gapMax.push_back(c.gapMin[b] + pick(0, 3));
        }
        c.minlong = pick(0, 4);
        c.maxlong = chance(0.2) ? 0 : pick(2, 7);
        if (wide_) c.maxlong = pick(2, 3);  // with so many symbols a longer model has too many spellings
    }

    // A percentage halfway below the wanted count, so that rounding cannot move the quorum.
    void makeQuorum(Case& c, int n) {
        c.quorum = chance(0.1) ? 1 : pick(2, n);
        char buf[32];
        snprintf(buf, sizeof buf, "%.4f", (c.quorum - 0.5) * 100.0 / n);
        c.quorumArg = buf;
    }

    // Groups name the symbols by their lines; the last value given for a symbol wins.
    void addGroup(Case& c, int box, std::vector<int>& limits) {
        const int pairs = pick(1, 2);
        c.tail.push_back(std::to_string(box));
        c.tail.push_back(std::to_string(pairs));
        for (int i = 0; i < pairs; ++i) {
            const int s = pick(0, static_cast<int>(c.symbols.size()) - 1);
            limits[s] = pick(0, 2);
            c.tail.push_back(c.symbols[s].line);
            c.tail.push_back(std::to_string(limits[s]));
        }
    }

    void makeCompositions(Case& c) {
        const int nsym = static_cast<int>(c.symbols.size());
        c.compo.assign(nsym, -1);
        c.compoBox.assign(c.nbbloc, std::vector<int>(nsym, -1));
        if (chance(0.3)) addGroup(c, 0, c.compo);
        if (chance(0.3)) {
            const int box = pick(0, c.nbbloc - 1);
            addGroup(c, box + 1, c.compoBox[box]);
        }
    }

    std::mt19937 rng_;
    const bool bothStrands_;
    const bool wide_;
};

// ---- Running the program -----------------------------------------------------------------------

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Reads the model records, checking the frame of the file on the way.
Extraction parseResult(const std::string& file, const Case& c) {
    Extraction e;
    const std::vector<std::string> lines = splitLines(file);
    const std::string separator(79, '=');
    size_t i = 0;
    while (i < lines.size() && lines[i] != separator) ++i;
    EXPECT_LT(i, lines.size()) << "no header separator";
    for (++i; i < lines.size() && lines[i].rfind("Nb models: ", 0) != 0;) {
        ModelRecord r;
        r.line = lines[i++];
        while (i < lines.size() && lines[i].rfind("Seq ", 0) == 0) r.occLines.push_back(lines[i++]);
        EXPECT_LT(i, lines.size()) << "truncated record of " << r.line;
        if (i == lines.size()) break;
        r.count = std::stoi(lines[i++]);
        std::sort(r.occLines.begin(), r.occLines.end());
        e.models.push_back(r);
    }
    if (i < lines.size()) {
        EXPECT_EQ(lines[i], "Nb models: " + std::to_string(e.models.size()));
    } else {
        ADD_FAILURE() << "no final count";
    }

    // Summary: %%% B q/n longtext minlong maxlongmod maxerr, then min maxlongbloc err per box.
    std::istringstream summary(lines.empty() ? "" : lines[0]);
    std::vector<std::string> tokens;
    for (std::string t; summary >> t;) tokens.push_back(t);
    if (tokens.size() < 7) {
        ADD_FAILURE() << "short summary line";
        return e;
    }
    e.maxProf = std::stoi(tokens[5]);
    for (int b = 0; c.nbbloc > 1 && b < c.nbbloc; ++b)
        e.maxBox.push_back(std::stoi(tokens.at(7 + 5 * b + 1)));
    if (c.nbbloc == 1) e.maxBox.assign(1, 0);
    return e;
}

std::string fasta(const Case& c) {
    std::string f;
    for (size_t i = 0; i < c.seqs.size(); ++i) {
        std::string t = c.seqs[i];
        if (c.lowerCase)
            for (char& ch : t) ch = static_cast<char>(ch - 'A' + 'a');
        f += ">s" + std::to_string(i) + "\n" + t + "\n";
    }
    return f;
}

std::string alphabetFile(const Case& c) {
    std::string a = "Nucleotide alphabet\n";
    for (const Symbol& s : c.symbols) a += s.line + "\n";
    return a;
}

std::string recordText(const ModelRecord& r) {
    std::string t = r.line + "\n";
    for (const std::string& l : r.occLines) t += l + "\n";
    return t + std::to_string(r.count) + "\n";
}

// Checks `cases` random cases drawn from `seed` with `threads` extraction threads, then that the
// generator really covered the features and did not only produce empty runs.
void checkRandomCases(unsigned seed, int cases, bool bothStrands, int threads, bool wideAlphabet = false) {
    const std::string dir = makeTempDir();
    CaseMaker maker(seed, bothStrands, wideAlphabet);
    int checked = 0, withModels = 0, multiBox = 0, withJoker = 0, withPal = 0, withCompo = 0;
    int degenerate = 0, lowerCase = 0, minusStrand = 0;
    long totalModels = 0;
    while (checked < cases) {
        const Case c = maker.make();
        BruteForce brute(c);
        if (!brute.run()) continue;
        writeFile(dir + "/s.fa", fasta(c));
        writeFile(dir + "/a.txt", alphabetFile(c));
        std::vector<std::string> args = c.arguments();
        args.insert(args.begin(), {MOTBOX_BIN, "-t", std::to_string(threads)});
        if (bothStrands) args.insert(args.begin() + 1, "--both-strands");
        const RunResult run = runCommand(args, dir);
        ASSERT_EQ(run.status, 0) << c.describe() << "\n" << run.err;
        const Extraction got = parseResult(readFile(dir + "/r.txt"), c);
        const Extraction& want = brute.result();
        ASSERT_EQ(got.models.size(), want.models.size()) << c.describe();
        for (size_t m = 0; m < want.models.size(); ++m)
            ASSERT_EQ(recordText(got.models[m]), recordText(want.models[m])) << "model " << m << "\n"
                                                                             << c.describe();
        EXPECT_EQ(got.maxProf, want.maxProf) << c.describe();
        EXPECT_EQ(got.maxBox, want.maxBox) << c.describe();

        if (wideAlphabet) {
            EXPECT_GT(c.symbols.size(), 32u) << c.describe();
        }
        ++checked;
        totalModels += static_cast<long>(want.models.size());
        withModels += !want.models.empty();
        multiBox += c.nbbloc > 1;
        withJoker += c.jokerNumber() >= 0;
        withPal += std::count_if(c.pal.begin(), c.pal.end(), [](int p) { return p >= 0; }) > 0;
        withCompo += !c.tail.empty() && c.tail[0][0] != 'p';
        degenerate += std::any_of(c.seqs.begin(), c.seqs.end(), [](const std::string& t) {
            return t.find_first_of("NRY") != std::string::npos;
        });
        lowerCase += c.lowerCase;
        bool minus = false;
        for (const ModelRecord& r : want.models)
            for (const std::string& l : r.occLines) minus = minus || l.back() == '-';
        minusStrand += minus;
    }
    printf("cases %d: with models %d, multi-box %d, joker %d, palindromes %d, compositions %d; models %ld\n",
           checked, withModels, multiBox, withJoker, withPal, withCompo, totalModels);
    EXPECT_GT(withModels, cases / 2);
    EXPECT_GT(multiBox, cases / 3);
    EXPECT_GT(withJoker, cases / 4);
    if (!wideAlphabet) {
        EXPECT_GT(withPal, cases / 20);
    }
    EXPECT_GT(withCompo, cases / 5);
    if (bothStrands) {
        printf("both strands: degenerate texts %d, lower-case texts %d, occurrences on the - strand %d\n",
               degenerate, lowerCase, minusStrand);
        EXPECT_GT(degenerate, cases / 5);
        EXPECT_GT(lowerCase, cases / 20);
        EXPECT_GT(minusStrand, cases / 2);
    }
    removeTree(dir);
}

// The engine runs in the calling thread alone (1) and cut into tasks over an odd number of workers (3).
class SpellDifferential : public testing::TestWithParam<int> {};

TEST_P(SpellDifferential, EngineAgreesWithBruteForceOnRandomCases) {
    checkRandomCases(20240611u, kCases, false, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Threads, SpellDifferential, testing::Values(1, 3));

// Both strands: the same walk, each sequence read as written and as its reverse complement.
class SpellBothStrandsDifferential : public testing::TestWithParam<int> {};

TEST_P(SpellBothStrandsDifferential, EngineAgreesWithBruteForceOnRandomCases) {
    checkRandomCases(20250302u, kStrandCases, true, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Threads, SpellBothStrandsDifferential, testing::Values(1, 3));

// More than 32 models symbols: the children of a place are collected 32 at a time.
class SpellWideAlphabetDifferential : public testing::TestWithParam<int> {};

TEST_P(SpellWideAlphabetDifferential, EngineAgreesWithBruteForceOnRandomCases) {
    checkRandomCases(20261210u, kWideCases, false, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Threads, SpellWideAlphabetDifferential, testing::Values(1, 3));

}  // namespace
