// Builders of geometrically consistent source models: vertices lie on
// their curves, curves on their surfaces, and pcurves meet the edge curves
// (exactly at every parameter, except circles in a plane, whose rational
// pcurves meet the circle's angle only at their knots).
#include "qelx/test_model.hxx"

#include <cmath>

namespace qelx_test {

namespace {

// Full circle in the (u, v) plane as a rational quadratic of four quarter
// arcs, parameter t0 .. t0 + 2 pi (the angle at the knots).
TestNurbs circle2D(double cu, double cv, double r, double t0)
{
    TestNurbs n;
    n.degree = 2;
    n.count = 9;
    n.form = 1;
    const double w = std::sqrt(0.5);
    for (int k = 0; k < 9; ++k) {
        const double angle = t0 + k * M_PI / 4;
        const double reach = (k % 2) ? r / w : r;
        n.ctrl.push_back(cu + reach * std::cos(angle));
        n.ctrl.push_back(cv + reach * std::sin(angle));
        n.weights.push_back((k % 2) ? w : 1.0);
    }
    for (int k = 0; k <= 4; ++k)
        n.knots.push_back(t0 + k * M_PI / 2);
    n.mults = {3, 2, 2, 2, 3};
    return n;
}

std::vector<double> uniformKnots(int count, int degree, std::vector<int>& mults)
{
    const int spans = count - degree;
    std::vector<double> knots;
    mults.clear();
    for (int k = 0; k <= spans; ++k) {
        knots.push_back(static_cast<double>(k) / spans);
        mults.push_back(k == 0 || k == spans ? degree + 1 : 1);
    }
    return knots;
}

} // namespace

TestModel TestModel::block(double dx, double dy, double dz)
{
    TestModel m;
    int shell = -1;
    m.addSolidBody(shell);
    const Vec3 c[8] = {{0, 0, 0}, {dx, 0, 0}, {dx, dy, 0}, {0, dy, 0},
                       {0, 0, dz}, {dx, 0, dz}, {dx, dy, dz}, {0, dy, dz}};
    int v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = m.addVertex(c[i]);
    struct Side {
        Vec3 origin, u, normal;
        int ring[4];
    };
    const Side sides[6] = {
        {{0, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, 3, 2, 1}}, {{0, 0, dz}, {1, 0, 0}, {0, 0, 1}, {4, 5, 6, 7}},
        {{0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 5, 4}}, {{0, dy, 0}, {1, 0, 0}, {0, 1, 0}, {3, 7, 6, 2}},
        {{0, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, 4, 7, 3}}, {{dx, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 2, 6, 5}},
    };
    for (const Side& s : sides) {
        const int plane = m.addPlane(s.origin, s.u, s.normal);
        m.addPolygonFace(shell, plane, {{v[s.ring[0]], v[s.ring[1]], v[s.ring[2]], v[s.ring[3]]}});
    }
    return m;
}

TestModel TestModel::cylinder(double r, double h)
{
    TestModel m;
    int shell = -1;
    m.addSolidBody(shell);
    const double H = h / r, twoPi = 2.0 * M_PI;
    // Canonical (s, t) -> (r cos t, -r sin t, r s): s climbs the axis.
    const int side = m.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, -1}, r, 0.0);
    m.surfaces[side].uSpan[0] = 0.0;
    m.surfaces[side].uSpan[1] = H;
    const int bottomPlane = m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, -1});
    const int topPlane = m.addPlane({0, 0, h}, {1, 0, 0}, {0, 0, 1});
    const int v0 = m.addVertex({r, 0, 0}), v1 = m.addVertex({r, 0, h});
    const int seam = m.addEdge(m.addLine({r, 0, 0}, {r, 0, h}), v0, v1, 0.0, h);
    const int bottom = m.addEdge(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, r, r, 0.0, twoPi), v0, v0, 0.0, twoPi);
    const int top = m.addEdge(m.addEllipse({0, 0, h}, {1, 0, 0}, {0, 0, 1}, r, r, 0.0, twoPi), v1, v1, 0.0, twoPi);

    const int lateral = m.addFace(shell, side);
    const int loop = m.addLoop(lateral);
    m.addCoedge(loop, seam, true, m.addLinePCurve({0, 0}, {H, 0}, 0.0, h));
    m.addCoedge(loop, top, false, m.addLinePCurve({H, 0}, {H, twoPi}, -twoPi, 0.0));
    m.addCoedge(loop, seam, false, m.addLinePCurve({H, twoPi}, {0, twoPi}, -h, 0.0));
    m.addCoedge(loop, bottom, true, m.addLinePCurve({0, twoPi}, {0, 0}, 0.0, twoPi));

    // Bottom plane (s, t) -> (s, -t, 0): the reversed circle at coedge
    // parameter t' is (r cos t', r sin t').
    const int bottomFace = m.addFace(shell, bottomPlane);
    m.faces[bottomFace].uDomain[0] = m.faces[bottomFace].vDomain[0] = -r;
    m.faces[bottomFace].uDomain[1] = m.faces[bottomFace].vDomain[1] = r;
    m.addCoedge(m.addLoop(bottomFace), bottom, false, m.addPCurve(circle2D(0, 0, r, -twoPi)));
    const int topFace = m.addFace(shell, topPlane);
    m.faces[topFace].uDomain[0] = m.faces[topFace].vDomain[0] = -r;
    m.faces[topFace].uDomain[1] = m.faces[topFace].vDomain[1] = r;
    m.addCoedge(m.addLoop(topFace), top, true, m.addPCurve(circle2D(0, 0, r, 0.0)));
    return m;
}

