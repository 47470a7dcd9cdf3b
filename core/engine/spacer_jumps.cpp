#include "spacer_jumps.h"

#include <algorithm>

#include "alphabet.h"
#include "global.h"
#include "global_fonctions.h"
#include "global_variables.h"
#include "occ.h"

namespace whole_spacer {
namespace {

int32_t spacerMin(const Criteres* cr, int b) {
    return std::max(0, cr->sauts[b].min);
}

// What an occurrence carries over the jump: its substitutions, the spacer lengths jumped before and the
// code of the spacers before.
struct Origin {
    int32_t nberr;
    int32_t longsaut;
    int32_t codesaut;
};

// Lands every length from lgsaut on, starting at place (noeudpere, lettre, pos).
int32_t sauteSymbole(Noeud* noeudpere, int32_t pos, int32_t lettre, const Origin& from, PileOcc* dest,
                     const Criteres* cr, int b, int32_t lgsaut) {
    // Along one edge the landings follow each other character by character; the recursion is kept for
    // the branching at nodes only, so that long spacers do not make the stack deep.
    const int32_t maxSaut = cr->sauts[b].max;
    void* child = childIn(noeudpere, lettre);
    const int32_t longueur = seg_taille(child);
    int32_t landings = 0;
    for (;; ++pos, ++lgsaut) {
        ajouteOcc2Pile(dest, noeudpere, lettre, pos, from.nberr, 0, from.longsaut + lgsaut,
                       addSaut2Code(from.codesaut, lgsaut, b, cr));
        ++landings;
        if (maxSaut < lgsaut + 1) return landings;
        if (pos == longueur) break;
        if (edgeChar(child, pos) == '$') return landings;
    }
    if (isFeuille(child)) return landings;
    auto* node = static_cast<Noeud*>(child);
    for (int32_t m = 0; m < alphabetTables().nbSymbSeq; ++m)
        if (node->fils[m] != kNoRecord) landings += sauteSymbole(node, 1, m, from, dest, cr, b, lgsaut + 1);
    return landings;
}

// dist characters are already jumped; descends every branch to exactly the spacer's minimum, then
// hands over to sauteSymbole for the longer jumps.
int32_t sauteBranche(Noeud* noeudpere, int32_t pos, int32_t lettre, const Origin& from, PileOcc* dest,
                     const Criteres* cr, int b, int32_t dist) {
    const int32_t minSaut = spacerMin(cr, b);
    const int32_t need = minSaut - dist;
    void* child = childIn(noeudpere, lettre);
    const int32_t longueur = seg_taille(child);
    if (pos < longueur) {
        const int32_t rest = longueur - pos;
        if (rest > need) return sauteSymbole(noeudpere, pos + need, lettre, from, dest, cr, b, minSaut);
        if (edgeChar(child, longueur - 1) == '$') return 0;
        return sauteBranche(noeudpere, longueur, lettre, from, dest, cr, b, dist + rest);
    }
    if (isFeuille(child)) return 0;
    auto* node = static_cast<Noeud*>(child);
    int32_t landings = 0;
    for (int32_t m = 0; m < alphabetTables().nbSymbSeq; ++m) {
        void* grandchild = childIn(node, m);
        if (grandchild == nullptr) continue;
        const int32_t gL = seg_taille(grandchild);
        if (need < gL)  // need 0 lands on the node itself, bound to edge m
            landings += sauteSymbole(node, need, m, from, dest, cr, b, minSaut);
        else if (edgeChar(grandchild, gL - 1) != '$')
            landings += sauteBranche(node, gL, m, from, dest, cr, b, dist + gL);
    }
    return landings;
}

}  // namespace

int32_t gestionSaut(PileOcc* dest, PileOcc* source, const Criteres* cr, int b) {
    ajouteDummy(dest);
    int32_t landings = 0;
    forEachInTopLevel(source, [&](const Occ& o) {
        const Origin from{o.nberr, o.longsaut, o.codesaut};
        if (spacerMin(cr, b) != 0)
            landings += sauteBranche(o.noeudpere, o.pos, o.lettre, from, dest, cr, b, 0);
        else
            landings += sauteSymbole(o.noeudpere, o.pos, o.lettre, from, dest, cr, b, 0);
    });
    if (landings == 0) depileRec(dest);
    return landings;
}

}  // namespace whole_spacer

