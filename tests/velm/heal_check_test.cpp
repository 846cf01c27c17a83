// Short-edge and sliver detection, the sliver tolerance and curve tolerances;
// the repair tests' models pass the entity check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/heal.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {

// The findings' ids, in order; empty for a sound entity.
std::vector<int> findings_of(const ENTITY* e) {
  insanity_list* list = nullptr;
  EXPECT_TRUE(api_check_entity(e, list).ok());
  std::vector<int> ids;
  for (int i = 0; list && i < list->count(); ++i) ids.push_back(list->data(i)->get_insane_id());
  delete list;
  return ids;
}

}  // namespace

class HealCheck : public velm_test::KernelTest {};

TEST_F(HealCheck, RepairModelsHaveNoFindings) {
  const std::function<BODY*()> makers[] = {
      [] { return make_box_with_sliver(1e-3); },
      [] { return make_box_with_small_edge(1e-3); }, [] { return make_faulty_grid(7, 7, 1, 0, 0.01); },
      [] { return make_faulty_grid(7, 7, 1, 1, 0.01); },
      [] { return make_polyline_wire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}); }};
  for (const auto& make : makers) {
    BODY* b = make();
    EXPECT_EQ(findings_of(b), std::vector<int>{});
    EXPECT_EQ(model_problems(b), "");
    api_del_entity(b);
  }
}

TEST_F(HealCheck, ShortEdgesSliversAndCurveTolerances) {
  BODY* thin = make_polygon_sheet({{0, 0}, {50, 0}, {50, 0.004}, {0, 0.004}});
  BODY* square = make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  ENTITY_LIST shorts, slivers;
  EXPECT_TRUE(api_detect_short_edges(thin, shorts, 0.01, 0).ok());
  EXPECT_EQ(shorts.count(), 2);
  shorts.clear();
  EXPECT_TRUE(api_detect_short_edges(square, shorts, 0.01, 1).ok());
  EXPECT_EQ(shorts.count(), 0);
  EXPECT_TRUE(api_detect_sliver_faces(thin, slivers, 0.01, 1).ok());
  EXPECT_TRUE(api_detect_sliver_faces(square, slivers, 0.01, 1).ok());
  ASSERT_EQ(slivers.count(), 1);
  EXPECT_EQ(slivers[0], thin->lump()->shell()->face());

  EXPECT_DOUBLE_EQ(determine_sliver_tolerance(square), 10 * QELresabs);
  BODY* big = make_plane_box_at(QELposition(), 3000, 4000, 0.5);
  EXPECT_NEAR(determine_sliver_tolerance(big), 10 * QELresabs * distance(QELposition(), QELposition(3000, 4000, 0.5)) / 1000,
              1e-12);

  const straight a(QELposition(0, 0, 0), QELunit_vector(1, 0, 0));
  const straight c(QELposition(0, 0.1, 0), QELunit_vector(1, 0, 0));
  EXPECT_NEAR(calculate_curve_tolerance(a, QELinterval(0, 10), c, QELinterval(0, 10)), 0.1, 1e-12);
  // Beyond c's range the ends of c are nearest.
  EXPECT_NEAR(calculate_curve_tolerance(a, QELinterval(0, 10), c, QELinterval(0, 5)), std::hypot(5.0, 0.1), 1e-12);

  for (BODY* b : {thin, square, big}) api_del_entity(b);
}

