// Spline surfaces and their definition kinds; parameter-space curves.
#include <algorithm>
#include <memory>
#include <cmath>

#include "bspline_data.hxx"
#include "geom_numeric.hxx"
#include "velm/geometry.hxx"

// ---- spl_sur ----

const int exact_spl_sur::id = 1;
const int skin_spl_sur_id = 5;
const int VBL_SURF::id = 7;
const int rb_blend_spl_sur::id = 8;

spl_sur::spl_sur(const spl_sur& o) : kind_(o.kind_), sur_(bs3_surface_copy(o.sur_)), fitol_(o.fitol_) {}

spl_sur::~spl_sur() { bs3_surface_delete(sur_); }

void spl_sur::remove() {
  if (--use_count_ <= 0) delete this;
}

void spl_sur::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const {
  if (const bs3_surface s = sur()) return s->eval(uv, pos, n, d, uside, vside);
  pos = QELposition();
  std::fill(d, d + (n >= 2 ? 5 : n >= 1 ? 2 : 0), QELvector());
}

QELpar_box spl_sur::range() const { return sur() ? bs3_surface_range(sur()) : QELpar_box(); }
double spl_sur::period_u() const { return sur() && sur()->u.form == 2 ? sur()->u.range().length() : 0.0; }
double spl_sur::period_v() const { return sur() && sur()->v.form == 2 ? sur()->v.range().length() : 0.0; }

void spl_sur::transform(const QELtransf& t) {
  if (sur_)
    for (QELposition& p : sur_->pts) p *= t;
}

// ---- spline ----

spline::spline() = default;
spline::spline(bs3_surface s) : def_(VELM_MAKE(exact_spl_sur, bs3_surface_copy(s))) {}
spline::spline(spl_sur* def) : def_(def) {}

spline::spline(const spline& o) : surface(o), reverse_v(o.reverse_v), def_(o.def_) {
  if (def_) def_->add();
}

spline& spline::operator=(const spline& o) {
  if (this != &o) {
    if (o.def_) o.def_->add();
    if (def_) def_->remove();
    def_ = o.def_;
    reverse_v = o.reverse_v;
    surface::operator=(o);
  }
  return *this;
}

spline::~spline() {
  if (def_) def_->remove();
}

void spline::make_unique() {
  if (def_ && def_->use_count() > 1) {
    spl_sur* own = def_->copy();
    def_->remove();
    def_ = own;
  }
}

bs3_surface spline::sur(double fit) const {
  if (!def_) return nullptr;
  return fit < 0.0 ? def_->sur() : bs3_surface_copy(def_->sur());
}

void spline::set_sur(bs3_surface s, double fit) {
  // Shared on purpose: a repair made through a copy reaches every holder.
  if (!def_) {
    def_ = VELM_MAKE(exact_spl_sur, s);
  } else {
    if (def_->sur_ != s) bs3_surface_delete(def_->sur_);
    def_->sur_ = s;
  }
  if (fit >= 0.0) def_->fitol_ = fit;
  change_event();
}

double spline_fitol(const spline& s) { return s.fitol(); }

namespace {
// The base of an offset definition, else null.
const surface* offset_base(const spl_sur* d) {
  return d && d->id() == off_spl_sur::id ? &static_cast<const off_spl_sur*>(d)->base() : nullptr;
}
}  // namespace

bool spline::left_handed_uv() const {
  const surface* base = offset_base(def_);
  return (reverse_v != 0) != (base && base->left_handed_uv());
}

QELunit_vector spline::eval_normal(const QELpar_pos& uv) const {
  const surface* base = offset_base(def_);
  if (!base) return surface::eval_normal(uv);
  const QELunit_vector n = base->eval_normal(uv);
  return reverse_v ? -n : n;
}

// Exact pieces keep the outward side: an offset's handedness becomes the flag.
spline* spline::subset(const QELpar_box& box) const {
  bs3_surface piece = def_ ? bs3_surface_subset(def_->sur(), box) : nullptr;
  if (!piece) return nullptr;
  spline* r = VELM_ADOPT(spline, VELM_ADOPT(exact_spl_sur, piece));
  r->reverse_v = left_handed_uv();
  return r;
}

void spline::make_exact() {
  make_unique();
  if (def_ && def_->evaluates_itself()) {
    // New parameters cannot be given to a procedure: the approximation takes over.
    const bool left_handed = left_handed_uv();
    spl_sur* exact = VELM_MAKE(exact_spl_sur, bs3_surface_copy(def_->sur()));
    def_->remove();
    def_ = exact;
    reverse_v = left_handed;
  }
}

void spline::reparam_u(double lo, double hi) {
  make_exact();
  bs3_surface_reparam_u(lo, hi, def_->sur());
  change_event();
}

