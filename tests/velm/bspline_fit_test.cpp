// Fitting: bicubic grid interpolation, the four-evaluator surface fit, pcurve
// fits across seams and the curve_interp base.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "support/geometry_builders.hxx"
#include "velm/geometry.hxx"
#include "velm/testkit.hxx"

namespace {
using std::numbers::pi;

// A surface cubic in u and in v: the bicubic interpolant must reproduce it.
QELposition cubic(double u, double v) { return QELposition(u, v, u * u * u - 2 * u * v * v + v * v * v + 1); }
QELvector cubic_du(double u, double v) { return QELvector(1, 0, 3 * u * u - 2 * v * v); }
QELvector cubic_dv(double u, double v) { return QELvector(0, 1, -4 * u * v + 3 * v * v); }
QELvector cubic_duv(double, double v) { return QELvector(0, 0, -4 * v); }

// Knot arrays padded by two readable values on either side.
struct padded {
  std::vector<double> all;
  padded(std::initializer_list<double> values) : all(values) {
    all.insert(all.begin(), {all.front() - 2, all.front() - 1});
    all.insert(all.end(), {all.back() + 1, all.back() + 2});
  }
  const double* at() const { return all.data() + 2; }
  int count() const { return static_cast<int>(all.size()) - 4; }
};

double worst_on(bs3_surface s) {
  double worst = 0.0;
  for (double u = 0.0; u <= 2.0; u += 0.1)
    for (double v = -1.0; v <= 1.0; v += 0.1) {
      QELposition p;
      bs3_surface_eval(QELpar_pos(u, v), s, p);
      worst = std::max(worst, distance(p, cubic(u, v)));
    }
  return worst;
}
}  // namespace

TEST(SurfaceInterpolation, EndDerivativesAndTwistsReproduceABicubic) {
  const padded uk{0.0, 0.3, 1.1, 2.0}, vk{-1.0, 0.0, 0.4, 1.0};
  const int nu = uk.count(), nv = vk.count();
  std::vector<QELposition> pts;
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) pts.push_back(cubic(uk.at()[i], vk.at()[j]));
  std::vector<QELvector> du0, du1, dv0, dv1;
  for (int j = 0; j < nv; ++j) {
    du0.push_back(cubic_du(0.0, vk.at()[j]));
    du1.push_back(cubic_du(2.0, vk.at()[j]));
  }
  for (int i = 0; i < nu; ++i) {
    dv0.push_back(cubic_dv(uk.at()[i], -1.0));
    dv1.push_back(cubic_dv(uk.at()[i], 1.0));
  }
  const QELvector twist[4] = {cubic_duv(0, -1), cubic_duv(2, -1), cubic_duv(0, 1), cubic_duv(2, 1)};
  bs3_surface s = bs3_surface_interp_knots(nu, nv, pts.data(), uk.at(), vk.at(), du0.data(), du1.data(), dv0.data(),
                                           dv1.data(), twist);
  ASSERT_NE(s, nullptr);
  EXPECT_LT(worst_on(s), 1e-10);
  EXPECT_EQ(bs3_surface_range(s).u_range(), QELinterval(0.0, 2.0));
  bs3_surface_delete(s);

  // No end conditions: the grid points are still met, the surface in between only near.
  const std::vector<QELvector> none_u(nv), none_v(nu);
  const QELvector no_twist[4];
  s = bs3_surface_interp_knots(nu, nv, pts.data(), uk.at(), vk.at(), none_u.data(), none_u.data(), none_v.data(),
                               none_v.data(), no_twist);
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      QELposition p;
      bs3_surface_eval(QELpar_pos(uk.at()[i], vk.at()[j]), s, p);
      EXPECT_LT(distance(p, pts[i * nv + j]), 1e-10);
    }
  EXPECT_GT(worst_on(s), 1e-6);
  bs3_surface_delete(s);
}

