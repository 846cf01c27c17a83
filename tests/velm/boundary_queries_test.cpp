// Points against bodies and face boundaries, directions into faces, and
// intersections of edges with edges and faces.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/topology_edit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using std::numbers::pi;

namespace {
// A free edge along the curve over [t0, t1].
EDGE* edge_on(curve&& c, double t0, double t1) {
  c.limit(QELinterval(t0, t1));
  EDGE* e = nullptr;
  EXPECT_TRUE(api_make_edge_from_curve(&c, e).ok());
  return e;
}
EDGE* segment(const QELposition& a, const QELposition& b) {
  return edge_on(straight(a, normalise(b - a)), 0.0, distance(a, b));
}
EDGE* circle(const QELposition& centre, double r) {
  return edge_on(ellipse(centre, QELunit_vector(0, 0, 1), QELvector(r, 0, 0), 1.0), -pi, pi);
}
void kill(EDGE* e) { EXPECT_TRUE(api_del_entity(e).ok()); }

struct found {
  int n = 0;
  std::vector<int> rels;
  std::vector<QELposition> points;
};
found intersections(EDGE* a, EDGE* b, bool bounded) {
  cc_intersection* x = nullptr;
  EXPECT_TRUE(api_intersect_curves(a, b, bounded, x).ok());
  found f;
  for (cc_intersection* i = x; i; i = i->next) {
    ++f.n;
    f.rels.push_back(i->rel);
    f.points.push_back(i->int_point);
    // Both parameters name the same point.
    EXPECT_LE(distance(a->geometry()->equation().eval_position(i->param1), i->int_point), 1e-6);
    EXPECT_LE(distance(b->geometry()->equation().eval_position(i->param2), i->int_point), 1e-6);
  }
  delete_cc_intersections(x);
  return f;
}
}  // namespace

TEST(QueryPointInBody, NearestBoundarySideOnBoxesAndCylinders) {
  BODY* box = make_plane_box(10, 20, 30);
  BODY* cyl = make_cylinder(5.0, 8.0);
  BODY* moved = make_plane_box_at(QELposition(100, 0, 0), 2, 2, 2);
  ASSERT_TRUE(api_apply_transf(moved, translate_transf(QELvector(0, 50, 0))).ok());
  struct row {
    BODY* body;
    QELposition p;
    point_containment want;
  } rows[] = {
      {box, {5, 5, 5}, pc_inside},     {box, {9.99, 19.99, 29.99}, pc_inside},
      {box, {15, 5, 5}, pc_outside},   {box, {11, 21, 31}, pc_outside},  // beyond a corner
      {box, {-1, -1, 5}, pc_outside},  // beyond an edge
      {box, {5, 5, 0}, pc_boundary},   {box, {10, 20, 30}, pc_boundary},
      {cyl, {0, 0, 4}, pc_inside},     {cyl, {4.9, 0, 7.9}, pc_inside},  {cyl, {-4.9, 0.1, 4}, pc_inside},
      {cyl, {5.1, 0, 4}, pc_outside},  {cyl, {3, 3, 9}, pc_outside},     {cyl, {5.5, 0, 8.5}, pc_outside},
      {cyl, {0, 5, 4}, pc_boundary},   {cyl, {1, 1, 8}, pc_boundary},
      {moved, {101, 51, 1}, pc_inside}, {moved, {101, 1, 1}, pc_outside},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.p.x() << " " << r.p.y() << " " << r.p.z());
    for (int boxes : {0, 1}) {
      point_containment got = pc_unknown;
      ASSERT_TRUE(api_point_in_body(r.p, r.body, got, boxes).ok());
      EXPECT_EQ(got, r.want);
    }
  }
  for (BODY* b : {box, cyl, moved}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(QueryBoundary, PointsOnVerticesAndCoedgesAndDirectionsInward) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  ENTITY* on = nullptr;
  ASSERT_TRUE(sg_point_on_boundary(f, QELposition(0, 0, 0), 1e-6, on));
  EXPECT_TRUE(is_VERTEX(on));
  ASSERT_TRUE(sg_point_on_boundary(f, QELposition(5, 1e-7, 0), 1e-6, on));
  ASSERT_TRUE(is_COEDGE(on));
  EXPECT_EQ(static_cast<COEDGE*>(on)->loop(), f->loop());
  ASSERT_TRUE(sg_point_on_boundary(f, QELposition(4, 5, 0), 1e-6, on));
  EXPECT_EQ(static_cast<COEDGE*>(on)->loop(), f->loop()->next());
  EXPECT_FALSE(sg_point_on_boundary(f, QELposition(5, 5, 0), 1e-6, on));
  EXPECT_EQ(on, nullptr);
  EXPECT_FALSE(sg_point_on_boundary(f, QELposition(5, 0.01, 0), 1e-3, on));

  // A short step into the face from the middle of every coedge lands inside,
  // on plane and cylinder faces, forward and reversed coedges alike.
  BODY* cyl = make_cylinder(5.0, 8.0);
  for (BODY* b : {sheet, cyl})
    for (FACE* face : faces_of(b))
      for (LOOP* l = face->loop(); l; l = l->next()) {
        COEDGE* c = l->start();
        do {
          const EDGE* e = c->edge();
          if (c->partner() && c->partner()->loop() == l) {  // a seam: the face on both sides
            c = c->next();
            continue;
          }
          double s, t;
          sg_get_params(e, s, t);
          const double mid = 0.5 * (s + t);
          const QELposition p = e->geometry()->equation().eval_position(mid);
          EXPECT_EQ(point_in_face(p + 0.01 * QELvector(into_face(c, mid)), face), pfc_inside);
          EXPECT_EQ(point_in_face(p - 0.01 * QELvector(into_face(c, mid)), face), pfc_outside);
          c = c->next();
        } while (c != l->start());
      }
  EXPECT_TRUE(api_del_entity(sheet).ok());
  EXPECT_TRUE(api_del_entity(cyl).ok());
}

