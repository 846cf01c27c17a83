// Vertex repairs: redundant vertices dissolved, duplicate vertices merged by
// replacement and by changing vertex geometry, slits of overlapping edges
// joined; each on a model carrying exactly its fault, on clean models, and
// with every kernel call failing in turn.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "repair/post_process_support.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/vertex_util.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

using VertexRepairs = post_process_test::PostProcess;

// Which edges of a model run against their curves: none, all, every other
// one (so that the two edges at a vertex run opposite ways along theirs), or
// a seeded pick.
const std::vector<std::pair<const char*, std::function<bool(int)>>>& edgeSensePatterns()
{
    static const std::vector<std::pair<const char*, std::function<bool(int)>>> patterns{
        {"edges along their curves", [](int) { return false; }},
        {"edges against their curves", [](int) { return true; }},
        {"even edges against their curves", [](int i) { return i % 2 == 0; }},
        {"odd edges against their curves", [](int i) { return i % 2 == 1; }},
        {"seeded edges against their curves", [](int i) { return (i * 7 + 3) % 5 < 2; }},
    };
    return patterns;
}

// The body built, placed in the frame (its geometry moved, no transform left)
// and its edges turned against their curves as the pattern picks.
BODY* placedWithSenses(BODY* b, const QELtransf& frame, const std::function<bool(int)>& against)
{
    if (!frame.identity()) {
        api_apply_transf(b, frame);
        api_change_body_trans(b, nullptr);
    }
    testkit::reverse_edge_curves(b, against);
    return b;
}

// The body with every STRAIGHT edge put on an exact B-spline of its line
// over the edge's range (the same points at the same parameters).
BODY* splineEdged(BODY* b)
{
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const curve& line = e->geometry()->equation();
        if (line.type() != 1)
            continue;
        const QELinterval r = e->param_range();
        e->set_geometry(make_curve(intcurve(bs3_curve_make_cur(line, r.start_pt(), r.end_pt(), 0.0))));
    }
    return b;
}

// A unit square and a quadrilateral beside it that share no edge: the
// quadrilateral's first corner lies `gap` to the right of the square's
// second, the only pair of corners that near.
BODY* squareAndQuad(double gap)
{
    return testkit::make_polyhedron({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1 + gap, 0, 0}, {2, 0, 0},
                                     {2, 1, 0}, {1.5, 1, 0}},
                                    {{0, 1, 2, 3}, {4, 5, 6, 7}});
}

// A square sheet whose loop runs down one line from its top side, across a
// step of `apart` and back up a parallel line: a slit whose sides are not
// one line when `apart` passes the resolution.
BODY* sheetWithParallelSides(double apart)
{
    return testkit::make_polyhedron({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5 + apart, 10, 0}, {5 + apart, 5, 0},
                                     {5, 5, 0}, {5, 10, 0}, {0, 10, 0}},
                                    {{0, 1, 2, 3, 4, 5, 6, 7}});
}

// A square sheet whose loop runs down a slit from its top side and back up on
// a second edge over the same line, to a second vertex at the same point.
BODY* sheetWithSlit()
{
    return testkit::make_polyhedron({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 10, 0}, {5, 5, 0}, {5, 10, 0}, {0, 10, 0}},
                                    {{0, 1, 2, 3, 4, 5, 6}});
}

// A box whose top front edge is cut in two at its middle, both halves
// running the same way: a redundant vertex.
BODY* boxWithRedundantVertex()
{
    const double L = 10, W = 5, H = 3;
    return testkit::make_polyhedron({{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0}, {0, 0, H}, {L / 2, 0, H}, {L, 0, H},
                                     {L, W, H}, {0, W, H}},
                                    {{0, 3, 2, 1}, {4, 5, 6, 7, 8}, {0, 1, 6, 5, 4}, {3, 8, 7, 2}, {0, 4, 8, 3},
                                     {1, 2, 7, 6}});
}

// Two slit sheets side by side, then a square and a quadrilateral whose
// nearest corners lie 5e-7 apart, all in one shell; the square's first
// corner names both of its edges, one edge group, twice.
BODY* twoSlitsANearPairAndADoubleReference()
{
    std::vector<QELposition> points;
    std::vector<std::vector<int>> faces;
    for (double x : {0.0, 20.0}) {
        const int first = int(points.size());
        for (const QELposition& p : std::vector<QELposition>{
                 {0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 10, 0}, {5, 5, 0}, {5, 10, 0}, {0, 10, 0}})
            points.push_back(p + QELvector(x, 0, 0));
        faces.push_back({first, first + 1, first + 2, first + 3, first + 4, first + 5, first + 6});
    }
    const int first = int(points.size());
    for (const QELposition& p : std::vector<QELposition>{
             {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1 + 5e-7, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1.5, 1, 0}})
        points.push_back(p + QELvector(0, -20, 0));
    faces.push_back({first, first + 1, first + 2, first + 3});
    faces.push_back({first + 4, first + 5, first + 6, first + 7});
    BODY* b = testkit::make_polyhedron(points, faces);
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (distance(v->geometry()->coords(), QELposition(0, -20, 0)) > 1e-9)
            continue;
        ENTITY_LIST around;
        api_get_edges(v, around);
        for (int k = 0; k < around.count(); ++k)
            if (around[k] != v->edge(0))
                v->add_edge(static_cast<EDGE*>(around[k]));
    }
    return b;
}

