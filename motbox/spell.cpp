// Model spelling engine of motbox: a depth-first walk over the models alphabet that carries, on an
// occurrence stack, every place of the suffix tree where the current model ends, and prunes a branch
// as soon as those places fall in fewer sequences than the quorum.
#include "spell.h"

#include <algorithm>
#include <climits>
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
#include "global.h"
#include "global_fonctions.h"
#include "model.h"
#include "occ.h"
#include "pile_occ.h"
#include "successor_table.h"
#include "task_output.h"

FILE* f = nullptr;
int nbmod = 0;
int maxlongmod = 0;
int* maxlongbloc = nullptr;

namespace {

// ---- Spacer jumps ------------------------------------------------------------------------------

// A spacer cannot be shorter than nothing: a negative minimum would send the jump back up the edge,
// before the start of its label.
int32_t spacerMin(const Criteres* cr, int b) {
    return std::max(0, cr->sauts[b].min);
}

int32_t sauteSymbole(Noeud* noeudpere, int32_t pos, int32_t nberr, int32_t longsaut, int32_t nberrbloc,
                     int32_t codesaut, int32_t lettre, Model* model, PileOcc* dest, Criteres* cr, int b,
                     int32_t lgsaut) {
    // Along one edge the landings follow each other character by character; the recursion is kept for
    // the branching at nodes only, so that long spacers do not make the stack deep.
    const int32_t maxSaut = cr->sauts[b].max;
    void* child = noeudpere->fils[lettre];
    const int32_t longueur = seg_taille(child);
    int32_t landings = 0;
    for (;; ++pos, ++lgsaut) {
        ajouteOcc2Pile(dest, noeudpere, lettre, pos, nberr, 0, longsaut + lgsaut,
                       addSaut2Code(codesaut, lgsaut, b, cr));
        ++landings;
        if (maxSaut < lgsaut + 1) return landings;
        if (pos == longueur) break;
        if (edgeChar(child, pos) == '$') return landings;
    }
    if (isFeuille(child)) return landings;
    auto* node = static_cast<Noeud*>(child);
    for (int32_t m = 0; m < nbSymbSeq; ++m)
        if (node->fils[m] != nullptr)
            landings += sauteSymbole(node, 1, nberr, longsaut, nberrbloc, codesaut, m, model, dest, cr, b,
                                     lgsaut + 1);
    return landings;
}

// dist characters are already jumped; descends every branch to exactly the spacer's minimum, then
// hands over to sauteSymbole for the longer jumps.
int32_t sauteBranche(Noeud* noeudpere, int32_t pos, int32_t nberr, int32_t longsaut, int32_t nberrbloc,
                     int32_t codesaut, int32_t lettre, Model* model, PileOcc* dest, Criteres* cr, int b,
                     int32_t dist) {
    const int32_t minSaut = spacerMin(cr, b);
    const int32_t need = minSaut - dist;
    void* child = noeudpere->fils[lettre];
    const int32_t longueur = seg_taille(child);
    if (pos < longueur) {
        const int32_t rest = longueur - pos;
        if (rest > need)
            return sauteSymbole(noeudpere, pos + need, nberr, longsaut, nberrbloc, codesaut, lettre, model,
                                dest, cr, b, minSaut);
        if (edgeChar(child, longueur - 1) == '$') return 0;
        return sauteBranche(noeudpere, longueur, nberr, longsaut, nberrbloc, codesaut, lettre, model, dest,
                            cr, b, dist + rest);
    }
    if (isFeuille(child)) return 0;
    auto* node = static_cast<Noeud*>(child);
    int32_t landings = 0;
    for (int32_t m = 0; m < nbSymbSeq; ++m) {
        void* grandchild = node->fils[m];
        if (grandchild == nullptr) continue;
        const int32_t gL = seg_taille(grandchild);
        if (need < gL)  // need 0 lands on the node itself, bound to edge m
            landings += sauteSymbole(node, need, nberr, longsaut, nberrbloc, codesaut, m, model, dest, cr, b,
                                     minSaut);
        else if (edgeChar(grandchild, gL - 1) != '$')
            landings += sauteBranche(node, gL, nberr, longsaut, nberrbloc, codesaut, m, model, dest, cr, b,
                                     dist + gL);
    }
    return landings;
}

// Jumps the top level of source over spacer b onto a new level of dest; returns the number of
// landings, and leaves dest as it was when there is none.
int32_t gestionSaut(Model* model, PileOcc* dest, PileOcc* source, Criteres* cr, int b) {
    ajouteDummy(dest);
    int32_t landings = 0;
    forEachInTopLevel(source, [&](const Occ& o) {
        if (spacerMin(cr, b) != 0)
            landings += sauteBranche(o.noeudpere, o.pos, o.nberr, o.longsaut, o.nberrbloc, o.codesaut,
                                     o.lettre, model, dest, cr, b, 0);
        else
            landings += sauteSymbole(o.noeudpere, o.pos, o.nberr, o.longsaut, o.nberrbloc, o.codesaut,
                                     o.lettre, model, dest, cr, b, 0);
    });
    if (landings == 0) depileRec(dest);
    return landings;
}

// ---- Model output ------------------------------------------------------------------------------

// Where the walk writes its models, with the figures of the summary line.
struct RunOutput {
    FILE* f = nullptr;
    int nbmod = 0;
    int maxlongmod = 0;
    std::vector<int> maxlongbloc;  // by box
};

void keepModel(RunOutput& out, const Model* model, const PileOcc* pile, int32_t nbseqmod, int32_t prof,
               const int32_t* longbloc, const Criteres* cr) {
    ++out.nbmod;
    writeModelLine(out.f, model, nbseqmod);
    out.maxlongmod = std::max(out.maxlongmod, prof);
    if (cr->nbbloc != 1 && longbloc != nullptr)
        for (int i = 0; i < cr->nbbloc; ++i) out.maxlongbloc[i] = std::max(out.maxlongbloc[i], longbloc[i]);
    afficheLastOcc(out.f, pile, prof, cr);
}

// ---- Spelling recursion ------------------------------------------------------------------------

// The box whose reverse complement box b spells, or -1.  Only an earlier box of a multi-box run has
// a recorded start and length on the current path; any other declaration is treated as no partner.
int partnerOf(const Criteres* cr, int32_t b, bool multibloc) {
    if (!cr->flagpal || !multibloc) return -1;
    const int p = cr->palbloc[b];
    return p >= 0 && p < b ? p : -1;
}

bool compositionApplies(const Criteres* cr, int32_t numbloc) {
    return cr->flagcompo || cr->flagcompobloc[numbloc];
}

// Allowances count down while a symbol is in the model; -1 (no limit) only moves further below 0.
void takeAllowance(Criteres* cr, int32_t numbloc, int32_t s, int delta) {
    if (!compositionApplies(cr, numbloc)) return;
    cr->compo[s] -= delta;
    cr->compobloc[numbloc][s] -= delta;
}

bool limitsReached(const Criteres* cr, int32_t prof, int32_t lgbloc, int32_t numbloc, bool multibloc,
                   const int32_t* longbloc) {
    if (cr->maxlong != 0 && prof >= cr->maxlong) return true;
    const int32_t boxMax = cr->bornesbloc[numbloc].max;
    if (multibloc && boxMax != 0 && lgbloc >= boxMax) return true;
    const int p = partnerOf(cr, numbloc, multibloc);
    return p >= 0 && longbloc[p] == lgbloc;
}

// Filters of a candidate symbol.  Records where the current box begins, for later palindromic boxes.
bool symbolAllowed(const Criteres* cr, int32_t s, int32_t prof, int32_t lgbloc, int32_t numbloc,
                   bool multibloc, const Model* model, const int32_t* longbloc, int32_t* posdebbloc) {
    if (prof == 0 && s == numJOKER) return false;
    if (compositionApplies(cr, numbloc) && (cr->compobloc[numbloc][s] == 0 || cr->compo[s] == 0))
        return false;
    if (!cr->flagpal) return true;
    if (lgbloc == 0 && posdebbloc != nullptr) posdebbloc[numbloc] = model->longueur;
    const int p = partnerOf(cr, numbloc, multibloc);
    if (p < 0) return true;
    const int32_t mirrored = model->name[posdebbloc[p] + longbloc[p] - lgbloc - 1];
    return comp[mirrored] == s;
}

bool passesFinalTests(const Criteres* cr, int32_t prof, int32_t lgbloc, int32_t numbloc, bool multibloc,
                      const int32_t* longbloc) {
    if (numbloc != cr->nbbloc - 1 || prof < cr->minlong) return false;
    if (multibloc && lgbloc < cr->bornesbloc[numbloc].min) return false;
    const int p = partnerOf(cr, numbloc, multibloc);
    return p < 0 || lgbloc == longbloc[p];
}

// Returns 1 when the model ends with the joker or with an empty box (such a model is not written, but
// its caller learns that this extension reached the keep point), else 0.  The model's occurrences are
// the top level of pile once stackOccurrences has run; it runs only for a model that is written.
// A null out writes nothing: a worker's replay of the models above its tasks.
template <typename StackOccurrences>
int32_t keepPoint(RunOutput* out, Model* model, PileOcc* pile, int32_t nbseqmod, int32_t prof, int32_t lgbloc,
                  int32_t numbloc, bool multibloc, const Criteres* cr, int32_t* longbloc,
                  StackOccurrences stackOccurrences) {
    if (model->longueur == 0) return 0;  // the empty model (minimum length 0) would be every text position
    const int32_t last = model->name[model->longueur - 1];
    if (last == numJOKER || last == numSAUT) return 1;
    if (multibloc) longbloc[numbloc] = lgbloc;
    if (out == nullptr) return 0;
    const bool stacked = stackOccurrences();
    keepModel(*out, model, pile, nbseqmod, prof, longbloc, cr);
    if (stacked) depileRec(pile);
    return 0;
}

// One model of the walk: the state that a recursive call would keep on the machine stack.  The walk
// goes as deep as the longest model (tens of thousands of symbols for texts that share a long segment),
// so its frames live on the heap.
struct Frame {
    enum class Step {
        Enter,           // limits, then the symbol loop
        NextSymbol,      // try the symbol after s
        AfterBoxChange,  // the next box of model + s has been explored
        Extension,       // extend the model by s inside the box
        AfterExtension,  // model + s has been explored
    };
    int32_t prof;
    int32_t lgbloc;
    int32_t numbloc;
    int32_t nbseqmod;
    Step step = Step::Enter;
    int32_t s = -1;                      // symbol being tried
    int32_t flagJoker = 0;               // a joker extension or a box change was explored
    int32_t sommeRes = 0;                // sum of the results of the explored extensions
    int32_t u = -1;                      // exact number of sequences of model + s, -1 until counted
    SuccessorTable::Range successors{};  // this model's part of the successor table
    // A model extended inside its box has no level of its own in the stack: its occurrences are the
    // successors of its parent's model moved by the parent's symbol.
    bool extended = false;
    SuccessorTable::Range parentSuccessors{};
    int32_t parentSymbol = -1;
    int64_t task = -1;  // the task whose subtree this model opens, -1 for any other model
    // The successors of this model's extensions, read together before the first of them (one slot per
    // symbol, in Walker::childBlocks from childBegin on); batched is false until then.
    bool batched = false;
    size_t childBegin = 0;
};

// Everything one walk changes: its copy of the allowances that the walk counts down, its stacks and
// tables, its output.  The tree, the texts and the alphabet tables are shared by every walker, read only.
// A parallel run has one walker per worker thread and one for the writer; each of them goes through the
// models above the task depth (few), and the tasks below are run by whichever worker claims them first.
struct Walker {
    CriteresCopy criteria;  // the run's criteria with allowances of the walker's own
    Criteres& cr;
    bool multibloc;
    PileOcc* pile = nullptr;
    PileOcc* pileNext = nullptr;
    Model* model = nullptr;
    SuccessorTable table;
    std::vector<int32_t> longbloc;
    std::vector<int32_t> posdebbloc;
    std::vector<SuccessorTable::Range> childBlocks;  // see Frame::childBegin
    RunOutput* out;  // null: the models above the tasks are not written (a worker)

