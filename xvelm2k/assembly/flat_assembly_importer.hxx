#pragma once
// The framework's assembly importer for a kernel document: it flattens the
// source assembly into the document. Each definition is converted once (a
// part through a nested framework conversion, a sub-assembly by placing its
// children) and cached by its identifier; every instance places the
// definition's bodies, free points and coordinate systems, copied while the
// definition is used again later and taken over on its last use; cut
// features become collections of their tool and target bodies.
#include "model/containers.hxx"
#include "model/identifier_hash.hxx"
#include "qelx/qelx_assembly.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "xvelm2k/export.hxx"

#include <memory>
#include <vector>

class BODY;
class ENTITY;
class QELCOLLECTION;
class QELXVelmDocument;

XVELM2KA_C_API QELIResult QELXCreateVelmAssemblyImporter(QELXDocument* document, QELXAssemblyImporter** out);

// The process-wide cache of converted definition documents, keyed by the
// definition's identifier. It lives from a conversion to the destruction of
// the importer that made it.
class XVELM2KA_API Ve_PartDocumentCache {
public:
    // 0 and the stored handle, or 0x1000001 when the definition is absent.
    static QELIResult Lookup(const QELXIdentifier& definition, QELXDocumentHandle& handle);
    // 0; a definition already present keeps its first document.
    static QELIResult Insert(const QELXIdentifier& definition, const QELXDocumentHandle& handle);
    static int Count();
    // Look-ups answered from the cache, and documents stored, since it was
    // last emptied.
    static int Hits();
    static int Insertions();
    // Lets go of every cached document.
    static void Clear();
};

class XVELM2KA_API QELXFlatVelmAssemblyImporter : public QELXDefaultAssemblyImporter {
public:
    explicit QELXFlatVelmAssemblyImporter(QELXDocument* document);
    ~QELXFlatVelmAssemblyImporter() override;
    QELXFlatVelmAssemblyImporter(const QELXFlatVelmAssemblyImporter&) = delete;
    QELXFlatVelmAssemblyImporter& operator=(const QELXFlatVelmAssemblyImporter&) = delete;

    QELXRepType GetType() const override;
    QELIResult ProcessUserOptions(QELXOptions& userOptions) override;
    QELIResult SetRequiredOptions(QELXOptions& options) override;
    QELIResult ProcessExporterOptions(QELXExportRepresentation* source) override;
    QELIResult Import(QELXExportRepresentation* source) override;
    QELIResult PostImport() override;
    QELIResult TranslateAssemblyTree(QELXAssemblyExporter* source) override;

    const char* GetName() const override { return "QELXFlatVelmAssemblyImporter"; }

    // What the walk and the placements leave behind (tests read them).
    const ENTITY_LIST& GetSelectionSets() const { return m_selectionSets; }
    const ENTITY_LIST& GetLayers() const { return m_layers; }
    int GetNumberOfPendingCollections() const { return m_pendingCollections.Count(); }
    // Roots of the last walk whose placement put something into the document.
    int GetNumberOfPlacedRoots() const { return m_placedRoots; }

    // One instance placed (instance_placement.cpp): the definition document's
    // entities copied (keep) or taken over, transformed, named and coloured,
    // appended to `out`.
    QELIResult PlaceInstance(const QELXDocumentHandle& definitionDocument, const QELXIdentifier& instance,
                             QELXAssemblyExporter* source, bool keep, const QELXMorph3D& unitMorph,
                             ENTITY_LIST& out, bool isAssembly);
    // Registers the connector's B-rep importer with the framework for the
    // nested conversions of part definitions into kernel documents.
    static void RegisterPartImporter();

    // The kernel transform of an instance: the source's matrix with its scale
    // drawn out, the translation in target units. False for a placement that
    // cannot be used (a singular or not finite matrix).
    static bool InstanceTransform(const double values[12], double sourceScale, double unitScale, QELtransf& out);

private:
    // assembly_walk.cpp
    QELIResult countUses();
    void countUsesBelow(const QELXIdentifier& definition, QELIResult& result);
    bool recordUse(const QELXIdentifier& definition);
    QELIResult convertDefinition(const QELXIdentifier& definition, QELXDocumentHandle& handle);
    QELIResult convertPart(const QELXIdentifier& definition, QELXDocumentHandle& handle);
    QELIResult convertAssembly(const QELXIdentifier& definition, QELXDocumentHandle& handle);
    bool makeOutputDocument(QELXDocumentHandle& handle);
    // A cached or newly converted document for the definition.
    QELIResult definitionDocument(const QELXIdentifier& definition, QELXDocumentHandle& handle);
    void appendGroupsToTarget();
    void readTargetGroups(bool recordStart);

    // instance_placement.cpp
    // Folds the groups a kernel copy duplicated back into the assembly's
    // selection sets and the original's own groups.
    void mergeCopyGroups(ENTITY* definitionEntity, ENTITY* copy);
    void mergeGroups(const ENTITY_LIST& into, ENTITY_LIST& held);
    void transferAliases(QELXAttributeExporter* attributes, const QELXIdentifier& instance,
                         const QELXIdentifier& identifier, ENTITY* entity);
    QELCOLLECTION* placeCollection(QELCOLLECTION* collection, QELXHashMap<ENTITY*, ENTITY*>& bodyMap,
                                   const QELtransf& transform, bool keep, const QELXString& name);

    // cut_features.cpp
    QELIResult processFeatures(const QELXIdentifier& definition, QELXVelmDocument* output);
    QELIResult convertFeatureTools(const QELXIdentifier& feature, ENTITY_LIST& tools);
    QELIResult collectFeatureTargets(const QELXIdentifier& feature, ENTITY_LIST& targets);
    QELIResult recordCut(ENTITY_LIST& tools, ENTITY_LIST& targets, QELXVelmDocument* output);
    void registerPendingCollection(QELCOLLECTION* collection, ENTITY_LIST* members);

    // flat_assembly_importer.cpp
    QELIResult repairAssembly();
    // Deletes the instance outputs and pending member lists of a walk.
    void releaseWalkLists();
    void healBody(BODY* body, ENTITY_LIST& healed);

    QELXVelmDocument* m_document = nullptr;
    QELXAssemblyExporter* m_source = nullptr;
    QELXAssemblyFeatureExporter* m_featureExporter = nullptr;
    ENTITY_LIST m_selectionSets;
    ENTITY_LIST m_layers;
    QELXHashMap<QELXIdentifier, int> m_totalUses;
    QELXHashMap<QELXIdentifier, int> m_usesSoFar;
    ENTITY_LIST m_entitiesAtStart;
    QELXHashMap<QELXIdentifier, ENTITY_LIST*> m_instanceOutputs;
    QELXHashMap<QELCOLLECTION*, ENTITY_LIST*> m_pendingCollections;
    QELXMorph3D m_unitMorph;
    // Converters handed to the document factory for sub-assembly documents.
    std::vector<std::unique_ptr<QELXConverter>> m_outputContexts;
    int m_placedRoots = 0;
};
