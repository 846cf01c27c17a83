// Extension of spline surfaces to a target box, and offsets of surfaces.
// Open CASCADE's length extension does the numerics; its length is a 3-D
// length, so the parameter length wanted is reached by enlarging it step by
// step and cutting the surface back to the target afterwards.
#include <BSplCLib.hxx>
#include <GeomLib.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Standard_Failure.hxx>
#include <TColStd_HArray1OfInteger.hxx>
#include <TColStd_HArray1OfReal.hxx>

#include <algorithm>
#include <cmath>
#include <memory>

#include "bspline_data.hxx"
#include "occ_bridge.hxx"
#include "velm/api.hxx"
#include "velm/pcurves.hxx"
#include "velm/surface_build.hxx"

namespace {

// ---- the kernel's surface arrays and Open CASCADE's ----

bs3_surface kernel_surface(const Handle(Geom_BSplineSurface)& h, bool rational) {
  auto* s = VELM_MAKE(bs3_surf_def);
  s->rational = rational || h->IsURational() || h->IsVRational();
  from_occ(h, *s);
  bs3_surface_determine_form_u(s);
  bs3_surface_determine_form_v(s);
  set_poles(s, QELresabs);
  return s;
}

// ---- extension ----

// Largest first derivative across the end, to turn a parameter length into a
// first guess of the 3-D length.
double end_speed(const Handle(Geom_BSplineSurface)& h, bool in_u, double at) {
  double u0, u1, v0, v1, speed = 0.0;
  h->Bounds(u0, u1, v0, v1);
  for (int k = 0; k <= 8; ++k) {
    const double x = in_u ? v0 + (v1 - v0) * k / 8.0 : u0 + (u1 - u0) * k / 8.0;
    gp_Pnt p;
    gp_Vec du, dv;
    h->D1(in_u ? at : x, in_u ? x : at, p, du, dv);
    speed = std::max(speed, (in_u ? du : dv).Magnitude());
  }
  return speed;
}

// Extends one end by at least `wanted` in parameter; the join parameter is
// unchanged (Open CASCADE keeps the old knots).
Handle(Geom_BSplineSurface) extend_end(const Handle(Geom_BSplineSurface)& h, bool in_u, bool after, double wanted) {
  double u0, u1, v0, v1;
  h->Bounds(u0, u1, v0, v1);
  const double end = in_u ? (after ? u1 : u0) : (after ? v1 : v0);
  double length = std::max(wanted * end_speed(h, in_u, end) * 1.2, QELresabs);
  for (int attempt = 0; attempt < 40; ++attempt) {
    Handle(Geom_BoundedSurface) b = Handle(Geom_BoundedSurface)::DownCast(h->Copy());
    GeomLib::ExtendSurfByLength(b, length, 2, in_u, after);
    Handle(Geom_BSplineSurface) e = Handle(Geom_BSplineSurface)::DownCast(b);
    if (e.IsNull()) break;
    double a0, a1, b0, b1;
    e->Bounds(a0, a1, b0, b1);
    const double reached = in_u ? (after ? a1 - u1 : u0 - a0) : (after ? b1 - v1 : v0 - b0);
    if (reached >= wanted) return e;
    length *= reached > 0.0 ? std::max(1.5, 1.2 * wanted / reached) : 4.0;
  }
  velm_api_error_throw(VELM_NO_CONVERGENCE);
}

// The order of the first derivative that jumps across the join, measured at
// samples along it (third derivatives by differences of the second); 0 when
// the surface is smooth there up to order 3.
int measured_jump(const Handle(Geom_BSplineSurface)& h, bool in_u, double at) {
  double u0, u1, v0, v1;
  h->Bounds(u0, u1, v0, v1);
  const double step = 1e-4 * (in_u ? u1 - u0 : v1 - v0);
  int lowest = 0;
  for (int k = 0; k <= 4; ++k) {
    const double x = in_u ? v0 + (v1 - v0) * k / 4.0 : u0 + (u1 - u0) * k / 4.0;
    // Derivatives 1..3 along the direction from below and above, by one-sided spans.
    double jump[4] = {0, 0, 0, 0}, scale[4] = {1, 1, 1, 1};
    gp_Vec lo[4], hi[4];
    auto derivs = [&](double t, gp_Vec out[4]) {
      gp_Pnt p;
      gp_Vec du, dv, duu, dvv, duv, d3[4];
      h->D3(in_u ? t : x, in_u ? x : t, p, du, dv, duu, dvv, duv, d3[0], d3[1], d3[2], d3[3]);
      out[1] = in_u ? du : dv;
      out[2] = in_u ? duu : dvv;
      out[3] = in_u ? d3[0] : d3[1];
    };
    // Just inside each side of the join, so that each evaluation uses its own span.
    derivs(at - step, lo);
    derivs(at + step, hi);
    for (int o = 1; o <= 3; ++o) {
      jump[o] = (hi[o] - lo[o]).Magnitude();
      scale[o] = std::max({1.0, lo[o].Magnitude(), hi[o].Magnitude()});
    }
    // Lower orders change by about step times the next order across 2 steps.
    for (int o = 1; o <= 3; ++o) {
      const double allowed = o < 3 ? 4.0 * step * std::max(lo[o + 1].Magnitude(), hi[o + 1].Magnitude()) : 0.0;
      if (jump[o] > 1e-6 * scale[o] + allowed) {
        lowest = lowest == 0 ? o : std::min(lowest, o);
        break;
      }
    }
  }
  return lowest;
}

int multiplicity_jump(const Handle(Geom_BSplineSurface)& h, bool in_u, double at) {
  const int degree = in_u ? h->UDegree() : h->VDegree();
  const int n = in_u ? h->NbUKnots() : h->NbVKnots();
  for (int i = 1; i <= n; ++i) {
    const double k = in_u ? h->UKnot(i) : h->VKnot(i);
    if (std::fabs(k - at) <= QELresnor) {
      const int order = degree - (in_u ? h->UMultiplicity(i) : h->VMultiplicity(i)) + 1;
      return order <= 3 ? order : 0;
    }
  }
  return 0;
}

// ---- offsets ----

// True when at some sample the offset folds: moving by d along the normal maps
// the tangent plane by I - d S (S the shape operator), whose eigenvalues
// 1 - d k must stay positive; with A the map in the basis (Su, Sv) that means
// det A > 0 and trace A > 0 (a sphere offset through its centre has det > 0).
bool offset_folds(const surface& base, const spline& off, const QELpar_box& box) {
  for (int i = 0; i <= 8; ++i)
    for (int j = 0; j <= 8; ++j) {
      const QELpar_pos uv(box.u_range().interpolate(i / 8.0), box.v_range().interpolate(j / 8.0));
      QELposition p;
      QELvector b[2], o[2];
      base.eval_derivs(uv, 1, p, b);
      off.eval_derivs(uv, 1, p, o);
      const double g11 = b[0] % b[0], g12 = b[0] % b[1], g22 = b[1] % b[1];
      const double det_g = g11 * g22 - g12 * g12;
      if (det_g <= QELresnor * QELresnor * (g11 + g22) * (g11 + g22)) continue;  // a pole of the base
      const double b11 = b[0] % o[0], b12 = b[0] % o[1], b21 = b[1] % o[0], b22 = b[1] % o[1];
      const double det_a = (b11 * b22 - b12 * b21) / det_g;
      const double trace_a = (g22 * b11 - g12 * b21 - g12 * b12 + g11 * b22) / det_g;
      if (det_a <= 1e-9 || trace_a <= 0.0) return true;
    }
  return false;
}

}  // namespace

