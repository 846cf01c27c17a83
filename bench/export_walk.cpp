// The B-rep exporter's walk of a flat sheet of N planar faces, as a target
// format reads it: every face, loop, coedge, edge and vertex by identifier,
// with its surface, curve, pcurve and point, each released after use; and,
// on the same sheet, the cached view walk that the exporter's counts ride on.
// time(4N) / time(N) shows whether the walk stays linear.
#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include "export/brep_exporter.hxx"
#include "model/document.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kColumns = 40;

// A sheet of kColumns x rows unit squares in z = 0, on planes, with straight
// edges shared by partner coedges.
BODY* makeSheet(int rows)
{
    const int nx = kColumns + 1;
    std::vector<VERTEX*> v;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i < nx; ++i)
            v.push_back(new VERTEX(new APOINT(i, j, 0.0)));
    const QELinterval unit(0.0, 1.0);
    std::map<std::pair<int, int>, EDGE*> edges;
    const auto edgeBetween = [&](int a, int b, sense_type& sense) {
        sense = a < b ? FORWARD : REVERSED;
        const auto key = std::minmax(a, b);
        EDGE*& e = edges[{key.first, key.second}];
        if (!e) {
            const QELposition p = v[key.first]->geometry()->coords();
            const QELposition q = v[key.second]->geometry()->coords();
            e = new EDGE(v[key.first], v[key.second], make_curve(straight(p, normalise(q - p), 1.0)), FORWARD,
                         EDGE_cvty_unknown, &unit);
            v[key.first]->add_edge(e);
            v[key.second]->add_edge(e);
        }
        return e;
    };
    FACE* first = nullptr;
    FACE* last = nullptr;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < kColumns; ++i) {
            const int corner[4] = {j * nx + i, j * nx + i + 1, (j + 1) * nx + i + 1, (j + 1) * nx + i};
            COEDGE* ring[4];
            for (int k = 0; k < 4; ++k) {
                sense_type sense;
                EDGE* e = edgeBetween(corner[k], corner[(k + 1) % 4], sense);
                ring[k] = new COEDGE(e, sense);
                if (COEDGE* other = e->coedge(); other != ring[k]) {
                    other->set_partner(ring[k]);
                    ring[k]->set_partner(other);
                }
            }
            for (int k = 0; k < 4; ++k) {
                ring[k]->set_next(ring[(k + 1) % 4]);
                ring[(k + 1) % 4]->set_previous(ring[k]);
            }
            FACE* f = new FACE(new LOOP(ring[0]), nullptr,
                               make_surface(plane(QELposition(i, j, 0.0), QELunit_vector(0, 0, 1))), FORWARD);
            (last ? last->set_next(f) : void(first = f));
            last = f;
        }
    for (VERTEX* vertex : v)
        minimize_vertex_edges(vertex);
    return new BODY(new LUMP(new SHELL(first)));
}

// Reads one face down to its vertices, releasing each geometry after use.
int readFace(QELXBRepExporter& x, const QELXIdentifier& face)
{
    int read = 0;
    QELXIdentifier geometry, loop, coedge, edge, vertex;
    bool sense = false;
    double u[2], w[2], low, high;
    read += x.GetFaceSurface(face, geometry) == 0;
    x.GetFaceSense(face, sense);
    x.GetFaceDomain(face, u, w);
    int loops = 0;
    x.GetNumberOfLoopsFromFace(face, loops);
    for (int l = 0; l < loops; ++l) {
        x.GetLoopFromFace(face, l, loop);
        int coedges = 0;
        x.GetNumberOfCoedgesFromLoop(loop, coedges);
        for (int c = 0; c < coedges; ++c) {
            x.GetCoedgeFromLoop(loop, c, coedge);
            x.GetCoedgeSense(coedge, sense);
            x.GetCoedgeDomain(coedge, low, high);
            x.GetCoedgePCurve(coedge, geometry);
            x.GetEdgeFromCoedge(coedge, edge);
            read += x.GetEdgeCurve(edge, geometry) == 0;
            x.GetEdgeDomain(edge, low, high);
            x.GetStartVertexFromEdge(edge, vertex);
            read += x.GetVertexPoint(vertex, geometry) == 0;
            x.ReleaseGeometry(vertex, QELXReleasePoint);
            x.ReleaseGeometry(edge, QELXReleaseCurve);
            x.ReleaseGeometry(coedge, QELXReleasePCurve);
        }
    }
    x.ReleaseGeometry(face, QELXReleaseSurface);
    return read;
}

int walk(QELXBRepExporter& x)
{
    int bodies = 0, read = 0;
    x.GetNumberOfBodies(bodies);
    for (int b = 0; b < bodies; ++b) {
        QELXIdentifier body, shell, face;
        x.GetBody(b, body);
        x.PrepareBody(body);
        int shells = 0;
        x.GetNumberOf2DShellsFromBody(body, shells);
        for (int s = 0; s < shells; ++s) {
            x.Get2DShellFromBody(body, s, shell);
            int faces = 0;
            x.GetNumberOfFacesFromShell(shell, faces);
            for (int f = 0; f < faces; ++f) {
                x.GetFaceFromShell(shell, f, face);
                read += readFace(x, face);
            }
        }
        x.ReleaseBody(body);
    }
    return read;
}

// One document over one sheet per size, kept until the process ends (the
// kernel's own statics may be gone by the time other statics are destroyed).
struct Sheet {
    explicit Sheet(int faces) : body(makeSheet(faces / kColumns))
    {
        auto* velm = new QELXVelmDocument;
        document = QELXDocumentHandle(velm);
        ENTITY_LIST list;
        list.add(body);
        velm->AppendNativeEntityList(list);
        QELXBRepExporter* made = nullptr;
        QELXCreateVelmBRepExporter(velm, &made);
        exporter = QELXBRepExporterHandle(made);
        exporter->PreProcess();
    }
    BODY* body;
    QELXDocumentHandle document;
    QELXBRepExporterHandle exporter;
};

Sheet& sheet(int faces)
{
    static std::map<int, Sheet*> sheets;
    Sheet*& s = sheets[faces];
    if (!s)
        s = new Sheet(faces);
    return *s;
}

void BM_ExportWalk(benchmark::State& state)
{
    Sheet& s = sheet(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(walk(*s.exporter));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel("per item: one face");
}
BENCHMARK(BM_ExportWalk)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);

// The cached view walk of the same sheet: every face, its loops, coedges,
// edges and start vertices through the views.
void BM_CachedViewWalk(benchmark::State& state)
{
    Sheet& s = sheet(static_cast<int>(state.range(0)));
    auto* body = reinterpret_cast<Ve_BodyTag*>(s.body);
    Ve_DocumentTag::FillCache(body);
    for (auto _ : state) {
        int n = 0;
        for (int f = 0, faces = body->getNumberOfFaces(); f < faces; ++f) {
            const Ve_FaceTag* face = body->getFaceAt(f);
            for (int l = 0, loops = face->getNumberOfLoops(); l < loops; ++l) {
                const Ve_LoopTag* loop = face->getLoopAt(l);
                for (int c = 0, coedges = loop->getNumberOfCoedges(); c < coedges; ++c)
                    n += loop->getCoedgeAt(c)->getEdge()->getStartVertex() != nullptr;
            }
        }
        benchmark::DoNotOptimize(n);
    }
    Ve_DocumentTag::RemoveFromCache(body);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CachedViewWalk)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);

} // namespace
