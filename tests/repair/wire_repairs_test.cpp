// Wire-body and edge-curve repairs: a faulty wire body exploded into one body
// per edge, wire edges split at their kinks, a self-intersecting edge curve of
// an unstitched sheet rebuilt; clean bodies unchanged; failures injected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/post_process_support.hxx"
#include "repair/crv_approx_util.hxx"
#include "repair/post_process_util.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class WireRepairs : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    long m_live = 0;
};

using post_process_test::view;

// Three straight wire edges; the second vertex moved off its edges' ends
// by the offset.
BODY* faultyWire(double offset = 0.01)
{
    BODY* b = testkit::make_polyline_wire({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    VERTEX* v = static_cast<EDGE*>(edges[0])->end();
    v->geometry()->set_coords(v->geometry()->coords() + QELvector(0, offset, 0));
    return b;
}

// A wire of one edge on a degree-one B-spline with a corner at its middle.
BODY* kinkedWire()
{
    const QELposition pts[3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    const double knots[5] = {0, 0, 1, 2, 2};
    bs3_curve bs = bs3_curve_from_ctrlpts(1, 0, 0, 0, 3, pts, nullptr, QELresabs, 5, knots, bs3_curve_knottol());
    const QELinterval range(0, 2);
    EDGE* e = new EDGE(new VERTEX(new APOINT(pts[0])), new VERTEX(new APOINT(pts[2])), make_curve(intcurve(bs)),
                       FORWARD, EDGE_cvty_unknown, &range);
    BODY* body = nullptr;
    EXPECT_TRUE(api_make_ewire(1, &e, body).ok());
    return body;
}

// A wire of two edges, each on a degree-one B-spline with a corner at its
// middle: the first from the origin to (1, 1, 0), the second on to (2, 2, 0).
BODY* twoKinkedWireEdges()
{
    const QELposition pts[5] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}};
    const double knots[5] = {0, 0, 1, 2, 2};
    const QELinterval range(0, 2);
    VERTEX* ends[3] = {new VERTEX(new APOINT(pts[0])), new VERTEX(new APOINT(pts[2])), new VERTEX(new APOINT(pts[4]))};
    EDGE* edges[2];
    for (int k = 0; k < 2; ++k) {
        bs3_curve bs = bs3_curve_from_ctrlpts(1, 0, 0, 0, 3, pts + 2 * k, nullptr, QELresabs, 5, knots, bs3_curve_knottol());
        edges[k] = new EDGE(ends[k], ends[k + 1], make_curve(intcurve(bs)), FORWARD, EDGE_cvty_unknown, &range);
    }
    BODY* body = nullptr;
    EXPECT_TRUE(api_make_ewire(2, edges, body).ok());
    return body;
}

// The spline sheet with one edge curve replaced by a cubic whose control
// polygon crosses itself, so that the curve loops.
BODY* sheetWithLoopingEdge()
{
    BODY* b = testkit::make_spline_sheet();
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    EDGE* e = static_cast<EDGE*>(edges[0]);
    // The planar looping cubic (0,0) (10,10) (-5,10) (5,0), laid along the edge.
    const QELposition start = e->start_pos(), end = e->end_pos();
    const double scale = distance(start, end) / 5.0;
    const QELvector along = normalise(end - start) * scale;
    const QELvector up = QELvector(0, 0, 1) * scale;
    const QELposition pts[4] = {start, start + 10 * along + 10 * up, start - 5 * along + 10 * up, end};
    const QELinterval range = e->param_range();
    const double knots[8] = {range.start_pt(), range.start_pt(), range.start_pt(), range.start_pt(),
                             range.end_pt(),   range.end_pt(),   range.end_pt(),   range.end_pt()};
    e->set_geometry(make_curve(intcurve(
        bs3_curve_from_ctrlpts(3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, knots, bs3_curve_knottol()))));
    return b;
}

// A flat spline sheet 9 wide placed by the frame, its side along u at v = 0
// replaced by a cubic that loops inside the face, in the sheet's plane,
// with a pcurve fitted to it; the curve runs against the edge when asked.
BODY* flatSheetWithLoopingSide(const QELtransf& frame, bool against)
{
    QELposition pts[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            pts[i * 4 + j] = QELposition(i * 3.0, j * 3.0, 0.0);
    const double knots[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    BODY* b = testkit::make_spline_sheet(
        bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, knots, 8, knots, QELresnor),
        false);
    EDGE* e = nullptr;
    for (EDGE* c : post_process_test::edges(b))
        if (std::abs(c->start_pos().y()) < 1e-9 && std::abs(c->end_pos().y()) < 1e-9)
            e = c;
    const QELposition a = e->start_pos(), z = e->end_pos();
    const QELvector along = (z - a) / 5.0, in(0, 0.5, 0);
    bs3_curve loop = post_process_test::cubicThrough({a, a + 10 * along + 10 * in, a - 5 * along + 10 * in, z});
    const QELinterval r = e->param_range();
    bs3_curve_reparam(r.start_pt(), r.end_pt(), loop);
    intcurve ic(loop);
    if (against) {
        ic.negate();
        e->set_sense(REVERSED);
        e->set_param_range(&r);
    }
    post_process_test::replaceEdgeCurve(e, ic);
    EXPECT_TRUE(api_apply_transf(b, frame).ok());
    EXPECT_TRUE(api_change_body_trans(b).ok());
    return b;
}

} // namespace

TEST_F(WireRepairs, ALoopingEdgeRebuiltOnItsSheetKeepsItsRangeAndEndsInEveryFrame)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (bool against : {false, true}) {
            SCOPED_TRACE(std::string(frame.name) + (against ? ", curve against the edge" : ""));
            BODY* sheet = flatSheetWithLoopingSide(frame.transform, against);
            ASSERT_NE(post_process_test::findings(sheet), "");
            qelx_test::EventRecorder events;
            EXPECT_TRUE(Ve_PostProcessUtil(view(sheet)).fixLeftOverCurveSelfIntTrim());
            EXPECT_EQ(post_process_test::findings(sheet), "");
            // The rebuilt sheet goes through the standard repair once.
            const std::vector<std::string> starts = events.names("StartTask");
            EXPECT_EQ(std::count(starts.begin(), starts.end(), "StandardRepairStart"), 1);
            EXPECT_TRUE(events.tasksNested());
            for (EDGE* e : post_process_test::edges(sheet)) {
                EXPECT_FALSE(Ve_CrvApproxUtil::crvSelfIntersects(const_cast<curve*>(&e->geometry()->equation())));
                // Nothing hidden under a tolerance: the new curve lies on the
                // sheet and ends at its vertices.
                EXPECT_LT(e->get_tolerance(), 1e-4);
                for (const VERTEX* v : {e->start(), e->end()})
                    EXPECT_LT(vertex_deviation(v), QELresabs);
                for (const COEDGE* c : edge_coedges(e))
                    EXPECT_LT(testkit::worst_pcurve_gap(c), 1e-4);
            }
            api_del_entity(sheet);
        }
}

