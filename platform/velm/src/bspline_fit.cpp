// Fitting: Hermite B-splines (curves and surfaces, refined until the fit holds),
// the four-evaluator surface fit, bicubic grid interpolation with end
// derivatives and twists, pcurve fitting and the curve_interp base.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bspline_data.hxx"
#include "velm/geometry.hxx"

namespace {

// A C1 cubic with double interior knots through Hermite data at the nodes:
// control point r is node `node[r]` plus `coef[r]` times its derivative.
struct hermite_layout {
  std::vector<int> node;
  std::vector<double> coef;
  std::vector<double> knots;
};

hermite_layout hermite(const std::vector<double>& t) {
  hermite_layout h;
  const int spans = static_cast<int>(t.size()) - 1;
  h.node.push_back(0);
  h.coef.push_back(0.0);
  for (int i = 0; i < spans; ++i) {
    const double len = (t[i + 1] - t[i]) / 3.0;
    h.node.push_back(i);
    h.coef.push_back(len);
    h.node.push_back(i + 1);
    h.coef.push_back(-len);
  }
  h.node.push_back(spans);
  h.coef.push_back(0.0);
  h.knots.assign(4, t.front());
  for (int i = 1; i < spans; ++i) h.knots.insert(h.knots.end(), 2, t[i]);
  h.knots.insert(h.knots.end(), 4, t.back());
  return h;
}

std::vector<double> uniform(const QELinterval& r, int spans) {
  std::vector<double> t(spans + 1);
  for (int i = 0; i <= spans; ++i) t[i] = r.interpolate(double(i) / spans);
  t.back() = r.end_pt();
  return t;
}

// Dense LU with partial pivoting, solved for several right-hand sides.
class dense_lu {
 public:
  explicit dense_lu(std::vector<std::vector<double>> a) : a_(std::move(a)), perm_(a_.size()) {
    const int n = static_cast<int>(a_.size());
    for (int i = 0; i < n; ++i) perm_[i] = i;
    for (int k = 0; k < n; ++k) {
      int p = k;
      for (int i = k + 1; i < n; ++i)
        if (std::fabs(a_[i][k]) > std::fabs(a_[p][k])) p = i;
      if (std::fabs(a_[p][k]) < 1e-300) {
        ok_ = false;
        return;
      }
      std::swap(a_[k], a_[p]);
      std::swap(perm_[k], perm_[p]);
      for (int i = k + 1; i < n; ++i) {
        a_[i][k] /= a_[k][k];
        for (int j = k + 1; j < n; ++j) a_[i][j] -= a_[i][k] * a_[k][j];
      }
    }
  }
  bool ok() const { return ok_; }
  std::vector<QELvector> solve(const std::vector<QELvector>& b) const {
    const int n = static_cast<int>(a_.size());
    std::vector<QELvector> x(n);
    for (int i = 0; i < n; ++i) {
      x[i] = b[perm_[i]];
      for (int j = 0; j < i; ++j) x[i] = x[i] - a_[i][j] * x[j];
    }
    for (int i = n - 1; i >= 0; --i) {
      for (int j = i + 1; j < n; ++j) x[i] = x[i] - a_[i][j] * x[j];
      x[i] = x[i] / a_[i][i];
    }
    return x;
  }

 private:
  std::vector<std::vector<double>> a_;
  std::vector<int> perm_;
  bool ok_ = true;
};

// Cubic interpolation at the parameters with clamped knots (the parameters
// themselves inside): n + 2 control points. An end is held by its first
// derivative when one is given, else by a zero second derivative.
class cubic_interpolator {
 public:
  explicit cubic_interpolator(const std::vector<double>& t) : t_(t) {
    dir_.degree = 3;
    dir_.knots.assign(4, t.front());
    dir_.knots.insert(dir_.knots.end(), t.begin() + 1, t.end() - 1);
    dir_.knots.insert(dir_.knots.end(), 4, t.back());
  }
  const std::vector<double>& knots() const { return dir_.knots; }
  // Control points; end derivatives null for "not given".
  std::vector<QELvector> solve(const std::vector<QELvector>& values, const QELvector* d0, const QELvector* d1) {
    const int key = (d0 ? 1 : 0) + (d1 ? 2 : 0);
    if (!lu_[key]) lu_[key] = std::make_unique<dense_lu>(matrix(d0 != nullptr, d1 != nullptr));
    if (!lu_[key]->ok()) return {};
    const int n = static_cast<int>(t_.size());
    std::vector<QELvector> b(n + 2);
    b[0] = values[0];
    b[1] = d0 ? *d0 : QELvector();
    for (int i = 1; i < n - 1; ++i) b[i + 1] = values[i];
    b[n] = d1 ? *d1 : QELvector();
    b[n + 1] = values[n - 1];
    return lu_[key]->solve(b);
  }

