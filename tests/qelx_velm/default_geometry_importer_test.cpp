// The framework's default geometry importer: every kind it converts meets
// the source geometry at the framework parameters; what it cannot carry,
// and bad data, give no geometry and leak nothing.
#include "qelx/test_exporters.hxx"
#include "qelx_velm/default_geometry_importer.hxx"

#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

using namespace qelx_test;

namespace {

double gap(const QELposition& p, const QELXPoint3D& q)
{
    return std::sqrt(std::pow(p.x() - q.x(), 2) + std::pow(p.y() - q.y(), 2) + std::pow(p.z() - q.z(), 2));
}

struct Importer {
    explicit Importer(TestModel m) : document(std::move(m)), exporter(&document)
    {
        exporter.GetGeometryExporter(geometry);
    }
    TestDocument document;
    TestBRepExporter exporter;
    QELXGeometryExporter* geometry = nullptr;
    TestGeometryExporter& test() { return exporter.geometry(); }
    const TestModel& model() { return document.model(); }
};

// Largest distance between the kernel surface and the source at framework
// parameters spread over the face box of the surface's span.
double surfaceGap(const TestModel& m, int s, SURFACE* k)
{
    const TestSurface& f = m.surfaces[s];
    const double u0 = (f.uSpan[0] - f.uC) / (f.uA * f.uB), u1 = (f.uSpan[1] - f.uC) / (f.uA * f.uB);
    const double v0 = (f.vSpan[0] - f.vC) / (f.vA * f.vB), v1 = (f.vSpan[1] - f.vC) / (f.vA * f.vB);
    double worst = 0.0;
    for (double a : {0.1, 0.45, 0.8})
        for (double b : {0.15, 0.5, 0.9}) {
            const double u = u0 + a * (u1 - u0), v = v0 + b * (v1 - v0);
            worst = std::max(worst, gap(k->equation().eval_position(QELpar_pos(u, v)), m.surfacePoint(s, u, v)));
        }
    return worst;
}

// Whether the kernel's own check of the surface finds nothing (a net whose
// boundary row collapses unmarked is singular to it).
bool checkedClean(SURFACE* k)
{
    check_status_list* found = k->equation().check();
    const bool clean = found == nullptr;
    delete found;
    return clean;
}

} // namespace

TEST(DefaultGeometryImporter, SurfacesMeetTheSourceAtFrameworkParameters)
{
    TestModel m = TestModel::freeGeometry();
    // A plane and a spline under a scaled and shifted map, as a source may hand them.
    const int plane = m.addPlane({1, 2, 3}, {0, 1, 0}, {1, 0, 0});
    m.reparametriseSurface(plane, -2.0, 0.5, 2.0, -1.0);
    m.surfaces.push_back(m.surfaces[6]);
    const int spline = static_cast<int>(m.surfaces.size()) - 1;
    m.reparametriseSurface(spline, 2.0, 0.5, -0.5, 0.25);
    // Swept surfaces under maps, over a line under its own map, an elliptical arc and a spline.
    const int revolved = 7, extruded = 8, nurbs = m.freeCurves[3];
    ASSERT_EQ(m.curves[nurbs].type, CurvNurbs);
    m.reparametriseCurve(m.surfaces[revolved].ref, 2.0, 0.5);
    m.reparametriseSurface(revolved, -2.0, 0.5, 2.0, 0.5);
    m.reparametriseSurface(extruded, 2.0, 0.5, -1.0, 0.0);
    for (int s : {m.addExtruded(nurbs, {0, 0.5, 3}, -1.0, 1.0), m.addRevolved(nurbs, {0, 0, -2}, {0, 1, 0}, 0.5, 2.0)})
        m.reparametriseSurface(s, -0.5, 1.0, 2.0, 0.5);
    // Spheres in their own frames, the pole along +x and tilted, under the identity and a map.
    for (const auto& [zero, pole] : {std::pair<Vec3, Vec3>{{0, 1, 0}, {1, 0, 0}},
                                     std::pair<Vec3, Vec3>{{2.0 / 3, 2.0 / 3, 1.0 / 3}, {1.0 / 3, -2.0 / 3, 2.0 / 3}}}) {
        const int sphere = m.addSphere({1, 2, 3}, 3.0);
        m.surfaces[sphere].d1 = zero;
        m.surfaces[sphere].d2 = pole;
        m.surfaces.push_back(m.surfaces[sphere]);
        m.reparametriseSurface(static_cast<int>(m.surfaces.size()) - 1, -1.0, 0.0, 1.0, 0.3);
    }
    Importer in(m);
    const long before = velm_live_object_count();
    for (int s = 0; s < static_cast<int>(m.surfaces.size()); ++s) {
        SCOPED_TRACE(s);
        SURFACE* k = nullptr;
        QELXDefaultGeometryImporter importer(in.geometry, 1.0);
        const QELIResult r = importer.ConvertSurface(in.test().surfaceId(s), k);
        const int type = m.surfaces[s].type;
        if (type == SurfOffset || type == SurfUnknown) {
            EXPECT_EQ(r, QELI_FAIL);
            EXPECT_EQ(k, nullptr);
            continue;
        }
        ASSERT_EQ(r, QELI_OK);
        EXPECT_LT(surfaceGap(m, s, k), 1e-9 * 10);
        k->lose();
    }
    EXPECT_EQ(in.test().outstandingArrays(), 0);
    EXPECT_EQ(velm_live_object_count(), before);
}

