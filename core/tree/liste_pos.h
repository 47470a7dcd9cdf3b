#pragma once
#include <cstdint>
#include <cstdio>

#include "global_variables.h"

struct Criteres;

// One growable table of occurrence cells shared by all leaves; each leaf owns
// a chain from its newest occurrence to its oldest.
constexpr int32_t FIN_CHAINE = 0x0FFFFFFF;
constexpr int32_t MARQUE_CHANGE_SEQ = static_cast<int32_t>(0x80000000u);

struct CellRanges;

struct ListePositions {
    int32_t* valeurs;   // end index (exclusive) of each occurrence; -1 = open
    int32_t* suivants;  // link to the next older cell, | MARQUE_CHANGE_SEQ across sequences
    int32_t nb_elements;
    int32_t taille;
    // A large list's arrays lie in address ranges of their own (null: heap blocks), and the cell from which
    // the append asks for the next pages to be made resident ahead.
    int32_t residentMark;
    CellRanges* ranges;
};

ListePositions* Alloc_ListePositions(int32_t n);
// Returns 1, or -2 for a null list.
int32_t Ajoute_Position_Liste(ListePositions* l, int32_t* head, int32_t v, int flag);
// Returns valeurs[i]; -2 for a null list; -3 for i out of range.  Inline: every edge length of a leaf
// is read through it, in the construction and in the spelling walks.
inline int32_t getValue(const ListePositions* l, int32_t i) {
    if (l == nullptr) return -2;
    if (i < 0 || i >= l->nb_elements) return -3;
    return l->valeurs[i];
}
void setListeValue(ListePositions* l, int32_t i, int32_t v);
// Returns the raw link; -2 for a null list; -3 for i out of range.
int32_t getIndiceSuivant(const ListePositions* l, int32_t i);
// Returns the oldest cell of the chain through i; -1 for a null list; -3 for i out of range.
int32_t ChercheDerniereCelluleDansListe(const ListePositions* l, int32_t i);
void Free_ListePositions(ListePositions* l);

// Write v in decimal exactly as printf's "%d" does (appendDecimal, at most 11
// chars) or "%<width>d" does (appendDecimalWidth: right-aligned with spaces,
// never truncated); both return the end of the text, which is not terminated.
char* appendDecimal(char* out, int32_t v);
char* appendDecimalWidth(char* out, int32_t v, int width);

// Writes one "Seq %5d   Pos %5d" line per occurrence of the leaf; returns the count.  When the texts are
// strand pairs, each line ends with its strand and names the place in the sequence as written, which
// needs span: the characters the occurrence covers, its symbols and spacers.
int32_t Print_Positions(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r,
                        int32_t span = 0);
int32_t Print_Positions_Dynamique(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r,
                                  int32_t span = 0);
int32_t Print_Positions_Statique(FILE* flot, Feuille* leaf, int32_t d, const Criteres* cr, int32_t r,
                                 int32_t span = 0);
