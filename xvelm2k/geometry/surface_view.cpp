#include "geometry/surface_view.hxx"

#include <cmath>
#include <memory>

#include "geometry/curve_adapters.hxx"
#include "geometry/kernel_use.hxx"
#include "geometry/surface_adapter.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx_velm/ve_option_doc.hxx"

namespace {

const char* const kSurfaceSource = "ve_surfacetag";

QELXPoint3D fw(const QELvector& v)
{
    return Ve_Pt3(v);
}

// Below this a vector or radius carries no direction or size: such data
// gives no definition rather than one made of NaNs.
bool degenerate(const QELXPoint3D& v)
{
    return !(v.Length() > QELresabs);
}

bool degenerate(double radius)
{
    return !(std::fabs(radius) > QELresabs);
}

// v - (v.n) n.
QELXPoint3D perpendicular(const QELXPoint3D& v, const QELXPoint3D& n)
{
    return v - n * (v * n);
}

const spline* splineOf(const SURFACE* s)
{
    return s->type() == 10 ? static_cast<const spline*>(&s->equation()) : nullptr;
}

int kindOf(const spline& sp)
{
    return sp.get_spl_sur().id();
}

const off_spl_sur* offsetOf(const SURFACE* s)
{
    const spline* sp = splineOf(s);
    return sp && kindOf(*sp) == off_spl_sur::id ? static_cast<const off_spl_sur*>(&sp->get_spl_sur()) : nullptr;
}

// An offset over a spline is exact only when that spline is.
bool exactOffsetBase(const surface& base)
{
    if (base.type() != 10)
        return true;
    const int kind = kindOf(static_cast<const spline&>(base));
    return kind == exact_spl_sur::id || kind == rot_spl_sur::id;
}

} // namespace

// ---- classification ----

Gk_SurfaceType3::Enum Ve_SurfaceTag::typeId() const
{
    switch (getDef()->type()) {
    case 1:
        return Gk_SurfaceType3::Plane;
    case 3:
        return Gk_SurfaceType3::Sphere;
    case 4:
        return Gk_SurfaceType3::Torus;
    case 2: {
        const cone& c = static_cast<const cone&>(geometry());
        if (!Gk_Func::equal(c.base.radius_ratio, 1.0, Gk_Def::FuzzReal))
            return Gk_SurfaceType3::None;
        return c.cylinder != 0 ? Gk_SurfaceType3::Cylinder : Gk_SurfaceType3::Cone;
    }
    case 10:
        break;
    default:
        return Gk_SurfaceType3::None;
    }
    const spline& sp = *splineOf(getDef());
    const int kind = kindOf(sp);
    if (kind == exact_spl_sur::id)
        return Gk_SurfaceType3::BSpline;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::ExportSplineOnly))
        return Gk_SurfaceType3::None;
    if (kind == rot_spl_sur::id)
        return Gk_SurfaceType3::Revolution;
    if (kind == off_spl_sur::id)
        return exactOffsetBase(static_cast<const off_spl_sur&>(sp.get_spl_sur()).base()) ? Gk_SurfaceType3::Offset
                                                                                          : Gk_SurfaceType3::None;
    return sp.fitol() <= QELresabs ? Gk_SurfaceType3::BSpline : Gk_SurfaceType3::None;
}

bool Ve_SurfaceTag::isApproximated() const
{
    switch (getDef()->type()) {
    case 2:
        return !Gk_Func::equal(static_cast<const cone&>(geometry()).base.radius_ratio, 1.0, Gk_Def::FuzzReal);
    case 10:
        break;
    default:
        return false;
    }
    const spline& sp = *splineOf(getDef());
    const int kind = kindOf(sp);
    if (kind == exact_spl_sur::id)
        return false;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::ExportSplineOnly))
        return true;
    if (kind == rot_spl_sur::id)
        return false;
    if (kind == off_spl_sur::id)
        return !exactOffsetBase(static_cast<const off_spl_sur&>(sp.get_spl_sur()).base());
    return true;
}

