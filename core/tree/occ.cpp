#include "occ.h"

Occ* initOcc(Occ* occ) {
    occ->noeudpere = nullptr;
    occ->pos = -1;
    occ->nberr = -1;
    occ->longsaut = 0;
    occ->nberrbloc = -1;
    occ->codesaut = 0;
    occ->lettre = -1;
    return occ;
}
