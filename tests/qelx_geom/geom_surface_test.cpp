#include "qelx/gk_surface.hxx"
#include "qelx/qelx_errors.hxx"

#include <gtest/gtest.h>

#include "point_checks.hxx"

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kPi = Gk_Def::QELXPI;

// First and mixed derivatives against central differences; the normal is
// the unit cross product of the first ones.
template <class Surface>
void expectFlatMatchesDifferences(const Surface& s, const QELXPoint2D& uv, double tol = 1e-5)
{
    constexpr double h = 1e-5;
    auto at = [&](double du, double dv) {
        Gk_Flat3 f(2);
        s.eval(QELXPoint2D(uv[0] + du, uv[1] + dv), &f);
        return f;
    };
    const Gk_Flat3 f = at(0, 0), up = at(h, 0), um = at(-h, 0), vp = at(0, h), vm = at(0, -h);
    expectNear(f.derivative(1, 0), (up.derivative(0, 0) - um.derivative(0, 0)) / (2 * h), tol);
    expectNear(f.derivative(0, 1), (vp.derivative(0, 0) - vm.derivative(0, 0)) / (2 * h), tol);
    expectNear(f.derivative(1, 1), (vp.derivative(1, 0) - vm.derivative(1, 0)) / (2 * h), tol);
    QELXPoint3D n = QELXPoint3D::VectorProduct(f.derivative(1, 0), f.derivative(0, 1));
    n.Normalize();
    expectNear(f.normal(), f.isNormalFlipped() ? -n : n, 1e-12);
}

template <class Def>
void expectInverts(const Def& def, const QELXPoint2D& uv)
{
    const QELXPoint3D p = def.eval(uv);
    expectNear(def.eval(def.invert(p)), p, 1e-9);
}

const QELXPoint3D kC(1, -2, 0.5);

QELXCurve3DHandle lineProfile(const QELXPoint3D& p, const QELXPoint3D& e)
{
    return QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXLine3D(p, e)));
}

} // namespace

TEST(GeomSurfaceDefs, PlaneFollowsItsFormula)
{
    const Gk_Plane3Def plane(kC, QELXPoint3D(2, 0, 0), QELXPoint3D(0.5, 1, 0));
    expectNear(plane.eval(QELXPoint2D(1.5, -2)), kC + QELXPoint3D(3, 0, 0) + QELXPoint3D(-1, -2, 0), 1e-12);
    expectFlatMatchesDifferences(plane, QELXPoint2D(0.3, 0.7));
    expectNear(plane.normal(QELXPoint2D(0, 0)), QELXPoint3D(0, 0, 1), 1e-12);
    expectInverts(plane, QELXPoint2D(-3.5, 2.25));
    EXPECT_TRUE(Gk_Plane3Def().isEmpty());
}

TEST(GeomSurfaceDefs, ConeSlantParameterNarrowsTowardsTheNormal)
{
    const QELXPoint3D A(2, 0, 0), B(0, 2, 0); // N = +z, |A| = 2
    const double b = 0.4, s = std::sin(b), c = std::cos(b);
    for (double uScale : {0.0, 3.0}) {
        const Gk_Cone3Def cone(QELXEllipseDef3D(kC, A, B), s, c, uScale);
        const double sigma = uScale != 0.0 ? uScale : 2.0;
        EXPECT_DOUBLE_EQ(cone.slantSpeed(), sigma);
        for (double u : {-0.7, 0.0, 0.9})
            for (double v : {0.0, 1.1, 4.0}) {
                const QELXPoint3D expected = kC + (A * std::cos(v) + B * std::sin(v)) * (1 + s * sigma * u / 2.0) -
                                             QELXPoint3D(0, 0, 1) * (c * sigma * u);
                expectNear(cone.eval(QELXPoint2D(u, v)), expected, 1e-12);
                expectFlatMatchesDifferences(cone, QELXPoint2D(u, v));
                expectInverts(cone, QELXPoint2D(u, v));
            }
        // u is a slant parameter of speed sigma, the radius grows with u while
        // the point moves to -N, and the normal points away from the axis.
        Gk_Flat3 f(2);
        cone.eval(QELXPoint2D(0.5, 0.3), &f);
        EXPECT_NEAR(f.derivative(1, 0).Length(), sigma, 1e-12);
        EXPECT_LT(f.derivative(1, 0).z(), 0.0);
        const QELXPoint3D radial = QELXPoint3D(std::cos(0.3), std::sin(0.3), 0);
        EXPECT_GT(f.normal() * radial, 0.0);
    }
    const Gk_Cone3Def cylinder(QELXEllipseDef3D(kC, A, B), 0.0, 1.0, 0.0);
    EXPECT_TRUE(cylinder.isCylinder());
    expectNear(cylinder.eval(QELXPoint2D(1.5, 0)), kC + A - QELXPoint3D(0, 0, 3), 1e-12);
}

