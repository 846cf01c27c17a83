// The post-process toolbox: each repair on a model carrying exactly its
// fault, on clean models, and with every kernel call of it failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/post_process_util.hxx"
#include "repair/post_process_support.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
using testkit::count_edges;
using testkit::model_problems;
#include "support/query_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/check.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/options.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

using namespace post_process_test;

// ---- fault editors: each model carries exactly one fault ----

// A box one of whose faces points inwards (its loop runs against its sense).
BODY* boxWithReversedFace()
{
    BODY* b = testkit::make_plane_box(10, 20, 30);
    flipSense(faces(b)[2]);
    return b;
}

// A box one of whose faces has its loop running backwards.
BODY* boxWithReversedLoop()
{
    BODY* b = testkit::make_plane_box(10, 20, 30);
    faces(b)[1]->loop()->reverse();
    return b;
}

// A box with one corner moved off its edges' ends by 1e-4.
BODY* boxWithVertexOff()
{
    BODY* b = testkit::make_plane_box(10, 20, 30);
    VERTEX* v = edges(b)[0]->start();
    v->geometry()->set_coords(v->geometry()->coords() + QELvector(1e-4, 0, 0));
    return b;
}

// The spline sheet with two neighbouring inner control points of its surface made one.
BODY* sheetWithCoincidentSurfacePoints()
{
    BODY* b = testkit::make_spline_sheet();
    spline& eq = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    bs3_surface s = eq.sur();
    int nu = 0, nv = 0;
    QELposition* pts = nullptr;
    bs3_surface_control_points(s, nu, nv, pts);
    int dim, ru, rv, fu, fv, pu, pv, du, nuk, dv, nvk;
    QELposition* cp = nullptr;
    double *w = nullptr, *uk = nullptr, *vk = nullptr;
    bs3_surface_to_array(s, dim, ru, rv, fu, fv, pu, pv, nu, nv, cp, w, du, nuk, uk, dv, nvk, vk);
    cp[1 * nv + 2] = cp[1 * nv + 1];
    eq.set_sur(bs3_surface_from_ctrlpts(du, ru, fu, pu, nu, dv, rv, fv, pv, nv, cp, w, QELresabs, nuk, uk, nvk, vk,
                                        bs3_curve_knottol()));
    delete[] pts;
    delete[] cp;
    delete[] w;
    delete[] uk;
    delete[] vk;
    return b;
}

// The spline sheet with one edge curve whose two inner control points coincide.
BODY* sheetWithCoincidentCurvePoints()
{
    BODY* b = testkit::make_spline_sheet();
    EDGE* e = edges(b)[0];
    auto& ic = static_cast<intcurve&>(e->geometry()->equation_for_update());
    bs3_curve c = bs3_curve_copy(ic.cur());
    int n = 0;
    QELposition* pts = nullptr;
    bs3_curve_control_points(c, n, pts);
    bs3_curve_set_ctrlpt(c, 2, pts[1], 1.0);
    delete[] pts;
    ic.set_cur(c);
    return b;
}

// A quarter of a cone from its base circle to its apex, one side of which
// is an approximate intersection curve that ends `miss` short of the apex.
// With `turned` the curve's B-spline runs from the apex back to `from` and
// the intcurve is marked reversed: the same points, read the other way.
BODY* coneWithApexMiss(bool turned = false, double miss = 1e-4)
{
    const cone c(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, -0.6, 0.8, 0.0);
    FACE* face = make_face_cone(c, 0.0, kPi / 2, 10.0);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    const QELposition apex = c.get_apex();
    for (EDGE* e : edges(face)) {
        // The curve runs from `from` to `to`: against the edge when it is reversed.
        VERTEX* from = e->sense() == FORWARD ? e->start() : e->end();
        VERTEX* to = e->sense() == FORWARD ? e->end() : e->start();
        if (distance(to->geometry()->coords(), apex) > 1e-9)
            continue;
        const QELinterval r = edge_curve_range(e);
        QELposition pts[2] = {from->geometry()->coords(), apex + QELvector(0, 0, -miss)};
        double knots[4] = {r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt()};
        if (turned) {
            std::swap(pts[0], pts[1]);
            const double knotsBack[4] = {-r.end_pt(), -r.end_pt(), -r.start_pt(), -r.start_pt()};
            std::copy(knotsBack, knotsBack + 4, knots);
        }
        bs3_curve line = bs3_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, bs3_curve_knottol());
        const intcurve approx(VELM_NEW intersection_int_cur(line, 1e-4, nullptr, nullptr, nullptr, nullptr), turned);
        replaceEdgeCurve(e, approx);
        break;
    }
    return b;
}

// ---- orientation ----

