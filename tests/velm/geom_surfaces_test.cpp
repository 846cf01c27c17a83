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

struct named_surface {
  std::string name;
  std::shared_ptr<surface> s;
  QELpar_pos samples[3];
};

bs3_surface bump_net() {
  QELposition pts[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) pts[i * 4 + j] = QELposition(i, j, (i == 1 || i == 2) && (j == 1 || j == 2) ? 1.0 : 0.0);
  const double k[8] = {0, 0, 0, 0, 1, 1, 1, 1};
  return bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, k, 8, k,
                                  bs3_curve_knottol());
}

// Every kind with both signs of its radii, sines, cosines and reverse flags.
std::vector<named_surface> all_surfaces() {
  std::vector<named_surface> r;
  const QELpar_pos mid[3] = {{0.3, 0.4}, {-0.7, 1.2}, {1.1, -2.5}};
  for (int rev = 0; rev < 2; ++rev) {
    auto p = std::make_shared<plane>(QELposition(1, 2, 3), QELunit_vector(1, 1, 1));
    p->u_deriv = QELvector(2, 0, 1);  // leaves the plane: only its in-plane part counts
    p->reverse_v = rev;
    r.push_back({"plane" + std::to_string(rev), p, {mid[0], mid[1], mid[2]}});
  }
  for (double s : {0.0, 0.6, -0.6})
    for (double csign : {1.0, -1.0})
      for (int rev = 0; rev < 2; ++rev) {
        const double c = csign * std::sqrt(1 - s * s);
        auto k = std::make_shared<cone>(QELposition(0, 0, 1), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, s, c,
                                        s == 0.0 ? 1.0 : 0.0);
        k->reverse_u = rev;
        r.push_back({"cone s" + std::to_string(s) + " c" + std::to_string(c) + " r" + std::to_string(rev), k,
                     {{0.3, 0.4}, {-0.4, 2.0}, {0.5, -2.5}}});
      }
  auto ell = std::make_shared<cone>(QELposition(), QELunit_vector(0, 1, 0), QELvector(0, 0, 3), 0.5, 0.3,
                                    std::sqrt(1 - 0.09), 0.0);
  r.push_back({"elliptic cone", ell, {{0.2, 0.4}, {-0.4, 2.0}, {0.5, -2.5}}});
  for (double rad : {2.0, -2.0}) {
    auto sp = std::make_shared<sphere>(QELposition(1, 1, 1), rad);
    r.push_back({"sphere" + std::to_string(rad), sp, {{0.3, 0.4}, {-1.2, 2.0}, {1.0, -2.5}}});
  }
  for (double big : {3.0, -0.5, 0.5})
    for (double small : {1.0, -1.0}) {
      auto t = std::make_shared<torus>(QELposition(0, 1, 0), QELunit_vector(0, 1, 1), big, small);
      r.push_back({"torus R" + std::to_string(big) + " r" + std::to_string(small), t, {{0.3, 0.4}, {-0.9, 2.0}, {1.0, -2.5}}});
    }
  for (int rev = 0; rev < 2; ++rev) {
    auto sp = std::make_shared<spline>(velm_test::spline_from(bump_net()));
    sp->reverse_v = rev;
    r.push_back({"spline" + std::to_string(rev), sp, {{0.3, 0.4}, {0.7, 0.2}, {0.55, 0.9}}});
  }
  return r;
}

// Offsets over bases of both senses (a plane, a sphere, a torus and a spline
// turned inside out among them).
std::vector<named_surface> offsets_over_both_senses() {
  std::vector<named_surface> r;
  for (const auto& ns : all_surfaces()) {
    const int t = ns.s->type();
    const bool ring = t == 4 && static_cast<const torus&>(*ns.s).major_radius == 3.0;
    if (t != 1 && t != 3 && t != 10 && !ring) continue;
    const double d = t == 10 ? 0.1 : 0.3;
    auto off = std::make_shared<spline>(VELM_MAKE(off_spl_sur, *ns.s, d));
    r.push_back({"offset over " + ns.name, off, {ns.samples[0], ns.samples[1], ns.samples[2]}});
  }
  return r;
}

