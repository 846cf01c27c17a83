// Curves and pcurves read from a source model through its geometry exporter.
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "curve_import_fixtures.hxx"
#include "geometry/curve_importer.hxx"
#include "geometry/pcurve_importer.hxx"
#include "geometry_fixtures.hxx"
#include "qelx/test_exporters.hxx"
#include "support/geometry_builders.hxx"
#include "velm/build.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;
using qelx_test::TestModel;
using qelx_test::TestNurbs;

namespace {

constexpr QELIResult kFailure = 0x1000001;

TestNurbs nurbsOf(const curvetest::DefSpec& s)
{
    TestNurbs n;
    n.degree = s.degree;
    n.count = static_cast<int>(s.points.size());
    for (const QELXPoint3D& p : s.points)
        n.ctrl.insert(n.ctrl.end(), {p[0], p[1], p[2]});
    n.weights = s.weights;
    for (double k : s.knots) {
        if (!n.knots.empty() && n.knots.back() == k) {
            ++n.mults.back();
        } else {
            n.knots.push_back(k);
            n.mults.push_back(1);
        }
    }
    n.form = s.periodic ? 2 : 0;
    return n;
}

// The model, its exporter and a leak watch on kernel objects and exporter arrays.
class SourceImport : public GeometryTest {
protected:
    void SetUp() override
    {
        GeometryTest::SetUp();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        m_exporter.reset();
        EXPECT_EQ(velm_live_object_count(), m_live);
        GeometryTest::TearDown();
    }
    qelx_test::TestGeometryExporter& exporter()
    {
        if (!m_exporter)
            m_exporter = std::make_unique<qelx_test::TestGeometryExporter>(nullptr, model, m_log, nullptr);
        return *m_exporter;
    }
    // Imports curve c as a free curve over its domain (limited to it when
    // asked). The kernel parameter is the importer's map of the source's, or
    // of its negation when the import reversed it: the identity but for an
    // ellipse whose parameter is not its angle. A limited curve runs over the
    // domain's image and no further.
    double freeImportGap(int c, bool expectCurve = true, const QELXMorph3D& morph = QELXMorph3D(),
                         bool limit = false)
    {
        const Gk_Domain domain(model.curves[c].domain[0], model.curves[c].domain[1]);
        QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), domain, QELresfit, morph, false, limit);
        EXPECT_EQ(importer.ImportCurve(), 0);
        EXPECT_EQ(exporter().outstandingArrays(), 0);
        if (!importer.GetCurve()) {
            EXPECT_FALSE(expectCurve);
            return std::numeric_limits<double>::infinity();
        }
        const double sign = importer.IsReversed() ? -1.0 : 1.0;
        const Gk_LinMap map = importer.GetParamMap();
        const curve& made = *importer.GetCurve();
        double worst = 0.0, size = 1.0;
        for (int i = 0; i <= 24; ++i) {
            const double t = domain.low() + domain.length() * i / 24;
            const QELXPoint3D s = morph.Apply(model.curvePoint(c, t));
            worst = std::max(worst, dist(s, made.eval_position(map(sign * t))));
            size = std::max(size, s.Length());
        }
        if (limit) {
            const double a = map(sign * domain.low()), b = map(sign * domain.high());
            const QELinterval range = made.param_range();
            worst = std::max(worst, std::fabs(range.start_pt() - std::min(a, b)) + std::fabs(range.end_pt() - std::max(a, b)));
        }
        return worst / size;
    }

    TestModel model;
    qelx_test::TestCallLog m_log;
    std::unique_ptr<qelx_test::TestGeometryExporter> m_exporter;
    long m_live = 0;
};

struct MapCase {
    double scale, offset;
};
const MapCase kMaps[] = {{1.0, 0.0}, {-1.0, 0.0}, {2.0, 0.5}, {1.0, 0.5}, {-2.0, 0.3}};

} // namespace

