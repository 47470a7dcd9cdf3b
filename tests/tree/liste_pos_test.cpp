#include "liste_pos.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "allocateurs.h"
#include "bit_tab.h"
#include "criteres.h"
#include "global_fonctions.h"
#include "memory_batches.h"

namespace {

// Owns a list for the length of a test.
struct OwnedList {
    ListePositions* l;
    explicit OwnedList(int32_t n) : l(Alloc_ListePositions(n)) {}
    ~OwnedList() { Free_ListePositions(l); }
};

TEST(ListePositions, AllocStartsEmptyAndZeroed) {
    OwnedList o(7);
    ASSERT_NE(o.l, nullptr);
    EXPECT_EQ(o.l->nb_elements, 0);
    EXPECT_EQ(o.l->taille, 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(o.l->valeurs[i], 0);
        EXPECT_EQ(o.l->suivants[i], 0);
    }
}

TEST(ListePositions, AppendLinksToTheOldHeadWithTheSequenceMark) {
    OwnedList o(10);
    int32_t head = -1;
    EXPECT_EQ(Ajoute_Position_Liste(o.l, &head, 8, 1), 1);  // first cell: no link, flag ignored
    EXPECT_EQ(head, 0);
    EXPECT_EQ(Ajoute_Position_Liste(o.l, &head, 12, 1), 1);
    EXPECT_EQ(Ajoute_Position_Liste(o.l, &head, 20, 0), 1);
    EXPECT_EQ(head, 2);
    EXPECT_EQ(o.l->nb_elements, 3);
    EXPECT_EQ(getIndiceSuivant(o.l, 0), FIN_CHAINE);
    EXPECT_EQ(getIndiceSuivant(o.l, 1), 0 | MARQUE_CHANGE_SEQ);
    EXPECT_EQ(getIndiceSuivant(o.l, 2), 1);
    EXPECT_EQ(getValue(o.l, 0), 8);
    EXPECT_EQ(getValue(o.l, 2), 20);
    EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, 2), 0);
    EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, 0), 0);

    // A second chain interleaved in the same table stays separate.
    int32_t other = -1;
    Ajoute_Position_Liste(o.l, &other, 5, 0);
    Ajoute_Position_Liste(o.l, &other, 6, 0);
    EXPECT_EQ(other, 4);
    EXPECT_EQ(getIndiceSuivant(o.l, 4), 3);
    EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, 4), 3);
    EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, 2), 0);
}

// The list grows by half its size, at least 50 cells: 3, 53, 103, 154, 231.
TEST(ListePositions, GrowthByHalfKeepsEveryCell) {
    OwnedList o(3);
    std::vector<int32_t> heads(4, -1);
    for (int32_t i = 0; i < 160; ++i) {
        ASSERT_EQ(Ajoute_Position_Liste(o.l, &heads[i % 4], 1000 + i, i % 8 == 0), 1);
        const int32_t expected_size = i < 3 ? 3 : i < 53 ? 53 : i < 103 ? 103 : i < 154 ? 154 : 231;
        ASSERT_EQ(o.l->taille, expected_size) << "after cell " << i;
    }
    EXPECT_EQ(o.l->taille, 231);
    EXPECT_EQ(o.l->nb_elements, 160);
    for (int32_t i = 0; i < 160; ++i) {
        EXPECT_EQ(getValue(o.l, i), 1000 + i);
        const int32_t link = getIndiceSuivant(o.l, i);
        if (i < 4) {
            EXPECT_EQ(link, FIN_CHAINE);
        } else {
            EXPECT_EQ(link & ~MARQUE_CHANGE_SEQ, i - 4) << i;
            EXPECT_EQ((link & MARQUE_CHANGE_SEQ) != 0, i % 8 == 0) << i;
        }
    }
    for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, heads[k]), k);
}

