#include "geometry/curve_view.hxx"

#include <algorithm>
#include <memory>
#include <numbers>
#include <vector>

#include "geometry/curve_to_bs3.hxx"
#include "geometry/geometry_arrays.hxx"
#include "geometry/kernel_use.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx_velm/ve_option_doc.hxx"

namespace {
const char* const kSource = "ve_curvetag";
} // namespace

__attribute__((noipa)) bool isNullView(const void* view)
{
    return view == nullptr;
}

QELXCurveType::Enum Ve_CurveTag::typeId() const
{
    switch (getDef()->type()) {
    case 1:
        return QELXCurveType::Line;
    case 2:
        return QELXCurveType::Ellipse;
    case 11:
        return QELXCurveType::BSpline;
    default:
        return QELXCurveType::Other;
    }
}

QELXLineDef3D Ve_CurveTag::getLine() const
{
    if (getDef()->type() != 1)
        return QELXLineDef3D();
    const straight& s = static_cast<const straight&>(geometry());
    const QELXPoint3D speed = Ve_Pt3(QELvector(s.direction) * s.param_scale);
    // A line without direction or speed is no line.
    if (!(speed.Length() > QELresabs))
        return QELXLineDef3D();
    return QELXLineDef3D(Ve_Pt3(s.root_point), speed);
}

QELXEllipseDef3D Ve_CurveTag::getEllipse() const
{
    if (getDef()->type() != 2)
        return QELXEllipseDef3D();
    const ellipse& e = static_cast<const ellipse&>(geometry());
    const QELXPoint3D n = Ve_Pt3(QELvector(e.normal));
    QELXPoint3D a = Ve_Pt3(e.major_axis);
    a -= n * (a * n);
    const QELXPoint3D b = QELXPoint3D::VectorProduct(n, a) * e.radius_ratio;
    if (!(a.Length() > QELresabs) || !(b.Length() > QELresabs))
        return QELXEllipseDef3D();
    const Ve_Pt3 centre(e.centre);
    if (e.radius_ratio > 1.0)
        return QELXEllipseDef3D(centre, b, -a);
    return QELXEllipseDef3D(centre, a, b);
}

Gk_LinMap Ve_CurveTag::getMap() const
{
    if (getDef()->type() != 2)
        return Gk_LinMap();
    const ellipse& e = static_cast<const ellipse&>(geometry());
    // The definition is C + A' cos s + B sin s, or C + B cos s - A' sin s
    // when turned; the kernel point at t is C + A cos(t + off) + B sin(t + off).
    const double quarter = e.radius_ratio > 1.0 ? std::numbers::pi / 2 : 0.0;
    return Gk_LinMap(1.0, e.param_offset - quarter);
}

QELXBSplineDef3D Ve_CurveTag::toDefinition(bs3_curve b)
{
    int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
    QELposition* points = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs3_curve_to_array(b, dim, degree, rational, n, points, weights, nk, knots);
    const KernelArrays arrays(points, weights, knots);
    const bool clamped = startsClamped(knots, nk, degree, bs3_curve_knottol());
    QELXPolygonWeight3D polygon;
    for (int i = 0; i < n; ++i)
        polygon.Add(QELXWeightPoint3D(Ve_Pt3(points[i]), rational && weights ? weights[i] : 1.0));
    return QELXBSplineDef3D(Gk_Partition(degree, knots, nk, clamped, Gk_Def::FuzzKnot), polygon,
                            bs3_curve_periodic(b) == 1);
}

QELXBSplineDef3D Ve_CurveTag::getBSpline() const
{
    if (getDef()->type() != 11)
        return QELXBSplineDef3D();
    bs3_curve copy = nullptr;
    const outcome r = velmInnerCall([&] {
        const intcurve& ic = static_cast<const intcurve&>(geometry());
        if (bs3_curve own = ic.cur(-1.0))
            copy = bs3_curve_copy(own);
    });
    if (!r.ok() || !copy) {
        if (copy)
            bs3_curve_delete(copy);
        // An intcurve always has a B-spline: none is a failure, not an empty curve.
        reportKernelError(r.ok() ? qelvelm_api_errmod.message_code(VELM_API_FAILED) : r.error_number(), kSource,
                          __LINE__);
        return QELXBSplineDef3D();
    }
    QELXBSplineDef3D def;
    const bool converted = velmViewGuard(kSource, __LINE__, [&] {
        if (static_cast<const intcurve&>(geometry()).reversed())
            bs3_curve_reverse(copy);
        def = toDefinition(copy);
    });
    bs3_curve_delete(copy);
    return converted ? def : QELXBSplineDef3D();
}

