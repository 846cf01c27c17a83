// Wire import: source wires become kernel wire bodies whose edges and vertices
// are shared through the wire catalogues; point wires become acorn or polyline
// bodies. Every body in every frame is clean under the kernel's checker.
#include "import_test_support.hxx"

#include "import/wire_creator.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"
#include "velm/lists.hxx"
#include "velm/tolerant.hxx"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

using namespace importtest;
using qelx_test::TestModel;

namespace {

// The wire creator over a source model in a frame; what it hands back is
// deleted at the end.
class WireImport {
public:
    explicit WireImport(TestModel model, const QELXMorph3D& morph = QELXMorph3D(), bool attributes = true)
        : m_document(std::move(model)), m_source(&m_document), m_context(&m_target, &m_document),
          m_attributes(attributes)
    {
        m_context.SetMorph(morph);
        m_creator = std::make_unique<QELXVelmWireCreator>(source(), &m_context, &m_importer);
    }
    WireImport(const WireImport&) = delete;
    WireImport& operator=(const WireImport&) = delete;
    ~WireImport()
    {
        for (BODY* b : m_bodies)
            api_del_entity(b);
        if (QELXVelmLayerImporter* layers = m_importer.GetLayerImporter())
            for (QELGROUP* g : layers->GetLayers())
                api_del_entity(g);
    }

    QELXVelmWireCreator& creator() { return *m_creator; }
    qelx_test::TestModel& model() { return m_document.model(); }
    QELXIdentifier body(int index = 0) { return m_source.id(qelx_test::KindBody, index); }
    qelx_test::TestBRepExporter& exporter() { return m_source; }
    // The numbers of the layer groups the entity was put on.
    std::vector<int> layersOf(ENTITY* entity) { return importtest::layersOf(m_importer.GetLayerImporter(), entity); }

    // Runs the wire road and then the point-wire road, as the importer does.
    std::vector<BODY*> run(int index = 0)
    {
        std::vector<BODY*> made;
        for (int road = 0; road < 2; ++road) {
            Ve_CocoonTagHandle cocoon;
            if (road == 0)
                m_creator->CreateWireBodies(cocoon, body(index));
            else
                m_creator->CreateAcornBodies(cocoon, body(index));
            if (cocoon.get())
                for (Ve_BodyTag* b : cocoon->getBodies())
                    made.push_back(reinterpret_cast<BODY*>(b));
        }
        m_bodies.insert(m_bodies.end(), made.begin(), made.end());
        return made;
    }

private:
    // The test exporter, optionally without attribute exporter.
    class Source : public qelx_test::TestBRepExporter {
    public:
        Source(qelx_test::TestDocument* document, bool attributes)
            : TestBRepExporter(document), m_attributes(attributes)
        {
        }
        QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override
        {
            if (m_attributes)
                return TestBRepExporter::GetAttributeExporter(out);
            out = nullptr;
            return QELI_FAIL;
        }
        bool m_attributes;
    };
    QELXBRepExporter* source()
    {
        if (!m_attributes) {
            m_bare = std::make_unique<Source>(&m_document, false);
            return m_bare.get();
        }
        return &m_source;
    }

    qelx_test::TestDocument m_document;
    qelx_test::TestBRepExporter m_source;
    std::unique_ptr<Source> m_bare;
    QELXVelmDocument m_target;
    Gk_ImportContext m_context;
    QELXVelmBRepImporter m_importer;
    bool m_attributes;
    std::unique_ptr<QELXVelmWireCreator> m_creator;
    std::vector<BODY*> m_bodies;
};

QELXPoint3D positionOf(const VERTEX* v)
{
    const QELposition p = v->geometry()->coords();
    return QELXPoint3D(p.x(), p.y(), p.z());
}

std::vector<QELXPoint3D> verticesOf(BODY* body)
{
    ENTITY_LIST list;
    api_get_vertices(body, list);
    std::vector<QELXPoint3D> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(positionOf(static_cast<VERTEX*>(list[i])));
    return out;
}

// Every wanted point among the body's vertices.
void expectPoints(BODY* body, const std::vector<QELXPoint3D>& wanted)
{
    const std::vector<QELXPoint3D> have = verticesOf(body);
    for (const QELXPoint3D& w : wanted) {
        double best = 1e300;
        for (const QELXPoint3D& h : have)
            best = std::min(best, (h - w).Length());
        EXPECT_LT(best, 1e-9) << w.x() << " " << w.y() << " " << w.z();
    }
}

int wiresOf(BODY* body)
{
    ENTITY_LIST list;
    api_get_wires(body, list);
    return list.count();
}

QELXPoint3D at(const qelx_test::Vec3& v, const QELXMorph3D& morph) { return morph.Apply(QELXPoint3D(v[0], v[1], v[2])); }

// A body of one wire over the edges, with the vertices of its own given.
void addWireBody(TestModel& m, std::vector<int> edges, std::vector<int> vertices = {})
{
    const int body = m.addBody();
    qelx_test::TestWire wire;
    wire.edges = std::move(edges);
    wire.vertices = std::move(vertices);
    m.bodies[body].wires.push_back(static_cast<int>(m.wires.size()));
    m.wires.push_back(wire);
}

// An edge on the straight line from vertex a to vertex b, at unit speed.
int lineEdge(TestModel& m, int a, int b)
{
    const qelx_test::Vec3 p = m.points[m.vertices[a].point], q = m.points[m.vertices[b].point];
    const double length = std::hypot(q[0] - p[0], q[1] - p[1], q[2] - p[2]);
    return m.addEdge(m.addLine(p, q), a, b, 0.0, length);
}

// An edge on the whole unit circle about the origin in z = 0, closed at vertex v.
int unitCircleEdge(TestModel& m, int v)
{
    return m.addEdge(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1.0, 1.0, 0.0, 2.0 * M_PI), v, v, 0.0, 2.0 * M_PI);
}

