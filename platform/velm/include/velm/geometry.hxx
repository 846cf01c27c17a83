// Geometry equations of the kernel: curves, parameter-space curves and surfaces.
//
// Parametrisations (every formula here is a convention shared with the framework):
//   straight  P(t) = root + t scale dir
//   ellipse   B = k (N x A); P(t) = C + A cos(t + off) + B sin(t + off), t in [-pi, pi]
//   plane     U' = U - (U.N)N; V = N x U' (negated when reverse_v); S = P + u U' + v V
//   cone      sigma = u_scale or |A| when 0; B = k (Z x A); R(v) = A cos v + B sin v;
//             (s~, c~) = (s sign c, |c|); u' = -u when reverse_u;
//             S = C + (1 + s~ sigma u'/|A|) R(v) + c~ sigma u' Z; normal away from the axis iff c > 0
//   sphere    W' = O x Pd; S = C + |r| (cos u (O cos v + W' sin v) + sin u Pd); outward iff r > 0
//   torus     W' = O x N; D(v) = O cos v + W' sin v; S = C + (R + |r| cos u) D(v) + |r| sin u N;
//             normal away from the tube's centre circle iff r > 0
//   spline    the B-spline surface; normal Su x Sv, negated when reverse_v
//   offset    (a spline over off_spl_sur) S = base + d n_base, n_base the base's normal with its
//             sense; normal n_base, negated when reverse_v. Su x Sv of an offset that does not
//             turn over keeps the base's orientation, so left_handed_uv is the base's (xor reverse_v)
// A reflecting transform keeps every (u, v) on the image of its point, except on
// spheres and tori, where the image of the point at (u, v) is at (u, -v).
#pragma once

#include <algorithm>
#include <vector>

#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/math.hxx"

// A cache worked out when first asked for and kept out of line: an object never
// asked costs one pointer. Never copied (a copy or an assigned object works out
// its own), so a copy of a changed object never inherits a stale answer.
template <class T>
class velm_lazy_cache {
 public:
  velm_lazy_cache() = default;
  velm_lazy_cache(const velm_lazy_cache&) noexcept {}
  velm_lazy_cache& operator=(const velm_lazy_cache& other) noexcept {
    if (this != &other) clear();
    return *this;
  }
  ~velm_lazy_cache() { clear(); }
  T& get() const {
    if (!held_) held_ = new T();
    return *held_;
  }
  void clear() noexcept {
    delete held_;
    held_ = nullptr;
  }

 private:
  mutable T* held_ = nullptr;
};

enum curve_eval_side { side_below = 0, side_above = 1, side_unknown = 2 };
enum evaluate_surface_quadrant {
  quadrant_u_above_v_above = 0,
  quadrant_u_below_v_above = 1,
  quadrant_u_below_v_below = 2,
  quadrant_u_above_v_below = 3
};

class surface;

// ---------------------------------------------------------------------------
class curve : public VELM_OBJECT {
 public:
  virtual ~curve() = default;
  virtual int type() const = 0;  // 1 straight, 2 ellipse, 11 intcurve, 0 degenerate
  virtual const char* type_name() const = 0;
  virtual curve* make_copy() const = 0;
  curve* copy_curve() const { return make_copy(); }

  void eval(double t, QELposition& pos, QELvector* d1 = nullptr, QELvector* d2 = nullptr) const;
  QELposition eval_position(double t) const;
  QELvector eval_deriv(double t) const;
  // derivs[k] receives the (k+1)-th derivative; returns how many were computed.
  int evaluate(double t, QELposition& pos, QELvector** derivs = nullptr, int n_derivs = 0,
               curve_eval_side side = side_unknown) const;

  // Nearest point of the whole curve (an unlimited straight for straights).
  virtual void point_perp(const QELposition& p, QELposition& foot, QELvector& tangent, const double* guess = nullptr,
                          double* actual = nullptr, int weak = 0) const;
  void point_perp(const QELposition& p, QELposition& foot, const double* guess = nullptr,
                  double* actual = nullptr) const;
  double param(const QELposition& p, const double* guess = nullptr) const;
  QELposition closest_point(const QELposition& p) const;
  bool test_point(const QELposition& p, const double* guess = nullptr, double tol = QELresabs) const;

  QELinterval param_range() const;
  double param_period() const;
  bool periodic() const { return param_period() > 0.0; }
  bool closed() const;
  void limit(const QELinterval& range);
  void unlimit();
  bool subsetted() const { return subset_.type() != interval_unset; }

  // DBL_MAX when an end is infinite.
  double length(double t0, double t1, bool approx_ok = true) const;
  virtual QELbox bound(const QELinterval& range) const;

