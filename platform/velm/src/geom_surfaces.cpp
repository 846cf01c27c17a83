// Surface equations: the surface base, planes, cones, spheres and tori.
#include <algorithm>
#include <cmath>
#include <numbers>
#include "velm/errors.hxx"

#include "geom_numeric.hxx"
#include "velm/geometry.hxx"

namespace {

using std::numbers::pi;

double sign_of(double x) { return x < 0.0 ? -1.0 : 1.0; }

surface_evaluator evaluator_of(const surface& s) {
  return [&s](const QELpar_pos& uv, int nd, QELvector out[6]) {
    QELposition pos;
    s.eval_derivs(uv, nd, pos, out + 1);
    out[0] = to_vec(pos);
  };
}

// Wraps a periodic parameter into [lo, lo + period), or next to a guess.
double wrap_param(double x, double lo, double period, const double* near) {
  if (period <= 0.0) return x;
  const double base = near ? *near - period / 2 : lo;
  double w = base + std::fmod(std::fmod(x - base, period) + period, period);
  if (!near && lo + period - w < 1e-12 * period) w = lo;
  return w;
}

bool same_dir(const QELvector& a, const QELvector& b) { return same_vector(a, b, QELresnor * 10); }

// Length factor of a transform (uniform part) and the normal image under it.
double length_factor(const QELtransf& t) { return std::fabs(t.scaling()) * std::cbrt(std::fabs(t.affine().determinant())); }

}  // namespace

// ---- surface ----

void surface::eval(const QELpar_pos& uv, QELposition& pos, QELvector* d1, QELvector* d2) const {
  QELvector d[5];
  eval_derivs(uv, d2 ? 2 : d1 ? 1 : 0, pos, d);
  if (d1) std::copy(d, d + 2, d1);
  if (d2) std::copy(d + 2, d + 5, d2);
}

QELposition surface::eval_position(const QELpar_pos& uv) const {
  QELposition p;
  eval(uv, p);
  return p;
}

QELunit_vector surface::eval_normal(const QELpar_pos& uv) const {
  QELposition p;
  QELvector d[5];
  eval_derivs(uv, 1, p, d);
  QELvector n = d[0] * d[1];
  if (n.len() <= 1e-14 * (d[0].len_sq() + d[1].len_sq() + 1e-300)) {
    // Singular point: take the normal a little way towards the middle of the range.
    const QELpar_box r = param_range();
    const QELpar_pos mid = r.u_range().finite() && r.v_range().finite() ? r.mid() : QELpar_pos(0.0, 0.0);
    const QELpar_pos q = uv + 1e-7 * (mid - uv);
    eval_derivs(q, 1, p, d);
    n = d[0] * d[1];
  }
  return normalise(left_handed_uv() ? -n : n);
}

int surface::evaluate(const QELpar_pos& uv, QELposition& pos, QELvector** derivs, int n,
                      evaluate_surface_quadrant quadrant) const {
  if (!derivs) n = 0;
  n = std::clamp(n, 0, 2);
  const int uside = (quadrant == quadrant_u_below_v_above || quadrant == quadrant_u_below_v_below) ? -1 : 1;
  const int vside = (quadrant == quadrant_u_below_v_below || quadrant == quadrant_u_above_v_below) ? -1 : 1;
  QELvector d[5];
  eval_derivs(uv, n, pos, d, uside, vside);
  if (n >= 1 && derivs[0]) std::copy(d, d + 2, derivs[0]);
  if (n >= 2 && derivs[1]) std::copy(d + 2, d + 5, derivs[1]);
  return n;
}

bool surface::perp_start(const QELposition&, QELpar_pos&) const { return false; }

void surface::point_perp(const QELposition& p, QELposition& foot, QELunit_vector& normal, const QELpar_pos* guess,
                         QELpar_pos* actual, int) const {
  QELpar_pos uv;
  // An unbounded plane's foot is its closed form, exact: nothing to refine
  // (coedges on planes carry no pcurves, so their readers project often).
  if (type() == 1 && !subsetted()) {
    // The plane's axes once for both the parameters and the foot (as
    // perp_start and eval_derivs take them, so the same numbers).
    const auto& pl = static_cast<const plane&>(*this);
    const QELvector U = pl.u_axis(), V = pl.v_axis(), d = p - pl.root_point;
    uv = QELpar_pos(U.len_sq() > 0 ? (d % U) / U.len_sq() : 0.0, V.len_sq() > 0 ? (d % V) / V.len_sq() : 0.0);
    foot = pl.root_point + uv.u * U + uv.v * V;
    normal = pl.normal;
    if (actual) *actual = uv;
    return;
  }
  const QELpar_box range = full_range();
  const double pu = full_period_u(), pv = full_period_v();
  if (guess || perp_start(p, uv)) {
    uv = surface_project(evaluator_of(*this), range, pu > 0.0, pv > 0.0, 0, 0, p, guess ? guess : &uv);
    uv.u = wrap_param(uv.u, range.u_range().start_pt(), pu, guess ? &guess->u : nullptr);
    uv.v = wrap_param(uv.v, range.v_range().start_pt(), pv, guess ? &guess->v : nullptr);
  } else {
    uv = surface_project(evaluator_of(*this), range, pu > 0.0, pv > 0.0, 24, 24, p, nullptr);
  }
  foot = eval_position(uv);
  normal = eval_normal(uv);
  if (actual) *actual = uv;
}

