#pragma once
// Shapes built by Open CASCADE alone, placed in a frame and written by its
// own writers: models of another system for the roads' tests.
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepLib.hxx>
#include <Geom_SurfaceOfLinearExtrusion.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepTools.hxx>
#include <Bnd_Box.hxx>
#include <GeomConvert.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Writer.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>
#include <gp_Elips.hxx>
#include <Geom_Ellipse.hxx>
#include <gp_Trsf.hxx>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace occ_shapes {

inline const char* const Frames[] = {"identity", "rotated", "mirrored"};

// A circle of radius 2 about z, swept 4 along z as Open CASCADE's prism
// makes it (of a B-spline circle: an extrusion; of a circle: a cylinder).
inline TopoDS_Shape prismOfCircle(bool spline)
{
    Handle(Geom_Curve) circle = new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), 2.0);
    if (spline)
        circle = GeomConvert::CurveToBSplineCurve(circle);
    const TopoDS_Wire wire = BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(circle)).Wire();
    const TopoDS_Face base = BRepBuilderAPI_MakeFace(wire, Standard_True).Face();
    return BRepPrimAPI_MakePrism(base, gp_Vec(0, 0, 4)).Shape();
}

// A closed curve in the plane z = 0 about the origin, of radius about 2:
// "periodic" a B-spline circle with periodic knots, "clamped" the same circle
// with clamped knots (its ends meet, its definition is not periodic),
// "kinked" a clamped B-spline whose ends meet at a corner, "circle",
// "ellipse". A null curve for another kind.
inline Handle(Geom_Curve) closedCurve(const std::string& kind)
{
    const gp_Ax2 axes(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1));
    if (kind == "circle")
        return new Geom_Circle(axes, 2.0);
    if (kind == "ellipse")
        return new Geom_Ellipse(axes, 2.5, 1.5);
    if (kind == "periodic" || kind == "clamped") {
        Handle(Geom_BSplineCurve) spline = GeomConvert::CurveToBSplineCurve(new Geom_Circle(axes, 2.0));
        if (kind == "periodic" && !spline->IsPeriodic())
            spline->SetPeriodic();
        if (kind == "clamped" && spline->IsPeriodic())
            spline->SetNotPeriodic();
        return spline;
    }
    if (kind == "kinked") {
        // Cubic, clamped; it leaves its first point along (1, 2) and comes
        // back along (-0.5, 3): a corner where the ends meet.
        const double xy[][2] = {{2, 0}, {3, 2}, {0, 3}, {-3, 1}, {-2, -2}, {2.5, -3}, {2, 0}};
        TColgp_Array1OfPnt poles(1, 7);
        for (int i = 0; i < 7; ++i)
            poles.SetValue(i + 1, gp_Pnt(xy[i][0], xy[i][1], 0));
        TColStd_Array1OfReal knots(1, 5);
        TColStd_Array1OfInteger mults(1, 5);
        for (int i = 0; i < 5; ++i) {
            knots.SetValue(i + 1, i);
            mults.SetValue(i + 1, i == 0 || i == 4 ? 4 : 1);
        }
        return new Geom_BSplineCurve(poles, knots, mults, 3);
    }
    return nullptr;
}

// The closed curve of `kind` as a wire of one edge.
inline TopoDS_Wire closedWire(const std::string& kind)
{
    return BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(closedCurve(kind))).Wire();
}

// The closed curve of `kind` swept 4 along z as Open CASCADE's prism makes
// it: a side face (a cylinder of a circle, an extrusion of anything else)
// and two planar caps.
inline TopoDS_Shape prismOf(const std::string& kind)
{
    const TopoDS_Face base = BRepBuilderAPI_MakeFace(closedWire(kind), Standard_True).Face();
    return BRepPrimAPI_MakePrism(base, gp_Vec(0, 0, 4)).Shape();
}

// The same solid with its side the circle's extrusion as such, its ends planes.
inline TopoDS_Shape extrudedCircle()
{
    Handle(Geom_Curve) circle = new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), 2.0);
    Handle(Geom_Surface) side = new Geom_SurfaceOfLinearExtrusion(circle, gp_Dir(0, 0, 1));
    const TopoDS_Face sideFace = BRepBuilderAPI_MakeFace(side, 0.0, 2.0 * M_PI, 0.0, 4.0, 1e-7).Face();
    BRepBuilderAPI_Sewing sewing(1e-6);
    sewing.Add(sideFace);
    for (double z : {0.0, 4.0}) {
        Handle(Geom_Curve) rim = new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, z), gp_Dir(0, 0, 1)), 2.0);
        sewing.Add(BRepBuilderAPI_MakeFace(BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(rim)).Wire(), Standard_True)
                       .Face());
    }
    sewing.Perform();
    TopoDS_Solid solid = BRepBuilderAPI_MakeSolid(TopoDS::Shell(sewing.SewedShape())).Solid();
    BRepLib::OrientClosedSolid(solid);
    return solid;
}