  virtual void negate() = 0;  // t -> -t
  virtual curve& operator*=(const QELtransf& t) = 0;
  // The part before t as a new curve; this one keeps the part after t. Null when t is
  // not inside. A periodic curve gives its whole period and restarts at t.
  curve* split(double t, const QELposition* = nullptr);
  // Parameters where the curve is only C^(order-1); owned by the curve.
  const double* discontinuities(int& n, int order) const;
  void change_event();
  check_status_list* check(const check_fix& input = check_fix(), check_fix* result = nullptr,
                           const check_status_list* wanted = nullptr) const;

  // Position and n derivatives into out[0..n]; side < 0 is the limit from below.
  virtual void eval_derivs(double t, int n, QELvector* out, int side = 0) const = 0;
  // The unlimited range and period.
  virtual QELinterval full_range() const = 0;
  virtual double full_period() const { return 0.0; }

 protected:
  curve() = default;
  curve(const curve&) = default;
  curve& operator=(const curve&) = default;
  void negate_limit() { if (subset_.type() != interval_unset) subset_ = -subset_; }
  // Knots of the kind where continuity may drop to C^(order-1); confirmed by the base.
  virtual std::vector<double> candidate_discontinuities(int order) const;
  // Samples per range for the projection without a guess.
  virtual int perp_samples() const { return 64; }

 private:
  friend struct velm_geom_io;
  QELinterval subset_;  // unset: not limited
  struct disc_cache {
    std::vector<double> at;
    int order = -1;
  };
  velm_lazy_cache<disc_cache> disc_;
};

class straight : public curve {
 public:
  straight() = default;
  straight(const QELposition& root, const QELunit_vector& dir, double param_scale = 1.0);
  int type() const override { return 1; }
  const char* type_name() const override { return "straight"; }
  curve* make_copy() const override { return VELM_MAKE(straight, *this); }
  void point_perp(const QELposition& p, QELposition& foot, QELvector& tangent, const double* guess = nullptr,
                  double* actual = nullptr, int weak = 0) const override;
  using curve::point_perp;
  QELbox bound(const QELinterval& range) const override;
  void negate() override;
  curve& operator*=(const QELtransf& t) override;
  void eval_derivs(double t, int n, QELvector* out, int side = 0) const override;
  QELinterval full_range() const override { return QELinterval(interval_unbounded, 0.0, 0.0); }

  QELposition root_point;
  QELunit_vector direction{1.0, 0.0, 0.0};
  double param_scale = 1.0;
};

class ellipse : public curve {
 public:
  ellipse() = default;
  ellipse(const QELposition& centre, const QELunit_vector& normal, const QELvector& major_axis, double radius_ratio,
          double param_offset = 0.0);
  int type() const override { return 2; }
  const char* type_name() const override { return "ellipse"; }
  curve* make_copy() const override { return VELM_MAKE(ellipse, *this); }
  QELbox bound(const QELinterval& range) const override;
  void negate() override;
  curve& operator*=(const QELtransf& t) override;
  void eval_derivs(double t, int n, QELvector* out, int side = 0) const override;
  QELinterval full_range() const override;
  double full_period() const override;
  QELvector minor_axis() const { return radius_ratio * (normal * major_axis); }

  QELposition centre;
  QELunit_vector normal{0.0, 0.0, 1.0};
  QELvector major_axis{1.0, 0.0, 0.0};
  double radius_ratio = 1.0;
  double param_offset = 0.0;
};

// A curve collapsed to a point.
class degenerate_curve : public curve {
 public:
  explicit degenerate_curve(const QELposition& p = QELposition()) : point(p) {}
  int type() const override { return 0; }
  const char* type_name() const override { return "degenerate"; }
  curve* make_copy() const override { return VELM_MAKE(degenerate_curve, *this); }
  void negate() override { negate_limit(); }
  curve& operator*=(const QELtransf& t) override;
  void eval_derivs(double t, int n, QELvector* out, int side = 0) const override;
  QELinterval full_range() const override { return QELinterval(0.0, 0.0); }

  QELposition point;
};

// ---- intcurve data kinds ----

// The kind is fixed at construction; the kinds' static `id` members name it.
class int_cur : public VELM_OBJECT {
 public:
  virtual ~int_cur();
  int id() const { return kind_; }
  int type() const { return kind_; }
  virtual int_cur* copy() const = 0;
  bs3_curve cur() const { return cur_; }
  double fitol() const { return fitol_; }
  const surface* surf1() const { return surf1_; }
  const surface* surf2() const { return surf2_; }
  bs2_curve pcur1() const { return pcur1_; }
  bs2_curve pcur2() const { return pcur2_; }
  virtual void eval_derivs(double t, int n, QELvector* out, int side) const;
  virtual QELinterval range() const;
  virtual void transform(const QELtransf& t);

