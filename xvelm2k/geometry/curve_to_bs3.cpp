#include "geometry/curve_to_bs3.hxx"

#include <cmath>
#include <utility>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_math.hxx"

namespace {

constexpr int kSamples = 10;

// A rational B-spline whose weights are not all 1 cannot be cut and handed
// on as a plain piece.
bool rationalWithWeights(bs3_curve b)
{
    if (!bs3_curve_rational(b))
        return false;
    int n = 0;
    double* weights = nullptr;
    bs3_curve_weights(b, n, weights);
    bool weighted = false;
    for (int i = 0; i < n && weights; ++i)
        weighted = weighted || std::fabs(weights[i] - 1.0) > Gk_Def::FuzzReal;
    delete[] weights;
    return weighted;
}

// The intcurve's own B-spline between the points of the range ends, in the
// intcurve's direction.
bs3_curve pieceOfIntcurve(const intcurve& ic, const QELinterval& range)
{
    bs3_curve own = ic.cur();
    QELposition p0 = ic.eval_position(range.start_pt());
    QELposition p1 = ic.eval_position(range.end_pt());
    // The B-spline runs the other way: its parameter at t is -t.
    double g0 = range.start_pt(), g1 = range.end_pt();
    if (ic.reversed()) {
        std::swap(p0, p1);
        g0 = -range.end_pt();
        g1 = -range.start_pt();
    }
    // Guesses keep the ends of a closed curve apart.
    const double t0 = bs3_curve_invert(p0, QELresabs, own, &g0);
    double t1 = bs3_curve_invert(p1, QELresabs, own, &g1);
    if (t0 + Gk_Def::FuzzReal > t1)
        t1 += bs3_curve_period(own);
    bs3_curve piece = bs3_curve_subset(own, QELinterval(t0, t1), QELresabs);
    if (piece && ic.reversed())
        bs3_curve_reverse(piece);
    return piece;
}

} // namespace

Ve_InterpNonRational::Ve_InterpNonRational(const curve& c, const QELinterval& range, double fit)
    : curve_interp(fit), m_curve(c.copy_curve())
{
    npts = c.periodic() ? -kSamples : kSamples;
    params = new double[kSamples];
    points = new QELposition[kSamples];
    derivs = new QELvector[kSamples];
    for (int i = 0; i < kSamples; ++i) {
        params[i] = range.interpolate(double(i) / (kSamples - 1));
        m_curve->eval(params[i], points[i], &derivs[i]);
    }
}

Ve_InterpNonRational::~Ve_InterpNonRational()
{
    delete m_curve;
    delete[] params;
    delete[] points;
    delete[] derivs;
}

point_data* Ve_InterpNonRational::point_perp(const point_record& rec)
{
    m_curve->point_perp(rec.position, rec.data.foot, rec.data.direction, &rec.param);
    rec.data.value = 1.0;
    return &rec.data;
}

bs3_curve curveToBs3(const curve& c, const QELinterval& range, double fit)
{
    bs3_curve result = nullptr;
    const int kept = velmGuard([&] {
        if (c.type() == 1) {
            result = bs3_curve_make_str(static_cast<const straight&>(c), range.start_pt(), range.end_pt(), fit);
            return;
        }
        if (c.type() == 11) {
            const intcurve& ic = static_cast<const intcurve&>(c);
            const double own = ic.fitol();
            const bool tighterFit =
                Gk_Func::lesseq(own, fit, Gk_Def::FuzzReal) && !Gk_Func::equal(own, 0.0, Gk_Def::FuzzReal);
            if (!tighterFit && ic.cur() && !rationalWithWeights(ic.cur())) {
                result = pieceOfIntcurve(ic, range);
                return;
            }
        }
        // Without a finite range there is nothing to sample.
        if (!range.finite() || !(range.length() > 0.0))
            return;
        Ve_InterpNonRational interp(c, range, fit);
        interp.fit();
        result = interp.obj_bs;
    });
    if (kept != 0 && result) {
        bs3_curve_delete(result);
        result = nullptr;
    }
    // No B-spline for want of memory is no answer about the curve.
    if (kept == qelbase_mmgr_errmod.message_code(8))
        throw QELXAllocException();
    return result;
}
