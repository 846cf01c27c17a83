// Curve equations: the curve base, straights, ellipses, degenerate curves and intcurves.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "bspline_data.hxx"
#include "geom_numeric.hxx"
#include "velm/geometry.hxx"

namespace {

using std::numbers::pi;

int side_of(curve_eval_side s) { return s == side_below ? -1 : 1; }

curve_evaluator evaluator_of(const curve& c) {
  return [&c](double t, int nd, QELvector out[3]) { c.eval_derivs(t, nd, out, 0); };
}

bool infinite(double t) { return std::fabs(t) >= DBL_MAX / 2; }

}  // namespace

// ---- curve ----

void curve::eval(double t, QELposition& pos, QELvector* d1, QELvector* d2) const {
  QELvector out[3];
  eval_derivs(t, d2 ? 2 : d1 ? 1 : 0, out, 0);
  pos = to_pos(out[0]);
  if (d1) *d1 = out[1];
  if (d2) *d2 = out[2];
}

QELposition curve::eval_position(double t) const {
  QELposition p;
  eval(t, p);
  return p;
}

QELvector curve::eval_deriv(double t) const {
  QELposition p;
  QELvector d;
  eval(t, p, &d);
  return d;
}

int curve::evaluate(double t, QELposition& pos, QELvector** derivs, int n, curve_eval_side side) const {
  if (!derivs) n = 0;
  std::vector<QELvector> out(n + 1);
  eval_derivs(t, n, out.data(), side_of(side));
  pos = to_pos(out[0]);
  for (int k = 0; k < n; ++k)
    if (derivs[k]) *derivs[k] = out[k + 1];
  return n;
}

void curve::point_perp(const QELposition& p, QELposition& foot, QELvector& tangent, const double* guess,
                       double* actual, int) const {
  const QELinterval r = full_range();
  const double t = curve_project(evaluator_of(*this), r.start_pt(), r.end_pt(), full_period() > 0.0,
                                 perp_samples(), p, guess);
  eval(t, foot, &tangent);
  if (actual) *actual = t;
}

void curve::point_perp(const QELposition& p, QELposition& foot, const double* guess, double* actual) const {
  QELvector tangent;
  point_perp(p, foot, tangent, guess, actual);
}

double curve::param(const QELposition& p, const double* guess) const {
  QELposition foot;
  double t = 0.0;
  point_perp(p, foot, guess, &t);
  return t;
}

QELposition curve::closest_point(const QELposition& p) const {
  QELposition foot;
  point_perp(p, foot);
  return foot;
}

bool curve::test_point(const QELposition& p, const double* guess, double tol) const {
  QELposition foot;
  point_perp(p, foot, guess);
  return distance(foot, p) <= tol;
}

QELinterval curve::param_range() const { return subsetted() ? subset_ : full_range(); }

double curve::param_period() const {
  const double period = full_period();
  if (period <= 0.0 || !subsetted()) return period;
  return subset_.length() >= period - QELresnor ? period : 0.0;
}

bool curve::closed() const {
  if (periodic()) return true;
  const QELinterval r = param_range();
  return r.finite() && same_point(eval_position(r.start_pt()), eval_position(r.end_pt()));
}

void curve::limit(const QELinterval& range) {
  subset_ = range;
  change_event();
}

void curve::unlimit() {
  subset_ = QELinterval();
  change_event();
}

double curve::length(double t0, double t1, bool) const {
  if (infinite(t0) || infinite(t1)) return DBL_MAX;
  // A straight's speed is constant: its length in closed form, not by the
  // 240 evaluations of the quadrature (stitching measures every coedge).
  if (type() == 1) {
    const auto& line = static_cast<const straight&>(*this);
    return (t1 - t0) * (line.param_scale * line.direction).len();
  }
  return curve_length(evaluator_of(*this), t0, t1);
}

QELbox curve::bound(const QELinterval& range) const {
  QELbox box;
  if (range.infinite()) return box;
  for (int i = 0; i <= 64; ++i) box |= eval_position(range.interpolate(i / 64.0));
  return box;
}

curve* curve::split(double t, const QELposition*) {
  const QELinterval r = param_range();
  const double period = param_period();
  if (!(r >> t)) return nullptr;
  curve* before = make_copy();
  if (period > 0.0) {
    before->limit(r);
    limit(QELinterval(t, t + period));
    return before;
  }
  before->limit(r & QELinterval(interval_bounded_above, 0.0, t));
  limit(r & QELinterval(interval_bounded_below, t, 0.0));
  return before;
}

std::vector<double> curve::candidate_discontinuities(int) const { return {}; }

