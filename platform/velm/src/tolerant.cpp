// Tolerant topology: deviations, TEDGE/TVERTEX replacement, edge and vertex
// error checks, and pcurve fitting for a coedge.
#include "velm/tolerant.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kDeviationSamples = 32;

const surface* face_surface(const COEDGE* c) {
  const LOOP* loop = c ? c->loop() : nullptr;
  const FACE* face = loop ? loop->face() : nullptr;
  const SURFACE* s = face ? face->geometry() : nullptr;
  return s && s->has_equation() ? &s->equation() : nullptr;
}

bool finite_range(const QELinterval& r) { return r.finite() && !(r.length() < 0.0); }

// Worst distance of the curve from one coedge's pcurve on its surface (or
// from the surface itself without a pcurve).
double coedge_deviation(const COEDGE* c, const curve& eq, const QELinterval& curve_range) {
  const surface* srf = face_surface(c);
  if (!srf) return 0.0;
  const PCURVE* pc = c->geometry();
  if (pc && pc->has_equation()) return pcurve_deviation(c, kDeviationSamples);
  double worst = 0.0;
  for (int k = 0; k <= kDeviationSamples; ++k) {
    const QELposition at = eq.eval_position(curve_range.interpolate(double(k) / kDeviationSamples));
    QELposition on;
    srf->point_perp(at, on);
    worst = std::max(worst, distance(at, on));
  }
  return worst;
}

void move_attributes(ENTITY* from, ENTITY* to) {
  std::vector<ATTRIB*> attribs;
  for (ATTRIB* a = from->attrib(); a; a = a->next()) attribs.push_back(a);
  for (ATTRIB* a : attribs) a->replace_owner(to);
}

void replace_vertex_edge_ref(VERTEX* v, EDGE* old_edge, EDGE* new_edge) {
  if (!v) return;
  std::vector<EDGE*> refs;
  for (int i = 0; i < v->count_edges(); ++i) refs.push_back(v->edge(i) == old_edge ? new_edge : v->edge(i));
  v->set_edge(nullptr);
  for (EDGE* e : refs) v->add_edge(e);
}

void raise_tolerance(ENTITY* e, double tol) {
  if (is_TEDGE(e)) {
    auto* te = static_cast<TEDGE*>(e);
    if (tol > te->get_tolerance()) te->set_tolerance(tol);
  } else if (is_TVERTEX(e)) {
    auto* tv = static_cast<TVERTEX*>(e);
    if (tol > tv->get_tolerance()) tv->set_tolerance(tol);
  }
}

TVERTEX* replace_vertex(VERTEX* v) {
  if (!v) velm_api_error_throw(VELM_NULL_ENTITY);
  if (is_TVERTEX(v)) velm_api_error_throw(VELM_WRONG_TYPE);
  auto* tv = velm_require(VELM_NEW TVERTEX(v->geometry(), std::max(vertex_deviation(v), QELresabs)));
  ENTITY_LIST edges;
  sg_q_edges_around_vertex(v, &edges);
  edges.init();
  while (ENTITY* e = edges.next()) {
    auto* edge = static_cast<EDGE*>(e);
    if (edge->start() == v) edge->set_start(tv);
    if (edge->end() == v) edge->set_end(tv);
  }
  for (int i = 0; i < v->count_edges(); ++i) tv->add_edge(v->edge(i));
  v->set_edge(nullptr);
  move_attributes(v, tv);
  v->lose();
  return tv;
}

}  // namespace

QELinterval edge_curve_range(const EDGE* edge) {
  const QELinterval r = edge->param_range();
  return edge->sense() == REVERSED ? -r : r;
}

