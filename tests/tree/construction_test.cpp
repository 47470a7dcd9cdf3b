#include "construction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "as_program.h"
#include "bit_tab.h"
#include "global_fonctions.h"
#include "liste_pos.h"
#include "support_test_util.h"

namespace {

// One occurrence of a window word: its sequence and the end of the word.
struct Occurrence {
    int seq;
    int end;
    bool operator==(const Occurrence&) const = default;
};

// Naive model of the truncated tree: every window word of every position with
// its occurrences, newest first (highest sequence, then highest position).
std::map<std::string, std::vector<Occurrence>> windowWords(const std::vector<std::string>& texts, int w) {
    std::map<std::string, std::vector<Occurrence>> words;
    for (int k = static_cast<int>(texts.size()) - 1; k >= 0; --k) {
        const int length = static_cast<int>(texts[k].size());
        for (int p = length - 1; p >= 0; --p) {
            const int end = std::min(p + w, length);
            words[texts[k].substr(p, end - p)].push_back({k, end});
        }
    }
    return words;
}

std::vector<int> members(const unsigned char* bt) {
    std::vector<int> out;
    if (isDynamicBitTab(bt)) {
        const int count = ((bt[0] & 0x7F) << 8) | bt[1];
        for (int i = 0; i < count; ++i) {
            uint16_t v;
            memcpy(&v, bt + 2 + 2 * i, sizeof v);
            out.push_back(v);
        }
    } else {
        for (int bit = 1; bit < 8 * colourSetStore().SIZE_STATIC_BIT_TAB; ++bit)
            if (bt[bit / 8] & (0x80 >> (bit % 8))) out.push_back(bit - 1);
    }
    return out;
}

std::set<int> asSet(const std::vector<int>& v) {
    return {v.begin(), v.end()};
}

int labelSeqOf(void* x) {
    return isFeuille(x) ? static_cast<Feuille*>(x)->num_seq : static_cast<Noeud*>(x)->num_seq;
}

int labelEndOf(void* x) {
    if (isFeuille(x))
        return getValue(treeState().Liste_positions_fin, static_cast<Feuille*>(x)->dernier_indice);
    return static_cast<Noeud*>(x)->fin;
}

std::string labelOf(void* x) {
    const int start = labelStart(x);
    return std::string(treeState().Sequence[labelSeqOf(x)] + start,
                       treeState().Sequence[labelSeqOf(x)] + labelEndOf(x));
}

// A leaf's occurrence chain: values newest first, and for each link whether
// it crosses to the previous sequence.
struct Chain {
    std::vector<int> values;
    std::vector<bool> crossings;
    bool terminated = false;
};

Chain chainOf(const Feuille* leaf) {
    Chain c;
    const ListePositions* l = treeState().Liste_positions_fin;
    int32_t cell = leaf->dernier_indice;
    while (cell >= 0 && cell < l->nb_elements && c.values.size() <= static_cast<size_t>(l->nb_elements)) {
        c.values.push_back(l->valeurs[cell]);
        const int32_t link = l->suivants[cell];
        c.crossings.push_back((link & MARQUE_CHANGE_SEQ) != 0);
        cell = link & ~MARQUE_CHANGE_SEQ;
        if (cell == FIN_CHAINE) {
            c.terminated = true;
            break;
        }
    }
    return c;
}

// Builds the tree of texts with window w from fresh tree state.  The texts are
// kept in storage, which must outlive the tree (Sequence points into it).
Noeud* buildTree(const std::string& alphabet, const std::vector<std::string>& texts, int w,
                 std::vector<std::vector<char>>& storage) {
    Free_Arbre();
    storage.clear();
    for (const std::string& t : texts) {
        storage.emplace_back(t.begin(), t.end());
        storage.back().push_back('\0');
    }
    Init_All(alphabet.c_str(), 0, static_cast<int32_t>(texts.size()));
    Noeud* root = Construction_Arbre(storage[0].data(), w);
    for (size_t k = 1; k < texts.size(); ++k) root = AjouteSequence(root, storage[k].data(), w);
    UpdateBit_TabForAllTree(root);
    return root;
}

// Checks every clause of the tree contract against the naive model and
// returns a description of the first few faults (empty when the tree is right).
class ContractChecker {
  public:
    ContractChecker(const std::vector<std::string>& texts, int w)
        : texts_(texts), expected_(windowWords(texts, w)) {}