bool Ve_SurfaceTag::isAnalytic() const
{
    const int t = typeId();
    return t >= Gk_SurfaceType3::Plane && t <= Gk_SurfaceType3::Torus;
}

// ---- exact definitions ----

Gk_Plane3Def Ve_SurfaceTag::getPlane() const
{
    if (typeId() != Gk_SurfaceType3::Plane)
        return Gk_Plane3Def();
    const plane& p = static_cast<const plane&>(geometry());
    const QELXPoint3D n = fw(p.normal);
    const QELXPoint3D u = perpendicular(fw(p.u_deriv), n);
    if (degenerate(n) || degenerate(u))
        return Gk_Plane3Def();
    QELXPoint3D v = QELXPoint3D::VectorProduct(n, u);
    if (p.reverse_v == 1)
        v = -v;
    return Gk_Plane3Def(Ve_Pt3(p.root_point), u, v);
}

Gk_Cone3Def Ve_SurfaceTag::getCone() const
{
    const int t = typeId();
    if (t != Gk_SurfaceType3::Cylinder && t != Gk_SurfaceType3::Cone)
        return Gk_Cone3Def();
    const cone& c = static_cast<const cone&>(geometry());
    const QELXPoint3D z = fw(c.base.normal);
    const QELXPoint3D a = perpendicular(fw(c.base.major_axis), z);
    if (degenerate(z) || degenerate(a))
        return Gk_Cone3Def();
    QELXPoint3D b = QELXPoint3D::VectorProduct(z, a) * c.base.radius_ratio;
    double s = c.sine, co = c.cosine;
    if (s < 0.0) {
        s = -s;
        co = -co;
    }
    // The definition narrows towards its axis: B turns the other way when
    // the kernel cone widens along its own.
    if (co > 0.0)
        b = -b;
    return Gk_Cone3Def(QELXEllipseDef3D(Ve_Pt3(c.base.centre), a, b), std::fabs(s), std::fabs(co), c.u_scale);
}

Gk_Cone3Def Ve_SurfaceTag::getCylinder() const
{
    return typeId() == Gk_SurfaceType3::Cylinder ? getCone() : Gk_Cone3Def();
}

Gk_Ellipsoid3Def Ve_SurfaceTag::getSphere() const
{
    if (typeId() != Gk_SurfaceType3::Sphere)
        return Gk_Ellipsoid3Def();
    const sphere& s = static_cast<const sphere&>(geometry());
    const QELXPoint3D o = fw(s.origin_dir);
    const QELXPoint3D pd = perpendicular(fw(s.pole_dir), o);
    QELXPoint3D w = QELXPoint3D::VectorProduct(pd, o);
    if (degenerate(s.radius) || w.Normalize() != 0)
        return Gk_Ellipsoid3Def();
    const double r = std::fabs(s.radius);
    return Gk_Ellipsoid3Def(Ve_Pt3(s.centre), o * r, w * r, pd * r);
}

Gk_Torus3Def Ve_SurfaceTag::getTorus() const
{
    if (typeId() != Gk_SurfaceType3::Torus)
        return Gk_Torus3Def();
    const torus& t = static_cast<const torus&>(geometry());
    const QELXPoint3D n = fw(t.normal);
    const QELXPoint3D o = perpendicular(fw(t.origin_dir), n);
    if (degenerate(n) || degenerate(o) || degenerate(t.major_radius) || degenerate(t.minor_radius))
        return Gk_Torus3Def();
    return Gk_Torus3Def(Ve_Pt3(t.centre), n, o * std::fabs(t.major_radius), std::fabs(t.minor_radius),
                        t.major_radius >= 0.0);
}

