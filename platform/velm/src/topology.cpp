// Topology entities: links, use-counted geometry, persistence, copy, lose.
#include "velm/topology.hxx"

#include <algorithm>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <type_traits>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

VELM_ENTITY_DEF(BODY, ENTITY, 1, "body", BODY_TYPE)
VELM_ENTITY_DEF(LUMP, ENTITY, 1, "lump", LUMP_TYPE)
VELM_ENTITY_DEF(SHELL, ENTITY, 1, "shell", SHELL_TYPE)
VELM_ENTITY_DEF(FACE, ENTITY, 1, "face", FACE_TYPE)
VELM_ENTITY_DEF(LOOP, ENTITY, 1, "loop", LOOP_TYPE)
VELM_ENTITY_DEF(COEDGE, ENTITY, 1, "coedge", COEDGE_TYPE)
VELM_ENTITY_DEF(TCOEDGE, COEDGE, 2, "tcoedge", TCOEDGE_TYPE)
VELM_ENTITY_DEF(EDGE, ENTITY, 1, "edge", EDGE_TYPE)
VELM_ENTITY_DEF(TEDGE, EDGE, 2, "tedge", TEDGE_TYPE)
VELM_ENTITY_DEF(VERTEX, ENTITY, 1, "vertex", VERTEX_TYPE)
VELM_ENTITY_DEF(TVERTEX, VERTEX, 2, "tvertex", TVERTEX_TYPE)
VELM_ENTITY_DEF(WIRE, ENTITY, 1, "wire", WIRE_TYPE)
VELM_ENTITY_DEF(APOINT, ENTITY, 1, "point", APOINT_TYPE)
VELM_ENTITY_DEF(WCS, ENTITY, 1, "wcs", WCS_TYPE)

int (*velm_loop_type_hook)(const LOOP* loop) = nullptr;

// ---------------------------------------------------------------------------
// The class a link of that type may point at. A restored record linking a face
// to a vertex where its surface belongs is damage, never a cast.
#define VELM_LINK_FITS(CLASS) \
  inline bool link_fits(const ENTITY* e, const CLASS*) { return is_##CLASS(e); }
VELM_LINK_FITS(BODY)
VELM_LINK_FITS(LUMP)
VELM_LINK_FITS(SHELL)
VELM_LINK_FITS(FACE)
VELM_LINK_FITS(LOOP)
VELM_LINK_FITS(COEDGE)
VELM_LINK_FITS(EDGE)
VELM_LINK_FITS(VERTEX)
VELM_LINK_FITS(WIRE)
VELM_LINK_FITS(APOINT)
VELM_LINK_FITS(CURVE)
VELM_LINK_FITS(SURFACE)
VELM_LINK_FITS(PCURVE)
VELM_LINK_FITS(TRANSFORM)
#undef VELM_LINK_FITS
// A coedge's owner: its loop or its wire.
inline bool link_fits(const ENTITY* e, const ENTITY*) { return is_LOOP(e) || is_WIRE(e); }

// Field plumbing. Each class lists its pointer fields once (links); saving,
// restoring, copying and fixing walk that list. The flag marks geometry links,
// which hold a use.
struct velm_topology_io {
  template <class F>
  static void links(BODY::fields& f, F&& fn) {
    fn(f.lump, false);
    fn(f.wire, false);
    fn(f.transform, true);
  }
  template <class F>
  static void links(LUMP::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.shell, false);
    fn(f.body, false);
  }
  template <class F>
  static void links(SHELL::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.face, false);
    fn(f.wire, false);
    fn(f.lump, false);
  }
  template <class F>
  static void links(FACE::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.loop, false);
    fn(f.shell, false);
    fn(f.geometry, true);
  }
  template <class F>
  static void links(LOOP::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.start, false);
    fn(f.face, false);
  }
  template <class F>
  static void links(COEDGE::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.previous, false);
    fn(f.partner, false);
    fn(f.edge, false);
    fn(f.owner, false);
    fn(f.geometry, true);
  }
  template <class F>
  static void links(TCOEDGE::fields& f, F&& fn) {
    fn(f.curve, true);
  }
  template <class F>
  static void links(EDGE::fields& f, F&& fn) {
    fn(f.start, false);
    fn(f.end, false);
    fn(f.coedge, false);
    fn(f.geometry, true);
  }
  template <class F>
  static void links(VERTEX::fields& f, F&& fn) {
    fn(f.geometry, true);
    f.edges.each([&](EDGE*& e) { fn(e, false); });
  }
  template <class F>
  static void links(WIRE::fields& f, F&& fn) {
    fn(f.next, false);
    fn(f.coedge, false);
    fn(f.body, false);
    fn(f.shell, false);
  }

  // Every link of a topology entity but a vertex's edges (held apart), by class.
  template <class F>
  static void all_links(ENTITY* e, F&& fn) {
    auto each = [&](auto& fields) {
      links(fields, [&](auto*& p, bool) {
        if (p) fn(static_cast<const ENTITY*>(p));
      });
    };
    switch (e->identity(1)) {
      case BODY_TYPE: each(static_cast<BODY*>(e)->f_); break;
      case LUMP_TYPE: each(static_cast<LUMP*>(e)->f_); break;
      case SHELL_TYPE: each(static_cast<SHELL*>(e)->f_); break;
      case FACE_TYPE: each(static_cast<FACE*>(e)->f_); break;
      case LOOP_TYPE: each(static_cast<LOOP*>(e)->f_); break;
      case COEDGE_TYPE:
        each(static_cast<COEDGE*>(e)->f_);
        if (is_TCOEDGE(e)) each(static_cast<TCOEDGE*>(e)->t_);
        break;
      case EDGE_TYPE: each(static_cast<EDGE*>(e)->f_); break;
      case VERTEX_TYPE:
        if (APOINT* g = static_cast<VERTEX*>(e)->f_.geometry) fn(g);
        break;
      case WIRE_TYPE: each(static_cast<WIRE*>(e)->f_); break;
      default: break;
    }
  }

  // The geometry links of a topology entity, by class.
  template <class F>
  static void counted_links(ENTITY* e, F&& fn) {
    auto each = [&](auto& fields) {
      links(fields, [&](auto*& p, bool counted) {
        if (counted && p) fn(static_cast<ENTITY*>(p));
      });
    };
    switch (e->identity(1)) {
      case BODY_TYPE: each(static_cast<BODY*>(e)->f_); break;
      case FACE_TYPE: each(static_cast<FACE*>(e)->f_); break;
      case COEDGE_TYPE:
        each(static_cast<COEDGE*>(e)->f_);
        if (is_TCOEDGE(e)) each(static_cast<TCOEDGE*>(e)->t_);
        break;
      case EDGE_TYPE: each(static_cast<EDGE*>(e)->f_); break;
      case VERTEX_TYPE: each(static_cast<VERTEX*>(e)->f_); break;
      default: break;
    }
  }

  template <class P>
  static P* decode(ENTITY* stored) {
    return reinterpret_cast<P*>(stored);
  }
  template <class P>
  static ENTITY* encode(P* p) {
    return reinterpret_cast<ENTITY*>(p);
  }

  template <class Fields>
  static void save(const Fields& f, ENTITY_LIST& list) {
    links(const_cast<Fields&>(f), [&](auto*& p, bool) { write_ptr(encode(p), list); });
  }
  template <class Fields>
  static void restore(Fields& f) {
    links(f, [](auto*& p, bool) { p = decode<std::remove_pointer_t<std::remove_reference_t<decltype(p)>>>(read_ptr()); });
  }
  template <class Fields>
  static void copy(Fields& f, const Fields& from, ENTITY_LIST& list) {
    f = from;
    links(f, [&](auto*& p, bool) {
      p = decode<std::remove_pointer_t<std::remove_reference_t<decltype(p)>>>(copy_index(list, encode(p)));
    });
  }
  // Resolves indices; every geometry link takes its use.
  template <class Fields>
  static void fix(Fields& f, ENTITY* array[]) {
    links(f, [&](auto*& p, bool counted) {
      using target = std::remove_pointer_t<std::remove_reference_t<decltype(p)>>;
      ENTITY* e = read_array(array, encode(p));
      if (e && velm_fix_checks_classes() && !link_fits(e, static_cast<const target*>(nullptr)))
        velm_api_error_throw(VELM_SAVE_FILE_DAMAGED);
      p = static_cast<target*>(e);
      if (counted && p) p->add();
    });
  }
  template <class Fields>
  static void scan_geometry(const Fields& f, ENTITY_LIST& list) {
    links(const_cast<Fields&>(f), [&](auto*& p, bool counted) {
      if (counted && p) list.add(p);
    });
  }
};

