#include "parameter_report.h"

#include <cstdio>

#include "alphabet.h"
#include "barre.h"

namespace {

void printBoxSection(const Criteres& cr, int box, const DriverMessages& m) {
    printf("\nBOX %d\n", box + 1);
    printf("Min length:                    %d\n", cr.bornesbloc[box].min);
    if (cr.bornesbloc[box].max != 0)
        printf("Max length:                    %d\n", cr.bornesbloc[box].max);
    else
        printf("Max length:                    MAX\n");
    printf("Max number of subst.:          %d\n", cr.errbloc[box]);
    if (box < cr.nbbloc - 1) {
        printf("Min spacer length:             %d\n", cr.sauts[box].min);
        printf("Max spacer length:             %d\n", cr.sauts[box].max);
#if MOTBOX_DELTA
        printf("Delta     :                    %d\n", cr.deltas[box]);
#endif
    }
    if (cr.flagcompobloc[box]) {
        for (int j = 0; j < alphabetTables().nbSymbMod; j++)
            if (cr.compobloc[box][j] != -1)
                printf(m.boxCompositionFormat, alphabetTables().nummod2str[j], cr.compobloc[box][j]);
    }
    if (cr.palbloc[box] != -1) printf("Palindrom of box:              %d\n", cr.palbloc[box] + 1);
}

}  // namespace

void printParameterReport(const Criteres& cr, const ReportInput& in, const DriverMessages& m) {
    if (progressMeter().quiet) return;
    printf("Extraction is going to be made with the following parameters:\n");
    printf("FASTA file:                    %s\n", in.fastaFile);
    printf("Alphabet file:                 %s\n", in.alphabetFile);
    printf("Output file:                   %s\n", in.outputFile);
    printf("Total min length:              %d\n", cr.minlong);
    if (cr.maxlong != 0)
        printf("Total max length:              %d\n", cr.maxlong);
    else
        printf("Total max length:              MAX\n");
    printf("Boxes:                         %d\n", cr.nbbloc);
    printf("Total number of subst.:        %d\n", cr.maxerr);
    if (in.bothStrands) printf("Strands:                       both\n");
    printf("Quorum:                        %f%% (%d sequences in %d)\n\n", in.quorumPercent, cr.quorum,
           in.nbseq);
    if (cr.flagcompo) {
        for (int j = 0; j < alphabetTables().nbSymbMod; j++)
            if (cr.compo[j] != -1)
                printf("Total max composition in %s:    %d\n", alphabetTables().nummod2str[j], cr.compo[j]);
    }
    if (cr.nbbloc >= 2) {
        for (int b = 0; b < cr.nbbloc; b++) printBoxSection(cr, b, m);
    }
    fputs("\n                   ------ CHECK THESE PARAMETERS! ------\n", stderr);
}
