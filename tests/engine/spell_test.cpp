// In-process runs of the spelling engine for the situations that the motbox driver never lets happen:
// palindrome declarations that the driver refuses, and a tree shallower than the models the criteria
// allow.  The engine must stay within its arrays and the tree there (the sanitizer build checks it).
#include "spell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "alphabet.h"
#include "construction.h"
#include "criteres.h"
#include "global_fonctions.h"
#include "liste_pos.h"

namespace {

class SpellEngine : public testing::Test {
  protected:
    Criteres cr{};
    std::vector<char*> texts;

    // Loads the texts and the alphabet and gives the criteria their per-box arrays, as the driver does.
    void load(std::string alphabet, const std::vector<std::string>& seqs, int nbbloc) {
        for (const std::string& s : seqs) {
            char* t = static_cast<char*>(malloc(s.size() + 2));
            memcpy(t, s.c_str(), s.size());
            memcpy(t + s.size(), "$", 2);
            texts.push_back(t);
        }
        FILE* a = fmemopen(alphabet.data(), alphabet.size(), "r");
        initAlphabet();
        chargeAlphabet(a, texts.data(), static_cast<int>(texts.size()));
        fclose(a);
        cr.nbbloc = static_cast<signed char>(nbbloc);
        allocBloc(&cr, nbbloc);
        setCompoPal(&cr, nullptr, 0);
        transAlphMod(1);  // complements for the palindrome cases
    }

    // Builds the tree truncated at `window` and returns the result records written by doSpell.  A
    // non-zero `nodeCount` replaces every node's cached number of sequences, which the walk may only use
    // as an upper bound.
    std::string spell(int window, int32_t nodeCount = 0, int threads = 1) {
        const int n = static_cast<int>(texts.size());
        Init_All(alphabetTables().alphSeq, 0, n);
        Noeud* root = Construction_Arbre(texts[0], window);
        for (int i = 1; i < n; ++i) root = AjouteSequence(root, texts[i], window);
        UpdateBit_TabForAllTree(root);
        if (nodeCount != 0) setNodeCounts(root, nodeCount);
        if (cr.nbbloc >= 2) initTabSauts(&cr);
        FILE* f = tmpfile();
        doSpell(cr, root, threads, SpellOutput{{f}});
        std::string out(static_cast<size_t>(ftell(f)), '\0');
        rewind(f);
        EXPECT_EQ(fread(out.data(), 1, out.size(), f), out.size());
        fclose(f);
        releaseTree();
        return out;
    }

    static void setNodeCounts(void* record, int32_t count) {
        if (record == nullptr || isFeuille(record)) return;
        auto* node = static_cast<Noeud*>(record);
        node->nb_seq = count;
        for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k) setNodeCounts(childIn(node, k), count);
    }

    void releaseTree() {
        Free_Arbre();
        Free_ListePositions(treeState().Liste_positions_fin);
        treeState().Liste_positions_fin = nullptr;
        Free_All_Liste_Cell();
        if (cr.nbbloc < 2 || spacerCodes().code2Sauts == nullptr) return;
        int rows = 1;
        for (int b = 0; b + 1 < cr.nbbloc; ++b) rows *= cr.sauts[b].max - cr.sauts[b].min + 1;
        for (int r = 0; r < rows; ++r) free(spacerCodes().code2Sauts[r]);
        free(spacerCodes().code2Sauts);
        spacerCodes().code2Sauts = nullptr;
    }

    void TearDown() override {
        for (char* t : texts) free(t);
        for (int m = 0; m <= alphabetTables().nbSymbMod; ++m) {
            free(alphabetTables().nummod2str[m]);
            alphabetTables().nummod2str[m] = nullptr;
            if (m < alphabetTables().nbSymbMod) free(alphabetTables().alphMod[m]);
        }
        for (int b = 0; b < cr.nbbloc; ++b) free(cr.compobloc[b]);
        for (void* p :
             {static_cast<void*>(cr.compobloc), static_cast<void*>(cr.errbloc), static_cast<void*>(cr.compo),
              static_cast<void*>(cr.bornesbloc), static_cast<void*>(cr.sauts),
              static_cast<void*>(cr.flagcompobloc), static_cast<void*>(cr.palbloc)})
            free(p);
    }

    void twoBoxes() {
        cr.minlong = 2;
        cr.maxlong = 0;
        cr.maxerr = 0;
        cr.quorum = 2;
        for (int b = 0; b < 2; ++b) {
            cr.bornesbloc[b] = {1, 3};
            cr.errbloc[b] = 0;
        }
        cr.sauts[0] = {0, 2};
    }
};

const std::string kDna = "Nucleotide\nA\nC\nG\nT\n";
const std::vector<std::string> kTexts = {"ACGTTGCAAC", "TGCAACGTAG", "CAACGTTGCA"};

std::vector<std::string> modelLines(const std::string& records) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = records.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = records.substr(start, end - start);
        if (line.find(' ') != std::string::npos && line.rfind("Seq ", 0) != 0) lines.push_back(line);
    }
    return lines;
}