TEST_F(SourceImport, EveryCurveKindMeetsItsSourceUnderEveryMap)
{
    const std::vector<std::pair<std::string, QELXMorph3D>> morphs{
        {"identity", QELXMorph3D()}, {"tilted", tiltedMorph(false)}, {"mirrored", tiltedMorph(true)}};
    std::vector<std::pair<std::string, int>> curves{
        {"line", model.addLine({1, 2, 3}, {4, -2, 5})},
        {"circle", model.addEllipse({0, 0, 1}, {1, 0, 0}, {0, 0, 1}, 2.0, 2.0, 0.0, 5.0)},
        {"ellipse", model.addEllipse({1, 1, 0}, {0, 1, 0}, {1, 0, 0}, 3.0, 1.0, -1.0, 2.0)},
        {"large ellipse", model.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1e11, 5e10, 0.0, 1.0)},
        {"tiny arc", model.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1e-3, 1e-3, 0.0, 0.0005)},
    };
    for (const curvetest::DefSpec& spec : curvetest::definitionForms())
        curves.emplace_back(spec.name, model.addNurbsCurve(nurbsOf(spec)));
    // Open, with knots that do not repeat at its ends.
    const curvetest::DefSpec unclamped{"open unclamped", 3,
                                       {{0, 0, 0}, {1, 2, 0}, {3, 3, 1}, {4, 1, 2}, {6, 0, 1}, {7, 2, 0}},
                                       {-3, -2, -1, 0, 1, 2, 3, 4, 5, 6}, {}, false};
    curves.emplace_back(unclamped.name, model.addNurbsCurve(nurbsOf(unclamped)));
    // The kernel curve is the moved source, parameter for parameter through
    // the importer's map, under a rotation, a scale, a move and a mirror too;
    // limited, over the image of its domain.
    for (const auto& [morphName, morph] : morphs)
        for (const MapCase& map : kMaps) {
            for (auto& [name, c] : curves) {
                SCOPED_TRACE(testing::Message() << name << " map " << map.scale << ", " << map.offset << ", "
                                                << morphName);
                TestModel kept = model;
                model.reparametriseCurve(c, map.scale, map.offset);
                for (bool limit : {false, true}) {
                    SCOPED_TRACE(limit ? "limited" : "whole");
                    EXPECT_LT(freeImportGap(c, true, morph, limit), 1e-9);
                }
                model = kept;
            }
        }
}

TEST_F(SourceImport, EdgeImportPutsTheCurveOnTheEdgeAndAReversalOnItsSense)
{
    // The source line runs from b to a, in parameters from `shift`, under a
    // morph or none; the edge runs from a to b.
    for (bool tilted : {false, true})
        for (double shift : {0.0, 5.0}) {
            SCOPED_TRACE(testing::Message() << "shift " << shift << (tilted ? ", tilted" : ""));
            const QELXMorph3D morph = tilted ? tiltedMorph(true) : QELXMorph3D();
            QELXMorph3D back;
            ASSERT_EQ(morph.Invert(back), 0);
            BODY* box = testkit::make_plane_box();
            ENTITY_LIST edges;
            api_get_edges(box, edges);
            EDGE* edge = static_cast<EDGE*>(edges[0]);
            const QELposition a = edge->start_pos(), b = edge->end_pos();
            const QELXPoint3D sa = back.Apply(QELXPoint3D(a.x(), a.y(), a.z()));
            const QELXPoint3D sb = back.Apply(QELXPoint3D(b.x(), b.y(), b.z()));
            model.curves.clear();
            const int c = model.addLine({sb[0], sb[1], sb[2]}, {sa[0], sa[1], sa[2]});
            model.reparametriseCurve(c, 1.0, -shift);
            const double len = sb.Distance(sa);
            const sense_type before = edge->sense();
            QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), edge, false,
                                           Gk_Domain(shift, shift + len), morph, false);
            importer.ImportCurve();
            EXPECT_TRUE(importer.IsReversed());
            EXPECT_NE(edge->sense(), before);
            EXPECT_FALSE(importer.GetParamMap().isNegated());
            ASSERT_NE(edge->geometry(), nullptr);
            // The curve runs the source's way, in the source's parameter.
            EXPECT_LT(distance(edge->geometry()->equation().eval_position(shift), b), 1e-9);
            EXPECT_LT(distance(edge->geometry()->equation().eval_position(shift + len), a), 1e-9);
            // The reversed edge still starts at a.
            EXPECT_LT(distance(edge->start_pos(), a), 1e-9);
            api_del_entity(box);
            m_exporter.reset();
        }
}

