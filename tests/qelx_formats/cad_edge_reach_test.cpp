// Closed edges, layers and loose vertices on the writers' roads. A wire
// body of one closed edge whose vertex lies where its curve starts or where
// it ends but not both (its tolerance reaching the other end, as a healed
// wire holds it): with no face to widen the vertex, the written edge must
// reach both ends, turned and mirrored.
#include "cad_damage.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Circle.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>
#include <TopExp_Explorer.hxx>
#include <TopExp.hxx>
#include <TopoDS.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(CadClosedWire, AClosedEdgesVertexOffOneEndOfItsCurveIsWrittenReachingBoth)
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 2), gp_Dir(1, 1, 0)));
    const fs::path in = fs::temp_directory_path() / ("closed_wire_" + std::to_string(::getpid()) + ".brep");
    const fs::path out = fs::temp_directory_path() / ("closed_wire_out_" + std::to_string(::getpid()) + ".brep");
    for (const bool atEnd : {true, false})
        for (const gp_Trsf& place : {turn, mirror * turn}) {
            SCOPED_TRACE(std::string(atEnd ? "off the end" : "off the start") +
                         (place.IsNegative() ? ", mirrored" : ", turned"));
            // A circle of radius 5 cut 2e-3 short at one end; the vertex where the other end is.
            const double r = 5.0, cut = 2e-3;
            const Handle(Geom_Circle) circle = new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), r);
            const double f = atEnd ? 0.0 : cut, l = atEnd ? 2.0 * M_PI - cut : 2.0 * M_PI;
            BRep_Builder b;
            TopoDS_Vertex v;
            b.MakeVertex(v, circle->Value(atEnd ? f : l), 1.2 * r * cut);
            TopoDS_Edge edge;
            b.MakeEdge(edge, circle, 1e-7);
            b.Add(edge, v.Oriented(TopAbs_FORWARD));
            b.Add(edge, v.Oriented(TopAbs_REVERSED));
            b.Range(edge, f, l);
            const TopoDS_Shape wire =
                BRepBuilderAPI_Transform(BRepBuilderAPI_MakeWire(edge).Wire(), place, Standard_True).Shape();
            ASSERT_TRUE(cad_samples::measure(wire).valid);
            ASSERT_TRUE(BRepTools::Write(wire, in.c_str()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            ASSERT_EQ(model.edges.size(), 1u);
            ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
            const TopoDS_Shape back = cad_samples::peerRead(out.string());
            EXPECT_TRUE(cad_samples::measure(back).valid);
            TopTools_IndexedMapOfShape edges;
            TopExp::MapShapes(back, TopAbs_EDGE, edges);
            ASSERT_EQ(edges.Extent(), 1);
            const TopoDS_Edge written = TopoDS::Edge(edges(1));
            TopoDS_Vertex v0, v1;
            TopExp::Vertices(written, v0, v1);
            ASSERT_TRUE(v0.IsSame(v1));
            double w0 = 0.0, w1 = 0.0;
            const Handle(Geom_Curve) c = BRep_Tool::Curve(written, w0, w1);
            ASSERT_FALSE(c.IsNull());
            for (const double w : {w0, w1})
                EXPECT_LE(BRep_Tool::Pnt(v0).Distance(c->Value(w)), BRep_Tool::Tolerance(v0)) << "at " << w;
        }
    fs::remove(in);
    fs::remove(out);
}

// Face layers read from a STEP file (by name) are numbered so that the
// model carries them on through an IGES file (by level): every face on a
// layer before is on one after both roads, and no two layers merge.
TEST(CadLayerRoads, FaceLayersReadFromStepSurviveAWriteToIges)
{
    qelx_test::TestModel model = qelx_test::TestModel::twoFacesSharingEdge();
    ASSERT_EQ(model.faces.size(), 2u);
    model.layers[7] = qelx_test::TestLayer{"Outline", {0.0, 0.0, 0.0, 0.0}, true};
    model.layers[12] = qelx_test::TestLayer{"Hatch", {0.0, 0.0, 0.0, 0.0}, true};
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 0)].layer = 7;
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 1)].layer = 12;
    const auto layered = [](const qelx_test::TestModel& m) {
        std::set<int> layers;
        int faces = 0;
        for (std::size_t f = 0; f < m.faces.size(); ++f) {
            const auto it = m.attributes.find(qelx_test::wordOf(qelx_test::KindFace, static_cast<int>(f)));
            if (it != m.attributes.end() && it->second.layer && m.layers.count(*it->second.layer))
                ++faces, layers.insert(*it->second.layer);
        }
        return std::make_pair(faces, static_cast<int>(layers.size()));
    };
    const fs::path step = fs::temp_directory_path() / ("layer_roads_" + std::to_string(::getpid()) + ".step");
    const fs::path iges = fs::temp_directory_path() / ("layer_roads_" + std::to_string(::getpid()) + ".igs");
    std::string error;
    ASSERT_EQ(qelx_formats::writeCadFile(model, step.string(), error), QELI_OK) << error;
    qelx_test::TestModel fromStep, fromIges;
    ASSERT_EQ(qelx_formats::readCadFile(step.string(), fromStep, error), QELI_OK) << error;
    EXPECT_EQ(layered(fromStep), std::make_pair(2, 2));
    ASSERT_EQ(qelx_formats::writeCadFile(fromStep, iges.string(), error), QELI_OK) << error;
    ASSERT_EQ(qelx_formats::readCadFile(iges.string(), fromIges, error), QELI_OK) << error;
    EXPECT_EQ(layered(fromIges), std::make_pair(2, 2));
    fs::remove(step);
    fs::remove(iges);
}

