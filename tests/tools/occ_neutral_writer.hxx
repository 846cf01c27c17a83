#pragma once
// A neutral document written by Open CASCADE alone: the shape's solids,
// shells and faces, their surfaces, edge curves and pcurves, laid out as
// docs/neutral-document.md describes, from Open CASCADE's own data and none
// of the framework's code. A document another system wrote, as the
// importer meets one: the judge of what the import road makes of it.
//
// Every surface's framework parameters are its canonical ones (the
// parameterisation is the identity); the pcurves are Open CASCADE's, moved
// by the same affine map from its (u, v) into the canonical (s, t).
#include <BRepTools.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Tool.hxx>
#include <GeomConvert.hxx>
#include <GeomConvert_ApproxCurve.hxx>
#include <GeomConvert_ApproxSurface.hxx>
#include <Geom2dConvert.hxx>
#include <Geom2dConvert_ApproxCurve.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_BezierCurve.hxx>
#include <Geom2d_Line.hxx>
#include <Geom2d_TrimmedCurve.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_BezierCurve.hxx>
#include <Geom_BezierSurface.hxx>
#include <Geom_Circle.hxx>
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
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>

#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace occ_neutral {

using Json = nlohmann::ordered_json;

// (s, t) = m (u, v) + b.
struct Affine {
    double m[2][2] = {{1, 0}, {0, 1}};
    double b[2] = {0, 0};
    gp_Pnt2d operator()(const gp_Pnt2d& p) const
    {
        return {m[0][0] * p.X() + m[0][1] * p.Y() + b[0], m[1][0] * p.X() + m[1][1] * p.Y() + b[1]};
    }
    double det() const { return m[0][0] * m[1][1] - m[0][1] * m[1][0]; }
    // s = a v + c, t = d u + e.
    static Affine crossed(double a, double c, double d, double e)
    {
        Affine f;
        f.m[0][0] = 0;
        f.m[0][1] = a;
        f.m[1][0] = d;
        f.m[1][1] = 0;
        f.b[0] = c;
        f.b[1] = e;
        return f;
    }
};

inline Json xyz(const gp_XYZ& p) { return Json::array({p.X(), p.Y(), p.Z()}); }

class Writer {
public:
    explicit Writer(double fitTolerance = 1e-6) : fit_(fitTolerance) {}

    // The document of every solid, every shell outside a solid and every face
    // outside a shell. Throws std::runtime_error naming what it cannot write.
    std::string write(const TopoDS_Shape& shape)
    {
        init();
        TopTools_IndexedMapOfShape inSolid, inShell;
        for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next()) {
            const int bodyId = reserve("bodies"), lumpId = reserve("lumps"), volumeId = reserve("volumes");
            Json shells = Json::array();
            for (TopExp_Explorer sh(s.Current(), TopAbs_SHELL); sh.More(); sh.Next()) {
                inSolid.Add(sh.Current());
                shells.push_back(shell(sh.Current(), true));
            }
            put("volumes", volumeId, Json{{"shells", shells}});
            put("lumps", lumpId, Json{{"volumes", Json::array({volumeId})}});
            Json b = body();
            b["lumps"] = Json::array({lumpId});
            put("bodies", bodyId, b);
        }
        for (TopExp_Explorer sh(shape, TopAbs_SHELL); sh.More(); sh.Next()) {
            if (inSolid.Contains(sh.Current()))
                continue;
            Json b = body();
            b["shells2D"] = Json::array({shell(sh.Current(), BRep_Tool::IsClosed(sh.Current()))});
            add("bodies", b);
        }
        for (TopExp_Explorer sh(shape, TopAbs_SHELL); sh.More(); sh.Next())
            for (TopExp_Explorer f(sh.Current(), TopAbs_FACE); f.More(); f.Next())
                inShell.Add(f.Current());
        for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
            if (!inShell.Contains(f.Current())) {
                Json b = body();
                b["faces"] = Json::array({face(TopoDS::Face(f.Current()))});
                add("bodies", b);
            }
        return finish();
    }