Gk_SpunSurface3Def Ve_SurfaceTag::getSpunSurface(const QELXCurve3DHandle& profile) const
{
    if (typeId() != Gk_SurfaceType3::Revolution)
        return Gk_SpunSurface3Def();
    const spline& sp = *splineOf(getDef());
    const QELpar_box range = sp.get_spl_sur().range();
    const QELinterval& u = range.u_range();
    const Ve_Domain domain(u);
    // The profile at angle 0, where the kernel's v counts from: the line at
    // the low end of a v range that starts elsewhere is the profile turned.
    std::unique_ptr<curve> line(sp.u_param_line(0.0));
    // The circle about the axis at the profile's start; a profile that
    // starts on the axis has none there, and an unbounded one has no start
    // (a circle at -DBL_MAX gives an axis point no sum survives): then half
    // way along a bounded profile, else at the end or parameter 0.
    std::unique_ptr<curve> circle(u.bounded_below() ? sp.v_param_line(u.start_pt()) : nullptr);
    if (!circle || circle->type() != 2)
        circle.reset(sp.v_param_line(u.finite() ? u.mid_pt() : u.bounded_above() ? u.end_pt() : 0.0));
    if (!line || !circle)
        return Gk_SpunSurface3Def();
    if (circle->type() != 2) {
        Gk_ErrMgr::doAssert("ve_surfacetag", 690);
        return Gk_SpunSurface3Def();
    }
    const ellipse& axis = static_cast<const ellipse&>(*circle);
    const Ve_Pt3 point(axis.centre);
    const QELXPoint3D direction = fw(axis.normal);
    if (degenerate(direction))
        return Gk_SpunSurface3Def();
    if (profile.IsValid())
        return Gk_SpunSurface3Def(profile, point, direction, domain);
    const QELXBaseCurve3DHandle own(new Ve_BaseCurve(Ve_CurveTag::view(make_curve(*line)), domain));
    return Gk_SpunSurface3Def(own, point, direction, domain);
}

Gk_SweptSurface3Def Ve_SurfaceTag::getSweptSurface(const QELXCurve3DHandle&) const
{
    return Gk_SweptSurface3Def();
}

Gk_OffsetSurface3Def Ve_SurfaceTag::getOffsetSurface(const Gk_Surface3Handle& base, const Gk_Span& span) const
{
    const off_spl_sur* off = typeId() == Gk_SurfaceType3::Offset ? offsetOf(getDef()) : nullptr;
    if (!off)
        return Gk_OffsetSurface3Def();
    const double d = off->offset_distance();
    if (base.IsValid())
        return Gk_OffsetSurface3Def(base, d);
    const Gk_BaseSurface3Handle own(new Ve_BaseSurface(view(make_surface(off->base())), span));
    return Gk_OffsetSurface3Def(own, d);
}

// ---- evaluation ----

QELXPoint3D Ve_SurfaceTag::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    QELposition pos;
    QELvector d1[2], d2[3];
    bool leftHanded = false;
    // A failure answers the origin with zero derivatives, and says so.
    velmViewGuard(kSurfaceSource, __LINE__, [&] {
        geometry().eval(QELpar_pos(uv[0], uv[1]), pos, d1, d2);
        leftHanded = geometry().left_handed_uv();
    });
    const Ve_Pt3 point(pos);
    if (flat) {
        flat->derivative(0, 0) = point;
        if (flat->size() > 1) {
            flat->derivative(1, 0) = fw(d1[0]);
            flat->derivative(0, 1) = fw(d1[1]);
            flat->derivative(1, 1) = fw(d2[1]);
        }
        if (flat->size() > 2) {
            flat->derivative(2, 0) = fw(d2[0]);
            flat->derivative(0, 2) = fw(d2[2]);
        }
        if (leftHanded)
            flat->flipNormal();
    }
    return point;
}

QELXPoint2D Ve_SurfaceTag::invert(const QELXPoint3D& p, Gk_Flat3* flat) const
{
    QELpar_pos uv;
    if (!velmViewGuard(kSurfaceSource, __LINE__, [&] { uv = geometry().param(Ve_Pt3(p)); }))
        return QELXPoint2D();
    const QELXPoint2D result(uv.u, uv.v);
    if (flat)
        eval(result, flat);
    return result;
}

