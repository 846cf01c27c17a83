// A small model's loops may jump in their faces' parameters where one
// coedge's pcurve ends a little off where the next one starts, a gap its
// vertex's tolerance covers (a sample bearing in metres held such jumps of
// 3e-5 on its spline faces, their points 5e-7 apart). Such a jump is no pole:
// every writer writes the model as the source holds it, into a file Open
// CASCADE reads back valid with the source's area and volume, without an
// edge collapsed to a point where the surface does not collapse (an IGES
// file holds such an edge as one point, and its reader makes a spike of it
// that the loop crosses).
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path jumpScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("parameter_jumps_" + std::to_string(::getpid()) + "_" + name);
}

// Identity, turned and mirrored, about a point of the small model.
std::vector<std::pair<const char*, gp_Trsf>> jumpFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(0.01, -0.02, 0.03), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(0.03, -0.01, 0.02));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 0.01), gp_Dir(1, 1, 0)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
}

// The model of the solid placed in the frame, read from Open CASCADE's BREP
// file of it, with Open CASCADE's measures of it.
std::pair<qelx_test::TestModel, cad_samples::Measures> jumpSource(const TopoDS_Shape& solid, const gp_Trsf& place)
{
    const TopoDS_Shape shape = BRepBuilderAPI_Transform(solid, place, Standard_True).Shape();
    std::pair<qelx_test::TestModel, cad_samples::Measures> out;
    out.second = cad_samples::measure(shape);
    EXPECT_TRUE(out.second.valid);
    const fs::path in = jumpScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(shape, in.c_str()));
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), out.first, error), QELI_OK) << error;
    fs::remove(in);
    return out;
}

// The pcurve of one coedge, moved across the parameter plane by `by` (in
// the model's parameters) in a seeded direction: the loop then jumps at both
// of its ends. Returns whether there was such a coedge.
bool pcurveMoved(qelx_test::TestModel& m, std::mt19937& random, double by)
{
    std::vector<std::size_t> with;
    for (std::size_t c = 0; c < m.coedges.size(); ++c)
        if (m.coedges[c].pcurve >= 0)
            with.push_back(c);
    if (with.empty())
        return false;
    const std::size_t c = with[std::uniform_int_distribution<std::size_t>(0, with.size() - 1)(random)];
    const double angle = std::uniform_real_distribution<double>(0.0, 2.0 * M_PI)(random);
    std::vector<double>& ctrl = m.pcurves.at(static_cast<std::size_t>(m.coedges[c].pcurve)).nurbs.ctrl;
    for (std::size_t k = 0; k + 1 < ctrl.size(); k += 2) {
        ctrl[k] += by * std::cos(angle);
        ctrl[k + 1] += by * std::sin(angle);
    }
    return true;
}

// The edges of the shape marked as collapsed to a point.
int collapsedEdges(const TopoDS_Shape& shape)
{
    int collapsed = 0;
    for (TopExp_Explorer e(shape, TopAbs_EDGE); e.More(); e.Next())
        collapsed += BRep_Tool::Degenerated(TopoDS::Edge(e.Current())) ? 1 : 0;
    return collapsed;
}

// A 2 cm block and a 1 cm cylinder (in metres), their surfaces planes and a
// cylinder, and made splines; in every frame, one coedge's pcurve at a time
// moved 3e-7 off its loop, at seeded coedges and directions: every writer
// writes the solid as it was.
TEST(ParameterJumps, AJumpAVertexCoversIsNoPoleForAnyWriter)
{
    const TopoDS_Shape block = BRepPrimAPI_MakeBox(gp_Pnt(0.001, 0.002, 0.0), 0.02, 0.015, 0.01).Shape();
    const TopoDS_Shape rod = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), 0.005, 0.01).Shape();
    const std::pair<const char*, TopoDS_Shape> solids[] = {
        {"block", block},
        {"spline block", BRepBuilderAPI_NurbsConvert(block).Shape()},
        {"rod", rod},
        {"spline rod", BRepBuilderAPI_NurbsConvert(rod).Shape()},
    };
    std::mt19937 random(3);
    int written = 0;
    for (const auto& [name, solid] : solids)
        for (const auto& [frame, place] : jumpFrames())
            for (int k = 0; k < 2; ++k) {
                auto [model, measures] = jumpSource(solid, place);
                ASSERT_TRUE(pcurveMoved(model, random, 3e-7)) << name;
                for (const char* writer : {".step", ".igs", ".brep"}) {
                    SCOPED_TRACE(std::string(name) + ", " + frame + ", move " + std::to_string(k) + ", " + writer);
                    const fs::path out = jumpScratch(std::string("out") + writer);
                    std::string error;
                    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
                    const TopoDS_Shape read = cad_samples::peerRead(out.string());
                    const cad_samples::Measures back = cad_samples::measure(read);
                    fs::remove(out);
                    EXPECT_EQ(collapsedEdges(read), 0);
                    EXPECT_TRUE(back.valid);
                    EXPECT_EQ(back.solids, 1);
                    EXPECT_LT(cad_samples::relativeGap(back.area, measures.area), 1e-5);
                    EXPECT_LT(cad_samples::relativeGap(back.volume, measures.volume), 1e-5);
                    ++written;
                }
            }
    EXPECT_GT(written, 0);
}

} // namespace
