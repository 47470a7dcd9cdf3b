#include "criteres_delta.h"

#include <algorithm>
#include <climits>

#include "global.h"
#include "result_header.h"

namespace {

int nbSpacers(const Criteres* cr) {
    return cr->nbbloc - 1;
}

// Creates one result file named by path, lists it and gives it its reserved header.
FILE* createResultFile(const std::string& path, FILE* namelist, int headerBlankLines) {
    FILE* out = fopen(path.c_str(), "w");
    if (out == nullptr) return nullptr;
    fprintf(namelist, "%s\n", path.c_str());
    writeReservedHeader(out, headerBlankLines);
    return out;
}

}  // namespace

void appendWindowName(std::string& path, int low, int high) {
    path += '[';
    path += std::to_string(low);
    path += '-';
    path += std::to_string(high);
    path += ']';
}

int nbFenetres(const Criteres* cr, int i) {
    // Computed wide: extreme bounds or Delta must not wrap around into a plausible count.
    long long w = static_cast<long long>(cr->sauts[i].max) - cr->sauts[i].min - 2LL * cr->deltas[i] + 1;
    return static_cast<int>(std::clamp<long long>(w, INT_MIN, INT_MAX));
}

int nbFichiers(const Criteres* cr) {
    long long product = 1;
    for (int i = 0; i < nbSpacers(cr); i++) {
        int w = nbFenetres(cr, i);
        if (w <= 0) return 0;
        product *= w;
        if (product > INT_MAX) return -1;
    }
    return static_cast<int>(product);
}

int initFiles(FILE** table, const char* outname, const Criteres* cr, int headerBlankLines) {
    std::string path = outname;
    FILE* namelist = fopen(kNameFile, "w");
    if (namelist == nullptr) return 0;
    std::vector<int> centres(static_cast<size_t>(nbSpacers(cr) > 0 ? nbSpacers(cr) : 1));
    FILE** end = recInitFiles(table, 0, cr, path, centres, namelist, headerBlankLines);
    // A name list that could not be written in full would hide result files: report it as a failure.
    bool listed = !ferror(namelist);
    listed = fclose(namelist) == 0 && listed;
    return end != nullptr && listed ? 1 : 0;
}

FILE** recInitFiles(FILE** next, int j, const Criteres* cr, std::string& path, std::vector<int>& centres,
                    FILE* namelist, int headerBlankLines) {
    size_t stem = path.size();
    if (j == nbSpacers(cr)) {
        FILE* out = createResultFile(path, namelist, headerBlankLines);
        if (out == nullptr) return nullptr;
        *next = out;
        return next + 1;
    }
    int h = cr->deltas[j];
    for (int c = cr->sauts[j].min + h; c + h <= cr->sauts[j].max; c++) {
        centres[static_cast<size_t>(j)] = c;
        appendWindowName(path, c - h, c + h);
        next = recInitFiles(next, j + 1, cr, path, centres, namelist, headerBlankLines);
        if (next == nullptr) return nullptr;
        path.resize(stem);
    }
    return next;
}

int delta2File(const int* centres, const Criteres* cr) {
    int r = centres[0] - cr->sauts[0].min - cr->deltas[0];
    for (int i = 1; i < nbSpacers(cr); i++)
        r = r * nbFenetres(cr, i) + (centres[i] - cr->sauts[i].min - cr->deltas[i]);
    return r;
}

int file2Delta(int k, int* digits, const Criteres* cr) {
    // A negative number would leave k at 0 after the divisions and pass for a file number.
    bool negative = k < 0;
    for (int i = nbSpacers(cr) - 1; i >= 0; i--) {
        int w = nbFenetres(cr, i);
        digits[i] = k % w;
        k /= w;
    }
    if (k != 0 || negative) {
        warning("file2Delta: conversion error");
        return 0;
    }
    return 1;
}