// The edge's reversal failing (its backup cannot be allocated): the map is not
// turned round under it, so nothing backwards is built on the edge, which
// still runs from a to b.
TEST_F(SourceImport, AReversalTheEdgeCannotTakeBuildsNothingBackwards)
{
    BODY* box = testkit::make_plane_box();
    ENTITY_LIST edges;
    api_get_edges(box, edges);
    EDGE* edge = static_cast<EDGE*>(edges[0]);
    const QELposition a = edge->start_pos(), b = edge->end_pos();
    model.curves.clear();
    const int c = model.addLine({b.x(), b.y(), b.z()}, {a.x(), a.y(), a.z()});
    const sense_type before = edge->sense();
    QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), edge, false,
                                   Gk_Domain(0.0, distance(a, b)), QELXMorph3D(), false);
    velm_test_fail_alloc("topology.cpp", 1);
    importer.ImportCurve();
    EXPECT_FALSE(velm_test_injection_pending());
    velm_test_reset();
    EXPECT_EQ(edge->sense(), before);
    // The curve at the edge's ends (its range, on the curve, turned with the sense) meets a and b.
    ASSERT_NE(edge->geometry(), nullptr);
    const QELinterval range = edge->sense() == REVERSED ? -edge->param_range() : edge->param_range();
    const curve& on = edge->geometry()->equation();
    const bool forward = edge->sense() == FORWARD;
    EXPECT_LT(distance(on.eval_position(forward ? range.start_pt() : range.end_pt()), a), 1e-9);
    EXPECT_LT(distance(on.eval_position(forward ? range.end_pt() : range.start_pt()), b), 1e-9);
    api_del_entity(box);
    m_exporter.reset();
}

TEST_F(SourceImport, BadNurbsDataGivesNoCurveAndAFailure)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TestNurbs good = nurbsOf(curvetest::definitionForms()[0]);
    std::vector<std::pair<const char*, TestNurbs>> cases;
    auto add = [&](const char* name, auto edit) {
        TestNurbs n = good;
        edit(n);
        cases.emplace_back(name, n);
    };
    add("nan point", [&](TestNurbs& n) { n.ctrl[4] = nan; });
    add("infinite knot", [&](TestNurbs& n) { n.knots.back() = std::numeric_limits<double>::infinity(); });
    add("degree above count", [](TestNurbs& n) { n.degree = 9; });
    add("falling knots", [](TestNurbs& n) { n.knots[1] = -5.0; });
    add("zero weight", [](TestNurbs& n) { n.weights.assign(n.count, 1.0); n.weights[2] = 0.0; });
    add("negative weight", [](TestNurbs& n) { n.weights.assign(n.count, 1.0); n.weights[2] = -1.0; });
    add("multiplicities do not fit", [](TestNurbs& n) { n.mults[0] = 7; });
    add("negative multiplicity", [](TestNurbs& n) { n.mults[1] = -3; });
    add("one point", [](TestNurbs& n) { n = TestNurbs{1, 1, {0, 0, 0}, {}, {0, 1}, {1, 1}, 0}; });
    for (auto& [name, nurbs] : cases) {
        SCOPED_TRACE(name);
        model.curves.clear();
        model.curves.push_back(qelx_test::TestCurve{});
        model.curves[0].type = qelx_test::CurvNurbs;
        model.curves[0].nurbs = nurbs;
        QELXVelmCurveImporter importer(&exporter(), exporter().curveId(0), Gk_Domain(0.0, 1.0), QELresfit,
                                       QELXMorph3D(), false, false);
        EXPECT_EQ(importer.ImportBSpline(), kFailure);
        EXPECT_EQ(importer.GetCurve(), nullptr);
        EXPECT_EQ(exporter().outstandingArrays(), 0);
    }
    // A failing exporter passes its answer on.
    model.forceAnswer("GetNurbsCurveData", 0x100000b);
    QELXVelmCurveImporter importer(&exporter(), exporter().curveId(0), Gk_Domain(0.0, 1.0), QELresfit, QELXMorph3D(),
                                   false, false);
    EXPECT_EQ(importer.ImportBSpline(), QELIResult(0x100000b));
    EXPECT_EQ(importer.GetCurve(), nullptr);
}

