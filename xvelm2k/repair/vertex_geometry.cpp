// Duplicate vertices merged by changing vertex geometry: overlapping loop
// edges joined, tolerant vertices moved to the mean of their edges' ends,
// tiny edges between near vertices collapsed, and vertices replaced by their
// neighbours, which become tolerant.
#include <algorithm>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/edge_processor.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/small_edges_internal.hxx"
#include "repair/vertex_util.hxx"
#include "repair/vertex_util_internal.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kVertexTaskLevel = 50;
constexpr int kMaxMergedVertices = 16200;

const curve* edgeCurveOf(const EDGE* e)
{
    const CURVE* c = e ? e->geometry() : nullptr;
    return c && c->has_equation() ? &c->equation() : nullptr;
}

QELposition pointOf(const VERTEX* v)
{
    return v->geometry()->coords();
}

// The edge's start or end on its curve c: an edge running against its curve
// is at the curve's -t where its own parameter is t.
QELposition curveEnd(const EDGE* e, const curve& c, bool atStart)
{
    const QELinterval r = e->param_range();
    const double t = atStart ? r.start_pt() : r.end_pt();
    return c.eval_position(e->sense() == REVERSED ? -t : t);
}

// The plain edge's end at the vertex, on its curve (its stored end position without one).
QELposition curveEndAt(const EDGE* e, const VERTEX* v)
{
    const curve* c = edgeCurveOf(e);
    const bool atStart = e->start() == v;
    if (!c)
        return atStart ? e->start_pos() : e->end_pos();
    return curveEnd(e, *c, atStart);
}

// Mean of the edges' ends at the vertex, and the mean gap to its point.
bool averagedVertexPosition(VERTEX* v, QELposition& position, double& gap)
{
    ENTITY_LIST coedges;
    sg_q_coedges_around_vertex(v, &coedges);
    QELvector sum(0, 0, 0);
    double gaps = 0.0;
    int n = 0;
    const QELposition at = pointOf(v);
    auto record = [&](const QELposition& p) {
        sum = sum + (p - QELposition());
        gaps += distance(p, at);
        ++n;
    };
    for (COEDGE* c : ve_repair::listed<COEDGE>(coedges)) {
        const EDGE* e = c->edge();
        if (!e)
            continue;
        QELposition first;
        if (is_TEDGE(e))
            first = c->start() == v ? c->start_pos() : c->end_pos();
        else
            first = curveEndAt(e, v);
        record(first);
        record(is_TEDGE(e) && e->coedge() == c ? curveEndAt(e, v) : first);
    }
    if (n == 0)
        return false;
    position = QELposition() + sum / double(n);
    gap = gaps / n;
    return gap > QELresabs;
}

bool sameStraightLine(const straight& a, const straight& b)
{
    const QELvector da = a.direction;
    const QELvector db = b.direction;
    return (da * db).len() <= QELresnor && ((a.root_point - b.root_point) * da).len() < QELresabs;
}

// The intcurve's B-spline (a copy) running the way the edge does: against it
// when exactly one of the intcurve and the edge is reversed.
bs3_curve splineAlongEdge(const intcurve& ic, const EDGE* e)
{
    bs3_curve copy = bs3_curve_copy(ic.cur());
    if (ic.reversed() != (e->sense() == REVERSED))
        bs3_curve_reverse(copy);
    return copy;
}

// Whether the edges' B-splines, each taken the way its edge runs (the second
// turned when the edges run opposite ways), have the same control points.
bool sameSplineCurve(const EDGE* ea, const intcurve& a, const EDGE* eb, const intcurve& b, bool reversed,
                     double tolerance)
{
    bool same = false;
    velmGuard([&] {
        bs3_curve ca = splineAlongEdge(a, ea);
        bs3_curve cb = splineAlongEdge(b, eb);
        if (reversed)
            bs3_curve_reverse(cb);
        bs3_curve_reparam(bs3_curve_range(ca).start_pt(), bs3_curve_range(ca).end_pt(), cb);
        bs3_curve_compat(ca, cb);
        int na = 0, nb = 0;
        QELposition* pa = nullptr;
        QELposition* pb = nullptr;
        bs3_curve_control_points(ca, na, pa);
        bs3_curve_control_points(cb, nb, pb);
        same = na == nb && na > 0;
        for (int i = 0; same && i < na; ++i)
            same = distance(pa[i], pb[i]) < tolerance;
        delete[] pa;
        delete[] pb;
        bs3_curve_delete(ca);
        bs3_curve_delete(cb);
    });
    return same;
}

