// The framework's trimming curve: a curve over a domain, its points and the
// nearest point of the part of the curve the domain holds.
#include "qelx/gk_jordon.hxx"

#include <gtest/gtest.h>

#include <cmath>

TEST(GeomJordon, TheNearestPointStaysOnTheDomainsPartOfTheCurve)
{
    // Unit circle in z = 0, a quarter turn from angle 0.
    const QELXEllipseDef3D circle(QELXPoint3D(0, 0, 0), QELXPoint3D(1, 0, 0), QELXPoint3D(0, 1, 0));
    const Gk_Jordon quarter(QELXCurve3D::Create(QELXBaseCurve3DHandle(new QELXEllipse3D(circle))),
                            Gk_Domain(0.0, Gk_Def::QELXPI / 2));
    EXPECT_TRUE(quarter.isBound());
    EXPECT_LT(quarter.frame(Gk_Def::QELXPI / 2).Distance(QELXPoint3D(0, 1, 0)), 1e-12);
    // Inside the quarter: the foot on the circle.
    const QELXPoint3D inside = quarter.nearest(QELXPoint3D(2, 2, 1));
    EXPECT_LT(inside.Distance(QELXPoint3D(std::sqrt(0.5), std::sqrt(0.5), 0)), 1e-9);
    // Beyond it: the quarter's nearer end, not the circle's foot.
    const QELXPoint3D beyond = quarter.nearest(QELXPoint3D(-1, -0.2, 0));
    EXPECT_LT(beyond.Distance(QELXPoint3D(0, 1, 0)), 1e-9);
}

TEST(GeomJordon, AnUnboundTrimmingCurveAnswersTheOriginAndThePointItself)
{
    const Gk_Jordon unbound;
    EXPECT_FALSE(unbound.isBound());
    EXPECT_EQ(unbound.frame(0.5).Distance(QELXPoint3D(0, 0, 0)), 0.0);
    EXPECT_EQ(unbound.nearest(QELXPoint3D(3, 4, 5)).Distance(QELXPoint3D(3, 4, 5)), 0.0);
}