TEST(SurfaceInterpolation, RefusesKnotsOutOfOrder) {
  padded uk{0.0, 1.0, 2.0}, vk{0.0, 1.0};
  std::vector<QELposition> pts(6);
  for (int i = 0; i < 6; ++i) pts[i] = QELposition(i / 2, i % 2, 0);
  const QELvector none[4];
  bs3_surface ok = bs3_surface_interp_knots(3, 2, pts.data(), uk.at(), vk.at(), none, none, none, none, none);
  EXPECT_NE(ok, nullptr);
  bs3_surface_delete(ok);
  uk.all[0] = 5.0;  // the value read two places below the first knot
  EXPECT_EQ(bs3_surface_interp_knots(3, 2, pts.data(), uk.at(), vk.at(), none, none, none, none, none), nullptr);
  padded repeated{0.0, 1.0, 1.0};
  EXPECT_EQ(bs3_surface_interp_knots(3, 2, pts.data(), repeated.at(), vk.at(), none, none, none, none, none),
            nullptr);
}

namespace {
QELvector paraboloid(const QELpar_pos& uv, void*) { return QELvector(uv.u, uv.v, uv.u * uv.u + std::sin(uv.v)); }
QELvector paraboloid_u(const QELpar_pos& uv, void*) { return QELvector(1, 0, 2 * uv.u); }
QELvector paraboloid_v(const QELpar_pos& uv, void*) { return QELvector(0, 1, std::cos(uv.v)); }
QELvector paraboloid_uv(const QELpar_pos&, void*) { return QELvector(); }
}  // namespace

TEST(SurfaceFit, FourEvaluatorsWithinTolerance) {
  const QELinterval u(-1, 1), v(0, 3);
  for (double tol : {1e-2, 1e-6}) {
    bs3_surface s = bs3_surface_proc(paraboloid, paraboloid_u, paraboloid_v, paraboloid_uv, nullptr, u, v, tol);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(bs3_surface_range(s).v_range(), v);
    for (double a = -1; a <= 1; a += 0.07)
      for (double b = 0; b <= 3; b += 0.11) {
        QELposition p;
        bs3_surface_eval(QELpar_pos(a, b), s, p);
        EXPECT_LT(distance(p, QELposition() + paraboloid({a, b}, nullptr)), tol);
      }
    bs3_surface_delete(s);
  }
  EXPECT_EQ(bs3_surface_proc(paraboloid, paraboloid_u, paraboloid_v, paraboloid_uv, nullptr,
                             QELinterval(interval_unbounded, 0, 0), v, 1e-3),
            nullptr);
}

namespace {
double pcurve_deviation(bs2_curve p, const curve& c, const surface& s, const QELinterval& r) {
  double worst = 0.0;
  for (int i = 0; i <= 100; ++i) {
    const double t = r.interpolate(i / 100.0);
    QELpar_pos uv;
    bs2_curve_eval(t, p, uv);
    worst = std::max(worst, distance(s.eval_position(uv), c.eval_position(t)));
  }
  return worst;
}
}  // namespace

