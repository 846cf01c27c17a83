// Spline faces refitted on a grid of their own parameters.
#include "velm/resurface.hxx"

#include <algorithm>
#include <vector>

#include "velm/api.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/spline_conversion.hxx"

namespace {

constexpr int kMaxRefinements = 5;

// The distinct knots of the domain, at least its two ends.
std::vector<double> domain_knots(bool along_u, bs3_surface s) {
  int n = 0;
  double* k = nullptr;
  along_u ? bs3_surface_knots_u(s, n, k) : bs3_surface_knots_v(s, n, k);
  const int p = along_u ? bs3_surface_degree_u(s) : bs3_surface_degree_v(s);
  std::vector<double> out;
  for (int i = p; i < n - p; ++i)
    if (out.empty() || k[i] > out.back() + 1e-12) out.push_back(k[i]);
  delete[] k;
  return out;
}

std::vector<double> refined(const std::vector<double>& t) {
  std::vector<double> out;
  for (std::size_t i = 0; i < t.size(); ++i) {
    out.push_back(t[i]);
    if (i + 1 < t.size()) out.push_back(0.5 * (t[i] + t[i + 1]));
  }
  return out;
}

// The two values before and after the grid that the interpolation reads.
std::vector<double> padded(const std::vector<double>& t) {
  const double step = t.back() - t.front();
  std::vector<double> out{t.front() - 2 * step, t.front() - step};
  out.insert(out.end(), t.begin(), t.end());
  out.push_back(t.back() + step);
  out.push_back(t.back() + 2 * step);
  return out;
}

bs3_surface interpolate_grid(const surface& srf, const std::vector<double>& us, const std::vector<double>& vs) {
  const int nu = static_cast<int>(us.size()), nv = static_cast<int>(vs.size());
  std::vector<QELposition> pts(static_cast<std::size_t>(nu * nv));
  std::vector<QELvector> du0(nv), du1(nv), dv0(nu), dv1(nu);
  QELvector twist[4];
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      QELposition p;
      QELvector d[5];
      srf.eval_derivs(QELpar_pos(us[i], vs[j]), 2, p, d);
      pts[static_cast<std::size_t>(i * nv + j)] = p;
      if (i == 0) du0[j] = d[0];
      if (i == nu - 1) du1[j] = d[0];
      if (j == 0) dv0[i] = d[1];
      if (j == nv - 1) dv1[i] = d[1];
      const int corner = (i == 0 ? 0 : i == nu - 1 ? 1 : -1);
      const int side = (j == 0 ? 0 : j == nv - 1 ? 2 : -1);
      if (corner >= 0 && side >= 0) twist[corner + side] = d[3];
    }
  const std::vector<double> uk = padded(us), vk = padded(vs);
  return bs3_surface_interp_knots(nu, nv, pts.data(), uk.data() + 2, vk.data() + 2, du0.data(), du1.data(), dv0.data(),
                                  dv1.data(), twist);
}

double grid_error(const surface& srf, bs3_surface fit, const std::vector<double>& us, const std::vector<double>& vs) {
  double worst = 0.0;
  for (std::size_t i = 0; i + 1 < us.size(); ++i)
    for (std::size_t j = 0; j + 1 < vs.size(); ++j)
      for (double a : {0.5, 1.0 / 3.0})
        for (double b : {0.5, 2.0 / 3.0}) {
          const QELpar_pos uv(us[i] + a * (us[i + 1] - us[i]), vs[j] + b * (vs[j + 1] - vs[j]));
          QELposition p;
          bs3_surface_eval(uv, fit, p);
          worst = std::max(worst, distance(p, srf.eval_position(uv)));
        }
  return worst;
}

}  // namespace

outcome api_spline_resurface(FACE*& new_face, FACE* face, resurface_options*) {
  new_face = nullptr;
  return velm_api("api_spline_resurface", [&] {
    if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
    SURFACE* s = face->geometry();
    if (!s || !s->has_equation() || s->equation().type() != 10) velm_api_error_throw(VELM_WRONG_TYPE);
    const spline& old = static_cast<const spline&>(s->equation());
    bs3_surface b = old.sur();
    if (!b) velm_api_error_throw(VELM_WRONG_TYPE);
    std::vector<double> us = domain_knots(true, b), vs = domain_knots(false, b);
    bs3_surface fit = nullptr;
    for (int round = 0; round <= kMaxRefinements; ++round) {
      fit = interpolate_grid(old, us, vs);
      if (fit && grid_error(old, fit, us, vs) <= QELresabs) break;
      bs3_surface_delete(fit);
      us = refined(us);
      vs = refined(vs);
    }
    if (!fit) velm_api_error_throw(VELM_NO_CONVERGENCE);
    set_poles(fit, QELresabs);
    spline fresh(fit);
    bs3_surface_delete(fit);
    if (old.reverse_v) fresh.negate();
    face->set_geometry(make_surface(fresh), 1);
    sg_rm_pcurves_from_entity(face);
    sg_add_pcurves_to_entity(face);
    new_face = face;
  });
}