TEST_F(PostProcess, FaceSenseAgainstItsLoopIsTurnedBack)
{
    const double clean = area(keep(testkit::make_plane_box(10, 20, 30)));
    BODY* b = keep(boxWithReversedFace());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil tool(view(b));
    FACE* f = faces(b)[2];
    EXPECT_TRUE(tool.correctFaceSense(f));
    EXPECT_EQ(findings(b), "");
    EXPECT_NEAR(area(b), clean, 1e-6 * clean);
    const std::string once = testkit::body_text(b);
    EXPECT_TRUE(tool.correctFaceSense(f));
    EXPECT_EQ(testkit::body_text(b), once);
    // Not planar: left alone.
    BODY* cyl = keep(testkit::make_cylinder());
    FACE* side = nullptr;
    for (FACE* g : faces(cyl))
        side = is_cylindrical_face(g) ? g : side;
    flipSense(side);
    const std::string before = testkit::body_text(cyl);
    EXPECT_FALSE(tool.correctFaceSense(side));
    EXPECT_EQ(testkit::body_text(cyl), before);
}

// The same repair on boxes placed by a rotation and by a mirror.
TEST_F(PostProcess, FaceSenseIsTurnedBackInRotatedAndMirroredFrames)
{
    const double mirror[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (const QELtransf& t : {rotate_transf(0.7, QELvector(1, 2, 3)),
                               QELtransf(QELmatrix(mirror), QELvector(5, -2, 1), 1.0, false, true, false)}) {
        BODY* clean = keep(testkit::make_plane_box(10, 20, 30));
        ASSERT_TRUE(api_apply_transf(clean, t).ok());
        BODY* b = keep(testkit::make_plane_box(10, 20, 30));
        ASSERT_TRUE(api_apply_transf(b, t).ok());
        flipSense(faces(b)[2]);
        EXPECT_NE(findings(b), "");
        EXPECT_TRUE(Ve_PostProcessUtil(view(b)).correctFaceSense(faces(b)[2]));
        EXPECT_EQ(findings(b), "");
        EXPECT_EQ(testkit::body_text(b), testkit::body_text(clean));
    }
}

TEST_F(PostProcess, ReversedLoopIsPutBackExactly)
{
    const std::string clean = testkit::body_text(keep(testkit::make_plane_box(10, 20, 30)));
    BODY* b = keep(boxWithReversedLoop());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).correctLoopSense(faces(b)[1]));
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), clean);
}

// A face whose loops check is left as it is, whatever its area comes out as:
// on a sphere or a torus a face bounded by one hole alone (the surface less
// a patch) is sound, and turning its loop would make it the patch. The same
// hole beside its periphery, and a periphery alone, stay too, on every
// surface, in every frame.
TEST_F(PostProcess, LoopSenseLeavesEveryFaceWhoseLoopsCheck)
{
    struct Case {
        const char* name;
        std::unique_ptr<surface> srf;
        std::vector<testkit::iso_rect> loops;
    };
    std::vector<Case> cases;
    cases.push_back({"sphere less a patch", std::unique_ptr<surface>(testkit::test_sphere().make_copy()),
                     {testkit::rect(-0.5, 0.5, 0.2, 1.4, false)}});
    cases.push_back({"torus less a patch", std::unique_ptr<surface>(testkit::test_torus().make_copy()),
                     {testkit::rect(1.0, 2.0, 0.5, 1.5, false)}});
    cases.push_back({"torus patch across both seams", std::unique_ptr<surface>(testkit::test_torus().make_copy()),
                     {testkit::rect(testkit::kPi - 0.5, testkit::kPi + 0.5, testkit::kPi - 0.5, testkit::kPi + 0.5, true)}});
    cases.push_back({"plane patch with a hole", std::unique_ptr<surface>(testkit::test_plane().make_copy()),
                     {testkit::rect(0, 4, 0, 3, true), testkit::rect(1, 2, 1, 2, false)}});
    // The cylinder's axial u and angular v run left-handed about its normal.
    cases.push_back({"cylinder patch with a hole", std::unique_ptr<surface>(testkit::test_cylinder().make_copy()),
                     {testkit::rect(0, 4, 0.5, 2.5, false), testkit::rect(1, 2, 1.0, 2.0, true)}});
    for (const Case& c : cases)
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(testing::Message() << c.name << ", frame "
                                            << (frame.identity() ? "identity" : frame.reflect() ? "mirrored" : "rotated"));
            BODY* b = keep(testkit::make_iso_rect_sheet(*c.srf, c.loops));
            if (!frame.identity()) {
                api_apply_transf(b, frame);
                api_change_body_trans(b, nullptr);
            }
            ASSERT_EQ(findings(b), "");
            const std::string before = testkit::body_text(b);
            EXPECT_TRUE(Ve_PostProcessUtil(view(b)).correctLoopSense(faces(b)[0]));
            EXPECT_EQ(testkit::body_text(b), before);
        }
}

TEST_F(PostProcess, FaceLoopsWalkGoesOnPastAFaceWithoutSurface)
{
    BODY* b = keep(boxWithReversedFace());
    faces(b)[0]->set_geometry(nullptr);
    Ve_PostProcessUtil(view(b)).fixFaceLoops();
    EXPECT_EQ(faces(b)[2]->sense(), FORWARD);
}

TEST_F(PostProcess, FaceLoopsTurnsAFaceWhoseOnlyLoopIsAHole)
{
    BODY* b = keep(boxWithReversedFace());
    Ve_PostProcessUtil(view(b)).fixFaceLoops();
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), testkit::body_text(keep(testkit::make_plane_box(10, 20, 30))));
}

