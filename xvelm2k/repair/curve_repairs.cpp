// Self-intersecting and irregular intcurves of edges rebuilt: loops cut out,
// curves re-interpolated or rebuilt on a grid. Rebuilt curves keep the
// parameters of what they replace, so edge ranges and pcurves still apply.
#include <cmath>

#include "repair/crv_approx_util.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"

using namespace ve_repair;

namespace {

constexpr double kGap = 1e-5;

} // namespace

namespace ve_repair {

QELinterval bsplineRange(const EDGE* edge, const intcurve& ic)
{
    const QELinterval r = edge_curve_range(edge);
    return ic.reversed() ? -r : r;
}

void putOnEdge(EDGE* edge, bs3_curve bs, const QELinterval& range, double fit, bool reversed)
{
    bs3_curve_reparam(range.start_pt(), range.end_pt(), bs);
    intcurve ic(bs, fit);
    if (reversed)
        ic.negate();
    edge->set_geometry(make_curve(ic), 1, 1);
}

bs3_curve usedPart(const EDGE* edge, const intcurve& ic)
{
    return bs3_curve_subset(ic.cur(), bsplineRange(edge, ic), QELresabs);
}

bs3_curve regridUsedPart(const EDGE* edge, const intcurve& ic)
{
    bs3_curve part = usedPart(edge, ic);
    if (!part)
        return nullptr;
    bs3_curve bs = part;
    curve* none = nullptr;
    Ve_CrvApproxUtil util;
    const bool made = util.makeUsingGrid(bs, none, 20) || util.makeUsingGrid(bs, none, 10);
    bs3_curve_delete(part);
    if (!made)
        return nullptr;
    const QELinterval range = bsplineRange(edge, ic);
    bs3_curve_reparam(range.start_pt(), range.end_pt(), bs);
    return bs;
}

} // namespace ve_repair

namespace {

// The kernel's file-level curve check reports the curve irregular.
bool reportedIrregular(const curve& c)
{
    int first = -1;
    velmInnerCall([&] {
        check_fix settings;
        settings.tol1 = settings.tol2 = QELresfit;
        check_fix result;
        check_status_list* found = d3_cu_check(c, settings, result, nullptr, QELresabs);
        first = found ? found->status() : -1;
        delete found;
    });
    return first == status_irregular;
}

// The single coedge of a face edge; null when it has a partner (stitched faces).
COEDGE* loneCoedge(const EDGE* edge)
{
    COEDGE* c = edge->coedge();
    return c && !c->partner() ? c : nullptr;
}

} // namespace

namespace ve_repair {

bool rebuildFaceEdge(EDGE* edge, COEDGE* c, bs3_curve bs, const QELinterval& range, bool reversed)
{
    const surface& srf = c->loop()->face()->geometry()->equation();
    bs3_curve_reparam(range.start_pt(), range.end_pt(), bs);
    intcurve fresh(bs, QELresfit);
    if (reversed)
        fresh.negate();
    const QELinterval on = reversed ? -range : range;
    bs2_curve fitted = nullptr;
    if (!velmInnerCall([&] { fitted = bs2_curve_for_curve_on_surf(fresh, on, srf, QELresabs); }).ok() || !fitted)
        return false;
    // The coedge's parameter runs against the curve when its sense differs from the edge's.
    if (c->sense() != edge->sense())
        bs2_curve_reverse(fitted);
    edge->set_geometry(make_curve(fresh), 1, 1);
    c->set_geometry(velm_make_pcurve(fitted, QELresfit, srf, __FILE__, __LINE__), 1);
    return true;
}

} // namespace ve_repair

namespace {

// Wire edges whose intcurve shows the fault have the part of it they use
// rebuilt on a grid; an edge no grid mends keeps its curve.
template <class Faulty>
void regridWireCurves(BODY* b, Faulty faulty)
{
    for (EDGE* edge : bodyWireEdges(b)) {
        intcurve* ic = intcurveOf(edge);
        if (!ic || !ic->cur() || !faulty(ic))
            continue;
        const QELinterval used = bsplineRange(edge, *ic);
        const bool reversed = ic->reversed();
        if (bs3_curve bs = regridUsedPart(edge, *ic))
            putOnEdge(edge, bs, used, QELresfit, reversed);
    }
}

} // namespace

void trimEdgeIntcurveToRange(EDGE* edge)
{
    const intcurve* ic = intcurveOf(edge);
    if (!ic || !ic->cur())
        return;
    bs3_curve sub = bs3_curve_subset(ic->cur(), bsplineRange(edge, *ic), QELresabs);
    if (!sub)
        return;
    bs3_curve_determine_form(sub);
    intcurve trimmed(sub, QELresabs);
    if (ic->reversed())
        trimmed.negate();
    edge->set_geometry(make_curve(trimmed), 1, 1);
}