    std::string check(Noeud* root) {
        checkGlobals();
        checkNode(root, "", true);
        for (const auto& [word, occ] : expected_)
            if (!seen_.count(word)) fault("no leaf for word '" + word + "'");
        checkNoOpenCell();
        return faults_.str();
    }

  private:
    void fault(const std::string& what) {
        if (++faultCount_ <= 5) faults_ << what << "\n";
    }

    void checkGlobals() {
        if (treeState().current_sequence != static_cast<int>(texts_.size()) - 1)
            fault("current_sequence " + std::to_string(treeState().current_sequence));
        for (size_t k = 0; k < texts_.size(); ++k)
            if (texts_[k] != treeState().Sequence[k]) fault("Sequence[" + std::to_string(k) + "] differs");
    }

    void checkNoOpenCell() {
        const ListePositions* l = treeState().Liste_positions_fin;
        for (int i = 0; i < l->nb_elements; ++i)
            if (l->valeurs[i] < 0) fault("cell " + std::to_string(i) + " left open");
    }

    // Returns the set of sequences below x.
    std::set<int> checkNode(void* x, const std::string& above, bool isRoot) {
        if (isFeuille(x)) return checkLeaf(static_cast<Feuille*>(x), above);
        auto* node = static_cast<Noeud*>(x);
        std::string path = above;
        if (!isRoot) {
            if (node->fin == -1) fault("node '" + above + "' has an open end");
            if (node->fin <= node->debut) fault("empty label below '" + above + "'");
            if (node->fin != -1) path += labelOf(node);
        }
        std::set<int> below;
        int children = 0;
        for (int k = 0; k < treeState().ALPHA_CARD; ++k) {
            void* child = childIn(node, k);
            if (child == nullptr) continue;
            ++children;
            const char first = treeState().Sequence[labelSeqOf(child)][labelStart(child)];
            if (treeState().Translation_Table[static_cast<unsigned char>(first)] != k)
                fault("child of '" + path + "' in the wrong slot");
            std::set<int> sub = checkNode(child, path, false);
            below.insert(sub.begin(), sub.end());
        }
        if (!isRoot && children < 2)
            fault("node '" + path + "' has " + std::to_string(children) + " children");
        std::vector<int> colours = members(node->bit_tab);
        if (asSet(colours) != below) fault("node '" + path + "' colour set differs from its subtree");
        if (node->nb_seq != static_cast<int>(below.size())) fault("node '" + path + "' nb_seq");
        if (isRoot && below.size() != texts_.size()) fault("root does not hold every sequence");
        return below;
    }

    std::set<int> checkLeaf(Feuille* leaf, const std::string& above) {
        const Chain chain = chainOf(leaf);
        if (chain.values.empty() || chain.values.front() < 0) {
            fault("leaf below '" + above + "' has no closed newest cell");
            return {};
        }
        if (leaf->fin != chain.values.front()) fault("leaf below '" + above + "' keeps a stale end");
        const std::string label = labelOf(leaf);
        if (label.empty()) fault("empty leaf label below '" + above + "'");
        const std::string word = above + label;
        auto it = expected_.find(word);
        if (it == expected_.end()) {
            fault("leaf for unexpected word '" + word + "'");
            return {};
        }
        if (!seen_.insert(word).second) fault("two leaves for word '" + word + "'");
        const std::vector<Occurrence>& occ = it->second;

        std::vector<int> values;
        std::vector<bool> crossings;
        for (size_t c = 0; c < occ.size(); ++c) {
            values.push_back(occ[c].end);
            crossings.push_back(c + 1 < occ.size() && occ[c + 1].seq != occ[c].seq);
        }
        if (chain.values != values || chain.crossings != crossings || !chain.terminated)
            fault("chain of leaf '" + word + "' differs");
        if (leaf->num_seq != occ.front().seq) fault("num_seq of leaf '" + word + "'");

        std::vector<int> seqs;
        for (auto o = occ.rbegin(); o != occ.rend(); ++o)
            if (seqs.empty() || seqs.back() != o->seq) seqs.push_back(o->seq);
        std::vector<int> colours = members(leaf->bit_tab);
        if (isDynamicBitTab(leaf->bit_tab) ? colours != seqs : asSet(colours) != asSet(seqs))
            fault("colour set of leaf '" + word + "'");
        return asSet(seqs);
    }