 private:
  std::vector<std::vector<double>> matrix(bool d0, bool d1) const {
    const int n = static_cast<int>(t_.size()), m = n + 2;
    std::vector<std::vector<double>> a(m, std::vector<double>(m, 0.0));
    auto row = [&](int r, double t, int order, int side) {
      const int span = dir_.span(t, side);
      double ders[3 * 4];  // cubic: three rows of four
      dir_.basis(span, t, 2, ders);
      for (int j = 0; j <= 3; ++j) a[r][span - 3 + j] = ders[order * 4 + j];
    };
    row(0, t_.front(), 0, 0);
    row(1, t_.front(), d0 ? 1 : 2, 0);
    for (int i = 1; i < n - 1; ++i) row(i + 1, t_[i], 0, 0);
    row(n, t_.back(), d1 ? 1 : 2, -1);
    row(n + 1, t_.back(), 0, -1);
    return a;
  }
  std::vector<double> t_;
  bs_direction dir_;
  std::unique_ptr<dense_lu> lu_[4];
};

const QELvector* given(const QELvector* v) { return v && v->len() > 0.0 ? v : nullptr; }

bool increasing(const double* k, int from, int to) {
  for (int i = from; i < to; ++i)
    if (!(k[i + 1] >= k[i])) return false;
  return true;
}

}  // namespace

bs3_surface bs_hermite_surface(const bs_surface_sampler& f, const QELinterval& ur, const QELinterval& vr, double tol,
                               double* actual_fit) {
  if (!ur.finite() || !vr.finite() || !(ur.length() > 0.0) || !(vr.length() > 0.0)) return nullptr;
  bs3_surface result = nullptr;
  // Each direction is refined on its own: a surface that is straight one way
  // (a sweep along a line, a revolution of a line) keeps few spans that way.
  for (int su = 4, sv = 4;;) {
    const std::vector<double> us = uniform(ur, su), vs = uniform(vr, sv);
    const int nu0 = su + 1, nv0 = sv + 1;
    std::vector<QELposition> p(nu0 * nv0);
    std::vector<QELvector> du(nu0 * nv0), dv(nu0 * nv0), duv(nu0 * nv0);
    for (int i = 0; i < nu0; ++i)
      for (int j = 0; j < nv0; ++j) {
        const int k = i * nv0 + j;
        f(QELpar_pos(us[i], vs[j]), p[k], du[k], dv[k], duv[k]);
      }
    const hermite_layout hu = hermite(us), hv = hermite(vs);
    const int nu = static_cast<int>(hu.node.size()), nv = static_cast<int>(hv.node.size());
    std::vector<QELposition> net(nu * nv);
    for (int r = 0; r < nu; ++r)
      for (int s = 0; s < nv; ++s) {
        const int k = hu.node[r] * nv0 + hv.node[s];
        const double a = hu.coef[r], b = hv.coef[s];
        net[r * nv + s] = p[k] + (a * du[k] + b * dv[k] + (a * b) * duv[k]);
      }
    bs3_surface_delete(result);
    result = bs3_surface_from_ctrlpts(3, 0, 0, 0, nu, 3, 0, 0, 0, nv, net.data(), nullptr, QELresabs,
                                      static_cast<int>(hu.knots.size()), hu.knots.data(),
                                      static_cast<int>(hv.knots.size()), hv.knots.data(), 0.0);
    if (!result) return nullptr;
    // Error at the mid points of the patch sides across u, across v, and at
    // the patch centres.
    double worst_u = 0.0, worst_v = 0.0, worst_c = 0.0;
    QELvector unused[3];
    auto error = [&](const QELpar_pos& uv) {
      QELposition want, got;
      f(uv, want, unused[0], unused[1], unused[2]);
      result->eval(uv, got, 0, nullptr);
      return distance(want, got);
    };
    for (int i = 0; i <= su; ++i)
      for (int j = 0; j <= sv; ++j) {
        const double um = i < su ? 0.5 * (us[i] + us[i + 1]) : us[i];
        const double vm = j < sv ? 0.5 * (vs[j] + vs[j + 1]) : vs[j];
        worst_u = std::max(worst_u, error(QELpar_pos(um, vs[j])));
        worst_v = std::max(worst_v, error(QELpar_pos(us[i], vm)));
        worst_c = std::max(worst_c, error(QELpar_pos(um, vm)));
      }
    const double worst = std::max({worst_u, worst_v, worst_c});
    if (actual_fit) *actual_fit = worst;
    if (worst <= tol) break;
    // A centre alone out of tolerance refines both ways.
    const bool centre_only = worst_u <= tol && worst_v <= tol;
    const bool more_u = su < 64 && (worst_u > tol || centre_only);
    const bool more_v = sv < 64 && (worst_v > tol || centre_only);
    if (!more_u && !more_v) break;
    if (more_u) su *= 2;
    if (more_v) sv *= 2;
  }
  bs3_surface_determine_form_u(result);
  bs3_surface_determine_form_v(result);
  return result;
}

