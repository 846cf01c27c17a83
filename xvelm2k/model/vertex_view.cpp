// Vertex view: the neighbourhood of a vertex, gathered by flooding through
// coedge links, and the reduction of its edge references.
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"

using namespace ve_views;

QELXPoint3D Ve_VertexTag::getPoint() const
{
    const APOINT* p = getDef()->geometry();
    return p ? QELXPoint3D(Ve_Pt3(p->coords())) : QELXPoint3D();
}

void Ve_VertexTag::apply(const QELXMorph3D& morph)
{
    APOINT* p = getDef()->geometry();
    if (!p)
        return;
    QELXPoint3D moved = getPoint();
    moved.Transform(morph, false);
    p->set_coords(Ve_Pt3(moved));
}

void Ve_VertexTag::fetchCoedgeGroup(Ve_CoedgeTag* start, QELXHashList<Ve_CoedgeTag*>& set,
                                    QELXDynamicArray<Ve_CoedgeTag*>* order) const
{
    // Depth-first with an explicit stack: a fan of many faces stays off the call stack.
    QELXDynamicArray<Ve_CoedgeTag*> stack;
    if (!set.Add(start))
        return;
    stack.Add(start);
    if (order)
        order->Add(start);
    while (stack.Count() > 0) {
        Ve_CoedgeTag* c = stack[stack.Count() - 1];
        stack.RemoveAt(stack.Count() - 1);
        for (Ve_CoedgeTag* n : {c->getNext(), c->getPrevious(), c->getPartner()}) {
            if (n && (n->startVertex() == this || n->endVertex() == this) && set.Add(n)) {
                stack.Add(n);
                if (order)
                    order->Add(n);
            }
        }
    }
}

void Ve_VertexTag::fetchIncidentCoedgeList(QELXHashList<Ve_CoedgeTag*>& set,
                                           QELXDynamicArray<Ve_CoedgeTag*>* order) const
{
    const VERTEX* v = getDef();
    for (int i = 0; const EDGE* e = v->edge(i); ++i)
        if (COEDGE* c = e->coedge())
            fetchCoedgeGroup(ve_view<Ve_CoedgeTag>(c), set, order);
}

namespace {

// The distinct values of f over the coedges at the vertex, in the order met.
template <class T, class F>
QELXDynamicArray<T*> aroundVertex(const Ve_VertexTag* v, F f)
{
    QELXHashList<Ve_CoedgeTag*> coedges;
    QELXDynamicArray<Ve_CoedgeTag*> met;
    v->fetchIncidentCoedgeList(coedges, &met);
    QELXHashList<T*> found;
    QELXDynamicArray<T*> out;
    for (int i = 0; i < met.Count(); ++i)
        if (T* member = f(met[i]); member && found.Add(member))
            out.Add(member);
    return out;
}

} // namespace

QELXDynamicArray<Ve_EdgeTag*> Ve_VertexTag::getEdges() const
{
    return aroundVertex<Ve_EdgeTag>(this, [](Ve_CoedgeTag* c) { return c->getEdge(); });
}

int Ve_VertexTag::getNumberOfEdges() const
{
    return getEdges().Count();
}

Ve_EdgeTag* Ve_VertexTag::getEdgeAt(int i) const
{
    const QELXDynamicArray<Ve_EdgeTag*> edges = getEdges();
    return i >= 0 && i < edges.Count() ? edges[i] : nullptr;
}

QELXDynamicArray<Ve_FaceTag*> Ve_VertexTag::getFaces() const
{
    return aroundVertex<Ve_FaceTag>(this, [](Ve_CoedgeTag* c) { return c->getFace(); });
}

void Ve_VertexTag::minimizeReferals()
{
    VERTEX* v = getDef();
    ENTITY_LIST gathered;
    for (int i = 0; EDGE* e = v->edge(i); ++i) {
        if (!e->coedge())
            continue;
        QELXHashList<Ve_CoedgeTag*> group;
        fetchCoedgeGroup(ve_view<Ve_CoedgeTag>(e->coedge()), group);
        for (Ve_CoedgeTag* c : membersOf(group)) {
            EDGE* member = reinterpret_cast<EDGE*>(c->getEdge());
            if (!member)
                continue;
            if (member != e)
                v->delete_edge(member);
            gathered.add(member);
        }
    }
    // References the kernel's own walk around the vertex cannot reach go back.
    ENTITY_LIST around;
    velmGuard([&] { sg_q_edges_around_vertex(v, &around); });
    QELXHashList<ENTITY*> reached;
    for (int k = 0, n = around.count(); k < n; ++k)
        if (around[k])
            reached.Add(around[k]);
    for (int k = 0, n = gathered.count(); k < n; ++k) {
        EDGE* x = static_cast<EDGE*>(gathered[k]);
        if (reached.Count() > 0 && reached.Add(x))
            v->add_edge(x);
    }
}
