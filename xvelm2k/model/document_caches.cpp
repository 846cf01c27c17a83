// The document's topology caches, and the part of the document that owns them.
#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"

#include <exception>
#include <memory>

using namespace ve_views;

// The two maps themselves are defined with the other start-up registrations,
// so that they are built and destroyed in the connector's fixed order.

namespace {

// The kernel number of an entity, given one when it has none yet.
int stampOf(const ENTITY* e)
{
    int id = 0;
    if (e)
        assertKernel(api_get_entity_id(e, id), __LINE__);
    return id;
}

// The body's only shell: the kernel lists the body's faces by walking that
// shell's chain (a chain that comes back on itself once round), so the
// record's face array is the shell's, and walking the chain again would read
// every face of a large body a third time.
bool isSoleShell(const BODY* body, const SHELL* shell)
{
    const LUMP* lump = body->lump();
    return lump && !lump->next() && lump->shell() == shell && !shell->next();
}

} // namespace

void Ve_BodyCache::addShell(Ve_ShellTag* shell)
{
    m_shells.Add(shell);
    m_shellStamps.Add(stampOf(reinterpret_cast<const ENTITY*>(shell)));
}

bool Ve_BodyCache::isRecordOf(const Ve_BodyTag* body) const
{
    return body && m_stamp != 0 && reinterpret_cast<const ENTITY*>(body)->entity_id() == m_stamp;
}

bool Ve_BodyCache::holdsShell(const Ve_ShellTag* shell) const
{
    const int id = reinterpret_cast<const ENTITY*>(shell)->entity_id();
    for (int i = 0, n = m_shells.Count(); i < n; ++i)
        if (m_shells[i] == shell)
            return id != 0 && m_shellStamps[i] == id;
    return false;
}

bool Ve_BodyCache::fill(const Ve_BodyTag* body)
{
    if (!body)
        return true;
    const BODY* kernelBody = reinterpret_cast<const BODY*>(body);
    m_stamp = stampOf(kernelBody);
    m_lumps = body->getLumps();
    bool facesListed = false;
    const ENTITY_LIST faces = query(api_get_faces, kernelBody, &facesListed);
    m_faces = collect<Ve_FaceTag>(faces);

    // The ends of the face edges and of the wire edges in the order the two
    // vertex sets are given them; the sets' members are worked out at the end.
    QELXDynamicArray<Ve_VertexTag*> faceEnds;
    QELXDynamicArray<Ve_VertexTag*> wireEnds;
    const auto addEnds = [](QELXDynamicArray<Ve_VertexTag*>& ends, const EDGE* e) {
        for (VERTEX* v : {e->start(), e->end()})
            if (v)
                ends.Add(ve_view<Ve_VertexTag>(v));
    };
    // A face edge is sorted as the kernel lists it, while the walk has the
    // edge, the coedge it came by and that coedge's loop at hand: on a body
    // larger than the processor's caches a second pass would wait on memory
    // for each of them. The other edges, few, wait for the list: telling a
    // lone point asks the kernel again.
    QELXDynamicArray<EDGE*> others;
    std::exception_ptr failed;
    const auto sortEdge = [&](EDGE* e) {
        if (failed)
            return;
        try {
            if (isFaceEdge(e)) {
                m_edges.Add(ve_view<Ve_EdgeTag>(e));
                addEnds(faceEnds, e);
            } else {
                others.Add(e);
            }
        } catch (...) {
            failed = std::current_exception(); // the kernel lets nothing through
        }
    };
    ENTITY_LIST edges;
    const outcome edgesQuery = api_get_edges(kernelBody, edges, sortEdge);
    if (failed)
        std::rethrow_exception(failed);
    const bool edgesListed = edgesQuery.ok();
    if (!edgesListed) {
        m_edges.Clear();
        faceEnds.Clear();
        others.Clear();
    }
    assertKernel(edgesQuery, __LINE__);
    for (EDGE* e : others) {
        if (isPointEdge(e)) {
            m_dotVertices.Add(ve_view<Ve_VertexTag>(e->start()));
        } else {
            m_wireEdges.Add(ve_view<Ve_EdgeTag>(e));
            addEnds(wireEnds, e);
        }
    }
    m_vertices = QELXHashList<Ve_VertexTag*>::MembersAfterAdding(faceEnds.begin(), faceEnds.Count());
    m_wireVertices = QELXHashList<Ve_VertexTag*>::MembersAfterAdding(wireEnds.begin(), wireEnds.Count());
    return facesListed && edgesListed && m_stamp != 0;
}

