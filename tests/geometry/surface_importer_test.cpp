// Surface import from a source model: every surface kind under several
// parameterisations and both face senses, the NURBS repairs, and bad data.
#include <functional>
#include <random>

#include "geometry/surface_importer.hxx"
#include "geometry/surface_utilities.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx/test_model.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "surface_import_fixtures.hxx"

using namespace geomtest;
using qelx_test::TestModel;
using qelx_test::Vec3;

namespace {

// One surface of a model, imported the way a face importer does it.
struct Imported {
    std::unique_ptr<surface> srf;
    Gk_BiLinMap map;
    bool senseKept = true;
    QELIResult result = 0;
    bool analyticReplacement = false;
    int outstandingArrays = 0; // handed out by the exporter and never given back
};

Imported importSurface(const TestModel& model, int index, bool faceSense, const Gk_Span& span = Gk_Span(),
                       const QELXMorph3D& morph = QELXMorph3D())
{
    qelx_test::TestDocument document(model);
    qelx_test::TestBRepExporter source(&document);
    QELXVelmSurfaceImporter importer(&source.geometry(), source.geometry().surfaceId(index), faceSense, span, morph,
                                     QELresfit, 0);
    Imported out;
    out.result = importer.ImportSurface();
    out.srf.reset(importer.GetSurface());
    out.map = importer.GetParamMap();
    out.senseKept = importer.IsSenseKept();
    out.analyticReplacement = importer.IsAnalyticReplacement();
    out.outstandingArrays = source.geometry().outstandingArrays();
    return out;
}

struct SurfaceCase {
    const char* what;
    std::function<int(TestModel&)> build;
    double tol; // relative, of the model's size
};

// A bicubic NURBS record; rational with weights that vary, closed in u
// (clamped with coincident end rows) or periodic in u (wrapped); an open one
// may have uniform knots that do not repeat at the ends in both directions.
int addNurbs(TestModel& m, bool rational, int uClosure, bool unclamped = false)
{
    const int nu = 6, nv = 5;
    std::vector<double> ctrl;
    std::vector<double> weights;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            double angle = uClosure ? 2 * kPi * (uClosure == 1 ? i / double(nu - 1) : i / double(nu - 3)) : i;
            const double r = 3.0 + 0.2 * j;
            if (uClosure)
                ctrl.insert(ctrl.end(), {r * std::cos(angle), r * std::sin(angle), 1.5 * j});
            else
                ctrl.insert(ctrl.end(), {1.0 * i, 1.2 * j, 0.3 * std::sin(i + 0.5 * j)});
            weights.push_back(rational ? 1.0 + 0.3 * ((i + j) % 3) : 1.0);
        }
    std::vector<double> uk;
    std::vector<int> um;
    if (uClosure == 2) {
        for (int k = 0; k < nu + 4; ++k) {
            uk.push_back(k);
            um.push_back(1);
        }
    } else if (unclamped) {
        for (int k = 0; k < nu + 4; ++k) {
            uk.push_back(0.5 * k - 1.0);
            um.push_back(1);
        }
    } else {
        uk = {0, 1, 2, 3};
        um = {4, 1, 1, 4};
    }
    std::vector<double> vk = {0, 1, 2};
    std::vector<int> vm = {4, 1, 4};
    if (unclamped) {
        vk = {-3, -2, -1, 0, 1, 2, 3, 4, 5};
        vm.assign(vk.size(), 1);
    }
    const int s = m.addNurbsSurface(3, 3, nu, nv, ctrl, uk, um, vk, vm, rational ? weights : std::vector<double>{});
    m.surfaces[s].uClosure = uClosure;
    return s;
}

