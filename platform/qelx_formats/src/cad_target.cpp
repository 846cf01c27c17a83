// The framework's importer for STEP, IGES and BREP files: a model (walked
// from any B-rep exporter) built into Open CASCADE shapes and written with
// the names, colours and layers its attribute records give bodies and faces.
#include "cad_shapes.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_write_bounds.hxx"

#include <BRepCheck_Analyzer.hxx>
#include <BRepCheck_ListOfStatus.hxx>
#include <BRepCheck_Face.hxx>
#include <BRepCheck_Result.hxx>
#include <BRepCheck_Wire.hxx>
#include <TopoDS_Iterator.hxx>
#include <BRepLib.hxx>
#include <BRepTools.hxx>
#include <Interface_Static.hxx>
#include <BRep_Builder.hxx>
#include <BRep_CurveRepresentation.hxx>
#include <BRep_ListIteratorOfListOfCurveRepresentation.hxx>
#include <BRep_TEdge.hxx>
#include <Geom_Line.hxx>
#include <ElSLib.hxx>
#include <gp_Pln.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Reader.hxx>
#include <STEPControl_Reader.hxx>
#include <Bnd_Box.hxx>
#include <BRep_Tool.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <Geom_Curve.hxx>
#include <Geom_Plane.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_Line.hxx>
#include <Geom2d_TrimmedCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <Standard_Failure.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopoDS_Compound.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_LayerTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>
#include <stdexcept>

