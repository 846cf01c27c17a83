#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"

namespace {

using std::numbers::pi;
const double ktol = 1e-10;

bs3_curve cubic(const std::vector<QELposition>& pts, const std::vector<double>& knots) {
  return bs3_curve_from_ctrlpts(3, 0, 0, 0, static_cast<int>(pts.size()), pts.data(), nullptr, QELresabs,
                                static_cast<int>(knots.size()), knots.data(), ktol);
}

struct arrays {
  int dim, degree, rational, n, nk;
  QELposition* pts;
  double* weights;
  double* knots;
  explicit arrays(bs3_curve c) { bs3_curve_to_array(c, dim, degree, rational, n, pts, weights, nk, knots); }
  ~arrays() {
    delete[] pts;
    delete[] weights;
    delete[] knots;
  }
};

// The curve stays within tol of the ellipse everywhere.
double worst_off(bs3_curve c, const curve& ref) {
  const QELinterval r = bs3_curve_range(c);
  double worst = 0.0;
  for (int i = 0; i <= 50; ++i) {
    const QELposition p = bs3_curve_position(r.interpolate(i / 50.0), c);
    worst = std::max(worst, distance(ref.closest_point(p), p));
  }
  return worst;
}

}  // namespace

TEST(BsplCurveArrays, RoundTripKeepsTheFullKnotVectorClampedOrNot) {
  const std::vector<QELposition> pts = {{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 0}, {5, 1, 2}};
  for (const std::vector<double>& knots :
       {std::vector<double>{0, 0, 0, 0, 0.5, 1, 1, 1, 1}, std::vector<double>{-3, -2, -1, 0, 1, 2, 3, 4, 5}}) {
    bs3_curve c = cubic(pts, knots);
    ASSERT_TRUE(c);
    arrays a(c);
    EXPECT_EQ(a.dim, 3);
    EXPECT_EQ(a.degree, 3);
    EXPECT_EQ(a.rational, 0);
    EXPECT_EQ(a.weights, nullptr);
    ASSERT_EQ(a.nk, 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(a.knots[i], knots[i]);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(distance(a.pts[i], pts[i]), 0.0);
    EXPECT_EQ(bs3_curve_range(c), QELinterval(knots[3], knots[5]));
    bs3_curve_delete(c);
    EXPECT_EQ(c, nullptr);
  }
  // Degree 1 with two points: four knots.
  const QELposition two[2] = {{0, 0, 0}, {1, 0, 0}};
  const double k4[4] = {0, 0, 1, 1};
  bs3_curve line = bs3_curve_from_ctrlpts(1, 0, 0, 0, 2, two, nullptr, QELresabs, 4, k4, ktol);
  ASSERT_TRUE(line);
  bs3_curve_delete(line);
}

TEST(BsplCurveArrays, RejectsInvalidInputAndMergesCloseKnots) {
  const std::vector<QELposition> pts = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}};
  EXPECT_EQ(cubic(pts, {0, 0, 0, 0, 1, 1, 1}), nullptr);           // wrong count
  EXPECT_EQ(cubic(pts, {0, 0, 0, 0, 1, 1, 0.5, 1}), nullptr);      // decreasing
  EXPECT_EQ(cubic({pts[0], pts[1], pts[2]}, {0, 0, 0, 0, 1, 1, 1}), nullptr);  // too few points
  const double w[4] = {1, 0, 1, 1};
  const double k[8] = {0, 0, 0, 0, 1, 1, 1, 1};
  EXPECT_EQ(bs3_curve_from_ctrlpts(3, 1, 0, 0, 4, pts.data(), w, QELresabs, 8, k, ktol), nullptr);
  const double near[8] = {0, 0, 1e-12, 0, 1, 1, 1, 1};
  bs3_curve c = bs3_curve_from_ctrlpts(3, 0, 0, 0, 4, pts.data(), nullptr, QELresabs, 8, near, ktol);
  ASSERT_TRUE(c);
  arrays a(c);
  EXPECT_EQ(a.knots[2], 0.0);
  bs3_curve_delete(c);
}

