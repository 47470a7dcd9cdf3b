// The command-line reader of either program (built twice, once with MOTBOX_DELTA): the options, the
// positional layout, the number guard, the tail of compositions and palindromes, the window and, when
// small enough, the spacer tables and motbox-delta's result file numbering.  Input: the arguments, one per
// line or separated by blanks.
#include "command_line.h"
#include "criteres.h"
#include "fuzz_support.h"
#include "indexing.h"
#include "options.h"
#include "run.h"
#include "run_exit.h"
#include "sequences.h"
#if MOTBOX_DELTA
#include "criteres_delta.h"
#endif

namespace {

void usage(FILE*) {}
[[noreturn]] void refuseBoxes(const char*) {
    endRunWith(1, "");
}
constexpr ProgramInfo kProgram = {"fuzz", "0", usage};
constexpr CommandLineRules kRules = {MOTBOX_DELTA ? 2 : 1, refuseBoxes, usage};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietStdout();
    return 0;
}

namespace {

// The alphabet the command lines are read with.
void loadAlphabet() {
    static char text[] = "ACGTTGCA$";
    static char* texts[] = {text};
    FILE* f = fuzz::memoryFile("Nucleotide\nA\nC\nG\nT\nAG\nCT\n*\n");
    initAlphabet();
    if (chargeAlphabet(f, texts, 1) == nullptr) abort();
    transAlphMod(1);
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> w = fuzz::words(std::string(reinterpret_cast<const char*>(data), size));
    if (w.size() > 400) return 0;
    std::vector<char*> argv = {const_cast<char*>("fuzz")};
    for (std::string& s : w) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(argv.size()) - 1;
    // Each input in a run of its own, which releases the criteria and tables it fills.
    Run run;
    RunBinding bound(&run);
    loadAlphabet();
    fuzz::catchingExits([&] {
        Criteres& cr = run.criteres;
        RunOptions options;
        const int skipped = readOptions(argc, argv.data(), kProgram, &options) - 1;
        char** args = argv.data() + skipped;
        CommandLine cl = parseCommandLine(argc - skipped, args, &cr, kRules);
        checkSpacerBounds(&cr);
        checkArgumentRanges(args, cr, cl);
        if (windowLength(cr) < 1) abort();
        setCompoPal(&cr, args + cl.tailStart, cl.tailCount);
        checkPalindromes(cr);
        long long rows = 1;
        for (int j = 0; j + 1 < cr.nbbloc && rows <= 4096; j++)
            rows *= std::max(0LL, static_cast<long long>(cr.sauts[j].max) - cr.sauts[j].min + 1);
#if MOTBOX_DELTA
        for (int j = 0; j + 1 < cr.nbbloc; j++)
            if (cr.sauts[j].min < 0 || cr.deltas[j] < 0) return;  // refused by the driver first
        const int files = nbFichiers(&cr);
        if (files <= 0 || files > 4096) return;
        std::vector<int> digits(static_cast<size_t>(cr.nbbloc));
        for (int k = 0; k < files; k++)
            if (file2Delta(k, digits.data(), &cr) != 1) abort();
#endif
        if (cr.nbbloc >= 2 && rows <= 4096) initTabSauts(&cr);
    });
    return 0;
}
