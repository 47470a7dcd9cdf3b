#pragma once
#include <cstdint>

#include "global_variables.h"

// Page-sized pools for tree records and the free list of active-list cells.

struct CelluleAlloc {
    CelluleAlloc* suivante;
    void* bloc;
    int32_t nb_pris;
    int32_t nb_max;
};

struct PoolAlloc {
    CelluleAlloc* premiere;
    CelluleAlloc* courante;
};

extern PoolAlloc Noeud_Alloc;
extern PoolAlloc Feuille_Alloc;
extern Liste* FREE_LISTE;

// Writes "No Enougth space\nProgram Abord\n" on standard error and exits with status -1.
[[noreturn]] void treeOutOfMemory();

void Init_Allocateurs();
CelluleAlloc* Alloc_Alloc_Cell(uint32_t record_size);
Noeud* Alloc_Noeud();
Feuille* Alloc_Feuille();
Liste* Alloc_Liste();
void Free_Liste(Liste* cell);
void Free_All_Liste_Cell();
void Free_Arbre();