void spline::reparam_v(double lo, double hi) {
  make_exact();
  bs3_surface_reparam_v(lo, hi, def_->sur());
  change_event();
}

void spline::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const {
  if (!def_) {
    pos = QELposition();
    std::fill(d, d + (n >= 2 ? 5 : n >= 1 ? 2 : 0), QELvector());
    return;
  }
  def_->eval_derivs(uv, n, pos, d, uside, vside);
}

void spline::eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const {
  // A definition that evaluates its B-spline shares each basis row along the grid.
  const bs3_surface s = def_ && !def_->evaluates_itself() ? def_->sur() : nullptr;
  if (s)
    s->eval_grid(us, vs, out);
  else
    surface::eval_grid(us, vs, out);
}

QELpar_box spline::full_range() const { return def_ ? def_->range() : QELpar_box(); }
double spline::full_period_u() const { return def_ ? def_->period_u() : 0.0; }
double spline::full_period_v() const { return def_ ? def_->period_v() : 0.0; }

namespace {

// The iso-line at the value collapses to a point (sampled, so every kind is served).
bool iso_collapses(const spline& s, bool u_fixed, double x) {
  const QELpar_box r = s.full_range();
  const QELinterval& across = u_fixed ? r.v_range() : r.u_range();
  if (!across.finite()) return false;
  const QELposition first = s.eval_position(u_fixed ? QELpar_pos(x, across.start_pt()) : QELpar_pos(across.start_pt(), x));
  for (int i = 1; i <= 8; ++i) {
    const double y = across.interpolate(i / 8.0);
    if (!same_point(s.eval_position(u_fixed ? QELpar_pos(x, y) : QELpar_pos(y, x)), first)) return false;
  }
  return true;
}

}  // namespace

bool spline::singular_u(double u) const { return def_ && iso_collapses(*this, true, u); }
bool spline::singular_v(double v) const { return def_ && iso_collapses(*this, false, v); }

curve* spline::u_param_line(double v) const {
  if (curve* exact = def_ ? def_->param_line(true, v) : nullptr) return exact;
  bs3_curve c = def_ ? bs3_curve_u_param_line(def_->sur(), v) : nullptr;
  return c ? VELM_ADOPT(intcurve, c) : nullptr;
}

curve* spline::v_param_line(double u) const {
  if (curve* exact = def_ ? def_->param_line(false, u) : nullptr) return exact;
  bs3_curve c = def_ ? bs3_curve_v_param_line(def_->sur(), u) : nullptr;
  return c ? VELM_ADOPT(intcurve, c) : nullptr;
}

surface& spline::operator*=(const QELtransf& t) {
  make_unique();
  if (def_) def_->transform(t);
  // Su x Sv turns round under a mirror; the flag keeps the outward side outward.
  // An offset faces as its base, which its own transform keeps outward.
  if (t.reflect() && !offset_base(def_)) reverse_v = !reverse_v;
  change_event();
  return *this;
}

bool spline::operator==(const surface& o) const {
  const spline* s = dynamic_cast<const spline*>(&o);
  if (!s || reverse_v != s->reverse_v) return false;
  const bs3_surface a = sur(), b = s->sur();
  if (!a || !b) return a == b;
  if (a->u.degree != b->u.degree || a->v.degree != b->v.degree || a->u.knots.size() != b->u.knots.size() ||
      a->v.knots.size() != b->v.knots.size() || a->pts.size() != b->pts.size() || a->rational != b->rational)
    return false;
  for (size_t i = 0; i < a->u.knots.size(); ++i)
    if (std::fabs(a->u.knots[i] - b->u.knots[i]) > QELresnor) return false;
  for (size_t i = 0; i < a->v.knots.size(); ++i)
    if (std::fabs(a->v.knots[i] - b->v.knots[i]) > QELresnor) return false;
  for (size_t i = 0; i < a->pts.size(); ++i)
    if (!same_point(a->pts[i], b->pts[i]) || (a->rational && std::fabs(a->weights[i] - b->weights[i]) > QELresnor))
      return false;
  return true;
}

std::vector<double> spline::candidate_discontinuities(bool along_u, int order) const {
  std::vector<double> r;
  if (!def_ || !def_->sur()) return r;
  const bs_direction& d = along_u ? def_->sur()->u : def_->sur()->v;
  const int p = d.degree, n = d.count();
  for (int i = p + 1; i < n;) {
    int m = 1;
    while (i + m < n && d.knots[i + m] == d.knots[i]) ++m;
    if (m > p - order) r.push_back(d.knots[i]);
    i += m;
  }
  return r;
}

// ---- pcurve ----

// The B-spline copied first: a surface copy that fails must not leave it behind.
static ::surface* copy_surface_or_drop(const ::surface* s, bs2_curve& cur) {
  try {
    return s ? s->make_copy() : nullptr;
  } catch (...) {
    bs2_curve_delete(cur);
    throw;
  }
}

