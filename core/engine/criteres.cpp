#include "criteres.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alphabet.h"
#include "barre.h"
#include "global.h"
#include "run_exit.h"

namespace {

SpacerCodes processSpacerCodes;

}  // namespace

constinit thread_local SpacerCodes* spacerCodesInUse = &processSpacerCodes;

namespace {

// count elements, a count of 0 or less getting a block all the same; the run ends with message without them.
template <typename T>
T* allocArray(int count, const char* message) {
    return allocOrDie<T>(count > 0 ? static_cast<size_t>(count) : 0, message);
}

constexpr const char* kAllocBlocMsg = "criteres: allocBloc: allocation error\n";

int width(const Criteres* cr, int i) {
    return cr->sauts[i].max - cr->sauts[i].min + 1;
}

// Writes column i of table: count times, each length of spacer i over rep consecutive rows.
void fillColumn(int i, const Criteres* cr, int* remaining, int** table, int rep) {
    int count = *remaining / width(cr, i);
    *remaining = count;
    int row = 0;
    for (int c = 0; c < count; c++)
        for (int l = cr->sauts[i].min; l <= cr->sauts[i].max; l++)
            for (int r = 0; r < rep; r++) table[row++][i] = l;
    if (!progressMeter().quiet) fputc('\n', stdout);
}

#if MOTBOX_DELTA
constexpr const char* kCompoblocAllocMsg = "setCompo: cannot allocate 'cr->compobloc'\n";
#else
constexpr const char* kCompoblocAllocMsg = "setCompoPal: cannot allocate 'cr->compobloc[i]'\n";
#endif

// Reads pI/J strictly: "p", an integer, "/", an integer, nothing else.
bool parsePal(const char* arg, int* i, int* j) {
    int used = -1;
    if (sscanf(arg, "p%d/%d%n", i, j, &used) != 2) return false;
    return used == static_cast<int>(strlen(arg));
}

}  // namespace

void allocBloc(Criteres* cr, int nb) {
    cr->errbloc = allocArray<int>(nb, kAllocBlocMsg);
    cr->bornesbloc = allocArray<Intervalle>(nb, kAllocBlocMsg);
    cr->sauts = allocArray<Intervalle>(nb, kAllocBlocMsg);
    cr->flagcompobloc = allocArray<unsigned char>(nb, kAllocBlocMsg);
    cr->compobloc = allocArray<int*>(nb, kAllocBlocMsg);
#if MOTBOX_DELTA
    cr->deltas = allocArray<int>(nb, kAllocBlocMsg);
#endif
    cr->palbloc = allocArray<int>(nb, kAllocBlocMsg);
    for (int b = 0; b < nb; b++) {
        cr->sauts[b].min = 0;
        cr->sauts[b].max = 0;
        cr->errbloc[b] = -1;
        cr->bornesbloc[b].min = -1;
        cr->bornesbloc[b].max = -1;
#if MOTBOX_DELTA
        cr->deltas[b] = 0;
#endif
        cr->palbloc[b] = -1;
        // Filled by setCompoPal; cleared here so that nothing reads garbage before it.
        cr->flagcompobloc[b] = 0;
        cr->compobloc[b] = nullptr;
    }
    cr->flagpal = 0;
}

int addSaut2Code(int code, int saut, int i, const Criteres* cr) {
    if (i == 0) return saut - cr->sauts[0].min;
    return code * width(cr, i) + (saut - cr->sauts[i].min);
}

void checkSpacerBounds(const Criteres* cr) {
    for (int j = 0; j < cr->nbbloc - 1; j++) {
        if (cr->sauts[j].max < cr->sauts[j].min) {
            endRun(1, ">> Error: spacer %d: maximum length %d is lower than minimum length %d\n", j + 1,
                   cr->sauts[j].max, cr->sauts[j].min);
        }
    }
}

long long spacerCombinations(const Criteres* cr) {
    long long total = 1;
    for (int j = 0; j + 1 < cr->nbbloc; j++) {
        const long long w = static_cast<long long>(cr->sauts[j].max) - cr->sauts[j].min + 1;
        if (total > LLONG_MAX / w) return LLONG_MAX;
        total *= w;
    }
    return total;
}

void initTabSauts(Criteres* cr) {
    int k = cr->nbbloc - 1;
    // Spacer codes are ints: a table of more rows could not be indexed by them.
    long long total = spacerCombinations(cr);
    if (total > INT_MAX) fatalError("criteres: initTabSauts: cannot allocate 'code2Sauts'\n");
    int rows = static_cast<int>(total);
    releaseSpacerCodes();
    spacerCodes().rows = rows;
    // Zeroed, so that a table cut short by a failed allocation can be released.
    spacerCodes().code2Sauts = allocOrDie<int*>(
        static_cast<size_t>(rows), "criteres: initTabSauts: cannot allocate 'code2Sauts'\n", true);
    for (int r = 0; r < rows; r++)
        spacerCodes().code2Sauts[r] =
            allocArray<int>(k, "criteres: initTabSauts: cannot allocate 'code2Sauts[j]'\n");
    int remaining = rows;
    int rep = k == 1 ? 1 : recFillTab(1, cr, &remaining, spacerCodes().code2Sauts);
    fillColumn(0, cr, &remaining, spacerCodes().code2Sauts, rep);
}

