// The BREP writer reads its file back where its own checks of what it built
// do not reach: tolerances wide against the model, a face reaching both
// poles with holes, a sphere or torus face of more than one wire. A plane
// face there handed over turned against its loop (a hole with no outer
// loop, which the analyser refuses over the whole shape) must be refused
// naming the face, never written as a file its reader finds invalid.
#include "cad_damage.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path readBackScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("brep_read_back_" + std::to_string(::getpid()) + "_" + name);
}

// A box whose vertices lie off their edges by a hundredth of its size, each
// vertex's tolerance reaching its edges (as a healed model holds them).
TopoDS_Shape looseBox()
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 10.0, 10.0, 8.0).Shape();
    const double size = cad_damage::sizeOf(box), fraction = 1e-2;
    const TopoDS_Shape moved = cad_damage::movedVertices(box, fraction, size, 7);
    BRep_Builder b;
    for (TopExp_Explorer v(moved, TopAbs_VERTEX); v.More(); v.Next())
        b.UpdateVertex(TopoDS::Vertex(v.Current()), 1.5 * fraction * size);
    return moved;
}

TEST(BrepReadBack, PlaneFacesTurnedAgainstTheirLoopWhereTheFileIsReadBackAreRefusedNamingThem)
{
    const TopoDS_Shape nick = BRepPrimAPI_MakeBox(gp_Pnt(2.5, -0.5, -0.5), 1.0, 1.0, 1.0).Shape();
    const struct {
        const char* name;
        TopoDS_Shape shape;
    } solids[] = {
        // A torus face bounded by the hole a box cut alone.
        {"torus less a cap",
         BRepAlgoAPI_Cut(BRepPrimAPI_MakeTorus(5.0, 1.5).Shape(),
                         BRepPrimAPI_MakeBox(gp_Pnt(-0.5, 4.5, 1.0), 1.0, 1.0, 1.0).Shape())
             .Shape()},
        // A sphere face from pole to pole with a hole, of two wires.
        {"sphere less a nick", BRepAlgoAPI_Cut(BRepPrimAPI_MakeSphere(3.0).Shape(), nick).Shape()},
        {"loose box", looseBox()},
    };
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(3, -1, 2));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 1, 0)));
    const std::pair<const char*, gp_Trsf> frames[] = {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
    const fs::path in = readBackScratch("in.brep"), out = readBackScratch("out.brep");
    int refused = 0;
    for (const auto& solid : solids)
        for (const auto& [frame, place] : frames) {
            SCOPED_TRACE(std::string(solid.name) + ", " + frame);
            const TopoDS_Shape shape = BRepBuilderAPI_Transform(solid.shape, place, Standard_True).Shape();
            const cad_samples::Measures source = cad_samples::measure(shape);
            ASSERT_TRUE(source.valid);
            ASSERT_TRUE(BRepTools::Write(shape, in.c_str()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            ASSERT_EQ(model.bodies.size(), 1u);
            ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
            for (std::size_t f = 0; f < model.faces.size(); ++f) {
                if (model.surfaces.at(static_cast<std::size_t>(model.faces[f].surface)).type != qelx_test::SurfPlane)
                    continue;
                SCOPED_TRACE("face " + std::to_string(f));
                qelx_test::TestModel turned = model;
                turned.faces[f].sense = !turned.faces[f].sense;
                fs::remove(out);
                if (qelx_formats::writeCadFile(turned, out.string(), error) == QELI_OK) {
                    // Written, the file holds the solid it was.
                    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                    EXPECT_TRUE(back.valid);
                    EXPECT_LT(cad_samples::relativeGap(back.area, source.area), 1e-6);
                    continue;
                }
                const std::string name = "body 0, face " + std::to_string(f) + ":";
                EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
                EXPECT_FALSE(fs::exists(out));
                ++refused;
            }
        }
    fs::remove(in);
    fs::remove(out);
    EXPECT_GT(refused, 0);
}

} // namespace