// Each vertex of a single edge group names another of its edges in place of
// the one it names.
void nameAnotherEdgeFirst(BODY* b)
{
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        ENTITY_LIST around;
        api_get_edges(v, around);
        if (v->count_edges() != 1 || around.count() < 2)
            continue;
        v->set_edge(static_cast<EDGE*>(around[0] == v->edge(0) ? around[1] : around[0]));
    }
}

int references(const VERTEX* v)
{
    int n = 0;
    while (v->edge(n))
        ++n;
    return n;
}

int tolerantVertexCount(const BODY* b)
{
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    int n = 0;
    for (int i = 0; i < vertices.count(); ++i)
        n += is_TVERTEX(vertices[i]);
    return n;
}

// One side of a planar sheet: a straight line to the next side's start, or
// an arc about `centre` (counter-clockwise about +z when `ccw`) of the circle
// through `from`; `circle` names the circle's own start, so that arcs of one
// circle can share one definition.
struct Side {
    QELposition from;
    bool arc = false;
    QELposition centre;
    bool ccw = true;
    QELposition circle;
};

// A sheet on the plane z = 0 whose loop runs through the sides in turn.
BODY* sheetOfSides(const std::vector<Side>& sides)
{
    std::vector<VERTEX*> vertices;
    for (const Side& s : sides)
        vertices.push_back(new VERTEX(new APOINT(s.from)));
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < sides.size(); ++k) {
        const Side& s = sides[k];
        VERTEX* a = vertices[k];
        VERTEX* b = vertices[(k + 1) % sides.size()];
        const QELposition to = b->geometry()->coords();
        EDGE* e = nullptr;
        if (!s.arc) {
            const QELinterval range(0.0, distance(s.from, to));
            e = new EDGE(a, b, make_curve(straight(s.from, normalise(to - s.from))), FORWARD, EDGE_cvty_unknown, &range);
        } else {
            const QELunit_vector normal(0, 0, s.ccw ? 1 : -1);
            const QELvector major = s.circle - s.centre, minor = normal * major;
            auto angle = [&](const QELposition& p) {
                const QELvector d = p - s.centre;
                return std::atan2(d % minor, d % major);
            };
            double t0 = angle(s.from), t1 = angle(to);
            if (t1 <= t0)
                t1 += 2 * post_process_test::kPi;
            const QELinterval range(t0, t1);
            e = new EDGE(a, b, make_curve(ellipse(s.centre, normal, major, 1.0)), FORWARD, EDGE_cvty_unknown, &range);
        }
        a->add_edge(e);
        b->add_edge(e);
        ring.push_back(new COEDGE(e, FORWARD, nullptr, nullptr));
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
        ring[k]->set_next(ring[(k + 1) % ring.size()]);
        ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    auto* face = new FACE(new LOOP(ring.front(), nullptr), nullptr, make_surface(plane(QELposition(), QELunit_vector(0, 0, 1))),
                          FORWARD);
    return new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
}

struct VertexRepair {
    const char* name;
    std::function<BODY*()> build;
    std::function<void(Ve_VertexUtil&)> run;
    int edgesAfter, verticesAfter, tolerantAfter;
    bool events;
};

// A unit disc whose loop runs round its circle from (-1, 0) and then down a
// slit to (-0.5, 0) and back, ending at a second vertex at (-1, 0): a slit
// in a loop of three edges.
BODY* discWithSlit()
{
    const QELposition at(-1, 0, 0);
    const Side line{at, false, QELposition(), true, QELposition()};
    Side back = line;
    back.from = QELposition(-0.5, 0, 0);
    BODY* b = sheetOfSides({{at, true, QELposition(), true, at}, line, back});
    // One reference per edge group at each vertex, as the kernel keeps them.
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i)
        minimize_vertex_edges(static_cast<VERTEX*>(vertices[i]));
    return b;
}

const std::vector<VertexRepair>& vertexRepairs()
{
    static const std::vector<VertexRepair> all = {
        {"redundant vertex on a straight edge", boxWithRedundantVertex,
         [](Ve_VertexUtil& u) { u.removeRedundantVertices(); }, 12, 8, 0, false},
        {"duplicate vertices, replaced", [] { return squareAndQuad(5e-7); },
         [](Ve_VertexUtil& u) { u.remDuplVerticesByReplaceVert(); }, 8, 7, 0, false},
        {"duplicate vertices, by vertex geometry", [] { return squareAndQuad(5e-7); },
         [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); }, 8, 7, 1, true},
        {"slit of two overlapping edges", sheetWithSlit, [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); },
         6, 6, 2, true},
        {"slit of two overlapping spline edges", [] { return splineEdged(sheetWithSlit()); },
         [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); }, 6, 6, 2, true},
        {"slit in a loop of three edges", discWithSlit, [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); },
         2, 2, 2, true},
        {"parallel sides 1.5 resolutions apart, no slit", [] { return sheetWithParallelSides(1.5e-6); },
         [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); }, 8, 8, 0, true},
    };
    return all;
}

} // namespace

