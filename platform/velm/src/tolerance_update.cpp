// Tolerances of tolerant edges and vertices recomputed from their geometry.
#include "velm/tolerance_update.hxx"

#include <algorithm>

#include "velm/api.hxx"
#include "velm/body_heal.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

// The coedge's end at the vertex, on its face's surface through its pcurve.
double coedge_end_gap(const COEDGE* c, const VERTEX* v) {
  const PCURVE* pc = c->geometry();
  const LOOP* loop = c->loop();
  const FACE* face = loop ? loop->face() : nullptr;
  const SURFACE* s = face ? face->geometry() : nullptr;
  if (!pc || !pc->has_equation() || !s || !s->has_equation()) return 0.0;
  const QELinterval r = c->param_range();
  if (!r.finite()) return 0.0;
  const pcurve p = pc->def();
  const QELposition at = v->geometry()->coords();
  double worst = 0.0;
  if (c->start() == v) worst = std::max(worst, distance(at, s->equation().eval_position(p.eval_position(r.start_pt()))));
  if (c->end() == v) worst = std::max(worst, distance(at, s->equation().eval_position(p.eval_position(r.end_pt()))));
  return worst;
}

}  // namespace

void update_vertex_tolerance(VERTEX* vertex, int) {
  velm_check_call("update_vertex_tolerance");
  if (!vertex || !is_TVERTEX(vertex) || !vertex->geometry()) return;
  auto* tv = static_cast<TVERTEX*>(vertex);
  double tol = vertex_deviation(tv);
  ENTITY_LIST coedges;
  sg_q_coedges_around_vertex(tv, &coedges);
  coedges.init();
  while (ENTITY* c = coedges.next()) tol = std::max(tol, coedge_end_gap(static_cast<COEDGE*>(c), tv));
  tol = std::max(tol, QELresabs);
  if (tol != tv->get_tolerance()) tv->set_tolerance(tol);
  if (tv->get_update() != 0) tv->set_update(0);
}

void update_edge_tolerance(TEDGE* edge, int) {
  velm_check_call("update_edge_tolerance");
  if (!edge) return;
  const double tol = std::max(edge_deviation(edge), QELresabs);
  if (tol != edge->get_tolerance()) edge->set_tolerance(tol);
  for (VERTEX* v : {edge->start(), edge->end()})
    if (v && is_TVERTEX(v) && static_cast<TVERTEX*>(v)->get_update() != 0) update_vertex_tolerance(v);
}

void update_tolerance(ENTITY* e, int) {
  velm_check_call("update_tolerance");
  if (!e) return;
  ENTITY_LIST edges, vertices;
  if (is_EDGE(e)) edges.add(e);
  else velm_topology_walk(e, EDGE_TYPE, edges);
  if (is_VERTEX(e)) vertices.add(e);
  else velm_topology_walk(e, VERTEX_TYPE, vertices);
  edges.init();
  while (ENTITY* x = edges.next())
    if (is_TEDGE(x)) update_edge_tolerance(static_cast<TEDGE*>(x));
  vertices.init();
  while (ENTITY* x = vertices.next())
    if (is_TVERTEX(x)) update_vertex_tolerance(static_cast<VERTEX*>(x));
}

void stch_check_and_fix_tedges_in_entity(ENTITY* e) {
  velm_check_call("stch_check_and_fix_tedges_in_entity");
  if (!e) return;
  ENTITY_LIST edges;
  if (is_EDGE(e)) edges.add(e);
  else velm_topology_walk(e, EDGE_TYPE, edges);
  edges.init();
  while (ENTITY* x = edges.next()) {
    if (!is_TEDGE(x)) continue;
    auto* te = static_cast<TEDGE*>(x);
    update_edge_tolerance(te);
    for (VERTEX* v : {te->start(), te->end()})
      if (v && is_TVERTEX(v)) update_vertex_tolerance(v);
    // A curve that meets its faces and vertices within the kernel's own
    // precision needs no tolerance: the edge becomes a plain one again. An
    // edge without a curve has nothing that fits and stays as it is.
    const CURVE* cu = te->geometry();
    if (cu && cu->has_equation() && edge_deviation(te) < QELresabs) {
      EDGE* plain = nullptr;
      const outcome r = api_replace_tedge_with_edge(te, plain);
      if (!r.ok()) sys_error(r.error_number());
    }
  }
}
