// B-spline storage, evaluation, forms and the array interface.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline_data.hxx"

namespace {

double binomial(int n, int k) {
  double r = 1.0;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

QELvector as_vec(const QELposition& p) { return {p.x(), p.y(), p.z()}; }
QELposition as_pos(const QELvector& v) { return {v.x(), v.y(), v.z()}; }

template <class T>
T* new_copy(const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  T* r = new T[v.size()];
  std::copy(v.begin(), v.end(), r);
  return r;
}

}  // namespace

// ---- one direction ----

int bs_direction::span(double t, int side) const {
  const int p = degree, n = count();
  int i;
  if (side < 0) {
    const auto it = std::lower_bound(knots.begin() + p + 1, knots.begin() + n + 1, t);
    i = static_cast<int>(it - knots.begin()) - 1;
  } else {
    const auto it = std::upper_bound(knots.begin() + p, knots.begin() + n, t);
    i = static_cast<int>(it - knots.begin()) - 1;
  }
  i = std::clamp(i, p, n - 1);
  // Never a span of zero length: step to the nearest real one inside the domain.
  while (i > p && knots[i] == knots[i + 1]) --i;
  while (i < n - 1 && knots[i] == knots[i + 1]) ++i;
  return i;
}

namespace {

// Scratch rows of the basis evaluation, kept per thread so that evaluating a
// point allocates nothing once the largest degree in use has been seen.
struct BasisScratch {
  std::vector<double> ndu, left, right, a;
  void fit(int p) {
    const std::size_t n = static_cast<std::size_t>(p + 1);
    if (left.size() < n) {
      ndu.resize(n * n);
      left.resize(n);
      right.resize(n);
      a.resize(2 * n);
    }
  }
};

BasisScratch& basis_scratch() {
  thread_local BasisScratch scratch;
  return scratch;
}

}  // namespace

void bs_direction::basis(int i, double t, int nd, double* ders) const {
  const int p = degree, w = p + 1;
  const std::vector<double>& U = knots;
  // The usual degrees work on the stack; only a high one needs the thread's rows.
  constexpr int kStackWidth = 10;
  double stack_ndu[kStackWidth * kStackWidth], stack_left[kStackWidth], stack_right[kStackWidth],
      stack_a[2 * kStackWidth];
  double *ndu = stack_ndu, *left = stack_left, *right = stack_right, *a = stack_a;
  if (w > kStackWidth) {
    BasisScratch& s = basis_scratch();
    s.fit(p);
    ndu = s.ndu.data();
    left = s.left.data();
    right = s.right.data();
    a = s.a.data();
  }
  // ndu[j][r] is ndu[j * w + r]; a[s][j] is a[s * w + j]. The triangle below
  // sets every entry of ndu that is read.
  ndu[0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = t - U[i + 1 - j];
    right[j] = U[i + j] - t;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      ndu[j * w + r] = right[r + 1] + left[j - r];
      const double temp = ndu[r * w + j - 1] / ndu[j * w + r];
      ndu[r * w + j] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    ndu[j * w + j] = saved;
  }
  for (int j = 0; j <= p; ++j) ders[j] = ndu[j * w + p];
  if (nd <= 0) return;
  std::fill(ders + w, ders + (nd + 1) * w, 0.0);
  const int top = std::min(nd, p);
  std::fill(a, a + 2 * w, 0.0);
  for (int r = 0; r <= p; ++r) {
    int s1 = 0, s2 = 1;
    a[0] = 1.0;
    for (int k = 1; k <= top; ++k) {
      double d = 0.0;
      const int rk = r - k, pk = p - k;
      if (r >= k) {
        a[s2 * w] = a[s1 * w] / ndu[(pk + 1) * w + rk];
        d = a[s2 * w] * ndu[rk * w + pk];
      }
      const int j1 = rk >= -1 ? 1 : -rk;
      const int j2 = (r - 1 <= pk) ? k - 1 : p - r;
      for (int j = j1; j <= j2; ++j) {
        a[s2 * w + j] = (a[s1 * w + j] - a[s1 * w + j - 1]) / ndu[(pk + 1) * w + rk + j];
        d += a[s2 * w + j] * ndu[(rk + j) * w + pk];
      }
      if (r <= pk) {
        a[s2 * w + k] = -a[s1 * w + k - 1] / ndu[(pk + 1) * w + r];
        d += a[s2 * w + k] * ndu[r * w + pk];
      }
      ders[k * w + r] = d;
      std::swap(s1, s2);
    }
  }
  double f = p;
  for (int k = 1; k <= top; ++k) {
    for (int j = 0; j <= p; ++j) ders[k * w + j] *= f;
    f *= (p - k);
  }
}

bool bs_direction::clamped() const {
  const int n = count();
  for (int k = 1; k <= degree; ++k)
    if (knots[k] != knots[0] || knots[n + k] != knots[n]) return false;
  return true;
}

// ---- curves ----

double bs_direction::reduce(double t) const {
  if (form != 2 || count() <= degree) return t;
  const double lo = knots[degree], hi = knots[count()], period = hi - lo;
  if (period <= 0.0 || (t >= lo && t <= hi)) return t;
  // A parameter a rounding outside the domain is at the near end, not a
  // period round: a pcurve periodic in its surface's period need not close in
  // its own plane (a whole circle's pcurve on a torus runs a period in v), and
  // a coedge range a rounding wider than its pcurve's domain put the pcurve's
  // start at its end there.
  const double rounding = 1e-12 * std::max({std::fabs(lo), std::fabs(hi), period});
  if (t < lo && t >= lo - rounding) return lo;
  if (t > hi && t <= hi + rounding) return hi;
  double r = std::fmod(t - lo, period);
  if (r < 0.0) r += period;
  return lo + r;
}

void bs_curve_data::eval(double t, int nd, QELvector* out, int side) const {
  t = dir.reduce(t);
  const int p = dir.degree;
  const int i = dir.span(t, side);
  const int width = p + 1;
  // Stack rows for the usual degrees and orders, the thread's beyond them.
  constexpr int kStackOrders = 4, kStackBasis = 40;
  double stack_N[kStackBasis], stack_w[kStackOrders];
  QELvector stack_A[kStackOrders];
  const std::size_t rows = static_cast<std::size_t>((nd + 1) * width);
  double* N = stack_N;
  QELvector* A = stack_A;
  double* w = stack_w;
  if (rows > kStackBasis || nd >= kStackOrders) {
    thread_local std::vector<double> heap_N, heap_w;
    thread_local std::vector<QELvector> heap_A;
    heap_N.resize(rows);
    heap_A.resize(nd + 1);
    heap_w.resize(nd + 1);
    N = heap_N.data();
    A = heap_A.data();
    w = heap_w.data();
  }
  dir.basis(i, t, nd, N);
  std::fill(A, A + nd + 1, QELvector());
  std::fill(w, w + nd + 1, 0.0);
  for (int k = 0; k <= nd; ++k)
    for (int j = 0; j <= p; ++j) {
      const int idx = i - p + j;
      const double nw = N[k * width + j] * weight(idx);
      A[k] += nw * as_vec(pts[idx]);
      w[k] += nw;
    }
  // Quotient rule for the rational case; w is 1, 0, 0, ... otherwise.
  for (int k = 0; k <= nd; ++k) {
    QELvector v = A[k];
    for (int j = 1; j <= k; ++j) v -= binomial(k, j) * w[j] * out[k - j];
    out[k] = v / w[0];
  }
}

QELposition bs_curve_data::position(double t) const {
  QELvector v;
  eval(t, 0, &v);
  return as_pos(v);
}

// ---- surfaces (evaluation) ----

namespace {
// The point of the patch whose spans end at (iu, iv), from the position rows
// of the two bases: the sum eval and eval_grid both make, in one order.
QELposition patch_point(const bs3_surf_def& s, int iu, int iv, const double* NU, const double* NV) {
  const int pu = s.u.degree, pv = s.v.degree, row = s.nv();
  const QELposition* P = s.pts.data();
  const double* W = s.rational ? s.weights.data() : nullptr;
  double ax = 0.0, ay = 0.0, az = 0.0, w = 0.0;
  for (int a = 0; a <= pu; ++a)
    for (int b = 0; b <= pv; ++b) {
      const int at_ij = (iu - pu + a) * row + (iv - pv + b);
      const double nw = NU[a] * NV[b] * (W ? W[at_ij] : 1.0);
      ax += nw * P[at_ij].x();
      ay += nw * P[at_ij].y();
      az += nw * P[at_ij].z();
      w += nw;
    }
  return as_pos(QELvector(ax, ay, az) / w);
}
}  // namespace

void bs3_surf_def::eval(const QELpar_pos& uv, QELposition& pos, int nd, QELvector* d, int uside,
                        int vside) const {
  const QELpar_pos at(u.reduce(uv.u), v.reduce(uv.v));
  const int pu = u.degree, pv = v.degree;
  const int iu = u.span(at.u, uside), iv = v.span(at.v, vside);
  const int wu = pu + 1, wv = pv + 1;
  constexpr int kStackBasis = 40;
  double stack_Nu[kStackBasis], stack_Nv[kStackBasis];
  double* NU_rows = stack_Nu;
  double* NV_rows = stack_Nv;
  if ((nd + 1) * std::max(wu, wv) > kStackBasis) {
    thread_local std::vector<double> Nu, Nv;
    Nu.resize(static_cast<std::size_t>((nd + 1) * wu));
    Nv.resize(static_cast<std::size_t>((nd + 1) * wv));
    NU_rows = Nu.data();
    NV_rows = Nv.data();
  }
  u.basis(iu, at.u, nd, NU_rows);
  v.basis(iv, at.v, nd, NV_rows);
  if (nd == 0) {
    pos = patch_point(*this, iu, iv, NU_rows, NV_rows);
    return;
  }
  // Sums in plain doubles: this loop is the inner loop of every projection.
  double ax[3][3] = {}, ay[3][3] = {}, az[3][3] = {};
  double w[3][3] = {};
  const int row = nv();
  const QELposition* P = pts.data();
  const double* W = rational ? weights.data() : nullptr;
  const double* NU = NU_rows;
  const double* NV = NV_rows;
  for (int a = 0; a <= pu; ++a)
    for (int b = 0; b <= pv; ++b) {
      const int at_ij = (iu - pu + a) * row + (iv - pv + b);
      const double x = P[at_ij].x(), y = P[at_ij].y(), z = P[at_ij].z();
      const double wt = W ? W[at_ij] : 1.0;
      for (int k = 0; k <= nd; ++k)
        for (int l = 0; l + k <= nd; ++l) {
          const double nw = NU[k * wu + a] * NV[l * wv + b] * wt;
          ax[k][l] += nw * x;
          ay[k][l] += nw * y;
          az[k][l] += nw * z;
          w[k][l] += nw;
        }
    }
  QELvector A[3][3];
  for (int k = 0; k <= nd; ++k)
    for (int l = 0; l + k <= nd; ++l) A[k][l] = QELvector(ax[k][l], ay[k][l], az[k][l]);
  QELvector S[3][3];
  for (int k = 0; k <= nd; ++k)
    for (int l = 0; l + k <= nd; ++l) {
      QELvector val = A[k][l];
      for (int j = 1; j <= l; ++j) val -= binomial(l, j) * w[0][j] * S[k][l - j];
      for (int i = 1; i <= k; ++i) {
        val -= binomial(k, i) * w[i][0] * S[k - i][l];
        QELvector v2;
        for (int j = 1; j <= l; ++j) v2 += binomial(l, j) * w[i][j] * S[k - i][l - j];
        val -= binomial(k, i) * v2;
      }
      S[k][l] = val / w[0][0];
    }
  pos = as_pos(S[0][0]);
  if (nd >= 1) {
    d[0] = S[1][0];
    d[1] = S[0][1];
  }
  if (nd >= 2) {
    d[2] = S[2][0];
    d[3] = S[1][1];
    d[4] = S[0][2];
  }
}

void bs3_surf_def::eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const {
  const int pu = u.degree, pv = v.degree, wu = pu + 1, wv = pv + 1;
  // Spans and basis rows of each line, then each point by the sum eval makes.
  std::vector<int> su(us.size()), sv(vs.size());
  std::vector<double> bu(us.size() * wu), bv(vs.size() * wv);
  for (std::size_t i = 0; i < us.size(); ++i) {
    const double t = u.reduce(us[i]);
    su[i] = u.span(t, 0);
    u.basis(su[i], t, 0, &bu[i * wu]);
  }
  for (std::size_t j = 0; j < vs.size(); ++j) {
    const double t = v.reduce(vs[j]);
    sv[j] = v.span(t, 0);
    v.basis(sv[j], t, 0, &bv[j * wv]);
  }
  for (std::size_t i = 0; i < us.size(); ++i)
    for (std::size_t j = 0; j < vs.size(); ++j)
      out[i * vs.size() + j] = patch_point(*this, su[i], sv[j], &bu[i * wu], &bv[j * wv]);
}

// ---- building and forms ----

namespace {

bool all_finite(const std::vector<QELposition>& pts, const std::vector<double>& weights) {
  for (const QELposition& p : pts)
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) return false;
  for (double w : weights)
    if (!std::isfinite(w)) return false;
  return true;
}

// Open CASCADE's highest degree (Geom_BSplineCurve::MaxDegree).
constexpr int occ_max_degree = 25;

const char* direction_problem(const bs_direction& d, int n) {
  const int p = d.degree;
  if (p < 1 || p > occ_max_degree) return "a degree out of range";
  if (n < p + 1 || d.knots.size() != static_cast<std::size_t>(n + p + 1)) return "too few control points for the knots";
  for (double k : d.knots)
    if (!std::isfinite(k)) return "a knot that is not a finite number";
  for (std::size_t i = 1; i < d.knots.size(); ++i)
    if (d.knots[i] < d.knots[i - 1]) return "knots that fall";
  if (!(d.knots[n] > d.knots[p])) return "an empty parameter range";
  // Inside the vector a knot may repeat up to the degree; its ends, once more.
  const std::size_t last = d.knots.size() - 1;
  for (std::size_t i = 0, run = 1; i < last; ++i) {
    run = d.knots[i + 1] == d.knots[i] ? run + 1 : 1;
    const bool at_end = d.knots[i + 1] == d.knots[0] || d.knots[i + 1] == d.knots[last];
    if (run > static_cast<std::size_t>(p + (at_end ? 1 : 0))) return "a knot repeated beyond the degree";
  }
  return nullptr;
}

const char* points_problem(const std::vector<QELposition>& pts, std::size_t count, bool rational,
                           const std::vector<double>& weights) {
  if (pts.size() != count) return "control points that do not match the knots";
  if (rational && weights.size() != count) return "not one weight per control point";
  if (!all_finite(pts, weights)) return "a control point or weight that is not a finite number";
  if (rational)
    for (double w : weights)
      if (!(w > 0.0)) return "a weight that is not positive";
  return nullptr;
}

}  // namespace

