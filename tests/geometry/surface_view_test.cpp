#include <functional>
#include <string>

#include "geometry/surface_adapter.hxx"
#include "model/math_types.hxx"
#include "geometry_fixtures.hxx"
#include "velm/law.hxx"

using namespace geomtest;

namespace {

// Keeps the last definition handed over, with its flag and the callback's
// composed map at that moment.
class SurfaceRecorder : public Gk_SurfaceCallback3 {
public:
    void doOffset(const Gk_OffsetSurface3Def& d, bool f) override { take("offset", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }), offset = d; }
    void doSpun(const Gk_SpunSurface3Def& d, bool f) override { take("spun", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }), spun = d; }
    void doTorus(const Gk_Torus3Def& d, bool f) override { take("torus", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }); }
    void doCone(const Gk_Cone3Def& d, bool f) override { take("cone", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }); }
    void doEllipsoid(const Gk_Ellipsoid3Def& d, bool f) override { take("ellipsoid", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }); }
    void doBSpline(const Gk_BSSurface3Def& d, bool f) override { take("bspline", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }); }
    void doPlane(const Gk_Plane3Def& d, bool f) override { take("plane", f, [d](auto uv, auto fl) { return d.eval(uv, fl); }); }
    void doDefault(const Gk_BaseSurface3&) override { calls.push_back("default"); }

    std::vector<std::string> calls;
    bool rightHanded = false;
    Gk_BiLinMap composed;
    std::function<QELXPoint3D(const QELXPoint2D&, Gk_Flat3*)> eval;
    Gk_OffsetSurface3Def offset;
    Gk_SpunSurface3Def spun;

private:
    void take(const char* kind, bool flag, std::function<QELXPoint3D(const QELXPoint2D&, Gk_Flat3*)> e)
    {
        calls.push_back(kind);
        rightHanded = flag;
        composed = map();
        eval = std::move(e);
    }
};

QELXPoint3D cross(const QELXPoint3D& a, const QELXPoint3D& b)
{
    return QELXPoint3D::VectorProduct(a, b);
}

QELXPoint3D unit(QELXPoint3D v)
{
    v.Normalize();
    return v;
}

// The definition traversal hands over, read through the composed map, is the
// kernel surface: point, both first derivatives (chain rule) and the normal
// whose side the flag and the map's orientation choose. The adapter's own
// evaluation gives the kernel's outward normal.
void expectDefinitionMatchesKernel(SURFACE* s, const QELpar_box& box, const char* kind)
{
    Ve_BaseSurface adapter(Ve_SurfaceTag::view(s), Gk_Span());
    SurfaceRecorder rec;
    adapter.traverse(&rec);
    ASSERT_EQ(rec.calls, std::vector<std::string>{kind});
    const Gk_BiLinMap& m = rec.composed;
    const double su = m.getLinUMap().slope(), sv = m.getLinVMap().slope();
    for (int i = 0; i <= 6; ++i)
        for (int j = 0; j <= 6; ++j) {
            const QELpar_pos uv(box.u_range().interpolate(i / 6.0), box.v_range().interpolate(j / 6.0));
            QELposition p;
            QELvector d[2];
            s->equation().eval(uv, p, d);
            Gk_Flat3 flat(2);
            const QELXPoint2D defUv = m.apply(QELXPoint2D(uv.u, uv.v));
            const QELXPoint3D q = rec.eval(defUv, &flat);
            const QELXPoint3D da = flat.derivative(1, 0), db = flat.derivative(0, 1);
            const QELXPoint3D ku = m.isCross() ? db * sv : da * su;
            const QELXPoint3D kv = m.isCross() ? da * su : db * sv;
            const std::string at = std::string(kind) + " at " + std::to_string(uv.u) + ", " + std::to_string(uv.v);
            EXPECT_LT(dist(q, p), QELresabs) << at;
            EXPECT_LT(dist(ku, d[0]), QELresabs) << at;
            EXPECT_LT(dist(kv, d[1]), QELresabs) << at;
            const QELvector n = s->equation().eval_normal(uv);
            const double side = rec.rightHanded == m.isForward() ? 1.0 : -1.0;
            EXPECT_LT(dist(unit(cross(da, db)) * side, n), 1e-9) << at;
            Gk_Flat3 own(2);
            adapter.eval(QELXPoint2D(uv.u, uv.v), &own);
            EXPECT_LT(dist(own.normal(), n), 1e-9) << at;
        }
}

