// The geometric corners of loop classification: parameter boxes of loops
// across a seam, the gap the iso-parameter line takes, loops that share a
// stretch of the line, and the region a closed spline face gets.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "loops/face_regions.hxx"
#include "loops/loop_containment.hxx"
#include "loops/repair_loops.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

std::vector<LOOP*> geometryCaseLoops(BODY* body) {
  std::vector<LOOP*> out;
  for (LOOP* l = faces_of(body).front()->loop(); l; l = l->next()) out.push_back(l);
  return out;
}

QELXDynamicArray<LOOP*> geometryCaseArray(const std::vector<LOOP*>& loops) {
  QELXDynamicArray<LOOP*> a;
  for (LOOP* l : loops) a.Add(l);
  return a;
}

}  // namespace

// A loop across the seam, running either way and starting on either side of
// it: every sample is brought within half a period of the one before, from
// above and from below, so the box spans the loop and not the period.
TEST(LoopGeometryCases, ParameterBoxOfALoopAcrossTheSeamSpansTheLoop) {
  struct Case {
    std::string name;
    std::unique_ptr<surface> srf;
    iso_rect r;
  };
  std::vector<Case> cases;
  for (const bool ccw : {true, false}) {
    // The cylinder's angle v has its seam at kPi, the torus's u and v too.
    cases.push_back({ccw ? "cylinder ccw" : "cylinder cw",
                     std::unique_ptr<surface>(test_cylinder().make_copy()), rect(1, 2, kPi - 0.4, kPi + 0.6, ccw)});
    cases.push_back({ccw ? "torus ccw" : "torus cw", std::unique_ptr<surface>(test_torus().make_copy()),
                     rect(kPi - 0.7, kPi + 0.3, kPi - 0.2, kPi + 0.9, ccw)});
    // Just short of the seam at its start: the first samples lie past it.
    cases.push_back({ccw ? "cylinder ccw, starting at the seam" : "cylinder cw, starting at the seam",
                     std::unique_ptr<surface>(test_cylinder().make_copy()), rect(1, 2, kPi - 0.1, kPi + 0.9, ccw)});
    cases.push_back({ccw ? "torus ccw, starting at the seams" : "torus cw, starting at the seams",
                     std::unique_ptr<surface>(test_torus().make_copy()), rect(kPi - 0.1, kPi + 0.9, kPi - 0.1, kPi + 0.9, ccw)});
  }
  for (Case& c : cases)
    for (const bool pcurves : {true, false}) {
      // Without pcurves to guess from, the surface gives principal values, which jump at the seam.
      SCOPED_TRACE(c.name + (pcurves ? "" : ", no pcurves"));
      BODY* body = make_iso_rect_sheet(*c.srf, {c.r});
      if (!pcurves) sg_rm_pcurves_from_entity(body);
      const QELpar_box box = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
      EXPECT_NEAR(box.u_range().length(), c.r.box.u_range().length(), 1e-6);
      EXPECT_NEAR(box.v_range().length(), c.r.box.v_range().length(), 1e-6);
      api_del_entity(body);
    }
}

