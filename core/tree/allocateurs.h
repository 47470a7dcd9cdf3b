#pragma once
#include <cstdint>

#include "global_variables.h"

// Page-sized pools for tree records and the free list of active-list cells (TreeState's Noeud_Alloc,
// Feuille_Alloc and FREE_LISTE).

// Ends the run with status -1 and "No Enougth space\nProgram Abord\n" (a RunExit).
[[noreturn]] void treeOutOfMemory();

// Opens one empty page in each pool and empties FREE_LISTE; a tree still held
// from an earlier run in this process is released first (as by Free_Arbre).
void Init_Allocateurs();
// A new empty page holding getpagesize() / record_size records, in a block of its own (outside the record
// range: no tree reference can name its records).
CelluleAlloc* Alloc_Alloc_Cell(uint32_t record_size);
// Next node slot: label 0..0 of current_sequence, no suffix link, ALPHA_CARD
// empty child slots (held in the slot, right after the record), the shared empty colour set
// (SharedEmptyBitTab). A node page holds getpagesize() / (sizeof(Noeud) + ALPHA_CARD * sizeof(RecordRef),
// rounded up to 8 bytes) nodes.  Both pools take their pages from the tree's record range.
Noeud* Alloc_Noeud();
// Next leaf slot: start 0 (leaf mark set), empty chain, colour set {current_sequence} (SingletonBitTab).
Feuille* Alloc_Feuille();
// A recycled cell from FREE_LISTE when there is one, else a new one; both fields null.
Liste* Alloc_Liste();
// Pushes the cell on FREE_LISTE (its suivant is overwritten).
void Free_Liste(Liste* cell);
void Free_All_Liste_Cell();
// Releases every page of both pools with the child arrays and colour sets of
// their records, the position list Liste_positions_fin and the cells of
// FREE_LISTE; the process may then start another run with Init_All.
void Free_Arbre();