// Two wires of a body that meet at their shared vertex 2 (edges 0, 1 and 2).
TestModel twoWiresSharingAVertex()
{
    TestModel m = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 2}});
    qelx_test::TestWire second;
    second.edges = {m.wires[0].edges[2]};
    m.wires[0].edges.pop_back();
    m.wires.push_back(second);
    m.bodies[0].wires.push_back(1);
    return m;
}

// A polyline whose middle edge runs from its third point back to its second.
TestModel edgeRunningBack()
{
    TestModel m = TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {2, 3, 1}});
    qelx_test::TestEdge& e = m.edges[1];
    std::swap(e.start, e.end);
    e.sense = false;
    e.domain[0] = -3.0;
    e.domain[1] = 0.0;
    return m;
}

} // namespace

class WireRoad : public ImportTest {};

TEST_F(WireRoad, ConnectedWiresShareVerticesAndChainInEveryFrame)
{
    struct Case {
        const char* what;
        TestModel model;
        int edges, vertices;
        bool closed;
    };
    std::vector<Case> cases = {
        {"open polyline", TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {2, 3, 1}}), 3, 4, false},
        {"closed polyline", TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 0, 0}}), 3, 4, true},
        {"two wires sharing a vertex", twoWiresSharingAVertex(), 3, 4, false},
        {"an edge running back", edgeRunningBack(), 3, 4, false}};
    // The closed polyline's last vertex is its first.
    TestModel& closed = cases[1].model;
    closed.edges[2].end = 0;
    closed.vertices[0].edges.push_back(2);
    closed.vertices[3].edges.clear();
    closed.wires[0].vertices.pop_back();
    cases[1].vertices = 3;
    for (Case& c : cases)
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + " in the " + frame.name + " frame");
            qelx_test::EventRecorder events;
            WireImport import(c.model, frame.morph);
            const std::vector<BODY*> bodies = import.run();
            ASSERT_EQ(bodies.size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            const Counts n = countsOf(bodies[0]);
            EXPECT_EQ(n.edges, c.edges);
            EXPECT_EQ(n.vertices, c.vertices);
            EXPECT_EQ(n.coedges, c.edges);
            EXPECT_EQ(wiresOf(bodies[0]), 1);
            EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
            std::vector<QELXPoint3D> wanted;
            for (const qelx_test::Vec3& p : import.model().points)
                wanted.push_back(at(p, frame.morph));
            expectPoints(bodies[0], wanted);
            // The chain: every coedge's end is the next one's start; only an
            // open wire has free ends.
            ENTITY_LIST coedges;
            api_get_coedges(bodies[0], coedges);
            int freeEnds = 0;
            for (int i = 0; i < coedges.count(); ++i) {
                auto* coedge = static_cast<COEDGE*>(coedges[i]);
                if (!coedge->next())
                    ++freeEnds;
                else
                    EXPECT_EQ(coedge->next()->start(), coedge->end());
            }
            EXPECT_EQ(freeEnds, c.closed ? 0 : 1);
            // One edge stage over the catalogued edges, its items numbered.
            ASSERT_EQ(events.stages().size(), 1u);
            EXPECT_EQ(events.stages()[0].name, "WireEdge");
            EXPECT_EQ(events.count("StartTranslate"), c.edges);
        }
}

