#include "pile_occ.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "allocateurs.h"
#include "alphabet.h"
#include "build_traits.h"
#include "criteres.h"
#include "global_fonctions.h"
#include "liste_pos.h"

namespace {

struct OwnedStack {
    PileOcc* p = creePileOcc();
    ~OwnedStack() { liberePileOcc(p); }
};

// Distinct, recognisable fields for the i-th pushed occurrence.
Noeud* fakeNode(int i) {
    return reinterpret_cast<Noeud*>(0x1000 + 16 * static_cast<intptr_t>(i));
}

void pushNumbered(PileOcc* p, int i) {
    ajouteOcc2Pile(p, fakeNode(i), i % 7, i, i + 1, i + 2, i + 3, i + 4);
}

bool isDummy(const Occ& o) {
    return o.noeudpere == nullptr && o.pos == -1 && o.nberr == -1 && o.longsaut == -1 && o.nberrbloc == -1 &&
           o.codesaut == -1 && o.lettre == -1;
}

TEST(PileOcc, NewStackHoldsOnlyItsDummy) {
    static_assert(kCarteGrowth == 100, "motbox grows the level map by 100 entries");
    OwnedStack s;
    EXPECT_EQ(s.p->nbocc, 1u);
    EXPECT_EQ(s.p->nbcarte, 1u);
    EXPECT_EQ(s.p->carte[0], 0);
    EXPECT_EQ(s.p->taille, 2000);
    EXPECT_EQ(s.p->taillecarte, kCarteGrowth);
    EXPECT_TRUE(isDummy(s.p->occ[0]));
    EXPECT_EQ(getPrecDummy(s.p), 0);

    OwnedStack dest;
    copieLastOcc(dest.p, s.p);  // the top level of a new stack is empty
    EXPECT_EQ(dest.p->nbocc, 1u);
}

TEST(PileOcc, AjouteOcc2PileStoresFieldsDespiteTheArgumentOrder) {
    OwnedStack s;
    Occ* o = ajouteOcc2Pile(s.p, fakeNode(1), /*lettre*/ 2, /*pos*/ 3, /*nberr*/ 4, /*nberrbloc*/ 5,
                            /*longsaut*/ 6, /*codesaut*/ 7);
    EXPECT_EQ(o, &s.p->occ[1]);
    EXPECT_EQ(o->noeudpere, fakeNode(1));
    EXPECT_EQ(o->lettre, 2);
    EXPECT_EQ(o->pos, 3);
    EXPECT_EQ(o->nberr, 4);
    EXPECT_EQ(o->nberrbloc, 5);
    EXPECT_EQ(o->longsaut, 6);
    EXPECT_EQ(o->codesaut, 7);
}

TEST(PileOcc, EntryNumber2001GrowsTheArrayBy2000) {
    OwnedStack s;
    for (int i = 1; i < 2000; ++i) pushNumbered(s.p, i);
    EXPECT_EQ(s.p->nbocc, 2000u);
    EXPECT_EQ(s.p->taille, 2000);
    pushNumbered(s.p, 2000);
    EXPECT_EQ(s.p->taille, 4000);
    for (int i = 1; i <= 2000; ++i) ASSERT_EQ(s.p->occ[i].pos, i);
    EXPECT_TRUE(isDummy(s.p->occ[0]));
}

TEST(PileOcc, MapEntryKPlus1GrowsTheMapByK) {
    OwnedStack s;
    for (int level = 1; level < kCarteGrowth; ++level) {
        pushNumbered(s.p, level);
        ajouteDummy(s.p);
    }
    EXPECT_EQ(s.p->nbcarte, static_cast<uint32_t>(kCarteGrowth));
    EXPECT_EQ(s.p->taillecarte, kCarteGrowth);
    pushNumbered(s.p, 0);
    Occ* dummy = ajouteDummy(s.p);
    EXPECT_TRUE(isDummy(*dummy));
    EXPECT_EQ(s.p->taillecarte, 2 * kCarteGrowth);
    EXPECT_EQ(s.p->nbcarte, static_cast<uint32_t>(kCarteGrowth + 1));
    // Every level opens with its dummy, one occurrence above the previous dummy.
    for (uint32_t i = 0; i < s.p->nbcarte; ++i) {
        ASSERT_EQ(s.p->carte[i], static_cast<int32_t>(2 * i)) << i;
        ASSERT_TRUE(isDummy(s.p->occ[s.p->carte[i]]));
    }
}

TEST(PileOcc, DepileRecPopsExactlyOneLevel) {
    OwnedStack s;
    pushNumbered(s.p, 1);
    pushNumbered(s.p, 2);
    const uint32_t nbocc = s.p->nbocc;
    ajouteDummy(s.p);
    EXPECT_EQ(getPrecDummy(s.p), 3);
    pushNumbered(s.p, 3);
    EXPECT_EQ(depileRec(s.p), nbocc);
    EXPECT_EQ(s.p->nbcarte, 1u);
    EXPECT_EQ(s.p->occ[2].pos, 2);

    ajouteDummy(s.p);
    EXPECT_EQ(depileRec(s.p), nbocc);  // a dummy alone is undone exactly

    EXPECT_EQ(depileRec(s.p), 0u);  // the base level: nothing left, not even the dummy
    EXPECT_EQ(s.p->nbcarte, 0u);
    EXPECT_EQ(depileRec(s.p), 0u);  // an empty map keeps everything at 0
    EXPECT_EQ(s.p->nbcarte, 0u);
}

TEST(PileOcc, VidePileRestoresTheNewShapeAndKeepsCapacity) {
    OwnedStack s;
    for (int i = 1; i <= 2500; ++i) pushNumbered(s.p, i);
    ajouteDummy(s.p);
    ajouteDummy(s.p);
    videPile(s.p);
    EXPECT_EQ(s.p->nbocc, 1u);
    EXPECT_EQ(s.p->nbcarte, 1u);
    EXPECT_EQ(s.p->carte[0], 0);
    EXPECT_TRUE(isDummy(s.p->occ[0]));
    EXPECT_EQ(s.p->taille, 4000);

    // A map of capacity 0 is given K entries first.
    free(s.p->carte);
    s.p->carte = nullptr;
    s.p->taillecarte = 0;
    videPile(s.p);
    EXPECT_EQ(s.p->taillecarte, kCarteGrowth);
    EXPECT_EQ(s.p->nbcarte, 1u);
    EXPECT_EQ(s.p->carte[0], 0);
}

TEST(PileOcc, CopieLastOccCopiesTheTopLevelOnly) {
    OwnedStack source, dest;
    pushNumbered(source.p, 1);  // level 0, not copied
    ajouteDummy(source.p);
    for (int i = 2; i <= 4; ++i) pushNumbered(source.p, i);
    pushNumbered(dest.p, 9);
    copieLastOcc(dest.p, source.p);
    ASSERT_EQ(dest.p->nbocc, 5u);
    EXPECT_EQ(dest.p->occ[1].pos, 9);
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(dest.p->occ[i].pos, i);
    EXPECT_EQ(dest.p->nbcarte, 1u);  // dest's map is unchanged
    EXPECT_EQ(source.p->nbocc, 6u);
}

// Block copies take the needed count up to a multiple of 2000 (an exact multiple is kept).
TEST(PileOcc, BlockCopyCapacities) {
    struct Case {
        int destEntries;     // pushed on dest after its dummy
        int sourceEntries;   // pushed on source after its dummy
        int copyTaille;      // dest capacity after copieLastOcc
        int transferTaille;  // dest capacity after transferePile2Pile (the source's dummy moves too)
    };
    const Case cases[] = {
        {0, 1998, 2000, 2000},                            // needs 1999 / 2000
        {0, 1999, 2000, 4000},                            // needs 2000 exactly / 2001
        {0, 2000, 4000, 4000},                            // needs 2001 / 2002
        {1499, 2600, 6000, 6000}, {0, 3999, 4000, 6000},  // needs 4000 exactly / 4001
    };
    for (const Case& c : cases) {
        OwnedStack source, copyDest, transferDest;
        for (int i = 0; i < c.sourceEntries; ++i) pushNumbered(source.p, i);
        for (int i = 0; i < c.destEntries; ++i) {
            pushNumbered(copyDest.p, i);
            pushNumbered(transferDest.p, i);
        }
        copieLastOcc(copyDest.p, source.p);
        EXPECT_EQ(copyDest.p->nbocc, static_cast<uint32_t>(1 + c.destEntries + c.sourceEntries));
        EXPECT_EQ(copyDest.p->taille, c.copyTaille) << c.destEntries << "+" << c.sourceEntries;

        const uint32_t moved = source.p->nbocc;
        transferePile2Pile(transferDest.p, source.p);
        const uint32_t total = 1 + c.destEntries + moved;
        EXPECT_EQ(transferDest.p->nbocc, total);
        EXPECT_EQ(transferDest.p->taille, c.transferTaille) << c.destEntries << "+" << c.sourceEntries;
        EXPECT_GE(static_cast<uint32_t>(transferDest.p->taille), total);
        // The moved block keeps its order, dummies included.
        EXPECT_TRUE(isDummy(transferDest.p->occ[1 + c.destEntries]));
        EXPECT_EQ(transferDest.p->occ[total - 1].pos, c.sourceEntries - 1);
    }
}

TEST(PileOcc, TransferMovesEverythingAndEmptiesTheSource) {
    OwnedStack source, dest;
    videPile(source.p);
    for (int i = 1; i <= 3; ++i) pushNumbered(source.p, i);
    ajouteDummy(dest.p);
    transferePile2Pile(dest.p, source.p);
    EXPECT_EQ(dest.p->nbocc, 2u + 4u);  // own dummy, new level's dummy, source's dummy and 3 entries
    EXPECT_EQ(dest.p->nbcarte, 2u);
    EXPECT_TRUE(isDummy(dest.p->occ[2]));
    EXPECT_EQ(dest.p->occ[5].pos, 3);
    EXPECT_EQ(source.p->nbocc, 0u);
    EXPECT_EQ(source.p->nbcarte, 1u);

    transferePile2Pile(dest.p, source.p);  // an empty source changes nothing
    EXPECT_EQ(dest.p->nbocc, 6u);
    copieLastOcc(dest.p, source.p);
    EXPECT_EQ(dest.p->nbocc, 6u);
}

TEST(PileOcc, InitialOccurrenceStandsAtTheRoot) {
    const int saved = alphabetTables().carseq2num['$'];
    alphabetTables().carseq2num['$'] = 4;
    OwnedStack s;
    ajouteInitOcc2Pile(s.p, fakeNode(3));
    const Occ& o = s.p->occ[1];
    EXPECT_EQ(o.noeudpere, fakeNode(3));
    EXPECT_EQ(o.pos, 1);
    EXPECT_EQ(o.nberr, 0);
    EXPECT_EQ(o.nberrbloc, 0);
    EXPECT_EQ(o.longsaut, 0);
    EXPECT_EQ(o.codesaut, 0);
    EXPECT_EQ(o.lettre, 4);
    alphabetTables().carseq2num['$'] = saved;
}

// Suffix tree of the one text "ACA$" built by hand (letters A=0, C=1, $=2):
//   root -A-> node [0,1) -C-> leaf "CA$" (start 0), -$-> leaf "$" (start 2)
//   root -C-> leaf "CA$" (start 1),  root -$-> leaf "$" (start 3)
class OccurrenceWalks : public testing::Test {
  protected:
    char text0[5] = "ACA$";
    Noeud* root = nullptr;
    Noeud* nodeA = nullptr;
    Criteres single{};
    Criteres twoBoxes{};
    int row0[1] = {1};
    int* rows[1] = {row0};
    int** savedCode2Sauts = nullptr;
    int savedNbSymbSeq = 0;

