#include "spell.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "alphabet.h"
#include "barre.h"
#include "bit_tab.h"
#include "cluster.h"
#include "global.h"
#include "global_fonctions.h"
#include "model.h"
#include "occ.h"
#include "pile_occ.h"
#include "run.h"
#include "spacer_jumps.h"
#include "successor_table.h"
#include "task_output.h"

namespace {

// The last box is spelled once for all the windows of the last spacer when that spacer has at most this
// many lengths (and at least two): its models then carry sets of windows as bit masks.  Wider spacers walk
// their windows one by one.
constexpr int kMaxSharedWindows = 32;

// Memory that finished and running tasks may hold before their output goes to temporary files.
constexpr int64_t kTaskMemory = 32ll << 20;

using WindowSequences = std::array<int32_t, kMaxSharedWindows>;

// What a model's batched read gives one of its extensions: its successors and, for a model of the shared
// last box, the windows in which it is explored (its number of sequences in each is in Walk::childSequences).
struct ChildSlot {
    SuccessorTable::Range block = nullptr;
    uint32_t windows = 0;
};

// A task's part of one result file: its stream and the file's counters over the task's models.
struct TaskFile {
    int file;
    FILE* stream;
    SpellCounters counters;
};

// Colour sets owned by a walk and released with it.
class ColourSets {
  public:
    ColourSets() = default;
    ~ColourSets() {
        for (BitTab s : sets_) free(s);
    }
    ColourSets(const ColourSets&) = delete;
    ColourSets& operator=(const ColourSets&) = delete;
    void allocate(size_t n) {
        for (size_t i = 0; i < n; i++) sets_.push_back(AllocBitTab());
    }
    BitTab* at(size_t i) { return &sets_[i]; }

  private:
    std::vector<BitTab> sets_;
};

// What the windows of the spacers need on the current path: for each spacer, the size and the colour set
// of the landings of each length (group) of its jump.  Empty for motbox, whose spacers have no windows.
struct SpacerWindows {
    size_t groups = 1;            // per spacer: its widest range of lengths
    std::vector<int> nbocc_saut;  // [spacer * groups + group] landings of jump length min + group
    ColourSets bt_intermediaire;  // [spacer * groups + group] colour set of those landings
    ColourSets bt;                // scratch colour set for a window's count
    int32_t sharedGroups = 0;     // lengths of the last spacer when its windows are shared, else 0
    int32_t sharedSpan = 0;       // lengths per window, 2 x Delta + 1
};

// One model of the walk: the state that a recursive call would keep on the machine stack.  The walk goes as
// deep as the longest model (tens of thousands of symbols for texts that share a long segment), so its
// frames live on the heap.
struct Frame {
    enum class Step {
        Enter,           // limits, successors, then the symbol loop
        NextSymbol,      // try the symbols after s
        Window,          // spell the next box in the next window of the spacer after model + s
        AfterWindow,     // the next box has been spelled in window m
        Extension,       // extend the model by s inside the box
        AfterExtension,  // model + s has been explored
        Finish,          // every extension has been explored: keep the model or not
    };
    int prof;
    int lgbloc;
    int numbloc;
    int nbseqmod;
    // The entries of the stack's top level that hold this model's occurrences, from indhaut down to above
    // indbas (a window of the spacer before); 0: the whole top level.
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
    int u = -1;              // exact number of sequences of model + s
    bool jokerFlag = false;  // a joker extension or a box change was explored
    int sum = 0;             // results of the explored extensions and box changes
    // Box change after model + s: number of landing groups, the window about to be tried (number m,
    // centred on spacer length c) and the entries of its landings (from haut down to above bas).
    int groups = 0;
    int m = 0;
    int c = 0;
    int64_t bas = 0;
    int64_t haut = 0;
    // In the last box, when the last spacer's windows are shared (SpacerWindows::sharedGroups): the windows
    // in which this model is explored (bit m: window m, centred on spacer length min + Delta + m), its number
    // of sequences in each, the windows of its joker extensions, those in which its explored extensions
    // reached the keep point, and the windows of model + s.  windows is 0 for any other model: that of the
    // windows in Walk::cursaut, with sum and jokerFlag.
    uint32_t windows = 0;
    uint32_t jokerWindows = 0;
    uint32_t reachedWindows = 0;
    uint32_t childWindows = 0;
    WindowSequences sequences{};
};

// Everything one walk changes: its copy of the allowances that it counts down, its stacks and tables, its
// output; the state of each model lives in its frame.  The tree, the texts and the alphabet tables are
// shared by every walk, read only.  A parallel run has one walk per worker thread and one for the writer;
// each goes through the models above the task depth (few), and the tasks below are run by whichever worker
// claims them first.
struct Walk {
    const AlphabetTables& alphabet;  // the run's, read at every step of the walk
    CriteresCopy criteria;           // the run's criteria with allowances of the walk's own
    Criteres* cr;
    bool multibloc;     // false: a one-box run, which counts no box substitutions and has no spacers
    PileOcc* pile;      // one level per open prefix of the model; the top level holds the model's occurrences
    PileOcc* pileNext;  // scratch: the occurrences of model + s, the origins of a jump
    Model* model;
    SuccessorTable table;         // successors of every model on the current path
    std::vector<int> longbloc;    // length of each finished box of the current model
    std::vector<int> posdebbloc;  // index in model->name where each box starts (palindromes only)
    std::vector<int> cursaut;     // window centre chosen for each spacer on the current path
    SpacerWindows spacers;
    std::vector<ChildSlot> children;              // see Frame::childBegin
    std::vector<WindowSequences> childSequences;  // per child slot of a shared model, see ChildSlot
    WindowSequences trySequences{};               // per window, of the extension trySymbols found

