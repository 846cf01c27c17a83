// Signed face areas and the singular points of surfaces.
//
// The area of a face is the integral of |Su x Sv| over its region in
// parameter space, turned into a boundary integral (Green): with
// F(u, v) = integral of the Jacobian from u0 to u, the area is the loop
// integral of F dv over the face's loops (G dv-wise for faces whose loops wind
// round u). The loops are the face's parameter polygons, taken at two sample
// densities; the coarse samples are among the fine ones, so the polygon error
// falls as the square of the spacing and one Richardson step removes it. The
// difference of the two estimates is the achieved accuracy; densities double
// until it meets the request. u0 is free for loops that close or pair up round
// the axis; a single loop round the axis bounds its region at a singular end
// (pole or apex), which then is u0.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

#include "bspline_data.hxx"
#include "query_internal.hxx"
#include "velm/api.hxx"

namespace {
using namespace velm_query;

// Gauss-Legendre on [0, 1].
constexpr std::array<double, 8> gl_x = {0.019855071751231856, 0.10166676129318664, 0.2372337950418355,
                                        0.4082826787521751,   0.5917173212478249,  0.7627662049581645,
                                        0.8983332387068134,   0.9801449282487681};
constexpr std::array<double, 8> gl_w = {0.05061426814518813, 0.11119051722668724, 0.15685332293894363,
                                        0.18134189168918100, 0.18134189168918100, 0.15685332293894363,
                                        0.11119051722668724, 0.05061426814518813};

// What is integrated over a face's region: the area element |Su x Sv|, or
// the flux element P . (Su x Sv) / 3 whose sum over a closed body's faces is
// its volume.
enum class integrand { area, flux };

// The flux element is taken about `origin`: a closed body's total does not
// depend on it, but each face's term is smallest about a point near the body.
double element(const surface& s, double u, double v, integrand kind, const QELposition& origin) {
  QELposition p;
  QELvector d[5];
  s.eval_derivs(QELpar_pos(u, v), 1, p, d);
  const QELvector n = d[0] * d[1];
  if (kind == integrand::area) return n.len();
  return (QELvector(p.x() - origin.x(), p.y() - origin.y(), p.z() - origin.z()) % n) / 3.0;
}

// The element integrated along one parameter line, over [a, b] of the other
// parameter; `along_u` integrates over u at fixed v.
class line_integral {
 public:
  line_integral(const surface& s, bool along_u, double piece, integrand kind = integrand::area,
                const QELposition& origin = QELposition(0, 0, 0))
      : s_(s), along_u_(along_u), piece_(piece > 0.0 ? piece : 1.0), flat_(s.type() == 1),
        kind_(kind), origin_(origin) {
    // A B-spline is smooth between its knots: one Gauss rule per knot span.
    if (s.type() == 10)
      if (const bs3_surface b = static_cast<const spline&>(s).sur()) {
        const std::vector<double>& k = (along_u ? b->u : b->v).knots;
        for (double t : k)
          if (knots_.empty() || t > knots_.back()) knots_.push_back(t);
      }
  }

  double operator()(double a, double b, double fixed) const {
    if (a == b) return 0.0;
    // On a plane the area element is constant and the flux element affine
    // along a parameter line: the middle gives the integral exactly.
    if (flat_) return (b - a) * at(0.5 * (a + b), fixed);
    if (kind_ == integrand::area)
      if (const std::optional<double> exact = revolved(a, b, fixed)) return *exact;
    // Along a cone's generator the flux element is affine: P - apex lies in
    // the surface, so only the apex's offset from the origin counts, against
    // a normal that grows with the distance from the apex (on a cylinder the
    // element is constant). The middle gives the integral exactly.
    if (kind_ == integrand::flux && along_u_ && s_.type() == 2) return (b - a) * at(0.5 * (a + b), fixed);
    if (!knots_.empty()) return by_spans(a, b, fixed);
    const int pieces = std::clamp(int(std::ceil(std::abs(b - a) / piece_)), 1, 64);
    const double h = (b - a) / pieces;
    double sum = 0.0;
    for (int k = 0; k < pieces; ++k)
      for (std::size_t i = 0; i < gl_x.size(); ++i) sum += gl_w[i] * at(a + (k + gl_x[i]) * h, fixed);
    return sum * h;
  }