TEST(PcurveFit, CrossesTheSeamOfACylinderContinuously) {
  // v runs about the axis with its seam at +-pi; the arc crosses it.
  const cone cyl(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
  const ellipse circle(QELposition(0, 0, 1), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  const QELinterval arc(2.0, 4.5);
  bs2_curve p = bs2_curve_for_curve_on_surf(circle, arc, cyl, 1e-5);
  ASSERT_NE(p, nullptr);
  EXPECT_LT(pcurve_deviation(p, circle, cyl, arc), 1e-5);
  QELpar_pos a, b;
  bs2_curve_eval(arc.start_pt(), p, a);
  bs2_curve_eval(arc.end_pt(), p, b);
  EXPECT_NEAR(b.v - a.v, 2.5, 1e-6) << "no jump of a period at the seam";
  bs2_curve_delete(p);

  // Shifted by whole periods: the start lies in the principal range.
  const QELinterval later(2.0 + 2 * pi, 4.5 + 2 * pi);
  double fit = 0.0;
  QELpar_vec shift;
  const ellipse turned(QELposition(0, 0, 1), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0);
  p = fit_pcurve_bs2(turned, later, cyl, QELresfit, fit, shift);
  ASSERT_NE(p, nullptr);
  EXPECT_GE(fit, 0.0);
  EXPECT_LE(fit, QELresfit);
  bs2_curve_eval(later.start_pt(), p, a);
  EXPECT_GE(a.v, -pi - 1e-9);
  EXPECT_LE(a.v, pi + 1e-9);
  EXPECT_NEAR(std::remainder(shift.dv, 2 * pi), 0.0, 1e-9) << "whole periods only";
  EXPECT_EQ(shift.du, 0.0);
  EXPECT_LT(pcurve_deviation(p, turned, cyl, later), QELresfit);
  bs2_curve_delete(p);
}

TEST(PcurveFit, FollowsACurveOnASplineAndRefusesAnEmptyRange) {
  QELposition pts[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) pts[i * 3 + j] = QELposition(i, j, i == 1 && j == 1 ? 1.0 : 0.0);
  const double knots[6] = {0, 0, 0, 1, 1, 1};
  bs3_surface srf = bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 2, 0, 0, 0, 3, pts, nullptr, QELresabs, 6, knots, 6, knots,
                                             QELresnor);
  bs3_curve diagonal = bs3_curve_u_param_line(srf, 0.3);
  ASSERT_NE(diagonal, nullptr);
  bs2_curve p = bs2_curve_for_curve_on_surf(diagonal, QELinterval(0, 1), srf, 1e-6);
  ASSERT_NE(p, nullptr);
  for (double t : {0.0, 0.5, 1.0}) {
    QELpar_pos uv;
    bs2_curve_eval(t, p, uv);
    EXPECT_NEAR(uv.u, t, 1e-5);
    EXPECT_NEAR(uv.v, 0.3, 1e-5);
  }
  bs2_curve_delete(p);
  EXPECT_EQ(bs2_curve_for_curve_on_surf(diagonal, QELinterval(), srf), nullptr);
  bs3_curve_delete(diagonal);
  bs3_surface_delete(srf);
}

// A flat patch cubic in u with a double knot at u = 0.5: the surface is only
// C1 across that knot line, its u-speed bending sharply there, so a straight
// line across it has a pcurve whose curvature jumps where it crosses. Mirrored
// and turned, the same.
TEST(PcurveFit, ACurveAcrossAKnotLineOfAC1SplineGetsAPcurveWithinTolerance) {
  const double xs[6] = {0.0, 0.1, 0.2, 0.8, 1.6, 3.0};
  QELposition pts[12];
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 2; ++j) pts[i * 2 + j] = QELposition(xs[i], j, 0.0);
  const double uk[10] = {0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1};
  const double vk[4] = {0, 0, 1, 1};
  const double mirror[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (const QELtransf& frame : {QELtransf(), rotate_transf(0.7, QELvector(1, 2, 3)),
                                 restore_transf(QELmatrix(mirror), QELvector(3, -8, 12), 1.0, 0, 1, 0)}) {
    SCOPED_TRACE(frame.reflect() ? "mirrored" : frame.identity() ? "identity" : "turned");
    bs3_surface srf = bs3_surface_from_ctrlpts(3, 0, 0, 0, 6, 1, 0, 0, 0, 2, pts, nullptr, QELresabs, 10, uk, 4, vk,
                                               QELresnor);
    ASSERT_NE(srf, nullptr);
    spline s(srf);
    bs3_surface_delete(srf);
    s *= frame;
    int n = 0;
    const double* knots = s.all_discontinuities_u(n, 2);
    ASSERT_EQ(n, 1);
    EXPECT_NEAR(knots[0], 0.5, 1e-12);
    const QELposition a = QELposition(0.05, 0.1, 0.0) * frame, b = QELposition(2.5, 0.9, 0.0) * frame;
    const straight line(a, normalise(b - a));
    const QELinterval across(0.0, (b - a).len());
    bs2_curve p = bs2_curve_for_curve_on_surf(line, across, s, 1e-6);
    ASSERT_NE(p, nullptr);
    EXPECT_LT(pcurve_deviation(p, line, s, across), 1e-6);
    bs2_curve_delete(p);
  }
}

namespace {
// A fitter over an ellipse in the manner of the connector's: ten samples with
// derivatives, projection on the ellipse itself.
class ellipse_interp : public curve_interp {
 public:
  ellipse_interp(const ellipse& e, const QELinterval& r, double fit, bool with_derivs)
      : curve_interp(fit), e_(e) {
    npts = 10;
    params = new double[10];
    points = new QELposition[10];
    derivs = with_derivs ? new QELvector[10] : nullptr;
    for (int i = 0; i < 10; ++i) {
      params[i] = r.interpolate(i / 9.0);
      e_.eval(params[i], points[i], derivs ? &derivs[i] : nullptr);
    }
  }
  ~ellipse_interp() override {
    delete[] params;
    delete[] points;
    delete[] derivs;
  }
  point_data* point_perp(const point_record& rec) override {
    QELvector tangent;
    e_.point_perp(rec.position, rec.data.foot, tangent, &rec.param);
    rec.data.direction = tangent;
    rec.data.value = 1.0;
    return &rec.data;
  }

 private:
  ellipse e_;
};
}  // namespace

TEST(CurveInterp, FitsWithinTheToleranceWithAndWithoutDerivatives) {
  const ellipse e(QELposition(1, 2, 3), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 0.4);
  const QELinterval r(-2.0, 2.5);
  for (bool with_derivs : {true, false}) {
    ellipse_interp fit(e, r, 1e-6, with_derivs);
    fit.fit();
    ASSERT_NE(fit.obj_bs, nullptr);
    double worst = 0.0;
    for (int i = 0; i <= 200; ++i) {
      const QELposition p = bs3_curve_position(r.interpolate(i / 200.0), fit.obj_bs);
      worst = std::max(worst, distance(p, e.closest_point(p)));
    }
    EXPECT_LT(worst, 1e-5) << with_derivs;
    bs3_curve_delete(fit.obj_bs);
  }
}

namespace {
// A torus that counts its evaluations, so the work a refused fit does shows.
class counting_torus : public torus {
 public:
  using torus::torus;
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override {
    ++evaluations;
    torus::eval_derivs(uv, n, pos, d, uside, vside);
  }
  mutable long evaluations = 0;
};
}  // namespace

TEST(PcurveFit, RefusesACurveOffTheSurfaceWithoutDensifying) {
  // Upright, tilted, and tilted with the minor radius reversed (the surface's sense mirrored).
  const QELunit_vector tilted = normalise(QELvector(1, 2, 2));
  const struct {
    QELunit_vector axis;
    double minor;
  } frames[] = {{QELunit_vector(0, 0, 1), 1.0}, {tilted, 1.0}, {tilted, -1.0}};
  for (const auto& f : frames) {
    const QELposition centre(1, -2, 3);
    const QELvector across = 3.0 * normalise(f.axis * QELvector(0.3, -0.1, 0.9));
    const counting_torus tor(centre, f.axis, 3.0, f.minor);
    const QELinterval arc(0.5, 2.5);

    // The ring over the top of the tube lies on the torus and still fits.
    const ellipse ring(centre + std::fabs(f.minor) * f.axis, f.axis, across, 1.0);
    bs2_curve p = bs2_curve_for_curve_on_surf(ring, arc, tor, 1e-5);
    ASSERT_NE(p, nullptr);
    EXPECT_LT(pcurve_deviation(p, ring, tor, arc), 1e-5);
    bs2_curve_delete(p);

    // The same ring lifted 2 off the surface: no pcurve lies within tol of it,
    // and the fit says so after one inversion rather than at every density.
    const ellipse lifted(centre + (std::fabs(f.minor) + 2.0) * f.axis, f.axis, across, 1.0);
    tor.evaluations = 0;
    EXPECT_EQ(bs2_curve_for_curve_on_surf(lifted, arc, tor, 1e-3), nullptr);
    EXPECT_LT(tor.evaluations, 1000);

    // A line from the surface outwards starts on it but leaves it: still refused.
    const straight out(centre + across + std::fabs(f.minor) * f.axis, normalise(f.axis), 1.0);
    EXPECT_EQ(bs2_curve_for_curve_on_surf(out, QELinterval(0, 2), tor, 1e-3), nullptr);
  }
}

// A straight line on a plane maps to a straight line in the plane's
// parameters: two control points of degree 1, exact, whatever the plane's
// frame (turned, its parameters mirrored) and the line's speed; a line off
// the plane gets none.
TEST(PcurveFit, AStraightLineOnAPlaneGetsTheExactTwoPointLine) {
  const QELposition root(1, -2, 3);
  const QELunit_vector tilted = normalise(QELvector(1, 2, 2));
  plane mirrored(root, tilted);
  mirrored.reverse_v = 1;
  const struct {
    const char* name;
    plane flat;
  } planes[] = {{"upright", plane(root, QELunit_vector(0, 0, 1))}, {"turned", plane(root, tilted)},
                {"mirrored", mirrored}};
  for (const auto& p : planes) {
    SCOPED_TRACE(p.name);
    const QELvector across = normalise(p.flat.normal * QELvector(0.3, -0.1, 0.9));
    for (double speed : {1.0, 0.25}) {
      const straight line(root + 2.0 * across, normalise(across + 0.5 * (p.flat.normal * across)), speed);
      const QELinterval range(-1.5, 4.0);
      bs2_curve pc = bs2_curve_for_curve_on_surf(line, range, p.flat, QELresfit);
      ASSERT_NE(pc, nullptr);
      EXPECT_EQ(bs2_curve_degree(pc), 1);
      int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
      QELposition* ctrl = nullptr;
      double *weights = nullptr, *knots = nullptr;
      bs2_curve_to_array(pc, dim, degree, rational, n, ctrl, weights, nk, knots);
      EXPECT_EQ(n, 2);
      EXPECT_EQ(rational, 0);
      delete[] ctrl;
      delete[] weights;
      delete[] knots;
      EXPECT_TRUE(bs2_curve_range(pc) == range);
      EXPECT_LT(pcurve_deviation(pc, line, p.flat, range), 1e-12);
      bs2_curve_delete(pc);
    }
    const straight off(root + 0.01 * p.flat.normal, normalise(p.flat.normal * QELvector(1, 1, 0)), 1.0);
    EXPECT_EQ(bs2_curve_for_curve_on_surf(off, QELinterval(0, 1), p.flat, QELresfit), nullptr);
  }
}

namespace {
// The pcurve's degree and control point count.
std::pair<int, int> degree_and_count(bs2_curve pc) {
  int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
  QELposition* ctrl = nullptr;
  double *weights = nullptr, *knots = nullptr;
  bs2_curve_to_array(pc, dim, degree, rational, n, ctrl, weights, nk, knots);
  delete[] ctrl;
  delete[] weights;
  delete[] knots;
  return {degree, n};
}
}  // namespace

// A line or circle whose parameters on a cone, cylinder, sphere or torus
// follow its own affinely (a ruling, a circle of constant u or v, across the
// seam or round a whole period) gets the exact two-point line in every frame;
// an oblique ellipse on a cylinder, or a circle on a plane, is still fitted.
TEST(PcurveFit, IsoLinesOnAnalyticSurfacesGetTheExactTwoPointLine) {
  const QELposition o(0, 0, 0);
  const QELunit_vector z(0, 0, 1);
  const cone cyl(o, z, QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
  const cone cone30(o, z, QELvector(2, 0, 0), 1.0, 0.5, std::sqrt(0.75), 0.0);
  const sphere ball(o, 3.0);
  const torus ring(o, z, 5.0, 1.0);
  const plane floor(o, z);
  const double r30 = 2.0 + 0.5 / std::sqrt(0.75);  // the cone's radius at z = 1
  struct Case {
    const char* name;
    const surface* s;
    std::unique_ptr<curve> c;
    QELinterval range;
    bool exact;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, const surface& s, curve* c, QELinterval range, bool exact) {
    cases.push_back({name, &s, std::unique_ptr<curve>(c), range, exact});
  };
  add("cylinder ruling", cyl, new straight(QELposition(0, 2, -1), z, 1.0), QELinterval(0.0, 3.0), true);
  add("cylinder ruling at half speed", cyl, new straight(QELposition(-2, 0, 4), -z, 0.5), QELinterval(-2, 6), true);
  add("cylinder whole circle", cyl, new ellipse(QELposition(0, 0, 1), z, QELvector(2, 0, 0), 1.0),
      QELinterval(-pi, pi), true);
  add("cylinder arc across the seam", cyl, new ellipse(QELposition(0, 0, 1), -z, QELvector(-2, 0, 0), 1.0),
      QELinterval(-1.0, 1.5), true);
  add("cone circle", cone30, new ellipse(QELposition(0, 0, 1), z, QELvector(r30, 0, 0), 1.0),
      QELinterval(-pi, pi), true);
  add("sphere equator", ball, new ellipse(o, z, QELvector(0, 3, 0), 1.0), QELinterval(-pi, pi), true);
  add("sphere meridian clear of the poles", ball, new ellipse(o, QELunit_vector(0, 1, 0), QELvector(3, 0, 0), 1.0),
      QELinterval(-1.2, 1.0), true);
  add("torus outer ring", ring, new ellipse(o, z, QELvector(6, 0, 0), 1.0), QELinterval(-pi, pi), true);
  add("torus tube circle", ring, new ellipse(QELposition(5, 0, 0), QELunit_vector(0, -1, 0), QELvector(1, 0, 0), 1.0),
      QELinterval(-pi, pi), true);
  add("cylinder oblique ellipse", cyl,
      new ellipse(QELposition(0, 0, 1), normalise(QELvector(0, -1, 1)), QELvector(0, 2, 2), 1.0 / std::sqrt(2.0)),
      QELinterval(-2.0, 2.0), false);
  add("plane circle", floor, new ellipse(QELposition(1, 1, 0), z, QELvector(1, 0, 0), 1.0), QELinterval(0.0, 2.0),
      false);

  for (const testkit::KernelFrame& frame : testkit::kernel_frames())
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(frame.name) + ", " + k.name);
      std::unique_ptr<surface> s(k.s->make_copy());
      std::unique_ptr<curve> c(k.c->make_copy());
      *s *= frame.transform;
      *c *= frame.transform;
      double fit = 0.0;
      QELpar_vec shift;
      bs2_curve pc = fit_pcurve_bs2(*c, k.range, *s, QELresfit, fit, shift);
      ASSERT_NE(pc, nullptr);
      EXPECT_LT(pcurve_deviation(pc, *c, *s, k.range), k.exact ? 1e-9 : QELresfit);
      const auto [degree, count] = degree_and_count(pc);
      if (k.exact) {
        EXPECT_EQ(degree, 1);
        EXPECT_EQ(count, 2);
      } else {
        EXPECT_GT(count, 2);
      }
      bs2_curve_delete(pc);
    }
}

