// The framework walk over any B-rep exporter. Topology is collected once
// per identifier word; geometry is read afresh at every reference, since
// one word may stand for differently parameterised uses of one object.
#include "qelx/framework_walk.hxx"

#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"

#include <cmath>
#include <unordered_map>

namespace qelx_test {

namespace {

Vec3 vec(const double v[3]) { return {v[0], v[1], v[2]}; }

class Walker {
public:
    Walker(QELXBRepExporter* exporter, TestModel& model, WalkSummary& summary)
        : m_x(exporter), m_m(model), m_s(summary)
    {
        m_x->GetGeometryExporter(m_g);
        m_x->GetAttributeExporter(m_a);
    }

    QELIResult run();

private:
    bool ok(QELIResult r)
    {
        if (r != QELI_OK)
            ++m_s.failedCalls;
        return r == QELI_OK;
    }
    // Source identifier per collected entity, for the attribute pass.
    void remember(const QELXIdentifier& source, std::uint64_t word) { m_sources.push_back({source, word}); }

    int body(const QELXIdentifier& id);
    int shell(const QELXIdentifier& id);
    int face(const QELXIdentifier& id);
    int loop(const QELXIdentifier& id, int face);
    int coedge(const QELXIdentifier& id, int loop);
    int edge(const QELXIdentifier& id);
    int vertex(const QELXIdentifier& id);
    int wire(const QELXIdentifier& id);
    int surface(const QELXIdentifier& id, int depth = 0);
    int curve(const QELXIdentifier& id);
    int pcurve(const QELXIdentifier& id);
    int point(const QELXIdentifier& id);
    bool nurbs(TestNurbs& n, int dim, bool pcurve, const QELXIdentifier& id);
    void attributes();
    void resolveRings();

    // Walks a counted list: count(parent, n), then item(parent, i, out).
    template <class Count, class Item, class Visit>
    void list(const QELXIdentifier& parent, Count count, Item item, Visit visit)
    {
        int n = 0;
        if (!ok((m_x->*count)(parent, n)))
            return;
        for (int i = 0; i < n; ++i) {
            QELXIdentifier child;
            int index = i;
            if (ok(item(m_x, parent, index, child)) && child.IsValid())
                visit(child);
        }
    }

    // Looks a word up in a table's map, or makes a new slot with `make`.
    template <class Make>
    int once(std::unordered_map<std::uint64_t, int>& seen, const QELXIdentifier& id, Make make)
    {
        auto it = seen.find(id.GetValue());
        if (it != seen.end())
            return it->second;
        return make();
    }

