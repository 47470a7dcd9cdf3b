#include "allocateurs.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "liste_pos.h"
#include "run_exit.h"

namespace {

// Size of one page, the unit in which tree records are obtained and released.
uint32_t pageSize() {
    return static_cast<uint32_t>(getpagesize());
}

// The record of a page whose block, bloc, holds getpagesize() / record_size records; own: the block is
// freed with the page.  A null block is a want of memory.
CelluleAlloc* pageFor(void* bloc, uint32_t record_size, int32_t own) {
    if (bloc == nullptr) treeOutOfMemory();
    auto* page = static_cast<CelluleAlloc*>(malloc(sizeof(CelluleAlloc)));
    if (page == nullptr) {
        if (own != 0) free(bloc);
        treeOutOfMemory();
    }
    page->suivante = nullptr;
    page->bloc = bloc;
    page->nb_pris = 0;
    page->nb_max = static_cast<int32_t>(pageSize() / record_size);
    page->taille_case = record_size;
    page->bloc_propre = own;
    return page;
}

// A page of the tree's record range for a pool.
CelluleAlloc* rangePage(uint32_t record_size) {
    return pageFor(treeState().records.takePage(), record_size, 0);
}

// Opens a first page for a pool that has none (a fresh run, or a use after Free_Arbre).
void ensurePool(PoolAlloc& pool, uint32_t record_size) {
    if (pool.courante != nullptr) return;
    pool.premiere = pool.courante = rangePage(record_size);
}

// Next free slot of a pool; a full page is chained to a new one.
void* takeSlot(PoolAlloc& pool, uint32_t record_size) {
    ensurePool(pool, record_size);
    CelluleAlloc* page = pool.courante;
    // A page serves one slot size: an alphabet changed since it was opened gets a new page.
    if (page->nb_pris >= page->nb_max || page->taille_case != record_size) {
        CelluleAlloc* fresh = rangePage(record_size);
        page->suivante = fresh;
        pool.courante = page = fresh;
    }
    void* slot = static_cast<char*>(page->bloc) + static_cast<size_t>(page->nb_pris) * record_size;
    ++page->nb_pris;
    return slot;
}

// A node's child array follows it in its slot, so that a descent finds the
// record and its children together instead of in two separate allocations.
uint32_t nodeSlotSize() {
    const size_t slots = static_cast<size_t>(treeState().ALPHA_CARD > 0 ? treeState().ALPHA_CARD : 0);
    const size_t bytes = sizeof(Noeud) + slots * sizeof(RecordRef);
    return static_cast<uint32_t>((bytes + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment);
}

// The records' fields are released before any page.
template <typename Record, typename ReleaseFields>
void releasePool(PoolAlloc& pool, ReleaseFields releaseFields) {
    for (CelluleAlloc* page = pool.premiere; page != nullptr; page = page->suivante) {
        auto* slots = static_cast<char*>(page->bloc);
        for (int32_t i = 0; i < page->nb_pris; ++i)
            releaseFields(*reinterpret_cast<Record*>(slots + static_cast<size_t>(i) * page->taille_case));
    }
    CelluleAlloc* page = pool.premiere;
    while (page != nullptr) {
        CelluleAlloc* next = page->suivante;
        if (page->bloc_propre != 0) free(page->bloc);
        free(page);
        page = next;
    }
    pool.premiere = pool.courante = nullptr;
}

}  // namespace

void treeOutOfMemory() {
    endRunWith(-1, "No Enougth space\nProgram Abord\n");
}

void Init_Allocateurs() {
    // A tree left over from an earlier run in this process is released first,
    // so that a new run never hands out records from stale pages.
    Free_Arbre();
    ensurePool(treeState().Noeud_Alloc, nodeSlotSize());
    ensurePool(treeState().Feuille_Alloc, sizeof(Feuille));
}

CelluleAlloc* Alloc_Alloc_Cell(uint32_t record_size) {
    return pageFor(malloc(pageSize()), record_size, 1);
}

Noeud* Alloc_Noeud() {
    const uint32_t slot = nodeSlotSize();
    auto* n = static_cast<Noeud*>(takeSlot(treeState().Noeud_Alloc, slot));
    n->debut = 0;
    n->num_seq = treeState().current_sequence;
    n->fin = 0;
    n->nodeChildren = 0;
    n->lien_suffixe = kNoRecord;
    memset(n->fils, 0, slot - sizeof(Noeud));
    // Filled only by the colour propagation, which allocates it at its final size.
    n->bit_tab = SharedEmptyBitTab();
    n->nb_seq = 0;  // meaningful only after the colour propagation; zeroed to keep reads defined
    return n;
}

Feuille* Alloc_Feuille() {
    auto* f = static_cast<Feuille*>(takeSlot(treeState().Feuille_Alloc, sizeof(Feuille)));
    f->debut = MARQUE_FEUILLE;
    f->num_seq = treeState().current_sequence;
    f->dernier_indice = -1;
    f->fin = getValue(treeState().Liste_positions_fin, f->dernier_indice);
    f->bit_tab = SingletonBitTab(treeState().current_sequence);
    return f;
}

Liste* Alloc_Liste() {
    Liste* cell = treeState().FREE_LISTE;
    if (cell != nullptr) {
        treeState().FREE_LISTE = cell->suivant;
    } else {
        cell = static_cast<Liste*>(malloc(sizeof(Liste)));
        if (cell == nullptr) treeOutOfMemory();
    }
    cell->suivant = nullptr;
    cell->feuille = nullptr;
    return cell;
}

void Free_Liste(Liste* cell) {
    cell->suivant = treeState().FREE_LISTE;
    treeState().FREE_LISTE = cell;
}

void Free_All_Liste_Cell() {
    while (treeState().FREE_LISTE != nullptr) {
        Liste* next = treeState().FREE_LISTE->suivant;
        free(treeState().FREE_LISTE);
        treeState().FREE_LISTE = next;
    }
}

void Free_Arbre() {
    releasePool<Noeud>(treeState().Noeud_Alloc, [](Noeud& n) { FreeBitTab(n.bit_tab); });
    releasePool<Feuille>(treeState().Feuille_Alloc, [](Feuille& f) { FreeBitTab(f.bit_tab); });
    treeState().records.release();
    releaseFinalBitTabs();  // the nodes' colour sets
    // The position list and the recycled list cells belong to the released
    // tree as well; dropping them lets the same process start another run.
    Free_ListePositions(treeState().Liste_positions_fin);
    treeState().Liste_positions_fin = nullptr;
    Free_All_Liste_Cell();
}