 private:
  // The area element of a circular cone, a sphere or a torus does not
  // change round the axis (v), and along u it has a closed integral: |g| with
  // g affine on a cone (its kink at the apex), rho^2 cos u on a sphere,
  // rho |R + rho cos u| on a torus. Nothing for the other surfaces and the
  // cases the forms do not cover (an elliptic cone, a spindle torus, a
  // latitude past a pole).
  std::optional<double> revolved(double a, double b, double fixed) const {
    const int type = s_.type();
    if (type == 2 && static_cast<const cone&>(s_).base.radius_ratio != 1.0) return std::nullopt;
    if (type < 2 || type > 4) return std::nullopt;
    if (!along_u_) return (b - a) * at(0.5 * (a + b), fixed);
    if (type == 2) {
      const cone& c = static_cast<const cone&>(s_);
      if (c.is_cylinder()) return (b - a) * at(0.5 * (a + b), fixed);
      const double apex = c.apex_u();
      if ((a - apex) * (b - apex) >= 0.0) return (b - a) * at(0.5 * (a + b), fixed);
      // Through the apex: two triangles.
      return 0.5 * ((apex - a) * at(a, fixed) + (b - apex) * at(b, fixed));
    }
    if (type == 3) {
      if (std::max(std::abs(a), std::abs(b)) > 0.5 * std::numbers::pi + 1e-9) return std::nullopt;
      const double rho = static_cast<const sphere&>(s_).radius;
      return rho * rho * (std::sin(b) - std::sin(a));
    }
    const torus& t = static_cast<const torus&>(s_);
    const double rho = std::abs(t.minor_radius), big = t.major_radius;
    if (std::abs(big) < rho) return std::nullopt;
    return (big < 0.0 ? -rho : rho) * (big * (b - a) + rho * (std::sin(b) - std::sin(a)));
  }
  double rule(double a, double b, double fixed) const {
    double sum = 0.0;
    for (std::size_t i = 0; i < gl_x.size(); ++i) sum += gl_w[i] * at(a + gl_x[i] * (b - a), fixed);
    return sum * (b - a);
  }
  double by_spans(double a, double b, double fixed) const {
    const double lo = std::min(a, b), hi = std::max(a, b);
    double sum = 0.0, from = lo;
    for (auto it = std::upper_bound(knots_.begin(), knots_.end(), lo); it != knots_.end() && *it < hi; ++it) {
      sum += rule(from, *it, fixed);
      from = *it;
    }
    sum += rule(from, hi, fixed);
    return a <= b ? sum : -sum;
  }
  double at(double t, double fixed) const {
    return along_u_ ? element(s_, t, fixed, kind_, origin_) : element(s_, fixed, t, kind_, origin_);
  }
  const surface& s_;
  bool along_u_;
  double piece_;
  bool flat_;
  integrand kind_;
  QELposition origin_;
  std::vector<double> knots_;  // distinct knots of a spline in the integrated direction
};

// The parameters of the singular ends of one direction: collapsed ends of
// the range, and a cone's apex inside it.
std::vector<double> singular_params(const surface& s, bool along_u) {
  std::vector<double> out;
  const QELinterval r = along_u ? s.param_range_u() : s.param_range_v();
  auto singular = [&](double t) { return along_u ? s.singular_u(t) : s.singular_v(t); };
  if (r.bounded_below() && singular(r.start_pt())) out.push_back(r.start_pt());
  if (r.bounded_above() && singular(r.end_pt())) out.push_back(r.end_pt());
  if (along_u && s.type() == 2) {
    const cone& c = static_cast<const cone&>(s);
    if (!c.is_cylinder()) {
      const double a = c.apex_u();
      const bool in = (!r.bounded_below() || a >= r.start_pt()) && (!r.bounded_above() || a <= r.end_pt());
      if (in && std::none_of(out.begin(), out.end(), [&](double t) { return std::abs(t - a) < 1e-12; }))
        out.push_back(a);
    }
  }
  return out;
}

// The loop integral of F dv (or -G du) over the frame's loops, from a base
// parameter `base` of the inner integral.
double boundary_integral(const face_frame& fr, bool inner_u, double base, double piece,
                         integrand kind = integrand::area, const QELposition& origin = QELposition(0, 0, 0)) {
  line_integral inner(*fr.srf, inner_u, piece, kind, origin);
  double total = 0.0;
  for (const par_loop& pl : fr.loops) {
    const long n = static_cast<long>(pl.pts.size());
    if (n < 2 && pl.shift.du == 0.0 && pl.shift.dv == 0.0) continue;
    for (long k = 0; k < n; ++k) {
      const QELpar_pos a = pl.at(k), b = pl.at(k + 1);
      // The outer differential runs in the other direction.
      const double d_outer = inner_u ? b.v - a.v : b.u - a.u;
      if (d_outer == 0.0) continue;
      double seg = 0.0;
      for (std::size_t i = 0; i < 4; ++i) {
        static constexpr double x4[4] = {0.06943184420297371, 0.33000947820757187, 0.6699905217924281,
                                         0.9305681557970262};
        static constexpr double w4[4] = {0.17392742256872692, 0.3260725774312731, 0.3260725774312731,
                                         0.17392742256872692};
        const QELpar_pos q(a.u + x4[i] * (b.u - a.u), a.v + x4[i] * (b.v - a.v));
        seg += w4[i] * (inner_u ? inner(base, q.u, q.v) : inner(base, q.v, q.u));
      }
      total += (inner_u ? 1.0 : -1.0) * seg * d_outer;
    }
  }
  return fr.orient * total;
}

// The area of the surface over a finite parameter box.
double whole_area(const surface& s, const QELinterval& u, const QELinterval& v, integrand kind = integrand::area,
                  const QELposition& origin = QELposition(0, 0, 0)) {
  line_integral inner(s, true, u.length() / 8.0, kind, origin);
  const int pieces = 16;
  double sum = 0.0;
  for (int k = 0; k < pieces; ++k)
    for (std::size_t i = 0; i < gl_x.size(); ++i)
      sum += gl_w[i] * inner(u.start_pt(), u.end_pt(), v.start_pt() + (k + gl_x[i]) * v.length() / pieces);
  return sum * v.length() / pieces;
}

// The face's signed area from its loops at one sample density, and (when
// asked) the outward flux of P / 3 through it over the same region.
struct face_integrals {
  double area = 0.0;
  double flux = 0.0;
};

face_integrals integrals_at(const FACE* face, int density, bool with_flux,
                            const QELposition& origin = QELposition(0, 0, 0)) {
  const face_frame fr = face_polygons(face, nullptr, density);
  const surface& s = *fr.srf;
  int turns_u = 0, turns_v = 0;
  bool any_u = false, any_v = false;
  for (const par_loop& pl : fr.loops) {
    turns_u += pl.turns_u, turns_v += pl.turns_v;
    any_u = any_u || pl.turns_u != 0;
    any_v = any_v || pl.turns_v != 0;
  }
  // The region's integral of the flux element is the area formula's with
  // that element; orient (the face's sense on its surface) makes it outward.
  face_integrals out;
  const QELpar_box box = frame_par_box(fr);
  if (fr.loops.empty()) {
    // The whole surface, when it is bounded.
    if (!box.u_range().finite() || !box.v_range().finite()) velm_api_error_throw(VELM_BAD_ARGUMENT);
    out.area = whole_area(s, box.u_range(), box.v_range());
    if (with_flux) out.flux = fr.orient * whole_area(s, box.u_range(), box.v_range(), integrand::flux, origin);
    return out;
  }
  // Loops round both directions at once (a torus cut diagonally) are not handled.
  if (any_u && any_v) velm_api_error_throw(VELM_BAD_ARGUMENT);
  const bool inner_u = !any_u;  // integrate across the direction the loops do not wind round
  const QELinterval r = inner_u ? box.u_range() : box.v_range();
  const double piece = r.finite() ? std::max(r.length() / 8.0, 1e-12) : 1.0;
  const int net = inner_u ? turns_v : turns_u;
  if (net == 0) {
    const double base = r.finite() ? r.start_pt() : 0.0;
    const double a = boundary_integral(fr, inner_u, base, piece);
    out.area = a;
    if (with_flux) out.flux = fr.orient * boundary_integral(fr, inner_u, base, piece, integrand::flux, origin);
    // Loops round a periodic axis that are also apart along a periodic
    // direction bound two regions: the face is the one on their material side,
    // the long way round when the short one comes out negative.
    if (a < 0.0 && !(any_u || any_v) && surface_boundless(s)) {
      // Holes alone on a closed surface (a sphere or torus less its holes, the
      // loops its seams made cancelled out): the face is the rest of it.
      const QELpar_box all = s.param_range();
      out.area = a + whole_area(s, all.u_range(), all.v_range());
      if (with_flux) out.flux += fr.orient * whole_area(s, all.u_range(), all.v_range(), integrand::flux);
      return out;
    }
    const double across = inner_u ? fr.period_u : fr.period_v;
    if (a >= 0.0 || !(any_u || any_v) || across <= 0.0) return out;
    const QELinterval round = inner_u ? box.v_range() : box.u_range();
    const QELinterval wrap(base, base + across);
    auto whole = [&](integrand kind) {
      return inner_u ? whole_area(s, wrap, round, kind, origin) : whole_area(s, round, wrap, kind, origin);
    };
    out.area = a + whole(integrand::area);
    if (with_flux) out.flux += fr.orient * whole(integrand::flux);
    return out;
  }
  // One loop round the axis: the region ends at a singular end; the material
  // side of the loop says which.
  const std::vector<double> ends = singular_params(s, inner_u);
  bool found = false;
  for (double base : ends) {
    const double a = boundary_integral(fr, inner_u, base, piece);
    if (a > 0.0 && (!found || a < out.area)) {
      out.area = a, found = true;
      if (with_flux) out.flux = fr.orient * boundary_integral(fr, inner_u, base, piece, integrand::flux, origin);
    }
  }
  if (!found) velm_api_error_throw(VELM_BAD_ARGUMENT);  // unbounded region
  return out;
}

double area_at(const FACE* face, int density) { return integrals_at(face, density, false).area; }

// A plane face bounded by straight edges alone (no pcurves): its polygon at
// the first density is its boundary, and on a plane both elements integrate
// exactly over it, so no density refines the figures and no error is left.
bool polygon_exact(const FACE* face) {
  const surface* s = face_surface(face);
  if (!s || s->type() != 1 || !face->loop()) return false;
  for (const LOOP* l : chain(face->loop()))
    for (const COEDGE* c : loop_coedges(l)) {
      const EDGE* e = c->edge();
      if (c->geometry() || !e || !e->geometry() || !e->geometry()->has_equation() || e->geometry()->type() != 1)
        return false;
    }
  return true;
}

// The path the samples of a coedge without a pcurve follow: its edge's
// curve from s0 to s1 (the coedge's range, negated where it runs against
// the edge). False where the samples take another (a pcurve, no curve, no
// range).
struct coedge_path {
  const curve* eq = nullptr;
  double s0 = 0.0, s1 = 0.0;
};

bool path_of(const COEDGE* c, coedge_path& out) {
  const EDGE* e = c->edge();
  const CURVE* cu = e ? e->geometry() : nullptr;
  if (c->geometry() || !cu || !cu->has_equation()) return false;
  QELinterval r;
  try {
    r = c->param_range();
  } catch (const velm_exception&) {
    return false;
  }
  if (!r.finite() || r.empty()) return false;
  const double sign = e->sense() == c->sense() ? 1.0 : -1.0;
  out.eq = &cu->equation();
  out.s0 = sign * r.start_pt();
  out.s1 = sign * r.end_pt();
  return true;
}

// The integral of (u - ref) dv along a plane's parameters of a straight
// piece, or of an ellipse arc p(s) = C + A cos s + B sin s from s0 to s1
// (a plane's parameters are affine in space, so its image is one too).
double straight_u_dv(const QELpar_pos& a, const QELpar_pos& b, double ref) {
  return (0.5 * (a.u + b.u) - ref) * (b.v - a.v);
}

double arc_u_dv(const surface& s, const curve& eq, double s0, double s1, double ref) {
  const QELposition p0 = eq.eval_position(0.0), p90 = eq.eval_position(0.5 * std::numbers::pi),
                    p180 = eq.eval_position(std::numbers::pi);
  const QELposition centre(0.5 * (p0.x() + p180.x()), 0.5 * (p0.y() + p180.y()), 0.5 * (p0.z() + p180.z()));
  QELpar_pos c, a, b;
  s.exact_param(centre, c);
  s.exact_param(p0, a);
  s.exact_param(p90, b);
  const double u0 = c.u - ref, ua = a.u - c.u, ub = b.u - c.u, va = a.v - c.v, vb = b.v - c.v;
  // (u0 + ua cos + ub sin)(-va sin + vb cos), integrated.
  const auto primitive = [&](double t) {
    const double sn = std::sin(t), cs = std::cos(t), s2 = std::sin(2.0 * t);
    return u0 * (va * cs + vb * sn) + ua * vb * (0.5 * t + 0.25 * s2) - ub * va * (0.5 * t - 0.25 * s2) +
           0.5 * (ub * vb - ua * va) * sn * sn;
  };
  return primitive(s1) - primitive(s0);
}

// A plane face bounded by straight edges and ellipse arcs without pcurves:
// its area in closed form, the limit of its sampled polygons (the element
// is constant, and the region's integral that of u dv round its loops, the
// straight pieces closing gaps between coedges included as the samples
// have them).
std::optional<double> plane_area(const FACE* face, const surface& s) {
  double sum = 0.0, ref = 0.0;
  bool have_ref = false;
  for (const LOOP* l : chain(face->loop())) {
    const std::vector<COEDGE*> coedges = loop_coedges(l);
    QELpar_pos first, last;
    bool started = false;
    for (const COEDGE* c : coedges) {
      coedge_path path;
      if (!path_of(c, path) || (path.eq->type() != 1 && path.eq->type() != 2)) return std::nullopt;
      QELpar_pos a, b;
      s.exact_param(path.eq->eval_position(path.s0), a);
      s.exact_param(path.eq->eval_position(path.s1), b);
      if (!have_ref) ref = a.u, have_ref = true;
      if (started) sum += straight_u_dv(last, a, ref);
      else first = a, started = true;
      sum += path.eq->type() == 1 ? straight_u_dv(a, b, ref) : arc_u_dv(s, *path.eq, path.s0, path.s1, ref);
      last = b;
    }
    if (started) sum += straight_u_dv(last, first, ref);
  }
  if (!have_ref) return std::nullopt;
  const double orient = (s.left_handed_uv() ? -1.0 : 1.0) * (face->sense() == REVERSED ? -1.0 : 1.0);
  return orient * element(s, 0.0, 0.0, integrand::area, QELposition(0, 0, 0)) * sum;
}

// Whether the path lies on a parameter line of a surface turned about the
// axis through o along `axis` (a circular cone or cylinder, a ring torus),
// wherever it lies off the surface (the surface's closed-form parameters are
// the same all round the axis): a circle about the axis (the parameter
// along the axis fixed), or a straight piece or an ellipse in a half-plane
// through the axis, clear of it (the angle round the axis fixed).
bool on_parameter_line(const QELposition& o, const QELvector& axis, const coedge_path& path) {
  const auto off_axis = [&](const QELposition& p) {
    const QELvector d(p.x() - o.x(), p.y() - o.y(), p.z() - o.z());
    return d - (d % axis) * axis;
  };
  constexpr double tight = 1e-12;
  if (path.eq->type() == 2) {
    const ellipse& e = static_cast<const ellipse&>(*path.eq);
    const QELvector normal = e.normal;
    const double radius = e.major_axis.len(), reach = radius * std::max(1.0, std::abs(e.radius_ratio));
    if (!(radius > 0.0)) return false;
    if (std::abs(e.radius_ratio - 1.0) <= tight && (normal * axis).len() <= tight &&
        off_axis(e.centre).len() <= tight * radius)
      return true;
    const QELvector out = off_axis(e.centre);
    const double away = out.len();
    return away > reach * (1.0 + 1e-9) && std::abs(normal % axis) <= tight && std::abs(normal % out) <= tight * away;
  }
  if (path.eq->type() != 1) return false;
  const QELvector r0 = off_axis(path.eq->eval_position(path.s0)), r1 = off_axis(path.eq->eval_position(path.s1));
  const double l0 = r0.len(), l1 = r1.len(), reach = std::max(l0, l1);
  return l0 > 1e-9 * reach && l1 > 1e-9 * reach && r0 % r1 > 0.0 && (r0 * r1).len() <= tight * l0 * l1;
}

// A face of a circular cone or a ring torus bounded by paths on its
// parameter lines: the polygon of the first density lies on the boundary,
// and the integrals along its pieces are exact (the element's closed form
// along u, the outer integral along a piece with one parameter fixed), so
// finer densities change nothing but the rounding.
bool revolved_polygon_exact(const FACE* face, const surface& s) {
  constexpr double tight_ratio = 1e-12;
  QELposition o;
  QELvector axis;
  if (s.type() == 2) {
    const cone& k = static_cast<const cone&>(s);
    // (A turned or mirrored circle's ratio may come out a rounding off 1.)
    if (std::abs(k.base.radius_ratio - 1.0) > tight_ratio) return false;
    o = k.base.centre, axis = k.base.normal;
  } else if (s.type() == 4) {
    const torus& t = static_cast<const torus&>(s);
    if (t.spindle() || !(t.major_radius > std::abs(t.minor_radius))) return false;
    o = t.centre, axis = t.normal;
  } else {
    return false;
  }
  for (const LOOP* l : chain(face->loop()))
    for (const COEDGE* c : loop_coedges(l)) {
      coedge_path path;
      if (!path_of(c, path) || !on_parameter_line(o, axis, path)) return false;
    }
  return true;
}

// The face's area where its boundary gives it without refining: a plane
// face of straight edges and ellipse arcs, a cone's or a ring torus's face
// bounded on its parameter lines. Nothing elsewhere.
std::optional<double> area_without_refining(const FACE* face) {
  const surface* s = face_surface(face);
  if (!s || !face->loop()) return std::nullopt;
  if (s->type() == 1) return plane_area(face, *s);
  if (revolved_polygon_exact(face, *s)) return area_at(face, 1);
  return std::nullopt;
}

void faces_below(const ENTITY* e, std::vector<const FACE*>& out) {
  if (!e) velm_api_error_throw(VELM_NULL_ENTITY);
  if (is_FACE(e)) {
    out.push_back(static_cast<const FACE*>(e));
  } else if (is_BODY(e)) {
    for (const FACE* f : body_faces(static_cast<const BODY*>(e))) out.push_back(f);
  } else if (is_LUMP(e)) {
    for (SHELL* s : chain(static_cast<const LUMP*>(e)->shell()))
      for (FACE* f : chain(s->face())) out.push_back(f);
  } else if (is_SHELL(e)) {
    for (FACE* f : chain(static_cast<const SHELL*>(e)->face())) out.push_back(f);
  } else {
    velm_api_error_throw(VELM_BAD_ARGUMENT);
  }
}

double body_scale(const ENTITY* e) {
  const BODY* b = owning_body(e);
  const TRANSFORM* t = b ? b->transform() : nullptr;
  return t ? t->transform().scaling() : 1.0;
}
}  // namespace

