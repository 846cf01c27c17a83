// Random nested loop layouts (each loop running either way, listed in any
// order) on a plane, a cylinder across its seam (and round most of a turn),
// a sphere, and a torus across both seams (its parameters as given and whole
// periods below them), in the identity, a rotated and a mirrored frame,
// through the loop classification and repair and through the V4 and IGES
// recipes: every sample point lies in exactly the faces the layout's region
// says, and the kernel's checker finds nothing. Seeded; one layout of 3 to 10
// loops each surface, frame and road by default, more and larger in a whole
// sweep (every other one has a second face beside the layout's, so that the
// body has two faces). Placed bodies keep the frame (scaled) as their
// transform instead of in their geometry, and the simple loop repair splits
// them: the bodies it makes lie where their loops did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "loops/loop_containment.hxx"
#include "loops/loop_repair.hxx"
#include "loops/repair_loops.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/in_turn.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

// Layouts live on a grid of kCells x kCells cells: rectangle sides on whole
// cells, samples at cell centres, so no sample lies on a side.
constexpr int kCells = 16;

struct CellRect {
  int u0, u1, v0, v1;
  bool ccw;
  bool holds(double u, double v) const { return u0 < u && u < u1 && v0 < v && v < v1; }
};

struct LayoutSurface {
  const char* name;
  std::function<surface*()> make;
  QELpar_box box;  // the grid's place in the surface's parameters
};

const std::vector<LayoutSurface>& layoutSurfaces() {
  static const std::vector<LayoutSurface> all = [] {
    const double pi = kPi;
    auto box = [](double u0, double u1, double v0, double v1) { return QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1)); };
    return std::vector<LayoutSurface>{
        {"plane", [] { return test_plane().make_copy(); }, box(0, 10, 0, 10)},
        {"cylinder_over_its_seam", [] { return test_cylinder().make_copy(); }, box(0, 6, pi - 1.2, pi + 1.0)},
        {"sphere", [] { return test_sphere().make_copy(); }, box(-1.1, 1.1, -2, 2)},
        {"torus_over_both_seams", [] { return test_torus().make_copy(); }, box(pi - 1.5, pi + 1, pi - 0.5, pi + 1.5)},
        // Loops reaching round most of a turn, over the seam.
        {"cylinder_most_of_a_turn", [] { return test_cylinder().make_copy(); }, box(0, 6, pi - 2.6, pi + 2.5)},
        // A sphere's longitudes across their seam at pi.
        {"sphere_over_its_seam", [] { return test_sphere().make_copy(); }, box(-1.1, 1.1, pi - 1.5, pi + 1.5)},
        // Parameters whole periods below the surface's own, over both seams.
        {"torus_periods_below", [] { return test_torus().make_copy(); },
         box(-pi - 1.5, -pi + 1, -3 * pi - 0.5, -3 * pi + 1.5)},
        // A cone narrowing along u (its sine negative), over its seam; the
        // apex (u = 5/3) lies beyond the box, as on any valid face.
        {"cone_over_its_seam", [] { return test_cone().make_copy(); }, box(-4, 1.2, pi - 1.2, pi + 1.0)},
    };
  }();
  return all;
}

const char* const kFrameNames[] = {"identity", "rotated", "mirrored"};

// The repair's cost grows with the loops, the torus's most: a run of the
// test programs takes one layout of at most 10 loops per surface, frame and
// road; a whole sweep (XVELM_SWEEP_RUNS) takes four of up to 16 each, and
// XVELM_LOOP_LAYOUTS sets the count.
bool wholeSweep() { return std::getenv("XVELM_SWEEP_RUNS") != nullptr || std::getenv("XVELM_LOOP_LAYOUTS") != nullptr; }

