// Pcurves the kernel fits for coedges, held to the edge's tolerance along the
// whole edge: seeded curves lying on every kind of surface, in every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/geometry_builders.hxx"
#include "support/in_turn.hxx"
#include "support/model_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_edit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {

constexpr double kPi = std::numbers::pi;

// A curve over a range that lies on a surface.
struct OnSurface {
  std::string name;
  std::shared_ptr<surface> s;
  std::shared_ptr<curve> c;
  QELinterval range;
};

// The rational B-spline form of an ellipse (its parameter follows the
// angle only at the knots) over the arc.
std::shared_ptr<curve> splineOf(const ellipse& e, const QELinterval& arc) {
  bs3_curve b = bs3_curve_make_ell(e, arc.start_pt(), arc.end_pt(), 0.0);
  EXPECT_NE(b, nullptr);
  return std::make_shared<intcurve>(b);
}

// A unit vector square to n.
QELvector across(const QELvector& n) {
  const QELvector a = std::fabs(n.x()) < 0.6 ? QELvector(1, 0, 0) : QELvector(0, 1, 0);
  return QELvector(normalise(a * n));
}

// One draw of every kind of curve on every kind of surface, from the seed.
std::vector<OnSurface> drawCurvesOnSurfaces(std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto in = [&](double a, double b) { return a + (b - a) * unit(rng); };
  const auto arc = [&] {
    const double start = in(-kPi, kPi);
    return QELinterval(start, start + in(0.3, 5.5));
  };
  const QELposition o(0, 0, 0);
  const QELunit_vector z(0, 0, 1);
  std::vector<OnSurface> out;
  const auto add = [&](const char* name, std::shared_ptr<surface> s, std::shared_ptr<curve> c, QELinterval r) {
    out.push_back({name, std::move(s), std::move(c), r});
  };

  // A plane: a line, a circle, an ellipse and a cubic B-spline in it.
  auto flat = std::make_shared<plane>(o, z);
  const double phi = in(-kPi, kPi);
  add("line on a plane", flat, std::make_shared<straight>(QELposition(in(-3, 3), in(-3, 3), 0), QELunit_vector(std::cos(phi), std::sin(phi), 0)),
      QELinterval(in(-2, 0), in(0.5, 4)));
  const ellipse flatCircle(QELposition(in(-2, 2), in(-2, 2), 0), z, QELvector(in(0.5, 3), 0, 0), 1.0);
  add("circle on a plane", flat, std::make_shared<ellipse>(flatCircle), arc());
  const ellipse flatEllipse(QELposition(in(-2, 2), in(-2, 2), 0), z,
                            in(1, 3) * QELvector(std::cos(phi), std::sin(phi), 0), in(0.2, 0.9));
  add("ellipse on a plane", flat, std::make_shared<ellipse>(flatEllipse), arc());
  {
    std::vector<QELposition> pts;
    std::vector<double> ts;
    for (int i = 0; i < 7; ++i) {
      pts.emplace_back(i + in(-0.3, 0.3), in(-2, 2), 0.0);
      ts.push_back(i);
    }
    bs3_curve b = bs3_curve_interp_knots(7, pts.data(), ts.data());
    add("B-spline on a plane", flat, std::make_shared<intcurve>(b), QELinterval(in(0, 1), in(5, 6)));
  }

  // A cylinder of radius R about z: a ruling, a circle, an oblique ellipse
  // and the circle's B-spline.
  const double R = in(0.5, 3);
  auto cyl = std::make_shared<cone>(o, z, QELvector(R, 0, 0), 1.0, 0.0, 1.0, 0.0);
  add("line on a cylinder", cyl,
      std::make_shared<straight>(QELposition(R * std::cos(phi), R * std::sin(phi), 0), z), QELinterval(in(-2, 0), in(0.5, 3)));
  const ellipse ring(QELposition(0, 0, in(-1, 2)), z, QELvector(R, 0, 0), 1.0);
  add("circle on a cylinder", cyl, std::make_shared<ellipse>(ring), arc());
  const double tilt = in(0.2, 1.2);
  const QELunit_vector cut = normalise(QELvector(0, -std::sin(tilt), std::cos(tilt)));
  add("ellipse on a cylinder", cyl,
      std::make_shared<ellipse>(QELposition(0, 0, in(-0.5, 0.5)), cut, QELvector(0, R, R * std::tan(tilt)), std::cos(tilt)),
      arc());
  const QELinterval ringArc = arc();
  add("B-spline on a cylinder", cyl, splineOf(ring, ringArc), QELinterval(ringArc.start_pt(), ringArc.end_pt()));

  // A cone of half angle a, radius 2 at z = 0: a ruling, a circle and its B-spline.
  const double a = in(0.2, 0.8);
  auto cn = std::make_shared<cone>(o, z, QELvector(2, 0, 0), 1.0, std::sin(a), std::cos(a), 0.0);
  add("line on a cone", cn,
      std::make_shared<straight>(QELposition(2 * std::cos(phi), 2 * std::sin(phi), 0),
                                 QELunit_vector(std::sin(a) * std::cos(phi), std::sin(a) * std::sin(phi), std::cos(a))),
      QELinterval(in(-1, 0), in(0.5, 2)));
  const double h = in(-0.5, 1.5);
  const ellipse coneRing(QELposition(0, 0, h), z, QELvector(2 + h * std::tan(a), 0, 0), 1.0);
  add("circle on a cone", cn, std::make_shared<ellipse>(coneRing), arc());
  const QELinterval coneArc = arc();
  add("B-spline on a cone", cn, splineOf(coneRing, coneArc), coneArc);

  // A sphere: a circle cut by a plane clear of the poles, and its B-spline.
  const double Rs = in(1, 4);
  auto ball = std::make_shared<sphere>(o, Rs);
  QELvector n;
  double d = 0.0;
  do {
    n = QELvector(normalise(QELvector(in(-1, 1), in(-1, 1), in(-1, 1))));
    d = Rs * in(-0.8, 0.8);
  } while (std::fabs(n.z() * Rs - d) < 0.2 * Rs || std::fabs(n.z() * Rs + d) < 0.2 * Rs);
  const ellipse small(o + d * n, normalise(n), std::sqrt(Rs * Rs - d * d) * across(n), 1.0);
  add("circle on a sphere", ball, std::make_shared<ellipse>(small), arc());
  const QELinterval ballArc = arc();
  add("B-spline on a sphere", ball, splineOf(small, ballArc), ballArc);

  // A torus: a tube circle, a ring circle and the tube circle's B-spline.
  const double Rt = in(2, 5), rt = in(0.3, 1.5);
  auto tor = std::make_shared<torus>(o, z, Rt, rt);
  const ellipse tube(QELposition(Rt * std::cos(phi), Rt * std::sin(phi), 0),
                     normalise(QELvector(-std::sin(phi), std::cos(phi), 0)), QELvector(rt * std::cos(phi), rt * std::sin(phi), 0), 1.0);
  add("tube circle on a torus", tor, std::make_shared<ellipse>(tube), arc());
  const double lat = in(-1.2, 1.2);
  add("ring circle on a torus", tor,
      std::make_shared<ellipse>(QELposition(0, 0, rt * std::sin(lat)), z, QELvector(Rt + rt * std::cos(lat), 0, 0), 1.0),
      arc());
  const QELinterval tubeArc = arc();
  add("B-spline on a torus", tor, splineOf(tube, tubeArc), tubeArc);

  // The cylinder's exact B-spline surface (its parameter follows the angle
  // only at its knots): a circle, an oblique ellipse and an iso-line of its own.
  bs3_surface net = bs3_surface_make_sur(*cyl, QELbox(QELposition(-R, -R, -3), QELposition(R, R, 3)), 0.0);
  EXPECT_NE(net, nullptr);
  auto spl = std::make_shared<spline>(velm_test::spline_from(net));
  add("circle on a B-spline surface", spl, std::make_shared<ellipse>(ring), arc());
  add("ellipse on a B-spline surface", spl,
      std::make_shared<ellipse>(QELposition(0, 0, in(-0.5, 0.5)), cut, QELvector(0, R, R * std::tan(tilt)), std::cos(tilt)),
      arc());
  const QELpar_box box = spl->param_range();
  bs3_curve iso = bs3_curve_u_param_line(spl->sur(), box.v_range().interpolate(in(0.1, 0.9)));
  EXPECT_NE(iso, nullptr);
  const QELinterval isoRange = bs3_curve_range(iso);
  add("B-spline on a B-spline surface", spl, std::make_shared<intcurve>(iso),
      QELinterval(isoRange.interpolate(in(0, 0.3)), isoRange.interpolate(in(0.6, 1))));
  return out;
}