const char* bs_curve_problem(const bs_curve_data& c) {
  if (const char* why = direction_problem(c.dir, c.n())) return why;
  return points_problem(c.pts, c.pts.size(), c.rational, c.weights);
}

const char* bs_surface_problem(const bs3_surf_def& s) {
  if (const char* why = direction_problem(s.u, s.nu())) return why;
  if (const char* why = direction_problem(s.v, s.nv())) return why;
  return points_problem(s.pts, static_cast<std::size_t>(s.nu()) * static_cast<std::size_t>(s.nv()), s.rational,
                        s.weights);
}

bool bs_direction_build(bs_direction& d, int degree, int n, int nk, const double knots[], double knot_tol) {
  if (degree < 1 || n < degree + 1) return false;
  d.degree = degree;
  if (!knots) {
    // Uniform clamped vector on [0, 1].
    d.knots.assign(n + degree + 1, 0.0);
    for (int i = degree + 1; i < n; ++i) d.knots[i] = double(i - degree) / (n - degree);
    std::fill(d.knots.begin() + n, d.knots.end(), 1.0);
    return true;
  }
  if (nk != n + degree + 1) return false;
  for (int i = 0; i < nk; ++i)
    if (!std::isfinite(knots[i])) return false;
  d.knots.assign(knots, knots + nk);
  for (int i = 1; i < nk; ++i) {
    if (d.knots[i] < d.knots[i - 1] - knot_tol) return false;
    if (d.knots[i] - d.knots[i - 1] <= knot_tol) d.knots[i] = d.knots[i - 1];
  }
  // Every span of the domain must be real somewhere: the domain may not be a point,
  // and no knot may repeat more than p + 1 times.
  if (!(d.knots[n] > d.knots[degree])) return false;
  for (int i = 0, run = 1; i + 1 < nk; ++i) {
    run = d.knots[i + 1] == d.knots[i] ? run + 1 : 1;
    if (run > degree + 1) return false;
  }
  return true;
}

