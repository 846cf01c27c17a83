#pragma once
// Another representation's document features recreated in a kernel
// document: local coordinate systems, selection sets, layers and layer
// filters, associative groups and notes, found for the entities the B-rep
// import made through the source document's linker. Internal to the
// library: the framework makes it through the factory and reaches it
// through the importer interface.
#include "model/containers.hxx"
#include "qelx/qelx_document_feature.hxx"
#include "velm/lists.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class QELCOLLECTION;
class QELGROUP;
class QELXRepLinker;
class QELXVelmLayerFilterImporter;
class QELXVelmLayerImporter;
class WCS;

class QELXVelmDocFeatureImporter : public QELXDocumentFeatureImporter {
public:
    explicit QELXVelmDocFeatureImporter(QELXDocument* target);
    QELXVelmDocFeatureImporter(const QELXVelmDocFeatureImporter&) = delete;
    QELXVelmDocFeatureImporter& operator=(const QELXVelmDocFeatureImporter&) = delete;
    // Empties the separated-body groups whose members went into selection sets.
    ~QELXVelmDocFeatureImporter() override;

    // 0 for a source, else 0x1000001.
    QELIResult ProcessExporterOptions(QELXExportRepresentation* source) override;
    // 0 when coordinate systems, selection sets, layer filters or groups were
    // read; 2 when the source has none; 0x1000001 without a document-feature source.
    QELIResult Import(QELXExportRepresentation* source) override;
    // Everything made (and the target's own selection sets and layers) into
    // the target's native entity list; the summary's four items.
    QELIResult PostImport() override;

    // Accessors beside the road.
    QELXDynamicArray<QELCOLLECTION*> GetGroups() const { return m_groups; }
    QELIResult SetGroups(const QELXDynamicArray<QELCOLLECTION*>& groups);
    QELXDynamicArray<QELGROUP*> GetSelectionSets() const { return m_selectionSets; }
    QELIResult SetLayerFilters(const QELXDynamicArray<QELGROUP*>& filters);
    // Into the first all-layers filter; 0x1000001 when there is none.
    QELIResult AddToAllLayersFilter(const QELXDynamicArray<ENTITY*>& entities);
    QELIResult ImportLayerFilters(QELXDocumentFeatureExporter* source, QELXAttributeExporter* attributes);

    const char* GetName() const override { return "QELXVelmDocFeatureImporter"; }

private:
    void ScanTargetDocument();
    QELIResult ImportLocalCoordinateSystems(QELXDocumentFeatureExporter* source, QELXAttributeExporter* attributes,
                                            int count);
    QELIResult ImportSelectionSets(QELXDocumentFeatureExporter* source, QELXAttributeExporter* attributes,
                                   QELXDocument* sourceDocument);
    QELIResult ImportGroups(QELXDocumentFeatureExporter* source, QELXAttributeExporter* attributes,
                            QELXDocument* sourceDocument);
    QELIResult ImportNotes(QELXDocumentFeatureExporter* source);
    // `open` holds the groups being built above this one: a group met again
    // inside itself is left out rather than followed for ever.
    QELCOLLECTION* ImportGroup(QELXDocumentFeatureExporter* source, const QELXRepLinker& linker,
                               const QELXIdentifier& group, QELXDynamicArray<std::uint64_t>& open);
    QELIResult FindSelectionSet(const QELXString& name, QELGROUP*& found) const;
    // The all-layers filter the layer-filter import made first, or null.
    QELGROUP* allLayersFilter() const;

    QELXDynamicArray<QELGROUP*> m_selectionSets;
    QELXDynamicArray<WCS*> m_coordinateSystems;
    QELXVelmLayerFilterImporter* m_layerFilterImporter = nullptr;
    QELXVelmLayerImporter* m_layerImporter = nullptr;
    ENTITY_LIST m_separatedBodyGroups;
    QELXDynamicArray<QELCOLLECTION*> m_groups;
    QELXDynamicArray<QELCOLLECTION*> m_notes;
};

// Makes the importer into the target document; 0x1000001 and null when it
// cannot be made.
XVELM2KA_C_API QELIResult QELXCreateVelmDocFeatureImporter(QELXDocument* document, QELXVelmDocFeatureImporter** out);
