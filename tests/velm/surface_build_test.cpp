// Faces made from a surface alone: planar rectangles, spline faces, conical faces.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/query.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {
using std::numbers::pi;

std::vector<COEDGE*> coedges_of(const ENTITY* e) {
  ENTITY_LIST list;
  EXPECT_TRUE(api_get_coedges(e, list).ok());
  std::vector<COEDGE*> out;
  for (ENTITY* c = (list.init(), list.next()); c; c = list.next()) out.push_back(static_cast<COEDGE*>(c));
  return out;
}

int loop_count(const FACE* f) {
  int n = 0;
  for (const LOOP* l = f->loop(); l; l = l->next()) ++n;
  return n;
}

// The face sits in a sheet body that passes the model check; every coedge's
// pcurve lies on the face's surface at the edge curve's point of the same
// parameter, and starts at its start vertex; the loops pass the loop check.
BODY* expect_sound_face(FACE* face) {
  BODY* body = nullptr;
  EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, body).ok());
  EXPECT_EQ(model_problems(body), "");
  const surface& s = face->geometry()->equation();
  for (COEDGE* c : coedges_of(face)) {
    const PCURVE* p = c->geometry();
    EXPECT_NE(p, nullptr);
    if (!p) continue;
    const QELinterval r = c->param_range();
    const curve& edge_curve = c->edge()->geometry()->equation();
    for (int k = 0; k <= 8; ++k) {
      const double t = r.interpolate(k / 8.0);
      const double edge_t = c->sense() == c->edge()->sense() ? t : -t;
      EXPECT_LT(distance(s.eval_position(p->def().eval_position(t)), edge_curve.eval_position(edge_t)), 1e-9);
    }
    EXPECT_LT(distance(s.eval_position(p->def().eval_position(r.start_pt())), c->start_pos()), 1e-9);
  }
  int counts[5] = {0, 0, 0, 0, 0};
  EXPECT_TRUE(api_check_face_loops(face, counts).ok());
  return body;
}

spline build_test_spline() { return velm_test::spline_from(make_test_bs3_surface()); }

// A spline that is the exact form of the analytic surface over the box.
spline exact_spline(const surface& analytic, const QELpar_box& box) {
  bs3_surface bs = bs3_surface_exact_form(analytic, box);
  EXPECT_NE(bs, nullptr);
  return velm_test::spline_from(bs);
}
}  // namespace

TEST(SurfaceBuild, PlaneFaceIsRectangleCentredOnRoot) {
  FACE* face = nullptr;
  const QELvector n(0.0, 0.0, 2.0);
  ASSERT_TRUE(api_face_plane(QELposition(1, 2, 3), 4.0, 2.0, &n, face).ok());
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(loop_count(face), 1);
  EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
  EXPECT_EQ(coedges_of(face).size(), 4u);
  QELbox box;
  for (COEDGE* c : coedges_of(face)) box |= c->start_pos();
  EXPECT_NEAR(box.mid().x(), 1.0, 1e-12);
  EXPECT_NEAR(box.mid().y(), 2.0, 1e-12);
  EXPECT_NEAR(box.high().z() - box.low().z(), 0.0, 1e-12);
  EXPECT_NEAR(box.diagonal(), std::sqrt(20.0), 1e-9);
  EXPECT_EQ(point_in_face(QELposition(1.5, 2.5, 3.0), face), pfc_inside);
  BODY* body = expect_sound_face(face);
  api_del_entity(body);
}

TEST(SurfaceBuild, PlaneFaceRefusesEmptySizesAndZeroNormal) {
  FACE* face = nullptr;
  const QELvector zero;
  EXPECT_FALSE(api_face_plane(QELposition(), 0.0, 1.0, nullptr, face).ok());
  EXPECT_EQ(face, nullptr);
  EXPECT_FALSE(api_face_plane(QELposition(), 1.0, 1.0, &zero, face).ok());
  EXPECT_EQ(face, nullptr);
}

TEST(SurfaceBuild, SplineFaceIsBoundedByItsFourIsoLines) {
  const spline s = build_test_spline();
  FACE* face = make_face_spline(s);
  EXPECT_EQ(loop_count(face), 1);
  EXPECT_EQ(coedges_of(face).size(), 4u);
  EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
  BODY* body = expect_sound_face(face);
  api_del_entity(body);
}