namespace {
// A solid whose one face covers a closed surface, without loops.
template <class Make>
TestModel closedFace(Make make)
{
    TestModel m;
    int shell = -1;
    m.addSolidBody(shell);
    m.addFace(shell, make(m));
    return m;
}
} // namespace

TestModel TestModel::sphereFace(double r)
{
    return closedFace([&](TestModel& m) { return m.addSphere({0, 0, 0}, r); });
}

TestModel TestModel::torusFace(double R, double r)
{
    return closedFace([&](TestModel& m) { return m.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, R, r, false); });
}

TestModel TestModel::lemonTorus(double R, double r)
{
    return closedFace([&](TestModel& m) { return m.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, R, r, true); });
}

TestModel TestModel::planeFace(bool noLoops)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int plane = m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    if (noLoops) {
        m.addFace(shell, plane);
        return m;
    }
    const int a = m.addVertex({0, 0, 0}), b = m.addVertex({1, 0, 0}), c = m.addVertex({1, 1, 0}),
              d = m.addVertex({0, 1, 0});
    const int face = m.addPolygonFace(shell, plane, {{a, b, c, d}});
    m.faces[face].uDomain[0] = m.faces[face].vDomain[0] = 0.0;
    m.faces[face].uDomain[1] = m.faces[face].vDomain[1] = 1.0;
    return m;
}

