// The framework's geometry exporter checked against the framework geometry
// it reads: points computed from the exported data in the canonical
// parameterisations, at the parameters the exported maps give, coincide with
// the framework objects' own evaluation, and the sense flag says whether the
// canonical frame turns with the framework surface's normal.
#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_geometry_exporter.hxx"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = Gk_Def::QELXPI;
using P3 = QELXPoint3D;

P3 cross(const P3& a, const P3& b) { return P3::VectorProduct(a, b); }
P3 unitOf(P3 v)
{
    v.Normalize();
    return v;
}
P3 vec(const double v[3]) { return P3(v[0], v[1], v[2]); }

QELXIdentifier surfaceId(const Gk_Surface3Handle& s)
{
    return QELXIdentifier(static_cast<std::uint64_t>(s->GetPersistentIdentifier()),
                          QELXGeometryExporter::QELXGeometryTypeSurface, nullptr, "Gk_Surface3");
}
QELXIdentifier curveId(std::uint64_t word)
{
    return QELXIdentifier(word, QELXGeometryExporter::QELXGeometryTypeCurve, nullptr, "QELXCurve3D");
}

// Rodrigues: p turned by angle t about the axis (a, unit d), right-handed.
P3 rotate(const P3& p, const P3& a, const P3& d, double t)
{
    const P3 r = p - a;
    return a + r * std::cos(t) + cross(d, r) * std::sin(t) + d * (d.Dot(r) * (1.0 - std::cos(t)));
}

// ---- canonical evaluation from exported data alone

// Curve point at framework parameter t, through the exported map.
P3 curvePoint(QELXGeometryExporter& ex, const QELXIdentifier& id, double t)
{
    double scale = 0, offset = 0;
    bool flag = false;
    EXPECT_EQ(ex.GetCurveParameterization(id, scale, offset, flag), QELI_OK);
    const double s = scale * t + offset;
    int type = -1;
    EXPECT_EQ(ex.GetCurveType(id, type), QELI_OK);
    double a[3], b[3], c[3];
    switch (type) {
    case QELXGeometryCurveTypeLine:
        EXPECT_EQ(ex.GetLinearCurveData(id, a, b), QELI_OK);
        return vec(a) + vec(b) * s;
    case QELXGeometryCurveTypeEllipse: {
        double major = 0, minor = 0;
        EXPECT_EQ(ex.GetEllipticalCurveData(id, major, minor, a, b, c), QELI_OK);
        EXPECT_GE(major, minor);
        return vec(a) + vec(b) * (major * std::cos(s)) + cross(vec(c), vec(b)) * (minor * std::sin(s));
    }
    case QELXGeometryCurveTypeNurbs: {
        int degree = 0, count = 0, knotCount = 0, form = -1;
        double *pts = nullptr, *knots = nullptr, *weights = nullptr;
        int* mults = nullptr;
        EXPECT_EQ(ex.GetNurbsCurveData(id, degree, count, pts, knotCount, knots, mults, weights, form), QELI_OK);
        const QELXBSplineDef3D def(degree, count, pts, knotCount, knots, mults, weights, form >= 2);
        EXPECT_EQ(ex.DeleteNurbsCurveData(pts, knots, mults, weights), QELI_OK);
        EXPECT_TRUE(!pts && !knots && !mults && !weights);
        return def.eval(s);
    }
    default:
        ADD_FAILURE() << "curve type " << type;
        return P3();
    }
}

