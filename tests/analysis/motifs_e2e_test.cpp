// Motifs end to end: two motifs planted on random strands come out as the two best families, with MEME
// columns that spell them and sites that cover their copies; Biopython reads the MEME file as written;
// sites placed on a genome through bedtools-style headers read, cut out again by bedtools, as their model.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

std::string reverseComplement(const std::string& s) {
    static const std::string from = "ACGT", to = "TGCA";
    std::string rc;
    for (auto c = s.rbegin(); c != s.rend(); ++c) rc += to[from.find(*c)];
    return rc;
}

std::vector<std::string> splitOn(const std::string& line, char sep) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, sep);) fields.push_back(f);
    return fields;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The MEME file's motifs: name, alternative name and rows of frequencies.
struct MemeMotifRead {
    std::string name, altName;
    std::vector<std::vector<double>> rows;
};
std::vector<MemeMotifRead> memeMotifsOf(const std::string& meme) {
    std::vector<MemeMotifRead> motifs;
    bool inMatrix = false;
    for (const std::string& line : linesOf(meme)) {
        if (line.rfind("MOTIF ", 0) == 0) {
            std::istringstream in(line.substr(6));
            motifs.emplace_back();
            in >> motifs.back().name >> motifs.back().altName;
            inMatrix = false;
        } else if (line.rfind("letter-probability matrix", 0) == 0) {
            inMatrix = true;
        } else if (inMatrix && !line.empty() && line[0] == ' ') {
            std::istringstream in(line);
            std::vector<double> row;
            for (double f; in >> f;) row.push_back(f);
            motifs.back().rows.push_back(row);
        } else {
            inMatrix = false;
        }
    }
    return motifs;
}

// A set of random sequences in which two-box motifs are planted with one substitution per box, each copy
// on a random strand; the planted spans are kept per motif as "seq:start-end".
struct PlantedSet {
    std::vector<std::string> sequences;
    std::map<std::string, std::vector<std::string>> spans;  // by the motif's boxes, "BOX1_BOX2"
};

PlantedSet plantTwoMotifs(const std::vector<std::pair<std::string, std::string>>& motifs, int count,
                          int length, int share, std::mt19937& rng) {
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto base = [&] { return "ACGT"[pick(4)]; };
    PlantedSet set;
    for (int i = 0; i < count; ++i) {
        std::string s;
        for (int k = 0; k < length; ++k) s += base();
        set.sequences.push_back(s);
    }
    // Motif m goes into the sequences i with i % (100 / share) == m: disjoint sets of share % each.
    const int stride = 100 / share;
    for (size_t m = 0; m < motifs.size(); ++m) {
        for (int i = static_cast<int>(m); i < count; i += stride) {
            auto mutate = [&](std::string box) {
                const int at = pick(static_cast<int>(box.size()));
                char c;
                do c = base();
                while (c == box[at]);
                box[at] = c;
                return box;
            };
            const int spacer = 2 + pick(3);  // 2..4
            std::string site = mutate(motifs[m].first);
            for (int k = 0; k < spacer; ++k) site += base();
            site += mutate(motifs[m].second);
            if (pick(2) == 1) site = reverseComplement(site);
            const int at = pick(length - static_cast<int>(site.size()) + 1);
            set.sequences[i].replace(static_cast<size_t>(at), site.size(), site);
            set.spans[motifs[m].first + "_" + motifs[m].second].push_back(
                std::to_string(i) + ":" + std::to_string(at) + "-" + std::to_string(at + site.size()));
        }
    }
    return set;
}

// Sequence i is named "s<i>".
std::string fastaOf(const PlantedSet& set) {
    std::string fasta;
    for (size_t i = 0; i < set.sequences.size(); ++i)
        fasta += ">s" + std::to_string(i) + "\n" + set.sequences[i] + "\n";
    return fasta;
}

