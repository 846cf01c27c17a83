// Small-edge and sliver-face removal: each on a model carrying exactly its
// fault, on clean models, and with every kernel call failing in turn.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "repair/post_process_support.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/body_cleaner.hxx"
#include "repair/post_process_util.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

using SmallEdges = post_process_test::PostProcess;

using post_process_test::view;

// Edges of the body shorter than the length.
int shortEdges(const BODY* b, double length)
{
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    int n = 0;
    for (int i = 0; i < edges.count(); ++i)
        n += static_cast<EDGE*>(edges[i])->length() < length;
    return n;
}

// Box whose top front edge is cut twice near its corner: two short edges in a row.
BODY* boxWithTwoShortEdges(double gap)
{
    const double L = 10, W = 5, H = 3;
    return testkit::make_polyhedron({{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0}, {0, 0, H}, {L, 0, H}, {L, W, H},
                                     {0, W, H}, {gap, 0, H}, {2 * gap, 0, H}},
                                    {{0, 3, 2, 1},
                                     {4, 8, 9, 5, 6, 7},
                                     {0, 1, 5, 9, 8, 4},
                                     {3, 7, 6, 2},
                                     {0, 4, 7, 3},
                                     {1, 2, 6, 5}});
}

// The small edge's two vertices made tolerant, each covering the edge.
BODY* boxWithSmallTolerantEdge()
{
    BODY* b = testkit::make_box_with_small_edge(5e-6);
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (e->length() > 1e-3)
            continue;
        for (VERTEX* v : {e->start(), e->end()}) {
            TVERTEX* tv = nullptr;
            api_replace_vertex_with_tvertex(v, tv);
            tv->set_tolerance(1e-5);
        }
        break;
    }
    return b;
}

// The spline sheet whose loop's pcurves all run along v = 0.5: a face whose
// parameter box is empty in v, on a surface neither closed nor periodic.
BODY* sheetWithEmptyParameterRange()
{
    BODY* b = testkit::make_spline_sheet();
    testkit::flatten_loop_pcurves(b->lump()->shell()->face(), false);
    return b;
}

struct SmallEdgeRepair {
    const char* name;
    std::function<BODY*()> build;
    std::function<void(Ve_PostProcessUtil&)> run;
    const char* task; // null: the member fires no task
    int facesAfter, edgesAfter, shortAfter;
};

const std::vector<SmallEdgeRepair>& smallEdgeRepairs()
{
    static const std::vector<SmallEdgeRepair> all = {
        {"small edge by geometry", [] { return testkit::make_box_with_small_edge(5e-7); },
         [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, true); }, "RemoveSmallEdges", 6, 12, 0},
        {"two short edges in a row", [] { return boxWithTwoShortEdges(4e-7); },
         [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, false); }, "RemoveSmallEdges", 6, 12, 0},
        {"sliver face", [] { return testkit::make_box_with_sliver(5e-6); },
         [](Ve_PostProcessUtil& u) { u.removeSliverFaces(1e-5, false); }, "RemoveSliverFaces", 7, 17, 2},
        {"small tolerant edge", boxWithSmallTolerantEdge,
         [](Ve_PostProcessUtil& u) { u.removeSmallTolerantEdges(false); }, nullptr, 6, 12, 0},
    };
    return all;
}

} // namespace

TEST_F(SmallEdges, EachRepairRemovesExactlyItsFaultAndKeepsAreaAndVolume)
{
    for (const SmallEdgeRepair& r : smallEdgeRepairs()) {
        SCOPED_TRACE(r.name);
        BODY* b = keep(r.build());
        ASSERT_EQ(testkit::check_findings(b), "");
        const double area = testkit::body_area(b), volume = testkit::polyhedron_volume(b);
        qelx_test::EventRecorder events;
        Ve_PostProcessUtil util(view(b));
        r.run(util);
        EXPECT_EQ(testkit::count_faces(b), r.facesAfter);
        EXPECT_EQ(testkit::count_edges(b), r.edgesAfter);
        EXPECT_EQ(shortEdges(b, 1e-3), r.shortAfter); // a sliver's short sides stay, for the small-edge pass
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
        EXPECT_NEAR(testkit::polyhedron_volume(b), volume, 1e-6 * volume);
        EXPECT_TRUE(events.tasksNested());
        if (r.task) {
            EXPECT_EQ(events.sequence(),
                      (std::vector<std::string>{std::string("StartTask:") + r.task + "Start",
                                                std::string("EndTask:") + r.task + "End"}));
        }
    }
}

