// The containment tree: insertion with re-parenting, the walk order, the
// marking visitors and the fault checks, over a comparison table.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "loops/containment_classifier.hxx"
#include "support/loop_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/topology_api.hxx"

namespace {

// Loops stand in as distinct addresses; the table says which contains which.
LOOP* L(int i) { return reinterpret_cast<LOOP*>(static_cast<std::uintptr_t>(0x1000 + 16 * i)); }

class TableClassifier : public Ve_ContainmentClassifier {
 public:
  // inside[{a, b}]: a lies inside b; fails: pairs whose comparison fails.
  std::map<std::pair<LOOP*, LOOP*>, bool> inside;
  std::vector<std::pair<LOOP*, LOOP*>> fails;
  int compare(const Ve_BoundaryElement& e, const Ve_BoundaryElement& n) override {
    LOOP* a = e.first().loop();
    LOOP* b = n.first().loop();
    for (auto& f : fails)
      if ((f.first == a && f.second == b) || (f.first == b && f.second == a)) return 3;
    if (inside.count({a, b})) return 2;
    if (inside.count({b, a})) return 0;
    return 1;
  }
  void add(int i, int type = 1) {
    Ve_BoundaryElement e(L(i));
    e.first().setType(type);
    insert(e);
  }
};

// A boundary element whose type is known without the kernel.
struct Recorder : Ve_ContainmentClassifier::Ve_ContainmentSetElementVisitor {
  std::vector<std::pair<LOOP*, int>> seen;
  bool visit(Ve_ContainmentSetElement* node, int depth) override {
    seen.emplace_back(node->element().first().loop(), depth);
    return true;
  }
};

std::vector<std::pair<LOOP*, int>> walked(Ve_ContainmentClassifier& c) {
  Recorder r;
  EXPECT_TRUE(c.walk(r));
  return r.seen;
}

}  // namespace

TEST(ContainmentTree, EmptyTreeWalksNothing) {
  TableClassifier c;
  EXPECT_TRUE(walked(c).empty());
  EXPECT_EQ(c.count(), 0);
  EXPECT_FALSE(c.isClean());
}

TEST(ContainmentTree, WalkVisitsLevelThenChildrenOfTheLastFirst) {
  TableClassifier c;
  c.inside[{L(3), L(1)}] = true;
  c.inside[{L(4), L(2)}] = true;
  for (int i : {1, 2, 3, 4}) c.add(i);
  const std::vector<std::pair<LOOP*, int>> expected = {{L(1), 0}, {L(2), 0}, {L(4), 1}, {L(3), 1}};
  EXPECT_EQ(walked(c), expected);
}

TEST(ContainmentTree, ElementInsideTheSecondOfThreeBecomesItsChild) {
  TableClassifier c;
  c.inside[{L(9), L(2)}] = true;
  for (int i : {1, 2, 3, 9}) c.add(i);
  EXPECT_EQ(c.count(), 4);
  Ve_ContainmentSetElement* second = c.topNode()->next();
  ASSERT_NE(second->child(), nullptr);
  EXPECT_EQ(second->child()->element().first().loop(), L(9));
  EXPECT_EQ(second->child()->parent(), second);
}

// An element enclosing two of three top-level nodes takes them as children,
// wherever the one it leaves stands (first, middle or last): no node is lost.
TEST(ContainmentTree, EnclosingTwoOfThreeKeepsEveryNode) {
  for (int left : {1, 2, 3}) {
    SCOPED_TRACE(left);
    TableClassifier c;
    for (int i : {1, 2, 3})
      if (i != left) c.inside[{L(i), L(9)}] = true;
    for (int i : {1, 2, 3, 9}) c.add(i);
    EXPECT_EQ(c.count(), 4);
    ASSERT_NE(c.topNode(), nullptr);
    ASSERT_NE(c.topNode()->next(), nullptr);
    EXPECT_EQ(c.topNode()->next()->next(), nullptr);
    EXPECT_EQ(c.topNode()->element().first().loop(), L(left));
    Ve_ContainmentSetElement* added = c.topNode()->next();
    EXPECT_EQ(added->element().first().loop(), L(9));
    int children = 0;
    for (Ve_ContainmentSetElement* ch = added->child(); ch; ch = ch->next()) {
      EXPECT_EQ(ch->parent(), added);
      ++children;
    }
    EXPECT_EQ(children, 2);
    EXPECT_EQ(walked(c).size(), 4u);
  }
}