const double* curve::discontinuities(int& n, int order) const {
  disc_cache& cache = disc_.get();
  if (cache.order != order) {
    cache.at.clear();
    for (double t : candidate_discontinuities(order)) {
      // A multiple knot is a discontinuity only when the derivatives really jump.
      std::vector<QELvector> below(order + 1), above(order + 1);
      eval_derivs(t, order, below.data(), -1);
      eval_derivs(t, order, above.data(), 1);
      const double scale = std::max({1.0, below[order].len(), above[order].len()});
      if ((below[order] - above[order]).len() > 1e-6 * scale) cache.at.push_back(t);
    }
    cache.order = order;
  }
  n = static_cast<int>(cache.at.size());
  return cache.at.empty() ? nullptr : cache.at.data();
}

void curve::change_event() { disc_.clear(); }

check_status_list* curve::check(const check_fix& input, check_fix* result, const check_status_list* wanted) const {
  check_fix local;
  return d3_cu_check(*this, input, result ? *result : local, wanted);
}

curve* trans_curve(const curve& c, const QELtransf* t, int reverse) {
  curve* r = c.make_copy();
  if (t) *r *= *t;
  if (reverse) r->negate();
  return r;
}

bool is_STRAIGHT(const curve* c) { return c && c->type() == 1; }

// ---- straight ----

straight::straight(const QELposition& root, const QELunit_vector& dir, double scale)
    : root_point(root), direction(dir), param_scale(scale) {}

void straight::eval_derivs(double t, int n, QELvector* out, int) const {
  out[0] = to_vec(root_point) + (t * param_scale) * direction;
  if (n >= 1) out[1] = param_scale * direction;
  for (int k = 2; k <= n; ++k) out[k] = QELvector();
}

void straight::point_perp(const QELposition& p, QELposition& foot, QELvector& tangent, const double*, double* actual,
                          int) const {
  const double t = param_scale != 0.0 ? ((p - root_point) % direction) / param_scale : 0.0;
  eval(t, foot, &tangent);
  if (actual) *actual = t;
}

QELbox straight::bound(const QELinterval& range) const {
  if (range.empty()) return QELbox();
  QELposition lo, hi;
  for (int i = 0; i < 3; ++i) {
    double a = range.bounded_below() ? root_point[i] + range.start_pt() * param_scale * direction[i] : -DBL_MAX;
    double b = range.bounded_above() ? root_point[i] + range.end_pt() * param_scale * direction[i] : DBL_MAX;
    if (direction[i] == 0.0) a = b = root_point[i];
    if (param_scale * direction[i] < 0.0 && (!range.bounded_below() || !range.bounded_above())) std::swap(a, b);
    lo[i] = std::min(a, b);
    hi[i] = std::max(a, b);
  }
  return QELbox(lo, hi);
}

void straight::negate() {
  direction = -direction;
  negate_limit();
}

curve& straight::operator*=(const QELtransf& t) {
  root_point *= t;
  const QELvector d = static_cast<const QELvector&>(direction) * t;
  param_scale *= d.len();
  direction = normalise(d);
  change_event();
  return *this;
}

// ---- ellipse ----

ellipse::ellipse(const QELposition& c, const QELunit_vector& n, const QELvector& a, double k, double off)
    : centre(c), normal(n), major_axis(a), radius_ratio(k), param_offset(off) {}

void ellipse::eval_derivs(double t, int n, QELvector* out, int) const {
  const QELvector b = minor_axis();
  for (int k = 0; k <= n; ++k) {
    const double th = t + param_offset + k * pi / 2;
    out[k] = std::cos(th) * major_axis + std::sin(th) * b;
  }
  out[0] += to_vec(centre);
}

QELinterval ellipse::full_range() const { return QELinterval(-pi, pi); }
double ellipse::full_period() const { return 2 * pi; }

QELbox ellipse::bound(const QELinterval& range) const {
  if (range.empty() || range.infinite()) return QELbox();
  QELbox box(eval_position(range.start_pt()));
  box |= eval_position(range.end_pt());
  const QELvector b = minor_axis();
  for (int i = 0; i < 3; ++i) {
    // Extremes of coordinate i: A_i cos th + B_i sin th is stationary at atan2(B_i, A_i) (+ pi).
    const double th0 = std::atan2(b[i], major_axis[i]);
    for (int h = 0; h < 2; ++h) {
      double t = th0 + h * pi - param_offset;
      t -= 2 * pi * std::ceil((t - range.start_pt()) / (2 * pi) - 1.0);
      for (; t <= range.end_pt(); t += 2 * pi)
        if (t >= range.start_pt()) box |= eval_position(t);
    }
  }
  return box;
}

void ellipse::negate() {
  normal = -normal;
  param_offset = -param_offset;
  negate_limit();
}