QELXBSplineDef3D Ve_CurveTag::bspline(const Gk_Domain& range, double, double*) const
{
    // A B-spline is reparametrised onto the range: an unbounded or empty one
    // would give it no domain (a straight would still be made, over +-DBL_MAX).
    if (!range.isFinite() || !(range.length() > 0.0))
        return QELXBSplineDef3D();
    bs3_curve b = nullptr;
    QELXBSplineDef3D def;
    const int kept = velmGuard([&] {
        if (Ve_OptionDoc::isOn(Ve_OptionDoc::SplineAsRational))
            b = bs3_curve_make_cur(geometry(), range.low(), range.high(), QELresabs);
        else
            b = curveToBs3(geometry(), Ve_Domain(range), QELresfit);
        if (!b)
            return;
        bs3_curve_reparam(range.low(), range.high(), b);
        def = toDefinition(b);
    });
    if (b)
        bs3_curve_delete(b);
    // Running out of memory is not a curve without B-spline.
    reportKernelError(kept, kSource, __LINE__);
    return kept == 0 ? def : QELXBSplineDef3D();
}

bool Ve_CurveTag::GetParamScale(double& scale) const
{
    if (!getDef()->has_equation() || getDef()->type() != 1)
        return false;
    scale = static_cast<const straight&>(geometry()).param_scale;
    return true;
}

QELXPoint3D Ve_CurveTag::eval(double t, QELXCurveDerivatives3D* d) const
{
    const int n = d ? d->size() - 1 : 0;
    QELposition pos;
    std::vector<QELvector> derivs(std::max(n, 0));
    // A failure answers the origin with zero derivatives, and says so.
    velmViewGuard(kSource, __LINE__, [&] {
        if (n < 1) {
            pos = geometry().eval_position(t);
        } else if (n <= 2) {
            geometry().eval(t, pos, &derivs[0], n == 2 ? &derivs[1] : nullptr);
        } else {
            std::vector<QELvector*> slots(n);
            for (int k = 0; k < n; ++k)
                slots[k] = &derivs[k];
            geometry().evaluate(t, pos, slots.data(), n);
        }
    });
    const Ve_Pt3 point(pos);
    if (d) {
        (*d)[0] = point;
        for (int k = 0; k < n; ++k)
            (*d)[k + 1] = Ve_Pt3(derivs[k]);
    }
    return point;
}

double Ve_CurveTag::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const
{
    QELposition foot;
    double t = 0.0;
    if (!velmViewGuard(kSource, __LINE__, [&] { geometry().point_perp(Ve_Pt3(p), foot, nullptr, &t); }))
        return 0.0;
    if (d)
        eval(t, d);
    return t;
}

double Ve_CurveTag::length(const Gk_Domain& range) const
{
    if (isNullView(this))
        return 0.0;
    double length = 0.0;
    velmViewGuard(kSource, __LINE__, [&] { length = geometry().length(range.low(), range.high(), true); });
    return length;
}

Gk_Domain Ve_CurveTag::principalRange() const
{
    double period = 0.0;
    QELinterval range;
    // A curve without equation (period 0) is not periodic.
    if (getDef()->has_equation()) {
        velmViewGuard(kSource, __LINE__, [&] {
            period = geometry().param_period();
            if (period != 0.0)
                range = geometry().param_range();
        });
    }
    if (period == 0.0)
        return Gk_Domain(0, 0.0, 0.0, Gk_Def::FuzzKnot);
    return Ve_Domain(range);
}

QELIResult Ve_CurveTag::GetBoundingBox(const Gk_Domain& range, QELXBox3D& box) const
{
    QELbox b;
    if (!velmViewGuard(kSource, __LINE__, [&] { b = geometry().bound(QELinterval(range.low(), range.high())); }))
        b = QELbox(QELposition());
    box.Set(Ve_Pt3(b.low()), Ve_Pt3(b.high()));
    return 0;
}

void Ve_CurveTag::negate()
{
    velmViewGuard(kSource, __LINE__, [&] { getDef()->equation_for_update().negate(); });
}

void Ve_CurveTag::apply(const QELXMorph3D& m)
{
    ENTITY_LIST done;
    velmViewGuard(kSource, __LINE__, [&] { getDef()->apply_transform(Ve_Morph(m), done); });
}

Ve_CurveTag* Ve_CurveTag::copy() const
{
    CURVE* made = nullptr;
    velmViewGuard(kSource, __LINE__, [&] { made = make_curve(geometry()); });
    return view(made);
}

void Ve_CurveTag::raiseRef()
{
    if (!isNullView(this))
        getDef()->add();
}

void Ve_CurveTag::lowerRef()
{
    if (!isNullView(this))
        getDef()->remove();
}
