// Curve checks and grid rebuilds, pcurve fixes, and edge and vertex tolerancing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/crv_approx_util.hxx"
#include "repair/fix_pcurve.hxx"
#include "post_process_support.hxx"
#include "support/geometry_builders.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

// Kernel and framework reset around each test; nothing the test made may be
// left alive at its end.
class EdgeRepair : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        if (m_body)
            api_del_entity(m_body);
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    BODY* box()
    {
        m_body = testkit::make_plane_box(10.0, 20.0, 30.0);
        return m_body;
    }
    // The box's first edge, shared by two faces.
    EDGE* boxEdge()
    {
        ENTITY_LIST edges;
        api_get_edges(box(), edges);
        return static_cast<EDGE*>(edges[0]);
    }
    // An edge of a cylinder placed by the frame: its seam (both coedges on the
    // wall) or its bottom circle (the wall's and the floor's, a plane).
    EDGE* cylinderEdge(const testkit::KernelFrame& frame, bool seam)
    {
        if (m_body)
            api_del_entity(m_body);
        m_body = testkit::make_cylinder(5.0, 8.0);
        ENTITY_LIST edges;
        api_get_edges(m_body, edges);
        EDGE* picked = nullptr;
        for (int i = 0; i < edges.count() && !picked; ++i) {
            auto* e = static_cast<EDGE*>(edges[i]);
            if (seam ? e->geometry()->type() == 1 : e->geometry()->type() == 2 && std::abs(e->start_pos().z()) < 1e-9)
                picked = e;
        }
        EXPECT_TRUE(api_apply_transf(m_body, frame.transform).ok());
        EXPECT_TRUE(api_change_body_trans(m_body).ok());
        return picked;
    }

    BODY* m_body = nullptr;
    long m_live = 0;
};

bs3_curve cubic(const std::vector<QELposition>& pts)
{
    std::vector<double> knots{0, 0, 0, 0};
    for (std::size_t i = 1; i + 3 < pts.size(); ++i)
        knots.push_back(double(i));
    const double last = double(pts.size() - 3);
    knots.insert(knots.end(), {last, last, last, last});
    return bs3_curve_from_ctrlpts(3, 0, 0, 0, int(pts.size()), pts.data(), nullptr, QELresabs, int(knots.size()),
                                  knots.data(), bs3_curve_knottol());
}

// A planar cubic whose control polygon crosses itself, so the curve loops.
bs3_curve loopingCubic()
{
    return cubic({{0, 0, 0}, {10, 10, 0}, {-5, 10, 0}, {5, 0, 0}});
}

} // namespace

TEST_F(EdgeRepair, ChecksTellALoopingCurveFromAPlainOne)
{
    intcurve looping(loopingCubic());
    intcurve plain(cubic({{0, 0, 0}, {1, 2, 0}, {3, 3, 1}, {4, 1, 2}, {6, 0, 1}}));
    EXPECT_TRUE(Ve_CrvApproxUtil::crvSelfIntersects(&looping));
    EXPECT_FALSE(Ve_CrvApproxUtil::crvSelfIntersects(&plain));
    EXPECT_FALSE(Ve_CrvApproxUtil::isCrvIrregular(&plain));
}

TEST_F(EdgeRepair, GridRebuildDropsTheLoopAndKeepsTheEnds)
{
    for (bool withCurve : {true, false}) {
        SCOPED_TRACE(withCurve);
        bs3_curve spline = loopingCubic();
        bs3_curve original = bs3_curve_copy(spline);
        bs3_curve given = spline;
        curve* crv = withCurve ? static_cast<curve*>(new intcurve(spline)) : nullptr;
        Ve_CrvApproxUtil util;
        ASSERT_TRUE(util.makeUsingGrid(spline, crv, 20));
        const QELinterval r0 = bs3_curve_range(original), r1 = bs3_curve_range(spline);
        EXPECT_LT(distance(bs3_curve_position(r0.start_pt(), original), bs3_curve_position(r1.start_pt(), spline)),
                  1e-9);
        EXPECT_LT(distance(bs3_curve_position(r0.end_pt(), original), bs3_curve_position(r1.end_pt(), spline)), 1e-9);
        cc_intersection* crossings = bs3_curve_self_int(spline);
        EXPECT_EQ(crossings, nullptr);
        delete_cc_intersections(crossings);
        // The new curve leaves and arrives the way the old one did.
        for (auto [was, now] : {std::pair{bs3_curve_start_tangent(original), bs3_curve_start_tangent(spline)},
                                std::pair{bs3_curve_end_tangent(original), bs3_curve_end_tangent(spline)}})
            EXPECT_GT((was % now) / (was.len() * now.len()), 0.999);
        // The slot keeps its state: a curve is replaced by one owning the new
        // B-spline, an empty slot leaves the B-spline to the caller.
        if (withCurve) {
            ASSERT_NE(crv, nullptr);
            EXPECT_EQ(static_cast<intcurve*>(crv)->cur(), spline);
            delete crv;
        } else {
            EXPECT_EQ(crv, nullptr);
            bs3_curve_delete(spline);
            bs3_curve_delete(given);
        }
        bs3_curve_delete(original);
    }
}

