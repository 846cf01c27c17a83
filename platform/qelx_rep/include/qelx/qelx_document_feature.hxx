#pragma once
// Document features: local coordinate systems, selection sets, layer
// filters, associative groups and notes of a document, read through the
// exporter and recreated by the importer of another representation.
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_representation.hxx"

// Layer filter kinds: 0 all layers, 1 the listed layers, 2 unknown or none.
enum QELX_LayerFilterType { QELX_LayerFilterAll = 0, QELX_LayerFilterListed = 1, QELX_LayerFilterNone = 2 };

// Handles of coordinate systems, selection sets, layer filters, notes and
// note parameters are the exporter's own `void*`; groups and their members
// travel as identifiers. Every query answers 0x1000005 until an exporter
// overrides it, but for IsGroup (false) and the notes (none: count 0, 0).
class QELXDocumentFeatureExporter : public QELXExportRepresentation {
public:
    static constexpr const char* QELXDocumentFeatureTypeAssociativeGroup = "QELXDocumentFeatureTypeAssociativeGroup";
    static constexpr const char* QELXDocumentFeatureTypeLocalCoordinateSystem =
        "QELXDocumentFeatureTypeLocalCoordinateSystem";
    static constexpr const char* QELXDocumentFeatureTypeSelectionSet = "QELXDocumentFeatureTypeSelectionSet";

    using QELXExportRepresentation::QELXExportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("DocumentFeature"); }

    // Local coordinate systems.
    virtual QELIResult GetNumberOfLocalCoordinateSystems(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLocalCoordinateSystemAt(int, void*&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetMorphFromLocalCoordinateSystem(void*, QELXMorph3D&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetStateFromLocalCoordinateSystem(void*, bool&) const { return QELI_NOT_IMPLEMENTED; }

    // Selection sets.
    virtual QELIResult GetNumberOfSelectionSets(int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthSelectionSet(int, void*&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetSelectionSetState(void*&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNoEntitiesForSelectionSet(void*, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthEntityFromSelectionSet(void*, int, void*&) { return QELI_NOT_IMPLEMENTED; }

    // Layer filters.
    virtual QELIResult GetNumberLayerFilters(int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthLayerFilter(int, void*&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfLayersInLayerFilter(void*&, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthLayerInLayerFilter(void*&, int, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLayerFilterType(void*&, QELX_LayerFilterType&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLayerFilterName(void*&, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIsLayerFilterCurrent(void*&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCurrentLayer(int&) const { return QELI_NOT_IMPLEMENTED; }

    // Associative groups, nested through members that are groups themselves.
    virtual QELIResult GetNumberOfGroups(int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthGroup(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNoEntitiesInGroup(const QELXIdentifier&, int&) const { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthEntityFromGroup(const QELXIdentifier&, int, QELXIdentifier&)
    {
        return QELI_NOT_IMPLEMENTED;
    }
    virtual bool IsGroup(const QELXIdentifier&) { return false; }

    // Notes: named lists of parameters (name, value text, value type).
    virtual QELIResult GetNumberOfNotes(int& count)
    {
        count = 0;
        return QELI_OK;
    }
    virtual QELIResult GetIthNote(int, void*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfParametersInNote(void*, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNameOfNote(void*, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIthParameterFromNote(void*, int, void*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetParameterInfo(void*, QELXString&, QELXString&, int&) { return QELI_NOT_IMPLEMENTED; }

    const char* GetName() const override { return "QELXDocumentFeatureExporter"; }
};

class QELXDocumentFeatureImporter : public QELXImportRepresentation {
public:
    using QELXImportRepresentation::QELXImportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("DocumentFeature"); }
    const char* GetName() const override { return "QELXDocumentFeatureImporter"; }
};
