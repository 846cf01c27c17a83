#pragma once
// Layers and layer filters of a source document as kernel groups: one layer
// group per source layer number (named, coloured and made current as the
// source says), filter groups whose members are layer groups.
#include "model/containers.hxx"
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_result.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class QELGROUP;
class QELXAttributeExporter;
class QELXDocumentFeatureExporter;

class XVELM2KA_API QELXVelmLayerImporter {
public:
    QELXVelmLayerImporter() = default;
    QELXVelmLayerImporter(const QELXVelmLayerImporter&) = delete;
    QELXVelmLayerImporter& operator=(const QELXVelmLayerImporter&) = delete;
    ~QELXVelmLayerImporter() = default;

    // Puts the entity on the group of its source layer unless that layer is
    // the reference layer (the layer of the body it belongs to); -1 means none.
    QELIResult ImportEntityLayer(ENTITY* entity, const QELXIdentifier& source, QELXAttributeExporter* exporter,
                                 int referenceLayer);
    QELXDynamicArray<QELGROUP*> GetLayers() const { return m_layers; }
    // The owner may replace the refreshed flags before use.
    QELXHashMap<QELGROUP*, bool>& GetLayerMap() { return m_refreshed; }
    void SetLayerMap(const QELXHashMap<QELGROUP*, bool>& map) { m_refreshed = map; }
    void SetLayers(const QELXDynamicArray<QELGROUP*>& layers) { m_layers = layers; }
    QELIResult FindLayerById(int number, QELGROUP*& group) const;
    QELIResult AddLayerByNumber(QELGROUP* group, int number, QELXAttributeExporter* exporter);
    // 0x3000006 for a layer not recorded or already refreshed.
    QELIResult RefreshLayerOnce(QELGROUP* layer, const QELXIdentifier& source, QELXAttributeExporter* exporter);
    QELIResult SetLayerPropertiesFromEntity(QELGROUP* group, const QELXIdentifier& source,
                                            QELXAttributeExporter* exporter, int number);
    QELIResult SetLayerPropertiesByNumber(QELGROUP* group, QELXAttributeExporter* exporter, int number);

private:
    QELXDynamicArray<QELGROUP*> m_layers;
    QELXHashMap<QELGROUP*, bool> m_refreshed;
};

class XVELM2KA_API QELXVelmLayerFilterImporter {
public:
    QELXVelmLayerFilterImporter() = default;
    QELXVelmLayerFilterImporter(const QELXVelmLayerFilterImporter&) = delete;
    QELXVelmLayerFilterImporter& operator=(const QELXVelmLayerFilterImporter&) = delete;
    ~QELXVelmLayerFilterImporter() = default;

    // The result of the last exporter or lookup call made.
    QELIResult ImportLayerFilters(QELXDocumentFeatureExporter* exporter, QELXAttributeExporter* attributes,
                                  QELXVelmLayerImporter* layers);
    QELXDynamicArray<QELGROUP*> GetLayerFilters() const { return m_filters; }
    void SetLayerFilters(const QELXDynamicArray<QELGROUP*>& filters) { m_filters = filters; }
    // The layer groups made because a filter named a layer not seen before.
    QELXDynamicArray<QELGROUP*> GetFilterLayers() const { return m_filterLayers; }
    QELIResult FindOrCreateLayerFilter(QELXDocumentFeatureExporter* exporter, void* filter, QELGROUP*& group,
                                       bool& existed);

private:
    QELXDynamicArray<QELGROUP*> m_filters;
    QELXDynamicArray<QELGROUP*> m_filterLayers;
};

// Adds every entity that has a number to the group; the result is that of the
// last entity (0x1000001 for one without number, 0 for an empty array).
XVELM2KA_API QELIResult addEntitiesToGroup(const QELXDynamicArray<ENTITY*>& entities, QELGROUP* group);
