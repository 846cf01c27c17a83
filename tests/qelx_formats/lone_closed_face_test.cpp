// What the readers' sewing makes of a face that closes on itself (a whole
// sphere or torus) handed over alone: a solid, as a closed sewn shell is,
// whether it comes as a loose face beside others, alone in the file, or in a
// shell of its own; a face that does not close stays a face. Read through a
// STEP file, the solid holds its volume.
#include "cad_damage.hxx"
#include "cad_frames.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <STEPControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
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

int loneCount(const TopoDS_Shape& shape, TopAbs_ShapeEnum kind, TopAbs_ShapeEnum outside = TopAbs_SHAPE)
{
    int n = 0;
    for (TopExp_Explorer e(shape, kind, outside); e.More(); e.Next())
        ++n;
    return n;
}

double loneVolume(const TopoDS_Shape& solid)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(solid, props);
    return props.Mass();
}

// The one face of a whole sphere or torus, and the solid's volume.
struct ClosedFace {
    const char* what;
    TopoDS_Shape face;
    double volume;
};

std::vector<ClosedFace> closedFaces(std::mt19937& random, const gp_Trsf& place)
{
    std::uniform_real_distribution<double> size(0.5, 20.0), at(-50.0, 50.0);
    const gp_Pnt centre(at(random), at(random), at(random));
    const double r = size(random), R = r * 2.5;
    const TopoDS_Shape ball = BRepPrimAPI_MakeSphere(centre, r).Shape();
    const TopoDS_Shape ring = BRepPrimAPI_MakeTorus(gp_Ax2(centre, gp_Dir(1, 2, -1)), R, r).Shape();
    std::vector<ClosedFace> out;
    for (const auto& [what, solid, volume] :
         {std::tuple{"sphere", ball, 4.0 / 3.0 * M_PI * r * r * r}, std::tuple{"torus", ring, 2.0 * M_PI * M_PI * R * r * r}}) {
        TopExp_Explorer f(BRepBuilderAPI_Transform(solid, place, Standard_True).Shape(), TopAbs_FACE);
        out.push_back({what, f.Current(), volume});
    }
    return out;
}

} // namespace

// Each way a file hands a whole sphere's or torus's face over alone: the
// sewing makes a solid of it facing outwards (positive volume, the
// primitive's), beside a box of loose faces sewn into its own solid; half a
// sphere handed over the same ways stays a face.
TEST(LoneClosedFace, AWholeSphereOrTorusAloneIsReadAsASolidInEveryFrame)
{
    std::mt19937 random(4917);
    for (const auto& [frame, place] : cad_frames::threeFrames())
        for (int round = 0; round < 3; ++round)
            for (const ClosedFace& c : closedFaces(random, place))
                for (const char* how : {"alone in the file", "a shell of its own", "loose beside a box"}) {
                    SCOPED_TRACE(std::string(c.what) + ", " + how + ", " + frame + ", round " + std::to_string(round));
                    const std::string way = how;
                    BRep_Builder b;
                    TopoDS_Compound file;
                    b.MakeCompound(file);
                    if (way == "a shell of its own") {
                        TopoDS_Shell shell;
                        b.MakeShell(shell);
                        b.Add(shell, c.face);
                        b.Add(file, shell);
                    } else {
                        b.Add(file, c.face);
                    }
                    const bool box = way != "alone in the file";
                    if (box)
                        for (TopExp_Explorer f(cad_damage::looseBoxFaces(10.0, 0.0, place), TopAbs_FACE); f.More(); f.Next())
                            b.Add(file, f.Current());
                    const TopoDS_Shape read = qelx_formats::looseFacesSewn(file);
                    ASSERT_EQ(loneCount(read, TopAbs_SOLID), box ? 2 : 1) << "the closed face stayed a sheet";
                    EXPECT_EQ(loneCount(read, TopAbs_FACE), box ? 7 : 1) << "a face lost";
                    EXPECT_TRUE(BRepCheck_Analyzer(read).IsValid());
                    double volumes = 0.0;
                    for (TopExp_Explorer s(read, TopAbs_SOLID); s.More(); s.Next()) {
                        const double v = loneVolume(s.Current());
                        EXPECT_GT(v, 0.0) << "a solid facing inwards";
                        volumes += v;
                    }
                    EXPECT_NEAR(volumes, c.volume + (box ? 1000.0 : 0.0), 1e-6 * (c.volume + 1000.0));
                }
    // Half a sphere closes on nothing: it stays a face, alone or in its shell.
    const TopoDS_Shape half =
        TopExp_Explorer(BRepPrimAPI_MakeSphere(gp_Pnt(1, 2, 3), 4.0, 0.0, M_PI / 2).Shape(), TopAbs_FACE).Current();
    for (const bool inShell : {false, true}) {
        SCOPED_TRACE(inShell ? "hemisphere in a shell of its own" : "hemisphere alone");
        BRep_Builder b;
        TopoDS_Compound file;
        b.MakeCompound(file);
        if (inShell) {
            TopoDS_Shell shell;
            b.MakeShell(shell);
            b.Add(shell, half);
            b.Add(file, shell);
        } else {
            b.Add(file, half);
        }
        const TopoDS_Shape read = qelx_formats::looseFacesSewn(file);
        EXPECT_EQ(loneCount(read, TopAbs_SOLID), 0);
        EXPECT_EQ(loneCount(read, TopAbs_FACE), 1);
    }
}

// A file of loose faces (each face a shell of its own in STEP) holding a
// whole sphere and a box: the reader gives two solid bodies, the sphere's
// with its volume, in every frame.
TEST(LoneClosedFace, ALooseBallReadFromStepIsASolidBody)
{
    std::mt19937 random(733);
    for (const auto& [frame, place] : cad_frames::threeFrames()) {
        SCOPED_TRACE(frame);
        const ClosedFace ball = closedFaces(random, place).front();
        BRep_Builder b;
        TopoDS_Compound file;
        b.MakeCompound(file);
        b.Add(file, ball.face);
        b.Add(file, cad_damage::looseBoxFaces(10.0, 0.0, place));
        const fs::path path = fs::temp_directory_path() / ("lone_closed_" + std::to_string(::getpid()) + ".step");
        STEPControl_Writer writer;
        ASSERT_EQ(writer.Transfer(file, STEPControl_AsIs), IFSelect_RetDone);
        ASSERT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
        qelx_test::TestModel model;
        std::string error;
        ASSERT_EQ(qelx_formats::readCadFile(path.string(), model, error), QELI_OK) << error;
        fs::remove(path);
        ASSERT_EQ(model.bodies.size(), 2u);
        for (const qelx_test::TestBody& body : model.bodies)
            EXPECT_EQ(body.lumps.size(), 1u) << "a body read as a sheet";
        EXPECT_EQ(model.faces.size(), 7u);
    }
}
