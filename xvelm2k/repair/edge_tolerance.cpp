// Edge and vertex tolerancing: an edge whose curve strays from its faces or
// vertices becomes a TEDGE, a vertex off its faces a TVERTEX. Every
// replacement, the kernel checks' own included, is reported as a translate
// event from the old entity to the new one.
#include <vector>

#include "geometry/curve_view.hxx"
#include "geometry/pcurve_view.hxx"
#include "geometry/surface_view.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "repair/fix_pcurve.hxx"
#include "repair/post_process_internal.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_identifier.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/surface_intersect.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr const char* kTypeEdge = "QELXBRepTypeEdge";
constexpr const char* kTypeVertex = "QELXBRepTypeVertex";

void fireReplaced(const ENTITY* from, const ENTITY* to, const char* type, const char* oldName, const char* newName)
{
    QELXEndTranslateEntityEvent::Fire(0, QELXIdentifier(from, type, nullptr, oldName),
                                      QELXIdentifier(to, type, nullptr, newName));
}

bool withinTolerance(double d)
{
    return Gk_Func::lesseq(d, QELresabs, Gk_Def::FuzzReal);
}

// A kernel call or query that fails while tolerancing an edge is raised
// (raiseFailure) and fails the edge's tolerancing: a guess in its place (no
// box, no check, no tolerant edge) would leave a plain edge where the data
// needs a tolerant one, or the reverse, and nobody would hear of it.

// The edge's start and end in curve parameters.
bool curveParams(const EDGE* edge, double& t0, double& t1)
{
    QELinterval r;
    raiseFailure(velmCall([&] { r = edge_curve_range(edge); }));
    if (!r.finite())
        return false;
    t0 = r.start_pt();
    t1 = r.end_pt();
    return true;
}

// Some sample of the curve lies farther than QELresabs from one of the faces.
bool curveLeavesFaces(const EDGE* edge)
{
    double t0 = 0.0, t1 = 0.0;
    if (!curveParams(edge, t0, t1))
        return false;
    const Ve_CurveTag* curve = Ve_CurveTag::view(edge->geometry());
    for (double t : {t0, t0 + (t1 - t0) / 3.0, t0 + 2.0 * (t1 - t0) / 3.0, t1}) {
        const QELXPoint3D p = curve->eval(t, nullptr);
        for (const COEDGE* c : edge_coedges(edge)) {
            const LOOP* loop = c->loop();
            const Ve_FaceTag* face = loop ? ve_view<Ve_FaceTag>(loop->face()) : nullptr;
            if (!face)
                continue;
            const Ve_SurfaceTag* surface = face->getSurface();
            double d = Ve_FaceTag::NoDistance;
            if (c->geometry() && c->geometry()->has_equation() && surface && !surface->isApproximated()) {
                QELXPoint2D guess =
                    Ve_PCurveTag::view(c->geometry())->eval(c->sense() == edge->sense() ? t : -t, nullptr);
                d = face->getDistance(p, &guess);
            } else {
                d = face->getDistance(p);
            }
            if (!withinTolerance(d))
                return true;
        }
    }
    return false;
}

// 1 the edge's box encloses its vertex points, 0 it does not, -1 a point is
// missing; a failed query is raised.
int boxHoldsVertices(const EDGE* edge)
{
    const VERTEX* s = edge->start();
    const VERTEX* e = edge->end();
    if (!s || !e || !s->geometry() || !e->geometry())
        return -1;
    QELbox box;
    raiseFailure(velmCall([&] { box = get_edge_box(edge); }));
    return box >> s->geometry()->coords() && box >> e->geometry()->coords() ? 1 : 0;
}

// An approximated intcurve becomes exact over its own B-spline first, so the
// tolerant edge keeps the curve it was measured with.
void makeIntcurveExact(EDGE* edge)
{
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation() || cu->equation().type() != 11)
        return;
    const intcurve& ic = static_cast<const intcurve&>(cu->equation());
    if (ic.get_int_cur().id() == exact_int_cur::id || !ic.cur())
        return;
    intcurve exact(VELM_MAKE(exact_int_cur, bs3_curve_copy(ic.cur())), ic.reversed());
    edge->set_geometry(make_curve(exact));
}

TEDGE* replaceByTedge(EDGE* edge)
{
    TEDGE* tedge = nullptr;
    const outcome r = velmCall([&] {
        makeIntcurveExact(edge);
        TEDGE* made = nullptr;
        const outcome o = api_replace_edge_with_tedge(edge, made);
        if (o.ok())
            tedge = made;
        return o;
    });
    raiseFailure(r);
    return tedge;
}