TEST_F(WireRoad, SingleEdgeWiresAndSeparateBodies)
{
    struct Case {
        const char* what;
        const char* option;
        std::vector<qelx_test::Vec3> points;
        int bodies, wiresPerBody, edgesPerBody;
    };
    const std::vector<qelx_test::Vec3> three = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
    for (const Case& c : {Case{"single-edge wires", "/XVelm/CreateSingleEdgeWires", three, 1, 3, 3},
                          Case{"separate bodies, one chain", "/XVelm/CreateSeparateWireBodies", three, 1, 1, 3},
                          Case{"separate bodies, one edge", "/XVelm/CreateSeparateWireBodies",
                               {{0, 0, 0}, {1, 0, 0}}, 1, 1, 1}}) {
        SCOPED_TRACE(c.what);
        qelx_test::OptionScope options;
        options.on(c.option);
        WireImport import(TestModel::polylineWire(c.points), rotation(0.3, true));
        const std::vector<BODY*> bodies = import.run();
        ASSERT_EQ(static_cast<int>(bodies.size()), c.bodies);
        for (BODY* b : bodies) {
            EXPECT_EQ(wiresOf(b), c.wiresPerBody);
            EXPECT_EQ(countsOf(b).edges, c.edgesPerBody);
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        }
    }
}

TEST_F(WireRoad, SeparateBodiesFollowTheConnectedChains)
{
    // Two chains in one source body: the separate road hands back one body each.
    TestModel m = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    const int a = m.addVertex({5, 0, 0}), b = m.addVertex({6, 0, 0});
    qelx_test::TestWire other;
    other.edges = {m.addEdge(m.addLine({5, 0, 0}, {6, 0, 0}), a, b, 0.0, 1.0)};
    m.wires.push_back(other);
    m.bodies[0].wires.push_back(1);
    qelx_test::OptionScope options;
    options.on("/XVelm/CreateSeparateWireBodies");
    WireImport import(m);
    const std::vector<BODY*> bodies = import.run();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(countsOf(bodies[0]).edges + countsOf(bodies[1]).edges, 3);
    for (BODY* body : bodies)
        EXPECT_EQ(findingsOf(body), std::vector<std::string>());
}

namespace {

// One wire of one closed edge on a circle of radius 2 about (1, 2, 3): with a
// vertex of its own at (3, 2, 3) over [0, 2 pi], or without, starting a
// radian round and stored along its circle or against it.
TestModel closedCircleWire(bool withVertex, bool reversed)
{
    TestModel m;
    const int circle = m.addEllipse({1, 2, 3}, {1, 0, 0}, {0, 0, 1}, 2.0, 2.0, 0.0, 2.0 * M_PI);
    std::vector<int> vertices;
    if (withVertex) {
        const int v = m.addVertex({3, 2, 3});
        m.addEdge(circle, v, v, 0.0, 2.0 * M_PI);
        vertices = {v};
    } else {
        qelx_test::TestEdge edge;
        edge.curve = circle;
        edge.sense = !reversed;
        edge.domain[0] = reversed ? -1.0 - 2.0 * M_PI : 1.0;
        edge.domain[1] = reversed ? -1.0 : 1.0 + 2.0 * M_PI;
        m.edges.push_back(edge);
    }
    addWireBody(m, {0}, vertices);
    return m;
}

} // namespace

TEST_F(WireRoad, AClosedEdgeIsARingOfOneOnAVertexWhereItStarts)
{
    // Without a vertex of its own the edge gets one where it starts.
    struct Case {
        const char* what;
        bool withVertex, reversed;
    };
    // So it is on the road of single-edge wires.
    for (bool singleEdgeWires : {false, true})
    for (const Case& c : {Case{"with its vertex", true, false}, Case{"without vertices, along its curve", false, false},
                          Case{"without vertices, against its curve", false, true}})
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + ", " + frame.name + (singleEdgeWires ? ", single-edge wires" : ""));
            qelx_test::OptionScope options;
            if (singleEdgeWires)
                options.on("/XVelm/CreateSingleEdgeWires");
            const TestModel m = closedCircleWire(c.withVertex, c.reversed);
            const QELXPoint3D start = frame.morph.Apply(m.edgePoint(0, m.edges[0].domain[0]));
            WireImport import(m, frame.morph);
            const std::vector<BODY*> bodies = import.run();
            ASSERT_EQ(bodies.size(), 1u);
            const Counts n = countsOf(bodies[0]);
            EXPECT_EQ(n.edges, 1);
            EXPECT_EQ(n.vertices, 1);
            expectPoints(bodies[0], {start});
            EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
            ENTITY_LIST coedges;
            api_get_coedges(bodies[0], coedges);
            ASSERT_EQ(coedges.count(), 1);
            auto* coedge = static_cast<COEDGE*>(coedges[0]);
            EXPECT_EQ(coedge->next(), coedge);
            EXPECT_EQ(coedge->previous(), coedge);
        }
}