// A face of two loops is turned only when neither lies in the other (both
// run as peripheries of a face the wrong way round): a square with a hole
// stays, and so does one whose hole runs the periphery's way (the hole still
// lies in the periphery: the loop is at fault, not the face).
TEST_F(PostProcess, FaceLoopsLeaveAFaceWithAHoleInItsPeripheryAsItIs)
{
    for (const bool holeTurned : {false, true}) {
        SCOPED_TRACE(holeTurned ? "hole running the periphery's way" : "hole");
        BODY* b = keep(testkit::make_iso_rect_sheet(
            testkit::test_plane(), {testkit::rect(0, 10, 0, 10, true), testkit::rect(2, 4, 2, 4, holeTurned)}));
        const std::string before = testkit::body_text(b);
        Ve_PostProcessUtil(view(b)).fixFaceLoops();
        EXPECT_EQ(testkit::body_text(b), before);
    }
}

// ---- coedge tolerance errors ----

TEST_F(PostProcess, VertexOffItsCoedgesBecomesTolerant)
{
    BODY* b = keep(boxWithVertexOff());
    EXPECT_NE(findings(b), "");
    find_option("check_level")->set(20);
    Ve_PostProcessUtil(view(b)).removeCoedgeTolErrors();
    EXPECT_EQ(find_option("check_level")->count(), 20);
    EXPECT_EQ(findings(b), "");
    int tolerant = 0;
    ENTITY_LIST vs;
    api_get_vertices(b, vs);
    for (int i = 0; i < vs.count(); ++i)
        tolerant += is_TVERTEX(vs[i]) ? 1 : 0;
    EXPECT_EQ(tolerant, 1);
}

// The spline sheet with one edge curve bowed 1e-4 off its face in the middle.
BODY* sheetWithEdgeOffFace()
{
    BODY* b = testkit::make_spline_sheet();
    auto& ic = static_cast<intcurve&>(edges(b)[0]->geometry()->equation_for_update());
    bs3_curve c = bs3_curve_copy(ic.cur());
    int n = 0;
    QELposition* pts = nullptr;
    bs3_curve_control_points(c, n, pts);
    bs3_curve_set_ctrlpt(c, 1, pts[1] + QELvector(0, 0, 1e-4), 1.0);
    delete[] pts;
    ic.set_cur(c);
    return b;
}

TEST_F(PostProcess, CoedgeOffItsEdgeMakesTheEdgeTolerant)
{
    BODY* b = keep(sheetWithEdgeOffFace());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).removeCoedgeTolErrors();
    EXPECT_EQ(findings(b), "");
    EXPECT_TRUE(is_TEDGE(edges(b)[0]));
    EXPECT_GE(edges(b)[0]->get_tolerance(), 1e-5);
}

// The moved vertex already tolerant, with a tolerance too small for the gap:
// its tolerance is worked out again, whichever end of a coedge it is.
TEST_F(PostProcess, TolerantVertexTooTightForItsCoedgesGetsItsToleranceAgain)
{
    BODY* b = keep(boxWithVertexOff());
    TVERTEX* tight = nullptr;
    ASSERT_TRUE(api_replace_vertex_with_tvertex(edges(b)[0]->start(), tight).ok());
    tight->set_tolerance(1e-8);
    tight->set_update(0);
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).removeCoedgeTolErrors();
    EXPECT_EQ(findings(b), "");
    int tolerant = 0;
    ENTITY_LIST vs;
    api_get_vertices(b, vs);
    for (int i = 0; i < vs.count(); ++i)
        if (is_TVERTEX(vs[i])) {
            ++tolerant;
            EXPECT_GE(static_cast<VERTEX*>(vs[i])->get_tolerance(), 1e-4 - QELresabs);
        }
    EXPECT_EQ(tolerant, 1);
}

// A square sheet whose first edge's curve stops 1e-4 short of the vertex its
// one coedge ends at: the vertex is off that coedge's end alone (the next
// coedge starts on it). `tight`: the vertex is tolerant already, too tightly.
BODY* sheetWithCoedgeEndOff(bool tight, VERTEX*& off)
{
    BODY* b = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {});
    EDGE* e = edges(b)[0];
    COEDGE* c = e->coedge();
    const QELinterval r = e->param_range();
    const double shrink = 1e-4 / (e->geometry()->equation().eval_deriv(r.mid_pt())).len();
    const bool forward = c->sense() == FORWARD;
    const QELinterval shorter = forward ? QELinterval(r.start_pt(), r.end_pt() - shrink)
                                        : QELinterval(r.start_pt() + shrink, r.end_pt());
    e->set_param_range(&shorter);
    off = c->end();
    if (tight) {
        TVERTEX* made = nullptr;
        EXPECT_TRUE(api_replace_vertex_with_tvertex(off, made).ok());
        made->set_tolerance(1e-8);
        made->set_update(0);
        off = made;
    }
    return b;
}