TEST_F(WireRepairs, AFaultyWireBodyBecomesOneSoundBodyPerEdge)
{
    BODY* b = faultyWire();
    ASSERT_NE(testkit::check_findings(b), "");
    qelx_test::EventRecorder events;
    ENTITY_LIST bodies;
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).ExplodeFaultyWireBody(bodies));
    ASSERT_EQ(bodies.count(), 3);
    for (int i = 0; i < bodies.count(); ++i) {
        EXPECT_EQ(testkit::count_edges(bodies[i]), 1);
        EXPECT_EQ(testkit::check_findings(bodies[i]), "");
    }
    EXPECT_FALSE(bodies.contains(b));
    api_del_entity_list(bodies);
    EXPECT_TRUE(events.tasksNested());
}

// The middle edge of the faulty wire turned against its curve, its coedge
// against it: each body made of an edge keeps the way its coedge ran along
// it.
TEST_F(WireRepairs, AnExplodedWireEdgeKeepsTheSenseOfItsCoedge)
{
    BODY* b = faultyWire();
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    EDGE* middle = nullptr;
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (std::fabs(e->mid_pos().x() - 1.5) < 1e-9)
            middle = e;
    }
    ASSERT_NE(middle, nullptr);
    VERTEX* first = middle->start();
    middle->set_start(middle->end());
    middle->set_end(first);
    const QELinterval against = -middle->param_range();
    middle->set_sense(REVERSED);
    middle->set_param_range(&against);
    middle->coedge()->set_sense(REVERSED);
    ASSERT_LT(distance(middle->start_pos(), QELposition(2, 0, 0)), 1e-9);
    ENTITY_LIST bodies;
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).ExplodeFaultyWireBody(bodies));
    ASSERT_EQ(bodies.count(), 3);
    int turned = 0;
    for (int i = 0; i < bodies.count(); ++i) {
        ENTITY_LIST one;
        api_get_edges(bodies[i], one);
        ASSERT_EQ(one.count(), 1);
        const auto* e = static_cast<const EDGE*>(one[0]);
        ASSERT_NE(e->coedge(), nullptr);
        const bool isMiddle = std::fabs(e->mid_pos().x() - 1.5) < 1e-9;
        EXPECT_EQ(e->coedge()->sense(), isMiddle ? REVERSED : FORWARD) << "edge " << i;
        turned += e->coedge()->sense() == REVERSED ? 1 : 0;
        EXPECT_EQ(testkit::check_findings(bodies[i]), "");
    }
    EXPECT_EQ(turned, 1);
    api_del_entity_list(bodies);
}

