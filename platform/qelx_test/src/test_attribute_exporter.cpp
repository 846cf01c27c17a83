// Attribute exporter over the source model: every getter answers from the
// entity's attribute record, or "nothing to answer" with outputs untouched.
#include "qelx/test_exporters.hxx"
#include "test_answer.hxx"

#include <algorithm>

namespace qelx_test {

TestAttributeExporter::TestAttributeExporter(const TestModel& model, TestCallLog& log) : m_model(model), m_log(log) {}

template <class Field, class Write>
QELIResult TestAttributeExporter::attribute(const char* operation, const QELXIdentifier& id, Field field,
                                            Write&& write)
{
    QELIResult result = QELI_NO_SOURCE;
    const TestOverride* forced = m_model.overrideFor(operation, id.GetValue());
    auto it = m_model.attributes.find(id.GetValue());
    const bool has = it != m_model.attributes.end() && field(it->second);
    if (forced) {
        result = forced->result;
        if (!forced->leaveUnwritten && has)
            write(it->second);
    } else if (has) {
        write(it->second);
        result = QELI_OK;
    }
    logCall(m_log, operation, id.GetValue(), result);
    return result;
}

template <class Write>
QELIResult TestAttributeExporter::layerOf(const char* operation, int layer, Write&& write)
{
    QELIResult result = QELI_NO_SOURCE;
    const TestOverride* forced = m_model.overrideFor(operation, static_cast<std::uint64_t>(layer));
    auto it = m_model.layers.find(layer);
    if (forced) {
        result = forced->result;
        if (!forced->leaveUnwritten && it != m_model.layers.end())
            write(it->second);
    } else if (it != m_model.layers.end()) {
        write(it->second);
        result = QELI_OK;
    }
    logCall(m_log, operation, static_cast<std::uint64_t>(layer), result);
    return result;
}

namespace {
void copy4(double* out, const std::array<double, 4>& c) { std::copy(c.begin(), c.end(), out); }
} // namespace

QELIResult TestAttributeExporter::GetColor(const QELXIdentifier& id, double* rgba)
{
    return attribute("GetColor", id, [](const TestAttributes& a) { return a.color.has_value(); },
                     [&](const TestAttributes& a) { copy4(rgba, *a.color); });
}

QELIResult TestAttributeExporter::GetLayer(const QELXIdentifier& id, int& layer)
{
    return attribute("GetLayer", id, [](const TestAttributes& a) { return a.layer.has_value(); },
                     [&](const TestAttributes& a) { layer = *a.layer; });
}

QELIResult TestAttributeExporter::GetName(const QELXIdentifier& id, QELXString& name)
{
    return attribute("GetName", id, [](const TestAttributes& a) { return a.name.has_value(); },
                     [&](const TestAttributes& a) { name = QELXString(*a.name); });
}

QELIResult TestAttributeExporter::GetAlias(const QELXIdentifier& entity, QELXIdentifier& second,
                                           QELXIdentifier& first, int& count, QELXString*& texts)
{
    // An identifier may carry the native pointer (the model record) instead of
    // the model word: the alias importer asks that way.
    QELXIdentifier asked = entity;
    const auto wordOfRecord = [&](const void* record) -> std::uint64_t {
        const auto find = [&](EntityKind kind, const auto& table) -> std::uint64_t {
            for (std::size_t i = 0; i < table.size(); ++i)
                if (static_cast<const void*>(&table[i]) == record)
                    return wordOf(kind, static_cast<int>(i));
            return 0;
        };
        std::uint64_t w = find(KindBody, m_model.bodies);
        if (!w) w = find(KindFace, m_model.faces);
        if (!w) w = find(KindEdge, m_model.edges);
        if (!w) w = find(KindVertex, m_model.vertices);
        return w;
    };
    if (m_model.attributes.find(entity.GetValue()) == m_model.attributes.end())
        if (const std::uint64_t w = wordOfRecord(entity.GetEntityPointer()))
            asked = QELXIdentifier(w, entity.GetType(), entity.GetOwner(), entity.GetTypeName());
    return attribute("GetAlias", asked, [](const TestAttributes& a) { return !a.aliases.empty(); },
                     [&](const TestAttributes& a) {
                         first = entity;
                         second = entity;
                         count = static_cast<int>(a.aliases.size());
                         texts = new QELXString[a.aliases.size()];
                         for (std::size_t i = 0; i < a.aliases.size(); ++i)
                             texts[i] = QELXString(a.aliases[i]);
                     });
}

QELIResult TestAttributeExporter::GetThickness(const QELXIdentifier& id, double& thickness)
{
    return attribute("GetThickness", id, [](const TestAttributes& a) { return a.thickness.has_value(); },
                     [&](const TestAttributes& a) { thickness = *a.thickness; });
}

QELIResult TestAttributeExporter::GetPick(const QELXIdentifier& id, bool& pick)
{
    return attribute("GetPick", id, [](const TestAttributes& a) { return a.pick.has_value(); },
                     [&](const TestAttributes& a) { pick = *a.pick; });
}

QELIResult TestAttributeExporter::GetShow(const QELXIdentifier& id, bool& show)
{
    return attribute("GetShow", id, [](const TestAttributes& a) { return a.show.has_value(); },
                     [&](const TestAttributes& a) { show = *a.show; });
}

QELIResult TestAttributeExporter::GetId(const QELXIdentifier& id, int& value)
{
    return attribute("GetId", id, [](const TestAttributes& a) { return a.id.has_value(); },
                     [&](const TestAttributes& a) { value = *a.id; });
}

QELIResult TestAttributeExporter::GetId(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetIdText", id, [](const TestAttributes& a) { return a.textId.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.textId); });
}

QELIResult TestAttributeExporter::GetLineWeight(const QELXIdentifier& id, int& weight)
{
    return attribute("GetLineWeight", id, [](const TestAttributes& a) { return a.lineWeight.has_value(); },
                     [&](const TestAttributes& a) { weight = *a.lineWeight; });
}

QELIResult TestAttributeExporter::GetPlaneUnboundedness(const QELXIdentifier& id, bool& flag)
{
    return attribute("GetPlaneUnboundedness", id, [](const TestAttributes& a) { return a.planeUnbounded.has_value(); },
                     [&](const TestAttributes& a) { flag = *a.planeUnbounded; });
}

QELIResult TestAttributeExporter::GetSurfaceUnboundedness(const QELXIdentifier& id, bool& flag)
{
    return attribute("GetSurfaceUnboundedness", id,
                     [](const TestAttributes& a) { return a.surfaceUnbounded.has_value(); },
                     [&](const TestAttributes& a) { flag = *a.surfaceUnbounded; });
}

QELIResult TestAttributeExporter::GetVdaPSETIdentifier(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetVdaPSETIdentifier", id, [](const TestAttributes& a) { return a.pset.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.pset); });
}

QELIResult TestAttributeExporter::GetVdaMDIIdentifier(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetVdaMDIIdentifier", id, [](const TestAttributes& a) { return a.mdi.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.mdi); });
}

QELIResult TestAttributeExporter::GetPID(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetPID", id, [](const TestAttributes& a) { return a.pid.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.pid); });
}

QELIResult TestAttributeExporter::GetPName(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetPName", id, [](const TestAttributes& a) { return a.pname.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.pname); });
}

QELIResult TestAttributeExporter::GetAlias2(const QELXIdentifier& id, QELXString& value)
{
    return attribute("GetAlias2", id, [](const TestAttributes& a) { return a.alias2.has_value(); },
                     [&](const TestAttributes& a) { value = QELXString(*a.alias2); });
}

QELIResult TestAttributeExporter::GetLineType(const QELXIdentifier& id, int& type)
{
    return attribute("GetLineType", id, [](const TestAttributes& a) { return a.lineType.has_value(); },
                     [&](const TestAttributes& a) { type = *a.lineType; });
}

QELIResult TestAttributeExporter::GetNativePointer(const QELXIdentifier& id, void*& pointer)
{
    // The native object of a source entity is its record in the model.
    const int i = indexOfWord(id.GetValue());
    const void* record = nullptr;
    switch (kindOfWord(id.GetValue())) {
    case KindBody: record = i >= 0 && i < static_cast<int>(m_model.bodies.size()) ? &m_model.bodies[i] : nullptr; break;
    case KindFace: record = i >= 0 && i < static_cast<int>(m_model.faces.size()) ? &m_model.faces[i] : nullptr; break;
    case KindEdge: record = i >= 0 && i < static_cast<int>(m_model.edges.size()) ? &m_model.edges[i] : nullptr; break;
    case KindVertex:
        record = i >= 0 && i < static_cast<int>(m_model.vertices.size()) ? &m_model.vertices[i] : nullptr;
        break;
    default: break;
    }
    const QELIResult result = record ? QELI_OK : QELI_FAIL;
    if (record)
        pointer = const_cast<void*>(record);
    logCall(m_log, "GetNativePointer", id.GetValue(), result);
    return result;
}

QELIResult TestAttributeExporter::GetLayerColor(int layer, double* rgba)
{
    return layerOf("GetLayerColor", layer, [&](const TestLayer& l) { copy4(rgba, l.color); });
}
QELIResult TestAttributeExporter::GetLayerName(int layer, QELXString& name)
{
    return layerOf("GetLayerName", layer, [&](const TestLayer& l) { name = QELXString(l.name); });
}
QELIResult TestAttributeExporter::GetLayerState(int layer, bool& state)
{
    return layerOf("GetLayerState", layer, [&](const TestLayer& l) { state = l.state; });
}

// By entity: the layer the entity is on.
QELIResult TestAttributeExporter::GetLayerColor(const QELXIdentifier& id, double* rgba)
{
    int layer = 0;
    return GetLayer(id, layer) == QELI_OK ? GetLayerColor(layer, rgba) : QELI_NO_SOURCE;
}
QELIResult TestAttributeExporter::GetLayerName(const QELXIdentifier& id, QELXString& name)
{
    int layer = 0;
    return GetLayer(id, layer) == QELI_OK ? GetLayerName(layer, name) : QELI_NO_SOURCE;
}
QELIResult TestAttributeExporter::GetLayerState(const QELXIdentifier& id, bool& state)
{
    int layer = 0;
    return GetLayer(id, layer) == QELI_OK ? GetLayerState(layer, state) : QELI_NO_SOURCE;
}

} // namespace qelx_test
