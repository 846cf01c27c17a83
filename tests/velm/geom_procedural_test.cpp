// Procedural spline kinds (revolution, sweep, offset, law), laws, their save
// round trip, and the geometry module's error and memory behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/law.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

namespace {
using std::numbers::pi;

// Su and Sv against central differences of the position.
void expect_consistent_derivatives(const surface& s, const QELpar_pos& uv, double tol = 1e-5) {
  QELposition p;
  QELvector d[2];
  s.eval(uv, p, d);
  const double h = 1e-6;
  const QELvector su = (s.eval_position({uv.u + h, uv.v}) - s.eval_position({uv.u - h, uv.v})) / (2 * h);
  const QELvector sv = (s.eval_position({uv.u, uv.v + h}) - s.eval_position({uv.u, uv.v - h})) / (2 * h);
  EXPECT_LT((d[0] - su).len(), tol) << s.type_name() << " Su at " << uv.u << "," << uv.v;
  EXPECT_LT((d[1] - sv).len(), tol) << s.type_name() << " Sv at " << uv.u << "," << uv.v;
}

// The definition's B-spline stays within its fit tolerance of the definition.
void expect_approximation_holds(const spline& s) {
  const bs3_surface b = s.sur();
  ASSERT_NE(b, nullptr);
  const QELpar_box r = s.param_range();
  for (double f : {0.13, 0.5, 0.77})
    for (double g : {0.05, 0.41, 0.93}) {
      const QELpar_pos uv(r.u_range().interpolate(f), r.v_range().interpolate(g));
      QELposition on_bs;
      bs3_surface_eval(uv, b, on_bs);
      EXPECT_LT(distance(on_bs, s.eval_position(uv)), s.fitol() * 1.01);
    }
}

const QELtransf& mirror() {
  static const QELtransf m = restore_transf(QELmatrix(QELvector(1, 0, 0), QELvector(0, -1, 0), QELvector(0, 0, 1)),
                                            QELvector(0, 0.5, 0), 1.0, 1, 0, 0);
  return m;
}

// A mirror keeps every (u, v) on the image of its point and the normal outward.
void expect_mirror_keeps_parameters(const spline& s) {
  spline image(s);
  image *= mirror();
  for (const QELpar_pos uv : {QELpar_pos(0.3, 0.4), QELpar_pos(1.1, 2.0)}) {
    EXPECT_LT(distance(image.eval_position(uv), s.eval_position(uv) * mirror()), 1e-9);
    const QELvector n = s.eval_normal(uv) * mirror();
    EXPECT_GT(image.eval_normal(uv) % n, 0.999);
  }
}

class ProceduralSurfaces : public velm_test::KernelTest {
 protected:
  void TearDown() override {
    law_clear_table();
    KernelTest::TearDown();
  }
};
}  // namespace

TEST_F(ProceduralSurfaces, RevolutionTurnsTheProfileRightHandedAndReparametrises) {
  straight profile(QELposition(2, 0, 0), QELunit_vector(1, 0, 1));
  profile.limit(QELinterval(0.0, 3.0));
  const spline s(VELM_MAKE(rot_spl_sur, profile, QELposition(0, 0, -1), QELvector(0, 0, 5)));
  EXPECT_EQ(s.get_spl_sur().id(), rot_spl_sur::id);
  EXPECT_EQ(s.param_range_v(), QELinterval(0.0, 2 * pi));
  EXPECT_NEAR(s.param_period_v(), 2 * pi, 1e-12);
  // A quarter turn about +z takes +x to +y.
  const QELposition p = profile.eval_position(1.5);
  EXPECT_LT(distance(s.eval_position({1.5, pi / 2}), QELposition(-p.y(), p.x(), p.z())), 1e-12);
  EXPECT_LT(distance(s.eval_position({1.5, 0.0}), p), 1e-12);
  for (const QELpar_pos uv : {QELpar_pos(0.5, 0.3), QELpar_pos(2.5, 4.0)}) expect_consistent_derivatives(s, uv);

  curve* along = s.u_param_line(pi / 3);
  curve* around = s.v_param_line(2.0);
  ASSERT_NE(along, nullptr);
  ASSERT_NE(around, nullptr);
  EXPECT_EQ(around->type(), 2);
  for (double t : {0.4, 2.9}) {
    EXPECT_LT(distance(along->eval_position(t), s.eval_position({t, pi / 3})), 1e-12);
    EXPECT_LT(distance(around->eval_position(t), s.eval_position({2.0, t})), 1e-12);
  }
  delete along;
  delete around;
  expect_approximation_holds(s);
  expect_mirror_keeps_parameters(s);
  // Reparametrised, it becomes a B-spline of its own with the same shape.
  spline moved = s;
  moved.reparam_u(0.0, 1.0);
  EXPECT_EQ(moved.get_spl_sur().id(), exact_spl_sur::id);
  EXPECT_LT(distance(moved.eval_position({0.5, 1.0}), s.eval_position({1.5, 1.0})), QELresfit / 10);
}

