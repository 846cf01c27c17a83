// Curve checks and grid rebuilds, pcurve fixes, and edge and vertex tolerancing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/crv_approx_util.hxx"
#include "repair/fix_pcurve.hxx"
#include "support/geometry_builders.hxx"
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

double worstPcurveGap(const COEDGE* c)
{
    const EDGE* e = c->edge();
    const curve& eq = e->geometry()->equation();
    const pcurve& p = c->geometry()->def();
    const QELinterval r = edge_curve_range(e);
    const double sign = c->sense() == e->sense() ? 1.0 : -1.0;
    double worst = 0.0;
    for (int k = 0; k <= 16; ++k) {
        const double t = r.interpolate(k / 16.0);
        worst = std::max(worst, distance(eq.eval_position(t), p.surface().eval_position(p.eval_position(sign * t))));
    }
    return worst;
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

TEST_F(EdgeRepair, AddedAndRefittedPCurvesFollowTheEdgeOnBothCoedges)
{
    EDGE* edge = boxEdge();
    for (COEDGE* c : edge_coedges(edge)) {
        SCOPED_TRACE(c->sense());
        c->set_geometry(nullptr);
        Ve_FixPCurve::addPCurve(c);
        ASSERT_NE(c->geometry(), nullptr);
        EXPECT_LT(worstPcurveGap(c), QELresfit);
        // A pcurve whose range drifted is run over the coedge's range again.
        bs2_curve drifted = bs2_curve_copy(c->geometry()->def().cur());
        const QELinterval was = bs2_curve_range(drifted);
        bs2_curve_reparam(was.start_pt() + 5.0, was.end_pt() + 9.0, drifted);
        c->geometry()->set_def(pcurve(drifted, 0.0, c->geometry()->def().surface()));
        Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
        EXPECT_TRUE(bs2_curve_range(c->geometry()->def().cur()) == c->param_range());
        EXPECT_LT(worstPcurveGap(c), QELresfit);
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

TEST_F(EdgeRepair, EdgeWithoutCurveBetweenTwoPlanesGetsTheirLineAndPcurves)
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
    for (const COEDGE* c : edge_coedges(edge)) {
        ASSERT_NE(c->geometry(), nullptr);
        EXPECT_LT(worstPcurveGap(c), QELresfit);
    }
}
