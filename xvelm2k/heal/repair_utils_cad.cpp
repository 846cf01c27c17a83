// The ProE, V4, V5 and Ideas recipes: repair, double-sided open shells, and
// bodies whose shells or lumps touch split into one body per piece.
#include <memory>
#include <string>
#include <vector>

#include "heal/repair_utils_internal.hxx"
#include "heal/step_watch.hxx"
#include "loops/loop_repair.hxx"
#include "loops/repair_loops.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/post_process_util.hxx"
#include "repair/vertex_util.hxx"
#include "velm/body_heal.hxx"
#include "velm/pcurves.hxx"
#include "velm/topology.hxx"

using namespace ve_recipes;

namespace {

// Bodies made inside a body's healing went with it when it was undone.
void dropMadeAfterCad(QELXDynamicArray<Ve_BodyTag*>& list, int count)
{
    while (list.Count() > count)
        list.RemoveAt(list.Count() - 1);
}

// The body's further connected pieces, in the kernel's order; none when the
// separation fails (the body stays whole, and a warning names it).
QELXDynamicArray<Ve_BodyTag*> recipeSeparatedPieces(Ve_BodyTag* body, const std::string& label)
{
    QELXDynamicArray<Ve_BodyTag*> pieces;
    int count = 0;
    BODY** made = nullptr;
    const outcome separated = api_separate_body(kernelOf(body), count, made);
    if (!separated.ok())
        warnStepSkipped(separated, "api_separate_body", label);
    if (separated.ok() && made)
        for (int k = 1; k < count; ++k)
            pieces.Add(viewOf(made[k]));
    delete[] made;
    return pieces;
}

void minimiseRecipeBody(Ve_BodyTag* body)
{
    if (!body)
        return;
    ENTITY_LIST one;
    one.add(reinterpret_cast<ENTITY*>(body));
    api_minimize_entities(one);
}

} // namespace

void QELXVeRepairUtils::separationWalk(Ve_CocoonTag* set, bool v4)
{
    QELXDynamicArray<Ve_BodyTag*> walk = set->getBodies();
    QELXDynamicArray<Ve_BodyTag*> split;
    // The pieces the walk separates and the bodies the V4 loop repair builds
    // stay in the set with the bodies split off by shells after them.
    SetWriteBack writeBack(set, walk);
    writeBack.alsoWrite(split);
    for (int p = 0, n = 0; n < walk.Count(); ++n, ++p) {
        Ve_BodyTag* body = walk[p];
        if (body) {
            const int before = walk.Count();
            const bool healed = healOneBody([&] {
                if (v4) {
                    QELXDynamicArray<Ve_BodyTag*> made;
                    postProcessRepairV4(body, made, bodyLabel(n + 1));
                    walk.Append(made);
                    return;
                }
                ve_heal::StepWatch watch(body, bodyLabel(n + 1));
                watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
                watch.step("mergeDuplicateVertices", [&] { mergeDuplicateVertices(body); });
                if (isOpenBody(kernelOf(body)))
                    watch.step("makeDoubleSided", [&] { makeDoubleSided(kernelOf(body)); });
            });
            if (!healed)
                dropMadeAfterCad(walk, before);
            if (!body->isVertexBody()) {
                const QELXDynamicArray<Ve_BodyTag*> pieces = recipeSeparatedPieces(body, bodyLabel(n + 1));
                for (Ve_BodyTag* piece : pieces) {
                    walk.InsertAt(++p, piece);
                    ++n;
                }
            }
        }
        repairEvent(n + 1);
    }
    componentPass(walk, split);
}

void QELXVeRepairUtils::postProcessRepairProe(Ve_CocoonTag* set)
{
    separationWalk(set, false);
}

void QELXVeRepairUtils::postProcessRepairV4(Ve_CocoonTag* set)
{
    separationWalk(set, true);
}

