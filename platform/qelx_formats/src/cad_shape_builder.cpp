// Open CASCADE shapes from a model in the exporter layouts. Every surface
// and curve is built in Open CASCADE's own form of its kind, with the affine
// map from the framework's parameters to that form's; face domains and
// pcurves go through the same map, so the shape keeps the model's points.
// Edges keep their curve's direction (a coedge's orientation says which way
// it runs); pcurves are carried on the edge's curve parameter. Poles and
// apexes, which the model's faces reach without an edge, get the degenerate
// edges Open CASCADE needs to close a loop in the parameter plane.
#include "cad_shapes.hxx"
#include "spline_checks.hxx"
#include "qelx/qelx_write_bounds.hxx"

#include <Adaptor3d_CurveOnSurface.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepTools.hxx>
#include <BRepLib.hxx>
#include <BRepLib_ValidateEdge.hxx>
#include <Geom2dAdaptor_Curve.hxx>
#include <GeomAbs_Shape.hxx>
#include <gp_Pnt2d.hxx>
#include <gp_Vec2d.hxx>
#include <GeomAdaptor_Curve.hxx>
#include <GeomAdaptor_Surface.hxx>
#include <Bnd_Box2d.hxx>
#include <BRep_Builder.hxx>
#include <BRep_CurveRepresentation.hxx>
#include <BRep_ListIteratorOfListOfCurveRepresentation.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Iterator.hxx>
#include <unordered_map>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_Line.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_ElementarySurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_Conic.hxx>
#include <Geom_Line.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <Geom_OffsetSurface.hxx>
#include <Geom_Plane.hxx>
#include <ElSLib.hxx>
#include <gp_Pln.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfLinearExtrusion.hxx>
#include <GeomProjLib.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Precision.hxx>
#include <Standard_Failure.hxx>
#include <ShapeFix_Edge.hxx>
#include <ShapeBuild_ReShape.hxx>
#include <ShapeFix_Face.hxx>
#include <Standard_Failure.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array1OfPnt2d.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_ListIteratorOfListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <numeric>
#include <optional>
#include <stdexcept>

namespace qelx_formats {

namespace {

using qelx_test::TestModel;
using qelx_test::TestNurbs;
using qelx_test::Vec3;

gp_XYZ xyzOf(const Vec3& v) { return {v[0], v[1], v[2]}; }

gp_Dir directionOf(const Vec3& v, const char* what)
{
    const gp_XYZ d = xyzOf(v);
    if (d.Modulus() < 1e-300)
        throw std::runtime_error(std::string("a ") + what + " has no direction");
    return gp_Dir(d);
}

// The part of `x` across `z`, as a direction.
gp_Dir across(const gp_Dir& z, const Vec3& x, const char* what)
{
    const gp_XYZ v = xyzOf(x) - z.XYZ() * z.XYZ().Dot(xyzOf(x));
    if (v.Modulus() < 1e-12 * std::max(1.0, xyzOf(x).Modulus()))
        throw std::runtime_error(std::string("a ") + what + "'s reference direction lies along its axis");
    return gp_Dir(v);
}

// (u', v') = m (s, t) + b.
struct Affine2 {
    double m[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
    double b[2] = {0.0, 0.0};
    gp_Pnt2d apply(double s, double t) const
    {
        return {m[0][0] * s + m[0][1] * t + b[0], m[1][0] * s + m[1][1] * t + b[1]};
    }
    double det() const { return m[0][0] * m[1][1] - m[0][1] * m[1][0]; }
    static Affine2 rows(double a, double b_, double c, double d, double e = 0.0, double f = 0.0)
    {
        Affine2 r;
        r.m[0][0] = a;
        r.m[0][1] = b_;
        r.m[1][0] = c;
        r.m[1][1] = d;
        r.b[0] = e;
        r.b[1] = f;
        return r;
    }
    // this after the diagonal map (s, t) = (su u + sc, tv v + tc).
    Affine2 afterDiagonal(double su, double sc, double tv, double tc) const
    {
        return rows(m[0][0] * su, m[0][1] * tv, m[1][0] * su, m[1][1] * tv,
                    m[0][0] * sc + m[0][1] * tc + b[0], m[1][0] * sc + m[1][1] * tc + b[1]);
    }
};

struct BuiltSurface {
    Handle(Geom_Surface) surface;
    Affine2 map; // canonical -> the built surface's parameters
};

// w = k s + m from the curve's canonical parameter s.
struct BuiltCurve {
    Handle(Geom_Curve) curve;
    double k = 1.0, m = 0.0;
};

void checkNurbs(const TestNurbs& n, int dim, int count, int degree, const std::vector<double>& knots,
                const std::vector<int>& mults, const char* what)
{
    const long sum = std::accumulate(mults.begin(), mults.end(), 0L);
    if (degree < 1 || count < 2 || knots.size() < 2 || knots.size() != mults.size() || sum != count + degree + 1)
        throw std::runtime_error(std::string("a ") + what + "'s spline data is not valid");
    for (std::size_t i = 1; i < knots.size(); ++i)
        if (!(knots[i] > knots[i - 1]))
            throw std::runtime_error(std::string("a ") + what + "'s knots do not rise");
    (void)n;
    (void)dim;
}

void fillKnots(const std::vector<double>& knots, const std::vector<int>& mults, TColStd_Array1OfReal& k,
               TColStd_Array1OfInteger& m)
{
    for (std::size_t i = 0; i < knots.size(); ++i) {
        k(static_cast<int>(i) + 1) = knots[i];
        m(static_cast<int>(i) + 1) = mults[i];
    }
}

Handle(Geom_BSplineCurve) curveSpline(const TestNurbs& n)
{
    checkNurbs(n, 3, n.count, n.degree, n.knots, n.mults, "curve");
    if (n.ctrl.size() != static_cast<std::size_t>(3 * n.count) ||
        (!n.weights.empty() && n.weights.size() != static_cast<std::size_t>(n.count)))
        throw std::runtime_error("a curve's spline data is not valid");
    TColgp_Array1OfPnt poles(1, n.count);
    for (int i = 0; i < n.count; ++i)
        poles(i + 1) = gp_Pnt(n.ctrl[3 * i], n.ctrl[3 * i + 1], n.ctrl[3 * i + 2]);
    const int nk = static_cast<int>(n.knots.size());
    TColStd_Array1OfReal knots(1, nk);
    TColStd_Array1OfInteger mults(1, nk);
    fillKnots(n.knots, n.mults, knots, mults);
    const char* fault = splineFault(n.degree, Geom_BSplineCurve::MaxDegree(), n.count, knots, mults);
    if (!fault)
        fault = valuesFault(n.ctrl.data(), n.ctrl.size(), n.weights.data(), n.weights.size());
    if (fault)
        throw std::runtime_error(std::string("a curve's spline data is not valid: ") + fault);
    if (n.weights.empty())
        return new Geom_BSplineCurve(poles, knots, mults, n.degree);
    TColStd_Array1OfReal weights(1, n.count);
    for (int i = 0; i < n.count; ++i)
        weights(i + 1) = n.weights[static_cast<std::size_t>(i)];
    return new Geom_BSplineCurve(poles, weights, knots, mults, n.degree);
}

// A periodic spline edge whose range [w0, w1] runs past its curve's start
// or end (lawful on a periodic curve: a healed vertex moved the range across
// the start) as a curve a file holds as it is: the curve made periodic,
// started at w0 (the range moved by whole periods to lie from there) and
// unrolled again over one period, so that the range lies inside it; its
// points are the curve's own. `shift` gets what the range moved by. A curve
// whose ends do not meet, or a range longer than one period, is left as it
// is (and refused as any range past a curve's ends is).
Handle(Geom_BSplineCurve) startedAtRange(const Handle(Geom_BSplineCurve)& c, double& w0, double& w1, double& shift)
{
    shift = 0.0;
    const double first = c->FirstParameter(), last = c->LastParameter(), period = last - first;
    if (!(period > 0.0) || QELXRangeHeldIn(first, last, w0, w1) || w1 - w0 > period * (1.0 + 1e-9) ||
        c->StartPoint().Distance(c->EndPoint()) > Precision::Confusion())
        return c;
    const double turns = std::floor((w0 - first) / period);
    shift = turns * period;
    w0 -= shift;
    w1 -= shift;
    if (w1 <= last)
        return c;
    Handle(Geom_BSplineCurve) out = Handle(Geom_BSplineCurve)::DownCast(c->Copy());
    out->SetPeriodic();
    // A knot within a rounding of w0 is taken for the start, which the
    // range then falls inside of or is held in to.
    out->SetOrigin(w0, Precision::PConfusion() * std::max(1.0, std::abs(w0)));
    out->SetNotPeriodic();
    return out;
}

// A fault of one model face, named by the body's build as the refusals
// name faces (the face's place among its body's faces).
struct FaceFault {
    int face;
    std::string why;
};

class ShapeBuilder {
public:
    explicit ShapeBuilder(const TestModel& model) : m_m(model) {}
    BuiltShapes build();

private:
    struct BuiltEdge {
        TopoDS_Edge edge;
        double a = 1.0, b = 0.0; // built curve parameter w = a t + b of the edge's own t
        bool flipped = false;    // the model edge runs against the built one
        bool curveless = false;
    };
    // One coedge of a loop as it goes into the wire of the forward face.
    struct Use {
        TopoDS_Edge edge; // oriented
        Handle(Geom2d_Curve) pcurve;
        int modelEdge = -1;
    };

    const BuiltSurface& surface(int index);
    BuiltSurface makeSurface(int index, int depth);
    BuiltCurve curve(int index);
    TopoDS_Vertex vertex(int index);
    BuiltEdge& edge(int index);
    BuiltEdge& fixedEdge(int index);
    Handle(Geom2d_Curve) pcurve(int coedge, const BuiltEdge& edge, const Affine2& toSurface);
    TopoDS_Face face(int index);
    std::vector<TopoDS_Shell> shells(const std::vector<int>& faces, BodyShape& body);
    const std::vector<int>& shellFaces(int index) const
    {
        if (index < 0 || index >= static_cast<int>(m_m.shells.size()))
            throw std::runtime_error("a body names a shell that does not exist");
        return m_m.shells[static_cast<std::size_t>(index)].faces;
    }
    TopoDS_Shape body(int index, BodyShape& out);
    void widenVertex(const TopoDS_Vertex& v, const gp_Pnt& p);
    void settleTolerances(const TopoDS_Shape& all);
    void orderTolerances(const TopTools_IndexedDataMapOfShapeListOfShape& faces);
    static bool alignAlongLoop(std::vector<Use>& uses, const std::set<int>& seams,
                               const Handle(Geom_Surface)& surface, const Bnd_Box2d& box);
    std::vector<int> bodyFaces(int body) const;
    static bool alongItsEdge(const Use& use, const Handle(Geom_Surface)& surface, double w);
    static bool joinsItsNeighbours(const std::vector<Use>& uses, const std::vector<Handle(Geom2d_Curve)>& given,
                                   std::size_t i, const Handle(Geom_Surface)& surface, const gp_Vec2d& by);
    void projectStrayPCurves(std::vector<Use>& uses, const Handle(Geom_Surface)& surface);
    static void turnRoundPoles(std::vector<Use>& uses, const std::set<int>& seams, const Handle(Geom_Surface)& surface);
    void placePCurves(const TopoDS_Edge& edge, const TopoDS_Face& face, const Bnd_Box2d& box, bool seam,
                      std::pair<Handle(Geom2d_Curve), Handle(Geom2d_Curve)>& pcs);