TEST_F(SourceImport, PCurvesMeetTheirSourceThroughEveryMap)
{
    TestNurbs n;
    n.degree = 2;
    n.count = 4;
    n.ctrl = {0.1, 0.2, 0.5, 0.9, 1.2, 0.4, 1.6, 1.1};
    n.knots = {0.0, 1.0, 2.0};
    n.mults = {3, 1, 3};
    const int plain = model.addPCurve(n);
    n.weights = {1.0, 0.6, 1.7, 1.0};
    const int rational = model.addPCurve(n);
    const Gk_BiLinMap surfaceMap(Gk_LinMap(2.0, 1.0), Gk_LinMap(-1.0, 0.5), false);
    for (int p : {plain, rational})
    for (const MapCase& map : kMaps) {
        for (bool forward : {true, false}) {
            SCOPED_TRACE(testing::Message() << (p == rational ? "rational" : "plain") << " map " << map.scale << ", "
                                            << map.offset << " forward " << forward);
            model.pcurves[p].scale = map.scale;
            model.pcurves[p].offset = map.offset;
            // The source's own domain: the knots' range taken back through the map.
            const double t0 = (0.0 - map.offset) / map.scale, t1 = (2.0 - map.offset) / map.scale;
            QELXVelmPCurveImporter importer(&exporter(), exporter().pcurveId(p), surfaceMap,
                                            Gk_Domain(std::min(t0, t1), std::max(t0, t1)));
            QELXVelmPCurveImporter reversed(&exporter(), exporter().pcurveId(p), nullptr, surfaceMap,
                                            Gk_Domain(std::min(t0, t1), std::max(t0, t1)), false);
            QELXVelmPCurveImporter& used = forward ? importer : reversed;
            EXPECT_EQ(used.Import(), 0);
            bs2_curve made = used.GetBs2Curve();
            ASSERT_NE(made, nullptr);
            double worst = 0.0;
            for (int i = 0; i <= 16; ++i) {
                const double t = t0 + (t1 - t0) * i / 16;
                const QELXPoint2D want = surfaceMap.apply(model.pcurvePoint(p, t));
                QELpar_pos got;
                bs2_curve_eval(forward ? t : -t, made, got);
                worst = std::max(worst, std::hypot(got.u - want[0], got.v - want[1]));
            }
            EXPECT_LT(worst, 1e-12);
            bs2_curve_delete(made);
        }
    }
}

TEST_F(SourceImport, PCurveGoesOnACoedgeOfAFaceAndNowhereElse)
{
    BODY* box = testkit::make_plane_box();
    COEDGE* onFace = box->lump()->shell()->face()->loop()->start();
    const int p = model.addLinePCurve(QELXPoint2D(0, 0), QELXPoint2D(1, 0), 0.0, 10.0);
    QELXVelmPCurveImporter importer(&exporter(), exporter().pcurveId(p), onFace, Gk_BiLinMap(), Gk_Domain(0.0, 10.0),
                                    true);
    EXPECT_EQ(importer.ImportPCurve(), 0);
    ASSERT_NE(onFace->geometry(), nullptr);
    EXPECT_EQ(importer.GetBs2Curve(), nullptr);
    // A coedge without a face: failure, nothing attached, nothing left over.
    COEDGE* loose = new COEDGE(onFace->edge(), FORWARD);
    QELXVelmPCurveImporter lost(&exporter(), exporter().pcurveId(p), loose, Gk_BiLinMap(), Gk_Domain(0.0, 10.0), true);
    EXPECT_EQ(lost.ImportPCurve(), kFailure);
    EXPECT_EQ(loose->geometry(), nullptr);
    loose->lose();
    api_del_entity(box);
}

