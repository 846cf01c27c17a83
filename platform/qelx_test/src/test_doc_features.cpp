// The source model's document features, answered from the model's tables.
#include "qelx/test_doc_features.hxx"

#include <cstddef>

namespace qelx_test {

namespace {

constexpr int kParametersPerNote = 1 << 16;

std::uint64_t wordOfHandle(const void* handle)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// The index of a handle of that kind inside a table of `size`, or -1.
int indexOf(const void* handle, EntityKind kind, std::size_t size)
{
    const std::uint64_t word = wordOfHandle(handle);
    if (kindOfWord(word) != kind)
        return -1;
    const int index = indexOfWord(word);
    return index >= 0 && static_cast<std::size_t>(index) < size ? index : -1;
}

// The table's element a handle of that kind names, or null.
template <class Table>
const typename Table::value_type* elementOf(const void* handle, EntityKind kind, const Table& table)
{
    const int i = indexOf(handle, kind, table.size());
    return i < 0 ? nullptr : &table[static_cast<std::size_t>(i)];
}

int groupIndex(const QELXIdentifier& id, std::size_t size)
{
    return id.IsValid() ? indexOf(id.GetEntityPointer(), KindGroup, size) : -1;
}

} // namespace

TestDocFeatureExporter::TestDocFeatureExporter(QELXDocument* document, const TestModel& model,
                                               QELXAttributeExporter* attributes)
    : QELXDocumentFeatureExporter(document), m_model(model), m_attributes(attributes)
{
}

void* TestDocFeatureExporter::handleOf(EntityKind kind, int index)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(wordOf(kind, index)));
}

QELIResult TestDocFeatureExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = m_attributes;
    return m_attributes ? QELI_OK : QELI_FAIL;
}

// ---- coordinate systems ----

