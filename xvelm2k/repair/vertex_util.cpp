// Edge groups at a vertex, redundant vertices and duplicate vertices merged
// by replacement.
#include "repair/vertex_util.hxx"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "repair/edge_processor.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/small_edges_internal.hxx"
#include "repair/vertex_util_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kStraightType = 1;
constexpr int kEllipse = 2;

const curve* vertexEdgeCurve(const EDGE* e)
{
    const CURVE* c = e ? e->geometry() : nullptr;
    return c && c->has_equation() ? &c->equation() : nullptr;
}

// Position, and first and second derivative along the edge's direction, at
// the curve's foot of the point.
bool alongEdge(const EDGE* e, const QELposition& p, QELvector& d1, QELvector& d2)
{
    const curve* c = vertexEdgeCurve(e);
    if (!c)
        return false;
    return velmGuard([&] {
               const double t = c->param(p);
               QELposition at;
               c->eval(t, at, &d1, &d2);
               if (e->sense() == REVERSED)
                   d1 = -d1;
           }) == 0;
}

bool carriesLayerOrAlias(EDGE* e)
{
    return Ve_AttribTransfer::IsAttribPresent(e, "ATTRIB_XVELM_ALIAS") ||
           Ve_AttribTransfer::IsAttribPresent(e, "ATTRIB_XVELM_LAYER");
}

double edgeLength(const EDGE* e)
{
    double l = 0.0;
    velmGuard([&] { l = e->length(true); });
    return l;
}

// The parameter of the point on the edge's curve, in the edge's own direction.
double edgeParam(const EDGE* e, const QELposition& p)
{
    const double t = vertexEdgeCurve(e)->param(p);
    return e->sense() == REVERSED ? -t : t;
}

} // namespace

namespace ve_repair {

double vertexTolerance(const VERTEX* v)
{
    return v && is_TVERTEX(v) ? v->get_tolerance() : QELresabs;
}

bool shellsOrBody(BODY* body, std::vector<ENTITY*>& roots)
{
    ENTITY_LIST shells;
    roots.clear();
    if (!api_get_shells(body, shells).ok())
        return false;
    for (int i = 0; i < shells.count(); ++i)
        roots.push_back(shells[i]);
    if (roots.empty())
        roots.push_back(body);
    return true;
}

} // namespace ve_repair

bool Ve_VertexUtil::sameEdgeGroup(VERTEX* vertex, EDGE* first, EDGE* second) const
{
    return Ve_EdgeProcessor::sameEdgeGroup(vertex, first, second);
}

bool Ve_VertexUtil::removeEdgeGroup(VERTEX* vertex, EDGE* edge) const
{
    return Ve_EdgeProcessor::removeEdgeGroup(vertex, edge);
}

void Ve_VertexUtil::loops_around_vertex(VERTEX* vertex, ENTITY_LIST* loops) const
{
    if (!vertex || !loops)
        return;
    ENTITY_LIST coedges;
    sg_q_coedges_around_vertex(vertex, &coedges);
    for (int i = 0; i < coedges.count(); ++i)
        if (LOOP* l = static_cast<COEDGE*>(coedges[i])->loop())
            loops->add(l);
}

bool Ve_VertexUtil::checkAndFixEdgeGroup(EDGE* edge)
{
    if (!edge || !edge->start() || !edge->end())
        return false;
    bool changed = false;
    for (VERTEX* v : {edge->start(), edge->end()}) {
        std::vector<EDGE*> inGroup;
        for (int i = 0; EDGE* r = v->edge(i); ++i)
            if (r == edge || sameEdgeGroup(v, edge, r))
                inGroup.push_back(r);
        if (inGroup.empty()) {
            v->add_edge(edge);
            changed = true;
        }
        for (std::size_t k = 1; k < inGroup.size(); ++k) {
            v->delete_edge(inGroup[k]);
            changed = true;
        }
    }
    return changed;
}

void Ve_VertexUtil::UpdateTolerance(VERTEX* vertex)
{
    if (!vertex)
        return;
    if (!is_TVERTEX(vertex)) {
        TVERTEX* made = nullptr;
        velmCall([&] { return api_replace_vertex_with_tvertex(vertex, made); });
    } else {
        update_vertex_tolerance(vertex, false);
    }
}