namespace qelx_formats {

namespace {

using qelx_test::TestAttributes;
using qelx_test::TestModel;

// Names, colours and layers of one entity (`entity`: "face 3") onto its
// label. IGES levels are numbers: there a layer goes by its number,
// elsewhere by its name where it has one; an IGES name goes as much of it
// as IGES carries, with a warning where that is not all of it.
// A colour goes on its label once requireCarriedColour takes it at
// `place` ("body 0, face 3").
void labelWith(const TestModel& model, const TestAttributes& a, const TDF_Label& label,
               const Handle(XCAFDoc_ColorTool)& colors, const Handle(XCAFDoc_LayerTool)& layers, bool numbered,
               const std::string& entity, const std::string& place)
{
    if (a.name && !a.name->empty()) {
        std::string name = *a.name;
        if (numbered) {
            name = igesNameText(*a.name);
            if (name != *a.name)
                QELXWarningEvent::Fire((entity + ": the name \"" + *a.name +
                                        "\" holds characters IGES cannot carry; written as \"" + name + "\"")
                                           .c_str());
        }
        TDataStd_Name::Set(label, TCollection_ExtendedString(name.c_str(), Standard_True));
    }
    if (a.color) {
        const auto& c = *a.color;
        requireCarriedColour(c, place);
        colors->SetColor(label, Quantity_Color(c[0], c[1], c[2], Quantity_TOC_sRGB), XCAFDoc_ColorGen);
    }
    if (a.layer) {
        const auto it = model.layers.find(*a.layer);
        const std::string name =
            !numbered && it != model.layers.end() && !it->second.name.empty() ? it->second.name : std::to_string(*a.layer);
        layers->SetLayer(label, TCollection_ExtendedString(name.c_str(), Standard_True));
    }
}

std::optional<TestAttributes> attributesOf(const TestModel& model, qelx_test::EntityKind kind, int index)
{
    const auto it = model.attributes.find(qelx_test::wordOf(kind, index));
    return it == model.attributes.end() ? std::nullopt : std::optional<TestAttributes>(it->second);
}

// A warning for each kind of entity whose names, colours and layers the
// file leaves out (it carries those of bodies and faces only), with how
// many entities lost them.
void warnAttributesLeftOut(const TestModel& model, const char* format)
{
    const auto written = [](const TestAttributes& a) { return (a.name && !a.name->empty()) || a.color || a.layer; };
    const std::pair<qelx_test::EntityKind, const char*> kinds[] = {{qelx_test::KindEdge, "edge"},
                                                                   {qelx_test::KindVertex, "vertex"}};
    for (const auto& [kind, noun] : kinds) {
        // Records are kept by identifier word, whose high bits are the kind.
        int count = 0;
        for (auto it = model.attributes.lower_bound(qelx_test::wordOf(kind, -1));
             it != model.attributes.end() && qelx_test::kindOfWord(it->first) == kind; ++it)
            count += written(it->second) ? 1 : 0;
        if (count > 0)
            QELXWarningEvent::Fire((std::string("the names, colours and layers of ") + std::to_string(count) + " " +
                                    (count == 1 ? noun : kind == qelx_test::KindVertex ? "vertices" : "edges") +
                                    " are not written: " + format + " carries those of bodies and faces only")
                                       .c_str());
    }
}

// The bodies into the XDE document, one top shape per body.
void labelShapes(const TestModel& model, const BuiltShapes& shapes, const Handle(TDocStd_Document)& doc, bool numbered)
{
    const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    for (const BodyShape& body : shapes.bodies)
        labelBodyShape(model, body, tool->AddShape(body.shape, Standard_False, Standard_False), doc, numbered);
}

const char* const shapeKinds[] = {"compound", "compound solid", "solid", "shell", "face",
                                   "wire",     "edge",           "vertex", "shape"};

// What the analyser found, in our words: each follows "... is not valid: ".
const char* faultWords(TopAbs_ShapeEnum kind, BRepCheck_Status status)
{
    switch (status) {
    case BRepCheck_InvalidPointOnCurve: return "a vertex lies off its edge's curve";
    case BRepCheck_InvalidPointOnCurveOnSurface: return "a vertex lies off its edge's curve on a face";
    case BRepCheck_InvalidPointOnSurface: return "a vertex lies off its face's surface";
    case BRepCheck_No3DCurve: return "an edge has no curve";
    case BRepCheck_Multiple3DCurve: return "an edge has more than one curve";
    case BRepCheck_Invalid3DCurve: return "an edge's curve cannot be used";
    case BRepCheck_NoCurveOnSurface: return "an edge has no curve on a face it bounds";
    case BRepCheck_InvalidCurveOnSurface: return "an edge's curve on a face strays from its curve";
    case BRepCheck_InvalidCurveOnClosedSurface: return "a seam's two curves on its face do not match";
    case BRepCheck_InvalidSameRangeFlag: return "an edge's curves do not share the range it claims";
    case BRepCheck_InvalidSameParameterFlag: return "an edge's curves do not run alike as it claims";
    case BRepCheck_InvalidDegeneratedFlag: return "an edge is wrongly marked as collapsed to a point";
    case BRepCheck_FreeEdge: return "an edge bounds one face only";
    case BRepCheck_InvalidMultiConnexity: return "an edge bounds more faces than it can";
    case BRepCheck_InvalidRange: return "an edge's range runs outside its curve";
    case BRepCheck_EmptyWire: return "a loop holds no edges";
    case BRepCheck_RedundantEdge: return "a loop holds an edge twice";
    case BRepCheck_SelfIntersectingWire: return "a loop crosses itself";
    case BRepCheck_NoSurface: return "a face has no surface";
    case BRepCheck_InvalidWire: return "a loop is broken";
    case BRepCheck_RedundantWire: return "a face holds a loop twice";
    case BRepCheck_IntersectingWires: return "its loops cross one another";
    case BRepCheck_InvalidImbricationOfWires: return "a hole lies outside its outer loop";
    case BRepCheck_EmptyShell: return "a shell holds no faces";
    case BRepCheck_RedundantFace: return "a shell holds a face twice";
    case BRepCheck_InvalidImbricationOfShells: return "its shells lie wrongly inside one another";
    case BRepCheck_UnorientableShape:
        return kind == TopAbs_FACE ? "its loops cannot all be turned to bound it" : "its faces cannot all be turned one way";
    case BRepCheck_NotClosed: return "it is open";
    case BRepCheck_NotConnected: return "its parts do not meet";
    case BRepCheck_SubshapeNotInShape: return "it names a part it does not hold";
    case BRepCheck_BadOrientation: return "it is turned the wrong way";
    case BRepCheck_BadOrientationOfSubshape:
        return kind == TopAbs_FACE    ? "a hole runs the way of its outer loop"
               : kind == TopAbs_SHELL ? "a face is turned against its neighbours"
                                      : "a part of it is turned against the rest";
    case BRepCheck_InvalidToleranceValue: return "a tolerance is not a usable value";
    default: return "it is damaged";
    }
}

// The status as "a face is not valid: its loops cross one another", or
// with `number` (from 0, as every place the driver names counts) as
// "face 3 is not valid: ...".
std::string statusText(TopAbs_ShapeEnum kind, BRepCheck_Status status, int number = -1)
{
    const std::string noun = shapeKinds[std::min<int>(kind, 8)];
    return (number >= 0 ? noun + " " + std::to_string(number) : "a " + noun) + " is not valid: " + faultWords(kind, status);
}

// The first fault a status list holds, or nothing.
std::optional<BRepCheck_Status> firstFault(const BRepCheck_ListOfStatus& statuses)
{
    for (BRepCheck_ListOfStatus::Iterator it(statuses); it.More(); it.Next())
        if (it.Value() != BRepCheck_NoError)
            return it.Value();
    return std::nullopt;
}

// Why Open CASCADE's analyser finds the shape not valid ("a face: ..."),
// or nothing when it is valid; `where`, when given, gets the sub-shape the
// fault was found on.
std::string invalidity(const TopoDS_Shape& shape, TopoDS_Shape* where = nullptr)
{
    const BRepCheck_Analyzer analyser(shape);
    if (analyser.IsValid())
        return std::string();
    TopTools_IndexedMapOfShape all;
    TopExp::MapShapes(shape, all);
    for (int i = 1; i <= all.Extent(); ++i) {
        const Handle(BRepCheck_Result) result = analyser.Result(all(i));
        if (!result.IsNull())
            if (const auto fault = firstFault(result->Status())) {
                if (where)
                    *where = all(i);
                // Numbered among the shapes of its kind, in the file's order, from 0.
                TopTools_IndexedMapOfShape kin;
                TopExp::MapShapes(shape, all(i).ShapeType(), kin);
                return statusText(all(i).ShapeType(), *fault, kin.FindIndex(all(i)) - 1);
            }
    }
    return "the shapes are not valid";
}

// The first face of `shape` that is or holds `part`; a null face when none
// does (a shell or solid).
TopoDS_Face faceHolding(const TopoDS_Shape& shape, const TopoDS_Shape& part)
{
    if (part.IsNull() || part.ShapeType() < TopAbs_FACE)
        return TopoDS_Face();
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        // A face's explorer for faces finds the face itself.
        for (TopExp_Explorer sub(f.Current(), part.ShapeType()); sub.More(); sub.Next())
            if (sub.Current().IsSame(part))
                return TopoDS::Face(f.Current());
    }
    return TopoDS_Face();
}

gp_Pnt boxCentre(const TopoDS_Shape& shape, double& across)
{
    Bnd_Box box;
    for (TopExp_Explorer v(shape, TopAbs_VERTEX); v.More(); v.Next())
        box.Add(BRep_Tool::Pnt(TopoDS::Vertex(v.Current())));
    if (box.IsVoid()) {
        across = 0.0;
        return gp_Pnt();
    }
    across = std::sqrt(box.SquareExtent());
    const gp_Pnt low = box.CornerMin(), high = box.CornerMax();
    return gp_Pnt((low.XYZ() + high.XYZ()) / 2.0);
}

// "body 0, face 3: " naming the written face a face read back from the file
// was written from, as the comparison with the source names faces (the
// body's number, the face's place among the body's faces in the model's
// order); "" when it cannot be told. A file's faces come back in the order
// they were written: that face, where its corners lie about where the read
// face's do, else the written face whose corners' box is centred nearest.
// Every written face in the order a file holds them: body by body, each
// body's faces in its shape's order.
struct WrittenFace {
    const BodyShape* body;
    TopoDS_Shape face;
};
std::vector<WrittenFace> writtenFaces(const BuiltShapes& shapes)
{
    std::vector<WrittenFace> written;
    for (const BodyShape& body : shapes.bodies) {
        TopTools_IndexedMapOfShape faces;
        TopExp::MapShapes(body.shape, TopAbs_FACE, faces);
        for (int i = 1; i <= faces.Extent(); ++i)
            written.push_back({&body, faces(i)});
    }
    return written;
}

// "body 0, face 3: " naming a written face by the body's number and the
// face's place among the body's faces in the model's order; "" when the face
// is none of the body's model faces.
std::string writtenFaceName(const WrittenFace& written)
{
    std::vector<int> order;
    int index = -1;
    for (const auto& [i, face] : written.body->faces) {
        order.push_back(i);
        if (face.IsSame(written.face))
            index = i;
    }
    if (index < 0)
        return std::string();
    std::sort(order.begin(), order.end());
    const auto place = std::lower_bound(order.begin(), order.end(), index) - order.begin();
    return "body " + std::to_string(written.body->body) + ", face " + std::to_string(place) + ": ";
}

std::string writtenFacePlace(const BuiltShapes& shapes, const TopoDS_Shape& back, const TopoDS_Face& read)
{
    if (read.IsNull())
        return std::string();
    TopTools_IndexedMapOfShape backFaces;
    TopExp::MapShapes(back, TopAbs_FACE, backFaces);
    const std::vector<WrittenFace> written = writtenFaces(shapes);
    if (written.empty())
        return std::string();
    double across = 0.0, otherAcross = 0.0;
    const gp_Pnt centre = boxCentre(read, across);
    const auto apart = [&](std::size_t i) { return boxCentre(written[i].face, otherAcross).Distance(centre); };
    std::size_t chosen = 0;
    const int at = backFaces.FindIndex(read);
    if (at > 0 && backFaces.Extent() == static_cast<int>(written.size()) &&
        apart(static_cast<std::size_t>(at - 1)) <= 1e-3 * std::max(across, otherAcross) + Precision::Confusion()) {
        chosen = static_cast<std::size_t>(at - 1);
    } else {
        for (std::size_t i = 1; i < written.size(); ++i)
            if (apart(i) < apart(chosen))
                chosen = i;
    }
    return writtenFaceName(written[chosen]);
}

// Whether a pcurve is straight over any range: a line, or a spline of
// degree one between two poles.
bool straightPCurve(const Handle(Geom2d_Curve)& c)
{
    if (c->IsKind(STANDARD_TYPE(Geom2d_Line)))
        return true;
    if (const Handle(Geom2d_TrimmedCurve) t = Handle(Geom2d_TrimmedCurve)::DownCast(c))
        return straightPCurve(t->BasisCurve());
    const Handle(Geom2d_BSplineCurve) s = Handle(Geom2d_BSplineCurve)::DownCast(c);
    return !s.IsNull() && s->Degree() == 1 && s->NbPoles() == 2;
}

// How far apart the segments ab and cd lie in the plane (0 where they meet).
double segmentsApart(const gp_Pnt2d& a, const gp_Pnt2d& b, const gp_Pnt2d& c, const gp_Pnt2d& d)
{
    const auto side = [](const gp_Pnt2d& o, const gp_Pnt2d& p, const gp_Pnt2d& q) {
        return gp_Vec2d(o, p).Crossed(gp_Vec2d(o, q));
    };
    const double c1 = side(a, b, c), c2 = side(a, b, d), c3 = side(c, d, a), c4 = side(c, d, b);
    if (((c1 > 0.0 && c2 < 0.0) || (c1 < 0.0 && c2 > 0.0)) && ((c3 > 0.0 && c4 < 0.0) || (c3 < 0.0 && c4 > 0.0)))
        return 0.0;
    const auto toSegment = [](const gp_Pnt2d& p, const gp_Pnt2d& s, const gp_Pnt2d& e) {
        const gp_Vec2d along(s, e);
        const double length2 = along.SquareMagnitude();
        const double t = length2 > 0.0 ? std::clamp(along.Dot(gp_Vec2d(s, p)) / length2, 0.0, 1.0) : 0.0;
        return p.Distance(gp_Pnt2d(s.XY() + along.XY() * t));
    };
    return std::min({toSegment(a, c, d), toSegment(b, c, d), toSegment(c, a, b), toSegment(d, a, b)});
}

// Whether a wire of a planar face is plainly a simple polygon in the face's
// parameter plane, which the analyser's checks of a wire in its face pass:
// straight pcurves, each edge and each vertex once, each edge starting at
// the vertex and, within its tolerance, the point the one before ends at,
// edges that do not meet further apart than ten times the widest tolerance,
// and no two meeting edges nearly along one line. A large flat model's faces
// are mostly such, and this costs a small part of the analyser's checks; a
// wire that is not plainly so (a curve, a seam, a pole, a crossing, a fold,
// edges closer than that) goes to the analyser, which decides as before.
bool plainPolygon(const TopoDS_Wire& wire, const TopoDS_Face& face)
{
    constexpr std::size_t Most = 64; // the pairs grow with the square
    TopLoc_Location placed;
    const Handle(Geom_Surface)& surface = BRep_Tool::Surface(face, placed);
    if (surface.IsNull() || !surface->IsKind(STANDARD_TYPE(Geom_Plane)))
        return false;
    std::vector<TopoDS_Edge> edges;
    std::vector<std::pair<gp_Pnt2d, gp_Pnt2d>> pieces; // where each starts and ends as the wire runs it
    double widest = 0.0;
    for (TopoDS_Iterator it(wire); it.More(); it.Next()) {
        if (edges.size() == Most || it.Value().ShapeType() != TopAbs_EDGE)
            return false;
        const TopoDS_Edge& edge = TopoDS::Edge(it.Value());
        const TopAbs_Orientation o = edge.Orientation();
        if ((o != TopAbs_FORWARD && o != TopAbs_REVERSED) || BRep_Tool::Degenerated(edge) ||
            BRep_Tool::IsClosed(edge, face))
            return false;
        double f = 0.0, l = 0.0;
        const Handle(Geom2d_Curve) pc = BRep_Tool::CurveOnSurface(edge, face, f, l);
        if (pc.IsNull() || !straightPCurve(pc))
            return false;
        pieces.emplace_back(pc->Value(f), pc->Value(l));
        if (o == TopAbs_REVERSED)
            std::swap(pieces.back().first, pieces.back().second);
        widest = std::max(widest, BRep_Tool::Tolerance(edge));
        for (TopoDS_Iterator v(edge); v.More(); v.Next())
            widest = std::max(widest, BRep_Tool::Tolerance(TopoDS::Vertex(v.Value())));
        edges.push_back(edge);
    }
    const std::size_t n = edges.size();
    if (n < 3)
        return false;
    std::vector<TopoDS_Vertex> corners(n); // where edge i ends and edge i + 1 starts
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t next = (i + 1) % n;
        corners[i] = TopExp::LastVertex(edges[i], Standard_True);
        if (corners[i].IsNull() || !corners[i].IsSame(TopExp::FirstVertex(edges[next], Standard_True)) ||
            pieces[i].second.Distance(pieces[next].first) > BRep_Tool::Tolerance(corners[i]))
            return false;
    }
    const double margin = 10.0 * widest + Precision::PConfusion();
    for (std::size_t i = 0; i < n; ++i) {
        const gp_Vec2d here(pieces[i].first, pieces[i].second);
        const gp_Vec2d next(pieces[(i + 1) % n].first, pieces[(i + 1) % n].second);
        if (here.Magnitude() <= margin || std::abs(here.Crossed(next)) <= 1e-3 * here.Magnitude() * next.Magnitude())
            return false;
        for (std::size_t j = i + 1; j < n; ++j) {
            if (edges[i].IsSame(edges[j]) || corners[i].IsSame(corners[j]))
                return false;
            if (j != i + 1 && !(i == 0 && j == n - 1) &&
                segmentsApart(pieces[i].first, pieces[i].second, pieces[j].first, pieces[j].second) <= margin)
                return false;
        }
    }
    return true;
}