TEST(BsplCurveForms, RequestedFormOnlyAsFarAsTheGeometryAllows) {
  // A closed square-ish loop with a corner at the seam: closed, not periodic.
  const std::vector<QELposition> corner = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}};
  const double k[9] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  bs3_curve c = bs3_curve_from_ctrlpts(3, 0, 1, 1, 5, corner.data(), nullptr, QELresabs, 9, k, ktol);
  EXPECT_EQ(bs3_curve_periodic(c), 0);
  EXPECT_EQ(bs3_curve_closed(c), 1);
  // Open ends asked to be closed: open.
  const std::vector<QELposition> open = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0.5, 0}};
  bs3_curve o = bs3_curve_from_ctrlpts(3, 0, 1, 0, 5, open.data(), nullptr, QELresabs, 9, k, ktol);
  EXPECT_EQ(bs3_curve_open(o), 1);
  // A full circle made exactly is periodic.
  const ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  bs3_curve full = bs3_curve_make_ell(e, -pi, pi, 0.0);
  ASSERT_TRUE(full);
  EXPECT_EQ(bs3_curve_periodic(full), 1);
  EXPECT_NEAR(bs3_curve_period(full), 2 * pi, 1e-12);
  // Setters store without checks; determine_form measures again.
  bs3_curve_set_periodic(o);
  EXPECT_EQ(bs3_curve_periodic(o), 1);
  bs3_curve_determine_form(o);
  EXPECT_EQ(bs3_curve_open(o), 1);
  for (bs3_curve* x : {&c, &o, &full}) bs3_curve_delete(*x);
}

