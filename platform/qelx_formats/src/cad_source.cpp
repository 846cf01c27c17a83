// STEP, IGES and BREP files read into the in-memory source model. Every
// surface goes out in its canonical frame (framework parameters are the
// canonical ones), so where the file's (u, v) are crossed or scaled against
// it the face domains and pcurves are carried through the same affine map.
// Degenerate edges (poles, apexes) are left out: the face reaches the point.
#include "cad_shapes.hxx"
#include "model_extent.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepLib.hxx>
#include <BRepTools.hxx>
#include <BRepTools_ShapeSet.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom2dConvert.hxx>
#include <Geom2dConvert_ApproxCurve.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_BezierCurve.hxx>
#include <Geom2d_Line.hxx>
#include <Geom2d_TrimmedCurve.hxx>
#include <GeomConvert.hxx>
#include <GeomConvert_ApproxCurve.hxx>
#include <GeomConvert_ApproxSurface.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_BezierCurve.hxx>
#include <Geom_BezierSurface.hxx>
#include <Geom_Circle.hxx>
#include <Geom_Conic.hxx>
#include <Geom_ElementarySurface.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_Line.hxx>
#include <Geom_OffsetSurface.hxx>
#include <Geom_Plane.hxx>
#include <Geom_RectangularTrimmedSurface.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfLinearExtrusion.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESData_IGESEntity.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XSControl_TransferReader.hxx>
#include <Interface_Check.hxx>
#include <Interface_CheckTool.hxx>
#include <Interface_EntityIterator.hxx>
#include <Interface_Graph.hxx>
#include <Interface_Protocol.hxx>
#include <Interface_InterfaceModel.hxx>
#include <OSD.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepData_Logical.hxx>
#include <StepGeom_BSplineCurve.hxx>
#include <StepGeom_BSplineCurveWithKnots.hxx>
#include <StepGeom_BSplineCurveWithKnotsAndRationalBSplineCurve.hxx>
#include <StepGeom_BSplineSurfaceWithKnots.hxx>
#include <StepGeom_BSplineSurfaceWithKnotsAndRationalBSplineSurface.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <StepGeom_CartesianPoint.hxx>
#include <StepGeom_Direction.hxx>
#include <StepGeom_Curve.hxx>
#include <StepGeom_ElementarySurface.hxx>
#include <StepGeom_Line.hxx>
#include <StepGeom_Pcurve.hxx>
#include <StepGeom_Plane.hxx>
#include <StepGeom_SurfaceCurve.hxx>
#include <StepGeom_SurfaceOfRevolution.hxx>
#include <StepRepr_DefinitionalRepresentation.hxx>
#include <StepShape_BrepWithVoids.hxx>
#include <StepShape_ConnectedFaceSet.hxx>
#include <IGESGeom_BSplineCurve.hxx>
#include <IGESGeom_BSplineSurface.hxx>
#include <IGESSolid_EdgeList.hxx>
#include <IGESSolid_Loop.hxx>
#include <IGESSolid_ManifoldSolid.hxx>
#include <IGESSolid_VertexList.hxx>
#include <StepShape_EdgeLoop.hxx>
#include <StepShape_Face.hxx>
#include <StepShape_FaceBasedSurfaceModel.hxx>
#include <StepShape_HArray1OfConnectedFaceSet.hxx>
#include <StepShape_FaceBound.hxx>
#include <StepShape_OrientedEdge.hxx>
#include <StepShape_Shell.hxx>
#include <StepShape_ShellBasedSurfaceModel.hxx>
#include <TCollection_HAsciiString.hxx>
#include <IFSelect_WorkLibrary.hxx>
#include <XSControl_WorkSession.hxx>
#include <OSD_Signal.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <Bnd_Box.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>
#include <TColStd_Array1OfReal.hxx>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <iomanip>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <iostream>
#include <streambuf>
#include <new>
#include <unordered_map>
#include <cstdlib>
#include <unordered_set>
#include <vector>

namespace qelx_formats {

std::optional<CadFormat> cadFormatOf(const std::string& path)
{
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "step" || ext == "stp")
        return CadFormat::Step;
    if (ext == "iges" || ext == "igs")
        return CadFormat::Iges;
    if (ext == "brep")
        return CadFormat::Brep;
    return std::nullopt;
}

const char* cadSourceType(CadFormat format)
{
    switch (format) {
    case CadFormat::Step: return "XStep";
    case CadFormat::Iges: return "XIges";
    case CadFormat::Brep: return "XBrep";
    }
    return "XBrep";
}

unsigned cadAttributeFields(CadFormat format)
{
    return format == CadFormat::Brep ? 0u : qelx_test::WalkLayer | qelx_test::WalkName | qelx_test::WalkColor;
}

namespace {

using qelx_test::TestModel;
using qelx_test::TestNurbs;
using qelx_test::Vec3;

// Canonical (s, t) = M (u, v) + b of the file's (u, v).
struct ParamMap {
    double m[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
    double b[2] = {0.0, 0.0};
    gp_Pnt2d apply(const gp_Pnt2d& p) const
    {
        return {m[0][0] * p.X() + m[0][1] * p.Y() + b[0], m[1][0] * p.X() + m[1][1] * p.Y() + b[1]};
    }
    static ParamMap crossed(double su, double sb, double tu, double tb)
    {
        // s = su * v + sb, t = tu * u + tb.
        ParamMap p;
        p.m[0][0] = 0.0;
        p.m[0][1] = su;
        p.m[1][0] = tu;
        p.m[1][1] = 0.0;
        p.b[0] = sb;
        p.b[1] = tb;
        return p;
    }
};

Vec3 vecOf(const gp_XYZ& p) { return {p.X(), p.Y(), p.Z()}; }

// The B-spline layout of one of the file's splines (a periodic one opened at
// its own knots, which keeps every point and parameter); `put` appends a
// control point's coordinates.
template <class Spline, class Put>
TestNurbs nurbsOf(Handle(Spline) c, Put put)
{
    if (c->IsPeriodic()) {
        c = Handle(Spline)::DownCast(c->Copy());
        c->SetNotPeriodic();
    }
    TestNurbs n;
    n.degree = c->Degree();
    n.count = c->NbPoles();
    for (int i = 1; i <= n.count; ++i)
        put(c->Pole(i), n.ctrl);
    if (c->IsRational())
        for (int i = 1; i <= n.count; ++i)
            n.weights.push_back(c->Weight(i));
    for (int i = 1; i <= c->NbKnots(); ++i) {
        n.knots.push_back(c->Knot(i));
        n.mults.push_back(c->Multiplicity(i));
    }
    n.form = c->IsClosed() ? 1 : 0;
    return n;
}

TestNurbs nurbsOf3(const Handle(Geom_BSplineCurve)& c)
{
    return nurbsOf(c, [](const gp_Pnt& p, std::vector<double>& out) { out.insert(out.end(), {p.X(), p.Y(), p.Z()}); });
}

// An affine map of the control points maps the whole curve, weights kept.
TestNurbs nurbsOf2(const Handle(Geom2d_BSplineCurve)& c, const ParamMap& map)
{
    return nurbsOf(c, [&map](const gp_Pnt2d& p, std::vector<double>& out) {
        const gp_Pnt2d q = map.apply(p);
        out.insert(out.end(), {q.X(), q.Y()});
    });
}

// How far a spline strays from the curve it stands for, at the same
// parameters (zero for an exact form that keeps the parameter).
template <class Curve, class Spline>
double parameterGap(const Curve& curve, const Spline& spline, double f, double l)
{
    double gap = 0.0;
    for (int i = 0; i <= 16; ++i) {
        const double t = f + (l - f) * i / 16.0;
        gap = std::max(gap, curve->Value(t).Distance(spline->Value(t)));
    }
    return gap;
}

constexpr double ApproxTolerance = 1e-9;

// A trimmed periodic curve starts within its first period; the edge may run
// a period further on. Shifting the knots by whole periods keeps the points.
template <class Spline>
Handle(Spline) shiftedTo(Handle(Spline) spline, double f)
{
    const double shift = f - spline->FirstParameter();
    if (std::abs(shift) <= 1e-12 * std::max(1.0, std::abs(f)))
        return spline;
    TColStd_Array1OfReal knots(1, spline->NbKnots());
    for (int i = 1; i <= spline->NbKnots(); ++i)
        knots(i) = spline->Knot(i) + shift;
    spline->SetKnots(knots);
    return spline;
}

// A curve as a spline over [f, l] at the curve's own parameter: the exact
// form when the conversion keeps the parameter, else a close fit.
template <class Spline, class Trimmed, class Approx, class Curve, class Convert>
Handle(Spline) splineOf(const Handle(Curve)& curve, double f, double l, Convert convert)
{
    Handle(Curve) trimmed = new Trimmed(curve, f, l);
    Handle(Spline) exact;
    try {
        exact = convert(trimmed);
    } catch (const Standard_Failure&) {
    }
    const double scale = std::max(1.0, curve->Value(f).Distance(curve->Value(l)));
    if (!exact.IsNull() && std::abs(exact->FirstParameter() - f) < 1e-12 * scale &&
        parameterGap(curve, exact, f, l) < 1e-12 * scale)
        return exact;
    Approx fit(trimmed, ApproxTolerance, GeomAbs_C2, 200, 14);
    if (!fit.HasResult())
        throw Standard_Failure("a curve could not be converted to a spline");
    return shiftedTo(fit.Curve(), f);
}

// A pcurve is handed over its coedge's range alone: the importer takes a
// pcurve's own range for the coedge's, so a spline the edge uses a part of
// (a file may trim a longer one) is cut to that part.
Handle(Geom2d_BSplineCurve) cutTo(const Handle(Geom2d_BSplineCurve)& spline, double f, double l)
{
    // An edge may run past the spline's end by a rounding error.
    const double scale = 1.0 + std::abs(f) + std::abs(l), beyond = 1e-7 * scale, whole = 1e-12 * scale;
    const double a = spline->FirstParameter(), b = spline->LastParameter();
    if (spline->IsPeriodic() || f < a - beyond || l > b + beyond || (f <= a + whole && l >= b - whole))
        return spline;
    Handle(Geom2d_BSplineCurve) cut = Handle(Geom2d_BSplineCurve)::DownCast(spline->Copy());
    cut->Segment(std::max(f, a), std::min(l, b));
    return cut;
}

Handle(Geom_BSplineCurve) splineOf3(const Handle(Geom_Curve)& curve, double f, double l)
{
    return splineOf<Geom_BSplineCurve, Geom_TrimmedCurve, GeomConvert_ApproxCurve>(
        curve, f, l, [](const Handle(Geom_Curve)& c) { return GeomConvert::CurveToBSplineCurve(c); });
}

Handle(Geom2d_BSplineCurve) splineOf2(const Handle(Geom2d_Curve)& curve, double f, double l)
{
    return splineOf<Geom2d_BSplineCurve, Geom2d_TrimmedCurve, Geom2dConvert_ApproxCurve>(
        curve, f, l, [](const Handle(Geom2d_Curve)& c) { return Geom2dConvert::CurveToBSplineCurve(c); });
}

// Where the faces and edges of a read shape lie in its file ("line 120" of
// a BREP text, "entity #45" of STEP, "entity D17" of IGES), by shape.
using ShapePlaces = std::unordered_map<const TopoDS_TShape*, std::string>;

class ShapeReader {
public:
    explicit ShapeReader(TestModel& model) : m_model(model) {}
    // Where each shape lies in the file, for a refusal to name (a shape
    // not found there is named by its number alone).
    void placesFrom(const ShapePlaces* places) { m_places = places; }
    // The file's shape, its loose faces sewn first unless told otherwise: a
    // BREP file holds its topology as it was built, so faces it keeps loose
    // are loose by intent; STEP and IGES surface models hand faces over alone.
    void read(const TopoDS_Shape& file);
    void sewLooseFaces(bool sew) { m_sew = sew; }
    // The entities each shape became.
    const ReadShapes& shapes() const { return m_shapes; }

private:
    int curveOf(Handle(Geom_Curve) curve, double f, double l);
    int surfaceOf(Handle(Geom_Surface) surface, double u0, double u1, double v0, double v1, ParamMap& map);
    int pcurveOf(Handle(Geom2d_Curve) curve, double f, double l, const ParamMap& map);
    int vertexOf(const TopoDS_Vertex& vertex);
    int edgeOf(const TopoDS_Edge& edge);
    int edgeOfWhole(const TopoDS_Edge& edge);
    void addFace(const TopoDS_Face& face, int shell);
    void addFaceWhole(const TopoDS_Face& face, int shell);
    std::string placeOf(const TopoDS_Shape& shape, const char* kind, int number) const;
    void addShell(const TopoDS_Shell& shell, int shellIndex);
    void readSewn(const TopoDS_Shape& shape);
    void addWires(const TopoDS_Shape& shape);
    std::vector<qelx_test::TestWire> chains(const std::vector<int>& edges) const;