    // Parallel run.
    TaskBoard* board = nullptr;
    int32_t taskDepth = -1;  // depth of the models that open tasks; -1: no tasks
    bool writer = false;     // copies the tasks' output in order and writes the models above them
    std::mutex* meter = nullptr;
    int64_t nextTask = 0;  // number of the next task met in walk order
    TaskRecord* task = nullptr;
    RunOutput taskOutput;
    RunOutput* outsideTask = nullptr;

    Walker(const Criteres* source, Noeud* superRacine, RunOutput* output)
        : criteria(source, nbSymbMod), cr(*criteria.get()), multibloc(source->nbbloc != 1), out(output) {
        if (multibloc) {
            longbloc.assign(static_cast<size_t>(source->nbbloc), 0);
            if (source->flagpal) posdebbloc.assign(static_cast<size_t>(source->nbbloc), 0);
        }
        model = allocModel();
        pileNext = creePileOcc();
        pile = creePileOcc();
        ajouteInitOcc2Pile(pile, superRacine);
    }
    ~Walker() {
        free(model->name);
        free(model);
        liberePileOcc(pile);
        liberePileOcc(pileNext);
    }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    bool inTask() const { return task != nullptr; }
    // The meter advances once per model of depth 3: above the tasks the writer counts it, inside a task
    // the worker that runs it.
    bool ticksMeter() const { return board == nullptr || writer || inTask(); }
    void tick() {
        if (inTask() && board->shipsResults()) {
            ++task->ticks;  // drawn by the process that writes the task
            return;
        }
        if (meter == nullptr) {
            barre(0);
            return;
        }
        std::lock_guard<std::mutex> lock(*meter);
        barre(0);
    }