void QELXVeRepairUtils::postProcessRepairV4(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& newBodies,
                                             const std::string& label)
{
    BODY* b = kernelOf(body);
    ve_heal::StepWatch watch(body, label);
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::UseSurfaceLimits))
        confinedStep(watch, label, "trim_body_faces", [&] { trim_body_faces(b, "trim"); });
    QELXDynamicArray<Ve_BodyTag*> built;
    const outcome repaired = velmCall([&] {
        Ve_PostProcessUtil util(body);
        watch.step("MakeCurvesClosed", [&] { util.MakeCurvesClosed(); });
        watch.step("removeSmallEdges", [&] { util.removeSmallEdges(1e-5, true); });
        watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
        watch.step("removeSmallTolerantEdges", [&] { util.removeSmallTolerantEdges(false); });
        watch.step("remDuplVerticesByChangeVertGeom", [&] { Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom(); });
        if (body->isTrimBody()) {
            // Taken back, the bodies it made are gone with it.
            if (!watch.step("QELXVelmLoopRepair", [&] {
                    QELXVelmLoopRepair loops(b);
                    loops.Repair();
                    built = loops.getBodies();
                }))
                built.Clear();
        } else {
            watch.step("Ve_RepairLoops", [&] {
                Ve_RepairLoops loops(body);
                if (loops.canBeRepaired()) {
                    Ve_FaceRepairInput input;
                    loops.classify(input);
                    loops.repair(input);
                }
            });
        }
        watch.step("removeCoedgeTolErrors", [&] { util.removeCoedgeTolErrors(); });
    });
    // Bodies the loop repair built inside a bracket that failed are gone
    // again, with the rest of the sequence; said, naming the step it stopped.
    if (repaired.ok()) {
        newBodies = built;
    } else {
        std::string stopped = ve_heal::StepWatch::takeFailedStep();
        stopped = stopped.rfind("step ", 0) == 0 ? stopped.substr(5, stopped.find(" on ") - 5) : "V4 repair";
        warnStepSkipped(repaired, (stopped + " (and the V4 sequence with it)").c_str(), label);
        ve_heal::StepWatch(body, label).step("doStandardRepair", [&] { body->doStandardRepair(); });
    }
}

void QELXVeRepairUtils::postProcessRepairV5(Ve_CocoonTag* set)
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::MergeC1Edges))
        velmCall([&] { mergeC1Edges(set); });
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    QELXDynamicArray<Ve_BodyTag*> all;
    for (int i = 0; i < bodies.Count(); ++i) {
        Ve_BodyTag* body = bodies[i];
        minimiseRecipeBody(body);
        healOneBody([&] { postProcessRepairV5(body, bodyLabel(i + 1)); });
        minimiseRecipeBody(body);
        all.Add(body);
        repairEvent(i + 1);
    }
    QELXDynamicArray<Ve_BodyTag*> split;
    componentPass(all, split);
    set->appendBodies(split);

    ENTITY_LIST lumps;
    for (Ve_BodyTag* b : set->getBodies())
        lumps.add(reinterpret_cast<ENTITY*>(b));
    const int present = lumps.count();
    SeparateLumpsIfOTV(lumps);
    for (int i = present; i < lumps.count(); ++i)
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(lumps[i]));
    api_minimize_entities(lumps);
}

void QELXVeRepairUtils::postProcessRepairV5(Ve_BodyTag* body, const std::string& label)
{
    if (!body)
        return;
    BODY* b = kernelOf(body);
    ve_heal::StepWatch watch(body, label);
    watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
    const LUMP* lump = b->lump();
    const SHELL* shell = lump ? lump->shell() : nullptr;
    if (!shell || (!shell->face() && !shell->wire()))
        return;
    watch.step("remDuplVerticesByChangeVertGeom", [&] { Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom(); });
    if (isOpenBody(b))
        watch.step("makeDoubleSided", [&] { makeDoubleSided(b); });
    watch.step("cleanup", [&] { cleanup(b); });
}

void QELXVeRepairUtils::postProcessRepairIdeas(Ve_CocoonTag* set)
{
    // One watch per body over the three passes.
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    std::vector<std::unique_ptr<ve_heal::StepWatch>> watches;
    for (int i = 0; i < bodies.Count(); ++i)
        watches.push_back(std::make_unique<ve_heal::StepWatch>(bodies[i], bodyLabel(i + 1)));
    for (int i = 0; i < bodies.Count(); ++i)
        if (Ve_BodyTag* b = bodies[i]; b && isOpenBody(kernelOf(b)))
            healOneBody([&] { watches[i]->step("makeDoubleSided", [&] { makeDoubleSided(kernelOf(b)); }); });
    for (int i = 0; i < bodies.Count(); ++i)
        if (Ve_BodyTag* b = bodies[i])
            healOneBody([&] { watches[i]->step("doStandardRepair", [&] { b->doStandardRepair(); }); });
    ENTITY_LIST kept;
    for (int i = 0; i < bodies.Count(); ++i) {
        Ve_BodyTag* b = bodies[i];
        if (!b)
            continue;
        healOneBody([&] { watches[i]->step("mergeDuplicateVertices", [&] { mergeDuplicateVertices(b); }); });
        if (!hasWire(b)) {
            kept.add(reinterpret_cast<ENTITY*>(b));
            continue;
        }
        // A sound wire body that was not exploded stays, with or without lump.
        const int before = kept.count();
        Ve_PostProcessUtil(b).ExplodeFaultyWireBody(kept);
        if (kept.count() == before)
            kept.add(reinterpret_cast<ENTITY*>(b));
    }
    QELXDynamicArray<Ve_BodyTag*> listed;
    for (int i = 0; i < kept.count(); ++i)
        listed.Add(reinterpret_cast<Ve_BodyTag*>(kept[i]));
    QELXDynamicArray<Ve_BodyTag*> split;
    componentPass(listed, split);
    listed.Append(split);
    set->setBodies(listed);
}
