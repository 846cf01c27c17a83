// The framework walk over the test source: what it collects, the calls it
// makes, the stages it fires, and how it meets failed answers.
#include "qelx/framework_walk.hxx"
#include "qelx/test_exporters.hxx"

#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

using namespace qelx_test;

namespace {

// A cylinder with attributes on its body, a face and an edge, layers and free geometry.
TestModel attributed()
{
    TestModel m = TestModel::cylinder(2, 5);
    m.freeSurface(m.addSphere({0, 0, 9}, 1.0));
    m.freeCurve(m.addLine({0, 0, 0}, {1, 1, 1}));
    m.freePoint({3, 2, 1});
    m.attributes[wordOf(KindBody, 0)].layer = 4;
    m.attributes[wordOf(KindBody, 0)].aliases = {"first", "second"};
    m.attributes[wordOf(KindFace, 2)].name = "top";
    m.attributes[wordOf(KindFace, 2)].color = std::array<double, 4>{0.5, 0.25, 1, 0};
    m.attributes[wordOf(KindEdge, 0)].pid = "seam";
    m.attributes[wordOf(KindSurface, 3)].show = false;
    m.layers[4] = TestLayer{"solids", {0, 1, 0, 0}, true};
    return m;
}

TestModel walked(TestModel source, WalkSummary* summary = nullptr)
{
    TestDocument document(std::move(source));
    TestBRepExporter exporter(&document);
    TestModel out;
    EXPECT_EQ(walkExporter(&exporter, out, summary), QELI_OK);
    return out;
}

} // namespace

TEST(FrameworkWalk, CollectsTopologyGeometryAndAttributes)
{
    const TestModel source = attributed();
    WalkSummary summary;
    const TestModel out = walked(source, &summary);
    EXPECT_EQ(summary.faces, 3);
    EXPECT_EQ(summary.coedges, 6);
    EXPECT_EQ(summary.edges, 3);
    EXPECT_EQ(summary.vertices, 2);
    EXPECT_EQ(summary.failedCalls, 0);
    EXPECT_LT(out.maxGap(), 1e-9);
    // The seam's two coedges are partners, and the walk kept the ring.
    int pairs = 0;
    for (const TestEdge& e : out.edges)
        pairs += e.coedges.size() == 2;
    EXPECT_EQ(pairs, 3);
    // Geometry keeps its points: the lateral face at a few parameters.
    const int lateral = 0;
    for (double u : {0.1, 1.3})
        for (double v : {0.2, 4.0})
            EXPECT_LT(out.surfacePoint(out.faces[lateral].surface, u, v)
                          .Distance(source.surfacePoint(source.faces[lateral].surface, u, v)),
                      1e-15);
    ASSERT_EQ(out.freeSurfaces.size(), 1u);
    ASSERT_EQ(out.freePoints.size(), 1u);
    EXPECT_EQ(out.point(out.freePoints[0]).x(), 3.0);
    // Attributes land on the walked entities they were answered for.
    ASSERT_TRUE(out.attributes.count(wordOf(KindBody, 0)));
    EXPECT_EQ(out.attributes.at(wordOf(KindBody, 0)).layer, 4);
    EXPECT_EQ(out.attributes.at(wordOf(KindBody, 0)).aliases, (std::vector<std::string>{"first", "second"}));
    int named = 0;
    for (const auto& [word, a] : out.attributes)
        named += a.name == std::optional<std::string>("top") && kindOfWord(word) == KindFace;
    EXPECT_EQ(named, 1);
    EXPECT_EQ(out.attributes.at(wordOf(KindSurface, out.freeSurfaces[0])).show, false);
    ASSERT_TRUE(out.layers.count(4));
    EXPECT_EQ(out.layers.at(4).name, "solids");
}

