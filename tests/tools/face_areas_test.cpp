// Faces of every analytic surface kind, built by Open CASCADE in the
// identity, a turned and a mirrored frame, each as it is and reversed, read
// from a BREP file into the kernel: each face measures there as Open
// CASCADE measures it (the kernel's area is signed, so a face read inside
// out or as its complement shows).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepGProp.hxx>
#include <BRepLib.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <Geom2d_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Plane.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include "convert_run.hxx"
#include "tools/occ_shapes.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

namespace fs = std::filesystem;

namespace {

struct AreaCase {
    const char* name;
    Handle(Geom_Surface) surface;
    double u0, u1, v0, v1;
    // A whole closed surface less a round hole at (u0, v0) of radius u1 in
    // its parameters (the face's outer loop is then seams and poles alone).
    bool holed = false;
};

std::vector<AreaCase> areaCases()
{
    const gp_Ax3 at(gp_Pnt(0.5, -1, 2), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0));
    const auto cone = [&at](double semi, double radius) { return new Geom_ConicalSurface(at, semi, radius); };
    const auto torus = [&at](double major, double minor) { return new Geom_ToroidalSurface(at, major, minor); };
    return {
        {"plane", new Geom_Plane(at), -1.0, 2.0, 0.5, 3.0},
        {"cylinder part", new Geom_CylindricalSurface(at, 2.0), 0.3, 5.0, -1.0, 2.0},
        {"cylinder band", new Geom_CylindricalSurface(at, 2.0), 0.0, 2.0 * M_PI, -1.0, 2.0},
        // Radius 1.5 + 0.39 v: the apex at v = -3.85, the other nappe past it.
        {"cone", cone(0.4, 1.5), 0.2, 4.0, -1.0, 1.0},
        {"cone band", cone(0.4, 1.5), 0.0, 2.0 * M_PI, -1.0, 1.0},
        {"cone beyond its apex", cone(0.4, 1.5), 0.2, 4.0, -8.0, -5.0},
        {"cone band beyond its apex", cone(0.4, 1.5), 0.0, 2.0 * M_PI, -8.0, -5.0},
        {"cone opening downwards", cone(-0.6, 2.0), 1.0, 6.0, -2.0, 1.0},
        {"sphere part", new Geom_SphericalSurface(at, 1.5), 0.2, 5.0, -1.2, 1.0},
        {"sphere cap", new Geom_SphericalSurface(at, 1.5), 0.0, 2.0 * M_PI, 0.3, M_PI / 2},
        {"sphere less a hole", new Geom_SphericalSurface(at, 1.5), 2.0, 0.3, 0.2, 0.0, true},
        {"ring torus", torus(3.0, 1.0), 0.5, 4.0, -2.0, 2.5},
        {"ring torus less a hole", torus(3.0, 1.0), 2.0, 0.4, 1.0, 0.0, true},
        {"horn torus", torus(1.5, 1.5), 0.5, 4.0, -2.5, 2.5},
        // R + r cos v > 0 for |v| < 2.09 (the apple), < 0 beyond (the lemon).
        {"spindle torus outside", torus(1.0, 2.0), 0.5, 4.0, -1.5, 1.5},
        {"spindle torus inside", torus(1.0, 2.0), 0.5, 4.0, 2.3, 3.6},
        {"spindle torus inside, round", torus(1.0, 2.0), 0.0, 2.0 * M_PI, 2.3, 3.6},
        {"spindle torus inside, far side", torus(1.0, 2.0), 0.5, 4.0, -3.6, -2.3},
        {"lemon of a thread", torus(8.25, 54.87), 0.0, 1.4, 4.37, 4.54},
    };
}

TopoDS_Face faceOf(const AreaCase& c)
{
    if (!c.holed)
        return BRepBuilderAPI_MakeFace(c.surface, c.u0, c.u1, c.v0, c.v1, 1e-7).Face();
    const TopoDS_Face whole = BRepBuilderAPI_MakeFace(c.surface, 1e-7).Face();
    Handle(Geom2d_Circle) round = new Geom2d_Circle(gp_Ax2d(gp_Pnt2d(c.u0, c.v0), gp_Dir2d(1, 0)), c.u1);
    TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(round, c.surface).Edge();
    BRepLib::BuildCurves3d(edge);
    // A hole runs clockwise in the parameters.
    const TopoDS_Wire hole = TopoDS::Wire(BRepBuilderAPI_MakeWire(edge).Wire().Reversed());
    return BRepBuilderAPI_MakeFace(whole, hole).Face();
}

double peerArea(const TopoDS_Shape& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props, 1e-9);
    return props.Mass();
}

} // namespace

TEST(FaceAreas, EveryAnalyticFaceReadsWithThePeersAreaInEveryFrame)
{
    const fs::path dir = convert_run::convertScratch();
    const std::vector<AreaCase> cases = areaCases();
    for (const char* frame : occ_shapes::Frames) {
        BRep_Builder builder;
        TopoDS_Compound all;
        builder.MakeCompound(all);
        for (const AreaCase& c : cases)
            for (const bool reversed : {false, true}) {
                const TopoDS_Face face = faceOf(c);
                builder.Add(all, reversed ? face.Reversed() : TopoDS_Shape(face));
            }
        const TopoDS_Shape placed = occ_shapes::placed(all, frame, 10.0);
        const fs::path in = dir / (std::string("areas_") + frame + ".brep"), out = dir / "areas.vlt";
        ASSERT_TRUE(BRepTools::Write(placed, in.c_str()));
        const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), "off");
        ASSERT_EQ(run.status, 0) << run.err;
        FILE* fp = std::fopen(out.c_str(), "rb");
        ASSERT_NE(fp, nullptr);
        ENTITY_LIST bodies;
        EXPECT_TRUE(api_restore_entity_list(fp, 1, bodies).ok());
        std::fclose(fp);
        // The loose faces, in the file's order.
        ENTITY_LIST faces;
        for (int i = 0; i < bodies.count(); ++i)
            EXPECT_TRUE(api_get_faces(bodies[i], faces).ok());
        ASSERT_EQ(faces.count(), static_cast<int>(2 * cases.size()));
        int k = 0;
        for (TopExp_Explorer f(placed, TopAbs_FACE); f.More(); f.Next(), ++k) {
            const AreaCase& c = cases[static_cast<std::size_t>(k / 2)];
            SCOPED_TRACE(std::string(c.name) + (k % 2 ? ", reversed" : "") + ", " + frame);
            double area = 0.0, accuracy = 0.0;
            EXPECT_TRUE(api_ent_area(faces[k], 1e-9, area, accuracy).ok());
            const double expected = peerArea(f.Current());
            // A hole's edge is a fitted curve.
            EXPECT_NEAR(area, expected, (c.holed ? 1e-5 : 1e-6) * expected);
        }
        for (int i = 0; i < bodies.count(); ++i)
            api_del_entity(bodies[i]);
    }
    fs::remove_all(dir);
}
