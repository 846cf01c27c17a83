#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <numbers>

#include "model/math_types.hxx"

namespace {

QELXAffine rotationAboutZ(double angle)
{
    QELXAffine a;
    a.SetRow(0, std::cos(angle), -std::sin(angle), 0.0);
    a.SetRow(1, std::sin(angle), std::cos(angle), 0.0);
    a.SetRow(2, 0.0, 0.0, 1.0);
    return a;
}

} // namespace

TEST(MathTypes, PointConversionsMapComponents)
{
    const QELposition p = Ve_Pt2(QELXPoint2D(2.0, 3.0));
    EXPECT_EQ(p.x(), 2.0);
    EXPECT_EQ(p.y(), 3.0);
    EXPECT_EQ(p.z(), 0.0);

    const QELunit_vector dir = Ve_Pt3(QELXPoint3D(3.0, 0.0, 4.0));
    EXPECT_NEAR(dir.x(), 0.6, 1e-15);
    EXPECT_EQ(dir.y(), 0.0);
    EXPECT_NEAR(dir.z(), 0.8, 1e-15);

    const Ve_Pt3 weighted(QELXWeightPoint3D(QELXPoint3D(1.0, 2.0, 3.0), 0.5));
    EXPECT_EQ(weighted[2], 3.0);

    const QELpar_pos uv = Ve_Pt2(QELpar_pos(-1.0, 7.0));
    EXPECT_EQ(uv.u, -1.0);
    EXPECT_EQ(uv.v, 7.0);
}

TEST(MathTypes, BoxKeepsCorners)
{
    const Ve_Box3 box(QELbox(QELposition(-1, -2, -3), QELposition(4, 5, 6)));
    EXPECT_EQ(box.low()[1], -2.0);
    EXPECT_EQ(box.high()[2], 6.0);
    const QELbox back = box;
    EXPECT_EQ(back.low().x(), -1.0);
    EXPECT_EQ(back.high().y(), 5.0);
}

TEST(MathTypes, IntervalTypesBecomeEndConditions)
{
    EXPECT_EQ(Ve_Domain(QELinterval(0.0, 1.0)).endCondition(), 3);
    EXPECT_EQ(Ve_Domain(QELinterval(interval_bounded_below, 2.0, 0.0)).endCondition(), 1);
    EXPECT_EQ(Ve_Domain(QELinterval(interval_bounded_above, 0.0, 5.0)).endCondition(), 2);
    EXPECT_EQ(Ve_Domain(QELinterval(interval_unbounded, 0.0, 0.0)).endCondition(), 0);
    EXPECT_EQ(Ve_Domain(QELinterval()).endCondition(), 0);

    const Ve_Domain below(QELinterval(interval_bounded_below, 2.0, 0.0));
    EXPECT_EQ(below.low(), 2.0);
    EXPECT_EQ(below.fuzz(), Gk_Def::FuzzKnot);
}

TEST(MathTypes, DomainTypesFollowBoundEnds)
{
    const QELinterval finite = Ve_Domain(Gk_Domain(1.0, 2.0));
    EXPECT_EQ(finite.type(), interval_bounded);
    EXPECT_EQ(finite.start_pt(), 1.0);
    EXPECT_EQ(finite.end_pt(), 2.0);

    const QELinterval open = Ve_Domain(Gk_Domain(0, -5.0, 5.0, Gk_Def::FuzzKnot));
    EXPECT_EQ(open.type(), interval_unbounded);

    // A half-bounded domain keeps its finite end.
    const QELinterval below = Ve_Domain(Gk_Domain(-3.0, 0.0, Gk_Def::FuzzKnot, true, false));
    EXPECT_EQ(below.type(), interval_bounded_below);
    EXPECT_EQ(below.start_pt(), -3.0);
    const QELinterval above = Ve_Domain(Gk_Domain(0.0, 8.0, Gk_Def::FuzzKnot, false, true));
    EXPECT_EQ(above.type(), interval_bounded_above);
    EXPECT_EQ(above.end_pt(), 8.0);
    EXPECT_EQ(Ve_Domain(above).endCondition(), 2);
}

TEST(MathTypes, SpanTakesUThenV)
{
    const Ve_Span span(QELpar_box(QELinterval(0.0, 1.0), QELinterval(interval_bounded_above, 0.0, 4.0)));
    EXPECT_EQ(span.u().endCondition(), 3);
    EXPECT_EQ(span.u().high(), 1.0);
    EXPECT_EQ(span.v().endCondition(), 2);
    EXPECT_EQ(span.v().high(), 4.0);
}

TEST(MathTypes, IdentityMorphIsNotFlaggedAsRotation)
{
    const QELtransf t = Ve_Morph(QELXMorph3D());
    EXPECT_TRUE(t.identity());
    EXPECT_FALSE(t.rotate());
    EXPECT_FALSE(t.reflect());
    EXPECT_FALSE(t.shear());
}

TEST(MathTypes, RotatedMorphSurvivesRoundTrip)
{
    const QELXMorph3D morph(rotationAboutZ(std::numbers::pi / 2), QELXPoint3D(1.0, 2.0, 3.0), 2.0);
    const QELtransf t = Ve_Morph(morph);
    EXPECT_TRUE(t.rotate());
    EXPECT_FALSE(t.reflect());

    // Both sides move the same point to the same place.
    const QELXPoint3D p(1.0, 0.0, 0.0);
    const QELXPoint3D expected = morph.Apply(p);
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
}

TEST(MathTypes, MirroringMorphReflectsAndShearingMorphShears)
{
    QELXAffine mirror;
    mirror.SetRow(0, -1.0, 0.0, 0.0);
    const QELtransf reflected = Ve_Morph(QELXMorph3D(mirror, QELXPoint3D(), 1.0));
    EXPECT_TRUE(reflected.reflect());
    EXPECT_FALSE(reflected.shear());

    // A negative scale through the origin mirrors as well.
    EXPECT_TRUE(QELtransf(Ve_Morph(QELXMorph3D(QELXAffine(), QELXPoint3D(), -1.0))).reflect());

    QELXAffine shear;
    shear.SetRow(0, 1.0, 0.5, 0.0);
    const QELtransf sheared = Ve_Morph(QELXMorph3D(shear, QELXPoint3D(), 1.0));
    EXPECT_TRUE(sheared.shear());
    EXPECT_FALSE(sheared.reflect());
}

TEST(MathTypes, ParameterMapCrossesAsScalesThenOffsets)
{
    const QELpar_transf identity = Ve_BiLinMap(Gk_BiLinMap());
    EXPECT_TRUE(identity.identity());

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

TEST(MathTypes, ColourClampsEachComponent)
{
    const Ve_Color c(-0.5, 0.25, 7.0);
    EXPECT_EQ(c.red(), 0.0);
    EXPECT_EQ(c.green(), 0.25);
    EXPECT_EQ(c.blue(), 1.0);
    const rgb_color kernel = c;
    EXPECT_EQ(kernel.blue(), 1.0);
}
