#include "qelx/gk_bspline.hxx"
#include "qelx/gk_spline_utils.hxx"

#include <gtest/gtest.h>

#include "point_checks.hxx"

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Cox-de Boor recursion, written independently of the evaluator.
double basis(int i, int p, double t, const std::vector<double>& E)
{
    if (p == 0) {
        const bool last = E[i + 1] == E.back() && t == E.back() && E[i] < E[i + 1];
        return (E[i] <= t && t < E[i + 1]) || last ? 1.0 : 0.0;
    }
    double value = 0.0;
    if (E[i + p] > E[i])
        value += (t - E[i]) / (E[i + p] - E[i]) * basis(i, p - 1, t, E);
    if (E[i + p + 1] > E[i + 1])
        value += (E[i + p + 1] - t) / (E[i + p + 1] - E[i + 1]) * basis(i + 1, p - 1, t, E);
    return value;
}

QELXPoint3D directSum(const QELXBSplineDef3D& def, double t)
{
    const std::vector<double> E = def.knots().knotList(false);
    QELXPoint3D num;
    double den = 0.0;
    for (int i = 0; i < def.numControlPoints(); ++i) {
        const double b = basis(i, def.degree(), t, E) * def.weight(i);
        num += def.controlPoint(i).GetCoords() * b;
        den += b;
    }
    return num / den;
}

QELXBSplineDef3D makeCurve(int p, const std::vector<double>& knots, const std::vector<QELXPoint3D>& pts,
                           const std::vector<double>& weights, bool clamped, bool periodic = false)
{
    QELXPolygonWeight3D polygon;
    for (size_t i = 0; i < pts.size(); ++i)
        polygon.Add(QELXWeightPoint3D(pts[i], weights.empty() ? 1.0 : weights[i]));
    return QELXBSplineDef3D(Gk_Partition(p, knots.data(), int(knots.size()), clamped, Gk_Def::FuzzKnot), polygon,
                            periodic);
}

const std::vector<QELXPoint3D> kPoints = {{0, 0, 0}, {1, 2, 0}, {2, -1, 1}, {4, 0, 2}, {5, 3, 1}, {7, 1, 0}};

void expectDerivativesMatchDifferences(const QELXBSplineDef3D& def, double t)
{
    constexpr double h = 1e-6;
    QELXCurveDerivatives3D d(3), dp(3), dm(3);
    def.eval(t, &d);
    def.eval(t + h, &dp);
    def.eval(t - h, &dm);
    expectNear(d[1], (dp[0] - dm[0]) / (2 * h), 1e-5);
    expectNear(d[2], (dp[1] - dm[1]) / (2 * h), 1e-4);
}

} // namespace

TEST(GkPartition, MergesKnotsWithinToleranceAndExpandsBack)
{
    const double knots[] = {0, 0, 1e-12, 0, 0.5, 1, 1, 1, 1};
    const Gk_Partition part(3, knots, 9, true, Gk_Def::FuzzKnot);
    ASSERT_EQ(part.n_brk(), 3);
    EXPECT_EQ(part.multiplicity(0), 4);
    EXPECT_EQ(part.multiplicity(1), 1);
    EXPECT_DOUBLE_EQ(part.breakValue(1), 0.5);
    EXPECT_EQ(part.knotList(false).size(), 9u);
}

TEST(GkPartition, ClampedKnotListKeepsTheCountOfAnUnclampedVector)
{
    // Degree 2, 5 control points: 8 knots.
    const double knots[] = {-2, -1, 0, 1, 2, 3, 4, 5};
    const Gk_Partition part(2, knots, 8, false, Gk_Def::FuzzKnot);
    const std::vector<double> open = part.knotList(false);
    const std::vector<double> clamped = part.knotList(true);
    ASSERT_EQ(clamped.size(), 8u);
    EXPECT_EQ(open, std::vector<double>(knots, knots + 8));
    EXPECT_EQ(clamped, (std::vector<double>{0, 0, 0, 1, 2, 3, 3, 3}));
}