QELpar_box parBox(double u0, double u1, double v0, double v1)
{
    return QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1));
}

// A 4 x 5 bicubic-by-quadratic patch over [0, 1] x [0, 2].
bs3_surface wavyPatch()
{
    std::vector<QELposition> pts;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j)
            pts.emplace_back(i, j, 0.3 * std::sin(i + 2.0 * j));
    const double uk[] = {0, 0, 0, 0, 1, 1, 1, 1};
    const double vk[] = {0, 0, 0, 1, 1.5, 2, 2, 2};
    return bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 2, 0, 0, 0, 5, pts.data(), nullptr, QELresabs, 8, uk, 8, vk,
                                    bs3_curve_knottol());
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

// Every direction of the net's span holds the face's span and leaves it by a
// small part of its length only.
void expectSpanHugged(const Gk_Domain& got, const Gk_Domain& want, const std::string& what)
{
    EXPECT_LE(got.low(), want.low() + 1e-9) << what;
    EXPECT_GE(got.high(), want.high() - 1e-9) << what;
    EXPECT_GT(got.low(), want.low() - 0.1 * want.length()) << what;
    EXPECT_LT(got.high(), want.high() + 0.1 * want.length()) << what;
}

SURFACE* exactSpline(int reverseV = 0)
{
    bs3_surface b = wavyPatch();
    spline s(b);
    bs3_surface_delete(b);
    s.reverse_v = reverseV;
    return make_surface(s);
}

SURFACE* revolved(const curve& profile)
{
    return make_surface(spline(VELM_NEW rot_spl_sur(profile, QELposition(0, 0, 1), QELvector(0, 0, 1))));
}

SURFACE* offsetOf(const surface& base, double d)
{
    return make_surface(spline(VELM_NEW off_spl_sur(base, d)));
}

cone makeCone(double s, double c, int reverseU, double uScale = 0.0, double ratio = 1.0)
{
    cone k(QELposition(1, 0, 0), QELunit_vector(0, 1, 1), QELvector(2, 0, 0), ratio, s, c, uScale);
    k.reverse_u = reverseU;
    return k;
}

} // namespace

class SurfaceView : public GeometryTest {};

TEST_F(SurfaceView, AnalyticKindsReadAsDefinitionsAgreeWithTheKernel)
{
    for (int reverse : {0, 1}) {
        plane p(QELposition(1, 2, 3), QELunit_vector(0, 0, 1));
        p.u_deriv = QELvector(2, 0, 1); // leaves the plane: only its part in the plane counts
        p.reverse_v = reverse;
        Held<SURFACE> s(make_surface(p));
        expectDefinitionMatchesKernel(s.get(), parBox(-2, 3, -1, 4), "plane");
    }
    const double s30 = 0.5, c30 = std::sqrt(0.75);
    for (int reverse : {0, 1})
        for (auto [s, c] : {std::pair{0.0, 1.0}, {0.0, -1.0}, {s30, c30}, {-s30, c30}, {s30, -c30}, {-s30, -c30}})
            for (double scale : {0.0, 3.0}) {
                Held<SURFACE> k(make_surface(makeCone(s, c, reverse, scale)));
                expectDefinitionMatchesKernel(k.get(), parBox(-0.3, 0.3, -3.0, 3.0), "cone");
            }
    for (double r : {2.0, -2.0}) {
        sphere sp(QELposition(1, -1, 2), r);
        sp.origin_dir = QELunit_vector(0, 1, 0);
        sp.pole_dir = QELunit_vector(1, 0, 0);
        Held<SURFACE> s(make_surface(sp));
        expectDefinitionMatchesKernel(s.get(), parBox(-1.4, 1.4, -3.0, 3.0), "ellipsoid");
    }
    for (auto [R, r] : {std::pair{5.0, 1.0}, {5.0, -1.0}, {-1.0, 2.0}, {1.0, -2.0}}) {
        Held<SURFACE> t(make_surface(torus(QELposition(0, 1, 0), QELunit_vector(1, 1, 0), R, r)));
        // Spindle tori only exist for |u| <= acos(-R / |r|).
        const double umax = std::fabs(R) < std::fabs(r) ? 0.9 * std::acos(-R / std::fabs(r)) : 3.0;
        expectDefinitionMatchesKernel(t.get(), parBox(-umax, umax, -3.0, 3.0), "torus");
    }
}

