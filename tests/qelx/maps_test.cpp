#include "qelx/gk_maps.hxx"

#include <gtest/gtest.h>

TEST(GkLinMap, FlagsFollowTheSlope)
{
    const Gk_LinMap identity;
    EXPECT_TRUE(identity.isFirst());
    EXPECT_FALSE(identity.isNegated());
    const Gk_LinMap scaled(2.0, 1.0);
    EXPECT_FALSE(scaled.isFirst());
    EXPECT_DOUBLE_EQ(scaled(3.0), 7.0);

    Gk_LinMap negated;
    negated.negate();
    EXPECT_DOUBLE_EQ(negated.slope(), -1.0);
    EXPECT_TRUE(negated.isNegated());
    EXPECT_TRUE(negated.isFirst());

    // The setters write one part only; the translator sets flags itself.
    Gk_LinMap m;
    m.setSlope(-3.0);
    EXPECT_FALSE(m.isNegated());
    m.setNegated(true);
    EXPECT_TRUE(m.isNegated());
}

TEST(GkLinMap, InverseAndComposition)
{
    const Gk_LinMap m(-2.0, 5.0);
    const Gk_LinMap inv = m.inverse();
    for (double t : {-1.0, 0.0, 2.5})
        EXPECT_DOUBLE_EQ(inv(m(t)), t);
    EXPECT_TRUE(inv.isNegated());

    Gk_LinMap first(2.0, 1.0);
    const Gk_LinMap next(3.0, -4.0);
    first.compose(next); // next o first
    EXPECT_DOUBLE_EQ(first(1.0), next(Gk_LinMap(2.0, 1.0)(1.0)));
    EXPECT_DOUBLE_EQ(first.slope(), 6.0);

    Gk_LinMap back(-1.0, 0.0);
    back.compose(Gk_LinMap(-1.0, 0.0));
    EXPECT_TRUE(back.isIdentity());
    EXPECT_FALSE(back.isNegated());
}

TEST(GkBiLinMap, CrossedMapSwapsAndComposesInOrder)
{
    const Gk_BiLinMap cross(Gk_LinMap(2.0, 1.0), Gk_LinMap(-1.0, 0.0), true);
    const QELXPoint2D p(3.0, 5.0);
    const QELXPoint2D image = cross.apply(p);
    EXPECT_DOUBLE_EQ(image[0], 11.0); // u out = mu(v in)
    EXPECT_DOUBLE_EQ(image[1], -3.0); // v out = mv(u in)

    const Gk_BiLinMap plain(Gk_LinMap(1.0, 2.0), Gk_LinMap(3.0, 0.0), false);
    for (const auto& [a, b] : {std::pair{cross, plain}, std::pair{plain, cross}, std::pair{cross, cross}}) {
        Gk_BiLinMap composed = a;
        composed.compose(b, false); // a first, then b
        const QELXPoint2D expected = b.apply(a.apply(p));
        EXPECT_DOUBLE_EQ(composed.apply(p)[0], expected[0]);
        EXPECT_DOUBLE_EQ(composed.apply(p)[1], expected[1]);
        EXPECT_EQ(composed.isCross(), a.isCross() != b.isCross());

        Gk_BiLinMap before = a;
        before.compose(b, true); // b first, then a
        const QELXPoint2D expectedBefore = a.apply(b.apply(p));
        EXPECT_DOUBLE_EQ(before.apply(p)[0], expectedBefore[0]);
        EXPECT_DOUBLE_EQ(before.apply(p)[1], expectedBefore[1]);
    }
}

TEST(GkBiLinMap, InverseAndForwardness)
{
    const Gk_BiLinMap cross(Gk_LinMap(2.0, 1.0), Gk_LinMap(-0.5, 4.0), true);
    const QELXPoint2D p(-1.5, 7.0);
    const QELXPoint2D back = cross.inverse().apply(cross.apply(p));
    EXPECT_DOUBLE_EQ(back[0], p[0]);
    EXPECT_DOUBLE_EQ(back[1], p[1]);

    EXPECT_TRUE(Gk_BiLinMap().isForward());
    EXPECT_FALSE(Gk_BiLinMap(Gk_LinMap(-1, 0), Gk_LinMap(1, 0), false).isForward());
    EXPECT_TRUE(Gk_BiLinMap(Gk_LinMap(-1, 0), Gk_LinMap(-1, 0), false).isForward());
    EXPECT_FALSE(Gk_BiLinMap(Gk_LinMap(1, 0), Gk_LinMap(1, 0), true).isForward());
    EXPECT_TRUE(Gk_BiLinMap(Gk_LinMap(1, 0), Gk_LinMap(-1, 0), true).isForward()) << "swap plus one reversal";
    EXPECT_FALSE(Gk_BiLinMap(Gk_LinMap(-1, 0), Gk_LinMap(-1, 0), true).isForward()) << "swap plus two reversals";

    const Gk_BiLinMap ext(Gk_LinMapExt(2.0, -1.0, 3.0), Gk_LinMapExt());
    EXPECT_DOUBLE_EQ(ext.getLinUMap().slope(), -2.0);
    EXPECT_DOUBLE_EQ(ext.getUPart().a(), 2.0);
    EXPECT_DOUBLE_EQ(ext.getUPart().b(), -1.0);
    EXPECT_DOUBLE_EQ(ext.getUPart().c(), 3.0);
}