const std::vector<SurfaceCase>& surfaceCases()
{
    static const std::vector<SurfaceCase> cases = {
        {"plane", [](TestModel& m) { return m.addPlane({1, 2, 3}, {0, 2, 0}, {1, 0, 0}); }, 1e-9},
        {"cylinder", [](TestModel& m) { return m.addCone({0, 0, 1}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0); }, 1e-9},
        {"cone", [](TestModel& m) { return m.addCone({0, 1, 0}, {0, 0, 1}, {0, 1, 0}, 3.0, 0.4); }, 1e-9},
        {"sphere", [](TestModel& m) { return m.addSphere({1, 1, 1}, 2.5); }, 1e-9},
        {"sphere in a tilted frame",
         [](TestModel& m) {
             const int s = m.addSphere({1, 2, 3}, 3.0);
             m.surfaces[s].d1 = {2.0 / 3, 2.0 / 3, 1.0 / 3};
             m.surfaces[s].d2 = {1.0 / 3, -2.0 / 3, 2.0 / 3};
             return s;
         },
         1e-9},
        {"ring torus", [](TestModel& m) { return m.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 4.0, 1.0, false); },
         1e-9},
        {"apple torus", [](TestModel& m) { return m.addTorus({0, 0, 0}, {0, 1, 0}, {0, 0, 1}, 1.0, 1.5, false); },
         1e-9},
        {"lemon torus", [](TestModel& m) { return m.addTorus({0, 0, 2}, {1, 0, 0}, {0, 0, 1}, 0.5, 1.0, true); },
         1e-9},
        {"open nurbs", [](TestModel& m) { return addNurbs(m, false, 0); }, 1e-9},
        {"rational nurbs", [](TestModel& m) { return addNurbs(m, true, 0); }, 1e-9},
        {"open nurbs with unclamped knots", [](TestModel& m) { return addNurbs(m, false, 0, true); }, 1e-9},
        {"rational nurbs with unclamped knots", [](TestModel& m) { return addNurbs(m, true, 0, true); }, 1e-9},
        {"closed nurbs", [](TestModel& m) { return addNurbs(m, false, 1); }, 1e-9},
        {"periodic nurbs", [](TestModel& m) { return addNurbs(m, false, 2); }, 1e-9},
        {"offset plane", [](TestModel& m) { return m.addOffset(m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), 0.5); },
         1e-9},
        {"offset nurbs", [](TestModel& m) { return m.addOffset(addNurbs(m, false, 0), -0.2); }, 1e-6},
        {"revolved line",
         [](TestModel& m) { return m.addRevolved(m.addLine({2, 0, 0}, {3, 0, 2}), {0, 0, 0}, {0, 0, 1}, 0, 2); },
         1e-9},
        {"extruded arc",
         [](TestModel& m) {
             return m.addExtruded(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0), {0, 1, 3}, 0, 2);
         },
         1e-9},
        {"plane with a slanted u vector", [](TestModel& m) { return m.addPlane({1, 0, -2}, {1, 1, 0.5}, {0, 0, 2}); },
         1e-9},
        {"clamped periodic nurbs",
         [](TestModel& m) {
             const int s = addNurbs(m, false, 1);
             m.surfaces[s].uClosure = 3;
             return s;
         },
         1e-9},
        {"offset over a reversed base",
         [](TestModel& m) {
             const int base = addNurbs(m, false, 0);
             m.surfaces[base].flag = false;
             return m.addOffset(base, 0.4);
         },
         1e-6},
        {"extruded from v = 1",
         [](TestModel& m) {
             return m.addExtruded(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0), {0, 1, 3}, 1, 2.5);
         },
         1e-9},
        {"extruded over a reversed profile",
         [](TestModel& m) {
             const int c = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0);
             m.reparametriseCurve(c, -1.0, 0.0);
             return m.addExtruded(c, {0, 1, 3}, 0.5, 2);
         },
         1e-9},
        {"revolved over a reversed profile",
         [](TestModel& m) {
             const int c = m.addLine({2, 0, 0}, {3, 0, 2});
             m.reparametriseCurve(c, -1.0, 0.0);
             return m.addRevolved(c, {0, 0, 0}, {0, 0, 1}, 0.5, 2);
         },
         1e-9},
        // The line carries its source parameters already: the profile's
        // shift and scale must not move the revolution a second time.
        {"revolved over a shifted profile",
         [](TestModel& m) {
             const int c = m.addLine({2, 0, 0}, {3, 0, 2});
             m.reparametriseCurve(c, 1.0, 0.7);
             return m.addRevolved(c, {0, 0, 0}, {0, 0, 1}, 0.5, 2);
         },
         1e-9},
        {"extruded over a shifted arc",
         [](TestModel& m) {
             const int c = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0);
             m.reparametriseCurve(c, 1.0, 0.6);
             return m.addExtruded(c, {0, 1, 3}, 0, 2);
         },
         1e-9},
        // An ellipse whose parameter runs at twice its angle, forwards and
        // backwards: the profile runs in the angle, through the map.
        {"extruded over a scaled and shifted arc",
         [](TestModel& m) {
             const int c = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0);
             m.reparametriseCurve(c, 2.0, 0.6);
             return m.addExtruded(c, {0, 1, 3}, 0, 2);
         },
         1e-9},
        {"extruded over a scaled reversed arc",
         [](TestModel& m) {
             const int c = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0);
             m.reparametriseCurve(c, -2.0, 0.3);
             return m.addExtruded(c, {0, 1, 3}, 0.5, 2);
         },
         1e-9},
        {"extruded over a shifted line",
         [](TestModel& m) {
             const int c = m.addLine({2, 0, 0}, {3, 1, 2});
             m.reparametriseCurve(c, 2.0, 0.8);
             return m.addExtruded(c, {0, 1, 3}, 0, 2);
         },
         1e-9},
        {"offset over an extruded base",
         [](TestModel& m) {
             return m.addOffset(
                 m.addExtruded(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 1.0, 0.0, 2.0), {0, 1, 3}, 0, 2),
                 0.3);
         },
         1e-6},
        {"revolved over a scaled and shifted profile",
         [](TestModel& m) {
             const int c = m.addLine({2, 0, 0}, {1, 1, 3});
             m.reparametriseCurve(c, 2.0, -0.4);
             return m.addRevolved(c, {0, 0, 0}, {0, 0, 1}, 0, 2);
         },
         1e-9},
    };
    return cases;
}

