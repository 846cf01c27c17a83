// What a writer built, held against what the model's source measured of
// its bodies. The shapes may pass every check of validity and still be
// another solid than the source's: a face whose pcurves run outside its
// surface covers next to nothing, and the edges' tolerances, widened to
// reach the curves, let the analyser pass it. So the built shapes are
// measured by Open CASCADE (each face's area, each solid's volume, the
// widest edge and vertex tolerance) and compared with the source's own.
#include "cad_shapes.hxx"
#include "qelx/qelx_write_bounds.hxx"

#include <BRepAdaptor_Curve.hxx>
#include <BRepGProp.hxx>
#include <GeomAPI_ProjectPointOnCurve.hxx>
#include <Geom_Curve.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TopLoc_Location.hxx>
#include <Precision.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_ListIteratorOfListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qelx_formats {

std::string measureText(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", x);
    return text;
}

// A built face's area. On a sphere or a torus whose tube does not cross
// its axis, the writer's own: the closed form of the surface's element
// integrated round the face's wires, exact but for the pcurves' own fits
// (Open CASCADE's integration of the face of a torus less a piece a box
// cut off came out 0.15% short, 215.398 where it covers 215.729, and the
// right file was refused); on any other surface Open CASCADE's.
double builtFaceArea(const TopoDS_Face& face)
{
    TopLoc_Location placed;
    const Handle(Geom_Surface)& surface = BRep_Tool::Surface(face, placed);
    const double scale = placed.IsIdentity() ? 1.0 : std::abs(placed.Transformation().ScaleFactor());
    if (const Handle(Geom_SphericalSurface) sphere = Handle(Geom_SphericalSurface)::DownCast(surface)) {
        // R^2 cos v du dv.
        const double r = sphere->Radius();
        return scale * scale * wiresIntegral(face, [r](double v) { return r * r * std::sin(v); });
    }
    if (const Handle(Geom_ToroidalSurface) torus = Handle(Geom_ToroidalSurface)::DownCast(surface))
        if (torus->MajorRadius() > torus->MinorRadius()) {
            // r (R + r cos v) du dv.
            const double big = torus->MajorRadius(), r = torus->MinorRadius();
            return scale * scale * wiresIntegral(face, [big, r](double v) { return r * (big * v + r * std::sin(v)); });
        }
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    return props.Mass();
}

namespace {

// How far a face's surface may lie from the source's: a replacement's
// recorded deviation (the exporter's fit of a surface it cannot hand over
// as it is), else nothing.
double surfaceDeviation(const qelx_test::TestModel& model, int face)
{
    const int s = model.faces.at(static_cast<std::size_t>(face)).surface;
    return s >= 0 && static_cast<std::size_t>(s) < model.surfaces.size()
               ? model.surfaces[static_cast<std::size_t>(s)].deviation
               : 0.0;
}

// The widest tolerance of the face's edges and vertices.
double widestOn(const TopoDS_Shape& face)
{
    double widest = 0.0;
    for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
        widest = std::max(widest, BRep_Tool::Tolerance(TopoDS::Edge(e.Current())));
        for (TopoDS_Iterator v(e.Current()); v.More(); v.Next())
            widest = std::max(widest, BRep_Tool::Tolerance(TopoDS::Vertex(v.Value())));
    }
    return widest;
}

// How far the face's pcurve of the edge, through its surface, lies from
// the edge's curve: points along it projected onto the curve (an edge whose
// tolerance had to widen holds its curve and pcurves on parameters of
// their own); both pcurves of a seam.
double pcurveStray(const TopoDS_Edge& edge, const TopoDS_Face& face)
{
    double stray = 0.0, w0 = 0.0, w1 = 0.0;
    const Handle(Geom_Curve) curve = BRep_Tool::Curve(edge, w0, w1);
    if (curve.IsNull() || BRep_Tool::Degenerated(edge))
        return stray;
    const gp_Pnt ends[2] = {curve->Value(w0), curve->Value(w1)};
    for (const TopAbs_Orientation o : {TopAbs_FORWARD, TopAbs_REVERSED}) {
        const TopoDS_Edge use = TopoDS::Edge(edge.Oriented(o));
        double f = 0.0, l = 0.0;
        if (BRep_Tool::CurveOnSurface(use, face, f, l).IsNull())
            continue;
        const BRepAdaptor_Curve onSurface(use, face);
        for (int k = 0; k <= 8; ++k) {
            const gp_Pnt p = onSurface.Value(f + (l - f) * k / 8.0);
            GeomAPI_ProjectPointOnCurve onto(p, curve, w0, w1);
            const double nearest = onto.NbPoints() > 0 ? onto.LowerDistance() : Precision::Infinite();
            stray = std::max(stray, std::min({nearest, p.Distance(ends[0]), p.Distance(ends[1])}));
        }
        if (!BRep_Tool::IsClosed(edge, face))
            break;
    }
    return stray;
}