void velm_prefetch_link_stamps(const ENTITY* e) {
  if (!e) return;
  if (const ENTITY* a = e->attrib_entity()) __builtin_prefetch(velm_entity_access::stamp_line(a));
  velm_topology_io::all_links(const_cast<ENTITY*>(e),
                              [](const ENTITY* target) { __builtin_prefetch(velm_entity_access::stamp_line(target)); });
}

// ---------------------------------------------------------------------------
// Out-of-line boxes and vertex edge references.
velm_box_slot velm_box_slot::holding(const QELbox& box) {
  velm_box_slot slot;
  slot.cell_ = new cell{box, 1};
  return slot;
}

void velm_box_slot::release() noexcept {
  if (cell_ && --cell_->uses == 0) delete cell_;
  cell_ = nullptr;
}

velm_vertex_edges::velm_vertex_edges(const velm_vertex_edges& other) noexcept : count_(other.count_) {
  if (count_ > 1) {
    many_ = other.many_;
    ++many_->uses;
  } else {
    one_ = other.one_;
  }
}

velm_vertex_edges& velm_vertex_edges::operator=(const velm_vertex_edges& other) noexcept {
  if (this == &other) return *this;
  if (other.count_ > 1) ++other.many_->uses;
  release();
  count_ = other.count_;
  if (count_ > 1)
    many_ = other.many_;
  else
    one_ = other.one_;
  return *this;
}

void velm_vertex_edges::release() noexcept {
  if (count_ > 1 && --many_->uses == 0) ::operator delete(many_);
  count_ = 0;
  one_ = nullptr;
}

velm_vertex_edges::block* velm_vertex_edges::new_block(int count) {
  void* at = ::operator new(sizeof(block) + sizeof(EDGE*) * static_cast<std::size_t>(count));
  return new (at) block{1, 0};
}

velm_vertex_edges velm_vertex_edges::of_nulls(int count) {
  velm_vertex_edges out;
  if (count > 1) {
    out.many_ = new_block(count);
    std::fill(slots(out.many_), slots(out.many_) + count, nullptr);
  }
  out.count_ = count;
  return out;
}

velm_vertex_edges velm_vertex_edges::with(EDGE* e) const {
  velm_vertex_edges out = of_nulls(count_ + 1);
  for (int i = 0; i < count_; ++i) slots(out.many_)[i] = (*this)[i];
  if (count_ == 0)
    out.one_ = e;
  else
    slots(out.many_)[count_] = e;
  return out;
}

velm_vertex_edges velm_vertex_edges::without(EDGE* e, bool every) const {
  int keep = 0;
  bool dropped = false;
  for (int i = 0; i < count_; ++i)
    if ((*this)[i] != e || (dropped && !every))
      ++keep;
    else
      dropped = true;
  if (!dropped) return *this;
  velm_vertex_edges out = of_nulls(keep);
  dropped = false;
  for (int i = 0, k = 0; i < count_; ++i) {
    EDGE* x = (*this)[i];
    if (x == e && (every || !dropped)) {
      dropped = true;
      continue;
    }
    if (keep == 1)
      out.one_ = x;
    else
      slots(out.many_)[k] = x;
    ++k;
  }
  return out;
}

void velm_vertex_edges::store(int i, EDGE* e) {
  if (count_ == 1) {
    one_ = e;
    return;
  }
  if (many_->uses > 1) {
    block* own = new_block(count_);
    std::copy(slots(many_), slots(many_) + count_, slots(own));
    --many_->uses;
    many_ = own;
  }
  slots(many_)[i] = e;
}

using io = velm_topology_io;

