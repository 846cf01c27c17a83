// Topology import: source bodies become kernel bodies that share their edges
// and vertices, in any frame, clean under the kernel's checker.
#include "import_test_support.hxx"

#include <string>

#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_option_doc.hxx"

using namespace importtest;
using qelx_test::TestModel;

namespace {

struct ShapeCase {
    const char* what;
    TestModel model;
    bool sheet;
    Counts expected;
};

// Positions of the model's vertices, morphed, each found among the body's vertices.
void expectVerticesAt(BODY* body, const TestModel& model, const QELXMorph3D& morph)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    for (int i = 0; i < static_cast<int>(model.vertices.size()); ++i) {
        const QELXPoint3D want = morph.Apply(model.point(model.vertices[i].point));
        double best = 1e300;
        for (int k = 0; k < vertices.count(); ++k) {
            const QELposition p = static_cast<VERTEX*>(vertices[k])->geometry()->coords();
            best = std::min(best, (QELXPoint3D(p.x(), p.y(), p.z()) - want).Length());
        }
        EXPECT_LT(best, 1e-9) << "source vertex " << i;
    }
}

} // namespace

class TopologyCreator : public ImportTest {};

TEST_F(TopologyCreator, SharedEdgesAndVerticesAreFoundAgainInEveryFrame)
{
    std::vector<ShapeCase> cases = {{"block", TestModel::block(2, 3, 4), false, {6, 6, 24, 12, 8}},
                                    {"two faces", TestModel::twoFacesSharingEdge(), true, {2, 2, 8, 7, 6}},
                                    {"sheet with hole", TestModel::sheetWithHole(), true, {1, 2, 8, 8, 8}}};
    for (ShapeCase& c : cases)
        for (const Frame& frame : frames())
            for (bool mirroredMaps : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + " in the " + frame.name + " frame" +
                         (mirroredMaps ? ", surfaces with mirrored parameters" : ""));
            TestModel model = c.model;
            if (mirroredMaps)
                for (int s = 0; s < static_cast<int>(model.surfaces.size()); ++s)
                    model.reparametriseSurface(s, -1.0, 0.0, 1.0, 0.0);
            qelx_test::EventRecorder events;
            Import import(model, frame.morph);
            if (c.sheet)
                import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
            else
                import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
            ASSERT_EQ(import.bodies().size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            BODY* body = import.bodies()[0];
            const Counts n = countsOf(body);
            EXPECT_EQ(n.faces, c.expected.faces);
            EXPECT_EQ(n.loops, c.expected.loops);
            EXPECT_EQ(n.coedges, c.expected.coedges);
            EXPECT_EQ(n.edges, c.expected.edges);
            EXPECT_EQ(n.vertices, c.expected.vertices);
            EXPECT_EQ(findingsOf(body), std::vector<std::string>());
            expectVerticesAt(body, import.model(), frame.morph);
        }
}

TEST_F(TopologyCreator, PartnersFollowTheSourceOrderAndVerticesKeepOneReferencePerGroup)
{
    Import import(TestModel::block(1, 1, 1));
    import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
    ASSERT_EQ(import.bodies().size(), 1u);
    const TestModel& m = import.model();
    for (int e = 0; e < static_cast<int>(m.edges.size()); ++e) {
        EDGE* edge = import.creator().GetEdge(import.id(qelx_test::KindEdge, e), false);
        ASSERT_NE(edge, nullptr);
        const std::vector<int>& cs = m.edges[e].coedges;
        ASSERT_EQ(cs.size(), 2u);
        COEDGE* first = import.creator().GetCoedge(import.id(qelx_test::KindCoedge, cs[0]), false);
        COEDGE* second = import.creator().GetCoedge(import.id(qelx_test::KindCoedge, cs[1]), false);
        EXPECT_EQ(edge->coedge(), first);
        EXPECT_EQ(first->partner(), second);
        EXPECT_EQ(second->partner(), first);
        EXPECT_EQ(first->edge(), edge);
        EXPECT_EQ(second->edge(), edge);
        EXPECT_NE(first->sense(), second->sense());
    }
    for (int v = 0; v < static_cast<int>(m.vertices.size()); ++v) {
        VERTEX* vertex = import.creator().GetVertex(import.id(qelx_test::KindVertex, v));
        ASSERT_NE(vertex, nullptr);
        EXPECT_EQ(vertex->count_edges(), 1) << "vertex " << v; // one group around a block corner
    }
    // A second lookup is the same entity.
    EXPECT_EQ(import.creator().GetFace(import.id(qelx_test::KindFace, 2)),
              import.creator().GetFace(import.id(qelx_test::KindFace, 2)));
}

