#include "global_fonctions.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "bit_tab.h"
#include "construction.h"
#include "liste_pos.h"

namespace {

class TreeOpsTest : public testing::Test {
  protected:
    void SetUp() override { Init_All("ACGT$", 0, 3); }
    void TearDown() override { Free_Arbre(); }

    // A leaf of sequence seq spelling text[start..end).
    static Feuille* leafOf(int32_t seq, int32_t start, int32_t end) {
        const int32_t saved = treeState().current_sequence;
        treeState().current_sequence = seq;
        Feuille* f = Alloc_Feuille();
        treeState().current_sequence = saved;
        f->debut = start | MARQUE_FEUILLE;
        appendLeafEnd(f, end, 0);
        return f;
    }

    static Noeud* nodeOf(int32_t start, int32_t end) {
        Noeud* n = Alloc_Noeud();
        n->debut = start;
        n->fin = end;
        return n;
    }

    static void* slot(Noeud* n, char c) {
        return childIn(n, treeState().Translation_Table[static_cast<unsigned char>(c)]);
    }

    void useTexts(std::vector<const char*> texts) {
        texts_.clear();
        for (const char* t : texts) texts_.emplace_back(t);
        for (size_t k = 0; k < texts_.size(); ++k) treeState().Sequence[k] = texts_[k].data();
        if (treeState().Liste_positions_fin == nullptr)
            treeState().Liste_positions_fin = Alloc_ListePositions(20);
    }