// An exporter that refuses the NURBS data of a pcurve, with its arrays
// written or not: the refusal is passed on, every array goes back, and the
// coedge keeps what it had.
TEST_F(SourceImport, RefusedNurbsPCurveDataIsPassedOnAndAttachesNothing)
{
    TestNurbs n;
    n.degree = 2;
    n.count = 3;
    n.ctrl = {0.0, 0.0, 0.5, 0.2, 1.0, 0.0};
    n.knots = {0.0, 10.0};
    n.mults = {3, 3};
    const int p = model.addPCurve(n);
    for (bool written : {false, true}) {
        SCOPED_TRACE(written ? "arrays written" : "arrays unwritten");
        BODY* box = testkit::make_plane_box();
        COEDGE* onFace = box->lump()->shell()->face()->loop()->start();
        const PCURVE* before = onFace->geometry();
        model.forceAnswer("GetNurbsPCurveData", 0x100000b, !written);
        for (bool onCoedge : {true, false}) {
            QELXVelmPCurveImporter importer(&exporter(), exporter().pcurveId(p), onCoedge ? onFace : nullptr,
                                            Gk_BiLinMap(), Gk_Domain(0.0, 10.0), true);
            EXPECT_EQ(importer.ImportPCurve(), QELIResult(0x100000b));
            EXPECT_EQ(importer.GetBs2Curve(), nullptr);
            EXPECT_EQ(exporter().outstandingArrays(), 0);
        }
        EXPECT_EQ(onFace->geometry(), before);
        model.overrides.clear();
        api_del_entity(box);
        m_exporter.reset();
    }
}

TEST_F(SourceImport, RandomDataNeverCrashesOrLeaks)
{
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    std::uniform_int_distribution<int> small(-1, 7);
    // Mostly well-formed layouts with one fault thrown in half of the time,
    // so the builders run as often as the refusals.
    auto randomNurbs = [&](int dim) {
        TestNurbs n;
        n.degree = 1 + static_cast<int>(rng() % 5);
        n.count = n.degree + 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < dim * n.count; ++i)
            n.ctrl.push_back(value(rng));
        if (rng() % 3 == 0)
            for (int i = 0; i < n.count; ++i)
                n.weights.push_back(0.5 + std::abs(value(rng)));
        const int interior = n.count - n.degree - 1;
        n.knots.push_back(value(rng));
        n.mults.push_back(n.degree + 1);
        for (int i = 0; i <= interior; ++i) {
            n.knots.push_back(n.knots.back() + 0.1 + std::abs(value(rng)));
            n.mults.push_back(i == interior ? n.degree + 1 : 1);
        }
        n.form = static_cast<int>(rng() % 4);
        switch (rng() % 10) {
        case 0: n.ctrl[rng() % n.ctrl.size()] = std::numeric_limits<double>::quiet_NaN(); break;
        case 1: n.ctrl[rng() % n.ctrl.size()] = std::numeric_limits<double>::infinity(); break;
        case 2: n.knots[rng() % n.knots.size()] = -100.0; break;
        case 3: n.mults[rng() % n.mults.size()] += small(rng); break;
        case 4: if (!n.weights.empty()) n.weights[rng() % n.weights.size()] = -value(rng) * value(rng); break;
        case 5: n.degree += small(rng); break;
        default: break;
        }
        return n;
    };
    int built = 0;
    for (int round = 0; round < 300; ++round) {
        model.curves.clear();
        model.pcurves.clear();
        model.addNurbsCurve(randomNurbs(3));
        model.pcurves.push_back(qelx_test::TestPCurve{});
        model.pcurves[0].nurbs = randomNurbs(2);
        {
            QELXVelmCurveImporter importer(&exporter(), exporter().curveId(0), Gk_Domain(0.0, 1.0), QELresfit,
                                           QELXMorph3D(), false, true);
            importer.ImportCurve();
            if (curve* c = importer.GetCurve()) {
                ++built;
                const QELposition p = c->eval_position(c->param_range().mid_pt());
                EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()));
            }
        }
        QELXVelmPCurveImporter pimporter(&exporter(), exporter().pcurveId(0), Gk_BiLinMap(), Gk_Domain(0.0, 1.0));
        pimporter.Import();
        if (bs2_curve b = pimporter.GetBs2Curve())
            bs2_curve_delete(b);
        ASSERT_EQ(exporter().outstandingArrays(), 0) << "round " << round;
    }
    // The loop exercised the builders, not only the refusals.
    EXPECT_GT(built, 100);
}

