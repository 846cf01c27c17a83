#include <memory>

#include "geometry/curve_adapters.hxx"
#include "geometry/curve_to_bs3.hxx"
#include "geometry_fixtures.hxx"

using namespace geomtest;

namespace {

// Keeps what traversal hands over.
class DefinitionRecorder : public QELXCurveCallback3D {
public:
    DefinitionRecorder() : QELXCurveCallback3D(unboundedDomain(), 0.0, QELXMorph3D()) {}
    void doCallback(const QELXBSCurveDef3D& d) override { bspline = d.getData(), take("bspline"); }
    void doCallback(const QELXEllipseDef3D& d) override { ellipseDef = d, take("ellipse"); }
    void doCallback(const QELXLineDef3D& d) override { line = d, take("line"); }
    void doDefaultCallback(const QELXBaseCurve3D&) override { take("default"); }

    QELXBSplineDef3D bspline;
    QELXEllipseDef3D ellipseDef;
    QELXLineDef3D line;
    std::vector<std::string> calls;
    // The map as the definition was handed over.
    Gk_LinMap seen;

private:
    void take(const char* kind)
    {
        calls.push_back(kind);
        seen = map();
    }
};

// The definition handed to traversal, evaluated with its first derivative.
QELXPoint3D evalDefinition(const DefinitionRecorder& r, double t, QELXCurveDerivatives3D& d)
{
    if (r.calls.back() == "line")
        return r.line.eval(t, &d);
    if (r.calls.back() == "ellipse")
        return r.ellipseDef.eval(t, &d);
    return r.bspline.eval(t, &d);
}

// The definition read through the callback's map at t against the kernel at
// t, position and first derivative, over the range.
void expectDefinitionMatchesKernel(CURVE* c, double t0, double t1)
{
    Ve_BaseCurve adapter(Ve_CurveTag::view(c), Gk_Domain(t0, t1));
    DefinitionRecorder rec;
    adapter.traverse(&rec);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.seen.slope(), 1.0);
    for (int i = 0; i <= 16; ++i) {
        const double t = t0 + (t1 - t0) * i / 16;
        QELposition p;
        QELvector d1;
        c->equation().eval(t, p, &d1);
        QELXCurveDerivatives3D d(2);
        const QELXPoint3D q = evalDefinition(rec, rec.seen(t), d);
        EXPECT_LT(dist(q, p), QELresabs) << rec.calls.back() << " at " << t;
        EXPECT_LT(dist(d[1], d1), QELresabs) << rec.calls.back() << " at " << t;
    }
}

CURVE* wavyIntcurve(bool reversed)
{
    intcurve ic(cubicCurve(wavyPoints(), 0.0, 2.0));
    if (reversed)
        ic.negate();
    return make_curve(ic);
}

} // namespace

class CurveView : public GeometryTest {};

TEST_F(CurveView, EveryKindReadAsDefinitionAgreesWithTheKernel)
{
    Held<CURVE> line(make_curve(straight(QELposition(1, 2, 3), QELunit_vector(1, 1, 0), 2.5)));
    expectDefinitionMatchesKernel(line.get(), -3.0, 4.0);
    // An ellipse in a tilted plane.
    Held<CURVE> flat(make_curve(ellipse(QELposition(), QELunit_vector(0, 1, 1), QELvector(3, 0, 0), 0.5)));
    expectDefinitionMatchesKernel(flat.get(), -kPi, kPi);
    Held<CURVE> forward(wavyIntcurve(false));
    expectDefinitionMatchesKernel(forward.get(), 0.0, 2.0);
    // A reversed intcurve gives a clamped B-spline running the other way.
    Held<CURVE> backward(wavyIntcurve(true));
    expectDefinitionMatchesKernel(backward.get(), -2.0, 0.0);
    EXPECT_TRUE(Ve_CurveTag::view(backward.get())->getBSpline().isClamped());
    EXPECT_TRUE(Ve_CurveTag::view(line.get())->getBSpline().isEmpty());
}