TEST_F(SmallEdges, CleanModelsAreLeftExactlyAsTheyWere)
{
    const std::function<BODY*()> models[] = {[] { return testkit::make_plane_box(10, 20, 30); },
                                             [] { return testkit::make_cylinder(); },
                                             [] { return testkit::make_spline_sheet(); },
                                             [] { return testkit::make_box_with_sliver(0.5); },
                                             [] { return testkit::make_faulty_grid(7, 7, 0, 0, 0.0); }};
    const std::function<void(Ve_PostProcessUtil&)> members[] = {
        [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, true); },
        [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, false); },
        [](Ve_PostProcessUtil& u) { u.removeSliverFaces(1e-5, false); },
        [](Ve_PostProcessUtil& u) { u.removeSliverFaces(1e-5, true); },
        [](Ve_PostProcessUtil& u) { u.removeSmallTolerantEdges(true); },
        [](Ve_PostProcessUtil& u) { u.removeSingleVertexSmallLinearEdge(1e-3); },
        [](Ve_PostProcessUtil& u) { u.removeBadUVFaces(); }};
    for (const auto& make : models)
        for (const auto& member : members) {
            BODY* b = keep(make());
            const std::string before = testkit::body_text(b);
            Ve_PostProcessUtil util(view(b));
            member(util);
            EXPECT_EQ(testkit::body_text(b), before);
        }
}

TEST_F(SmallEdges, EveryKernelCallFailingLeavesTheBodyRepairedOrAsItWas)
{
    for (const SmallEdgeRepair& r : smallEdgeRepairs()) {
        SCOPED_TRACE(r.name);
        const long runs = testkit::sweep_kernel_calls(r.build, [&](BODY* b) {
            Ve_PostProcessUtil util(view(b));
            r.run(util);
        });
        EXPECT_GT(runs, 0);
    }
}

TEST_F(SmallEdges, AFaceWithAnEmptyParameterRangeGoes)
{
    BODY* b = keep(sheetWithEmptyParameterRange());
    ASSERT_EQ(testkit::count_faces(b), 1);
    Ve_PostProcessUtil(view(b)).removeBadUVFaces();
    EXPECT_EQ(testkit::count_faces(b), 0);
    EXPECT_EQ(testkit::model_problems(b), "");
    EXPECT_GT(testkit::sweep_kernel_calls(sheetWithEmptyParameterRange,
                                          [](BODY* body) { Ve_PostProcessUtil(view(body)).removeBadUVFaces(); }),
              0);
}

// A bad face on a surface closed round v (a tube) is split in v with the
// split at a parameter, at the middle of the surface's v range and at its
// high end (the seam), not at the face's own middle; the pieces, bad too,
// go.
TEST_F(SmallEdges, ABadFaceOnAClosedSurfaceIsSplitAtTheSurfacesMiddleAndSeam)
{
    BODY* b = keep(testkit::make_spline_sheet(testkit::make_tube_bs3_surface(false), false));
    FACE* face = b->lump()->shell()->face();
    testkit::flatten_loop_pcurves(face, true);
    velm_test_record_calls(true);
    EXPECT_TRUE(Ve_BodyCleaner(view(b)).removeBadUVFace(face));
    EXPECT_EQ(velm_test_call_count("sg_split_face_at_parameter"), 2);
    velm_test_record_calls(false);
    EXPECT_EQ(testkit::count_faces(b), 0);
    EXPECT_EQ(testkit::model_problems(b), "");
}

// The strip is found and collapsed whichever of its four coedges its loop
// starts at, in every frame (a mirror runs the loop the other way round).
TEST_F(SmallEdges, ASliverIsRemovedWhereverItsLoopStarts)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (int start = 0; start < 4; ++start) {
            SCOPED_TRACE(std::string(frame.name) + ", loop from coedge " + std::to_string(start));
            BODY* b = keep(testkit::make_box_with_sliver(5e-6));
            ASSERT_TRUE(api_apply_transf(b, frame.transform).ok());
            ASSERT_TRUE(api_change_body_trans(b).ok());
            FACE* strip = nullptr;
            for (FACE* f : testkit::faces_of(b))
                if (std::abs(post_process_test::area(f)) < 1e-3)
                    strip = f;
            ASSERT_NE(strip, nullptr);
            LOOP* loop = strip->loop();
            COEDGE* first = loop->start();
            for (int i = 0; i < start; ++i)
                first = first->next();
            loop->set_start(first);
            ASSERT_EQ(testkit::check_findings(b), "");
            const double area = testkit::body_area(b), volume = std::abs(testkit::polyhedron_volume(b));
            Ve_PostProcessUtil(view(b)).removeSliverFaces(1e-5, false);
            EXPECT_EQ(testkit::count_faces(b), 7);
            EXPECT_EQ(testkit::count_edges(b), 17);
            EXPECT_EQ(testkit::check_findings(b), "");
            EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
            EXPECT_NEAR(std::abs(testkit::polyhedron_volume(b)), volume, 1e-6 * volume);
        }
}

