// Geometry-bearing kernel models for the query, containment and build tests.
#include "support/query_builders.hxx"

#include <numbers>
#include <stdexcept>

#include "support/geometry_builders.hxx"
#include "velm/build.hxx"
#include "velm/topology_api.hxx"

namespace testkit {
namespace {
void check_query(const outcome& o, const char* what) {
  if (!o.ok()) throw std::runtime_error(std::string(what) + " failed");
}

// A closed ring of forward coedges on straight edges through the points.
LOOP* polygon_loop(const std::vector<QELpar_pos>& pts) {
  std::vector<VERTEX*> v;
  for (const QELpar_pos& p : pts) v.push_back(new VERTEX(new APOINT(p.u, p.v, 0.0)));
  std::vector<COEDGE*> ring;
  for (std::size_t k = 0; k < v.size(); ++k) {
    VERTEX* a = v[k];
    VERTEX* b = v[(k + 1) % v.size()];
    const QELposition pa = a->geometry()->coords(), pb = b->geometry()->coords();
    QELinterval range(0.0, distance(pa, pb));
    auto* e = new EDGE(a, b, new STRAIGHT(straight(pa, QELunit_vector(pb - pa))), FORWARD, EDGE_cvty_unknown, &range);
    ring.push_back(new COEDGE(e, FORWARD, nullptr, nullptr));
  }
  for (std::size_t k = 0; k < ring.size(); ++k) {
    ring[k]->set_next(ring[(k + 1) % ring.size()]);
    ring[(k + 1) % ring.size()]->set_previous(ring[k]);
  }
  return new LOOP(ring.front(), nullptr);
}

// A circle (counter-clockwise about the normal, starting at centre - major)
// as a loop of one coedge.
LOOP* circle_loop(const QELposition& centre, const QELunit_vector& normal, const QELvector& major,
                  sense_type sense) {
  auto* v = new VERTEX(new APOINT(centre - major));
  const QELinterval turn(-std::numbers::pi, std::numbers::pi);
  auto* circle = new ELLIPSE(ellipse(centre, normal, major, 1.0));
  auto* e = new EDGE(v, v, circle, FORWARD, EDGE_cvty_unknown, &turn);
  auto* c = new COEDGE(e, sense, nullptr, nullptr);
  c->set_next(c);
  c->set_previous(c);
  return new LOOP(c, nullptr);
}

// One circle about +z at height z.
LOOP* circle_loop(double radius, double z, sense_type sense) {
  return circle_loop(QELposition(0.0, 0.0, z), QELunit_vector(0.0, 0.0, 1.0), QELvector(radius, 0.0, 0.0), sense);
}

BODY* sheet_body(FACE* f) { return new BODY(new LUMP(new SHELL(f, nullptr), nullptr)); }
}  // namespace

BODY* make_polygon_sheet(const std::vector<QELpar_pos>& outer, const std::vector<std::vector<QELpar_pos>>& holes) {
  LOOP* first = polygon_loop(outer);
  LOOP* last = first;
  for (const auto& h : holes) {
    LOOP* l = polygon_loop(h);
    last->set_next(l);
    last = l;
  }
  return sheet_body(new FACE(first, nullptr, new PLANE(plane(QELposition(), QELunit_vector(0.0, 0.0, 1.0))), FORWARD));
}

BODY* make_square_with_hole(double lo) {
  const double hi = lo + 2.0;
  return make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{{lo, lo}, {lo, hi}, {hi, hi}, {hi, lo}}});
}

BODY* make_square_with_round_hole(double radius) {
  LOOP* outer = polygon_loop({{-5, -5}, {5, -5}, {5, 5}, {-5, 5}});
  outer->set_next(circle_loop(radius, 0.0, REVERSED));
  return sheet_body(new FACE(outer, nullptr, new PLANE(plane(QELposition(), QELunit_vector(0.0, 0.0, 1.0))), FORWARD));
}