// A grid too coarse for a curve that winds round: the rebuild through six
// steps of a spiral of two and a half turns crosses itself although the
// spiral does not, and is refused with the B-spline left as it was; twenty
// steps follow the spiral and are taken.
TEST_F(EdgeRepair, GridRebuildThatLoopsIsRefused)
{
    std::vector<QELposition> pts;
    const int n = 80;
    const double turns = 2.5;
    for (int i = 0; i <= n; ++i) {
        const double a = 2.0 * std::numbers::pi * turns * i / n, r = 1.0 + 0.5 * a;
        pts.emplace_back(r * std::cos(a), r * std::sin(a), 0.0);
    }
    bs3_curve spiral = bs3_curve_interp(int(pts.size()), pts.data(), QELvector(0, 1, 0), QELvector(0, 1, 0), QELresfit);
    ASSERT_NE(spiral, nullptr);
    bs3_curve slot = spiral;
    curve* none = nullptr;
    Ve_CrvApproxUtil util;
    EXPECT_FALSE(util.makeUsingGrid(slot, none, 6));
    EXPECT_EQ(slot, spiral);
    ASSERT_TRUE(util.makeUsingGrid(slot, none, 20));
    EXPECT_EQ(none, nullptr);
    intcurve rebuilt(slot); // takes the rebuilt B-spline
    EXPECT_FALSE(Ve_CrvApproxUtil::crvSelfIntersects(&rebuilt));
    bs3_curve_delete(spiral);
}

// A coedge on a plane needs no pcurve and gets none; one on any other
// surface gets one that follows the edge, and a drifted one is run over the
// coedge's range again, in every frame.
TEST_F(EdgeRepair, AddedAndRefittedPCurvesFollowTheEdgeOnBothCoedges)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (bool seam : {true, false}) {
            SCOPED_TRACE(std::string(frame.name) + (seam ? " seam" : " circle"));
            EDGE* edge = cylinderEdge(frame, seam);
            ASSERT_NE(edge, nullptr);
            for (COEDGE* c : edge_coedges(edge)) {
                SCOPED_TRACE(c->sense());
                const bool onPlane = c->loop()->face()->geometry()->equation().type() == 1;
                c->set_geometry(nullptr);
                Ve_FixPCurve::addPCurve(c);
                if (onPlane) {
                    EXPECT_EQ(c->geometry(), nullptr);
                    Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
                    EXPECT_EQ(c->geometry(), nullptr);
                    continue;
                }
                ASSERT_NE(c->geometry(), nullptr);
                EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
                bs2_curve drifted = bs2_curve_copy(c->geometry()->def().cur());
                const QELinterval was = bs2_curve_range(drifted);
                bs2_curve_reparam(was.start_pt() + 5.0, was.end_pt() + 9.0, drifted);
                c->geometry()->set_def(pcurve(drifted, 0.0, c->geometry()->def().surface()));
                Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
                EXPECT_TRUE(bs2_curve_range(c->geometry()->def().cur()) == c->param_range());
                EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
            }
        }
}

