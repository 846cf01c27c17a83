#pragma once
// The document-feature exporter's type constants (the identifiers of
// document links carry them).
#include "qelx/qelx_representation.hxx"

// Layer filter kinds: 0 all layers, 1 the listed layers, 2 unknown or none.
enum QELX_LayerFilterType { QELX_LayerFilterAll = 0, QELX_LayerFilterListed = 1, QELX_LayerFilterNone = 2 };

class QELXDocumentFeatureExporter : public QELXExportRepresentation {
public:
    static constexpr const char* QELXDocumentFeatureTypeAssociativeGroup = "QELXDocumentFeatureTypeAssociativeGroup";
    static constexpr const char* QELXDocumentFeatureTypeLocalCoordinateSystem =
        "QELXDocumentFeatureTypeLocalCoordinateSystem";
    static constexpr const char* QELXDocumentFeatureTypeSelectionSet = "QELXDocumentFeatureTypeSelectionSet";

    using QELXExportRepresentation::QELXExportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("DocumentFeature"); }

    // Layer filters, by the exporter's handles; 0x1000005 until an exporter answers.
    virtual QELIResult GetNumberLayerFilters(int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthLayerFilter(int, void*&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfLayersInLayerFilter(void*&, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthLayerInLayerFilter(void*&, int, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLayerFilterType(void*&, QELX_LayerFilterType&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLayerFilterName(void*&, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIsLayerFilterCurrent(void*&, bool&) { return QELI_NOT_IMPLEMENTED; }
    const char* GetName() const override { return "QELXDocumentFeatureExporter"; }
};