TEST(ContainmentTree, EnclosingInsideAChildLevelReparentsThere) {
  TableClassifier c;
  // 1 holds 2 and 3; 4 lies in 1 and holds 2 and 3.
  for (int i : {2, 3, 4}) c.inside[{L(i), L(1)}] = true;
  c.inside[{L(2), L(4)}] = true;
  c.inside[{L(3), L(4)}] = true;
  for (int i : {1, 2, 3, 4}) c.add(i);
  const std::vector<std::pair<LOOP*, int>> expected = {{L(1), 0}, {L(4), 1}, {L(2), 2}, {L(3), 2}};
  EXPECT_EQ(walked(c), expected);
}

TEST(ContainmentTree, FailedComparisonGoesToTheFailureListVisitedFirst) {
  TableClassifier c;
  c.fails.push_back({L(2), L(1)});
  c.add(1, 1);
  c.add(2, 2);
  EXPECT_EQ(c.count(), 2);
  ASSERT_NE(c.failures(), nullptr);
  const std::vector<std::pair<LOOP*, int>> expected = {{L(2), 0}, {L(1), 0}};
  EXPECT_EQ(walked(c), expected);
  // A hole waiting there counts at depth 0: marked.
  Ve_UpdatePeripheryOrHoleBndryType mark;
  EXPECT_TRUE(c.walk(mark));
  EXPECT_EQ(mark.visited(), 2);
  EXPECT_TRUE(c.failures()->element().first().isMisclassified());
  EXPECT_FALSE(c.isClean());
}

TEST(ContainmentTree, VisitorMarksRolesAgainstDepth) {
  struct Case {
    int type;
    int depth;
    bool marked;
  };
  // Loop 1 at depth 0, 2 at 1, 3 at 2.
  for (const Case& k : {Case{1, 0, false}, Case{2, 0, true}, Case{1, 1, true}, Case{2, 1, false}, Case{2, 2, true},
                        Case{1, 2, false}, Case{0, 1, false}}) {
    SCOPED_TRACE(testing::Message() << "type " << k.type << " depth " << k.depth);
    TableClassifier c;
    c.inside[{L(2), L(1)}] = true;
    c.inside[{L(3), L(1)}] = true;
    c.inside[{L(3), L(2)}] = true;
    for (int i : {1, 2, 3}) c.add(i, i - 1 == k.depth ? k.type : (i % 2 ? 1 : 2));
    Ve_UpdatePeripheryOrHoleBndryType mark;
    c.walk(mark);
    Ve_BoundaryElement* e = c.findEntry(L(k.depth + 1));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->first().isMisclassified(), k.marked);
  }
}

TEST(ContainmentTree, SeparationVisitorLeavesPairsAlone) {
  TableClassifier c;
  Ve_BoundaryElement pair(L(1));
  pair.first().setType(2);
  Ve_LoopElement partner(L(2));
  partner.setType(2);
  pair.setPartner(partner);
  c.insert(pair);
  Ve_UpdateSeparationBndryType mark;
  c.walk(mark);
  EXPECT_EQ(mark.visited(), 1);
  EXPECT_FALSE(c.topNode()->element().first().isMisclassified());
  EXPECT_EQ(c.findEntry(L(2)), &c.topNode()->element());
  EXPECT_EQ(c.findEntry(L(7)), nullptr);
}

TEST(ContainmentTree, CleanOnlyForOnePeripheryWithSingleHoles) {
  TableClassifier c;
  c.inside[{L(2), L(1)}] = true;
  c.inside[{L(3), L(1)}] = true;
  c.add(1, 1);
  c.add(2, 2);
  c.add(3, 2);
  Ve_UpdatePeripheryOrHoleBndryType mark;
  c.walk(mark);
  EXPECT_TRUE(c.isClean());
  EXPECT_FALSE(c.hasNestedFault(c.topNode()->child(), 1));
  // An island in a hole is a fault at depth 1 even with every mark clear.
  c.inside[{L(4), L(1)}] = true;
  c.inside[{L(4), L(2)}] = true;
  c.add(4, 1);
  EXPECT_TRUE(c.hasNestedFault(c.topNode()->child(), 1));
  EXPECT_FALSE(c.isClean());
}

// Two sphere faces over the same rectangle of the sphere, in one shell: the
// first face's loop meets the second's along every side. `agree`: the second
// runs the other way round, so each side's partner runs against it.
BODY* sphereCapAndRest(bool agree) {
  const testkit::iso_rect r = testkit::rect(-0.5, 0.5, -1.0, 1.0, true);
  testkit::iso_rect other = r;
  other.ccw = !agree;
  return testkit::make_iso_rect_faces(testkit::test_sphere(), {{r}, {other}}, {FORWARD, FORWARD});
}