bs3_surface bs3_surface_proc(bs3_surface_evaluator position, bs3_surface_evaluator du, bs3_surface_evaluator dv,
                             bs3_surface_evaluator duv, void* data, const QELinterval& u_range,
                             const QELinterval& v_range, double tol) {
  if (!position || !du || !dv || !duv) return nullptr;
  return bs_hermite_surface(
      [&](const QELpar_pos& uv, QELposition& p, QELvector& a, QELvector& b, QELvector& c) {
        const QELvector v = position(uv, data);
        p = QELposition(v.x(), v.y(), v.z());
        a = du(uv, data);
        b = dv(uv, data);
        c = duv(uv, data);
      },
      u_range, v_range, tol, nullptr);
}

bs3_surface bs3_surface_interp_knots(int num_u, int num_v, const QELposition pts[], const double uknots[],
                                     const double vknots[], const QELvector du_start[], const QELvector du_end[],
                                     const QELvector dv_start[], const QELvector dv_end[], const QELvector twist[4]) {
  if (!pts || !uknots || !vknots || num_u < 2 || num_v < 2) return nullptr;
  // The two values read on either side of each array only have to keep the order.
  if (!increasing(uknots, -2, num_u + 1) || !increasing(vknots, -2, num_v + 1)) return nullptr;
  for (int i = 0; i + 1 < num_u; ++i)
    if (!(uknots[i + 1] > uknots[i])) return nullptr;
  for (int j = 0; j + 1 < num_v; ++j)
    if (!(vknots[j + 1] > vknots[j])) return nullptr;
  const std::vector<double> ut(uknots, uknots + num_u), vt(vknots, vknots + num_v);
  cubic_interpolator in_u(ut), in_v(vt);
  const int cu = num_u + 2, cv = num_v + 2;
  auto pick = [](const QELvector* a, int i) { return a ? given(&a[i]) : nullptr; };

  // Along u for each grid column j: rows of control points in u.
  std::vector<std::vector<QELvector>> rows(num_v);
  for (int j = 0; j < num_v; ++j) {
    std::vector<QELvector> values(num_u);
    for (int i = 0; i < num_u; ++i) values[i] = pts[i * num_v + j] - QELposition();
    rows[j] = in_u.solve(values, pick(du_start, j), pick(du_end, j));
    if (rows[j].empty()) return nullptr;
  }
  // The v end derivatives become control rows in u too, held by the twists.
  auto derivative_row = [&](const QELvector* dv, const QELvector* tw0, const QELvector* tw1) {
    std::vector<QELvector> values(num_u);
    for (int i = 0; i < num_u; ++i) values[i] = dv[i];
    return in_u.solve(values, given(tw0), given(tw1));
  };
  const QELvector* tw = twist;
  std::vector<QELvector> dv0, dv1;
  const bool has_dv0 = dv_start && std::any_of(dv_start, dv_start + num_u, [](const QELvector& v) { return v.len() > 0.0; });
  const bool has_dv1 = dv_end && std::any_of(dv_end, dv_end + num_u, [](const QELvector& v) { return v.len() > 0.0; });
  if (has_dv0) dv0 = derivative_row(dv_start, tw ? &tw[0] : nullptr, tw ? &tw[1] : nullptr);
  if (has_dv1) dv1 = derivative_row(dv_end, tw ? &tw[2] : nullptr, tw ? &tw[3] : nullptr);

  std::vector<QELposition> net(cu * cv);
  for (int r = 0; r < cu; ++r) {
    std::vector<QELvector> values(num_v);
    for (int j = 0; j < num_v; ++j) values[j] = rows[j][r];
    const std::vector<QELvector> col =
        in_v.solve(values, has_dv0 && !dv0.empty() ? &dv0[r] : nullptr, has_dv1 && !dv1.empty() ? &dv1[r] : nullptr);
    if (col.empty()) return nullptr;
    for (int s = 0; s < cv; ++s) net[r * cv + s] = QELposition() + col[s];
  }
  const std::vector<double>& ku = in_u.knots();
  const std::vector<double>& kv = in_v.knots();
  return bs3_surface_from_ctrlpts(3, 0, 0, 0, cu, 3, 0, 0, 0, cv, net.data(), nullptr, QELresabs,
                                  static_cast<int>(ku.size()), ku.data(), static_cast<int>(kv.size()), kv.data(), 0.0);
}

