#include "loops/loop_repair_agents.hxx"

#include "loops/loop_containment.hxx"
#include "loops/loop_topology.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_errors.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/split.hxx"
#include "velm/topology.hxx"

using namespace ve_loops;

namespace {

Ve_SplitPeripheryLoops g_splitPeripheryLoops;
Ve_RepairLoopReversals g_repairLoopReversals;
Ve_RepairFaceSenseReversals g_repairFaceSenseReversals;
Ve_AddPropEdgeOnPeriodicFaces g_addPropEdgeOnPeriodicFaces;

// The loop's own element in the region: first or partner of its entry.
Ve_LoopElement& elementOf(Ve_FaceRegion* region, const LOOP* loop)
{
    Ve_BoundaryElement* entry = region ? region->findEntry(loop) : nullptr;
    if (!entry)
        Gk_ErrMgr::raise("Unknown_Error");
    return entry->first().loop() == loop ? entry->first() : entry->partner();
}

// The loops a node stands for: first, then partner.
void nodeLoops(const Ve_ContainmentSetElement* node, QELXDynamicArray<LOOP*>& loops)
{
    loops.Add(node->element().first().loop());
    if (node->element().hasPartner())
        loops.Add(node->element().partner().loop());
}

// The face's loop chain becomes exactly these loops, in order.
void setFaceLoops(FACE* face, const QELXDynamicArray<LOOP*>& loops)
{
    for (int i = 0; i < loops.Count(); ++i) {
        loops[i]->set_face(face);
        loops[i]->set_next(i + 1 < loops.Count() ? loops[i + 1] : nullptr);
    }
    face->set_loop(loops.Count() > 0 ? loops[0] : nullptr);
}

bool onSomeList(Ve_FaceRepairInput& input, Ve_FaceTag* face)
{
    return input.cleanFaces().Find(face) >= 0 || input.facesToRepair().Find(face) >= 0 ||
           input.unclassifiedFaces().Find(face) >= 0;
}

} // namespace

// ---------------------------------------------------------------------------
// The chain

Ve_LoopRepairAgent& Ve_LoopRepairAgent::splitPeripheryLoops() { return g_splitPeripheryLoops; }
Ve_LoopRepairAgent& Ve_LoopRepairAgent::repairLoopReversals() { return g_repairLoopReversals; }
Ve_LoopRepairAgent& Ve_LoopRepairAgent::repairFaceSenseReversals() { return g_repairFaceSenseReversals; }
Ve_LoopRepairAgent& Ve_LoopRepairAgent::addPropEdgeOnPeriodicFaces() { return g_addPropEdgeOnPeriodicFaces; }

bool Ve_LoopRepairAgent::isApplicable(Ve_FaceTag*, Ve_FaceRepairInput&) { return false; }

QELXDynamicArray<Ve_FaceTag*> Ve_LoopRepairAgent::repairFace(Ve_FaceTag*, Ve_FaceRepairInput&)
{
    return QELXDynamicArray<Ve_FaceTag*>();
}

bool Ve_LoopRepairAgent::passOn(Ve_FaceRepairInput& input)
{
    if (input.facesToRepair().Count() > 0 && m_next)
        return m_next->repair(input);
    return true;
}

bool Ve_LoopRepairAgent::repair(Ve_FaceRepairInput& input)
{
    QELXDynamicArray<Ve_FaceTag*> applicable;
    for (Ve_FaceTag* face : input.facesToRepair())
        if (isApplicable(face, input))
            applicable.Add(face);
    for (Ve_FaceTag* face : applicable) {
        for (Ve_FaceTag* touched : repairFace(face, input)) {
            const Ve_FaceRegionHandle region = input.getRegion(touched);
            if (!region->isClean()) {
                // A face split off a faulty one may be faulty itself (an island
                // running the wrong way): the agents after this one must see it.
                if (!onSomeList(input, touched))
                    input.facesToRepair().Add(touched);
                continue;
            }
            const int at = input.facesToRepair().Find(touched);
            if (at >= 0)
                input.facesToRepair().RemoveAt(at);
            input.cleanFaces().AddUnique(touched);
        }
    }
    return passOn(input);
}

// ---------------------------------------------------------------------------
// Split periphery loops

bool Ve_SplitPeripheryLoops::isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    const Ve_FaceRegionHandle region = input.getRegion(face);
    Ve_ContainmentSetElement* top = region->topNode();
    if (!top)
        return false;
    if (top->next())
        return true;
    for (Ve_ContainmentSetElement* c = top->child(); c; c = c->next())
        if (c->child())
            return true;
    return false;
}

