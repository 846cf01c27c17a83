#include "import/layer_importer.hxx"

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_document_feature.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr QELIResult kNoRefresh{0x3000006};

double unitComponent(double c) { return std::isfinite(c) ? std::clamp(c, 0.0, 1.0) : 0.0; }

// What the kernel would not do for a layer (take an entity onto it, write
// one of its properties) is warned of, naming it: the import is not whole.
void warnIfRefused(bool done, const std::string& what)
{
    if (!done)
        QELXWarningEvent::Fire((what + " (the kernel refused it)").c_str());
}

std::string onLayer(const ENTITY* entity, int number)
{
    return std::string("a ") + entity->type_name() + " could not be put on layer " + std::to_string(number);
}

// The name, colour and state questions count only for a corvane exporter.
QELIResult layerName(QELXAttributeExporter* exporter, const QELXIdentifier& id, QELXString& name)
{
    return exporter->IsCorvaneExporter() ? exporter->GetLayerName(id, name) : QELI_NO_SOURCE;
}

QELGROUP* newLayerGroup(int type)
{
    QELGROUP* group = nullptr;
    // Made with its type or not at all: a group without it is no layer.
    const outcome o = velmCall([&] {
        group = new (0, "QELXVelmLayerImporter", __LINE__, nullptr) QELGROUP();
        if (!group)
            return outcome(qelbase_mmgr_errmod.message_code(8));
        return Ve_AttribTransfer::setGroupType(group, type) ? outcome()
                                                            : outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    });
    warnIfRefused(o.ok(), "a layer could not be made");
    return o.ok() ? group : nullptr;
}

} // namespace

QELIResult QELXVelmLayerImporter::FindLayerById(int number, QELGROUP*& group) const
{
    for (QELGROUP* layer : m_layers) {
        int id = -1;
        if (Ve_AttribTransfer::getID(layer, id) && id == number) {
            group = layer;
            return QELI_OK;
        }
    }
    group = nullptr;
    return QELI_FAIL;
}

QELIResult QELXVelmLayerImporter::ImportEntityLayer(ENTITY* entity, const QELXIdentifier& source,
                                                    QELXAttributeExporter* exporter, int r)
{
    if (!entity || !source.IsValid() || !exporter)
        return QELI_FAIL;
    int s = -1;
    const QELIResult read = exporter->GetLayer(source, s);
    QELXString name;
    const QELIResult named = layerName(exporter, source, name);
    if (read != QELI_OK && named != QELI_OK)
        return read;
    QELGROUP* layer = nullptr;
    if (FindLayerById(s, layer) == QELI_OK) {
        if (r != -1 && (r < 0 || s == r))
            return QELI_OK;
        if (r == -1 && s < 0)
            return QELI_OK;
        warnIfRefused(velmCall([&] { return api_ct_add_to_group(entity, layer); }).ok(), onLayer(entity, s));
        RefreshLayerOnce(layer, source, exporter);
        return QELI_OK;
    }
    if (r != -1 && (r < 0 || s == r || s < 0))
        return QELI_FAIL;
    if (r == -1 && s < 0)
        return QELI_FAIL;
    QELGROUP* group = newLayerGroup(Ve_GroupLayer);
    if (!group)
        return QELI_FAIL;
    warnIfRefused(velmCall([&] { return api_ct_add_to_group(entity, group); }).ok(), onLayer(entity, s));
    const QELIResult set = SetLayerPropertiesFromEntity(group, source, exporter, s);
    if (set != QELI_OK)
        return set;
    m_layers.Add(group);
    m_refreshed.Add(group, true);
    return QELI_OK;
}

QELIResult QELXVelmLayerImporter::RefreshLayerOnce(QELGROUP* layer, const QELXIdentifier& source,
                                                   QELXAttributeExporter* exporter)
{
    bool refreshed = true;
    if (!m_refreshed.Get(layer, refreshed) || refreshed)
        return kNoRefresh;
    const QELIResult set = SetLayerPropertiesFromEntity(layer, source, exporter, -1);
    if (set == QELI_OK)
        m_refreshed.Set(layer, true);
    return set;
}

QELIResult QELXVelmLayerImporter::SetLayerPropertiesFromEntity(QELGROUP* group, const QELXIdentifier& source,
                                                               QELXAttributeExporter* exporter, int number)
{
    if (!source.IsValid() || !group || !exporter)
        return QELI_FAIL;
    const std::string layer = "layer " + std::to_string(number);
    if (number >= 0)
        warnIfRefused(Ve_AttribTransfer::setID(group, number), "the number of " + layer + " could not be written");
    const bool corvane = exporter->IsCorvaneExporter();
    QELXString name;
    if (corvane && exporter->GetLayerName(source, name) == QELI_OK)
        warnIfRefused(Ve_AttribTransfer::setLabel(group, name), "the name of " + layer + " could not be written");
    double rgba[4] = {0.0, 0.0, 0.0, 0.0};
    if (corvane && exporter->GetLayerColor(source, rgba) == QELI_OK)
        warnIfRefused(Ve_AttribTransfer::setColor(group, unitComponent(rgba[0]), unitComponent(rgba[1]),
                                                  unitComponent(rgba[2])),
                      "the colour of " + layer + " could not be written");
    bool state = false;
    if (corvane && exporter->GetLayerState(source, state) == QELI_OK && state)
        warnIfRefused(Ve_AttribTransfer::setCurrent(group, true), "the state of " + layer + " could not be written");
    return QELI_OK;
}

