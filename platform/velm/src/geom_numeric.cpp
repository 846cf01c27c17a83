#include "geom_numeric.hxx"

#include "velm/errors.hxx"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

double dist_sq(const QELvector& c, const QELposition& p) { return (c - to_vec(p)).len_sq(); }

// Newton on (C - p).C' = 0, damped so the distance never grows.
double refine_curve(const curve_evaluator& f, double lo, double hi, bool periodic, const QELposition& p, double t) {
  QELvector c[3];
  f(t, 2, c);
  double best = dist_sq(c[0], p);
  const double span = std::max(hi - lo, 1e-300);
  for (int iter = 0; iter < 60; ++iter) {
    const QELvector d = c[0] - to_vec(p);
    double den = c[1] % c[1] + d % c[2];
    if (den <= 0.0) den = c[1] % c[1];
    if (den <= 0.0) break;
    double step = -(d % c[1]) / den;
    bool moved = false;
    for (int half = 0; half < 30; ++half, step *= 0.5) {
      double tn = t + step;
      if (!periodic) tn = std::clamp(tn, lo, hi);
      QELvector cn[3];
      f(tn, 2, cn);
      const double dn = dist_sq(cn[0], p);
      if (dn <= best) {
        moved = std::fabs(tn - t) > 1e-15 * span;
        t = tn;
        best = dn;
        std::copy(cn, cn + 3, c);
        break;
      }
    }
    if (!moved) {
      // At a knot where the curve only joins (C0) one side's tangent may see no
      // way down: a small step each way finds the other side's.
      const double h = 1e-7 * (1.0 + std::fabs(t));
      for (double tn : {t + h, t - h}) {
        if (!periodic) tn = std::clamp(tn, lo, hi);
        QELvector cn[3];
        f(tn, 2, cn);
        if (const double dn = dist_sq(cn[0], p); dn < best) {
          moved = true, t = tn, best = dn;
          std::copy(cn, cn + 3, c);
          break;
        }
      }
    }
    if (!moved) break;
  }
  return t;
}

}  // namespace

double curve_project(const curve_evaluator& f, double lo, double hi, bool periodic, int samples, const QELposition& p,
                     const double* guess) {
  if (guess) return refine_curve(f, lo, hi, periodic, p, *guess);
  samples = std::max(samples, 4);
  std::vector<double> d(samples + 1);
  QELvector c[3];
  for (int i = 0; i <= samples; ++i) {
    f(lo + (hi - lo) * i / samples, 0, c);
    d[i] = dist_sq(c[0], p);
  }
  double best_t = lo, best_d = HUGE_VAL;
  for (int i = 0; i <= samples; ++i) {
    // Start from every local minimum of the samples.
    const bool local = (i == 0 || d[i] <= d[i - 1]) && (i == samples || d[i] <= d[i + 1]);
    if (!local) continue;
    const double t = refine_curve(f, lo, hi, periodic, p, lo + (hi - lo) * i / samples);
    f(t, 0, c);
    const double dd = dist_sq(c[0], p);
    if (dd < best_d) best_d = dd, best_t = t;
  }
  if (periodic && hi > lo) {
    const double period = hi - lo;
    best_t = lo + std::fmod(std::fmod(best_t - lo, period) + period, period);
    if (hi - best_t < 1e-12 * period) best_t = lo;
  }
  return best_t;
}