TEST(GkPartition, ReversalAndAffineMaps)
{
    const double knots[] = {0, 0, 1, 3, 3};
    const Gk_Partition part(1, knots, 5, true, Gk_Def::FuzzKnot);
    EXPECT_EQ(part.reversed().knotList(false), (std::vector<double>{-3, -3, -1, 0, 0}));
    Gk_Partition mapped(part);
    mapped.apply(Gk_LinMap(-2.0, 1.0));
    EXPECT_EQ(mapped.knotList(false), (std::vector<double>{-5, -5, -1, 1, 1}));
    EXPECT_TRUE(mapped.isClamped());
}

TEST(GkBSplineDef, CubicMatchesTheBasisSum)
{
    const QELXBSplineDef3D def = makeCurve(3, {0, 0, 0, 0, 0.3, 0.5, 1, 1, 1, 1}, kPoints, {}, true);
    ASSERT_TRUE(def.isValid());
    EXPECT_FALSE(def.isRational());
    for (double t : {0.0, 0.1, 0.3, 0.42, 0.5, 0.77, 1.0})
        expectNear(def.eval(t), directSum(def, t), 1e-12);
    expectNear(def.eval(0.0), kPoints.front(), 1e-12);
    expectNear(def.eval(1.0), kPoints.back(), 1e-12);
    for (double t : {0.05, 0.4, 0.9})
        expectDerivativesMatchDifferences(def, t);
}

TEST(GkBSplineDef, RationalMatchesTheBasisSumAndDrawsACircle)
{
    // Quarter circles, quadratic, weights 1, sqrt(1/2), 1.
    const double s = std::sqrt(0.5);
    const std::vector<QELXPoint3D> pts = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}};
    const QELXBSplineDef3D def = makeCurve(2, {0, 0, 0, 1, 1, 2, 2, 2}, pts, {1, s, 1, s, 1}, true);
    EXPECT_TRUE(def.isRational());
    for (double t : {0.0, 0.25, 0.9, 1.0, 1.6, 2.0}) {
        expectNear(def.eval(t), directSum(def, t), 1e-12);
        EXPECT_NEAR(def.eval(t).Length(), 1.0, 1e-12);
    }
    for (double t : {0.3, 1.2, 1.8})
        expectDerivativesMatchDifferences(def, t);
}

TEST(GkBSplineDef, WrappedPeriodicCurveRepeatsWithItsPeriod)
{
    // Degree 2, uniform, last 2 points repeat the first 2.
    const std::vector<QELXPoint3D> pts = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {1, 0, 0}, {0, 1, 0}};
    const QELXBSplineDef3D def = makeCurve(2, {0, 1, 2, 3, 4, 5, 6, 7, 8}, pts, {}, false, true);
    ASSERT_TRUE(def.isValid());
    EXPECT_DOUBLE_EQ(def.domain().low(), 2.0);
    EXPECT_DOUBLE_EQ(def.domain().high(), 6.0);
    for (double t : {2.0, 2.7, 4.1, 5.5}) {
        expectNear(def.eval(t), directSum(def, t), 1e-12);
        expectNear(def.eval(t + 4.0), def.eval(t), 1e-12);
        expectNear(def.eval(t - 8.0), def.eval(t), 1e-12);
    }
    // C1 across the seam.
    QELXCurveDerivatives3D a(2), b(2);
    def.eval(2.0, &a);
    def.eval(6.0 - 1e-12, &b);
    expectNear(a[1], b[1], 1e-9);
}

TEST(GkBSplineDef, ReversingApplyKeepsThePointSet)
{
    QELXBSplineDef3D def = makeCurve(3, {0, 0, 0, 0, 0.3, 0.5, 1, 1, 1, 1}, kPoints, {1, 2, 1, 3, 1, 1}, true);
    const QELXBSplineDef3D original = def.Copy();
    def.apply(Gk_LinMap(-2.0, 5.0)); // t -> 5 - 2t
    EXPECT_DOUBLE_EQ(def.domain().low(), 3.0);
    EXPECT_DOUBLE_EQ(def.domain().high(), 5.0);
    for (double t : {0.0, 0.2, 0.45, 0.8, 1.0})
        expectNear(def.eval(5.0 - 2.0 * t), original.eval(t), 1e-12);
}

