// The driver's gates and the agents' special cases: repairability, the loop
// limit, sphere splits, the seam of a two-circle face, lost loops.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "loops/axon_heap.hxx"
#include "loops/loop_repair.hxx"
#include "loops/loop_repair_agents.hxx"
#include "loops/repair_loops.hxx"
#include "model/entity_views.hxx"
#include "support/geometry_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/body_heal.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"
#include "velm/velm_test_support.hxx"

using namespace testkit;

namespace {

Ve_BodyTag* view(BODY* b) { return ve_view<Ve_BodyTag>(b); }
Ve_FaceTag* view(FACE* f) { return ve_view<Ve_FaceTag>(f); }

int chain_length(const FACE* f) {
  int n = 0;
  for (LOOP* l = f->loop(); l; l = l->next()) ++n;
  return n;
}

// A planar face of an outer square and n - 1 small holes in a row.
BODY* face_of_loops(int n) {
  std::vector<iso_rect> rects = {rect(0, 2 * n, 0, 4, true)};
  for (int i = 1; i < n; ++i) rects.push_back(rect(2 * i - 0.5, 2 * i + 0.5, 1, 3, false));
  return make_iso_rect_sheet(test_plane(), rects);
}

}  // namespace

TEST(RepairLoopsDriver, BodyWithoutFacesIsRepairableAndRunsNoAgent) {
  BODY* wire = make_wire_body(3);
  Ve_RepairLoops driver(view(wire));
  EXPECT_TRUE(driver.canBeRepaired());
  Ve_FaceRepairInput input;
  EXPECT_TRUE(driver.classify(input));
  EXPECT_EQ(input.getFaces().Count(), 0);
  EXPECT_EQ(driver.repair(input).Count(), 0);
  api_del_entity(wire);
}

TEST(RepairLoopsDriver, FacesOfMoreThanSixteenLoopsAreLeftOut) {
  for (int n : {16, 17}) {
    SCOPED_TRACE(n);
    BODY* body = face_of_loops(n);
    Ve_RepairLoops driver(view(body));
    Ve_FaceRepairInput input;
    driver.classify(input);
    EXPECT_EQ(input.getFaces().Count(), n <= 16 ? 1 : 0);
    EXPECT_EQ(input.cleanFaces().Count(), n <= 16 ? 1 : 0);
    api_del_entity(body);
  }
}

TEST(RepairLoopsDriver, UnbalancedEdgesOrOpenLoopsAreNotRepairable) {
  // Every edge of a box face reversed on its own: two coedges of one sense on each.
  BODY* box = make_plane_box();
  faces_of(box).front()->loop()->reverse();
  EXPECT_FALSE(Ve_RepairLoops(view(box)).canBeRepaired());
  api_del_entity(box);
  // A coedge running against its ring: the loop no longer joins end to start.
  BODY* sheet = make_iso_rect_sheet(test_plane(), {rect(0, 1, 0, 1, true)});
  COEDGE* c = faces_of(sheet).front()->loop()->start();
  c->set_sense(c->sense() == FORWARD ? REVERSED : FORWARD);
  EXPECT_FALSE(Ve_RepairLoops(view(sheet)).canBeRepaired());
  api_del_entity(sheet);
}

TEST(RepairLoopsDriver, NullFaceIsNotRepairableButLinksTheAgents) {
  Ve_RepairLoops driver(static_cast<Ve_FaceTag*>(nullptr));
  EXPECT_FALSE(driver.canBeRepaired());
  EXPECT_EQ(Ve_LoopRepairAgent::splitPeripheryLoops().next(), &Ve_LoopRepairAgent::repairLoopReversals());
  EXPECT_EQ(Ve_LoopRepairAgent::repairLoopReversals().next(), &Ve_LoopRepairAgent::repairFaceSenseReversals());
  EXPECT_EQ(Ve_LoopRepairAgent::repairFaceSenseReversals().next(), &Ve_LoopRepairAgent::addPropEdgeOnPeriodicFaces());
  EXPECT_EQ(Ve_LoopRepairAgent::addPropEdgeOnPeriodicFaces().next(), nullptr);
}