std::vector<named_surface> with_offsets() {
  std::vector<named_surface> r = all_surfaces();
  for (auto& o : offsets_over_both_senses()) r.push_back(std::move(o));
  return r;
}

// The surface whose parameters carry over: an offset's base.
const surface& parameter_source(const surface& s) {
  if (s.type() != 10) return s;
  const spl_sur& d = static_cast<const spline&>(s).get_spl_sur();
  return d.id() == off_spl_sur::id ? static_cast<const off_spl_sur&>(d).base() : s;
}

using velm_test::expect_close;

}  // namespace

TEST(GeomSurface, DerivativesMatchFiniteDifferences) {
  const double h = 1e-5;
  for (const auto& ns : all_surfaces()) {
    SCOPED_TRACE(ns.name);
    for (const QELpar_pos& uv : ns.samples) {
      QELposition p;
      QELvector d1[2], d2[3];
      ns.s->eval(uv, p, d1, d2);
      const QELvector su = (ns.s->eval_position({uv.u + h, uv.v}) - ns.s->eval_position({uv.u - h, uv.v})) / (2 * h);
      const QELvector sv = (ns.s->eval_position({uv.u, uv.v + h}) - ns.s->eval_position({uv.u, uv.v - h})) / (2 * h);
      expect_close(d1[0], su, 1e-6 * (1 + su.len()));
      expect_close(d1[1], sv, 1e-6 * (1 + sv.len()));
      QELposition q;
      QELvector e1[2];
      ns.s->eval({uv.u + h, uv.v}, q, e1);
      QELvector f1[2];
      ns.s->eval({uv.u - h, uv.v}, q, f1);
      expect_close(d2[0], (e1[0] - f1[0]) / (2 * h), 1e-5 * (1 + d2[0].len()));
      expect_close(d2[1], (e1[1] - f1[1]) / (2 * h), 1e-5 * (1 + d2[1].len()));
      ns.s->eval({uv.u, uv.v + h}, q, e1);
      ns.s->eval({uv.u, uv.v - h}, q, f1);
      expect_close(d2[2], (e1[1] - f1[1]) / (2 * h), 1e-5 * (1 + d2[2].len()));
    }
  }
}

TEST(GeomSurface, HandednessAgreesWithTheOutwardNormal) {
  for (const auto& ns : with_offsets()) {
    SCOPED_TRACE(ns.name);
    for (const QELpar_pos& uv : ns.samples) {
      QELposition p;
      QELvector d[2];
      ns.s->eval(uv, p, d);
      const double side = (d[0] * d[1]) % ns.s->eval_normal(uv);
      EXPECT_EQ(side < 0.0, ns.s->left_handed_uv());
      EXPECT_NEAR(std::fabs(side), (d[0] * d[1]).len(), 1e-9 * (1 + (d[0] * d[1]).len()));
    }
  }
}

TEST(GeomSurface, NegateKeepsEveryPointAndFlipsTheNormal) {
  for (const auto& ns : with_offsets()) {
    SCOPED_TRACE(ns.name);
    std::unique_ptr<surface> n(ns.s->make_copy());
    n->negate();
    for (const QELpar_pos& uv : ns.samples) {
      expect_close(n->eval_position(uv), ns.s->eval_position(uv), 1e-12);
      expect_close(n->eval_normal(uv), -ns.s->eval_normal(uv), 1e-12);
    }
    EXPECT_NE(n->left_handed_uv(), ns.s->left_handed_uv());
  }
}