curve& ellipse::operator*=(const QELtransf& t) {
  const QELvector a = major_axis * t, b = minor_axis() * t;
  centre *= t;
  major_axis = a;
  radius_ratio = a.len() > 0.0 ? b.len() / a.len() : 0.0;
  normal = normalise(a * b);
  change_event();
  return *this;
}

// ---- degenerate ----

void degenerate_curve::eval_derivs(double, int n, QELvector* out, int) const {
  out[0] = to_vec(point);
  for (int k = 1; k <= n; ++k) out[k] = QELvector();
}

curve& degenerate_curve::operator*=(const QELtransf& t) {
  point *= t;
  return *this;
}

// ---- intcurve data ----

const int exact_int_cur::id = 1;
const int par_int_cur_id = 2;
const int intersection_int_cur::id = 3;
int exact_int_cur_id() { return exact_int_cur::id; }

int_cur::int_cur(const int_cur& o) : kind_(o.kind_), fitol_(o.fitol_) {
  // A copy that fails part way frees the copies made before it (the
  // destructor does not run for a half-made object).
  try {
    cur_ = bs3_curve_copy(o.cur_);
    surf1_ = o.surf1_ ? o.surf1_->make_copy() : nullptr;
    surf2_ = o.surf2_ ? o.surf2_->make_copy() : nullptr;
    pcur1_ = bs2_curve_copy(o.pcur1_);
    pcur2_ = bs2_curve_copy(o.pcur2_);
  } catch (...) {
    bs3_curve_delete(cur_);
    delete surf1_;
    delete surf2_;
    bs2_curve_delete(pcur1_);
    throw;
  }
}

int_cur::~int_cur() {
  bs3_curve_delete(cur_);
  delete surf1_;
  delete surf2_;
  bs2_curve_delete(pcur1_);
  bs2_curve_delete(pcur2_);
}

void int_cur::eval_derivs(double t, int n, QELvector* out, int side) const {
  if (cur_) {
    cur_->eval(t, n, out, side);
  } else {
    std::fill(out, out + n + 1, QELvector());
  }
}

QELinterval int_cur::range() const { return cur_ ? cur_->range() : QELinterval(); }

void int_cur::transform(const QELtransf& t) {
  if (cur_)
    for (QELposition& p : cur_->pts) p *= t;
  if (surf1_) *surf1_ *= t;
  if (surf2_) *surf2_ *= t;
}

// The B-splines are taken only once the surfaces are copied: a copy that
// fails leaves them with the caller, who frees them once.
intersection_int_cur::intersection_int_cur(bs3_curve cur, double fitol, const surface* s1, const surface* s2,
                                           bs2_curve p1, bs2_curve p2)
    : int_cur(id, nullptr, fitol) {
  surf1_ = s1 ? s1->make_copy() : nullptr;
  surf2_ = s2 ? s2->make_copy() : nullptr;
  cur_ = cur;
  pcur1_ = p1;
  pcur2_ = p2;
}

par_int_cur::par_int_cur(bs3_curve space_curve, double fitol, const surface& srf, bs2_curve pcur, int)
    : int_cur(par_int_cur_id, nullptr, fitol) {
  surf1_ = srf.make_copy();
  cur_ = space_curve;
  pcur1_ = pcur;
}

void par_int_cur::eval_derivs(double t, int n, QELvector* out, int side) const {
  if (cur() || !pcur1()) return int_cur::eval_derivs(t, n, out, side);
  // Through the pcurve on the surface, by the chain rule.
  QELvector uv[3];
  pcur1()->eval(t, std::min(n, 2), uv, side);
  QELposition pos;
  QELvector d[5];
  surf1()->eval_derivs(QELpar_pos(uv[0].x(), uv[0].y()), std::min(n, 2), pos, d);
  out[0] = to_vec(pos);
  if (n >= 1) out[1] = uv[1].x() * d[0] + uv[1].y() * d[1];
  if (n >= 2)
    out[2] = (uv[1].x() * uv[1].x()) * d[2] + (2 * uv[1].x() * uv[1].y()) * d[3] + (uv[1].y() * uv[1].y()) * d[4] +
             uv[2].x() * d[0] + uv[2].y() * d[1];
  for (int k = 3; k <= n; ++k) out[k] = QELvector();
}

QELinterval par_int_cur::range() const {
  if (cur()) return int_cur::range();
  return pcur1() ? pcur1()->range() : QELinterval();
}

// ---- intcurve ----

intcurve::intcurve() = default;

