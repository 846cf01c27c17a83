// Entity views in general and the body view.
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"

using namespace ve_views;

namespace ve_views {

bool isPointEdge(EDGE* e)
{
    if (isFaceEdge(e) || e->start() != e->end() || e->geometry())
        return false;
    const ENTITY_LIST coedges = query(api_get_coedges, e);
    return countOf<COEDGE>(coedges, [](const COEDGE* c) { return isLoneCoedge(c); }) > 0;
}

QELXDynamicArray<Ve_VertexTag*> distinctVertices(const QELXDynamicArray<Ve_EdgeTag*>& edges)
{
    QELXDynamicArray<Ve_VertexTag*> ends;
    for (Ve_EdgeTag* e : edges) {
        for (Ve_VertexTag* v : {e->getStartVertex(), e->getEndVertex()})
            if (v)
                ends.Add(v);
    }
    return QELXHashList<Ve_VertexTag*>::MembersAfterAdding(ends.begin(), ends.Count());
}

} // namespace ve_views

// ---------------------------------------------------------------------------
// Ve_EntityTag

Ve_BodyTag* Ve_EntityTag::getBody() const
{
    for (ENTITY* e = getDef(); e;) {
        if (is_BODY(e))
            return ve_view<Ve_BodyTag>(static_cast<BODY*>(e));
        if (is_LUMP(e)) {
            e = static_cast<LUMP*>(e)->body();
        } else if (is_SHELL(e)) {
            e = static_cast<SHELL*>(e)->lump();
        } else if (is_FACE(e)) {
            e = static_cast<FACE*>(e)->shell();
        } else if (is_LOOP(e)) {
            e = static_cast<LOOP*>(e)->face();
        } else if (is_WIRE(e)) {
            const WIRE* w = static_cast<WIRE*>(e);
            if (w->body()) {
                e = w->body();
            } else {
                // A wire of a shell: only a shell inside a lump of a body counts.
                const SHELL* s = w->shell();
                const LUMP* l = s ? s->lump() : nullptr;
                return l ? ve_view<Ve_BodyTag>(l->body()) : nullptr;
            }
        } else if (is_COEDGE(e)) {
            e = e->owner();
        } else if (is_EDGE(e)) {
            e = static_cast<EDGE*>(e)->coedge();
        } else if (is_VERTEX(e)) {
            e = static_cast<VERTEX*>(e)->edge(0);
        } else {
            return nullptr;
        }
    }
    return nullptr;
}

namespace {

// The kernel box of one entity.
outcome kernelBox(const ENTITY* e, QELposition& low, QELposition& high)
{
    ENTITY_LIST list;
    list.add(const_cast<ENTITY*>(e));
    return velmCall([&] { return api_get_entity_box(list, nullptr, low, high, 0); });
}

} // namespace

QELIResult Ve_EntityTag::GetBoundingBox(QELXBox3D& box) const
{
    QELposition low;
    QELposition high;
    if (const outcome boxed = kernelBox(getDef(), low, high); !boxed.ok()) {
        // Never success with a box nobody filled.
        assertKernel(boxed, __LINE__);
        box.Set(QELXPoint3D(), QELXPoint3D());
        return QELI_FAIL;
    }
    return box.Set(Ve_Pt3(low), Ve_Pt3(high));
}

// ---------------------------------------------------------------------------
// Ve_BodyTag: tests

bool Ve_BodyTag::isSolidBody() const
{
    const LUMP* l = getDef()->lump();
    return l && hasFacedShell(l);
}

bool Ve_BodyTag::isTrimBody() const
{
    const LUMP* l = getDef()->lump();
    return l && hasFacedShell(l) && !l->shell()->face()->next();
}

bool Ve_BodyTag::isWireBody() const
{
    if (getDef()->wire())
        return true;
    bool found = false;
    walk(getDef()->lump(), nextOf, [&](LUMP* l) {
        walk(l->shell(), nextOf, [&](SHELL* s) { return !(found = s->wire() != nullptr); });
        return !found;
    });
    return found;
}

