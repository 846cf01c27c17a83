// The 3-D curve of a trimming segment that has only its pcurve: the exact iso
// line of the surface where the pcurve is one, else a B-spline interpolated
// span by span through points of the pcurve on the surface. Either way it is
// kept as a parameter-space intcurve holding the pcurve and the surface.
#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "trim/trim_internal.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"

namespace {

// The space curve is the lift's until a curve takes it, so that a kernel
// error part way frees it.
struct PCurveLift {
    PCurveLift() = default;
    PCurveLift(const PCurveLift&) = delete;
    PCurveLift& operator=(const PCurveLift&) = delete;
    ~PCurveLift() { bs3_curve_delete(space); }
    const pcurve* pc = nullptr;
    bs3_curve space = nullptr;
    QELinterval startU, startV;
};

struct IsoLine {
    bool alongV = false; // constant u: the line runs along v
    double constant = 0.0;
    bool forward = true;
};

// Whether the pcurve runs along constant u or constant v.
bool isIsoParametricPCurve(const pcurve& pc, IsoLine& iso)
{
    int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
    QELposition* pts = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs2_curve_to_array(pc.cur(), dim, degree, rational, n, pts, weights, nk, knots);
    std::unique_ptr<QELposition[]> keepPts(pts);
    std::unique_ptr<double[]> keepWeights(weights), keepKnots(knots);
    if (n < 2)
        return false;
    const auto weightOf = [&](int i) { return rational && weights ? weights[i] : 1.0; };
    bool constU = true, constV = true;
    for (int i = 1; i < n; ++i) {
        const bool sameWeight = std::fabs(weightOf(i) - weightOf(0)) <= Gk_Def::FuzzReal;
        constU = constU && sameWeight && std::fabs(pts[i].x() - pts[0].x()) <= Gk_Def::FuzzReal;
        constV = constV && sameWeight && std::fabs(pts[i].y() - pts[0].y()) <= Gk_Def::FuzzReal;
    }
    if (!constU && !constV)
        return false;
    iso.alongV = constU;
    iso.constant = constU ? pts[0].x() + pc.offset().du : pts[0].y() + pc.offset().dv;
    iso.forward = false;
    for (int i = 1; i < n && !iso.forward; ++i)
        iso.forward = constU ? pts[i].y() > pts[0].y() : pts[i].x() > pts[0].x();
    if (pc.reversed())
        iso.forward = !iso.forward;
    return true;
}

bs3_curve isoCurveFromPCurve(const pcurve& pc)
{
    const surface& srf = pc.surface();
    if (srf.type() == 10 && spline_fitol(static_cast<const spline&>(srf)) > QELresabs)
        return nullptr;
    IsoLine iso;
    if (!isIsoParametricPCurve(pc, iso))
        return nullptr;
    std::unique_ptr<curve> line(iso.alongV ? srf.v_param_line(iso.constant) : srf.u_param_line(iso.constant));
    if (!line)
        return nullptr;
    if (!iso.forward)
        line->negate();
    const QELinterval range = pc.param_range();
    const double p = range.start_pt(), q = range.end_pt();
    const QELpar_pos from = pc.eval_position(p), to = pc.eval_position(q);
    QELinterval lineRange = line->param_range();
    if (line->periodic()) {
        // A closed line runs in the surface's own parameter (negated when
        // backward): made over the stretch the pcurve covers, it starts where
        // the pcurve starts, wherever the line's seam lies.
        const double sign = iso.forward ? 1.0 : -1.0;
        const double w0 = sign * (iso.alongV ? from.v : from.u), w1 = sign * (iso.alongV ? to.v : to.u);
        if (w1 - w0 > QELresnor && w1 - w0 <= line->param_period() + QELresnor)
            lineRange = QELinterval(w0, w1);
    }
    if (!lineRange.finite() || lineRange.start_pt() > lineRange.end_pt())
        return nullptr;
    bs3_curve bs3 = bs3_curve_make_cur(*line, lineRange.start_pt(), lineRange.end_pt(), QELresabs);
    line.reset();
    if (!bs3)
        return nullptr;
    const QELposition start = srf.eval_position(from), end = srf.eval_position(to);
    double s = bs3_curve_invert(start, QELresabs, bs3);
    double e = bs3_curve_invert(end, QELresabs, bs3);
    if (e < s + Gk_Def::FuzzReal && bs3_curve_periodic(bs3))
        e += bs3_curve_range(bs3).length();
    if (same_point(start, end) && bs3_curve_closed(bs3)) {
        // Both ends invert to the seam: the whole closed line it is.
        s = bs3_curve_range(bs3).start_pt();
        e = bs3_curve_range(bs3).end_pt();
    }
    const QELinterval wanted(s, e);
    if (!(wanted == bs3_curve_range(bs3))) {
        if (bs3_curve subset = bs3_curve_subset(bs3, wanted, QELresabs)) {
            bs3_curve_delete(bs3);
            bs3 = subset;
        }
    }
    bs3_curve_reparam(p, q, bs3);
    // A closed line that the kernel could not start where the pcurve starts
    // would trim the wrong arc: the sampled curve serves instead.
    const double reach = 10.0 * QELresabs;
    if (distance(bs3_curve_position(p, bs3), srf.eval_position(pc.eval_position(p))) > reach ||
        distance(bs3_curve_position(q, bs3), srf.eval_position(pc.eval_position(q))) > reach) {
        bs3_curve_delete(bs3);
        return nullptr;
    }
    if (bs3_curve_degree(bs3) == 1) {
        if (bs3_curve raised = bs3_curve_degree_elevate(bs3)) {
            bs3_curve_delete(bs3);
            bs3 = raised;
        }
    }
    return bs3;
}

// The stretch between consecutive discontinuities (or the range's ends) that
// holds x; on a break, the one the pcurve runs into (below it when `heading`,
// the pcurve's speed across the breaks, is negative).
QELinterval stretchHolding(double x, double heading, const double* breaks, int n, const QELinterval& range)
{
    std::vector<double> b;
    b.push_back(range.start_pt());
    for (int i = 0; i < n; ++i)
        if (range.finite() ? breaks[i] > range.start_pt() && breaks[i] < range.end_pt() : true)
            b.push_back(breaks[i]);
    b.push_back(range.end_pt());
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const bool onBreak = std::fabs(x - b[i + 1]) <= Gk_Def::FuzzKnot;
        if (onBreak ? heading < 0.0 : x < b[i + 1])
            return QELinterval(b[i], b[i + 1]);
    }
    // On the last break that is the range's end: the stretch before it.
    return QELinterval(b[b.size() - 2], b.back());
}

