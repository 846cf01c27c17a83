#pragma once
// Damage of Open CASCADE's own to a model, as faulty writers leave it: vertices
// moved off their curves and surfaces, loose faces, inflated tolerances and
// faces turned inside out. The damage peer writes them into files for the
// judging scripts; the conversion tests make a sample of them in process.
#include <cmath>
#include <random>

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepTools_ReShape.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Trsf.hxx>

namespace cad_damage {

// A box of side `side` handed over as six loose faces, as an IGES file of
// trimmed surfaces hands a solid, its top lifted by `gap`; placed in `frame`
// (identity, turned, mirrored).
inline TopoDS_Compound looseBoxFaces(double side, double gap, const gp_Trsf& frame)
{
    BRep_Builder builder;
    TopoDS_Compound faces;
    builder.MakeCompound(faces);
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(side, side, side).Shape();
    for (TopExp_Explorer f(box, TopAbs_FACE); f.More(); f.Next()) {
        Bnd_Box bounds;
        BRepBndLib::Add(f.Current(), bounds);
        gp_Trsf lift;
        if (bounds.CornerMin().Z() > 0.5 * side)
            lift.SetTranslation(gp_Vec(0, 0, gap));
        // A copy of its own: no edge shared with a neighbour.
        builder.Add(faces, BRepBuilderAPI_Transform(f.Current(), frame * lift, Standard_True).Shape());
    }
    return faces;
}

// The diagonal of the shape's box (1 for an empty shape).
inline double sizeOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    return box.IsVoid() ? 1.0 : std::sqrt(box.SquareExtent());
}

// Every vertex moved by `fraction` of the model's size in a direction of its own;
// tolerances as they were.
inline TopoDS_Shape movedVertices(const TopoDS_Shape& original, double fraction, double size, unsigned seed)
{
    TopoDS_Shape shape = BRepBuilderAPI_Copy(original).Shape();
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss;
    TopTools_IndexedMapOfShape vertices;
    TopExp::MapShapes(shape, TopAbs_VERTEX, vertices);
    BRep_Builder b;
    for (int i = 1; i <= vertices.Extent(); ++i) {
        const TopoDS_Vertex& v = TopoDS::Vertex(vertices(i));
        gp_Vec d(gauss(random), gauss(random), gauss(random));
        if (d.Magnitude() < 1e-9)
            d = gp_Vec(1, 0, 0);
        d.Normalize();
        b.UpdateVertex(v, BRep_Tool::Pnt(v).Translated(d * (fraction * size)), BRep_Tool::Tolerance(v));
    }
    return shape;
}

// Each face alone, with copies of its own edges and vertices, as unsewn exporters write them.
inline TopoDS_Shape looseFaces(const TopoDS_Shape& shape)
{
    TopoDS_Compound all;
    BRep_Builder b;
    b.MakeCompound(all);
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
        b.Add(all, BRepBuilderAPI_Copy(f.Current()).Shape());
    return all;
}

// Every third face turned inside out in its shell, as writers that lose a face's sense
// give it.
inline TopoDS_Shape reversedFaces(const TopoDS_Shape& original)
{
    TopoDS_Shape shape = BRepBuilderAPI_Copy(original).Shape();
    Handle(BRepTools_ReShape) reshape = new BRepTools_ReShape;
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); i += 3)
        reshape->Replace(faces(i), faces(i).Reversed());
    return reshape->Apply(shape);
}

// Edge and vertex tolerances set between 1e-2 and 1e-1 of the size (a vertex's at least
// its edges').
inline TopoDS_Shape inflatedTolerances(const TopoDS_Shape& original, double size, unsigned seed)
{
    TopoDS_Shape shape = BRepBuilderAPI_Copy(original).Shape();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> fraction(1e-2, 1e-1);
    BRep_Builder b;
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    for (int i = 1; i <= edges.Extent(); ++i)
        b.UpdateEdge(TopoDS::Edge(edges(i)), fraction(random) * size);
    TopTools_IndexedDataMapOfShapeListOfShape edgesOf;
    TopExp::MapShapesAndAncestors(shape, TopAbs_VERTEX, TopAbs_EDGE, edgesOf);
    for (int i = 1; i <= edgesOf.Extent(); ++i) {
        double tol = fraction(random) * size;
        for (const TopoDS_Shape& e : edgesOf(i))
            tol = std::max(tol, BRep_Tool::Tolerance(TopoDS::Edge(e)));
        b.UpdateVertex(TopoDS::Vertex(edgesOf.FindKey(i)), tol);
    }
    return shape;
}

// Every edge and vertex tolerance multiplied by `factor` (a vertex's at least its
// edges'), as writers that carry a tolerance of their own over to every entity do.
inline TopoDS_Shape scaledTolerances(const TopoDS_Shape& original, double factor)
{
    TopoDS_Shape shape = BRepBuilderAPI_Copy(original).Shape();
    BRep_Builder b;
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    for (int i = 1; i <= edges.Extent(); ++i)
        b.UpdateEdge(TopoDS::Edge(edges(i)), factor * BRep_Tool::Tolerance(TopoDS::Edge(edges(i))));
    TopTools_IndexedDataMapOfShapeListOfShape edgesOf;
    TopExp::MapShapesAndAncestors(shape, TopAbs_VERTEX, TopAbs_EDGE, edgesOf);
    for (int i = 1; i <= edgesOf.Extent(); ++i) {
        const TopoDS_Vertex& v = TopoDS::Vertex(edgesOf.FindKey(i));
        double tol = factor * BRep_Tool::Tolerance(v);
        for (const TopoDS_Shape& e : edgesOf(i))
            tol = std::max(tol, BRep_Tool::Tolerance(TopoDS::Edge(e)));
        b.UpdateVertex(v, tol);
    }
    return shape;
}

} // namespace cad_damage