// Surface point at canonical parameters (s, t).
P3 canonicalPoint(QELXGeometryExporter& ex, const QELXIdentifier& id, double s, double t)
{
    int type = -1;
    EXPECT_EQ(ex.GetSurfaceType(id, type), QELI_OK);
    double o[3], r[3], d[3];
    double a = 0, b = 0, c = 0;
    switch (type) {
    case QELXSurfaceTypePlane: {
        EXPECT_EQ(ex.GetPlanarSurfaceData(id, o, r, d), QELI_OK);
        const P3 n = unitOf(vec(d)), u = vec(r), up = u - n * u.Dot(n), w = cross(n, u);
        return vec(o) + up * s + w * (t * u.Length() / w.Length());
    }
    case QELXSurfaceTypeCylinder:
    case QELXSurfaceTypeCone: {
        EXPECT_EQ(ex.GetConicalSurfaceData(id, a, b, c, o, r, d), QELI_OK);
        EXPECT_EQ(type == QELXSurfaceTypeCylinder, std::fabs(c) <= Gk_Def::FuzzReal);
        const P3 rr = vec(r), dd = vec(d);
        return vec(o) + (rr * std::cos(t) + cross(dd, rr) * std::sin(t)) * ((1 + c * s) * a) -
               dd * (a * std::cos(b) * s);
    }
    case QELXSurfaceTypeSphere: {
        EXPECT_EQ(ex.GetSphericalSurfaceData(id, a, o, r, d), QELI_OK);
        // In its own frame: longitude 0 along dir1, the pole along dir2.
        const P3 O = vec(r) * (1.0 / vec(r).Length()), Pd = vec(d) * (1.0 / vec(d).Length());
        return vec(o) + ((O * std::cos(t) + cross(O, Pd) * std::sin(t)) * std::cos(s) + Pd * std::sin(s)) * a;
    }
    case QELXSurfaceTypeTorus: {
        int kind = 0;
        EXPECT_EQ(ex.GetToroidalSurfaceData(id, a, b, kind, o, r, d), QELI_OK);
        const double major = kind == QELXToroidalSurfaceLemon ? -a : a;
        const P3 O = vec(r), N = vec(d), W = cross(O, N), D = O * std::cos(t) + W * std::sin(t);
        return vec(o) + D * (major + b * std::cos(s)) + N * (b * std::sin(s));
    }
    case QELXSurfaceTypeNurbs: {
        int ud = 0, vd = 0, un = 0, vn = 0, uk = 0, vk = 0, uc = -1, vc = -1;
        double *pts = nullptr, *w = nullptr, *uKnots = nullptr, *vKnots = nullptr;
        int *uMults = nullptr, *vMults = nullptr;
        EXPECT_EQ(ex.GetNurbsSurfaceData(id, ud, vd, un, vn, pts, w, uk, uKnots, uMults, vk, vKnots, vMults, uc, vc),
                  QELI_OK);
        const QELXBSplineNetDef3D net(ud, vd, un, vn, pts, w, uk, uKnots, uMults, vk, vKnots, vMults, uc >= 2, vc >= 2,
                                      false);
        EXPECT_EQ(ex.DeleteNurbsSurfaceData(pts, w, uKnots, uMults, vKnots, vMults), QELI_OK);
        EXPECT_TRUE(!pts && !w && !uKnots && !uMults && !vKnots && !vMults);
        return net.eval(QELXPoint2D(s, t));
    }
    case QELXSurfaceTypeRevolved: {
        QELXIdentifier profile;
        EXPECT_EQ(ex.GetRevolvedSurfaceData(id, o, d, profile), QELI_OK);
        return rotate(curvePoint(ex, profile, s), vec(o), unitOf(vec(d)), t);
    }
    case QELXSurfaceTypeExtruded: {
        QELXIdentifier profile;
        EXPECT_EQ(ex.GetExtrudedSurfaceData(id, d, profile), QELI_OK);
        return curvePoint(ex, profile, s) + vec(d) * t;
    }
    case QELXSurfaceTypeOffset: {
        QELXIdentifier base;
        EXPECT_EQ(ex.GetOffsetSurfaceData(id, a, base), QELI_OK);
        double uA, uB, uC, vA, vB, vC;
        bool flag = false;
        EXPECT_EQ(ex.GetSurfaceParameterization(base, uA, uB, uC, vA, vB, vC, flag), QELI_OK);
        constexpr double h = 1e-6;
        const P3 n = unitOf(cross(canonicalPoint(ex, base, s + h, t) - canonicalPoint(ex, base, s - h, t),
                                  canonicalPoint(ex, base, s, t + h) - canonicalPoint(ex, base, s, t - h)));
        return canonicalPoint(ex, base, s, t) + (flag ? n : -n) * a;
    }
    default:
        ADD_FAILURE() << "surface type " << type;
        return P3();
    }
}