namespace {

bool seam_is_c1(const bs_curve_data& c) {
  const QELinterval r = c.range();
  QELvector a[2], b[2];
  c.eval(r.start_pt(), 1, a, 1);
  c.eval(r.end_pt(), 1, b, -1);
  const double scale = std::max(a[1].len(), b[1].len());
  return scale > 0.0 && (a[1] - b[1]).len() <= 1e-6 * scale;
}

bool wrapped(const bs_curve_data& c, double tol) {
  const bs_direction& d = c.dir;
  const int n = c.n(), p = d.degree;
  if (n < 2 * p) return false;
  for (int i = 0; i < p; ++i)
    if (!same_point(c.pts[i], c.pts[n - p + i], tol) || std::fabs(c.weight(i) - c.weight(n - p + i)) > 1e-12)
      return false;
  const double period = d.knots[n] - d.knots[p];
  const double ktol = std::max(1.0, std::fabs(period)) * 1e-10;
  for (int i = 0; i + n - p < static_cast<int>(d.knots.size()); ++i)
    if (std::fabs(d.knots[i + n - p] - d.knots[i] - period) > ktol) return false;
  return true;
}

}  // namespace

int bs_curve_form(const bs_curve_data& c, double tol) {
  const QELinterval r = c.range();
  if (!same_point(c.position(r.start_pt()), c.position(r.end_pt()), tol)) return 0;
  if (c.dir.clamped() ? seam_is_c1(c) : wrapped(c, tol)) return 2;
  return 1;
}