QELXDynamicArray<Ve_FaceTag*> Ve_SplitPeripheryLoops::repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    QELXDynamicArray<Ve_FaceTag*> result;
    result.Add(face);
    FACE* f = kernelFace(face);
    // Every loop the face holds now; whatever no new face takes stays on it.
    QELXDynamicArray<LOOP*> before;
    for (LOOP* l = f->loop(); l && before.Count() < ve_loops::ringWalkLimit(); l = l->next())
        before.Add(l);
    split(f, result, input);
    if (result.Count() < 2)
        return result;
    const Ve_FaceRegionHandle region = input.getRegion(face);
    QELXDynamicArray<LOOP*> kept;
    if (Ve_ContainmentSetElement* top = region->topNode()) {
        nodeLoops(top, kept);
        for (Ve_ContainmentSetElement* c = top->child(); c; c = c->next())
            nodeLoops(c, kept);
    }
    // Loops whose comparison failed, and any loop no face took, keep this face
    // rather than being dropped with a stale face link.
    for (LOOP* l : before)
        if (l->face() == f && kept.Find(l) < 0)
            kept.Add(l);
    setFaceLoops(f, kept);
    return result;
}

void Ve_SplitPeripheryLoops::split(FACE* face, QELXDynamicArray<Ve_FaceTag*>& result, Ve_FaceRepairInput& input)
{
    const Ve_FaceRegionHandle region = input.getRegion(faceView(face));
    Ve_ContainmentSetElement* top = region->topNode();
    if (!top)
        return;
    if (Ve_ContainmentSetElement* sibling = top->next()) {
        sibling->setParent(nullptr);
        top->setNext(nullptr);
        FACE* made = makeFace(face, sibling, input);
        result.Add(faceView(made));
        split(made, result, input);
    }
    for (Ve_ContainmentSetElement* hole = top->child(); hole; hole = hole->next()) {
        Ve_ContainmentSetElement* island = hole->child();
        if (!island)
            continue;
        for (Ve_ContainmentSetElement* n = island; n; n = n->next())
            n->setParent(nullptr);
        hole->setChild(nullptr);
        FACE* made = makeFace(face, island, input);
        result.Add(faceView(made));
        split(made, result, input);
    }
}

FACE* Ve_SplitPeripheryLoops::makeFace(FACE* from, Ve_ContainmentSetElement* node, Ve_FaceRepairInput& input)
{
    // A surface of its own: the pieces may later become bodies of their own,
    // and one body's surface must not move with another's.
    SURFACE* own = from->geometry() && from->geometry()->has_equation() ? make_surface(from->geometry()->equation())
                                                                        : from->geometry();
    auto* made = velm_require(VELM_NEW FACE(nullptr, nullptr, own, from->sense()));
    made->set_sides(from->sides());
    if (SHELL* shell = from->shell()) {
        made->set_shell(shell);
        FACE* last = shell->face();
        while (last->next())
            last = last->next();
        last->set_next(made);
    }
    const Ve_FaceRegionHandle region = input.getRegion(faceView(from))->adoptSubtree(node, made);
    input.setRegion(faceView(made), region);
    QELXDynamicArray<LOOP*> loops;
    nodeLoops(node, loops);
    for (Ve_ContainmentSetElement* c = node->child(); c; c = c->next())
        nodeLoops(c, loops);
    setFaceLoops(made, loops);
    return made;
}

// ---------------------------------------------------------------------------
// Face-sense reversals

bool Ve_RepairFaceSenseReversalWorker::visit(Ve_ContainmentSetElement* node, int)
{
    ++m_visited;
    Ve_BoundaryElement& e = node->element();
    e.first().computeType();
    if (e.hasPartner())
        e.partner().computeType();
    if (m_checkOnly)
        return e.first().isMisclassified() && (!e.hasPartner() || e.partner().isMisclassified());
    e.first().setMisclassified(!e.first().isMisclassified());
    e.first().swapPeripheryHole();
    if (e.hasPartner()) {
        e.partner().setMisclassified(!e.partner().isMisclassified());
        e.partner().swapPeripheryHole();
    }
    return true;
}

bool Ve_RepairFaceSenseReversals::isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    Ve_RepairFaceSenseReversalWorker check(true);
    return input.getRegion(face)->walk(check);
}

void Ve_RepairFaceSenseReversals::flipFace(const Ve_FaceRegionHandle& region)
{
    FACE* face = region->face();
    face->set_sense(face->sense() == FORWARD ? REVERSED : FORWARD);
    Ve_RepairFaceSenseReversalWorker apply(false);
    region->walk(apply);
}

QELXDynamicArray<Ve_FaceTag*> Ve_RepairFaceSenseReversals::repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    flipFace(input.getRegion(face));
    QELXDynamicArray<Ve_FaceTag*> result;
    result.Add(face);
    return result;
}

// ---------------------------------------------------------------------------
// Propagation edges on periodic faces

bool Ve_AddPropEdgeOnPeriodicFaces::isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    Ve_ContainmentSetElement* top = input.getRegion(face)->topNode();
    return top && top->element().hasPartner();
}