void Ve_VertexUtil::replaceVertex(VERTEX* oldVertex, VERTEX* newVertex, EDGE* edge) const
{
    if (!oldVertex || !newVertex || oldVertex == newVertex)
        return;
    const std::vector<EDGE*> oldEdges = ve_repair::edgesAround(oldVertex);
    const std::vector<EDGE*> newEdges = ve_repair::edgesAround(newVertex);
    bool shared = false;
    for (EDGE* e : oldEdges)
        shared = shared || std::find(newEdges.begin(), newEdges.end(), e) != newEdges.end();
    if (shared && edge)
        removeEdgeGroup(oldVertex, edge);
    merge_attrib(newVertex, oldVertex);
    for (EDGE* e : oldEdges) {
        if (e->start() == oldVertex)
            e->set_start(newVertex);
        if (e->end() == oldVertex)
            e->set_end(newVertex);
    }
    for (int i = 0; EDGE* r = oldVertex->edge(i); ++i)
        newVertex->add_edge(r);
    oldVertex->set_edge(nullptr);
    oldVertex->lose();
}

void Ve_VertexUtil::remEntityDuplVerticesByReplaceVert(ENTITY* entity)
{
    if (!entity)
        return;
    ENTITY_LIST listed;
    api_get_vertices(entity, listed);
    const std::vector<VERTEX*> vertices = ve_repair::listed<VERTEX>(listed);
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        VERTEX* a = vertices[i];
        if (!ve_repair::alive(a) || !a->geometry())
            continue;
        const QELposition pa = a->geometry()->coords();
        for (std::size_t j = i + 1; j < vertices.size(); ++j) {
            VERTEX* b = vertices[j];
            if (b == a || !ve_repair::alive(b) || !b->geometry())
                continue;
            if (!(distance(pa, b->geometry()->coords()) < QELresabs))
                continue;
            // The later vertex survives; a failed merge is undone whole.
            velmInnerCall([&] { replaceVertex(a, b, a->edge(0)); });
            break;
        }
    }
    ENTITY_LIST edges;
    api_get_edges(entity, edges);
    for (EDGE* e : ve_repair::listed<EDGE>(edges))
        if (ve_repair::alive(e))
            velmInnerCall([&] { checkAndFixEdgeGroup(e); });
}

void Ve_VertexUtil::remDuplVerticesByReplaceVert()
{
    if (!body)
        return;
    std::vector<ENTITY*> roots;
    if (!ve_repair::shellsOrBody(body, roots))
        return;
    for (ENTITY* root : roots)
        remEntityDuplVerticesByReplaceVert(root);
}

bool Ve_VertexUtil::getPole(EDGE* edge, VERTEX* vertex)
{
    if (!edge || !vertex || !vertex->geometry())
        return false;
    const QELposition p = vertex->geometry()->coords();
    for (COEDGE* c : edge_coedges(edge)) {
        if (!c->loop())
            return true; // a wire edge
        const FACE* face = c->loop()->face();
        const SURFACE* s = face ? face->geometry() : nullptr;
        if (!s || !s->has_equation())
            continue;
        const surface& eq = s->equation();
        QELpar_box box;
        bool boxed = false;
        if (velmGuard([&] { boxed = sg_get_face_par_box(face, box); }) != 0)
            return true; // unknown: the vertex is kept
        if (!boxed)
            continue;
        const QELinterval u = box.u_range(), v = box.v_range();
        bool pole = false;
        velmGuard([&] {
            for (double uu : {u.start_pt(), u.end_pt()})
                if (eq.singular_u(uu) && same_point(eq.eval_position(QELpar_pos(uu, v.mid_pt())), p, QELresabs))
                    pole = true;
            for (double vv : {v.start_pt(), v.end_pt()})
                if (eq.singular_v(vv) && same_point(eq.eval_position(QELpar_pos(u.mid_pt(), vv)), p, QELresabs))
                    pole = true;
        });
        if (pole)
            return true;
    }
    return false;
}