void extend_surface(surface& srf, const QELpar_box& target, int check, extension_info& u_info,
                    extension_info& v_info) {
  velm_check_call("extend_surface");
  if (srf.type() != 10) velm_api_error_throw(VELM_WRONG_TYPE);
  spline& sp = static_cast<spline&>(srf);
  const bs3_surface bs = sp.sur();
  if (!bs) velm_api_error_throw(VELM_BAD_ARGUMENT);
  Handle(Geom_BSplineSurface) h;
  std::vector<double> joins[2];
  double cut[2][2];
  try {
    h = to_occ(*bs);
    for (int d = 0; d < 2; ++d) {
      const bool in_u = d == 0;
      const bs_direction& dir = in_u ? bs->u : bs->v;
      const QELinterval have = dir.range();
      const QELinterval& want = in_u ? target.u_range() : target.v_range();
      cut[d][0] = have.start_pt(), cut[d][1] = have.end_pt();
      if (dir.form == 2 || want.empty()) continue;  // any parameter lies on a periodic direction
      for (int after = 0; after < 2; ++after) {
        const bool bounded = after ? want.bounded_above() : want.bounded_below();
        const double beyond = after ? want.end_pt() - have.end_pt() : have.start_pt() - want.start_pt();
        if (bounded && beyond <= QELresabs) continue;
        if (!bounded) velm_api_error_throw(VELM_BAD_ARGUMENT);
        h = extend_end(h, in_u, after != 0, beyond);
        joins[d].push_back(after ? have.end_pt() : have.start_pt());
        cut[d][after] = after ? want.end_pt() : want.start_pt();
      }
    }
    if (joins[0].empty() && joins[1].empty()) return;
    h->Segment(cut[0][0], cut[0][1], cut[1][0], cut[1][1]);
  } catch (const Standard_Failure&) {
    velm_api_error_throw(VELM_NO_CONVERGENCE);
  }
  for (int d = 0; d < 2; ++d)
    for (double at : joins[d]) {
      const int order = check == 1 ? measured_jump(h, d == 0, at) : multiplicity_jump(h, d == 0, at);
      if (order > 0) (d == 0 ? u_info : v_info).add_discontinuity(order, at);
    }
  // The extended B-spline becomes an exact definition of its own: copies of
  // the old spline keep theirs.
  bs3_surface grown = kernel_surface(h, bs->rational);
  spline extended(VELM_MAKE(exact_spl_sur, grown));
  // A spline that becomes exact keeps its outward side (an offset's includes its base's).
  extended.reverse_v = sp.left_handed_uv() ? 1 : 0;
  const bool limited = sp.subsetted();
  const QELpar_box old_range = sp.param_range();
  sp = extended;
  if (limited) surface_limit(sp, old_range | target);
}