class Motifs : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = makeTempDir();
        writeFile(dir_ + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    }
    void TearDown() override { removeTree(dir_); }

    RunResult motbox(std::vector<std::string> options, const std::vector<std::string>& criteria,
                     const std::string& fasta = "in.fa") {
        options.insert(options.begin(), MOTBOX_BIN);
        options.insert(options.end(), {"acgt.alph", fasta, "res.txt"});
        options.insert(options.end(), criteria.begin(), criteria.end());
        return runCommand(options, dir_);
    }
    // Runs a shell command in the test directory; its standard output.
    std::string shell(const std::string& command) {
        const RunResult r = runCommand({"/bin/sh", "-c", command}, dir_);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
        return r.out;
    }
    std::string dir_;
};

// Two motifs, each with one substitution per box in 25 % of 300 random sequences of 200 bases, on random
// strands, read on both strands.
TEST_F(Motifs, TwoPlantedMotifsAreTheTwoBestFamiliesWithTheirColumnsAndSites) {
    std::mt19937 rng(2026);
    const std::vector<std::pair<std::string, std::string>> planted = {{"TGACGT", "CATTAG"},
                                                                      {"GGTCAA", "ATCCGA"}};
    const PlantedSet set = plantTwoMotifs(planted, 300, 200, 25, rng);
    writeFile(dir_ + "/in.fa", fastaOf(set));

    const RunResult r = motbox({"-t", "2", "--both-strands", "--rank", "rank.tsv", "--meme", "m.meme",
                                "--sites", "s.bed", "--report-top", "5"},
                               {"20", "2", "12", "12", "2", "6", "6", "1", "2", "4", "6", "6", "1"});
    ASSERT_EQ(r.status, 0) << r.err;

    // The two best heads are the two motifs, on either strand.
    const std::vector<MemeMotifRead> meme = memeMotifsOf(readFile(dir_ + "/m.meme"));
    ASSERT_GE(meme.size(), 4u);
    std::map<std::string, std::string> motifOfFamily;  // "F1" -> planted boxes "BOX1_BOX2"
    for (int f = 0; f < 2; ++f) {
        const MemeMotifRead& box1 = meme[2 * f];
        const MemeMotifRead& box2 = meme[2 * f + 1];
        const std::string family = box1.name.substr(0, box1.name.find('.'));
        EXPECT_EQ(box1.name, family + ".1");
        EXPECT_EQ(box2.name, family + ".2");
        // Each column's most frequent letter spells the head's box.
        std::string spelled[2];
        for (int b = 0; b < 2; ++b) {
            for (const std::vector<double>& row : (b == 0 ? box1 : box2).rows) {
                ASSERT_EQ(row.size(), 4u);
                spelled[b] += "ACGT"[std::max_element(row.begin(), row.end()) - row.begin()];
            }
        }
        const std::string head = spelled[0] + "_" + spelled[1];
        EXPECT_EQ(box1.altName, head);
        std::string matched;
        for (const auto& [a, b] : planted) {
            if (head == a + "_" + b || head == reverseComplement(b) + "_" + reverseComplement(a))
                matched = a + "_" + b;
        }
        EXPECT_FALSE(matched.empty()) << "family " << family << " head " << head;
        motifOfFamily[family] = matched;
    }
    EXPECT_EQ(motifOfFamily.size(), 2u);
    EXPECT_NE(motifOfFamily.begin()->second, motifOfFamily.rbegin()->second);

    // Each head's sites cover at least 90 % of its motif's planted copies.
    std::map<std::string, std::vector<std::vector<std::string>>> sitesOfFamily;
    for (const std::string& line : linesOf(readFile(dir_ + "/s.bed"))) {
        const std::vector<std::string> f = splitOn(line, '\t');
        ASSERT_EQ(f.size(), 6u) << line;
        sitesOfFamily[f[3].substr(0, f[3].find('_'))].push_back(f);
    }
    for (const auto& [family, motif] : motifOfFamily) {
        if (motif.empty()) continue;
        const std::vector<std::string>& spans = set.spans.at(motif);
        int covered = 0;
        for (const std::string& span : spans) {
            const std::string seq = "s" + span.substr(0, span.find(':'));
            const int start = std::stoi(span.substr(span.find(':') + 1));
            const int end = std::stoi(span.substr(span.find('-') + 1));
            for (const std::vector<std::string>& site : sitesOfFamily[family]) {
                if (site[0] == seq && std::stoi(site[1]) <= start && std::stoi(site[2]) >= end) {
                    ++covered;
                    break;
                }
            }
        }
        EXPECT_GE(covered * 10, static_cast<int>(spans.size()) * 9) << family << " " << motif;
    }
}

