#include "model.h"

#include <cstdio>
#include <cstdlib>

#include "build_traits.h"
#include "global.h"

Model* allocModel() {
    auto* model = static_cast<Model*>(malloc(sizeof(Model)));
    if (model == nullptr) fatalError("allocModel: cannot allocate 'model'\n");
    model->name = static_cast<int32_t*>(calloc(kModelGrowth, sizeof(int32_t)));
    if (model->name == nullptr) fatalError("allocModel: cannot allocate 'model->name'\n");
    model->longueur = 0;
    model->taille = kModelGrowth;
    return model;
}

int32_t changeModel(Model* model, int32_t symbol) {
    // The array is grown while two entries are still free, so a symbol and the
    // spacer mark that may follow it always fit.
    if (model->longueur + 2 >= model->taille) {
        const int32_t taille = model->taille + kModelGrowth;
        auto* name = static_cast<int32_t*>(realloc(model->name, sizeof(int32_t) * taille));
        if (name == nullptr) fatalError("changeModel: cannot reallocate 'model->name'\n");
        model->name = name;
        model->taille = taille;
    }
    model->name[model->longueur++] = symbol;
    return symbol;
}

void decrModel(Model* model) {
    if (model->longueur > 0) --model->longueur;
}

void AfficheModel(const Model* model) {
    for (int32_t i = 0; i < model->longueur; ++i) printf("%d", model->name[i]);
    printf("\n");
}
