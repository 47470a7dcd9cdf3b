#pragma once
// Support of written models in another set of sequences (a control set): for each model, the number of
// sequences holding at least one occurrence of it under the matching rules of the run -- each box symbol
// either accepts the character or spends a substitution within the box's and the model's allowances, the
// joker accepts every character, and each spacer skips a length of its range.  All models are matched in
// one walk over the trie of their codes, so that models sharing a start share its matching.

#include <cstdint>
#include <string>
#include <vector>

struct MatchRules {
    std::vector<std::string> accepted;  // by symbol number: the sequence characters the symbol accepts
    int joker = -1;                     // symbol number of the joker, -1 none
    int maxErr = -1;                    // substitutions in the whole model, negative: no limit
    std::vector<int> boxErr;            // substitutions per box, negative: no limit; empty in one-box runs
};

// One spacer of a model: the lengths it may skip.
struct SpacerRange {
    int min = 0;
    int max = 0;
    bool operator==(const SpacerRange&) const = default;
};

// A model as matched: its steps in order, each a symbol number (0 or more) or a spacer, written
// spacerStep(i) for the i-th range of MatchingModels::spacers.
inline constexpr int spacerStep(int range) {
    return -1 - range;
}

struct MatchingModels {
    std::vector<std::vector<int>> steps;  // one per model
    std::vector<SpacerRange> spacers;     // the ranges spacer steps refer to
};

// For each model, the number of texts holding an occurrence of it.  With strandPairs, texts 2i and 2i+1
// are the two strands of sequence i, and the count is of sequences holding it on either strand.
std::vector<int32_t> controlSupport(const std::vector<std::string>& texts, const MatchingModels& models,
                                    const MatchRules& rules, bool strandPairs = false);

// Each text followed by its reverse complement, for controlSupport's strand pairs.
std::vector<std::string> withReverseStrands(const std::vector<std::string>& texts);

// A model as the result files write it: its code ('0' + symbol number, '*' the joker, '-' a spacer) and the
// ranges of its spacers, in order.
struct CodedModel {
    std::string code;
    std::vector<SpacerRange> spacers;
    bool operator==(const CodedModel&) const = default;
};

// By model: the index of the model that is its reverse complement (its own for a model that is its own
// reverse complement), -1 when none of them is.
std::vector<int> reverseComplementPartners(const std::vector<CodedModel>& models, const MatchRules& rules);