area_property ent_area_prop(const ENTITY* e, double requested_rel_accuracy) {
  velm_check_call("ent_area_prop");
  std::vector<const FACE*> faces;
  faces_below(e, faces);
  const double wanted = std::clamp(requested_rel_accuracy, 1e-9, 1.0);
  double total = 0.0, error = 0.0;
  for (const FACE* f : faces) {
    if (polygon_exact(f)) {
      total += area_at(f, 1);
      continue;
    }
    if (const std::optional<double> exact = area_without_refining(f)) {
      total += *exact;
      continue;
    }
    double coarse = area_at(f, 1), fine = area_at(f, 2), est = 0.0, err = 0.0;
    for (int density = 2;; density *= 2) {
      est = (4.0 * fine - coarse) / 3.0;
      err = std::abs(fine - coarse) / 3.0;
      if (err <= wanted * std::abs(est) || err < 1e-14 || density >= 16) break;
      coarse = fine;
      fine = area_at(f, density * 2);
    }
    total += est;
    error += err;
  }
  const double scale = body_scale(e);
  total *= scale * scale;
  return area_property(total, total != 0.0 ? error * scale * scale / std::abs(total) : 0.0);
}

outcome api_ent_area(const ENTITY* e, double requested_rel_accuracy, double& area, double& achieved_rel_accuracy) {
  return velm_api("api_ent_area", [&] {
    area_property p = ent_area_prop(e, requested_rel_accuracy);
    area = p.area();
    achieved_rel_accuracy = p.accuracy();
  });
}

