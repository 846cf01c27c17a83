// The STEP healing sequence and the face fixes it calls.
#include "heal/step_healer.hxx"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "geometry/geometry_dumps.hxx"
#include "geometry/seam_pcurves.hxx"
#include "heal/heal_internal.hxx"
#include "heal/repair_utils.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_watch.hxx"
#include "loops/loop_repair.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_options.hxx"
#include "repair/body_cleaner.hxx"
#include "repair/edge_processor.hxx"
#include "repair/fix_pcurve.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "repair/vertex_util.hxx"
#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/split_disc.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

using ve_repair::listed;

namespace {

BODY* stepBodyOf(Ve_BodyTag* body) { return reinterpret_cast<BODY*>(body); }
Ve_BodyTag* stepTagOf(BODY* body) { return reinterpret_cast<Ve_BodyTag*>(body); }

const surface* stepSurfaceOf(const FACE* face)
{
    return face && face->geometry() && face->geometry()->has_equation() ? &face->geometry()->equation() : nullptr;
}

bool onCurve(const curve& c, const QELposition& p)
{
    QELposition foot;
    QELvector tangent;
    c.point_perp(p, foot, tangent);
    return (foot - p).len() <= QELresabs;
}

// An edge made tolerant where its geometry needs it: the kernel's update for
// a tolerant edge, else the tolerance test of the edge view.
EDGE* tolerateEdge(EDGE* edge)
{
    if (is_TEDGE(edge)) {
        update_edge_tolerance(static_cast<TEDGE*>(edge), 0);
        return edge;
    }
    EDGE* replaced = nullptr;
    ve_view<Ve_EdgeTag>(edge)->setTolerance_New(&replaced);
    return replaced ? replaced : edge;
}

void markTolerantEnds(EDGE* edge)
{
    for (VERTEX* v : {edge->start(), edge->end()})
        if (v && is_TVERTEX(v))
            static_cast<TVERTEX*>(v)->set_update(1);
}

void makeTolerantVertex(VERTEX* vertex)
{
    if (!vertex)
        return;
    if (is_TVERTEX(vertex)) {
        update_vertex_tolerance(vertex, 0);
        return;
    }
    TVERTEX* made = nullptr;
    api_replace_vertex_with_tvertex(vertex, made);
}

std::vector<COEDGE*> coedgesOf(EDGE* edge)
{
    ENTITY_LIST coedges;
    api_get_coedges(edge, coedges);
    return listed<COEDGE>(coedges);
}

// Distinct knots of a B-spline with their multiplicity.
struct BreakPoint {
    double value;
    int multiplicity;
};
std::vector<BreakPoint> breakPoints(bs3_curve bs)
{
    int n = 0;
    double* knots = nullptr;
    bs3_curve_knots(bs, n, knots);
    std::vector<BreakPoint> out;
    for (int i = 0; i < n; ++i) {
        if (!out.empty() && std::fabs(out.back().value - knots[i]) <= Gk_Def::FuzzKnot)
            ++out.back().multiplicity;
        else
            out.push_back({knots[i], 1});
    }
    delete[] knots;
    return out;
}

bool exactlySamePoint(const QELposition& a, const QELposition& b)
{
    return a.x() == b.x() && a.y() == b.y() && a.z() == b.z();
}

void addBreakOnce(QELXDynamicArray<double>& params, double t)
{
    for (int i = 0; i < params.Count(); ++i)
        if (params[i] == t)
            return;
    params.Add(t);
}

// Whether the loop's two edges retrace each other: the straight pair runs
// A->B and B->A; an intcurve pair meets at the thirds of its parameters.
bool isWireLoop(LOOP* loop)
{
    COEDGE* first = loop->start();
    if (!first || first->next() == first || first->next()->next() != first)
        return false;
    EDGE* e1 = first->edge();
    EDGE* e2 = first->next()->edge();
    if (!e1 || !e2 || !e1->geometry() || !e2->geometry() || !e1->geometry()->has_equation() ||
        !e2->geometry()->has_equation())
        return false;
    const QELposition s1 = e1->start_pos(), f1 = e1->end_pos(), s2 = e2->start_pos(), f2 = e2->end_pos();
    if (!exactlySamePoint(s1, f2))
        return false;
    const curve& c1 = e1->geometry()->equation();
    const curve& c2 = e2->geometry()->equation();
    if (c1.type() == 1 && c2.type() == 1)
        return exactlySamePoint(f1, s2);
    if (c1.type() != 11 || c2.type() != 11)
        return false;
    bool same = false;
    velmCall([&] {
        bs3_curve b1 = static_cast<const intcurve&>(c1).cur(-1.0);
        bs3_curve b2 = static_cast<const intcurve&>(c2).cur(-1.0);
        if (!b1 || !b2)
            return;
        const double u0 = c1.param(s1), u1 = c1.param(f1), w0 = c2.param(s2), w1 = c2.param(f2);
        same = (c1.eval_position((2 * u0 + u1) / 3) - c2.eval_position((w0 + 2 * w1) / 3)).len() <= 1e-13 &&
               (c1.eval_position((u0 + 2 * u1) / 3) - c2.eval_position((2 * w0 + w1) / 3)).len() <= 1e-13;
    });
    return same;
}

// A vertex of a removed wire loop that other edges still use gets a twin for
// the loop's edges, so that removing them leaves the others whole. The old
// vertex keeps a reference for each group of the edges that stay, and none
// to the loop's edges, wherever they stood in its list.
void detachLoopVertex(VERTEX* vertex, const std::vector<EDGE*>& loopEdges)
{
    ENTITY_LIST edges;
    api_get_edges(vertex, edges);
    if (edges.count() < 3)
        return;
    auto inLoop = [&](EDGE* e) { return std::find(loopEdges.begin(), loopEdges.end(), e) != loopEdges.end(); };
    VERTEX* twin = velm_require(VELM_NEW VERTEX(vertex->geometry()));
    for (EDGE* e : loopEdges) {
        if (e->start() == vertex)
            e->set_start(twin);
        if (e->end() == vertex)
            e->set_end(twin);
        vertex->delete_edge(e);
        if (!twin->edge() || !Ve_EdgeProcessor::sameEdgeGroup(twin, twin->edge(), e))
            twin->add_edge(e);
    }
    for (EDGE* other : listed<EDGE>(edges)) {
        if (inLoop(other))
            continue;
        bool grouped = false;
        for (int i = 0; vertex->edge(i) && !grouped; ++i)
            grouped = Ve_EdgeProcessor::sameEdgeGroup(vertex, vertex->edge(i), other);
        if (!grouped)
            vertex->add_edge(other);
    }
}

// Whether the loop runs back along itself: each coedge retraced by another
// of the loop, between the same vertices the other way and through the same
// middle (a seam walked both ways: a whole sphere or torus given by its seam,
// the two uses perhaps on edges of their own). Such a loop cuts nothing off
// its surface, and only its pcurves, a period apart, tell that the face
// covers the surface: without them a writer lays both uses on one line and
// the face covers nothing.
bool retracesItself(const LOOP* loop)
{
    const std::vector<const COEDGE*> ring = ve_seam_walk_ring(loop);
    if (ring.empty())
        return false;
    for (const COEDGE* c : ring) {
        if (!c->edge() || !c->edge()->geometry() || !c->start() || !c->end())
            return false;
        const QELposition middle = c->edge()->mid_pos();
        const bool retraced = std::any_of(ring.begin(), ring.end(), [&](const COEDGE* d) {
            return d != c && d->edge() && d->edge()->geometry() && d->start() == c->end() && d->end() == c->start() &&
                   distance(d->edge()->mid_pos(), middle) <= QELresabs;
        });
        if (!retraced)
            return false;
    }
    return true;
}

// Step 8 of the sequence: coedges on spline surfaces (and tolerant ones)
// get the pcurves they lack, others lose theirs; non-periodic surfaces are
// checked afresh. The faces are listed once: the body's view would walk the
// whole body for each face it is asked for, and nothing here adds or
// removes a face.
void healPCurves(BODY* b)
{
    ENTITY_LIST faces;
    raiseFailure(api_get_faces(b, faces));
    for (FACE* face : listed<FACE>(faces)) {
        const surface* srf = stepSurfaceOf(face);
        if (!srf)
            continue;
        ENTITY_LIST coedges;
        raiseFailure(api_get_coedges(face, coedges));
        for (COEDGE* c : listed<COEDGE>(coedges)) {
            if (srf->type() == 10 || is_TCOEDGE(c)) {
                if (!c->geometry())
                    Ve_FixPCurve::addPCurve(c);
            } else if (!(c->loop() && retracesItself(c->loop()))) {
                c->set_geometry(nullptr);
            }
        }
        if (!srf->periodic_u() && !srf->periodic_v()) {
            surface& update = face->geometry()->equation_for_update();
            update.unset_checked();
            update.set_checked();
        }
    }
}

} // namespace