void surface::point_perp(const QELposition& p, QELposition& foot, const QELpar_pos* guess, QELpar_pos* actual,
                         int weak) const {
  QELunit_vector n;
  point_perp(p, foot, n, guess, actual, weak);
}

QELpar_pos surface::param(const QELposition& p, const QELpar_pos* guess) const {
  QELposition foot;
  QELpar_pos uv;
  point_perp(p, foot, guess, &uv);
  return uv;
}

bool surface::exact_param(const QELposition& p, QELpar_pos& uv, const QELpar_pos* guess) const {
  if (!exact_start() || !perp_start(p, uv)) return false;
  if (guess) {
    const QELpar_box range = full_range();
    uv.u = wrap_param(uv.u, range.u_range().start_pt(), full_period_u(), &guess->u);
    uv.v = wrap_param(uv.v, range.v_range().start_pt(), full_period_v(), &guess->v);
  }
  return true;
}

bool surface::test_point_tol(const QELposition& p, double tol, const QELpar_pos* guess, QELpar_pos* actual) const {
  QELposition foot;
  point_perp(p, foot, guess, actual);
  return distance(foot, p) <= tol;
}

namespace {

bool boxes_meet(const QELbox& a, const QELbox& b) {
  for (int i = 0; i < 3; ++i)
    if (a.low()[i] > b.high()[i] || b.low()[i] > a.high()[i]) return false;
  return true;
}

// The interval of the marked cells of [lo, hi]. Over a whole period the
// marks may wrap round the seam: the shortest arc holding them, its middle in
// the period. Unset when nothing is marked.
QELinterval marked_hull(const std::vector<char>& marks, double lo, double hi, bool wraps) {
  const int n = static_cast<int>(marks.size());
  const double h = (hi - lo) / n;
  auto at = [&](int k) { return k >= n ? hi : lo + k * h; };
  const auto first = std::find(marks.begin(), marks.end(), 1);
  if (first == marks.end()) return QELinterval();
  if (!wraps) {
    const int last = static_cast<int>(std::find(marks.rbegin(), marks.rend(), 1).base() - marks.begin());
    return QELinterval(at(static_cast<int>(first - marks.begin())), at(last));
  }
  // The longest run of unmarked cells, read round the seam.
  int gap = 0, after = 0;
  for (int k = 0; k < n; ++k) {
    if (!marks[k] || marks[(k + 1) % n]) continue;
    int len = 0;
    while (len < n && !marks[(k + 1 + len) % n]) ++len;
    if (len > gap) gap = len, after = (k + 1 + len) % n;
  }
  if (gap == 0) return QELinterval(lo, hi);
  double a = lo + after * h;
  const double len = (n - gap) * h;
  if (a + len / 2 >= hi) a -= hi - lo;
  return QELinterval(a, a + len);
}

// The parameter box of the cells of an n x n grid over the box whose piece of
// the surface may meet the region: the cell's corners and middle, widened by
// twice the middle's bulge over the corners. Cells at a singular row (a pole
// lies in each of them) count across it only when no other cell does. The
// box may run over a seam: periodic parameters (periods pu, pv) are read
// within the surface's range.
QELpar_box cells_meeting(const surface& s, const QELpar_box& box, double pu, double pv, bool wrap_u, bool wrap_v,
                         const QELbox& region) {
  constexpr int n = 48;
  const QELinterval &U = box.u_range(), &V = box.v_range();
  const QELpar_pos lo = s.param_range().low();
  auto u_at = [&](double f) { return wrap_param(f >= 1.0 ? U.end_pt() : U.interpolate(f), lo.u, pu, nullptr); };
  auto v_at = [&](double f) { return wrap_param(f >= 1.0 ? V.end_pt() : V.interpolate(f), lo.v, pv, nullptr); };
  std::vector<QELposition> grid((n + 1) * (n + 1));
  std::vector<char> pole_u(n + 1), pole_v(n + 1);
  for (int i = 0; i <= n; ++i) {
    pole_u[i] = s.singular_u(u_at(double(i) / n));
    pole_v[i] = s.singular_v(v_at(double(i) / n));
    for (int j = 0; j <= n; ++j)
      grid[i * (n + 1) + j] = s.eval_position(QELpar_pos(u_at(double(i) / n), v_at(double(j) / n)));
  }
  std::vector<char> in_u(n), in_v(n), any_u(n), any_v(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const QELposition& a = grid[i * (n + 1) + j];
      const QELposition& b = grid[i * (n + 1) + j + 1];
      const QELposition& c = grid[(i + 1) * (n + 1) + j];
      const QELposition& d = grid[(i + 1) * (n + 1) + j + 1];
      const QELposition mid = s.eval_position(QELpar_pos(u_at((i + 0.5) / n), v_at((j + 0.5) / n)));
      QELbox cell(a, d);
      cell |= b;
      cell |= c;
      cell |= mid;
      const double bulge = distance(mid, interpolate(0.5, interpolate(0.5, a, d), interpolate(0.5, b, c)));
      if (!boxes_meet(enlarge_box(cell, 2.0 * bulge + QELresabs), region)) continue;
      any_u[i] = any_v[j] = 1;
      if (!pole_v[j] && !pole_v[j + 1]) in_u[i] = 1;
      if (!pole_u[i] && !pole_u[i + 1]) in_v[j] = 1;
    }
  if (std::find(in_u.begin(), in_u.end(), 1) == in_u.end()) in_u = any_u;
  if (std::find(in_v.begin(), in_v.end(), 1) == in_v.end()) in_v = any_v;
  return QELpar_box(marked_hull(in_u, U.start_pt(), U.end_pt(), wrap_u),
                    marked_hull(in_v, V.start_pt(), V.end_pt(), wrap_v));
}

}  // namespace