// The separation pass leaves alone a hole at the top of a face on a surface
// that closes all round when its partners run against it; a hole whose
// partners run the same way, or a hole nested deeper, is marked as any.
TEST(ContainmentTree, SeparationVisitorSparesOnlyATopHoleItsNeighboursAgreeWith) {
  struct Case {
    const char* name;
    bool agree;
    int depth;
    bool marked;
  };
  for (const Case& k : {Case{"top hole, neighbours agree", true, 0, false},
                        Case{"top hole, neighbours run the same way", false, 0, true},
                        Case{"hole two levels down, neighbours agree", true, 2, true}}) {
    SCOPED_TRACE(k.name);
    BODY* body = sphereCapAndRest(k.agree);
    LOOP* cap = body->lump()->shell()->face()->loop();
    TableClassifier c;
    // Loops 1 and 2 stand over the cap when it lies two levels down.
    if (k.depth == 2) {
      c.inside[{L(2), L(1)}] = true;
      c.inside[{cap, L(1)}] = true;
      c.inside[{cap, L(2)}] = true;
      c.add(1, 1);
      c.add(2, 2);
    }
    Ve_BoundaryElement e(cap);
    e.first().setType(2);
    c.insert(e);
    Ve_UpdateSeparationBndryType mark;
    c.walk(mark);
    Ve_BoundaryElement* found = c.findEntry(cap);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->first().isMisclassified(), k.marked);
    api_del_entity(body);
  }
}

namespace {

// A cubic B-spline cone: a periodic ring round a hexagon of radius 2 at z = 0
// (u = 0) drawn straight to a point at z = 4 (u = 1); v in [3, 9], periodic.
// Closed round v, singular at its high u end alone.
spline splineDrawnToAPoint() {
  const double pi = testkit::kPi;
  std::vector<QELposition> pts;
  for (int j = 0; j < 9; ++j) pts.emplace_back(2.0 * std::cos(j * pi / 3), 2.0 * std::sin(j * pi / 3), 0.0);
  for (int j = 0; j < 9; ++j) pts.emplace_back(0.0, 0.0, 4.0);
  std::vector<double> vknots;
  for (int k = 0; k < 13; ++k) vknots.push_back(k);
  const double uknots[4] = {0, 0, 1, 1};
  bs3_surface bs = bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, 3, 0, 2, 0, 9, pts.data(), nullptr, QELresabs, 4, uknots,
                                            static_cast<int>(vknots.size()), vknots.data(), QELresnor);
  const spline made(bs);  // a copy of its own
  bs3_surface_delete(bs);
  return made;
}

}  // namespace

// A hole at the top of a face whose neighbour agrees with it is spared only
// where loops close up all round the surface (singular at both ends or
// closed, in each direction: a sphere, a torus); on a spline drawn to a point
// at one end only, or a cylinder, the face beyond such a hole would be open,
// and the hole is marked.
TEST(ContainmentTree, SeparationVisitorSparesATopHoleOnlyWhereLoopsCloseAllRound) {
  struct Case {
    const char* name;
    std::function<surface*()> make;
    testkit::iso_rect r;
    bool marked;
  };
  const std::vector<Case> cases = {
      {"sphere", [] { return testkit::test_sphere().make_copy(); }, testkit::rect(-0.5, 0.5, -1.0, 1.0, true), false},
      {"torus", [] { return testkit::test_torus().make_copy(); }, testkit::rect(0.5, 1.5, 0.5, 1.5, true), false},
      {"spline drawn to a point at one end", [] { return splineDrawnToAPoint().make_copy(); },
       testkit::rect(0.2, 0.5, 4.0, 5.0, true), true},
      {"cylinder", [] { return testkit::test_cylinder().make_copy(); }, testkit::rect(1.0, 2.0, 0.5, 1.5, true), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::unique_ptr<surface> srf(k.make());
    testkit::iso_rect other = k.r;
    other.ccw = false;
    BODY* body = testkit::make_iso_rect_faces(*srf, {{k.r}, {other}}, {FORWARD, FORWARD});
    LOOP* cap = body->lump()->shell()->face()->loop();
    TableClassifier c;
    Ve_BoundaryElement e(cap);
    e.first().setType(2);
    c.insert(e);
    Ve_UpdateSeparationBndryType mark;
    c.walk(mark);
    Ve_BoundaryElement* found = c.findEntry(cap);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->first().isMisclassified(), k.marked);
    api_del_entity(body);
  }
}
