// Strict structural check of a model, for tests (of a body, or of the
// bodies an assembly or group holds): chains and rings closed,
// back-links right, partner rings consistent, vertex references covering every
// edge, use counts equal to the holders, attribute chains sound.
#include <map>
#include <string>
#include <vector>

#include "velm/math.hxx"  // before entity_internal.hxx, which names positions
#include "entity_internal.hxx"
#include "query_internal.hxx"

#include "velm/address_table.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class checker {
 public:
  explicit checker(std::string* report, std::vector<velm_model_finding>* findings = nullptr)
      : report_(report), findings_(findings) {}
  bool ok() const { return ok_; }

  void fail(const ENTITY* e, const std::string& what) {
    ok_ = false;
    if (findings_) findings_->push_back({e, what});
    if (report_)
      *report_ += std::string(e ? e->type_name() : "null") + " " +
                  std::to_string(e ? e->debug_number() : -1) + ": " + what + "\n";
  }

  bool live(const ENTITY* holder, const ENTITY* e, const char* link) {
    if (!e || velm_is_live_entity(e)) return true;
    fail(holder, std::string(link) + " is not a live entity");
    return false;
  }

  // A flat table and the order of first holding, so that counting the
  // holders of a large model stays linear and its report comes in one order.
  void hold(const ENTITY* g) {
    if (!g) return;
    auto [count, fresh] = holders_.insert(g, 0);
    if (fresh) held_.push_back(g);
    ++*count;
  }

  void attributes(const ENTITY* e) {
    const ATTRIB* previous = nullptr;
    std::size_t n = 0;
    const std::size_t limit = velm_walk_limit();
    for (ATTRIB* a = e->attrib(); a && n < limit; a = a->next(), ++n) {
      if (!live(e, a, "attribute")) return;
      if (a->entity() != e) fail(a, "owner is not the entity whose chain holds it");
      if (a->previous() != previous) fail(a, "previous link broken");
      previous = a;
    }
  }

  void body(const BODY* b) {
    hold(b->transform());
    for (LUMP* l = b->lump(); l && live(b, l, "lump"); l = l->next())
      if (l->body() != b) fail(l, "body link broken");
    for (WIRE* w = b->wire(); w && live(b, w, "wire"); w = w->next())
      if (w->body() != b) fail(w, "body link broken");
  }

  void lump(const LUMP* l) {
    for (SHELL* s = l->shell(); s && live(l, s, "shell"); s = s->next())
      if (s->lump() != l) fail(s, "lump link broken");
  }

  void shell(const SHELL* s) {
    for (FACE* f = s->face(); f && live(s, f, "face"); f = f->next())
      if (f->shell() != s) fail(f, "shell link broken");
    for (WIRE* w = s->wire(); w && live(s, w, "wire"); w = w->next())
      if (w->shell() != s) fail(w, "shell link broken");
  }

  // A face on a surface that closes up all round needs no loop.
  static bool boundless(const FACE* f) {
    const surface* s = f->geometry() ? f->geometry()->equation_ptr() : nullptr;
    return s && velm_query::surface_boundless(*s);
  }

  void face(const FACE* f) {
    hold(f->geometry());
    if (!f->loop() && !boundless(f)) fail(f, "no loop");
    for (LOOP* l = f->loop(); l && live(f, l, "loop"); l = l->next())
      if (l->face() != f) fail(l, "face link broken");
  }

  void loop(const LOOP* l) {
    COEDGE* start = l->start();
    if (!start) return fail(l, "no start coedge");
    std::size_t n = 0;
    const std::size_t limit = velm_walk_limit();
    COEDGE* c = start;
    do {
      if (!live(l, c, "coedge")) return;
      if (c->loop() != l) fail(c, "loop link broken");
      if (!sequence(c, true)) return;
      c = c->next();
    } while (c != start && ++n < limit);
    if (c != start) fail(l, "coedge ring does not close");
  }

  void wire(const WIRE* w) {
    for (COEDGE* c : wire_coedges(w)) {
      if (!live(w, c, "coedge")) return;
      if (c->wire() != w) fail(c, "wire link broken");
      if (!sequence(c, false)) return;
    }
  }

  // next/previous agree and the ends meet; a loop's ring has no gap.
  bool sequence(const COEDGE* c, bool in_loop) {
    COEDGE* next = c->next();
    if (!next) {
      if (in_loop) fail(c, "loop ring open");
      return !in_loop;
    }
    if (!live(c, next, "next")) return false;
    if (next->previous() != c) fail(c, "next's previous is not this coedge");
    if (c->end() != next->start()) fail(c, "end vertex is not the next coedge's start vertex");
    return true;
  }

  void coedge(const COEDGE* c) {
    hold(c->geometry());
    if (is_TCOEDGE(c)) hold(static_cast<const TCOEDGE*>(c)->get_3D_curve());
    EDGE* e = c->edge();
    if (!e) return fail(c, "no edge");
    if (!live(c, e, "edge")) return;
    bool found = false;
    for (COEDGE* p : edge_coedges(e)) found = found || p == c;
    if (!found) fail(c, "not in its edge's partner ring");
  }

  void edge(const EDGE* e) {
    hold(e->geometry());
    std::vector<COEDGE*> ring = edge_coedges(e);
    for (COEDGE* p : ring) {
      if (!live(e, p, "coedge in partner ring")) return;
      if (p->edge() != e) fail(p, "in a partner ring of another edge");
    }
    if (ring.size() == 1 && ring[0]->partner()) fail(e, "partner ring does not close");
    if (ring.size() > 1 && ring.back()->partner() != ring.front()) fail(e, "partner ring does not close");
    for (const VERTEX* v : {e->start(), e->end()}) {
      if (!v) {
        fail(e, "missing vertex");
        continue;
      }
      if (!live(e, v, "vertex")) continue;
      ENTITY_LIST around;
      sg_q_edges_around_vertex(v, &around);
      if (!around.contains(e)) fail(v, "edge not reachable from the vertex's references");
    }
  }

  void vertex(const VERTEX* v) {
    hold(v->geometry());
    for (int i = 0; EDGE* e = v->edge(i); ++i) {
      if (!live(v, e, "edge reference")) continue;
      if (e->start() != v && e->end() != v) fail(v, "references an edge that does not end at it");
    }
  }

  void use_counts() {
    for (const ENTITY* g : held_) {
      const int n = *holders_.find(g);
      if (!live(nullptr, g, "geometry")) continue;
      if (g->use_count() != n)
        fail(g, "use count " + std::to_string(g->use_count()) + " but " + std::to_string(n) +
                    " holders");
    }
  }

 private:
  std::string* report_;
  std::vector<velm_model_finding>* findings_;
  bool ok_ = true;
  velm_address_map<int> holders_;
  std::vector<const ENTITY*> held_;
};
}  // namespace

