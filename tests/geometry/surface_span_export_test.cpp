// B-spline export over a face's span approximates the span, not the whole
// surface it lies on. The spans are chosen so that no other part of their
// surface enters their box.
#include <algorithm>
#include <string>

#include "geometry/surface_view.hxx"
#include "model/math_types.hxx"
#include "geometry_fixtures.hxx"

using namespace geomtest;

namespace {

Gk_Span spanOf(double u0, double u1, double v0, double v1)
{
    return Gk_Span(Gk_Domain(u0, u1), Gk_Domain(v0, v1));
}

// A biquadratic dome over [0, 3] x [0, 3]; x and y run linearly with u and v.
bs3_surface domePatch()
{
    const QELposition pts[] = {QELposition(0, 0, 0),   QELposition(0, 1.5, 0.5), QELposition(0, 3, 0),
                               QELposition(1.5, 0, 0.5), QELposition(1.5, 1.5, 2), QELposition(1.5, 3, 0.5),
                               QELposition(3, 0, 0),   QELposition(3, 1.5, 0.5), QELposition(3, 3, 0)};
    const double k[] = {0, 0, 0, 1, 1, 1};
    return bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 2, 0, 0, 0, 3, pts, nullptr, QELresabs, 6, k, 6, k,
                                    bs3_curve_knottol());
}

int controlPoints(const QELXBSplineNetDef3D& net)
{
    return net.uSize() * net.vSize();
}

// Every direction of the net's span holds the face's span and leaves it by a
// small part of its length only.
void expectSpanHugged(const Gk_Domain& got, const Gk_Domain& want, const std::string& what)
{
    EXPECT_LE(got.low(), want.low() + 1e-9) << what;
    EXPECT_GE(got.high(), want.high() - 1e-9) << what;
    EXPECT_GT(got.low(), want.low() - 0.1 * want.length()) << what;
    EXPECT_LT(got.high(), want.high() + 0.1 * want.length()) << what;
}

} // namespace

class SurfaceSpanExport : public GeometryTest {};

TEST_F(SurfaceSpanExport, ApproximatesOnlyTheSpan)
{
    bs3_surface b = domePatch();
    spline dome(b);
    bs3_surface_delete(b);
    struct Case {
        std::string name;
        SURFACE* s;
        Gk_Span span, whole;
    };
    const Gk_Span wholeSphere = spanOf(-kPi / 2, kPi / 2, -kPi, kPi);
    const std::vector<Case> cases = {
        {"sphere", make_surface(sphere(QELposition(1, 2, 3), 4.0)), spanOf(-0.3, 0.3, 0.5, 1.5), wholeSphere},
        {"torus", make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), 5.0, 1.0)), spanOf(-0.5, 0.5, -0.4, 0.4),
         spanOf(-kPi, kPi, -kPi, kPi)},
        {"spline", make_surface(dome), spanOf(0.2, 0.5, 0.3, 0.7), spanOf(0, 1, 0, 1)},
        {"offset over an inward sphere",
         make_surface(spline(VELM_NEW off_spl_sur(sphere(QELposition(), -3.0), 0.5))), spanOf(-0.3, 0.3, 2.0, 2.8),
         wholeSphere},
    };
    for (const Case& c : cases) {
        Held<SURFACE> s(c.s);
        const Ve_SurfaceTag* view = Ve_SurfaceTag::view(s.get());
        const QELXBSplineNetDef3D net = view->bspline(c.span, nullptr, nullptr);
        ASSERT_FALSE(net.isEmpty()) << c.name;
        expectSpanHugged(net.span().u(), c.span.u(), c.name + " u");
        expectSpanHugged(net.span().v(), c.span.v(), c.name + " v");
        // The net stays near the span's own part of the surface.
        const QELbox own = s->equation().bound(QELpar_box(QELinterval(c.span.u().low(), c.span.u().high()),
                                                          QELinterval(c.span.v().low(), c.span.v().high())));
        const QELbox near = enlarge_box(own, 0.05 * own.diagonal());
        for (int i = 0; i <= 8; ++i)
            for (int j = 0; j <= 8; ++j) {
                const QELXPoint3D q = net.eval(QELXPoint2D(net.span().u().locate(i / 8.0), net.span().v().locate(j / 8.0)));
                EXPECT_TRUE(near >> QELposition(q[0], q[1], q[2])) << c.name;
            }
        const QELXBSplineNetDef3D whole = view->bspline(c.whole, nullptr, nullptr);
        ASSERT_FALSE(whole.isEmpty()) << c.name;
        // The fit's coarsest grid may serve both.
        EXPECT_LE(controlPoints(net), controlPoints(whole)) << c.name;
    }
}
