// The parameter form of the face split, and the seam ("propagation") edge of
// a periodic face bounded by two separation loops.
//
// The crossings of the iso-line with the loops are found on the edge curves
// (samples projected onto the surface, the periodic coordinate unwrapped, then
// bisection), so the seam needs no pcurves. The seam's coedges get straight
// pcurves only when every other coedge of the face has one, placed so that
// each continues the pcurve before it.
#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/bspline.hxx"
#include "velm/split.hxx"
#include "velm/topology_edit.hxx"

using namespace velm_query;

namespace {

struct seam_hit {
  VERTEX* vertex = nullptr;  // an existing vertex on the line, else made by the split
  EDGE* edge = nullptr;      // the edge to split, when no vertex is hit
  double curve_param = 0.0;  // on the edge's curve
  QELposition point;
  double along = 0.0;  // the line's own parameter there
};

// Signed distance of the coordinate w from c, reduced to half a period.
double wrapped(double w, double c, double period) {
  double d = w - c;
  if (period > 0.0) d -= period * std::floor(d / period + 0.5);
  return d;
}

// The one place where the loop crosses the line (coordinate u, or v, = c).
seam_hit find_seam_hit(const LOOP* loop, const surface& srf, bool u, double c, double period) {
  constexpr int samples = 64;
  const double jump_limit = period > 0.0 ? 0.25 * period : DBL_MAX;
  std::vector<seam_hit> hits;
  QELpar_pos guess;
  bool have_guess = false;
  auto coordinate_at = [&](const curve& eq, double t, QELpar_pos& uv) {
    uv = srf.param(eq.eval_position(t), have_guess ? &guess : nullptr);
    guess = uv;
    have_guess = true;
    return wrapped(u ? uv.u : uv.v, c, period);
  };
  for (COEDGE* co : loop_coedges(loop)) {
    EDGE* e = co->edge();
    if (!e || !e->geometry() || !e->geometry()->has_equation()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    const curve& eq = e->geometry()->equation();
    const QELinterval r = e->param_range();
    if (!r.finite() || r.empty()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    // Coedge parameter s runs with the coedge; the curve parameter follows edge and coedge senses.
    const double sign_edge = e->sense() == FORWARD ? 1.0 : -1.0;
    const bool with_edge = co->sense() == FORWARD;
    auto curve_t = [&](double f) { return sign_edge * r.interpolate(with_edge ? f : 1.0 - f); };
    QELpar_pos uv;
    double d0 = coordinate_at(eq, curve_t(0.0), uv);
    for (int k = 1; k <= samples; ++k) {
      double f0 = double(k - 1) / samples, f1 = double(k) / samples;
      const double d1 = coordinate_at(eq, curve_t(f1), uv);
      // A sign change that is no wrap round the period.
      const bool crosses = (d0 < 0.0) != (d1 < 0.0) && std::fabs(d1 - d0) < jump_limit;
      if (crosses) {
        double da = d0;
        QELpar_pos g = uv;
        for (int it = 0; it < 100 && f1 - f0 > 1e-15; ++it) {
          const double fm = 0.5 * (f0 + f1);
          const double dm = wrapped(u ? srf.param(eq.eval_position(curve_t(fm)), &g).u
                                      : srf.param(eq.eval_position(curve_t(fm)), &g).v,
                                    c, period);
          if ((dm < 0.0) == (da < 0.0)) {
            f0 = fm;
            da = dm;
          } else {
            f1 = fm;
          }
        }
        seam_hit h;
        h.edge = e;
        h.curve_param = curve_t(0.5 * (f0 + f1));
        h.point = eq.eval_position(h.curve_param);
        const QELpar_pos at = srf.param(h.point, &g);
        h.along = u ? at.v : at.u;
        // At a vertex: that vertex, once (each vertex ends one coedge and starts the next).
        for (VERTEX* v : {co->start(), co->end()})
          if (v && v->geometry() && same_point(v->geometry()->coords(), h.point)) h.vertex = v;
        bool repeated = false;
        for (const seam_hit& o : hits) repeated = repeated || (h.vertex && o.vertex == h.vertex);
        if (!repeated) hits.push_back(h);
      }
      d0 = d1;
    }
  }
  if (hits.size() != 1) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  return hits.front();
}

COEDGE* coedge_ending_at(const LOOP* loop, const VERTEX* v) {
  for (COEDGE* c : loop_coedges(loop))
    if (c->end() == v) return c;
  velm_api_error_throw(VELM_NOT_IMPLEMENTED);
}

// The pcurve's end point of a coedge (coedge parameter at its range's end).
bool pcurve_end(const COEDGE* co, QELpar_pos& uv) {
  const PCURVE* pc = co->geometry();
  if (!pc || !pc->has_equation()) return false;
  uv = pc->def().eval_position(co->param_range().end_pt());
  return true;
}

PCURVE* straight_pcurve(const surface& srf, const QELpar_pos& a, const QELpar_pos& b, const QELinterval& range) {
  const QELposition pts[2] = {QELposition(a.u, a.v, 0.0), QELposition(b.u, b.v, 0.0)};
  const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
  bs2_curve line = bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, QELresnor);
  if (!line) velm_api_error_throw(VELM_BAD_ARGUMENT);
  return velm_make_pcurve(line, 0.0, srf, __FILE__, __LINE__);
}

// Joins the two separation loops of the face by an edge on the iso-line.
void add_seam(FACE* face, const surface& srf, bool u, double c) {
  LOOP* first = face->loop();
  LOOP* second = first->next();
  const double period = u ? srf.param_period_u() : srf.param_period_v();
  seam_hit a = find_seam_hit(first, srf, u, c, period);
  seam_hit b = find_seam_hit(second, srf, u, c, period);
  std::unique_ptr<curve> iso(u ? srf.v_param_line(c) : srf.u_param_line(c));
  if (!iso) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  bool all_pcurves = true;
  for (LOOP* l : {first, second})
    for (COEDGE* co : loop_coedges(l)) all_pcurves = all_pcurves && co->geometry();
  for (seam_hit* h : {&a, &b}) {
    if (h->vertex) continue;
    h->vertex = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(h->point))));
    sg_split_edge_at_vertex(h->edge, h->vertex, h->curve_param);
  }
  if (a.vertex == b.vertex || std::fabs(a.along - b.along) <= QELresabs) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  COEDGE* a_in = coedge_ending_at(first, a.vertex);
  COEDGE* b_in = coedge_ending_at(second, b.vertex);
  COEDGE* a_out = a_in->next();
  COEDGE* b_out = b_in->next();
  QELpar_pos a_end, b_end;
  const bool pcurves = all_pcurves && pcurve_end(a_in, a_end) && pcurve_end(b_in, b_end);

  // The edge runs up the line's parameter. Along a periodic direction the
  // line joins the two points both ways round: the seam takes the arc whose
  // middle lies in the face.
  bool a_low = a.along < b.along;
  double lo = std::min(a.along, b.along), hi = std::max(a.along, b.along);
  const double line_period = u ? srf.param_period_v() : srf.param_period_u();
  if (line_period > 0.0) {
    const double mid = 0.5 * (lo + hi);
    const QELpar_pos inner = u ? QELpar_pos(c, mid) : QELpar_pos(mid, c);
    if (point_in_face(srf.eval_position(inner), face) != pfc_inside) {
      a_low = !a_low;
      std::swap(lo, hi);
      hi += line_period;
    }
  }
  const QELinterval range(lo, hi);
  EDGE* seam = velm_require(VELM_NEW EDGE(a_low ? a.vertex : b.vertex, a_low ? b.vertex : a.vertex,
                                          make_curve(*iso), FORWARD, EDGE_cvty_unknown, &range));
  auto* to_b = velm_require(VELM_NEW COEDGE(seam, a_low ? FORWARD : REVERSED));
  auto* to_a = velm_require(VELM_NEW COEDGE(seam, a_low ? REVERSED : FORWARD));
  to_b->set_partner(to_a);
  to_a->set_partner(to_b);
  seam->set_coedge(to_b);
  if (pcurves) {
    // Each seam coedge continues the pcurve it follows, moving along the line
    // by the seam's length in its own direction.
    const double run = (a_low ? 1.0 : -1.0) * range.length();
    auto moved = [&](const QELpar_pos& from, double d) {
      return u ? QELpar_pos(from.u, from.v + d) : QELpar_pos(from.u + d, from.v);
    };
    const QELinterval r_b = to_b->param_range(), r_a = to_a->param_range();
    to_b->set_geometry(straight_pcurve(srf, a_end, moved(a_end, run), r_b));
    to_a->set_geometry(straight_pcurve(srf, b_end, moved(b_end, -run), r_a));
  }

  // first: ... a_in -> to_b -> b_out ... b_in -> to_a -> a_out ... a_in.
  for (COEDGE* co : loop_coedges(second)) co->set_owner(first);
  a_in->set_next(to_b);
  to_b->set_previous(a_in);
  to_b->set_next(b_out);
  b_out->set_previous(to_b);
  b_in->set_next(to_a);
  to_a->set_previous(b_in);
  to_a->set_next(a_out);
  a_out->set_previous(to_a);
  to_b->set_owner(first);
  to_a->set_owner(first);
  first->set_classification(0);
  extract_loop(second);
  second->set_start(nullptr);
  second->lose();
  face->set_bound(nullptr);
}

bool separation_type(int type) { return type >= loop_type_u_sep && type <= loop_type_other_sep; }

}  // namespace

FACE* sg_split_face_at_parameter(FACE* face, int direction, double parameter) {
  velm_check_call("sg_split_face_at_parameter");
  if (!face || face->is_lost()) velm_api_error_throw(VELM_NULL_ENTITY);
  const surface* srf = face_surface(face);
  if (!srf) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  const bool u = direction != 0;
  LOOP* first = face->loop();
  const bool periodic = u ? srf->closed_u() : srf->closed_v();
  if (periodic && first && first->next() && !first->next()->next() && separation_type(get_loop_type(first)) &&
      separation_type(get_loop_type(first->next()))) {
    add_seam(face, *srf, u, parameter);
    return nullptr;
  }
  FACE* const after = face->next();
  const outcome result = api_split_face(face, u, false, parameter);
  if (!result.ok()) sys_error(result.error_number());
  return face->next() != after ? face->next() : nullptr;
}