TEST(GeomSurfaceDefs, EllipsoidLongitudeTurnsAwayFromYAndLatitudeTowardsMinusZ)
{
    const QELXPoint3D X(3, 0, 0), Y(0, 2, 0), Z(0, 0, 1.5);
    const Gk_Ellipsoid3Def e(kC, X, Y, Z);
    EXPECT_FALSE(e.isSphere());
    expectNear(e.eval(QELXPoint2D(0, 0)), kC + X, 1e-12);
    expectNear(e.eval(QELXPoint2D(kPi / 2, 0)), kC - Y, 1e-12);
    expectNear(e.eval(QELXPoint2D(0, kPi / 2)), kC - Z, 1e-12);
    expectNear(e.eval(QELXPoint2D(1, -kPi / 2)), kC + Z, 1e-12);
    for (double u : {-2.0, 0.4, 3.0})
        for (double v : {-1.0, 0.2, 1.2}) {
            expectFlatMatchesDifferences(e, QELXPoint2D(u, v));
            expectInverts(e, QELXPoint2D(u, v));
            // Right-handed w.r.t. the outward normal.
            EXPECT_GT(e.normal(QELXPoint2D(u, v)) * (e.eval(QELXPoint2D(u, v)) - kC), 0.0);
        }
    EXPECT_TRUE(Gk_Ellipsoid3Def(kC, X, QELXPoint3D(0, 3, 0), QELXPoint3D(0, 0, 3)).isSphere());
}

TEST(GeomSurfaceDefs, TorusRingAndLemon)
{
    // O = x, W = O x N = -y. The lemon (negative major radius) lives where
    // R' + r cos u >= 0.
    struct Case {
        bool positive;
        double R, r;
        std::vector<double> us;
    };
    for (const Case& k : {Case{true, 3.0, 1.0, {0.3, 2.0, 4.5}}, Case{false, -1.0, 2.0, {-0.8, 0.3, 1.0}}}) {
        const Gk_Torus3Def t(kC, QELXPoint3D(0, 0, 2), QELXPoint3D(std::fabs(k.R), 0, 0), k.r, k.positive);
        const double R = k.R, r = k.r;
        EXPECT_DOUBLE_EQ(t.majorRadius(), R);
        expectNear(t.eval(QELXPoint2D(0, 0)), kC + QELXPoint3D(R + r, 0, 0), 1e-12);
        expectNear(t.eval(QELXPoint2D(kPi / 2, 0)), kC + QELXPoint3D(R, 0, r), 1e-12);
        expectNear(t.eval(QELXPoint2D(0, kPi / 2)), kC + QELXPoint3D(0, -(R + r), 0), 1e-12);
        for (double u : k.us)
            for (double v : {0.1, 2.5, 5.0}) {
                const QELXPoint2D uv(u, v);
                expectFlatMatchesDifferences(t, uv);
                expectInverts(t, uv);
                // The normal points away from the tube's centre circle.
                const QELXPoint3D centre = kC + QELXPoint3D(std::cos(v), -std::sin(v), 0) * R;
                EXPECT_GT(t.normal(uv) * (t.eval(uv) - centre), 0.0);
            }
    }
}

