#include "sequences.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "alphabet.h"
#include "global.h"
#include "run_exit.h"
#include "strands.h"

namespace {

SequenceTexts processTexts;

}  // namespace

constinit thread_local SequenceTexts* textsInUse = &processTexts;

namespace {

constexpr int kInitialEntries = 500;

// Enlarges the record and text arrays to newCapacity slots; false when either cannot be enlarged.
bool growEntryArrays(LoadedSequences& loaded, int newCapacity) {
    auto* records = static_cast<FastaSequence**>(
        realloc(loaded.records, static_cast<size_t>(newCapacity) * sizeof(FastaSequence*)));
    if (records == nullptr) return false;
    loaded.records = records;
    auto* texts =
        static_cast<char**>(realloc(sequenceTexts().text, static_cast<size_t>(newCapacity) * sizeof(char*)));
    if (texts == nullptr) return false;
    sequenceTexts().text = texts;
    loaded.capacity = newCapacity;
    return true;
}

// Copies an entry into a fresh text block followed by the terminator the tree needs.
char* makeText(const FastaSequence& entry) {
    auto* t = allocOrDie<char>(static_cast<size_t>(entry.length) + 3, "main: cannot allocate 'text'\n");
    memcpy(t, entry.seq, static_cast<size_t>(entry.length));
    t[entry.length] = '$';
    t[entry.length + 1] = '\0';
    return t;
}

void readEntries(FILE* fp, NewRecordFn newRecord, ReadRecordFn readRecord, LoadedSequences& loaded);

[[noreturn]] void refuseIncompleteEntry(int k, const FastaSequence& entry) {
    char msg[160];
    snprintf(msg, sizeof msg, "main: cannot allocate the text of sequence %d ('%s')", k, entry.name);
    fatalError(msg);
}

// Sequence i's reverse complement, in a text block of its own followed by the terminator.
char* reverseComplementText(const char* forward, int length) {
    auto* t = allocOrDie<char>(static_cast<size_t>(length) + 3, "main: cannot allocate 'text'\n");
    for (int p = 0; p < length; p++) t[length - 1 - p] = complementBase(forward[p]);
    t[length] = '$';
    t[length + 1] = '\0';
    return t;
}

}  // namespace

LoadedSequences loadSequences(FILE* fp, NewRecordFn newRecord, ReadRecordFn readRecord) {
    LoadedSequences loaded;
    loaded.records = static_cast<FastaSequence**>(malloc(kInitialEntries * sizeof(FastaSequence*)));
    sequenceTexts().text = static_cast<char**>(malloc(kInitialEntries * sizeof(char*)));
    if (loaded.records == nullptr || sequenceTexts().text == nullptr)
        fatalError("main: seq/text: cannot allocate\n");
    loaded.capacity = kInitialEntries;
    try {
        readEntries(fp, newRecord, readRecord, loaded);
    } catch (...) {
        freeFastaRecords(loaded);
        throw;
    }
    return loaded;
}

namespace {

void readEntries(FILE* fp, NewRecordFn newRecord, ReadRecordFn readRecord, LoadedSequences& loaded) {
    for (int k = 0;; k++) {
        if (k == loaded.capacity && !growEntryArrays(loaded, 2 * loaded.capacity))
            fatalError("main: seq/text: cannot reallocate\n");
        FastaSequence* entry = newRecord();
        if (entry == nullptr) fatalError("main: cannot allocate a FASTA record");
        if (!readRecord(fp, entry)) {
            // The end of the file: this last record holds nothing.
            FreeFastaSequence(entry);
            break;
        }
        loaded.records[k] = entry;
        loaded.count = k + 1;
        if (!entry->ok) refuseIncompleteEntry(k, *entry);
        loaded.totalLength += entry->length;
        if (entry->length > loaded.longest) loaded.longest = entry->length;
        sequenceTexts().text[k] = makeText(*entry);
        sequenceTexts().count = k + 1;
    }
}

}  // namespace

void freeFastaRecords(LoadedSequences& loaded) {
    if (loaded.records == nullptr) return;
    for (int k = 0; k < loaded.count; k++) FreeFastaSequence(loaded.records[k]);
    free(loaded.records);
    loaded.records = nullptr;
}

void freeTexts(int n) {
    if (sequenceTexts().text == nullptr) return;
    for (int k = 0; k < n; k++) free(sequenceTexts().text[k]);
    free(sequenceTexts().text);
    sequenceTexts().text = nullptr;
    sequenceTexts().count = 0;
}

void checkSequenceCount(int n, const DriverMessages& m) {
    if (n == 0) fatalError(m.noSequence);
    if (n == 1) fatalError(m.oneSequence);
}

void checkTextCharacters(const LoadedSequences& loaded) {
    for (int s = 0; s < loaded.count; s++) {
        const char* t = sequenceTexts().text[s];
        // The first "$" or NUL byte, whichever comes first, found by the library's word-wide scans.
        const size_t length = static_cast<size_t>(loaded.records[s]->length);
        const auto* dollar = static_cast<const char*>(memchr(t, '$', length));
        const size_t dollarAt = dollar != nullptr ? static_cast<size_t>(dollar - t) : length;
        const size_t nulAt = strnlen(t, length);
        if (dollarAt < nulAt) {
            endRun(1, ">> Error: Seq %d Pos %d Forbidden character %d ('%c') in the sequences\n", s,
                   static_cast<int>(dollarAt), '$', '$');
        }
        if (nulAt < length) {
            // Written like the other control characters, the byte itself between the quotes.
            endRun(1, ">> Error: Seq %d Pos %d Control character %d ('%c')\n", s, static_cast<int>(nulAt), 0,
                   '\0');
        }
    }
}

void checkStrandsReadable(const LoadedSequences& loaded, const char* alphabetFile) {
    if (alphabetTables().type != 0) {
        endRun(
            1,
            ">> Error: --both-strands needs a nucleotide alphabet, and alphabet file '%s' does not declare "
            "one (its header line must hold the word \"Nucleotide\")\n",
            alphabetFile);
    }
    for (int s = 0; s < loaded.count; s++)
        for (int p = 0; p < loaded.records[s]->length; p++)
            if (complementBase(sequenceTexts().text[s][p]) == 0) {
                endRun(1, ">> Error: --both-strands: Seq %d Pos %d character '%c' has no complement\n", s, p,
                       sequenceTexts().text[s][p]);
            }
}

int addReverseStrands(const LoadedSequences& loaded) {
    const int n = loaded.count;
    auto* paired = static_cast<char**>(malloc(2 * static_cast<size_t>(n) * sizeof(char*)));
    if (paired == nullptr) fatalError("main: seq/text: cannot reallocate\n");
    std::vector<int32_t> lengths(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        lengths[static_cast<size_t>(i)] = loaded.records[i]->length;
        paired[2 * i] = sequenceTexts().text[i];
        paired[2 * i + 1] = reverseComplementText(sequenceTexts().text[i], loaded.records[i]->length);
    }
    free(sequenceTexts().text);
    sequenceTexts().text = paired;
    sequenceTexts().count = 2 * n;
    setStrandPairs(std::move(lengths));
    return 2 * n;
}
