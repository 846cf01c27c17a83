// Kernel errors meet the views and adapters and go no further: bare geometry
// is asserted, running out of kernel memory ends the conversion, and the use
// counts of a null view are left alone.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "geometry/curve_adapters.hxx"
#include "geometry/pcurve_view.hxx"
#include "geometry/surface_adapter.hxx"
#include "geometry/spline_curve_build.hxx"
#include "geometry_fixtures.hxx"
#include "model/kernel_call_bracket.hxx"
#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;

namespace {

class KernelErrors : public GeometryTest {};

// Operations that read an equation, each on geometry that has none.
TEST_F(KernelErrors, BareGeometryIsAssertedThroughEveryAdapterCall)
{
    Held<CURVE> bareCurve(new CURVE);
    Held<SURFACE> bareSurface(new SURFACE);
    const Ve_BaseCurve curve(Ve_CurveTag::view(bareCurve.get()), Gk_Domain(0.0, 1.0));
    const Ve_BaseSurface surface(Ve_SurfaceTag::view(bareSurface.get()), Gk_Span());
    QELXBox3D box;
    const struct {
        const char* what;
        std::function<void()> call;
    } calls[] = {
        {"curve eval", [&] { QELXCurveDerivatives3D d(3); curve.eval(0.5, &d); }},
        {"curve invert", [&] { curve.invert(QELXPoint3D(1, 2, 3), nullptr); }},
        {"curve length", [&] { EXPECT_EQ(curve.length(Gk_Domain(0.0, 1.0)), 0.0); }},
        {"curve box", [&] { curve.GetBoundingBox(Gk_Domain(0.0, 1.0), box); }},
        {"curve copy", [&] { EXPECT_EQ(Ve_CurveTag::view(bareCurve.get())->copy(), nullptr); }},
        {"surface eval", [&] { surface.eval(QELXPoint2D(0.5, 0.5), nullptr); }},
        {"surface invert", [&] { surface.invert(QELXPoint3D(1, 2, 3), nullptr); }},
        {"surface box", [&] { surface.GetBoundingBox(Gk_Span(), box); }},
        {"surface net", [&] {
             Gk_SurfApproxInfoHandle info;
             EXPECT_TRUE(surface.bspline(Gk_Span(Gk_Domain(0, 1), Gk_Domain(0, 1)), nullptr, &info).isEmpty());
         }},
        {"surface copy", [&] { EXPECT_EQ(Ve_SurfaceTag::view(bareSurface.get())->copy(), nullptr); }},
    };
    for (const auto& c : calls) {
        qelx_test::AssertRecorder asserts;
        EXPECT_NO_THROW(c.call()) << c.what;
        EXPECT_EQ(asserts.count(), 1) << c.what;
    }
    // Queries with an answer for geometry without equation answer quietly.
    qelx_test::AssertRecorder asserts;
    EXPECT_TRUE(surface.IsRightHandedUV());
    EXPECT_EQ(surface.uPrincipalRange().high(), 0.0);
    EXPECT_EQ(curve.principalRange().high(), 0.0);
    EXPECT_EQ(asserts.count(), 0);
}

// Out of kernel memory is not an empty curve: the framework's own exception.
TEST_F(KernelErrors, OutOfMemoryInBSplineExportEndsTheConversion)
{
    Held<CURVE> line(make_curve(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0))));
    const long objects = velm_live_object_count();
    velm_test_fail_alloc_after(1);
    EXPECT_THROW(Ve_CurveTag::view(line.get())->bspline(Gk_Domain(0.0, 2.0), 0.0, nullptr), QELXAllocException);
    EXPECT_EQ(velm_live_object_count(), objects);
}

// The pcurve's own copy must not strand its 2-D B-spline when the surface
// copy after it fails.
TEST_F(KernelErrors, FailedPCurveCopyKeepsNothing)
{
    const plane p(QELposition(0, 0, 0), QELunit_vector(0, 0, 1));
    Held<PCURVE> pc(new PCURVE(pcurve(quadraticPCurve(), 0.0, p)));
    const long objects = velm_live_object_count();
    velm_test_fail_alloc("geometry.hxx", 1);
    EXPECT_THROW(Ve_PCurveTag::view(pc.get())->copy(), QELXAllocException);
    EXPECT_EQ(velm_live_object_count(), objects);
}

// A null view the compiler cannot see through.
template <class View>
View* nullView()
{
    static View* volatile none = nullptr;
    return none;
}