TEST(FrameworkWalk, PairsBodyCallsReleasesGeometryAndGivesArraysBack)
{
    TestDocument document(TestModel::nurbsSheet(5, 4, true));
    TestBRepExporter exporter(&document);
    TestModel out;
    ASSERT_EQ(walkExporter(&exporter, out), QELI_OK);
    const TestCallLog& log = exporter.log();
    EXPECT_EQ(log.count("PrepareBody"), 1);
    EXPECT_EQ(log.count("ReleaseBody"), 1);
    EXPECT_EQ(exporter.openBodies(), 0);
    EXPECT_EQ(log.count("ReleaseGeometry4"), 1);
    EXPECT_EQ(log.count("ReleaseGeometry2"), 4);
    EXPECT_EQ(log.count("ReleaseGeometry1"), 4);
    EXPECT_EQ(log.count("ReleaseGeometry0"), 4);
    EXPECT_EQ(log.count("GetNurbsSurfaceData"), 1);
    EXPECT_EQ(exporter.geometry().outstandingArrays(), 0);
    EXPECT_EQ(exporter.geometry().deleteCalls(), 1 + 4 + 4);
}

TEST(FrameworkWalk, FiresStagesADriverCanFollow)
{
    TestModel two = TestModel::block(1, 1, 1);
    two.bodies.push_back(two.bodies[0]); // the same lump again: walked once, listed twice
    qelx_test::EventRecorder events;
    walked(two);
    const std::vector<StageRecord> stages = events.stages();
    ASSERT_EQ(stages.size(), 5u);
    EXPECT_EQ(stages[0].name, "Bodies");
    EXPECT_EQ(stages[0].count, 2);
    EXPECT_EQ(stages[1].name, "Body");
    EXPECT_EQ(stages[2].count, 2);
    EXPECT_EQ(stages[4].name, "Attributes");
    EXPECT_TRUE(stages[4].lastStage);
    for (const StageRecord& s : stages)
        EXPECT_TRUE(s.finished) << s.name;
}

TEST(FrameworkWalk, FailedAnswersKeepPresetsAndFreeWhatWasHandedOut)
{
    TestModel source = TestModel::nurbsSheet(4, 4, false);
    source.faces[0].sense = false;
    source.forceAnswer("GetFaceSense", QELI_FAIL);                  // nothing written
    source.forceAnswer("GetNurbsCurveData", QELI_FAIL, false);      // written, then failed
    source.forceAnswer("GetEdgeDomain", QELI_INVALID_ARG, true, wordOf(KindEdge, 1));
    TestDocument document(source);
    TestBRepExporter exporter(&document);
    TestModel out;
    WalkSummary summary;
    ASSERT_EQ(walkExporter(&exporter, out, &summary), QELI_OK);
    EXPECT_TRUE(out.faces[0].sense);
    EXPECT_EQ(summary.failedCalls, 1 + 4 + 1);
    EXPECT_EQ(exporter.geometry().outstandingArrays(), 0);
    EXPECT_EQ(out.curves[0].nurbs.count, 0);
    int emptyDomains = 0;
    for (const TestEdge& e : out.edges)
        emptyDomains += e.domain[0] == 0.0 && e.domain[1] == 0.0;
    EXPECT_EQ(emptyDomains, 1);

    TestModel untouched = TestModel::planeFace();
    TestModel noBodies = TestModel::block(1, 1, 1);
    noBodies.forceAnswer("GetNumberOfBodies", QELI_FAIL);
    TestDocument failing(noBodies);
    TestBRepExporter x(&failing);
    EXPECT_EQ(walkExporter(&x, untouched), QELI_FAIL);
    EXPECT_EQ(untouched.faces.size(), 1u);
    EXPECT_EQ(walkExporter(nullptr, untouched), QELI_FAIL);
}

TEST(TestBRepExporter, RefusesForeignIdentifiersAndIndicesPastTheEnd)
{
    TestDocument document(TestModel::twoFacesSharingEdge());
    TestBRepExporter x(&document);
    const QELXIdentifier face = x.id(KindFace, 0), edge = x.id(KindEdge, 0), body = x.id(KindBody, 0);
    bool flag = true;
    int n = -7;
    QELXIdentifier out;
    EXPECT_EQ(x.GetFaceSense(edge, flag), QELI_INVALID_ARG);
    EXPECT_EQ(x.GetFaceSense(x.id(KindFace, 9), flag), QELI_INVALID_ARG);
    EXPECT_EQ(x.GetNumberOfLoopsFromFace(QELXIdentifier(), n), QELI_INVALID_ARG);
    EXPECT_EQ(n, -7);
    EXPECT_EQ(x.Get2DShellFromBody(body, 1, out), QELI_FAIL);
    EXPECT_FALSE(out.IsValid());
    // The shared edge's coedges are each other's partners; a lone coedge has none.
    ASSERT_EQ(x.GetNumberOfCoedgesFromEdge(x.id(KindEdge, 1), n), QELI_OK);
    ASSERT_EQ(n, 2);
    QELXIdentifier a, b, partner;
    int i0 = 0, i1 = 1;
    x.GetCoedgeFromEdge(x.id(KindEdge, 1), i0, a);
    x.GetCoedgeFromEdge(x.id(KindEdge, 1), i1, b);
    ASSERT_EQ(x.GetPartnerCoedge(a, partner), QELI_OK);
    EXPECT_EQ(partner.GetValue(), b.GetValue());
    ASSERT_EQ(x.GetPartnerCoedge(x.id(KindCoedge, 0), partner), QELI_OK);
    EXPECT_FALSE(partner.IsValid());
    EXPECT_EQ(face.GetOwner(), &x);
    EXPECT_STREQ(face.GetType(), QELXBRepExporter::QELXBRepTypeFace);
}

