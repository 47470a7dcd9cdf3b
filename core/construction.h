#pragma once
#include <cstdint>

#include "global_variables.h"

// Generalised suffix tree truncated at a window length.

Noeud* Construction_Arbre(char* text, int32_t taille_fenetre);
Noeud* AjouteSequence(Noeud* root, char* text, int32_t taille_fenetre);
void UpdateBit_TabForAllTree(void* x);