TEST(GkDomain, ConstructorsAndEndConditions)
{
    EXPECT_FALSE(Gk_Domain().isFinite());
    EXPECT_EQ(Gk_Domain().fuzz(), Gk_Def::FuzzKnot);
    EXPECT_TRUE(Gk_Domain(0.0, 0.0).isFinite()) << "an unanswered edge domain is finite and empty";
    const Gk_Domain lowOnly(0.0, 1.0, 1e-9, true, false);
    EXPECT_EQ(lowOnly.endCondition(), 1);
    EXPECT_EQ(Gk_Domain(2, -1.0, 1.0, 1e-9).endCondition(), 2);
}

TEST(GkDomain, NegationAndReversedMapSwapBounds)
{
    const Gk_Domain lowOnly(1.0, 4.0, 1e-9, true, false);
    const Gk_Domain negated = -lowOnly;
    EXPECT_DOUBLE_EQ(negated.low(), -4.0);
    EXPECT_DOUBLE_EQ(negated.high(), -1.0);
    EXPECT_EQ(negated.endCondition(), Gk_Domain::HighBounded);

    Gk_Domain mapped = lowOnly;
    mapped.apply(Gk_LinMap(-2.0, 1.0));
    EXPECT_DOUBLE_EQ(mapped.low(), -7.0);
    EXPECT_DOUBLE_EQ(mapped.high(), -1.0);
    EXPECT_EQ(mapped.endCondition(), Gk_Domain::HighBounded);

    Gk_Domain forward(0.0, 1.0);
    forward.apply(Gk_LinMap(2.0, 1.0));
    EXPECT_DOUBLE_EQ(forward.low(), 1.0);
    EXPECT_DOUBLE_EQ(forward.high(), 3.0);
    EXPECT_TRUE(forward.isFinite());
}

TEST(GkDomain, ContainmentRespectsUnboundedEnds)
{
    const Gk_Domain unit(0.0, 1.0, 1e-6);
    EXPECT_TRUE(unit.isInside(1.0 + 5e-7));
    EXPECT_FALSE(unit.isInside(1.0 + 2e-6));
    EXPECT_TRUE(unit.isContained(Gk_Domain(0.25, 1.0 + 5e-7)));
    EXPECT_FALSE(unit.isContained(Gk_Domain(-0.1, 0.5)));

    const Gk_Domain halfLine(0.0, 0.0, 1e-9, true, false); // [0, +inf)
    EXPECT_TRUE(halfLine.isInside(1e9));
    EXPECT_FALSE(halfLine.isInside(-1.0));
    EXPECT_TRUE(halfLine.isContained(Gk_Domain(5.0, 1e6)));
    EXPECT_FALSE(unit.isContained(halfLine)) << "a bounded end holds no unbounded end";
    EXPECT_TRUE(Gk_Domain().isContained(halfLine));
}

TEST(GkDomain, SamenessPrincipalParameterAndLocate)
{
    const Gk_Domain period(0.0, 2.0 * Gk_Def::QELXPI);
    EXPECT_TRUE(period.isSame(Gk_Domain(1e-11, 2.0 * Gk_Def::QELXPI), -1.0));
    EXPECT_FALSE(period.isSame(Gk_Domain(1e-3, 2.0 * Gk_Def::QELXPI), -1.0));
    EXPECT_TRUE(period.isSame(Gk_Domain(1e-3, 2.0 * Gk_Def::QELXPI), 1e-2));
    EXPECT_FALSE(period.isSame(Gk_Domain(0.0, 2.0 * Gk_Def::QELXPI, 1e-10, true, false), 1.0));

    EXPECT_NEAR(period.principalParam(5.0 * Gk_Def::QELXPI), Gk_Def::QELXPI, 1e-12);
    EXPECT_NEAR(period.principalParam(-0.5 * Gk_Def::QELXPI), 1.5 * Gk_Def::QELXPI, 1e-12);
    EXPECT_DOUBLE_EQ(period.principalParam(2.0 * Gk_Def::QELXPI), 0.0);
    EXPECT_DOUBLE_EQ(Gk_Domain(1.0, 1.0).principalParam(7.0), 7.0);
    EXPECT_DOUBLE_EQ(Gk_Domain(2.0, 6.0).locate(0.25), 3.0);
}

TEST(GkSpan, CrossedMapSwapsDomains)
{
    Gk_Span span(Gk_Domain(0.0, 1.0), Gk_Domain(10.0, 20.0, 1e-9, true, false));
    span.apply(Gk_BiLinMap(Gk_LinMap(2.0, 0.0), Gk_LinMap(-1.0, 0.0), true));
    // u out = 2 * v in, v out = -u in
    EXPECT_DOUBLE_EQ(span.u().low(), 20.0);
    EXPECT_EQ(span.u().endCondition(), Gk_Domain::LowBounded);
    EXPECT_DOUBLE_EQ(span.v().low(), -1.0);
    EXPECT_DOUBLE_EQ(span.v().high(), 0.0);
    double u[2], v[2];
    span.GetDoubles(u, v);
    EXPECT_DOUBLE_EQ(u[1], 40.0);
    EXPECT_DOUBLE_EQ(v[0], -1.0);
}
