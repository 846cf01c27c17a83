// Face repairs: a loop at a cone's apex, the split of a face on a periodic
// surface, scribe edges cleaned away; clean faces unchanged; failures injected.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <cmath>

#include "model/entity_views.hxx"
#include "repair/post_process_support.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/face_repairs.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/attrib.hxx"
#include "velm/memory.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

using FaceRepairs = post_process_test::PostProcess;

// Read through the links, not a kernel query, so that no injected failure hits it.
Ve_FaceTag* firstFace(BODY* b)
{
    return ve_view<Ve_FaceTag>(b->lump()->shell()->face());
}

// A square sheet with an edge dangling from one corner into the face.
BODY* sheetWithScribe()
{
    return testkit::make_polyhedron({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {5, 5, 0}},
                                    {{0, 1, 2, 4, 2, 3}});
}

// The cone cap of testkit::make_cone_cap (base circle of radius 5 at z = 0,
// apex at z = 20/3) with a degenerate loop, one curveless edge at a vertex,
// written `gap` short of the apex along a generator. The face's box is its
// boundary's, as a box kept from the file's data is: it ends at that vertex.
BODY* coneCapWithPointLoopNearApex(double gap)
{
    BODY* b = testkit::make_cone_cap();
    FACE* face = b->lump()->shell()->face();
    const QELposition apex(0, 0, 20.0 / 3.0), base(5, 0, 0);
    const QELposition near = apex + gap * normalise(base - apex);
    auto* vertex = new VERTEX(new APOINT(near));
    auto* edge = new EDGE(vertex, vertex, nullptr, FORWARD);
    auto* coedge = new COEDGE(edge, FORWARD, nullptr, nullptr);
    coedge->set_next(coedge);
    coedge->set_previous(coedge);
    auto* loop = new LOOP(coedge, nullptr);
    loop->set_face(face);
    face->loop()->set_next(loop);
    face->set_bound(new QELbox(QELposition(-5, -5, 0), QELposition(5, 5, near.z())));
    return b;
}

struct FaceRepair {
    const char* name;
    std::function<BODY*()> build;
    std::function<void(BODY*)> run;
    int loopsAfter, edgesAfter;
};

const std::vector<FaceRepair>& faceRepairs()
{
    static const std::vector<FaceRepair> all = {
        {"cone face without its apex loop", testkit::make_cone_cap,
         [](BODY* b) { firstFace(b)->AddLoopAtConicalFaceApex(); }, 2, 2},
        {"band round a cylinder, forced", [] { return testkit::make_cylinder_band(); },
         [](BODY* b) { firstFace(b)->processForPeriodicity(true); }, 1, 3},
        {"dangling scribe edge", sheetWithScribe, [](BODY* b) { removeScribeEdges(ve_view<Ve_BodyTag>(b), false); }, 1,
         4},
    };
    return all;
}

} // namespace

TEST_F(FaceRepairs, EachRepairRemovesExactlyItsFaultAndKeepsTheArea)
{
    for (const FaceRepair& r : faceRepairs()) {
        SCOPED_TRACE(r.name);
        BODY* b = keep(r.build());
        const double area = testkit::body_area(b);
        r.run(b);
        EXPECT_EQ(testkit::count_loops(b), r.loopsAfter);
        EXPECT_EQ(testkit::count_edges(b), r.edgesAfter);
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
    }
    // The apex loop comes first, on a curveless edge at the apex.
    BODY* cap = keep(testkit::make_cone_cap());
    firstFace(cap)->AddLoopAtConicalFaceApex();
    const EDGE* apexEdge = testkit::faces_of(cap)[0]->loop()->start()->edge();
    EXPECT_EQ(apexEdge->geometry(), nullptr);
    EXPECT_EQ(apexEdge->start(), apexEdge->end());
    EXPECT_LT(distance(apexEdge->start()->geometry()->coords(), QELposition(0, 0, 20.0 / 3.0)), 1e-9);
}