// The place of the face a tolerance fault is in: of the faces the widest
// edge bounds, when it is wider than `allowed`, the one whose pcurve lies
// farthest from it (its neighbours' lie on it); else the first face the
// widest vertex bounds.
template <class Place>
std::size_t strayingFace(const BodyShape& body, const Place& place, double allowed)
{
    TopTools_IndexedDataMapOfShapeListOfShape edges, vertices;
    TopExp::MapShapesAndAncestors(body.shape, TopAbs_EDGE, TopAbs_FACE, edges);
    TopExp::MapShapesAndAncestors(body.shape, TopAbs_VERTEX, TopAbs_FACE, vertices);
    const auto widestOf = [](const TopTools_IndexedDataMapOfShapeListOfShape& map, auto tolerance) {
        int widest = 0;
        for (int i = 1; i <= map.Extent(); ++i)
            if (widest == 0 || tolerance(map.FindKey(i)) > tolerance(map.FindKey(widest)))
                widest = i;
        return widest;
    };
    const int edge = widestOf(edges, [](const TopoDS_Shape& e) { return BRep_Tool::Tolerance(TopoDS::Edge(e)); });
    const int vertex =
        widestOf(vertices, [](const TopoDS_Shape& v) { return BRep_Tool::Tolerance(TopoDS::Vertex(v)); });
    const auto placeOf = [&body, &place](const TopoDS_Shape& face) {
        for (const auto& [index, built] : body.faces)
            if (built.IsSame(face))
                return std::optional<std::size_t>(place(index));
        return std::optional<std::size_t>();
    };
    std::optional<std::size_t> named;
    // A vertex is at least as wide as its edges: an edge past what is
    // allowed is where the fault is.
    if (edge > 0 && BRep_Tool::Tolerance(TopoDS::Edge(edges.FindKey(edge))) > allowed) {
        double farthest = -1.0;
        for (TopTools_ListIteratorOfListOfShape it(edges.FindFromIndex(edge)); it.More(); it.Next())
            if (const double stray = pcurveStray(TopoDS::Edge(edges.FindKey(edge)), TopoDS::Face(it.Value()));
                stray > farthest)
                if (const std::optional<std::size_t> at = placeOf(it.Value())) {
                    farthest = stray;
                    named = at;
                }
    } else if (vertex > 0) {
        for (TopTools_ListIteratorOfListOfShape it(vertices.FindFromIndex(vertex)); it.More(); it.Next())
            if (const std::optional<std::size_t> at = placeOf(it.Value()); at && (!named || *at < *named))
                named = at;
    }
    return named.value_or(0);
}

// A solid of the body holding a face on a sphere or torus must hold a
// positive volume (checkSolidsInsideOut).
void checkBodyInsideOut(const BodyShape& body)
{
    // Faces whose own box tells their side were judged as they were built.
    if (!body.sideUntold)
        return;
    // The closed faces, by place among the body's faces, with the
    // volume their whole surface holds.
    std::vector<int> order;
    order.reserve(body.faces.size());
    for (const auto& entry : body.faces)
        order.push_back(entry.first);
    std::sort(order.begin(), order.end());
    std::vector<std::pair<std::size_t, double>> closed;
    for (const auto& [index, face] : body.faces) {
        TopLoc_Location placed;
        const Handle(Geom_Surface)& surface = BRep_Tool::Surface(TopoDS::Face(face), placed);
        const double scale = placed.IsIdentity() ? 1.0 : std::abs(placed.Transformation().ScaleFactor());
        double whole = 0.0;
        if (const Handle(Geom_SphericalSurface) sphere = Handle(Geom_SphericalSurface)::DownCast(surface))
            whole = 4.0 / 3.0 * M_PI * std::pow(sphere->Radius(), 3);
        else if (const Handle(Geom_ToroidalSurface) torus = Handle(Geom_ToroidalSurface)::DownCast(surface))
            whole = 2.0 * M_PI * M_PI * torus->MajorRadius() * torus->MinorRadius() * torus->MinorRadius();
        else
            continue;
        closed.emplace_back(
            static_cast<std::size_t>(std::lower_bound(order.begin(), order.end(), index) - order.begin()),
            whole * scale * scale * scale);
    }
    if (closed.empty())
        return;
    for (TopExp_Explorer s(body.shape, TopAbs_SOLID); s.More(); s.Next()) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(s.Current(), props);
        const double volume = props.Mass();
        if (volume >= 0.0)
            continue;
        std::size_t named = closed.front().first;
        for (auto it = closed.rbegin(); it != closed.rend(); ++it)
            if (volume + it->second > 0.0)
                named = it->first;
        throw std::runtime_error("body " + std::to_string(body.body) + ", face " + std::to_string(named) +
                                 ": its sense is against its loops (it bounds the rest of its surface): the "
                                 "solid would hold a volume of " +
                                 measureText(volume));
    }
}

} // namespace