surface* offset_surface(const surface& base, const QELbox& base_bound, double distance, int& status, const void*,
                        const FACE*, const QELpar_box*) {
  velm_check_call("offset_surface");
  status = 0;
  const int degenerate = qelvelm_splsur_errmod.message_code(10);
  switch (base.type()) {
    case 1: {
      auto* p = static_cast<plane*>(base.make_copy());
      p->root_point = p->root_point + distance * p->normal;
      return p;
    }
    case 3:
    case 4: {
      // r + d keeps the sign of r exactly when the offset neither reaches nor
      // passes the centre (sphere) or the tube's centre circle (torus).
      const double r = base.type() == 3 ? static_cast<const sphere&>(base).radius
                                        : static_cast<const torus&>(base).minor_radius;
      const double moved = r + distance;
      if (std::fabs(moved) <= QELresabs || (moved < 0.0) != (r < 0.0)) {
        status = degenerate;
        return nullptr;
      }
      surface* s = base.make_copy();
      if (base.type() == 3) static_cast<sphere*>(s)->radius = moved;
      else static_cast<torus*>(s)->minor_radius = moved;
      return s;
    }
    case 2: {
      const cone& c = static_cast<const cone&>(base);
      if (std::fabs(c.base.radius_ratio - 1.0) > QELresnor) break;  // elliptical: not a cone any more
      // A circular cone's normal is c R^ - s Z: moving every point by d along it
      // moves the base circle by -d s Z and changes its radius by d c.
      const double alen = c.base.major_axis.len(), grown = alen + distance * c.cosine;
      if (grown <= QELresabs) {
        status = degenerate;
        return nullptr;
      }
      auto* o = static_cast<cone*>(c.make_copy());
      o->u_scale = c.sigma();  // keeps the parameters
      o->base.centre = c.base.centre - (distance * c.sine) * c.base.normal;
      o->base.major_axis = (grown / alen) * c.base.major_axis;
      return o;
    }
    default:
      break;
  }
  const QELpar_box box = base.param_range(&base_bound);
  if (box.empty() || !box.u_range().finite() || !box.v_range().finite()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  auto* off = VELM_ADOPT(spline, VELM_MAKE(off_spl_sur, base, distance, &box));
  if (offset_folds(base, *off, box)) {
    delete off;
    status = degenerate;
    return nullptr;
  }
  return off;
}
