#pragma once
// The connector's document: the working set of one conversion over one
// framework kernel document, and the process-wide topology caches it owns.
#include "model/containers.hxx"
#include "model/document_caches.hxx"
#include "model/entity_views.hxx"
#include "xvelm2k/export.hxx"

class ENTITY_LIST;
class QELXVelmDocument;

class XVELM2KA_API Ve_DocumentTag {
public:
    // Empties both caches: a new conversion starts from nothing cached.
    explicit Ve_DocumentTag(QELXVelmDocument* doc = nullptr);
    Ve_DocumentTag(const Ve_DocumentTag&) = delete;
    Ve_DocumentTag& operator=(const Ve_DocumentTag&) = delete;
    virtual ~Ve_DocumentTag();

    QELXVelmDocument* GetBaseDoc() const { return m_baseDoc; }
    int GetNumberOfSolids() const { return m_solids.Count(); }
    void* GetSolidAt(int i) const { return Ve_BodyCache::at(m_solids, i); }
    // Every entity of the list, in order, as a solid.
    bool appendSolids(const ENTITY_LIST& list);

    // Empties both caches and the solids.
    void Clear();

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
    QELXDynamicArray<Ve_BodyTag*> m_solids;
    QELXVelmDocument* m_baseDoc;
};
