#include "geom_nurbs.hxx"

#include <algorithm>
#include <cmath>

namespace gk_nurbs {

double wrapPeriodic(const Knots& E, int p, int n, double t)
{
    const double lo = E[p], hi = E[n], period = hi - lo;
    if (period <= 0.0 || (t >= lo && t <= hi))
        return t;
    double w = lo + std::fmod(t - lo, period);
    if (w < lo)
        w += period;
    return w;
}

int findSpan(const Knots& E, int p, int n, double t)
{
    if (t >= E[n]) {
        int k = n - 1;
        while (k > p && E[k] >= E[n])
            --k;
        return k;
    }
    if (t <= E[p]) {
        int k = p;
        while (k < n - 1 && E[k + 1] <= E[p])
            ++k;
        return k;
    }
    // Last k with E[k] <= t; kept within the spans, so a NaN parameter or knot
    // gives a NaN point, never a read past the control points.
    const auto it = std::upper_bound(E.begin() + p, E.begin() + n + 1, t);
    return std::clamp(static_cast<int>(it - E.begin()) - 1, p, n - 1);
}

std::vector<std::vector<double>> basisDerivs(const Knots& E, int p, int span, double t, int nd)
{
    std::vector<std::vector<double>> ndu(p + 1, std::vector<double>(p + 1, 0.0));
    std::vector<double> left(p + 1), right(p + 1);
    ndu[0][0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        left[j] = t - E[span + 1 - j];
        right[j] = E[span + j] - t;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            ndu[j][r] = right[r + 1] + left[j - r];
            const double temp = ndu[j][r] != 0.0 ? ndu[r][j - 1] / ndu[j][r] : 0.0;
            ndu[r][j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j][j] = saved;
    }
    std::vector<std::vector<double>> ders(nd + 1, std::vector<double>(p + 1, 0.0));
    for (int j = 0; j <= p; ++j)
        ders[0][j] = ndu[j][p];
    std::vector<std::vector<double>> a(2, std::vector<double>(p + 1, 0.0));
    for (int r = 0; r <= p; ++r) {
        int s1 = 0, s2 = 1;
        a[0][0] = 1.0;
        for (int k = 1; k <= nd && k <= p; ++k) {
            double d = 0.0;
            const int rk = r - k, pk = p - k;
            if (r >= k) {
                a[s2][0] = ndu[pk + 1][rk] != 0.0 ? a[s1][0] / ndu[pk + 1][rk] : 0.0;
                d = a[s2][0] * ndu[rk][pk];
            }
            const int j1 = rk >= -1 ? 1 : -rk;
            const int j2 = (r - 1 <= pk) ? k - 1 : p - r;
            for (int j = j1; j <= j2; ++j) {
                a[s2][j] = ndu[pk + 1][rk + j] != 0.0 ? (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j] : 0.0;
                d += a[s2][j] * ndu[rk + j][pk];
            }
            if (r <= pk) {
                a[s2][k] = ndu[pk + 1][r] != 0.0 ? -a[s1][k - 1] / ndu[pk + 1][r] : 0.0;
                d += a[s2][k] * ndu[r][pk];
            }
            ders[k][r] = d;
            std::swap(s1, s2);
        }
    }
    double factor = p;
    for (int k = 1; k <= nd; ++k) {
        for (int j = 0; j <= p; ++j)
            ders[k][j] *= factor;
        factor *= (p - k);
    }
    return ders;
}

std::vector<HPoint> curveDerivsH(const Knots& E, int p, const std::vector<HPoint>& pw, double t, int nd)
{
    const int n = static_cast<int>(pw.size());
    const int span = findSpan(E, p, n, t);
    const auto ders = basisDerivs(E, p, span, t, nd);
    std::vector<HPoint> out(nd + 1, HPoint{0, 0, 0, 0});
    for (int k = 0; k <= nd; ++k)
        for (int j = 0; j <= p; ++j)
            for (int c = 0; c < 4; ++c)
                out[k][c] += ders[k][j] * pw[span - p + j][c];
    return out;
}

namespace {

double binomial(int n, int k)
{
    double r = 1.0;
    for (int i = 1; i <= k; ++i)
        r = r * (n - k + i) / i;
    return r;
}

} // namespace

std::vector<std::array<double, 3>> rationalCurveDerivs(const std::vector<HPoint>& a)
{
    const int nd = static_cast<int>(a.size()) - 1;
    std::vector<std::array<double, 3>> c(nd + 1);
    for (int k = 0; k <= nd; ++k) {
        std::array<double, 3> v{a[k][0], a[k][1], a[k][2]};
        for (int i = 1; i <= k; ++i)
            for (int x = 0; x < 3; ++x)
                v[x] -= binomial(k, i) * a[i][3] * c[k - i][x];
        for (int x = 0; x < 3; ++x)
            c[k][x] = v[x] / a[0][3];
    }
    return c;
}

std::vector<std::vector<std::array<double, 3>>> surfaceDerivs(const Knots& U, int pu, const Knots& V, int pv,
                                                              const std::vector<HPoint>& pw, int m, double u, double v,
                                                              int size)
{
    const int nu = static_cast<int>(pw.size()) / m;
    const int nd = size - 1;
    const int su = findSpan(U, pu, nu, u), sv = findSpan(V, pv, m, v);
    const auto bu = basisDerivs(U, pu, su, u, nd);
    const auto bv = basisDerivs(V, pv, sv, v, nd);
    // Homogeneous S_kl.
    std::vector<std::vector<HPoint>> a(size, std::vector<HPoint>(size, HPoint{0, 0, 0, 0}));
    for (int k = 0; k < size; ++k)
        for (int l = 0; l < size; ++l)
            for (int r = 0; r <= pu; ++r)
                for (int s = 0; s <= pv; ++s) {
                    const double f = bu[k][r] * bv[l][s];
                    const HPoint& q = pw[(su - pu + r) * m + (sv - pv + s)];
                    for (int c = 0; c < 4; ++c)
                        a[k][l][c] += f * q[c];
                }
    std::vector<std::vector<std::array<double, 3>>> s(size, std::vector<std::array<double, 3>>(size));
    for (int k = 0; k < size; ++k)
        for (int l = 0; l < size; ++l) {
            std::array<double, 3> x{a[k][l][0], a[k][l][1], a[k][l][2]};
            for (int j = 1; j <= l; ++j)
                for (int c = 0; c < 3; ++c)
                    x[c] -= binomial(l, j) * a[0][j][3] * s[k][l - j][c];
            for (int i = 1; i <= k; ++i) {
                for (int c = 0; c < 3; ++c)
                    x[c] -= binomial(k, i) * a[i][0][3] * s[k - i][l][c];
                for (int j = 1; j <= l; ++j)
                    for (int c = 0; c < 3; ++c)
                        x[c] -= binomial(k, i) * binomial(l, j) * a[i][j][3] * s[k - i][l - j][c];
            }
            for (int c = 0; c < 3; ++c)
                s[k][l][c] = x[c] / a[0][0][3];
        }
    return s;
}

void insertKnot(Knots& E, int p, std::vector<HPoint>& pw, double u)
{
    const int n = static_cast<int>(pw.size());
    // Last k with E[k] <= u, kept inside the span range so the old points
    // P[k - p .. k] exist.
    int k = static_cast<int>(std::upper_bound(E.begin(), E.end(), u) - E.begin()) - 1;
    k = std::clamp(k, p, n - 1);
    int s = 0;
    for (int i = k; i >= 0 && E[i] == u; --i)
        ++s;
    std::vector<HPoint> q(n + 1);
    for (int i = 0; i <= k - p; ++i)
        q[i] = pw[i];
    for (int i = k - p + 1; i <= k - s; ++i) {
        const double den = E[i + p] - E[i];
        const double alpha = den != 0.0 ? (u - E[i]) / den : 0.0;
        for (int c = 0; c < 4; ++c)
            q[i][c] = alpha * pw[i][c] + (1.0 - alpha) * pw[i - 1][c];
    }
    for (int i = std::max(k - s + 1, k - p + 1); i <= n; ++i)
        q[i] = pw[i - 1];
    E.insert(E.begin() + k + 1, u);
    pw = std::move(q);
}

void clampStart(Knots& E, int p, std::vector<HPoint>& pw, double tol)
{
    const double a = E[p];
    auto multiplicity = [&] {
        return static_cast<int>(std::count_if(E.begin(), E.end(), [&](double x) { return std::fabs(x - a) <= tol; }));
    };
    for (int m = multiplicity(); m < p; ++m)
        insertKnot(E, p, pw, a);
    int s = 0;
    while (std::fabs(E[s] - a) > tol)
        ++s;
    const int m = multiplicity();
    // C(a) = P[s + m - p - 1]: the points and knots before it do not reach the domain.
    const int j0 = std::max(0, s + m - p - 1);
    E.erase(E.begin(), E.begin() + j0);
    pw.erase(pw.begin(), pw.begin() + j0);
    for (int i = 0; i <= p; ++i)
        E[i] = a;
}

} // namespace gk_nurbs