// The line runs through the middle of the widest gap between the candidate
// values, the second gap included, and through the first of equal gaps.
TEST(LoopGeometryCases, IsoLineTakesTheWidestGapAndTheFirstOfEqualOnes) {
  struct Case {
    const char* name;
    std::vector<iso_rect> rects;  // the first sets the box, wider than tall: lines of constant u
    double value;
  };
  const std::vector<Case> cases = {
      // Values 0, 1, 9, 10: the second gap.
      {"second gap widest", {rect(0, 10, 0, 4, true), rect(1, 9, 1, 3, false)}, 5.0},
      // Values 0, 1, 2, 10: the third.
      {"last gap widest", {rect(0, 10, 0, 4, true), rect(1, 2, 1, 3, false)}, 6.0},
      // Values 0, 2, 4 (6 lies past the box): two equal gaps, the first taken.
      {"equal gaps", {rect(0, 4, 0, 1, true), rect(2, 6, 2, 3, false)}, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(test_plane(), c.rects);
    const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(geometryCaseArray(geometryCaseLoops(body)), false);
    EXPECT_TRUE(line.constantU);
    EXPECT_NEAR(line.value, c.value, 1e-9);
    api_del_entity(body);
  }
}

// Two loops whose stretches on the line are the same are not nested, either
// way round; a loop strictly inside shares none and is; crossing loops fail.
TEST(LoopGeometryCases, LoopsSharingAStretchOfTheLineAreNotNested) {
  struct Case {
    const char* name;
    std::vector<iso_rect> rects;
    int code;  // classify(first, second)
  };
  const std::vector<Case> cases = {
      {"same stretch", {rect(0, 4, 0, 2, true), rect(0.5, 3.5, 0, 2, false)}, Ve_LoopContainment::Neither},
      {"strictly inside", {rect(0, 4, 0, 4, true), rect(1, 3, 1, 3, false)}, Ve_LoopContainment::FirstEnclosesSecond},
      // Stretches that overlap in part: the loops cross, which no nesting explains.
      {"crossing", {rect(0, 4, 0, 4, true), rect(2, 6, 1, 5, true)}, Ve_LoopContainment::Failed},
      // The second's stretch starts below the first's and ends inside it.
      {"crossing from below", {rect(0, 4, 0, 4, true), rect(1, 3, -3, 2, true)}, Ve_LoopContainment::Failed},
      {"crossing from above", {rect(0, 4, 0, 4, true), rect(1, 3, 2, 7, true)}, Ve_LoopContainment::Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(test_plane(), c.rects);
    const std::vector<LOOP*> loops = geometryCaseLoops(body);
    EXPECT_EQ(Ve_PeripheryOrHoleLoopContainment(loops[0], loops[1]).classify(), c.code);
    // The edges the test put on the surface get their curves back before they go.
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    api_del_entity(body);
  }
}

// So too on surfaces that close, where the line runs along the closed
// direction or across it and stretches compare with the periodic rule: loops
// whose stretches on the line are the same are not nested, either way round,
// on the cylinder (the line along u) and on the torus (the line along v); a
// loop strictly inside is.
TEST(LoopGeometryCases, LoopsSharingAStretchOfTheLineOnClosedSurfacesAreNotNested) {
  struct Case {
    const char* name;
    const surface* srf;
    std::vector<iso_rect> rects;
    int code;
  };
  const cone cylinder = test_cylinder();
  const torus ring = test_torus();
  const std::vector<Case> cases = {
      {"cylinder, same stretch", &cylinder, {rect(0, 2, 0, 4, true), rect(0, 2, 0.5, 3.5, false)},
       Ve_LoopContainment::Neither},
      {"cylinder, strictly inside", &cylinder, {rect(0, 4, 0, 4, true), rect(1, 3, 1, 3, false)},
       Ve_LoopContainment::FirstEnclosesSecond},
      {"torus, same stretch", &ring, {rect(0, 4, 0, 2, true), rect(0.5, 3.5, 0, 2, false)},
       Ve_LoopContainment::Neither},
      {"torus, strictly inside", &ring, {rect(0, 4, 0, 4, true), rect(1, 3, 1, 3, false)},
       Ve_LoopContainment::FirstEnclosesSecond},
  };
  for (const Case& c : cases) {
    for (const bool swapped : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (swapped ? ", compared the other way" : ""));
      BODY* body = make_iso_rect_sheet(*c.srf, c.rects);
      const std::vector<LOOP*> loops = geometryCaseLoops(body);
      const int code = Ve_PeripheryOrHoleLoopContainment(loops[swapped ? 1 : 0], loops[swapped ? 0 : 1]).classify();
      const int want = !swapped || c.code == Ve_LoopContainment::Neither ? c.code : Ve_LoopContainment::SecondEnclosesFirst;
      EXPECT_EQ(code, want);
      Ve_ReplaceBySurfInt::getWorkerMap().Clear();
      api_del_entity(body);
    }
  }
}

// The face's spline remade: the first and last rows of control points along
// u collapsed to their centres when asked (singular ends), then u and v
// swapped when asked (the same surface, closed and singular the other way),
// and a periodic direction made merely closed when asked (the same points).
void reshapeSpline(FACE* face, bool collapseLow, bool collapseHigh, bool swap, bool unperiodic = false) {
  const spline& old = static_cast<const spline&>(face->geometry()->equation());
  int dim = 0, ratU = 0, ratV = 0, formU = 0, formV = 0, poleU = 0, poleV = 0, nu = 0, nv = 0, du = 0, dv = 0;
  int nku = 0, nkv = 0;
  QELposition* pts = nullptr;
  double *weights = nullptr, *ku = nullptr, *kv = nullptr;
  bs3_surface_to_array(old.sur(), dim, ratU, ratV, formU, formV, poleU, poleV, nu, nv, pts, weights, du, nku, ku, dv,
                       nkv, kv);
  if (unperiodic) {
    formU = formU == 2 ? 1 : formU;
    formV = formV == 2 ? 1 : formV;
  }
  for (const int row : {collapseLow ? 0 : -1, collapseHigh ? nu - 1 : -1}) {
    if (row < 0) continue;
    QELvector sum(0, 0, 0);
    for (int j = 0; j < nv; ++j) sum += pts[row * nv + j] - QELposition();
    for (int j = 0; j < nv; ++j) pts[row * nv + j] = QELposition() + sum / nv;
  }
  std::vector<QELposition> out(pts, pts + nu * nv);
  std::vector<double> outWeights(weights ? weights : nullptr, weights ? weights + nu * nv : nullptr);
  if (swap)
    for (int i = 0; i < nu; ++i)
      for (int j = 0; j < nv; ++j) {
        out[static_cast<std::size_t>(j * nu + i)] = pts[i * nv + j];
        if (weights) outWeights[static_cast<std::size_t>(j * nu + i)] = weights[i * nv + j];
      }
  bs3_surface made =
      swap ? bs3_surface_from_ctrlpts(dv, ratV, formV, poleV, nv, du, ratU, formU, poleU, nu, out.data(),
                                      weights ? outWeights.data() : nullptr, QELresabs, nkv, kv, nku, ku, QELresnor)
           : bs3_surface_from_ctrlpts(du, ratU, formU, poleU, nu, dv, ratV, formV, poleV, nv, out.data(),
                                      weights ? outWeights.data() : nullptr, QELresabs, nku, ku, nkv, kv, QELresnor);
  delete[] pts;
  delete[] weights;
  delete[] ku;
  delete[] kv;
  ASSERT_NE(made, nullptr);
  face->set_geometry(make_surface(spline(made)));
  bs3_surface_delete(made);
}

// A face of no loops covering the whole torus of the loop tests.
BODY* wholeTorus() {
  return new BODY(new LUMP(new SHELL(new FACE(nullptr, nullptr, make_surface(test_torus()), FORWARD), nullptr), nullptr));
}

// On an open spline drawn to a point at one end, the iso line runs along the
// parameter whose ends are singular (it reaches the point), whatever the
// loop's box says: a box longer across is no reason to turn it.
TEST(LoopGeometryCases, IsoLineOfAnOpenSplineDrawnToAPointRunsTowardsThePoint) {
  struct Case {
    const char* name;
    bool swapped;  // the point at the high v end rather than the high u end
    bool constantU;
  };
  // The loop's rectangle is twice as long in the plane's v, which is the
  // spline's u once its parameters are swapped: always longer across.
  for (const Case& c : {Case{"point at the u end, box longer in v", false, true},
                        Case{"point at the v end, box longer in u", true, false}}) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(test_plane(), {rect(0, 1, 0, 2, true)});
    ENTITY* out = nullptr;
    ASSERT_TRUE(api_convert_to_spline(body, out).ok());
    FACE* face = faces_of(body).front();
    reshapeSpline(face, false, true, c.swapped);
    const surface& srf = face->geometry()->equation();
    EXPECT_FALSE(srf.periodic_u() || srf.periodic_v() || srf.closed_u() || srf.closed_v());
    const QELpar_box box = ve_loops::loopParameterBox(face->loop());
    EXPECT_NE(box.u_range().length() > box.v_range().length(), c.constantU) << "the box alone would turn the line";
    const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(geometryCaseArray(geometryCaseLoops(body)), false);
    EXPECT_EQ(line.constantU, c.constantU);
    api_del_entity(body);
  }
}

