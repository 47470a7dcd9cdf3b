#pragma once
#include <cstdint>

// The model being spelled: models symbol numbers with numSAUT between boxes.
struct Model {
    int32_t* name;
    int32_t longueur;
    int32_t taille;
};

Model* allocModel();
int32_t changeModel(Model* model, int32_t symbol);
void decrModel(Model* model);
void AfficheModel(const Model* model);
