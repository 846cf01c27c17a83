#pragma once
// The connector's document: the working set of one conversion over one
// framework kernel document (its bodies, assemblies, layers, layer filters and
// collections), the kernel settings a conversion changes and puts back, and
// the process-wide topology caches it owns.
#include "model/body_set.hxx"
#include "model/containers.hxx"
#include "model/document_caches.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_result.hxx"
#include "xvelm2k/export.hxx"

class ENTITY_LIST;
class QELGROUP;
class QELCOLLECTION;
class QELXVelmDocument;
class QELXOptions;
class QELXExportRepresentation;

class XVELM2KA_API Ve_DocumentTag {
public:
    // Empties both caches (a new conversion starts from nothing cached) and
    // saves the kernel settings that the destructor puts back.
    explicit Ve_DocumentTag(QELXVelmDocument* doc = nullptr);
    // A copy holds the same entities and its own copies of the filter labels.
    // It is a view of the conversion, not its owner: its destruction neither
    // empties the process-wide caches nor puts kernel settings back.
    Ve_DocumentTag(const Ve_DocumentTag& other);
    Ve_DocumentTag& operator=(const Ve_DocumentTag& other);
    virtual ~Ve_DocumentTag();

    QELXVelmDocument* GetBaseDoc() const { return m_baseDoc; }
    bool IsPreprocessDone() const { return m_preprocessDone; }
    void MarkPreprocessDone() { m_preprocessDone = true; }

    QELXDynamicArray<Ve_BodyTag*> GetSolids() const { return m_solids; }
    QELXDynamicArray<Ve_AssemblyTag*> GetAssemblies() const { return m_assemblies; }
    QELXDynamicArray<QELGROUP*>& GetLayers() { return m_layers; }
    QELXDynamicArray<QELGROUP*>& GetLayerFilters() { return m_layerFilters; }
    QELXDynamicArray<QELCOLLECTION*>& GetCollections() { return m_collections; }
    QELXHashMap<QELGROUP*, bool>* GetLayerAttMap() { return &m_layerAttMap; }

    int GetNumberOfSolids() const { return m_solids.Count(); }
    int GetNumberOfLayers() const { return m_layers.Count(); }
    int GetNumberOfLayerFilters() const { return m_layerFilters.Count(); }
    int GetNumberOfCollections() const { return m_collections.Count(); }
    // Solids, assemblies, layers and layer filters (collections not counted).
    int GetNumberOfEntities() const;
    void* GetSolidAt(int i) const { return Ve_BodyCache::at(m_solids, i); }
    QELGROUP* GetLayerAt(int i) const { return Ve_BodyCache::at(m_layers, i); }
    QELGROUP* GetLayerFilterAt(int i) const { return Ve_BodyCache::at(m_layerFilters, i); }
    QELCOLLECTION* GetCollectionAt(int i) const { return Ve_BodyCache::at(m_collections, i); }

    QELIResult GetSolidEntityList(ENTITY_LIST& list) const;
    QELIResult GetLayerEntityList(ENTITY_LIST& list) const;
    QELIResult GetLayerFilterEntityList(ENTITY_LIST& list) const;
    QELIResult GetLayerVec(QELXDynamicArray<QELGROUP*>& out) const;
    QELIResult GetLayerFilterVec(QELXDynamicArray<QELGROUP*>& out) const;

    // Adding. Null bodies and groups are not added (assemblies and
    // AddCollection keep a null slot).
    bool AddBody(void* body);
    bool appendSolid(Ve_BodyTag* body, bool native);
    // Every entity of the list, in order, as a solid.
    bool appendSolids(const ENTITY_LIST& list);
    bool AddAssembly(void* assembly);
    bool appendAssembly(Ve_AssemblyTag* assembly);
    void AddCollection(QELCOLLECTION* collection);
    bool AppendCollection(QELCOLLECTION* collection);
    bool AddLayer(QELGROUP* layer);
    bool AddLayerFilter(QELGROUP* filter);
    // Layers by number and filters by label, repeats screened out.
    bool AddLayers(const ENTITY_LIST& layers);
    bool AddLayers(const QELXDynamicArray<QELGROUP*>& layers);
    bool AddLayerFilters(const QELXDynamicArray<QELGROUP*>& filters);
    bool AddLayerFilters(const ENTITY_LIST& filters);

