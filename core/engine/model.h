#pragma once
#include <cstdint>
#include <cstdio>

// The model being spelled: models symbol numbers with numSAUT between boxes.
struct Model {
    int32_t* name;
    int32_t longueur;
    int32_t taille;
};

// A new empty model with kModelGrowth zeroed entries; release it by freeing name, then the record.
Model* allocModel();
// Appends a symbol and returns it; grows name by kModelGrowth once only two entries are left.
int32_t changeModel(Model* model, int32_t symbol);
// Removes the last symbol, if any; storage is kept.
void decrModel(Model* model);
// Debugging aid: the symbol numbers on standard output.
void AfficheModel(const Model* model);
// Writes the model's record line: its display names, a space, its coded form (symbol numbers as
// characters from '0', '*' for the joker, '-' for a spacer), a space, nbseqmod and a line end, in one write.
void writeModelLine(FILE* out, const Model* model, int32_t nbseqmod);