// ---- pcurves ----

namespace {
bs2_curve to_bs2(bs3_curve c) {
  if (!c) return nullptr;
  const held_bs3 from(c);
  bs2_curve r = VELM_MAKE(bs2_curve_def);
  static_cast<bs_curve_data&>(*r) = *c;
  for (QELposition& p : r->pts) p.set_z(0.0);
  return r;
}

// Largest distance between the curve and the pcurve on the surface, between samples.
double pcurve_error(const curve& c, bs2_curve p, const surface& s, const QELinterval& range, int samples) {
  double worst = 0.0;
  for (int i = 0; i <= 2 * samples; ++i) {
    const double t = range.interpolate(double(i) / (2 * samples));
    QELpar_pos uv;
    bs2_curve_eval(t, p, uv);
    worst = std::max(worst, distance(s.eval_position(uv), c.eval_position(t)));
  }
  return worst;
}
}  // namespace

namespace {
// `off`, when given, is set when the piece failed because the curve lies
// farther than tol from the surface somewhere: no pcurve of it can hold.
bs2_curve fit_smooth_piece(const curve& c, const QELinterval& range, const surface& s, double tol, bool* off);

// The curve's discontinuities of that order, as parameters.
std::vector<double> curve_breaks(const curve& c, int order) {
  int n = 0;
  const double* breaks = c.discontinuities(n, order);
  return breaks ? std::vector<double>(breaks, breaks + n) : std::vector<double>();
}

// Where the curve crosses a knot line of the surface across which the surface
// is only C1 or C0: there the pcurve has a corner or a jump in curvature of its
// own, whatever the curve does. The curve is inverted onto the surface at
// samples (continuously, so that a seam is crossed once), and each crossing
// found between two samples is closed in on by bisection.
std::vector<double> knot_line_crossings(const curve& c, const QELinterval& range, const surface& s) {
  std::vector<double> out;
  int nu = 0, nv = 0;
  const double* ku = s.all_discontinuities_u(nu, 2);
  const double* kv = s.all_discontinuities_v(nv, 2);
  if (nu == 0 && nv == 0) return out;
  constexpr int samples = 64;
  std::vector<double> t(samples + 1);
  std::vector<QELpar_pos> uv(samples + 1);
  for (int i = 0; i <= samples; ++i) {
    t[i] = range.interpolate(double(i) / samples);
    uv[i] = i == 0 ? s.param(c.eval_position(t[i])) : s.param(c.eval_position(t[i]), &uv[i - 1]);
  }
  auto along = [](const QELpar_pos& p, bool u) { return u ? p.u : p.v; };
  auto cross = [&](bool u, const double* knots, int n, double period) {
    for (int i = 0; i < samples; ++i) {
      const double a = along(uv[i], u), b = along(uv[i + 1], u);
      const double lo = std::min(a, b), hi = std::max(a, b);
      for (int k = 0; k < n; ++k) {
        // On a periodic surface the knot line comes round once a period.
        const double first = period > 0.0 ? knots[k] + std::ceil((lo - knots[k]) / period) * period : knots[k];
        // Between two samples the curve comes round a few times at most; more
        // (a curve far outside its knots, a parameter a period no longer
        // moves) is no curve a fit can follow.
        int turns = 0;
        for (double x = first; x < hi && x > lo; x += period) {
          if (++turns > 64) velm_api_error_throw(VELM_NO_CONVERGENCE);
          double t0 = t[i], t1 = t[i + 1];
          QELpar_pos g = uv[i];
          const double side0 = a - x;
          for (int it = 0; it < 60 && t1 - t0 > 1e-14 * range.length(); ++it) {
            const double tm = 0.5 * (t0 + t1);
            const QELpar_pos m = s.param(c.eval_position(tm), &g);
            if ((along(m, u) - x) * side0 > 0.0) {
              t0 = tm;
              g = m;
            } else {
              t1 = tm;
            }
          }
          out.push_back(0.5 * (t0 + t1));
          if (!(period > 0.0)) break;
        }
      }
    }
  };
  cross(true, ku, nu, s.param_period_u());
  cross(false, kv, nv, s.param_period_v());
  return out;
}

// The pieces of the curve between the breaks inside the range, fitted one by
// one (each within piece_tol) and joined where they meet; the whole within tol.
bs2_curve fit_between_breaks(const curve& c, const QELinterval& range, const surface& s, double tol,
                             const std::vector<double>& breaks, double piece_tol, bool* off) {
  std::vector<double> ends{range.start_pt()};
  const double margin = 1e-9 * range.length();
  for (double b : breaks)
    if (b > range.start_pt() + margin && b < range.end_pt() - margin) ends.push_back(b);
  ends.push_back(range.end_pt());
  std::sort(ends.begin(), ends.end());
  ends.erase(std::unique(ends.begin(), ends.end(), [margin](double a, double b) { return b - a <= margin; }),
             ends.end());
  if (ends.back() < range.end_pt()) ends.back() = range.end_pt();
  held_bs3 joined;
  for (std::size_t i = 0; i + 1 < ends.size(); ++i) {
    const held_bs2 piece(fit_smooth_piece(c, QELinterval(ends[i], ends[i + 1]), s, piece_tol, off));
    if (!piece.get()) return nullptr;
    held_bs3 piece3(bs2_curve_to_bs3_curve(piece.get()));
    if (!joined.get()) {
      joined.reset(piece3.release());
      continue;
    }
    bs3_curve both = bs3_curve_join(joined.get(), piece3.get());
    if (!both) return nullptr;
    joined.reset(both);
  }
  bs2_curve p = to_bs2(joined.release());
  if (p && ends.size() > 2 && pcurve_error(c, p, s, range, 64 * static_cast<int>(ends.size())) > tol) {
    bs2_curve_delete(p);
    p = nullptr;
  }
  return p;
}

}  // namespace

