// A face on a spline surface closed round one way but not periodic, whose
// pcurves run past the surface's parameters there (the sink sample's solid
// with its tolerances inflated, as read from a STEP file of it): built, it
// closes within its vertices' tolerances; read back from STEP or IGES, whose
// readers make the surface periodic, it may not. Every frame must give a file
// that a strict reader reads back valid, or a refusal naming the face.
#include "cad_damage.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../support/in_turn.hxx"
#include "../tools/occ_shapes.hxx"

#include <BRepCheck_Analyzer.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path closedSplineScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("closed_spline_" + std::to_string(::getpid()) + "_" + name);
}

// The file read without the reader's own healing (STEP) or as it comes
// (IGES), as a strict reader reads it.
TopoDS_Shape strictRead(const fs::path& path)
{
    if (path.extension() != ".step")
        return cad_samples::peerRead(path.string());
    Interface_Static::SetCVal("read.step.resource.name", "");
    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
    Interface_Static::SetCVal("read.step.sequence", "NoHealing");
    STEPControl_Reader reader;
    TopoDS_Shape shape;
    if (reader.ReadFile(path.c_str()) == IFSelect_RetDone && reader.TransferRoots() > 0)
        shape = reader.OneShape();
    Interface_Static::SetCVal("read.step.resource.name", "STEP");
    Interface_Static::SetCVal("read.step.sequence", "FromSTEP");
    return shape;
}

} // namespace

TEST(ClosedSplineReadBack, PCurvesPastTheSurfacesKnotsReadBackValidOrAreRefusedNamingTheFace)
{
    const fs::path sample = fs::path(cad_samples::SampleFolder) / "occ" / "MODERN_Sink_1.brep";
    if (!fs::exists(sample))
        GTEST_SKIP() << sample << " is not installed";
    const TopoDS_Shape whole = cad_samples::peerRead(sample.string());
    ASSERT_FALSE(whole.IsNull());
    const double size = cad_damage::sizeOf(whole);
    TopTools_IndexedMapOfShape solids;
    TopExp::MapShapes(whole, TopAbs_SOLID, solids);
    ASSERT_GE(solids.Extent(), 1);
    // Its first solid, whose face 96 lies on such a surface.
    const TopoDS_Shape solid = cad_damage::inflatedTolerances(solids(1), size, 8);
    const char* const frames[] = {"identity", "rotated", "mirrored"};
    const char* const writers[] = {".step", ".igs"};
    for (std::size_t w = 0; w < 2; ++w)
        for (std::size_t f = 0; f < 3; ++f) {
            if (!in_turn::taken(w, f, 3))
                continue;
            SCOPED_TRACE(std::string(frames[f]) + writers[w]);
            const fs::path in = closedSplineScratch("in.step"), out = closedSplineScratch(std::string("out") + writers[w]);
            ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(solid, frames[f], size), in.string()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            fs::remove(in);
            fs::remove(out);
            if (qelx_formats::writeCadFile(model, out.string(), error) != QELI_OK) {
                EXPECT_TRUE(std::regex_search(error, std::regex("body 0[,:] face [0-9]+"))) << error;
                EXPECT_FALSE(fs::exists(out));
                continue;
            }
            const TopoDS_Shape back = strictRead(out);
            fs::remove(out);
            ASSERT_FALSE(back.IsNull());
            EXPECT_TRUE(BRepCheck_Analyzer(back).IsValid()) << "written with success, read back invalid";
        }
}
