// Both strands end to end: a motif planted on either strand is found at its planted places with its
// strand, the reverse complement of every model is written with the same support, the runs are the same
// on any number of threads, and inputs that have no reverse complement are refused before any file.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string kPromoters = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_promoters_200.fa";

std::string reverseComplement(const std::string& s) {
    static const std::string from = "ACGTRYN_", to = "TGCAYRN_";
    std::string rc;
    for (auto c = s.rbegin(); c != s.rend(); ++c) rc += to[from.find(*c)];
    return rc;
}

// Model name -> (support, occurrence lines) of a result file.
struct Written {
    int support = 0;
    std::vector<std::string> lines;
};
std::map<std::string, Written> modelsOf(const std::string& result) {
    std::map<std::string, Written> models;
    Written* current = nullptr;
    for (const testutil::WrittenModel& m : testutil::writtenModels(result)) models[m.name].support = m.count;
    std::istringstream in(result);
    bool body = false;
    for (std::string line; std::getline(in, line);) {
        if (!body) {
            body = line.rfind("====", 0) == 0;
            continue;
        }
        if (line.rfind("Seq ", 0) == 0) {
            if (current != nullptr) current->lines.push_back(line);
            continue;
        }
        const std::string name = line.substr(0, line.find(' '));
        auto it = models.find(name);
        if (it != models.end() && line.find(' ') != std::string::npos) current = &it->second;
    }
    return models;
}

// 300 random sequences of 100 bases; 30 % of them hold GATTC, a spacer of 3, ACGGT, half of them as its
// reverse complement.  The occurrence lines each planted copy must give are recorded.
struct Planted {
    std::string fasta;
    std::vector<std::string> expectedLines;
    int copies = 0;
};

Planted plantTwoBoxMotif() {
    std::mt19937 rng(7);
    auto base = [&] { return "ACGT"[std::uniform_int_distribution<int>(0, 3)(rng)]; };
    Planted p;
    for (int i = 0; i < 300; ++i) {
        std::string s;
        for (int k = 0; k < 100; ++k) s += base();
        if (i % 10 < 3) {
            std::string site = "GATTC";
            for (int k = 0; k < 3; ++k) site += base();
            site += "ACGGT";
            const bool reverse = p.copies % 2 == 1;
            if (reverse) site = reverseComplement(site);
            const int at = std::uniform_int_distribution<int>(0, 100 - 13)(rng);
            s.replace(static_cast<size_t>(at), site.size(), site);
            char line[64];
            snprintf(line, sizeof line, "Seq %5d   Pos %5d\t3 \t%c", i, at, reverse ? '-' : '+');
            p.expectedLines.push_back(line);
            ++p.copies;
        }
        p.fasta += ">s" + std::to_string(i) + "\n" + s + "\n";
    }
    return p;
}

TEST(BothStrands, PlantedMotifIsFoundOnBothStrandsAndRanksFirst) {
    const std::string dir = makeTempDir();
    const Planted planted = plantTwoBoxMotif();
    writeFile(dir + "/in.fa", planted.fasta);
    writeFile(dir + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    const std::vector<std::string> criteria = {"10", "2", "10", "10", "0", "5", "5",
                                               "0",  "2", "4",  "5",  "5", "0"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"acgt.alph", "in.fa", "res.txt"});
        args.insert(args.end(), criteria.begin(), criteria.end());
        const RunResult r = runCommand(args, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        return modelsOf(readFile(dir + "/res.txt"));
    };

    const auto both = run({MOTBOX_BIN, "-t", "2", "--both-strands", "--rank", "rank.tsv"});
    ASSERT_TRUE(both.count("GATTC_ACGGT")) << readFile(dir + "/res.txt").substr(0, 2000);
    const Written& motif = both.at("GATTC_ACGGT");
    EXPECT_GE(motif.support, 84);  // 28 % of the sequences
    ASSERT_TRUE(both.count("ACCGT_GAATC"));
    EXPECT_EQ(both.at("ACCGT_GAATC").support, motif.support);
    for (const std::string& line : planted.expectedLines)
        EXPECT_NE(std::find(motif.lines.begin(), motif.lines.end(), line), motif.lines.end()) << line;
    // The best row of the ranking is the motif or its reverse complement.
    std::istringstream table(readFile(dir + "/rank.tsv"));
    std::string line;
    std::getline(table, line);
    std::getline(table, line);
    std::getline(table, line);
    std::istringstream row(line);
    std::string rank, model;
    row >> rank >> model;
    EXPECT_EQ(rank, "1");
    EXPECT_TRUE(model == "GATTC_ACGGT" || model == "ACCGT_GAATC") << line;

    // Read as written, each strand of the motif holds about half the copies.
    const auto single = run({MOTBOX_BIN, "-t", "2"});
    for (const char* name : {"GATTC_ACGGT", "ACCGT_GAATC"}) {
        ASSERT_TRUE(single.count(name)) << name;
        EXPECT_GE(single.at(name).support, planted.copies / 2 - 10) << name;
        EXPECT_LE(single.at(name).support, planted.copies / 2 + 10) << name;
        for (const std::string& l : single.at(name).lines)
            EXPECT_EQ(l.back(), ' ') << "no strand expected: " << l;
    }
    removeTree(dir);
}

