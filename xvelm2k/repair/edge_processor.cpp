// Edge groups, vertex replacement and edge removal.
#include "repair/edge_processor.hxx"

#include <unordered_set>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_math.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/small_edges_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

// Edges and vertices the two faces have in common.
void commonEdgesAndVertices(FACE* first, FACE* second, ENTITY_LIST& edges, ENTITY_LIST& vertices)
{
    if (!first || !second)
        return;
    ENTITY_LIST e1, e2, v1, v2;
    api_get_edges(first, e1);
    api_get_edges(second, e2);
    api_get_vertices(first, v1);
    api_get_vertices(second, v2);
    for (int i = 0; i < e1.count(); ++i)
        if (e2.contains(e1[i]))
            edges.add(e1[i]);
    for (int i = 0; i < v1.count(); ++i)
        if (v2.contains(v1[i]))
            vertices.add(v1[i]);
}

// Takes the coedge out of its loop's (or wire's) ring and deletes it. True
// when the loop was left without coedges.
bool unlinkCoedge(COEDGE* c)
{
    COEDGE* next = c->next() == c ? nullptr : c->next();
    COEDGE* previous = c->previous() == c ? nullptr : c->previous();
    bool emptied = false;
    if (LOOP* loop = c->loop()) {
        if (loop->start() == c) {
            loop->set_start(next);
            emptied = !next;
        }
    } else if (WIRE* wire = c->wire(); wire && wire->coedge() == c) {
        wire->set_coedge(next ? next : previous);
    }
    if (previous)
        previous->set_next(next);
    if (next)
        next->set_previous(previous);
    c->lose();
    return emptied;
}

} // namespace

namespace ve_repair {

std::vector<EDGE*> edgesAround(VERTEX* v)
{
    ENTITY_LIST edges;
    sg_q_edges_around_vertex(v, &edges);
    return listed<EDGE>(edges);
}

void unlinkEdgeCoedges(EDGE* edge)
{
    const std::vector<COEDGE*> ring = edge_coedges(edge);
    edge->set_coedge(nullptr);
    for (COEDGE* c : ring) {
        LOOP* loop = c->loop();
        if (!unlinkCoedge(c) || !loop)
            continue;
        FACE* face = loop->face();
        const bool onlyLoop = face && face->loop() == loop && !loop->next();
        remove_loop(loop);
        if (onlyLoop)
            kf(face, 1);
    }
}

} // namespace ve_repair

bool Ve_EdgeProcessor::sameEdgeGroup(VERTEX* vertex, EDGE* first, EDGE* second)
{
    if (!vertex || !first || !second || !first->coedge() || !second->coedge())
        return false;
    const COEDGE* target = second->coedge();
    std::vector<const COEDGE*> work{first->coedge()};
    std::unordered_set<const COEDGE*> seen{first->coedge()};
    auto append = [&](const COEDGE* c) {
        if (c && seen.insert(c).second)
            work.push_back(c);
    };
    for (std::size_t i = 0; i < work.size(); ++i) {
        const COEDGE* c = work[i];
        if (c == target)
            return true;
        append(c->partner());
        if (c->start() == vertex)
            append(c->previous());
        if (c->end() == vertex)
            append(c->next());
    }
    return false;
}

bool Ve_EdgeProcessor::removeEdgeGroup(VERTEX* vertex, EDGE* edge)
{
    if (!vertex || !edge)
        return false;
    for (int i = 0; EDGE* r = vertex->edge(i); ++i)
        if (sameEdgeGroup(vertex, edge, r)) {
            vertex->delete_edge(r);
            return true;
        }
    return false;
}

void Ve_EdgeProcessor::replaceVertex(VERTEX* oldVertex, VERTEX* newVertex, EDGE* edge, bool* singleContact)
{
    if (!oldVertex || !newVertex || oldVertex == newVertex)
        return;
    ENTITY_LIST faces;
    if (edge)
        api_get_faces(edge, faces);
    const std::vector<EDGE*> around = ve_repair::edgesAround(oldVertex);
    if (edge)
        removeEdgeGroup(oldVertex, edge);
    merge_attrib(newVertex, oldVertex);
    for (EDGE* e : around) {
        if (e->start() == oldVertex)
            e->set_start(newVertex);
        if (e->end() == oldVertex)
            e->set_end(newVertex);
    }
    for (int i = 0; EDGE* r = oldVertex->edge(i); ++i) {
        if (r == edge)
            break;
        newVertex->add_edge(r);
    }
    if (singleContact && faces.count() == 2) {
        ENTITY_LIST commonEdges, commonVertices;
        commonEdgesAndVertices(static_cast<FACE*>(faces[0]), static_cast<FACE*>(faces[1]), commonEdges,
                               commonVertices);
        *singleContact = (commonEdges.count() == 0 && commonVertices.count() == 1) ||
                         (commonEdges.count() == 1 && commonVertices.count() == 1 && commonEdges[0] == edge &&
                          commonVertices[0] == newVertex);
    }
    oldVertex->set_edge(nullptr);
    oldVertex->lose();
}