// With a region: the parameter box of the part of the surface inside it.
// Bounded directions are found on a grid, refined once over what the first
// grid found; a periodic direction gives an arc of at most one period, which
// may run over the seam. Unbounded directions take the parameters of the
// region's corners.
QELpar_box surface::param_range(const QELbox* region) const {
  const QELpar_box full = full_range();
  QELinterval u = lim_u_.type() != interval_unset ? lim_u_ : full.u_range();
  QELinterval v = lim_v_.type() != interval_unset ? lim_v_ : full.v_range();
  if (!region || region->empty()) return QELpar_box(u, v);
  const bool bounded_u = u.finite(), bounded_v = v.finite();
  if (!bounded_u || !bounded_v) {
    QELpar_box hull;
    for (int c = 0; c < 8; ++c) {
      const QELposition corner((c & 1 ? region->high() : region->low()).x(),
                               (c & 2 ? region->high() : region->low()).y(),
                               (c & 4 ? region->high() : region->low()).z());
      const QELpar_pos uv = param(corner);
      hull = hull | QELpar_box(QELinterval(uv.u, uv.u), QELinterval(uv.v, uv.v));
    }
    if (!bounded_u) u = hull.u_range();
    if (!bounded_v) v = hull.v_range();
    if (!bounded_u && !bounded_v) return QELpar_box(u, v);
  }
  const double pu = bounded_u ? param_period_u() : 0.0, pv = bounded_v ? param_period_v() : 0.0;
  if (pu > 0.0) u = QELinterval(u.start_pt(), u.start_pt() + pu);
  if (pv > 0.0) v = QELinterval(v.start_pt(), v.start_pt() + pv);
  const QELpar_box found = cells_meeting(*this, QELpar_box(u, v), pu, pv, pu > 0.0, pv > 0.0, *region);
  if (found.empty()) return found;
  // Finer, over what was found; a whole period still wraps.
  const bool whole_u = pu > 0.0 && found.u_range().length() >= pu, whole_v = pv > 0.0 && found.v_range().length() >= pv;
  const QELpar_box finer = cells_meeting(*this, found, pu, pv, whole_u, whole_v, *region);
  if (finer.empty()) return finer;
  return QELpar_box(bounded_u ? finer.u_range() : u, bounded_v ? finer.v_range() : v);
}

QELinterval surface::param_range_u() const { return param_range().u_range(); }
QELinterval surface::param_range_v() const { return param_range().v_range(); }

double surface::param_period_u() const {
  const double p = full_period_u();
  return p > 0.0 && (lim_u_.type() == interval_unset || lim_u_.length() >= p - QELresnor) ? p : 0.0;
}

double surface::param_period_v() const {
  const double p = full_period_v();
  return p > 0.0 && (lim_v_.type() == interval_unset || lim_v_.length() >= p - QELresnor) ? p : 0.0;
}

