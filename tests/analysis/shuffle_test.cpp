// Dinucleotide shuffles: what they keep, their reproducibility and their uniformity; duplicate folding.
#include "shuffle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Adjacent pairs with the first and last characters: what a shuffle keeps.
std::map<std::string, int> pairCounts(const std::string& seq) {
    std::map<std::string, int> counts;
    for (size_t i = 0; i + 1 < seq.size(); i++) counts[seq.substr(i, 2)]++;
    if (!seq.empty()) counts["ends " + seq.substr(0, 1) + seq.substr(seq.size() - 1)] = 1;
    return counts;
}

TEST(Shuffle, KeepsPairCountsAndEnds) {
    std::mt19937_64 rng(11);
    for (const std::string alphabet : {"ACGT", "ACDEFGHIKLMNPQRSTVWY", "acgtnACGTN", "AT", "A"}) {
        for (size_t length = 0; length <= 300; length += length < 5 ? 1 : 37) {
            std::string seq;
            while (seq.size() < length) seq += alphabet[rng() % alphabet.size()];
            EXPECT_EQ(pairCounts(dinucleotideShuffle(seq, rng)), pairCounts(seq)) << seq;
        }
    }
}

TEST(Shuffle, ControlsComeInInputOrderAndFollowTheSeed) {
    const std::vector<std::string> inputs{"ACGTACGGTCAAT", "MKVLAAGIVKLLW", "", "GATTACAGATTACA"};
    const std::vector<std::string> controls = shuffledControls(inputs, 3, 42);
    ASSERT_EQ(controls.size(), 12u);
    for (size_t i = 0; i < controls.size(); i++)
        EXPECT_EQ(pairCounts(controls[i]), pairCounts(inputs[i / 3]));
    EXPECT_EQ(shuffledControls(inputs, 3, 42), controls);
    EXPECT_NE(shuffledControls(inputs, 3, 43), controls);
    EXPECT_EQ(shuffledControls(inputs, 3), shuffledControls(inputs, 3, kDefaultShuffleSeed));
    EXPECT_TRUE(shuffledControls(inputs, 0, 42).empty());
}

// All 24 arrangements with the same pairs (GC three times, CG twice) and ends, drawn about equally often.
// Its last exits can form three different trees, the walk's choices weighted by the pairs' multiplicities.
TEST(Shuffle, DrawsEveryArrangementUniformly) {
    const std::string seq = "GCGAGGCGCAT";
    std::map<std::string, int> drawn;
    std::string arrangement = seq;
    std::sort(arrangement.begin(), arrangement.end());
    do {
        if (pairCounts(arrangement) == pairCounts(seq)) drawn[arrangement] = 0;
    } while (std::next_permutation(arrangement.begin(), arrangement.end()));
    ASSERT_EQ(drawn.size(), 24u);

    constexpr int kDraws = 24000;
    std::mt19937_64 rng(5);
    for (int i = 0; i < kDraws; i++) {
        const auto found = drawn.find(dinucleotideShuffle(seq, rng));
        ASSERT_NE(found, drawn.end());
        found->second++;
    }
    double chiSquare = 0;
    for (const auto& [text, count] : drawn) chiSquare += (count - 1000.0) * (count - 1000.0) / 1000.0;
    EXPECT_LT(chiSquare, 60);  // 23 degrees of freedom: P(chi2 > 60) ~ 4e-5, and the seed is fixed
}

TEST(DuplicateFolding, FirstOccurrenceStandsWhateverTheCase) {
    const DistinctSequences distinct = foldDuplicates({"ACGT", "acgt", "AAA", "ACGt", "aaa", "T", ""});
    EXPECT_EQ(distinct.firstOf, (std::vector<int>{0, 0, 2, 0, 2, 5, 6}));
    EXPECT_EQ(distinct.folded, 3);
    EXPECT_EQ(foldDuplicates({"MKV", "MKVL", "mkvL", "MKVLA"}).folded, 1);
}

}  // namespace