    // After an import (document_postprocess.cpp): the optional kernel check
    // of the solids, then the healing stage "ToVelmRepair". Healing follows
    // its switches and heals each body once; a body placed by an assembly
    // is healed on its own, and what it became is written back into the
    // parts that place it and into the solids. Always 0.
    QELIResult PostProcess();
    // Checks every solid with the kernel's checker and reports the summary
    // (a null slot counts as bad). The argument has no effect. Always 0.
    QELIResult Validate(bool);

    // Gathers the framework document's entities (see document_gather.cpp).
    QELIResult GetBRepEntities();

    // Removing and emptying. RemoveBody nulls the body's slot (the indices of
    // the other solids stay); nothing here deletes kernel entities but empty().
    void RemoveBody(Ve_BodyTag* body, bool fromDocument);
    void RemoveBodyAt(int i);
    void ClearBodies(bool fromDocument);
    // Empties both caches and every array but the collections.
    void Clear();
    // Deletes the solids and assemblies from the kernel.
    void empty();
    void ClearLayerAndLayerFilters();
    void ReleaseLayerAndLayerFilters();

    Ve_CocoonTag* createCocoon() const;
    QELXDynamicArray<Ve_BodyTag*> extractSolids(Ve_CocoonTagHandle cocoon) const;
    // One kernel assembly placing the bodies and sub-assemblies; not added to
    // the assemblies. A missing morph counts as the identity.
    Ve_AssemblyTag* createAssembly(const QELXMorph3D& assemblyMorph, QELXDynamicArray<QELXMorph3D> partMorphs,
                                   QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> partBodies,
                                   QELXDynamicArray<QELXMorph3D> formationMorphs,
                                   QELXDynamicArray<Ve_AssemblyTag*> subAssemblies);

    void fixEntityTransform();
    void RemoveCellularTopology();

    // Option tables (document_options.cpp).
    static QELIResult GetRequiredOptions(QELXOptions& options);
    static QELIResult SetRequiredOptionsOfKernel(const QELXOptions& options);
    static QELIResult SetExporterOptions(QELXExportRepresentation* exporter);

    // Fills both caches for the body; a body that has its record keeps it.
    static void FillCache(Ve_BodyTag* body);
    // FillCache for every solid, in order.
    void FillCache();
    // Drops the body's record and its shells' face arrays. Whoever deletes a
    // cached body calls it first, so that a later entity at the same address
    // never reads the old record.
    static void RemoveFromCache(Ve_BodyTag* body);
    static void ClearCaches();

    // The readers' look-ups: null when the body or shell is not cached. A
    // record left behind by an entity deleted behind the caches' back is
    // dropped here instead of being read.
    static const Ve_BodyCache* CachedBody(const Ve_BodyTag* body);
    static const QELXDynamicArray<Ve_FaceTag*>* CachedShellFaces(const Ve_ShellTag* shell);

    static QELXVECacheMap bodyCacheMap;
    static QELXVEShellCacheMap shellCacheMap;

private:
    void GetOriginalKernelOptionsValues();
    void ResetOriginalKernelOptionsValues();
    void SeparateBodiesAndNonBodies(const ENTITY_LIST& entities, ENTITY_LIST& bodies, ENTITY_LIST& layers,
                                    ENTITY_LIST& layerFilters, ENTITY_LIST& coordinateSystems,
                                    ENTITY_LIST& selectionSets);
    bool findGroupByName(const char* name, QELGROUP*& group);
    bool findGroupById(int id, QELGROUP*& group);
    void moveEntitiesFromOneGroupToAnother(QELGROUP* from, QELGROUP* to);
    // A repeat layer: its members join the first layer of that number.
    void mergeRepeatLayer(QELGROUP* group, int number);
    void freeLabels();
    void copyFrom(const Ve_DocumentTag& other);
    void transferHusks(Ve_BodyTag* body);

    QELXDynamicArray<Ve_BodyTag*> m_solids;
    QELXDynamicArray<Ve_AssemblyTag*> m_assemblies;
    QELXDynamicArray<QELGROUP*> m_layers;
    QELXDynamicArray<int> m_layerNumbers;
    QELXDynamicArray<QELGROUP*> m_layerFilters;
    QELXDynamicArray<char*> m_layerFilterLabels;
    QELXHashMap<QELGROUP*, bool> m_layerAttMap;
    QELXDynamicArray<QELCOLLECTION*> m_collections;
    QELXVelmDocument* m_baseDoc = nullptr;
    bool m_preprocessDone = false;
    double m_savedUnits = 0.0;
    int m_savedNewPCurve = 0;
    int m_savedNewPCurveFit = 0;
    // A copy never owns the conversion's process-wide state.
    bool m_isCopy = false;
};