struct SurfaceMapCase {
    const char* what;
    double ua, uc, va, vc;
};

} // namespace

class SurfaceImport : public GeometryTest {};

// The kernel surface at the mapped parameters is the source surface, and a
// face keeps its outward side, whatever the source's parameterisation.
TEST_F(SurfaceImport, EveryKindMeetsTheSourceUnderEveryMapAndSense)
{
    const SurfaceMapCase maps[] = {{"identity", 1, 0, 1, 0}, {"reversed", -1, 0, 1, 0}, {"scaled and shifted", 2, 0.5, 2, 0.5}};
    for (const SurfaceCase& c : surfaceCases())
        for (const SurfaceMapCase& mc : maps)
            for (bool faceSense : {true, false}) {
                TestModel model;
                const int s = c.build(model);
                model.reparametriseSurface(s, mc.ua, mc.uc, mc.va, mc.vc);
                const Imported in = importSurface(model, s, faceSense);
                SCOPED_TRACE(std::string(c.what) + ", " + mc.what + (faceSense ? ", forward" : ", reversed"));
                ASSERT_TRUE(in.srf);
                const double* us = model.surfaces[s].uSpan;
                const double* vs = model.surfaces[s].vSpan;
                for (double fu : {0.2, 0.5, 0.8})
                    for (double fv : {0.25, 0.7}) {
                        // Framework parameters of a canonical point inside the span.
                        const double cu = us[0] + fu * (us[1] - us[0]), cv = vs[0] + fv * (vs[1] - vs[0]);
                        const QELXPoint2D uv((cu - mc.uc) / mc.ua, (cv - mc.vc) / mc.va);
                        const QELXPoint2D k = in.map.apply(uv);
                        const QELposition got = in.srf->eval_position(QELpar_pos(k.u(), k.v()));
                        const QELXPoint3D want = model.surfacePoint(s, uv.u(), uv.v());
                        EXPECT_LT(dist(want, got), c.tol * (1.0 + want.Length()));
                        const QELunit_vector n = in.srf->eval_normal(QELpar_pos(k.u(), k.v()));
                        const QELXPoint3D wantN = model.surfaceNormal(s, uv.u(), uv.v());
                        const double side = (wantN.x() * n.x() + wantN.y() * n.y() + wantN.z() * n.z()) *
                                            (in.senseKept ? 1 : -1) * (faceSense ? 1 : -1);
                        EXPECT_GT(side, 0.99);
                    }
            }
}

// What a surface kept of the source under a morph. A mirror turns
// the frames of the analytic kinds over, so only their point sets (unbounded:
// every moved point lies on them) are; spline nets, profiles and rails are
// moved point by point and keep the parameters too. A revolution's angle
// turns with the frame, so under a mirror it keeps its point set only. An
// offset keeps what its base keeps, on the moved side of the moved base.
enum class Kept { Parameters, PointSet };

Kept keptUnder(const std::string& what, bool mirror)
{
    if (!mirror)
        return Kept::Parameters;
    for (const char* analytic : {"plane", "plane with a slanted u vector", "cylinder", "cone", "sphere",
                                 "sphere in a tilted frame", "ring torus", "apple torus", "lemon torus"})
        if (what == analytic)
            return Kept::PointSet;
    if (what.find("revolved") == 0)
        return Kept::PointSet;
    return Kept::Parameters;
}

