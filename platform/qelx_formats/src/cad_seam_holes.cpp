// Faces re-seated for STEP, where Open CASCADE's STEP writer and reader
// would not carry them as they are.
// Sphere faces whose hole reaches the seam: its writer and reader carry such
// a face (a whole sphere but for a hole across the seam line, its one loop
// made of the seam used both ways, both poles and the hole) as the hole
// itself, its complement. Written on the sphere turned half a turn about its
// axis, the hole lies clear of the seam and the face comes back as it went.
// Faces on a torus whose tube crosses its axis (a spindle torus): its writer
// sets such a surface down as a surface of revolution of a spline fitted to
// the tube's circle, while the face's curves on it stay on the torus's
// parameters: the face was written covering some millionths of its area
// more or less, and in a turned frame a sample's patch read back strictly
// as not valid (one of its curves reaching round past the face's range).
// Set on the surface of revolution of the tube's circle itself, whose
// parameters are the torus's, the face and its curves go as they are.
#include "cad_shapes.hxx"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepTools_ReShape.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Circle.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TopTools_MapOfShape.hxx>
#include <Precision.hxx>
#include <ShapeAnalysis_FreeBounds.hxx>
#include <ShapeFix_Face.hxx>
#include <gp_Ax3.hxx>
#include <TopAbs.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_HSequenceOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Wire.hxx>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace qelx_formats {

namespace {

// The face on the turned sphere, or a null face when it is not one of
// these or cannot be rebuilt as the same face: one wire of the seam, both
// poles and holes that reach the seam (a hole clear of it would be a wire
// of its own).
TopoDS_Face reseated(const TopoDS_Face& face)
{
    const Handle(Geom_SphericalSurface) sphere =
        Handle(Geom_SphericalSurface)::DownCast(BRep_Tool::Surface(face));
    if (sphere.IsNull())
        return TopoDS_Face();
    int wires = 0, poles = 0, seams = 0;
    BRepBuilderAPI_MakeWire holes;
    std::vector<TopoDS_Edge> rest;
    TopoDS_Wire only;
    for (TopExp_Explorer w(face, TopAbs_WIRE); w.More(); w.Next()) {
        ++wires;
        only = TopoDS::Wire(w.Current());
    }
    if (wires != 1)
        return TopoDS_Face();
    for (BRepTools_WireExplorer e(only, face); e.More(); e.Next()) {
        const TopoDS_Edge& edge = e.Current();
        if (BRep_Tool::Degenerated(edge))
            ++poles;
        else if (BRep_Tool::IsClosed(edge, face))
            ++seams;
        else
            rest.push_back(edge);
    }
    if (poles != 2 || seams == 0 || rest.empty())
        return TopoDS_Face();
    // The edges off the seam and the poles close into holes of their own
    // (in whatever order the loop walks them: two holes across the seam are
    // walked half by half between the seam's pieces).
    Handle(TopTools_HSequenceOfShape) edges = new TopTools_HSequenceOfShape();
    for (const TopoDS_Edge& edge : rest)
        edges->Append(edge);
    Handle(TopTools_HSequenceOfShape) connected;
    ShapeAnalysis_FreeBounds::ConnectEdgesToWires(edges, Precision::Confusion(), Standard_True, connected);
    std::vector<TopoDS_Wire> loops;
    for (int i = 1; !connected.IsNull() && i <= connected->Length(); ++i) {
        const TopoDS_Wire loop = TopoDS::Wire(connected->Value(i));
        if (!loop.Closed() && !BRep_Tool::IsClosed(loop))
            return TopoDS_Face();
        loops.push_back(loop);
    }
    if (loops.empty())
        return TopoDS_Face();
    // A left-handed sphere (a mirrored one) is set on the right-handed
    // sphere of the same points, the face turned over to keep its side.
    gp_Ax3 frame = sphere->Position();
    const bool direct = frame.Direct();
    if (!direct)
        frame = gp_Ax3(frame.Location(), frame.Direction(), frame.XDirection());
    frame.Rotate(gp_Ax1(frame.Location(), frame.Direction()), std::numbers::pi);
    const Handle(Geom_SphericalSurface) turned = new Geom_SphericalSurface(frame, sphere->Radius());
    BRepBuilderAPI_MakeFace whole(turned, BRep_Tool::Tolerance(face));
    if (!whole.IsDone())
        return TopoDS_Face();
    BRepBuilderAPI_MakeFace made(whole.Face());
    for (const TopoDS_Wire& hole : loops)
        made.Add(hole);
    if (!made.IsDone())
        return TopoDS_Face();
    ShapeFix_Face fix(made.Face());
    fix.Perform();
    TopoDS_Face out = fix.Face();
    out.Orientation(direct ? face.Orientation() : TopAbs::Reverse(face.Orientation()));
    // The same face or none: its area as the original's (within what the
    // measure of a face bounded by splines gives).
    const double before = facesArea(face), after = facesArea(out);
    if (!(std::fabs(after - before) <= 1e-4 * std::max(1.0, before)))
        return TopoDS_Face();
    return out;
}

} // namespace