Gk_Surface3Handle make(Gk_BaseSurface3* base, bool sameSense = true, const Gk_BiLinMap& map = Gk_BiLinMap())
{
    return Gk_Surface3::Create(Gk_BaseSurface3Handle(base), sameSense, map);
}

const Gk_BiLinMap kSwap(Gk_LinMap(), Gk_LinMap(-1.0, 0.0), true); // (u, v) -> (v, -u)
const Gk_BiLinMap kFlipU(Gk_LinMap(-1.0, 0.5), Gk_LinMap(), false);
const Gk_BiLinMap kScale(Gk_LinMap(2.0, 0.25), Gk_LinMap(0.5, -0.1), false);

QELXBSplineNetDef3D patch()
{
    const double pts[27] = {0, 0, 0, 0, 1, 0.2, 0, 2, 0, 1, 0, 0.5, 1, 1, 1.5, 1, 2, 0.3, 2, 0, 0, 2, 1, 0.4, 2, 2, 0.1};
    const double weights[9] = {1, 1, 1, 1, 1.5, 1, 1, 1, 1};
    const double knots[2] = {0, 1};
    const int mults[2] = {3, 3};
    return QELXBSplineNetDef3D(2, 2, 3, 3, pts, weights, 2, knots, mults, 2, knots, mults, false, false, false);
}

// A surface the framework knows only by evaluation and by its net: it goes
// as that net. Its frame is left-handed w.r.t. its normal.
class NetOnly : public Gk_BaseSurface3 {
public:
    Gk_BaseSurface3Handle clone() const override { return new NetOnly(*this); }
    bool IsRightHandedUV() const override { return false; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const override
    {
        const P3 p = m_net.eval(uv, flat);
        if (flat)
            flat->setNormalFlipped(true);
        return p;
    }
    QELXPoint2D invert(const QELXPoint3D&, Gk_Flat3*) const override { return QELXPoint2D(); }
    unsigned long GetPersistentIdentifier() const override { return reinterpret_cast<std::uintptr_t>(this); }
    Gk_Domain uPrincipalRange() const override { return Gk_Domain(0.0, 1.0); }
    Gk_Domain vPrincipalRange() const override { return Gk_Domain(0.0, 1.0); }
    using Gk_BaseSurface3::bspline;
    QELXBSplineNetDef3D bspline(const Gk_Span&, const Gk_ApproxInfo*, Gk_SurfApproxInfoHandle*) const override
    {
        return m_net;
    }

private:
    QELXBSplineNetDef3D m_net = patch();
};

// A cone read in other parameters, as a kernel adapter hands one over: its
// traversal leads the map on to the definition's parameters, and its
// handedness flag says how its own frame sits against the cone's normal.
class Reparametrised : public Gk_BaseSurface3 {
public:
    Reparametrised(const Gk_Cone3Def& def, const Gk_BiLinMap& toDefinition) : m_def(def), m_map(toDefinition) {}
    Gk_BaseSurface3Handle clone() const override { return new Reparametrised(*this); }
    bool IsRightHandedUV() const override { return m_map.isForward(); }
    // Position and the cone's own normal.
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return m_def.eval(m_map.apply(uv), flat); }
    QELXPoint2D invert(const QELXPoint3D&, Gk_Flat3*) const override { return QELXPoint2D(); }
    unsigned long GetPersistentIdentifier() const override { return reinterpret_cast<std::uintptr_t>(this); }
    void traverse(Gk_SurfaceCallback3* callback) const override
    {
        callback->map().compose(m_map, false);
        callback->doCone(m_def, IsRightHandedUV());
    }

private:
    Gk_Cone3Def m_def;
    Gk_BiLinMap m_map;
};

