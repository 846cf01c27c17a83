// Save and restore of the geometry equations inside geometry entity records.
//
// Every field is written; reals go through write_real (bit-exact), unit
// vectors are restored without renormalising. Restored B-spline data is
// validated like data from outside (knot counts and order, weights), so a
// damaged file fails the restore instead of reaching the evaluators.
#include <cmath>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "bspline_data.hxx"
#include "entity_internal.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/law.hxx"
#include "velm/save.hxx"

namespace {
[[noreturn]] void damaged(const char* what) { velm_save_damaged(what); }

int read_count(int low, int high) {
  const int n = read_int();
  if (n < low || n > high)
    damaged(("count " + std::to_string(n) + " outside " + std::to_string(low) + " .. " + std::to_string(high)).c_str());
  return n;
}

// A direction is written as the unit vector it is; one that is not (a
// damaged digit, a huge number) would reach every evaluator unnormalised.
void read_unit(QELunit_vector& u) {
  const QELvector v = read_vector();
  if (!(std::fabs(v.len() - 1.0) <= 1e-6)) damaged("a direction that is not of unit length");
  static_cast<QELvector&>(u) = v;
}

// A vector that scales a parameter (a plane's u direction, an ellipse's
// major axis): neither nothing nor beyond any model (its square would
// overflow in the evaluators and the trimming of curves on it).
QELvector read_scaling_vector() {
  const QELvector v = read_vector();
  if (!(v.len() > 0.0 && v.len() <= 1e10)) damaged("a scaling vector of no length or beyond any model");
  return v;
}

// A line's parameter scale is a length of the model. One of -1e308 put its
// edge's ends at infinity, which every measure of the edge passed, and the
// writers handed the scale on as a direction.
double read_scale() {
  const double v = read_real();
  if (!(std::fabs(v) <= VELM_MODEL_EXTENT)) damaged("a parameter scale beyond any model");
  return v;
}

void write_reals(const std::vector<double>& v) {
  write_int(static_cast<int>(v.size()));
  for (double x : v) write_real(x);
}

std::vector<double> read_reals(int max_count) {
  std::vector<double> v(read_count(0, max_count));
  for (double& x : v) x = read_real();
  return v;
}

// A curve's points are points of the model; a parameter curve's are
// parameters, measured in the model's lengths and bounded as lengths are.
void write_points(const std::vector<QELposition>& v, bool parameters = false) {
  write_int(static_cast<int>(v.size()));
  for (const QELposition& p : v)
    if (parameters)
      for (int i = 0; i < 3; ++i) write_model_length(p[i]);
    else
      write_model_position(p);
}

std::vector<QELposition> read_points(int max_count, bool parameters = false) {
  std::vector<QELposition> v(read_count(0, max_count));
  for (QELposition& p : v)
    if (parameters)
      for (int i = 0; i < 3; ++i) p[i] = read_model_length();
    else
      p = read_model_position();
  return v;
}

constexpr int max_items = 1 << 22;

// ---- B-splines ----

void write_direction(const bs_direction& d) {
  write_int(d.degree);
  write_int(d.form);
  write_int(d.pole);
  write_int(static_cast<int>(d.knots.size()));
  for (double k : d.knots) write_model_length(k);
}

void read_direction(bs_direction& d, int n) {
  const int degree = read_count(1, 64);
  const int form = read_count(0, 2), pole = read_count(0, 3);
  // Parameters are measured in the model's lengths (or turns): a knot beyond
  // them makes spans whose differences and products overflow.
  std::vector<double> knots(read_count(0, max_items));
  for (double& k : knots)
    if (k = read_real(); !(std::fabs(k) <= VELM_MODEL_EXTENT)) damaged("a knot beyond any model");
  if (!bs_direction_build(d, degree, n, static_cast<int>(knots.size()), knots.data(), 0.0))
    damaged("knots that do not fit the degree and the number of control points");
  d.form = form;
  d.pole = pole;
}

void read_weights(bool rational, std::vector<double>& weights, std::size_t count) {
  if (!rational) return;
  weights = read_reals(max_items);
  if (weights.size() != count) damaged("not one weight per control point");
  for (double w : weights)
    if (!(w > 0.0)) damaged("a weight that is not positive");
}

void write_bs_curve(const bs_curve_data* c, bool parameters = false) {
  write_logical(c != nullptr);
  if (!c) return;
  write_logical(c->rational);
  write_real(c->point_tol);
  write_points(c->pts, parameters);
  write_direction(c->dir);
  if (c->rational) write_reals(c->weights);
}

template <class DEF>
DEF* read_bs_curve() {
  if (!read_logical()) return nullptr;
  std::unique_ptr<DEF> c(VELM_MAKE(DEF));
  c->rational = read_logical();
  c->point_tol = read_real();
  c->pts = read_points(max_items, std::is_same_v<DEF, bs2_curve_def>);
  read_direction(c->dir, c->n());
  read_weights(c->rational, c->weights, c->pts.size());
  return c.release();
}

void write_bs_surface(const bs3_surf_def* s) {
  write_logical(s != nullptr);
  if (!s) return;
  write_logical(s->rational);
  write_real(s->point_tol);
  write_int(s->nu());
  write_points(s->pts);
  write_direction(s->u);
  write_direction(s->v);
  if (s->rational) write_reals(s->weights);
}

bs3_surface read_bs_surface() {
  if (!read_logical()) return nullptr;
  std::unique_ptr<bs3_surf_def> s(VELM_MAKE(bs3_surf_def));
  s->rational = read_logical();
  s->point_tol = read_real();
  const int nu = read_count(2, max_items);
  s->pts = read_points(max_items);
  if (s->pts.size() % nu) damaged("control points that do not fill whole rows");
  read_direction(s->u, nu);
  read_direction(s->v, static_cast<int>(s->pts.size()) / nu);
  read_weights(s->rational, s->weights, s->pts.size());
  return s.release();
}

struct bs3_curve_deleter {
  void operator()(bs3_curve c) const { bs3_curve_delete(c); }
};
struct bs2_curve_deleter {
  void operator()(bs2_curve c) const { bs2_curve_delete(c); }
};
using bs3_holder = std::unique_ptr<bs3_curve_def, bs3_curve_deleter>;
using bs2_holder = std::unique_ptr<bs2_curve_def, bs2_curve_deleter>;
struct bs3_surface_deleter {
  void operator()(bs3_surface s) const { bs3_surface_delete(s); }
};
using bs3_surface_holder = std::unique_ptr<bs3_surf_def, bs3_surface_deleter>;

// Makes a definition that takes over `held` only once it exists, so that a
// failed allocation leaves the holder to free what was read.
template <class DEF, class HELD, class... Args>
DEF* make_owning(HELD& held, Args&&... args) {
  DEF* made = VELM_MAKE(DEF, held.get(), std::forward<Args>(args)...);
  held.release();
  return made;
}
}  // namespace