// Solids whose vertices lie off their edges by some thousandths of their
// size, each vertex's tolerance reaching its edges (as a healed model holds
// them): STEP carries one tolerance for the whole file and IGES none, so
// the writer either writes a file its reader (for STEP a strict one, which
// heals nothing) reads valid, or refuses it as one that cannot hold the
// model.
TEST(CadLooseTolerances, VerticesLooseByThousandthsAreWrittenOnlyWhereTheyReadBackValid)
{
    const fs::path in = fs::temp_directory_path() / ("loose_" + std::to_string(::getpid()) + ".brep");
    const struct {
        const char* name;
        TopoDS_Shape shape;
    } solids[] = {
        {"box", BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 10.0, 10.0, 8.0).Shape()},
        {"cylinder", BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(1, 2, 2)), 4.0, 9.0).Shape()},
        {"cone", BRepPrimAPI_MakeCone(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(2, -1, 2)), 4.0, 1.5, 9.0).Shape()},
    };
    int written = 0;
    for (const auto& solid : solids)
        for (const double fraction : {2e-3, 4e-3})
            for (const char* format : {"step", "igs"}) {
                SCOPED_TRACE(std::string(solid.name) + " as " + format + ", vertices off by " + std::to_string(fraction));
                const double size = cad_damage::sizeOf(solid.shape);
                const TopoDS_Shape moved = cad_damage::movedVertices(solid.shape, fraction, size, 7);
                BRep_Builder b;
                for (TopExp_Explorer v(moved, TopAbs_VERTEX); v.More(); v.Next())
                    b.UpdateVertex(TopoDS::Vertex(v.Current()), 1.5 * fraction * size);
                ASSERT_TRUE(cad_samples::measure(moved).valid);
                ASSERT_TRUE(BRepTools::Write(moved, in.c_str()));
                qelx_test::TestModel model;
                std::string error;
                ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
                const fs::path out = fs::temp_directory_path() / ("loose_" + std::to_string(::getpid()) + "." + format);
                if (qelx_formats::writeCadFile(model, out.string(), error) != QELI_OK) {
                    EXPECT_NE(error.find("cannot hold the model"), std::string::npos) << error;
                    EXPECT_FALSE(fs::exists(out));
                    continue;
                }
                ++written;
                TopoDS_Shape back;
                if (std::string(format) == "igs") {
                    back = cad_samples::peerRead(out.string());
                } else {
                    // Read as a reader that heals nothing reads it.
                    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
                        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
                    const std::string resource = Interface_Static::CVal("read.step.resource.name"),
                                      sequence = Interface_Static::CVal("read.step.sequence");
                    Interface_Static::SetCVal("read.step.resource.name", "");
                    Interface_Static::SetCVal("read.step.sequence", "NoHealing");
                    STEPControl_Reader reader;
                    if (reader.ReadFile(out.c_str()) == IFSelect_RetDone && reader.TransferRoots() > 0)
                        back = reader.OneShape();
                    Interface_Static::SetCVal("read.step.resource.name", resource.c_str());
                    Interface_Static::SetCVal("read.step.sequence", sequence.c_str());
                    if (!back.IsNull())
                        BRepLib::BuildCurves3d(back);
                }
                fs::remove(out);
                ASSERT_FALSE(back.IsNull());
                EXPECT_TRUE(BRepCheck_Analyzer(back).IsValid());
            }
    // Most are written: the check refuses only what would not read back.
    EXPECT_GE(written, 8);
    fs::remove(in);
}
