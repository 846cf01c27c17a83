#include "model/memory_init.hxx"
#include "import/import_catalogues.hxx"

#include "import/brep_creator.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"

#include <new>
#include <vector>

namespace {

// Blocks of one size for the catalogues' keys and values: a large model keeps
// millions of each at once, and the C heap's header and rounding would add a
// third to every one. Blocks are carved from chunks of 64 KiB and reused
// through a free list; the chunks go back to the heap as soon as the pool's
// last block is freed, so a catalogue let go of leaves nothing behind. A
// block of another size (a class derived without a pool of its own) and
// every block of a sanitizer build (so that a use after free stays visible)
// is a plain one.
class BlockPool {
public:
    explicit BlockPool(std::size_t size) : m_size(size) {}
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    void* take(std::size_t size)
    {
        if (kPlain || size != m_size)
            return ::operator new(size);
        if (!m_free)
            refill();
        Free* block = m_free;
        m_free = block->next;
        ++m_live;
        return block;
    }

    void give(void* block, std::size_t size)
    {
        if (!block)
            return;
        if (kPlain || size != m_size) {
            ::operator delete(block);
            return;
        }
        auto* freed = static_cast<Free*>(block);
        freed->next = m_free;
        m_free = freed;
        if (--m_live == 0)
            release();
    }

private:
    struct Free {
        Free* next;
    };
#if defined(XVELM_SANITIZE) || defined(__SANITIZE_ADDRESS__)
    static constexpr bool kPlain = true;
#else
    static constexpr bool kPlain = false;
#endif
    static constexpr std::size_t kChunk = 64 * 1024;

    void refill()
    {
        m_chunks.reserve(m_chunks.size() + 1); // before the chunk, so that nothing leaks if it throws
        char* chunk = static_cast<char*>(::operator new(kChunk));
        m_chunks.push_back(chunk);
        // Carved last to first, so that blocks are handed out in address order.
        for (std::size_t at = (kChunk / m_size) * m_size; at >= m_size; at -= m_size) {
            auto* block = reinterpret_cast<Free*>(chunk + at - m_size);
            block->next = m_free;
            m_free = block;
        }
    }

    void release()
    {
        for (char* chunk : m_chunks)
            ::operator delete(chunk);
        m_chunks.clear();
        m_chunks.shrink_to_fit();
        m_free = nullptr;
    }

    std::size_t m_size;
    Free* m_free = nullptr;
    std::size_t m_live = 0;
    std::vector<char*> m_chunks;
};

// Never destroyed: a key or value may be freed by a static's destructor.
BlockPool& keyPool()
{
    static BlockPool* pool = new BlockPool(sizeof(QELXIdentifierKey));
    return *pool;
}

BlockPool& valuePool()
{
    static BlockPool* pool = new BlockPool(sizeof(VelmValue));
    return *pool;
}

} // namespace

void* QELXIdentifierKey::operator new(std::size_t size) { return keyPool().take(size); }
void QELXIdentifierKey::operator delete(void* block, std::size_t size) { keyPool().give(block, size); }
void* VelmValue::operator new(std::size_t size) { return valuePool().take(size); }
void VelmValue::operator delete(void* block, std::size_t size) { valuePool().give(block, size); }

QELXIdentifierForm::QELXIdentifierForm(const QELXIdentifier& identifier)
    : m_type(identifier.GetType()), m_owner(identifier.GetOwner()), m_typeName(identifier.GetTypeName()),
      m_cast(identifier.GetCast())
{
}

QELXIdentifier QELXIdentifierForm::Make(std::uint64_t word) const
{
    return QELXIdentifier(word, m_type.c_str(), m_owner, m_typeName.c_str(), m_cast);
}

bool QELXIdentifierForm::SameAs(const QELXIdentifierForm& other) const
{
    return m_owner == other.m_owner && m_cast.get() == other.m_cast.get() && m_type.equals(other.m_type) &&
           m_typeName.equals(other.m_typeName);
}

QELXIdentifierKey::QELXIdentifierKey(const QELXIdentifier& identifier)
    : m_word(identifier.GetValue()), m_form(new QELXIdentifierForm(identifier))
{
    m_form->RaiseReference();
}

QELXIdentifierKey::~QELXIdentifierKey() { m_form->LowerReference(); }

bool QELXIdentifierKey::IsEqual(const Key* other) const
{
    if (!other)
        return false;
    const auto* key = static_cast<const QELXIdentifierKey*>(other);
    return m_word == key->m_word && (m_form == key->m_form || m_form->GetType().equals(key->m_form->GetType()));
}

std::uint32_t QELXIdentifierKey::GetHashCode() const { return qelxHashInt64(m_word); }

