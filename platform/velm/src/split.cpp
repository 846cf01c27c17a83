// Splitting edges at vertices and at their curves' discontinuities.
//
// The edge keeps the piece from its start to the new vertex; a new edge on
// the same curve (shared) and with the same sense takes the rest. Every
// coedge gets a partner piece on the new edge, after it in its loop or wire
// when it runs with the edge, before it when against, sharing its pcurve
// (pcurves are functions of the edge parameter, so the whole one serves both
// pieces). A tolerant coedge with a range of its own has that range split
// where its own curve (its 3-D curve, else its pcurve on its face) comes
// nearest the new vertex; the piece is tolerant too and shares both curves.
#include <algorithm>
#include <cmath>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/pcurves.hxx"
#include "velm/split.hxx"
#include "velm/topology_api.hxx"

using namespace velm_query;

namespace {

// The parameter of the curve, as an edge-direction parameter strictly inside the edge.
double inner_param(const EDGE* e, double curve_param) {
  const QELinterval r = e->param_range();
  const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
  double t = sign * curve_param;
  const CURVE* cu = e->geometry();
  if (cu && cu->has_equation()) {
    if (const double period = cu->equation().param_period(); period > 0.0) {
      t = near_period(t, r.start_pt(), period);
      while (t <= r.start_pt()) t += period;
      while (t > r.start_pt() + period) t -= period;
    }
  }
  const double margin = 1e-9 * std::max(1.0, r.length());
  if (!(t > r.start_pt() + margin && t < r.end_pt() - margin)) velm_api_error_throw(VELM_BAD_ARGUMENT);
  return t;
}

// Where in its own range the tolerant coedge's own curve comes nearest `at`:
// its 3-D curve's foot, else the nearest of 64 samples of its pcurve on its
// face's surface, refined between its neighbours. Unset (NaN) when the
// coedge has neither curve.
double own_split_param(const TCOEDGE* c, const QELinterval& own, const QELposition& at) {
  if (const CURVE* cu = c->get_3D_curve(); cu && cu->has_equation()) {
    const double guess = own.mid_pt();
    double s = cu->equation().param(at, &guess);
    if (const double period = cu->equation().param_period(); period > 0.0) {
      s = near_period(s, own.start_pt(), period);
      while (s <= own.start_pt()) s += period;
      while (s > own.start_pt() + period) s -= period;
    }
    return s;
  }
  const PCURVE* pc = c->geometry();
  const FACE* face = c->loop() ? c->loop()->face() : nullptr;
  if (!pc || !pc->has_equation() || !face || !face->geometry() || !face->geometry()->has_equation())
    return std::nan("");
  const surface& srf = face->geometry()->equation();
  const pcurve& p = pc->def();
  const auto gap = [&](double s) { return distance(srf.eval_position(p.eval_position(s)), at); };
  constexpr int n = 64;
  int best = 0;
  for (int k = 1; k <= n; ++k)
    if (gap(own.interpolate(double(k) / n)) < gap(own.interpolate(double(best) / n))) best = k;
  double lo = own.interpolate(double(std::max(best - 1, 0)) / n), hi = own.interpolate(double(std::min(best + 1, n)) / n);
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  for (int i = 0; i < 80 && hi - lo > 1e-14 * std::max(1.0, own.length()); ++i) {
    const double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    if (gap(a) < gap(b))
      hi = b;
    else
      lo = a;
  }
  return 0.5 * (lo + hi);
}

EDGE* split_at(EDGE* edge, VERTEX* v, double curve_param, ENTITY_LIST* new_coedges) {
  if (!edge || !v || edge->is_lost()) velm_api_error_throw(VELM_NULL_ENTITY);
  const std::vector<COEDGE*> ring = edge_coedges(edge);
  const double t = inner_param(edge, curve_param);
  // The tolerant coedges' own ranges, split where each comes nearest the
  // point of the split (before anything changes): the piece before that
  // point in the coedge's direction and the piece after it.
  struct own_split {
    QELinterval before, after;
  };
  std::vector<own_split> owns(ring.size());
  std::vector<char> own_range(ring.size(), 0);
  {
    const QELposition at = v->geometry() ? v->geometry()->coords() : edge->geometry()->equation().eval_position(
                                                                          (edge->sense() == REVERSED ? -1.0 : 1.0) * t);
    for (std::size_t k = 0; k < ring.size(); ++k) {
      if (!is_TCOEDGE(ring[k])) continue;
      const auto* tc = static_cast<const TCOEDGE*>(ring[k]);
      const QELinterval own = tc->param_range();
      // A range the edge's (the coedge's own unset, or set to it) splits
      // where the edge does.
      const bool edges = tc->get_3D_curve() == nullptr && own == tc->COEDGE::param_range();
      const double s = edges ? (tc->sense() == FORWARD ? t : -t) : own_split_param(tc, own, at);
      const double margin = 1e-9 * std::max(1.0, own.length());
      if (!(s > own.start_pt() + margin && s < own.end_pt() - margin)) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
      owns[k] = {QELinterval(own.start_pt(), s), QELinterval(s, own.end_pt())};
      own_range[k] = 1;
    }
  }
  const QELinterval r = edge->param_range();
  const QELinterval head(r.start_pt(), t), tail(t, r.end_pt());
  VERTEX* old_end = edge->end();
  EDGE* rest;
  if (is_TEDGE(edge)) {
    auto* te = velm_require(VELM_NEW TEDGE(v, old_end, edge->geometry(), edge->sense(), edge->get_convexity(), &tail,
                                           edge->get_tolerance()));
    te->set_update(static_cast<TEDGE*>(edge)->get_update());
    rest = te;
  } else {
    rest = velm_require(VELM_NEW EDGE(v, old_end, edge->geometry(), edge->sense(), edge->get_convexity(), &tail));
  }
  edge->set_end(v);
  edge->set_param_range(&head);
  edge->set_bound(nullptr);
  // Vertex references: the old end now meets the new edge.
  if (old_end) {
    bool referenced = false;
    for (int k = 0; k < old_end->count_edges(); ++k) referenced = referenced || old_end->edge(k) == edge;
    if (referenced && old_end != edge->start()) {
      old_end->delete_edge(edge);
      old_end->add_edge(rest);
    } else if (referenced) {
      old_end->add_edge(rest);  // a closed edge: both pieces meet there
    }
  }
  v->set_edge(edge);
  if (ring.empty()) v->add_edge(rest);  // free pieces: nothing links them round the vertex
  std::vector<COEDGE*> pieces;
  for (std::size_t k = 0; k < ring.size(); ++k) {
    COEDGE* c = ring[k];
    COEDGE* nc = is_TCOEDGE(c) ? velm_require(VELM_NEW TCOEDGE(rest, c->sense())) : velm_require(VELM_NEW COEDGE(rest, c->sense()));
    nc->set_owner(c->owner());
    if (c->geometry()) nc->set_geometry(c->geometry());
    if (is_TCOEDGE(c)) {
      auto* tc = static_cast<TCOEDGE*>(c);
      auto* tn = static_cast<TCOEDGE*>(nc);
      tn->set_3D_curve(tc->get_3D_curve());
      // A forward coedge keeps the part before the split (the edge's
      // start); a reversed one runs from the edge's end, which is the new
      // edge's, so its piece takes the part before.
      if (own_range[k]) {
        tc->set_param_range(c->sense() == FORWARD ? owns[k].before : owns[k].after);
        tn->set_param_range(c->sense() == FORWARD ? owns[k].after : owns[k].before);
      }
    }
    if (c->sense() == FORWARD) {
      COEDGE* after = c->next();
      nc->set_previous(c);
      nc->set_next(after);
      c->set_next(nc);
      if (after && after->previous() == c) after->set_previous(nc);
    } else {
      COEDGE* before = c->previous();
      nc->set_next(c);
      nc->set_previous(before);
      c->set_previous(nc);
      if (before && before->next() == c) before->set_next(nc);
    }
    pieces.push_back(nc);
    if (new_coedges) new_coedges->add(nc);
  }
  for (std::size_t k = 0; k < pieces.size(); ++k)
    pieces[k]->set_partner(pieces.size() == 1 ? nullptr : pieces[(k + 1) % pieces.size()]);
  if (!pieces.empty()) rest->set_coedge(pieces.front());
  split_attrib(edge, rest);
  return rest;
}

}  // namespace