// Why a face's wires are not valid as Open CASCADE's analyser judges them
// (each wire in the face, a single one crossing itself included, then
// several together: crossing, one inside another the wrong way, turned
// against the face), or nothing. The face is named by `number`.
std::string wiresInvalidity(const TopoDS_Face& face, int number)
{
    int wires = 0;
    for (TopoDS_Iterator it(face); it.More() && wires < 2; it.Next())
        wires += it.Value().ShapeType() == TopAbs_WIRE;
    if (wires == 0)
        return std::string();
    for (TopoDS_Iterator it(face); it.More(); it.Next()) {
        if (it.Value().ShapeType() != TopAbs_WIRE || plainPolygon(TopoDS::Wire(it.Value()), face))
            continue;
        BRepCheck_Wire wire(TopoDS::Wire(it.Value()));
        wire.InContext(face);
        if (wire.IsStatusOnShape(face))
            if (const auto fault = firstFault(wire.StatusOnShape(face)))
                return statusText(TopAbs_FACE, *fault, number);
    }
    if (wires < 2)
        return std::string();
    BRepCheck_Face check(face);
    std::optional<BRepCheck_Status> fault = firstFault(check.Status());
    // In the analyser's order, each only where the one before found nothing.
    const auto then = [&fault](BRepCheck_Status status) {
        if (status != BRepCheck_NoError)
            fault = status;
    };
    if (!fault)
        then(check.IntersectWires());
    if (!fault)
        then(check.ClassifyWires());
    if (!fault)
        then(check.OrientationOfWires());
    return fault ? statusText(TopAbs_FACE, *fault, number) : std::string();
}