namespace {

bs_curve_data row_curve(const bs3_surf_def& s, bool along_u, int index) {
  bs_curve_data c;
  c.dir = along_u ? s.u : s.v;
  c.rational = s.rational;
  const int n = along_u ? s.nu() : s.nv();
  for (int k = 0; k < n; ++k) {
    const int i = along_u ? k : index, j = along_u ? index : k;
    c.pts.push_back(s.pt(i, j));
    if (s.rational) c.weights.push_back(s.weight(i, j));
  }
  return c;
}

}  // namespace

int bs_surface_form(const bs3_surf_def& s, bool along_u, double tol) {
  int form = 2;
  const int rows = along_u ? s.nv() : s.nu();
  for (int r = 0; r < rows && form > 0; ++r) {
    const bs_curve_data c = row_curve(s, along_u, r);
    const QELinterval range = c.range();
    // A collapsed row has no tangent at the seam; closure alone counts there.
    const bool closes = same_point(c.position(range.start_pt()), c.position(range.end_pt()), tol);
    const bool collapsed = distance(c.pts.front(), c.pts.back()) <= tol &&
                           std::all_of(c.pts.begin(), c.pts.end(),
                                       [&](const QELposition& p) { return same_point(p, c.pts.front(), tol); });
    form = !closes ? 0 : collapsed ? form : std::min(form, bs_curve_form(c, tol));
  }
  return form;
}