TEST_F(ProceduralSurfaces, SweepTranslatesTheProfileFromTheRailsLowEnd) {
  const ellipse profile(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 0.5);
  const straight rail(QELposition(7, 7, 7), QELunit_vector(0, 1, 1), 2.0);
  const spline s(VELM_MAKE(sweep_spl_sur, profile, rail, nullptr, nullptr, nullptr, QELinterval(-pi, pi),
                           QELinterval(2.0, 5.0)));
  // v_low = 2: S(u, 2) is the profile itself.
  for (double u : {-1.0, 0.5})
    EXPECT_LT(distance(s.eval_position({u, 2.0}), profile.eval_position(u)), 1e-12);
  EXPECT_LT(distance(s.eval_position({0.5, 4.0}),
                     profile.eval_position(0.5) + (rail.eval_position(4.0) - rail.eval_position(2.0))),
            1e-12);
  expect_consistent_derivatives(s, {0.3, 3.0});
  expect_approximation_holds(s);
  expect_mirror_keeps_parameters(s);

  // A v interval open above keeps its low end as the origin; one without a low
  // end takes the rail's own origin.
  const spline open(VELM_MAKE(sweep_spl_sur, profile, rail, nullptr, nullptr, nullptr, QELinterval(-pi, pi),
                              QELinterval(interval_bounded_below, 1.0, 0.0)));
  EXPECT_LT(distance(open.eval_position({0.5, 1.0}), profile.eval_position(0.5)), 1e-12);
  EXPECT_EQ(open.sur(), nullptr);  // no finite box to approximate over
  const spline endless(VELM_MAKE(sweep_spl_sur, profile, rail, nullptr, nullptr, nullptr, QELinterval(-pi, pi),
                                 QELinterval(interval_unbounded, 0.0, 0.0)));
  EXPECT_LT(distance(endless.eval_position({0.5, 0.0}), profile.eval_position(0.5)), 1e-12);
}

// The approximation is refined only the way the surface bends: a sweep along
// a line and a revolution of a line stay a handful of control points along
// the straight direction (a circle swept straight was once a 130 by 130 net),
// and hold their fit tolerance everywhere, between the fit's nodes too.
TEST_F(ProceduralSurfaces, ApproximationIsRefinedOnlyWhereTheSurfaceBends) {
  const ellipse profile(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 0.5);
  const straight rail(QELposition(1, 2, 3), QELunit_vector(0.2, 0.3, 1), 7.0);
  const spline swept(VELM_MAKE(sweep_spl_sur, profile, rail, nullptr, nullptr, nullptr, QELinterval(-pi, pi),
                               QELinterval(0.0, 7.0)));
  const straight generator(QELposition(3, 0, 0), QELunit_vector(-0.5, 0, 1), 1.0);
  const QELinterval length(0.0, 2.0);
  const spline turned(VELM_MAKE(rot_spl_sur, generator, QELposition(), QELvector(0, 0, 1), &length, nullptr));
  struct Case {
    const spline& s;
    bool straight_along_v;
  };
  for (const Case& c : {Case{swept, true}, Case{turned, false}}) {
    const bs3_surface b = c.s.sur();
    ASSERT_NE(b, nullptr);
    const int along_straight = c.straight_along_v ? bs3_surface_num_ctrlpts_v(b) : bs3_surface_num_ctrlpts_u(b);
    const int along_bend = c.straight_along_v ? bs3_surface_num_ctrlpts_u(b) : bs3_surface_num_ctrlpts_v(b);
    EXPECT_LE(along_straight, 10) << c.s.type_name();
    EXPECT_GT(along_bend, along_straight) << c.s.type_name();
    const QELpar_box r = c.s.param_range();
    double worst = 0.0;
    for (int i = 0; i <= 97; ++i)
      for (int j = 0; j <= 13; ++j) {
        const double f = i / 97.0, g = j / 13.0;
        const QELpar_pos uv = c.straight_along_v
                                  ? QELpar_pos(r.u_range().interpolate(f), r.v_range().interpolate(g))
                                  : QELpar_pos(r.u_range().interpolate(g), r.v_range().interpolate(f));
        QELposition on_bs;
        bs3_surface_eval(uv, b, on_bs);
        worst = std::max(worst, distance(on_bs, c.s.eval_position(uv)));
      }
    EXPECT_LT(worst, c.s.fitol() * 1.01) << c.s.type_name();
  }
}

