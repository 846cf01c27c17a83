#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "velm/math.hxx"
#include "velm_test_support.hxx"

using velm_test::expect_close;

TEST(MathResolutions, HugeEllipseThresholdIsTenToTheFive) {
  EXPECT_DOUBLE_EQ(QELresabs / QELresmch, 1e5);
  EXPECT_LT(QELresnor, QELresabs);
  EXPECT_LT(QELresabs, QELresfit);
  EXPECT_DOUBLE_EQ(bs3_curve_knottol(), 1e-10);
}

TEST(MathVector, DotCrossAndUnitVectors) {
  const QELvector a(1, 2, 3), b(-2, 0, 5);
  EXPECT_DOUBLE_EQ(a % b, 13.0);
  expect_close(a * b, QELvector(10, -11, 4));
  EXPECT_NEAR((a * b) % a, 0.0, 1e-12);
  const QELunit_vector u(3, 0, 4);
  expect_close(u, QELvector(0.6, 0, 0.8));
  EXPECT_FALSE(u.is_zero());
  const QELunit_vector z(0, 0, 0);
  EXPECT_TRUE(z.is_zero());
  expect_close(z, QELvector());
  const QELposition p(1, 1, 1), q(4, 5, 1);
  EXPECT_DOUBLE_EQ(distance(p, q), 5.0);
  expect_close(p + (q - p), q);
}

TEST(MathComparators, SamePointVectorAndParallel) {
  EXPECT_TRUE(same_point(QELposition(1, 0, 0), QELposition(1 + 0.5e-6, 0, 0)));
  EXPECT_FALSE(same_point(QELposition(1, 0, 0), QELposition(1 + 2e-6, 0, 0)));
  EXPECT_TRUE(same_point(QELposition(1, 0, 0), QELposition(1 + 2e-6, 0, 0), 1e-5));
  EXPECT_FALSE(same_vector(QELvector(1, 0, 0), QELvector(1, 1e-9, 0)));
  EXPECT_TRUE(parallel(QELvector(2, 0, 0), QELvector(-5, 0, 0)));
  EXPECT_FALSE(parallel(QELvector(1, 0, 0), QELvector(1, 1e-6, 0)));
  EXPECT_TRUE(parallel(QELvector(1, 0, 0), QELvector(1, 1e-6, 0), QELresabs * 2));
}

TEST(MathInterval, TypesEndsAndLength) {
  const QELinterval unset;
  EXPECT_EQ(unset.type(), interval_unset);
  EXPECT_TRUE(unset.empty());
  EXPECT_EQ(unset.length(), 0.0);

  const QELinterval backwards(1.0, 0.0);
  EXPECT_EQ(backwards.type(), interval_bounded);
  EXPECT_TRUE(backwards.empty());

  const QELinterval below(interval_bounded_below, 2.0, 7.0);
  EXPECT_TRUE(below.bounded_below());
  EXPECT_FALSE(below.bounded_above());
  EXPECT_EQ(below.end_pt(), DBL_MAX);
  EXPECT_EQ(below.length(), DBL_MAX);
  EXPECT_TRUE(std::isfinite(QELinterval(interval_unbounded, 0, 0).mid_pt()));

  const QELinterval i(-1.0, 3.0);
  EXPECT_DOUBLE_EQ(i.length(), 4.0);
  EXPECT_DOUBLE_EQ(i.mid_pt(), 1.0);
  EXPECT_DOUBLE_EQ(i.interpolate(0.25), 0.0);
}

TEST(MathInterval, NegationSwapsHalfInfiniteTypes) {
  const QELinterval n = -QELinterval(1.0, 2.0);
  EXPECT_DOUBLE_EQ(n.start_pt(), -2.0);
  EXPECT_DOUBLE_EQ(n.end_pt(), -1.0);
  const QELinterval b = -QELinterval(interval_bounded_below, 2.0, 0.0);
  EXPECT_EQ(b.type(), interval_bounded_above);
  EXPECT_DOUBLE_EQ(b.end_pt(), -2.0);
  EXPECT_EQ((QELinterval(0, 1) * -2.0), QELinterval(-2, 0));
  EXPECT_EQ((QELinterval(0, 1) + 3.0), QELinterval(3, 4));
}