// The kernel's check names the end of a coedge only when its start is sound:
// the vertex there is made tolerant, or its tolerance worked out again.
TEST_F(PostProcess, AVertexOffTheEndOfItsOneCoedgeIsCoveredToo)
{
    for (const bool tight : {false, true}) {
        SCOPED_TRACE(tight ? "tolerant vertex too tight" : "plain vertex");
        VERTEX* off = nullptr;
        BODY* b = keep(sheetWithCoedgeEndOff(tight, off));
        ASSERT_NE(findings(b), "");
        Ve_PostProcessUtil(view(b)).removeCoedgeTolErrors();
        EXPECT_EQ(findings(b), "");
        ENTITY_LIST vs;
        api_get_vertices(b, vs);
        int tolerant = 0;
        for (int i = 0; i < vs.count(); ++i)
            if (is_TVERTEX(vs[i])) {
                ++tolerant;
                EXPECT_GE(static_cast<VERTEX*>(vs[i])->get_tolerance(), 1e-4 - QELresabs);
            }
        EXPECT_EQ(tolerant, 1);
    }
}

TEST_F(PostProcess, CoedgeChecksRunAtTheKernelsLevelWhenTheOptionIsNotRegistered)
{
    velm_test_unregister_option("check_level");
    BODY* b = keep(boxWithVertexOff());
    Ve_PostProcessUtil(view(b)).removeCoedgeTolErrors();
    EXPECT_EQ(find_option("check_level"), nullptr);
    EXPECT_EQ(findings(b), "");
    reset_kernel_options();
}

// ---- control points ----

TEST_F(PostProcess, CoincidentSurfacePointsAreSpreadWithOneCheckEventPair)
{
    const double clean = area(keep(testkit::make_spline_sheet()));
    BODY* b = keep(sheetWithCoincidentSurfacePoints());
    EXPECT_NE(findings(b), "");
    qelx_test::EventRecorder events;
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixSurfCntrlPntCoincidence());
    EXPECT_EQ(findings(b), "");
    EXPECT_NEAR(area(b), clean, 0.01 * clean);
    EXPECT_EQ(events.count("StartTask"), 1);
    EXPECT_EQ(events.count("EndTask"), 1);
    EXPECT_TRUE(events.tasksNested());
}

TEST_F(PostProcess, CoincidentCurvePointsAreSpreadAndTheEdgeCoversItsFaces)
{
    BODY* b = keep(sheetWithCoincidentCurvePoints());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixCurveCntrlPntCoincidence());
    EXPECT_EQ(findings(b), "");
}

// ---- refits round a closing surface ----

// The body placed by the frame, the loops of its one face placed round the
// surface's closing period and then moved `periods` whole periods along it:
// a face whose loop lies beyond the surface's principal range.
FACE* placedPeriodsAway(BODY* b, const testkit::KernelFrame& frame, int periods)
{
    EXPECT_TRUE(api_apply_transf(b, frame.transform).ok());
    EXPECT_TRUE(api_change_body_trans(b).ok());
    FACE* face = faces(b)[0];
    EXPECT_TRUE(ve_place_loop_pcurves(face));
    const surface& s = face->geometry()->equation();
    const double pu = ve_closing_period(s, true), pv = ve_closing_period(s, false);
    for (LOOP* loop = face->loop(); loop; loop = loop->next())
        for (COEDGE* c = loop->start();;) {
            if (c->geometry())
                testkit::shift_pcurve(c, periods * pu, periods * pv);
            c = c->next();
            if (c == loop->start())
                break;
        }
    return face;
}

// The repair, on the face in every frame and whole periods away either way:
// every loop joins up after it (within `within` in parameters, as it did
// before), every use has a pcurve, and the area stays (within `within` of
// itself: a repair that makes pcurves exact moves it that little).
void expectRefitsJoined(const std::function<BODY*()>& build, const std::function<void(BODY*)>& repair,
                        const std::function<void(BODY*)>& repaired, double within)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (const int periods : {-2, -1, 1, 2}) {
            SCOPED_TRACE(std::string(frame.name) + ", " + std::to_string(periods) + " periods away");
            BODY* b = build();
            FACE* face = placedPeriodsAway(b, frame, periods);
            bool pcurved = false;
            const double before = area(b);
            repair(b);
            repaired(b);
            face = faces(b)[0];
            EXPECT_LT(testkit::widest_loop_join_step(face, pcurved), within);
            EXPECT_TRUE(pcurved);
            EXPECT_NEAR(area(b), before, within * std::fabs(before));
            api_del_entity(b);
        }
}

// ---- cone apices ----

TEST_F(PostProcess, ApproximateCurveMissingTheApexBecomesExactAndTolerant)
{
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "B-spline run backwards" : "B-spline run along");
        BODY* b = keep(coneWithApexMiss(turned));
        EXPECT_NE(findings(b), "");
        const double before = area(b);
        Ve_PostProcessUtil(view(b)).CheckAndFixNullEdgeAtApexProb();
        EXPECT_EQ(findings(b), "");
        EXPECT_NEAR(area(b), before, 1e-3 * std::fabs(before));
        for (EDGE* e : edges(b))
            if (e->geometry() && e->geometry()->equation().type() == 11) {
                const auto& ic = static_cast<const intcurve&>(e->geometry()->equation());
                EXPECT_EQ(ic.get_int_cur().id(), exact_int_cur::id);
                EXPECT_EQ(ic.reversed(), turned);
            }
    }
}

