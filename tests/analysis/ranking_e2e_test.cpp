// Ranking of the written models against a control set, through the programs: control supports against
// the programs' own counts on the control set, a planted motif, the table's form and order, result files
// left as they are, and refused control files.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::readFile;
using testutil::runCommand;
using testutil::writeFile;

struct Row {
    std::vector<std::string> fields;  // the table's columns
    const std::string& code() const { return fields[2]; }
    const std::string& file() const { return fields[11]; }
    const std::string& reverseComplement() const { return fields[12]; }  // both strands only
    int controlSupport() const { return std::stoi(fields[5]); }
    double log10P() const { return std::stod(fields[8]); }
    double eValue() const { return std::stod(fields[10]); }
};

struct Table {
    std::string comment, columns;
    std::vector<Row> rows;
};

// The table of a run; with both strands each row has the reverse_complement column too.
Table readTable(const std::string& path, bool bothStrands = false) {
    const size_t columns = bothStrands ? 15 : 14;  // with the family columns
    Table t;
    std::istringstream in(readFile(path));
    std::getline(in, t.comment);
    std::getline(in, t.columns);
    std::string line;
    while (std::getline(in, line)) {
        Row r;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) r.fields.push_back(f);
        EXPECT_EQ(r.fields.size(), columns) << line;
        if (r.fields.size() == columns) t.rows.push_back(r);
    }
    return t;
}

// code -> number of sequences, for the models of a result file.
std::map<std::string, int> writtenCounts(const std::string& result) {
    std::map<std::string, int> counts;
    for (const testutil::WrittenModel& m : testutil::writtenModels(result)) counts[m.code] = m.count;
    return counts;
}

class Ranking : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testutil::makeTempDir();
        writeFile(dir_ + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    }
    void TearDown() override { testutil::removeTree(dir_); }
    testutil::RunResult run(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return runCommand(args, dir_);
    }
    std::string dir_;
};

