// Count and at-index walks of the body and shell views over a sheet of
// 100 x 100 faces, answered by the kernel and by the document's caches.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kSide = 100;

// A flat sheet of kSide x kSide unit squares in one shell: bare geometry,
// shared edges with partner coedges, one edge reference per vertex.
BODY* makeGrid()
{
    const int n = kSide + 1;
    std::vector<VERTEX*> v;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            v.push_back(new VERTEX(new APOINT(i, j, 0.0)));
    const auto at = [n](int i, int j) { return j * n + i; };
    std::vector<EDGE*> along(n * n, nullptr); // from (i, j) to (i + 1, j)
    std::vector<EDGE*> up(n * n, nullptr);    // from (i, j) to (i, j + 1)
    const QELinterval unit(0.0, 1.0);
    const auto edge = [&](int a, int b) {
        EDGE* e = new EDGE(v[a], v[b], new CURVE, FORWARD, EDGE_cvty_unknown, &unit);
        v[b]->add_edge(e);
        return e;
    };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            if (i + 1 < n)
                along[at(i, j)] = edge(at(i, j), at(i + 1, j));
            if (j + 1 < n)
                up[at(i, j)] = edge(at(i, j), at(i, j + 1));
        }
    FACE* first = nullptr;
    FACE* last = nullptr;
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) {
            COEDGE* ring[4] = {new COEDGE(along[at(i, j)], FORWARD), new COEDGE(up[at(i + 1, j)], FORWARD),
                               new COEDGE(along[at(i, j + 1)], REVERSED), new COEDGE(up[at(i, j)], REVERSED)};
            for (int k = 0; k < 4; ++k) {
                ring[k]->set_next(ring[(k + 1) % 4]);
                ring[(k + 1) % 4]->set_previous(ring[k]);
                COEDGE* firstOnEdge = ring[k]->edge()->coedge();
                if (firstOnEdge != ring[k]) {
                    firstOnEdge->set_partner(ring[k]);
                    ring[k]->set_partner(firstOnEdge);
                }
            }
            FACE* f = new FACE(new LOOP(ring[0]), nullptr, new SURFACE, FORWARD);
            if (last)
                last->set_next(f);
            else
                first = f;
            last = f;
        }
    for (VERTEX* vertex : v)
        minimize_vertex_edges(vertex);
    return new BODY(new LUMP(new SHELL(first)));
}

struct Grid {
    Grid() : body(makeGrid()) {}
    ~Grid()
    {
        Ve_DocumentTag::ClearCaches();
        api_del_entity(body);
    }
    Ve_BodyTag* view() const { return reinterpret_cast<Ve_BodyTag*>(body); }
    Ve_ShellTag* shell() const { return reinterpret_cast<Ve_ShellTag*>(body->lump()->shell()); }
    BODY* body;
};

Grid& grid()
{
    static Grid g;
    return g;
}

void setCache(benchmark::State& state)
{
    Ve_DocumentTag::ClearCaches();
    if (state.range(0))
        Ve_DocumentTag::FillCache(grid().view());
    state.SetLabel(state.range(0) ? "cached" : "kernel");
}

void BM_BodyFaceCount(benchmark::State& state)
{
    setCache(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(grid().view()->getNumberOfFaces());
}
BENCHMARK(BM_BodyFaceCount)->Arg(0)->Arg(1);

void BM_BodyFaceAt(benchmark::State& state)
{
    setCache(state);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(grid().view()->getFaceAt(i));
        i = (i + 97) % (kSide * kSide);
    }
}
BENCHMARK(BM_BodyFaceAt)->Arg(0)->Arg(1);

void BM_BodyEdgeAt(benchmark::State& state)
{
    setCache(state);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(grid().view()->getEdgeAt(i));
        i = (i + 97) % (2 * kSide * (kSide + 1));
    }
}
BENCHMARK(BM_BodyEdgeAt)->Arg(0)->Arg(1);

// What the exporter does: the count, then every face by index. Without the
// cache each index is a kernel query of the whole body, so that walk is
// measured over the first 100 indices only.
void BM_BodyFaceWalk(benchmark::State& state)
{
    setCache(state);
    const int upto = state.range(0) ? kSide * kSide : 100;
    for (auto _ : state) {
        const int n = grid().view()->getNumberOfFaces();
        for (int i = 0; i < n && i < upto; ++i)
            benchmark::DoNotOptimize(grid().view()->getFaceAt(i));
    }
    state.SetItemsProcessed(state.iterations() * upto);
}
BENCHMARK(BM_BodyFaceWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ShellFaceWalk(benchmark::State& state)
{
    setCache(state);
    const int upto = state.range(0) ? kSide * kSide : 1000;
    for (auto _ : state) {
        for (int i = 0; i < upto; ++i)
            benchmark::DoNotOptimize(grid().shell()->getFaceAt(i));
    }
    state.SetItemsProcessed(state.iterations() * upto);
}
BENCHMARK(BM_ShellFaceWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FillAndDropCache(benchmark::State& state)
{
    Ve_DocumentTag::ClearCaches();
    for (auto _ : state) {
        Ve_DocumentTag::FillCache(grid().view());
        Ve_DocumentTag::RemoveFromCache(grid().view());
    }
}
BENCHMARK(BM_FillAndDropCache)->Unit(benchmark::kMillisecond);

} // namespace
