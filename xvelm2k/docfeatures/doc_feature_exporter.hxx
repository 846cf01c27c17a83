#pragma once
// The document features of a kernel document as the framework reads them:
// its local coordinate systems, selection sets and layer filters (groups
// marked so), its layers (through the owned attribute exporter's layer map)
// and its associative groups (collections). Every query answers from the
// lists DoPreProcess fills from the document's native entity list.
#include "model/containers.hxx"
#include "qelx/qelx_document_feature.hxx"
#include "xvelm2k/export.hxx"

class QELCOLLECTION;
class QELGROUP;
class QELXVelmAttributeExporter;
class WCS;

class XVELM2KA_API QELXVelmDocFeatureExporter : public QELXDocumentFeatureExporter {
public:
    explicit QELXVelmDocFeatureExporter(QELXDocument* document);
    // The copy gets an attribute exporter of its own, so that each deletes
    // only what it owns.
    QELXVelmDocFeatureExporter(const QELXVelmDocFeatureExporter& other);
    QELXVelmDocFeatureExporter& operator=(const QELXVelmDocFeatureExporter&) = delete;
    ~QELXVelmDocFeatureExporter() override;

    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;
    // The lists, made afresh from the native entity list; 2 when the
    // document has no document feature at all.
    QELIResult DoPreProcess() override;

    // Indices outside 0 ... count - 1 answer 0x1000001 with the output untouched.
    QELIResult GetNumberOfLocalCoordinateSystems(int& count) override;
    QELIResult GetLocalCoordinateSystemAt(int i, void*& handle) const override;
    QELIResult GetMorphFromLocalCoordinateSystem(void* handle, QELXMorph3D& morph) const override;
    QELIResult GetStateFromLocalCoordinateSystem(void* handle, bool& current) const override;

    QELIResult GetNumberOfSelectionSets(int& count) const override;
    QELIResult GetIthSelectionSet(int i, void*& handle) const override;
    QELIResult GetSelectionSetState(void*& handle, bool& current) override;
    QELIResult GetNoEntitiesForSelectionSet(void* handle, int& count) const override;
    QELIResult GetIthEntityFromSelectionSet(void* handle, int i, void*& member) override;

    QELIResult GetNumberLayerFilters(int& count) const override;
    QELIResult GetIthLayerFilter(int i, void*& handle) const override;
    QELIResult GetNumberOfLayersInLayerFilter(void*& handle, int& count) const override;
    QELIResult GetIthLayerInLayerFilter(void*& handle, int i, int& layer) const override;
    QELIResult GetLayerFilterType(void*& handle, QELX_LayerFilterType& type) override;
    QELIResult GetLayerFilterName(void*& handle, QELXString& name) override;
    QELIResult GetIsLayerFilterCurrent(void*& handle, bool& current) override;
    // Never known: always 0x1000001.
    QELIResult GetCurrentLayer(int& layer) const override;

    QELIResult GetNumberOfGroups(int& count) const override;
    QELIResult GetIthGroup(int i, QELXIdentifier& id) override;
    QELIResult GetNoEntitiesInGroup(const QELXIdentifier& id, int& count) const override;
    QELIResult GetIthEntityFromGroup(const QELXIdentifier& id, int i, QELXIdentifier& member) override;
    bool IsGroup(const QELXIdentifier& id) override;

    const char* GetName() const override { return "QELXVelmDocFeatureExporter"; }

private:
    QELXDynamicArray<WCS*> m_coordinateSystems;
    QELXDynamicArray<QELGROUP*> m_selectionSets;
    QELXDynamicArray<QELGROUP*> m_layerFilters;
    QELXVelmAttributeExporter* m_attributes = nullptr;
    QELXDynamicArray<QELCOLLECTION*> m_groups;
};

// Makes the exporter over the document; 0x1000001 and null when it cannot be made.
XVELM2KA_C_API QELIResult QELXCreateVelmDocFeatureExporter(QELXDocument* document, QELXVelmDocFeatureExporter** out);