// Traversal hands a consumer that reads the definition through the
// callback's map the kernel's point at every parameter, whatever the
// ellipse's ratio, parameter offset and sense, and under a framework map.
TEST_F(CurveView, EllipseDefinitionMeetsTheKernelThroughTheMap)
{
    for (double ratio : {0.5, 1.0, 2.0})
        for (double offset : {0.0, 0.7, -2.5})
            for (bool reversed : {false, true}) {
                ellipse e(QELposition(1, -2, 0.5), QELunit_vector(1, 0, 1), QELvector(0, 3, 0), ratio, offset);
                if (reversed)
                    e.negate();
                Held<CURVE> c(make_curve(e));
                SCOPED_TRACE(testing::Message() << "ratio " << ratio << " offset " << offset << " rev " << reversed);
                expectDefinitionMatchesKernel(c.get(), -kPi, kPi);

                // A reversed framework curve over the adapter: framework f is
                // base -f, and the definition is read at the composed map.
                const QELXCurve3DHandle fw = QELXCurve3D::Create(
                    new Ve_BaseCurve(Ve_CurveTag::view(c.get()), Gk_Domain(-kPi, kPi)), Gk_LinMap(-1.0, 0.0));
                DefinitionRecorder rec;
                fw->traverse(&rec);
                ASSERT_EQ(rec.calls, std::vector<std::string>{"ellipse"});
                for (double f : {-3.0, -1.0, 0.4, 2.9})
                    EXPECT_LT((rec.ellipseDef.eval(rec.seen(f)) - fw->eval(f, nullptr)).Length(), 1e-12) << f;
            }
}

TEST_F(CurveView, BSplineOverRangeIsParametrisedOverExactlyThatRange)
{
    Held<CURVE> arc(make_curve(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0)));
    const Ve_CurveTag* view = Ve_CurveTag::view(arc.get());
    for (bool rational : {false, true}) {
        qelx_test::OptionScope options;
        options.set("/XVelm/SplineAsRational", QELXValue(rational));
        const QELXBSplineDef3D def = view->bspline(Gk_Domain(0.2, 1.7), 0.0, nullptr);
        ASSERT_FALSE(def.isEmpty());
        EXPECT_NEAR(def.domain().low(), 0.2, 1e-12);
        EXPECT_NEAR(def.domain().high(), 1.7, 1e-12);
        // The interpolation keeps the curve's parameters; the exact conversion
        // only its ends.
        for (int i = 0; i <= 10; ++i) {
            const double t = 0.2 + 1.5 * i / 10;
            const QELXPoint3D q = def.eval(t);
            EXPECT_NEAR(std::hypot(q[0], q[1]), 5.0, rational ? 1e-9 : QELresfit);
            if (!rational) {
                EXPECT_LT(dist(q, arc->equation().eval_position(t)), QELresfit);
            }
        }
        EXPECT_EQ(def.isRational(), rational);
        // No range to run over, no B-spline (a line would otherwise come
        // back with a NaN domain).
        Held<CURVE> line(make_curve(straight(QELposition(), QELunit_vector(1, 0, 0), 1.0)));
        for (const Gk_Domain& none : {Gk_Domain(), Gk_Domain(1.0, 1.0), Gk_Domain(2.0, 1.0)}) {
            EXPECT_TRUE(Ve_CurveTag::view(line.get())->bspline(none, 0.0, nullptr).isEmpty());
            EXPECT_TRUE(view->bspline(none, 0.0, nullptr).isEmpty());
        }
    }
}

TEST_F(CurveView, EvaluationGivesAsManyDerivativesAsTheHolderHolds)
{
    Held<CURVE> circle(make_curve(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0)));
    const Ve_CurveTag* view = Ve_CurveTag::view(circle.get());
    QELXCurveDerivatives3D four(4);
    view->eval(0.0, &four);
    const QELvector expected[] = {QELvector(1, 0, 0), QELvector(0, 1, 0), QELvector(-1, 0, 0), QELvector(0, -1, 0)};
    for (int k = 0; k < 4; ++k)
        EXPECT_LT(dist(four[k], expected[k]), 1e-12) << k;
    QELXCurveDerivatives3D two(2), one(1);
    EXPECT_LT(dist(view->eval(kPi / 2, &two), QELposition(0, 1, 0)), 1e-12);
    EXPECT_LT(dist(two[1], QELvector(-1, 0, 0)), 1e-12);
    EXPECT_LT(dist(view->eval(kPi, &one), QELposition(-1, 0, 0)), 1e-12);
    EXPECT_LT(dist(view->eval(kPi, nullptr), QELposition(-1, 0, 0)), 1e-12);
}

