#pragma once
// The one place where the two programs' builds of the library differ.
// motbox-delta is compiled with MOTBOX_DELTA=1.

#ifndef MOTBOX_DELTA
#define MOTBOX_DELTA 0
#endif

// Growth step of Model::name and of PileOcc::carte.
inline constexpr int kModelGrowth = MOTBOX_DELTA ? 1000 : 100;
inline constexpr int kCarteGrowth = MOTBOX_DELTA ? 1000 : 100;
