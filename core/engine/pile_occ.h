#pragma once
#include <cstdint>
#include <cstdio>

#include "occ.h"

struct Criteres;

// Stack of occurrences cut into levels by dummy occurrences.
struct PileOcc {
    Occ* occ;
    int32_t* carte;  // carte[i] = index of the dummy that opens level i+1
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
// Makes room for n more entries and returns where the first of them goes; nbocc is unchanged, so that a
// caller may fill the entries and then count in those it keeps.
Occ* reserveOcc(PileOcc* p, uint32_t n);
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

// Index range of a walk over one level of a stack, from its top entry down: the entries above `stop`.
// A walk restricted to the lower part of a level starts at `from` below the top.
struct LevelWalk {
    int64_t from;
    int64_t stop;
};

// The whole top level of p.
inline LevelWalk topLevel(const PileOcc* p) {
    return {static_cast<int64_t>(p->nbocc) - 1, static_cast<int64_t>(getPrecDummy(p))};
}

// Calls visit on each occurrence of the walk, from the top down.  Dummies may stand inside a level (a level
// filled by transferePile2Pile starts with the source's own dummy), so a null noeudpere ends the walk too.
// The occurrence is passed by value: visit may push on the same stack and move its storage.
template <typename Visit>
void forEachOcc(const PileOcc* p, LevelWalk w, Visit visit) {
    for (int64_t i = w.from; i > w.stop && p->occ[i].noeudpere != nullptr; i--) visit(Occ(p->occ[i]));
}

// Calls visit on each occurrence of the top level of p, newest first.
template <typename Visit>
void forEachInTopLevel(const PileOcc* p, Visit visit) {
    forEachOcc(p, topLevel(p), visit);
}

// Occurrence walks that write "Seq ... Pos ..." lines; each returns the number of lines.
// afficheLastOcc covers the top level and ends with a line holding that number.
int32_t afficheLastOcc(FILE* flot, const PileOcc* pile, int32_t prof, const Criteres* cr);
// span: the characters each occurrence covers, for the strands of a both-strands run (Print_Positions).
int32_t recAfficheOcc(FILE* flot, void* record, int32_t d, const Criteres* cr, int32_t code,
                      int32_t span = 0);
int32_t afficheOcc(FILE* flot, const Occ* occ, int32_t prof, const Criteres* cr);

// afficheLastOcc over the occurrences of the top level for which keep holds.
template <typename Keep>
int32_t afficheLastOccWhere(FILE* flot, const PileOcc* pile, int32_t prof, const Criteres* cr, Keep keep) {
    int32_t lines = 0;
    for (int64_t i = static_cast<int64_t>(pile->nbocc) - 1; i >= 1 && pile->occ[i].noeudpere != nullptr; --i)
        if (keep(pile->occ[i])) lines += afficheOcc(flot, &pile->occ[i], prof, cr);
    fprintf(flot, "%d\n", lines);
    return lines;
}