// A pcurve that runs on past its edge on the edge's own parameter (as a
// file's may, to its surface's edge) is cut to the edge, not squeezed onto it.
TEST_F(EdgeRepair, PCurveRunningPastItsEdgeIsCutToItInEveryFrame)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        m_body = testkit::make_spline_sheet_split(0.6);
        ASSERT_TRUE(api_apply_transf(m_body, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(m_body).ok());
        COEDGE* c = m_body->lump()->shell()->face()->loop()->start();
        ASSERT_TRUE(bs2_curve_range(c->geometry()->def().cur()) == QELinterval(0.0, 1.0));
        Ve_FixPCurve::FixPCurveOnParametricSurface(c->edge());
        EXPECT_TRUE(c->geometry()->def().param_range() == c->param_range());
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

// On a periodic curve the pcurve may run on past its edge a period away
// from the edge's range (a file's circle edge taken into the kernel's
// principal range, its pcurve left in the file's): it is moved back by whole
// periods and cut, in every frame.
TEST_F(EdgeRepair, PCurveRunningPastItsEdgeAPeriodOnIsMovedBackAndCutInEveryFrame)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        m_body = testkit::make_cylinder(5.0, 8.0);
        ASSERT_TRUE(api_apply_transf(m_body, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(m_body).ok());
        // The wall's first coedge: the bottom circle over [-pi, pi] with a
        // straight pcurve, given one running on over [pi, 4 pi] instead.
        COEDGE* c = m_body->lump()->shell()->face()->loop()->start();
        const double pi = std::numbers::pi;
        ASSERT_TRUE(c->param_range() == QELinterval(-pi, pi));
        const pcurve& was = c->geometry()->def();
        const QELpar_pos a = was.eval_position(-pi), b = was.eval_position(pi);
        const QELpar_pos far(a.u + 1.5 * (b.u - a.u), a.v + 1.5 * (b.v - a.v));
        c->set_geometry(new PCURVE(pcurve(testkit::linear_bs2(a, far, QELinterval(pi, 4.0 * pi)), 0.0, was.surface())));
        Ve_FixPCurve::FixPCurveOnParametricSurface(c);
        EXPECT_TRUE(c->geometry()->def().param_range() == c->param_range());
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

TEST_F(EdgeRepair, EdgeOffItsFacesBecomesTolerantWithItsDeviation)
{
    // The curve moved 2 QELresabs off both faces along their bisector.
    for (bool useNew : {true, false}) {
        SCOPED_TRACE(useNew);
        EDGE* edge = boxEdge();
        const straight& line = static_cast<const straight&>(edge->geometry()->equation());
        QELvector off(0.0, 0.0, 0.0);
        for (const COEDGE* c : edge_coedges(edge))
            off += c->loop()->face()->geometry()->equation().eval_normal(QELpar_pos(0.0, 0.0));
        off = (2.0 * QELresabs / off.len()) * off;
        edge->set_geometry(make_curve(straight(line.root_point + off, line.direction, line.param_scale)));
        VERTEX* start = edge->start();
        qelx_test::EventRecorder events;
        EDGE* replaced = nullptr;
        EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew));
        ASSERT_NE(replaced, nullptr);
        ASSERT_TRUE(is_TEDGE(replaced));
        EXPECT_NEAR(replaced->get_tolerance(), 2.0 * QELresabs, 1e-9);
        EXPECT_TRUE(is_TVERTEX(replaced->start()));
        // One event per replacement, old entity to new, edge first for _Old's
        // own vertex steps aside.
        EXPECT_EQ(events.targetsOf(reinterpret_cast<std::uintptr_t>(edge)),
                  std::vector<std::uint64_t>{reinterpret_cast<std::uintptr_t>(replaced)});
        EXPECT_EQ(events.targetsOf(reinterpret_cast<std::uintptr_t>(start)),
                  std::vector<std::uint64_t>{reinterpret_cast<std::uintptr_t>(replaced->start())});
        std::string report;
        EXPECT_TRUE(velm_test_check_model(m_body, &report)) << report;
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

TEST_F(EdgeRepair, EdgeOnItsFacesStaysAndOnlyTheNewFormSaysSo)
{
    EDGE* edge = boxEdge();
    qelx_test::EventRecorder events;
    EDGE* replaced = nullptr;
    EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_New(&replaced));
    EXPECT_FALSE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_Old(&replaced));
    EXPECT_EQ(replaced, nullptr);
    EXPECT_FALSE(is_TEDGE(edge));
    EXPECT_EQ(events.count("EndTranslate"), 0);
}