// A sphere face reaching past the longitude kPi is cut there; one whose
// longitudes end at -kPi and kPi is not cut at its own side.
TEST(RepairLoopsDriver, SphereFacesAreSplitOnlyWhenTheyRunPastPi) {
  struct Case {
    const char* name;
    iso_rect r;
    long splits;
    int faces;
  };
  for (const Case& c : {Case{"past kPi", rect(-0.8, 0.6, 2.5, 3.8, true), 1, 2},
                        Case{"past -kPi", rect(-0.8, 0.6, -3.8, -2.5, true), 1, 2},
                        Case{"full longitude", rect(-0.8, 0.6, -kPi, kPi, true), 0, 1},
                        Case{"inside", rect(-0.8, 0.6, -1.0, 1.0, true), 0, 1}}) {
    SCOPED_TRACE(c.name);
    velm_test_reset();
    velm_test_record_calls(true);
    BODY* body = make_iso_rect_sheet(test_sphere(), {c.r});
    Ve_RepairLoops driver(view(body));
    EXPECT_TRUE(driver.canBeRepaired());
    EXPECT_EQ(velm_test_call_count("api_split_face"), c.splits);
    EXPECT_EQ(count_faces(body), c.faces);
    Ve_FaceRepairInput input;
    driver.classify(input);
    EXPECT_EQ(input.cleanFaces().Count(), c.faces);
    if (c.splits) {
      EXPECT_EQ(model_problems(body), "");
    }
    api_del_entity(body);
  }
}

// Two separation circles: the propagation agent joins them by a seam edge
// into one periphery, the face is clean afterwards and covers what it did.
TEST(RepairLoopsDriver, TwoCircleFacesGetTheirSeam) {
  struct Case {
    const char* name;
    BODY* (*make)();
    QELposition a, b;  // one on the face, one off it
  };
  const double s = std::sqrt(0.5);
  for (const Case& c : {Case{"cylinder band", [] { return make_cylinder_band(5.0, 8.0); }, {5, 0, 4}, {5, 0, 9}},
                        Case{"torus band round the axis", [] { return make_torus_band(true); },
                             {0, 10 + 2 * s, 2 * s}, {0, 10 - 2 * s, 2 * s}},
                        Case{"torus band round the tube", [] { return make_torus_band(false); },
                             {12 * s, 12 * s, 0}, {-12 * s, -12 * s, 0}}}) {
    SCOPED_TRACE(c.name);
    BODY* body = c.make();
    FACE* face = faces_of(body).front();
    const point_face_containment a = point_in_face(c.a, face), b = point_in_face(c.b, face);
    EXPECT_NE(a, b);
    Ve_RepairLoops driver(view(body));
    Ve_FaceRepairInput input;
    driver.classify(input);
    EXPECT_EQ(input.facesToRepair().Count(), 1);
    driver.repair(input);
    EXPECT_EQ(input.cleanFaces().Count(), 1);
    EXPECT_EQ(input.facesToRepair().Count(), 0);
    EXPECT_EQ(chain_length(face), 1);
    EXPECT_EQ(count_edges(body), 3);
    EXPECT_EQ(model_problems(body), "");
    EXPECT_EQ(point_in_face(c.a, face), a);
    EXPECT_EQ(point_in_face(c.b, face), b);
    api_del_entity(body);
  }
}

// A face closed by one separation loop and a singular end (a cap) is right
// as it is: clean, and the repair leaves it unchanged.
TEST(RepairLoopsDriver, CapsOfOneSeparationLoopAreClean) {
  struct Case {
    const char* name;
    BODY* (*make)();
  };
  for (const Case& c : {Case{"hemisphere", [] { return make_hemisphere(4.0); }}, Case{"cone", [] { return make_cone_cap(); }},
                        Case{"apple torus", [] { return make_apple_cap(); }}}) {
    SCOPED_TRACE(c.name);
    BODY* body = c.make();
    ENTITY_LIST top;
    top.add(body);
    const std::string before = velm_test::saved_records(top);
    Ve_RepairLoops driver(view(body));
    Ve_FaceRepairInput input;
    driver.classify(input);
    EXPECT_EQ(input.cleanFaces().Count(), 1);
    driver.repair(input);
    EXPECT_EQ(velm_test::saved_records(top), before);
    api_del_entity(body);
  }
}

namespace {

// A planar region whose comparisons with one loop always fail.
class FailingRegion : public Ve_PlanarFaceRegion {
 public:
  FailingRegion(FACE* face, LOOP* victim) : Ve_PlanarFaceRegion(face), victim_(victim) {}
  int compare(const Ve_BoundaryElement& e, const Ve_BoundaryElement& n) override {
    if (e.first().loop() == victim_ || n.first().loop() == victim_) return 3;
    return Ve_PlanarFaceRegion::compare(e, n);
  }

