#pragma once
// The document-feature exporter's type constants (the identifiers of
// document links carry them).
#include "qelx/qelx_representation.hxx"

class QELXDocumentFeatureExporter : public QELXExportRepresentation {
public:
    static constexpr const char* QELXDocumentFeatureTypeAssociativeGroup = "QELXDocumentFeatureTypeAssociativeGroup";
    static constexpr const char* QELXDocumentFeatureTypeLocalCoordinateSystem =
        "QELXDocumentFeatureTypeLocalCoordinateSystem";
    static constexpr const char* QELXDocumentFeatureTypeSelectionSet = "QELXDocumentFeatureTypeSelectionSet";

    using QELXExportRepresentation::QELXExportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("DocumentFeature"); }
    const char* GetName() const override { return "QELXDocumentFeatureExporter"; }
};