// A list that outgrows the heap moves to ranges of its own and grows there in place: from a small start and
// from a large one, with a supplier making the pages resident ahead of the appends or without one, every
// cell keeps its value and link, and the capacity grows by half as in the heap.
TEST(ListePositions, LargeListsKeepEveryCellAcrossGrowth) {
    constexpr int32_t kCells = 5'000'000;  // 20 MB an array, past the move to ranges at 8 MB
    BatchSupplier supplier;
    BatchSupplier* const before = batchSupplierInUse;
    for (BatchSupplier* using_ : {static_cast<BatchSupplier*>(nullptr), &supplier}) {
        for (const int32_t start : {3, 3'000'000}) {
            SCOPED_TRACE(std::string(using_ != nullptr ? "supplier, " : "no supplier, ") + "start " +
                         std::to_string(start));
            batchSupplierInUse = using_;
            OwnedList o(start);
            std::vector<int32_t> heads(7, -1);
            int32_t expectedSize = start;
            int32_t wrongSize = 0;
            for (int32_t i = 0; i < kCells; ++i) {
                Ajoute_Position_Liste(o.l, &heads[i % 7], i ^ 0x5A5A5A, i % 5 == 0);
                if (i >= expectedSize) expectedSize += std::max(50, expectedSize / 2);
                wrongSize += o.l->taille != expectedSize ? 1 : 0;
            }
            batchSupplierInUse = before;
            EXPECT_EQ(wrongSize, 0);
            EXPECT_NE(o.l->ranges, nullptr);
            int32_t wrongValues = 0;
            int32_t wrongLinks = 0;
            for (int32_t i = 0; i < kCells; ++i) {
                wrongValues += getValue(o.l, i) != (i ^ 0x5A5A5A) ? 1 : 0;
                const int32_t expectedLink =
                    i < 7 ? FIN_CHAINE : (i - 7) | (i % 5 == 0 ? MARQUE_CHANGE_SEQ : 0);
                wrongLinks += getIndiceSuivant(o.l, i) != expectedLink ? 1 : 0;
            }
            EXPECT_EQ(wrongValues, 0);
            EXPECT_EQ(wrongLinks, 0);
            EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, heads[3]), 3);
        }
    }
}