bool bs_curve_build(bs_curve_data& c, int degree, int rational, int closed, int periodic, int n,
                    const QELposition pts[], const double weights[], double point_tol, int nk,
                    const double knots[], double knot_tol) {
  if (!pts || !bs_direction_build(c.dir, degree, n, nk, knots, knot_tol)) return false;
  c.rational = rational != 0;
  if (c.rational) {
    if (!weights) return false;
    c.weights.assign(weights, weights + n);
    for (double w : c.weights)
      if (!(w > 0.0)) return false;
  }
  c.pts.assign(pts, pts + n);
  if (!all_finite(c.pts, c.weights)) return false;
  c.point_tol = point_tol > 0.0 ? point_tol : QELresabs;
  const int requested = periodic ? 2 : closed ? 1 : 0;
  c.dir.form = requested ? std::min(requested, bs_curve_form(c, c.point_tol)) : 0;
  return true;
}

void bs_curve_to_arrays(const bs_curve_data& c, int& dim, int& degree, int& rational, int& n,
                        QELposition*& pts, double*& weights, int& nk, double*& knots, int dimension) {
  dim = dimension;
  degree = c.dir.degree;
  rational = c.rational ? 1 : 0;
  n = c.n();
  pts = new_copy(c.pts);
  weights = c.rational ? new_copy(c.weights) : nullptr;
  nk = static_cast<int>(c.dir.knots.size());
  knots = new_copy(c.dir.knots);
}

void bs_curve_reverse(bs_curve_data& c) {
  std::reverse(c.pts.begin(), c.pts.end());
  std::reverse(c.weights.begin(), c.weights.end());
  std::vector<double>& k = c.dir.knots;
  std::reverse(k.begin(), k.end());
  for (double& x : k) x = -x;
}

void bs_direction_reparam(bs_direction& d, double t0, double t1) {
  const QELinterval r = d.range();
  const double f = (t1 - t0) / r.length();
  const double a = r.start_pt();
  for (double& x : d.knots) x = t0 + (x - a) * f;
}

// ---- public curve functions shared by 3-D and 2-D ----

namespace {

template <class C>
C* build_curve(int degree, int rational, int closed, int periodic, int n, const QELposition pts[],
               const double weights[], double point_tol, int nk, const double knots[], double knot_tol) {
  C* c = VELM_MAKE(C);
  if (!bs_curve_build(*c, degree, rational, closed, periodic, n, pts, weights, point_tol, nk, knots, knot_tol)) {
    delete c;
    return nullptr;
  }
  return c;
}

void debug_curve(const bs_curve_data* c, const char* leader, FILE* fp, const char* kind) {
  if (!c) {
    std::fprintf(fp, "%s%s null\n", leader, kind);
    return;
  }
  std::fprintf(fp, "%s%s degree %d rational %d form %d points %d knots %zu\n", leader, kind, c->dir.degree,
               c->rational ? 1 : 0, c->dir.form, c->n(), c->dir.knots.size());
  for (int i = 0; i < c->n(); ++i)
    std::fprintf(fp, "%s  point %d: %.17g %.17g %.17g w %.17g\n", leader, i, c->pts[i].x(), c->pts[i].y(),
                 c->pts[i].z(), c->weight(i));
  for (size_t i = 0; i < c->dir.knots.size(); ++i)
    std::fprintf(fp, "%s  knot %zu: %.17g\n", leader, i, c->dir.knots[i]);
}

}  // namespace

bs3_curve bs3_curve_from_ctrlpts(int degree, int rational, int closed, int periodic, int n, const QELposition pts[],
                                 const double weights[], double point_tol, int nk, const double knots[],
                                 double knot_tol) {
  return build_curve<bs3_curve_def>(degree, rational, closed, periodic, n, pts, weights, point_tol, nk, knots,
                                    knot_tol);
}

void bs3_curve_to_array(bs3_curve c, int& dim, int& degree, int& rational, int& n, QELposition*& pts,
                        double*& weights, int& nk, double*& knots) {
  bs_curve_to_arrays(*c, dim, degree, rational, n, pts, weights, nk, knots, 3);
}