    // Claims task k; its models then go to streams of its own.  False when another worker has it.
    bool beginTask(int64_t k) {
        task = board->claim(k);
        if (task == nullptr) return false;
        task->streams.push_back(std::make_unique<ChunkStream>(board->budget()));
        FILE* stream = task->streams.back()->stream();
        if (stream == nullptr) fatalError("doSpell: cannot open a stream for a part of the results\n");
        taskOutput = RunOutput{stream, 0, 0, std::vector<int>(static_cast<size_t>(cr.nbbloc), 0)};
        outsideTask = out;
        out = &taskOutput;
        return true;
    }

    void endTask(int64_t k, int32_t result) {
        task->streams.back()->finish();
        task->figures = {taskOutput.nbmod, taskOutput.maxlongmod};
        task->figures.insert(task->figures.end(), taskOutput.maxlongbloc.begin(),
                             taskOutput.maxlongbloc.end());
        task = nullptr;
        out = outsideTask;
        board->finish(k, result);
    }

    // Writes task k's output in its place once it is done; returns the task's result.
    int32_t writeTask(int64_t k) {
        TaskRecord* done = board->waitFor(k);
        if (done == nullptr) fatalError("doSpell: a part of the extraction failed\n");
        for (auto& stream : done->streams)
            if (!stream->copyTo(out->f) && !ferror(out->f))
                fatalError("doSpell: cannot read back a part of the results from its temporary file\n");
        const std::vector<int32_t>& figures = done->figures;
        out->nbmod += figures[0];
        out->maxlongmod = std::max(out->maxlongmod, figures[1]);
        for (size_t b = 0; b < out->maxlongbloc.size() && b + 2 < figures.size(); ++b)
            out->maxlongbloc[b] = std::max(out->maxlongbloc[b], figures[b + 2]);
        for (int32_t i = 0; i < done->ticks; ++i) tick();
        const int32_t result = done->result;
        board->release(k);
        return result;
    }
};

// Explores the model of `pile`'s top level and all its extensions depth first, symbols in increasing
// number, a box change before the extension inside the box, and a model after its extensions.  Returns
// 1 when the model ends with the joker or with an empty box and reached the keep point, else 0.
int32_t spellModels(Walker& w) {
    using Step = Frame::Step;
    PileOcc* pile = w.pile;
    PileOcc* pileNext = w.pileNext;
    Model* model = w.model;
    SuccessorTable& table = w.table;
    Criteres* cr = &w.cr;
    const bool multibloc = w.multibloc;
    int32_t* longbloc = w.longbloc.data();
    int32_t* posdebbloc = w.posdebbloc.empty() ? nullptr : w.posdebbloc.data();
    std::vector<Frame> frames;
    auto lastBox = [&](const Frame& fr) { return fr.numbloc == cr->nbbloc - 1; };
    auto keep = [&](const Frame& fr) {
        auto stackOccurrences = [&] {
            if (!fr.extended) return false;
            ajouteDummy(pile);
            table.appendMoves(fr.parentSuccessors, fr.parentSymbol,
                              SubstitutionLimits(cr, fr.numbloc, multibloc), multibloc, pile);
            return true;
        };
        return keepPoint(w.out, model, pile, fr.nbseqmod, fr.prof, fr.lgbloc, fr.numbloc, multibloc, cr,
                         longbloc, stackOccurrences);
    };

    // Goes on to the next symbol whose moves reach the quorum; false when none is left.  A symbol under
    // the quorum is passed over: neither a box change nor an extension would follow.
    auto nextSymbol = [&](Frame& fr) {
        while (++fr.s < nbSymbMod) {
            if (!symbolAllowed(cr, fr.s, fr.prof, fr.lgbloc, fr.numbloc, multibloc, model, longbloc,
                               posdebbloc))
                continue;
            const SuccessorTable::Count c = table.count(fr.successors, fr.s);
            if (c.moves == 0 || c.sequences < cr->quorum) continue;
            fr.u = c.sequences;
            return true;
        }
        return false;
    };

    // Box numbloc may end with s: when model + s reaches the quorum and its occurrences land over the
    // spacer, the model becomes model + s + spacer, its landings the top level of pile.
    enum class BoxChange { UnderQuorum, NothingLanded, Opened };
    auto openBoxChange = [&](Frame& fr) {
        // pileNext is scratch: the occurrences of model + s, the origins of the jumps.
        videPile(pileNext);
        table.appendMoves(fr.successors, fr.s, SubstitutionLimits(cr, fr.numbloc, multibloc), multibloc,
                          pileNext);
        if (gestionSaut(model, pile, pileNext, cr, fr.numbloc) == 0) return BoxChange::NothingLanded;
        changeModel(model, fr.s);
        changeModel(model, numSAUT);
        fr.flagJoker = 1;
        takeAllowance(cr, fr.numbloc, fr.s, 1);
        longbloc[fr.numbloc] = fr.lgbloc + 1;
        return BoxChange::Opened;
    };
    auto closeBoxChange = [&](const Frame& fr) {
        takeAllowance(cr, fr.numbloc, fr.s, -1);
        decrModel(model);
        decrModel(model);
        depileRec(pile);
    };

    // The model becomes model + s inside its box when that reaches the quorum.
    auto openExtension = [&](Frame& fr) {
        if (fr.s == numJOKER) fr.flagJoker = 1;
        changeModel(model, fr.s);
        takeAllowance(cr, fr.numbloc, fr.s, 1);
        return true;
    };
    auto closeExtension = [&](const Frame& fr) {
        takeAllowance(cr, fr.numbloc, fr.s, -1);
        decrModel(model);
    };

    // Ends fr with its result; a task ends with its model.
    auto endFrame = [&](const Frame& fr, int32_t frameResult) {
        if (fr.task >= 0) w.endTask(fr.task, frameResult);
        frames.pop_back();
        return frameResult;
    };
    auto popFrame = [&](const Frame& fr, int32_t frameResult) {
        table.release(fr.successors);
        if (fr.batched) {
            for (size_t i = fr.childBegin; i < w.childBlocks.size(); ++i) table.release(w.childBlocks[i]);
            w.childBlocks.resize(fr.childBegin);
        }
        return endFrame(fr, frameResult);
    };

    // Reads the successors of every extension of fr's model that will be explored, in one pass.  An
    // extension is explored when its symbol is allowed, reaches the quorum and leaves the model within
    // its limits; the models of the task depth are left to the walker that runs them.
    auto collectChildren = [&](Frame& fr) {
        fr.batched = true;
        fr.childBegin = w.childBlocks.size();
        w.childBlocks.resize(fr.childBegin + static_cast<size_t>(nbSymbMod), nullptr);
        if (w.board != nullptr && fr.prof + 1 == w.taskDepth) return;
        if (limitsReached(cr, fr.prof + 1, fr.lgbloc + 1, fr.numbloc, multibloc, longbloc)) return;
        int32_t symbols[kAlphabetSlots];
        int n = 0;
        for (int32_t s = 0; s < nbSymbMod; ++s) {
            if (!symbolAllowed(cr, s, fr.prof, fr.lgbloc, fr.numbloc, multibloc, model, longbloc, posdebbloc))
                continue;
            const SuccessorTable::Count c = table.count(fr.successors, s);
            if (c.moves > 0 && c.sequences >= cr->quorum) symbols[n++] = s;
        }
        if (n == 0) return;
        SuccessorTable::Range blocks[kAlphabetSlots];
        const SubstitutionLimits limits(cr, fr.numbloc, multibloc);
        table.collectChildren(fr.successors, symbols, n, limits, limits, multibloc, blocks);
        for (int i = 0; i < n; ++i)
            w.childBlocks[fr.childBegin + static_cast<size_t>(symbols[i])] = blocks[i];
    };

    frames.push_back({0, 0, 0, 0});
    int32_t result = 0;  // of the frame that ended last
    while (!frames.empty()) {
        Frame& fr = frames.back();
        switch (fr.step) {
            case Step::Enter:
                if (fr.prof == w.taskDepth && !w.inTask()) {
                    // The subtree of this model is one task: the writer copies its output, a worker runs it
                    // when no other worker has.
                    const int64_t k = w.nextTask++;
                    if (w.writer) {
                        result = w.writeTask(k);
                        frames.pop_back();
                        break;
                    }
                    if (!w.beginTask(k)) {
                        result = 0;
                        frames.pop_back();
                        break;
                    }
                    fr.task = k;
                }
                if (fr.prof == 3 && w.ticksMeter()) w.tick();
                if (limitsReached(cr, fr.prof, fr.lgbloc, fr.numbloc, multibloc, longbloc)) {
                    table.release(fr.successors);
                    result = endFrame(fr, lastBox(fr) ? keep(fr) : 0);
                    break;
                }
                if (fr.successors == nullptr) {
                    const SubstitutionLimits limits(cr, fr.numbloc, multibloc);
                    fr.successors = fr.extended ? table.collectAfter(fr.parentSuccessors, fr.parentSymbol,
                                                                     limits, limits, multibloc)
                                                : table.collect(pile, topLevel(pile), limits, multibloc);
                }
                collectChildren(fr);
                fr.step = Step::NextSymbol;
                break;

            case Step::NextSymbol: {
                if (!nextSymbol(fr)) {
                    // A model that explored a joker extension (or a box change) is written only if one of
                    // them reached the keep point: otherwise the joker would stand for nothing.
                    const bool kept =
                        passesFinalTests(cr, fr.prof, fr.lgbloc, fr.numbloc, multibloc, longbloc) &&
                        !(fr.flagJoker && fr.sommeRes == 0);
                    result = popFrame(fr, kept ? keep(fr) : 0);
                    break;
                }
                fr.step = Step::Extension;
                const bool boxMayEnd =
                    multibloc && !lastBox(fr) && fr.lgbloc + 1 >= cr->bornesbloc[fr.numbloc].min;
                if (!boxMayEnd) break;
                const BoxChange change = openBoxChange(fr);
                // Under the quorum, model + s is not extended inside the box either.
                if (change == BoxChange::UnderQuorum) fr.step = Step::NextSymbol;
                if (change != BoxChange::Opened) break;
                fr.step = Step::AfterBoxChange;
                const Frame child{fr.prof + 1, 0, fr.numbloc + 1, fr.u};
                frames.push_back(child);  // fr is not used past this point
                break;
            }

            case Step::AfterBoxChange:
                fr.sommeRes += result;
                closeBoxChange(fr);
                fr.step = Step::Extension;
                break;

            case Step::Extension: {
                fr.step = Step::NextSymbol;
                if (!openExtension(fr)) break;
                fr.step = Step::AfterExtension;
                Frame child{fr.prof + 1, fr.lgbloc + 1, fr.numbloc, fr.u};
                child.extended = true;
                child.parentSuccessors = fr.successors;
                std::swap(child.successors, w.childBlocks[fr.childBegin + static_cast<size_t>(fr.s)]);
                child.parentSymbol = fr.s;
                frames.push_back(child);  // fr is not used past this point
                break;
            }

            case Step::AfterExtension:
                fr.sommeRes += result;
                closeExtension(fr);
                fr.step = Step::NextSymbol;
                break;
        }
    }
    return result;
}

}  // namespace