Gk_Domain Ve_SurfaceTag::principalRange(bool alongU) const
{
    double period = 0.0;
    // A surface without equation closes in no direction.
    if (!getDef()->has_equation())
        return Gk_Domain(0.0, period, Gk_Def::FuzzKnot);
    const outcome r = velmInnerCall([&] {
        surface& s = getDef()->equation_for_update();
        s.unlimit();
        period = alongU ? s.param_period_u() : s.param_period_v();
    });
    reportKernelError(r.error_number(), kSurfaceSource, __LINE__);
    return Gk_Domain(0.0, period, Gk_Def::FuzzKnot);
}

Gk_Domain Ve_SurfaceTag::uPrincipalRange() const
{
    return principalRange(true);
}

Gk_Domain Ve_SurfaceTag::vPrincipalRange() const
{
    return principalRange(false);
}

QELIResult Ve_SurfaceTag::GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const
{
    QELbox b;
    if (!velmViewGuard(kSurfaceSource, __LINE__,
                       [&] { b = geometry().bound(QELpar_box(Ve_Domain(span.u()), Ve_Domain(span.v()))); }))
        b = QELbox(QELposition());
    box.Set(Ve_Pt3(b.low()), Ve_Pt3(b.high()));
    return 0;
}

Gk_BiLinMap Ve_SurfaceTag::getMap() const
{
    const Gk_LinMap identity;
    const Gk_LinMap reversed(-1.0, 0.0);
    const int t = typeId();
    if (t == Gk_SurfaceType3::Sphere) {
        const sphere& s = static_cast<const sphere&>(geometry());
        const bool agree = s.left_handed_uv() == (s.radius < 0.0);
        return Gk_BiLinMap(identity, agree ? reversed : identity, true);
    }
    if (t != Gk_SurfaceType3::Cylinder && t != Gk_SurfaceType3::Cone)
        return Gk_BiLinMap();
    const cone& c = static_cast<const cone&>(geometry());
    const bool rev = c.reverse_u == 1;
    const double cosine = c.sine < 0.0 ? -c.cosine : c.cosine;
    Gk_LinMap m1 = identity, m2 = identity;
    if (cosine > 0.0 && !rev)
        m1 = reversed;
    else if (cosine <= 0.0 && !rev)
        m2 = reversed;
    else if (cosine > 0.0 && rev)
        m1 = m2 = reversed;
    return Gk_BiLinMap(m2, m1, false);
}

bool Ve_SurfaceTag::IsRightHandedUV() const
{
    switch (typeId()) {
    case Gk_SurfaceType3::Torus:
        return !(static_cast<const torus&>(geometry()).minor_radius < 0.0);
    case Gk_SurfaceType3::Revolution:
    case Gk_SurfaceType3::Swept:
    case Gk_SurfaceType3::BSpline:
        return splineOf(getDef())->reverse_v == 0;
    case Gk_SurfaceType3::Offset:
        // The offset's own frame against its own normal: comparing it with
        // the base's would call an offset of a left-handed base right-handed.
        return offsetOf(getDef()) && !geometry().left_handed_uv();
    default: {
        // A surface without equation has no handedness to report: right-handed.
        const SURFACE* own = getDef();
        return !(own->has_equation() && own->equation().left_handed_uv());
    }
    }
}

// ---- entity ----

void Ve_SurfaceTag::apply(const QELXMorph3D& m)
{
    ENTITY_LIST done;
    velmViewGuard(kSurfaceSource, __LINE__, [&] { getDef()->apply_transform(Ve_Morph(m), done); });
}

Ve_SurfaceTag* Ve_SurfaceTag::copy() const
{
    SURFACE* made = nullptr;
    velmViewGuard(kSurfaceSource, __LINE__, [&] { made = make_surface(geometry()); });
    return view(made);
}

void Ve_SurfaceTag::raiseRef()
{
    if (!isNullView(this))
        getDef()->add();
}

void Ve_SurfaceTag::lowerRef()
{
    if (!isNullView(this))
        getDef()->remove();
}