TEST_F(EdgeRepair, VertexOffAFaceBecomesTolerantOnce)
{
    for (bool useNew : {true, false}) {
        SCOPED_TRACE(useNew);
        VERTEX* v = boxEdge()->start();
        const QELposition p = v->geometry()->coords();
        v->geometry()->set_coords(QELposition(p.x() - 2.0 * QELresabs, p.y(), p.z()));
        qelx_test::EventRecorder events;
        // The kernel's own check makes the new form's replacement, which then
        // answers false: nothing was left for it to do.
        EXPECT_EQ(reinterpret_cast<Ve_VertexTag*>(v)->setTolerance(useNew), !useNew);
        ASSERT_EQ(events.count("EndTranslate"), 1);
        const std::vector<std::uint64_t> made = events.targetsOf(reinterpret_cast<std::uintptr_t>(v));
        ASSERT_EQ(made.size(), 1u);
        auto* tv = reinterpret_cast<VERTEX*>(made[0]);
        EXPECT_TRUE(is_TVERTEX(tv));
        EXPECT_GE(tv->get_tolerance(), 2.0 * QELresabs - 1e-12);
        // A tolerant vertex answers true without a kernel call or an event.
        events.clear();
        EXPECT_TRUE(reinterpret_cast<Ve_VertexTag*>(tv)->setTolerance(useNew));
        EXPECT_EQ(events.count("EndTranslate"), 0);
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

TEST_F(EdgeRepair, EdgeWithoutCurveBetweenTwoPlanesGetsTheirLineAndNoPcurves)
{
    EDGE* edge = boxEdge();
    const QELposition a = edge->start_pos(), b = edge->end_pos();
    edge->set_geometry(nullptr);
    for (COEDGE* c : edge_coedges(edge))
        c->set_geometry(nullptr);
    EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_New(nullptr));
    ASSERT_NE(edge->geometry(), nullptr);
    EXPECT_FALSE(is_TEDGE(edge));
    EXPECT_LT(distance(edge->start_pos(), a), QELresabs);
    EXPECT_LT(distance(edge->end_pos(), b), QELresabs);
    // Planes need none.
    for (const COEDGE* c : edge_coedges(edge))
        EXPECT_EQ(c->geometry(), nullptr);
}

using post_process_test::coedges;

// When the kernel cannot fit a pcurve on a spline face, the edge curve's
// B-spline is fitted on the spline's own B-spline surface, running the
// coedge's way; on any other surface, or when that fit fails too, the coedge
// is left without one.
TEST_F(EdgeRepair, KernelFitFailingOnASplineFaceFallsBackToTheSplinesOwnFit)
{
    m_body = testkit::make_spline_sheet();
    int against = 0;
    for (COEDGE* c : coedges(m_body)) {
        SCOPED_TRACE(c->sense() == c->edge()->sense() ? "with its edge" : "against its edge");
        against += c->sense() != c->edge()->sense();
        c->set_geometry(nullptr);
        velm_test_fail_next("sg_add_pcurve_to_coedge", VELM_NO_CONVERGENCE);
        Ve_FixPCurve::addPCurve(c);
        EXPECT_FALSE(velm_test_injection_pending());
        ASSERT_NE(c->geometry(), nullptr);
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
    }
    EXPECT_GT(against, 0);

    // An edge curve 5 units off the sheet: no fit, no pcurve, nothing left over.
    COEDGE* c = m_body->lump()->shell()->face()->loop()->start();
    EDGE* e = c->edge();
    const QELposition a = e->start_pos(), b = e->end_pos();
    const QELvector up(0.0, 0.0, 5.0);
    e->set_geometry(make_curve(straight(a + up, QELunit_vector(b - a), 1.0)));
    c->set_geometry(nullptr);
    velm_test_fail_next("sg_add_pcurve_to_coedge", VELM_NO_CONVERGENCE);
    Ve_FixPCurve::addPCurve(c);
    EXPECT_EQ(c->geometry(), nullptr);
    api_del_entity(m_body);

    // A plane face: the kernel's failure stands.
    EDGE* edge = boxEdge();
    COEDGE* onPlane = edge->coedge();
    onPlane->set_geometry(nullptr);
    velm_test_fail_next("sg_add_pcurve_to_coedge", VELM_NO_CONVERGENCE);
    Ve_FixPCurve::addPCurve(onPlane);
    EXPECT_EQ(onPlane->geometry(), nullptr);
}

// The 2-D B-spline of a framework definition: the definition's points,
// weights and period, whatever the definition's own weights are.
TEST_F(EdgeRepair, Bs2CurveOfADefinitionKeepsItsPointsWeightsAndPeriod)
{
    const double r = std::sqrt(0.5);
    const double arc[] = {1, 0, 1, 1, 0, 1}, arcKnots[] = {0, 1}, arcWeights[] = {1.0, r, 1.0};
    const int arcMults[] = {3, 3};
    const double ring[] = {0, 0, 2, 0, 2, 2, 0, 2, 0, 0}, ringKnots[] = {0, 1, 2, 3};
    const int ringMults[] = {3, 1, 1, 3};
    const struct {
        const char* name;
        QELXBSplineDef2D def;
    } cases[] = {
        {"rational arc", QELXBSplineDef2D(2, 3, arc, 2, arcKnots, arcMults, arcWeights, false)},
        {"closed ring", QELXBSplineDef2D(2, 5, ring, 4, ringKnots, ringMults, nullptr, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bs2_curve made = Ve_FixPCurve::createBs2Curve(c.def);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(bs2_curve_closed(made) != 0, c.def.isPeriodic());
        const QELinterval range = bs2_curve_range(made);
        for (int i = 0; i <= 8; ++i) {
            const double t = range.interpolate(i / 8.0);
            QELpar_pos got;
            bs2_curve_eval(t, made, got);
            const QELXPoint2D want = c.def.eval(t);
            EXPECT_LT(std::hypot(got.u - want[0], got.v - want[1]), 1e-12);
        }
        bs2_curve_delete(made);
    }
}

// A pcurve that does not run over its coedge's range is run over it again,
// keeping its direction mark and its offset; a coedge without one gets one.
TEST_F(EdgeRepair, RefittedPCurvesKeepTheirReversalAndOffsetAndMissingOnesAreAdded)
{
    EDGE* edge = cylinderEdge(testkit::kernel_frames()[2], true);
    ASSERT_NE(edge, nullptr);
    for (COEDGE* c : edge_coedges(edge)) {
        SCOPED_TRACE(c->sense());
        c->set_geometry(nullptr);
        Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
        ASSERT_NE(c->geometry(), nullptr);
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
        // The same pcurve marked reversed over a reversed B-spline, stretched.
        const pcurve& was = c->geometry()->def();
        bs2_curve turned = bs2_curve_copy(was.cur());
        bs2_curve_reverse(turned);
        const QELinterval span = bs2_curve_range(turned);
        bs2_curve_reparam(span.start_pt() - 3.0, span.end_pt() + 4.0, turned);
        pcurve marked(turned, 0.0, was.surface());
        marked.negate();
        c->geometry()->set_def(marked);
        Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
        EXPECT_TRUE(c->geometry()->def().param_range() == c->param_range());
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
    }
    // An offset travels with the refitted pcurve.
    COEDGE* c = edge->coedge();
    pcurve shifted(bs2_curve_copy(c->geometry()->def().cur()), 0.0, c->geometry()->def().surface());
    shifted.set_offset(QELpar_vec(0.25, -0.5));
    bs2_curve_reparam(0.5, 7.0, shifted.cur());
    c->geometry()->set_def(shifted);
    Ve_FixPCurve::FixPCurveOnParametricSurface(c);
    EXPECT_EQ(c->geometry()->def().offset().du, 0.25);
    EXPECT_EQ(c->geometry()->def().offset().dv, -0.5);
}

// A curve off its faces by more than the kernel's absolute tolerance but less
// than the fit tolerance is still off them.
TEST_F(EdgeRepair, EdgeOffItsFacesByLessThanTheFitToleranceBecomesTolerant)
{
    for (bool useNew : {true, false}) {
        SCOPED_TRACE(useNew);
        EDGE* edge = boxEdge();
        const straight& line = static_cast<const straight&>(edge->geometry()->equation());
        QELvector off(0.0, 0.0, 0.0);
        for (const COEDGE* c : edge_coedges(edge))
            off += c->loop()->face()->geometry()->equation().eval_normal(QELpar_pos(0.0, 0.0));
        const double gap = std::sqrt(QELresabs * QELresfit);
        off = (gap / off.len()) * off;
        edge->set_geometry(make_curve(straight(line.root_point + off, line.direction, line.param_scale)));
        EDGE* replaced = nullptr;
        EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew));
        ASSERT_NE(replaced, nullptr);
        EXPECT_TRUE(is_TEDGE(replaced));
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

// The edge's box must hold both vertex points; a vertex without a point ends
// that test: the old form then answers false, the new one goes on.
TEST_F(EdgeRepair, EdgeBoxesMustHoldBothVertexPointsAndAMissingPointStopsTheBoxTest)
{
    for (bool useNew : {true, false}) {
        SCOPED_TRACE(useNew);
        EDGE* edge = boxEdge();
        const QELinterval range = edge->param_range();
        // The curve ends short of the end vertex: the box holds the start only.
        const straight& line = static_cast<const straight&>(edge->geometry()->equation());
        const QELinterval shorter(range.start_pt(), range.end_pt() - 0.5);
        edge->set_geometry(make_curve(line));
        edge->set_param_range(&shorter);
        EDGE* replaced = nullptr;
        reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew);
        ASSERT_NE(replaced, nullptr);
        EXPECT_TRUE(is_TEDGE(replaced));
        api_del_entity(m_body);

        edge = boxEdge();
        APOINT* point = edge->end()->geometry();
        point->add();
        edge->end()->set_geometry(nullptr);
        replaced = nullptr;
        const bool answer = reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew);
        EXPECT_EQ(answer, useNew);
        EXPECT_EQ(replaced, nullptr);
        EXPECT_FALSE(is_TEDGE(edge));
        edge->end()->set_geometry(point);
        point->remove();
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

// A curve that meets its vertices but bows off its faces between them: the
// edge alone is replaced, with one event, and keeps its vertices and its
// curve's points, also when that curve was an approximation running against
// its B-spline (made exact first).
TEST_F(EdgeRepair, BowedEdgeIsReplacedAloneAndKeepsItsVerticesAndItsCurve)
{
    for (bool approximated : {false, true})
        for (bool useNew : {true, false}) {
            SCOPED_TRACE(testing::Message() << (approximated ? "approximated, " : "") << (useNew ? "new" : "old"));
            EDGE* edge = boxEdge();
            const QELposition a = edge->start_pos(), b = edge->end_pos();
            QELvector off(0.0, 0.0, 0.0);
            for (const COEDGE* c : edge_coedges(edge))
                off += c->loop()->face()->geometry()->equation().eval_normal(QELpar_pos(0.0, 0.0));
            off = (20.0 * QELresabs / off.len()) * off;
            const QELinterval range = edge->param_range();
            const double t0 = range.start_pt(), t1 = range.end_pt();
            const QELposition bow[4] = {a, a + (b - a) / 3.0 + off, a + 2.0 * (b - a) / 3.0 + off, b};
            if (!approximated) {
                const double knots[8] = {t0, t0, t0, t0, t1, t1, t1, t1};
                edge->set_geometry(make_curve(intcurve(
                    bs3_curve_from_ctrlpts(3, 0, 0, 0, 4, bow, nullptr, QELresabs, 8, knots, bs3_curve_knottol()))));
            } else {
                // The B-spline runs from b to a over [-t1, -t0]; the curve reverses it.
                const QELposition back[4] = {bow[3], bow[2], bow[1], bow[0]};
                const double knots[8] = {-t1, -t1, -t1, -t1, -t0, -t0, -t0, -t0};
                bs3_curve spline =
                    bs3_curve_from_ctrlpts(3, 0, 0, 0, 4, back, nullptr, QELresabs, 8, knots, bs3_curve_knottol());
                edge->set_geometry(make_curve(
                    intcurve(VELM_MAKE(intersection_int_cur, spline, 0.0, nullptr, nullptr, nullptr, nullptr), true)));
            }
            std::vector<QELposition> before;
            for (int k = 0; k <= 4; ++k)
                before.push_back(edge->geometry()->equation().eval_position(range.interpolate(k / 4.0)));
            VERTEX* start = edge->start();
            VERTEX* end = edge->end();
            qelx_test::EventRecorder events;
            EDGE* replaced = nullptr;
            EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew));
            ASSERT_NE(replaced, nullptr);
            EXPECT_TRUE(is_TEDGE(replaced));
            EXPECT_EQ(replaced->start(), start);
            EXPECT_EQ(replaced->end(), end);
            EXPECT_EQ(events.count("EndTranslate"), 1);
            for (int k = 0; k <= 4; ++k)
                EXPECT_LT(distance(replaced->geometry()->equation().eval_position(range.interpolate(k / 4.0)), before[k]),
                          1e-12);
            api_del_entity(m_body);
            m_body = nullptr;
        }
}

// An edge running against its curve has its ends measured against the
// curve's ends in that order: a sound one keeps its vertices.
TEST_F(EdgeRepair, EdgeAgainstItsCurveKeepsItsSoundVertices)
{
    const QELposition from(0.0, 0.0, 0.0), to(4.0, 3.0, 0.0);
    const QELinterval backwards(-5.0, 0.0);
    auto* edge = new EDGE(new VERTEX(new APOINT(to)), new VERTEX(new APOINT(from)),
                          new STRAIGHT(straight(from, QELunit_vector(to - from), 1.0)), REVERSED, EDGE_cvty_unknown,
                          &backwards);
    ASSERT_TRUE(api_make_ewire(1, &edge, m_body).ok());
    qelx_test::EventRecorder events;
    EDGE* replaced = nullptr;
    // A wire edge is never tolerated; its vertices are looked at first.
    EXPECT_FALSE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_Old(&replaced));
    EXPECT_EQ(events.count("EndTranslate"), 0);
    EXPECT_FALSE(is_TVERTEX(edge->start()) || is_TVERTEX(edge->end()));
}