bool Ve_BodyTag::isVertexBody() const
{
    if (!isWireBody())
        return false;
    const ENTITY_LIST coedges = query(api_get_coedges, getDef());
    return countOf<COEDGE>(coedges, [](const COEDGE* c) {
               const EDGE* e = c->edge();
               return isLoneCoedge(c) && e && e->start() == e->end() && !e->geometry();
           }) > 0;
}

Ve_BodyTag::NonManifoldType Ve_BodyTag::isNonManifold() const
{
    int groups = 0;
    ENTITY_LIST* solids = nullptr;
    ENTITY_LIST* sheets = nullptr;
    ENTITY_LIST* laminas = nullptr;
    ENTITY_LIST* wires = nullptr;
    ENTITY_LIST edges;
    ENTITY_LIST vertices;
    outcome result(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    velmGuard([&] { result = api_manifold_class(getDef(), groups, solids, sheets, laminas, edges, vertices, wires); });
    for (ENTITY_LIST* handedBack : {solids, sheets, laminas, wires})
        delete[] handedBack;
    if (!result.ok())
        return Manifold;
    const bool badEdges = edges.iteration_count() > 0;
    const bool badVertices = vertices.iteration_count() > 0;
    if (badEdges && badVertices)
        return NonManifoldBoth;
    if (badEdges)
        return NonManifoldEdges;
    return badVertices ? NonManifoldVertices : Manifold;
}

// ---------------------------------------------------------------------------
// Ve_BodyTag: edits

// The kernel's results are not the caller's to see, but a failed step must
// not leave the body half moved: both steps share one frame, rolled back as
// a whole, and the failure is asserted.
void Ve_BodyTag::applyTrans()
{
    assertKernel(velmCall([&] { return api_change_body_trans(getDef(), nullptr, false); }), __LINE__);
}

void Ve_BodyTag::apply(const QELXMorph3D& morph)
{
    const QELtransf t = Ve_Morph(morph);
    assertKernel(velmCall([&] {
                     outcome moved = api_apply_transf(getDef(), t);
                     return moved.ok() ? api_change_body_trans(getDef(), nullptr, false) : moved;
                 }),
                 __LINE__);
}

QELIResult Ve_BodyTag::GetBoundingBox(QELXBox3D& box) const
{
    box.Set(QELXPoint3D(), QELXPoint3D());
    QELposition low;
    QELposition high;
    if (!kernelBox(getDef(), low, high).ok())
        return QELI_FAIL;
    return box.Set(Ve_Pt3(low), Ve_Pt3(high));
}

Ve_BodyTag* Ve_BodyTag::Copy() const
{
    BODY* copy = nullptr;
    assertKernel(velmCall([&] { return api_copy_body(getDef(), copy); }), __LINE__);
    return ve_view<Ve_BodyTag>(copy);
}

void Ve_BodyTag::release()
{
    Ve_DocumentTag::RemoveFromCache(this);
    assertKernel(velmCall([&] { return api_del_entity(getDef()); }), __LINE__);
}

// ---------------------------------------------------------------------------
// Ve_BodyTag: lists

QELXDynamicArray<Ve_FaceTag*> Ve_BodyTag::getFaces() const
{
    return collect<Ve_FaceTag>(query(api_get_faces, getDef()));
}

QELXDynamicArray<Ve_EdgeTag*> Ve_BodyTag::getEdges() const
{
    return collect<Ve_EdgeTag, EDGE>(query(api_get_edges, getDef()), isFaceEdge);
}

QELXDynamicArray<Ve_EdgeTag*> Ve_BodyTag::getWireEdges() const
{
    return collect<Ve_EdgeTag, EDGE>(query(api_get_edges, getDef()), isWireEdge);
}

QELXDynamicArray<Ve_LumpTag*> Ve_BodyTag::getLumps() const
{
    QELXDynamicArray<Ve_LumpTag*> out;
    walk(getDef()->lump(), nextOf, [&](LUMP* l) {
        if (hasFacedShell(l))
            out.Add(ve_view<Ve_LumpTag>(l));
        return true;
    });
    return out;
}

QELXDynamicArray<Ve_VertexTag*> Ve_BodyTag::getVertices() const
{
    return distinctVertices(getEdges());
}

QELXDynamicArray<Ve_VertexTag*> Ve_BodyTag::getWireVertices() const
{
    return distinctVertices(getWireEdges());
}

QELXDynamicArray<Ve_VertexTag*> Ve_BodyTag::getDotVertices() const
{
    QELXDynamicArray<Ve_VertexTag*> out;
    if (!isVertexBody())
        return out;
    // The kernel's own first wire edge: a cached record keeps point edges out
    // of its wire edges, so the cached answer would have none.
    const ENTITY_LIST edges = query(api_get_edges, getDef());
    if (const Ve_EdgeTag* first = nthOf<Ve_EdgeTag, EDGE>(edges, 0, isWireEdge))
        if (Ve_VertexTag* v = first->getStartVertex())
            out.Add(v);
    return out;
}

// ---------------------------------------------------------------------------
// Ve_BodyTag: counts and at-index access, cache first

namespace {

const Ve_BodyCache* recordOf(const Ve_BodyTag* body)
{
    return Ve_DocumentTag::CachedBody(body);
}

} // namespace

int Ve_BodyTag::getNumberOfFaces() const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return r->faces().Count();
    return countOf(query(api_get_faces, getDef()));
}