// ---- the sequence -----------------------------------------------------------

int QELXStepVelmHealer::xstep_heal_body(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& result, bool,
                                        const std::string& label)
{
    if (!body)
        return 0;
    BODY* b = stepBodyOf(body);
    const bool skipExact = !Ve_OptionDoc::isOn(Ve_OptionDoc::SplitAllNonG1ContinuousFaces);

    ve_heal::StepWatch watch(body, label);
    watch.step("removeSmallEdges", [&] { Ve_PostProcessUtil(body).removeSmallEdges(Gk_Def::FuzzPos, true); });
    watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
    watch.step("removeSmallTolerantEdges", [&] { Ve_BodyCleaner(body).removeSmallTolerantEdges(true); });
    watch.step("makeVertTolIfReqd", [&] { makeVertTolIfReqd(b, true); });
    watch.step("splitG1DiscFaces", [&] { splitG1DiscFaces(body, skipExact); });

    watch.step("addPCurve", [&] { healPCurves(b); });

    ve_recipes::confinedStep(watch, label, "ve_repair_face_loops", [&] { ve_repair_face_loops(b); });

    // The shells are listed inside the step, so that a list the kernel
    // refuses is a failure the watch sees and says, not a merge left out.
    ve_heal::inTask("RemDuplVerticesByChangeVertGeomStart", "RemDuplVerticesByChangeVertGeomEnd",
                    "RemoveDuplicateVertices", [&] {
                        watch.step("remEntityDuplVerticesByChangeVertGeom", [&] {
                            ENTITY_LIST shells;
                            if (!api_get_shells(b, shells).ok())
                                return;
                            Ve_VertexUtil util(b);
                            if (shells.count() == 0)
                                util.remEntityDuplVerticesByChangeVertGeom(b);
                            for (int i = 0; i < shells.count(); ++i)
                                util.remEntityDuplVerticesByChangeVertGeom(shells[i]);
                        });
                    });

    // A body of one face: the loop repair may split faces off into bodies
    // of their own, listed before the body.
    LUMP* lump = b->lump();
    SHELL* shell = lump ? lump->shell() : nullptr;
    if (shell && shell->face() && !shell->face()->next()) {
        QELXDynamicArray<Ve_BodyTag*> made;
        // Taken back, the bodies it made are gone with it.
        if (!watch.step("QELXVelmLoopRepair", [&] {
                QELXVelmLoopRepair repair(b);
                repair.Repair();
                made = repair.getBodies();
            }))
            made.Clear();
        made.Add(body);
        for (int i = 0; i < made.Count(); ++i)
            result.Add(made[i]);
    }

    Gk_Option* class2 = Gk_OptionDoc::fetchOption(QELXOptionName::XStep_Import_Explode_Class2Wires);
    Gk_Option* class3 = Gk_OptionDoc::fetchOption(QELXOptionName::XStep_Import_Explode_Class3Wires);
    const bool explode = (!class2 || class2->on()) && (!class3 || class3->on());

    bool exploded = false;
    velmCall([&] {
        if (!explode || !body->isWireBody())
            return;
        ENTITY_LIST pieces;
        Ve_PostProcessUtil(body).ExplodeFaultyWireBody(pieces);
        exploded = pieces.count() > 0;
        // A body with faces as well as a wire comes back whole, and the
        // one-face step may have listed it already: each body once.
        for (BODY* piece : listed<BODY>(pieces))
            if (result.Find(stepTagOf(piece)) < 0)
                result.Add(stepTagOf(piece));
    });
    // A wire body kept whole has no lump but still stands for itself.
    if (result.Count() == 0 && !exploded)
        result.Add(body);

    ENTITY_LIST candidates, separated;
    for (int i = 0; i < result.Count(); ++i) {
        BODY* r = stepBodyOf(result[i]);
        if (!explode && is_wire_body(r))
            continue;
        candidates.add(r);
    }
    QELXVeRepairUtils::ve_separate_shells(candidates, separated);
    for (BODY* piece : listed<BODY>(separated))
        result.Add(stepTagOf(piece));
    return 1;
}

