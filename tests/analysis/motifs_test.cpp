// Families against a direct pairwise grouping, box words on both strands, MEME files byte for byte with
// their E-values, and BED placement of sites from bedtools-style headers.
#include "motifs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------------------
// Families

bool overlapIn(const Site& a, const Site& b, const std::vector<int32_t>& lengths) {
    if (a.seq != b.seq || a.seq < 0 || a.seq >= static_cast<int32_t>(lengths.size())) return false;
    const int32_t length = lengths[a.seq];
    const int32_t start = std::max({a.start, b.start, 0});
    const int32_t end = std::min({a.end, b.end, length});
    return start < end;
}

// Each model against every earlier head in order, sequence by sequence, site pair by site pair.
std::vector<size_t> directFamilies(const std::vector<std::vector<Site>>& models,
                                   const std::vector<int32_t>& lengths) {
    std::vector<std::map<int32_t, std::vector<Site>>> bySequence(models.size());
    for (size_t m = 0; m < models.size(); m++)
        for (const Site& s : models[m]) bySequence[m][s.seq].push_back(s);
    std::vector<size_t> family, heads;
    for (size_t m = 0; m < models.size(); m++) {
        const size_t support = bySequence[m].size();
        size_t joined = m;
        for (size_t h : support == 0 ? std::vector<size_t>{} : heads) {
            size_t overlapping = 0;
            for (const auto& [seq, sites] : bySequence[m]) {
                const auto other = bySequence[h].find(seq);
                if (other == bySequence[h].end()) continue;
                bool found = false;
                for (const Site& a : sites)
                    for (const Site& b : other->second) found = found || overlapIn(a, b, lengths);
                overlapping += found;
            }
            if (static_cast<double>(overlapping) >= kFamilyOverlapShare * static_cast<double>(support)) {
                joined = h;
                break;
            }
        }
        if (joined == m) heads.push_back(m);
        family.push_back(joined);
    }
    return family;
}

std::vector<size_t> builtFamilies(const std::vector<std::vector<Site>>& models,
                                  const std::vector<int32_t>& lengths, size_t* heads) {
    FamilyBuilder builder(lengths);
    std::vector<size_t> family;
    for (const std::vector<Site>& sites : models) family.push_back(builder.add(sites));
    *heads = builder.heads();
    return family;
}

TEST(FamilyBuilder, HandCases) {
    const std::vector<int32_t> lengths = {20, 20, 20, 20};
    const std::vector<std::vector<Site>> models = {
        {{0, 0, 5, '+'}, {1, 0, 5, '+'}},                     // 0: head
        {{0, 4, 8, '-'}, {2, 0, 5, '+'}},                     // 1: meets 0 in 1 of 2 sequences: joins 0
        {{2, 0, 5, '+'}, {3, 0, 5, '+'}},                     // 2: meets only member 1: new head
        {{0, 5, 9, '+'}, {1, 5, 9, '+'}},                     // 3: touches 0 without sharing a position
        {{0, 2, 3, '+'}, {2, 2, 3, '+'}, {3, 4, 5, '+'}},     // 4: meets 0 in 1 of 3, 2 in 2 of 3: joins 2
        {},                                                   // 5: no site: its own head
        {{1, -7, 1, '+'}, {0, 18, 40, '-'}, {7, 0, 3, '+'}},  // 6: clipped spans meet 0 in 1 of 3: new head
        {{0, 19, 25, '+'}},                                   // 7: clipped to [19, 20): meets 6 in sequence 0
    };
    size_t heads = 0;
    EXPECT_EQ(builtFamilies(models, lengths, &heads), (std::vector<size_t>{0, 0, 2, 3, 2, 5, 6, 6}));
    EXPECT_EQ(heads, 5u);
}

