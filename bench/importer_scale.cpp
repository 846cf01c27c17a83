// The whole import of a source model (Import, then PostImport without
// healing) through the connector's importer, for models of N faces given as
// one sheet of N quadrilaterals or as N / 6 blocks, N = 1,000 to 64,000 (or
// to the size given on the command line, e.g. 256000). time(4N) / time(N),
// printed at the end, shows whether the import stays linear as models grow.
#include "growth.hxx"

#include "import/brep_importer.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/velm_document.hxx"

namespace {

using qelx_test::TestModel;

// nx by ny unit quadrilaterals on one plane.
TestModel quadSheet(int nx, int ny)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int plane = m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    std::vector<int> v((nx + 1) * (ny + 1));
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i)
            v[j * (nx + 1) + i] = m.addVertex({double(i), double(j), 0.0});
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i;
            m.addPolygonFace(shell, plane, {{v[a], v[a + 1], v[a + nx + 2], v[a + nx + 1]}});
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

// 1,000 · 4^k faces as (25 · 2^k) by (40 · 2^k), so that each size holds
// exactly four times the faces of the one before.
void BM_ImportOneSheet(benchmark::State& state)
{
    int nx = 25, ny = 40;
    while (nx * ny < state.range(0)) {
        nx *= 2;
        ny *= 2;
    }
    importModel(state, quadSheet(nx, ny), nx * ny);
}

void BM_ImportManyBlocks(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0) / 6);
    importModel(state, blocks(n), 6 * n);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<long> sizes = bench::sizes(argc, argv, 1000);
    for (auto* family : {benchmark::RegisterBenchmark("BM_ImportOneSheet", BM_ImportOneSheet),
                         benchmark::RegisterBenchmark("BM_ImportManyBlocks", BM_ImportManyBlocks)}) {
        for (long n : sizes)
            family->Arg(n);
        family->Unit(benchmark::kMillisecond)->MinWarmUpTime(bench::kWarmUp);
    }
    return bench::runWithGrowth(argc, argv);
}