void QELXStepVelmHealer::makeVertTolIfReqd(ENTITY* entity, bool fixCurveGaps)
{
    ENTITY_LIST edges;
    if (!entity || !api_get_edges(entity, edges).ok())
        return;
    for (EDGE* edge : listed<EDGE>(edges)) {
        if (edge->is_lost())
            continue;
        // An edge without a curve (a point's body) has no range to ask for:
        // its vertex is where it is.
        if (edge->geometry() && edge->geometry()->has_equation()) {
            const curve& c = edge->geometry()->equation();
            for (VERTEX* v : {edge->end(), edge->start()}) {
                if (!v || is_TVERTEX(v) || !v->geometry())
                    continue;
                if (!onCurve(c, v->geometry()->coords())) {
                    TVERTEX* made = nullptr;
                    api_replace_vertex_with_tvertex(v, made);
                }
            }
        }
        for (COEDGE* c : coedgesOf(edge))
            fixCoedgeStartEndTolErrors(c);
        if (fixCurveGaps)
            fixCurveG0Errors(edge);
    }
}

void QELXStepVelmHealer::splitG1DiscFaces(Ve_BodyTag* body, bool skipExact)
{
    if (!body)
        return;
    std::vector<FACE*> made;
    velmCall([&] {
        ENTITY_LIST faces;
        api_get_faces(stepBodyOf(body), faces);
        for (FACE* face : listed<FACE>(faces)) {
            const surface* srf = stepSurfaceOf(face);
            if (!srf || srf->type() != 10)
                continue;
            const spline& spl = static_cast<const spline&>(*srf);
            if (skipExact && spl.get_spl_sur().id() == exact_spl_sur::id)
                continue;
            spline& update = static_cast<spline&>(face->geometry()->equation_for_update());
            update.change_event();
            int nu = 0, nv = 0;
            update.discontinuities_u(nu, 1);
            update.discontinuities_v(nv, 1);
            if (nu <= 0 && nv <= 0)
                continue;
            updateFaceDisContInfo(face);
            ENTITY_LIST pieces;
            const outcome split = api_split_face_at_disc(face, pieces, 1);
            if (!split.ok())
                sys_error(split.error_number(), split.get_error_info());
            for (FACE* piece : listed<FACE>(pieces))
                if (std::find(made.begin(), made.end(), piece) == made.end())
                    made.push_back(piece);
        }
    });
    for (FACE* face : made)
        makeVertTolIfReqd(face, false);
    ENTITY_LIST edges;
    for (FACE* face : made)
        api_get_edges(face, edges);
    for (EDGE* edge : listed<EDGE>(edges))
        if (!edge->is_lost())
            ve_view<Ve_EdgeTag>(edge)->setTolerance_New(nullptr);
    for (FACE* face : made)
        velmInnerCall([&] { stch_check_and_fix_tedges_in_entity(face); });
}

