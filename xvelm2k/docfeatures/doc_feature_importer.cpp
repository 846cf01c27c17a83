// The document-feature importer: the import road, local coordinate systems,
// layers and the summary.
#include "docfeatures/doc_feature_importer.hxx"

#include "docfeatures/doc_feature_members.hxx"
#include "import/layer_importer.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"

using O = Ve_OptionDoc;

namespace {

bool isMarked(bool (*test)(ENTITY*, bool&), ENTITY* entity)
{
    bool flag = false;
    return test(entity, flag) && flag;
}

} // namespace

QELIResult QELXCreateVelmDocFeatureImporter(QELXDocument* document, QELXVelmDocFeatureImporter** out)
{
    return ve_docfeatures::makeRepresentation<QELXVelmDocFeatureImporter, QELXDocument, QELIResult>(document, out);
}

QELXVelmDocFeatureImporter::QELXVelmDocFeatureImporter(QELXDocument* target) : QELXDocumentFeatureImporter(target) {}

QELXVelmDocFeatureImporter::~QELXVelmDocFeatureImporter()
{
    for (int i = 0, n = m_separatedBodyGroups.count(); i < n; ++i) {
        ENTITY* e = m_separatedBodyGroups[i];
        if (!e || !QELXVelmEntityUtils::GetEntity(QELXVelmEntityUtils::GetIdentifier(e)) || !is_QELGROUP(e))
            continue;
        auto* group = static_cast<QELGROUP*>(e);
        for (ENTITY* member : ve_docfeatures::liveMembers(group))
            api_ct_remove_from_group(member, group);
    }
    delete m_layerFilterImporter;
    delete m_layerImporter;
}

QELIResult QELXVelmDocFeatureImporter::ProcessExporterOptions(QELXExportRepresentation* source)
{
    return source ? QELI_OK : QELI_FAIL;
}

void QELXVelmDocFeatureImporter::ScanTargetDocument()
{
    delete m_layerFilterImporter;
    delete m_layerImporter;
    m_layerFilterImporter = new QELXVelmLayerFilterImporter;
    m_layerImporter = new QELXVelmLayerImporter;
    QELXDynamicArray<QELGROUP*> layers;
    auto* target = dynamic_cast<QELXVelmDocument*>(GetDocument());
    ENTITY_LIST* native = nullptr;
    if (target && target->GetNativeEntityList(native) == QELI_OK && native) {
        for (int i = 0, n = native->count(); i < n; ++i) {
            ENTITY* e = (*native)[i];
            if (!e || e->identity(0) != QELGROUP_TYPE)
                continue;
            if (isMarked(&Ve_AttribTransfer::isSelectionSet, e))
                m_selectionSets.AddUnique(static_cast<QELGROUP*>(e));
            if (isMarked(&Ve_AttribTransfer::isLayer, e))
                layers.Add(static_cast<QELGROUP*>(e));
        }
    }
    m_layerImporter->SetLayers(layers);
}

QELIResult QELXVelmDocFeatureImporter::Import(QELXExportRepresentation* source)
{
    auto* features = dynamic_cast<QELXDocumentFeatureExporter*>(source);
    if (!features)
        return QELI_FAIL;
    ScanTargetDocument();
    QELXAttributeExporter* attributes = nullptr;
    features->GetAttributeExporter(attributes);
    QELIResult result = QELI_NOTHING;

    int coordinateSystems = 0;
    features->GetNumberOfLocalCoordinateSystems(coordinateSystems);
    ImportLocalCoordinateSystems(features, attributes, coordinateSystems);

    QELXDocument* sourceDocument = features->GetDocument();
    int selectionSets = 0;
    if (O::isOn(O::TransferSelectionSets)) {
        features->GetNumberOfSelectionSets(selectionSets);
        ImportSelectionSets(features, attributes, sourceDocument);
    }
    int layerFilters = 0;
    if (O::isOn(O::TransferLayer)) {
        ImportLayerFilters(features, attributes);
        layerFilters = m_layerFilterImporter->GetLayerFilters().Count();
    }
    int groups = 0;
    if (!O::isOn(O::TranslateGroupAsAssemblies)) {
        features->GetNumberOfGroups(groups);
        ImportGroups(features, attributes, sourceDocument);
    }
    if (coordinateSystems != 0 || selectionSets != 0 || layerFilters != 0 || groups != 0)
        result = QELI_OK;
    if (O::isOn(O::TransferAttribute))
        ImportNotes(features);
    return result;
}