TEST(GeomSurface, InversionRoundTripsInThePrincipalRange) {
  for (const auto& ns : all_surfaces()) {
    SCOPED_TRACE(ns.name);
    for (const QELpar_pos& uv : ns.samples) {
      const QELposition p = ns.s->eval_position(uv);
      const QELpar_pos back = ns.s->param(p);
      expect_close(ns.s->eval_position(back), p, 1e-8);
      EXPECT_TRUE(ns.s->param_range() >> back);
      // A point lifted along the normal projects back onto the same foot.
      const QELposition off = p + 0.05 * ns.s->eval_normal(uv);
      QELposition foot;
      ns.s->point_perp(off, foot);
      expect_close(foot, p, 1e-7);
    }
  }
}

TEST(GeomCone, CosineSignChoosesTheNormalNotThePoints) {
  for (double s : {0.5, -0.5})
    for (int rev = 0; rev < 2; ++rev) {
      cone a(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0, s, std::sqrt(0.75), 0.0);
      cone b = a;
      b.sine = -s;
      b.cosine = -a.cosine;
      a.reverse_u = b.reverse_u = rev;
      for (QELpar_pos uv : {QELpar_pos(0.3, 0.2), QELpar_pos(-0.4, 2.0)}) {
        expect_close(a.eval_position(uv), b.eval_position(uv), 1e-14);
        expect_close(a.eval_normal(uv), -b.eval_normal(uv), 1e-14);
        // n = normalise(c R^ - s Z): away from the axis when c > 0.
        const QELunit_vector radial(std::cos(uv.v), std::sin(uv.v), 0.0);
        expect_close(a.eval_normal(uv), normalise(a.cosine * radial - a.sine * QELvector(0, 0, 1)), 1e-12);
      }
      // The radius grows along +Z exactly when s c > 0.
      QELposition p;
      QELvector d[2];
      a.eval(QELpar_pos(0.0, 0.0), p, d);
      EXPECT_EQ(d[0].x() * d[0].z() > 0.0, a.sine * a.cosine > 0.0);
    }
}

TEST(GeomCone, ApexAndSingularity) {
  cone k(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.6, 0.8, 0.0);
  k.reverse_u = 1;
  const QELposition apex = k.get_apex();
  expect_close(apex, QELposition(0, 0, -0.8 * 2 / 0.6), 1e-12);
  expect_close(k.eval_position(QELpar_pos(k.apex_u(), 1.0)), apex, 1e-12);
  EXPECT_TRUE(k.singular_u(k.apex_u()));
  EXPECT_FALSE(k.singular_u(0.0));
  EXPECT_EQ(k.v_param_line(k.apex_u()), nullptr);
  cone cyl(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0, 0.0, 1.0, 0.0);
  EXPECT_TRUE(cyl.is_cylinder());
  EXPECT_THROW(cyl.get_apex(), velm_exception);  // a kernel error, not a crash
  EXPECT_DOUBLE_EQ(cyl.param_period_u(), 0.0);
  EXPECT_DOUBLE_EQ(cyl.param_period_v(), 2 * pi);
}

// An offset's outward normal is its base's, with the base's sense, whichever
// way the base's parameters turn.
TEST(GeomSurface, OffsetNormalIsTheBaseNormalWithItsSense) {
  for (const auto& ns : offsets_over_both_senses()) {
    SCOPED_TRACE(ns.name);
    const surface& base = parameter_source(*ns.s);
    EXPECT_EQ(ns.s->left_handed_uv(), base.left_handed_uv());
    for (const QELpar_pos& uv : ns.samples) {
      expect_close(ns.s->eval_normal(uv), base.eval_normal(uv), 1e-9);
      const double d = static_cast<const off_spl_sur&>(static_cast<const spline&>(*ns.s).get_spl_sur()).offset_distance();
      expect_close(ns.s->eval_position(uv), base.eval_position(uv) + d * base.eval_normal(uv), 1e-12);
    }
  }
}

