#pragma once
#include <cstdint>

#include "global_variables.h"

// Tree operations shared by the construction and the spelling engines.

// Starts a run: colour-set parameters, pools, Translation_Table, ALPHA_CARD, Sequence.
void Init_All(const char* alphabet, int flag, int32_t n);
void Ajoute_Fils_Au_Noeud(void* parent, void* child);
void* Get_Child_Start_Letter(void* node, int32_t p);
// Length of the label of the edge that enters the record.
int32_t seg_taille(const void* x);
// Inserts T[s..e) knowing T[s..e-1) is spelled from n (skip and count).
void* Add_Fast_String(void* n, int32_t s, int32_t e, int32_t* etat, void** pere);

// Diagnostic dumps on standard output.
void Print_Tree(void* root, int verbose, int stats);
void Print_Tree_Indent(void* x, int* nodes, int* leaves, int* children, char* indent, int verbose);
void Print_BTTree_Debug(void* x, int* counter);
void Print_Liste(Liste* cell);