int bs3_curve_periodic(bs3_curve c) { return c->dir.form == 2; }
int bs3_curve_closed(bs3_curve c) { return c->dir.form >= 1; }
int bs3_curve_open(bs3_curve c) { return c->dir.form == 0; }
void bs3_curve_set_open(bs3_curve c) { c->dir.form = 0; }
void bs3_curve_set_closed(bs3_curve c) { c->dir.form = 1; }
void bs3_curve_set_periodic(bs3_curve c) { c->dir.form = 2; }
void bs3_curve_determine_form(bs3_curve c) { c->dir.form = bs_curve_form(*c, c->point_tol); }
bs3_curve bs3_curve_copy(bs3_curve c) { return c ? VELM_MAKE(bs3_curve_def, *c) : nullptr; }
void bs3_curve_delete(bs3_curve& c) {
  delete c;
  c = nullptr;
}
void bs3_curve_reverse(bs3_curve c) { bs_curve_reverse(*c); }
void bs3_curve_reparam(double t0, double t1, bs3_curve c) { bs_direction_reparam(c->dir, t0, t1); }
QELinterval bs3_curve_range(bs3_curve c) { return c->range(); }
int bs3_curve_degree(bs3_curve c) { return c->dir.degree; }
int bs3_curve_rational(bs3_curve c) { return c->rational; }
double bs3_curve_period(bs3_curve c) { return c->dir.form == 2 ? c->range().length() : 0.0; }
void bs3_curve_knots(bs3_curve c, int& n, double*& knots) {
  n = static_cast<int>(c->dir.knots.size());
  knots = new_copy(c->dir.knots);
}
void bs3_curve_weights(bs3_curve c, int& n, double*& weights) {
  n = c->rational ? c->n() : 0;
  weights = c->rational ? new_copy(c->weights) : nullptr;
}
int bs3_curve_num_ctrlpts(bs3_curve c) { return c->n(); }
void bs3_curve_control_points(bs3_curve c, int& n, QELposition*& pts) {
  n = c->n();
  pts = new_copy(c->pts);
}
void bs3_curve_set_ctrlpt(bs3_curve c, int index, const QELposition& p, double weight) {
  c->pts.at(index) = p;
  if (c->rational) c->weights.at(index) = weight;
}

void bs3_curve_evaluate(double t, bs3_curve c, QELposition& pos, QELvector* derivs, int n, int side) {
  std::vector<QELvector> out(n + 1);
  c->eval(t, n, out.data(), side);
  pos = as_pos(out[0]);
  for (int k = 0; k < n; ++k) derivs[k] = out[k + 1];
}

void bs3_curve_eval(double t, bs3_curve c, QELposition& pos, QELvector* d1, QELvector* d2, int side) {
  QELvector d[2];
  bs3_curve_evaluate(t, c, pos, d, d2 ? 2 : d1 ? 1 : 0, side);
  if (d1) *d1 = d[0];
  if (d2) *d2 = d[1];
}

QELposition bs3_curve_position(double t, bs3_curve c) { return c->position(t); }

QELunit_vector bs3_curve_start_tangent(bs3_curve c) {
  QELvector d[2];
  c->eval(c->range().start_pt(), 1, d, 1);
  return normalise(d[1]);
}

QELunit_vector bs3_curve_end_tangent(bs3_curve c) {
  QELvector d[2];
  c->eval(c->range().end_pt(), 1, d, -1);
  return normalise(d[1]);
}

bs3_curve bs3_curve_from_bs2(bs2_curve c) {
  if (!c) return nullptr;
  bs3_curve r = VELM_MAKE(bs3_curve_def);
  static_cast<bs_curve_data&>(*r) = *c;
  return r;
}
bs3_curve bs2_curve_to_bs3_curve(bs2_curve c) { return bs3_curve_from_bs2(c); }

double bs3_curve_set_fitol(int n, const QELposition samples[], double tol) {
  return n >= 2 && distance(samples[0], samples[n - 1]) > 0.0 ? tol : 0.0;
}

void bs3_curve_debug(bs3_curve c, const char* leader, FILE* fp) { debug_curve(c, leader, fp, "bs3_curve"); }

// ---- 2-D curves ----

bs2_curve bs2_curve_from_ctrlpts(int degree, int rational, int closed, int periodic, int n, const QELposition pts[],
                                 const double weights[], double point_tol, int nk, const double knots[],
                                 double knot_tol) {
  bs2_curve c = build_curve<bs2_curve_def>(degree, rational, closed, periodic, n, pts, weights, point_tol, nk,
                                           knots, knot_tol);
  if (c)
    for (QELposition& p : c->pts) p.set_z(0.0);
  return c;
}

void bs2_curve_to_array(bs2_curve c, int& dim, int& degree, int& rational, int& n, QELposition*& pts,
                        double*& weights, int& nk, double*& knots) {
  bs_curve_to_arrays(*c, dim, degree, rational, n, pts, weights, nk, knots, 2);
}

bs2_curve bs2_curve_copy(bs2_curve c) { return c ? VELM_MAKE(bs2_curve_def, *c) : nullptr; }
void bs2_curve_delete(bs2_curve& c) {
  delete c;
  c = nullptr;
}
void bs2_curve_reverse(bs2_curve c) { bs_curve_reverse(*c); }
QELinterval bs2_curve_range(bs2_curve c) { return c->range(); }
void bs2_curve_reparam(double t0, double t1, bs2_curve c) { bs_direction_reparam(c->dir, t0, t1); }
int bs2_curve_closed(bs2_curve c) { return c->dir.form >= 1; }
int bs2_curve_periodic(bs2_curve c) { return c->dir.form == 2; }
void bs2_curve_set_open(bs2_curve c) { c->dir.form = 0; }
void bs2_curve_set_closed(bs2_curve c) { c->dir.form = 1; }
void bs2_curve_set_periodic(bs2_curve c) { c->dir.form = 2; }
void bs2_curve_set_ctrlpt(bs2_curve c, int index, const QELpar_pos& p, double weight) {
  c->pts.at(index) = QELposition(p.u, p.v, 0.0);
  if (c->rational) c->weights.at(index) = weight;
}