double overlapTolerance(const EDGE* e)
{
    return is_TEDGE(e) ? e->get_tolerance() : 100.0 * QELresabs;
}

bool areEdgesOverlapping(const EDGE* e1, const EDGE* e2)
{
    const curve* c1 = edgeCurveOf(e1);
    const curve* c2 = edgeCurveOf(e2);
    if (!c1 || !c2 || c1->type() != c2->type())
        return false;
    const double t = overlapTolerance(e1) + overlapTolerance(e2);
    QELposition s1, f1, s2, f2;
    if (velmGuard([&] {
            s1 = curveEnd(e1, *c1, true);
            f1 = curveEnd(e1, *c1, false);
            s2 = curveEnd(e2, *c2, true);
            f2 = curveEnd(e2, *c2, false);
        }) != 0)
        return false;
    const bool same = distance(s1, s2) < t && distance(f1, f2) < t;
    const bool reversed = distance(s1, f2) < t && distance(f1, s2) < t;
    if (same == reversed)
        return false;
    if (c1->type() == 1)
        return sameStraightLine(static_cast<const straight&>(*c1), static_cast<const straight&>(*c2));
    if (c1->type() == 11)
        return sameSplineCurve(e1, static_cast<const intcurve&>(*c1), e2, static_cast<const intcurve&>(*c2), reversed,
                               t);
    return false;
}

// The edges at the vertex, by the kernel's query; a failed query fails the
// surgery around it.
std::vector<EDGE*> edgesAt(VERTEX* v)
{
    ENTITY_LIST edges;
    const outcome listed = api_get_edges(v, edges);
    if (!listed.ok())
        throw velm_exception(listed.error_number());
    return ve_repair::listed<EDGE>(edges);
}

bool isShorterThanOthers(EDGE* e, VERTEX* v)
{
    const std::vector<EDGE*> others = edgesAt(v);
    const double length = e->length(true);
    bool any = false;
    for (EDGE* o : others) {
        if (o == e)
            continue;
        any = true;
        if (!(length < o->length(true)))
            return false;
    }
    return any;
}

void mergeVertexAcrossEdge(VERTEX* a, VERTEX* b, EDGE* e)
{
    const std::vector<EDGE*> remembered = edgesAt(a);
    bool singleContact = false;
    Ve_EdgeProcessor::replaceVertex(a, b, e, &singleContact);
    if (Ve_EdgeProcessor::removeEdgeGroup(b, e)) {
        COEDGE* first = e->coedge();
        if (first && first->next() && first->next()->edge() != e)
            b->add_edge(first->next()->edge());
    }
    ve_repair::unlinkEdgeCoedges(e);
    if (singleContact)
        for (EDGE* r : remembered) {
            if (r == e || r->is_lost())
                continue;
            bool covered = false;
            for (int i = 0; EDGE* ref = b->edge(i); ++i)
                covered = covered || Ve_EdgeProcessor::sameEdgeGroup(b, ref, r);
            if (!covered)
                b->add_edge(r);
        }
    b->delete_edge(e);
    e->lose();
    update_vertex_tolerance(b, false);
}