TEST_F(SurfaceView, SplineKindsReadAsDefinitionsAgreeWithTheKernel)
{
    intcurve arc(cubicCurve({QELposition(1, 0, 0), QELposition(2, 0, 1), QELposition(1.5, 0, 2),
                             QELposition(3, 0, 3)}));
    // A profile that starts on the axis has no circle at its start.
    intcurve fromAxis(cubicCurve({QELposition(0, 0, 1), QELposition(1, 0, 1.5), QELposition(2, 0, 2),
                                  QELposition(2, 0, 3)}));
    const QELinterval uAll(0.0, 1.0), part(1.0, 2.5);
    plane down(QELposition(0, 0, 1), QELunit_vector(0, 0, 1));
    down.reverse_v = 1;
    bs3_surface patch = wavyPatch();
    spline wavy(patch), turned(patch);
    bs3_surface_delete(patch);
    turned.reverse_v = 1;
    struct Case {
        SURFACE* s;
        QELpar_box box;
        const char* kind;
    };
    const Case cases[] = {
        {exactSpline(0), parBox(0, 1, 0, 2), "bspline"},
        {exactSpline(1), parBox(0, 1, 0, 2), "bspline"},
        {revolved(arc), parBox(0, 1, 0, 6.0), "spun"},
        // A revolution limited to angles away from 0 still turns from its profile's own place.
        {make_surface(spline(VELM_NEW rot_spl_sur(arc, QELposition(0, 0, 1), QELvector(0, 0, 1), &uAll, &part))),
         parBox(0, 1, 1.0, 2.5), "spun"},
        {revolved(fromAxis), parBox(0.1, 1, 0, 6.0), "spun"},
        // Nor has an unbounded profile a start: its axis point stays finite.
        {revolved(straight(QELposition(1, 0, 0), QELunit_vector(0, 1, 1))), parBox(-2, 3, 0, 6.0), "spun"},
        {offsetOf(plane(QELposition(0, 0, 1), QELunit_vector(0, 0, 1)), 0.5), parBox(-1, 1, -1, 1), "offset"},
        {offsetOf(sphere(QELposition(), 3.0), 0.5), parBox(-1.2, 1.2, -3, 3), "offset"},
        {offsetOf(wavy, 0.2), parBox(0.1, 0.9, 0.1, 1.9), "offset"},
        // Over bases turned inside out the offset moves, and faces, along the base's normal with its sense.
        {offsetOf(sphere(QELposition(), -3.0), 0.5), parBox(-1.2, 1.2, -3, 3), "offset"},
        {offsetOf(down, 0.5), parBox(-1, 1, -1, 1), "offset"},
        {offsetOf(turned, 0.2), parBox(0.1, 0.9, 0.1, 1.9), "offset"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Held<SURFACE> s(cases[i].s);
        expectDefinitionMatchesKernel(s.get(), cases[i].box, cases[i].kind);
        // Handedness is the offset's own frame against its own normal, over
        // left-handed bases as well.
        if (i + 6 >= std::size(cases)) {
            EXPECT_EQ(Ve_SurfaceTag::view(s.get())->IsRightHandedUV(), !s->equation().left_handed_uv()) << i;
        }
    }
}

TEST_F(SurfaceView, TypeCodesFollowKindAndOptions)
{
    Held<SURFACE> elliptic(make_surface(makeCone(0.5, 0.8, 1, 0.0, 0.5)));
    Held<SURFACE> round(make_surface(makeCone(0.5, 0.8, 1)));
    Held<SURFACE> cylinder(make_surface(makeCone(0.0, 1.0, 1)));
    Held<SURFACE> exact(exactSpline());
    Held<SURFACE> rev(revolved(straight(QELposition(1, 0, 0), QELunit_vector(0, 0, 1))));
    Held<SURFACE> offPlane(offsetOf(plane(), 1.0));
    Held<SURFACE> offRev(offsetOf(rev->equation(), 1.0));
    Held<SURFACE> offOff(offsetOf(offPlane->equation(), 1.0));
    // Fit 1e-4 > QELresabs: no exact form.
    Held<SURFACE> swept(make_surface(spline(VELM_NEW sweep_spl_sur(
        straight(QELposition(), QELunit_vector(1, 0, 0)), straight(QELposition(), QELunit_vector(0, 0, 1)), nullptr,
        nullptr, nullptr, QELinterval(0, 1), QELinterval(0, 1)))));
    // Any other kind is exact while its fit is QELresabs at most.
    auto lawSurface = [](double fit) {
        const QELpar_box box(QELinterval(-1, 1), QELinterval(0, 2));
        auto* l = new surface_law(new surface_law_data(torus(QELposition(), QELunit_vector(0, 0, 1), 3.0, 1.0), box));
        SURFACE* s = make_surface(spline(VELM_MAKE(law_spl_sur, l, box, fit)));
        l->remove();
        return s;
    };
    Held<SURFACE> lawExact(lawSurface(QELresabs));
    Held<SURFACE> lawFitted(lawSurface(2.0 * QELresabs));
    auto view = [](const Held<SURFACE>& s) { return Ve_SurfaceTag::view(s.get()); };
    using T = Gk_SurfaceType3::Enum;
    const std::pair<const Held<SURFACE>*, T> types[] = {
        {&elliptic, T::None},   {&round, T::Cone},           {&cylinder, T::Cylinder}, {&exact, T::BSpline},
        {&rev, T::Revolution},  {&offPlane, T::Offset},      {&offRev, T::Offset},     {&offOff, T::None},
        {&swept, T::None},      {&lawExact, T::BSpline},     {&lawFitted, T::None}};
    for (const auto& [s, type] : types)
        EXPECT_EQ(view(*s)->typeId(), type) << (*s)->equation().type_name();
    EXPECT_TRUE(view(elliptic)->isApproximated() && view(offOff)->isApproximated());
    EXPECT_TRUE(view(round)->isAnalytic());
    EXPECT_FALSE(view(rev)->isAnalytic());
    EXPECT_FALSE(view(cylinder)->getCylinder().isEmpty());
    EXPECT_TRUE(view(round)->getCylinder().isEmpty());
    EXPECT_FALSE(view(cylinder)->getCone().isEmpty());
    EXPECT_TRUE(view(round)->getSweptSurface(QELXCurve3DHandle()).isEmpty());
    {
        qelx_test::OptionScope options;
        options.on("/XVelm/ExportSplineOnly");
        EXPECT_EQ(view(exact)->typeId(), T::BSpline);
        EXPECT_EQ(view(rev)->typeId(), T::None);
        EXPECT_TRUE(view(rev)->isApproximated());
    }
    // The adapter reports both circular cones as cones.
    EXPECT_EQ(Ve_BaseSurface(view(cylinder), Gk_Span()).GetGkSurfaceType3(), T::Cone);
}

TEST_F(SurfaceView, SignsOfRadiiAreDroppedFromDefinitions)
{
    Held<SURFACE> inside(make_surface(sphere(QELposition(), -2.0)));
    const Gk_Ellipsoid3Def e = Ve_SurfaceTag::view(inside.get())->getSphere();
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(e.axis(i).Length(), 2.0, 1e-12);
    Held<SURFACE> lemon(make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), -1.0, -2.0)));
    const Gk_Torus3Def t = Ve_SurfaceTag::view(lemon.get())->getTorus();
    EXPECT_FALSE(t.isPositiveMajor());
    EXPECT_EQ(t.minorRadius(), 2.0);
    EXPECT_FALSE(Ve_SurfaceTag::view(lemon.get())->IsRightHandedUV());
}

