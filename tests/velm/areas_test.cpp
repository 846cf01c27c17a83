// Face areas against closed forms, their signs, and surface poles.
#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"

using namespace testkit;
using std::numbers::pi;

namespace {
struct area_case {
  const char* name;
  std::function<BODY*()> make;
  double expected;
  bool loops_give_sign = true;  // false: a single loop round the axis, closed by a pole
};

void reverse_all_loops(BODY* b) {
  for (FACE* f : faces_of(b))
    for (LOOP* l = f->loop(); l; l = l->next()) reverse_loop(l);
}
}  // namespace

TEST(QueryArea, FacesMatchTheirClosedForms) {
  const double cone_slant = std::hypot(5.0, 20.0 / 3.0);
  const area_case cases[] = {
      {"square with hole", [] { return make_square_with_hole(); }, 96.0},
      {"L shape", [] { return make_polygon_sheet({{0, 0}, {10, 0}, {10, 5}, {5, 5}, {5, 10}, {0, 10}}); }, 75.0},
      {"plane box", [] { return make_plane_box(10, 20, 30); }, 2200.0},
      {"box without pcurves", [] { BODY* b = make_plane_box(1, 2, 3); strip_pcurves(b); return b; }, 22.0},
      {"cylinder band", [] { return make_cylinder_band(5.0, 8.0); }, 2 * pi * 5 * 8},
      {"solid cylinder", [] { return make_cylinder(5.0, 8.0); }, 2 * pi * 5 * 8 + 2 * pi * 25},
      {"cone cap to its apex", [] { return make_cone_cap(); }, pi * 5 * cone_slant, false},
      {"hemisphere to its pole", [] { return make_hemisphere(4.0); }, 2 * pi * 16, false},
      // Round a periodic axis and apart along a periodic direction, reversed
      // loops bound the rest of the torus: no sign to check.
      {"torus band round the axis", [] { return make_torus_band(true); }, 2 * pi * 2 * (10 * pi / 2 + 2), false},
      // Its loops leave the short way between them off the face.
      {"torus band round the tube", [] { return make_torus_band(false); }, 3 * pi * pi * 2 * 10, false},
  };
  for (const area_case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* b = c.make();
    double area = -1.0, achieved = -1.0;
    ASSERT_TRUE(api_ent_area(b, 0.001, area, achieved).ok());
    EXPECT_NEAR(area, c.expected, 1e-3 * c.expected);
    EXPECT_GE(achieved, 0.0);
    EXPECT_LE(achieved, 1e-3);
    // Reversed loops and sense: the area changes sign.
    ASSERT_TRUE(api_reverse_body(b).ok());
    EXPECT_NEAR(ent_area_prop(b, 0.001).area(), c.expected, 1e-3 * c.expected);
    if (c.loops_give_sign) {
      reverse_all_loops(b);
      EXPECT_NEAR(ent_area_prop(b, 0.001).area(), -c.expected, 1e-3 * c.expected);
    }
    EXPECT_TRUE(api_del_entity(b).ok());
  }
}

