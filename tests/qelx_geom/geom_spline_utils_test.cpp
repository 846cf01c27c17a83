#include "qelx/gk_spline_utils.hxx"

#include <gtest/gtest.h>

#include <vector>

namespace {

QELXBSplineDef3D curve(int p, const std::vector<double>& knots, const std::vector<QELXPoint3D>& pts, bool periodic = false)
{
    QELXPolygonWeight3D polygon;
    for (const QELXPoint3D& q : pts)
        polygon.Add(QELXWeightPoint3D(q));
    return QELXBSplineDef3D(Gk_Partition(p, knots.data(), int(knots.size()), true, Gk_Def::FuzzKnot), polygon, periodic);
}

QELXPoint3D at(const QELXBSplineDef3D& def, int i) { return def.controlPoint(i).GetCoords(); }

} // namespace

TEST(GeomSplineUtil, MakeG1StraightensAKinkAtADegreeMultiplicityKnot)
{
    // Quadratic with a double knot at 1: the curve passes through P2 with a kink.
    QELXBSplineDef3D def = curve(2, {0, 0, 0, 1, 1, 2, 2, 2},
                                 {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0}});
    QELXBSplineDiscUtil3D util(def, 1e-6);
    EXPECT_FALSE(util.isG1AtAllKnotDegreeMultiplicities());
    util.makeG1();
    EXPECT_TRUE(util.isG1AtAllKnotDegreeMultiplicities());
    // The joint stays, its neighbours keep their distances.
    EXPECT_NEAR(at(def, 2).Distance(QELXPoint3D(2, 0, 0)), 0.0, 1e-12);
    EXPECT_NEAR(at(def, 1).Distance(at(def, 2)), 1.0, 1e-12);
    EXPECT_NEAR(at(def, 3).Distance(at(def, 2)), 1.0, 1e-12);
    EXPECT_NEAR(def.eval(1.0).Distance(QELXPoint3D(2, 0, 0)), 0.0, 1e-12);

    // A simple knot is no joint to test.
    QELXBSplineDef3D smoothKnots = curve(2, {0, 0, 0, 1, 2, 2, 2}, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}});
    EXPECT_TRUE(QELXBSplineDiscUtil3D(smoothKnots, 1e-6).isG1AtAllKnotDegreeMultiplicities());
}

TEST(GeomSplineUtil, SeamTestOfClampedPeriodicDefinitions)
{
    // Closed clamped quadratics: a smooth seam and a cornered one.
    QELXBSplineDef3D smooth = curve(2, {0, 0, 0, 1, 2, 3, 3, 3},
                                    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {0, 0, 0}}, true);
    QELXBSplineDef3D corner = curve(2, {0, 0, 0, 1, 2, 3, 3, 3},
                                    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0.5, 0}, {0, 0, 0}}, true);
    EXPECT_TRUE(QELXBSplineDiscUtil3D(smooth, Gk_Def::FuzzSnap).isG1AtSeam());
    EXPECT_FALSE(QELXBSplineDiscUtil3D(corner, Gk_Def::FuzzSnap).isG1AtSeam());
    QELXBSplineDef3D open = curve(2, {0, 0, 0, 1, 1, 1}, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    EXPECT_FALSE(QELXBSplineDiscUtil3D(open, Gk_Def::FuzzSnap).isG1AtSeam());
}

TEST(GeomSplineUtil, CoincidentControlPointsArePulledApart)
{
    const double tol = 1e-3;
    const QELXBSplineDef3D def = curve(1, {0, 0, 1, 2, 3, 4, 5, 6, 6},
                                       {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 0, 0}});
    const QELXBSplineDef3D fixed = Gk_SplineUtil::correctCrvCoincidentVertices(def, tol);
    ASSERT_EQ(fixed.numControlPoints(), 8);
    for (int i = 0; i + 1 < 8; ++i)
        EXPECT_GT(at(fixed, i).Distance(at(fixed, i + 1)), tol) << i;
    // End points fixed; a pair moves 1.5 tol; a run spreads evenly.
    EXPECT_NEAR(at(fixed, 0).Distance(at(def, 0)), 0.0, 1e-15);
    EXPECT_NEAR(at(fixed, 7).Distance(at(def, 7)), 0.0, 1e-15);
    EXPECT_NEAR(at(fixed, 2).x(), 1.0 + 1.5 * tol, 1e-12);
    EXPECT_NEAR(at(fixed, 4).x(), 2.0 + 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(at(fixed, 6).x(), 3.0 - 1.5 * tol, 1e-12);
    // The input is untouched.
    EXPECT_DOUBLE_EQ(at(def, 2).x(), 1.0);
}

