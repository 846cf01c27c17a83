// Loop types, face-loop counts and boxes, judged in parameter space.
#include <gtest/gtest.h>

#include <numbers>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using velm_test::loop_type;
using std::numbers::pi;

namespace {
int external(const LOOP* l) {
  int ext = -1;
  EXPECT_TRUE(api_loop_external(l, ext).ok());
  return ext;
}
std::vector<int> face_loop_counts(const FACE* f, bool expect_ok = true) {
  int counts[5] = {-1, -1, -1, -1, -1};
  outcome o = api_check_face_loops(f, counts);
  EXPECT_EQ(o.ok(), expect_ok) << o.error_number();
  if (!expect_ok) {
    EXPECT_EQ(o.error_number(), qelvelm_api_errmod.message_code(VELM_BAD_FACE_LOOPS));
  }
  return {counts, counts + 5};
}
}  // namespace

TEST(QueryLoopType, HoleRunsTheOtherWayAndFollowsTheFaceSense) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  LOOP* outer = f->loop();
  LOOP* hole = outer->next();
  EXPECT_EQ(loop_type(outer), loop_type_periphery);
  EXPECT_EQ(loop_type(hole), loop_type_hole);
  EXPECT_EQ(external(outer), 1);
  EXPECT_EQ(external(hole), 0);
  EXPECT_EQ(hole->get_classification(), loop_type_hole);  // the installed hook
  EXPECT_EQ(face_loop_counts(f), (std::vector<int>{1, 1, 0, 0, 0}));

  // Reversing the face turns both sense and loops: the types stay.
  ASSERT_TRUE(api_reverse_face(f).ok());
  EXPECT_EQ(loop_type(outer), loop_type_periphery);
  EXPECT_EQ(loop_type(hole), loop_type_hole);
  // Flipping the sense alone makes the loops run the wrong way round.
  f->set_sense(f->sense() == FORWARD ? REVERSED : FORWARD);
  EXPECT_EQ(loop_type(outer), loop_type_hole);
  EXPECT_EQ(loop_type(hole), loop_type_periphery);
  EXPECT_EQ(model_problems(sheet), "");
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

// Every loop of each kind's first face (every face of a box), read from
// pcurves and again from the edge curves. A band that closes nowhere loses its
// soundness with its second loop; a sphere or an apple closes at its poles, so
// one separation loop bounds a face there.
TEST(QueryLoopType, TypesExternalsAndCountsByKind) {
  const int P = loop_type_periphery, V = loop_type_v_sep, U = loop_type_u_sep;
  using ints = std::vector<int>;
  struct kind_case {
    const char* name;
    BODY* body;
    ints types, externals, counts, lonely;  // lonely: the counts with the second loop unhooked
  } cases[] = {
      {"box", make_plane_box(), {P}, {1}, {1, 0, 0, 0, 0}, {}},
      {"seamed cylinder wall", make_cylinder(), {P}, {1}, {1, 0, 0, 0, 0}, {}},
      {"cylinder band", make_cylinder_band(), {V, V}, {1, 0}, {0, 0, 2, 0, 0}, {0, 0, 1, 0, 0}},
      {"sphere cap", make_hemisphere(), {V}, {1}, {0, 0, 1, 0, 0}, {}},
      {"torus band round the axis", make_torus_band(true), {V, V}, {1, 0}, {0, 0, 2, 0, 0}, {0, 0, 1, 0, 0}},
      {"torus band round the tube", make_torus_band(false), {U, U}, {1, 0}, {0, 0, 0, 2, 0}, {0, 0, 0, 1, 0}},
      {"apple", make_apple_cap(), {V}, {1}, {0, 0, 1, 0, 0}, {}},
  };
  for (kind_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FACE*> faces = faces_of(c.body);
    if (std::string(c.name) != "box") faces.resize(1);
    for (int pass = 0; pass < 2; ++pass) {
      for (FACE* f : faces) {
        LOOP* l = f->loop();
        for (std::size_t k = 0; k < c.types.size(); ++k, l = l->next()) {
          ASSERT_NE(l, nullptr);
          EXPECT_EQ(loop_type(l), c.types[k]) << k;
          EXPECT_EQ(external(l), c.externals[k]) << k;
        }
        EXPECT_EQ(l, nullptr);
        EXPECT_EQ(face_loop_counts(f), c.counts);
      }
      strip_pcurves(c.body);
    }
    if (!c.lonely.empty()) {
      FACE* f = faces[0];
      LOOP* second = f->loop()->next();
      f->loop()->set_next(nullptr);
      EXPECT_EQ(face_loop_counts(f, false), c.lonely);
      f->loop()->set_next(second);
    }
    EXPECT_TRUE(api_del_entity(c.body).ok());
  }
}