namespace {

// A polyline whose edges are listed from its middle and whose middle edge
// runs back: the chain must still be walked from a free end.
TestModel edgeRunningBackListedFirst()
{
    TestModel m = edgeRunningBack();
    m.wires[0].edges = {1, 0, 2};
    return m;
}

// The closed polyline (0,0,0) (2,0,0) (2,3,0) round to the start, its second
// edge running back.
TestModel closedWithEdgeRunningBack()
{
    TestModel m = TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 0, 0}});
    m.edges[2].end = 0;
    m.vertices[0].edges.push_back(2);
    m.vertices[3].edges.clear();
    m.wires[0].vertices.pop_back();
    qelx_test::TestEdge& e = m.edges[1];
    std::swap(e.start, e.end);
    e.sense = false;
    e.domain[0] = -3.0;
    e.domain[1] = 0.0;
    return m;
}

// Two edges leaving (0,0,0), for (2,0,0) and (0,3,0): an open chain whose
// middle vertex only starts edges.
TestModel twoEdgesLeavingTheMiddle()
{
    TestModel m;
    const int o = m.addVertex({0, 0, 0}), a = m.addVertex({2, 0, 0}), b = m.addVertex({0, 3, 0});
    addWireBody(m, {lineEdge(m, o, a), lineEdge(m, o, b)});
    return m;
}

// Three edges from the origin to (1,0,0), (0,2,0) and (0,0,3), the second
// stored from its far end: a wire branching three ways.
TestModel threeWayBranch()
{
    TestModel m;
    const int o = m.addVertex({0, 0, 0});
    std::vector<int> edges;
    const std::vector<qelx_test::Vec3> ends{{1, 0, 0}, {0, 2, 0}, {0, 0, 3}};
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const int v = m.addVertex(ends[k]);
        edges.push_back(k == 1 ? lineEdge(m, v, o) : lineEdge(m, o, v));
    }
    addWireBody(m, edges);
    return m;
}

} // namespace

TEST_F(WireRoad, RechainedWiresLinkBothWaysAndABranchingWireBecomesWiresOfOneEdge)
{
    struct Case {
        const char* what;
        TestModel model;
        bool closed, branches;
    };
    const std::vector<Case> cases{{"closed, an edge running back", closedWithEdgeRunningBack(), true, false},
                                  {"open, listed from an edge running back", edgeRunningBackListedFirst(), false,
                                   false},
                                  {"open, both edges leaving the middle", twoEdgesLeavingTheMiddle(), false, false},
                                  {"branching three ways", threeWayBranch(), false, true}};
    for (const Case& c : cases)
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + ", " + frame.name);
            ASSERT_LT(c.model.maxGap(), 1e-9);
            WireImport import(c.model, frame.morph);
            qelx_test::EventRecorder events;
            const std::vector<BODY*> bodies = import.run();
            ASSERT_EQ(bodies.size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
            const int edges = static_cast<int>(c.model.edges.size());
            EXPECT_EQ(countsOf(bodies[0]).edges, edges);
            ENTITY_LIST coedges;
            api_get_coedges(bodies[0], coedges);
            ASSERT_EQ(coedges.count(), edges);
            int freeNext = 0, freePrevious = 0;
            for (int i = 0; i < coedges.count(); ++i) {
                auto* coedge = static_cast<COEDGE*>(coedges[i]);
                if (c.branches) {
                    // A kernel wire is one chain: each edge a wire of its
                    // own, along its edge as the source stores it.
                    EXPECT_EQ(coedge->sense(), FORWARD);
                    EXPECT_EQ(coedge->next(), nullptr);
                    EXPECT_EQ(coedge->previous(), nullptr);
                    continue;
                }
                if (COEDGE* next = coedge->next()) {
                    EXPECT_EQ(next->start(), coedge->end());
                    EXPECT_EQ(next->previous(), coedge);
                } else {
                    ++freeNext;
                }
                if (COEDGE* previous = coedge->previous()) {
                    EXPECT_EQ(previous->end(), coedge->start());
                    EXPECT_EQ(previous->next(), coedge);
                } else {
                    ++freePrevious;
                }
            }
            if (!c.branches) {
                EXPECT_EQ(freeNext, c.closed ? 0 : 1);
                EXPECT_EQ(freePrevious, c.closed ? 0 : 1);
            }
            if (c.closed) {
                // A ring runs the way its first edge does, as the source lists it.
                EDGE* first = import.creator().GetEdge(
                    import.exporter().id(qelx_test::KindEdge, c.model.wires[0].edges[0]), false);
                ASSERT_NE(first, nullptr);
                ASSERT_NE(first->coedge(), nullptr);
                EXPECT_EQ(first->coedge()->sense(), FORWARD);
            }
            EXPECT_EQ(wiresOf(bodies[0]), c.branches ? edges : 1);
            std::vector<QELXPoint3D> wanted;
            for (const qelx_test::Vec3& p : c.model.points)
                wanted.push_back(at(p, frame.morph));
            expectPoints(bodies[0], wanted);
        }
}