TEST_F(VertexRepairs, EachRepairRemovesExactlyItsFaultAndKeepsTheArea)
{
    // In every frame, whichever way the edges run along their curves.
    for (const VertexRepair& r : vertexRepairs())
    for (const QELtransf& frame : testkit::heal_frames())
    for (const auto& [senses, against] : edgeSensePatterns()) {
        SCOPED_TRACE(testing::Message() << r.name << ", " << senses << ", frame "
                                        << (frame.identity() ? "identity" : frame.reflect() ? "mirrored" : "rotated"));
        BODY* b = keep(placedWithSenses(r.build(), frame, against));
        ASSERT_EQ(testkit::check_findings(b), "");
        const double area = testkit::body_area(b);
        qelx_test::EventRecorder events;
        Ve_VertexUtil util(b);
        r.run(util);
        EXPECT_EQ(testkit::count_edges(b), r.edgesAfter);
        EXPECT_EQ(testkit::count_vertices(b), r.verticesAfter);
        EXPECT_EQ(tolerantVertexCount(b), r.tolerantAfter);
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
        EXPECT_TRUE(events.tasksNested());
        EXPECT_EQ(events.count("StartTask"), r.events ? 1 : 0);
    }
}

TEST_F(VertexRepairs, MarkedEdgesAndOppositeCurvesKeepTheirVertex)
{
    BODY* marked = keep(boxWithRedundantVertex());
    ENTITY_LIST edges;
    api_get_edges(marked, edges);
    for (int i = 0; i < edges.count(); ++i)
        if (distance(static_cast<EDGE*>(edges[i])->start_pos(), QELposition(5, 0, 3)) < 1e-9) {
            api_add_generic_named_attribute(edges[i], "ATTRIB_XVELM_LAYER", 3);
            break;
        }
    Ve_VertexUtil(marked).removeRedundantVertices();
    EXPECT_EQ(testkit::count_edges(marked), 13);

    // The two halves of the cut edge run towards each other: their tangents
    // at the cut are opposite.
    BODY* opposite = keep(testkit::make_box_with_small_edge(5.0));
    const std::string before = testkit::body_text(opposite);
    Ve_VertexUtil(opposite).removeRedundantVertices();
    EXPECT_EQ(testkit::body_text(opposite), before);
}

TEST_F(VertexRepairs, VerticesFartherApartThanTheirTolerancesStay)
{
    // Replacement merges only vertices within the resolution: two
    // resolutions apart they stay too.
    const std::function<void(Ve_VertexUtil&)> replace = [](Ve_VertexUtil& u) { u.remDuplVerticesByReplaceVert(); };
    const std::function<void(Ve_VertexUtil&)> change = [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); };
    for (const auto& [run, gap] : std::vector<std::pair<std::function<void(Ve_VertexUtil&)>, double>>{
             {replace, 0.005}, {replace, 2.0 * QELresabs}, {change, 0.005}}) {
        SCOPED_TRACE(testing::Message() << "apart by " << gap);
        BODY* b = keep(squareAndQuad(gap));
        const std::string before = testkit::body_text(b);
        Ve_VertexUtil util(b);
        run(util);
        EXPECT_EQ(testkit::body_text(b), before);
    }
}

TEST_F(VertexRepairs, CleanModelsAreLeftExactlyAsTheyWere)
{
    const std::function<BODY*()> models[] = {[] { return testkit::make_plane_box(10, 20, 30); },
                                             [] { return testkit::make_cylinder(); },
                                             [] { return testkit::make_spline_sheet(); },
                                             [] { return testkit::make_polyline_wire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}); }};
    const std::function<void(Ve_VertexUtil&)> members[] = {
        [](Ve_VertexUtil& u) { u.removeRedundantVertices(); }, [](Ve_VertexUtil& u) { u.remDuplVerticesByReplaceVert(); },
        [](Ve_VertexUtil& u) { u.remDuplVerticesByChangeVertGeom(); }};
    for (const auto& make : models)
        for (const auto& member : members) {
            BODY* b = keep(make());
            const std::string before = testkit::body_text(b);
            Ve_VertexUtil util(b);
            member(util);
            EXPECT_EQ(testkit::body_text(b), before);
        }
    Ve_VertexUtil none(nullptr);
    none.removeRedundantVertices();
    none.remDuplVerticesByReplaceVert();
    none.remDuplVerticesByChangeVertGeom();
}

TEST_F(VertexRepairs, EveryKernelCallFailingLeavesTheBodyRepairedOrAsItWas)
{
    for (const VertexRepair& r : vertexRepairs()) {
        SCOPED_TRACE(r.name);
        const long runs = testkit::sweep_kernel_calls(r.build, [&](BODY* b) {
            Ve_VertexUtil util(b);
            r.run(util);
        });
        EXPECT_GT(runs, 0);
    }
}