// ---------------------------------------------------------------------------
struct velm_geom_io {
  static void write_curve(const curve* c);
  static curve* read_curve();
  static void write_surface(const surface* s);
  static surface* read_surface();

  static void write_limits(const curve& c) { write_interval(c.subset_); }
  static void read_limits(curve& c) { c.subset_ = read_interval(); }
  static void write_limits(const surface& s) {
    write_interval(s.lim_u_);
    write_interval(s.lim_v_);
  }
  static void read_limits(surface& s) {
    s.lim_u_ = read_interval();
    s.lim_v_ = read_interval();
    s.change_event();
  }

  static void write(const intcurve& c) {
    const int_cur* d = c.data_;
    write_logical(d != nullptr);
    if (d) {
      write_int(d->kind_);
      write_real(d->fitol_);
      write_bs_curve(d->cur_);
      write_surface(d->surf1_);
      write_surface(d->surf2_);
      write_bs_curve(d->pcur1_, true);
      write_bs_curve(d->pcur2_, true);
    }
    write_logical(c.reversed_);
  }

  static void read(intcurve& c) {
    // Held until the curve takes it: the flag after it may still be damaged.
    std::unique_ptr<int_cur> data;
    if (read_logical()) {
      const int kind = read_int();
      const double fitol = read_real();
      bs3_holder cur(read_bs_curve<bs3_curve_def>());
      std::unique_ptr<surface> s1(read_surface()), s2(read_surface());
      bs2_holder p1(read_bs_curve<bs2_curve_def>()), p2(read_bs_curve<bs2_curve_def>());
      if (kind == exact_int_cur::id) {
        data.reset(make_owning<exact_int_cur>(cur, fitol));
      } else if (kind == intersection_int_cur::id) {
        auto* made = VELM_MAKE(intersection_int_cur, cur.get(), fitol, s1.get(), s2.get(), p1.get(), p2.get());
        cur.release();
        p1.release();
        p2.release();
        data.reset(made);
      } else if (kind == par_int_cur_id && s1) {
        auto* made = VELM_MAKE(par_int_cur, cur.get(), fitol, *s1, p1.get());
        cur.release();
        p1.release();
        data.reset(made);
      } else {
        damaged("an intersection curve of an unknown kind");
      }
    }
    const bool reversed = read_logical();
    c = intcurve(data.release(), reversed);
  }