double pcurve_deviation(const COEDGE* coedge, int steps, bool between) {
  const EDGE* edge = coedge ? coedge->edge() : nullptr;
  const CURVE* cu = edge ? edge->geometry() : nullptr;
  const PCURVE* pc = coedge ? coedge->geometry() : nullptr;
  const surface* srf = face_surface(coedge);
  if (!cu || !cu->has_equation() || !pc || !pc->has_equation() || !srf) return 0.0;
  const QELinterval range = edge_curve_range(edge);
  if (!finite_range(range)) return 0.0;
  const curve& eq = cu->equation();
  // Read in place: a copy is an allocation, which may fail mid-measure.
  const pcurve& p = pc->def();
  // The pcurve runs in the coedge's parameter: against the curve's where the
  // coedge runs against it.
  const double sign = coedge->sense() == edge->sense() ? 1.0 : -1.0;
  double worst = 0.0;
  const auto gap_at = [&](double t) {
    worst = std::max(worst, distance(eq.eval_position(t), srf->eval_position(p.eval_position(sign * t))));
  };
  // Even steps and the middle of each: a pcurve fitted through even steps
  // (as the kernel fits) is found where it strays between them.
  const int samples = between ? 2 * steps : steps;
  for (int k = 0; k <= samples; ++k) gap_at(range.interpolate(double(k) / samples));
  // The middle of each span of the pcurve's own B-spline inside the range: a
  // fit through points elsewhere strays, if anywhere, between its knots.
  if (const bs2_curve b = between ? p.cur() : nullptr) {
    int n = 0;
    double* knots = nullptr;
    bs2_curve_knots(b, n, knots);
    const std::unique_ptr<double[]> held(knots);
    // The B-spline's parameter is the pcurve's, turned for a reversed pcurve.
    const double to_curve = sign * (p.reversed() ? -1.0 : 1.0);
    constexpr int kMostSpans = 4096;
    for (int i = 0, spans = 0; i + 1 < n && spans < kMostSpans; ++i) {
      if (!(knots[i + 1] > knots[i])) continue;
      ++spans;
      const double t = to_curve * 0.5 * (knots[i] + knots[i + 1]);
      if (t > range.start_pt() && t < range.end_pt()) gap_at(t);
    }
  }
  return worst;
}

double edge_deviation(const EDGE* edge) {
  const CURVE* cu = edge ? edge->geometry() : nullptr;
  if (!cu || !cu->has_equation()) return 0.0;
  const curve& eq = cu->equation();
  const QELinterval range = edge_curve_range(edge);
  if (!finite_range(range)) return 0.0;
  double worst = 0.0;
  for (const COEDGE* c : edge_coedges(edge)) worst = std::max(worst, coedge_deviation(c, eq, range));
  // The curve's ends against the vertices at the edge's start and end.
  const bool fwd = edge->sense() == FORWARD;
  const QELposition first = eq.eval_position(fwd ? range.start_pt() : range.end_pt());
  const QELposition last = eq.eval_position(fwd ? range.end_pt() : range.start_pt());
  if (edge->start() && edge->start()->geometry())
    worst = std::max(worst, distance(first, edge->start()->geometry()->coords()));
  if (edge->end() && edge->end()->geometry())
    worst = std::max(worst, distance(last, edge->end()->geometry()->coords()));
  return worst;
}

double vertex_deviation(const VERTEX* v) {
  if (!v || !v->geometry()) return 0.0;
  const QELposition p = v->geometry()->coords();
  ENTITY_LIST edges;
  sg_q_edges_around_vertex(v, &edges);
  double worst = 0.0;
  edges.init();
  while (ENTITY* e = edges.next()) {
    const auto* edge = static_cast<const EDGE*>(e);
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation()) continue;
    QELinterval r;
    try {
      r = edge_curve_range(edge);
    } catch (const velm_exception&) {
      continue;
    }
    if (!finite_range(r)) continue;
    const bool fwd = edge->sense() == FORWARD;
    if (edge->start() == v)
      worst = std::max(worst, distance(p, cu->equation().eval_position(fwd ? r.start_pt() : r.end_pt())));
    if (edge->end() == v)
      worst = std::max(worst, distance(p, cu->equation().eval_position(fwd ? r.end_pt() : r.start_pt())));
  }
  return worst;
}

TEDGE* replace_edge_with_tedge(EDGE* edge) {
  velm_check_call("replace_edge_with_tedge");
  if (!edge) velm_api_error_throw(VELM_NULL_ENTITY);
  if (is_TEDGE(edge)) velm_api_error_throw(VELM_WRONG_TYPE);
  const QELinterval range = edge->param_range();
  const double tol = std::max(edge_deviation(edge), QELresabs);
  auto* te = velm_require(VELM_NEW TEDGE(edge->start(), edge->end(), edge->geometry(), edge->sense(),
                                         edge->get_convexity(), &range, tol));
  replace_vertex_edge_ref(edge->start(), edge, te);
  replace_vertex_edge_ref(edge->end(), edge, te);
  for (COEDGE* c : edge_coedges(edge)) c->set_edge(te);
  te->set_coedge(edge->coedge());
  edge->set_coedge(nullptr);
  move_attributes(edge, te);
  edge->lose();
  // The vertices have to cover the deviation of the edge's ends too.
  for (VERTEX* v : {te->start(), te->end()})
    if (v && is_TVERTEX(v)) raise_tolerance(v, vertex_deviation(v));
  return te;
}