    const TestModel& m_m;
    BRep_Builder m_b;
    std::map<int, BuiltSurface> m_surfaces;
    std::map<int, TopoDS_Vertex> m_vertices;
    std::map<int, BuiltEdge> m_edges;
    std::map<int, TopoDS_Face> m_faces;
    Handle(ShapeBuild_ReShape) m_replaced = new ShapeBuild_ReShape;
    bool m_reshaped = false; // something was put in m_replaced
    // Sphere and torus faces whose box would take them turned as well (see
    // boxTellsTheSide): only a solid's volume tells their side.
    std::set<int> m_sideUntold;
};

const BuiltSurface& ShapeBuilder::surface(int index)
{
    auto it = m_surfaces.find(index);
    if (it == m_surfaces.end())
        it = m_surfaces.emplace(index, makeSurface(index, 0)).first;
    return it->second;
}

BuiltCurve ShapeBuilder::curve(int index)
{
    if (index < 0 || index >= static_cast<int>(m_m.curves.size()))
        throw std::runtime_error("an edge names a curve that does not exist");
    const qelx_test::TestCurve& c = m_m.curves[static_cast<std::size_t>(index)];
    BuiltCurve out;
    if (c.type == qelx_test::CurvLine) {
        const gp_XYZ d = xyzOf(c.d1);
        out.curve = new Geom_Line(gp_Pnt(xyzOf(c.p)), directionOf(c.d1, "line"));
        out.k = d.Modulus();
    } else if (c.type == qelx_test::CurvEllipse) {
        // p + major cos s M + minor sin s (N x M).
        const gp_Dir N = directionOf(c.d2, "ellipse");
        const gp_Dir M = across(N, c.d1, "ellipse");
        if (!(c.minor > 0.0) || !(c.major > 0.0))
            throw std::runtime_error("an ellipse has no radius");
        if (std::abs(c.major - c.minor) <= 1e-15 * c.major)
            out.curve = new Geom_Circle(gp_Ax2(gp_Pnt(xyzOf(c.p)), N, M), c.major);
        else if (c.major > c.minor)
            out.curve = new Geom_Ellipse(gp_Ax2(gp_Pnt(xyzOf(c.p)), N, M), c.major, c.minor);
        else {
            // The longer axis is N x M: the same points a quarter turn on.
            out.curve = new Geom_Ellipse(gp_Ax2(gp_Pnt(xyzOf(c.p)), N, N.Crossed(M)), c.minor, c.major);
            out.m = -M_PI / 2;
        }
    } else {
        out.curve = curveSpline(c.nurbs);
    }
    return out;
}

BuiltSurface ShapeBuilder::makeSurface(int index, int depth)
{
    if (index < 0 || index >= static_cast<int>(m_m.surfaces.size()) || depth > 8)
        throw std::runtime_error("a face names a surface that does not exist");
    const qelx_test::TestSurface& s = m_m.surfaces[static_cast<std::size_t>(index)];
    BuiltSurface out;
    const gp_Pnt origin(xyzOf(s.p));
    switch (s.type) {
    case qelx_test::SurfPlane: {
        // p + up s + w t, up the u vector across the normal, w = n x u at |u|.
        const gp_Dir n = directionOf(s.d2, "plane");
        const gp_Dir x = across(n, s.d1, "plane");
        const gp_XYZ u = xyzOf(s.d1);
        const double up = (u - n.XYZ() * n.XYZ().Dot(u)).Modulus();
        out.surface = new Geom_Plane(gp_Ax3(origin, n, x));
        out.map = Affine2::rows(up, 0.0, 0.0, u.Modulus());
        break;
    }
    case qelx_test::SurfCylinder:
    case qelx_test::SurfCone: {
        // Radius a (1 + c s) at -a cos(b) s along the axis, angle t from r.
        const gp_Dir d = directionOf(s.d2, "cone");
        const gp_Ax3 frame(origin, d, across(d, s.d1, "cone"));
        if (!(s.a > 0.0))
            throw std::runtime_error("a cone or cylinder has no radius");
        const double c = s.type == qelx_test::SurfCylinder ? 0.0 : s.c;
        if (c == 0.0)
            out.surface = new Geom_CylindricalSurface(frame, s.a);
        else
            out.surface = new Geom_ConicalSurface(frame, std::atan2(-c, std::cos(s.b)), s.a);
        out.map = Affine2::rows(0.0, 1.0, -s.a, 0.0);
        break;
    }
    case qelx_test::SurfSphere: {
        // Longitude t from O towards O x Pd: the built sphere turns the other way.
        const gp_Dir pole = directionOf(s.d2, "sphere");
        if (!(s.a > 0.0))
            throw std::runtime_error("a sphere has no radius");
        out.surface = new Geom_SphericalSurface(gp_Ax3(origin, pole, across(pole, s.d1, "sphere")), s.a);
        out.map = Affine2::rows(0.0, -1.0, 1.0, 0.0);
        break;
    }
    case qelx_test::SurfTorus: {
        const gp_Dir axis = directionOf(s.d2, "torus");
        const gp_Dir x = across(axis, s.d1, "torus");
        if (!(s.b > 0.0) || !(s.a >= 0.0))
            throw std::runtime_error("a torus has no radius");
        if (s.toroidalType != 3) {
            out.surface = new Geom_ToroidalSurface(gp_Ax3(origin, axis, x), s.a, s.b);
            out.map = Affine2::rows(0.0, -1.0, 1.0, 0.0);
        } else {
            // A negative major radius: the same points about the reversed axis,
            // half a turn on in both directions.
            out.surface = new Geom_ToroidalSurface(gp_Ax3(origin, axis.Reversed(), x), s.a, s.b);
            out.map = Affine2::rows(0.0, 1.0, 1.0, 0.0, -M_PI, M_PI);
        }
        break;
    }
    case qelx_test::SurfRevolved: {
        const BuiltCurve profile = curve(s.ref);
        const qelx_test::TestCurve& c = m_m.curves[static_cast<std::size_t>(s.ref)];
        out.surface = new Geom_SurfaceOfRevolution(profile.curve, gp_Ax1(origin, directionOf(s.d1, "revolution")));
        const double ks = profile.k * c.scale, km = profile.k * c.offset + profile.m;
        out.map = Affine2::rows(0.0, 1.0, ks, 0.0, 0.0, km);
        break;
    }
    case qelx_test::SurfExtruded: {
        const BuiltCurve profile = curve(s.ref);
        const qelx_test::TestCurve& c = m_m.curves[static_cast<std::size_t>(s.ref)];
        out.surface = new Geom_SurfaceOfLinearExtrusion(profile.curve, directionOf(s.d1, "extrusion"));
        out.map = Affine2::rows(profile.k * c.scale, 0.0, 0.0, xyzOf(s.d1).Modulus(), profile.k * c.offset + profile.m,
                                0.0);
        break;
    }
    case qelx_test::SurfOffset: {
        // Along the base's normal as the model has it (its flag), which the
        // built base has or has not as its map keeps or turns the frame.
        const BuiltSurface base = makeSurface(s.ref, depth + 1);
        const bool baseFlag = m_m.surfaces[static_cast<std::size_t>(s.ref)].flag;
        const double sign = (baseFlag ? 1.0 : -1.0) * (base.map.det() > 0.0 ? 1.0 : -1.0);
        out.surface = new Geom_OffsetSurface(base.surface, sign * s.a);
        out.map = base.map;
        break;
    }
    default: {
        if (s.uCount * s.vCount == 0)
            throw std::runtime_error("a surface of a kind that has no spline form");
        checkNurbs({}, 3, s.uCount, s.uDegree, s.uKnots, s.uMults, "surface");
        checkNurbs({}, 3, s.vCount, s.vDegree, s.vKnots, s.vMults, "surface");
        const std::size_t n = static_cast<std::size_t>(s.uCount) * static_cast<std::size_t>(s.vCount);
        if (s.ctrl.size() != 3 * n || (!s.weights.empty() && s.weights.size() != n))
            throw std::runtime_error("a surface's spline data is not valid");
        TColgp_Array2OfPnt poles(1, s.uCount, 1, s.vCount);
        TColStd_Array2OfReal weights(1, s.uCount, 1, s.vCount);
        for (int i = 0; i < s.uCount; ++i)
            for (int j = 0; j < s.vCount; ++j) {
                const std::size_t k = static_cast<std::size_t>(i * s.vCount + j);
                poles(i + 1, j + 1) = gp_Pnt(s.ctrl[3 * k], s.ctrl[3 * k + 1], s.ctrl[3 * k + 2]);
                weights(i + 1, j + 1) = s.weights.empty() ? 1.0 : s.weights[k];
            }
        TColStd_Array1OfReal uk(1, static_cast<int>(s.uKnots.size())), vk(1, static_cast<int>(s.vKnots.size()));
        TColStd_Array1OfInteger um(1, static_cast<int>(s.uKnots.size())), vm(1, static_cast<int>(s.vKnots.size()));
        fillKnots(s.uKnots, s.uMults, uk, um);
        fillKnots(s.vKnots, s.vMults, vk, vm);
        const char* fault = splineFault(s.uDegree, Geom_BSplineSurface::MaxDegree(), s.uCount, uk, um);
        if (!fault)
            fault = splineFault(s.vDegree, Geom_BSplineSurface::MaxDegree(), s.vCount, vk, vm);
        if (!fault)
            fault = valuesFault(s.ctrl.data(), s.ctrl.size(), s.weights.data(), s.weights.size());
        if (fault)
            throw std::runtime_error(std::string("a surface's spline data is not valid: ") + fault);
        const Handle(Geom_BSplineSurface) spline =
            s.weights.empty() ? new Geom_BSplineSurface(poles, uk, vk, um, vm, s.uDegree, s.vDegree)
                              : new Geom_BSplineSurface(poles, weights, uk, vk, um, vm, s.uDegree, s.vDegree);
        // A direction the model holds periodic is built periodic where the
        // spline's ends meet: a face's pcurves there may lie a period on, or
        // run across the knots' start, as on any periodic surface, and the
        // spline built open would be evaluated past its knots (a mirrored
        // sample's healed faces a whole period off, built with edges two
        // units wide).
        if (s.uClosure >= 2 && spline->IsUClosed())
            spline->SetUPeriodic();
        if (s.vClosure >= 2 && spline->IsVClosed())
            spline->SetVPeriodic();
        out.surface = spline;
        break;
    }
    }
    return out;
}

void ShapeBuilder::widenVertex(const TopoDS_Vertex& v, const gp_Pnt& p)
{
    const double gap = BRep_Tool::Pnt(v).Distance(p);
    if (gap > BRep_Tool::Tolerance(v))
        m_b.UpdateVertex(v, gap * 1.0001 + Precision::Confusion());
}

TopoDS_Vertex ShapeBuilder::vertex(int index)
{
    auto it = m_vertices.find(index);
    if (it != m_vertices.end())
        return it->second;
    if (index < 0 || index >= static_cast<int>(m_m.vertices.size()))
        throw std::runtime_error("an edge names a vertex that does not exist");
    const int point = m_m.vertices[static_cast<std::size_t>(index)].point;
    if (point < 0 || point >= static_cast<int>(m_m.points.size()))
        throw std::runtime_error("a vertex has no point");
    TopoDS_Vertex v;
    m_b.MakeVertex(v, gp_Pnt(xyzOf(m_m.points[static_cast<std::size_t>(point)])), Precision::Confusion());
    return m_vertices.emplace(index, v).first->second;
}

ShapeBuilder::BuiltEdge& ShapeBuilder::edge(int index)
{
    auto it = m_edges.find(index);
    if (it != m_edges.end())
        return it->second;
    if (index < 0 || index >= static_cast<int>(m_m.edges.size()))
        throw std::runtime_error("a coedge names an edge that does not exist");
    const qelx_test::TestEdge& e = m_m.edges[static_cast<std::size_t>(index)];
    BuiltEdge out;
    TopoDS_Vertex start = e.start >= 0 ? vertex(e.start) : TopoDS_Vertex();
    TopoDS_Vertex end = e.end >= 0 ? vertex(e.end) : TopoDS_Vertex();
    m_b.MakeEdge(out.edge);
    Handle(Geom_Curve) c;
    if (e.curve >= 0) {
        // w = k (scale (+-t) + offset) + m.
        const BuiltCurve built = curve(e.curve);
        const qelx_test::TestCurve& tc = m_m.curves[static_cast<std::size_t>(e.curve)];
        out.a = built.k * tc.scale * (e.sense ? 1.0 : -1.0);
        out.b = built.k * tc.offset + built.m;
        if (out.a == 0.0 || !std::isfinite(out.a))
            throw std::runtime_error("an edge's curve has no length");
        c = built.curve;
        m_b.UpdateEdge(out.edge, c, Precision::Confusion());
    } else {
        out.curveless = true;
    }
    out.flipped = out.a < 0.0;
    double w0 = out.a * e.domain[0] + out.b, w1 = out.a * e.domain[1] + out.b;
    if (out.flipped) {
        std::swap(w0, w1);
        std::swap(start, end);
    }
    if (!(w1 > w0))
        throw std::runtime_error("an edge has an empty domain");
    if (e.curve >= 0 && m_m.curves[static_cast<std::size_t>(e.curve)].nurbs.form >= 2)
        if (const Handle(Geom_BSplineCurve) spline = Handle(Geom_BSplineCurve)::DownCast(c); !spline.IsNull()) {
            double shift = 0.0;
            const Handle(Geom_BSplineCurve) started = startedAtRange(spline, w0, w1, shift);
            if (started != spline) {
                c = started;
                m_b.UpdateEdge(out.edge, c, Precision::Confusion());
            }
            out.b -= shift;
        }
    if (!c.IsNull() && !c->IsPeriodic()) {
        // A spline's end knots bound the range (QELXRangeHeldIn): a domain
        // past them by up to a thousandth of the curve's span is held in
        // (the vertex there is widened to the curve's end, below); one
        // further past is refused, naming the edge.
        const double first = c->FirstParameter(), last = c->LastParameter();
        if (!QELXRangeHeldIn(first, last, w0, w1)) {
            const double past = std::max(first - w0, w1 - last) / std::abs(last - first);
            throw std::runtime_error("edge " + std::to_string(index) + ": its range runs past its curve's " +
                                     (first - w0 >= w1 - last ? "start" : "end") + " by " + std::to_string(past) +
                                     " of the curve's span, more than can be held in");
        }
        QELXRangeAsHeldIn(first, last, w0, w1);
        if (!(w1 > w0))
            throw std::runtime_error("edge " + std::to_string(index) + ": its range lies outside its curve");
    }
    m_b.Range(out.edge, w0, w1);
    if (!start.IsNull())
        m_b.Add(out.edge, start.Oriented(TopAbs_FORWARD));
    if (!end.IsNull())
        m_b.Add(out.edge, end.Oriented(TopAbs_REVERSED));
    if (!c.IsNull()) {
        if (!start.IsNull())
            widenVertex(start, c->Value(w0));
        if (!end.IsNull())
            widenVertex(end, c->Value(w1));
    }
    return m_edges.emplace(index, out).first->second;
}

// The built edge as the seam fixes of the faces built before left it: an
// edge a fix replaced (by a copy carrying the pcurves it had then) is built
// on in its replacement, which then takes this face's pcurves too; else the
// replacement, put in at the end, would hold none on this face.
ShapeBuilder::BuiltEdge& ShapeBuilder::fixedEdge(int index)
{
    BuiltEdge& e = edge(index);
    if (m_reshaped && m_replaced->IsRecorded(e.edge)) {
        const TopoDS_Shape now = m_replaced->Value(e.edge);
        if (!now.IsNull() && now.ShapeType() == TopAbs_EDGE && now.Orientation() == e.edge.Orientation())
            e.edge = TopoDS::Edge(now);
    }
    return e;
}

// The coedge's pcurve on the built edge's parameter w, in the built
// surface's parameters.
Handle(Geom2d_Curve) ShapeBuilder::pcurve(int coedge, const BuiltEdge& edge, const Affine2& toSurface)
{
    const qelx_test::TestCoedge& c = m_m.coedges[static_cast<std::size_t>(coedge)];
    if (c.pcurve < 0 || c.pcurve >= static_cast<int>(m_m.pcurves.size()))
        return {};
    const qelx_test::TestPCurve& p = m_m.pcurves[static_cast<std::size_t>(c.pcurve)];
    const TestNurbs& n = p.nurbs;
    checkNurbs(n, 2, n.count, n.degree, n.knots, n.mults, "pcurve");
    if (n.ctrl.size() != static_cast<std::size_t>(2 * n.count) ||
        (!n.weights.empty() && n.weights.size() != static_cast<std::size_t>(n.count)))
        throw std::runtime_error("a pcurve's spline data is not valid");
    // Spline parameter q = alpha w + beta: q = scale (+-tau) + offset,
    // tau = +-t, t = (w - b) / a.
    const double sigma = (c.sense ? 1.0 : -1.0) * (c.pcurveSense ? 1.0 : -1.0);
    const double alpha = p.scale * sigma / edge.a, beta = p.offset - p.scale * sigma * edge.b / edge.a;
    if (alpha == 0.0 || !std::isfinite(alpha))
        throw std::runtime_error("a pcurve has no length");
    const int nk = static_cast<int>(n.knots.size());
    TColgp_Array1OfPnt2d poles(1, n.count);
    TColStd_Array1OfReal weights(1, n.count), knots(1, nk);
    TColStd_Array1OfInteger mults(1, nk);
    const bool reverse = alpha < 0.0;
    for (int i = 0; i < n.count; ++i) {
        const int at = reverse ? n.count - i : i + 1;
        poles(at) = toSurface.apply(n.ctrl[2 * i], n.ctrl[2 * i + 1]);
        weights(at) = n.weights.empty() ? 1.0 : n.weights[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < nk; ++i) {
        const int at = reverse ? nk - i : i + 1;
        knots(at) = (n.knots[static_cast<std::size_t>(i)] - beta) / alpha;
        mults(at) = n.mults[static_cast<std::size_t>(i)];
    }
    // A pcurve whose ends fall a rounding short of the edge's range (a fit
    // over the range its vertices gave) is stretched onto it: the checker
    // wants the range inside the pcurve's. A kernel's fits fall up to a few
    // millionths of the range short (a sample's spline edge on a cylinder,
    // 1.6e-6, was written with its range past its pcurve's); stretched by a
    // hundred-thousandth, a pcurve strays by as much of its length at most,
    // which the edge's measured tolerance then takes in.
    double w0 = 0.0, w1 = 0.0;
    BRep_Tool::Range(edge.edge, w0, w1);
    const double k0 = knots(1), k1 = knots(nk), slack = 1e-5 * (w1 - w0);
    if (w1 > w0 && k1 > k0 && (k0 > w0 || k1 < w1) && k0 - w0 <= slack && w1 - k1 <= slack &&
        w0 - k0 <= slack && k1 - w1 <= slack)
        for (int i = 1; i <= nk; ++i)
            knots(i) = i == 1 ? w0 : i == nk ? w1 : w0 + (knots(i) - k0) * (w1 - w0) / (k1 - k0);
    // The knots moved onto the edge's parameter may have run together (an
    // edge far longer than its pcurve's range) or past every real.
    const char* fault = splineFault(n.degree, Geom2d_BSplineCurve::MaxDegree(), n.count, knots, mults);
    for (int i = 1; !fault && i <= n.count; ++i) {
        const double xy[2] = {poles(i).X(), poles(i).Y()};
        fault = valuesFault(xy, 2, &weights(i), 1);
    }
    if (fault)
        throw std::runtime_error(std::string("a pcurve's spline data is not valid: ") + fault);
    if (n.weights.empty())
        return new Geom2d_BSplineCurve(poles, knots, mults, n.degree);
    return new Geom2d_BSplineCurve(poles, weights, knots, mults, n.degree);
}

namespace {
// A copy of the curve moved by whole periods of the surface so that its
// point at `w` lies nearest `target`.
Handle(Geom2d_Curve) movedToward(const Handle(Geom2d_Curve)& c, const Handle(Geom_Surface)& surface, double w,
                                 const gp_Pnt2d& target)
{
    const gp_Pnt2d at = c->Value(w);
    // Whole periods to the nearest place; a tie (a curve on the box's side,
    // the target at its middle) keeps the curve where it is.
    const auto periods = [](double gap, double period) {
        const double k = gap / period;
        const double lower = std::floor(k), upper = std::ceil(k);
        if (std::abs((k - lower) - (upper - k)) < 1e-9)
            return std::abs(lower) < std::abs(upper) ? lower : upper;
        return k - lower < upper - k ? lower : upper;
    };
    gp_Vec2d by(0.0, 0.0);
    if (surface->IsUPeriodic())
        by.SetX(periods(target.X() - at.X(), surface->UPeriod()) * surface->UPeriod());
    if (surface->IsVPeriodic())
        by.SetY(periods(target.Y() - at.Y(), surface->VPeriod()) * surface->VPeriod());
    if (by.Magnitude() == 0.0)
        return c;
    Handle(Geom2d_Curve) out = Handle(Geom2d_Curve)::DownCast(c->Copy());
    out->Translate(by);
    return out;
}

// The use's parameter where it starts and where it ends.
void endsOf(const TopoDS_Edge& use, double& first, double& last)
{
    BRep_Tool::Range(use, first, last);
    if (use.Orientation() == TopAbs_REVERSED)
        std::swap(first, last);
}
} // namespace

// Whether the surface collapses to one point between `a` and `b`, `jump`
// apart in its parameters (a pole, an apex): their points and the one
// halfway lie within a millionth of a length of one another, and within a
// thousandth of what the jump would carry a point at the surface's speed
// there. The first alone took a jump a vertex's tolerance covers on a small
// model for a pole (a sample's spline face in metres, 3e-5 across its
// parameters at a speed of 0.02, its ends 5e-7 apart): a degenerate edge off
// any pole, which an IGES file holds as one point and its reader turns into a
// spike the face's loop crosses.
bool collapsesBetween(const Handle(Geom_Surface)& surface, const gp_Pnt2d& a, const gp_Pnt2d& b, double jump)
{
    const gp_Pnt pa = surface->Value(a.X(), a.Y()), pb = surface->Value(b.X(), b.Y());
    const gp_Pnt pm = surface->Value((a.X() + b.X()) / 2, (a.Y() + b.Y()) / 2);
    const double apart = std::max(pa.Distance(pb), pa.Distance(pm));
    if (apart > 1e-6)
        return false;
    double speed = 0.0;
    for (const gp_Pnt2d& at : {a, b}) {
        gp_Pnt p;
        gp_Vec du, dv;
        surface->D1(at.X(), at.Y(), p, du, dv);
        speed = std::max({speed, du.Magnitude(), dv.Magnitude()});
    }
    return apart <= 1e-3 * jump * speed;
}

// Whether the surface is singular at (u, v): a pole or an apex, where a
// loop may jump in the parameter plane without leaving the point.
bool singularAt(const Handle(Geom_Surface)& surface, const gp_Pnt2d& uv)
{
    gp_Pnt p;
    gp_Vec du, dv;
    surface->D1(uv.X(), uv.Y(), p, du, dv);
    const double scale = std::max({du.Magnitude(), dv.Magnitude(), 1e-300});
    return du.Magnitude() <= 1e-9 * scale || dv.Magnitude() <= 1e-9 * scale;
}

// Whether the use's pcurve, through the surface, runs the way its edge's
// curve runs at edge parameter `w` (a pcurve running against its edge says
// nothing of the side its face is on).
bool ShapeBuilder::alongItsEdge(const Use& use, const Handle(Geom_Surface)& surface, double w)
{
    double f = 0.0, l = 0.0;
    const Handle(Geom_Curve) curve = BRep_Tool::Curve(use.edge, f, l);
    if (curve.IsNull())
        return false;
    gp_Pnt p;
    gp_Vec along, du, dv;
    curve->D1(w, p, along);
    gp_Pnt2d uv;
    gp_Vec2d d;
    use.pcurve->D1(w, uv, d);
    surface->D1(uv.X(), uv.Y(), p, du, dv);
    return (du * d.X() + dv * d.Y()).Dot(along) > 0.0;
}

// Whether the use `i`'s pcurve, where the model gives it, meets its
// neighbours' in the loop rather than lying a period or more across `by`
// from one of them (joins at a pole, where any u meets, say nothing).
bool ShapeBuilder::joinsItsNeighbours(const std::vector<Use>& uses, const std::vector<Handle(Geom2d_Curve)>& given,
                                      std::size_t i, const Handle(Geom_Surface)& surface, const gp_Vec2d& by)
{
    const std::size_t n = uses.size();
    const auto end = [&](std::size_t k, bool last) {
        double first = 0.0, final = 0.0;
        endsOf(uses[k].edge, first, final);
        return given[k]->Value(last ? final : first);
    };
    for (const std::size_t other : {(i + n - 1) % n, (i + 1) % n}) {
        if (other == i || given[other].IsNull())
            continue;
        const bool before = other == (i + n - 1) % n;
        const gp_Pnt2d here = end(i, !before), there = end(other, before);
        if (singularAt(surface, here))
            continue;
        if (std::abs(gp_Vec2d(here, there).Dot(by)) >= 0.5 * by.SquareMagnitude())
            return false;
    }
    return true;
}

// Returns whether some seam's second pcurve, as the model gives it, lay
// one period from the first on the side away from the face: the face then
// runs against its loop (turned, it bounds the rest of its surface), which
// placing that pcurve on the face's side would hide. Only where the model's
// pcurves join up along the loop at both uses of the seam: a loop whose
// pcurves each lie in a period of their own (as a refit leaves them) says
// nothing of the side by where its seam's two lie, and its winding, once
// placed, judges it.
bool ShapeBuilder::alignAlongLoop(std::vector<Use>& uses, const std::set<int>& seams,
                                  const Handle(Geom_Surface)& surface, const Bnd_Box2d& box)
{
    bool against = false;
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    box.Get(x0, y0, x1, y1);
    const gp_Pnt2d centre((x0 + x1) / 2, (y0 + y1) / 2);
    const std::size_t n = uses.size();
    std::vector<bool> placed(n, false);
    std::vector<Handle(Geom2d_Curve)> asGiven(n);
    for (std::size_t i = 0; i < n; ++i)
        asGiven[i] = uses[i].pcurve;
    // The first seam's forward use is the anchor; its reversed use lies one
    // period away on the side the face is on (the forward use's left). Any
    // other seam (a torus face's loop may hold both) is placed along the loop
    // from there, as the other uses are: set on its own by the box's centre,
    // it may lie a period off the anchor's window, and the loop would break.
    // Each seam's pcurves as the model gives them are judged alike.
    std::size_t anchor = n;
    for (std::size_t i = 0; i < n; ++i) {
        Use& use = uses[i];
        if (use.pcurve.IsNull() || !seams.count(use.modelEdge) || use.edge.Orientation() != TopAbs_FORWARD)
            continue;
        double first = 0.0, last = 0.0;
        endsOf(use.edge, first, last);
        const double middle = (first + last) / 2;
        const gp_Pnt2d given = use.pcurve->Value(middle);
        const bool anchoring = anchor == n;
        if (anchoring) {
            use.pcurve = movedToward(use.pcurve, surface, middle, centre);
            placed[i] = true;
            anchor = i;
        }
        gp_Pnt2d at;
        gp_Vec2d tangent;
        use.pcurve->D1((first + last) / 2, at, tangent);
        const gp_Vec2d left(-tangent.Y(), tangent.X());
        const bool acrossU = std::abs(left.X()) >= std::abs(left.Y()) && surface->IsUPeriodic();
        gp_Vec2d by = acrossU ? gp_Vec2d(surface->UPeriod(), 0.0)
                              : gp_Vec2d(0.0, surface->IsVPeriodic() ? surface->VPeriod() : 0.0);
        if (by.Dot(left) < 0.0)
            by.Reverse();
        for (std::size_t j = 0; j < n; ++j)
            if (uses[j].modelEdge == use.modelEdge && uses[j].edge.Orientation() == TopAbs_REVERSED) {
                if (!uses[j].pcurve.IsNull() && by.Magnitude() > 0.0 && alongItsEdge(use, surface, middle) &&
                    alongItsEdge(uses[j], surface, middle) && joinsItsNeighbours(uses, asGiven, i, surface, by) &&
                    joinsItsNeighbours(uses, asGiven, j, surface, by)) {
                    // Where the model put it, against the period across.
                    const gp_Vec2d apart(given, uses[j].pcurve->Value(middle));
                    const double across = apart.Dot(by) / by.SquareMagnitude();
                    against = against || (std::abs(across + 1.0) < 1e-6 &&
                                           std::abs(apart.Crossed(by)) < 1e-6 * by.SquareMagnitude());
                }
                if (!anchoring)
                    continue;
                Handle(Geom2d_Curve) other = Handle(Geom2d_Curve)::DownCast(use.pcurve->Copy());
                other->Translate(by);
                uses[j].pcurve = other;
                placed[j] = true;
            }
    }
    if (anchor == n) {
        for (anchor = 0; anchor < n && uses[anchor].pcurve.IsNull(); ++anchor) {
        }
        if (anchor == n)
            return against;
        double first = 0.0, last = 0.0;
        endsOf(uses[anchor].edge, first, last);
        uses[anchor].pcurve = movedToward(uses[anchor].pcurve, surface, (first + last) / 2, centre);
        placed[anchor] = true;
    }
    // Each use starts where the one before ends, unless they meet at a pole;
    // then backwards: each use ends where the one after starts.
    for (std::size_t k = 1; k < n; ++k) {
        const Use& before = uses[(anchor + k - 1) % n];
        const std::size_t i = (anchor + k) % n;
        if (placed[i] || uses[i].pcurve.IsNull() || !placed[(anchor + k - 1) % n] || before.pcurve.IsNull())
            continue;
        double f0 = 0.0, l0 = 0.0, first = 0.0, last = 0.0;
        endsOf(before.edge, f0, l0);
        endsOf(uses[i].edge, first, last);
        const gp_Pnt2d end = before.pcurve->Value(l0);
        if (singularAt(surface, end))
            continue;
        uses[i].pcurve = movedToward(uses[i].pcurve, surface, first, end);
        placed[i] = true;
    }
    for (std::size_t k = n; k-- > 1;) {
        const std::size_t i = (anchor + k) % n, after = (anchor + k + 1) % n;
        if (placed[i] || uses[i].pcurve.IsNull())
            continue;
        double first = 0.0, last = 0.0, f1 = 0.0, l1 = 0.0;
        endsOf(uses[i].edge, first, last);
        if (placed[after] && !uses[after].pcurve.IsNull()) {
            endsOf(uses[after].edge, f1, l1);
            const gp_Pnt2d start = uses[after].pcurve->Value(f1);
            if (!singularAt(surface, start)) {
                uses[i].pcurve = movedToward(uses[i].pcurve, surface, last, start);
                placed[i] = true;
                continue;
            }
        }
        uses[i].pcurve = movedToward(uses[i].pcurve, surface, (first + last) / 2, centre);
        placed[i] = true;
    }
    return against;
}

// A loop that passes a pole goes along it (the collapsed edge the face gets
// there) as a face's outer loop runs in the parameter plane, the face to
// its left: towards higher u at the pole of lower v, towards lower u at the
// pole of higher v. Where it meets poles more than once, the stretches
// between them are each placed along the loop so (whole periods in u): a
// loop from pole to pole round three quarters of a sphere, its second
// meridian placed a quarter turn back rather than three on, would bound the
// other quarter, inside out. Loops with a seam are left as the seam places
// them.
void ShapeBuilder::turnRoundPoles(std::vector<Use>& uses, const std::set<int>& seams,
                                  const Handle(Geom_Surface)& surface)
{
    if (!surface->IsUPeriodic() || uses.size() < 2)
        return;
    const double period = surface->UPeriod();
    std::vector<std::size_t> afterPole; // uses that start where the one before ends at a pole
    double vLow = 0.0, vHigh = 0.0;
    bool any = false;
    for (std::size_t i = 0; i < uses.size(); ++i) {
        const Use& here = uses[i];
        const Use& next = uses[(i + 1) % uses.size()];
        if (here.pcurve.IsNull() || next.pcurve.IsNull() || seams.count(here.modelEdge))
            return;
        double f0 = 0.0, l0 = 0.0, f1 = 0.0, l1 = 0.0;
        endsOf(here.edge, f0, l0);
        endsOf(next.edge, f1, l1);
        const gp_Pnt2d a = here.pcurve->Value(l0), b = next.pcurve->Value(f1);
        for (const gp_Pnt2d& p : {here.pcurve->Value(f0), a}) {
            vLow = any ? std::min(vLow, p.Y()) : p.Y();
            vHigh = any ? std::max(vHigh, p.Y()) : p.Y();
            any = true;
        }
        // A pole: the surface collapses along u there.
        gp_Pnt at;
        gp_Vec du, dv;
        surface->D1(a.X(), a.Y(), at, du, dv);
        if (std::abs(b.X() - a.X()) > 1e-9 * period && du.Magnitude() <= 1e-9 * std::max(dv.Magnitude(), 1e-300))
            afterPole.push_back((i + 1) % uses.size());
    }
    if (afterPole.size() < 2)
        return;
    // The first stretch stays; each one after it moves to meet the one
    // before as the pole it passes asks.
    for (std::size_t k = 1; k < afterPole.size(); ++k) {
        const std::size_t start = afterPole[k], end = afterPole[(k + 1) % afterPole.size()];
        const Use& before = uses[(start + uses.size() - 1) % uses.size()];
        double f0 = 0.0, l0 = 0.0, f1 = 0.0, l1 = 0.0;
        endsOf(before.edge, f0, l0);
        endsOf(uses[start].edge, f1, l1);
        const gp_Pnt2d a = before.pcurve->Value(l0), b = uses[start].pcurve->Value(f1);
        const bool lowPole = a.Y() - vLow < vHigh - a.Y();
        // The step along the pole within (0, period] up, [-period, 0) down.
        const double step = b.X() - a.X();
        const double wanted = lowPole ? step - period * std::ceil(step / period - 1.0)
                                      : step - period * std::floor(step / period + 1.0);
        const double by = wanted - step;
        if (std::abs(by) < 0.5 * period)
            continue;
        for (std::size_t i = start; i != end; i = (i + 1) % uses.size()) {
            Handle(Geom2d_Curve) moved = Handle(Geom2d_Curve)::DownCast(uses[i].pcurve->Copy());
            moved->Translate(gp_Vec2d(by, 0.0));
            uses[i].pcurve = moved;
        }
    }
}

namespace {
// How far a pcurve strays from its edge's curve at the same parameters
// (what Open CASCADE's checker asks of it), and how far it lies in the
// parameter plane from another pcurve of the edge at the same parameters.
struct PCurveGap {
    double stray = 0.0, apart = 0.0;
};

PCurveGap pcurveGap(const Handle(Geom_Curve)& curve, const Handle(Geom2d_Curve)& pc,
                    const Handle(Geom2d_Curve)& other, const Handle(Geom_Surface)& surface, double w0, double w1)
{
    // A line, its pcurve and another a line, on a plane: each gap is affine
    // in w, so widest at an end.
    const bool affine = curve->IsKind(STANDARD_TYPE(Geom_Line)) && pc->IsKind(STANDARD_TYPE(Geom2d_Line)) &&
                        (other.IsNull() || other->IsKind(STANDARD_TYPE(Geom2d_Line))) &&
                        surface->IsKind(STANDARD_TYPE(Geom_Plane));
    const int samples = affine ? 1 : 32;
    PCurveGap gap;
    for (int k = 0; k <= samples; ++k) {
        const double w = w0 + (w1 - w0) * k / samples;
        const gp_Pnt2d uv = pc->Value(w);
        gap.stray = std::max(gap.stray, curve->Value(w).Distance(surface->Value(uv.X(), uv.Y())));
        if (!other.IsNull())
            gap.apart = std::max(gap.apart, uv.Distance(other->Value(w)));
    }
    return gap;
}
} // namespace

// Where the model's 3-D curves are authoritative, its pcurves on an
// elementary surface may be fits that stray from them within the sender's
// fit tolerance (a circle on a sphere the kernel fitted): the face would
// then be bounded a fit's width off its edges, and its area with it. Such a
// pcurve gives way to the curve's own projection, moved by whole periods to
// where the given one lies, when that lies closer to the curve and runs
// beside the given one all along (not round a pole or across a period).
// Only lines and conics are projected: onto an elementary surface their
// projection is the exact inverse, while a free-form curve's is itself a
// fit, no better than the given one and costly (on a torus it cost twenty
// times the rest of the write).
void ShapeBuilder::projectStrayPCurves(std::vector<Use>& uses, const Handle(Geom_Surface)& surface)
{
    const auto exactlyProjected = [](Handle(Geom_Curve) c) {
        while (c->IsKind(STANDARD_TYPE(Geom_TrimmedCurve)))
            c = Handle(Geom_TrimmedCurve)::DownCast(c)->BasisCurve();
        return c->IsKind(STANDARD_TYPE(Geom_Line)) || c->IsKind(STANDARD_TYPE(Geom_Conic));
    };
    std::map<int, Handle(Geom2d_Curve)> projected; // per model edge; null where none is better
    for (Use& use : uses) {
        const BuiltEdge& built = m_edges[use.modelEdge];
        if (use.pcurve.IsNull() || built.curveless)
            continue;
        double w0 = 0.0, w1 = 0.0;
        Handle(Geom_Curve) curve = BRep_Tool::Curve(built.edge, w0, w1);
        if (curve.IsNull() || !exactlyProjected(curve))
            continue;
        const double given = pcurveGap(curve, use.pcurve, {}, surface, w0, w1).stray;
        if (given <= Precision::Confusion())
            continue;
        auto [it, fresh] = projected.try_emplace(use.modelEdge);
        if (fresh) {
            Handle(Geom2d_Curve) made;
            try {
                double tolerance = Precision::Confusion();
                made = GeomProjLib::Curve2d(curve, w0, w1, surface, tolerance);
            } catch (const Standard_Failure&) {
                made.Nullify();
            }
            if (!made.IsNull() && pcurveGap(curve, made, {}, surface, w0, w1).stray < given)
                it->second = made;
        }
        if (it->second.IsNull())
            continue;
        const double wm = (w0 + w1) / 2;
        const Handle(Geom2d_Curve) placed = movedToward(it->second, surface, wm, use.pcurve->Value(wm));
        const double period = std::min(surface->IsUPeriodic() ? surface->UPeriod() : Precision::Infinite(),
                                       surface->IsVPeriodic() ? surface->VPeriod() : Precision::Infinite());
        if (pcurveGap(curve, placed, use.pcurve, surface, w0, w1).apart < 0.05 * period)
            use.pcurve = placed;
    }
}

// A line lying in the plane as its image in the plane's parameters (lengths
// along the plane's axes), on the line's own parameter: exact, and what
// Open CASCADE's projection onto the plane gives but for its cost; null for
// any other curve and for a line across the plane.
Handle(Geom2d_Curve) lineOnPlane(const Handle(Geom_Curve)& curve, const gp_Pln& plane)
{
    const Handle(Geom_Line) line = Handle(Geom_Line)::DownCast(curve);
    if (line.IsNull())
        return {};
    const gp_Ax3& frame = plane.Position();
    const gp_Dir& d = line->Position().Direction();
    if (std::abs(d.Dot(frame.Direction())) > 1e-12)
        return {};
    double u = 0.0, v = 0.0;
    ElSLib::Parameters(plane, line->Position().Location(), u, v);
    return new Geom2d_Line(gp_Pnt2d(u, v), gp_Dir2d(d.Dot(frame.XDirection()), d.Dot(frame.YDirection())));
}

// The pcurves of a coedge the model gives none: the edge's curve projected
// onto the surface, moved by whole periods into the face's box; on a seam
// one copy at each side of the box, each given to the orientation that has
// the face on its left.
void ShapeBuilder::placePCurves(const TopoDS_Edge& edge, const TopoDS_Face& face, const Bnd_Box2d& box, bool seam,
                                std::pair<Handle(Geom2d_Curve), Handle(Geom2d_Curve)>& pcs)
{
    double w0 = 0.0, w1 = 0.0;
    Handle(Geom_Curve) curve = BRep_Tool::Curve(edge, w0, w1);
    if (curve.IsNull())
        return;
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
    // Open CASCADE's own projection onto the face: onto a plane, the one its
    // tools make of an edge that has none stored there; elsewhere its fix
    // (which leaves the pcurve on the edge; what is placed below replaces it).
    double f = 0.0, l = 0.0;
    Handle(Geom2d_Curve) projected;
    if (!seam && surface->IsKind(STANDARD_TYPE(Geom_Plane))) {
        // A line in the plane is its own exact image, made at once.
        if (const Handle(Geom2d_Curve) exact = lineOnPlane(curve, Handle(Geom_Plane)::DownCast(surface)->Pln())) {
            pcs.first = exact;
            return;
        }
        projected = BRep_Tool::CurveOnPlane(edge, surface, TopLoc_Location(), f, l);
    }
    if (projected.IsNull()) {
        ShapeFix_Edge().FixAddPCurve(edge, face, Standard_False, Precision::Confusion());
        projected = BRep_Tool::CurveOnSurface(edge, face, f, l);
    }
    if (projected.IsNull())
        return;
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    box.Get(x0, y0, x1, y1);
    const gp_Pnt2d centre((x0 + x1) / 2, (y0 + y1) / 2);
    const double wm = (w0 + w1) / 2;
    // A copy moved by whole periods so that its middle lies nearest `target`
    // (a copy even where it stays: the two sides of a seam are two curves).
    const auto shifted = [&](const Handle(Geom2d_Curve)& c, const gp_Pnt2d& target) {
        const Handle(Geom2d_Curve) moved = movedToward(c, surface, wm, target);
        return moved == c ? Handle(Geom2d_Curve)::DownCast(c->Copy()) : moved;
    };
    if (!seam) {
        pcs.first = shifted(projected, centre);
        return;
    }
    // A seam runs along one of the box's sides: one copy there, one at the other.
    const gp_Pnt2d mid = projected->Value(wm);
    gp_Vec2d tangent;
    gp_Pnt2d at;
    projected->D1(wm, at, tangent);
    const bool alongV = std::abs(tangent.Y()) >= std::abs(tangent.X());
    const gp_Pnt2d low = alongV ? gp_Pnt2d(x0, mid.Y()) : gp_Pnt2d(mid.X(), y0);
    const gp_Pnt2d high = alongV ? gp_Pnt2d(x1, mid.Y()) : gp_Pnt2d(mid.X(), y1);
    const Handle(Geom2d_Curve) a = shifted(projected, low), b = shifted(projected, high);
    // Forward, the edge runs with the face on its left.
    a->D1(wm, at, tangent);
    const gp_Vec2d left(-tangent.Y(), tangent.X());
    const bool aForward = left.Dot(gp_Vec2d(at, centre)) > 0.0;
    pcs.first = aForward ? a : b;
    pcs.second = aForward ? b : a;
}

// The seam and poles that bound a surface of revolution over its whole turn
// between the face's box's ends in v, when the meridian meets the axis at
// both; a null wire for any other surface or box.
TopoDS_Wire poleToPole(const Handle(Geom_Surface)& surface, const Bnd_Box2d& box)
{
    if (!surface->IsKind(STANDARD_TYPE(Geom_SurfaceOfRevolution)) || box.IsVoid())
        return TopoDS_Wire();
    double u0 = 0.0, v0 = 0.0, u1 = 0.0, v1 = 0.0;
    box.Get(u0, v0, u1, v1);
    const BRepBuilderAPI_MakeFace whole(surface, 0.0, 2.0 * M_PI, v0, v1, Precision::Confusion());
    if (!whole.IsDone())
        return TopoDS_Wire();
    int poles = 0;
    for (TopExp_Explorer e(whole.Face(), TopAbs_EDGE); e.More(); e.Next())
        poles += BRep_Tool::Degenerated(TopoDS::Edge(e.Current())) ? 1 : 0;
    return poles == 2 ? BRepTools::OuterWire(whole.Face()) : TopoDS_Wire();
}

// A face's wires on a periodic surface in one period window: each inner
// wire whose pcurves' box lies outside the outer wire's (the one with a seam,
// else the widest) moves by the whole periods that put it inside, where that
// fits. Loops are placed one by one, and the seam Open CASCADE adds to a
// belted face falls where the belt's vertices lie, which in a turned or
// mirrored frame need not be the window the holes were placed in: the face
// would then hold its holes a period outside it (InvalidImbricationOfWires).
void holesIntoOuterWindow(const TopoDS_Face& face, const Handle(Geom_Surface)& surface)
{
    if (!surface->IsUPeriodic() && !surface->IsVPeriodic())
        return;
    struct Placed {
        TopoDS_Wire wire;
        double u0 = 0.0, u1 = 0.0, v0 = 0.0, v1 = 0.0;
        bool seam = false;
    };
    std::vector<Placed> wires;
    for (TopoDS_Iterator it(face); it.More(); it.Next()) {
        if (it.Value().ShapeType() != TopAbs_WIRE)
            continue;
        Placed w;
        w.wire = TopoDS::Wire(it.Value());
        for (TopoDS_Iterator e(w.wire); e.More() && !w.seam; e.Next())
            w.seam = e.Value().ShapeType() == TopAbs_EDGE && BRep_Tool::IsClosed(TopoDS::Edge(e.Value()), face);
        BRepTools::UVBounds(face, w.wire, w.u0, w.u1, w.v0, w.v1);
        wires.push_back(w);
    }
    if (wires.size() < 2)
        return;
    const auto widerOuter = [](const Placed& a, const Placed& b) {
        if (a.seam != b.seam)
            return b.seam;
        return (a.u1 - a.u0) * (a.v1 - a.v0) < (b.u1 - b.u0) * (b.v1 - b.v0);
    };
    const auto outer = std::max_element(wires.begin(), wires.end(), widerOuter);
    // The whole periods that put [lo, hi] inside [o0, o1]: 0 where it is
    // already, none where no shift does.
    const auto periodsInto = [](double lo, double hi, double o0, double o1, double period) -> std::optional<double> {
        const double slack = 1e-9 * period;
        if (lo >= o0 - slack && hi <= o1 + slack)
            return 0.0;
        const double k = std::ceil((o0 - slack - lo) / period);
        if (hi + k * period <= o1 + slack)
            return k;
        return std::nullopt;
    };
    for (auto w = wires.begin(); w != wires.end(); ++w) {
        if (w == outer || w->seam)
            continue;
        gp_Vec2d by(0.0, 0.0);
        bool fits = true;
        if (surface->IsUPeriodic()) {
            const auto k = periodsInto(w->u0, w->u1, outer->u0, outer->u1, surface->UPeriod());
            fits = fits && k.has_value();
            by.SetX(k.value_or(0.0) * surface->UPeriod());
        }
        if (surface->IsVPeriodic()) {
            const auto k = periodsInto(w->v0, w->v1, outer->v0, outer->v1, surface->VPeriod());
            fits = fits && k.has_value();
            by.SetY(k.value_or(0.0) * surface->VPeriod());
        }
        if (!fits || by.Magnitude() == 0.0)
            continue;
        BRep_Builder builder;
        for (TopoDS_Iterator e(w->wire); e.More(); e.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(e.Value());
            double f = 0.0, l = 0.0;
            const Handle(Geom2d_Curve) pc = BRep_Tool::CurveOnSurface(edge, face, f, l);
            if (pc.IsNull())
                continue;
            const Handle(Geom2d_Curve) moved = Handle(Geom2d_Curve)::DownCast(pc->Copy());
            moved->Translate(by);
            builder.UpdateEdge(edge, moved, face, BRep_Tool::Tolerance(edge));
        }
    }
}

// Whether the surface runs without end in some direction of its parameters
// (a plane, a cylinder, a cone, a curve's extrusion): a face there is the
// region its loops hold inside, never the rest of the surface.
bool unbounded(const Handle(Geom_Surface)& surface)
{
    return surface->IsKind(STANDARD_TYPE(Geom_Plane)) || surface->IsKind(STANDARD_TYPE(Geom_CylindricalSurface)) ||
           surface->IsKind(STANDARD_TYPE(Geom_ConicalSurface)) ||
           surface->IsKind(STANDARD_TYPE(Geom_SurfaceOfLinearExtrusion));
}

// The signed region the face's wires, as they run in the face turned
// forward, bound in the parameter plane: the integral of -v du round them,
// each curved pcurve taken as a polygon of `pieces` chords (a line as its
// one); nothing where no wire winds round in v and the wires' windings in u
// cancel (a band between two circles), where that integral is the region's
// signed area whatever the window.
std::optional<double> wiresRegion(const TopoDS_Face& face, int pieces)
{
    const TopoDS_Face forward = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(forward);
    double area = 0.0, across = 0.0, wound = 0.0, span = 0.0;
    for (TopoDS_Iterator w(forward); w.More(); w.Next()) {
        if (w.Value().ShapeType() != TopAbs_WIRE)
            continue;
        double du = 0.0, dv = 0.0;
        for (TopoDS_Iterator e(w.Value()); e.More(); e.Next()) {
            if (e.Value().ShapeType() != TopAbs_EDGE)
                continue;
            const TopoDS_Edge& edge = TopoDS::Edge(e.Value());
            const TopAbs_Orientation o = edge.Orientation();
            if (o != TopAbs_FORWARD && o != TopAbs_REVERSED)
                continue;
            double f = 0.0, l = 0.0;
            const Handle(Geom2d_Curve) pc = BRep_Tool::CurveOnSurface(edge, forward, f, l);
            if (pc.IsNull() || !(l > f) || Precision::IsInfinite(f) || Precision::IsInfinite(l))
                return std::nullopt;
            // A collapsed edge closes a loop at a pole; one that closes a
            // jump of whole periods elsewhere (a seam's two curves placed
            // on one side) is no part of the region.
            if (BRep_Tool::Degenerated(edge) && !singularAt(surface, pc->Value(0.5 * (f + l))))
                continue;
            const int chords = pc->IsKind(STANDARD_TYPE(Geom2d_Line)) ? 1 : pieces;
            double along = 0.0;
            gp_Pnt2d a = pc->Value(f);
            const gp_Pnt2d first = a;
            for (int k = 1; k <= chords; ++k) {
                const gp_Pnt2d b = pc->Value(f + (l - f) * k / chords);
                along -= 0.5 * (a.Y() + b.Y()) * (b.X() - a.X());
                span = std::max({span, std::abs(b.X()), std::abs(b.Y())});
                a = b;
            }
            const double sign = o == TopAbs_REVERSED ? -1.0 : 1.0;
            area += sign * along;
            across += std::abs(along);
            du += sign * (a.X() - first.X());
            dv += sign * (a.Y() - first.Y());
        }
        if (std::abs(dv) > 1e-6 * std::max(1.0, span))
            return std::nullopt;
        wound += du;
    }
    if (std::abs(wound) > 1e-6 * std::max(1.0, span))
        return std::nullopt;
    return area + 1e-9 * across;
}

// Whether the face's wires bound a negative region of the parameter plane
// (holes alone: the face would be the rest of its surface). Four chords a
// curved pcurve tell the sign of nearly every face; one found negative so is
// measured again with 32.
bool windsAsHoles(const TopoDS_Face& face)
{
    const std::optional<double> rough = wiresRegion(face, 4);
    if (!rough || *rough >= 0.0)
        return false;
    const std::optional<double> fine = wiresRegion(face, 32);
    return fine && *fine < 0.0;
}

// Whether a face on a sphere or torus covers more of it than lies within
// `box` (the face's box in the surface's parameters, as its source holds
// it). Either way round its loops a face there bounds a region, so a face
// turned against them is built as the rest of the surface: a valid face,
// and in a large body a valid solid of positive volume, but one that cannot
// fit in its box. A box reaching a sphere's pole takes every longitude (the
// kernel's box of a face holding a pole widens to the pole alone); a box
// wider than a period is held to the whole period. A band of a torus
// (`belted`: loops round it without a seam) is held to none: its loops
// alone do not say which of the two bands between them it is, nor does its
// box (the kernel's box of a band across the seam is the other band's). A
// face and its complement of equal areas, a hemisphere's, are not told
// apart so.
// The surface's area inside `box`, and the whole surface's, for a sphere or
// a torus held to its box (negative where the bound does not hold).
// A sphere or a torus: a surface closed all round, on which a face bounds a
// region whichever way round its loops it runs.
bool closedAllRound(const Handle(Geom_Surface)& surface)
{
    return surface->IsKind(STANDARD_TYPE(Geom_SphericalSurface)) ||
           surface->IsKind(STANDARD_TYPE(Geom_ToroidalSurface));
}

// A B-spline surface that closes on itself: each direction closed, or
// collapsed to a point at both its ends (a sphere's form: closed round,
// poles along). A face without loops on it is the whole surface.
bool splineClosedOnItself(const Handle(Geom_Surface)& surface)
{
    const Handle(Geom_BSplineSurface) spline = Handle(Geom_BSplineSurface)::DownCast(surface);
    if (spline.IsNull())
        return false;
    double u0 = 0.0, u1 = 0.0, v0 = 0.0, v1 = 0.0;
    spline->Bounds(u0, u1, v0, v1);
    const auto collapsed = [&](bool uIso, double at) {
        const gp_Pnt first = uIso ? spline->Value(at, v0) : spline->Value(u0, at);
        for (int k = 1; k <= 16; ++k) {
            const double t = k / 16.0;
            const gp_Pnt p = uIso ? spline->Value(at, v0 + t * (v1 - v0)) : spline->Value(u0 + t * (u1 - u0), at);
            if (p.Distance(first) > Precision::Confusion())
                return false;
        }
        return true;
    };
    const bool uWhole = spline->IsUClosed() || (collapsed(true, u0) && collapsed(true, u1));
    const bool vWhole = spline->IsVClosed() || (collapsed(false, v0) && collapsed(false, v1));
    return uWhole && vWhole;
}

std::pair<double, double> areaWithinBox(const Handle(Geom_Surface)& surface, const Bnd_Box2d& box, bool belted)
{
    if (box.IsVoid())
        return {-1.0, -1.0};
    double u0 = 0.0, v0 = 0.0, u1 = 0.0, v1 = 0.0;
    box.Get(u0, v0, u1, v1);
    const double du = std::min(u1 - u0, 2.0 * M_PI);
    // The surface's area inside the box: the integral of its element over it.
    if (const Handle(Geom_SphericalSurface) sphere = Handle(Geom_SphericalSurface)::DownCast(surface)) {
        // R^2 cos v du dv.
        const double top = std::min(v1, M_PI / 2), bottom = std::max(v0, -M_PI / 2);
        const double nearPole = 1e-6;
        const double around = top > M_PI / 2 - nearPole || bottom < -M_PI / 2 + nearPole ? 2.0 * M_PI : du;
        const double r = sphere->Radius();
        return {r * r * around * (std::sin(top) - std::sin(bottom)), 4.0 * M_PI * r * r};
    }
    if (const Handle(Geom_ToroidalSurface) torus = Handle(Geom_ToroidalSurface)::DownCast(surface);
        !torus.IsNull() && !belted) {
        // r (R + r cos v) du dv round a ring; where the tube crosses the axis
        // the element is at most r (|R| + r) (and the whole is not known here).
        const double big = torus->MajorRadius(), r = torus->MinorRadius();
        const double dv = std::min(v1 - v0, 2.0 * M_PI);
        if (big > r)
            return {r * du * (big * dv + (dv < 2.0 * M_PI ? r * (std::sin(v1) - std::sin(v0)) : 0.0)),
                    4.0 * M_PI * M_PI * big * r};
        return {r * (std::abs(big) + r) * du * dv, -1.0};
    }
    return {-1.0, -1.0};
}

// Whether a face of `area` covers more of its surface than its box holds
// (a thousandth over it: the box and the area's integration are fits).
bool coversMoreThan(double area, double within) { return within >= 0.0 && area > 1.001 * within + 1e-9; }

TopoDS_Face ShapeBuilder::face(int index)
{
    auto found = m_faces.find(index);
    if (found != m_faces.end())
        return found->second;
    if (index < 0 || index >= static_cast<int>(m_m.faces.size()))
        throw std::runtime_error("a shell names a face that does not exist");
    const qelx_test::TestFace& f = m_m.faces[static_cast<std::size_t>(index)];
    if (f.surface < 0)
        throw std::runtime_error("a face has no surface");
    const BuiltSurface& built = surface(f.surface);
    const qelx_test::TestSurface& s = m_m.surfaces[static_cast<std::size_t>(f.surface)];
    const Affine2 toSurface = built.map.afterDiagonal(s.uA * s.uB, s.uC, s.vA * s.vB, s.vC);
    // Material on the face's side of the model's normal (the canonical
    // frame's, turned by the flag); the built surface's turns with the map.
    const bool reversed = (built.map.det() > 0.0) != (s.flag == f.sense);
    TopoDS_Face out;
    if (f.loops.empty() && (closedAllRound(built.surface) || splineClosedOnItself(built.surface))) {
        // A face without loops on a closed surface (a full sphere or torus, a
        // spline closed on itself) is the whole surface: Open CASCADE bounds
        // it by its seams and poles.
        out = BRepBuilderAPI_MakeFace(built.surface, Precision::Confusion()).Face();
        out.Orientation(reversed ? TopAbs_REVERSED : TopAbs_FORWARD);
        m_sideUntold.insert(index); // the whole surface either way round
        return m_faces[index] = out;
    }
    // The face's box in the built surface's parameters.
    Bnd_Box2d box;
    for (double u : {f.uDomain[0], f.uDomain[1]})
        for (double v : {f.vDomain[0], f.vDomain[1]})
            box.Add(toSurface.apply(u, v));
    const TopoDS_Wire natural = poleToPole(built.surface, box);
    if (f.loops.empty() && !natural.IsNull()) {
        // So too a face without loops on a surface of revolution from pole
        // to pole (the whole surface, bounded by its seam and poles).
        m_b.MakeFace(out, built.surface, Precision::Confusion());
        m_b.Add(out, natural);
        out.Orientation(reversed ? TopAbs_REVERSED : TopAbs_FORWARD);
        m_sideUntold.insert(index);
        return m_faces[index] = out;
    }
    m_b.MakeFace(out, built.surface, Precision::Confusion());
    // Pcurves per edge by the orientation it has in the forward face: an edge
    // met both ways is a seam.
    std::map<int, std::pair<Handle(Geom2d_Curve), Handle(Geom2d_Curve)>> onFace;
    std::map<int, std::pair<bool, bool>> met;
    std::set<int> seams;
    std::vector<std::vector<Use>> loops;
    for (int l : f.loops) {
        const qelx_test::TestLoop& loop = m_m.loops[static_cast<std::size_t>(l)];
        if (loop.coedges.empty())
            continue; // a point loop: the face reaches its vertex
        std::vector<Use> uses;
        for (int c : loop.coedges) {
            const qelx_test::TestCoedge& co = m_m.coedges[static_cast<std::size_t>(c)];
            const BuiltEdge& e = fixedEdge(co.edge);
            const bool forward = (co.sense != e.flipped) != reversed;
            Use use;
            use.modelEdge = co.edge;
            use.edge = TopoDS::Edge(e.edge.Oriented(forward ? TopAbs_FORWARD : TopAbs_REVERSED));
            // A pcurve that cannot be built names its face.
            try {
                use.pcurve = pcurve(c, e, toSurface);
            } catch (const std::runtime_error& bad) {
                throw FaceFault{index, bad.what()};
            }
            auto& slot = onFace[co.edge];
            (forward ? slot.first : slot.second) = use.pcurve;
            auto& ways = met[co.edge];
            (forward ? ways.first : ways.second) = true;
            if (ways.first && ways.second)
                seams.insert(co.edge);
            uses.push_back(use);
        }
        if (reversed)
            std::reverse(uses.begin(), uses.end());
        loops.push_back(std::move(uses));
    }
    // Coedges the model gives no pcurve get the curve projected (each side of
    // a seam at its side of the face's box).
    for (auto& [e, pcs] : onFace)
        if ((pcs.first.IsNull() || pcs.second.IsNull()) && (pcs.first.IsNull() || seams.count(e)) &&
            (pcs.second.IsNull() || seams.count(e)) && !m_edges[e].curveless) {
            const bool seam = seams.count(e) > 0;
            std::pair<Handle(Geom2d_Curve), Handle(Geom2d_Curve)> placed;
            placePCurves(m_edges[e].edge, out, box, seam, placed);
            if (pcs.first.IsNull())
                pcs.first = placed.first;
            if (pcs.second.IsNull())
                pcs.second = seam ? placed.second : placed.first;
        }
    for (std::vector<Use>& uses : loops)
        for (Use& use : uses)
            if (use.pcurve.IsNull()) {
                const auto& pcs = onFace[use.modelEdge];
                use.pcurve = use.edge.Orientation() == TopAbs_FORWARD ? pcs.first : pcs.second;
            }
    // On a periodic surface the model's pcurves may each lie in a period of
    // their own: along each loop, every pcurve moves by whole periods to
    // start where the one before ends, the first into the face's box.
    if (built.surface->IsUPeriodic() || built.surface->IsVPeriodic())
        for (std::vector<Use>& uses : loops)
            if (alignAlongLoop(uses, seams, built.surface, box))
                throw FaceFault{index, "its sense is against its loops (a seam's two curves on the surface have the "
                                       "face outside them): it bounds the rest of its surface"};
    if (f.category == 2 && built.surface->IsKind(STANDARD_TYPE(Geom_ElementarySurface)))
        for (std::vector<Use>& uses : loops)
            projectStrayPCurves(uses, built.surface);
    for (std::vector<Use>& uses : loops)
        turnRoundPoles(uses, seams, built.surface);
    for (auto& [e, pcs] : onFace)
        pcs = {};
    for (const std::vector<Use>& uses : loops)
        for (const Use& use : uses)
            (use.edge.Orientation() == TopAbs_FORWARD ? onFace[use.modelEdge].first : onFace[use.modelEdge].second) =
                use.pcurve;
    for (auto& [e, pcs] : onFace) {
        const TopoDS_Edge& edge = m_edges[e].edge;
        if (seams.count(e) && !pcs.first.IsNull() && !pcs.second.IsNull())
            m_b.UpdateEdge(edge, pcs.first, pcs.second, out, Precision::Confusion());
        else if (!pcs.first.IsNull() || !pcs.second.IsNull())
            m_b.UpdateEdge(edge, pcs.first.IsNull() ? pcs.second : pcs.first, out, Precision::Confusion());
    }
    // The face's extent in its surface's parameters, from its pcurves over
    // their edges' ranges (a projected pcurve may be an unbounded line).
    double span = 0.0;
    {
        Bnd_Box2d box;
        for (const auto& [e, pcs] : onFace) {
            double w0 = 0.0, w1 = 0.0;
            BRep_Tool::Range(m_edges[e].edge, w0, w1);
            for (const Handle(Geom2d_Curve)& pc : {pcs.first, pcs.second})
                if (!pc.IsNull())
                    for (int k = 0; k <= 4; ++k)
                        box.Add(pc->Value(w0 + (w1 - w0) * k / 4.0));
        }
        if (!box.IsVoid()) {
            double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
            box.Get(x0, y0, x1, y1);
            span = std::max(x1 - x0, y1 - y0);
        }
    }
    bool belted = false;
    for (const std::vector<Use>& uses : loops) {
        TopoDS_Wire wire;
        m_b.MakeWire(wire);
        // Whether the loop's last use meets its first at a pole, through a
        // collapsed edge: closed in the parameter plane.
        bool closedAtPole = false;
        for (std::size_t i = 0; i < uses.size(); ++i) {
            const Use& here = uses[i];
            m_b.Add(wire, here.edge);
            const Use& next = uses[(i + 1) % uses.size()];
            if (here.pcurve.IsNull() || next.pcurve.IsNull())
                continue;
            // Where the loop jumps in the parameter plane at one point of the
            // surface (a pole, an apex), a degenerate edge closes it.
            double f0 = 0.0, l0 = 0.0, f1 = 0.0, l1 = 0.0;
            BRep_Tool::Range(here.edge, f0, l0);
            BRep_Tool::Range(next.edge, f1, l1);
            const gp_Pnt2d a = here.pcurve->Value(here.edge.Orientation() == TopAbs_FORWARD ? l0 : f0);
            const gp_Pnt2d b = next.pcurve->Value(next.edge.Orientation() == TopAbs_FORWARD ? f1 : l1);
            // A jump the size of a pcurve's rounding is left to the vertex's tolerance.
            const double jump = a.Distance(b);
            if (jump <= 1e-6 * span)
                continue;
            const TopoDS_Vertex at = TopExp::LastVertex(here.edge, Standard_True);
            if (at.IsNull() || !at.IsSame(TopExp::FirstVertex(next.edge, Standard_True)))
                continue;
            // Only where the surface itself collapses: a vertex the healing
            // widened covers a jump on a plane too, and a degenerate edge
            // there is no edge to a reader (one building the space curves
            // makes it a line, and the analyser refuses the shape).
            if (!collapsesBetween(built.surface, a, b, jump))
                continue;
            TopoDS_Edge degenerate;
            m_b.MakeEdge(degenerate);
            m_b.UpdateEdge(degenerate, new Geom2d_Line(a, gp_Dir2d(gp_Vec2d(a, b))), out, Precision::Confusion());
            m_b.Range(degenerate, 0.0, jump);
            m_b.Degenerated(degenerate, Standard_True);
            m_b.Add(degenerate, at.Oriented(TopAbs_FORWARD));
            m_b.Add(degenerate, at.Oriented(TopAbs_REVERSED));
            m_b.Add(wire, degenerate);
            closedAtPole = closedAtPole || i + 1 == uses.size();
        }
        // A loop whose every edge starts at the vertex the one before ends at
        // is closed (what Open CASCADE's test, a map of the wire's vertices,
        // finds of it too); any other is left to that test.
        bool chained = !uses.empty();
        for (std::size_t i = 0; chained && i < uses.size(); ++i) {
            const TopoDS_Vertex end = TopExp::LastVertex(uses[i].edge, Standard_True);
            chained = !end.IsNull() && end.IsSame(TopExp::FirstVertex(uses[(i + 1) % uses.size()].edge, Standard_True));
        }
        wire.Closed(chained || BRep_Tool::IsClosed(wire));
        m_b.Add(out, wire);
        // A loop that belts a periodic surface closes in space but not in
        // the parameter plane (the model needs no seam there).
        if (!uses.empty() && !uses.front().pcurve.IsNull() && !uses.back().pcurve.IsNull()) {
            double f0 = 0.0, l0 = 0.0, f1 = 0.0, l1 = 0.0;
            endsOf(uses.back().edge, f0, l0);
            endsOf(uses.front().edge, f1, l1);
            belted = belted || (!closedAtPole &&
                                uses.back().pcurve->Value(l0).Distance(uses.front().pcurve->Value(f1)) > 1e-6 * span);
        }
    }
    // A face of holes only on a surface of revolution from pole to pole is
    // the whole surface but for them: the seam and poles bound it. So too on
    // a sphere or torus, which close up all round: Open CASCADE's measures
    // and writers would keep the holes' insides (with a negative area).
    TopoDS_Wire whole = natural;
    if (whole.IsNull() && !belted && closedAllRound(built.surface))
        whole = BRepTools::OuterWire(BRepBuilderAPI_MakeFace(built.surface, Precision::Confusion()).Face());
    // Holes alone run clockwise in the parameter plane: the region their
    // loops bound there is negative. (Open CASCADE's own test of an outer
    // bound took a loop from pole to pole round three quarters of a sphere
    // for a hole, and the face became the other quarter, inside out.)
    if (!whole.IsNull() && !loops.empty() && wiresIntegral(out, [](double v) { return v; }) < 0.0)
        m_b.Add(out, whole);
    // Holes alone are refused (below); a band without a seam is judged
    // before the seam fix joins its loops, which makes a face of them
    // whichever way round they run: a cylinder's side turned against its
    // circles was then refused only as a shell turned against itself,
    // naming no face. Where the surface runs without end along its axis, the
    // circles' places along it tell the side (on a sphere or torus either
    // band between two circles is a face).
    const bool judgedByWinding = !seams.empty() || unbounded(built.surface);
    const auto holesAlone = [index] {
        return FaceFault{index, "its loops run round it as holes alone (its sense is against them, or its outer "
                                "loop is missing): it bounds the rest of its surface"};
    };
    if (belted && seams.empty() && unbounded(built.surface) && windsAsHoles(out))
        throw holesAlone();
    if (belted && (built.surface->IsUPeriodic() || built.surface->IsVPeriodic())) {
        // Open CASCADE bounds such a face with a seam (and a degenerate edge
        // at a pole it reaches): the loops are joined through one.
        // What it replaces (edges it splits) is replaced in the whole shape
        // at the end, so that the face's neighbours share the new edges.
        ShapeFix_Face seam(out);
        seam.SetContext(m_replaced);
        m_reshaped = true;
        seam.SetPrecision(Precision::Confusion());
        seam.FixPeriodicDegenerated();
        seam.FixMissingSeam();
        const TopoDS_Shape result = seam.Result();
        if (!result.IsNull() && result.ShapeType() == TopAbs_FACE)
            out = TopoDS::Face(result);
        else if (!result.IsNull()) {
            // The seam cut the face into pieces: its loops bound separate
            // regions of the surface (a belt whose ends miss each other, a
            // sliver beside it), which no one face of a file carries.
            int pieces = 0;
            for (TopExp_Explorer f(result, TopAbs_FACE); f.More(); f.Next())
                ++pieces;
            throw FaceFault{index, "the seam its surface needs splits it into " + std::to_string(pieces) +
                                       " faces: its loops bound separate pieces of its surface"};
        }
    }
    holesIntoOuterWindow(out, built.surface);
    if (judgedByWinding && windsAsHoles(out))
        throw holesAlone();
    if (closedAllRound(built.surface)) {
        const auto [within, whole] = areaWithinBox(built.surface, box, belted);
        const double area = within >= 0.0 ? builtFaceArea(TopoDS::Face(out.Oriented(TopAbs_FORWARD))) : 0.0;
        if (coversMoreThan(area, within))
            throw FaceFault{index, "it covers more of its surface than its own box holds (its sense is against "
                                   "its loops): it bounds the rest of its surface"};
        // Turned, the face would cover the rest of the surface: where that
        // too fits in the box (a band, a hemisphere, a face without a box),
        // the box cannot tell its side.
        if (!(whole >= 0.0 && coversMoreThan(whole - area, within)))
            m_sideUntold.insert(index);
    }
    for (const auto& [e, pcs] : onFace) {
        // Vertices reach the pcurves' ends on the surface too.
        const BuiltEdge& built_ = m_edges[e];
        for (const Handle(Geom2d_Curve)& pc : {pcs.first, pcs.second}) {
            if (pc.IsNull())
                continue;
            double w0 = 0.0, w1 = 0.0;
            BRep_Tool::Range(built_.edge, w0, w1);
            TopoDS_Vertex v0, v1;
            TopExp::Vertices(built_.edge, v0, v1);
            const gp_Pnt2d a = pc->Value(w0), b = pc->Value(w1);
            if (!v0.IsNull())
                widenVertex(v0, built.surface->Value(a.X(), a.Y()));
            if (!v1.IsNull())
                widenVertex(v1, built.surface->Value(b.X(), b.Y()));
        }
    }
    out.Orientation(reversed ? TopAbs_REVERSED : TopAbs_FORWARD);
    return m_faces.emplace(index, out).first->second;
}

// Faces in groups that meet at edges: an Open CASCADE shell is connected,
// so a model shell of separate pieces (faces a file left loose) becomes one
// shell per piece, and a body's loose faces shells of their own (the STEP
// writer takes no bare face).
std::vector<TopoDS_Shell> ShapeBuilder::shells(const std::vector<int>& faces, BodyShape& body)
{
    std::vector<std::size_t> root(faces.size());
    std::iota(root.begin(), root.end(), std::size_t{0});
    const auto find = [&root](std::size_t i) {
        while (root[i] != i)
            i = root[i] = root[root[i]];
        return i;
    };
    std::map<int, std::size_t> byEdge;
    for (std::size_t i = 0; i < faces.size(); ++i)
        for (int l : m_m.faces.at(static_cast<std::size_t>(faces[i])).loops)
            for (int c : m_m.loops.at(static_cast<std::size_t>(l)).coedges) {
                const auto [it, fresh] = byEdge.emplace(m_m.coedges.at(static_cast<std::size_t>(c)).edge, i);
                if (!fresh)
                    root[find(i)] = find(it->second);
            }
    std::map<std::size_t, TopoDS_Shell> pieces;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const std::size_t r = find(i);
        auto [it, fresh] = pieces.try_emplace(r);
        if (fresh) {
            m_b.MakeShell(it->second);
            order.push_back(r);
        }
        const TopoDS_Face built = face(faces[i]);
        m_b.Add(it->second, built);
        body.faces.emplace_back(faces[i], built);
    }
    std::vector<TopoDS_Shell> out;
    for (std::size_t r : order) {
        pieces[r].Closed(BRep_Tool::IsClosed(pieces[r]));
        out.push_back(pieces[r]);
    }
    return out;
}

// The body's faces in the model's order.
std::vector<int> ShapeBuilder::bodyFaces(int index) const
{
    const qelx_test::TestBody& b = m_m.bodies[static_cast<std::size_t>(index)];
    std::vector<int> faces = b.faces;
    for (int l : b.lumps)
        for (int v : m_m.lumps.at(static_cast<std::size_t>(l)).volumes)
            for (int s : m_m.volumes.at(static_cast<std::size_t>(v)).shells)
                faces.insert(faces.end(), shellFaces(s).begin(), shellFaces(s).end());
    for (int s : b.shells2D)
        faces.insert(faces.end(), shellFaces(s).begin(), shellFaces(s).end());
    std::sort(faces.begin(), faces.end());
    return faces;
}

TopoDS_Shape ShapeBuilder::body(int index, BodyShape& out)
{
    const qelx_test::TestBody& b = m_m.bodies[static_cast<std::size_t>(index)];
    std::vector<TopoDS_Shape> parts;
    for (int l : b.lumps)
        for (int v : m_m.lumps.at(static_cast<std::size_t>(l)).volumes) {
            TopoDS_Solid solid;
            m_b.MakeSolid(solid);
            for (int s : m_m.volumes.at(static_cast<std::size_t>(v)).shells)
                for (const TopoDS_Shell& piece : shells(shellFaces(s), out))
                    m_b.Add(solid, piece);
            parts.push_back(solid);
        }
    for (int s : b.shells2D)
        for (const TopoDS_Shell& piece : shells(shellFaces(s), out))
            parts.push_back(piece);
    for (const TopoDS_Shell& piece : shells(b.faces, out))
        parts.push_back(piece);
    for (const std::vector<int>* wires : {&b.wires, &b.pointWires})
        for (int w : *wires) {
            const qelx_test::TestWire& wire = m_m.wires.at(static_cast<std::size_t>(w));
            // A point wire is its vertices: the edge an acorn body carries
            // has no curve and no extent, and nothing to build.
            if (wire.edges.empty() || wires == &b.pointWires) {
                for (int v : wire.vertices)
                    parts.push_back(vertex(v));
                continue;
            }
            TopoDS_Wire built;
            m_b.MakeWire(built);
            for (int e : wire.edges)
                m_b.Add(built, edge(e).edge);
            parts.push_back(built);
        }
    if (parts.size() == 1)
        return parts.front();
    TopoDS_Compound all;
    m_b.MakeCompound(all);
    for (const TopoDS_Shape& part : parts)
        m_b.Add(all, part);
    return all;
}

BuiltShapes ShapeBuilder::build()
{
    BuiltShapes out;
    for (std::size_t b = 0; b < m_m.bodies.size(); ++b) {
        BodyShape body;
        body.body = static_cast<int>(b);
        // A failure names the body it stopped at.
        try {
            body.shape = this->body(static_cast<int>(b), body);
        } catch (const Standard_Failure&) {
            // Open CASCADE's message names its own classes, not the model's.
            throw std::runtime_error("body " + std::to_string(b) +
                                     ": its geometry could not be built (a curve or surface the numerics refuse)");
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("body " + std::to_string(b) + ": " + e.what());
        } catch (const FaceFault& fault) {
            const std::vector<int> faces = bodyFaces(static_cast<int>(b));
            throw std::runtime_error("body " + std::to_string(b) + ", face " +
                                     std::to_string(std::lower_bound(faces.begin(), faces.end(), fault.face) -
                                                    faces.begin()) +
                                     ": " + fault.why);
        }
        body.sideUntold = false;
        for (const auto& [index, face] : body.faces)
            body.sideUntold = body.sideUntold || m_sideUntold.count(index) > 0;
        out.faces += static_cast<int>(body.faces.size());
        out.bodies.push_back(std::move(body));
    }
    // Rebuilding every body through the replacements costs a copy of its
    // topology: only where there are some.
    if (m_reshaped)
        for (std::size_t b = 0; b < out.bodies.size(); ++b) {
            BodyShape& body = out.bodies[b];
            body.shape = m_replaced->Apply(body.shape);
            for (auto& [index, face] : body.faces)
                face = m_replaced->Apply(face);
            // An edge the seam fix of one face replaced carries its pcurves
            // on that face; where a neighbour's would be lost, the body is
            // not built (Open CASCADE's STEP writer ends the process on an
            // edge without a pcurve on its face).
            for (TopExp_Explorer f(body.shape, TopAbs_FACE); f.More(); f.Next())
                for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next()) {
                    const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
                    double w0 = 0.0, w1 = 0.0;
                    if (!BRep_Tool::Degenerated(edge) &&
                        BRep_Tool::CurveOnSurface(edge, TopoDS::Face(f.Current()), w0, w1).IsNull())
                        throw std::runtime_error("body " + std::to_string(b) +
                                                 ": an edge has no pcurve on a face it bounds");
                }
        }
    for (const auto& [index, edge] : m_edges)
        if (edge.curveless) {
            try {
                BRepLib::BuildCurve3d(edge.edge);
            } catch (const Standard_Failure&) {
                throw std::runtime_error("edge " + std::to_string(index) +
                                         " has no curve, and none can be made from its curves on faces");
            }
        }
    TopoDS_Compound all;
    m_b.MakeCompound(all);
    for (const BodyShape& body : out.bodies)
        m_b.Add(all, body.shape);
    settleTolerances(all);
    return out;
}

// How far the edge's pcurves stray from its curve, measured as Open
// CASCADE's checker measures it, or at least `worst`; with `sameRange`,
// infinity where a pcurve is held over another range than the curve (a
// seam the seam fix made, say).
double strayOf(const TopoDS_Edge& edge, const TopTools_ListOfShape& faces, double worst, bool sameRange)
{
    double w0 = 0.0, w1 = 0.0;
    const Handle(Geom_Curve) curve = BRep_Tool::Curve(edge, w0, w1);
    for (TopTools_ListIteratorOfListOfShape it(faces); it.More(); it.Next()) {
        const TopoDS_Face& face = TopoDS::Face(it.Value());
        const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
        for (TopAbs_Orientation o : {TopAbs_FORWARD, TopAbs_REVERSED}) {
            double f = 0.0, l = 0.0;
            const Handle(Geom2d_Curve) pc = BRep_Tool::CurveOnSurface(TopoDS::Edge(edge.Oriented(o)), face, f, l);
            if (pc.IsNull())
                continue;
            if (sameRange && (f != w0 || l != w1))
                return Precision::Infinite();
            if (sameRange && curve->IsKind(STANDARD_TYPE(Geom_Line)) && pc->IsKind(STANDARD_TYPE(Geom2d_Line)) &&
                surface->IsKind(STANDARD_TYPE(Geom_Plane))) {
                // A line's pcurve on a plane strays by an affine gap, widest at an end.
                for (const double w : {w0, w1}) {
                    const gp_Pnt2d uv = pc->Value(w);
                    worst = std::max(worst, curve->Value(w).Distance(surface->Value(uv.X(), uv.Y())));
                }
                continue;
            }
            BRepLib_ValidateEdge measure(new GeomAdaptor_Curve(curve, w0, w1),
                                         new Adaptor3d_CurveOnSurface(new Geom2dAdaptor_Curve(pc, w0, w1),
                                                                      new GeomAdaptor_Surface(surface)),
                                         Standard_True);
            measure.Process();
            measure.UpdateTolerance(worst);
        }
    }
    return worst;
}

// Each edge's pcurves are measured against its curve as the checker
// measures them; one that strays beyond the edge's tolerance has Open
// CASCADE set its tolerance from how far they stray (reparameterising a
// pcurve where that brings it closer), measured again and raised where that
// finds more. Where it gives up, the pcurves still run on the curve's
// parameter as the model has them, and the measure alone sets it. An edge
// whose pcurves already lie within its tolerance over the curve's own range
// (most: a line on a plane, a circle on a cylinder) keeps it as it is: Open CASCADE's own pass would
// find the same and cost a fifth of a BREP write.
void ShapeBuilder::settleTolerances(const TopoDS_Shape& all)
{
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(all, TopAbs_EDGE, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Edge& edge = TopoDS::Edge(faces.FindKey(i));
        double w0 = 0.0, w1 = 0.0;
        const bool measured = !BRep_Tool::Degenerated(edge) && !BRep_Tool::Curve(edge, w0, w1).IsNull();
        if (measured && strayOf(edge, faces.FindFromIndex(i), 0.0, true) <= BRep_Tool::Tolerance(edge)) {
            m_b.SameParameter(edge, Standard_True);
            m_b.SameRange(edge, Standard_True);
            continue;
        }
        m_b.SameParameter(edge, Standard_False);
        m_b.SameRange(edge, Standard_False);
        try {
            BRepLib::SameParameter(edge, Precision::Confusion());
        } catch (const Standard_Failure&) {
            // Pcurves the numerics cannot fit to the curve (a spline's knots
            // running back, say): the model's edge is named for it.
            const auto built = std::find_if(m_edges.begin(), m_edges.end(),
                                            [&edge](const auto& e) { return e.second.edge.IsSame(edge); });
            throw std::runtime_error((built == m_edges.end() ? std::string("an edge")
                                                             : "edge " + std::to_string(built->first)) +
                                     ": its curves on faces cannot be fitted to its curve");
        }
        if (!measured)
            continue;
        const bool settled = BRep_Tool::SameParameter(edge);
        const double worst = strayOf(edge, faces.FindFromIndex(i), settled ? BRep_Tool::Tolerance(edge) : 0.0, false);
        if (settled && worst <= BRep_Tool::Tolerance(edge))
            continue;
        m_b.UpdateEdge(edge, std::max(worst * 1.05, Precision::Confusion()));
        m_b.SameParameter(edge, Standard_True);
        m_b.SameRange(edge, Standard_True);
    }
    orderTolerances(faces);
}

// Tolerances ordered as Open CASCADE's checker wants them, as
// BRepLib::UpdateTolerances orders them but over the edges' map already made
// (its own two maps of the whole shape cost as much as the settling and grew
// faster than the model): an edge at least as wide as its faces, a vertex at
// least as wide as its edges and reaching every point their curves and
// pcurves give it (the diagonal of their box, both ends of a closed edge).
void ShapeBuilder::orderTolerances(const TopTools_IndexedDataMapOfShapeListOfShape& faces)
{
    struct Reach {
        TopoDS_Vertex vertex;
        Bnd_Box box;
        double widest = 0.0;
    };
    std::unordered_map<const TopoDS_TShape*, Reach> reach;
    reach.reserve(static_cast<std::size_t>(faces.Extent()));
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Edge& edge = TopoDS::Edge(faces.FindKey(i));
        double tolerance = BRep_Tool::Tolerance(edge);
        for (TopTools_ListIteratorOfListOfShape it(faces.FindFromIndex(i)); it.More(); it.Next())
            tolerance = std::max(tolerance, BRep_Tool::Tolerance(TopoDS::Face(it.Value())));
        m_b.UpdateEdge(edge, tolerance);
        const Handle(BRep_TEdge)& stored = Handle(BRep_TEdge)::DownCast(edge.TShape());
        for (TopoDS_Iterator v(edge); v.More(); v.Next()) {
            const TopoDS_Vertex& vertex = TopoDS::Vertex(v.Value());
            Reach& r = reach[vertex.TShape().get()];
            if (r.vertex.IsNull()) {
                r.vertex = vertex;
                r.box.Add(BRep_Tool::Pnt(vertex));
            }
            r.widest = std::max(r.widest, tolerance);
            if (tolerance > 1e10 || !BRep_Tool::SameRange(edge) || stored.IsNull())
                continue;
            const double at = BRep_Tool::Parameter(vertex, edge);
            for (BRep_ListIteratorOfListOfCurveRepresentation cr(stored->Curves()); cr.More(); cr.Next()) {
                const Handle(BRep_CurveRepresentation)& rep = cr.Value();
                const gp_Trsf place = (edge.Location() * rep->Location()).Transformation();
                if (rep->IsCurve3D()) {
                    if (!rep->Curve3D().IsNull())
                        r.box.Add(rep->Curve3D()->Value(at).Transformed(place));
                } else if (rep->IsCurveOnSurface()) {
                    const Handle(Geom_Surface)& surface = rep->Surface();
                    for (const Handle(Geom2d_Curve)& pc :
                         {rep->PCurve(), rep->IsCurveOnClosedSurface() ? rep->PCurve2() : Handle(Geom2d_Curve)()})
                        if (!pc.IsNull()) {
                            const gp_Pnt2d uv = pc->Value(at);
                            r.box.Add(surface->Value(uv.X(), uv.Y()).Transformed(place));
                        }
                }
            }
        }
    }
    for (auto& [shape, r] : reach) {
        const double across = std::sqrt(r.box.SquareExtent());
        const double tolerance = std::max(r.widest, across);
        m_b.UpdateVertex(r.vertex, tolerance + 2.0 * Epsilon(tolerance));
    }
}

} // namespace

