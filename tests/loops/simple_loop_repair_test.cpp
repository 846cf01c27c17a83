// The simple loop repair: one periphery found by point-in-loop, loops
// reversed to match, the periphery first, or one face per loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "loops/face_regions.hxx"
#include "loops/loop_repair.hxx"
#include "loops/repair_loops.hxx"
#include "model/entity_views.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/errors.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

std::vector<int> types_of(const FACE* f) {
  std::vector<int> out;
  for (LOOP* l = f->loop(); l; l = l->next()) out.push_back(get_loop_type(l));
  return out;
}

// Moves the donor's only face into the target's shell and deletes the donor.
void move_face_into(BODY* donor, BODY* target) {
  FACE* f = faces_of(donor).front();
  SHELL* from = f->shell();
  from->set_face(nullptr);
  SHELL* to = faces_of(target).front()->shell();
  FACE* last = to->face();
  while (last->next()) last = last->next();
  last->set_next(f);
  f->set_shell(to);
  api_del_entity(donor);
}

// Moves every loop of the donor's face to the end of the target face's chain.
void move_loops_into(BODY* donor, FACE* target) {
  FACE* from = faces_of(donor).front();
  LOOP* loops = from->loop();
  from->set_loop(nullptr);
  LOOP* last = target->loop();
  while (last->next()) last = last->next();
  last->set_next(loops);
  for (LOOP* l = loops; l; l = l->next()) l->set_face(target);
  api_del_entity(donor);
}

}  // namespace

TEST(SimpleLoopRepair, LoopsComeOutAsOnePeripheryFirstAndHoles) {
  struct Case {
    const char* name;
    std::vector<iso_rect> rects;
    std::vector<int> types_after;  // in chain order after repair
    int first_rect;                // which rectangle ends first
  };
  const std::vector<Case> cases = {
      {"clockwise single loop", {rect(0, 4, 0, 4, false)}, {1}, 0},
      {"holes listed first", {rect(1, 2, 1, 2, false), rect(6, 7, 1, 2, false), rect(0, 10, 0, 4, true)}, {1, 2, 2}, 2},
      {"outer typed hole, inner periphery", {rect(0, 10, 0, 4, false), rect(1, 2, 1, 2, true)}, {1, 2}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(test_plane(), c.rects);
    FACE* face = faces_of(body).front();
    std::vector<LOOP*> loops;
    for (LOOP* l = face->loop(); l; l = l->next()) loops.push_back(l);
    QELXVelmLoopRepair repair(body);
    EXPECT_TRUE(repair.Repair());
    EXPECT_EQ(repair.getBodies().Count(), 0);
    EXPECT_EQ(count_faces(body), 1);
    EXPECT_EQ(face->loop(), loops[c.first_rect]);
    EXPECT_EQ(types_of(face), c.types_after);
    EXPECT_EQ(model_problems(body), "");
    api_del_entity(body);
  }
}

TEST(SimpleLoopRepair, SeparationFaceOnlyLosesItsPeripheries) {
  BODY* band = make_cylinder_band(5.0, 8.0);
  FACE* face = faces_of(band).front();
  // Two patches running the periphery way on the band (clockwise in the cylinder's left-handed (u, v)).
  move_loops_into(make_iso_rect_sheet(test_cylinder(), {rect(2, 3, -1, -0.5, false), rect(5, 6, 1, 2, false)}), face);
  EXPECT_EQ(types_of(face), (std::vector<int>{4, 4, 1, 1}));
  QELXVelmLoopRepair repair(band);
  EXPECT_TRUE(repair.Repair());
  EXPECT_EQ(count_faces(band), 1);
  EXPECT_EQ(types_of(face), (std::vector<int>{4, 4, 2, 2}));
  api_del_entity(band);
}

// A separation pair is compared with no other loop: a band round a cylinder
// that also holds a patch, running either way, fails its classification and
// names the patch as the loop that could not be placed.
TEST(LoopGeometryCases, ASeparationPairIsComparedWithNoOtherLoop) {
  for (const bool holeWay : {false, true}) {
    SCOPED_TRACE(holeWay ? "patch running the hole way" : "patch running the periphery way");
    BODY* band = make_cylinder_band(5.0, 8.0);
    FACE* face = faces_of(band).front();
    move_loops_into(make_iso_rect_sheet(test_cylinder(), {rect(2, 3, 1, 2, holeWay)}), face);
    ASSERT_EQ(types_of(face).size(), 3u);
    const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
    ASSERT_TRUE(region.IsValid());
    EXPECT_FALSE(region->classifyLoops());
    ASSERT_NE(region->failures(), nullptr);
    EXPECT_EQ(region->failures()->element().first().loop(), face->loop()->next()->next());
    api_del_entity(band);
  }
}

// So too where a line finds stretches along a separation loop: the circle
// at one end of the band bulges towards the other over part of the turn, and
// a patch inside the bulge lies between the bulge's two sides on the line
// round the cylinder through it. Compared as nested loops, the patch would
// seem to lie inside the pair; the pair is still compared with no other loop.
TEST(LoopGeometryCases, ASeparationPairWithABulgeIsComparedWithNoOtherLoop) {
  for (const bool holeWay : {false, true}) {
    SCOPED_TRACE(holeWay ? "patch running the hole way" : "patch running the periphery way");
    const std::vector<QELpar_pos> bulging = {{1, -kPi}, {1, -1}, {3, -1}, {3, 1}, {1, 1}, {1, kPi}};
    const std::vector<QELpar_pos> circle = {{6, kPi}, {6, -kPi}};
    std::vector<QELpar_pos> patch = {{1.5, -0.5}, {2.5, -0.5}, {2.5, 0.5}, {1.5, 0.5}};
    if (holeWay) std::reverse(patch.begin(), patch.end());
    BODY* band = make_iso_polygon_sheet(test_cylinder(), {bulging, circle, patch});
    FACE* face = faces_of(band).front();
    ASSERT_EQ(types_of(face).size(), 3u);
    EXPECT_EQ(model_problems(band), "");
    const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
    ASSERT_TRUE(region.IsValid());
    EXPECT_FALSE(region->classifyLoops());
    ASSERT_NE(region->failures(), nullptr);
    EXPECT_EQ(region->failures()->element().first().loop(), face->loop()->next()->next());
    api_del_entity(band);
  }
}

// Three disjoint loops, none a periphery of the others: one face each. The
// hole-running first loop is reversed before it bounds a face of its own.
TEST(SimpleLoopRepair, NoPeripheryMeansOneFacePerLoop) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 2, 0, 2, false), rect(4, 6, 0, 2, true), rect(8, 10, 0, 2, false)});
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  const QELXDynamicArray<Ve_BodyTag*> bodies = repair.getBodies();
  ASSERT_EQ(bodies.Count(), 2);
  EXPECT_EQ(count_faces(body), 1);
  EXPECT_EQ(types_of(faces_of(body).front()), std::vector<int>{1});
  for (Ve_BodyTag* b : bodies) {
    BODY* k = reinterpret_cast<BODY*>(b);
    ASSERT_EQ(count_faces(k), 1);
    EXPECT_EQ(types_of(faces_of(k).front()), std::vector<int>{1});
    EXPECT_EQ(model_problems(k), "");
    api_del_entity(k);
  }
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

