#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kCurvePi = Gk_Def::QELXPI;

struct RecordingCurveCallback : QELXCurveCallback3D {
    explicit RecordingCurveCallback(Gk_Domain& d) : QELXCurveCallback3D(d, 1e-3, QELXMorph3D()) {}
    std::vector<std::string> calls;
    void doCallback(const QELXBSCurveDef3D& d) override { calls.push_back("bspline:" + std::to_string(d.getData().numControlPoints())); }
    void doCallback(const QELXEllipseDef3D&) override { calls.push_back("ellipse"); }
    void doCallback(const QELXLineDef3D&) override { calls.push_back("line"); }
};

// A foreign curve whose only exact answer is its approximation.
struct Helix : QELXBaseCurve3D {
    QELXBaseCurve3DHandle clone() const override { return new Helix(*this); }
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const override
    {
        for (int k = 0; d && k < d->size(); ++k) {
            const double s = t + k * kCurvePi / 2;
            (*d)[k] = QELXPoint3D(std::cos(s), std::sin(s), k == 0 ? t : k == 1 ? 1.0 : 0.0);
        }
        return QELXPoint3D(std::cos(t), std::sin(t), t);
    }
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const override
    {
        return invertBySampling(p, Gk_Domain(0.0, 6.0), d);
    }
    QELXBSplineDef3D bspline(const Gk_Domain&, double, double* achieved) const override
    {
        *achieved = 0.0;
        const double ctrl[] = {1, 0, 0, 0, 1, 1};
        const double knots[] = {0, 1};
        const int mults[] = {2, 2};
        return QELXBSplineDef3D(1, 2, ctrl, 2, knots, mults, nullptr, false);
    }
};

} // namespace

TEST(GeomCurve, ReversedCurveOverAUnitDomain)
{
    const double ctrl[] = {0, 0, 0, 1, 1, 0, 2, 0, 0};
    const double knots[] = {0, 1};
    const int mults[] = {3, 3};
    const QELXBaseCurve3DHandle base(new QELXBSplineCurve3D(QELXBSplineDef3D(2, 3, ctrl, 2, knots, mults, nullptr, false)));
    const QELXCurve3DHandle curve = QELXCurve3D::Create(base, Gk_LinMap().negate());
    const Gk_Domain domain = curve->domain();
    EXPECT_DOUBLE_EQ(domain.low(), -1.0);
    EXPECT_DOUBLE_EQ(domain.high(), 0.0);
    QELXCurveDerivatives3D d(3), b(3);
    curve->eval(-0.3, &d);
    base->eval(0.3, &b);
    EXPECT_NEAR(d[0].Distance(b[0]), 0.0, 1e-12);
    EXPECT_NEAR(d[1].Distance(-b[1]), 0.0, 1e-12); // slope^1
    EXPECT_NEAR(d[2].Distance(b[2]), 0.0, 1e-12);  // slope^2
    EXPECT_NEAR(curve->invert(b[0], nullptr), -0.3, 1e-9);
    EXPECT_TRUE(Gk_GeometryTable::findCurve(curve->GetPersistentIdentifier()) == curve);

    Gk_Domain cbDomain(0.0, 1.0);
    RecordingCurveCallback cb(cbDomain);
    curve->traverse(&cb);
    EXPECT_EQ(cb.calls, std::vector<std::string>{"bspline:3"});
    EXPECT_DOUBLE_EQ(cb.map().slope(), -1.0);
    EXPECT_TRUE(cb.map().isNegated());
}