// The vertex replaced by a TVERTEX with its event; null when the kernel refused.
TVERTEX* replaceByTvertex(VERTEX* vertex)
{
    TVERTEX* made = nullptr;
    if (!velmCall([&] { return api_replace_vertex_with_tvertex(vertex, made); }).ok() || !made)
        return nullptr;
    fireReplaced(vertex, made, kTypeVertex, "VERTEX", "TVERTEX");
    return made;
}

void reportNewEntities(const ENTITY_LIST& before, const ENTITY_LIST& after, const char* type, const char* oldName,
                       const char* newName)
{
    for (int i = 0; i < after.count() && i < before.count(); ++i)
        if (after[i] && before[i])
            fireReplaced(before[i], after[i], type, oldName, newName);
}

// A curve for an edge that has none: the intersection of its two faces'
// surfaces, the one through both vertices when there are several; then
// pcurves for its coedges.
bool rebuildEdgeCurveFromFaces(EDGE* edge)
{
    if (!edge)
        return false;
    ENTITY_LIST faces;
    api_get_faces(edge, faces);
    if (faces.iteration_count() != 2)
        return false;
    const FACE* f1 = static_cast<const FACE*>(faces[0]);
    const FACE* f2 = static_cast<const FACE*>(faces[1]);
    if (!f1->geometry() || !f2->geometry() || !f1->geometry()->has_equation() || !f2->geometry()->has_equation())
        return false;
    QELposition low, high;
    if (!api_get_entity_box(faces, nullptr, low, high).ok())
        return false;
    ss_curve_record* curves = nullptr;
    // The list is freed on every way out, and the edge gets a copy of the curve.
    struct Freed {
        ss_curve_record*& list;
        ~Freed() { sg_delete_ss_list(list); }
    } freed{curves};
    if (!velmCall([&] {
             curves = d3_sf_sf_int(f1->geometry()->equation(), f2->geometry()->equation(), QELbox(low, high),
                                   QELresfit);
         }).ok() ||
        !curves)
        return false;
    const curve* chosen = nullptr;
    if (!curves->next) {
        chosen = curves->cur;
    } else if (edge->start() && edge->end() && edge->start()->geometry() && edge->end()->geometry()) {
        for (ss_curve_record* r = curves; r && !chosen; r = r->next)
            if (r->cur->test_point(edge->start()->geometry()->coords()) &&
                r->cur->test_point(edge->end()->geometry()->coords()))
                chosen = r->cur;
    }
    if (!chosen)
        return false;
    // A curve without a stored range runs between the vertices it is given.
    if (!velmCall([&] {
             edge->set_geometry(make_curve(*chosen));
             edge->set_param_range(nullptr);
         }).ok() ||
        !edge->geometry())
        return false;
    for (COEDGE* c : edge_coedges(edge))
        Ve_FixPCurve::addPCurve(c);
    return true;
}

} // namespace

bool Ve_EdgeTag::setTolerance(EDGE** newEdge, bool useNew)
{
    return useNew ? setTolerance_New(newEdge) : setTolerance_Old(newEdge);
}

bool Ve_EdgeTag::setTolerance_New(EDGE** newEdge)
{
    EDGE* edge = getDef();
    if (!edge->geometry() && !rebuildEdgeCurveFromFaces(edge))
        return false;
    // A curve entity without an equation cannot be measured.
    if (!edge->geometry()->has_equation() || !edge->coedge() || !edge->coedge()->loop())
        return false;
    ENTITY_LIST edges, bad, created;
    edges.add(edge);
    ENTITY* worst = nullptr;
    double worstError = -1.0;
    const bool checked = velmCall([&] {
                             return api_check_edge_errors(edges, bad, worst, worstError, QELresabs, false, &created);
                         }).ok();
    if (created.iteration_count() > 0) {
        ENTITY_LIST badEdges;
        badEdges.add(edge);
        reportNewEntities(badEdges, created, kTypeEdge, "EDGE", "TEDGE");
        edge = static_cast<EDGE*>(created[0]);
        if (newEdge)
            *newEdge = edge;
    }
    if (bad.iteration_count() == 0 && !is_TEDGE(edge)) {
        bool replace = curveLeavesFaces(edge);
        if (!replace && boxHoldsVertices(edge) == 0)
            replace = true;
        if (replace) {
            if (TEDGE* tedge = replaceByTedge(edge)) {
                fireReplaced(edge, tedge, kTypeEdge, "EDGE", "TEDGE");
                if (newEdge)
                    *newEdge = tedge;
                edge = tedge;
            }
        }
    }
    ENTITY_LIST ends, badVertices, newVertices;
    for (VERTEX* v : {edge->start(), edge->end()})
        if (v && !is_TVERTEX(v))
            ends.add(v);
    if (ends.iteration_count() > 0) {
        ENTITY* worstVertex = nullptr;
        double worstVertexError = -1.0;
        velmCall([&] {
            return api_check_vertex_errors(ends, badVertices, worstVertex, worstVertexError, QELresabs, false,
                                           newVertices);
        });
        reportNewEntities(badVertices, newVertices, kTypeVertex, "VERTEX", "TVERTEX");
    }
    return checked;
}

