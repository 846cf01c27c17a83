// Extension of spline surfaces to a target box, and offsets of every kind.
#include <gtest/gtest.h>

#include <memory>
#include <numbers>

#include "support/geometry_builders.hxx"
#include "velm/surface_build.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {
using std::numbers::pi;

spline extend_test_spline() { return velm_test::spline_from(make_test_bs3_surface()); }

void expect_box(const QELpar_box& got, const QELpar_box& want) {
  EXPECT_NEAR(got.u_range().start_pt(), want.u_range().start_pt(), 1e-9);
  EXPECT_NEAR(got.u_range().end_pt(), want.u_range().end_pt(), 1e-9);
  EXPECT_NEAR(got.v_range().start_pt(), want.v_range().start_pt(), 1e-9);
  EXPECT_NEAR(got.v_range().end_pt(), want.v_range().end_pt(), 1e-9);
}

// Every sample of the box lies at `d` along the base's outward normal, and the
// offset's outward side is the base's.
void expect_offset(const surface& base, double d, const QELpar_box& box, double tol = 1e-9) {
  int status = -1;
  const QELbox bound = base.bound(box);
  std::unique_ptr<surface> off(offset_surface(base, bound, d, status));
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(status, 0);
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 6; ++j) {
      const QELpar_pos uv(box.u_range().interpolate(0.05 + 0.9 * i / 6.0),
                          box.v_range().interpolate(0.05 + 0.9 * j / 6.0));
      const QELunit_vector n = base.eval_normal(uv);
      EXPECT_LT(distance(off->eval_position(uv), base.eval_position(uv) + d * n), tol);
      EXPECT_GT(off->eval_normal(uv) % n, 0.999);
    }
}

void expect_degenerate(const surface& base, double d, const QELbox& bound) {
  int status = 0;
  std::unique_ptr<surface> off(offset_surface(base, bound, d, status));
  EXPECT_EQ(off, nullptr);
  EXPECT_NE(status, 0);
}
}  // namespace

TEST(SurfaceExtend, GrowsToTargetKeepingTheOldRangeAndReportsC2Joins) {
  const spline original = extend_test_spline();
  for (int check : {0, 1}) {
    spline s = original;
    const QELpar_box target(QELinterval(-0.5, 1.3), QELinterval(0.2, 1.25));
    extension_info ui, vi;
    extend_surface(s, target, check, ui, vi);
    // v keeps its low end: only the passed ends grow.
    expect_box(s.param_range(), QELpar_box(QELinterval(-0.5, 1.3), QELinterval(0.0, 1.25)));
    for (int i = 0; i <= 10; ++i)
      for (int j = 0; j <= 10; ++j) {
        const QELpar_pos uv(i / 10.0, j / 10.0);
        EXPECT_LT(distance(s.eval_position(uv), original.eval_position(uv)), 1e-9);
      }
    EXPECT_EQ(ui.n_discontinuities(1) + ui.n_discontinuities(2), 0) << check;
    ASSERT_EQ(ui.n_discontinuities(3), 2) << check;
    EXPECT_NEAR(ui.discontinuities(3)[0], 0.0, 1e-12);
    EXPECT_NEAR(ui.discontinuities(3)[1], 1.0, 1e-12);
    ASSERT_EQ(vi.n_discontinuities(3), 1) << check;
    EXPECT_NEAR(vi.discontinuities(3)[0], 1.0, 1e-12);
    // The new part continues the surface: no kink at the join.
    QELposition p;
    QELvector below[5], above[5];
    s.eval_derivs(QELpar_pos(1.0, 0.5), 2, p, below, -1, 0);
    s.eval_derivs(QELpar_pos(1.0, 0.5), 2, p, above, 1, 0);
    EXPECT_LT((below[0] - above[0]).len(), 1e-8);
    EXPECT_LT((below[2] - above[2]).len(), 1e-6);
  }
  // The original's definition is not touched through the shared copy.
  expect_box(original.param_range(), QELpar_box(QELinterval(0, 1), QELinterval(0, 1)));
}

TEST(SurfaceExtend, TargetInsideLeavesSurfaceAlone) {
  spline s = extend_test_spline();
  const bs3_surface before = s.sur();
  extension_info ui, vi;
  extend_surface(s, QELpar_box(QELinterval(0.2, 0.8), QELinterval(0.0, 1.0)), 1, ui, vi);
  EXPECT_EQ(s.sur(), before);
  EXPECT_EQ(ui.n_discontinuities(3) + vi.n_discontinuities(3), 0);
}

