#include "command_line.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "run_exit.h"

namespace {

constexpr int kArgAlphabet = 1;
constexpr int kArgFasta = 2;
constexpr int kArgOutput = 3;
constexpr int kArgQuorum = 4;
constexpr int kArgBoxes = 5;
constexpr int kArgMinLength = 6;
constexpr int kArgMaxLength = 7;
constexpr int kArgSubstitutions = 8;
constexpr int kFixedArguments = 8;
constexpr int kArgsPerBox = 3;

[[noreturn]] void refuseShortCommandLine(int given, int needed, const CommandLineRules& rules) {
    char line[96];
    snprintf(line, sizeof line, ">> Error: missing arguments: %d given, %d needed\n", given, needed);
    endRunWith(1, line + textPrintedBy(rules.printUsage));
}

// Arguments the positional layout takes for nbbloc boxes (a single box has no groups).
int positionalArguments(int nbbloc) {
    if (nbbloc < 2) return kFixedArguments;
    return kFixedArguments + kArgsPerBox * nbbloc + kArgsPerSpacer * (nbbloc - 1);
}

void readBoxGroups(char** argv, Criteres* cr) {
    int a = kFixedArguments + 1;
    for (int b = 0; b < cr->nbbloc; b++) {
        cr->bornesbloc[b].min = atoi(argv[a++]);
        cr->bornesbloc[b].max = atoi(argv[a++]);
        cr->errbloc[b] = atoi(argv[a++]);
        if (b < cr->nbbloc - 1) {
            cr->sauts[b].min = atoi(argv[a++]);
            cr->sauts[b].max = atoi(argv[a++]);
#if MOTBOX_DELTA
            cr->deltas[b] = atoi(argv[a++]);
#endif
        }
    }
}

[[noreturn]] void refuseArgument(int index, const std::string& what, int value, int low, int high) {
    endRun(1, ">> Error: argument %d (%s) is %d: it must be between %d and %d\n", index, what.c_str(), value,
           low, high);
}

void checkRange(int index, const std::string& what, int value, int low = -kMaxArgumentMagnitude,
                int high = kMaxArgumentMagnitude) {
    if (value < low || value > high) refuseArgument(index, what, value, low, high);
}

// The limits of the composition groups, read as setCompoPal reads them.
void checkCompositionRanges(char** args, int first, int n, int nbbloc) {
    int a = first;
    while (n > 0 && args[a][0] != 'p' && n >= 2) {
        int box = atoi(args[a]);
        int pairs = atoi(args[a + 1]);
        if (box < 0 || box > nbbloc || pairs < 0 || pairs > (n - 2) / 2) return;
        a += 2;
        n -= 2;
        for (int p = 0; p < pairs; p++, a += 2, n -= 2)
            checkRange(a + 1,
                       "composition limit of '" + std::string(args[a]) + "' in box " + std::to_string(box),
                       atoi(args[a + 1]));
    }
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv, Criteres* cr, const CommandLineRules& rules) {
    int given = argc - 1;
    if (given < kFixedArguments) refuseShortCommandLine(given, kFixedArguments, rules);
    CommandLine cl{argv[kArgAlphabet], argv[kArgFasta], argv[kArgOutput], 0, 0, 0};
    cl.quorumPercent = static_cast<float>(atof(argv[kArgQuorum]));
    cr->nbbloc = static_cast<signed char>(atoi(argv[kArgBoxes]));
    if (cr->nbbloc < rules.minBoxes) rules.refuseBoxes(argv[kArgBoxes]);
    int needed = positionalArguments(cr->nbbloc);
    if (given < needed) refuseShortCommandLine(given, needed, rules);

    allocBloc(cr, cr->nbbloc);
    cr->minlong = atoi(argv[kArgMinLength]);
    cr->maxlong = atoi(argv[kArgMaxLength]);
    cr->maxerr = atoi(argv[kArgSubstitutions]);
    if (cr->nbbloc >= 2) readBoxGroups(argv, cr);
    cl.tailStart = needed + 1;
    cl.tailCount = argc - cl.tailStart;
    return cl;
}

void checkArgumentRanges(char** argv, const Criteres& cr, const CommandLine& cl) {
    checkRange(kArgMinLength, "total minimum length", cr.minlong);
    checkRange(kArgMaxLength, "total maximum length", cr.maxlong);
    checkRange(kArgSubstitutions, "total substitutions", cr.maxerr);
    int a = kFixedArguments + 1;
    for (int b = 0; cr.nbbloc >= 2 && b < cr.nbbloc; b++) {
        const std::string box = " of box " + std::to_string(b + 1);
        checkRange(a++, "minimum length" + box, cr.bornesbloc[b].min);
        checkRange(a++, "maximum length" + box, cr.bornesbloc[b].max);
        checkRange(a++, "substitutions" + box, cr.errbloc[b]);
        if (b == cr.nbbloc - 1) break;
        const std::string spacer = " of spacer " + std::to_string(b + 1);
        checkRange(a++, "minimum length" + spacer, cr.sauts[b].min);
        // A spacer cannot be shorter than nothing: a negative minimum counts from 0, a negative maximum
        // leaves no length at all.
        checkRange(a++, "maximum length" + spacer, cr.sauts[b].max, 0);
#if MOTBOX_DELTA
        checkRange(a++, "Delta" + spacer, cr.deltas[b], 0);
#endif
    }
    checkCompositionRanges(argv, cl.tailStart, cl.tailCount, cr.nbbloc);
}

void checkPalindromes(const Criteres& cr) {
    int box = firstPalWithoutEarlierPartner(&cr);
    if (box == -1) return;
    if (cr.nbbloc < 2) endRunWith(1, ">> Error: palindrome declarations need a run of at least two boxes\n");
    endRun(1, ">> Error: box %d cannot be the palindrome of box %d: the partner must be an earlier box\n",
           box + 1, cr.palbloc[box] + 1);
}

void checkRankOnlyOutput(const char* outputFile) {
    if (strcmp(outputFile, "stdout") == 0)
        endRunWith(1, ">> Error: main: --rank-only reads the models from OUTPUT, which cannot be stdout\n");
}