// On a spline closed one way but not periodic (a band's), the iso line is
// constant in the closed parameter, as on a periodic one, whatever the
// loop's box says: a hole long in the open direction is no reason to run the
// line round the closure, from the seam.
TEST(LoopGeometryCases, IsoLineOfASplineClosedButNotPeriodicIsConstantInTheClosedParameter) {
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "closed in v" : "closed in u");
    BODY* band = make_cylinder_band(5.0, 8.0);
    ENTITY* out = nullptr;
    ASSERT_TRUE(api_convert_to_spline(band, out).ok());
    FACE* face = faces_of(band).front();
    reshapeSpline(face, false, false, swapped, true);
    const surface& srf = face->geometry()->equation();
    ASSERT_FALSE(srf.periodic_u() || srf.periodic_v());
    ASSERT_NE(srf.closed_u(), srf.closed_v());
    const QELpar_box range = srf.param_range();
    const QELinterval& closed = srf.closed_u() ? range.u_range() : range.v_range();
    const QELinterval& open = srf.closed_u() ? range.v_range() : range.u_range();
    // A thin hole along the open direction, a tenth of the closure wide.
    const double c0 = closed.start_pt() + 0.3 * closed.length(), c1 = c0 + 0.1 * closed.length();
    const double o0 = open.start_pt() + 0.1 * open.length(), o1 = open.end_pt() - 0.1 * open.length();
    const iso_rect hole = srf.closed_u() ? rect(c0, c1, o0, o1, false) : rect(o0, o1, c0, c1, false);
    BODY* sheet = make_iso_rect_sheet(srf, {hole});
    const QELpar_box box = ve_loops::loopParameterBox(faces_of(sheet).front()->loop());
    EXPECT_NE(box.u_range().length() > box.v_range().length(), srf.closed_u()) << "the box alone would turn the line";
    const Ve_IsoParameterLine line = ve_loops::chooseIsoParameterLine(geometryCaseArray(geometryCaseLoops(sheet)), false);
    EXPECT_EQ(line.constantU, srf.closed_u());
    api_del_entity(sheet);
    api_del_entity(band);
  }
}