    TestModel& m_model;
    TopTools_IndexedMapOfShape m_vertexMap, m_edgeMap;
    std::vector<int> m_vertexIndex, m_edgeIndex;
    ReadShapes m_shapes;
    bool m_sew = true;
    const ShapePlaces* m_places = nullptr;
    int m_facesMet = 0;
};

std::string ShapeReader::placeOf(const TopoDS_Shape& shape, const char* kind, int number) const
{
    std::string place = std::string(kind) + " " + std::to_string(number);
    if (m_places)
        if (const auto found = m_places->find(shape.TShape().get()); found != m_places->end())
            place += " (" + found->second + ")";
    return place;
}

int ShapeReader::curveOf(Handle(Geom_Curve) curve, double f, double l)
{
    while (auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(curve))
        curve = trimmed->BasisCurve();
    qelx_test::TestCurve c;
    c.domain[0] = f;
    c.domain[1] = l;
    if (auto line = Handle(Geom_Line)::DownCast(curve)) {
        c.type = qelx_test::CurvLine;
        c.p = vecOf(line->Position().Location().XYZ());
        c.d1 = vecOf(line->Position().Direction().XYZ());
    } else if (auto conic = Handle(Geom_Conic)::DownCast(curve);
               !conic.IsNull() && (curve->IsKind(STANDARD_TYPE(Geom_Circle)) || curve->IsKind(STANDARD_TYPE(Geom_Ellipse)))) {
        // Both turn from XDirection towards YDirection: normal = X x Y.
        const gp_Ax2 frame = conic->Position();
        c.type = qelx_test::CurvEllipse;
        c.p = vecOf(frame.Location().XYZ());
        c.d1 = vecOf(frame.XDirection().XYZ());
        c.d2 = vecOf(frame.XDirection().XYZ().Crossed(frame.YDirection().XYZ()));
        if (auto circle = Handle(Geom_Circle)::DownCast(curve)) {
            c.major = c.minor = circle->Radius();
        } else {
            auto ellipse = Handle(Geom_Ellipse)::DownCast(curve);
            c.major = ellipse->MajorRadius();
            c.minor = ellipse->MinorRadius();
        }
    } else {
        Handle(Geom_BSplineCurve) spline = Handle(Geom_BSplineCurve)::DownCast(curve);
        if (spline.IsNull()) {
            if (auto bezier = Handle(Geom_BezierCurve)::DownCast(curve))
                spline = GeomConvert::CurveToBSplineCurve(bezier);
            else
                spline = splineOf3(curve, f, l);
        }
        // A periodic spline is opened at its own knots: an edge on it that
        // runs across them (from just before its first knot round a whole
        // turn, a period on) would lie past the opened spline's end. Its
        // piece from the edge's start is the same curve at the same
        // parameters, opened there.
        const double first = spline->FirstParameter(), last = spline->LastParameter();
        const double rounding = 1e-9 * (1.0 + std::abs(first) + std::abs(last));
        if (spline->IsPeriodic() && (f < first - rounding || l > last + rounding) &&
            l - f <= spline->Period() + rounding) {
            spline = Handle(Geom_BSplineCurve)::DownCast(spline->Copy());
            spline->Segment(f, std::min(l, f + spline->Period()));
        }
        c.type = qelx_test::CurvNurbs;
        c.nurbs = nurbsOf3(spline);
    }
    m_model.curves.push_back(std::move(c));
    return static_cast<int>(m_model.curves.size()) - 1;
}

// An edge's or pcurve's range as the file gives it runs forwards: a damaged
// one (backwards, a point, not finite) would make knots no spline may have.
void checkRange(double f, double l, const char* what)
{
    if (!std::isfinite(f) || !std::isfinite(l) || !(l > f))
        throw std::runtime_error(std::string(what) + " whose parameter range does not run forwards");
}

int ShapeReader::pcurveOf(Handle(Geom2d_Curve) curve, double f, double l, const ParamMap& map)
{
    checkRange(f, l, "a pcurve");
    while (auto trimmed = Handle(Geom2d_TrimmedCurve)::DownCast(curve))
        curve = trimmed->BasisCurve();
    Handle(Geom2d_BSplineCurve) spline = Handle(Geom2d_BSplineCurve)::DownCast(curve);
    TestNurbs n;
    if (auto line = Handle(Geom2d_Line)::DownCast(curve)) {
        const gp_Pnt2d a = map.apply(line->Value(f)), b = map.apply(line->Value(l));
        n.degree = 1;
        n.count = 2;
        n.ctrl = {a.X(), a.Y(), b.X(), b.Y()};
        n.knots = {f, l};
        n.mults = {2, 2};
    } else {
        if (spline.IsNull()) {
            if (auto bezier = Handle(Geom2d_BezierCurve)::DownCast(curve))
                spline = Geom2dConvert::CurveToBSplineCurve(bezier);
            else
                spline = splineOf2(curve, f, l);
        }
        n = nurbsOf2(cutTo(spline, f, l), map);
    }
    return m_model.addPCurve(std::move(n));
}

// The surface record and the map from the file's (u, v) to its canonical
// (s, t). Derivations use e = (X x Y).Z of the file's frame (-1 when the
// frame is left-handed).
int ShapeReader::surfaceOf(Handle(Geom_Surface) surface, double u0, double u1, double v0, double v1, ParamMap& map)
{
    while (auto trimmed = Handle(Geom_RectangularTrimmedSurface)::DownCast(surface))
        surface = trimmed->BasisSurface();
    // A damaged file's face may have lost its surface (or a trimmed one its basis).
    if (surface.IsNull())
        throw std::runtime_error("a face without a surface");
    qelx_test::TestSurface s;
    map = ParamMap{};
    auto frameOf = [](const gp_Ax3& a, gp_XYZ& x, gp_XYZ& y, gp_XYZ& z) {
        x = a.XDirection().XYZ();
        y = a.YDirection().XYZ();
        z = a.Direction().XYZ();
        return x.Crossed(y).Dot(z) > 0.0 ? 1.0 : -1.0;
    };
    gp_XYZ X, Y, Z;
    if (auto plane = Handle(Geom_Plane)::DownCast(surface)) {
        // o + u X + v Y: the canonical plane on uVector X and normal X x Y.
        frameOf(plane->Position(), X, Y, Z);
        s.type = qelx_test::SurfPlane;
        s.p = vecOf(plane->Position().Location().XYZ());
        s.d1 = vecOf(X);
        s.d2 = vecOf(X.Crossed(Y));
        s.bounded = false;
    } else if (auto cylinder = Handle(Geom_CylindricalSurface)::DownCast(surface);
               !cylinder.IsNull() || surface->IsKind(STANDARD_TYPE(Geom_ConicalSurface))) {
        // File: (R + v sinA)(X cos u + Y sin u) + v cosA Z. Canonical about Z
        // from X: t = e u, s = -(v - v0)/a with a the radius at v0.
        auto cone = Handle(Geom_ConicalSurface)::DownCast(surface);
        const gp_Ax3 frame = cylinder.IsNull() ? cone->Position() : cylinder->Position();
        const double e = frameOf(frame, X, Y, Z);
        const double R = cylinder.IsNull() ? cone->RefRadius() : cylinder->Radius();
        const double A = cylinder.IsNull() ? cone->SemiAngle() : 0.0;
        // A cone given at its apex gets its reference circle where the radius is 1.
        const double vRef = std::abs(R) > 1e-9 || A == 0.0 ? 0.0 : (1.0 - R) / std::sin(A);
        const double a = R + vRef * std::sin(A);
        s.type = A == 0.0 ? qelx_test::SurfCylinder : qelx_test::SurfCone;
        s.p = vecOf(frame.Location().XYZ() + Z * (vRef * std::cos(A)));
        s.d1 = vecOf(X);
        s.d2 = vecOf(Z);
        s.a = a;
        s.b = std::abs(A);
        s.c = -std::sin(A);
        s.bounded = false;
        map = ParamMap::crossed(-1.0 / a, vRef / a, e, 0.0);
    } else if (auto sphere = Handle(Geom_SphericalSurface)::DownCast(surface)) {
        // File: cos v (X cos u + Y sin u) + sin v Z; canonical dir1 X, pole Z
        // turns towards X x Z = -e Y: s = v, t = -e u.
        const double e = frameOf(sphere->Position(), X, Y, Z);
        s.type = qelx_test::SurfSphere;
        s.p = vecOf(sphere->Position().Location().XYZ());
        s.d1 = vecOf(X);
        s.d2 = vecOf(Z);
        s.a = sphere->Radius();
        s.uSpan[0] = -M_PI / 2;
        s.uSpan[1] = M_PI / 2;
        s.vSpan[0] = e > 0 ? -2.0 * M_PI : 0.0;
        s.vSpan[1] = e > 0 ? 0.0 : 2.0 * M_PI;
        map = ParamMap::crossed(1.0, 0.0, -e, 0.0);
    } else if (auto torus = Handle(Geom_ToroidalSurface)::DownCast(surface)) {
        // As the sphere: s = v round the tube, t = -e u about Z.
        const double e = frameOf(torus->Position(), X, Y, Z);
        s.type = qelx_test::SurfTorus;
        s.p = vecOf(torus->Position().Location().XYZ());
        s.d1 = vecOf(X);
        s.d2 = vecOf(Z);
        s.a = torus->MajorRadius();
        s.b = torus->MinorRadius();
        s.toroidalType = s.a > s.b ? 1 : 2;
        s.uSpan[0] = -M_PI;
        s.uSpan[1] = M_PI;
        s.vSpan[0] = e > 0 ? -2.0 * M_PI : 0.0;
        s.vSpan[1] = e > 0 ? 0.0 : 2.0 * M_PI;
        map = ParamMap::crossed(1.0, 0.0, -e, 0.0);
        // A face of a self-intersecting torus on its inner part (R + r cos v
        // < 0, the lemon inside the apple) is on the lemon torus, the torus
        // of negated major radius about the reversed axis: s = v - pi round
        // the tube, t = e u + pi about -Z. The apple's parameters end at the
        // apexes, and such a face put on it runs past them, where its
        // derivatives turn the normal over (the face measured negative).
        if (s.a < s.b && s.a + s.b * std::cos(0.5 * (v0 + v1)) < 0.0) {
            s.toroidalType = 3;
            s.d2 = vecOf(Z.Reversed());
            const double reach = std::acos(std::min(1.0, s.a / s.b));
            s.uSpan[0] = -reach;
            s.uSpan[1] = reach;
            s.vSpan[0] = e > 0 ? M_PI : -M_PI;
            s.vSpan[1] = s.vSpan[0] + 2.0 * M_PI;
            map = ParamMap::crossed(1.0, -M_PI, e, M_PI);
        }
    } else if (auto offset = Handle(Geom_OffsetSurface)::DownCast(surface)) {
        // The offset shares its base's canonical parameters.
        s.type = qelx_test::SurfOffset;
        s.ref = surfaceOf(offset->BasisSurface(), u0, u1, v0, v1, map);
        s.a = offset->Offset();
        const qelx_test::TestSurface& base = m_model.surfaces[static_cast<std::size_t>(s.ref)];
        std::copy(base.uSpan, base.uSpan + 2, s.uSpan);
        std::copy(base.vSpan, base.vSpan + 2, s.vSpan);
        s.bounded = base.bounded;
    } else if (auto revolved = Handle(Geom_SurfaceOfRevolution)::DownCast(surface)) {
        // File: the profile at v turned by u about the axis: s = v, t = u.
        s.type = qelx_test::SurfRevolved;
        s.ref = curveOf(revolved->BasisCurve(), v0, v1);
        s.p = vecOf(revolved->Axis().Location().XYZ());
        s.d1 = vecOf(revolved->Axis().Direction().XYZ());
        s.uSpan[0] = v0;
        s.uSpan[1] = v1;
        s.vSpan[0] = 0.0;
        s.vSpan[1] = 2.0 * M_PI;
        map = ParamMap::crossed(1.0, 0.0, 1.0, 0.0);
    } else if (auto extruded = Handle(Geom_SurfaceOfLinearExtrusion)::DownCast(surface)) {
        s.type = qelx_test::SurfExtruded;
        s.ref = curveOf(extruded->BasisCurve(), u0, u1);
        s.d1 = vecOf(extruded->Direction().XYZ());
        s.bounded = false;
    } else {
        Handle(Geom_BSplineSurface) spline = Handle(Geom_BSplineSurface)::DownCast(surface);
        if (spline.IsNull()) {
            if (auto bezier = Handle(Geom_BezierSurface)::DownCast(surface))
                spline = GeomConvert::SurfaceToBSplineSurface(bezier);
            else {
                Handle(Geom_Surface) box = new Geom_RectangularTrimmedSurface(surface, u0, u1, v0, v1);
                GeomConvert_ApproxSurface fit(box, ApproxTolerance, GeomAbs_C2, GeomAbs_C2, 14, 14, 200, 0);
                if (!fit.HasResult())
                    throw Standard_Failure("a surface could not be converted to a spline");
                spline = fit.Surface();
            }
        } else if (spline->IsUPeriodic() || spline->IsVPeriodic()) {
            spline = Handle(Geom_BSplineSurface)::DownCast(spline->Copy());
            if (spline->IsUPeriodic())
                spline->SetUNotPeriodic();
            if (spline->IsVPeriodic())
                spline->SetVNotPeriodic();
        }
        std::vector<double> ctrl, weights, uKnots, vKnots;
        std::vector<int> uMults, vMults;
        for (int i = 1; i <= spline->NbUPoles(); ++i)
            for (int j = 1; j <= spline->NbVPoles(); ++j) {
                const gp_Pnt p = spline->Pole(i, j);
                ctrl.insert(ctrl.end(), {p.X(), p.Y(), p.Z()});
                if (spline->IsURational() || spline->IsVRational())
                    weights.push_back(spline->Weight(i, j));
            }
        for (int i = 1; i <= spline->NbUKnots(); ++i) {
            uKnots.push_back(spline->UKnot(i));
            uMults.push_back(spline->UMultiplicity(i));
        }
        for (int j = 1; j <= spline->NbVKnots(); ++j) {
            vKnots.push_back(spline->VKnot(j));
            vMults.push_back(spline->VMultiplicity(j));
        }
        const int index = m_model.addNurbsSurface(spline->UDegree(), spline->VDegree(), spline->NbUPoles(),
                                                  spline->NbVPoles(), std::move(ctrl), std::move(uKnots),
                                                  std::move(uMults), std::move(vKnots), std::move(vMults),
                                                  std::move(weights));
        m_model.surfaces[static_cast<std::size_t>(index)].uClosure = spline->IsUClosed() ? 1 : 0;
        m_model.surfaces[static_cast<std::size_t>(index)].vClosure = spline->IsVClosed() ? 1 : 0;
        s = m_model.surfaces[static_cast<std::size_t>(index)];
        m_model.surfaces.pop_back();
    }
    m_model.surfaces.push_back(std::move(s));
    const int index = static_cast<int>(m_model.surfaces.size()) - 1;
    // The file's normal (dS/du x dS/dv) is the one the face's orientation
    // refers to: compare it with the canonical frame's where it is clearest.
    double best = 0.0, dot = 1.0;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) {
            const double u = u0 + (u1 - u0) * i / 4.0, v = v0 + (v1 - v0) * j / 4.0;
            gp_Pnt p;
            gp_Vec du, dv;
            surface->D1(u, v, p, du, dv);
            const gp_Vec n = du.Crossed(dv);
            if (n.Magnitude() <= best)
                continue;
            const gp_Pnt2d st = map.apply(gp_Pnt2d(u, v));
            const QELXPoint3D c = m_model.surfaceNormal(index, st.X(), st.Y());
            best = n.Magnitude();
            dot = n.X() * c[0] + n.Y() * c[1] + n.Z() * c[2];
        }
    m_model.surfaces[static_cast<std::size_t>(index)].flag = dot >= 0.0;
    return index;
}

int ShapeReader::vertexOf(const TopoDS_Vertex& vertex)
{
    if (vertex.IsNull())
        return -1;
    const int key = m_vertexMap.Add(vertex);
    if (static_cast<int>(m_vertexIndex.size()) < key)
        m_vertexIndex.push_back(m_model.addVertex(vecOf(BRep_Tool::Pnt(vertex).XYZ())));
    return m_vertexIndex[static_cast<std::size_t>(key - 1)];
}

// An edge or face the file holds in a form no model takes (a range that
// does not run forwards, geometry the peer cannot build) is refused naming
// it: its number in the order the file's shape is read, and where the file
// holds it.
int ShapeReader::edgeOf(const TopoDS_Edge& edge)
{
    try {
        return edgeOfWhole(edge);
    } catch (const Standard_Failure&) {
        throw std::runtime_error(placeOf(edge, "edge", m_edgeMap.FindIndex(edge)) +
                                 ": its geometry cannot be built from what the file holds");
    } catch (const std::runtime_error& e) {
        if (std::string_view(e.what()).starts_with("edge "))
            throw;
        throw std::runtime_error(placeOf(edge, "edge", m_edgeMap.FindIndex(edge)) + ": " + e.what());
    }
}

void ShapeReader::addFace(const TopoDS_Face& face, int shell)
{
    const int number = ++m_facesMet;
    try {
        addFaceWhole(face, shell);
    } catch (const Standard_Failure&) {
        throw std::runtime_error(placeOf(face, "face", number) + ": its geometry cannot be built from what the file holds");
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(placeOf(face, "face", number) + ": " + e.what());
    }
}

int ShapeReader::edgeOfWhole(const TopoDS_Edge& edge)
{
    const int key = m_edgeMap.Add(edge);
    if (static_cast<int>(m_edgeIndex.size()) >= key)
        return m_edgeIndex[static_cast<std::size_t>(key - 1)];
    // The edge's own parameter is its curve's, from its first vertex.
    const TopoDS_Edge forward = TopoDS::Edge(edge.Oriented(TopAbs_FORWARD));
    TopoDS_Vertex first, last;
    TopExp::Vertices(forward, first, last);
    double f = 0.0, l = 0.0;
    const Handle(Geom_Curve) curve = BRep_Tool::Curve(forward, f, l);
    if (curve.IsNull())
        BRep_Tool::Range(forward, f, l);
    if (!curve.IsNull())
        checkRange(f, l, "an edge");
    const int curveIndex = curve.IsNull() ? -1 : curveOf(curve, f, l);
    const int start = vertexOf(first), end = vertexOf(last);
    m_edgeIndex.push_back(m_model.addEdge(curveIndex, start, end, f, l));
    return m_edgeIndex.back();
}

namespace {
bool onlySeamsBothWays(const std::vector<TopoDS_Edge>& wire, const TopoDS_Face& face)
{
    bool any = false;
    for (const TopoDS_Edge& edge : wire) {
        if (BRep_Tool::Degenerated(edge))
            continue;
        if (!BRep_Tool::IsClosed(edge, face))
            return false;
        const bool otherWay = std::any_of(wire.begin(), wire.end(), [&](const TopoDS_Edge& e) {
            return e.IsSame(edge) && e.Orientation() != edge.Orientation();
        });
        if (!otherWay)
            return false;
        any = true;
    }
    return any;
}
} // namespace

void ShapeReader::addFaceWhole(const TopoDS_Face& face, int shell)
{
    const TopoDS_Face forward = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
    double u0 = 0.0, u1 = 1.0, v0 = 0.0, v1 = 1.0;
    BRepTools::UVBounds(forward, u0, u1, v0, v1);
    ParamMap map;
    const int surface = surfaceOf(BRep_Tool::Surface(forward), u0, u1, v0, v1, map);
    const bool sense = face.Orientation() != TopAbs_REVERSED;
    const int index = m_model.addFace(shell, surface, sense);
    m_shapes.faces.Bind(face, index);
    qelx_test::TestFace& out = m_model.faces[static_cast<std::size_t>(index)];
    const gp_Pnt2d corners[4] = {map.apply({u0, v0}), map.apply({u1, v0}), map.apply({u0, v1}), map.apply({u1, v1})};
    out.uDomain[0] = out.vDomain[0] = HUGE_VAL;
    out.uDomain[1] = out.vDomain[1] = -HUGE_VAL;
    for (const gp_Pnt2d& c : corners) {
        out.uDomain[0] = std::min(out.uDomain[0], c.X());
        out.uDomain[1] = std::max(out.uDomain[1], c.X());
        out.vDomain[0] = std::min(out.vDomain[0], c.Y());
        out.vDomain[1] = std::max(out.vDomain[1], c.Y());
    }
    const TopoDS_Wire outer = BRepTools::OuterWire(forward);
    // Outer loop first, as the framework expects.
    std::vector<TopoDS_Wire> wires;
    for (TopoDS_Iterator it(forward); it.More(); it.Next())
        if (it.Value().ShapeType() == TopAbs_WIRE)
            (it.Value().IsSame(outer) ? wires.insert(wires.begin(), TopoDS::Wire(it.Value()))
                                      : wires.insert(wires.end(), TopoDS::Wire(it.Value())));
    for (const TopoDS_Wire& wire : wires) {
        // In the forward face, loops run with the material on their left
        // about the surface's normal; a reversed face walks them backwards.
        std::vector<TopoDS_Edge> ordered;
        int stored = 0;
        for (TopExp_Explorer e(wire, TopAbs_EDGE); e.More(); e.Next())
            ++stored;
        for (BRepTools_WireExplorer w(wire, forward); w.More(); w.Next())
            ordered.push_back(w.Current());
        if (static_cast<int>(ordered.size()) != stored) {
            ordered.clear();
            for (TopExp_Explorer e(wire, TopAbs_EDGE); e.More(); e.Next())
                ordered.push_back(TopoDS::Edge(e.Current()));
        }
        if (!sense)
            std::reverse(ordered.begin(), ordered.end());
        // A wire of seams walked both ways (and poles) cuts nothing off: the
        // face is its whole closed surface (a full sphere or torus), which the
        // kernel's side holds as a face without loops. Kept, it would be a
        // loop of no area once the seam's two uses meet across a pole.
        if (onlySeamsBothWays(ordered, forward))
            continue;
        const int loop = m_model.addLoop(index);
        m_model.loops[static_cast<std::size_t>(loop)].outer = wire.IsSame(outer);
        for (const TopoDS_Edge& edge : ordered) {
            if (BRep_Tool::Degenerated(edge))
                continue;
            const bool along = (edge.Orientation() == TopAbs_FORWARD) == sense;
            double f = 0.0, l = 0.0;
            const Handle(Geom2d_Curve) p = BRep_Tool::CurveOnSurface(edge, forward, f, l);
            const int pcurve = p.IsNull() ? -1 : pcurveOf(p, f, l, map);
            const int coedge = m_model.addCoedge(loop, edgeOf(edge), along, pcurve);
            m_model.coedges[static_cast<std::size_t>(coedge)].pcurveSense = along;
            if (pcurve < 0)
                continue;
            // The file's box stops at a spline surface's edge; pcurves may
            // stray past it within the file's tolerance, and the domain holds
            // them (a spline lies in the box of its control points).
            qelx_test::TestFace& grown = m_model.faces[static_cast<std::size_t>(index)];
            const std::vector<double>& ctrl = m_model.pcurves[static_cast<std::size_t>(pcurve)].nurbs.ctrl;
            for (std::size_t k = 0; k + 1 < ctrl.size(); k += 2) {
                grown.uDomain[0] = std::min(grown.uDomain[0], ctrl[k]);
                grown.uDomain[1] = std::max(grown.uDomain[1], ctrl[k]);
                grown.vDomain[0] = std::min(grown.vDomain[0], ctrl[k + 1]);
                grown.vDomain[1] = std::max(grown.vDomain[1], ctrl[k + 1]);
            }
        }
    }
}

void ShapeReader::addShell(const TopoDS_Shell& shell, int shellIndex)
{
    for (TopExp_Explorer f(shell, TopAbs_FACE); f.More(); f.Next())
        addFace(TopoDS::Face(f.Current()), shellIndex);
}

void ShapeReader::read(const TopoDS_Shape& file)
{
    if (!m_sew) {
        readSewn(file);
        return;
    }
    const LooseFacesSewn sewn(file);
    readSewn(sewn.shape());
    sewn.bindOriginals(m_shapes);
}

void ShapeReader::readSewn(const TopoDS_Shape& shape)
{
    // Solids, then shells outside solids as sheets, then loose faces, then
    // edges outside faces as wires, then vertices outside edges as points.
    for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next()) {
        const int body = m_model.addBody();
        m_shapes.bodies.Bind(s.Current(), body);
        m_model.lumps.emplace_back();
        m_model.volumes.emplace_back();
        m_model.lumps.back().volumes.push_back(static_cast<int>(m_model.volumes.size()) - 1);
        m_model.bodies[static_cast<std::size_t>(body)].lumps.push_back(static_cast<int>(m_model.lumps.size()) - 1);
        const int volume = static_cast<int>(m_model.volumes.size()) - 1;
        for (TopExp_Explorer sh(s.Current(), TopAbs_SHELL); sh.More(); sh.Next()) {
            m_model.shells.emplace_back();
            const int shell = static_cast<int>(m_model.shells.size()) - 1;
            m_model.shells.back().closed = BRep_Tool::IsClosed(sh.Current());
            m_model.volumes[static_cast<std::size_t>(volume)].shells.push_back(shell);
            addShell(TopoDS::Shell(sh.Current()), shell);
        }
    }
    for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next()) {
        int shell = -1;
        m_shapes.bodies.Bind(sh.Current(), m_model.addSheetBody(shell));
        m_model.shells[static_cast<std::size_t>(shell)].closed = BRep_Tool::IsClosed(sh.Current());
        addShell(TopoDS::Shell(sh.Current()), shell);
    }
    int loose = -1;
    for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next()) {
        if (loose < 0)
            m_model.addSheetBody(loose);
        addFace(TopoDS::Face(f.Current()), loose);
    }
    addWires(shape);
    // A vertex outside every edge is a point: a body of one point wire.
    for (TopExp_Explorer v(shape, TopAbs_VERTEX, TopAbs_EDGE); v.More(); v.Next()) {
        if (m_vertexMap.Contains(v.Current()))
            continue;
        const int body = m_model.addBody();
        m_model.wires.emplace_back();
        m_model.wires.back().vertices.push_back(vertexOf(TopoDS::Vertex(v.Current())));
        m_model.bodies[static_cast<std::size_t>(body)].pointWires.push_back(static_cast<int>(m_model.wires.size()) - 1);
    }
}

