// The source model's builders give consistent geometry, its editors keep
// or break that consistency as they say, and its spline edits keep shapes.
#include "qelx/test_model.hxx"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace qelx_test;

namespace {

struct Built {
    const char* name;
    std::function<TestModel()> make;
    int faces, edges, vertices;
};

const std::vector<Built>& builders()
{
    static const std::vector<Built> all = {
        {"block", [] { return TestModel::block(1, 2, 3); }, 6, 12, 8},
        {"cylinder", [] { return TestModel::cylinder(2, 5); }, 3, 3, 2},
        {"sphere", [] { return TestModel::sphereFace(2); }, 1, 0, 0},
        {"torus", [] { return TestModel::torusFace(3, 1); }, 1, 0, 0},
        {"lemon", [] { return TestModel::lemonTorus(0.5, 1); }, 1, 0, 0},
        {"plane", [] { return TestModel::planeFace(); }, 1, 4, 4},
        {"nurbs", [] { return TestModel::nurbsSheet(5, 4, true); }, 1, 4, 4},
        {"shared", [] { return TestModel::twoFacesSharingEdge(); }, 2, 7, 6},
        {"hole", [] { return TestModel::sheetWithHole(); }, 1, 8, 8},
        {"cone", [] { return TestModel::coneWithApexLoop(); }, 1, 1, 2},
        {"polyline", [] { return TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 1}}); }, 0, 2, 3},
    };
    return all;
}

} // namespace

TEST(TestModelBuilders, CountsAndGeometryAgree)
{
    for (const Built& b : builders()) {
        SCOPED_TRACE(b.name);
        const TestModel m = b.make();
        EXPECT_EQ(static_cast<int>(m.faces.size()), b.faces);
        EXPECT_EQ(static_cast<int>(m.edges.size()), b.edges);
        EXPECT_EQ(static_cast<int>(m.vertices.size()), b.vertices);
        EXPECT_LT(m.maxGap(), 1e-9);
    }
}

TEST(TestModelBuilders, ClosedShellsPairEveryEdgeAndPointOutwards)
{
    for (const Built& b : builders()) {
        SCOPED_TRACE(b.name);
        const TestModel m = b.make();
        for (const TestShell& s : m.shells) {
            if (!s.closed)
                continue;
            for (int f : s.faces)
                for (int l : m.faces[f].loops)
                    for (int c : m.loops[l].coedges) {
                        const TestEdge& e = m.edges[m.coedges[c].edge];
                        ASSERT_EQ(e.coedges.size(), 2u);
                        EXPECT_NE(m.coedges[e.coedges[0]].sense, m.coedges[e.coedges[1]].sense);
                    }
        }
    }
    // Every face of the block and the cylinder points away from the body's middle.
    for (const TestModel& m : {TestModel::block(1, 2, 3), TestModel::cylinder(2, 5)}) {
        const QELXPoint3D middle = m.edges.size() == 12 ? QELXPoint3D(0.5, 1, 1.5) : QELXPoint3D(0, 0, 2.5);
        for (const TestFace& f : m.faces) {
            const double u = 0.5 * (f.uDomain[0] + f.uDomain[1]) + 0.1, v = 0.5 * (f.vDomain[0] + f.vDomain[1]) + 0.1;
            const QELXPoint3D n = m.surfaceNormal(f.surface, u, v) * (f.sense ? 1.0 : -1.0);
            EXPECT_GT(n * (m.surfacePoint(f.surface, u, v) - middle), 0.0);
        }
    }
}

