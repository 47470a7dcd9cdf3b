#include "allocateurs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "bit_tab.h"
#include "liste_pos.h"
#include "memory_batches.h"
#include "record_arena.h"

namespace {

// A pool ready for a run with n sequences and an alphabet of `letters` letters,
// released at the end of each test.
class PoolTest : public testing::Test {
  protected:
    void SetUp() override { start(4, 5); }
    void TearDown() override { Free_Arbre(); }

    static void start(int n, int letters) {
        initBitTab(n);
        treeState().ALPHA_CARD = letters;
        treeState().current_sequence = 0;
        Init_Allocateurs();
    }

    // Bytes of a node slot: the record and its child references, rounded up to 8.
    static uint32_t nodeSlot(int letters) {
        return static_cast<uint32_t>((sizeof(Noeud) + letters * sizeof(RecordRef) + 7) / 8 * 8);
    }
    static int pageCount(const PoolAlloc& pool) {
        int pages = 0;
        for (CelluleAlloc* c = pool.premiere; c != nullptr; c = c->suivante) ++pages;
        return pages;
    }
};

TEST_F(PoolTest, InitOpensOneEmptyPagePerPool) {
    for (const PoolAlloc* pool : {&treeState().Noeud_Alloc, &treeState().Feuille_Alloc}) {
        ASSERT_NE(pool->premiere, nullptr);
        EXPECT_EQ(pool->premiere, pool->courante);
        EXPECT_EQ(pool->premiere->suivante, nullptr);
        EXPECT_EQ(pool->premiere->nb_pris, 0);
    }
    const auto page = static_cast<uint32_t>(getpagesize());
    // A node slot holds the record and its ALPHA_CARD (5) child slots.
    EXPECT_EQ(treeState().Noeud_Alloc.premiere->nb_max, static_cast<int32_t>(page / nodeSlot(5)));
    EXPECT_EQ(treeState().Feuille_Alloc.premiere->nb_max, static_cast<int32_t>(page / sizeof(Feuille)));
    EXPECT_EQ(treeState().FREE_LISTE, nullptr);
}

TEST_F(PoolTest, AllocCellSizesThePageByRecordSize) {
    const auto page = static_cast<uint32_t>(getpagesize());
    for (uint32_t size : {1u, 24u, 48u, 100u, page}) {
        CelluleAlloc* c = Alloc_Alloc_Cell(size);
        EXPECT_EQ(c->nb_max, static_cast<int32_t>(page / size)) << size;
        EXPECT_EQ(c->nb_pris, 0);
        EXPECT_EQ(c->suivante, nullptr);
        ASSERT_NE(c->bloc, nullptr);
        memset(c->bloc, 0xAB, page);  // the whole page is usable
        free(c->bloc);
        free(c);
    }
}

TEST_F(PoolTest, NodesFillAPageContiguouslyThenOpenTheNext) {
    CelluleAlloc* first = treeState().Noeud_Alloc.premiere;
    const int32_t perPage = first->nb_max;
    std::vector<Noeud*> nodes;
    for (int32_t i = 0; i < perPage; ++i) nodes.push_back(Alloc_Noeud());
    for (int32_t i = 0; i < perPage; ++i)
        EXPECT_EQ(static_cast<void*>(nodes[i]), static_cast<char*>(first->bloc) + i * nodeSlot(5));
    EXPECT_EQ(first->nb_pris, perPage);
    EXPECT_EQ(treeState().Noeud_Alloc.courante, first);

    Noeud* next = Alloc_Noeud();
    CelluleAlloc* second = treeState().Noeud_Alloc.courante;
    ASSERT_NE(second, first);
    EXPECT_EQ(first->suivante, second);
    EXPECT_EQ(second->nb_pris, 1);
    EXPECT_EQ(static_cast<void*>(next), second->bloc);
    EXPECT_EQ(treeState().Noeud_Alloc.premiere, first);
}

TEST_F(PoolTest, LeavesFillPagesTheSameWay) {
    const int32_t perPage = treeState().Feuille_Alloc.premiere->nb_max;
    const int total = 3 * perPage + 1;
    std::set<Feuille*> distinct;
    for (int i = 0; i < total; ++i) distinct.insert(Alloc_Feuille());
    EXPECT_EQ(static_cast<int>(distinct.size()), total);
    EXPECT_EQ(pageCount(treeState().Feuille_Alloc), 4);
    EXPECT_EQ(treeState().Feuille_Alloc.courante->nb_pris, 1);
    EXPECT_EQ(pageCount(treeState().Noeud_Alloc), 1);
}

TEST_F(PoolTest, NodeIsInitialised) {
    treeState().current_sequence = 2;
    Noeud* n = Alloc_Noeud();
    EXPECT_EQ(n->debut, 0);
    EXPECT_EQ(n->num_seq, 2);
    EXPECT_EQ(n->fin, 0);
    EXPECT_EQ(n->lien_suffixe, kNoRecord);
    for (int k = 0; k < treeState().ALPHA_CARD; ++k) EXPECT_EQ(n->fils[k], kNoRecord) << k;
    ASSERT_TRUE(isDynamicBitTab(n->bit_tab));
    EXPECT_EQ(nbSequenceInBitTab(n->bit_tab), 0);
    EXPECT_FALSE(isFeuille(n));
}

TEST_F(PoolTest, LeafHoldsTheCurrentSequence) {
    treeState().current_sequence = 3;
    Feuille* f = Alloc_Feuille();
    EXPECT_TRUE(isFeuille(f));
    EXPECT_EQ(f->debut, MARQUE_FEUILLE);
    EXPECT_EQ(labelStart(f), 0);
    EXPECT_EQ(f->num_seq, 3);
    EXPECT_EQ(f->dernier_indice, -1);
    ASSERT_TRUE(isDynamicBitTab(f->bit_tab));
    uint16_t member;
    memcpy(&member, f->bit_tab + 2, 2);
    EXPECT_EQ(f->bit_tab[0], 0x80);
    EXPECT_EQ(f->bit_tab[1], 0x01);
    EXPECT_EQ(member, 3);
}

TEST_F(PoolTest, ListeCellsAreRecycledLastInFirstOut) {
    Liste* a = Alloc_Liste();
    Liste* b = Alloc_Liste();
    ASSERT_NE(a, b);
    EXPECT_EQ(a->suivant, nullptr);
    EXPECT_EQ(a->feuille, nullptr);
    a->feuille = b;
    b->suivant = a;
    Free_Liste(a);
    Free_Liste(b);
    EXPECT_EQ(treeState().FREE_LISTE, b);
    Liste* again = Alloc_Liste();
    EXPECT_EQ(again, b);
    EXPECT_EQ(again->suivant, nullptr);
    EXPECT_EQ(again->feuille, nullptr);
    EXPECT_EQ(treeState().FREE_LISTE, a);
    Liste* last = Alloc_Liste();
    EXPECT_EQ(last, a);
    EXPECT_EQ(last->feuille, nullptr);
    EXPECT_EQ(treeState().FREE_LISTE, nullptr);
    Free_Liste(again);
    Free_Liste(last);
    Free_All_Liste_Cell();
    EXPECT_EQ(treeState().FREE_LISTE, nullptr);
    Liste* fresh = Alloc_Liste();  // a new cell once the free list is empty
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(treeState().FREE_LISTE, nullptr);
    Free_Liste(fresh);  // released with the store in TearDown
}

TEST_F(PoolTest, FreeArbreReleasesEverything) {
    for (int i = 0; i < 500; ++i) {
        Noeud* n = Alloc_Noeud();
        // Colour sets of every size and form must be released with their records.
        for (int s = 0; s < 4; s += 1 + i % 3) addBitTabValue(&n->bit_tab, s);
        treeState().current_sequence = i % 4;
        Alloc_Feuille();
    }
    treeState().Liste_positions_fin = Alloc_ListePositions(10);
    Free_Liste(Alloc_Liste());
    ASSERT_GT(pageCount(treeState().Noeud_Alloc), 1);
    ASSERT_GT(pageCount(treeState().Feuille_Alloc), 1);

    Free_Arbre();
    EXPECT_EQ(treeState().Noeud_Alloc.premiere, nullptr);
    EXPECT_EQ(treeState().Noeud_Alloc.courante, nullptr);
    EXPECT_EQ(treeState().Feuille_Alloc.premiere, nullptr);
    EXPECT_EQ(treeState().Feuille_Alloc.courante, nullptr);
    EXPECT_EQ(treeState().Liste_positions_fin, nullptr);
    EXPECT_EQ(treeState().FREE_LISTE, nullptr);
    Free_Arbre();  // releasing an empty store is harmless
}

TEST_F(PoolTest, RepeatedRunsStartFromFreshPages) {
    // Run after run in one process, with and without an explicit release;
    // the sanitizer build's leak checker verifies nothing is left behind.
    for (int run = 0; run < 20; ++run) {
        if (run % 2 == 0) Free_Arbre();
        start(3 + run, 2 + run % 7);
        for (PoolAlloc* pool : {&treeState().Noeud_Alloc, &treeState().Feuille_Alloc}) {
            ASSERT_NE(pool->premiere, nullptr);
            EXPECT_EQ(pool->premiere, pool->courante);
            EXPECT_EQ(pool->premiere->nb_pris, 0) << "run " << run;
            EXPECT_EQ(pool->premiere->suivante, nullptr) << "run " << run;
        }
        for (int i = 0; i < 300; ++i) {
            Noeud* n = Alloc_Noeud();
            setChild(n, treeState().ALPHA_CARD - 1, n);  // every slot of this run's alphabet is usable
            Alloc_Feuille();
        }
        treeState().Liste_positions_fin = Alloc_ListePositions(5);
    }
}

TEST_F(PoolTest, AllocationAfterReleaseOpensANewPool) {
    Free_Arbre();
    Noeud* n = Alloc_Noeud();
    Feuille* f = Alloc_Feuille();
    ASSERT_NE(treeState().Noeud_Alloc.premiere, nullptr);
    EXPECT_EQ(static_cast<void*>(n), treeState().Noeud_Alloc.premiere->bloc);
    EXPECT_EQ(static_cast<void*>(f), treeState().Feuille_Alloc.premiere->bloc);
}

}  // namespace

