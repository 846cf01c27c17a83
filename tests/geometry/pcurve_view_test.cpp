#include "geometry/curve_adapters.hxx"
#include "geometry_fixtures.hxx"

using namespace geomtest;

namespace {

class BSplineRecorder : public QELXCurveCallback2D {
public:
    BSplineRecorder() : QELXCurveCallback2D(unboundedDomain(), 0.0) {}
    void doCallback(const QELXBSCurveDef2D& d) override
    {
        def = d.getData();
        ++calls;
    }
    QELXBSplineDef2D def;
    int calls = 0;
};

PCURVE* planePCurve(const QELpar_vec& offset = QELpar_vec())
{
    pcurve pc(quadraticPCurve(), QELresfit, plane(QELposition(), QELunit_vector(0, 0, 1)));
    pc.set_offset(offset);
    return VELM_NEW PCURVE(pc);
}

double dist2(const QELXPoint2D& a, const QELpar_pos& b)
{
    return std::hypot(a[0] - b.u, a[1] - b.v);
}

// The definition the adapter's traversal hands over, against the kernel
// pcurve at the same parameters, position and first derivative.
void expectTraversalMatchesKernel(PCURVE* p, const Gk_Domain& range)
{
    Ve_BasePCurve adapter(Ve_PCurveTag::view(p), range);
    BSplineRecorder rec;
    adapter.traverse(&rec);
    ASSERT_EQ(rec.calls, 1);
    EXPECT_NEAR(rec.def.domain().low(), range.low(), 1e-12);
    EXPECT_NEAR(rec.def.domain().high(), range.high(), 1e-12);
    for (int i = 0; i <= 16; ++i) {
        const double t = range.low() + range.length() * i / 16;
        QELpar_pos uv;
        QELpar_vec duv;
        p->def().eval(t, uv, &duv);
        QELXCurveDerivatives2D d(2);
        EXPECT_LT(dist2(rec.def.eval(t, &d), uv), QELresabs) << t;
        EXPECT_LT(std::hypot(d[1][0] - duv.du, d[1][1] - duv.dv), QELresabs) << t;
    }
}

} // namespace

class PCurveView : public GeometryTest {};

// Offset and reversal are checked through the kernel's own evaluation.
TEST_F(PCurveView, ReadThroughTheAdapterAgreesWithTheKernelPCurve)
{
    Held<PCURVE> p(planePCurve(QELpar_vec(1.0, -0.5)));
    expectTraversalMatchesKernel(p.get(), Gk_Domain(0.0, 2.0));
    expectTraversalMatchesKernel(p.get(), Gk_Domain(0.4, 1.3));
    // A range beyond the knots gives the whole B-spline, exactly.
    double achieved = -1.0;
    const QELXBSplineDef2D whole = Ve_PCurveTag::view(p.get())->bspline(Gk_Domain(-5.0, 9.0), 0.0, &achieved);
    EXPECT_EQ(achieved, 0.0);
    EXPECT_EQ(whole.numControlPoints(), 4);
    EXPECT_NEAR(whole.domain().low(), 0.0, 1e-12);
    EXPECT_NEAR(whole.domain().high(), 2.0, 1e-12);
    Ve_PCurveTag::view(p.get())->negate();
    EXPECT_TRUE(p->reversed());
    expectTraversalMatchesKernel(p.get(), Gk_Domain(-2.0, 0.0));
    expectTraversalMatchesKernel(p.get(), Gk_Domain(-1.5, -0.2));
}

TEST_F(PCurveView, EvaluationAndUnsupportedQueries)
{
    Held<PCURVE> p(planePCurve());
    const Ve_PCurveTag* view = Ve_PCurveTag::view(p.get());
    QELXCurveDerivatives2D d(3);
    d[2] = QELXPoint2D(7, 7);
    view->eval(0.5, &d);
    EXPECT_EQ(d[2].Length(), 0.0);
    EXPECT_GT(d[1].Length(), 0.0);
    EXPECT_EQ(view->typeId(), QELXCurveType::BSpline);
    EXPECT_EQ(view->getDomain().endCondition(), 0);
    EXPECT_EQ(view->principalRange().length(), 0.0);
    QELXBox2D box;
    view->GetBoundingBox(Gk_Domain(0.0, 2.0), box);
    EXPECT_LE(box.low()[0], 0.1 + 1e-12);
    EXPECT_GE(box.high()[1], 1.1 - 1e-12);

    qelx_test::AssertRecorder asserts;
    EXPECT_EQ(view->length(Gk_Domain(0.0, 1.0)), 0.0);
    EXPECT_EQ(view->invert(QELXPoint2D(0.1, 0.2), nullptr), 0.0);
    EXPECT_TRUE(asserts.has("ve_pcurvetag", 87));
    EXPECT_TRUE(asserts.has("ve_pcurvetag", 78));
}

class PCurveAdapter : public GeometryTest {};

TEST_F(PCurveAdapter, HoldsOneUseWhileAliveAndCloneOwnsItsOwnEntity)
{
    Held<PCURVE> p(planePCurve());
    expectAdapterUses(
        p.get(), [&] { return Ve_BasePCurve(Ve_PCurveTag::view(p.get()), Gk_Domain(0.0, 2.0)); },
        [](const Ve_BasePCurve& a) { return a.pcurve()->entity(); });
    qelx_test::AssertRecorder asserts;
    Ve_BasePCurve(Ve_PCurveTag::view(p.get()), Gk_Domain(0.0, 2.0)).apply(QELXMorph2D());
    EXPECT_TRUE(asserts.has("ve_pcurve", 70));
    // Nothing is handed over without a pcurve, nor for a pcurve without B-spline.
    BSplineRecorder rec;
    Ve_BasePCurve(nullptr, Gk_Domain()).traverse(&rec);
    Held<PCURVE> bare(VELM_NEW PCURVE(pcurve()));
    Ve_BasePCurve(Ve_PCurveTag::view(bare.get()), Gk_Domain(0.0, 1.0)).traverse(&rec);
    EXPECT_EQ(rec.calls, 0);
}
