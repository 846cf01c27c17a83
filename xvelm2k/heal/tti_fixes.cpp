// Tolerant-edge error fixes: pcurves that disagree with their edge curves,
// tolerant coedges the kernel's checks report, edges split at their curves'
// discontinuities and nearly closed intcurve edges closed.
#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_set>

#include "geometry/seam_pcurves.hxx"
#include "heal/heal_internal.hxx"
#include "model/entity_views.hxx"
#include "model/message_module.hxx"
#include "qelx/qelx_options.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

// End control points of a one-vertex intcurve closer than this are joined.
constexpr double kCloseGap = 0.00013;
constexpr int kCheckLevel = 30;

const FACE* loopFace(const COEDGE* c) { return c && c->loop() ? c->loop()->face() : nullptr; }
const surface* loopSurfaceOf(const FACE* f)
{
    return f && f->geometry() && f->geometry()->has_equation() ? &f->geometry()->equation() : nullptr;
}
bool hasPcurve(const COEDGE* c) { return c->geometry() != nullptr; }

// Four samples of the pcurve on the surface against the edge curve: true
// when a tangent points against the curve's or a point strays.
bool pcurveDisagreesWithEdge(const COEDGE* coedge, const FACE* face)
{
    if (!coedge || !face || !hasPcurve(coedge))
        return false;
    const EDGE* edge = coedge->edge();
    const CURVE* cu = edge ? edge->geometry() : nullptr;
    const surface* srf = loopSurfaceOf(face);
    if (!cu || !cu->has_equation() || !srf)
        return false;
    if (!coedge->geometry()->has_equation())
        return true;
    const pcurve pc = coedge->geometry()->def();
    QELinterval r = edge->param_range();
    if (!r.finite())
        return false;
    if (edge->sense() == REVERSED)
        r = -r;
    const double s = r.start_pt();
    const double L = r.length();
    const bool against = coedge->sense() != edge->sense();
    const double sign = against ? -1.0 : 1.0;
    double params[4] = {s, s + L / 3.0, s + 2.0 * L / 3.0, r.end_pt()};
    const spline* spl = dynamic_cast<const spline*>(srf);
    for (int k = 0; k < 4; ++k) {
        double t = params[k];
        QELpar_pos uv = pc.eval_position(sign * t);
        if (spl && (k == 0 || k == 3) && (srf->singular_u(uv.u) || srf->singular_v(uv.v))) {
            t = s + (k == 0 ? 0.01 : 0.99) * L;
            uv = pc.eval_position(sign * t);
        }
        const QELposition onCurve = cu->equation().eval_position(t);
        QELvector d = cu->equation().eval_deriv(t);
        if (against)
            d = -d;
        const QELinterval pr = pc.param_range();
        if (pc.param_period() == 0.0 && pr.finite() &&
            (sign * t < pr.start_pt() - QELresnor || sign * t > pr.end_pt() + QELresnor))
            continue;
        QELpar_vec duv;
        pc.eval(sign * t, uv, &duv);
        QELposition onSurface;
        QELvector d1s[2];
        srf->eval(uv, onSurface, d1s);
        QELvector tangent = d1s[0] * duv.du + d1s[1] * duv.dv;
        if (tangent.len() < QELresmch && spl) {
            QELposition p;
            QELvector d1[2];
            bs3_surface_eval(uv, spl->sur(-1.0), p, d1);
            tangent = d1[0] * duv.du + d1[1] * duv.dv;
        }
        if (tangent % d < 0.0 || distance(onSurface, onCurve) > QELresabs)
            return true;
    }
    return false;
}