void locateStartPatch(PCurveLift& lift)
{
    const surface& srf = lift.pc->surface();
    QELpar_pos start;
    QELpar_vec heading;
    lift.pc->eval(lift.pc->param_range().start_pt(), start, &heading, nullptr, 1);
    int nu = 0, nv = 0;
    const double* du = srf.all_discontinuities_u(nu, 1);
    const QELinterval ru = srf.param_range_u();
    lift.startU = ru.finite() ? stretchHolding(start.u, heading.du, du, nu, ru) : ru;
    const double* dv = srf.all_discontinuities_v(nv, 1);
    const QELinterval rv = srf.param_range_v();
    lift.startV = rv.finite() ? stretchHolding(start.v, heading.dv, dv, nv, rv) : rv;
}

// The point of the pcurve on the surface, read from the surface's side that
// lies inside the start patch where the surface breaks.
QELposition pcurvePointOnSurface(const PCurveLift& lift, double t, int side, QELvector* tangent)
{
    const surface& srf = lift.pc->surface();
    QELpar_pos uv;
    QELpar_vec duv;
    lift.pc->eval(t, uv, &duv, nullptr, side);
    const bool uBelow = srf.discontinuous_at_u(uv.u) && lift.startU.finite() &&
                        uv.u >= lift.startU.end_pt() - Gk_Def::FuzzKnot;
    const bool vBelow = srf.discontinuous_at_v(uv.v) && lift.startV.finite() &&
                        uv.v >= lift.startV.end_pt() - Gk_Def::FuzzKnot;
    const evaluate_surface_quadrant quadrant = uBelow ? (vBelow ? quadrant_u_below_v_below : quadrant_u_below_v_above)
                                                      : (vBelow ? quadrant_u_above_v_below : quadrant_u_above_v_above);
    QELposition pos;
    QELvector d1[2];
    QELvector* derivs[1] = {d1};
    srf.evaluate(uv, pos, derivs, 1, quadrant);
    if (tangent)
        *tangent = duv.du * d1[0] + duv.dv * d1[1];
    return pos;
}

// Fixes coincident control points of a copy inside the bracket; the copy
// replaces the curve when the bracket ends without error.
void fixCoincidentControlPoints(bs3_curve& space)
{
    if (!space)
        return;
    bs3_curve copy = bs3_curve_copy(space);
    const outcome r = velmInnerCall([&] {
        check_fix input(1);
        input.tol1 = QELresabs;
        input.tol2 = QELresabs;
        input.mask = 65535;
        bs3_curve_fix_coi_verts(copy, input);
    });
    if (r.ok()) {
        bs3_curve_delete(space);
        space = copy;
    } else {
        bs3_curve_delete(copy);
    }
}