// The exact curves' fresh pcurves on a cone whose face lies whole periods
// beyond its principal range join the loop there, in every frame (within
// the apex's miss: the face is bounded by a curve that misses it).
TEST_F(PostProcess, ExactCurvesAtAnApexKeepTheirLoopJoinedRoundTheCone)
{
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "B-spline run backwards" : "B-spline run along");
        expectRefitsJoined(
            [&] {
                BODY* b = coneWithApexMiss(turned);
                ve_add_loop_pcurves(faces(b)[0]);
                return b;
            },
            [](BODY* b) { Ve_PostProcessUtil(view(b)).CheckAndFixNullEdgeAtApexProb(); },
            [](BODY* b) { EXPECT_EQ(findings(b), ""); }, 1e-3);
    }
}

// The edge missing the apex already tolerant, and its vertex at the apex,
// both too tightly, their tolerances kept as they are: the exact curve still
// misses the apex, so the vertex's tolerance is worked out again with the
// edge's.
TEST_F(PostProcess, ATightTolerantVertexAtAnApexGetsItsToleranceAgainWithTheExactCurve)
{
    BODY* b = keep(coneWithApexMiss());
    EDGE* missing = nullptr;
    for (EDGE* e : edges(b))
        if (e->geometry() && e->geometry()->equation().type() == 11)
            missing = e;
    ASSERT_NE(missing, nullptr);
    TEDGE* tolerant = nullptr;
    ASSERT_TRUE(api_replace_edge_with_tedge(missing, tolerant).ok());
    tolerant->set_tolerance(QELresabs);
    tolerant->set_update(0);
    const QELposition apex =
        cone(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, -0.6, 0.8, 0.0).get_apex();
    VERTEX* atApex = distance(tolerant->start()->geometry()->coords(), apex) < 1e-9 ? tolerant->start() : tolerant->end();
    ASSERT_LT(distance(atApex->geometry()->coords(), apex), 1e-9);
    TVERTEX* tight = nullptr;
    ASSERT_TRUE(api_replace_vertex_with_tvertex(atApex, tight).ok());
    tight->set_tolerance(1e-8);
    tight->set_update(0);
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).CheckAndFixNullEdgeAtApexProb();
    EXPECT_EQ(findings(b), "");
    EXPECT_GE(tight->get_tolerance(), 1e-4 - QELresabs);
}

// An edge already on an exact curve is left as it is when the apex repair
// meets it again: its curve, its coedges' pcurves and its vertices'
// tolerances stay, whichever way the B-spline runs.
TEST_F(PostProcess, AnEdgeAlreadyExactKeepsItsCurvePCurvesAndTolerances)
{
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "B-spline run backwards" : "B-spline run along");
        BODY* b = keep(coneWithApexMiss(turned));
        Ve_PostProcessUtil(view(b)).CheckAndFixNullEdgeAtApexProb();
        ASSERT_EQ(findings(b), "");
        EDGE* exact = nullptr;
        for (EDGE* e : edges(b))
            if (e->geometry() && e->geometry()->equation().type() == 11)
                exact = e;
        ASSERT_NE(exact, nullptr);
        const CURVE* curve = exact->geometry();
        std::vector<const PCURVE*> pcurves;
        for (COEDGE* c : coedges(exact))
            pcurves.push_back(c->geometry());
        ASSERT_NE(pcurves.front(), nullptr);
        std::vector<double> tolerances;
        for (VERTEX* v : {exact->start(), exact->end()})
            tolerances.push_back(v->get_tolerance());
        ENTITY_LIST all;
        api_get_edges(b, all);
        Ve_PostProcessUtil(view(b)).ReplaceEdgeCrvWithExactIntCurves(all);
        EXPECT_EQ(exact->geometry(), curve);
        std::size_t k = 0;
        for (COEDGE* c : coedges(exact))
            EXPECT_EQ(c->geometry(), pcurves[k++]);
        EXPECT_EQ(exact->start()->get_tolerance(), tolerances[0]);
        EXPECT_EQ(exact->end()->get_tolerance(), tolerances[1]);
        EXPECT_EQ(findings(b), "");
    }
}

// Where no pcurve can be fitted to the exact curve (its B-spline misses the
// apex by far more than the fit tolerance), its coedge is left without one:
// the old curve's pcurve, made when the miss was small and now off the
// curve, is never kept on the new curve, whichever way the B-spline runs.
TEST_F(PostProcess, AnExactCurveNeverKeepsTheOldCurvesPCurve)
{
    const auto approximateEdge = [](BODY* b) {
        EDGE* found = nullptr;
        for (EDGE* e : edges(b))
            if (e->geometry() && e->geometry()->equation().type() == 11)
                found = e;
        return found;
    };
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "B-spline run backwards" : "B-spline run along");
        BODY* b = keep(coneWithApexMiss(turned));
        EDGE* approximate = approximateEdge(b);
        ASSERT_NE(approximate, nullptr);
        std::vector<COEDGE*> uses = coedges(approximate);
        ASSERT_FALSE(uses.empty());
        for (COEDGE* c : uses)
            ASSERT_NE(c->geometry(), nullptr);
        // The same B-spline missing the apex by 0.05, its pcurves kept.
        BODY* far = coneWithApexMiss(turned, 0.05);
        ASSERT_NE(approximateEdge(far), nullptr);
        approximate->set_geometry(make_curve(approximateEdge(far)->geometry()->equation()));
        api_del_entity(far);
        for (COEDGE* c : uses)
            ASSERT_GT(testkit::worst_pcurve_gap(c), 0.01);
        Ve_PostProcessUtil(view(b)).CheckAndFixNullEdgeAtApexProb();
        // The edge may have been made tolerant: found again.
        EDGE* exact = approximateEdge(b);
        ASSERT_NE(exact, nullptr);
        const auto& ic = static_cast<const intcurve&>(exact->geometry()->equation());
        EXPECT_EQ(ic.get_int_cur().id(), exact_int_cur::id);
        for (COEDGE* c : coedges(exact))
            if (c->geometry())
                EXPECT_LT(testkit::worst_pcurve_gap(c), 2.0 * QELresfit);
    }
}