 private:
  LOOP* victim_;
};

}  // namespace

// A face split for its second periphery keeps the loop whose comparison
// failed: the loop stays in the face's chain, never dropped with a stale face.
TEST(RepairLoopsAgents, SplitFaceKeepsLoopsOfTheFailureList) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true), rect(6, 10, 0, 4, true), rect(1, 2, 1, 2, false)});
  FACE* face = faces_of(body).front();
  LOOP* failing = face->loop()->next()->next();
  Ve_FaceRepairInput input;
  Ve_FaceRegionHandle region(new FailingRegion(face, failing));
  EXPECT_FALSE(region->classifyLoops());
  ASSERT_NE(region->failures(), nullptr);
  input.setRegion(view(face), region);
  Ve_LoopRepairAgent& split = Ve_LoopRepairAgent::splitPeripheryLoops();
  ASSERT_TRUE(split.isApplicable(view(face), input));
  EXPECT_EQ(split.repairFace(view(face), input).Count(), 2);
  EXPECT_EQ(failing->face(), face);
  bool in_chain = false;
  for (LOOP* l = face->loop(); l; l = l->next()) in_chain = in_chain || l == failing;
  EXPECT_TRUE(in_chain);
  EXPECT_EQ(count_faces(body), 2);
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

// A ring that cycles without coming back to its loop's start: the walks stop
// at the bound instead of running for ever, and the body is not repairable.
TEST(RepairLoopsDriver, RingThatNeverReturnsIsNotRepairable) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true)});
  LOOP* loop = faces_of(body).front()->loop();
  COEDGE* c0 = loop->start();
  // A lead-in coedge ending where the ring starts; the ring never leads back to it.
  VERTEX* from = new VERTEX(new APOINT(-1.0, -1.0, 0.0));
  const QELposition a(-1.0, -1.0, 0.0), b = c0->start()->geometry()->coords();
  const QELinterval range(0.0, distance(a, b));
  EDGE* lead = new EDGE(from, c0->start(), new STRAIGHT(straight(a, QELunit_vector(b - a))), FORWARD, EDGE_cvty_unknown, &range);
  auto* x = new COEDGE(lead, FORWARD, nullptr, c0);
  x->set_owner(loop);
  loop->set_start(x);
  EXPECT_FALSE(Ve_RepairLoops(view(body)).canBeRepaired());
  // The loop's view walks the ring to its bound too.
  const int walked = ve_view<Ve_LoopTag>(loop)->getNumberOfCoedges();
  EXPECT_GT(walked, 5);
  EXPECT_LE(walked, velm_live_object_count() + 1);
  loop->set_start(c0);
  x->set_owner(nullptr);
  lead->set_coedge(nullptr);
  x->lose();
  api_del_entity(lead);
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

// Two faces sharing an edge, the second turned the wrong way (its sense
// reversed, its loops running as the first's do): the repair keeps the clean
// face as it is and flips the other face, leaving its loops be.
TEST(RepairLoopsAgents, FaceTiedToTheReferenceByAnEdgeIsFlipped) {
  BODY* body = make_iso_rect_faces(test_plane(),
                                   {{rect(0, 4, 0, 4, true), rect(1, 2, 1, 2, false)},
                                    {rect(4, 8, 0, 4, true), rect(5, 6, 1, 3, false)}},
                                   {FORWARD, REVERSED});
  ASSERT_EQ(model_problems(body), "");
  const std::vector<FACE*> faces = faces_of(body);
  ASSERT_EQ(faces.size(), 2u);
  std::vector<COEDGE*> starts;
  for (LOOP* l = faces[1]->loop(); l; l = l->next()) starts.push_back(l->start());
  Ve_RepairLoops driver(view(body));
  ASSERT_TRUE(driver.canBeRepaired());
  Ve_FaceRepairInput input;
  driver.classify(input);
  EXPECT_EQ(input.cleanFaces().Count(), 1);
  EXPECT_EQ(input.facesToRepair().Count(), 1);
  driver.repair(input);
  EXPECT_EQ(input.cleanFaces().Count(), 2);
  EXPECT_EQ(faces[1]->sense(), FORWARD);
  std::size_t k = 0;
  for (LOOP* l = faces[1]->loop(); l; l = l->next(), ++k) EXPECT_EQ(l->start(), starts[k]);
  EXPECT_EQ(model_problems(body), "");
  EXPECT_EQ(point_in_face(QELposition(7, 2, 0), faces[1]), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(5.5, 2, 0), faces[1]), pfc_outside);
  api_del_entity(body);
}

