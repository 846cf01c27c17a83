// Face and loop removal, unhooking a face into a body of its own, loop order,
// single-entity copies and free edges from curves.
//
// Every change goes through the entities' setters, which back up what they
// change, so a failed bulletin board puts the model back as it was.
#include <algorithm>
#include <map>
#include <unordered_set>

#include "entity_internal.hxx"
#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

using namespace velm_query;

namespace {

// Where the last search for a face's predecessor ended. Repairs kill faces
// in the order a walk of the shell meets them, so the next search starts
// there instead of at the head; a hint that is gone, elsewhere or past the
// face only costs the search from the head.
FACE* last_predecessor = nullptr;

FACE* predecessor_from(FACE* f, const FACE* face, std::size_t limit) {
  for (std::size_t n = 0; f && f->next() != face && n < limit; ++n) f = f->next();
  return f && f->next() == face ? f : nullptr;
}

void unlink_face(FACE* face) {
  SHELL* s = face->shell();
  if (!s) return;
  if (s->face() == face) {
    s->set_face(face->next());
  } else {
    const std::size_t limit = velm_walk_limit();
    FACE* hint = last_predecessor;
    FACE* f = nullptr;
    if (hint && hint != face && velm_is_live_entity(hint) && !hint->is_lost() && hint->shell() == s)
      f = predecessor_from(hint, face, limit);
    if (!f) f = predecessor_from(s->face(), face, limit);
    if (f) f->set_next(face->next());
    last_predecessor = f;
  }
  face->set_next(nullptr);
  face->set_shell(nullptr);
}

void unlink_loop(LOOP* loop) {
  FACE* face = loop->face();
  if (!face) return;
  if (face->loop() == loop) {
    face->set_loop(loop->next());
  } else {
    LOOP* l = face->loop();
    while (l && l->next() != loop) l = l->next();
    if (l) l->set_next(loop->next());
  }
  loop->set_next(nullptr);
  loop->set_face(nullptr);
}

std::vector<EDGE*> edges_of(const std::vector<LOOP*>& loops) {
  std::vector<EDGE*> out;
  std::unordered_set<EDGE*> seen;
  for (LOOP* l : loops)
    for (COEDGE* c : loop_coedges(l))
      if (c->edge() && seen.insert(c->edge()).second) out.push_back(c->edge());
  return out;
}

// Loses the loops (their coedges leave their edges' partner rings); with
// `delete_free`, edges left without coedges go, and vertices left without
// edges; the vertices that stay keep one reference per edge group.
void lose_loops(const std::vector<LOOP*>& loops, bool delete_free) {
  const std::vector<EDGE*> edges = edges_of(loops);
  std::vector<std::pair<VERTEX*, std::vector<EDGE*>>> around;
  if (delete_free) {
    std::unordered_set<VERTEX*> seen;
    for (EDGE* e : edges)
      for (VERTEX* v : {e->start(), e->end()})
        if (v && seen.insert(v).second) {
          ENTITY_LIST list;
          sg_q_edges_around_vertex(v, &list);
          std::vector<EDGE*> es;
          for (int k = 0; k < list.count(); ++k) es.push_back(static_cast<EDGE*>(list[k]));
          around.emplace_back(v, std::move(es));
        }
  }
  for (LOOP* l : loops) l->lose();
  if (!delete_free) return;
  // Outside a bracket a lost edge is freed at once: which ones went is kept
  // here, not asked of them afterwards.
  std::unordered_set<EDGE*> gone;
  for (EDGE* e : edges)
    if (!e->coedge()) {
      gone.insert(e);
      e->lose();
    }
  for (auto& [v, es] : around) {
    std::vector<EDGE*> alive;
    for (EDGE* e : es)
      if (!gone.count(e) && !e->is_lost()) alive.push_back(e);
    if (alive.empty()) {
      v->lose();
      continue;
    }
    v->set_edge(nullptr);
    for (EDGE* e : alive) v->add_edge(e);
    minimize_vertex_edges(v);
  }
}

// A shell without faces or wires goes, and a lump without shells.
void drop_empty_owners(SHELL* shell) {
  if (!shell || shell->face() || shell->wire()) return;
  LUMP* lump = shell->lump();
  if (lump) {
    if (lump->shell() == shell) {
      lump->set_shell(shell->next());
    } else {
      SHELL* s = lump->shell();
      while (s && s->next() != shell) s = s->next();
      if (s) s->set_next(shell->next());
    }
  }
  shell->lose();
  if (!lump || lump->shell()) return;
  BODY* body = lump->body();
  if (body) {
    if (body->lump() == lump) {
      body->set_lump(lump->next());
    } else {
      LUMP* l = body->lump();
      while (l && l->next() != lump) l = l->next();
      if (l) l->set_next(lump->next());
    }
  }
  lump->lose();
}

void require(bool ok, velm_api_error error = VELM_NULL_ENTITY) {
  if (!ok) velm_api_error_throw(error);
}

VERTEX* copy_vertex(const VERTEX* v) {
  APOINT* p = v->geometry() ? velm_require(VELM_NEW APOINT(v->geometry()->coords())) : nullptr;
  if (is_TVERTEX(v)) {
    auto* t = velm_require(VELM_NEW TVERTEX(p, v->get_tolerance()));
    t->set_update(static_cast<const TVERTEX*>(v)->get_update());
    return t;
  }
  return velm_require(VELM_NEW VERTEX(p));
}

// A free edge on a copy of the edge's curve between the given vertices.
EDGE* copy_edge(const EDGE* e, VERTEX* start, VERTEX* end) {
  CURVE* cu = e->geometry() && e->geometry()->has_equation() ? make_curve(e->geometry()->equation()) : nullptr;
  QELinterval r;
  bool ranged = true;
  try {
    r = e->param_range();
  } catch (const velm_exception&) {
    ranged = false;
  }
  if (is_TEDGE(e)) {
    auto* t = velm_require(VELM_NEW TEDGE(start, end, cu, e->sense(), e->get_convexity(), ranged ? &r : nullptr,
                                          e->get_tolerance()));
    t->set_update(static_cast<const TEDGE*>(e)->get_update());
    return t;
  }
  return velm_require(VELM_NEW EDGE(start, end, cu, e->sense(), e->get_convexity(), ranged ? &r : nullptr));
}

}  // namespace

