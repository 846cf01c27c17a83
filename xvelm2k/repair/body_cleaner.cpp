// Sliver faces, small tolerant edges, closed small straight edges and faces
// with an empty parameter range.
#include "repair/body_cleaner.hxx"

#include <algorithm>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "heal/periodic_split.hxx"
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "repair/edge_processor.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/small_edges_internal.hxx"
#include "velm/geometry.hxx"
#include "velm/heal.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

constexpr int kStraight = 1;
// Splits inside splits: a face that keeps splitting into bad faces must not
// start passes without end.
constexpr int kMaxBadFacePasses = 8;

BODY* kernelBody(Ve_BodyTag* body)
{
    return reinterpret_cast<BODY*>(body);
}

const curve* curveOf(const EDGE* e)
{
    const CURVE* c = e ? e->geometry() : nullptr;
    return c && c->has_equation() ? &c->equation() : nullptr;
}

bool isStraight(const EDGE* e)
{
    const curve* c = curveOf(e);
    return c && c->type() == kStraight;
}

double lengthOf(const EDGE* e)
{
    double length = -1.0;
    velmGuard([&] { length = e->length(true); });
    return length;
}

// Edges A, B, C, D of a four-edge face: A and C the opposite straight pair.
bool sides(FACE* face, EDGE* out[4])
{
    ENTITY_LIST loops, edges;
    api_get_loops(face, loops);
    api_get_edges(face, edges);
    if (loops.count() != 1 || edges.count() != 4)
        return false;
    EDGE* e[4];
    for (int i = 0; i < 4; ++i) {
        e[i] = static_cast<EDGE*>(edges[i]);
        // A pole or apex edge has no curve: such a face is no sliver.
        if (!curveOf(e[i]))
            return false;
    }
    const bool evenStraight = isStraight(e[0]) && isStraight(e[2]);
    const bool oddStraight = isStraight(e[1]) && isStraight(e[3]);
    if (!evenStraight && !oddStraight)
        return false;
    // Where both pairs are straight the long pair is A and C, wherever the
    // loop starts: taking the pair the loop happens to list first would find
    // a strip listed from a short side no sliver.
    bool odd = !evenStraight;
    if (evenStraight && oddStraight)
        odd = std::min(lengthOf(e[1]), lengthOf(e[3])) > std::min(lengthOf(e[0]), lengthOf(e[2]));
    for (int i = 0; i < 4; ++i)
        out[i] = e[(i + (odd ? 1 : 0)) % 4];
    return true;
}

// The vertex's references to `from` become references to `to`.
void referTo(VERTEX* v, EDGE* from, EDGE* to)
{
    if (!v)
        return;
    for (int i = 0; EDGE* r = v->edge(i); ++i)
        if (r == from) {
            v->delete_edge(from);
            v->add_edge(to);
            return;
        }
}

sense_type opposite(sense_type s)
{
    return s == FORWARD ? REVERSED : FORWARD;
}

std::size_t ringSize(const LOOP* loop)
{
    std::size_t n = 0;
    const COEDGE* c = loop->start();
    do {
        ++n;
        c = c->next();
    } while (c && c != loop->start() && n < 1000000);
    return n;
}

int faceCount(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    return faces.count();
}

} // namespace

namespace ve_repair {

bool alive(const ENTITY* e)
{
    return e && velm_is_live_entity(e) && !e->is_lost();
}

bool removeEdgeAlone(EDGE* edge, bool updateTolerances)
{
    if (!alive(edge))
        return false;
    return velmInnerCall([&] { Ve_EdgeProcessor::removeEdge(ve_view<Ve_EdgeTag>(edge), updateTolerances); }).ok();
}

} // namespace ve_repair

Ve_BodyCleaner::Ve_BodyCleaner(Ve_BodyTag* b) : body(b)
{
    Gk_ErrMgr::checkAbort();
    if (!body)
        Gk_ErrMgr::doAssert("ve_edgeutl", 1125);
}

void Ve_BodyCleaner::removeSliverFaces(double tolerance, bool sliverToleranceOnly)
{
    if (!body)
        return;
    BODY* b = kernelBody(body);
    double working = tolerance;
    velmCall([&] {
        const double sliver = determine_sliver_tolerance(b);
        working = sliverToleranceOnly ? sliver : std::min(sliver, tolerance);
        ENTITY_LIST unused;
        return api_detect_sliver_faces(b, unused, working, 1);
    });
    for (FACE* face : ve_repair::bodyFaces(b)) {
        if (!ve_repair::alive(face) || !isSliverFace(face, working))
            continue;
        velmInnerCall([&] {
            if (!collapseSliverFace(face, working))
                velm_api_error_throw(VELM_API_FAILED); // nothing half done stays
        });
    }
}

