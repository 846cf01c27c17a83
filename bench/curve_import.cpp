// Importing a 1,000-pole cubic B-spline curve through the connector's curve
// importer, against building the same curve in Open CASCADE, in one run.
#include <benchmark/benchmark.h>

#include <Geom_BSplineCurve.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>

#include <cmath>
#include <vector>

#include "geometry/curve_importer.hxx"

namespace {

constexpr int kPoles = 1000;
constexpr int kDegree = 3;

struct CurveData {
    std::vector<double> ctrl;
    std::vector<double> knots;
    std::vector<int> mults;
    CurveData()
    {
        for (int i = 0; i < kPoles; ++i) {
            const double a = 0.05 * i;
            ctrl.insert(ctrl.end(), {10.0 * std::cos(a), 10.0 * std::sin(a), 0.1 * i});
        }
        const int spans = kPoles - kDegree;
        for (int i = 0; i <= spans; ++i) {
            knots.push_back(double(i));
            mults.push_back(i == 0 || i == spans ? kDegree + 1 : 1);
        }
    }
};

const CurveData& data()
{
    static const CurveData d;
    return d;
}

// Serves the one B-spline curve; every other operation fails.
class OneCurveExporter : public QELXGeometryExporter {
public:
    OneCurveExporter() : QELXGeometryExporter(nullptr) {}
    QELIResult GetSurfaceType(const QELXIdentifier&, int&) override { return QELI_FAIL; }
    QELIResult GetSurfaceParameterization(const QELXIdentifier&, double&, double&, double&, double&, double&,
                                          double&, bool&) override
    {
        return QELI_FAIL;
    }
    QELIResult GetPlanarSurfaceData(const QELXIdentifier&, double[3], double[3], double[3]) override { return QELI_FAIL; }
    QELIResult GetConicalSurfaceData(const QELXIdentifier&, double&, double&, double&, double[3], double[3],
                                     double[3]) override
    {
        return QELI_FAIL;
    }
    QELIResult GetSphericalSurfaceData(const QELXIdentifier&, double&, double[3], double[3], double[3]) override
    {
        return QELI_FAIL;
    }
    QELIResult GetToroidalSurfaceData(const QELXIdentifier&, double&, double&, int&, double[3], double[3],
                                      double[3]) override
    {
        return QELI_FAIL;
    }
    QELIResult GetNurbsSurfaceData(const QELXIdentifier&, int&, int&, int&, int&, double*&, double*&, int&, double*&,
                                   int*&, int&, double*&, int*&, int&, int&) override
    {
        return QELI_FAIL;
    }
    QELIResult GetOffsetSurfaceData(const QELXIdentifier&, double&, QELXIdentifier&) override { return QELI_FAIL; }
    QELIResult GetExtrudedSurfaceData(const QELXIdentifier&, double[3], QELXIdentifier&) override { return QELI_FAIL; }
    QELIResult GetRevolvedSurfaceData(const QELXIdentifier&, double[3], double[3], QELXIdentifier&) override
    {
        return QELI_FAIL;
    }
    QELIResult GetSurfaceSpan(const QELXIdentifier&, double[2], double[2]) override { return QELI_FAIL; }
    QELIResult GetCurveType(const QELXIdentifier&, int& type) override
    {
        type = QELXGeometryCurveTypeNurbs;
        return QELI_OK;
    }
    QELIResult GetCurveParameterization(const QELXIdentifier&, double&, double&, bool&) override { return QELI_OK; }
    QELIResult GetCurveDomain(const QELXIdentifier&, double range[2]) override
    {
        range[0] = 0.0;
        range[1] = kPoles - kDegree;
        return QELI_OK;
    }
    QELIResult GetLinearCurveData(const QELXIdentifier&, double[3], double[3]) override { return QELI_FAIL; }
    QELIResult GetEllipticalCurveData(const QELXIdentifier&, double&, double&, double[3], double[3],
                                      double[3]) override
    {
        return QELI_FAIL;
    }
    QELIResult GetNurbsCurveData(const QELXIdentifier&, int& degree, int& ctrlCount, double*& ctrlPts, int& knotCount,
                                 double*& knots, int*& mults, double*& weights, int& form) override
    {
        const CurveData& d = data();
        degree = kDegree;
        ctrlCount = kPoles;
        ctrlPts = new double[d.ctrl.size()];
        std::copy(d.ctrl.begin(), d.ctrl.end(), ctrlPts);
        knotCount = static_cast<int>(d.knots.size());
        knots = new double[d.knots.size()];
        std::copy(d.knots.begin(), d.knots.end(), knots);
        mults = new int[d.mults.size()];
        std::copy(d.mults.begin(), d.mults.end(), mults);
        weights = nullptr;
        form = QELXParamClosureOpen;
        return QELI_OK;
    }
    QELIResult GetCartesianPointData(const QELXIdentifier&, double[3]) override { return QELI_FAIL; }
    QELIResult GetPCurveType(const QELXIdentifier&, int&) override { return QELI_FAIL; }
    QELIResult GetPCurveParameterization(const QELXIdentifier&, double&, double&, bool&) override { return QELI_FAIL; }
    QELIResult GetNurbsPCurveData(const QELXIdentifier&, int&, int&, double*&, int&, double*&, int*&, double*&,
                                  int&) override
    {
        return QELI_FAIL;
    }
};

void ImportCurve1000Poles(benchmark::State& state)
{
    OneCurveExporter exporter;
    const QELXIdentifier id(std::uint64_t(1), QELXGeometryExporter::QELXGeometryTypeCurve, nullptr, "curve");
    for (auto _ : state) {
        QELXVelmCurveImporter importer(&exporter, id, Gk_Domain(0.0, kPoles - kDegree), QELresfit, QELXMorph3D(),
                                       false, false);
        importer.ImportCurve();
        benchmark::DoNotOptimize(importer.GetCurve());
    }
}

void OccBuildCurve1000Poles(benchmark::State& state)
{
    const CurveData& d = data();
    for (auto _ : state) {
        TColgp_Array1OfPnt poles(1, kPoles);
        for (int i = 0; i < kPoles; ++i)
            poles.SetValue(i + 1, gp_Pnt(d.ctrl[3 * i], d.ctrl[3 * i + 1], d.ctrl[3 * i + 2]));
        TColStd_Array1OfReal knots(1, static_cast<int>(d.knots.size()));
        TColStd_Array1OfInteger mults(1, static_cast<int>(d.mults.size()));
        for (std::size_t i = 0; i < d.knots.size(); ++i) {
            knots.SetValue(static_cast<int>(i) + 1, d.knots[i]);
            mults.SetValue(static_cast<int>(i) + 1, d.mults[i]);
        }
        Handle(Geom_BSplineCurve) curve = new Geom_BSplineCurve(poles, knots, mults, kDegree);
        benchmark::DoNotOptimize(curve.get());
    }
}

BENCHMARK(ImportCurve1000Poles)->Unit(benchmark::kMicrosecond);
BENCHMARK(OccBuildCurve1000Poles)->Unit(benchmark::kMicrosecond);

} // namespace