TEST_F(SmallEdges, FacesThatAreNoSlivers)
{
    // The sliver box's strip is a sliver; with a curveless short side, a
    // fifth edge, a second loop or a short side of 20 x tolerance it is not.
    BODY* b = keep(testkit::make_box_with_sliver(5e-6));
    Ve_BodyCleaner cleaner(view(b));
    FACE* strip = testkit::faces_of(b)[2];
    EXPECT_TRUE(cleaner.isSliverFace(strip, 1e-5));
    EXPECT_FALSE(cleaner.isSliverFace(strip, 1e-7));
    ENTITY_LIST edges;
    api_get_edges(strip, edges);
    EDGE* shortSide = static_cast<EDGE*>(edges[1]);
    CURVE* kept = shortSide->geometry();
    kept->add();
    shortSide->set_geometry(nullptr);
    EXPECT_FALSE(cleaner.isSliverFace(strip, 1e-5));
    shortSide->set_geometry(kept);
    kept->remove();
    {
        // The strip's last side in a loop of its own: the same four edges,
        // every measure a sliver's, but over two loops.
        BODY* split = keep(testkit::make_box_with_sliver(5e-6));
        FACE* face = testkit::faces_of(split)[2];
        ASSERT_TRUE(Ve_BodyCleaner(view(split)).isSliverFace(face, 1e-5));
        COEDGE* first = face->loop()->start();
        COEDGE* last = first->previous();
        COEDGE* third = last->previous();
        third->set_next(first);
        first->set_previous(third);
        last->set_next(last);
        last->set_previous(last);
        auto* own = new LOOP(last, face->loop()->next());
        own->set_face(face);
        face->loop()->set_next(own);
        EXPECT_FALSE(Ve_BodyCleaner(view(split)).isSliverFace(face, 1e-5));
    }

    BODY* fiveSided = keep(testkit::make_polyhedron(
        {{0, 0, 0}, {5, 0, 0}, {5, 1e-6, 0}, {2.5, 2e-6, 0}, {0, 1e-6, 0}}, {{0, 1, 2, 3, 4}}));
    EXPECT_FALSE(Ve_BodyCleaner(view(fiveSided)).isSliverFace(testkit::faces_of(fiveSided)[0], 1e-5));
    BODY* wide = keep(testkit::make_box_with_sliver(2e-3));
    EXPECT_FALSE(Ve_BodyCleaner(view(wide)).isSliverFace(testkit::faces_of(wide)[2], 1e-4));

    // A strip 5e-5 wide: 0.2 long (4000 times its width) it is a sliver,
    // 0.02 long (400 times) it is not, though both are narrow and small.
    for (const double length : {0.2, 0.02}) {
        SCOPED_TRACE(length);
        BODY* narrow = keep(testkit::make_box_with_sliver(5e-5, 5.0, 10.0, length, 3.0));
        EXPECT_EQ(Ve_BodyCleaner(view(narrow)).isSliverFace(testkit::faces_of(narrow)[2], 1e-4), length > 0.1);
    }
    // Short sides are held to twenty tolerances: a strip 5e-7 wide whose
    // far side overhangs the near one at both ends is a sliver when the
    // overhang (its short sides) is ten tolerances, not when fifty.
    for (const double overhang : {1e-5, 5e-5}) {
        SCOPED_TRACE(overhang);
        const double w = 5e-7;
        BODY* strip = keep(testkit::make_polyhedron(
            {{0, 0, 0}, {0.1, 0, 0}, {0.1 + overhang, w, 0}, {-overhang, w, 0}}, {{0, 1, 2, 3}}));
        EXPECT_EQ(Ve_BodyCleaner(view(strip)).isSliverFace(testkit::faces_of(strip)[0], 1e-6), overhang < 2e-5);
    }
}