bool Ve_PostProcessUtil::fixfreeCurveSelfInterxn()
{
    if (!body)
        return false;
    for (EDGE* edge : bodyWireEdges(kernelBody())) {
        const intcurve* ic = intcurveOf(edge);
        if (!ic || !ic->cur())
            continue;
        bool crosses = false;
        velmGuard([&] {
            cc_intersection* found = bs3_curve_self_int(ic->cur());
            crosses = found != nullptr;
            delete_cc_intersections(found);
        });
        if (crosses)
            trimEdgeIntcurveToRange(edge);
    }
    return true;
}

bool Ve_PostProcessUtil::fixfreeCurveIrregularity()
{
    if (!body)
        return false;
    for (EDGE* edge : bodyWireEdges(kernelBody())) {
        const intcurve* ic = intcurveOf(edge);
        if (!ic || !ic->cur() || !reportedIrregular(*ic))
            continue;
        // Only the part the edge uses is re-interpolated: through the whole
        // curve the new one would leave the edge's ends off their vertices.
        const QELinterval used = bsplineRange(edge, *ic);
        bs3_curve fresh = nullptr;
        velmInnerCall([&] {
            bs3_curve part = usedPart(edge, *ic);
            if (!part)
                return;
            fresh = reinterpolate21(part, used.start_pt(), used.end_pt());
            bs3_curve_delete(part);
        });
        if (!fresh)
            return false;
        putOnEdge(edge, fresh, used, QELresabs, ic->reversed());
    }
    return true;
}

bool Ve_PostProcessUtil::fixLeftOverCurveSelfInt()
{
    if (!body)
        return false;
    regridWireCurves(kernelBody(), Ve_CrvApproxUtil::crvSelfIntersects);
    return true;
}

bool Ve_PostProcessUtil::fixLeftOverCurveIrreg()
{
    if (!body)
        return false;
    regridWireCurves(kernelBody(), Ve_CrvApproxUtil::isCrvIrregular);
    return true;
}

bool Ve_PostProcessUtil::fixCurveIrregularity()
{
    if (!body)
        return false;
    for (EDGE* edge : bodyEdges(kernelBody())) {
        if (edge->coedge() && edge->coedge()->partner())
            return false;
        COEDGE* c = loneCoedge(edge);
        const intcurve* ic = intcurveOf(edge);
        if (!c || !ic || !ic->cur() || !reportedIrregular(*ic))
            continue;
        const QELinterval range = bsplineRange(edge, *ic);
        bs3_curve fresh = nullptr;
        velmInnerCall([&] { fresh = reinterpolate21(ic->cur(), range.start_pt(), range.end_pt()); });
        if (!fresh)
            return false;
        // Without a pcurve to rebuild the edge keeps its curve; the new B-spline is not kept.
        if (!c->geometry()) {
            bs3_curve_delete(fresh);
            continue;
        }
        const bool reversed = ic->reversed();
        velmInnerCall([&] {
            if (!rebuildFaceEdge(edge, c, fresh, range, reversed))
                velm_api_error_throw(VELM_API_FAILED);
        });
    }
    return true;
}

bool Ve_PostProcessUtil::fixCurveSelfInterxn()
{
    if (!body)
        return false;
    for (EDGE* edge : bodyEdges(kernelBody())) {
        if (!edge->coedge())
            continue;
        if (edge->coedge()->partner())
            return false;
        COEDGE* c = edge->coedge();
        const intcurve* ic = intcurveOf(edge);
        if (!ic || !ic->cur())
            continue;
        double t1 = 0.0, t2 = 0.0;
        bool crosses = false;
        velmGuard([&] {
            cc_intersection* found = bs3_curve_self_int(ic->cur());
            if (found) {
                crosses = true;
                t1 = found->param1;
                t2 = found->param2;
            }
            // Every record goes, not just the first one read.
            delete_cc_intersections(found);
        });
        if (!crosses)
            continue;
        const QELinterval range = bsplineRange(edge, *ic);
        const double s = range.start_pt(), e = range.end_pt();
        bs3_curve fresh = nullptr;
        const bool atEnd = std::fabs(t1 - s) <= kGap || std::fabs(t1 - e) <= kGap || std::fabs(t2 - s) <= kGap ||
                           std::fabs(t2 - e) <= kGap;
        if (atEnd) {
            velmInnerCall([&] { fresh = reinterpolate21(ic->cur(), s, e); });
        } else {
            // The loop between the two parameters that meet is cut out and the
            // pieces before and after it are joined at the crossing.
            velmInnerCall([&] {
                bs3_curve before = bs3_curve_subset(ic->cur(), QELinterval(s, t1), QELresabs);
                bs3_curve after = bs3_curve_subset(ic->cur(), QELinterval(t2, e), QELresabs);
                if (before && after && bs3_curve_mergeable(before, after))
                    fresh = bs3_curve_join(before, after);
                bs3_curve_delete(before);
                bs3_curve_delete(after);
            });
        }
        if (!fresh)
            return false;
        if (!c->geometry()) {
            bs3_curve_delete(fresh);
            continue;
        }
        const bool reversed = ic->reversed();
        velmInnerCall([&] {
            if (!rebuildFaceEdge(edge, c, fresh, range, reversed))
                velm_api_error_throw(VELM_API_FAILED);
        });
    }
    return true;
}