struct SurfaceCase {
    std::string name;
    std::function<Gk_Surface3Handle()> build;
    int type;
};

std::vector<SurfaceCase> surfaceCases()
{
    const P3 C(1, -2, 0.5);
    const double phi = 0.7, r = 1.5;
    const P3 O(r * std::cos(phi), r * std::sin(phi), 0);
    return {
        {"plane, uneven speeds", [=] { return make(new Gk_PlaneSurface3(Gk_Plane3Def(C, P3(2, 0, 0), P3(0, 3, 0)))); },
         QELXSurfaceTypePlane},
        {"plane reversed, u flipped",
         [=] { return make(new Gk_PlaneSurface3(Gk_Plane3Def(C, P3(0, 1, 1), P3(0, -1, 1))), false, kFlipU); },
         QELXSurfaceTypePlane},
        {"cylinder", [=] { return make(new Gk_ConeSurface3(Gk_Cone3Def(QELXEllipseDef3D(C, P3(2, 0, 0), P3(0, 2, 0)), 0, 1, 0))); },
         QELXSurfaceTypeCylinder},
        {"cone scaled slant, reversed, scaled map",
         [=] {
             return make(new Gk_ConeSurface3(Gk_Cone3Def(QELXEllipseDef3D(C, P3(0, 2, 0), P3(0, 0, 2)), 0.5,
                                                          std::sqrt(0.75), 3.0)),
                         false, kScale);
         },
         QELXSurfaceTypeCone},
        {"sphere, pole +z, swapped map",
         [=] { return make(new Gk_EllipsoidSurface3(Gk_Ellipsoid3Def(C, O, cross(P3(0, 0, 1), O), P3(0, 0, r))), true, kSwap); },
         QELXSurfaceTypeSphere},
        {"sphere, pole +x, longitude 0 along +y, swapped map",
         [=] {
             return make(new Gk_EllipsoidSurface3(Gk_Ellipsoid3Def(C, P3(0, r, 0), P3(0, 0, r), P3(r, 0, 0))), true,
                         kSwap);
         },
         QELXSurfaceTypeSphere},
        {"mirrored sphere, tilted pole, reversed",
         [=] {
             const P3 pole = P3(1, -2, 2) * (r / 3.0), zero = P3(2, 2, 1) * (r / 3.0);
             return make(new Gk_EllipsoidSurface3(Gk_Ellipsoid3Def(C, zero, cross(zero, pole) * (1.0 / r), pole)), false,
                         kSwap);
         },
         QELXSurfaceTypeSphere},
        {"sphere, pole -z, reversed",
         [=] {
             return make(new Gk_EllipsoidSurface3(Gk_Ellipsoid3Def(C, O, cross(P3(0, 0, -1), O), P3(0, 0, -r))), false,
                         kSwap);
         },
         QELXSurfaceTypeSphere},
        {"ring torus, scaled map",
         [=] { return make(new Gk_TorusSurface3(Gk_Torus3Def(C, P3(0, 0, 2), P3(0, 5, 0), 1.0, true)), true, kScale); },
         QELXSurfaceTypeTorus},
        {"lemon torus, reversed",
         [=] { return make(new Gk_TorusSurface3(Gk_Torus3Def(C, P3(1, 0, 0), P3(0, 1, 0), 2.0, false)), false); },
         QELXSurfaceTypeTorus},
        {"rational B-spline, u flipped", [] { return make(new Gk_BSSurface3(Gk_BSSurface3Def(patch())), true, kFlipU); },
         QELXSurfaceTypeNurbs},
        {"cone behind a reversing map, reversed",
         [=] {
             return make(new Reparametrised(Gk_Cone3Def(QELXEllipseDef3D(C, P3(2, 0, 0), P3(0, 2, 0)), 0.6, 0.8, 0),
                                            kFlipU),
                         false, kScale);
         },
         QELXSurfaceTypeCone},
        {"approximated, reversed, scaled map", [] { return make(new NetOnly, false, kScale); }, QELXSurfaceTypeNurbs},
        {"revolved line",
         [=] {
             const QELXCurve3DHandle profile =
                 QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXLine3D(P3(2, 0, 0), P3(1, 0, 1))), Gk_LinMap(-1.0, 0.0));
             return make(new Gk_SpunSurface3(Gk_SpunSurface3Def(profile, C, P3(0, 0, 3), Gk_Domain(-1.0, 1.0))), false);
         },
         QELXSurfaceTypeRevolved},
        {"extruded ellipse",
         [=] {
             const QELXCurve3DHandle profile = QELXCurve3D::Create(
                 QELXBaseCurve3DHandle(new QELXEllipse3D(QELXEllipseDef3D(C, P3(1, 0, 0), P3(0, 2, 0)))));
             return make(new Gk_SweptSurface3(Gk_SweptSurface3Def(profile, P3(0.2, 0, 1))));
         },
         QELXSurfaceTypeExtruded},
        {"offset of a reversed cylinder",
         [=] {
             const Gk_Surface3Handle base =
                 make(new Gk_ConeSurface3(Gk_Cone3Def(QELXEllipseDef3D(C, P3(2, 0, 0), P3(0, 2, 0)), 0, 1, 0)), false,
                      kScale);
             return make(new Gk_OffsetSurface3(Gk_OffsetSurface3Def(base, 0.5)), false);
         },
         QELXSurfaceTypeOffset},
    };
}

} // namespace

