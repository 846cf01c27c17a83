// Splitting a face of one loop along an iso-line crossing it twice.
//
// The crossings are found on the coedges' pcurves (sampled, then bisected),
// so every coedge needs a pcurve. A crossing at a vertex or more than two
// crossings are refused rather than guessed at; a line touching the boundary
// does not cross it. A line across a seam crosses the seam's two coedges at
// one point: the cut then runs from that vertex round to itself.
#include <algorithm>
#include <cmath>
#include <vector>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/iso_lines.hxx"
#include "velm/split.hxx"

using namespace velm_query;

namespace {

struct crossing {
  COEDGE* coedge = nullptr;
  double s = 0.0;      // coedge parameter
  double along = 0.0;  // the other surface parameter there
  VERTEX* vertex = nullptr;
};

double coordinate(const QELpar_pos& uv, bool u) { return u ? uv.u : uv.v; }

std::vector<crossing> find_crossings(const std::vector<COEDGE*>& ring, bool u, double c, double tol,
                                     QELbox& region) {
  std::vector<crossing> out;
  constexpr int samples = 64;
  for (COEDGE* co : ring) {
    const PCURVE* pc = co->geometry();
    if (!pc || !pc->has_equation()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    const pcurve& p = pc->def();
    const QELinterval r = co->param_range();
    if (!r.finite() || r.empty()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    auto f = [&](double s) { return coordinate(p.eval_position(s), u) - c; };
    // A vertex on the line (each coedge's end is the next one's start).
    if (std::fabs(f(r.end_pt())) <= tol) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    double s0 = r.start_pt(), f0 = f(s0);
    for (int k = 1; k <= samples; ++k) {
      region |= p.surface().eval_position(p.eval_position(s0));
      const double s1 = r.interpolate(double(k) / samples), f1 = f(s1);
      if (std::fabs(f1) <= tol && k < samples) {
        // On the line at a sample: a crossing only when the sides differ (not a touch).
        if ((f0 < 0.0) != (f(r.interpolate(double(k + 1) / samples)) < 0.0))
          out.push_back({co, s1, coordinate(p.eval_position(s1), !u)});
      } else if ((f0 < 0.0) != (f1 < 0.0) && std::fabs(f0) > tol) {
        double a = s0, b = s1, fa = f0;
        for (int it = 0; it < 200 && b - a > 1e-14 * std::max(1.0, r.length()); ++it) {
          const double m = 0.5 * (a + b), fm = f(m);
          if ((fm < 0.0) == (fa < 0.0)) {
            a = m;
            fa = fm;
          } else {
            b = m;
          }
        }
        const double s = 0.5 * (a + b);
        out.push_back({co, s, coordinate(p.eval_position(s), !u)});
      }
      s0 = s1;
      f0 = f1;
    }
  }
  return out;
}

// Splits the crossed edge; the crossing's vertex ends one coedge of the ring.
void split_crossing(crossing& x, const std::vector<crossing>& done) {
  EDGE* edge = x.coedge->edge();
  const double t = x.coedge->sense() == FORWARD ? x.s : -x.s;  // edge parameter
  // Across a seam the line crosses both coedges of the seam edge at one
  // point: the vertex made for the first crossing serves the second.
  for (const crossing& d : done) {
    if (d.vertex && d.coedge != x.coedge && d.coedge->edge() == edge && edge->geometry() &&
        distance(edge->geometry()->equation().eval_position(edge->sense() == REVERSED ? -t : t),
                 d.vertex->geometry()->coords()) <= QELresabs) {
      x.vertex = d.vertex;
      return;
    }
  }
  // An edge crossed twice was split once already: take the piece holding t.
  for (const crossing& d : done) {
    if (d.coedge->edge() != edge) continue;
    const QELinterval r = edge->param_range();
    if (!(t > r.start_pt() && t < r.end_pt())) {
      for (COEDGE* c : loop_coedges(x.coedge->loop()))
        if (c->edge() != edge && c->edge()->geometry() == edge->geometry() && c->edge()->param_range().start_pt() < t && t < c->edge()->param_range().end_pt()) {
          edge = c->edge();
          break;
        }
    }
  }
  const curve& eq = edge->geometry()->equation();
  const double on_curve = edge->sense() == REVERSED ? -t : t;
  x.vertex = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(eq.eval_position(on_curve)))));
  sg_split_edge_at_vertex(edge, x.vertex, on_curve);
}

COEDGE* ending_at(const std::vector<COEDGE*>& ring, const VERTEX* v) {
  for (COEDGE* c : ring)
    if (c->end() == v) return c;
  velm_api_error_throw(VELM_NOT_IMPLEMENTED);
}

// The coedge on the crossing's side of the ring that ends at its vertex: the
// crossed coedge itself when it runs with its edge, else the piece the split
// put before it. Two coedges end at a vertex shared across a seam.
COEDGE* ending_at(const std::vector<COEDGE*>& ring, const crossing& x, bool shared) {
  if (!shared) return ending_at(ring, x.vertex);
  if (x.coedge->end() == x.vertex) return x.coedge;
  if (x.coedge->previous() && x.coedge->previous()->end() == x.vertex) return x.coedge->previous();
  velm_api_error_throw(VELM_NOT_IMPLEMENTED);
}