// Faces split off for a second periphery or an island hold surfaces of their
// own, and separating the pieces (or any faces sharing one surface) into
// bodies leaves each body whole for the checker: one body's surface never
// moves with another's.
TEST(RepairLoopsAgents, SplitPiecesOwnTheirSurfacesAcrossBodies) {
  for (const bool splitByAgents : {true, false}) {
    SCOPED_TRACE(splitByAgents ? "split by the agents" : "two faces built on one surface");
    BODY* body = splitByAgents
                     ? make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true), rect(6, 10, 0, 4, true),
                                                          rect(12, 18, 0, 6, true), rect(13, 17, 1, 5, false),
                                                          rect(14, 16, 2, 4, true)})
                     : make_iso_rect_faces(test_plane(), {{rect(0, 4, 0, 4, true)}, {rect(6, 10, 0, 4, true)}},
                                           {FORWARD, FORWARD});
    if (splitByAgents) {
      Ve_RepairLoops driver(view(body));
      Ve_FaceRepairInput input;
      driver.classify(input);
      driver.repair(input);
      const std::vector<FACE*> faces = faces_of(body);
      ASSERT_EQ(faces.size(), 4u);
      for (std::size_t i = 0; i < faces.size(); ++i)
        for (std::size_t j = i + 1; j < faces.size(); ++j) EXPECT_NE(faces[i]->geometry(), faces[j]->geometry());
    }
    int count = 0;
    BODY** pieces = nullptr;
    ASSERT_TRUE(api_separate_body(body, count, pieces).ok());
    EXPECT_EQ(count, splitByAgents ? 4 : 2);
    for (int k = 0; k < count; ++k) {
      EXPECT_EQ(model_problems(pieces[k]), "");
      ENTITY_LIST insane;
      api_check_entity(pieces[k], &insane);
      EXPECT_EQ(insane.count(), 0);
    }
    for (int k = 0; k < count; ++k) api_del_entity(pieces[k]);
    delete[] pieces;
  }
}

// The clean face is the reference wherever it stands in the body, and
// however many more loops the faulty face holds: listed after the faulty
// face it is still kept as it is, and the faulty one flipped.
TEST(RepairLoopsAgents, TheCleanFaceIsTheReferenceInEitherOrder) {
  for (const bool moreHoles : {false, true})
    for (const bool cleanFirst : {true, false}) {
      SCOPED_TRACE(std::string(cleanFirst ? "clean face first" : "faulty face first") +
                   (moreHoles ? ", the faulty face of more loops" : ""));
      const std::vector<iso_rect> clean = {rect(0, 4, 0, 4, true), rect(1, 2, 1, 2, false)};
      const std::vector<iso_rect> faulty =
          moreHoles ? std::vector<iso_rect>{rect(4, 8, 0, 4, true), rect(4.5, 5.5, 1, 3, false),
                                            rect(6, 7, 0.5, 1.5, false), rect(6, 7, 2.5, 3.5, false)}
                    : std::vector<iso_rect>{rect(4, 8, 0, 4, true), rect(5, 6, 1, 3, false)};
      BODY* body = make_iso_rect_faces(test_plane(), cleanFirst ? std::vector<std::vector<iso_rect>>{clean, faulty}
                                                                : std::vector<std::vector<iso_rect>>{faulty, clean},
                                       cleanFirst ? std::vector<sense_type>{FORWARD, REVERSED}
                                                  : std::vector<sense_type>{REVERSED, FORWARD});
      const std::vector<FACE*> faces = faces_of(body);
      FACE* good = faces[cleanFirst ? 0 : 1];
      FACE* bad = faces[cleanFirst ? 1 : 0];
      std::vector<COEDGE*> starts;
      for (LOOP* l = good->loop(); l; l = l->next()) starts.push_back(l->start());
      Ve_RepairLoops driver(view(body));
      ASSERT_TRUE(driver.canBeRepaired());
      Ve_FaceRepairInput input;
      driver.classify(input);
      driver.repair(input);
      EXPECT_EQ(input.cleanFaces().Count(), 2);
      EXPECT_EQ(good->sense(), FORWARD);
      EXPECT_EQ(bad->sense(), FORWARD);
      std::size_t k = 0;
      for (LOOP* l = good->loop(); l; l = l->next(), ++k) EXPECT_EQ(l->start(), starts[k]);
      EXPECT_EQ(model_problems(body), "");
      api_del_entity(body);
    }
}