void QELXStepVelmHealer::ve_repair_face_loops(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    for (FACE* face : listed<FACE>(faces)) {
        if (face->is_lost())
            continue;
        int c[5] = {0, 0, 0, 0, 0};
        const bool checked = api_check_face_loops(face, c).ok();
        const surface* srf = stepSurfaceOf(face);
        bool areaTest = false;
        if (is_planar_face(face)) {
            if (!checked && c[0] > 1)
                checkAndRemoveWireLoops(face);
            areaTest = true;
        } else if (checked) {
            areaTest = is_conical_face(face) && c[0] != 1 && c[2] != 2;
        } else {
            if (c[0] > 1 && checkAndRemoveWireLoops(face))
                continue;
            if (removeFaceIfNeeded(face, c))
                continue;
            if (needsSplineFaceSplit(face, c))
                continue;
            if (srf)
                negateFaceGeom(face);
        }
        if (areaTest) {
            double area = 0.0;
            const bool measured = velmGuard([&] { area = ent_area_prop(face, 0.001).area(); }) == 0;
            if (measured && std::fabs(area) < QELresabs * QELresabs) {
                // A face removed is gone: nothing below may touch it.
                if (velmCall([&] { return api_remove_face(face); }).ok())
                    continue;
            } else if (measured && area < -Gk_Def::FuzzReal && srf) {
                negateFaceGeom(face);
            }
        }
        if (!is_planar_face(face) && is_conical_face(face) && !is_cylindrical_face(face))
            checkAndFixNullEdgeAtApexProb(face);
    }
}

void QELXStepVelmHealer::negateFaceGeom(FACE* face)
{
    if (!stepSurfaceOf(face))
        return;
    face->geometry()->equation_for_update().negate();
    for (LOOP* loop = face->loop(); loop; loop = loop->next())
        loop->set_classification(0);
}

// ---- edge breaks and pcurves ---------------------------------------------------

void QELXStepVelmHealer::getG1Discont(EDGE* edge, QELXDynamicArray<double>& params, bool& extraKnots)
{
    extraKnots = false;
    intcurve* ic = edge ? ve_repair::intcurveOf(edge) : nullptr;
    if (!ic || !ic->cur_present())
        return;
    ic->change_event();
    int n = 0;
    const double* reported = ic->discontinuities(n, 1);
    if (n <= 0)
        return;
    bs3_curve bs = ic->cur(-1.0);
    const QELinterval range = bs3_curve_range(bs);
    // The window runs between the curve parameters of the edge's vertices;
    // a closed edge of one vertex takes a period, or the whole curve when it
    // has none, so that its breaks are still found.
    // Knots are read in the B-spline's own direction; the intcurve's
    // parameters run against it when it is reversed.
    const double sign = ic->reversed() ? -1.0 : 1.0;
    double t0 = range.start_pt(), t1 = range.end_pt();
    double period = 0.0;
    if (edge->start() && edge->end() && edge->start()->geometry() && edge->end()->geometry()) {
        const QELposition a = edge->start()->geometry()->coords(), b = edge->end()->geometry()->coords();
        if (!arePositionsEqual(a, b)) {
            t0 = sign * ic->param(a);
            t1 = sign * ic->param(b);
            if (t0 > t1)
                std::swap(t0, t1);
        } else if (ic->periodic()) {
            t0 = sign * ic->param(a);
            period = ic->param_period();
            t1 = t0 + period;
        }
    }
    const int degree = bs3_curve_degree(bs);
    for (const BreakPoint& k : breakPoints(bs)) {
        if (std::fabs(k.value - range.start_pt()) <= Gk_Def::FuzzKnot ||
            std::fabs(k.value - range.end_pt()) <= Gk_Def::FuzzKnot)
            continue;
        if (k.multiplicity > degree)
            extraKnots = true;
        // A vertex near the curve's end starts the window a period past the
        // knots: each knot is taken in the period the window covers.
        const double at = period > 0.0 ? t0 + std::fmod(std::fmod(k.value - t0, period) + period, period) : k.value;
        if (k.multiplicity != degree || at <= t0 || at >= t1)
            continue;
        for (int i = 0; i < n; ++i)
            if (std::fabs(sign * reported[i] - k.value) <= 1e-6) {
                addBreakOnce(params, ic->reversed() ? -k.value : k.value);
                break;
            }
    }
}

