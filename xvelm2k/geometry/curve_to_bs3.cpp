#include "geometry/curve_to_bs3.hxx"

#include <algorithm>
#include <cmath>
#include <utility>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_math.hxx"

namespace {

constexpr int kSamples = 10;
// Refinement stops here whatever the error; the fit then reports failure.
constexpr int kMaxSamples = 2305;

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
    : m_curve(c.copy_curve()), m_fit(fit), m_npts(c.periodic() ? -kSamples : kSamples), m_params(kSamples),
      m_points(kSamples), m_derivs(kSamples)
{
    for (int i = 0; i < kSamples; ++i) {
        m_params[i] = range.interpolate(double(i) / (kSamples - 1));
        m_curve->eval(m_params[i], m_points[i], &m_derivs[i]);
    }
}

Ve_InterpNonRational::~Ve_InterpNonRational()
{
    delete m_curve;
}

void Ve_InterpNonRational::fit()
{
    obj_bs = nullptr;
    const double t0 = m_params.front(), t1 = m_params.back();
    if (!std::isfinite(t0) || !std::isfinite(t1) || !(t1 > t0))
        return;
    const double goal = std::max(m_fit, QELresabs);
    std::vector<double> ts = m_params;
    std::vector<QELposition> pts = m_points;
    while (true) {
        const int n = static_cast<int>(ts.size());
        bs3_curve b = bs3_curve_interp_knots(n, pts.data(), ts.data(), &m_derivs.front(), &m_derivs.back());
        if (!b)
            return;
        // Measure between the samples and refine there.
        std::vector<double> tsNext;
        std::vector<QELposition> ptsNext;
        double err = 0.0;
        for (int i = 0; i < n; ++i) {
            tsNext.push_back(ts[i]);
            ptsNext.push_back(pts[i]);
            if (i + 1 == n)
                break;
            const double tm = 0.5 * (ts[i] + ts[i + 1]);
            const QELposition pm = m_curve->eval_position(tm);
            err = std::max(err, (bs3_curve_position(tm, b) - pm).len());
            tsNext.push_back(tm);
            ptsNext.push_back(pm);
        }
        if (err <= goal) {
            obj_bs = b;
            return;
        }
        bs3_curve_delete(b);
        if (static_cast<int>(tsNext.size()) > kMaxSamples)
            return;
        ts = std::move(tsNext);
        pts = std::move(ptsNext);
    }
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
        Ve_InterpNonRational interp(c, range, fit);
        interp.fit();
        result = interp.obj_bs;
    });
    if (kept != 0 && result) {
        bs3_curve_delete(result);
        result = nullptr;
    }
    return result;
}
