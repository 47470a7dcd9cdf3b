#pragma once
#include <cstdint>

#include "bit_tab.h"

// Records of the generalised suffix tree and the process-wide tree globals.

constexpr int32_t MARQUE_FEUILLE = static_cast<int32_t>(0x80000000u);

struct Noeud;

// Internal node (the root is one).
struct Noeud {
    int32_t debut;          // start of the entering edge label in Sequence[num_seq]
    int32_t num_seq;        // sequence whose text holds the label
    int32_t fin;            // one past the label's end; -1 = open (up to global_indice)
    uint32_t nodeChildren;  // bit k set: slot k holds a node (slots 0 to 31; kept by Ajoute_Fils_Au_Noeud)
    Noeud* lien_suffixe;    // suffix link (briefly the parent of a fresh split node)
    void** fils;            // ALPHA_CARD child slots, indexed by letter number
    BitTab bit_tab;         // colour set, filled by UpdateBit_TabForAllTree
    int32_t nb_seq;         // cached cardinal of bit_tab
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

extern unsigned char Translation_Table[256];
extern int32_t ALPHA_CARD;
extern char** Sequence;
extern int32_t current_sequence;
extern int32_t global_indice;
extern ListePositions* Liste_positions_fin;

// Field readers that hide whether a record is a node or a leaf (the two keep their fields at different
// offsets), for the walks that follow occurrences through the tree.

// Sequence whose text holds the label of the edge that enters record.
inline int32_t numSeqOf(const void* record) {
    return isFeuille(record) ? static_cast<const Feuille*>(record)->num_seq
                             : static_cast<const Noeud*>(record)->num_seq;
}

// Character i of the label of the edge that enters record.
inline char edgeChar(const void* record, int32_t i) {
    return Sequence[numSeqOf(record)][labelStart(record) + i];
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