TEST(TestModelEditors, ReparametrisingKeepsTheModelConsistent)
{
    TestModel m = TestModel::cylinder(2, 5);
    const QELXPoint3D before = m.surfacePoint(0, 0.3, 1.0);
    m.reparametriseSurface(0, 2.0, 0.5, -1.0, 0.25);
    EXPECT_LT(m.maxGap(), 1e-9);
    EXPECT_LT(m.surfacePoint(0, (0.3 - 0.5) / 2.0, (1.0 - 0.25) / -1.0).Distance(before), 1e-12);
    for (double a : {2.0, -1.0}) {
        TestModel s = TestModel::nurbsSheet(4, 4, false);
        for (int c = 0; c < 4; ++c)
            s.reparametriseCurve(c, a, 0.5);
        EXPECT_LT(s.maxGap(), 1e-9) << a;
    }
}

TEST(TestModelEditors, FaultsBreakWhatTheySay)
{
    TestModel moved = TestModel::block(1, 1, 1);
    moved.moveVertexOffCurve(0, 0.01);
    EXPECT_NEAR(moved.maxGap(), 0.01, 1e-9);

    TestModel kinked = TestModel::nurbsSheet(4, 4, false);
    const QELXPoint3D end = kinked.curvePoint(0, 1.0), mid = kinked.curvePoint(0, 0.5);
    kinked.kinkCurve(0, 0.05);
    EXPECT_LT(kinked.curvePoint(0, 1.0).Distance(end), 1e-12);
    EXPECT_NEAR(kinked.curvePoint(0, 0.5).Distance(mid), 0.05, 1e-9);
    const QELXPoint3D left = kinked.curvePoint(0, 0.5) - kinked.curvePoint(0, 0.5 - 1e-6);
    const QELXPoint3D right = kinked.curvePoint(0, 0.5 + 1e-6) - kinked.curvePoint(0, 0.5);
    EXPECT_LT((left * right) / (left.Length() * right.Length()), 0.999);

    TestModel reversed = TestModel::planeFace();
    reversed.reversePCurve(0);
    EXPECT_GT(reversed.maxGap(), 0.5);
    const QELXPoint2D a = reversed.pcurvePoint(0, 0.0);
    EXPECT_NEAR(a.u(), 1.0, 1e-12);

    TestModel third = TestModel::twoFacesSharingEdge();
    third.addThirdCoedge(1);
    EXPECT_EQ(third.edges[1].coedges.size(), 3u);
}

TEST(TestModelSplines, KnotInsertionKeepsTheCurve)
{
    for (bool rational : {false, true}) {
        TestModel m = TestModel::nurbsSheet(6, 4, rational);
        const TestModel original = m;
        insertKnot(m.curves[0].nurbs, 3, 0.4);
        insertKnot(m.curves[0].nurbs, 3, 0.4);
        EXPECT_EQ(m.curves[0].nurbs.count, original.curves[0].nurbs.count + 2);
        for (double t = 0.0; t <= 1.0; t += 0.125)
            EXPECT_LT(m.curvePoint(0, t).Distance(original.curvePoint(0, t)), 1e-12) << rational << " " << t;
        reverseNurbs(m.curves[0].nurbs, 3);
        EXPECT_LT(m.curvePoint(0, 0.3).Distance(original.curvePoint(0, 0.7)), 1e-12);
    }
}