    QELXBRepExporter* m_x;
    QELXGeometryExporter* m_g = nullptr;
    QELXAttributeExporter* m_a = nullptr;
    TestModel& m_m;
    WalkSummary& m_s;
    std::unordered_map<std::uint64_t, int> m_lumps, m_volumes, m_shells, m_faces, m_loops, m_coedges, m_edges,
        m_vertices, m_wires;
    std::vector<std::vector<std::uint64_t>> m_edgeRings, m_vertexEdges; // words, resolved at the end
    std::vector<std::pair<QELXIdentifier, std::uint64_t>> m_sources;
};

} // namespace

QELIResult Walker::run()
{
    int bodies = 0;
    if (!ok(m_x->GetNumberOfBodies(bodies)))
        return QELI_FAIL;
    {
        QELXStartConversionStageEvent stage("Bodies", bodies, 0.9, false);
        QELXEventBus::Fire(stage);
        for (int b = 0; b < bodies; ++b) {
            QELXStartConversionStageEvent one("Body", b + 1, bodies ? 0.9 / bodies : 0.0, false);
            QELXEventBus::Fire(one);
            QELXIdentifier id;
            if (ok(m_x->GetBody(b, id)) && id.IsValid())
                body(id);
            one.SetFinished();
            QELXEventBus::Fire(one);
        }
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    resolveRings();
    {
        int ns = 0, nc = 0, np = 0;
        ok(m_x->GetNumberOfFreeSurfaces(ns));
        ok(m_x->GetNumberOfFreeCurves(nc));
        ok(m_x->GetNumberOfFreePoints(np));
        QELXStartConversionStageEvent stage("Free entities", ns + nc + np, 0.05, false);
        QELXEventBus::Fire(stage);
        // Free entities: read each, keep what could be read, remember it for its attributes.
        auto readFree = [&](int n, QELIResult (QELXBRepExporter::*get)(int, QELXIdentifier&), auto read,
                        std::vector<int>& into, EntityKind kind) {
            for (int i = 0; i < n; ++i) {
                QELXIdentifier id;
                if (!ok((m_x->*get)(i, id)) || !id.IsValid())
                    continue;
                const int index = read(id);
                if (index >= 0) {
                    into.push_back(index);
                    remember(id, wordOf(kind, index));
                }
            }
        };
        readFree(ns, &QELXBRepExporter::GetFreeSurface, [&](const QELXIdentifier& id) { return surface(id); },
             m_m.freeSurfaces, KindSurface);
        readFree(nc, &QELXBRepExporter::GetFreeCurve, [&](const QELXIdentifier& id) { return curve(id); }, m_m.freeCurves,
             KindCurve);
        readFree(np, &QELXBRepExporter::GetFreePoint, [&](const QELXIdentifier& id) { return point(id); }, m_m.freePoints,
             KindPoint);
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    {
        QELXStartConversionStageEvent stage("Attributes", static_cast<int>(m_sources.size()), 0.05, true);
        QELXEventBus::Fire(stage);
        attributes();
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    m_s.bodies = static_cast<int>(m_m.bodies.size());
    m_s.faces = static_cast<int>(m_m.faces.size());
    m_s.loops = static_cast<int>(m_m.loops.size());
    m_s.coedges = static_cast<int>(m_m.coedges.size());
    m_s.edges = static_cast<int>(m_m.edges.size());
    m_s.vertices = static_cast<int>(m_m.vertices.size());
    m_s.wires = static_cast<int>(m_m.wires.size());
    m_s.surfaces = static_cast<int>(m_m.surfaces.size());
    m_s.curves = static_cast<int>(m_m.curves.size());
    m_s.pcurves = static_cast<int>(m_m.pcurves.size());
    m_s.points = static_cast<int>(m_m.points.size());
    return QELI_OK;
}

int Walker::body(const QELXIdentifier& id)
{
    const int b = m_m.addBody();
    remember(id, wordOf(KindBody, b));
    m_x->PrepareBody(id);
    list(id, &QELXBRepExporter::GetNumberOfLumpsFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetLumpFromBody(p, i, o); },
         [&](const QELXIdentifier& l) {
             const int lump = once(m_lumps, l, [&] {
                 m_m.lumps.emplace_back();
                 const int li = static_cast<int>(m_m.lumps.size()) - 1;
                 m_lumps[l.GetValue()] = li;
                 remember(l, wordOf(KindLump, li));
                 list(l, &QELXBRepExporter::GetNumberOfVolumesFromLump,
                      [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
                          return x->GetVolumeFromLump(p, i, o);
                      },
                      [&](const QELXIdentifier& v) {
                          const int volume = once(m_volumes, v, [&] {
                              m_m.volumes.emplace_back();
                              const int vi = static_cast<int>(m_m.volumes.size()) - 1;
                              m_volumes[v.GetValue()] = vi;
                              remember(v, wordOf(KindVolume, vi));
                              list(v, &QELXBRepExporter::GetNumberOfShellsFromVolume,
                                   [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
                                       return x->GetShellFromVolume(p, i, o);
                                   },
                                   [&](const QELXIdentifier& s) { m_m.volumes[vi].shells.push_back(shell(s)); });
                              return vi;
                          });
                          m_m.lumps[li].volumes.push_back(volume);
                      });
                 return li;
             });
             m_m.bodies[b].lumps.push_back(lump);
         });
    list(id, &QELXBRepExporter::GetNumberOf2DShellsFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->Get2DShellFromBody(p, i, o); },
         [&](const QELXIdentifier& s) { m_m.bodies[b].shells2D.push_back(shell(s)); });
    list(id, &QELXBRepExporter::GetNumberOfFacesFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetFaceFromBody(p, i, o); },
         [&](const QELXIdentifier& f) { m_m.bodies[b].faces.push_back(face(f)); });
    list(id, &QELXBRepExporter::GetNumberOfWiresFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetWireFromBody(p, i, o); },
         [&](const QELXIdentifier& w) { m_m.bodies[b].wires.push_back(wire(w)); });
    list(id, &QELXBRepExporter::GetNumberOfPointWiresFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
             return x->GetPointWireFromBody(p, i, o);
         },
         [&](const QELXIdentifier& w) { m_m.bodies[b].pointWires.push_back(wire(w)); });
    m_x->ReleaseBody(id);
    return b;
}