QELXDynamicArray<Ve_FaceTag*> Ve_AddPropEdgeOnPeriodicFaces::repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input)
{
    QELXDynamicArray<Ve_FaceTag*> result;
    result.Add(face);
    FACE* f = kernelFace(face);
    const SURFACE* s = f->geometry();
    if (!s || !s->has_equation())
        return result;
    const surface& srf = s->equation();
    // The loops go round the closed direction; on a surface closed both ways
    // (a torus) loops round v need the seam across v.
    const Ve_FaceRegionHandle region = input.getRegion(face);
    const bool roundV = region->topNode()->element().first().type() == 4 && (srf.periodic_v() || srf.closed_v());
    const bool closedU = (srf.periodic_u() || srf.closed_u()) && !roundV;
    const QELinterval range = closedU ? srf.param_range_u() : srf.param_range_v();
    const Gk_Domain domain(range.start_pt(), range.end_pt(), Gk_Def::FuzzKnot, range.bounded_below(), range.bounded_above());
    outcome split = velmInnerCall([&] { sg_split_face_at_parameter(f, closedU ? 1 : 0, domain.high()); });
    if (!split.ok()) {
        QELXDynamicArray<LOOP*> pair;
        nodeLoops(region->topNode(), pair);
        const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(pair, false);
        const double at = domain.principalParam(line.value);
        split = velmInnerCall([&] { sg_split_face_at_parameter(f, line.constantU ? 1 : 0, at); });
    }
    if (split.ok() && faceLoopCount(f) == 1) {
        // The pair of separation loops became one loop: the old tree would hold a
        // loop that is gone, so the face is classified afresh.
        const Ve_FaceRegionHandle fresh = input.getRegion(face)->newRegion(f);
        fresh->classifyLoops();
        input.setRegion(face, fresh);
    }
    return result;
}

// ---------------------------------------------------------------------------
// Loop reversals

bool Ve_RepairLoopReversalsWorker::visitDendrite(Ve_Dendrite* dendrite, Ve_AxonHeapEntity* groupEntity)
{
    const bool mark = elementOf(dendrite->regionEntity()->region(), dendrite->loop()).isMisclassified();
    const QELXDynamicArray<Ve_Dendrite*> tied = groupEntity->dendrites();
    for (Ve_Dendrite* other : tied) {
        Ve_AxonHeapEntity* entity = other->regionEntity();
        if (entity->visited())
            continue;
        if (elementOf(entity->region(), other->loop()).isMisclassified() != mark) {
            Ve_RepairFaceSenseReversals::flipFace(entity->region());
            m_input.updateLists(entity->region());
        }
    }
    if (!mark)
        return true;
    for (LOOP* loop : groupEntity->group()) {
        const Ve_FaceRegionHandle region = m_input.findRegion(faceView(loop->face()));
        if (!region.IsValid())
            continue;
        Ve_LoopElement& element = elementOf(region, loop);
        ve_view<Ve_LoopTag>(loop)->reverse();
        element.setMisclassified(!element.isMisclassified());
        element.swapPeripheryHole();
        m_input.updateLists(region);
    }
    return true;
}

bool Ve_RepairLoopReversals::repair(Ve_FaceRepairInput& input)
{
    const QELXDynamicArray<Ve_FaceTag*> faces = input.getFaces();
    QELXDynamicArray<Ve_FaceRegionHandle> regions;
    for (Ve_FaceTag* face : faces) {
        if (faceLoopCount(kernelFace(face)) < 2)
            continue;
        const Ve_FaceRegionHandle region = input.findRegion(face);
        if (region.IsValid())
            regions.Add(region);
    }

    // Loop groups: loops tied through coedges on one edge, flooded from each loop not grouped yet.
    QELXDynamicArray<LOOP*> remaining;
    for (Ve_FaceTag* face : faces)
        for (LOOP* l = kernelFace(face)->loop(); l; l = l->next())
            remaining.Add(l);
    QELXHashList<LOOP*> grouped;
    QELXDynamicArray<QELXDynamicArray<LOOP*>> groups;
    for (LOOP* seed : remaining) {
        if (grouped.FindIndex(seed) >= 0)
            continue;
        QELXDynamicArray<LOOP*> group;
        QELXDynamicArray<LOOP*> stack;
        stack.Add(seed);
        while (stack.Count() > 0) {
            LOOP* loop = stack[stack.Count() - 1];
            stack.RemoveAt(stack.Count() - 1);
            if (!grouped.Add(loop))
                continue;
            group.Add(loop);
            ve_loops::forEachLoopCoedge(loop, [&](COEDGE* c) {
                ve_loops::forEachPartner(c, [&](COEDGE* p) {
                    if (p != c && p->loop())
                        stack.Add(p->loop());
                    return true;
                });
                return true;
            });
        }
        groups.Add(group);
    }

    // The reference: the clean region of most elements (the first on ties), else the first.
    int reference = -1;
    for (int i = 0; i < regions.Count(); ++i)
        if (regions[i]->isClean() && (reference < 0 || regions[i]->count() > regions[reference]->count()))
            reference = i;
    if (reference > 0) {
        const Ve_FaceRegionHandle first = regions[reference];
        regions.RemoveAt(reference);
        regions.InsertAt(0, first);
    }

    bool result = true;
    {
        Ve_RepairLoopAxonHeap heap(groups, regions);
        for (Ve_AxonHeapEntity* entity : heap.entities()) {
            Ve_RepairLoopReversalsWorker worker(input);
            heap.walk(worker, entity);
        }
        result = passOn(input);
    }
    return result;
}