// Why a shell of a solid is not valid as Open CASCADE's analyser judges it
// there, in its order: an edge only one of its faces holds (the shell is
// open: NotClosed), then an edge two faces both run the same way (their
// faces are turned against each other: BadOrientationOfSubshape); or
// nothing. Edges three or more faces hold, and a shell turned inside out as
// a whole, are left to the readers (the analyser passes the latter too).
std::string shellInvalidity(const TopoDS_Shape& shell, std::unordered_map<const TopoDS_TShape*, int>& uses)
{
    // Per edge, the faces running it forward in the low half, reversed above.
    constexpr int Reversed = 1 << 16;
    uses.clear();
    for (TopExp_Explorer e(shell, TopAbs_EDGE); e.More(); e.Next()) {
        const TopAbs_Orientation o = e.Current().Orientation();
        if ((o == TopAbs_FORWARD || o == TopAbs_REVERSED) && !BRep_Tool::Degenerated(TopoDS::Edge(e.Current())))
            uses[e.Current().TShape().get()] += o == TopAbs_FORWARD ? 1 : Reversed;
    }
    bool turned = false;
    for (const auto& [edge, n] : uses) {
        const int forward = n % Reversed, reversed = n / Reversed;
        if (forward + reversed == 1)
            return statusText(TopAbs_SHELL, BRepCheck_NotClosed);
        turned = turned || (forward + reversed == 2 && forward != 1);
    }
    return turned ? statusText(TopAbs_SHELL, BRepCheck_BadOrientationOfSubshape) : std::string();
}

// What Open CASCADE's analyser would refuse in the shapes, checked where
// the building cannot answer for it rather than over the whole shape (whose
// analysis cost twice the rest of a BREP write and its memory two and a half
// times): edge and vertex tolerances are measured as the analyser measures
// them while the shapes are built, and a wire is the model's loop with its
// edges joined at shared vertices; whether a loop crosses itself in its
// face, and how several loops of one face lie to one another (crossing,
// nested the wrong way, turned alike), the building takes as it comes, so
// each face's wires are checked in it; and each shell of a solid must be
// closed and its faces turned alike, which the model's shells need not be.
void checkBuilt(const BuiltShapes& shapes)
{
    std::unordered_map<const TopoDS_TShape*, int> uses;
    for (std::size_t b = 0; b < shapes.bodies.size(); ++b) {
        // The body by its number in the model, its faces counted from 0, as
        // every place the driver names.
        const auto refuse = [&shapes, b](const std::string& why) {
            throw std::runtime_error("body " + std::to_string(shapes.bodies[b].body) + ": " + why);
        };
        int face = 0;
        for (TopExp_Explorer f(shapes.bodies[b].shape, TopAbs_FACE); f.More(); f.Next(), ++face)
            if (const std::string why = wiresInvalidity(TopoDS::Face(f.Current()), face); !why.empty())
                refuse(why);
        for (TopExp_Explorer solid(shapes.bodies[b].shape, TopAbs_SOLID); solid.More(); solid.Next())
            for (TopoDS_Iterator shell(solid.Current()); shell.More(); shell.Next())
                if (shell.Value().ShapeType() == TopAbs_SHELL)
                    if (const std::string why = shellInvalidity(shell.Value(), uses); !why.empty())
                        refuse(why);
    }
}

// Whether some vertex or edge of the shapes is known only within a
// tolerance wider than a file carries as it is (QELXToleranceCarried: a
// thousandth of their extent; a healed vertex far off its edges' ends, say):
// their readers rebuild such a place from the curves.
bool looseTolerances(const BuiltShapes& shapes)
{
    Bnd_Box box;
    double widest = 0.0;
    const auto vertex = [&box, &widest](const TopoDS_Shape& v) {
        box.Add(BRep_Tool::Pnt(TopoDS::Vertex(v)));
        widest = std::max(widest, BRep_Tool::Tolerance(TopoDS::Vertex(v)));
    };
    // Each edge with its vertices, then the vertices no edge holds.
    for (const BodyShape& body : shapes.bodies) {
        for (TopExp_Explorer e(body.shape, TopAbs_EDGE); e.More(); e.Next()) {
            widest = std::max(widest, BRep_Tool::Tolerance(TopoDS::Edge(e.Current())));
            for (TopoDS_Iterator v(e.Current()); v.More(); v.Next())
                vertex(v.Value());
        }
        for (TopExp_Explorer v(body.shape, TopAbs_VERTEX, TopAbs_EDGE); v.More(); v.Next())
            vertex(v.Current());
    }
    return !box.IsVoid() && !QELXToleranceCarried(widest, std::sqrt(box.SquareExtent()));
}

// Whether some closed edge's vertex lies off its curve's ends by more than
// a rounding (a healed vertex, say): a STEP file holds no parameters of an
// edge's vertices, and its reader finds them by projecting the vertex onto
// the curve, which on a closed curve may wrap round past the seam.
bool closedEdgeVertexOff(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer e(body.shape, TopAbs_EDGE); e.More(); e.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
            TopoDS_Vertex first, last;
            TopExp::Vertices(edge, first, last);
            if (first.IsNull() || !first.IsSame(last) || BRep_Tool::Degenerated(edge))
                continue;
            double t0 = 0.0, t1 = 0.0;
            const Handle(Geom_Curve) curve = BRep_Tool::Curve(edge, t0, t1);
            if (curve.IsNull())
                continue;
            const gp_Pnt at = BRep_Tool::Pnt(first);
            if (std::max(at.Distance(curve->Value(t0)), at.Distance(curve->Value(t1))) > 10.0 * Precision::Confusion())
                return true;
        }
    return false;
}