// The span [a, b] interpolated through n + 1 points of the pcurve on the
// surface (interior ones closer than 10 x QELresabs to the last kept merged),
// with the end tangents where they do not vanish.
bs3_curve interpolateSpanAt(const PCurveLift& lift, double a, double b, int n)
{
    std::vector<QELposition> pts;
    std::vector<double> params;
    QELvector startTangent, endTangent;
    pts.push_back(pcurvePointOnSurface(lift, a, 1, &startTangent));
    params.push_back(a);
    for (int i = 1; i < n; ++i) {
        const double t = a + (b - a) * i / n;
        const QELposition p = pcurvePointOnSurface(lift, t, 1, nullptr);
        if (distance(p, pts.back()) >= 10.0 * QELresabs) {
            pts.push_back(p);
            params.push_back(t);
        }
    }
    pts.push_back(pcurvePointOnSurface(lift, b, -1, &endTangent));
    params.push_back(b);
    const bool useStart = startTangent.len() > QELresnor, useEnd = endTangent.len() > QELresnor;
    return bs3_curve_interp_knots(static_cast<int>(pts.size()), pts.data(), params.data(),
                                  useStart ? &startTangent : nullptr, useEnd ? &endTangent : nullptr);
}

// Largest distance, halfway between the samples, from the interpolation to
// the pcurve on the surface.
double spanDeviation(const PCurveLift& lift, bs3_curve piece, double a, double b, int n)
{
    double worst = 0.0;
    for (int i = 0; i < n; ++i) {
        const double t = a + (b - a) * (i + 0.5) / n;
        worst = std::max(worst, distance(bs3_curve_position(t, piece), pcurvePointOnSurface(lift, t, 1, nullptr)));
    }
    return worst;
}

// A span whose image curves more than a handful of points can follow is
// sampled more densely, so that the space curve lies on its surface as the
// pcurve does.
bs3_curve interpolateSpan(const PCurveLift& lift, double a, double b, int n)
{
    constexpr int kMostSamples = 128;
    bs3_curve piece = interpolateSpanAt(lift, a, b, n);
    while (piece && n < kMostSamples && spanDeviation(lift, piece, a, b, n) > 0.5 * QELresabs) {
        n *= 2;
        bs3_curve finer = interpolateSpanAt(lift, a, b, n);
        if (!finer)
            break;
        bs3_curve_delete(piece);
        piece = finer;
    }
    return piece;
}

// The pcurve's image over [a, b] stays within QELresabs of its start.
bool spanImageIsPoint(const PCurveLift& lift, double a, double b, int n)
{
    const QELposition from = pcurvePointOnSurface(lift, a, 1, nullptr);
    for (int i = 1; i <= n; ++i)
        if (distance(pcurvePointOnSurface(lift, a + (b - a) * i / n, i < n ? 1 : -1, nullptr), from) >= QELresabs)
            return false;
    return true;
}

// Whether the space curve is at each parameter where the pcurve is on the
// surface: the intcurve pairs the two by parameter, and the writers carry
// both as the edge's curve and its pcurve.
bool runsWithPCurve(const pcurve& pc, bs3_curve space)
{
    const QELinterval range = pc.param_range();
    const surface& srf = pc.surface();
    constexpr int samples = 16;
    for (int i = 1; i < samples; ++i) {
        const double t = range.start_pt() + range.length() * i / samples;
        if (distance(bs3_curve_position(t, space), srf.eval_position(pc.eval_position(t))) > 10.0 * QELresabs)
            return false;
    }
    return true;
}