// ---- every member on clean models and on a null body ----

using Member = void (*)(Ve_PostProcessUtil&);
const std::vector<std::pair<const char*, Member>> kMembers = {
    {"correctFaceSense", [](Ve_PostProcessUtil& t) { for (FACE* f : faces(reinterpret_cast<BODY*>(t.getBody()))) t.correctFaceSense(f); }},
    {"correctLoopSense", [](Ve_PostProcessUtil& t) { for (FACE* f : faces(reinterpret_cast<BODY*>(t.getBody()))) t.correctLoopSense(f); }},
    {"CorrectFaceAreaProblem", [](Ve_PostProcessUtil& t) { t.CorrectFaceAreaProblem(); }},
    {"fixFaceLoops", [](Ve_PostProcessUtil& t) { t.fixFaceLoops(); }},
    {"removeCoedgeTolErrors", [](Ve_PostProcessUtil& t) { t.removeCoedgeTolErrors(); }},
    {"splitEdgesAtPole", [](Ve_PostProcessUtil& t) { t.splitEdgesAtPole(); }},
    {"fixSurfCntrlPntCoincidence", [](Ve_PostProcessUtil& t) { t.fixSurfCntrlPntCoincidence(); }},
    {"fixCurveCntrlPntCoincidence", [](Ve_PostProcessUtil& t) { t.fixCurveCntrlPntCoincidence(); }},
    {"CheckAndFixNullEdgeAtApexProb", [](Ve_PostProcessUtil& t) { t.CheckAndFixNullEdgeAtApexProb(); }},
    {"extendSplineSurf(true)", [](Ve_PostProcessUtil& t) { t.extendSplineSurf(true); }},
    {"extendSplineSurf(FACE*)", [](Ve_PostProcessUtil& t) { for (FACE* f : faces(reinterpret_cast<BODY*>(t.getBody()))) t.extendSplineSurf(f); }},
    {"fixSurfaceForms", [](Ve_PostProcessUtil& t) { t.fixSurfaceForms(); }},
    {"fixCurveForms", [](Ve_PostProcessUtil& t) { t.fixCurveForms(); }},
    {"MakeCurvesClosed", [](Ve_PostProcessUtil& t) { t.MakeCurvesClosed(); }},
    {"fixCurveSelfInterxn", [](Ve_PostProcessUtil& t) { t.fixCurveSelfInterxn(); }},
    {"fixCurveIrregularity", [](Ve_PostProcessUtil& t) { t.fixCurveIrregularity(); }},
    {"fixfreeCurveSelfInterxn", [](Ve_PostProcessUtil& t) { t.fixfreeCurveSelfInterxn(); }},
    {"fixfreeCurveIrregularity", [](Ve_PostProcessUtil& t) { t.fixfreeCurveIrregularity(); }},
    {"fixLeftOverCurveSelfInt", [](Ve_PostProcessUtil& t) { t.fixLeftOverCurveSelfInt(); }},
    {"fixLeftOverCurveIrreg", [](Ve_PostProcessUtil& t) { t.fixLeftOverCurveIrreg(); }},
    {"resurfaceWithOldPCurves", [](Ve_PostProcessUtil& t) { t.resurfaceWithOldPCurves(); }},
};

TEST_F(PostProcess, EveryMemberLeavesCleanModelsAsTheyAre)
{
    for (BODY* (*build)() : {+[] { return testkit::make_plane_box(10, 20, 30); }, +[] { return testkit::make_cylinder(); },
                             +[] { return testkit::make_hemisphere(); }, +[] { return testkit::make_spline_sheet(); },
                             +[] { return wireOn(cubicThrough({{0, 0, 0}, {3, 1, 0}, {6, -1, 0}, {9, 0, 0}})); }}) {
        BODY* b = keep(build());
        EXPECT_EQ(findings(b), "");
        const std::string before = testkit::body_text(b);
        for (const auto& [name, member] : kMembers) {
            Ve_PostProcessUtil tool(view(b));
            member(tool);
            EXPECT_EQ(testkit::body_text(b), before) << name;
        }
    }
}