// A vertex that also names an edge not ending at it (damaged input): the
// edge's replacement by a tolerant one, and back, updates only the vertices
// at the edge's ends, so the stale name outlives the edge. The queries round
// the vertex, and the tolerance work built on them, pass over it instead of
// reading the edge after it has gone.
TEST_F(HealCheck, AVertexNamingAReplacedEdgeThatDidNotEndAtItReadsNothingFreed) {
  BODY* box = make_plane_box();
  ENTITY_LIST edges;
  ASSERT_TRUE(api_get_edges(box, edges).ok());
  VERTEX* v = static_cast<EDGE*>(edges[0])->start();
  EDGE* away = nullptr;
  for (int i = 0; i < edges.count() && !away; ++i)
    if (auto* e = static_cast<EDGE*>(edges[i]); e->start() != v && e->end() != v) away = e;
  ASSERT_NE(away, nullptr);
  v->add_edge(away);
  TEDGE* tolerant = nullptr;
  ASSERT_TRUE(api_replace_edge_with_tedge(away, tolerant).ok());  // outermost: the edge is freed
  EDGE* plain = nullptr;
  ASSERT_TRUE(api_replace_tedge_with_edge(tolerant, plain).ok());
  ENTITY_LIST around;
  sg_q_edges_around_vertex(v, &around);
  EXPECT_EQ(around.count(), 3);
  EXPECT_FALSE(around.contains(plain));
  EXPECT_EQ(vertex_deviation(v), 0.0);
  api_bb_begin(true);
  update_tolerance(box);
  minimize_vertex_edges(v);
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(v->count_edges(), 1);
  EXPECT_TRUE(api_del_entity(box).ok());
}

// A tolerant edge whose curve meets its faces and vertices exactly becomes a
// plain edge again, keeping its coedges and attributes; one whose curve is
// off stays tolerant with the deviation as its tolerance.
TEST_F(HealCheck, TolerantEdgesThatFitBecomePlainAgain) {
  for (const double shift : {0.0, 1e-3}) {
    SCOPED_TRACE(shift);
    BODY* box = make_plane_box();
    ENTITY_LIST edges;
    ASSERT_TRUE(api_get_edges(box, edges).ok());
    TEDGE* tolerant = nullptr;
    ASSERT_TRUE(api_replace_edge_with_tedge(static_cast<EDGE*>(edges[0]), tolerant).ok());
    new ATTRIB_COL(tolerant, 4);
    if (shift > 0.0) {
      std::unique_ptr<curve> moved(tolerant->geometry()->equation().make_copy());
      *moved *= translate_transf(QELvector(0.0, shift, shift));
      tolerant->set_geometry(make_curve(*moved));
    }
    const VERTEX *start = tolerant->start(), *end = tolerant->end();
    api_bb_begin(true);
    stch_check_and_fix_tedges_in_entity(box);
    api_bb_end(outcome(), true, false);
    edges.clear();
    ASSERT_TRUE(api_get_edges(box, edges).ok());
    int tolerantEdges = 0;
    const EDGE* now = nullptr;
    for (int i = 0; i < edges.count(); ++i) {
      auto* e = static_cast<const EDGE*>(edges[i]);
      tolerantEdges += is_TEDGE(e);
      if (e->start() == start && e->end() == end) now = e;
    }
    EXPECT_EQ(edges.count(), 12);
    if (shift > 0.0) {
      EXPECT_EQ(tolerantEdges, 1);
      EXPECT_TRUE(velm_is_live_entity(tolerant));
      EXPECT_NEAR(tolerant->get_tolerance(), edge_deviation(tolerant), 1e-12);
      EXPECT_GT(tolerant->get_tolerance(), shift);
    } else {
      EXPECT_EQ(tolerantEdges, 0);
      EXPECT_EQ(model_problems(box), "");
      ASSERT_NE(now, nullptr);
      EXPECT_FALSE(is_TEDGE(now));
      auto* colour = static_cast<ATTRIB_COL*>(find_attrib(now, ATTRIB_TSL_TYPE, ATTRIB_COL_TYPE));
      ASSERT_NE(colour, nullptr);
      EXPECT_EQ(colour->colour(), 4);
    }
    api_del_entity(box);
  }
}