namespace {
// A line or circle whose parameters on a plane, cone, sphere or torus follow
// its own affinely: a straight line on a plane, a ruling of a cone or
// cylinder, a circle of constant u or v on a cone, sphere or torus. The
// pcurve is then the line between the ends' parameters (degree 1, two
// control points), exact: no fit, whatever the surface's frame (turned,
// mirrored) and the curve's speed. The parameters are taken in closed form at
// quarter steps, each near the one before, so that a seam is crossed once and
// a whole circle spans its period; a step onto a pole, or a map that is not
// affine to within resabs (an oblique ellipse, however short the arc; a circle
// on a plane), gives null and the caller fits.
bs2_curve affine_on_analytic(const curve& c, const QELinterval& range, const surface& s, double tol) {
  constexpr int steps = 4;
  QELpar_pos uv[steps + 1];
  for (int i = 0; i <= steps; ++i) {
    if (!s.exact_param(c.eval_position(range.interpolate(double(i) / steps)), uv[i], i > 0 ? &uv[i - 1] : nullptr))
      return nullptr;
    if (s.singular_u(uv[i].u) || s.singular_v(uv[i].v)) return nullptr;
  }
  const QELposition ends[2] = {QELposition(uv[0].u, uv[0].v, 0.0), QELposition(uv[steps].u, uv[steps].v, 0.0)};
  const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
  bs2_curve p = bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, ends, nullptr, QELresabs, 4, knots, 0.0);
  // Exact, or not taken: within the caller's fit tolerance, a short arc of
  // an oblique ellipse passes as a line whose middle is off the curve by
  // more than the checker allows an edge of no tolerance.
  if (p && !(pcurve_error(c, p, s, range, 2 * steps) <= std::min(tol, QELresabs))) {
    bs2_curve_delete(p);
    p = nullptr;
  }
  return p;
}

// Whether the curve may lie on the surface with an affine map between their
// parameters (see affine_on_analytic).
bool may_be_affine(const curve& c, const surface& s) {
  if (s.type() == 1) return c.type() == 1;
  return (c.type() == 1 || c.type() == 2) && s.type() >= 2 && s.type() <= 4;
}
}  // namespace