TEST(GeomCurve, LinesAndEllipsesHandOverTheirDefinitions)
{
    Gk_Domain cbDomain;
    RecordingCurveCallback cb(cbDomain);
    const QELXCurve3DHandle line = QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXLine3D(QELXPoint3D(1, 0, 0), QELXPoint3D(0, 0, 2))));
    const QELXEllipseDef3D ellipse(QELXPoint3D(0, 0, 1), QELXPoint3D(3, 0, 0), QELXPoint3D(0, 1, 0));
    const QELXCurve3DHandle arc = QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXEllipse3D(ellipse)), Gk_LinMap(2.0, 0.0));
    line->traverse(&cb);
    arc->traverse(&cb);
    EXPECT_EQ(cb.calls, (std::vector<std::string>{"line", "ellipse"}));
    EXPECT_DOUBLE_EQ(cb.map().slope(), 2.0);
    EXPECT_FALSE(line->domain().isFinite());
    EXPECT_DOUBLE_EQ(arc->domain().high(), kCurvePi); // [0, 2pi] seen through t -> 2t

    EXPECT_NEAR(line->getBase()->length(Gk_Domain(0.0, 1.5)), 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(ellipse.radiusRatio(), 1.0 / 3.0);
    const QELXEllipseDef3D circle(QELXPoint3D(), QELXPoint3D(2, 0, 0), QELXPoint3D(0, 2, 0));
    EXPECT_NEAR(QELXEllipse3D(circle).length(Gk_Domain(0.0, 2 * kCurvePi)), 4 * kCurvePi, 1e-9);
    // Ellipse inversion: Newton on the foot-point condition.
    for (double t : {0.3, 2.0, 5.5}) {
        const QELXPoint3D p = ellipse.eval(t) + QELXPoint3D(0, 0, 0.2);
        EXPECT_NEAR(ellipse.invert(p), t, 1e-9);
    }
    // Derivatives against differences.
    QELXCurveDerivatives3D d(3), dp(3), dm(3);
    const double h = 1e-6;
    ellipse.eval(1.0, &d);
    ellipse.eval(1.0 + h, &dp);
    ellipse.eval(1.0 - h, &dm);
    EXPECT_NEAR(d[1].Distance((dp[0] - dm[0]) / (2 * h)), 0.0, 1e-6);
    EXPECT_NEAR(d[2].Distance((dp[1] - dm[1]) / (2 * h)), 0.0, 1e-6);
}

TEST(GeomCurve, DefaultTraversalApproximatesThroughTheCallbacksDomain)
{
    Gk_Domain cbDomain(0.0, 1.0);
    RecordingCurveCallback cb(cbDomain);
    const QELXCurve3DHandle helix = QELXCurve3D::Create(QELXBaseCurve3DHandle(new Helix));
    helix->traverse(&cb);
    EXPECT_EQ(cb.calls, std::vector<std::string>{"bspline:2"});
    // Default inversion and box of a foreign curve.
    EXPECT_NEAR(helix->invert(QELXPoint3D(std::cos(2.5), std::sin(2.5), 2.5), nullptr), 2.5, 1e-9);
    QELXBox3D box;
    EXPECT_EQ(helix->getBase()->GetBoundingBox(Gk_Domain(0.0, kCurvePi), box), QELI_OK);
    EXPECT_NEAR(box.low().x(), -1.0, 1e-12);
    EXPECT_NEAR(box.high().z(), kCurvePi, 1e-12);
    EXPECT_NE(helix->getBase()->GetBoundingBox(Gk_Domain(), box), QELI_OK);
    double scale = 7.0;
    EXPECT_FALSE(helix->getBase()->GetParamScale(scale));
    EXPECT_DOUBLE_EQ(scale, 7.0);
}

TEST(GeomCurve, CopyClonesTheBaseAndKeepsTheMap)
{
    const QELXCurve3DHandle line =
        QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXLine3D(QELXPoint3D(1, 0, 0), QELXPoint3D(0, 1, 0))), Gk_LinMap(3.0, 1.0));
    const QELXCurve3DHandle copy = line->Copy();
    EXPECT_FALSE(copy->getBase() == line->getBase());
    EXPECT_DOUBLE_EQ(copy->getMap().slope(), 3.0);
    EXPECT_NEAR(copy->eval(2.0, nullptr).Distance(QELXPoint3D(1, 7, 0)), 0.0, 1e-12);
    EXPECT_NE(copy->GetPersistentIdentifier(), line->GetPersistentIdentifier());

    // 2-D curves alike.
    const double ctrl[] = {0, 0, 1, 1, 2, 0};
    const double knots[] = {0, 1};
    const int mults[] = {3, 3};
    const QELXCurve2DHandle pcurve = QELXCurve2D::Create(
        QELXBaseCurve2DHandle(new QELXBSplineCurve2D(QELXBSplineDef2D(2, 3, ctrl, 2, knots, mults, nullptr, false))),
        Gk_LinMap(0.5, 0.0));
    EXPECT_DOUBLE_EQ(pcurve->domain().high(), 2.0);
    EXPECT_NEAR(pcurve->eval(2.0, nullptr)[0], 2.0, 1e-12);
    EXPECT_NEAR(pcurve->invert(QELXPoint2D(1.0, 0.5), nullptr), 1.0, 1e-9);
    EXPECT_TRUE(Gk_GeometryTable::findPCurve(pcurve->GetPersistentIdentifier()) == pcurve);
}