TEST(MathInterval, ContainmentIsLeftContainsRightWithinResabs) {
  const QELinterval big(0.0, 10.0), small(2.0, 3.0);
  EXPECT_TRUE(big << small);
  EXPECT_TRUE(big >> small);
  EXPECT_FALSE(small << big);
  EXPECT_TRUE(big >> QELinterval(-0.5e-6, 10.0 + 0.5e-6));
  EXPECT_FALSE(big >> QELinterval(-2e-6, 10.0));
  // A finite range never holds an infinite one; an infinite one holds everything.
  const QELinterval line(interval_unbounded, 0, 0);
  EXPECT_FALSE(big << line);
  EXPECT_TRUE(line << big);
  EXPECT_TRUE(big >> QELinterval());
}

TEST(MathInterval, ValueContainmentIsStrictInterior) {
  const QELinterval full(-std::numbers::pi, std::numbers::pi);
  EXPECT_FALSE(full >> std::numbers::pi);
  EXPECT_FALSE(full >> -std::numbers::pi);
  EXPECT_TRUE(QELinterval(0.0, 4.0) >> std::numbers::pi);
  EXPECT_FALSE(QELinterval(0.0, std::numbers::pi + 0.5e-6) >> std::numbers::pi);
}

TEST(MathInterval, IntersectionHullAndEquality) {
  const QELinterval a(0, 5), b(3, 8);
  EXPECT_EQ(a & b, QELinterval(3, 5));
  EXPECT_EQ(a | b, QELinterval(0, 8));
  EXPECT_TRUE((a & QELinterval(6, 7)).empty());
  EXPECT_EQ((a & QELinterval(interval_bounded_below, 2, 0)), QELinterval(2, 5));
  EXPECT_EQ((a | QELinterval(interval_bounded_below, 2, 0)).type(), interval_bounded_below);
  EXPECT_TRUE(QELinterval(0, 1) == QELinterval(1e-7, 1));
  EXPECT_FALSE(QELinterval(0, 1) == QELinterval(1e-5, 1));
  EXPECT_FALSE(QELinterval(0, 1) == QELinterval(interval_bounded_below, 0, 1));
  EXPECT_TRUE(QELinterval() == QELinterval(2, 1));
}

TEST(MathBox, UnionContainmentAndEnlarge) {
  QELbox box;
  EXPECT_TRUE(box.empty());
  EXPECT_EQ(box.diagonal(), 0.0);
  box |= QELposition(1, 2, 3);
  box |= QELposition(-1, 0, 5);
  EXPECT_FALSE(box.empty());
  expect_close(box.low(), QELposition(-1, 0, 3));
  expect_close(box.high(), QELposition(1, 2, 5));
  EXPECT_DOUBLE_EQ(box.diagonal(), std::sqrt(12.0));
  EXPECT_TRUE(box >> QELposition(1 + 0.5e-6, 1, 4));
  EXPECT_FALSE(box >> QELposition(1 + 2e-6, 1, 4));
  EXPECT_TRUE(enlarge_box(box, 1.0) >> box);
  EXPECT_FALSE(box >> enlarge_box(box, 1.0));
  expect_close(QELbox(QELposition(1, 1, 1), QELposition(0, 0, 0)).low(), QELposition(0, 0, 0));
}

TEST(MathParBox, ContainsBoxesAndPoints) {
  const QELpar_box range(QELinterval(0, 1), QELinterval(interval_unbounded, 0, 0));
  EXPECT_TRUE(range >> QELpar_box(QELinterval(0.2, 0.8), QELinterval(-100, 100)));
  EXPECT_FALSE(range >> QELpar_box(QELinterval(0.2, 1.8), QELinterval(-1, 1)));
  EXPECT_TRUE(range >> QELpar_pos(1.0, 1e9));
  EXPECT_FALSE(range >> QELpar_pos(-0.1, 0.0));
  QELpar_box b(QELinterval(0, 1), QELinterval(0, 2));
  b.enlarge(0.5, 1.0);
  EXPECT_DOUBLE_EQ(b.low().u, -0.5);
  EXPECT_DOUBLE_EQ(b.high().v, 3.0);
  const QELpar_box un = QELpar_box(QELinterval(0, 1), QELinterval(0, 1)) |
                        QELpar_box(QELinterval(2, 3), QELinterval(-1, 0));
  EXPECT_DOUBLE_EQ(un.low().v, -1.0);
  EXPECT_DOUBLE_EQ(un.high().u, 3.0);
}

TEST(MathMatrix, RowsColumnsDeterminantInverse) {
  const double rows[9] = {1, 2, 0, 0, 1, 0, 3, 0, 2};
  const QELmatrix m(rows);
  expect_close(m.row(0), QELvector(1, 2, 0));
  expect_close(m.column(0), QELvector(1, 0, 3));
  EXPECT_DOUBLE_EQ(m.determinant(), 2.0);
  EXPECT_TRUE((m * m.inverse()).is_identity(1e-12));
  const QELmatrix c(QELvector(1, 0, 3), QELvector(2, 1, 0), QELvector(0, 0, 2));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(c.element(i, j), m.element(i, j));
}