// A slit whose join fails is left as it was, and the pass goes on: the other
// slit is joined, the near pair merged and the doubled edge-group reference
// dropped.
TEST_F(VertexRepairs, AFailedSlitJoinLeavesThatSlitAndTheRestOfThePassRuns)
{
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "first join failing" : "no failure");
        BODY* b = keep(twoSlitsANearPairAndADoubleReference());
        const std::vector<FACE*> all = post_process_test::faces(b);
        ASSERT_EQ(testkit::count_vertices(b), 22);
        if (failing)
            velm_test_fail_next("api_replace_vertex_with_tvertex", qelvelm_api_errmod.message_code(VELM_API_FAILED));
        Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom();
        EXPECT_FALSE(velm_test_injection_pending());
        int slitsLeft = 0;
        for (FACE* f : {all[0], all[1]})
            slitsLeft += testkit::count_edges(f) == 7;
        EXPECT_EQ(slitsLeft, failing ? 1 : 0);
        EXPECT_EQ(testkit::count_vertices(b), failing ? 20 : 19);
        ENTITY_LIST vertices;
        api_get_vertices(b, vertices);
        int doubled = 0;
        for (int i = 0; i < vertices.count(); ++i) {
            const auto* v = static_cast<const VERTEX*>(vertices[i]);
            if (distance(v->geometry()->coords(), QELposition(0, -20, 0)) < 1e-9)
                doubled += references(v) - 1;
        }
        EXPECT_EQ(doubled, 0);
        EXPECT_EQ(testkit::check_findings(b), "");
    }
}

namespace {

// The body's vertex nearest the point made tolerant with the tolerance.
void makeTolerantAt(BODY* b, const QELposition& at, double tolerance)
{
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (distance(v->geometry()->coords(), at) > 1e-9)
            continue;
        TVERTEX* tv = nullptr;
        ASSERT_TRUE(api_replace_vertex_with_tvertex(v, tv).ok());
        tv->set_tolerance(tolerance);
        return;
    }
    FAIL() << "no vertex there";
}

// One square sheet whose bottom side has a vertex at its middle and whose top
// side dips in a V to `depth` above it: two vertices of one loop, sharing no
// edge.
BODY* notchedSquare(double depth)
{
    return testkit::make_polyhedron({{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, depth, 0}, {0, 10, 0}},
                                    {{0, 1, 2, 3, 4, 5}});
}

// Every edge of the sheet shorter than a hundredth bowed out into a half
// circle over its chord, turning about the normal from its start.
BODY* bowShortEdges(BODY* b, const QELunit_vector& normal)
{
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const QELposition from = e->start()->geometry()->coords(), to = e->end()->geometry()->coords();
        if (distance(from, to) > 0.01)
            continue;
        const QELposition centre = from + 0.5 * (to - from);
        const QELinterval half(0.0, 3.14159265358979323846);
        e->set_geometry(make_curve(ellipse(centre, normal, from - centre, 1.0)));
        e->set_sense(FORWARD);
        e->set_param_range(&half);
    }
    return b;
}

// A sheet whose bottom side has a step 0.001 long from (1, 0, 0) to
// (1.001, 0, 0) bowed out in a half circle: the step's two vertices lie
// within a thousandth, the edge between them is half as long again.
BODY* sheetWithBowedStep()
{
    return bowShortEdges(testkit::make_polyhedron({{0, 0, 0}, {1, 0, 0}, {1.001, 0, 0}, {1.001, 1, 0}, {0, 1, 0}},
                                                  {{0, 1, 2, 3, 4}}),
                         QELunit_vector(0, 0, 1));
}

// A square sheet with a round hole 0.001 across, its circle two half-circle
// edges between the same two vertices (5, 5, 0) and (5.001, 5, 0).
BODY* squareWithTinyRoundHole()
{
    return bowShortEdges(testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{{5, 5}, {5.001, 5}}}),
                         QELunit_vector(0, 0, -1));
}

} // namespace