TEST_F(WireRoad, AcornBodiesOnePerPointInEveryFrame)
{
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        TestModel m = TestModel::pointWire({{1, 2, 3}, {4, 5, 6}});
        const int second = m.addVertex({-1, 0, 2});
        const int third = m.addVertex({0, -7, 1});
        qelx_test::TestWire wire;
        wire.vertices = {second, third};
        m.wires.push_back(wire);
        m.bodies[0].pointWires.push_back(1);
        qelx_test::EventRecorder events;
        WireImport import(m, frame.morph);
        const std::vector<BODY*> bodies = import.run();
        ASSERT_EQ(bodies.size(), 4u);
        const qelx_test::Vec3 points[] = {{1, 2, 3}, {4, 5, 6}, {-1, 0, 2}, {0, -7, 1}};
        for (int i = 0; i < 4; ++i) {
            const Counts n = countsOf(bodies[i]);
            EXPECT_EQ(n.vertices, 1);
            EXPECT_EQ(n.edges, 1);
            EXPECT_TRUE(ve_view<Ve_BodyTag>(bodies[i])->isVertexBody());
            expectPoints(bodies[i], {at(points[i], frame.morph)});
            EXPECT_EQ(findingsOf(bodies[i]), std::vector<std::string>());
        }
        // A vertex and a body reported per point.
        EXPECT_EQ(events.count("EndTranslate"), 8);
    }
}

TEST_F(WireRoad, PolylinesJoinThePointsOfEachPointWire)
{
    struct Case {
        const char* what;
        std::vector<qelx_test::Vec3> points;
        int edges, vertices;
        bool curveless;
    };
    for (const Case& c : {Case{"two points", {{0, 0, 0}, {3, 4, 0}}, 1, 2, false},
                          Case{"first two coincide", {{1, 1, 1}, {1, 1, 1 + 1e-9}, {4, 5, 1}}, 1, 2, false},
                          // Short, but far longer than the kernel's resolution: an edge.
                          Case{"two points 1e-4 apart", {{1, 1, 1}, {1, 1 + 1e-4, 1}}, 1, 2, false},
                          Case{"four points", {{0, 0, 0}, {1, 0, 0}, {1, 2, 0}, {0, 2, 3}}, 3, 4, false},
                          Case{"one point", {{2, 3, 4}}, 1, 1, true},
                          Case{"all coincide", {{2, 3, 4}, {2, 3, 4}}, 1, 1, true}})
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + " in the " + frame.name + " frame");
            qelx_test::OptionScope options;
            options.on("/XVelm/PsetToPolyline");
            TestModel m = TestModel::pointWire(c.points);
            m.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].pset = "P1";
            WireImport import(m, frame.morph);
            const std::vector<BODY*> bodies = import.run();
            ASSERT_EQ(bodies.size(), 1u);
            const Counts n = countsOf(bodies[0]);
            EXPECT_EQ(n.edges, c.edges);
            EXPECT_EQ(n.vertices, c.vertices);
            EXPECT_EQ(wiresOf(bodies[0]), 1);
            EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
            EXPECT_EQ(ve_view<Ve_BodyTag>(bodies[0])->isVertexBody(), c.curveless);
            expectPoints(bodies[0], {at(c.points.back(), frame.morph)});
            ENTITY_LIST coedges;
            api_get_coedges(bodies[0], coedges);
            for (int i = 0; i < coedges.count(); ++i)
                EXPECT_NE(static_cast<COEDGE*>(coedges[i])->wire(), nullptr);
            QELXString pset;
            EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(bodies[0], "PSET", pset));
        }
}

TEST_F(WireRoad, WithoutAPointSetNameThePolylineRoadMakesNothing)
{
    // No PSET identifier, and no attribute exporter at all to ask.
    for (bool attributes : {true, false}) {
        SCOPED_TRACE(attributes ? "no identifier" : "no attribute exporter");
        qelx_test::OptionScope options;
        options.on("/XVelm/PsetToPolyline");
        WireImport import(TestModel::pointWire({{0, 0, 0}, {1, 0, 0}}), QELXMorph3D(), attributes);
        EXPECT_TRUE(import.run().empty());
    }
}

