#include "control_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

#include "strands.h"

namespace {

// Where a partial occurrence stands: its text, the next character to read, substitutions spent.
struct Place {
    int32_t text;
    int32_t end;
    int32_t err;
    int32_t errBox;
};

// Trie of the models' steps; node 0 is the empty model.
struct Trie {
    struct Node {
        int step = 0;
        int box = 0;  // box of the node's last step (spacers passed before it)
        std::vector<int> children;
        std::vector<int> models;  // models whose steps end here
    };
    std::vector<Node> nodes{1};

    explicit Trie(const MatchingModels& m) {
        for (size_t i = 0; i < m.steps.size(); ++i) {
            int at = 0;
            for (int step : m.steps[i]) at = child(at, step);
            nodes[static_cast<size_t>(at)].models.push_back(static_cast<int>(i));
        }
    }

    int child(int parent, int step) {
        for (int c : nodes[static_cast<size_t>(parent)].children)
            if (nodes[static_cast<size_t>(c)].step == step) return c;
        Node node;
        node.step = step;
        node.box = nodes[static_cast<size_t>(parent)].box + (step < 0 ? 1 : 0);
        nodes.push_back(node);
        const int made = static_cast<int>(nodes.size()) - 1;
        nodes[static_cast<size_t>(parent)].children.push_back(made);
        return made;
    }
};

class Matcher {
  public:
    Matcher(const std::vector<std::string>& texts, const MatchingModels& models, const MatchRules& rules)
        : texts_(texts), spacers_(models.spacers), rules_(rules) {
        accepts_.resize(rules.accepted.size());
        for (size_t s = 0; s < rules.accepted.size(); ++s) {
            accepts_[s].fill(static_cast<int>(s) == rules.joker);
            for (unsigned char c : rules.accepted[s]) accepts_[s][c] = true;
        }
    }

    // Places after reading one character as symbol s in box `box`, within the allowances.
    std::vector<Place> extend(const std::vector<Place>& from, int s, int box) const {
        const int boxLimit =
            static_cast<size_t>(box) < rules_.boxErr.size() ? rules_.boxErr[static_cast<size_t>(box)] : -1;
        const auto& accepts = accepts_[static_cast<size_t>(s)];
        std::vector<Place> next;
        for (const Place& p : from) {
            const std::string& t = texts_[static_cast<size_t>(p.text)];
            if (p.end >= static_cast<int32_t>(t.size())) continue;
            Place n{p.text, p.end + 1, p.err, p.errBox};
            if (!accepts[static_cast<unsigned char>(t[static_cast<size_t>(p.end)])]) {
                ++n.err;
                ++n.errBox;
                if ((rules_.maxErr >= 0 && n.err > rules_.maxErr) || (boxLimit >= 0 && n.errBox > boxLimit))
                    continue;
            }
            next.push_back(n);
        }
        return next;
    }

    // Places after every length of the spacer's range, as long as the next box has a character to read.
    std::vector<Place> jump(const std::vector<Place>& from, const SpacerRange& range) const {
        std::vector<Place> next;
        for (const Place& p : from) {
            const int32_t size = static_cast<int32_t>(texts_[static_cast<size_t>(p.text)].size());
            for (int l = std::max(range.min, 0); l <= range.max && p.end + l < size; ++l)
                next.push_back({p.text, p.end + l, p.err, 0});
        }
        return next;
    }

    std::vector<Place> step(const std::vector<Place>& from, const Trie::Node& node) const {
        if (node.step >= 0) return extend(from, node.step, node.box);
        return jump(from, spacers_[static_cast<size_t>(-1 - node.step)]);
    }

    // Places stay in text order, so the texts are counted in one pass; the two strands of a sequence are
    // consecutive texts, counted once.
    static int32_t textsHolding(const std::vector<Place>& places, bool strandPairs) {
        const int shift = strandPairs ? 1 : 0;
        int32_t count = 0;
        int32_t last = -1;
        for (const Place& p : places)
            if (p.text >> shift != last) {
                ++count;
                last = p.text >> shift;
            }
        return count;
    }

    std::vector<Place> everyStart() const {
        std::vector<Place> places;
        for (size_t t = 0; t < texts_.size(); ++t)
            for (size_t i = 0; i < texts_[t].size(); ++i)
                places.push_back({static_cast<int32_t>(t), static_cast<int32_t>(i), 0, 0});
        return places;
    }

  private:
    const std::vector<std::string>& texts_;
    const std::vector<SpacerRange>& spacers_;
    const MatchRules& rules_;
    std::vector<std::array<bool, 256>> accepts_;
};

}  // namespace

