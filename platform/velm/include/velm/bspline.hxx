// B-spline curves (3-D and 2-D) and surfaces of the kernel.
//
// Storage: a full, non-decreasing knot vector of n + p + 1 knots for n control points
// and degree p, kept exactly as given (clamped or not); the domain is
// [knot[p], knot[n]]. Surface control points are row-major (row i = i-th u index).
// Forms: 0 open, 1 closed, 2 periodic. Surface pole codes: bit 1 low end collapsed,
// bit 2 high end collapsed. Builders return a new object owned by the caller (free
// it with *_delete) or null when it cannot be made; arrays handed out are new[] and
// freed by the caller with delete[].
#pragma once

#include <cstdio>

#include "velm/math.hxx"
#include "velm/memory.hxx"

// Geometry objects (equations, B-splines, check lists) are tracked kernel
// objects; a failed allocation raises the kernel's out-of-memory error.
#define VELM_MAKE(T, ...) velm_require(VELM_NEW T(__VA_ARGS__))

class bs3_curve_def;
class bs2_curve_def;
class bs3_surf_def;
typedef bs3_curve_def* bs3_curve;
typedef bs2_curve_def* bs2_curve;
typedef bs3_surf_def* bs3_surface;

class curve;
class straight;
class ellipse;
class surface;
class intcurve;
class spline;
class check_fix;
class check_status_list;

// ---- 3-D curves ----

bs3_curve bs3_curve_from_ctrlpts(int degree, int rational, int closed, int periodic, int num_ctrlpts,
                                 const QELposition ctrlpts[], const double weights[], double point_tol,
                                 int num_knots, const double knots[], double knot_tol);
void bs3_curve_to_array(bs3_curve, int& dim, int& degree, int& rational, int& num_ctrlpts,
                        QELposition*& ctrlpts, double*& weights, int& num_knots, double*& knots);
int bs3_curve_periodic(bs3_curve);
int bs3_curve_closed(bs3_curve);
int bs3_curve_open(bs3_curve);
void bs3_curve_set_open(bs3_curve);
void bs3_curve_set_closed(bs3_curve);
void bs3_curve_set_periodic(bs3_curve);
void bs3_curve_determine_form(bs3_curve);
bs3_curve bs3_curve_copy(bs3_curve);
void bs3_curve_delete(bs3_curve&);
void bs3_curve_reverse(bs3_curve);  // range [a, b] becomes [-b, -a]
void bs3_curve_reparam(double t0, double t1, bs3_curve);
QELinterval bs3_curve_range(bs3_curve);
int bs3_curve_degree(bs3_curve);
int bs3_curve_rational(bs3_curve);
double bs3_curve_period(bs3_curve);  // 0 when not periodic
void bs3_curve_knots(bs3_curve, int& n, double*& knots);
void bs3_curve_weights(bs3_curve, int& n, double*& weights);  // null when not rational
int bs3_curve_num_ctrlpts(bs3_curve);
void bs3_curve_control_points(bs3_curve, int& n, QELposition*& ctrlpts);
void bs3_curve_set_ctrlpt(bs3_curve, int index, const QELposition&, double weight);
// side -1: limit from below at a knot; 0 or +1: from above.
void bs3_curve_eval(double t, bs3_curve, QELposition& pos, QELvector* d1 = nullptr, QELvector* d2 = nullptr,
                    int side = 0);
// Position and n derivatives into derivs[0..n-1].
void bs3_curve_evaluate(double t, bs3_curve, QELposition& pos, QELvector* derivs, int n, int side = 0);
QELposition bs3_curve_position(double t, bs3_curve);
QELunit_vector bs3_curve_start_tangent(bs3_curve);
QELunit_vector bs3_curve_end_tangent(bs3_curve);
double bs3_curve_length(bs3_curve, const QELinterval* range = nullptr);
// The parameter of the curve's point nearest to the position (from the guess
// when given). `tol` has no effect: the search always runs to the kernel's
// own accuracy, the nearest point found is the answer, however far it is.
double bs3_curve_invert(const QELposition&, double tol, bs3_curve, const double* guess = nullptr);
bs3_curve bs3_curve_subset(bs3_curve, const QELinterval& range, double fit = QELresabs,
                           double* actual_fit = nullptr);