// The largest distance of the coedge's pcurve on its surface from the edge's
// curve, at 200 even samples inside every span of the pcurve's B-spline.
double densestGap(const COEDGE* c) {
  const EDGE* e = c->edge();
  const pcurve& p = c->geometry()->def();
  const surface& s = c->loop()->face()->geometry()->equation();
  const curve& eq = e->geometry()->equation();
  const double sign = c->sense() == e->sense() ? 1.0 : -1.0;
  const QELinterval range = c->param_range();
  int n = 0;
  double* knots = nullptr;
  bs2_curve_knots(p.cur(), n, knots);
  std::vector<double> breaks{range.start_pt(), range.end_pt()};
  const double toCoedge = p.reversed() ? -1.0 : 1.0;
  for (int i = 0; i < n; ++i)
    if (range >> toCoedge * knots[i]) breaks.push_back(toCoedge * knots[i]);
  delete[] knots;
  std::sort(breaks.begin(), breaks.end());
  double worst = 0.0;
  for (std::size_t i = 0; i + 1 < breaks.size(); ++i)
    for (int k = 0; k <= 200; ++k) {
      const double t = breaks[i] + (breaks[i + 1] - breaks[i]) * k / 200.0;
      worst = std::max(worst, distance(eq.eval_position(sign * t), s.eval_position(p.eval_position(t))));
    }
  return worst;
}

