// Structure check of a restored file, run before anything walks it: every
// chain ends, every ring closes, every back-link names the holder whose chain
// or ring holds the entity, attributes and group memberships never loop. A
// walk that takes more steps than the file has records has met a loop, so no
// walk here needs a guard beyond that count.
#include <charconv>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "velm/math.hxx"  // before entity_internal.hxx, which names positions
#include "entity_internal.hxx"
#include "query_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"

namespace {

// What a back-link must be met in: a holder's list or ring of that kind.
enum list_kind {
  lumps, shells, faces, loops, body_wires, shell_wires, loop_coedges, attributes,
  partner_coedges, wire_coedges, list_kinds
};

const char* const list_names[list_kinds] = {
    "lump list", "shell list", "face list", "loop list", "wire list", "wire list",
    "coedge ring", "attribute chain", "partner ring", "coedge list"};

const char* const not_listed[list_kinds] = {
    "is not in its body's lump list",         "is not in its lump's shell list",
    "is not in its shell's face list",        "is not in its face's loop list",
    "is not in its body's wire list",         "is not in its shell's wire list",
    "is not in its loop's coedge ring",       "is not in its owner's attribute chain",
    "is not in its edge's partner ring",      "is not in its wire's coedge list"};

// The kinds whose list an entity must be met in, by its back-links.
void linked_kinds(const ENTITY* e, bool out[list_kinds]) {
  for (int k = 0; k < list_kinds; ++k) out[k] = false;
  if (is_ATTRIB(e)) out[attributes] = true;
  if (is_LUMP(e)) out[lumps] = static_cast<const LUMP*>(e)->body() != nullptr;
  if (is_SHELL(e)) out[shells] = static_cast<const SHELL*>(e)->lump() != nullptr;
  if (is_FACE(e)) out[faces] = static_cast<const FACE*>(e)->shell() != nullptr;
  if (is_LOOP(e)) out[loops] = static_cast<const LOOP*>(e)->face() != nullptr;
  if (is_WIRE(e)) {
    out[body_wires] = static_cast<const WIRE*>(e)->body() != nullptr;
    out[shell_wires] = static_cast<const WIRE*>(e)->shell() != nullptr;
  }
  if (is_COEDGE(e)) {
    const ENTITY* owner = e->owner();
    out[loop_coedges] = is_LOOP(owner);
    out[wire_coedges] = is_WIRE(owner);
    out[partner_coedges] = true;
  }
}

class restored_check {
 public:
  restored_check(ENTITY* const* records, int count) : records_(records), count_(count) {}

  [[noreturn]] void damage(const ENTITY* at, const std::string& what) const {
    velm_restore_damaged_at(record_of(at), at ? at->type_name() : nullptr, what.c_str());
  }

  // The file's record of an entity (-1 for none).
  int record_of(const ENTITY* e) const {
    for (int i = 0; i < count_; ++i)
      if (records_[i] == e) return i;
    return -1;
  }

  // Every edge between two vertices has a curve with an equation, and its
  // vertices lie on its curve's ends within the larger of their tolerances,
  // as the kernel's check holds them (two edges' curve links traded put both
  // edges' vertices off their curves, and every writer refuses such an
  // edge): the judgement the save refuses by. Runs once the structure is
  // known to be sound.
  void edges_restorable() const {
    for (int i = 0; i < count_; ++i) {
      if (!is_EDGE(records_[i])) continue;
      const std::string why = velm_query::edge_unsavable(
          static_cast<const EDGE*>(records_[i]), [&](const ENTITY* e) { return "record " + std::to_string(record_of(e)); });
      if (!why.empty()) damage(records_[i], why);
    }
  }