// The parameter box of the part of a surface inside a region: tight in bounded
// directions, one period at most (and possibly across the seam) in periodic ones.
// The patches are chosen so that no other part of their surface enters their box.
TEST(GeomSurface, ParamRangeOfARegionIsThePartInsideIt) {
  struct patch_case {
    std::string name;
    std::shared_ptr<surface> s;
    QELpar_box patch;
  };
  auto bump = std::make_shared<spline>(velm_test::spline_from(bump_net()));
  auto limited = std::make_shared<plane>(QELposition(), QELunit_vector(0, 0, 1));
  limited->limit_u(QELinterval(-5, 5));
  limited->limit_v(QELinterval(-5, 5));
  auto box = [](double u0, double u1, double v0, double v1) { return QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1)); };
  const std::vector<patch_case> cases = {
      {"sphere", std::make_shared<sphere>(QELposition(1, 1, 1), 2.0), box(-0.3, 0.3, 0.5, 1.2)},
      {"sphere across the seam", std::make_shared<sphere>(QELposition(), -3.0), box(-0.3, 0.3, 2.8, 3.6)},
      {"torus", std::make_shared<torus>(QELposition(), QELunit_vector(0, 0, 1), 3.0, 1.0), box(-0.5, 0.5, 0.2, 0.8)},
      {"spline", bump, box(0.2, 0.5, 0.3, 0.7)},
      {"limited plane", limited, box(-1, 2, 0.5, 1)},
  };
  for (const patch_case& c : cases) {
    SCOPED_TRACE(c.name);
    const QELbox region = c.s->bound(c.patch);
    const QELpar_box got = c.s->param_range(&region);
    ASSERT_FALSE(got.empty());
    const double pv = c.s->param_period_v();
    for (int dir = 0; dir < 2; ++dir) {
      const QELinterval& want = dir == 0 ? c.patch.u_range() : c.patch.v_range();
      QELinterval have = dir == 0 ? got.u_range() : got.v_range();
      // A periodic direction may come back a period away.
      if (dir == 1 && pv > 0.0) have += pv * std::round((want.mid_pt() - have.mid_pt()) / pv);
      EXPECT_LE(have.start_pt(), want.start_pt() + 1e-9) << dir;
      EXPECT_GE(have.end_pt(), want.end_pt() - 1e-9) << dir;
      EXPECT_GT(have.start_pt(), want.start_pt() - 0.05 * want.length()) << dir;
      EXPECT_LT(have.end_pt(), want.end_pt() + 0.05 * want.length()) << dir;
    }
  }
  // Around the whole of a sphere: its whole range; away from it: nothing.
  const sphere ball(QELposition(), 2.0);
  const QELbox around(QELposition(-3, -3, -3), QELposition(3, 3, 3));
  const QELpar_box all = ball.param_range(&around);
  EXPECT_NEAR(all.u_range().length(), pi, 1e-12);
  EXPECT_NEAR(all.v_range().length(), 2 * pi, 1e-12);
  const QELbox away(QELposition(5, 5, 5), QELposition(6, 6, 6));
  EXPECT_TRUE(ball.param_range(&away).empty());
  // A polar cap: every longitude.
  const QELbox cap(QELposition(-1, -1, 1.8), QELposition(1, 1, 2.1));
  const QELpar_box top = ball.param_range(&cap);
  EXPECT_NEAR(top.v_range().length(), 2 * pi, 1e-12);
  EXPECT_NEAR(top.u_range().end_pt(), pi / 2, 1e-12);
  EXPECT_GT(top.u_range().start_pt(), 1.0);
  // Unbounded directions keep the hull of the region's corners.
  const plane ground(QELposition(), QELunit_vector(0, 0, 1));
  const QELbox flat(QELposition(0.2, 0.5, 0), QELposition(0.4, 0.7, 0));
  const QELpar_box under = ground.param_range(&flat);
  EXPECT_NEAR(under.u_range().start_pt(), 0.2, 1e-12);
  EXPECT_NEAR(under.v_range().end_pt(), 0.7, 1e-12);
}