namespace {

// The repair a switch turns on, seen on the imported curve: the coincident
// points spread, the corner smoothed, the closed spline made periodic. The
// faults come from the source model's editors where it has one.
struct RepairRoad {
    const char* option;
    curvetest::DefSpec source;
    void (*fault)(TestModel&, int);
    bool (*repaired)(const intcurve&);
};

bool noCoincidentPoints(const intcurve& ic)
{
    check_status_list wanted(status_coincident_points);
    check_status_list* found = bs3_curve_check(ic.cur(), &ic, &wanted);
    delete found;
    return found == nullptr;
}

bool smoothAtTheMiddle(const intcurve& ic)
{
    QELposition p;
    QELvector before, after;
    const double mid = bs3_curve_range(ic.cur()).mid_pt();
    bs3_curve_eval(mid, ic.cur(), p, &before, nullptr, -1);
    bs3_curve_eval(mid, ic.cur(), p, &after, nullptr, 1);
    return (before * after).len() <= 1e-9 * before.len() * after.len() && before % after > 0.0;
}

bool periodic(const intcurve& ic)
{
    return bs3_curve_periodic(ic.cur());
}

} // namespace

TEST_F(SourceImport, EachRepairRoadRunsOnlyWithItsSwitch)
{
    const curvetest::DefSpec smooth = curvetest::definitionForms()[0];
    const std::vector<RepairRoad> roads{
        {"/XVelm/FixCntrlPtCoincidence", smooth, [](TestModel& m, int c) { m.coincideControlPoints(c, 1); },
         noCoincidentPoints},
        {"/XVelm/CheckAndFixG13dCrv", smooth, [](TestModel& m, int c) { m.kinkCurve(c, 0.5); }, smoothAtTheMiddle},
        // A closed spline with a corner at its seam and legs of equal speed there.
        {"/XVelm/MakeBs3CrvPeriodic",
         {"closed", 3, {{0, 0, 0}, {4, 0, 0}, {5, 4, 0}, {1, 5, 1}, {0, 4, 0}, {0, 0, 0}}, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3},
          {}, true},
         [](TestModel&, int) {}, periodic},
    };
    for (const RepairRoad& road : roads) {
        for (bool on : {false, true}) {
            SCOPED_TRACE(testing::Message() << road.option << " " << on);
            qelx_test::OptionScope options;
            options.set(road.option, QELXValue(on));
            options.set("/XVelm/LinearityTolforG1", QELXValue(1e-3));
            model.curves.clear();
            const int c = model.addNurbsCurve(nurbsOf(road.source));
            road.fault(model, c);
            // A closed edge whose domain runs past the curve's range.
            VERTEX* v = new VERTEX(new APOINT(QELposition()));
            EDGE* edge = new EDGE(v, v, nullptr, FORWARD);
            {
                QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), edge, true,
                                               Gk_Domain(0.0, model.curves[c].domain[1] + 0.5), QELXMorph3D(), false);
                importer.ImportCurve();
                ASSERT_NE(importer.GetCurve(), nullptr);
                ASSERT_EQ(importer.GetCurve()->type(), 11);
                EXPECT_EQ(road.repaired(*static_cast<intcurve*>(importer.GetCurve())), on);
            }
            edge->lose();
            v->lose();
        }
    }
}

