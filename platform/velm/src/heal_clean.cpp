// Cleaning: scribe edges dangling into a face are taken out.
#include <vector>

#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/heal.hxx"
#include "velm/topology_api.hxx"

namespace {

// The edge's two coedges, when they follow each other in one loop.
bool dangling(const EDGE* e, COEDGE*& first, COEDGE*& second) {
  COEDGE* c = e->coedge();
  COEDGE* p = c ? c->partner() : nullptr;
  if (!c || !p || p->partner() != c || !c->loop() || c->loop() != p->loop()) return false;
  if (c->next() == p) {
    first = c, second = p;
  } else if (p->next() == c) {
    first = p, second = c;
  } else {
    return false;
  }
  return first->previous() != second;  // a loop of just the two: not a dangling edge
}

bool protected_edge(const EDGE* e) { return find_attrib(e, -1, NO_MERGE_ATTRIB_TYPE) != nullptr; }

// first runs out to the free end, second comes back.
void remove_scribe(EDGE* e, COEDGE* first, COEDGE* second) {
  VERTEX* tip = first->end();
  VERTEX* root = first->start();
  ENTITY_LIST around;
  sg_q_edges_around_vertex(root, &around);
  COEDGE* before = first->previous();
  COEDGE* after = second->next();
  LOOP* loop = first->loop();
  if (loop->start() == first || loop->start() == second) loop->set_start(after);
  before->set_next(after);
  after->set_previous(before);
  e->set_coedge(nullptr);
  first->lose();
  second->lose();
  for (VERTEX* v : {e->start(), e->end()})
    if (v) v->delete_edge(e);
  e->lose();
  if (tip && !tip->edge(0)) {
    tip->lose();
  }
  // The root keeps one reference per edge group of what is left at it.
  root->set_edge(nullptr);
  for (int i = 0; i < around.count(); ++i)
    if (around[i] != e) root->add_edge(static_cast<EDGE*>(around[i]));
  minimize_vertex_edges(root);
}

}  // namespace

outcome api_clean_entity(ENTITY* entity, const void*) {
  return velm_api("api_clean_entity", [&] {
    if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
    for (bool removed = true; removed;) {
      removed = false;
      ENTITY_LIST edges;
      velm_topology_walk(entity, EDGE_TYPE, edges);
      for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        COEDGE* first = nullptr;
        COEDGE* second = nullptr;
        if (e->is_lost() || protected_edge(e) || !dangling(e, first, second)) continue;
        // Only an edge whose far end has nothing else is dangling.
        ENTITY_LIST at_tip;
        sg_q_edges_around_vertex(first->end(), &at_tip);
        if (at_tip.count() != 1) continue;
        remove_scribe(e, first, second);
        removed = true;
      }
    }
  });
}