TEST(BsplCurveOps, SubsetReverseReparamKeepTheShape) {
  bs3_curve c = cubic({{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 0}, {5, 1, 2}, {6, 0, 0}},
                      {-3, -2, -1, 0, 1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(c);
  const QELinterval dom = bs3_curve_range(c);
  EXPECT_EQ(dom, QELinterval(0, 3));
  bs3_curve s = bs3_curve_subset(c, QELinterval(0.5, 2.2));
  ASSERT_TRUE(s);
  EXPECT_EQ(bs3_curve_range(s), QELinterval(0.5, 2.2));
  for (double t : {0.5, 1.0, 1.7, 2.2}) EXPECT_LE(distance(bs3_curve_position(t, s), bs3_curve_position(t, c)), 1e-12);
  {
    arrays a(s);  // the subset is clamped
    EXPECT_EQ(a.knots[0], a.knots[3]);
    EXPECT_EQ(a.knots[a.nk - 1], a.knots[a.nk - 4]);
  }
  EXPECT_EQ(bs3_curve_subset(c, QELinterval(4, 5)), nullptr);
  bs3_curve r = bs3_curve_copy(c);
  bs3_curve_reverse(r);
  EXPECT_EQ(bs3_curve_range(r), QELinterval(-3, 0));
  EXPECT_LE(distance(bs3_curve_position(-0.4, r), bs3_curve_position(0.4, c)), 1e-12);
  bs3_curve_reparam(10, 16, r);
  EXPECT_EQ(bs3_curve_range(r), QELinterval(10, 16));
  EXPECT_LE(distance(bs3_curve_position(16 - 0.8, r), bs3_curve_position(0.4, c)), 1e-12);
  for (bs3_curve* x : {&c, &s, &r}) bs3_curve_delete(*x);
}

TEST(BsplCurveMake, ExactFormsOfAnalyticsReproduceThem) {
  const ellipse e(QELposition(1, 2, 3), QELunit_vector(1, 0, 1), QELvector(0, 3, 0), 0.4, 0.2);
  for (auto [t0, t1] : {std::pair{-pi, pi}, std::pair{0.3, 2.0}}) {
    double fit = -1;
    bs3_curve c = bs3_curve_make_ell(e, t0, t1, 0.0, &fit);
    ASSERT_TRUE(c);
    EXPECT_EQ(fit, 0.0);
    EXPECT_EQ(bs3_curve_range(c), QELinterval(t0, t1));
    EXPECT_LE(worst_off(c, e), QELresabs);
    EXPECT_LE(distance(bs3_curve_position(t0, c), e.eval_position(t0)), QELresabs);
    EXPECT_LE(distance(bs3_curve_position(t1, c), e.eval_position(t1)), QELresabs);
    bs3_curve_delete(c);
  }
  const straight s(QELposition(1, 1, 1), QELunit_vector(0, 1, 0), 2.0);
  bs3_curve l = bs3_curve_make_str(s, -1, 2);
  ASSERT_TRUE(l);
  EXPECT_EQ(bs3_curve_degree(l), 1);
  EXPECT_LE(distance(bs3_curve_position(0.5, l), s.eval_position(0.5)), 1e-14);
  bs3_curve_delete(l);
  // A procedural curve (through its pcurve) within the requested fit.
  const sphere sp(QELposition(), 3.0);
  const QELposition uv[2] = {{-1, -2, 0}, {1, 2, 0}};
  const double k[4] = {0, 0, 1, 1};
  intcurve pc(new par_int_cur(nullptr, 0.0, sp, bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, uv, nullptr, QELresabs, 4, k, ktol)));
  double fit = 0;
  bs3_curve a = bs3_curve_make_cur(pc, 0, 1, 1e-4, &fit);
  ASSERT_TRUE(a);
  EXPECT_LE(fit, 1e-4);
  EXPECT_LE(distance(bs3_curve_position(0.37, a), pc.eval_position(0.37)), 1e-4);
  bs3_curve_delete(a);
}

TEST(BsplCurveMake, InterpolationHitsPointsAndEndDirections) {
  std::vector<QELposition> pts;
  for (int i = 0; i < 21; ++i) pts.emplace_back(i * 0.5, std::sin(i * 0.3), 0.0);
  bs3_curve c = bs3_curve_interp(21, pts.data(), QELvector(0, 1, 0), QELvector(), 0.0);
  ASSERT_TRUE(c);
  for (const QELposition& p : pts) EXPECT_LE(distance(bs3_curve_position(bs3_curve_invert(p, 0, c), c), p), 1e-9);
  const QELunit_vector t = bs3_curve_start_tangent(c);
  EXPECT_NEAR(t.y(), 1.0, 1e-9);
  bs3_curve_delete(c);
  const double params[3] = {0, 2, 3};
  bs3_curve k = bs3_curve_interp_knots(3, pts.data(), params);
  ASSERT_TRUE(k);
  EXPECT_LE(distance(bs3_curve_position(2, k), pts[1]), 1e-12);
  bs3_curve_delete(k);
}

TEST(BsplCurveOps, JoinElevateLength) {
  const ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  bs3_curve a = bs3_curve_make_ell(e, 0, pi / 2, 0);
  bs3_curve b = bs3_curve_make_ell(e, pi / 2, pi, 0);
  EXPECT_NEAR(bs3_curve_length(a), pi, 1e-9);  // a quarter of a radius-2 circle
  bs3_curve j = bs3_curve_join(a, b);
  ASSERT_TRUE(j);
  EXPECT_NEAR(bs3_curve_length(j), 2 * pi, 1e-9);
  EXPECT_LE(worst_off(j, e), QELresabs);
  bs3_curve far = bs3_curve_make_ell(e, pi, 1.5 * pi, 0);
  EXPECT_EQ(bs3_curve_join(a, far), nullptr);
  bs3_curve up = bs3_curve_degree_elevate(a);
  ASSERT_TRUE(up);
  EXPECT_EQ(bs3_curve_degree(up), bs3_curve_degree(a) + 1);
  for (double t : {0.1, 0.7, 1.4}) EXPECT_LE(distance(bs3_curve_position(t, up), bs3_curve_position(t, a)), 1e-12);
  for (bs3_curve* x : {&a, &b, &j, &far, &up}) bs3_curve_delete(*x);
}

TEST(BsplCurveCheck, FindsSelfIntersectionsCoincidentPointsAndBadClosure) {
  // A loop that crosses itself: the control polygon folds back over its start.
  bs3_curve loop = cubic({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {2, 3, 0}, {2, -2, 0}},
                         {0, 0, 0, 0, 0.5, 1, 1, 1, 1});
  ASSERT_TRUE(loop);
  cc_intersection* x = bs3_curve_self_int(loop);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->next, nullptr);
  EXPECT_LT(x->param1, x->param2);
  EXPECT_LE(distance(bs3_curve_position(x->param1, loop), bs3_curve_position(x->param2, loop)), QELresabs);
  delete_cc_intersections(x);
  EXPECT_EQ(x, nullptr);
  check_status_list* st = bs3_curve_check(loop, nullptr, nullptr);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->contains(status_self_intersecting));
  EXPECT_FALSE(st->contains(status_coincident_points));
  delete st;

  // Coincident control points, found and then spread.
  bs3_curve dup = cubic({{0, 0, 0}, {1, 1, 0}, {1, 1, 0}, {3, 0, 0}}, {0, 0, 0, 0, 1, 1, 1, 1});
  check_status_list only6(status_coincident_points);
  st = bs3_curve_check(dup, nullptr, &only6);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->status(), status_coincident_points);
  EXPECT_EQ(st->next(), nullptr);
  delete st;
  check_fix in(1), out;
  EXPECT_EQ(bs3_curve_fix_coi_verts(dup, in, &out), 1);
  EXPECT_EQ(bs3_curve_check(dup, nullptr, &only6), nullptr);

  // A simple arc is clean; marking an open curve closed is bad closure.
  const ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0);
  bs3_curve arc = bs3_curve_make_ell(e, 0, 2, 0);
  st = bs3_curve_check(arc, nullptr, nullptr);
  EXPECT_EQ(st ? st->status() : -1, -1);
  delete st;
  bs3_curve_set_closed(arc);
  st = bs3_curve_check(arc, nullptr, nullptr);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->contains(status_bad_closure));
  delete st;
  // A closed circle touching itself only at its seam does not count.
  bs3_curve circle = bs3_curve_make_ell(e, -pi, pi, 0);
  EXPECT_EQ(bs3_curve_self_int(circle), nullptr);
  // The curve check of an intcurve goes through its B-spline.
  intcurve ic(bs3_curve_copy(loop));
  check_fix result;
  st = ic.check(check_fix(), &result);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->contains(status_self_intersecting));
  delete st;
  for (bs3_curve* c : {&loop, &dup, &arc, &circle}) bs3_curve_delete(*c);
}