bool surfaceCheckRaisesSplineError(const surface& srf)
{
    // Ends its task whatever the check raised, so the events stay paired.
    QELXStartTaskEvent::Fire("SplineSurfaceCheck", "SplineSurfaceCheck", kTaskLevel);
    check_fix input, result;
    input.tol1 = result.tol1 = QELresfit;
    int kept = 0;
    kept = velmGuard([&] {
        surface& s = const_cast<surface&>(srf);
        delete d3_sf_check(s, input, result, nullptr);
    });
    QELXEndTaskEvent::Fire(0, "SplineSurfaceCheck", "SplineSurfaceCheck", kTaskLevel, true);
    return kept != 0 && kept == qelvelm_splsur_errmod.message_code(10);
}

} // namespace

void ve_heal::rebuildCoedgePCurve(COEDGE* coedge)
{
    EDGE* edge = coedge ? coedge->edge() : nullptr;
    const surface* srf = loopSurfaceOf(loopFace(coedge));
    if (!edge || !srf)
        return;
    if (const spline* spl = dynamic_cast<const spline*>(srf))
        if (dynamic_cast<const off_spl_sur*>(&spl->get_spl_sur()) && surfaceCheckRaisesSplineError(*srf))
            return;
    sg_rm_pcurves_from_entity(coedge, 0, 1);
    if (const intcurve* ic = ve_repair::intcurveOf(edge); ic && (ic->pcur_present(1) || ic->pcur_present(2))) {
        intcurve plain(bs3_curve_copy(ic->cur(-1.0)), QELresabs);
        if (ic->reversed())
            plain.negate();
        edge->set_geometry(make_curve(plain), 1);
    }
    ve_refit_loop_pcurve(coedge);
    for (VERTEX* v : {edge->start(), edge->end()})
        if (v && is_TVERTEX(v))
            static_cast<TVERTEX*>(v)->set_update(1);
}

namespace {

bool tolerantVertexReachesNeighbour(const COEDGE* coedge)
{
    const EDGE* edge = coedge->edge();
    for (VERTEX* v : {edge->start(), edge->end()}) {
        if (!v || !is_TVERTEX(v) || !v->geometry())
            continue;
        ENTITY_LIST around;
        sg_q_edges_around_vertex(v, &around);
        for (const EDGE* e : ve_repair::listed<EDGE>(around)) {
            const VERTEX* other = e->start() == v ? e->end() : e->start();
            if (!other || !other->geometry())
                return false;
            if (v->get_tolerance() > distance(v->geometry()->coords(), other->geometry()->coords()))
                return true;
        }
    }
    return false;
}

COEDGE* splitEdgeAtParameters(COEDGE* coedge, int count, const double* params, ENTITY_LIST& pieces)
{
    // The parameters are the curve's, which the kernel's split takes as they are.
    EDGE* edge = coedge->edge();
    const bool tolerant = is_TCOEDGE(coedge);
    COEDGE* out = nullptr;
    for (int k = 0; k < count && edge; ++k) {
        const QELposition at = edge->geometry()->equation().eval_position(params[k]);
        auto* point = VELM_MAKE(APOINT, at);
        VERTEX* v = tolerant ? static_cast<VERTEX*>(VELM_MAKE(TVERTEX, point, 0.0)) : VELM_MAKE(VERTEX, point);
        ENTITY_LIST made;
        EDGE* rest = sg_split_edge_at_vertex(edge, v, params[k], &made);
        for (int i = 0; i < made.count(); ++i)
            pieces.add(made[i]);
        if (!out && made.count() > 0)
            out = static_cast<COEDGE*>(made[0]);
        edge = rest;
    }
    return out;
}

bool splitEdgeAtCurveDiscontinuities(COEDGE* coedge)
{
    if (!coedge || !loopFace(coedge) || !coedge->edge())
        return false;
    EDGE* edge = coedge->edge();
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation())
        return false;
    int n = 0;
    const double* disc = cu->equation().discontinuities(n, 2);
    if (n == 0)
        disc = cu->equation().discontinuities(n, 3);
    if (n == 0) {
        rebuildCoedgePCurve(coedge);
        return false;
    }
    QELinterval r = edge->param_range();
    if (edge->sense() == REVERSED)
        r = -r;
    const bool tedge = is_TEDGE(edge);
    std::vector<double> kept;
    for (int k = 0; k < n; ++k)
        if (disc[k] - r.start_pt() >= QELresabs && r.end_pt() - disc[k] >= QELresabs)
            kept.push_back(disc[k]);
    if (tedge && edge->sense() == REVERSED)
        std::reverse(kept.begin(), kept.end());
    COEDGE* split = tedge ? edge->coedge() : coedge;
    ENTITY_LIST pieces;
    if (!kept.empty()) {
        COEDGE* returned = splitEdgeAtParameters(split, static_cast<int>(kept.size()), kept.data(), pieces);
        if (tedge) {
            COEDGE* which = returned ? returned : split;
            trimEdgeIntcurveToRange(which->edge());
            trimEdgeIntcurveToRange(edge);
            // Every use of the first piece: the coedge that was found bad
            // still holds the pcurve it came with.
            COEDGE* first = edge->coedge();
            for (COEDGE* use = first; use; use = use->partner() == first ? nullptr : use->partner()) {
                rebuildCoedgePCurve(use);
                if (use == which)
                    which = nullptr;
            }
            if (which)
                rebuildCoedgePCurve(which);
        } else {
            rebuildCoedgePCurve(coedge);
        }
    }
    std::unordered_set<EDGE*> cut;
    const std::vector<COEDGE*> gathered = ve_repair::listed<COEDGE>(pieces);
    for (COEDGE* c : gathered)
        if (c->edge() && cut.insert(c->edge()).second)
            trimEdgeIntcurveToRange(c->edge());
    for (COEDGE* c : gathered)
        rebuildCoedgePCurve(c);
    return true;
}

