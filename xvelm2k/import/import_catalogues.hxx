#pragma once
// Import catalogues: each source entity, known by the identifier its exporter
// hands out, yields exactly one kernel entity. The first lookup of an
// identifier makes the kernel entity and links it to its neighbours (the
// pair's Connect, which can build further entries depth first); every later
// lookup returns the same entity.
#include "model/containers.hxx"
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_refcount.hxx"
#include "xvelm2k/export.hxx"

#include <cstddef>
#include <cstdint>
#include <vector>

class EDGE;
class ENTITY;
class QELXGeometryExporter;
class QELXBRepExporter;
class QELXVelmBRepCreator;

class QELXIdentifierForm;
using QELXIdentifierFormHandle = QELXTypedHandle<QELXIdentifierForm>;

class XVELM2KA_API Key : public QELXReferenceCount {
public:
    virtual bool IsEqual(const Key* other) const = 0;
    virtual std::uint32_t GetHashCode() const { return 0xFFFFFFFFu; }
    // Not used by the catalogues.
    virtual int GetKeyKind() const { return 0; }
    // A key a catalogue keeps may trade what it holds for an equal part among
    // `forms` (or add its own there), so that the keys kept share it.
    virtual void ShareForm(std::vector<QELXIdentifierFormHandle>& /*forms*/) {}
    const char* GetName() const override { return "Key"; }
};
using KeyHandle = QELXTypedHandle<Key>;

// The catalogue map hashes and compares through the stored keys.
template <>
struct QELXHashTraits<Key*> {
    static std::uint32_t Hash(const Key* key) { return key ? key->GetHashCode() : 0xFFFFFFFFu; }
    static bool Equal(const Key* a, const Key* b) { return a && b && a->IsEqual(b); }
};

// What the identifiers of one kind from one exporter have alike: their type
// text, owner, type name and cast. A catalogue keeps each it meets once, so an
// entry holds its word and this, not two texts of its own.
class XVELM2KA_API QELXIdentifierForm : public QELXReferenceCount {
public:
    explicit QELXIdentifierForm(const QELXIdentifier& identifier);
    // The identifier of that word in this form.
    QELXIdentifier Make(std::uint64_t word) const;
    bool SameAs(const QELXIdentifierForm& other) const;
    const QELXString& GetType() const { return m_type; }
    const char* GetName() const override { return "QELXIdentifierForm"; }

private:
    QELXString m_type;
    QELXRepresentation* m_owner;
    QELXString m_typeName;
    QELXIdentifierCastHandle m_cast;
};

class XVELM2KA_API QELXIdentifierKey : public Key {
public:
    explicit QELXIdentifierKey(const QELXIdentifier& identifier);
    ~QELXIdentifierKey() override;
    QELXIdentifierKey(const QELXIdentifierKey&) = delete;
    QELXIdentifierKey& operator=(const QELXIdentifierKey&) = delete;
    // Keys and values come from pools of their own (import_catalogues.cpp).
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size);
    // The other key is taken to be an identifier key: equal for the same word
    // and type text.
    bool IsEqual(const Key* other) const override;
    // The identifier mix over the 64-bit entity value.
    std::uint32_t GetHashCode() const override;
    void ShareForm(std::vector<QELXIdentifierFormHandle>& forms) override;
    QELXIdentifier GetIdentifier() const { return m_form->Make(m_word); }
    std::uint64_t GetWord() const { return m_word; }
    const QELXIdentifierForm* GetForm() const { return m_form; }
    const char* GetName() const override { return "QELXIdentifierKey"; }

private:
    std::uint64_t m_word;
    // One reference held (a plain pointer, half a handle's size: a catalogue
    // keeps a key for every source entity).
    QELXIdentifierForm* m_form;
};

class XVELM2KA_API QELXItem : public QELXReferenceCount {
public:
    virtual int GetItemKind() const { return 0; }
    virtual void Touch() {}
    const char* GetName() const override { return "QELXItem"; }
};
using QELXItemHandle = QELXTypedHandle<QELXItem>;

// A kernel entity made for a source entity; not owned (the kernel owns it).
class XVELM2KA_API VelmValue : public QELXItem {
public:
    explicit VelmValue(ENTITY* entity) : m_entity(entity) {}
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size);
    ENTITY* GetEntity() const { return m_entity; }
    // The creator forgets an entity it deleted, so no lookup hands it out.
    void Forget() { m_entity = nullptr; }
    const char* GetName() const override { return "VelmValue"; }