bool removeSmallCommonEdge(VERTEX* a, VERTEX* b)
{
    if (!a || !b || a == b)
        return false;
    const std::vector<EDGE*> ea = edgesAt(a);
    const std::vector<EDGE*> eb = edgesAt(b);
    EDGE* common = nullptr;
    int n = 0;
    for (EDGE* e : ea)
        if (std::find(eb.begin(), eb.end(), e) != eb.end()) {
            common = e;
            ++n;
        }
    if (n != 1)
        return false;
    const double t = std::max(a->get_tolerance(), b->get_tolerance());
    if (common->length(true) > t)
        return false;
    if (!isShorterThanOthers(common, a) || !isShorterThanOthers(common, b))
        return false;
    mergeVertexAcrossEdge(a, b, common);
    return true;
}

struct GeometryChange {
    bool apart = false; // the vertices no longer coincide
    bool collapsed = false;
    bool fallback = false;
};

GeometryChange changeVertexGeometry(VERTEX* a, VERTEX* b, bool ta, bool tb)
{
    GeometryChange out;
    const QELposition remembered = pointOf(b);
    for (VERTEX* v : {a, b}) {
        if (!is_TVERTEX(v))
            continue;
        QELposition mean;
        double gap = 0.0;
        if (averagedVertexPosition(v, mean, gap)) {
            v->geometry()->set_coords(mean);
            update_vertex_tolerance(v, false);
        }
    }
    const double d = distance(pointOf(a), pointOf(b));
    const double t = std::max(ta ? a->get_tolerance() : QELresabs, tb ? b->get_tolerance() : QELresabs);
    if (d > t) {
        out.apart = true;
        return out;
    }
    if (ta || (tb && d < QELresabs * 1000 * 21)) {
        if (removeSmallCommonEdge(a, b)) {
            out.collapsed = true;
        } else {
            out.fallback = true;
            b->geometry()->set_coords(remembered);
        }
        return out;
    }
    if (d < 0.0001)
        out.fallback = true;
    else
        out.apart = true;
    return out;
}

// Every use of `from` moves to `to`; `from` goes (no attributes merged).
void giveWay(VERTEX* from, VERTEX* to, EDGE* edgeI, EDGE* edgeJ)
{
    if (from == to) {
        Ve_EdgeProcessor::removeEdgeGroup(from, edgeI);
        from->add_edge(edgeJ);
        return;
    }
    // Its edges are gathered first: without the reference of edge i's group
    // the vertex may no longer lead to them.
    const std::vector<EDGE*> around = edgesAt(from);
    Ve_EdgeProcessor::removeEdgeGroup(from, edgeI);
    for (EDGE* e : around) {
        if (e->start() == from)
            e->set_start(to);
        if (e->end() == from)
            e->set_end(to);
    }
    for (int i = 0; EDGE* r = from->edge(i); ++i)
        if (r != edgeI)
            to->add_edge(r);
    from->set_edge(nullptr);
    from->lose();
}

// The vertices of the loop's coedges, read through the links (no kernel call
// that could fail), added to the list.
void loopVertices(const LOOP* loop, std::vector<const VERTEX*>& out)
{
    const COEDGE* first = loop->start();
    const COEDGE* c = first;
    std::size_t steps = 0;
    do {
        if (!c)
            return;
        out.push_back(c->start());
        out.push_back(c->end());
        c = c->next();
    } while (c != first && ++steps < 1000000);
}

} // namespace

int Ve_VertexUtil::BelongToSameLoop(VERTEX* a, VERTEX* b, LOOP*& loop)
{
    ENTITY_LIST la, lb;
    loops_around_vertex(a, &la);
    loops_around_vertex(b, &lb);
    for (int i = 0; i < la.count(); ++i)
        if (lb.contains(la[i])) {
            loop = static_cast<LOOP*>(la[i]);
            return 1;
        }
    return 0;
}

int Ve_VertexUtil::HaveCommonEdge(VERTEX* a, VERTEX* b)
{
    const std::vector<EDGE*> ea = edgesAt(a);
    const std::vector<EDGE*> eb = edgesAt(b);
    for (EDGE* e : ea)
        if (std::find(eb.begin(), eb.end(), e) != eb.end())
            return 1;
    return 0;
}