// Reads the MEME file with Biopython's own parser when Debian's python3 has it.
TEST_F(Motifs, BiopythonReadsTheMemeFileAsWritten) {
    const char* python = "/usr/bin/python3";
    if (runCommand({python, "-c", "import Bio.motifs"}).status != 0) {
        if (std::getenv("MOTBOX_REQUIRE_CLIENTS") != nullptr) FAIL() << "Biopython is required";
        GTEST_SKIP() << "Biopython not installed";
    }
    std::mt19937 rng(3);
    const PlantedSet set = plantTwoMotifs({{"TGACGT", "CATTAG"}, {"GGTCAA", "ATCCGA"}}, 120, 100, 25, rng);
    writeFile(dir_ + "/in.fa", fastaOf(set));
    const RunResult r = motbox({"--both-strands", "--meme", "m.meme"},
                               {"20", "2", "12", "12", "2", "6", "6", "1", "2", "4", "6", "6", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<MemeMotifRead> written = memeMotifsOf(readFile(dir_ + "/m.meme"));
    ASSERT_GE(written.size(), 4u);

    // Biopython's view: name, length, number of sites, whether every column's counts sum to it, then the
    // frequencies, one line per motif.
    writeFile(
        dir_ + "/read.py",
        "import sys\n"
        "from Bio import motifs\n"
        "with open(sys.argv[1]) as handle:\n"
        "    record = motifs.parse(handle, 'minimal')\n"
        "print(record.alphabet if hasattr(record, 'alphabet') else '')\n"
        "for m in record:\n"
        "    cols = [' '.join('%.6f' % m.pwm[l][i] for l in 'ACGT') for i in range(m.length)]\n"
        "    whole = all(sum(m.counts[l][i] for l in 'ACGT') == m.num_occurrences for i in range(m.length))\n"
        "    print(m.name, m.length, m.num_occurrences, whole, '|'.join(cols))\n");
    const RunResult read = runCommand({python, dir_ + "/read.py", dir_ + "/m.meme"});
    ASSERT_EQ(read.status, 0) << read.err;
    std::vector<std::string> lines = linesOf(read.out);
    ASSERT_EQ(lines.size(), written.size() + 1);
    EXPECT_EQ(lines[0], "ACGT");
    std::istringstream nsites(readFile(dir_ + "/m.meme"));
    std::vector<std::string> declaredSites;
    for (std::string l; std::getline(nsites, l);) {
        const size_t at = l.find("nsites= ");
        if (at != std::string::npos) declaredSites.push_back(l.substr(at + 8, l.find(' ', at + 8) - at - 8));
    }
    for (size_t i = 0; i < written.size(); ++i) {
        std::string cols;
        for (const std::vector<double>& row : written[i].rows) {
            if (!cols.empty()) cols += '|';
            char cell[32];
            for (size_t l = 0; l < row.size(); ++l) {
                snprintf(cell, sizeof cell, l == 0 ? "%.6f" : " %.6f", row[l]);
                cols += cell;
            }
        }
        EXPECT_EQ(lines[i + 1], written[i].name + " " + std::to_string(written[i].rows.size()) + " " +
                                    declaredSites[i] + " True " + cols);
    }
}

// Regions cut from a small genome by bedtools on both strands, a motif planted in half of them: every site
// written, cut out of the genome again by bedtools on its strand, reads as its model, single strand or both.
TEST_F(Motifs, SitesCutFromTheGenomeByBedtoolsReadAsTheirModels) {
    if (runCommand({"/bin/sh", "-c", "command -v bedtools"}).status != 0) {
        if (std::getenv("MOTBOX_REQUIRE_CLIENTS") != nullptr) FAIL() << "bedtools is required";
        GTEST_SKIP() << "bedtools not installed";
    }
    std::mt19937 rng(11);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::string chromosomes[2];
    for (std::string& c : chromosomes)
        for (int k = 0; k < 6000; ++k) c += "ACGT"[pick(4)];
    // 40 regions of 150 bases, every other one on the reverse strand; the motif planted in every second
    // pair, on the region's own strand, so that it reads forward in the sequence bedtools cuts.
    std::string regions;
    for (int i = 0; i < 40; ++i) {
        std::string& chrom = chromosomes[i % 2];
        const int start = 100 + (i / 2) * 280;
        const bool reverse = i % 4 >= 2;
        if (i % 8 < 4) {
            std::string site = "GATTCAA" + std::string(1, "ACGT"[pick(4)]) + "CCGTA";
            if (reverse) site = reverseComplement(site);
            chrom.replace(static_cast<size_t>(start + 20 + pick(100)), site.size(), site);
        }
        regions += "chr" + std::to_string(i % 2 + 1) + "\t" + std::to_string(start) + "\t" +
                   std::to_string(start + 150) + "\tr" + std::to_string(i) + "\t0\t" + (reverse ? "-" : "+") +
                   "\n";
    }
    writeFile(dir_ + "/genome.fa", ">chr1\n" + chromosomes[0] + "\n>chr2\n" + chromosomes[1] + "\n");
    writeFile(dir_ + "/regions.bed", regions);
    shell("bedtools getfasta -s -fi genome.fa -bed regions.bed > in.fa");
    ASSERT_NE(readFile(dir_ + "/in.fa").find(">chr1:100-250(+)"), std::string::npos);

    for (const bool both : {false, true}) {
        SCOPED_TRACE(both ? "both strands" : "one strand");
        std::vector<std::string> options = {"--sites", "s.bed", "--report-top", "20"};
        if (both) options.push_back("--both-strands");
        const RunResult r =
            motbox(options, {"40", "2", "12", "12", "0", "7", "7", "0", "1", "1", "5", "5", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
        const std::vector<std::string> sites = linesOf(readFile(dir_ + "/s.bed"));
        ASSERT_GE(sites.size(), 10u);
        std::map<std::string, int> strands;
        for (const std::string& site : sites) {
            const std::vector<std::string> f = splitOn(site, '\t');
            ASSERT_EQ(f.size(), 6u) << site;
            EXPECT_TRUE(f[0] == "chr1" || f[0] == "chr2") << site;
            ++strands[f[5]];
        }
        EXPECT_GT(strands["+"], 0);
        EXPECT_GT(strands["-"], 0);
        // -tab -name: "name<TAB>sequence", the sequence read on the site's strand.
        const std::vector<std::string> cut =
            linesOf(shell("bedtools getfasta -s -tab -name -fi genome.fa -bed s.bed"));
        ASSERT_EQ(cut.size(), sites.size());
        for (const std::string& line : cut) {
            const std::vector<std::string> f = splitOn(line, '\t');
            ASSERT_EQ(f.size(), 2u) << line;
            const std::string name = f[0].substr(0, f[0].find("::"));
            const std::string model = name.substr(name.find('_') + 1);
            const std::string box1 = model.substr(0, model.find('_'));
            const std::string box2 = model.substr(model.find('_') + 1);
            const std::string& text = f[1];
            ASSERT_EQ(text.size(), box1.size() + 1 + box2.size()) << line;
            EXPECT_EQ(text.substr(0, box1.size()), box1) << line;
            EXPECT_EQ(text.substr(text.size() - box2.size()), box2) << line;
        }
    }
}

}  // namespace
