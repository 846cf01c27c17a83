// Loops whose parameter boxes decide what they are compared with: boxes
// that only touch, a loop whose box cannot be found among loops the index
// sorts into cells, and loops that together span more than a period of a
// closed surface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loops/face_regions.hxx"
#include "loops/loop_containment.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "loops/repair_loops.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

struct BoxCaseOutcome {
  bool classified = false;
  bool failed = false;
  int count = 0;
};

// The face of the sheet classified by its region; `strip` loses the curves
// of the loop at that index first (its box cannot be found then).
BoxCaseOutcome classifyBoxCase(const surface& srf, const std::vector<iso_rect>& rects, int strip = -1) {
  BODY* body = make_iso_rect_sheet(srf, rects);
  FACE* face = faces_of(body).front();
  int k = 0;
  for (LOOP* l = face->loop(); l; l = l->next(), ++k) {
    if (k != strip) continue;
    COEDGE* c = l->start();
    do {
      c->edge()->set_geometry(nullptr);
      c = c->next();
    } while (c && c != l->start());
  }
  Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
  BoxCaseOutcome out;
  out.classified = region->classifyLoops();
  out.failed = region->failures() != nullptr;
  out.count = region->count();
  Ve_ReplaceBySurfInt::getWorkerMap().Clear();
  api_del_entity(body);
  return out;
}

}  // namespace

// Boxes count as apart only beyond the comparison's fuzz: loops whose boxes
// touch (side by side along u or along v) are compared in full,
// which finds their stretches on the line meeting and fails the face; boxes a
// little apart are loops apart; a hole touching its periphery's side from
// within is nested.
TEST(LoopBoxCases, BoxesThatTouchAreComparedInFull) {
  struct Case {
    const char* name;
    std::vector<iso_rect> rects;
    bool classified, failed;
  };
  const std::vector<Case> cases = {
      {"side by side along u", {rect(0, 1, 0, 1, true), rect(1, 2, 0, 1, true)}, false, true},
      {"side by side along v", {rect(0, 1, 0, 1, true), rect(0, 1, 1, 2, true)}, false, true},
      {"a hundredth apart", {rect(0, 1, 0, 1, true), rect(1.01, 2, 0, 1, true)}, true, false},
      {"hole touching its periphery's side", {rect(0, 4, 0, 4, true), rect(0, 1, 1, 2, false)}, true, false},
  };
  for (const Case& c : cases)
    for (const bool reversedOrder : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (reversedOrder ? ", listed the other way" : ""));
      std::vector<iso_rect> rects = c.rects;
      if (reversedOrder) std::swap(rects[0], rects[1]);
      const BoxCaseOutcome out = classifyBoxCase(test_plane(), rects);
      EXPECT_EQ(out.classified, c.classified);
      EXPECT_EQ(out.failed, c.failed);
    }
}

// A square over the end of a long thin loop: the lines through the thin
// loop's box miss the square (or the thin loop), so comparing the thin loop
// as the inner one finds neither inside; the line through the square's box
// meets both, their stretches overlapping in part. The comparison fails
// whichever loop goes first, and the face does not classify.
TEST(LoopBoxCases, LoopsCrossingWhereOnlyOneLoopsLineSeesItFailTheComparison) {
  const iso_rect thin = rect(0, 10, 0, 1, true), square = rect(9, 11, 0.7, 3, true);
  BODY* body = make_iso_rect_sheet(test_plane(), {thin, square});
  LOOP* a = faces_of(body).front()->loop();
  LOOP* b = a->next();
  EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(a, b).classify(), Ve_LoopContainment::Failed);
  EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(b, a).classify(), Ve_LoopContainment::Failed);
  Ve_ReplaceBySurfInt::getWorkerMap().Clear();
  api_del_entity(body);
  for (const bool squareFirst : {true, false}) {
    SCOPED_TRACE(squareFirst ? "square listed first" : "thin loop listed first");
    const BoxCaseOutcome out =
        classifyBoxCase(test_plane(), squareFirst ? std::vector<iso_rect>{square, thin} : std::vector<iso_rect>{thin, square});
    EXPECT_FALSE(out.classified);
    EXPECT_TRUE(out.failed);
  }
}

