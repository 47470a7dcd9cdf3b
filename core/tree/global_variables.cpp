#include "global_variables.h"

#include "allocateurs.h"
#include "liste_pos.h"

unsigned char Translation_Table[256];
int32_t ALPHA_CARD = 0;
char** Sequence = nullptr;
int32_t current_sequence = 0;
int32_t global_indice = 0;
ListePositions* Liste_positions_fin = nullptr;

PoolAlloc Noeud_Alloc = {nullptr, nullptr, nullptr, 0, 0};
PoolAlloc Feuille_Alloc = {nullptr, nullptr, nullptr, 0, 0};
Liste* FREE_LISTE = nullptr;