// Under a rotation with a scale and a move the kernel surface is the moved
// source at the mapped parameters, with the face's outward side kept. A
// mirror turns the analytic frames over: such a surface still holds every
// moved source point and its normals still lie along the moved ones; the
// others keep their parameters and the face's outward side as well.
TEST_F(SurfaceImport, EveryKindFollowsATiltedScaledAndMirroredMorph)
{
    for (bool mirror : {false, true})
        for (const SurfaceCase& c : surfaceCases())
            for (bool faceSense : {true, false}) {
                const QELXMorph3D morph = tiltedMorph(mirror);
                TestModel model;
                const int s = c.build(model);
                model.reparametriseSurface(s, -1, 0.5, 2, 0);
                // The face spans the source's span, in framework parameters.
                const double* su = model.surfaces[s].uSpan;
                const double* sv = model.surfaces[s].vSpan;
                const Gk_Span span(Gk_Domain(0.5 - su[1], 0.5 - su[0]), Gk_Domain(sv[0] / 2.0, sv[1] / 2.0));
                const Imported in = importSurface(model, s, faceSense, span, morph);
                SCOPED_TRACE(std::string(c.what) + (mirror ? ", mirrored" : "") + (faceSense ? ", forward" : ", reversed"));
                ASSERT_TRUE(in.srf);
                const Kept kept = keptUnder(c.what, mirror);
                const double* us = model.surfaces[s].uSpan;
                const double* vs = model.surfaces[s].vSpan;
                for (double fu : {0.2, 0.5, 0.8})
                    for (double fv : {0.25, 0.7}) {
                        const double cu = us[0] + fu * (us[1] - us[0]), cv = vs[0] + fv * (vs[1] - vs[0]);
                        const QELXPoint2D uv((cu - 0.5) / -1.0, cv / 2.0);
                        const QELXPoint3D want = morph.Apply(model.surfacePoint(s, uv.u(), uv.v()));
                        const double tol = c.tol * 2.5 * (1.0 + want.Length());
                        QELXPoint3D wantN = morph.Apply(model.surfaceNormal(s, uv.u(), uv.v()), true);
                        wantN.Normalize();
                        QELpar_pos at;
                        if (kept == Kept::PointSet) {
                            EXPECT_TRUE(in.srf->test_point_tol(QELposition(want.x(), want.y(), want.z()), tol,
                                                               nullptr, &at));
                        } else {
                            const QELXPoint2D k = in.map.apply(uv);
                            at = QELpar_pos(k.u(), k.v());
                            EXPECT_LT(dist(want, in.srf->eval_position(at)), tol);
                        }
                        const QELunit_vector n = in.srf->eval_normal(at);
                        const double along = wantN.x() * n.x() + wantN.y() * n.y() + wantN.z() * n.z();
                        if (kept == Kept::PointSet)
                            EXPECT_GT(std::fabs(along), 0.99);
                        else
                            EXPECT_GT(along * (in.senseKept ? 1 : -1) * (faceSense ? 1 : -1), 0.99);
                    }
            }
}

namespace {

// NURBS data of a model's surface, edited.
using NurbsEdit = std::function<void(qelx_test::TestSurface&)>;

} // namespace

TEST_F(SurfaceImport, BadNurbsDataGivesNoSurfaceAndLeaksNothing)
{
    const std::pair<const char*, NurbsEdit> edits[] = {
        {"not a number", [](qelx_test::TestSurface& s) { s.ctrl[4] = std::nan(""); }},
        {"infinite weight", [](qelx_test::TestSurface& s) { s.weights.assign(s.uCount * s.vCount, 1.0), s.weights[2] = INFINITY; }},
        {"degree above the count", [](qelx_test::TestSurface& s) { s.uDegree = s.uCount + 1; }},
        {"falling knots", [](qelx_test::TestSurface& s) { std::swap(s.uKnots[1], s.uKnots[2]); }},
        {"zero weight", [](qelx_test::TestSurface& s) { s.weights.assign(s.uCount * s.vCount, 1.0), s.weights[3] = 0.0; }},
        {"negative weight", [](qelx_test::TestSurface& s) { s.weights.assign(s.uCount * s.vCount, 1.0), s.weights[0] = -1.0; }},
        {"multiplicities that do not fit", [](qelx_test::TestSurface& s) { s.uMults[1] += 1; }},
    };
    for (const auto& [what, edit] : edits) {
        const long before = velm_live_object_count();
        TestModel model;
        const int s = addNurbs(model, false, 0);
        edit(model.surfaces[s]);
        const Imported in = importSurface(model, s, true);
        EXPECT_FALSE(in.srf) << what;
        EXPECT_NE(in.result, 0) << what;
        EXPECT_EQ(in.outstandingArrays, 0) << what;
        EXPECT_EQ(velm_live_object_count(), before) << what;
    }
}