EDGE* sg_split_edge_at_vertex(EDGE* edge, VERTEX* new_vertex, ENTITY_LIST* new_coedges, int) {
  velm_check_call("sg_split_edge_at_vertex");
  if (!edge || !new_vertex || !new_vertex->geometry()) velm_api_error_throw(VELM_NULL_ENTITY);
  const CURVE* cu = edge->geometry();
  if (!cu || !cu->has_equation()) velm_api_error_throw(VELM_NULL_ENTITY);
  double guess = 0.0;
  {
    const QELinterval r = edge->param_range();
    guess = (edge->sense() == REVERSED ? -1.0 : 1.0) * r.mid_pt();
  }
  const double t = cu->equation().param(new_vertex->geometry()->coords(), &guess);
  return split_at(edge, new_vertex, t, new_coedges);
}

EDGE* sg_split_edge_at_vertex(EDGE* edge, VERTEX* new_vertex, double param, ENTITY_LIST* new_coedges) {
  velm_check_call("sg_split_edge_at_vertex");
  return split_at(edge, new_vertex, param, new_coedges);
}

outcome api_split_edge_at_disc(EDGE* edge, ENTITY_LIST& new_edges, int continuity, const void*) {
  return velm_api("api_split_edge_at_disc", [&] {
    if (!edge) velm_api_error_throw(VELM_NULL_ENTITY);
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation()) velm_api_error_throw(VELM_NULL_ENTITY);
    const curve& eq = cu->equation();
    int n = 0;
    const double* disc = eq.discontinuities(n, std::max(1, continuity));
    // The discontinuities strictly inside the edge, in the edge's direction.
    const QELinterval r = edge->param_range();
    const double sign = edge->sense() == REVERSED ? -1.0 : 1.0;
    const double margin = 1e-9 * std::max(1.0, r.length());
    std::vector<double> at;
    for (int k = 0; k < n; ++k) {
      const double t = sign * disc[k];
      if (t > r.start_pt() + margin && t < r.end_pt() - margin) at.push_back(t);
    }
    std::sort(at.begin(), at.end());
    new_edges.add(edge);
    EDGE* piece = edge;
    for (double t : at) {
      auto* v = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(eq.eval_position(sign * t)))));
      piece = split_at(piece, v, sign * t, nullptr);
      new_edges.add(piece);
    }
  });
}

