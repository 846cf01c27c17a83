// Manifold classification, separation of bodies, transforms and reversal.
#include "velm/build.hxx"

#include <algorithm>
#include <map>
#include <numeric>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology_api.hxx"

using namespace velm_query;

namespace {

class union_find {
 public:
  explicit union_find(std::size_t n) : up_(n) { std::iota(up_.begin(), up_.end(), std::size_t{0}); }
  std::size_t find(std::size_t k) {
    while (up_[k] != k) k = up_[k] = up_[up_[k]];
    return k;
  }
  void unite(std::size_t a, std::size_t b) {
    a = find(a), b = find(b);
    if (a != b) up_[std::max(a, b)] = std::min(a, b);  // the earliest stays the root
  }
  // Groups of indices, ordered by their first member.
  std::vector<std::vector<std::size_t>> groups() {
    std::map<std::size_t, std::vector<std::size_t>> by_root;
    for (std::size_t k = 0; k < up_.size(); ++k) by_root[find(k)].push_back(k);
    std::vector<std::vector<std::size_t>> out;
    for (auto& [root, members] : by_root) out.push_back(std::move(members));
    return out;
  }

 private:
  std::vector<std::size_t> up_;
};

std::vector<COEDGE*> face_coedges(const FACE* f) {
  std::vector<COEDGE*> out;
  for (LOOP* l : chain(f->loop()))
    for (COEDGE* c : loop_coedges(l)) out.push_back(c);
  return out;
}

const FACE* coedge_face(const COEDGE* c) { return c && c->loop() ? c->loop()->face() : nullptr; }

// Groups of faces connected through shared edges, in the order of `faces`.
std::vector<std::vector<FACE*>> edge_connected(const std::vector<FACE*>& faces) {
  std::map<const FACE*, std::size_t> index;
  for (std::size_t k = 0; k < faces.size(); ++k) index[faces[k]] = k;
  union_find uf(faces.size());
  for (std::size_t k = 0; k < faces.size(); ++k)
    for (COEDGE* c : face_coedges(faces[k]))
      for (COEDGE* p : edge_coedges(c->edge()))
        if (auto it = index.find(coedge_face(p)); it != index.end()) uf.unite(k, it->second);
  std::vector<std::vector<FACE*>> out;
  for (auto& g : uf.groups()) {
    out.emplace_back();
    for (std::size_t k : g) out.back().push_back(faces[k]);
  }
  return out;
}

bool solid_group(const std::vector<FACE*>& faces) {
  for (const FACE* f : faces) {
    if (f->sides() != 0) return false;
    for (COEDGE* c : face_coedges(f)) {
      std::vector<COEDGE*> ring = edge_coedges(c->edge());
      if (ring.size() != 2 || ring[0]->sense() == ring[1]->sense()) return false;
      if (std::find(faces.begin(), faces.end(), coedge_face(ring[0] == c ? ring[1] : ring[0])) == faces.end())
        return false;
    }
  }
  return true;
}

std::vector<WIRE*> body_wires(const BODY* b) {
  std::vector<WIRE*> out = chain(b->wire());
  for (LUMP* l : chain(b->lump()))
    for (SHELL* s : chain(l->shell()))
      for (WIRE* w : chain(s->wire())) out.push_back(w);
  return out;
}

// Wire edges connected through their vertices.
std::vector<std::vector<EDGE*>> wire_groups_of(const BODY* b) {
  std::vector<EDGE*> edges;
  for (WIRE* w : body_wires(b))
    for (COEDGE* c : wire_coedges(w))
      if (c->edge() && std::find(edges.begin(), edges.end(), c->edge()) == edges.end()) edges.push_back(c->edge());
  union_find uf(edges.size());
  std::map<const VERTEX*, std::size_t> first_at;
  for (std::size_t k = 0; k < edges.size(); ++k)
    for (const VERTEX* v : {edges[k]->start(), edges[k]->end()})
      if (v) {
        auto [it, fresh] = first_at.emplace(v, k);
        if (!fresh) uf.unite(k, it->second);
      }
  std::vector<std::vector<EDGE*>> out;
  for (auto& g : uf.groups()) {
    out.emplace_back();
    for (std::size_t k : g) out.back().push_back(edges[k]);
  }
  return out;
}

void nonmanifold_topology(const std::vector<FACE*>& faces, ENTITY_LIST& edges, ENTITY_LIST& vertices) {
  std::vector<COEDGE*> all;
  for (const FACE* f : faces)
    for (COEDGE* c : face_coedges(f)) all.push_back(c);
  for (COEDGE* c : all) {
    std::vector<COEDGE*> ring = edge_coedges(c->edge());
    std::size_t on_faces = 0;
    for (COEDGE* p : ring) on_faces += coedge_face(p) ? 1 : 0;
    if (on_faces > 2 || (on_faces == 2 && ring[0]->sense() == ring[1]->sense())) edges.add(c->edge());
  }
  // Coedges at each vertex, joined where a loop turns at the vertex and across partners.
  std::map<const VERTEX*, std::vector<COEDGE*>> at;
  for (COEDGE* c : all) {
    at[c->start()].push_back(c);
    if (c->end() != c->start()) at[c->end()].push_back(c);
  }
  for (const FACE* f : faces)
    for (COEDGE* c : face_coedges(f))
      for (VERTEX* v : {c->start(), c->end()}) {
        auto it = at.find(v);
        if (it == at.end()) continue;
        std::vector<COEDGE*>& cs = it->second;
        union_find uf(cs.size());
        auto index = [&](const COEDGE* x) { return std::size_t(std::find(cs.begin(), cs.end(), x) - cs.begin()); };
        for (std::size_t k = 0; k < cs.size(); ++k) {
          if (cs[k]->end() == v) {
            std::size_t n = index(cs[k]->next());
            if (n < cs.size()) uf.unite(k, n);
          }
          for (COEDGE* p : edge_coedges(cs[k]->edge()))
            if (std::size_t j = index(p); j < cs.size()) uf.unite(k, j);
        }
        if (uf.groups().size() > 1) vertices.add(v);
        at.erase(it);
      }
}

}  // namespace