    std::vector<std::string> texts_;
};

TEST_F(TreeOpsTest, InitAllNumbersTheLettersOfTheAlphabet) {
    struct Case {
        const char* alphabet;
        int flag;
        int card;
        std::vector<std::pair<char, int>> letters;  // character, expected letter number
    };
    const Case cases[] = {
        {"ACGT$", 0, 5, {{'A', 0}, {'C', 1}, {'T', 3}, {'$', 4}, {'N', 255}, {'a', 255}, {'\0', 255}}},
        {"ACGT$", 1, 6, {{'A', 1}, {'$', 5}, {'N', 0}}},
        {"ACA$", 0, 4, {{'A', 2}, {'C', 1}, {'$', 3}}},  // a repeated character keeps its last position
        {"$", 0, 1, {{'$', 0}, {'A', 255}}},
    };
    for (const Case& c : cases) {
        Init_All(c.alphabet, c.flag, 4);
        EXPECT_EQ(treeState().ALPHA_CARD, c.card) << c.alphabet;
        for (auto [ch, letter] : c.letters)
            EXPECT_EQ(treeState().Translation_Table[static_cast<unsigned char>(ch)], letter)
                << c.alphabet << " " << ch;
        EXPECT_EQ(treeState().current_sequence, 0);
        EXPECT_EQ(colourSetStore().NB_SEQUENCE, 4);
        ASSERT_NE(treeState().Sequence, nullptr);
        treeState().Sequence[3] = nullptr;  // room for every sequence
        ASSERT_NE(treeState().Noeud_Alloc.premiere, nullptr);
        EXPECT_EQ(treeState().Noeud_Alloc.premiere->nb_pris, 0);
        Free_Arbre();
    }
}

TEST_F(TreeOpsTest, AjouteFilsHangsAChildByTheLetterOfItsFirstCharacter) {
    useTexts({"GATC$", "TTAG$"});
    Noeud* parent = nodeOf(0, 0);
    Feuille* leaf = leafOf(0, 1, 3);  // "AT"
    Noeud* node = nodeOf(2, 4);       // "TC"
    node->num_seq = 0;
    Ajoute_Fils_Au_Noeud(parent, leaf);
    Ajoute_Fils_Au_Noeud(parent, node);
    EXPECT_EQ(slot(parent, 'A'), leaf);
    EXPECT_EQ(slot(parent, 'T'), node);

    // A later child for the same letter replaces the earlier one; its text is its own sequence's.
    Feuille* other = leafOf(1, 2, 4);  // "AG" in sequence 1
    Ajoute_Fils_Au_Noeud(parent, other);
    EXPECT_EQ(slot(parent, 'A'), other);

    // A leaf as parent, or a missing argument, changes nothing.
    Ajoute_Fils_Au_Noeud(leaf, node);
    Ajoute_Fils_Au_Noeud(nullptr, node);
    Ajoute_Fils_Au_Noeud(parent, nullptr);
    EXPECT_EQ(nbSequenceInBitTab(leaf->bit_tab), 1);  // a leaf read as a node would have its set overwritten
    EXPECT_EQ(slot(parent, 'A'), other);
    EXPECT_EQ(slot(parent, 'T'), node);
    int children = 0;
    for (int k = 0; k < treeState().ALPHA_CARD; ++k) children += parent->fils[k] != kNoRecord;
    EXPECT_EQ(children, 2);
}

TEST_F(TreeOpsTest, AjouteFilsIgnoresAChildOutsideTheAlphabet) {
    useTexts({"GANC$"});
    Noeud* parent = nodeOf(0, 0);
    Ajoute_Fils_Au_Noeud(parent, leafOf(0, 2, 3));  // "N" has no slot
    for (int k = 0; k < treeState().ALPHA_CARD; ++k) EXPECT_EQ(parent->fils[k], kNoRecord);
}

TEST_F(TreeOpsTest, GetChildStartLetterReadsTheCurrentText) {
    useTexts({"GATC$", "TTN$"});
    Noeud* parent = nodeOf(0, 0);
    Feuille* leafT = leafOf(0, 2, 4);
    Ajoute_Fils_Au_Noeud(parent, leafT);
    treeState().current_sequence = 1;
    EXPECT_EQ(Get_Child_Start_Letter(parent, 0), leafT);    // 'T' of TTN$
    EXPECT_EQ(Get_Child_Start_Letter(parent, 3), nullptr);  // '$': no child
    EXPECT_EQ(Get_Child_Start_Letter(nullptr, 0), nullptr);
    EXPECT_EQ(Get_Child_Start_Letter(leafT, 0), nullptr);
    // 'N' is no letter: the answer comes without reading the node, whose
    // missing child array would otherwise be dereferenced.
    Noeud hollow{};
    EXPECT_EQ(Get_Child_Start_Letter(&hollow, 2), nullptr);
}

TEST_F(TreeOpsTest, SegTailleMeasuresClosedAndOpenLabels) {
    useTexts({"GATTACA$"});
    treeState().global_indice = 6;
    Feuille* open = leafOf(0, 2, -1);
    struct Case {
        const void* record;
        int32_t length;
    };
    const Case cases[] = {
        {nodeOf(1, 4), 3}, {nodeOf(3, -1), 3}, {nodeOf(0, 0), 0}, {leafOf(0, 5, 8), 3}, {open, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(seg_taille(c.record), c.length);
    treeState().global_indice = 8;
    EXPECT_EQ(seg_taille(open), 6);
}

// The outcomes of one insertion step, each with what it changes in the tree.
TEST_F(TreeOpsTest, AddFastStringInsertsTheLastCharacterOfAWord) {
    useTexts({"ACAG$", "CAG$"});
    Noeud* root = nodeOf(0, 0);
    Feuille* ac = leafOf(0, 0, 2);  // "AC"
    Ajoute_Fils_Au_Noeud(root, ac);
    int32_t etat = 0;
    void* pere = nullptr;

    // No child for the letter: a new leaf with one cell, hung under the node.
    void* r = Add_Fast_String(root, 1, 2, &etat, &pere);
    EXPECT_EQ(etat, 1);
    EXPECT_EQ(pere, root);
    ASSERT_TRUE(isFeuille(r));
    EXPECT_EQ(labelStart(r), 1);
    EXPECT_EQ(getValue(treeState().Liste_positions_fin, static_cast<Feuille*>(r)->dernier_indice), 2);
    EXPECT_EQ(slot(root, 'C'), r);

    // The last character differs inside an edge: a node splits it.
    r = Add_Fast_String(root, 2, 4, &etat, &pere);  // "AG" against "AC"
    EXPECT_EQ(etat, 3);
    auto* split = static_cast<Noeud*>(pere);
    EXPECT_EQ(slot(root, 'A'), split);
    EXPECT_EQ(split->debut, 0);
    EXPECT_EQ(split->fin, 1);
    EXPECT_EQ(suffixLinkOf(split), root);  // the parent, until the next extension reads it
    EXPECT_EQ(slot(split, 'C'), ac);
    EXPECT_EQ(labelStart(ac), 1);
    EXPECT_EQ(slot(split, 'G'), r);
    EXPECT_EQ(labelStart(r), 3);

    // The word is already there: etat is minus the characters spelled on the last edge.
    r = Add_Fast_String(root, 0, 1, &etat, &pere);
    EXPECT_EQ(etat, -1);
    EXPECT_EQ(r, root);
    const int32_t cells = treeState().Liste_positions_fin->nb_elements;

    // Another sequence's word ending exactly at a leaf records a new occurrence.
    treeState().current_sequence = 1;
    void* ca = slot(root, 'C');
    r = Add_Fast_String(root, 0, 1, &etat, &pere);  // "C" of CAG$ against leaf "C"
    EXPECT_EQ(etat, -1);
    EXPECT_EQ(treeState().Liste_positions_fin->nb_elements, cells + 1);
    auto* leaf = static_cast<Feuille*>(ca);
    EXPECT_EQ(leaf->num_seq, 1);
    EXPECT_EQ(getValue(treeState().Liste_positions_fin, leaf->dernier_indice), 1);
    EXPECT_NE(getIndiceSuivant(treeState().Liste_positions_fin, leaf->dernier_indice) & MARQUE_CHANGE_SEQ, 0);
    EXPECT_EQ(nbSequenceInBitTab(leaf->bit_tab), 2);
    // The same end of the same sequence is not recorded twice.
    Add_Fast_String(root, 0, 1, &etat, &pere);
    EXPECT_EQ(treeState().Liste_positions_fin->nb_elements, cells + 1);
}

// Standard output of f, with every pointer ("0x" and hexadecimal digits) written as P.
template <typename F>
std::string dumpOf(F f) {
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    const std::string raw = testing::internal::GetCapturedStdout();
    std::string masked;
    for (size_t i = 0; i < raw.size();) {
        if (raw.compare(i, 2, "0x") == 0) {
            masked += 'P';
            for (i += 2; i < raw.size() && isxdigit(static_cast<unsigned char>(raw[i])); ++i) {
            }
        } else {
            masked += raw[i++];
        }
    }
    return masked;
}

class DumpTest : public testing::Test {
  protected:
    void TearDown() override { Free_Arbre(); }

    Noeud* build(std::vector<std::string> texts, int w) {
        texts_ = std::move(texts);
        Init_All("ACGT$", 0, static_cast<int32_t>(texts_.size()));
        Noeud* root = Construction_Arbre(texts_[0].data(), w);
        for (size_t k = 1; k < texts_.size(); ++k) root = AjouteSequence(root, texts_[k].data(), w);
        UpdateBit_TabForAllTree(root);
        return root;
    }

    std::vector<std::string> texts_;
};

TEST_F(DumpTest, PrintTreeWritesEveryRecordWithItsChainAndColours) {
    Noeud* root = build({"ACA$"}, 2);
    const std::string expected =
        "Noeud (P): 0->0 (A) [s:0,]{1}\n"
        "       sl : (nil)\n"
        "       fils :\n"
        "\t--> A :Noeud (P): 0->1 (A) [s:0,]{1}\n"
        "\t       sl : P\n"
        "\t       fils :\n"
        "\t\t--> C :Feuille (P): 1->(2,) [d:0,] {1}= (C)\n"
        "\t\t--> $ :Feuille (P): 3->(4,) [d:0,] {1}= ($)\n"
        "\t       fin fils\n"
        "\t--> C :Feuille (P): 1->(3,) [d:0,] {1}= (CA)\n"
        "\t--> $ :Feuille (P): 3->(4,) [d:0,] {1}= ($)\n"
        "       fin fils\n";
    char stats[512];
    snprintf(stats, sizeof stats,
             "nombre de Noeud   (%d + %d) : 2 \nnombre de Feuille (%d)      : 4 \n"
             "nombre de fils              : 5 \nnombre de fils/Noeud        : 2.500000 \n"
             "cardinal de l'alphabet      : 5 \n",
             static_cast<int>(sizeof(Noeud)), static_cast<int>(5 * sizeof(RecordRef)),
             static_cast<int>(sizeof(Feuille)));
    EXPECT_EQ(dumpOf([&] { Print_Tree(root, 1, 0); }), expected);
    EXPECT_EQ(dumpOf([&] { Print_Tree(root, 1, 1); }), expected + stats);
    // Without verbose only the statistics, counted over the whole tree.
    EXPECT_EQ(dumpOf([&] { Print_Tree(root, 0, 1); }), stats);
    EXPECT_EQ(dumpOf([&] { Print_Tree(root, 0, 0); }), "");
}

TEST_F(DumpTest, LeafChainsMarkTheChangeOfSequenceAndOpenEnds) {
    Noeud* root = build({"AGA$", "GAG$"}, 2);
    void* dollar = childIn(root, 4);
    int leaves = 0;
    EXPECT_EQ(dumpOf([&] { Print_Tree_Indent(dollar, nullptr, &leaves, nullptr, nullptr, 1); }),
              "Feuille (P): 3->(4,-,4,) [s:0,1,] {2}= ($)\n");
    // An open end is written as minus the current end and the label runs up to it.
    auto* ag = static_cast<Feuille*>(childIn(static_cast<Noeud*>(childIn(root, 0)), 2));
    setLeafEnd(ag, -1);
    treeState().global_indice = 4;
    EXPECT_EQ(dumpOf([&] { Print_Tree_Indent(ag, nullptr, &leaves, nullptr, nullptr, 1); }),
              "Feuille (P): 2->(-4,-,2,) [s:0,1,] {2}= (G$)\n");
    EXPECT_EQ(leaves, 2);
}

TEST_F(DumpTest, BitTabDebugListsEveryRecordDepthFirst) {
    Noeud* root = build({"ACA$"}, 2);
    int counter = 0;
    EXPECT_EQ(dumpOf([&] { Print_BTTree_Debug(root, &counter); }),
              "1\t\t1\ts:0,\n2\tA\t1\ts:0,\n3\tC\t1\td:0,\n4\t$\t1\td:0,\n5\tCA\t1\td:0,\n6\t$\t1\td:0,\n");
    EXPECT_EQ(counter, 6);
    EXPECT_EQ(dumpOf([&] { Print_BTTree_Debug(nullptr, &counter); }), "");
}

TEST_F(DumpTest, PrintListeWritesEachCellsRecord) {
    Init_All("ACGT$", 0, 1);
    Liste* first = Alloc_Liste();
    Liste* second = Alloc_Liste();
    first->suivant = second;
    first->feuille = first;
    EXPECT_EQ(dumpOf([&] { Print_Liste(first); }), "( P )->( (nil) )->\n");
    EXPECT_EQ(dumpOf([&] { Print_Liste(nullptr); }), "\n");
    Free_Liste(second);
    Free_Liste(first);
}

TEST_F(DumpTest, DeepTreesKeepTheIndentationWithinItsBuffer) {
    // 1500 nested nodes: the indentation stops growing at 999 tabs.
    std::string text(1500, 'A');
    Noeud* root = build({text + "$"}, 5000);
    const std::string dump = dumpOf([&] { Print_Tree(root, 1, 0); });
    const std::string deepest = std::string(999, '\t') + "       fin fils\n";
    EXPECT_NE(dump.find(deepest), std::string::npos);
    EXPECT_EQ(dump.find(std::string(1000, '\t')), std::string::npos);
    EXPECT_EQ(dump.substr(dump.size() - 17), "\n       fin fils\n");
}

}  // namespace