// A short arc whose parameters on the surface do not follow its own (an
// oblique ellipse on a cylinder, a circle on a sphere about a tilted axis) is
// never taken as the two-point line between its ends' parameters: however
// short, it gets a pcurve within the checker's distance for an edge of no
// tolerance. Seeded arcs of 1e-3 to 0.3 radians, in every frame.
TEST(PcurveFit, AShortArcWhoseParametersDoNotFollowItsOwnIsFittedNotTakenAsALine) {
  const QELposition o(0, 0, 0);
  const QELunit_vector z(0, 0, 1);
  const cone cyl(o, z, QELvector(8, 0, 0), 1.0, 0.0, 1.0, 0.0);
  const sphere ball(o, 10.0);
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int cases = 0;
  for (const testkit::KernelFrame& frame : testkit::kernel_frames())
    for (int draw = 0; draw < 12; ++draw) {
      const double tilt = 0.2 + 1.0 * unit(rng), start = 2.0 * pi * unit(rng);
      const double length = std::pow(10.0, -3.0 + 2.5 * unit(rng));
      const QELinterval range(start, start + length);
      // The cylinder cut by a plane through the x axis turned by tilt;
      // the sphere cut by a plane at height 4 turned by tilt.
      const QELunit_vector n = normalise(QELvector(0, -std::sin(tilt), std::cos(tilt)));
      const ellipse oblique(o, n, QELvector(0, 8, 8 * std::tan(tilt)), std::cos(tilt));
      const QELposition centre = o + n * 4.0;
      const ellipse small(centre, n, QELvector(std::sqrt(84.0), 0, 0), 1.0);
      for (const auto& [name, srf, crv] : {std::tuple<const char*, const surface*, const curve*>{"cylinder", &cyl, &oblique},
                                           {"sphere", &ball, &small}}) {
        SCOPED_TRACE(std::string(frame.name) + ", " + name + ", draw " + std::to_string(draw) + ", arc " +
                     std::to_string(length));
        std::unique_ptr<surface> s(srf->make_copy());
        std::unique_ptr<curve> c(crv->make_copy());
        *s *= frame.transform;
        *c *= frame.transform;
        double fit = 0.0;
        QELpar_vec shift;
        bs2_curve pc = fit_pcurve_bs2(*c, range, *s, QELresfit, fit, shift);
        ASSERT_NE(pc, nullptr);
        EXPECT_LT(pcurve_deviation(pc, *c, *s, range), QELresabs);
        ++cases;
        bs2_curve_delete(pc);
      }
    }
  EXPECT_GE(cases, 72);
}