bs2_curve bs2_curve_for_curve_on_surf(const curve& c, const QELinterval& range, const surface& s, double tol) {
  if (!range.finite() || !(range.length() > 0.0)) return nullptr;
  if (may_be_affine(c, s))
    if (bs2_curve p = affine_on_analytic(c, range, s, tol)) return p;
  // A corner of the curve is a corner of the pcurve: the smooth pieces between
  // the curve's tangent breaks are fitted one by one and joined there. When a
  // piece will not fit, the pieces between every break of the third
  // derivative (the knots of a cubic) are fitted instead, and then those
  // pieces cut again where the curve crosses the surface's knot lines. The
  // pieces between knot lines follow a rational or bent parameterisation and
  // their samples barely bound their error, so they are fitted to half the
  // tolerance for the whole to keep within it.
  // A curve found farther than tol from the surface is fitted no further:
  // no pieces of it fit either.
  bool off = false;
  if (bs2_curve p = fit_between_breaks(c, range, s, tol, curve_breaks(c, 1), tol, &off)) return p;
  if (off) return nullptr;
  std::vector<double> breaks = curve_breaks(c, 3);
  if (bs2_curve p = fit_between_breaks(c, range, s, tol, breaks, tol, &off)) return p;
  if (off) return nullptr;
  const std::vector<double> crossings = knot_line_crossings(c, range, s);
  if (crossings.empty()) return nullptr;
  breaks.insert(breaks.end(), crossings.begin(), crossings.end());
  return fit_between_breaks(c, range, s, tol, breaks, 0.5 * tol, &off);
}

namespace {
// The fit's error inside each span between fit points: the curve against the
// pcurve on the surface at a quarter, the middle and three quarters of the
// span (a cubic through the span's ends strays most near its middle, but not
// always at it). Spans whose error passes tol are listed in `bad`.
double span_errors(const curve& c, bs2_curve p, const surface& s, const std::vector<double>& t, double tol,
                   std::vector<int>& bad) {
  bad.clear();
  double worst = 0.0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    double here = 0.0;
    for (const double f : {0.5, 0.25, 0.75}) {
      const double at = t[i] + f * (t[i + 1] - t[i]);
      QELpar_pos uv;
      bs2_curve_eval(at, p, uv);
      here = std::max(here, distance(s.eval_position(uv), c.eval_position(at)));
      if (!(here <= tol)) break;
    }
    worst = std::max(worst, here);
    if (!(here <= tol)) bad.push_back(static_cast<int>(i));
  }
  return worst;
}

