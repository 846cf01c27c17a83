// Faces closing round a seam, a pole or an apex, converted through the kernel
// into a neutral document: every loop of what comes out joins up in its
// surface's parameters (a seam's two uses a period apart, across a pole too).
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include "convert_run.hxx"
#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "tools/neutral_checks.hxx"
#include "support/in_turn.hxx"
#include "tools/occ_neutral_writer.hxx"
#include "tools/occ_shapes.hxx"

namespace fs = std::filesystem;

namespace {

// "" when every loop of the file converted into a neutral document (healed by
// `recipe`, the default when null) joins up, within `within` of the model's
// size.
std::string openLoopAfterConverting(const fs::path& in, const fs::path& dir, const char* recipe = nullptr,
                                    double within = 1e-6)
{
    const fs::path out = dir / "loops.json";
    const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), recipe);
    if (run.status != 0)
        return "not converted: " + run.err;
    qelx_test::TestModel model;
    std::string error;
    if (qelx_formats::readNeutralDocument(out.string(), model, error) != QELI_OK)
        return "not read back: " + error;
    fs::remove(out);
    return neutral_checks::firstOpenLoop(model, within * neutral_checks::pointsSize(model));
}

} // namespace

// Caps that reach a pole (a sphere's, a cone's apex), a zone, a cylinder and
// a torus with their seams, in every frame, as they are and healed by the
// recipes that fit pcurves afresh.
TEST(LoopPCurves, SeamsPolesAndApexesJoinUpInEveryFrame)
{
    const fs::path dir = convert_run::convertScratch();
    BRep_Builder builder;
    TopoDS_Compound all;
    builder.MakeCompound(all);
    const gp_Ax2 at(gp_Pnt(1, 2, -1), gp_Dir(0, 0, 1));
    builder.Add(all, BRepPrimAPI_MakeSphere(at, 2.0, 0.4, M_PI / 2).Shape());
    builder.Add(all, BRepPrimAPI_MakeSphere(at.Translated(gp_Vec(6, 0, 0)), 2.0, -M_PI / 2, -0.3).Shape());
    builder.Add(all, BRepPrimAPI_MakeSphere(at.Translated(gp_Vec(12, 0, 0)), 2.0, -0.5, 0.7).Shape());
    builder.Add(all, BRepPrimAPI_MakeCone(at.Translated(gp_Vec(0, 6, 0)), 0.0, 2.0, 3.0).Shape());
    builder.Add(all, BRepPrimAPI_MakeTorus(at.Translated(gp_Vec(6, 6, 0)), 3.0, 1.0).Shape());
    builder.Add(all, occ_shapes::placed(occ_shapes::named("cylinder"), "identity"));
    for (const char* frame : occ_shapes::Frames) {
        const fs::path in = dir / (std::string("seams_") + frame + ".brep");
        ASSERT_TRUE(BRepTools::Write(occ_shapes::placed(all, frame, 20.0), in.c_str()));
        for (const char* recipe : {static_cast<const char*>(nullptr), "off", "iges"})
            EXPECT_EQ(openLoopAfterConverting(in, dir, recipe), "") << frame << ", " << (recipe ? recipe : "default");
    }
    fs::remove_all(dir);
}

// A sample whose sphere cap closed at its pole with both seam uses on one
// side (its loop ran back a whole turn between them).
TEST(LoopPCurves, FuseSampleJoinsUp)
{
    const fs::path path = fs::path(cad_samples::SampleFolder) / "occ" / "fuse.brep";
    if (!fs::exists(path))
        GTEST_SKIP() << path << " missing (Debian package occt-misc)";
    const fs::path dir = convert_run::convertScratch();
    EXPECT_EQ(openLoopAfterConverting(path, dir), "");
    fs::remove_all(dir);
}