TEST(DefaultGeometryImporter, CurvesAndPCurvesMeetTheSource)
{
    TestModel m = TestModel::nurbsSheet(5, 4, true);
    const int line = m.addLine({0, 0, 0}, {3, 4, 0});
    m.reparametriseCurve(line, 2.0, 0.5);
    const int arc = m.addEllipse({1, 1, 1}, {0, 1, 0}, {1, 0, 0}, 3.0, 1.0, -1.0, 2.0);
    m.reparametriseCurve(arc, -1.0, 0.3);
    Importer in(m);
    QELXDefaultGeometryImporter importer(in.geometry, 1.0);
    for (int c : {0, 1, line, arc}) {
        SCOPED_TRACE(c);
        CURVE* k = nullptr;
        ASSERT_EQ(importer.ConvertCurve(in.test().curveId(c), k), QELI_OK);
        for (double a : {0.0, 0.3, 1.0}) {
            const double t = m.curves[c].domain[0] + a * (m.curves[c].domain[1] - m.curves[c].domain[0]);
            EXPECT_LT(gap(k->equation().eval_position(t), m.curvePoint(c, t)), 1e-12);
        }
        k->lose();
    }
    // A pcurve on the converted surface lies on the edge it belongs to.
    SURFACE* surface = nullptr;
    ASSERT_EQ(importer.ConvertSurface(in.test().surfaceId(0), surface), QELI_OK);
    for (const TestCoedge& c : m.coedges) {
        PCURVE* p = nullptr;
        ASSERT_EQ(importer.ConvertPCurve(in.test().pcurveId(c.pcurve), surface, p), QELI_OK);
        const double t = 0.5 * (c.domain[0] + c.domain[1]);
        const QELpar_pos uv = p->equation().eval_position(t);
        EXPECT_LT(gap(surface->equation().eval_position(uv), m.curvePoint(m.edges[c.edge].curve, c.sense ? t : -t)),
                  1e-12);
        p->lose();
    }
    surface->lose();
    EXPECT_EQ(in.test().outstandingArrays(), 0);
}