namespace {

bool closes(const surface& s, bool along_u) {
  const QELpar_box r = s.param_range();
  const QELinterval& a = along_u ? r.u_range() : r.v_range();
  const QELinterval& b = along_u ? r.v_range() : r.u_range();
  if (!a.finite() || !b.finite()) return false;
  for (int i = 0; i <= 4; ++i) {
    const double x = b.interpolate(i / 4.0);
    const QELpar_pos lo = along_u ? QELpar_pos(a.start_pt(), x) : QELpar_pos(x, a.start_pt());
    const QELpar_pos hi = along_u ? QELpar_pos(a.end_pt(), x) : QELpar_pos(x, a.end_pt());
    if (!same_point(s.eval_position(lo), s.eval_position(hi))) return false;
  }
  return true;
}

}  // namespace

bool surface::closed_u() const { return periodic_u() || closes(*this, true); }
bool surface::closed_v() const { return periodic_v() || closes(*this, false); }
bool surface::singular_u(double) const { return false; }
bool surface::singular_v(double) const { return false; }

void surface::limit_u(const QELinterval& r) {
  lim_u_ = r;
  change_event();
}
void surface::limit_v(const QELinterval& r) {
  lim_v_ = r;
  change_event();
}
void surface::unlimit() {
  lim_u_ = lim_v_ = QELinterval();
  change_event();
}

QELbox surface::bound(const QELpar_box& asked) const {
  // An unbounded direction is bounded by the surface's own range where it has one
  // (a sphere or a torus); only a truly unbounded box has no bound.
  const QELpar_box own = param_range();
  const auto within = [](const QELinterval& a, const QELinterval& r) { return a.finite() ? a : (a & r); };
  const QELpar_box box(within(asked.u_range(), own.u_range()), within(asked.v_range(), own.v_range()));
  if (box.empty() || !box.u_range().finite() || !box.v_range().finite()) return QELbox();
  // Sampled box, widened by the largest bulge of a cell over its corners.
  const int n = 32;
  std::vector<double> us(n + 1), vs(n + 1), mid_us(n), mid_vs(n);
  for (int i = 0; i <= n; ++i) {
    us[i] = box.u_range().interpolate(double(i) / n);
    vs[i] = box.v_range().interpolate(double(i) / n);
  }
  for (int i = 0; i < n; ++i) {
    mid_us[i] = box.u_range().interpolate((i + 0.5) / n);
    mid_vs[i] = box.v_range().interpolate((i + 0.5) / n);
  }
  std::vector<QELposition> grid((n + 1) * (n + 1)), mids(n * n);
  eval_grid(us, vs, grid.data());
  eval_grid(mid_us, mid_vs, mids.data());
  QELbox b;
  for (const QELposition& p : grid) b |= p;
  double bulge = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const QELposition& mid = mids[i * n + j];
      const QELposition avg = interpolate(0.5, interpolate(0.5, grid[i * (n + 1) + j], grid[(i + 1) * (n + 1) + j + 1]),
                                          interpolate(0.5, grid[(i + 1) * (n + 1) + j], grid[i * (n + 1) + j + 1]));
      bulge = std::max(bulge, distance(mid, avg));
    }
  return enlarge_box(b, 2.0 * bulge);
}

void surface::eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const {
  for (std::size_t i = 0; i < us.size(); ++i)
    for (std::size_t j = 0; j < vs.size(); ++j) out[i * vs.size() + j] = eval_position(QELpar_pos(us[i], vs[j]));
}

check_status_list* surface::check(const check_fix& input, check_fix* result, const check_status_list* wanted) const {
  check_fix local;
  return d3_sf_check(const_cast<surface&>(*this), input, result ? *result : local, wanted);
}

std::vector<double> surface::candidate_discontinuities(bool, int) const { return {}; }