// The rows of the vertex pass: which pairs merge, collapse their common edge,
// or stay, by distance, tolerance and the two switches.
TEST_F(VertexRepairs, TolerantVertexRowsMergeCollapseOrKeepThePair)
{
    struct Row {
        const char* name;
        std::function<BODY*()> build;
        QELposition tolerantAt;
        double tolerance;
        bool changeGeometry, allowNonManifold;
        int verticesAfter, edgesAfter;
        QELvector movedBy{}; // the tolerant vertex moved off its edges' ends by this
    };
    const QELposition corner(1, 0, 0), tip(5, 0, 0);
    const Row rows[] = {
        // A tolerant vertex 0.005 from a plain one, switch off: merged into it.
        {"tolerant near a plain one", [] { return squareAndQuad(0.005); }, corner, 0.02, false, false, 7, 8},
        // The same with the switch on: no common edge to collapse, so merged.
        {"tolerant near a plain one, geometry on", [] { return squareAndQuad(0.005); }, corner, 0.02, true, false, 7,
         8},
        // Beyond 0.01 apart: left alone unless the geometry may change.
        {"tolerant beyond 0.01", [] { return squareAndQuad(0.015); }, corner, 0.02, false, false, 8, 8},
        {"tolerant beyond 0.01, geometry on", [] { return squareAndQuad(0.015); }, corner, 0.02, true, false, 7, 8},
        // Farther than the tolerance: apart.
        {"farther than the tolerance", [] { return squareAndQuad(0.004); }, corner, 0.003, true, false, 8, 8},
        // One loop, no shared edge: merging would pinch it.
        {"one loop, guarded", [] { return notchedSquare(0.015); }, tip, 0.02, true, false, 6, 6},
        {"one loop, non-manifold allowed", [] { return notchedSquare(0.015); }, tip, 0.02, true, true, 5, 6},
        // A small edge inside the tolerance, shorter than every other edge at
        // its vertices: collapsed.
        {"small common edge collapsed", [] { return testkit::make_box_with_small_edge(0.001); }, QELposition(0, 0, 3),
         0.002, true, false, 8, 12},
        // Within a ten-thousandth the pair merges as it lies, the geometry
        // switch on or off: a tolerant vertex moved off its edges' ends to
        // 5e-5 from a plain one is not first put back between its ends
        // (5e-4 from the other, beyond its tolerance once narrowed).
        // A common edge longer than the tolerance though its vertices lie
        // within it is no small edge: the pair is merged, not collapsed.
        {"bowed common edge kept", sheetWithBowedStep, QELposition(1, 0, 0), 0.0012, true, false, 4, 5},
        // Two vertices joined by two edges: neither is collapsed, and the
        // pair is merged, each half circle closing on the one vertex.
        {"two common edges kept", squareWithTinyRoundHole, QELposition(5, 5, 0), 0.002, true, false, 5, 6},
        {"tolerant moved within a ten-thousandth", [] { return squareAndQuad(5e-4); }, corner, 1e-3, false, false, 7,
         8, QELvector(4.5e-4, 0, 0)},
        {"tolerant moved within a ten-thousandth, geometry on", [] { return squareAndQuad(5e-4); }, corner, 1e-3, true,
         false, 7, 8, QELvector(4.5e-4, 0, 0)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        qelx_test::OptionScope options;
        if (r.changeGeometry)
            options.on(Ve_OptionDoc::keyOf("ChangeVertexGeom"));
        if (r.allowNonManifold)
            options.on(Ve_OptionDoc::keyOf("AllowNonManiVertex"));
        BODY* b = keep(r.build());
        makeTolerantAt(b, r.tolerantAt, r.tolerance);
        if (r.movedBy.len() > 0.0) {
            ENTITY_LIST vertices;
            api_get_vertices(b, vertices);
            for (int i = 0; i < vertices.count(); ++i)
                if (auto* v = static_cast<VERTEX*>(vertices[i]); distance(v->geometry()->coords(), r.tolerantAt) < 1e-9)
                    v->geometry()->set_coords(r.tolerantAt + r.movedBy);
        }
        const double area = testkit::body_area(b);
        Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom();
        EXPECT_EQ(testkit::count_vertices(b), r.verticesAfter);
        EXPECT_EQ(testkit::count_edges(b), r.edgesAfter);
        EXPECT_NEAR(testkit::body_area(b), area, 1e-3 * area);
        if (!r.allowNonManifold) {
            EXPECT_EQ(testkit::model_problems(b), "");
        }
    }
}

// Past 16200 vertices in one entity the pairwise merging is skipped; the
// edge-group check still runs over every edge.
TEST_F(VertexRepairs, PastTheVertexCapNothingMergesButEdgeGroupsAreStillChecked)
{
    for (int n : {40, 127}) { // 1,681 and 16,384 grid vertices
        SCOPED_TRACE(n);
        std::vector<QELposition> points;
        std::vector<std::vector<int>> faces;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i)
                points.emplace_back(double(i), double(j), 0.0);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i)
                faces.push_back({j * (n + 1) + i, j * (n + 1) + i + 1, (j + 1) * (n + 1) + i + 1, (j + 1) * (n + 1) + i});
        // A quadrilateral whose first corner lies 5e-7 beside the grid's far corner.
        const int first = int(points.size());
        for (const QELposition& p : std::vector<QELposition>{{n + 5e-7, 0, 0}, {n + 1.0, 0, 0}, {n + 1.0, 1, 0}, {n + 0.5, 1, 0}})
            points.push_back(p);
        faces.push_back({first, first + 1, first + 2, first + 3});
        BODY* b = keep(testkit::make_polyhedron(points, faces));
        // The grid's first corner names both its edges, one group, twice.
        VERTEX* corner = nullptr;
        ENTITY_LIST vertices;
        api_get_vertices(b, vertices);
        for (int i = 0; i < vertices.count() && !corner; ++i)
            if (distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), QELposition()) < 1e-9)
                corner = static_cast<VERTEX*>(vertices[i]);
        ASSERT_NE(corner, nullptr);
        ENTITY_LIST around;
        api_get_edges(corner, around);
        ASSERT_EQ(around.count(), 2);
        corner->add_edge(static_cast<EDGE*>(around[corner->edge(0) == around[0] ? 1 : 0]));
        const int before = vertices.count();
        Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom();
        EXPECT_EQ(testkit::count_vertices(b), n < 127 ? before - 1 : before);
        EXPECT_EQ(references(corner), 1);
    }
}