int Walker::shell(const QELXIdentifier& id)
{
    return once(m_shells, id, [&] {
        m_m.shells.emplace_back();
        const int s = static_cast<int>(m_m.shells.size()) - 1;
        m_shells[id.GetValue()] = s;
        remember(id, wordOf(KindShell, s));
        // The exporter answers "open" for a shell with a free boundary and
        // fails for a closed one; other answers say nothing.
        bool open = false;
        const QELIResult r = m_x->IsShellClosed(id, open);
        if (r == QELI_OK)
            m_m.shells[s].closed = !open;
        else if (r == QELI_FAIL)
            m_m.shells[s].closed = true;
        else
            ok(r);
        list(id, &QELXBRepExporter::GetNumberOfFacesFromShell,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetFaceFromShell(p, i, o); },
             [&](const QELXIdentifier& f) { m_m.shells[s].faces.push_back(face(f)); });
        return s;
    });
}

int Walker::face(const QELXIdentifier& id)
{
    return once(m_faces, id, [&] {
        m_m.faces.emplace_back();
        const int f = static_cast<int>(m_m.faces.size()) - 1;
        m_faces[id.GetValue()] = f;
        remember(id, wordOf(KindFace, f));
        TestFace data;
        data.uDomain[0] = data.uDomain[1] = data.vDomain[0] = data.vDomain[1] = 0.0;
        ok(m_x->IsFaceOrientationCorrect(id, data.orientationCorrect));
        ok(m_x->GetFaceSense(id, data.sense));
        QELXIdentifier s;
        if (ok(m_x->GetFaceSurface(id, s)) && s.IsValid())
            data.surface = surface(s);
        m_x->ReleaseGeometry(id, 4);
        ok(m_x->GetFaceDomain(id, data.uDomain, data.vDomain));
        ok(m_x->GetFaceCategory(id, data.category));
        m_m.faces[f] = data;
        list(id, &QELXBRepExporter::GetNumberOfLoopsFromFace,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetLoopFromFace(p, i, o); },
             [&](const QELXIdentifier& l) { m_m.faces[f].loops.push_back(loop(l, f)); });
        return f;
    });
}

int Walker::loop(const QELXIdentifier& id, int face)
{
    return once(m_loops, id, [&] {
        m_m.loops.emplace_back();
        const int l = static_cast<int>(m_m.loops.size()) - 1;
        m_loops[id.GetValue()] = l;
        remember(id, wordOf(KindLoop, l));
        m_m.loops[l].face = face;
        bool flag = false;
        if (ok(m_x->IsOuterLoop(id, flag)))
            m_m.loops[l].outer = flag;
        flag = false;
        if (ok(m_x->IsLoopDegenerate(id, flag)) && flag) {
            m_m.loops[l].degenerate = true;
            QELXIdentifier v;
            if (ok(m_x->GetVertexFromDegenerateLoop(id, v)) && v.IsValid())
                m_m.loops[l].vertex = vertex(v);
        }
        list(id, &QELXBRepExporter::GetNumberOfCoedgesFromLoop,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetCoedgeFromLoop(p, i, o); },
             [&](const QELXIdentifier& c) { m_m.loops[l].coedges.push_back(coedge(c, l)); });
        return l;
    });
}

