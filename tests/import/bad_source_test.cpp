// Bad source data: a body the kernel cannot hold together is refused with a
// warning that names it; nothing crashes and nothing is left behind.
#include "import_test_support.hxx"

#include <functional>
#include <string>
#include <limits>

using namespace importtest;
using qelx_test::TestModel;

namespace {

struct BadCase {
    const char* what;
    std::function<void(TestModel&)> spoil;
    bool kept;      // the body survives (the fault is healing's business)
    const char* warning; // a fragment of the first warning, or null for none
    std::size_t warnings = 1; // how many: the entity named, then its body refused
};

int faceOfCoedge(const TestModel& m, int c) { return m.loops[m.coedges[c].loop].face; }

} // namespace

class BadSource : public ImportTest {};

TEST_F(BadSource, EachFaultFailsOrKeepsItsBodyWithAMessageAndLeaksNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<BadCase> cases = {
        {"dangling edge reference", [](TestModel& m) { m.coedges[0].edge = 999; }, false, "BRep body"},
        {"dangling vertex reference", [](TestModel& m) { m.edges[3].start = 999; }, false, "BRep body"},
        {"a loop of another face", [](TestModel& m) { m.faces[0].loops = m.faces[1].loops; }, false, "BRep body"},
        {"edge without curve", [](TestModel& m) { m.dropCurve(2); }, false, "BRep body"},
        {"face without surface", [](TestModel& m) { m.faces[4].surface = -1; }, true, "FACE with NULL geometry", 2},
        {"vertex at NaN", [nan](TestModel& m) { m.points[m.vertices[5].point] = {nan, 0.0, 1.0}; }, false,
         "BRep vertex 9000000000006", 2},
        {"curve with NaN", [nan](TestModel& m) { m.curves[m.edges[1].curve].p[0] = nan; }, false, "BRep body"},
        {"loop that does not close", [](TestModel& m) { m.loops[2].coedges.pop_back(); }, false, "BRep body"},
        {"edge with three coedges", [](TestModel& m) { m.addThirdCoedge(0); }, false, "BRep body"},
        // Unanswered domains leave each edge the range its curve and vertices give.
        {"edge domains unanswered", [](TestModel& m) { m.forceAnswer("GetEdgeDomain", QELI_FAIL); }, true, nullptr},
        // A second mention of a face's own loop or of a loop's own coedge
        // is no new member: the first stands and the body is sound.
        {"a face listing its loop twice", [](TestModel& m) { m.faces[0].loops.push_back(m.faces[0].loops[0]); }, true,
         nullptr},
        {"a loop listing a coedge twice", [](TestModel& m) { m.loops[2].coedges.push_back(m.loops[2].coedges[1]); },
         true, nullptr},
        {"a shell listing a face twice", [](TestModel& m) { m.shells[0].faces.push_back(m.shells[0].faces[2]); }, true,
         nullptr},
        {"an edge listing its coedge twice", [](TestModel& m) { m.edges[3].coedges.push_back(m.edges[3].coedges[0]); },
         true, nullptr},
        {"a loop with coedges also said to be an apex loop",
         [](TestModel& m) {
             m.loops[2].degenerate = true;
             m.loops[2].vertex = m.edges[m.coedges[m.loops[2].coedges[0]].edge].start;
         },
         true, nullptr},
        {"edge listing a coedge of another edge",
         [](TestModel& m) { m.edges[0].coedges.push_back(m.edges[1].coedges[0]); }, false, "BRep body"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel model = TestModel::block(2, 3, 4);
        c.spoil(model);
        qelx_test::EventRecorder events;
        const long live = velm_live_object_count();
        auto owned = std::make_unique<Import>(model);
        Import& import = *owned;
        import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
        const std::vector<std::string> warnings = events.names("Warning");
        EXPECT_EQ(import.bodies().size(), c.kept ? 1u : 0u) << ::testing::PrintToString(warnings);
        if (c.warning) {
            ASSERT_EQ(warnings.size(), c.warnings) << ::testing::PrintToString(warnings);
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
            if (!c.kept) {
                EXPECT_NE(warnings.back().find("1000000000001"), std::string::npos) << "names the source body";
            }
        } else {
            EXPECT_TRUE(warnings.empty()) << ::testing::PrintToString(warnings);
        }
        if (c.warning == nullptr) {
            for (BODY* b : import.bodies())
                EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        }
        for (BODY* b : import.bodies())
            for (const std::string& f : findingsOf(b))
                EXPECT_EQ(f.find("loop"), std::string::npos) << f;
        // A refused body's entities are never handed out again.
        if (!c.kept) {
            EXPECT_EQ(import.creator().GetEdge(import.id(qelx_test::KindEdge, 5), false), nullptr);
            (void)faceOfCoedge;
        }
        owned.reset();
        EXPECT_EQ(velm_live_object_count(), live) << "left behind";
    }
}

// A face without surface, whichever of the block's it is, goes from its body
// with the fixed warning and then one naming the source's face; no later
// lookup hands the removed face out.
TEST_F(BadSource, AFaceWithoutSurfaceIsNamedAndForgotten)
{
    for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE("face " + std::to_string(f));
        TestModel model = TestModel::block(2, 3, 4);
        model.faces[static_cast<std::size_t>(f)].surface = -1;
        qelx_test::EventRecorder events;
        Import import(model);
        import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
        const std::vector<std::string> warnings = events.names("Warning");
        ASSERT_EQ(warnings.size(), 2u) << ::testing::PrintToString(warnings);
        EXPECT_NE(warnings[0].find("FACE with NULL geometry"), std::string::npos) << warnings[0];
        EXPECT_EQ(warnings[1], "BRep face " + std::to_string(5000000000001LL + f) + ": not imported, it has no surface");
        ASSERT_EQ(import.bodies().size(), 1u);
        ENTITY_LIST faces;
        api_get_faces(import.bodies()[0], faces);
        EXPECT_EQ(faces.iteration_count(), 5);
        EXPECT_EQ(import.creator().GetFace(import.id(qelx_test::KindFace, f)), nullptr);
    }
}