TEST_F(TopologyCreator, ASheetBuiltInShuffledOrderSharesEveryEdgeAndVertex)
{
    // Vertices and faces made in a shuffled order: the catalogues meet them
    // out of their positions' order, and each vertex is relinked alone.
    const int nx = 5, ny = 4;
    std::vector<int> cells(nx * ny), corners((nx + 1) * (ny + 1));
    for (std::size_t i = 0; i < cells.size(); ++i)
        cells[i] = static_cast<int>((i * 7) % cells.size());
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i] = static_cast<int>((i * 11) % corners.size());
    TestModel model;
    int shell = -1;
    model.addSheetBody(shell);
    const int plane = model.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    std::vector<int> vertexAt(corners.size());
    for (int c : corners)
        vertexAt[c] = model.addVertex({double(c % (nx + 1)), double(c / (nx + 1)), 0.0});
    for (int cell : cells) {
        const int a = (cell / nx) * (nx + 1) + cell % nx;
        model.addPolygonFace(shell, plane, {{vertexAt[a], vertexAt[a + 1], vertexAt[a + nx + 2], vertexAt[a + nx + 1]}});
    }
    Import import(model);
    import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
    ASSERT_EQ(import.bodies().size(), 1u);
    const Counts n = countsOf(import.bodies()[0]);
    EXPECT_EQ(n.faces, nx * ny);
    EXPECT_EQ(n.edges, nx * (ny + 1) + ny * (nx + 1));
    EXPECT_EQ(n.vertices, (nx + 1) * (ny + 1));
    EXPECT_EQ(findingsOf(import.bodies()[0]), std::vector<std::string>());
    for (int v = 0; v < static_cast<int>(corners.size()); ++v) {
        VERTEX* vertex = import.creator().GetVertex(import.id(qelx_test::KindVertex, v));
        ASSERT_NE(vertex, nullptr);
        // One group of edges around every point of a sheet, however many meet there.
        EXPECT_EQ(vertex->count_edges(), 1) << "vertex " << v;
        ENTITY_LIST around;
        sg_q_edges_around_vertex(vertex, &around);
        const int c = corners[static_cast<std::size_t>(v)];
        const int i = c % (nx + 1), j = c / (nx + 1);
        EXPECT_EQ(around.count(), (i > 0) + (i < nx) + (j > 0) + (j < ny)) << "vertex " << v;
    }
}

