// Loop-in-loop along an iso-parameter line, the choice of that line, and
// containment trees of deeply nested loops and of loops across seams.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "loops/face_regions.hxx"
#include "loops/loop_containment.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "loops/repair_loops.hxx"
#include "support/geometry_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

std::vector<LOOP*> loops_of(BODY* body) {
  std::vector<LOOP*> out;
  for (LOOP* l = faces_of(body).front()->loop(); l; l = l->next()) out.push_back(l);
  return out;
}

QELXDynamicArray<LOOP*> array_of(std::initializer_list<LOOP*> loops) {
  QELXDynamicArray<LOOP*> a;
  for (LOOP* l : loops) a.Add(l);
  return a;
}

int classify(LOOP* a, LOOP* b) { return Ve_PeripheryOrHoleLoopContainment(a, b).classify(); }

}  // namespace

// Orientation plays no part: each pair in either running direction.
TEST(LoopContainment, NestedAndDisjointLoopsInEitherDirection) {
  struct Case {
    const char* name;
    std::unique_ptr<surface> srf;
    iso_rect a, b;
    int expected;  // classify(a, b)
  };
  std::vector<Case> cases;
  for (bool ccw : {true, false}) {
    cases.push_back({"nested rectangles", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 10, 0, 10, ccw),
                     rect(3, 5, 3, 5, ccw), 0});
    cases.push_back({"inner first", std::unique_ptr<surface>(test_plane().make_copy()), rect(3, 5, 3, 5, !ccw),
                     rect(0, 10, 0, 10, ccw), 1});
    cases.push_back({"disjoint", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 2, 0, 2, ccw),
                     rect(5, 7, 1, 3, ccw), 2});
    cases.push_back({"overlapping in u only", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 4, 0, 2, ccw),
                     rect(1, 3, 5, 7, ccw), 2});
    cases.push_back({"cylinder across its seam", std::unique_ptr<surface>(test_cylinder().make_copy()),
                     rect(0, 6, kPi - 1.0, kPi + 1.2, ccw), rect(2, 3, kPi - 0.3, kPi + 0.4, ccw), 0});
    cases.push_back({"torus across both seams", std::unique_ptr<surface>(test_torus().make_copy()),
                     rect(kPi - 1, kPi + 1, kPi - 0.8, kPi + 1.3, ccw), rect(kPi - 0.2, kPi + 0.3, kPi - 0.3, kPi + 0.2, ccw), 0});
    cases.push_back({"sphere, side by side over the seam", std::unique_ptr<surface>(test_sphere().make_copy()),
                     rect(-0.5, 0.5, kPi - 0.6, kPi - 0.1, ccw), rect(-0.5, 0.5, kPi + 0.1, kPi + 0.6, ccw), 2});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(*c.srf, {c.a, c.b});
    const std::vector<LOOP*> l = loops_of(body);
    EXPECT_EQ(classify(l[0], l[1]), c.expected);
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    EXPECT_EQ(model_problems(body), "");
    api_del_entity(body);
  }
}

TEST(LoopContainment, IsoLineFollowsTheClosedDirectionThenTheLongerSide) {
  struct Case {
    const char* name;
    std::unique_ptr<surface> srf;
    iso_rect r;
    bool constant_u;
  };
  std::vector<Case> cases;
  cases.push_back({"plane, wide box", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 8, 0, 2, true), true});
  cases.push_back({"plane, tall box", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 2, 0, 8, true), false});
  // Closed round v: lines of constant v, however the box is shaped.
  cases.push_back({"cylinder", std::unique_ptr<surface>(test_cylinder().make_copy()), rect(0, 0.1, -2, 2, true), false});
  // Periodic in u: constant u.
  cases.push_back({"torus", std::unique_ptr<surface>(test_torus().make_copy()), rect(0, 0.1, -2, 2, true), true});
  // A sphere is closed in v and singular at its u ends: closure wins.
  cases.push_back({"sphere", std::unique_ptr<surface>(test_sphere().make_copy()), rect(-1, 1, 0, 0.2, true), false});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(*c.srf, {c.r});
    const QELXDynamicArray<LOOP*> loops = array_of({loops_of(body)[0]});
    const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(loops, false);
    EXPECT_EQ(line.constantU, c.constant_u);
    EXPECT_EQ(ve_loops::chooseIsoParameterLine(loops, true).constantU, !c.constant_u);
    // Every vertex lies at a side of the box: the line runs through its middle.
    const QELinterval along = line.constantU ? c.r.box.u_range() : c.r.box.v_range();
    EXPECT_NEAR(line.value, along.mid_pt(), 1e-9);
    api_del_entity(body);
  }
}

