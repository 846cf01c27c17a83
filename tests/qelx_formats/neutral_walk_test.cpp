// The neutral document written from an exporter through the framework
// walk, read back as a source and written again.
#include "qelx/framework_walk.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "../support/same_text.hxx"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <fstream>
#include <unistd.h>

using namespace qelx_test;
using namespace qelx_formats;

namespace {
std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
} // namespace

TEST(NeutralDocument, WrittenThroughTheWalkReadBackAndWrittenAgainIsIdentical)
{
    TestModel source = TestModel::cylinder(2, 5);
    source.reparametriseSurface(0, 2.0, 0.5, -1.0, 0.25);
    source.freeSurface(source.addTorus({0, 0, 9}, {1, 0, 0}, {0, 0, 1}, 0.5, 1.0, true));
    source.freePoint({1, 2, 3});
    source.attributes[wordOf(KindFace, 1)].name = "bottom";
    source.attributes[wordOf(KindBody, 0)].layer = 3;
    source.layers[3] = TestLayer{"solids", {0.5, 0.5, 0.5, 0}, true};
    const auto dir = std::filesystem::temp_directory_path() / ("neutral_walk_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string first = (dir / "first.json").string(), second = (dir / "second.json").string();

    TestDocument document(source);
    TestBRepExporter exporter(&document);
    std::string error;
    ASSERT_EQ(writeNeutralDocument(&exporter, first, error), QELI_OK) << error;
    TestModel back;
    ASSERT_EQ(readNeutralDocument(first, back, error), QELI_OK) << error;
    TestDocument again(back);
    TestBRepExporter exporterAgain(&again);
    ASSERT_EQ(writeNeutralDocument(&exporterAgain, second, error), QELI_OK) << error;
    EXPECT_EQ(slurp(first), slurp(second));
    // What came back is the source's geometry, under the source's parameters.
    EXPECT_LT(back.maxGap(), 1e-9);
    EXPECT_LT(back.surfacePoint(back.faces[0].surface, 0.1, -2.0).Distance(source.surfacePoint(0, 0.1, -2.0)), 1e-15);
    EXPECT_EQ(back.layers.at(3).name, "solids");
    std::filesystem::remove_all(dir);
}

TEST(NeutralDocument, EveryGeometryKindComesBackThroughTheExporters)
{
    TestModel source = TestModel::freeGeometry();
    source.reparametriseCurve(source.freeCurves[0], 2.0, 0.5);
    TestDocument document(source);
    TestBRepExporter exporter(&document);
    TestModel walked;
    ASSERT_EQ(walkExporter(&exporter, walked), QELI_OK);
    const TestModel back = readNeutralText(writeNeutralText(walked), "kinds.json");
    ASSERT_EQ(back.freeSurfaces.size(), source.freeSurfaces.size());
    ASSERT_EQ(back.freeCurves.size(), source.freeCurves.size());
    for (std::size_t i = 0; i < source.freeSurfaces.size(); ++i) {
        const int s = source.freeSurfaces[i], b = back.freeSurfaces[i];
        EXPECT_EQ(back.surfaces[b].type, source.surfaces[s].type);
        for (double u : {0.2, 0.7})
            for (double v : {-0.3, 0.4})
                EXPECT_LT(back.surfacePoint(b, u, v).Distance(source.surfacePoint(s, u, v)), 1e-12) << i;
    }
    for (std::size_t i = 0; i < source.freeCurves.size(); ++i)
        for (double t : {0.1, 0.6})
            EXPECT_LT(back.curvePoint(back.freeCurves[i], t).Distance(source.curvePoint(source.freeCurves[i], t)),
                      1e-12)
                << i;
    EXPECT_EQ(exporter.geometry().outstandingArrays(), 0);
}

TEST(NeutralDocument, StreamedWhileWalkingIsTheTextOfTheWalkedModel)
{
    TestModel rich = TestModel::cylinder(3, 4);
    rich.freeSurface(rich.addTorus({0, 0, 9}, {1, 0, 0}, {0, 0, 1}, 0.5, 1.0, true));
    rich.freePoint({1, 2, 3});
    rich.freePoint({4, 5, 6});
    // Attributes on several kinds, so that word order differs from walk order.
    rich.attributes[wordOf(KindEdge, 2)].thickness = 0.5;
    rich.attributes[wordOf(KindFace, 1)].name = "bottom";
    rich.attributes[wordOf(KindBody, 0)].layer = 3;
    rich.attributes[wordOf(KindVertex, 0)].layer = 1;
    rich.attributes[wordOf(KindFace, 0)].aliases = {"a", "b"};
    rich.layers[3] = TestLayer{"solids", {0.5, 0.5, 0.5, 0}, true};
    rich.layers[1] = TestLayer{"points", {1, 0, 0, 0}, false};
    const auto dir = std::filesystem::temp_directory_path() / ("neutral_stream_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "streamed.json").string();
    // Enough free points that their table outgrows what a table keeps in
    // memory and goes on in a temporary file after lines already held.
    TestModel manyPoints = TestModel::block(1, 2, 3);
    for (int i = 0; i < 40000; ++i)
        manyPoints.freePoint({i * 0.001, 1.0 / (i + 1), -i * 0.5});
    // A wire whose lists of edges and vertices run to numbers of several
    // digits, written as text where the row's keys stand.
    std::vector<Vec3> corners;
    for (int i = 0; i < 120; ++i)
        corners.push_back({i * 1.0, (i % 7) * 0.5, (i % 3) * 0.25});
    const TestModel longWire = TestModel::polylineWire(corners);
    for (const TestModel& source : {rich, manyPoints, TestModel::block(1, 2, 3), TestModel::nurbsSheet(5, 4, true),
                                    TestModel::coneWithApexLoop(), TestModel::polylineWire({{0, 0, 0}, {1, 1, 1}, {2, 0, 1}}),
                                    TestModel::pointWire({{1, 2, 3}}), longWire}) {
        TestDocument document(source);
        TestBRepExporter exporter(&document);
        TestModel walked;
        ASSERT_EQ(walkExporter(&exporter, walked), QELI_OK);
        TestBRepExporter again(&document);
        NeutralDocumentStream stream(path);
        WalkSummary summary;
        ASSERT_EQ(walkExporter(&again, stream, &summary), QELI_OK);
        EXPECT_EQ(summary.faces, static_cast<int>(walked.faces.size()));
        // Nothing is at the target until the document is committed.
        EXPECT_FALSE(std::filesystem::exists(path));
        std::string reason;
        ASSERT_EQ(stream.commit(reason), QELI_OK) << reason;
        EXPECT_TRUE(testkit::same_text(slurp(path), writeNeutralText(walked)));
        std::filesystem::remove(path);
    }
    // A target that must not be replaced is refused and left as it was.
    {
        TestDocument document(rich);
        TestBRepExporter exporter(&document);
        NeutralDocumentStream stream(dir.string());
        ASSERT_EQ(walkExporter(&exporter, stream), QELI_OK);
        std::string reason;
        EXPECT_NE(stream.commit(reason), QELI_OK);
        EXPECT_NE(reason.find("directory"), std::string::npos) << reason;
        EXPECT_TRUE(std::filesystem::is_directory(dir));
    }
    std::filesystem::remove_all(dir);
}

// A pcurve whose knots its reader refuses (cut to a coedge's range of no
// length, all its knots at one value) is refused by both writers, naming it:
// they wrote a document their own reader refused, as a success.
TEST(NeutralStream, ASplineItsReaderRefusesIsNotWritten)
{
    const auto path = std::filesystem::temp_directory_path() / ("neutral_knots_" + std::to_string(::getpid()) + ".json");
    TestModel m = TestModel::cylinder(2, 5);
    ASSERT_FALSE(m.pcurves.empty());
    qelx_test::TestNurbs& n = m.pcurves[0].nurbs;
    n.knots = {0.0};
    n.mults = {n.count + n.degree + 1};
    try {
        writeNeutralText(m);
        ADD_FAILURE() << "written";
    } catch (const NeutralDocumentError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("/pcurves/0/mults: a multiplicity outside", 0), 0u) << e.what();
    }
    TestDocument document(m);
    TestBRepExporter exporter(&document);
    NeutralDocumentStream stream(path.string());
    walkExporter(&exporter, stream);
    std::string reason;
    EXPECT_NE(stream.commit(reason), QELI_OK);
    EXPECT_NE(reason.find("/pcurves/0/mults: a multiplicity outside"), std::string::npos) << reason;
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A model holding a number that is not finite (an overflowed coordinate,
// radius or thickness) is refused by both writers, naming where it stands:
// they wrote it as null, a document their own reader refused, as a success.
TEST(NeutralStream, ANumberThatIsNotFiniteIsRefusedNotWrittenAsNull)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        void (*spoil)(TestModel&, double);
        const char* where;
    };
    const Case cases[] = {
        {"a point", [](TestModel& m, double x) { m.points[0][1] = x; }, "/points/0: "},
        {"a surface's radius", [](TestModel& m, double x) { m.surfaces[0].a = x; }, "/surfaces/0: "},
        {"an edge's range", [](TestModel& m, double x) { m.edges[1].domain[1] = x; }, "/edges/1: "},
        {"a thickness", [](TestModel& m, double x) { m.attributes[wordOf(KindFace, 0)].thickness = x; }, "/attributes"},
    };
    const auto path = std::filesystem::temp_directory_path() / ("neutral_finite_" + std::to_string(::getpid()) + ".json");
    for (const Case& c : cases)
        for (const double bad : {inf, -inf, nan}) {
            SCOPED_TRACE(std::string(c.what) + " " + std::to_string(bad));
            TestModel m = TestModel::cylinder(2, 5);
            c.spoil(m, bad);
            try {
                writeNeutralText(m);
                ADD_FAILURE() << "written";
            } catch (const NeutralDocumentError& e) {
                EXPECT_EQ(std::string(e.what()).rfind(c.where, 0), 0u) << e.what();
            }
            TestDocument document(m);
            TestBRepExporter exporter(&document);
            NeutralDocumentStream stream(path.string());
            walkExporter(&exporter, stream);
            std::string reason;
            EXPECT_NE(stream.commit(reason), QELI_OK);
            EXPECT_NE(reason.find("a number that is not finite"), std::string::npos) << reason;
            EXPECT_FALSE(std::filesystem::exists(path));
        }
}

// A model whose circle's domain goes round it more than once (an edge's range
// of 20 on a circle, or a scale that takes a turn's range round four times:
// a damaged save file whose edges swapped curves) is refused by both writers,
// naming the curve: they wrote a document their own reader refused. One turn
// exactly is written.
TEST(NeutralStream, AnEllipseDomainGoingRoundMoreThanOnceIsRefused)
{
    struct Case {
        const char* what;
        double from, to, scale;
        bool refused;
    };
    const double turn = 2.0 * M_PI;
    const Case cases[] = {
        {"a range of 20", 0.0, 20.0, 1.0, true},
        {"a turn taken four times", 0.0, turn, 4.0, true},
        {"a turn backwards past one", turn, -0.5, 1.0, true},
        {"one turn", -turn / 2, turn / 2, 1.0, false},
        {"a turn under a scale of a half", 0.0, 2.0 * turn, 0.5, false},
    };
    const auto path = std::filesystem::temp_directory_path() / ("neutral_turn_" + std::to_string(::getpid()) + ".json");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel m = TestModel::cylinder(2, 5);
        int circle = -1;
        for (std::size_t i = 0; i < m.curves.size() && circle < 0; ++i)
            if (m.curves[i].type == CurvEllipse)
                circle = static_cast<int>(i);
        ASSERT_GE(circle, 0);
        m.curves[circle].domain[0] = c.from;
        m.curves[circle].domain[1] = c.to;
        m.curves[circle].scale = c.scale;
        const std::string fault = "/domain: a domain that its parameterization takes more than once round its ellipse";
        const std::string where = "/curves/" + std::to_string(circle) + fault;
        std::string said;
        try {
            writeNeutralText(m);
        } catch (const NeutralDocumentError& e) {
            said = e.what();
        }
        EXPECT_EQ(said.rfind(where, 0) == 0, c.refused) << said;
        EXPECT_EQ(said.empty(), !c.refused) << said;
        TestDocument document(m);
        TestBRepExporter exporter(&document);
        NeutralDocumentStream stream(path.string());
        walkExporter(&exporter, stream);
        std::string reason;
        EXPECT_EQ(stream.commit(reason) == QELI_OK, !c.refused) << reason;
        // The walk numbers the curves in the order it meets them.
        EXPECT_EQ(reason.rfind("/curves/", 0) == 0 && reason.find(fault) != std::string::npos, c.refused) << reason;
        EXPECT_EQ(std::filesystem::exists(path), !c.refused);
        std::filesystem::remove(path);
    }
}