TEST_F(SourceImport, EllipsesOnEdgesBecomeSplinesOnlyWhenHugeOrTiny)
{
    struct Case {
        const char* name;
        double radius, t1;
        bool spline;
    };
    const Case cases[] = {{"huge", 1e11, 1.0, true},
                          {"ordinary", 2.0, 1.0, false},
                          {"tiny arc", 1e-3, 0.0005, true},
                          {"short arc", 1e-3, 0.0007, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        model.curves.clear();
        const int c = model.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, k.radius, k.radius, 0.0, k.t1);
        VERTEX* v = new VERTEX(new APOINT(QELposition(k.radius, 0.0, 0.0)));
        EDGE* edge = new EDGE(v, v, nullptr, FORWARD);
        {
            QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), edge, true, Gk_Domain(0.0, k.t1),
                                           QELXMorph3D(), false);
            importer.ImportCurve();
            ASSERT_NE(importer.GetCurve(), nullptr);
            EXPECT_EQ(importer.GetCurve()->type(), k.spline ? 11 : 2);
            // Either way the curve ends where the source does.
            const QELinterval r = k.spline ? importer.GetCurve()->param_range() : QELinterval(0.0, k.t1);
            EXPECT_LT(dist(model.curvePoint(c, k.t1), importer.GetCurve()->eval_position(r.end_pt())),
                      1e-9 * k.radius);
        }
        edge->lose();
        v->lose();
    }
}

TEST_F(SourceImport, PCurveWithCoincidentPointsIsRebuiltInTheSourceParameter)
{
    qelx_test::OptionScope options;
    options.on("/XVelm/FixCtrlPtCoinOfPCurve");
    TestNurbs n;
    n.degree = 2;
    n.count = 5;
    n.ctrl = {0.0, 0.0, 0.5, 0.5, 1.0, 0.2, 1.5, 0.8, 2.0, 0.0};
    n.knots = {0.0, 1.0, 2.0, 3.0};
    n.mults = {3, 1, 1, 3};
    const int p = model.addPCurve(n);
    model.coincidePCurveControlPoints(p, 1);
    model.pcurves[p].scale = 2.0;
    model.pcurves[p].offset = 0.5;
    QELXVelmPCurveImporter importer(&exporter(), exporter().pcurveId(p), Gk_BiLinMap(), Gk_Domain(-0.25, 1.25));
    EXPECT_EQ(importer.Import(), 0);
    bs2_curve made = importer.GetBs2Curve();
    ASSERT_NE(made, nullptr);
    // Canonical [0, 3] is source [-0.25, 1.25]; the two points were pulled
    // apart by a fraction of QELresabs, as the repair asks.
    EXPECT_TRUE(bs2_curve_range(made) == QELinterval(-0.25, 1.25));
    int dim = 0, degree = 0, rational = 0, count = 0, knotCount = 0;
    QELposition* pts = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs2_curve_to_array(made, dim, degree, rational, count, pts, weights, knotCount, knots);
    ASSERT_EQ(count, 5);
    const double gap = distance(pts[1], pts[2]);
    EXPECT_GT(gap, 0.0);
    EXPECT_LT(gap, QELresabs);
    delete[] pts;
    delete[] weights;
    delete[] knots;
    bs2_curve_delete(made);
}

// A periodic definition on clamped knots is periodic when its seam is smooth
// and closed when it has a corner there; on wrapped knots it is periodic.
TEST_F(SourceImport, CurveClosureFollowsTheSeam)
{
    const std::map<std::string, std::pair<bool, bool>> expected{// closed, periodic
                                                                {"open", {false, false}},
                                                                {"rational", {false, false}},
                                                                {"closed", {true, false}},
                                                                {"periodic clamped", {true, true}},
                                                                {"periodic wrapped", {true, true}}};
    for (const curvetest::DefSpec& spec : curvetest::definitionForms()) {
        SCOPED_TRACE(spec.name);
        model.curves.clear();
        const int c = model.addNurbsCurve(nurbsOf(spec));
        const Gk_Domain domain(model.curves[c].domain[0], model.curves[c].domain[1]);
        QELXVelmCurveImporter importer(&exporter(), exporter().curveId(c), domain, QELresfit, QELXMorph3D(), false,
                                       false);
        importer.ImportCurve();
        ASSERT_NE(importer.GetCurve(), nullptr);
        ASSERT_EQ(importer.GetCurve()->type(), 11);
        const bs3_curve b = static_cast<const intcurve*>(importer.GetCurve())->cur();
        EXPECT_EQ(bs3_curve_closed(b) != 0, expected.at(spec.name).first);
        EXPECT_EQ(bs3_curve_periodic(b) != 0, expected.at(spec.name).second);
        m_exporter.reset();
    }
}

