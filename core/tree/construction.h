#pragma once
#include <cstdint>

#include "global_variables.h"

// Generalised suffix tree truncated at a window length: every word of at most
// the window length that starts at a position of a text is spelled from the
// root to exactly one leaf.

// Builds the tree of the first text (Sequence[0]) and returns its root.
// Ends the process with status -1 on a null text, a text that is not made of
// alphabet letters ended by a single "$", or a window that is not positive.
Noeud* Construction_Arbre(char* text, int32_t taille_fenetre);
// Adds the next sequence (current_sequence + 1) and returns the root.  Same
// failures as Construction_Arbre, plus more sequences than Init_All announced.
Noeud* AjouteSequence(Noeud* root, char* text, int32_t taille_fenetre);
// Fills every node's colour set with the union of its children's and caches
// its cardinal in nb_seq.  Iterative: the depth is bounded only by the window.  With threads > 1 the
// subtrees are coloured by that many threads at once; the sets are the same.
void UpdateBit_TabForAllTree(void* x, int threads = 1);

// Phases of the online construction, sharing the active list of open leaves.
// Premiere_Phase: prefixes shorter than the window, from end index i.
void Premiere_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                    void** Fin_liste_pere, int32_t* nb_element_liste, int32_t i);
// Deuxieme_Phase: the window slides up to the end of the text.  Returns
// deja_present: 1 when the last full-window word was found already present
// and still has to be recorded by the next phase.
int Deuxieme_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                   void** Fin_liste_pere, int32_t* nb_element_liste, int32_t i, int deja_present,
                   int32_t etat);
// Troisieme_Phase: the text has ended; closes the open leaves and inserts the
// remaining suffixes.
void Troisieme_Phase(Noeud* Arbre, int32_t taille_fenetre, Liste** Debut_liste, Liste** Fin_liste,
                     void** Fin_liste_pere, int32_t* nb_element_liste, int deja_present);

// Exact search of T[s..e) (T = Sequence[current_sequence]) from n, comparing
// every character.  Returns the record where the search stopped and sets:
//   *r = -1: no child for the letter at position e + *etat (returned record = the node);
//   *etat = 1: the word ends exactly at the end of the returned record's label;
//   *etat = 2: a leaf's label ended before the word; 3: the word ended inside a label;
//   *etat < 0: a difference at position e + *etat, *r characters of the label matched.
// *pere is set to the parent of the returned record whenever the search descends.
void* FindString(void* n, int32_t s, int32_t e, void** pere, int32_t* etat, int32_t* r);
// Switches the insertion of the current text to the phased construction at
// the first new word: T[a..e-1) is spelled below n and T[e-1] is new there.
// Returns the root.
Noeud* CaseTreeAddSequence(Noeud* root, void* n, int32_t a, int32_t e, int32_t taille_fenetre);
