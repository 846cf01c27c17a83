// Classification and repair of whole faces: loops in each wrong state on every
// kind of surface come out as one periphery with its holes, judged by
// point-in-face at sample points against the intended region.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "loops/loop_containment.hxx"
#include "loops/repair_loops.hxx"
#include "model/entity_views.hxx"
#include "support/geometry_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/topology_api.hxx"
#include "velm/velm_test_support.hxx"

using namespace testkit;

namespace {

struct Surface {
  const char* name;
  std::function<surface*()> make;
  QELpar_box outer;  // every layout is scaled into this box
  bool left_handed = false;
};

std::vector<Surface> surfaces() {
  const double pi = 3.14159265358979323846;
  auto box = [](double u0, double u1, double v0, double v1) { return QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1)); };
  return {
      {"plane", [] { return test_plane().make_copy(); }, box(0, 10, 0, 10)},
      {"turned plane", [] { return turned_plane().make_copy(); }, box(-5, 5, -3, 7)},
      {"mirrored plane", [] { return mirrored_plane().make_copy(); }, box(0, 10, 0, 10), true},
      // Axial u and angular v run left-handed about the outward normal of these two.
      {"cylinder", [] { return test_cylinder().make_copy(); }, box(0, 6, -2, 2), true},
      {"cylinder over its seam", [] { return test_cylinder().make_copy(); }, box(0, 6, pi - 1.2, pi + 1.0), true},
      {"cone", [] { return test_cone().make_copy(); }, box(0, 3, -2, 2), true},
      {"sphere", [] { return test_sphere().make_copy(); }, box(-1, 1, -2, 2)},
      {"torus", [] { return test_torus().make_copy(); }, box(-2, 2, -2, 2)},
      {"torus over its seams", [] { return test_torus().make_copy(); }, box(pi - 1.5, pi + 1, pi - 0.5, pi + 1.5)},
      {"spline", [] { return test_spline().make_copy(); }, box(0.05, 0.95, 0.05, 0.95)},
  };
}

// A layout in the unit square: rectangles and whether each runs the periphery way.
struct Layout {
  const char* name;
  std::vector<iso_rect> rects;  // in [0, 1]^2; ccw = the right way for a periphery
  int faces_after;              // faces of the body after repair
  bool right = false;           // nothing to repair
};

// Ten loops, listed innermost first so that every level is re-parented; on a
// face that does not wrap, enough loops for the tree to find them by box.
std::vector<iso_rect> islands_with_holes() {
  std::vector<iso_rect> rects;
  for (int k = 2; k >= 0; --k) {
    const double u = 0.33 * k;
    rects.push_back(rect(u + .13, u + .20, .4, .6, false));
    rects.push_back(rect(u + .08, u + .25, .25, .75, true));
    rects.push_back(rect(u + .03, u + .30, .1, .9, false));
  }
  rects.push_back(rect(0, 1, 0, 1, true));
  return rects;
}

std::vector<Layout> layouts() {
  return {
      {"right: periphery and two holes", {rect(0, 1, 0, 1, true), rect(.2, .4, .2, .4, false), rect(.6, .8, .5, .9, false)}, 1, true},
      {"single loop reversed", {rect(0, 1, 0, 1, false)}, 1},
      {"every loop reversed", {rect(0, 1, 0, 1, false), rect(.2, .4, .2, .4, true), rect(.6, .8, .5, .9, true)}, 1},
      {"one hole the wrong way", {rect(0, 1, 0, 1, true), rect(.2, .4, .2, .4, true), rect(.6, .8, .5, .9, false)}, 1},
      {"holes listed first", {rect(.2, .4, .2, .4, false), rect(0, 1, 0, 1, true)}, 1, true},
      {"two peripheries", {rect(0, .4, 0, 1, true), rect(.6, 1, 0, 1, true), rect(.7, .9, .2, .4, false)}, 2},
      {"island in a hole", {rect(0, 1, 0, 1, true), rect(.2, .8, .2, .8, false), rect(.4, .6, .4, .6, true)}, 2},
      // The face split off for the island is faulty itself and must be mended too.
      {"island in a hole running the wrong way", {rect(0, 1, 0, 1, true), rect(.2, .8, .2, .8, false), rect(.4, .6, .4, .6, false)}, 2},
      {"second periphery running the wrong way, with a hole", {rect(0, .4, 0, 1, true), rect(.6, 1, 0, 1, false), rect(.7, .9, .2, .4, true)}, 2},
      {"three holes with islands holding holes, innermost first", islands_with_holes(), 4},
  };
}