// The refusal naming the first written face whose faces read back (each
// taken for the written face whose box is centred nearest) cover another
// area than it was written covering; "" when no face can be named so.
std::string facesCoveredOtherwise(const BuiltShapes& shapes, const TopoDS_Shape& back, const char* kind, double area)
{
    const std::vector<WrittenFace> written = writtenFaces(shapes);
    if (written.empty())
        return std::string();
    TopTools_IndexedMapOfShape backFaces;
    TopExp::MapShapes(back, TopAbs_FACE, backFaces);
    std::vector<gp_Pnt> centres;
    double across = 0.0;
    for (const WrittenFace& w : written)
        centres.push_back(boxCentre(w.face, across));
    std::vector<double> covered(written.size(), 0.0);
    for (int j = 1; j <= backFaces.Extent(); ++j) {
        const gp_Pnt at = boxCentre(backFaces(j), across);
        std::size_t nearest = 0;
        for (std::size_t i = 1; i < written.size(); ++i)
            if (centres[i].Distance(at) < centres[nearest].Distance(at))
                nearest = i;
        covered[nearest] += facesArea(backFaces(j));
    }
    for (std::size_t i = 0; i < written.size(); ++i) {
        const double was = facesArea(written[i].face), is = covered[i];
        const std::string name = writtenFaceName(written[i]);
        if (!name.empty() && std::fabs(is - was) > 1e-3 * std::max(was, is) + 1e-6 * area)
            return name + kind + " cannot hold the model: read back, the faces about this face cover " +
                   measureText(is) + " where it was written covering " + measureText(was) + " (" +
                   std::to_string(backFaces.Extent()) + " faces read back of " + std::to_string(written.size()) +
                   " written: a face left out, split or turned into its complement)";
    }
    return std::string();
}

// Whether some face holds an edge marked degenerated whose ends lie apart on
// the face's surface (a healed sliver of an edge, not a pole): an IGES file
// holds such an edge as its one vertex, and its reader finds the neighbours'
// ends by projecting that vertex, so that both meet at one point and the
// degenerated edge's own pcurve is left as a spike the face's loop crosses.
bool degeneratedOffSingularity(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer f(body.shape, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Face& face = TopoDS::Face(f.Current());
            const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
            if (surface.IsNull())
                continue;
            for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
                const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
                if (!BRep_Tool::Degenerated(edge))
                    continue;
                double t0 = 0.0, t1 = 0.0;
                const Handle(Geom2d_Curve) pcurve = BRep_Tool::CurveOnSurface(edge, face, t0, t1);
                if (pcurve.IsNull())
                    continue;
                const gp_Pnt2d a = pcurve->Value(t0), b = pcurve->Value(t1);
                // Apart by more than a hundredth of a rounding: at a pole
                // the surface gives one point to both ends.
                if (surface->Value(a.X(), a.Y()).Distance(surface->Value(b.X(), b.Y())) >
                    1e-2 * Precision::Confusion())
                    return true;
            }
        }
    return false;
}

// Whether some face on a spline surface closed in a direction has a pcurve
// ending outside the surface's parameters that way: built open, the surface
// is evaluated past its knots there, where the STEP and IGES readers, which
// make such a surface periodic, give the points a period on; built periodic,
// the file holds it open with the pcurves past its knots, which its reader
// places anew. A face that closes only within its vertices' tolerances as
// built may not close as read back (a mirrored sample's face written
// valid, read back open, its neighbours in the other frames refused).
bool pcurvesPastClosedSpline(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer f(body.shape, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Face& face = TopoDS::Face(f.Current());
            TopLoc_Location at;
            const Handle(Geom_BSplineSurface) spline =
                Handle(Geom_BSplineSurface)::DownCast(BRep_Tool::Surface(face, at));
            if (spline.IsNull())
                continue;
            const bool acrossU = spline->IsUClosed(), acrossV = spline->IsVClosed();
            if (!acrossU && !acrossV)
                continue;
            double u0 = 0.0, u1 = 0.0, v0 = 0.0, v1 = 0.0;
            spline->Bounds(u0, u1, v0, v1);
            const double slackU = 1e-6 * (u1 - u0), slackV = 1e-6 * (v1 - v0);
            for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
                double t0 = 0.0, t1 = 0.0;
                const Handle(Geom2d_Curve) pcurve = BRep_Tool::CurveOnSurface(TopoDS::Edge(e.Current()), face, t0, t1);
                if (pcurve.IsNull())
                    continue;
                for (const double t : {t0, t1}) {
                    const gp_Pnt2d uv = pcurve->Value(t);
                    if ((acrossU && (uv.X() < u0 - slackU || uv.X() > u1 + slackU)) ||
                        (acrossV && (uv.Y() < v0 - slackV || uv.Y() > v1 + slackV)))
                        return true;
                }
            }
        }
    return false;
}

// A written file read back as a reader of it reads it: IGES holds no
// tolerances and STEP one for the whole model, so a vertex the model knows
// only within a wide tolerance comes back as the points the curves give, and
// the face it bounded may no longer be one. What does not come back valid is
// refused rather than written.
// With `area` (the built faces' own), the faces read back must also cover
// as much, within a thousandth.
// A fault found on a face or within one names the written face it came
// from, where `shapes` (what was written) are given.
template <class Reader>
void checkReadBack(const std::string& path, const char* kind, std::optional<double> area = std::nullopt,
                   const BuiltShapes* shapes = nullptr)
{
    Reader reader;
    if (reader.ReadFile(path.c_str()) != IFSelect_RetDone || reader.TransferRoots() == 0)
        throw std::runtime_error(std::string(kind) + " cannot hold the model: its text reads back as nothing");
    TopoDS_Shape back = reader.OneShape();
    BRepLib::BuildCurves3d(back);
    TopoDS_Shape where;
    if (const std::string why = invalidity(back, &where); !why.empty())
        throw std::runtime_error((shapes ? writtenFacePlace(*shapes, back, faceHolding(back, where)) : std::string()) +
                                 std::string(kind) + " cannot hold the model validly: read back, " + why);
    if (!area)
        return;
    // Face by face where the file gave back as many faces as were written
    // (a reader keeps the written order): a face turned into its complement
    // is named, even where another face's change would hide it in the total.
    if (shapes) {
        const std::vector<WrittenFace> written = writtenFaces(*shapes);
        TopTools_IndexedMapOfShape backFaces;
        TopExp::MapShapes(back, TopAbs_FACE, backFaces);
        if (!written.empty() && backFaces.Extent() == static_cast<int>(written.size())) {
            for (std::size_t i = 0; i < written.size(); ++i) {
                const double was = facesArea(written[i].face);
                const double is = facesArea(backFaces(static_cast<int>(i) + 1));
                // A thousandth of the face, or a millionth of the model for
                // a sliver whose integration is coarse.
                if (std::fabs(is - was) > 1e-3 * std::max(was, is) + 1e-6 * *area)
                    throw std::runtime_error(writtenFaceName(written[i]) + kind +
                                             " cannot hold the model: read back, this face covers " + measureText(is) +
                                             " where it was written covering " + measureText(was) +
                                             " (a face turned into its complement)");
            }
            return;
        }
    }
    const double is = facesArea(back);
    if (std::fabs(is - *area) <= 1e-3 * *area)
        return;
    // Another number of faces, which do not cover the written area: each
    // face read back is taken for the written face whose box is centred
    // nearest, and the first written face whose faces read back cover
    // another area (none, a split face's pieces) is named.
    if (shapes)
        if (const std::string why = facesCoveredOtherwise(*shapes, back, kind, *area); !why.empty())
            throw std::runtime_error(why);
    throw std::runtime_error(std::string(kind) + " cannot hold the model: read back, its faces cover " +
                             measureText(is) + " where they were written covering " + measureText(*area) +
                             " (a face left out or turned into its complement)");
}