// Edges outside faces become wire bodies, one per connected set: a wire of
// the file holds together, and loose edges join where they share a vertex
// or where their ends lie within the vertices' tolerance of each other (a
// STEP wire comes back as loose curves with a vertex each). Joining loses
// nothing: the vertices' tolerance already says the ends are one place.
void ShapeReader::addWires(const TopoDS_Shape& shape)
{
    std::vector<TopoDS_Edge> edges;
    std::vector<bool> inWire; // in a wire of the file, whose vertices it shares
    TopTools_IndexedMapOfShape taken;
    const auto take = [&](const TopoDS_Shape& e, bool wire) {
        const TopoDS_Edge& edge = TopoDS::Edge(e);
        if (BRep_Tool::Degenerated(edge) || m_edgeMap.Contains(edge) || taken.Contains(edge))
            return;
        taken.Add(edge);
        edges.push_back(edge);
        inWire.push_back(wire);
    };
    for (TopExp_Explorer w(shape, TopAbs_WIRE, TopAbs_FACE); w.More(); w.Next())
        for (TopExp_Explorer e(w.Current(), TopAbs_EDGE); e.More(); e.Next())
            take(e.Current(), true);
    for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next())
        take(e.Current(), false);
    if (edges.empty())
        return;

    // Ends of loose edges within tolerance become one model vertex: swept
    // in order of x, each end against the ends within reach behind it.
    struct End {
        gp_Pnt p;
        double tol;
        TopoDS_Vertex v;
    };
    std::vector<End> ends;
    double reach = 0.0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        if (inWire[i])
            continue;
        TopoDS_Vertex a, b;
        TopExp::Vertices(edges[i], a, b);
        for (const TopoDS_Vertex& v : {a, b})
            if (!v.IsNull() && !m_vertexMap.Contains(v)) {
                ends.push_back({BRep_Tool::Pnt(v), BRep_Tool::Tolerance(v), v});
                reach = std::max(reach, ends.back().tol);
            }
    }
    std::sort(ends.begin(), ends.end(), [](const End& x, const End& y) { return x.p.X() < y.p.X(); });
    for (std::size_t i = 0; i < ends.size(); ++i) {
        if (m_vertexMap.Contains(ends[i].v))
            continue;
        int joined = -1;
        for (std::size_t j = i; j-- > 0 && ends[i].p.X() - ends[j].p.X() <= 2.0 * reach;)
            if (ends[i].p.Distance(ends[j].p) <= std::max(ends[i].tol, ends[j].tol)) {
                joined = vertexOf(ends[j].v);
                break;
            }
        if (joined < 0)
            vertexOf(ends[i].v);
        else if (m_vertexMap.Add(ends[i].v) > static_cast<int>(m_vertexIndex.size()))
            m_vertexIndex.push_back(joined);
    }

    // Connected sets of model edges: edges through one model vertex.
    std::vector<int> index(edges.size()), root(edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i) {
        index[i] = edgeOf(edges[i]);
        root[i] = static_cast<int>(i);
    }
    const auto find = [&](int i) {
        while (root[static_cast<std::size_t>(i)] != i)
            i = root[static_cast<std::size_t>(i)] = root[static_cast<std::size_t>(root[static_cast<std::size_t>(i)])];
        return i;
    };
    std::unordered_map<int, int> atVertex;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const qelx_test::TestEdge& e = m_model.edges[static_cast<std::size_t>(index[i])];
        for (int v : {e.start, e.end}) {
            if (v < 0)
                continue;
            auto [it, fresh] = atVertex.try_emplace(v, static_cast<int>(i));
            if (!fresh)
                root[static_cast<std::size_t>(find(static_cast<int>(i)))] = find(it->second);
        }
    }
    std::unordered_map<int, std::vector<int>> sets;
    std::vector<int> order;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        auto& set = sets[find(static_cast<int>(i))];
        if (set.empty())
            order.push_back(find(static_cast<int>(i)));
        set.push_back(index[i]);
    }
    for (int r : order)
        for (qelx_test::TestWire& wire : chains(sets[r])) {
            const int body = m_model.addBody();
            m_model.wires.push_back(std::move(wire));
            m_model.bodies[static_cast<std::size_t>(body)].wires.push_back(static_cast<int>(m_model.wires.size()) - 1);
        }
}

// The wires of a connected set of `edges`: chains of edges in the order
// they follow one another, broken where three or more edges meet (a wire
// body does not branch; the chains share the vertex there), each from a
// free end or such a vertex where it has one; vertices in the order met.
std::vector<qelx_test::TestWire> ShapeReader::chains(const std::vector<int>& edges) const
{
    std::unordered_map<int, std::vector<int>> at;
    for (int e : edges)
        for (int v : {m_model.edges[static_cast<std::size_t>(e)].start, m_model.edges[static_cast<std::size_t>(e)].end})
            if (v >= 0)
                at[v].push_back(e);
    const auto through = [&](int v) { return v >= 0 && at[v].size() == 2; };
    std::unordered_map<int, bool> used;
    std::vector<qelx_test::TestWire> out;
    const auto walk = [&](int e, int from) {
        if (used[e])
            return;
        qelx_test::TestWire wire;
        // A chain passes each vertex once; a ring ends where it began.
        const auto meet = [&](int v) {
            if (v >= 0 && (wire.vertices.empty() || (v != wire.vertices.back() && v != wire.vertices.front())))
                wire.vertices.push_back(v);
        };
        while (e >= 0 && !used[e]) {
            used[e] = true;
            wire.edges.push_back(e);
            const qelx_test::TestEdge& edge = m_model.edges[static_cast<std::size_t>(e)];
            const int to = edge.start == from ? edge.end : edge.start;
            meet(from);
            meet(to);
            int next = -1;
            if (through(to))
                for (int n : at[to])
                    if (!used[n])
                        next = n;
            from = to;
            e = next;
        }
        out.push_back(std::move(wire));
    };
    for (int e : edges) {
        const qelx_test::TestEdge& edge = m_model.edges[static_cast<std::size_t>(e)];
        if (!through(edge.start))
            walk(e, edge.start);
        else if (!through(edge.end))
            walk(e, edge.end);
    }
    for (int e : edges)
        walk(e, m_model.edges[static_cast<std::size_t>(e)].start);
    return out;
}

// A file whose text the reader could not take whole (an entity it could not
// parse, a reference to an entity that is not there) is refused before any
// shape is made of it: the transfer would build from what is missing.
} // namespace

// The signals Open CASCADE's mode turns into exceptions, and any others it
// may take over: all are put back.
struct SignalsAsFailures::Saved {
    struct sigaction actions[NSIG];
    bool held[NSIG] = {};
};

SignalsAsFailures::SignalsAsFailures() : m_saved(std::make_unique<Saved>())
{
    for (int s = 1; s < NSIG; ++s)
        m_saved->held[s] = s != SIGKILL && s != SIGSTOP && ::sigaction(s, nullptr, &m_saved->actions[s]) == 0;
    // Floating-point traps stay off: the numerics rely on infinities.
    OSD::SetSignal(OSD_SignalMode_Set, Standard_False);
}

SignalsAsFailures::~SignalsAsFailures()
{
    for (int s = 1; s < NSIG; ++s)
        if (m_saved->held[s])
            ::sigaction(s, &m_saved->actions[s], nullptr);
}

std::string failureText(const Standard_Failure& e)
{
    if (e.IsKind(STANDARD_TYPE(OSD_Signal)))
        return std::string("Open CASCADE's reader faulted on it (") + e.DynamicType()->Name() + ")";
    return e.GetMessageString() && *e.GetMessageString() ? e.GetMessageString() : e.DynamicType()->Name();
}

namespace {

// An entity as the file names it (#12 in STEP, D7 in IGES).
std::string fileLabel(const Handle(Interface_InterfaceModel)& model, int number)
{
    const Handle(TCollection_HAsciiString) label = model->StringLabel(model->Value(number));
    return label.IsNull() ? std::to_string(number) : label->ToCString();
}

// The longest chain of references a STEP or IGES file may hold. A model's
// own nesting (product, shape, solid, shell, face, loop, edge, curve, point,
// a few assembly levels above) stays within a few dozen; a damaged file may
// link thousands of entities one after another.
constexpr int MaxReferenceChain = 200;

// The largest STEP, IGES or BREP file the readers are given (README).
constexpr unsigned long long MaxCadFileBytes = 1ULL << 30;

// The largest coordinate of a STEP pcurve's point (one of parameters): where
// the kernel's own transforms end.
constexpr double MaxParameterCoordinate = 1e10;

// A STEP assembly's levels: products placed in products. The reader's
// transfer (and the assembly reader after it) takes one level by recursion,
// several frames deep, so a file nesting thousands of levels ran out of
// stack; no product structure nests more than a few dozen. The placements
// are not references of the placed product (each names both ends), so the
// chain of references does not see them.
constexpr int MaxAssemblyNesting = 100;

bool assemblyNestingPlausible(const Handle(Interface_InterfaceModel)& model, std::string& reason)
{
    // Each definition's number, and the definitions each one places.
    std::unordered_map<const Standard_Transient*, int> number;
    std::unordered_map<int, std::vector<int>> placed;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const auto usage = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(model->Value(i));
        if (usage.IsNull() || usage->RelatingProductDefinition().IsNull() ||
            usage->RelatedProductDefinition().IsNull())
            continue;
        const int from = number.emplace(usage->RelatingProductDefinition().get(), static_cast<int>(number.size()))
                             .first->second;
        const int to =
            number.emplace(usage->RelatedProductDefinition().get(), static_cast<int>(number.size())).first->second;
        placed[from].push_back(to);
    }
    if (placed.empty())
        return true;
    // Depth first without recursion; a placement back into a level still
    // being followed (a product placing itself) is left to the reader, which
    // refuses it.
    std::vector<char> state(number.size(), 0);
    std::vector<int> levels(number.size(), 0); // placements below each definition
    struct Level {
        int definition;
        std::size_t next = 0;
    };
    std::vector<Level> path;
    for (const auto& [root, unused] : placed) {
        (void)unused;
        if (state[static_cast<std::size_t>(root)])
            continue;
        state[static_cast<std::size_t>(root)] = 1;
        path.push_back({root});
        while (!path.empty()) {
            Level& at = path.back();
            const auto found = placed.find(at.definition);
            if (found == placed.end() || at.next == found->second.size()) {
                state[static_cast<std::size_t>(at.definition)] = 2;
                const int done = at.definition;
                path.pop_back();
                if (levels[static_cast<std::size_t>(done)] > MaxAssemblyNesting) {
                    reason = "damaged: products placed in one another more than " +
                             std::to_string(MaxAssemblyNesting) + " levels deep, deeper than any assembly nests";
                    return false;
                }
                if (!path.empty())
                    levels[static_cast<std::size_t>(path.back().definition)] =
                        std::max(levels[static_cast<std::size_t>(path.back().definition)],
                                 levels[static_cast<std::size_t>(done)] + 1);
                continue;
            }
            const int next = found->second[at.next++];
            if (state[static_cast<std::size_t>(next)] == 2)
                levels[static_cast<std::size_t>(at.definition)] =
                    std::max(levels[static_cast<std::size_t>(at.definition)], levels[static_cast<std::size_t>(next)] + 1);
            else if (state[static_cast<std::size_t>(next)] == 0) {
                state[static_cast<std::size_t>(next)] = 1;
                path.push_back({next});
            }
        }
    }
    return true;
}

// An IGES B-rep names its edges and vertices as items of edge and vertex
// lists: a loop by list and index, an edge list's edges their ends likewise.
// Open CASCADE's transfer takes the item at its word and reads through the
// null it gets for one the list does not hold.
bool igesListItemsExist(const Handle(Interface_InterfaceModel)& model, std::string& reason)
{
    const auto edgeExists = [](const Handle(IGESData_IGESEntity)& list, int index) {
        const auto edges = Handle(IGESSolid_EdgeList)::DownCast(list);
        return !edges.IsNull() && index >= 1 && index <= edges->NbEdges();
    };
    const auto vertexExists = [](const Handle(IGESSolid_VertexList)& list, int index) {
        return !list.IsNull() && index >= 1 && index <= list->NbVertices();
    };
    for (int i = 1; i <= model->NbEntities(); ++i) {
        bool whole = true;
        if (const auto loop = Handle(IGESSolid_Loop)::DownCast(model->Value(i))) {
            for (int k = 1; whole && k <= loop->NbEdges(); ++k)
                whole = loop->EdgeType(k) == 0
                            ? edgeExists(loop->Edge(k), loop->ListIndex(k))
                            : vertexExists(Handle(IGESSolid_VertexList)::DownCast(loop->Edge(k)), loop->ListIndex(k));
        } else if (const auto edges = Handle(IGESSolid_EdgeList)::DownCast(model->Value(i))) {
            for (int k = 1; whole && k <= edges->NbEdges(); ++k)
                whole = !edges->Curve(k).IsNull() && vertexExists(edges->StartVertexList(k), edges->StartVertexIndex(k)) &&
                        vertexExists(edges->EndVertexList(k), edges->EndVertexIndex(k));
        }
        if (!whole) {
            reason = "damaged: entity " + fileLabel(model, i) + " names an edge or vertex its list does not hold";
            return false;
        }
    }
    return true;
}

// An IGES spline curve or surface whose data Open CASCADE's B-spline
// constructors would refuse: its transfer builds the spline as read and the
// constructor throws after allocating, so what it allocated leaked at every
// read of the file. A degree beyond what those constructors take, knots that
// fall or are not finite, a weight that is not positive or a control point
// that is not finite is damage.
bool igesSplinesSound(const Handle(Interface_InterfaceModel)& model, std::string& reason)
{
    const auto knotsRise = [](int from, int to, const auto& knot) {
        for (int i = from; i <= to; ++i)
            if (!std::isfinite(knot(i)) || (i > from && knot(i) < knot(i - 1)))
                return false;
        return true;
    };
    const auto finite = [](const gp_Pnt& p) {
        return std::isfinite(p.X()) && std::isfinite(p.Y()) && std::isfinite(p.Z());
    };
    const auto positive = [](double w) { return std::isfinite(w) && w > 1e-300; };
    const int maxDegree = Geom_BSplineSurface::MaxDegree();
    for (int i = 1; i <= model->NbEntities(); ++i) {
        bool sound = true;
        try {
            if (const auto curve = Handle(IGESGeom_BSplineCurve)::DownCast(model->Value(i))) {
                const int degree = curve->Degree(), last = curve->UpperIndex();
                sound = degree >= 1 && degree <= maxDegree && last >= 1 &&
                        knotsRise(-degree, last + 1, [&](int k) { return curve->Knot(k); });
                for (int k = 0; sound && k <= last; ++k)
                    sound = positive(curve->Weight(k)) && finite(curve->Pole(k));
            } else if (const auto surface = Handle(IGESGeom_BSplineSurface)::DownCast(model->Value(i))) {
                const int du = surface->DegreeU(), dv = surface->DegreeV();
                const int lu = surface->UpperIndexU(), lv = surface->UpperIndexV();
                sound = du >= 1 && du <= maxDegree && dv >= 1 && dv <= maxDegree && lu >= 1 && lv >= 1 &&
                        knotsRise(-du, lu + 1, [&](int k) { return surface->KnotU(k); }) &&
                        knotsRise(-dv, lv + 1, [&](int k) { return surface->KnotV(k); });
                for (int u = 0; sound && u <= lu; ++u)
                    for (int v = 0; sound && v <= lv; ++v)
                        sound = positive(surface->Weight(u, v)) && finite(surface->Pole(u, v));
            }
        } catch (const Standard_Failure&) {
            sound = false; // an index past what the entity holds
        }
        if (!sound) {
            reason = "damaged: entity " + fileLabel(model, i) +
                     " is a spline whose degree, knots, weights or control points no spline may have";
            return false;
        }
    }
    return true;
}