iso_rect place(const iso_rect& r, const QELpar_box& into, bool flip) {
  const QELinterval u = into.u_range(), v = into.v_range();
  return rect(u.interpolate(r.box.u_range().start_pt()), u.interpolate(r.box.u_range().end_pt()),
              v.interpolate(r.box.v_range().start_pt()), v.interpolate(r.box.v_range().end_pt()), r.ccw != flip);
}

// Inside the intended region: inside an odd number of the rectangles.
bool intended_inside(const std::vector<iso_rect>& rects, const QELpar_pos& uv) {
  int n = 0;
  for (const iso_rect& r : rects)
    n += r.box.u_range().start_pt() < uv.u && uv.u < r.box.u_range().end_pt() && r.box.v_range().start_pt() < uv.v &&
         uv.v < r.box.v_range().end_pt();
  return n % 2 == 1;
}

bool inside_some_face(BODY* body, const QELposition& p) {
  for (FACE* f : faces_of(body))
    if (point_in_face(p, f) == pfc_inside) return true;
  return false;
}

// Samples on a 13 x 13 grid strictly inside the box (off every rectangle side).
void expect_region(BODY* body, const surface& srf, const QELpar_box& box, const std::vector<iso_rect>& rects) {
  int wrong = 0;
  for (int i = 1; i < 14; ++i)
    for (int j = 1; j < 14; ++j) {
      const QELpar_pos uv(box.u_range().interpolate((i + 0.03) / 14.0), box.v_range().interpolate((j + 0.07) / 14.0));
      const bool expected = intended_inside(rects, uv);
      if (inside_some_face(body, srf.eval_position(uv)) != expected) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
}

std::string saved(BODY* body) {
  ENTITY_LIST top;
  top.add(body);
  return velm_test::saved_records(top);
}

struct Lists {
  int clean = 0, to_repair = 0, unclassified = 0;
};

Lists run_driver(BODY* body, Lists* before = nullptr) {
  Ve_RepairLoops driver(ve_view<Ve_BodyTag>(body));
  EXPECT_TRUE(driver.canBeRepaired());
  Ve_FaceRepairInput input;
  EXPECT_TRUE(driver.classify(input));
  if (before) *before = {input.cleanFaces().Count(), input.facesToRepair().Count(), input.unclassifiedFaces().Count()};
  const QELXDynamicArray<Ve_FaceTag*> faces = driver.repair(input);
  EXPECT_EQ(faces.Count(), input.cleanFaces().Count() + input.facesToRepair().Count() + input.unclassifiedFaces().Count());
  return {input.cleanFaces().Count(), input.facesToRepair().Count(), input.unclassifiedFaces().Count()};
}

}  // namespace

// One test per surface, so the surfaces run side by side.
class EveryWrongState : public testing::TestWithParam<int> {};

