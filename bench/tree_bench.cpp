// Times the construction of the truncated generalised suffix tree of the
// first entries of a FASTA file, the way the programs build it: every text
// upper-cased and ended by "$", the first one built, the others added, then
// the colour sets propagated.
//
// Usage: tree_bench FASTA ENTRIES WINDOW [--dump] [--threads N]
// Prints one line of figures on standard output; with --dump, the tree's
// verbose dump instead (see tree_dump_compare.sh).  The colour sets are
// propagated on N threads (default 1).

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocateurs.h"
#include "construction.h"
#include "global_fonctions.h"
#include "liste_pos.h"

namespace {

// The sequences of the first `limit` entries, upper-cased, each ended by "$".
std::vector<std::string> readFirstEntries(const char* path, int limit) {
    std::vector<std::string> texts;
    FILE* in = fopen(path, "r");
    if (in == nullptr) {
        fprintf(stderr, "tree_bench: cannot open %s\n", path);
        exit(1);
    }
    char line[4096];
    bool skipping = false;
    while (fgets(line, sizeof line, in) != nullptr) {
        if (line[0] == '>') {
            if (static_cast<int>(texts.size()) == limit) break;
            texts.emplace_back();
            skipping = false;
            continue;
        }
        if (texts.empty() || skipping) continue;
        for (const char* c = line; *c != '\0'; ++c)
            if (isalnum(static_cast<unsigned char>(*c))) texts.back() += static_cast<char>(toupper(*c));
    }
    fclose(in);
    for (std::string& t : texts) t += '$';
    return texts;
}

// The characters of the texts in increasing code order, then "$".
std::string textAlphabet(const std::vector<std::string>& texts) {
    bool present[256] = {};
    for (const std::string& t : texts)
        for (unsigned char c : t) present[c] = true;
    std::string alphabet;
    for (int c = 0; c < 256; ++c)
        if (present[c] && c != '$') alphabet += static_cast<char>(c);
    return alphabet + '$';
}

int32_t recordsIn(const PoolAlloc& pool) {
    int32_t n = 0;
    for (const CelluleAlloc* page = pool.premiere; page != nullptr; page = page->suivante) n += page->nb_pris;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    bool dump = false;
    int threads = 1;
    bool wrongArguments = argc < 4;
    for (int a = 4; a < argc && !wrongArguments; ++a) {
        if (strcmp(argv[a], "--dump") == 0) {
            dump = true;
        } else if (strcmp(argv[a], "--threads") == 0 && a + 1 < argc && atoi(argv[a + 1]) > 0) {
            threads = atoi(argv[++a]);
        } else {
            wrongArguments = true;
        }
    }
    if (wrongArguments) {
        fputs("usage: tree_bench FASTA ENTRIES WINDOW [--dump] [--threads N]\n", stderr);
        return 1;
    }
    const int entries = atoi(argv[2]);
    const int32_t window = static_cast<int32_t>(strtol(argv[3], nullptr, 10));
    std::vector<std::string> texts = readFirstEntries(argv[1], entries);
    if (texts.empty()) {
        fputs("tree_bench: no sequence read\n", stderr);
        return 1;
    }
    long long totalLength = 0;
    for (const std::string& t : texts) totalLength += static_cast<long long>(t.size());
    const std::string alphabet = textAlphabet(texts);

    const auto start = std::chrono::steady_clock::now();
    Init_All(alphabet.c_str(), 0, static_cast<int32_t>(texts.size()));
    Noeud* root = Construction_Arbre(texts[0].data(), window);
    for (size_t k = 1; k < texts.size(); ++k) root = AjouteSequence(root, texts[k].data(), window);
    const auto built = std::chrono::steady_clock::now();
    UpdateBit_TabForAllTree(root, threads);
    const auto end = std::chrono::steady_clock::now();
    const std::chrono::duration<double> elapsed = end - start;
    const std::chrono::duration<double> colouring = end - built;

    if (dump) {
        Print_Tree(root, 1, 1);
        Free_Arbre();
        return 0;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf(
        "entries %zu  characters %lld  alphabet %s  window %d  construction %.3f s (colours %.3f s)  "
        "nodes %d  leaves %d  cells %d  peak RSS %ld kB\n",
        texts.size(), totalLength, alphabet.c_str(), window, elapsed.count(), colouring.count(),
        recordsIn(treeState().Noeud_Alloc), recordsIn(treeState().Feuille_Alloc),
        treeState().Liste_positions_fin->nb_elements, usage.ru_maxrss);
    Free_Arbre();
    return 0;
}