namespace {

// Child arrays live in the node slots: each node's array follows its record,
// no two overlap, and an alphabet changed mid-run opens a page of the new size.
TEST_F(PoolTest, ChildArraysFollowTheirNodeAndNeverOverlap) {
    for (int letters : {1, 5, 21, 3}) {
        treeState().ALPHA_CARD = letters;
        std::vector<Noeud*> nodes;
        for (int i = 0; i < 200; ++i) nodes.push_back(Alloc_Noeud());
        EXPECT_EQ(treeState().Noeud_Alloc.courante->taille_case, nodeSlot(letters));
        std::set<RecordRef*> seen;
        for (Noeud* n : nodes) {
            EXPECT_EQ(reinterpret_cast<char*>(n->fils), reinterpret_cast<char*>(n) + sizeof(Noeud));
            for (int k = 0; k < letters; ++k) {
                EXPECT_EQ(n->fils[k], kNoRecord);
                EXPECT_TRUE(seen.insert(&n->fils[k]).second);
            }
            for (int k = 0; k < letters; ++k) setChild(n, k, n);  // writes land in n's own slot only
        }
        for (Noeud* n : nodes) {
            EXPECT_EQ(n->lien_suffixe, kNoRecord);
            EXPECT_TRUE(isDynamicBitTab(n->bit_tab));
            for (int k = 0; k < letters; ++k) EXPECT_EQ(childIn(n, k), n);
        }
    }
}

}  // namespace