TEST_P(EveryWrongState, EndsAsOnePeripheryWithItsHoles) {
  const Surface s = surfaces()[static_cast<std::size_t>(GetParam())];
  {
    for (const Layout& layout : layouts()) {
      SCOPED_TRACE(std::string(s.name) + ": " + layout.name);
      std::unique_ptr<surface> srf(s.make());
      std::vector<iso_rect> rects;
      for (const iso_rect& r : layout.rects) rects.push_back(place(r, s.outer, s.left_handed));
      BODY* body = make_iso_rect_sheet(*srf, rects);
      ASSERT_EQ(model_problems(body), "");
      const bool right = layout.right;
      const std::string before_text = saved(body);
      Lists before;
      const Lists after = run_driver(body, &before);
      EXPECT_EQ(before.clean, right ? 1 : 0);
      EXPECT_EQ(before.to_repair, right ? 0 : 1);
      EXPECT_EQ(after.clean, layout.faces_after);
      EXPECT_EQ(after.to_repair, 0);
      EXPECT_EQ(after.unclassified, 0);
      EXPECT_EQ(count_faces(body), layout.faces_after);
      EXPECT_EQ(model_problems(body), "");
      for (FACE* f : faces_of(body)) {
        int counts[5] = {};
        EXPECT_TRUE(api_check_face_loops(f, counts).ok());
        EXPECT_EQ(counts[0], 1);
      }
      expect_region(body, *srf, s.outer, rects);
      if (right) {
        EXPECT_EQ(saved(body), before_text);
      }
      api_del_entity(body);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LoopRepairDriver, EveryWrongState, testing::Range(0, static_cast<int>(surfaces().size())),
                         [](const testing::TestParamInfo<int>& info) {
                           std::string name = surfaces()[static_cast<std::size_t>(info.param)].name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A face without loops (a whole spline patch, the whole torus, a whole
// sphere) has nothing to classify: it is left unclassified, never taken as
// clean or handed to the agents, and comes out as it went in.
TEST(LoopRepairDriverFaces, AFaceWithoutLoopsIsLeftUnclassifiedAndAsItWas) {
  const std::vector<std::pair<const char*, std::function<BODY*()>>> bodies = {
      {"whole spline patch", [] { return make_iso_rect_sheet(test_spline(), {}); }},
      {"whole torus", [] { return make_whole_torus(10.0, 2.0); }},
      {"whole sphere", [] { return make_iso_rect_sheet(test_sphere(), {}); }},
  };
  for (const auto& [name, build] : bodies) {
    SCOPED_TRACE(name);
    BODY* body = build();
    ASSERT_EQ(count_faces(body), 1);
    ASSERT_EQ(faces_of(body).front()->loop(), nullptr);
    // On a surface that does not close, a face without loops is no sound
    // face; the repair leaves that as it found it too.
    const std::string problems = model_problems(body);
    const std::string before = saved(body);
    Lists classified;
    const Lists after = run_driver(body, &classified);
    EXPECT_EQ(classified.unclassified, 1);
    EXPECT_EQ(classified.clean + classified.to_repair, 0);
    EXPECT_EQ(after.unclassified, 1);
    EXPECT_EQ(after.clean + after.to_repair, 0);
    EXPECT_EQ(saved(body), before);
    EXPECT_EQ(model_problems(body), problems);
    api_del_entity(body);
  }
}

// Handed a face alone, the repair takes it only with at most sixteen loops,
// as it does a body's faces: one of seventeen is left out.
TEST(LoopRepairDriverFaces, AFaceOfMoreThanSixteenLoopsHandedAloneIsLeftOut) {
  for (const int n : {16, 17}) {
    SCOPED_TRACE(std::to_string(n) + " loops");
    std::vector<iso_rect> rects;
    for (int i = 0; i < n; ++i) rects.push_back(rect(2 * i, 2 * i + 1, 0, 1, i == 0));
    BODY* body = make_iso_rect_sheet(test_plane(), rects);
    Ve_RepairLoops driver(ve_view<Ve_FaceTag>(faces_of(body).front()));
    EXPECT_EQ(driver.canBeRepaired(), n <= 16);
    Ve_FaceRepairInput input;
    driver.classify(input);
    EXPECT_EQ(input.getFaces().Count(), n <= 16 ? 1 : 0);
    api_del_entity(body);
  }
}
