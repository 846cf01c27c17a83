// Topology queries, deletion, copies and geometry-free body builders.
#include "velm/topology_api.hxx"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"

namespace {
void require_live(const ENTITY* e) {
  if (!e) velm_api_error_throw(VELM_NULL_ENTITY);
  if (!velm_is_live_entity(e)) velm_api_error_throw(VELM_NOT_LIVE);
}

// Depth in the topology tree; a query below this depth walks down, else up.
int rank_of(int type) {
  switch (type) {
    case BODY_TYPE: return 0;
    case LUMP_TYPE: return 1;
    case SHELL_TYPE: return 2;
    case FACE_TYPE:
    case WIRE_TYPE: return 3;
    case LOOP_TYPE: return 4;
    case COEDGE_TYPE: return 5;
    case EDGE_TYPE: return 6;
    case VERTEX_TYPE: return 7;
    default: return -1;
  }
}

// The entity one level up: coedge -> loop or wire, loop -> face, face ->
// shell, wire -> shell or body, shell -> lump, lump -> body.
ENTITY* parent_of(const ENTITY* e) {
  if (is_WIRE(e)) {
    auto* w = static_cast<const WIRE*>(e);
    return w->shell() ? static_cast<ENTITY*>(w->shell()) : static_cast<ENTITY*>(w->body());
  }
  if (is_COEDGE(e) || is_LOOP(e) || is_FACE(e) || is_SHELL(e) || is_LUMP(e)) return e->owner();
  return nullptr;
}

void climb(ENTITY* e, int type, ENTITY_LIST& out) {
  for (int guard = 0; e && guard < 8; ++guard, e = parent_of(e))
    if (e->identity(1) == type) {
      out.add(e);
      return;
    }
}

// Upwards: from the coedges around an edge or vertex, or from the entity itself.
void get_upwards(const ENTITY* e, int type, ENTITY_LIST& out) {
  ENTITY_LIST seeds;
  if (is_VERTEX(e)) {
    if (type == EDGE_TYPE) return sg_q_edges_around_vertex(static_cast<const VERTEX*>(e), &out);
    sg_q_coedges_around_vertex(static_cast<const VERTEX*>(e), &seeds);
  } else if (is_EDGE(e)) {
    for (COEDGE* c : edge_coedges(static_cast<const EDGE*>(e))) seeds.add(c);
  } else {
    seeds.add(const_cast<ENTITY*>(e));
  }
  for (int i = 0; i < seeds.count(); ++i) climb(seeds[i], type, out);
}

void get_entities(const ENTITY* e, int type, ENTITY_LIST& out, const std::function<void(ENTITY*)>& listed) {
  int root = rank_of(e->identity(1));
  if (root < 0) return;
  if (rank_of(type) >= root) return velm_topology_walk(e, type, out, listed);
  const int before = out.count();
  get_upwards(e, type, out);
  // An upward list is short: handed over once made.
  if (listed)
    for (int i = before; i < out.count(); ++i)
      if (out[i]) listed(out[i]);
}

outcome get_api(const char* name, const ENTITY* e, int type, ENTITY_LIST& list,
                const std::function<void(ENTITY*)>& listed = {}) {
  return velm_api(name, [&] {
    require_live(e);
    get_entities(e, type, list, listed);
  });
}
}  // namespace