TEST_F(SurfaceView, DegenerateDataGivesNoDefinitionAndNothingToTraverse)
{
    Held<SURFACE> point(make_surface(sphere(QELposition(1, 1, 1), 0.0)));
    EXPECT_TRUE(Ve_SurfaceTag::view(point.get())->getSphere().isEmpty());
    plane flat(QELposition(), QELunit_vector(0, 0, 1));
    flat.u_deriv = QELvector(0, 0, 3); // no part in the plane
    Held<SURFACE> p(make_surface(flat));
    EXPECT_TRUE(Ve_SurfaceTag::view(p.get())->getPlane().isEmpty());
    Held<SURFACE> thin(make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), 3.0, 0.0)));
    EXPECT_TRUE(Ve_SurfaceTag::view(thin.get())->getTorus().isEmpty());
    for (SURFACE* s : {point.get(), p.get(), thin.get()}) {
        Ve_BaseSurface adapter(Ve_SurfaceTag::view(s), Gk_Span());
        SurfaceRecorder rec;
        adapter.traverse(&rec);
        EXPECT_TRUE(rec.calls.empty());
    }
}

TEST_F(SurfaceView, PrincipalRangesRemoveSubsets)
{
    Held<SURFACE> p(make_surface(plane()));
    Held<SURFACE> cyl(make_surface(makeCone(0.0, 1.0, 1)));
    const Ve_SurfaceTag* pv = Ve_SurfaceTag::view(p.get());
    const Ve_SurfaceTag* cv = Ve_SurfaceTag::view(cyl.get());
    EXPECT_EQ(pv->uPrincipalRange().length(), 0.0);
    EXPECT_EQ(pv->vPrincipalRange().length(), 0.0);
    cyl->equation_for_update().limit_v(QELinterval(0.0, 1.0));
    ASSERT_TRUE(cyl->equation().subsetted());
    EXPECT_EQ(cv->uPrincipalRange().high(), 0.0);
    EXPECT_FALSE(cyl->equation().subsetted());
    EXPECT_NEAR(cv->vPrincipalRange().high(), 2 * kPi, 1e-12);
    EXPECT_EQ(cv->vPrincipalRange().low(), 0.0);
}