void checkAgainstSource(const BuiltShapes& shapes, const qelx_test::TestModel& model,
                        const CadSourceMeasures& source)
{
    for (const BodyShape& body : shapes.bodies) {
        if (body.body < 0 || static_cast<std::size_t>(body.body) >= source.size() ||
            !source[static_cast<std::size_t>(body.body)]) {
            checkBodyInsideOut(body);
            continue;
        }
        const CadBodyMeasures& measured = *source[static_cast<std::size_t>(body.body)];
        const std::string bodyName = "body " + std::to_string(body.body);
        // Faces by their place among the body's faces in the model's order,
        // which is the source's.
        std::vector<int> order;
        order.reserve(body.faces.size());
        double deviation = 0.0;
        for (const auto& [index, face] : body.faces) {
            order.push_back(index);
            deviation = std::max(deviation, surfaceDeviation(model, index));
        }
        std::sort(order.begin(), order.end());
        const auto place = [&order](int index) {
            return static_cast<std::size_t>(std::lower_bound(order.begin(), order.end(), index) - order.begin());
        };
        const auto refuse = [&](std::size_t face, const std::string& why) {
            throw std::runtime_error(bodyName + ", face " + std::to_string(face) + ": " + why);
        };
        // Each face's area first: it names the face a fault is in, where a
        // tolerance is shared with the faces round it.
        if (measured.faceAreas.size() == order.size())
            for (const auto& [index, face] : body.faces) {
                // Within what the boundary's fits, its stray from the edges
                // and the surface's replacement account for (a band of that
                // width round a face of that area) and a rounding.
                const std::size_t at = place(index);
                if (!(measured.faceAreas[at] >= 0.0))
                    continue;
                const double area = measured.faceAreas[at], written = builtFaceArea(TopoDS::Face(face));
                const double stray =
                    std::max({measured.tolerance, surfaceDeviation(model, index),
                              at < measured.faceStrays.size() ? measured.faceStrays[at] : 0.0});
                // The source's own measure is an estimate: four times its
                // claimed accuracy (a kernel's estimate of its error fell
                // short of it by half).
                const double claimed = at < measured.faceAccuracies.size() ? measured.faceAccuracies[at] : 0.0;
                if (std::abs(written - area) > (1e-4 + 4.0 * claimed) * area + 16.0 * stray * std::sqrt(area) + 1e-12)
                    refuse(at, "written covering an area of " + measureText(written) +
                                   " where the body's face covers " + measureText(area));
            }
        // A body measured without a volume is held to a positive one.
        if (!measured.volume) {
            checkBodyInsideOut(body);
        } else {
            double volume = 0.0, area = 0.0;
            bool solid = false;
            for (TopExp_Explorer s(body.shape, TopAbs_SOLID); s.More(); s.Next()) {
                GProp_GProps props;
                BRepGProp::VolumeProperties(s.Current(), props);
                volume += props.Mass();
                solid = true;
            }
            for (const double a : measured.faceAreas)
                area += a >= 0.0 ? a : 0.0;
            const double within =
                1e-4 * std::abs(*measured.volume) + 16.0 * std::max(measured.tolerance, deviation) * area;
            if (solid && std::abs(volume - *measured.volume) > within)
                throw std::runtime_error(bodyName + ": written holding a volume of " + measureText(volume) +
                                         " where the body holds " + measureText(*measured.volume));
        }
        // An edge or vertex may be as wide as the source's data allows (its
        // tolerances, its fits) and a surface's replacement strays: far
        // wider, the written faces meet where the body's do not.
        const double allowed = QELXWidestWritten(std::max(measured.tolerance, deviation));
        for (const auto& [index, face] : body.faces)
            if (const double widest = widestOn(face); widest > allowed)
                refuse(strayingFace(body, place, allowed), "written with an edge or vertex tolerance of " +
                                                      measureText(widest) + " where the body's widest is " +
                                                      measureText(measured.tolerance));
    }
}

void checkSolidsInsideOut(const BuiltShapes& shapes)
{
    for (const BodyShape& body : shapes.bodies)
        checkBodyInsideOut(body);
}

} // namespace qelx_formats