int Walker::coedge(const QELXIdentifier& id, int loop)
{
    return once(m_coedges, id, [&] {
        m_m.coedges.emplace_back();
        const int c = static_cast<int>(m_m.coedges.size()) - 1;
        m_coedges[id.GetValue()] = c;
        remember(id, wordOf(KindCoedge, c));
        TestCoedge data;
        data.loop = loop;
        data.domain[0] = data.domain[1] = 0.0;
        ok(m_x->GetCoedgeSense(id, data.sense));
        ok(m_x->GetCoedgeDomain(id, data.domain[0], data.domain[1]));
        QELXIdentifier p;
        if (ok(m_x->GetCoedgePCurve(id, p)) && p.IsValid())
            data.pcurve = pcurve(p);
        m_x->ReleaseGeometry(id, 2);
        ok(m_x->GetCoedgePCurveSense(id, data.pcurveSense));
        m_m.coedges[c] = data;
        QELXIdentifier e;
        if (ok(m_x->GetEdgeFromCoedge(id, e)) && e.IsValid())
            m_m.coedges[c].edge = edge(e);
        return c;
    });
}

int Walker::edge(const QELXIdentifier& id)
{
    return once(m_edges, id, [&] {
        m_m.edges.emplace_back();
        m_edgeRings.emplace_back();
        const int e = static_cast<int>(m_m.edges.size()) - 1;
        m_edges[id.GetValue()] = e;
        remember(id, wordOf(KindEdge, e));
        TestEdge data;
        data.domain[0] = data.domain[1] = 0.0;
        ok(m_x->GetEdgeDomain(id, data.domain[0], data.domain[1]));
        QELXIdentifier c;
        if (ok(m_x->GetEdgeCurve(id, c)) && c.IsValid())
            data.curve = curve(c);
        m_x->ReleaseGeometry(id, 1);
        ok(m_x->GetEdgeSense(id, data.sense));
        m_m.edges[e] = data;
        QELXIdentifier v;
        if (ok(m_x->GetStartVertexFromEdge(id, v)) && v.IsValid())
            m_m.edges[e].start = vertex(v);
        v = QELXIdentifier();
        if (ok(m_x->GetEndVertexFromEdge(id, v)) && v.IsValid())
            m_m.edges[e].end = vertex(v);
        list(id, &QELXBRepExporter::GetNumberOfCoedgesFromEdge,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetCoedgeFromEdge(p, i, o); },
             [&](const QELXIdentifier& co) { m_edgeRings[static_cast<std::size_t>(e)].push_back(co.GetValue()); });
        return e;
    });
}

int Walker::vertex(const QELXIdentifier& id)
{
    return once(m_vertices, id, [&] {
        m_m.vertices.emplace_back();
        m_vertexEdges.emplace_back();
        const int v = static_cast<int>(m_m.vertices.size()) - 1;
        m_vertices[id.GetValue()] = v;
        remember(id, wordOf(KindVertex, v));
        QELXIdentifier p;
        if (ok(m_x->GetVertexPoint(id, p)) && p.IsValid())
            m_m.vertices[v].point = point(p);
        m_x->ReleaseGeometry(id, 0);
        list(id, &QELXBRepExporter::GetNumberOfEdgesFromVertex,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetEdgeFromVertex(p, i, o); },
             [&](const QELXIdentifier& e) { m_vertexEdges[static_cast<std::size_t>(v)].push_back(e.GetValue()); });
        return v;
    });
}

int Walker::wire(const QELXIdentifier& id)
{
    return once(m_wires, id, [&] {
        m_m.wires.emplace_back();
        const int w = static_cast<int>(m_m.wires.size()) - 1;
        m_wires[id.GetValue()] = w;
        remember(id, wordOf(KindWire, w));
        list(id, &QELXBRepExporter::GetNumberOfEdgesFromWire,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetEdgeFromWire(p, i, o); },
             [&](const QELXIdentifier& e) { m_m.wires[w].edges.push_back(edge(e)); });
        list(id, &QELXBRepExporter::GetNumberOfVerticesFromWire,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetVertexFromWire(p, i, o); },
             [&](const QELXIdentifier& v) { m_m.wires[w].vertices.push_back(vertex(v)); });
        return w;
    });
}