// Whether some face on a sphere, a surface of revolution or a spline (closed
// about an axis, pinched at both ends) reaches both poles and has holes: Open
// CASCADE's STEP reader takes such a face (its seam, both poles and the holes,
// across the seam or clear of it) as its complement, which no check of
// validity sees. A sphere's is re-seated first, which its reader takes as it
// is, but not where the face bounds a void.
bool polesAndHoles(const BuiltShapes& shapes)
{
    bool any = false;
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer f(body.shape, TopAbs_FACE); f.More() && !any; f.Next()) {
            const TopoDS_Face& face = TopoDS::Face(f.Current());
            const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
            if (!surface->IsKind(STANDARD_TYPE(Geom_SurfaceOfRevolution)) &&
                !surface->IsKind(STANDARD_TYPE(Geom_BSplineSurface)) &&
                !surface->IsKind(STANDARD_TYPE(Geom_SphericalSurface)))
                continue;
            int poles = 0, others = 0;
            for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
                const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
                if (BRep_Tool::Degenerated(edge))
                    ++poles;
                else if (!BRep_Tool::IsClosed(edge, face))
                    ++others;
            }
            any = poles == 2 && others > 0;
        }
    return any;
}

// The faces' area where some face is so (what a STEP file read back must cover).
std::optional<double> polesAndHolesArea(const BuiltShapes& shapes)
{
    if (!polesAndHoles(shapes))
        return std::nullopt;
    double area = 0.0;
    for (const BodyShape& body : shapes.bodies)
        area += facesArea(body.shape);
    return area;
}

// Whether some face on a sphere or torus is bounded by more than one wire: a
// face of holes alone there gets the surface's own seams (and poles) round
// them from the building, and only the analyser over the written file, which
// a BREP file holds as it was built, judges the face whole. A face of one
// wire (a fillet's band) is held to the kernel's area before the write, and
// a face reaching both poles with holes is read back as a STEP file is.
bool holedSphereOrTorus(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer f(body.shape, TopAbs_FACE); f.More(); f.Next()) {
            const Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(f.Current()));
            if (surface.IsNull() || !(surface->IsKind(STANDARD_TYPE(Geom_SphericalSurface)) ||
                                      surface->IsKind(STANDARD_TYPE(Geom_ToroidalSurface))))
                continue;
            int wires = 0;
            for (TopExp_Explorer w(f.Current(), TopAbs_WIRE); w.More() && wires < 2; w.Next())
                ++wires;
            if (wires > 1)
                return true;
        }
    return false;
}

// Open CASCADE's BREP reader in the shape of its STEP and IGES readers', for
// the read-back check.
class BrepFileReader {
public:
    IFSelect_ReturnStatus ReadFile(const char* path)
    {
        BRep_Builder builder;
        return BRepTools::Read(m_shape, path, builder) ? IFSelect_RetDone : IFSelect_RetFail;
    }
    int TransferRoots() const { return m_shape.IsNull() ? 0 : 1; }
    TopoDS_Shape OneShape() const { return m_shape; }

private:
    TopoDS_Shape m_shape;
};

void igesInto(const Handle(TDocStd_Document)& doc, const std::string& path)
{
    ExchangeSettings settings;
    // Faces as IGES trimmed surfaces bounded by B-rep edges: solids survive
    // as MSBO solids.
    settings.set("write.iges.brep.mode", "1");
    settings.set("write.iges.unit", "MM");
    // Edges with their pcurves, whatever a STEP write or the host chose.
    settings.set("write.surfacecurve.mode", "1");
    IGESCAFControl_Writer writer;
    writer.SetColorMode(Standard_True);
    writer.SetNameMode(Standard_True);
    writer.SetLayerMode(Standard_True);
    if (!writer.Transfer(doc))
        throw std::runtime_error("the shapes could not be put into IGES");
    std::ofstream out(path, std::ios::binary);
    if (!writer.Write(out) || !out.flush())
        throw std::runtime_error("the IGES writer failed");
}

// Whether the pcurve is the line's image in the plane on the edge's
// parameters, as a reader's projection of the line makes it.
bool projectionOf(const Handle(Geom_Line)& line, const gp_Pln& plane, const Handle(Geom2d_Line)& image,
                  const TopoDS_Shape& edge)
{
    if (std::abs(line->Position().Direction().Dot(plane.Axis().Direction())) > 1e-12)
        return false;
    double w0 = 0.0, w1 = 0.0;
    BRep_Tool::Range(TopoDS::Edge(edge), w0, w1);
    for (const double w : {w0, w1}) {
        double u = 0.0, v = 0.0;
        ElSLib::Parameters(plane, line->Value(w), u, v);
        if (image->Value(w).Distance(gp_Pnt2d(u, v)) > Precision::PConfusion() * std::max(1.0, std::abs(w)))
            return false;
    }
    return true;
}