bs3_curve bs3_curve_join(bs3_curve first, bs3_curve second);
bool bs3_curve_mergeable(bs3_curve first, bs3_curve second, double tol = QELresabs);
void bs3_curve_compat(bs3_curve& a, bs3_curve& b);
bs3_curve bs3_curve_degree_elevate(bs3_curve);
bool bs3_curve_fix_extra_knots(bs3_curve, double tol = QELresabs);
int bs3_curve_fix_coi_verts(bs3_curve, const check_fix& input, check_fix* result = nullptr);
check_status_list* bs3_curve_check(bs3_curve, const intcurve* owner, const check_status_list* wanted);

struct cc_intersection : VELM_OBJECT {
  cc_intersection* next = nullptr;
  QELposition int_point;
  double param1 = 0.0;  // param1 < param2
  double param2 = 0.0;
  int rel = 0;  // between two curves: 1 crossing, 2 tangency, 3 an end of an overlap, 0 unknown
};
// Self-intersections sorted by param1; null when none.
cc_intersection* bs3_curve_self_int(bs3_curve, double tol = QELresabs);
void delete_cc_intersections(cc_intersection*&);

bs3_curve bs3_curve_make_cur(const curve&, double t0, double t1, double requested_fit,
                             double* actual_fit = nullptr);
bs3_curve bs3_curve_make_ell(const ellipse&, double t0, double t1, double requested_fit,
                             double* actual_fit = nullptr);
bs3_curve bs3_curve_make_str(const straight&, double t0, double t1, double requested_fit = 0.0,
                             double* actual_fit = nullptr);
// Cubic through the points, chord-length parameters; a zero direction is no end condition.
bs3_curve bs3_curve_interp(int n, const QELposition pts[], const QELvector& start_dir,
                           const QELvector& end_dir, double fitol, double* actual_fit = nullptr);
// Through the points at the given parameters; the optional end vectors are
// the curve's derivatives in those parameters (a zero vector: none).
bs3_curve bs3_curve_interp_knots(int n, const QELposition pts[], const double params[],
                                 const QELvector* start_dir = nullptr, const QELvector* end_dir = nullptr);
bs3_curve bs3_curve_from_bs2(bs2_curve);
bs3_curve bs2_curve_to_bs3_curve(bs2_curve);
bs3_curve bs3_curve_u_param_line(bs3_surface, double v);  // along u at constant v
bs3_curve bs3_curve_v_param_line(bs3_surface, double u);  // along v at constant u
double bs3_curve_set_fitol(int n, const QELposition samples[], double tol);
void bs3_curve_debug(bs3_curve, const char* leader, FILE*);

// ---- 2-D curves: positions are (u, v, 0) at the array interface ----

bs2_curve bs2_curve_from_ctrlpts(int degree, int rational, int closed, int periodic, int num_ctrlpts,
                                 const QELposition ctrlpts[], const double weights[], double point_tol,
                                 int num_knots, const double knots[], double knot_tol);
void bs2_curve_to_array(bs2_curve, int& dim, int& degree, int& rational, int& num_ctrlpts,
                        QELposition*& ctrlpts, double*& weights, int& num_knots, double*& knots);