bool Ve_EdgeTag::setTolerance_Old(EDGE** newEdge)
{
    EDGE* edge = getDef();
    if (!edge->geometry() && !rebuildEdgeCurveFromFaces(edge))
        return false;
    if (!edge->geometry()->has_equation())
        return false;
    const curve& eq = edge->geometry()->equation();
    double t0 = 0.0, t1 = 0.0;
    // Ends in curve direction against their vertices.
    // Each end's vertex is read from the edge when its turn comes: replacing
    // the first frees it, and a closed edge has it at both ends.
    if (curveParams(edge, t0, t1)) {
        const bool fwd = edge->sense() == FORWARD;
        for (auto [atStart, t] : {std::pair{fwd, t0}, std::pair{!fwd, t1}}) {
            VERTEX* v = atStart ? edge->start() : edge->end();
            if (!v || is_TVERTEX(v) || !v->geometry())
                continue;
            QELposition at;
            raiseFailure(velmInnerCall([&] { at = eq.eval_position(t); }));
            if (!same_point(at, v->geometry()->coords()))
                replaceByTvertex(v);
        }
    }
    double s0 = 0.0, s1 = 0.0;
    raiseFailure(velmInnerCall([&] { sg_get_params(edge, s0, s1); }));
    {
        for (auto [atStart, t] : {std::pair{true, s0}, std::pair{false, s1}}) {
            VERTEX* v = atStart ? edge->start() : edge->end();
            if (!v || is_TVERTEX(v) || !v->geometry())
                continue;
            bool on = true;
            raiseFailure(velmInnerCall([&] { on = eq.test_point(v->geometry()->coords(), &t); }));
            if (!on)
                replaceByTvertex(v);
        }
    }
    if (!edge->coedge() || !edge->coedge()->loop())
        return false;
    ENTITY_LIST edges, bad;
    edges.add(edge);
    ENTITY* worst = nullptr;
    double worstError = -1.0;
    raiseFailure(velmCall([&] { return api_check_edge_errors(edges, bad, worst, worstError, QELresabs, false, nullptr); }));
    bool replace = worstError > QELresabs || curveLeavesFaces(edge);
    if (!replace) {
        const int holds = boxHoldsVertices(edge);
        if (holds != 0)
            return false;
        replace = true;
    }
    VERTEX* oldStart = edge->start();
    VERTEX* oldEnd = edge->end();
    TEDGE* tedge = is_TEDGE(edge) ? nullptr : replaceByTedge(edge);
    if (tedge) {
        fireReplaced(edge, tedge, kTypeEdge, "EDGE", "TEDGE");
        if (tedge->start() != oldStart)
            fireReplaced(oldStart, tedge->start(), kTypeVertex, "VERTEX", "TVERTEX");
        if (tedge->end() != oldEnd)
            fireReplaced(oldEnd, tedge->end(), kTypeVertex, "VERTEX", "TVERTEX");
    }
    if (newEdge)
        *newEdge = tedge;
    return tedge != nullptr;
}

bool Ve_VertexTag::setTolerance(bool useNew)
{
    return useNew ? setTolerance_New() : setTolerance_Old();
}

