// The edge processor: edge groups at a vertex, vertex replacement and edge
// removal, on models carrying one small edge, and with every kernel call of a
// removal failing in turn.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/edge_processor.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class EdgeProcessor : public ::testing::Test {
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
    BODY* keep(BODY* b)
    {
        m_body = b;
        return b;
    }

    BODY* m_body = nullptr;
    long m_live = 0;
};

// The edge between the two points, or null.
EDGE* edgeBetween(const ENTITY* e, const QELposition& a, const QELposition& b)
{
    ENTITY_LIST edges;
    api_get_edges(e, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* edge = static_cast<EDGE*>(edges[i]);
        const QELposition s = edge->start()->geometry()->coords(), t = edge->end()->geometry()->coords();
        if ((distance(s, a) < 1e-9 && distance(t, b) < 1e-9) || (distance(s, b) < 1e-9 && distance(t, a) < 1e-9))
            return edge;
    }
    return nullptr;
}

Ve_EdgeTag* tag(EDGE* e)
{
    return ve_view<Ve_EdgeTag>(e);
}

// A free edge on an intcurve whose control points lie within `spread` of one point.
EDGE* intcurveEdge(double spread)
{
    const QELposition pts[4] = {{1, 1, 1}, {1 + spread, 1, 1}, {1, 1 + spread, 1}, {1, 1, 1 + spread}};
    const double knots[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    bs3_curve bs = bs3_curve_from_ctrlpts(3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, knots, bs3_curve_knottol());
    const QELinterval range(0.0, 1.0);
    auto* v0 = new VERTEX(new APOINT(pts[0]));
    auto* v1 = new VERTEX(new APOINT(pts[3]));
    return new EDGE(v0, v1, make_curve(intcurve(bs)), FORWARD, EDGE_cvty_unknown, &range);
}

} // namespace

TEST_F(EdgeProcessor, RemovingTheSmallEdgeKeepsTheStartVertexAreaAndVolume)
{
    BODY* b = keep(testkit::make_box_with_small_edge(5e-7));
    const double area = testkit::body_area(b), volume = testkit::polyhedron_volume(b);
    EDGE* small = edgeBetween(b, {0, 0, 3}, {5e-7, 0, 3});
    ASSERT_NE(small, nullptr);
    VERTEX* start = small->start();
    Ve_VertexTag* survivor = nullptr;
    ASSERT_TRUE(velmInnerCall([&] { survivor = Ve_EdgeProcessor::removeEdge(tag(small), false); }).ok());
    EXPECT_EQ(survivor, ve_view<Ve_VertexTag>(start));
    EXPECT_EQ(testkit::count_edges(b), 12);
    EXPECT_EQ(testkit::count_vertices(b), 8);
    EXPECT_EQ(testkit::check_findings(b), "");
    EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
    EXPECT_NEAR(testkit::polyhedron_volume(b), volume, 1e-6 * volume);
}

TEST_F(EdgeProcessor, TheVertexOfLargerToleranceSurvivesAndEdgesAroundItBecomeTolerant)
{
    BODY* b = keep(testkit::make_box_with_small_edge(5e-6));
    EDGE* small = edgeBetween(b, {0, 0, 3}, {5e-6, 0, 3});
    ASSERT_NE(small, nullptr);
    VERTEX* end = small->end();
    TVERTEX* tv = nullptr;
    ASSERT_TRUE(api_replace_vertex_with_tvertex(end, tv).ok());
    tv->set_tolerance(1e-5);
    Ve_VertexTag* survivor = nullptr;
    ASSERT_TRUE(velmInnerCall([&] { survivor = Ve_EdgeProcessor::removeEdge(tag(small), true); }).ok());
    EXPECT_EQ(survivor, ve_view<Ve_VertexTag>(static_cast<VERTEX*>(tv)));
    EXPECT_EQ(tv->get_update(), 1);
    EXPECT_EQ(testkit::count_vertices(b), 8);
    // The other vertex's edges now end 5e-6 from the survivor: covered by tolerances.
    EXPECT_EQ(testkit::check_findings(b), "");
}