// A BREP file holds an edge's pcurve on a plane only where it says more
// than the edge's curve: a line lying in the plane has its pcurve there from
// the curve alone (its reader projects it, exactly; Open CASCADE's own
// writer leaves such pcurves out), so the pcurves of lines the building put
// on planes as the lines' images are dropped before the write.
void dropPlanarLinePCurves(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        for (TopExp_Explorer e(body.shape, TopAbs_EDGE); e.More(); e.Next()) {
            const Handle(BRep_TEdge) stored = Handle(BRep_TEdge)::DownCast(e.Current().TShape());
            BRep_ListOfCurveRepresentation& reps = stored->ChangeCurves();
            Handle(Geom_Line) line;
            for (BRep_ListIteratorOfListOfCurveRepresentation it(reps); it.More() && line.IsNull(); it.Next())
                if (it.Value()->IsCurve3D())
                    line = Handle(Geom_Line)::DownCast(it.Value()->Curve3D());
            if (line.IsNull())
                continue;
            for (BRep_ListIteratorOfListOfCurveRepresentation it(reps); it.More();) {
                const Handle(BRep_CurveRepresentation)& rep = it.Value();
                if (!rep->IsCurveOnSurface() || rep->IsCurveOnClosedSurface() || !rep->Location().IsIdentity()) {
                    it.Next();
                    continue;
                }
                const Handle(Geom_Plane) plane = Handle(Geom_Plane)::DownCast(rep->Surface());
                const Handle(Geom2d_Line) image = Handle(Geom2d_Line)::DownCast(rep->PCurve());
                if (plane.IsNull() || image.IsNull() || !projectionOf(line, plane->Pln(), image, e.Current())) {
                    it.Next();
                    continue;
                }
                reps.Remove(it);
            }
        }
}

void brepInto(const BuiltShapes& shapes, const std::string& path)
{
    dropPlanarLinePCurves(shapes);
    BRep_Builder builder;
    TopoDS_Compound all;
    builder.MakeCompound(all);
    for (const BodyShape& body : shapes.bodies)
        builder.Add(all, body.shape);
    std::ofstream out(path, std::ios::binary);
    BRepTools::Write(all, out);
    if (!out.flush())
        throw std::runtime_error("the BREP writer failed");
}

} // namespace

void requireCarriedColour(const std::array<double, 4>& c, const std::string& place)
{
    if (std::all_of(c.begin(), c.begin() + 3, [](double v) { return v >= 0.0 && v <= 1.0; }))
        return;
    // Each value as the shortest text that reads back as it.
    const auto shown = [](double v) {
        char text[32];
        return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
    };
    throw std::runtime_error(place + ": its colour (" + shown(c[0]) + ", " + shown(c[1]) + ", " + shown(c[2]) +
                             ") is none a file carries: red, green and blue each run from 0 to 1");
}

ReadBackCheck readBackCheck(const BuiltShapes& shapes, CadFormat format)
{
    ReadBackCheck check;
    if (format == CadFormat::Brep) {
        check.needed = looseTolerances(shapes) || polesAndHoles(shapes) || holedSphereOrTorus(shapes);
        return check;
    }
    if (format == CadFormat::Step)
        check.area = polesAndHolesArea(shapes);
    check.needed = check.area || looseTolerances(shapes) || (format == CadFormat::Step && closedEdgeVertexOff(shapes)) ||
                   (format == CadFormat::Iges && degeneratedOffSingularity(shapes)) || pcurvesPastClosedSpline(shapes);
    return check;
}

void checkStepReadBack(const std::string& path, std::optional<double> area, const BuiltShapes* shapes)
{
    // Read as a strict reader reads it: without the reader's own shape
    // healing, which made valid what such a reader found invalid (a STEP
    // file of a mirrored sample written as a success).
    ExchangeSettings settings;
    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
    settings.set("read.step.resource.name", "");
    settings.set("read.step.sequence", "NoHealing");
    checkReadBack<STEPControl_Reader>(path, "STEP", area, shapes);
}

double facesArea(const TopoDS_Shape& shape)
{
    double area = 0.0;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        GProp_GProps props;
        BRepGProp::SurfaceProperties(f.Current(), props);
        area += props.Mass();
    }
    return area;
}

void labelBodyShape(const TestModel& model, const BodyShape& body, const TDF_Label& label,
                    const Handle(TDocStd_Document)& doc, bool numbered)
{
    const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    const Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
    const Handle(XCAFDoc_LayerTool) layers = XCAFDoc_DocumentTool::LayerTool(doc->Main());
    const std::string bodyName = "body " + std::to_string(body.body);
    if (const std::optional<TestAttributes> a = attributesOf(model, qelx_test::KindBody, body.body))
        labelWith(model, *a, label, colors, layers, numbered, bodyName, bodyName);
    // A refusal names a face by its place among the body's faces in the
    // model's order, as the other refusals do.
    std::vector<int> order;
    for (const auto& [index, face] : body.faces)
        order.push_back(index);
    std::sort(order.begin(), order.end());
    for (const auto& [index, face] : body.faces)
        if (const std::optional<TestAttributes> a = attributesOf(model, qelx_test::KindFace, index)) {
            const TDF_Label sub = tool->AddSubShape(label, face);
            const auto place = std::lower_bound(order.begin(), order.end(), index) - order.begin();
            if (!sub.IsNull())
                labelWith(model, *a, sub, colors, layers, numbered, "face " + std::to_string(index),
                          bodyName + ", face " + std::to_string(place));
        }
}