// A vertex on the edge's line but 1e-4 past the edge's end is off the
// curve's end though on the curve: it becomes tolerant, whichever way the edge runs
// along its line; the sound vertex at the other end stays plain.
TEST_F(EdgeRepair, AVertexOnItsLineButPastTheEdgesEndBecomesTolerant)
{
    const QELposition from(0.0, 0.0, 0.0), to(4.0, 3.0, 0.0);
    const straight line(from, QELunit_vector(to - from), 1.0);
    for (const bool against : {false, true}) {
        SCOPED_TRACE(against ? "edge against its line" : "edge along its line");
        const QELinterval range = against ? QELinterval(-5.0, 0.0) : QELinterval(0.0, 5.0);
        // The far end in the edge's direction, 1e-4 past the curve's end there.
        const QELposition past = against ? line.eval_position(-1e-4) : line.eval_position(5.0 + 1e-4);
        const QELposition near = against ? to : from;
        auto* edge = new EDGE(new VERTEX(new APOINT(near)), new VERTEX(new APOINT(past)), new STRAIGHT(line),
                              against ? REVERSED : FORWARD, EDGE_cvty_unknown, &range);
        ASSERT_TRUE(api_make_ewire(1, &edge, m_body).ok());
        EDGE* replaced = nullptr;
        reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_Old(&replaced);
        EXPECT_FALSE(is_TVERTEX(edge->start()));
        ASSERT_TRUE(is_TVERTEX(edge->end()));
        EXPECT_GE(edge->end()->get_tolerance(), 1e-4 - 1e-12);
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

namespace {

// The box edge's line made a polyline that leaves its faces by `gap` in a
// narrow bump at the fraction `at` of its range and runs on the line, at the
// line's own parameters, everywhere else.
void bumpEdge(EDGE* edge, double at, double gap)
{
    const straight line = static_cast<const straight&>(edge->geometry()->equation());
    QELvector off(0.0, 0.0, 0.0);
    for (const COEDGE* c : edge_coedges(edge))
        off += c->loop()->face()->geometry()->equation().eval_normal(QELpar_pos(0.0, 0.0));
    off = (gap / off.len()) * off;
    const QELinterval range = edge->param_range();
    const double t0 = range.start_pt(), t1 = range.end_pt(), width = 0.004 * (t1 - t0);
    const double tb = range.interpolate(at);
    const double ts[5] = {t0, tb - width, tb, tb + width, t1};
    QELposition pts[5];
    for (int i = 0; i < 5; ++i)
        pts[i] = line.eval_position(ts[i]) + (i == 2 ? off : QELvector(0.0, 0.0, 0.0));
    const double knots[7] = {t0, t0, ts[1], ts[2], ts[3], t1, t1};
    edge->set_geometry(make_curve(
        intcurve(bs3_curve_from_ctrlpts(1, 0, 0, 0, 5, pts, nullptr, QELresabs, 7, knots, bs3_curve_knottol()))));
}

} // namespace

// A bump off the faces by more than the absolute tolerance, however narrow
// and wherever it is, makes the edge tolerant: one between the kernel's
// own samples is seen by the connector's, one between the connector's by
// the kernel's.
TEST_F(EdgeRepair, NarrowBumpsOffTheFacesMakeTheEdgeTolerant)
{
    const double gap = std::sqrt(QELresabs * QELresfit);
    for (double at : {1.0 / 3.0, 1.0 / 8.0})
        for (bool useNew : {true, false}) {
            SCOPED_TRACE(testing::Message() << "bump at " << at << (useNew ? ", new" : ", old"));
            EDGE* edge = boxEdge();
            bumpEdge(edge, at, gap);
            EDGE* replaced = nullptr;
            EXPECT_TRUE(reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance(&replaced, useNew));
            ASSERT_NE(replaced, nullptr);
            EXPECT_TRUE(is_TEDGE(replaced));
            api_del_entity(m_body);
            m_body = nullptr;
        }
}

// A corner vertex of a spline face lifted off the surface along its normal, in
// every frame: within QELresabs it stays plain and beyond it becomes
// tolerant, whether the face's pcurves at it point at its foot or elsewhere
// on the surface (then the search has to go beyond where they point).
TEST_F(EdgeRepair, VertexOfASplineFaceIsJudgedByItsDistanceWhereverItsPcurvesPoint)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (const double lift : {0.5, 3.0})
            for (const bool shifted : {false, true}) {
                SCOPED_TRACE(std::string(frame.name) + (lift > 1.0 ? " off" : " on") + (shifted ? " shifted" : ""));
                m_body = testkit::make_spline_sheet();
                api_apply_transf(m_body, frame.transform);
                api_change_body_trans(m_body, nullptr);
                ENTITY_LIST faces;
                api_get_faces(m_body, faces);
                const surface& s = static_cast<FACE*>(faces[0])->geometry()->equation();
                VERTEX* v = nullptr;
                ENTITY_LIST vertices;
                api_get_vertices(m_body, vertices);
                for (int i = 0; i < vertices.count() && !v; ++i)
                    if (distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), s.eval_position(QELpar_pos(0, 0))) <
                        1e-9)
                        v = static_cast<VERTEX*>(vertices[i]);
                ASSERT_NE(v, nullptr);
                v->geometry()->set_coords(v->geometry()->coords() + lift * QELresabs * s.eval_normal(QELpar_pos(0, 0)));
                if (shifted) {
                    ENTITY_LIST coedges;
                    api_get_coedges(m_body, coedges);
                    for (int i = 0; i < coedges.count(); ++i) {
                        auto* c = static_cast<COEDGE*>(coedges[i]);
                        const QELinterval r = c->geometry()->def().param_range();
                        c->geometry()->set_def(testkit::linear_bs2(QELpar_pos(0.5, 0.5), QELpar_pos(0.7, 0.6), r),
                                               0.0, s);
                    }
                }
                EXPECT_EQ(reinterpret_cast<Ve_VertexTag*>(v)->setTolerance(false), lift > 1.0);
                ENTITY_LIST after;
                api_get_vertices(m_body, after);
                int tolerant = 0;
                for (int i = 0; i < after.count(); ++i)
                    tolerant += is_TVERTEX(static_cast<VERTEX*>(after[i])) ? 1 : 0;
                EXPECT_EQ(tolerant, lift > 1.0 ? 1 : 0);
                api_del_entity(m_body);
                m_body = nullptr;
            }
}