namespace {

// Both pools take their pages from the tree's record range, in small steps first and 2 MB ones once the
// range is large: past steps of both kinds, every page still holds getpagesize() / slot records laid out
// one after the other, no two pages overlap, no page owns a block, every record (of either pool) is named
// by a reference that leads back to it, and Free_Arbre releases it all (the sanitizer build checks the
// frees).
TEST_F(PoolTest, PagesOfTheRecordRangeStayWholeAndDistinct) {
    const auto page = static_cast<uintptr_t>(getpagesize());
    const uint32_t slot = nodeSlot(5);
    std::vector<Noeud*> nodes;
    for (int i = 0; i < 140000; ++i) nodes.push_back(Alloc_Noeud());  // about 12 MB
    std::vector<Feuille*> leaves;
    for (int i = 0; i < 1000; ++i) leaves.push_back(Alloc_Feuille());

    std::vector<uintptr_t> starts;
    int owners = 0;
    int32_t records = 0;
    for (CelluleAlloc* c = treeState().Noeud_Alloc.premiere; c != nullptr; c = c->suivante) {
        EXPECT_EQ(c->nb_max, static_cast<int32_t>(page / slot));
        starts.push_back(reinterpret_cast<uintptr_t>(c->bloc));
        owners += c->bloc_propre;
        records += c->nb_pris;
    }
    EXPECT_EQ(records, 140000);
    EXPECT_EQ(owners, 0);
    const char* base = recordBase();
    std::set<RecordRef> refs;
    for (const void* r :
         {static_cast<const void*>(nodes.front()), static_cast<const void*>(nodes.back()),
          static_cast<const void*>(leaves.front()), static_cast<const void*>(leaves.back())}) {
        const RecordRef ref = refOf(base, r);
        EXPECT_NE(ref, kNoRecord);
        EXPECT_EQ(recordAt(base, ref), r);
        EXPECT_TRUE(refs.insert(ref).second);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], page);