namespace {

QELpar_pos clamp_to(const QELpar_box& r, bool pu, bool pv, QELpar_pos uv) {
  if (!pu) uv.u = std::clamp(uv.u, r.u_range().start_pt(), r.u_range().end_pt());
  if (!pv) uv.v = std::clamp(uv.v, r.v_range().start_pt(), r.v_range().end_pt());
  return uv;
}

// At a knot where the surface only joins (C0), the derivatives of one side can
// see no way down although the other side falls away: a small step each way
// along u and v finds it. True when one lowered the distance (uv, best and s
// then follow it).
bool step_off_kink(const surface_evaluator& f, const QELpar_box& r, bool pu, bool pv, const QELposition& p,
                   QELpar_pos& uv, double& best, QELvector s[6]) {
  const double h = 1e-7 * (1.0 + std::fabs(uv.u) + std::fabs(uv.v));
  const QELpar_vec probes[4] = {{h, 0.0}, {-h, 0.0}, {0.0, h}, {0.0, -h}};
  for (const QELpar_vec& d : probes) {
    const QELpar_pos n = clamp_to(r, pu, pv, uv + d);
    QELvector sn[6];
    f(n, 2, sn);
    const double dn = dist_sq(sn[0], p);
    if (dn < best) {
      uv = n;
      best = dn;
      std::copy(sn, sn + 6, s);
      return true;
    }
  }
  return false;
}

QELpar_pos refine_surface(const surface_evaluator& f, const QELpar_box& r, bool pu, bool pv, const QELposition& p,
                          QELpar_pos uv) {
  QELvector s[6];
  f(uv, 2, s);
  double best = dist_sq(s[0], p);
  for (int iter = 0; iter < 80; ++iter) {
    const QELvector d = s[0] - to_vec(p);
    const double g0 = d % s[1], g1 = d % s[2];
    double a = s[1] % s[1] + d % s[3], b = s[1] % s[2] + d % s[4], c = s[2] % s[2] + d % s[5];
    if (a <= 0.0 || c <= 0.0 || a * c - b * b <= 0.0) {
      // Gauss-Newton when the full Hessian is not positive.
      a = s[1] % s[1], b = s[1] % s[2], c = s[2] % s[2];
    }
    double det = a * c - b * b;
    QELpar_vec step;
    if (det > 1e-300 * std::max(1.0, a * c)) {
      step = QELpar_vec(-(c * g0 - b * g1) / det, -(a * g1 - b * g0) / det);
    } else if (a > 0.0 || c > 0.0) {
      // Singular point (a pole): move along the live direction only.
      step = QELpar_vec(a > 0.0 ? -g0 / a : 0.0, c > 0.0 ? -g1 / c : 0.0);
    } else {
      break;
    }
    // A bound the step would leave, in a direction that does not wrap, holds
    // that parameter: the step is then Newton's in the other alone. The step
    // in both, cut short at the bound, is not one towards the foot along it
    // (where the two parameters couple), and left only the kink probe's
    // crawl, 1e-7 an iteration.
    const bool u_held = !pu && ((step.du < 0.0 && uv.u <= r.u_range().start_pt()) ||
                                (step.du > 0.0 && uv.u >= r.u_range().end_pt()));
    const bool v_held = !pv && ((step.dv < 0.0 && uv.v <= r.v_range().start_pt()) ||
                                (step.dv > 0.0 && uv.v >= r.v_range().end_pt()));
    if (u_held != v_held) {
      const double along = u_held ? s[2] % s[2] + d % s[5] : s[1] % s[1] + d % s[3];
      const double curved = along > 0.0 ? along : (u_held ? s[2] % s[2] : s[1] % s[1]);
      if (!(curved > 0.0)) break;
      step = u_held ? QELpar_vec(0.0, -g1 / curved) : QELpar_vec(-g0 / curved, 0.0);
    }
    bool moved = false;
    for (int half = 0; half < 30; ++half, step = 0.5 * step) {
      const QELpar_pos n = clamp_to(r, pu, pv, uv + step);
      QELvector sn[6];
      f(n, 2, sn);
      const double dn = dist_sq(sn[0], p);
      if (dn <= best) {
        moved = (n - uv).len() > 1e-15 * (1.0 + std::fabs(uv.u) + std::fabs(uv.v));
        uv = n;
        best = dn;
        std::copy(sn, sn + 6, s);
        break;
      }
    }
    if (!moved && !(moved = step_off_kink(f, r, pu, pv, p, uv, best, s))) break;
  }
  return uv;
}

double wrap(double x, const QELinterval& r) {
  const double period = r.length();
  double w = r.start_pt() + std::fmod(std::fmod(x - r.start_pt(), period) + period, period);
  if (r.end_pt() - w < 1e-12 * period) w = r.start_pt();
  return w;
}

}  // namespace

