#pragma once
// Run steps shared by the motbox and motbox-delta drivers.

// Sequence texts in FASTA order, each followed by "$" and a NUL.
extern char** text;