namespace {
template <class T, class V>
void set_field(ENTITY* self, T& field, V value) {
  self->backup();
  field = value;
}

// Moves a use from the old geometry to the new one.
template <class G>
void set_counted(ENTITY* self, G*& field, G* value) {
  if (field == value) return;
  self->backup();
  if (value) value->add();
  G* old = field;
  field = value;
  if (old) old->remove();
}

void lose_whole_body(BODY* body);

void lose_live(ENTITY* e) {
  if (e && !e->is_lost()) e->lose();
}

// Elements of a next-chain, collected first so that losing them is safe.
template <class T>
std::vector<T*> next_chain(T* first) {
  std::vector<T*> out;
  const std::size_t limit = velm_walk_limit();
  for (T* e = first; e && out.size() < limit; e = e->next()) {
    out.push_back(e);
    if (out.size() > 1 && e->next() == first) break;  // never spin on a damaged ring
  }
  return out;
}

std::vector<COEDGE*> ring(COEDGE* start) {
  std::vector<COEDGE*> out;
  const std::size_t limit = velm_walk_limit();
  for (COEDGE* c = start; c;) {
    out.push_back(c);
    c = c->next();
    if (c == start || out.size() >= limit) break;
  }
  return out;
}

// The same orders, visited in place (walks and scans that change nothing).
template <class T, class F>
void each_in_chain(T* first, F&& fn) {
  const std::size_t limit = velm_walk_limit();
  std::size_t n = 0;
  for (T* e = first; e && n < limit; e = e->next()) {
    fn(e);
    if (++n > 1 && e->next() == first) break;  // never spin on a damaged ring
  }
}

template <class F>
void each_in_ring(COEDGE* start, F&& fn) {
  const std::size_t limit = velm_walk_limit();
  std::size_t n = 0;
  for (COEDGE* c = start; c;) {
    fn(c);
    c = c->next();
    if (c == start || ++n >= limit) break;
  }
}

void add_all(ENTITY_LIST& list, const auto& entities) {
  for (ENTITY* e : entities) list.add(e);
}

template <class T>
void add_chain(ENTITY_LIST& list, T* first) {
  each_in_chain(first, [&](T* e) { list.add(e); });
}

void store_box(ENTITY* self, velm_box_slot& slot, QELbox* given) {
  // Owned from the start: a before-image that cannot be made must not leak it.
  const std::unique_ptr<QELbox> owned(given);
  velm_box_slot next = given ? velm_box_slot::holding(*given) : velm_box_slot();
  self->backup();
  slot = next;
}

void write_box(const velm_box_slot& slot) {
  const QELbox* box = slot.get();
  write_logical(box != nullptr);
  if (box) {
    write_position(box->low());
    write_position(box->high());
  }
}

void read_box(velm_box_slot& slot) {
  if (read_logical()) {
    QELposition low = read_position();
    QELposition high = read_position();
    slot = velm_box_slot::holding(QELbox(low, high));
  }
}

sense_type read_sense() {
  int s = read_enum();
  if (s != FORWARD && s != REVERSED) velm_save_damaged("a sense that is neither forward (0) nor reversed (1)");
  return static_cast<sense_type>(s);
}

// An edge's or tolerant coedge's parameter range: a bounded one that runs
// backwards is no range any edge has (the export wrote it as a success into
// a document no reader takes).
QELinterval read_range() {
  const QELinterval range = read_interval();
  if (range.finite() && range.start_pt() > range.end_pt())
    velm_save_damaged("a parameter range that runs backwards");
  return range;
}

QELposition point_of(const VERTEX* v) {
  if (!v || !v->geometry()) velm_api_error_throw(VELM_NULL_ENTITY);
  return v->geometry()->coords();
}
}  // namespace

// fix_pointers and copy_common of a class whose own fields are `FIELDS`.
#define VELM_TOPOLOGY_FIX(CLASS, BASE, FIELDS)                                                   \
  void CLASS::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {                                 \
    BASE::fix_pointers(array, reason);                                                          \
    io::fix(FIELDS, array);                                                                     \
  }                                                                                             \
  void CLASS::copy_common(ENTITY_LIST& list, const CLASS* from, pointer_map* pm, int skip,      \
                          SCAN_TYPE reason) {                                                   \
    BASE::copy_common(list, from, pm, skip, reason);                                            \
    io::copy(FIELDS, from->FIELDS, list);                                                       \
  }

// ... and save_common and restore_common of one that has nothing but links.
#define VELM_TOPOLOGY_LINKS_ONLY(CLASS, BASE, FIELDS)                                           \
  VELM_TOPOLOGY_FIX(CLASS, BASE, FIELDS)                                                        \
  void CLASS::save_common(ENTITY_LIST& list) const {                                            \
    BASE::save_common(list);                                                                    \
    io::save(FIELDS, list);                                                                     \
  }                                                                                             \
  void CLASS::restore_common() {                                                                \
    BASE::restore_common();                                                                     \
    io::restore(FIELDS);                                                                        \
  }

// ---------------------------------------------------------------------------
// BODY
BODY::BODY(LUMP* first) {
  f_.lump = first;
  for (LUMP* l : next_chain(first)) l->set_body(this);
}

BODY::BODY(WIRE* wire) {
  f_.wire = wire;
  if (wire) wire->set_body(this);
}

void BODY::set_lump(LUMP* lump) { set_field(this, f_.lump, lump); }
void BODY::set_wire(WIRE* wire) { set_field(this, f_.wire, wire); }
void BODY::set_transform(TRANSFORM* transform) { set_counted(this, f_.transform, transform); }

void BODY::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  lose_whole_body(this);
}

void BODY::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  add_chain(list, f_.lump);
  add_chain(list, f_.wire);
  io::scan_geometry(f_, list);
}

VELM_TOPOLOGY_LINKS_ONLY(BODY, ENTITY, f_)

// ---------------------------------------------------------------------------
// LUMP
LUMP::LUMP(SHELL* first_shell, LUMP* next) {
  f_.shell = first_shell;
  f_.next = next;
  each_in_chain(first_shell, [this](SHELL* s) { s->set_lump(this); });
}

void LUMP::set_next(LUMP* next, int) { set_field(this, f_.next, next); }
void LUMP::set_shell(SHELL* shell) { set_field(this, f_.shell, shell); }
void LUMP::set_body(BODY* body) { set_field(this, f_.body, body); }
ENTITY* LUMP::owner() const { return f_.body; }

void LUMP::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (SHELL* s : next_chain(f_.shell)) lose_live(s);
  ENTITY::lose();
}

void LUMP::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  add_chain(list, f_.shell);
}

VELM_TOPOLOGY_LINKS_ONLY(LUMP, ENTITY, f_)

// ---------------------------------------------------------------------------
// SHELL
SHELL::SHELL(FACE* first_face, SHELL* next) {
  f_.face = first_face;
  f_.next = next;
  each_in_chain(first_face, [this](FACE* f) { f->set_shell(this); });
}

void SHELL::set_next(SHELL* next, int) { set_field(this, f_.next, next); }
void SHELL::set_face(FACE* face) { set_field(this, f_.face, face); }
void SHELL::set_wire(WIRE* wire) { set_field(this, f_.wire, wire); }
void SHELL::set_lump(LUMP* lump) { set_field(this, f_.lump, lump); }
ENTITY* SHELL::owner() const { return f_.lump; }

int SHELL::is_closed() const {
  if (f_.wire) return 0;
  for (FACE* f : next_chain(f_.face)) {
    if (f->sides() != 0) return 0;
    for (LOOP* l : next_chain(f->loop()))
      for (COEDGE* c : ring(l->start())) {
        COEDGE* p = c->partner();
        if (!p || p->partner() != c || p->sense() == c->sense()) return 0;
        LOOP* pl = p->loop();
        if (!pl || !pl->face() || pl->face()->shell() != this) return 0;
      }
  }
  return 1;
}

void SHELL::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (FACE* f : next_chain(f_.face)) lose_live(f);
  for (WIRE* w : next_chain(f_.wire)) lose_live(w);
  ENTITY::lose();
}