 protected:
  int_cur(int kind, bs3_curve cur, double fitol) : kind_(kind), cur_(cur), fitol_(fitol) {}
  int_cur(const int_cur& o);
  int_cur& operator=(const int_cur&) = delete;
  friend class intcurve;
  friend struct velm_geom_io;
  int kind_;
  bs3_curve cur_ = nullptr;
  double fitol_ = 0.0;
  surface* surf1_ = nullptr;
  surface* surf2_ = nullptr;
  bs2_curve pcur1_ = nullptr;
  bs2_curve pcur2_ = nullptr;
};

class exact_int_cur : public int_cur {
 public:
  static const int id;
  exact_int_cur(bs3_curve cur, double fitol = 0.0) : int_cur(id, cur, fitol) {}
  int_cur* copy() const override { return VELM_MAKE(exact_int_cur, *this); }
};
int exact_int_cur_id();

class intersection_int_cur : public int_cur {
 public:
  static const int id;
  intersection_int_cur(bs3_curve cur, double fitol, const surface* surf1, const surface* surf2, bs2_curve pcur1,
                       bs2_curve pcur2);
  int_cur* copy() const override { return VELM_MAKE(intersection_int_cur, *this); }
};

extern const int par_int_cur_id;
// A curve on a surface given by its pcurve; the space curve may be absent.
class par_int_cur : public int_cur {
 public:
  par_int_cur(bs3_curve space_curve, double fitol, const surface& srf, bs2_curve pcur, int flag = 1);
  int_cur* copy() const override { return VELM_MAKE(par_int_cur, *this); }
  void eval_derivs(double t, int n, QELvector* out, int side) const override;
  QELinterval range() const override;
};

class intcurve : public curve {
 public:
  intcurve();
  // Takes ownership of the B-splines; copies the surfaces.
  intcurve(bs3_curve cur, double fitol = 0.0, const surface* surf1 = nullptr, const surface* surf2 = nullptr,
           bs2_curve pcur1 = nullptr, bs2_curve pcur2 = nullptr, const QELinterval* range = nullptr,
           int flag1 = 0, int flag2 = 0);
  intcurve(int_cur* data, bool reversed = false);  // takes ownership
  intcurve(const intcurve& o);
  intcurve& operator=(const intcurve& o);
  ~intcurve() override;
  int type() const override { return 11; }
  const char* type_name() const override { return "intcurve"; }
  curve* make_copy() const override { return VELM_MAKE(intcurve, *this); }

  // fit -1: the stored B-spline, owned by the intcurve (in its own direction, not reversed).
  bs3_curve cur(double fit = -1.0) const;
  void set_cur(bs3_curve cur, double fit = -1.0, int flag1 = 0, int flag2 = 0);
  bool cur_present() const { return data_ && data_->cur_; }
  double fitol() const { return data_ ? data_->fitol_ : 0.0; }
  bool reversed() const { return reversed_; }
  const surface* surf1() const { return data_ ? data_->surf1_ : nullptr; }
  const surface* surf2() const { return data_ ? data_->surf2_ : nullptr; }
  bs2_curve pcur1() const { return data_ ? data_->pcur1_ : nullptr; }
  bs2_curve pcur2() const { return data_ ? data_->pcur2_ : nullptr; }
  bool pcur_present(int index) const;
  intcurve* subset(const QELinterval& range) const;
  const int_cur& get_int_cur() const { return *data_; }

  QELbox bound(const QELinterval& range) const override;
  void negate() override;
  curve& operator*=(const QELtransf& t) override;
  void eval_derivs(double t, int n, QELvector* out, int side = 0) const override;
  QELinterval full_range() const override;
  double full_period() const override;

 protected:
  std::vector<double> candidate_discontinuities(int order) const override;
  int perp_samples() const override;

 private:
  friend struct velm_geom_io;
  int_cur* data_ = nullptr;
  bool reversed_ = false;
};

// An intcurve made with the caller's file and line that takes the B-splines
// from the start: when it cannot be made they are freed and the kernel's
// error raised. (VELM_MAKE(intcurve, cur, ..., pcur1, pcur2) would leak them:
// a failed allocation skips the constructor and its arguments.)
intcurve* velm_make_intcurve(bs3_curve cur, double fitol, const surface* surf1, const surface* surf2, bs2_curve pcur1,
                             bs2_curve pcur2, const char* source_file = nullptr, int line = 0);

bool is_STRAIGHT(const curve* c);

// New transformed (and with reverse = 1, reversed) copy; the caller deletes it.
curve* trans_curve(const curve& c, const QELtransf* t = nullptr, int reverse = 0);

// ---------------------------------------------------------------------------
// Parameter-space curve: (u, v)(t) = bs2(t) + offset, at -t when reversed.
class pcurve : public VELM_OBJECT {
 public:
  pcurve() = default;
  // Takes ownership of the B-spline; copies the surface. Trailing arguments are ignored.
  pcurve(bs2_curve cur, double fitol, const ::surface& srf, int = -1, int = -1, int = -1, int = -1, bool = true,
         double = -1.0);
  // The intcurve's first (index +-1) or second (+-2) pcurve; negative: reversed.
  pcurve(const intcurve& ic, int index);
  pcurve(const pcurve& o);
  pcurve& operator=(const pcurve& o);
  ~pcurve();