// A loop whose edges lost their curves has no box; listed first it heads the
// tree. Past eight loops (where the index sorts loops into cells) every loop
// after it is still compared with it, and each comparison fails as it does
// with one loop beside it.
TEST(LoopBoxCases, ALoopWithoutABoxIsMetByEveryLoopWithOrWithoutTheIndex) {
  const iso_rect boxless = rect(0.2, 0.8, 0.2, 0.8, true);
  const std::vector<iso_rect> others = {rect(2, 3, 0, 1, true), rect(4, 5, 0, 1, true), rect(6, 7, 0, 1, true),
                                        rect(2, 3, 4, 5, true), rect(4, 5, 4, 5, true), rect(6, 7, 4, 5, true),
                                        rect(2, 3, 7, 8, true), rect(6, 7, 7, 8, true)};
  for (const std::size_t n : {std::size_t(1), others.size()}) {
    SCOPED_TRACE(std::to_string(n + 1) + " loops");
    std::vector<iso_rect> rects = {boxless};
    rects.insert(rects.end(), others.begin(), others.begin() + static_cast<std::ptrdiff_t>(n));
    const BoxCaseOutcome out = classifyBoxCase(test_plane(), rects, 0);
    EXPECT_FALSE(out.classified);
    EXPECT_TRUE(out.failed);
    // Only the boxless loop is in the tree; every other loop failed against it.
    EXPECT_EQ(out.count, static_cast<int>(n) + 1);
  }
}

// On the torus a loop across the v seam holds a loop across it too; a third
// loop on another band of u, nearly all the way round, makes the face's loops
// span more than a period of v together, however each loop's parameters are
// read (from pcurves in either branch of v, or from the surface alone). The
// line along v still starts off the two loops it meets (a whole turn would
// start inside both, at the seam), and the nesting reads as it does without
// the third loop, either way round.
TEST(LoopBoxCases, LoopsAcrossTheSeamNestTheSameBesideALoopNearlyAllRound) {
  const iso_rect outer = rect(1.0, 2.0, kPi - 0.5, kPi + 0.5, true);
  const iso_rect inner = rect(1.2, 1.8, kPi - 0.2, kPi + 0.2, false);
  struct Case {
    const char* name;
    bool third;
    double shift;  // the third loop's v moved by whole periods
    bool pcurves;
  };
  const std::vector<Case> cases = {{"alone", false, 0.0, true},
                                   {"beside a loop nearly all round", true, 0.0, true},
                                   {"beside it, read a period on", true, 2.0 * kPi, true},
                                   {"beside it, without pcurves", true, 0.0, false}};
  for (const Case& c : cases)
    for (const bool ccw : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (ccw ? ", ccw" : ", cw"));
      std::vector<iso_rect> rects = {outer, inner};
      if (c.third) rects.push_back(rect(3.0, 4.0, -3.0 + c.shift, 2.9 + c.shift, ccw));
      BODY* body = make_iso_rect_sheet(test_torus(), rects);
      if (!c.pcurves) sg_rm_pcurves_from_entity(body);
      FACE* face = faces_of(body).front();
      LOOP* a = face->loop();
      LOOP* b = a->next();
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(a, b).classify(), Ve_LoopContainment::FirstEnclosesSecond);
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(b, a).classify(), Ve_LoopContainment::SecondEnclosesFirst);
      Ve_ReplaceBySurfInt::getWorkerMap().Clear();
      api_del_entity(body);
    }
}

// Loops on the torus whose pcurves are read in different periods of v (one,
// two or three whole turns apart, either way): the stretch the line along v is limited to
// takes each loop's box moved by whole periods towards the first loop's,
// so a hole and its periphery across the seam, one read a turn on, still span
// less than a period together, and the line starts off both. Read as they
// come they seem to span more than a turn; a whole turn starting at the seam,
// inside both loops, would pair the crossings the wrong way. The nesting
// reads the same whichever loop is moved, with a third loop beside them or
// not, in every frame.
TEST(LoopBoxCases, LoopsReadAWholeTurnApartNestAsTheyDoInOneTurn) {
  struct Case {
    const char* name;
    double outerShift, innerShift;
    bool third;
  };
  const double turn = 2.0 * kPi;
  const std::vector<Case> cases = {{"as they come", 0.0, 0.0, false},
                                   {"the hole a turn on", 0.0, turn, false},
                                   {"the hole a turn back", 0.0, -turn, false},
                                   {"the periphery a turn on", turn, 0.0, false},
                                   {"the two turns apart", -turn, turn, false},
                                   {"the hole two turns back", 0.0, -2.0 * turn, false},
                                   {"the periphery two turns back", -2.0 * turn, 0.0, false},
                                   {"the hole three turns back beside a third loop", 0.0, -3.0 * turn, true},
                                   {"the hole a turn on beside a third loop", 0.0, turn, true}};
  const std::vector<QELtransf> frames = heal_frames();
  for (const Case& c : cases)
    for (std::size_t f = 0; f < frames.size(); ++f) {
      SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(f));
      std::vector<iso_rect> rects = {rect(1.0, 2.0, kPi - 0.5 + c.outerShift, kPi + 0.5 + c.outerShift, true),
                                     rect(1.2, 1.8, kPi - 0.2 + c.innerShift, kPi + 0.2 + c.innerShift, false)};
      if (c.third) rects.push_back(rect(3.0, 4.0, 0.5, 1.5, true));
      BODY* body = make_iso_rect_sheet(test_torus(), rects);
      if (!frames[f].identity()) api_apply_transf(body, frames[f]);
      LOOP* a = faces_of(body).front()->loop();
      LOOP* b = a->next();
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(a, b).classify(), Ve_LoopContainment::FirstEnclosesSecond);
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(b, a).classify(), Ve_LoopContainment::SecondEnclosesFirst);
      Ve_ReplaceBySurfInt::getWorkerMap().Clear();
      api_del_entity(body);
    }
}