  // Every record: its own lists walked and counted, its back-links counted.
  void scan() {
    for (int i = 0; i < count_; ++i) {
      const ENTITY* e = records_[i];
      bool linked[list_kinds];
      linked_kinds(e, linked);
      for (int k = 0; k < list_kinds; ++k) linked_[k] += linked[k];
      attribute_chain(e);
      if (is_ATTRIB(e)) {
        auto* a = static_cast<const ATTRIB*>(e);
        if (!a->entity()) damage(a, "is an attribute of nothing");
        if (is_ATTRIB(a->entity())) attributes_on_attributes_.push_back(a);
        if (is_ATTRIB_QELCOLLECTION(a)) collection_links_.push_back(static_cast<const ATTRIB_QELCOLLECTION*>(a));
      } else if (is_BODY(e)) {
        auto* b = static_cast<const BODY*>(e);
        chain(lumps, b, b->lump(), [](const LUMP* l) { return l->next(); }, [](const LUMP* l) { return l->body(); });
        chain(body_wires, b, b->wire(), [](const WIRE* w) { return w->next(); },
              [](const WIRE* w) { return w->body(); });
      } else if (is_LUMP(e)) {
        auto* l = static_cast<const LUMP*>(e);
        chain(shells, l, l->shell(), [](const SHELL* s) { return s->next(); },
              [](const SHELL* s) { return s->lump(); });
      } else if (is_SHELL(e)) {
        auto* s = static_cast<const SHELL*>(e);
        chain(faces, s, s->face(), [](const FACE* f) { return f->next(); }, [](const FACE* f) { return f->shell(); });
        chain(shell_wires, s, s->wire(), [](const WIRE* w) { return w->next(); },
              [](const WIRE* w) { return w->shell(); });
      } else if (is_FACE(e)) {
        auto* f = static_cast<const FACE*>(e);
        // Every reader of a face (areas, boxes, the writers) evaluates its
        // surface: the judgement the save refuses by.
        if (const std::string why = velm_query::face_unsavable(
                f, [&](const ENTITY* s) { return "record " + std::to_string(record_of(s)); });
            !why.empty())
          damage(f, why);
        // Only a surface that closes up all round bounds a face without a
        // loop (the kernel's check refuses any other): a plane's would
        // reach as far as the largest real on every way out.
        const surface* eq = f->geometry()->equation_ptr();
        if (!f->loop() && !(eq && velm_query::surface_boundless(*eq)))
          damage(f, "has no loop, on a surface that does not close up all round");
        chain(loops, f, f->loop(), [](const LOOP* l) { return l->next(); }, [](const LOOP* l) { return l->face(); });
      } else if (is_LOOP(e)) {
        loop_ring(static_cast<const LOOP*>(e));
      } else if (is_WIRE(e)) {
        wire_ring(static_cast<const WIRE*>(e));
      } else if (is_COEDGE(e)) {
        if (!static_cast<const COEDGE*>(e)->edge()) damage(e, "has no edge");
        // The writer writes coedges of loops and wires only: one in neither
        // (its loop record gone) holds an edge of a body that does not hold
        // it, and would reach that edge after the body's deletion freed it.
        if (!is_LOOP(e->owner()) && !is_WIRE(e->owner())) damage(e, "is in no loop and no wire");
      } else if (is_EDGE(e)) {
        auto* ed = static_cast<const EDGE*>(e);
        if (!ed->start() || !ed->end()) damage(e, "has no start or no end vertex");
        partner_ring(ed);
      } else if (is_VERTEX(e)) {
        auto* v = static_cast<const VERTEX*>(e);
        if (!v->geometry()) damage(v, "has no point");
        // Replacing or losing an edge updates the vertices it ends at only.
        for (int k = 0; const EDGE* ed = v->edge(k); ++k)
          if (ed->start() != v && ed->end() != v) damage(v, "names an edge that does not end at it");
      } else if (is_QELCOLLECTION(e)) {
        collections_.push_back(static_cast<const QELCOLLECTION*>(e));
      }
    }
  }

  // Counts that differ mean an entity whose holder's list does not reach it:
  // a second pass notes what the lists reach and names the first one missed.
  void every_entity_listed() {
    int kind = 0;
    while (kind < list_kinds && linked_[kind] == listed_[kind]) ++kind;
    if (kind == list_kinds) return;
    std::unordered_set<const ENTITY*> met;
    restored_check again(records_, count_);
    again.seen_ = &met;
    again.seen_kind_ = kind;
    again.scan();
    for (int i = 0; i < count_; ++i) {
      bool linked[list_kinds];
      linked_kinds(records_[i], linked);
      if (linked[kind] && !met.count(records_[i])) damage(records_[i], not_listed[kind]);
    }
    damage(nullptr, not_listed[kind]);  // more met than linked: a list reached something twice
  }

