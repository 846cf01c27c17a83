// The standard repair sequence of flat sheets of N faces, one cell in nine
// carrying a sliver, with the sliver, tolerant-edge and reversal switches on.
// time(4N) / time(N) shows whether the sequence stays linear as the body grows.
#include <benchmark/benchmark.h>

#include <cmath>

#include "model/entity_views.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/repair_builders.hxx"
#include "velm/topology_api.hxx"

namespace {

void switchOn(const char* member)
{
    Gk_OptionDoc::setOption(Gk_ROString(Ve_OptionDoc::keyOf(member)), QELXValue(true));
}

void BM_StandardRepair(benchmark::State& state)
{
    for (const char* member : {"RemoveSliver", "FixTedgeErrors", "_checkAndFixReverseBody"})
        switchOn(member);
    const int side = static_cast<int>(std::lround(std::sqrt(double(state.range(0)))));
    for (auto _ : state) {
        state.PauseTiming();
        BODY* body = testkit::make_faulty_grid(side, side, 9, 0, 5e-7);
        state.ResumeTiming();
        ve_view<Ve_BodyTag>(body)->doStandardRepair();
        state.PauseTiming();
        api_del_entity(body);
        state.ResumeTiming();
    }
    state.counters["faces"] = double(side * side);
}

} // namespace

BENCHMARK(BM_StandardRepair)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
