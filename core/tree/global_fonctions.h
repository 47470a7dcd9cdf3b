#pragma once
#include <cstdint>

#include "global_variables.h"
#include "liste_pos.h"

// Tree operations shared by the construction and the spelling engines.

// Starts a run: colour-set parameters, pools, Translation_Table, ALPHA_CARD, Sequence.
// Flag 0 numbers the alphabet's characters from 0 (others map to 255); a
// non-zero flag numbers them from 1 (others map to 0).
void Init_All(const char* alphabet, int flag, int32_t n);
// Hangs child in parent's slot for the letter of the child's first label
// character, replacing what was there.  Nothing happens for a null argument, a
// leaf as parent, or a first character outside the alphabet.
void Ajoute_Fils_Au_Noeud(void* parent, void* child);
// A node's child slots follow its record in its pool slot (Alloc_Noeud): their address needs no read of the
// record, so a walk can ask for both at once.
inline RecordRef* childSlotsOf(const void* node) {
    return const_cast<Noeud*>(static_cast<const Noeud*>(node))->fils;
}
// Slots whose kind (node or leaf) a node records in nodeChildren.
constexpr int32_t kMaskedSlots = 32;
// The child of node for the letter of Sequence[current_sequence][p]; null when
// that character is not in the alphabet, node is null or a leaf, or there is none.
void* Get_Child_Start_Letter(void* node, int32_t p);
// Raw value of a leaf's newest cell: the end of its label, -1 while open.
inline int32_t leafRecordedEnd(const Feuille* leaf) {
    return leaf->fin;
}

// Every change of a leaf's newest cell goes through these two, which keep the leaf's copy of its value.
inline void appendLeafEnd(Feuille* leaf, int32_t end, int flag) {
    Ajoute_Position_Liste(treeState().Liste_positions_fin, &leaf->dernier_indice, end, flag);
    leaf->fin = getValue(treeState().Liste_positions_fin, leaf->dernier_indice);
}
inline void setLeafEnd(Feuille* leaf, int32_t end) {
    setListeValue(treeState().Liste_positions_fin, leaf->dernier_indice, end);
    leaf->fin = getValue(treeState().Liste_positions_fin, leaf->dernier_indice);
}
// End of a record's label with an open end read as the current end of the construction.
inline int32_t labelEnd(const void* x) {
    const int32_t end =
        isFeuille(x) ? leafRecordedEnd(static_cast<const Feuille*>(x)) : static_cast<const Noeud*>(x)->fin;
    return end == -1 ? treeState().global_indice : end;
}
// Length of the label of the edge that enters the record; an open end (-1)
// counts up to global_indice.  Inline: the walks read it at every step.
inline int32_t seg_taille(const void* x) {
    return labelEnd(x) - labelStart(x);
}
// Whether the label of the edge that enters record ends with the "$" that closes every text.
inline bool edgeEndsWithTerminator(const void* record) {
    return edgeChar(record, seg_taille(record) - 1) == '$';
}
// Hangs the root under a new node (returned) through a one-character "$" edge, so that a walk can start
// from an occurrence standing exactly at the root.
Noeud* makeSuperRacine(Noeud* racine);
// Inserts T[s..e) knowing T[s..e-1) is spelled from n (skip and count).
// Returns the record reached and sets *etat:
//   1: a new leaf (returned) was hung under an existing node (*pere);
//   3: an edge was split by a new node (*pere, its link holding the split
//      edge's parent for now) that received the new leaf (returned);
//   2: the path ended at a leaf (returned);
//   negative: the word was present; it ends -*etat characters into an edge
//      below the returned node (a new occurrence ending exactly at a leaf is
//      recorded in its chain);
//   0: nothing to insert (s >= e).
// Returns null when n is null.
void* Add_Fast_String(void* n, int32_t s, int32_t e, int32_t* etat, void** pere);

// Diagnostic dumps on standard output.
void Print_Tree(void* root, int verbose, int stats);
// Counts the nodes, leaves and non-empty child slots below x and, when verbose,
// writes them with indent (a 1000-byte buffer) grown by one tab per level, up to 999 tabs.
void Print_Tree_Indent(void* x, int* nodes, int* leaves, int* children, char* indent, int verbose);
void Print_BTTree_Debug(void* x, int* counter);
void Print_Liste(Liste* cell);