void bs2_curve_eval(double t, bs2_curve c, QELpar_pos& uv, QELpar_vec* d1, QELpar_vec* d2, int side) {
  QELvector out[3];
  c->eval(t, d2 ? 2 : d1 ? 1 : 0, out, side);
  uv = QELpar_pos(out[0].x(), out[0].y());
  if (d1) *d1 = QELpar_vec(out[1].x(), out[1].y());
  if (d2) *d2 = QELpar_vec(out[2].x(), out[2].y());
}

int bs2_curve_degree(bs2_curve c) { return c->dir.degree; }
void bs2_curve_knots(bs2_curve c, int& n, double*& knots) {
  n = static_cast<int>(c->dir.knots.size());
  knots = new_copy(c->dir.knots);
}

QELpar_box bs2_curve_box(bs2_curve c, double tol) {
  QELbox b;
  for (const QELposition& p : c->pts) b |= p;
  return QELpar_box(QELinterval(b.low().x() - tol, b.high().x() + tol),
                    QELinterval(b.low().y() - tol, b.high().y() + tol));
}

void bs2_curve_par_trans(bs2_curve c, const QELpar_transf& t) {
  for (QELposition& p : c->pts) {
    const QELpar_pos q = QELpar_pos(p.x(), p.y()) * t;
    p = QELposition(q.u, q.v, 0.0);
  }
}

void bs2_curve_debug(bs2_curve c, const char* leader, FILE* fp) { debug_curve(c, leader, fp, "bs2_curve"); }

// ---- surfaces ----

bs3_surface bs3_surface_from_ctrlpts(int u_degree, int rational, int u_form, int u_pole, int num_u, int v_degree,
                                     int rational_v, int v_form, int v_pole, int num_v, const QELposition pts[],
                                     const double weights[], double point_tol, int num_uknots,
                                     const double uknots[], int num_vknots, const double vknots[],
                                     double knot_tol) {
  if (!pts) return nullptr;
  bs3_surface s = VELM_MAKE(bs3_surf_def);
  s->rational = rational || rational_v;
  s->point_tol = point_tol > 0.0 ? point_tol : QELresabs;
  bool ok = bs_direction_build(s->u, u_degree, num_u, num_uknots, uknots, knot_tol) &&
            bs_direction_build(s->v, v_degree, num_v, num_vknots, vknots, knot_tol);
  if (ok) {
    s->pts.assign(pts, pts + num_u * num_v);
    if (s->rational) {
      ok = weights != nullptr;
      if (ok) s->weights.assign(weights, weights + num_u * num_v);
      for (double w : s->weights) ok = ok && w > 0.0;
    }
    ok = ok && all_finite(s->pts, s->weights);
  }
  if (!ok) {
    delete s;
    return nullptr;
  }
  s->u.pole = u_pole & 3;
  s->v.pole = v_pole & 3;
  s->u.form = u_form ? std::min(u_form, bs_surface_form(*s, true, s->point_tol)) : 0;
  s->v.form = v_form ? std::min(v_form, bs_surface_form(*s, false, s->point_tol)) : 0;
  return s;
}

void bs3_surface_to_array(bs3_surface s, int& dim, int& rational_u, int& rational_v, int& form_u, int& form_v,
                          int& pole_u, int& pole_v, int& num_u, int& num_v, QELposition*& ctrlpts,
                          double*& weights, int& degree_u, int& num_uknots, double*& uknots, int& degree_v,
                          int& num_vknots, double*& vknots) {
  dim = 3;
  rational_u = rational_v = s->rational ? 1 : 0;
  form_u = s->u.form;
  form_v = s->v.form;
  pole_u = s->u.pole;
  pole_v = s->v.pole;
  num_u = s->nu();
  num_v = s->nv();
  ctrlpts = new_copy(s->pts);
  weights = s->rational ? new_copy(s->weights) : nullptr;
  degree_u = s->u.degree;
  num_uknots = static_cast<int>(s->u.knots.size());
  uknots = new_copy(s->u.knots);
  degree_v = s->v.degree;
  num_vknots = static_cast<int>(s->v.knots.size());
  vknots = new_copy(s->v.knots);
}

namespace {

// True when the control points of the net row (along_u false: row i) or column collapse.
bool collapsed(const QELposition pts[], int nu, int nv, bool row, int index, double tol) {
  const int n = row ? nv : nu;
  const QELposition& first = row ? pts[index * nv] : pts[index];
  for (int k = 1; k < n; ++k)
    if (!same_point(row ? pts[index * nv + k] : pts[k * nv + index], first, tol)) return false;
  return true;
}

}  // namespace

