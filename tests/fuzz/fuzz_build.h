#pragma once
// Forced into every source of the fuzz build.  clang 14 refuses a function made multiversioned after its
// first use (the popcount of the colour sets): the fuzz build keeps the default version only.
#define target_clones(...) unused