// A STEP spline lists each distinct knot once, with its multiplicity, so
// its knots rise. One whose knots repeat or fall (a writer's knots a
// rounding apart printed as one) is damage, and so is a spline marked
// closed whose knots span next to nothing (a millionth of their size):
// Open CASCADE's transfer made such a spline periodic and looped for ever,
// a period at a time, bringing a parameter into its period.
bool stepKnotsRise(const Handle(Interface_InterfaceModel)& model, std::string& reason)
{
    const char* fault = nullptr;
    const auto rise = [&fault](const Handle(TColStd_HArray1OfReal)& knots, StepData_Logical closed) {
        if (knots.IsNull() || knots->Length() < 1)
            return true; // the reader's own check judges a missing list
        for (int i = knots->Lower(); i <= knots->Upper(); ++i)
            if (!std::isfinite(knots->Value(i)) || (i > knots->Lower() && !(knots->Value(i) > knots->Value(i - 1)))) {
                fault = " is a spline whose knots do not rise (a knot listed twice, or one below the one before)";
                return false;
            }
        const double first = knots->First(), last = knots->Last();
        if (closed != StepData_LFalse && !(last - first > 1e-6 * std::max({1.0, std::abs(first), std::abs(last)}))) {
            fault = " is a spline marked closed whose knots span next to nothing";
            return false;
        }
        return true;
    };
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const Handle(Standard_Transient)& entity = model->Value(i);
        bool sound = true;
        if (const auto curve = Handle(StepGeom_BSplineCurveWithKnots)::DownCast(entity))
            sound = rise(curve->Knots(), curve->ClosedCurve());
        else if (const auto rational = Handle(StepGeom_BSplineCurveWithKnotsAndRationalBSplineCurve)::DownCast(entity))
            sound = rational->BSplineCurveWithKnots().IsNull() || rise(rational->Knots(), rational->ClosedCurve());
        else if (const auto surface = Handle(StepGeom_BSplineSurfaceWithKnots)::DownCast(entity))
            sound = rise(surface->UKnots(), surface->UClosed()) && rise(surface->VKnots(), surface->VClosed());
        else if (const auto both = Handle(StepGeom_BSplineSurfaceWithKnotsAndRationalBSplineSurface)::DownCast(entity))
            sound = both->BSplineSurfaceWithKnots().IsNull() ||
                    (rise(both->UKnots(), both->UClosed()) && rise(both->VKnots(), both->VClosed()));
        if (!sound) {
            reason = "damaged: entity " + fileLabel(model, i) + fault;
            return false;
        }
    }
    return true;
}

// Whether a pcurve on a surface whose first parameter is an angle (a
// cylinder, cone, sphere, torus or surface of revolution) keeps its points'
// angles within 10,000 radians: Open CASCADE's transfer projects onto the
// pcurve span by span of its parameter, for ever at billions of turns out.
bool pcurveTurnsPlausible(const Handle(StepGeom_Pcurve)& pcurve)
{
    const Handle(StepGeom_Surface) basis = pcurve->BasisSurface();
    const bool angular = !basis.IsNull() && !basis->IsKind(STANDARD_TYPE(StepGeom_Plane)) &&
                         (basis->IsKind(STANDARD_TYPE(StepGeom_ElementarySurface)) ||
                          basis->IsKind(STANDARD_TYPE(StepGeom_SurfaceOfRevolution)));
    const Handle(StepRepr_DefinitionalRepresentation) curve = pcurve->ReferenceToCurve();
    if (!angular || curve.IsNull())
        return true;
    const auto near = [](const Handle(StepGeom_CartesianPoint)& p) {
        return p.IsNull() || p->NbCoordinates() < 1 || std::abs(p->CoordinatesValue(1)) <= 1e4;
    };
    for (int k = 1; k <= curve->NbItems(); ++k) {
        const Handle(StepRepr_RepresentationItem) item = curve->ItemsValue(k);
        if (const auto line = Handle(StepGeom_Line)::DownCast(item)) {
            if (!near(line->Pnt()))
                return false;
        } else if (const auto spline = Handle(StepGeom_BSplineCurve)::DownCast(item)) {
            for (int c = 1; c <= spline->NbControlPointsList(); ++c)
                if (!near(spline->ControlPointsListValue(c)))
                    return false;
        }
    }
    return true;
}

// Where a reader's syntax failure lies, from its own text ("... Line 325:
// ...", "... at line 57 in section P ..."): the line, or the header where
// it names none. Its words are not passed on: the refusal says what was
// wrong in ours.
std::string readerFailurePlace(std::string_view said)
{
    for (const std::string_view mark : {"Line ", "line "})
        for (std::size_t at = said.find(mark); at != std::string_view::npos; at = said.find(mark, at + 1)) {
            std::size_t end = at + mark.size();
            while (end < said.size() && std::isdigit(static_cast<unsigned char>(said[end])))
                ++end;
            if (end > at + mark.size())
                return "line " + std::string(said.substr(at + mark.size(), end - at - mark.size()));
        }
    if (const std::size_t at = said.find('#'); at != std::string_view::npos && at + 1 < said.size() &&
                                               std::isdigit(static_cast<unsigned char>(said[at + 1]))) {
        std::size_t end = at + 1;
        while (end < said.size() && std::isdigit(static_cast<unsigned char>(said[end])))
            ++end;
        return "instance " + std::string(said.substr(at, end - at));
    }
    return "its header (the lines before its data)";
}

// What a reader's check found, in our words (the reader's own text names
// its classes and internals): `otherwise` where it is none of these.
std::string readerFailureWords(std::string_view said, const char* otherwise)
{
    if (said.find("nresolved") != std::string_view::npos)
        return "it refers to an entity the file does not hold";
    if (said.find("SEVERAL TIMES") != std::string_view::npos || said.find("several times") != std::string_view::npos)
        return "it is defined more than once";
    return otherwise;
}

// Whether an entity is an IGES solid of no shell and no voids, whose one
// failure is that it has no shell: the peer's writer writes an empty solid
// so, and the peer's reader takes it as nothing (a shell pointer that names
// no shell is refused before its parser runs).
bool emptySolid(const Handle(Standard_Transient)& entity, const Handle(Interface_Check)& check)
{
    const Handle(IGESSolid_ManifoldSolid) solid = Handle(IGESSolid_ManifoldSolid)::DownCast(entity);
    return !solid.IsNull() && solid->Shell().IsNull() && solid->NbVoidShells() == 0 && !check.IsNull() &&
           check->NbFails() == 1;
}

// The reader's model checked before anything is transferred from it: no
// entity it could not read, no failed check, and no entity that reaches
// itself through its references (the transfer follows them by recursion, so
// a cycle would never end). False with `reason`.
bool readWhole(const Handle(Interface_InterfaceModel)& model, const Handle(Interface_Protocol)& protocol,
               std::string& reason)
{
    // A model of no entities (a file cut short before its data) is nothing
    // to take: the reader's graph of references cannot even be made of it.
    if (model->NbEntities() == 0) {
        reason = "damaged: its directory or data section holds no entity";
        return false;
    }
    const Handle(Interface_Check)& global = model->GlobalCheck(Standard_True);
    if (!global.IsNull() && global->HasFailed()) {
        const std::string_view said = global->CFail(1);
        reason = "damaged: " + readerFailurePlace(said) + ": " +
                 readerFailureWords(said, "the text does not follow the format's syntax");
        return false;
    }
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const Handle(Interface_Check)& check = model->Check(i, Standard_True);
        if ((model->IsErrorEntity(i) || (!check.IsNull() && check->HasFailed())) &&
            !emptySolid(model->Value(i), check)) {
            reason = "damaged: entity " + fileLabel(model, i) + ": " +
                     readerFailureWords(!check.IsNull() && check->NbFails() > 0 ? check->CFail(1) : "",
                                        "its parameters are not those its type takes");
            return false;
        }
    }
    // A STEP point farther out than any model on one of its axes
    // (model_extent.hxx): the kernel takes it in and then cannot save what
    // its tolerances became, nor can the writers' tolerances resolve it.
    // A point of a pcurve (two coordinates) is one of parameters
    // (MaxParameterCoordinate).
    for (int i = 1; i <= model->NbEntities(); ++i)
        if (const auto point = Handle(StepGeom_CartesianPoint)::DownCast(model->Value(i))) {
            const int n = point->NbCoordinates();
            for (int k = 1; k <= n; ++k) {
                const double value = point->CoordinatesValue(k);
                if (n == 3 && !(std::abs(value) <= MaxModelCoordinate)) {
                    double xyz[3] = {0.0, 0.0, 0.0};
                    xyz[k - 1] = value;
                    reason = "damaged: entity " + fileLabel(model, i) + ": a point at " + coordinateBeyondAnyModel(xyz);
                    return false;
                }
                if (!(std::abs(value) <= MaxParameterCoordinate)) {
                    std::ostringstream text;
                    text << value;
                    reason = "damaged: entity " + fileLabel(model, i) + ": a coordinate " + text.str() + ", beyond any model";
                    return false;
                }
            }
        }
    // A STEP loop, face or shell names each of its parts once: one listed
    // many times over (an edge thousands of times in one loop) sends the
    // reader's healing into work that grows with a power of the count.
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const Handle(Standard_Transient)& entity = model->Value(i);
        std::unordered_set<const Standard_Transient*> parts;
        int listed = 0;
        if (const auto loop = Handle(StepShape_EdgeLoop)::DownCast(entity)) {
            for (int k = 1; k <= loop->NbEdgeList(); ++k, ++listed)
                parts.insert(loop->EdgeListValue(k).get());
        } else if (const auto face = Handle(StepShape_Face)::DownCast(entity)) {
            for (int k = 1; k <= face->NbBounds(); ++k, ++listed)
                parts.insert(face->BoundsValue(k).get());
        } else if (const auto set = Handle(StepShape_ConnectedFaceSet)::DownCast(entity)) {
            for (int k = 1; k <= set->NbCfsFaces(); ++k, ++listed)
                parts.insert(set->CfsFacesValue(k).get());
        } else if (const auto model_ = Handle(StepShape_ShellBasedSurfaceModel)::DownCast(entity)) {
            // A shell listed thousands of times: the transfer made a shell
            // of each and sewed them, for longer than any limit.
            for (int k = 1; k <= model_->NbSbsmBoundary(); ++k, ++listed)
                parts.insert(model_->SbsmBoundaryValue(k).Value().get());
        } else if (const auto faces = Handle(StepShape_FaceBasedSurfaceModel)::DownCast(entity)) {
            if (const Handle(StepShape_HArray1OfConnectedFaceSet) sets = faces->FbsmFaces())
                for (int k = sets->Lower(); k <= sets->Upper(); ++k, ++listed)
                    parts.insert(sets->Value(k).get());
        } else if (const auto solid = Handle(StepShape_BrepWithVoids)::DownCast(entity)) {
            for (int k = 1; k <= solid->NbVoids(); ++k, ++listed)
                parts.insert(solid->VoidsValue(k).get());
        }
        if (static_cast<int>(parts.size()) != listed) {
            reason = "damaged: entity " + fileLabel(model, i) + " lists one of its parts more than once";
            return false;
        }
        // A direction of fewer than two ratios ("()"): the reader leaves its
        // list null and the session's check of it reads through the null.
        if (const auto direction = Handle(StepGeom_Direction)::DownCast(entity);
            !direction.IsNull() && (direction->DirectionRatios().IsNull() || direction->DirectionRatios()->Length() < 2)) {
            reason = "damaged: entity " + fileLabel(model, i) + ": a direction of fewer than two ratios";
            return false;
        }
        // A surface curve (a seam or an intersection curve too) names the
        // pcurves or surfaces it lies on: one whose list is empty ("()")
        // sent Open CASCADE's transfer of its edge through a null (the
        // process ended).
        if (const auto onSurface = Handle(StepGeom_SurfaceCurve)::DownCast(entity)) {
            const Handle(StepGeom_HArray1OfPcurveOrSurface) on = onSurface->AssociatedGeometry();
            if (on.IsNull() || on->Length() < 1) {
                reason = "damaged: entity " + fileLabel(model, i) +
                         " is a surface curve that names no pcurve or surface it lies on";
                return false;
            }
        }
        // A pcurve whose representation holds no curve, or first something
        // else (a point) where its transfer takes the curve: Open CASCADE's
        // transfer of its face failed part way, and the 2-D splines it had
        // made for the face's other edges leaked.
        if (const auto pcurve = Handle(StepGeom_Pcurve)::DownCast(entity)) {
            const Handle(StepRepr_DefinitionalRepresentation) curve = pcurve->ReferenceToCurve();
            if (curve.IsNull() || curve->NbItems() == 0 || curve->ItemsValue(1).IsNull() ||
                !curve->ItemsValue(1)->IsKind(STANDARD_TYPE(StepGeom_Curve))) {
                reason = "damaged: entity " + fileLabel(model, i) + " is a pcurve whose representation holds no curve";
                return false;
            }
            if (!pcurveTurnsPlausible(pcurve)) {
                reason = "damaged: entity " + fileLabel(model, i) +
                         " is a pcurve more turns round its surface than any model makes";
                return false;
            }
        }
    }
    if (!assemblyNestingPlausible(model, reason) || !igesListItemsExist(model, reason) ||
        !igesSplinesSound(model, reason) || !stepKnotsRise(model, reason))
        return false;
    // References followed depth first without recursion: an entity met again
    // while it is still being followed closes a cycle. The longest chain of
    // references from each entity is bounded too: the reader's transfer and
    // its checks follow a chain by recursion (a composite curve of a
    // composite curve of ...), one stack frame or more a link.
    const Interface_Graph graph(model, protocol);
    const int count = model->NbEntities();
    std::vector<char> state(static_cast<std::size_t>(count) + 1, 0); // 1 being followed, 2 done
    std::vector<int> chain(static_cast<std::size_t>(count) + 1, 0);  // longest chain from a done entity
    struct Step {
        int entity;
        Interface_EntityIterator next;
        int deepest = 0; // the longest chain among the references followed so far
    };
    std::vector<Step> path;
    for (int root = 1; root <= count; ++root) {
        if (state[root])
            continue;
        state[root] = 1;
        path.push_back({root, graph.Shareds(model->Value(root))});
        while (!path.empty()) {
            Interface_EntityIterator& next = path.back().next;
            if (!next.More()) {
                const int done = path.back().entity;
                state[done] = 2;
                chain[done] = path.back().deepest + 1;
                path.pop_back();
                if (chain[done] > MaxReferenceChain) {
                    reason = "damaged: entity " + fileLabel(model, done) + " begins a chain of more than " +
                             std::to_string(MaxReferenceChain) + " references, deeper than any model nests";
                    return false;
                }
                if (!path.empty())
                    path.back().deepest = std::max(path.back().deepest, chain[done]);
                continue;
            }
            const int n = graph.EntityNumber(next.Value());
            next.Next();
            if (n <= 0 || n > count)
                continue;
            if (state[n] == 2) {
                path.back().deepest = std::max(path.back().deepest, chain[n]);
                continue;
            }
            if (state[n] == 1) {
                reason = "damaged: entity " + fileLabel(model, n) + " refers to itself through its references";
                return false;
            }
            state[n] = 1;
            path.push_back({n, graph.Shareds(model->Value(n))});
        }
    }
    return true;
}

// What is wrong with a field that reads as a real number (IGES writes its
// exponent with D or E), or null: Open CASCADE's readers take "1.E999" as
// infinite, and their curve constructions and transfers then loop for ever
// on such a coordinate; one near the largest real overflows in their
// healing, which then leaks what it had made. No model reaches 1e100. A
// field that is no number passes (the readers judge it).
// A word that reads as a real that is not finite: "inf", "infinity" or
// "nan" in any case, signed or not (strtod and the readers' own parsers take
// them; a curve built on one hangs the readers' trimming).
bool nonFiniteWord(std::string_view word)
{
    if (!word.empty() && (word[0] == '+' || word[0] == '-'))
        word.remove_prefix(1);
    if (word.size() < 3)
        return false;
    std::string head(word.substr(0, 3));
    for (char& c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return head == "inf" || head == "nan";
}

const char* realProblem(std::string field)
{
    if (nonFiniteWord(field))
        return "that is not a finite number";
    for (char& c : field)
        if (c == 'D' || c == 'd')
            c = 'E';
    if (field.empty() || field.find_first_not_of("0123456789.+-Ee") != std::string::npos)
        return nullptr;
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (end != field.c_str() + field.size())
        return nullptr;
    if (!std::isfinite(value))
        return "that is not a finite number";
    return std::abs(value) > 1e100 ? "beyond any model" : nullptr;
}

// The line of a text's offset, counted from 1.
long lineAt(const std::string& text, std::size_t at)
{
    return 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(at, text.size())), '\n'));
}

// Where an offset of a STEP file's text lies: the instance it is in ("#12")
// when one starts before it on the way back, and the line.
std::string stepPlace(const std::string& text, std::size_t at)
{
    const std::string line = "line " + std::to_string(lineAt(text, at));
    std::size_t from = std::min(at, text.size());
    while (from > 0 && text[from - 1] != ';')
        --from;
    while (from < text.size() && std::isspace(static_cast<unsigned char>(text[from])))
        ++from;
    if (from < at && text[from] == '#') {
        std::size_t end = from + 1;
        while (end < at && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end > from + 1)
            return "instance " + text.substr(from, end - from) + " (" + line + ")";
    }
    return line;
}