TEST(GeomSurfaceDefs, SpunSurfaceTurnsTheProfileRightHanded)
{
    const QELXCurve3DHandle profile = lineProfile(QELXPoint3D(2, 0, 0), QELXPoint3D(1, 0, 1));
    const Gk_SpunSurface3Def spun(profile, QELXPoint3D(0, 0, 0), QELXPoint3D(0, 0, 5), Gk_Domain(0.0, 2.0));
    EXPECT_TRUE(spun.RevolvedCurve() == profile);
    expectNear(spun.eval(QELXPoint2D(1, 0)), QELXPoint3D(3, 0, 1), 1e-12);
    expectNear(spun.eval(QELXPoint2D(1, kPi / 2)), QELXPoint3D(0, 3, 1), 1e-12);
    for (double u : {0.2, 1.5})
        for (double v : {0.4, 3.5}) {
            expectFlatMatchesDifferences(spun, QELXPoint2D(u, v));
            expectInverts(spun, QELXPoint2D(u, v));
        }
    // The base-curve overload wraps the profile in a framework curve.
    const Gk_SpunSurface3Def wrapped(QELXBaseCurve3DHandle(new QELXLine3D(QELXPoint3D(2, 0, 0), QELXPoint3D(1, 0, 1))),
                                     QELXPoint3D(), QELXPoint3D(0, 0, 1), Gk_Domain(0.0, 2.0));
    ASSERT_TRUE(wrapped.RevolvedCurve().IsValid());
    expectNear(wrapped.eval(QELXPoint2D(1, kPi)), QELXPoint3D(-3, 0, 1), 1e-12);
}

TEST(GeomSurfaceDefs, SweptAndOffsetSurfaces)
{
    const Gk_SweptSurface3Def swept(lineProfile(QELXPoint3D(0, 0, 0), QELXPoint3D(1, 1, 0)), QELXPoint3D(0, 0, 2));
    expectNear(swept.eval(QELXPoint2D(2, 0.5)), QELXPoint3D(2, 2, 1), 1e-12);
    expectFlatMatchesDifferences(swept, QELXPoint2D(0.3, 0.2));
    expectInverts(swept, QELXPoint2D(1.5, -0.75));

    // Offset of a torus, outwards by 0.5 (its normal's sense), also with the
    // base surface reversed (offset goes the other way).
    const Gk_Torus3Def torus(kC, QELXPoint3D(0, 0, 1), QELXPoint3D(3, 0, 0), 1.0, true);
    for (bool sameSense : {true, false}) {
        const Gk_Surface3Handle base =
            Gk_Surface3::Create(Gk_BaseSurface3Handle(new Gk_TorusSurface3(torus)), sameSense, Gk_BiLinMap());
        const Gk_OffsetSurface3Def offset(base, 0.5);
        const QELXPoint2D uv(0.7, 1.9);
        Gk_Flat3 bf(2);
        base->eval(uv, &bf);
        expectNear(offset.eval(uv), bf.derivative(0, 0) + bf.normal() * 0.5, 1e-12);
        EXPECT_NEAR(offset.eval(uv).Distance(torus.eval(uv)), 0.5, 1e-12);
        expectFlatMatchesDifferences(offset, uv, 1e-4);
        expectInverts(offset, uv);
    }
}