  static void write_box(const QELpar_box& b) {
    write_interval(b.u_range());
    write_interval(b.v_range());
  }
  static QELpar_box read_box() {
    const QELinterval u = read_interval();
    return QELpar_box(u, read_interval());
  }

  // Procedural kinds save their definitions (a law surface its approximation:
  // laws are not saved).
  static void write(const spline& s) {
    const spl_sur* d = s.def_;
    write_logical(d != nullptr);
    if (d) {
      write_int(d->kind_);
      write_real(d->fitol_);
      if (auto* r = dynamic_cast<const rot_spl_sur*>(d)) {
        write_curve(r->profile_);
        write_model_position(r->axis_point_);
        write_vector(r->axis_dir_);
        write_interval(r->u_range_);
        write_interval(r->v_range_);
      } else if (auto* o = dynamic_cast<const off_spl_sur*>(d)) {
        write_surface(o->base_);
        write_model_length(o->distance_);
        write_box(o->box_);
      } else if (auto* w = dynamic_cast<const sweep_spl_sur*>(d)) {
        write_curve(w->profile_);
        write_curve(w->rail_);
        write_interval(w->u_range_);
        write_interval(w->v_range_);
      } else if (auto* l = dynamic_cast<const law_spl_sur*>(d)) {
        write_bs_surface(l->sur());
        write_box(l->box_);
      } else {
        write_bs_surface(d->sur_);
      }
    }
    write_int(s.reverse_v);
  }

  static spl_sur* read_procedural(int kind, double fitol) {
    if (kind == rot_spl_sur::id) {
      std::unique_ptr<curve> profile(read_curve());
      if (!profile) damaged("a revolved surface without a profile");
      const QELposition at = read_model_position();
      QELunit_vector axis;
      read_unit(axis);
      const QELinterval u = read_interval(), v = read_interval();
      auto* r = VELM_MAKE(rot_spl_sur, *profile, at, axis, &u, &v);
      r->axis_dir_ = axis;
      return r;
    }
    if (kind == off_spl_sur::id) {
      std::unique_ptr<surface> base(read_surface());
      if (!base) damaged("an offset surface without a base");
      const double distance = read_model_length();
      const QELpar_box box = read_box();
      return VELM_MAKE(off_spl_sur, *base, distance, &box);
    }
    if (kind == sweep_spl_sur::id) {
      std::unique_ptr<curve> profile(read_curve()), rail(read_curve());
      if (!profile || !rail) damaged("a swept surface without a profile or a rail");
      const QELinterval u = read_interval(), v = read_interval();
      return VELM_MAKE(sweep_spl_sur, *profile, *rail, u, v);
    }
    if (kind == law_spl_sur::id) {
      bs3_surface_holder sur(read_bs_surface());
      const QELpar_box box = read_box();
      auto* made = VELM_MAKE(law_spl_sur, sur.get(), box, fitol);  // a friend's constructor
      sur.release();
      return made;
    }
    return nullptr;
  }

  static void read(spline& s) {
    spl_sur* def = nullptr;
    if (read_logical()) {
      const int kind = read_int();
      const double fitol = read_real();
      def = read_procedural(kind, fitol);
      if (!def) {
        bs3_surface_holder sur(read_bs_surface());
        if (kind == exact_spl_sur::id) def = make_owning<exact_spl_sur>(sur);
        else if (kind == skin_spl_sur_id) def = make_owning<skin_spl_sur>(sur);
        else if (kind == VBL_SURF::id) def = make_owning<VBL_SURF>(sur);
        else if (kind == rb_blend_spl_sur::id) def = make_owning<rb_blend_spl_sur>(sur);
        else damaged("a spline surface of an unknown kind");
      }
      def->fitol_ = fitol;
    }
    s = spline(def);
    s.reverse_v = read_int() != 0;
  }