    // Records follow each other inside their page, in the order they were made.
    size_t i = 0;
    for (CelluleAlloc* c = treeState().Noeud_Alloc.premiere; c != nullptr; c = c->suivante)
        for (int32_t r = 0; r < c->nb_pris; ++r, ++i)
            ASSERT_EQ(static_cast<void*>(nodes[i]),
                      static_cast<char*>(c->bloc) + static_cast<size_t>(r) * slot);
    for (Noeud* n : {nodes.front(), nodes.back()}) {
        EXPECT_EQ(n->bit_tab, SharedEmptyBitTab());
        setChild(n, 4, n);  // the last child slot is the slot's own
        EXPECT_EQ(childIn(n, 4), n);
    }
    EXPECT_EQ(pageCount(treeState().Feuille_Alloc), 1000 / static_cast<int>(page / sizeof(Feuille)) + 1);
}

}  // namespace

// Batches: small ones until the structure holds 8 MB, then huge-page ones
// aligned to their size; a need larger than a batch rounds up to whole batches.
TEST(MemoryBatches, SizeAndAlignmentFollowWhatIsHeldAndNeeded) {
    constexpr size_t kK = 1024;
    constexpr size_t kM = 1024 * kK;
    const struct {
        size_t needed, taken, size;
        bool huge;
    } cases[] = {
        {0, 0, 256 * kK, false},   {256 * kK, 0, 256 * kK, false},     {300 * kK, 7 * kM, 512 * kK, false},
        {0, 8 * kM, 2 * kM, true}, {2 * kM + 1, 9 * kM, 4 * kM, true},
    };
    for (const auto& c : cases) {
        size_t size = 0;
        void* batch = allocateBatch(c.needed, c.taken, &size);
        ASSERT_NE(batch, nullptr);
        EXPECT_EQ(size, c.size) << "needed " << c.needed << ", taken " << c.taken;
        if (c.huge) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(batch) % (2 * kM), 0u) << "taken " << c.taken;
        }
        memset(batch, 1, size);  // the whole batch is usable
        free(batch);
    }
}