    Feuille* leaf(int32_t start, int32_t end) {
        Feuille* f = Alloc_Feuille();
        f->debut = start | MARQUE_FEUILLE;
        appendLeafEnd(f, end, 0);
        return f;
    }

    void SetUp() override {
        Init_All("AC$", 0, 1);
        savedNbSymbSeq = alphabetTables().nbSymbSeq;
        alphabetTables().nbSymbSeq = 2;
        treeState().Sequence[0] = text0;
        treeState().Liste_positions_fin = Alloc_ListePositions(10);
        root = Alloc_Noeud();
        nodeA = Alloc_Noeud();
        nodeA->fin = 1;
        Ajoute_Fils_Au_Noeud(root, nodeA);
        Ajoute_Fils_Au_Noeud(nodeA, leaf(1, 4));
        Ajoute_Fils_Au_Noeud(nodeA, leaf(3, 4));
        Ajoute_Fils_Au_Noeud(root, leaf(1, 4));
        Ajoute_Fils_Au_Noeud(root, leaf(3, 4));
        single.nbbloc = 1;
        twoBoxes.nbbloc = 2;
        savedCode2Sauts = spacerCodes().code2Sauts;
        spacerCodes().code2Sauts = rows;
    }

    void TearDown() override {
        spacerCodes().code2Sauts = savedCode2Sauts;
        alphabetTables().nbSymbSeq = savedNbSymbSeq;
        Free_Arbre();
        Free_ListePositions(treeState().Liste_positions_fin);
        treeState().Liste_positions_fin = nullptr;
    }