TEST_F(PostProcess, WithoutABodyNothingRunsAndTheAssertionNamesTheToolbox)
{
    qelx_test::AssertRecorder asserts;
    Ve_PostProcessUtil tool(nullptr);
    ASSERT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    EXPECT_EQ(Gk_ErrMgr::assertions()[0].source, "ve_edgeutl");
    EXPECT_EQ(Gk_ErrMgr::assertions()[0].line, 162);
    EXPECT_FALSE(tool.fixSurfCntrlPntCoincidence());
    EXPECT_FALSE(tool.fixCurveSelfInterxn());
    EXPECT_FALSE(tool.fixfreeCurveIrregularity());
    EXPECT_FALSE(tool.CorrectFaceAreaProblem());
    EXPECT_FALSE(tool.correctFaceSense(nullptr));
    for (const auto& [name, member] : kMembers)
        if (std::string(name).rfind("correct", 0) != 0)
            member(tool);
}

// ---- failures at every kernel call ----

struct SweepCase {
    const char* name;
    BODY* (*build)();
    void (*step)(Ve_PostProcessUtil&, BODY*);
};

const SweepCase kSweeps[] = {
    {"correctFaceSense", boxWithReversedFace, [](Ve_PostProcessUtil& t, BODY* b) { t.correctFaceSense(nthFace(b, 2)); }},
    {"correctLoopSense", boxWithReversedLoop, [](Ve_PostProcessUtil& t, BODY* b) { t.correctLoopSense(nthFace(b, 1)); }},
    {"fixFaceLoops", boxWithReversedFace, [](Ve_PostProcessUtil& t, BODY*) { t.fixFaceLoops(); }},
    {"removeCoedgeTolErrors", boxWithVertexOff, [](Ve_PostProcessUtil& t, BODY*) { t.removeCoedgeTolErrors(); }},
    {"removeCoedgeTolErrors on an edge", sheetWithEdgeOffFace, [](Ve_PostProcessUtil& t, BODY*) { t.removeCoedgeTolErrors(); }},
    {"fixSurfCntrlPntCoincidence", sheetWithCoincidentSurfacePoints,
     [](Ve_PostProcessUtil& t, BODY*) { t.fixSurfCntrlPntCoincidence(); }},
    {"fixCurveCntrlPntCoincidence", sheetWithCoincidentCurvePoints,
     [](Ve_PostProcessUtil& t, BODY*) { t.fixCurveCntrlPntCoincidence(); }},
    {"CheckAndFixNullEdgeAtApexProb", [] { return coneWithApexMiss(); },
     [](Ve_PostProcessUtil& t, BODY*) { t.CheckAndFixNullEdgeAtApexProb(); }},
    // A miss of a few resolutions: a vertex the failure leaves plain is still
    // off its edge by more than the resolution.
    {"CheckAndFixNullEdgeAtApexProb, a miss of five resolutions", [] { return coneWithApexMiss(false, 5e-6); },
     [](Ve_PostProcessUtil& t, BODY*) { t.CheckAndFixNullEdgeAtApexProb(); }},
};

TEST_F(PostProcess, AFailureAtAnyKernelCallLeavesTheModelRepairedOrAsItWas)
{
    for (const SweepCase& c : kSweeps) {
        SCOPED_TRACE(c.name);
        // The recipes run each step inside their own bracket; so does the sweep.
        const long runs = testkit::sweep_kernel_calls(c.build, [&](BODY* b) {
            velmInnerCall([&] {
                Ve_PostProcessUtil tool(view(b));
                c.step(tool, b);
            });
        });
        EXPECT_GT(runs, 0);
    }
}

} // namespace

namespace {

using namespace post_process_test;

// A quarter sphere of radius 4 (z >= 0, y >= 0): the half equator from
// (4, 0, 0) to (-4, 0, 0) and, back over the north pole, the half meridian
// in the plane y = 0. The meridian passes the pole inside its edge. Its
// pcurve climbs at longitude -pi, crosses the pole's parameter line within
// 1e-3 of the pole and comes down at longitude 0; the equator's is fitted.
BODY* quarterSphereOverThePole()
{
    const double r = 4.0;
    auto* a = new VERTEX(new APOINT(QELposition(r, 0, 0)));
    auto* z = new VERTEX(new APOINT(QELposition(-r, 0, 0)));
    const QELinterval half(0.0, kPi);
    auto* equator = new EDGE(a, z, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(r, 0, 0), 1.0)),
                             FORWARD, EDGE_cvty_unknown, &half);
    auto* meridian = new EDGE(z, a, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0, 1, 0), QELvector(-r, 0, 0), 1.0)),
                              FORWARD, EDGE_cvty_unknown, &half);
    auto* c1 = new COEDGE(equator, FORWARD, nullptr, nullptr);
    auto* c2 = new COEDGE(meridian, FORWARD, nullptr, nullptr);
    c1->set_next(c2);
    c2->set_previous(c1);
    c2->set_next(c1);
    c1->set_previous(c2);
    const sphere ball(QELposition(), r);
    auto* face = new FACE(new LOOP(c1, nullptr), nullptr, new SPHERE(ball), FORWARD);
    for (EDGE* e : {equator, meridian}) {
        e->start()->add_edge(e);
        e->end()->add_edge(e);
    }
    minimize_vertex_edges(a);
    minimize_vertex_edges(z);
    auto* body = new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
    sg_add_pcurve_to_coedge(c1);
    const double h = kPi / 2;
    const QELposition uv[4] = {{0, -kPi, 0}, {h, -kPi, 0}, {h, 0, 0}, {0, 0, 0}};
    const double knots[6] = {0, 0, h - 1e-3, h + 1e-3, kPi, kPi};
    bs2_curve over = bs2_curve_from_ctrlpts(1, 0, 0, 0, 4, uv, nullptr, QELresabs, 6, knots, bs3_curve_knottol());
    c2->set_geometry(new PCURVE(pcurve(over, 0.0, ball)));
    return body;
}