void SHELL::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  add_chain(list, f_.face);
  add_chain(list, f_.wire);
}

VELM_TOPOLOGY_LINKS_ONLY(SHELL, ENTITY, f_)

// ---------------------------------------------------------------------------
// FACE
FACE::FACE(LOOP* first_loop, FACE* next, SURFACE* geometry, sense_type sense) {
  f_.loop = first_loop;
  f_.next = next;
  f_.sense = sense;
  set_geometry(geometry);
  each_in_chain(first_loop, [this](LOOP* l) { l->set_face(this); });  // changes no link of the chain
}

void FACE::set_next(FACE* next, int) { set_field(this, f_.next, next); }
void FACE::set_loop(LOOP* loop, int) { set_field(this, f_.loop, loop); }
void FACE::set_shell(SHELL* shell) { set_field(this, f_.shell, shell); }
void FACE::set_geometry(SURFACE* surface, int) { set_counted(this, f_.geometry, surface); }
void FACE::set_sense(sense_type sense, int) { set_field(this, f_.sense, sense); }
void FACE::set_sides(int sides, int) { set_field(this, f_.sides, sides); }
void FACE::set_cont(int cont) { set_field(this, f_.cont, cont); }
QELbox* FACE::bound() const { return f_.bound.get(); }
void FACE::set_bound(QELbox* box) { store_box(this, f_.bound, box); }
ENTITY* FACE::owner() const { return f_.shell; }

void FACE::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (LOOP* l : next_chain(f_.loop)) lose_live(l);
  set_geometry(nullptr);
  ENTITY::lose();
}

void FACE::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  add_chain(list, f_.loop);
  io::scan_geometry(f_, list);
}

VELM_TOPOLOGY_FIX(FACE, ENTITY, f_)

void FACE::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  io::save(f_, list);
  write_enum(f_.sense);
  write_int(f_.sides);
  write_int(f_.cont);
  write_box(f_.bound);
}

void FACE::restore_common() {
  ENTITY::restore_common();
  io::restore(f_);
  f_.sense = read_sense();
  f_.sides = read_int();
  f_.cont = read_int();
  read_box(f_.bound);
}

// ---------------------------------------------------------------------------
// LOOP
LOOP::LOOP(COEDGE* start, LOOP* next) {
  f_.start = start;
  f_.next = next;
  each_in_ring(start, [this](COEDGE* c) { c->set_loop(this); });  // changes no link of the ring
}

void LOOP::set_start(COEDGE* start) { set_field(this, f_.start, start); }
void LOOP::set_next(LOOP* next, int) { set_field(this, f_.next, next); }
void LOOP::set_face(FACE* face) { set_field(this, f_.face, face); }
ENTITY* LOOP::owner() const { return f_.face; }

int LOOP::get_classification() const {
  if (f_.classification == 0 && velm_loop_type_hook) return velm_loop_type_hook(this);
  return f_.classification;
}

void LOOP::set_classification(int type) { set_field(this, f_.classification, type); }

void LOOP::reverse() {
  for (COEDGE* c : ring(f_.start)) {
    c->backup();
    std::swap(c->f_.next, c->f_.previous);
    c->f_.sense = c->f_.sense == FORWARD ? REVERSED : FORWARD;
    if (PCURVE* p = c->geometry()) p->negate();
    if (is_TCOEDGE(c)) {
      auto* t = static_cast<TCOEDGE*>(c);
      if (!t->t_.range.empty()) t->t_.range = -t->t_.range;
      if (CURVE* curve = t->t_.curve) curve->reverse_equation();
    }
  }
  set_classification(0);
}

void LOOP::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (COEDGE* c : ring(f_.start)) lose_live(c);
  ENTITY::lose();
}

void LOOP::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  each_in_ring(f_.start, [&](COEDGE* c) { list.add(c); });
}

VELM_TOPOLOGY_FIX(LOOP, ENTITY, f_)

void LOOP::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  io::save(f_, list);
  write_int(f_.classification);
}

void LOOP::restore_common() {
  ENTITY::restore_common();
  io::restore(f_);
  f_.classification = read_int();
}

// ---------------------------------------------------------------------------
// COEDGE
COEDGE::COEDGE(EDGE* edge, sense_type sense, COEDGE* previous, COEDGE* next) {
  f_.edge = edge;
  f_.sense = sense;
  f_.previous = previous;
  f_.next = next;
  if (edge && !edge->coedge()) edge->set_coedge(this);
}

LOOP* COEDGE::loop() const { return is_LOOP(f_.owner) ? static_cast<LOOP*>(f_.owner) : nullptr; }
WIRE* COEDGE::wire() const { return is_WIRE(f_.owner) ? static_cast<WIRE*>(f_.owner) : nullptr; }

VERTEX* COEDGE::start() const {
  if (!f_.edge) return nullptr;
  return f_.sense == FORWARD ? f_.edge->start() : f_.edge->end();
}

VERTEX* COEDGE::end() const {
  if (!f_.edge) return nullptr;
  return f_.sense == FORWARD ? f_.edge->end() : f_.edge->start();
}

QELposition COEDGE::start_pos() const { return point_of(start()); }
QELposition COEDGE::end_pos() const { return point_of(end()); }

QELinterval COEDGE::param_range() const {
  if (!f_.edge) velm_api_error_throw(VELM_NULL_ENTITY);
  QELinterval r = f_.edge->param_range();
  return f_.sense == FORWARD ? r : -r;
}

void COEDGE::set_next(COEDGE* next, int, int) { set_field(this, f_.next, next); }
void COEDGE::set_previous(COEDGE* previous, int, int) { set_field(this, f_.previous, previous); }
void COEDGE::set_partner(COEDGE* partner) { set_field(this, f_.partner, partner); }
void COEDGE::set_edge(EDGE* edge) { set_field(this, f_.edge, edge); }
void COEDGE::set_sense(sense_type sense, int) { set_field(this, f_.sense, sense); }
void COEDGE::set_loop(LOOP* loop) { set_field(this, f_.owner, static_cast<ENTITY*>(loop)); }
void COEDGE::set_wire(WIRE* wire) { set_field(this, f_.owner, static_cast<ENTITY*>(wire)); }
void COEDGE::set_owner(ENTITY* owner) { set_field(this, f_.owner, owner); }
void COEDGE::set_geometry(PCURVE* pcurve, int) { set_counted(this, f_.geometry, pcurve); }

void COEDGE::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  // Leave the partner ring, so that the edge stays consistent for who keeps it.
  if (COEDGE* after = f_.partner; after && after != this) {
    COEDGE* before = after;
    const std::size_t limit = velm_walk_limit();
    for (std::size_t guard = 0; before->partner() && before->partner() != this && guard < limit; ++guard)
      before = before->partner();
    if (before->partner() == this) before->set_partner(after == before ? nullptr : after);
  }
  if (EDGE* e = f_.edge; e && !e->is_lost() && e->coedge() == this)
    e->set_coedge(f_.partner != this ? f_.partner : nullptr);
  set_geometry(nullptr);
  ENTITY::lose();
}