TEST(FamilyBuilder, LongHeadsMetAnywhereAlongThem) {
    // Head 0 covers [0, 200) of sequence 0 (from two sites) and [250, 270) of sequence 1.
    const std::vector<std::vector<Site>> models = {
        {{0, 0, 125, '+'}, {0, 120, 200, '+'}, {1, 250, 270, '-'}},
        {{0, 31, 32, '+'}},    // meets the head inside its first site
        {{0, 200, 201, '+'}},  // just past it
        {{1, 255, 256, '+'}},  // on the other sequence
        {{1, 265, 266, '+'}},  // inside the head's site
        {{1, 269, 300, '+'}, {1, 400, 401, '+'}},
    };
    size_t heads = 0;
    EXPECT_EQ(builtFamilies(models, {300, 600}, &heads), (std::vector<size_t>{0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(heads, 2u);
}

TEST(FamilyBuilder, MatchesDirectGroupingOnRandomModels) {
    // Short sequences crowded with small sites; long ones whose wide sites gather around a few places;
    // many tiny sequences, some empty, with models spread over most of them, so that sequence sets span
    // several words and a model meets more heads than are compared at once.
    const struct {
        int trials, sequences, shortest, longest, widest, mostSites;
        std::vector<int> hotspots;  // sites start near these (clipped to the sequence), or anywhere if none
        size_t minJoins, minEvenSupportJoins;
    } scenarios[] = {{3000, 6, 1, 30, 6, 6, {}, 1000, 200},
                     {2000, 3, 200, 700, 40, 16, {0, 250, 256, 300, 511, 512, 650}, 1000, 200},
                     {300, 150, 0, 10, 6, 150, {}, 500, 100}};
    std::mt19937 rng(20240607);
    const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (const auto& scenario : scenarios) {
        size_t joins = 0, evenSupportJoins = 0;
        for (int trial = 0; trial < scenario.trials; trial++) {
            std::vector<int32_t> lengths(static_cast<size_t>(uniform(1, scenario.sequences)));
            for (int32_t& length : lengths) length = uniform(scenario.shortest, scenario.longest);
            std::vector<std::vector<Site>> models(static_cast<size_t>(uniform(1, 40)));
            for (std::vector<Site>& sites : models) {
                sites.resize(static_cast<size_t>(uniform(0, scenario.mostSites)));
                for (Site& s : sites) {
                    s.seq = uniform(0, static_cast<int>(lengths.size()) - 1);
                    const int length = lengths[s.seq];
                    const int near = scenario.hotspots.empty()
                                         ? uniform(0, length)
                                         : std::min(scenario.hotspots[uniform(
                                                        0, static_cast<int>(scenario.hotspots.size()) - 1)],
                                                    length);
                    s.start = near + uniform(-3, 3) - (scenario.hotspots.empty() ? 0 : uniform(0, 20));
                    s.end = s.start + uniform(0, scenario.widest);  // some sites run off their sequence
                    s.strand = uniform(0, 1) ? '+' : '-';
                }
            }
            size_t heads = 0;
            const std::vector<size_t> expected = directFamilies(models, lengths);
            ASSERT_EQ(builtFamilies(models, lengths, &heads), expected) << "trial " << trial;
            size_t expectedHeads = 0;
            for (size_t m = 0; m < models.size(); m++) {
                std::set<int32_t> support;
                for (const Site& s : models[m]) support.insert(s.seq);
                expectedHeads += expected[m] == m;
                joins += expected[m] != m;
                evenSupportJoins += expected[m] != m && support.size() % 2 == 0;
            }
            EXPECT_EQ(heads, expectedHeads);
        }
        // The draws do exercise joining, with even supports where exactly half is enough.
        EXPECT_GT(joins, scenario.minJoins);
        EXPECT_GT(evenSupportJoins, scenario.minEvenSupportJoins);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Box words and count matrices

TEST(BoxWords, LengthsSitesAndWordsOnBothStrands) {
    EXPECT_EQ(boxLengthsOf("0123-45"), (std::vector<int>{4, 2}));
    EXPECT_EQ(boxLengthsOf("012"), (std::vector<int>{3}));
    EXPECT_EQ(boxLengthsOf("-01--2-"), (std::vector<int>{2, 1}));
    EXPECT_TRUE(boxLengthsOf("").empty());

    const std::string text = "AACCGGTTACGTAC";  // 14 characters
    const std::vector<int> boxes = {3, 2};
    const Occurrence forward{4, 2, {3}, '+'}, reverse{4, 2, {3}, '-'};
    const Site site = siteOf(forward, boxes);
    EXPECT_EQ(site.seq, 4);
    EXPECT_EQ(site.start, 2);
    EXPECT_EQ(site.end, 10);
    EXPECT_EQ(site.strand, '+');
    EXPECT_EQ(siteOf(reverse, boxes).strand, '-');
    EXPECT_EQ(boxWordsOf(forward, boxes, text), (std::vector<std::string>{"CCG", "AC"}));  // CCG GTT AC
    EXPECT_EQ(boxWordsOf(reverse, boxes, text),
              (std::vector<std::string>{"GTA", "GG"}));  // GTAACCGG: GTA, ACC, GG
    const Occurrence offEnd{0, 11, {3}, '+'};
    EXPECT_EQ(boxWordsOf(offEnd, boxes, text), (std::vector<std::string>{"TAC", std::string(2, '\0')}));

    MotifCounts counts("ACGT", boxes);
    counts.add(boxWordsOf(forward, boxes, text));
    counts.add(boxWordsOf(reverse, boxes, text));
    counts.add({"CNG", "A"});  // N is no letter; a short word counts what it has
    ASSERT_EQ(counts.boxes().size(), 2u);
    const CountMatrix& first = counts.boxes()[0];
    EXPECT_EQ(first.sites, 3u);
    EXPECT_EQ(first.counts, (std::vector<std::vector<int>>{{0, 2, 1, 0}, {0, 1, 0, 1}, {1, 0, 2, 0}}));
    EXPECT_EQ(counts.boxes()[1].counts, (std::vector<std::vector<int>>{{2, 0, 1, 0}, {0, 1, 1, 0}}));
    EXPECT_EQ(counts.letters(), "ACGT");
}

// ---------------------------------------------------------------------------------------------------------
// MEME

std::string written(const std::function<void(FILE*)>& write) {
    FILE* file = tmpfile();
    if (!file) return "(no temporary file)";
    write(file);
    rewind(file);
    std::string text;
    for (int c; (c = fgetc(file)) != EOF;) text += static_cast<char>(c);
    fclose(file);
    return text;
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; i++) text += piece;
    return text;
}

TEST(Meme, WritesDnaAndProteinFiles) {
    CountMatrix matrix;
    matrix.counts = {{1, 0, 0, 3}, {0, 0, 0, 0}, {2, 2, 0, 0}};
    matrix.sites = 4;
    const std::vector<MemeMotif> motifs = {{"F1.1", "TNA", matrix, -9.2}, {"F2.1", "", matrix, 0}};
    EXPECT_EQ(written([&](FILE* f) {
                  writeMeme(f, MemeAlphabet::Dna, "+ -", {0.291, 0.209, 0.209, 0.291}, motifs);
              }),
              "MEME version 4\n\nALPHABET= ACGT\n\nstrands: + -\n\n"
              "Background letter frequencies\nA 0.291 C 0.209 G 0.209 T 0.291\n\n"
              "MOTIF F1.1 TNA\nletter-probability matrix: alength= 4 w= 3 nsites= 4 E= 6.3e-10\n"
              " 0.250000 0.000000 0.000000 0.750000\n 0.250000 0.250000 0.250000 0.250000\n"
              " 0.500000 0.500000 0.000000 0.000000\n\n"
              "MOTIF F2.1\nletter-probability matrix: alength= 4 w= 3 nsites= 4 E= 1.0e+00\n"
              " 0.250000 0.000000 0.000000 0.750000\n 0.250000 0.250000 0.250000 0.250000\n"
              " 0.500000 0.500000 0.000000 0.000000\n\n");

    CountMatrix one;
    one.counts = {std::vector<int>(20, 0)};
    one.counts[0][19] = 2;
    one.sites = 2;
    const std::vector<double> zeros(20, 0.0);  // never written: a background summing to 0 becomes uniform
    std::string uniform;
    for (char c : std::string(kMemeProteinLetters))
        uniform += std::string(uniform.empty() ? "" : " ") + c + " 0.050";
    EXPECT_EQ(written([&](FILE* f) {
                  writeMeme(f, MemeAlphabet::Protein, "", zeros, {{"P", "W", one, -400}});
              }),
              "MEME version 4\n\nALPHABET= ACDEFGHIKLMNPQRSTVWY\n\nBackground letter frequencies\n" +
                  uniform +
                  "\n\nMOTIF P W\nletter-probability matrix: alength= 20 w= 1 nsites= 2 E= 1.0e-400\n" +
                  repeated(" 0.000000", 19) + " 1.000000\n\n");
}

TEST(Meme, EValuesFromTheirLogarithm) {
    const struct {
        double log10E;
        const char* text;
    } cases[] = {{-9.2, "6.3e-10"},
                 {0, "1.0e+00"},
                 {2.5, "3.2e+02"},
                 {-400, "1.0e-400"},
                 {-2.0000001, "1.0e-02"},
                 {std::log10(9.96e-3), "1.0e-02"},
                 {std::log10(9.94e-3), "9.9e-03"},
                 {-1e-12, "1.0e+00"},
                 {-0.0001, "1.0e+00"},
                 {-5000.7, "2.0e-5001"},
                 {123, "1.0e+123"},
                 {-INFINITY, "0.0e+00"}};
    for (const auto& c : cases) EXPECT_EQ(memeEValue(c.log10E), c.text) << c.log10E;
    // Wherever a double holds it, the E-value reads as printf writes it.
    for (int k = -30000; k <= 30000; k += 7) {
        char expected[32];
        snprintf(expected, sizeof expected, "%.1e", std::pow(10.0, k / 100.0));
        ASSERT_EQ(memeEValue(k / 100.0), expected) << k;
    }
}

TEST(Meme, AlphabetsAndBackground) {
    const struct {
        bool nucleotide, protein;
        const char* characters;
        bool ok;
        MemeAlphabet alphabet;
        const char* message;
    } cases[] = {
        {true, false, "ACGT", true, MemeAlphabet::Dna, ""},
        {true, false, "GA", true, MemeAlphabet::Dna, ""},
        {true, false, "ACGNT", false, MemeAlphabet::Dna,
         "--meme: text character 'N' cannot be declared in a MEME DNA alphabet (ACGT)"},
        {false, true, "ACDWY", true, MemeAlphabet::Protein, ""},
        {false, true, "AXB", false, MemeAlphabet::Protein,
         "--meme: text character 'X' cannot be declared in a MEME protein alphabet (ACDEFGHIKLMNPQRSTVWY)"},
        {false, true, "A\x01", false, MemeAlphabet::Protein,
         "--meme: text character '\\x01' cannot be declared in a MEME protein alphabet "
         "(ACDEFGHIKLMNPQRSTVWY)"},
    };
    for (const auto& c : cases) {
        const MemeAlphabetCheck check = memeAlphabetFor(c.nucleotide, c.protein, c.characters);
        EXPECT_EQ(check.ok, c.ok) << c.characters;
        EXPECT_EQ(check.alphabet, c.alphabet) << c.characters;
        EXPECT_EQ(check.message, c.message);
    }
    EXPECT_FALSE(memeAlphabetFor(false, false, "ACGT").ok);

    EXPECT_EQ(backgroundFrequencies({"AACG", "NNTA", ""}, "ACGT"),
              (std::vector<double>{3 / 6.0, 1 / 6.0, 1 / 6.0, 1 / 6.0}));
    EXPECT_EQ(backgroundFrequencies({"NNN"}, "ACGT"), (std::vector<double>{0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------------------
// BED

TEST(Bed, HeaderRegions) {
    const struct {
        const char* word;
        const char* chrom;
        int64_t start, end;
        char strand;
    } regions[] = {
        {"chr1:100-200", "chr1", 100, 200, 0}, {"chr1:100-200(+)", "chr1", 100, 200, '+'},
        {"chr2:0-5(-)", "chr2", 0, 5, '-'},    {"peak7::chrX:10-20(-)", "chrX", 10, 20, '-'},
        {"a::b::chr3:1-2", "chr3", 1, 2, 0},   {"HLA-A*01:01:01:01:5-9", "HLA-A*01:01:01:01", 5, 9, 0},
        {"chr1:7-7", "chr1", 7, 7, 0},
    };
    for (const auto& r : regions) {
        const GenomeRegion region = genomeRegionOf(r.word);
        EXPECT_EQ(region.kind, GenomeRegion::Region) << r.word;
        EXPECT_EQ(region.chrom, r.chrom) << r.word;
        EXPECT_EQ(region.start, r.start) << r.word;
        EXPECT_EQ(region.end, r.end) << r.word;
        EXPECT_EQ(region.strand, r.strand) << r.word;
    }
    for (const char* word : {"seq42", "sp|P12345|NAME:foo", "gene::name", "chr1:"})
        EXPECT_EQ(genomeRegionOf(word).kind, GenomeRegion::None) << word;
    for (const char* word : {"chr1:200-100", "chr1:-5-10", "chr1:5-x", "chr1:5", "chr1:5-10(.)",
                             "chr1:5-10(+)x", ":5-10", "chr1:1234567890123456789-1234567890123456790"})
        EXPECT_EQ(genomeRegionOf(word).kind, GenomeRegion::Malformed) << word;
}

TEST(Bed, PlacementsScoresAndLines) {
    const struct {
        const char* word;
        int64_t length;
        Site site;
        const char* line;  // written with name "F1.1" and score 7
        bool warns;
    } cases[] = {
        {"chr1:100-110(-)", 10, {0, 0, 3, '+'}, "chr1\t107\t110\tF1.1\t7\t-\n", false},
        {"chr1:100-110(-)", 10, {0, 4, 10, '-'}, "chr1\t100\t106\tF1.1\t7\t+\n", false},
        {"chr1:100-110(+)", 10, {0, 2, 5, '-'}, "chr1\t102\t105\tF1.1\t7\t-\n", false},
        {"p::chr9:50-60", 10, {3, 0, 10, '+'}, "chr9\t50\t60\tF1.1\t7\t+\n", false},
        {"chr1:100-110", 11, {0, 2, 5, '+'}, "chr1:100-110\t2\t5\tF1.1\t7\t+\n", true},
        {"chr1:110-100", 10, {0, 2, 5, '+'}, "chr1:110-100\t2\t5\tF1.1\t7\t+\n", true},
        {"seq1", 10, {0, 2, 5, '-'}, "seq1\t2\t5\tF1.1\t7\t-\n", false},
    };
    for (const auto& c : cases) {
        bool warn = false;
        const BedPlacement placement = bedPlacementOf(c.word, c.length, c.site, &warn);
        EXPECT_EQ(written([&](FILE* f) { writeBedLine(f, placement, "F1.1", 7); }), c.line) << c.word;
        EXPECT_EQ(warn, c.warns) << c.word;
    }
    bool warn = true;  // left alone by a fitting header
    bedPlacementOf("chr1:0-4", 4, {0, 0, 1, '+'}, &warn);
    EXPECT_TRUE(warn);
    EXPECT_EQ(bedPlacementOf("chr1:0-4", 5, {0, 0, 1, '+'}, nullptr).chrom, "chr1:0-4");  // no warning wanted

    const std::pair<double, int> scores[] = {{-9.2, 92},     {-9.25, 93},  {0, 0},     {3.5, 0},
                                             {-99.96, 1000}, {-1e9, 1000}, {-0.04, 0}, {-INFINITY, 1000}};
    for (const auto& [log10E, score] : scores) EXPECT_EQ(bedScore(log10E), score) << log10E;
}

}  // namespace