const double* surface::disc(bool along_u, int& n, int order, bool all) const {
  const int key = order * 2 + (all ? 1 : 0);
  const int d = along_u ? 0 : 1;
  disc_cache& cache = disc_.get();
  if (cache.key[d] != key) {
    cache.at[d].clear();
    const QELpar_box r = param_range();
    const QELinterval& across = along_u ? r.v_range() : r.u_range();
    for (double t : candidate_discontinuities(along_u, order)) {
      // The lowest derivative order that jumps across the knot line, at a few samples.
      int lowest = 99;
      for (int s = 0; s <= 4 && across.finite(); ++s) {
        const double x = across.interpolate(s / 4.0);
        const QELpar_pos uv = along_u ? QELpar_pos(t, x) : QELpar_pos(x, t);
        QELposition p;
        QELvector lo[5], hi[5];
        eval_derivs(uv, 2, p, lo, along_u ? -1 : 0, along_u ? 0 : -1);
        eval_derivs(uv, 2, p, hi, along_u ? 1 : 0, along_u ? 0 : 1);
        const int first = along_u ? 0 : 1, second = along_u ? 2 : 4;
        const double scale1 = std::max({1.0, lo[first].len(), hi[first].len()});
        const double scale2 = std::max({1.0, lo[second].len(), hi[second].len()});
        if ((lo[first] - hi[first]).len() > 1e-6 * scale1) lowest = std::min(lowest, 1);
        else if ((lo[second] - hi[second]).len() > 1e-6 * scale2) lowest = std::min(lowest, 2);
        else lowest = std::min(lowest, 3);
      }
      if (all ? lowest <= order : lowest == order) cache.at[d].push_back(t);
    }
    cache.key[d] = key;
  }
  n = static_cast<int>(cache.at[d].size());
  return cache.at[d].empty() ? nullptr : cache.at[d].data();
}

const double* surface::discontinuities_u(int& n, int order) const { return disc(true, n, order, false); }
const double* surface::discontinuities_v(int& n, int order) const { return disc(false, n, order, false); }
const double* surface::all_discontinuities_u(int& n, int order) const { return disc(true, n, order, true); }
const double* surface::all_discontinuities_v(int& n, int order) const { return disc(false, n, order, true); }

bool surface::discontinuous_at_u(double u) const {
  int n = 0;
  const double* d = all_discontinuities_u(n, 3);
  return std::any_of(d, d + n, [u](double x) { return std::fabs(x - u) <= QELresnor; });
}

bool surface::discontinuous_at_v(double v) const {
  int n = 0;
  const double* d = all_discontinuities_v(n, 3);
  return std::any_of(d, d + n, [v](double x) { return std::fabs(x - v) <= QELresnor; });
}

void surface::change_event() { disc_.clear(); }

bool is_CONE(const surface* s) { return s && s->type() == 2; }
bool is_spline(const surface* s) { return s && s->type() == 10; }

// ---- plane ----

plane::plane(const QELposition& root, const QELunit_vector& n) : root_point(root), normal(n), u_deriv(any_perpendicular(n)) {}

QELvector plane::u_axis() const { return u_deriv - (u_deriv % normal) * normal; }

QELvector plane::v_axis() const {
  const QELvector v = normal * u_axis();
  return reverse_v ? -v : v;
}

void plane::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int, int) const {
  const QELvector U = u_axis(), V = v_axis();
  pos = root_point + uv.u * U + uv.v * V;
  if (n >= 1) d[0] = U, d[1] = V;
  if (n >= 2) d[2] = d[3] = d[4] = QELvector();
}

QELpar_box plane::full_range() const {
  return QELpar_box(QELinterval(interval_unbounded, 0, 0), QELinterval(interval_unbounded, 0, 0));
}

bool plane::perp_start(const QELposition& p, QELpar_pos& uv) const {
  const QELvector U = u_axis(), V = v_axis(), d = p - root_point;
  uv = QELpar_pos(U.len_sq() > 0 ? (d % U) / U.len_sq() : 0.0, V.len_sq() > 0 ? (d % V) / V.len_sq() : 0.0);
  return true;
}

curve* plane::u_param_line(double v) const {
  const QELvector U = u_axis();
  return VELM_MAKE(straight, root_point + v * v_axis(), normalise(U), U.len());
}

curve* plane::v_param_line(double u) const {
  const QELvector V = v_axis();
  return VELM_MAKE(straight, root_point + u * u_axis(), normalise(V), V.len());
}

void plane::negate() {
  normal = -normal;
  reverse_v = !reverse_v;
}

surface& plane::operator*=(const QELtransf& t) {
  const QELvector v_img = v_axis() * t;
  const QELvector u_img = u_axis() * t;
  // Normals map with the inverse transpose, so the outward side stays outward.
  const QELmatrix inv_t = t.affine().inverse().transpose();
  normal = normalise((static_cast<const QELvector&>(normal) * inv_t) * (1.0 / t.scaling()));
  root_point *= t;
  u_deriv = u_img;
  reverse_v = 0;
  reverse_v = (v_axis() % v_img) < 0.0 ? 1 : 0;
  change_event();
  return *this;
}

bool plane::operator==(const surface& o) const {
  const plane* p = dynamic_cast<const plane*>(&o);
  return p && same_point(root_point, p->root_point) && same_dir(normal, p->normal) &&
         same_dir(u_axis(), p->u_axis()) && reverse_v == p->reverse_v;
}

// ---- cone ----