// A face whose surface is moved off its edges, the coedges without pcurves:
// the edges are off the face by the shift, and found so once it passes the
// edge tolerance, in every frame.
TEST_F(HealCheck, EdgesOffTheSurfaceOfAFaceWithoutPcurvesAreFound) {
  const int off_face = qelvelm_insanity_errmod.message_code(insanity_edge_off_face);
  for (const KernelFrame& frame : kernel_frames())
    for (const double shift : {1e-7, 1e-3}) {
      SCOPED_TRACE(std::string(frame.name) + (shift > 1e-6 ? " moved" : " within tolerance"));
      BODY* b = make_plane_box(1, 2, 3);
      api_apply_transf(b, frame.transform);
      api_change_body_trans(b, nullptr);
      strip_pcurves(b);
      FACE* f = faces_of(b)[0];
      std::unique_ptr<surface> moved(f->geometry()->equation().make_copy());
      *moved *= translate_transf(QELvector(moved->eval_normal(QELpar_pos())) * shift);
      f->set_geometry(make_surface(*moved));
      const std::vector<int> found = findings_of(b);
      // Each of the face's four coedges.
      EXPECT_EQ(std::count(found.begin(), found.end(), off_face), shift > 1e-6 ? 4 : 0);
      EXPECT_EQ(found.size(), std::size_t(std::count(found.begin(), found.end(), off_face)));
      api_del_entity(b);
    }
}

TEST_F(HealCheck, PointsAndRangesThatAreNoNumbersAreFound) {
  // NaN passes every comparison of a gap with a tolerance: without a finding
  // of its own, such a vertex or edge would check sound.
  const int not_finite = qelvelm_insanity_errmod.message_code(insanity_not_finite);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  struct Spoil {
    const char* what;
    std::function<void(BODY*)> apply;
  };
  const auto vertexAt = [](BODY* b, const QELposition& p) {
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    static_cast<VERTEX*>(vertices[1])->geometry()->set_coords(p);
  };
  const auto edgeOver = [](BODY* b, double low, double high) {
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    const QELinterval range(low, high);
    static_cast<EDGE*>(edges[0])->set_param_range(&range);
  };
  const Spoil spoils[] = {
      {"vertex at NaN", [&](BODY* b) { vertexAt(b, QELposition(nan, 0, 0)); }},
      {"vertex at infinity", [&](BODY* b) { vertexAt(b, QELposition(1, inf, 0)); }},
      {"edge over [0, inf)", [&](BODY* b) { edgeOver(b, 0, inf); }},
      {"edge over [0, NaN]", [&](BODY* b) { edgeOver(b, 0, nan); }},
      {"edge over [-inf, 1]", [&](BODY* b) { edgeOver(b, -inf, 1); }},
  };
  for (const Spoil& s : spoils)
    for (bool sheet : {false, true}) {
      SCOPED_TRACE(std::string(s.what) + (sheet ? " on a sheet" : " on a wire"));
      BODY* b = sheet ? make_polygon_sheet({{0, 0}, {2, 0}, {2, 1}, {0, 1}})
                      : make_polyline_wire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
      ASSERT_EQ(findings_of(b), std::vector<int>{});
      s.apply(b);
      const std::vector<int> found = findings_of(b);
      EXPECT_NE(std::find(found.begin(), found.end(), not_finite), found.end());
      api_del_entity(b);
    }
}

namespace {

// Where a pcurve made through chosen points of its coedge's range runs: the
// fractions of the range it passes through, and the one of them it passes
// moved off the surface's true place.
struct StrayLayout {
  const char* name;
  std::vector<double> through;
  std::size_t moved;
};

// Through 33 even steps (those the checks sampled) and between them a third
// of the way or halfway; or a narrow bump between knots of its own, off every
// even step.
std::vector<StrayLayout> strayLayouts() {
  const auto evenWith = [](double between) {
    std::vector<double> f;
    for (int k = 0; k <= 32; ++k) {
      f.push_back(k / 32.0);
      if (k < 32) f.push_back((k + between) / 32.0);
    }
    return f;
  };
  return {{"halfway between even steps", evenWith(0.5), 2 * 13 + 1},
          {"a third of the way between even steps", evenWith(0.3), 2 * 21 + 1},
          {"a narrow bump off every even step", {0.0, 0.371, 0.3715, 0.372, 1.0}, 2}};
}

// The coedge's pcurve replaced by a degree-one B-spline through its own
// points at the layout's fractions, the moved one shifted by (d, d).
void strayPCurve(COEDGE* c, const StrayLayout& layout, double d) {
  const pcurve old = c->geometry()->def();
  const QELinterval r = c->param_range();
  std::vector<QELposition> points;
  std::vector<double> knots;
  for (std::size_t i = 0; i < layout.through.size(); ++i) {
    const double t = r.interpolate(layout.through[i]);
    const QELpar_pos uv = old.eval_position(t);
    const double by = i == layout.moved ? d : 0.0;
    points.emplace_back(uv.u + by, uv.v + by, 0.0);
    knots.push_back(t);
    if (i == 0 || i + 1 == layout.through.size()) knots.push_back(t);
  }
  bs2_curve b = bs2_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(points.size()), points.data(), nullptr, QELresabs,
                                       static_cast<int>(knots.size()), knots.data(), QELresnor);
  ASSERT_NE(b, nullptr);
  c->set_geometry(new PCURVE(pcurve(b, 0.0, old.surface())));
}