// An edge two coedges of one sense use, either sense, makes the body not
// repairable: each face of a two-face sheet reversed in turn.
TEST(RepairLoopsDriver, AnEdgeUsedTwiceInOneSenseIsNotRepairable) {
  for (const int reversedFace : {0, 1}) {
    SCOPED_TRACE(reversedFace);
    BODY* body = make_iso_rect_faces(test_plane(), {{rect(0, 4, 0, 4, true)}, {rect(4, 8, 0, 4, true)}}, {FORWARD, FORWARD});
    ASSERT_TRUE(Ve_RepairLoops(view(body)).canBeRepaired());
    faces_of(body)[static_cast<std::size_t>(reversedFace)]->loop()->reverse();
    EXPECT_FALSE(Ve_RepairLoops(view(body)).canBeRepaired());
    api_del_entity(body);
  }
}

// A face of one loop beside a reversed face of two: turning the reversed
// face's outer loop turns the one-loop face's loop with it (they share an
// edge), which makes that face faulty in turn; it joins the faces the later
// agents mend, and the whole sheet ends sound, each face covering its area.
TEST(RepairLoopsAgents, AFaceMadeFaultyByATurnedNeighbourIsMendedToo) {
  BODY* body = make_iso_rect_faces(test_plane(), {{rect(0, 4, 0, 4, true)}, {rect(4, 8, 0, 4, true), rect(5, 6, 1, 3, false)}},
                                   {FORWARD, REVERSED});
  ASSERT_EQ(model_problems(body), "");
  Ve_RepairLoops driver(view(body));
  ASSERT_TRUE(driver.canBeRepaired());
  Ve_FaceRepairInput input;
  driver.classify(input);
  driver.repair(input);
  const std::vector<FACE*> faces = faces_of(body);
  ASSERT_EQ(faces.size(), 2u);
  EXPECT_EQ(model_problems(body), "");
  EXPECT_NEAR(body_area(body), 30.0, 1e-9);
  EXPECT_EQ(point_in_face(QELposition(2, 2, 0), faces[0]), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(7, 2, 0), faces[1]), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(5.5, 2, 0), faces[1]), pfc_outside);
  api_del_entity(body);
}

// Faces split off a double-sided face are double-sided too, whichever
// repair splits them: the agents (a second periphery and an island) or the
// simple repair (one face per loop, each made a body of its own).
TEST(RepairLoopsAgents, FacesSplitOffKeepTheFacesSides) {
  for (const bool agents : {true, false}) {
    SCOPED_TRACE(agents ? "split by the agents" : "split by the simple repair");
    BODY* body = agents ? make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true), rect(6, 10, 0, 4, true),
                                                             rect(12, 18, 0, 6, true), rect(13, 17, 1, 5, false),
                                                             rect(14, 16, 2, 4, true)})
                        : make_iso_rect_sheet(test_plane(), {rect(0, 2, 0, 2, false), rect(4, 6, 0, 2, true),
                                                             rect(8, 10, 0, 2, false)});
    faces_of(body).front()->set_sides(1);
    std::vector<FACE*> made;
    QELXDynamicArray<Ve_BodyTag*> bodies;
    if (agents) {
      Ve_RepairLoops driver(view(body));
      Ve_FaceRepairInput input;
      driver.classify(input);
      driver.repair(input);
      made = faces_of(body);
      ASSERT_EQ(made.size(), 4u);
    } else {
      QELXVelmLoopRepair repair(body);
      ASSERT_TRUE(repair.Repair());
      bodies = repair.getBodies();
      ASSERT_EQ(bodies.Count(), 2);
      made = faces_of(body);
      for (Ve_BodyTag* b : bodies)
        for (FACE* f : faces_of(reinterpret_cast<BODY*>(b))) made.push_back(f);
      ASSERT_EQ(made.size(), 3u);
    }
    for (FACE* f : made) EXPECT_EQ(f->sides(), 1);
    for (Ve_BodyTag* b : bodies) api_del_entity(reinterpret_cast<BODY*>(b));
    api_del_entity(body);
  }
}

