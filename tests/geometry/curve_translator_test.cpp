// Framework curves into kernel curves through the translator and the edge
// curve creator.
#include <cmath>
#include <limits>

#include "geometry/curve_creator.hxx"
#include "geometry/curve_translator.hxx"
#include "geometry_fixtures.hxx"
#include "curve_import_fixtures.hxx"
#include "support/geometry_builders.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;
using namespace curvetest;

namespace {

class CurveTranslation : public GeometryTest {
protected:
    void SetUp() override
    {
        GeometryTest::SetUp();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        EXPECT_EQ(velm_live_object_count(), m_live);
        GeometryTest::TearDown();
    }
    long m_live = 0;
};

const Gk_LinMap kLinMaps[] = {Gk_LinMap(1.0, 0.0), Gk_LinMap(-1.0, 0.0), Gk_LinMap(2.0, 0.5)};

// Translates the framework curve over its domain (or the one given).
double translatedGap(const QELXCurve3DHandle& source, Gk_Domain domain, bool expectCurve = true)
{
    Ve_CurveTranslator translator(domain, 0.0, QELXMorph3D(), false);
    source->traverse(&translator);
    if (!translator.getCurve()) {
        EXPECT_FALSE(expectCurve);
        return std::numeric_limits<double>::infinity();
    }
    return worstGap(*translator.getCurve(), *source, domain) / sizeOf(*source, domain);
}

// The kernel curve at t against the moved source at t, relative to the moved size.
double movedTranslationGap(const QELXCurve3DHandle& source, Gk_Domain domain, const QELXMorph3D& morph)
{
    Ve_CurveTranslator translator(domain, 0.0, morph, false);
    source->traverse(&translator);
    if (!translator.getCurve())
        return std::numeric_limits<double>::infinity();
    double worst = 0.0, size = 1.0;
    for (int i = 0; i <= 24; ++i) {
        const double t = domain.low() + domain.length() * i / 24;
        const QELXPoint3D want = morph.Apply(source->eval(t, nullptr));
        const QELposition got = translator.getCurve()->eval_position(t);
        worst = std::max(worst, std::hypot(got.x() - want[0], got.y() - want[1], got.z() - want[2]));
        size = std::max(size, want.Length());
    }
    return worst / size;
}

} // namespace

TEST_F(CurveTranslation, EveryKindMeetsItsSourceUnderEveryMap)
{
    for (const Gk_LinMap& map : kLinMaps) {
        SCOPED_TRACE(testing::Message() << "map " << map.slope() << ", " << map.abscissa());
        const QELXBaseCurve3DHandle line = new QELXLine3D(QELXPoint3D(1, 2, 3), QELXPoint3D(0, 0, 2));
        EXPECT_LT(translatedGap(QELXCurve3D::Create(line, map), Gk_Domain(-1.0, 2.0)), 1e-12);
        for (const DefSpec& spec : definitionForms()) {
            SCOPED_TRACE(spec.name);
            const QELXCurve3DHandle source = QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)), map);
            EXPECT_LT(translatedGap(source, source->domain()), 1e-9);
        }
    }
    // Ellipses take a shift of the angle, not a scale or reversal.
    for (const Gk_LinMap& map : {Gk_LinMap(1.0, 0.0), Gk_LinMap(1.0, 0.7)}) {
        const QELXBaseCurve3DHandle ell = new QELXEllipse3D(
            QELXEllipseDef3D(QELXPoint3D(1, 0, 0), QELXPoint3D(0, 3, 0), QELXPoint3D(0, 0, 1)));
        EXPECT_LT(translatedGap(QELXCurve3D::Create(ell, map), Gk_Domain(-2.0, 2.0)), 1e-12);
    }
}

// Under a rotation with a scale and a move, mirrored or not, every kind is the
// moved source parameter for parameter.
TEST_F(CurveTranslation, EveryKindFollowsATiltedScaledAndMirroredMorph)
{
    for (bool mirror : {false, true}) {
        const QELXMorph3D morph = tiltedMorph(mirror);
        SCOPED_TRACE(mirror ? "mirrored" : "tilted");
        for (const Gk_LinMap& map : kLinMaps) {
            SCOPED_TRACE(testing::Message() << "map " << map.slope() << ", " << map.abscissa());
            const QELXBaseCurve3DHandle line = new QELXLine3D(QELXPoint3D(1, 2, 3), QELXPoint3D(0, 0, 2));
            EXPECT_LT(movedTranslationGap(QELXCurve3D::Create(line, map), Gk_Domain(-1.0, 2.0), morph), 1e-12);
            for (const DefSpec& spec : definitionForms()) {
                SCOPED_TRACE(spec.name);
                const QELXCurve3DHandle source = QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)), map);
                EXPECT_LT(movedTranslationGap(source, source->domain(), morph), 1e-9);
            }
        }
        // An ellipse whose axes are not the frame's, so a morph ignored
        // on any of centre, axis or normal shows.
        for (const Gk_LinMap& map : {Gk_LinMap(1.0, 0.0), Gk_LinMap(1.0, 0.7)}) {
            const QELXBaseCurve3DHandle ell = new QELXEllipse3D(
                QELXEllipseDef3D(QELXPoint3D(1, -2, 0.5), QELXPoint3D(0, 3, 1), QELXPoint3D(0.6, 0, 0)));
            EXPECT_LT(movedTranslationGap(QELXCurve3D::Create(ell, map), Gk_Domain(-2.0, 2.0), morph), 1e-12);
        }
    }
}