// A sphere is read in its own frame: longitude 0 along d1, the pole along d2,
// longitude turning towards d1 x d2, whatever way the frame is turned.
TEST(TestModelGeometry, SpheresHonourTheirOwnFrame)
{
    struct Frame {
        const char* name;
        Vec3 zero, pole;
    };
    const Frame frames[] = {{"default", {1, 0, 0}, {0, 0, 1}},
                            {"pole +x, longitude 0 along +y", {0, 1, 0}, {1, 0, 0}},
                            {"pole -z", {0, 1, 0}, {0, 0, -1}},
                            {"tilted", {2.0 / 3, 2.0 / 3, 1.0 / 3}, {1.0 / 3, -2.0 / 3, 2.0 / 3}}};
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.name);
        TestModel m;
        const int s = m.addSphere({1, 2, 3}, 3.0);
        m.surfaces[s].d1 = f.zero;
        m.surfaces[s].d2 = f.pole;
        const QELXPoint3D c(1, 2, 3), O(f.zero[0], f.zero[1], f.zero[2]), P(f.pole[0], f.pole[1], f.pole[2]);
        const QELXPoint3D W = QELXPoint3D::VectorProduct(O, P);
        EXPECT_LT(m.canonicalSurfacePoint(s, 0.0, 0.0).Distance(c + O * 3.0), 1e-12);
        EXPECT_LT(m.canonicalSurfacePoint(s, M_PI / 2, 0.7).Distance(c + P * 3.0), 1e-12);
        EXPECT_LT(m.canonicalSurfacePoint(s, 0.0, M_PI / 2).Distance(c + W * 3.0), 1e-12);
        EXPECT_LT(m.canonicalSurfacePoint(s, -M_PI / 6, M_PI).Distance(c + (O * -std::cos(M_PI / 6) - P * 0.5) * 3.0),
                  1e-12);
        // The record's own normal still points out.
        EXPECT_GT(m.surfaceNormal(s, 0.4, 1.1) * (m.surfacePoint(s, 0.4, 1.1) - c), 0.0);
    }
}

// An edge that runs against its curve: its domain is in its own parameter,
// the curve read at the negated one, so the vertices are the curve's ends
// at -low and -high; a pcurve that runs against its coedge is read at the
// negated coedge parameter.
TEST(TestModelEditors, EdgesAndPCurvesAgainstTheirParameter)
{
    TestModel m = TestModel::block(1, 2, 3);
    for (int c = 0; c < static_cast<int>(m.curves.size()); ++c)
        m.reparametriseCurve(c, -1.0, 0.25);
    EXPECT_LT(m.maxGap(), 1e-9);
    for (const TestEdge& e : m.edges) {
        ASSERT_FALSE(e.sense);
        const TestCurve& c = m.curves[e.curve];
        EXPECT_NEAR(c.domain[0], -e.domain[1], 1e-12);
        EXPECT_NEAR(c.domain[1], -e.domain[0], 1e-12);
        EXPECT_LT(m.curvePoint(e.curve, -e.domain[0]).Distance(m.point(m.vertices[e.start].point)), 1e-12);
        EXPECT_LT(m.curvePoint(e.curve, -e.domain[1]).Distance(m.point(m.vertices[e.end].point)), 1e-12);
    }

    // The first coedge's pcurve read at -t: its sense says so.
    TestModel flipped = TestModel::planeFace();
    TestNurbs& n = flipped.pcurves[flipped.coedges[0].pcurve].nurbs;
    const double ends = n.knots.front() + n.knots.back();
    reverseNurbs(n, 2);
    for (double& k : n.knots)
        k -= ends;
    flipped.flipPCurveSense(0);
    EXPECT_LT(flipped.maxGap(), 1e-9);
    flipped.flipPCurveSense(0);
    EXPECT_GT(flipped.maxGap(), 0.5);
}

// An attribute record's texts behave as optional strings: a copied record
// owns its texts (changing one leaves the other), and they compare as
// std::optional<std::string> does, empty included.
TEST(TestModel, AttributeTextsAreOptionalStringsOfTheirOwn)
{
    TestAttributes a;
    EXPECT_FALSE(a.name);
    EXPECT_EQ(a.name, std::nullopt);
    a.name = "top";
    a.pid = std::optional<std::string>("p-1");
    TestAttributes b = a;
    *b.name += "-copy";
    b.pid.reset();
    EXPECT_EQ(a.name, "top");
    EXPECT_EQ(b.name, std::string("top-copy"));
    EXPECT_EQ(a.pid, std::optional<std::string>("p-1"));
    EXPECT_FALSE(b.pid.has_value());
    EXPECT_NE(a.name, b.name);
    a = b;
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(std::optional<std::string>(a.name), std::optional<std::string>("top-copy"));
    EXPECT_EQ(a.pid.value_or("none"), "none");
    EXPECT_THROW((void)a.pid.value(), std::bad_optional_access);
}