TEST(GkBSplineDef, ExporterArraysBuildTheSameCurve)
{
    const double ctrl[] = {0, 0, 0, 1, 2, 0, 2, -1, 1, 4, 0, 2};
    const double knots[] = {0, 1};
    const int mults[] = {4, 4};
    const QELXBSplineDef3D def(3, 4, ctrl, 2, knots, mults, nullptr, false);
    EXPECT_TRUE(def.isValid());
    EXPECT_TRUE(def.isClamped());
    EXPECT_EQ(def.knots().knotList(true).size(), 8u);
    expectNear(def.eval(1.0), QELXPoint3D(4, 0, 2), 1e-12);

    const int badMults[] = {4, 3}; // one knot short
    EXPECT_FALSE(QELXBSplineDef3D(3, 4, ctrl, 2, knots, badMults, nullptr, false).isValid());
}

TEST(GkBSplineDef, TwoDimensionalCurveEvaluates)
{
    const double ctrl[] = {0, 0, 1, 2, 3, 0};
    const double knots[] = {0, 2};
    const int mults[] = {3, 3};
    const double weights[] = {1, 0.5, 1};
    const QELXBSplineDef2D def(2, 3, ctrl, 2, knots, mults, weights, false);
    QELXCurveDerivatives2D d(2), dp(2), dm(2);
    const double t = 0.7, h = 1e-6;
    def.eval(t, &d);
    def.eval(t + h, &dp);
    def.eval(t - h, &dm);
    EXPECT_NEAR(d[1][0], (dp[0][0] - dm[0][0]) / (2 * h), 1e-6);
    EXPECT_NEAR(d[1][1], (dp[0][1] - dm[0][1]) / (2 * h), 1e-6);
    EXPECT_NEAR(def.eval(2.0)[0], 3.0, 1e-12);
}

TEST(GkBSplineNetDef, RationalNetMatchesTheDoubleSum)
{
    // 3 x 4 net, degrees (2, 3), u-major arrays.
    std::vector<double> ctrl, weights;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) {
            ctrl.insert(ctrl.end(), {double(i), double(j), std::sin(i + 2.0 * j)});
            weights.push_back(1.0 + 0.25 * ((i + j) % 3));
        }
    const double uKnots[] = {0, 1}, vKnots[] = {0, 1};
    const int uMults[] = {3, 3}, vMults[] = {4, 4};
    const QELXBSplineNetDef3D net(2, 3, 3, 4, ctrl.data(), weights.data(), 2, uKnots, uMults, 2, vKnots, vMults,
                                  false, false, false);
    ASSERT_TRUE(net.isValid());
    EXPECT_TRUE(net.isURational());
    EXPECT_TRUE(net.isVRational());
    const std::vector<double> U = net.uKnots().knotList(false), V = net.vKnots().knotList(false);
    for (const QELXPoint2D uv : {QELXPoint2D(0.2, 0.3), QELXPoint2D(0.9, 0.5), QELXPoint2D(1.0, 1.0)}) {
        QELXPoint3D num;
        double den = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j) {
                const double b = basis(i, 2, uv[0], U) * basis(j, 3, uv[1], V) * weights[i * 4 + j];
                num += net.controlNet().controlPoint(i, j).GetCoords() * b;
                den += b;
            }
        expectNear(net.eval(uv), num / den, 1e-12);
    }
    // First and mixed derivatives against differences.
    const QELXPoint2D uv(0.4, 0.6);
    constexpr double h = 1e-6;
    Gk_Flat3 f(2), fu(2), fv(2), fuv(2), fm(2);
    net.eval(uv, &f);
    net.eval(QELXPoint2D(uv[0] + h, uv[1]), &fu);
    net.eval(QELXPoint2D(uv[0], uv[1] + h), &fv);
    expectNear(f.derivative(1, 0), (fu.derivative(0, 0) - f.derivative(0, 0)) / h, 1e-4);
    expectNear(f.derivative(0, 1), (fv.derivative(0, 0) - f.derivative(0, 0)) / h, 1e-4);
    expectNear(f.derivative(1, 1), (fv.derivative(1, 0) - f.derivative(1, 0)) / h, 1e-4);
}

