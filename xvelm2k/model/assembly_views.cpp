// Views of the connector's assembly entities and of a working coordinate system.
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "persist/ve_assembly.hxx"
#include "persist/ve_formation.hxx"
#include "persist/ve_part.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"

using namespace ve_views;

namespace {

// A missing list (never appended to) counts as empty.
int countOfList(const EE_LIST* list)
{
    return list ? countOf(list->list()) : 0;
}

template <class View>
View* entryOfList(const EE_LIST* list, int i)
{
    return list ? nthOf<View>(list->list(), i) : nullptr;
}

} // namespace

Ve_BodyTag* Ve_PartTag::getSolid() const
{
    return ve_view<Ve_BodyTag>(getDef()->getSolid());
}

QELXMorph3D Ve_PartTag::getMorph() const
{
    return Ve_Morph(getDef()->getTransformation());
}

Ve_AssemblyTag* Ve_FormationTag::getDefinition() const
{
    return ve_view<Ve_AssemblyTag>(getDef()->getAssembly());
}

QELXMorph3D Ve_FormationTag::getMorph() const
{
    return Ve_Morph(getDef()->getTransformation());
}

QELXMorph3D Ve_AssemblyTag::getMorph() const
{
    return Ve_Morph(getDef()->getTransformation());
}

int Ve_AssemblyTag::getNumberOfPlacements() const
{
    return countOfList(getDef()->getPartList());
}

Ve_PartTag* Ve_AssemblyTag::getPlacement(int i) const
{
    return entryOfList<Ve_PartTag>(getDef()->getPartList(), i);
}

int Ve_AssemblyTag::getNumberOfSubReferences() const
{
    return countOfList(getDef()->getFormationList());
}

Ve_FormationTag* Ve_AssemblyTag::getSubReference(int i) const
{
    return entryOfList<Ve_FormationTag>(getDef()->getFormationList(), i);
}

void Ve_AssemblyTag::fetchReferredCmpnts(QELXDynamicArray<Ve_AssemblyTag*>& list) const
{
    for (int i = 0, n = getNumberOfSubReferences(); i < n; ++i) {
        const Ve_FormationTag* f = getSubReference(i);
        Ve_AssemblyTag* a = f ? f->getDefinition() : nullptr;
        // A visited assembly is not entered again, so cycles end.
        if (a && list.AddUnique(a))
            a->fetchReferredCmpnts(list);
    }
}

namespace {

void gatherBodies(const Ve_AssemblyTag* assembly, QELXHashList<const Ve_AssemblyTag*>& visited,
                  QELXDynamicArray<Ve_BodyTag*>& list)
{
    // Each assembly once: a shared sub-assembly is not walked per path and a
    // cycle of formations ends.
    if (!assembly || !visited.Add(assembly))
        return;
    for (int i = 0, n = assembly->getNumberOfPlacements(); i < n; ++i) {
        const Ve_PartTag* part = assembly->getPlacement(i);
        if (Ve_BodyTag* body = part ? part->getSolid() : nullptr)
            list.AddUnique(body);
    }
    for (int i = 0, n = assembly->getNumberOfSubReferences(); i < n; ++i)
        if (const Ve_FormationTag* f = assembly->getSubReference(i))
            gatherBodies(f->getDefinition(), visited, list);
}

} // namespace

void Ve_AssemblyTag::fetchReferredBodies(QELXDynamicArray<Ve_BodyTag*>& list) const
{
    QELXHashList<const Ve_AssemblyTag*> visited;
    gatherBodies(this, visited, list);
}

// ---------------------------------------------------------------------------
// QELXVeWCS

QELIResult QELXVeWCS::GetActiveState(bool& active) const
{
    active = false;
    Ve_AttribTransfer::getCurrent(getDef(), active);
    return QELI_OK;
}

QELIResult QELXVeWCS::SetActiveState(bool active)
{
    const outcome result = velmCall([&] { Ve_AttribTransfer::setCurrent(getDef(), active); });
    return result.ok() ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVeWCS::GetMorph(QELXMorph3D& morph) const
{
    const ENTITY* e = getDef();
    if (!is_WCS(e))
        return QELI_FAIL;
    morph = Ve_Morph(static_cast<const WCS*>(e)->to_model());
    return QELI_OK;
}