// A spline face takes its region by the spline's closure and its singular
// ends, whichever of u and v is closed: closed both ways a torus, one way
// with two singular ends a sphere, one a cone, none a cylinder; closed in
// neither a plane. The cones and spheres are the band's spline with one or
// both end rows of control points drawn to a point.
TEST(LoopGeometryCases, SplineFacesTakeTheRegionOfTheirClosure) {
  struct Case {
    const char* name;
    BODY* (*make)();
    bool collapseLow, collapseHigh;
    int kind;
  };
  const std::vector<Case> cases = {
      {"cylinder band", [] { return make_cylinder_band(5.0, 8.0); }, false, false, 2},
      {"band drawn to a point at its top", [] { return make_cylinder_band(5.0, 8.0); }, false, true, 3},
      {"band drawn to a point at its foot", [] { return make_cylinder_band(5.0, 8.0); }, true, false, 3},
      {"band drawn to points at both ends", [] { return make_cylinder_band(5.0, 8.0); }, true, true, 4},
      {"whole torus", [] { return wholeTorus(); }, false, false, 6},
      {"open patch", [] { return make_iso_rect_sheet(test_plane(), {rect(0, 1, 0, 1, true)}); }, false, false, 1},
  };
  for (const Case& c : cases)
    for (const bool swapped : {false, true})
      for (const bool unperiodic : {false, true}) {
        if (swapped && unperiodic) continue;
        SCOPED_TRACE(std::string(c.name) + (swapped ? ", u and v swapped" : "") + (unperiodic ? ", closed, not periodic" : ""));
        BODY* body = c.make();
        ENTITY* out = nullptr;
        ASSERT_TRUE(api_convert_to_spline(body, out).ok());
        FACE* face = faces_of(body).front();
        ASSERT_EQ(face->geometry()->equation().type(), 10);
        reshapeSpline(face, c.collapseLow, c.collapseHigh, swapped, unperiodic);
        const surface& srf = face->geometry()->equation();
        if (unperiodic) {
        EXPECT_FALSE(srf.periodic_u() || srf.periodic_v());
      }
        const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
        ASSERT_TRUE(region.IsValid());
        EXPECT_EQ(region->kind(), c.kind);
        api_del_entity(body);
      }
}

