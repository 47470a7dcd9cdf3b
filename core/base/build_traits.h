#pragma once
// How the two programs' builds of the library differ: motbox-delta's is compiled with MOTBOX_DELTA=1.
// Its growth steps are here; the same switch also selects code in the criteria (the Criteres record's
// Delta fields), the spelling walk (its spacer policy: the box after a spacer spelled once per window),
// the command line and the parameter report (reading, checking and printing each spacer's Delta) and the
// ranking (the criteria in words, which name the spacer windows).

#ifndef MOTBOX_DELTA
#define MOTBOX_DELTA 0
#endif

// Growth step of Model::name and of PileOcc::carte.
inline constexpr int kModelGrowth = MOTBOX_DELTA ? 1000 : 100;
inline constexpr int kCarteGrowth = MOTBOX_DELTA ? 1000 : 100;