// B-spline export over a span approximates the span, not the whole surface
// it lies on. Spans given with the whole are chosen so that no other part of
// their surface enters their box.
TEST_F(SurfaceView, EveryKindExportsAsBSplineWithinTheFitAndTheSpan)
{
    intcurve arc(cubicCurve({QELposition(1, 0, 0), QELposition(2, 0, 1), QELposition(1.5, 0, 2),
                             QELposition(3, 0, 3)}));
    struct Case {
        SURFACE* s;
        Gk_Span span, whole;
    };
    auto span = [](double u0, double u1, double v0, double v1) { return Gk_Span(Gk_Domain(u0, u1), Gk_Domain(v0, v1)); };
    const Gk_Span wholeSphere = span(-kPi / 2, kPi / 2, -kPi, kPi);
    bs3_surface b = domePatch();
    spline dome(b);
    bs3_surface_delete(b);
    const std::vector<Case> cases = {
        {make_surface(plane(QELposition(0, 0, 2), QELunit_vector(0, 1, 1))), span(-1, 2, 0, 3), {}},
        {make_surface(makeCone(0.5, 0.8, 1)), span(-0.5, 0.5, -2, 2), {}},
        {make_surface(makeCone(0.5, 0.8, 1, 0.0, 0.5)), span(-0.5, 0.5, -2, 2), {}},
        {make_surface(sphere(QELposition(1, 2, 3), 4.0)), span(-1, 1, -2, 2), {}},
        {make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), 5.0, 1.0)), span(-2, 2, 0, 3), {}},
        {exactSpline(), span(0.2, 0.8, 0.5, 1.5), {}},
        {revolved(arc), span(0, 1, 0, 3), {}},
        {offsetOf(sphere(QELposition(), 3.0), 0.5), span(-1, 1, -2, 2), {}},
        {make_surface(sphere(QELposition(1, 2, 3), 4.0)), span(-0.3, 0.3, 0.5, 1.5), wholeSphere},
        {make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), 5.0, 1.0)), span(-0.5, 0.5, -0.4, 0.4),
         span(-kPi, kPi, -kPi, kPi)},
        {make_surface(dome), span(0.2, 0.5, 0.3, 0.7), span(0, 1, 0, 1)},
        {offsetOf(sphere(QELposition(), -3.0), 0.5), span(-0.3, 0.3, 2.0, 2.8), wholeSphere},
    };
    for (const Case& c : cases) {
        Held<SURFACE> s(c.s);
        const Ve_SurfaceTag* view = Ve_SurfaceTag::view(s.get());
        Gk_SurfApproxInfoHandle info;
        const QELXBSplineNetDef3D net = view->bspline(c.span, nullptr, &info);
        const std::string kind = s->equation().type_name();
        ASSERT_FALSE(net.isEmpty()) << kind;
        ASSERT_TRUE(info.IsValid());
        EXPECT_EQ(info->getPCurveState(), s->type() == 2 ? 1 : 0);
        // Every point of the net lies on the surface, between its samples
        // too, and the net covers the surface over the span. The kernel is
        // asked for a fit of 1.0; much less is achieved.
        const double fit = 0.1;
        const Gk_Span own = net.span();
        for (int i = 0; i <= 12; ++i)
            for (int j = 0; j <= 12; ++j) {
                const QELXPoint3D q = net.eval(QELXPoint2D(own.u().locate(i / 12.0), own.v().locate(j / 12.0)));
                QELposition foot;
                s->equation().point_perp(Ve_Pt3(q), foot);
                EXPECT_LT(dist(q, foot), fit) << kind;
            }
        const Gk_BSSurface3Def def(net);
        for (double fu : {0.0, 0.5, 1.0})
            for (double fv : {0.0, 0.5, 1.0}) {
                const QELposition p = s->equation().eval_position(QELpar_pos(c.span.u().locate(fu), c.span.v().locate(fv)));
                EXPECT_LT(dist(def.eval(def.invert(Ve_Pt3(p))), p), fit) << kind;
            }
        if (!c.whole.u().isFinite())
            continue;
        expectSpanHugged(own.u(), c.span.u(), kind + " u");
        expectSpanHugged(own.v(), c.span.v(), kind + " v");
        // The net stays near the span's own part of the surface.
        const QELbox part = s->equation().bound(QELpar_box(QELinterval(c.span.u().low(), c.span.u().high()),
                                                           QELinterval(c.span.v().low(), c.span.v().high())));
        const QELbox near = enlarge_box(part, 0.05 * part.diagonal());
        for (int i = 0; i <= 8; ++i)
            for (int j = 0; j <= 8; ++j) {
                const QELXPoint3D q = net.eval(QELXPoint2D(own.u().locate(i / 8.0), own.v().locate(j / 8.0)));
                EXPECT_TRUE(near >> QELposition(q[0], q[1], q[2])) << kind;
            }
        const QELXBSplineNetDef3D whole = view->bspline(c.whole, nullptr, nullptr);
        ASSERT_FALSE(whole.isEmpty()) << kind;
        // The fit's coarsest grid may serve both.
        EXPECT_LE(net.uSize() * net.vSize(), whole.uSize() * whole.vSize()) << kind;
    }
}