QELpar_pos surface_project(const surface_evaluator& f, const QELpar_box& range, bool pu, bool pv, int su, int sv,
                           const QELposition& p, const QELpar_pos* guess) {
  if (guess) return refine_surface(f, range, pu, pv, p, *guess);
  su = std::max(su, 4);
  sv = std::max(sv, 4);
  std::vector<double> d((su + 1) * (sv + 1));
  auto at = [&](int i, int j) {
    return QELpar_pos(range.u_range().interpolate(double(i) / su), range.v_range().interpolate(double(j) / sv));
  };
  QELvector s[6];
  for (int i = 0; i <= su; ++i)
    for (int j = 0; j <= sv; ++j) {
      f(at(i, j), 0, s);
      d[i * (sv + 1) + j] = dist_sq(s[0], p);
    }
  // Refine from the best few samples: enough to escape a wrong basin on the kinds here.
  std::vector<int> order(d.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
  const size_t starts = std::min<size_t>(6, order.size());
  std::partial_sort(order.begin(), order.begin() + starts, order.end(), [&](int a, int b) { return d[a] < d[b]; });
  QELpar_pos best_uv;
  double best_d = HUGE_VAL;
  for (size_t k = 0; k < starts; ++k) {
    const QELpar_pos uv = refine_surface(f, range, pu, pv, p, at(order[k] / (sv + 1), order[k] % (sv + 1)));
    f(uv, 0, s);
    const double dd = dist_sq(s[0], p);
    if (dd < best_d) best_d = dd, best_uv = uv;
  }
  if (pu) best_uv.u = wrap(best_uv.u, range.u_range());
  if (pv) best_uv.v = wrap(best_uv.v, range.v_range());
  return best_uv;
}

namespace {

double gauss5(const curve_evaluator& f, double a, double b) {
  static const double x[5] = {0.0, 0.5384693101056831, -0.5384693101056831, 0.9061798459386640, -0.9061798459386640};
  static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665, 0.2369268850561891,
                              0.2369268850561891};
  const double m = 0.5 * (a + b), h = 0.5 * (b - a);
  double sum = 0.0;
  QELvector c[3];
  for (int i = 0; i < 5; ++i) {
    f(m + h * x[i], 1, c);
    sum += w[i] * c[1].len();
  }
  return sum * h;
}

// Halvings one length may take in all. A curve with a kink or a knot per
// piece settles within a few dozen each; one that never settles (a spline
// evaluated far outside its knots, whose rounding swamps the tolerance)
// would halve every piece 20 times over, 2^20 pieces each.
constexpr long length_halvings = 1L << 16;

double adaptive(const curve_evaluator& f, double a, double b, double whole, int depth, long& budget) {
  const double m = 0.5 * (a + b);
  const double left = gauss5(f, a, m), right = gauss5(f, m, b);
  // A length that is no finite number never settles: halving it again only
  // doubles the work, 2^depth times over.
  if (depth <= 0 || !std::isfinite(left + right) ||
      std::fabs(left + right - whole) <= 1e-12 * std::max(1.0, std::fabs(whole)))
    return left + right;
  if (--budget < 0) velm_api_error_throw(VELM_NO_CONVERGENCE);
  return adaptive(f, a, m, left, depth - 1, budget) + adaptive(f, m, b, right, depth - 1, budget);
}

}  // namespace

double curve_length(const curve_evaluator& f, double t0, double t1) {
  if (t1 < t0) return -curve_length(f, t1, t0);
  if (t1 == t0) return 0.0;
  // Pieces first, so that a kink or knot cannot hide from the error estimate.
  const int pieces = 16;
  double sum = 0.0;
  long budget = length_halvings;
  for (int i = 0; i < pieces; ++i) {
    const double a = t0 + (t1 - t0) * i / pieces, b = t0 + (t1 - t0) * (i + 1) / pieces;
    sum += adaptive(f, a, b, gauss5(f, a, b), 20, budget);
  }
  return sum;
}

QELunit_vector any_perpendicular(const QELvector& n) {
  const QELunit_vector u(n);
  int axis = 0;
  for (int i = 1; i < 3; ++i)
    if (std::fabs(u[i]) < std::fabs(u[axis])) axis = i;
  QELvector e;
  e[axis] = 1.0;
  return normalise(e - (e % u) * u);
}