TEST(GkGeometryExporter, SurfaceDataAtMappedParametersMatchesTheSurface)
{
    QELXGkGeometryExporter ex(nullptr);
    for (const SurfaceCase& c : surfaceCases()) {
        SCOPED_TRACE(c.name);
        const Gk_Surface3Handle surface = c.build();
        const QELXIdentifier id = surfaceId(surface);
        int type = -1;
        ASSERT_EQ(ex.GetSurfaceType(id, type), QELI_OK);
        ASSERT_EQ(type, c.type);
        double uA = 0, uB = 0, uC = 0, vA = 0, vB = 0, vC = 0;
        bool flag = false;
        ASSERT_EQ(ex.GetSurfaceParameterization(id, uA, uB, uC, vA, vB, vC, flag), QELI_OK);
        for (const QELXPoint2D uv : {QELXPoint2D(0.1, 0.2), QELXPoint2D(-0.3, 0.45), QELXPoint2D(0.35, -0.25)}) {
            const double s = uA * uB * uv.u() + uC, t = vA * vB * uv.v() + vC;
            Gk_Flat3 flat(2);
            const P3 expected = surface->eval(uv, &flat);
            EXPECT_NEAR(canonicalPoint(ex, id, s, t).Distance(expected), 0.0, 1e-9 * (1.0 + expected.Length()));
            // The sense flag: canonical frame against the framework normal.
            constexpr double h = 1e-6;
            const P3 n = cross(canonicalPoint(ex, id, s + h, t) - canonicalPoint(ex, id, s - h, t),
                               canonicalPoint(ex, id, s, t + h) - canonicalPoint(ex, id, s, t - h));
            EXPECT_EQ(flag, n.Dot(flat.normal()) > 0.0) << "at " << uv.u() << ", " << uv.v();
        }
    }
}