TEST(SimpleLoopRepair, MultiFaceBodyKeepsSplitFacesInItsShell) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 2, 0, 2, true), rect(4, 6, 0, 2, true), rect(8, 10, 0, 2, true)});
  move_face_into(make_iso_rect_sheet(test_plane(), {rect(0, 10, 5, 8, true)}), body);
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  EXPECT_EQ(repair.getBodies().Count(), 0);
  EXPECT_EQ(count_faces(body), 4);
  EXPECT_EQ(count_shells(body), 1);
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

// A loop of no area (a slit: one straight edge run out and back) cannot be
// typed. On a body of several faces the face keeps it beside its periphery:
// only a one-face body has its loops split into faces of their own.
TEST(SimpleLoopRepair, AnUntypedLoopStaysOnItsFaceInABodyOfSeveralFaces) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true)});
  move_face_into(make_iso_rect_sheet(test_plane(), {rect(0, 10, 5, 8, true)}), body);
  FACE* face = faces_of(body).front();
  const QELposition a(1, 1, 0), b(2, 1, 0);
  const QELinterval range(0.0, 1.0);
  auto* from = new VERTEX(new APOINT(a));
  auto* to = new VERTEX(new APOINT(b));
  auto* slit = new EDGE(from, to, make_curve(straight(a, QELunit_vector(1, 0, 0))), FORWARD, EDGE_cvty_unknown, &range);
  auto* out = new COEDGE(slit, FORWARD, nullptr, nullptr);
  auto* back = new COEDGE(slit, REVERSED, out, out);
  out->set_next(back);
  out->set_previous(back);
  out->set_partner(back);
  back->set_partner(out);
  from->add_edge(slit);
  to->add_edge(slit);
  LOOP* loop = new LOOP(out, nullptr);
  face->loop()->set_next(loop);
  loop->set_face(face);
  ASSERT_EQ(types_of(face), (std::vector<int>{1, 0}));
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  EXPECT_EQ(repair.getBodies().Count(), 0);
  EXPECT_EQ(count_faces(body), 2);
  EXPECT_EQ(types_of(face).size(), 2u);
  api_del_entity(body);
}

// A split-off face the kernel makes no body of gives its loop back to the
// face it came from: nothing is left without a body.
TEST(SimpleLoopRepair, FaceWithoutBodyGivesItsLoopBack) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 2, 0, 2, true), rect(4, 6, 0, 2, true), rect(8, 10, 0, 2, true)});
  const long live = velm_live_object_count();
  velm_test_fail_call("api_unhook_face", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  ASSERT_EQ(repair.getBodies().Count(), 1);
  EXPECT_EQ(types_of(faces_of(body).front()).size(), 2u);
  EXPECT_EQ(count_loops(body), 2);
  EXPECT_EQ(model_problems(body), "");
  BODY* other = reinterpret_cast<BODY*>(repair.getBodies()[0]);
  EXPECT_EQ(count_loops(other), 1);
  // The body made for the one face holds exactly what the lost face did not keep.
  api_del_entity(other);
  api_del_entity(body);
  EXPECT_LT(velm_live_object_count(), live);
}

