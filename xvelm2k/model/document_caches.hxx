#pragma once
// The document's process-wide topology caches: per body, its faces, edges,
// wire edges, vertices, dot vertices, wire vertices and lumps as arrays; per
// shell, its faces. The exporter asks for every count and index many times
// over; a filled cache answers each with one look-up and one array read.
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "xvelm2k/export.hxx"

// The topology of one body as it was when the record was filled.
class XVELM2KA_API Ve_BodyCache {
public:
    Ve_BodyCache() = default;
    Ve_BodyCache(const Ve_BodyCache&) = delete;
    Ve_BodyCache& operator=(const Ve_BodyCache&) = delete;
    ~Ve_BodyCache() = default;

    // False when a kernel query failed: the record is then short.
    bool fill(const Ve_BodyTag* body);

    const QELXDynamicArray<Ve_FaceTag*>& faces() const { return m_faces; }
    const QELXDynamicArray<Ve_EdgeTag*>& edges() const { return m_edges; }
    const QELXDynamicArray<Ve_EdgeTag*>& wireEdges() const { return m_wireEdges; }
    const QELXDynamicArray<Ve_VertexTag*>& vertices() const { return m_vertices; }
    const QELXDynamicArray<Ve_VertexTag*>& dotVertices() const { return m_dotVertices; }
    const QELXDynamicArray<Ve_VertexTag*>& wireVertices() const { return m_wireVertices; }
    const QELXDynamicArray<Ve_LumpTag*>& lumps() const { return m_lumps; }
    // The shells whose face arrays were cached with this record; dropping the
    // record drops them without reading the (possibly changed) kernel body.
    const QELXDynamicArray<Ve_ShellTag*>& shells() const { return m_shells; }
    void addShell(Ve_ShellTag* shell);

    // The kernel numbers of the body and its shells when the record was filled.
    // An entity made later at a freed address has another number, so a record
    // that outlived its body (deleted without RemoveFromCache) is recognised.
    bool isRecordOf(const Ve_BodyTag* body) const;
    bool holdsShell(const Ve_ShellTag* shell) const;

    // Element i, or null outside 0 .. count - 1.
    template <class T>
    static T* at(const QELXDynamicArray<T*>& array, int i)
    {
        return i >= 0 && i < array.Count() ? array[i] : nullptr;
    }

private:
    QELXDynamicArray<Ve_FaceTag*> m_faces;
    QELXDynamicArray<Ve_EdgeTag*> m_edges;
    QELXDynamicArray<Ve_EdgeTag*> m_wireEdges;
    QELXDynamicArray<Ve_VertexTag*> m_vertices;
    QELXDynamicArray<Ve_VertexTag*> m_dotVertices;
    QELXDynamicArray<Ve_VertexTag*> m_wireVertices;
    QELXDynamicArray<Ve_LumpTag*> m_lumps;
    QELXDynamicArray<Ve_ShellTag*> m_shells;
    QELXDynamicArray<int> m_shellStamps;
    int m_stamp = 0;
};

// Pointer-keyed map that owns its values: a value leaves only by being deleted.
template <class K, class V>
class Ve_OwningCacheMap : public QELXHashMap<K*, V*> {
    using Base = QELXHashMap<K*, V*>;

public:
    Ve_OwningCacheMap() = default;
    Ve_OwningCacheMap(const Ve_OwningCacheMap&) = delete;
    Ve_OwningCacheMap& operator=(const Ve_OwningCacheMap&) = delete;
    ~Ve_OwningCacheMap() { Empty(); }

    // The value of the key, or null.
    V* Find(K* key) const
    {
        const int slot = this->FindIndex(key);
        return slot < 0 ? nullptr : this->ValueAt(slot);
    }

    // Adds, or replaces (and deletes) the value of a present key.
    void Put(K* key, V* value)
    {
        const int slot = this->FindIndex(key);
        if (slot < 0) {
            Base::Add(key, value);
            return;
        }
        if (this->ValueAt(slot) != value)
            delete this->ValueAt(slot);
        this->ValueAt(slot) = value;
    }

    // Deletes the key's value and removes the key; false when absent.
    bool Remove(K* key)
    {
        const int slot = this->FindIndex(key);
        if (slot < 0)
            return false;
        delete this->ValueAt(slot);
        this->ValueAt(slot) = nullptr;
        return Base::Remove(key);
    }

    // Every value deleted, then back to 17 empty slots.
    void Empty()
    {
        for (int slot = 0, n = this->Capacity(); slot < n; ++slot) {
            if (this->IsUsed(slot)) {
                delete this->ValueAt(slot);
                this->ValueAt(slot) = nullptr;
            }
        }
        Base::Clear();
        m_cursor = 0;
    }

    void ResetCursor() { m_cursor = 0; }
    // The next used slot's entry, in slot order; false at the end.
    bool Next(K*& key, V*& value)
    {
        const int n = this->Capacity();
        while (m_cursor < n && !this->IsUsed(m_cursor))
            ++m_cursor;
        if (m_cursor >= n)
            return false;
        key = this->KeyAt(m_cursor);
        value = this->ValueAt(m_cursor);
        ++m_cursor;
        return true;
    }

private:
    int m_cursor = 0;
};

class XVELM2KA_API QELXVECacheMap : public Ve_OwningCacheMap<Ve_BodyTag, Ve_BodyCache> {};
class XVELM2KA_API QELXVEShellCacheMap : public Ve_OwningCacheMap<Ve_ShellTag, QELXDynamicArray<Ve_FaceTag*>> {};