TEST(GeomSplineUtil, NetClosureRationalityAndCollapse)
{
    QELXPolygonNetWeight3D rows;
    for (int i = 0; i < 3; ++i) {
        QELXPolygonWeight3D row;
        for (int j = 0; j < 3; ++j)
            row.Add(QELXWeightPoint3D(QELXPoint3D(i, j, i == 2 ? 0.5 : 0.0), j == 1 ? 2.0 : 1.0));
        rows.Add(row);
    }
    EXPECT_TRUE(Gk_PolygonUtil::checkRationality(rows));
    EXPECT_TRUE(Gk_PolygonUtil::checkCrossRationality(rows));

    const double knots[] = {0, 0, 0, 1, 1, 1};
    const Gk_Partition part(2, knots, 6, true, Gk_Def::FuzzKnot);
    const QELXBSplineNetDef3D net(part, part, rows, true, false, 4, 4, false);
    EXPECT_FALSE(net.isURational());
    EXPECT_TRUE(net.isVRational());
    const QELXBSplineNetDef3D closed = Gk_SplineUtil::correctSrfClosure(net);
    for (int j = 0; j < 3; ++j) {
        const QELXPoint3D& first = closed.controlNet().controlPoint(0, j).GetCoords();
        EXPECT_NEAR(first.Distance(closed.controlNet().controlPoint(2, j).GetCoords()), 0.0, 1e-15);
        EXPECT_NEAR(first.Distance(QELXPoint3D(1, j, 0.25)), 0.0, 1e-15);
    }

    QELXPolygonNetWeight3D collapsed = rows;
    QELXPolynetUtil::collapseUPlgn(collapsed, 0);
    // Weighted mean of (0,0,0) w1, (0,1,0) w2, (0,2,0) w1.
    for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(collapsed.controlPoint(0, j).GetCoords().Distance(QELXPoint3D(0, 1, 0)), 0.0, 1e-15);
        EXPECT_DOUBLE_EQ(collapsed.controlPoint(0, j).GetWeight(), j == 1 ? 2.0 : 1.0);
    }
    // Copies are deep.
    EXPECT_DOUBLE_EQ(rows.controlPoint(0, 0).GetCoords().y(), 0.0);

    QELXPolygonNetWeight3D unit;
    QELXPolygonWeight3D row;
    row.Add(QELXWeightPoint3D(QELXPoint3D(), 3.0));
    unit.Add(row);
    EXPECT_FALSE(Gk_PolygonUtil::checkRationality(unit));
    EXPECT_TRUE(Gk_PolygonUtil::checkCrossRationality(unit));
}

TEST(GeomSplineUtil, NetG1AndCoincidentRowPoints)
{
    // Bilinear-in-v, quadratic-in-u net with a kink along u at a double knot.
    const double uKnots[] = {0, 0, 0, 1, 1, 2, 2, 2};
    const double vKnots[] = {0, 0, 1, 1};
    QELXPolygonNetWeight3D rows;
    const double xs[] = {0, 1, 2, 2, 2}, zs[] = {0, 0, 0, 1, 2};
    for (int i = 0; i < 5; ++i) {
        QELXPolygonWeight3D row;
        for (int j = 0; j < 2; ++j)
            row.Add(QELXWeightPoint3D(QELXPoint3D(xs[i], j, zs[i])));
        rows.Add(row);
    }
    QELXBSplineNetDef3D net(Gk_Partition(2, uKnots, 8, true, Gk_Def::FuzzKnot),
                            Gk_Partition(1, vKnots, 4, true, Gk_Def::FuzzKnot), rows, false, false, 4, 4, false);
    Gk_BSplNetDiscUtil(net, 1e-3).makeG1();
    for (int j = 0; j < 2; ++j) {
        const QELXPoint3D in = net.controlNet().controlPoint(2, j).GetCoords() - net.controlNet().controlPoint(1, j).GetCoords();
        const QELXPoint3D out = net.controlNet().controlPoint(3, j).GetCoords() - net.controlNet().controlPoint(2, j).GetCoords();
        EXPECT_NEAR((in * out) / (in.Length() * out.Length()), 1.0, 1e-12);
    }
    EXPECT_FALSE(Gk_BSplNetDiscUtil(net, 1e-3).isG1AtUSeam()); // not periodic

    QELXPolygonNetWeight3D twin = rows;
    // Along the first column, points 1 and 2 coincide; a row whose points all
    // coincide would be a pole and stays.
    twin.controlPoint(2, 0) = twin.controlPoint(1, 0);
    const QELXBSplineNetDef3D fixed = Gk_SplineUtil::correctSrfCoincidentVertices(
        QELXBSplineNetDef3D(net.uKnots(), net.vKnots(), twin, false, false, 4, 4, false), 1e-3);
    EXPECT_GT(fixed.controlNet().controlPoint(1, 0).GetCoords().Distance(fixed.controlNet().controlPoint(2, 0).GetCoords()), 1e-3);
    EXPECT_NEAR(fixed.controlNet().controlPoint(1, 0).GetCoords().Distance(twin.controlPoint(1, 0).GetCoords()), 0.0, 1e-15);
}