// The pcurve through the surface against the edge's curve at the coedge's
// parameter t.
double gapAt(const COEDGE* c, double t) {
  const EDGE* e = c->edge();
  const double sign = c->sense() == e->sense() ? 1.0 : -1.0;
  const surface& s = c->loop()->face()->geometry()->equation();
  return distance(e->geometry()->equation().eval_position(sign * t),
                  s.eval_position(c->geometry()->def().eval_position(t)));
}

}  // namespace

// A pcurve that passes through its edge's points at every even step the
// deviation sampled, and strays between them (at their middles, a third of
// the way, or in a narrow bump off them all), on each use of a cylinder's
// side in every frame: the measure of a pcurve against its edge finds the
// stray, and with it the entity check (coedge off its edge), the edge's
// deviation and the kernel's edge check, which makes the edge tolerant
// enough to cover it. Every sample of the deviation fell on a point the
// pcurve passes through, and it found nothing; the entity check's nine
// even steps did too.
TEST_F(HealCheck, APCurveThatStraysBetweenThePointsItPassesThroughIsFound) {
  for (const KernelFrame& frame : kernel_frames())
    for (const StrayLayout& layout : strayLayouts())
      for (std::size_t use = 0; use < 4; ++use) {
        SCOPED_TRACE(std::string(frame.name) + ", " + layout.name + ", use " + std::to_string(use));
        BODY* b = make_cylinder();
        ASSERT_TRUE(api_apply_transf(b, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(b).ok());
        ASSERT_EQ(findings_of(b), std::vector<int>{});
        FACE* side = nullptr;
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        for (int i = 0; i < faces.count(); ++i)
          if (static_cast<FACE*>(faces[i])->geometry()->equation().type() == 2) side = static_cast<FACE*>(faces[i]);
        ASSERT_NE(side, nullptr);
        COEDGE* c = side->loop()->start();
        for (std::size_t k = 0; k < use; ++k) c = c->next();
        EXPECT_LT(pcurve_deviation(c), 1e-9);
        ASSERT_NO_FATAL_FAILURE(strayPCurve(c, layout, 1e-3));
        const QELinterval r = c->param_range();
        const double peak = gapAt(c, r.interpolate(layout.through[layout.moved]));
        ASSERT_GT(peak, 1e-4);
        // Where the checks looked, the pcurve lies on the edge.
        for (int k = 0; k <= 32; ++k) ASSERT_LT(gapAt(c, r.interpolate(k / 32.0)), 1e-9) << k;
        EXPECT_GE(pcurve_deviation(c), 0.5 * peak);
        EXPECT_LE(pcurve_deviation(c), peak + 1e-9);
        EXPECT_GE(edge_deviation(c->edge()), 0.5 * peak);
        // The kernel's own check finds the coedge off its edge, and only that.
        EXPECT_EQ(findings_of(b), std::vector<int>{qelvelm_insanity_errmod.message_code(insanity_coedge_off_edge)});
        ENTITY_LIST edges, bad, made;
        edges.add(c->edge());
        ENTITY* worst = nullptr;
        double error = 0.0;
        ASSERT_TRUE(api_check_edge_errors(edges, bad, worst, error, QELresabs, false, &made).ok());
        EXPECT_EQ(bad.count(), 1);
        ASSERT_EQ(made.count(), 1);
        EXPECT_GE(static_cast<TEDGE*>(made[0])->get_tolerance(), 0.5 * peak);
        api_del_entity(b);
      }
}
