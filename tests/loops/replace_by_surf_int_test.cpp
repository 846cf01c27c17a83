// Edge curves swapped for surface-intersection curves and put back.
#include <gtest/gtest.h>

#include <string>

#include "loops/replace_by_surf_int.hxx"
#include "support/loop_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

EDGE* first_edge(BODY* body) { return faces_of(body).front()->loop()->start()->edge(); }

const intcurve* as_intcurve(const EDGE* e) {
  const curve& c = e->geometry()->equation();
  return c.type() == 11 ? static_cast<const intcurve*>(&c) : nullptr;
}

}  // namespace

TEST(ReplaceBySurfInt, OneWorkerPerEdgeAndTheOwnCurveComesBack) {
  for (bool sphere : {false, true}) {
    SCOPED_TRACE(sphere ? "circle on a sphere" : "straight on a plane");
    std::unique_ptr<surface> srf(sphere ? test_sphere().make_copy() : test_plane().make_copy());
    BODY* body = make_iso_rect_sheet(*srf, {sphere ? rect(-0.5, 0.5, 0.2, 1.4, true) : rect(0, 4, 0, 2, true)});
    EDGE* edge = first_edge(body);
    CURVE* own = edge->geometry();
    const QELinterval range = edge->param_range();
    const QELposition mid = own->equation().eval_position(range.mid_pt());
    Ve_ReplaceBySurfInt::replaceEdgeCurve(edge, srf.get());
    Ve_ReplaceBySurfInt::replaceEdgeCurve(edge, srf.get());
    EXPECT_EQ(Ve_ReplaceBySurfInt::getWorkerMap().Count(), 1);
    ASSERT_NE(edge->geometry(), own);
    const intcurve* ic = as_intcurve(edge);
    ASSERT_NE(ic, nullptr);
    EXPECT_EQ(ic->get_int_cur().type(), intersection_int_cur::id);
    EXPECT_NE(ic->surf1(), nullptr);
    EXPECT_NE(ic->pcur1(), nullptr);
    // The stand-in lies on the old curve.
    EXPECT_LE(distance(ic->eval_position(range.mid_pt()), mid), 1e-6);
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    EXPECT_EQ(edge->geometry(), own);
    EXPECT_TRUE(edge->param_range() == range);
    EXPECT_EQ(own->use_count(), 1);
    api_del_entity(body);
  }
}

TEST(ReplaceBySurfInt, ReversedEdgeIsApproximatedOverItsCurveRange) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 2, true)});
  EDGE* edge = first_edge(body);
  // The same straight run the other way: the edge runs against its curve.
  STRAIGHT* reversed = new STRAIGHT(straight(QELposition(4, 0, 0), QELunit_vector(-1, 0, 0)));
  edge->set_geometry(reversed);
  edge->set_sense(REVERSED);
  const QELinterval range(0.0, 4.0);
  const QELinterval on_curve = -range;
  edge->set_param_range(&on_curve);
  {
    Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker worker(edge, &faces_of(body).front()->geometry()->equation());
    EXPECT_TRUE(worker.replaced());
    const intcurve* ic = as_intcurve(edge);
    ASSERT_NE(ic, nullptr);
    // The edge's range [-4, 0] is [0, 4] on the curve: the replacement spans
    // that part (a line's other part would give the same points beyond its ends).
    EXPECT_LE(distance(ic->eval_position(0.0), QELposition(4, 0, 0)), 1e-6);
    EXPECT_LE(distance(ic->eval_position(4.0), QELposition(0, 0, 0)), 1e-6);
    const QELinterval made = ic->param_range();
    EXPECT_NEAR(made.start_pt(), 0.0, 1e-9);
    EXPECT_NEAR(made.end_pt(), 4.0, 1e-9);
  }
  EXPECT_EQ(edge->geometry(), reversed);
  api_del_entity(body);
}