TEST(LoopContainment, StraightIsoEdgeSpansTheLoopsBoxGrownByItsDiagonalAndGoes) {
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 10, 0, 4, true), rect(2, 4, 1, 2, false)});
  const std::vector<LOOP*> l = loops_of(body);
  const QELXDynamicArray<LOOP*> loops = array_of({l[1], l[0]});
  const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(loops, false);
  ASSERT_TRUE(line.constantU);
  EDGE* edge = ve_loops::makeIsoParameterEdge(loops, line);
  ASSERT_NE(edge, nullptr);
  // At x = 3 across the box [0, 10] x [0, 4] grown by its diagonal: y from -sqrt(116) to 4 + sqrt(116).
  EXPECT_NEAR(line.value, 3.0, 1e-9);
  const double d = std::sqrt(116.0);
  EXPECT_NEAR(edge->param_range().start_pt(), -d, 1e-9);
  EXPECT_NEAR(edge->param_range().end_pt(), 4.0 + d, 1e-9);
  QELXDynamicArray<Gk_Domain> outer, inner;
  EXPECT_TRUE(ve_loops::insideIntervals(l[0], edge, outer));
  EXPECT_TRUE(ve_loops::insideIntervals(l[1], edge, inner));
  ASSERT_EQ(outer.Count(), 1);
  ASSERT_EQ(inner.Count(), 1);
  EXPECT_NEAR(outer[0].low(), 0.0, 1e-6);
  EXPECT_NEAR(outer[0].high(), 4.0, 1e-6);
  EXPECT_NEAR(inner[0].low(), 1.0, 1e-6);
  EXPECT_NEAR(inner[0].high(), 2.0, 1e-6);
  Ve_ReplaceBySurfInt::getWorkerMap().Clear();
  api_del_entity(edge);
  // Each containment question makes its line and deletes it again.
  const long live = velm_live_object_count();
  EXPECT_EQ(classify(l[0], l[1]), 0);
  Ve_ReplaceBySurfInt::getWorkerMap().Clear();
  EXPECT_EQ(velm_live_object_count(), live);
  api_del_entity(body);
}

// Periphery, hole, island, hole, island, ... five levels deep: the tree is a
// chain, and each level alternates periphery and hole whatever the loop order.
TEST(LoopContainment, NestedFiveLevelsDeepOnPlaneSphereAndTorus) {
  struct Case {
    const char* name;
    std::unique_ptr<surface> srf;
    QELpar_box box;
  };
  std::vector<Case> cases;
  cases.push_back({"plane", std::unique_ptr<surface>(test_plane().make_copy()), QELpar_box(QELinterval(0, 20), QELinterval(0, 20))});
  cases.push_back({"sphere", std::unique_ptr<surface>(test_sphere().make_copy()), QELpar_box(QELinterval(-1.2, 1.2), QELinterval(-2, 2))});
  cases.push_back({"torus over its seams", std::unique_ptr<surface>(test_torus().make_copy()),
                   QELpar_box(QELinterval(kPi - 2, kPi + 2), QELinterval(kPi - 2, kPi + 2))});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<iso_rect> rects;
    for (int level = 0; level < 5; ++level) {
      const double f = 0.09 * level;
      rects.push_back(rect(c.box.u_range().interpolate(f), c.box.u_range().interpolate(1 - f), c.box.v_range().interpolate(f),
                           c.box.v_range().interpolate(1 - f), level % 2 == 0));
    }
    // Listed innermost first, so every insertion re-parents.
    std::vector<iso_rect> order(rects.rbegin(), rects.rend());
    BODY* body = make_iso_rect_sheet(*c.srf, order);
    Ve_RepairLoops driver(static_cast<Ve_FaceTag*>(nullptr));
    Ve_FaceRegionHandle region = driver.createRegion(faces_of(body).front());
    ASSERT_TRUE(region.IsValid());
    EXPECT_TRUE(region->classifyLoops());
    EXPECT_EQ(region->count(), 5);
    int depth = 0;
    for (Ve_ContainmentSetElement* n = region->topNode(); n; n = n->child(), ++depth) {
      EXPECT_EQ(n->next(), nullptr);
      EXPECT_EQ(n->element().first().type(), depth % 2 == 0 ? 1 : 2);
      EXPECT_FALSE(n->element().first().isMisclassified());
    }
    EXPECT_EQ(depth, 5);
    EXPECT_FALSE(region->isClean());  // islands need faces of their own
    api_del_entity(body);
  }
}

TEST(LoopContainment, NullLoopIsAFailure) {
  bool result = true;
  BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 1, 0, 1, true)});
  Ve_PeripheryOrHoleLoopContainment test(loops_of(body)[0], loops_of(body)[0]);
  EXPECT_EQ(test.encloses(nullptr, loops_of(body)[0], result), 0x1000001u);
  api_del_entity(body);
}

