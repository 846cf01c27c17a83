// Faces on a spindle torus (its tube crossing its axis, as a fillet about a
// small hub leaves one) written as STEP: Open CASCADE's STEP writer would
// set such a surface down as a surface of revolution on parameters of its
// own, and a strict reader then took a patch, in a turned frame, as bounded
// by a curve swept round a whole turn. Every patch, in every frame, reads
// back strictly as it went: valid, with its area.
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../tools/occ_shapes.hxx"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>
#include <gp_Ax3.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::numbers::pi;

fs::path spindleScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("spindle_torus_" + std::to_string(::getpid()) + "_" + name);
}

// What a STEP file holds as a strict reader reads it (the reader's own
// shape healing left out, as the writers read their text back).
cad_samples::Measures strictlyRead(const fs::path& path)
{
    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
    Interface_Static::SetCVal("read.step.resource.name", "");
    Interface_Static::SetCVal("read.step.sequence", "NoHealing");
    STEPControl_Reader reader;
    TopoDS_Shape shape;
    if (reader.ReadFile(path.string().c_str()) == IFSelect_RetDone && reader.TransferRoots() > 0)
        shape = reader.OneShape();
    Interface_Static::SetCVal("read.step.resource.name", "STEP");
    Interface_Static::SetCVal("read.step.sequence", "FromSTEP");
    return cad_samples::measure(shape);
}

// A patch of the spindle torus of radii 0.2 and 0.8 over [u0, u1] x [v0, v1].
TopoDS_Shape spindlePatch(double u0, double u1, double v0, double v1)
{
    const Handle(Geom_ToroidalSurface) torus =
        new Geom_ToroidalSurface(gp_Ax3(gp_Pnt(1, 2, 3), gp_Dir(0, 1, 0), gp_Dir(0.8, 0, -0.6)), 0.2, 0.8);
    return BRepBuilderAPI_MakeFace(torus, u0, u1, v0, v1, 1e-7).Shape();
}

// The shape in the frames of the other tests (occ_shapes: identity,
// rotated, mirrored, as for a shape of size 1) and turned about seeded axes.
std::vector<std::pair<std::string, TopoDS_Shape>> inSpindleFrames(const TopoDS_Shape& shape)
{
    std::vector<std::pair<std::string, TopoDS_Shape>> out;
    for (const char* frame : occ_shapes::Frames)
        out.emplace_back(frame, occ_shapes::placed(shape, frame, 1.0));
    std::mt19937 random(47);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), angle(-pi, pi);
    for (int k = 0; k < 4; ++k) {
        gp_Trsf turn;
        turn.SetRotation(gp_Ax1(gp_Pnt(unit(random), unit(random), unit(random)),
                                gp_Dir(unit(random), unit(random), unit(random) + 2.0)),
                         angle(random));
        out.emplace_back("seeded turn " + std::to_string(k), BRepBuilderAPI_Transform(shape, turn, Standard_True).Shape());
    }
    return out;
}

TEST(SpindleTorus, StepHoldsEveryPatchInEveryFrame)
{
    // Quarter turns of the tube each side of its seam and across the
    // axis, and a seeded stretch of each.
    std::vector<std::pair<double, double>> tubes = {{-pi / 2, 0.0}, {0.0, pi / 2}, {pi / 2, pi}, {-pi, -pi / 2}};
    std::mt19937 random(11);
    std::uniform_real_distribution<double> start(-pi, pi), length(0.3, 1.5);
    for (int k = 0; k < 2; ++k) {
        const double v0 = start(random);
        tubes.emplace_back(v0, v0 + length(random));
    }
    int written = 0;
    for (const auto& [v0, v1] : tubes)
        for (const auto& [frame, shape] : inSpindleFrames(spindlePatch(0.0, 1.1436, v0, v1))) {
            SCOPED_TRACE(frame + ", tube from " + std::to_string(v0) + " to " + std::to_string(v1));
            const cad_samples::Measures source = cad_samples::measure(shape);
            ASSERT_TRUE(source.valid);
            const fs::path in = spindleScratch("in.brep"), out = spindleScratch("out.step");
            ASSERT_TRUE(occ_shapes::writeFile(shape, in.string()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            fs::remove(in);
            ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
            const cad_samples::Measures back = strictlyRead(out);
            fs::remove(out);
            EXPECT_TRUE(back.valid);
            EXPECT_EQ(back.faces, 1);
            EXPECT_LT(cad_samples::relativeGap(back.area, source.area), 1e-6) << back.area << " where " << source.area;
            ++written;
        }
    EXPECT_GT(written, 0);
}

} // namespace