ScratchFile::ScratchFile()
{
    const std::string pattern = (std::filesystem::temp_directory_path() / "qelx_cad_XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("no scratch file for the writer");
    ::close(fd);
    m_path = name.data();
}

ScratchFile::~ScratchFile() { std::remove(m_path.c_str()); }

QELIResult ScratchFile::copyTo(const std::string& path, std::string& reason) const
{
    return writeWholeFile(
        [&](const TextPut& put, std::string& why) {
            std::ifstream in(m_path, std::ios::binary);
            std::vector<char> piece(std::size_t{1} << 20);
            while (in) {
                in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
                if (in.gcount() > 0 && !put(piece.data(), static_cast<std::size_t>(in.gcount())))
                    return false;
            }
            if (!in.eof()) {
                why = "the writer's output could not be read back";
                return false;
            }
            return true;
        },
        path, reason);
}

void writeStepDocument(std::optional<XdeDocument>& doc, const ScratchFile& scratch)
{
    ExchangeSettings settings;
    // Edges go out with their pcurves: a reader left to project the space
    // curves bounds the faces by fits of its own (a circle across a sphere's
    // meridians comes back some 1e-5 of the face's area off).
    settings.set("write.surfacecurve.mode", "1");
    // The file's one uncertainty is the model's widest tolerance, not their
    // mean: its readers give every vertex and edge that uncertainty, and a
    // vertex known within more than it is no longer on its edges (a seam
    // vertex of a cylinder a micron off its circle made a face that failed
    // the check, its wire crossing itself).
    settings.set("write.precision.mode", "1");
    STEPCAFControl_Writer writer;
    writer.SetColorMode(Standard_True);
    writer.SetNameMode(Standard_True);
    writer.SetLayerMode(Standard_True);
    if (!writer.Transfer(doc->get(), STEPControl_AsIs))
        throw std::runtime_error("the shapes could not be put into STEP");
    doc.reset();
    if (writer.Write(scratch.path().c_str()) != IFSelect_RetDone)
        throw std::runtime_error("the STEP writer failed");
}

namespace {

// A handed-over model's attribute records the file will not carry, let go
// before the shapes are built beside it: a BREP file carries none, an IGES
// or STEP file those of bodies and faces (a walked 64,000-face sheet held
// 577,000 records, most of the model's memory).
void dropUnwrittenAttributes(TestModel& model, CadFormat format)
{
    if (format == CadFormat::Brep) {
        model.attributes.clear();
        return;
    }
    for (auto it = model.attributes.begin(); it != model.attributes.end();) {
        const int kind = qelx_test::kindOfWord(it->first);
        it = kind == qelx_test::KindBody || kind == qelx_test::KindFace ? std::next(it) : model.attributes.erase(it);
    }
}

// The model written; `owned`, when given, is the model itself, let go as
// soon as its shapes and their names, colours and layers are built. With
// `checkOnly` (a path naming no file, `format` given) every check is made
// and nothing kept.
QELIResult writeModel(const TestModel& model, TestModel* owned, const std::string& path, std::string& error,
                      CadWriteSummary* summary, const CadSourceMeasures* source,
                      std::optional<CadFormat> checkOnly = std::nullopt)
{
    const std::optional<CadFormat> format = checkOnly ? checkOnly : cadFormatOf(path);
    if (!format) {
        error = path + ": not a STEP, IGES or BREP file name";
        return QELI_FAIL;
    }
    if (!checkOnly) {
        // Refused before any work: the same reasons the write would give.
        std::string target, reason;
        if (resolveWriteTarget(path, target, reason) != QELI_OK) {
            error = path + ": " + reason;
            return QELI_FILE_NOT_SAVED;
        }
    }
    CadWriteSummary made;
    std::optional<ScratchFile> scratch;
    try {
        // Open CASCADE's writers write to a file name: a private file of our
        // own, then copied into the target piece by piece.
        scratch.emplace();
        const ExchangeSettings settings;
        if (*format != CadFormat::Brep && !checkOnly)
            warnAttributesLeftOut(model, *format == CadFormat::Iges ? "IGES" : "STEP");
        if (owned)
            dropUnwrittenAttributes(*owned, *format);
        BuiltShapes shapes = buildShapes(model);
        if (*format == CadFormat::Step)
            reseatForStep(shapes);
        made.bodies = static_cast<int>(shapes.bodies.size());
        made.faces = shapes.faces;
        // Shapes the analyser would refuse are not written; a STEP text of
        // them is read back instead, and kept only where it reads back valid
        // (its reader rebuilds vertices and edges from the one uncertainty:
        // a sample whose source face crosses itself comes back valid).
        // What the source measured of its bodies first: a refusal there
        // names the face.
        if (source)
            checkAgainstSource(shapes, model, *source);
        else
            checkSolidsInsideOut(shapes);
        bool builtInvalid = false;
        try {
            checkBuilt(shapes);
        } catch (const std::runtime_error&) {
            if (*format != CadFormat::Step)
                throw;
            builtInvalid = true;
        }
        // Whether the text is read back (below), decided while the shapes are
        // fresh in memory: after a STEP write the same walk cost ten times as
        // much.
        ReadBackCheck readBack = readBackCheck(shapes, *format);
        readBack.needed = readBack.needed || builtInvalid;
        // Read back valid, such a text must still cover the built faces (the
        // STEP writer leaves out a face it cannot bound, and the shell left
        // open passes the analyser).
        if (builtInvalid && !readBack.area) {
            double area = 0.0;
            for (const BodyShape& body : shapes.bodies)
                area += facesArea(body.shape);
            readBack.area = area;
        }
        if (checkOnly && !readBack.needed) {
            // Nothing more the write would ask of what it built.
        } else if (*format == CadFormat::Brep) {
            if (owned)
                *owned = TestModel();
            brepInto(shapes, scratch->path());
            if (readBack.needed)
                checkReadBack<BrepFileReader>(scratch->path(), "BREP", readBack.area, &shapes);
        } else {
            std::optional<XdeDocument> doc(std::in_place);
            labelShapes(model, shapes, doc->get(), *format == CadFormat::Iges);
            if (owned)
                *owned = TestModel();
            // A file is read back only where tolerances are wide (a STEP file
            // also where a closed edge's vertex is off its curve, or a face on
            // a surface of revolution or spline from pole to pole has holes,
            // an IGES file also where an edge marked degenerated is no pole): a sound
            // model's reading costs as much again as its writing, and what
            // its vertices and edges hold within a thousandth of the model
            // the file's one resolution or uncertainty carries (IGES files
            // of the sample models, up to 2e-4, and of a vertex moved by up
            // to 0.85 of the model all read back valid; one moved a
            // thousand times further did not).
            if (*format == CadFormat::Step) {
                writeStepDocument(doc, *scratch);
                if (readBack.needed)
                    checkStepReadBack(scratch->path(), readBack.area, &shapes);
            } else {
                igesInto(doc->get(), scratch->path());
                if (readBack.needed)
                    checkReadBack<IGESControl_Reader>(scratch->path(), "IGES", std::nullopt, &shapes);
            }
        }
    } catch (const Standard_Failure& e) {
        error = path + ": the model could not be written: " +
                (e.GetMessageString() && *e.GetMessageString() ? e.GetMessageString() : e.DynamicType()->Name());
        return QELI_FAIL;
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
        return QELI_FAIL;
    } catch (const std::exception& e) {
        error = path + ": the model could not be written: " + e.what();
        return QELI_FAIL;
    }
    if (checkOnly)
        return QELI_OK;
    std::string reason;
    if (const QELIResult written = scratch->copyTo(path, reason); written != QELI_OK) {
        error = path + ": " + reason;
        return written;
    }
    if (summary)
        *summary = made;
    return QELI_OK;
}

} // namespace

QELIResult writeCadFile(const qelx_test::TestModel& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary, const CadSourceMeasures* source)
{
    return writeModel(model, nullptr, path, error, summary, source);
}

QELIResult writeCadFile(qelx_test::TestModel&& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary, const CadSourceMeasures* source)
{
    return writeModel(model, &model, path, error, summary, source);
}

QELIResult checkCadModel(const qelx_test::TestModel& model, CadFormat format, std::string& error,
                         const CadSourceMeasures* source)
{
    const char* const names[] = {"STEP", "IGES", "BREP"};
    const QELIResult checked =
        writeModel(model, nullptr, std::string("the ") + names[static_cast<int>(format)] + " writer", error, nullptr,
                   source, format);
    return checked;
}

QELIResult writeCadDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                            CadWriteSummary* summary, qelx_test::WalkSummary* walk)
{
    qelx_test::TestModel model;
    const std::optional<CadFormat> format = cadFormatOf(path);
    if (format && qelx_test::walkExporter(exporter, model, walk, cadAttributeFields(*format)) != QELI_OK) {
        error = path + ": the exporter could not be walked";
        return QELI_FAIL;
    }
    return writeCadFile(model, path, error, summary);
}

} // namespace qelx_formats
