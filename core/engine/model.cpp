#include "model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alphabet.h"
#include "build_traits.h"
#include "global.h"
#include "liste_pos.h"

Model* allocModel() {
    auto* model = allocOrDie<Model>(1, "allocModel: cannot allocate 'model'\n");
    model->name = allocOrDie<int32_t>(kModelGrowth, "allocModel: cannot allocate 'model->name'\n", true);
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

void writeModelLine(FILE* out, const Model* model, int32_t nbseqmod) {
    // Kept from call to call: one line per model written.
    static thread_local std::string line;
    line.clear();
    const AlphabetTables& alphabet = alphabetTables();
    for (int32_t i = 0; i < model->longueur; ++i) line += alphabet.nummod2str[model->name[i]];
    line += ' ';
    for (int32_t i = 0; i < model->longueur; ++i) {
        const int32_t symbol = model->name[i];
        line += static_cast<char>(symbol == alphabet.numJOKER  ? '*'
                                  : symbol == alphabet.numSAUT ? '-'
                                                               : '0' + symbol);
    }
    line += ' ';
    char count[12];
    line.append(count, static_cast<size_t>(appendDecimal(count, nbseqmod) - count));
    line += '\n';
    fwrite(line.data(), 1, line.size(), out);
}