void kf(FACE* face, int delete_free_edges) {
  velm_check_call("kf");
  require(face && !face->is_lost());
  SHELL* shell = face->shell();
  unlink_face(face);
  std::vector<LOOP*> loops = chain(face->loop());
  face->set_loop(nullptr);
  lose_loops(loops, delete_free_edges != 0);
  face->lose();
  drop_empty_owners(shell);
}

void sg_remove_face_from_body(FACE* face) {
  velm_check_call("sg_remove_face_from_body");
  kf(face, 1);
}

outcome api_remove_face(FACE* face) {
  return velm_api("api_remove_face", [&] { kf(face, 1); });
}

void remove_loop(LOOP* loop) {
  velm_check_call("remove_loop");
  require(loop && !loop->is_lost());
  unlink_loop(loop);
  lose_loops({loop}, true);
}

void extract_loop(LOOP* loop) {
  velm_check_call("extract_loop");
  require(loop && !loop->is_lost());
  unlink_loop(loop);
}

void set_periphery_first_loop(FACE* face, LOOP* periphery) {
  velm_check_call("set_periphery_first_loop");
  require(face && periphery);
  require(periphery->face() == face, VELM_BAD_ARGUMENT);
  if (face->loop() == periphery) return;
  unlink_loop(periphery);
  periphery->set_next(face->loop());
  periphery->set_face(face);
  face->set_loop(periphery);
}

