#include "indexing.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

#include "alphabet.h"
#include "barre.h"
#include "cluster.h"
#include "command_line.h"
#include "construction.h"
#include "global.h"
#include "global_fonctions.h"
#include "memory_batches.h"
#include "memory_guard.h"
#include "quorum.h"
#include "run.h"
#include "sequences.h"

namespace {

// Builds the generalised suffix tree of the n texts truncated at window, with its banner and the progress
// meter on standard error.  Returns the root; colour sets are not yet propagated.
Noeud* buildSuffixTree(const char* textAlphabet, int n, int window) {
    progressNote("** Suffix tree construction **\n");
    barre(n);
    Init_All(textAlphabet, 0, n);
    Noeud* root = Construction_Arbre(sequenceTexts().text[0], window);
    barre(0);
    for (int i = 1; i < n; i++) {
        endRunIfStopped();
        root = AjouteSequence(root, sequenceTexts().text[i], window);
        barre(0);
    }
    progressNote("\n");
    return root;
}

// Makes the calling thread's huge batches come from a supplier (null: none) until the scope ends.
class SuppliedBatches {
  public:
    explicit SuppliedBatches(BatchSupplier* supplier) : before_(batchSupplierInUse) {
        batchSupplierInUse = supplier;
    }
    SuppliedBatches(const SuppliedBatches&) = delete;
    SuppliedBatches& operator=(const SuppliedBatches&) = delete;
    ~SuppliedBatches() { batchSupplierInUse = before_; }

  private:
    BatchSupplier* before_;
};

}  // namespace

int windowLength(const Criteres& cr) {
    bool noUpperLimit = cr.maxlong == 0;
    long long boxSum = 0;
    long long spacerSum = 0;
    for (int b = 0; cr.nbbloc >= 2 && b < cr.nbbloc; b++) {
        if (cr.bornesbloc[b].max == 0) noUpperLimit = true;
        boxSum += cr.bornesbloc[b].max;
        if (b < cr.nbbloc - 1) spacerSum += cr.sauts[b].max;
    }
    if (noUpperLimit) return INT_MAX;
    long long window = std::max(boxSum, static_cast<long long>(cr.maxlong)) + spacerSum;
    return static_cast<int>(std::clamp(window, 1LL, static_cast<long long>(INT_MAX)));
}

IndexedRun loadAndIndex(Criteres* cr, const RunInputs& in, const DriverMessages& m) {
    LoadedSequences loaded = loadSequences(OwnedFile(openInputOrRefuse(in.fastaFile, m.fastaOpen)).get());
    // The records go once the tree is built, or when the run is refused before.
    struct RecordsRelease {
        LoadedSequences& loaded;
        ~RecordsRelease() { freeFastaRecords(loaded); }
    } recordsRelease{loaded};
    IndexedRun run{loaded.count, loaded.count, loaded.longest, nullptr, nullptr};
    checkSequenceCount(run.nbseq, m);
    cr->longtext = loaded.totalLength;
    cr->quorum = computeQuorum(in.quorumPercent, run.nbseq);
    checkQuorum(cr->quorum, m);
    // The quorum follows from the count of sequences: its warning or refusal comes before a text is refused.
    checkTextCharacters(loaded);

    const OwnedFile alphabet(openInputOrRefuse(in.alphabetFile, m.alphabetOpen));
    initAlphabet();
    run.textAlphabet =
        chargeAlphabet(alphabet.get(), sequenceTexts().text, run.nbseq, in.options.bothStrands);
    if (run.textAlphabet == nullptr) fatalError(m.alphabetFormat);
    if (in.options.bothStrands) checkStrandsReadable(loaded, in.alphabetFile);
    setCompoPal(cr, in.tail, in.tailCount);
    checkPalindromes(*cr);
    transAlphMod(cr->flagpal);
    // The other processes of a cluster run read the same inputs once the first has accepted them.
    clusterInputsAccepted();

    if (in.buildTree) {
        // Both strands index every sequence twice.
        const int strands = in.options.bothStrands ? 2 : 1;
        const TreeSize tree{strands * loaded.totalLength, strands * run.nbseq,   loaded.longest, in.window,
                            alphabetTables().nbSymbSeq,   in.options.bothStrands};
        checkTreeMemory(tree, in.options.maxMemory, in.options.memoryReport);
        if (cr->nbbloc >= 2)
            checkSpacerTableMemory(spacerCombinations(cr), cr->nbbloc - 1, estimateTreeBytes(tree),
                                   in.options.maxMemory);
    }
    if (in.options.bothStrands) run.texts = addReverseStrands(loaded);
    if (!in.buildTree) return run;
    // On several threads, one makes the tree's memory resident ahead of the construction, and all colour it.
    const int threads = extractionThreads(in.options);
    std::optional<BatchSupplier> supplier;
    if (threads > 1) supplier.emplace();
    const SuppliedBatches supplied(supplier ? &*supplier : nullptr);
    run.root = buildSuffixTree(run.textAlphabet, run.texts, in.window);
    freeFastaRecords(loaded);
    UpdateBit_TabForAllTree(run.root, threads);
    return run;
}