bs2_curve fit_smooth_adaptive(const curve& c, const QELinterval& range, const surface& s, double tol,
                              const QELpar_pos& first, bool& off) {
  // Fit points: even steps to begin with; then the middle of every span
  // where the fit strays from the curve by more than tol, until none does.
  // The parameters on the surface (`feet`) are found each from a neighbour's,
  // so that seams are crossed continuously. At a pole, or so near one that a
  // whole turn of a parameter moves the point by less than tol, that
  // parameter is free (`free_u`, `free_v`) and is taken from the neighbour.
  struct fit_point {
    double t;
    QELpar_pos foot;
    bool free_u, free_v;
  };
  const auto point_at = [&](double t, const QELpar_pos& foot) {
    // A surface singular at this u (a pole row) leaves v free there, and the
    // other way round.
    fit_point f{t, foot, s.singular_v(foot.v), s.singular_u(foot.u)};
    if (!f.free_u || !f.free_v) {
      QELposition at;
      QELvector d1[2];
      s.eval(foot, at, d1);
      constexpr double turn = 2.0 * 3.14159265358979323846;
      f.free_u = f.free_u || d1[0].len() * turn < tol;
      f.free_v = f.free_v || d1[1].len() * turn < tol;
    }
    return f;
  };
  constexpr int kFirst = 8, kMostPoints = 2049;
  std::vector<fit_point> pts;
  pts.reserve(kFirst + 1);
  for (int i = 0; i <= kFirst; ++i) {
    const double t = i == kFirst ? range.end_pt() : range.interpolate(double(i) / kFirst);
    if (i == 0) {
      pts.push_back(point_at(t, first));
      continue;
    }
    // From the point before, unless its parameters are free there (a pole
    // is no guide); found afresh where that misses.
    const QELposition at = c.eval_position(t);
    const fit_point& before = pts.back();
    QELpar_pos foot = before.free_u || before.free_v ? s.param(at) : s.param(at, &before.foot);
    if (!(distance(s.eval_position(foot), at) <= tol)) foot = s.param(at);
    if (!(distance(s.eval_position(foot), at) <= tol)) {
      off = true;
      return nullptr;
    }
    pts.push_back(point_at(t, foot));
  }
  std::vector<double> t;
  std::vector<QELposition> uv;
  std::vector<int> bad;
  for (;;) {
    const int n = static_cast<int>(pts.size());
    t.resize(n);
    uv.resize(n);
    for (int i = 0; i < n; ++i) {
      t[i] = pts[i].t;
      uv[i] = QELposition(pts[i].foot.u, pts[i].foot.v, 0.0);
    }
    for (int i = 0; i < n; ++i) {
      const int k = i == 0 ? 1 : i - 1;
      if (pts[i].free_u) uv[i].set_x(uv[k].x());
      if (pts[i].free_v) uv[i].set_y(uv[k].y());
    }
    bs2_curve p = to_bs2(bs3_curve_interp_knots(n, uv.data(), t.data()));
    if (!p) return nullptr;
    // Held to four fifths of tol at the three samples of each span, so that
    // the largest error between them stays within tol.
    span_errors(c, p, s, t, 0.8 * tol, bad);
    if (bad.empty()) return p;
    bs2_curve_delete(p);
    if (n + static_cast<int>(bad.size()) > kMostPoints) return nullptr;
    // A new point in the middle of each straying span, right to left so that
    // the indices still to come stay put.
    for (auto b = bad.rbegin(); b != bad.rend(); ++b) {
      const int i = *b;
      const double tm = 0.5 * (t[i] + t[i + 1]);
      if (!(tm > t[i] && tm < t[i + 1])) return nullptr;  // no room left between
      const QELposition at = c.eval_position(tm);
      // From the left neighbour, or the right one where the left's
      // parameters are free (no guide).
      const bool free = pts[i].free_u || pts[i].free_v;
      const QELpar_pos foot = s.param(at, &pts[free ? i + 1 : i].foot);
      // Off the surface by more than tol here (the nearest point found
      // afresh too): no pcurve passes within tol.
      if (!(distance(s.eval_position(foot), at) <= tol)) {
        off = !(distance(s.eval_position(s.param(at)), at) <= tol);
        return nullptr;
      }
      pts.insert(pts.begin() + i + 1, point_at(tm, foot));
    }
  }
}
// Through even steps of the curve, 8, 16, ... 512 of them, until the fit
// holds at them and at the middle of each: where the adaptive fit finds no
// end (a curve through a pole inside the piece, whose free parameter turns
// there), this one still gives a pcurve, which may stray between its points
// by more than tol (the checks measure how far).
bs2_curve fit_smooth_uniform(const curve& c, const QELinterval& range, const surface& s, double tol,
                             const QELpar_pos& first) {
  for (int n = 8; n <= 512; n *= 2) {
    std::vector<double> t(n + 1);
    std::vector<QELposition> uv(n + 1);
    QELpar_pos last;
    for (int i = 0; i <= n; ++i) {
      t[i] = range.interpolate(double(i) / n);
      // Each inversion starts from the previous one, so seams are crossed continuously.
      last = i == 0 ? first : s.param(c.eval_position(t[i]), &last);
      uv[i] = QELposition(last.u, last.v, 0.0);
    }
    // At a pole the free parameter is taken from the neighbour.
    for (int i = 0; i <= n; ++i) {
      const int k = i == 0 ? 1 : i - 1;
      if (s.singular_u(uv[i].x())) uv[i].set_y(uv[k].y());
      if (s.singular_v(uv[i].y())) uv[i].set_x(uv[k].x());
    }
    bs2_curve p = to_bs2(bs3_curve_interp_knots(n + 1, uv.data(), t.data()));
    if (!p) return nullptr;
    if (pcurve_error(c, p, s, range, n) <= tol) return p;
    bs2_curve_delete(p);
  }
  return nullptr;
}

bs2_curve fit_smooth_piece(const curve& c, const QELinterval& range, const surface& s, double tol, bool* off) {
  bool far = false;
  // The first sample is the same at every density: when its foot is off the
  // curve by more than tol, every pcurve through it is, so none is tried.
  const QELposition start = c.eval_position(range.interpolate(0.0));
  const QELpar_pos first = s.param(start);
  if (!(distance(s.eval_position(first), start) <= tol)) far = true;
  bs2_curve p = far ? nullptr : fit_smooth_adaptive(c, range, s, tol, first, far);
  if (!p && !far) p = fit_smooth_uniform(c, range, s, tol, first);
  if (off && far) *off = true;
  return p;
}
}  // namespace