    const std::vector<std::string>& texts_;
    std::map<std::string, std::vector<Occurrence>> expected_;
    std::set<std::string> seen_;
    std::ostringstream faults_;
    int faultCount_ = 0;
};

std::string describe(const std::vector<std::string>& texts, int w) {
    std::string s = "window " + std::to_string(w) + ", texts:";
    for (const std::string& t : texts) s += " " + t;
    return s;
}

class ConstructionTest : public testing::Test {
  protected:
    void TearDown() override { Free_Arbre(); }

    Noeud* build(const std::vector<std::string>& texts, int w, const std::string& alphabet = "ACGT$") {
        texts_ = texts;
        return buildTree(alphabet, texts, w, storage_);
    }

    std::string contractFaults(Noeud* root, int w) { return ContractChecker(texts_, w).check(root); }

    static void* childFor(void* node, char c) {
        return childIn(static_cast<Noeud*>(node),
                       treeState().Translation_Table[static_cast<unsigned char>(c)]);
    }

    // The record reached from the root by following the first letters of path's pieces.
    static void* walk(Noeud* root, const std::string& firstLetters) {
        void* x = root;
        for (char c : firstLetters) x = childFor(x, c);
        return x;
    }

    std::vector<std::string> texts_;
    std::vector<std::vector<char>> storage_;
};

// Random inputs of every shape the engine may hand over, each checked against
// the naive model of all window words.
TEST_F(ConstructionTest, RandomInputsFulfilTheContract) {
    std::mt19937 rng(20240611);
    const std::string letters = "ACGT";
    int cases = 0;
    for (int round = 0; round < 3000; ++round) {
        const int alphabetSize = 1 + static_cast<int>(rng() % 4);
        const int nbSeq = 1 + static_cast<int>(rng() % 6);
        // Short bodies over small alphabets repeat a lot; long ones exercise the sliding phase.
        const int maxLength = (round % 3 == 0) ? 8 : 40;
        std::vector<std::string> texts;
        int longest = 0;
        for (int k = 0; k < nbSeq; ++k) {
            std::string t;
            const int length = static_cast<int>(rng() % (maxLength + 1));
            for (int p = 0; p < length; ++p) t += letters[rng() % alphabetSize];
            // Some sequences repeat an earlier one, or a piece of it.
            if (k > 0 && rng() % 4 == 0) {
                const std::string& earlier = texts[rng() % k];
                const size_t from = rng() % earlier.size();
                t = earlier.substr(from, rng() % (earlier.size() - from));
            }
            t += '$';
            longest = std::max(longest, static_cast<int>(t.size()));
            texts.push_back(t);
        }
        const int w = 1 + static_cast<int>(rng() % (longest + 3));
        Noeud* root = build(texts, w, letters.substr(0, alphabetSize) + "$");
        const std::string faults = contractFaults(root, w);
        ASSERT_TRUE(faults.empty()) << describe(texts, w) << "\n" << faults;
        ++cases;
    }
    EXPECT_EQ(cases, 3000);
}

// Every window on a few texts with long repeats, where most words are found
// already present and the construction keeps carrying full-window words.
TEST_F(ConstructionTest, RepetitiveTextsFulfilTheContractForEveryWindow) {
    const std::vector<std::vector<std::string>> inputs = {
        {"AAAAAAAAAAAAAAAAAAAA$"},
        {"ACACACACACACACACAC$", "CACACACA$", "ACACAC$"},
        {"AACAACAACAACAAC$", "AACAACAAC$", "CAACAACAACAA$"},
        {"ACGTACGTACGTAACGTACGT$", "GTACGTAC$", "TTTTACGTACGTACGTTTTT$"},
        {"A$", "$", "AA$", "$"},
        {"GATTACAGATTACAGATTACA$", "ATTACAGATT$", "GATTACA$", "GATTACAGATTACAGATTACA$"},
    };
    for (const auto& texts : inputs) {
        int longest = 0;
        for (const std::string& t : texts) longest = std::max(longest, static_cast<int>(t.size()));
        for (int w = 1; w <= longest + 1; ++w) {
            Noeud* root = build(texts, w);
            const std::string faults = contractFaults(root, w);
            ASSERT_TRUE(faults.empty()) << describe(texts, w) << "\n" << faults;
        }
    }
}

// Long texts that mostly repeat earlier ones, with windows on both sides of the length up to which the
// words of a text already in the tree are looked up in batches from the root: whole batches, batches
// that stop at a new word, a word ending with the terminator, and the walk along suffix links after them.
TEST_F(ConstructionTest, LongRepeatedTextsFulfilTheContractAroundTheBatchedLookups) {
    std::mt19937 rng(8086);
    const std::string letters = "ACGT";
    for (int round = 0; round < 60; ++round) {
        const int alphabetSize = 1 + static_cast<int>(rng() % 4);
        std::string pool;
        for (int p = 0; p < 300; ++p) pool += letters[rng() % alphabetSize];
        std::vector<std::string> texts;
        for (int k = 0; k < 6; ++k) {
            const size_t from = rng() % 100;
            std::string t = pool.substr(from, 40 + rng() % 160);
            // Now and then a letter no earlier text has at that place.
            if (rng() % 2 == 0) t[rng() % t.size()] = letters[rng() % 4];
            texts.push_back(t + '$');
        }
        const int w = 2 + static_cast<int>(rng() % 40);
        Noeud* root = build(texts, w);
        const std::string faults = contractFaults(root, w);
        ASSERT_TRUE(faults.empty()) << describe(texts, w) << "\n" << faults;
    }
}

// An alphabet of more than 32 letters, where nodes hang in slots past the 32 whose kind a node keeps for
// the colour propagation, which then reads the children's records instead.
TEST_F(ConstructionTest, AlphabetOfFortyLettersFulfilsTheContract) {
    std::mt19937 rng(4040);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789xyz$";
    const std::string used = "AB89xy";  // letter numbers 0, 1 and 34 to 37
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> texts;
        int longest = 0;
        for (int k = 0; k < 2 + static_cast<int>(rng() % 5); ++k) {
            std::string t;
            for (int p = 0; p < static_cast<int>(rng() % 40); ++p) t += used[rng() % (2 + rng() % 5)];
            texts.push_back(t + '$');
            longest = std::max(longest, static_cast<int>(texts.back().size()));
        }
        const int w = 1 + static_cast<int>(rng() % (longest + 2));
        Noeud* root = build(texts, w, alphabet);
        const std::string faults = contractFaults(root, w);
        ASSERT_TRUE(faults.empty()) << describe(texts, w) << "\n" << faults;
    }
}