// Three loops round a cylinder: the separation rules allow two at most, so
// the face classifies as false and no tree is built.
TEST(LoopGeometryCases, ThreeSeparationLoopsBuildNoTree) {
  BODY* band = make_cylinder_band(5.0, 8.0);
  BODY* donor = make_cylinder_band(5.0, 4.0);
  FACE* face = faces_of(band).front();
  FACE* from = faces_of(donor).front();
  // The donor's circle at z = 4 joins the band's face between its two circles.
  LOOP* middle = from->loop()->next();
  from->loop()->set_next(nullptr);
  middle->set_face(face);
  middle->set_next(face->loop()->next());
  face->loop()->set_next(middle);
  api_del_entity(donor);
  const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
  ASSERT_TRUE(region.IsValid());
  EXPECT_FALSE(region->classifyLoops());
  EXPECT_EQ(region->count(), 0);
  EXPECT_EQ(region->topNode(), nullptr);
  api_del_entity(band);
}

// A hole between the two circles of a cylinder band: the pair of circles
// is one element of the tree and no further loop is compared with it, so
// the hole goes to the failure list and the face classifies as false,
// whichever way the hole runs.
TEST(LoopGeometryCases, AHoleBesideTwoSeparationLoopsIsAFailure) {
  for (const bool ccw : {false, true}) {
    SCOPED_TRACE(ccw ? "hole running as a periphery" : "hole running as a hole");
    BODY* band = make_cylinder_band(5.0, 8.0);
    FACE* face = faces_of(band).front();
    QELpar_box box;
    ASSERT_TRUE(sg_get_face_par_box(face, box));
    const QELinterval u = box.u_range(), v = box.v_range();
    BODY* donor = make_iso_rect_sheet(face->geometry()->equation(),
                                      {rect(u.interpolate(0.4), u.interpolate(0.6), v.interpolate(0.4), v.interpolate(0.6), ccw)});
    FACE* from = faces_of(donor).front();
    LOOP* hole = from->loop();
    from->set_loop(nullptr);
    hole->set_face(face);
    hole->set_next(face->loop()->next());
    face->loop()->set_next(hole);
    const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
    ASSERT_TRUE(region.IsValid());
    EXPECT_FALSE(region->classifyLoops());
    ASSERT_NE(region->failures(), nullptr);
    EXPECT_EQ(region->failures()->element().first().loop(), hole);
    EXPECT_EQ(region->failures()->next(), nullptr);
    ASSERT_NE(region->topNode(), nullptr);
    EXPECT_TRUE(region->topNode()->element().hasPartner());
    // The hole goes back to its own sheet, which is deleted with it.
    face->loop()->set_next(hole->next());
    hole->set_next(nullptr);
    hole->set_face(from);
    from->set_loop(hole);
    api_del_entity(donor);
    api_del_entity(band);
  }
}