int Ve_VertexUtil::WillReplacementLeadToNMVer(VERTEX* a, VERTEX* b)
{
    LOOP* loop = nullptr;
    return BelongToSameLoop(a, b, loop) && !HaveCommonEdge(a, b) ? 1 : 0;
}

void Ve_VertexUtil::replaceVtxByAdjacentVtx(VERTEX* a, VERTEX* b, bool bTolerant, QELXDynamicArray<ENTITY*>& candidates,
                                           int j)
{
    replaceVertex(a, b, a->edge(0));
    if (!bTolerant) {
        // The survivor has to cover the vertex it replaced: without its
        // tolerance the merge is undone whole.
        TVERTEX* made = nullptr;
        const outcome replaced = velmCall([&] { return api_replace_vertex_with_tvertex(b, made); });
        if (!replaced.ok() || !made)
            throw velm_exception(replaced.ok() ? qelvelm_api_errmod.message_code(VELM_API_FAILED)
                                               : replaced.error_number());
        candidates[j] = made;
    } else {
        update_vertex_tolerance(b, false);
    }
}

int Ve_VertexUtil::FixOverlappingEdges(LOOP* loop)
{
    ENTITY_LIST listed;
    if (const outcome r = api_get_edges(loop, listed); !r.ok())
        throw velm_exception(r.error_number());
    std::vector<EDGE*> edges = ve_repair::listed<EDGE>(listed);
    if (edges.size() < 3)
        return 0;
    int joined = 0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        for (std::size_t j = i + 1; j < edges.size(); ++j) {
            EDGE* ei = edges[i];
            EDGE* ej = edges[j];
            if (!ei || !ej || is_TEDGE(ei) != is_TEDGE(ej) || !ei->coedge() || !ej->coedge())
                continue;
            COEDGE* ci = ei->coedge();
            COEDGE* cj = ej->coedge();
            if (ci->partner() || cj->partner())
                return 0;
            if (!areEdgesOverlapping(ei, ej))
                continue;
            VERTEX* si = ci->start();
            VERTEX* fi = ci->end();
            VERTEX* sj = cj->start();
            VERTEX* fj = cj->end();
            if (!si || !fi || !sj || !fj)
                continue;
            using ve_repair::vertexTolerance;
            if (distance(pointOf(si), pointOf(fj)) > vertexTolerance(si) + vertexTolerance(fj) ||
                distance(pointOf(fi), pointOf(sj)) > vertexTolerance(fi) + vertexTolerance(sj))
                continue;
            giveWay(si, fj, ei, ej);
            giveWay(fi, sj, ei, ej);
            ci->set_geometry(nullptr);
            ci->set_edge(ej);
            ci->set_sense(cj->sense() == FORWARD ? REVERSED : FORWARD);
            ci->set_partner(cj);
            cj->set_partner(ci);
            ei->set_coedge(nullptr);
            ei->set_start(nullptr);
            ei->set_end(nullptr);
            ei->lose();
            ve_add_loop_pcurves(ci);
            for (VERTEX* v : {fj, sj == fj ? nullptr : sj}) {
                if (!v)
                    continue;
                if (is_TVERTEX(v)) {
                    update_vertex_tolerance(v, false);
                    continue;
                }
                TVERTEX* made = nullptr;
                const outcome r = api_replace_vertex_with_tvertex(v, made);
                if (!r.ok())
                    throw velm_exception(r.error_number()); // the join is undone whole
            }
            if (is_TEDGE(ej))
                update_tolerance(ej);
            edges[i] = nullptr;
            edges[j] = nullptr;
            joined = 1;
            break;
        }
    }
    return joined;
}