// Where a STEP text that its reader could not read first goes wrong: the
// header it must start with, then each instance of its data section
// ("#<n>=" and a record whose parentheses close before its ";"). Empty
// when nothing is found so.
std::string stepUnreadablePlace(const std::string& text)
{
    std::size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string::npos || text.compare(at, 12, "ISO-10303-21") != 0)
        return "line 1: it does not start with ISO-10303-21";
    const std::size_t data = text.find("DATA;");
    if (data == std::string::npos)
        return "its data section is missing (no line reads DATA;)";
    at = data + 5;
    while (true) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos)
            return stepPlace(text, text.size()) + ": the data section does not end";
        if (text.compare(at, 7, "ENDSEC;") == 0)
            return {};
        if (text.compare(at, 2, "/*") == 0) {
            const std::size_t close = text.find("*/", at + 2);
            if (close == std::string::npos)
                return "line " + std::to_string(lineAt(text, at)) + ": a comment that does not end";
            at = close + 2;
            continue;
        }
        std::size_t end = at + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        const std::size_t eq = text.find_first_not_of(" \t\r\n", end);
        if (text[at] != '#' || end == at + 1 || eq == std::string::npos || text[eq] != '=')
            return "line " + std::to_string(lineAt(text, at)) + ": something other than an instance (#<n>=...;)";
        const std::string id = text.substr(at, end - at);
        int depth = 0;
        bool quoted = false, opened = false;
        std::size_t k = eq + 1;
        for (; k < text.size(); ++k) {
            const char c = text[k];
            if (quoted) {
                quoted = c != '\'';
            } else if (c == '\'') {
                quoted = true;
            } else if (c == '(') {
                ++depth, opened = true;
            } else if (c == ')') {
                if (--depth < 0)
                    break;
            } else if (c == ';') {
                break;
            }
        }
        if (k >= text.size() || text[k] != ';' || depth != 0 || !opened)
            return "instance " + id + " (line " + std::to_string(lineAt(text, at)) + ") is not a whole record";
        at = k + 1;
    }
}

// Whether every real number of a STEP file's text (outside its strings and
// comments) is one a model may hold: see realProblem. False with `reason`.
bool stepRealsFinite(const std::string& path, std::string& reason)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto numeric = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; };
    // The instances met ("#12=" after a ';'): one defined twice is refused
    // here, as the peer's parser, numbering its entities, reads memory it
    // never set for the second (an unoptimised build once hung there).
    std::unordered_set<std::string_view> instances;
    char last = 0; // the last character outside strings and comments, not a space
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        if (!std::isspace(static_cast<unsigned char>(c)) && !(c == '/' && at + 1 < text.size() && text[at + 1] == '*')) {
            if (c == '#' && last == ';') {
                std::size_t end = at + 1;
                while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
                    ++end;
                const std::size_t eq = text.find_first_not_of(" \t\r\n", end);
                if (end > at + 1 && eq != std::string::npos && text[eq] == '=' &&
                    !instances.insert(std::string_view(text).substr(at, end - at)).second) {
                    reason = "damaged: instance " + text.substr(at, end - at) + " (line " +
                             std::to_string(lineAt(text, at)) + "): it is defined more than once";
                    return false;
                }
            }
            last = c;
        }
        if (c == '\'') { // a string; '' inside it is a quote
            at = text.find('\'', at + 1);
            while (at != std::string::npos && at + 1 < text.size() && text[at + 1] == '\'')
                at = text.find('\'', at + 2);
            at = at == std::string::npos ? text.size() : at + 1;
        } else if (c == '/' && at + 1 < text.size() && text[at + 1] == '*') {
            at = text.find("*/", at + 2);
            at = at == std::string::npos ? text.size() : at + 2;
        } else if (std::isdigit(static_cast<unsigned char>(c)) &&
                   (at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '#' ||
                                 text[at - 1] == '_' || text[at - 1] == '.'))) {
            std::size_t end = at;
            while (end < text.size() && (numeric(text[end]) || text[end] == 'E' || text[end] == 'e' ||
                                         ((text[end] == '+' || text[end] == '-') &&
                                          (text[end - 1] == 'E' || text[end - 1] == 'e'))))
                ++end;
            const std::string number = (at > 0 && text[at - 1] == '-' ? "-" : "") + text.substr(at, end - at);
            if (const char* why = number.find('.') != std::string::npos ? realProblem(number) : nullptr) {
                reason = "damaged: " + stepPlace(text, at) + ": a real " + number.substr(0, 24) + " " + why;
                return false;
            }
            at = end;
        } else if (std::isalpha(static_cast<unsigned char>(c)) &&
                   (at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_' ||
                                 text[at - 1] == '.' || text[at - 1] == '#'))) {
            // A word outside a string: a type name, or a real written as a
            // word no STEP writer uses ("inf", "NaN").
            std::size_t end = at;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
                ++end;
            std::string word = text.substr(at, std::min<std::size_t>(end - at, 9));
            for (char& w : word)
                w = static_cast<char>(std::tolower(static_cast<unsigned char>(w)));
            if (word == "inf" || word == "infinity" || word == "nan") {
                reason = "damaged: " + stepPlace(text, at) + ": a real " + text.substr(at, end - at) +
                         " that is not a finite number";
                return false;
            }
            at = end;
        } else {
            ++at;
        }
    }
    return true;
}

} // namespace