// A square tube closed round v but not periodic: a periphery whose side lies
// on the seam may have its box read a whole turn away from its hole's (its
// samples there take the seam's other value), so boxes apart say nothing on
// it, as on any surface that wraps: the hole still nests in the periphery,
// with pcurves to guess from or without, on either side of the seam.
TEST(LoopGeometryCases, AHoleNestsInAPeripheryAlongTheSeamOfASplineClosedButNotPeriodic) {
  for (const bool low : {true, false})
    for (const bool pcurves : {true, false}) {
      SCOPED_TRACE(std::string(low ? "periphery from the seam at v = 0" : "periphery up to the seam at v = 4") +
                   (pcurves ? "" : ", no pcurves"));
      bs3_surface tube = make_tube_bs3_surface(false);
      const spline srf(tube);
      bs3_surface_delete(tube);
      ASSERT_TRUE(srf.closed_v());
      ASSERT_FALSE(srf.periodic_v());
      const double v0 = low ? 0.0 : 2.0;
      BODY* body = make_iso_rect_sheet(srf, {rect(0.1, 0.9, v0, v0 + 2.0, true), rect(0.3, 0.6, v0 + 0.5, v0 + 1.5, false)});
      if (!pcurves) sg_rm_pcurves_from_entity(body);
      FACE* face = faces_of(body).front();
      const std::vector<LOOP*> loops = geometryCaseLoops(body);
      const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(face);
      ASSERT_TRUE(region.IsValid());
      EXPECT_TRUE(region->classifyLoops());
      ASSERT_NE(region->topNode(), nullptr);
      EXPECT_EQ(region->topNode()->next(), nullptr);
      EXPECT_EQ(region->topNode()->element().first().loop(), loops[0]);
      ASSERT_NE(region->topNode()->child(), nullptr);
      EXPECT_EQ(region->topNode()->child()->element().first().loop(), loops[1]);
      EXPECT_TRUE(region->isClean());
      api_del_entity(body);
    }
}

namespace {

// A sheet on the test sphere whose one loop runs up the meridian at v0 from
// the equator to the north pole, down the meridian at v1 and back along the
// equator: a loop through a pole, where every longitude meets. The meridians
// are rational quarter circles whose last control point is the pole itself,
// so that the pole's own longitude is the surface's answer there, not v0's.
BODY* sphereSliceToThePole(double v0, double v1) {
  const sphere ball = test_sphere();
  const QELposition top = ball.centre + QELvector(0.0, 0.0, ball.radius);
  auto meridian = [&](double v) {
    const QELposition foot = ball.eval_position(QELpar_pos(0.0, v));
    const QELposition points[3] = {foot, foot + (top - ball.centre), top};
    const double weights[3] = {1.0, std::sqrt(0.5), 1.0};
    const double knots[6] = {0, 0, 0, 1, 1, 1};
    return intcurve(bs3_curve_from_ctrlpts(2, 1, 0, 0, 3, points, weights, QELresabs, 6, knots, 1e-10));
  };
  auto* pole = new VERTEX(new APOINT(top));
  auto* a = new VERTEX(new APOINT(ball.eval_position(QELpar_pos(0.0, v0))));
  auto* b = new VERTEX(new APOINT(ball.eval_position(QELpar_pos(0.0, v1))));
  EDGE* up = new EDGE(a, pole, make_curve(meridian(v0)), FORWARD);
  EDGE* down = new EDGE(b, pole, make_curve(meridian(v1)), FORWARD);
  std::unique_ptr<curve> circle(ball.v_param_line(0.0));
  const QELinterval along(v0, v1);
  EDGE* equator = new EDGE(a, b, make_curve(*circle), FORWARD, EDGE_cvty_unknown, &along);
  COEDGE* c1 = new COEDGE(up, FORWARD, nullptr, nullptr);
  COEDGE* c2 = new COEDGE(down, REVERSED, nullptr, nullptr);
  COEDGE* c3 = new COEDGE(equator, REVERSED, nullptr, nullptr);
  const std::vector<COEDGE*> ring = {c1, c2, c3};
  for (std::size_t k = 0; k < ring.size(); ++k) {
    ring[k]->set_next(ring[(k + 1) % ring.size()]);
    ring[(k + 1) % ring.size()]->set_previous(ring[k]);
  }
  pole->add_edge(up);
  pole->add_edge(down);
  a->add_edge(up);
  b->add_edge(down);
  auto* face = new FACE(new LOOP(c1, nullptr), nullptr, make_surface(ball), FORWARD);
  return new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
}

}  // namespace