int layoutsPerCase() {
  const char* text = std::getenv("XVELM_LOOP_LAYOUTS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : wholeSweep() ? 4 : 1;
}

int mostLoops() { return wholeSweep() ? 16 : 10; }

// Siblings side by side along the longer side of the free area, a cell
// apart; each may hold a level of its own one cell inside it.
void placeLevel(std::mt19937& rng, int u0, int u1, int v0, int v1, int& budget, std::vector<CellRect>& out) {
  const bool alongU = u1 - u0 >= v1 - v0;
  const int len = alongU ? u1 - u0 : v1 - v0;
  if (budget <= 0 || len < 1 || std::min(u1 - u0, v1 - v0) < 1) return;
  const int k = std::min(std::uniform_int_distribution<int>(1, std::min(3, budget))(rng), (len + 1) / 2);
  const int free = len - (k - 1);
  int at = alongU ? u0 : v0;
  for (int i = 0; i < k && budget > 0; ++i) {
    const int w = free / k + (i < free % k ? 1 : 0);
    const int lo = alongU ? v0 : u0, hi = alongU ? v1 : u1;
    const int inLo = hi - lo >= 4 ? std::uniform_int_distribution<int>(0, 1)(rng) : 0;
    const int inHi = hi - lo >= 4 ? std::uniform_int_distribution<int>(0, 1)(rng) : 0;
    CellRect r = alongU ? CellRect{at, at + w, lo + inLo, hi - inHi, true} : CellRect{lo + inLo, hi - inHi, at, at + w, true};
    r.ccw = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    out.push_back(r);
    --budget;
    if (budget > 0 && std::uniform_int_distribution<int>(0, 9)(rng) < 7)
      placeLevel(rng, r.u0 + 1, r.u1 - 1, r.v0 + 1, r.v1 - 1, budget, out);
    at += w + 1;
  }
}

// 3 to mostLoops() loops, nested and side by side, in a random order.
std::vector<CellRect> randomLayout(std::mt19937& rng) {
  for (;;) {
    int budget = std::uniform_int_distribution<int>(3, mostLoops())(rng);
    std::vector<CellRect> rects;
    placeLevel(rng, 0, kCells, 0, kCells, budget, rects);
    if (rects.size() < 3) continue;
    std::shuffle(rects.begin(), rects.end(), rng);
    return rects;
  }
}

std::string describe(const std::vector<CellRect>& rects) {
  std::ostringstream text;
  for (const CellRect& r : rects)
    text << "[" << r.u0 << "," << r.u1 << "]x[" << r.v0 << "," << r.v1 << "]" << (r.ccw ? "+" : "-") << " ";
  return text.str();
}

QELpar_pos toSurface(const QELpar_box& box, double u, double v) {
  return QELpar_pos(box.u_range().interpolate(u / kCells), box.v_range().interpolate(v / kCells));
}

iso_rect toIsoRect(const QELpar_box& box, const CellRect& r) {
  const QELpar_pos lo = toSurface(box, r.u0, r.v0), hi = toSurface(box, r.u1, r.v1);
  return rect(lo.u, hi.u, lo.v, hi.v, r.ccw);
}

// The layout's face, with a second face off the grid when `twoFaces` (a body
// of more than one face takes the classifying repair in every road); the
// frame in its geometry, or as its transform when `placed`.
BODY* buildLayout(const surface& srf, const QELpar_box& box, const std::vector<CellRect>& rects, bool twoFaces,
                  const QELtransf& frame, bool placed) {
  std::vector<iso_rect> loops;
  for (const CellRect& r : rects) loops.push_back(toIsoRect(box, r));
  std::vector<std::vector<iso_rect>> faces = {loops};
  if (twoFaces) faces.push_back({toIsoRect(box, CellRect{kCells + 1, kCells + 2, 2, 5, true})});
  BODY* body = make_iso_rect_faces(srf, faces, {FORWARD, FORWARD});
  if (!frame.identity()) {
    api_apply_transf(body, frame);
    if (!placed) api_change_body_trans(body, nullptr);
  }
  return body;
}

// Every cell centre lies in one face when an odd number of rectangles hold
// it, else in none; every body passes the checker.
void expectRegion(const std::vector<BODY*>& bodies, const surface& srf, const QELpar_box& box,
                  const std::vector<CellRect>& rects, const QELtransf& frame) {
  // Each face with its box: a point outside the box is outside the face, so
  // only the faces whose boxes hold a cell's point classify it.
  std::vector<FACE*> faces;
  std::vector<QELbox> boxes;
  std::vector<QELtransf> toFace;  // model space to the face's body's own
  for (BODY* b : bodies) {
    EXPECT_EQ(model_problems(b), "");
    insanity_list* findings = nullptr;
    EXPECT_TRUE(api_check_entity(b, findings).ok());
    std::string found;
    for (int i = 0; findings && i < findings->count(); ++i) found += std::string(findings->data(i)->get_message()) + "; ";
    delete findings;
    EXPECT_EQ(found, "") << "the kernel's checker";
    for (FACE* f : faces_of(b)) {
      faces.push_back(f);
      const QELtransf placement = get_owner_transf(f);
      toFace.push_back(placement.inverse());
      const QELbox box = get_face_box(f, &placement, 0, nullptr);
      const QELvector slack(1e-6, 1e-6, 1e-6);
      boxes.push_back(QELbox(box.low() - slack, box.high() + slack));
    }
  }
  int wrong = 0;
  std::string first;
  for (int i = 0; i < kCells; ++i)
    for (int j = 0; j < kCells; ++j) {
      const double u = i + 0.5, v = j + 0.5;
      int holders = 0;
      for (const CellRect& r : rects) holders += r.holds(u, v) ? 1 : 0;
      const QELposition p = srf.eval_position(toSurface(box, u, v)) * frame;
      int in = 0;
      for (std::size_t k = 0; k < faces.size(); ++k)
        if (boxes[k] >> p) in += point_in_face(p * toFace[k], faces[k]) == pfc_inside ? 1 : 0;
      if (in != holders % 2) {
        if (wrong++ == 0) first = "cell (" + std::to_string(i) + ", " + std::to_string(j) + ") in " + std::to_string(in) + " faces";
      }
    }
  EXPECT_EQ(wrong, 0) << "first: " << first;
}

enum class Road { Driver, V4, Iges, Simple };

struct LayoutCase {
  int surface;
  int frame;
};

std::vector<LayoutCase> layoutCases() {
  std::vector<LayoutCase> out;
  for (int s = 0; s < static_cast<int>(layoutSurfaces().size()); ++s)
    for (int f = 0; f < 3; ++f) out.push_back({s, f});
  return out;
}

std::string layoutCaseName(const testing::TestParamInfo<LayoutCase>& info) {
  return std::string(layoutSurfaces()[static_cast<std::size_t>(info.param.surface)].name) + "_" + kFrameNames[info.param.frame];
}

class LoopLayouts : public ConnectorTest, public testing::WithParamInterface<LayoutCase> {
 protected:
  void run(Road road, bool placed = false) {
    const LayoutSurface& s = layoutSurfaces()[static_cast<std::size_t>(GetParam().surface)];
    const QELtransf frame =
        placed ? scale_transf(1.5) * heal_frames()[static_cast<std::size_t>(GetParam().frame)] : heal_frames()[static_cast<std::size_t>(GetParam().frame)];
    std::unique_ptr<surface> srf(s.make());
    std::mt19937 rng(static_cast<unsigned>(1000 * GetParam().surface + 10 * GetParam().frame + static_cast<int>(road)));
    if (road == Road::V4) on("HealBodyPostProcessV4");
    if (road == Road::Iges) on("HealBodyPostProcessIges");
    on("HealBody");
    const int n = layoutsPerCase();
    for (int k = 0; k < n; ++k) {
      const std::vector<CellRect> rects = randomLayout(rng);
      // Every other layout gets a second face, the first of each case's
      // list in every other case.
      {
        const bool twoFaces = (k + GetParam().surface + GetParam().frame + static_cast<int>(road)) % 2 == 1;
        SCOPED_TRACE("layout " + std::to_string(k) + (twoFaces ? " with a second face: " : ": ") + describe(rects));
        BODY* body = buildLayout(*srf, s.box, rects, twoFaces, frame, placed);
        ASSERT_EQ(model_problems(body), "");
        std::vector<BODY*> bodies;
        if (road == Road::Driver) {
          Ve_RepairLoops driver(ve_view<Ve_BodyTag>(body));
          EXPECT_TRUE(driver.canBeRepaired());
          Ve_FaceRepairInput input;
          driver.classify(input);
          driver.repair(input);
          EXPECT_EQ(input.facesToRepair().Count(), 0);
          EXPECT_EQ(input.unclassifiedFaces().Count(), 0);
          bodies.push_back(body);
        } else if (road == Road::Simple) {
          QELXVelmLoopRepair repair(body);
          EXPECT_TRUE(repair.Repair());
          bodies.push_back(body);
          for (Ve_BodyTag* b : repair.getBodies()) bodies.push_back(reinterpret_cast<BODY*>(b));
        } else {
          Ve_CocoonTagHandle set(new Ve_CocoonTag);
          set->appendBody(ve_view<Ve_BodyTag>(body));
          QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
          for (Ve_BodyTag* b : set->getBodies()) bodies.push_back(reinterpret_cast<BODY*>(b));
        }
        expectRegion(bodies, *srf, s.box, rects, frame);
        for (BODY* b : bodies) api_del_entity(b);
        if (HasFailure()) return;
      }
    }
  }
};

}  // namespace