// A tolerant vertex is widened to where its coedges end when it must be, and
// never narrowed: one a thousand times wider than its clean box corner needs
// keeps its tolerance, in either form of the vertex repair.
TEST_F(EdgeRepair, ATolerantVertexIsNeverNarrowed)
{
    for (bool useNew : {true, false}) {
        SCOPED_TRACE(useNew);
        EDGE* edge = boxEdge();
        TVERTEX* tolerant = nullptr;
        ASSERT_TRUE(api_replace_vertex_with_tvertex(edge->start(), tolerant).ok());
        tolerant->set_tolerance(1e-3);
        EXPECT_TRUE(reinterpret_cast<Ve_VertexTag*>(tolerant)->setTolerance(useNew));
        EXPECT_GE(tolerant->get_tolerance(), 1e-3);
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

// A vertex made tolerant for being off its faces covers where its coedges'
// pcurves end on their surfaces, not only its edges' curves: one pcurve at
// it runs a little beside its edge. Both forms of the tolerancing.
TEST_F(EdgeRepair, AVertexMadeTolerantCoversWhereItsCoedgesPcurvesEnd)
{
    for (const bool useNew : {true, false}) {
        SCOPED_TRACE(useNew ? "new form" : "old form");
        EDGE* edge = boxEdge();
        VERTEX* v = edge->start();
        const QELposition p = v->geometry()->coords();
        v->geometry()->set_coords(QELposition(p.x() - 2.0 * QELresabs, p.y(), p.z()));
        testkit::shift_pcurve(edge->coedge(), 0.0, 6.0 * QELresabs);
        reinterpret_cast<Ve_VertexTag*>(v)->setTolerance(useNew);
        VERTEX* made = edge->start();
        ASSERT_TRUE(is_TVERTEX(made));
        const QELposition at = made->geometry()->coords();
        double farthest = 0.0;
        ENTITY_LIST around;
        sg_q_edges_around_vertex(made, &around);
        for (int i = 0; i < around.count(); ++i)
            for (COEDGE* c : edge_coedges(static_cast<EDGE*>(around[i]))) {
                if (!c->geometry() || !c->loop() || !c->loop()->face())
                    continue;
                const pcurve& pc = c->geometry()->def();
                const surface& on = c->loop()->face()->geometry()->equation();
                const QELinterval r = pc.param_range();
                if (c->start() == made)
                    farthest = std::max(farthest, (on.eval_position(pc.eval_position(r.start_pt())) - at).len());
                if (c->end() == made)
                    farthest = std::max(farthest, (on.eval_position(pc.eval_position(r.end_pt())) - at).len());
            }
        EXPECT_GT(farthest, 5.0 * QELresabs) << "the pcurve beside its edge ends near the vertex";
        EXPECT_LE(farthest, static_cast<TVERTEX*>(made)->get_tolerance() * (1.0 + 1e-9));
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

// A failed edge check goes up to the caller rather than being read as a
// check that found nothing: the bracket around the tolerancing sees it, and
// the edge stays plain.
TEST_F(EdgeRepair, AFailedEdgeCheckFailsTheEdgesTolerancing)
{
    EDGE* edge = boxEdge();
    velm_test_fail_call("api_check_edge_errors", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    const outcome o = velmCall([&] { reinterpret_cast<Ve_EdgeTag*>(edge)->setTolerance_Old(nullptr); });
    EXPECT_FALSE(velm_test_injection_pending());
    EXPECT_FALSE(o.ok());
    ENTITY_LIST edges;
    api_get_edges(m_body, edges);
    for (int i = 0; i < edges.count(); ++i)
        EXPECT_FALSE(is_TEDGE(edges[i]));
}