TEST_F(TopologyCreator, StagesEventsAndProgressOfABlock)
{
    qelx_test::EventRecorder events;
    Gk_ObsWraper::log().clear();
    Import import(TestModel::block(2, 2, 2));
    import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
    const auto stages = events.stages();
    ASSERT_EQ(stages.size(), 2u);
    EXPECT_EQ(stages[0].name, "Face");
    EXPECT_EQ(stages[0].count, 6);
    EXPECT_DOUBLE_EQ(stages[0].weight, 0.8);
    EXPECT_EQ(stages[1].name, "Edge");
    EXPECT_EQ(stages[1].count, 12);
    EXPECT_DOUBLE_EQ(stages[1].weight, 0.2);
    EXPECT_TRUE(stages[0].finished && stages[1].finished && stages[0].lastStage && stages[1].lastStage);
    // Every face, loop, edge, vertex and the body reported once, each to one new entity.
    EXPECT_EQ(events.count("EndTranslate"), 6 + 6 + 12 + 8 + 1);
    EXPECT_EQ(events.targetsOf(import.id(qelx_test::KindFace, 0).GetValue()).size(), 1u);
    // Face progress counts every face, and edge progress restarts at 1
    // after the faces and counts every edge.
    std::vector<long long> faceDone, edgeDone;
    for (const Gk_ObsCall& c : Gk_ObsWraper::log())
        if (c.call == "setDone" && (c.observer == "ImportSurfacePhase" || c.observer == "ImportCurvePhase"))
            (c.observer == "ImportSurfacePhase" ? faceDone : edgeDone).push_back(c.value);
    EXPECT_EQ(faceDone, (std::vector<long long>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(edgeDone, (std::vector<long long>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(TopologyCreator, LooseFacesMakeAsManyBodiesAsTheySeparateInto)
{
    // A body holding faces directly: all six faces of a block make one body;
    // two opposite faces, which share nothing, make two.
    const TestModel block = TestModel::block(2, 3, 4);
    const auto shareAnEdge = [&](int f, int g) {
        for (const qelx_test::TestEdge& e : block.edges) {
            bool inF = false, inG = false;
            for (int c : e.coedges) {
                inF = inF || block.loops[block.coedges[c].loop].face == f;
                inG = inG || block.loops[block.coedges[c].loop].face == g;
            }
            if (inF && inG)
                return true;
        }
        return false;
    };
    int opposite = 1;
    while (shareAnEdge(0, opposite))
        ++opposite;
    struct LooseCase {
        std::vector<int> faces;
        std::size_t bodies;
        int edges;
    };
    for (const LooseCase& c : {LooseCase{{0, 1, 2, 3, 4, 5}, 1, 12}, LooseCase{{0, opposite}, 2, 8}}) {
        TestModel model = block;
        model.bodies[0].faces = c.faces;
        model.bodies[0].lumps.clear();
        Import import(model);
        import.creator().CreateFaceBodies(import.id(qelx_test::KindBody, 0));
        ASSERT_EQ(import.bodies().size(), c.bodies);
        int edges = 0;
        for (BODY* b : import.bodies()) {
            edges += countsOf(b).edges;
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        }
        EXPECT_EQ(edges, c.edges);
    }
}

TEST_F(TopologyCreator, ABodyWithoutFacesBuildsNothing)
{
    TestModel model = TestModel::block(1, 1, 1);
    model.shells[0].faces.clear();
    Import import(model);
    import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
    EXPECT_TRUE(import.bodies().empty());
}

// A closed edge on a curve the default importer makes an intcurve (a
// cylinder's bottom circle handed as a rational B-spline), its vertex
// written off the curve's start: within the snap distance the vertex is put
// on the curve; farther off it is no rounding of the curve's start and
// stays where it was written. The edge runs with its curve or against it
// (its coedges turned with it, so the faces are as they were): either way
// its start is the circle's point (1, 0, 0).
TEST_F(TopologyCreator, AClosedSplineEdgesVertexIsPutOnItsCurveOnlyWithinTheSnapDistance)
{
    for (const bool reversed : {false, true})
    for (const double gap : {0.5 * Gk_Def::FuzzSnap, 5.0 * Gk_Def::FuzzSnap}) {
        SCOPED_TRACE(std::string(reversed ? "edge against its curve, " : "edge with its curve, ") + std::to_string(gap));
        qelx_test::OptionScope options;
        options.on("/XVelm/UseDefaultGeomImporter");
        TestModel model = TestModel::cylinder(1.0, 2.0);
        int bottom = -1;
        for (int e = 0; e < static_cast<int>(model.edges.size()); ++e)
            if (model.edges[e].start == model.edges[e].end && std::fabs(model.curvePoint(model.edges[e].curve, 0.0)[2]) < 1e-12)
                bottom = e;
        ASSERT_GE(bottom, 0);
        // The unit circle about +z in z = 0 from (1, 0, 0): four rational arcs.
        qelx_test::TestNurbs circle;
        circle.degree = 2;
        circle.count = 9;
        circle.form = 1;
        const double w = std::sqrt(0.5);
        for (int k = 0; k < 9; ++k) {
            const double reach = (k % 2) ? 1.0 / w : 1.0;
            circle.ctrl.insert(circle.ctrl.end(), {reach * std::cos(k * M_PI / 4), reach * std::sin(k * M_PI / 4), 0.0});
            circle.weights.push_back((k % 2) ? w : 1.0);
        }
        for (int k = 0; k <= 4; ++k)
            circle.knots.push_back(k * M_PI / 2);
        circle.mults = {3, 2, 2, 2, 3};
        qelx_test::TestCurve& curve = model.curves[model.edges[bottom].curve];
        curve.type = qelx_test::CurvNurbs;
        curve.nurbs = circle;
        if (reversed) {
            // The edge at -t, from its start at t = 2 pi; each coedge turned
            // against it keeps its own parameter, pcurve and direction.
            qelx_test::TestEdge& e = model.edges[bottom];
            e.sense = false;
            const double d0 = e.domain[0], d1 = e.domain[1];
            e.domain[0] = -d1;
            e.domain[1] = -d0;
            for (const int c : e.coedges)
                model.coedges[c].sense = !model.coedges[c].sense;
        }
        const int v = model.edges[bottom].start;
        model.moveVertexOffCurve(v, gap);
        const QELXPoint3D written = model.point(model.vertices[v].point);
        ASSERT_GT((written - QELXPoint3D(1.0, 0.0, 0.0)).Length(), 0.9 * gap);

        Import import(model);
        import.useDefaultGeometryImporter();
        import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
        ASSERT_EQ(import.bodies().size(), 1u);
        EDGE* edge = import.creator().GetEdge(import.id(qelx_test::KindEdge, bottom), false);
        ASSERT_NE(edge, nullptr);
        ASSERT_EQ(edge->geometry()->type(), 11);
        const QELposition at = edge->start()->geometry()->coords();
        const QELXPoint3D got(at.x(), at.y(), at.z());
        if (gap < Gk_Def::FuzzSnap)
            EXPECT_LT((got - QELXPoint3D(1.0, 0.0, 0.0)).Length(), 1e-9);
        else
            EXPECT_LT((got - written).Length(), 1e-12);
    }
}

TEST_F(TopologyCreator, ADefaultImportedIntcurveIsRebuiltOnItsTwoFaces)
{
    // The shared edge's line handed over as a spline: the framework's importer
    // makes an intcurve, which is rebuilt over the edge with both faces'
    // surfaces (when intcurves are asked for) and their pcurves.
    for (bool withSurfaces : {false, true}) {
        SCOPED_TRACE(withSurfaces ? "intcurves with surfaces" : "plain intcurves");
        qelx_test::OptionScope options;
        options.on("/XVelm/UseDefaultGeomImporter");
        if (withSurfaces)
            options.on("/XVelm/CreateIntCurve");
        TestModel model = TestModel::twoFacesSharingEdge();
        int shared = -1;
        for (int e = 0; e < static_cast<int>(model.edges.size()); ++e)
            if (model.edges[e].coedges.size() == 2)
                shared = e;
        ASSERT_GE(shared, 0);
        model.kinkCurve(model.edges[shared].curve, 0.0);
        Import import(model);
        import.useDefaultGeometryImporter();
        import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
        ASSERT_EQ(import.bodies().size(), 1u);
        EXPECT_EQ(findingsOf(import.bodies()[0]), std::vector<std::string>());
        EDGE* edge = import.creator().GetEdge(import.id(qelx_test::KindEdge, shared), false);
        ASSERT_NE(edge, nullptr);
        ASSERT_EQ(edge->geometry()->type(), 11);
        const auto& rebuilt = static_cast<const intcurve&>(edge->geometry()->equation());
        EXPECT_EQ(rebuilt.surf1() != nullptr, withSurfaces);
        EXPECT_EQ(rebuilt.surf2() != nullptr, withSurfaces);
        // The curve runs where the source's does, parameter for parameter.
        const QELinterval range = edge->param_range();
        for (double f : {0.0, 0.3, 1.0}) {
            const double t = range.interpolate(f);
            const QELposition p = edge->geometry()->equation().eval_position(edge->sense() == REVERSED ? -t : t);
            const QELXPoint3D want = import.model().edgePoint(shared, t);
            EXPECT_LT((QELXPoint3D(p.x(), p.y(), p.z()) - want).Length(), 1e-9) << f;
        }
        for (COEDGE* c : {edge->coedge(), edge->coedge()->partner()})
            EXPECT_NE(c->geometry(), nullptr);
    }
}

namespace {

// The NURBS sheet of TestModel::nurbsSheet (its side at u = 1 the line from
// (1, 0, 0) to (1, 1, 0.1)) and a flat bilinear patch beside it sharing that
// side: the shared edge's curve is a spline, both faces' surfaces splines.
// The index of the shared edge and of the patch's coedge on it.
TestModel twoSplineFacesSharingASplineEdge(int& shared, int& against)
{
    TestModel m = TestModel::nurbsSheet();
    const int shell = 0;
    if (m.shells.size() != 1 || m.shells[0].faces.size() != 1)
        return m;
    shared = -1;
    for (int e = 0; e < static_cast<int>(m.edges.size()); ++e)
        if (std::fabs(m.point(m.vertices[m.edges[e].start].point)[0] - 1.0) < 1e-12 &&
            std::fabs(m.point(m.vertices[m.edges[e].end].point)[0] - 1.0) < 1e-12)
            shared = e;
    const int a = m.edges[shared].start, b = m.edges[shared].end; // (1, 0, 0) and (1, 1, 0.1)
    const int patch = m.addNurbsSurface(1, 1, 2, 2, {1, 0, 0, 1, 1, 0.1, 2, 0, 0, 2, 1, 0.1}, {0, 1}, {2, 2}, {0, 1}, {2, 2});
    const int c = m.addVertex({2, 0, 0}), d = m.addVertex({2, 1, 0.1});
    const int bottom = m.addEdge(m.addLine({1, 0, 0}, {2, 0, 0}), a, c, 0, 1);
    const int side = m.addEdge(m.addLine({2, 0, 0}, {2, 1, 0.1}), c, d, 0, std::sqrt(1.01));
    const int top = m.addEdge(m.addLine({1, 1, 0.1}, {2, 1, 0.1}), b, d, 0, 1);
    const int face = m.addFace(shell, patch);
    m.faces[face].category = 0;
    const int loop = m.addLoop(face);
    m.addCoedge(loop, bottom, true, m.addLinePCurve({0, 0}, {1, 0}, 0, 1));
    m.addCoedge(loop, side, true, m.addLinePCurve({1, 0}, {1, 1}, 0, std::sqrt(1.01)));
    m.addCoedge(loop, top, false, m.addLinePCurve({1, 1}, {0, 1}, -1, 0));
    against = m.addCoedge(loop, shared, false, m.addLinePCurve({0, 1}, {0, 0}, -1, 0));
    return m;
}

} // namespace

// A coedge on a spline face that came without a pcurve, against its edge,
// the edge's curve one the default importer makes an intcurve: with the
// kernel's pcurve fit refused (only that call), the fit on the spline's own
// B-spline stands in, and the intcurve rebuilt over both faces keeps each
// coedge's pcurve running with its coedge; the sheet checks clean.
TEST_F(TopologyCreator, ARebuiltIntcurveKeepsAStandInPcurveRunningWithItsCoedge)
{
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "the kernel's fit refused" : "the kernel's fit");
        qelx_test::OptionScope options;
        options.on("/XVelm/UseDefaultGeomImporter");
        int shared = -1, against = -1;
        TestModel model = twoSplineFacesSharingASplineEdge(shared, against);
        ASSERT_GE(against, 0);
        model.dropPCurve(against);
        Import import(model);
        import.useDefaultGeometryImporter();
        if (refused)
            velm_test_fail_call("sg_add_pcurve_to_coedge", 1, qelvelm_api_errmod.message_code(0));
        import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
        EXPECT_FALSE(velm_test_injection_pending());
        velm_test_reset();
        ASSERT_EQ(import.bodies().size(), 1u);
        EXPECT_EQ(findingsOf(import.bodies()[0]), std::vector<std::string>());
        EDGE* edge = import.creator().GetEdge(import.id(qelx_test::KindEdge, shared), false);
        ASSERT_NE(edge, nullptr);
        ASSERT_EQ(edge->geometry()->type(), 11);
        for (COEDGE* c : {edge->coedge(), edge->coedge()->partner()}) {
            ASSERT_NE(c->geometry(), nullptr);
            const surface& on = c->loop()->face()->geometry()->equation();
            const QELinterval r = c->param_range();
            for (const auto& [t, v] : {std::pair(r.start_pt(), c->start()), std::pair(r.end_pt(), c->end())})
                EXPECT_LT(distance(on.eval_position(c->geometry()->def().eval_position(t)), v->geometry()->coords()), 1e-6)
                    << (c->sense() == edge->sense() ? "along" : "against") << " the edge";
        }
    }
}

// A face whose every loop bounds nothing (a loop without coedges, or an apex
// loop whose vertex the source does not have) goes, named, and the rest of
// its sheet is built clean; kept, it would be a face without loops, the
// whole of its surface.
TEST_F(TopologyCreator, AFaceWhoseEveryLoopGoesIsLeftOutNamedAndTheRestBuilt)
{
    for (const int emptyLoops : {1, 2})
        for (const bool apex : {false, true}) {
            SCOPED_TRACE(std::to_string(emptyLoops) + (apex ? " apex loops without a vertex" : " loops without coedges"));
            TestModel model = TestModel::twoFacesSharingEdge();
            ASSERT_FALSE(model.bodies[0].shells2D.empty());
            const int shell = model.bodies[0].shells2D[0];
            const int face = model.addFace(shell, model.faces[0].surface, model.faces[0].sense);
            for (int k = 0; k < emptyLoops; ++k) {
                const int loop = model.addLoop(face);
                model.loops[loop].degenerate = apex;
            }
            qelx_test::EventRecorder events;
            Import import(model);
            import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
            ASSERT_EQ(import.bodies().size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            BODY* body = import.bodies()[0];
            EXPECT_EQ(countsOf(body).faces, 2);
            EXPECT_EQ(findingsOf(body), std::vector<std::string>());
            const std::vector<std::string> warnings = events.names("Warning");
            int named = 0;
            for (const std::string& w : warnings)
                named += w.find("not imported, its loops bound nothing") != std::string::npos;
            EXPECT_EQ(named, 1) << ::testing::PrintToString(warnings);
        }
}
