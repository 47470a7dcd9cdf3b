#include "spell.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "allocateurs.h"
#include "alphabet.h"
#include "barre.h"
#include "bit_tab.h"
#include "cluster.h"
#include "criteres_delta.h"
#include "global.h"
#include "global_fonctions.h"
#include "model.h"
#include "occ.h"
#include "pile_occ.h"
#include "pipeline.h"
#include "successor_table.h"
#include "task_output.h"

FILE** f = nullptr;
int* nbmod = nullptr;
int* maxlongmod = nullptr;
int** maxlongbloc = nullptr;

namespace {

// The last box is spelled once for all the windows of the last spacer when that spacer has at most this
// many lengths (and at least two): its models then carry sets of windows as bit masks.  Wider spacers walk
// their windows one by one.
constexpr int kMaxSharedWindows = 32;

// What a model's batched read gives one of its extensions: its successors and, for a model of the shared
// last box, the windows in which it is explored with its number of sequences in each.
struct ChildSlot {
    SuccessorTable::Range block = nullptr;
    uint32_t windows = 0;
    std::array<int32_t, kMaxSharedWindows> sequences;
};

// A task's part of one result file: its stream and the file's counts over the task's models.
struct TaskFile {
    int file;
    FILE* stream;
    int nbmod = 0;
    int maxlongmod = 0;
    std::vector<int> maxlongbloc;
};

// Everything one walk changes (its copy of the allowances that it counts down, stacks, tables, output);
// the state of each model lives in its frame.  The tree, the texts and the tables are shared, read only.
// A parallel run has one walk per worker thread and one for the writer; each goes through the models
// above the task depth (few), and the tasks below are run by whichever worker claims them first.
struct Walk {
    PileOcc* pile;      // one level per open prefix of the model; the top level holds the model's occurrences
    PileOcc* pileNext;  // occurrences of the model extended by the symbol being tried
    Model* model;
    BitTab bt;             // scratch colour set for the windows' counts
    SuccessorTable table;  // successors of every model on the current path
    Criteres* cr;
    int** nbocc_saut;                        // [spacer][group] landings of jump length min + group
    BitTab** bt_intermediaire;               // [spacer][group] colour set of those landings
    int* cursaut;                            // window centre chosen for each spacer on the current path
    int* longbloc;                           // length of each finished box of the current model
    int* posdebbloc;                         // index in model->name where each box starts (palindromes only)
    std::unique_ptr<CriteresCopy> criteria;  // owns *cr

    // Parallel run.
    bool writes = true;  // false: a worker outside its tasks, whose models are not written
    TaskBoard* board = nullptr;
    int taskDepth = -1;   // depth of the models that open tasks; -1: no tasks
    bool writer = false;  // copies the tasks' output in order and writes the models above them
    std::mutex* meter = nullptr;
    int64_t nextTask = 0;  // number of the next task met in walk order
    TaskRecord* task = nullptr;
    std::vector<TaskFile> taskFiles;  // result files the running task has written to, in first-use order
    std::vector<int> taskFileOf;      // by result file: index in taskFiles, -1 = none yet
    std::vector<ChildSlot> children;  // see Frame::childBegin

