// Splitting closed and periodic spline faces, and the pre-export periodic
// split with the pcurve fixes that follow it.
#include "heal/periodic_split.hxx"

#include <cmath>
#include <memory>

#include "geometry/seam_pcurves.hxx"
#include "heal/heal_internal.hxx"
#include "model/entity_views.hxx"
#include "repair/fix_pcurve.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/body_heal.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

// Split lines this close to a vertex but not through it would leave a tiny edge.
constexpr double kOnLine = 1e-6;
constexpr double kTooNear = 0.0001;

double pointOnCurveTest(const curve* c, const QELposition& p, double tol)
{
    if (!c)
        return -1.0;
    return distance(p, c->closest_point(p)) < tol ? 1.0 : 0.0;
}

// Whether a split of the face along the iso-line at the parameter leaves no
// tiny edge and does not run along an edge of the face.
bool faceSplitLeavesNoSmallEdges(const FACE* face, double param, bool inU)
{
    if (!face)
        return false;
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::ChkForSmallEdges))
        return true;
    const spline* s = ve_repair::splineOf(face);
    if (!s)
        return true;
    const std::unique_ptr<curve> line(inU ? s->v_param_line(param) : s->u_param_line(param));
    if (!line)
        return true;
    double nearest = -1.0;
    std::vector<EDGE*> onLine;
    for (const LOOP* l = face->loop(); l; l = l->next()) {
        const COEDGE* first = l->start();
        const COEDGE* c = first;
        do {
            if (!c)
                break;
            if (const VERTEX* v = c->start(); v && v->geometry()) {
                const double d = distance(v->geometry()->coords(), line->closest_point(v->geometry()->coords()));
                if (d > kOnLine && d < kTooNear)
                    return false;
                if (nearest < 0.0 || d < nearest)
                    nearest = d;
                if (d < kOnLine && c->edge() && std::find(onLine.begin(), onLine.end(), c->edge()) == onLine.end())
                    onLine.push_back(c->edge());
            }
            c = c->next();
        } while (c != first);
    }
    if (nearest > kOnLine && nearest < kTooNear)
        return false;
    if (!(nearest < kOnLine))
        return true;
    for (const EDGE* e : onLine) {
        if (!e->start() || !e->end() || !e->start()->geometry() || !e->end()->geometry())
            continue;
        if (pointOnCurveTest(line.get(), e->start()->geometry()->coords(), kOnLine) == 0.0 ||
            pointOnCurveTest(line.get(), e->end()->geometry()->coords(), kOnLine) == 0.0)
            continue;
        const CURVE* cu = e->geometry();
        if (!cu || !cu->has_equation())
            continue;
        const QELinterval r = e->param_range();
        const double mid = 0.5 * (r.start_pt() + r.end_pt()) * (e->sense() == REVERSED ? -1.0 : 1.0);
        if (pointOnCurveTest(line.get(), cu->equation().eval_position(mid), kOnLine) != 0.0)
            return false;
    }
    return true;
}

void fitCoedgePCurvesToEdgeRange(EDGE* edge)
{
    QELinterval e;
    if (velmGuard([&] { e = edge->param_range(); }) != 0 || !e.finite())
        return;
    COEDGE* first = edge->coedge();
    COEDGE* c = first;
    do {
        if (!c)
            break;
        COEDGE* next = c->partner();
        if (PCURVE* pc = c->geometry()) {
            const bool reversed = c->sense() != edge->sense();
            const QELinterval want = reversed ? -e : e;
            if (!pc->has_equation()) {
                c->set_geometry(nullptr);
            } else {
                const QELinterval p = pc->def().param_range();
                const double fuzz = QELresnor;
                const bool covers = p.finite() && want.start_pt() >= p.start_pt() - fuzz &&
                                    want.end_pt() <= p.end_pt() + fuzz;
                const bool same = p.finite() && std::fabs(p.start_pt() - want.start_pt()) <= fuzz &&
                                  std::fabs(p.end_pt() - want.end_pt()) <= fuzz;
                if (covers && !same) {
                    const std::unique_ptr<pcurve> cut(pc->def().trim(want));
                    if (cut)
                        c->set_geometry(VELM_MAKE(PCURVE, *cut));
                } else if (!covers && !is_TCOEDGE(c)) {
                    c->set_geometry(nullptr);
                }
            }
        }
        c = next;
    } while (c && c != first);
}

void fixEdgeCurvesAndAddSplinePCurves(Ve_BodyTag* body)
{
    const QELXDynamicArray<Ve_EdgeTag*> edges = body->getEdges();
    for (int i = 0; i < edges.Count(); ++i) {
        EDGE* edge = reinterpret_cast<EDGE*>(edges[i]);
        velmInnerCall([&] { fitCoedgePCurvesToEdgeRange(edge); });
    }
    const QELXDynamicArray<Ve_FaceTag*> faces = body->getFaces();
    for (int i = 0; i < faces.Count(); ++i) {
        FACE* face = reinterpret_cast<FACE*>(faces[i]);
        if (ve_repair::splineOf(face))
            velmInnerCall([&] { ve_add_loop_pcurves(face); });
    }
}

} // namespace

void splitFaceAtMidParameter(FACE* face, bool inU)
{
    const spline* s = face ? ve_repair::splineOf(face) : nullptr;
    if (!s)
        return;
    const bool wraps = inU ? (s->periodic_u() || s->closed_u()) : (s->periodic_v() || s->closed_v());
    if (!wraps)
        return;
    const QELpar_box box = s->param_range();
    const QELinterval range = inU ? box.u_range() : box.v_range();
    if (!range.finite())
        return;
    const int direction = inU ? 1 : 0;
    // The seam first: a face only closed (not periodic) there has none yet,
    // and a cut at its middle first would leave it bounded there and the
    // seam's cut refused, the face still whole.
    for (const double at : {range.end_pt(), range.mid_pt()})
        velmInnerCall([&] {
            if (faceSplitLeavesNoSmallEdges(face, at, inU))
                sg_split_face_at_parameter(face, direction, at);
        });
}

void Ve_BodyTag::SplitPeriodicSplineFaces()
{
    for (const bool inU : {true, false}) {
        ENTITY_LIST faces;
        velmCall([&] { return api_get_faces(getDef(), faces); });
        for (FACE* f : ve_repair::listed<FACE>(faces))
            splitFaceAtMidParameter(f, inU);
    }
}

void Ve_BodyTag::splitPeriodics()
{
    inTask("PreprocessSplitPeriodicStart", "PreprocessSplitPeriodicEnd", "PreprocessSplitPeriodic", [&] {
        if (!Ve_OptionDoc::isOn(Ve_OptionDoc::SplitPeriodicPreProcess))
            return;
        BODY* body = getDef();
        velmCall([&] { return api_split_periodic_faces(body); });
        SplitPeriodicSplineFaces();
        velmInnerCall([&] { sg_split_edges_at_poles(body); });
        const bool v5 = Ve_OptionDoc::isOn(Ve_OptionDoc::PreprocessBodyPreProcessV5);
        if (v5)
            splitDegreeOneEdgesAtDiscontinuities(body);
        splitClosedLoopEdges(body);
        fixEdgeCurvesAndAddSplinePCurves(this);
        if (v5)
            splitThreePoleSkinFaces(body);
    });
}