bs2_curve bs2_curve_copy(bs2_curve);
void bs2_curve_delete(bs2_curve&);
void bs2_curve_reverse(bs2_curve);
QELinterval bs2_curve_range(bs2_curve);
void bs2_curve_reparam(double t0, double t1, bs2_curve);
bs2_curve bs2_curve_subset(bs2_curve, const QELinterval&, double tol = QELresabs);
int bs2_curve_closed(bs2_curve);
int bs2_curve_periodic(bs2_curve);
void bs2_curve_set_open(bs2_curve);
void bs2_curve_set_closed(bs2_curve);
void bs2_curve_set_periodic(bs2_curve);
void bs2_curve_set_ctrlpt(bs2_curve, int index, const QELpar_pos&, double weight);
void bs2_curve_eval(double t, bs2_curve, QELpar_pos& uv, QELpar_vec* d1 = nullptr, QELpar_vec* d2 = nullptr,
                    int side = 0);
int bs2_curve_degree(bs2_curve);
void bs2_curve_knots(bs2_curve, int& n, double*& knots);
QELpar_box bs2_curve_box(bs2_curve, double tol);
void bs2_curve_par_trans(bs2_curve, const QELpar_transf&);
void bs2_curve_debug(bs2_curve, const char* leader, FILE*);
// A 2-D B-spline whose image on the surface follows the curve within tol over the
// range: samples inverted continuously (across seams, poles take their
// neighbour's free parameter), interpolated, refined; null when it cannot.
bs2_curve bs2_curve_for_curve_on_surf(const curve&, const QELinterval& range, const surface&, double tol = QELresabs);
bs2_curve bs2_curve_for_curve_on_surf(bs3_curve cur, const QELinterval& range, bs3_surface srf, double tol = QELresabs);
// The same fit, shifted by whole periods so that its start lies in the surface's
// principal range; `shift` is that shift, `actual_fit` the error reached.
bs2_curve fit_pcurve_bs2(const curve&, const QELinterval& range, const surface&, double tol, double& actual_fit,
                         QELpar_vec& shift);

// ---- surfaces ----

bs3_surface bs3_surface_from_ctrlpts(int u_degree, int rational, int u_form, int u_pole, int num_u, int v_degree,
                                     int rational_v, int v_form, int v_pole, int num_v,
                                     const QELposition ctrlpts[], const double weights[], double point_tol,
                                     int num_uknots, const double uknots[], int num_vknots,
                                     const double vknots[], double knot_tol);
void bs3_surface_to_array(bs3_surface, int& dim, int& rational_u, int& rational_v, int& form_u, int& form_v,
                          int& pole_u, int& pole_v, int& num_u, int& num_v, QELposition*& ctrlpts,
                          double*& weights, int& degree_u, int& num_uknots, double*& uknots, int& degree_v,
                          int& num_vknots, double*& vknots);
void set_poles(QELposition ctrlpts[], int num_u, int num_v, double tol, int& u_pole, int& v_pole);
void set_poles(bs3_surface, double tol);
void bs3_surface_determine_form_u(bs3_surface);
void bs3_surface_determine_form_v(bs3_surface);
int bs3_surface_closed_u(bs3_surface);
int bs3_surface_closed_v(bs3_surface);
int bs3_surface_periodic_u(bs3_surface);
int bs3_surface_periodic_v(bs3_surface);
void bs3_surface_set_open_u(bs3_surface);
void bs3_surface_set_open_v(bs3_surface);
void bs3_surface_set_closed_u(bs3_surface);
void bs3_surface_set_closed_v(bs3_surface);
void bs3_surface_set_periodic_u(bs3_surface);
void bs3_surface_set_periodic_v(bs3_surface);
QELpar_box bs3_surface_range(bs3_surface);
bs3_surface bs3_surface_copy(bs3_surface);
void bs3_surface_delete(bs3_surface&);
void bs3_surface_eval(const QELpar_pos&, bs3_surface, QELposition& pos, QELvector* d1 = nullptr,
                      QELvector* d2 = nullptr);
