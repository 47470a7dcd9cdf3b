#pragma once
// The jumps over a spacer: every occurrence of a box's last symbol lands on each text place that lies a
// spacer length further on, as an occurrence from which the next box is spelled.  motbox lands every
// length of the spacer on one level and spells the next box once over all of them; motbox-delta keeps the
// landings of each length apart, so that the next box can be spelled once per window of lengths.
#include <cstdint>

#include "bit_tab.h"
#include "criteres.h"
#include "pile_occ.h"

namespace whole_spacer {

// Jumps the top level of source over spacer b onto a new level of dest, every length at once; returns the
// number of landings, and leaves dest as it was when there is none.  A negative spacer minimum counts
// as 0: the jump cannot go back up the edge before the start of its label.
int32_t gestionSaut(PileOcc* dest, PileOcc* source, const Criteres* cr, int b);

}  // namespace whole_spacer

namespace windowed_spacer {

// Jumps the top level of source over spacer b onto a new level of dest, landings grouped by length: group
// g (length min + g) lies above group g - 1 and compteurs[g] receives its size (entries 0 to nbzero - 1
// are cleared first).  Returns the number of groups made, 0 when nothing landed (dest is then left as it
// was).  The landings start the next box without substitutions.
int gestionSaut(PileOcc* dest, PileOcc* source, const Criteres* cr, int* compteurs, int nbzero, int b);

// Fills the colour sets of the n landing groups of the top level of pile, group n - 1 being on top.
void sommeBTOccPartielle(PileOcc* pile, BitTab* groupes, int n, const int* compteurs);

}  // namespace windowed_spacer
