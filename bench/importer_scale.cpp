// The whole import of a source model (Import, then PostImport without
// healing) through the connector's importer, for models of N faces given as
// one sheet of N quadrilaterals or as N / 6 blocks, N = 1,000 to 64,000.
// time(4N) / time(N) shows whether the import stays linear as models grow.
#include <benchmark/benchmark.h>

#include <cmath>

#include "import/brep_importer.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/velm_document.hxx"

namespace {

using qelx_test::TestModel;

TestModel quadSheet(int side)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int plane = m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    std::vector<int> v((side + 1) * (side + 1));
    for (int j = 0; j <= side; ++j)
        for (int i = 0; i <= side; ++i)
            v[j * (side + 1) + i] = m.addVertex({double(i), double(j), 0.0});
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            const int a = j * (side + 1) + i;
            m.addPolygonFace(shell, plane, {{v[a], v[a + 1], v[a + side + 2], v[a + side + 1]}});
        }
    return m;
}

TestModel blocks(int n)
{
    TestModel m;
    for (int i = 0; i < n; ++i) {
        TestModel b = TestModel::block(1, 1, 1);
        for (qelx_test::Vec3& p : b.points)
            p[0] += 2.0 * i;
        m.append(b);
    }
    return m;
}

void importModel(benchmark::State& state, const TestModel& model, int faces)
{
    for (auto _ : state) {
        state.PauseTiming();
        {
            qelx_test::TestDocument source(model);
            qelx_test::TestBRepExporter exporter(&source);
            QELXVelmDocument target;
            {
                QELXVelmBRepImporter importer(&target);
                state.ResumeTiming();
                importer.Import(&exporter);
                importer.PostImport();
                state.PauseTiming();
            }
        }
        state.ResumeTiming();
    }
    state.counters["faces"] = faces;
}

void BM_ImportOneSheet(benchmark::State& state)
{
    const int side = static_cast<int>(std::lround(std::sqrt(double(state.range(0)))));
    importModel(state, quadSheet(side), side * side);
}

void BM_ImportManyBlocks(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0) / 6);
    importModel(state, blocks(n), 6 * n);
}

} // namespace

BENCHMARK(BM_ImportOneSheet)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportManyBlocks)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond);