TEST(QueryIntersectCurves, CrossingsTangenciesOverlapsAndBounds) {
  struct row {
    const char* name;
    EDGE* a;
    EDGE* b;
    bool bounded;
    std::vector<int> rels;
  };
  row rows[] = {
      {"crossing lines", segment({0, 0, 0}, {10, 10, 0}), segment({0, 10, 0}, {10, 0, 0}), true, {1}},
      {"parallel lines", segment({0, 0, 0}, {10, 0, 0}), segment({0, 1, 0}, {10, 1, 0}), false, {}},
      {"skew lines", segment({0, 0, 0}, {10, 0, 0}), segment({5, -5, 1}, {5, 5, 1}), false, {}},
      {"short of each other", segment({0, 0, 0}, {4, 0, 0}), segment({5, -5, 0}, {5, -1, 0}), true, {}},
      {"meeting beyond the edges", segment({0, 0, 0}, {4, 0, 0}), segment({5, -5, 0}, {5, -1, 0}), false, {1}},
      {"line through a circle", circle({0, 0, 0}, 3), segment({-5, 0, 0}, {5, 0, 0}), true, {1, 1}},
      {"line touching a circle", circle({0, 0, 0}, 3), segment({-5, 3, 0}, {5, 3, 0}), true, {2}},
      {"touching circles", circle({0, 0, 0}, 3), circle({5, 0, 0}, 2), true, {2}},
      {"overlapping segments", segment({0, 0, 0}, {10, 0, 0}), segment({4, 0, 0}, {20, 0, 0}), true, {3, 3}},
  };
  for (row& r : rows) {
    SCOPED_TRACE(r.name);
    found f = intersections(r.a, r.b, r.bounded);
    EXPECT_EQ(f.rels, r.rels);
    kill(r.a);
    kill(r.b);
  }
  // Where: the overlap's ends, in order along the first curve.
  EDGE* a = segment({0, 0, 0}, {10, 0, 0});
  EDGE* b = segment({20, 0, 0}, {4, 0, 0});
  found f = intersections(a, b, true);
  ASSERT_EQ(f.n, 2);
  velm_test::expect_close(f.points[0], QELposition(4, 0, 0), 1e-6);
  velm_test::expect_close(f.points[1], QELposition(10, 0, 0), 1e-6);
  cc_intersection* none = nullptr;
  EXPECT_FALSE(api_intersect_curves(a, nullptr, true, none).ok());
  kill(a);
  kill(b);
}

TEST(QueryEdgeEntityRel, CrossingsAndVertexContactsWithAFace) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  struct row {
    const char* name;
    EDGE* e;
    std::vector<int> kinds;
    std::vector<double> xs;
    std::string at;  // V a vertex, E an edge of the face
  } rows[] = {
      {"through the hole", segment({-1, 5, 0}, {11, 5, 0}), {1, 1, 1, 1}, {0, 4, 6, 10}, "EEEE"},
      {"through the corners", segment({-1, -1, 0}, {11, 11, 0}), {0, 0, 0, 0}, {0, 4, 6, 10}, "VVVV"},
      {"along an edge", segment({-1, 0, 0}, {5, 0, 0}), {0, 0}, {0, 5}, "VE"},
      {"missing", segment({-1, 12, 0}, {11, 12, 0}), {}, {}, ""},
  };
  for (row& r : rows) {
    SCOPED_TRACE(r.name);
    edge_entity_rel* rel = new edge_entity_rel(r.e, f);
    ASSERT_EQ(rel->status(), 0);
    std::vector<int> kinds;
    std::string at;
    std::vector<double> xs;
    for (int k = 0; k < rel->n_contacts(); ++k) {
      const contact_record& c = rel->contact(k);
      kinds.push_back(c.kind);
      at += is_VERTEX(c.entity) ? 'V' : is_EDGE(c.entity) ? 'E' : '?';
      xs.push_back(std::round(r.e->geometry()->equation().eval_position(c.param).x() * 1e6) / 1e6);
    }
    EXPECT_EQ(kinds, r.kinds);
    EXPECT_EQ(at, r.at);
    EXPECT_EQ(xs, r.xs);
    rel->lose();
    kill(r.e);
  }
  edge_entity_rel* bad = new edge_entity_rel(nullptr, f);
  EXPECT_NE(bad->status(), 0);
  bad->lose();
  EXPECT_TRUE(api_del_entity(sheet).ok());
}