bool QELXStepVelmHealer::getG0Discont(EDGE* edge, QELXDynamicArray<double>& params)
{
    intcurve* ic = edge ? ve_repair::intcurveOf(edge) : nullptr;
    if (!ic || !ic->cur_present())
        return false;
    bool degenerate = false;
    velmCall([&] {
        bs3_curve bs = ic->cur(-1.0);
        const int degree = bs3_curve_degree(bs);
        const std::vector<BreakPoint> knots = breakPoints(bs);
        // A spline of one distinct knot has no span at all: broken through.
        if (knots.size() == 1) {
            degenerate = true;
            return;
        }
        const bool periodic = bs3_curve_periodic(bs) != 0;
        const QELinterval range = bs3_curve_range(bs);
        const double sign = ic->reversed() ? -1.0 : 1.0;
        for (size_t i = periodic ? 0 : 1; i + 1 < knots.size(); ++i) {
            if (degree - knots[i].multiplicity >= 3)
                continue;
            const double k = knots[i].value;
            if (!periodic && (k - range.start_pt() < QELresnor || range.end_pt() - k < QELresnor))
                continue;
            // The first knot of a closed spline meets the end of its range.
            const double from = i == 0 ? k + range.length() : k;
            QELvector below[3], above[3];
            ic->eval_derivs(sign * from, 2, below, -static_cast<int>(sign));
            ic->eval_derivs(sign * k, 2, above, static_cast<int>(sign));
            if ((below[0] - above[0]).len() > QELresabs)
                addBreakOnce(params, sign * k);
        }
    });
    return degenerate || params.Count() > 0;
}

bool QELXStepVelmHealer::getG0G1DiscCont(EDGE* edge, QELXDynamicArray<double>& params)
{
    if (!edge)
        return false;
    bool extra = false;
    getG1Discont(edge, params, extra);
    if (extra) {
        intcurve* ic = ve_repair::intcurveOf(edge);
        bs3_curve fixed = bs3_curve_copy(ic->cur(-1.0));
        if (bs3_curve_fix_extra_knots(fixed)) {
            intcurve fresh(fixed, QELresabs);
            if (ic->reversed())
                fresh.negate();
            edge->set_geometry(make_curve(fresh), 1, 1);
            for (COEDGE* c : coedgesOf(edge)) {
                sg_rm_pcurves_from_entity(c, 0, 1);
                ve_refit_loop_pcurve(c);
            }
            markTolerantEnds(edge);
            params.Clear();
            getG1Discont(edge, params, extra);
        } else {
            bs3_curve_delete(fixed);
        }
    }
    if (params.Count() > 0)
        return true;
    return getG0Discont(edge, params);
}

void QELXStepVelmHealer::fixCurveG0Errors(EDGE* edge)
{
    if (!edge || isEdgeNonMani(edge))
        return;
    QELXDynamicArray<double> params;
    if (!getG0G1DiscCont(edge, params) || params.Count() == 0)
        return;
    QELXDynamicArray<double> positionBreaks;
    const bool positional = getG0Discont(edge, positionBreaks);
    if (!ve_repair::intcurveOf(edge))
        return;
    const curve& c = edge->geometry()->equation();
    // Break parameters on the edge, ascending along it.
    std::vector<double> along;
    for (int i = 0; i < params.Count(); ++i)
        along.push_back(edge->sense() == REVERSED ? -params[i] : params[i]);
    std::sort(along.begin(), along.end());

    // The splits and the pieces' own curves go as one unit: when the curve
    // the edge had before has no piece for one of them, the whole split is
    // taken back and the edge keeps its curve.
    const std::unique_ptr<curve> before(c.make_copy());
    const auto& whole = static_cast<const intcurve&>(*before);
    std::vector<EDGE*> pieces;
    std::vector<VERTEX*> made;
    bool undefined = false;
    const outcome cut = velmInnerCall([&] {
        pieces.assign(1, edge);
        EDGE* rest = edge;
        for (double t : along) {
            const QELposition p = whole.eval_position(edge->sense() == REVERSED ? -t : t);
            if (isCloseInTolerance(p, rest->start(), rest->end()))
                continue;
            VERTEX* vertex = nullptr;
            EDGE* next = nullptr;
            const outcome split = velmCall([&] {
                vertex = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(p))));
                next = sg_split_edge_at_vertex(rest, vertex);
            });
            if (!split.ok() || !next)
                continue;
            made.push_back(vertex);
            pieces.push_back(next);
            // Breaks run along the edge, so what is left of it is always the
            // new piece beyond the vertex.
            rest = next;
        }
        if (pieces.size() < 2)
            return;
        std::vector<std::unique_ptr<intcurve>> subsets;
        for (EDGE* piece : pieces) {
            QELinterval r = piece->param_range();
            if (piece->sense() == REVERSED)
                r = -r;
            subsets.emplace_back(whole.subset(r));
            if (!subsets.back()) {
                undefined = true;
                sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED));
            }
        }
        for (size_t k = 0; k < pieces.size(); ++k) {
            pieces[k]->set_geometry(make_curve(*subsets[k]), 1, 1);
            pieces[k]->set_param_range(nullptr);
        }
    });
    if (undefined) {
        // Taken back whole: the edge's range, pcurves and tolerance made
        // afresh as after any change of its curve.
        velmCall([&] {
            edge->set_param_range(nullptr);
            for (COEDGE* co : coedgesOf(edge))
                regenPCurve(co);
            tolerateEdge(edge);
        });
        return;
    }
    if (!cut.ok() || pieces.size() < 2)
        return;
    for (EDGE* piece : pieces)
        for (COEDGE* co : coedgesOf(piece))
            velmCall([&] {
                if (positional || is_TEDGE(piece) || hasPCurveErrors(co, co->loop() ? co->loop()->face() : nullptr))
                    regenPCurve(co);
            });
    for (VERTEX* v : made) {
        TVERTEX* t = nullptr;
        api_replace_vertex_with_tvertex(v, t);
    }
    std::vector<EDGE*> tolerant;
    for (EDGE* piece : pieces)
        tolerant.push_back(tolerateEdge(piece));
    for (EDGE* e : tolerant)
        if (is_TEDGE(e))
            for (COEDGE* co : coedgesOf(e))
                regenPCurve(co);
    for (EDGE* e : tolerant) {
        if (e->is_lost() || e->length() >= 1e-4)
            continue;
        if (Ve_VertexTag* kept = Ve_EdgeProcessor::removeEdge(ve_view<Ve_EdgeTag>(e), false))
            makeTolerantVertex(reinterpret_cast<VERTEX*>(kept));
    }
}