// The random cases above have at most six sequences, so every colour set fits
// one byte and a short list never holds more than one member.  Runs with tens
// to hundreds of short texts give leaves short lists of several members, which
// must stay in increasing order, and bit arrays of several bytes.
TEST_F(ConstructionTest, ManySequencesFulfilTheContract) {
    std::mt19937 rng(777);
    const std::string letters = "ACGT";
    for (int round = 0; round < 200; ++round) {
        const int alphabetSize = 1 + static_cast<int>(rng() % 3);
        const int nbSeq = 40 + static_cast<int>(rng() % 200);
        std::vector<std::string> texts;
        int longest = 0;
        for (int k = 0; k < nbSeq; ++k) {
            std::string t;
            const int length = static_cast<int>(rng() % 7);
            for (int p = 0; p < length; ++p) t += letters[rng() % alphabetSize];
            t += '$';
            longest = std::max(longest, static_cast<int>(t.size()));
            texts.push_back(t);
        }
        const int w = 1 + static_cast<int>(rng() % (longest + 2));
        Noeud* root = build(texts, w, letters.substr(0, alphabetSize) + "$");
        ASSERT_GE(colourSetStore().CHANGE_LIMITE, 2);
        const std::string faults = contractFaults(root, w);
        ASSERT_TRUE(faults.empty()) << describe(texts, w) << "\n" << faults;
    }
}

