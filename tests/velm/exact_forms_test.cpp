// Exact rational B-spline forms of planes, cones, spheres and tori.
#include <gtest/gtest.h>

#include <memory>
#include <cmath>
#include <numbers>

#include "velm/surface_build.hxx"

namespace {
using std::numbers::pi;

struct bs_owner {
  bs3_surface s;
  ~bs_owner() { bs3_surface_delete(s); }
};

// Over a grid of the box: the form at the mapped parameters is the surface's
// point within 1e-9, the map goes back, and at every arc end the plain
// parameter already agrees.
void expect_exact(const surface& srf, const QELpar_box& box) {
  exact_form_map map;
  bs_owner f{bs3_surface_exact_form(srf, box, &map)};
  ASSERT_NE(f.s, nullptr);
  const double scale = 1.0 + srf.bound(box).diagonal();
  for (int i = 0; i <= 12; ++i)
    for (int j = 0; j <= 12; ++j) {
      const QELpar_pos uv(box.u_range().interpolate(i / 12.0), box.v_range().interpolate(j / 12.0));
      QELposition p;
      bs3_surface_eval(map.to_spline(uv), f.s, p);
      EXPECT_LT(distance(p, srf.eval_position(uv)), 1e-9 * scale) << uv.u << " " << uv.v;
      const QELpar_pos back = map.to_surface(map.to_spline(uv));
      EXPECT_NEAR(back.u, uv.u, 1e-12);
      EXPECT_NEAR(back.v, uv.v, 1e-12);
    }
  for (double u : map.u_breaks.empty() ? std::vector<double>{box.u_range().mid_pt()} : map.u_breaks)
    for (double v : map.v_breaks.empty() ? std::vector<double>{box.v_range().mid_pt()} : map.v_breaks) {
      QELposition p;
      bs3_surface_eval(QELpar_pos(u, v), f.s, p);
      EXPECT_LT(distance(p, srf.eval_position(QELpar_pos(u, v))), 1e-9 * scale);
    }
}
}  // namespace

TEST(ExactForms, PlaneIsBilinearWithItsOwnParameters) {
  plane p(QELposition(1, 2, 3), QELunit_vector(0, 1, 1));
  p.u_deriv = QELvector(2, 0.5, 0);
  p.reverse_v = 1;
  const QELpar_box box(QELinterval(-1, 2), QELinterval(0.5, 4));
  expect_exact(p, box);
  exact_form_map map;
  bs_owner f{bs3_surface_exact_form(p, box, &map)};
  EXPECT_EQ(bs3_surface_degree_u(f.s), 1);
  EXPECT_EQ(bs3_surface_rational_u(f.s), 0);
  EXPECT_TRUE(map.u_breaks.empty() && map.v_breaks.empty());
}

TEST(ExactForms, ConesOfEverySenseAndShape) {
  const QELunit_vector z(0.3, -0.2, 1.0);
  const QELvector a = QELvector(2, 0, 0) - (QELvector(2, 0, 0) % z) * z;
  cone narrowing(QELposition(1, 0, -1), z, a, 0.6, -0.6, 0.8, 0.0);
  expect_exact(narrowing, QELpar_box(QELinterval(-0.5, 1.0), QELinterval(-pi, pi)));
  narrowing.reverse_u = 1;
  narrowing.u_scale = 3.0;
  expect_exact(narrowing, QELpar_box(QELinterval(0.0, 0.4), QELinterval(0.3, 2.0)));
  narrowing.negate();
  expect_exact(narrowing, QELpar_box(QELinterval(-0.2, 0.4), QELinterval(-3.0, 1.0)));
  const cone cylinder(QELposition(), QELunit_vector(0, 0, 1), QELvector(0, 3, 0), 1.0, 0.0, -1.0, 0.0);
  expect_exact(cylinder, QELpar_box(QELinterval(-2.0, 2.0), QELinterval(-pi, pi)));
}

TEST(ExactForms, SpheresHavePolesAndClosedLongitude) {
  sphere s(QELposition(0, 1, 2), -2.5);
  s.origin_dir = QELunit_vector(0, 1, 0);
  s.pole_dir = QELunit_vector(1, 0, 0);
  const QELpar_box whole(QELinterval(-pi / 2, pi / 2), QELinterval(-pi, pi));
  expect_exact(s, whole);
  expect_exact(s, QELpar_box(QELinterval(-0.3, 1.2), QELinterval(2.0, 4.0)));
  bs_owner f{bs3_surface_exact_form(s, QELpar_box(QELinterval(-3, 3), QELinterval(-pi, pi)))};  // u cut to the poles
  int dim, ru, rv, fu, fv, pu, pv, nu, nv, du, nuk, dv, nvk;
  QELposition* pts;
  double *w, *uk, *vk;
  bs3_surface_to_array(f.s, dim, ru, rv, fu, fv, pu, pv, nu, nv, pts, w, du, nuk, uk, dv, nvk, vk);
  EXPECT_EQ(pu, 3);
  EXPECT_GE(fv, 1);
  EXPECT_NEAR(uk[0], -pi / 2, 1e-12);
  EXPECT_NEAR(uk[nuk - 1], pi / 2, 1e-12);
  delete[] pts, delete[] w, delete[] uk, delete[] vk;
}