Ve_FaceTag* Ve_BodyTag::getFaceAt(int i) const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return Ve_BodyCache::at(r->faces(), i);
    return nthOf<Ve_FaceTag>(query(api_get_faces, getDef()), i);
}

int Ve_BodyTag::getNumberOfEdges() const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return r->edges().Count();
    return countOf<EDGE>(query(api_get_edges, getDef()), isFaceEdge);
}

Ve_EdgeTag* Ve_BodyTag::getEdgeAt(int i) const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return Ve_BodyCache::at(r->edges(), i);
    return nthOf<Ve_EdgeTag, EDGE>(query(api_get_edges, getDef()), i, isFaceEdge);
}

int Ve_BodyTag::getNumberOfWireEdges() const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return r->wireEdges().Count();
    return countOf<EDGE>(query(api_get_edges, getDef()), isWireEdge);
}

Ve_EdgeTag* Ve_BodyTag::getWireEdgeAt(int i) const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return Ve_BodyCache::at(r->wireEdges(), i);
    return nthOf<Ve_EdgeTag, EDGE>(query(api_get_edges, getDef()), i, isWireEdge);
}

int Ve_BodyTag::getNumberOfLumps() const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return r->lumps().Count();
    int n = 0;
    walk(getDef()->lump(), nextOf, [&](LUMP* l) { return n += hasFacedShell(l) ? 1 : 0, true; });
    return n;
}

Ve_LumpTag* Ve_BodyTag::getLumpAt(int i) const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return Ve_BodyCache::at(r->lumps(), i);
    const QELXDynamicArray<Ve_LumpTag*> lumps = getLumps();
    return Ve_BodyCache::at(lumps, i);
}

int Ve_BodyTag::getNumberOfDotVertices() const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return r->dotVertices().Count();
    return getDotVertices().Count();
}

Ve_VertexTag* Ve_BodyTag::getDotVertexAt(int i) const
{
    if (const Ve_BodyCache* r = recordOf(this))
        return Ve_BodyCache::at(r->dotVertices(), i);
    const QELXDynamicArray<Ve_VertexTag*> dots = getDotVertices();
    return Ve_BodyCache::at(dots, i);
}