TEST(GeomSphere, LatitudeLongitudeConventions) {
  sphere s(QELposition(), 2.0);
  expect_close(s.eval_position({0, 0}), QELposition(2, 0, 0), 1e-15);
  expect_close(s.eval_position({pi / 2, 1.0}), QELposition(0, 0, 2), 1e-15);
  // v turns from O towards O x Pd: clockwise seen from the pole.
  expect_close(s.eval_position({0, pi / 2}), QELposition(0, -2, 0), 1e-15);
  EXPECT_TRUE(s.singular_u(pi / 2));
  EXPECT_FALSE(s.singular_u(0.0));
  EXPECT_FALSE(s.left_handed_uv());
  // A full longitude range is not split: its ends are not inside.
  EXPECT_FALSE(s.param_range_v() >> pi);
}

TEST(GeomTorus, SpindleRangesAndApexes) {
  torus lemon(QELposition(), QELunit_vector(0, 0, 1), -0.6, 1.0);
  EXPECT_TRUE(lemon.spindle());
  EXPECT_NEAR(lemon.apex_dist(), 0.8, 1e-12);
  const QELinterval u = lemon.param_range_u();
  EXPECT_NEAR(u.end_pt(), std::acos(0.6), 1e-12);
  EXPECT_DOUBLE_EQ(lemon.param_period_u(), 0.0);
  expect_close(lemon.eval_position({u.end_pt(), 0.7}), QELposition(0, 0, 0.8), 1e-12);
  EXPECT_TRUE(lemon.singular_u(u.start_pt()));
  torus ring(QELposition(), QELunit_vector(0, 0, 1), 3.0, 1.0);
  EXPECT_EQ(ring.apex_dist(), 0.0);
  EXPECT_DOUBLE_EQ(ring.param_period_u(), 2 * pi);
  expect_close(ring.eval_position({0, 0}), QELposition(4, 0, 0), 1e-15);
  expect_close(ring.eval_position({pi / 2, 0}), QELposition(3, 0, 1), 1e-15);
}

TEST(GeomSurface, IsoLinesRunOnTheSurface) {
  for (const auto& ns : all_surfaces()) {
    SCOPED_TRACE(ns.name);
    const QELpar_pos uv = ns.samples[0];
    std::unique_ptr<curve> ul(ns.s->u_param_line(uv.v)), vl(ns.s->v_param_line(uv.u));
    ASSERT_TRUE(ul && vl);
    for (double d : {0.0, 0.1}) {
      expect_close(ul->eval_position(uv.u + d), ns.s->eval_position({uv.u + d, uv.v}), 1e-9);
      expect_close(vl->eval_position(uv.v + d), ns.s->eval_position({uv.u, uv.v + d}), 1e-9);
    }
  }
}

TEST(GeomSurface, TransformsMapPointsAndKeepTheOutwardSide) {
  const double mirror[9] = {1, 0, 0, 0, 1, 0, 0, 0, -1};
  const QELtransf moves[] = {rotate_transf(0.9, QELvector(1, -1, 2)) * translate_transf(QELvector(3, 0, 1)),
                             scale_transf(1.5), restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0)};
  for (const QELtransf& t : moves)
    for (const auto& ns : with_offsets()) {
      SCOPED_TRACE(ns.name);
      std::unique_ptr<surface> m(ns.s->make_copy());
      *m *= t;
      // Mirrors move (u, v) to (u, -v) on spheres and tori (and offsets over
      // them); every other kind keeps them.
      const int kind = parameter_source(*ns.s).type();
      const bool flips_v = t.reflect() && (kind == 3 || kind == 4);
      for (const QELpar_pos& uv : ns.samples) {
        const QELpar_pos at = flips_v ? QELpar_pos(uv.u, -uv.v) : uv;
        expect_close(m->eval_position(at), ns.s->eval_position(uv) * t, 1e-9);
        const QELunit_vector image_normal(static_cast<const QELvector&>(ns.s->eval_normal(uv)) * t);
        expect_close(m->eval_normal(at), image_normal, 1e-9);
      }
    }
}