void COEDGE::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  if (f_.edge) list.add(f_.edge);
  io::scan_geometry(f_, list);
}

VELM_TOPOLOGY_FIX(COEDGE, ENTITY, f_)

void COEDGE::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  io::save(f_, list);
  write_enum(f_.sense);
}

void COEDGE::restore_common() {
  ENTITY::restore_common();
  io::restore(f_);
  f_.sense = read_sense();
}

// ---------------------------------------------------------------------------
// TCOEDGE
TCOEDGE::TCOEDGE(EDGE* edge, sense_type sense, COEDGE* previous, COEDGE* next)
    : COEDGE(edge, sense, previous, next) {}

QELinterval TCOEDGE::param_range() const {
  return t_.range.empty() ? COEDGE::param_range() : t_.range;
}

void TCOEDGE::set_param_range(const QELinterval& range) { set_field(this, t_.range, range); }
void TCOEDGE::set_3D_curve(CURVE* curve) { set_counted(this, t_.curve, curve); }

QELposition TCOEDGE::start_pos() const {
  if (t_.curve && t_.curve->has_equation() && !t_.range.empty())
    return t_.curve->curve_point(t_.range.start_pt());
  return COEDGE::start_pos();
}

QELposition TCOEDGE::end_pos() const {
  if (t_.curve && t_.curve->has_equation() && !t_.range.empty())
    return t_.curve->curve_point(t_.range.end_pt());
  return COEDGE::end_pos();
}

void TCOEDGE::lose() {
  if (is_lost() || is_backup_image()) return;
  set_3D_curve(nullptr);
  COEDGE::lose();
}

void TCOEDGE::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  COEDGE::copy_scan(list, reason, skip);
  io::scan_geometry(t_, list);
}

VELM_TOPOLOGY_FIX(TCOEDGE, COEDGE, t_)

void TCOEDGE::save_common(ENTITY_LIST& list) const {
  COEDGE::save_common(list);
  io::save(t_, list);
  write_interval(t_.range);
}

void TCOEDGE::restore_common() {
  COEDGE::restore_common();
  io::restore(t_);
  t_.range = read_range();
}

// ---------------------------------------------------------------------------
// EDGE
EDGE::EDGE(VERTEX* start, VERTEX* end, CURVE* curve, sense_type sense, int convexity,
           const QELinterval* range) {
  f_.start = start;
  f_.end = end;
  f_.sense = sense;
  f_.convexity = convexity;
  if (range) f_.range = *range;
  set_geometry(curve);
  for (VERTEX* v : {start, end})
    if (v && v->count_edges() == 0) v->add_edge(this);
}

void EDGE::set_start(VERTEX* v) { set_field(this, f_.start, v); }
void EDGE::set_end(VERTEX* v) { set_field(this, f_.end, v); }
void EDGE::set_coedge(COEDGE* c) { set_field(this, f_.coedge, c); }
void EDGE::set_geometry(CURVE* curve, int, int) { set_counted(this, f_.geometry, curve); }
void EDGE::set_sense(sense_type sense, int) { set_field(this, f_.sense, sense); }
QELbox* EDGE::bound() const { return f_.bound.get(); }
void EDGE::set_bound(QELbox* box) { store_box(this, f_.bound, box); }

QELinterval EDGE::range_from_curve() const {
  CURVE* c = f_.geometry;
  if (!c || !c->has_equation() || !f_.start || !f_.end || !f_.start->geometry() ||
      !f_.end->geometry())
    return QELinterval();
  double t0 = c->curve_param(point_of(f_.start));
  double t1 = c->curve_param(point_of(f_.end));
  if (f_.sense == REVERSED) {
    // The curve runs from the end vertex to the start vertex.
    std::swap(t0, t1);
  }
  QELinterval full = c->curve_range();
  double period = full.finite() ? full.length() : 0.0;
  if (t1 <= t0 && period > 0.0) t1 += period;  // closed curves: one turn
  QELinterval on_curve(t0, t1);
  return f_.sense == FORWARD ? on_curve : -on_curve;
}

QELinterval EDGE::param_range() const {
  if (f_.range.type() != interval_unset) return f_.range;
  QELinterval r = range_from_curve();
  if (r.type() == interval_unset) velm_api_error_throw(VELM_BAD_ARGUMENT);
  return r;
}

void EDGE::set_param_range(const QELinterval* range) {
  set_field(this, f_.range, range ? *range : range_from_curve());
}

QELposition EDGE::start_pos() const {
  if (f_.start && f_.start->geometry()) return point_of(f_.start);
  double t = f_.sense == FORWARD ? param_range().start_pt() : -param_range().start_pt();
  if (!f_.geometry) velm_api_error_throw(VELM_NULL_ENTITY);
  return f_.geometry->curve_point(t);
}

QELposition EDGE::end_pos() const {
  if (f_.end && f_.end->geometry()) return point_of(f_.end);
  double t = f_.sense == FORWARD ? param_range().end_pt() : -param_range().end_pt();
  if (!f_.geometry) velm_api_error_throw(VELM_NULL_ENTITY);
  return f_.geometry->curve_point(t);
}

bool EDGE::closed() const {
  if (!f_.geometry || !f_.geometry->has_equation()) return f_.start && f_.start == f_.end;
  return same_point(start_pos(), end_pos());
}

double EDGE::length(bool) const {
  if (!f_.geometry || !f_.geometry->has_equation()) return 0.0;
  QELinterval r = param_range();
  try {
    return f_.geometry->curve_length(f_.sense == FORWARD ? r : -r);
  } catch (const velm_exception& e) {
    // A length that does not settle (a range far past its spline's knots):
    // the error names the edge.
    if (e.error_number() != qelvelm_api_errmod.message_code(VELM_NO_CONVERGENCE) || e.get_error_info()) throw;
    auto* info = new error_info(e.error_number(), "the length of an edge's curve over its range does not settle");
    info->entities().add(const_cast<EDGE*>(this));
    sys_error(e.error_number(), info);
  }
}

QELposition EDGE::mid_pos(bool) const {
  if (!f_.geometry || !f_.geometry->has_equation())
    return interpolate(0.5, start_pos(), end_pos());
  double t = param_range().mid_pt();
  return f_.geometry->curve_point(f_.sense == FORWARD ? t : -t);
}

void EDGE::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (VERTEX* v : {f_.start, f_.end})
    if (v && !v->is_lost()) v->delete_edge(this);
  set_geometry(nullptr);
  ENTITY::lose();
}