outcome api_manifold_class(BODY* body, int& n_groups, ENTITY_LIST*& solid_groups, ENTITY_LIST*& sheet_groups,
                           ENTITY_LIST*& lamina_groups, ENTITY_LIST& nonmanifold_edges,
                           ENTITY_LIST& nonmanifold_vertices, ENTITY_LIST*& wire_groups) {
  solid_groups = sheet_groups = lamina_groups = wire_groups = nullptr;
  n_groups = 0;
  return velm_api("api_manifold_class", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    std::vector<FACE*> faces;
    for (const FACE* f : body_faces(body)) faces.push_back(const_cast<FACE*>(f));
    auto face_groups = edge_connected(faces);
    auto wires = wire_groups_of(body);
    const std::size_t n = face_groups.size() + wires.size();
    ENTITY_LIST* made[4] = {};
    try {
      for (ENTITY_LIST*& a : made) a = velm_require(new ENTITY_LIST[n]);
    } catch (...) {
      for (ENTITY_LIST* a : made) delete[] a;
      throw;
    }
    solid_groups = made[0], sheet_groups = made[1], lamina_groups = made[2], wire_groups = made[3];
    for (std::size_t k = 0; k < face_groups.size(); ++k) {
      const auto& g = face_groups[k];
      bool lamina = std::all_of(g.begin(), g.end(), [](const FACE* f) { return f->sides() != 0; });
      ENTITY_LIST* kind = lamina ? lamina_groups : solid_group(g) ? solid_groups : sheet_groups;
      for (FACE* f : g) kind[k].add(f);
    }
    for (std::size_t k = 0; k < wires.size(); ++k)
      for (EDGE* e : wires[k]) wire_groups[face_groups.size() + k].add(e);
    nonmanifold_topology(faces, nonmanifold_edges, nonmanifold_vertices);
    n_groups = static_cast<int>(n);
  });
}