bool Ve_BodyCleaner::isSliverFace(FACE* face, double tolerance)
{
    EDGE* s[4];
    if (!face || !sides(face, s))
        return false;
    double area = -1.0, achieved = 0.0;
    // A face whose area cannot be had is not judged a sliver.
    if (!api_ent_area(face, 0.999, area, achieved).ok() || !(std::abs(area) < 10.0 * tolerance))
        return false;
    const double la = lengthOf(s[0]), lb = lengthOf(s[1]), lc = lengthOf(s[2]), ld = lengthOf(s[3]);
    if (!(la > lb) || !(std::min(la, lc) > 1000.0 * std::max(lb, ld)) || !(std::max(lb, ld) < 20.0 * tolerance))
        return false;
    QELposition foot;
    double gap = 0.0;
    if (velmGuard([&] {
            const QELposition mid = s[0]->mid_pos(true);
            curveOf(s[2])->point_perp(mid, foot);
            gap = distance(mid, foot);
        }) != 0 ||
        gap > tolerance)
        return false;
    double apart = 0.0;
    const bool shorterFirst = la <= lc;
    const EDGE* first = shorterFirst ? s[0] : s[2];
    const EDGE* second = shorterFirst ? s[2] : s[0];
    if (velmGuard([&] {
            apart = calculate_curve_tolerance(*curveOf(first), edge_curve_range(first), *curveOf(second),
                                              edge_curve_range(second));
        }) != 0)
        return false;
    return apart <= tolerance;
}

FACE* Ve_BodyCleaner::faceAcrossEdge(EDGE* edge, FACE* face)
{
    COEDGE* c = edge ? edge->coedge() : nullptr;
    if (!c)
        return nullptr;
    FACE* first = c->loop() ? c->loop()->face() : nullptr;
    if (first && first != face)
        return first;
    COEDGE* p = c->partner();
    FACE* second = p && p->loop() ? p->loop()->face() : nullptr;
    return second != face ? second : nullptr;
}

bool Ve_BodyCleaner::collapseSliverFace(FACE* face, double tolerance)
{
    EDGE* s[4];
    if (!face || !sides(face, s))
        return false;
    const bool sA = isSliverFace(faceAcrossEdge(s[0], face), tolerance);
    const bool sC = isSliverFace(faceAcrossEdge(s[2], face), tolerance);
    const double la = lengthOf(s[0]), lc = lengthOf(s[2]);
    const bool swap = (sA && !sC) || (sA == sC && lc > la);
    EDGE* x = swap ? s[2] : s[0];
    EDGE* y = swap ? s[3] : s[1];
    EDGE* z = swap ? s[0] : s[2];
    EDGE* w = swap ? s[1] : s[3];
    FACE* fx = faceAcrossEdge(x, face);
    FACE* fy = faceAcrossEdge(y, face);
    FACE* fz = faceAcrossEdge(z, face);
    FACE* fw = faceAcrossEdge(w, face);
    if (!fx || !fy || !fz || !fw || fx == fy || fx == fz || fx == fw)
        return false;

    kf(face, 1);
    COEDGE* k = x->coedge();
    if (!k || k->partner())
        velm_api_error_throw(VELM_BAD_ARGUMENT); // the dropped edge must be left with one side
    for (VERTEX* v : {y->start(), y->end()})
        referTo(v, x, y);
    for (VERTEX* v : {w->start(), w->end()})
        referTo(v, x, w);
    x->set_coedge(nullptr);
    k->set_edge(y);
    for (VERTEX* v : {x->start(), x->end()})
        if (v)
            v->delete_edge(x);
    x->lose();

    COEDGE* yFirst = y->coedge();
    COEDGE* zFirst = z->coedge();
    COEDGE* wFirst = w->coedge();
    COEDGE* after = k->next();
    auto* n1 = velm_require(new (0, "ve_edgeutl", 1712, nullptr) COEDGE(z, opposite(zFirst->sense()), k, nullptr));
    auto* n2 = velm_require(new (0, "ve_edgeutl", 1713, nullptr) COEDGE(w, opposite(wFirst->sense()), n1, after));
    k->set_sense(opposite(yFirst->sense()));
    k->set_geometry(nullptr);
    k->set_next(n1);
    n1->set_next(n2);
    after->set_previous(n2);
    n1->set_loop(k->loop());
    n2->set_loop(k->loop());
    k->set_partner(yFirst);
    yFirst->set_partner(k);
    n1->set_partner(zFirst);
    zFirst->set_partner(n1);
    n2->set_partner(wFirst);
    wFirst->set_partner(n2);

    for (COEDGE* c : {k, n1, n2})
        ve_add_loop_pcurves(c);
    for (EDGE* e : {y, z, w}) {
        TEDGE* te = replace_edge_with_tedge(e);
        for (VERTEX* v : {te->start(), te->end()})
            if (v && is_TVERTEX(v))
                static_cast<TVERTEX*>(v)->set_update(0);
        update_edge_tolerance(te);
    }
    (void)tolerance;
    return true;
}

