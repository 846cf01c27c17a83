#pragma once
// Walks shared by the view sources: rings and chains, kernel list queries
// filtered into view arrays, distinct-member gathering and the edge kinds.
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace ve_views {

// Visits first, then step(e) until null or back at first; stops early when
// visit returns false. Chains (null-terminated) and rings walk alike. A ring
// that a faulty routine broke so that it never comes back to its start stops
// after as many steps as there are live kernel objects.
template <class T, class Step, class Visit>
void walk(T* first, Step step, Visit visit)
{
    const long limit = velm_live_object_count() + 1;
    long steps = 0;
    for (T* e = first; e && ++steps <= limit;) {
        if (!visit(e))
            return;
        e = step(e);
        if (e == first)
            return;
    }
}

template <class T, class Step>
int walkCount(T* first, Step step)
{
    int n = 0;
    walk(first, step, [&](T*) { return ++n, true; });
    return n;
}

// Member i of the walk; null for a negative i or one past the end.
template <class View, class T, class Step>
View* walkAt(T* first, Step step, int i)
{
    T* found = nullptr;
    if (i >= 0)
        walk(first, step, [&](T* e) { return i-- == 0 ? (found = e, false) : true; });
    return ve_view<View>(found);
}

template <class View, class T, class Step>
QELXDynamicArray<View*> walkList(T* first, Step step)
{
    QELXDynamicArray<View*> out;
    walk(first, step, [&](T* e) { return out.Add(ve_view<View>(e)), true; });
    return out;
}

inline const auto nextOf = [](auto* e) { return e->next(); };
inline const auto partnerOf = [](COEDGE* c) { return c->partner(); };

using ListQuery = outcome (*)(const ENTITY*, ENTITY_LIST&);

inline void assertKernel(const outcome& result, int line);

// A kernel list query into a fresh list; a failed query leaves it empty and
// is asserted, so an answer short of members never passes unseen (while a
// body is healed it is raised instead). `ok`, when given, says whether the
// query succeeded.
inline ENTITY_LIST query(ListQuery q, const ENTITY* e, bool* ok = nullptr)
{
    ENTITY_LIST list;
    const outcome listed = q(e, list);
    if (!listed.ok())
        list.clear();
    if (ok)
        *ok = listed.ok();
    if (!listed.ok() && FailedViewQueriesRaise::active()) {
        Gk_ErrMgr::checkAbort();
        raiseFailure(listed);
    }
    assertKernel(listed, __LINE__);
    return list;
}

inline constexpr auto keepAll = [](const ENTITY*) { return true; };

template <class View, class Kernel = ENTITY, class Keep = decltype(keepAll)>
QELXDynamicArray<View*> collect(const ENTITY_LIST& list, Keep keep = keepAll)
{
    QELXDynamicArray<View*> out;
    for (int i = 0, n = list.count(); i < n; ++i) {
        auto* e = static_cast<Kernel*>(list[i]);
        if (e && keep(e))
            out.Add(ve_view<View>(e));
    }
    return out;
}

template <class Kernel = ENTITY, class Keep = decltype(keepAll)>
int countOf(const ENTITY_LIST& list, Keep keep = keepAll)
{
    int n = 0;
    for (int i = 0, count = list.count(); i < count; ++i) {
        auto* e = static_cast<Kernel*>(list[i]);
        n += e && keep(e) ? 1 : 0;
    }
    return n;
}

// Member i of the kept entities; null when i is out of range.
template <class View, class Kernel = ENTITY, class Keep = decltype(keepAll)>
View* nthOf(const ENTITY_LIST& list, int i, Keep keep = keepAll)
{
    if (i < 0)
        return nullptr;
    for (int k = 0, count = list.count(); k < count; ++k) {
        auto* e = static_cast<Kernel*>(list[k]);
        if (e && keep(e) && i-- == 0)
            return ve_view<View>(e);
    }
    return nullptr;
}

// The members of a fresh set, by ascending slot.
template <class T>
QELXDynamicArray<T> membersOf(QELXHashList<T>& set)
{
    QELXDynamicArray<T> out;
    T member{};
    while (set.Next(member))
        out.Add(member);
    return out;
}

// An edge on faces: its first coedge exists and lies on no wire.
inline bool isFaceEdge(const EDGE* e)
{
    return e->coedge() && !e->coedge()->wire();
}
inline bool isWireEdge(const EDGE* e)
{
    return !isFaceEdge(e);
}

// A coedge alone in its ring: next and previous are itself or nothing.
inline bool isLoneCoedge(const COEDGE* c)
{
    return (!c->next() || c->next() == c) && (!c->previous() || c->previous() == c);
}

// The connector's form of a lone point: an edge outside faces from a vertex
// back to it, without curve, with a lone coedge.
bool isPointEdge(EDGE* e);

// A lump counts when its first shell has a first face.
inline bool hasFacedShell(const LUMP* l)
{
    return l->shell() && l->shell()->face();
}

// The distinct start and end vertices of the edges, by ascending slot.
QELXDynamicArray<Ve_VertexTag*> distinctVertices(const QELXDynamicArray<Ve_EdgeTag*>& edges);

// The cone of the face when its surface is a true cone (not a cylinder).
inline const cone* trueConeOf(const FACE* face)
{
    const SURFACE* s = face ? face->geometry() : nullptr;
    if (!is_CONE(s) || !s->has_equation())
        return nullptr;
    const cone& c = static_cast<const CONE*>(s)->equation();
    return c.is_cylinder() ? nullptr : &c;
}

// Gk_ErrMgr's report of a failed kernel call, with the view source's name.
// A call that succeeded is not a place to stop: a pending abort thrown here
// would lose what the call made (a copy nobody would ever delete).
inline void assertKernel(const outcome& result, int line)
{
    if (result.ok())
        return;
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_bodytag", line);
}

} // namespace ve_views