// A periphery across the v seam of the torus longer than half a turn, a hole
// near either of its ends or in its middle: the stretch the line along v is
// limited to takes each box moved to within half a period of the first box's
// middle, so the hole at the far end stays beside its periphery and the two
// span less than a turn. Moved towards the first box's start instead, the far
// hole would land a turn back, the two would seem to span more than a turn,
// and a whole turn starting at the seam, inside the periphery, would read it
// inside out. The nesting reads the same with either loop listed first, in
// every frame.
TEST(LoopBoxCases, AHoleAtEitherEndOfALongPeripheryAcrossTheSeamNestsInIt) {
  const double v0 = kPi - 1.0, v1 = kPi + 3.0;  // the periphery's v, across the seam at pi
  struct Case {
    const char* name;
    double low, high;  // the hole's v
  };
  const std::vector<Case> cases = {{"hole at the far end", v1 - 1.0, v1 - 0.2},
                                   {"hole in the middle", kPi + 0.6, kPi + 1.4},
                                   {"hole at the near end", v0 + 0.2, v0 + 1.0}};
  const std::vector<QELtransf> frames = heal_frames();
  for (const Case& c : cases)
    for (const bool holeFirst : {false, true})
      for (std::size_t f = 0; f < frames.size(); ++f) {
        SCOPED_TRACE(std::string(c.name) + (holeFirst ? ", hole listed first" : ", periphery listed first") +
                     ", frame " + std::to_string(f));
        const iso_rect outer = rect(1.0, 2.0, v0, v1, true), inner = rect(1.2, 1.8, c.low, c.high, false);
        BODY* body = make_iso_rect_sheet(test_torus(), holeFirst ? std::vector<iso_rect>{inner, outer}
                                                                 : std::vector<iso_rect>{outer, inner});
        if (!frames[f].identity()) api_apply_transf(body, frames[f]);
        LOOP* first = faces_of(body).front()->loop();
        LOOP* a = holeFirst ? first->next() : first;
        LOOP* b = holeFirst ? first : first->next();
        EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(a, b).classify(), Ve_LoopContainment::FirstEnclosesSecond);
        EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(b, a).classify(), Ve_LoopContainment::SecondEnclosesFirst);
        Ve_ReplaceBySurfInt::getWorkerMap().Clear();
        api_del_entity(body);
      }
}

// A C-shaped periphery across the torus's v seam, longer than half a turn,
// and a loop apart from it in its mouth, over the seam: the stretch the line
// along v is limited to takes each box moved to within half a period of the
// first box's middle, so the two span less than a turn and the line starts at
// the C's low end, outside both. Moved towards the first box's start instead,
// the loop in the mouth would land a turn back, the two would seem to span
// more than a turn, and a whole turn starting at the seam, inside that loop,
// would read it inside out, round the C's arms. Neither loop holds the other,
// whichever is listed first and whichever way round they are compared.
TEST(LoopBoxCases, ALoopInTheMouthOfACShapedPeripheryAcrossTheSeamLiesApartFromIt) {
  const std::vector<QELpar_pos> c = {{1.0, 0.0}, {2.0, 0.0}, {2.0, 2.5}, {1.1, 2.5}, {1.1, 4.5},
                                     {2.0, 4.5}, {2.0, 5.5}, {1.0, 5.5}};
  const std::vector<QELpar_pos> mouth = {{1.2, 3.0}, {1.8, 3.0}, {1.8, 4.0}, {1.2, 4.0}};
  const std::vector<QELtransf> frames = heal_frames();
  for (const bool mouthFirst : {false, true})
    for (std::size_t f = 0; f < frames.size(); ++f) {
      SCOPED_TRACE(std::string(mouthFirst ? "the mouth's loop listed first" : "the C listed first") + ", frame " +
                   std::to_string(f));
      BODY* body = make_iso_polygon_sheet(test_torus(), mouthFirst ? std::vector<std::vector<QELpar_pos>>{mouth, c}
                                                                   : std::vector<std::vector<QELpar_pos>>{c, mouth});
      if (!frames[f].identity()) api_apply_transf(body, frames[f]);
      LOOP* first = faces_of(body).front()->loop();
      LOOP* periphery = mouthFirst ? first->next() : first;
      LOOP* apart = mouthFirst ? first : first->next();
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(periphery, apart).classify(), Ve_LoopContainment::Neither);
      EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(apart, periphery).classify(), Ve_LoopContainment::Neither);
      Ve_ReplaceBySurfInt::getWorkerMap().Clear();
      api_del_entity(body);
    }
}