// Partner rings and vertex edge lists name entities by word; entities the
// walk never reached through a loop or wire are left out.
void Walker::resolveRings()
{
    for (std::size_t e = 0; e < m_edgeRings.size(); ++e)
        for (std::uint64_t w : m_edgeRings[e]) {
            auto it = m_coedges.find(w);
            if (it != m_coedges.end())
                m_m.edges[e].coedges.push_back(it->second);
        }
    for (std::size_t v = 0; v < m_vertexEdges.size(); ++v)
        for (std::uint64_t w : m_vertexEdges[v]) {
            auto it = m_edges.find(w);
            if (it != m_edges.end())
                m_m.vertices[v].edges.push_back(it->second);
        }
}

// ------------------------------------------------------------------ geometry

bool Walker::nurbs(TestNurbs& n, int dim, bool isPCurve, const QELXIdentifier& id)
{
    int degree = 0, count = 0, knotCount = 0, form = 0;
    double *ctrl = nullptr, *knots = nullptr, *weights = nullptr;
    int* mults = nullptr;
    const QELIResult r = isPCurve
                             ? m_g->GetNurbsPCurveData(id, degree, count, ctrl, knotCount, knots, mults, weights, form)
                             : m_g->GetNurbsCurveData(id, degree, count, ctrl, knotCount, knots, mults, weights, form);
    const bool usable = ok(r) && count >= 0 && knotCount >= 0 && (ctrl || count == 0) && (knots || knotCount == 0) &&
                        (mults || knotCount == 0);
    if (usable) {
        n.degree = degree;
        n.count = count;
        n.form = form;
        n.ctrl.assign(ctrl, ctrl + static_cast<std::size_t>(dim) * static_cast<std::size_t>(count));
        if (weights)
            n.weights.assign(weights, weights + count);
        n.knots.assign(knots, knots + knotCount);
        n.mults.assign(mults, mults + knotCount);
    }
    // Whatever was answered goes back, even when it was unusable.
    if (ctrl || knots || mults || weights) {
        if (isPCurve)
            m_g->DeleteNurbsPCurveData(ctrl, knots, mults, weights);
        else
            m_g->DeleteNurbsCurveData(ctrl, knots, mults, weights);
    }
    return usable;
}

