#pragma once
#include <cstdint>
#include <cstdio>

#include "occ.h"

struct Criteres;

// Stack of occurrences cut into levels by dummy occurrences.
struct PileOcc {
    Occ* occ;
    int32_t* carte;        // carte[i] = index of the dummy that opens level i+1
    uint32_t nbcarte;
    int32_t taillecarte;
    int32_t taille;
    uint32_t nbocc;
};

// A new stack holds one dummy (entry 0) and one map entry (carte[0] = 0).
PileOcc* creePileOcc();
// Appends one occurrence (note the argument order) and returns it; occ grows by 2000 when full.
Occ* ajouteOcc2Pile(PileOcc* p, Noeud* noeud, int32_t lettre, int32_t pos, int32_t nberr, int32_t nberrbloc,
                    int32_t longsaut, int32_t codesaut);
// Opens a new level and returns its dummy.
Occ* ajouteDummy(PileOcc* p);
// Returns the index of the dummy that opens the top level (needs nbcarte >= 1).
int32_t getPrecDummy(const PileOcc* p);
// Appends the occurrence that stands at the root below the super-racine `node`.
void ajouteInitOcc2Pile(PileOcc* p, Noeud* node);
// Appends a copy of source's top level (without its dummy) to dest; both maps unchanged.
void copieLastOcc(PileOcc* dest, const PileOcc* source);
// Moves every entry of source, dummies included, to dest; source keeps its map but no entry.
void transferePile2Pile(PileOcc* dest, PileOcc* source);
// Pops the top level and returns the new nbocc (0 when the map was empty).
uint32_t depileRec(PileOcc* p);
// Empties the stack and leaves it as creePileOcc does.
void videPile(PileOcc* p);
void liberePileOcc(PileOcc* p);

// Occurrence walks that write "Seq ... Pos ..." lines; each returns the number of lines.
// afficheLastOcc covers the top level and ends with a line holding that number.
int32_t afficheLastOcc(FILE* flot, const PileOcc* pile, int32_t prof, const Criteres* cr);
int32_t recAfficheOcc(FILE* flot, void* record, int32_t d, const Criteres* cr, int32_t code);
int32_t afficheOcc(FILE* flot, const Occ* occ, int32_t prof, const Criteres* cr);