// A vertex between two straight edges is dissolved only when both run the
// same way through it, within the tangent tolerance, nothing else meets it,
// and the joined line still passes through both end vertices.
TEST_F(VertexRepairs, RedundantVerticesAreJudgedByTheirEdgesDirectionsAndCount)
{
    // Angles whose 1 - cos is 0.0004 and 0.0006, about the tolerance of 0.0005.
    const double inside = std::acos(1.0 - 0.0004), outside = std::acos(1.0 - 0.0006);
    // A side of 1e-5 at the angle before a side of 10: joined, the start
    // vertex lies 4e-7 off the long side's line.
    auto shortThenLong = [](double angle) {
        const QELposition p(1e-5 * std::cos(angle), 1e-5 * std::sin(angle), 0);
        return std::vector<QELposition>{{0, 0, 0}, p, p + QELvector(10, 0, 0), p + QELvector(10, 10, 0), {0, 10, 0}};
    };
    auto shortThenSide = [](double angle, double length) {
        const QELposition p(1e-5 * std::cos(angle), 1e-5 * std::sin(angle), 0);
        return std::vector<QELposition>{{0, 0, 0}, p, p + QELvector(length, 0, 0), {10, 10, 0}, {0, 10, 0}};
    };
    const struct {
        const char* name;
        std::vector<QELposition> points;
        std::vector<std::vector<int>> faces;
        int edgesAfter;
    } cases[] = {
        {"straight", {{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {{0, 1, 2, 3, 4}}, 4},
        {"short side bent inside the tangent tolerance", shortThenLong(inside), {{0, 1, 2, 3, 4}}, 4},
        {"short side bent beyond the tangent tolerance", shortThenLong(outside), {{0, 1, 2, 3, 4}}, 5},
        // A side ten times as long is not long enough to take the short
        // one's place: the short side's own line, run on, misses the far
        // vertex by 2e-6, and the vertex stays.
        {"short side bent inside the tangent tolerance before a side ten times as long",
         shortThenSide(0.02, 1e-4), {{0, 1, 2, 3, 4}}, 5},
        // Joined, long sides bent inside the tolerance would miss a vertex by 0.14.
        {"long sides bent inside the tangent tolerance",
         {{0, 0, 0}, {5, 5 * std::tan(inside / 2), 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {{0, 1, 2, 3, 4}}, 5},
        // Both edges end at the middle vertex.
        {"edges running towards each other", {{0, 0, 0}, {10, 0, 0}, {5, 0, 0}, {10, 10, 0}, {0, 10, 0}},
         {{0, 2, 1, 3, 4}}, 5},
        // A third edge meets the middle vertex from a triangle below.
        {"three edges", {{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {5, -5, 0}},
         {{0, 1, 2, 3, 4}, {0, 5, 1}}, 7},
    };
    // The verdict is the boundary's, whichever way each edge runs along its
    // curve, in whatever frame the model lies and whichever of its edges a
    // vertex names first (the edges round it are listed from that one).
    for (const auto& c : cases)
        for (const QELtransf& frame : testkit::heal_frames())
            for (const auto& [senses, against] : edgeSensePatterns())
            for (const bool otherFirst : {false, true}) {
                SCOPED_TRACE(testing::Message() << c.name << ", " << senses << ", frame "
                                                << (frame.identity() ? "identity" : frame.reflect() ? "mirrored" : "rotated")
                                                << (otherFirst ? ", vertices naming their other edge" : ""));
                BODY* b = keep(placedWithSenses(testkit::make_polyhedron(c.points, c.faces), frame, against));
                if (otherFirst)
                    nameAnotherEdgeFirst(b);
                ASSERT_EQ(testkit::check_findings(b), "");
                Ve_VertexUtil(b).removeRedundantVertices();
                EXPECT_EQ(testkit::count_edges(b), c.edgesAfter);
                EXPECT_EQ(testkit::check_findings(b), "");
            }
}

// Two arcs meet tangentially at a vertex: it is redundant only when they lie
// on one circle. An arc of another radius, however little, or one curving
// the other way keeps its vertex.
TEST_F(VertexRepairs, TangentArcsLoseTheirVertexOnlyWhenTheyShareTheirCircle)
{
    const QELposition o(0, 0, 0), p(5, 0, 0);
    auto line = [](const QELposition& from) { return Side{from, false, QELposition(), true, QELposition()}; };
    auto arc = [](const QELposition& from, const QELposition& centre, bool ccw, const QELposition& circle) {
        return Side{from, true, centre, ccw, circle};
    };
    // The first arc, a quarter of the circle of radius 5 about o, up to p.
    const Side quarter = arc({0, -5, 0}, o, true, {5, 0, 0});
    // The same two quarters on a circle whose own start is `circle`.
    const double half = std::sqrt(0.5);
    auto acrossTurn = [&](const QELposition& circle) {
        return std::vector<Side>{arc({0, -5, 0}, o, true, circle), arc(p, o, true, circle), line({0, 5, 0})};
    };
    // Radius 5 + d about (-d, 0, 0), from p up to where it crosses the y axis.
    auto wider = [&](double d) {
        const double r = 5 + d;
        return std::vector<Side>{quarter, arc(p, {-d, 0, 0}, true, p), line({0, std::sqrt(r * r - d * d), 0})};
    };
    const struct {
        const char* name;
        std::vector<Side> sides;
        int edgesAfter;
    } cases[] = {
        {"one circle", {quarter, arc(p, o, true, {5, 0, 0}), line({0, 5, 0})}, 2},
        // Two halves of one circle closing on each other: both vertices stay.
        {"a disk of two half circles", {arc({0, -5, 0}, o, true, {5, 0, 0}), arc({0, 5, 0}, o, true, {5, 0, 0})}, 2},
        // The circle's parameter turns over inside the second arc, then
        // inside the first: the joined arc runs on across that turn.
        {"one circle turning over in the second arc", acrossTurn({-5 * half, -5 * half, 0}), 2},
        {"one circle turning over in the first arc", acrossTurn({-5 * half, 5 * half, 0}), 2},
        // The joined arc would miss the far vertex by 2e-7, inside its tolerance.
        {"radius longer by 1e-7", wider(1e-7), 3},
        {"radius twice as long", wider(5), 3},
        // An S bend: round (10, 0, 0) one way, then round o the other.
        {"curving the other way",
         {line({10, -5, 0}), arc({10, 5, 0}, {10, 0, 0}, true, {15, 0, 0}), arc(p, o, false, p), line({0, -5, 0})},
         4},
        // The same with an arc of 1e-3 after the joint: joined, its far end
        // would miss the first circle by 4e-7, inside the tolerance.
        {"curving the other way for 1e-3",
         {line({10, -5, 0}), arc({10, 5, 0}, {10, 0, 0}, true, {15, 0, 0}),
          arc(p, o, false, p), line({5 * std::cos(2e-4), -5 * std::sin(2e-4), 0}), line({5, -5, 0})},
         5},
    };
    // Whichever way the arcs run along their circles, in the identity and a
    // mirrored frame; in the rotated frame an arc turned against its circle
    // may differ from its neighbour's curvature by rounding, which the exact
    // comparison of the two keeps apart, so there the arcs run along them.
    for (const auto& c : cases)
        for (const QELtransf& frame : testkit::heal_frames())
            for (const auto& [senses, against] : edgeSensePatterns()) {
                if (!frame.identity() && !frame.reflect() && &against != &edgeSensePatterns().front().second)
                    continue;
                SCOPED_TRACE(testing::Message() << c.name << ", " << senses << ", frame "
                                                << (frame.identity() ? "identity" : frame.reflect() ? "mirrored" : "rotated"));
                BODY* b = keep(placedWithSenses(sheetOfSides(c.sides), frame, against));
                ASSERT_EQ(testkit::check_findings(b), "");
                const double area = testkit::body_area(b);
                Ve_VertexUtil(b).removeRedundantVertices();
                EXPECT_EQ(testkit::count_edges(b), c.edgesAfter);
                EXPECT_EQ(testkit::check_findings(b), "");
                EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
            }
}

// A spike folded back on itself: both edges at its tip end there and arrive
// the same way. The tip is no vertex between two parts of one edge, and stays.
TEST_F(VertexRepairs, TheTipOfAFoldedSpikeStays)
{
    BODY* b = keep(testkit::make_polyhedron(
        {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 10, 0}, {5, 7, 0}, {0, 10, 0}, {5, 4, 0}}, {{0, 1, 2, 3, 6, 4, 5}}));
    const int edges = testkit::count_edges(b), vertices = testkit::count_vertices(b);
    Ve_VertexUtil(b).removeRedundantVertices();
    EXPECT_EQ(testkit::count_edges(b), edges);
    EXPECT_EQ(testkit::count_vertices(b), vertices);
    EXPECT_EQ(testkit::model_problems(b), "");
}

namespace {

// The box with a small top edge from (0, 0, H) to (gap, 0, H), run on along
// the top front side by a second piece `next` long before the rest; `next` 0
// leaves the plain box with its small edge.
BODY* boxWithSmallEdgeThen(double gap, double next)
{
    if (next <= 0.0)
        return testkit::make_box_with_small_edge(gap);
    const double L = 10, W = 5, H = 3;
    return testkit::make_polyhedron({{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0}, {0, 0, H}, {L, 0, H}, {L, W, H},
                                     {0, W, H}, {gap, 0, H}, {gap + next, 0, H}},
                                    {{0, 3, 2, 1}, {4, 8, 9, 5, 6, 7}, {0, 1, 5, 9, 8, 4}, {3, 7, 6, 2}, {0, 4, 7, 3},
                                     {1, 2, 6, 5}});
}

// The index in the body's vertex list of the vertex at the point.
int listedAt(BODY* b, const QELposition& at)
{
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i)
        if (distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), at) < 1e-9)
            return i;
    return -1;
}

} // namespace

// A small edge between a merging pair is collapsed only when it is shorter
// than every other edge at both of its vertices; a tolerant vertex listed
// after a plain one collapses it only within 21000 resolutions of it. The
// pair is otherwise left apart or merged as the rows say, never collapsed.
TEST_F(VertexRepairs, ASmallEdgeCollapsesOnlyWhenShorterThanEveryEdgeAtBothEnds)
{
    const struct {
        const char* name;
        double gap, next;
        bool laterTolerant;
        double tolerance;
        bool collapsed;
    } cases[] = {
        {"earlier vertex tolerant", 0.03, 0.0, false, 0.04, true},
        {"later vertex tolerant, within 21000 resolutions", 0.015, 0.0, true, 0.02, true},
        {"later vertex tolerant, beyond 21000 resolutions", 0.03, 0.0, true, 0.04, false},
        // The later vertex's next edge, 0.0006 long, is shorter than the common one.
        {"shorter edge at the later vertex", 0.001, 0.0006, false, 0.0012, false},
        {"longer edge at the later vertex", 0.001, 0.002, false, 0.0012, true},
    };
    const QELposition corner(0, 0, 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf("ChangeVertexGeom"));
        BODY* b = keep(boxWithSmallEdgeThen(c.gap, c.next));
        const QELposition far(c.gap, 0, 3);
        // The rows read the pair in list order: the corner comes first.
        ASSERT_LT(listedAt(b, corner), listedAt(b, far));
        makeTolerantAt(b, c.laterTolerant ? far : corner, c.tolerance);
        const int vertices = testkit::count_vertices(b), edges = testkit::count_edges(b);
        const double area = testkit::body_area(b);
        Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom();
        EXPECT_EQ(testkit::count_edges(b), c.collapsed ? edges - 1 : edges);
        if (c.collapsed) {
            EXPECT_EQ(testkit::count_vertices(b), vertices - 1);
        }
        EXPECT_NEAR(testkit::body_area(b), area, 1e-3 * area);
        EXPECT_EQ(testkit::model_problems(b), "");
    }
}