TEST(SurfaceBuild, SplineFaceOverSubRangeAndLeftHandedSplineStayPeripheries) {
  spline s = build_test_spline();
  const QELpar_box part(QELinterval(0.25, 0.5), QELinterval(-1.0, 0.75));  // v cut to the surface
  FACE* face = make_face_spline(s, &part);
  QELpar_box got;
  ASSERT_TRUE(sg_get_face_par_box(face, got));
  EXPECT_NEAR(got.v_range().start_pt(), 0.0, 1e-9);
  EXPECT_NEAR(got.u_range().end_pt(), 0.5, 1e-9);
  api_del_entity(expect_sound_face(face));
  s.negate();
  face = make_face_spline(s);
  EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
  api_del_entity(expect_sound_face(face));
}

TEST(SurfaceBuild, ClosedSplineGetsSeparationLoopsAndPolesNoEdges) {
  // A cylinder closed in v: two circles, no seam.
  const cone cyl(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
  const spline tube = exact_spline(cyl, QELpar_box(QELinterval(0.0, 3.0), QELinterval(-pi, pi)));
  ASSERT_TRUE(tube.closed_v());
  FACE* face = make_face_spline(tube);
  EXPECT_EQ(loop_count(face), 2);
  for (const LOOP* l = face->loop(); l; l = l->next()) EXPECT_EQ(coedges_of(l).size(), 1u);
  api_del_entity(expect_sound_face(face));
  // A whole sphere: closed in v with poles at both u ends, so no loop at all;
  // its upper half keeps the equator only.
  const sphere ball(QELposition(1, 1, 1), 3.0);
  const spline globe = exact_spline(ball, QELpar_box(QELinterval(-pi / 2, pi / 2), QELinterval(-pi, pi)));
  face = make_face_spline(globe);
  EXPECT_EQ(face->loop(), nullptr);
  api_del_entity(expect_sound_face(face));
  const QELpar_box upper(QELinterval(0.0, pi / 2), QELinterval(-pi, pi));
  face = make_face_spline(globe, &upper);
  ASSERT_EQ(loop_count(face), 1);
  EXPECT_EQ(coedges_of(face).size(), 1u);
  EXPECT_NEAR(distance(coedges_of(face)[0]->start_pos(), QELposition(1, 1, 1)), 3.0, 1e-9);
  api_del_entity(expect_sound_face(face));
}

TEST(SurfaceBuild, SplineBodyHasOneSheetFace) {
  BODY* body = nullptr;
  ASSERT_TRUE(api_make_spline(build_test_spline(), body).ok());
  EXPECT_EQ(faces_of(body).size(), 1u);
  EXPECT_EQ(model_problems(body), "");
  EXPECT_FALSE(is_closed_solid_body(body));
  api_del_entity(body);
  velm_test_fail_next("make_face_spline", qelvelm_api_errmod.message_code(VELM_API_FAILED));
  EXPECT_FALSE(api_make_spline(build_test_spline(), body).ok());
  EXPECT_EQ(body, nullptr);
  velm_test_reset();
}

TEST(SurfaceBuild, ConeFaceFullTurnHasTwoCirclesAndStopsAtApex) {
  // Radius 5 at z = 0 narrowing along +z to its apex at z = 20/3.
  const cone c(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, -0.6, 0.8, 0.0);
  FACE* face = make_face_cone(c, 0.0, 360.0, 2.0);
  EXPECT_EQ(loop_count(face), 2);
  QELbox box;
  for (COEDGE* e : coedges_of(face)) box |= e->edge()->mid_pos();
  EXPECT_NEAR(box.high().z(), 2.0, 1e-9);
  api_del_entity(expect_sound_face(face));
  face = make_face_cone(c, 0.0, 2 * pi, 10.0);
  EXPECT_EQ(loop_count(face), 1);  // the apex gets no loop
  api_del_entity(expect_sound_face(face));
  // A part of a turn on a reversed cone: one periphery of four edges.
  cone r = c;
  r.negate();
  face = make_face_cone(r, 0.5, 2.0, -3.0);
  EXPECT_EQ(coedges_of(face).size(), 4u);
  EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
  api_del_entity(expect_sound_face(face));
  EXPECT_THROW(make_face_cone(c, 1.0, 0.5, 2.0), velm_exception);
}