bool Ve_BodyCleaner::isSmallTolerantEdge(Ve_EdgeTag* edgeTag)
{
    EDGE* edge = reinterpret_cast<EDGE*>(edgeTag);
    const curve* c = curveOf(edge);
    if (!c || edge->start() == edge->end() || !edge->start() || !edge->end())
        return false;
    const double ts = edge->start()->get_tolerance();
    const double te = edge->end()->get_tolerance();
    if (ts == 0.0 && te == 0.0)
        return false;
    double length = 0.0;
    if (velmGuard([&] {
            // The curve's own range when it lies within the edge's, else the edge's.
            QELinterval range = edge_curve_range(edge);
            const QELinterval own = c->param_range();
            if (own.finite() && own.length() <= range.length())
                range = own;
            length = c->length(range.start_pt(), range.end_pt(), true);
        }) != 0)
        return false;
    if (ts > 1.0 && te > 1.0)
        return length < 0.001;
    const double tMax = std::max({ts, te, QELresabs});
    if (tMax > 0.1)
        return false;
    const QELXPoint3D p = ve_view<Ve_VertexTag>(edge->start())->getPoint();
    const QELXPoint3D q = ve_view<Ve_VertexTag>(edge->end())->getPoint();
    if (!(tMax > p.Distance(q)))
        return false;
    return c->type() == kStraight || tMax > length;
}

void Ve_BodyCleaner::removeSmallTolerantEdges(bool)
{
    if (!body)
        return;
    QELXHashList<Ve_EdgeTag*> visited;
    for (FACE* face : ve_repair::bodyFaces(kernelBody(body))) {
        if (!ve_repair::alive(face))
            continue;
        ENTITY_LIST loops;
        api_get_loops(face, loops);
        for (LOOP* loop : ve_repair::listed<LOOP>(loops)) {
            if (!ve_repair::alive(loop) || !loop->start() || loop->start()->next() == loop->start())
                continue;
            int count = 0;
            std::size_t steps = 0;
            const std::size_t limit = 2 * ringSize(loop) + 2;
            for (COEDGE* c = loop->start(); c && steps < limit; ++steps) {
                Ve_EdgeTag* e = ve_view<Ve_EdgeTag>(c->edge());
                if (!visited.Contains(e)) {
                    visited.Add(e);
                    if (isSmallTolerantEdge(e) && ve_repair::removeEdgeAlone(c->edge(), true)) {
                        // Back to where the walk was: the coedge after the removed one.
                        c = loop->start();
                        for (int k = 0; c && k < count; ++k)
                            c = c->next();
                        if (count > 0 && c == loop->start())
                            break;
                        continue;
                    }
                }
                ++count;
                c = c->next();
                if (c == loop->start())
                    break;
            }
        }
    }
}

void Ve_BodyCleaner::removeSingleVertexSmallLinearEdges(double length)
{
    if (!body)
        return;
    for (EDGE* edge : ve_repair::bodyEdges(kernelBody(body))) {
        if (!ve_repair::alive(edge) || !isStraight(edge))
            continue;
        ENTITY_LIST vertices;
        api_get_vertices(edge, vertices);
        const double l = lengthOf(edge);
        if (vertices.count() == 1 && l >= 0.0 && l < length)
            ve_repair::removeEdgeAlone(edge, false);
    }
}

bool Ve_BodyCleaner::removeBadUVFace(FACE* face)
{
    return removeBadUVFaceAt(face, 0) != BadFaceKept;
}

void Ve_BodyCleaner::removeBadUVFaces()
{
    removeBadUVFaces(0);
}

int Ve_BodyCleaner::removeBadUVFaceAt(FACE* face, int depth)
{
    if (!body || !ve_repair::alive(face))
        return BadFaceKept;
    const spline* sp = ve_repair::splineOf(face);
    if (!sp)
        return BadFaceKept;
    const Gk_Span span = ve_view<Ve_FaceTag>(face)->getSpan();
    if (span.u().length() > 0.0 && span.v().length() > 0.0)
        return BadFaceKept;
    BODY* b = kernelBody(body);
    const int before = faceCount(b);
    bool split = false;
    if (depth < kMaxBadFacePasses) {
        if (sp->closed_u() || sp->periodic_u()) {
            splitFaceAtMidParameter(face, true);
            split = true;
        } else if (sp->closed_v() || sp->periodic_v()) {
            splitFaceAtMidParameter(face, false);
            split = true;
        }
    }
    if (split && faceCount(b) > before) {
        removeBadUVFaces(depth + 1);
        return BadFaceSplit;
    }
    velmCall([&] {
        BODY* alone = nullptr;
        outcome r = api_unhook_face(face, alone);
        if (r.ok())
            r = api_delent(alone);
        return r;
    });
    return BadFaceRemoved;
}

void Ve_BodyCleaner::removeBadUVFaces(int depth)
{
    if (!body)
        return;
    // A split starts a fresh pass over the faces as they then are, which
    // finishes the work: this pass, whose list is stale now, ends there.
    for (FACE* face : ve_repair::bodyFaces(kernelBody(body)))
        if (ve_repair::alive(face) && removeBadUVFaceAt(face, depth) == BadFaceSplit)
            return;
}