TestModel TestModel::nurbsSheet(int nu, int nv, bool rational)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int pu = std::min(3, nu - 1), pv = std::min(3, nv - 1);
    std::vector<int> uMults, vMults;
    std::vector<double> uKnots = uniformKnots(nu, pu, uMults), vKnots = uniformKnots(nv, pv, vMults);
    std::vector<double> ctrl, weights;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const double x = static_cast<double>(i) / (nu - 1), y = static_cast<double>(j) / (nv - 1);
            ctrl.insert(ctrl.end(), {x, y, 0.3 * std::sin(M_PI * x) * std::sin(M_PI * y) + 0.1 * x * y});
            if (rational)
                weights.push_back(1.0 + 0.25 * ((i + j) % 2));
        }
    const int surface = m.addNurbsSurface(pu, pv, nu, nv, ctrl, uKnots, uMults, vKnots, vMults, weights);
    const TestSurface& s = m.surfaces[surface];
    // Boundary curves: a boundary row or column of the net over its knots.
    auto boundary = [&](bool alongU, int fixed) {
        TestNurbs n;
        n.degree = alongU ? pu : pv;
        n.count = alongU ? nu : nv;
        n.knots = alongU ? uKnots : vKnots;
        n.mults = alongU ? uMults : vMults;
        for (int k = 0; k < n.count; ++k) {
            const int i = alongU ? k : fixed, j = alongU ? fixed : k;
            const std::size_t at = static_cast<std::size_t>(i * nv + j);
            n.ctrl.insert(n.ctrl.end(), {s.ctrl[3 * at], s.ctrl[3 * at + 1], s.ctrl[3 * at + 2]});
            if (rational)
                n.weights.push_back(s.weights[at]);
        }
        return m.addNurbsCurve(n);
    };
    const int c0 = boundary(true, 0), c1 = boundary(false, nu - 1), c2 = boundary(true, nv - 1),
              c3 = boundary(false, 0);
    auto corner = [&](int i, int j) {
        const std::size_t at = 3 * static_cast<std::size_t>(i * nv + j);
        return m.addVertex({ctrl[at], ctrl[at + 1], ctrl[at + 2]});
    };
    const int v00 = corner(0, 0), v10 = corner(nu - 1, 0), v11 = corner(nu - 1, nv - 1), v01 = corner(0, nv - 1);
    const int e0 = m.addEdge(c0, v00, v10, 0, 1), e1 = m.addEdge(c1, v10, v11, 0, 1), e2 = m.addEdge(c2, v01, v11, 0, 1),
              e3 = m.addEdge(c3, v00, v01, 0, 1);
    const int face = m.addFace(shell, surface);
    m.faces[face].category = 0;
    const int loop = m.addLoop(face);
    m.addCoedge(loop, e0, true, m.addLinePCurve({0, 0}, {1, 0}, 0, 1));
    m.addCoedge(loop, e1, true, m.addLinePCurve({1, 0}, {1, 1}, 0, 1));
    m.addCoedge(loop, e2, false, m.addLinePCurve({1, 1}, {0, 1}, -1, 0));
    m.addCoedge(loop, e3, false, m.addLinePCurve({0, 1}, {0, 0}, -1, 0));
    return m;
}

TestModel TestModel::twoFacesSharingEdge()
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int v0 = m.addVertex({0, 0, 0}), v1 = m.addVertex({1, 0, 0}), v2 = m.addVertex({1, 1, 0}),
              v3 = m.addVertex({0, 1, 0}), v4 = m.addVertex({1, 0, 1}), v5 = m.addVertex({1, 1, 1});
    m.addPolygonFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), {{v0, v1, v2, v3}});
    m.addPolygonFace(shell, m.addPlane({1, 0, 0}, {0, 1, 0}, {-1, 0, 0}), {{v2, v1, v4, v5}});
    return m;
}

TestModel TestModel::sheetWithHole()
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    std::vector<int> outer, hole;
    for (const Vec3& p : {Vec3{0, 0, 0}, Vec3{4, 0, 0}, Vec3{4, 4, 0}, Vec3{0, 4, 0}})
        outer.push_back(m.addVertex(p));
    for (const Vec3& p : {Vec3{1, 1, 0}, Vec3{1, 3, 0}, Vec3{3, 3, 0}, Vec3{3, 1, 0}})
        hole.push_back(m.addVertex(p));
    const int face = m.addPolygonFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), {outer, hole});
    m.faces[face].uDomain[0] = m.faces[face].vDomain[0] = 0.0;
    m.faces[face].uDomain[1] = m.faces[face].vDomain[1] = 4.0;
    return m;
}

TestModel TestModel::coneWithApexLoop(double r, double halfAngle)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    // The radius shrinks along +z; canonical s runs from the apex (-1/sin)
    // to the base circle (0).
    const int cone = m.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, r, halfAngle);
    const double twoPi = 2.0 * M_PI;
    const int vb = m.addVertex({r, 0, 0});
    const int va = m.addVertex({0, 0, r / std::tan(halfAngle)});
    const int base = m.addEdge(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, r, r, 0.0, twoPi), vb, vb, 0.0, twoPi);
    const int face = m.addFace(shell, cone);
    m.addCoedge(m.addLoop(face), base, true, m.addLinePCurve({0, 0}, {0, twoPi}, 0.0, twoPi));
    const int apex = m.addLoop(face);
    m.loops[apex].degenerate = true;
    m.loops[apex].vertex = va;
    return m;
}