outcome api_get_lumps(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_lumps", e, LUMP_TYPE, l); }
outcome api_get_shells(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_shells", e, SHELL_TYPE, l); }
outcome api_get_faces(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_faces", e, FACE_TYPE, l); }
outcome api_get_loops(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_loops", e, LOOP_TYPE, l); }
outcome api_get_coedges(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_coedges", e, COEDGE_TYPE, l); }
outcome api_get_edges(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_edges", e, EDGE_TYPE, l); }
outcome api_get_edges(const ENTITY* e, ENTITY_LIST& l, const std::function<void(EDGE*)>& listed) {
  return get_api("api_get_edges", e, EDGE_TYPE, l, [&](ENTITY* edge) { listed(static_cast<EDGE*>(edge)); });
}
outcome api_get_vertices(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_vertices", e, VERTEX_TYPE, l); }
outcome api_get_wires(const ENTITY* e, ENTITY_LIST& l) { return get_api("api_get_wires", e, WIRE_TYPE, l); }

// ---------------------------------------------------------------------------
std::vector<COEDGE*> edge_coedges(const EDGE* e) {
  std::vector<COEDGE*> out;
  COEDGE* first = e ? e->coedge() : nullptr;
  const std::size_t limit = velm_walk_limit();
  for (COEDGE* c = first; c && out.size() < limit;) {
    out.push_back(c);
    c = c->partner();
    if (c == first) break;
  }
  return out;
}

namespace {
bool ends_at(const EDGE* e, const VERTEX* v) { return e && (e->start() == v || e->end() == v); }

// A vertex's edge reference is read only while it names a live edge that ends
// at the vertex: one that had moved off it (damaged input) is not taken from
// its list when it is replaced or lost, and its address may since hold
// nothing or another entity.
bool refers_to_edge_at(const EDGE* ref, const VERTEX* v) {
  return velm_is_live_entity(ref) && is_EDGE(ref) && ends_at(ref, v);
}

// A stack that keeps its first few entries in place: a vertex has few edges,
// and building a body floods round every vertex.
template <class T, std::size_t N = 16>
class short_stack {
 public:
  void push(T x) {
    if (n_ < N)
      in_place_[n_] = x;
    else
      more_.push_back(x);
    ++n_;
  }
  T pop() {
    --n_;
    if (n_ < N) return in_place_[n_];
    T x = more_.back();
    more_.pop_back();
    return x;
  }
  std::size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T operator[](std::size_t i) const { return i < N ? in_place_[i] : more_[i - N]; }

 private:
  std::array<T, N> in_place_{};
  std::vector<T> more_;
  std::size_t n_ = 0;
};

// The edges met so far by a flood round one vertex: searched in place while
// few, with a table for a vertex of very many edges.
class edge_marks {
 public:
  bool insert(const EDGE* e) {
    if (contains(e)) return false;
    if (table_.size() != 0 || few_.size() == 32) {
      if (table_.size() == 0)
        for (std::size_t i = 0; i < few_.size(); ++i) table_.insert(few_[i]);
      return table_.insert(e);
    }
    few_.push(e);
    return true;
  }
  bool contains(const EDGE* e) const {
    if (table_.size() != 0) return table_.contains(e);
    for (std::size_t i = 0; i < few_.size(); ++i)
      if (few_[i] == e) return true;
    return false;
  }

 private:
  short_stack<const EDGE*, 32> few_;
  velm_address_set table_;
};

// Floods from `from` across the coedge rings through v; `visit` sees each
// edge not yet marked once.
template <class F>
void flood_from(const VERTEX* v, EDGE* from, edge_marks& seen, F&& visit) {
  short_stack<EDGE*> queue;
  queue.push(from);
  const std::size_t limit = velm_walk_limit();
  while (!queue.empty()) {
    EDGE* e = queue.pop();
    if (!ends_at(e, v) || !seen.insert(e)) continue;
    visit(e);
    COEDGE* first = e->coedge();
    std::size_t steps = 0;
    for (COEDGE* c = first; c && steps < limit; ++steps) {
      if (c->start() == v && c->previous()) queue.push(c->previous()->edge());
      if (c->end() == v && c->next()) queue.push(c->next()->edge());
      c = c->partner();
      if (c == first) break;
    }
  }
}

// Flood from each edge reference; `visit` sees every edge once.
template <class F>
void flood_around(const VERTEX* v, F&& visit) {
  edge_marks seen;
  for (int r = 0; EDGE* ref = v->edge(r); ++r)
    if (refers_to_edge_at(ref, v)) flood_from(v, ref, seen, visit);
}
}  // namespace

void sg_q_edges_around_vertex(const VERTEX* v, ENTITY_LIST* edges) {
  if (!v || !edges) return;
  flood_around(v, [&](EDGE* e) { edges->add(e); });
}

void sg_q_coedges_around_vertex(const VERTEX* v, ENTITY_LIST* coedges) {
  if (!v || !coedges) return;
  flood_around(v, [&](EDGE* e) {
    for (COEDGE* c : edge_coedges(e)) coedges->add(c);
  });
}

// One reference per group of edges joined through coedge rings at the vertex:
// the first edge of each group in flood order, which is the reference whose
// flood found the group, so one flood round the vertex does. A vertex already
// so referenced is left untouched (no before-image).
void minimize_vertex_edges(VERTEX* v) {
  if (!v) return;
  // A single reference reaches one group only: it is already the minimum.
  if (v->count_edges() == 0 || (v->count_edges() == 1 && refers_to_edge_at(v->edge(0), v))) return;
  short_stack<EDGE*> keep;
  edge_marks seen;
  for (int r = 0; EDGE* ref = v->edge(r); ++r)
    if (refers_to_edge_at(ref, v) && !seen.contains(ref)) {
      keep.push(ref);
      flood_from(v, ref, seen, [](EDGE*) {});
    }
  bool same = v->count_edges() == static_cast<int>(keep.size());
  for (std::size_t k = 0; same && k < keep.size(); ++k) same = v->edge(static_cast<int>(k)) == keep[k];
  if (same) return;
  v->set_edge(keep.empty() ? nullptr : keep[0]);
  for (std::size_t k = 1; k < keep.size(); ++k) v->add_edge(keep[k]);
}

// ---------------------------------------------------------------------------
// Deletion.
namespace {
// Takes the entity out of its parent's chain (or ring).
template <class T, class Parent, class Get, class Set>
void unchain(T* e, Parent* parent, Get first_of, Set set_first) {
  if (!parent) return;
  if (first_of(parent) == e) {
    set_first(parent, e->next());
    return;
  }
  for (T* p = first_of(parent); p; p = p->next())
    if (p->next() == e) {
      p->set_next(e->next());
      return;
    }
}

void unlink_from_parent(ENTITY* e) {
  if (is_LUMP(e)) {
    auto* l = static_cast<LUMP*>(e);
    unchain(l, l->body(), [](BODY* b) { return b->lump(); }, [](BODY* b, LUMP* x) { b->set_lump(x); });
  } else if (is_SHELL(e)) {
    auto* s = static_cast<SHELL*>(e);
    unchain(s, s->lump(), [](LUMP* l) { return l->shell(); }, [](LUMP* l, SHELL* x) { l->set_shell(x); });
  } else if (is_FACE(e)) {
    auto* f = static_cast<FACE*>(e);
    unchain(f, f->shell(), [](SHELL* s) { return s->face(); }, [](SHELL* s, FACE* x) { s->set_face(x); });
  } else if (is_LOOP(e)) {
    auto* l = static_cast<LOOP*>(e);
    unchain(l, l->face(), [](FACE* f) { return f->loop(); }, [](FACE* f, LOOP* x) { f->set_loop(x); });
  } else if (is_WIRE(e)) {
    auto* w = static_cast<WIRE*>(e);
    unchain(w, w->body(), [](BODY* b) { return b->wire(); }, [](BODY* b, WIRE* x) { b->set_wire(x); });
    unchain(w, w->shell(), [](SHELL* s) { return s->wire(); }, [](SHELL* s, WIRE* x) { s->set_wire(x); });
  } else if (is_COEDGE(e)) {
    auto* c = static_cast<COEDGE*>(e);
    COEDGE* prev = c->previous();
    COEDGE* next = c->next();
    bool alone = next == c || !next;
    if (prev && prev != c && prev->next() == c) prev->set_next(alone ? nullptr : next);
    if (next && next != c && next->previous() == c) next->set_previous(prev == c ? nullptr : prev);
    if (LOOP* l = c->loop(); l && l->start() == c) l->set_start(alone ? nullptr : next);
    if (WIRE* w = c->wire(); w && w->coedge() == c) w->set_coedge(alone ? prev : next);
  }
}

void delete_topology(ENTITY* root) {
  // A body takes everything below it along, edges and vertices included.
  if (is_BODY(root)) return root->lose();
  ENTITY_LIST set;
  velm_topology_walk(root, set);
  std::vector<EDGE*> doomed_edges;
  std::unordered_set<const ENTITY*> doomed;
  for (int i = 0; i < set.count(); ++i)
    if (!is_EDGE(set[i]) && !is_VERTEX(set[i])) doomed.insert(set[i]);
  for (int i = 0; i < set.count(); ++i)
    if (is_EDGE(set[i])) {
      auto* e = static_cast<EDGE*>(set[i]);
      std::vector<COEDGE*> ring = edge_coedges(e);
      bool unused = std::all_of(ring.begin(), ring.end(), [&](COEDGE* c) { return doomed.count(c) > 0; });
      if (!unused && e == root) velm_api_error_throw(VELM_BAD_ARGUMENT);  // still in use
      if (unused) {
        doomed_edges.push_back(e);
        doomed.insert(e);
      }
    }
  // A vertex stays while any edge around it stays; it then keeps references
  // to the surviving edges of each group.
  std::vector<VERTEX*> doomed_vertices;
  std::vector<std::pair<VERTEX*, std::vector<EDGE*>>> kept;
  for (int i = 0; i < set.count(); ++i)
    if (is_VERTEX(set[i])) {
      auto* v = static_cast<VERTEX*>(set[i]);
      ENTITY_LIST around;
      sg_q_edges_around_vertex(v, &around);
      std::vector<EDGE*> surviving;
      for (int k = 0; k < around.count(); ++k)
        if (!doomed.count(around[k])) surviving.push_back(static_cast<EDGE*>(around[k]));
      if (surviving.empty()) {
        doomed_vertices.push_back(v);
      } else if (v == root) {
        velm_api_error_throw(VELM_BAD_ARGUMENT);  // still in use
      } else {
        kept.emplace_back(v, std::move(surviving));
      }
    }

  unlink_from_parent(root);
  root->lose();
  for (EDGE* e : doomed_edges)
    if (!e->is_lost()) e->lose();
  for (VERTEX* v : doomed_vertices)
    if (!v->is_lost()) v->lose();
  for (auto& [v, surviving] : kept) {
    for (EDGE* e : surviving) v->add_edge(e);
    minimize_vertex_edges(v);
  }
}

bool is_topology(const ENTITY* e) { return rank_of(e->identity(1)) >= 0; }

void delete_entity(ENTITY* e) {
  require_live(e);
  if (is_topology(e)) {
    delete_topology(e);
  } else if (is_counted_geometry(e) && e->use_count() > 0) {
    velm_api_error_throw(VELM_BAD_ARGUMENT);  // still used by topology
  } else {
    e->lose();  // attributes unhook themselves; collections release their members
  }
}
}  // namespace

outcome api_del_entity(ENTITY* e) { return velm_api("api_del_entity", [&] { delete_entity(e); }); }

outcome api_delent(ENTITY* e) { return velm_api("api_delent", [&] { delete_entity(e); }); }

outcome api_del_entity_list(ENTITY_LIST& list) {
  return velm_api("api_del_entity_list", [&] {
    for (int i = 0; i < list.count(); ++i)
      if (ENTITY* e = list[i]; e && velm_is_live_entity(e)) delete_entity(e);
  });
}

// ---------------------------------------------------------------------------
// Copies.
namespace {
// A copy of a root: the originals the copy protocol's scan reached (slot 0 is
// null) and, slot for slot, their copies.
struct copy_result {
  ENTITY_LIST originals;
  std::vector<ENTITY*> copies;
  std::vector<int> attributes;  // slots of attributes, in order
  ENTITY* root() const { return copies[1]; }
};

// Attributes that do not follow a copy of their owner are gone from the copy.
copy_result copy_one(const ENTITY* root) {
  copy_result r;
  ENTITY_LIST roots;
  roots.add(const_cast<ENTITY*>(root));
  {
    velm_stamped_list stamps(r.originals);
    copy_closure(roots, r.originals, r.copies, nullptr, scan_copy, &r.attributes);
  }
  std::vector<ATTRIB*> drop;
  for (int i : r.attributes) {
    auto* c = static_cast<ATTRIB*>(r.copies[static_cast<std::size_t>(i)]);
    if (!c->copied_with_owner()) drop.push_back(c);
  }
  for (ATTRIB* a : drop)
    if (!a->is_lost()) a->lose();
  return r;
}

// A copy below body level lost the links to what was not copied: every copied
// edge gets a ring of its copied coedges, every vertex a reference.
void close_partial_topology(const std::vector<ENTITY*>& copies) {
  std::map<EDGE*, std::vector<COEDGE*>> rings;
  std::vector<EDGE*> order;
  for (ENTITY* copy : copies) {
    if (copy && copy->is_lost()) continue;
    if (is_COEDGE(copy)) {
      auto* c = static_cast<COEDGE*>(copy);
      if (!c->edge()) continue;
      if (!rings.count(c->edge())) order.push_back(c->edge());
      rings[c->edge()].push_back(c);
    } else if (is_EDGE(copy)) {
      auto* e = static_cast<EDGE*>(copy);
      for (VERTEX* v : {e->start(), e->end()})
        if (v && v->count_edges() == 0) v->add_edge(e);
    }
  }
  for (EDGE* e : order) {
    std::vector<COEDGE*>& ring = rings[e];
    e->set_coedge(ring.front());
    for (std::size_t k = 0; k < ring.size(); ++k)
      ring[k]->set_partner(ring.size() == 1 ? nullptr : ring[(k + 1) % ring.size()]);
  }
}

// For every group an original belongs to, one duplicate holds the copies. The
// duplicate is the copy's alone and nothing else refers to it, so it goes when
// its last member does: deleting the copy (or folding its members back into
// the original group) leaves no empty group behind.
void duplicate_groups(const copy_result& r) {
  // Memberships by the closure's own group links, in order of their owners and,
  // for one owner, of its chain (the scan reaches a chain in order).
  struct membership {
    int owner;
    QELCOLLECTION* group;
  };
  std::vector<membership> found;
  for (int i : r.attributes) {
    ENTITY* a = r.originals[i];
    if (!is_ATTRIB_QELCOLLECTION(a)) continue;
    QELCOLLECTION* group = static_cast<ATTRIB_QELCOLLECTION*>(a)->collection();
    ENTITY* owner = static_cast<ATTRIB*>(a)->entity();
    int at = owner && !is_ATTRIB(owner) ? r.originals.lookup(owner) : -1;
    if (is_QELGROUP(group) && at > 0 && r.copies[static_cast<std::size_t>(at)]) found.push_back({at, group});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const membership& x, const membership& y) { return x.owner < y.owner; });
  velm_address_map<QELCOLLECTION*> duplicates;
  for (const membership& m : found) {
    QELCOLLECTION*& dup = *duplicates.insert(m.group, nullptr).first;
    if (!dup) {
      dup = static_cast<QELCOLLECTION*>(copy_one(m.group).root());
      dup->set_collection_empty_behavior(1);
    }
    dup->add_ent(r.copies[static_cast<std::size_t>(m.owner)]);
  }
}

ENTITY* copy_with_groups(const ENTITY* root) {
  copy_result r = copy_one(root);
  if (is_topology(root) && !is_BODY(root)) close_partial_topology(r.copies);
  duplicate_groups(r);
  return r.root();
}
}  // namespace

outcome api_copy_body(BODY* body, BODY*& copy) {
  copy = nullptr;
  BODY* made = nullptr;
  outcome result = velm_api("api_copy_body", [&] {
    require_live(body);
    if (!is_BODY(body)) velm_api_error_throw(VELM_WRONG_TYPE);
    made = static_cast<BODY*>(copy_with_groups(body));
  });
  if (result.ok()) copy = made;
  return result;
}

outcome api_copy_entity(const ENTITY* e, ENTITY*& copy) {
  copy = nullptr;
  ENTITY* made = nullptr;
  outcome result = velm_api("api_copy_entity", [&] {
    require_live(e);
    made = copy_with_groups(e);
  });
  if (result.ok()) copy = made;
  return result;
}

// ---------------------------------------------------------------------------
// Builders.
namespace {
// Senses that chain the edges in the given order: forward where possible.
std::vector<sense_type> chain_senses(const std::vector<EDGE*>& edges) {
  std::vector<sense_type> senses(edges.size(), FORWARD);
  if (edges.size() > 1) {
    const EDGE* a = edges[0];
    const EDGE* b = edges[1];
    if (!ends_at(b, a->end()) && ends_at(b, a->start())) senses[0] = REVERSED;
  }
  for (std::size_t i = 1; i < edges.size(); ++i) {
    VERTEX* joint = senses[i - 1] == FORWARD ? edges[i - 1]->end() : edges[i - 1]->start();
    if (edges[i]->start() == joint) {
      senses[i] = FORWARD;
    } else if (edges[i]->end() == joint) {
      senses[i] = REVERSED;
    } else {
      velm_api_error_throw(VELM_BAD_ARGUMENT);  // not one chain
    }
  }
  return senses;
}

bool free_coedge(const EDGE* e) {
  const COEDGE* c = e->coedge();
  return c && !c->loop() && !c->wire() && !c->partner() && (!c->next() || c->next() == c) &&
         (!c->previous() || c->previous() == c);
}

BODY* wire_body(const std::vector<EDGE*>& edges) {
  if (edges.empty()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  for (EDGE* e : edges) {
    require_live(e);
    if (!is_EDGE(e)) velm_api_error_throw(VELM_BAD_ARGUMENT);
  }
  // One edge that brings a free coedge of its own (in no loop or wire,
  // linked only to itself) keeps it, with its kind and sense, ringed only
  // when the edge closes.
  if (edges.size() == 1 && free_coedge(edges[0])) {
    COEDGE* own = edges[0]->coedge();
    COEDGE* ring = edges[0]->start() == edges[0]->end() ? own : nullptr;
    own->set_next(ring);
    own->set_previous(ring);
    auto* wire = velm_require(VELM_NEW WIRE(own, nullptr));
    auto* body = velm_require(VELM_NEW BODY(wire));
    for (VERTEX* v : {edges[0]->start(), edges[0]->end()}) minimize_vertex_edges(v);
    return body;
  }
  for (EDGE* e : edges)
    if (e->coedge()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  std::vector<sense_type> senses = chain_senses(edges);
  std::vector<COEDGE*> coedges;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    COEDGE* previous = coedges.empty() ? nullptr : coedges.back();
    auto* c = velm_require(VELM_NEW COEDGE(edges[i], senses[i], previous, nullptr));
    if (previous) previous->set_next(c);
    coedges.push_back(c);
  }
  if (coedges.back()->end() == coedges.front()->start()) {
    coedges.back()->set_next(coedges.front());
    coedges.front()->set_previous(coedges.back());
  }
  auto* wire = velm_require(VELM_NEW WIRE(coedges.front(), nullptr));
  auto* body = velm_require(VELM_NEW BODY(wire));
  for (EDGE* e : edges)
    for (VERTEX* v : {e->start(), e->end()}) minimize_vertex_edges(v);
  return body;
}

// Connected chains of edges (shared vertices), each in walking order from an
// end vertex where it has one.
std::vector<std::vector<EDGE*>> chains_of(const std::vector<EDGE*>& edges) {
  std::unordered_map<const VERTEX*, std::vector<EDGE*>> at;
  for (EDGE* e : edges) {
    require_live(e);
    at[e->start()].push_back(e);
    if (e->end() != e->start()) at[e->end()].push_back(e);
  }
  for (auto& [v, list] : at)
    if (list.size() > 2) velm_api_error_throw(VELM_BAD_ARGUMENT);  // branching: no chain
  std::unordered_set<const EDGE*> used;
  std::vector<std::vector<EDGE*>> chains;
  auto walk_from = [&](EDGE* first, const VERTEX* from) {
    std::vector<EDGE*> chain;
    for (EDGE* e = first; e && !used.count(e);) {
      used.insert(e);
      chain.push_back(e);
      const VERTEX* to = e->start() == from ? e->end() : e->start();
      EDGE* next = nullptr;
      for (EDGE* n : at[to])
        if (!used.count(n)) next = n;
      from = to;
      e = next;
    }
    chains.push_back(std::move(chain));
  };
  for (EDGE* e : edges)  // open chains from their ends first
    for (const VERTEX* v : {e->start(), e->end()})
      if (!used.count(e) && at[v].size() == 1) walk_from(e, v);
  for (EDGE* e : edges)
    if (!used.count(e)) walk_from(e, e->start());
  return chains;
}
}  // namespace

outcome api_make_ewire(int n_edges, EDGE* edges[], BODY*& body) {
  body = nullptr;
  BODY* made = nullptr;
  outcome result = velm_api("api_make_ewire", [&] {
    if (n_edges < 1 || !edges) velm_api_error_throw(VELM_BAD_ARGUMENT);
    made = wire_body(std::vector<EDGE*>(edges, edges + n_edges));
  });
  if (result.ok()) body = made;
  return result;
}

outcome api_make_ewires(int n_edges, EDGE* edges[], int& n_bodies, BODY**& bodies) {
  n_bodies = 0;
  bodies = nullptr;
  std::vector<BODY*> made;
  outcome result = velm_api("api_make_ewires", [&] {
    if (n_edges < 1 || !edges) velm_api_error_throw(VELM_BAD_ARGUMENT);
    for (const std::vector<EDGE*>& chain : chains_of(std::vector<EDGE*>(edges, edges + n_edges)))
      made.push_back(wire_body(chain));
  });
  if (result.ok()) {
    n_bodies = static_cast<int>(made.size());
    bodies = new BODY*[made.size()];
    std::copy(made.begin(), made.end(), bodies);
  }
  return result;
}

outcome api_mk_by_faces(BODY* to_body, int n_faces, FACE* faces[], BODY*& body) {
  body = nullptr;
  BODY* made = nullptr;
  outcome result = velm_api("api_mk_by_faces", [&] {
    if (n_faces < 1 || !faces) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (to_body) require_live(to_body);
    for (int i = 0; i < n_faces; ++i) {
      require_live(faces[i]);
      if (!is_FACE(faces[i])) velm_api_error_throw(VELM_WRONG_TYPE);
    }
    for (int i = 0; i < n_faces; ++i) {
      unlink_from_parent(faces[i]);
      faces[i]->set_next(i + 1 < n_faces ? faces[i + 1] : nullptr);
    }
    auto* shell = velm_require(VELM_NEW SHELL(faces[0], nullptr));
    auto* lump = velm_require(VELM_NEW LUMP(shell, nullptr));
    made = to_body ? to_body : velm_require(VELM_NEW BODY());
    lump->set_next(made->lump());
    made->set_lump(lump);
    lump->set_body(made);
  });
  if (result.ok()) body = made;
  return result;
}
