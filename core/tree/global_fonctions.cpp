#include "global_fonctions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "allocateurs.h"
#include "bit_tab.h"
#include "liste_pos.h"

namespace {

constexpr unsigned char kNoLetter = 255;
constexpr int kIndentCapacity = 1000;

Noeud* asNoeud(void* x) {
    return static_cast<Noeud*>(x);
}
Feuille* asFeuille(void* x) {
    return static_cast<Feuille*>(x);
}

const char* currentText() {
    return treeState().Sequence[treeState().current_sequence];
}

unsigned char letterOf(char c) {
    return treeState().Translation_Table[static_cast<unsigned char>(c)];
}

const char* labelText(const void* x) {
    return treeState().Sequence[numSeqOf(x)];
}

void setLeafStart(Feuille* leaf, int32_t start) {
    leaf->debut = start | MARQUE_FEUILLE;
}

Feuille* newLeaf(int32_t start, int32_t end) {
    Feuille* leaf = Alloc_Feuille();
    setLeafStart(leaf, start);
    appendLeafEnd(leaf, end, 0);
    return leaf;
}

// The word T[s..e) ends exactly at a closed leaf of the same length: a new
// occurrence of that leaf's word, unless the current sequence already
// recorded this very end.  The leaf is re-anchored on the current text.
void recordOccurrenceAtLeaf(Feuille* leaf, int32_t s, int32_t e) {
    const int32_t end = leafRecordedEnd(leaf);
    if (end == -1 || seg_taille(leaf) != e - s) return;
    if (leaf->num_seq == treeState().current_sequence && end == e) return;
    setLeafStart(leaf, s);
    if (leaf->num_seq != treeState().current_sequence) {
        appendLeafEnd(leaf, e, 1);
        addNewestBitTabValue(&leaf->bit_tab, treeState().current_sequence);
        leaf->num_seq = treeState().current_sequence;
    } else {
        appendLeafEnd(leaf, e, 0);
    }
}

// The path reached leaf n with T[s..e) still to spell.
void* reachLeaf(Feuille* leaf, int32_t s, int32_t e, int32_t* etat) {
    *etat = 2;
    const int32_t len = seg_taille(leaf);
    if (len < e - s) {
        setLeafStart(leaf, s - len);
        setLeafEnd(leaf, e);
        return leaf;
    }
    if (len == e - s) recordOccurrenceAtLeaf(leaf, s, e);
    return leaf;
}

// T[s..e-1) ends inside child's edge and T[e-1] differs from the label:
// a new node takes the matched part of the edge and a new leaf hangs below it.
void* splitEdge(Noeud* n, void* child, int32_t s, int32_t e, void** pere) {
    const int32_t childStart = labelStart(child);
    const int32_t split = childStart + (e - s) - 1;
    Noeud* m = Alloc_Noeud();
    m->debut = childStart;
    m->num_seq = isFeuille(child) ? asFeuille(child)->num_seq : asNoeud(child)->num_seq;
    m->fin = split;
    setSuffixLink(m, n);  // parent of the split edge, read by the next extension
    if (isFeuille(child))
        setLeafStart(asFeuille(child), split);
    else
        asNoeud(child)->debut = split;
    Ajoute_Fils_Au_Noeud(m, child);
    Feuille* leaf = newLeaf(e - 1, e);
    *pere = m;
    Ajoute_Fils_Au_Noeud(n, m);
    Ajoute_Fils_Au_Noeud(m, leaf);
    return leaf;
}

void printLeaf(Feuille* leaf) {
    printf("Feuille (%p): %d->(", static_cast<void*>(leaf), labelStart(leaf));
    const ListePositions* cells = treeState().Liste_positions_fin;
    for (int32_t c = leaf->dernier_indice; cells != nullptr && c >= 0 && c < cells->nb_elements;) {
        const int32_t v = cells->valeurs[c];
        printf("%d,", v == -1 ? -treeState().global_indice : v);
        const int32_t link = cells->suivants[c];
        if (link & MARQUE_CHANGE_SEQ) fputs("-,", stdout);
        c = link & ~MARQUE_CHANGE_SEQ;
        if (c == FIN_CHAINE) break;
    }
    fputs(") [", stdout);
    printBitTab(leaf->bit_tab);
    printf("] {%d}= (", nbSequenceInBitTab(leaf->bit_tab));
    const char* text = labelText(leaf);
    for (int32_t k = labelStart(leaf); k < labelEnd(leaf); ++k) putchar(text[k]);
    puts(")");
}

void printNodeHeader(Noeud* node, const char* indent) {
    printf("Noeud (%p): %d->%d (", static_cast<void*>(node), node->debut, node->fin);
    const char* text = treeState().Sequence[node->num_seq];
    const int32_t last = node->fin - 1 > 0 ? node->fin - 1 : 0;
    for (int32_t k = node->debut; k <= last; ++k) putchar(text[k]);
    fputs(") [", stdout);
    printBitTab(node->bit_tab);
    printf("]{%d}\n%s       sl : %p\n%s       fils :\n", nbSequenceInBitTab(node->bit_tab), indent,
           static_cast<void*>(suffixLinkOf(node)), indent);
}

}  // namespace

