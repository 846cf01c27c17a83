// Exact rational B-spline forms of planes, cones, spheres and tori.
//
// Each kind is affine in each of two factors: a linear parameter (x = u) or a
// unit circle point (x, y) = (cos t, sin t). The product of the factors' exact
// B-splines (a degree-1 segment, or a chain of rational quadratic arcs that
// Open CASCADE converts) with the weights multiplied and every control point
// the kind's formula at the factors' control points is then the surface
// itself, because the rational bases of each factor sum to one.
#include <GeomConvert.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <Standard_Failure.hxx>
#include <gp_Ax2.hxx>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "bspline_data.hxx"
#include "velm/surface_build.hxx"

namespace {

using std::numbers::pi;

// One factor: knots, and per control point its coordinates and weight.
struct factor {
  bs_direction dir;
  std::vector<double> x, y, w;
  std::vector<double> breaks;  // arc ends (angular factors only)
};

factor linear_factor(const QELinterval& r) {
  factor f;
  f.dir.degree = 1;
  f.dir.knots = {r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt()};
  f.x = {r.start_pt(), r.end_pt()};
  f.y = {0.0, 0.0};
  f.w = {1.0, 1.0};
  return f;
}

// The unit circle from angle a to b as rational quadratic arcs; the knots are
// set to the angles at the arc ends, so the spline parameter is the angle there.
bool arc_factor(const QELinterval& r, factor& f) {
  const double a = r.start_pt(), b = r.end_pt();
  if (!(b - a > QELresnor) || b - a > 2.0 * pi + QELresnor) return false;
  try {
    Handle(Geom_Circle) circle = new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)), 1.0);
    Handle(Geom_BSplineCurve) arc = GeomConvert::CurveToBSplineCurve(new Geom_TrimmedCurve(circle, a, b));
    if (arc.IsNull() || arc->Degree() != 2) return false;
    if (arc->IsPeriodic()) arc->SetNotPeriodic();
    const int n = arc->NbPoles();
    f.dir.degree = 2;
    f.x.clear(), f.y.clear(), f.w.clear(), f.breaks.clear();
    for (int i = 1; i <= n; ++i) {
      f.x.push_back(arc->Pole(i).X());
      f.y.push_back(arc->Pole(i).Y());
      f.w.push_back(arc->Weight(i));
    }
    // Distinct knots map onto the angles of the arc ends (Open CASCADE may
    // shift the start by whole turns).
    const double shift = a - arc->FirstParameter();
    for (int i = 1; i <= arc->NbKnots(); ++i) f.breaks.push_back(arc->Knot(i) + shift);
    f.breaks.front() = a;
    f.breaks.back() = b;
    f.dir.knots.clear();
    for (int i = 1; i <= arc->NbKnots(); ++i)
      f.dir.knots.insert(f.dir.knots.end(), arc->Multiplicity(i), f.breaks[i - 1]);
    return static_cast<int>(f.dir.knots.size()) == n + 3;
  } catch (const Standard_Failure&) {
    return false;
  }
}

// A kind's point at the factors' coordinates (xu, yu) and (xv, yv).
using kind_formula = std::function<QELposition(double xu, double yu, double xv, double yv)>;

bs3_surface tensor_form(const factor& fu, const factor& fv, const kind_formula& point) {
  auto* s = VELM_MAKE(bs3_surf_def);
  s->u = fu.dir;
  s->v = fv.dir;
  s->rational = fu.dir.degree > 1 || fv.dir.degree > 1;
  const int nu = static_cast<int>(fu.x.size()), nv = static_cast<int>(fv.x.size());
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      s->pts.push_back(point(fu.x[i], fu.y[i], fv.x[j], fv.y[j]));
      if (s->rational) s->weights.push_back(fu.w[i] * fv.w[j]);
    }
  bs3_surface_determine_form_u(s);
  bs3_surface_determine_form_v(s);
  set_poles(s, QELresabs);
  return s;
}

// The box with its non-periodic directions cut to the surface's range.
QELpar_box cut_to_range(const surface& srf, const QELpar_box& box) {
  const QELpar_box full = srf.full_range();
  const QELinterval u = srf.full_period_u() > 0.0 ? box.u_range() : box.u_range() & full.u_range();
  const QELinterval v = srf.full_period_v() > 0.0 ? box.v_range() : box.v_range() & full.v_range();
  return QELpar_box(u, v);
}