  static void write(const pcurve& p) {
    write_bs_curve(p.cur_, true);
    write_real(p.fitol_);
    write_surface(p.surf_);
    write_logical(p.reversed_);
    write_real(p.offset_.du);
    write_real(p.offset_.dv);
  }

  static void read(pcurve& p) {
    bs2_holder cur(read_bs_curve<bs2_curve_def>());
    const double fitol = read_real();
    std::unique_ptr<surface> srf(read_surface());
    pcurve r;
    r.cur_ = cur.release();
    r.fitol_ = fitol;
    r.surf_ = srf.release();
    r.reversed_ = read_logical();
    r.offset_.du = read_real();
    r.offset_.dv = read_real();
    // Handed over, not copied: a copy may fail half way.
    std::swap(p.cur_, r.cur_);
    std::swap(p.surf_, r.surf_);
    p.fitol_ = r.fitol_;
    p.reversed_ = r.reversed_;
    p.offset_ = r.offset_;
  }

  static void transform(pcurve& p, const QELtransf& t) {
    if (!p.surf_) return;
    *p.surf_ *= t;
    const int kind = p.surf_->type();
    if (t.reflect() && (kind == 3 || kind == 4)) {
      if (p.cur_) bs2_curve_par_trans(p.cur_, QELpar_transf(1.0, -1.0, 0.0, 0.0));
      p.offset_.dv = -p.offset_.dv;
    }
  }
};

// ---- analytic equations ----

void velm_save_equation(const straight& c) {
  write_model_position(c.root_point);
  write_vector(c.direction);
  write_model_length(c.param_scale);
  velm_geom_io::write_limits(c);
}
void velm_restore_equation(straight& c) {
  c.root_point = read_model_position();
  read_unit(c.direction);
  c.param_scale = read_scale();
  velm_geom_io::read_limits(c);
}

namespace {
void write_ellipse_data(const ellipse& c) {
  write_model_position(c.centre);
  write_vector(c.normal);
  write_vector(c.major_axis);
  if (!(std::fabs(c.radius_ratio) * c.major_axis.len() <= VELM_MODEL_EXTENT)) velm_api_error_throw(VELM_SAVE_IO);
  write_real(c.radius_ratio);
  write_real(c.param_offset);
}
void read_ellipse_data(ellipse& c) {
  c.centre = read_model_position();
  read_unit(c.normal);
  c.major_axis = read_scaling_vector();
  // The minor axis is the major one times the ratio: a length of the model.
  c.radius_ratio = read_real();
  if (!(std::fabs(c.radius_ratio) * c.major_axis.len() <= VELM_MODEL_EXTENT))
    damaged("a radius ratio beyond any model");
  c.param_offset = read_real();
}
}  // namespace

void velm_save_equation(const ellipse& c) {
  write_ellipse_data(c);
  velm_geom_io::write_limits(c);
}
void velm_restore_equation(ellipse& c) {
  read_ellipse_data(c);
  velm_geom_io::read_limits(c);
}

void velm_save_equation(const degenerate_curve& c) {
  write_model_position(c.point);
  velm_geom_io::write_limits(c);
}
void velm_restore_equation(degenerate_curve& c) {
  c.point = read_model_position();
  velm_geom_io::read_limits(c);
}

void velm_save_equation(const intcurve& c) {
  velm_geom_io::write(c);
  velm_geom_io::write_limits(c);
}
void velm_restore_equation(intcurve& c) {
  velm_geom_io::read(c);
  velm_geom_io::read_limits(c);
}

void velm_save_equation(const plane& s) {
  write_model_position(s.root_point);
  write_vector(s.normal);
  write_vector(s.u_deriv);
  write_int(s.reverse_v);
  velm_geom_io::write_limits(s);
}
void velm_restore_equation(plane& s) {
  s.root_point = read_model_position();
  read_unit(s.normal);
  s.u_deriv = read_scaling_vector();
  s.reverse_v = read_int();
  velm_geom_io::read_limits(s);
}

