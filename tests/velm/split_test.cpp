// Edge splits: counts, partner rings and loop order, the model check, areas
// kept, attributes, exact roll-back; splits at curve discontinuities.
#include <gtest/gtest.h>

#include <numbers>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/api.hxx"
#include "velm/bspline.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/topology_edit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using std::numbers::pi;

namespace {
std::string records_of(BODY* b) {
  ENTITY_LIST l;
  l.add(b);
  return velm_test::saved_records(l);
}
VERTEX* vertex_at(const QELposition& p) { return new VERTEX(new APOINT(p)); }
}  // namespace

class SplitEdge : public velm_test::KernelTest {};

TEST_F(SplitEdge, EveryCoedgeGetsItsPieceInLoopOrder) {
  struct split_case {
    const char* name;
    BODY* (*make)();
    double fraction;  // of the edge's range
    bool by_param;
  };
  const split_case cases[] = {
      {"box edge by parameter", [] { return make_plane_box(10, 20, 30); }, 0.5, true},
      {"box edge by projection", [] { return make_plane_box(10, 20, 30); }, 0.25, false},
      {"closed circle of a cylinder", [] { return make_cylinder(5.0, 8.0); }, 0.3, true},
      {"seam of a cylinder", [] { return make_cylinder(5.0, 8.0); }, 0.6, false},
  };
  for (const split_case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* b = c.make();
    ENTITY_LIST edges;
    ASSERT_TRUE(api_get_edges(b, edges).ok());
    // The last edge in kernel order: a seam on the cylinder (two coedges in one loop).
    auto* e = static_cast<EDGE*>(edges[std::string(c.name).find("seam") != std::string::npos ? edges.count() - 1 : 0]);
    double s, t;
    sg_get_params(e, s, t);
    const double at = s + c.fraction * (t - s);
    const QELposition p = e->geometry()->equation().eval_position(at);
    const int n_coedges = count_coedges(b), n_edges = count_edges(b), n_vertices = count_vertices(b);
    const double area = ent_area_prop(b, 1e-6).area();
    const std::string before = records_of(b);
    const std::vector<COEDGE*> ring = edge_coedges(e);
    ASSERT_FALSE(ring.empty());

    EDGE* rest = nullptr;
    ENTITY_LIST pieces;
    auto split = [&] {
      VERTEX* v = vertex_at(p);
      rest = c.by_param ? sg_split_edge_at_vertex(e, v, at, &pieces) : sg_split_edge_at_vertex(e, v, &pieces);
    };
    EXPECT_FALSE(velm_api("split then fail", [&] { split(); velm_api_error_throw(VELM_BAD_ARGUMENT); }).ok());
    EXPECT_EQ(records_of(b), before);
    pieces.clear();
    ASSERT_TRUE(velm_api("split", split).ok());
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(model_problems(b), "");
    EXPECT_EQ(count_coedges(b), n_coedges + static_cast<int>(ring.size()));
    EXPECT_EQ(count_edges(b), n_edges + 1);
    EXPECT_EQ(count_vertices(b), n_vertices + 1);
    EXPECT_EQ(pieces.count(), static_cast<int>(ring.size()));
    velm_test::expect_close(e->end_pos(), p, 1e-9);
    velm_test::expect_close(rest->start_pos(), p, 1e-9);
    for (COEDGE* co : ring) {
      // The piece follows a forward coedge and precedes a reversed one.
      COEDGE* piece = co->sense() == FORWARD ? co->next() : co->previous();
      EXPECT_EQ(piece->edge(), rest);
      EXPECT_EQ(piece->owner(), co->owner());
    }
    EXPECT_NEAR(ent_area_prop(b, 1e-6).area(), area, 1e-6 * area);
    EXPECT_TRUE(api_del_entity(b).ok());
  }
}

TEST_F(SplitEdge, RefusedOutsideTheEdgeAndSplitAtKinks) {
  BODY* box = make_plane_box(10, 20, 30);
  ENTITY_LIST edges;
  ASSERT_TRUE(api_get_edges(box, edges).ok());
  auto* e = static_cast<EDGE*>(edges[0]);
  double s, t;
  sg_get_params(e, s, t);
  VERTEX* v = vertex_at(QELposition());
  EXPECT_THROW(sg_split_edge_at_vertex(e, v, s, nullptr), velm_exception);     // at its start
  EXPECT_THROW(sg_split_edge_at_vertex(e, v, t + 1.0, nullptr), velm_exception);  // beyond its end
  EXPECT_TRUE(api_del_entity(v).ok());
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());

  // A degree-1 polyline with two kinks: three pieces, meeting at the kinks.
  const QELposition pts[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 1}};
  const double knots[] = {0, 0, 1, 2, 3, 3};
  intcurve poly(bs3_curve_from_ctrlpts(1, 0, 0, 0, 4, pts, nullptr, QELresabs, 6, knots, 1e-10));
  EDGE* edge = nullptr;
  ASSERT_TRUE(api_make_edge_from_curve(&poly, edge).ok());
  ENTITY_LIST parts;
  ASSERT_TRUE(api_split_edge_at_disc(edge, parts, 1).ok());
  ASSERT_EQ(parts.count(), 3);
  for (int k = 0; k < 3; ++k) {
    auto* part = static_cast<EDGE*>(parts[k]);
    velm_test::expect_close(part->start_pos(), pts[k], 1e-9);
    velm_test::expect_close(part->end_pos(), pts[k + 1], 1e-9);
    if (k > 0) {
      EXPECT_EQ(part->start(), static_cast<EDGE*>(parts[k - 1])->end());
    }
  }
  ENTITY_LIST smooth;
  ASSERT_TRUE(api_split_edge_at_disc(static_cast<EDGE*>(parts[0]), smooth, 1).ok());
  EXPECT_EQ(smooth.count(), 1);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(api_del_entity(parts[k]).ok());
}