TEST(SurfaceExtend, RefusesAnalyticSurfacesAndInfiniteTargets) {
  plane p(QELposition(), QELunit_vector(0, 0, 1));
  extension_info ui, vi;
  EXPECT_THROW(extend_surface(p, QELpar_box(QELinterval(0, 1), QELinterval(0, 1)), 0, ui, vi), velm_exception);
  spline s = extend_test_spline();
  const QELpar_box open_ended(QELinterval(interval_bounded_below, 0.0, 0.0), QELinterval(0, 1));
  EXPECT_THROW(extend_surface(s, open_ended, 0, ui, vi), velm_exception);
}

TEST(SurfaceExtend, LimitedSplineKeepsItsLimitWidenedToTheTarget) {
  spline s = extend_test_spline();
  s.limit_u(QELinterval(0.1, 0.9));
  extension_info ui, vi;
  extend_surface(s, QELpar_box(QELinterval(0.1, 1.4), QELinterval(0.0, 1.0)), 0, ui, vi);
  expect_box(s.param_range(), QELpar_box(QELinterval(0.1, 1.4), QELinterval(0.0, 1.0)));
}

TEST(SurfaceExtend, AnalyticOffsetsMoveByTheDistanceWithTheSameSense) {
  plane p(QELposition(1, 0, 0), QELunit_vector(1, 1, 0));
  p.reverse_v = 1;
  expect_offset(p, 2.5, QELpar_box(QELinterval(-2, 2), QELinterval(-1, 3)));
  for (double r : {2.0, -2.0})
    for (double d : {0.5, -0.5}) {
      SCOPED_TRACE(testing::Message() << "r " << r << " d " << d);
      expect_offset(sphere(QELposition(1, 2, 3), r), d, QELpar_box(QELinterval(-1.2, 1.2), QELinterval(-pi, pi)));
      expect_offset(torus(QELposition(), QELunit_vector(0, 0, 1), 5.0, r), d,
                    QELpar_box(QELinterval(-pi, pi), QELinterval(-pi, pi)));
    }
  cone c(QELposition(0, 0, 1), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 1.0, -0.6, 0.8, 0.0);
  const QELpar_box side(QELinterval(-0.5, 1.0), QELinterval(-pi, pi));
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    expect_offset(c, 0.7, side);
    expect_offset(c, -0.4, side);
    if (variant == 0) c.reverse_u = 1;
    if (variant == 1) c.negate();
  }
  const cone cylinder(QELposition(), QELunit_vector(0, 1, 0), QELvector(0, 0, 2), 1.0, 0.0, -1.0, 0.0);
  expect_offset(cylinder, 0.5, side);
}

TEST(SurfaceExtend, SplineAndEllipticalConeOffsetsGoThroughTheOffsetDefinition) {
  const spline s = extend_test_spline();
  int status = -1;
  std::unique_ptr<surface> off(offset_surface(s, s.bound(s.param_range()), 0.3, status));
  ASSERT_NE(off, nullptr);
  ASSERT_EQ(off->type(), 10);
  EXPECT_EQ(static_cast<const spline&>(*off).get_spl_sur().id(), off_spl_sur::id);
  expect_offset(s, 0.3, QELpar_box(QELinterval(0, 1), QELinterval(0, 1)), 1e-7);
  const cone oval(QELposition(), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 0.5, 0.0, 1.0, 0.0);
  expect_offset(oval, 0.2, QELpar_box(QELinterval(0, 1), QELinterval(-pi, pi)), 1e-7);
}

TEST(SurfaceExtend, DegenerateOffsetsGiveStatusAndNoSurface) {
  const QELbox big(QELposition(-10, -10, -10), QELposition(10, 10, 10));
  expect_degenerate(sphere(QELposition(), 2.0), -2.0, big);
  expect_degenerate(sphere(QELposition(), -2.0), 3.0, big);
  expect_degenerate(torus(QELposition(), QELunit_vector(0, 0, 1), 5.0, 1.0), -1.5, big);
  expect_degenerate(cone(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0, 0.0, 1.0, 0.0), -1.0, big);
  // A unit sphere as a spline, offset inwards past its centre: normals turn over.
  bs3_surface bs = bs3_surface_exact_form(sphere(QELposition(), 1.0),
                                          QELpar_box(QELinterval(-pi / 2, pi / 2), QELinterval(-pi, pi)));
  const spline ball(bs);
  bs3_surface_delete(bs);
  expect_degenerate(ball, -1.5, big);
}
