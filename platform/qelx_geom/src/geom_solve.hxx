#pragma once
// Foot-point searches on curves and surfaces, shared by the definitions and
// the base defaults. For surfaces, eval(uv, flat) is anything evaluating a
// point with a flat of size 3; a curve evaluates into derivatives of size 3.
#include "qelx/gk_derivatives.hxx"
#include "qelx/gk_maps.hxx"

#include <cmath>

namespace gk_solve {

inline constexpr double kTwoPi = 2.0 * Gk_Def::QELXPI;

// Newton on f(t) = C'(t).(C(t) - p), the condition of a foot point; a
// Gauss-Newton step where f' is not positive. Stops at a step below
// Gk_Def::FuzzKnot.
template <class Curve, class Point, class Derivs>
double curveNewton(const Curve& curve, const Point& p, double t, int steps = 20)
{
    for (int i = 0; i < steps; ++i) {
        Derivs d(3);
        curve.eval(t, &d);
        const Point r = d[0] - p;
        const double f = r * d[1];
        double df = d[1] * d[1] + r * d[2];
        if (df <= 0.0)
            df = d[1] * d[1];
        if (df <= 0.0)
            break;
        const double step = f / df;
        t -= step;
        if (std::fabs(step) < Gk_Def::FuzzKnot)
            break;
    }
    return t;
}

// Newton on |S(u,v) - p|^2; falls back to Gauss-Newton where the Hessian is
// not positive. At most 20 steps; stops at a step below Gk_Def::FuzzKnot.
template <class Eval>
QELXPoint2D newton(const Eval& eval, const QELXPoint3D& p, QELXPoint2D uv)
{
    for (int i = 0; i < 20; ++i) {
        Gk_Flat3 f(3);
        eval(uv, &f);
        const QELXPoint3D r = f.derivative(0, 0) - p;
        const QELXPoint3D& su = f.derivative(1, 0);
        const QELXPoint3D& sv = f.derivative(0, 1);
        const double gu = r * su, gv = r * sv;
        double a = su * su + r * f.derivative(2, 0), b = su * sv + r * f.derivative(1, 1),
               c = sv * sv + r * f.derivative(0, 2);
        if (a <= 0.0 || a * c - b * b <= 0.0) {
            a = su * su;
            b = su * sv;
            c = sv * sv;
        }
        const double det = a * c - b * b;
        if (det <= 0.0)
            break;
        const QELXPoint2D step((c * gu - b * gv) / det, (a * gv - b * gu) / det);
        uv = uv - step;
        if (std::fabs(step[0]) < Gk_Def::FuzzKnot && std::fabs(step[1]) < Gk_Def::FuzzKnot)
            break;
    }
    return uv;
}

// Nearest of a grid over a finite span (the span's low corner otherwise),
// then Newton.
template <class Eval>
QELXPoint2D sampled(const Eval& eval, const QELXPoint3D& p, const Gk_Span& span)
{
    QELXPoint2D best(span.u().isFinite() ? span.u().low() : 0.0, span.v().isFinite() ? span.v().low() : 0.0);
    if (span.u().isFinite() && span.v().isFinite()) {
        constexpr int n = 16;
        double bestDist = -1.0;
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= n; ++j) {
                const QELXPoint2D uv(span.u().locate(double(i) / n), span.v().locate(double(j) / n));
                const double d = eval(uv, nullptr).Distance(p);
                if (bestDist < 0.0 || d < bestDist) {
                    bestDist = d;
                    best = uv;
                }
            }
    }
    return newton(eval, p, best);
}

} // namespace gk_solve