// A line meeting a circular loop: crossing it, the inside is the chord
// between the crossings; touching it, the line has no stretch inside and the
// answer is still sound (the touch is no crossing, in either pass).
TEST(LoopContainment, ALineTouchingALoopHasNoStretchInsideIt) {
  BODY* solid = make_cylinder(5.0, 8.0);
  LOOP* floor = nullptr;
  for (FACE* f : faces_of(solid))
    if (f->geometry()->equation().type() == 1 && coedge_start_pos(f->loop()->start()).z() < 1.0) floor = f->loop();
  ASSERT_NE(floor, nullptr);
  struct Case {
    const char* name;
    double x;             // the line x = const in the floor's plane
    int stretches;
    double half;          // half the chord
  };
  for (const Case& c : {Case{"crossing", 3.0, 1, 4.0}, Case{"touching", 5.0, 0, 0.0}}) {
    SCOPED_TRACE(c.name);
    const QELposition from(c.x, -10.0, 0.0);
    const QELinterval range(0.0, 20.0);
    EDGE* line = new EDGE(new VERTEX(new APOINT(from)), new VERTEX(new APOINT(QELposition(c.x, 10.0, 0.0))),
                          new STRAIGHT(straight(from, QELunit_vector(0.0, 1.0, 0.0))), FORWARD, EDGE_cvty_unknown, &range);
    QELXDynamicArray<Gk_Domain> inside;
    EXPECT_TRUE(ve_loops::insideIntervals(floor, line, inside));
    ASSERT_EQ(inside.Count(), c.stretches);
    if (c.stretches == 1) {
      EXPECT_NEAR(inside[0].low(), 10.0 - c.half, 1e-6);
      EXPECT_NEAR(inside[0].high(), 10.0 + c.half, 1e-6);
    }
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(line);
  }
  api_del_entity(solid);
}

// A loop of one circle on the plane z = 0 (u = x, v = y), its only vertex at
// the low or the high end of its box along v (the box is taller than wide
// as six samples see it, so the line is one of constant v): the vertex lies
// at an end of the box, so the line lies in the middle of the box, not on
// the vertex where it would only touch the circle.
TEST(LoopContainment, TheLineAcrossACircleLiesInTheMiddleWhereverItsVertex) {
  for (const double side : {-1.0, 1.0}) {
    SCOPED_TRACE(side < 0 ? "vertex at the low end" : "vertex at the high end");
    const double r = 2.0;
    // The circle starts at centre - major, counter-clockwise about +z.
    auto* v = new VERTEX(new APOINT(QELposition(0.0, side * r, 0.0)));
    const QELinterval turn(-kPi, kPi);
    auto* e = new EDGE(v, v, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(0, -side * r, 0), 1.0)),
                       FORWARD, EDGE_cvty_unknown, &turn);
    auto* c = new COEDGE(e, FORWARD, nullptr, nullptr);
    c->set_next(c);
    c->set_previous(c);
    auto* face = new FACE(new LOOP(c, nullptr), nullptr, new PLANE(plane(QELposition(), QELunit_vector(0, 0, 1))), FORWARD);
    BODY* body = new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
    const QELpar_box box = ve_loops::loopParameterBox(face->loop());
    ASSERT_NEAR(box.v_range().start_pt(), -r, 1e-9);
    ASSERT_NEAR(box.v_range().end_pt(), r, 1e-9);
    const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(array_of({face->loop()}), false);
    EXPECT_FALSE(line.constantU);
    EXPECT_NEAR(line.value, 0.0, 1e-9);
    api_del_entity(body);
  }
}

// The kernel's relation between the line and a loop's edges cannot be worked
// out for any edge: the crossings come from the curves' own intersection, so
// the line still has its stretch inside the loop (through the loop's side
// and, on the diagonal, through two of its corners).
TEST(LoopContainment, CrossingsComeFromTheCurvesWhenTheEdgeRelationFails) {
  struct Case {
    const char* name;
    QELposition from, to;  // the line, over [0, 20]
    double low, high;      // its stretch inside the square [0, 4]^2
  };
  const double diagonal = std::sqrt(2.0) * 4.0, reach = 20.0;
  for (const Case& c : {Case{"across the sides", QELposition(1, -8, 0), QELposition(1, 12, 0), 8.0, 12.0},
                        Case{"through two corners", QELposition(-4, -4, 0), QELposition(-4 + reach / std::sqrt(2.0), -4 + reach / std::sqrt(2.0), 0),
                             diagonal, 2.0 * diagonal}}) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 4, 0, 4, true)});
    const QELinterval range(0.0, reach);
    EDGE* line = new EDGE(new VERTEX(new APOINT(c.from)), new VERTEX(new APOINT(c.to)),
                          new STRAIGHT(straight(c.from, normalise(c.to - c.from))), FORWARD, EDGE_cvty_unknown, &range);
    for (long n = 1; n <= 4; ++n)
      velm_test_fail_call("edge_entity_rel", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    QELXDynamicArray<Gk_Domain> inside;
    EXPECT_TRUE(ve_loops::insideIntervals(loops_of(body)[0], line, inside));
    EXPECT_FALSE(velm_test_injection_pending()) << "every side's relation failed";
    ASSERT_EQ(inside.Count(), 1);
    EXPECT_NEAR(inside[0].low(), c.low, 1e-6);
    EXPECT_NEAR(inside[0].high(), c.high, 1e-6);
    velm_test_reset();
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(line);
    api_del_entity(body);
  }
}