bool readChecked(const Handle(XSControl_WorkSession)& session, const std::string& path, const char* kind,
                 std::string& reason)
{
    if (std::string_view(kind) == "STEP" && !stepRealsFinite(path, reason))
        return false;
    Handle(Interface_InterfaceModel) model;
    if (session->WorkLibrary()->ReadFile(path.c_str(), model, session->Protocol()) != 0 || model.IsNull()) {
        reason = std::string("not a readable ") + kind + " file";
        if (std::string_view(kind) == "STEP") {
            std::ifstream in(path, std::ios::binary);
            const std::string where =
                stepUnreadablePlace({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
            reason += ": " + (where.empty() ? std::string("its header section (lines before DATA;)") : where);
        }
        return false;
    }
    if (!readWhole(model, session->Protocol(), reason))
        return false;
    // The session checks every entity as it takes the model; a check can
    // fault on what the reader left unfilled (a direction of no ratios), and
    // the entity it faulted on is then found by checking each alone.
    try {
        session->SetModel(model);
    } catch (const Standard_Failure&) {
        Interface_CheckTool tool(model, session->Protocol());
        for (int i = 1; i <= model->NbEntities(); ++i)
            try {
                tool.Check(i);
            } catch (const Standard_Failure&) {
                reason = "damaged: entity " + fileLabel(model, i) + ": its parameters are not those its type takes";
                return false;
            }
        reason = "damaged: its entities cannot be checked, though each can alone";
        return false;
    }
    session->SetLoadedFile(path.c_str());
    session->InitTransferReader(4); // as the reader's own ReadFile leaves it
    return true;
}

namespace {

// Open CASCADE's BREP and geometry readers tell what they could not read on
// standard output ("Not a Curve table"), past its message system: while one
// of these lives that text goes nowhere, since a program's standard output
// carries its own results (the refusal says what was wrong).
class QuietStandardOutput {
public:
    QuietStandardOutput() : m_saved(std::cout.rdbuf(&m_nowhere)) {}
    ~QuietStandardOutput() { std::cout.rdbuf(m_saved); }
    QuietStandardOutput(const QuietStandardOutput&) = delete;
    QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

private:
    struct Nowhere : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    } m_nowhere;
    std::streambuf* m_saved;
};

constexpr long long NotAnInteger = -(1LL << 62);

// Whether an IGES spline record (curve 126, surface 128) has the degree and
// the values its counts ask for: Open CASCADE's parameter reader leaves an
// array it could not fill null and builds the entity over it, reading
// through the null. `head` holds the record's first fields (its type
// first), `fields` how many it has. Other records pass.
bool splineCountsFilled(const std::vector<long long>& head, long long fields)
{
    const auto at = [&](std::size_t i) { return i < head.size() ? head[i] : NotAnInteger; };
    const auto degree = [](long long m) { return m >= 1 && m <= 25; };
    if (at(0) == 126) {
        // Type, K, M, four flags, K+M+2 knots, K+1 weights, K+1 points, two ends.
        const long long k = at(1), m = at(2);
        return k >= 1 && degree(m) && fields >= 7 + (k + m + 2) + 4 * (k + 1) + 2;
    }
    if (at(0) == 128) {
        // Type, K1, K2, M1, M2, five flags, both knot lists, weights, points, four ends.
        const long long k1 = at(1), k2 = at(2), m1 = at(3), m2 = at(4);
        return k1 >= 1 && k2 >= 1 && degree(m1) && degree(m2) &&
               fields >= 10 + (k1 + m1 + 2) + (k2 + m2 + 2) + 4 * (k1 + 1) * (k2 + 1) + 4;
    }
    return true;
}

// The IGES B-rep entities (vertex and edge lists, loop, face, shell, solid)
// hold numbers and pointers only.
bool holdsNoText(long long type)
{
    return type == 502 || type == 504 || type == 508 || type == 510 || type == 514 || type == 186;
}

// What is wrong with an IGES B-rep record (solid 186, shell 514, face 510,
// loop 508, edge list 504, vertex list 502), or null. `record` holds every
// field (a real as NotAnInteger), `types` each directory entry's type by
// its first line. Open CASCADE's parameter reader takes their counts and
// pointers at their word: a face of no loops (or a count of -1), or an
// edge list whose curve is the face above it (a cycle of references), left
// what it had read of the entities unreleased, and a pointer of 0, an even
// one or one past the directory had it ask a null for its kind. So each
// count is at least one and filled by the fields after it, and each
// pointer names an entry of the kind its place takes: a face's loops are
// loops, a loop's lists edge or vertex lists, a curve or surface no B-rep
// entity. Other records pass.
const char* brepRecordProblem(const std::vector<long long>& record, const std::unordered_map<long long, long long>& types)
{
    if (record.empty() || !holdsNoText(record[0]))
        return nullptr;
    const auto at = [&](std::size_t i) { return i < record.size() ? record[i] : NotAnInteger; };
    const auto typeAt = [&](long long pointer) {
        const auto found = pointer > 0 && pointer % 2 == 1 ? types.find(pointer) : types.end();
        return found == types.end() ? 0LL : found->second;
    };
    // A pointer to an entry of type `type`, or (type 0) to a curve or surface: no B-rep entity.
    const auto names = [&](std::size_t i, long long type) {
        const long long found = typeAt(at(i));
        return type ? found == type : found != 0 && !holdsNoText(found);
    };
    const long long count = at(1);
    const auto filled = [&](std::size_t first, std::size_t per) {
        return count >= 1 && count <= static_cast<long long>(record.size()) &&
               record.size() >= first + per * static_cast<std::size_t>(count);
    };
    switch (record[0]) {
    case 502: // vertex list: count, three coordinates each
        return filled(2, 3) ? nullptr : "a vertex list whose count its coordinates do not fill";
    case 504: // edge list: count, then curve, start list and index, end list and index each
        if (!filled(2, 5))
            return "an edge list whose count its edges do not fill";
        for (std::size_t e = 2; e + 5 <= 2 + 5 * static_cast<std::size_t>(count); e += 5)
            if (!names(e, 0) || !names(e + 1, 502) || !names(e + 3, 502))
                return "an edge list naming something other than a curve or vertex list where one belongs";
        return nullptr;
    case 508: { // loop: count, then type, list, index, orientation, pcurve count and pcurves each
        if (!(count >= 1 && count <= static_cast<long long>(record.size())))
            return "a loop whose count of edges is not one or more";
        std::size_t e = 2;
        for (long long k = 0; k < count; ++k) {
            if (e + 5 > record.size() || at(e + 4) < 0 || at(e + 4) > static_cast<long long>(record.size()) ||
                !names(e + 1, at(e) == 1 ? 502 : 504))
                return "a loop whose edges do not each name the list they are in";
            // Each pcurve (after its flag) none or a curve.
            for (std::size_t p = e + 6; p < e + 5 + 2 * static_cast<std::size_t>(at(e + 4)); p += 2)
                if (p < record.size() && at(p) != 0 && !names(p, 0))
                    return "a loop naming something other than a curve where a pcurve belongs";
            e += 5 + 2 * static_cast<std::size_t>(at(e + 4));
        }
        return e <= record.size() ? nullptr : "a loop whose edges do not each name the list they are in";
    }
    case 510: { // face: surface, loop count, outer flag, loops
        const long long loops = at(2);
        if (!names(1, 0))
            return "a face naming something other than a surface";
        if (!(loops >= 1 && loops <= static_cast<long long>(record.size()) &&
              record.size() >= 4 + static_cast<std::size_t>(loops)))
            return "a face whose count of loops is not one or more, or its loops do not fill";
        for (std::size_t k = 4; k < 4 + static_cast<std::size_t>(loops); ++k)
            if (!names(k, 508))
                return "a face naming something other than a loop where a loop belongs";
        return nullptr;
    }
    case 514: // shell: count, then face and orientation each
        if (!filled(2, 2))
            return "a shell whose count of faces its faces do not fill";
        for (std::size_t k = 2; k < 2 + 2 * static_cast<std::size_t>(count); k += 2)
            if (!names(k, 510))
                return "a shell naming something other than a face where a face belongs";
        return nullptr;
    case 186: { // solid: shell, orientation, void count, then void shell and orientation each
        // A shell pointer of 0 is a solid of no shell: the peer's writer
        // writes an empty solid so (one of the sample models holds one), and
        // its reader reads it as nothing.
        const long long voids = at(3);
        if (!(at(1) == 0 || names(1, 514)) || !(voids >= 0 && voids <= static_cast<long long>(record.size())) ||
            record.size() < 4 + 2 * static_cast<std::size_t>(voids))
            return "a solid whose shells are not shells or whose count of voids they do not fill";
        for (std::size_t k = 4; k < 4 + 2 * static_cast<std::size_t>(voids); k += 2)
            if (!names(k, 514))
                return "a solid whose shells are not shells or whose count of voids they do not fill";
        return nullptr;
    }
    }
    return nullptr;
}

// Open CASCADE's IGES reader takes a count in the parameter data at its
// word: it reads (and reports missing) that many items, or makes an array
// of that many, before it finds the data short. No count or pointer of a
// file can exceed the number of its bytes, so an integer parameter beyond
// that (and beyond any integer a real might be written as) is damage,
// refused before the reader runs. So is a directory entry that no
// parameter line names (a file cut short in its parameter data): the
// reader builds such an entity of no parameters, and its spline builder
// read through the arrays it never made. The reader gives an entity the
// parameter lines that name it, so the records are judged by those lines,
// and a line that names no entry is damage (a number that pushed a line's
// pointer out of its columns left a spline short of the values the check
// had counted for it).
// Whether the pointers of an IGES directory name entries of the kinds they
// take: the structure any entry, a line font (negative) a line font
// definition (304), a level (negative) a definition levels property (406),
// a view a view (410) or views visible (402), a transformation a
// transformation matrix (124), a label display an associativity (402), a
// colour (negative) a colour definition (314); each odd, within the
// directory, and not the entry itself. A transformation names a chain of
// matrices that ends. Open CASCADE's reader takes them at their word: a
// level naming the shell above it closed a cycle of references, and what
// the reader had made of its entities was never released.
template <class Spans>
bool igesDirectoryPointersSound(const Spans& spans, const std::unordered_map<long long, long long>& types,
                                std::string& reason)
{
    static const char* const names[7] = {"structure", "line font", "level", "view", "transformation", "label display",
                                         "colour"};
    // Which sign makes a field a pointer (the other is a number or none),
    // and the types it may name (none: any).
    static const int pointerSign[7] = {-1, -1, -1, 1, 1, 1, -1};
    static const std::vector<long long> kinds[7] = {{}, {304}, {406}, {410, 402}, {124}, {402}, {314}};
    const auto typeOf = [&](long long entry) {
        const auto found = types.find(entry);
        return found == types.end() ? -1LL : found->second;
    };
    std::unordered_map<long long, long long> transformOf;
    for (const auto& span : spans) {
        for (int f = 0; f < 7; ++f) {
            const long long value = span.pointers[f];
            if (value == 0 || (value > 0) != (pointerSign[f] > 0))
                continue;
            const long long target = value < 0 ? -value : value;
            const long long type = typeOf(target);
            const bool kind = kinds[f].empty() ? type > 0
                                               : std::find(kinds[f].begin(), kinds[f].end(), type) != kinds[f].end();
            if (target % 2 == 0 || target == span.entry || !kind) {
                reason = "damaged: directory entry D" + std::to_string(span.entry) + ": its " + names[f] +
                         " field names D" + std::to_string(target) + ", which is not an entry of the kind it takes";
                return false;
            }
            if (f == 4)
                transformOf[span.entry] = target;
        }
    }
    for (const auto& [entry, first] : transformOf) {
        long long at = first;
        for (std::size_t steps = 0; at != 0; ++steps) {
            if (steps > transformOf.size()) {
                reason = "damaged: directory entry D" + std::to_string(entry) +
                         ": its chain of transformations runs back into itself";
                return false;
            }
            const auto next = transformOf.find(at);
            at = next == transformOf.end() ? 0 : next->second;
        }
    }
    return true;
}

// The directory entries an IGES record of a kind that gathers others names
// by pointer (`fields` every field of its record, a real or a text as
// NotAnInteger; `form` its entry's form): a composite curve's curves
// (102), a curve on a surface's surface and curves (142), a trimmed
// surface's surface and bounds (144), a boundary's surface, curves and
// their pcurves (141), a bounded surface's surface and boundaries (143), a
// subfigure definition's members (308), a subfigure instance's definition
// (408), a group associativity's members (402, forms 1, 7, 14 and 15).
// Pointers are returned as written; what they name is judged by the caller.
// A text (nH...) is skipped whole and leaves an empty field in its place.
std::vector<long long> igesGatheredPointers(const std::vector<long long>& fields, long long form)
{
    std::vector<long long> out;
    const auto at = [&](std::size_t i) { return i < fields.size() ? fields[i] : NotAnInteger; };
    const auto run = [&](std::size_t first, long long count) {
        for (long long k = 0; k < count && first + static_cast<std::size_t>(k) < fields.size(); ++k)
            out.push_back(at(first + static_cast<std::size_t>(k)));
    };
    switch (fields.empty() ? 0 : fields[0]) {
    case 102: // count, curves
        run(2, at(1));
        break;
    case 142: // creation, surface, pcurve, curve, preference
        run(2, 3);
        break;
    case 144: // surface, outer flag, inner count, outer bound, inner bounds
        out.push_back(at(1));
        run(4, 1 + std::max(0LL, at(3)));
        break;
    case 141: { // type, preference, surface, count, then curve, sense, pcurve count and pcurves each
        out.push_back(at(3));
        std::size_t i = 5;
        for (long long k = 0; k < at(4) && i < fields.size(); ++k) {
            out.push_back(at(i));
            const long long pcurves = std::max(0LL, at(i + 2));
            run(i + 3, pcurves);
            i += 3 + static_cast<std::size_t>(pcurves);
        }
        break;
    }
    case 143: // type, surface, count, bounds
        out.push_back(at(2));
        run(4, at(3));
        break;
    case 308: // depth, name (a text leaves an empty field), count, members
        run(4, at(3));
        break;
    case 408: // definition, place, scale
        out.push_back(at(1));
        break;
    case 402:
        if (form == 1 || form == 7 || form == 14 || form == 15)
            run(2, at(1));
        break;
    }
    return out;
}

bool igesIntegersPlausible(const std::string& path, std::string& reason)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    char delimiter = ',', end = ';';
    bool global = true;
    long long entryLines = 0, parameterLines = 0; // of the directory and parameter sections
    std::vector<long long> entries; // the first line of each entry of a type other than the null one
    std::unordered_map<long long, long long> types; // each entry's type, by its first line
    std::unordered_set<long long> named; // the entries parameter lines name
    // The parameter data of each entry, as the reader gathers it: by the
    // entry its lines name (columns 65 to 72), not by where a record ends.
    std::map<long long, std::string> records;
    std::map<long long, std::vector<long long>> recordLines; // the parameter lines of each, in order
    std::vector<long long> lineEntry;                         // the entry each parameter line names
    std::size_t size = 0;
    // Each entry's parameter lines as its directory entry gives them (its
    // first line's pointer, its second line's count), and the global
    // section's text: the reader copies what these name, unchecked.
    struct Span {
        long long entry, first, lines;
        // The directory's pointer fields: structure, line font, level,
        // view, transformation, label display (first line), colour (second).
        long long pointers[7] = {};
        long long form = 0;
    };
    std::vector<Span> spans;
    std::string globalText;
    while (std::getline(in, line)) {
        const bool firstOfEntry = line.size() >= 73 && line[72] == 'D' && entryLines % 2 == 0;
        if (firstOfEntry) {
            types[entryLines + 1] = std::atoll(line.substr(0, 8).c_str());
            if (types[entryLines + 1] != 0)
                entries.push_back(entryLines + 1);
            spans.push_back({entryLines + 1, std::atoll(line.substr(8, 8).c_str()), 0});
            for (int f = 0; f < 6; ++f)
                spans.back().pointers[f] = std::atoll(line.substr(16 + 8 * static_cast<std::size_t>(f), 8).c_str());
        } else if (line.size() >= 73 && line[72] == 'D' && !spans.empty()) {
            spans.back().pointers[6] = std::atoll(line.substr(16, 8).c_str());
            spans.back().lines = std::atoll(line.substr(24, 8).c_str());
            spans.back().form = std::atoll(line.substr(32, 8).c_str());
        }
        if (line.size() >= 73 && line[72] == 'G')
            globalText.append(line, 0, 72);
        if (line.size() < 73)
            continue;
        if (line[72] == 'P') {
            ++parameterLines;
            const std::string pointer = line.substr(64, 8);
            const long long entry = std::atoll(pointer.c_str());
            // Each line names the first line of a directory entry.
            if (pointer.find_first_not_of(" 0123456789") != std::string::npos || entry <= 0 || entry % 2 == 0 ||
                entry > entryLines) {
                reason = "damaged: parameter line P" + std::to_string(parameterLines) + " names no directory entry";
                return false;
            }
            named.insert(entry);
            records[entry].append(line, 0, 64);
            recordLines[entry].push_back(parameterLines);
            lineEntry.push_back(entry);
            size += 64;
        }
        if (line[72] == 'G' && global) {
            // The global section may name other delimiters ("1H,,1H;").
            if (line.compare(0, 2, "1H") == 0 && line.size() > 2) {
                delimiter = line[2];
                if (line.size() > 7 && line.compare(4, 2, "1H") == 0)
                    end = line[6];
            }
            global = false;
        }
        entryLines += line[72] == 'D';
    }
    // The global section's texts (nH...) lie within it: a file cut short in
    // it had the reader copy a length it never checked.
    for (std::size_t at = 0; at < globalText.size();) {
        std::size_t digits = globalText.find_first_not_of(' ', at);
        std::size_t stop = digits;
        while (stop < globalText.size() && std::isdigit(static_cast<unsigned char>(globalText[stop])))
            ++stop;
        if (stop > digits && stop < globalText.size() && globalText[stop] == 'H') {
            const unsigned long long length = stop - digits > 9 ? ~0ULL : std::stoull(globalText.substr(digits, stop - digits));
            if (length > globalText.size() - stop - 1) {
                reason = "damaged: the global section's text of " + globalText.substr(digits, std::min<std::size_t>(stop - digits, 12)) +
                         " characters at column " + std::to_string(digits % 72 + 1) + " of line G" +
                         std::to_string(digits / 72 + 1) + " runs past its end";
                return false;
            }
            at = stop + 1 + static_cast<std::size_t>(length);
            at = globalText.find_first_of(std::string{delimiter, end}, at);
            at = at == std::string::npos ? globalText.size() : at + 1;
            continue;
        }
        const std::size_t next = globalText.find_first_of(std::string{delimiter, end}, at);
        at = next == std::string::npos ? globalText.size() : next + 1;
    }
    for (const Span& span : spans)
        if (types[span.entry] != 0 && (span.first < 1 || span.lines < 0 || span.first > parameterLines || span.lines > parameterLines - span.first + 1)) {
            reason = "damaged: directory entry D" + std::to_string(span.entry) + " names parameter lines P" +
                     std::to_string(span.first) + " to P" + std::to_string(span.first + std::max(span.lines, 1LL) - 1) +
                     ", past the " + std::to_string(parameterLines) + " the file holds";
            return false;
        }
    if (!igesDirectoryPointersSound(spans, types, reason))
        return false;
    // The lines an entry's directory gives it are the lines that name it:
    // the reader takes the directory's span, so a line repeated or moved
    // elsewhere (naming its entry from outside the span) would be data the
    // check below judged and the reader never sees, or the reverse.
    std::unordered_map<long long, const Span*> spanOf;
    for (const Span& span : spans)
        spanOf[span.entry] = &span;
    for (std::size_t k = 1; k <= lineEntry.size(); ++k) {
        const Span* span = spanOf[lineEntry[k - 1]];
        const long long line = static_cast<long long>(k);
        if (span && types[span->entry] != 0 && (line < span->first || line >= span->first + span->lines)) {
            reason = "damaged: parameter line P" + std::to_string(k) + " names directory entry D" +
                     std::to_string(span->entry) + ", whose lines are P" + std::to_string(span->first) + " to P" +
                     std::to_string(span->first + span->lines - 1);
            return false;
        }
    }
    for (const Span& span : spans) {
        if (types[span.entry] == 0)
            continue;
        for (long long k = span.first; k < span.first + span.lines; ++k)
            if (lineEntry[static_cast<std::size_t>(k - 1)] != span.entry) {
                reason = "damaged: parameter line P" + std::to_string(k) + " names directory entry D" +
                         std::to_string(lineEntry[static_cast<std::size_t>(k - 1)]) + " but lies in the lines of D" +
                         std::to_string(span.entry);
                return false;
            }
        if (static_cast<long long>(recordLines[span.entry].size()) != span.lines) {
            reason = "damaged: directory entry D" + std::to_string(span.entry) + " gives " + std::to_string(span.lines) +
                     " parameter lines from P" + std::to_string(span.first) + " but " +
                     std::to_string(recordLines[span.entry].size()) + " lines name it";
            return false;
        }
    }
    const long long limit = std::max<long long>(100000, static_cast<long long>(size) * 2);
    // The entries each record gathers by pointer (see igesGatheredPointers).
    std::map<long long, std::vector<long long>> gathers;
    for (const auto& [entry, data] : records) {
        std::vector<long long> all; // every field of the record
        const long long kind = types[entry];
        const bool gathering = kind == 102 || kind == 141 || kind == 142 || kind == 143 || kind == 144 ||
                               kind == 308 || kind == 402 || kind == 408;
        // Where a field of the entry's data lies: the entry and the parameter line.
        const std::vector<long long>& lines = recordLines[entry];
        const auto placeOf = [&](std::size_t offset) {
            const std::size_t k = std::min(offset / 64, lines.size() - 1);
            return "directory entry D" + std::to_string(entry) + " (parameter line P" + std::to_string(lines[k]) + ")";
        };
        // The data begins with its entry's type: an entry made another
        // type (the null one) over an edge list's data was read as that
        // type, and a loop naming it read through what it got.
        const std::size_t typeEnd = data.find_first_of(std::string{delimiter, end});
        const std::string type = data.substr(0, typeEnd);
        if (std::atoll(type.c_str()) != types[entry] || type.find_first_not_of(" 0123456789") != std::string::npos) {
            reason = "damaged: directory entry D" + std::to_string(entry) + " is of type " +
                     std::to_string(types[entry]) + " but its parameter data of another";
            return false;
        }
        // Each record's first fields, and how many fields it has.
        std::vector<long long> head;
        long long fields = 0;
        std::size_t at = 0;
        while (at < data.size()) {
            // A Hollerith string (nH...) is skipped whole: it may hold delimiters.
            std::size_t digits = at;
            while (digits < data.size() && data[digits] == ' ')
                ++digits;
            std::size_t stop = digits;
            while (stop < data.size() && std::isdigit(static_cast<unsigned char>(data[stop])))
                ++stop;
            if (stop > digits && stop < data.size() && data[stop] == 'H' && stop - digits < 9) {
                // The B-rep entities hold numbers and pointers only: a text
                // where a face's loop count belongs left the reader's face
                // without its loop array, which it then read.
                if (holdsNoText(types[entry])) {
                    reason = "damaged: " + placeOf(digits) + ": a text in the parameter data of a type that holds none";
                    return false;
                }
                at = stop + 1 + std::stoul(data.substr(digits, stop - digits));
                continue;
            }
            std::size_t next = at;
            while (next < data.size() && data[next] != delimiter && data[next] != end)
                ++next;
            std::string field = data.substr(at, next - at);
            field.erase(0, field.find_first_not_of(' '));
            field.erase(field.find_last_not_of(' ') + 1);
            const std::size_t sign = !field.empty() && (field[0] == '-' || field[0] == '+') ? 1 : 0;
            const bool integer =
                field.size() > sign && field.find_first_not_of("0123456789", sign) == std::string::npos;
            if (const char* why = integer ? nullptr : realProblem(field)) {
                reason = "damaged: " + placeOf(at) + ": a real " + field.substr(0, 24) + " " + why;
                return false;
            }
            if (integer && (field.size() - sign > 18 || std::abs(std::stoll(field)) > limit)) {
                reason = "damaged: " + placeOf(at) + ": an integer " + field.substr(0, 24) +
                         ", larger than any count or pointer the file can hold";
                return false;
            }
            if (head.size() < 5 || holdsNoText(head[0]))
                head.push_back(integer ? std::stoll(field) : NotAnInteger);
            if (gathering && all.size() == static_cast<std::size_t>(fields))
                all.push_back(integer ? std::stoll(field) : NotAnInteger);
            ++fields;
            if (next >= data.size() || data[next] == end) {
                if (gathering && gathers.count(entry) == 0)
                    gathers[entry] = igesGatheredPointers(all, spanOf[entry] ? spanOf[entry]->form : 0);
                if (!splineCountsFilled(head, fields)) {
                    reason = "damaged: " + placeOf(at) + ": a spline whose degree or counts its values do not fill";
                    return false;
                }
                if (const char* why = brepRecordProblem(head, types)) {
                    reason = "damaged: " + placeOf(at) + ": " + why;
                    return false;
                }
                head.clear();
                fields = 0;
            }
            at = next + 1;
        }
    }
    // A record that gathers itself through others (a composite curve
    // among its own curves, a subfigure among its members, a group in a
    // group of itself) is refused naming the entry and line where the
    // cycle closes, before the peer's parser links them: its transfer
    // follows them by recursion.
    {
        std::unordered_map<long long, char> state; // 1 being followed, 2 done
        struct Step {
            long long entry;
            std::size_t next = 0;
        };
        for (const auto& [root, unused] : gathers) {
            if (state[root])
                continue;
            std::vector<Step> path{{root}};
            state[root] = 1;
            while (!path.empty()) {
                Step& step = path.back();
                const std::vector<long long>& out = gathers[step.entry];
                if (step.next == out.size()) {
                    state[step.entry] = 2;
                    path.pop_back();
                    continue;
                }
                const long long to = out[step.next++];
                if (gathers.count(to) == 0)
                    continue;
                if (state[to] == 1) {
                    const std::vector<long long>& lines = recordLines[to];
                    reason = "damaged: directory entry D" + std::to_string(to) +
                             (lines.empty() ? std::string() : " (parameter line P" + std::to_string(lines.front()) + ")") +
                             ": it gathers itself through the entries it names (named again by D" +
                             std::to_string(step.entry) + ")";
                    return false;
                }
                if (state[to] == 0) {
                    state[to] = 1;
                    path.push_back({to});
                }
            }
        }
    }
    for (const long long entry : entries)
        if (named.count(entry) == 0) {
            reason = "damaged: directory entry D" + std::to_string(entry) + " has no parameter data";
            return false;
        }
    return true;
}

// Open CASCADE's BREP reader makes the arrays of a spline, polygon or
// triangulation as large as the count in the text before it reads a value
// of them: a count of two billion took tens of gigabytes for a file of a
// few hundred bytes. The geometry tables are walked here first, and a count
// of more values than the rest of the text holds is damage. A record of a
// kind the walk does not know ends it without a verdict (the reader judges).
class BrepCounts {
    // The blanks that part the words of the text (the C locale's, as the
    // reader's stream takes them).
    static bool blank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

public:
    explicit BrepCounts(const std::string& text) : m_text(text)
    {
        for (std::size_t at = 0; next(at);)
            ++m_total;
    }

    // False with `reason` where a count asks for more values than follow it,
    // or where a real is one no model holds (see realProblem: a curve's
    // range near the largest real was imported and written into a document
    // its reader refuses).
    bool plausible(std::string& reason)
    {
        for (std::size_t at = 0, from = 0; from = at, next(at);) {
            while (blank(m_text[from]))
                ++from;
            const std::string_view token = std::string_view(m_text).substr(from, at - from);
            // Without an exponent, a hundred characters hold no real that
            // is not finite or beyond 1e100 (but for the words "inf" and
            // "nan"): most words pass unparsed.
            if (token.size() <= 100 && token.find_first_of("EeDd") == std::string_view::npos &&
                !nonFiniteWord(token))
                continue;
            if (const char* why = token.size() < 400 ? realProblem(std::string(token)) : nullptr) {
                reason = "damaged: line " + std::to_string(lineAt(m_text, from)) + ": a real " +
                         std::string(token.substr(0, 24)) + " in the BREP text " + why;
                return false;
            }
        }
        const bool v3 = m_text.find("CASCADE Topology V3") != std::string::npos;
        const char* const sections[] = {"Curve2ds", "Curves", "Polygon3D", "PolygonOnTriangulations", "Surfaces",
                                        "Triangulations"};
        for (const char* section : sections) {
            const std::size_t head = findLine(section);
            if (head == std::string::npos)
                continue;
            m_at = head;
            m_index = tokensBefore(head);
            word(); // the section's name
            long long records = 0;
            if (!integer(records))
                continue;
            for (long long r = 0; r < records && m_verdict == Unsure; ++r) {
                const std::string_view kind = section;
                if (kind == "Curve2ds")
                    curve(2);
                else if (kind == "Curves")
                    curve(3);
                else if (kind == "Surfaces")
                    surface();
                else if (kind == "Polygon3D")
                    polygon();
                else if (kind == "PolygonOnTriangulations")
                    polygonOnTriangulation();
                else
                    triangulation(v3);
            }
            if (m_verdict == Damaged) {
                reason = "damaged: line " + std::to_string(lineAt(m_text, m_at)) + ": a count " +
                         std::to_string(m_count) + " in the BREP " + section +
                         " table, more values than the rest of the file holds";
                return false;
            }
            m_verdict = Unsure;
        }
        return true;
    }

private:
    enum Verdict { Unsure, Damaged, Lost };

    bool next(std::size_t& at) const
    {
        while (at < m_text.size() && blank(m_text[at]))
            ++at;
        if (at >= m_text.size())
            return false;
        while (at < m_text.size() && !blank(m_text[at]))
            ++at;
        return true;
    }

    std::size_t findLine(const char* name) const
    {
        const std::string line = std::string("\n") + name + " ";
        const std::size_t at = m_text.find(line);
        return at == std::string::npos ? at : at + 1;
    }

    long long tokensBefore(std::size_t end) const
    {
        long long n = 0;
        for (std::size_t at = 0; next(at) && at <= end;)
            ++n;
        return n;
    }

    std::string_view word()
    {
        while (m_at < m_text.size() && blank(m_text[m_at]))
            ++m_at;
        const std::size_t from = m_at;
        if (!next(m_at))
            return {};
        ++m_index;
        return std::string_view(m_text).substr(from, m_at - from);
    }

    // An integer as Open CASCADE's reader takes one from the stream: the
    // digits a word starts with ("2147483647.0" counts 2147483647, the rest
    // being read as the next value), so that such a count is weighed too.
    bool integer(long long& value)
    {
        const std::string_view t = word();
        const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
        if (t.empty() || error != std::errc() || end == t.data()) {
            m_verdict = Lost;
            return false;
        }
        return true;
    }

    // `values` more values follow (each of `per` words), else damage.
    bool takes(long long count, long long per)
    {
        if (m_verdict != Unsure)
            return false;
        const long long left = m_total - m_index;
        if (count < 0 || (per > 0 && count > left / per)) {
            m_count = count;
            m_verdict = Damaged;
            return false;
        }
        for (long long i = 0; i < count * per; ++i)
            word();
        return true;
    }

    void curve(int dim)
    {
        long long kind = 0, rational = 0, periodic = 0, degree = 0, poles = 0, knots = 0;
        if (!integer(kind))
            return;
        const long long point = dim, axes = dim == 2 ? 2 + 2 + 2 : 3 + 3 + 3 + 3;
        switch (kind) {
        case 1: takes(1, 2 * point); return;         // line
        case 2: takes(1, axes + 1); return;          // circle
        case 3: case 5: takes(1, axes + 2); return;  // ellipse, hyperbola
        case 4: takes(1, axes + 1); return;          // parabola
        case 6:                                      // Bezier
            if (integer(rational) && integer(degree) && takes(1, 0))
                takes(degree + 1, point + (rational != 0));
            return;
        case 7:                                      // B-spline: poles, then knots with multiplicities
            if (integer(rational) && integer(periodic) && integer(degree) && integer(poles) && integer(knots) &&
                takes(poles, point + (rational != 0)))
                takes(knots, 2);
            return;
        case 8: if (takes(1, 2)) curve(dim); return; // trimmed: its range, then its basis
        case 9: if (takes(1, dim == 2 ? 1 : 4)) curve(dim); return; // offset: distance (and direction)
        default: m_verdict = Lost; return;
        }
    }

    void surface()
    {
        long long kind = 0, ur = 0, vr = 0, up = 0, vp = 0, ud = 0, vd = 0, nu = 0, nv = 0, ku = 0, kv = 0;
        if (!integer(kind))
            return;
        switch (kind) {
        case 1: case 2: case 3: case 4: case 5:      // plane, cylinder, cone, sphere, torus
            takes(1, 12 + (kind == 1 ? 0 : kind == 3 || kind == 5 ? 2 : 1)); return;
        case 6: if (takes(1, 3)) curve(3); return;   // extrusion: direction, then its curve
        case 7: if (takes(1, 6)) curve(3); return;   // revolution: axis, then its curve
        case 8:                                      // Bezier
            if (integer(ur) && integer(vr) && integer(ud) && integer(vd) && takes(ud + 1, 0) && takes(vd + 1, 0) &&
                (vd + 1 == 0 || ud + 1 <= (m_total - m_index) / (vd + 1)))
                takes((ud + 1) * (vd + 1), 3 + (ur != 0 || vr != 0));
            else if (m_verdict == Unsure)
                m_verdict = Damaged, m_count = ud;
            return;
        case 9:                                      // B-spline: poles row by row, then both knot lists
            if (!(integer(ur) && integer(vr) && integer(up) && integer(vp) && integer(ud) && integer(vd) &&
                  integer(nu) && integer(nv) && integer(ku) && integer(kv)))
                return;
            if (takes(nu, 0) && takes(nv, 0) && (nv == 0 || nu <= (m_total - m_index) / nv)) {
                if (takes(nu * nv, 3 + (ur != 0 || vr != 0)) && takes(ku, 2))
                    takes(kv, 2);
            } else if (m_verdict == Unsure) {
                m_verdict = Damaged, m_count = nu;
            }
            return;
        case 10: if (takes(1, 4)) surface(); return; // trimmed: its ranges, then its basis
        case 11: if (takes(1, 1)) surface(); return; // offset
        default: m_verdict = Lost; return;
        }
    }

    void polygon()
    {
        long long nodes = 0, parameters = 0;
        if (integer(nodes) && integer(parameters) && takes(1, 1) && takes(nodes, 3))
            takes(parameters ? nodes : 0, 1);
    }

    void polygonOnTriangulation()
    {
        long long nodes = 0, parameters = 0;
        if (!integer(nodes) || !takes(nodes, 1))
            return;
        word(); // "p"
        if (takes(1, 1) && integer(parameters))
            takes(parameters ? nodes : 0, 1);
    }

    void triangulation(bool v3)
    {
        long long nodes = 0, triangles = 0, uv = 0, normals = 0;
        if (!integer(nodes) || !integer(triangles) || !integer(uv) || (v3 && !integer(normals)))
            return;
        if (takes(1, 1) && takes(nodes, 3) && takes(uv ? nodes : 0, 2) && takes(triangles, 3))
            takes(normals ? nodes : 0, 3);
    }

    const std::string& m_text;
    long long m_total = 0, m_index = 0, m_count = 0;
    std::size_t m_at = 0;
    Verdict m_verdict = Unsure;
};

// A BREP text read from memory, which knows the line it has come to.
class BrepTextBuffer : public std::stringbuf {
public:
    explicit BrepTextBuffer(std::string&& text) : std::stringbuf(std::move(text), std::ios::in) {}
    long line() const { return 1 + static_cast<long>(std::count(eback(), gptr(), '\n')); }
};

// How deep a BREP file's shapes may nest (compounds of compounds ...): a
// solid's own nesting is seven levels, an assembly's compounds a few dozen.
constexpr int MaxShapeNesting = 200;

// The shapes of a BREP file as Open CASCADE's reader reads them (what
// BRepTools::Read does), held so that a shape nested too deep can be refused
// before anything walks it: releasing the last handle of a shape frees its
// sub-shapes by recursion, a frame or more a level, so a chain of a hundred
// thousand compounds would end the process while it is freed. What is not
// kept (a refusal, a read that broke off) is taken apart first, every shape
// let go of its sub-shapes, so that each is then freed on its own.
struct BrepShapes {
    BRepTools_ShapeSet set;
    bool keep = false;

    BrepShapes() = default;
    BrepShapes(const BrepShapes&) = delete;
    BrepShapes& operator=(const BrepShapes&) = delete;
    ~BrepShapes()
    {
        if (keep)
            return;
        BRep_Builder builder;
        std::vector<TopoDS_Shape> parts;
        for (int i = 1; i <= set.NbShapes(); ++i) {
            TopoDS_Shape whole = set.Shape(i);
            parts.clear();
            for (TopoDS_Iterator it(whole, Standard_False, Standard_False); it.More(); it.Next())
                parts.push_back(it.Value());
            whole.Free(Standard_True);
            for (const TopoDS_Shape& part : parts)
                builder.Remove(whole, part);
        }
    }

    // The deepest nesting of the shapes read: a shape refers only to shapes
    // read before it, so one pass in reading order finds it.
    int nesting() const
    {
        std::unordered_map<const TopoDS_TShape*, int> depth;
        int deepest = 0;
        for (int i = 1; i <= set.NbShapes(); ++i) {
            const TopoDS_Shape& whole = set.Shape(i);
            int below = 0;
            for (TopoDS_Iterator it(whole, Standard_False, Standard_False); it.More(); it.Next())
                if (const auto found = depth.find(it.Value().TShape().get()); found != depth.end())
                    below = std::max(below, found->second);
            depth[whole.TShape().get()] = below + 1;
            deepest = std::max(deepest, below + 1);
        }
        return deepest;
    }
};

// The faces an IGES reading named, with their names (UTF-8), and those it
// put on a level, with its number.
using NamedFaces = std::vector<std::pair<TopoDS_Shape, std::string>>;
using LevelledFaces = std::vector<std::pair<TopoDS_Shape, int>>;

// The names and levels the IGES entities that became faces hold, in one walk
// over the entities. Open CASCADE's document names a face, or puts it on its
// level, only where something else (a colour) gave the face a label, so both
// were lost on reading; and it reads the bytes of a face's name as UTF-8,
// where its writer puts them as Latin-1.
void igesFaceNamesAndLevels(const IGESCAFControl_Reader& reader, NamedFaces& named, LevelledFaces& levelled)
{
    const Handle(Interface_InterfaceModel) model = reader.WS()->Model();
    const Handle(Transfer_TransientProcess) process = reader.WS()->TransferReader()->TransientProcess();
    if (model.IsNull() || process.IsNull())
        return;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const auto entity = Handle(IGESData_IGESEntity)::DownCast(model->Value(i));
        if (entity.IsNull())
            continue;
        const bool levelled_entity = entity->DefLevel() == IGESData_DefOne && entity->Level() > 0;
        if (!entity->HasName() && !levelled_entity)
            continue;
        const TopoDS_Shape shape = TransferBRep::ShapeResult(process, entity);
        if (shape.IsNull() || shape.ShapeType() != TopAbs_FACE)
            continue;
        if (levelled_entity)
            levelled.emplace_back(shape, entity->Level());
        const Handle(TCollection_HAsciiString) name = entity->HasName() ? entity->NameValue() : nullptr;
        if (name.IsNull())
            continue;
        std::string bytes = name->ToCString();
        // A short label fills its eight columns with blanks.
        if (name == entity->ShortLabel())
            bytes.erase(bytes.find_last_not_of(' ') + 1);
        if (!bytes.empty())
            named.emplace_back(shape, latin1AsUtf8(bytes));
    }
}