  // Every topological entity belongs to one body: deleting a body frees what
  // it holds, so an edge or vertex reached from a second body would be read
  // after it is gone. The writer never shares topology across bodies; a
  // file that does is damaged. Runs after the lists are known to be sound.
  void one_body_each() const {
    // The body of each entity: in the entities' scratch (no table at all; the
    // restored entities are all new, so no epoch of an earlier pass is on
    // them), or, when a pass around this one holds the scratch, in one flat table.
    std::vector<const BODY*> bodies;  // scratch value k names bodies[k - 1]
    const velm_scratch scratch;
    velm_address_map<const BODY*> body_of;
    auto owner = [&](const ENTITY* e) -> const BODY* {
      if (!scratch.held()) {
        const BODY* const* at = body_of.find(e);
        return at ? *at : nullptr;
      }
      std::uint32_t k = 0;
      return scratch.get(e, k) && k > 0 && k <= bodies.size() ? bodies[k - 1] : nullptr;
    };
    auto claim = [&](const ENTITY* e, const BODY* b) {
      if (!e) return;
      if (const BODY* known = owner(e)) {
        if (known != b) damage(e, "belongs to two bodies");
        return;
      }
      if (scratch.held()) {
        if (bodies.empty() || bodies.back() != b) bodies.push_back(b);
        scratch.set(e, static_cast<std::uint32_t>(bodies.size()));
      } else {
        body_of.insert(e, b);
      }
    };
    auto coedge = [&](const COEDGE* c, const BODY* b) {
      claim(c, b);
      if (const EDGE* e = c->edge()) {
        claim(e, b);
        claim(e->start(), b);
        claim(e->end(), b);
      }
    };
    auto wires = [&](const WIRE* w, const BODY* b) {
      for (; w; w = w->next()) {
        claim(w, b);
        // Open or closed: forwards from the first coedge, then backwards from it.
        const COEDGE* first = w->coedge();
        for (const COEDGE* c = first; c; c = c->next()) {
          coedge(c, b);
          if (c->next() == first) break;
        }
        for (const COEDGE* c = first ? first->previous() : nullptr; c && c != first; c = c->previous())
          coedge(c, b);
      }
    };
    for (int i = 0; i < count_; ++i) {
      if (!is_BODY(records_[i])) continue;
      auto* b = static_cast<const BODY*>(records_[i]);
      wires(b->wire(), b);
      for (const LUMP* l = b->lump(); l; l = l->next()) {
        claim(l, b);
        for (const SHELL* s = l->shell(); s; s = s->next()) {
          claim(s, b);
          wires(s->wire(), b);
          for (const FACE* f = s->face(); f; f = f->next()) {
            claim(f, b);
            for (const LOOP* lp = f->loop(); lp; lp = lp->next()) {
              claim(lp, b);
              const COEDGE* start = lp->start();
              const COEDGE* c = start;
              do {
                coedge(c, b);
                c = c->next();
              } while (c != start);
            }
          }
        }
      }
    }
    // A vertex names the edges that meet it: they must be its body's too.
    for (int i = 0; i < count_; ++i) {
      if (!is_VERTEX(records_[i])) continue;
      auto* v = static_cast<const VERTEX*>(records_[i]);
      const BODY* own = owner(v);
      for (int k = 0; const EDGE* e = v->edge(k); ++k)
        if (const BODY* at = owner(e); at && own != at) damage(v, "names an edge of another body");
    }
  }

  // Attributes may sit on attributes, but following owners must reach an entity that is not one.
  void attribute_owners() const {
    std::unordered_map<const ENTITY*, char> state;  // 1 being followed, 2 done
    for (const ATTRIB* a : attributes_on_attributes_) {
      std::vector<const ENTITY*> path;
      const ENTITY* e = a;
      while (is_ATTRIB(e) && state[e] != 2) {
        if (state[e] == 1) damage(a, "its owners lead back to itself");
        state[e] = 1;
        path.push_back(e);
        e = static_cast<const ATTRIB*>(e)->entity();
      }
      for (const ENTITY* p : path) state[p] = 2;
    }
  }

  // Members and back-links agree; no collection holds itself, however indirectly.
  void collections() const {
    for (const ATTRIB_QELCOLLECTION* link : collection_links_)
      if (const QELCOLLECTION* c = link->collection(); c && !c->is_member(link->entity()))
        damage(link, std::string("links its owner to a ") + c->type_name() + " that does not hold it");
    std::unordered_map<const QELCOLLECTION*, char> state;  // 1 being followed, 2 done
    for (const QELCOLLECTION* root : collections_) {
      if (state[root]) continue;
      std::vector<std::pair<const QELCOLLECTION*, int>> stack{{root, 0}};
      state[root] = 1;
      while (!stack.empty()) {
        auto& [c, next] = stack.back();
        const ENTITY_LIST& members = c->members();
        if (next >= members.count()) {
          state[c] = 2;
          stack.pop_back();
          continue;
        }
        const ENTITY* m = members[next++];
        if (!m) continue;
        if (!find_collection_link(m, c))
          damage(c, std::string("holds a ") + m->type_name() + " that has no link back to it");
        if (!is_QELCOLLECTION(m)) continue;
        auto* member = static_cast<const QELCOLLECTION*>(m);
        if (state[member] == 1) damage(c, "holds itself through its members");
        if (state[member] == 0) {
          state[member] = 1;
          stack.push_back({member, 0});
        }
      }
    }
  }