TEST(GkGeometryExporter, RefusesWhatItCannotSay)
{
    QELXGkGeometryExporter ex(nullptr);
    const P3 z(0, 0, 1), x(1, 0, 0);
    // A sphere read straight in its definition's parameters would need a
    // swap of u and v, which the triples cannot carry.
    const Gk_Surface3Handle sphere = make(new Gk_EllipsoidSurface3(Gk_Ellipsoid3Def(P3(), x, cross(z, x), z)));
    double m[6];
    bool flag = false;
    EXPECT_EQ(ex.GetSurfaceParameterization(surfaceId(sphere), m[0], m[1], m[2], m[3], m[4], m[5], flag), QELI_FAIL);
    // An unbounded plane has no span; a torus has its full angles.
    double u[2] = {7, 7}, v[2] = {7, 7};
    const Gk_Surface3Handle plane = make(new Gk_PlaneSurface3(Gk_Plane3Def(P3(), x, P3(0, 1, 0))));
    EXPECT_EQ(ex.GetSurfaceSpan(surfaceId(plane), u, v), QELI_FAIL);
    EXPECT_EQ(u[0], 7.0);
    const Gk_Surface3Handle torus = make(new Gk_TorusSurface3(Gk_Torus3Def(P3(), z, P3(3, 0, 0), 1.0, true)));
    ASSERT_EQ(ex.GetSurfaceSpan(surfaceId(torus), u, v), QELI_OK);
    EXPECT_NEAR(u[1] - u[0], 2 * kPi, 1e-12);
    EXPECT_NEAR(v[1] - v[0], 2 * kPi, 1e-12);
    // Wrong kind, unknown word, and a surface asked for another kind's data.
    int type = -1;
    double a = 0, b = 0, c = 0, p[3], q[3], rr[3];
    EXPECT_EQ(ex.GetCurveType(surfaceId(plane), type), QELI_INVALID_ARG);
    EXPECT_EQ(ex.GetSurfaceType(curveId(12345), type), QELI_INVALID_ARG);
    EXPECT_EQ(ex.GetConicalSurfaceData(surfaceId(plane), a, b, c, p, q, rr), QELI_INVALID_ARG);
    EXPECT_EQ(type, -1);
    // A net whose rows differ in length has no layout to hand out.
    QELXPolygonNetWeight3D rows;
    for (int length : {3, 2}) {
        QELXPolygonWeight3D row;
        for (int j = 0; j < length; ++j)
            row.Add(QELXWeightPoint3D(P3(length, j, 0)));
        rows.Add(row);
    }
    const Gk_Partition linear(1, {{0.0, 2}, {1.0, 2}}, true);
    const Gk_Surface3Handle ragged = make(new Gk_BSSurface3(Gk_BSSurface3Def(
        QELXBSplineNetDef3D(linear, Gk_Partition(2, {{0.0, 3}, {1.0, 3}}, true), rows, false, false, 4, 4, false))));
    int ud = 0, vd = 0, un = 0, vn = 0, uk = 0, vk = 0, uc = 0, vc = 0;
    double *pts = nullptr, *w = nullptr, *uKnots = nullptr, *vKnots = nullptr;
    int *uMults = nullptr, *vMults = nullptr;
    EXPECT_EQ(ex.GetNurbsSurfaceData(surfaceId(ragged), ud, vd, un, vn, pts, w, uk, uKnots, uMults, vk, vKnots, vMults,
                                     uc, vc),
              QELI_FAIL);
    EXPECT_TRUE(!pts && !uKnots && un == 0);
}