TEST_F(EdgeProcessor, RemovingTheOnlyEdgeOfALoopRemovesTheLoopAndAnEmptiedFace)
{
    // The band keeps its face (one loop of two goes); the cap loses its only loop and face.
    BODY* band = keep(testkit::make_cylinder_band());
    ENTITY_LIST edges;
    api_get_edges(band, edges);
    EDGE* circle = static_cast<EDGE*>(edges[0]);
    ASSERT_EQ(circle->start(), circle->end());
    Ve_VertexTag* survivor = ve_view<Ve_VertexTag>(circle->start());
    ASSERT_TRUE(velmInnerCall([&] { survivor = Ve_EdgeProcessor::removeEdge(tag(circle), false); }).ok());
    EXPECT_EQ(survivor, nullptr); // nothing is left at the circle's vertex
    EXPECT_EQ(testkit::count_faces(band), 1);
    EXPECT_EQ(testkit::count_loops(band), 1);
    EXPECT_EQ(testkit::count_edges(band), 1);
    EXPECT_EQ(testkit::model_problems(band), "");

    BODY* cap = testkit::make_cone_cap();
    edges.clear();
    api_get_edges(cap, edges);
    ASSERT_TRUE(velmInnerCall([&] { Ve_EdgeProcessor::removeEdge(tag(static_cast<EDGE*>(edges[0])), false); }).ok());
    EXPECT_EQ(testkit::count_faces(cap), 0);
    EXPECT_EQ(testkit::count_edges(cap), 0);
    api_del_entity(cap);
}

TEST_F(EdgeProcessor, EdgeGroupsAtAVertex)
{
    BODY* b = keep(testkit::make_plane_box(10, 20, 30));
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    EDGE* e = static_cast<EDGE*>(edges[0]);
    VERTEX* v = e->start();
    EDGE* across = nullptr; // an edge of e's face that does not touch v
    EDGE* at = nullptr;     // another edge at v
    for (int i = 1; i < edges.count(); ++i) {
        auto* other = static_cast<EDGE*>(edges[i]);
        const bool touches = other->start() == v || other->end() == v;
        if (touches && !at)
            at = other;
        if (!touches && !across)
            across = other;
    }
    ASSERT_TRUE(at && across);
    EXPECT_TRUE(Ve_EdgeProcessor::sameEdgeGroup(v, e, e));
    EXPECT_TRUE(Ve_EdgeProcessor::sameEdgeGroup(v, e, at));
    EXPECT_FALSE(Ve_EdgeProcessor::sameEdgeGroup(v, e, across));
    EXPECT_FALSE(Ve_EdgeProcessor::sameEdgeGroup(nullptr, e, at));
    EXPECT_FALSE(Ve_EdgeProcessor::removeEdgeGroup(v, nullptr));
    EXPECT_EQ(Ve_EdgeProcessor::removeEdge(nullptr, true), nullptr);
}

TEST_F(EdgeProcessor, DegenerateCurves)
{
    EDGE* together = intcurveEdge(1e-7);
    EDGE* apart = intcurveEdge(1e-3);
    // Control points within FuzzPos: degenerate whatever the tolerance.
    EXPECT_TRUE(Ve_EdgeProcessor::isEdgeCurveDegenerate(tag(together), 0.0));
    EXPECT_FALSE(Ve_EdgeProcessor::isEdgeCurveDegenerate(tag(apart), 1e-6));
    EXPECT_TRUE(Ve_EdgeProcessor::isEdgeCurveDegenerate(tag(apart), 0.01));
    EXPECT_FALSE(Ve_EdgeProcessor::isEdgeCurveDegenerate(nullptr, 1.0));
    for (EDGE* e : {together, apart}) {
        VERTEX* s = e->start();
        VERTEX* t = e->end();
        e->lose();
        s->lose();
        t->lose();
    }
}