BuiltShapes buildShapes(const qelx_test::TestModel& model) { return ShapeBuilder(model).build(); }

double wiresIntegral(const TopoDS_Face& face, const std::function<double(double)>& primitive)
{
    // Eight-point Gauss-Legendre on [-1, 1].
    static const double nodes[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
    static const double weights[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
    const TopoDS_Face forward = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
    double sum = 0.0;
    for (TopExp_Explorer e(forward, TopAbs_EDGE); e.More(); e.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
        const TopAbs_Orientation o = edge.Orientation();
        double f = 0.0, l = 0.0;
        const Handle(Geom2d_Curve) pc = (o == TopAbs_FORWARD || o == TopAbs_REVERSED)
                                            ? BRep_Tool::CurveOnSurface(edge, forward, f, l)
                                            : Handle(Geom2d_Curve)();
        if (pc.IsNull() || !(l > f))
            continue;
        // Each span of a spline on its own (a fit's first may be a sliver
        // where the curve swerves along a pole), in at least eight pieces
        // in all.
        const Geom2dAdaptor_Curve curve(pc, f, l);
        const int stretches = curve.NbIntervals(GeomAbs_CN);
        TColStd_Array1OfReal cuts(1, stretches + 1);
        curve.Intervals(cuts, GeomAbs_CN);
        const int pieces = std::max(1, 8 / stretches);
        double along = 0.0;
        for (int i = 1; i <= stretches; ++i)
            for (int piece = 0; piece < pieces; ++piece) {
                const double a = cuts(i) + (cuts(i + 1) - cuts(i)) * piece / pieces;
                const double b = cuts(i) + (cuts(i + 1) - cuts(i)) * (piece + 1) / pieces;
                const double mid = 0.5 * (a + b), half = 0.5 * (b - a);
                for (int k = 0; k < 4; ++k)
                    for (const double side : {-1.0, 1.0}) {
                        gp_Pnt2d at;
                        gp_Vec2d d;
                        curve.D1(mid + side * half * nodes[k], at, d);
                        along -= weights[k] * half * primitive(at.Y()) * d.X();
                    }
            }
        sum += o == TopAbs_REVERSED ? -along : along;
    }
    return sum;
}

} // namespace qelx_formats
