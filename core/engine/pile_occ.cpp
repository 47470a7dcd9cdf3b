#include "pile_occ.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "alphabet.h"
#include "build_traits.h"
#include "global.h"
#include "liste_pos.h"

namespace {

constexpr int32_t kOccGrowth = 2000;

// Capacity that holds `needed` entries, taken up to a multiple of the growth step.
int32_t roundedCapacity(uint32_t needed) {
    return static_cast<int32_t>(std::ceil(needed / static_cast<double>(kOccGrowth)) * kOccGrowth);
}

void resizeOcc(PileOcc* p, int32_t taille, const char* failure) {
    auto* occ = static_cast<Occ*>(realloc(p->occ, sizeof(Occ) * taille));
    if (occ == nullptr) fatalError(failure);
    p->occ = occ;
    p->taille = taille;
}

void resizeCarte(PileOcc* p, int32_t taillecarte) {
    auto* carte = static_cast<int32_t*>(realloc(p->carte, sizeof(int32_t) * taillecarte));
    if (carte == nullptr) fatalError("pile_occ: ajouteDummy: cannot reallocate 'p->carte'");
    p->carte = carte;
    p->taillecarte = taillecarte;
}

// Makes room for `extra` entries after the used ones of dest.
void reserveForCopy(PileOcc* dest, uint32_t extra) {
    const uint32_t needed = dest->nbocc + extra;
    if (needed >= static_cast<uint32_t>(dest->taille))
        resizeOcc(dest, roundedCapacity(needed), "ajouteOcc2Pile: cannot reallocate 'dest->occ'\n");
}

// Index of the dummy that opens the top level; -1 when the map is empty.
int32_t precedingDummy(const PileOcc* p) {
    return p->nbcarte == 0 ? -1 : p->carte[p->nbcarte - 1];
}

int32_t printOneOcc(FILE* flot, const Occ& o, int32_t prof, const Criteres* cr) {
    if (o.noeudpere == nullptr) return 0;
    // prof + longsaut is the occurrence's depth; minus pos, the depth of its noeudpere.
    return recAfficheOcc(flot, childOf(o), prof + o.longsaut - o.pos, cr, o.codesaut, prof + o.longsaut);
}

}  // namespace

PileOcc* creePileOcc() {
    auto* p = allocOrDie<PileOcc>(1, "creePileOcc: cannot allocate 'p'\n");
    p->occ = allocOrDie<Occ>(kOccGrowth, "creePileOcc: cannot allocate 'p->occ'\n", true);
    p->carte = allocOrDie<int32_t>(kCarteGrowth, "creePileOcc: cannot allocate 'p->carte'\n");
    p->taille = kOccGrowth;
    p->taillecarte = kCarteGrowth;
    p->nbcarte = 0;
    p->nbocc = 0;
    p->carte[p->nbcarte++] = 0;
    ajouteOcc2Pile(p, nullptr, -1, -1, -1, -1, -1, -1);
    return p;
}

Occ* ajouteOcc2Pile(PileOcc* p, Noeud* noeud, int32_t lettre, int32_t pos, int32_t nberr, int32_t nberrbloc,
                    int32_t longsaut, int32_t codesaut) {
    if (p->nbocc >= static_cast<uint32_t>(p->taille))
        resizeOcc(p, p->taille + kOccGrowth, "ajouteOcc2Pile: cannot reallocate 'p->occ'\n");
    Occ* o = &p->occ[p->nbocc++];
    o->noeudpere = noeud;
    o->pos = pos;
    o->nberr = nberr;
    o->longsaut = longsaut;
    o->nberrbloc = nberrbloc;
    o->codesaut = codesaut;
    o->lettre = lettre;
    return o;
}

Occ* reserveOcc(PileOcc* p, uint32_t n) {
    reserveForCopy(p, n);
    return p->occ + p->nbocc;
}