TEST(DefaultGeometryImporter, QuadricsUnderAMapBecomeSplinesInFrameworkParameters)
{
    struct Map {
        const char* what;
        double ua, uc, va, vc;
    };
    const Map maps[] = {{"u reversed", -1, 0, 1, 0}, {"v reversed", 1, 0, -1, 0},
                        {"u scaled and shifted", 2, 0.5, 1, 0}, {"v scaled and shifted", 1, 0, 2, 0.5}};
    const TestModel models[] = {TestModel::cylinder(2.0, 3.0), TestModel::coneWithApexLoop(1.0, 0.5),
                                TestModel::sphereFace(1.5), TestModel::torusFace(3.0, 1.0),
                                TestModel::lemonTorus(0.5, 1.0)};
    for (const TestModel& source : models)
        for (const Map& map : maps)
            for (const TestFace& face : source.faces) {
                const int s = face.surface, type = source.surfaces[s].type;
                if (type != SurfCylinder && type != SurfCone && type != SurfSphere && type != SurfTorus)
                    continue;
                SCOPED_TRACE(std::string(map.what) + " on kind " + std::to_string(type) + " of model " +
                             std::to_string(&source - models));
                TestModel m = source;
                m.reparametriseSurface(s, map.ua, map.uc, map.va, map.vc);
                Importer in(m);
                QELXDefaultGeometryImporter importer(in.geometry, 1.0);
                SURFACE* k = nullptr;
                ASSERT_EQ(importer.ConvertSurface(in.test().surfaceId(s), k), QELI_OK);
                EXPECT_LT(surfaceGap(m, s, k), 1e-9 * 10);
                // The nets with pole rows (a sphere's, a cone's apex) check clean.
                if (type == SurfSphere || type == SurfCone) {
                    EXPECT_TRUE(checkedClean(k));
                }
                // A whole turn about the axis stays closed.
                EXPECT_TRUE(k->equation().closed_u() || k->equation().closed_v());
                // The face's pcurves keep their control points and still lie on their edges.
                for (int l : face.loops)
                    for (int c : m.loops[l].coedges) {
                        const TestCoedge& ce = m.coedges[c];
                        PCURVE* p = nullptr;
                        ASSERT_EQ(importer.ConvertPCurve(in.test().pcurveId(ce.pcurve), k, p), QELI_OK);
                        for (double a : {0.0, 0.37, 0.81}) {
                            const double t = ce.domain[0] + a * (ce.domain[1] - ce.domain[0]);
                            const QELposition on = k->equation().eval_position(p->equation().eval_position(t));
                            EXPECT_LT(gap(on, m.curvePoint(m.edges[ce.edge].curve, ce.sense ? t : -t)), 1e-9 * 10);
                        }
                        p->lose();
                    }
                k->lose();
            }
    // More than a turn of angle has no single-valued spline.
    TestModel m = TestModel::sphereFace();
    m.reparametriseSurface(m.faces[0].surface, -1, 0, 1, 0);
    m.surfaces[m.faces[0].surface].vSpan[1] += 2.0 * M_PI;
    Importer in(m);
    SURFACE* k = reinterpret_cast<SURFACE*>(1);
    EXPECT_EQ(QELXDefaultGeometryImporter(in.geometry, 1.0).ConvertSurface(in.test().surfaceId(m.faces[0].surface), k),
              QELI_FAIL);
    EXPECT_EQ(k, nullptr);
}

