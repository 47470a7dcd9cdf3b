// Support of models in a control set: the trie walk against a per-model backtracking matcher on random
// cases, and against the sequence counts motbox itself writes when run on the control set with a quorum of
// one sequence.
#include "control_support.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Does text hold an occurrence of model from step i on, starting at pos?
bool matchesFrom(const std::string& text, const std::vector<int>& steps, size_t i, int pos, int err,
                 int errBox, int box, const MatchingModels& models, const MatchRules& rules) {
    if (i == steps.size()) return true;
    const int step = steps[i];
    if (step < 0) {
        const SpacerRange r = models.spacers[static_cast<size_t>(-1 - step)];
        for (int l = std::max(r.min, 0); l <= r.max; ++l)
            if (pos + l < static_cast<int>(text.size()) &&
                matchesFrom(text, steps, i + 1, pos + l, err, 0, box + 1, models, rules))
                return true;
        return false;
    }
    if (pos >= static_cast<int>(text.size())) return false;
    const bool exact =
        step == rules.joker || rules.accepted[static_cast<size_t>(step)].find(text[pos]) != std::string::npos;
    if (!exact) {
        ++err;
        ++errBox;
        const int boxLimit = static_cast<size_t>(box) < rules.boxErr.size() ? rules.boxErr[box] : -1;
        if ((rules.maxErr >= 0 && err > rules.maxErr) || (boxLimit >= 0 && errBox > boxLimit)) return false;
    }
    return matchesFrom(text, steps, i + 1, pos + 1, err, errBox, box, models, rules);
}

int32_t bruteSupport(const std::vector<std::string>& texts, const std::vector<int>& steps,
                     const MatchingModels& models, const MatchRules& rules) {
    int32_t n = 0;
    for (const std::string& t : texts) {
        bool found = false;
        for (int p = 0; p < static_cast<int>(t.size()) && !found; ++p)
            found = matchesFrom(t, steps, 0, p, 0, 0, 0, models, rules);
        n += found;
    }
    return n;
}

TEST(ControlSupport, TrieWalkAgreesWithBacktrackingOnRandomCases) {
    std::mt19937 rng(20261207);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int nonZero = 0;
    for (int c = 0; c < 300; ++c) {
        std::vector<std::string> texts(static_cast<size_t>(pick(1, 6)));
        for (std::string& t : texts)
            for (int i = pick(0, 30); i > 0; --i) t += "ACGT"[pick(0, 3)];
        MatchRules rules;
        rules.accepted = {"A", "C", "G", "T", "AG", "CT", ""};
        rules.joker = pick(0, 1) ? 6 : -1;
        rules.maxErr = pick(-1, 2);
        const int boxes = pick(1, 3);
        if (boxes > 1)
            for (int b = 0; b < boxes; ++b) rules.boxErr.push_back(pick(-1, 1));
        MatchingModels models;
        for (int s = 0; s + 1 < boxes; ++s) {
            const int lo = pick(-1, 3);
            models.spacers.push_back({lo, lo + pick(0, 3)});
        }
        for (int m = pick(1, 40); m > 0; --m) {
            std::vector<int> steps;
            for (int b = 0; b < boxes; ++b) {
                if (b > 0) steps.push_back(spacerStep(b - 1));
                for (int l = pick(1, 4); l > 0; --l) steps.push_back(pick(0, rules.joker >= 0 ? 6 : 5));
            }
            models.steps.push_back(steps);
        }
        const std::vector<int32_t> support = controlSupport(texts, models, rules);
        ASSERT_EQ(support.size(), models.steps.size());
        for (size_t m = 0; m < models.steps.size(); ++m) {
            ASSERT_EQ(support[m], bruteSupport(texts, models.steps[m], models, rules))
                << "case " << c << " model " << m;
            nonZero += support[m] > 0;
        }
    }
    EXPECT_GT(nonZero, 1000);  // the cases are not all trivially empty
}

TEST(ControlSupport, EqualsTheCountsMotboxWritesWithAQuorumOfOne) {
    const std::string dir = testutil::makeTempDir();
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    size_t compared = 0;
    for (int c = 0; c < 12; ++c) {
        std::vector<std::string> texts(static_cast<size_t>(pick(2, 6)));
        std::string fasta;
        for (size_t i = 0; i < texts.size(); ++i) {
            for (int k = pick(5, 40); k > 0; --k) texts[i] += "ACGT"[pick(0, 3)];
            fasta += ">s" + std::to_string(i) + "\n" + texts[i] + "\n";
        }
        testutil::writeFile(dir + "/c.fa", fasta);
        testutil::writeFile(dir + "/a.txt", "Nucleotide\nA\nC\nG\nT\nAG\nCT\n*\n");
        const int gapMin = pick(0, 2), gapMax = gapMin + pick(0, 3), err1 = pick(0, 1), err2 = pick(0, 1);
        const int maxErr = pick(0, 2);
        // A quorum of 1 % is one sequence.
        const std::vector<std::string> args = {MOTBOX_BIN,
                                               "-t",
                                               "1",
                                               "a.txt",
                                               "c.fa",
                                               "r.txt",
                                               "1",
                                               "2",
                                               "4",
                                               "5",
                                               std::to_string(maxErr),
                                               "2",
                                               "3",
                                               std::to_string(err1),
                                               std::to_string(gapMin),
                                               std::to_string(gapMax),
                                               "2",
                                               "2",
                                               std::to_string(err2)};
        const testutil::RunResult run = testutil::runCommand(args, dir);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<testutil::WrittenModel> written =
            testutil::writtenModels(testutil::readFile(dir + "/r.txt"));
        MatchRules rules{{"A", "C", "G", "T", "AG", "CT", ""}, 6, maxErr, {err1, err2}};
        MatchingModels models;
        models.spacers = {{gapMin, gapMax}};
        std::vector<int32_t> counts;
        for (const testutil::WrittenModel& m : written) {
            std::vector<int> steps;
            for (char ch : m.code) steps.push_back(ch == '-' ? spacerStep(0) : ch == '*' ? 6 : ch - '0');
            models.steps.push_back(steps);
            counts.push_back(m.count);
        }
        EXPECT_EQ(controlSupport(texts, models, rules), counts) << fasta;
        compared += written.size();
    }
    EXPECT_GT(compared, 500u);
    testutil::removeTree(dir);
}

}  // namespace
