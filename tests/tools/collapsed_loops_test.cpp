// Faces whose every edge the source holds as degenerate (a boundary shrunk to
// a point, as Open CASCADE's reader leaves a small face whose vertices were
// moved further apart than its edges are long) bound nothing: each goes, named,
// and the rest of its body is built. Such loops reached the kernel without a
// coedge, the face was left with no loop, and the whole body was refused
// ("bad owner link"), naming no face.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepLib.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include "convert_run.hxx"
#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"
#include "tools/occ_shapes.hxx"

namespace fs = std::filesystem;

namespace {

// The point placed in the frame, as a shape of size 5 is.
gp_Pnt placedPoint(const gp_Pnt& p, const char* frame)
{
    return BRep_Tool::Pnt(TopoDS::Vertex(occ_shapes::placed(BRepBuilderAPI_MakeVertex(p).Vertex(), frame, 5.0)));
}

// A plane face of the polygon through `points` (closed), built in the frame
// (a placed copy keeps no pcurves of a plane's edges).
TopoDS_Face polygonFace(std::initializer_list<gp_Pnt> points, const char* frame)
{
    BRepBuilderAPI_MakePolygon polygon;
    for (const gp_Pnt& p : points)
        polygon.Add(placedPoint(p, frame));
    polygon.Close();
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(polygon.Wire(), Standard_True).Face();
    // Its edges' pcurves held (a plane's are otherwise made as asked for,
    // and a degenerate edge's never).
    TopTools_ListOfShape edges;
    for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next())
        edges.Append(e.Current());
    BRepLib::BuildPCurveForEdgesOnPlane(edges, face);
    return face;
}

// The refusal a run of `in` into STEP ends with; "" when it converted.
std::string refusal(const fs::path& in, const fs::path& dir, const char* recipe)
{
    const fs::path out = dir / "collapsed.step";
    const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), recipe);
    fs::remove(out);
    return run.status == 0 ? std::string() : convert_run::lastLine(run.err);
}

} // namespace

// Loose faces, one of them a triangle whose edges are all flagged degenerate,
// as BREP files (a STEP file leaves degenerate edges out) in every frame,
// healed and not.
TEST(CollapsedLoops, AFaceOfDegenerateEdgesAloneIsLeftOutNamedAndTheRestBuilt)
{
    const fs::path dir = convert_run::convertScratch();
    for (const char* frame : occ_shapes::Frames) {
        TopoDS_Face collapsed = polygonFace({gp_Pnt(0, 0, 1), gp_Pnt(1e-3, 0, 1), gp_Pnt(0, 1e-3, 1)}, frame);
        BRep_Builder builder;
        for (TopExp_Explorer e(collapsed, TopAbs_EDGE); e.More(); e.Next())
            builder.Degenerated(TopoDS::Edge(e.Current()), Standard_True);
        TopoDS_Compound all;
        builder.MakeCompound(all);
        builder.Add(all, polygonFace({gp_Pnt(0, 0, 0), gp_Pnt(4, 0, 0), gp_Pnt(4, 3, 0), gp_Pnt(0, 3, 0)}, frame));
        builder.Add(all, collapsed);
        builder.Add(all, polygonFace({gp_Pnt(0, 0, 2), gp_Pnt(4, 0, 2), gp_Pnt(0, 3, 2)}, frame));
        const fs::path in = dir / (std::string("collapsed_") + frame + ".brep");
        ASSERT_TRUE(occ_shapes::writeFile(all, in.string()));
        for (const char* recipe : {"off", "step"}) {
            SCOPED_TRACE(std::string(frame) + ", " + recipe);
            const std::string why = refusal(in, dir, recipe);
            EXPECT_NE(why.find("part of it could not be imported"), std::string::npos) << why;
            EXPECT_NE(why.find("face 1: not imported, its loops bound nothing"), std::string::npos) << why;
        }
    }
    fs::remove_all(dir);
}

// The hammer sample with every vertex moved by a thousandth of its size, as
// a STEP file in every frame (in turn): two of its small faces come out of
// Open CASCADE's reader bounded by degenerate edges alone.
TEST(CollapsedLoops, HammerWithMovedVerticesNamesOnlyTheFacesThatBoundNothing)
{
    const fs::path path = fs::path(cad_samples::SampleFolder) / "iges" / "hammer.iges";
    if (!fs::exists(path))
        GTEST_SKIP() << path << " missing (Debian package occt-misc)";
    const fs::path dir = convert_run::convertScratch();
    const TopoDS_Shape hammer = cad_samples::peerRead(path.string());
    const double size = cad_damage::sizeOf(hammer);
    const TopoDS_Shape moved = cad_damage::movedVertices(hammer, 1e-3, size, 5);
    for (std::size_t way = 0; way < std::size(occ_shapes::Frames); ++way) {
        if (!in_turn::taken(0, way, std::size(occ_shapes::Frames)))
            continue;
        const char* frame = occ_shapes::Frames[way];
        SCOPED_TRACE(frame);
        const fs::path in = dir / (std::string("hammer_") + frame + ".step");
        ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(moved, frame, size), in.string()));
        const std::string why = refusal(in, dir, nullptr);
        EXPECT_NE(why.find("part of it could not be imported: body 0, face 21: not imported, its loops bound nothing"),
                  std::string::npos)
            << why;
    }
    fs::remove_all(dir);
}