TEST_F(BadSource, AKernelFailureWhileBuildingTakesTheWholeBodyBack)
{
    // Every allocation of an edge in turn fails; the body is either whole or
    // absent, and a failure is named.
    for (int nth = 1; nth <= 12; ++nth) {
        SCOPED_TRACE("edge allocation " + std::to_string(nth));
        qelx_test::EventRecorder events;
        Import import(TestModel::block(1, 2, 3));
        velm_test_fail_alloc("QELXVelmEdgePair", nth);
        import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
        velm_test_reset();
        for (BODY* b : import.bodies())
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        if (import.bodies().empty()) {
            EXPECT_EQ(events.names("Warning").size(), 1u);
        }
    }
}

TEST_F(BadSource, ABodyRefusedBesideAKeptOneSharingItsVertexLeavesTheKeptOneWhole)
{
    // A block, then a triangle sheet of the same source standing on one of
    // the block's corners (the same source vertex, so the same kernel vertex)
    // whose loop is spoiled so that the sheet is built and then refused. The
    // block's corner lets go of the sheet's edges: every edge it lists is one
    // of the block's, and the block checks clean.
    const std::vector<std::pair<const char*, std::function<void(TestModel&, int)>>> spoils = {
        {"a loop that does not close", [](TestModel& m, int loop) { m.loops[loop].coedges.pop_back(); }},
        {"an edge with three coedges",
         [](TestModel& m, int loop) { m.addThirdCoedge(m.coedges[m.loops[loop].coedges[0]].edge); }},
    };
    for (const auto& [what, spoil] : spoils)
        for (const int corner : {0, 6}) {
            SCOPED_TRACE(testing::Message() << what << ", corner " << corner);
            TestModel model = TestModel::block(2, 3, 4);
            int shell = -1;
            model.addSheetBody(shell);
            const qelx_test::Vec3 p = model.points[model.vertices[corner].point];
            const double out = corner == 0 ? -1.0 : 1.0;
            const int v1 = model.addVertex({p[0] + out, p[1], p[2]});
            const int v2 = model.addVertex({p[0], p[1] + out, p[2]});
            const int plane = model.addPlane(p, {1.0, 0.0, 0.0}, {0.0, 0.0, out});
            const int face = model.addPolygonFace(shell, plane, {{corner, v1, v2}});
            spoil(model, model.faces[face].loops[0]);
            qelx_test::EventRecorder events;
            const long live = velm_live_object_count();
            {
                Import import(model);
                import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
                import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 1));
                const std::vector<BODY*> bodies = import.bodies();
                ASSERT_EQ(bodies.size(), 1u) << ::testing::PrintToString(events.names("Warning"));
                EXPECT_EQ(countsOf(bodies[0]).faces, 6);
                EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
                ENTITY_LIST vertices, edges;
                api_get_vertices(bodies[0], vertices);
                api_get_edges(bodies[0], edges);
                for (int i = 0; i < vertices.count(); ++i) {
                    const auto* vertex = static_cast<const VERTEX*>(vertices[i]);
                    for (int k = 0; k < vertex->count_edges(); ++k)
                        EXPECT_GE(edges.lookup(vertex->edge(k)), 0) << "vertex " << i << ", edge " << k;
                }
            }
            EXPECT_EQ(velm_live_object_count(), live) << "left behind";
        }
}