// Islands inside holes, each running either way: every island becomes a body
// of its own (a face of the shell for a multi-face body), no face overlaps
// another, and each face is one periphery with its holes.
TEST(SimpleLoopRepair, IslandsInHolesGetFacesOfTheirOwn) {
  struct Case {
    const char* name;
    std::vector<iso_rect> rects;
    int faces;
  };
  const std::vector<Case> cases = {
      {"island", {rect(0, 10, 0, 10, true), rect(2, 8, 2, 8, false), rect(4, 6, 4, 6, true)}, 2},
      {"island the wrong way", {rect(0, 10, 0, 10, true), rect(2, 8, 2, 8, false), rect(4, 6, 4, 6, false)}, 2},
      {"islands listed first, all reversed",
       {rect(5, 6, 4, 6, false), rect(1, 2, 4, 6, false), rect(0, 3, 1, 9, true), rect(4, 7, 1, 9, true), rect(-1, 10, 0, 10, false)},
       3},
  };
  for (const Case& c : cases)
    for (const bool multiFace : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (multiFace ? ", multi-face body" : ""));
      BODY* body = make_iso_rect_sheet(test_plane(), c.rects);
      if (multiFace) move_face_into(make_iso_rect_sheet(test_plane(), {rect(20, 22, 0, 2, true)}), body);
      QELXVelmLoopRepair repair(body);
      EXPECT_TRUE(repair.Repair());
      std::vector<BODY*> bodies = {body};
      for (Ve_BodyTag* b : repair.getBodies()) bodies.push_back(reinterpret_cast<BODY*>(b));
      EXPECT_EQ(bodies.size(), multiFace ? 1u : static_cast<std::size_t>(c.faces));
      std::vector<FACE*> faces;
      for (BODY* b : bodies) {
        EXPECT_EQ(model_problems(b), "");
        for (FACE* f : faces_of(b)) {
          int counts[5] = {};
          EXPECT_TRUE(api_check_face_loops(f, counts).ok());
          faces.push_back(f);
        }
      }
      EXPECT_EQ(faces.size(), static_cast<std::size_t>(c.faces + (multiFace ? 1 : 0)));
      // Inside an odd number of rectangles: in one face; else in none.
      for (double x = -0.75; x < 10.5; x += 0.5)
        for (double y = 0.25; y < 10; y += 0.5) {
          int holders = 0, in = 0;
          for (const iso_rect& r : c.rects) holders += (r.box >> QELpar_pos(x, y)) ? 1 : 0;
          for (FACE* f : faces) in += point_in_face(QELposition(x, y, 0), f) == pfc_inside ? 1 : 0;
          EXPECT_EQ(in, holders % 2) << "at " << x << ", " << y;
        }
      for (BODY* b : bodies) api_del_entity(b);
    }
}

// Past sixteen loops the classifying repair takes no face, and disjoint
// loops still come out one face each, every loop bounding its face (none
// left running as a hole alone).
TEST(SimpleLoopRepair, SeventeenDisjointHoleLoopsBecomeSeventeenPeripheries) {
  std::vector<iso_rect> rects;
  for (int i = 0; i < 17; ++i) rects.push_back(rect(2 * i, 2 * i + 1, 0, 1, false));
  BODY* body = make_iso_rect_sheet(test_plane(), rects);
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  std::vector<BODY*> bodies = {body};
  for (Ve_BodyTag* b : repair.getBodies()) bodies.push_back(reinterpret_cast<BODY*>(b));
  EXPECT_EQ(bodies.size(), 17u);
  for (BODY* b : bodies) {
    EXPECT_EQ(model_problems(b), "");
    for (FACE* f : faces_of(b)) EXPECT_EQ(types_of(f), std::vector<int>{1});
    api_del_entity(b);
  }
}

// Loops whose classification fails (a square over the end of a long thin
// loop, both running the hole way) are left to the simple rule, which types
// one loop of each face the periphery and puts it first.
TEST(SimpleLoopRepair, LoopsThatDoNotClassifyAreMendedByTheSimpleRule) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 10, 0, 1, false), rect(9, 11, 0.7, 3, false)});
  FACE* face = faces_of(body).front();
  ASSERT_FALSE(Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face)->classifyLoops());
  QELXVelmLoopRepair repair(body);
  EXPECT_TRUE(repair.Repair());
  std::vector<int> types = types_of(face);
  for (Ve_BodyTag* b : repair.getBodies()) {
    const std::vector<int> more = types_of(faces_of(reinterpret_cast<BODY*>(b)).front());
    types.insert(types.end(), more.begin(), more.end());
    api_del_entity(reinterpret_cast<BODY*>(b));
  }
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), 1);
  EXPECT_EQ(std::count(types.begin(), types.end(), 1), 1 + repair.getBodies().Count());
  api_del_entity(body);
}