TEST_F(CurveView, InversionRangesAndScale)
{
    Held<CURVE> line(make_curve(straight(QELposition(), QELunit_vector(1, 0, 0), 2.5)));
    Held<CURVE> circle(make_curve(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(1, 0, 0), 1.0)));
    const Ve_CurveTag* l = Ve_CurveTag::view(line.get());
    const Ve_CurveTag* c = Ve_CurveTag::view(circle.get());
    double scale = -1.0;
    EXPECT_FALSE(c->GetParamScale(scale));
    EXPECT_EQ(scale, -1.0);
    EXPECT_TRUE(l->GetParamScale(scale));
    EXPECT_EQ(scale, 2.5);
    EXPECT_NEAR(l->invert(QELXPoint3D(5, 3, 0), nullptr), 2.0, 1e-9);
    EXPECT_NEAR(c->invert(QELXPoint3D(0, 4, 0), nullptr), kPi / 2, 1e-9);
    EXPECT_EQ(l->principalRange().endCondition(), 0);
    EXPECT_NEAR(c->principalRange().length(), 2 * kPi, 1e-12);
    EXPECT_NEAR(l->length(Gk_Domain(0.0, 2.0)), 5.0, 1e-9);
    EXPECT_NEAR(c->length(Gk_Domain(0.0, kPi)), kPi, 1e-6);
    QELXBox3D box;
    EXPECT_EQ(c->GetBoundingBox(Gk_Domain(0.0, kPi), box), 0u);
    EXPECT_NEAR(box.low()[1], 0.0, 1e-9);
    EXPECT_NEAR(box.high()[1], 1.0, 1e-3);
}

TEST_F(CurveView, NegateTransformAndCopy)
{
    Held<CURVE> line(make_curve(straight(QELposition(), QELunit_vector(1, 0, 0), 1.0)));
    Ve_CurveTag* l = Ve_CurveTag::view(line.get());
    l->negate();
    EXPECT_LT(dist(l->eval(1.0, nullptr), QELposition(-1, 0, 0)), 1e-12);
    l->apply(QELXMorph3D(QELXAffine(), QELXPoint3D(0, 0, 4), 1.0));
    EXPECT_LT(dist(l->eval(1.0, nullptr), QELposition(-1, 0, 4)), 1e-12);
    Held<CURVE> copy(l->copy()->entity());
    EXPECT_NE(copy.get(), line.get());
    EXPECT_LT(dist(Ve_CurveTag::view(copy.get())->eval(2.0, nullptr), QELposition(-2, 0, 4)), 1e-12);
}

class CurveToBs3 : public GeometryTest {};

TEST_F(CurveToBs3, ExactIntcurveGivesPieceOfItsOwnBSpline)
{
    intcurve ic(cubicCurve(wavyPoints(), 0.0, 2.0));
    for (double sense : {1.0, -1.0}) {
        // A subset is the same curve, exactly, either way round.
        const QELinterval range = sense > 0 ? QELinterval(0.5, 1.5) : QELinterval(-1.5, -0.5);
        bs3_curve piece = curveToBs3(ic, range, QELresfit);
        ASSERT_NE(piece, nullptr);
        EXPECT_NEAR(bs3_curve_range(piece).start_pt(), range.start_pt(), 1e-9);
        EXPECT_NEAR(bs3_curve_range(piece).end_pt(), range.end_pt(), 1e-9);
        for (double t : {0.5, 0.8, 1.2, 1.5})
            EXPECT_LT((bs3_curve_position(t * sense, piece) - ic.eval_position(t * sense)).len(), 1e-9) << sense;
        bs3_curve_delete(piece);
        ic.negate();
    }
}