int Walker::surface(const QELXIdentifier& id, int depth)
{
    if (!m_g || depth > 8)
        return -1;
    TestSurface s;
    if (!ok(m_g->GetSurfaceType(id, s.type)))
        return -1;
    ok(m_g->GetSurfaceParameterization(id, s.uA, s.uB, s.uC, s.vA, s.vB, s.vC, s.flag));
    // A surface that gives no box is unbounded; that is its answer, not a fault.
    const QELIResult span = m_g->GetSurfaceSpan(id, s.uSpan, s.vSpan);
    if (span == QELI_FAIL)
        s.bounded = false;
    else
        ok(span);
    ok(m_g->GetSurfaceDeviation(id, s.deviation));
    double p[3] = {0, 0, 0}, d1[3] = {0, 0, 0}, d2[3] = {0, 0, 0};
    QELXIdentifier ref;
    switch (s.type) {
    case SurfPlane:
        ok(m_g->GetPlanarSurfaceData(id, p, d1, d2));
        break;
    case SurfCylinder:
    case SurfCone:
        ok(m_g->GetConicalSurfaceData(id, s.a, s.b, s.c, p, d1, d2));
        break;
    case SurfSphere:
        ok(m_g->GetSphericalSurfaceData(id, s.a, p, d1, d2));
        break;
    case SurfTorus:
        ok(m_g->GetToroidalSurfaceData(id, s.a, s.b, s.toroidalType, p, d1, d2));
        break;
    case SurfRevolved:
        if (ok(m_g->GetRevolvedSurfaceData(id, p, d1, ref)) && ref.IsValid())
            s.ref = curve(ref);
        break;
    case SurfExtruded:
        if (ok(m_g->GetExtrudedSurfaceData(id, d1, ref)) && ref.IsValid())
            s.ref = curve(ref);
        break;
    case SurfOffset:
        if (ok(m_g->GetOffsetSurfaceData(id, s.a, ref)) && ref.IsValid())
            s.ref = surface(ref, depth + 1);
        break;
    default: {
        double *ctrl = nullptr, *weights = nullptr, *uKnots = nullptr, *vKnots = nullptr;
        int *uMults = nullptr, *vMults = nullptr;
        int uKnotCount = 0, vKnotCount = 0;
        const QELIResult r =
            m_g->GetNurbsSurfaceData(id, s.uDegree, s.vDegree, s.uCount, s.vCount, ctrl, weights, uKnotCount, uKnots,
                                     uMults, vKnotCount, vKnots, vMults, s.uClosure, s.vClosure);
        // An unknown surface may answer no NURBS data; that is not a failure.
        const bool usable = (s.type == SurfNurbs ? ok(r) : r == QELI_OK) && s.uCount >= 0 && s.vCount >= 0 &&
                            uKnotCount >= 0 && vKnotCount >= 0 && (ctrl || s.uCount * s.vCount == 0) &&
                            (uKnots || uKnotCount == 0) && (uMults || uKnotCount == 0) &&
                            (vKnots || vKnotCount == 0) && (vMults || vKnotCount == 0);
        if (usable) {
            const std::size_t n = static_cast<std::size_t>(s.uCount) * static_cast<std::size_t>(s.vCount);
            s.ctrl.assign(ctrl, ctrl + 3 * n);
            if (weights)
                s.weights.assign(weights, weights + n);
            s.uKnots.assign(uKnots, uKnots + uKnotCount);
            s.uMults.assign(uMults, uMults + uKnotCount);
            s.vKnots.assign(vKnots, vKnots + vKnotCount);
            s.vMults.assign(vMults, vMults + vKnotCount);
        } else {
            s.uDegree = s.vDegree = s.uCount = s.vCount = s.uClosure = s.vClosure = 0;
        }
        if (ctrl || weights || uKnots || uMults || vKnots || vMults)
            m_g->DeleteNurbsSurfaceData(ctrl, weights, uKnots, uMults, vKnots, vMults);
        break;
    }
    }
    s.p = vec(p);
    s.d1 = vec(d1);
    s.d2 = vec(d2);
    m_m.surfaces.push_back(std::move(s));
    return static_cast<int>(m_m.surfaces.size()) - 1;
}

int Walker::curve(const QELXIdentifier& id)
{
    if (!m_g)
        return -1;
    TestCurve c;
    if (!ok(m_g->GetCurveType(id, c.type)))
        return -1;
    ok(m_g->GetCurveParameterization(id, c.scale, c.offset, c.flag));
    ok(m_g->GetCurveDomain(id, c.domain));
    double p[3] = {0, 0, 0}, d1[3] = {0, 0, 0}, d2[3] = {0, 0, 0};
    if (c.type == CurvLine)
        ok(m_g->GetLinearCurveData(id, p, d1));
    else if (c.type == CurvEllipse)
        ok(m_g->GetEllipticalCurveData(id, c.major, c.minor, p, d1, d2));
    else if (!nurbs(c.nurbs, 3, false, id) && c.type == CurvNurbs)
        c.nurbs = TestNurbs();
    c.p = vec(p);
    c.d1 = vec(d1);
    c.d2 = vec(d2);
    m_m.curves.push_back(std::move(c));
    return static_cast<int>(m_m.curves.size()) - 1;
}

int Walker::pcurve(const QELXIdentifier& id)
{
    if (!m_g)
        return -1;
    TestPCurve c;
    int type = 0;
    if (!ok(m_g->GetPCurveType(id, type)) || type != PCurvNurbs)
        return -1;
    ok(m_g->GetPCurveParameterization(id, c.scale, c.offset, c.flag));
    if (!nurbs(c.nurbs, 2, true, id))
        return -1;
    m_m.pcurves.push_back(std::move(c));
    return static_cast<int>(m_m.pcurves.size()) - 1;
}

int Walker::point(const QELXIdentifier& id)
{
    double xyz[3] = {0, 0, 0};
    if (!m_g || !ok(m_g->GetCartesianPointData(id, xyz)))
        return -1;
    return m_m.addPoint(vec(xyz));
}

// ------------------------------------------------------------------ attributes