// A spline tube closed round v, with a smooth seam (periodic) and with a
// corner at the seam (closed only): the two rims are separation loops both
// ways, whether read from pcurves or from the edge curves.
TEST(QueryLoopType, SplineTubeRimsSeparateWhetherPeriodicOrOnlyClosed) {
  for (bool periodic : {true, false}) {
    SCOPED_TRACE(periodic ? "periodic" : "closed");
    bs3_surface bs = make_tube_bs3_surface(periodic);
    ASSERT_NE(bs, nullptr);
    EXPECT_EQ(bs3_surface_periodic_v(bs), periodic ? 1 : 0);
    EXPECT_EQ(bs3_surface_closed_v(bs), 1);
    const spline s(bs);
    bs3_surface_delete(bs);
    EXPECT_EQ(s.periodic_v(), periodic);
    FACE* f = make_face_spline(s);
    BODY* tube = new BODY(new LUMP(new SHELL(f, nullptr), nullptr));
    for (int pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(pass == 0 ? "pcurves" : "edge curves");
      ASSERT_NE(f->loop(), nullptr);
      ASSERT_NE(f->loop()->next(), nullptr);
      EXPECT_EQ(loop_type(f->loop()), loop_type_v_sep);
      EXPECT_EQ(loop_type(f->loop()->next()), loop_type_v_sep);
      EXPECT_EQ(face_loop_counts(f), (std::vector<int>{0, 0, 2, 0, 0}));
      // Points on the seam: inside halfway up, on the boundary at a rim.
      const double seam = s.param_range_v().start_pt();
      EXPECT_EQ(point_in_face(s.eval_position(QELpar_pos(0.5, seam)), f), pfc_inside);
      EXPECT_EQ(point_in_face(s.eval_position(QELpar_pos(1.0, seam)), f), pfc_boundary);
      strip_pcurves(tube);
    }
    EXPECT_TRUE(api_del_entity(tube).ok());
  }
}