TEST_F(CurveTranslation, PeriodicDefinitionIsPeriodicOnlyWithASmoothSeam)
{
    for (const DefSpec& spec : definitionForms()) {
        if (!spec.periodic)
            continue;
        SCOPED_TRACE(spec.name);
        const QELXCurve3DHandle source = QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)));
        Gk_Domain domain = source->domain();
        Ve_CurveTranslator translator(domain, 0.0, QELXMorph3D(), false);
        source->traverse(&translator);
        ASSERT_NE(translator.getCurve(), nullptr);
        bs3_curve b = static_cast<intcurve*>(translator.getCurve())->cur();
        EXPECT_TRUE(bs3_curve_closed(b));
        EXPECT_EQ(bool(bs3_curve_periodic(b)), std::string(spec.name) != "closed");
    }
}

TEST_F(CurveTranslation, BadDataBuildsNoCurve)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<QELXPoint3D> pts{{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}};
    const std::vector<DefSpec> bad{
        {"one point", 1, {{0, 0, 0}}, {0, 0, 1}, {}, false},
        {"nan point", 3, {{0, 0, 0}, {1, nan, 0}, {2, 0, 0}, {3, 1, 0}}, {0, 0, 0, 0, 1, 1, 1, 1}, {}, false},
        {"infinite knot", 3, pts, {0, 0, 0, 0, inf, inf, inf, inf}, {}, false},
        {"falling knots", 3, pts, {0, 0, 0, 0, -1, -1, -1, -1}, {}, false},
        {"zero weight", 3, pts, {0, 0, 0, 0, 1, 1, 1, 1}, {1, 0, 1, 1}, false},
        {"negative weight", 3, pts, {0, 0, 0, 0, 1, 1, 1, 1}, {1, -2, 1, 1}, false},
        {"degree above count", 5, pts, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1}, {}, false},
        {"knots do not fit", 3, pts, {0, 0, 0, 0, 1, 1}, {}, false},
    };
    for (const DefSpec& spec : bad) {
        SCOPED_TRACE(spec.name);
        const QELXCurve3DHandle source = QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)));
        Gk_Domain domain(0.0, 1.0);
        Ve_CurveTranslator translator(domain, 0.0, QELXMorph3D(), false);
        source->traverse(&translator);
        EXPECT_EQ(translator.getCurve(), nullptr);
    }
}

TEST_F(CurveTranslation, CoincidentControlPointsAreSpreadKeepingTheParameterMap)
{
    qelx_test::OptionScope options;
    options.on("/XVelm/FixCntrlPtCoincidence");
    DefSpec spec = definitionForms()[0];
    spec.points[2] = spec.points[1];
    const QELXCurve3DHandle source = QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)), Gk_LinMap(2.0, 0.5));
    Gk_Domain domain = source->domain();
    Ve_CurveTranslator translator(domain, 0.0, QELXMorph3D(), false);
    source->traverse(&translator);
    ASSERT_NE(translator.getCurve(), nullptr);
    intcurve* built = static_cast<intcurve*>(translator.getCurve());
    check_status_list wanted(status_coincident_points);
    EXPECT_EQ(bs3_curve_check(built->cur(), built, &wanted), nullptr);
    // Still the source's parameter: only the two points moved, by a few QELresabs.
    EXPECT_TRUE(built->param_range() == QELinterval(domain.low(), domain.high()));
    EXPECT_LT(worstGap(*built, *source, domain), 10.0 * QELresabs);
}

TEST_F(CurveTranslation, CreatorFlipsTheEdgeForAReversingMapAndBuildsAnIntcurveOverItsFaces)
{
    qelx_test::OptionScope options;
    options.on("/XVelm/CreateIntCurve");
    BODY* box = testkit::make_plane_box();
    ENTITY_LIST edges;
    api_get_edges(box, edges);
    EDGE* edge = static_cast<EDGE*>(edges[0]);
    const QELposition a = edge->start_pos(), b = edge->end_pos();
    // The same segment as a degree-1 B-spline running from b to a.
    DefSpec spec{"segment", 1, {{b.x(), b.y(), b.z()}, {a.x(), a.y(), a.z()}}, {0, 0, 1, 1}, {}, false};
    const QELXCurve3DHandle source =
        QELXCurve3D::Create(new QELXBSplineCurve3D(makeDef(spec)), Gk_LinMap(-1.0 / distance(a, b), 1.0));
    Gk_Domain domain = source->domain();
    const sense_type before = edge->sense();
    {
        Ve_CurveCreator creator(reinterpret_cast<Ve_EdgeTag*>(edge), domain, QELXMorph3D(), false);
        source->traverse(&creator);
    }
    EXPECT_NE(edge->sense(), before);
    const curve& eq = edge->geometry()->equation();
    ASSERT_EQ(eq.type(), 11);
    const intcurve& ic = static_cast<const intcurve&>(eq);
    EXPECT_NE(ic.surf1(), nullptr);
    EXPECT_NE(ic.surf2(), nullptr);
    EXPECT_LT(edge_deviation(edge), QELresfit);
    std::string report;
    EXPECT_TRUE(velm_test_check_model(box, &report)) << report;
    api_del_entity(box);
}