outcome api_replace_edge_with_tedge(EDGE* edge, TEDGE*& tedge) {
  return velm_api("api_replace_edge_with_tedge", [&] { tedge = replace_edge_with_tedge(edge); });
}

outcome api_replace_vertex_with_tvertex(VERTEX* vertex, TVERTEX*& tvertex) {
  return velm_api("api_replace_vertex_with_tvertex", [&] { tvertex = replace_vertex(vertex); });
}

outcome api_check_edge_errors(const ENTITY_LIST& edges, ENTITY_LIST& bad_edges, ENTITY*& worst_entity,
                              double& worst_error, double tol, bool stop_immediately, ENTITY_LIST* new_edges) {
  worst_entity = nullptr;
  worst_error = -1.0;
  return velm_api("api_check_edge_errors", [&] {
    edges.init();
    while (ENTITY* e = edges.next()) {
      if (!is_EDGE(e)) continue;
      auto* edge = static_cast<EDGE*>(e);
      const double dev = edge_deviation(edge);
      if (dev > worst_error) {
        worst_error = dev;
        worst_entity = edge;
      }
      if (dev <= tol) continue;
      bad_edges.add(edge);
      if (new_edges) {
        if (is_TEDGE(edge)) {
          raise_tolerance(edge, dev);
        } else {
          TEDGE* te = replace_edge_with_tedge(edge);
          new_edges->add(te);
          if (worst_entity == edge) worst_entity = te;
        }
      }
      if (stop_immediately) break;
    }
  });
}

outcome api_check_vertex_errors(const ENTITY_LIST& vertices, ENTITY_LIST& bad_vertices, ENTITY*& worst_entity,
                                double& worst_error, double tol, bool stop_immediately, ENTITY_LIST& new_vertices) {
  worst_entity = nullptr;
  worst_error = -1.0;
  return velm_api("api_check_vertex_errors", [&] {
    vertices.init();
    while (ENTITY* e = vertices.next()) {
      if (!is_VERTEX(e)) continue;
      auto* v = static_cast<VERTEX*>(e);
      const double dev = vertex_deviation(v);
      if (dev > worst_error) {
        worst_error = dev;
        worst_entity = v;
      }
      if (dev <= tol) continue;
      bad_vertices.add(v);
      if (is_TVERTEX(v)) {
        raise_tolerance(v, dev);
      } else {
        TVERTEX* tv = replace_vertex(v);
        new_vertices.add(tv);
        if (worst_entity == v) worst_entity = tv;
      }
      if (stop_immediately) break;
    }
  });
}

bool sg_add_pcurve_to_coedge(COEDGE* coedge, int, int, int) {
  velm_check_call("sg_add_pcurve_to_coedge");
  const surface* srf = face_surface(coedge);
  const EDGE* edge = coedge ? coedge->edge() : nullptr;
  const CURVE* cu = edge ? edge->geometry() : nullptr;
  if (!srf || !cu || !cu->has_equation()) return false;
  const QELinterval range = edge_curve_range(edge);
  if (!finite_range(range) || !(range.length() > 0.0)) return false;
  double fit = 0.0;
  QELpar_vec shift;
  // Fitted to the edge's tolerance, which the coedge check holds the pcurve
  // to along its whole length: a fit to QELresfit passes through its fit
  // points and strays up to that far between them. A curve the surface does
  // not carry that closely gets the coarser fit, and the checks and the
  // edge's deviation see how far it lies off.
  const double edge_tol = is_TEDGE(edge) ? std::max(static_cast<const TEDGE*>(edge)->get_tolerance(), QELresabs)
                                         : QELresabs;
  double fitol = std::min(edge_tol, QELresfit);
  bs2_curve fitted = fit_pcurve_bs2(cu->equation(), range, *srf, fitol, fit, shift);
  if (!fitted && fitol < QELresfit) fitted = fit_pcurve_bs2(cu->equation(), range, *srf, fitol = QELresfit, fit, shift);
  if (!fitted) return false;
  // The pcurve runs in the coedge's parameter: against the curve when the senses differ.
  if (coedge->sense() != edge->sense()) bs2_curve_reverse(fitted);
  // The equation owns the fit before the entity is allocated: a failed
  // allocation then frees it.
  const pcurve equation(fitted, fitol, *srf);
  coedge->set_geometry(velm_require(VELM_NEW PCURVE(equation)));
  return true;
}