namespace {
bool check_model(const ENTITY* root, std::string* report, std::vector<velm_model_finding>* findings) {
  checker c(report, findings);
  if (!root) {
    c.fail(nullptr, "no model");
    return false;
  }
  if (!c.live(nullptr, root, "root")) return false;
  ENTITY_LIST all;
  velm_topology_walk(root, all);
  if (all.count() == 0 && !is_BODY(root)) {
    // Not topology (an assembly, a group): every body a save of it would
    // take along, each checked whole, and none sharing topology with another.
    ENTITY_LIST reached;
    velm_save_reach(root, reached);
    std::map<const ENTITY*, const ENTITY*> body_of;
    for (int i = 0; i < reached.count(); ++i) {
      if (!is_BODY(reached[i])) continue;
      ENTITY_LIST own;
      velm_topology_walk(reached[i], own);
      for (int k = 0; k < own.count(); ++k) {
        auto [at, fresh] = body_of.emplace(own[k], reached[i]);
        if (!fresh && at->second != reached[i]) c.fail(own[k], "belongs to two bodies");
        all.add(own[k]);
      }
    }
  }
  if (all.count() == 0) all.add(const_cast<ENTITY*>(root));
  for (int i = 0; i < all.count(); ++i) {
    const ENTITY* e = all[i];
    c.attributes(e);
    if (is_BODY(e)) c.body(static_cast<const BODY*>(e));
    if (is_LUMP(e)) c.lump(static_cast<const LUMP*>(e));
    if (is_SHELL(e)) c.shell(static_cast<const SHELL*>(e));
    if (is_FACE(e)) c.face(static_cast<const FACE*>(e));
    if (is_LOOP(e)) c.loop(static_cast<const LOOP*>(e));
    if (is_WIRE(e)) c.wire(static_cast<const WIRE*>(e));
    if (is_COEDGE(e)) c.coedge(static_cast<const COEDGE*>(e));
    if (is_EDGE(e)) c.edge(static_cast<const EDGE*>(e));
    if (is_VERTEX(e)) c.vertex(static_cast<const VERTEX*>(e));
  }
  c.use_counts();
  return c.ok();
}
}  // namespace

bool velm_test_check_model(const ENTITY* root, std::string* report) { return check_model(root, report, nullptr); }

bool velm_check_model_findings(const ENTITY* root, std::vector<velm_model_finding>& findings) {
  return check_model(root, nullptr, &findings);
}