void Init_All(const char* alphabet, int flag, int32_t n) {
    initBitTab(n);
    const auto length = static_cast<int32_t>(strlen(alphabet));
    memset(treeState().Translation_Table, flag == 0 ? kNoLetter : 0, sizeof treeState().Translation_Table);
    const int32_t shift = flag == 0 ? 0 : 1;
    for (int32_t i = 0; i < length; ++i)
        treeState().Translation_Table[static_cast<unsigned char>(alphabet[i])] =
            static_cast<unsigned char>(i + shift);
    treeState().ALPHA_CARD = length + shift;
    // The node slots hold the child arrays, so the pools open once the alphabet is known.
    Init_Allocateurs();
    // The texts belong to the driver; only the array of pointers is ours.
    free(treeState().Sequence);
    treeState().Sequence = static_cast<char**>(calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(char*)));
    if (treeState().Sequence == nullptr) treeOutOfMemory();
    treeState().current_sequence = 0;
}

void Ajoute_Fils_Au_Noeud(void* parent, void* child) {
    if (parent == nullptr || child == nullptr || isFeuille(parent)) return;
    const unsigned char letter = letterOf(labelText(child)[labelStart(child)]);
    // A character outside the alphabet has no slot; writing it would land past the array.
    if (letter >= treeState().ALPHA_CARD) return;
    Noeud* node = asNoeud(parent);
    setChild(node, letter, child);
    if (letter < kMaskedSlots) {
        const uint32_t bit = 1u << letter;
        node->nodeChildren = isFeuille(child) ? node->nodeChildren & ~bit : node->nodeChildren | bit;
    }
}

void* Get_Child_Start_Letter(void* node, int32_t p) {
    const unsigned char letter = letterOf(currentText()[p]);
    if (letter == kNoLetter || letter >= treeState().ALPHA_CARD || node == nullptr || isFeuille(node))
        return nullptr;
    return childIn(asNoeud(node), letter);
}

Noeud* makeSuperRacine(Noeud* racine) {
    Noeud* superRacine = Alloc_Noeud();
    superRacine->num_seq = 0;
    racine->debut = 0;
    racine->fin = 1;
    racine->num_seq = 0;
    // The root hangs in the slot of "$", whatever its label now reads.
    const unsigned char slot = treeState().Translation_Table[static_cast<unsigned char>('$')];
    setChild(superRacine, slot, racine);
    if (slot < kMaskedSlots) superRacine->nodeChildren |= 1u << slot;
    return superRacine;
}