bool QELXStepVelmHealer::isCloseInTolerance(const QELposition& p, VERTEX* start, VERTEX* end)
{
    if (!start || !end)
        return false;
    for (VERTEX* v : {start, end}) {
        const double d = getDistance(p, v->geometry()->coords());
        if (d < QELresabs || d < v->get_tolerance())
            return true;
    }
    return false;
}

bool QELXStepVelmHealer::arePositionsEqual(const QELposition& a, const QELposition& b)
{
    return std::fabs(a.x() - b.x()) <= QELresabs && std::fabs(a.y() - b.y()) <= QELresabs &&
           std::fabs(a.z() - b.z()) <= QELresabs;
}

double QELXStepVelmHealer::getDistance(const QELposition& a, const QELposition& b) { return (a - b).len(); }

bool QELXStepVelmHealer::hasPCurveErrors(COEDGE* coedge, FACE* face)
{
    if (!coedge || !face || !coedge->geometry() || !stepSurfaceOf(face) || !coedge->edge() ||
        !coedge->edge()->geometry() || !coedge->edge()->geometry()->has_equation())
        return false;
    bool bad = false;
    velmCall([&] {
        EDGE* edge = coedge->edge();
        double t0 = 0.0, t1 = 0.0;
        sg_get_params(edge, t0, t1);
        const bool flipped = coedge->sense() != edge->sense();
        const surface& srf = *stepSurfaceOf(face);
        const curve& c = edge->geometry()->equation();
        const pcurve pc = coedge->geometry()->equation();
        for (int i = 0; i <= 3 && !bad; ++i) {
            double t = t0 + i * (t1 - t0) / 3.0;
            const double pt = flipped ? -t : t;
            const QELpar_pos uv0 = pc.eval_position(pt);
            if ((i == 0 || i == 3) && (srf.singular_u(uv0.u) || srf.singular_v(uv0.v)))
                t = t0 + (i == 0 ? 0.01 : 0.99) * (t1 - t0);
            const double ct = edge->sense() == REVERSED ? -t : t;
            const QELposition P = c.eval_position(ct);
            QELvector D = c.eval_deriv(ct);
            if (edge->sense() == REVERSED)
                D = -D;
            if (coedge->sense() == REVERSED)
                D = -D;
            const double q = flipped ? -t : t;
            // A sample past the end of a pcurve that does not wrap round says nothing.
            const QELinterval own = pc.param_range();
            if (pc.param_period() <= 0.0 && (q < own.start_pt() - QELresabs || q > own.end_pt() + QELresabs))
                continue;
            QELpar_pos uv;
            QELpar_vec duv;
            pc.eval(q, uv, &duv);
            QELposition Q;
            QELvector d1[2];
            srf.eval(uv, Q, d1);
            QELvector T = d1[0] * duv.du + d1[1] * duv.dv;
            // Too short a tangent to tell a direction by: the spline's own net.
            if (T.len() < QELresmch && srf.type() == 10)
                if (const bs3_surface net = static_cast<const spline&>(srf).sur()) {
                    QELposition at;
                    QELvector d[2];
                    bs3_surface_eval(uv, net, at, d);
                    T = d[0] * duv.du + d[1] * duv.dv;
                }
            bad = (T % D) < 0.0 || (P - Q).len() > QELresabs;
        }
    });
    return bad;
}