bool poleIsAVertex(BODY* b)
{
    ENTITY_LIST vs;
    api_get_vertices(b, vs);
    for (int i = 0; i < vs.count(); ++i)
        if (distance(static_cast<VERTEX*>(vs[i])->geometry()->coords(), QELposition(0, 0, 4)) < 1e-9)
            return true;
    return false;
}

TEST_F(PostProcess, EdgeThroughAPoleIsSplitThereWithFreshPcurves)
{
    BODY* b = keep(quarterSphereOverThePole());
    ASSERT_EQ(model_problems(b), "");
    ASSERT_FALSE(poleIsAVertex(b));
    const double before = area(b);
    EXPECT_NEAR(before, kPi * 16.0, 1e-3 * kPi * 16.0);
    Ve_PostProcessUtil(view(b)).splitEdgesAtPole();
    EXPECT_TRUE(poleIsAVertex(b));
    EXPECT_EQ(count_edges(b), 3);
    EXPECT_EQ(findings(b), "");
    for (COEDGE* c = faces(b)[0]->loop()->start();;) {
        EXPECT_NE(c->geometry(), nullptr);
        c = c->next();
        if (c == faces(b)[0]->loop()->start())
            break;
    }
    EXPECT_NEAR(area(b), before, 1e-3 * before);
    // The pole is a vertex now: a second pass finds nothing inside an edge.
    const std::string once = testkit::body_text(b);
    Ve_PostProcessUtil(view(b)).splitEdgesAtPole();
    EXPECT_EQ(testkit::body_text(b), once);
}

// Both pieces' fresh pcurves on a sphere whose face lies whole periods
// beyond its principal range join the loop there (across the pole, along
// the pole's line), in every frame.
TEST_F(PostProcess, PiecesSplitAtAPoleKeepTheirLoopJoinedRoundTheSphere)
{
    expectRefitsJoined(&quarterSphereOverThePole, [](BODY* b) { Ve_PostProcessUtil(view(b)).splitEdgesAtPole(); },
                       [](BODY* b) { EXPECT_EQ(count_edges(b), 3); }, 1e-3);
}

// A pole inside a tolerant edge becomes a tolerant vertex.
TEST_F(PostProcess, PoleOnATolerantEdgeBecomesATolerantVertex)
{
    BODY* b = keep(quarterSphereOverThePole());
    for (EDGE* e : edges(b)) {
        TEDGE* made = nullptr;
        ASSERT_TRUE(api_replace_edge_with_tedge(e, made).ok());
    }
    ASSERT_FALSE(poleIsAVertex(b));
    Ve_PostProcessUtil(view(b)).splitEdgesAtPole();
    ASSERT_TRUE(poleIsAVertex(b));
    ENTITY_LIST vs;
    api_get_vertices(b, vs);
    for (int i = 0; i < vs.count(); ++i)
        if (distance(static_cast<VERTEX*>(vs[i])->geometry()->coords(), QELposition(0, 0, 4)) < 1e-9) {
            EXPECT_TRUE(is_TVERTEX(vs[i]));
        }
    EXPECT_EQ(count_edges(b), 3);
    EXPECT_EQ(findings(b), "");
}

// The pole inside an edge, but within twice the resolution of the edge's end:
// the end vertex stands for it, and a split would leave a piece shorter than
// the resolution's double. Nothing changes.
TEST_F(PostProcess, APoleJustShortOfAnEdgeEndIsNotSplitOff)
{
    BODY* b = keep(quarterSphereOverThePole());
    EDGE* meridian = nullptr;
    for (EDGE* e : edges(b))
        if (e->geometry()->equation().eval_position(kPi / 2).z() > 1.0)
            meridian = e;
    ASSERT_NE(meridian, nullptr);
    const double past = 1.5 * QELresabs;
    const QELposition end = meridian->geometry()->equation().eval_position(kPi / 2 + past / 4.0);
    ASSERT_NEAR(distance(end, QELposition(0, 0, 4)), past, 1e-9);
    ASSERT_NE(sg_split_edge_at_vertex(meridian, new VERTEX(new APOINT(end)), nullptr, 0), nullptr);
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil(view(b)).splitEdgesAtPole();
    EXPECT_EQ(testkit::body_text(b), before);
}

TEST_F(PostProcess, PoleSplitFailingAtAnyKernelCallLeavesTheModelRepairedOrAsItWas)
{
    testkit::sweep_kernel_calls(&quarterSphereOverThePole, [&](BODY* b) {
        velmInnerCall([&] { Ve_PostProcessUtil(view(b)).splitEdgesAtPole(); });
    });
}

} // namespace