TEST_F(SurfaceView, OwnNetOfASplineAndItsPoles)
{
    Held<SURFACE> s(exactSpline());
    const QELXBSplineNetDef3D own = Ve_SurfaceTag::view(s.get())->getSplineSurface();
    EXPECT_EQ(own.uSize() * 10 + own.vSize(), 45);
    EXPECT_TRUE(own.isUClamped() && !own.isClosedU());
    EXPECT_EQ(Ve_SurfaceTag::view(s.get())->getPoles().Count(), 0);

    // A sphere-like patch: both v ends collapse to points.
    std::vector<QELposition> pts;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            pts.push_back(j == 0 ? QELposition(0, 0, -1) : j == 2 ? QELposition(0, 0, 1) : QELposition(i, 1, 0));
    const double k[] = {0, 0, 0, 3, 3, 3};
    bs3_surface b = bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 2, 0, 0, 0, 3, pts.data(), nullptr, QELresabs, 6, k, 6, k,
                                             bs3_curve_knottol());
    set_poles(b, QELresabs);
    Held<SURFACE> patch(make_surface(spline(b)));
    bs3_surface_delete(b);
    const QELXDynamicArray<Gk_SurfacePole> poles = Ve_SurfaceTag::view(patch.get())->getPoles();
    ASSERT_EQ(poles.Count(), 2);
    EXPECT_LT(dist(poles[0].point, QELposition(0, 0, -1)), 1e-12);
    EXPECT_LT(dist(poles[1].point, QELposition(0, 0, 1)), 1e-12);
    // The segments run over the whole u range, to its end 3 (not a knot
    // short of it).
    EXPECT_EQ(poles[0].start[0], 0.0);
    EXPECT_EQ(poles[0].end[0], 3.0);
    EXPECT_EQ(poles[1].start[1], 3.0);

    Held<SURFACE> k2(make_surface(makeCone(0.5, 0.8, 1)));
    const QELXDynamicArray<Gk_SurfacePole> apex = Ve_SurfaceTag::view(k2.get())->getPoles();
    ASSERT_EQ(apex.Count(), 1);
    EXPECT_LT(dist(apex[0].point, static_cast<const cone&>(k2->equation()).get_apex()), 1e-9);
    Held<SURFACE> cyl(make_surface(makeCone(0.0, 1.0, 1)));
    EXPECT_EQ(Ve_SurfaceTag::view(cyl.get())->getPoles().Count(), 0);
}