// ---------------------------------------------------------------------------
// Ve_DocumentTag: the caches

void Ve_DocumentTag::FillCache(Ve_BodyTag* body)
{
    if (CachedBody(body))
        return;
    auto owned = std::make_unique<Ve_BodyCache>();
    // A record short of faces or edges would answer 0 for the whole export:
    // without one the readers ask the kernel each time instead.
    if (!owned->fill(body))
        return;
    Ve_BodyCache* record = owned.get();
    bodyCacheMap.Put(body, record); // the map's from here; a failed Put leaves it ours
    owned.release();
    const BODY* kernelBody = reinterpret_cast<const BODY*>(body);
    for (Ve_LumpTag* lump : record->lumps()) {
        for (Ve_ShellTag* shell : lump->getShells()) {
            // An array already under this address was left by a record that is
            // gone: it shows another shell (the address was freed and reused)
            // or this one as it was. The new record takes the shell as it is.
            const SHELL* kernelShell = reinterpret_cast<const SHELL*>(shell);
            auto faces = std::make_unique<QELXDynamicArray<Ve_FaceTag*>>(
                isSoleShell(kernelBody, kernelShell) ? record->faces()
                                                     : walkList<Ve_FaceTag>(kernelShell->face(), nextOf));
            shellCacheMap.Put(shell, faces.get());
            faces.release();
            record->addShell(shell);
        }
    }
}

void Ve_DocumentTag::FillCache()
{
    for (Ve_BodyTag* body : m_solids)
        FillCache(body);
}

void Ve_DocumentTag::RemoveFromCache(Ve_BodyTag* body)
{
    const Ve_BodyCache* record = bodyCacheMap.Find(body);
    if (!record)
        return;
    for (Ve_ShellTag* shell : record->shells())
        shellCacheMap.Remove(shell);
    bodyCacheMap.Remove(body);
}

const Ve_BodyCache* Ve_DocumentTag::CachedBody(const Ve_BodyTag* body)
{
    auto* key = const_cast<Ve_BodyTag*>(body);
    const Ve_BodyCache* record = bodyCacheMap.Find(key);
    if (!record || record->isRecordOf(body))
        return record;
    RemoveFromCache(key);
    return nullptr;
}

const QELXDynamicArray<Ve_FaceTag*>* Ve_DocumentTag::CachedShellFaces(const Ve_ShellTag* shell)
{
    auto* key = const_cast<Ve_ShellTag*>(shell);
    const QELXDynamicArray<Ve_FaceTag*>* faces = shellCacheMap.Find(key);
    if (!faces)
        return nullptr;
    // A shell's entry is good while its body's record is, and that record
    // cached this very shell.
    const SHELL* kernelShell = reinterpret_cast<const SHELL*>(shell);
    const BODY* owner = kernelShell->lump() ? kernelShell->lump()->body() : nullptr;
    const Ve_BodyCache* record = owner ? CachedBody(ve_view<Ve_BodyTag>(const_cast<BODY*>(owner))) : nullptr;
    if (record && record->holdsShell(shell))
        return faces;
    shellCacheMap.Remove(key);
    return nullptr;
}

void Ve_DocumentTag::ClearCaches()
{
    bodyCacheMap.Empty();
    shellCacheMap.Empty();
}