// "cylinder": three faces, one seam (radius 2, height 4); "cone", "sphere"
// and "torus" with their seams (and poles); "extruded": the cylinder with
// its side a circle's extrusion; "bspline-prism": the extrusion of a
// B-spline circle. A null shape for another name.
inline TopoDS_Shape named(const std::string& name)
{
    if (name == "cylinder")
        return BRepPrimAPI_MakeCylinder(2.0, 4.0).Shape();
    if (name == "extruded")
        return extrudedCircle();
    if (name == "bspline-prism")
        return prismOfCircle(true);
    // "<kind>-prism" and "<kind>-wire" of a closed curve's kind.
    for (const char* kind : {"periodic", "clamped", "kinked", "ellipse"})
        if (name == std::string(kind) + "-prism")
            return prismOf(kind);
    for (const char* kind : {"periodic", "clamped", "kinked", "ellipse", "circle"})
        if (name == std::string(kind) + "-wire")
            return closedWire(kind);
    if (name == "cone")
        return BRepPrimAPI_MakeCone(2.0, 0.5, 4.0).Shape();
    if (name == "sphere")
        return BRepPrimAPI_MakeSphere(3.0).Shape();
    if (name == "torus")
        return BRepPrimAPI_MakeTorus(5.0, 1.5).Shape();
    return TopoDS_Shape();
}

inline double sizeOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    return box.IsVoid() ? 1.0 : std::sqrt(box.SquareExtent());
}

// The shape under "identity", "rotated" (about a skew axis and moved) or
// "mirrored" (in a skew plane), the moves in proportion to `size` (by
// default the shape's own).
inline TopoDS_Shape placed(const TopoDS_Shape& shape, const std::string& frame, double size = 0.0)
{
    if (shape.IsNull())
        return shape;
    if (!(size > 0.0))
        size = sizeOf(shape);
    gp_Trsf t;
    if (frame == "rotated") {
        t.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(1, 2, 3)), 0.7);
        gp_Trsf move;
        move.SetTranslation(gp_Vec(0.3 * size, -0.2 * size, 0.1 * size));
        t = move * t;
    } else if (frame == "mirrored") {
        t.SetMirror(gp_Ax2(gp_Pnt(0.1 * size, 0, 0), gp_Dir(1, 0.5, 0.25)));
    } else {
        return shape;
    }
    return BRepBuilderAPI_Transform(shape, t, Standard_True).Shape();
}

// A sphere of radius 10 about the origin less `holes` pins along x (tilted a
// little) through its seam's side at seeded heights, offsets and radii, the
// pins apart from one another.
inline TopoDS_Shape drilledAcrossTheSeam(unsigned seed, int holes)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> height(-7.0, 7.0), offset(-1.5, 1.5), radius(1.0, 2.5), tilt(-0.2, 0.2);
    TopoDS_Shape solid = BRepPrimAPI_MakeSphere(10.0).Shape();
    std::vector<std::pair<double, double>> taken; // each pin's height and radius
    while (static_cast<int>(taken.size()) < holes) {
        const double z = height(random), r = radius(random), y = offset(random);
        bool apart = true;
        for (const auto& [z0, r0] : taken)
            apart = apart && std::abs(z - z0) > r + r0 + 1.0;
        if (!apart)
            continue;
        taken.emplace_back(z, r);
        const gp_Ax2 axis(gp_Pnt(2.0, y, z), gp_Dir(1.0, tilt(random), tilt(random)));
        solid = BRepAlgoAPI_Cut(solid, BRepPrimAPI_MakeCylinder(axis, r, 20.0).Shape()).Shape();
    }
    return solid;
}

// Written by Open CASCADE's own writer of the path's kind (.step, .igs, .brep).
inline bool writeFile(const TopoDS_Shape& shape, const std::string& path)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".brep")
        return BRepTools::Write(shape, path.c_str());
    if (ext == ".step" || ext == ".stp") {
        STEPControl_Controller::Init();
        Interface_Static::SetCVal("write.step.unit", "MM");
        STEPControl_Writer w;
        return w.Transfer(shape, STEPControl_AsIs) == IFSelect_RetDone && w.Write(path.c_str()) == IFSelect_RetDone;
    }
    if (ext == ".igs" || ext == ".iges") {
        IGESControl_Controller::Init();
        IGESControl_Writer w("MM", 1);
        if (!w.AddShape(shape))
            return false;
        w.ComputeModel();
        return w.Write(path.c_str());
    }
    return false;
}

} // namespace occ_shapes