class SurfaceAdapter : public GeometryTest {};

TEST_F(SurfaceAdapter, HoldsOneUseAndCloneRaisesOnce)
{
    Held<SURFACE> s(make_surface(sphere(QELposition(), 1.0)));
    expectAdapterUses(
        s.get(), [&] { return Ve_BaseSurface(Ve_SurfaceTag::view(s.get()), Gk_Span()); },
        [](const Ve_BaseSurface& a) { return a.surface()->entity(); });
    qelx_test::AssertRecorder asserts;
    Ve_BaseSurface(Ve_SurfaceTag::view(s.get()), Gk_Span()).apply(QELXMorph3D());
    EXPECT_TRUE(asserts.has("ve_surface", 99));
}

// The caller's map comes first, the surface's own after it: the definition
// read through the composed map at p is the kernel surface at the caller's
// image of p.
TEST_F(SurfaceAdapter, TraversalComposesTheSurfaceMapAfterTheCallers)
{
    Held<SURFACE> cone(make_surface(makeCone(0.5, 0.8, 1)));
    ASSERT_FALSE(Ve_SurfaceTag::view(cone.get())->getMap().isIdentity());
    const Gk_BiLinMap outer(Gk_LinMap(0.5, 0.1), Gk_LinMap(2.0, -0.3), false);
    SurfaceRecorder rec;
    rec.map() = outer;
    Ve_BaseSurface(Ve_SurfaceTag::view(cone.get()), Gk_Span()).traverse(&rec);
    ASSERT_EQ(rec.calls, std::vector<std::string>{"cone"});
    for (const QELXPoint2D p : {QELXPoint2D(0.2, -1.0), QELXPoint2D(-0.4, 2.5), QELXPoint2D(0.1, 0.7)}) {
        const QELXPoint2D uv = outer.apply(p);
        EXPECT_LT(dist(rec.eval(rec.composed.apply(p), nullptr), cone->equation().eval_position({uv[0], uv[1]})),
                  QELresabs);
    }
}