TEST(TestAttributeExporter, AnswersWhatTheEntityCarriesAndNothingElse)
{
    TestModel m = TestModel::block(1, 1, 1);
    m.attributes[wordOf(KindFace, 0)].layer = 2;
    m.attributes[wordOf(KindFace, 0)].pset = "P1";
    m.layers[2] = TestLayer{"two", {0.1, 0.2, 0.3, 0}, false};
    m.forceAnswer("GetPID", QELI_FAIL, false);
    TestDocument document(m);
    TestBRepExporter x(&document);
    TestAttributeExporter& a = x.attributes();
    QELXString text("untouched");
    bool state = true;
    double rgba[4] = {9, 9, 9, 9};
    EXPECT_EQ(a.GetName(x.id(KindFace, 0), text), QELI_NO_SOURCE);
    EXPECT_STREQ(text.c_str(), "untouched");
    EXPECT_EQ(a.GetVdaPSETIdentifier(x.id(KindFace, 0), text), QELI_OK);
    EXPECT_STREQ(text.c_str(), "P1");
    EXPECT_EQ(a.GetLayerState(x.id(KindFace, 0), state), QELI_OK);
    EXPECT_FALSE(state);
    EXPECT_EQ(a.GetLayerColor(x.id(KindFace, 1), rgba), QELI_NO_SOURCE);
    EXPECT_EQ(rgba[0], 9.0);
    EXPECT_EQ(a.GetLayerColor(2, rgba), QELI_OK);
    EXPECT_EQ(rgba[2], 0.3);
    EXPECT_EQ(a.GetPID(x.id(KindFace, 0), text), QELI_FAIL);
    EXPECT_EQ(x.log().count("GetPID"), 1);
}

TEST(TestDocument, CarriesTheSourceTypeUnitAndHeader)
{
    TestModel m = TestModel::planeFace();
    m.xType = "XIges";
    m.unit = 5;
    m.header["PRODUCT_NAME"] = {"bracket"};
    TestDocument document(m);
    EXPECT_STREQ(QELXDocumentUtils::GetXType(&document).c_str(), "XIges");
    QELXUnit unit = QELX_UNIT_NONE;
    ASSERT_EQ(document.GetUnit(unit), QELI_OK);
    EXPECT_EQ(static_cast<int>(unit), 5);
    QELXExportRepresentation* header = nullptr;
    ASSERT_EQ(document.GetExportRep(QELXRepType("Header"), header), QELI_OK);
    QELXString name;
    EXPECT_EQ(header->GetStringValue("PRODUCT_NAME", 0, name), QELI_OK);
    EXPECT_STREQ(name.c_str(), "bracket");
    EXPECT_EQ(header->GetStringValue("PRODUCT_NAME", 1, name), QELI_FAIL);
}

// A closed shell is answered "not open" by failing, a sheet's shell "open";
// the walk records what the field's name says and counts neither as a fault.
// An unbounded surface gives no span and is no fault either.
TEST(FrameworkWalk, ShellsClosedAsNamedAndUnboundedSurfacesWithoutSpan)
{
    for (const bool solid : {true, false}) {
        TestModel source = solid ? TestModel::block(1, 2, 3) : TestModel::planeFace();
        source.surfaces[0].bounded = false;
        WalkSummary summary;
        const TestModel out = walked(source, &summary);
        EXPECT_EQ(summary.failedCalls, 0) << solid;
        ASSERT_FALSE(out.shells.empty());
        for (const TestShell& shell : out.shells)
            EXPECT_EQ(shell.closed, solid);
        int unbounded = 0;
        for (const TestSurface& s : out.surfaces)
            unbounded += !s.bounded;
        EXPECT_GE(unbounded, 1) << solid;
        EXPECT_LT(out.maxGap(), 1e-9);
    }
}