TEST_F(WireRoad, BadSourcesFailAloneWithTheirBodyNamed)
{
    struct Case {
        const char* what;
        void (*spoil)(TestModel&);
    };
    const Case cases[] = {
        {"a point that is not a number", [](TestModel& m) { m.points[1][0] = std::nan(""); }},
        {"an edge without curve", [](TestModel& m) { m.dropCurve(0); }},
        {"a dangling edge", [](TestModel& m) { m.wires[0].edges.push_back(77); }},
        {"a dangling vertex", [](TestModel& m) { m.edges[1].end = 55; }},
        {"an edge listed twice", [](TestModel& m) { m.wires[0].edges.push_back(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel m = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
        c.spoil(m);
        qelx_test::EventRecorder events;
        WireImport import(m);
        const std::vector<BODY*> bodies = import.run();
        for (BODY* b : bodies)
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        if (bodies.empty()) {
            ASSERT_EQ(events.names("Warning").size(), 1u);
            EXPECT_NE(events.names("Warning")[0].find("BRep body"), std::string::npos);
        }
    }
}

TEST_F(WireRoad, AKernelFailureTakesTheWholeRoadBack)
{
    // Every kernel call of the wire road fails in turn: the road hands back
    // either its whole body or nothing, and leaves nothing behind.
    for (int nth = 1; nth <= 40; ++nth) {
        SCOPED_TRACE("kernel call " + std::to_string(nth));
        qelx_test::EventRecorder events;
        WireImport import(TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}), rotation(0.4, false));
        velm_test_fail_call("*", nth, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        const std::vector<BODY*> bodies = import.run();
        const bool hit = !velm_test_injection_pending();
        SCOPED_TRACE(hit ? velm_test_last_injected_call() : std::string("nothing failed"));
        velm_test_reset();
        for (BODY* b : bodies) {
            EXPECT_EQ(countsOf(b).edges, 2);
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        }
        if (!hit)
            break;
        if (bodies.empty()) {
            EXPECT_EQ(events.names("Warning").size(), 1u);
        }
    }
}

TEST_F(WireRoad, LayersNamesAndPointSetsTravelWithTheEntities)
{
    // A wire body on layer 5: the edge on layer 7 joins layer 7, the edge and
    // the vertex on the body's own layer join none of their own.
    qelx_test::OptionScope options;
    options.on("/XVelm/TransferAttribute");
    options.on("/XVelm/TransferLayer");
    {
        TestModel m = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
        m.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 5;
        m.attributes[qelx_test::wordOf(qelx_test::KindEdge, 0)].layer = 7;
        m.attributes[qelx_test::wordOf(qelx_test::KindEdge, 0)].name = "first";
        m.attributes[qelx_test::wordOf(qelx_test::KindEdge, 1)].layer = 5;
        m.attributes[qelx_test::wordOf(qelx_test::KindVertex, 0)].layer = 5;
        WireImport import(m);
        const std::vector<BODY*> bodies = import.run();
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(import.layersOf(bodies[0]), std::vector<int>{5});
        EDGE* first = import.creator().GetEdge(import.exporter().id(qelx_test::KindEdge, 0), false);
        EDGE* second = import.creator().GetEdge(import.exporter().id(qelx_test::KindEdge, 1), false);
        EXPECT_EQ(import.layersOf(first), std::vector<int>{7});
        EXPECT_EQ(import.layersOf(second), std::vector<int>());
        EXPECT_EQ(import.layersOf(import.creator().GetVertex(import.exporter().id(qelx_test::KindVertex, 0))),
                  std::vector<int>());
        QELXString name;
        EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(first, Ve_AttribTransfer::LabelName, name));
        EXPECT_STREQ(name.c_str(), "first");
    }
    // Acorns: the vertex on its own layer; with the vertex output switch the
    // vertex also takes the body's layer and the body none. Point-set names
    // only from an exporter that knows them.
    for (bool asVertex : {false, true})
        for (bool corvane : {true, false}) {
            SCOPED_TRACE(std::string(asVertex ? "vertex output" : "body output") +
                         (corvane ? "" : ", exporter without point sets"));
            qelx_test::OptionScope more;
            if (asVertex)
                more.on("/XVelm/OutputAcornBodyAsVERTEX");
            TestModel m = TestModel::pointWire({{1, 1, 1}});
            auto& body = m.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)];
            body.layer = 2;
            body.pset = "S1";
            body.mdi = "M1";
            m.attributes[qelx_test::wordOf(qelx_test::KindVertex, 0)].layer = 4;
            WireImport import(m);
            import.exporter().attributes().corvane = corvane;
            const std::vector<BODY*> bodies = import.run();
            ASSERT_EQ(bodies.size(), 1u);
            ENTITY_LIST vertices;
            api_get_vertices(bodies[0], vertices);
            ASSERT_EQ(vertices.count(), 1);
            const std::vector<int> vertexLayers = asVertex ? std::vector<int>{4, 2} : std::vector<int>{4};
            EXPECT_EQ(import.layersOf(vertices[0]), vertexLayers);
            EXPECT_EQ(import.layersOf(bodies[0]), asVertex ? std::vector<int>() : std::vector<int>{2});
            QELXString pset, mdi;
            EXPECT_EQ(Ve_AttribTransfer::GetStringAttrib(bodies[0], "PSET", pset), corvane);
            EXPECT_EQ(Ve_AttribTransfer::GetStringAttrib(bodies[0], "MDI", mdi), corvane);
        }
}