// Spreading coincident control points moves the curve by less than the
// tolerance the points were found coincident at, wherever the pair lies
// (first, inside, last), plain or rational, of degree two and three, the
// pair one point or nearly: it is found no more and the curve keeps its
// shape and its parameter. A tenth of the way to the next point moved a
// curve whose first two points were one by up to a tenth of its first span.
TEST(BsplCurveCheck, SpreadingCoincidentPointsKeepsTheCurveWithinTheTolerance) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  check_status_list only6(status_coincident_points);
  for (int round = 0; round < 60; ++round) {
    const int degree = 2 + round % 2, n = degree + 2 + static_cast<int>(random() % 4);
    const bool rational = round % 5 < 2;
    const double tol = round % 4 == 0 ? 10.0 * QELresabs : QELresabs;
    std::vector<QELposition> pts;
    for (int i = 0; i < n; ++i) pts.emplace_back(2.0 * i + unit(random), 3.0 * unit(random), unit(random));
    // The pair: the first two, the last two, or two inside; the second within
    // a fifth of the tolerance of the first, or on it.
    const int at = round % 3 == 1 ? 0 : round % 3 == 2 ? n - 2 : 1 + static_cast<int>(random() % (n - 3));
    const double jitter = round % 2 == 0 ? 0.0 : 0.2 * tol;
    pts[at + 1] = pts[at] + jitter * normalise(QELvector(unit(random), unit(random), unit(random)));
    std::vector<double> knots(degree + 1, 0.0), weights;
    for (int k = 1; k < n - degree; ++k) knots.push_back(k);
    knots.insert(knots.end(), degree + 1, static_cast<double>(n - degree));
    for (int i = 0; i < n; ++i) weights.push_back(rational ? 1.0 + 0.8 * std::fabs(unit(random)) : 1.0);
    bs3_curve c = bs3_curve_from_ctrlpts(degree, rational, 0, 0, n, pts.data(), rational ? weights.data() : nullptr,
                                         QELresabs, static_cast<int>(knots.size()), knots.data(), ktol);
    ASSERT_TRUE(c);
    bs3_curve fixed = bs3_curve_copy(c);
    check_fix in(1), out;
    in.tol2 = tol;
    SCOPED_TRACE(testing::Message() << "round " << round << ": degree " << degree << ", " << n << " points, pair at "
                                    << at << (rational ? ", rational" : "") << ", tolerance " << tol);
    EXPECT_GE(bs3_curve_fix_coi_verts(fixed, in, &out), 1);
    for (int i = 0; i + 1 < n; ++i) {
      arrays a(fixed);
      EXPECT_FALSE(same_point(a.pts[i], a.pts[i + 1], tol)) << "points " << i << " and " << i + 1;
    }
    const QELinterval r = bs3_curve_range(c);
    double worst = 0.0;
    for (int i = 0; i <= 400; ++i) {
      const double t = r.interpolate(i / 400.0);
      worst = std::max(worst, distance(bs3_curve_position(t, c), bs3_curve_position(t, fixed)));
    }
    EXPECT_LE(worst, tol);
    bs3_curve_delete(c);
    bs3_curve_delete(fixed);
  }
}

