#include "geometry/pcurve_view.hxx"

#include <algorithm>

#include "geometry/geometry_arrays.hxx"
#include "geometry/kernel_use.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_errors.hxx"
#include "velm/memory.hxx"

namespace {

const char* const kPcurveSource = "ve_pcurvetag";

// The B-spline plus the pcurve's offset as a framework definition.
QELXBSplineDef2D toDefinition(bs2_curve b, const QELpar_vec& offset)
{
    const QELinterval own = bs2_curve_range(b);
    bs2_curve_reparam(own.start_pt(), own.end_pt(), b);
    int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
    QELposition* points = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs2_curve_to_array(b, dim, degree, rational, n, points, weights, nk, knots);
    const KernelArrays arrays(points, weights, knots);
    const bool clamped = startsClamped(knots, nk, degree, Gk_Def::FuzzKnot);
    if (nk > 0 && (knots[0] < own.start_pt() || knots[nk - 1] > own.end_pt()))
        for (int i = 0; i < nk; ++i)
            knots[i] = std::clamp(knots[i], own.start_pt(), own.end_pt());
    QELXPolygonWeight2D polygon;
    for (int i = 0; i < n; ++i)
        polygon.Add(QELXWeightPoint2D(QELXPoint2D(points[i].x() + offset.du, points[i].y() + offset.dv),
                                      rational && weights ? weights[i] : 1.0));
    return QELXBSplineDef2D(Gk_Partition(degree, knots, nk, clamped, Gk_Def::FuzzKnot), polygon,
                            bs2_curve_closed(b) == 1);
}

} // namespace

QELXBSplineDef2D Ve_PCurveTag::bspline(const Gk_Domain& range, double, double* achieved) const
{
    if (achieved)
        *achieved = 0.0;
    bs2_curve copy = nullptr;
    bs2_curve piece = nullptr;
    QELXBSplineDef2D def;
    // The copies go before the failure is reported: running out of memory
    // is reported by a throw.
    const int kept = velmGuard([&] {
        const pcurve pc = getDef()->equation(false);
        if (!pc.cur())
            return;
        copy = bs2_curve_copy(pc.cur());
        if (pc.reversed())
            bs2_curve_reverse(copy);
        piece = bs2_curve_subset(copy, QELinterval(range.low(), range.high()), QELresabs);
        // A range beyond the B-spline gives the whole of it, clamped at its own
        // ends by knot insertion (the same curve) where it was not.
        if (!piece)
            piece = bs2_curve_subset(copy, bs2_curve_range(copy), QELresabs);
        def = toDefinition(piece ? piece : copy, pc.offset());
    });
    if (piece)
        bs2_curve_delete(piece);
    if (copy)
        bs2_curve_delete(copy);
    reportKernelError(kept, kPcurveSource, __LINE__);
    return def;
}

QELXPoint2D Ve_PCurveTag::eval(double t, QELXCurveDerivatives2D* d) const
{
    QELpar_pos uv;
    QELpar_vec duv;
    velmViewGuard(kPcurveSource, __LINE__, [&] { getDef()->def().eval(t, uv, &duv); });
    const QELXPoint2D point(uv.u, uv.v);
    if (d) {
        (*d)[0] = point;
        for (int k = 1; k < d->size(); ++k)
            (*d)[k] = k == 1 ? QELXPoint2D(duv.du, duv.dv) : QELXPoint2D();
    }
    return point;
}

QELIResult Ve_PCurveTag::GetBoundingBox(const Gk_Domain& range, QELXBox2D& box) const
{
    QELpar_box b;
    if (!velmViewGuard(kPcurveSource, __LINE__, [&] { b = getDef()->def().bound(QELinterval(range.low(), range.high())); }))
        b = QELpar_box(QELinterval(0.0, 0.0), QELinterval(0.0, 0.0));
    return box.Set(QELXPoint2D(b.low().u, b.low().v), QELXPoint2D(b.high().u, b.high().v));
}

Gk_Domain Ve_PCurveTag::principalRange() const
{
    double period = 0.0;
    velmViewGuard(kPcurveSource, __LINE__, [&] { period = getDef()->def().param_period(); });
    return Gk_Domain(0.0, period, Gk_Def::FuzzKnot);
}

double Ve_PCurveTag::length(const Gk_Domain&) const
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_pcurvetag", 87);
    return 0.0;
}

double Ve_PCurveTag::invert(const QELXPoint2D&, QELXCurveDerivatives2D*) const
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_pcurvetag", 78);
    return 0.0;
}

void Ve_PCurveTag::negate()
{
    velmViewGuard(kPcurveSource, __LINE__, [&] {
        pcurve reversed = getDef()->equation(false);
        reversed.negate();
        getDef()->set_def(reversed);
    });
}

Ve_PCurveTag* Ve_PCurveTag::copy() const
{
    PCURVE* made = nullptr;
    velmViewGuard(kPcurveSource, __LINE__, [&] { made = VELM_NEW PCURVE(getDef()->equation(false)); });
    return view(made);
}

void Ve_PCurveTag::raiseRef()
{
    if (!isNullView(this))
        getDef()->add();
}

void Ve_PCurveTag::lowerRef()
{
    if (!isNullView(this))
        getDef()->remove();
}