void velm_save_equation(const cone& s) {
  write_ellipse_data(s.base);
  write_real(s.sine);
  write_real(s.cosine);
  write_real(s.u_scale);
  write_int(s.reverse_u);
  write_int(s.cylinder);
  velm_geom_io::write_limits(s);
}
void velm_restore_equation(cone& s) {
  read_ellipse_data(s.base);
  s.sine = read_real();
  s.cosine = read_real();
  s.u_scale = read_real();
  s.reverse_u = read_int();
  s.cylinder = read_int();
  velm_geom_io::read_limits(s);
}

void velm_save_equation(const sphere& s) {
  write_model_position(s.centre);
  write_model_length(s.radius);
  write_vector(s.origin_dir);
  write_vector(s.pole_dir);
  velm_geom_io::write_limits(s);
}
void velm_restore_equation(sphere& s) {
  s.centre = read_model_position();
  s.radius = read_model_length();
  read_unit(s.origin_dir);
  read_unit(s.pole_dir);
  velm_geom_io::read_limits(s);
}

void velm_save_equation(const torus& s) {
  write_model_position(s.centre);
  write_vector(s.normal);
  write_model_length(s.major_radius);
  write_model_length(s.minor_radius);
  write_vector(s.origin_dir);
  velm_geom_io::write_limits(s);
}
void velm_restore_equation(torus& s) {
  s.centre = read_model_position();
  read_unit(s.normal);
  s.major_radius = read_model_length();
  s.minor_radius = read_model_length();
  read_unit(s.origin_dir);
  velm_geom_io::read_limits(s);
}

void velm_save_equation(const spline& s) {
  velm_geom_io::write(s);
  velm_geom_io::write_limits(s);
}
void velm_restore_equation(spline& s) {
  velm_geom_io::read(s);
  velm_geom_io::read_limits(s);
}

void velm_save_equation(const pcurve& p) { velm_geom_io::write(p); }
void velm_restore_equation(pcurve& p) { velm_geom_io::read(p); }
void velm_transform_pcurve(pcurve& p, const QELtransf& t) { velm_geom_io::transform(p, t); }

// ---- nested equations (an intcurve's or a pcurve's surfaces) ----

void velm_geom_io::write_curve(const curve* c) {
  write_int(c ? c->type() : -1);
  if (!c) return;
  switch (c->type()) {
    case 1: return velm_save_equation(static_cast<const straight&>(*c));
    case 2: return velm_save_equation(static_cast<const ellipse&>(*c));
    case 11: return velm_save_equation(static_cast<const intcurve&>(*c));
    default: return velm_save_equation(static_cast<const degenerate_curve&>(*c));
  }
}

namespace {
template <class EQ, class BASE>
BASE* read_new() {
  std::unique_ptr<EQ> e(VELM_MAKE(EQ));
  velm_restore_equation(*e);
  return e.release();
}
}  // namespace

curve* velm_geom_io::read_curve() {
  switch (read_int()) {
    case -1: return nullptr;
    case 0: return read_new<degenerate_curve, curve>();
    case 1: return read_new<straight, curve>();
    case 2: return read_new<ellipse, curve>();
    case 11: return read_new<intcurve, curve>();
    default: damaged("a curve of an unknown kind");
  }
}

void velm_geom_io::write_surface(const surface* s) {
  write_int(s ? s->type() : -1);
  if (!s) return;
  switch (s->type()) {
    case 1: return velm_save_equation(static_cast<const plane&>(*s));
    case 2: return velm_save_equation(static_cast<const cone&>(*s));
    case 3: return velm_save_equation(static_cast<const sphere&>(*s));
    case 4: return velm_save_equation(static_cast<const torus&>(*s));
    default: return velm_save_equation(static_cast<const spline&>(*s));
  }
}

surface* velm_geom_io::read_surface() {
  switch (read_int()) {
    case -1: return nullptr;
    case 1: return read_new<plane, surface>();
    case 2: return read_new<cone, surface>();
    case 3: return read_new<sphere, surface>();
    case 4: return read_new<torus, surface>();
    case 10: return read_new<spline, surface>();
    default: damaged("a surface of an unknown kind");
  }
}
