// Procedural spline kinds: revolution, offset, translation sweep and law
// surfaces. Each evaluates its own definition; its B-spline (spl_sur::sur) is
// a Hermite approximation made on first use.
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "bspline_data.hxx"
#include "geom_numeric.hxx"
#include "velm/law.hxx"

const int rot_spl_sur::id = 2;
const int off_spl_sur::id = 3;
const int sweep_spl_sur::id = 4;
const int law_spl_sur::id = 6;

namespace {
constexpr double two_pi = 2.0 * std::numbers::pi;
const double procedural_fitol = QELresfit / 10.0;

// w turned by the angle about the unit axis (right-handed).
QELvector turn(const QELvector& w, const QELunit_vector& a, double angle) {
  const QELvector along = (w % a) * a, across = w - along;
  return along + std::cos(angle) * across + std::sin(angle) * (a * across);
}

void zero_derivs(int n, QELvector* d) { std::fill(d, d + (n >= 2 ? 5 : n >= 1 ? 2 : 0), QELvector()); }

QELposition pos_of(const QELvector& v) { return QELposition(v.x(), v.y(), v.z()); }

// A copy of the rail made after the profile's: when it cannot be made, the
// profile's is freed (a half-made surface's destructor does not run).
curve* rail_copy(const curve& rail, curve* profile) {
  try {
    return rail.make_copy();
  } catch (...) {
    delete profile;
    throw;
  }
}

curve* translated(const curve& c, const QELvector& by) {
  const QELtransf t = translate_transf(by);
  return trans_curve(c, &t);
}

// Within what a profile that is not itself a B-spline is interpolated for
// its sweep: one direction's points cost little, and the edges of a face on
// the sweep (the profile moved, lines along the rail) then lie on its
// B-spline as they lie on the sweep.
const double profile_interpolation_fit = 1e-2 * QELresabs;

// A curve's B-spline at its own parameters over r: its own for a line or a
// B-spline (exact), else interpolated well inside the fit. Null when the
// curve gives none over exactly r.
bs3_curve own_parameter_form(const curve& c, const QELinterval& r) {
  held_bs3 out(c.type() == 1 || c.type() == 11 ? bs3_curve_make_cur(c, r.start_pt(), r.end_pt(), 0.0)
                                              : bs_interpolate_curve(c, r.start_pt(), r.end_pt(), profile_interpolation_fit));
  if (!out.get() || !(out.get()->range() == r)) return nullptr;
  return out.release();
}

// A translation sweep, P(u) + R(v) - R(v0), is a tensor product of its
// profile's and its rail's B-splines: control points P_i + R_j - R(v0) and
// weights w_i m_j (each curve's basis sums to one, rational or not). Each
// curve's B-spline is at its own parameters (exact for a B-spline or a line,
// any other curve interpolated well inside the fit), so a straight rail gives
// the profile times a line of degree one and a bent rail (an arc, a B-spline)
// its own B-spline along v. The Hermite patches stray up to their fit (1e-4)
// from the sweep, and so from every edge on it. Null where a range is
// unbounded or the product strays from the sweep after all.
bs3_surface translation_form(const sweep_spl_sur& s) {
  const QELpar_box box = s.range();
  const QELinterval& u = box.u_range();
  const QELinterval& v = box.v_range();
  if (!u.finite() || !v.finite() || !(u.length() > 0.0) || !(v.length() > 0.0)) return nullptr;
  const held_bs3 along(own_parameter_form(s.profile(), u));
  const held_bs3 across(own_parameter_form(s.rail(), v));
  const bs3_curve p = along.get(), r = across.get();
  if (!p || !r) return nullptr;
  const QELposition origin = s.rail().eval_position(v.start_pt());
  std::unique_ptr<bs3_surf_def> out(VELM_MAKE(bs3_surf_def));
  out->u = p->dir;
  out->u.pole = 0;
  out->v = r->dir;
  out->v.pole = 0;
  out->rational = p->rational || r->rational;
  out->point_tol = std::max(p->point_tol, r->point_tol);
  for (int i = 0; i < p->n(); ++i)
    for (int j = 0; j < r->n(); ++j) {
      out->pts.push_back(p->pts[i] + (r->pts[j] - origin));
      if (out->rational) out->weights.push_back(p->weight(i) * r->weight(j));
    }
  out->u.form = bs_surface_form(*out, true, out->point_tol);
  out->v.form = bs_surface_form(*out, false, out->point_tol);
  // The sweep's own points: the product must be the sweep, not another surface.
  const int across_steps = r->dir.degree == 1 && r->n() == 2 ? 2 : 16;
  for (int i = 0; i <= 16; ++i)
    for (int j = 0; j <= across_steps; ++j) {
      const QELpar_pos at(u.interpolate(i / 16.0), v.interpolate(j / double(across_steps)));
      QELposition on, want;
      QELvector d[2];
      out->eval(at, on, 0, nullptr);
      s.eval_derivs(at, 0, want, d, 0, 0);
      if (distance(on, want) > QELresabs) return nullptr;
    }
  return out.release();
}
}  // namespace