void trim_edge_geom(EDGE* edge) {
  velm_check_call("trim_edge_geom");
  if (!edge || edge->is_lost()) velm_api_error_throw(VELM_NULL_ENTITY);
  const CURVE* cu = edge->geometry();
  if (!cu || !cu->has_equation()) return;
  const curve& eq = cu->equation();
  const QELinterval er = edge->param_range();
  if (er.empty() || !er.finite()) return;
  const QELinterval range = edge->sense() == REVERSED ? -er : er;  // on the curve
  curve* trimmed = nullptr;
  if (eq.type() == 11) {
    const auto& ic = static_cast<const intcurve&>(eq);
    const QELinterval own = ic.reversed() ? -range : range;  // on the stored B-spline
    if (bs3_curve piece = ic.cur() ? bs3_curve_subset(ic.cur(), own) : nullptr) {
      const bool surfaces = ic.get_int_cur().id() == intersection_int_cur::id;
      // Each piece is freed when the next cannot be made.
      bs2_curve p1 = nullptr, p2 = nullptr;
      try {
        p1 = surfaces && ic.pcur1() ? bs2_curve_subset(ic.pcur1(), own) : nullptr;
        p2 = surfaces && ic.pcur2() ? bs2_curve_subset(ic.pcur2(), own) : nullptr;
      } catch (...) {
        bs3_curve_delete(piece);
        bs2_curve_delete(p1);
        throw;
      }
      trimmed = velm_make_intcurve(piece, ic.fitol(), surfaces ? ic.surf1() : nullptr,
                                   surfaces ? ic.surf2() : nullptr, p1, p2, __FILE__, __LINE__);
      if (ic.reversed()) trimmed->negate();
    }
  }
  if (!trimmed) {
    trimmed = velm_require(eq.make_copy());
    trimmed->limit(range);
  }
  CURVE* own_curve = nullptr;
  try {
    own_curve = make_curve(*trimmed);
  } catch (...) {
    delete trimmed;
    throw;
  }
  delete trimmed;
  edge->set_geometry(own_curve);
  edge->set_bound(nullptr);
}