outcome api_body_volume(const BODY* body, double requested_rel_accuracy, double& volume,
                        double& achieved_rel_accuracy) {
  return velm_api("api_body_volume", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    const double wanted = std::clamp(requested_rel_accuracy, 1e-9, 1.0);
    double total = 0.0, error = 0.0;
    for (const FACE* f : body_faces(body)) {
      if (polygon_exact(f)) {
        total += integrals_at(f, 1, true).flux;
        continue;
      }
      double coarse = integrals_at(f, 1, true).flux, fine = integrals_at(f, 2, true).flux, est = 0.0, err = 0.0;
      for (int density = 2;; density *= 2) {
        est = (4.0 * fine - coarse) / 3.0;
        err = std::abs(fine - coarse) / 3.0;
        if (err <= wanted * std::abs(est) || err < 1e-14 || density >= 16) break;
        coarse = fine;
        fine = integrals_at(f, density * 2, true).flux;
      }
      total += est;
      error += err;
    }
    const double scale = body_scale(body);
    volume = total * scale * scale * scale;
    achieved_rel_accuracy = total != 0.0 ? error / std::abs(total) : 0.0;
  });
}

outcome api_face_measures(const FACE* face, const QELposition& origin, double requested_rel_accuracy,
                          double reach, face_measures& out) {
  return velm_api("api_face_measures", [&] {
    if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
    const double wanted = std::clamp(requested_rel_accuracy, 1e-9, 1.0);
    face_measures m;
    if (polygon_exact(face)) {
      const face_integrals exact = integrals_at(face, 1, true, origin);
      m.area = exact.area, m.flux = exact.flux;
      out = m;
      return;
    }
    face_integrals coarse = integrals_at(face, 1, true, origin), fine = integrals_at(face, 2, true, origin);
    for (int density = 2;; density *= 2) {
      m.area = (4.0 * fine.area - coarse.area) / 3.0;
      m.area_error = std::abs(fine.area - coarse.area) / 3.0;
      m.flux = (4.0 * fine.flux - coarse.flux) / 3.0;
      m.flux_error = std::abs(fine.flux - coarse.flux) / 3.0;
      const bool area_met = m.area_error <= wanted * std::abs(m.area) || m.area_error < 1e-14;
      const double flux_scale = std::max(std::abs(m.flux), reach * std::abs(m.area) / 3.0);
      const bool flux_met = m.flux_error <= wanted * flux_scale || m.flux_error < 1e-14;
      if ((area_met && flux_met) || density >= 16) break;
      coarse = fine;
      fine = integrals_at(face, density * 2, true, origin);
    }
    out = m;
  });
}

int sg_surface_get_poles(const surface& s, QELposition poles[2]) {
  velm_check_call("sg_surface_get_poles");
  int n = 0;
  auto add = [&](const QELposition& p) {
    for (int k = 0; k < n; ++k)
      if (distance(poles[k], p) <= QELresabs) return;
    if (n < 2) poles[n++] = p;
  };
  const QELinterval ru = s.param_range_u(), rv = s.param_range_v();
  auto mid = [](const QELinterval& r) { return r.finite() ? r.mid_pt() : 0.0; };
  for (double u : singular_params(s, true)) add(s.eval_position(QELpar_pos(u, mid(rv))));
  for (double v : singular_params(s, false)) add(s.eval_position(QELpar_pos(mid(ru), v)));
  return n;
}