TEST_F(SurfaceAdapter, TraversalCachesBaseSurfaceAndProfile)
{
    Held<SURFACE> off(offsetOf(plane(), 0.5));
    Held<SURFACE> rev(revolved(straight(QELposition(1, 0, 0), QELunit_vector(0, 0, 1))));
    Ve_BaseSurface offAdapter(Ve_SurfaceTag::view(off.get()), Gk_Span(Gk_Domain(0, 1), Gk_Domain(0, 1)));
    Ve_BaseSurface revAdapter(Ve_SurfaceTag::view(rev.get()), Gk_Span());
    SurfaceRecorder first, second;
    offAdapter.traverse(&first);
    offAdapter.traverse(&second);
    ASSERT_TRUE(offAdapter.referenceSurfaceCache().IsValid());
    EXPECT_EQ(first.offset.ReferenceSurface().get(), offAdapter.referenceSurfaceCache().get());
    EXPECT_EQ(second.offset.ReferenceSurface().get(), offAdapter.referenceSurfaceCache().get());
    revAdapter.traverse(&first);
    revAdapter.traverse(&second);
    ASSERT_TRUE(revAdapter.revolvedCurveCache().IsValid());
    EXPECT_EQ(second.spun.RevolvedCurve().get(), revAdapter.revolvedCurveCache().get());
    // A clone copies the caches rather than sharing them.
    Gk_BaseSurface3Handle clone = offAdapter.clone();
    const Ve_BaseSurface& twin = static_cast<const Ve_BaseSurface&>(*clone);
    ASSERT_TRUE(twin.referenceSurfaceCache().IsValid());
    EXPECT_NE(twin.referenceSurfaceCache().get(), offAdapter.referenceSurfaceCache().get());
}

TEST_F(SurfaceAdapter, NoExactFormGoesToDefaultWithMappedSpan)
{
    Held<SURFACE> elliptic(make_surface(makeCone(0.5, 0.8, 1, 0.0, 0.5)));
    const Gk_Span span(Gk_Domain(-0.5, 0.5), Gk_Domain(0.0, 1.0));
    Ve_BaseSurface adapter(Ve_SurfaceTag::view(elliptic.get()), span);
    SurfaceRecorder rec;
    rec.map() = Gk_BiLinMap(Gk_LinMap(2.0, 1.0), Gk_LinMap(), false);
    adapter.traverse(&rec);
    EXPECT_EQ(rec.calls, std::vector<std::string>{"default"});
    EXPECT_NEAR(rec.span().u().low(), 0.0, 1e-12);
    EXPECT_NEAR(rec.span().u().high(), 2.0, 1e-12);
    EXPECT_EQ(adapter.GetGkSurfaceType3(), Gk_SurfaceType3::None);
    EXPECT_NO_THROW(adapter.traverse(nullptr));
}

TEST_F(SurfaceAdapter, SurfaceLimitsOptionChoosesTheOwnNet)
{
    Held<SURFACE> s(exactSpline());
    Held<SURFACE> p(make_surface(plane()));
    const Gk_Span span(Gk_Domain(0.2, 0.4), Gk_Domain(0.5, 0.7));
    Ve_BaseSurface spline(Ve_SurfaceTag::view(s.get()), span);
    Ve_BaseSurface flat(Ve_SurfaceTag::view(p.get()), span);
    // A plane has no net of its own: the option decides between its
    // approximation over the span and nothing.
    const QELXBSplineNetDef3D bounded = flat.bspline(nullptr, nullptr);
    ASSERT_FALSE(bounded.isEmpty());
    EXPECT_NEAR(bounded.eval(QELXPoint2D(bounded.span().u().high(), bounded.span().v().high()))[0], 0.4, 1e-9);
    qelx_test::OptionScope options;
    options.on("/XVelm/UseSurfaceLimits");
    EXPECT_TRUE(flat.bspline(nullptr, nullptr).isEmpty());
    const QELXBSplineNetDef3D own = spline.bspline(nullptr, nullptr);
    EXPECT_NEAR(own.span().u().high(), 1.0, 1e-12);
    EXPECT_NEAR(own.span().v().high(), 2.0, 1e-12);
    options.off("/XVelm/UseSurfaceLimits");
    EXPECT_FALSE(flat.bspline(nullptr, nullptr).isEmpty());
}
