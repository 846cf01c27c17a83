// Points in faces and loops: inside, outside, in holes, on the boundary,
// across seams and round poles.
#include <gtest/gtest.h>

#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"

using namespace testkit;

namespace {
point_face_containment in(const FACE* f, double x, double y, double z, const QELtransf* t = nullptr) {
  return point_in_face(QELposition(x, y, z), f, t);
}
}  // namespace

TEST(ContainmentPointInFace, SquareWithHole) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  EXPECT_EQ(in(f, 2, 2, 0), pfc_inside);
  EXPECT_EQ(in(f, 2, 2, 3), pfc_inside);  // judged at its foot on the plane
  EXPECT_EQ(in(f, 5, 5, 0), pfc_outside);  // in the hole
  EXPECT_EQ(in(f, 12, 5, 0), pfc_outside);
  EXPECT_EQ(in(f, -0.001, 5, 0), pfc_outside);
  EXPECT_EQ(in(f, 10, 5, 0), pfc_boundary);
  EXPECT_EQ(in(f, 0, 0, 0), pfc_boundary);  // a vertex
  EXPECT_EQ(in(f, 4, 5, 0), pfc_boundary);  // the hole's edge
  EXPECT_EQ(in(f, 3.999, 5, 0), pfc_inside);
  EXPECT_EQ(in(f, 4.001, 5, 0), pfc_outside);

  LOOP* hole = f->loop()->next();
  EXPECT_EQ(point_in_loop(QELposition(5, 5, 0), hole), pfc_outside);
  EXPECT_EQ(point_in_loop(QELposition(20, 5, 0), hole), pfc_inside);  // the material side of a hole
  EXPECT_EQ(point_in_loop(QELposition(5, 5, 0), f->loop()), pfc_inside);
  EXPECT_EQ(point_in_loop(QELposition(20, 5, 0), f->loop()), pfc_outside);
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(ContainmentPointInFace, CornersOfAnLShape) {
  // The reflex corner at (5, 5): near it both segments must be asked.
  BODY* l = make_polygon_sheet({{0, 0}, {10, 0}, {10, 5}, {5, 5}, {5, 10}, {0, 10}});
  FACE* f = faces_of(l)[0];
  EXPECT_EQ(in(f, 6, 6, 0), pfc_outside);
  EXPECT_EQ(in(f, 5.5, 5.2, 0), pfc_outside);
  EXPECT_EQ(in(f, 4.9, 4.9, 0), pfc_inside);
  EXPECT_EQ(in(f, 5.2, 4.8, 0), pfc_inside);
  EXPECT_EQ(in(f, 11, 11, 0), pfc_outside);  // nearest the convex corner (10, 5)... and beyond
  EXPECT_EQ(in(f, 10.5, 5.5, 0), pfc_outside);
  EXPECT_EQ(in(f, 9.9, 4.9, 0), pfc_inside);
  EXPECT_TRUE(api_del_entity(l).ok());
}

TEST(ContainmentPointInFace, CylinderBandAcrossItsSeam) {
  BODY* band = make_cylinder_band(5.0, 8.0);
  FACE* f = faces_of(band)[0];
  EXPECT_EQ(in(f, 5, 0, 4), pfc_inside);
  EXPECT_EQ(in(f, -5, 0, 4), pfc_inside);        // v = +-pi
  EXPECT_EQ(in(f, -5, -0.001, 4), pfc_inside);
  EXPECT_EQ(in(f, 0, 5, 10), pfc_outside);
  EXPECT_EQ(in(f, 0, -5, -1), pfc_outside);
  EXPECT_EQ(in(f, 5, 0, 0), pfc_boundary);
  EXPECT_EQ(in(f, 0, 5, 8), pfc_boundary);
  EXPECT_TRUE(api_del_entity(band).ok());
}

TEST(ContainmentPointInFace, SphereCapHoldsItsPole) {
  BODY* cap = make_hemisphere(4.0);
  FACE* f = faces_of(cap)[0];
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(in(f, 0, 0, 4), pfc_inside);
    EXPECT_EQ(in(f, 0, 0, -4), pfc_outside);
    EXPECT_EQ(in(f, 0, 4, 0.01), pfc_inside);
    EXPECT_EQ(in(f, 0, 4, -0.01), pfc_outside);
    EXPECT_EQ(in(f, -4, 0, 0), pfc_boundary);
    strip_pcurves(cap);
  }
  EXPECT_TRUE(api_del_entity(cap).ok());
}

TEST(ContainmentPointInFace, BodyTransformAndCachedBound) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  QELtransf t = translate_transf(QELvector(100, 0, 0));
  EXPECT_EQ(in(f, 102, 2, 0, &t), pfc_inside);
  EXPECT_EQ(in(f, 2, 2, 0, &t), pfc_outside);
  // Outside a cached bound a point is outside without further ado.
  f->set_bound(new QELbox(QELposition(0, 0, 0), QELposition(3, 3, 0)));
  EXPECT_EQ(in(f, 8, 8, 0), pfc_outside);
  EXPECT_EQ(in(f, 2, 2, 0), pfc_inside);
  f->set_bound(nullptr);
  EXPECT_EQ(in(f, 8, 8, 0), pfc_inside);

  velm_test_reset();
  velm_test_fail_call("point_in_face", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
  EXPECT_THROW(in(f, 2, 2, 0), velm_exception);
  velm_test_reset();
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(ContainmentPointInFace, ConeCapWithoutApexLoop) {
  BODY* cap = make_cone_cap();
  FACE* f = faces_of(cap)[0];
  const QELposition apex = static_cast<const cone&>(f->geometry()->equation()).get_apex();
  EXPECT_NEAR(apex.z(), 20.0 / 3.0, 1e-9);
  int type = 0, counts[5];
  ASSERT_TRUE(api_loop_type(f->loop(), type).ok());
  EXPECT_EQ(type, loop_type_v_sep);
  EXPECT_TRUE(api_check_face_loops(f, counts).ok());  // the apex closes the cap
  // The face box reaches only as far as the loop, so the apex lies outside it...
  QELbox box = get_face_box(f);
  EXPECT_FALSE(box >> apex);
  // ...yet the apex is inside the face, with or without a bound that holds it.
  EXPECT_EQ(point_in_face(apex, f), pfc_inside);
  f->set_bound(new QELbox(box | QELbox(apex)));
  EXPECT_EQ(point_in_face(apex, f), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(0, 4.4, 1.0), f), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(0, 5.75, -1.0), f), pfc_outside);
  f->set_bound(box.empty() ? nullptr : new QELbox(box));
  EXPECT_EQ(point_in_face(apex, f), pfc_outside);  // a bound without the apex shuts it out
  EXPECT_TRUE(api_del_entity(cap).ok());
}