private:
    void init()
    {
        tables_.clear();
        for (const char* t : {"bodies", "lumps", "volumes", "shells", "faces", "loops", "coedges", "edges", "vertices",
                              "wires", "surfaces", "curves", "pcurves", "points"})
            tables_[t] = Json::array();
        edges_.Clear();
        vertices_.Clear();
        edgeCoedges_.clear();
        vertexEdges_.clear();
    }

    // Ids are handed out before the element is added: an element whose id
    // was taken reserves its place.
    int reserve(const std::string& table)
    {
        Json placeholder = Json::object();
        placeholder["id"] = tables_[table].size() + 1;
        tables_[table].push_back(placeholder);
        return static_cast<int>(tables_[table].size());
    }
    void put(const std::string& table, int id, const Json& fields)
    {
        Json j = Json::object();
        j["id"] = id;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            j[it.key()] = it.value();
        tables_[table][static_cast<std::size_t>(id - 1)] = std::move(j);
    }
    void add(const std::string& table, const Json& j) { put(table, reserve(table), j); }

    Json body()
    {
        Json b = Json::object();
        b["lumps"] = Json::array();
        b["shells2D"] = Json::array();
        b["faces"] = Json::array();
        b["wires"] = Json::array();
        b["pointWires"] = Json::array();
        return b;
    }

    int shell(const TopoDS_Shape& s, bool closed)
    {
        const int id = reserve("shells");
        Json faces = Json::array();
        for (TopExp_Explorer f(s, TopAbs_FACE); f.More(); f.Next())
            faces.push_back(face(TopoDS::Face(f.Current())));
        Json j = Json::object();
        j["closed"] = closed;
        j["faces"] = faces;
        put("shells", id, j);
        return id;
    }

    int face(const TopoDS_Face& f)
    {
        const int id = reserve("faces");
        double u0, u1, v0, v1;
        BRepTools::UVBounds(f, u0, u1, v0, v1);
        Affine map;
        const int surf = surface(BRep_Tool::Surface(f), u0, u1, v0, v1, map);
        double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
        for (double u : {u0, u1})
            for (double v : {v0, v1}) {
                const gp_Pnt2d p = map(gp_Pnt2d(u, v));
                lo[0] = std::min(lo[0], p.X());
                hi[0] = std::max(hi[0], p.X());
                lo[1] = std::min(lo[1], p.Y());
                hi[1] = std::max(hi[1], p.Y());
            }
        const TopoDS_Wire outer = BRepTools::OuterWire(f);
        Json loops = Json::array();
        for (TopExp_Explorer w(f, TopAbs_WIRE); w.More(); w.Next())
            if (const int l = loop(TopoDS::Wire(w.Current()), f, id, w.Current().IsSame(outer), map))
                loops.push_back(l);
        Json j = Json::object();
        j["surface"] = surf;
        j["sense"] = f.Orientation() != TopAbs_REVERSED;
        j["orientationCorrect"] = true;
        j["category"] = 2;
        j["uDomain"] = Json::array({lo[0], hi[0]});
        j["vDomain"] = Json::array({lo[1], hi[1]});
        j["loops"] = loops;
        put("faces", id, j);
        return id;
    }

    // 0 for a wire of degenerate edges alone (a point the face closes at).
    int loop(const TopoDS_Wire& w, const TopoDS_Face& f, int faceId, bool outer, const Affine& map)
    {
        std::vector<TopoDS_Edge> uses;
        for (BRepTools_WireExplorer e(w, f); e.More(); e.Next())
            if (!BRep_Tool::Degenerated(e.Current()))
                uses.push_back(e.Current());
        if (uses.empty())
            return 0;
        const int id = reserve("loops");
        Json coedges = Json::array();
        for (const TopoDS_Edge& e : uses)
            coedges.push_back(coedge(e, f, id, map));
        Json j = Json::object();
        j["face"] = faceId;
        j["outer"] = outer;
        j["degenerate"] = false;
        j["vertex"] = nullptr;
        j["coedges"] = coedges;
        put("loops", id, j);
        return id;
    }

    int coedge(const TopoDS_Edge& e, const TopoDS_Face& f, int loopId, const Affine& map)
    {
        const int id = reserve("coedges");
        const int edgeId = edge(e);
        double f3, l3;
        BRep_Tool::Range(e, f3, l3);
        const bool forward = e.Orientation() != TopAbs_REVERSED;
        double pf, pl;
        Handle(Geom2d_Curve) pc = BRep_Tool::CurveOnSurface(e, f, pf, pl);
        if (pc.IsNull())
            throw std::runtime_error("an edge without a pcurve on its face");
        Json j = Json::object();
        j["loop"] = loopId;
        j["edge"] = edgeId;
        j["sense"] = forward;
        j["domain"] = forward ? Json::array({f3, l3}) : Json::array({-l3, -f3});
        j["pcurve"] = pcurve(pc, pf, pl, map);
        j["pcurveSense"] = forward;
        put("coedges", id, j);
        edgeCoedges_[edgeId].push_back(id);
        return id;
    }

    int edge(const TopoDS_Edge& e)
    {
        const TopoDS_Edge key = TopoDS::Edge(e.Oriented(TopAbs_FORWARD));
        if (const int known = edges_.FindIndex(key))
            return known;
        edges_.Add(key);
        const int id = reserve("edges");
        TopoDS_Vertex a, b;
        TopExp::Vertices(key, a, b);
        double f, l;
        Handle(Geom_Curve) c = BRep_Tool::Curve(key, f, l);
        if (c.IsNull())
            throw std::runtime_error("an edge without a 3-D curve");
        Json j = Json::object();
        j["curve"] = curve(c, f, l);
        j["sense"] = true;
        j["domain"] = Json::array({f, l});
        j["start"] = vertex(a, id);
        j["end"] = vertex(b, id);
        j["coedges"] = Json::array();
        put("edges", id, j);
        return id;
    }

    int vertex(const TopoDS_Vertex& v, int edgeId)
    {
        const TopoDS_Shape key = v.Oriented(TopAbs_FORWARD);
        int id = vertices_.FindIndex(key);
        if (!id) {
            vertices_.Add(key);
            id = reserve("vertices");
            Json p = Json::object();
            p["xyz"] = xyz(BRep_Tool::Pnt(v).XYZ());
            const int point = reserve("points");
            put("points", point, p);
            Json j = Json::object();
            j["point"] = point;
            j["edges"] = Json::array();
            put("vertices", id, j);
        }
        std::vector<int>& edges = vertexEdges_[id];
        if (edges.empty() || edges.back() != edgeId)
            edges.push_back(edgeId);
        return id;
    }

    int pcurve(Handle(Geom2d_Curve) c, double f, double l, const Affine& map)
    {
        while (auto t = Handle(Geom2d_TrimmedCurve)::DownCast(c))
            c = t->BasisCurve();
        // Lines and splines as they are; a conic's spline would run in other
        // parameters than the edge's, so it is fitted in the edge's own.
        Handle(Geom2d_BSplineCurve) s = Handle(Geom2d_BSplineCurve)::DownCast(c);
        if (!s.IsNull())
            s = Handle(Geom2d_BSplineCurve)::DownCast(s->Copy());
        else if (c->IsKind(STANDARD_TYPE(Geom2d_Line)) || c->IsKind(STANDARD_TYPE(Geom2d_BezierCurve)))
            s = Geom2dConvert::CurveToBSplineCurve(new Geom2d_TrimmedCurve(c, f, l));
        else {
            Geom2dConvert_ApproxCurve fit(new Geom2d_TrimmedCurve(c, f, l), 1e-9, GeomAbs_C2, 200, 12);
            if (!fit.HasResult())
                throw std::runtime_error("a pcurve that cannot be made a spline");
            s = fit.Curve();
        }
        if (s->IsPeriodic())
            s->SetNotPeriodic();
        Json j = Json::object();
        j["type"] = "nurbs";
        j["parameterization"] = {{"scale", 1.0}, {"offset", 0.0}, {"flag", true}};
        splineFields(j, s, [&](int i) {
            const gp_Pnt2d p = map(s->Pole(i));
            return std::vector<double>{p.X(), p.Y()};
        });
        j["form"] = 0;
        const int id = reserve("pcurves");
        put("pcurves", id, j);
        return id;
    }

    // A spline curve's fields, its control points as `pole` gives them.
    template <class Spline, class Pole>
    static void splineFields(Json& j, const Spline& s, Pole pole)
    {
        std::vector<double> ctrl, weights;
        for (int i = 1; i <= s->NbPoles(); ++i) {
            const std::vector<double> p = pole(i);
            ctrl.insert(ctrl.end(), p.begin(), p.end());
            if (s->IsRational())
                weights.push_back(s->Weight(i));
        }
        Json k = Json::array(), m = Json::array();
        for (int i = 1; i <= s->NbKnots(); ++i) {
            k.push_back(s->Knot(i));
            m.push_back(s->Multiplicity(i));
        }
        j["degree"] = s->Degree();
        j["count"] = s->NbPoles();
        j["controlPoints"] = ctrl;
        j["weights"] = weights.empty() ? Json(nullptr) : Json(weights);
        j["knots"] = k;
        j["mults"] = m;
        j["form"] = s->IsClosed() ? 1 : 0;
    }

    // Lines, circles and ellipses as they are (their canonical forms are Open
    // CASCADE's parameterisations); everything else as a spline.
    int curve(Handle(Geom_Curve) c, double f, double l)
    {
        while (auto t = Handle(Geom_TrimmedCurve)::DownCast(c))
            c = t->BasisCurve();
        Json j = Json::object();
        if (auto line = Handle(Geom_Line)::DownCast(c)) {
            j["type"] = "line";
            j["parameterization"] = {{"scale", 1.0}, {"offset", 0.0}, {"flag", true}};
            j["domain"] = Json::array({f, l});
            j["point"] = xyz(line->Position().Location().XYZ());
            j["direction"] = xyz(line->Position().Direction().XYZ());
        } else if (c->IsKind(STANDARD_TYPE(Geom_Circle)) || c->IsKind(STANDARD_TYPE(Geom_Ellipse))) {
            const gp_Ax2 frame = Handle(Geom_Conic)::DownCast(c)->Position();
            j["type"] = "ellipse";
            j["parameterization"] = {{"scale", 1.0}, {"offset", 0.0}, {"flag", true}};
            j["domain"] = Json::array({f, l});
            double a, b;
            if (auto circle = Handle(Geom_Circle)::DownCast(c))
                a = b = circle->Radius();
            else {
                a = Handle(Geom_Ellipse)::DownCast(c)->MajorRadius();
                b = Handle(Geom_Ellipse)::DownCast(c)->MinorRadius();
            }
            j["major"] = a;
            j["minor"] = b;
            j["centre"] = xyz(frame.Location().XYZ());
            j["majorDir"] = xyz(frame.XDirection().XYZ());
            j["normal"] = xyz(frame.XDirection().XYZ().Crossed(frame.YDirection().XYZ()));
        } else {
            Handle(Geom_BSplineCurve) s = Handle(Geom_BSplineCurve)::DownCast(c);
            if (s.IsNull()) {
                if (auto bezier = Handle(Geom_BezierCurve)::DownCast(c))
                    s = GeomConvert::CurveToBSplineCurve(bezier);
                else {
                    GeomConvert_ApproxCurve fit(new Geom_TrimmedCurve(c, f, l), fit_, GeomAbs_C2, 100, 12);
                    if (!fit.HasResult())
                        throw std::runtime_error("a curve that cannot be made a spline");
                    s = fit.Curve();
                }
            }
            j["type"] = "nurbs";
            j["parameterization"] = {{"scale", 1.0}, {"offset", 0.0}, {"flag", true}};
            j["domain"] = Json::array({f, l});
            if (s->IsPeriodic()) {
                s = Handle(Geom_BSplineCurve)::DownCast(s->Copy());
                s->SetNotPeriodic();
            }
            splineFields(j, s, [&](int i) {
                const gp_Pnt p = s->Pole(i);
                return std::vector<double>{p.X(), p.Y(), p.Z()};
            });
        }
        const int id = reserve("curves");
        put("curves", id, j);
        return id;
    }

    // The surface record and the map from Open CASCADE's (u, v) to its
    // canonical (s, t); the surface's normal is Open CASCADE's (dS/du x dS/dv),
    // so that a face's sense is its orientation.
    int surface(Handle(Geom_Surface) surface, double u0, double u1, double v0, double v1, Affine& map)
    {
        while (auto t = Handle(Geom_RectangularTrimmedSurface)::DownCast(surface))
            surface = t->BasisSurface();
        map = Affine();
        Json j = Json::object();
        auto frame = [](const gp_Ax3& a, gp_XYZ& x, gp_XYZ& y, gp_XYZ& z) {
            x = a.XDirection().XYZ();
            y = a.YDirection().XYZ();
            z = a.Direction().XYZ();
            return x.Crossed(y).Dot(z) > 0 ? 1.0 : -1.0;
        };
        gp_XYZ X, Y, Z;
        Json uSpan = nullptr, vSpan = nullptr;
        if (auto p = Handle(Geom_Plane)::DownCast(surface)) {
            // o + u X + v Y = o + s X + t (n x X) with n = X x Y.
            frame(p->Position(), X, Y, Z);
            j["type"] = "plane";
            j["origin"] = xyz(p->Position().Location().XYZ());
            j["uVector"] = xyz(X);
            j["normal"] = xyz(X.Crossed(Y));
        } else if (surface->IsKind(STANDARD_TYPE(Geom_CylindricalSurface)) ||
                   surface->IsKind(STANDARD_TYPE(Geom_ConicalSurface))) {
            // o + (R + v sin A)(X cos u + Y sin u) + v cos A Z, about d = X x Y
            // from X: t = u, s = -e (v - v0) / a, a the radius at v0.
            auto cone = Handle(Geom_ConicalSurface)::DownCast(surface);
            auto cyl = Handle(Geom_CylindricalSurface)::DownCast(surface);
            const gp_Ax3 ax = cone.IsNull() ? cyl->Position() : cone->Position();
            const double e = frame(ax, X, Y, Z);
            const double R = cone.IsNull() ? cyl->Radius() : cone->RefRadius();
            const double A = cone.IsNull() ? 0.0 : cone->SemiAngle();
            const double vRef = (A == 0.0 || R > 1e-9) ? 0.0 : 1.0 / std::sin(A);
            const double a = R + vRef * std::sin(A);
            j["type"] = A == 0.0 ? "cylinder" : "cone";
            j["radius"] = a;
            j["halfAngle"] = std::abs(A);
            j["sine"] = -e * std::sin(A);
            j["origin"] = xyz(ax.Location().XYZ() + Z * (vRef * std::cos(A)));
            j["refDir"] = xyz(X);
            j["axis"] = xyz(X.Crossed(Y));
            map = Affine::crossed(-e / a, e * vRef / a, 1.0, 0.0);
        } else if (surface->IsKind(STANDARD_TYPE(Geom_SphericalSurface)) ||
                   surface->IsKind(STANDARD_TYPE(Geom_ToroidalSurface))) {
            // Sphere: o + r cos v (X cos u + Y sin u) + r sin v Z; torus alike.
            // Canonical dir X, pole Z: X x Z = -e Y, so s = v, t = -e u.
            auto sphere = Handle(Geom_SphericalSurface)::DownCast(surface);
            auto torus = Handle(Geom_ToroidalSurface)::DownCast(surface);
            const gp_Ax3 ax = sphere.IsNull() ? torus->Position() : sphere->Position();
            const double e = frame(ax, X, Y, Z);
            if (!sphere.IsNull()) {
                j["type"] = "sphere";
                j["radius"] = sphere->Radius();
                j["centre"] = xyz(ax.Location().XYZ());
                j["dir1"] = xyz(X);
                j["dir2"] = xyz(Z);
            } else {
                j["type"] = "torus";
                j["major"] = torus->MajorRadius();
                j["minor"] = torus->MinorRadius();
                j["toroidalType"] = torus->MajorRadius() > torus->MinorRadius() ? 1 : 2;
                j["centre"] = xyz(ax.Location().XYZ());
                j["refDir"] = xyz(X);
                j["axis"] = xyz(Z);
            }
            map = Affine::crossed(1.0, 0.0, -e, 0.0);
            // Bounded: the box of every (s, t) the surface has.
            uSpan = sphere.IsNull() ? Json::array({0.0, 2.0 * M_PI}) : Json::array({-M_PI / 2, M_PI / 2});
            vSpan = e > 0 ? Json::array({-2.0 * M_PI, 0.0}) : Json::array({0.0, 2.0 * M_PI});
        } else if (auto rev = Handle(Geom_SurfaceOfRevolution)::DownCast(surface)) {
            // The profile at v turned by u: s = v, t = u.
            j["type"] = "revolved";
            j["axisPoint"] = xyz(rev->Axis().Location().XYZ());
            j["axisDir"] = xyz(rev->Axis().Direction().XYZ());
            j["profile"] = curve(rev->BasisCurve(), v0, v1);
            map = Affine::crossed(1.0, 0.0, 1.0, 0.0);
            uSpan = Json::array({v0, v1});
            vSpan = Json::array({0.0, 2.0 * M_PI});
        } else if (auto ext = Handle(Geom_SurfaceOfLinearExtrusion)::DownCast(surface)) {
            j["type"] = "extruded";
            j["direction"] = xyz(ext->Direction().XYZ());
            j["profile"] = curve(ext->BasisCurve(), u0, u1);
        } else if (auto off = Handle(Geom_OffsetSurface)::DownCast(surface)) {
            // Shares its base's canonical parameters; both normals are Open
            // CASCADE's, so the distance is its own.
            j["type"] = "offset";
            j["distance"] = off->Offset();
            j["base"] = this->surface(off->BasisSurface(), u0, u1, v0, v1, map);
        } else {
            Handle(Geom_BSplineSurface) s = Handle(Geom_BSplineSurface)::DownCast(surface);
            if (s.IsNull()) {
                if (auto bezier = Handle(Geom_BezierSurface)::DownCast(surface))
                    s = GeomConvert::SurfaceToBSplineSurface(bezier);
                else {
                    GeomConvert_ApproxSurface fit(new Geom_RectangularTrimmedSurface(surface, u0, u1, v0, v1), fit_,
                                                  GeomAbs_C2, GeomAbs_C2, 14, 14, 200, 0);
                    if (!fit.HasResult())
                        throw std::runtime_error("a surface that cannot be made a spline");
                    s = fit.Surface();
                }
            } else
                s = Handle(Geom_BSplineSurface)::DownCast(s->Copy());
            if (s->IsUPeriodic())
                s->SetUNotPeriodic();
            if (s->IsVPeriodic())
                s->SetVNotPeriodic();
            std::vector<double> ctrl, weights;
            const bool rational = s->IsURational() || s->IsVRational();
            for (int i = 1; i <= s->NbUPoles(); ++i)
                for (int k = 1; k <= s->NbVPoles(); ++k) {
                    const gp_Pnt p = s->Pole(i, k);
                    ctrl.insert(ctrl.end(), {p.X(), p.Y(), p.Z()});
                    if (rational)
                        weights.push_back(s->Weight(i, k));
                }
            Json uk = Json::array(), um = Json::array(), vk = Json::array(), vm = Json::array();
            for (int i = 1; i <= s->NbUKnots(); ++i) {
                uk.push_back(s->UKnot(i));
                um.push_back(s->UMultiplicity(i));
            }
            for (int i = 1; i <= s->NbVKnots(); ++i) {
                vk.push_back(s->VKnot(i));
                vm.push_back(s->VMultiplicity(i));
            }
            j["type"] = "nurbs";
            j["uDegree"] = s->UDegree();
            j["vDegree"] = s->VDegree();
            j["uCount"] = s->NbUPoles();
            j["vCount"] = s->NbVPoles();
            j["controlPoints"] = ctrl;
            j["weights"] = rational ? Json(weights) : Json(nullptr);
            j["uKnots"] = uk;
            j["uMults"] = um;
            j["vKnots"] = vk;
            j["vMults"] = vm;
            j["uClosure"] = s->IsUClosed() ? 1 : 0;
            j["vClosure"] = s->IsVClosed() ? 1 : 0;
            uSpan = Json::array({s->UKnot(1), s->UKnot(s->NbUKnots())});
            vSpan = Json::array({s->VKnot(1), s->VKnot(s->NbVKnots())});
        }
        Json out = Json::object();
        out["type"] = j["type"];
        out["parameterization"] = {{"u", {1.0, 1.0, 0.0}}, {"v", {1.0, 1.0, 0.0}}, {"flag", map.det() > 0}};
        out["uSpan"] = uSpan;
        out["vSpan"] = vSpan;
        for (auto it = j.begin(); it != j.end(); ++it)
            if (it.key() != "type")
                out[it.key()] = it.value();
        const int id = reserve("surfaces");
        put("surfaces", id, out);
        return id;
    }

    std::string finish()
    {
        for (auto& [edge, coedges] : edgeCoedges_)
            tables_["edges"][static_cast<std::size_t>(edge - 1)]["coedges"] = coedges;
        for (auto& [vertex, edges] : vertexEdges_)
            tables_["vertices"][static_cast<std::size_t>(vertex - 1)]["edges"] = edges;
        Json d = Json::object();
        d["format"] = "qelx-neutral";
        d["version"] = 1;
        d["xtype"] = "XTest";
        d["unit"] = 1;
        for (const char* t : {"bodies", "lumps", "volumes", "shells", "faces", "loops", "coedges", "edges", "vertices",
                              "wires", "surfaces", "curves", "pcurves", "points"})
            d[t] = tables_[t];
        for (const char* t : {"freeSurfaces", "freeCurves", "freePoints", "attributes", "layers", "layerFilters",
                              "groups"})
            d[t] = Json::array();
        return d.dump();
    }

    double fit_;
    std::map<std::string, Json> tables_;
    TopTools_IndexedMapOfShape edges_, vertices_;
    std::map<int, std::vector<int>> edgeCoedges_, vertexEdges_;
};

// The document of a shape, by Open CASCADE alone.
inline std::string neutralText(const TopoDS_Shape& shape, double fitTolerance = 1e-6)
{
    return Writer(fitTolerance).write(shape);
}

} // namespace occ_neutral