QELIResult TestDocFeatureExporter::GetNumberOfLocalCoordinateSystems(int& count)
{
    count = static_cast<int>(m_model.coordinateSystems.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetLocalCoordinateSystemAt(int i, void*& handle) const
{
    if (i < 0 || static_cast<std::size_t>(i) >= m_model.coordinateSystems.size())
        return QELI_FAIL;
    handle = handleOf(KindCoordinateSystem, i);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetMorphFromLocalCoordinateSystem(void* handle, QELXMorph3D& morph) const
{
    const auto* element = elementOf(handle, KindCoordinateSystem, m_model.coordinateSystems);
    if (!element)
        return QELI_FAIL;
    morph = element->morph;
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetStateFromLocalCoordinateSystem(void* handle, bool& current) const
{
    const auto* element = elementOf(handle, KindCoordinateSystem, m_model.coordinateSystems);
    if (!element)
        return QELI_FAIL;
    current = element->current;
    return QELI_OK;
}

// ---- selection sets ----

QELIResult TestDocFeatureExporter::GetNumberOfSelectionSets(int& count) const
{
    count = static_cast<int>(m_model.selectionSets.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthSelectionSet(int i, void*& handle) const
{
    if (i < 0 || static_cast<std::size_t>(i) >= m_model.selectionSets.size())
        return QELI_FAIL;
    handle = handleOf(KindSelectionSet, i);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetSelectionSetState(void*& handle, bool& current)
{
    const auto* element = elementOf(handle, KindSelectionSet, m_model.selectionSets);
    if (!element)
        return QELI_FAIL;
    current = element->current;
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetNoEntitiesForSelectionSet(void* handle, int& count) const
{
    const auto* element = elementOf(handle, KindSelectionSet, m_model.selectionSets);
    if (!element)
        return QELI_FAIL;
    count = static_cast<int>(element->members.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthEntityFromSelectionSet(void* handle, int j, void*& member)
{
    const auto* element = elementOf(handle, KindSelectionSet, m_model.selectionSets);
    if (!element)
        return QELI_FAIL;
    const std::vector<std::uint64_t>& members = element->members;
    if (j < 0 || static_cast<std::size_t>(j) >= members.size())
        return QELI_FAIL;
    member = reinterpret_cast<void*>(static_cast<std::uintptr_t>(members[static_cast<std::size_t>(j)]));
    return QELI_OK;
}

// ---- layer filters ----

QELIResult TestDocFeatureExporter::GetNumberLayerFilters(int& count) const
{
    count = static_cast<int>(m_model.layerFilters.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthLayerFilter(int i, void*& handle) const
{
    if (i < 0 || static_cast<std::size_t>(i) >= m_model.layerFilters.size())
        return QELI_FAIL;
    handle = handleOf(KindLayerFilter, i);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetNumberOfLayersInLayerFilter(void*& handle, int& count) const
{
    const auto* element = elementOf(handle, KindLayerFilter, m_model.layerFilters);
    if (!element)
        return QELI_FAIL;
    count = static_cast<int>(element->layers.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthLayerInLayerFilter(void*& handle, int j, int& layer) const
{
    const auto* element = elementOf(handle, KindLayerFilter, m_model.layerFilters);
    if (!element)
        return QELI_FAIL;
    const std::vector<int>& layers = element->layers;
    if (j < 0 || static_cast<std::size_t>(j) >= layers.size())
        return QELI_FAIL;
    layer = layers[static_cast<std::size_t>(j)];
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetLayerFilterType(void*& handle, QELX_LayerFilterType& type)
{
    const auto* element = elementOf(handle, KindLayerFilter, m_model.layerFilters);
    if (!element)
        return QELI_FAIL;
    type = static_cast<QELX_LayerFilterType>(element->type);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetLayerFilterName(void*& handle, QELXString& name)
{
    const auto* element = elementOf(handle, KindLayerFilter, m_model.layerFilters);
    if (!element)
        return QELI_FAIL;
    name = QELXString(element->name);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIsLayerFilterCurrent(void*& handle, bool& current)
{
    const auto* element = elementOf(handle, KindLayerFilter, m_model.layerFilters);
    if (!element)
        return QELI_FAIL;
    current = element->current;
    return QELI_OK;
}

// ---- groups ----

QELIResult TestDocFeatureExporter::GetNumberOfGroups(int& count) const
{
    count = 0;
    for (const TestGroup& g : m_model.groups)
        count += g.top ? 1 : 0;
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthGroup(int i, QELXIdentifier& id)
{
    // The i-th of the groups handed out by themselves.
    for (std::size_t k = 0; k < m_model.groups.size(); ++k) {
        if (!m_model.groups[k].top || i-- != 0)
            continue;
        id = QELXIdentifier(wordOf(KindGroup, static_cast<int>(k)), QELXDocumentFeatureTypeAssociativeGroup, this,
                            "TestGroup");
        return QELI_OK;
    }
    return QELI_FAIL;
}

QELIResult TestDocFeatureExporter::GetNoEntitiesInGroup(const QELXIdentifier& id, int& count) const
{
    const int i = groupIndex(id, m_model.groups.size());
    if (i < 0)
        return QELI_FAIL;
    count = static_cast<int>(m_model.groups[static_cast<std::size_t>(i)].members.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthEntityFromGroup(const QELXIdentifier& id, int j, QELXIdentifier& member)
{
    const int i = groupIndex(id, m_model.groups.size());
    if (i < 0)
        return QELI_FAIL;
    const std::vector<std::uint64_t>& members = m_model.groups[static_cast<std::size_t>(i)].members;
    if (j < 0 || static_cast<std::size_t>(j) >= members.size())
        return QELI_FAIL;
    const std::uint64_t word = members[static_cast<std::size_t>(j)];
    member = QELXIdentifier(word, QELXDocumentFeatureTypeAssociativeGroup, this,
                            kindOfWord(word) == KindGroup ? "TestGroup" : "TestEntity");
    return QELI_OK;
}

bool TestDocFeatureExporter::IsGroup(const QELXIdentifier& id) { return groupIndex(id, m_model.groups.size()) >= 0; }

// ---- notes ----

QELIResult TestDocFeatureExporter::GetNumberOfNotes(int& count)
{
    count = static_cast<int>(m_model.notes.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthNote(int i, void*& handle)
{
    if (i < 0 || static_cast<std::size_t>(i) >= m_model.notes.size())
        return QELI_FAIL;
    handle = handleOf(KindNote, i);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetNumberOfParametersInNote(void* handle, int& count)
{
    const auto* element = elementOf(handle, KindNote, m_model.notes);
    if (!element)
        return QELI_FAIL;
    count = static_cast<int>(element->parameters.size());
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetNameOfNote(void* handle, QELXString& name)
{
    const auto* element = elementOf(handle, KindNote, m_model.notes);
    if (!element)
        return QELI_FAIL;
    name = QELXString(element->name);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetIthParameterFromNote(void* handle, int j, void*& parameter)
{
    const int i = indexOf(handle, KindNote, m_model.notes.size());
    if (i < 0 || j < 0 || static_cast<std::size_t>(j) >= m_model.notes[static_cast<std::size_t>(i)].parameters.size())
        return QELI_FAIL;
    parameter = handleOf(KindNoteParameter, i * kParametersPerNote + j);
    return QELI_OK;
}

QELIResult TestDocFeatureExporter::GetParameterInfo(void* parameter, QELXString& name, QELXString& value, int& type)
{
    const std::uint64_t word = wordOfHandle(parameter);
    if (kindOfWord(word) != KindNoteParameter || indexOfWord(word) < 0)
        return QELI_FAIL;
    const int i = indexOfWord(word) / kParametersPerNote, j = indexOfWord(word) % kParametersPerNote;
    if (static_cast<std::size_t>(i) >= m_model.notes.size() ||
        static_cast<std::size_t>(j) >= m_model.notes[static_cast<std::size_t>(i)].parameters.size())
        return QELI_FAIL;
    const TestNoteParameter& p = m_model.notes[static_cast<std::size_t>(i)].parameters[static_cast<std::size_t>(j)];
    name = QELXString(p.name);
    value = QELXString(p.value);
    type = p.type;
    return QELI_OK;
}

} // namespace qelx_test