private:
    ENTITY* m_entity;
};

class XVELM2KA_API QELXCatalogue {
public:
    class XVELM2KA_API Pair : public QELXReferenceCount {
    public:
        Pair(const KeyHandle& key, const QELXItemHandle& item) : m_key(key), m_item(item) {}
        // Links the pair's kernel entity to its neighbours.
        virtual void Connect() {}
        // Gives the kernel entity its geometry.
        virtual void Create() {}
        const KeyHandle& GetKey() const { return m_key; }
        const QELXItemHandle& GetItem() const { return m_item; }
        const char* GetName() const override { return "QELXCatalogue::Pair"; }

    private:
        KeyHandle m_key;
        QELXItemHandle m_item;
    };
    using PairHandle = QELXTypedHandle<Pair>;

    QELXCatalogue() = default;
    QELXCatalogue(const QELXCatalogue&) = delete;
    QELXCatalogue& operator=(const QELXCatalogue&) = delete;
    virtual ~QELXCatalogue() { Clear(); }

    virtual PairHandle CreatePair(const KeyHandle& key, const QELXItemHandle& item);
    // A new pair of the kind with a new, empty kernel entity.
    virtual PairHandle NewPair(const KeyHandle& key) = 0;

    PairHandle FindOrCreatePair(const KeyHandle& key);
    QELXItemHandle FindOrCreateItem(const KeyHandle& key);
    bool Find(const KeyHandle& key, QELXItemHandle& item) const;

    // Entries in slot order (a copy, so that a walk may look further entries up).
    struct Entry {
        KeyHandle key;
        QELXItemHandle item;
    };
    QELXDynamicArray<Entry> Entries() const;
    // fn(key, item) for every entry in slot order, without copying the
    // entries; for walks that add nothing to this catalogue (an addition may
    // regrow the map under the walk).
    template <class Fn>
    void ForEachEntry(Fn&& fn) const
    {
        for (int slot = 0, n = m_map.Capacity(); slot < n; ++slot)
            if (m_map.IsUsed(slot))
                fn(KeyHandle(m_map.KeyAt(slot)), QELXItemHandle(m_map.ValueAt(slot)));
    }
    int Count() const { return m_map.Count(); }
    int Capacity() const { return m_map.Capacity(); }
    // Forgets every entry (the kernel entities stay the kernel's).
    void Clear();

private:
    // Each slot holds one reference to its key and its item: plain pointers
    // rather than handles, which would double the slots of a catalogue that
    // holds an entry for every source coedge.
    QELXHashMap<Key*, QELXItem*> m_map;
    // The identifier forms the kept keys share.
    std::vector<QELXIdentifierFormHandle> m_forms;
};

// A catalogue key over a source identifier, and the two halves of a stored entry.
inline KeyHandle catalogueKey(const QELXIdentifier& identifier)
{
    return KeyHandle(new QELXIdentifierKey(identifier));
}
inline ENTITY* catalogueEntity(const QELXItemHandle& item)
{
    const auto* value = static_cast<const VelmValue*>(item.get());
    return value ? value->GetEntity() : nullptr;
}
inline QELXIdentifier catalogueSource(const KeyHandle& key)
{
    const auto* k = static_cast<const QELXIdentifierKey*>(key.get());
    return k ? k->GetIdentifier() : QELXIdentifier();
}

class XVELM2KA_API QELXVelmEntityCatalogue : public QELXCatalogue {
public:
    explicit QELXVelmEntityCatalogue(QELXVelmBRepCreator* creator) : m_creator(creator) {}
    ~QELXVelmEntityCatalogue() override { m_creator = nullptr; }
    void SetCreator(QELXVelmBRepCreator* creator) { m_creator = creator; }
    QELXVelmBRepCreator* GetCreator() const { return m_creator; }
    QELXBRepExporter* GetExporter() const;

    // A pair of the catalogue's own class over a stored entry, to run its Create.
    virtual PairHandle MakePair(const KeyHandle& key, const QELXItemHandle& item) = 0;

protected:
    // A new VelmValue over the entity in a pair of the catalogue's class; the
    // pair exists even when the kernel allocation gave a null entity.
    PairHandle wrap(const KeyHandle& key, ENTITY* entity);

private:
    QELXVelmBRepCreator* m_creator;
};