void QELXStepVelmHealer::regenPCurve(COEDGE* coedge)
{
    if (!coedge || !coedge->edge())
        return;
    EDGE* edge = coedge->edge();
    sg_rm_pcurves_from_entity(coedge, 0, 1);
    intcurve* ic = ve_repair::intcurveOf(edge);
    if (ic && (ic->pcur_present(1) || ic->pcur_present(2)) && ic->cur_present()) {
        intcurve plain(bs3_curve_copy(ic->cur(-1.0)), QELresabs);
        if (ic->reversed())
            plain.negate();
        edge->set_geometry(make_curve(plain), 1, 1);
    }
    // Fitted into the surface's principal range: placed round its period to
    // join the coedges beside it.
    ve_refit_loop_pcurve(coedge);
    markTolerantEnds(edge);
}

void QELXStepVelmHealer::fixCoedgeStartEndTolErrors(COEDGE* coedge)
{
    if (!coedge || !coedge->loop() || !coedge->loop()->face())
        return;
    auto widen = [&](VERTEX* v, bool atStart) {
        if (!is_TVERTEX(v) || !is_TCOEDGE(coedge))
            return;
        const QELposition own = atStart ? coedge->start_pos() : coedge->end_pos();
        const double d = getDistance(own, v->geometry()->coords());
        TVERTEX* tv = static_cast<TVERTEX*>(v);
        if (d - tv->get_tolerance() > QELresabs)
            tv->set_tolerance(d);
    };
    VERTEX* start = coedge->start();
    if (start && start->geometry()) {
        widen(start, true);
        return;
    }
    VERTEX* end = coedge->end();
    if (end && end != start && end->geometry())
        widen(end, false);
}

bool QELXStepVelmHealer::isEdgeNonMani(EDGE* edge)
{
    if (!edge || !edge->coedge())
        return false;
    int n = 0;
    COEDGE* c = edge->coedge();
    do {
        ++n;
        c = c->partner();
    } while (c && c != edge->coedge() && n <= 3);
    return n > 2;
}

// ---- face fixes -------------------------------------------------------------------

bool QELXStepVelmHealer::checkAndRemoveWireLoops(FACE* face)
{
    if (!face)
        return false;
    std::vector<LOOP*> wireLoops;
    int loops = 0;
    for (LOOP* loop = face->loop(); loop; loop = loop->next(), ++loops)
        if (isWireLoop(loop))
            wireLoops.push_back(loop);
    if (wireLoops.empty() || static_cast<int>(wireLoops.size()) == loops)
        return false;
    for (LOOP* loop : wireLoops) {
        std::vector<EDGE*> edges{loop->start()->edge(), loop->start()->next()->edge()};
        for (VERTEX* v : {edges[0]->start(), edges[0]->end()})
            detachLoopVertex(v, edges);
        extract_loop(loop);
        api_del_entity(loop);
    }
    return true;
}

void QELXStepVelmHealer::checkAndFixNullEdgeAtApexProb(FACE* face)
{
    if (!face)
        return;
    bool apexFault = false;
    const bool checked = velmInnerCall([&] {
                             insanity_list* found = sg_check_conical_face(face);
                             apexFault = found && found->exist(qelvelm_insanity_errmod.message_code(insanity_bad_apex_edge));
                             delete found;
                         }).ok();
    if (!checked || !apexFault)
        return;
    ENTITY_LIST edges;
    api_get_edges(face, edges);
    changeEdgeCrvToExactIntCurves(edges);
}

void QELXStepVelmHealer::changeEdgeCrvToExactIntCurves(const ENTITY_LIST& edges)
{
    ENTITY* owner = nullptr;
    for (int i = 0; i < edges.count() && !owner; ++i)
        owner = edges[i];
    if (!owner)
        return;
    // The same replacement as the repair toolbox's; its body binding is not used by it.
    BODY* body = nullptr;
    for (ENTITY* e = owner; e; e = e->owner())
        if (is_BODY(e))
            body = static_cast<BODY*>(e);
    if (!body)
        return;
    velmInnerCall([&] { Ve_PostProcessUtil(stepTagOf(body)).ReplaceEdgeCrvWithExactIntCurves(edges); });
}

void QELXStepVelmHealer::updateFaceDisContInfo(FACE* face)
{
    ENTITY_LIST edges;
    api_get_edges(face, edges);
    std::vector<const surface*> done;
    for (EDGE* edge : listed<EDGE>(edges)) {
        intcurve* ic = ve_repair::intcurveOf(edge);
        if (!ic)
            continue;
        for (const surface* s : {ic->surf1(), ic->surf2()}) {
            if (!s || s->type() != 10 || std::find(done.begin(), done.end(), s) != done.end())
                continue;
            done.push_back(s);
            const_cast<surface*>(s)->change_event();
        }
    }
}

bool QELXStepVelmHealer::needsSplineFaceSplit(FACE* face, const int* c)
{
    const surface* srf = stepSurfaceOf(face);
    if (!srf || !(c[2] > 0 || c[3] > 0) || srf->type() != 10 || c[0] + c[1] + c[2] + c[3] + c[4] == 1)
        return false;
    ve_view<Ve_FaceTag>(face)->processForPeriodicity(false);
    return true;
}