TEST_F(SmallEdges, ANullBodyChangesNothingAndStillEndsItsTasks)
{
    qelx_test::AssertRecorder asserts;
    qelx_test::EventRecorder events;
    Ve_PostProcessUtil util(nullptr);
    util.removeSmallEdges(1e-5, true);
    util.removeSmallEdges(1e-5, false);
    util.removeSliverFaces(1e-5, false);
    util.removeSmallTolerantEdges(true);
    util.removeSingleVertexSmallLinearEdge(1.0);
    util.removeBadUVFaces();
    EXPECT_TRUE(events.tasksNested());
    EXPECT_EQ(events.count("StartTask"), 3);
    EXPECT_EQ(events.count("EndTask"), 3);
}

// The single-vertex clean-up takes straight edges that start and end at one
// vertex only: a short straight edge between two vertices stays.
TEST_F(SmallEdges, AShortStraightEdgeBetweenTwoVerticesIsNoSingleVertexEdge)
{
    BODY* b = keep(testkit::make_box_with_small_edge(5e-6));
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil(view(b)).removeSingleVertexSmallLinearEdge(1e-3);
    EXPECT_EQ(testkit::body_text(b), before);
}

TEST_F(SmallEdges, SmallTolerantEdgesAreJudgedByTheirVerticesTolerances)
{
    struct Case {
        double gap, startTolerance, endTolerance; // 0: a plain vertex
        double pull;                              // the start vertex moved this far towards the end
        bool small;
    };
    const Case cases[] = {
        {5e-6, 0.0, 0.0, 0.0, false},    // plain vertices
        {5e-6, 1e-5, 1e-5, 0.0, true},   // a straight edge inside its vertices' tolerance
        {2e-5, 1e-5, 1e-5, 0.0, false},  // longer than the tolerance
        {2e-5, 1.5e-5, 1.5e-5, 1e-5, true}, // straight: its vertices' distance, not its length, decides
        {5e-3, 0.05, 0.05, 0.0, true},   // tolerances up to 0.1
        {5e-4, 0.2, 0.2, 0.0, false},    // tolerances beyond 0.1
        {5e-4, 2.0, 2.0, 0.0, true},     // both beyond 1.0 and the curve shorter than 0.001
        {5e-4, 2.0, 1e-5, 0.0, false},   // only one beyond 1.0
        {2e-3, 2.0, 2.0, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gap << " " << c.startTolerance << " " << c.endTolerance << " " << c.pull);
        BODY* b = keep(testkit::make_box_with_small_edge(c.gap));
        EDGE* small = nullptr;
        ENTITY_LIST edges;
        api_get_edges(b, edges);
        for (int i = 0; i < edges.count() && !small; ++i)
            if (static_cast<EDGE*>(edges[i])->length() < 0.01)
                small = static_cast<EDGE*>(edges[i]);
        ASSERT_NE(small, nullptr);
        const QELposition from = small->start()->geometry()->coords(), to = small->end()->geometry()->coords();
        for (const auto& [v, tolerance] : {std::pair{small->start(), c.startTolerance}, std::pair{small->end(), c.endTolerance}})
            if (tolerance > 0.0) {
                TVERTEX* tv = nullptr;
                ASSERT_TRUE(api_replace_vertex_with_tvertex(v, tv).ok());
                tv->set_tolerance(tolerance);
            }
        if (c.pull > 0.0)
            small->start()->geometry()->set_coords(from + c.pull * normalise(to - from));
        EXPECT_EQ(Ve_BodyCleaner(view(b)).isSmallTolerantEdge(ve_view<Ve_EdgeTag>(small)), c.small);
    }
}

TEST_F(SmallEdges, TheWorkingToleranceIsTheSmallerOfTheGivenAndTheSliverTolerance)
{
    // The box's sliver tolerance is 1e-5.
    const struct {
        double gap, given;
        int edgesAfter;
    } cases[] = {{5e-6, 1e-6, 13}, {5e-6, 1e-5, 12}, {2e-5, 1e-4, 13}, {2e-5, 1e-3, 13}};
    for (const auto& c : cases) {
        BODY* b = keep(testkit::make_box_with_small_edge(c.gap));
        Ve_PostProcessUtil(view(b)).removeSmallEdges(c.given, true);
        EXPECT_EQ(testkit::count_edges(b), c.edgesAfter) << c.gap << " at " << c.given;
    }
}