// ---- spl_sur (shared parts) ----

bs3_surface spl_sur::sur() const {
  if (!sur_ && kind_ == sweep_spl_sur::id) sur_ = translation_form(static_cast<const sweep_spl_sur&>(*this));
  if (!sur_ && evaluates_itself()) {
    const QELpar_box r = range();
    sur_ = bs_hermite_surface(
        [this](const QELpar_pos& uv, QELposition& p, QELvector& du, QELvector& dv, QELvector& duv) {
          QELvector d[5];
          eval_derivs(uv, 2, p, d, 0, 0);
          du = d[0];
          dv = d[1];
          duv = d[3];
        },
        r.u_range(), r.v_range(), fitol_);
  }
  return sur_;
}

curve* spl_sur::param_line(bool, double) const { return nullptr; }

// ---- revolution ----

rot_spl_sur::rot_spl_sur(const curve& profile, const QELposition& axis_point, const QELvector& axis_dir,
                         const QELinterval* u_range, const QELinterval* v_range)
    : spl_sur(id, nullptr, procedural_fitol),
      profile_(profile.make_copy()),
      axis_point_(axis_point),
      axis_dir_(axis_dir),
      u_range_(u_range ? *u_range : profile.param_range()),
      v_range_(v_range ? *v_range : QELinterval(0.0, two_pi)) {}

rot_spl_sur::rot_spl_sur(const rot_spl_sur& o)
    : spl_sur(o),
      profile_(o.profile_->make_copy()),
      axis_point_(o.axis_point_),
      axis_dir_(o.axis_dir_),
      u_range_(o.u_range_),
      v_range_(o.v_range_) {}

rot_spl_sur::~rot_spl_sur() { delete profile_; }

void rot_spl_sur::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int) const {
  QELvector p[3];
  profile_->eval_derivs(uv.u, std::min(n, 2), p, uside);
  const QELvector w = turn(pos_of(p[0]) - axis_point_, axis_dir_, uv.v);
  pos = axis_point_ + w;
  if (n < 1) return;
  d[0] = turn(p[1], axis_dir_, uv.v);
  d[1] = axis_dir_ * w;
  if (n < 2) return;
  d[2] = turn(p[2], axis_dir_, uv.v);
  d[3] = axis_dir_ * d[0];
  d[4] = axis_dir_ * d[1];
}

double rot_spl_sur::period_u() const {
  const double p = profile_->param_period();
  return p > 0.0 && std::fabs(u_range_.length() - p) < QELresnor ? p : 0.0;
}

double rot_spl_sur::period_v() const {
  return v_range_.finite() && std::fabs(v_range_.length() - two_pi) < QELresnor ? two_pi : 0.0;
}

void rot_spl_sur::transform(const QELtransf& t) {
  *profile_ *= t;
  axis_point_ *= t;
  // A mirror turns the rotation round; the reversed axis keeps every (u, v).
  axis_dir_ = t.reflect() ? -(axis_dir_ * t) : axis_dir_ * t;
  spl_sur::transform(t);
}

curve* rot_spl_sur::param_line(bool along_u, double at) const {
  if (along_u) {
    const QELtransf t = translate_transf(QELposition() - axis_point_) * rotate_transf(at, axis_dir_) *
                        translate_transf(axis_point_ - QELposition());
    return trans_curve(*profile_, &t);
  }
  const QELvector w = profile_->eval_position(at) - axis_point_;
  const QELvector along = (w % axis_dir_) * axis_dir_, across = w - along;
  if (across.len() <= QELresabs) return nullptr;
  ellipse* circle = VELM_MAKE(ellipse, axis_point_ + along, axis_dir_, across, 1.0, 0.0);
  circle->limit(v_range_);
  return circle;
}

// ---- offset ----