// Past eight loops a plane face's loops meet only those their boxes' cells
// meet; two loops whose boxes are a hair apart across a cell line (closer
// than the comparison's fuzz, so not apart to it) are still compared, and the
// face classifies as it does without the index.
TEST(LoopContainment, TheIndexComparesLoopsTouchingAcrossACellLineAsWithoutIt) {
  // Nine loops over [0, 9]^2: cells of side 3, a cell line at v = 3.
  const double hair = 4e-11;
  const std::vector<iso_rect> touching = {rect(0.5, 1.5, 2.0, 3.0 - hair, true), rect(0.5, 1.5, 3.0 + hair, 4.0, true)};
  const std::vector<iso_rect> far = {rect(0, 0.3, 7, 8, true), rect(4, 5, 0, 1, true), rect(6, 7, 0, 1, true),
                                     rect(4, 5, 4, 5, true), rect(6, 7, 4, 5, true), rect(8, 9, 8, 9, true),
                                     rect(4, 5, 7, 8, true)};
  auto classifyLayout = [](const std::vector<iso_rect>& rects, bool& failed, int& count) {
    BODY* body = make_iso_rect_sheet(test_plane(), rects);
    Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(faces_of(body).front());
    const bool classified = region->classifyLoops();
    failed = region->failures() != nullptr;
    count = region->count();
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(body);
    return classified;
  };
  for (const bool touchingFirst : {true, false}) {
    SCOPED_TRACE(touchingFirst ? "touching loops listed first" : "touching loops listed last");
    std::vector<iso_rect> all = touchingFirst ? touching : far;
    all.insert(all.end(), touchingFirst ? far.begin() : touching.begin(), touchingFirst ? far.end() : touching.end());
    bool failedAlone = false, failedIndexed = false;
    int countAlone = 0, countIndexed = 0;
    const bool alone = classifyLayout(touching, failedAlone, countAlone);
    const bool indexed = classifyLayout(all, failedIndexed, countIndexed);
    EXPECT_EQ(indexed, alone);
    EXPECT_EQ(failedIndexed, failedAlone);
    EXPECT_EQ(countIndexed, countAlone + static_cast<int>(far.size()));
  }
}

// Past eight loops, holes straddling the index's cell lines (each in two or
// four cells) listed before the periphery round them: the periphery meets
// each hole once, takes every one as its child, and the face classifies as
// it does with the periphery listed first.
TEST(LoopContainment, APeripheryListedAfterHolesStraddlingCellLinesTakesEachOnce) {
  // Nine loops over [0, 9]^2: cells of side 3, cell lines at 3 and 6.
  const iso_rect periphery = rect(0, 9, 0, 9, true);
  const std::vector<iso_rect> holes = {rect(2.5, 3.5, 0.5, 1.5, false), rect(5.5, 6.5, 0.5, 1.5, false),
                                       rect(0.5, 1.5, 2.5, 3.5, false), rect(2.5, 3.5, 2.5, 3.5, false),
                                       rect(5.5, 6.5, 5.5, 6.5, false), rect(7.0, 8.0, 2.5, 3.5, false),
                                       rect(0.5, 1.5, 5.5, 6.5, false), rect(2.5, 3.5, 7.0, 8.0, false)};
  for (const bool peripheryLast : {false, true}) {
    SCOPED_TRACE(peripheryLast ? "periphery listed last" : "periphery listed first");
    std::vector<iso_rect> all = holes;
    all.insert(peripheryLast ? all.end() : all.begin(), periphery);
    BODY* body = make_iso_rect_sheet(test_plane(), all);
    Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(faces_of(body).front());
    EXPECT_TRUE(region->classifyLoops());
    EXPECT_EQ(region->failures(), nullptr);
    EXPECT_EQ(region->count(), 9);
    EXPECT_TRUE(region->isClean());
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(body);
  }
}