TestModel TestModel::polylineWire(const std::vector<Vec3>& pts)
{
    TestModel m;
    const int body = m.addBody();
    TestWire w;
    for (const Vec3& p : pts)
        w.vertices.push_back(m.addVertex(p));
    for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
        const int line = m.addLine(pts[i], pts[i + 1]);
        w.edges.push_back(m.addEdge(line, w.vertices[i], w.vertices[i + 1], 0.0, m.curves[line].domain[1]));
    }
    m.wires.push_back(w);
    m.bodies[body].wires.push_back(static_cast<int>(m.wires.size()) - 1);
    return m;
}

TestModel TestModel::pointWire(const std::vector<Vec3>& pts)
{
    TestModel m;
    const int body = m.addBody();
    TestWire w;
    for (const Vec3& p : pts)
        w.vertices.push_back(m.addVertex(p));
    m.wires.push_back(w);
    m.bodies[body].pointWires.push_back(static_cast<int>(m.wires.size()) - 1);
    return m;
}

TestModel TestModel::freeGeometry()
{
    TestModel m;
    m.freeSurface(m.addPlane({0, 0, 1}, {1, 0, 0}, {0, 0, 1}));
    const int cyl = m.freeSurface(m.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0));
    m.surfaces[cyl].uSpan[0] = -1.0;
    m.surfaces[cyl].uSpan[1] = 0.0;
    m.freeSurface(m.addCone({0, 0, 0}, {0, 1, 0}, {0, 0, 1}, 1.5, 0.4));
    m.freeSurface(m.addSphere({1, 2, 3}, 2.5));
    m.freeSurface(m.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 3.0, 1.0, false));
    m.freeSurface(m.addTorus({0, 0, 5}, {0, 1, 0}, {1, 0, 0}, 0.5, 1.0, true));
    const TestModel sheet = nurbsSheet(5, 4, true);
    const TestSurface& ns = sheet.surfaces[0];
    m.freeSurface(m.addNurbsSurface(ns.uDegree, ns.vDegree, ns.uCount, ns.vCount, ns.ctrl, ns.uKnots, ns.uMults,
                                    ns.vKnots, ns.vMults, ns.weights));
    const int profile = m.addLine({2, 0, 0}, {3, 0, 2});
    m.freeSurface(m.addRevolved(profile, {0, 0, 0}, {0, 0, 1}, 0.0, 2.0 * M_PI));
    const int arc = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, M_PI);
    m.freeSurface(m.addExtruded(arc, {0, 0.5, 3}, 0.0, 1.0));
    m.freeSurface(m.addOffset(cyl, 0.5));
    TestSurface unknown = m.surfaces[6];
    unknown.type = SurfUnknown;
    m.surfaces.push_back(unknown);
    m.freeSurface(static_cast<int>(m.surfaces.size()) - 1);

    m.freeCurve(m.addLine({0, 0, 0}, {1, 2, 2}));
    m.freeCurve(m.addEllipse({1, 1, 1}, {0, 1, 0}, {1, 0, 0}, 3.0, 1.0, -1.0, 2.0));
    m.freeCurve(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1.0, 1.0, 0.0, 2.0 * M_PI));
    m.freeCurve(sheet.curves[0].type == CurvNurbs ? m.addNurbsCurve(sheet.curves[0].nurbs) : -1);
    TestCurve other = m.curves.back();
    other.type = CurvOther;
    m.curves.push_back(other);
    m.freeCurve(static_cast<int>(m.curves.size()) - 1);
    m.freeCurve(profile);
    m.freeCurve(arc);
    m.freePoint({1, 2, 3});
    m.freePoint({-4, 0.5, 0});
    return m;
}

} // namespace qelx_test