bool QELXStepVelmHealer::removeFaceIfNeeded(FACE* face, const int* c)
{
    const surface* srf = stepSurfaceOf(face);
    if (!srf || c[0] != 0)
        return false;
    if (is_cylindrical_face(face))
        return c[2] == 1;
    if (is_toroidal_face(face))
        return c[3] == 1 || c[2] == 1;
    return false;
}

// ---- offered beside the sequence ---------------------------------------------------

void QELXStepVelmHealer::subsetFaces(const QELXDynamicArray<FACE*>& faces)
{
    velmCall([&] {
        for (int i = 0; i < faces.Count(); ++i) {
            FACE* face = faces[i];
            const spline* old = ve_repair::splineOf(face);
            if (!old)
                continue;
            QELpar_box box;
            bool boxed = false;
            if (!velmCall([&] { boxed = sg_get_face_par_box(face, box); }).ok() || !boxed)
                continue;
            std::unique_ptr<spline> cut;
            if (!velmCall([&] { cut.reset(old->subset(box)); }).ok() || !cut)
                continue;
            // The check reads the surface the face had, before it is replaced.
            const int status = ve_heal::firstSurfaceStatus(*old, {status_irregular, status_self_intersecting});
            face->set_geometry(make_surface(*cut));
            if (status == status_irregular || status == status_self_intersecting)
                continue;
            for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
                ENTITY_LIST coedges;
                api_get_coedges(loop, coedges);
                for (COEDGE* c : listed<COEDGE>(coedges))
                    regenPCurve(c);
            }
        }
    });
}

bool QELXStepVelmHealer::isSurfValid(const surface& srf)
{
    // A check that could not be made vouches for nothing: the surface counts
    // as not valid, as the IGES recipe's check counts it.
    for (const int status : {status_coincident_points, status_irregular, status_self_intersecting}) {
        const int found = ve_heal::firstSurfaceStatus(srf, {status});
        if (found == status || found == -2)
            return false;
    }
    return true;
}

bool QELXStepVelmHealer::changeGeomIfReqdForDeg1(EDGE* edge)
{
    intcurve* ic = ve_repair::intcurveOf(edge);
    if (!ic || !ic->cur_present())
        return false;
    const ve_heal::Bs3CurveArrays a(ic->cur(-1.0));
    if (a.degree != 1 || a.count != 3 || a.knotCount != 5)
        return false;
    const int rational = a.rational;
    const QELposition ends[2] = {a.points[0], a.points[2]};
    const double endWeights[2] = {a.weights ? a.weights[0] : 1.0, a.weights ? a.weights[2] : 1.0};
    const double kept[4] = {a.knots[0], a.knots[1], a.knots[3], a.knots[4]};
    bool changed = false;
    velmCall([&] {
        bs3_curve line = bs3_curve_from_ctrlpts(1, rational, 0, 0, 2, ends, rational ? endWeights : nullptr, QELresabs,
                                                4, kept, bs3_curve_knottol());
        if (!line)
            return;
        intcurve shorter(line, QELresabs);
        if (ic->reversed())
            shorter.negate();
        edge->set_geometry(make_curve(shorter), 1, 1);
        edge->set_param_range(nullptr);
        for (COEDGE* c : coedgesOf(edge))
            regenPCurve(c);
        tolerateEdge(edge);
        changed = true;
    });
    return changed;
}

outcome QELXStepVelmHealer::CreateNewWireBody(EDGE* edge, BODY*& body)
{
    body = nullptr;
    if (!edge)
        return outcome(1);
    EDGE* copy = static_cast<EDGE*>(copy_single_entity(edge));
    if (!copy)
        return outcome(1);
    if (!copy->coedge() && edge->coedge()) {
        COEDGE* original = edge->coedge();
        const outcome made = velmCall([&] {
            COEDGE* c = is_TCOEDGE(original) ? velm_require(VELM_NEW TCOEDGE(copy, original->sense()))
                                             : velm_require(VELM_NEW COEDGE(copy, original->sense()));
            c->set_next(c);
            c->set_previous(c);
        });
        if (!made.ok()) {
            api_del_entity(copy);
            return made;
        }
    }
    const outcome wired = api_make_ewire(1, &copy, body);
    if (!wired.ok())
        api_del_entity(copy);
    return wired;
}

namespace {

// Process-wide and unprotected: the dumps are a debugging aid.
int g_bodyDumps = 0;

} // namespace

void QELXStepVelmHealer::dump_body(ENTITY* entity, const char* prefix)
{
    if (!entity)
        return;
    const std::string name = std::string(prefix ? prefix : "Body") + std::to_string(g_bodyDumps++) + ".vlt";
    setDumpFileInfo();
    dumpEntity(entity, name.c_str());
}

void QELXStepVelmHealer::debug_wire_body_dump(const curve* c)
{
    if (!c)
        return;
    EDGE* edge = nullptr;
    BODY* wire = nullptr;
    if (!api_make_edge_from_curve(c, edge).ok() || !edge)
        return;
    if (!api_make_ewire(1, &edge, wire).ok() || !wire) {
        api_del_entity(edge);
        return;
    }
    dump_body(wire, "wire");
    // Made for the file alone.
    api_del_entity(wire);
}