// A pcurve periodic in its surface's period need not close in its own plane:
// a whole circle's pcurve on a cylinder runs a period along v. Seeded such
// curves (degree one to three, domains anywhere), evaluated a rounding
// outside either end of their domain, give that end, not the other a period
// away; further out they still repeat by whole periods.
TEST(BsplPcurve, APeriodicCurveARoundingOutsideItsDomainIsAtTheNearEnd) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> place(-30.0, 30.0), length(0.5, 12.0);
  std::uniform_int_distribution<int> ulps(1, 64);
  for (int seed = 0; seed < 40; ++seed) {
    const int degree = 1 + seed % 3, n = degree + 1 + seed % 4;
    const double lo = place(random), hi = lo + length(random), u = place(random), v0 = place(random);
    const double run = (seed % 2 ? 2.0 : -2.0) * pi;
    std::vector<QELposition> pts;
    for (int i = 0; i < n; ++i) pts.emplace_back(u, v0 + run * i / (n - 1), 0.0);
    std::vector<double> knots(degree + 1, lo);
    for (int i = 1; i < n - degree; ++i) knots.push_back(lo + (hi - lo) * i / (n - degree));
    knots.insert(knots.end(), degree + 1, hi);
    bs2_curve c = bs2_curve_from_ctrlpts(degree, 0, 0, 0, n, pts.data(), nullptr, QELresabs,
                                         static_cast<int>(knots.size()), knots.data(), ktol);
    ASSERT_NE(c, nullptr);
    bs2_curve_set_periodic(c);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", degree " + std::to_string(degree));
    double below = lo, above = hi;
    for (int k = ulps(random); k > 0; --k) {
      below = std::nextafter(below, -1e300);
      above = std::nextafter(above, 1e300);
    }
    QELpar_pos at;
    bs2_curve_eval(below, c, at);
    EXPECT_NEAR(at.v, v0, 1e-9);
    bs2_curve_eval(above, c, at);
    EXPECT_NEAR(at.v, v0 + run, 1e-9);
    // A quarter of the domain before it is three quarters into it.
    QELpar_pos wrapped, inside;
    bs2_curve_eval(lo - 0.25 * (hi - lo), c, wrapped);
    bs2_curve_eval(lo + 0.75 * (hi - lo), c, inside);
    EXPECT_NEAR(wrapped.v, inside.v, 1e-9);
    bs2_curve_delete(c);
  }
}

TEST(BsplPcurve, ReversedOffsetPcurveAndSplit) {
  const QELposition uv[3] = {{0, 0, 0}, {1, 2, 0}, {2, 0, 0}};
  const double k[6] = {0, 0, 0, 1, 1, 1};
  const plane pl(QELposition(), QELunit_vector(0, 0, 1));
  pcurve p(bs2_curve_from_ctrlpts(2, 0, 0, 0, 3, uv, nullptr, QELresabs, 6, k, ktol), 0.0, pl);
  const QELpar_pos a = p.eval_position(0.25);
  p.negate();
  p.set_offset(QELpar_vec(10, 0));
  const QELpar_pos b = p.eval_position(-0.25);
  EXPECT_NEAR(b.u, a.u + 10, 1e-14);
  EXPECT_NEAR(b.v, a.v, 1e-14);
  EXPECT_EQ(p.param_range(), QELinterval(-1, 0));
  pcurve* before = p.split(-0.4);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->param_range(), QELinterval(-1, -0.4));
  EXPECT_EQ(p.param_range(), QELinterval(-0.4, 0));
  EXPECT_NEAR(p.eval_position(-0.25).u, b.u, 1e-12);
  delete before;
}

