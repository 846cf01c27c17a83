// A thin plate whose top corner a healing pushed through it, past its
// bottom face, and widened to reach its edges again: a tolerance wider than
// the plate is thick, though within a hundredth of the plate's extent. A
// STEP file carries one uncertainty for the whole model, and its reader
// rebuilds the corner's faces from the curves and that uncertainty (a face
// came back with a loop running the way of its outer loop). Every
// writer writes the plate so that it reads back valid with its volume, or
// refuses it as a file it cannot hold; whichever top corner, in every frame.
#include "cad_samples.hxx"
#include "cad_frames.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../support/in_turn.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

namespace fs = std::filesystem;

fs::path plateScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("thin_plate_" + std::to_string(::getpid()) + "_" + name);
}

} // namespace

TEST(ThinPlateVertex, ACornerPushedThroughAThinPlateIsWrittenValidOrRefused)
{
    const std::vector<std::pair<const char*, gp_Trsf>> frames = cad_frames::threeFrames();
    const double side = 10.0;
    const fs::path in = plateScratch("in.brep");
    std::size_t group = 0;
    int refused = 0;
    // Thickness, and how far the corner is pushed down (past the bottom face
    // by twice and five times the thickness), each a group of corner x frame.
    for (const double thick : {0.02, 0.025})
        for (const double push : {3.0, 6.0}) {
            for (std::size_t member = 0; member < 4 * frames.size(); ++member) {
                if (!in_turn::taken(group, member, 4 * frames.size()))
                    continue;
                const auto& [frame, place] = frames[member % frames.size()];
                const int corner = static_cast<int>(member / frames.size());
                const double cx = corner % 2 ? side : 0.0, cy = corner / 2 ? side : 0.0;
                const TopoDS_Shape plate =
                    BRepBuilderAPI_Transform(BRepPrimAPI_MakeBox(side, side, thick).Shape(), place, Standard_True).Shape();
                ASSERT_TRUE(BRepTools::Write(plate, in.c_str()));
                qelx_test::TestModel model;
                std::string error;
                ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
                // The corner at (cx, cy, thick) pushed along the plate's -z.
                const gp_Pnt at = gp_Pnt(cx, cy, thick).Transformed(place);
                const gp_Vec down = gp_Vec(0, 0, -push * thick).Transformed(place);
                int moved = 0;
                for (const qelx_test::TestVertex& v : model.vertices) {
                    qelx_test::Vec3& p = model.points.at(static_cast<std::size_t>(v.point));
                    if (gp_Pnt(p[0], p[1], p[2]).Distance(at) > 1e-9)
                        continue;
                    p = {p[0] + down.X(), p[1] + down.Y(), p[2] + down.Z()};
                    ++moved;
                }
                ASSERT_EQ(moved, 1);
                for (const char* file : {"out.brep", "out.step", "out.igs"}) {
                    SCOPED_TRACE(std::string(file) + ", " + frame + ", thickness " + std::to_string(thick) +
                                 ", pushed " + std::to_string(push) + " times it, corner " + std::to_string(corner));
                    const fs::path out = plateScratch(file);
                    fs::remove(out);
                    if (qelx_formats::writeCadFile(model, out.string(), error) != QELI_OK) {
                        EXPECT_NE(std::string(file), "out.brep") << error;
                        EXPECT_NE(error.find("cannot hold the model"), std::string::npos) << error;
                        EXPECT_FALSE(fs::exists(out));
                        ++refused;
                        continue;
                    }
                    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                    fs::remove(out);
                    EXPECT_TRUE(back.valid);
                    EXPECT_EQ(back.solids, 1);
                    EXPECT_LT(cad_samples::relativeGap(back.volume, side * side * thick), 1e-3) << back.volume;
                }
            }
            ++group;
        }
    fs::remove(in);
    // STEP cannot hold a corner pushed so far: the case is met.
    EXPECT_GT(refused, 0);
}