// A loop that names one of its coedges again: the coedge is collected once
// and named again by its index, in a short loop and in one long enough to be
// looked up by a set; partner rings still resolve to the collected coedges,
// and an attribute on a coedge lands on it.
TEST(FrameworkWalk, ACoedgeNamedAgainInItsLoopIsCollectedOnce)
{
    for (std::size_t repeats : {1u, 40u}) {
        TestModel source = TestModel::block(1, 2, 3);
        source.attributes[wordOf(KindCoedge, source.loops[0].coedges[1])].name = "second";
        const TestModel plain = walked(source);
        const std::vector<int> own = source.loops[0].coedges;
        for (std::size_t k = 0; k < repeats; ++k)
            source.loops[0].coedges.push_back(own[k % own.size()]);
        WalkSummary summary;
        const TestModel out = walked(source, &summary);
        EXPECT_EQ(summary.coedges, static_cast<int>(plain.coedges.size())) << repeats;
        ASSERT_EQ(out.loops[0].coedges.size(), own.size() + repeats) << repeats;
        for (std::size_t k = 0; k < out.loops[0].coedges.size(); ++k)
            EXPECT_EQ(out.loops[0].coedges[k], plain.loops[0].coedges[k % own.size()]) << repeats << " " << k;
        ASSERT_EQ(out.edges.size(), plain.edges.size());
        for (std::size_t e = 0; e < out.edges.size(); ++e)
            EXPECT_EQ(out.edges[e].coedges, plain.edges[e].coedges) << repeats << " " << e;
        auto namedSecond = [](const TestModel& m) {
            std::vector<std::uint64_t> words;
            for (const auto& [word, a] : m.attributes)
                if (a.name == std::optional<std::string>("second"))
                    words.push_back(word);
            return words;
        };
        EXPECT_EQ(namedSecond(out), namedSecond(plain)) << repeats;
        EXPECT_EQ(namedSecond(out).size(), 1u) << repeats;
    }
}

namespace {

// Answers some faces under another type name, and names every source by the
// type name it is asked with.
class FacesOfTwoTypeNames : public TestBRepExporter {
public:
    using TestBRepExporter::TestBRepExporter;
    QELIResult GetFaceFromShell(const QELXIdentifier& shell, int index, QELXIdentifier& face) override
    {
        const QELIResult r = TestBRepExporter::GetFaceFromShell(shell, index, face);
        if (r == QELI_OK && face.IsValid() && index % 3 == 1)
            face = QELXIdentifier(face.GetValue(), face.GetType(), face.GetOwner(), "other face", face.GetCast());
        return r;
    }
    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override
    {
        out = &m_names;
        return QELI_OK;
    }

private:
    struct TypeNames : QELXAttributeExporter {
        QELIResult GetName(const QELXIdentifier& id, QELXString& name) override
        {
            name = QELXString(id.GetTypeName());
            return QELI_OK;
        }
    } m_names;
};

} // namespace

// The attribute pass asks about each entity by the identifier it was
// collected under, also when a kind's entities come under several.
TEST(FrameworkWalk, AttributesAreAskedUnderTheIdentifierEachEntityCameWith)
{
    TestDocument document(TestModel::block(1, 2, 3));
    FacesOfTwoTypeNames exporter(&document);
    TestModel out;
    ASSERT_EQ(walkExporter(&exporter, out), QELI_OK);
    ASSERT_EQ(out.faces.size(), 6u);
    const std::string usual = out.attributes.at(wordOf(KindFace, 0)).name.value_or("");
    EXPECT_NE(usual, "other face");
    for (int f = 0; f < 6; ++f) {
        ASSERT_TRUE(out.attributes.count(wordOf(KindFace, f))) << f;
        EXPECT_EQ(out.attributes.at(wordOf(KindFace, f)).name.value_or(""), f % 3 == 1 ? "other face" : usual) << f;
    }
}

