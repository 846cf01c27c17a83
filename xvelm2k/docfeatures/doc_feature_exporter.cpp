// The document-feature exporter over a kernel document.
#include "model/memory_init.hxx"
#include "docfeatures/doc_feature_exporter.hxx"

#include "docfeatures/doc_feature_members.hxx"
#include "export/attribute_exporter.hxx"
#include "model/entity_views.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"

using ve_docfeatures::entityOf;
using ve_docfeatures::handleOf;
using ve_docfeatures::liveMembers;

namespace {

template <class T>
bool inRange(const QELXDynamicArray<T>& array, int i)
{
    return i >= 0 && i < array.Count();
}

bool marked(bool (*test)(ENTITY*, bool&), ENTITY* entity)
{
    bool flag = false;
    return test(entity, flag) && flag;
}

// The entity of a group identifier, when it is a live collection.
QELCOLLECTION* collectionOf(const QELXIdentifier& id)
{
    ENTITY* e = id.IsValid() ? QELXVelmEntityUtils::GetEntity(id) : nullptr;
    return e && Ve_AttribTransfer::isQELCollection(e) ? static_cast<QELCOLLECTION*>(e) : nullptr;
}

QELGROUP* groupOfHandle(const void* handle)
{
    ENTITY* e = entityOf(handle);
    return e && is_QELGROUP(e) ? static_cast<QELGROUP*>(e) : nullptr;
}

} // namespace

std::vector<ENTITY*> ve_docfeatures::liveMembers(const QELCOLLECTION* collection)
{
    std::vector<ENTITY*> out;
    if (!collection)
        return out;
    const ENTITY_LIST& members = collection->members();
    for (int i = 0, n = members.count(); i < n; ++i)
        if (members[i])
            out.push_back(members[i]);
    return out;
}

QELIResult QELXCreateVelmDocFeatureExporter(QELXDocument* document, QELXVelmDocFeatureExporter** out)
{
    return ve_docfeatures::makeRepresentation<QELXVelmDocFeatureExporter, QELXDocument, QELIResult>(document, out);
}

QELXVelmDocFeatureExporter::QELXVelmDocFeatureExporter(QELXDocument* document)
    : QELXDocumentFeatureExporter(document), m_attributes(new QELXVelmAttributeExporter(nullptr))
{
}

QELXVelmDocFeatureExporter::QELXVelmDocFeatureExporter(const QELXVelmDocFeatureExporter& other)
    : QELXDocumentFeatureExporter(other), m_coordinateSystems(other.m_coordinateSystems),
      m_selectionSets(other.m_selectionSets), m_layerFilters(other.m_layerFilters),
      m_attributes(new QELXVelmAttributeExporter(*other.m_attributes)), m_groups(other.m_groups)
{
}

QELXVelmDocFeatureExporter::~QELXVelmDocFeatureExporter() { delete m_attributes; }

QELIResult QELXVelmDocFeatureExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = m_attributes;
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::DoPreProcess()
{
    // A second call sees the document as it is now instead of adding the
    // same entities again.
    m_coordinateSystems.Clear();
    m_selectionSets.Clear();
    m_layerFilters.Clear();
    m_groups.Clear();
    QELXHashMap<int, QELGROUP*> layers;
    auto* document = dynamic_cast<QELXVelmDocument*>(GetDocument());
    ENTITY_LIST* native = nullptr;
    if (document && document->GetNativeEntityList(native) == QELI_OK && native) {
        for (int i = 0, n = native->count(); i < n; ++i) {
            ENTITY* e = (*native)[i];
            if (!e)
                continue;
            const int type = e->identity(0);
            if (type == WCS_TYPE) {
                m_coordinateSystems.Add(static_cast<WCS*>(e));
            } else if (type == QELGROUP_TYPE) {
                auto* group = static_cast<QELGROUP*>(e);
                if (marked(&Ve_AttribTransfer::isSelectionSet, e))
                    m_selectionSets.Add(group);
                if (marked(&Ve_AttribTransfer::isLayerFilter, e))
                    m_layerFilters.Add(group);
                int number = 0;
                if (marked(&Ve_AttribTransfer::isLayer, e) && Ve_AttribTransfer::getID(e, number))
                    layers.Add(number, group); // the first group of a number keeps it
            } else if (type == QELCOLLECTION_TYPE) {
                m_groups.Add(static_cast<QELCOLLECTION*>(e));
            }
        }
    }
    m_attributes->SetLayerMap(layers);
    const bool none = m_coordinateSystems.Count() == 0 && m_selectionSets.Count() == 0 &&
                      m_layerFilters.Count() == 0 && layers.Count() == 0 && m_groups.Count() == 0;
    return none ? QELI_NOTHING : QELI_OK;
}

// ---- local coordinate systems ----

