// Gathering a framework document's entities into the connector document:
// layers and filters (repeats merged), collections, assemblies, and bodies,
// loose topology made into bodies on the way.
#include "heal/body_processor.hxx"
#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "persist/ve_assembly.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"

using namespace ve_views;

namespace {

bool isLayer(ENTITY* e)
{
    bool flag = false;
    return Ve_AttribTransfer::isLayer(e, flag) && flag;
}

bool isLayerFilter(ENTITY* e)
{
    bool flag = false;
    return Ve_AttribTransfer::isLayerFilter(e, flag) && flag;
}

bool isSelectionSet(ENTITY* e)
{
    bool flag = false;
    return Ve_AttribTransfer::isSelectionSet(e, flag) && flag;
}

bool translateFreePoints(QELXVelmDocument* doc)
{
    QELXConverter* converter = doc ? doc->GetTranslationContext() : nullptr;
    QELXOptions* options = converter ? converter->GetOptions() : nullptr;
    QELXOption* option = nullptr;
    bool value = false;
    return options && options->GetOption(QELXOptionName::TranslateFreePoints, option) == 0 && option &&
           option->GetValue(value) == 0 && value;
}

bool isLooseTopology(const ENTITY* e)
{
    const int type = e ? e->identity(0) : 0;
    return type == BODY_TYPE || type == FACE_TYPE || type == WIRE_TYPE || type == EDGE_TYPE || type == VERTEX_TYPE ||
           type == APOINT_TYPE;
}

QELGROUP* asGroup(ENTITY* e) { return is_QELGROUP(e) ? static_cast<QELGROUP*>(e) : nullptr; }

} // namespace

void Ve_DocumentTag::SeparateBodiesAndNonBodies(const ENTITY_LIST& entities, ENTITY_LIST& bodies, ENTITY_LIST& layers,
                                                ENTITY_LIST& layerFilters, ENTITY_LIST& coordinateSystems,
                                                ENTITY_LIST& selectionSets)
{
    const bool freePoints = translateFreePoints(m_baseDoc);
    ENTITY_LIST rest;
    for (int i = 0, n = entities.count(); i < n; ++i) {
        ENTITY* e = entities[i];
        if (!e)
            continue;
        if (isLayer(e))
            layers.add(e);
        else if (isLayerFilter(e))
            layerFilters.add(e);
        else
            rest.add(e);
    }
    for (int i = 0, n = rest.count(); i < n; ++i) {
        ENTITY* e = rest[i];
        if (e->identity(0) == WCS_TYPE)
            coordinateSystems.add(e);
        else if (Ve_AttribTransfer::isQELCollection(e))
            m_collections.Add(static_cast<QELCOLLECTION*>(e));
        else if (isSelectionSet(e))
            selectionSets.add(e);
        else if (e->identity(0) != VERTEX_TYPE || freePoints)
            bodies.add(e);
    }
}

QELIResult Ve_DocumentTag::GetBRepEntities()
{
    ENTITY_LIST entities;
    if (m_baseDoc) {
        if (auto* native = static_cast<ENTITY_LIST*>(m_baseDoc->GetNativeData(QELXString(""))))
            entities = *native;
    }
    ENTITY_LIST bodies, layers, layerFilters, coordinateSystems, selectionSets;
    SeparateBodiesAndNonBodies(entities, bodies, layers, layerFilters, coordinateSystems, selectionSets);
    AddLayers(layers);
    AddLayerFilters(layerFilters);

    for (int i = 0, n = bodies.count(); i < n; ++i)
        if (bodies[i] && bodies[i]->identity(0) == VE_ASSEMBLY_TYPE)
            m_assemblies.Add(ve_view<Ve_AssemblyTag>(bodies[i]));

    // Each entity is converted on its own, so the native list loses only what
    // became a body: an entity the kernel refused to convert stays where it was.
    QELXDynamicArray<Ve_BodyTag*> made;
    ENTITY_LIST converted;
    for (int i = 0, n = bodies.count(); i < n; ++i) {
        ENTITY* e = bodies[i];
        if (!isLooseTopology(e))
            continue;
        if (Ve_BodyTag* body = Ve_BodyProcessor::bodyFromEntity(e)) {
            made.Add(body);
            converted.add(e);
        }
    }
    ENTITY_LIST* native = nullptr;
    if (m_baseDoc && m_baseDoc->GetNativeEntityList(native) == 0 && native) {
        for (int i = 0, n = converted.count(); i < n; ++i)
            native->remove(converted[i]);
    }
    for (Ve_BodyTag* body : made)
        appendSolid(body, true);
    return 0;
}

bool Ve_DocumentTag::AddLayers(const QELXDynamicArray<QELGROUP*>& groups)
{
    int number = -1;
    for (QELGROUP* group : groups) {
        if (!Ve_AttribTransfer::getID(group, number) || number == -1)
            continue;
        int at = 0;
        if (m_layerNumbers.FindSorted(number, at)) {
            mergeRepeatLayer(group, number);
            continue;
        }
        m_layerNumbers.InsertAt(at, number);
        m_layers.Add(group);
    }
    return true;
}

bool Ve_DocumentTag::AddLayers(const ENTITY_LIST& list)
{
    int number = -1;
    for (int i = 0, n = list.count(); i < n; ++i) {
        QELGROUP* group = asGroup(list[i]);
        if (!group)
            continue;
        int at = 0;
        if (Ve_AttribTransfer::getID(group, number)) {
            if (number == -1 || m_layerNumbers.FindSorted(number, at)) {
                mergeRepeatLayer(group, number);
                continue;
            }
            m_layerNumbers.InsertAt(at, number);
            m_layers.Add(group);
        } else {
            m_layers.Add(group);
            if (!m_layerNumbers.FindSorted(number, at))
                m_layerNumbers.InsertAt(at, number);
        }
    }
    return true;
}

bool Ve_DocumentTag::AddLayerFilters(const QELXDynamicArray<QELGROUP*>& filters)
{
    for (QELGROUP* group : filters) {
        QELXString label;
        if (!Ve_AttribTransfer::getLabel(group, label) || label.isEmpty())
            continue;
        const int n = label.length();
        char* copy = new char[n + 1];
        label.getChars(copy, n + 1);
        copy[n] = '\0';
        m_layerFilterLabels.Add(copy);
        m_layerFilters.Add(group);
    }
    return true;
}

bool Ve_DocumentTag::AddLayerFilters(const ENTITY_LIST& list)
{
    QELXDynamicArray<QELGROUP*> filters;
    for (int i = 0, n = list.count(); i < n; ++i)
        if (QELGROUP* group = asGroup(list[i]))
            filters.Add(group);
    return AddLayerFilters(filters);
}