    // The last spacer's windows shared by one walk of the last box (see Frame::windows).
    int32_t sharedGroups = 0;  // lengths of the last spacer; 0: its windows are walked one by one
    int32_t sharedSpan = 0;    // lengths per window, 2 x Delta + 1
    std::array<int32_t, kMaxSharedWindows> childSequences{};  // per window, of the extension trySymbols found
};

template <typename T>
T* allocOrDie(size_t count, const char* message) {
    T* p = static_cast<T*>(malloc(sizeof(T) * (count > 0 ? count : 1)));
    if (p == nullptr) fatalError(message);
    return p;
}

// Sets nberrbloc to 0 in every occurrence of the top level: after a jump it no longer carries the code of
// the spacers before, and the next box starts without substitutions.
void initBlocerrPile(PileOcc* pile) {
    LevelWalk w = topLevel(pile);
    for (int64_t i = w.from; i > w.stop && pile->occ[i].noeudpere != nullptr; i--) pile->occ[i].nberrbloc = 0;
}

// Fills the colour sets of the n landing groups of the top level of pile, group n - 1 being on top.
void sommeBTOccPartielle(PileOcc* pile, BitTab* groupes, int n, const int* compteurs) {
    if (pile->nbocc == 0) fatalError("spell: sommeBTOccPartielle: wrong position in stack!\n");
    int64_t i = static_cast<int64_t>(pile->nbocc) - 1;
    for (int g = n - 1; g >= 0; g--) {
        ReinitBitTab(&groupes[g]);
        for (int c = 0; c < compteurs[g]; c++, i--)
            fusionneBitTab(&groupes[g], colourSet(childOf(pile->occ[i])));
    }
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
    void* child = noeudpere->fils[lettre];
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
    for (int m = 0; m < nbSymbSeq; m++) {
        void* g = node->fils[m];
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
    for (int m = 0; m < nbSymbSeq; m++) {
        if (node->fils[m] == nullptr) continue;
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

// Jumps the top level of source over spacer b onto a new level of dest, landings grouped by length: group g
// (length min + g) lies above group g - 1 and compteurs[g] receives its size (entries 0 to nbzero - 1 are
// cleared first).  Returns the number of groups made, 0 when nothing landed (dest is then left as it was).
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

bool compositionApplies(const Criteres* cr, int numbloc) {
    return cr->flagcompo || cr->flagcompobloc[numbloc];
}

void spendComposition(Criteres* cr, int numbloc, int s, int delta) {
    cr->compo[s] -= delta;
    cr->compobloc[numbloc][s] -= delta;
}

// Step limits: the model may not grow any further (whole length, box length, or a palindromic box that has
// its partner's length).
bool limitReached(const Criteres* cr, int prof, int lgbloc, int numbloc, const int* longbloc) {
    if (cr->maxlong != 0 && prof >= cr->maxlong) return true;
    if (cr->bornesbloc[numbloc].max != 0 && lgbloc >= cr->bornesbloc[numbloc].max) return true;
    return cr->flagpal && cr->palbloc[numbloc] != -1 && longbloc[cr->palbloc[numbloc]] == lgbloc;
}

// A palindromic box reads its partner backwards, each symbol complemented.
bool fitsPalindrome(const Walk& w, int s, int numbloc, int lgbloc) {
    int p = w.cr->palbloc[numbloc];
    int c = w.model->name[w.posdebbloc[p] + w.longbloc[p] - lgbloc - 1];
    return comp[c] == s;
}

// The running task's part of result file k, opened on first use.
TaskFile& taskFile(Walk& w, int k) {
    int& index = w.taskFileOf[static_cast<size_t>(k)];
    if (index < 0) {
        w.task->streams.push_back(std::make_unique<ChunkStream>(w.board->budget()));
        FILE* stream = w.task->streams.back()->stream();
        if (stream == nullptr) fatalError("doSpell: cannot open a stream for a part of the results\n");
        index = static_cast<int>(w.taskFiles.size());
        w.taskFiles.push_back({k, stream, 0, 0, std::vector<int>(static_cast<size_t>(w.cr->nbbloc), 0)});
    }
    return w.taskFiles[static_cast<size_t>(index)];
}

// Writes the model, found in nbseqmod sequences, to the result file of the windows in w.cursaut; with
// window m >= 0, to that of window m of the last spacer, with the occurrences of that window only.
void keepModel(Walk& w, int nbseqmod, int prof, int window = -1) {
    const Criteres* cr = w.cr;
    if (window >= 0) {
        const int b = cr->nbbloc - 2;
        w.cursaut[b] = cr->sauts[b].min + cr->deltas[b] + window;
    }
    int k = delta2File(w.cursaut, cr);
    FILE* out = f[k];
    int* count = &nbmod[k];
    int* longest = &maxlongmod[k];
    int* longestBox = maxlongbloc[k];
    if (w.task != nullptr) {
        TaskFile& part = taskFile(w, k);
        out = part.stream;
        count = &part.nbmod;
        longest = &part.maxlongmod;
        longestBox = part.maxlongbloc.data();
    }
    ++*count;
    const Model* model = w.model;
    writeModelLine(out, model, nbseqmod);
    if (prof > *longest) *longest = prof;
    for (int i = 0; i < cr->nbbloc; i++)
        if (w.longbloc[i] > longestBox[i]) longestBox[i] = w.longbloc[i];
    if (window < 0) {
        afficheLastOcc(out, w.pile, prof, cr);
        return;
    }
    // Only the occurrences whose last spacer lies in the window.
    afficheLastOccWhere(out, w.pile, prof, cr, [&](const Occ& o) {
        const int32_t g = SuccessorTable::groupOf(o, w.sharedGroups);
        return g >= window && g < window + w.sharedSpan;
    });
}

// One model of the walk: the state that a recursive call would keep on the machine stack.  The walk goes as
// deep as the longest model (tens of thousands of symbols for texts that share a long segment), so its
// frames live on the heap.
struct Frame {
    enum class Step {
        Enter,           // limits, then the symbol loop
        NextSymbol,      // try the symbols after s
        Finish,          // every symbol was tried
        Window,          // spell the next box in the next spacer window that reaches the quorum
        AfterWindow,     // the next box has been spelled in window m
        Extension,       // extend the model by s inside the box
        AfterExtension,  // model + s has been explored
    };
    // The model is the content of w.model, of prof symbols, lgbloc of them in box numbloc, found in nbseqmod
    // sequences as the parent counted them.  Its occurrences are the top level of w.pile: only the entries
    // from indhaut down to above indbas when indhaut is not 0 (the landings of one spacer window).
    int prof;
    int lgbloc;
    int numbloc;
    int nbseqmod;
    int indbas;
    int indhaut;
    Step step = Step::Enter;
    SuccessorTable::Range successors{};  // of the model's occurrences
    // A model extended inside its box has no level of its own in the stack: its occurrences are the
    // successors of its parent's model moved by the parent's symbol.
    bool extended = false;
    SuccessorTable::Range parentSuccessors{};
    int parentSymbol = -1;
    int64_t task = -1;  // the task whose subtree this model opens, -1 for any other model
    // The successors of this model's extensions, read together before the first of them (one slot per
    // symbol, in Walk::children from childBegin on); batched is false until then.  windowsCounted: the
    // windows of every allowed extension of a shared model were counted there as well.
    bool batched = false;
    bool windowsCounted = false;
    size_t childBegin = 0;
    int s = -1;              // symbol being tried
    bool spend = false;      // the composition limits count the symbols of this box
    int u = -1;              // exact number of sequences of model + s, on w.pileNext
    bool jokerFlag = false;  // a joker extension or a box change was explored
    int sum = 0;             // results of the explored extensions and box changes
    // Box change after model + s: number of landing groups, the window about to be tried (number m,
    // centred on spacer length c) and the entries of its landings (from haut down to above bas).
    int groups = 0;
    int m = 0;
    int c = 0;
    int64_t bas = 0;
    int64_t haut = 0;
    // In the last box, when the last spacer's windows are shared (Walk::sharedGroups): the windows in which
    // this model is explored (bit m: window m, centred on spacer length min + Delta + m), its number of
    // sequences in each, the windows of its joker extensions, those in which its explored extensions
    // reached the keep point, and the windows of model + s.  windows is 0 for any other model: that of the
    // windows in w.cursaut, with sum and jokerFlag.
    uint32_t windows = 0;
    uint32_t jokerWindows = 0;
    uint32_t reachedWindows = 0;
    uint32_t childWindows = 0;
    std::array<int32_t, kMaxSharedWindows> sequences{};
};

// The groups (spacer lengths) that the windows of mask windows cover.
uint32_t groupsOfWindows(const Walk& w, uint32_t windows) {
    const uint64_t span = (1ull << w.sharedSpan) - 1;
    uint64_t groups = 0;
    for (uint32_t rest = windows; rest != 0; rest &= rest - 1) groups |= span << __builtin_ctz(rest);
    return static_cast<uint32_t>(groups);
}

SuccessorTable::GroupFilter sharedFilter(const Walk& w, const Frame& fr) {
    if (fr.windows == 0) return {};
    return {w.sharedGroups, groupsOfWindows(w, fr.windows)};
}

// Windows of the shared model fr in which model + s has moves and reaches the quorum; its number of
// sequences in each goes to sequences.
uint32_t windowsOfExtension(Walk& w, const Frame& fr, int s, int32_t* sequences) {
    SuccessorTable::Count counts[kMaxSharedWindows];
    w.table.countWindows(fr.successors, s, fr.windows, w.sharedSpan, counts);
    uint32_t alive = 0;
    for (uint32_t rest = fr.windows; rest != 0; rest &= rest - 1) {
        const int m = __builtin_ctz(rest);
        if (counts[m].moves == 0 || counts[m].sequences < w.cr->quorum) continue;
        alive |= 1u << m;
        sequences[m] = counts[m].sequences;
    }
    return alive;
}

// Writes fr's model unless it ends with the joker or a spacer: to the result file of the windows in
// w.cursaut, or for a shared model to that of each window in `windows`, with its number of sequences there.
// For a model ending with the joker or a spacer, returns 1 (for a shared model, `windows`) to tell the
// caller that the extension reached this point; else 0.  The model's occurrences are the top level of
// w.pile, or for an extended model its parent's successors moved by its last symbol, stacked only when
// the model is written.
int keepFrame(Walk& w, const Frame& fr, uint32_t windows = 0) {
    int last = w.model->longueur > 0 ? w.model->name[w.model->longueur - 1] : numSAUT;
    if (last == numJOKER || last == numSAUT) return fr.windows != 0 ? static_cast<int>(windows) : 1;
    w.longbloc[fr.numbloc] = fr.lgbloc;
    if (!w.writes) return 0;
    if (fr.extended) {
        ajouteDummy(w.pile);
        w.table.appendMoves(fr.parentSuccessors, fr.parentSymbol, SubstitutionLimits(w.cr, fr.numbloc, true),
                            true, w.pile);
    }
    if (fr.windows == 0) {
        keepModel(w, fr.nbseqmod, fr.prof);
    } else {
        for (uint32_t rest = windows; rest != 0; rest &= rest - 1) {
            const int m = __builtin_ctz(rest);
            keepModel(w, fr.sequences[m], fr.prof, m);
        }
    }
    if (fr.extended) depileRec(w.pile);
    return 0;
}

// Landings in group g of the box change of fr; groups past the last length reached hold none.
int groupSize(const Walk& w, const Frame& fr, int g) {
    return g < fr.groups ? w.nbocc_saut[fr.numbloc][g] : 0;
}

// Whether fr's model may be extended by fr.s at all: no joker first, composition left, palindrome partner.
bool symbolAllowedFor(Walk& w, const Frame& fr, int s) {
    const Criteres* cr = w.cr;
    if (fr.prof == 0 && s == numJOKER) return false;
    if (compositionApplies(cr, fr.numbloc) && (cr->compobloc[fr.numbloc][s] == 0 || cr->compo[s] == 0))
        return false;
    if (cr->flagpal) {
        if (fr.lgbloc == 0) w.posdebbloc[fr.numbloc] = w.model->longueur;
        if (cr->palbloc[fr.numbloc] != -1 && !fitsPalindrome(w, s, fr.numbloc, fr.lgbloc)) return false;
    }
    return true;
}

bool symbolAllowed(Walk& w, Frame& fr) {
    fr.spend = compositionApplies(w.cr, fr.numbloc);
    return symbolAllowedFor(w, fr, fr.s);
}

// Reads the successors of every extension of fr's model that will be explored, in one pass.  An
// extension is explored when its symbol is allowed, reaches the quorum and leaves the model within its
// limits; the models of the task depth are left to the walk that runs them.
void collectChildren(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    fr.batched = true;
    fr.childBegin = w.children.size();
    w.children.resize(fr.childBegin + static_cast<size_t>(nbSymbMod));
    if (w.board != nullptr && fr.prof + 1 == w.taskDepth) return;
    if (limitReached(cr, fr.prof + 1, fr.lgbloc + 1, fr.numbloc, w.longbloc)) return;
    int32_t symbols[kAlphabetSlots];
    uint32_t groupMasks[kAlphabetSlots];
    int n = 0;
    for (int s = 0; s < nbSymbMod; ++s) {
        if (!symbolAllowedFor(w, fr, s)) continue;
        if (fr.windows != 0) {
            // Each extension keeps the landings of the windows where it is explored.
            ChildSlot& slot = w.children[fr.childBegin + static_cast<size_t>(s)];
            const uint32_t alive = windowsOfExtension(w, fr, s, slot.sequences.data());
            slot.windows = alive;
            if (alive == 0) continue;
            groupMasks[n] = groupsOfWindows(w, alive);
            symbols[n++] = s;
            continue;
        }
        const SuccessorTable::Count c = w.table.count(fr.successors, s);
        if (c.moves > 0 && c.sequences >= cr->quorum) symbols[n++] = s;
    }
    fr.windowsCounted = fr.windows != 0;
    if (n == 0) return;
    SuccessorTable::Range blocks[kAlphabetSlots];
    const SubstitutionLimits limits(cr, fr.numbloc, true);
    w.table.collectChildren(fr.successors, symbols, n, limits, limits, true, blocks,
                            fr.windows != 0 ? groupMasks : nullptr);
    for (int i = 0; i < n; ++i) w.children[fr.childBegin + static_cast<size_t>(symbols[i])].block = blocks[i];
}

// Gives back fr's successors and those of its extensions.
void releaseSuccessors(Walk& w, const Frame& fr) {
    w.table.release(fr.successors);
    if (!fr.batched) return;
    for (size_t i = fr.childBegin; i < w.children.size(); ++i) w.table.release(w.children[i].block);
    w.children.resize(fr.childBegin);
}

// Box numbloc of the model ends with fr.s (model + s on w.pileNext, fr.u sequences): jumps those occurrences
// over the spacer onto a new level of w.pile and makes the model model + s + spacer, its first window ready.
// Returns false when nothing landed; the walk is then left as it was.
bool openBoxChange(Walk& w, Frame& fr) {
    Criteres* cr = w.cr;
    const int numbloc = fr.numbloc;
    int* compteurs = w.nbocc_saut[numbloc];
    fr.groups = gestionSaut(w.pile, w.pileNext, cr, compteurs, cr->maxnbfenetres, numbloc);
    if (fr.groups == 0) return false;
    sommeBTOccPartielle(w.pile, w.bt_intermediaire[numbloc], fr.groups, compteurs);
    const int h = cr->deltas[numbloc];
    fr.m = 0;
    fr.c = cr->sauts[numbloc].min + h;
    fr.bas = getPrecDummy(w.pile);
    fr.haut = fr.bas;
    for (int g = 0; g <= 2 * h; g++) fr.haut += groupSize(w, fr, g);

    changeModel(w.model, fr.s);
    changeModel(w.model, numSAUT);
    if (fr.spend) spendComposition(cr, numbloc, fr.s, 1);
    w.longbloc[numbloc] = fr.lgbloc + 1;
    return true;
}

// Whether the landings of window m of fr's box change (groups m to m + 2 Delta) stand in a quorum of
// sequences.
bool windowReachesQuorum(Walk& w, const Frame& fr, int m) {
    const int h = w.cr->deltas[fr.numbloc];
    const BitTab* groupes = w.bt_intermediaire[fr.numbloc];
    ReinitBitTab(&w.bt);
    for (int g = m; g <= m + 2 * h && g < fr.groups; g++) fusionneBitTab(&w.bt, groupes[g]);
    return sequencesInColourSet(w.bt) >= w.cr->quorum;
}

// Goes from window fr.m on to the first one whose landings reach the quorum, its centre noted in w.cursaut.
// Returns false when no window is left.
bool nextWindow(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    const int h = cr->deltas[fr.numbloc];
    const int max = cr->sauts[fr.numbloc].max;
    for (; fr.c + h <= max && fr.m < fr.groups; fr.m++, fr.c++) {
        // The window slides by one length: it loses its shortest group and gains the one after its longest.
        if (fr.m > 0) {
            fr.bas += groupSize(w, fr, fr.m - 1);
            fr.haut += groupSize(w, fr, fr.m + 2 * h);
        }
        w.cursaut[fr.numbloc] = fr.c;
        if (windowReachesQuorum(w, fr, fr.m)) return true;
    }
    return false;
}

// The box change of fr into the last box when its windows are shared: the windows whose landings reach the
// quorum; fr.haut becomes the top of all the landings, so that they lie from fr.haut down to above fr.bas.
uint32_t windowsReachingQuorum(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    const int h = cr->deltas[fr.numbloc];
    const int max = cr->sauts[fr.numbloc].max;
    uint32_t alive = 0;
    for (int m = 0, c = cr->sauts[fr.numbloc].min + h; c + h <= max && m < fr.groups; m++, c++)
        if (windowReachesQuorum(w, fr, m)) alive |= 1u << m;
    fr.haut = fr.bas;
    for (int g = 0; g < fr.groups; g++) fr.haut += groupSize(w, fr, g);
    return alive;
}

// Undoes openBoxChange once every window was spelled: the model is back, model + s on w.pileNext.
void closeBoxChange(Walk& w, const Frame& fr) {
    if (fr.spend) spendComposition(w.cr, fr.numbloc, fr.s, -1);
    decrModel(w.model);
    decrModel(w.model);
    depileRec(w.pile);
}

// Tries the symbols after fr.s in turn, stopping at the first one with occurrences to explore: the next box
// (a box change was opened), or else the extension inside the box.
Frame::Step trySymbols(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    const bool boxMayEnd = fr.numbloc != cr->nbbloc - 1 && fr.lgbloc + 1 >= cr->bornesbloc[fr.numbloc].min;
    const SubstitutionLimits limits(cr, fr.numbloc, true);
    if (fr.windows != 0) {
        // A shared model lies in the last box: its symbols only extend it.
        while (++fr.s < nbSymbMod) {
            if (!symbolAllowed(w, fr)) continue;
            if (fr.windowsCounted) {
                const ChildSlot& slot = w.children[fr.childBegin + static_cast<size_t>(fr.s)];
                fr.childWindows = slot.windows;
                if (fr.childWindows != 0) w.childSequences = slot.sequences;
            } else {
                fr.childWindows = windowsOfExtension(w, fr, fr.s, w.childSequences.data());
            }
            if (fr.childWindows != 0) return Frame::Step::Extension;
        }
        return Frame::Step::Finish;
    }
    while (++fr.s < nbSymbMod) {
        if (!symbolAllowed(w, fr)) continue;
        // A symbol under the quorum is passed over without moving: neither a box change nor an extension
        // would follow.
        const SuccessorTable::Count c = w.table.count(fr.successors, fr.s);
        if (c.moves == 0 || c.sequences < cr->quorum) continue;
        fr.u = c.sequences;
        if (boxMayEnd) {
            // w.pileNext is scratch: the occurrences of model + s, the origins of the jumps.
            videPile(w.pileNext);
            w.table.appendMoves(fr.successors, fr.s, limits, true, w.pileNext);
            if (openBoxChange(w, fr)) {
                fr.jokerFlag = true;
                return Frame::Step::Window;
            }
        }
        return Frame::Step::Extension;
    }
    return Frame::Step::Finish;
}

// Makes the model model + s: its occurrences are the successors of fr moved by s, read by the child frame.
bool openExtension(Walk& w, Frame& fr) {
    if (fr.s == numJOKER) {
        fr.jokerFlag = true;
        fr.jokerWindows |= fr.childWindows;
    }
    changeModel(w.model, fr.s);
    if (fr.spend) spendComposition(w.cr, fr.numbloc, fr.s, 1);
    return true;
}

// Result of fr's model once all its extensions were explored: it is kept when it ends a whole model.
int finishModel(Walk& w, const Frame& fr) {
    const Criteres* cr = w.cr;
    const int numbloc = fr.numbloc;
    if (numbloc != cr->nbbloc - 1 || fr.prof < cr->minlong || fr.lgbloc < cr->bornesbloc[numbloc].min)
        return 0;
    if (cr->flagpal && cr->palbloc[numbloc] != -1 && fr.lgbloc != w.longbloc[cr->palbloc[numbloc]]) return 0;
    // A joker extension that met the quorum but never reached the keep point hides this model.
    if (fr.windows != 0) {
        const uint32_t shown = fr.windows & ~(fr.jokerWindows & ~fr.reachedWindows);
        return shown == 0 ? 0 : keepFrame(w, fr, shown);
    }
    if (fr.jokerFlag && fr.sum == 0) return 0;
    return keepFrame(w, fr);
}

// The meter advances once per model of depth 3: above the tasks the writer counts it, inside a task the
// worker that runs it.
void tick(Walk& w) {
    if (w.task != nullptr && w.board->shipsResults()) {
        ++w.task->ticks;  // drawn by the process that writes the task
        return;
    }
    if (w.meter == nullptr) {
        barre(0);
        return;
    }
    std::lock_guard<std::mutex> lock(*w.meter);
    barre(0);
}

// Claims task k; its models then go to streams of its own.  False when another worker has it.
bool beginTask(Walk& w, int64_t k) {
    w.task = w.board->claim(k);
    if (w.task == nullptr) return false;
    w.writes = true;
    return true;
}

// Records the figures of each result file the task wrote to: file, models, longest model, longest boxes.
void endTask(Walk& w, int64_t k, int result) {
    std::vector<int32_t>& figures = w.task->figures;
    for (size_t i = 0; i < w.taskFiles.size(); ++i) {
        const TaskFile& part = w.taskFiles[i];
        w.task->streams[i]->finish();
        figures.push_back(part.file);
        figures.push_back(part.nbmod);
        figures.push_back(part.maxlongmod);
        figures.insert(figures.end(), part.maxlongbloc.begin(), part.maxlongbloc.end());
        w.taskFileOf[static_cast<size_t>(part.file)] = -1;
    }
    w.taskFiles.clear();
    w.task = nullptr;
    w.writes = false;
    w.board->finish(k, result);
}

// Writes task k's output in its place once it is done; returns the task's result.
int writeTask(Walk& w, int64_t k) {
    TaskRecord* done = w.board->waitFor(k);
    if (done == nullptr) fatalError("doSpell: a part of the extraction failed\n");
    const size_t boxes = static_cast<size_t>(w.cr->nbbloc);
    const std::vector<int32_t>& figures = done->figures;
    for (size_t i = 0; i < done->streams.size(); ++i) {
        const int32_t* part = figures.data() + i * (3 + boxes);
        const int file = part[0];
        if (!done->streams[i]->copyTo(f[file]) && !ferror(f[file]))
            fatalError("doSpell: cannot read back a part of the results from its temporary file\n");
        nbmod[file] += part[1];
        maxlongmod[file] = std::max(maxlongmod[file], part[2]);
        for (size_t b = 0; b < boxes; ++b) maxlongbloc[file][b] = std::max(maxlongbloc[file][b], part[3 + b]);
    }
    for (int32_t i = 0; i < done->ticks; ++i) tick(w);
    const int result = done->result;
    w.board->release(k);
    return result;
}

// Explores the model given (see Frame) and all its extensions depth first, symbols in increasing number: for
// each symbol the next box (once per spacer window reaching the quorum) before the extension inside the box,
// and a model after its extensions.  Returns 1 when the model ends with the joker or a spacer and reached the
// keep point, else 0.
int spellModels(Walk& w, int prof, int lgbloc, int numbloc, int nbseqmod, int indbas, int indhaut) {
    using Step = Frame::Step;
    const Criteres* cr = w.cr;
    std::vector<Frame> frames;
    // Ends fr with its result; a task ends with its model.
    auto endFrame = [&](const Frame& fr, int frameResult) {
        if (fr.task >= 0) endTask(w, fr.task, frameResult);
        frames.pop_back();
        return frameResult;
    };
    frames.push_back({prof, lgbloc, numbloc, nbseqmod, indbas, indhaut});
    int result = 0;  // of the model that ended last
    while (!frames.empty()) {
        Frame& fr = frames.back();
        switch (fr.step) {
            case Step::Enter:
                if (fr.prof == w.taskDepth && w.task == nullptr) {
                    // The subtree of this model is one task: the writer copies its output, a worker runs it
                    // when no other worker has.
                    const int64_t k = w.nextTask++;
                    if (w.writer) {
                        result = writeTask(w, k);
                        frames.pop_back();
                        break;
                    }
                    if (!beginTask(w, k)) {
                        result = 0;
                        frames.pop_back();
                        break;
                    }
                    fr.task = k;
                }
                // A shared model stands for one model per window: the meter counts each.
                if (fr.prof == 3 && (w.board == nullptr || w.writer || w.task != nullptr))
                    for (int t = fr.windows != 0 ? __builtin_popcount(fr.windows) : 1; t > 0; --t) tick(w);
                if (limitReached(cr, fr.prof, fr.lgbloc, fr.numbloc, w.longbloc)) {
                    w.table.release(fr.successors);
                    int kept = 0;
                    if (fr.numbloc == cr->nbbloc - 1) kept = keepFrame(w, fr, fr.windows);
                    result = endFrame(fr, kept);
                    break;
                }
                if (fr.successors == nullptr) {
                    LevelWalk range = topLevel(w.pile);
                    if (fr.indhaut != 0) range = {fr.indhaut, std::max<int64_t>(range.stop, fr.indbas)};
                    const SubstitutionLimits limits(cr, fr.numbloc, true);
                    const SuccessorTable::GroupFilter filter = sharedFilter(w, fr);
                    fr.successors = fr.extended ? w.table.collectAfter(fr.parentSuccessors, fr.parentSymbol,
                                                                       limits, limits, true, filter.mask)
                                                : w.table.collect(w.pile, range, limits, true, filter);
                }
                collectChildren(w, fr);
                fr.step = Step::NextSymbol;
                break;

            case Step::NextSymbol:
                fr.step = trySymbols(w, fr);
                break;

            case Step::Finish:
                result = finishModel(w, fr);
                releaseSuccessors(w, fr);
                endFrame(fr, result);
                break;

            case Step::Window: {
                if (w.sharedGroups > 0 && fr.numbloc == cr->nbbloc - 2) {
                    // The last box is spelled once over the landings of every window reaching the quorum.
                    const uint32_t alive = fr.m == 0 ? windowsReachingQuorum(w, fr) : 0;
                    if (alive == 0) {
                        closeBoxChange(w, fr);
                        fr.step = Step::Extension;
                        break;
                    }
                    fr.m = fr.groups;  // no window is left once this walk is done
                    fr.step = Step::AfterWindow;
                    Frame child{fr.prof + 1,
                                0,
                                fr.numbloc + 1,
                                fr.u,
                                static_cast<int>(fr.bas),
                                static_cast<int>(fr.haut)};
                    child.windows = alive;
                    child.sequences.fill(fr.u);
                    frames.push_back(child);  // fr is not used past this point
                    break;
                }
                if (!nextWindow(w, fr)) {
                    closeBoxChange(w, fr);
                    // The box change never replaces the extension inside the box.
                    fr.step = Step::Extension;
                    break;
                }
                fr.step = Step::AfterWindow;
                const Frame child{fr.prof + 1,
                                  0,
                                  fr.numbloc + 1,
                                  fr.u,
                                  static_cast<int>(fr.bas),
                                  static_cast<int>(fr.haut)};
                frames.push_back(child);  // fr is not used past this point
                break;
            }

            case Step::AfterWindow:
                fr.sum += result != 0 ? 1 : 0;  // a shared walk gives its windows that reached the keep point
                fr.m++;
                fr.c++;
                fr.step = Step::Window;
                break;

            case Step::Extension: {
                if (!openExtension(w, fr)) {
                    fr.step = Step::NextSymbol;
                    break;
                }
                fr.step = Step::AfterExtension;
                Frame child{fr.prof + 1, fr.lgbloc + 1, fr.numbloc, fr.u, 0, 0};
                child.windows = fr.windows != 0 ? fr.childWindows : 0;
                if (child.windows != 0) child.sequences = w.childSequences;
                child.extended = true;
                child.parentSuccessors = fr.successors;
                std::swap(child.successors, w.children[fr.childBegin + static_cast<size_t>(fr.s)].block);
                child.parentSymbol = fr.s;
                frames.push_back(child);  // fr is not used past this point
                break;
            }

            case Step::AfterExtension:
                fr.sum += result;
                fr.reachedWindows |= static_cast<uint32_t>(result);
                if (fr.spend) spendComposition(w.cr, fr.numbloc, fr.s, -1);
                decrModel(w.model);
                fr.step = Step::NextSymbol;
                break;
        }
    }
    return result;
}

}  // namespace

namespace {

// Makes a walk of its own for the run of criteria cr, starting at the root below superRacine.
void openWalk(Walk& w, const Criteres* cr, Noeud* superRacine) {
    const size_t boxes = static_cast<size_t>(cr->nbbloc);
    const size_t spacers = boxes - 1;
    const size_t groups = static_cast<size_t>(cr->maxlargsaut > 0 ? cr->maxlargsaut : 1);
    w.criteria = std::make_unique<CriteresCopy>(cr, nbSymbMod);
    w.cr = w.criteria->get();
    w.model = allocModel();
    w.longbloc = allocOrDie<int>(boxes, "doSpell: cannot allocate 'longbloc'");
    w.bt_intermediaire = allocOrDie<BitTab*>(spacers, "doSpell: cannot allocate 'bt_intermediaire'\n");
    for (size_t i = 0; i < spacers; i++) {
        w.bt_intermediaire[i] =
            allocOrDie<BitTab>(groups, "doSpell: cannot allocate 'bt_intermediaire[i]'\n");
        for (size_t g = 0; g < groups; g++) w.bt_intermediaire[i][g] = AllocBitTab();
    }
    w.bt = AllocBitTab();
    ReinitBitTab(&w.bt);
    w.nbocc_saut = allocOrDie<int*>(spacers, "doSpell: cannot allocate 'nbocc_saut'\n");
    for (size_t i = 0; i < spacers; i++)
        w.nbocc_saut[i] = allocOrDie<int>(groups, "doSpell: cannot allocate 'nbocc_saut[i]'\n");
    w.cursaut = allocOrDie<int>(spacers, "doSpell: cannot allocate 'cursaut'\n");
    w.pileNext = creePileOcc();
    w.pile = creePileOcc();
    const int last = cr->nbbloc - 2;
    // A spacer of one length has one window: nothing to share.
    const int lastWidth = last >= 0 ? cr->sauts[last].max - cr->sauts[last].min + 1 : 0;
    if (lastWidth >= 2 && lastWidth <= kMaxSharedWindows) {
        w.sharedGroups = lastWidth;
        w.sharedSpan = 2 * cr->deltas[last] + 1;
    }
    if (cr->flagpal) w.posdebbloc = allocOrDie<int>(boxes, "doSpell: cannot allocate 'posdebbloc'\n");
    ajouteInitOcc2Pile(w.pile, superRacine);
}

void closeWalk(Walk& w) {
    const size_t spacers = static_cast<size_t>(w.cr->nbbloc) - 1;
    const size_t groups = static_cast<size_t>(w.cr->maxlargsaut > 0 ? w.cr->maxlargsaut : 1);
    free(w.model->name);
    free(w.model);
    for (size_t i = 0; i < spacers; i++) {
        for (size_t g = 0; g < groups; g++) free(w.bt_intermediaire[i][g]);
        free(w.bt_intermediaire[i]);
    }
    free(w.bt_intermediaire);
    free(w.bt);
    free(w.cursaut);
    for (size_t i = 0; i < spacers; i++) free(w.nbocc_saut[i]);
    free(w.nbocc_saut);
    liberePileOcc(w.pile);
    liberePileOcc(w.pileNext);
    free(w.longbloc);
    free(w.posdebbloc);
}

// Memory that finished and running tasks may hold before their output goes to temporary files.
constexpr int64_t kTaskMemory = 32ll << 20;

// The walk cut into tasks: workers run them, the calling thread writes them in walk order.
void spellInParallel(const Criteres* cr, Noeud* superRacine, int threads) {
    TaskBoard board(kTaskMemory);
    std::mutex meter;
    const int taskDepthForRun = taskDepth(nbSymbMod, clusterThreads(threads), longestModel(cr));
    const size_t files = static_cast<size_t>(nbFichiers(cr));
    auto setUp = [&](Walk& w) {
        openWalk(w, cr, superRacine);
        w.board = &board;
        w.taskDepth = taskDepthForRun;
        w.meter = &meter;
        w.taskFileOf.assign(files, -1);
    };
    auto work = [&] {
        try {
            Walk w{};
            setUp(w);
            w.writes = false;
            spellModels(w, 0, 0, 0, 0, 0, 0);
            closeWalk(w);
        } catch (const std::bad_alloc&) {
            fatalError("doSpell: cannot allocate the walk's working storage\n");
        }
    };
    auto write = [&] {
        Walk writer{};
        setUp(writer);
        writer.writer = true;
        spellModels(writer, 0, 0, 0, 0, 0, 0);
        closeWalk(writer);
    };
    runTasks(board, threads, work, write);
}

}  // namespace

void doSpell(Criteres* cr, [[maybe_unused]] int nbseq, Noeud* racine, int threads) {
    Noeud* superRacine = makeSuperRacine(racine);
    fputs("** Models extraction **\n", stderr);
    barre(static_cast<int>(pow(nbSymbMod, 3)));
    try {
        if (threads <= 1 && clusterSize() == 1) {
            Walk w{};
            openWalk(w, cr, superRacine);
            spellModels(w, 0, 0, 0, 0, 0, 0);
            closeWalk(w);
        } else {
            spellInParallel(cr, superRacine, threads);
        }
    } catch (const std::bad_alloc&) {
        fatalError("doSpell: cannot allocate the walk's working storage\n");
    }
}