TEST(DefaultGeometryImporter, BadDataGivesNoGeometry)
{
    struct Case {
        const char* what;
        void (*spoil)(TestModel&);
    };
    const Case cases[] = {
        {"nan control point", [](TestModel& m) { m.surfaces[0].ctrl[4] = std::nan(""); }},
        {"degree above count", [](TestModel& m) { m.surfaces[0].uDegree = 9; }},
        {"falling knots", [](TestModel& m) { std::swap(m.surfaces[0].uKnots[0], m.surfaces[0].uKnots[1]); }},
        {"a multiplicity of degree + 2, the sum kept", [](TestModel& m) {
             m.surfaces[0].uKnots = {0.0, 1.0};
             m.surfaces[0].uMults = {5, 4};
         }},
        // Clamped and of the right length, but the first knot given twice.
        {"a knot given twice", [](TestModel& m) {
             m.surfaces[0].uKnots = {0.0, 0.0, 0.5, 1.0};
             m.surfaces[0].uMults = {3, 1, 1, 4};
         }},
        {"zero weight", [](TestModel& m) { m.surfaces[0].weights[3] = 0.0; }},
        {"short knots", [](TestModel& m) { m.surfaces[0].uMults.back() = 1; }},
        {"infinite map", [](TestModel& m) { m.surfaces[0].uA = INFINITY; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel m = TestModel::nurbsSheet(5, 4, true);
        c.spoil(m);
        Importer in(m);
        const long before = velm_live_object_count();
        SURFACE* k = reinterpret_cast<SURFACE*>(1);
        EXPECT_EQ(QELXDefaultGeometryImporter(in.geometry, 1.0).ConvertSurface(in.test().surfaceId(0), k), QELI_FAIL);
        EXPECT_EQ(k, nullptr);
        EXPECT_EQ(in.test().outstandingArrays(), 0);
        EXPECT_EQ(velm_live_object_count(), before);
    }
}

namespace {

// The unit scales and frames an import maps its source by: a uniform scale
// alone, a rotation with a translation, and a mirror.
std::vector<std::pair<const char*, QELXMorph3D>> sourceMaps()
{
    const double c = std::cos(0.7), s = std::sin(0.7);
    QELXAffine turn, mirror;
    turn.SetRow(0, c, -s, 0);
    turn.SetRow(1, s * 0.6, c * 0.6, -0.8);
    turn.SetRow(2, s * 0.8, c * 0.8, 0.6);
    mirror.SetRow(0, -c, s, 0);
    mirror.SetRow(1, s * 0.6, c * 0.6, -0.8);
    mirror.SetRow(2, s * 0.8, c * 0.8, 0.6);
    return {{"as it is", QELXMorph3D()},
            {"metres into millimetres", QELXMorph3D(QELXAffine(), QELXPoint3D(0, 0, 0), 1000.0)},
            {"inches, turned and moved", QELXMorph3D(turn, QELXPoint3D(5, -2, 1), 25.4)},
            {"micrometres, mirrored", QELXMorph3D(mirror, QELXPoint3D(-1, 0, 3), 1e-3)}};
}

} // namespace

TEST(DefaultGeometryImporter, UnderAnImportsMapEveryPointIsTheImageOfTheSourcesAtTheSameParameters)
{
    // Vertices come in mapped by the import's morph: surfaces, curves and
    // pcurves on the surfaces must come in mapped alike, or every vertex
    // lies off its curves (metres into millimetres: by 999 times its distance
    // from the origin).
    const TestModel models[] = {TestModel::block(2, 3, 4), TestModel::cylinder(2.0, 3.0),
                                TestModel::coneWithApexLoop(1.0, 0.5), TestModel::sphereFace(1.5),
                                TestModel::torusFace(3.0, 1.0), TestModel::nurbsSheet(5, 4, true)};
    for (const auto& [what, morph] : sourceMaps())
        for (const TestModel& m : models) {
            SCOPED_TRACE(what);
            Importer in(m);
            QELXDefaultGeometryImporter importer(in.geometry, morph);
            const double tol = 1e-9 * std::max(1.0, morph.scaleFactor());
            for (const TestFace& face : m.faces) {
                SCOPED_TRACE("surface kind " + std::to_string(m.surfaces[face.surface].type));
                SURFACE* k = nullptr;
                ASSERT_EQ(importer.ConvertSurface(in.test().surfaceId(face.surface), k), QELI_OK);
                EXPECT_TRUE(checkedClean(k));
                const TestSurface& f = m.surfaces[face.surface];
                // A sphere stays a sphere in every frame; through a mirror its
                // longitude runs the other way (the pcurves below follow).
                const bool sphere = f.type == SurfSphere;
                if (sphere) {
                    EXPECT_EQ(k->equation().type(), 3);
                }
                const double vSense = sphere && morph.GetAffine().Determinant() < 0.0 ? -1.0 : 1.0;
                for (double a : {0.1, 0.45, 0.8})
                    for (double b : {0.15, 0.5, 0.9}) {
                        const double u = f.uSpan[0] + a * (f.uSpan[1] - f.uSpan[0]);
                        const double v = f.vSpan[0] + b * (f.vSpan[1] - f.vSpan[0]);
                        EXPECT_LT(gap(k->equation().eval_position(QELpar_pos(u, vSense * v)),
                                      morph.Apply(m.surfacePoint(face.surface, u, v))),
                                  tol);
                    }
                for (int l : face.loops)
                    for (int c : m.loops[l].coedges) {
                        const TestCoedge& ce = m.coedges[c];
                        const int curve = m.edges[ce.edge].curve;
                        CURVE* kc = nullptr;
                        if (curve >= 0) {
                            ASSERT_EQ(importer.ConvertCurve(in.test().curveId(curve), kc), QELI_OK);
                        }
                        PCURVE* p = nullptr;
                        if (ce.pcurve >= 0) {
                            ASSERT_EQ(importer.ConvertPCurve(in.test().pcurveId(ce.pcurve), k, p), QELI_OK);
                        }
                        for (double a : {0.0, 0.37, 1.0}) {
                            const double t = ce.domain[0] + a * (ce.domain[1] - ce.domain[0]);
                            const double along = ce.sense ? t : -t;
                            if (kc) {
                                const QELXPoint3D want = morph.Apply(m.curvePoint(curve, along));
                                EXPECT_LT(gap(kc->equation().eval_position(along), want), tol);
                            }
                            // The pcurve on the mapped surface runs where the
                            // source's runs on the source's surface, mapped.
                            if (p) {
                                const QELXPoint2D uv = m.pcurvePoint(ce.pcurve, t);
                                const QELXPoint3D want = morph.Apply(m.surfacePoint(face.surface, uv.u(), uv.v()));
                                EXPECT_LT(gap(k->equation().eval_position(p->equation().eval_position(t)), want), tol);
                            }
                        }
                        if (p)
                            p->lose();
                        if (kc)
                            kc->lose();
                    }
                k->lose();
            }
            EXPECT_EQ(in.test().outstandingArrays(), 0);
        }
}

// Under every map: a rational spline whose parameter runs against its
// data (its weights unlike from either end) meets the source at the same
// parameters, and so does a pcurve across a sphere, whose longitude a
// mirror turns.
TEST(DefaultGeometryImporter, ReversedRationalSplinesAndPCurvesOnASphereMeetTheSourceUnderEveryMap)
{
    TestModel m = TestModel::sphereFace(1.5);
    TestNurbs n;
    n.degree = 2;
    n.count = 4;
    n.ctrl = {0, 0, 0, 1, 2, 0, 3, 2, 1, 4, 0, 0};
    n.weights = {1.0, 3.0, 0.5, 1.0};
    n.knots = {0.0, 0.5, 1.0};
    n.mults = {3, 1, 3};
    const int spline = m.addNurbsCurve(n);
    m.reparametriseCurve(spline, -1.5, 0.2);
    const int surface = m.faces[0].surface;
    const TestSurface& f = m.surfaces[static_cast<std::size_t>(surface)];
    const auto framework = [&](double a, double b) {
        return QELXPoint2D((f.uSpan[0] + a * (f.uSpan[1] - f.uSpan[0]) - f.uC) / (f.uA * f.uB),
                           (f.vSpan[0] + b * (f.vSpan[1] - f.vSpan[0]) - f.vC) / (f.vA * f.vB));
    };
    const int across = m.addLinePCurve(framework(0.2, 0.3), framework(0.7, 0.85), 0.0, 1.0);
    for (const auto& [what, morph] : sourceMaps()) {
        SCOPED_TRACE(what);
        Importer in(m);
        QELXDefaultGeometryImporter importer(in.geometry, morph);
        const double tol = 1e-9 * std::max(1.0, morph.scaleFactor());
        CURVE* kc = nullptr;
        ASSERT_EQ(importer.ConvertCurve(in.test().curveId(spline), kc), QELI_OK);
        const TestCurve& c = m.curves[static_cast<std::size_t>(spline)];
        for (double a : {0.0, 0.3, 0.7, 1.0}) {
            const double t = c.domain[0] + a * (c.domain[1] - c.domain[0]);
            EXPECT_LT(gap(kc->equation().eval_position(t), morph.Apply(m.curvePoint(spline, t))), tol) << a;
        }
        kc->lose();
        SURFACE* k = nullptr;
        ASSERT_EQ(importer.ConvertSurface(in.test().surfaceId(surface), k), QELI_OK);
        PCURVE* p = nullptr;
        ASSERT_EQ(importer.ConvertPCurve(in.test().pcurveId(across), k, p), QELI_OK);
        for (double t : {0.0, 0.37, 1.0}) {
            const QELXPoint2D uv = m.pcurvePoint(across, t);
            EXPECT_LT(gap(k->equation().eval_position(p->equation().eval_position(t)),
                          morph.Apply(m.surfacePoint(surface, uv.u(), uv.v()))),
                      tol)
                << t;
        }
        p->lose();
        k->lose();
        EXPECT_EQ(in.test().outstandingArrays(), 0);
    }
}

TEST(DefaultGeometryImporter, SaysWhetherTheSurfaceItMakesHasTheNormalTheSourceMeans)
{
    // Every kind under maps running each way, its normal named by the flag
    // either way, under every map of the import (a mirror keeps the side a
    // face's material lies on): the answer matches the kernel surface's
    // normal against the image of the source's at the same framework
    // parameters (a sphere kept a sphere through a mirror has its longitude
    // turned).
    TestModel m = TestModel::freeGeometry();
    m.addSphere({1, 2, 3}, 3.0);
    const int kinds = static_cast<int>(m.surfaces.size());
    for (int s = 0; s < kinds; ++s)
        for (double ua : {1.0, -2.0})
            for (double va : {1.0, -0.5})
                for (bool flag : {true, false}) {
                    m.surfaces.push_back(m.surfaces[s]);
                    const int copy = static_cast<int>(m.surfaces.size()) - 1;
                    m.reparametriseSurface(copy, ua, 0.25, va, -0.5);
                    m.surfaces[copy].flag = flag;
                }
    Importer in(m);
    for (const auto& [what, morph] : sourceMaps()) {
        SCOPED_TRACE(what);
        const bool mirrored = morph.GetAffine().Determinant() < 0.0;
        int compared = 0;
        for (int s = 0; s < static_cast<int>(m.surfaces.size()); ++s) {
            const TestSurface& f = m.surfaces[s];
            SCOPED_TRACE("surface " + std::to_string(s) + " of kind " + std::to_string(f.type) + ", flag " +
                         std::to_string(f.flag) + ", slopes " + std::to_string(f.uA * f.uB) + " " +
                         std::to_string(f.vA * f.vB));
            QELXDefaultGeometryImporter importer(in.geometry, morph);
            SURFACE* k = nullptr;
            if (importer.ConvertSurface(in.test().surfaceId(s), k) != QELI_OK)
                continue;
            const double u = ((f.uSpan[0] + 0.4 * (f.uSpan[1] - f.uSpan[0])) - f.uC) / (f.uA * f.uB);
            const double v = ((f.vSpan[0] + 0.3 * (f.vSpan[1] - f.vSpan[0])) - f.vC) / (f.vA * f.vB);
            const double vSense = mirrored && k->equation().type() == 3 ? -1.0 : 1.0;
            const QELunit_vector n = k->equation().eval_normal(QELpar_pos(u, vSense * v));
            QELXPoint3D want = morph.Apply(m.surfaceNormal(s, u, v), true);
            want = want * (1.0 / want.Length());
            const double along = n.x() * want.x() + n.y() * want.y() + n.z() * want.z();
            EXPECT_GT(std::fabs(along), 0.999);
            EXPECT_EQ(importer.KeepsFaceNormal(in.test().surfaceId(s)), along > 0.0);
            ++compared;
            k->lose();
        }
        EXPECT_GE(compared, 8 * 9);
    }
    EXPECT_EQ(in.test().outstandingArrays(), 0);
}
