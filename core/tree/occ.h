#pragma once
#include <cstdint>

#include "global_variables.h"

// One place of the current model in the tree: a point on the edge that leads
// to slot `lettre` of `noeudpere`.  A null noeudpere marks a level separator.
struct Occ {
    Noeud* noeudpere;
    int32_t pos;
    int32_t nberr;
    int32_t longsaut;
    int32_t nberrbloc;
    int32_t codesaut;
    int32_t lettre;
};

// The tree record below the edge that o stands on.
inline void* childOf(const Occ& o) {
    return childIn(o.noeudpere, o.lettre);
}

// Resets occ to the unused state (null noeudpere, pos/nberr/nberrbloc/lettre -1, 0 elsewhere); returns occ.
Occ* initOcc(Occ* occ);