TEST(GkBSplineSplitUtil, SubsetClampsWithoutChangingTheCurve)
{
    const double ctrl[] = {0, 0, 1, 2, 3, 0, 4, 1, 6, 3};
    const double weights[] = {1, 2, 0.5, 1, 1.5};
    const double knots[] = {0, 1, 2, 3, 4, 5, 6, 7};
    QELXPolygonWeight2D polygon;
    for (int i = 0; i < 5; ++i)
        polygon.Add(QELXWeightPoint2D(QELXPoint2D(ctrl[2 * i], ctrl[2 * i + 1]), weights[i]));
    const QELXBSplineDef2D def(Gk_Partition(2, knots, 8, false, Gk_Def::FuzzKnot), polygon, false);
    const QELXBSplineDef2D sub = QELXBSplineSplitUtilWeight2D::subset(def);
    ASSERT_TRUE(sub.isValid());
    EXPECT_TRUE(sub.isClamped());
    const std::vector<double> E = sub.knots().knotList(false);
    EXPECT_EQ(int(E.size()), sub.numControlPoints() + sub.degree() + 1);
    EXPECT_DOUBLE_EQ(E.front(), 2.0);
    EXPECT_DOUBLE_EQ(E.back(), 5.0);
    for (double t : {2.0, 2.5, 3.3, 4.9, 5.0}) {
        EXPECT_NEAR(sub.eval(t).Distance(def.eval(t)), 0.0, 1e-12) << t;
    }
    // The clamped ends interpolate the curve's end points.
    EXPECT_NEAR(sub.controlPoint(0).GetCoords().Distance(def.eval(2.0)), 0.0, 1e-12);
}

// A parameter that is not a number gives a point that is not a number, never a
// read past the control points.
TEST(GkBSplineCurve, NaNParameterStaysWithinTheSpans)
{
    const QELXBSplineDef3D def = makeCurve(3, {0, 0, 0, 0, 0.3, 0.5, 1, 1, 1, 1}, kPoints, {}, true);
    const QELXPoint3D p = def.eval(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(p[0]));
}

// Foreign arrays whose knot count does not match n + p + 1 (or with a
// negative multiplicity) give a definition that is not valid and evaluates
// like an empty one, never a read past the knots.
TEST(GkBSplineCurve, MismatchedKnotCountEvaluatesLikeAnEmptyDefinition)
{
    const double pts[] = {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 1, 0};
    const double knots[] = {0, 1};
    for (const std::vector<int>& mults : {std::vector<int>{2, 2}, std::vector<int>{4, -1}}) {
        const QELXBSplineDef3D def(3, 4, pts, 2, knots, mults.data(), nullptr, false);
        EXPECT_FALSE(def.isValid());
        EXPECT_FALSE(def.domain().isFinite());
        QELXCurveDerivatives3D d(2);
        EXPECT_EQ(def.eval(0.5, &d).Length(), 0.0);
        const QELXBSplineDef2D def2(3, 4, pts, 2, knots, mults.data(), nullptr, false);
        EXPECT_EQ(def2.eval(0.5).Length(), 0.0);
        EXPECT_EQ(QELXBSplineSplitUtilWeight2D::subset(def2).numControlPoints(), 4);
    }
    const double netKnots[] = {0, 1};
    const int netMults[] = {2, 1}; // a bilinear 2 x 2 net needs 2 + 2
    const int goodMults[] = {2, 2};
    const QELXBSplineNetDef3D net(1, 1, 2, 2, pts, nullptr, 2, netKnots, netMults, 2, netKnots, goodMults, false,
                                  false, false);
    EXPECT_FALSE(net.layoutFits());
    EXPECT_FALSE(net.span().u().isFinite());
    Gk_Flat3 flat(2);
    EXPECT_EQ(net.eval(QELXPoint2D(0.5, 0.5), &flat).Length(), 0.0);
}
