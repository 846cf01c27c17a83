#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm_test_support.hxx"

namespace {

using std::numbers::pi;

using velm_test::expect_close;

// First and second derivatives against central differences of the position.
void expect_derivatives_match(const curve& c, double t) {
  const double h = 1e-5;
  QELposition p;
  QELvector d1, d2;
  c.eval(t, p, &d1, &d2);
  const QELposition a = c.eval_position(t - h), b = c.eval_position(t + h);
  expect_close(d1, (b - a) / (2 * h), 1e-6 * (1 + d1.len()));
  expect_close(d2, ((b - p) - (p - a)) / (h * h), 1e-3 * (1 + d2.len()));
}

bs3_curve rational_arc() {
  // A quarter circle of radius 2 as a rational quadratic.
  const QELposition pts[3] = {{2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  const double w[3] = {1.0, std::sqrt(0.5), 1.0};
  const double knots[6] = {0, 0, 0, 1, 1, 1};
  return bs3_curve_from_ctrlpts(2, 1, 0, 0, 3, pts, w, QELresabs, 6, knots, bs3_curve_knottol());
}

std::vector<std::unique_ptr<curve>> sample_curves() {
  std::vector<std::unique_ptr<curve>> r;
  r.emplace_back(new straight(QELposition(1, 2, 3), QELunit_vector(1, 1, 0), 2.5));
  r.emplace_back(new ellipse(QELposition(1, 0, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 0.5, 0.3));
  r.emplace_back(new ellipse(QELposition(0, 0, 1), QELunit_vector(1, 1, 1), QELvector(1, -1, 0), 1.7, -1.0));
  r.emplace_back(new intcurve(rational_arc()));
  return r;
}

}  // namespace

TEST(GeomCurve, DerivativesMatchFiniteDifferencesInBothDirections) {
  for (auto& c : sample_curves()) {
    SCOPED_TRACE(c->type_name());
    for (double t : {0.1, 0.45, 0.8}) expect_derivatives_match(*c, t);
    c->negate();
    for (double t : {-0.8, -0.3}) expect_derivatives_match(*c, t);
  }
}

TEST(GeomCurve, NegateRunsTheSamePointsBackwards) {
  for (auto& c : sample_curves()) {
    SCOPED_TRACE(c->type_name());
    std::unique_ptr<curve> n(c->make_copy());
    n->negate();
    for (double t : {0.05, 0.5, 0.9}) expect_close(n->eval_position(-t), c->eval_position(t), 1e-12);
    const QELinterval r = c->param_range(), nr = n->param_range();
    if (r.finite()) {
      EXPECT_DOUBLE_EQ(nr.start_pt(), -r.end_pt());
      EXPECT_DOUBLE_EQ(nr.end_pt(), -r.start_pt());
    }
  }
}

TEST(GeomCurve, InversionRoundTripsAndFindsTheFoot) {
  for (auto& c : sample_curves()) {
    SCOPED_TRACE(c->type_name());
    for (double t : {0.1, 0.6, 0.95}) {
      const QELposition p = c->eval_position(t);
      EXPECT_NEAR(c->param(p), t, 1e-8);
      EXPECT_TRUE(c->test_point(p));
      // A point off the curve along the normal plane lands back on the same parameter.
      QELvector d = c->eval_deriv(t);
      QELvector off = d * QELvector(0.3, -0.2, 0.9);
      if (off.len() > 0 && c->type() != 11) {
        const QELposition q = p + 0.01 * normalise(off);
        EXPECT_NEAR(c->param(q), t, 1e-6);
        EXPECT_FALSE(c->test_point(q));
      }
    }
  }
  // With a guess a periodic curve answers the copy nearest the guess.
  const ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0);
  const double guess = 2 * pi + 0.1;
  EXPECT_NEAR(e.param(e.eval_position(0.2), &guess), 2 * pi + 0.2, 1e-9);
  EXPECT_NEAR(e.param(e.eval_position(0.2)), 0.2, 1e-9);
}

TEST(GeomCurve, EllipseRunsCounterClockwiseAboutItsNormal) {
  const ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 0.5);
  expect_close(e.eval_position(0), QELposition(2, 0, 0), 1e-15);
  expect_close(e.eval_position(pi / 2), QELposition(0, 1, 0), 1e-15);
  EXPECT_DOUBLE_EQ(e.param_period(), 2 * pi);
  EXPECT_TRUE(e.closed());
  EXPECT_NEAR(e.length(-pi, pi), 9.6884482205476, 1e-9);  // perimeter of the 2 x 1 ellipse
  const QELbox b = e.bound(QELinterval(0, pi / 2));
  expect_close(b.low(), QELposition(0, 0, 0), 1e-12);
  expect_close(b.high(), QELposition(2, 1, 0), 1e-12);
}

TEST(GeomCurve, TransformsKeepParametersIncludingMirrors) {
  const double mirror[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
  const QELtransf transforms[] = {rotate_transf(0.7, QELvector(1, 2, 3)) * translate_transf(QELvector(1, -2, 5)),
                                  scale_transf(2.5), restore_transf(QELmatrix(mirror), QELvector(0, 1, 0), 1.0, 1, 0, 0)};
  for (const QELtransf& t : transforms)
    for (auto& c : sample_curves()) {
      SCOPED_TRACE(c->type_name());
      std::unique_ptr<curve> m(trans_curve(*c, &t));
      for (double s : {0.1, 0.5, 0.9}) expect_close(m->eval_position(s), c->eval_position(s) * t, 1e-9);
    }
}

TEST(GeomCurve, LimitSplitAndRange) {
  straight s(QELposition(), QELunit_vector(1, 0, 0));
  EXPECT_EQ(s.param_range().type(), interval_unbounded);
  EXPECT_EQ(s.length(0, 1e300 * 1e10), DBL_MAX);
  s.limit(QELinterval(0, 10));
  std::unique_ptr<curve> before(s.split(4.0));
  ASSERT_TRUE(before);
  EXPECT_EQ(before->param_range(), QELinterval(0, 4));
  EXPECT_EQ(s.param_range(), QELinterval(4, 10));
  EXPECT_EQ(s.split(10.0), nullptr);
  ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0);
  std::unique_ptr<curve> whole(e.split(1.0));
  ASSERT_TRUE(whole);
  EXPECT_NEAR(whole->param_range().length(), 2 * pi, 1e-12);
  EXPECT_NEAR(e.param_range().start_pt(), 1.0, 1e-12);
}

// From a guess at a right-angled kink the tangent on one side is square to the
// way to the point: the foot on the other side is found all the same, on
// curves and on surfaces (the square tube's corner at v = 1).
TEST(GeomCurve, ProjectionFromAGuessCrossesAKink) {
  const QELposition pts[3] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}};
  const double knots[5] = {0, 0, 1, 2, 2};
  intcurve c(bs3_curve_from_ctrlpts(1, 0, 0, 0, 3, pts, nullptr, QELresabs, 5, knots, bs3_curve_knottol()));
  ASSERT_TRUE(c.cur());
  for (double at : {0.5, 1.5}) {
    const double corner = 1.0;
    EXPECT_NEAR(c.param(c.eval_position(at), &corner), at, 1e-9);
  }
  const spline s = velm_test::spline_from(testkit::make_tube_bs3_surface(false));
  const QELpar_pos corner(0.5, 1.0);
  for (double v : {0.7, 1.3}) {
    const QELpar_pos uv = s.param(s.eval_position(QELpar_pos(0.5, v)), &corner);
    EXPECT_NEAR(uv.u, 0.5, 1e-9);
    EXPECT_NEAR(uv.v, v, 1e-9);
  }
}