TEST(QueryArea, BodyTransformScalesAndBadInputFails) {
  BODY* sheet = make_square_with_hole();
  ASSERT_TRUE(api_apply_transf(sheet, scale_transf(2.0)).ok());
  EXPECT_NEAR(ent_area_prop(sheet, 1e-6).area(), 4 * 96.0, 1e-6);
  double area = -1.0, acc = 0.0;
  EXPECT_FALSE(api_ent_area(nullptr, 0.001, area, acc).ok());
  EXPECT_EQ(area, -1.0);  // untouched on failure
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(QueryVolume, ClosedBodiesMatchTheirClosedForms) {
  struct volume_case {
    const char* name;
    std::function<BODY*()> make;
    double expected;
  };
  const volume_case cases[] = {
      {"plane box", [] { return make_plane_box(10, 20, 30); }, 6000.0},
      {"box at an offset", [] { return make_plane_box_at(QELposition(-7, 30, 2), 1, 2, 3); }, 6.0},
      {"solid cylinder", [] { return make_cylinder(5.0, 8.0); }, pi * 25 * 8},
  };
  for (const volume_case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* b = c.make();
    double volume = 0.0, achieved = -1.0;
    ASSERT_TRUE(api_body_volume(b, 1e-9, volume, achieved).ok());
    EXPECT_NEAR(volume, c.expected, 1e-7 * c.expected);
    EXPECT_LE(achieved, 1e-4);  // an estimate: the Richardson step does better
    // Turned, mirrored and scaled: the same solid, twice the size.
    const QELtransf mirror = restore_transf(QELmatrix(std::array<double, 9>{-1, 0, 0, 0, 1, 0, 0, 0, 1}.data()),
                                            QELvector(3, 1, 4), 1.0, 0, 1, 0);
    ASSERT_TRUE(api_apply_transf(b, rotate_transf(0.4, QELvector(1, 1, 0)) * mirror * scale_transf(2.0)).ok());
    ASSERT_TRUE(api_body_volume(b, 1e-9, volume, achieved).ok());
    EXPECT_NEAR(volume, 8 * c.expected, 8e-7 * c.expected);
    // Inside out: negative.
    ASSERT_TRUE(api_reverse_body(b).ok());
    ASSERT_TRUE(api_body_volume(b, 1e-9, volume, achieved).ok());
    EXPECT_NEAR(volume, -8 * c.expected, 8e-7 * c.expected);
    EXPECT_TRUE(api_del_entity(b).ok());
  }
  double volume = -1.0, acc = 0.0;
  EXPECT_FALSE(api_body_volume(nullptr, 1e-6, volume, acc).ok());
}

// A face's measures: its area as api_ent_area gives it, and fluxes about
// any origin that add up to the body's volume.
TEST(QueryAreas, FaceMeasuresAddUpToTheBodyAndItsFaces) {
  const std::function<BODY*()> bodies[] = {[] { return make_plane_box_at(QELposition(-7, 30, 2), 1, 2, 3); },
                                           [] { return make_cylinder(5.0, 8.0); }};
  for (const auto& make : bodies) {
    BODY* b = make();
    double volume = 0.0, achieved = 0.0;
    ASSERT_TRUE(api_body_volume(b, 1e-9, volume, achieved).ok());
    for (const QELposition& origin : {QELposition(0, 0, 0), QELposition(-6.5, 31, 3.5), QELposition(100, -50, 20)}) {
      double flux = 0.0, error = 0.0;
      for (FACE* f : faces_of(b)) {
        face_measures m;
        ASSERT_TRUE(api_face_measures(f, origin, 1e-9, 1.0, m).ok());
        double area = 0.0;
        ASSERT_TRUE(api_ent_area(f, 1e-9, area, achieved).ok());
        EXPECT_NEAR(m.area, area, 1e-7 * std::abs(area));
        flux += m.flux, error += m.flux_error;
      }
      EXPECT_NEAR(flux, volume, 1e-7 * std::abs(volume) + error);
    }
    // A face turned over: its area and flux change sign.
    FACE* f = faces_of(b)[0];
    face_measures before, after;
    ASSERT_TRUE(api_face_measures(f, QELposition(1, 2, 3), 1e-6, 10.0, before).ok());
    reverse_loop(f->loop());
    f->set_sense(f->sense() == FORWARD ? REVERSED : FORWARD);
    ASSERT_TRUE(api_face_measures(f, QELposition(1, 2, 3), 1e-6, 10.0, after).ok());
    EXPECT_NEAR(after.area, before.area, 1e-6 * std::abs(before.area));
    EXPECT_NEAR(after.flux, -before.flux, 1e-5 * std::abs(before.flux) + 1e-9);
    EXPECT_TRUE(api_del_entity(b).ok());
  }
  face_measures m;
  EXPECT_FALSE(api_face_measures(nullptr, QELposition(), 1e-6, 1.0, m).ok());
}

// A cone's flux element is quadratic along its generators: about the base
// centre the side of a cone to its apex carries the whole cone's volume (the
// base disc carries none), about the apex nothing (P - apex lies in the
// surface), and about points up the axis the base's share in between.
TEST(QueryAreas, ConeSideFluxIsTheConesVolume) {
  BODY* cap = make_cone_cap();  // radius 5, apex 20/3 above the base centre
  FACE* side = faces_of(cap)[0];
  const double height = 20.0 / 3.0, volume = pi * 25.0 * height / 3.0;
  for (double up : {0.0, 0.25, 0.5, 1.0}) {
    SCOPED_TRACE(up);
    face_measures m;
    ASSERT_TRUE(api_face_measures(side, QELposition(0.0, 0.0, up * height), 1e-9, 10.0, m).ok());
    EXPECT_NEAR(std::abs(m.flux), (1.0 - up) * volume, 1e-9 * volume + m.flux_error);
    EXPECT_LE(m.flux_error, 1e-6 * volume);
  }
  EXPECT_TRUE(api_del_entity(cap).ok());
}

TEST(QueryPoles, SingularPointsOfSurfaces) {
  QELposition poles[2];
  sphere s(QELposition(1, 2, 3), 4.0);
  ASSERT_EQ(sg_surface_get_poles(s, poles), 2);
  EXPECT_NEAR(distance(poles[0], QELposition(1, 2, -1)) * distance(poles[1], QELposition(1, 2, -1)), 0.0, 1e-9);
  EXPECT_NEAR(std::abs(poles[0].z() - poles[1].z()), 8.0, 1e-9);
  plane p(QELposition(), QELunit_vector(0, 0, 1));
  EXPECT_EQ(sg_surface_get_poles(p, poles), 0);
  BODY* cap = make_cone_cap();
  const surface& c = faces_of(cap)[0]->geometry()->equation();
  ASSERT_EQ(sg_surface_get_poles(c, poles), 1);
  EXPECT_LE(distance(poles[0], QELposition(0, 0, 20.0 / 3.0)), 1e-9);
  BODY* cyl = make_cylinder_band();
  EXPECT_EQ(sg_surface_get_poles(faces_of(cyl)[0]->geometry()->equation(), poles), 0);
  EXPECT_TRUE(api_del_entity(cap).ok());
  EXPECT_TRUE(api_del_entity(cyl).ok());
}

// A plane face bounded by straight edges is measured exactly at once: its
// area and flux are those of its polygon, with no error left to allow for,
// whatever the polygon, its holes and the frame it stands in (turned,
// mirrored, far from the origin).
TEST(QueryAreas, StraightEdgedPlaneFacesAreMeasuredExactly) {
  std::mt19937 random(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const QELtransf mirror = restore_transf(QELmatrix(std::array<double, 9>{-1, 0, 0, 0, 1, 0, 0, 0, 1}.data()),
                                          QELvector(0, 0, 0), 1.0, 0, 1, 0);
  const QELtransf frames[] = {QELtransf(), rotate_transf(0.7, QELvector(1, 2, 3)) * translate_transf(QELvector(40, -9, 7)),
                              mirror * rotate_transf(-1.1, QELvector(0, 1, 1)) * translate_transf(QELvector(-3, 500, 2))};
  for (int layout = 0; layout < 6; ++layout) {
    // A star-shaped polygon about the origin (counter-clockwise) and, every
    // other layout, a square hole about its middle (clockwise).
    std::vector<QELpar_pos> outer;
    const int corners = 3 + int(unit(random) * 9);
    for (int k = 0; k < corners; ++k) {
      const double angle = 2 * pi * (k + 0.8 * unit(random)) / corners, reach = 3.0 + 5.0 * unit(random);
      outer.push_back({reach * std::cos(angle), reach * std::sin(angle)});
    }
    double expected = 0.0;
    for (int k = 0; k < corners; ++k) {
      const QELpar_pos& a = outer[k];
      const QELpar_pos& b = outer[(k + 1) % corners];
      expected += 0.5 * (a.u * b.v - b.u * a.v);
    }
    std::vector<std::vector<QELpar_pos>> holes;
    if (layout % 2) {
      holes.push_back({{-0.5, -0.5}, {-0.5, 0.5}, {0.5, 0.5}, {0.5, -0.5}});
      expected -= 1.0;
    }
    for (const QELtransf& frame : frames) {
      SCOPED_TRACE(::testing::Message() << "layout " << layout << ", frame " << (&frame - frames));
      BODY* sheet = make_polygon_sheet(outer, holes);
      ASSERT_TRUE(api_apply_transf(sheet, frame).ok());
      ASSERT_TRUE(api_change_body_trans(sheet, nullptr).ok());
      FACE* face = faces_of(sheet)[0];
      // The face's normal and a point of it, where the frame took them.
      const QELvector normal = QELvector(0, 0, 1) * frame;
      const QELposition on = QELposition(0, 0, 0) * frame;
      for (const QELposition& origin : {QELposition(0, 0, 0), QELposition(12, -4, 30)}) {
        face_measures m;
        ASSERT_TRUE(api_face_measures(face, origin, 1e-9, 10.0, m).ok());
        const double flux = (QELvector(on.x() - origin.x(), on.y() - origin.y(), on.z() - origin.z()) % normal) *
                            expected / 3.0;
        EXPECT_NEAR(m.area, expected, 1e-12 * expected);
        EXPECT_NEAR(m.flux, flux, 1e-12 * (std::abs(flux) + 600.0 * expected));
        EXPECT_EQ(m.area_error, 0.0);
        EXPECT_EQ(m.flux_error, 0.0);
      }
      double area = 0.0, achieved = -1.0;
      ASSERT_TRUE(api_ent_area(face, 1e-9, area, achieved).ok());
      EXPECT_NEAR(area, expected, 1e-12 * expected);
      EXPECT_EQ(achieved, 0.0);
      EXPECT_TRUE(api_del_entity(sheet).ok());
    }
  }
}

namespace {
// One coedge of a loop built for the closed-form cases: a curve over a range
// of its parameter, run along (FORWARD) or against it.
struct ring_piece {
  CURVE* curve;
  QELinterval range;
  sense_type sense;
};

// A straight piece from a to b; `against`: its curve runs from b to a and the
// coedge against it.
ring_piece straight_piece(const QELposition& a, const QELposition& b, bool against) {
  const double length = distance(a, b);
  if (against) return {new STRAIGHT(straight(b, normalise(a - b))), QELinterval(0.0, length), REVERSED};
  return {new STRAIGHT(straight(a, normalise(b - a))), QELinterval(0.0, length), FORWARD};
}

// The arc of an ellipse about `normal` from angle t0 to t1 (t1 < t0 runs it
// backwards); `against`: its curve turns the other way (about -normal) and
// the coedge runs against it.
ring_piece arc_piece(const QELposition& centre, const QELunit_vector& normal, const QELvector& major, double ratio,
                     double t0, double t1, bool against) {
  const double lo = std::min(t0, t1), hi = std::max(t0, t1);
  if (!against)
    return {new ELLIPSE(ellipse(centre, normal, major, ratio)), QELinterval(lo, hi), t0 <= t1 ? FORWARD : REVERSED};
  // About -normal the minor axis turns over: angle t is the curve's -t.
  return {new ELLIPSE(ellipse(centre, normalise(-1.0 * QELvector(normal)), major, ratio)), QELinterval(-hi, -lo),
          t0 <= t1 ? REVERSED : FORWARD};
}

LOOP* ring_loop(const std::vector<ring_piece>& pieces) {
  std::vector<COEDGE*> ring;
  for (const ring_piece& p : pieces) {
    const curve& eq = p.curve->equation();
    auto* a = new VERTEX(new APOINT(eq.eval_position(p.range.start_pt())));
    auto* b = new VERTEX(new APOINT(eq.eval_position(p.range.end_pt())));
    auto* e = new EDGE(a, b, p.curve, FORWARD, EDGE_cvty_unknown, &p.range);
    ring.push_back(new COEDGE(e, p.sense, nullptr, nullptr));
  }
  for (std::size_t k = 0; k < ring.size(); ++k) {
    ring[k]->set_next(ring[(k + 1) % ring.size()]);
    ring[(k + 1) % ring.size()]->set_previous(ring[k]);
  }
  return new LOOP(ring.front(), nullptr);
}

BODY* ring_sheet(SURFACE* s, const std::vector<std::vector<ring_piece>>& loops) {
  LOOP* first = nullptr;
  LOOP* last = nullptr;
  for (const auto& pieces : loops) {
    LOOP* l = ring_loop(pieces);
    if (last) last->set_next(l);
    else first = l;
    last = l;
  }
  return new BODY(new LUMP(new SHELL(new FACE(first, nullptr, s, FORWARD), nullptr), nullptr));
}

// A face the closed forms measure, and its area where it is known (NaN:
// only held against the samples).
struct closed_form_case {
  std::string name;
  BODY* sheet;
  double expected;
};
}  // namespace

// Faces whose boundary gives their area without refining (a plane face of
// straight edges and ellipse arcs, a cone's or a ring torus's face bounded
// on its parameter lines) are measured at once and exactly: as the closed
// form says and as the samples refined to their limit say, whichever way
// each coedge runs along its curve, in every frame. A boundary off the
// parameter lines (a cylinder's side edges twisted round it) is sampled and
// agrees all the same.
TEST(QueryAreas, FacesOnParameterLinesAndPlaneArcsAreMeasuredInClosedForm) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto coin = [&] { return unit(random) < 0.5; };
  const QELunit_vector z(0.0, 0.0, 1.0);
  const QELvector x(1.0, 0.0, 0.0);
  const auto at = [](double u, double v, double w = 0.0) { return QELposition(u, v, w); };
  for (int layout = 0; layout < 3; ++layout) {
    for (const KernelFrame& frame : kernel_frames()) {
      std::vector<closed_form_case> cases;
      {
        // A plate with rounded corners, its bottom edge stopping short and
        // off its line (a gap the loop closes straight), less circular and
        // elliptic holes.
        const double w = 6.0 + 8.0 * unit(random), h = 6.0 + 8.0 * unit(random), r = 0.5 + 1.5 * unit(random);
        const double gap = layout % 2 ? 0.02 * unit(random) : 0.0;
        std::vector<ring_piece> outer = {
            straight_piece(at(r, 0), at(w - r - gap, gap / 2), coin()),
            arc_piece(at(w - r, r), z, r * x, 1.0, -pi / 2, 0.0, coin()),
            straight_piece(at(w, r), at(w, h - r), coin()),
            arc_piece(at(w - r, h - r), z, r * x, 1.0, 0.0, pi / 2, coin()),
            straight_piece(at(w - r, h), at(r, h), coin()),
            arc_piece(at(r, h - r), z, r * x, 1.0, pi / 2, pi, coin()),
            straight_piece(at(0, h - r), at(0, r), coin()),
            arc_piece(at(r, r), z, r * x, 1.0, pi, 1.5 * pi, coin())};
        double expected = w * h - (4.0 - pi) * r * r - 0.25 * (w - 2 * r) * gap;
        std::vector<std::vector<ring_piece>> loops = {outer};
        const int holes = 1 + layout % 3;
        for (int k = 0; k < holes; ++k) {
          const double room = std::min(w / (holes + 1), h / 2 - r) / 3.0, ratio = k % 2 ? 0.3 + 0.6 * unit(random) : 1.0;
          const double turn = 2 * pi * unit(random), radius = room * (0.5 + 0.5 * unit(random));
          // Clockwise: material on the left.
          loops.push_back({arc_piece(at((k + 1) * w / (holes + 1), h / 2), z,
                                     radius * QELvector(std::cos(turn), std::sin(turn), 0.0), ratio, pi, -pi, coin())});
          expected -= pi * radius * radius * ratio;
        }
        cases.push_back({"plate", ring_sheet(new PLANE(plane(QELposition(), z)), loops), expected});
      }
      // A patch of a cylinder or cone about +z between two circles and two
      // generators, and a band round its whole axis.
      for (const bool cylinder : {true, false}) {
        const double radius = 2.0 + 4.0 * unit(random), z0 = -1.0 + 2.0 * unit(random), z1 = z0 + 1.0 + 4.0 * unit(random);
        const double sine = cylinder ? 0.0 : -0.2 - 0.3 * unit(random), cosine = std::sqrt(1.0 - sine * sine);
        const auto rho = [&](double height) { return radius + height * sine / cosine; };
        const double a = 2 * pi * unit(random), b = a + 0.3 + 5.0 * unit(random);
        const auto rim = [&](double height, double from, double to) {
          return arc_piece(at(0, 0, height), z, rho(height) * x, 1.0, from, to, coin());
        };
        const auto generator = [&](double angle, double from, double to, double twist) {
          return straight_piece(at(rho(from) * std::cos(angle), rho(from) * std::sin(angle), from),
                                at(rho(to) * std::cos(angle + twist), rho(to) * std::sin(angle + twist), to), coin());
        };
        const cone side(QELposition(), z, radius * x, 1.0, sine, cosine, 0.0);
        const double slant = std::hypot(rho(z1) - rho(z0), z1 - z0), mean = 0.5 * (rho(z0) + rho(z1));
        cases.push_back({cylinder ? "cylinder patch" : "cone patch",
                         ring_sheet(new CONE(side), {{rim(z0, a, b), generator(b, z0, z1, 0.0), rim(z1, b, a),
                                                      generator(a, z1, z0, 0.0)}}),
                         (b - a) * mean * slant});
        cases.push_back({cylinder ? "cylinder band" : "cone band",
                         ring_sheet(new CONE(side), {{rim(z0, a, a + 2 * pi)}, {rim(z1, a + 2 * pi, a)}}),
                         2 * pi * mean * slant});
        cases.push_back({cylinder ? "twisted cylinder patch" : "twisted cone patch",
                         ring_sheet(new CONE(side), {{rim(z0, a, b), generator(b, z0, z1, 0.05), rim(z1, b + 0.05, a),
                                                      generator(a, z1, z0, -0.05)}}),
                         std::nan("")});
      }
      {
        // A patch of a ring torus about +z between two circles round the axis
        // (tube angles u0, u1) and two round the tube (angles a, b).
        const double big = 6.0 + 4.0 * unit(random), tube = 1.0 + 3.0 * unit(random);
        const double u0 = -pi + 2 * pi * unit(random), u1 = u0 + 0.3 + 2.5 * unit(random);
        const double a = 2 * pi * unit(random), b = a + 0.3 + 4.0 * unit(random);
        const auto latitude = [&](double u, double from, double to) {
          return arc_piece(at(0, 0, tube * std::sin(u)), z, (big + tube * std::cos(u)) * x, 1.0, from, to, coin());
        };
        // Twisted: its plane turned about the line through its centre along
        // the axis, out of the half-plane through the axis.
        const auto meridian = [&](double angle, double from, double to, double twist = 0.0) {
          const QELvector d(std::cos(angle), std::sin(angle), 0.0), e(std::cos(angle + twist), std::sin(angle + twist), 0.0);
          return arc_piece(QELposition() + big * d, normalise(e * QELvector(z)), tube * e, 1.0, from, to, coin());
        };
        const torus ring(QELposition(), z, big, tube);
        cases.push_back({"torus patch",
                         ring_sheet(new TORUS(ring), {{latitude(u0, a, b), meridian(b, u0, u1), latitude(u1, b, a),
                                                       meridian(a, u1, u0)}}),
                         tube * (b - a) * (big * (u1 - u0) + tube * (std::sin(u1) - std::sin(u0)))});
        cases.push_back({"twisted torus patch",
                         ring_sheet(new TORUS(ring), {{latitude(u0, a, b), meridian(b, u0, u1, 0.05), latitude(u1, b, a),
                                                       meridian(a, u1, u0, -0.05)}}),
                         std::nan("")});
      }
      for (closed_form_case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << ", layout " << layout << ", frame " << frame.name);
        ASSERT_TRUE(api_apply_transf(c.sheet, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(c.sheet, nullptr).ok());
        FACE* face = faces_of(c.sheet)[0];
        double area = 0.0, achieved = -1.0;
        ASSERT_TRUE(api_ent_area(face, 1e-6, area, achieved).ok());
        // The samples refined to their limit, with the error they claim.
        face_measures m;
        ASSERT_TRUE(api_face_measures(face, QELposition(), 1e-9, 10.0, m).ok());
        EXPECT_NEAR(area, m.area, 4.0 * (m.area_error + achieved * std::abs(area)) + 1e-10 * std::abs(m.area));
        if (!std::isnan(c.expected)) {
          EXPECT_NEAR(std::abs(area), c.expected, 1e-10 * c.expected);
          EXPECT_EQ(achieved, 0.0);
        }
        EXPECT_TRUE(api_del_entity(c.sheet).ok());
      }
    }
  }
}