void EDGE::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  if (f_.start) list.add(f_.start);
  if (f_.end) list.add(f_.end);
  io::scan_geometry(f_, list);
}

VELM_TOPOLOGY_FIX(EDGE, ENTITY, f_)

void EDGE::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  io::save(f_, list);
  write_enum(f_.sense);
  write_int(f_.convexity);
  write_interval(f_.range);
  write_box(f_.bound);
}

void EDGE::restore_common() {
  ENTITY::restore_common();
  io::restore(f_);
  f_.sense = read_sense();
  f_.convexity = read_int();
  f_.range = read_range();
  read_box(f_.bound);
}

// ---------------------------------------------------------------------------
// TEDGE
TEDGE::TEDGE(VERTEX* start, VERTEX* end, CURVE* curve, sense_type sense, int convexity,
             const QELinterval* range, double tolerance)
    : EDGE(start, end, curve, sense, convexity, range) {
  t_.tolerance = tolerance;
}

void TEDGE::set_tolerance(double tolerance) { set_field(this, t_.tolerance, tolerance); }
void TEDGE::set_update(int update) { set_field(this, t_.update, update); }

void TEDGE::save_common(ENTITY_LIST& list) const {
  EDGE::save_common(list);
  write_real(t_.tolerance);
  write_int(t_.update);
}

void TEDGE::restore_common() {
  EDGE::restore_common();
  t_.tolerance = read_real();
  t_.update = read_int();
}

void TEDGE::copy_common(ENTITY_LIST& list, const TEDGE* from, pointer_map* pm, int skip,
                        SCAN_TYPE reason) {
  EDGE::copy_common(list, from, pm, skip, reason);
  t_ = from->t_;
}

// ---------------------------------------------------------------------------
// VERTEX
VERTEX::VERTEX(APOINT* point) { set_geometry(point); }

void VERTEX::set_geometry(APOINT* point) { set_counted(this, f_.geometry, point); }

EDGE* VERTEX::edge(int i) const { return i >= 0 && i < count_edges() ? f_.edges[i] : nullptr; }

// Each change makes its list first, so that a failed allocation changes nothing.
void VERTEX::add_edge(EDGE* e) {
  if (!e) return;
  for (int i = 0; i < f_.edges.size(); ++i)
    if (f_.edges[i] == e) return;
  velm_vertex_edges more = f_.edges.with(e);
  backup();
  f_.edges = more;
}

void VERTEX::delete_edge(EDGE* e) {
  for (int i = 0; i < f_.edges.size(); ++i)
    if (f_.edges[i] == e) {
      velm_vertex_edges fewer = f_.edges.without(e);
      backup();
      f_.edges = fewer;
      return;
    }
}

void VERTEX::set_edge(EDGE* e) {
  velm_vertex_edges one = e ? velm_vertex_edges().with(e) : velm_vertex_edges();
  backup();
  f_.edges = one;
}

QELbox* VERTEX::bound() const { return f_.bound.get(); }
void VERTEX::set_bound(QELbox* box) { store_box(this, f_.bound, box); }

void VERTEX::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  set_geometry(nullptr);
  ENTITY::lose();
}

void VERTEX::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  io::scan_geometry(f_, list);
}

void VERTEX::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  ENTITY::fix_pointers(array, reason);
  io::fix(f_, array);
  // References to edges that were not copied along are dropped.
  f_.edges = f_.edges.without(nullptr, true);
}

void VERTEX::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_int(count_edges());
  io::save(f_, list);
  write_box(f_.bound);
}

void VERTEX::restore_common() {
  ENTITY::restore_common();
  int n = read_int();
  if (n < 0 || n > 1000000) velm_save_damaged("an edge count outside 0 .. 1000000");
  f_.edges = velm_vertex_edges::of_nulls(n);
  io::restore(f_);
  read_box(f_.bound);
}

void VERTEX::copy_common(ENTITY_LIST& list, const VERTEX* from, pointer_map* pm, int skip,
                         SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  io::copy(f_, from->f_, list);
}

// ---------------------------------------------------------------------------
// TVERTEX
TVERTEX::TVERTEX(APOINT* point, double tolerance) : VERTEX(point) { t_.tolerance = tolerance; }

void TVERTEX::set_tolerance(double tolerance) { set_field(this, t_.tolerance, tolerance); }
void TVERTEX::set_update(int update) { set_field(this, t_.update, update); }

void TVERTEX::save_common(ENTITY_LIST& list) const {
  VERTEX::save_common(list);
  write_real(t_.tolerance);
  write_int(t_.update);
}

void TVERTEX::restore_common() {
  VERTEX::restore_common();
  t_.tolerance = read_real();
  t_.update = read_int();
}

void TVERTEX::copy_common(ENTITY_LIST& list, const TVERTEX* from, pointer_map* pm, int skip,
                          SCAN_TYPE reason) {
  VERTEX::copy_common(list, from, pm, skip, reason);
  t_ = from->t_;
}

// ---------------------------------------------------------------------------
// WIRE
std::vector<COEDGE*> wire_coedges(const WIRE* wire) {
  std::vector<COEDGE*> out;
  COEDGE* first = wire ? wire->coedge() : nullptr;
  if (!first) return out;
  out = ring(first);
  if (out.back()->next() != first)
    for (COEDGE* c = first->previous(); c && c != first && out.size() < velm_walk_limit(); c = c->previous())
      out.push_back(c);
  return out;
}

WIRE::WIRE(COEDGE* first, WIRE* next) {
  f_.coedge = first;
  f_.next = next;
  for (COEDGE* c : wire_coedges(this)) c->set_wire(this);
}

void WIRE::set_coedge(COEDGE* c) { set_field(this, f_.coedge, c); }
void WIRE::set_next(WIRE* next) { set_field(this, f_.next, next); }
void WIRE::set_body(BODY* body) { set_field(this, f_.body, body); }
void WIRE::set_shell(SHELL* shell) { set_field(this, f_.shell, shell); }

ENTITY* WIRE::owner() const {
  return f_.body ? static_cast<ENTITY*>(f_.body) : static_cast<ENTITY*>(f_.shell);
}

void WIRE::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  for (COEDGE* c : wire_coedges(this)) lose_live(c);
  ENTITY::lose();
}

void WIRE::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  add_all(list, wire_coedges(this));
}

VELM_TOPOLOGY_LINKS_ONLY(WIRE, ENTITY, f_)

// ---------------------------------------------------------------------------
// APOINT
void APOINT::set_coords(const QELposition& p) { set_field(this, coords_, p); }

bool APOINT::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset) {
  if (done.lookup(this) >= 0) return true;
  set_coords(coords_ * t);
  return ENTITY::apply_transform(t, done, negate, reset);
}