// On 60 of the example promoters, in both programs: every model's reverse complement is written with the
// same support (every template here is symmetric), and three threads write what one writes.
TEST(BothStrands, ReverseComplementsAgreeAndThreadsDoNotMatter) {
    const std::string dir = makeTempDir();
    std::istringstream promoters(readFile(kPromoters));
    std::string sixty;
    int records = 0;
    for (std::string line; std::getline(promoters, line);) {
        records += line[0] == '>';
        if (records > 60) break;
        sixty += line + "\n";
    }
    writeFile(dir + "/p60.fa", sixty);
    writeFile(dir + "/degenerate.alph", "Nucleotide\nA\nC\nG\nT\nAG\nCT\n");
    writeFile(dir + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    struct Program {
        const char* binary;
        const char* alphabet;
        std::vector<std::string> criteria;
        std::string result;  // the file compared
    };
    const std::vector<Program> programs = {
        {MOTBOX_BIN, "degenerate.alph", {"80", "1", "6", "6", "0"}, "res"},
        {MOTBOX_BIN, "acgt.alph", {"40", "2", "6", "6", "0", "3", "3", "0", "2", "5", "3", "3", "0"}, "res"},
        {MOTBOX_DELTA_BIN,
         "acgt.alph",
         {"40", "2", "6", "6", "0", "3", "3", "0", "2", "6", "1", "3", "3", "0"},
         "res[3-5]"},
    };
    for (const Program& p : programs) {
        std::string results[2];
        const char* threads[2] = {"1", "3"};
        for (int t = 0; t < 2; ++t) {
            std::vector<std::string> args = {p.binary,   "-t",     threads[t], "--both-strands",
                                             p.alphabet, "p60.fa", "res"};
            args.insert(args.end(), p.criteria.begin(), p.criteria.end());
            const RunResult r = runCommand(args, dir);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("\nStrands:                       both\n"), std::string::npos);
            results[t] = readFile(dir + "/" + p.result);
        }
        EXPECT_EQ(testutil::withoutUserTime(results[0]), testutil::withoutUserTime(results[1])) << p.binary;
        const auto models = modelsOf(results[0]);
        ASSERT_GT(models.size(), 20u) << p.binary;
        int minus = 0;
        for (const auto& [name, written] : models) {
            const auto rc = models.find(reverseComplement(name));
            ASSERT_NE(rc, models.end()) << name;
            EXPECT_EQ(rc->second.support, written.support) << name;
            EXPECT_EQ(rc->second.lines.size(), written.lines.size()) << name;
            for (const std::string& l : written.lines) minus += l.back() == '-';
        }
        EXPECT_GT(minus, 0) << p.binary;
    }
    removeTree(dir);
}

TEST(BothStrands, InputsWithoutReverseComplementAreRefusedBeforeAnyFile) {
    const std::string dir = makeTempDir();
    struct Refusal {
        const char* alphabet;
        const char* sequences;
        const char* says;
    };
    const std::vector<Refusal> refusals = {
        {"Protein\nA\nC\nG\nT\n", "ACGTAC", "needs a nucleotide alphabet"},
        {"Digits and bases\nA\nC\nG\nT\n1\n", "ACG1TT", "needs a nucleotide alphabet"},
        {"Nucleotide\nA\nC\nG\nT\nU\n", "ACGUTT", "Seq 1 Pos 3 character 'U' has no complement"},
        {"Nucleotide\nA\nC\nG\nT\nX\n", "ACGTTx", "Seq 1 Pos 5 character 'X' has no complement"},
    };
    const std::vector<std::vector<std::string>> programs = {
        {MOTBOX_BIN, "50", "2", "4", "4", "0", "2", "2", "0", "1", "1", "2", "2", "0"},
        {MOTBOX_DELTA_BIN, "50", "2", "4", "4", "0", "2", "2", "0", "1", "3", "1", "2", "2", "0"},
    };
    for (const std::vector<std::string>& program : programs)
        for (const Refusal& r : refusals) {
            const std::string& binary = program[0];
            writeFile(dir + "/a.alph", r.alphabet);
            writeFile(dir + "/s.fa", std::string(">a\nACGTAC\n>b\n") + r.sequences + "\n");
            std::vector<std::string> args = {binary,   "--both-strands", "--rank", "t.tsv",
                                             "a.alph", "s.fa",           "res"};
            args.insert(args.end(), program.begin() + 1, program.end());
            const RunResult run = runCommand(args, dir);
            EXPECT_EQ(run.status, 1) << binary << " " << r.says;
            EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
            size_t errors = 0;
            for (size_t at = run.err.find(">> Error"); at != std::string::npos;
                 at = run.err.find(">> Error", at + 1))
                ++errors;
            EXPECT_EQ(errors, 1u) << run.err;
            EXPECT_FALSE(fileExists(dir + "/res")) << binary;
            EXPECT_FALSE(fileExists(dir + "/t.tsv")) << binary;
            EXPECT_FALSE(fileExists(dir + "/.namefile")) << binary;
        }
    removeTree(dir);
}

}  // namespace