void bs3_surface_control_points(bs3_surface, int& num_u, int& num_v, QELposition*& ctrlpts);
int bs3_surface_degree_u(bs3_surface);
int bs3_surface_degree_v(bs3_surface);
void bs3_surface_knots_u(bs3_surface, int& n, double*& knots);
void bs3_surface_knots_v(bs3_surface, int& n, double*& knots);
int bs3_surface_rational_u(bs3_surface);
int bs3_surface_rational_v(bs3_surface);
void bs3_surface_weights(bs3_surface, int& num_u, int& num_v, double*& weights);
int bs3_surface_num_ctrlpts_u(bs3_surface);
int bs3_surface_num_ctrlpts_v(bs3_surface);
bs3_surface bs3_surface_subset(bs3_surface, const QELpar_box&);
void bs3_surface_reparam_u(double lo, double hi, bs3_surface);
void bs3_surface_reparam_v(double lo, double hi, bs3_surface);
check_status_list* bs3_surface_check(bs3_surface, const spline* owner, const check_fix& input, check_fix& result,
                                     const check_status_list* wanted);
void bs3_surface_fix_degeneracy(bs3_surface, const check_fix& input, check_fix* result = nullptr);
// The B-spline of the surface over the part of it inside the region, in the
// surface's own parameters; a caller that asks for the parameter transform
// gets a surface other than a spline over the unit square instead, and the
// map from the surface's parameters to the B-spline's (identity for a spline).
bs3_surface bs3_surface_make_sur(const surface&, const QELbox& region, double requested_fit,
                                 double* actual_fit = nullptr, QELpar_transf* par_transf_out = nullptr);
void bs3_surface_debug(bs3_surface, const char* leader, FILE*);
// Bicubic interpolation of the grid pts[i * num_v + j] at (uknots[i], vknots[j]).
// Zero derivative or twist vectors mean "not given" (zero second derivative at
// that end). uknots[-2..num_u+1] (and vknots likewise) are read; the values
// outside the grid only have to keep the order. Twists: (u0, v0), (u1, v0),
// (u0, v1), (u1, v1). Null for a decreasing vector or fewer than 2 values.
bs3_surface bs3_surface_interp_knots(int num_u, int num_v, const QELposition pts[], const double uknots[],
                                     const double vknots[], const QELvector du_start[], const QELvector du_end[],
                                     const QELvector dv_start[], const QELvector dv_end[], const QELvector twist[4]);
typedef QELvector (*bs3_surface_evaluator)(const QELpar_pos&, void* data);
// Bicubic Hermite patches from the four evaluators (position, d/du, d/dv,
// d2/dudv) on a grid refined until the mid-patch error is below tol.
bs3_surface bs3_surface_proc(bs3_surface_evaluator position, bs3_surface_evaluator du, bs3_surface_evaluator dv,
                             bs3_surface_evaluator duv, void* data, const QELinterval& u_range,
                             const QELinterval& v_range, double tol);

// Makes a T whose constructor takes `owned` over (a B-spline, or a spline or
// curve definition), with the caller's file and line. When the T cannot be
// allocated, `owned` is freed and the kernel's out-of-memory error raised:
// VELM_MAKE(T, owned, ...) would leak it, since a failed allocation skips the
// constructor and its arguments.
#define VELM_ADOPT(T, OWNED, ...) velm_adopt<T>(__FILE__, __LINE__, OWNED __VA_OPT__(, ) __VA_ARGS__)

inline void velm_discard(bs3_curve c) { bs3_curve_delete(c); }
inline void velm_discard(bs2_curve c) { bs2_curve_delete(c); }
inline void velm_discard(bs3_surface s) { bs3_surface_delete(s); }
template <class O>
void velm_discard(O* owned) {
  delete owned;
}

template <class T, class O, class... A>
T* velm_adopt(const char* source_file, int line, O* owned, const A&... rest) {
  T* made = new (0, source_file, line, nullptr) T(owned, rest...);
  if (!made) {
    velm_discard(owned);
    velm_out_of_memory();
  }
  return made;
}