int recFillTab(int i, Criteres* cr, int* remaining, int** table) {
    int rep = i != cr->nbbloc - 2 ? recFillTab(i + 1, cr, remaining, table) : 1;
    fillColumn(i, cr, remaining, table, rep);
    return width(cr, i) * rep;
}

void setCompoPal(Criteres* cr, char** args, int n) {
    cr->compo = allocArray<int>(alphabetTables().nbSymbMod, "initCriteres: cannot allocate 'cr->compo'\n");
    for (int b = 0; b < cr->nbbloc; b++)
        cr->compobloc[b] = allocArray<int>(alphabetTables().nbSymbMod, kCompoblocAllocMsg);
    cr->flagcompo = 0;
    for (int m = 0; m < alphabetTables().nbSymbMod; m++) cr->compo[m] = -1;
    for (int b = 0; b < cr->nbbloc; b++) {
        cr->flagcompobloc[b] = 0;
        for (int m = 0; m < alphabetTables().nbSymbMod; m++) cr->compobloc[b][m] = -1;
    }

    while (n > 0 && args[0][0] != 'p') {
        if (n < 2) {
            endRun(1, ">> Error: composition group '%s' has no number of pairs\n", args[0]);
        }
        int box = atoi(args[0]);
        int pairs = atoi(args[1]);
        if (box < 0 || box > cr->nbbloc) {
            endRun(1, ">> Error: composition group '%s %s': box %d is not between 0 and %d\n", args[0],
                   args[1], box, static_cast<int>(cr->nbbloc));
        }
        if (pairs < 0 || pairs > (n - 2) / 2) {
            endRun(
                1,
                ">> Error: composition group '%s %s' announces %d pairs but %d arguments remain after it\n",
                args[0], args[1], pairs, n - 2);
        }
        args += 2;
        n -= 2;
        for (int p = 0; p < pairs; p++) {
            int m = str2nummod(args[0]);
            if (m == -1) {
                fprintf(stderr,
                        "> Warning: composition in '%s' ignored, symbol is not in the models alphabet.\n",
                        args[0]);
            } else if (box == 0) {
                cr->flagcompo = 1;
                cr->compo[m] = atoi(args[1]);
            } else {
                cr->flagcompobloc[box - 1] = 1;
                cr->compobloc[box - 1][m] = atoi(args[1]);
            }
            args += 2;
            n -= 2;
        }
    }

    if (n == 0) return;
    cr->flagpal = 1;
    for (; n > 0; args++, n--) {
        int i = 0;
        int j = 0;
        if (!parsePal(args[0], &i, &j)) {
            endRun(1, ">> Error: palindrome argument '%s' is not of the form pI/J\n", args[0]);
        }
        if (i < 1 || i > cr->nbbloc || j < 1 || j > cr->nbbloc) {
            endRun(1, ">> Error: palindrome argument '%s': boxes must be between 1 and %d\n", args[0],
                   static_cast<int>(cr->nbbloc));
        }
        cr->palbloc[i - 1] = j - 1;
    }
}

int firstPalWithoutEarlierPartner(const Criteres* cr) {
    for (int b = 0; b < cr->nbbloc; b++)
        if (cr->palbloc[b] != -1 && cr->palbloc[b] >= b) return b;
    return -1;
}

int longestModel(const Criteres* cr) {
    if (cr->maxlong > 0) return cr->maxlong;
    if (cr->nbbloc < 2) return 0;
    long sum = 0;
    for (int b = 0; b < cr->nbbloc; ++b) {
        if (cr->bornesbloc[b].max <= 0) return 0;
        sum += cr->bornesbloc[b].max;
    }
    return sum > INT_MAX ? 0 : static_cast<int>(sum);
}

CriteresCopy::CriteresCopy(const Criteres* source, int symbols) : cr_(*source) {
    if (source->compo != nullptr) {
        compo_.assign(source->compo, source->compo + symbols);
        cr_.compo = compo_.data();
    }
    if (source->compobloc == nullptr) return;
    for (int b = 0; b < source->nbbloc; ++b) {
        const int* row = source->compobloc[b];
        rows_.push_back(row != nullptr ? std::vector<int>(row, row + symbols) : std::vector<int>());
    }
    for (auto& row : rows_) compobloc_.push_back(row.empty() ? nullptr : row.data());
    cr_.compobloc = compobloc_.data();
}

void releaseSpacerCodes() {
    SpacerCodes& codes = spacerCodes();
    if (codes.code2Sauts == nullptr) return;
    for (int r = 0; r < codes.rows; r++) free(codes.code2Sauts[r]);
    free(codes.code2Sauts);
    codes.code2Sauts = nullptr;
    codes.rows = 0;
}

void releaseCriteres(Criteres* cr) {
    for (int b = 0; cr->compobloc != nullptr && b < cr->nbbloc; b++) free(cr->compobloc[b]);
    for (void* p :
         {static_cast<void*>(cr->compobloc), static_cast<void*>(cr->errbloc), static_cast<void*>(cr->compo),
          static_cast<void*>(cr->bornesbloc), static_cast<void*>(cr->sauts),
          static_cast<void*>(cr->flagcompobloc), static_cast<void*>(cr->palbloc)})
        free(p);
#if MOTBOX_DELTA
    free(cr->deltas);
#endif
    *cr = Criteres{};
}