TEST_P(LoopLayouts, ClassifyingRepairCoversTheIntendedRegion) { run(Road::Driver); }
TEST_P(LoopLayouts, V4RecipeCoversTheIntendedRegion) { run(Road::V4); }
TEST_P(LoopLayouts, IgesRecipeCoversTheIntendedRegion) { run(Road::Iges); }
TEST_P(LoopLayouts, SimpleRepairOfAPlacedBodyCoversTheIntendedRegion) { run(Road::Simple, true); }
TEST_P(LoopLayouts, IgesRecipeOnAPlacedBodyCoversTheIntendedRegion) { run(Road::Iges, true); }

// The containment test itself over every ordered pair of a layout's loops,
// all on one face: one loop encloses another exactly when its rectangle holds
// the other's, whichever way either runs and wherever the face's other loops
// lie (the line across a periodic direction is bounded by them). One frame
// per surface in turn.
TEST_P(LoopLayouts, ContainmentTestAnswersEveryPairAsTheRectanglesNest) {
  const std::size_t surfaceIndex = static_cast<std::size_t>(GetParam().surface);
  if (!in_turn::taken(surfaceIndex, static_cast<std::size_t>(GetParam().frame), 3)) GTEST_SKIP() << "another frame's turn";
  const LayoutSurface& s = layoutSurfaces()[surfaceIndex];
  const QELtransf frame = heal_frames()[static_cast<std::size_t>(GetParam().frame)];
  std::unique_ptr<surface> srf(s.make());
  std::mt19937 rng(static_cast<unsigned>(7000 + 1000 * GetParam().surface + 10 * GetParam().frame));
  const int n = in_turn::allTurns() ? 3 * layoutsPerCase() : layoutsPerCase();
  for (int k = 0; k < n; ++k) {
    const std::vector<CellRect> rects = randomLayout(rng);
    SCOPED_TRACE("layout " + std::to_string(k) + ": " + describe(rects));
    BODY* body = buildLayout(*srf, s.box, rects, false, frame, false);
    std::vector<LOOP*> loops;
    for (LOOP* l = faces_of(body)[0]->loop(); l; l = l->next()) loops.push_back(l);
    ASSERT_EQ(loops.size(), rects.size());
    for (std::size_t a = 0; a < loops.size(); ++a)
      for (std::size_t b = 0; b < loops.size(); ++b) {
        if (a == b) continue;
        const CellRect &outer = rects[a], &inner = rects[b];
        const bool holds = outer.u0 < inner.u0 && inner.u1 < outer.u1 && outer.v0 < inner.v0 && inner.v1 < outer.v1;
        Ve_PeripheryOrHoleLoopContainment test(loops[a], loops[b]);
        bool result = !holds;
        const QELIResult code = test.encloses(loops[a], loops[b], result);
        EXPECT_EQ(code, 0u) << "loop " << a << " round loop " << b;
        EXPECT_EQ(result, holds) << "loop " << a << " round loop " << b;
      }
    // The edges' curves on the surface go back before the body does.
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(body);
    if (HasFailure()) return;
  }
}