TEST(ReplaceBySurfInt, ApproximateIntcurvesStayExactOnesAreReplaced) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 2, true)});
  EDGE* edge = first_edge(body);
  const surface& srf = faces_of(body).front()->geometry()->equation();
  const QELinterval range = edge->param_range();
  bs3_curve exact = bs3_curve_make_cur(edge->geometry()->equation(), range.start_pt(), range.end_pt(), QELresabs);
  bs3_curve approximate = bs3_curve_copy(exact);
  edge->set_geometry(new INTCURVE(intcurve(exact)));
  {
    Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker worker(edge, &srf);
    EXPECT_TRUE(worker.replaced());
  }
  edge->set_geometry(new INTCURVE(intcurve(approximate, 0.01, &srf, nullptr, nullptr, nullptr)));
  CURVE* kept = edge->geometry();
  {
    Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker worker(edge, &srf);
    EXPECT_FALSE(worker.replaced());
    EXPECT_EQ(edge->geometry(), kept);
  }
  api_del_entity(body);
}

TEST(ReplaceBySurfInt, ThirteenthEdgeDoublesTheMap) {
  std::vector<BODY*> bodies;
  for (int i = 0; i < 4; ++i) bodies.push_back(make_iso_rect_sheet(test_plane(), {rect(0, 1, i, i + 1, true)}));
  int added = 0;
  for (BODY* b : bodies)
    for (COEDGE* c = faces_of(b).front()->loop()->start(); added < 13; c = c->next()) {
      Ve_ReplaceBySurfInt::replaceEdgeCurve(c->edge(), &faces_of(b).front()->geometry()->equation());
      ++added;
      EXPECT_EQ(Ve_ReplaceBySurfInt::getWorkerMap().Capacity(), added < 13 ? 17 : 34);
      if (c->next() == faces_of(b).front()->loop()->start()) break;
    }
  EXPECT_EQ(added, 13);
  Ve_ReplaceBySurfInt::getWorkerMap().Clear();
  for (BODY* b : bodies) api_del_entity(b);
}

// The stand-in curve's pcurve starts in the surface's principal range, on the
// edge's start, whichever side of a square on the torus it replaces: the
// sides at v = pi start on the seam's upper copy, which the fit's shift moves
// to -pi once (moved twice, they would start a whole period below the range).
TEST(ReplaceBySurfInt, ThePcurveStartsInThePrincipalRangeOnEverySide) {
  const torus srf = test_torus();
  const QELpar_box principal = srf.param_range();
  const QELpar_box squares[] = {QELpar_box(QELinterval(1.0, 2.0), QELinterval(kPi - 0.5, kPi)),
                                QELpar_box(QELinterval(1.0, 2.0), QELinterval(-kPi, -kPi + 0.5)),
                                QELpar_box(QELinterval(kPi - 0.5, kPi), QELinterval(kPi - 0.5, kPi)),
                                QELpar_box(QELinterval(-kPi, -kPi + 0.5), QELinterval(-kPi, -kPi + 0.5))};
  for (const QELpar_box& square : squares)
    for (const bool ccw : {true, false}) {
    SCOPED_TRACE(testing::Message() << "u from " << square.u_range().start_pt() << ", v from "
                                    << square.v_range().start_pt() << (ccw ? ", ccw" : ", cw"));
    BODY* body = make_iso_rect_sheet(srf, {iso_rect{square, ccw}});
    const surface& own = faces_of(body).front()->geometry()->equation();
    COEDGE* first = faces_of(body).front()->loop()->start();
    COEDGE* c = first;
    int side = 0;
    do {
      SCOPED_TRACE("side " + std::to_string(side++));
      EDGE* edge = c->edge();
      Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker worker(edge, &own);
      ASSERT_TRUE(worker.replaced());
      const intcurve* ic = as_intcurve(edge);
      ASSERT_NE(ic, nullptr);
      ASSERT_NE(ic->pcur1(), nullptr);
      QELpar_pos start;
      bs2_curve_eval(bs2_curve_range(ic->pcur1()).start_pt(), ic->pcur1(), start);
      EXPECT_GE(start.u, principal.u_range().start_pt() - 1e-9);
      EXPECT_LE(start.u, principal.u_range().end_pt() + 1e-9);
      EXPECT_GE(start.v, principal.v_range().start_pt() - 1e-9);
      EXPECT_LE(start.v, principal.v_range().end_pt() + 1e-9);
      QELinterval range = edge->param_range();
      if (edge->sense() == REVERSED) range = -range;
      EXPECT_LE(distance(own.eval_position(start), edge->geometry()->equation().eval_position(range.start_pt())), 1e-6);
      c = c->next();
    } while (c != first);
    api_del_entity(body);
  }
}