// ---------------------------------------------------------------------------
namespace {

void set_shell_faces(SHELL* s, const std::vector<FACE*>& faces) {
  s->set_face(faces.empty() ? nullptr : faces.front());
  for (std::size_t k = 0; k < faces.size(); ++k) {
    faces[k]->set_shell(s);
    faces[k]->set_next(k + 1 < faces.size() ? faces[k + 1] : nullptr);
  }
}

void set_lump_shells(LUMP* l, const std::vector<SHELL*>& shells) {
  l->set_shell(shells.empty() ? nullptr : shells.front());
  for (std::size_t k = 0; k < shells.size(); ++k) {
    shells[k]->set_lump(l);
    shells[k]->set_next(k + 1 < shells.size() ? shells[k + 1] : nullptr);
  }
}

std::vector<FACE*> shell_faces(const SHELL* s) { return chain(s->face()); }

QELbox shell_box(const SHELL* s) {
  QELbox b;
  for (const FACE* f : shell_faces(s)) b |= get_face_box(f);
  return b;
}

// Whether the point lies on the inner side of the closed shell: judged by the
// outward normal at the nearest point of a face interior; without one, yes.
bool inside_shell(const QELposition& p, const SHELL* s) {
  double best = -1.0;
  bool inside = true;
  for (const FACE* f : shell_faces(s)) {
    const surface* srf = face_surface(f);
    if (!srf) continue;
    QELposition foot;
    QELpar_pos uv;
    srf->point_perp(p, foot, nullptr, &uv);
    double d = distance(p, foot);
    if ((best >= 0.0 && d >= best) || classify(face_polygons(f), uv) != pfc_inside) continue;
    QELvector n = srf->eval_normal(uv);
    if (f->sense() == REVERSED) n = -n;
    best = d;
    inside = (p - foot) % n < 0.0;
  }
  return inside;
}

bool encloses(const SHELL* outer, const QELbox& outer_box, const SHELL* inner, const QELbox& inner_box) {
  if (outer == inner || !outer->is_closed() || inner_box.empty() || !(outer_box >> inner_box)) return false;
  const FACE* f = inner->face();
  const COEDGE* c = f && f->loop() ? f->loop()->start() : nullptr;
  return !c || inside_shell(c->start_pos(), outer);
}

std::vector<VERTEX*> shell_vertices(const SHELL* s) {
  std::vector<VERTEX*> out;
  for (const FACE* f : shell_faces(s))
    for (COEDGE* c : face_coedges(f)) out.push_back(c->start());
  return out;
}

BODY* body_for(LUMP* lump, const BODY* like) {
  auto* b = velm_require(VELM_NEW BODY(lump));
  if (like->transform()) b->set_transform(velm_require(VELM_NEW TRANSFORM(like->transform()->transform())));
  return b;
}

// Unlinks and deletes a lump that no longer holds shells.
void drop_lump(LUMP* l) {
  l->set_shell(nullptr);
  l->set_next(nullptr);
  l->lose();
}

// Geometry that faces or edges of more than one piece hold is copied for
// every piece but the first to hold it: a body's geometry is its own, and
// moving one body must not move another.
void own_shared_geometry(BODY* body, const ENTITY_LIST& made, int from) {
  std::vector<BODY*> pieces = {body};
  for (int k = from; k < made.count(); ++k) pieces.push_back(static_cast<BODY*>(made[k]));
  if (pieces.size() < 2) return;
  std::map<const ENTITY*, std::size_t> holder;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    std::map<const ENTITY*, ENTITY*> copies;
    auto shared = [&](const ENTITY* g) { return g && holder.emplace(g, p).first->second != p; };
    for (const FACE* f : body_faces(pieces[p])) {
      SURFACE* g = f->geometry();
      if (!shared(g) || !g->has_equation()) continue;
      ENTITY*& copy = copies[g];
      if (!copy) copy = make_surface(g->equation());
      const_cast<FACE*>(f)->set_geometry(static_cast<SURFACE*>(copy));
    }
    ENTITY_LIST edges;
    velm_topology_walk(pieces[p], EDGE_TYPE, edges);
    for (int k = 0; k < edges.count(); ++k) {
      auto* e = static_cast<EDGE*>(edges[k]);
      CURVE* g = e->geometry();
      if (!shared(g) || !g->has_equation()) continue;
      ENTITY*& copy = copies[g];
      if (!copy) copy = make_curve(g->equation());
      e->set_geometry(static_cast<CURVE*>(copy));
    }
  }
}

}  // namespace