TEST_F(WireRepairs, SoundBodiesAreNotExploded)
{
    // A sound wire body has no lump: nothing is handed back. A solid hands back itself.
    for (BODY* b : {testkit::make_polyline_wire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}), testkit::make_plane_box(1, 2, 3)}) {
        const std::string before = testkit::body_text(b);
        ENTITY_LIST bodies;
        EXPECT_TRUE(Ve_PostProcessUtil(view(b)).ExplodeFaultyWireBody(bodies));
        EXPECT_EQ(bodies.count(), b->lump() ? 1 : 0);
        EXPECT_EQ(testkit::body_text(b), before);
        api_del_entity(b);
    }
    ENTITY_LIST none;
    EXPECT_FALSE(Ve_PostProcessUtil(nullptr).ExplodeFaultyWireBody(none));
}

// A vertex the failure leaves plain must still cover its edges' ends, not
// twice that: the offsets include one just past the resolution.
TEST_F(WireRepairs, EveryKernelCallFailingLeavesTheWireExplodedOrAsItWas)
{
    for (const double offset : {0.01, 1.5 * QELresabs}) {
        BODY* clean = faultyWire(offset);
        const std::string asBuilt = testkit::body_text(clean);
        api_del_entity(clean);
        long injected = 0;
        for (long n = 1;; ++n) {
            velm_test_reset();
            BODY* b = faultyWire(offset);
            velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            ENTITY_LIST bodies;
            Ve_PostProcessUtil(view(b)).ExplodeFaultyWireBody(bodies);
            const bool fired = !velm_test_injection_pending();
            velm_test_reset();
            if (bodies.count() == 3) {
                for (int i = 0; i < bodies.count(); ++i)
                    EXPECT_EQ(testkit::check_findings(bodies[i]), "") << "offset " << offset << " call " << n;
                api_del_entity_list(bodies);
            } else {
                EXPECT_EQ(bodies.count(), 0) << "offset " << offset << " call " << n;
                EXPECT_EQ(testkit::body_text(b), asBuilt) << "offset " << offset << " call " << n;
                api_del_entity(b);
            }
            EXPECT_EQ(velm_live_object_count(), m_live) << "offset " << offset << " call " << n;
            if (!fired)
                break;
            ++injected;
        }
        EXPECT_GT(injected, 0);
    }
}