outcome api_unhook_face(FACE* face, BODY*& new_body) {
  new_body = nullptr;
  return velm_api("api_unhook_face", [&] {
    require(face && !face->is_lost());
    const std::vector<LOOP*> loops = chain(face->loop());
    std::unordered_set<COEDGE*> mine;
    for (LOOP* l : loops)
      for (COEDGE* c : loop_coedges(l)) mine.insert(c);
    // Edges also used outside the face get a duplicate for the face's coedges.
    std::vector<EDGE*> edges = edges_of(loops);
    std::map<EDGE*, EDGE*> edge_map;
    std::map<VERTEX*, VERTEX*> vertex_map;
    auto vertex_for = [&](VERTEX* v) -> VERTEX* {
      if (!v) return nullptr;
      auto it = vertex_map.find(v);
      return it != vertex_map.end() ? it->second : vertex_map[v] = copy_vertex(v);
    };
    for (EDGE* e : edges) {
      const std::vector<COEDGE*> ring = edge_coedges(e);
      if (std::all_of(ring.begin(), ring.end(), [&](COEDGE* c) { return mine.count(c) > 0; })) continue;
      edge_map[e] = nullptr;
    }
    // Vertices: shared when an edge around them stays outside.
    std::unordered_set<EDGE*> leaving;
    for (EDGE* e : edges)
      if (!edge_map.count(e)) leaving.insert(e);
    std::map<VERTEX*, std::vector<EDGE*>> before;
    for (EDGE* e : edges)
      for (VERTEX* v : {e->start(), e->end()}) {
        if (!v || before.count(v)) continue;
        ENTITY_LIST around;
        sg_q_edges_around_vertex(v, &around);
        std::vector<EDGE*>& es = before[v];
        for (int k = 0; k < around.count(); ++k) es.push_back(static_cast<EDGE*>(around[k]));
        if (std::any_of(es.begin(), es.end(), [&](EDGE* x) { return !leaving.count(x); })) vertex_for(v);
      }
    auto mapped = [&](VERTEX* v) { return vertex_map.count(v) ? vertex_map[v] : v; };
    for (auto& [e, copy] : edge_map) {
      copy = copy_edge(e, mapped(e->start()), mapped(e->end()));
      // Move the face's coedges onto the copy, closing both partner rings.
      std::vector<COEDGE*> ring = edge_coedges(e), ours, theirs;
      for (COEDGE* c : ring) (mine.count(c) ? ours : theirs).push_back(c);
      for (std::size_t k = 0; k < theirs.size(); ++k)
        theirs[k]->set_partner(theirs.size() == 1 ? nullptr : theirs[(k + 1) % theirs.size()]);
      e->set_coedge(theirs.front());
      for (std::size_t k = 0; k < ours.size(); ++k) {
        ours[k]->set_edge(copy);
        ours[k]->set_partner(ours.size() == 1 ? nullptr : ours[(k + 1) % ours.size()]);
      }
      copy->set_coedge(ours.front());
    }
    // Edges that move whole take the face's copies of shared vertices.
    for (EDGE* e : leaving) {
      if (e->start() != mapped(e->start())) e->set_start(mapped(e->start()));
      if (e->end() != mapped(e->end())) e->set_end(mapped(e->end()));
    }
    // Every vertex involved, original and copy, gets its references anew.
    for (auto& [v, es] : before) {
      std::vector<EDGE*> candidates = es;
      for (auto& [orig, copy] : edge_map) candidates.push_back(copy);
      for (VERTEX* w : {v, mapped(v)}) {
        w->set_edge(nullptr);
        for (EDGE* e : candidates)
          if (e->start() == w || e->end() == w) w->add_edge(e);
        if (w->count_edges() > 0) minimize_vertex_edges(w);
      }
    }
    SHELL* old_shell = face->shell();
    unlink_face(face);
    auto* shell = velm_require(VELM_NEW SHELL(face));
    auto* lump = velm_require(VELM_NEW LUMP(shell));
    new_body = velm_require(VELM_NEW BODY(lump));
    if (old_shell) {
      if (BODY* owner = owning_body(old_shell); owner && owner->transform())
        new_body->set_transform(velm_require(VELM_NEW TRANSFORM(owner->transform()->transform())));
    }
    drop_empty_owners(old_shell);
  });
}

ENTITY* copy_single_entity(const ENTITY* e, pointer_map* pm) {
  velm_check_call("copy_single_entity");
  if (!e) return nullptr;
  try {
    if (is_VERTEX(e)) return copy_vertex(static_cast<const VERTEX*>(e));
    if (is_EDGE(e)) {
      const auto* ed = static_cast<const EDGE*>(e);
      VERTEX* s = ed->start() ? copy_vertex(ed->start()) : nullptr;
      VERTEX* t = ed->end() == ed->start() ? s : ed->end() ? copy_vertex(ed->end()) : nullptr;
      return copy_edge(ed, s, t);
    }
    if (is_FACE(e)) {
      const auto* f = static_cast<const FACE*>(e);
      SURFACE* s = f->geometry() && f->geometry()->has_equation() ? make_surface(f->geometry()->equation()) : nullptr;
      auto* copy = velm_require(VELM_NEW FACE(nullptr, nullptr, s, f->sense()));
      copy->set_sides(f->sides());
      copy->set_cont(f->cont());
      return copy;
    }
    if (is_BODY(e) || is_LUMP(e) || is_SHELL(e) || is_LOOP(e) || is_COEDGE(e) || is_WIRE(e))
      return nullptr;  // no single copy of what only means something with its owners
    ENTITY* copy = nullptr;
    if (!api_copy_entity(e, copy).ok()) return nullptr;
    (void)pm;
    return copy;
  } catch (const velm_exception&) {
    return nullptr;
  }
}

outcome api_make_edge_from_curve(const curve* cur, EDGE*& edge) {
  edge = nullptr;
  return velm_api("api_make_edge_from_curve", [&] {
    require(cur != nullptr);
    const QELinterval r = cur->param_range();
    require(r.finite() && r.length() > 0.0, VELM_BAD_ARGUMENT);
    const QELposition a = cur->eval_position(r.start_pt()), b = cur->eval_position(r.end_pt());
    auto* start = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(a))));
    VERTEX* end = distance(a, b) <= QELresabs ? start : velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(b))));
    edge = velm_require(VELM_NEW EDGE(start, end, make_curve(*cur), FORWARD, EDGE_cvty_unknown, &r));
  });
}