  bs2_curve cur() const { return cur_; }
  bool reversed() const { return reversed_; }
  const ::surface& surface() const;
  bool has_surface() const { return surf_ != nullptr; }
  double fitol() const { return fitol_; }
  QELpar_vec offset() const { return offset_; }
  void set_offset(const QELpar_vec& o) { offset_ = o; }

  void eval(double t, QELpar_pos& uv, QELpar_vec* duv = nullptr, QELpar_vec* d2uv = nullptr, int side = 0) const;
  QELpar_pos eval_position(double t) const;
  QELpar_vec eval_deriv(double t) const;
  QELinterval param_range() const;
  double param_period() const;
  QELpar_box bound(const QELinterval& range) const;
  void negate() { reversed_ = !reversed_; }
  // The piece before t (null when t is not inside); this one keeps the rest.
  pcurve* split(double t);
  pcurve* trim(const QELinterval& range) const;
  // Largest distance between the pcurve on its surface and the curve at samples, compared
  // with the fit tolerance: 1 when enclosed, 0 otherwise.
  int check_hull_curve_enclosure(const curve& c, const ::surface* = nullptr, int = 0, int = 0, int* = nullptr,
                                 int = 0, double* = nullptr);

 private:
  friend struct velm_geom_io;
  bs2_curve cur_ = nullptr;
  double fitol_ = 0.0;
  ::surface* surf_ = nullptr;
  bool reversed_ = false;
  QELpar_vec offset_;
};

// ---------------------------------------------------------------------------
class surface : public VELM_OBJECT {
 public:
  virtual ~surface() = default;
  virtual int type() const = 0;  // 1 plane, 2 cone, 3 sphere, 4 torus, 10 spline
  virtual const char* type_name() const = 0;
  virtual surface* make_copy() const = 0;

  // d1[0..1] = Su, Sv; d2[0..2] = Suu, Suv, Svv.
  void eval(const QELpar_pos& uv, QELposition& pos, QELvector* d1 = nullptr, QELvector* d2 = nullptr) const;
  QELposition eval_position(const QELpar_pos& uv) const;
  // The outward normal (the kind's orientation rule).
  virtual QELunit_vector eval_normal(const QELpar_pos& uv) const;
  // derivs[k] points at k + 2 vectors of order k + 1 (u^(k+1-i) v^i, i = 0..k+1); at most 2 orders.
  int evaluate(const QELpar_pos& uv, QELposition& pos, QELvector** derivs = nullptr, int n_derivs = 0,
               evaluate_surface_quadrant quadrant = quadrant_u_above_v_above) const;

  // Nearest point; parameters in the principal range, or nearest the guess when given.
  virtual void point_perp(const QELposition& p, QELposition& foot, QELunit_vector& normal,
                          const QELpar_pos* guess = nullptr, QELpar_pos* actual = nullptr, int weak = 0) const;
  void point_perp(const QELposition& p, QELposition& foot, const QELpar_pos* guess = nullptr,
                  QELpar_pos* actual = nullptr, int weak = 0) const;
  QELpar_pos param(const QELposition& p, const QELpar_pos* guess = nullptr) const;
  // The parameters of a point on the surface in closed form (periodic
  // directions taken near the guess); false where the surface has none, and
  // the caller projects instead.
  bool exact_param(const QELposition& p, QELpar_pos& uv, const QELpar_pos* guess = nullptr) const;
  bool test_point_tol(const QELposition& p, double tol, const QELpar_pos* guess = nullptr,
                      QELpar_pos* actual = nullptr) const;

  QELpar_box param_range(const QELbox* region = nullptr) const;
  QELinterval param_range_u() const;
  QELinterval param_range_v() const;
  double param_period_u() const;
  double param_period_v() const;
  bool periodic_u() const { return param_period_u() > 0.0; }
  bool periodic_v() const { return param_period_v() > 0.0; }
  bool closed_u() const;
  bool closed_v() const;
  virtual bool singular_u(double u) const;
  virtual bool singular_v(double v) const;
  // Whether a coedge on the surface needs a pcurve: not on a plane, whose
  // parameters follow from any point in closed form (an affine map), so that
  // every reader projects instead; every other kind keeps them.
  bool parametric() const { return type() != 1; }
  void limit_u(const QELinterval& r);
  void limit_v(const QELinterval& r);
  void unlimit();
  bool subsetted() const { return lim_u_.type() != interval_unset || lim_v_.type() != interval_unset; }