    // Output: the run's files and counters; a worker outside its tasks writes nothing.
    const SpellOutput& output;
    std::vector<SpellCounters>* counters;
    bool writes;

    // Parallel run.
    TaskBoard* board = nullptr;
    int taskDepth = -1;   // depth of the models that open tasks; -1: no tasks
    bool writer = false;  // copies the tasks' output in order and writes the models above them
    std::mutex* meter = nullptr;
    int64_t nextTask = 0;  // number of the next task met in walk order
    TaskRecord* task = nullptr;
    std::vector<TaskFile> taskFiles;  // result files the running task has written to, in first-use order
    std::vector<int> taskFileOf;      // by result file: index in taskFiles, -1 = none yet

    Walk(const Criteres* source, Noeud* superRacine, const SpellOutput& out, std::vector<SpellCounters>* run);
    ~Walk() {
        free(model->name);
        free(model);
        liberePileOcc(pile);
        liberePileOcc(pileNext);
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
};

// ---- Spacer policy ------------------------------------------------------------------------------------
// How the next box follows a spacer.  motbox lands every length of the spacer on one level and spells the
// next box once over all of them.  motbox-delta keeps the landings of each length apart and spells the
// next box once per window of 2 x Delta + 1 consecutive lengths whose landings reach the quorum, sharing
// the walk of the last box between the windows of the last spacer when it is narrow enough.

#if MOTBOX_DELTA

void setUpSpacerWindows(Walk& w) {
    const Criteres* cr = w.cr;
    SpacerWindows& sw = w.spacers;
    const size_t spacers = static_cast<size_t>(cr->nbbloc) - 1;
    sw.groups = static_cast<size_t>(cr->maxlargsaut > 0 ? cr->maxlargsaut : 1);
    sw.nbocc_saut.assign(spacers * sw.groups, 0);
    sw.bt_intermediaire.allocate(spacers * sw.groups);
    sw.bt.allocate(1);
    ReinitBitTab(sw.bt.at(0));
    const int last = cr->nbbloc - 2;
    // A spacer of one length has one window: nothing to share.
    const int lastWidth = last >= 0 ? cr->sauts[last].max - cr->sauts[last].min + 1 : 0;
    if (lastWidth >= 2 && lastWidth <= kMaxSharedWindows) {
        sw.sharedGroups = lastWidth;
        sw.sharedSpan = 2 * cr->deltas[last] + 1;
    }
}

int* landingCounts(Walk& w, int b) {
    return w.spacers.nbocc_saut.data() + static_cast<size_t>(b) * w.spacers.groups;
}

// Landings in group g of the box change of fr; groups past the last length reached hold none.
int groupSize(Walk& w, const Frame& fr, int g) {
    return g < fr.groups ? landingCounts(w, fr.numbloc)[g] : 0;
}

// Jumps the occurrences of model + s (on w.pileNext) over spacer fr.numbloc onto a new level of w.pile,
// grouped by length, and readies the spacer's first window.  False when nothing landed.
bool jumpSpacer(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    const int numbloc = fr.numbloc;
    int* compteurs = landingCounts(w, numbloc);
    fr.groups = windowed_spacer::gestionSaut(w.pile, w.pileNext, cr, compteurs, cr->maxnbfenetres, numbloc);
    if (fr.groups == 0) return false;
    windowed_spacer::sommeBTOccPartielle(
        w.pile, w.spacers.bt_intermediaire.at(static_cast<size_t>(numbloc) * w.spacers.groups), fr.groups,
        compteurs);
    const int h = cr->deltas[numbloc];
    fr.m = 0;
    fr.c = cr->sauts[numbloc].min + h;
    fr.bas = getPrecDummy(w.pile);
    fr.haut = fr.bas;
    for (int g = 0; g <= 2 * h; g++) fr.haut += groupSize(w, fr, g);
    return true;
}

// Whether the landings of window m of fr's box change (groups m to m + 2 Delta) stand in a quorum of
// sequences.
bool windowReachesQuorum(Walk& w, const Frame& fr, int m) {
    const int h = w.cr->deltas[fr.numbloc];
    const BitTab* groupes = w.spacers.bt_intermediaire.at(static_cast<size_t>(fr.numbloc) * w.spacers.groups);
    BitTab* bt = w.spacers.bt.at(0);
    ReinitBitTab(bt);
    for (int g = m; g <= m + 2 * h && g < fr.groups; g++) fusionneBitTab(bt, groupes[g]);
    return sequencesInColourSet(*bt) >= w.cr->quorum;
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

// Centre of the shared window m of the last spacer.
int sharedWindowCentre(const Criteres* cr, int m) {
    const int b = cr->nbbloc - 2;
    return cr->sauts[b].min + cr->deltas[b] + m;
}

#else

void setUpSpacerWindows(Walk&) {}

// Jumps the occurrences of model + s (on w.pileNext) over every length of spacer fr.numbloc onto a new
// level of w.pile, which the next box reads whole.  False when nothing landed.
bool jumpSpacer(Walk& w, Frame& fr) {
    fr.groups = 1;
    fr.m = 0;
    fr.bas = 0;
    fr.haut = 0;
    return whole_spacer::gestionSaut(w.pile, w.pileNext, w.cr, fr.numbloc) != 0;
}

// The one "window" of a spacer: all its lengths.
bool nextWindow(Walk&, Frame& fr) {
    return fr.m == 0;
}

uint32_t windowsReachingQuorum(Walk&, Frame&) {
    return 0;  // no shared windows
}

int sharedWindowCentre(const Criteres*, int) {
    return 0;
}

#endif

Walk::Walk(const Criteres* source, Noeud* superRacine, const SpellOutput& out,
           std::vector<SpellCounters>* run)
    : alphabet(alphabetTables()),
      criteria(source, alphabetTables().nbSymbMod),
      cr(criteria.get()),
      multibloc(source->nbbloc != 1),
      output(out),
      counters(run),
      writes(run != nullptr) {
    const size_t boxes = static_cast<size_t>(source->nbbloc);
    longbloc.assign(boxes, 0);
    if (source->flagpal) posdebbloc.assign(boxes, 0);
    if (multibloc) cursaut.assign(boxes - 1, 0);
    model = allocModel();
    pileNext = creePileOcc();
    pile = creePileOcc();
    ajouteInitOcc2Pile(pile, superRacine);
    if (multibloc) setUpSpacerWindows(*this);
}

// ---- Model output -------------------------------------------------------------------------------------

// The running task's part of result file k, opened on first use.
TaskFile& taskFile(Walk& w, int k) {
    int& index = w.taskFileOf[static_cast<size_t>(k)];
    if (index < 0) {
        w.task->streams.push_back(std::make_unique<ChunkStream>(w.board->budget()));
        FILE* stream = w.task->streams.back()->stream();
        if (stream == nullptr) fatalError("doSpell: cannot open a stream for a part of the results\n");
        index = static_cast<int>(w.taskFiles.size());
        w.taskFiles.push_back({k, stream, {0, 0, std::vector<int>(static_cast<size_t>(w.cr->nbbloc), 0)}});
    }
    return w.taskFiles[static_cast<size_t>(index)];
}

void countModel(SpellCounters& c, const Walk& w, int prof) {
    ++c.nbmod;
    c.maxlongmod = std::max(c.maxlongmod, prof);
    if (!w.multibloc) return;
    for (size_t i = 0; i < c.maxlongbloc.size(); i++)
        c.maxlongbloc[i] = std::max(c.maxlongbloc[i], w.longbloc[i]);
}

// Writes the model, found in nbseqmod sequences, to its result file: the one file, or that of the windows
// in w.cursaut; with shared window m >= 0, to that of window m of the last spacer, with the occurrences of
// that window only.
void keepModel(Walk& w, int nbseqmod, int prof, int window = -1) {
    const Criteres* cr = w.cr;
    if (window >= 0) w.cursaut[static_cast<size_t>(cr->nbbloc - 2)] = sharedWindowCentre(cr, window);
    const int k = w.output.fileOfWindows != nullptr ? w.output.fileOfWindows(w.cursaut.data(), cr) : 0;
    FILE* out;
    SpellCounters* counters;
    if (w.task != nullptr) {
        TaskFile& part = taskFile(w, k);
        out = part.stream;
        counters = &part.counters;
    } else {
        out = w.output.files[static_cast<size_t>(k)];
        counters = &(*w.counters)[static_cast<size_t>(k)];
    }
    countModel(*counters, w, prof);
    writeModelLine(out, w.model, nbseqmod);
    if (window < 0) {
        afficheLastOcc(out, w.pile, prof, cr);
        return;
    }
    // Only the occurrences whose last spacer lies in the window.
    afficheLastOccWhere(out, w.pile, prof, cr, [&](const Occ& o) {
        const int32_t g = SuccessorTable::groupOf(o, w.spacers.sharedGroups);
        return g >= window && g < window + w.spacers.sharedSpan;
    });
}

// Writes fr's model unless it ends with the joker or a spacer: to its result file, or for a shared model to
// that of each window in `windows`, with its number of sequences there.  For a model ending with the joker
// or a spacer, returns 1 (for a shared model, `windows`) to tell the caller that the extension reached this
// point; else 0.  The model's occurrences are the top level of w.pile, or for an extended model its
// parent's successors moved by its last symbol, stacked only when the model is written.
int keepFrame(Walk& w, const Frame& fr, uint32_t windows = 0) {
    if (w.model->longueur == 0) return 0;  // the empty model (minimum length 0) would be every text position
    const int last = w.model->name[w.model->longueur - 1];
    if (last == w.alphabet.numJOKER || last == w.alphabet.numSAUT)
        return fr.windows != 0 ? static_cast<int>(windows) : 1;
    w.longbloc[fr.numbloc] = fr.lgbloc;
    if (!w.writes) return 0;
    if (fr.extended) {
        ajouteDummy(w.pile);
        w.table.appendMoves(fr.parentSuccessors, fr.parentSymbol,
                            SubstitutionLimits(w.cr, fr.numbloc, w.multibloc), w.multibloc, w.pile);
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

// ---- Criteria of a step -------------------------------------------------------------------------------

// The box whose reverse complement box b spells, or -1.  Only an earlier box of a multi-box run has a
// recorded start and length on the current path; any other declaration is treated as no partner.
int partnerOf(const Walk& w, int b) {
    if (!w.cr->flagpal || !w.multibloc) return -1;
    const int p = w.cr->palbloc[b];
    return p >= 0 && p < b ? p : -1;
}

bool compositionApplies(const Criteres* cr, int numbloc) {
    return cr->flagcompo || cr->flagcompobloc[numbloc];
}

// Allowances count down while a symbol is in the model; -1 (no limit) only moves further below 0.
void spendComposition(Criteres* cr, int numbloc, int s, int delta) {
    cr->compo[s] -= delta;
    cr->compobloc[numbloc][s] -= delta;
}

// The model may not grow any further: whole length, box length, or a palindromic box that has its
// partner's length.
bool limitReached(const Walk& w, int prof, int lgbloc, int numbloc) {
    const Criteres* cr = w.cr;
    if (cr->maxlong != 0 && prof >= cr->maxlong) return true;
    const int boxMax = cr->bornesbloc[numbloc].max;
    if (w.multibloc && boxMax != 0 && lgbloc >= boxMax) return true;
    const int p = partnerOf(w, numbloc);
    return p >= 0 && w.longbloc[p] == lgbloc;
}

// Whether fr's model may be extended by s at all: no joker first, composition left, palindrome partner (a
// palindromic box reads its partner backwards, each symbol complemented).  Records where the current box
// begins, for later palindromic boxes.
bool symbolAllowedFor(Walk& w, const Frame& fr, int s) {
    const Criteres* cr = w.cr;
    if (fr.prof == 0 && s == w.alphabet.numJOKER) return false;
    if (compositionApplies(cr, fr.numbloc) && (cr->compobloc[fr.numbloc][s] == 0 || cr->compo[s] == 0))
        return false;
    if (!cr->flagpal) return true;
    if (fr.lgbloc == 0) w.posdebbloc[fr.numbloc] = w.model->longueur;
    const int p = partnerOf(w, fr.numbloc);
    if (p < 0) return true;
    const int mirrored = w.model->name[w.posdebbloc[p] + w.longbloc[p] - fr.lgbloc - 1];
    return w.alphabet.comp[mirrored] == s;
}

bool symbolAllowed(Walk& w, Frame& fr) {
    fr.spend = compositionApplies(w.cr, fr.numbloc);
    return symbolAllowedFor(w, fr, fr.s);
}

// ---- Shared windows of the last box -------------------------------------------------------------------

// The groups (spacer lengths) that the windows of mask windows cover.
uint32_t groupsOfWindows(const Walk& w, uint32_t windows) {
    const uint64_t span = (1ull << w.spacers.sharedSpan) - 1;
    uint64_t groups = 0;
    for (uint32_t rest = windows; rest != 0; rest &= rest - 1) groups |= span << __builtin_ctz(rest);
    return static_cast<uint32_t>(groups);
}

SuccessorTable::GroupFilter sharedFilter(const Walk& w, const Frame& fr) {
    if (fr.windows == 0) return {};
    return {w.spacers.sharedGroups, groupsOfWindows(w, fr.windows)};
}

// Windows of the shared model fr in which model + s has moves and reaches the quorum; its number of
// sequences in each goes to sequences.
uint32_t windowsOfExtension(Walk& w, const Frame& fr, int s, int32_t* sequences) {
    SuccessorTable::Count counts[kMaxSharedWindows];
    w.table.countWindows(fr.successors, s, fr.windows, w.spacers.sharedSpan, counts);
    uint32_t alive = 0;
    for (uint32_t rest = fr.windows; rest != 0; rest &= rest - 1) {
        const int m = __builtin_ctz(rest);
        if (counts[m].moves == 0 || counts[m].sequences < w.cr->quorum) continue;
        alive |= 1u << m;
        sequences[m] = counts[m].sequences;
    }
    return alive;
}

// ---- Steps of the walk --------------------------------------------------------------------------------

// Reads the successors of every extension of fr's model that will be explored, in one pass.  An extension
// is explored when its symbol is allowed, reaches the quorum and leaves the model within its limits; the
// models of the task depth are left to the walk that runs them.
void collectChildren(Walk& w, Frame& fr) {
    const Criteres* cr = w.cr;
    fr.batched = true;
    fr.childBegin = w.children.size();
    w.children.resize(fr.childBegin + static_cast<size_t>(w.alphabet.nbSymbMod));
    if (w.board != nullptr && fr.prof + 1 == w.taskDepth) return;
    if (limitReached(w, fr.prof + 1, fr.lgbloc + 1, fr.numbloc)) return;
    int32_t symbols[kAlphabetSlots];
    uint32_t groupMasks[kAlphabetSlots];
    int n = 0;
    if (fr.windows != 0 && w.childSequences.size() < w.children.size())
        w.childSequences.resize(w.children.size());
    for (int s = 0; s < w.alphabet.nbSymbMod; ++s) {
        if (!symbolAllowedFor(w, fr, s)) continue;
        if (fr.windows != 0) {
            // Each extension keeps the landings of the windows where it is explored.
            const size_t slot = fr.childBegin + static_cast<size_t>(s);
            const uint32_t alive = windowsOfExtension(w, fr, s, w.childSequences[slot].data());
            w.children[slot].windows = alive;
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
    const SubstitutionLimits limits(cr, fr.numbloc, w.multibloc);
    w.table.collectChildren(fr.successors, symbols, n, limits, limits, w.multibloc, blocks,
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

// Box numbloc of the model ends with fr.s (model + s on w.pileNext): jumps those occurrences over the
// spacer and makes the model model + s + spacer, its first window ready.  Returns false when nothing
// landed; the walk is then left as it was.
bool openBoxChange(Walk& w, Frame& fr) {
    if (!jumpSpacer(w, fr)) return false;
    changeModel(w.model, fr.s);
    changeModel(w.model, w.alphabet.numSAUT);
    if (fr.spend) spendComposition(w.cr, fr.numbloc, fr.s, 1);
    w.longbloc[fr.numbloc] = fr.lgbloc + 1;
    return true;
}

// Undoes openBoxChange once every window was spelled: the model is back.
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
    if (fr.windows != 0) {
        // A shared model lies in the last box: its symbols only extend it.
        while (++fr.s < w.alphabet.nbSymbMod) {
            if (!symbolAllowed(w, fr)) continue;
            const size_t slot = fr.childBegin + static_cast<size_t>(fr.s);
            if (fr.windowsCounted) {
                fr.childWindows = w.children[slot].windows;
                if (fr.childWindows != 0) w.trySequences = w.childSequences[slot];
            } else {
                fr.childWindows = windowsOfExtension(w, fr, fr.s, w.trySequences.data());
            }
            if (fr.childWindows != 0) return Frame::Step::Extension;
        }
        return Frame::Step::Finish;
    }
    const bool boxMayEnd =
        w.multibloc && fr.numbloc != cr->nbbloc - 1 && fr.lgbloc + 1 >= cr->bornesbloc[fr.numbloc].min;
    while (++fr.s < w.alphabet.nbSymbMod) {
        if (!symbolAllowed(w, fr)) continue;
        // A symbol under the quorum is passed over without moving: neither a box change nor an extension
        // would follow.
        const SuccessorTable::Count c = w.table.count(fr.successors, fr.s);
        if (c.moves == 0 || c.sequences < cr->quorum) continue;
        fr.u = c.sequences;
        if (boxMayEnd) {
            videPile(w.pileNext);
            w.table.appendMoves(fr.successors, fr.s, SubstitutionLimits(cr, fr.numbloc, w.multibloc),
                                w.multibloc, w.pileNext);
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
void openExtension(Walk& w, Frame& fr) {
    if (fr.s == w.alphabet.numJOKER) {
        fr.jokerFlag = true;
        fr.jokerWindows |= fr.childWindows;
    }
    changeModel(w.model, fr.s);
    if (fr.spend) spendComposition(w.cr, fr.numbloc, fr.s, 1);
}

// Result of fr's model once all its extensions were explored: it is kept when it ends a whole model.
int finishModel(Walk& w, const Frame& fr) {
    const Criteres* cr = w.cr;
    const int numbloc = fr.numbloc;
    if (numbloc != cr->nbbloc - 1 || fr.prof < cr->minlong) return 0;
    if (w.multibloc && fr.lgbloc < cr->bornesbloc[numbloc].min) return 0;
    const int p = partnerOf(w, numbloc);
    if (p >= 0 && fr.lgbloc != w.longbloc[p]) return 0;
    // A joker extension (or a box change) that met the quorum but never reached the keep point hides this
    // model: the joker would stand for nothing.
    if (fr.windows != 0) {
        const uint32_t shown = fr.windows & ~(fr.jokerWindows & ~fr.reachedWindows);
        return shown == 0 ? 0 : keepFrame(w, fr, shown);
    }
    if (fr.jokerFlag && fr.sum == 0) return 0;
    return keepFrame(w, fr);
}

// ---- Tasks of a parallel run --------------------------------------------------------------------------

// The meter advances once per model of depth 3: above the tasks the writer counts it, inside a task the
// worker that runs it.
void tick(Walk& w) {
    endRunIfStopped();
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
    endRunIfStopped();
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
        figures.push_back(part.counters.nbmod);
        figures.push_back(part.counters.maxlongmod);
        figures.insert(figures.end(), part.counters.maxlongbloc.begin(), part.counters.maxlongbloc.end());
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
        const size_t file = static_cast<size_t>(part[0]);
        FILE* out = w.output.files[file];
        if (!done->streams[i]->copyTo(out) && !ferror(out))
            fatalError("doSpell: cannot read back a part of the results from its temporary file\n");
        SpellCounters& c = (*w.counters)[file];
        c.nbmod += part[1];
        c.maxlongmod = std::max(c.maxlongmod, part[2]);
        for (size_t b = 0; b < boxes; ++b) c.maxlongbloc[b] = std::max(c.maxlongbloc[b], part[3 + b]);
    }
    for (int32_t i = 0; i < done->ticks; ++i) tick(w);
    const int result = done->result;
    w.board->release(k);
    return result;
}

// ---- The walk -----------------------------------------------------------------------------------------

// Explores the empty model and all its extensions depth first, symbols in increasing number: for each
// symbol the next box (once per spacer window) before the extension inside the box, and a model after its
// extensions.
void spellModels(Walk& w) {
    using Step = Frame::Step;
    const Criteres* cr = w.cr;
    std::vector<Frame> frames;
    // Ends fr with its result; a task ends with its model.
    auto endFrame = [&](const Frame& fr, int frameResult) {
        if (fr.task >= 0) endTask(w, fr.task, frameResult);
        frames.pop_back();
        return frameResult;
    };
    auto boxChild = [&](const Frame& fr) {
        return Frame{
            fr.prof + 1, 0, fr.numbloc + 1, fr.u, static_cast<int>(fr.bas), static_cast<int>(fr.haut)};
    };
    frames.push_back({0, 0, 0, 0, 0, 0});
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
                if (limitReached(w, fr.prof, fr.lgbloc, fr.numbloc)) {
                    w.table.release(fr.successors);
                    const int kept = fr.numbloc == cr->nbbloc - 1 ? keepFrame(w, fr, fr.windows) : 0;
                    result = endFrame(fr, kept);
                    break;
                }
                if (fr.successors == nullptr) {
                    LevelWalk range = topLevel(w.pile);
                    if (fr.indhaut != 0) range = {fr.indhaut, std::max<int64_t>(range.stop, fr.indbas)};
                    const SubstitutionLimits limits(cr, fr.numbloc, w.multibloc);
                    const SuccessorTable::GroupFilter filter = sharedFilter(w, fr);
                    fr.successors = fr.extended
                                        ? w.table.collectAfter(fr.parentSuccessors, fr.parentSymbol, limits,
                                                               limits, w.multibloc, filter.mask)
                                        : w.table.collect(w.pile, range, limits, w.multibloc, filter);
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
                if (w.spacers.sharedGroups > 0 && fr.numbloc == cr->nbbloc - 2) {
                    // The last box is spelled once over the landings of every window reaching the quorum.
                    const uint32_t alive = fr.m == 0 ? windowsReachingQuorum(w, fr) : 0;
                    if (alive == 0) {
                        closeBoxChange(w, fr);
                        fr.step = Step::Extension;
                        break;
                    }
                    fr.m = fr.groups;  // no window is left once this walk is done
                    fr.step = Step::AfterWindow;
                    Frame child = boxChild(fr);
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
                frames.push_back(boxChild(fr));  // fr is not used past this point
                break;
            }

            case Step::AfterWindow:
                fr.sum += result != 0 ? 1 : 0;  // a shared walk gives its windows that reached the keep point
                fr.m++;
                fr.c++;
                fr.step = Step::Window;
                break;

            case Step::Extension: {
                openExtension(w, fr);
                fr.step = Step::AfterExtension;
                Frame child{fr.prof + 1, fr.lgbloc + 1, fr.numbloc, fr.u, 0, 0};
                if (fr.windows != 0) {
                    child.windows = fr.childWindows;
                    child.sequences = w.trySequences;
                }
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
}

// The walk cut into tasks: workers run them, the calling thread writes them in walk order.
void spellInParallel(const Criteres& cr, Noeud* superRacine, int threads, const SpellOutput& output,
                     std::vector<SpellCounters>& counters) {
    TaskBoard board(kTaskMemory);
    std::mutex meter;
    const int depth = taskDepth(alphabetTables().nbSymbMod, clusterThreads(threads), longestModel(&cr));
    auto setUp = [&](Walk& w) {
        w.board = &board;
        w.taskDepth = depth;
        w.meter = &meter;
        w.taskFileOf.assign(output.files.size(), -1);
    };
    auto work = [&] {
        try {
            Walk w(&cr, superRacine, output, nullptr);
            setUp(w);
            spellModels(w);
        } catch (const std::bad_alloc&) {
            fatalError("doSpell: cannot allocate the walk's working storage\n");
        }
    };
    auto write = [&] {
        Walk writer(&cr, superRacine, output, &counters);
        setUp(writer);
        writer.writer = true;
        spellModels(writer);
    };
    runTasks(board, threads, work, write);
}

}  // namespace

std::vector<SpellCounters> doSpell(const Criteres& cr, Noeud* racine, int threads,
                                   const SpellOutput& output) {
    // The initial occurrence stands exactly at the root, like any occurrence at the end of its edge.
    Noeud* superRacine = makeSuperRacine(racine);
    std::vector<SpellCounters> counters(
        output.files.size(), SpellCounters{0, 0, std::vector<int>(static_cast<size_t>(cr.nbbloc), 0)});
    progressNote("** Models extraction **\n");
    barre(static_cast<int>(pow(alphabetTables().nbSymbMod, 3)));
    try {
        if (threads <= 1 && clusterSize() == 1) {
            Walk w(&cr, superRacine, output, &counters);
            spellModels(w);
        } else {
            spellInParallel(cr, superRacine, threads, output, counters);
        }
    } catch (const std::bad_alloc&) {
        fatalError("doSpell: cannot allocate the walk's working storage\n");
    }
    return counters;
}