TEST(GeomSurface3, ChainRuleThroughACrossedMap)
{
    const Gk_Torus3Def torus(kC, QELXPoint3D(0, 0, 1), QELXPoint3D(3, 0, 0), 1.0, true);
    const Gk_BaseSurface3Handle base(new Gk_TorusSurface3(torus));
    // Framework (u, v) -> base (2v + 1, 1.5u + 0.5): crossed, so the frame turns over.
    const Gk_BiLinMap map(Gk_LinMap(2.0, 1.0), Gk_LinMap(1.5, 0.5), true);
    ASSERT_FALSE(map.isForward());
    const Gk_Surface3Handle s = Gk_Surface3::Create(base, true, map);
    const QELXPoint2D uv(0.3, 0.8);
    expectNear(s->eval(uv, nullptr), torus.eval(map.apply(uv)), 1e-12);
    expectFlatMatchesDifferences(*s, uv);
    // The normal stays the base's, whatever the map does to the frame.
    Gk_Flat3 f(2);
    s->eval(uv, &f);
    expectNear(f.normal(), torus.normal(map.apply(uv)), 1e-12);
    // Not same sense: the normal turns round.
    const Gk_Surface3Handle reversed = Gk_Surface3::Create(base, false, map);
    reversed->eval(uv, &f);
    expectNear(f.normal(), -torus.normal(map.apply(uv)), 1e-12);
    // Inversion answers framework parameters.
    const QELXPoint3D p = s->eval(uv, nullptr);
    expectNear(s->eval(s->invert(p, nullptr), nullptr), p, 1e-9);
    EXPECT_EQ(s->GetPersistentIdentifier(), base->GetPersistentIdentifier());
}

namespace {

struct RecordingCallback : Gk_SurfaceCallback3 {
    std::vector<std::string> calls;
    void doPlane(const Gk_Plane3Def&, bool flag) override { calls.push_back(std::string("plane:") + (flag ? "1" : "0")); }
    void doBSpline(const Gk_BSSurface3Def& d, bool) override { calls.push_back("bspline:" + std::to_string(d.net().uSize())); }
    void doDefault(const Gk_BaseSurface3& s) override { calls.push_back(std::string("default:") + s.GetName()); }
};

// A foreign surface without an exact form.
struct Paraboloid : Gk_BaseSurface3 {
    Gk_BaseSurface3Handle clone() const override { return new Paraboloid(*this); }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* f) const override
    {
        const QELXPoint3D p(uv[0], uv[1], uv[0] * uv[0] + uv[1] * uv[1]);
        if (f) {
            f->derivative(0, 0) = p;
            f->derivative(1, 0) = QELXPoint3D(1, 0, 2 * uv[0]);
            f->derivative(0, 1) = QELXPoint3D(0, 1, 2 * uv[1]);
            f->derivative(1, 1) = QELXPoint3D();
            if (f->size() > 2) {
                f->derivative(2, 0) = QELXPoint3D(0, 0, 2);
                f->derivative(0, 2) = QELXPoint3D(0, 0, 2);
            }
        }
        return p;
    }
    QELXPoint2D invert(const QELXPoint3D& p, Gk_Flat3* f) const override
    {
        return invertBySampling(p, Gk_Span(Gk_Domain(-2.0, 2.0), Gk_Domain(-2.0, 2.0)), f);
    }
    const char* GetName() const override { return "Paraboloid"; }
};

} // namespace

TEST(GeomSurface3, TraversalSetsTheMapAndHandsOverTheDefinition)
{
    const Gk_BiLinMap map(Gk_LinMap(-1.0, 0.0), Gk_LinMap(3.0, 1.0), false);
    RecordingCallback cb;
    cb.setSpan(Gk_Span(Gk_Domain(0.0, 1.0), Gk_Domain(0.0, 1.0)));
    const Gk_Surface3Handle plane = Gk_Surface3::Create(
        Gk_BaseSurface3Handle(new Gk_PlaneSurface3(Gk_Plane3Def(kC, QELXPoint3D(1, 0, 0), QELXPoint3D(0, 1, 0)))), true,
        map);
    plane->traverse(&cb);
    EXPECT_EQ(cb.calls, std::vector<std::string>{"plane:1"});
    EXPECT_DOUBLE_EQ(cb.map().getLinVMap().slope(), 3.0);
    EXPECT_FALSE(cb.span().u().isFinite());

    const Gk_Surface3Handle foreign = Gk_Surface3::Create(Gk_BaseSurface3Handle(new Paraboloid), true, Gk_BiLinMap());
    foreign->traverse(&cb);
    EXPECT_EQ(cb.calls.back(), "default:Paraboloid");
    EXPECT_EQ(foreign->getBase()->GetGkSurfaceType3(), Gk_SurfaceType3::None);
    EXPECT_FALSE(foreign->getBase()->isAnalytic());
    // Default inversion: sampling, then Newton.
    const QELXPoint3D p = foreign->eval(QELXPoint2D(0.6, -1.1), nullptr);
    const QELXPoint2D uv = foreign->invert(p, nullptr);
    EXPECT_NEAR(uv[0], 0.6, 1e-9);
    EXPECT_NEAR(uv[1], -1.1, 1e-9);
    QELXBox3D box;
    EXPECT_EQ(foreign->getBase()->GetBoundingBox(Gk_Span(Gk_Domain(-1.0, 1.0), Gk_Domain(0.0, 1.0)), box), QELI_OK);
    EXPECT_NEAR(box.high().z(), 2.0, 1e-12);
    EXPECT_NE(foreign->getBase()->GetBoundingBox(Gk_Span(), box), QELI_OK);
}