TEST(ListePositions, AccessorErrorCodes) {
    OwnedList o(4);
    int32_t head = -1;
    Ajoute_Position_Liste(o.l, &head, 3, 0);
    Ajoute_Position_Liste(o.l, &head, 9, 0);
    struct Case {
        const ListePositions* list;
        int32_t i;
        int32_t value, link;
    };
    const Case cases[] = {
        {o.l, 0, 3, FIN_CHAINE}, {o.l, 1, 9, 0},   {o.l, 2, -3, -3},
        {o.l, -1, -3, -3},       {o.l, 3, -3, -3}, {o.l, FIN_CHAINE, -3, -3},
        {nullptr, 0, -2, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(getValue(c.list, c.i), c.value) << c.i;
        EXPECT_EQ(getIndiceSuivant(c.list, c.i), c.link) << c.i;
    }
    EXPECT_EQ(ChercheDerniereCelluleDansListe(nullptr, 0), -1);
    EXPECT_EQ(ChercheDerniereCelluleDansListe(o.l, 5), -3);

    setListeValue(o.l, 1, -1);
    EXPECT_EQ(getValue(o.l, 1), -1);
    setListeValue(o.l, 2, 77);  // beyond nb_elements: ignored even though capacity allows it
    EXPECT_EQ(o.l->valeurs[2], 0);
    setListeValue(o.l, -1, 77);
    setListeValue(nullptr, 0, 77);
    EXPECT_EQ(getValue(o.l, 0), 3);

    int32_t untouched = 5;
    EXPECT_EQ(Ajoute_Position_Liste(nullptr, &untouched, 1, 0), -2);
    EXPECT_EQ(untouched, 5);
    Free_ListePositions(nullptr);
}

// A leaf with its occurrence chain built cell by cell as the construction
// would: groups by sequence, newest first, the mark on each change of sequence.
class PrintPositionsTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_list_ = treeState().Liste_positions_fin;
        saved_code_ = spacerCodes().code2Sauts;
        treeState().Liste_positions_fin = nullptr;
        reset();
    }
    void TearDown() override {
        release();
        treeState().Liste_positions_fin = saved_list_;
        spacerCodes().code2Sauts = saved_code_;
    }

    void release() {
        free(leaf_.bit_tab);
        leaf_.bit_tab = nullptr;
        Free_ListePositions(treeState().Liste_positions_fin);
        treeState().Liste_positions_fin = nullptr;
    }
    void reset() {
        release();
        treeState().Liste_positions_fin = Alloc_ListePositions(4);
        leaf_ = {MARQUE_FEUILLE, 0, -1, -3, nullptr};
    }

    // occurrences: (sequence, end) in insertion order (lowest sequence first).
    void buildLeaf(int n, bool staticSet, const std::vector<std::pair<int, int>>& occurrences, int start) {
        reset();
        initBitTab(n);
        leaf_.bit_tab = staticSet ? AllocBitTabStatic() : AllocBitTab();
        int previous = -1;
        for (const auto& [seq, end] : occurrences) {
            appendLeafEnd(&leaf_, end, previous != -1 && previous != seq);
            addBitTabValue(&leaf_.bit_tab, seq);
            previous = seq;
        }
        leaf_.num_seq = previous;
        leaf_.debut = start | MARQUE_FEUILLE;
    }

    std::pair<std::string, int32_t> print(int32_t d, const Criteres* cr, int32_t r) {
        FILE* f = tmpfile();
        EXPECT_NE(f, nullptr);
        const int32_t lines = Print_Positions(f, &leaf_, d, cr, r);
        std::string out;
        rewind(f);
        for (int c; (c = fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
        fclose(f);
        return {out, lines};
    }

    Feuille leaf_{MARQUE_FEUILLE, 0, -1, -3, nullptr};

  private:
    ListePositions* saved_list_ = nullptr;
    int** saved_code_ = nullptr;
};

TEST_F(PrintPositionsTest, SequencesFromHighestDownInBothForms) {
    // Word of length 5 whose leaf edge starts 2 characters below its start
    // (d = 2): ends 8 in sequence 1, then 12 and 20 in sequence 4.
    const std::string expected =
        "Seq     4   Pos    15\n"
        "Seq     4   Pos     7\n"
        "Seq     1   Pos     3\n";
    for (bool staticSet : {false, true}) {
        buildLeaf(100, staticSet, {{1, 8}, {4, 12}, {4, 20}}, 17);
        ASSERT_EQ(isDynamicBitTab(leaf_.bit_tab), !staticSet);
        auto [out, lines] = print(2, nullptr, 0);
        EXPECT_EQ(out, expected) << (staticSet ? "static" : "dynamic");
        EXPECT_EQ(lines, 3);
    }
}

TEST_F(PrintPositionsTest, ManySequencesPrintIdenticallyInEveryForm) {
    // Few sequences keep a built set dynamic; many turn it static half-way.
    std::vector<int> few = {0, 3, 7, 64, 65, 998, 999};
    std::vector<int> many;
    for (int seq = 1; seq < 1000; seq += 9) many.push_back(seq);
    for (const std::vector<int>* sequences : {&few, &many}) {
        std::vector<std::pair<int, int>> occurrences;
        for (int seq : *sequences)
            for (int k = 1; k <= 1 + seq % 3; ++k) occurrences.push_back({seq, 10 * k + 4});
        std::string expected;
        char line[64];
        for (auto it = occurrences.rbegin(); it != occurrences.rend(); ++it) {
            snprintf(line, sizeof line, "Seq %5d   Pos %5d\n", it->first, it->second - 4);
            expected += line;
        }
        for (bool staticSet : {false, true}) {
            // Every occurrence is a word of length 4: the label ends 4 past its start.
            buildLeaf(1000, staticSet, occurrences, occurrences.back().second - 4);
            if (!staticSet) {
                ASSERT_EQ(isDynamicBitTab(leaf_.bit_tab), sequences == &few);
            }
            auto [out, lines] = print(0, nullptr, 0);
            EXPECT_EQ(lines, static_cast<int32_t>(occurrences.size()));
            EXPECT_EQ(out, expected) << sequences->size() << " sequences, static " << staticSet;
        }
    }
}

TEST_F(PrintPositionsTest, SpacerColumns) {
    int row0[] = {2, 0};
    int row1[] = {3, 1};
    int* table[] = {row0, row1};
    spacerCodes().code2Sauts = table;
    buildLeaf(5, false, {{0, 9}, {2, 6}}, 4);  // label length 2
    Criteres cr{};
    struct Case {
        signed char nbbloc;
        bool withCriteria;
        int32_t row;
        const char* expected;
    };
    const Case cases[] = {
        {3, true, 1, "Seq     2   Pos     4\t3 1 \nSeq     0   Pos     7\t3 1 \n"},
        {3, true, 0, "Seq     2   Pos     4\t2 0 \nSeq     0   Pos     7\t2 0 \n"},
        {2, true, 1, "Seq     2   Pos     4\t3 \nSeq     0   Pos     7\t3 \n"},
        {1, true, 1, "Seq     2   Pos     4\nSeq     0   Pos     7\n"},
        {3, false, 1, "Seq     2   Pos     4\nSeq     0   Pos     7\n"},
    };
    for (const Case& c : cases) {
        cr.nbbloc = c.nbbloc;
        auto [out, lines] = print(0, c.withCriteria ? &cr : nullptr, c.row);
        EXPECT_EQ(out, c.expected) << int(c.nbbloc) << " row " << c.row;
        EXPECT_EQ(lines, 2);
    }
}

// A chain of many lines reaches the stream in several pieces, and long spacer columns or wide positions
// do not fit the few bytes a line's parts are copied by: the text must still be printf's, line for line.
TEST_F(PrintPositionsTest, LongChainsWideValuesAndLongSpacerColumns) {
    constexpr int kSpacers = 12;
    int row[kSpacers];
    for (int j = 0; j < kSpacers; ++j) row[j] = 100 + 77 * j;
    int* table[] = {row};
    spacerCodes().code2Sauts = table;
    std::vector<std::pair<int, int>> occurrences;
    for (int seq = 0; seq < 1000; ++seq)
        for (int k = 0; k < 3; ++k) occurrences.push_back({seq, 99990 + 7 * k + 13 * seq});
    buildLeaf(1000, false, occurrences, occurrences.back().second - 4);
    Criteres cr{};
    for (signed char nbbloc : {1, 2, kSpacers + 1}) {
        cr.nbbloc = nbbloc;
        std::string end = nbbloc == 1 ? "" : "\t";
        for (int j = 0; j + 1 < nbbloc; ++j) end += std::to_string(row[j]) + " ";
        std::string expected;
        char line[64];
        for (auto it = occurrences.rbegin(); it != occurrences.rend(); ++it) {
            snprintf(line, sizeof line, "Seq %5d   Pos %5d", it->first, it->second - 4);
            expected += line + end + "\n";
        }
        auto [out, lines] = print(0, &cr, 0);
        EXPECT_EQ(lines, static_cast<int32_t>(occurrences.size()));
        EXPECT_EQ(out, expected) << int(nbbloc) << " boxes";
    }
}

TEST_F(PrintPositionsTest, SingleOccurrenceAndEmptyChain) {
    initBitTab(3);
    leaf_.bit_tab = AllocBitTab();
    auto [none, zero] = print(0, nullptr, 0);  // dernier_indice still -1
    EXPECT_EQ(none, "");
    EXPECT_EQ(zero, 0);
    leaf_.dernier_indice = FIN_CHAINE;
    EXPECT_EQ(print(0, nullptr, 0).second, 0);

    buildLeaf(3, false, {{2, 1}}, 0);
    auto [out, lines] = print(0, nullptr, 0);
    EXPECT_EQ(out, "Seq     2   Pos     0\n");
    EXPECT_EQ(lines, 1);
}

// The occurrence lines are formatted by hand; each value must come out as
// printf would write it, padded or not, signed or not.
TEST(PrintPositionsFormatter, MatchesPrintfDecimalAndFiveColumns) {
    const int32_t values[] = {0,      1,      9,      10,      42,      9999,    10000,       99999,
                              100000, 123456, 999999, 1000000, INT_MAX, -1,      -9,          -10,
                              -999,   -1000,  -9999,  -10000,  -99999,  -100000, INT_MIN + 1, INT_MIN};
    for (int32_t v : values) {
        char expected[32];
        char got[32];
        snprintf(expected, sizeof expected, "%d", v);
        char* end = appendDecimal(got, v);
        EXPECT_EQ(std::string(got, end), expected) << "%d of " << v;
        snprintf(expected, sizeof expected, "%5d", v);
        end = appendDecimalWidth(got, v, 5);
        EXPECT_EQ(std::string(got, end), expected) << "%5d of " << v;
    }
}

}  // namespace