void closeIntcurveEdgeAndTrimSelfIntersection(EDGE* edge)
{
    if (!edge)
        return;
    const intcurve* ic = ve_repair::intcurveOf(edge);
    if (ic && edge->start() == edge->end() && edge->start() && !ic->periodic() && !bs3_curve_closed(ic->cur(-1.0))) {
        bs3_curve bs = ic->cur(-1.0);
        const ve_heal::Bs3CurveArrays a(bs);
        const int n = a.count;
        const bool close = n > 1 && distance(a.points[0], a.points[n - 1]) < kCloseGap;
        const QELposition first = n > 0 ? a.points[0] : QELposition();
        const double weight = a.rational && a.weights ? a.weights[0] : 1.0;
        if (close) {
            bs3_curve joined = bs3_curve_copy(bs);
            bs3_curve_set_ctrlpt(joined, n - 1, first, weight);
            bs3_curve_set_closed(joined);
            intcurve closed(joined, ic->fitol(), ic->surf1(), ic->surf2(),
                            ic->pcur1() ? bs2_curve_copy(ic->pcur1()) : nullptr,
                            ic->pcur2() ? bs2_curve_copy(ic->pcur2()) : nullptr);
            if (ic->reversed())
                closed.negate();
            edge->set_geometry(make_curve(closed), 1);
        }
    }
    ic = ve_repair::intcurveOf(edge);
    if (!ic)
        return;
    check_fix input, result;
    check_status_list wanted(status_self_intersecting);
    check_status_list* found = d3_cu_check(*ic, input, result, &wanted, QELresabs);
    for (check_status_list* s = found; s; s = s->next())
        if (s->status() == status_self_intersecting)
            trimEdgeIntcurveToRange(edge);
    delete found;
}

void fixTolerantEdges(Ve_BodyTag* self, bool& geometryChanged);

} // namespace