cone::cone(const QELposition& c, const QELunit_vector& axis, const QELvector& major, double ratio, double s, double co,
           double uscale)
    : base(c, axis, major, ratio), sine(s), cosine(co), u_scale(uscale), cylinder(std::fabs(s) < QELresnor ? 1 : 0) {}

double cone::sigma() const { return u_scale != 0.0 ? u_scale : base.major_axis.len(); }

namespace {

// The cone's working quantities at v.
struct cone_frame {
  double st, ct, su, sig, alen;
  QELvector A, B, Z;
};

cone_frame frame_of(const cone& c) {
  return {c.sine * sign_of(c.cosine), std::fabs(c.cosine), c.reverse_u ? -1.0 : 1.0, c.sigma(),
          c.base.major_axis.len(), c.base.major_axis, c.base.minor_axis(), c.base.normal};
}

}  // namespace

void cone::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int, int) const {
  const cone_frame f = frame_of(*this);
  const double up = f.su * uv.u;
  const double g = 1.0 + f.st * f.sig * up / f.alen;
  const QELvector R = std::cos(uv.v) * f.A + std::sin(uv.v) * f.B;
  const QELvector Rv = -std::sin(uv.v) * f.A + std::cos(uv.v) * f.B;
  pos = base.centre + g * R + (f.ct * f.sig * up) * f.Z;
  if (n >= 1) {
    d[0] = f.su * ((f.st * f.sig / f.alen) * R + (f.ct * f.sig) * f.Z);
    d[1] = g * Rv;
  }
  if (n >= 2) {
    d[2] = QELvector();
    d[3] = (f.su * f.st * f.sig / f.alen) * Rv;
    d[4] = -g * R;
  }
}

QELunit_vector cone::eval_normal(const QELpar_pos& uv) const {
  QELposition p;
  QELvector d[2];
  eval_derivs(uv, 1, p, d);
  const QELvector n = d[0] * d[1];
  if (n.len() > 1e-14 * (d[0].len_sq() + 1.0)) return normalise(left_handed_uv() ? -n : n);
  // At the apex: the normal of the generator's circle direction.
  const cone_frame f = frame_of(*this);
  const QELunit_vector r = normalise(std::cos(uv.v) * f.A + std::sin(uv.v) * f.B);
  return normalise(cosine * r - sine * f.Z);
}

QELpar_box cone::full_range() const { return QELpar_box(QELinterval(interval_unbounded, 0, 0), QELinterval(-pi, pi)); }
double cone::full_period_v() const { return 2 * pi; }

double cone::apex_u() const {
  const cone_frame f = frame_of(*this);
  return f.su * (-f.alen / (f.st * f.sig));
}

bool cone::singular_u(double u) const { return !cylinder && std::fabs(u - apex_u()) * sigma() <= QELresabs; }

QELposition cone::get_apex() const {
  if (cylinder) sys_error(qelvelm_api_errmod.message_code(VELM_BAD_ARGUMENT));  // a cylinder has no apex
  return base.centre - (cosine * base.major_axis.len() / sine) * base.normal;
}

bool cone::perp_start(const QELposition& p, QELpar_pos& uv) const {
  const cone_frame f = frame_of(*this);
  const QELvector d = p - base.centre;
  const double v0 = std::atan2((d % f.B) / f.B.len_sq(), (d % f.A) / f.A.len_sq());
  double best = HUGE_VAL;
  for (double v : {v0, v0 + pi}) {
    v = wrap_param(v, -pi, 2 * pi, nullptr);
    const QELvector R = std::cos(v) * f.A + std::sin(v) * f.B;
    const QELvector L = (f.st * f.sig / f.alen) * R + (f.ct * f.sig) * f.Z;
    const double up = ((p - (base.centre + R)) % L) / L.len_sq();
    const QELpar_pos cand(f.su * up, v);
    const double dist = distance(eval_position(cand), p);
    if (dist < best) best = dist, uv = cand;
  }
  return true;
}

curve* cone::u_param_line(double v) const {
  const cone_frame f = frame_of(*this);
  const QELvector R = std::cos(v) * f.A + std::sin(v) * f.B;
  const QELvector L = f.su * ((f.st * f.sig / f.alen) * R + (f.ct * f.sig) * f.Z);
  return VELM_MAKE(straight, base.centre + R, normalise(L), L.len());
}

curve* cone::v_param_line(double u) const {
  const cone_frame f = frame_of(*this);
  const double up = f.su * u;
  const double g = 1.0 + f.st * f.sig * up / f.alen;
  if (std::fabs(g) * f.alen <= QELresabs) return nullptr;
  return VELM_MAKE(ellipse, base.centre + (f.ct * f.sig * up) * f.Z, base.normal, g * f.A, base.radius_ratio, 0.0);
}