void QELXIdentifierKey::ShareForm(std::vector<QELXIdentifierFormHandle>& forms)
{
    // Newest first: keys come in runs of one kind.
    for (auto it = forms.rbegin(); it != forms.rend(); ++it)
        if (it->get() == m_form || (*it)->SameAs(*m_form)) {
            QELXIdentifierForm* shared = it->get();
            shared->RaiseReference();
            m_form->LowerReference();
            m_form = shared;
            return;
        }
    forms.push_back(QELXIdentifierFormHandle(m_form));
}

QELXCatalogue::PairHandle QELXCatalogue::CreatePair(const KeyHandle& key, const QELXItemHandle& item)
{
    return PairHandle(new Pair(key, item));
}

QELXCatalogue::PairHandle QELXCatalogue::FindOrCreatePair(const KeyHandle& key)
{
    const int slot = m_map.FindIndex(key.get());
    if (slot >= 0)
        return CreatePair(key, QELXItemHandle(m_map.ValueAt(slot)));
    PairHandle pair = NewPair(key);
    if (!pair.get())
        return pair;
    // In the map before Connect runs, so that neighbours reached from this
    // entity find it rather than make it again.
    Key* kept = pair->GetKey().get();
    QELXItem* item = pair->GetItem().get();
    if (kept)
        kept->ShareForm(m_forms);
    if (m_map.Add(kept, item)) {
        if (kept)
            kept->RaiseReference();
        if (item)
            item->RaiseReference();
    }
    pair->Connect();
    return pair;
}

QELXItemHandle QELXCatalogue::FindOrCreateItem(const KeyHandle& key)
{
    const PairHandle pair = FindOrCreatePair(key);
    return pair.get() ? pair->GetItem() : QELXItemHandle();
}

bool QELXCatalogue::Find(const KeyHandle& key, QELXItemHandle& item) const
{
    const int slot = m_map.FindIndex(key.get());
    if (slot < 0)
        return false;
    item = m_map.ValueAt(slot);
    return true;
}

void QELXCatalogue::Clear()
{
    for (int slot = 0, n = m_map.Capacity(); slot < n; ++slot)
        if (m_map.IsUsed(slot)) {
            if (Key* key = m_map.KeyAt(slot))
                key->LowerReference();
            if (QELXItem* item = m_map.ValueAt(slot))
                item->LowerReference();
        }
    m_map.Clear();
    m_forms.clear();
}

QELXDynamicArray<QELXCatalogue::Entry> QELXCatalogue::Entries() const
{
    QELXDynamicArray<Entry> entries;
    for (int slot = 0, n = m_map.Capacity(); slot < n; ++slot)
        if (m_map.IsUsed(slot))
            entries.Add(Entry{KeyHandle(m_map.KeyAt(slot)), QELXItemHandle(m_map.ValueAt(slot))});
    return entries;
}

QELXBRepExporter* QELXVelmEntityCatalogue::GetExporter() const
{
    return m_creator ? m_creator->GetExporter() : nullptr;
}

QELXCatalogue::PairHandle QELXVelmEntityCatalogue::wrap(const KeyHandle& key, ENTITY* entity)
{
    return MakePair(key, QELXItemHandle(new VelmValue(entity)));
}

QELXBRepExporter* QELXVelmEntityPair::GetExporter() const
{
    QELXVelmBRepCreator* creator = GetCreator();
    return creator ? creator->GetExporter() : nullptr;
}

QELXIdentifier QELXVelmEntityPair::source() const { return catalogueSource(GetKey()); }

ENTITY* QELXVelmEntityPair::entity() const { return catalogueEntity(GetItem()); }

// Kernel entities are recorded under the pair's name, so an allocation failure
// can be aimed at one kind. A loop, coedge, edge or vertex the kernel cannot
// allocate raises its out-of-memory error: its neighbours would otherwise
// connect round the gap and the body come out whole but open.
#define XVELM_PAIR_NEW(SOURCE) new (0, SOURCE, __LINE__, nullptr)

QELXCatalogue::PairHandle QELXVelmFaceCatalogue::NewPair(const KeyHandle& key)
{
    // The face catalogue answers even an empty key.
    return wrap(key, XVELM_PAIR_NEW("QELXVelmFacePair") FACE(nullptr, nullptr, nullptr, FORWARD));
}

QELXCatalogue::PairHandle QELXVelmLoopCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(XVELM_PAIR_NEW("QELXVelmLoopPair") LOOP())) : PairHandle();
}

QELXCatalogue::PairHandle QELXVelmCoedgeCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(XVELM_PAIR_NEW("QELXVelmCoedgePair") COEDGE(nullptr, FORWARD))) : PairHandle();
}

QELXCatalogue::PairHandle QELXVelmEdgeCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(XVELM_PAIR_NEW("QELXVelmEdgePair") EDGE())) : PairHandle();
}

QELXCatalogue::PairHandle QELXVelmVertexCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(XVELM_PAIR_NEW("QELXVelmVertexPair") VERTEX(nullptr))) : PairHandle();
}
#undef XVELM_PAIR_NEW
