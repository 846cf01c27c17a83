// The parameter form of the face split, and the seam edge of a periodic face
// bounded by two separation loops.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/api.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

// Runs the inner routine as a kernel call would, handing back what it made.
outcome split_at(FACE* face, int direction, double parameter, FACE*& made) {
  made = nullptr;
  return velm_api("test_split", [&] { made = sg_split_face_at_parameter(face, direction, parameter); });
}

}  // namespace

TEST(SplitFaceAtParameter, OneLoopFaceGivesTheNewFaceAndAMissIsNothing) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 10, 0, 4, true)});
  FACE* face = faces_of(body).front();
  FACE* made = nullptr;
  EXPECT_TRUE(split_at(face, 0, 20.0, made).ok());  // v = 20 misses the face
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(count_faces(body), 1);
  EXPECT_TRUE(split_at(face, 1, 4.0, made).ok());  // u = 4
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(face->next(), made);
  EXPECT_EQ(point_in_face(QELposition(2, 2, 0), face) == pfc_inside, point_in_face(QELposition(7, 2, 0), made) == pfc_inside);
  EXPECT_NE(point_in_face(QELposition(2, 2, 0), face), point_in_face(QELposition(7, 2, 0), face));
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

TEST(SplitFaceAtParameter, TwoSeparationLoopsBecomeOneLoopWithASeam) {
  BODY* body = make_cylinder_band(5.0, 8.0);
  FACE* face = faces_of(body).front();
  FACE* made = nullptr;
  // A line of constant v (a ruling) crosses both circles once, inside their edges.
  EXPECT_TRUE(split_at(face, 0, 1.0, made).ok());
  EXPECT_EQ(made, nullptr);
  ASSERT_NE(face->loop(), nullptr);
  EXPECT_EQ(face->loop()->next(), nullptr);
  EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
  EXPECT_EQ(count_edges(body), 5);  // two circles split, one seam
  EXPECT_EQ(model_problems(body), "");
  // Opposite the seam, near the bottom circle.
  EXPECT_EQ(point_in_face(QELposition(5 * std::cos(1 + M_PI), 5 * std::sin(1 + M_PI), 1), face), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(5 * std::cos(1 + M_PI), 5 * std::sin(1 + M_PI), 9), face), pfc_outside);
  api_del_entity(body);
  // A line round the loops' own direction crosses neither: refused, rolled back.
  body = make_cylinder_band(5.0, 8.0);
  face = faces_of(body).front();
  EXPECT_FALSE(split_at(face, 1, 4.0, made).ok());
  EXPECT_EQ(count_loops(body), 2);
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

// Round a torus's tube the seam line closes on itself: the seam takes the arc
// across the face, whichever part of the tube the face is.
TEST(SplitFaceAtParameter, SeamAlongAPeriodicLineStaysInTheFace) {
  const double s = std::sqrt(0.5);
  for (bool turned : {false, true}) {
    SCOPED_TRACE(turned ? "the three-quarter band" : "the quarter band");
    BODY* body = make_torus_band(false);
    FACE* face = faces_of(body).front();
    if (turned)
      for (LOOP* l = face->loop(); l; l = l->next()) l->reverse();
    const QELposition on_quarter(12 * s, 12 * s, 0), off_quarter(-12 * s, -12 * s, 0);
    const point_face_containment a = point_in_face(on_quarter, face), b = point_in_face(off_quarter, face);
    ASSERT_NE(a, b);
    FACE* made = nullptr;
    EXPECT_TRUE(split_at(face, 1, 2.0, made).ok());
    EXPECT_EQ(get_loop_type(face->loop()), loop_type_periphery);
    EXPECT_EQ(point_in_face(on_quarter, face), a);
    EXPECT_EQ(point_in_face(off_quarter, face), b);
    EXPECT_EQ(model_problems(body), "");
    api_del_entity(body);
  }
}

// A seamed band split across its seam: the line crosses the seam's two
// coedges at one point, so both cut coedges run from that one new vertex
// round to itself; the halves lie either side of the line.
TEST(SplitFaceAtParameter, ALineAcrossTheSeamSplitsTheBandAtOneVertex) {
  const struct {
    double seam, cut;
  } cases[] = {{1.0, 0.6}, {-2.5, 1.0}};  // u is the height over the radius
  for (const auto& c : cases) {
    SCOPED_TRACE("seam at v " + std::to_string(c.seam) + ", cut at u " + std::to_string(c.cut));
    BODY* body = make_cylinder_band(5.0, 8.0);
    FACE* face = faces_of(body).front();
    sg_add_pcurves_to_entity(body);
    FACE* made = nullptr;
    ASSERT_TRUE(split_at(face, 0, c.seam, made).ok());
    ASSERT_EQ(face->loop()->next(), nullptr);
    const int vertices = count_vertices(body);
    ASSERT_TRUE(split_at(face, 1, c.cut, made).ok());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(count_faces(body), 2);
    EXPECT_EQ(count_vertices(body), vertices + 1);
    EXPECT_EQ(model_problems(body), "");
    // Opposite the seam, below and above the cut.
    const double a = c.seam + M_PI;
    const double z = 5 * c.cut;
    const QELposition low(5 * std::cos(a), 5 * std::sin(a), z - 1), high(5 * std::cos(a), 5 * std::sin(a), z + 1);
    const bool lowKept = point_in_face(low, face) == pfc_inside, highKept = point_in_face(high, face) == pfc_inside;
    EXPECT_NE(lowKept, highKept);
    EXPECT_NE(lowKept, point_in_face(low, made) == pfc_inside);
    EXPECT_NE(highKept, point_in_face(high, made) == pfc_inside);
    api_del_entity(body);
  }
}