// A supplier's thread makes huge batches ready, aligned and whole; with the supplier in use, huge batches are
// its own or, when none is ready, allocated as without it, and small ones and larger needs never its own.
// The batches it still holds go with it (the sanitizer build checks that none leaks).
TEST(MemoryBatches, ASupplierHandsOutReadyHugeBatches) {
    constexpr size_t kM = 1024 * 1024;
    BatchSupplier supplier;
    std::vector<void*> batches;
    for (int wait = 0; wait < 2000 && batches.size() < 2; ++wait) {
        if (void* b = supplier.take(); b != nullptr)
            batches.push_back(b);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(batches.size(), 2u) << "the supplier made no batch ready in 2 s";
    EXPECT_NE(batches[0], batches[1]);
    BatchSupplier* const before = batchSupplierInUse;
    batchSupplierInUse = &supplier;
    const struct {
        size_t needed, taken, size;
    } cases[] = {{0, 8 * kM, 2 * kM}, {2 * kM, 9 * kM, 2 * kM}, {0, 0, 256 * 1024}, {3 * kM, 9 * kM, 4 * kM}};
    for (const auto& c : cases) {
        size_t size = 0;
        batches.push_back(allocateBatch(c.needed, c.taken, &size));
        ASSERT_NE(batches.back(), nullptr);
        EXPECT_EQ(size, c.size) << "needed " << c.needed << ", taken " << c.taken;
        if (c.size >= 2 * kM) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(batches.back()) % (2 * kM), 0u);
        }
        memset(batches.back(), 1, size);
    }
    batchSupplierInUse = before;
    for (size_t i = 0; i < 2; ++i) memset(batches[i], 2, 2 * kM);
    for (void* b : batches) free(b);
}

// The record range hands out its pages one after the other, zeroed, past its small steps and well into its
// huge ones, with a supplier making them resident ahead or without one; what is written in a page stays
// there however far the supplier runs ahead, no page has reference kNoRecord, and a released range is
// reserved afresh.
TEST(RecordArena, PagesFollowEachOtherZeroedAndKeepWhatIsWritten) {
    const size_t page = static_cast<size_t>(getpagesize());
    const size_t pages = 40 * 1024 * 1024 / page;
    BatchSupplier supplier;
    BatchSupplier* const before = batchSupplierInUse;
    for (BatchSupplier* using_ : {static_cast<BatchSupplier*>(nullptr), &supplier}) {
        batchSupplierInUse = using_;
        RecordArena arena;  // released at the end of each round
        for (int round = 0; round < 2; ++round) {
            std::vector<size_t*> taken;
            for (size_t i = 0; i < pages; ++i) {
                auto* p = static_cast<size_t*>(arena.takePage());
                ASSERT_NE(p, nullptr) << i;
                if (i > 0) {
                    ASSERT_EQ(reinterpret_cast<char*>(p), reinterpret_cast<char*>(taken[0]) + i * page);
                }
                ASSERT_EQ(p[0] | p[page / sizeof(size_t) - 1], 0u) << i;
                p[0] = i;
                p[page / sizeof(size_t) - 1] = ~i;
                taken.push_back(p);
            }
            EXPECT_NE(refOf(arena.base(), taken[0]), kNoRecord);
            EXPECT_EQ(recordAt(arena.base(), refOf(arena.base(), taken.back())), taken.back());
            EXPECT_EQ(arena.bytesTaken(), (pages + 1) * page);
            for (size_t i = 0; i < pages; ++i) {
                ASSERT_EQ(taken[i][0], i);
                ASSERT_EQ(taken[i][page / sizeof(size_t) - 1], ~i);
            }
            arena.release();
            EXPECT_EQ(arena.base(), nullptr);
        }
    }
    batchSupplierInUse = before;
}