QELIResult QELXVelmLayerImporter::AddLayerByNumber(QELGROUP* group, int number, QELXAttributeExporter* exporter)
{
    if (!Ve_AttribTransfer::setID(group, number))
        return QELI_FAIL;
    m_layers.Add(group);
    const bool complete = SetLayerPropertiesByNumber(group, exporter, number) == QELI_OK;
    // An incomplete layer is completed by the first entity found on it.
    m_refreshed.Add(group, complete);
    return QELI_OK;
}

QELIResult QELXVelmLayerImporter::SetLayerPropertiesByNumber(QELGROUP* group, QELXAttributeExporter* exporter,
                                                             int number)
{
    if (!group || !exporter)
        return QELI_FAIL;
    const bool corvane = exporter->IsCorvaneExporter();
    bool any = false;
    QELXString name;
    const std::string layer = "layer " + std::to_string(number);
    if (corvane && exporter->GetLayerName(number, name) == QELI_OK) {
        warnIfRefused(Ve_AttribTransfer::setLabel(group, name), "the name of " + layer + " could not be written");
        any = true;
    }
    double rgba[4] = {0.0, 0.0, 0.0, 0.0};
    if (corvane && exporter->GetLayerColor(number, rgba) == QELI_OK) {
        warnIfRefused(Ve_AttribTransfer::setColor(group, unitComponent(rgba[0]), unitComponent(rgba[1]),
                                                  unitComponent(rgba[2])),
                      "the colour of " + layer + " could not be written");
        any = true;
    }
    bool state = false;
    if (corvane && exporter->GetLayerState(number, state) == QELI_OK) {
        if (state)
            warnIfRefused(Ve_AttribTransfer::setCurrent(group, true),
                          "the state of " + layer + " could not be written");
        any = true;
    }
    return any ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVelmLayerFilterImporter::FindOrCreateLayerFilter(QELXDocumentFeatureExporter* exporter, void* filter,
                                                                QELGROUP*& group, bool& existed)
{
    QELXString name;
    const QELIResult named = exporter->GetLayerFilterName(filter, name);
    for (QELGROUP* known : m_filters) {
        QELXString label;
        if (Ve_AttribTransfer::getLabel(known, label) && label.equals(name)) {
            group = known;
            existed = true;
            return QELI_OK;
        }
    }
    existed = false;
    group = newLayerGroup(Ve_GroupLayerFilter);
    if (!group)
        return QELI_FAIL;
    if (named == QELI_OK && name.length() > 0)
        Ve_AttribTransfer::setLabel(group, name);
    bool current = false;
    if (exporter->GetIsLayerFilterCurrent(filter, current) == QELI_OK && current)
        Ve_AttribTransfer::setCurrent(group, true);
    QELX_LayerFilterType type = QELX_LayerFilterNone;
    if (exporter->GetLayerFilterType(filter, type) == QELI_OK)
        Ve_AttribTransfer::setLayerFilterType(group, type);
    return QELI_OK;
}

QELIResult QELXVelmLayerFilterImporter::ImportLayerFilters(QELXDocumentFeatureExporter* exporter,
                                                           QELXAttributeExporter* attributes,
                                                           QELXVelmLayerImporter* layers)
{
    if (!exporter || !layers)
        return QELI_FAIL;
    QELIResult r = QELI_OK;
    velmCall([&] {
        int n = 0;
        r = exporter->GetNumberLayerFilters(n);
        if (r != QELI_OK || n <= 0)
            return;
        for (int i = 0; i < n; ++i) {
            void* filter = nullptr;
            r = exporter->GetIthLayerFilter(i, filter);
            if (r != QELI_OK)
                continue;
            QELGROUP* group = nullptr;
            bool existed = false;
            r = FindOrCreateLayerFilter(exporter, filter, group, existed);
            if (!group)
                continue;
            QELX_LayerFilterType type = QELX_LayerFilterNone;
            r = exporter->GetLayerFilterType(filter, type);
            if (r == QELI_OK && type != QELX_LayerFilterAll) {
                int m = 0;
                r = exporter->GetNumberOfLayersInLayerFilter(filter, m);
                for (int j = 0; j < m; ++j) {
                    int number = -1;
                    r = exporter->GetIthLayerInLayerFilter(filter, j, number);
                    if (r != QELI_OK)
                        continue;
                    QELGROUP* layer = nullptr;
                    r = layers->FindLayerById(number, layer);
                    if (!layer) {
                        layer = newLayerGroup(Ve_GroupLayer);
                        if (!layer)
                            continue;
                        layers->AddLayerByNumber(layer, number, attributes);
                        m_filterLayers.Add(layer);
                    }
                    api_ct_add_to_group(layer, group);
                }
            }
            if (!existed)
                m_filters.Add(group);
        }
    });
    return r;
}

QELIResult addEntitiesToGroup(const QELXDynamicArray<ENTITY*>& entities, QELGROUP* group)
{
    if (!group)
        return QELI_FAIL;
    QELIResult result = QELI_OK;
    for (ENTITY* entity : entities) {
        int number = -1;
        Ve_AttribTransfer::getID(entity, number);
        if (number < 0) {
            result = QELI_FAIL;
            continue;
        }
        result = QELI_OK;
        velmCall([&] { return api_ct_add_to_group(entity, group); });
    }
    return result;
}