QELIResult QELXVelmDocFeatureExporter::GetNumberOfLocalCoordinateSystems(int& count)
{
    count = m_coordinateSystems.Count();
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetLocalCoordinateSystemAt(int i, void*& handle) const
{
    if (!inRange(m_coordinateSystems, i))
        return QELI_FAIL;
    handle = handleOf(m_coordinateSystems[i]);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetMorphFromLocalCoordinateSystem(void* handle, QELXMorph3D& morph) const
{
    ENTITY* e = entityOf(handle);
    return e ? ve_view<QELXVeWCS>(e)->GetMorph(morph) : QELI_FAIL;
}

QELIResult QELXVelmDocFeatureExporter::GetStateFromLocalCoordinateSystem(void* handle, bool& current) const
{
    ENTITY* e = entityOf(handle);
    if (!e)
        return QELI_FAIL;
    current = false;
    Ve_AttribTransfer::getCurrent(e, current);
    return QELI_OK;
}

// ---- selection sets ----

QELIResult QELXVelmDocFeatureExporter::GetNumberOfSelectionSets(int& count) const
{
    count = m_selectionSets.Count();
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetIthSelectionSet(int i, void*& handle) const
{
    if (!inRange(m_selectionSets, i))
        return QELI_FAIL;
    if (m_selectionSets[i])
        handle = handleOf(m_selectionSets[i]);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetSelectionSetState(void*& handle, bool& current)
{
    ENTITY* e = entityOf(handle);
    bool flag = false;
    if (!e || !marked(&Ve_AttribTransfer::isSelectionSet, e) || !Ve_AttribTransfer::getCurrent(e, flag))
        return QELI_FAIL;
    current = flag;
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetNoEntitiesForSelectionSet(void* handle, int& count) const
{
    count = static_cast<int>(liveMembers(groupOfHandle(handle)).size());
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetIthEntityFromSelectionSet(void* handle, int i, void*& member)
{
    const std::vector<ENTITY*> members = liveMembers(groupOfHandle(handle));
    if (i >= 0 && static_cast<std::size_t>(i) < members.size())
        member = handleOf(members[static_cast<std::size_t>(i)]);
    return QELI_OK;
}

// ---- layer filters ----

QELIResult QELXVelmDocFeatureExporter::GetNumberLayerFilters(int& count) const
{
    count = m_layerFilters.Count();
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetIthLayerFilter(int i, void*& handle) const
{
    if (!inRange(m_layerFilters, i))
        return QELI_FAIL;
    handle = handleOf(m_layerFilters[i]);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetNumberOfLayersInLayerFilter(void*& handle, int& count) const
{
    count = static_cast<int>(liveMembers(groupOfHandle(handle)).size());
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetIthLayerInLayerFilter(void*& handle, int i, int& layer) const
{
    const std::vector<ENTITY*> members = liveMembers(groupOfHandle(handle));
    if (i >= 0 && static_cast<std::size_t>(i) < members.size()) {
        int number = 0;
        if (Ve_AttribTransfer::getID(members[static_cast<std::size_t>(i)], number))
            layer = number;
    }
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetLayerFilterType(void*& handle, QELX_LayerFilterType& type)
{
    int kind = 0;
    if (ENTITY* e = entityOf(handle); e && Ve_AttribTransfer::getLayerFilterType(e, kind))
        type = static_cast<QELX_LayerFilterType>(kind);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetLayerFilterName(void*& handle, QELXString& name)
{
    if (ENTITY* e = entityOf(handle))
        Ve_AttribTransfer::getLabel(e, name);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetIsLayerFilterCurrent(void*& handle, bool& current)
{
    if (ENTITY* e = entityOf(handle))
        Ve_AttribTransfer::getCurrent(e, current);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetCurrentLayer(int&) const { return QELI_FAIL; }

// ---- associative groups ----

QELIResult QELXVelmDocFeatureExporter::GetNumberOfGroups(int& count) const
{
    count = m_groups.Count();
    return count > 0 ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVelmDocFeatureExporter::GetIthGroup(int i, QELXIdentifier& id)
{
    if (!inRange(m_groups, i) || !m_groups[i])
        return QELI_FAIL;
    const QELXIdentifier made(QELXVelmEntityUtils::GetIdentifier(m_groups[i]), QELXDocumentFeatureTypeAssociativeGroup,
                              this, "QELCOLLECTION", QELXIdentifierCastHandle(new QELXVelmIdentifierCast));
    if (!made.IsValid())
        return QELI_FAIL;
    id = made;
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureExporter::GetNoEntitiesInGroup(const QELXIdentifier& id, int& count) const
{
    const QELCOLLECTION* group = collectionOf(id);
    if (!group)
        return QELI_FAIL;
    count = static_cast<int>(liveMembers(group).size());
    return count > 0 ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVelmDocFeatureExporter::GetIthEntityFromGroup(const QELXIdentifier& id, int i, QELXIdentifier& member)
{
    const std::vector<ENTITY*> members = liveMembers(collectionOf(id));
    if (members.empty() || i < 0 || static_cast<std::size_t>(i) >= members.size())
        return QELI_FAIL;
    const QELXIdentifier made(QELXVelmEntityUtils::GetIdentifier(members[static_cast<std::size_t>(i)]),
                              QELXDocumentFeatureTypeAssociativeGroup, this, "ENTITY",
                              QELXIdentifierCastHandle(new QELXVelmIdentifierCast));
    if (!made.IsValid())
        return QELI_FAIL;
    member = made;
    return QELI_OK;
}

bool QELXVelmDocFeatureExporter::IsGroup(const QELXIdentifier& id) { return collectionOf(id) != nullptr; }