TEST(GkGeometryExporter, CurveAndPCurveDataAtMappedParametersMatchTheCurve)
{
    QELXGkGeometryExporter ex(nullptr);
    const double pts[12] = {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 0};
    const double knots[3] = {0, 0.5, 1};
    const int mults[3] = {3, 1, 3};
    const double weights[4] = {1, 2, 0.5, 1};
    const std::vector<std::pair<std::string, QELXCurve3DHandle>> curves = {
        {"reversed line", QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXLine3D(P3(1, 2, 3), P3(0.5, 0, -2))),
                                              Gk_LinMap(-1.0, 0.0))},
        {"ellipse with the longer minor axis",
         QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXEllipse3D(QELXEllipseDef3D(P3(1, 0, 0), P3(1, 0, 0), P3(0, 0, 3)))))},
        {"rational B-spline, reversed",
         QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXBSplineCurve3D(
                                 QELXBSplineDef3D(2, 4, pts, 3, knots, mults, weights, false))),
                             Gk_LinMap(-1.0, 0.0))},
    };
    for (const auto& [name, curve] : curves) {
        SCOPED_TRACE(name);
        const QELXIdentifier id = curveId(curve->GetPersistentIdentifier());
        for (double t : {-0.8, -0.3, 0.1, 0.6}) {
            if (!curve->domain().isFinite() || curve->domain().isInside(t)) {
                EXPECT_NEAR(curvePoint(ex, id, t).Distance(curve->eval(t, nullptr)), 0.0, 1e-9);
            }
        }
    }

    const double uv[8] = {0, 0, 1, 0.5, 0.5, 1, 1, 1};
    const QELXCurve2DHandle pcurve = QELXCurve2D::Create(
        QELXBaseCurve2DHandle(new QELXBSplineCurve2D(QELXBSplineDef2D(2, 4, uv, 3, knots, mults, nullptr, false))),
        Gk_LinMap(-1.0, 0.0));
    const QELXIdentifier id(static_cast<std::uint64_t>(pcurve->GetPersistentIdentifier()),
                            QELXGeometryExporter::QELXGeometryTypePCurve, nullptr, "QELXCurve2D");
    int type = -1, degree = 0, count = 0, knotCount = 0, form = -1;
    double scale = 0, offset = 0, *ctrl = nullptr, *k = nullptr, *w = nullptr;
    int* m = nullptr;
    bool flag = false;
    ASSERT_EQ(ex.GetPCurveType(id, type), QELI_OK);
    EXPECT_EQ(type, QELXGeometryPCurveTypeNurbs);
    ASSERT_EQ(ex.GetPCurveParameterization(id, scale, offset, flag), QELI_OK);
    ASSERT_EQ(ex.GetNurbsPCurveData(id, degree, count, ctrl, knotCount, k, m, w, form), QELI_OK);
    EXPECT_EQ(w, nullptr);
    const QELXBSplineDef2D data(degree, count, ctrl, knotCount, k, m, w, form >= 2);
    EXPECT_EQ(ex.DeleteNurbsPCurveData(ctrl, k, m, w), QELI_OK);
    for (double t : {-0.9, -0.4, -0.1}) {
        const QELXPoint2D a = data.eval(scale * t + offset), b = pcurve->eval(t, nullptr);
        EXPECT_NEAR(std::hypot(a.u() - b.u(), a.v() - b.v()), 0.0, 1e-12);
    }
}

TEST(GkGeometryExporter, IdentifiersLiveWithTheirObjects)
{
    QELXGkGeometryExporter ex(nullptr);
    std::uint64_t pointWord = 0;
    double xyz[3] = {0, 0, 0};
    {
        const QELXPoint3DHandle point(new QELXRefPoint3D(P3(4, 5, 6)));
        pointWord = point->word();
        ASSERT_EQ(ex.GetCartesianPointData(QELXIdentifier(pointWord, QELXGeometryExporter::QELXGeometryTypePoint,
                                                          nullptr, "Ve_Point"),
                                           xyz),
                  QELI_OK);
        EXPECT_EQ(P3(xyz[0], xyz[1], xyz[2]).Distance(P3(4, 5, 6)), 0.0);
    }
    EXPECT_EQ(ex.GetCartesianPointData(QELXIdentifier(pointWord, QELXGeometryExporter::QELXGeometryTypePoint, nullptr,
                                                      "Ve_Point"),
                                       xyz),
              QELI_INVALID_ARG);

    // A revolved surface's profile stays readable after the reader let the
    // surface go: the exporter holds what it handed out.
    QELXIdentifier profile;
    {
        const Gk_Surface3Handle spun = make(new Gk_SpunSurface3(Gk_SpunSurface3Def(
            QELXBaseCurve3DHandle(new QELXLine3D(P3(1, 0, 0), P3(0, 0, 1))), P3(), P3(0, 0, 1), Gk_Domain(0.0, 1.0))));
        double axisPoint[3], axisDir[3];
        ASSERT_EQ(ex.GetRevolvedSurfaceData(surfaceId(spun), axisPoint, axisDir, profile), QELI_OK);
    }
    EXPECT_NEAR(curvePoint(ex, profile, 0.5).Distance(P3(1, 0, 0.5)), 0.0, 1e-12);
}