void separate_body_shells(BODY* body, ENTITY_LIST& new_bodies) {
  velm_check_call("separate_body_shells");
  if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
  std::vector<LUMP*> lumps = chain(body->lump());
  if (lumps.empty()) return;
  const int made_before = new_bodies.count();

  // Shells of edge-connected faces, in kernel order.
  std::vector<SHELL*> shells;
  for (LUMP* l : lumps)
    for (SHELL* s : chain(l->shell())) {
      auto groups = edge_connected(shell_faces(s));
      if (groups.empty()) groups.emplace_back();
      set_shell_faces(s, groups[0]);
      shells.push_back(s);
      for (std::size_t k = 1; k < groups.size(); ++k) {
        auto* extra = velm_require(VELM_NEW SHELL());
        set_shell_faces(extra, groups[k]);
        shells.push_back(extra);
      }
    }

  // Pieces: top shells with the shells they enclose; shells sharing a vertex stay together.
  std::vector<QELbox> boxes;
  for (SHELL* s : shells) boxes.push_back(shell_box(s));
  union_find uf(shells.size());
  for (std::size_t i = 0; i < shells.size(); ++i) {
    bool top = true;
    for (std::size_t j = 0; j < shells.size() && top; ++j)
      if (encloses(shells[j], boxes[j], shells[i], boxes[i])) {
        uf.unite(i, j);
        top = false;
      }
  }
  std::map<const VERTEX*, std::size_t> seen;
  for (std::size_t k = 0; k < shells.size(); ++k)
    for (const VERTEX* v : shell_vertices(shells[k])) {
      auto [it, fresh] = seen.emplace(v, k);
      if (!fresh) uf.unite(k, it->second);
    }

  auto pieces = uf.groups();
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    std::vector<SHELL*> members;
    for (std::size_t k : pieces[p]) members.push_back(shells[k]);
    LUMP* lump = p == 0 ? lumps[0] : velm_require(VELM_NEW LUMP());
    set_lump_shells(lump, members);
    if (p == 0) {
      lump->set_next(nullptr);
      lump->set_body(body);
      body->set_lump(lump);
    } else {
      new_bodies.add(body_for(lump, body));
    }
  }
  for (std::size_t k = 1; k < lumps.size(); ++k)
    if (lumps[k]->body() == body) drop_lump(lumps[k]);
  own_shared_geometry(body, new_bodies, made_before);
}

void separate_body_lumps(BODY* body, ENTITY_LIST& new_bodies) {
  velm_check_call("separate_body_lumps");
  if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
  std::vector<LUMP*> lumps = chain(body->lump());
  for (std::size_t k = 0; k < lumps.size(); ++k) lumps[k]->set_next(nullptr);
  const int made_before = new_bodies.count();
  for (std::size_t k = 1; k < lumps.size(); ++k) new_bodies.add(body_for(lumps[k], body));
  own_shared_geometry(body, new_bodies, made_before);
}

// ---------------------------------------------------------------------------
namespace {

// Transforms the geometry of everything at or below `root` once, and its
// attributes; under a reflection every loop is turned round (see the header).
// A body's own attributes are not touched when its transform is baked in:
// they already followed the body when api_apply_transf composed it.
void transform_entities(ENTITY* root, const QELtransf& t) {
  ENTITY_LIST topo, done;
  velm_topology_walk(root, topo);
  if (is_BODY(root))
    done.add(root);
  else
    topo.add(root);
  std::vector<LOOP*> loops;
  for (ENTITY* e = (topo.init(), topo.next()); e; e = topo.next()) {
    e->apply_transform(t, done);
    ENTITY* geometry[2] = {nullptr, nullptr};
    if (is_FACE(e)) {
      auto* f = static_cast<FACE*>(e);
      geometry[0] = f->geometry();
      if (f->bound()) f->set_bound(nullptr);
    } else if (is_LOOP(e)) {
      loops.push_back(static_cast<LOOP*>(e));
    } else if (is_COEDGE(e)) {
      geometry[0] = static_cast<COEDGE*>(e)->geometry();
      if (is_TCOEDGE(e)) geometry[1] = static_cast<TCOEDGE*>(e)->get_3D_curve();
    } else if (is_EDGE(e)) {
      auto* ed = static_cast<EDGE*>(e);
      geometry[0] = ed->geometry();
      if (ed->bound()) ed->set_bound(nullptr);
    } else if (is_VERTEX(e)) {
      auto* v = static_cast<VERTEX*>(e);
      geometry[0] = v->geometry();
      if (v->bound()) v->set_bound(nullptr);
    }
    for (ENTITY* g : geometry)
      if (g) g->apply_transform(t, done);
  }
  if (t.reflect())
    for (LOOP* l : loops) l->reverse();
}

}  // namespace

