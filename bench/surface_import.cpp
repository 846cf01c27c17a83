// Importing a 20 x 20 bicubic B-spline surface from a source exporter into
// the kernel, against building the same surface in Open CASCADE.
#include <benchmark/benchmark.h>

#include <Geom_BSplineSurface.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>

#include <cmath>
#include <memory>

#include "geometry/surface_importer.hxx"
#include "qelx/test_exporters.hxx"

namespace {

constexpr int kPoles = 20;
constexpr int kDegree = 3;

double height(int i, int j) { return 0.5 * std::sin(0.4 * i) * std::cos(0.3 * j); }

// Uniform clamped knots: distinct values 0 .. n - p with end multiplicities p + 1.
void knots(std::vector<double>& values, std::vector<int>& mults)
{
    for (int k = 0; k <= kPoles - kDegree; ++k) {
        values.push_back(k);
        mults.push_back(k == 0 || k == kPoles - kDegree ? kDegree + 1 : 1);
    }
}

qelx_test::TestModel bicubicModel(int& index)
{
    qelx_test::TestModel model;
    std::vector<double> ctrl;
    for (int i = 0; i < kPoles; ++i)
        for (int j = 0; j < kPoles; ++j)
            ctrl.insert(ctrl.end(), {double(i), double(j), height(i, j)});
    std::vector<double> k;
    std::vector<int> m;
    knots(k, m);
    index = model.addNurbsSurface(kDegree, kDegree, kPoles, kPoles, ctrl, k, m, k, m);
    return model;
}

void ImportBicubic20x20(benchmark::State& state)
{
    int index = 0;
    const qelx_test::TestModel model = bicubicModel(index);
    qelx_test::TestDocument document(model);
    qelx_test::TestBRepExporter source(&document);
    qelx_test::TestGeometryExporter& exporter = source.geometry();
    const QELXIdentifier id = exporter.surfaceId(index);
    for (auto _ : state) {
        QELXVelmSurfaceImporter importer(&exporter, id, true, Gk_Span(), QELXMorph3D(), QELresfit, 0);
        importer.ImportSurface();
        std::unique_ptr<surface> made(importer.GetSurface());
        benchmark::DoNotOptimize(made.get());
        source.log().clear();
    }
}
BENCHMARK(ImportBicubic20x20);

void OccBicubic20x20(benchmark::State& state)
{
    std::vector<double> k;
    std::vector<int> m;
    knots(k, m);
    for (auto _ : state) {
        TColgp_Array2OfPnt poles(1, kPoles, 1, kPoles);
        for (int i = 0; i < kPoles; ++i)
            for (int j = 0; j < kPoles; ++j)
                poles.SetValue(i + 1, j + 1, gp_Pnt(i, j, height(i, j)));
        TColStd_Array1OfReal values(1, static_cast<int>(k.size()));
        TColStd_Array1OfInteger mults(1, static_cast<int>(m.size()));
        for (int i = 0; i < static_cast<int>(k.size()); ++i) {
            values.SetValue(i + 1, k[i]);
            mults.SetValue(i + 1, m[i]);
        }
        Handle(Geom_BSplineSurface) s = new Geom_BSplineSurface(poles, values, values, mults, mults, kDegree, kDegree);
        benchmark::DoNotOptimize(s.get());
    }
}
BENCHMARK(OccBicubic20x20);

} // namespace