QELIResult QELXVelmDocFeatureImporter::ImportLocalCoordinateSystems(QELXDocumentFeatureExporter* source,
                                                                    QELXAttributeExporter* attributes, int count)
{
    if (!source)
        return QELI_FAIL;
    const bool layers = O::isOn(O::TransferLayer);
    velmCall([&] {
        const QELXConverter* context = source->GetTranslationContext();
        const double scale = context ? context->GetScaleFactor() : 1.0;
        for (int i = 0; i < count; ++i) {
            void* handle = nullptr;
            source->GetLocalCoordinateSystemAt(i, handle);
            QELXMorph3D morph;
            if (source->GetMorphFromLocalCoordinateSystem(handle, morph) != QELI_OK)
                continue;
            const QELXPoint3D& t = morph.GetTranslation();
            const QELXMorph3D placed(morph.GetAffine(), QELXPoint3D(t[0] * scale, t[1] * scale, t[2] * scale), 1.0);
            WCS* wcs = velm_require(VELM_NEW WCS(static_cast<QELtransf>(Ve_Morph(placed))));
            const QELXIdentifier from(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle)),
                                      QELXDocumentFeatureExporter::QELXDocumentFeatureTypeLocalCoordinateSystem,
                                      nullptr, "WCS");
            QELXEndTranslateEntityEvent::Fire(
                QELI_OK, from,
                QELXIdentifier(wcs, QELXDocumentFeatureExporter::QELXDocumentFeatureTypeLocalCoordinateSystem, nullptr,
                               "WCS"));
            bool current = false;
            if (source->GetStateFromLocalCoordinateSystem(handle, current) == QELI_OK)
                ve_view<QELXVeWCS>(wcs)->SetActiveState(current);
            if (attributes) {
                Ve_AttribTransfer::transferAttributes(wcs, from, attributes, layers);
                if (layers)
                    m_layerImporter->ImportEntityLayer(wcs, from, attributes, -1);
            }
            m_coordinateSystems.Add(wcs);
        }
    });
    return count > 0 ? QELI_OK : QELI_NOTHING;
}

QELGROUP* QELXVelmDocFeatureImporter::allLayersFilter() const
{
    if (!m_layerFilterImporter)
        return nullptr;
    for (QELGROUP* filter : m_layerFilterImporter->GetLayerFilters()) {
        int type = -1;
        if (filter && Ve_AttribTransfer::getLayerFilterType(filter, type) && type == QELX_LayerFilterAll)
            return filter;
    }
    return nullptr;
}

QELIResult QELXVelmDocFeatureImporter::ImportLayerFilters(QELXDocumentFeatureExporter* source,
                                                          QELXAttributeExporter* attributes)
{
    if (!m_layerFilterImporter || !m_layerImporter)
        return QELI_FAIL;
    const QELIResult r = m_layerFilterImporter->ImportLayerFilters(source, attributes, m_layerImporter);
    // The all-layers filter holds every layer there is.
    if (QELGROUP* all = allLayersFilter()) {
        QELXDynamicArray<ENTITY*> layers;
        for (QELGROUP* layer : m_layerImporter->GetLayers())
            layers.Add(layer);
        addEntitiesToGroup(layers, all);
    }
    return r;
}

QELIResult QELXVelmDocFeatureImporter::SetGroups(const QELXDynamicArray<QELCOLLECTION*>& groups)
{
    m_groups = groups;
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureImporter::SetLayerFilters(const QELXDynamicArray<QELGROUP*>& filters)
{
    if (!m_layerFilterImporter)
        return QELI_FAIL;
    m_layerFilterImporter->SetLayerFilters(filters);
    return QELI_OK;
}

QELIResult QELXVelmDocFeatureImporter::AddToAllLayersFilter(const QELXDynamicArray<ENTITY*>& entities)
{
    QELGROUP* all = allLayersFilter();
    return all ? addEntitiesToGroup(entities, all) : QELI_FAIL;
}

QELIResult QELXVelmDocFeatureImporter::PostImport()
{
    ENTITY_LIST made;
    auto gather = [&](const auto& array) {
        for (auto* e : array)
            if (e)
                made.add(e);
    };
    gather(m_coordinateSystems);
    gather(m_selectionSets);
    const QELXDynamicArray<QELGROUP*> filters =
        m_layerFilterImporter ? m_layerFilterImporter->GetLayerFilters() : QELXDynamicArray<QELGROUP*>();
    gather(filters);
    if (m_layerFilterImporter)
        gather(m_layerFilterImporter->GetFilterLayers());
    if (m_layerImporter)
        gather(m_layerImporter->GetLayers());
    gather(m_groups);
    gather(m_notes);
    if (auto* target = dynamic_cast<QELXVelmDocument*>(GetDocument()))
        target->AppendNativeEntityList(&made);

    QELXDefaultImporterSummary* summary = nullptr;
    QELIResult found = GetSummary(summary);
    if (!summary) {
        InitializeQELXImporterSummary();
        found = GetSummary(summary);
    }
    if (found == QELI_OK && summary) {
        summary->AddItem("Selection Sets", m_selectionSets.Count());
        summary->AddItem("Layer Filters", filters.Count());
        summary->AddItem("Local Coordinate Systems", m_coordinateSystems.Count());
        summary->AddItem("Associative Groups", m_groups.Count());
    }
    return QELI_OK;
}