// Random damage to good NURBS data: the importer makes a surface that
// evaluates to numbers, or none, and never crashes or leaks.
TEST_F(SurfaceImport, RandomNurbsDataNeverCrashes)
{
    std::mt19937 rng(20261207);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const double odd[] = {std::nan(""), INFINITY, -1.0, 0.0, -0.5, 2.5};
    const long before = velm_live_object_count();
    int made = 0;
    for (int round = 0; round < 60; ++round) {
        TestModel model;
        const int index = addNurbs(model, pick(2) == 1, pick(3));
        qelx_test::TestSurface& s = model.surfaces[index];
        for (int k = 0, n = 1 + pick(3); k < n; ++k) {
            switch (pick(7)) {
            case 0: s.ctrl[pick(static_cast<int>(s.ctrl.size()))] = odd[pick(6)]; break;
            case 1: (pick(2) ? s.uDegree : s.vDegree) += pick(5) - 2; break;
            case 2: (pick(2) ? s.uCount : s.vCount) += pick(3) - 1; break;
            case 3: s.uMults[pick(static_cast<int>(s.uMults.size()))] += pick(3) - 1; break;
            case 4: s.vKnots[pick(static_cast<int>(s.vKnots.size()))] = odd[pick(6)]; break;
            case 5: s.weights.assign(static_cast<std::size_t>(s.uCount) * std::max(0, s.vCount), odd[pick(6)]); break;
            default: s.uClosure = pick(4); break;
            }
        }
        // Counts may only shrink below the arrays the exporter hands out.
        s.uCount = std::min(s.uCount, 6);
        s.vCount = std::min(s.vCount, 5);
        const Imported in = importSurface(model, index, pick(2) == 1);
        EXPECT_EQ(in.outstandingArrays, 0);
        if (in.srf) {
            ++made;
            const QELposition p = in.srf->eval_position(in.srf->param_range().mid());
            EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()));
        }
    }
    EXPECT_GT(made, 0);
    EXPECT_LT(made, 60);
    EXPECT_EQ(velm_live_object_count(), before);
}

namespace {

// The kernel B-spline behind an imported spline surface.
bs3_surface splineOf(const Imported& in)
{
    return in.srf && in.srf->type() == 10 ? static_cast<const spline&>(*in.srf).sur() : nullptr;
}

bool reports(bs3_surface b, int status)
{
    check_fix input, result;
    check_status_list wanted(status);
    std::unique_ptr<check_status_list> found(bs3_surface_check(b, nullptr, input, result, &wanted));
    return found && found->contains(status);
}

// An open bicubic net of 6 x 5 points z = f(x, y); rows 1 to 3 made one
// when `fold` is set, which stops the surface along u = 1/3.
int addSheet(TestModel& m, double wave, bool fold)
{
    const int s = addNurbs(m, false, 0);
    auto& ctrl = m.surfaces[s].ctrl;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j)
            ctrl[3 * (i * 5 + j) + 2] = wave * std::sin(i + 0.5 * j);
    if (fold)
        for (int i = 2; i <= 3; ++i)
            for (int j = 0; j < 5; ++j)
                for (int c = 0; c < 3; ++c)
                    ctrl[3 * (i * 5 + j) + c] = ctrl[3 * (1 * 5 + j) + c];
    return s;
}

} // namespace

// Each repair road on otherwise good data: what the repaired surface shows.
TEST_F(SurfaceImport, RepairRoadsMendTheirFaultOnly)
{
    struct Road {
        const char* what;
        const char* option;
        std::function<int(TestModel&)> build;
        std::function<void(const Imported&)> check;
    };
    const Road roads[] = {
        {"coincident points left", nullptr,
         [](TestModel& m) { int s = addSheet(m, 0.3, false); m.coincideSurfaceControlPoints(s, 2, 1); return s; },
         [](const Imported& in) { EXPECT_TRUE(reports(splineOf(in), status_coincident_points)); }},
        {"coincident points spread", "FixCntrlPtCoincidence",
         [](TestModel& m) { int s = addSheet(m, 0.3, false); m.coincideSurfaceControlPoints(s, 2, 1); return s; },
         [](const Imported& in) { EXPECT_FALSE(reports(splineOf(in), status_coincident_points)); }},
        {"flat fold replaced by a plane", "FixSurfSelfIntxn", [](TestModel& m) { return addSheet(m, 0.0, true); },
         [](const Imported& in) {
             EXPECT_EQ(in.srf->type(), 1);
             EXPECT_TRUE(in.analyticReplacement);
         }},
        {"wavy fold rebuilt from iso-curves", "FixSurfSelfIntxn", [](TestModel& m) { return addSheet(m, 0.3, true); },
         [](const Imported& in) {
             EXPECT_FALSE(in.analyticReplacement);
             EXPECT_FALSE(Ve_SurfApproxUtil::isSurfIrregular(in.srf.get()));
         }},
        {"nearly collapsed row made a pole", nullptr,
         [](TestModel& m) {
             const int s = addSheet(m, 0.3, false);
             for (int j = 0; j < 5; ++j)
                 std::copy_n(std::vector<double>{1e-7 * j, 0, 0}.begin(), 3, m.surfaces[s].ctrl.begin() + 3 * j);
             return s;
         },
         [](const Imported& in) { EXPECT_TRUE(in.srf->singular_u(in.srf->param_range().u_range().start_pt())); }},
        // A fold rebuilt from iso-curves of the definition, whose first row
        // nearly collapses: the rebuilt surface keeps the exact pole.
        {"nearly collapsed row of a fold kept a pole by the rebuild", "FixSurfSelfIntxn",
         [](TestModel& m) {
             const int s = addSheet(m, 0.3, true);
             for (int j = 0; j < 5; ++j)
                 std::copy_n(std::vector<double>{6e-7 * j, 0, 0}.begin(), 3, m.surfaces[s].ctrl.begin() + 3 * j);
             return s;
         },
         [](const Imported& in) {
             EXPECT_FALSE(in.analyticReplacement);
             const QELpar_box box = in.srf->param_range();
             const double u = box.u_range().start_pt();
             const QELposition first = in.srf->eval_position(QELpar_pos(u, box.v_range().start_pt()));
             for (double f : {0.25, 0.5, 1.0})
                 EXPECT_LT(distance(in.srf->eval_position(QELpar_pos(u, box.v_range().interpolate(f))), first), 1e-12) << f;
         }},
    };
    // Resurfacing extends a spline to a face span beyond its range.
    {
        qelx_test::OptionScope options;
        options.set(Ve_OptionDoc::keyOf("DoSplineResurface"), QELXValue(2));
        options.on(Ve_OptionDoc::keyOf("HealBody"));
        TestModel model;
        const Gk_Span span(Gk_Domain(-0.5, 3.5), Gk_Domain(0.0, 2.0));
        const Imported in = importSurface(model, addSheet(model, 0.3, false), true, span);
        ASSERT_TRUE(in.srf);
        EXPECT_TRUE(in.srf->param_range() >> QELpar_box(QELinterval(-0.5, 3.5), QELinterval(0.0, 2.0)));
    }
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        qelx_test::OptionScope options;
        if (road.option)
            options.on(Ve_OptionDoc::keyOf(road.option));
        TestModel model;
        const Imported in = importSurface(model, road.build(model), true);
        ASSERT_TRUE(in.srf);
        road.check(in);
    }
}