off_spl_sur::off_spl_sur(const surface& base, double distance, const QELpar_box* box, int, int, int, int)
    : spl_sur(id, nullptr, procedural_fitol),
      base_(base.make_copy()),
      distance_(distance),
      box_(box ? *box : base.param_range()) {}

off_spl_sur::off_spl_sur(const off_spl_sur& o)
    : spl_sur(o), base_(o.base_->make_copy()), distance_(o.distance_), box_(o.box_) {}

off_spl_sur::~off_spl_sur() { delete base_; }

namespace {
// Position and first derivatives of base + d n.
void offset_first(const surface& base, double dist, const QELpar_pos& uv, QELposition& pos, QELvector* d1) {
  QELvector b[5];
  QELposition p;
  base.eval_derivs(uv, 2, p, b);
  const QELvector N = b[0] * b[1];
  const double len = N.len();
  if (len <= QELresnor * QELresnor) {
    // Degenerate normal: the offset moves along the kind's own normal there.
    pos = p + dist * base.eval_normal(uv);
    if (d1) d1[0] = b[0], d1[1] = b[1];
    return;
  }
  const double sign = base.left_handed_uv() ? -1.0 : 1.0;
  const QELvector n = N / len;
  pos = p + (sign * dist) * n;
  if (!d1) return;
  const QELvector Nu = b[2] * b[1] + b[0] * b[3], Nv = b[3] * b[1] + b[0] * b[4];
  d1[0] = b[0] + (sign * dist / len) * (Nu - (n % Nu) * n);
  d1[1] = b[1] + (sign * dist / len) * (Nv - (n % Nv) * n);
}
}  // namespace

void off_spl_sur::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int, int) const {
  offset_first(*base_, distance_, uv, pos, n >= 1 ? d : nullptr);
  if (n < 2) return;
  // Second derivatives by central differences of the first (they need the base's third).
  const double hu = 1e-5 * std::max(1.0, std::fabs(uv.u)), hv = 1e-5 * std::max(1.0, std::fabs(uv.v));
  QELvector a[2], b[2], c[2], e[2];
  QELposition unused;
  offset_first(*base_, distance_, QELpar_pos(uv.u - hu, uv.v), unused, a);
  offset_first(*base_, distance_, QELpar_pos(uv.u + hu, uv.v), unused, b);
  offset_first(*base_, distance_, QELpar_pos(uv.u, uv.v - hv), unused, c);
  offset_first(*base_, distance_, QELpar_pos(uv.u, uv.v + hv), unused, e);
  d[2] = (b[0] - a[0]) / (2 * hu);
  d[3] = (b[1] - a[1]) / (2 * hu);
  d[4] = (e[1] - c[1]) / (2 * hv);
}

double off_spl_sur::period_u() const {
  const double p = base_->param_period_u();
  return p > 0.0 && std::fabs(box_.u_range().length() - p) < QELresnor ? p : 0.0;
}

double off_spl_sur::period_v() const {
  const double p = base_->param_period_v();
  return p > 0.0 && std::fabs(box_.v_range().length() - p) < QELresnor ? p : 0.0;
}

void off_spl_sur::transform(const QELtransf& t) {
  *base_ *= t;
  distance_ *= t.scaling();
  if (t.reflect() && (base_->type() == 3 || base_->type() == 4)) {
    // A mirrored sphere or torus moves (u, v) to (u, -v), and the offset with
    // it: the box turns round and the approximation is made anew.
    box_ = QELpar_box(box_.u_range(), -box_.v_range());
    bs3_surface_delete(sur_);
    sur_ = nullptr;
    fitol_ = procedural_fitol;
    return;
  }
  spl_sur::transform(t);
}

// ---- translation sweep ----

sweep_spl_sur::sweep_spl_sur(const curve& profile, const curve& rail, const QELinterval& u_range,
                             const QELinterval& v_range)
    : spl_sur(id, nullptr, procedural_fitol),
      profile_(profile.make_copy()),
      rail_(rail_copy(rail, profile_)),
      u_range_(u_range),
      v_range_(v_range) {}

sweep_spl_sur::sweep_spl_sur(const curve& profile, const curve& rail, law* rail_law, law* taper_law, law* scale_law,
                             const QELinterval& u_range, const QELinterval& v_range, int, void*, void*, int, int, int)
    : sweep_spl_sur(profile, rail, u_range, v_range) {
  laws_[0] = rail_law;
  laws_[1] = taper_law;
  laws_[2] = scale_law;
  for (law* l : laws_)
    if (l) l->add();
}

