#pragma once
// Internal B-spline numerics shared by the definitions and the utilities:
// spans, basis derivatives, homogeneous evaluation and knot insertion.
#include <array>
#include <vector>

namespace gk_nurbs {

// Weighted control point (w x, w y, w z, w).
using HPoint = std::array<double, 4>;
using Knots = std::vector<double>;

// Parameter brought into the domain [E[p], E[n]] of a periodic definition.
double wrapPeriodic(const Knots& E, int p, int n, double t);
// k in [p, n - 1] with E[k] <= t < E[k + 1]; the end spans take parameters
// beyond the domain, and the last non-empty span takes t == E[n].
int findSpan(const Knots& E, int p, int n, double t);
// ders[k][r] = k-th derivative of N_{span - p + r, p} at t, k <= nd.
std::vector<std::vector<double>> basisDerivs(const Knots& E, int p, int span, double t, int nd);
// Homogeneous derivatives 0..nd of the curve at t.
std::vector<HPoint> curveDerivsH(const Knots& E, int p, const std::vector<HPoint>& pw, double t, int nd);
// Cartesian derivatives 0..nd from homogeneous ones (quotient rule).
std::vector<std::array<double, 3>> rationalCurveDerivs(const std::vector<HPoint>& a);
// Cartesian derivatives S[k][l], k, l < size, of a net (row-major pw[i * m + j]).
std::vector<std::vector<std::array<double, 3>>> surfaceDerivs(const Knots& U, int pu, const Knots& V, int pv,
                                                              const std::vector<HPoint>& pw, int m, double u, double v,
                                                              int size);
// Inserts u once (Boehm); E and pw grow by one.
void insertKnot(Knots& E, int p, std::vector<HPoint>& pw, double u);
// Clamps the start of an unclamped vector at E[p] by knot insertion; the
// curve on the domain is unchanged.
void clampStart(Knots& E, int p, std::vector<HPoint>& pw, double tol);

} // namespace gk_nurbs