void APOINT::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (fp) std::fprintf(fp, "\tcoords : %.17g %.17g %.17g\n", coords_.x(), coords_.y(), coords_.z());
}

void APOINT::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_model_position(coords_);
}

void APOINT::restore_common() {
  ENTITY::restore_common();
  coords_ = read_model_position();
}

void APOINT::copy_common(ENTITY_LIST& list, const APOINT* from, pointer_map* pm, int skip,
                         SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  coords_ = from->coords_;
}

// ---------------------------------------------------------------------------
// WCS
WCS::WCS(const QELtransf& to_model) { set_transform(velm_require(VELM_NEW TRANSFORM(to_model))); }

WCS::WCS(const QELposition& origin, const QELunit_vector& x_axis, const QELunit_vector& y_axis) {
  // Rows are the images of the local axes.
  QELvector z = cross(x_axis, y_axis);
  const double rows[9] = {x_axis.x(), x_axis.y(), x_axis.z(), y_axis.x(), y_axis.y(),
                          y_axis.z(), z.x(),      z.y(),      z.z()};
  set_transform(velm_require(VELM_NEW TRANSFORM(restore_transf(
      QELmatrix(rows), origin - QELposition(), 1.0, 1, 0, 0))));
}

void WCS::set_transform(TRANSFORM* t) { set_counted(this, transform_, t); }

QELtransf WCS::to_model() const { return transform_ ? transform_->transform() : QELtransf(); }

bool WCS::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset) {
  if (done.lookup(this) >= 0) return true;
  if (transform_) {
    if (transform_->use_count() > 1) {
      // Shared: move this system only.
      set_transform(velm_require(VELM_NEW TRANSFORM(transform_->transform() * t)));
    } else {
      *transform_ *= t;
    }
  }
  return ENTITY::apply_transform(t, done, negate, reset);
}

void WCS::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  set_transform(nullptr);
  ENTITY::lose();
}

void WCS::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int skip) const {
  ENTITY::copy_scan(list, reason, skip);
  if (transform_) list.add(transform_);
}

void WCS::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  ENTITY::fix_pointers(array, reason);
  fix_field(transform_, array, 1, TRANSFORM_TYPE);
  if (transform_) transform_->add();
}

void WCS::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_ptr(transform_, list);
}

void WCS::restore_common() {
  ENTITY::restore_common();
  transform_ = reinterpret_cast<TRANSFORM*>(read_ptr());
}

void WCS::copy_common(ENTITY_LIST& list, const WCS* from, pointer_map* pm, int skip,
                      SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  transform_ = reinterpret_cast<TRANSFORM*>(copy_index(list, from->transform_));
}

// ---------------------------------------------------------------------------
bool is_wire_body(const ENTITY* e) {
  if (!is_BODY(e)) return false;
  ENTITY_LIST all;
  velm_topology_walk(e, all);
  bool wire = false;
  for (int i = 0; i < all.count(); ++i) {
    if (is_FACE(all[i])) return false;
    wire = wire || is_WIRE(all[i]);
  }
  return wire;
}

// ---------------------------------------------------------------------------
// Kernel-order walk. `sink` receives every entity in order of encounter (edges
// and vertices once per coedge) with its kernel type, known from the link it was
// reached through, so that a filtering sink reads nothing of what it drops; the
// walk goes no deeper than `deepest` (the rank of the deepest kind wanted), so
// a query for faces never visits a coedge.
namespace {
enum walk_rank { rank_lump = 1, rank_shell = 2, rank_face = 3, rank_loop = 4, rank_coedge = 5, rank_edge = 6, rank_vertex = 7 };

template <class Sink>
struct kernel_walk {
  Sink& sink;
  int deepest;

  void edge(const EDGE* e) {
    velm_prefetch_next_page(e);
    sink(const_cast<EDGE*>(e), EDGE_TYPE);
    if (deepest < rank_vertex) return;
    if (e->start()) {
      velm_prefetch_next_page(e->start());
      sink(e->start(), VERTEX_TYPE);
    }
    if (e->end()) sink(e->end(), VERTEX_TYPE);
  }
  void coedge(const COEDGE* c) {
    velm_prefetch_next_page(c);
    sink(const_cast<COEDGE*>(c), COEDGE_TYPE);
    if (deepest < rank_edge) return;
    if (EDGE* e = c->edge()) edge(e);
  }
  void loop(const LOOP* l) {
    sink(const_cast<LOOP*>(l), LOOP_TYPE);
    if (deepest < rank_coedge) return;
    each_in_ring(l->start(), [&](COEDGE* c) { coedge(c); });
  }
  void face(const FACE* f) {
    velm_prefetch_next_page(f);
    if (f->loop()) velm_prefetch_next_page(f->loop());
    sink(const_cast<FACE*>(f), FACE_TYPE);
    if (deepest < rank_loop) return;
    each_in_chain(f->loop(), [&](LOOP* l) { loop(l); });
  }
  void wire(const WIRE* w) {
    sink(const_cast<WIRE*>(w), WIRE_TYPE);
    if (deepest < rank_coedge) return;
    for (COEDGE* c : wire_coedges(w)) coedge(c);
  }
  void shell_faces(const SHELL* s) {
    sink(const_cast<SHELL*>(s), SHELL_TYPE);
    if (deepest < rank_face) return;
    each_in_chain(s->face(), [&](FACE* f) { face(f); });
  }
  void shell_wires(const SHELL* s) {
    if (deepest < rank_face) return;
    each_in_chain(s->wire(), [&](WIRE* w) { wire(w); });
  }
  void lump(const LUMP* l, bool wires) {
    if (!wires) sink(const_cast<LUMP*>(l), LUMP_TYPE);
    if (deepest < rank_shell) return;
    each_in_chain(l->shell(), [&](SHELL* s) { wires ? shell_wires(s) : shell_faces(s); });
  }

