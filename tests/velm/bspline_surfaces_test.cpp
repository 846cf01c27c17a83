#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"

namespace {

const double ksurface_tol = 1e-10;

// A 4 x 3 net, degree 2 x 2, row-major: point (i, j) at index i * 3 + j.
std::vector<QELposition> net(double lift) {
  std::vector<QELposition> p;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) p.emplace_back(i, j, (i == 1 && j == 1) ? lift : 0.0);
  return p;
}

bs3_surface make(const std::vector<QELposition>& p, int u_pole = 0) {
  const double uk[7] = {0, 0, 0, 0.5, 1, 1, 1};
  const double vk[6] = {0, 0, 0, 2, 2, 2};
  return bs3_surface_from_ctrlpts(2, 0, 0, u_pole, 4, 2, 0, 0, 0, 3, p.data(), nullptr, QELresabs, 7, uk, 6, vk, ksurface_tol);
}

}  // namespace

TEST(BsplSurfaceArrays, RoundTripIsRowMajorWithFullKnots) {
  const std::vector<QELposition> p = net(1.0);
  bs3_surface s = make(p);
  ASSERT_TRUE(s);
  int dim, ru, rv, fu, fv, pu, pv, nu, nv, du, nuk, dv, nvk;
  QELposition* pts;
  double *w, *uk, *vk;
  bs3_surface_to_array(s, dim, ru, rv, fu, fv, pu, pv, nu, nv, pts, w, du, nuk, uk, dv, nvk, vk);
  EXPECT_EQ(nu, 4);
  EXPECT_EQ(nv, 3);
  EXPECT_EQ(nuk, 7);
  EXPECT_EQ(nvk, 6);
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(distance(pts[1 * 3 + 1], QELposition(1, 1, 1)), 0.0);
  EXPECT_EQ(uk[3], 0.5);
  EXPECT_EQ(bs3_surface_range(s).v_range(), QELinterval(0, 2));
  delete[] pts;
  delete[] uk;
  delete[] vk;
  // The corner points of a clamped net are on the surface; iso-curves follow it.
  QELposition corner;
  bs3_surface_eval(QELpar_pos(1, 2), s, corner);
  EXPECT_EQ(distance(corner, QELposition(3, 2, 0)), 0.0);
  bs3_curve iso = bs3_curve_u_param_line(s, 0.7);
  for (double u : {0.1, 0.45, 0.8}) {
    QELposition on;
    bs3_surface_eval(QELpar_pos(u, 0.7), s, on);
    EXPECT_LE(distance(bs3_curve_position(u, iso), on), 1e-12);
  }
  bs3_curve_delete(iso);
  bs3_surface_delete(s);
}

TEST(BsplSurfaceCheck, PolesSingularRowsAndCoincidentPoints) {
  // Row 0 collapsed to one point but not marked: singular. Marked: fine.
  std::vector<QELposition> p = net(1.0);
  for (int j = 0; j < 3; ++j) p[j] = QELposition(0, 1, 0);
  bs3_surface unmarked = make(p);
  check_fix in, out;
  check_status_list* st = bs3_surface_check(unmarked, nullptr, in, out, nullptr);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->contains(status_singular));
  delete st;
  set_poles(unmarked, QELresabs);
  EXPECT_EQ(bs3_surface_check(unmarked, nullptr, in, out, nullptr), nullptr);
  EXPECT_TRUE(spline(unmarked).singular_u(0.0));
  EXPECT_FALSE(spline(unmarked).singular_u(1.0));
  // A pole marked on a row that does not collapse.
  bs3_surface bad = make(net(1.0), 2);
  check_status_list only9(status_bad_pole);
  st = bs3_surface_check(bad, nullptr, in, out, &only9);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->status(), status_bad_pole);
  delete st;
  // Two coincident points inside a live row.
  std::vector<QELposition> q = net(1.0);
  q[2 * 3 + 1] = q[2 * 3 + 0];
  bs3_surface dup = make(q);
  st = bs3_surface_check(dup, nullptr, in, out, nullptr);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->contains(status_coincident_points));
  delete st;
  // The surface check with fixes repairs them in place.
  spline sp(dup);
  check_fix fix(1), done;
  st = d3_sf_check(sp, fix, done, nullptr);
  EXPECT_GE(done.fixed, 1);
  EXPECT_FALSE(st && st->contains(status_coincident_points));
  delete st;
  for (bs3_surface* s : {&unmarked, &bad, &dup}) bs3_surface_delete(*s);
}

TEST(BsplSurfaceMake, AnalyticsWithinTheFitAtTheirOwnParameters) {
  const sphere s(QELposition(1, 0, 0), 2.0);
  const QELbox region(QELposition(-5, -5, -5), QELposition(5, 5, 5));
  double fit = -1;
  QELpar_transf map;
  bs3_surface b = bs3_surface_make_sur(s, region, 1e-4, &fit);
  ASSERT_TRUE(b);
  EXPECT_LE(fit, 1e-4);
  for (QELpar_pos uv : {QELpar_pos(0.3, 0.4), QELpar_pos(-1.0, 2.9), QELpar_pos(1.2, -2.0)}) {
    QELposition p;
    bs3_surface_eval(uv, b, p);
    EXPECT_LE(distance(p, s.eval_position(uv)), 1e-4);
  }
  // Asked for the transform: the same surface over the unit square, and the
  // map that takes each parameter pair there.
  bs3_surface unit = bs3_surface_make_sur(s, region, 1e-4, nullptr, &map);
  ASSERT_TRUE(unit);
  EXPECT_FALSE(map.identity());
  EXPECT_EQ(bs3_surface_range(unit).u_range(), QELinterval(0, 1));
  EXPECT_EQ(bs3_surface_range(unit).v_range(), QELinterval(0, 1));
  for (QELpar_pos uv : {QELpar_pos(0.3, 0.4), QELpar_pos(-1.0, 2.9), QELpar_pos(1.2, -2.0)}) {
    QELposition p;
    bs3_surface_eval(uv * map, unit, p);
    EXPECT_LE(distance(p, s.eval_position(uv)), 1e-4);
  }
  bs3_surface_delete(unit);
  // The sphere's B-spline closes in v and collapses at the poles.
  EXPECT_EQ(bs3_surface_closed_v(b), 1);
  spline sp(b);
  EXPECT_TRUE(sp.singular_u(sp.param_range_u().start_pt()));
  bs3_surface_delete(b);
  // A plane is bilinear over the region's parameters.
  const plane pl(QELposition(), QELunit_vector(0, 0, 1));
  bs3_surface flat = bs3_surface_make_sur(pl, QELbox(QELposition(0, 0, -1), QELposition(2, 3, 1)), 0.0);
  ASSERT_TRUE(flat);
  EXPECT_EQ(bs3_surface_degree_u(flat), 1);
  EXPECT_EQ(bs3_surface_range(flat).u_range(), QELinterval(0, 2));
  bs3_surface_delete(flat);
}