void set_poles(QELposition pts[], int nu, int nv, double tol, int& u_pole, int& v_pole) {
  u_pole = (collapsed(pts, nu, nv, true, 0, tol) ? 1 : 0) | (collapsed(pts, nu, nv, true, nu - 1, tol) ? 2 : 0);
  v_pole = (collapsed(pts, nu, nv, false, 0, tol) ? 1 : 0) | (collapsed(pts, nu, nv, false, nv - 1, tol) ? 2 : 0);
}

void set_poles(bs3_surface s, double tol) { set_poles(s->pts.data(), s->nu(), s->nv(), tol, s->u.pole, s->v.pole); }

void bs3_surface_determine_form_u(bs3_surface s) { s->u.form = bs_surface_form(*s, true, s->point_tol); }
void bs3_surface_determine_form_v(bs3_surface s) { s->v.form = bs_surface_form(*s, false, s->point_tol); }
int bs3_surface_closed_u(bs3_surface s) { return s->u.form >= 1; }
int bs3_surface_closed_v(bs3_surface s) { return s->v.form >= 1; }
int bs3_surface_periodic_u(bs3_surface s) { return s->u.form == 2; }
int bs3_surface_periodic_v(bs3_surface s) { return s->v.form == 2; }
void bs3_surface_set_open_u(bs3_surface s) { s->u.form = 0; }
void bs3_surface_set_open_v(bs3_surface s) { s->v.form = 0; }
void bs3_surface_set_closed_u(bs3_surface s) { s->u.form = 1; }
void bs3_surface_set_closed_v(bs3_surface s) { s->v.form = 1; }
void bs3_surface_set_periodic_u(bs3_surface s) { s->u.form = 2; }
void bs3_surface_set_periodic_v(bs3_surface s) { s->v.form = 2; }
QELpar_box bs3_surface_range(bs3_surface s) { return {s->u.range(), s->v.range()}; }
bs3_surface bs3_surface_copy(bs3_surface s) { return s ? VELM_MAKE(bs3_surf_def, *s) : nullptr; }
void bs3_surface_delete(bs3_surface& s) {
  delete s;
  s = nullptr;
}

void bs3_surface_eval(const QELpar_pos& uv, bs3_surface s, QELposition& pos, QELvector* d1, QELvector* d2) {
  QELvector d[5];
  s->eval(uv, pos, d2 ? 2 : d1 ? 1 : 0, d);
  if (d1) d1[0] = d[0], d1[1] = d[1];
  if (d2) d2[0] = d[2], d2[1] = d[3], d2[2] = d[4];
}

void bs3_surface_control_points(bs3_surface s, int& num_u, int& num_v, QELposition*& pts) {
  num_u = s->nu();
  num_v = s->nv();
  pts = new_copy(s->pts);
}
int bs3_surface_degree_u(bs3_surface s) { return s->u.degree; }
int bs3_surface_degree_v(bs3_surface s) { return s->v.degree; }
void bs3_surface_knots_u(bs3_surface s, int& n, double*& knots) {
  n = static_cast<int>(s->u.knots.size());
  knots = new_copy(s->u.knots);
}
void bs3_surface_knots_v(bs3_surface s, int& n, double*& knots) {
  n = static_cast<int>(s->v.knots.size());
  knots = new_copy(s->v.knots);
}
int bs3_surface_rational_u(bs3_surface s) { return s->rational; }
int bs3_surface_rational_v(bs3_surface s) { return s->rational; }
void bs3_surface_weights(bs3_surface s, int& num_u, int& num_v, double*& weights) {
  num_u = s->nu();
  num_v = s->nv();
  weights = s->rational ? new_copy(s->weights) : nullptr;
}
int bs3_surface_num_ctrlpts_u(bs3_surface s) { return s->nu(); }
int bs3_surface_num_ctrlpts_v(bs3_surface s) { return s->nv(); }
void bs3_surface_reparam_u(double lo, double hi, bs3_surface s) { bs_direction_reparam(s->u, lo, hi); }
void bs3_surface_reparam_v(double lo, double hi, bs3_surface s) { bs_direction_reparam(s->v, lo, hi); }

void bs3_surface_debug(bs3_surface s, const char* leader, FILE* fp) {
  if (!s) {
    std::fprintf(fp, "%sbs3_surface null\n", leader);
    return;
  }
  std::fprintf(fp, "%sbs3_surface degree %d x %d rational %d forms %d %d poles %d %d net %d x %d\n", leader,
               s->u.degree, s->v.degree, s->rational ? 1 : 0, s->u.form, s->v.form, s->u.pole, s->v.pole, s->nu(),
               s->nv());
  for (int i = 0; i < s->nu(); ++i)
    for (int j = 0; j < s->nv(); ++j)
      std::fprintf(fp, "%s  point %d %d: %.17g %.17g %.17g w %.17g\n", leader, i, j, s->pt(i, j).x(),
                   s->pt(i, j).y(), s->pt(i, j).z(), s->weight(i, j));
}