TEST_F(SurfaceImport, SweptLinesBecomeAnalyticWhenAskedAndMissingProfilesGiveNothing)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("ApproximateSurf"));
    TestModel model;
    const int cone = model.addRevolved(model.addLine({2, 0, 0}, {3, 0, 2}), {0, 0, 0}, {0, 0, 1}, 0, 2);
    const int cylinder = model.addRevolved(model.addLine({2, 0, 0}, {2, 0, 3}), {0, 0, 0}, {0, 0, 1}, 0, 2);
    const int flat = model.addExtruded(model.addLine({0, 0, 0}, {2, 1, 0}), {0, 0, 3}, 0, 1);
    const std::pair<int, int> expected[] = {{cone, 2}, {cylinder, 2}, {flat, 1}};
    for (auto [s, kind] : expected) {
        const Imported in = importSurface(model, s, true);
        ASSERT_TRUE(in.srf);
        EXPECT_EQ(in.srf->type(), kind);
        // Parameters are the analytic surface's own: only the point set is kept.
        for (double f : {0.1, 0.6, 0.9}) {
            const double* us = model.surfaces[s].uSpan;
            const QELXPoint3D p = model.canonicalSurfacePoint(s, us[0] + f * (us[1] - us[0]), 0.7);
            EXPECT_TRUE(in.srf->test_point_tol(QELposition(p.x(), p.y(), p.z()), 1e-9));
        }
    }
    // A profile the curve importer cannot read gives no surface.
    const int unknown = model.addRevolved(model.addLine({2, 0, 0}, {3, 0, 2}), {0, 0, 0}, {0, 0, 1}, 0, 2);
    model.curves[model.surfaces[unknown].ref].type = qelx_test::CurvOther;
    EXPECT_FALSE(importSurface(model, unknown, true).srf);
}