namespace {

// Records in `reshape` the turned face of every face of `shape` that is one
// of these; whether there was any.
bool reseatFaces(const TopoDS_Shape& shape, const Handle(BRepTools_ReShape)& reshape)
{
    bool any = false;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        const TopoDS_Face& face = TopoDS::Face(f.Current());
        const TopoDS_Face made = reseated(face);
        if (made.IsNull())
            continue;
        reshape->Replace(face, made);
        any = true;
    }
    return any;
}

} // namespace

namespace {

// The torus as the surface of revolution of its tube's circle at u = 0, on
// the same parameters: u the turn about the axis (the frame's X towards its
// Y, whichever hand the frame is), v the circle's (the frame's X towards its
// axis).
Handle(Geom_Surface) revolvedTorus(const Handle(Geom_ToroidalSurface)& torus)
{
    const gp_Ax3& frame = torus->Position();
    const gp_Dir x = frame.XDirection(), y = frame.YDirection(), z = frame.Direction();
    const gp_Pnt centre = frame.Location().Translated(gp_Vec(x) * torus->MajorRadius());
    // Its normal n so that n x X is the axis: the circle rises along it.
    const Handle(Geom_Circle) tube = new Geom_Circle(gp_Ax2(centre, z.Crossed(x).Reversed(), x), torus->MinorRadius());
    return new Geom_SurfaceOfRevolution(tube, gp_Ax1(frame.Location(), x.Crossed(y)));
}

// Every face of the shape on a spindle torus set on its surface of
// revolution, in place: the face's surface and each of its edges' curves on
// it (both of a seam), over the same ranges.
void revolveSpindleTori(const TopoDS_Shape& shape)
{
    BRep_Builder builder;
    TopTools_MapOfShape done;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        const TopoDS_Face face = TopoDS::Face(f.Current().Oriented(TopAbs_FORWARD));
        TopLoc_Location placed;
        const Handle(Geom_ToroidalSurface) torus =
            Handle(Geom_ToroidalSurface)::DownCast(BRep_Tool::Surface(face, placed));
        if (torus.IsNull() || !(torus->MajorRadius() < torus->MinorRadius()) || !done.Add(face))
            continue;
        struct OnFace {
            TopoDS_Edge edge;
            Handle(Geom2d_Curve) forward, reversed;
            double first = 0.0, last = 0.0;
        };
        std::vector<OnFace> curves;
        TopTools_MapOfShape edges;
        for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
            if (!edges.Add(e.Current()))
                continue;
            OnFace on;
            on.edge = TopoDS::Edge(e.Current().Oriented(TopAbs_FORWARD));
            on.forward = BRep_Tool::CurveOnSurface(on.edge, face, on.first, on.last);
            if (BRep_Tool::IsClosed(on.edge, face))
                on.reversed = BRep_Tool::CurveOnSurface(TopoDS::Edge(on.edge.Reversed()), face, on.first, on.last);
            if (!on.forward.IsNull())
                curves.push_back(on);
        }
        const Handle(Geom_Surface) revolved = revolvedTorus(torus);
        for (const OnFace& on : curves) {
            const double tolerance = BRep_Tool::Tolerance(on.edge);
            // The torus's own curves go with it.
            if (on.reversed.IsNull())
                builder.UpdateEdge(on.edge, Handle(Geom2d_Curve)(), torus, placed, tolerance);
            else
                builder.UpdateEdge(on.edge, Handle(Geom2d_Curve)(), Handle(Geom2d_Curve)(), torus, placed, tolerance);
        }
        builder.UpdateFace(face, revolved, placed, BRep_Tool::Tolerance(face));
        for (const OnFace& on : curves) {
            const double tolerance = BRep_Tool::Tolerance(on.edge);
            if (on.reversed.IsNull())
                builder.UpdateEdge(on.edge, on.forward, face, tolerance);
            else
                builder.UpdateEdge(on.edge, on.forward, on.reversed, face, tolerance);
            builder.Range(on.edge, face, on.first, on.last);
        }
    }
}

} // namespace

void reseatForStep(BuiltShapes& shapes)
{
    for (BodyShape& body : shapes.bodies) {
        revolveSpindleTori(body.shape);
        Handle(BRepTools_ReShape) reshape = new BRepTools_ReShape();
        if (!reseatFaces(body.shape, reshape))
            continue;
        body.shape = reshape->Apply(body.shape);
        for (auto& named : body.faces)
            named.second = reshape->Value(named.second);
    }
}

TopoDS_Shape withSeamHolesReseated(const TopoDS_Shape& shape)
{
    Handle(BRepTools_ReShape) reshape = new BRepTools_ReShape();
    return reseatFaces(shape, reshape) ? reshape->Apply(shape) : shape;
}

} // namespace qelx_formats