void split_face(FACE* face, bool u, bool fraction, double parameter) {
  if (!face || face->is_lost()) velm_api_error_throw(VELM_NULL_ENTITY);
  const surface* srf = face_surface(face);
  LOOP* loop = face->loop();
  if (!srf || !loop || loop->next() || !face->shell()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  double c = parameter;
  if (fraction) {
    QELpar_box box;
    if (!sg_get_face_par_box(face, box)) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    c = (u ? box.u_range() : box.v_range()).interpolate(parameter);
  }
  const double tol = 1e-9 * std::max(1.0, std::fabs(c));
  QELbox region;
  std::vector<crossing> xs = find_crossings(loop_coedges(loop), u, c, tol, region);
  if (xs.empty()) return;
  if (xs.size() != 2) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  // The iso-line between the crossings, before any topology changes.
  ss_curve_record* iso = u ? sg_surface_v_param_line(*srf, c, region) : sg_surface_u_param_line(*srf, c, region);
  if (!iso || !iso->cur) {
    sg_delete_ss_list(iso);
    velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  }
  CURVE* line = nullptr;
  try {
    line = make_curve(*iso->cur);
  } catch (...) {
    sg_delete_ss_list(iso);
    throw;
  }
  sg_delete_ss_list(iso);

  split_crossing(xs[0], {});
  split_crossing(xs[1], {xs[0]});
  const bool shared = xs[0].vertex == xs[1].vertex;
  // Walk the ring from the first crossing: [a_next .. b] and [b_next .. a].
  const std::vector<COEDGE*> ring = loop_coedges(loop);
  COEDGE* a = ending_at(ring, xs[0], shared);
  COEDGE* b = ending_at(ring, xs[1], shared);
  COEDGE* a_next = a->next();
  COEDGE* b_next = b->next();

  // The new edge runs up its parameter from the crossing lower on the line.
  bool a_first = xs[0].along < xs[1].along;
  QELinterval range(std::min(xs[0].along, xs[1].along), std::max(xs[0].along, xs[1].along));
  if (shared) {
    // From the one vertex round the whole period and back. The kept side,
    // where the ring after a runs, must lie on the left of its closing coedge.
    const double period = u ? srf->param_period_v() : srf->param_period_u();
    const double across = u ? srf->param_period_u() : srf->param_period_v();
    const PCURVE* pc = a_next->geometry();
    if (!(period > 0.0) || !pc || !pc->has_equation()) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
    double side = coordinate(pc->def().eval_position(a_next->param_range().mid_pt()), u) - c;
    if (across > 0.0) side -= across * std::floor(side / across + 0.5);
    const double orient = (srf->left_handed_uv() ? -1.0 : 1.0) * (face->sense() == REVERSED ? -1.0 : 1.0);
    const bool kept_up = u ? orient * side < 0.0 : orient * side > 0.0;
    a_first = !kept_up;
    range = QELinterval(xs[0].along, xs[0].along + period);
  }
  const crossing& lo = a_first ? xs[0] : xs[1];
  const crossing& hi = a_first ? xs[1] : xs[0];
  EDGE* cut = velm_require(VELM_NEW EDGE(lo.vertex, hi.vertex, line, FORWARD, EDGE_cvty_unknown, &range));
  auto iso_pcurve = [&](sense_type sense) {
    const QELpar_pos p0 = u ? QELpar_pos(c, range.start_pt()) : QELpar_pos(range.start_pt(), c);
    const QELpar_pos p1 = u ? QELpar_pos(c, range.end_pt()) : QELpar_pos(range.end_pt(), c);
    const QELposition pts[2] = {QELposition(p0.u, p0.v, 0.0), QELposition(p1.u, p1.v, 0.0)};
    const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
    pcurve p(velm_require(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, QELresnor)), 0.0,
             *srf);
    if (sense == REVERSED) p.negate();
    return velm_require(VELM_NEW PCURVE(p));
  };
  // The kept side closes from b's vertex back to a's, the new side the other way.
  const sense_type kept_sense = a_first ? REVERSED : FORWARD;
  const sense_type new_sense = a_first ? FORWARD : REVERSED;
  auto* kept_close = velm_require(VELM_NEW COEDGE(cut, kept_sense));
  auto* new_close = velm_require(VELM_NEW COEDGE(cut, new_sense));
  kept_close->set_geometry(iso_pcurve(kept_sense));
  new_close->set_geometry(iso_pcurve(new_sense));
  kept_close->set_partner(new_close);
  new_close->set_partner(kept_close);
  cut->set_coedge(kept_close);

  b->set_next(kept_close);
  kept_close->set_previous(b);
  kept_close->set_next(a_next);
  a_next->set_previous(kept_close);
  kept_close->set_owner(loop);
  loop->set_start(kept_close);

  a->set_next(new_close);
  new_close->set_previous(a);
  new_close->set_next(b_next);
  b_next->set_previous(new_close);
  auto* other_loop = velm_require(VELM_NEW LOOP(new_close));
  auto* other = velm_require(VELM_NEW FACE(other_loop, face->next(), face->geometry(), face->sense()));
  other->set_sides(face->sides());
  other->set_shell(face->shell());
  face->set_next(other);
  face->set_bound(nullptr);
  split_attrib(face, other);
}

}  // namespace

outcome api_split_face(FACE* face, bool u_direction, bool fraction, double parameter) {
  return velm_api("api_split_face", [&] { split_face(face, u_direction, fraction, parameter); });
}