namespace qelx_test {

int TestModel::append(const TestModel& other)
{
    int offset[KindPoint + 1] = {};
    offset[KindBody] = static_cast<int>(bodies.size());
    offset[KindLump] = static_cast<int>(lumps.size());
    offset[KindVolume] = static_cast<int>(volumes.size());
    offset[KindShell] = static_cast<int>(shells.size());
    offset[KindFace] = static_cast<int>(faces.size());
    offset[KindLoop] = static_cast<int>(loops.size());
    offset[KindCoedge] = static_cast<int>(coedges.size());
    offset[KindEdge] = static_cast<int>(edges.size());
    offset[KindVertex] = static_cast<int>(vertices.size());
    offset[KindWire] = static_cast<int>(wires.size());
    offset[KindSurface] = static_cast<int>(surfaces.size());
    offset[KindCurve] = static_cast<int>(curves.size());
    offset[KindPCurve] = static_cast<int>(pcurves.size());
    offset[KindPoint] = static_cast<int>(points.size());
    const auto at = [&](EntityKind kind, int i) { return i < 0 ? i : i + offset[kind]; };
    const auto all = [&](EntityKind kind, std::vector<int> list) {
        for (int& i : list)
            i = at(kind, i);
        return list;
    };
    for (TestBody b : other.bodies) {
        b.lumps = all(KindLump, b.lumps);
        b.shells2D = all(KindShell, b.shells2D);
        b.faces = all(KindFace, b.faces);
        b.wires = all(KindWire, b.wires);
        b.pointWires = all(KindWire, b.pointWires);
        bodies.push_back(b);
    }
    for (TestLump l : other.lumps) {
        l.volumes = all(KindVolume, l.volumes);
        lumps.push_back(l);
    }
    for (TestVolume v : other.volumes) {
        v.shells = all(KindShell, v.shells);
        volumes.push_back(v);
    }
    for (TestShell s : other.shells) {
        s.faces = all(KindFace, s.faces);
        shells.push_back(s);
    }
    for (TestFace f : other.faces) {
        f.surface = at(KindSurface, f.surface);
        f.loops = all(KindLoop, f.loops);
        faces.push_back(f);
    }
    for (TestLoop l : other.loops) {
        l.face = at(KindFace, l.face);
        l.coedges = all(KindCoedge, l.coedges);
        l.vertex = at(KindVertex, l.vertex);
        loops.push_back(l);
    }
    for (TestCoedge c : other.coedges) {
        c.loop = at(KindLoop, c.loop);
        c.edge = at(KindEdge, c.edge);
        c.pcurve = at(KindPCurve, c.pcurve);
        coedges.push_back(c);
    }
    for (TestEdge e : other.edges) {
        e.curve = at(KindCurve, e.curve);
        e.start = at(KindVertex, e.start);
        e.end = at(KindVertex, e.end);
        e.coedges = all(KindCoedge, e.coedges);
        edges.push_back(e);
    }
    for (TestVertex v : other.vertices) {
        v.point = at(KindPoint, v.point);
        v.edges = all(KindEdge, v.edges);
        vertices.push_back(v);
    }
    for (TestWire w : other.wires) {
        w.edges = all(KindEdge, w.edges);
        w.vertices = all(KindVertex, w.vertices);
        wires.push_back(w);
    }
    for (TestSurface s : other.surfaces) {
        // An offset names its base surface, a swept surface its profile curve.
        if (s.type == SurfOffset)
            s.ref = at(KindSurface, s.ref);
        else if (s.type == SurfRevolved || s.type == SurfExtruded)
            s.ref = at(KindCurve, s.ref);
        surfaces.push_back(s);
    }
    curves.insert(curves.end(), other.curves.begin(), other.curves.end());
    pcurves.insert(pcurves.end(), other.pcurves.begin(), other.pcurves.end());
    points.insert(points.end(), other.points.begin(), other.points.end());
    for (int i : other.freeSurfaces)
        freeSurfaces.push_back(at(KindSurface, i));
    for (int i : other.freeCurves)
        freeCurves.push_back(at(KindCurve, i));
    for (int i : other.freePoints)
        freePoints.push_back(at(KindPoint, i));
    const auto shiftWord = [&](std::uint64_t word) {
        const int kind = kindOfWord(word);
        if (kind < KindBody || kind > KindPoint)
            return word;
        return wordOf(static_cast<EntityKind>(kind), at(static_cast<EntityKind>(kind), indexOfWord(word)));
    };
    for (const auto& [word, a] : other.attributes)
        attributes.set(shiftWord(word), a);
    for (const auto& [number, layer] : other.layers)
        layers.emplace(number, layer);
    layerFilters.insert(layerFilters.end(), other.layerFilters.begin(), other.layerFilters.end());
    for (TestGroup g : other.groups) {
        for (std::uint64_t& m : g.members)
            m = shiftWord(m);
        groups.push_back(g);
    }
    return offset[KindBody];
}

} // namespace qelx_test