// A sweep along a line is its profile moved along the line: its B-spline
// (what the exporters hand out for it) is the profile's own B-spline at the
// profile's parameters times a line, exact for a B-spline profile (rational
// or not) and a line, within a hundredth of resabs for an ellipse. The
// Hermite patches it had strayed up to 1e-5 from the sweep, and every edge
// on a face of it with them. Seeded rails, in every frame.
TEST_F(ProceduralSurfaces, ASweepAlongALineKeepsItsProfileInItsBSpline) {
  const ellipse circle(QELposition(0.5, -0.2, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  const ellipse oval(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2.5, 0, 0), 0.6);
  const std::vector<QELposition> wave = {{2, 0, 0}, {3, 2, 0.5}, {0, 3, 0}, {-3, 1, -0.5}, {-2, -2, 0}, {2.5, -3, 0}};
  const double wave_knots[] = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  struct Profile {
    const char* what;
    std::unique_ptr<curve> c;
    QELinterval u;
    double within;
  };
  std::vector<Profile> profiles;
  profiles.push_back({"rational B-spline circle", std::make_unique<intcurve>(bs3_curve_make_ell(circle, 0, 2 * pi, 0)),
                      QELinterval(0, 2 * pi), 1e-9});
  profiles.push_back({"cubic B-spline", std::make_unique<intcurve>(bs3_curve_from_ctrlpts(
                                            3, 0, 0, 0, 6, wave.data(), nullptr, QELresabs, 10, wave_knots, 1e-10)),
                      QELinterval(0, 3), 1e-9});
  profiles.push_back({"circle", std::make_unique<ellipse>(circle), QELinterval(-pi, pi), 1e-7});
  profiles.push_back({"ellipse", std::make_unique<ellipse>(oval), QELinterval(0.3, 0.3 + 2 * pi), 1e-7});
  profiles.push_back({"line", std::make_unique<straight>(QELposition(1, 1, 0), QELunit_vector(1, -1, 0), 3.0),
                      QELinterval(-1, 2), 1e-9});
  const QELtransf turned = rotate_transf(0.7, QELvector(1, 2, 3)) * translate_transf(QELvector(3, -2, 1));
  const std::pair<const char*, QELtransf> frames[] = {{"identity", QELtransf()}, {"rotated", turned}, {"mirrored", mirror()}};
  std::mt19937 random(4747);
  std::uniform_real_distribution<double> spread(-1.0, 1.0);
  for (const Profile& p : profiles)
    for (const auto& [frame, t] : frames) {
      // An oblique rail, its speed and its stretch seeded.
      const QELvector d(spread(random), spread(random), 1.5 + spread(random));
      const straight rail(QELposition(spread(random), spread(random), 0), normalise(d), 1.0 + std::fabs(spread(random)));
      const double v0 = spread(random);
      spline s(VELM_MAKE(sweep_spl_sur, *p.c, rail, nullptr, nullptr, nullptr, p.u, QELinterval(v0, v0 + 4.0)));
      s *= t;
      SCOPED_TRACE(std::string(p.what) + ", " + frame);
      const bs3_surface b = s.sur();
      ASSERT_NE(b, nullptr);
      const QELpar_box r = s.param_range();
      double worst = 0.0;
      for (int i = 0; i <= 120; ++i)
        for (int j = 0; j <= 4; ++j) {
          const QELpar_pos uv(r.u_range().interpolate(i / 120.0), r.v_range().interpolate(j / 4.0));
          QELposition on_bs;
          bs3_surface_eval(uv, b, on_bs);
          worst = std::max(worst, distance(on_bs, s.eval_position(uv)));
        }
      EXPECT_LE(worst, p.within);
      // Straight along the rail: two rows of control points.
      EXPECT_EQ(bs3_surface_num_ctrlpts_v(b), 2);
    }
}

// A sweep along a bent rail is as much a tensor product as one along a
// line: its B-spline is the profile's times the rail's, each at its own
// parameters, exact for B-splines and within a hundredth of resabs for arcs
// of circles and ellipses. The Hermite patches it had strayed up to 1e-5
// from the sweep. Seeded arcs and B-spline rails, in every frame.
TEST_F(ProceduralSurfaces, ASweepAlongABentRailKeepsProfileAndRailInItsBSpline) {
  const ellipse circle(QELposition(0.5, -0.2, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  const std::vector<QELposition> wave = {{2, 0, 0}, {3, 2, 0.5}, {0, 3, 0}, {-3, 1, -0.5}, {-2, -2, 0}, {2.5, -3, 0}};
  const double wave_knots[] = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  const std::unique_ptr<curve> profiles[] = {
      std::make_unique<ellipse>(circle),
      std::make_unique<intcurve>(
          bs3_curve_from_ctrlpts(3, 0, 0, 0, 6, wave.data(), nullptr, QELresabs, 10, wave_knots, 1e-10))};
  const QELinterval profile_ranges[] = {QELinterval(-pi, pi), QELinterval(0, 3)};
  const QELtransf turned = rotate_transf(0.7, QELvector(1, 2, 3)) * translate_transf(QELvector(3, -2, 1));
  const std::pair<const char*, QELtransf> frames[] = {{"identity", QELtransf()}, {"rotated", turned}, {"mirrored", mirror()}};
  std::mt19937 random(4848);
  std::uniform_real_distribution<double> spread(-1.0, 1.0);
  for (int k = 0; k < 3; ++k)
    for (std::size_t pi_ = 0; pi_ < std::size(profiles); ++pi_)
      for (const auto& [frame, t] : frames) {
        // A rail bending out of the profile's plane: an arc of a circle, of
        // an ellipse, or a cubic B-spline, its size and reach seeded.
        const QELunit_vector normal = normalise(QELvector(1.0, spread(random), spread(random)));
        const QELvector major = 3.0 * normalise(QELvector(spread(random), 1.0, spread(random)) * normal);
        std::unique_ptr<curve> rail;
        const char* what = "";
        QELinterval v;
        if (k < 2) {
          what = k == 0 ? "arc of a circle" : "arc of an ellipse";
          rail = std::make_unique<ellipse>(QELposition(0, 0, 0), normal, major, k == 0 ? 1.0 : 0.4 + 0.2 * spread(random));
          const double v0 = spread(random);
          v = QELinterval(v0, v0 + 2.0 + spread(random));
        } else {
          what = "B-spline";
          std::vector<QELposition> bend;
          for (int i = 0; i < 5; ++i)
            bend.push_back(QELposition(0.5 * spread(random), 0.5 * spread(random), 1.5 * i));
          const double bend_knots[] = {0, 0, 0, 0, 1, 2, 2, 2, 2};
          rail = std::make_unique<intcurve>(
              bs3_curve_from_ctrlpts(3, 0, 0, 0, 5, bend.data(), nullptr, QELresabs, 9, bend_knots, 1e-10));
          v = QELinterval(0.2, 1.9);
        }
        spline s(VELM_MAKE(sweep_spl_sur, *profiles[pi_], *rail, nullptr, nullptr, nullptr, profile_ranges[pi_], v));
        s *= t;
        SCOPED_TRACE(std::string(what) + " rail, profile " + std::to_string(pi_) + ", " + frame);
        const bs3_surface b = s.sur();
        ASSERT_NE(b, nullptr);
        const QELpar_box r = s.param_range();
        double worst = 0.0;
        for (int i = 0; i <= 60; ++i)
          for (int j = 0; j <= 37; ++j) {
            const QELpar_pos uv(r.u_range().interpolate(i / 60.0), r.v_range().interpolate(j / 37.0));
            QELposition on_bs;
            bs3_surface_eval(uv, b, on_bs);
            worst = std::max(worst, distance(on_bs, s.eval_position(uv)));
          }
        EXPECT_LE(worst, 1e-7);
      }
}

TEST_F(ProceduralSurfaces, SweepHoldsItsLaws) {
  auto* rail_law = new vector_law(QELvector(0, 0, 1));
  auto* taper = new constant_law(0.0);
  const straight rail(QELposition(), QELunit_vector(0, 0, 1));
  {
    const spline s(VELM_MAKE(sweep_spl_sur, straight(QELposition(), QELunit_vector(1, 0, 0)), rail, rail_law, taper,
                             nullptr, QELinterval(0, 1), QELinterval(0, 1)));
    const spline copy(s);
    EXPECT_EQ(rail_law->use_count(), 2);
  }
  EXPECT_EQ(rail_law->use_count(), 1);
  rail_law->remove();
  taper->remove();
}

TEST_F(ProceduralSurfaces, OffsetMovesAlongTheOutwardNormal) {
  const sphere ball(QELposition(1, 2, 3), 3.0);
  const spline out(VELM_MAKE(off_spl_sur, ball, 1.0));
  const QELpar_pos uv(0.4, 1.0);
  EXPECT_NEAR(distance(out.eval_position(uv), ball.centre), 4.0, 1e-12);
  expect_consistent_derivatives(out, uv);
  // The normal of an inside-out sphere points in: the offset shrinks it.
  sphere inward = ball;
  inward.negate();
  const spline in(VELM_MAKE(off_spl_sur, inward, 1.0));
  EXPECT_NEAR(distance(in.eval_position(uv), ball.centre), 2.0, 1e-12);
  const auto& def = static_cast<const off_spl_sur&>(out.get_spl_sur());
  EXPECT_EQ(def.offset_distance(), 1.0);
  EXPECT_EQ(def.base().type(), 3);

  const plane ground(QELposition(), QELunit_vector(0, 0, 1));
  const QELpar_box box(QELinterval(0, 2), QELinterval(0, 1));
  const spline lifted(VELM_MAKE(off_spl_sur, ground, -0.5, &box));
  EXPECT_LT(distance(lifted.eval_position({1, 1}), ground.eval_position({1, 1}) + QELvector(0, 0, -0.5)), 1e-12);
  expect_approximation_holds(lifted);
}

// Over a base turned inside out the offset's outward side stays the base's
// when the offset becomes a B-spline of its own (a subset, a
// reparametrisation), and a mirror keeps its approximation on it.
TEST_F(ProceduralSurfaces, OffsetKeepsTheBasesSenseWhenItBecomesExact) {
  const sphere inward(QELposition(1, 2, 3), -3.0);
  const QELpar_box box(QELinterval(-1, 1), QELinterval(0.5, 2.5));
  const spline off(VELM_MAKE(off_spl_sur, inward, 0.5, &box));
  const QELpar_pos uv(0.3, 1.2);
  const QELunit_vector n = inward.eval_normal(uv);
  EXPECT_GT(off.eval_normal(uv) % n, 0.999);
  std::unique_ptr<spline> part(off.subset(QELpar_box(QELinterval(0, 0.5), QELinterval(1, 1.5))));
  ASSERT_TRUE(part);
  EXPECT_GT(part->eval_normal(uv) % n, 0.999);
  spline moved = off;
  moved.reparam_u(-1, 1);
  ASSERT_EQ(moved.get_spl_sur().id(), exact_spl_sur::id);
  EXPECT_GT(moved.eval_normal(uv) % n, 0.999);
  spline image = off;
  image *= mirror();
  // The base's v turns round under the mirror, and so do the offset's.
  EXPECT_LT(distance(image.eval_position({uv.u, -uv.v}), off.eval_position(uv) * mirror()), 1e-9);
  EXPECT_NEAR(image.param_range_v().start_pt(), -2.5, 1e-12);
  expect_approximation_holds(image);
}

TEST_F(ProceduralSurfaces, LawSurfaceFollowsItsSurfaceLaw) {
  const torus ring(QELposition(), QELunit_vector(0, 0, 1), 3.0, 1.0);
  const QELpar_box box(QELinterval(-1, 1), QELinterval(0, 2));
  auto* l = new surface_law(new surface_law_data(ring, box));
  EXPECT_TRUE(l->isa(surface_law::id()));
  EXPECT_TRUE(l->isa(unary_data_law::id()));
  EXPECT_FALSE(l->isa(constant_law::id()));
  EXPECT_EQ(l->take_size(), 2);
  const spline s(VELM_MAKE(law_spl_sur, l, box, 1e-5));
  law_add(l);
  EXPECT_EQ(law_find(surface_law::id()), l);
  l->remove();
  for (const QELpar_pos uv : {QELpar_pos(0.2, 0.5), QELpar_pos(-0.7, 1.9)}) {
    EXPECT_LT(distance(s.eval_position(uv), ring.eval_position(uv)), 1e-12);
    expect_consistent_derivatives(s, uv, 1e-4);
  }
  // The numerical derivative law of the law.
  law* du = l->derivative(0);
  const double x[2] = {0.2, 0.5};
  double a[3];
  du->evaluate(x, a);
  QELposition p;
  QELvector d[2];
  ring.eval({0.2, 0.5}, p, d);
  EXPECT_LT((QELvector(a[0], a[1], a[2]) - d[0]).len(), 1e-6);
  du->remove();
  expect_approximation_holds(s);
  expect_mirror_keeps_parameters(s);
}

TEST_F(ProceduralSurfaces, SplineEntitiesOfEveryKindRoundTrip) {
  straight profile(QELposition(2, 0, 0), QELunit_vector(0, 0.3, 1));
  profile.limit(QELinterval(0.0, 3.0));
  const QELinterval quarter(0.0, pi / 2);
  const torus ring(QELposition(), QELunit_vector(0, 0, 1), 3.0, 1.0);
  const QELpar_box box(QELinterval(-1, 1), QELinterval(0, 2));
  auto* l = new surface_law(new surface_law_data(ring, box));
  const spline kinds[] = {
      spline(VELM_MAKE(rot_spl_sur, profile, QELposition(0, 0, 1.0 / 3), QELvector(0, 1, 3), nullptr, &quarter)),
      spline(VELM_MAKE(sweep_spl_sur, ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 1, 0), 0.3), profile,
                       nullptr, nullptr, nullptr, QELinterval(-1, 1), QELinterval(0.5, 2.5))),
      spline(VELM_MAKE(off_spl_sur, ring, 0.25)),
      spline(VELM_MAKE(law_spl_sur, l, box, 1e-4))};
  l->remove();
  ENTITY_LIST list;
  for (const spline& s : kinds) list.add(make_surface(s));
  ENTITY_LIST restored;
  ASSERT_TRUE(velm_test::round_trip(list, restored).ok());
  ASSERT_EQ(restored.count(), 4);
  for (int i = 0; i < 4; ++i) {
    const spline& a = kinds[i];
    const auto& b = static_cast<const spline&>(static_cast<SURFACE*>(restored[i])->equation());
    EXPECT_EQ(b.get_spl_sur().id(), a.get_spl_sur().id());
    EXPECT_EQ(b.param_range_u(), a.param_range_u());
    EXPECT_EQ(b.param_range_v(), a.param_range_v());
    const QELpar_pos uv(a.param_range_u().interpolate(0.3), a.param_range_v().interpolate(0.6));
    // A law surface comes back as its approximation; the others exactly.
    const double tol = a.get_spl_sur().id() == law_spl_sur::id ? a.fitol() : 0.0;
    EXPECT_LE(distance(a.eval_position(uv), b.eval_position(uv)), tol) << i;
  }
  for (ENTITY_LIST* all : {&list, &restored})
    for (int i = 0; i < all->count(); ++i) (*all)[i]->lose();
}

TEST(GeometryErrors, FailedAllocationOfAnEquationIsOutOfMemory) {
  velm_test_reset();
  const long before = velm_live_object_count();
  const sphere ball(QELposition(), 2.0);
  curve* line = ball.u_param_line(0.3);
  EXPECT_EQ(velm_live_object_count(), before + 1);  // equations are tracked kernel objects
  delete line;
  velm_test_fail_alloc("geom_surfaces", 1);
  try {
    delete ball.u_param_line(0.3);
    FAIL() << "no error";
  } catch (const velm_exception& e) {
    EXPECT_EQ(e.error_number(), qelbase_mmgr_errmod.message_code(8));
  }
  velm_test_fail_alloc("bspline_core", 1);
  EXPECT_THROW(bs3_curve_make_str(straight(QELposition(), QELunit_vector(1, 0, 0)), 0.0, 1.0), velm_exception);
  velm_test_reset();
  EXPECT_EQ(velm_live_object_count(), before);
}