intcurve::intcurve(bs3_curve cur, double fitol, const surface* s1, const surface* s2, bs2_curve p1, bs2_curve p2,
                   const QELinterval* range, int, int) {
  // The B-splines are ours from the start: freed when the data cannot be made.
  try {
    if (s1 || s2 || p1 || p2)
      data_ = VELM_MAKE(intersection_int_cur, cur, fitol, s1, s2, p1, p2);
    else
      data_ = VELM_MAKE(exact_int_cur, cur, fitol);
  } catch (...) {
    bs3_curve_delete(cur);
    bs2_curve_delete(p1);
    bs2_curve_delete(p2);
    throw;
  }
  if (range) limit(*range);
}

intcurve::intcurve(int_cur* data, bool reversed) : data_(data), reversed_(reversed) {}

intcurve* velm_make_intcurve(bs3_curve cur, double fitol, const surface* surf1, const surface* surf2, bs2_curve pcur1,
                             bs2_curve pcur2, const char* source_file, int line) {
  // A failed allocation skips the constructor, which would have taken the B-splines.
  auto* made = new (0, source_file, line, nullptr) intcurve(cur, fitol, surf1, surf2, pcur1, pcur2);
  if (!made) {
    bs3_curve_delete(cur);
    bs2_curve_delete(pcur1);
    bs2_curve_delete(pcur2);
    velm_out_of_memory();
  }
  return made;
}

intcurve::intcurve(const intcurve& o) : curve(o), data_(o.data_ ? o.data_->copy() : nullptr), reversed_(o.reversed_) {}

intcurve& intcurve::operator=(const intcurve& o) {
  if (this != &o) {
    int_cur* d = o.data_ ? o.data_->copy() : nullptr;
    delete data_;
    data_ = d;
    reversed_ = o.reversed_;
    curve::operator=(o);
  }
  return *this;
}

intcurve::~intcurve() { delete data_; }

bs3_curve intcurve::cur(double) const { return data_ ? data_->cur_ : nullptr; }

void intcurve::set_cur(bs3_curve c, double fit, int, int) {
  if (!data_) data_ = VELM_MAKE(exact_int_cur, nullptr, 0.0);
  if (data_->cur_ != c) bs3_curve_delete(data_->cur_);
  data_->cur_ = c;
  if (fit >= 0.0) data_->fitol_ = fit;
  change_event();
}

bool intcurve::pcur_present(int index) const {
  const int i = std::abs(index);
  return (i == 1 && pcur1()) || (i == 2 && pcur2());
}

intcurve* intcurve::subset(const QELinterval& range) const {
  const QELinterval full = full_range();
  if (range.empty() || !range.finite() || !(full >> range)) return nullptr;
  intcurve* r = VELM_MAKE(intcurve, *this);
  r->limit(range & full);
  return r;
}

void intcurve::eval_derivs(double t, int n, QELvector* out, int side) const {
  if (!data_) {
    std::fill(out, out + n + 1, QELvector());
    return;
  }
  if (!reversed_) return data_->eval_derivs(t, n, out, side);
  data_->eval_derivs(-t, n, out, -side);
  for (int k = 1; k <= n; k += 2) out[k] = -out[k];
}

QELinterval intcurve::full_range() const {
  const QELinterval r = data_ ? data_->range() : QELinterval();
  return reversed_ ? -r : r;
}

double intcurve::full_period() const {
  const bs3_curve c = cur();
  return c && c->dir.form == 2 ? c->range().length() : 0.0;
}

int intcurve::perp_samples() const {
  const bs3_curve c = cur();
  return c ? std::max(64, 8 * (c->n() - c->dir.degree)) : 64;
}

QELbox intcurve::bound(const QELinterval& range) const {
  const bs3_curve c = cur();
  if (!c || range.empty() || range.infinite()) return curve::bound(range);
  // The control polygon of the piece holds the piece (positive weights).
  const QELinterval own = reversed_ ? -range : range;
  bs3_curve piece = bs3_curve_subset(c, own & c->range());
  QELbox box;
  for (const QELposition& p : (piece ? piece : c)->pts) box |= p;
  bs3_curve_delete(piece);
  return box;
}

void intcurve::negate() {
  reversed_ = !reversed_;
  negate_limit();
  change_event();
}

curve& intcurve::operator*=(const QELtransf& t) {
  if (data_) data_->transform(t);
  change_event();
  return *this;
}

std::vector<double> intcurve::candidate_discontinuities(int order) const {
  std::vector<double> r;
  const bs3_curve c = cur();
  if (!c) return r;
  const std::vector<double>& k = c->dir.knots;
  const int p = c->dir.degree, n = c->n();
  for (int i = p + 1; i < n;) {
    int m = 1;
    while (i + m < n && k[i + m] == k[i]) ++m;
    if (m > p - order) r.push_back(reversed_ ? -k[i] : k[i]);
    i += m;
  }
  std::sort(r.begin(), r.end());
  return r;
}