  QELbox bound(const QELpar_box& box) const;
  virtual bool left_handed_uv() const = 0;
  virtual curve* u_param_line(double v) const = 0;  // along u at constant v; null when degenerate
  virtual curve* v_param_line(double u) const = 0;  // along v at constant u
  check_status_list* check(const check_fix& input = check_fix(), check_fix* result = nullptr,
                           const check_status_list* wanted = nullptr) const;

  virtual void negate() = 0;  // flips the outward side; every (u, v) keeps its point
  virtual surface& operator*=(const QELtransf& t) = 0;
  virtual bool operator==(const surface& o) const = 0;
  bool operator!=(const surface& o) const { return !(*this == o); }

  const double* discontinuities_u(int& n, int order) const;
  const double* discontinuities_v(int& n, int order) const;
  const double* all_discontinuities_u(int& n, int order) const;
  const double* all_discontinuities_v(int& n, int order) const;
  bool discontinuous_at_u(double u) const;
  bool discontinuous_at_v(double v) const;
  void change_event();
  void set_checked() { checked_ = true; }
  void unset_checked() { checked_ = false; }
  bool checked() const { return checked_; }

  // Position and derivatives up to order n (<= 2): d[0..4] = Su, Sv, Suu, Suv, Svv.
  virtual void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                           int vside = 0) const = 0;
  virtual QELpar_box full_range() const = 0;
  virtual double full_period_u() const { return 0.0; }
  virtual double full_period_v() const { return 0.0; }

 protected:
  surface() = default;
  surface(const surface&) = default;
  surface& operator=(const surface&) = default;
  // A start for the projection; the default samples the (bounded) range.
  virtual bool perp_start(const QELposition& p, QELpar_pos& uv) const;
  // True where perp_start gives the exact parameters of a point on the surface.
  virtual bool exact_start() const { return false; }
  // Knot values where continuity may drop to C^(order-1).
  virtual std::vector<double> candidate_discontinuities(bool along_u, int order) const;
  // The positions at every (us[i], vs[j]) into out[i * vs.size() + j], each as
  // eval_position gives it; a kind that can share work along a line does.
  virtual void eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const;

 private:
  friend struct velm_geom_io;
  const double* disc(bool u, int& n, int order, bool all) const;
  QELinterval lim_u_, lim_v_;
  struct disc_cache {
    std::vector<double> at[2];
    int key[2] = {-1, -1};
  };
  velm_lazy_cache<disc_cache> disc_;
  bool checked_ = false;
};

class plane : public surface {
 public:
  plane() = default;
  plane(const QELposition& root, const QELunit_vector& normal);
  int type() const override { return 1; }
  const char* type_name() const override { return "plane"; }
  surface* make_copy() const override { return VELM_MAKE(plane, *this); }
  QELunit_vector eval_normal(const QELpar_pos&) const override { return normal; }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override;
  QELpar_box full_range() const override;
  bool left_handed_uv() const override { return reverse_v != 0; }
  curve* u_param_line(double v) const override;
  curve* v_param_line(double u) const override;
  void negate() override;
  surface& operator*=(const QELtransf& t) override;
  bool operator==(const surface& o) const override;
  QELvector u_axis() const;  // U'
  QELvector v_axis() const;  // V

  QELposition root_point;
  QELunit_vector normal{0.0, 0.0, 1.0};
  QELvector u_deriv{1.0, 0.0, 0.0};
  int reverse_v = 0;

 protected:
  bool perp_start(const QELposition& p, QELpar_pos& uv) const override;
  bool exact_start() const override { return true; }
};