// A loop through a pole spans its own longitudes only: the pole's point has
// every longitude and adds none of them to the loop's box, on either side of
// the seam.
TEST(LoopGeometryCases, ParameterBoxOfALoopThroughAPoleSpansItsOwnLongitudes) {
  const struct {
    const char* name;
    double v0, v1;
  } cases[] = {{"east of the origin", 2.0, 2.5}, {"west of the origin", -2.5, -2.0}, {"about the origin", -0.3, 0.4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = sphereSliceToThePole(c.v0, c.v1);
    const QELpar_box box = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
    EXPECT_NEAR(box.v_range().start_pt(), c.v0, 1e-6);
    EXPECT_NEAR(box.v_range().end_pt(), c.v1, 1e-6);
    api_del_entity(body);
  }
}

// An analytic face takes the region of its surface: a cone that is a
// cylinder the cylinder's, any other cone the cone's.
TEST(LoopGeometryCases, AnalyticFacesTakeTheRegionOfTheirSurface) {
  struct Case {
    const char* name;
    std::unique_ptr<surface> srf;
    iso_rect r;
    int kind;
  };
  std::vector<Case> cases;
  cases.push_back({"plane", std::unique_ptr<surface>(test_plane().make_copy()), rect(0, 1, 0, 1, true), 1});
  cases.push_back({"cylinder", std::unique_ptr<surface>(test_cylinder().make_copy()), rect(0, 1, 0.5, 2.5, true), 2});
  cases.push_back({"cone", std::unique_ptr<surface>(test_cone().make_copy()), rect(0, 1, 0.5, 2.5, true), 3});
  cases.push_back({"sphere", std::unique_ptr<surface>(test_sphere().make_copy()), rect(-0.5, 0.5, 0.5, 2.5, true), 4});
  cases.push_back({"torus", std::unique_ptr<surface>(test_torus().make_copy()), rect(0.5, 1.5, 0.5, 2.5, true), 6});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(*c.srf, {c.r});
    const Ve_FaceRegionHandle region = Ve_RepairLoops(static_cast<Ve_FaceTag*>(nullptr)).createRegion(faces_of(body).front());
    ASSERT_TRUE(region.IsValid());
    EXPECT_EQ(region->kind(), c.kind);
    api_del_entity(body);
  }
}

// A loop of one curveless edge at a vertex (a point loop) has the box of
// that vertex's parameters: a point, not an empty box.
TEST(LoopGeometryCases, ThePointLoopsBoxIsItsVertexsParameters) {
  BODY* body = make_iso_rect_sheet(test_cylinder(), {rect(0, 4, 0.5, 2.5, true)});
  FACE* face = faces_of(body).front();
  const QELposition at = test_cylinder().eval_position(QELpar_pos(2.0, 1.5));
  LOOP* point = testkit::add_one_coedge_loop(face, testkit::make_point_edge(at));
  const QELpar_box box = ve_loops::loopParameterBox(point);
  ASSERT_FALSE(box.empty());
  EXPECT_NEAR(box.u_range().start_pt(), 2.0, 1e-9);
  EXPECT_NEAR(box.u_range().end_pt(), 2.0, 1e-9);
  EXPECT_NEAR(box.v_range().start_pt(), 1.5, 1e-9);
  EXPECT_NEAR(box.v_range().end_pt(), 1.5, 1e-9);
  api_del_entity(body);
}

