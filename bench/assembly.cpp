// Flattening one part definition placed N times (N = 1,000 to 64,000): as N
// root instances, and as N instances of one sub-assembly placed once. The
// part is converted once whatever N; time(4N) / time(N) shows whether the
// walk, the placements and the document stay linear.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "assembly/flat_assembly_importer.hxx"
#include "qelx/test_assembly.hxx"
#include "qelx_velm/velm_document.hxx"
#include "support/assembly_parts.hxx"

namespace {

using qelx_test::TestAssembly;

// N placements on a square grid, each turned a little, so that no two share a transform.
qelx_test::TestPlacement gridPlacement(int i, int side)
{
    return qelx_test::placementTurnZ(0.001 * i, 3.0 * (i % side), 3.0 * (i / side), 0.0);
}

TestAssembly flatAssembly(int n, bool nested)
{
    TestAssembly a;
    const int brick = a.addPart("brick", qelx_test::TestModel::block(1, 1, 1));
    const int side = static_cast<int>(std::ceil(std::sqrt(double(n))));
    const int parent = nested ? a.addAssembly("grid") : -1;
    for (int i = 0; i < n; ++i) {
        std::string name = std::to_string(i);
        name.insert(name.begin(), 'b');
        a.place(parent, brick, name, gridPlacement(i, side));
    }
    if (nested)
        a.place(-1, parent, "grid-1", qelx_test::placementTranslation(0, 0, 10));
    return a;
}

void flatten(benchmark::State& state, bool nested)
{
    asmtest::registerPartImporter();
    const int n = static_cast<int>(state.range(0));
    int bodies = 0;
    int conversions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        qelx_test::TestAssemblyDocument source(flatAssembly(n, nested));
        qelx_test::TestAssemblyExporter exporter(&source);
        QELXTypedHandle<QELXVelmDocument> target(new QELXVelmDocument());
        target->SetUnit(QELX_UNIT_MILLIMETER);
        QELXTypedHandle<QELXFlatVelmAssemblyImporter> importer(new QELXFlatVelmAssemblyImporter(target.get()));
        state.ResumeTiming();
        if (importer->Import(&exporter) != QELI_OK)
            state.SkipWithError("the import failed");
        state.PauseTiming();
        conversions = exporter.loads(0);
        bodies = target->GetNativeEntityList()->iteration_count();
        importer = static_cast<QELXFlatVelmAssemblyImporter*>(nullptr);
        target = static_cast<QELXVelmDocument*>(nullptr);
        state.ResumeTiming();
    }
    state.counters["bodies"] = bodies;
    state.counters["conversions"] = conversions;
}

void BM_FlattenRoots(benchmark::State& state) { flatten(state, false); }
void BM_FlattenSubAssembly(benchmark::State& state) { flatten(state, true); }

} // namespace

BENCHMARK(BM_FlattenRoots)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlattenSubAssembly)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