// The sample ball and spheres drilled across their seam at seeded places,
// every vertex moved by 1e-3 of the size (seeded), placed in every frame and
// handed over as STEP files (whose reader bounds the edges by the moved
// vertices): healed by every recipe, every loop of what comes out joins up
// in its surface's parameters, within a few times the move. (Putting a moved
// vertex back where its edges' curves meet fitted their pcurves afresh into
// the surface's principal range, a sphere's loop then jumping a whole turn
// at its seam.) A run takes one frame and recipe for each sphere, in turn
// (every frame and recipe met).
TEST(LoopPCurves, DrilledSpheresWithMovedVerticesJoinUpUnderEveryRecipe)
{
    const char* const recipes[] = {"step", "iges", "proe", "v4", "v5", "ug",
                                   "vda", "ps", "ideas", "inventor", "standard"};
    const fs::path dir = convert_run::convertScratch();
    const fs::path ball = fs::path(cad_samples::SampleFolder) / "occ/Ball.brep";
    const struct {
        const char* name;
        TopoDS_Shape shape;
    } spheres[] = {{"the sample ball", fs::exists(ball) ? cad_samples::peerRead(ball.string()) : TopoDS_Shape()},
                   {"two pins, seed 11", occ_shapes::drilledAcrossTheSeam(11, 2)}};
    const std::size_t ways = std::size(occ_shapes::Frames) * std::size(recipes);
    for (std::size_t m = 0; m < std::size(spheres); ++m) {
        if (spheres[m].shape.IsNull())
            continue;
        const double size = cad_damage::sizeOf(spheres[m].shape);
        const TopoDS_Shape moved = cad_damage::movedVertices(spheres[m].shape, 1e-3, size, 5);
        for (std::size_t way = 0; way < ways; ++way) {
            if (!in_turn::taken(m, way, ways))
                continue;
            const char* frame = occ_shapes::Frames[way / std::size(recipes)];
            const char* recipe = recipes[way % std::size(recipes)];
            SCOPED_TRACE(std::string(spheres[m].name) + ", " + frame + ", " + recipe);
            const fs::path in = dir / (std::string("moved_") + frame + ".step");
            ASSERT_TRUE(occ_shapes::writeFile(
                qelx_formats::withSeamHolesReseated(occ_shapes::placed(moved, frame, size)), in.string()));
            EXPECT_EQ(openLoopAfterConverting(in, dir, recipe, 3e-3), "");
        }
    }
    fs::remove_all(dir);
}

// The sample bearing axle's faces loose, each a sheet of its own (its whole
// sphere a face whose loop walks the seam both ways, the seam's two uses on
// edges of their own, their pcurves a period apart), placed in every frame,
// written to STEP and read back by Open CASCADE, handed over as a neutral
// document: healed by every recipe (in turn), the STEP file written is
// valid with the area the unhealed conversion writes (the UG recipe joins
// some of the sheets). (The STEP
// recipe dropped the pcurves of such a loop with those of every analytic
// face; the writer then built the sphere covering nothing and refused the
// model.)
TEST(LoopPCurves, ASheetWhoseLoopWalksItsSeamBothWaysKeepsItsAreaUnderEveryRecipe)
{
    const fs::path sample = fs::path(cad_samples::SampleFolder) / "occ/Axis_of_bearing.brep";
    if (!fs::exists(sample))
        GTEST_SKIP() << sample << " missing (Debian package occt-misc)";
    const char* const recipes[] = {"step", "iges", "proe", "v4", "v5", "ug",
                                   "vda", "ps", "ideas", "inventor", "standard"};
    const fs::path dir = convert_run::convertScratch();
    const TopoDS_Shape shape = cad_samples::peerRead(sample.string());
    ASSERT_FALSE(shape.IsNull());
    const TopoDS_Shape loose = cad_damage::looseFaces(shape);
    const double size = cad_damage::sizeOf(shape);
    const std::size_t ways = std::size(recipes);
    int judged = 0;
    for (std::size_t f = 0; f < std::size(occ_shapes::Frames); ++f) {
        const char* frame = occ_shapes::Frames[f];
        const fs::path step = dir / "loose.step";
        ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(loose, frame, size), step.string()));
        const TopoDS_Shape read = cad_samples::peerRead(step.string());
        ASSERT_FALSE(read.IsNull());
        std::string text = occ_neutral::neutralText(read);
        const std::size_t at = text.find("\"xtype\":\"XTest\"");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, 15, "\"xtype\":\"XStep\"");
        const fs::path doc = dir / "loose.json";
        std::ofstream(doc, std::ios::binary) << text;
        const fs::path out = dir / "loose_out.step";
        fs::remove(out);
        const convert_run::ConvertRun plain = convert_run::runConvert(doc.string(), out.string(), "off");
        ASSERT_EQ(plain.status, 0) << plain.err;
        const cad_samples::Measures unhealed = cad_samples::measure(cad_samples::peerRead(out.string()));
        for (std::size_t way = 0; way < ways; ++way) {
            if (!in_turn::taken(f, way, ways))
                continue;
            SCOPED_TRACE(std::string(frame) + ", " + recipes[way]);
            fs::remove(out);
            const convert_run::ConvertRun run = convert_run::runConvert(doc.string(), out.string(), recipes[way]);
            ++judged;
            ASSERT_EQ(run.status, 0) << run.err;
            const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
            EXPECT_TRUE(back.valid);
            EXPECT_LT(cad_samples::relativeGap(back.area, unhealed.area), 1e-6)
                << back.area << " where unhealed " << unhealed.area;
        }
    }
    fs::remove_all(dir);
    EXPECT_GT(judged, 0);
}