// A partner that is the box itself or a later box has no start or length on the current path: such a
// declaration is treated as no partner at all.
TEST_F(SpellEngine, PartnerThatIsNotAnEarlierBoxIsIgnored) {
    load(kDna, kTexts, 2);
    twoBoxes();
    const std::string plain = spell(100);
    ASSERT_FALSE(plain.empty());

    cr.flagpal = 1;
    struct Declaration {
        int box0, box1;
    };
    for (const Declaration& d : {Declaration{-1, 1}, Declaration{1, -1}, Declaration{1, 1}}) {
        cr.palbloc[0] = d.box0;
        cr.palbloc[1] = d.box1;
        EXPECT_EQ(spell(100), plain) << "partners " << d.box0 << " " << d.box1;
    }

    // A real declaration does restrict the models: box 2 spells box 1 reversed and complemented.
    cr.palbloc[0] = -1;
    cr.palbloc[1] = 0;
    const std::vector<std::string> models = modelLines(spell(100));
    ASSERT_FALSE(models.empty());
    EXPECT_NE(models, modelLines(plain));
    for (const std::string& m : models) {
        const std::string name = m.substr(0, m.find(' '));
        const std::string box1 = name.substr(0, name.find('_')), box2 = name.substr(name.find('_') + 1);
        std::string mirrored(box1.rbegin(), box1.rend());
        for (char& c : mirrored) c = "TGCA"[std::string("ACGT").find(c)];
        EXPECT_EQ(box2, mirrored) << m;
    }
}

// A spacer cannot be shorter than nothing: a negative minimum spells as 0.  Tasks that find no model open
// no stream, and the tasks of a parallel walk write what the walk on one thread writes.
TEST_F(SpellEngine, NegativeSpacerMinimumCountsFromZeroOnAnyThreadCount) {
    load(kDna, kTexts, 2);
    twoBoxes();
    const std::string fromZero = spell(100);
    ASSERT_FALSE(fromZero.empty());
    for (int low : {-1, -5}) {
        cr.sauts[0] = {low, 2};
        EXPECT_EQ(spell(100), fromZero) << "minimum " << low;
    }
    cr.sauts[0] = {0, 2};
    cr.quorum = 3;  // fewer models: most tasks write nothing
    const std::string oneThread = spell(100);
    for (int threads : {2, 3}) EXPECT_EQ(spell(100, 0, threads), oneThread) << threads << " threads";
}

// A single-box run has no box lengths at all: a palindrome declaration there is ignored.
TEST_F(SpellEngine, PalindromeInASingleBoxRunIsIgnored) {
    load(kDna, kTexts, 1);
    cr.minlong = 2;
    cr.maxlong = 4;
    cr.maxerr = 0;
    cr.quorum = 2;
    const std::string plain = spell(4);
    ASSERT_FALSE(plain.empty());
    cr.flagpal = 1;
    cr.palbloc[0] = 0;
    EXPECT_EQ(spell(4), plain);
}

// A tree cut shallower than the models the criteria allow ends some words at the very end of a leaf;
// such an occurrence gives no candidate, so the walk stops there as if the length limit were reached.
TEST_F(SpellEngine, OccurrenceAtTheEndOfALeafGivesNoCandidate) {
    load(kDna, kTexts, 1);
    cr.minlong = 1;
    cr.maxerr = 0;
    cr.quorum = 2;
    cr.maxlong = 0;
    const std::vector<std::string> cut = modelLines(spell(3));
    cr.maxlong = 3;
    const std::vector<std::string> limited = modelLines(spell(100));
    ASSERT_FALSE(limited.empty());
    EXPECT_EQ(cut, limited);
}

// The cheap quorum bound adds up the cached counts of every new occurrence; however large they are, it
// may only let more candidates through to the exact count, never fewer, so the models do not change.
void expectSameModelsWithLargeNodeCounts(const std::string& exact,
                                         const std::function<std::string(int32_t)>& spellWith) {
    ASSERT_FALSE(modelLines(exact).empty());
    for (int32_t count : {INT32_MAX, INT32_MAX / 2 + 1, INT32_MAX / 3 + 1})
        EXPECT_EQ(spellWith(count), exact) << "node count " << count;
}

TEST_F(SpellEngine, QuorumBoundDoesNotOverflowInOneBox) {
    load(kDna + "AG\nCT\n", kTexts, 1);
    cr.minlong = 2;
    cr.maxlong = 4;
    cr.maxerr = 1;
    cr.quorum = 3;
    expectSameModelsWithLargeNodeCounts(spell(4), [&](int32_t count) { return spell(4, count); });
}

TEST_F(SpellEngine, QuorumBoundDoesNotOverflowAtABoxChange) {
    load(kDna + "AG\nCT\n", kTexts, 2);
    twoBoxes();
    cr.maxerr = 1;
    cr.quorum = 3;
    cr.bornesbloc[0] = {1, 2};
    cr.bornesbloc[1] = {1, 2};
    expectSameModelsWithLargeNodeCounts(spell(100), [&](int32_t count) { return spell(100, count); });
}

}  // namespace
