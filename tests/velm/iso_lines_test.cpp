// Iso-parameter lines trimmed to faces: pieces in order, holes cut out,
// periodic faces, and nothing left behind.
#include <gtest/gtest.h>

#include <vector>

#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/iso_lines.hxx"
#include "velm/topology_api.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

namespace {

struct Piece {
  double low, high;
};

// The pieces of the iso-line inside the face, and each piece's points checked
// to lie on the surface at the iso value.
std::vector<Piece> trimmed(FACE* face, bool along_u, double value) {
  const surface& srf = face->geometry()->equation();
  ss_curve_record* curves = along_u ? sg_surface_u_param_line(srf, value, get_face_box(face))
                                    : sg_surface_v_param_line(srf, value, get_face_box(face));
  std::vector<Piece> out;
  if (!curves) return out;
  ff_header* header = sg_trim_curves_to_face(curves, face);
  ENTITY_LIST edges;
  sg_make_curve_edges(curves, edges);
  EXPECT_EQ(edges.count(), header->pieces_out);
  for (int i = 0; i < edges.count(); ++i) {
    const auto* e = static_cast<EDGE*>(edges[i]);
    out.push_back({e->start_param(), e->end_param()});
    for (double t : {e->start_param(), 0.5 * (e->start_param() + e->end_param())}) {
      const QELpar_pos uv = along_u ? QELpar_pos(t, value) : QELpar_pos(value, t);
      velm_test::expect_close(e->geometry()->equation().eval_position(t), srf.eval_position(uv), 1e-9);
    }
  }
  EXPECT_TRUE(api_del_entity_list(edges).ok());
  sg_delete_ss_list(curves);
  sg_delete_ff_header(header);
  EXPECT_EQ(curves, nullptr);
  return out;
}

class IsoLines : public velm_test::KernelTest {};

}  // namespace

TEST_F(IsoLines, HoleSplitsALineIntoTwoPieces) {
  BODY* sheet = make_square_with_hole(4.0);  // [0, 10]^2 without [4, 6]^2
  FACE* face = faces_of(sheet)[0];
  const std::vector<Piece> through = trimmed(face, true, 5.0);
  ASSERT_EQ(through.size(), 2u);
  EXPECT_NEAR(through[0].low, 0.0, 1e-6);
  EXPECT_NEAR(through[0].high, 4.0, 1e-6);
  EXPECT_NEAR(through[1].low, 6.0, 1e-6);
  EXPECT_NEAR(through[1].high, 10.0, 1e-6);
  const std::vector<Piece> past = trimmed(face, false, 2.0);
  ASSERT_EQ(past.size(), 1u);
  EXPECT_NEAR(past[0].high - past[0].low, 10.0, 1e-6);
  EXPECT_TRUE(trimmed(face, true, 12.0).empty());
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST_F(IsoLines, PeriodicFaceKeepsTheWholeCircle) {
  BODY* band = make_cylinder_band(5.0, 8.0);
  FACE* face = faces_of(band)[0];
  QELpar_box box;
  ASSERT_TRUE(sg_get_face_par_box(face, box));
  // v is the cylinder's angle: a v-line at mid-height goes once round.
  ASSERT_TRUE(face->geometry()->equation().periodic_v());
  const std::vector<Piece> round = trimmed(face, false, box.u_range().mid_pt());
  ASSERT_EQ(round.size(), 1u);
  EXPECT_NEAR(round[0].high - round[0].low, 2.0 * 3.14159265358979323846, 1e-6);
  const std::vector<Piece> along = trimmed(face, true, 1.0);
  ASSERT_EQ(along.size(), 1u);
  EXPECT_NEAR(along[0].high - along[0].low, box.u_range().length(), 1e-6);
  EXPECT_TRUE(api_del_entity(band).ok());
}