 private:
  void met(list_kind kind, const ENTITY* e) {
    ++listed_[kind];
    if (seen_ && seen_kind_ == kind) seen_->insert(e);
  }

  // A next-chain from `first`; every element must link back to `holder`.
  template <class T, class Next, class Back>
  void chain(list_kind kind, const ENTITY* holder, T* first, Next next, Back back) {
    long n = 0;
    for (T* e = first; e; e = next(e)) {
      met(kind, e);
      if (back(e) != holder)
        damage(e, std::string("is in the ") + list_names[kind] + " of a " + holder->type_name() + " it does not name");
      if (++n > count_) damage(holder, std::string("its ") + list_names[kind] + " loops back on itself");
    }
  }

  void attribute_chain(const ENTITY* e) {
    const ATTRIB* first = e->attrib();
    if (first && first->previous()) damage(first, "heads an attribute chain but has a previous attribute");
    chain(attributes, e, first, [](const ATTRIB* a) { return a->next(); },
          [](const ATTRIB* a) { return a->entity(); });
    for (const ATTRIB* a = first; a; a = a->next())
      if (a->next() && a->next()->previous() != a) damage(a, "its next attribute's previous is not this attribute");
  }

  // A loop's coedges: a closed ring, next and previous agreeing, every one owned by the loop.
  void loop_ring(const LOOP* l) {
    const COEDGE* start = l->start();
    if (!start) damage(l, "has no coedge");
    long n = 0;
    const COEDGE* c = start;
    do {
      met(loop_coedges, c);
      if (c->owner() != l) damage(c, "is in the coedge ring of a loop that is not its owner");
      const COEDGE* next = c->next();
      if (!next) damage(c, "the coedge ring of its loop is open after it");
      if (next->previous() != c) damage(c, "its next coedge's previous is not this coedge");
      if (++n > count_) damage(l, "its coedge ring never comes back to its start");
      c = next;
    } while (c != start);
  }

  // A wire's coedges: open or closed, next and previous agreeing both ways.
  void wire_ring(const WIRE* w) {
    const COEDGE* first = w->coedge();
    long n = 0;
    auto step = [&](const COEDGE* c) {
      met(wire_coedges, c);
      if (c->owner() != w) damage(c, "is in the coedge list of a wire that is not its owner");
      if (c->next() && c->next()->previous() != c) damage(c, "its next coedge's previous is not this coedge");
      if (c->previous() && c->previous()->next() != c) damage(c, "its previous coedge's next is not this coedge");
      if (++n > count_) damage(w, "its coedge list loops back on itself");
    };
    const COEDGE* c = first;
    for (; c; c = c->next()) {
      step(c);
      if (c->next() == first) return;
    }
    for (c = first ? first->previous() : nullptr; c; c = c->previous()) step(c);
  }

  // An edge's partner ring from its coedge: closed, every member on this edge.
  void partner_ring(const EDGE* e) {
    const COEDGE* start = e->coedge();
    if (!start) return;
    long n = 0;
    const COEDGE* c = start;
    do {
      met(partner_coedges, c);
      if (c->partner() == c) damage(c, "is its own partner");
      if (c->edge() != e) damage(c, "is in the partner ring of another edge");
      if (++n > count_) damage(e, "its partner ring never comes back to its coedge");
      c = c->partner();
      if (!c && n > 1) damage(e, "its partner ring is open");
    } while (c && c != start);
  }

  ENTITY* const* records_;
  int count_;
  long linked_[list_kinds] = {};
  long listed_[list_kinds] = {};
  std::unordered_set<const ENTITY*>* seen_ = nullptr;
  int seen_kind_ = -1;
  std::vector<const ATTRIB*> attributes_on_attributes_;
  std::vector<const QELCOLLECTION*> collections_;
  std::vector<const ATTRIB_QELCOLLECTION*> collection_links_;
};

}  // namespace

void velm_check_restored(ENTITY* const* records, int count, int top_level) {
  restored_check check(records, count);
  check.scan();
  check.every_entity_listed();
  check.one_body_each();
  check.attribute_owners();
  check.collections();

  // Saving an entity saves what it owns, so a top-level entity owned by an
  // earlier one is a header claiming more top-level records than were saved.
  std::unordered_map<const ENTITY*, int> top;
  for (int i = 0; i < top_level; ++i) top.emplace(records[i], i);
  for (int i = 1; i < top_level; ++i) {
    const ENTITY* owner = records[i]->owner();
    if (auto at = top.find(owner); owner != records[i] && at != top.end() && at->second < i)
      check.damage(records[i], "is counted top-level but belongs to an earlier top-level record");
  }
  if (!velm_query::saves_unchecked()) check.edges_restorable();
}