namespace {

// Memory that finished and running tasks may hold before their output goes to temporary files.
constexpr int64_t kTaskMemory = 32ll << 20;

// The walk cut into tasks: workers run them, the calling thread writes them in walk order.
void spellInParallel(const Criteres* cr, Noeud* superRacine, RunOutput& out, int threads) {
    TaskBoard board(kTaskMemory);
    std::mutex meter;
    const int32_t depth = taskDepth(nbSymbMod, clusterThreads(threads), longestModel(cr));
    auto setUp = [&](Walker& w) {
        w.board = &board;
        w.taskDepth = depth;
        w.meter = &meter;
    };
    auto work = [&] {
        try {
            Walker w(cr, superRacine, nullptr);
            setUp(w);
            spellModels(w);
        } catch (const std::bad_alloc&) {
            fatalError("doSpell: cannot allocate the walk's working storage\n");
        }
    };
    auto write = [&] {
        Walker writer(cr, superRacine, &out);
        setUp(writer);
        writer.writer = true;
        spellModels(writer);
    };
    runTasks(board, threads, work, write);
}

}  // namespace

void doSpell(Criteres* cr, [[maybe_unused]] int nbseq, Noeud* racine, int threads) {
    // The initial occurrence stands exactly at the root, like any occurrence at the end of its edge.
    Noeud* superRacine = makeSuperRacine(racine);
    RunOutput out{f, nbmod, maxlongmod, std::vector<int>(static_cast<size_t>(cr->nbbloc), 0)};
    if (maxlongbloc != nullptr) out.maxlongbloc.assign(maxlongbloc, maxlongbloc + cr->nbbloc);

    fputs("** Models extraction **\n", stderr);
    barre(static_cast<int>(pow(nbSymbMod, 3)));
    try {
        if (threads <= 1 && clusterSize() == 1) {
            Walker w(cr, superRacine, &out);
            spellModels(w);
        } else {
            spellInParallel(cr, superRacine, out, threads);
        }
    } catch (const std::bad_alloc&) {
        fatalError("doSpell: cannot allocate the walk's working storage\n");
    }
    nbmod = out.nbmod;
    maxlongmod = out.maxlongmod;
    if (maxlongbloc != nullptr) std::copy(out.maxlongbloc.begin(), out.maxlongbloc.end(), maxlongbloc);
}