namespace {

// A whole sphere bounded as another system writes it: one loop walking a
// half circle from pole to pole up one side and down the other, at the
// source's seam (longitude 0, a slit for the kernel) or at the kernel's own
// (longitude pi, the two sides a period apart). `sameWay` walks it up twice
// instead: no slit, a loop that is wrong.
TestModel sphereBoundedBySeam(bool kernelSeam, bool sameWay)
{
    TestModel m;
    int shell = -1;
    m.addSolidBody(shell);
    const int face = m.addFace(shell, m.addSphere({0, 0, 0}, 2.0));
    const int south = m.addVertex({0, 0, -2}), north = m.addVertex({0, 0, 2});
    const double side = kernelSeam ? 1.0 : -1.0;  // through (-2, 0, 0) or (2, 0, 0)
    const int seam = m.addEdge(m.addEllipse({0, 0, 0}, {0, 0, -1}, {0, side, 0}, 2.0, 2.0, 0.0, M_PI), south, north, 0.0, M_PI);
    const double up = kernelSeam ? M_PI : 0.0, down = kernelSeam ? -M_PI : 0.0;
    const int loop = m.addLoop(face);
    m.addCoedge(loop, seam, true, m.addLinePCurve(QELXPoint2D(-M_PI / 2, up), QELXPoint2D(M_PI / 2, up), 0.0, M_PI));
    if (sameWay)
        m.addCoedge(loop, seam, true, m.addLinePCurve(QELXPoint2D(-M_PI / 2, down), QELXPoint2D(M_PI / 2, down), 0.0, M_PI));
    else
        m.addCoedge(loop, seam, false, m.addLinePCurve(QELXPoint2D(M_PI / 2, down), QELXPoint2D(-M_PI / 2, down), -M_PI, 0.0));
    return m;
}

// A sphere whose one face holds two loops between the poles over two
// meridians (longitude 0 and a quarter turn on): each loop runs up one and
// down the other, the second the other way round, so that every coedge's
// partner lies in the other loop. Neither cuts nothing off the sphere: no
// slit, loops that are wrong.
TestModel sphereOfTwoLunes()
{
    TestModel m;
    int shell = -1;
    m.addSolidBody(shell);
    const int face = m.addFace(shell, m.addSphere({0, 0, 0}, 2.0));
    const int south = m.addVertex({0, 0, -2}), north = m.addVertex({0, 0, 2});
    // Through (2, 0, 0) and through (0, 2, 0).
    const int first = m.addEdge(m.addEllipse({0, 0, 0}, {0, 0, -1}, {0, -1, 0}, 2.0, 2.0, 0.0, M_PI), south, north, 0.0, M_PI);
    const int second = m.addEdge(m.addEllipse({0, 0, 0}, {0, 0, -1}, {1, 0, 0}, 2.0, 2.0, 0.0, M_PI), south, north, 0.0, M_PI);
    const auto up = [&](int loop, int edge, double at) {
        m.addCoedge(loop, edge, true, m.addLinePCurve(QELXPoint2D(-M_PI / 2, at), QELXPoint2D(M_PI / 2, at), 0.0, M_PI));
    };
    const auto down = [&](int loop, int edge, double at) {
        m.addCoedge(loop, edge, false, m.addLinePCurve(QELXPoint2D(M_PI / 2, at), QELXPoint2D(-M_PI / 2, at), -M_PI, 0.0));
    };
    const int one = m.addLoop(face);
    up(one, first, 0.0);
    down(one, second, M_PI / 2);
    const int other = m.addLoop(face);
    up(other, second, M_PI / 2);
    down(other, first, 0.0);
    return m;
}

} // namespace

// The seam walked both ways at the source's seam cuts nothing off the
// sphere: the loop goes and the sphere is whole, with no loop, sound. At the
// kernel's own seam the loop is sound and stays. Walked the same way twice
// it is no slit, nor are two loops whose coedges' partners lie in each
// other: the body is refused and named.
TEST_F(BadSource, ASphereBoundedByItsSeamIsWholeAndOneWalkedOneWayIsRefused)
{
    struct Case {
        const char* name;
        bool kernelSeam, sameWay;
        int loops; // of the body kept; -1 for none kept
    };
    const Case cases[] = {
        {"the source's seam walked both ways", false, false, 0},
        {"the kernel's seam walked both ways", true, false, 1},
        {"the seam walked the same way twice", false, true, -1},
        {"two loops over two meridians, each coedge's partner in the other loop", false, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const long live = velm_live_object_count();
        {
            qelx_test::EventRecorder events;
            Import import(std::string(c.name).rfind("two loops", 0) == 0 ? sphereOfTwoLunes()
                                                                          : sphereBoundedBySeam(c.kernelSeam, c.sameWay));
            import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
            const std::vector<std::string> warnings = events.names("Warning");
            if (c.loops < 0) {
                EXPECT_TRUE(import.bodies().empty());
                ASSERT_FALSE(warnings.empty());
                EXPECT_NE(warnings.back().find("1000000000001"), std::string::npos) << warnings.back();
            } else {
                ASSERT_EQ(import.bodies().size(), 1u) << ::testing::PrintToString(warnings);
                ENTITY_LIST faces, loops, edges;
                api_get_faces(import.bodies()[0], faces);
                api_get_loops(import.bodies()[0], loops);
                api_get_edges(import.bodies()[0], edges);
                EXPECT_EQ(faces.iteration_count(), 1);
                EXPECT_EQ(loops.iteration_count(), c.loops);
                EXPECT_EQ(edges.iteration_count(), c.loops);
                EXPECT_EQ(findingsOf(import.bodies()[0]), std::vector<std::string>());
            }
        }
        EXPECT_EQ(velm_live_object_count(), live) << "left behind";
    }
}