// Short edges in pairs are removed only where they meet a vertex of three
// edges: with the box's left side cut by a diagonal, the corner the pair
// starts at has four, and the pair stays. Three short edges in a row are no
// pair and stay too.
TEST_F(SmallEdges, AShortEdgePairGoesOnlyFromACornerOfThreeEdges)
{
    const double L = 10, W = 5, H = 3, gap = 4e-7;
    const struct {
        const char* name;
        int shorts; // short edges in a row along the top front edge from its left end
        std::vector<std::vector<int>> left;
        int edges;
    } cases[] = {
        {"corner of three edges", 2, {{0, 4, 7, 3}}, 12},
        {"corner of four edges", 2, {{0, 4, 3}, {4, 7, 3}}, 15},
        {"three short edges at a corner of three edges", 3, {{0, 4, 7, 3}}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<QELposition> points = {{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0},
                                           {0, 0, H}, {L, 0, H}, {L, W, H}, {0, W, H}};
        std::vector<int> top = {4}, front = {0, 1, 5};
        for (int k = 1; k <= c.shorts; ++k) {
            top.push_back(int(points.size()));
            points.push_back(QELposition(k * gap, 0, H));
        }
        for (int k = c.shorts; k >= 1; --k)
            front.push_back(7 + k);
        front.push_back(4);
        top.insert(top.end(), {5, 6, 7});
        std::vector<std::vector<int>> faces = {{0, 3, 2, 1}, top, front, {3, 7, 6, 2}, {1, 2, 6, 5}};
        faces.insert(faces.end(), c.left.begin(), c.left.end());
        BODY* b = keep(testkit::make_polyhedron(points, faces));
        ASSERT_EQ(testkit::check_findings(b), "");
        const double volume = testkit::polyhedron_volume(b);
        Ve_PostProcessUtil(view(b)).removeSmallEdges(1e-5, false);
        EXPECT_EQ(testkit::count_edges(b), c.edges);
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::polyhedron_volume(b), volume, 1e-6 * volume);
    }
}

// A closed edge is never taken as small through its middle point: a
// circular hole 4e-6 across, in a square, is more than the tolerance of
// 1e-5 round (its length, 1.26e-5), though both halves of it span less.
TEST_F(SmallEdges, ASmallClosedEdgeLongerThanTheToleranceStays)
{
    BODY* b = keep(testkit::make_polyhedron({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}));
    FACE* face = testkit::faces_of(b).front();
    const QELposition centre(0.5, 0.5, 0);
    const QELvector major(2e-6, 0, 0);
    auto* vertex = new VERTEX(new APOINT(centre + major));
    const QELinterval round(0.0, 2.0 * post_process_test::kPi);
    auto* circle = new EDGE(vertex, vertex, make_curve(ellipse(centre, QELunit_vector(0, 0, -1), major, 1.0)), FORWARD,
                            EDGE_cvty_unknown, &round);
    vertex->add_edge(circle);
    testkit::add_one_coedge_loop(face, circle);
    ASSERT_EQ(testkit::count_edges(b), 5);
    Ve_PostProcessUtil(view(b)).removeSmallEdges(1e-5, true);
    EXPECT_EQ(testkit::count_edges(b), 5);
    EXPECT_EQ(testkit::count_loops(b), 2);
}

// An edge whose curve runs far on either side while its two vertices lie
// together at the curve's middle (a range a file stretched past its
// vertices) collapses through that middle: it goes by geometry, though its
// curve over its range is long.
TEST_F(SmallEdges, AnEdgeWhoseVerticesMeetAtItsCurvesMiddleGoesThoughItsRangeIsLong)
{
    for (const double reach : {1.0, 1e-3}) {
        SCOPED_TRACE(testing::Message() << "range reaching " << reach << " past the middle");
        BODY* b = keep(testkit::make_box_with_small_edge(5e-7));
        EDGE* small = nullptr;
        for (EDGE* e : post_process_test::edges(b))
            if (e->length() < 1e-3)
                small = e;
        ASSERT_NE(small, nullptr);
        const double middle = small->param_range().mid_pt();
        const QELinterval stretched(middle - reach, middle + reach);
        small->set_param_range(&stretched);
        ASSERT_GT(small->length(), 1.0e-3);
        ASSERT_EQ(testkit::count_edges(b), 13);
        Ve_PostProcessUtil(view(b)).removeSmallEdges(1e-5, true);
        EXPECT_EQ(testkit::count_edges(b), 12);
        EXPECT_EQ(shortEdges(b, 1e-3), 0);
    }
}