void* Add_Fast_String(void* n, int32_t s, int32_t e, int32_t* etat, void** pere) {
    const char* text = currentText();
    for (;;) {
        if (n == nullptr) return nullptr;
        if (s >= e) {  // nothing left to spell: the word ends at n
            *etat = 0;
            return n;
        }
        if (isFeuille(n)) return reachLeaf(asFeuille(n), s, e, etat);
        Noeud* node = asNoeud(n);
        const unsigned char letter = letterOf(text[s]);
        void* child = letter < treeState().ALPHA_CARD ? childIn(node, letter) : nullptr;
        if (child == nullptr) {
            *etat = 1;
            Feuille* leaf = newLeaf(s, e);
            *pere = node;
            Ajoute_Fils_Au_Noeud(node, leaf);
            return leaf;
        }
        // A node child's slots are fetched with its record.
        __builtin_prefetch(childSlotsOf(child));
        const int32_t len = seg_taille(child);
        if (s + len < e) {
            *pere = node;
            n = child;
            s += len;
            continue;
        }
        // With one character left, it is the one the slot matched: no need to read the label's text.
        if (e - s > 1 &&
            letterOf(text[e - 1]) != letterOf(labelText(child)[labelStart(child) + (e - s) - 1])) {
            *etat = 3;
            return splitEdge(node, child, s, e, pere);
        }
        *etat = s - e;
        if (isFeuille(child)) recordOccurrenceAtLeaf(asFeuille(child), s, e);
        return node;
    }
}

void Print_Tree(void* root, int verbose, int stats) {
    char* indent = static_cast<char*>(calloc(kIndentCapacity, 1));
    if (indent == nullptr) treeOutOfMemory();
    int nodes = 0;
    int leaves = 0;
    int children = 0;
    Print_Tree_Indent(root, &nodes, &leaves, &children, indent, verbose);
    if (stats != 0)
        printf(
            "nombre de Noeud   (%d + %d) : %d \nnombre de Feuille (%d)      : %d \n"
            "nombre de fils              : %d \nnombre de fils/Noeud        : %f \n"
            "cardinal de l'alphabet      : %d \n",
            static_cast<int>(sizeof(Noeud)), static_cast<int>(treeState().ALPHA_CARD * sizeof(RecordRef)),
            nodes, static_cast<int>(sizeof(Feuille)), leaves, children,
            static_cast<double>(children) / static_cast<double>(nodes), treeState().ALPHA_CARD);
    free(indent);
}

void Print_Tree_Indent(void* x, int* nodes, int* leaves, int* children, char* indent, int verbose) {
    if (x == nullptr) return;
    if (isFeuille(x)) {
        ++*leaves;
        if (verbose) printLeaf(asFeuille(x));
        return;
    }
    Noeud* node = asNoeud(x);
    ++*nodes;
    // The indentation grows by one tab per level but never past its buffer:
    // deeper levels are printed at the deepest indentation that fits.
    bool indented = false;
    if (verbose) {
        printNodeHeader(node, indent);
        const size_t depth = strlen(indent);
        if (depth + 1 < kIndentCapacity) {
            indent[depth] = '\t';
            indent[depth + 1] = '\0';
            indented = true;
        }
    }
    for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k) {
        void* child = childIn(node, k);
        if (child == nullptr) continue;
        ++*children;
        if (verbose) printf("%s--> %c :", indent, labelText(child)[labelStart(child)]);
        Print_Tree_Indent(child, nodes, leaves, children, indent, verbose);
    }
    if (verbose) {
        if (indented) indent[strlen(indent) - 1] = '\0';
        printf("%s       fin fils\n", indent);
    }
}

void Print_BTTree_Debug(void* x, int* counter) {
    if (x == nullptr) return;
    ++*counter;
    printf("%d\t", *counter);
    const char* text = labelText(x);
    for (int32_t k = labelStart(x); k < labelEnd(x); ++k) putchar(text[k]);
    BitTab colours = isFeuille(x) ? asFeuille(x)->bit_tab : asNoeud(x)->bit_tab;
    printf("\t%d\t", nbSequenceInBitTab(colours));
    printBitTab(colours);
    putchar('\n');
    if (isFeuille(x)) return;
    for (int32_t k = 0; k < treeState().ALPHA_CARD; ++k) Print_BTTree_Debug(childIn(asNoeud(x), k), counter);
}

void Print_Liste(Liste* cell) {
    for (; cell != nullptr; cell = cell->suivant) printf("( %p )->", cell->feuille);
    putchar('\n');
}