namespace windowed_spacer {
namespace {

// Sets nberrbloc to 0 in every occurrence of the top level: after a jump it no longer carries the code of
// the spacers before, and the next box starts without substitutions.
void initBlocerrPile(PileOcc* pile) {
    LevelWalk w = topLevel(pile);
    for (int64_t i = w.from; i > w.stop && pile->occ[i].noeudpere != nullptr; i--) pile->occ[i].nberrbloc = 0;
}

void pushLanding(PileOcc* dest, Noeud* noeudpere, int32_t lettre, int32_t pos, const Occ& from,
                 int32_t codeavant, int32_t length, int32_t jumped, const Criteres* cr, int b) {
    ajouteOcc2Pile(dest, noeudpere, lettre, pos, from.nberr, codeavant, from.longsaut + jumped,
                   addSaut2Code(codeavant, length, b, cr));
}

// Pushes on dest a landing at exactly the minimum of spacer b for every text place that lies that many
// characters after place (noeudpere, lettre, pos), dist of them already jumped from the occurrence origin.
// Returns the number of landings pushed.  A landing keeps origin's code in nberrbloc (its code before the
// spacer) so that the longer jumps can rebuild their own code from it.
int saute2MinSaut(const Occ& origin, Noeud* noeudpere, int32_t lettre, int32_t pos, int32_t dist,
                  PileOcc* dest, const Criteres* cr, int b) {
    const int min = cr->sauts[b].min;
    const int need = min - dist;
    void* child = childIn(noeudpere, lettre);
    int32_t L = seg_taille(child);
    if (pos < L) {
        if (L - pos > need) {
            pushLanding(dest, noeudpere, lettre, pos + need, origin, origin.codesaut, min, min, cr, b);
            return 1;
        }
        if (edgeChar(child, L - 1) == '$') return 0;
        return saute2MinSaut(origin, noeudpere, lettre, L, dist + (L - pos), dest, cr, b);
    }
    if (isFeuille(child)) return 0;
    Noeud* node = static_cast<Noeud*>(child);
    int count = 0;
    for (int m = 0; m < alphabetTables().nbSymbSeq; m++) {
        void* g = childIn(node, m);
        if (g == nullptr) continue;
        int32_t gL = seg_taille(g);
        if (need < gL) {
            // need may be 0: the landing stands at the node, bound to edge m.
            pushLanding(dest, node, m, need, origin, origin.codesaut, min, min, cr, b);
            count++;
        } else if (!edgeEndsWithTerminator(g)) {
            count += saute2MinSaut(origin, node, m, gL, dist + gL, dest, cr, b);
        }
    }
    return count;
}

// Moves landing o, of jump length l - 1, one character on, pushing the landings of length l.  Returns their
// number.
int sauteSymbole(const Occ& o, int l, PileOcc* dest, const Criteres* cr, int b) {
    if (cr->sauts[b].max < l) return 0;
    void* child = childOf(o);
    int32_t L = seg_taille(child);
    if (o.pos < L) {
        if (edgeChar(child, o.pos) == '$') return 0;
        ajouteOcc2Pile(dest, o.noeudpere, o.lettre, o.pos + 1, o.nberr, o.nberrbloc, o.longsaut + 1,
                       addSaut2Code(o.nberrbloc, l, b, cr));
        return 1;
    }
    if (isFeuille(child)) return 0;
    Noeud* node = static_cast<Noeud*>(child);
    int count = 0;
    for (int m = 0; m < alphabetTables().nbSymbSeq; m++) {
        if (node->fils[m] == kNoRecord) continue;
        ajouteOcc2Pile(dest, node, m, 1, o.nberr, o.nberrbloc, o.longsaut + 1,
                       addSaut2Code(o.nberrbloc, l, b, cr));
        count++;
    }
    return count;
}

// Landings of length 0 are the occurrences themselves, copied with their code extended by this spacer.
int landAtZero(PileOcc* dest, PileOcc* source, const Criteres* cr, int b, int64_t dummy) {
    copieLastOcc(dest, source);
    int64_t copied = static_cast<int64_t>(dest->nbocc) - 1 - dummy;
    if (copied == 0) return 0;
    if (b > 0 || cr->sauts[b].max > 0) {
        for (int64_t i = dummy + 1; i < static_cast<int64_t>(dest->nbocc); i++) {
            Occ& o = dest->occ[i];
            if (cr->sauts[b].max > 0) o.nberrbloc = o.codesaut;
            if (b > 0) o.codesaut = addSaut2Code(o.codesaut, 0, b, cr);
        }
    }
    return static_cast<int>(copied);
}

}  // namespace

int gestionSaut(PileOcc* dest, PileOcc* source, const Criteres* cr, int* compteurs, int nbzero, int b) {
    const int min = cr->sauts[b].min;
    const int max = cr->sauts[b].max;
    for (int i = 0; i < nbzero; i++) compteurs[i] = 0;
    ajouteDummy(dest);
    const int64_t dummy = static_cast<int64_t>(dest->nbocc) - 1;
    int landed = 0;
    if (min > 0) {
        forEachInTopLevel(source, [&](const Occ& o) {
            landed += saute2MinSaut(o, o.noeudpere, o.lettre, o.pos, 0, dest, cr, b);
        });
    } else {
        landed = landAtZero(dest, source, cr, b, dummy);
    }
    if (landed == 0) {
        depileRec(dest);
        return 0;
    }
    compteurs[0] = landed;
    int groups = 1;
    int64_t groupTop = static_cast<int64_t>(dest->nbocc) - 1;
    int64_t groupStop = dummy;
    for (int l = min + 1; l <= max; l++) {
        int64_t start = static_cast<int64_t>(dest->nbocc);
        for (int64_t i = groupTop; i > groupStop; i--) sauteSymbole(Occ(dest->occ[i]), l, dest, cr, b);
        int made = static_cast<int>(static_cast<int64_t>(dest->nbocc) - start);
        compteurs[l - min] = made;
        // No landing at this length: the longer ones would have to pass through it.
        if (made == 0) break;
        groups++;
        groupStop = start - 1;
        groupTop = static_cast<int64_t>(dest->nbocc) - 1;
    }
    initBlocerrPile(dest);
    return groups;
}

void sommeBTOccPartielle(PileOcc* pile, BitTab* groupes, int n, const int* compteurs) {
    if (pile->nbocc == 0) fatalError("spell: sommeBTOccPartielle: wrong position in stack!\n");
    int64_t i = static_cast<int64_t>(pile->nbocc) - 1;
    for (int g = n - 1; g >= 0; g--) {
        ReinitBitTab(&groupes[g]);
        for (int c = 0; c < compteurs[g]; c++, i--)
            fusionneBitTab(&groupes[g], colourSet(childOf(pile->occ[i])));
    }
}

}  // namespace windowed_spacer