// Calls through a null view, out of reach of the sanitizer's own check of
// `this`: the operations must not touch the entity that is not there.
__attribute__((no_sanitize("undefined"), noinline)) double touchNullViews()
{
    nullView<Ve_SurfaceTag>()->raiseRef();
    nullView<Ve_SurfaceTag>()->lowerRef();
    nullView<Ve_CurveTag>()->raiseRef();
    nullView<Ve_CurveTag>()->lowerRef();
    nullView<Ve_PCurveTag>()->raiseRef();
    nullView<Ve_PCurveTag>()->lowerRef();
    return nullView<Ve_CurveTag>()->length(Gk_Domain(0.0, 1.0));
}

TEST_F(KernelErrors, NullViewsKeepNoUsesAndHaveNoLength)
{
    EXPECT_EQ(touchNullViews(), 0.0);
}

} // namespace

namespace {

// A degree-1 spline through the points, clamped over [0, n - 1].
bs3_curve polylineSpline(const std::vector<QELposition>& points)
{
    std::vector<double> knots{0.0};
    for (std::size_t i = 0; i < points.size(); ++i)
        knots.push_back(static_cast<double>(i));
    knots.push_back(static_cast<double>(points.size() - 1));
    return bs3_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(points.size()), points.data(), nullptr, QELresabs,
                                  static_cast<int>(knots.size()), knots.data(), 1e-10);
}

} // namespace

// The curve import's guarded questions and moves, under a failure at every
// kernel allocation in turn: each either raises (its caller's bracket takes
// back what was done) or does what it does undisturbed. Before, the check of
// coincident control points answered "none" when it could not run (a spline
// the fix rebuilds kept in silence), and the snap of a closed edge's ends
// moved each end in a bracket of its own, so that one end could be left
// where it was while the other moved.
TEST_F(KernelErrors, CurveImportChecksAndSnapsRaiseOrRunWhole)
{
    std::mt19937 random(40);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Coincident control points: asked before any failure, then under each.
        std::vector<QELposition> points;
        for (int i = 0; i < 4; ++i)
            points.emplace_back(10 * unit(random), 10 * unit(random), 10 * unit(random));
        points.insert(points.begin() + 1 + round % 3, points[static_cast<std::size_t>(round % 3)]);
        bs3_curve spline = polylineSpline(points);
        ASSERT_NE(spline, nullptr);
        ASSERT_TRUE(ve_spline_curve::hasCoincidentControlPoints(spline, nullptr));
        for (long n = 1;; ++n) {
            velm_test_fail_alloc(nullptr, n);
            bool coincident = false;
            const outcome asked = velmCall([&] { coincident = ve_spline_curve::hasCoincidentControlPoints(spline, nullptr); });
            const bool fired = !velm_test_injection_pending();
            velm_test_reset();
            EXPECT_TRUE(!asked.ok() || coincident) << "allocation " << n << ": answered \"none\" in silence";
            if (!fired)
                break;
        }
        bs3_curve_delete(spline);

        // A closed circle whose two ends are vertices of their own, each a
        // little off the circle's start in a seeded direction.
        for (long n = 1;; ++n) {
            BODY* wire = testkit::make_circle_wire();
            ENTITY_LIST edges;
            ASSERT_TRUE(api_get_edges(wire, edges).ok());
            auto* edge = static_cast<EDGE*>(edges[0]);
            const QELinterval range = edge->param_range();
            const QELposition at = edge->geometry()->equation().eval_position(range.start_pt());
            auto* end = new VERTEX(new APOINT(at));
            edge->set_end(end);
            end->set_edge(edge);
            // Both ends at one point (the edge stays closed), a seeded way off.
            std::mt19937 offsets(static_cast<unsigned>(round));
            const QELvector off = QELvector(unit(offsets), unit(offsets), unit(offsets)) * 3e-5;
            for (VERTEX* v : {edge->start(), edge->end()})
                v->geometry()->set_coords(at + off);
            const QELposition startWas = edge->start()->geometry()->coords(), endWas = end->geometry()->coords();
            velm_test_fail_alloc(nullptr, n);
            const outcome snapped = velmCall(
                [&] { ve_spline_curve::snapClosedEdgeVertices(edge, Gk_Domain(range.start_pt(), range.end_pt())); });
            const bool fired = !velm_test_injection_pending();
            velm_test_reset();
            const QELposition startNow = edge->start()->geometry()->coords(), endNow = end->geometry()->coords();
            if (snapped.ok()) {
                EXPECT_LT(distance(startNow, at), 1e-12) << "allocation " << n;
                EXPECT_LT(distance(endNow, at), 1e-12) << "allocation " << n;
            } else {
                EXPECT_EQ(distance(startNow, startWas), 0.0) << "allocation " << n;
                EXPECT_EQ(distance(endNow, endWas), 0.0) << "allocation " << n;
            }
            edge->set_end(edge->start());
            end->set_edge(nullptr);
            api_del_entity(end);
            api_del_entity(wire);
            if (!fired)
                break;
        }
    }
}