outcome api_apply_transf(ENTITY* entity, const QELtransf& t) {
  return velm_api("api_apply_transf", [&] {
    if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
    if (!is_BODY(entity)) return transform_entities(entity, t);
    auto* body = static_cast<BODY*>(entity);
    trans_attrib(body, t);
    TRANSFORM* tr = body->transform();
    if (!tr)
      body->set_transform(velm_require(VELM_NEW TRANSFORM(t)));
    else if (tr->use_count() > 1)
      body->set_transform(velm_require(VELM_NEW TRANSFORM(tr->transform() * t)));
    else
      *tr *= t;
  });
}

outcome api_change_body_trans(BODY* body, TRANSFORM* new_transform, bool negate) {
  return velm_api("api_change_body_trans", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    // Negated, the body gets a transform of its own holding the inverse; the
    // given one is left as it is.
    TRANSFORM* given = new_transform && negate
                           ? velm_require(VELM_NEW TRANSFORM(new_transform->transform().inverse()))
                           : new_transform;
    QELtransf old = body->transform() ? body->transform()->transform() : QELtransf();
    QELtransf apply = given ? old * given->transform().inverse() : old;
    if (!apply.identity()) transform_entities(body, apply);
    if (body->transform() != given) body->set_transform(given);
  });
}

QELtransf get_owner_transf(const ENTITY* entity) {
  const BODY* b = owning_body(entity);
  return b && b->transform() ? b->transform()->transform() : QELtransf();
}

void reverse_loop(LOOP* loop) {
  if (!loop) velm_api_error_throw(VELM_NULL_ENTITY);
  loop->reverse();
}

namespace {
void reverse_face(FACE* f) {
  f->set_sense(f->sense() == FORWARD ? REVERSED : FORWARD);
  for (LOOP* l : chain(f->loop())) l->reverse();
}
}  // namespace

outcome api_reverse_face(FACE* face) {
  return velm_api("api_reverse_face", [&] {
    if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
    reverse_face(face);
  });
}

outcome api_reverse_body(BODY* body) {
  return velm_api("api_reverse_body", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    for (const FACE* f : body_faces(body)) reverse_face(const_cast<FACE*>(f));
  });
}

// ---------------------------------------------------------------------------
// Separation, flattening and unstitching of whole bodies.
#include "velm/body_heal.hxx"

