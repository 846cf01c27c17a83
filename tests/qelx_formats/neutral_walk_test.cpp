// The neutral document written from an exporter through the framework
// walk, read back as a source and written again.
#include "qelx/framework_walk.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <gtest/gtest.h>

#include <filesystem>
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