TEST_F(WireRepairs, WireEdgesAreSplitAtTheirKinks)
{
    BODY* b = kinkedWire();
    qelx_test::EventRecorder events;
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).SplitWireEdgeAtDisc());
    EXPECT_EQ(testkit::count_edges(b), 2);
    EXPECT_EQ(testkit::check_findings(b), "");
    EXPECT_TRUE(events.tasksNested());
    EXPECT_EQ(events.count("StartTask"), 1); // the duplicate-vertex pass after the split
    api_del_entity(b);

    // A smooth polyline (kinks only between its edges) has nothing to split:
    // no duplicate-vertex pass runs, so its twin vertices at a joint stay.
    BODY* polyline = testkit::make_polyline_wire({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}});
    ENTITY_LIST lines;
    api_get_edges(polyline, lines);
    ASSERT_EQ(lines.count(), 2);
    EDGE* second = static_cast<EDGE*>(lines[1]);
    VERTEX* joint = second->start();
    auto* twin = new VERTEX(new APOINT(joint->geometry()->coords()));
    second->set_start(twin);
    twin->set_edge(second);
    if (joint->edge() == second)
        joint->set_edge(static_cast<EDGE*>(lines[0]));
    events.clear();
    Ve_PostProcessUtil(view(polyline)).SplitWireEdgeAtDisc();
    EXPECT_EQ(testkit::count_edges(polyline), 2);
    EXPECT_EQ(testkit::count_vertices(polyline), 4);
    EXPECT_EQ(events.count("StartTask"), 0);
    api_del_entity(polyline);

    BODY* box = testkit::make_plane_box(1, 2, 3);
    EXPECT_FALSE(Ve_PostProcessUtil(view(box)).SplitWireEdgeAtDisc());
    api_del_entity(box);
    EXPECT_GT(testkit::sweep_kernel_calls(kinkedWire, [](BODY* w) { Ve_PostProcessUtil(view(w)).SplitWireEdgeAtDisc(); }),
              0);
}

// The answer is the last wire edge's split: a failed split of the last edge
// gives false though the first edge split, and a failed split of the first
// does not count against a last one that split. Either way the edge that
// split is two, the other stays whole, and the wire stays sound.
TEST_F(WireRepairs, SplittingWireEdgesAtKinksAnswersWhetherTheLastSplitSucceeded)
{
    for (const long failing : {1L, 2L}) {
        SCOPED_TRACE(failing == 1 ? "the first split fails" : "the last split fails");
        BODY* b = twoKinkedWireEdges();
        ASSERT_EQ(testkit::count_edges(b), 2);
        velm_test_fail_call("api_split_edge_at_disc", failing, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        const bool answer = Ve_PostProcessUtil(view(b)).SplitWireEdgeAtDisc();
        const bool fired = !velm_test_injection_pending();
        velm_test_reset();
        set_global_error_info(nullptr);
        EXPECT_TRUE(fired);
        EXPECT_EQ(answer, failing == 1);
        EXPECT_EQ(testkit::count_edges(b), 3);
        EXPECT_EQ(testkit::check_findings(b), "");
        api_del_entity(b);
    }
}

// The loop rises far off the sheet: no rebuilt curve fits on the face, and
// a huge tolerant edge would only hide that. The edge is left as it was.
TEST_F(WireRepairs, ALoopingEdgeCurveFarOffItsSheetIsLeftAsItWas)
{
    BODY* sheet = sheetWithLoopingEdge();
    ENTITY_LIST edges;
    api_get_edges(sheet, edges);
    EDGE* e = static_cast<EDGE*>(edges[0]);
    EXPECT_TRUE(Ve_CrvApproxUtil::crvSelfIntersects(const_cast<curve*>(&e->geometry()->equation())));
    const std::string looping = testkit::body_text(sheet);
    qelx_test::EventRecorder events;
    EXPECT_TRUE(Ve_PostProcessUtil(view(sheet)).fixLeftOverCurveSelfIntTrim());
    EXPECT_EQ(testkit::body_text(sheet), looping);
    EXPECT_EQ(testkit::model_problems(sheet), "");
    // Nothing changed, so no standard repair ran.
    const std::vector<std::string> starts = events.names("StartTask");
    EXPECT_EQ(std::count(starts.begin(), starts.end(), "StandardRepairStart"), 0);
    api_del_entity(sheet);

    // A stitched body (edges with two coedges) is refused and left alone.
    BODY* box = testkit::make_plane_box(1, 2, 3);
    const std::string before = testkit::body_text(box);
    EXPECT_FALSE(Ve_PostProcessUtil(view(box)).fixLeftOverCurveSelfIntTrim());
    EXPECT_EQ(testkit::body_text(box), before);
    api_del_entity(box);
}
