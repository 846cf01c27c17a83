// Small-edge and sliver-face removal on flat sheets of N faces, one cell in
// nine of them (a fixed share) carrying its fault: a sliver strip at its side,
// or a small edge at the end of its top side. time(4N) / time(N) shows
// whether the passes stay linear as the body grows.
#include <benchmark/benchmark.h>

#include <cmath>

#include "model/entity_views.hxx"
#include "repair/post_process_util.hxx"
#include "support/repair_builders.hxx"
#include "velm/topology_api.hxx"

namespace {

BODY* faultyGrid(benchmark::State& state, int kind)
{
    const int side = static_cast<int>(std::lround(std::sqrt(double(state.range(0)))));
    return testkit::make_faulty_grid(side, side, 1, kind, kind == 0 ? 5e-6 : 5e-7);
}

template <class Step>
void run(benchmark::State& state, int kind, Step step)
{
    for (auto _ : state) {
        state.PauseTiming();
        BODY* body = faultyGrid(state, kind);
        state.ResumeTiming();
        Ve_PostProcessUtil util(ve_view<Ve_BodyTag>(body));
        step(util);
        state.PauseTiming();
        api_del_entity(body);
        state.ResumeTiming();
    }
    state.counters["faces"] = double(state.range(0));
}

void BM_RemoveSliverFaces(benchmark::State& state)
{
    run(state, 0, [](Ve_PostProcessUtil& u) { u.removeSliverFaces(1e-5, false); });
}

void BM_RemoveSmallEdgesByGeometry(benchmark::State& state)
{
    run(state, 1, [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, true); });
}

void BM_RemoveShortEdgePairs(benchmark::State& state)
{
    run(state, 1, [](Ve_PostProcessUtil& u) { u.removeSmallEdges(1e-5, false); });
}

} // namespace

BENCHMARK(BM_RemoveSliverFaces)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSmallEdgesByGeometry)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveShortEdgePairs)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
