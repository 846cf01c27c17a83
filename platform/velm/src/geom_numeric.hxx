// Numerical helpers shared by the curve, surface and B-spline code: point
// projection by sampling plus Newton, and arc length by adaptive Gauss.
#pragma once

#include <functional>

#include "velm/math.hxx"

// Position (out[0] as a vector from the origin) and derivatives up to nd (at
// most 2); a search that only measures distances asks for nd 0, which costs a
// fraction of the derivatives and gives the same position.
using curve_evaluator = std::function<void(double t, int nd, QELvector out[3])>;
// Position, then Su, Sv (nd 1), then Suu, Suv, Svv (nd 2).
using surface_evaluator = std::function<void(const QELpar_pos& uv, int nd, QELvector out[6])>;

inline QELvector to_vec(const QELposition& p) { return {p.x(), p.y(), p.z()}; }
inline QELposition to_pos(const QELvector& v) { return {v.x(), v.y(), v.z()}; }

// Parameter of the point of [lo, hi] nearest p. Without a guess every sample of the
// range is a start; with one, the local minimum reached from it (periodic curves
// keep the copy nearest the guess).
double curve_project(const curve_evaluator& f, double lo, double hi, bool periodic, int samples,
                     const QELposition& p, const double* guess);

// The same on a surface over a finite parameter box.
QELpar_pos surface_project(const surface_evaluator& f, const QELpar_box& range, bool periodic_u, bool periodic_v,
                           int samples_u, int samples_v, const QELposition& p, const QELpar_pos* guess);

// Arc length from t0 to t1 (negative when t1 < t0).
// Throws VELM_NO_CONVERGENCE when it does not settle within a bounded number
// of halvings.
double curve_length(const curve_evaluator& f, double t0, double t1);

// A unit vector perpendicular to n: the coordinate axis least aligned with n, made
// perpendicular (x for n = z).
QELunit_vector any_perpendicular(const QELvector& n);
