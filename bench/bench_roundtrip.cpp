// Round trips of flat sheets of N faces: export through the connector, the
// framework walk into a neutral document, read back as another system's
// document, imported through the full roads and compared with the original.
// time(4N) / time(N) shows whether the whole trip stays linear; the counters
// give each step's share of the time. N = 1,000 to 64,000, or to the size
// given on the command line (e.g. 256000); the growth is printed at the end.
#include "growth.hxx"

#include "roundtrip_verb.hxx"
#include "support/repair_builders.hxx"
#include "velm/topology_api.hxx"

namespace {

void BM_RoundTrip(benchmark::State& state)
{
    const int nx = 40, ny = static_cast<int>(state.range(0) / nx);
    xvelm::RoundTripTimes sum;
    std::size_t differences = 0;
    for (auto _ : state) {
        state.PauseTiming();
        BODY* body = testkit::make_faulty_grid(nx, ny, 0, 0, 0.0);
        ENTITY_LIST top;
        top.add(body);
        state.ResumeTiming();
        {
            xvelm::RoundTrip trip;
            if (!trip.run(top, "sheet")) {
                state.SkipWithError(trip.failure().c_str());
                break;
            }
            differences += trip.differences(1e-6).size();
            const xvelm::RoundTripTimes& t = trip.times;
            sum.export_walk += t.export_walk;
            sum.neutral_text += t.neutral_text;
            sum.import += t.import;
            sum.compare += t.compare;
            state.PauseTiming();
        }
        api_del_entity(body);
        state.ResumeTiming();
    }
    const double total = sum.total() > 0.0 ? sum.total() : 1.0;
    state.counters["faces"] = double(nx * ny);
    state.counters["export%"] = 100.0 * sum.export_walk / total;
    state.counters["text%"] = 100.0 * sum.neutral_text / total;
    state.counters["import%"] = 100.0 * sum.import / total;
    state.counters["compare%"] = 100.0 * sum.compare / total;
    state.counters["differences"] = double(differences);
}

} // namespace

int main(int argc, char** argv)
{
    auto* family = benchmark::RegisterBenchmark("BM_RoundTrip", BM_RoundTrip);
    for (long n : bench::sizes(argc, argv, 1000))
        family->Arg(n);
    family->Unit(benchmark::kMillisecond)->MinWarmUpTime(bench::kWarmUp);
    return bench::runWithGrowth(argc, argv);
}