void cone::negate() {
  sine = -sine;
  cosine = -cosine;
}

surface& cone::operator*=(const QELtransf& t) {
  const QELvector a = base.major_axis * t, b = base.minor_axis() * t, z = static_cast<const QELvector&>(base.normal) * t;
  base.centre *= t;
  base.major_axis = a;
  base.radius_ratio = a.len() > 0.0 ? b.len() / a.len() : 0.0;
  if (u_scale != 0.0) u_scale *= z.len();
  if (t.reflect()) {
    // Keep each (u, v) on the image of its point: the axis turns round with u and the sine.
    base.normal = -normalise(z);
    sine = -sine;
    reverse_u = !reverse_u;
  } else {
    base.normal = normalise(z);
  }
  change_event();
  return *this;
}

bool cone::operator==(const surface& o) const {
  const cone* c = dynamic_cast<const cone*>(&o);
  return c && same_point(base.centre, c->base.centre) && same_dir(base.normal, c->base.normal) &&
         same_point(base.centre + base.major_axis, c->base.centre + c->base.major_axis) &&
         std::fabs(base.radius_ratio - c->base.radius_ratio) <= QELresnor &&
         std::fabs(sine - c->sine) <= QELresnor && std::fabs(cosine - c->cosine) <= QELresnor &&
         std::fabs(sigma() - c->sigma()) <= QELresabs && reverse_u == c->reverse_u;
}

// ---- sphere ----

sphere::sphere(const QELposition& c, double r) : centre(c), radius(r) {}

void sphere::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int, int) const {
  const double rho = std::fabs(radius);
  const QELvector W = origin_dir * pole_dir;
  const QELvector D = std::cos(uv.v) * origin_dir + std::sin(uv.v) * W;
  const QELvector Dv = -std::sin(uv.v) * origin_dir + std::cos(uv.v) * W;
  const double cu = std::cos(uv.u), s = std::sin(uv.u);
  pos = centre + rho * (cu * D + s * pole_dir);
  if (n >= 1) {
    d[0] = rho * (-s * D + cu * pole_dir);
    d[1] = (rho * cu) * Dv;
  }
  if (n >= 2) {
    d[2] = -rho * (cu * D + s * pole_dir);
    d[3] = (-rho * s) * Dv;
    d[4] = (-rho * cu) * D;
  }
}

QELunit_vector sphere::eval_normal(const QELpar_pos& uv) const {
  const QELvector W = origin_dir * pole_dir;
  const QELvector D = std::cos(uv.v) * origin_dir + std::sin(uv.v) * W;
  return normalise(sign_of(radius) * (std::cos(uv.u) * D + std::sin(uv.u) * pole_dir));
}

QELpar_box sphere::full_range() const { return QELpar_box(QELinterval(-pi / 2, pi / 2), QELinterval(-pi, pi)); }
double sphere::full_period_v() const { return 2 * pi; }
bool sphere::singular_u(double u) const { return std::fabs(std::cos(u)) * std::fabs(radius) <= QELresabs; }

bool sphere::perp_start(const QELposition& p, QELpar_pos& uv) const {
  const QELvector d = p - centre, W = origin_dir * pole_dir;
  const double x = d % origin_dir, y = d % W, z = d % pole_dir;
  uv = QELpar_pos(std::atan2(z, std::hypot(x, y)), std::atan2(y, x));
  return true;
}

curve* sphere::u_param_line(double v) const {
  const QELvector W = origin_dir * pole_dir;
  const QELvector D = std::cos(v) * origin_dir + std::sin(v) * W;
  curve* c = VELM_MAKE(ellipse, centre, normalise(D * pole_dir), std::fabs(radius) * D, 1.0, 0.0);
  c->limit(QELinterval(-pi / 2, pi / 2));
  return c;
}

curve* sphere::v_param_line(double u) const {
  const double rc = std::fabs(radius) * std::cos(u);
  if (rc <= QELresabs) return nullptr;
  return VELM_MAKE(ellipse, centre + (std::fabs(radius) * std::sin(u)) * pole_dir, -pole_dir, rc * origin_dir, 1.0, 0.0);
}

surface& sphere::operator*=(const QELtransf& t) {
  centre *= t;
  radius *= length_factor(t);
  origin_dir = origin_dir * t;
  pole_dir = pole_dir * t;
  change_event();
  return *this;
}

bool sphere::operator==(const surface& o) const {
  const sphere* s = dynamic_cast<const sphere*>(&o);
  return s && same_point(centre, s->centre) && std::fabs(radius - s->radius) <= QELresabs &&
         same_dir(origin_dir, s->origin_dir) && same_dir(pole_dir, s->pole_dir);
}

// ---- torus ----