TEST_F(ConstructionTest, AcaWithWindowTwo) {
    Noeud* root = build({"ACA$"}, 2);
    EXPECT_EQ(contractFaults(root, 2), "");
    auto* a = static_cast<Noeud*>(childFor(root, 'A'));
    ASSERT_FALSE(isFeuille(a));
    EXPECT_EQ(labelOf(a), "A");
    struct Expected {
        void* leaf;
        const char* label;
        int end;
    };
    const Expected leaves[] = {{childFor(a, 'C'), "C", 2},
                               {childFor(root, 'C'), "CA", 3},
                               {childFor(a, '$'), "$", 4},
                               {childFor(root, '$'), "$", 4}};
    for (const Expected& e : leaves) {
        ASSERT_NE(e.leaf, nullptr) << e.label;
        ASSERT_TRUE(isFeuille(e.leaf)) << e.label;
        EXPECT_EQ(labelOf(e.leaf), e.label);
        EXPECT_EQ(chainOf(static_cast<Feuille*>(e.leaf)).values, std::vector<int>{e.end}) << e.label;
    }
    EXPECT_EQ(treeState().Noeud_Alloc.premiere->nb_pris, 2);  // the root and A
    EXPECT_EQ(treeState().Feuille_Alloc.premiere->nb_pris, 4);
}

TEST_F(ConstructionTest, AaaaWithWindowThree) {
    Noeud* root = build({"AAAA$"}, 3);
    EXPECT_EQ(contractFaults(root, 3), "");
    void* aaa = walk(root, "AAA");
    ASSERT_TRUE(isFeuille(aaa));
    EXPECT_EQ(chainOf(static_cast<Feuille*>(aaa)).values, (std::vector<int>{4, 3}));
    for (const char* path : {"AA$", "A$", "$"}) {
        void* leaf = walk(root, path);
        ASSERT_TRUE(leaf != nullptr && isFeuille(leaf)) << path;
        EXPECT_EQ(chainOf(static_cast<Feuille*>(leaf)).values, std::vector<int>{5}) << path;
    }
    EXPECT_FALSE(isFeuille(walk(root, "A")));
    EXPECT_FALSE(isFeuille(walk(root, "AA")));
    EXPECT_EQ(treeState().Noeud_Alloc.premiere->nb_pris, 3);  // the root, A and AA
}

TEST_F(ConstructionTest, GagAddedToAgaWithWindowTwo) {
    Noeud* root = build({"AGA$", "GAG$"}, 2);
    EXPECT_EQ(contractFaults(root, 2), "");
    struct Expected {
        const char* path;
        std::vector<int> ends;
        std::vector<int> colours;
    };
    const Expected leaves[] = {{"AG", {3, 2}, {0, 1}},
                               {"GA", {2, 3}, {0, 1}},
                               {"$", {4, 4}, {0, 1}},
                               {"A$", {4}, {0}},
                               {"G$", {4}, {1}}};
    for (const Expected& e : leaves) {
        void* leaf = walk(root, e.path);
        ASSERT_TRUE(leaf != nullptr && isFeuille(leaf)) << e.path;
        EXPECT_EQ(chainOf(static_cast<Feuille*>(leaf)).values, e.ends) << e.path;
        EXPECT_EQ(asSet(members(static_cast<Feuille*>(leaf)->bit_tab)), asSet(e.colours)) << e.path;
    }
    for (const char* path : {"", "A", "G"}) {
        auto* node = static_cast<Noeud*>(walk(root, path));
        ASSERT_FALSE(isFeuille(node)) << path;
        EXPECT_EQ(asSet(members(node->bit_tab)), (std::set<int>{0, 1})) << path;
        EXPECT_EQ(node->nb_seq, 2) << path;
    }
}

TEST_F(ConstructionTest, IdenticalSequenceAddsOnlyCellsAndColours) {
    for (int w : {2, 3, 5, 100}) {
        Noeud* root = build({"GATTACA$"}, w, "ACGT$");
        const int nodes = treeState().Noeud_Alloc.courante->nb_pris;
        const int leaves = treeState().Feuille_Alloc.courante->nb_pris;
        const int cells = treeState().Liste_positions_fin->nb_elements;
        // Same tree state, then the same text again as sequence 1.
        root = build({"GATTACA$", "GATTACA$"}, w, "ACGT$");
        EXPECT_EQ(contractFaults(root, w), "") << w;
        EXPECT_EQ(treeState().Noeud_Alloc.courante->nb_pris, nodes) << w;
        EXPECT_EQ(treeState().Feuille_Alloc.courante->nb_pris, leaves) << w;
        EXPECT_EQ(treeState().Liste_positions_fin->nb_elements, 2 * cells) << w;
    }
}