// Real DNA for a control set: pieces of the example promoters.
std::string controlPieces() {
    const std::string fasta = readFile(std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa");
    std::string seq, out;
    std::istringstream in(fasta);
    for (std::string line; std::getline(in, line);)
        if (line.empty() || line[0] != '>') seq += line;
    for (int i = 0; i < 6; ++i)
        out += ">c" + std::to_string(i) + "\n" + seq.substr(700 + 4711 * i, 90) + "\n";
    return out;
}

// A code of the ACGT alphabet read on the other strand.
std::string reverseComplementCode(const std::string& code) {
    std::string rc(code.rbegin(), code.rend());
    for (char& c : rc)
        if (c >= '0' && c <= '3') c = static_cast<char>('3' - c + '0');
    return rc;
}

// The control support of each row is what the program writes on the control with a quorum of one
// sequence, on one strand and on both; with both strands a model and its reverse complement share a row,
// which names the other, and count once in the E-value.
TEST_F(Ranking, ControlSupportIsWhatTheProgramsWriteOnTheControlWithAQuorumOfOne) {
    writeFile(dir_ + "/control.fa", controlPieces());
    const std::string input = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa";
    struct Program {
        std::string path;
        std::vector<std::string> boxes;  // the arguments after the quorum
    };
    const std::vector<Program> programs = {
        {MOTBOX_BIN, {"2", "8", "8", "1", "4", "4", "1", "2", "4", "4", "4", "1"}},
        {MOTBOX_DELTA_BIN, {"2", "8", "8", "1", "4", "4", "1", "1", "5", "1", "4", "4", "1"}},
    };
    for (const bool both : {false, true})
        for (const Program& p : programs) {
            const std::string what = p.path + (both ? " --both-strands" : "");
            std::vector<std::string> ranked = {
                "-t",        "1",   "--rank", "r.tsv", "--control", "control.fa", "--keep-duplicates",
                "acgt.alph", input, "in",     "40"};
            std::vector<std::string> alone = {"-t", "1", "acgt.alph", "control.fa", "ctl", "1"};
            if (both) {
                ranked.insert(ranked.begin(), "--both-strands");
                alone.insert(alone.begin(), "--both-strands");
            }
            ranked.insert(ranked.end(), p.boxes.begin(), p.boxes.end());
            ASSERT_EQ(run(p.path, ranked).status, 0) << what;
            alone.insert(alone.end(), p.boxes.begin(), p.boxes.end());
            ASSERT_EQ(run(p.path, alone).status, 0) << what;
            const Table table = readTable(dir_ + "/r.tsv", both);
            ASSERT_GT(table.rows.size(), 50u) << what;
            int found = 0;
            std::map<std::string, std::map<std::string, int>> countsOfFile;
            std::map<std::string, std::string> nameOf;  // file and code -> model name
            for (const Row& r : table.rows) {
                // The control run names its files after its own output prefix.
                const std::string controlFile = "ctl" + r.file().substr(2);
                if (!countsOfFile.count(controlFile)) {
                    countsOfFile[controlFile] = writtenCounts(readFile(dir_ + "/" + controlFile));
                    for (const testutil::WrittenModel& m :
                         testutil::writtenModels(readFile(dir_ + "/" + r.file())))
                        nameOf[r.file() + " " + m.code] = m.name;
                }
                const std::map<std::string, int>& counts = countsOfFile[controlFile];
                const auto it = counts.find(r.code());
                EXPECT_EQ(r.controlSupport(), it == counts.end() ? 0 : it->second) << what << " " << r.code();
                found += it != counts.end();
                if (!both) continue;
                const std::string rcName = nameOf[r.file() + " " + reverseComplementCode(r.code())];
                const std::string& name = r.fields[1];
                EXPECT_EQ(r.reverseComplement(), rcName == name ? "=" : rcName) << what << " " << name;
            }
            EXPECT_GT(found, 10) << what;
            if (!both) continue;
            // Every model has its row or is named by the row of its reverse complement, once.
            std::map<std::string, int> shown;
            for (const Row& r : table.rows) {
                ++shown[r.file() + " " + r.fields[1]];
                if (r.reverseComplement() != "=" && !r.reverseComplement().empty())
                    ++shown[r.file() + " " + r.reverseComplement()];
            }
            EXPECT_EQ(shown.size(), nameOf.size()) << what;
            for (const auto& [model, times] : shown) EXPECT_EQ(times, 1) << what << " " << model;
            EXPECT_LT(table.rows.size(), nameOf.size()) << what;
            // The E-value counts the rows.
            for (const Row& r : table.rows)
                EXPECT_NEAR(r.eValue() / std::stod(r.fields[9]), static_cast<double>(table.rows.size()),
                            1e-3 * table.rows.size())
                    << what << " " << r.fields[1];
        }
}

// 200 random sequences, 30 % of them holding an instance of the degenerate motif TGASTCAR.
std::string plantedSet(std::vector<std::string>* withoutMotif) {
    std::mt19937 rng(11);
    const std::string motif = "TGASTCAR";
    std::string fasta;
    for (int i = 0; i < 200; ++i) {
        std::string s;
        for (int k = 0; k < 100; ++k) s += "ACGT"[rng() % 4];
        if (i % 10 < 3) {
            std::string instance = motif;
            instance[3] = "CG"[rng() % 2];
            instance[7] = "AG"[rng() % 2];
            s.replace(rng() % 90, 8, instance);
        } else {
            withoutMotif->push_back(s);
        }
        fasta += ">s" + std::to_string(i) + "\n" + s + "\n";
    }
    return fasta;
}

TEST_F(Ranking, APlantedMotifRanksFirstAlsoAmongCopiedSequences) {
    writeFile(dir_ + "/iupac.alph", "Nucleotide\nA\nC\nG\nT\nCG\nAG\n");
    std::vector<std::string> plain;
    const std::string fasta = plantedSet(&plain);
    std::string copies;
    for (int i = 0; i < 40; ++i)
        for (int c = 0; c < 10; ++c)
            copies += ">copy" + std::to_string(i) + "_" + std::to_string(c) + "\n" + plain[i] + "\n";
    writeFile(dir_ + "/planted.fa", fasta);
    writeFile(dir_ + "/copied.fa", fasta + copies);
    const std::string motifCode = "32043105";  // T G A [CG] T C A [AG]
    // Quorum: 50 of 200 sequences, then 60 of 600.
    for (const auto& [file, quorum] : {std::pair{"planted.fa", "25"}, std::pair{"copied.fa", "10"}}) {
        const auto r =
            run(MOTBOX_BIN, {"--rank", "r.tsv", "iupac.alph", file, "res", quorum, "1", "8", "8", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Table table = readTable(dir_ + "/r.tsv");
        ASSERT_FALSE(table.rows.empty());
        EXPECT_EQ(table.rows[0].code(), motifCode) << file;
        EXPECT_LT(table.rows[0].eValue(), 1e-6) << file;
        EXPECT_EQ(table.rows[0].fields[4], "200") << file;  // the copies are counted once
    }
}

TEST_F(Ranking, TableIsSortedAndLeavesTheResultsAsTheyAre) {
    const std::string input = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa";
    const std::vector<std::string> args = {"acgt.alph", input, "res", "90", "2", "12", "12", "1",
                                           "6",         "6",   "1",   "3",  "9", "6",  "6",  "1"};
    auto with = [&](std::vector<std::string> options, std::vector<std::string> a) {
        options.insert(options.end(), a.begin(), a.end());
        return run(MOTBOX_BIN, options);
    };
    ASSERT_EQ(with({"-t", "2"}, args).status, 0);
    const std::string plain = testutil::withoutUserTime(readFile(dir_ + "/res"));
    const auto ranked = with({"-t", "2", "--rank", "r.tsv", "--shuffle", "2", "--seed", "7"}, args);
    ASSERT_EQ(ranked.status, 0) << ranked.err;
    EXPECT_EQ(testutil::withoutUserTime(readFile(dir_ + "/res")), plain);
    const Table table = readTable(dir_ + "/r.tsv");
    EXPECT_EQ(table.comment.rfind("# motbox ", 0), 0u);
    EXPECT_NE(table.comment.find("seed 7"), std::string::npos);
    EXPECT_EQ(
        table.columns,
        "rank\tmodel\tcode\tsupport\tsequences\tcontrol_support\tcontrol_sequences\tenrichment\tlog10_p\t"
        "p_value\te_value\tfile\tfamily\tfamily_size");
    ASSERT_EQ(table.rows.size(), writtenCounts(readFile(dir_ + "/res")).size());
    for (size_t i = 1; i < table.rows.size(); ++i)
        ASSERT_LE(table.rows[i - 1].log10P(), table.rows[i].log10P());
    EXPECT_EQ(table.rows[0].fields[0], "1");
    EXPECT_EQ(table.rows[0].fields[4], "4");  // 20 sequences, 4 of them distinct
    // To standard output: the same bytes as without ranking, and the same table.
    std::vector<std::string> toStdout = args;
    toStdout[2] = "stdout";
    const auto plainOut = with({"-t", "1"}, toStdout);
    const auto rankedOut = with({"-t", "1", "--rank", "s.tsv", "--shuffle", "2", "--seed", "7"}, toStdout);
    ASSERT_EQ(rankedOut.status, 0);
    EXPECT_EQ(testutil::withoutUserTime(rankedOut.out), testutil::withoutUserTime(plainOut.out));
    const Table fromStdout = readTable(dir_ + "/s.tsv");
    ASSERT_EQ(fromStdout.rows.size(), table.rows.size());
    for (size_t i = 0; i < table.rows.size(); ++i) {
        std::vector<std::string> a = table.rows[i].fields, b = fromStdout.rows[i].fields;
        a.erase(a.begin() + 11);
        b.erase(b.begin() + 11);  // the file column: "res" and "stdout"
        ASSERT_EQ(a, b) << i;
    }
}

TEST_F(Ranking, ControlFilesAreRefusedByName) {
    writeFile(dir_ + "/in.fa", ">a\nACGTACGTAC\n>b\nACGTTTGTAC\n");
    writeFile(dir_ + "/dollar.fa", ">c\nACG$T\n");
    writeFile(dir_ + "/empty.fa", "");
    const struct {
        std::string control, message;
    } cases[] = {
        {"missing.fa", "Error: main: cannot open control FASTA file 'missing.fa'\n"},
        {"dollar.fa", ">> Error: control file 'dollar.fa': Seq 0 Pos 3 Forbidden character 36\n"},
        {"empty.fa", ">> Error: control file 'empty.fa' holds no sequence\n"},
    };
    for (const auto& c : cases) {
        const auto r = run(MOTBOX_BIN, {"--rank", "r.tsv", "--control", c.control, "acgt.alph", "in.fa",
                                        "res", "100", "1", "4", "4", "0"});
        EXPECT_EQ(r.status, 1) << c.control;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(testutil::fileExists(dir_ + "/res")) << "refused before any result is written";
    }
}

// A table or page given the name of a result file would be written over the results: the run ends with
// status 1, the results left whole.
TEST_F(Ranking, ATableOrPageNamedLikeAResultFileIsRefusedAndTheResultsKept) {
    writeFile(dir_ + "/in.fa", ">a\nACGTACGTAC\n>b\nACGTTTGTAC\n");
    const std::vector<std::string> positional = {"acgt.alph", "in.fa", "res", "100", "1", "4", "4", "0"};
    auto with = [&](std::vector<std::string> options) {
        options.insert(options.end(), positional.begin(), positional.end());
        return run(MOTBOX_BIN, options);
    };
    ASSERT_EQ(with({}).status, 0);
    const std::string results = testutil::withoutUserTime(readFile(dir_ + "/res"));
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--rank", "res"}, ">> Error: main: ranking file 'res' is the result file 'res'\n"},
        {{"--report", "res"}, ">> Error: main: report file 'res' is the result file 'res'\n"},
        {{"--report", "./res"}, ">> Error: main: report file './res' is the result file 'res'\n"},
    };
    for (const auto& c : cases) {
        const auto r = with(c.options);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(testutil::withoutUserTime(readFile(dir_ + "/res")), results) << c.message;
    }
}

// --rank-only ranks the models a result file holds as the run that wrote it would: the same table (its
// command line aside), motifs and sites, for motbox and for motbox-delta's window files, on one strand and
// both; it refuses standard output, a result file cut short and a run with nothing to write.  --quiet
// writes nothing on standard output and standard error, and the same results.
TEST_F(Ranking, RankOnlyRanksStoredResultsAsTheRunThatWroteThem) {
    const std::string input = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_upstream_20.fa";
    const struct {
        const char* program;
        std::vector<std::string> options, parameters;
    } cases[] = {
        {MOTBOX_BIN, {"-t", "2"}, {"90", "2", "10", "10", "1", "5", "5", "0", "2", "6", "5", "5", "1"}},
        {MOTBOX_BIN, {"--both-strands"}, {"90", "1", "8", "8", "1"}},
        {MOTBOX_DELTA_BIN,
         {"-t", "3"},
         {"90", "2", "10", "10", "1", "5", "5", "0", "2", "6", "1", "5", "5", "1"}},
    };
    for (const auto& c : cases) {
        auto with = [&](std::vector<std::string> options) {
            options.insert(options.end(), c.options.begin(), c.options.end());
            for (const char* a : {"acgt.alph", input.c_str(), "res"}) options.push_back(a);
            options.insert(options.end(), c.parameters.begin(), c.parameters.end());
            return run(c.program, options);
        };
        const auto plain = with({});
        ASSERT_EQ(plain.status, 0) << plain.err;
        const auto quiet = with({"--quiet"});
        ASSERT_EQ(quiet.status, 0) << quiet.err;
        EXPECT_EQ(quiet.out + quiet.err, "") << c.program;
        const std::vector<std::string> outputs = {"--rank", "r.tsv", "--meme", "m.meme", "--sites", "s.bed"};
        std::vector<std::string> full = outputs, again = outputs;
        for (std::string& name : again) name.insert(0, name.rfind("--", 0) == 0 ? "" : "again.");
        const auto ranked = with(full);
        ASSERT_EQ(ranked.status, 0) << ranked.err;
        again.insert(again.begin(), {"--rank-only", "-q"});
        const auto rankedAgain = with(again);
        ASSERT_EQ(rankedAgain.status, 0) << rankedAgain.err;
        EXPECT_EQ(rankedAgain.out, "");
        EXPECT_EQ(rankedAgain.err.find("**"), std::string::npos) << "no banner, warnings only";
        Table first = readTable(dir_ + "/r.tsv", c.options[0] == "--both-strands");
        Table second = readTable(dir_ + "/again.r.tsv", c.options[0] == "--both-strands");
        ASSERT_GT(first.rows.size(), 0u) << c.program;
        EXPECT_EQ(first.columns, second.columns);
        ASSERT_EQ(first.rows.size(), second.rows.size());
        for (size_t i = 0; i < first.rows.size(); ++i) ASSERT_EQ(first.rows[i].fields, second.rows[i].fields);
        EXPECT_EQ(readFile(dir_ + "/again.m.meme"), readFile(dir_ + "/m.meme"));
        EXPECT_EQ(readFile(dir_ + "/again.s.bed"), readFile(dir_ + "/s.bed"));
        EXPECT_FALSE(readFile(dir_ + "/s.bed").empty());
    }
    writeFile(dir_ + "/cut", readFile(dir_ + "/res").substr(0, 400));
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"--rank-only", "--rank", "x.tsv", "acgt.alph", input, "stdout", "90", "1", "8", "8", "1"},
         ">> Error: main: --rank-only reads the models from OUTPUT, which cannot be stdout\n"},
        {{"--rank-only", "--rank", "x.tsv", "acgt.alph", input, "cut", "90", "1", "8", "8", "1"},
         ">> Error: main: 'cut' is not a complete result file: it does not end with its final counts\n"},
        {{"--rank-only", "--rank", "x.tsv", "acgt.alph", input, "none", "90", "1", "8", "8", "1"},
         ">> Error: main: cannot read back output file 'none' for the ranking\n"},
        {{"--rank-only", "acgt.alph", input, "res", "90", "1", "8", "8", "1"},
         ">> Error: option '--rank-only' needs --rank, --report, --meme or --sites\n"},
    };
    for (const auto& r : refusals) {
        const auto refused = run(MOTBOX_BIN, r.args);
        EXPECT_EQ(refused.status, 1) << r.message;
        EXPECT_NE(refused.err.find(r.message), std::string::npos) << refused.err;
    }
}

}  // namespace
