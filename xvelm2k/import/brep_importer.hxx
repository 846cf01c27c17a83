#pragma once
// The import side of the connector: the framework creates it over a kernel
// document, sets its options and hands it another format's B-rep exporter.
// It walks the source and builds kernel bodies in the target document through
// the topology, trim and wire roads (or copies them when the source is a
// kernel document itself), then heals them, hands them to the document and
// reports a summary. The bodies are the importer's until PostImport hands them
// to the kernel document: an importer released before that deletes them.
#include "import/layer_importer.hxx"
#include "model/body_set.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_representation.hxx"
#include "velm/lists.hxx"
#include "xvelm2k/export.hxx"

#include <memory>

class check_geometry_memo;
class ENTITY;
class QELXAttributeExporter;
class QELXBRepExporter;
class QELXDefaultGeometryImporter;
class QELXGeometryExporter;
class QELXVelmBRepCreator;
class Ve_DocumentTag;

class XVELM2KA_API QELXVelmBRepImporter : public QELXDefaultBRepImporter {
public:
    // Collects the document's existing layers; without a document the importer
    // still works (its document tag then has no base document).
    explicit QELXVelmBRepImporter(QELXDocument* document = nullptr);
    QELXVelmBRepImporter(const QELXVelmBRepImporter&) = delete;
    QELXVelmBRepImporter& operator=(const QELXVelmBRepImporter&) = delete;
    ~QELXVelmBRepImporter() override;

    const char* GetName() const override { return "QELXVelmBRepImporter"; }

    // ---- framework slots (import_driver.cpp, post_import.cpp) ----
    QELIResult ProcessUserOptions(QELXOptions& userOptions) override;
    QELIResult SetRequiredOptions(QELXOptions& options) override;
    QELIResult ProcessExporterOptions(QELXExportRepresentation* source) override;
    QELIResult Import(QELXExportRepresentation* source) override;
    QELIResult PostImport() override;
    bool AddCreatedBody(void* body) override;
    QELIResult GetCreatedEntities(const QELXIdentifier& source, QELXIdentifiers& created) override;
    bool AddCreatedEntity(void* entity) override;

    // ---- the driver (import_driver.cpp) ----
    QELIResult DoImport(QELXExportRepresentation* source);
    // The same-kind road: every source body copied and moved by the context's morph.
    QELIResult CopyBodies(QELXBRepExporter* source, Gk_ImportContext* context);
    // The "ToVelmRepair" stage over the result.
    QELIResult RepairCopiedBodies();
    void TransferEntityLayer(ENTITY* entity, const QELXIdentifier& source, QELXAttributeExporter* attributes,
                             ENTITY* body, int bodyLayer);
    int GetNumberOfImportedBodies() const;
    // Null outside 0 .. count - 1.
    Ve_BodyTag* GetImportedBodyAt(int index) const;

    // ---- the "Body" stage and its roads (body_stage.cpp) ----
    QELIResult ImportBodies(QELXBRepExporter* source, Gk_ImportContext* context);
    QELIResult ImportBody(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    QELIResult ImportSolidTopology(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    QELIResult ImportSheetTopology(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    QELIResult ImportFaceTopology(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    QELIResult ImportWireBody(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    // The "entity source" attribute naming the source entity's native pointer.
    void AttachSourceObject(const QELXIdentifier& source, QELXAttributeExporter* attributes, ENTITY* entity);

    // ---- trim roads (trim_road.cpp) ----
    QELIResult ImportSolidAsTrim(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    QELIResult ImportSheetAsTrim(QELXBRepExporter* source, const QELXIdentifier& body, Gk_ImportContext* context);
    Gk_ObsWraper FetchFaceCallback(Gk_ImportContext* context);
    Gk_ObsWraper FetchTrimBodyCallback(Gk_ImportContext* context);

    // ---- free surfaces, curves and points (free_geometry.cpp) ----
    QELIResult ImportFreeSurfaces(QELXBRepExporter* source, Gk_ImportContext* context);
    QELIResult ImportFreeCurves(QELXBRepExporter* source, Gk_ImportContext* context);
    QELIResult ImportFreePoints(QELXBRepExporter* source, Gk_ImportContext* context);
    QELIResult ImportFreeSurface(QELXGeometryExporter* geometry, const QELXIdentifier& surface,
                                 Gk_ImportContext* context);
    QELIResult ImportFreeCurve(QELXGeometryExporter* geometry, const QELXIdentifier& curve, Gk_ImportContext* context);
    QELIResult ImportFreePoint(QELXGeometryExporter* geometry, const QELXIdentifier& point, Gk_ImportContext* context);

    // ---- the summary (post_import.cpp) ----
    void FillSummary();

    // ---- what the roads share ----
    Ve_DocumentTag* GetDocumentTag() const { return m_document; }
    // Every body an import road made, in the order made.
    Ve_CocoonTagHandle GetResult() const { return m_result; }
    // The creator of the latest topology import, or null.
    QELXVelmBRepCreator* GetTopologyCreator() const { return m_topologyCreator; }
    // Lets go of what the import keeps only to answer GetCreatedEntities (the
    // creator's catalogues: an entry per source face, loop, coedge, edge and
    // vertex, near the kernel model's own size), for a caller that will not
    // ask once Import returned; GetCreatedEntities then fails.
    void ReleaseSourceLookups();
    QELXDefaultGeometryImporter* GetGeometryImporter() const { return m_geometryImporter; }
    // Takes ownership (the previous one is deleted).
    void SetGeometryImporter(QELXDefaultGeometryImporter* importer);
    QELXVelmLayerImporter* GetLayerImporter() const { return m_layerImporter; }
    // Point bodies the commit replaced by free vertices; deleted with the importer.
    const ENTITY_LIST& GetReplacedBodies() const { return m_replacedBodies; }
    // A frame the import builds in, applied after the unit scale of the
    // documents (the identity unless set).
    void SetImportFrame(const QELXMorph3D& frame) { m_frame = frame; }

private:
    // Replaces the topology creator by a new one over the source.
    QELXVelmBRepCreator* NewTopologyCreator(QELXBRepExporter* source, Gk_ImportContext* context);
    // Hands the creator's bodies to the result.
    void TakeCreatorBodies(QELXVelmBRepCreator* creator);

    Ve_DocumentTag* m_document = nullptr;
    Ve_CocoonTagHandle m_result;
    QELXVelmBRepCreator* m_topologyCreator = nullptr;
    QELXDefaultGeometryImporter* m_geometryImporter = nullptr;
    QELXVelmLayerImporter* m_layerImporter = nullptr;
    ENTITY_LIST m_replacedBodies;
    // Faces made only to answer GetCreatedEntities (they belong to no body).
    ENTITY_LIST m_answeredFaces;
    // Set once PostImport gave the bodies to the document; until then they
    // are the importer's own (an import the framework aborted never gets there).
    bool m_handedOver = false;
    QELXMorph3D m_frame;
    // Held from the import's start to the end of its commit: the bodies'
    // B-splines are checked once for the bad-body sweep and, unchanged, not
    // again by the healing's step watch and the check after it.
    std::unique_ptr<check_geometry_memo> m_checks;
};

// The factory the framework calls: 0 and the importer, or 0x1000001 and null.
extern "C" XVELM2KA_API QELIResult QELXCreateVelmBRepImporter(QELXDocument* document, QELXBRepImporter** out);