    template <typename Write>
    static std::string captured(Write write) {
        FILE* tmp = tmpfile();
        write(tmp);
        std::string out(static_cast<size_t>(ftell(tmp)), '\0');
        rewind(tmp);
        EXPECT_EQ(fread(out.data(), 1, out.size(), tmp), out.size());
        fclose(tmp);
        return out;
    }
};

TEST_F(OccurrenceWalks, TopLevelNewestFirstThroughEverySlotWithCountLine) {
    OwnedStack s;
    ajouteOcc2Pile(s.p, root, 2, 1, 0, 0, 0, 0);  // "$" below the level's dummy: never printed
    ajouteDummy(s.p);
    ajouteOcc2Pile(s.p, root, 0, 1, 0, 0, 0, 0);  // "A" at the node: positions 0, then 2 through "$"
    ajouteOcc2Pile(s.p, root, 1, 1, 0, 0, 0, 0);  // "C" on the leaf edge of position 1
    int32_t lines = -1;
    const std::string out = captured([&](FILE* fp) { lines = afficheLastOcc(fp, s.p, 1, &single); });
    EXPECT_EQ(out,
              "Seq     0   Pos     1\n"
              "Seq     0   Pos     0\n"
              "Seq     0   Pos     2\n"
              "3\n");
    EXPECT_EQ(lines, 3);
}

TEST_F(OccurrenceWalks, SpacerLengthsAndLongsautInMultiBoxLines) {
    OwnedStack s;
    // "A", a spacer of 1, then "A": two symbols, longsaut 1, at the end of "ACA" on the leaf edge.
    ajouteOcc2Pile(s.p, nodeA, 1, 2, 0, 0, 1, 0);
    const std::string out = captured([&](FILE* fp) { afficheLastOcc(fp, s.p, 2, &twoBoxes); });
    EXPECT_EQ(out, "Seq     0   Pos     0\t1 \n1\n");
}

TEST_F(OccurrenceWalks, SingleOccurrenceAndSubtreeWalks) {
    Occ atNode{root, 1, 0, 0, 0, 0, 0};
    int32_t lines = -1;
    std::string out = captured([&](FILE* fp) { lines = afficheOcc(fp, &atNode, 1, &single); });
    EXPECT_EQ(out, "Seq     0   Pos     0\nSeq     0   Pos     2\n");  // no count line
    EXPECT_EQ(lines, 2);

    Occ dummy{nullptr, -1, -1, -1, -1, -1, -1};
    out = captured([&](FILE* fp) { lines = afficheOcc(fp, &dummy, 1, &single); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(lines, 0);

    // From the root itself every position of the text is below (the "$" word included).
    out = captured([&](FILE* fp) { lines = recAfficheOcc(fp, root, 0, nullptr, 0); });
    EXPECT_EQ(out,
              "Seq     0   Pos     0\nSeq     0   Pos     2\nSeq     0   Pos     1\nSeq     0   Pos     3\n");
    EXPECT_EQ(lines, 4);
}

TEST_F(OccurrenceWalks, EmptyTopLevelWritesACountOfZero) {
    OwnedStack s;
    const std::string out = captured([&](FILE* fp) { EXPECT_EQ(afficheLastOcc(fp, s.p, 1, &single), 0); });
    EXPECT_EQ(out, "0\n");
}

}  // namespace