TEST(GeomSpline, CopiesShareTheDefinitionUntilTheyMove) {
  spline a = velm_test::spline_from(bump_net());
  spline b = a;
  EXPECT_EQ(a.sur(), b.sur());
  EXPECT_TRUE(a == b);
  b *= translate_transf(QELvector(0, 0, 1));
  EXPECT_NE(a.sur(), b.sur());
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.get_spl_sur().id(), exact_spl_sur::id);
  std::unique_ptr<spline> part(a.subset(QELpar_box(QELinterval(0.2, 0.6), QELinterval(0.1, 0.5))));
  ASSERT_TRUE(part);
  expect_close(part->eval_position({0.3, 0.3}), a.eval_position({0.3, 0.3}), 1e-12);
  EXPECT_EQ(part->param_range().u_range(), QELinterval(0.2, 0.6));
}

// An unbounded parameter box is bounded by the surface's own range where it has one.
TEST(GeomSurface, BoundOfAnUnboundedBoxUsesTheSurfaceRange) {
  const sphere ball(QELposition(1, 2, 3), 2.0);
  const QELbox all = ball.bound(QELpar_box(QELinterval(interval_unbounded, 0, 0), QELinterval(interval_unbounded, 0, 0)));
  ASSERT_FALSE(all.empty());
  EXPECT_NEAR(all.low().x(), -1.0, 0.05);
  EXPECT_NEAR(all.high().z(), 5.0, 0.05);
  const plane flat(QELposition(), QELunit_vector(0, 0, 1));
  EXPECT_TRUE(flat.bound(QELpar_box(QELinterval(interval_unbounded, 0, 0), QELinterval(0, 1))).empty());
}

// Closed-form parameters (what face boxes use instead of projecting) agree
// with the surface in every frame: the point they give back is the point, and
// a periodic parameter comes back next to the guess.
TEST(GeomSurface, ExactParametersGiveThePointBackInEveryFrame) {
  const double mirror[9] = {1, 0, 0, 0, 1, 0, 0, 0, -1};
  const QELtransf frames[] = {QELtransf(), rotate_transf(0.9, QELvector(1, -1, 2)) * translate_transf(QELvector(3, 0, 1)),
                              restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0)};
  int exact = 0;
  for (const QELtransf& t : frames)
    for (const auto& ns : all_surfaces()) {
      SCOPED_TRACE(ns.name);
      std::unique_ptr<surface> m(ns.s->make_copy());
      *m *= t;
      for (const QELpar_pos& uv : ns.samples) {
        const QELposition p = m->eval_position(uv);
        QELpar_pos back;
        if (!m->exact_param(p, back, &uv)) continue;
        ++exact;
        expect_close(m->eval_position(back), p, 1e-9);
        if (m->param_period_u() > 0.0) {
          EXPECT_NEAR(back.u, uv.u, pi);
        }
        if (m->param_period_v() > 0.0) {
          EXPECT_NEAR(back.v, uv.v, pi);
        }
      }
    }
  // Planes, cones, spheres and ring tori (not splines or spindle tori), three
  // samples each, in three frames.
  EXPECT_EQ(exact, 3 * 3 * (2 + 13 + 2 + 2));
}

// The nearest point of a bumpy spline, tilted and mirrored, is no farther than
// the nearest of a dense grid of its points: the search from its samples may
// not settle in a wrong basin (the points sit over the bump, beside it and
// past its edges, where the foot lies on the boundary).
TEST(GeomSurface, ProjectionFindsTheNearestPointOfABumpInEveryFrame) {
  const double mirror[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
  const QELtransf frames[] = {QELtransf(), rotate_transf(0.7, QELvector(1, 2, -1)) * translate_transf(QELvector(-2, 1, 4)),
                              restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0) *
                                  rotate_transf(-1.1, QELvector(0, 1, 1))};
  const QELposition points[] = {{1.5, 1.5, 2.0}, {1.5, 1.5, -0.7}, {0.4, 2.6, 0.9}, {-1.0, 1.2, 0.5}, {4.0, 4.5, -1.0}};
  const int n = 150;
  for (const QELtransf& t : frames) {
    spline s = velm_test::spline_from(bump_net());
    s *= t;
    const QELpar_box r = s.param_range();
    std::vector<QELposition> grid;
    for (int i = 0; i <= n; ++i)
      for (int j = 0; j <= n; ++j)
        grid.push_back(s.eval_position(QELpar_pos(r.u_range().interpolate(double(i) / n), r.v_range().interpolate(double(j) / n))));
    for (QELposition p : points) {
      p *= t;
      double brute = HUGE_VAL;
      for (const QELposition& q : grid) brute = std::min(brute, distance(p, q));
      QELposition foot;
      QELpar_pos uv;
      s.point_perp(p, foot, nullptr, &uv);
      const double found = distance(p, foot);
      EXPECT_LE(found, brute + 1e-12);
      EXPECT_GE(found, brute - 1e-3);
      expect_close(s.eval_position(uv), foot, 1e-12);
    }
  }
}