TEST(MathTransf, RowVectorReadingMapsAxesToRows) {
  // Row i of M is the image of axis i: here x -> y, y -> -x.
  const double rows[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  const QELtransf t(QELmatrix(rows), QELvector(10, 0, 0), 2.0, true, false, false);
  expect_close(QELposition(1, 0, 0) * t, QELposition(10, 2, 0));
  expect_close(QELvector(0, 1, 0) * t, QELvector(-2, 0, 0));
  expect_close(QELunit_vector(0, 1, 0) * t, QELvector(-1, 0, 0));
  // Same transform from the rotation helper (right-handed about +z).
  const QELtransf r = rotate_transf(std::numbers::pi / 2, QELvector(0, 0, 1));
  expect_close(QELposition(1, 0, 0) * r, QELposition(0, 1, 0));
  expect_close(QELposition(0, 1, 0) * r, QELposition(-1, 0, 0));
  EXPECT_FALSE(r.reflect());
  EXPECT_FALSE(r.shear());
}

TEST(MathTransf, CompositionAppliesLeftFirst) {
  const QELtransf a = translate_transf(QELvector(1, 0, 0));
  const QELtransf b = rotate_transf(std::numbers::pi / 2, QELvector(0, 0, 1));
  const QELposition p(1, 2, 3);
  expect_close(p * (a * b), (p * a) * b);
  expect_close(p * (a * b), QELposition(-2, 2, 3));
  expect_close(p * (b * a), QELposition(-1, 1, 3));
  const QELtransf s = scale_transf(3.0) * a * b;
  expect_close((p * s) * s.inverse(), p, 1e-12);
  EXPECT_TRUE((s * s.inverse()).identity());
}

TEST(MathTransf, ReflectAndShearAreDerivedNotTrusted) {
  const double mirror[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
  // The caller says "no reflection" for a mirror: the transform knows better.
  const QELtransf m = restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0);
  EXPECT_TRUE(m.reflect());
  EXPECT_FALSE(m.shear());
  EXPECT_TRUE(m.rotate());
  // A negative scale reflects; a claimed reflection of the identity does not.
  EXPECT_TRUE(scale_transf(-1.0).reflect());
  EXPECT_FALSE(restore_transf(QELmatrix(), QELvector(), 1.0, 0, 1, 1).reflect());
  EXPECT_FALSE(restore_transf(QELmatrix(), QELvector(), 1.0, 0, 1, 1).shear());
  const double skew[9] = {1, 0.5, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(restore_transf(QELmatrix(skew), QELvector(), 1.0, 1, 0, 0).shear());
  const double stretch[9] = {2, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(restore_transf(QELmatrix(stretch), QELvector(), 1.0, 1, 0, 0).shear());
  // A uniformly scaled rotation matrix is not a shear.
  const double scaled[9] = {0, 2, 0, -2, 0, 0, 0, 0, 2};
  EXPECT_FALSE(restore_transf(QELmatrix(scaled), QELvector(), 1.0, 1, 0, 0).shear());
  // Reflection of a composition follows the product.
  EXPECT_FALSE((m * m).reflect());
  EXPECT_TRUE((m * rotate_transf(0.3, QELvector(1, 1, 0))).reflect());
}

TEST(MathTransf, BoxOfTransformedCorners) {
  const QELbox b(QELposition(0, 0, 0), QELposition(1, 1, 1));
  const QELbox r = b * rotate_transf(std::numbers::pi / 4, QELvector(0, 0, 1));
  EXPECT_NEAR(r.low().x(), -std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(r.high().x(), std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(r.high().y(), std::sqrt(2.0), 1e-12);
}

TEST(MathParTransf, IdentityFlagAndMapping) {
  EXPECT_TRUE(QELpar_transf().identity());
  EXPECT_TRUE(QELpar_transf(1.0, 1.0, 0.0, 0.0).identity());
  const QELpar_transf t(2.0, -1.0, 0.5, 3.0);
  EXPECT_FALSE(t.identity());
  const QELpar_pos p = QELpar_pos(1.0, 1.0) * t;
  EXPECT_DOUBLE_EQ(p.u, 2.5);
  EXPECT_DOUBLE_EQ(p.v, 2.0);
}
