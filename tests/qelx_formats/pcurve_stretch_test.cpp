// A kernel's fit of a pcurve falls a few millionths of its range short of
// the edge it was fitted for. On a small model such a pcurve lies within
// the edge's tolerance all the same, so nothing later refits it: unless it
// is stretched onto the edge's range, the file holds a pcurve whose range
// is not the edge's (a BREP file read back invalid, a sphere's wedge
// refused). At every size and in every frame, every writer writes such a
// model, read back valid as the same solid.
#include "cad_samples.hxx"
#include "cad_frames.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../support/in_turn.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path stretchScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("pcurve_stretch_" + std::to_string(::getpid()) + "_" + name);
}

// The model of `shape` as read from Open CASCADE's BREP file of it, each of
// its pcurves starting `shortBy` of its range late (or, every other one,
// ending so much early).
qelx_test::TestModel shortPcurves(const TopoDS_Shape& shape, double shortBy)
{
    const fs::path in = stretchScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(shape, in.c_str()));
    qelx_test::TestModel model;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    bool late = true;
    for (qelx_test::TestPCurve& p : model.pcurves) {
        std::vector<double>& knots = p.nurbs.knots;
        const double length = knots.back() - knots.front();
        (late ? knots.front() : knots.back()) += (late ? 1.0 : -1.0) * shortBy * length;
        late = !late;
    }
    return model;
}

} // namespace

TEST(PcurveStretch, PcurvesAFewMillionthsShortAreWrittenValidAtEverySizeAndInEveryFrame)
{
    const std::vector<std::pair<const char*, gp_Trsf>> frames = cad_frames::threeFrames();
    const std::pair<const char*, TopoDS_Shape> solids[] = {
        {"cylinder", BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0.3, -0.2, 0.1), gp_Dir(1, 2, 2)), 1.5, 4.0).Shape()},
        {"sphere wedge", BRepPrimAPI_MakeSphere(gp_Pnt(0.1, 0.2, 0.3), 2.0, 1.0).Shape()},
    };
    const double shortBys[] = {5e-7, 2e-6, 8e-6};
    // A group per solid and size, its members each frame with each shortfall.
    const std::size_t members = frames.size() * std::size(shortBys);
    std::size_t group = 0;
    for (const auto& [solid, unit] : solids)
        for (const double scale : {0.01, 1.0, 100.0}) {
            for (std::size_t member = 0; member < members; ++member) {
                if (!in_turn::taken(group, member, members))
                    continue;
                const auto& [frame, place] = frames[member % frames.size()];
                const double shortBy = shortBys[member / frames.size()];
                gp_Trsf sized;
                sized.SetScale(gp_Pnt(0, 0, 0), scale);
                const TopoDS_Shape shape = BRepBuilderAPI_Transform(unit, place * sized, Standard_True).Shape();
                const cad_samples::Measures source = cad_samples::measure(shape);
                ASSERT_TRUE(source.valid);
                const qelx_test::TestModel model = shortPcurves(shape, shortBy);
                for (const char* writer : {".brep", ".step", ".igs"}) {
                    SCOPED_TRACE(std::string(solid) + ", scale " + std::to_string(scale) + ", short by " +
                                 std::to_string(shortBy) + ", " + frame + ", " + writer);
                    const fs::path out = stretchScratch(std::string("out") + writer);
                    std::string error;
                    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
                    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                    fs::remove(out);
                    EXPECT_TRUE(back.valid);
                    EXPECT_EQ(back.solids, 1);
                    EXPECT_LT(cad_samples::relativeGap(back.volume, source.volume), 1e-6);
                }
            }
            ++group;
        }
}
