// Removing faces and loops, unhooking faces, loop order, single copies and
// edges from curves: counts, the model check, areas kept, and exact roll-back.
#include <gtest/gtest.h>

#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/api.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/topology_edit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using std::numbers::pi;

namespace {
std::string body_records(BODY* b) {
  ENTITY_LIST l;
  l.add(b);
  return velm_test::saved_records(l);
}
FACE* face_at(const BODY* b, const QELposition& p) {
  for (FACE* f : faces_of(b))
    if (point_in_face(p, f) == pfc_inside) return f;
  return nullptr;
}
double area_of(const ENTITY* e) { return ent_area_prop(e, 1e-6).area(); }

struct counts {
  int faces, edges, vertices;
  bool operator==(const counts&) const = default;
};
counts count(const ENTITY* e) { return {count_faces(e), count_edges(e), count_vertices(e)}; }
}  // namespace

class TopologyEdit : public velm_test::KernelTest {};

TEST_F(TopologyEdit, EditsLeaveValidModelsAndFailedFramesRollBackExactly) {
  struct edit_case {
    const char* name;
    std::function<BODY*()> make;
    // The edit; returns a second body it made (or null).
    std::function<BODY*(BODY*)> edit;
    counts after;
    double area_after;
  };
  const edit_case cases[] = {
      {"kill a box face, keeping free edges' use", [] { return make_plane_box(10, 20, 30); },
       [](BODY* b) { kf(faces_of(b)[0], 1); return nullptr; }, {5, 12, 8}, 2200.0 - 200.0},
      {"remove two box faces and the edge between them", [] { return make_plane_box(10, 20, 30); },
       [](BODY* b) {
         FACE* bottom = face_at(b, {5, 10, 0});
         FACE* front = face_at(b, {5, 0, 15});
         sg_remove_face_from_body(bottom);
         if (!api_remove_face(front).ok()) velm_api_error_throw(VELM_BAD_ARGUMENT);
         return nullptr;
       },
       {4, 11, 8}, 2200.0 - 500.0},
      {"remove a hole", [] { return make_square_with_hole(); },
       [](BODY* b) { remove_loop(faces_of(b)[0]->loop()->next()); return nullptr; }, {1, 4, 4}, 100.0},
      {"unhook a box face", [] { return make_plane_box(10, 20, 30); },
       [](BODY* b) {
         BODY* out = nullptr;
         if (!api_unhook_face(faces_of(b)[5], out).ok()) velm_api_error_throw(VELM_BAD_ARGUMENT);
         return out;
       },
       {5, 12, 8}, 2200.0 - 600.0},
      {"unhook a cylinder side", [] { return make_cylinder(5.0, 8.0); },
       [](BODY* b) {
         BODY* out = nullptr;
         FACE* side = nullptr;
         for (FACE* f : faces_of(b))
           if (is_conical_face(f)) side = f;
         if (!api_unhook_face(side, out).ok()) velm_api_error_throw(VELM_BAD_ARGUMENT);
         return out;
       },
       {2, 2, 2}, 2 * pi * 25},
  };
  for (const edit_case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* b = c.make();
    const std::string before = body_records(b);
    const double area_before = area_of(b);
    // Inside a frame that then fails, the body comes back as it was.
    outcome failed = velm_api("edit then fail", [&] {
      if (BODY* extra = c.edit(b)) (void)extra;
      velm_api_error_throw(VELM_BAD_ARGUMENT);
    });
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(body_records(b), before);
    // Done for real: valid on both sides, nothing lost between them.
    BODY* extra = nullptr;
    ASSERT_TRUE(velm_api("edit", [&] { extra = c.edit(b); }).ok());
    EXPECT_EQ(count(b), c.after);
    EXPECT_EQ(model_problems(b), "");
    EXPECT_NEAR(area_of(b), c.area_after, 1e-6 * area_before);
    if (extra) {
      EXPECT_EQ(model_problems(extra), "");
      EXPECT_NEAR(area_of(b) + area_of(extra), area_before, 1e-6 * area_before);
      EXPECT_TRUE(api_del_entity(extra).ok());
    }
    EXPECT_TRUE(api_del_entity(b).ok());
  }
}

TEST_F(TopologyEdit, UnhookedFaceSharesNothingWithItsOldBody) {
  BODY* box = make_plane_box(10, 20, 30);
  BODY* face_body = nullptr;
  ASSERT_TRUE(api_unhook_face(faces_of(box)[2], face_body).ok());
  EXPECT_EQ(count(face_body), (counts{1, 4, 4}));
  ENTITY_LIST a, b;
  ASSERT_TRUE(api_get_vertices(box, a).ok());
  ASSERT_TRUE(api_get_vertices(face_body, b).ok());
  for (int i = 0; i < b.count(); ++i) EXPECT_LT(a.lookup(b[i]), 0);
  // Deleting one leaves the other whole.
  EXPECT_TRUE(api_del_entity(face_body).ok());
  EXPECT_EQ(model_problems(box), "");
  EXPECT_EQ(count(box), (counts{5, 12, 8}));
  EXPECT_TRUE(api_del_entity(box).ok());
}

