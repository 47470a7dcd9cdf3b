#pragma once
#include <cstdint>
#include <vector>

#include "bit_tab.h"
#include "record_arena.h"

// Records of the generalised suffix tree and the process-wide tree globals.

constexpr int32_t MARQUE_FEUILLE = static_cast<int32_t>(0x80000000u);

struct Noeud;

// Internal node (the root is one).  Its children and suffix link are references into the tree's record
// range (see record_arena.h), read through childIn and suffixLinkOf.
struct Noeud {
    int32_t debut;           // start of the entering edge label in Sequence[num_seq]
    int32_t num_seq;         // sequence whose text holds the label
    int32_t fin;             // one past the label's end; -1 = open (up to global_indice)
    uint32_t nodeChildren;   // bit k set: slot k holds a node (slots 0 to 31; kept by Ajoute_Fils_Au_Noeud)
    RecordRef lien_suffixe;  // suffix link (briefly the parent of a fresh split node)
    int32_t nb_seq;          // cached cardinal of bit_tab
    BitTab bit_tab;          // colour set, filled by UpdateBit_TabForAllTree
    // ALPHA_CARD child slots, indexed by letter number, in the node's own pool slot right after the record
    // (a pointer to them would cost 8 bytes a node).
    RecordRef fils[];
};

// Leaf: its first word is negative (debut carries MARQUE_FEUILLE).
struct Feuille {
    int32_t debut;           // label start | MARQUE_FEUILLE
    int32_t num_seq;         // sequence of its newest occurrence
    int32_t dernier_indice;  // newest cell of its chain in Liste_positions_fin, -1 = none
    int32_t fin;     // that cell's value (the label's end, -1 = open), kept here to spare a read of the list
    BitTab bit_tab;  // sequences that reach the leaf
};

// Active-list cell of the construction.
struct Liste {
    Liste* suivant;
    void* feuille;
};

// A tree pointer is untyped; a record whose first word is negative is a leaf.
inline bool isFeuille(const void* p) {
    return *static_cast<const int32_t*>(p) < 0;
}
inline int32_t labelStart(const void* p) {
    return *static_cast<const int32_t*>(p) & 0x7FFFFFFF;
}

struct ListePositions;

// One page of a record pool.
struct CelluleAlloc {
    CelluleAlloc* suivante;
    void* bloc;
    int32_t nb_pris;
    int32_t nb_max;
    uint32_t taille_case;  // bytes per record slot
    int32_t bloc_propre;  // 1: bloc is a block of its own, freed with the page; 0: a page of the record range
};

// Page-sized pools for tree records.
struct PoolAlloc {
    CelluleAlloc* premiere;
    CelluleAlloc* courante;
};

// The tree of one run: its letters, the texts it indexes, its record pools and the construction's state.
// Released by Free_Arbre (the records) and freeTreeTexts (the array of texts) while it is in use.
struct TreeState {
    unsigned char Translation_Table[256] = {};
    int32_t ALPHA_CARD = 0;
    char** Sequence = nullptr;  // the texts (the driver's), by sequence number
    int32_t current_sequence = 0;
    int32_t global_indice = 0;
    ListePositions* Liste_positions_fin = nullptr;
    RecordArena records;  // where both pools take their pages
    PoolAlloc Noeud_Alloc = {nullptr, nullptr};
    PoolAlloc Feuille_Alloc = {nullptr, nullptr};
    Liste* FREE_LISTE = nullptr;
    // Leaves whose colour set takes their sequence once the current one is added.
    std::vector<Feuille*> pendingColourAdds;
};

// The tree the calling thread works with: that of the run it works for (see Run), else the process's own,
// which the library's unit tests use.
extern constinit thread_local TreeState* treeInUse;
inline TreeState& treeState() {
    return *treeInUse;
}
// Frees the array of texts (the texts stay: they are the driver's).
void freeTreeTexts();

// Start of the calling thread's record range, for walks that decode many references.
inline const char* recordBase() {
    return treeState().records.base();
}
// The child in node's slot k; null when there is none.
inline void* childIn(const Noeud* node, int32_t k, const char* base = recordBase()) {
    return recordOrNull(base, node->fils[k]);
}
inline void setChild(Noeud* node, int32_t k, const void* child) {
    node->fils[k] = refOf(recordBase(), child);
}
// Node's suffix link; null when it has none.
inline Noeud* suffixLinkOf(const Noeud* node) {
    return static_cast<Noeud*>(recordOrNull(recordBase(), node->lien_suffixe));
}
inline void setSuffixLink(Noeud* node, const Noeud* target) {
    node->lien_suffixe = refOf(recordBase(), target);
}

// Field readers that hide whether a record is a node or a leaf (the two keep their fields at different
// offsets), for the walks that follow occurrences through the tree.

// Sequence whose text holds the label of the edge that enters record.
inline int32_t numSeqOf(const void* record) {
    return isFeuille(record) ? static_cast<const Feuille*>(record)->num_seq
                             : static_cast<const Noeud*>(record)->num_seq;
}

// Character i of the label of the edge that enters record.
inline char edgeChar(const void* record, int32_t i) {
    return treeState().Sequence[numSeqOf(record)][labelStart(record) + i];
}

// Colour set of record: the sequences whose suffixes pass through it.
inline BitTab colourSet(const void* record) {
    return isFeuille(record) ? static_cast<const Feuille*>(record)->bit_tab
                             : static_cast<const Noeud*>(record)->bit_tab;
}

// Number of sequences below record: leaves do not cache their cardinal; nodes do since the colour
// propagation.
inline int32_t colourCount(const void* record) {
    return isFeuille(record) ? nbSequenceInBitTab(static_cast<const Feuille*>(record)->bit_tab)
                             : static_cast<const Noeud*>(record)->nb_seq;
}