// The rings of coedges round each edge and the edges at each vertex are
// resolved after the bodies, each through its own look-up table: every list
// comes back whole and names entities that name it back.
TEST(FrameworkWalk, EdgeRingsAndVertexEdgesComeBackWholeAndConsistent)
{
    for (const TestModel& source : {TestModel::block(1, 2, 3), TestModel::cylinder(2, 5)}) {
        const TestModel out = walked(source);
        ASSERT_EQ(out.edges.size(), source.edges.size());
        ASSERT_EQ(out.vertices.size(), source.vertices.size());
        for (std::size_t e = 0; e < out.edges.size(); ++e) {
            EXPECT_EQ(out.edges[e].coedges.size(), 2u) << "edge " << e;
            for (int c : out.edges[e].coedges)
                EXPECT_EQ(out.coedges[static_cast<std::size_t>(c)].edge, static_cast<int>(e));
        }
        std::size_t ends = 0;
        for (std::size_t v = 0; v < out.vertices.size(); ++v) {
            const std::vector<int>& edges = out.vertices[v].edges;
            EXPECT_FALSE(edges.empty()) << "vertex " << v;
            for (int e : edges) {
                const TestEdge& edge = out.edges[static_cast<std::size_t>(e)];
                EXPECT_TRUE(edge.start == static_cast<int>(v) || edge.end == static_cast<int>(v));
            }
            ends += edges.size();
        }
        // Every edge is listed at each of its distinct ends.
        std::size_t expected = 0;
        for (const TestEdge& edge : out.edges)
            expected += edge.start == edge.end ? 1 : 2;
        EXPECT_EQ(ends, expected);
    }
}

// A walk told which attribute fields its target carries asks the attribute
// exporter for those alone and keeps the records that hold any of them; told
// none, it asks for nothing, layers included. Topology and geometry come as
// in a full walk.
TEST(FrameworkWalk, ReadsOnlyTheAttributeFieldsItIsToldOf)
{
    const TestModel full = walked(attributed());
    const unsigned nameColorLayer = WalkLayer | WalkName | WalkColor;
    for (const unsigned fields : {0u, nameColorLayer, unsigned(WalkName)}) {
        TestDocument document(attributed());
        TestBRepExporter exporter(&document);
        TestModel out;
        ASSERT_EQ(walkExporter(&exporter, out, nullptr, fields), QELI_OK);
        EXPECT_EQ(out.faces.size(), full.faces.size());
        EXPECT_EQ(out.coedges.size(), full.coedges.size());
        EXPECT_EQ(out.surfaces.size(), full.surfaces.size());
        const TestCallLog& log = exporter.log();
        for (const char* other : {"GetShow", "GetPick", "GetThickness", "GetPID", "GetAlias", "GetAlias2"})
            EXPECT_EQ(log.count(other), 0) << fields << " " << other;
        EXPECT_EQ(log.count("GetName") > 0, (fields & WalkName) != 0) << fields;
        EXPECT_EQ(log.count("GetLayer") > 0, (fields & WalkLayer) != 0) << fields;
        EXPECT_EQ(log.count("GetColor") > 0, (fields & WalkColor) != 0) << fields;
        // Records keep what was asked for; the body's aliases, the edge's
        // PID and the surface's show are never read.
        std::size_t expected = 0;
        for (const auto& [word, a] : full.attributes) {
            const bool kept = ((fields & WalkLayer) && a.layer) || ((fields & WalkName) && a.name) ||
                              ((fields & WalkColor) && a.color);
            expected += kept;
            if (!kept)
                continue;
            ASSERT_TRUE(out.attributes.count(word)) << fields << " " << word;
            const TestAttributes& got = out.attributes.at(word);
            EXPECT_EQ(got.name, (fields & WalkName) ? a.name : std::nullopt) << fields;
            EXPECT_EQ(got.layer, (fields & WalkLayer) ? a.layer : std::nullopt) << fields;
            EXPECT_EQ(got.color, (fields & WalkColor) ? a.color : std::nullopt) << fields;
            EXPECT_TRUE(got.aliases.empty() && !got.pid && !got.show) << fields;
        }
        EXPECT_EQ(out.attributes.size(), expected) << fields;
        EXPECT_EQ(out.layers.count(4), (fields & WalkLayer) ? 1u : 0u) << fields;
    }
}