// A point beyond a spline's edge whose foot lies along that edge, on a patch
// whose parameters couple (skewed: u runs along x, v along x and y): the
// search from a guess on the edge holds u there and goes along v to the foot
// (the projection of the edge), in every frame. The step in both, cut short
// at the edge, stopped where it was and left the search a crawl of 1e-7 an
// iteration along the edge.
TEST(GeomSurface, ProjectionFromAGuessOnAnEdgeGoesAlongItToTheFoot) {
  const double mirror[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
  const QELtransf frames[] = {QELtransf(), rotate_transf(0.7, QELvector(1, 2, -1)) * translate_transf(QELvector(-2, 1, 4)),
                              restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0) *
                                  rotate_transf(-1.1, QELvector(0, 1, 1))};
  const QELposition net[4] = {{0, 0, 0}, {0.8, 1, 0}, {1, 0, 0}, {1.8, 1, 0}};
  const double knots[4] = {0, 0, 1, 1};
  struct Case {
    QELposition p;
    QELpar_pos guess;
    bool u_edge;  // the foot on an edge of constant u (else of constant v)
    double edge, along;
  };
  // Feet in closed form: on u = 1, v = (0.8 (x - 1) + y) / 1.64; on v = 0, u = x.
  const Case cases[] = {{{2.0, -0.3, 1.0}, {1.0, 0.9}, true, 1.0, 0.5 / 1.64},
                        {{2.5, 0.4, -0.5}, {1.0, 0.05}, true, 1.0, 1.6 / 1.64},
                        {{0.6, -2.0, 0.3}, {0.05, 0.0}, false, 0.0, 0.6}};
  for (const QELtransf& t : frames)
    for (const Case& c : cases) {
      spline s = velm_test::spline_from(
          bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, 1, 0, 0, 0, 2, net, nullptr, QELresabs, 4, knots, 4, knots, QELresnor));
      s *= t;
      const QELposition p = c.p * t;
      QELposition foot;
      QELpar_pos uv;
      s.point_perp(p, foot, &c.guess, &uv);
      EXPECT_NEAR(c.u_edge ? uv.u : uv.v, c.edge, 1e-12);
      EXPECT_NEAR(c.u_edge ? uv.v : uv.u, c.along, 1e-9);
      const QELpar_pos want = c.u_edge ? QELpar_pos(c.edge, c.along) : QELpar_pos(c.along, c.edge);
      expect_close(foot, s.eval_position(want), 1e-9);
    }
}