sweep_spl_sur::sweep_spl_sur(const sweep_spl_sur& o)
    : spl_sur(o),
      profile_(o.profile_->make_copy()),
      rail_(rail_copy(*o.rail_, profile_)),
      u_range_(o.u_range_),
      v_range_(o.v_range_) {
  std::copy(o.laws_, o.laws_ + 3, laws_);
  for (law* l : laws_)
    if (l) l->add();
}

sweep_spl_sur::~sweep_spl_sur() {
  delete profile_;
  delete rail_;
  for (law* l : laws_)
    if (l) l->remove();
}

// The rail's parameter that the profile sits at: the low end of the v range,
// or the rail's origin when the range has no low end.
double sweep_spl_sur::v_origin() const { return v_range_.bounded_below() ? v_range_.start_pt() : 0.0; }

void sweep_spl_sur::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside,
                                int vside) const {
  QELvector p[3], r[3], r0[1];
  profile_->eval_derivs(uv.u, std::min(n, 2), p, uside);
  rail_->eval_derivs(uv.v, std::min(n, 2), r, vside);
  rail_->eval_derivs(v_origin(), 0, r0);
  pos = pos_of(p[0] + (r[0] - r0[0]));
  if (n < 1) return;
  d[0] = p[1];
  d[1] = r[1];
  if (n < 2) return;
  d[2] = p[2];
  d[3] = QELvector();
  d[4] = r[2];
}

void sweep_spl_sur::transform(const QELtransf& t) {
  *profile_ *= t;
  *rail_ *= t;
  spl_sur::transform(t);
}

curve* sweep_spl_sur::param_line(bool along_u, double at) const {
  const QELposition rail_start = rail_->eval_position(v_origin());
  if (along_u) return translated(*profile_, rail_->eval_position(at) - rail_start);
  return translated(*rail_, profile_->eval_position(at) - rail_start);
}

// ---- law surface ----

law_spl_sur::law_spl_sur(surface_law* l, const QELpar_box& box, double tol)
    : spl_sur(id, nullptr, tol > 0.0 ? tol : procedural_fitol), law_(l), box_(box) {
  if (law_) law_->add();
}

law_spl_sur::law_spl_sur(bs3_surface sur, const QELpar_box& box, double tol)
    : spl_sur(id, sur, tol), law_(nullptr), box_(box) {}

law_spl_sur::law_spl_sur(const law_spl_sur& o) : spl_sur(o), law_(o.law_), box_(o.box_), placed_(o.placed_) {
  if (law_) law_->add();
}

law_spl_sur::~law_spl_sur() {
  if (law_) law_->remove();
}

void law_spl_sur::eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside,
                              int vside) const {
  if (!law_) {
    if (sur_) return spl_sur::eval_derivs(uv, n, pos, d, uside, vside);
    pos = QELposition();
    return zero_derivs(n, d);
  }
  auto at = [&](double u, double v) {
    const double x[2] = {u, v};
    double a[3];
    law_->evaluate(x, a);
    return QELvector(a[0], a[1], a[2]);
  };
  const QELvector p = at(uv.u, uv.v);
  pos = pos_of(p) * placed_;
  if (n < 1) return;
  const double hu = 1e-4 * std::max(1e-3, box_.u_range().finite() ? box_.u_range().length() : 1.0);
  const double hv = 1e-4 * std::max(1e-3, box_.v_range().finite() ? box_.v_range().length() : 1.0);
  const QELvector pu = at(uv.u + hu, uv.v), mu = at(uv.u - hu, uv.v), pv = at(uv.u, uv.v + hv),
                  mv = at(uv.u, uv.v - hv);
  d[0] = ((pu - mu) / (2 * hu)) * placed_;
  d[1] = ((pv - mv) / (2 * hv)) * placed_;
  if (n < 2) return;
  d[2] = ((pu - 2.0 * p + mu) / (hu * hu)) * placed_;
  d[3] = ((at(uv.u + hu, uv.v + hv) - at(uv.u + hu, uv.v - hv) - at(uv.u - hu, uv.v + hv) +
           at(uv.u - hu, uv.v - hv)) /
          (4 * hu * hv)) *
         placed_;
  d[4] = ((pv - 2.0 * p + mv) / (hv * hv)) * placed_;
}

void law_spl_sur::transform(const QELtransf& t) {
  placed_ *= t;
  spl_sur::transform(t);
}