bs2_curve bs2_curve_for_curve_on_surf(bs3_curve cur, const QELinterval& range, bs3_surface srf, double tol) {
  if (!cur || !srf) return nullptr;
  const intcurve c(bs3_curve_copy(cur));
  const spline s(srf);
  return bs2_curve_for_curve_on_surf(c, range, s, tol);
}

bs2_curve fit_pcurve_bs2(const curve& c, const QELinterval& range, const surface& s, double tol, double& actual_fit,
                         QELpar_vec& shift) {
  shift = QELpar_vec();
  actual_fit = -1.0;
  bs2_curve p = bs2_curve_for_curve_on_surf(c, range, s, tol);
  if (!p) return nullptr;
  actual_fit = pcurve_error(c, p, s, range, 32);
  QELpar_pos start;
  bs2_curve_eval(range.start_pt(), p, start);
  const QELpar_box principal = s.param_range();
  auto whole_periods = [](double x, double period, const QELinterval& r) {
    if (period <= 0.0 || !r.bounded_below()) return 0.0;
    return -std::floor((x - r.start_pt()) / period + QELresnor) * period;
  };
  shift = QELpar_vec(whole_periods(start.u, s.param_period_u(), principal.u_range()),
                     whole_periods(start.v, s.param_period_v(), principal.v_range()));
  if (shift.du != 0.0 || shift.dv != 0.0) bs2_curve_par_trans(p, QELpar_transf(1.0, 1.0, shift.du, shift.dv));
  return p;
}

// ---- curve_interp ----

curve_interp::curve_interp(double fitol) : fitol_(fitol) {}
curve_interp::~curve_interp() = default;

point_data* curve_interp::point_perp(const point_record& rec) {
  rec.data.foot = rec.position;
  rec.data.direction = QELvector();
  rec.data.value = 1.0;
  return &rec.data;
}

void curve_interp::fit() {
  const int n = std::abs(npts);
  if (n < 2 || !params || !points) return;
  std::vector<double> t(params, params + n);
  std::vector<QELposition> p(points, points + n);
  std::vector<QELvector> d(n);
  for (int i = 0; i < n; ++i) d[i] = derivs ? derivs[i] : QELvector();
  bs3_curve result = nullptr;
  for (int round = 0; round < 8; ++round) {
    bs3_curve_delete(result);
    const hermite_layout h = hermite(t);
    std::vector<QELposition> ctrl(h.node.size());
    for (size_t r = 0; r < ctrl.size(); ++r) ctrl[r] = p[h.node[r]] + h.coef[r] * d[h.node[r]];
    result = derivs ? bs3_curve_from_ctrlpts(3, 0, 0, 0, static_cast<int>(ctrl.size()), ctrl.data(), nullptr,
                                             QELresabs, static_cast<int>(h.knots.size()), h.knots.data(), 0.0)
                    : bs3_curve_interp_knots(static_cast<int>(t.size()), p.data(), t.data());
    if (!result) return;
    // Mid-span points projected on the true curve; spans that miss get the foot.
    std::vector<double> nt;
    std::vector<QELposition> np;
    std::vector<QELvector> nd;
    bool refined = false;
    for (size_t i = 0; i < t.size(); ++i) {
      nt.push_back(t[i]);
      np.push_back(p[i]);
      nd.push_back(d[i]);
      if (i + 1 == t.size()) break;
      const double tm = 0.5 * (t[i] + t[i + 1]);
      QELposition at;
      QELvector tangent;
      bs3_curve_eval(tm, result, at, &tangent);
      point_record rec;
      rec.position = at;
      rec.param = tm;
      const point_data* foot = point_perp(rec);
      if (foot && distance(foot->foot, at) > fitol_) {
        refined = true;
        nt.push_back(tm);
        np.push_back(foot->foot);
        const double len = foot->direction.len();
        nd.push_back(len > 0.0 ? (tangent.len() / len) * foot->direction : tangent);
      }
    }
    if (!refined) break;
    t.swap(nt);
    p.swap(np);
    d.swap(nd);
  }
  if (npts < 0 && result) bs3_curve_determine_form(result);
  obj_bs = result;
}