namespace {

// A ring of 6 x 4 poles, closed round u (first and last rows equal) with a
// smooth seam or a corner at it, or wrapped (periodic knots); the same with u
// and v swapped when `inV`.
int addRing(TestModel& m, int closure, bool smoothSeam, bool inV)
{
    const int n = 6, k = 4;
    std::vector<std::array<double, 3>> round;
    if (closure == 2) {
        for (int i = 0; i < n; ++i)
            round.push_back({3.0 * std::cos(2 * kPi * i / (n - 3)), 3.0 * std::sin(2 * kPi * i / (n - 3)), 0.0});
    } else if (smoothSeam) {
        round = {{3, 0, 0}, {3, 3, 0}, {-3, 3, 0}, {-3, -3, 0}, {3, -3, 0}, {3, 0, 0}};
    } else {
        round = {{3, 0, 0}, {2, 3, 0}, {-3, 3, 0}, {-3, -3, 0}, {3, -2, 0}, {3, 0, 0}};
    }
    std::vector<double> ctrl(3 * n * k);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < k; ++j) {
            const int at = inV ? j * n + i : i * k + j;
            ctrl[3 * at] = round[i][0];
            ctrl[3 * at + 1] = round[i][1];
            ctrl[3 * at + 2] = 1.5 * j;
        }
    std::vector<double> rk;
    std::vector<int> rm;
    if (closure == 2) {
        for (int i = 0; i < n + 4; ++i) {
            rk.push_back(i);
            rm.push_back(1);
        }
    } else {
        rk = {0, 1, 2, 3};
        rm = {4, 1, 1, 4};
    }
    const std::vector<double> lk{0, 1};
    const std::vector<int> lm{4, 4};
    const int s = inV ? m.addNurbsSurface(3, 3, k, n, ctrl, lk, lm, rk, rm, {})
                      : m.addNurbsSurface(3, 3, n, k, ctrl, rk, rm, lk, lm, {});
    (inV ? m.surfaces[s].vClosure : m.surfaces[s].uClosure) = closure;
    return s;
}

} // namespace

// Closure codes: 1 closed, 2 periodic (wrapped), 3 periodic on clamped knots;
// a clamped ring is periodic only when its seam is smooth, closed otherwise.
TEST_F(SurfaceImport, ClosureCodesGiveClosedAndPeriodicSurfacesInEitherDirection)
{
    const struct {
        const char* what;
        int closure;
        bool smooth, closed, periodic;
    } cases[] = {
        {"closed with a corner", 1, false, true, false},
        {"wrapped", 2, true, true, true},
        {"clamped periodic, smooth seam", 3, true, true, true},
        {"clamped periodic, corner at the seam", 3, false, true, false},
    };
    for (bool inV : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (inV ? ", in v" : ", in u"));
            TestModel model;
            const int s = addRing(model, c.closure, c.smooth, inV);
            const Imported in = importSurface(model, s, true);
            ASSERT_TRUE(in.srf);
            EXPECT_EQ(inV ? in.srf->closed_v() : in.srf->closed_u(), c.closed);
            EXPECT_EQ(inV ? in.srf->periodic_v() : in.srf->periodic_u(), c.periodic);
            EXPECT_FALSE(inV ? in.srf->periodic_u() : in.srf->periodic_v());
            // The same point set, parameter for parameter.
            const double* us = model.surfaces[s].uSpan;
            const double* vs = model.surfaces[s].vSpan;
            for (double f : {0.1, 0.45, 0.9}) {
                const QELXPoint2D uv(us[0] + f * (us[1] - us[0]), vs[0] + (1 - f) * (vs[1] - vs[0]));
                const QELXPoint2D k = in.map.apply(uv);
                EXPECT_LT(dist(model.surfacePoint(s, uv.u(), uv.v()), in.srf->eval_position(QELpar_pos(k.u(), k.v()))),
                          1e-9);
            }
        }
}

// Rows of poles that nearly meet become one pole at whichever end they are.
TEST_F(SurfaceImport, NearlyCollapsedPoleRowsBecomePolesAtEachEnd)
{
    for (int end = 0; end < 4; ++end) {
        SCOPED_TRACE(end);
        TestModel model;
        const int s = addSheet(model, 0.3, false);
        auto& ctrl = model.surfaces[s].ctrl;
        const bool alongV = end >= 2, high = end % 2 == 1;
        const int nu = 6, nv = 5;
        const int row = high ? (alongV ? nv - 1 : nu - 1) : 0;
        const int across = alongV ? nu : nv;
        const double centre[3] = {2.0, 2.0, 1.0};
        for (int k = 0; k < across; ++k) {
            const int at = alongV ? k * nv + row : row * nv + k;
            for (int c = 0; c < 3; ++c)
                ctrl[3 * at + c] = centre[c] + 1e-7 * k * (c == 0);
        }
        const Imported in = importSurface(model, s, true);
        ASSERT_TRUE(in.srf);
        const QELpar_box box = in.srf->param_range();
        const double at = alongV ? (high ? box.v_range().end_pt() : box.v_range().start_pt())
                                 : (high ? box.u_range().end_pt() : box.u_range().start_pt());
        EXPECT_TRUE(alongV ? in.srf->singular_v(at) : in.srf->singular_u(at));
        // Every point of the pole row is the one pole.
        const QELinterval other = alongV ? box.u_range() : box.v_range();
        const QELposition first = in.srf->eval_position(alongV ? QELpar_pos(other.start_pt(), at) : QELpar_pos(at, other.start_pt()));
        for (double f : {0.3, 0.7, 1.0}) {
            const double o = other.interpolate(f);
            EXPECT_LT(distance(in.srf->eval_position(alongV ? QELpar_pos(o, at) : QELpar_pos(at, o)), first), 1e-12);
        }
    }
}