void Walker::attributes()
{
    if (!m_a)
        return;
    std::vector<int> layers;
    for (const auto& [source, word] : m_sources) {
        TestAttributes a;
        int i = 0;
        double d = 0.0, rgba[4] = {0, 0, 0, 0};
        bool flag = false;
        QELXString text;
        if (m_a->GetLayer(source, i) == QELI_OK) {
            a.layer = i;
            layers.push_back(i);
        }
        if (m_a->GetName(source, text) == QELI_OK)
            a.name = text.c_str();
        if (m_a->GetColor(source, rgba) == QELI_OK)
            a.color = std::array<double, 4>{rgba[0], rgba[1], rgba[2], rgba[3]};
        if (m_a->GetShow(source, flag) == QELI_OK)
            a.show = flag;
        if (m_a->GetPick(source, flag) == QELI_OK)
            a.pick = flag;
        if (m_a->GetPlaneUnboundedness(source, flag) == QELI_OK)
            a.planeUnbounded = flag;
        if (m_a->GetSurfaceUnboundedness(source, flag) == QELI_OK)
            a.surfaceUnbounded = flag;
        if (m_a->GetThickness(source, d) == QELI_OK)
            a.thickness = d;
        if (m_a->GetLineType(source, i) == QELI_OK)
            a.lineType = i;
        if (m_a->GetLineWeight(source, i) == QELI_OK)
            a.lineWeight = i;
        if (m_a->GetId(source, i) == QELI_OK)
            a.id = i;
        text = QELXString();
        if (m_a->GetId(source, text) == QELI_OK)
            a.textId = text.c_str();
        if (m_a->GetPID(source, text) == QELI_OK)
            a.pid = text.c_str();
        if (m_a->GetPName(source, text) == QELI_OK)
            a.pname = text.c_str();
        if (m_a->GetVdaPSETIdentifier(source, text) == QELI_OK)
            a.pset = text.c_str();
        if (m_a->GetVdaMDIIdentifier(source, text) == QELI_OK)
            a.mdi = text.c_str();
        if (m_a->GetAlias2(source, text) == QELI_OK)
            a.alias2 = text.c_str();
        QELXIdentifier first, second;
        int count = 0;
        QELXString* texts = nullptr;
        if (m_a->GetAlias(source, second, first, count, texts) == QELI_OK && texts)
            for (int k = 0; k < count; ++k)
                a.aliases.emplace_back(texts[k].c_str());
        if (texts)
            m_a->ReleaseAlias(count, texts);
        if (a.layer || a.name || a.color || a.show || a.pick || a.planeUnbounded || a.surfaceUnbounded ||
            a.thickness || a.lineType || a.lineWeight || a.id || a.textId || a.pid || a.pname || a.pset || a.mdi ||
            a.alias2 || !a.aliases.empty())
            m_m.attributes[word] = std::move(a);
    }
    for (int number : layers) {
        if (m_m.layers.count(number))
            continue;
        TestLayer l;
        QELXString name;
        bool answered = false;
        if (m_a->GetLayerName(number, name) == QELI_OK) {
            l.name = name.c_str();
            answered = true;
        }
        double rgba[4] = {0, 0, 0, 0};
        if (m_a->GetLayerColor(number, rgba) == QELI_OK) {
            l.color = {rgba[0], rgba[1], rgba[2], rgba[3]};
            answered = true;
        }
        if (m_a->GetLayerState(number, l.state) == QELI_OK)
            answered = true;
        if (answered)
            m_m.layers[number] = l;
    }
}

QELIResult walkExporter(QELXBRepExporter* exporter, TestModel& out, WalkSummary* summary)
{
    if (!exporter)
        return QELI_FAIL;
    TestModel model;
    QELXDocument* document = exporter->GetDocument();
    model.xType = QELXDocumentUtils::GetXType(document).c_str();
    QELXUnit unit;
    if (document && document->GetUnit(unit) == QELI_OK)
        model.unit = static_cast<int>(unit);
    WalkSummary local;
    Walker walker(exporter, model, summary ? *summary : local);
    const QELIResult result = walker.run();
    if (result == QELI_OK)
        out = std::move(model);
    return result;
}

} // namespace qelx_test