TEST_F(FaceRepairs, CleanFacesAreLeftExactlyAsTheyWere)
{
    const std::function<void(BODY*)> steps[] = {
        [](BODY* b) { firstFace(b)->AddLoopAtConicalFaceApex(); },
        [](BODY* b) { firstFace(b)->processForPeriodicity(false); },
        [](BODY* b) { removeScribeEdges(ve_view<Ve_BodyTag>(b), false); },
        [](BODY* b) { removeScribeEdges(ve_view<Ve_BodyTag>(b), true); }};
    // Faces on every analytic surface kind that wraps, left whole unless forced.
    const std::function<BODY*()> models[] = {[] { return testkit::make_cylinder_band(); },
                                             [] { return testkit::make_torus_band(true); },
                                             [] { return testkit::make_torus_band(false); },
                                             [] { return testkit::make_hemisphere(); },
                                             [] { return testkit::make_square_with_hole(); },
                                             [] { return testkit::make_box_with_sliver(0.5); }};
    for (const auto& make : models)
        for (const auto& step : steps) {
            BODY* b = keep(make());
            const std::string before = testkit::body_text(b);
            velm_test_reset();
            velm_test_record_calls(true);
            step(b);
            EXPECT_EQ(testkit::body_text(b), before);
            EXPECT_LE(velm_test_call_count("api_clean_entity"), 1);
        }
    // Without dangling vertices the face-by-face clean-up calls no clean-up
    // at all: vertices of three edges, or of two on a sheet's boundary.
    for (BODY* clean : {keep(testkit::make_box_with_sliver(0.5)), keep(testkit::make_square_with_hole())}) {
        velm_test_reset();
        velm_test_record_calls(true);
        removeScribeEdges(ve_view<Ve_BodyTag>(clean), false);
        EXPECT_EQ(velm_test_call_count("api_clean_entity"), 0);
    }
    removeScribeEdges(nullptr, true);
}

TEST_F(FaceRepairs, AMarkedScribeIsFreedAndCleanedToo)
{
    BODY* b = keep(sheetWithScribe());
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    for (int i = 0; i < edges.count(); ++i)
        new NO_MERGE_ATTRIB(edges[i]);
    removeScribeEdges(ve_view<Ve_BodyTag>(b), true);
    EXPECT_EQ(testkit::count_edges(b), 4);
    EXPECT_EQ(testkit::check_findings(b), "");
}

TEST_F(FaceRepairs, EveryKernelCallFailingLeavesTheFaceRepairedOrAsItWas)
{
    for (const FaceRepair& r : faceRepairs()) {
        SCOPED_TRACE(r.name);
        EXPECT_GT(testkit::sweep_kernel_calls(r.build, r.run), 0);
    }
}

// A degenerate loop within ten position tolerances of the apex is snapped
// onto it, and the face then needs no loop of its own there; one farther off
// stays where it is and the face gets the apex loop.
TEST_F(FaceRepairs, ALoopNearTheApexIsSnappedOntoItAndOneFartherGetsTheApexLoop)
{
    const QELposition apex(0, 0, 20.0 / 3.0);
    const struct {
        double gap;
        bool snapped;
    } cases[] = {{5e-6, true}, {9e-6, true}, {2e-5, false}, {1e-3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("gap " + std::to_string(c.gap));
        BODY* b = keep(coneCapWithPointLoopNearApex(c.gap));
        const VERTEX* written = testkit::faces_of(b)[0]->loop()->next()->start()->edge()->start();
        ASSERT_TRUE(firstFace(b)->NeedsLoopAtConicalFaceApex());
        const double before = testkit::body_area(b);
        firstFace(b)->AddLoopAtConicalFaceApex();
        EXPECT_EQ(testkit::count_loops(b), c.snapped ? 2 : 3);
        EXPECT_NEAR(distance(written->geometry()->coords(), apex), c.snapped ? 0.0 : c.gap, 1e-12);
        EXPECT_FALSE(firstFace(b)->NeedsLoopAtConicalFaceApex());
        // The loop left off the apex is the file's fault, and stays one. The
        // face's box, kept from the file and ending at the written vertex,
        // takes the apex in when the vertex moves there.
        if (c.snapped) {
            EXPECT_EQ(testkit::check_findings(b), "");
            const QELbox* bound = testkit::faces_of(b)[0]->bound();
            ASSERT_NE(bound, nullptr);
            EXPECT_TRUE(*bound >> apex);
        }
        EXPECT_NEAR(testkit::body_area(b), before, 1e-6 * before);
    }
}

// A torus band round the axis, its coedges with pcurves, is split both ways
// when forced: a seam joins its two loops, then a split across the seam
// halves it; both halves are sound, each round half the band's u. A band
// round the tube, three quarters of the way round v, has its v boundary
// where the v split would go: it only gets the seam across u.
TEST_F(FaceRepairs, ATorusBandIsSplitBothWaysAcrossItsSeam)
{
    const struct {
        bool roundAxis;
        int faces;
    } cases[] = {{true, 2}, {false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.roundAxis ? "band round the axis" : "band round the tube");
        BODY* b = keep(testkit::make_torus_band(c.roundAxis));
        sg_add_pcurves_to_entity(b);
        const double before = testkit::body_area(b);
        firstFace(b)->processForPeriodicity(true);
        EXPECT_EQ(testkit::count_faces(b), c.faces);
        EXPECT_EQ(testkit::count_loops(b), c.faces);
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::body_area(b), before, 1e-6 * before);
        for (FACE* f : testkit::faces_of(b)) {
            QELpar_box box;
            ASSERT_TRUE(sg_get_face_par_box(f, box));
            if (c.roundAxis) {
                EXPECT_NEAR(box.u_range().length(), 0.25 * post_process_test::kPi, 1e-6);
            }
        }
    }
}