// Two triangles meeting only at one corner: that vertex joins two edge
// groups and lists an edge of each. One it lost is listed again when the
// duplicate-vertex pass checks the edges' groups; one listed twice is listed
// once.
TEST_F(VertexRepairs, AVertexListsOneEdgeOfEachGroupItJoinsAfterTheDuplicatePass)
{
    for (const bool lost : {true, false}) {
        SCOPED_TRACE(lost ? "a group's reference lost" : "a group listed twice");
        BODY* b = keep(testkit::make_polyhedron({{0, 0, 0}, {2, 1, 0}, {2, -1, 0}, {-2, -1, 0}, {-2, 1, 0}},
                                                {{0, 2, 1}, {0, 4, 3}}));
        ENTITY_LIST vertices;
        api_get_vertices(b, vertices);
        VERTEX* corner = nullptr;
        for (int i = 0; i < vertices.count(); ++i) {
            auto* v = static_cast<VERTEX*>(vertices[i]);
            minimize_vertex_edges(v);
            if (distance(v->geometry()->coords(), QELposition(0, 0, 0)) < 1e-12)
                corner = v;
        }
        ASSERT_NE(corner, nullptr);
        ASSERT_EQ(references(corner), 2);
        if (lost) {
            corner->delete_edge(corner->edge(1));
            ASSERT_EQ(references(corner), 1);
        } else {
            // A second edge of the first group beside the one listed.
            ENTITY_LIST around;
            api_get_edges(corner, around);
            for (int k = 0; k < around.count(); ++k) {
                auto* e = static_cast<EDGE*>(around[k]);
                if (e != corner->edge(0) && e != corner->edge(1) &&
                    (e->coedge()->loop() == corner->edge(0)->coedge()->loop()))
                    corner->add_edge(e);
            }
            ASSERT_EQ(references(corner), 3);
        }
        Ve_VertexUtil(b).remDuplVerticesByReplaceVert();
        EXPECT_EQ(references(corner), 2);
        EXPECT_EQ(testkit::count_vertices(b), 5);
        EXPECT_EQ(testkit::model_problems(b), "");
    }
}

