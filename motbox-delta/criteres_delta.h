#pragma once
// Spacer windows and the result files of motbox-delta: each spacer's range is cut into overlapping windows
// of 2 x Delta + 1 lengths, and every combination of one window per spacer has a result file of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "criteres.h"

// Name of the list of result file names, created in the current directory.
inline constexpr const char* kNameFile = ".namefile";

// Appends to a result file name the window of one spacer: "[low-high]".
void appendWindowName(std::string& path, int low, int high);
// Number of windows of spacer i: max - min - 2 x Delta + 1 (a Delta of 0 gives one window per length).
// Zero or less when the range is narrower than one window.
int nbFenetres(const Criteres* cr, int i);
// Number of result files: the product of the window counts of all spacers.  Returns 0 when a spacer has
// no window, -1 when the product exceeds the int range.
int nbFichiers(const Criteres* cr);

// Creates ".namefile", then every result file in file-number order, each starting with the reserved header
// of headerBlankLines blank lines and the separator; fills table[0..N-1].  Returns 1 on success, 0 when
// ".namefile" or a result file cannot be created (the files created before stay open and listed), or when
// ".namefile" could not be written in full.
int initFiles(FILE** table, const char* outname, const Criteres* cr, int headerBlankLines = 3);
// Creates the result files of every window combination of spacers j onward, path holding the output name
// and the windows of spacers 0 to j-1.  Returns the table entry after the last file created, or nullptr
// when a file cannot be created.
FILE** recInitFiles(FILE** next, int j, const Criteres* cr, std::string& path, std::vector<int>& centres,
                    FILE* namelist, int headerBlankLines);
// File number of the window combination whose centres (one per spacer) are given.
int delta2File(const int* centres, const Criteres* cr);
// Writes into digits[i] the window digit (centre - min - Delta) of spacer i in file k.  Returns 1, or 0
// after the warning "file2Delta: conversion error" when k is not a file number (digits filled anyway).
int file2Delta(int k, int* digits, const Criteres* cr);