TEST(ExactForms, TorusRingAndLemon) {
  torus ring(QELposition(1, 2, 3), QELunit_vector(0, 1, 0), 5.0, -1.5);
  expect_exact(ring, QELpar_box(QELinterval(-pi, pi), QELinterval(-pi, pi)));
  expect_exact(ring, QELpar_box(QELinterval(0.5, 2.5), QELinterval(-1.0, 0.2)));
  const torus lemon(QELposition(), QELunit_vector(0, 0, 1), -1.0, 2.0);
  expect_exact(lemon, lemon.param_range());
}

TEST(ExactForms, MapDiffersFromTheAngleInsideArcs) {
  // A quarter turn is one arc: ends agree, the middle of the angle does not.
  const cone cylinder(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0, 0.0, 1.0, 0.0);
  exact_form_map map;
  bs_owner f{bs3_surface_exact_form(cylinder, QELpar_box(QELinterval(0, 1), QELinterval(0, pi / 2)), &map)};
  ASSERT_EQ(map.v_breaks.size(), 2u);
  const double quarter = map.to_spline(QELpar_pos(0.0, pi / 8)).v;
  EXPECT_GT(std::fabs(quarter - pi / 8), 1e-3);
  QELposition p;
  bs3_surface_eval(QELpar_pos(0.0, pi / 8), f.s, p);
  EXPECT_GT(distance(p, cylinder.eval_position(QELpar_pos(0.0, pi / 8))), 1e-4);
}

TEST(ExactForms, RefusesSplinesInfiniteBoxesAndMoreThanATurn) {
  const plane p(QELposition(), QELunit_vector(0, 0, 1));
  EXPECT_EQ(bs3_surface_exact_form(p, p.param_range()), nullptr);
  const sphere s(QELposition(), 1.0);
  EXPECT_EQ(bs3_surface_exact_form(s, QELpar_box(QELinterval(-1, 1), QELinterval(0, 7))), nullptr);
  bs_owner f{bs3_surface_exact_form(s, s.param_range())};
  const spline sp(f.s);
  EXPECT_EQ(bs3_surface_exact_form(sp, sp.param_range()), nullptr);
}

// The general conversion gives the exact rational form only when no fit is
// allowed; with a fit it keeps to interpolation at the surface's own parameters.
TEST(ExactForms, SurfaceConversionIsExactOnlyWithoutAFit) {
  const torus t(QELposition(1, 0, 0), QELunit_vector(0, 0, 1), 5.0, 1.5);
  const QELbox region(QELposition(-10, -10, -10), QELposition(10, 10, 10));
  bs_owner exact{bs3_surface_make_sur(t, region, 0.0, nullptr, nullptr)};
  bs_owner fitted{bs3_surface_make_sur(t, region, 1e-3, nullptr, nullptr)};
  ASSERT_NE(exact.s, nullptr);
  ASSERT_NE(fitted.s, nullptr);
  EXPECT_EQ(bs3_surface_rational_u(exact.s), 1);
  EXPECT_EQ(bs3_surface_rational_u(fitted.s), 0);
  // The fitted form follows the torus's own parameters everywhere, within its fit.
  for (double u : {-2.0, 0.3, 1.7})
    for (double v : {-2.9, 0.0, 2.2}) {
      QELposition p;
      bs3_surface_eval(QELpar_pos(u, v), fitted.s, p);
      EXPECT_LT(distance(p, t.eval_position(QELpar_pos(u, v))), 1e-3);
    }
}

// A periodic B-spline repeats itself past its seam, and a conversion over a box
// that runs over the seam covers the whole box.
TEST(ExactForms, PeriodicSplineAcrossItsSeam) {
  const cone cyl(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
  bs_owner bs{bs3_surface_exact_form(cyl, QELpar_box(QELinterval(0.0, 3.0), QELinterval(-pi, pi)))};
  ASSERT_EQ(bs3_surface_periodic_v(bs.s), 1);
  const spline sp(bs.s);
  for (double v : {0.5, 2.0, -1.0}) {
    const QELposition here = sp.eval_position(QELpar_pos(1.0, v));
    EXPECT_LT(distance(here, sp.eval_position(QELpar_pos(1.0, v + 2 * pi))), 1e-12);
    EXPECT_LT(distance(here, sp.eval_position(QELpar_pos(1.0, v - 2 * pi))), 1e-12);
  }
  // A patch from 3/4 turn to 5/4 turn, over the seam at pi.
  const QELpar_box across(QELinterval(0.5, 2.5), QELinterval(0.75 * pi, 1.25 * pi));
  const QELbox region = sp.bound(across);
  bs_owner fitted{bs3_surface_make_sur(sp, region, 1e-4, nullptr, nullptr)};
  ASSERT_NE(fitted.s, nullptr);
  const QELpar_box got = bs3_surface_range(fitted.s);
  EXPECT_GE(got.v_range().length(), 0.5 * pi - 1e-6);
  for (int i = 0; i <= 8; ++i) {
    const double v = got.v_range().interpolate(i / 8.0);
    QELposition p;
    bs3_surface_eval(QELpar_pos(got.u_range().mid_pt(), v), fitted.s, p);
    EXPECT_LT(distance(p, sp.eval_position(QELpar_pos(got.u_range().mid_pt(), v))), 1e-3);
  }
}