std::vector<int32_t> controlSupport(const std::vector<std::string>& texts, const MatchingModels& models,
                                    const MatchRules& rules, bool strandPairs) {
    std::vector<int32_t> support(models.steps.size(), 0);
    const Trie trie(models);
    const Matcher matcher(texts, models, rules);
    // Depth first over the trie, with the places of every node on the path (models may be long: no
    // recursion).
    struct Frame {
        int node;
        std::vector<Place> places;
        size_t nextChild = 0;
    };
    std::vector<Frame> path;
    path.push_back({0, matcher.everyStart()});
    while (!path.empty()) {
        Frame& top = path.back();
        const Trie::Node& node = trie.nodes[static_cast<size_t>(top.node)];
        if (top.nextChild == 0 && !node.models.empty()) {
            const int32_t holding = Matcher::textsHolding(top.places, strandPairs);
            for (int m : node.models) support[static_cast<size_t>(m)] = holding;
        }
        if (top.nextChild == node.children.size()) {
            path.pop_back();
            continue;
        }
        const int child = node.children[top.nextChild++];
        std::vector<Place> places = matcher.step(top.places, trie.nodes[static_cast<size_t>(child)]);
        if (!places.empty()) path.push_back({child, std::move(places)});
    }
    return support;
}

std::vector<std::string> withReverseStrands(const std::vector<std::string>& texts) {
    std::vector<std::string> paired;
    paired.reserve(2 * texts.size());
    for (const std::string& t : texts) {
        paired.push_back(t);
        paired.push_back(reverseComplement(t));
    }
    return paired;
}

namespace {

// The complements of a symbol's characters, sorted and each once; empty when one has none.
std::string complementSet(const std::string& accepted) {
    std::string set;
    for (const char c : accepted) {
        const char complement = complementBase(c);
        if (complement == 0) return "";
        set += complement;
    }
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    return set;
}

std::string sortedSet(std::string accepted) {
    std::sort(accepted.begin(), accepted.end());
    accepted.erase(std::unique(accepted.begin(), accepted.end()), accepted.end());
    return accepted;
}

// By symbol number: the symbol accepting exactly the complements of the characters it accepts (the joker:
// itself), -1 when no symbol does or one of its characters has no complement.
std::vector<int> complementSymbols(const MatchRules& rules) {
    const int symbols = static_cast<int>(rules.accepted.size());
    std::vector<int> complement(static_cast<size_t>(symbols), -1);
    for (int s = 0; s < symbols; ++s) {
        if (s == rules.joker) {
            complement[static_cast<size_t>(s)] = s;
            continue;
        }
        const std::string wanted = complementSet(rules.accepted[static_cast<size_t>(s)]);
        for (int o = 0; o < symbols && !wanted.empty(); ++o)
            if (o != rules.joker && sortedSet(rules.accepted[static_cast<size_t>(o)]) == wanted) {
                complement[static_cast<size_t>(s)] = o;
                break;
            }
    }
    return complement;
}

// The model read on the other strand: steps and spacer ranges in reverse order, each symbol replaced by its
// complement (complementSymbols); none when a symbol has no complement.
std::optional<CodedModel> reverseComplementOf(const CodedModel& model, const std::vector<int>& complement) {
    CodedModel reverse;
    reverse.spacers.assign(model.spacers.rbegin(), model.spacers.rend());
    for (auto c = model.code.rbegin(); c != model.code.rend(); ++c) {
        if (*c == '-' || *c == '*') {
            reverse.code += *c;
            continue;
        }
        const int symbol = static_cast<unsigned char>(*c) - '0';
        if (symbol < 0 || static_cast<size_t>(symbol) >= complement.size() ||
            complement[static_cast<size_t>(symbol)] < 0)
            return std::nullopt;
        reverse.code += static_cast<char>('0' + complement[static_cast<size_t>(symbol)]);
    }
    return reverse;
}

// A model's code with its spacer ranges, as one key.
std::string keyOf(const CodedModel& model) {
    std::string key = model.code;
    for (const SpacerRange& r : model.spacers) {
        char range[32];
        snprintf(range, sizeof range, "|%d:%d", r.min, r.max);
        key += range;
    }
    return key;
}

}  // namespace

std::vector<int> reverseComplementPartners(const std::vector<CodedModel>& models, const MatchRules& rules) {
    std::map<std::string, int> indexOf;
    for (size_t i = 0; i < models.size(); ++i) indexOf.try_emplace(keyOf(models[i]), static_cast<int>(i));
    const std::vector<int> complement = complementSymbols(rules);
    std::vector<int> partner(models.size(), -1);
    for (size_t i = 0; i < models.size(); ++i) {
        const std::optional<CodedModel> reverse = reverseComplementOf(models[i], complement);
        if (!reverse) continue;
        const auto found = indexOf.find(keyOf(*reverse));
        if (found != indexOf.end()) partner[i] = found->second;
    }
    return partner;
}