TEST_F(EdgeProcessor, AFailedRemovalLeavesTheBodyAsItWas)
{
    const long runs = testkit::sweep_kernel_calls([] { return testkit::make_box_with_small_edge(5e-7); },
                                                  [](BODY* b) {
                                                      EDGE* small = edgeBetween(b, {0, 0, 3}, {5e-7, 0, 3});
                                                      velmInnerCall([&] {
                                                          Ve_EdgeProcessor::removeEdge(tag(small), true);
                                                      });
                                                  });
    EXPECT_GT(runs, 0);
}

TEST_F(EdgeProcessor, AnEdgeWithoutCoedgesGoesWithItsVertices)
{
    // No coedge to unlink and no other edge to refer to: nothing is left behind.
    EDGE* free = intcurveEdge(1e-3);
    Ve_VertexTag* survivor = ve_view<Ve_VertexTag>(free->start());
    EXPECT_TRUE(velmInnerCall([&] { survivor = Ve_EdgeProcessor::removeEdge(tag(free), false); }).ok());
    EXPECT_EQ(survivor, nullptr);
}

// Whether an edge's curve is degenerate follows its length against the
// tolerance for lines, circles and arcs of every size about the tolerance, in
// every frame: a whole small circle, whose ends meet, among them.
TEST_F(EdgeProcessor, DegenerateCurvesFollowTheirLengthAboutTheTolerance)
{
    int edgesSeen = 0, degenerate = 0;
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (int model = 0; model < 4; ++model) {
            SCOPED_TRACE(std::string(frame.name) + " model " + std::to_string(model));
            BODY* b = model == 0   ? testkit::make_box_with_small_edge(5e-7)
                      : model == 1 ? testkit::make_box_with_small_edge(3e-6)
                      : model == 2 ? testkit::make_cylinder(2e-7, 1e-6)
                                   : testkit::make_hemisphere(3e-7);
            api_apply_transf(b, frame.transform);
            api_change_body_trans(b, nullptr);
            keep(b);
            ENTITY_LIST edges;
            api_get_edges(b, edges);
            for (int i = 0; i < edges.count(); ++i) {
                auto* e = static_cast<EDGE*>(edges[i]);
                const double length = e->length();
                for (const double tol : {0.0, 5e-7, 1e-6, 2e-6, 4e-6, 1e-3}) {
                    const bool expected = Gk_Func::equal(length, 0.0, tol);
                    EXPECT_EQ(Ve_EdgeProcessor::isEdgeCurveDegenerate(tag(e), tol), expected)
                        << "edge " << i << " of length " << length << " against " << tol;
                    degenerate += expected ? 1 : 0;
                }
                ++edgesSeen;
            }
            api_del_entity(b);
            m_body = nullptr;
        }
    EXPECT_GT(edgesSeen, 0);
    EXPECT_GT(degenerate, 0);
}

// A wire may name any of its coedges: removing a small edge whose coedge it
// names keeps the wire on a coedge still in its chain, whether that coedge
// starts the chain, ends it or sits between.
TEST_F(EdgeProcessor, RemovingTheCoedgeAWireNamesLeavesTheWireOnTheRestOfItsChain)
{
    const QELvector steps[3] = {{1, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    for (int named = 0; named < 3; ++named) {
        SCOPED_TRACE("the wire names coedge " + std::to_string(named));
        std::vector<QELposition> points{{0, 0, 0}};
        for (int k = 0; k < 3; ++k)
            points.push_back(points.back() + (k == named ? 5e-7 : 1.0) * steps[k]);
        BODY* b = keep(testkit::make_polyline_wire(points));
        WIRE* wire = b->wire();
        ASSERT_NE(wire, nullptr);
        COEDGE* c = wire->coedge();
        while (c->previous())
            c = c->previous();
        for (int k = 0; k < named; ++k)
            c = c->next();
        wire->set_coedge(c);
        ASSERT_TRUE(velmInnerCall([&] { Ve_EdgeProcessor::removeEdge(tag(c->edge()), false); }).ok());
        ASSERT_NE(wire->coedge(), nullptr);
        EXPECT_FALSE(wire->coedge()->is_lost());
        EXPECT_EQ(testkit::count_edges(b), 2);
        EXPECT_EQ(testkit::model_problems(b), "");
        api_del_entity(b);
        m_body = nullptr;
    }
}