// A face unhooked from a placed body stays where it was in model space: its
// body gets the old body's transform (turned, mirrored, scaled), and what
// stays behind keeps its place too.
TEST_F(TopologyEdit, UnhookedFaceKeepsItsPlaceInModelSpace) {
  std::vector<KernelFrame> frames = kernel_frames();
  frames.push_back({"scaled and turned", scale_transf(2.5) * frames[1].transform});
  const std::function<BODY*()> makers[] = {[] { return make_plane_box(10, 20, 30); }, [] { return make_cylinder(5.0, 8.0); }};
  for (const KernelFrame& frame : frames)
    for (const auto& make : makers) {
      BODY* probe = make();
      const int faces = count_faces(probe);
      api_del_entity(probe);
      for (int k = 0; k < faces; ++k) {
        SCOPED_TRACE(std::string(frame.name) + ", face " + std::to_string(k));
        BODY* body = make();
        ASSERT_TRUE(api_apply_transf(body, frame.transform).ok());
        FACE* face = faces_of(body)[static_cast<std::size_t>(k)];
        const QELbox before = get_face_box(face, &frame.transform);
        std::vector<QELbox> rest;
        for (FACE* f : faces_of(body))
          if (f != face) rest.push_back(get_face_box(f, &frame.transform));
        BODY* alone = nullptr;
        ASSERT_TRUE(api_unhook_face(face, alone).ok());
        const QELtransf placed = get_owner_transf(face);
        const QELbox after = get_face_box(face, &placed);
        EXPECT_LT((after.low() - before.low()).len() + (after.high() - before.high()).len(), 1e-7);
        const std::vector<FACE*> left = faces_of(body);
        ASSERT_EQ(left.size(), rest.size());
        for (std::size_t i = 0; i < left.size(); ++i) {
          const QELtransf own = get_owner_transf(left[i]);
          const QELbox box = get_face_box(left[i], &own);
          EXPECT_LT((box.low() - rest[i].low()).len() + (box.high() - rest[i].high()).len(), 1e-7);
        }
        EXPECT_EQ(model_problems(alone), "");
        EXPECT_EQ(model_problems(body), "");
        EXPECT_TRUE(api_del_entity(alone).ok());
        EXPECT_TRUE(api_del_entity(body).ok());
      }
    }
}

TEST_F(TopologyEdit, LoopOrderAndExtraction) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  LOOP* outer = f->loop();
  LOOP* hole = outer->next();
  set_periphery_first_loop(f, hole);
  EXPECT_EQ(f->loop(), hole);
  EXPECT_EQ(hole->next(), outer);
  EXPECT_EQ(outer->next(), nullptr);
  set_periphery_first_loop(f, outer);
  EXPECT_EQ(f->loop(), outer);
  EXPECT_EQ(outer->next(), hole);
  BODY* other = make_square_with_hole();
  EXPECT_THROW(set_periphery_first_loop(f, faces_of(other)[0]->loop()), velm_exception);
  extract_loop(hole);
  EXPECT_EQ(hole->face(), nullptr);
  EXPECT_EQ(outer->next(), nullptr);
  EXPECT_NEAR(area_of(f), 100.0, 1e-6);
  ASSERT_TRUE(api_del_entity(hole).ok());
  EXPECT_EQ(model_problems(sheet), "");
  EXPECT_EQ(count(sheet), (counts{1, 4, 4}));
  EXPECT_TRUE(api_del_entity(sheet).ok());
  EXPECT_TRUE(api_del_entity(other).ok());
}

TEST_F(TopologyEdit, SingleCopiesAndEdgesFromCurves) {
  BODY* cyl = make_cylinder(5.0, 8.0);
  ENTITY_LIST edges;
  ASSERT_TRUE(api_get_edges(cyl, edges).ok());
  for (int i = 0; i < edges.count(); ++i) {
    auto* e = static_cast<EDGE*>(edges[i]);
    auto* copy = static_cast<EDGE*>(copy_single_entity(e));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->coedge(), nullptr);
    EXPECT_NE(copy->start(), e->start());
    EXPECT_EQ(copy->start() == copy->end(), e->start() == e->end());
    velm_test::expect_close(copy->start_pos(), e->start_pos());
    velm_test::expect_close(copy->mid_pos(), e->mid_pos(), 1e-9);
    EXPECT_NE(copy->geometry(), e->geometry());
    EXPECT_TRUE(api_del_entity(copy).ok());
  }
  FACE* f = faces_of(cyl)[0];
  auto* face_copy = static_cast<FACE*>(copy_single_entity(f));
  ASSERT_NE(face_copy, nullptr);
  EXPECT_EQ(face_copy->loop(), nullptr);
  EXPECT_TRUE(face_copy->geometry()->equation() == f->geometry()->equation());
  EXPECT_TRUE(api_del_entity(face_copy).ok());
  EXPECT_EQ(copy_single_entity(f->loop()), nullptr);

  ellipse circle(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
  EDGE* ring = nullptr;
  ASSERT_TRUE(api_make_edge_from_curve(&circle, ring).ok());
  EXPECT_EQ(ring->start(), ring->end());
  EXPECT_NEAR(ring->length(), 4 * pi, 1e-6);
  straight unbounded(QELposition(), QELunit_vector(1, 0, 0));
  EDGE* none = nullptr;
  EXPECT_FALSE(api_make_edge_from_curve(&unbounded, none).ok());
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(api_del_entity(ring).ok());
  EXPECT_TRUE(api_del_entity(cyl).ok());
}