namespace {

// The vertex lies within QELresabs of the face by the face's own pcurves:
// the surface point where a pcurve of a coedge at the vertex puts it, or the
// foot reached from there. Either bounds the distance to the surface from
// above, so a yes is the whole search's yes; a no leaves it to that search.
bool onFaceByPcurves(const Ve_FaceTag* face, const VERTEX* vertex, const QELposition& p,
                     const QELXDynamicArray<Ve_CoedgeTag*>& around)
{
    const SURFACE* s = reinterpret_cast<const FACE*>(face)->geometry();
    if (!s || !s->has_equation())
        return false;
    for (int i = 0; i < around.Count(); ++i) {
        if (around[i]->getFace() != face)
            continue;
        const COEDGE* c = reinterpret_cast<const COEDGE*>(around[i]);
        const bool atStart = c->start() == vertex;
        if (!c->geometry() || !c->geometry()->has_equation() || (!atStart && c->end() != vertex))
            continue;
        QELpar_pos uv;
        bool near = false;
        if (velmGuard([&] {
                const QELinterval r = c->param_range();
                uv = c->geometry()->def().eval_position(atStart ? r.start_pt() : r.end_pt());
                near = withinTolerance((s->equation().eval_position(uv) - p).len());
            }) != 0)
            continue;
        if (near)
            return true;
        QELXPoint2D guess = Ve_Pt2(uv);
        if (withinTolerance(face->getDistance(Ve_Pt3(p), &guess)))
            return true;
    }
    return false;
}

// A tolerant vertex made wide enough for where its coedges' pcurves end on
// their surfaces too, not only its edges' curves (the kernel's check holds a
// tolerant vertex to both: an edge made tolerant for a pcurve that strays
// from its curve leaves its vertices short of the pcurve's ends); never
// narrowed. True for a tolerant vertex.
bool coverCoedgeEnds(VERTEX* vertex)
{
    if (!vertex || !is_TVERTEX(vertex))
        return false;
    TVERTEX* tolerant = static_cast<TVERTEX*>(vertex);
    const double before = tolerant->get_tolerance();
    velmGuard([&] {
        update_vertex_tolerance(tolerant, 0);
        if (tolerant->get_tolerance() < before)
            tolerant->set_tolerance(before);
    });
    return true;
}

TVERTEX* tolerateIfOffFaces(VERTEX* vertex)
{
    const Ve_VertexTag* view = ve_view<Ve_VertexTag>(vertex);
    const QELXPoint3D p = view->getPoint();
    QELXHashList<Ve_CoedgeTag*> coedges;
    QELXDynamicArray<Ve_CoedgeTag*> around;
    view->fetchIncidentCoedgeList(coedges, &around);
    bool off = false;
    const QELXDynamicArray<Ve_FaceTag*> faces = view->getFaces();
    for (int i = 0; i < faces.Count() && !off; ++i)
        off = !onFaceByPcurves(faces[i], vertex, Ve_Pt3(p), around) && faces[i]->getDistance(p) > QELresabs;
    if (!off)
        return nullptr;
    TVERTEX* made = replaceByTvertex(vertex);
    coverCoedgeEnds(made);
    return made;
}

} // namespace

bool Ve_VertexTag::setTolerance_Old()
{
    VERTEX* vertex = reinterpret_cast<VERTEX*>(this);
    if (coverCoedgeEnds(vertex))
        return true;
    return tolerateIfOffFaces(vertex) != nullptr;
}

bool Ve_VertexTag::setTolerance_New()
{
    VERTEX* vertex = reinterpret_cast<VERTEX*>(this);
    if (coverCoedgeEnds(vertex))
        return true;
    ENTITY_LIST vertices, bad, made;
    vertices.add(vertex);
    ENTITY* worst = nullptr;
    double worstError = -1.0;
    velmCall([&] { return api_check_vertex_errors(vertices, bad, worst, worstError, QELresabs, false, made); });
    if (made.iteration_count() == 0)
        return tolerateIfOffFaces(vertex) != nullptr;
    reportNewEntities(bad, made, kTypeVertex, "VERTEX", "TVERTEX");
    VERTEX* working = static_cast<VERTEX*>(made[0]);
    if (coverCoedgeEnds(working))
        return false;
    // A plain replacement is measured by its own point against its own faces.
    return tolerateIfOffFaces(working) != nullptr;
}

namespace ve_repair {

bool tolerateWhereCoedgesEndAway(VERTEX* vertex)
{
    if (!vertex || is_TVERTEX(vertex) || !vertex->geometry())
        return false;
    const QELposition p = vertex->geometry()->coords();
    QELXHashList<Ve_CoedgeTag*> coedges;
    QELXDynamicArray<Ve_CoedgeTag*> around;
    ve_view<Ve_VertexTag>(vertex)->fetchIncidentCoedgeList(coedges, &around);
    bool away = false;
    for (int i = 0; i < around.Count() && !away; ++i) {
        const COEDGE* c = reinterpret_cast<const COEDGE*>(around[i]);
        const FACE* face = c->loop() ? c->loop()->face() : nullptr;
        const SURFACE* s = face ? face->geometry() : nullptr;
        if (!s || !s->has_equation() || !c->geometry() || !c->geometry()->has_equation())
            continue;
        // A closed coedge ends at the vertex twice.
        for (const bool atStart : {true, false}) {
            if ((atStart ? c->start() : c->end()) != vertex)
                continue;
            double gap = 0.0;
            if (velmGuard([&] {
                    const QELinterval r = c->param_range();
                    const QELpar_pos uv = c->geometry()->def().eval_position(atStart ? r.start_pt() : r.end_pt());
                    gap = (s->equation().eval_position(uv) - p).len();
                }) == 0 &&
                !withinTolerance(gap))
                away = true;
        }
    }
    if (!away)
        return false;
    TVERTEX* made = replaceByTvertex(vertex);
    coverCoedgeEnds(made);
    return made != nullptr;
}

} // namespace ve_repair
