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

PileOcc* creePileOcc();
Occ* ajouteOcc2Pile(PileOcc* p, Noeud* noeud, int32_t lettre, int32_t pos, int32_t nberr, int32_t nberrbloc,
                    int32_t longsaut, int32_t codesaut);
Occ* ajouteDummy(PileOcc* p);
int32_t getPrecDummy(const PileOcc* p);
void ajouteInitOcc2Pile(PileOcc* p, Noeud* node);
void copieLastOcc(PileOcc* dest, const PileOcc* source);
void transferePile2Pile(PileOcc* dest, PileOcc* source);
uint32_t depileRec(PileOcc* p);
void videPile(PileOcc* p);
void liberePileOcc(PileOcc* p);

// Occurrence walks that write "Seq ... Pos ..." lines.
int32_t afficheLastOcc(FILE* flot, const PileOcc* pile, int32_t prof, const Criteres* cr);
int32_t recAfficheOcc(FILE* flot, void* record, int32_t d, const Criteres* cr, int32_t code);
int32_t afficheOcc(FILE* flot, const Occ* occ, int32_t prof, const Criteres* cr);