Ve_VertexTag* Ve_EdgeProcessor::removeEdge(Ve_EdgeTag* edgeTag, bool updateTolerances)
{
    if (!edgeTag)
        return nullptr;
    EDGE* edge = reinterpret_cast<EDGE*>(edgeTag);
    VERTEX* start = edge->start();
    VERTEX* end = edge->end();
    VERTEX* survivor = start;
    if (start && end && start != end) {
        if (end->get_tolerance() <= start->get_tolerance()) {
            replaceVertex(end, start, edge, nullptr);
        } else {
            replaceVertex(start, end, edge, nullptr);
            survivor = end;
        }
    } else if (!survivor) {
        survivor = end;
    }
    COEDGE* first = edge->coedge();
    if (survivor) {
        ENTITY_LIST around;
        sg_q_edges_around_vertex(survivor, &around);
        for (int i = 0; EDGE* r = survivor->edge(i); ++i) {
            if (r != edge && !sameEdgeGroup(survivor, edge, r))
                continue;
            survivor->delete_edge(r);
            // The group keeps a reference through another of its edges, when it has one.
            EDGE* replacement = first && first->next() ? first->next()->edge() : nullptr;
            for (int k = 0; (!replacement || replacement == edge) && k < around.count(); ++k)
                replacement = static_cast<EDGE*>(around[k]);
            if (replacement && replacement != edge)
                survivor->add_edge(replacement);
            break;
        }
    }
    // Every coedge leaves its ring; a loop left empty goes, and its face with
    // it when that was the face's only loop.
    ve_repair::unlinkEdgeCoedges(edge);
    if (survivor && updateTolerances) {
        if (is_TVERTEX(survivor))
            static_cast<TVERTEX*>(survivor)->set_update(1);
        const QELXDynamicArray<Ve_EdgeTag*> edges = ve_view<Ve_VertexTag>(survivor)->getEdges();
        // An edge that cannot be made to cover its curve fails the removal
        // whole, rather than leave it off its faces.
        for (int i = 0; i < edges.Count(); ++i)
            if (reinterpret_cast<EDGE*>(edges[i]) != edge)
                ve_repair::tolerateOrUndo(reinterpret_cast<EDGE*>(edges[i]), true);
    }
    for (VERTEX* v : {edge->start(), edge->end()})
        if (v && !v->is_lost())
            v->delete_edge(edge);
    edge->lose();
    // A vertex whose only edge went (a closed edge alone in its loop) would
    // be left to nothing that owns it.
    if (survivor && !survivor->edge(0)) {
        survivor->lose();
        survivor = nullptr;
    }
    return ve_view<Ve_VertexTag>(survivor);
}

bool Ve_EdgeProcessor::isEdgeCurveDegenerate(Ve_EdgeTag* edgeTag, double tolerance)
{
    if (!edgeTag)
        return false;
    const EDGE* edge = reinterpret_cast<EDGE*>(edgeTag);
    if (const intcurve* ic = ve_repair::intcurveOf(edge)) {
        int n = 0;
        QELposition* points = nullptr;
        const int kept = velmGuard([&] { bs3_curve_control_points(ic->cur(), n, points); });
        bool together = kept == 0 && n > 0;
        for (int i = 1; together && i < n; ++i)
            together = distance(points[i - 1], points[i]) <= Gk_Def::FuzzPos;
        delete[] points;
        if (together)
            return true;
    }
    // The two chords through the middle of the curve are no longer than it:
    // when they pass twice the tolerance, the length need not be summed.
    double chords = 0.0;
    if (velmGuard([&] {
            const CURVE* cu = edge->geometry();
            if (!cu || !cu->has_equation())
                return;
            const QELinterval r = edge->param_range();
            const QELinterval on = edge->sense() == FORWARD ? r : -r;
            const QELposition a = cu->curve_point(on.start_pt());
            const QELposition m = cu->curve_point(on.mid_pt());
            const QELposition b = cu->curve_point(on.end_pt());
            chords = distance(a, m) + distance(m, b);
        }) == 0 &&
        chords > 2.0 * tolerance)
        return false;
    double length = 0.0;
    if (velmGuard([&] { length = edge->length(true); }) != 0)
        return false;
    return Gk_Func::equal(length, 0.0, tolerance);
}