class XVELM2KA_API QELXVelmEntityPair : public QELXCatalogue::Pair {
public:
    QELXVelmEntityPair(const KeyHandle& key, const QELXItemHandle& item, QELXVelmEntityCatalogue* catalogue)
        : Pair(key, item), m_catalogue(catalogue) {}
    ~QELXVelmEntityPair() override { m_catalogue = nullptr; }
    QELXVelmBRepCreator* GetCreator() const { return m_catalogue ? m_catalogue->GetCreator() : nullptr; }
    QELXBRepExporter* GetExporter() const;

protected:
    // The pair's source identifier and kernel entity.
    QELXIdentifier source() const;
    ENTITY* entity() const;

    // What every step of a pair starts from: its creator, the creator's source
    // exporter and the pair's kernel entity. The entity is null unless all
    // three are there, and a step given a null entity does nothing.
    // The source edge's curve put on the edge: by the default geometry
    // importer when that switch is on (NotRead when the source answers no
    // curve), else by the connector's curve importer, which also gives a
    // closed edge without vertices one vertex and the edge its source range.
    // The edge's start and end: the creator's vertices for the source edge's
    // end vertices (null where the source gives none).
    void connectEdgeVertices(EDGE* edge);
    enum class EdgeCurveRoad { NotRead, DefaultImporter, CurveImporter };
    EdgeCurveRoad importEdgeCurve(EDGE* edge, QELXGeometryExporter* geometry);

    template <class T>
    struct Parts {
        QELXVelmBRepCreator* creator;
        QELXBRepExporter* exporter;
        T* entity;
    };
    template <class T>
    Parts<T> parts() const
    {
        QELXVelmBRepCreator* creator = GetCreator();
        QELXBRepExporter* exporter = GetExporter();
        return Parts<T>{creator, exporter, creator && exporter ? static_cast<T*>(entity()) : nullptr};
    }

private:
    QELXVelmEntityCatalogue* m_catalogue;
};

// Per-kind pairs (their steps live with the topology creator).
class XVELM2KA_API QELXVelmFacePair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;
    virtual void FixOrientation();
};
class XVELM2KA_API QELXVelmLoopPair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;
};
class XVELM2KA_API QELXVelmCoedgePair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;
};
class XVELM2KA_API QELXVelmEdgePair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;

private:
    // An intcurve the default importer made, rebuilt over the edge with the
    // surfaces and pcurves of its two faces.
    void rebuildIntcurve(EDGE* edge);
};
class XVELM2KA_API QELXVelmVertexPair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
};

// Pairs of the wire body creator: a wire edge gets its end vertices, curve and
// one coedge; a wire vertex its point, and then links the coedges of the wire
// edges that meet at it into the chains the creator's wires are made of.
class XVELM2KA_API QELXVelmWEdgePair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;
};
class XVELM2KA_API QELXVelmWVertexPair : public QELXVelmEntityPair {
public:
    using QELXVelmEntityPair::QELXVelmEntityPair;
    void Connect() override;
    void Create() override;
    // Every wire edge its own wire: the vertex lists each edge, and each
    // coedge is a chain of its own.
    void LinkSingleEdges();
};

#define XVELM_ENTITY_CATALOGUE(CATALOGUE, PAIR)                                                   \
    class XVELM2KA_API CATALOGUE : public QELXVelmEntityCatalogue {                               \
    public:                                                                                       \
        using QELXVelmEntityCatalogue::QELXVelmEntityCatalogue;                                   \
        PairHandle NewPair(const KeyHandle& key) override;                                        \
        PairHandle MakePair(const KeyHandle& key, const QELXItemHandle& item) override            \
        {                                                                                         \
            return PairHandle(new PAIR(key, item, this));                                         \
        }                                                                                         \
    };
XVELM_ENTITY_CATALOGUE(QELXVelmFaceCatalogue, QELXVelmFacePair)
XVELM_ENTITY_CATALOGUE(QELXVelmLoopCatalogue, QELXVelmLoopPair)
XVELM_ENTITY_CATALOGUE(QELXVelmCoedgeCatalogue, QELXVelmCoedgePair)
XVELM_ENTITY_CATALOGUE(QELXVelmEdgeCatalogue, QELXVelmEdgePair)
XVELM_ENTITY_CATALOGUE(QELXVelmVertexCatalogue, QELXVelmVertexPair)
XVELM_ENTITY_CATALOGUE(QELXVelmWEdgeCatalogue, QELXVelmWEdgePair)
XVELM_ENTITY_CATALOGUE(QELXVelmWVertexCatalogue, QELXVelmWVertexPair)
#undef XVELM_ENTITY_CATALOGUE