namespace {

BODY** body_array(BODY* first, const ENTITY_LIST& more, int& n) {
  n = 1 + more.count();
  auto** out = new BODY*[static_cast<std::size_t>(n)];
  out[0] = first;
  for (int k = 0; k < more.count(); ++k) out[k + 1] = static_cast<BODY*>(more[k]);
  return out;
}

// Face groups connected through manifold edges only (two face coedges of
// opposite senses), so that groups meeting at a non-manifold edge stay apart.
std::map<const FACE*, std::size_t> manifold_groups(const std::vector<FACE*>& faces) {
  std::map<const FACE*, std::size_t> index;
  for (std::size_t k = 0; k < faces.size(); ++k) index[faces[k]] = k;
  union_find uf(faces.size());
  for (std::size_t k = 0; k < faces.size(); ++k)
    for (COEDGE* c : face_coedges(faces[k])) {
      std::vector<COEDGE*> ring;
      for (COEDGE* p : edge_coedges(c->edge()))
        if (coedge_face(p)) ring.push_back(p);
      if (ring.size() != 2 || ring[0]->sense() == ring[1]->sense()) continue;
      if (auto it = index.find(coedge_face(ring[0] == c ? ring[1] : ring[0])); it != index.end()) uf.unite(k, it->second);
    }
  std::map<const FACE*, std::size_t> group;
  for (std::size_t k = 0; k < faces.size(); ++k) group[faces[k]] = uf.find(k);
  return group;
}

void link_ring(EDGE* e, const std::vector<COEDGE*>& ring) {
  e->set_coedge(ring.empty() ? nullptr : ring.front());
  for (std::size_t k = 0; k < ring.size(); ++k) {
    ring[k]->set_edge(e);
    ring[k]->set_partner(ring.size() > 1 ? ring[(k + 1) % ring.size()] : nullptr);
  }
}

void swap_vertex(EDGE* e, VERTEX* from, VERTEX* to) {
  if (e->start() == from) e->set_start(to);
  if (e->end() == from) e->set_end(to);
  from->delete_edge(e);
  to->add_edge(e);
}

BODY* body_of_groups(const std::vector<std::vector<FACE*>>& groups, const BODY* like) {
  if (groups.empty()) return nullptr;
  LUMP* first = nullptr;
  LUMP* last = nullptr;
  for (const auto& g : groups) {
    auto* shell = velm_require(VELM_NEW SHELL());
    set_shell_faces(shell, g);
    auto* lump = velm_require(VELM_NEW LUMP());
    set_lump_shells(lump, {shell});
    if (last) {
      last->set_next(lump);
    } else {
      first = lump;
    }
    last = lump;
  }
  BODY* b = body_for(first, like);
  for (LUMP* l : chain(first)) l->set_body(b);
  copy_attrib(like, b);
  return b;
}

}  // namespace

outcome api_separate_body(BODY* body, int& n_bodies, BODY**& bodies) {
  n_bodies = 0;
  bodies = nullptr;
  return velm_api("api_separate_body", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    ENTITY_LIST made;
    separate_body_shells(body, made);
    separate_body_lumps(body, made);
    for (int k = 0; k < made.count(); ++k) copy_attrib(body, made[k]);
    bodies = body_array(body, made, n_bodies);
  });
}

outcome api_flatten_body(BODY* body) {
  return velm_api("api_flatten_body", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    std::vector<LUMP*> lumps = chain(body->lump());
    if (lumps.empty()) return;
    std::vector<FACE*> faces;
    std::vector<WIRE*> wires;
    std::vector<SHELL*> shells;
    for (LUMP* l : lumps)
      for (SHELL* s : chain(l->shell())) {
        shells.push_back(s);
        for (FACE* f : shell_faces(s)) faces.push_back(f);
        for (WIRE* w : chain(s->wire())) wires.push_back(w);
      }
    if (shells.empty()) return;
    SHELL* keep = shells.front();
    set_shell_faces(keep, faces);
    keep->set_wire(wires.empty() ? nullptr : wires.front());
    for (std::size_t k = 0; k < wires.size(); ++k) {
      wires[k]->set_shell(keep);
      wires[k]->set_next(k + 1 < wires.size() ? wires[k + 1] : nullptr);
    }
    for (std::size_t k = 1; k < shells.size(); ++k) {
      shells[k]->set_face(nullptr);
      shells[k]->set_wire(nullptr);
      shells[k]->set_next(nullptr);
      shells[k]->lose();
    }
    set_lump_shells(lumps.front(), {keep});
    lumps.front()->set_next(nullptr);
    for (std::size_t k = 1; k < lumps.size(); ++k) {
      lumps[k]->set_shell(nullptr);
      drop_lump(lumps[k]);
    }
  });
}

