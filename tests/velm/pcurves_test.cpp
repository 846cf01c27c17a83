// Pcurve simplification and trimming of spline faces to their loops.
#include <gtest/gtest.h>

#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {
// A degree-2 pcurve running along the line from a to b at even speed.
PCURVE* straight_quadratic(const QELpar_pos& a, const QELpar_pos& b, const QELinterval& r, const surface& s) {
  const QELposition pts[3] = {{a.u, a.v, 0}, {0.5 * (a.u + b.u), 0.5 * (a.v + b.v), 0}, {b.u, b.v, 0}};
  const double knots[6] = {r.start_pt(), r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt(), r.end_pt()};
  return new PCURVE(pcurve(bs2_curve_from_ctrlpts(2, 0, 0, 0, 3, pts, nullptr, QELresabs, 6, knots, QELresnor), 0.0, s));
}

// A face on the spline of make_test_bs3_surface whose one loop is the square
// [lo, hi]^2 in parameters (pcurves only; the edges carry no curve).
BODY* spline_patch(double lo, double hi) {
  const spline s = velm_test::spline_from(make_test_bs3_surface());
  const QELpar_pos c[4] = {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}};
  std::vector<COEDGE*> ring;
  std::vector<VERTEX*> v;
  for (const QELpar_pos& p : c) v.push_back(new VERTEX(new APOINT(s.eval_position(p))));
  const QELinterval r(0.0, 1.0);
  for (int k = 0; k < 4; ++k) {
    auto* e = new EDGE(v[k], v[(k + 1) % 4], nullptr, FORWARD, EDGE_cvty_unknown, &r);
    auto* co = new COEDGE(e, FORWARD, nullptr, nullptr);
    co->set_geometry(new PCURVE(pcurve(linear_bs2(c[k], c[(k + 1) % 4], r), 0.0, s)));
    ring.push_back(co);
  }
  for (int k = 0; k < 4; ++k) {
    ring[k]->set_next(ring[(k + 1) % 4]);
    ring[(k + 1) % 4]->set_previous(ring[k]);
  }
  return new BODY(new LUMP(new SHELL(new FACE(new LOOP(ring[0], nullptr), nullptr, new SPLINE(s), FORWARD), nullptr), nullptr));
}
}  // namespace

TEST(PcurveSimplify, StraightPcurveBecomesALineOthersStay) {
  BODY* box = make_plane_box();
  FACE* f = faces_of(box)[0];
  COEDGE* c = f->loop()->start();
  PCURVE* linear = c->geometry();
  ASSERT_TRUE(api_simplify_pcurve(c, 1e-6).ok());
  EXPECT_EQ(c->geometry(), linear);  // a line already

  const pcurve& old = linear->def();
  QELinterval r = old.param_range();
  QELpar_pos a = old.eval_position(r.start_pt()), b = old.eval_position(r.end_pt());
  c->set_geometry(straight_quadratic(a, b, r, old.surface()));
  PCURVE* quadratic = c->geometry();
  ASSERT_TRUE(api_simplify_pcurve(c, 1e-6).ok());
  ASSERT_NE(c->geometry(), quadratic);
  EXPECT_EQ(bs2_curve_degree(c->geometry()->def().cur()), 1);
  const pcurve& now = c->geometry()->def();
  EXPECT_LT((now.eval_position(r.end_pt()) - b).len(), 1e-12);

  // A bent pcurve keeps its entity.
  const QELposition bent[3] = {{a.u, a.v, 0}, {(a.u + b.u) / 2 + 1.0, (a.v + b.v) / 2 + 1.0, 0}, {b.u, b.v, 0}};
  const double knots[6] = {r.start_pt(), r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt(), r.end_pt()};
  c->set_geometry(new PCURVE(pcurve(bs2_curve_from_ctrlpts(2, 0, 0, 0, 3, bent, nullptr, QELresabs, 6, knots, QELresnor), 0.0,
                                    now.surface())));
  PCURVE* curved = c->geometry();
  ASSERT_TRUE(api_simplify_pcurve(c, 1e-3).ok());
  EXPECT_EQ(c->geometry(), curved);
  EXPECT_FALSE(api_simplify_pcurve(nullptr, 1e-3).ok());
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(PcurveTrim, SplineFaceShrinksToItsLoops) {
  BODY* patch = spline_patch(0.25, 0.75);
  FACE* f = faces_of(patch)[0];
  const QELposition mid = f->geometry()->equation().eval_position(QELpar_pos(0.5, 0.5));
  SURFACE* whole = f->geometry();
  whole->add();  // keep it to compare
  trim_face(f, "none");
  ASSERT_NE(f->geometry(), whole);
  QELpar_box r = f->geometry()->equation().param_range();
  EXPECT_NEAR(r.u_range().start_pt(), 0.25, 1e-9);
  EXPECT_NEAR(r.v_range().end_pt(), 0.75, 1e-9);
  EXPECT_LT(distance(f->geometry()->equation().eval_position(QELpar_pos(0.5, 0.5)), mid), 1e-9);
  whole->remove();

  BODY* other = spline_patch(0.25, 0.75);
  FACE* g = faces_of(other)[0];
  trim_face(g);
  r = g->geometry()->equation().param_range();
  EXPECT_NEAR(r.u_range().start_pt(), 0.245, 1e-9);
  EXPECT_NEAR(r.u_range().end_pt(), 0.755, 1e-9);

  // A face over the whole surface, and analytic faces, keep their surfaces.
  BODY* sheet = make_spline_sheet();
  SURFACE* kept = faces_of(sheet)[0]->geometry();
  trim_face(faces_of(sheet)[0]);
  EXPECT_EQ(faces_of(sheet)[0]->geometry(), kept);
  BODY* box = make_plane_box();
  SURFACE* flat = faces_of(box)[0]->geometry();
  trim_body_faces(box, "none");
  EXPECT_EQ(faces_of(box)[0]->geometry(), flat);
  for (BODY* b : {patch, other, sheet, box}) EXPECT_TRUE(api_del_entity(b).ok());
}