// Owns `cur` from the start: a surface copy that fails frees it.
pcurve::pcurve(bs2_curve cur, double fitol, const ::surface& srf, int, int, int, int, bool, double)
    : cur_(cur), fitol_(fitol), surf_(copy_surface_or_drop(&srf, cur_)) {}

pcurve::pcurve(const intcurve& ic, int index) : fitol_(ic.fitol()), reversed_(index < 0) {
  const int i = std::abs(index);
  const ::surface* s = i == 1 ? ic.surf1() : i == 2 ? ic.surf2() : nullptr;
  cur_ = bs2_curve_copy(i == 1 ? ic.pcur1() : i == 2 ? ic.pcur2() : nullptr);
  surf_ = copy_surface_or_drop(s, cur_);
}

pcurve::pcurve(const pcurve& o) : fitol_(o.fitol_), reversed_(o.reversed_), offset_(o.offset_) {
  cur_ = bs2_curve_copy(o.cur_);
  surf_ = copy_surface_or_drop(o.surf_, cur_);
}

pcurve& pcurve::operator=(const pcurve& o) {
  if (this != &o) {
    pcurve copy(o);
    std::swap(cur_, copy.cur_);
    std::swap(surf_, copy.surf_);
    fitol_ = o.fitol_;
    reversed_ = o.reversed_;
    offset_ = o.offset_;
  }
  return *this;
}

pcurve::~pcurve() {
  bs2_curve_delete(cur_);
  delete surf_;
}

const ::surface& pcurve::surface() const {
  static const plane none;
  return surf_ ? *surf_ : static_cast<const ::surface&>(none);
}

void pcurve::eval(double t, QELpar_pos& uv, QELpar_vec* duv, QELpar_vec* d2uv, int side) const {
  QELvector out[3];
  if (cur_) cur_->eval(reversed_ ? -t : t, d2uv ? 2 : duv ? 1 : 0, out, reversed_ ? -side : side);
  if (reversed_) out[1] = -out[1];
  uv = QELpar_pos(out[0].x() + offset_.du, out[0].y() + offset_.dv);
  if (duv) *duv = QELpar_vec(out[1].x(), out[1].y());
  if (d2uv) *d2uv = QELpar_vec(out[2].x(), out[2].y());
}

QELpar_pos pcurve::eval_position(double t) const {
  QELpar_pos uv;
  eval(t, uv);
  return uv;
}

QELpar_vec pcurve::eval_deriv(double t) const {
  QELpar_pos uv;
  QELpar_vec d;
  eval(t, uv, &d);
  return d;
}

QELinterval pcurve::param_range() const {
  if (!cur_) return QELinterval();
  return reversed_ ? -cur_->range() : cur_->range();
}

double pcurve::param_period() const { return cur_ && cur_->dir.form == 2 ? cur_->range().length() : 0.0; }

QELpar_box pcurve::bound(const QELinterval& range) const {
  pcurve* piece = trim(range);
  const bs2_curve c = piece && piece->cur_ ? piece->cur_ : cur_;
  QELpar_box box;
  if (c) {
    box = bs2_curve_box(c, 0.0);
    box = QELpar_box(box.u_range() + offset_.du, box.v_range() + offset_.dv);
  }
  delete piece;
  return box;
}

pcurve* pcurve::trim(const QELinterval& range) const {
  if (!cur_ || range.empty() || !range.finite()) return nullptr;
  // The piece is held while the pcurve is copied: a copy that fails frees it.
  held_bs2 piece(bs2_curve_subset(cur_, reversed_ ? -range : range));
  if (!piece.get()) return nullptr;
  pcurve* r = VELM_MAKE(pcurve, *this);
  bs2_curve_delete(r->cur_);
  r->cur_ = piece.release();
  return r;
}

pcurve* pcurve::split(double t) {
  const QELinterval r = param_range();
  if (!(r >> t)) return nullptr;
  std::unique_ptr<pcurve> before(trim(QELinterval(r.start_pt(), t)));
  const std::unique_ptr<pcurve> after(trim(QELinterval(t, r.end_pt())));
  if (after) std::swap(cur_, after->cur_);
  return before.release();
}

int pcurve::check_hull_curve_enclosure(const curve& c, const ::surface* srf, int, int, int*, int, double*) {
  const ::surface& s = srf ? *srf : surface();
  const QELinterval r = param_range();
  if (!cur_ || !r.finite()) return 0;
  double worst = 0.0;
  for (int i = 0; i <= 8; ++i) {
    const QELposition p = s.eval_position(eval_position(r.interpolate(i / 8.0)));
    worst = std::max(worst, distance(c.closest_point(p), p));
  }
  return worst <= std::max(fitol_, QELresfit) ? 1 : 0;
}