TEST_F(WireRoad, ALineEndingOnACircleIsOneChainNotABranch)
{
    // A lasso: a line from (3, 0, 0) to (1, 0, 0), where a whole circle
    // starts and ends. Three edge ends meet at that vertex, but two are the
    // circle's: the wire is one chain, in every frame.
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        TestModel m;
        const int far = m.addVertex({3, 0, 0}), knot = m.addVertex({1, 0, 0});
        addWireBody(m, {lineEdge(m, far, knot), unitCircleEdge(m, knot)});
        ASSERT_LT(m.maxGap(), 1e-9);
        WireImport import(m, frame.morph);
        const std::vector<BODY*> bodies = import.run();
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(wiresOf(bodies[0]), 1);
        const Counts n = countsOf(bodies[0]);
        EXPECT_EQ(n.edges, 2);
        EXPECT_EQ(n.vertices, 2);
        EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
    }
}

TEST_F(WireRoad, LooseEdgesOfOneBodyBecomeBodiesApartAndABranchKeepsItsCircleARing)
{
    // Two single edges apart in one body, bodies asked for apart: two bodies.
    {
        qelx_test::OptionScope options;
        options.on("/XVelm/CreateSeparateWireBodies");
        TestModel m = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}});
        const int a = m.addVertex({5, 0, 0}), b = m.addVertex({6, 0, 0});
        qelx_test::TestWire second;
        second.edges = {m.addEdge(m.addLine({5, 0, 0}, {6, 0, 0}), a, b, 0.0, 1.0)};
        m.wires.push_back(second);
        m.bodies[0].wires.push_back(static_cast<int>(m.wires.size()) - 1);
        WireImport import(m, QELXMorph3D());
        const std::vector<BODY*> bodies = import.run();
        ASSERT_EQ(bodies.size(), 2u);
        for (BODY* body : bodies) {
            EXPECT_EQ(countsOf(body).edges, 1);
            EXPECT_EQ(findingsOf(body), std::vector<std::string>());
        }
    }
    // Two lines and a whole circle at one vertex branch: each edge a wire of
    // its own, the circle's a ring of one.
    TestModel m;
    const int left = m.addVertex({3, 0, 0}), knot = m.addVertex({1, 0, 0}), right = m.addVertex({1, -2, 0});
    addWireBody(m, {lineEdge(m, left, knot), unitCircleEdge(m, knot), lineEdge(m, knot, right)});
    ASSERT_LT(m.maxGap(), 1e-9);
    WireImport import(m, QELXMorph3D());
    const std::vector<BODY*> bodies = import.run();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(wiresOf(bodies[0]), 3);
    EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
    ENTITY_LIST coedges;
    api_get_coedges(bodies[0], coedges);
    int rings = 0;
    for (int i = 0; i < coedges.count(); ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        const bool closed = c->start() == c->end();
        rings += closed ? 1 : 0;
        EXPECT_EQ(c->next(), closed ? c : nullptr);
        EXPECT_EQ(c->previous(), closed ? c : nullptr);
    }
    EXPECT_EQ(rings, 1);
}

// Each allocation of a wire's edge failing in turn: the wire comes out whole
// or not at all, never an edge short, and nothing is left behind.
TEST_F(WireRoad, AnEdgeTheKernelCannotAllocateTakesItsWireBack)
{
    for (int nth = 1; nth <= 3; ++nth) {
        SCOPED_TRACE("wire edge allocation " + std::to_string(nth));
        const long live = velm_live_object_count();
        {
            WireImport import(TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {2, 3, 1}}));
            velm_test_fail_alloc("QELXVelmWEdgePair", nth);
            std::vector<BODY*> made;
            try {
                made = import.run();
            } catch (const QELXAllocException&) {
            }
            EXPECT_FALSE(velm_test_injection_pending());
            velm_test_reset();
            int edges = 0;
            for (BODY* b : made) {
                ENTITY_LIST list;
                api_get_edges(b, list);
                edges += list.iteration_count();
            }
            EXPECT_EQ(edges, 0);
        }
        EXPECT_EQ(velm_live_object_count(), live) << "left behind";
    }
}