TEST_F(CurveToBs3, StraightsDirectlyOthersInterpolatedWithinTheFit)
{
    straight s(QELposition(1, 1, 1), QELunit_vector(0, 0, 1), 2.0);
    bs3_curve line = curveToBs3(s, QELinterval(0.0, 3.0), QELresfit);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(bs3_curve_degree(line), 1);
    EXPECT_LT((bs3_curve_position(3.0, line) - QELposition(1, 1, 7)).len(), 1e-12);
    bs3_curve_delete(line);

    ellipse e(QELposition(), QELunit_vector(0, 0, 1), QELvector(4, 0, 0), 0.5);
    Ve_InterpNonRational probe(e, QELinterval(-kPi, kPi), QELresfit);
    EXPECT_EQ(probe.sampleCount(), -10); // periodic curve
    // Within the principal range, and across the seam at pi.
    for (const double start : {-1.0, 2.0}) {
        bs3_curve fitted = curveToBs3(e, QELinterval(start, start + 3.0), QELresfit);
        ASSERT_NE(fitted, nullptr);
        EXPECT_FALSE(bs3_curve_rational(fitted));
        for (int i = 0; i <= 40; ++i) {
            const double t = start + 3.0 * i / 40;
            EXPECT_LT((bs3_curve_position(t, fitted) - e.eval_position(t)).len(), QELresfit) << t;
        }
        bs3_curve_delete(fitted);
    }
    // No range, no B-spline.
    EXPECT_EQ(curveToBs3(s, QELinterval(2.0, 2.0), QELresfit), nullptr);
    EXPECT_EQ(curveToBs3(e, QELinterval(interval_unbounded, 0.0, 0.0), QELresfit), nullptr);
}

class CurveAdapter : public GeometryTest {};

TEST_F(CurveAdapter, HoldsOneUseWhileAliveAndCloneOwnsItsOwnEntity)
{
    Held<CURVE> line(make_curve(straight(QELposition(), QELunit_vector(1, 0, 0), 1.0)));
    expectAdapterUses(
        line.get(), [&] { return Ve_BaseCurve(Ve_CurveTag::view(line.get()), Gk_Domain(0.0, 1.0)); },
        [](const Ve_BaseCurve& a) { return a.curve()->entity(); });
}

TEST_F(CurveAdapter, DegenerateDataOrNoCurveGivesNoDefinition)
{
    Held<CURVE> point(make_curve(degenerate_curve(QELposition(1, 1, 1))));
    Ve_BaseCurve degenerate(Ve_CurveTag::view(point.get()), Gk_Domain(0.0, 0.0));
    EXPECT_EQ(degenerate.GetQELXCurveType(), QELXCurveType::Other);
    DefinitionRecorder rec;
    degenerate.traverse(&rec);
    EXPECT_EQ(rec.calls, std::vector<std::string>{"default"});
    qelx_test::AssertRecorder asserts;
    degenerate.apply(QELXMorph3D());
    EXPECT_TRUE(asserts.has("ve_curve", 93));

    Ve_BaseCurve empty(nullptr, Gk_Domain(0.0, 1.0));
    EXPECT_EQ(empty.length(Gk_Domain(0.0, 1.0)), 0.0);
    EXPECT_EQ(empty.GetPersistentIdentifier(), 0u);
    Held<CURVE> still(make_curve(straight(QELposition(1, 2, 3), QELunit_vector(1, 0, 0), 0.0)));
    Held<CURVE> flat(make_curve(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 0.0)));
    EXPECT_TRUE(Ve_CurveTag::view(still.get())->getLine().isEmpty());
    EXPECT_TRUE(Ve_CurveTag::view(flat.get())->getEllipse().isEmpty());
    empty.traverse(&rec);
    for (CURVE* c : {still.get(), flat.get()})
        Ve_BaseCurve(Ve_CurveTag::view(c), Gk_Domain(0.0, 1.0)).traverse(&rec);
    EXPECT_EQ(rec.calls.size(), 1u);
}