// On a closed surface, a loop across the seam whose edges run against their
// curves (each curve turned round, the edge and its range kept) spans the box
// it spans with its edges along them: each pcurve is read at the edge's
// parameter, so the loop is found in its pcurves' period, a half turn either
// side of the seam, not a period off.
TEST(LoopGeometryCases, ParameterBoxAcrossTheSeamIsTheSameWhicheverWayTheEdgesRun) {
  const cone cylinder = test_cylinder();
  const torus ring = test_torus();
  struct Case {
    const char* name;
    const surface* srf;
    iso_rect loop;
  };
  const std::vector<Case> cases = {
      {"cylinder", &cylinder, rect(1, 3, kPi - 0.5, kPi + 0.5, true)},
      {"torus across v", &ring, rect(1, 2, kPi - 0.5, kPi + 0.5, true)},
      {"torus across u", &ring, rect(kPi - 0.4, kPi + 0.6, 1, 2, true)},
      {"torus across both", &ring, rect(kPi - 0.4, kPi + 0.6, kPi - 0.5, kPi + 0.5, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BODY* body = make_iso_rect_sheet(*c.srf, {c.loop});
    const QELpar_box along = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
    reverse_edge_curves(body);
    const QELpar_box against = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
    for (const QELpar_box* b : {&along, &against}) {
      EXPECT_NEAR(b->u_range().start_pt(), c.loop.box.u_range().start_pt(), 1e-9);
      EXPECT_NEAR(b->u_range().end_pt(), c.loop.box.u_range().end_pt(), 1e-9);
      EXPECT_NEAR(b->v_range().start_pt(), c.loop.box.v_range().start_pt(), 1e-9);
      EXPECT_NEAR(b->v_range().end_pt(), c.loop.box.v_range().end_pt(), 1e-9);
    }
    api_del_entity(body);
  }
}

// A loop whose edges run against their curves spans the same box: each edge's
// range is read on its curve, turned with the edge.
TEST(LoopGeometryCases, ParameterBoxIsTheSameWhicheverWayTheEdgesRunAlongTheirCurves) {
  for (const bool pcurves : {true, false}) {
    SCOPED_TRACE(pcurves ? "with pcurves" : "no pcurves");
    BODY* body = make_iso_rect_sheet(test_plane(), {rect(1, 3, 2, 5, true)});
    if (!pcurves) sg_rm_pcurves_from_entity(body);
    const QELpar_box along = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    int turned = 0;
    for (int i = 0; i < edges.count(); ++i) {
      auto* e = static_cast<EDGE*>(edges[i]);
      if (e->geometry()->equation().type() != 1) continue;
      // The same line run the other way: the edge keeps its points and range.
      const auto& line = static_cast<const straight&>(e->geometry()->equation());
      const QELinterval r = e->param_range();
      e->set_geometry(make_curve(straight(line.root_point, -line.direction, line.param_scale)));
      e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
      e->set_param_range(&r);
      ++turned;
    }
    ASSERT_EQ(turned, 4);
    const QELpar_box against = ve_loops::loopParameterBox(geometryCaseLoops(body)[0]);
    EXPECT_NEAR(against.u_range().start_pt(), along.u_range().start_pt(), 1e-9);
    EXPECT_NEAR(against.u_range().end_pt(), along.u_range().end_pt(), 1e-9);
    EXPECT_NEAR(against.v_range().start_pt(), along.v_range().start_pt(), 1e-9);
    EXPECT_NEAR(against.v_range().end_pt(), along.v_range().end_pt(), 1e-9);
    EXPECT_NEAR(along.u_range().length(), 2.0, 1e-9);
    api_del_entity(body);
  }
}