// Spline parameter of an angle inside the arc [a, b]: a symmetric rational
// quadratic arc of half angle h puts tan(psi / 2) = tan(h / 2) (2t - 1), psi the
// angle from the arc's middle and t in [0, 1].
double angle_to_param(const std::vector<double>& breaks, double angle) {
  if (breaks.size() < 2) return angle;
  size_t k = std::upper_bound(breaks.begin(), breaks.end(), angle) - breaks.begin();
  k = std::clamp<size_t>(k, 1, breaks.size() - 1);
  const double a = breaks[k - 1], b = breaks[k], h = 0.5 * (b - a);
  const double t = 0.5 * (1.0 + std::tan(0.5 * (angle - a - h)) / std::tan(0.5 * h));
  return a + t * (b - a);
}

double param_to_angle(const std::vector<double>& breaks, double s) {
  if (breaks.size() < 2) return s;
  size_t k = std::upper_bound(breaks.begin(), breaks.end(), s) - breaks.begin();
  k = std::clamp<size_t>(k, 1, breaks.size() - 1);
  const double a = breaks[k - 1], b = breaks[k], h = 0.5 * (b - a);
  const double t = (s - a) / (b - a);
  return a + h + 2.0 * std::atan(std::tan(0.5 * h) * (2.0 * t - 1.0));
}

}  // namespace

QELpar_pos exact_form_map::to_spline(const QELpar_pos& p) const {
  return {angle_to_param(u_breaks, p.u), angle_to_param(v_breaks, p.v)};
}

QELpar_pos exact_form_map::to_surface(const QELpar_pos& p) const {
  return {param_to_angle(u_breaks, p.u), param_to_angle(v_breaks, p.v)};
}

bs3_surface bs3_surface_exact_form(const surface& srf, const QELpar_box& request, exact_form_map* map) {
  const int kind = srf.type();
  if (kind < 1 || kind > 4) return nullptr;
  const QELpar_box box = cut_to_range(srf, request);
  if (box.empty() || !box.u_range().finite() || !box.v_range().finite()) return nullptr;
  // Angular directions: the cone's v, both directions of spheres and tori.
  const bool angular_u = kind == 3 || kind == 4, angular_v = kind >= 2;
  auto make_factor = [](bool angular, const QELinterval& r, factor& f) {
    if (angular) return arc_factor(r, f);
    f = linear_factor(r);
    return true;
  };
  factor fu, fv;
  if (!make_factor(angular_u, box.u_range(), fu) || !make_factor(angular_v, box.v_range(), fv)) return nullptr;
  kind_formula point;
  switch (kind) {
    case 1: {
      const plane& p = static_cast<const plane&>(srf);
      const QELvector U = p.u_axis(), V = p.v_axis();
      point = [&p, U, V](double xu, double, double xv, double) { return p.root_point + xu * U + xv * V; };
      break;
    }
    case 2: {
      const cone& c = static_cast<const cone&>(srf);
      const double alen = c.base.major_axis.len(), st = c.sine * (c.cosine < 0.0 ? -1.0 : 1.0);
      const double su = c.reverse_u ? -1.0 : 1.0, sig = c.sigma(), ct = std::fabs(c.cosine);
      const QELvector A = c.base.major_axis, B = c.base.minor_axis(), Z = c.base.normal;
      point = [=, &c](double xu, double, double xv, double yv) {
        return c.base.centre + (1.0 + st * sig * su * xu / alen) * (xv * A + yv * B) + (ct * sig * su * xu) * Z;
      };
      break;
    }
    case 3: {
      const sphere& s = static_cast<const sphere&>(srf);
      const double rho = std::fabs(s.radius);
      const QELvector O = s.origin_dir, W = s.origin_dir * s.pole_dir, P = s.pole_dir;
      point = [=, &s](double xu, double yu, double xv, double yv) {
        return s.centre + rho * (xu * (xv * O + yv * W) + yu * P);
      };
      break;
    }
    default: {
      const torus& t = static_cast<const torus&>(srf);
      const double rho = std::fabs(t.minor_radius), R = t.major_radius;
      const QELvector O = t.origin_dir, W = t.origin_dir * t.normal, N = t.normal;
      point = [=, &t](double xu, double yu, double xv, double yv) {
        return t.centre + (R + rho * xu) * (xv * O + yv * W) + (rho * yu) * N;
      };
      break;
    }
  }
  if (map) {
    map->u_breaks = fu.breaks;
    map->v_breaks = fv.breaks;
  }
  return tensor_form(fu, fv, point);
}
