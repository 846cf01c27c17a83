#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "model/math_types.hxx"

TEST(MathTypes, PointsBoxesAndColoursConvertBothWays)
{
    const QELposition p = Ve_Pt2(QELXPoint2D(2.0, 3.0));
    EXPECT_EQ(p.x(), 2.0);
    EXPECT_EQ(p.y(), 3.0);
    EXPECT_EQ(p.z(), 0.0);
    const QELunit_vector dir = Ve_Pt3(QELXPoint3D(3.0, 0.0, 4.0));
    EXPECT_NEAR(dir.x(), 0.6, 1e-15);
    EXPECT_NEAR(dir.z(), 0.8, 1e-15);
    EXPECT_EQ(Ve_Pt3(QELXWeightPoint3D(QELXPoint3D(1.0, 2.0, 3.0), 0.5))[2], 3.0);
    const QELpar_pos uv = Ve_Pt2(QELpar_pos(-1.0, 7.0));
    EXPECT_EQ(uv.u, -1.0);
    EXPECT_EQ(uv.v, 7.0);

    const QELbox back = Ve_Box3(QELbox(QELposition(-1, -2, -3), QELposition(4, 5, 6)));
    EXPECT_EQ(back.low().y(), -2.0);
    EXPECT_EQ(back.high().z(), 6.0);

    const Ve_Color c(-0.5, 0.25, 7.0); // each component clamped
    EXPECT_EQ(c.red(), 0.0);
    EXPECT_EQ(c.green(), 0.25);
    EXPECT_EQ(rgb_color(c).blue(), 1.0);
}

TEST(MathTypes, IntervalsAndDomainsKeepTheirBoundedEnds)
{
    const struct {
        QELinterval interval;
        int endCondition;
    } cases[] = {{QELinterval(0.0, 1.0), 3},
                 {QELinterval(interval_bounded_below, 2.0, 0.0), 1},
                 {QELinterval(interval_bounded_above, 0.0, 5.0), 2},
                 {QELinterval(interval_unbounded, 0.0, 0.0), 0}};
    for (const auto& c : cases) {
        const Ve_Domain d(c.interval);
        EXPECT_EQ(d.endCondition(), c.endCondition);
        EXPECT_EQ(QELinterval(d).type(), c.interval.type()) << c.endCondition;
    }
    EXPECT_EQ(Ve_Domain(QELinterval()).endCondition(), 0);
    const Ve_Domain below(QELinterval(interval_bounded_below, 2.0, 0.0));
    EXPECT_EQ(below.low(), 2.0);
    EXPECT_EQ(below.fuzz(), Gk_Def::FuzzKnot);

    const QELinterval finite = Ve_Domain(Gk_Domain(1.0, 2.0));
    EXPECT_EQ(finite.type(), interval_bounded);
    EXPECT_EQ(finite.start_pt(), 1.0);
    EXPECT_EQ(finite.end_pt(), 2.0);
    EXPECT_EQ(QELinterval(Ve_Domain(Gk_Domain(0, -5.0, 5.0, Gk_Def::FuzzKnot))).type(), interval_unbounded);
    // A half-bounded domain keeps its finite end.
    const QELinterval halfBelow = Ve_Domain(Gk_Domain(-3.0, 0.0, Gk_Def::FuzzKnot, true, false));
    EXPECT_EQ(halfBelow.type(), interval_bounded_below);
    EXPECT_EQ(halfBelow.start_pt(), -3.0);
    const QELinterval halfAbove = Ve_Domain(Gk_Domain(0.0, 8.0, Gk_Def::FuzzKnot, false, true));
    EXPECT_EQ(halfAbove.type(), interval_bounded_above);
    EXPECT_EQ(halfAbove.end_pt(), 8.0);

    const Ve_Span span(QELpar_box(QELinterval(0.0, 1.0), QELinterval(interval_bounded_above, 0.0, 4.0)));
    EXPECT_EQ(span.u().endCondition(), 3);
    EXPECT_EQ(span.u().high(), 1.0);
    EXPECT_EQ(span.v().endCondition(), 2);
    EXPECT_EQ(span.v().high(), 4.0);
}

TEST(MathTypes, MorphFlagsFollowTheMatrixAndRotationSurvivesRoundTrip)
{
    const QELtransf identity = Ve_Morph(QELXMorph3D());
    EXPECT_TRUE(identity.identity());
    EXPECT_FALSE(identity.rotate() || identity.reflect() || identity.shear());

    const double angle = std::numbers::pi / 2;
    QELXAffine turn;
    turn.SetRow(0, std::cos(angle), -std::sin(angle), 0.0);
    turn.SetRow(1, std::sin(angle), std::cos(angle), 0.0);
    turn.SetRow(2, 0.0, 0.0, 1.0);
    const QELXMorph3D morph(turn, QELXPoint3D(1.0, 2.0, 3.0), 2.0);
    const QELtransf t = Ve_Morph(morph);
    EXPECT_TRUE(t.rotate());
    EXPECT_FALSE(t.reflect());
    // Both sides move the same point to the same place.
    const QELXPoint3D expected = morph.Apply(QELXPoint3D(1.0, 0.0, 0.0));
    const QELposition moved = QELposition(1.0, 0.0, 0.0) * t;
    EXPECT_NEAR(moved.x(), expected[0], 1e-12);
    EXPECT_NEAR(moved.y(), expected[1], 1e-12);
    EXPECT_NEAR(moved.z(), expected[2], 1e-12);
    const Ve_Morph back(t);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(back.GetAffine().GetElement(i, j), morph.GetAffine().GetElement(i, j), 1e-15);
    EXPECT_EQ(back.GetTranslation()[2], 3.0);
    EXPECT_EQ(back.scaleFactor(), 2.0);

    QELXAffine mirror, shear;
    mirror.SetRow(0, -1.0, 0.0, 0.0);
    shear.SetRow(0, 1.0, 0.5, 0.0);
    const struct {
        QELXMorph3D morph;
        bool reflect, shear;
    } derived[] = {{QELXMorph3D(mirror, QELXPoint3D(), 1.0), true, false},
                   {QELXMorph3D(QELXAffine(), QELXPoint3D(), -1.0), true, false}, // negative scale mirrors
                   {QELXMorph3D(shear, QELXPoint3D(), 1.0), false, true}};
    for (const auto& d : derived) {
        const QELtransf k = Ve_Morph(d.morph);
        EXPECT_EQ(k.reflect(), d.reflect);
        EXPECT_EQ(k.shear(), d.shear);
    }
}

TEST(MathTypes, ParameterMapCrossesAsScalesThenOffsets)
{
    EXPECT_TRUE(QELpar_transf(Ve_BiLinMap(Gk_BiLinMap())).identity());
    const QELpar_transf t = Ve_BiLinMap(Gk_BiLinMap(Gk_LinMap(2.0, 1.0), Gk_LinMap(-1.0, 3.0), false));
    EXPECT_FALSE(t.identity());
    EXPECT_EQ(t.uscale(), 2.0);
    EXPECT_EQ(t.vscale(), -1.0);
    EXPECT_EQ(t.uoffset(), 1.0);
    EXPECT_EQ(t.voffset(), 3.0);
    const Ve_BiLinMap back(t);
    EXPECT_FALSE(back.isCross());
    EXPECT_EQ(back.getLinUMap().slope(), 2.0);
    EXPECT_EQ(back.getLinVMap().abscissa(), 3.0);
}