outcome api_unstitch_nonmani(BODY* body, BODY*& solids, BODY*& sheets, BODY*& laminas, BODY*& wires) {
  solids = sheets = laminas = wires = nullptr;
  return velm_api("api_unstitch_nonmani", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    std::vector<FACE*> faces;
    for (const FACE* f : body_faces(body)) faces.push_back(const_cast<FACE*>(f));
    const auto group = manifold_groups(faces);
    auto group_of = [&](const COEDGE* c) -> std::size_t {
      const FACE* f = coedge_face(c);
      return f ? group.at(f) : faces.size();  // wires form a group of their own
    };

    // Each face group gets its own copy of a non-manifold edge.
    std::vector<EDGE*> edges;
    for (FACE* f : faces)
      for (COEDGE* c : face_coedges(f))
        if (std::find(edges.begin(), edges.end(), c->edge()) == edges.end()) edges.push_back(c->edge());
    for (EDGE* e : edges) {
      std::map<std::size_t, std::vector<COEDGE*>> by_group;
      std::vector<std::size_t> order;
      for (COEDGE* c : edge_coedges(e)) {
        auto [it, fresh] = by_group.try_emplace(group_of(c));
        if (fresh) order.push_back(it->first);
        it->second.push_back(c);
      }
      if (order.size() < 2) continue;
      link_ring(e, by_group[order[0]]);
      for (std::size_t k = 1; k < order.size(); ++k) {
        const QELinterval range = e->param_range();
        // Each piece owns its geometry: nothing is shared across the bodies made.
        CURVE* curve = e->geometry() && e->geometry()->has_equation() ? make_curve(e->geometry()->equation()) : nullptr;
        auto* copy = velm_require(VELM_NEW EDGE(e->start(), e->end(), curve, e->sense(), e->get_convexity(), &range));
        if (copy->start()) copy->start()->add_edge(copy);
        if (copy->end()) copy->end()->add_edge(copy);
        link_ring(copy, by_group[order[k]]);
      }
    }

    // Each further face group at a vertex gets its own copy of the vertex.
    ENTITY_LIST vertices;
    velm_topology_walk(body, VERTEX_TYPE, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
      auto* v = static_cast<VERTEX*>(vertices[i]);
      ENTITY_LIST around;
      sg_q_edges_around_vertex(v, &around);
      std::map<std::size_t, std::vector<EDGE*>> by_group;
      std::vector<std::size_t> order;
      for (int k = 0; k < around.count(); ++k) {
        auto* e = static_cast<EDGE*>(around[k]);
        auto [it, fresh] = by_group.try_emplace(e->coedge() ? group_of(e->coedge()) : faces.size());
        if (fresh) order.push_back(it->first);
        it->second.push_back(e);
      }
      for (std::size_t k = 1; k < order.size(); ++k) {
        APOINT* point = v->geometry() ? velm_require(VELM_NEW APOINT(v->geometry()->coords())) : nullptr;
        auto* copy = velm_require(VELM_NEW VERTEX(point));
        for (EDGE* e : by_group[order[k]]) swap_vertex(e, v, copy);
      }
      if (order.size() > 1) minimize_vertex_edges(v);
    }

    // Sort the face groups into the four bodies.
    std::vector<std::vector<FACE*>> kinds[3];
    for (auto& g : edge_connected(faces)) {
      const bool lamina = std::all_of(g.begin(), g.end(), [](const FACE* f) { return f->sides() != 0; });
      kinds[lamina ? 2 : solid_group(g) ? 0 : 1].push_back(g);
    }
    std::vector<WIRE*> all_wires = body_wires(body);
    std::vector<LUMP*> lumps = chain(body->lump());
    for (LUMP* l : lumps) {
      for (SHELL* s : chain(l->shell())) {
        s->set_face(nullptr);
        s->set_wire(nullptr);
        s->set_next(nullptr);
        s->lose();
      }
      l->set_shell(nullptr);
      drop_lump(l);
    }
    body->set_lump(nullptr);
    body->set_wire(nullptr);
    solids = body_of_groups(kinds[0], body);
    sheets = body_of_groups(kinds[1], body);
    laminas = body_of_groups(kinds[2], body);
    if (!all_wires.empty()) {
      for (std::size_t k = 0; k < all_wires.size(); ++k) {
        all_wires[k]->set_shell(nullptr);
        all_wires[k]->set_next(k + 1 < all_wires.size() ? all_wires[k + 1] : nullptr);
      }
      wires = velm_require(VELM_NEW BODY(all_wires.front()));
      for (WIRE* w : all_wires) w->set_body(wires);
      if (body->transform()) wires->set_transform(velm_require(VELM_NEW TRANSFORM(body->transform()->transform())));
      copy_attrib(body, wires);
    }
  });
}