// A stored type is answered as stored; with none the loop is typed afresh, so
// a change of the face shows at once.
TEST(QueryLoopType, ClassificationIsStoredOnlyWhenSet) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  LOOP* outer = f->loop();
  EXPECT_EQ(outer->get_classification(), loop_type_periphery);
  f->set_sense(REVERSED);
  EXPECT_EQ(outer->get_classification(), loop_type_hole);
  outer->set_classification(loop_type_periphery);
  EXPECT_EQ(outer->get_classification(), loop_type_periphery);
  outer->set_classification(0);
  EXPECT_EQ(outer->get_classification(), loop_type_hole);
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(QueryLoopType, BadLoopSetsFailTheFaceCheck) {
  BODY* outside = make_square_with_hole(14.0);  // the "hole" lies beyond the square
  EXPECT_EQ(face_loop_counts(faces_of(outside)[0], false), (std::vector<int>{1, 1, 0, 0, 0}));
  BODY* two = make_polygon_sheet({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, {{{3, 0}, {4, 0}, {4, 1}, {3, 1}}});
  EXPECT_EQ(face_loop_counts(faces_of(two)[0], false), (std::vector<int>{2, 0, 0, 0, 0}));
  EXPECT_TRUE(api_del_entity(outside).ok());
  EXPECT_TRUE(api_del_entity(two).ok());
  int type = 0;
  EXPECT_FALSE(api_loop_type(nullptr, type).ok());
}

TEST(QueryBoxes, FaceBoxesReachTheSurfaceBetweenTheEdges) {
  BODY* box = make_plane_box(10, 20, 30);
  expect_box(get_face_box(faces_of(box)[1]), {0, 0, 30}, {10, 20, 30});
  expect_box(get_body_box(box), {0, 0, 0}, {10, 20, 30});

  BODY* cyl = make_cylinder(5.0, 8.0);
  expect_box(get_face_box(faces_of(cyl)[0]), {-5, -5, 0}, {5, 5, 8}, 0.1);  // sampled surface box
  BODY* band = make_cylinder_band(5.0, 8.0);
  QELpar_box pb;
  ASSERT_TRUE(sg_get_face_par_box(faces_of(band)[0], pb));
  EXPECT_NEAR(pb.u_range().start_pt(), 0.0, 1e-9);
  EXPECT_NEAR(pb.u_range().end_pt(), 8.0 / 5.0, 1e-9);
  EXPECT_NEAR(pb.v_range().length(), 2 * pi, 1e-9);
  expect_box(get_face_box(faces_of(band)[0]), {-5, -5, 0}, {5, 5, 8}, 0.1);

  // A cached bound wins.
  FACE* top = faces_of(box)[1];
  top->set_bound(new QELbox(QELposition(1, 1, 1), QELposition(2, 2, 2)));
  expect_box(get_face_box(top), {1, 1, 1}, {2, 2, 2});
  top->set_bound(nullptr);
  for (BODY* b : {box, cyl, band}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(QueryBoxes, CapParameterBoxStopsAtItsLoop) {
  BODY* cap = make_hemisphere(4.0);
  QELpar_box pb;
  ASSERT_TRUE(sg_get_face_par_box(faces_of(cap)[0], pb));
  EXPECT_NEAR(pb.u_range().end_pt(), 0.0, 1e-9);  // the pole is not reached by any loop
  EXPECT_NEAR(pb.v_range().length(), 2 * pi, 1e-9);
  QELpar_box untouched(QELinterval(7, 8), QELinterval(7, 8));
  BODY* bare = make_box();
  faces_of(bare)[0]->set_geometry(new SURFACE);  // a bare surface: no equation, no box
  EXPECT_FALSE(sg_get_face_par_box(faces_of(bare)[0], untouched));
  EXPECT_EQ(untouched.u_range().start_pt(), 7.0);
  EXPECT_TRUE(api_del_entity(cap).ok());
  EXPECT_TRUE(api_del_entity(bare).ok());
}

TEST(QueryBoxes, EntityBoxAppliesTheBodyTransform) {
  BODY* box = make_plane_box(10, 20, 30);
  ASSERT_TRUE(api_apply_transf(box, translate_transf(QELvector(100, 0, 0))).ok());
  ENTITY_LIST list;
  list.add(box);
  QELposition lo, hi;
  ASSERT_TRUE(api_get_entity_box(list, nullptr, lo, hi).ok());
  expect_box(QELbox(lo, hi), {100, 0, 0}, {110, 20, 30});
  // A face of the body is boxed where the body puts it.
  ENTITY_LIST one;
  one.add(faces_of(box)[0]);
  ASSERT_TRUE(api_get_entity_box(one, nullptr, lo, hi).ok());
  EXPECT_NEAR(lo.x(), 100.0, 1e-9);

  ENTITY_LIST empty;
  QELposition keep(1, 2, 3);
  EXPECT_FALSE(api_get_entity_box(empty, nullptr, keep, hi).ok());
  EXPECT_EQ(keep.x(), 1.0);
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(QueryBodies, ClosedSolidAgainstSheetAndWire) {
  BODY* box = make_plane_box();
  BODY* sheet = make_sheet();
  BODY* wire = make_wire_body();
  EXPECT_TRUE(is_closed_solid_body(box));
  EXPECT_FALSE(is_closed_solid_body(sheet));
  EXPECT_FALSE(is_closed_solid_body(wire));
  EXPECT_FALSE(is_closed_solid_body(nullptr));
  faces_of(box)[0]->set_sides(1);  // a double-sided face is a sheet
  EXPECT_FALSE(is_closed_solid_body(box));
  EXPECT_TRUE(is_planar_face(faces_of(box)[0]));
  BODY* cyl = make_cylinder();
  EXPECT_TRUE(is_cylindrical_face(faces_of(cyl)[0]));
  EXPECT_TRUE(is_conical_face(faces_of(cyl)[0]));
  EXPECT_FALSE(is_spline_face(faces_of(cyl)[0]));
  for (BODY* b : {box, sheet, wire, cyl}) EXPECT_TRUE(api_del_entity(b).ok());
}

// A face whose only loop runs as a hole (its sense flipped) bounds nothing on
// a surface that does not close up all round: the plane's and the
// cylinder's alike are bad faces, though the cylinder closes round its axis.
TEST(QueryLoopType, HolesAloneBoundAFaceOnlyOnASurfaceClosedAllRound) {
  for (BODY* body : {make_plane_box(), make_cylinder()}) {
    FACE* f = faces_of(body)[0];
    f->set_sense(f->sense() == FORWARD ? REVERSED : FORWARD);
    EXPECT_EQ(loop_type(f->loop()), loop_type_hole);
    EXPECT_EQ(face_loop_counts(f, false), (std::vector<int>{0, 1, 0, 0, 0}));
    EXPECT_TRUE(api_del_entity(body).ok());
  }
}