// Bad frames give no surface; a parameterisation with a zero scale is taken
// as none.
TEST_F(SurfaceImport, DegenerateFramesGiveNothingAndDegenerateMapsAreIgnored)
{
    TestModel model;
    const int alongNormal = model.addPlane({0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    const Imported none = importSurface(model, alongNormal, true);
    EXPECT_FALSE(none.srf);
    const int plane = model.addPlane({1, 2, 3}, {0, 2, 0}, {1, 0, 0});
    model.surfaces[plane].uA = 0.0;
    const Imported in = importSurface(model, plane, true);
    ASSERT_TRUE(in.srf);
    for (const QELXPoint2D uv : {QELXPoint2D(0.5, 0.25), QELXPoint2D(-2.0, 3.0)}) {
        const QELXPoint2D k = in.map.apply(uv);
        EXPECT_EQ(k.u(), uv.u());
    }
}

// With the cone-axis switch on, a cylinder's axis is turned round and a cone's
// is not; either way the surface is the source's.
TEST_F(SurfaceImport, ConeAxisSwitchTurnsCylindersOnly)
{
    for (bool on : {false, true}) {
        SCOPED_TRACE(on);
        qelx_test::OptionScope options;
        options.set(Ve_OptionDoc::keyOf("CheckConeAxisDirection"), QELXValue(on));
        TestModel model;
        const int cylinder = model.addCone({0, 0, 1}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0);
        const int conical = model.addCone({0, 1, 0}, {0, 0, 1}, {0, 1, 0}, 3.0, 0.4);
        for (int s : {cylinder, conical}) {
            const Imported in = importSurface(model, s, true);
            ASSERT_TRUE(in.srf);
            ASSERT_EQ(in.srf->type(), 2);
            const cone& made = static_cast<const cone&>(*in.srf);
            const double along = made.base.normal % QELunit_vector(0, s == cylinder ? 0 : 1, s == cylinder ? 1 : 0);
            EXPECT_NEAR(along, on && s == cylinder ? -1.0 : 1.0, 1e-12);
            for (double u : {0.0, 1.0})
                for (double v : {0.5, 2.0}) {
                    const QELXPoint3D p = model.surfacePoint(s, u, v);
                    EXPECT_TRUE(in.srf->test_point_tol(QELposition(p.x(), p.y(), p.z()), 1e-9));
                }
        }
    }
    // A reference direction slanted to the axis gives an elliptic section:
    // the minor axis (axis x major) over the major one.
    TestModel model;
    const Imported slanted = importSurface(model, model.addCone({0, 0, 1}, {1, 0, 1}, {0, 0, 1}, 2.0, 0.0), true);
    ASSERT_TRUE(slanted.srf);
    EXPECT_NEAR(static_cast<const cone&>(*slanted.srf).base.radius_ratio, std::sqrt(0.5), 1e-12);
}

// An extruded full circle over a span longer than its period covers one
// period, from the later of the circle's own start and the span's start.
TEST_F(SurfaceImport, ExtrudedCircleOverMoreThanAPeriodCoversOnePeriodFromTheLaterStart)
{
    for (double from : {-5.0, -2.0}) {
        SCOPED_TRACE(from);
        TestModel model;
        const int circle = model.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 2.0, -kPi, kPi);
        const int s = model.addExtruded(circle, {0, 0, 3}, 0, 1);
        const Gk_Span span(Gk_Domain(from, from + 10.0), Gk_Domain(0.0, 1.0));
        const Imported in = importSurface(model, s, true, span);
        ASSERT_TRUE(in.srf);
        const QELinterval u = in.srf->param_range().u_range();
        const double start = std::max(-kPi, from);
        EXPECT_NEAR(u.start_pt(), start, 1e-9);
        EXPECT_NEAR(u.end_pt(), start + 2 * kPi, 1e-9);
    }
}

// An offset whose base cannot be imported gives no surface, and leaves
// nothing alive behind.
TEST_F(SurfaceImport, AnOffsetOverABaseThatFailsGivesNoSurface)
{
    const long objects = velm_live_object_count();
    TestModel model;
    model.surfaces.emplace_back(); // a base of no kind the importer knows
    const int base = static_cast<int>(model.surfaces.size()) - 1;
    const int offset = model.addOffset(base, 0.5);
    {
        const Imported in = importSurface(model, offset, true);
        EXPECT_FALSE(in.srf);
        EXPECT_EQ(in.outstandingArrays, 0);
    }
    EXPECT_EQ(velm_live_object_count(), objects);
}