Occ* ajouteDummy(PileOcc* p) {
    if (p->nbcarte >= static_cast<uint32_t>(p->taillecarte)) resizeCarte(p, p->taillecarte + kCarteGrowth);
    p->carte[p->nbcarte++] = static_cast<int32_t>(p->nbocc);
    return ajouteOcc2Pile(p, nullptr, -1, -1, -1, -1, -1, -1);
}

int32_t getPrecDummy(const PileOcc* p) {
    return p->carte[p->nbcarte - 1];
}

void ajouteInitOcc2Pile(PileOcc* p, Noeud* node) {
    // The super-racine's terminator edge is one character long: pos 1 stands exactly at the root.
    ajouteOcc2Pile(p, node, alphabetTables().carseq2num[static_cast<unsigned char>('$')], 1, 0, 0, 0, 0);
}

void copieLastOcc(PileOcc* dest, const PileOcc* source) {
    if (source->nbocc == 0) return;
    const int64_t n = static_cast<int64_t>(source->nbocc) - 1 - precedingDummy(source);
    if (n <= 0) return;
    reserveForCopy(dest, static_cast<uint32_t>(n));
    memcpy(dest->occ + dest->nbocc, source->occ + (source->nbocc - n), sizeof(Occ) * n);
    dest->nbocc += static_cast<uint32_t>(n);
}

void transferePile2Pile(PileOcc* dest, PileOcc* source) {
    if (source->nbocc == 0) return;
    reserveForCopy(dest, source->nbocc);
    memcpy(dest->occ + dest->nbocc, source->occ, sizeof(Occ) * source->nbocc);
    dest->nbocc += source->nbocc;
    source->nbocc = 0;
}

uint32_t depileRec(PileOcc* p) {
    if (p->nbcarte == 0) {
        p->nbocc = 0;
    } else {
        --p->nbcarte;
        p->nbocc = static_cast<uint32_t>(p->carte[p->nbcarte]);
    }
    return p->nbocc;
}

void videPile(PileOcc* p) {
    p->nbocc = 0;
    p->nbcarte = 0;
    if (p->taillecarte == 0) resizeCarte(p, kCarteGrowth);
    ajouteDummy(p);
}

void liberePileOcc(PileOcc* p) {
    free(p->occ);
    free(p->carte);
    free(p);
}

int32_t afficheLastOcc(FILE* flot, const PileOcc* pile, int32_t prof, const Criteres* cr) {
    return afficheLastOccWhere(flot, pile, prof, cr, [](const Occ&) { return true; });
}

int32_t recAfficheOcc(FILE* flot, void* record, int32_t d, const Criteres* cr, int32_t code, int32_t span) {
    if (isFeuille(record)) return Print_Positions(flot, static_cast<Feuille*>(record), d, cr, code, span);
    // The subtree below an occurrence can be as deep as the window (whole texts when the model length is
    // not limited), so it is walked with a stack of its own.  The stack is kept from call to call: this
    // runs once per occurrence written.
    struct Pending {
        void* record;
        int32_t d;  // depth of the record's parent
    };
    static thread_local std::vector<Pending> pending;
    pending.clear();
    pending.push_back({record, d});
    int32_t lines = 0;
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        if (isFeuille(p.record)) {
            lines += Print_Positions(flot, static_cast<Feuille*>(p.record), p.d, cr, code, span);
            continue;
        }
        auto* node = static_cast<Noeud*>(p.record);
        const int32_t below = p.d + node->fin - node->debut;
        // Pushed from the last letter down, so that the children come off in letter order.
        for (int32_t i = alphabetTables().nbSymbSeq; i >= 0; --i)
            if (void* child = childIn(node, i); child != nullptr) pending.push_back({child, below});
    }
    return lines;
}

int32_t afficheOcc(FILE* flot, const Occ* occ, int32_t prof, const Criteres* cr) {
    return printOneOcc(flot, *occ, prof, cr);
}