BODY* make_cylinder_band(double radius, double height) {
  const cone side(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(radius, 0.0, 0.0), 1.0, 0.0, 1.0, 0.0);
  LOOP* bottom = circle_loop(radius, 0.0, FORWARD);
  bottom->set_next(circle_loop(radius, height, REVERSED));
  return sheet_body(new FACE(bottom, nullptr, new CONE(side), FORWARD));
}

BODY* make_cone_cap() {
  const cone side(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(5.0, 0.0, 0.0), 1.0, -0.6, 0.8, 0.0);
  return sheet_body(new FACE(circle_loop(5.0, 0.0, FORWARD), nullptr, new CONE(side), FORWARD));
}

BODY* make_torus_band(bool round_axis) {
  const double R = 10.0, r = 2.0;
  const torus t(QELposition(), QELunit_vector(0.0, 0.0, 1.0), R, r);
  LOOP* first;
  LOOP* second;
  if (round_axis) {
    // u = 0 (the outer equator) and u = pi/2 (the top circle).
    first = circle_loop(R + r, 0.0, FORWARD);
    second = circle_loop(R, r, REVERSED);
  } else {
    // Tube circles at v = 0 and v = -pi/2: D(v) = O cos v + (O x N) sin v.
    auto tube = [&](const QELvector& d, sense_type sense) {
      return circle_loop(QELposition() + R * d, normalise(d * QELvector(0.0, 0.0, 1.0)), r * d, sense);
    };
    first = tube(QELvector(1.0, 0.0, 0.0), FORWARD);
    second = tube(QELvector(0.0, 1.0, 0.0), REVERSED);
  }
  first->set_next(second);
  return sheet_body(new FACE(first, nullptr, new TORUS(t), FORWARD));
}

BODY* make_apple_cap() {
  const torus t(QELposition(), QELunit_vector(0.0, 0.0, 1.0), 1.0, 2.0);
  return sheet_body(new FACE(circle_loop(3.0, 0.0, FORWARD), nullptr, new TORUS(t), FORWARD));
}

BODY* make_plane_box_at(const QELposition& origin, double dx, double dy, double dz) {
  BODY* b = make_plane_box(dx, dy, dz);
  check_query(api_apply_transf(b, translate_transf(origin - QELposition())), "api_apply_transf");
  check_query(api_change_body_trans(b), "api_change_body_trans");
  return b;
}

BODY* make_two_shell_body(const QELposition& second) {
  BODY* body = make_plane_box(10.0, 10.0, 10.0);
  BODY* other = make_plane_box_at(second, 2.0, 2.0, 2.0);
  const bool inside = second.x() > 0.0 && second.x() < 8.0 && second.y() > 0.0 && second.y() < 8.0 &&
                      second.z() > 0.0 && second.z() < 8.0;
  if (inside) check_query(api_reverse_body(other), "api_reverse_body");
  SHELL* moved = other->lump()->shell();
  other->lump()->set_shell(nullptr);
  moved->set_lump(body->lump());
  body->lump()->shell()->set_next(moved);
  check_query(api_del_entity(other), "api_del_entity");
  return body;
}

void strip_pcurves(ENTITY* e) {
  ENTITY_LIST coedges;
  check_query(api_get_coedges(e, coedges), "api_get_coedges");
  for (ENTITY* c = (coedges.init(), coedges.next()); c; c = coedges.next())
    static_cast<COEDGE*>(c)->set_geometry(nullptr);
}

std::vector<FACE*> faces_of(const ENTITY* e) {
  ENTITY_LIST list;
  check_query(api_get_faces(e, list), "api_get_faces");
  std::vector<FACE*> out;
  for (ENTITY* f = (list.init(), list.next()); f; f = list.next()) out.push_back(static_cast<FACE*>(f));
  return out;
}

}  // namespace testkit

#include <gtest/gtest.h>

namespace testkit {
void expect_box(const QELbox& b, const QELposition& lo, const QELposition& hi, double tol) {
  ASSERT_FALSE(b.empty());
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(b.low()[i], lo[i], tol) << "low " << i;
    EXPECT_NEAR(b.high()[i], hi[i], tol) << "high " << i;
  }
}
}  // namespace testkit
