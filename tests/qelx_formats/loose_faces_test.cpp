// What the readers' sewing of loose faces joins and what it leaves as it
// came: two faces are enough to sew, and the closed shells, free edges and
// points of a file stay beside what was sewn.
#include "cad_samples.hxx"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct ShapeKinds {
    int solids = 0, shells = 0, faces = 0, freeEdges = 0, freeVertices = 0;
};

int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum kind, TopAbs_ShapeEnum outside = TopAbs_SHAPE)
{
    int n = 0;
    for (TopExp_Explorer e(shape, kind, outside); e.More(); e.Next())
        ++n;
    return n;
}

ShapeKinds kindsOf(const TopoDS_Shape& shape)
{
    ShapeKinds k;
    k.solids = countOf(shape, TopAbs_SOLID);
    k.shells = countOf(shape, TopAbs_SHELL);
    k.faces = countOf(shape, TopAbs_FACE);
    k.freeEdges = countOf(shape, TopAbs_EDGE, TopAbs_FACE);
    k.freeVertices = countOf(shape, TopAbs_VERTEX, TopAbs_EDGE);
    return k;
}

// Each shape copied alone (with edges and vertices of its own) into one compound.
TopoDS_Compound looseCopies(const std::vector<TopoDS_Shape>& shapes)
{
    TopoDS_Compound all;
    BRep_Builder b;
    b.MakeCompound(all);
    for (const TopoDS_Shape& s : shapes)
        b.Add(all, BRepBuilderAPI_Copy(s).Shape());
    return all;
}

// Two faces of the box that meet along an edge.
std::vector<TopoDS_Shape> neighbourFaces(const TopoDS_Shape& box)
{
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(box, TopAbs_EDGE, TopAbs_FACE, faces);
    const TopTools_ListOfShape& pair = faces.FindFromIndex(1);
    return {pair.First(), pair.Last()};
}

} // namespace

TEST(LooseFaces, TwoFacesMeetingAlongAnEdgeAreSewnIntoOneSheet)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 4.0, 5.0, 6.0).Shape();
    const std::vector<TopoDS_Shape> two = neighbourFaces(box);
    ASSERT_FALSE(two[0].IsSame(two[1]));
    const TopoDS_Shape sewn = qelx_formats::looseFacesSewn(looseCopies(two));
    const ShapeKinds kinds = kindsOf(sewn);
    EXPECT_EQ(kinds.shells, 1);
    EXPECT_EQ(kinds.faces, 2);
    EXPECT_EQ(countOf(sewn, TopAbs_FACE, TopAbs_SHELL), 0) << "a face left alone";
    EXPECT_EQ(kinds.solids, 0);
}

TEST(LooseFaces, ClosedShellsFreeEdgesAndPointsStayBesideTheSewnFaces)
{
    // A box's loose faces (sewn into a solid), beside a closed shell of
    // another box, a free edge and a free point.
    const TopoDS_Shape loose = BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), 2.0, 2.0, 2.0).Shape();
    const TopoDS_Shape closed = BRepPrimAPI_MakeBox(gp_Pnt(10, 0, 0), 1.0, 1.0, 1.0).Shell();
    std::vector<TopoDS_Shape> parts;
    for (TopExp_Explorer f(loose, TopAbs_FACE); f.More(); f.Next())
        parts.push_back(f.Current());
    parts.push_back(closed);
    parts.push_back(BRepBuilderAPI_MakeEdge(gp_Pnt(0, 5, 0), gp_Pnt(3, 5, 0)).Shape());
    parts.push_back(BRepBuilderAPI_MakeVertex(gp_Pnt(0, 0, 9)).Shape());
    const ShapeKinds sewn = kindsOf(qelx_formats::looseFacesSewn(looseCopies(parts)));
    EXPECT_EQ(sewn.solids, 1);
    EXPECT_EQ(sewn.shells, 2);
    EXPECT_EQ(sewn.faces, 12);
    EXPECT_EQ(sewn.freeEdges, 1);
    EXPECT_EQ(sewn.freeVertices, 1);
}