class PcurveFitProperty : public velm_test::KernelTest {};

}  // namespace

// Seeded curves of every kind on every kind of surface, in every frame, used
// by a coedge with and against its edge: the pcurve the kernel fits lies on
// the edge within the edge's tolerance at 200 samples in every span (a fit
// to the fit tolerance passed through its points and strayed up to it
// between them), and so by the kernel's own measure.
TEST_F(PcurveFitProperty, AFittedPCurveLiesOnItsEdgeWithinTheEdgeTolerance) {
  std::mt19937 rng(4901);
  int fitted = 0;
  const std::vector<KernelFrame> frames = kernel_frames();
  for (int draw = 0; draw < 2; ++draw) {
    const std::vector<OnSurface> cases = drawCurvesOnSurfaces(rng);
    ASSERT_EQ(cases.size(), 19u);
    for (std::size_t f = 0; f < frames.size(); ++f)
      for (std::size_t i = 0; i < cases.size(); ++i)
        for (const sense_type sense : {FORWARD, REVERSED}) {
          // The frames of each case in turn.
          if (!in_turn::taken(draw * cases.size() + i, f, frames.size()))
            continue;
          const KernelFrame& frame = frames[f];
          const OnSurface& k = cases[i];
          SCOPED_TRACE(std::string(k.name) + ", draw " + std::to_string(draw) + ", " + frame.name +
                       (sense == FORWARD ? ", with its edge" : ", against its edge"));
          std::unique_ptr<surface> s(k.s->make_copy());
          std::unique_ptr<curve> c(k.c->make_copy());
          *s *= frame.transform;
          *c *= frame.transform;
          c->limit(k.range);
          EDGE* edge = nullptr;
          ASSERT_TRUE(api_make_edge_from_curve(c.get(), edge).ok());
          auto* face = new FACE(nullptr, nullptr, make_surface(*s), FORWARD);
          LOOP* loop = add_one_coedge_loop(face, edge, sense);
          COEDGE* coedge = loop->start();
          edge->set_coedge(coedge);
          ASSERT_TRUE(sg_add_pcurve_to_coedge(coedge));
          ASSERT_NE(coedge->geometry(), nullptr);
          EXPECT_LE(densestGap(coedge), QELresabs);
          EXPECT_LE(pcurve_deviation(coedge), QELresabs);
          ++fitted;
          api_del_entity(face);
        }
  }
  EXPECT_EQ(fitted, in_turn::allTurns() ? 2 * 3 * 2 * 19 : 2 * 2 * 19);
}