namespace {

// A rational cubic with an inner knot, for the damage cases below.
bs3_curve rational_cubic() {
  const std::vector<QELposition> pts = {{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 0}, {5, 1, 2}};
  const double w[5] = {1, 2, 1, 0.5, 1};
  const double k[9] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  return bs3_curve_from_ctrlpts(3, 1, 0, 0, 5, pts.data(), w, QELresabs, 9, k, ktol);
}

struct damaged_curve_case {
  const char* what;
  std::function<void(bs3_curve)> damage;
};

}  // namespace

// Arrays that are no B-spline (a point or weight that is not a finite number,
// a weight not positive, knots that fall, run together or are not numbers),
// left by an edit of a built curve, make the work Open CASCADE does on them
// fail as a whole: no curve made of them, nothing changed, no crash.
TEST(BsplCurveOps, DamagedArraysFailTheWorkThatNeedsOpenCascade) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const damaged_curve_case cases[] = {
      {"a point that is not a number", [&](bs3_curve c) { bs3_curve_set_ctrlpt(c, 2, QELposition(nan, 0, 0), 1.0); }},
      {"an infinite point", [&](bs3_curve c) { bs3_curve_set_ctrlpt(c, 1, QELposition(0, inf, 0), 2.0); }},
      {"a weight that is not a number", [&](bs3_curve c) { bs3_curve_set_ctrlpt(c, 3, QELposition(4, 0, 0), nan); }},
      {"an infinite weight", [&](bs3_curve c) { bs3_curve_set_ctrlpt(c, 3, QELposition(4, 0, 0), inf); }},
      {"a negative weight", [&](bs3_curve c) { bs3_curve_set_ctrlpt(c, 0, QELposition(0, 0, 0), -1.0); }},
      {"knots turned round", [&](bs3_curve c) { bs3_curve_reparam(1.0, 0.0, c); }},
      {"knots run together", [&](bs3_curve c) { bs3_curve_reparam(2.0, 2.0, c); }},
      {"knots that are not numbers", [&](bs3_curve c) { bs3_curve_reparam(nan, 1.0, c); }},
      {"infinite knots", [&](bs3_curve c) { bs3_curve_reparam(-inf, inf, c); }},
  };
  for (const damaged_curve_case& k : cases) {
    SCOPED_TRACE(k.what);
    bs3_curve c = rational_cubic();
    ASSERT_TRUE(c);
    k.damage(c);
    bs3_curve raised = bs3_curve_degree_elevate(c);
    EXPECT_EQ(raised, nullptr);
    bs3_curve_delete(raised);
    EXPECT_FALSE(bs3_curve_fix_extra_knots(c));
    bs3_curve_delete(c);
  }
}

// The builder takes no arrays with a knot, point or weight that is not a
// finite number.
TEST(BsplCurveArrays, RejectsNumbersThatAreNotFinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::vector<QELposition> pts = {{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 0}, {5, 1, 2}};
  EXPECT_EQ(cubic(pts, {0, 0, 0, 0, nan, 1, 1, 1, 1}), nullptr);
  EXPECT_EQ(cubic(pts, {-inf, -inf, -inf, -inf, 0.5, 1, 1, 1, 1}), nullptr);
  EXPECT_EQ(cubic({pts[0], pts[1], {nan, 0, 0}, pts[3], pts[4]}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}), nullptr);
  EXPECT_EQ(cubic({pts[0], pts[1], pts[2], {0, 0, inf}, pts[4]}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}), nullptr);
  const double w[5] = {1, inf, 1, 1, 1};
  const double k[9] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  EXPECT_EQ(bs3_curve_from_ctrlpts(3, 1, 0, 0, 5, pts.data(), w, QELresabs, 9, k, ktol), nullptr);
  const double uk[6] = {0, 0, 0, 1, 1, 1}, vk[4] = {0, 0, 1, 1};
  std::vector<QELposition> net(6, QELposition(0, 0, 0));
  for (int i = 0; i < 6; ++i) net[i] = QELposition(i / 2, i % 2, 0);
  bs3_surface fine = bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 1, 0, 0, 0, 2, net.data(), nullptr, QELresabs, 6, uk, 4,
                                              vk, ktol);
  EXPECT_NE(fine, nullptr);
  bs3_surface_delete(fine);
  net[3] = QELposition(nan, 0, 0);
  EXPECT_EQ(bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 1, 0, 0, 0, 2, net.data(), nullptr, QELresabs, 6, uk, 4, vk, ktol),
            nullptr);
}