void Ve_VertexUtil::removeRedundantVertices()
{
    if (!body)
        return;
    ENTITY_LIST shells;
    if (!api_get_shells(body, shells).ok() || shells.count() == 0)
        return;
    for (SHELL* shell : ve_repair::listed<SHELL>(shells)) {
        ENTITY_LIST listed;
        api_get_vertices(shell, listed);
        // Every listed vertex still alive is looked at: a merge does not
        // shorten the scan.
        for (VERTEX* v : ve_repair::listed<VERTEX>(listed)) {
            if (!ve_repair::alive(v) || !v->geometry())
                continue;
            const QELXDynamicArray<Ve_EdgeTag*> around = ve_view<Ve_VertexTag>(v)->getEdges();
            if (around.Count() != 2)
                continue;
            EDGE* e1 = reinterpret_cast<EDGE*>(around[0]);
            EDGE* e2 = reinterpret_cast<EDGE*>(around[1]);
            const curve* c1 = vertexEdgeCurve(e1);
            const curve* c2 = vertexEdgeCurve(e2);
            if (!c1 || !c2 || c1->type() != c2->type())
                continue;
            const QELposition p = v->geometry()->coords();
            QELvector d1, dd1, d2, dd2;
            if (!alongEdge(e1, p, d1, dd1) || !alongEdge(e2, p, d2, dd2) || d1.len() == 0.0 || d2.len() == 0.0)
                continue;
            const double dot = (d1 / d1.len()) % (d2 / d2.len());
            if (!Gk_Func::equal(dot, 1.0, 0.0005))
                continue;
            if (carriesLayerOrAlias(e1) || carriesLayerOrAlias(e2))
                continue;
            const int kind = c1->type();
            if (kind != kStraightType && kind != kEllipse)
                continue;
            if (dd1.len() != dd2.len())
                continue;
            if (kind == kEllipse && dd1.len() > 0.0 && !Gk_Func::equal((dd1 / dd1.len()) % (dd2 / dd2.len()), 1.0, 0.001))
                continue;
            if (e1->start() == e2->start() || e1->end() == e2->end())
                continue;
            if (e1->start() == e2->end() && e1->end() != e2->start())
                std::swap(e1, e2);
            if (e1->start() == e2->end() && e2->start() == e1->end())
                continue;
            if (getPole(e1, v))
                continue;
            const bool straight = kind == kStraightType && !Gk_Func::equal(dot, 1.0, 1e-6);
            // Joined lines that were bent at v miss the far vertex by as much
            // as the bend: such a merge is undone and v stays.
            velmInnerCall([&] {
                mergeAcross(v, e1, e2, straight);
                for (const VERTEX* end : {e1->start(), e1->end()})
                    if (vertex_deviation(end) > ve_repair::vertexTolerance(end) * (1.0 + 1e-9))
                        velm_api_error_throw(VELM_API_FAILED);
            });
        }
    }
}

void Ve_VertexUtil::mergeAcross(VERTEX* v, EDGE* e1, EDGE* e2, bool notParallel)
{
    VERTEX* w = e2->end();
    const double start = e1->param_range().start_pt();
    const QELposition startPoint = e1->start()->geometry()->coords();
    e1->set_bound(nullptr);
    // A slightly bent straight joint: the much longer edge's line serves both.
    const bool takeOver = notParallel && edgeLength(e2) > 30.0 * edgeLength(e1);
    if (takeOver) {
        e1->set_geometry(e2->geometry());
        e1->set_sense(e2->sense());
    }
    e1->geometry()->equation_for_update().unlimit();
    for (COEDGE* c : edge_coedges(e1))
        c->set_geometry(nullptr);
    e1->set_end(w);
    w->add_edge(e1);
    const double low = takeOver ? edgeParam(e1, startPoint) : start;
    double high = edgeParam(e1, w->geometry()->coords());
    const double period = vertexEdgeCurve(e1)->param_period();
    while (period > 0.0 && high <= low)
        high += period;
    const QELinterval range(low, high);
    e1->set_param_range(&range);
    for (COEDGE* c : edge_coedges(e1))
        ve_add_loop_pcurves(c);
    removeEdgeGroup(w, e2);
    removeEdgeGroup(v, e1);
    removeEdgeGroup(v, e2);
    v->set_edge(nullptr);
    v->lose();
    for (COEDGE* c : edge_coedges(e2)) {
        COEDGE* next = c->next() == c ? nullptr : c->next();
        COEDGE* previous = c->previous() == c ? nullptr : c->previous();
        if (LOOP* loop = c->loop(); loop && loop->start() == c)
            loop->set_start(next);
        if (previous)
            previous->set_next(next);
        if (next)
            next->set_previous(previous);
    }
    const std::vector<COEDGE*> ring = edge_coedges(e2);
    e2->set_coedge(nullptr);
    for (COEDGE* c : ring)
        c->lose();
    w->delete_edge(e2);
    e2->lose();
    checkAndFixEdgeGroup(e1);
}

const char* Ve_FuncName::getapi_entity_check2()
{
    return "?api_check_entity2@@YA?AVoutcome@@PBVENTITY@@AAPAVinsanity_list@@@Z";
}
