#pragma once
// The source model's document features through the framework's
// document-feature exporter: coordinate systems, selection sets, layer
// filters, associative groups (nested through group words) and notes.
// Every handle is a model word, and selection-set and group members are the
// words the test B-rep exporter gives the same entities, so that a linker
// filled by the B-rep import finds their targets.
#include "qelx/qelx_document_feature.hxx"
#include "qelx/test_model.hxx"

namespace qelx_test {

class TestDocFeatureExporter : public QELXDocumentFeatureExporter {
public:
    TestDocFeatureExporter(QELXDocument* document, const TestModel& model, QELXAttributeExporter* attributes);

    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;

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

    QELIResult GetNumberOfGroups(int& count) const override;
    QELIResult GetIthGroup(int i, QELXIdentifier& id) override;
    QELIResult GetNoEntitiesInGroup(const QELXIdentifier& id, int& count) const override;
    QELIResult GetIthEntityFromGroup(const QELXIdentifier& id, int i, QELXIdentifier& member) override;
    bool IsGroup(const QELXIdentifier& id) override;

    QELIResult GetNumberOfNotes(int& count) override;
    QELIResult GetIthNote(int i, void*& handle) override;
    QELIResult GetNumberOfParametersInNote(void* handle, int& count) override;
    QELIResult GetNameOfNote(void* handle, QELXString& name) override;
    QELIResult GetIthParameterFromNote(void* handle, int i, void*& parameter) override;
    QELIResult GetParameterInfo(void* parameter, QELXString& name, QELXString& value, int& type) override;

    const char* GetName() const override { return "TestDocFeatureExporter"; }

    // The handle of an element: its model word as a pointer value.
    static void* handleOf(EntityKind kind, int index);

private:
    const TestModel& m_model;
    QELXAttributeExporter* m_attributes;
};

} // namespace qelx_test