torus::torus(const QELposition& c, const QELunit_vector& n, double R, double r)
    : centre(c), normal(n), major_radius(R), minor_radius(r), origin_dir(any_perpendicular(n)) {}

bool torus::spindle() const { return std::fabs(major_radius) < std::fabs(minor_radius); }

double torus::apex_dist() const {
  return spindle() ? std::sqrt(minor_radius * minor_radius - major_radius * major_radius) : 0.0;
}

bool torus::left_handed_uv() const {
  return (minor_radius < 0.0) != (major_radius + std::fabs(minor_radius) < 0.0);
}

void torus::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int, int) const {
  const double rho = std::fabs(minor_radius);
  const QELvector W = origin_dir * normal;
  const QELvector D = std::cos(uv.v) * origin_dir + std::sin(uv.v) * W;
  const QELvector Dv = -std::sin(uv.v) * origin_dir + std::cos(uv.v) * W;
  const double cu = std::cos(uv.u), s = std::sin(uv.u);
  const double a = major_radius + rho * cu;
  pos = centre + a * D + (rho * s) * normal;
  if (n >= 1) {
    d[0] = (-rho * s) * D + (rho * cu) * normal;
    d[1] = a * Dv;
  }
  if (n >= 2) {
    d[2] = (-rho * cu) * D - (rho * s) * normal;
    d[3] = (-rho * s) * Dv;
    d[4] = -a * D;
  }
}

QELunit_vector torus::eval_normal(const QELpar_pos& uv) const {
  const QELvector W = origin_dir * normal;
  const QELvector D = std::cos(uv.v) * origin_dir + std::sin(uv.v) * W;
  return normalise(sign_of(minor_radius) * (std::cos(uv.u) * D + std::sin(uv.u) * normal));
}

QELpar_box torus::full_range() const {
  if (!spindle()) return QELpar_box(QELinterval(-pi, pi), QELinterval(-pi, pi));
  const double umax = std::acos(-major_radius / std::fabs(minor_radius));
  return QELpar_box(QELinterval(-umax, umax), QELinterval(-pi, pi));
}

double torus::full_period_u() const { return spindle() ? 0.0 : 2 * pi; }
double torus::full_period_v() const { return 2 * pi; }

bool torus::singular_u(double u) const {
  if (!spindle()) return false;
  const double umax = full_range().u_range().end_pt();
  return std::fabs(std::fabs(u) - umax) * std::fabs(minor_radius) <= QELresabs;
}

bool torus::perp_start(const QELposition& p, QELpar_pos& uv) const {
  const QELvector d = p - centre, W = origin_dir * normal;
  const double v0 = std::atan2(d % W, d % origin_dir);
  const QELinterval ur = full_range().u_range();
  double best = HUGE_VAL;
  for (double v : {v0, v0 + pi}) {
    v = wrap_param(v, -pi, 2 * pi, nullptr);
    const QELvector D = std::cos(v) * origin_dir + std::sin(v) * W;
    const double u = std::clamp(std::atan2(d % normal, d % D - major_radius), ur.start_pt(), ur.end_pt());
    const QELpar_pos cand(u, v);
    const double dist = distance(eval_position(cand), p);
    if (dist < best) best = dist, uv = cand;
  }
  return true;
}

curve* torus::u_param_line(double v) const {
  const QELvector W = origin_dir * normal;
  const QELvector D = std::cos(v) * origin_dir + std::sin(v) * W;
  curve* c = VELM_MAKE(ellipse, centre + major_radius * D, normalise(D * normal), std::fabs(minor_radius) * D, 1.0, 0.0);
  if (spindle()) c->limit(full_range().u_range());
  return c;
}

curve* torus::v_param_line(double u) const {
  const double a = major_radius + std::fabs(minor_radius) * std::cos(u);
  if (std::fabs(a) <= QELresabs) return nullptr;
  return VELM_MAKE(ellipse, centre + (std::fabs(minor_radius) * std::sin(u)) * normal, -normal, a * origin_dir, 1.0, 0.0);
}

surface& torus::operator*=(const QELtransf& t) {
  const double f = length_factor(t);
  centre *= t;
  major_radius *= f;
  minor_radius *= f;
  origin_dir = origin_dir * t;
  normal = normal * t;
  change_event();
  return *this;
}

bool torus::operator==(const surface& o) const {
  const torus* s = dynamic_cast<const torus*>(&o);
  return s && same_point(centre, s->centre) && same_dir(normal, s->normal) &&
         std::fabs(major_radius - s->major_radius) <= QELresabs &&
         std::fabs(minor_radius - s->minor_radius) <= QELresabs && same_dir(origin_dir, s->origin_dir);
}