TEST(GeomCurve, DiscontinuitiesAreConfirmedKinksOnly) {
  // Degree 2 with a double knot at 1: a real kink; and a double knot where the legs line up.
  const QELposition kink[5] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0}};
  const QELposition smooth[5] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
  const double knots[8] = {0, 0, 0, 1, 1, 2, 2, 2};
  for (int pass = 0; pass < 2; ++pass) {
    intcurve c(bs3_curve_from_ctrlpts(2, 0, 0, 0, 5, pass ? smooth : kink, nullptr, QELresabs, 8, knots,
                                      bs3_curve_knottol()));
    ASSERT_TRUE(c.cur());
    int n = 0;
    const double* d = c.discontinuities(n, 1);
    if (pass == 0) {
      ASSERT_EQ(n, 1);
      EXPECT_DOUBLE_EQ(d[0], 1.0);
    } else {
      EXPECT_EQ(n, 0);
    }
  }
}

TEST(GeomCurve, ParIntCurEvaluatesThroughItsPcurve) {
  const plane pl(QELposition(0, 0, 1), QELunit_vector(0, 0, 1));
  const QELposition uv[2] = {{0, 0, 0}, {2, 1, 0}};
  const double knots[4] = {0, 0, 1, 1};
  intcurve c(new par_int_cur(nullptr, 0.0, pl, bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, uv, nullptr, QELresabs, 4, knots,
                                                                      bs3_curve_knottol())));
  EXPECT_FALSE(c.cur_present());
  EXPECT_EQ(c.get_int_cur().id(), par_int_cur_id);
  expect_close(c.eval_position(0.5), pl.eval_position(QELpar_pos(1, 0.5)), 1e-12);
  expect_derivatives_match(c, 0.3);
}