void Ve_VertexUtil::remEntityDuplVerticesByChangeVertGeom(ENTITY* entity)
{
    if (!entity || !body)
        return;
    // A list that cannot be had ends the pass. A slit that could not be
    // joined stays as it was and the pass goes on with the rest; only its
    // loop's vertices are not merged with one another, which would pinch it.
    ENTITY_LIST loops;
    if (!api_get_loops(entity, loops).ok())
        return;
    std::vector<const VERTEX*> unjoined;
    for (LOOP* loop : ve_repair::listed<LOOP>(loops))
        if (ve_repair::alive(loop) && !velmInnerCall([&] { FixOverlappingEdges(loop); }).ok())
            loopVertices(loop, unjoined);
    auto held = [&](const VERTEX* v) { return std::find(unjoined.begin(), unjoined.end(), v) != unjoined.end(); };

    ENTITY_LIST listed;
    if (!api_get_vertices(entity, listed).ok())
        return;
    const bool changeGeometry = Ve_OptionDoc::isOn(Ve_OptionDoc::ChangeVertexGeom);
    const bool allowNonManifold = Ve_OptionDoc::isOn(Ve_OptionDoc::AllowNonManiVertex);
    if (listed.count() <= kMaxMergedVertices) {
        QELXDynamicArray<ENTITY*> candidates;
        for (int i = 0; i < listed.count(); ++i)
            candidates.Add(listed[i]);
        for (int i = 0; i < candidates.Count(); ++i) {
            VERTEX* a = static_cast<VERTEX*>(candidates[i]);
            if (!ve_repair::alive(a) || !a->geometry())
                continue;
            for (int j = i + 1; j < candidates.Count(); ++j) {
                VERTEX* b = static_cast<VERTEX*>(candidates[j]);
                if (!b || b == a || !ve_repair::alive(b) || !b->geometry() || (held(a) && held(b)))
                    continue;
                const bool ta = is_TVERTEX(a), tb = is_TVERTEX(b);
                const double t = std::max(ve_repair::vertexTolerance(a), ve_repair::vertexTolerance(b));
                const double d = distance(pointOf(a), pointOf(b));
                enum { NextJ, Merge, GuardedMerge, Change, ChangeThenMerge } row = NextJ;
                if (d < QELresabs)
                    row = Merge;
                else if (d > 0.01 || t > 0.05)
                    row = changeGeometry && (ta || tb) && t > d ? Change : NextJ;
                else if ((ta || tb) && t > d)
                    row = !changeGeometry || d <= 0.0001 ? Merge : ChangeThenMerge;
                if (row == NextJ)
                    continue;
                bool guarded = false;
                if (row == Change || row == ChangeThenMerge) {
                    GeometryChange change;
                    const outcome done = velmInnerCall([&] { change = changeVertexGeometry(a, b, ta, tb); });
                    if (!done.ok() || change.apart)
                        continue;
                    if (change.collapsed)
                        break;
                    guarded = row == Change;
                }
                // Pinching a loop into a non-manifold vertex is refused; so is a
                // merge whose loops cannot be told.
                int pinches = 1;
                if (guarded && !allowNonManifold &&
                    (velmGuard([&] { pinches = WillReplacementLeadToNMVer(a, b); }) != 0 || pinches))
                    break;
                // A failed merge is undone whole and the pair left as it was.
                velmInnerCall([&] { replaceVtxByAdjacentVtx(a, b, tb, candidates, j); });
                break;
            }
        }
    }
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    for (EDGE* e : ve_repair::listed<EDGE>(edges))
        if (ve_repair::alive(e))
            velmInnerCall([&] { checkAndFixEdgeGroup(e); });
}

void Ve_VertexUtil::remDuplVerticesByChangeVertGeom()
{
    if (!body)
        return;
    std::vector<ENTITY*> roots;
    if (!ve_repair::shellsOrBody(body, roots))
        return;
    QELXStartTaskEvent::Fire("RemDuplVerticesByChangeVertGeomStart", "RemoveDuplicateVertices", kVertexTaskLevel);
    for (ENTITY* root : roots)
        remEntityDuplVerticesByChangeVertGeom(root);
    QELXEndTaskEvent::Fire(0, "RemDuplVerticesByChangeVertGeomEnd", "RemoveDuplicateVertices", kVertexTaskLevel, true);
}