  void from(const ENTITY* root) {
    if (is_BODY(root)) {
      auto* b = static_cast<const BODY*>(root);
      sink(const_cast<BODY*>(b), BODY_TYPE);
      if (deepest < rank_lump) return;
      each_in_chain(b->lump(), [&](LUMP* l) { lump(l, false); });
      if (deepest >= rank_face)
        each_in_chain(b->wire(), [&](WIRE* w) { wire(w); });
      if (deepest >= rank_face)
        each_in_chain(b->lump(), [&](LUMP* l) { lump(l, true); });
    } else if (is_LUMP(root)) {
      lump(static_cast<const LUMP*>(root), false);
      lump(static_cast<const LUMP*>(root), true);
    } else if (is_SHELL(root)) {
      shell_faces(static_cast<const SHELL*>(root));
      shell_wires(static_cast<const SHELL*>(root));
    } else if (is_FACE(root)) {
      face(static_cast<const FACE*>(root));
    } else if (is_LOOP(root)) {
      loop(static_cast<const LOOP*>(root));
    } else if (is_WIRE(root)) {
      wire(static_cast<const WIRE*>(root));
    } else if (is_COEDGE(root)) {
      coedge(static_cast<const COEDGE*>(root));
    } else if (is_EDGE(root)) {
      edge(static_cast<const EDGE*>(root));
    } else if (is_VERTEX(root)) {
      sink(const_cast<ENTITY*>(root), VERTEX_TYPE);
    }
  }
};

template <class Sink>
void walk_kernel_order(const ENTITY* root, int deepest, Sink&& sink) {
  kernel_walk<std::remove_reference_t<Sink>> walk{sink, deepest};
  walk.from(root);
}

int rank_of_type(int type) {
  switch (type) {
    case LUMP_TYPE: return rank_lump;
    case SHELL_TYPE: return rank_shell;
    case FACE_TYPE:
    case WIRE_TYPE: return rank_face;
    case LOOP_TYPE: return rank_loop;
    case COEDGE_TYPE: return rank_coedge;
    case EDGE_TYPE: return rank_edge;
    case VERTEX_TYPE: return rank_vertex;
    default: return 0;
  }
}
}  // namespace

void velm_topology_walk(const ENTITY* root, ENTITY_LIST& out) {
  velm_stamped_list stamps(out);
  walk_kernel_order(root, rank_vertex, [&](ENTITY* e, int) { out.add(e); });
}

void velm_topology_walk(const ENTITY* root, int type, ENTITY_LIST& out,
                        const std::function<void(ENTITY*)>& listed) {
  velm_stamped_list stamps(out);
  walk_kernel_order(root, rank_of_type(type), [&](ENTITY* e, int kind) {
    if (kind != type) return;
    const int before = out.count();
    out.add(e);
    if (listed && out.count() > before) listed(e);
  });
}

// ---------------------------------------------------------------------------
// Losing a whole body. Everything below the body goes with it, shared or not,
// and is marked lost as it stands: nothing below the body is changed on the
// way, so a roll-back revives each entity exactly as it was without a
// before-image of its own. Only what outlives the body goes through its
// setters (and so its before-image): geometry also used elsewhere, coedges of
// other bodies on its edges, collections of its entities, attributes with
// work to do as they go.
namespace {
// What goes with the body, marked; in blocks rather than one vector, so that a
// body of millions never holds the list twice while it grows.
// A loss that runs through keeps the marks on what it lost (a revival clears
// them), so the body is not visited once more only to unmark it; a loss cut
// short by an error unmarks everything it marked.
class doomed_marks {
 public:
  ~doomed_marks() {
    if (std::uncaught_exceptions() > unwinding_)
      for (ENTITY* e : entities) velm_entity_access::set_doomed(e, false);
  }
  bool take(ENTITY* e) {
    if (velm_entity_access::is_doomed(e)) return false;
    velm_entity_access::set_doomed(e, true);
    entities.push_back(e);
    return true;
  }
  std::deque<ENTITY*> entities;

 private:
  int unwinding_ = std::uncaught_exceptions();
};
}  // namespace

namespace {
bool is_topology_entity(const ENTITY* e) {
  switch (e->identity(1)) {
    case BODY_TYPE: case LUMP_TYPE: case SHELL_TYPE: case FACE_TYPE: case LOOP_TYPE:
    case COEDGE_TYPE: case EDGE_TYPE: case VERTEX_TYPE: case WIRE_TYPE: return true;
    default: return false;
  }
}

// True when a coedge that does not go with the body sits on the edge.
bool edge_used_outside(const EDGE* e) {
  COEDGE* first = e->coedge();
  std::size_t steps = velm_walk_limit();
  for (COEDGE* c = first; c && steps-- > 0;) {
    if (!velm_entity_access::is_doomed(c)) return true;
    c = c->partner();
    if (c == first) break;
  }
  return false;
}

void lose_whole_body(BODY* body) {
  doomed_marks doomed;
  // One walk, deduplicated by the marks; the body itself last.
  walk_kernel_order(body, rank_vertex, [&](ENTITY* e, int) {
    if (e != body) doomed.take(e);
  });
  doomed.take(body);
  const std::size_t topology = doomed.entities.size();

  // Geometry goes with the body when the body holds every use of it. Uses are
  // counted beside the geometry's list, found through the entities' scratch
  // (checked against the list), or a flat table inside another pass.
  // Coedges of other bodies on the body's edges keep a ring of their own; in
  // the same pass, while each entity is at hand.
  std::vector<ENTITY*> geometry;
  std::vector<int> inside;
  const velm_scratch scratch;
  velm_address_map<int> uses;
  for (std::size_t i = 0; i < topology; ++i) {
    ENTITY* e = doomed.entities[i];
    if (i + velm_prefetch_ahead < topology) velm_prefetch(doomed.entities[i + velm_prefetch_ahead]);
    velm_topology_io::counted_links(e, [&](ENTITY* g) {
      std::uint32_t at = 0;
      if (!scratch.held()) {
        auto [count, first] = uses.insert(g, 0);
        if (first) geometry.push_back(g);
        ++*count;
      } else if (scratch.get(g, at) && at < geometry.size() && geometry[at] == g) {
        ++inside[at];
      } else {
        scratch.set(g, static_cast<std::uint32_t>(geometry.size()));
        geometry.push_back(g);
        inside.push_back(1);
      }
    });
    if (!is_EDGE(e) || !edge_used_outside(static_cast<EDGE*>(e))) continue;
    std::vector<COEDGE*> outside;
    for (COEDGE* c : edge_coedges(static_cast<EDGE*>(e)))
      if (!velm_entity_access::is_doomed(c)) outside.push_back(c);
    for (std::size_t k = 0; k < outside.size(); ++k)
      outside[k]->set_partner(outside.size() == 1 ? nullptr : outside[(k + 1) % outside.size()]);
  }
  for (std::size_t k = 0; k < geometry.size(); ++k) {
    ENTITY* g = geometry[k];
    const int in = scratch.held() ? inside[k] : *uses.find(g);
    if (g->use_count() <= in) {
      doomed.take(g);
    } else {
      for (int n = 0; n < in; ++n) g->remove(0);
    }
  }

  const std::size_t all = doomed.entities.size();
  for (std::size_t i = 0; i < all; ++i) {
    ENTITY* e = doomed.entities[i];
    if (i + velm_prefetch_ahead < all) velm_prefetch(doomed.entities[i + velm_prefetch_ahead]);
    if (!e->is_lost()) {
      if (is_topology_entity(e))
        e->ENTITY::lose();  // the class's own lose would unlink what goes anyway
      else
        e->lose();
      if (!e->is_lost()) velm_entity_access::set_doomed(e, false);
    }
  }
}
}  // namespace
