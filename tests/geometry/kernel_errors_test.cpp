// Kernel errors meet the views and adapters and go no further: bare geometry
// is asserted, running out of kernel memory ends the conversion, and the use
// counts of a null view are left alone.
#include <functional>

#include "geometry/curve_adapters.hxx"
#include "geometry/pcurve_view.hxx"
#include "geometry/surface_adapter.hxx"
#include "geometry_fixtures.hxx"

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