// The number of the model's layer of that name; a new one where it has none.
int layerNamed(qelx_test::TestModel& model, const std::string& name)
{
    int last = 0;
    for (const auto& [number, layer] : model.layers) {
        if (layer.name == name)
            return number;
        last = std::max(last, number);
    }
    model.layers[last + 1].name = name;
    return last + 1;
}

// The faces and edges an IGES or STEP transfer made, by the entity each was made of.
void transferPlaces(const Handle(XSControl_WorkSession)& session, ShapePlaces& places)
{
    const Handle(Interface_InterfaceModel) model = session->Model();
    const Handle(Transfer_TransientProcess) process = session->TransferReader()->TransientProcess();
    if (model.IsNull() || process.IsNull())
        return;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const TopoDS_Shape shape = TransferBRep::ShapeResult(process, model->Value(i));
        if (!shape.IsNull() && (shape.ShapeType() == TopAbs_FACE || shape.ShapeType() == TopAbs_EDGE))
            places.emplace(shape.TShape().get(), "entity " + fileLabel(model, i));
    }
    // A face or edge no entity of its own became (the curves of an IGES
    // composite curve, an edge a transfer split) is named by the entity
    // whose shape holds it.
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const TopoDS_Shape shape = TransferBRep::ShapeResult(process, model->Value(i));
        if (shape.IsNull() || shape.ShapeType() == TopAbs_FACE || shape.ShapeType() == TopAbs_EDGE)
            continue;
        for (const TopAbs_ShapeEnum kind : {TopAbs_FACE, TopAbs_EDGE})
            for (TopExp_Explorer part(shape, kind); part.More(); part.Next())
                places.emplace(part.Current().TShape().get(), "in entity " + fileLabel(model, i));
    }
}

// The line each shape record of a BREP text's TShapes table begins on, in
// the order its reader numbers them ("Ve", "Ed", "Wi", "Fa", "Sh", "So",
// "CS" or "Co" alone on a line starts a record).
std::vector<long> brepRecordLines(const std::string& text)
{
    std::vector<long> lines;
    std::size_t at = text.find("\nTShapes ");
    long line = at == std::string::npos ? 0 : lineAt(text, at + 1);
    for (; at != std::string::npos && at < text.size(); ++line) {
        const std::size_t end = text.find('\n', at + 1);
        std::string_view row = std::string_view(text).substr(at + 1, (end == std::string::npos ? text.size() : end) - at - 1);
        if (!row.empty() && row.back() == '\r')
            row.remove_suffix(1);
        if (row == "Ve" || row == "Ed" || row == "Wi" || row == "Fa" || row == "Sh" || row == "So" || row == "CS" ||
            row == "Co")
            lines.push_back(line);
        at = end;
    }
    return lines;
}

// The file's shapes as one compound, and for STEP and IGES the document of
// their names, colours and layers (and for IGES the faces' names and levels
// apart: `faceNames`, `faceLevels`); false with `reason` when the reader
// refused the file or found nothing in it.
bool readShape(const std::string& path, CadFormat format, TopoDS_Shape& shape, const XdeDocument& doc,
               NamedFaces& faceNames, LevelledFaces& faceLevels, ShapePlaces& places, std::string& reason)
{
    switch (format) {
    case CadFormat::Step: {
        STEPCAFControl_Reader reader;
        reader.SetColorMode(Standard_True);
        reader.SetNameMode(Standard_True);
        reader.SetLayerMode(Standard_True);
        if (!readChecked(reader.ChangeReader().WS(), path, "STEP", reason))
            return false;
        Handle(TDocStd_Document) into = doc.get();
        reader.Transfer(into);
        shape = reader.ChangeReader().OneShape();
        transferPlaces(reader.ChangeReader().WS(), places);
        break;
    }
    case CadFormat::Iges: {
        IGESCAFControl_Reader reader;
        reader.SetColorMode(Standard_True);
        reader.SetNameMode(Standard_True);
        reader.SetLayerMode(Standard_True);
        if (!igesIntegersPlausible(path, reason) || !readChecked(reader.WS(), path, "IGES", reason))
            return false;
        Handle(TDocStd_Document) into = doc.get();
        reader.Transfer(into);
        shape = reader.OneShape();
        igesFaceNamesAndLevels(reader, faceNames, faceLevels);
        transferPlaces(reader.WS(), places);
        break;
    }
    case CadFormat::Brep: {
        // Open CASCADE's reader goes on reading from a stream that failed
        // (a damaged count can keep it at that for ever): the stream throws
        // at the first read that fails instead.
        std::string text;
        {
            std::ifstream file(path, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        if (!BrepCounts(text).plausible(reason))
            return false;
        const std::vector<long> recordLines = brepRecordLines(text);
        // Read from memory, so that a refusal can name the line the
        // reader had come to.
        BrepTextBuffer buffer(std::move(text));
        std::istream in(&buffer);
        in.exceptions(std::ios::failbit | std::ios::badbit);
        BrepShapes read;
        try {
            read.set.Read(in);
            read.set.Read(shape, in);
        } catch (const std::ios_base::failure&) {
            reason = "damaged: line " + std::to_string(buffer.line()) +
                     ": the BREP text breaks off or holds something else where a value belongs";
            return false;
        } catch (const Standard_Failure&) {
            // Not the reader's own words ("TopoDS_Builder::Add"): where it was.
            shape.Nullify();
            reason = "damaged: line " + std::to_string(buffer.line()) +
                     ": the BREP text holds a shape its reader cannot build (a part of the wrong kind or none)";
            return false;
        }
        if (shape.IsNull()) {
            reason = "damaged: line " + std::to_string(buffer.line()) +
                     ": the BREP reader stopped there with no shape (a table before it missing or broken)";
            return false;
        }
        if (read.nesting() > MaxShapeNesting) {
            shape.Nullify();
            reason = "damaged: shapes nested more than " + std::to_string(MaxShapeNesting) +
                     " deep, deeper than any model nests";
            return false;
        }
        read.keep = true;
        if (static_cast<int>(recordLines.size()) == read.set.NbShapes())
            for (int i = 1; i <= read.set.NbShapes(); ++i)
                places.emplace(read.set.Shape(i).TShape().get(),
                               "line " + std::to_string(recordLines[static_cast<std::size_t>(i - 1)]));
        break;
    }
    }
    if (shape.IsNull()) {
        reason = "no shape in the file";
        return false;
    }
    TopExp_Explorer any(shape, TopAbs_VERTEX);
    if (!any.More()) {
        reason = "no faces, edges or points in the file";
        return false;
    }
    return true;
}

// The first spline of the shapes (an edge's curve, a face's surface) with a
// control point farther from the box of the shapes' vertices than a million
// times its size (and a millimetre): a curve through a point two billion out
// on a model a few tens across, which no model holds, sent the import's
// fitting of curves onto surfaces into minutes of work before its healing
// found the body unsound. "" when there is none, else why, naming the edge
// or face ("edge 3 (entity #235)").
// The first vertex, spline control point or analytic curve's or surface's
// own point (a plane's origin, a circle's centre) lying beyond any model on one
// of its axes (model_extent.hxx), named by the first edge or face holding it
// (a loose vertex by its number among the vertices); empty when none does.
std::string pointBeyondAnyModel(const TopoDS_Shape& shape, const ShapePlaces& places)
{
    const auto beyond = [](const gp_Pnt& p) {
        const double xyz[3] = {p.X(), p.Y(), p.Z()};
        return coordinateBeyondAnyModel(xyz);
    };
    const auto place = [&places](const TopoDS_Shape& s, const char* kind, int number) {
        const auto found = places.find(s.TShape().get());
        return std::string(kind) + " " + std::to_string(number) +
               (found == places.end() ? std::string() : " (" + found->second + ")");
    };
    TopTools_IndexedMapOfShape edges, faces, vertices;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    TopExp::MapShapes(shape, TopAbs_VERTEX, vertices);
    for (int i = 1; i <= edges.Extent(); ++i) {
        for (TopoDS_Iterator v(edges(i), false, false); v.More(); v.Next())
            if (v.Value().ShapeType() == TopAbs_VERTEX)
                if (const std::string why = beyond(BRep_Tool::Pnt(TopoDS::Vertex(v.Value()))); !why.empty())
                    return place(edges(i), "edge", i) + ": a vertex at " + why;
        double first = 0.0, last = 0.0;
        Handle(Geom_Curve) curve = BRep_Tool::Curve(TopoDS::Edge(edges(i)), first, last);
        while (const auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(curve))
            curve = trimmed->BasisCurve();
        if (const auto spline = Handle(Geom_BSplineCurve)::DownCast(curve))
            for (int k = 1; k <= spline->NbPoles(); ++k)
                if (const std::string why = beyond(spline->Pole(k)); !why.empty())
                    return place(edges(i), "edge", i) + ": a spline control point at " + why;
        // A line's or conic's own point (which the save holds as any other).
        std::optional<gp_Pnt> located;
        if (const auto line = Handle(Geom_Line)::DownCast(curve))
            located = line->Position().Location();
        else if (const auto conic = Handle(Geom_Conic)::DownCast(curve))
            located = conic->Location();
        if (located)
            if (const std::string why = beyond(*located); !why.empty())
                return place(edges(i), "edge", i) + ": its curve's point at " + why;
    }
    for (int i = 1; i <= faces.Extent(); ++i) {
        Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(faces(i)));
        while (const auto trimmed = Handle(Geom_RectangularTrimmedSurface)::DownCast(surface))
            surface = trimmed->BasisSurface();
        if (const auto spline = Handle(Geom_BSplineSurface)::DownCast(surface))
            for (int u = 1; u <= spline->NbUPoles(); ++u)
                for (int v = 1; v <= spline->NbVPoles(); ++v)
                    if (const std::string why = beyond(spline->Pole(u, v)); !why.empty())
                        return place(faces(i), "face", i) + ": a spline control point at " + why;
        if (const auto elementary = Handle(Geom_ElementarySurface)::DownCast(surface))
            if (const std::string why = beyond(elementary->Location()); !why.empty())
                return place(faces(i), "face", i) + ": its surface's point at " + why;
    }
    for (int i = 1; i <= vertices.Extent(); ++i)
        if (const std::string why = beyond(BRep_Tool::Pnt(TopoDS::Vertex(vertices(i)))); !why.empty())
            return place(vertices(i), "vertex", i) + ": a point at " + why;
    return std::string();
}

std::string splineBeyondItsModel(const TopoDS_Shape& shape, const ShapePlaces& places)
{
    Bnd_Box box;
    for (TopExp_Explorer v(shape, TopAbs_VERTEX); v.More(); v.Next())
        box.Add(BRep_Tool::Pnt(TopoDS::Vertex(v.Current())));
    if (box.IsVoid())
        return std::string();
    const double reach = 1e6 * std::max(std::sqrt(box.SquareExtent()), 1.0);
    Bnd_Box near = box;
    near.Enlarge(reach);
    const auto place = [&places](const TopoDS_Shape& s, const char* kind, int number) {
        const auto found = places.find(s.TShape().get());
        return std::string(kind) + " " + std::to_string(number) +
               (found == places.end() ? std::string() : " (" + found->second + ")");
    };
    const auto beyond = [&near](const gp_Pnt& p) { return near.IsOut(p); };
    const auto because = [reach](const gp_Pnt& p) {
        std::ostringstream text;
        text << ": a spline with a control point at (" << p.X() << ", " << p.Y() << ", " << p.Z()
             << "), farther than " << reach << " from every vertex of the model";
        return text.str();
    };
    TopTools_IndexedMapOfShape edges, faces;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    for (int i = 1; i <= edges.Extent(); ++i) {
        double first = 0.0, last = 0.0;
        Handle(Geom_Curve) curve = BRep_Tool::Curve(TopoDS::Edge(edges(i)), first, last);
        while (const auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(curve))
            curve = trimmed->BasisCurve();
        if (const auto spline = Handle(Geom_BSplineCurve)::DownCast(curve)) {
            for (int k = 1; k <= spline->NbPoles(); ++k)
                if (beyond(spline->Pole(k)))
                    return place(edges(i), "edge", i) + because(spline->Pole(k));
        } else if (const auto bezier = Handle(Geom_BezierCurve)::DownCast(curve)) {
            for (int k = 1; k <= bezier->NbPoles(); ++k)
                if (beyond(bezier->Pole(k)))
                    return place(edges(i), "edge", i) + because(bezier->Pole(k));
        }
    }
    for (int i = 1; i <= faces.Extent(); ++i) {
        Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(faces(i)));
        while (const auto trimmed = Handle(Geom_RectangularTrimmedSurface)::DownCast(surface))
            surface = trimmed->BasisSurface();
        if (const auto spline = Handle(Geom_BSplineSurface)::DownCast(surface)) {
            for (int u = 1; u <= spline->NbUPoles(); ++u)
                for (int v = 1; v <= spline->NbVPoles(); ++v)
                    if (beyond(spline->Pole(u, v)))
                        return place(faces(i), "face", i) + because(spline->Pole(u, v));
        } else if (const auto bezier = Handle(Geom_BezierSurface)::DownCast(surface)) {
            for (int u = 1; u <= bezier->NbUPoles(); ++u)
                for (int v = 1; v <= bezier->NbVPoles(); ++v)
                    if (beyond(bezier->Pole(u, v)))
                        return place(faces(i), "face", i) + because(bezier->Pole(u, v));
        }
    }
    return std::string();
}