TEST_F(ConstructionTest, WindowOneGivesOneLeafPerLetterUnderTheRoot) {
    Noeud* root = build({"CAAC$", "GA$", "$"}, 1);
    EXPECT_EQ(contractFaults(root, 1), "");
    EXPECT_EQ(treeState().Noeud_Alloc.courante->nb_pris, 1);
    void* a = childFor(root, 'A');
    ASSERT_TRUE(isFeuille(a));
    // Sequence 1 at end 2, then sequence 0 at ends 3 and 2.
    const Chain chain = chainOf(static_cast<Feuille*>(a));
    EXPECT_EQ(chain.values, (std::vector<int>{2, 3, 2}));
    EXPECT_EQ(chain.crossings, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(chainOf(static_cast<Feuille*>(childFor(root, '$'))).values, (std::vector<int>{1, 3, 5}));
}

TEST_F(ConstructionTest, WindowBeyondTheTextGivesItsFullSuffixTree) {
    Noeud* root = build({"ACGTTGCA$"}, 1000);
    EXPECT_EQ(contractFaults(root, 1000), "");
    // Every suffix has its own leaf; with no repeated pair only single letters branch.
    EXPECT_EQ(treeState().Feuille_Alloc.courante->nb_pris, 9);
}

TEST_F(ConstructionTest, LongUnlimitedWindowNeedsNoRecursion) {
    // A text of 200000 A's: the tree is a chain of 200000 nodes.
    std::string text(200000, 'A');
    text += '$';
    Noeud* root = build({text}, INT32_MAX, "A$");
    int depth = 0;
    for (void* x = root; !isFeuille(x); x = childFor(x, 'A')) ++depth;
    EXPECT_EQ(depth, 200000);
    EXPECT_EQ(root->nb_seq, 1);
    EXPECT_EQ(static_cast<Noeud*>(childFor(childFor(root, 'A'), 'A'))->nb_seq, 1);
}

using ConstructionDeathTest = ConstructionTest;

TEST_F(ConstructionDeathTest, InvalidArgumentsEndTheRunWithStatusMinusOne) {
    using supporttest::exactly;
    static char text[] = "AC$";
    static char bad[] = "AXC$";
    static char empty[] = "";
    static char unended[] = "ACA";
    static char twice[] = "AC$AC$";
    struct Case {
        const char* name;
        void (*run)();
        const char* message;
    };
    const Case cases[] = {
        {"null text", [] { Construction_Arbre(nullptr, 3); },
         "Construction_Arbre : Invalide String\nProgram Abord\n"},
        {"window 0", [] { Construction_Arbre(text, 0); }, "Construction_Arbre: taille fenetre = 0!\n"},
        {"negative window", [] { Construction_Arbre(text, -4); },
         "Construction_Arbre: taille fenetre = 0!\n"},
        {"letter outside the alphabet", [] { Construction_Arbre(bad, 3); },
         "Construction_Arbre : Invalide String\nProgram Abord\n"},
        {"empty text", [] { Construction_Arbre(empty, 3); },
         "Construction_Arbre : Invalide String\nProgram Abord\n"},
        {"no terminator", [] { Construction_Arbre(unended, 3); },
         "Construction_Arbre : Invalide String\nProgram Abord\n"},
        {"terminator inside", [] { AjouteSequence(Construction_Arbre(text, 3), twice, 3); },
         "AjouteSequence : Invalide String\nProgram Abord\n"},
        {"null added text", [] { AjouteSequence(Construction_Arbre(text, 3), nullptr, 3); },
         "AjouteSequence : Invalide String\nProgram Abord\n"},
        {"added window 0", [] { AjouteSequence(Construction_Arbre(text, 3), text, 0); },
         "AjouteSequence: taille fenetre = 0!\n"},
        {"one sequence too many",
         [] { AjouteSequence(AjouteSequence(Construction_Arbre(text, 3), text, 3), text, 3); },
         "AjouteSequence : too many sequences\nProgram Abord\n"},
    };
    for (const Case& c : cases) {
        Init_All("ACGT$", 0, 2);
        EXPECT_EXIT(asProgram([&] { c.run(); }), testing::ExitedWithCode(255), exactly(c.message)) << c.name;
        Free_Arbre();
    }
}

// A tree whose labels no longer spell the words it was built from: the
// lookup results that such a tree gives are reported as a failure.
TEST_F(ConstructionDeathTest, InconsistentTreeIsReportedAsFailure) {
    using supporttest::exactly;
    static char first[] = "AC$";
    static char second[] = "AC$";
    static char third[] = "C$";
    Init_All("ACGT$", 0, 2);
    Noeud* root = Construction_Arbre(first, 2);
    auto* ac = static_cast<Feuille*>(childFor(root, 'A'));
    // The leaf AC now ends after A: its label stops before the word does.
    setLeafEnd(ac, 1);
    EXPECT_EXIT(asProgram([&] { AjouteSequence(root, second, 2); }), testing::ExitedWithCode(255),
                exactly("ERREUR    CAS 2 for sequence 1 and string 0 .. 2 \nAC\n"));
    Free_Arbre();

    Init_All("ACGT$", 0, 2);
    root = Construction_Arbre(first, 2);
    // The leaf $ now reads C$: the last word of C$ is no longer found.
    auto* dollar = static_cast<Feuille*>(childFor(root, '$'));
    dollar->debut = 1 | MARQUE_FEUILLE;
    EXPECT_EXIT(asProgram([&] { AjouteSequence(root, third, 2); }), testing::ExitedWithCode(255),
                exactly("YOUPI II I I I -1 \n"));
}

}  // namespace

