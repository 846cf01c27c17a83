// Storage of the kernel's B-splines: full knot vectors, control points and
// weights exactly as they were given (see bspline.hxx), plus the evaluators.
#pragma once

#include <functional>
#include <vector>

#include "velm/bspline.hxx"
#include "velm/math.hxx"

// One parameter direction: degree, full knot vector, form and pole code.
struct bs_direction {
  int degree = 1;
  int form = 0;  // 0 open, 1 closed, 2 periodic
  int pole = 0;  // surfaces: 1 low end collapsed, 2 high end collapsed
  std::vector<double> knots;
  int count() const { return static_cast<int>(knots.size()) - degree - 1; }  // control points
  QELinterval range() const { return {knots[degree], knots[count()]}; }
  // Span index i with knots[i] <= t < knots[i+1] (side >= 0) or knots[i] < t <= knots[i+1]
  // (side < 0), clamped to the domain's spans.
  int span(double t, int side) const;
  // A periodic direction repeats itself: t taken back into the domain by whole
  // periods. Other forms keep t (their end spans extend).
  double reduce(double t) const;
  // Basis functions and their derivatives up to nd at t in span i, into a flat array
  // of (nd + 1) * (degree + 1): ders[k * (degree + 1) + j] is the k-th derivative of
  // N_{i-p+j}. Allocates nothing once a thread has seen the degree.
  void basis(int i, double t, int nd, double* ders) const;
  bool clamped() const;
};

// Curves of dimension 2 and 3 share the storage; 2-D points keep z = 0.
struct bs_curve_data : VELM_OBJECT {
  bs_direction dir;
  bool rational = false;
  double point_tol = 1e-6;
  std::vector<QELposition> pts;
  std::vector<double> weights;  // empty when not rational
  int n() const { return static_cast<int>(pts.size()); }
  double weight(int i) const { return rational ? weights[i] : 1.0; }
  QELinterval range() const { return dir.range(); }
  // Position and nd derivatives into out[0..nd].
  void eval(double t, int nd, QELvector* out, int side = 0) const;
  QELposition position(double t) const;
};

class bs3_curve_def : public bs_curve_data {};
class bs2_curve_def : public bs_curve_data {};

class bs3_surf_def : public VELM_OBJECT {
 public:
  bs_direction u, v;
  bool rational = false;
  double point_tol = 1e-6;
  std::vector<QELposition> pts;  // row-major: pts[i * v.count() + j]
  std::vector<double> weights;
  int nu() const { return u.count(); }
  int nv() const { return v.count(); }
  const QELposition& pt(int i, int j) const { return pts[i * nv() + j]; }
  double weight(int i, int j) const { return rational ? weights[i * nv() + j] : 1.0; }
  // Position, then derivatives up to order nd (<= 2): d[0] = Su, d[1] = Sv, d[2] = Suu,
  // d[3] = Suv, d[4] = Svv.
  void eval(const QELpar_pos& uv, QELposition& pos, int nd, QELvector* d, int uside = 0,
            int vside = 0) const;
  // The positions eval gives at every (us[i], vs[j]), into out[i * vs.size() + j],
  // each basis row worked out once for its whole line of the grid.
  void eval_grid(const std::vector<double>& us, const std::vector<double>& vs, QELposition* out) const;
};

// Form of a curve recomputed from its geometry (1.7 of the kernel conventions).
int bs_curve_form(const bs_curve_data& c, double tol);
// Rows of a surface net as curves, for the per-direction form tests.
int bs_surface_form(const bs3_surf_def& s, bool along_u, double tol);
// Builds the curve data from the caller's arrays; false on invalid input.
bool bs_curve_build(bs_curve_data& c, int degree, int rational, int closed, int periodic, int n,
                    const QELposition pts[], const double weights[], double point_tol, int nk,
                    const double knots[], double knot_tol);
bool bs_direction_build(bs_direction& d, int degree, int n, int nk, const double knots[], double knot_tol);
// Why the arrays stand for no B-spline Open CASCADE can take (null when they
// do): a degree past its limit, counts that do not match, knots that are not
// finite, fall, leave an empty domain or repeat past the degree inside it,
// points that are not finite, weights that are not finite and positive. An
// edit after building (a control point set, a reparameterisation) can leave
// any of these; Open CASCADE would abort on some and compute with the rest.
const char* bs_curve_problem(const bs_curve_data& c);
const char* bs_surface_problem(const bs3_surf_def& s);
void bs_curve_to_arrays(const bs_curve_data& c, int& dim, int& degree, int& rational, int& n,
                        QELposition*& pts, double*& weights, int& nk, double*& knots, int dimension);
void bs_curve_reverse(bs_curve_data& c);
void bs_direction_reparam(bs_direction& d, double t0, double t1);

// A B-spline through the curve's points at its own parameters over [t0, t1],
// refined until the midpoints between them lie within goal (or 2049 points);
// null for an empty range. The fit reached goes to actual_fit.
bs3_curve bs_interpolate_curve(const curve& c, double t0, double t1, double goal, double* actual_fit = nullptr);

// Position and first derivatives (u, v, uv) of a surface at a parameter pair.
using bs_surface_sampler =
    std::function<void(const QELpar_pos&, QELposition& pos, QELvector& du, QELvector& dv, QELvector& duv)>;
// Bicubic Hermite patches (C1, double interior knots) on a uniform grid, refined
// until the error at patch centres and side mid points is within tol (or the
// grid has 64 spans a side). Null for an infinite or empty range.
bs3_surface bs_hermite_surface(const bs_surface_sampler& f, const QELinterval& u, const QELinterval& v, double tol,
                               double* actual_fit = nullptr);

// Holds a curve under construction, so that a failed allocation on the way
// (which throws) frees it.
template <class Curve, void (*Delete)(Curve&)>
class held_curve {
 public:
  explicit held_curve(Curve c = nullptr) : c_(c) {}
  held_curve(const held_curve&) = delete;
  held_curve& operator=(const held_curve&) = delete;
  ~held_curve() { Delete(c_); }
  Curve get() const { return c_; }
  Curve release() {
    Curve c = c_;
    c_ = nullptr;
    return c;
  }
  void reset(Curve c) {
    Delete(c_);
    c_ = c;
  }

 private:
  Curve c_;
};
using held_bs3 = held_curve<bs3_curve, bs3_curve_delete>;
using held_bs2 = held_curve<bs2_curve, bs2_curve_delete>;

// Several curves under construction, freed together unless released.
class held_bs3_list {
 public:
  explicit held_bs3_list(std::size_t n) : c_(n, nullptr) {}
  held_bs3_list(const held_bs3_list&) = delete;
  held_bs3_list& operator=(const held_bs3_list&) = delete;
  held_bs3_list(held_bs3_list&& o) noexcept : c_(std::move(o.c_)) {}
  ~held_bs3_list() {
    for (bs3_curve& c : c_) bs3_curve_delete(c);
  }
  std::vector<bs3_curve>& curves() { return c_; }
  bs3_curve& operator[](std::size_t i) { return c_[i]; }
  bool complete() const {
    for (bs3_curve c : c_)
      if (!c) return false;
    return true;
  }

 private:
  std::vector<bs3_curve> c_;
};