class cone : public surface {
 public:
  cone() = default;
  cone(const QELposition& base_centre, const QELunit_vector& axis, const QELvector& major_axis, double radius_ratio,
       double sine, double cosine, double u_scale);
  int type() const override { return 2; }
  const char* type_name() const override { return "cone"; }
  surface* make_copy() const override { return VELM_MAKE(cone, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override;
  QELunit_vector eval_normal(const QELpar_pos& uv) const override;
  QELpar_box full_range() const override;
  double full_period_v() const override;
  bool singular_u(double u) const override;
  bool left_handed_uv() const override { return (reverse_u == 1) == (cosine < 0.0); }
  curve* u_param_line(double v) const override;
  curve* v_param_line(double u) const override;
  void negate() override;
  surface& operator*=(const QELtransf& t) override;
  bool operator==(const surface& o) const override;
  QELposition get_apex() const;  // throws for a cylinder
  double sigma() const;          // effective u scale
  double apex_u() const;         // u of the apex (non-cylinders)
  bool is_cylinder() const { return cylinder != 0; }

  ellipse base;
  double sine = 0.0;
  double cosine = 1.0;
  double u_scale = 0.0;
  int reverse_u = 0;
  int cylinder = 1;

 protected:
  bool perp_start(const QELposition& p, QELpar_pos& uv) const override;
  bool exact_start() const override { return true; }
};

class sphere : public surface {
 public:
  sphere() = default;
  sphere(const QELposition& centre, double radius);
  int type() const override { return 3; }
  const char* type_name() const override { return "sphere"; }
  surface* make_copy() const override { return VELM_MAKE(sphere, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override;
  QELunit_vector eval_normal(const QELpar_pos& uv) const override;
  QELpar_box full_range() const override;
  double full_period_v() const override;
  bool singular_u(double u) const override;
  bool left_handed_uv() const override { return radius < 0.0; }
  curve* u_param_line(double v) const override;
  curve* v_param_line(double u) const override;
  void negate() override { radius = -radius; }
  surface& operator*=(const QELtransf& t) override;
  bool operator==(const surface& o) const override;

  QELposition centre;
  double radius = 1.0;
  QELunit_vector origin_dir{1.0, 0.0, 0.0};
  QELunit_vector pole_dir{0.0, 0.0, 1.0};

 protected:
  bool perp_start(const QELposition& p, QELpar_pos& uv) const override;
  bool exact_start() const override { return true; }
};

class torus : public surface {
 public:
  torus() = default;
  torus(const QELposition& centre, const QELunit_vector& normal, double major_radius, double minor_radius);
  int type() const override { return 4; }
  const char* type_name() const override { return "torus"; }
  surface* make_copy() const override { return VELM_MAKE(torus, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override;
  QELunit_vector eval_normal(const QELpar_pos& uv) const override;
  QELpar_box full_range() const override;
  double full_period_u() const override;
  double full_period_v() const override;
  bool singular_u(double u) const override;
  // Su x Sv points away from the tube's centre circle unless R < -|r|.
  bool left_handed_uv() const override;
  curve* u_param_line(double v) const override;
  curve* v_param_line(double u) const override;
  void negate() override { minor_radius = -minor_radius; }
  surface& operator*=(const QELtransf& t) override;
  bool operator==(const surface& o) const override;
  double apex_dist() const;
  bool spindle() const;

  QELposition centre;
  QELunit_vector normal{0.0, 0.0, 1.0};
  double major_radius = 2.0;
  double minor_radius = 1.0;
  QELunit_vector origin_dir{1.0, 0.0, 0.0};

 protected:
  bool perp_start(const QELposition& p, QELpar_pos& uv) const override;
  bool exact_start() const override { return !spindle(); }
};

// ---- spline surface definitions ----

// The kind is fixed at construction; the kinds' static `id` members name it.
// Definitions are shared by copies of a spline (use counted).
class spl_sur : public VELM_OBJECT {
 public:
  virtual ~spl_sur();
  int id() const { return kind_; }
  // The B-spline of the definition, owned by it (for procedural kinds an approximation
  // within fitol(), made on first use).
  bs3_surface sur() const;
  double fitol() const { return fitol_; }
  virtual spl_sur* copy() const = 0;
  virtual void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const;
  virtual QELpar_box range() const;
  virtual double period_u() const;
  virtual double period_v() const;
  virtual void transform(const QELtransf& t);
  // An exact iso-line of the definition (new curve), or null when the B-spline's
  // iso-line is to be used.
  virtual curve* param_line(bool along_u, double at) const;
  void add() { ++use_count_; }
  void remove();
  int use_count() const { return use_count_; }

 protected:
  spl_sur(int kind, bs3_surface sur, double fitol) : kind_(kind), sur_(sur), fitol_(fitol) {}
  // Procedural kinds evaluate their own definition; sur() then approximates it.
  virtual bool evaluates_itself() const { return false; }
  spl_sur(const spl_sur& o);
  spl_sur& operator=(const spl_sur&) = delete;
  friend class spline;
  friend struct velm_geom_io;
  int kind_;
  mutable bs3_surface sur_ = nullptr;
  double fitol_ = 0.0;
  int use_count_ = 1;
};

// Exact B-spline surface (takes ownership of the B-spline).
class exact_spl_sur : public spl_sur {
 public:
  static const int id;
  explicit exact_spl_sur(bs3_surface sur) : spl_sur(id, sur, 0.0) {}
  spl_sur* copy() const override { return VELM_MAKE(exact_spl_sur, *this); }

 protected:
  exact_spl_sur(int kind, bs3_surface sur) : spl_sur(kind, sur, 0.0) {}
};

// Kinds that the stand-in only identifies; they evaluate their B-spline.
extern const int skin_spl_sur_id;
class skin_spl_sur : public exact_spl_sur {
 public:
  explicit skin_spl_sur(bs3_surface sur) : exact_spl_sur(skin_spl_sur_id, sur) {}
  spl_sur* copy() const override { return VELM_MAKE(skin_spl_sur, *this); }
};
class VBL_SURF : public exact_spl_sur {
 public:
  static const int id;
  explicit VBL_SURF(bs3_surface sur) : exact_spl_sur(id, sur) {}
  spl_sur* copy() const override { return VELM_MAKE(VBL_SURF, *this); }
};
class rb_blend_spl_sur : public exact_spl_sur {
 public:
  static const int id;
  explicit rb_blend_spl_sur(bs3_surface sur) : exact_spl_sur(id, sur) {}
  spl_sur* copy() const override { return VELM_MAKE(rb_blend_spl_sur, *this); }
};

class law;
class surface_law;

// Procedural kinds (fit tolerance of their approximation: QELresfit / 10).
// Surface of revolution: S(u, v) = profile(u) turned by the angle v about the
// axis, right-handed; v = 0 is the profile; default v range [0, 2 pi] (period
// 2 pi); u in the profile's own parameter.
class rot_spl_sur : public spl_sur {
 public:
  static const int id;
  rot_spl_sur(const curve& profile, const QELposition& axis_point, const QELvector& axis_dir,
              const QELinterval* u_range = nullptr, const QELinterval* v_range = nullptr);
  rot_spl_sur(const rot_spl_sur& o);
  ~rot_spl_sur() override;
  spl_sur* copy() const override { return VELM_MAKE(rot_spl_sur, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const override;
  QELpar_box range() const override { return QELpar_box(u_range_, v_range_); }
  double period_u() const override;
  double period_v() const override;
  void transform(const QELtransf& t) override;
  curve* param_line(bool along_u, double at) const override;
  const curve& profile() const { return *profile_; }
  const QELposition& axis_point() const { return axis_point_; }
  const QELunit_vector& axis_dir() const { return axis_dir_; }

 protected:
  bool evaluates_itself() const override { return true; }

 private:
  friend struct velm_geom_io;
  curve* profile_;
  QELposition axis_point_;
  QELunit_vector axis_dir_;
  QELinterval u_range_, v_range_;
};

// Offset surface: base(u, v) + d n(u, v), n the base's outward normal (with
// the base's sense); a spline over it faces the same way (see spline).
class off_spl_sur : public spl_sur {
 public:
  static const int id;
  off_spl_sur(const surface& base, double distance, const QELpar_box* box = nullptr, int = 0, int = 0, int = 0,
              int = 0);
  off_spl_sur(const off_spl_sur& o);
  ~off_spl_sur() override;
  spl_sur* copy() const override { return VELM_MAKE(off_spl_sur, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const override;
  QELpar_box range() const override { return box_; }
  double period_u() const override;
  double period_v() const override;
  void transform(const QELtransf& t) override;
  const surface& base() const { return *base_; }
  double offset_distance() const { return distance_; }

 protected:
  bool evaluates_itself() const override { return true; }

 private:
  friend struct velm_geom_io;
  surface* base_;
  double distance_;
  QELpar_box box_;
};

// Sweep of a profile along a straight rail with constant laws (a translation
// surface): S(u, v) = profile(u) + (rail(v) - rail(v_low)), v_low the low end
// of the v interval (also when only the high end is infinite; 0, the rail's
// origin, when there is no low end). The laws are kept (one use each) but not
// evaluated.
class sweep_spl_sur : public spl_sur {
 public:
  static const int id;
  sweep_spl_sur(const curve& profile, const curve& rail, law* rail_law, law* taper_law, law* scale_law,
                const QELinterval& u_range, const QELinterval& v_range, int = 0, void* = nullptr, void* = nullptr,
                int = 0, int = 0, int = 0);
  sweep_spl_sur(const sweep_spl_sur& o);
  ~sweep_spl_sur() override;
  spl_sur* copy() const override { return VELM_MAKE(sweep_spl_sur, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const override;
  QELpar_box range() const override { return QELpar_box(u_range_, v_range_); }
  double period_u() const override { return 0.0; }
  double period_v() const override { return 0.0; }
  void transform(const QELtransf& t) override;
  curve* param_line(bool along_u, double at) const override;
  const curve& profile() const { return *profile_; }
  const curve& rail() const { return *rail_; }

 protected:
  bool evaluates_itself() const override { return true; }

 private:
  friend struct velm_geom_io;
  sweep_spl_sur(const curve& profile, const curve& rail, const QELinterval& u_range, const QELinterval& v_range);
  double v_origin() const;
  curve* profile_;
  curve* rail_;
  law* laws_[3] = {nullptr, nullptr, nullptr};
  QELinterval u_range_, v_range_;
};

// Surface given by a law (u, v) -> point over a box. The law is not saved: a
// restored law surface evaluates the B-spline approximation it was saved with.
class law_spl_sur : public spl_sur {
 public:
  static const int id;
  law_spl_sur(surface_law* l, const QELpar_box& box, double tol);  // one use of the law
  law_spl_sur(const law_spl_sur& o);
  ~law_spl_sur() override;
  spl_sur* copy() const override { return VELM_MAKE(law_spl_sur, *this); }
  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside, int vside) const override;
  QELpar_box range() const override { return box_; }
  double period_u() const override { return 0.0; }
  double period_v() const override { return 0.0; }
  void transform(const QELtransf& t) override;
  const surface_law* get_law() const { return law_; }

 protected:
  bool evaluates_itself() const override { return law_ != nullptr; }

 private:
  friend struct velm_geom_io;
  law_spl_sur(bs3_surface sur, const QELpar_box& box, double tol);
  surface_law* law_;
  QELpar_box box_;
  QELtransf placed_;  // transforms applied since construction
};

class spline : public surface {
 public:
  spline();
  explicit spline(bs3_surface sur);  // copies the B-spline; exact kind
  explicit spline(spl_sur* def);     // takes ownership
  spline(const spline& o);           // shares the definition
  spline& operator=(const spline& o);
  ~spline() override;
  int type() const override { return 10; }
  const char* type_name() const override { return "spline"; }
  surface* make_copy() const override { return VELM_MAKE(spline, *this); }

  // fit -1: the stored B-spline, owned by the definition; otherwise a new approximation
  // (owned by the caller).
  bs3_surface sur(double fit = -1.0) const;
  void set_sur(bs3_surface sur, double fit = -1.0);  // takes ownership
  double fitol() const { return def_ ? def_->fitol() : 0.0; }
  const spl_sur& get_spl_sur() const { return *def_; }
  spline* subset(const QELpar_box& box) const;
  void reparam_u(double lo, double hi);
  void reparam_v(double lo, double hi);

  void eval_derivs(const QELpar_pos& uv, int n, QELposition& pos, QELvector* d, int uside = 0,
                   int vside = 0) const override;
  QELpar_box full_range() const override;
  double full_period_u() const override;
  double full_period_v() const override;
  bool singular_u(double u) const override;
  bool singular_v(double v) const override;
  QELunit_vector eval_normal(const QELpar_pos& uv) const override;
  bool left_handed_uv() const override;
  curve* u_param_line(double v) const override;
  curve* v_param_line(double u) const override;
  void negate() override { reverse_v = !reverse_v; }
  surface& operator*=(const QELtransf& t) override;
  bool operator==(const surface& o) const override;

  // Turns the normal round (over an offset: against the base's normal).
  int reverse_v = 0;
  // Takes a private copy of a shared definition (before a change that copies
  // must not see, and in every geometry entity, so backups stay apart).
  void make_unique();

 protected:
  std::vector<double> candidate_discontinuities(bool along_u, int order) const override;
  void eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const override;

 private:
  friend struct velm_geom_io;
  void make_exact();  // make_unique, and a procedural definition becomes its B-spline
  spl_sur* def_ = nullptr;
};

double spline_fitol(const spline& s);
bool is_CONE(const surface* s);
bool is_spline(const surface* s);

// ---- curve fitting base ----

struct point_data {
  QELposition foot;
  QELvector direction;
  double value = 0.0;
};
// A point to project during a fit: its position and the parameter it had.
struct point_record {
  QELposition position;
  double param = 0.0;
  mutable point_data data;  // filled by curve_interp::point_perp
};

// Fits a cubic B-spline through the derived class's data (params, points and,
// when given, first derivatives; npts < 0 marks a periodic curve), then refines
// every span whose mid point lies farther than the fit tolerance from its
// projection (point_perp) on the true curve. The arrays stay the derived
// class's; obj_bs, the result, becomes the caller's.
class curve_interp : public VELM_OBJECT {
 public:
  explicit curve_interp(double fitol);
  curve_interp(const curve_interp&) = delete;
  curve_interp& operator=(const curve_interp&) = delete;
  virtual ~curve_interp();
  // The foot of the record's position on the true curve, its direction and 1.0.
  virtual point_data* point_perp(const point_record& rec);
  virtual void* surface_data() { return nullptr; }
  virtual void proj_cur() {}
  virtual void check_and_fix_middle_uv() {}
  virtual void fit();

  bs3_curve obj_bs = nullptr;

 protected:
  double fitol_;
  int npts = 0;
  double* params = nullptr;
  QELposition* points = nullptr;
  QELvector* derivs = nullptr;
};

// Out-data of surface extension: the discontinuities it created, by order.
class extension_info {
 public:
  extension_info() = default;
  int n_discontinuities(int order) const {
    return order >= 1 && order <= 3 ? static_cast<int>(disc_[order - 1].size()) : 0;
  }
  const std::vector<double>& discontinuities(int order) const { return disc_[std::clamp(order, 1, 3) - 1]; }
  void add_discontinuity(int order, double at) {
    if (order >= 1 && order <= 3) disc_[order - 1].push_back(at);
  }

 private:
  std::vector<double> disc_[3];
};