// A wavy spline, tilted and mirrored: its nearest point is no farther than the
// nearest of a dense polyline of its points, and its length is the length of
// that polyline (within the chords' shortfall).
TEST(GeomCurve, ProjectionAndLengthOfAWavySplineMatchADenseSamplingInEveryFrame) {
  QELposition wave[9];
  for (int i = 0; i < 9; ++i) wave[i] = QELposition(i, i % 2 ? 1.0 : -1.0, 0.2 * i);
  const double mirror[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
  const QELtransf frames[] = {QELtransf(), rotate_transf(1.2, QELvector(-1, 2, 1)) * translate_transf(QELvector(1, -3, 2)),
                              restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0) *
                                  rotate_transf(0.4, QELvector(1, 0, 1))};
  const QELposition points[] = {{4.0, 3.0, 0.8}, {4.1, -0.2, 0.8}, {-2.0, 0.5, 0.0}, {9.5, 0.0, 3.0}, {2.5, 0.0, -4.0}};
  const int n = 4000;
  for (const QELtransf& t : frames) {
    intcurve c(bs3_curve_interp(9, wave, QELvector(), QELvector(), 0.0));
    c *= t;
    const QELinterval r = c.param_range();
    std::vector<QELposition> poly;
    double chords = 0.0;
    for (int i = 0; i <= n; ++i) {
      poly.push_back(c.eval_position(r.interpolate(double(i) / n)));
      if (i > 0) chords += distance(poly[i - 1], poly[i]);
    }
    const double length = c.length(r.start_pt(), r.end_pt());
    EXPECT_GE(length, chords - 1e-9);
    EXPECT_LE(length, chords * (1 + 1e-5));
    for (QELposition p : points) {
      p *= t;
      double brute = HUGE_VAL;
      for (const QELposition& q : poly) brute = std::min(brute, distance(p, q));
      QELposition foot;
      double at = 0.0;
      c.point_perp(p, foot, nullptr, &at);
      EXPECT_LE(distance(p, foot), brute + 1e-12);
      EXPECT_GE(distance(p, foot), brute - 1e-3);
      expect_close(c.eval_position(at), foot, 1e-12);
    }
  }
}

// A straight's length is its end points' distance, signed by the order of
// the parameters, whatever its parameter scale (negative too).
TEST(GeomCurve, StraightLengthIsTheDistanceOfItsEnds) {
  for (const double scale : {1.0, 2.5, -0.75, 1e-3}) {
    const straight s(QELposition(1, -2, 3), QELunit_vector(1, 2, -2), scale);
    for (const auto& [t0, t1] : {std::pair{0.0, 1.0}, {-3.5, 7.25}, {4.0, -1.0}, {2.0, 2.0}}) {
      const double ends = (s.eval_position(t1) - s.eval_position(t0)).len();
      EXPECT_NEAR(s.length(t0, t1), t1 >= t0 ? ends : -ends, 1e-12 * (1 + ends)) << scale << " " << t0 << " " << t1;
    }
  }
}