// The line across two loops of a layout (the first sets the box), either
// way: it lies in the middle of the widest gap between the box's ends and
// the corners of both loops that fall within the box, counted in the box's
// own turn on a periodic direction (a corner the surface reads a period away
// is no less in the way). Equal gaps may give any of theirs. One frame per
// surface in turn; every ordered pair of each layout.
TEST_P(LoopLayouts, IsoLineLiesInTheWidestGapBetweenTheLoopsCorners) {
  const std::size_t surfaceIndex = static_cast<std::size_t>(GetParam().surface);
  if (!in_turn::taken(surfaceIndex, static_cast<std::size_t>(GetParam().frame), 3)) GTEST_SKIP() << "another frame's turn";
  const LayoutSurface& s = layoutSurfaces()[surfaceIndex];
  const QELtransf frame = heal_frames()[static_cast<std::size_t>(GetParam().frame)];
  std::unique_ptr<surface> srf(s.make());
  std::mt19937 rng(static_cast<unsigned>(9000 + 1000 * GetParam().surface + 10 * GetParam().frame));
  const int n = in_turn::allTurns() ? 4 * layoutsPerCase() : 2 * layoutsPerCase();
  for (int k = 0; k < n; ++k) {
    const std::vector<CellRect> rects = randomLayout(rng);
    SCOPED_TRACE("layout " + std::to_string(k) + ": " + describe(rects));
    BODY* body = buildLayout(*srf, s.box, rects, false, frame, false);
    std::vector<LOOP*> loops;
    for (LOOP* l = faces_of(body)[0]->loop(); l; l = l->next()) loops.push_back(l);
    ASSERT_EQ(loops.size(), rects.size());
    const surface& own = faces_of(body)[0]->geometry()->equation();
    for (std::size_t a = 0; a < loops.size(); ++a)
      for (std::size_t b = 0; b < loops.size(); ++b)
        for (const bool flip : {false, true}) {
          if (a == b) continue;
          QELXDynamicArray<LOOP*> pair;
          pair.Add(loops[a]);
          pair.Add(loops[b]);
          const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(pair, flip);
          // The candidates, in the face's own parameters along the line's
          // coordinate: the first loop's corners give the box.
          const bool u = line.constantU;
          const double period = u ? (own.periodic_u() ? own.param_period_u() : 0.0) : (own.periodic_v() ? own.param_period_v() : 0.0);
          const auto near = [&](double x, double reference) {
            return period > 0.0 ? reference + std::remainder(x - reference, period) : x;
          };
          // A corner's value, followed cell by cell from the first loop's low
          // corner along the grid, so that it is read in the grid's own turn.
          const auto alongAt = [&](double x) {
            return u ? own.param(srf->eval_position(toSurface(s.box, x, rects[a].v0)) * frame).u
                     : own.param(srf->eval_position(toSurface(s.box, rects[a].u0, x)) * frame).v;
          };
          const double start = u ? rects[a].u0 : rects[a].v0;
          const auto followed = [&](int to) {
            double value = alongAt(start);
            const int steps = 2 * std::abs(to - static_cast<int>(start));
            for (int k = 1; k <= steps; ++k) value = near(alongAt(start + (to - start) * k / steps), value);
            return value;
          };
          const auto corners = [&](const CellRect& r) {
            return std::vector<double>{followed(u ? r.u0 : r.v0), followed(u ? r.u1 : r.v1)};
          };
          std::vector<double> values = corners(rects[a]);
          const double lo = std::min(values[0], values[1]), hi = std::max(values[0], values[1]);
          for (const double x : corners(rects[b])) {
            const double at = near(x, 0.5 * (lo + hi));
            if (lo - 1e-9 <= at && at <= hi + 1e-9) values.push_back(at);
          }
          std::sort(values.begin(), values.end());
          double widest = 0.0;
          for (std::size_t i = 0; i + 1 < values.size(); ++i) widest = std::max(widest, values[i + 1] - values[i]);
          bool found = false;
          std::string wanted;
          for (std::size_t i = 0; i + 1 < values.size(); ++i) {
            if (values[i + 1] - values[i] < widest - 1e-9) continue;
            const double mid = 0.5 * (values[i] + values[i + 1]);
            wanted += std::to_string(mid) + " ";
            const double off = period > 0.0 ? std::remainder(line.value - mid, period) : line.value - mid;
            found = found || std::fabs(off) < 1e-6;
          }
          EXPECT_TRUE(found) << "loops " << a << " and " << b << (flip ? ", flipped" : "") << ": constant "
                             << (u ? "u" : "v") << " at " << line.value << ", wanted " << wanted;
        }
    api_del_entity(body);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Random, LoopLayouts, testing::ValuesIn(layoutCases()), layoutCaseName);