// A pcurve of form code 3 (periodic on clamped knots, smooth at the seam) is
// built periodic, in the source's parameters; one of form code 1 is not.
TEST_F(SourceImport, PeriodicPCurveStaysPeriodic)
{
    for (int form : {1, 3}) {
        SCOPED_TRACE(form);
        TestNurbs n;
        n.degree = 2;
        n.count = 6;
        n.ctrl = {1.5, 1.0, 1.5, 1.5, 0.5, 1.5, 0.5, 0.5, 1.5, 0.5, 1.5, 1.0};
        n.knots = {0, 1, 2, 3, 4};
        n.mults = {3, 1, 1, 1, 3};
        n.form = form;
        model.pcurves.clear();
        const int p = model.addPCurve(n);
        QELXVelmPCurveImporter importer(&exporter(), exporter().pcurveId(p), Gk_BiLinMap(), Gk_Domain(0.0, 4.0));
        EXPECT_EQ(importer.Import(), 0);
        bs2_curve made = importer.GetBs2Curve();
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(bs2_curve_periodic(made) != 0, form == 3);
        for (int i = 0; i <= 8; ++i) {
            const double t = 4.0 * i / 8;
            const QELXPoint2D want = model.pcurvePoint(p, t);
            QELpar_pos got;
            bs2_curve_eval(t, made, got);
            EXPECT_LT(std::hypot(got.u - want[0], got.v - want[1]), 1e-12);
        }
        bs2_curve_delete(made);
        m_exporter.reset();
    }
}

// Importing a spline onto an edge whose pcurve runs on past it on the
// edge's own parameter (as a file's may, to its surface's edge) cuts the
// pcurve to the edge, with an intcurve over the face made or not; it is
// never squeezed onto the edge.
TEST_F(SourceImport, EdgeImportCutsAPCurveRunningPastItsEdgeInEveryFrame)
{
    for (bool intcurves : {true, false}) {
        for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
            SCOPED_TRACE(testing::Message() << frame.name << (intcurves ? ", intcurves made" : ""));
            qelx_test::OptionScope options;
            options.set("/XVelm/CreateIntCurve", QELXValue(intcurves));
            BODY* sheet = testkit::make_spline_sheet_split(0.6);
            ASSERT_TRUE(api_apply_transf(sheet, frame.transform).ok());
            ASSERT_TRUE(api_change_body_trans(sheet).ok());
            COEDGE* c = sheet->lump()->shell()->face()->loop()->start();
            EDGE* edge = c->edge();
            // The edge's straight iso-line as the source's cubic over [0, 1].
            const QELposition a = edge->start_pos();
            const QELvector step = (1.0 / (3.0 * 0.6)) * (edge->end_pos() - a);
            TestNurbs line{3, 4, {}, {}, {0.0, 1.0}, {4, 4}, 0};
            for (int k = 0; k < 4; ++k) {
                const QELposition p = a + k * step;
                line.ctrl.insert(line.ctrl.end(), {p.x(), p.y(), p.z()});
            }
            model.curves.clear();
            const int curve = model.addNurbsCurve(line);
            QELXVelmCurveImporter importer(&exporter(), exporter().curveId(curve), edge, true, Gk_Domain(0.0, 0.6),
                                           QELXMorph3D(), false);
            EXPECT_EQ(importer.ImportCurve(), 0);
            EXPECT_EQ(edge->geometry()->equation().type() == 11 &&
                          static_cast<const intcurve&>(edge->geometry()->equation()).surf1() != nullptr,
                      intcurves);
            EXPECT_TRUE(c->geometry()->def().param_range() == c->param_range());
            EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
            api_del_entity(sheet);
            m_exporter.reset();
        }
    }
}