void liftPCurve(PCurveLift& lift)
{
    lift.space = isoCurveFromPCurve(*lift.pc);
    // The surface's own line runs at the surface's speed; an iso pcurve whose
    // control points are spaced unevenly runs along it at another, and the
    // line would pair each parameter with a point the pcurve reaches at some
    // other one. The sampled curve then serves, which runs with the pcurve.
    if (lift.space && !runsWithPCurve(*lift.pc, lift.space)) {
        bs3_curve_delete(lift.space);
        lift.space = nullptr;
    }
    if (lift.space)
        return;
    locateStartPatch(lift);
    Gk_Partition partition = knotPartitionOfBs2(lift.pc->cur());
    if (lift.pc->reversed())
        partition = partition.reversed();
    const int n = std::max(partition.degree(), 5);

    // Every B-spline made here is freed on the way out unless it became the space curve.
    struct Owned {
        std::vector<bs3_curve> curves;
        ~Owned()
        {
            for (bs3_curve& c : curves)
                if (c)
                    bs3_curve_delete(c);
        }
        bs3_curve take(std::size_t i) { return std::exchange(curves[i], nullptr); }
    } owned;
    std::vector<double> lengths;
    std::vector<QELinterval> spans;
    for (int j = 0; j + 1 < partition.n_brk(); ++j) {
        const double a = partition.breakValue(j), b = partition.breakValue(j + 1);
        if (!(b > a))
            continue;
        bs3_curve piece = interpolateSpan(lift, a, b, n);
        if (piece) {
            owned.curves.push_back(piece);
            lengths.push_back(bs3_curve_length(piece));
            spans.emplace_back(a, b);
        } else if (spanImageIsPoint(lift, a, b, n)) {
            // A span whose image is a point (along a pole, say) gives the
            // interpolation nothing to pass through: it is a short piece
            // all the same, whose span a neighbour takes over.
            owned.curves.push_back(nullptr);
            lengths.push_back(0.0);
            spans.emplace_back(a, b);
        }
    }

    // Pieces shorter than QELresabs go; the nearest long piece before them
    // (else after them) stretches over their span, so a run of short pieces
    // at either end leaves no part of the range uncovered.
    const std::size_t count = owned.curves.size();
    std::vector<bool> isShort(count);
    for (std::size_t i = 0; i < count; ++i)
        isShort[i] = lengths[i] < QELresabs;
    std::vector<std::size_t> kept;
    std::size_t lastLong = count;
    for (std::size_t i = 0; i < count; ++i) {
        if (!isShort[i]) {
            kept.push_back(i);
            lastLong = i;
            continue;
        }
        const QELinterval r = spans[i];
        std::size_t nextLong = i + 1;
        while (nextLong < count && isShort[nextLong])
            ++nextLong;
        if (lastLong < count) {
            bs3_curve previous = owned.curves[lastLong];
            bs3_curve_reparam(bs3_curve_range(previous).start_pt(), r.end_pt(), previous);
        } else if (nextLong < count) {
            bs3_curve next = owned.curves[nextLong];
            const QELinterval own = bs3_curve_range(next);
            bs3_curve_reparam(std::min(r.start_pt(), own.start_pt()), own.end_pt(), next);
        } else {
            kept.push_back(i);
        }
    }
    // Joined in the lift's own curve, which is freed with it when a join fails.
    for (std::size_t i : kept) {
        if (!owned.curves[i])
            continue;
        if (!lift.space) {
            lift.space = owned.take(i);
            continue;
        }
        bs3_curve both = bs3_curve_join(lift.space, owned.curves[i]);
        bs3_curve_delete(lift.space);
        lift.space = both;
        if (!lift.space)
            break;
    }
    if (lift.space && bs3_curve_length(lift.space) > 10.0 * QELresabs)
        fixCoincidentControlPoints(lift.space);
}

par_int_cur* makeParIntCur(PCurveLift& lift)
{
    bs2_curve copy = bs2_curve_copy(lift.pc->cur());
    // The data takes both curves once made (its surface copied); until then
    // the copy is freed here and the space curve with the lift.
    par_int_cur* data = nullptr;
    try {
        const QELpar_vec offset = lift.pc->offset();
        if (offset.du * offset.du + offset.dv * offset.dv > QELresabs)
            bs2_curve_par_trans(copy, QELpar_transf(1.0, 1.0, offset.du, offset.dv));
        if (lift.pc->reversed())
            bs2_curve_reverse(copy);
        fixCoincidentControlPoints(lift.space);
        data = new (0, kTrimSource, 950, nullptr) par_int_cur(lift.space, QELresfit, lift.pc->surface(), copy, 1);
    } catch (...) {
        bs2_curve_delete(copy);
        throw;
    }
    if (!data) {
        bs2_curve_delete(copy);
        return nullptr;
    }
    lift.space = nullptr;
    return data;
}

} // namespace

bs3_curve trimIsoCurveOfPCurve(const pcurve& pc)
{
    return pc.cur() && pc.has_surface() ? isoCurveFromPCurve(pc) : nullptr;
}

intcurve* trimSpaceCurveFromPCurve(const pcurve& pc)
{
    if (!pc.cur() || !pc.has_surface())
        return nullptr;
    PCurveLift lift;
    lift.pc = &pc;
    // A kernel error while lifting leaves no space curve.
    velmInnerCall([&] { liftPCurve(lift); });
    par_int_cur* data = makeParIntCur(lift);
    return data ? VELM_ADOPT(intcurve, data) : nullptr;
}