namespace {

// Closed splines whose definitions are not periodic: a rational circle of
// radius 2 with clamped knots over [0, 2 pi] (ends meeting smoothly) and a
// cubic with clamped knots over [0, 4] whose ends meet at a corner.
qelx_test::TestNurbs clampedCircle()
{
    const double h = std::sqrt(3.0);
    qelx_test::TestNurbs n;
    n.degree = 2;
    n.count = 7;
    n.ctrl = {2, 0, 0, 2, 2 * h, 0, -1, h, 0, -4, 0, 0, -1, -h, 0, 2, -2 * h, 0, 2, 0, 0};
    n.weights = {1, 0.5, 1, 0.5, 1, 0.5, 1};
    n.knots = {0, 2 * M_PI / 3, 4 * M_PI / 3, 2 * M_PI};
    n.mults = {3, 2, 2, 3};
    n.form = 1;
    return n;
}

qelx_test::TestNurbs kinkedLoop()
{
    qelx_test::TestNurbs n;
    n.degree = 3;
    n.count = 7;
    n.ctrl = {2, 0, 0, 3, 2, 0, 0, 3, 0, -3, 1, 0, -2, -2, 0, 2.5, -3, 0, 2, 0, 0};
    n.knots = {0, 1, 2, 3, 4};
    n.mults = {4, 1, 1, 1, 4};
    n.form = 1;
    return n;
}

} // namespace

// A closed spline whose definition is not periodic, its edge given a domain
// past the curve's range (half a turn on, a whole turn on, a quarter turn
// back: as a source whose closed curves are periodic ranges them), is the
// same ring on the kernel's curve begun where the domain starts: the edge's
// range lies on its curve, the curve is not periodic and every point of the
// edge is the source's. The edge ran past its curve's end instead, and the
// healing's write check refused the body. Both splines, along and against
// their curves, every frame.
TEST_F(WireRoad, AClosedSplineRangedPastItsEndIsBegunWhereItsDomainStarts)
{
    struct Spline {
        const char* name;
        qelx_test::TestNurbs nurbs;
    };
    for (const Spline& spline : {Spline{"clamped circle", clampedCircle()}, Spline{"kinked loop", kinkedLoop()}})
        for (const double turns : {0.5, 1.0, -0.25})
            for (const bool along : {true, false})
                for (const Frame& frame : frames()) {
                    SCOPED_TRACE(std::string(spline.name) + ", " + std::to_string(turns) + " turn" +
                                 (along ? ", along" : ", against") + ", " + frame.name);
                    TestModel m;
                    const int source = m.addNurbsCurve(spline.nurbs);
                    const double c0 = m.curves[source].domain[0], turn = m.curves[source].domain[1] - c0;
                    const double from = c0 + turns * turn;
                    qelx_test::TestEdge edge;
                    edge.curve = source;
                    edge.sense = along;
                    edge.domain[0] = along ? from : -from - turn;
                    edge.domain[1] = along ? from + turn : -from;
                    m.edges.push_back(edge);
                    // The source's point of the edge at t: its curve's, a whole turn round.
                    const auto sourcePoint = [&](double t) {
                        const double s = along ? t : -t;
                        return m.curvePoint(source, s - turn * std::floor((s - c0) / turn));
                    };
                    const QELXPoint3D start = sourcePoint(edge.domain[0]);
                    const int v = m.addVertex({start[0], start[1], start[2]});
                    m.edges[0].start = m.edges[0].end = v;
                    m.vertices[v].edges = {0};
                    addWireBody(m, {0}, {v});
                    WireImport import(m, frame.morph);
                    const std::vector<BODY*> bodies = import.run();
                    ASSERT_EQ(bodies.size(), 1u);
                    ENTITY_LIST edges;
                    api_get_edges(bodies[0], edges);
                    ASSERT_EQ(edges.count(), 1);
                    const auto* made = static_cast<const EDGE*>(edges[0]);
                    ASSERT_TRUE(made->geometry() && made->geometry()->has_equation());
                    const curve& c = made->geometry()->equation();
                    EXPECT_FALSE(c.periodic());
                    const QELinterval range = edge_curve_range(made), own = c.param_range();
                    EXPECT_TRUE(own.finite());
                    EXPECT_GE(range.start_pt(), own.start_pt() - 1e-9);
                    EXPECT_LE(range.end_pt(), own.end_pt() + 1e-9);
                    double gap = 0.0;
                    for (int i = 0; i <= 16; ++i) {
                        const double t = edge.domain[0] + i * turn / 16.0;
                        const QELinterval r = made->param_range();
                        const double k = r.start_pt() + i * r.length() / 16.0;
                        const QELposition p = c.eval_position(made->sense() == REVERSED ? -k : k);
                        const QELXPoint3D q = frame.morph.Apply(sourcePoint(t));
                        gap = std::max(gap, std::hypot(p.x() - q[0], p.y() - q[1], p.z() - q[2]));
                    }
                    EXPECT_LT(gap, 1e-9);
                    expectPoints(bodies[0], {frame.morph.Apply(start)});
                    EXPECT_EQ(findingsOf(bodies[0]), std::vector<std::string>());
                }
}