// The first edge whose range on its curve, or on one of its curves on a
// surface, winds more than once round a closed periodic curve (a circle's
// edge over [0, 1.2e8], a damaged BREP face2, sent the import's healing
// into minutes of work and gigabytes); "" when there is none, else why,
// naming the edge ("edge 3 (line 559)").
std::string rangeBeyondATurn(const TopoDS_Shape& shape, const ShapePlaces& places)
{
    const auto turns = [](double first, double last, double period) {
        return !(std::fabs(last - first) <= period * (1.0 + 1e-9) + 1e-12);
    };
    const auto because = [](double first, double last, double period) {
        std::ostringstream text;
        text << ": a range from " << first << " to " << last << " that winds more than once round its closed curve"
             << " (of period " << period << ")";
        return text.str();
    };
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    const auto named = [&](const TopoDS_Shape& edge) {
        const auto found = places.find(edge.TShape().get());
        return "edge " + std::to_string(edges.FindIndex(edge)) +
               (found == places.end() ? std::string() : " (" + found->second + ")");
    };
    double first = 0.0, last = 0.0;
    for (int i = 1; i <= edges.Extent(); ++i) {
        const Handle(Geom_Curve) curve = BRep_Tool::Curve(TopoDS::Edge(edges(i)), first, last);
        if (!curve.IsNull() && curve->IsPeriodic() && turns(first, last, curve->Period()))
            return named(edges(i)) + because(first, last, curve->Period());
    }
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
        for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next()) {
            // A plane's curve is made from the edge's over its range, and the
            // peer refuses a range it cannot trim to (from a value to itself).
            Handle(Geom2d_Curve) pcurve;
            try {
                pcurve = BRep_Tool::CurveOnSurface(TopoDS::Edge(e.Current()), TopoDS::Face(f.Current()), first, last);
            } catch (const Standard_Failure&) {
                return named(e.Current()) + ": its curve cannot be laid on the surface of a face it bounds over its range";
            }
            if (!pcurve.IsNull() && pcurve->IsPeriodic() && turns(first, last, pcurve->Period()))
                return named(e.Current()) + because(first, last, pcurve->Period());
        }
    return std::string();
}

// The first edge a BREP face lists amiss in its wires: twice, though it is
// no seam of the face (its two uses would be one coedge's partners), or
// with no curve on the face's surface (another face's edge: the import
// spent many seconds fitting one before it refused the body, naming no
// place in the file). Empty when none is.
std::string edgeListedAmissByItsFace(const TopoDS_Shape& shape, const ShapePlaces& places)
{
    const auto place = [&places](const TopoDS_Shape& s, const char* kind, int number) {
        const auto found = places.find(s.TShape().get());
        return std::string(kind) + " " + std::to_string(number) +
               (found == places.end() ? std::string() : " (" + found->second + ")");
    };
    TopTools_IndexedMapOfShape edges, faces;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Face& face = TopoDS::Face(faces(i));
        if (BRep_Tool::Surface(face).IsNull())
            continue;
        // One edge placed twice (a circle's edge at both ends of a
        // cylinder) is two edges: the same shape and place is the same edge.
        TopTools_MapOfShape listed;
        for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
            const bool again = !listed.Add(edge);
            bool closed = false, onSurface = true;
            try {
                closed = BRep_Tool::IsClosed(edge, face);
                double first = 0.0, last = 0.0;
                onSurface = !BRep_Tool::CurveOnSurface(edge, face, first, last).IsNull();
            } catch (const Standard_Failure&) {
                continue; // what the peer cannot evaluate, the checks after the reading judge
            }
            if (again && !closed)
                return place(face, "face", i) + ": its wires list " + place(edge, "edge", edges.FindIndex(edge)) +
                       " twice, though it is no seam of the face";
            if (!onSurface)
                return place(face, "face", i) + ": its wires list " + place(edge, "edge", edges.FindIndex(edge)) +
                       ", which has no curve on the face's surface";
        }
    }
    return std::string();
}

// The first edge of a BREP file whose curve runs far from its curve on the
// surface of a face it bounds where the file has the two share their
// parameter: a pole of a plate's edge spline moved 160 across a plate 274
// across was read, the healing could not bring the curves together, and
// the STEP and IGES files written held both, which their reader found
// invalid. Far is more than a hundredth of the model's size and a hundred
// times the edge's tolerance, at nine points within the edge's range and
// three in each knot span of a spline curve. ""
// when there is none, else why, naming the edge and the face.
std::string curveFarFromItsPCurve(const TopoDS_Shape& shape, const ShapePlaces& places)
{
    Bnd_Box box;
    for (TopExp_Explorer v(shape, TopAbs_VERTEX); v.More(); v.Next())
        box.Add(BRep_Tool::Pnt(TopoDS::Vertex(v.Current())));
    if (box.IsVoid())
        return std::string();
    const double size = std::sqrt(box.SquareExtent());
    TopTools_IndexedMapOfShape edges, faces;
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Face& face = TopoDS::Face(faces(i));
        const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
        if (surface.IsNull())
            continue;
        for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
            if (BRep_Tool::Degenerated(edge) || !BRep_Tool::SameParameter(edge) || !BRep_Tool::SameRange(edge))
                continue;
            const double far = std::max(1e-2 * size, 100.0 * BRep_Tool::Tolerance(edge));
            try {
                double first = 0.0, last = 0.0, pfirst = 0.0, plast = 0.0;
                const Handle(Geom_Curve) curve = BRep_Tool::Curve(edge, first, last);
                const Handle(Geom2d_Curve) pcurve = BRep_Tool::CurveOnSurface(edge, face, pfirst, plast);
                if (curve.IsNull() || pcurve.IsNull())
                    continue;
                // Nine points over the range, and three in each of a
                // spline's knot spans within it (a pole moves its few spans).
                std::vector<double> at;
                for (int k = 1; k <= 9; ++k)
                    at.push_back(first + (last - first) * k / 10.0);
                Handle(Geom_Curve) basis = curve;
                while (const auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(basis))
                    basis = trimmed->BasisCurve();
                if (const auto spline = Handle(Geom_BSplineCurve)::DownCast(basis); spline && spline->NbKnots() <= 257)
                    for (int k = 1; k < spline->NbKnots(); ++k)
                        for (const double share : {0.25, 0.5, 0.75}) {
                            const double t = spline->Knot(k) + (spline->Knot(k + 1) - spline->Knot(k)) * share;
                            if (t > first && t < last)
                                at.push_back(t);
                        }
                for (const double t : at) {
                    const gp_Pnt2d uv = pcurve->Value(t);
                    const double gap = surface->Value(uv.X(), uv.Y()).Distance(curve->Value(t));
                    if (gap > far) {
                        const auto found = places.find(edge.TShape().get());
                        std::ostringstream text;
                        text << "edge " << edges.FindIndex(edge)
                             << (found == places.end() ? std::string() : " (" + found->second + ")")
                             << ": its curve runs " << gap << " from its curve on the surface of face " << i
                             << ", which the file has share its parameter";
                        return text.str();
                    }
                }
            } catch (const Standard_Failure&) {
                continue; // what the peer cannot evaluate, the checks after the reading judge
            }
        }
    }
    return std::string();
}

// What a file must look like before any reader is given it: no larger than
// the readers take (they hold the text, and their models, in memory), no
// zero byte where it is sampled (every one of these formats is text; a file
// of zeros, a sparse one, took seconds and gigabytes before it was refused),
// and its first kilobytes those of its format: a STEP file starts with
// "ISO-10303-21", an IGES file's first line is a record of the start or
// global section (column 73), a BREP file names its topology within its
// first lines. False with `reason`.
bool looksLikeItsFormat(const std::string& path, CadFormat format, unsigned long long size, std::string& reason)
{
    if (size > MaxCadFileBytes) {
        reason = "larger than the " + std::to_string(MaxCadFileBytes >> 20) + " MB a STEP, IGES or BREP file may be";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    constexpr std::size_t Sample = 4096;
    std::string head(static_cast<std::size_t>(std::min<unsigned long long>(size, Sample)), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    // The start, then sixteen samples spread over the rest.
    for (int k = 0; k <= 16; ++k) {
        std::string block = head;
        unsigned long long at = 0;
        if (k > 0) {
            at = size / 16 * static_cast<unsigned long long>(k);
            if (at + Sample > size)
                at = size > Sample ? size - Sample : 0;
            in.clear();
            in.seekg(static_cast<std::streamoff>(at));
            block.assign(Sample, '\0');
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            block.resize(static_cast<std::size_t>(in.gcount()));
        }
        if (const std::size_t zero = block.find('\0'); zero != std::string::npos) {
            reason = "not a " + std::string(format == CadFormat::Step ? "STEP" : format == CadFormat::Iges ? "IGES" : "BREP") +
                     " file: a zero byte at byte " + std::to_string(at + zero) + ", which no such text holds";
            return false;
        }
    }
    const std::size_t first = head.find_first_not_of(" \t\r\n");
    switch (format) {
    case CadFormat::Step:
        if (first == std::string::npos || head.compare(first, 12, "ISO-10303-21") != 0) {
            reason = "not a STEP file: line 1 does not start with ISO-10303-21";
            return false;
        }
        return true;
    case CadFormat::Iges: {
        const std::size_t end = head.find_first_of("\r\n");
        const std::string line = head.substr(0, end);
        if (line.size() < 73 || (line[72] != 'S' && line[72] != 'G')) {
            reason = "not an IGES file: line 1 is not a record of its start or global section (S or G in column 73)";
            return false;
        }
        return true;
    }
    case CadFormat::Brep:
        if (head.find("CASCADE Topology V") == std::string::npos && head.find("DBRep_DrawableShape") == std::string::npos) {
            reason = "not a BREP file: lines 1 to " + std::to_string(lineAt(head, head.size())) +
                     " do not name its topology (CASCADE Topology V1, V2 or V3)";
            return false;
        }
        return true;
    }
    return true;
}

} // namespace

ReadShapes readShapeInto(const TopoDS_Shape& shape, qelx_test::TestModel& model)
{
    ShapeReader reader(model);
    reader.read(shape);
    return reader.shapes();
}

QELIResult readCadFile(const std::string& path, qelx_test::TestModel& model, std::string& error)
{
    return readCadFileUnlessTaken(path, model, error, {});
}

int facesReadFrom(const TopoDS_Shape& shape)
{
    // As ShapeReader::read meets them: solids' shells, shells outside
    // solids, faces outside shells.
    int faces = 0;
    for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next())
        for (TopExp_Explorer sh(s.Current(), TopAbs_SHELL); sh.More(); sh.Next())
            for (TopExp_Explorer f(sh.Current(), TopAbs_FACE); f.More(); f.Next())
                ++faces;
    for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next())
        for (TopExp_Explorer f(sh.Current(), TopAbs_FACE); f.More(); f.Next())
            ++faces;
    for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next())
        ++faces;
    return faces;
}

QELIResult readCadFileUnlessTaken(const std::string& path, qelx_test::TestModel& model, std::string& error,
                                  const TakeFile& take)
{
    const std::optional<CadFormat> format = cadFormatOf(path);
    if (!format) {
        error = path + ": not a STEP, IGES or BREP file name";
        return QELI_FAIL;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return QELI_FILE_NOT_OPENED;
    }
    if (S_ISDIR(info.st_mode)) {
        error = path + ": is a directory";
        return QELI_FAIL;
    }
    if (info.st_size == 0) {
        error = path + ": is empty";
        return QELI_FAIL;
    }
    if (!std::ifstream(path)) {
        error = path + ": cannot be opened";
        return QELI_FILE_NOT_OPENED;
    }
    if (std::string why; !looksLikeItsFormat(path, *format, static_cast<unsigned long long>(info.st_size), why)) {
        error = path + ": " + why;
        return QELI_FAIL;
    }
    try {
        const ExchangeSettings settings;
        const SignalsAsFailures signals;
        const QuietStandardOutput quiet;
        TopoDS_Shape shape;
        std::string reason;
        const XdeDocument doc;
        NamedFaces faceNames;
        LevelledFaces faceLevels;
        ShapePlaces places;
        if (!readShape(path, *format, shape, doc, faceNames, faceLevels, places, reason)) {
            error = path + ": " + reason;
            return QELI_FAIL;
        }
        if (std::string why = pointBeyondAnyModel(shape, places);
            !why.empty() || !(why = splineBeyondItsModel(shape, places)).empty() || !(why = rangeBeyondATurn(shape, places)).empty() ||
            (*format == CadFormat::Brep && (!(why = edgeListedAmissByItsFace(shape, places)).empty() ||
                                            !(why = curveFarFromItsPCurve(shape, places)).empty()))) {
            error = path + ": damaged: " + why;
            return QELI_FAIL;
        }
        // Seen as the reader left it, before anything is built onto it.
        if (take && take(doc.get(), shape))
            return QELI_OK;
        // Files without 3-D edge curves (IGES trimmed surfaces) get them
        // built, edge by edge so that one the peer cannot build is named.
        TopTools_IndexedMapOfShape edges;
        TopExp::MapShapes(shape, TopAbs_EDGE, edges);
        for (int i = 1; i <= edges.Extent(); ++i)
            try {
                BRepLib::BuildCurve3d(TopoDS::Edge(edges(i)));
            } catch (const Standard_Failure&) {
                const auto found = places.find(edges(i).TShape().get());
                throw std::runtime_error("edge " + std::to_string(i) +
                                         (found == places.end() ? std::string() : " (" + found->second + ")") +
                                         ": its curve cannot be built from its curve on a surface");
            }
        TestModel read;
        read.xType = cadSourceType(*format);
        read.unit = 1; // the readers hand millimetres
        ShapeReader reader(read);
        reader.placesFrom(&places);
        reader.sewLooseFaces(*format != CadFormat::Brep);
        reader.read(shape);
        if (*format != CadFormat::Brep)
            readFileAttributes(doc.get(), reader.shapes(), read);
        for (const auto& [face, name] : faceNames)
            if (const int* index = reader.shapes().faces.Seek(face))
                read.attributes[qelx_test::wordOf(qelx_test::KindFace, *index)].name = name;
        // A level is a layer known by its number, as the document names it.
        for (const auto& [face, level] : faceLevels)
            if (const int* index = reader.shapes().faces.Seek(face))
                read.attributes[qelx_test::wordOf(qelx_test::KindFace, *index)].layer =
                    layerNamed(read, std::to_string(level));
        model = std::move(read);
    } catch (const Standard_Failure&) {
        // Not the peer's own words: what could not be done.
        error = path + ": damaged: the shapes it holds cannot be taken in whole";
        return QELI_FAIL;
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
        return QELI_FAIL;
    } catch (const std::exception& e) {
        error = path + ": damaged: " + e.what();
        return QELI_FAIL;
    }
    return QELI_OK;
}

} // namespace qelx_formats