void Ve_BodyTag::FixTTIErrors(bool& geometryChanged)
{
    KernelOptionScope checkLevel("check_level");
    checkLevel.set(kCheckLevel);
    KernelOptionScope newPcurve(QELXOptionName::new_pcurve);
    newPcurve.set(newPcurve.saved() ? 0 : 1);
    FixTTIErrorsByVELMAPI();
    inTask("FixTTIErrorsStart", "FixTTIErrorsEnd", "FixTTIErrors", [&] { fixTolerantEdges(this, geometryChanged); });
}

namespace {

void fixTolerantEdges(Ve_BodyTag* self, bool& geometryChanged)
{
    Ve_PostProcessUtil util(self);
    const QELXDynamicArray<Ve_FaceTag*> faces = self->getFaces();
    for (int f = 0; f < faces.Count(); ++f) {
        FACE* face = reinterpret_cast<FACE*>(faces[f]);
        const QELXDynamicArray<Ve_LoopTag*> loops = faces[f]->getLoops();
        for (int l = 0; l < loops.Count(); ++l) {
            const QELXDynamicArray<Ve_CoedgeTag*> first = loops[l]->getCoedges();
            for (int i = 0; i < first.Count(); ++i) {
                COEDGE* c = reinterpret_cast<COEDGE*>(first[i]);
                if (!hasPcurve(c) || is_TCOEDGE(c) || !pcurveDisagreesWithEdge(c, face))
                    continue;
                util.extendSplineSurf(face);
                velmInnerCall([&] { rebuildCoedgePCurve(c); });
                TEDGE* tedge = nullptr;
                EDGE* edge = c->edge();
                if (!velmCall([&] { return api_replace_edge_with_tedge(edge, tedge); }).ok() && tedge) {
                    EDGE* back = nullptr;
                    velmCall([&] { return api_replace_tedge_with_edge(tedge, back); });
                }
            }
            const QELXDynamicArray<Ve_CoedgeTag*> second = loops[l]->getCoedges();
            for (int i = 0; i < second.Count(); ++i) {
                COEDGE* c = reinterpret_cast<COEDGE*>(second[i]);
                if (!is_TCOEDGE(c) || !hasPcurve(c))
                    continue;
                bool split = false;
                velmInnerCall([&] {
                    if (Ve_OptionDoc::isOn(Ve_OptionDoc::ExtendIfPCrvOutsideSrf)) {
                        std::unique_ptr<tm_check_result> out(tm_check_tcoedge_bs2_outside_sf(c));
                        if (out && out->id() == tcoedge_bs2_outside_sf::id_of())
                            util.extendSplineSurf(face, c, static_cast<tcoedge_bs2_outside_sf*>(out.get())->param());
                    }
                    std::unique_ptr<tm_check_result> report(tm_check_tedge_tcoedge_bad_geom(c));
                    if (!report)
                        return;
                    const pcurve kept = c->geometry()->def();
                    util.extendSplineSurf(face);
                    const auto isBad = [](const tm_check_result* r) {
                        return r && (r->id() == tedge_tcoedge_ranges::id_of() || r->id() == tedge_tcoedge_bad_geom::id_of());
                    };
                    if (isBad(report.get()))
                        rebuildCoedgePCurve(c);
                    report.reset(tm_check_tedge_tcoedge_bad_geom(c));
                    const bool stillBad = report ? isBad(report.get()) : tolerantVertexReachesNeighbour(c);
                    if (!stillBad)
                        return;
                    sg_rm_pcurves_from_entity(c, 0, 1);
                    c->set_geometry(VELM_MAKE(PCURVE, kept));
                    split = splitEdgeAtCurveDiscontinuities(c);
                });
                if (split)
                    geometryChanged = true;
            }
        }
    }
    ENTITY_LIST edges;
    velmCall([&] { return api_get_edges(reinterpret_cast<BODY*>(self), edges); });
    const std::vector<EDGE*> all = ve_repair::listed<EDGE>(edges);
    velmGuard([&] {
        for (EDGE* e : all)
            closeIntcurveEdgeAndTrimSelfIntersection(e);
    });
}

} // namespace
