#pragma once
// The quorum: how many sequences a model must occur in, from the command-line percentage.

#include "run_messages.h"

// Quorum for n sequences from the command-line percentage: 0 selects the default of 70 %.  The ceiling is
// clamped to the int range (NaN gives 0) so that absurd percentages cannot overflow.
int computeQuorum(float percent, int n);
// Warns about a quorum of exactly 1 and refuses one below 1.
void checkQuorum(int quorum, const DriverMessages& m);
