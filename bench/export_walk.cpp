// The B-rep exporter's walk of a flat sheet of N planar faces, as a target
// format reads it: every face, loop, coedge, edge and vertex by identifier,
// with its surface, curve, pcurve and point, each released after use; on the
// same sheet, the cached view walk that the exporter's counts ride on; and,
// for scale, an Open CASCADE walk of the same sheet that fetches every face's
// surface and parameter box, every edge's curve and every pcurve.
// time(4N) / time(N) shows whether the walk stays linear.
#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include <BRepTools.hxx>
#include <TopExp_Explorer.hxx>

#include "export/brep_exporter.hxx"
#include "model/document.hxx"
#include "qelx_velm/velm_document.hxx"
#include "sheets.hxx"

namespace {

constexpr int kColumns = 40;

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
    explicit Sheet(int faces) : body(bench::velm_sheet(kColumns, faces / kColumns))
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

// Open CASCADE on the same sheet: every face's surface and parameter box,
// every edge's curve and its pcurve on the face.
void BM_OccWalk(benchmark::State& state)
{
    static std::map<int, TopoDS_Shape> shapes;
    const int faces = static_cast<int>(state.range(0));
    TopoDS_Shape& shape = shapes[faces];
    if (shape.IsNull())
        shape = bench::occ_sheet(kColumns, faces / kColumns);
    for (auto _ : state) {
        int read = 0;
        for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Face& face = TopoDS::Face(f.Current());
            read += !BRep_Tool::Surface(face).IsNull();
            double u0, u1, v0, v1;
            BRepTools::UVBounds(face, u0, u1, v0, v1);
            for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
                const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
                double first, last;
                read += !BRep_Tool::Curve(edge, first, last).IsNull();
                read += !BRep_Tool::CurveOnSurface(edge, face, first, last).IsNull();
            }
        }
        benchmark::DoNotOptimize(read);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OccWalk)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);

} // namespace