// A spline's box over a parameter box is the one its samples give point by
// point (corners and cell middles of a 32 by 32 grid, widened by twice the
// largest bulge), to the last bit: for a rational wave, and a periodic tube
// asked for beyond its period, in every frame.
TEST(GeomSurface, BoundOfASplineIsTheBoxOfItsSamplesPointByPointInEveryFrame) {
  const double ku[8] = {0, 0, 0, 0, 1, 1, 1, 1}, kv[9] = {0, 0, 0, 0, 0.3, 1, 1, 1, 1};
  QELposition pts[20];
  double weights[20];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) {
      pts[i * 5 + j] = QELposition(i, j * 0.8, std::sin(i + 2.0 * j));
      weights[i * 5 + j] = 0.5 + 0.25 * ((i + 2 * j) % 4);
    }
  const auto sampled = [](const surface& s, const QELpar_box& box) {
    const int n = 32;
    auto at = [&](double i, double j) {
      return s.eval_position(QELpar_pos(box.u_range().interpolate(i / n), box.v_range().interpolate(j / n)));
    };
    QELbox b;
    for (int i = 0; i <= n; ++i)
      for (int j = 0; j <= n; ++j) b |= at(i, j);
    double bulge = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const QELposition avg = interpolate(0.5, interpolate(0.5, at(i, j), at(i + 1, j + 1)),
                                            interpolate(0.5, at(i + 1, j), at(i, j + 1)));
        bulge = std::max(bulge, distance(at(i + 0.5, j + 0.5), avg));
      }
    return enlarge_box(b, 2.0 * bulge);
  };
  const double mirror[9] = {1, 0, 0, 0, 1, 0, 0, 0, -1};
  const QELtransf frames[] = {QELtransf(), rotate_transf(0.9, QELvector(1, -1, 2)) * translate_transf(QELvector(3, 0, 1)),
                              restore_transf(QELmatrix(mirror), QELvector(), 1.0, 1, 0, 0)};
  for (const QELtransf& t : frames)
    for (int kind = 0; kind < 2; ++kind) {
      SCOPED_TRACE(kind);
      spline s = velm_test::spline_from(
          kind == 0 ? bs3_surface_from_ctrlpts(3, 1, 0, 0, 4, 3, 1, 0, 0, 5, pts, weights, QELresabs, 8, ku, 9, kv,
                                               bs3_curve_knottol())
                    : testkit::make_tube_bs3_surface(true));
      s *= t;
      const QELpar_box r = s.param_range();
      const QELpar_box asked = kind == 0 ? QELpar_box(QELinterval(0.1, 0.9), QELinterval(0.2, 0.7))
                                         : QELpar_box(r.u_range(), QELinterval(r.v_range().start_pt() + 1.0,
                                                                               r.v_range().end_pt() + 2.5));
      const QELbox got = s.bound(asked), want = sampled(s, asked);
      ASSERT_FALSE(got.empty());
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(got.low()[k], want.low()[k]);
        EXPECT_EQ(got.high()[k], want.high()[k]);
      }
    }
}

// An unbounded plane's foot is its closed form: the parameters are the
// point's along the axes, the foot is the plane's point there to the last
// bit, and the normal is the plane's, for skewed, scaled and reversed axes.
TEST(GeomSurface, PlaneFootIsItsPointAtTheFoundParameters) {
  for (const int reversed : {0, 1}) {
    plane pl(QELposition(1, 2, -3), QELunit_vector(0.2, -0.4, 1));
    pl.u_deriv = QELvector(2.5, 0.5, -0.3);
    pl.reverse_v = reversed;
    for (const QELposition& p : {QELposition(0, 0, 0), QELposition(7.5, -2, 4), QELposition(-1e3, 3e2, 0.25)}) {
      QELposition foot;
      QELunit_vector n;
      QELpar_pos uv;
      pl.point_perp(p, foot, n, nullptr, &uv);
      const QELposition at = pl.eval_position(uv);
      EXPECT_EQ(at.x(), foot.x()) << reversed;
      EXPECT_EQ(at.y(), foot.y()) << reversed;
      EXPECT_EQ(at.z(), foot.z()) << reversed;
      EXPECT_NEAR((p - foot) % pl.u_axis(), 0.0, 1e-9 * (1 + (p - foot).len()));
      EXPECT_NEAR((p - foot) % pl.v_axis(), 0.0, 1e-9 * (1 + (p - foot).len()));
      EXPECT_EQ(n.x(), pl.normal.x());
      EXPECT_EQ(n.z(), pl.normal.z());
    }
  }
}