// Turning a face turns the mark of every loop of its tree with it: the holes
// of a plane face, and both loops of a band's separation pair (the partner as
// well as the first), and turning it back restores them all.
TEST(RepairLoopsAgents, TurningAFaceTurnsEveryLoopsMarkThePairsPartnerToo) {
  struct Case {
    const char* name;
    BODY* (*make)();
  };
  for (const Case& c : {Case{"plane with two holes", [] { return face_of_loops(3); }},
                        Case{"cylinder band of two circles", [] { return make_cylinder_band(5.0, 8.0); }}}) {
    SCOPED_TRACE(c.name);
    BODY* body = c.make();
    FACE* face = faces_of(body).front();
    const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
    ASSERT_TRUE(region.IsValid());
    ASSERT_TRUE(region->classifyLoops());
    std::vector<LOOP*> loops;
    for (LOOP* l = face->loop(); l; l = l->next()) loops.push_back(l);
    const auto marks = [&] {
      std::vector<bool> out;
      for (LOOP* l : loops) {
        Ve_BoundaryElement* e = region->findEntry(l);
        EXPECT_NE(e, nullptr);
        out.push_back(e && (e->first().loop() == l ? e->first() : e->partner()).isMisclassified());
      }
      return out;
    };
    const std::vector<bool> before = marks();
    const sense_type sense = face->sense();
    Ve_RepairFaceSenseReversals::flipFace(region);
    EXPECT_NE(face->sense(), sense);
    const std::vector<bool> turned = marks();
    for (std::size_t k = 0; k < loops.size(); ++k) EXPECT_NE(turned[k], before[k]) << "loop " << k;
    Ve_RepairFaceSenseReversals::flipFace(region);
    EXPECT_EQ(face->sense(), sense);
    EXPECT_EQ(marks(), before);
    api_del_entity(body);
  }
}

// The loop-reversal walk meets a group whose other face it has been through
// already (as a cycle of faces and groups brings it back there): that face is
// not turned again, whatever its loop's mark says against the dendrite's;
// only the group's loops follow the dendrite's mark.
TEST(RepairLoopsAgents, AFaceAlreadyWalkedIsNotTurnedAgainThroughAnotherGroup) {
  BODY* body = make_iso_rect_faces(test_plane(),
                                   {{rect(0, 8, 0, 4, true), rect(1, 3, 1, 3, false)},
                                    {rect(1, 3, 1, 3, true), rect(1.5, 2.5, 1.5, 2.5, false)}},
                                   {FORWARD, FORWARD});
  const std::vector<FACE*> faces = faces_of(body);
  ASSERT_EQ(faces.size(), 2u);
  FACE* a = faces[0];
  FACE* b = faces[1];
  Ve_FaceRepairInput input;
  Ve_RepairLoops driver(static_cast<Ve_FaceTag*>(nullptr));
  const Ve_FaceRegionHandle ra = driver.createRegion(a), rb = driver.createRegion(b);
  ASSERT_TRUE(ra->classifyLoops() && rb->classifyLoops());
  input.setRegion(view(a), ra);
  input.setRegion(view(b), rb);
  input.cleanFaces().Add(view(a));
  input.cleanFaces().Add(view(b));
  LOOP* hole = a->loop()->next();
  LOOP* outer = b->loop();
  // One group of the hole and the face filling it, both faces walked already.
  Ve_AxonHeapEntity ea(0, ra), eb(1, rb);
  QELXDynamicArray<LOOP*> loops;
  loops.Add(hole);
  loops.Add(outer);
  Ve_AxonHeapEntity group(0, loops);
  Ve_Dendrite da(&group, &ea, hole), db(&group, &eb, outer);
  group.dendrites().Add(&da);
  group.dendrites().Add(&db);
  ea.dendrites().Add(&da);
  eb.dendrites().Add(&db);
  ea.setVisited(true);
  eb.setVisited(true);
  // The second face's loop as another group's walk left it: marked.
  rb->findEntry(outer)->first().setMisclassified(true);
  Ve_RepairLoopReversalsWorker worker(input);
  EXPECT_TRUE(worker.visitDendrite(&db, &group));
  EXPECT_EQ(a->sense(), FORWARD);
  EXPECT_EQ(b->sense(), FORWARD);
  api_del_entity(body);
}