namespace {

// The bytes of a colour set, as long as its header says.
std::vector<unsigned char> setBytes(const unsigned char* bt) {
    size_t size = static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB);
    if (isDynamicBitTab(bt)) size = 2 + 2 * static_cast<size_t>(((bt[0] & 0x7F) << 8) | bt[1]);
    return {bt, bt + size};
}

// Counts the nodes below x whose colour set differs, byte for byte, from the
// first child's copied and the others' united into it one by one, or whose
// cached cardinal is wrong; adds the nodes seen to *nodes.
int wrongNodeColours(void* x, int* nodes) {
    if (isFeuille(x)) return 0;
    auto* node = static_cast<Noeud*>(x);
    ++*nodes;
    int wrong = 0;
    BitTab expected = nullptr;
    for (int k = 0; k < treeState().ALPHA_CARD; ++k) {
        void* child = childIn(node, k);
        if (child == nullptr) continue;
        wrong += wrongNodeColours(child, nodes);
        if (expected == nullptr) {
            expected = AllocBitTab();
            CopyBitTab(&expected, colourSet(child));
        } else {
            fusionneBitTab(&expected, colourSet(child));
        }
    }
    if (expected == nullptr) return wrong;
    if (setBytes(node->bit_tab) != setBytes(expected) || node->nb_seq != nbSequenceInBitTab(expected))
        ++wrong;
    FreeBitTab(expected);
    return wrong;
}

// Node colour sets keep the exact bytes of the child-by-child union (form,
// member order, the static form taken where the list overflows) on trees of
// tens to hundreds of texts, where sets of both forms meet; coloured again on
// one thread or on several (the subtrees then shared out among them).
TEST_F(ConstructionTest, NodeColourSetsAreTheChildByChildUnion) {
    std::mt19937 rng(4242);
    const std::string letters = "ACGT";
    for (int round = 0; round < 60; ++round) {
        const int alphabetSize = 2 + static_cast<int>(rng() % 3);
        const int nbSeq = 10 + static_cast<int>(rng() % 300);
        std::vector<std::string> texts;
        for (int k = 0; k < nbSeq; ++k) {
            std::string t;
            const int length = 1 + static_cast<int>(rng() % 30);
            for (int p = 0; p < length; ++p) t += letters[rng() % alphabetSize];
            texts.push_back(t + '$');
        }
        const int w = round % 4 == 0 ? 2147483647 : 2 + static_cast<int>(rng() % 12);
        Noeud* root = build(texts, w, letters.substr(0, alphabetSize) + "$");
        // Most trees are coloured a second time, on 1 to 4 threads: the sets of the first colouring are
        // released and the same ones made again.
        if (round % 5 != 0) UpdateBit_TabForAllTree(root, round % 4 + 1);
        // And some a third time on one thread, which releases the sets the threads carved in their pools.
        if (round % 4 == 2) UpdateBit_TabForAllTree(root, 1);
        int nodes = 0;
        EXPECT_EQ(wrongNodeColours(root, &nodes), 0) << "round " << round << ", " << describe(texts, w);
        EXPECT_GT(nodes, 1);
    }
}

}  // namespace
