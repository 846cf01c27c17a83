#include "loops/axon_heap.hxx"
#include "model/memory_init.hxx"

#include "loops/loop_topology.hxx"

using ve_loops::removeFirst;

bool Ve_AxonHeap::Ve_CollectAxonHeapEntities::visitDendrite(Ve_Dendrite*, Ve_AxonHeapEntity* groupEntity)
{
    m_groups.Add(groupEntity);
    return true;
}

bool Ve_AxonHeap::Ve_CollectAxonHeapEntities::visitEntity(Ve_AxonHeapEntity* regionEntity)
{
    m_regions.Add(regionEntity);
    m_dendrites.Append(regionEntity->dendrites());
    return true;
}

Ve_AxonHeap::Ve_DestroyHeap::~Ve_DestroyHeap()
{
    for (Ve_AxonHeapEntity* e : m_regions)
        delete e;
    for (Ve_AxonHeapEntity* e : m_groups)
        delete e;
    for (Ve_Dendrite* d : m_dendrites)
        delete d;
}

bool Ve_AxonHeap::Ve_RemoveConnectedAxonHeapEntities::visitDendrite(Ve_Dendrite*, Ve_AxonHeapEntity* groupEntity)
{
    removeFirst(m_groups, groupEntity);
    return true;
}

bool Ve_AxonHeap::Ve_RemoveConnectedAxonHeapEntities::visitEntity(Ve_AxonHeapEntity* regionEntity)
{
    removeFirst(m_regions, regionEntity);
    return true;
}

Ve_AxonHeap::~Ve_AxonHeap()
{
    Ve_DestroyHeap destroy;
    for (Ve_AxonHeapEntity* e : m_entities) {
        clearVisited(e);
        walk(destroy, e);
    }
    m_entities.Clear();
}

bool Ve_AxonHeap::walk(Ve_AxonHeapVisitor& visitor, Ve_AxonHeapEntity* entity)
{
    if (!entity || entity->visited())
        return true;
    if (!visitor.visitEntity(entity))
        return false;
    entity->setVisited(true);
    const QELXDynamicArray<Ve_Dendrite*> dendrites = entity->dendrites();
    for (Ve_Dendrite* d : dendrites) {
        Ve_AxonHeapEntity* group = d->groupEntity();
        if (group->visited())
            continue;
        if (!visitor.visitDendrite(d, group))
            return false;
        group->setVisited(true);
        const QELXDynamicArray<Ve_Dendrite*> tied = group->dendrites();
        for (Ve_Dendrite* other : tied)
            if (other != d && !other->regionEntity()->visited() && !walk(visitor, other->regionEntity()))
                return false;
    }
    return true;
}

void Ve_AxonHeap::clearVisited(Ve_AxonHeapEntity* entity)
{
    if (!entity || !entity->visited())
        return;
    entity->setVisited(false);
    for (Ve_Dendrite* d : entity->dendrites()) {
        Ve_AxonHeapEntity* group = d->groupEntity();
        if (!group->visited())
            continue;
        group->setVisited(false);
        for (Ve_Dendrite* other : group->dendrites())
            if (other != d && other->regionEntity()->visited())
                clearVisited(other->regionEntity());
    }
}

bool Ve_AxonHeap::walkAll(Ve_AxonHeapVisitor& visitor)
{
    for (Ve_AxonHeapEntity* e : m_entities)
        if (!walk(visitor, e))
            return false;
    return true;
}

void Ve_AxonHeap::build(const QELXDynamicArray<QELXDynamicArray<LOOP*>>& groups,
                        const QELXDynamicArray<Ve_FaceRegionHandle>& regions)
{
    QELXDynamicArray<Ve_AxonHeapEntity*> groupEntities;
    for (int i = 0; i < groups.Count(); ++i)
        groupEntities.Add(new Ve_AxonHeapEntity(i, groups[i]));
    QELXDynamicArray<Ve_AxonHeapEntity*> remainingRegions;
    for (int i = 0; i < regions.Count(); ++i) {
        auto* entity = new Ve_AxonHeapEntity(i, regions[i]);
        remainingRegions.Add(entity);
        connect(entity, groupEntities);
    }
    QELXDynamicArray<Ve_AxonHeapEntity*> remainingGroups = groupEntities;
    while (remainingRegions.Count() > 0) {
        Ve_AxonHeapEntity* first = remainingRegions[0];
        m_entities.Add(first);
        Ve_RemoveConnectedAxonHeapEntities remove(remainingGroups, remainingRegions);
        walk(remove, first);
        clearVisited(first);
        // A region the walk could not leave (no dendrite at all) still goes.
        removeFirst(remainingRegions, first);
    }
    for (Ve_AxonHeapEntity* unreached : remainingGroups)
        delete unreached;
}

Ve_RepairLoopAxonHeap::Ve_RepairLoopAxonHeap(const QELXDynamicArray<QELXDynamicArray<LOOP*>>& groups,
                                             const QELXDynamicArray<Ve_FaceRegionHandle>& regions)
{
    build(groups, regions);
}

void Ve_RepairLoopAxonHeap::connect(Ve_AxonHeapEntity* regionEntity, QELXDynamicArray<Ve_AxonHeapEntity*>& groupEntities)
{
    Ve_FaceRegion* region = regionEntity->region();
    if (!region)
        return;
    Ve_DendriteCreationWorker worker(regionEntity, groupEntities);
    region->walk(worker);
}

bool Ve_DendriteCreationWorker::visit(Ve_ContainmentSetElement* node, int)
{
    if (!node)
        return false;
    makeDendrite(node->element().first().loop());
    if (node->element().hasPartner())
        makeDendrite(node->element().partner().loop());
    ++m_visited;
    return true;
}

void Ve_DendriteCreationWorker::makeDendrite(LOOP* loop)
{
    for (Ve_AxonHeapEntity* group : m_groups) {
        if (group->group().Find(loop) < 0)
            continue;
        auto* dendrite = new Ve_Dendrite(group, m_region, loop);
        m_region->dendrites().Add(dendrite);
        group->dendrites().AddUnique(dendrite);
        return;
    }
    // A loop in no group ties nothing: no dendrite without a group to walk into.
}