// Edges of a wire lying on one line keep the vertex between them: a wire
// edge's vertex is never taken as redundant, in a shell beside a face too.
TEST_F(VertexRepairs, AVertexBetweenCollinearWireEdgesStays)
{
    BODY* b = keep(testkit::make_sheet_with_shell_wire({{10, 0, 0}, {12, 0, 0}, {14, 0, 0}}));
    const int edges = testkit::count_edges(b), vertices = testkit::count_vertices(b);
    ASSERT_EQ(edges, 6);
    Ve_VertexUtil(b).removeRedundantVertices();
    EXPECT_EQ(testkit::count_edges(b), edges);
    EXPECT_EQ(testkit::count_vertices(b), vertices);
}

// Two arcs of one great circle meeting at a sphere's pole: the vertex there
// is no vertex between two parts of one edge and stays, at either end of the
// face's parameter range.
TEST_F(VertexRepairs, AVertexAtASpheresPoleBetweenArcsOfOneCircleStays)
{
    for (const bool above : {true, false}) {
        SCOPED_TRACE(above ? "north pole" : "south pole");
        BODY* b = keep(testkit::make_quarter_sphere(above));
        ASSERT_EQ(testkit::check_findings(b), "");
        const double area = testkit::body_area(b);
        ASSERT_NEAR(area, post_process_test::kPi * 16.0, 1e-3);
        Ve_VertexUtil(b).removeRedundantVertices();
        EXPECT_EQ(testkit::count_edges(b), 3);
        EXPECT_EQ(testkit::count_vertices(b), 3);
    }
}

// The centre of a half square on a spline singular there, between the two
// halves of its diameter (collinear STRAIGHT edges): a pole of the face's
// surface, whichever end of the surface's v range it lies at, so the vertex
// stays as it does at a sphere's poles, in every frame.
TEST_F(VertexRepairs, AVertexAtASplinesPoleBetweenCollinearEdgesStaysAtEitherEndOfV)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const bool high : {true, false})
        for (std::size_t f = 0; f < frames.size(); ++f)
            for (const auto& [senses, against] : edgeSensePatterns()) {
                SCOPED_TRACE(testing::Message() << (high ? "pole at the high v end" : "pole at the low v end") << ", "
                                                << senses << ", frame " << f);
                BODY* b = keep(placedWithSenses(testkit::make_spline_half_square_to_pole(high), frames[f], against));
                ASSERT_EQ(testkit::check_findings(b), "");
                ASSERT_EQ(testkit::count_edges(b), 5);
                Ve_VertexUtil(b).removeRedundantVertices();
                EXPECT_EQ(testkit::count_edges(b), 5);
                EXPECT_EQ(testkit::count_vertices(b), 5);
                EXPECT_EQ(testkit::check_findings(b), "");
            }
}