TEST(GeomSurface3, DefinedSurfacesReportTypesRangesAndNets)
{
    const Gk_EllipsoidSurface3 sphere(Gk_Ellipsoid3Def(kC, QELXPoint3D(2, 0, 0), QELXPoint3D(0, 2, 0), QELXPoint3D(0, 0, 2)));
    EXPECT_EQ(sphere.GetGkSurfaceType3(), Gk_SurfaceType3::Sphere);
    EXPECT_TRUE(sphere.isAnalytic());
    EXPECT_DOUBLE_EQ(sphere.uPrincipalRange().high(), 2 * kPi);
    EXPECT_FALSE(sphere.vPrincipalRange().isFinite());

    const double ctrl[] = {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1};
    const double knots[] = {0, 1};
    const int mults[] = {2, 2};
    const QELXBSplineNetDef3D net(1, 1, 2, 2, ctrl, nullptr, 2, knots, mults, 2, knots, mults, false, false, false);
    const Gk_BSSurface3 bs{Gk_BSSurface3Def(net)};
    EXPECT_EQ(bs.GetGkSurfaceType3(), Gk_SurfaceType3::BSpline);
    EXPECT_EQ(bs.bspline(Gk_Span()).uSize(), 2);
    EXPECT_TRUE(sphere.bspline(Gk_Span()).isEmpty());
    RecordingCallback cb;
    bs.traverse(&cb);
    EXPECT_EQ(cb.calls, std::vector<std::string>{"bspline:2"});

    // A definition without a transform asserts when moved.
    Gk_ErrMgr::clearAssertions();
    Gk_SpunSurface3 spun(Gk_SpunSurface3Def(lineProfile(QELXPoint3D(1, 0, 0), QELXPoint3D(0, 0, 1)), QELXPoint3D(),
                                            QELXPoint3D(0, 0, 1), Gk_Domain(0.0, 1.0)));
    spun.apply(QELXMorph3D());
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    Gk_ErrMgr::clearAssertions();
}

TEST(GeomSurface3, GeometryTableFindsTheLatestLiveSurface)
{
    const Gk_BaseSurface3Handle base(new Gk_PlaneSurface3(Gk_Plane3Def(kC, QELXPoint3D(1, 0, 0), QELXPoint3D(0, 1, 0))));
    const std::uint64_t word = base->GetPersistentIdentifier();
    ASSERT_NE(word, 0u);
    {
        const Gk_Surface3Handle first = Gk_Surface3::Create(base, true, Gk_BiLinMap());
        EXPECT_TRUE(Gk_GeometryTable::findSurface(word) == first);
        {
            const Gk_Surface3Handle second = Gk_Surface3::Create(base, false, Gk_BiLinMap());
            EXPECT_TRUE(Gk_GeometryTable::findSurface(word) == second);
        }
        // The replaced entry does not come back when the later object goes.
        EXPECT_FALSE(Gk_GeometryTable::findSurface(word).IsValid());
        EXPECT_FALSE(Gk_GeometryTable::findCurve(word).IsValid());
    }
    EXPECT_FALSE(Gk_GeometryTable::findSurface(word).IsValid());
}
