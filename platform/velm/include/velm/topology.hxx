// Topology: body, lump, shell, face, loop, coedge, edge, vertex, wire, their
// tolerant kinds, the point entity and the working coordinate system.
//
// Setters back the entity up first and change only the link they name; back
// links are the caller's business unless a constructor says otherwise.
// Geometry links (surfaces, curves, pcurves, points, transforms) hold one use
// each: setters raise the new geometry's use count and lower the old one's.
// Trailing `reset_pattern` and `pattern` arguments are accepted and ignored.
//
// lose() deletes an entity with what it owns: a body its lumps, wires,
// transform use and every edge and vertex it reaches; a lump its shells; a
// shell its faces and wires; a face its loops and surface use; a loop or wire
// its coedges; a coedge its pcurve use and its place in the partner ring; an
// edge its curve use and the references its vertices hold to it; a vertex its
// point use. Unlinking from the parent's chain is the caller's (api_del_entity
// does it).
#pragma once

#include <functional>
#include <vector>

#include "velm/entity.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

enum sense_type { FORWARD = 0, REVERSED = 1 };
enum EDGE_cvty {
  EDGE_cvty_concave = 0,
  EDGE_cvty_convex = 1,
  EDGE_cvty_tangent = 2,
  EDGE_cvty_mixed = 3,
  EDGE_cvty_unknown = 9
};

class BODY;
class LUMP;
class SHELL;
class FACE;
class LOOP;
class COEDGE;
class EDGE;
class VERTEX;
class WIRE;
class APOINT;
struct velm_topology_io;

// A cached box, held out of line and only when set: most entities never have
// one. The box is never changed in place once set, so an entity, its
// before-images and its copies share it, and making them never allocates.
class velm_box_slot {
 public:
  velm_box_slot() = default;
  velm_box_slot(const velm_box_slot& other) noexcept : cell_(other.cell_) {
    if (cell_) ++cell_->uses;
  }
  velm_box_slot& operator=(const velm_box_slot& other) noexcept {
    if (other.cell_) ++other.cell_->uses;
    release();
    cell_ = other.cell_;
    return *this;
  }
  ~velm_box_slot() { release(); }
  QELbox* get() const { return cell_ ? &cell_->box : nullptr; }
  // A slot holding a box of its own (on the C++ heap, like the containers of
  // other entities: not a kernel object).
  static velm_box_slot holding(const QELbox& box);

 private:
  struct cell {
    QELbox box;
    int uses;
  };
  void release() noexcept;
  cell* cell_ = nullptr;
};

// A vertex's edge references: one held in place (the usual case, a vertex of
// a manifold body), more in a block that is never changed in place, shared
// like the box above.
class velm_vertex_edges {
 public:
  velm_vertex_edges() = default;
  velm_vertex_edges(const velm_vertex_edges& other) noexcept;
  velm_vertex_edges& operator=(const velm_vertex_edges& other) noexcept;
  ~velm_vertex_edges() { release(); }
  int size() const { return count_; }
  EDGE* operator[](int i) const { return count_ == 1 ? one_ : slots(many_)[i]; }
  // `count` null references.
  static velm_vertex_edges of_nulls(int count);
  // The references with `e` appended, or with `e` (its first or every time) left out.
  velm_vertex_edges with(EDGE* e) const;
  velm_vertex_edges without(EDGE* e, bool every = false) const;
  // Calls fn(EDGE*&) on each reference; a reference fn changes is stored in a
  // block of this list's own (copied first when shared).
  template <class F>
  void each(F&& fn) {
    for (int i = 0; i < count_; ++i) {
      EDGE* e = (*this)[i];
      fn(e);
      if (e != (*this)[i]) store(i, e);
    }
  }

 private:
  struct block {  // followed by the references
    int uses;
    int spare;
  };
  static EDGE** slots(block* b) { return reinterpret_cast<EDGE**>(b + 1); }
  static block* new_block(int count);
  void store(int i, EDGE* e);
  void release() noexcept;
  union {
    EDGE* one_ = nullptr;
    block* many_;
  };
  int count_ = 0;
};

class BODY : public ENTITY {
  VELM_ENTITY_DECL(BODY, ENTITY, 1)
  BODY() = default;
  explicit BODY(LUMP* first);  // sets every lump's body
  explicit BODY(WIRE* wire);   // sets the wire's body
  BODY(const BODY&) = default;
  BODY& operator=(const BODY&) = default;

  LUMP* lump() const { return f_.lump; }
  void set_lump(LUMP* lump);
  WIRE* wire() const { return f_.wire; }
  void set_wire(WIRE* wire);
  TRANSFORM* transform() const { return f_.transform; }
  void set_transform(TRANSFORM* transform);

  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const BODY* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    LUMP* lump = nullptr;
    WIRE* wire = nullptr;
    TRANSFORM* transform = nullptr;
  } f_;
};

class LUMP : public ENTITY {
  VELM_ENTITY_DECL(LUMP, ENTITY, 1)
  LUMP() = default;
  explicit LUMP(SHELL* first_shell, LUMP* next = nullptr);  // sets every shell's lump
  LUMP(const LUMP&) = default;
  LUMP& operator=(const LUMP&) = default;

  LUMP* next(int = 0) const { return f_.next; }
  void set_next(LUMP* next, int = 1);
  SHELL* shell() const { return f_.shell; }
  void set_shell(SHELL* shell);
  BODY* body() const { return f_.body; }
  void set_body(BODY* body);

  ENTITY* owner() const override;
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const LUMP* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    LUMP* next = nullptr;
    SHELL* shell = nullptr;
    BODY* body = nullptr;
  } f_;
};

class SHELL : public ENTITY {
  VELM_ENTITY_DECL(SHELL, ENTITY, 1)
  SHELL() = default;
  explicit SHELL(FACE* first_face, SHELL* next = nullptr);  // sets every face's shell
  SHELL(const SHELL&) = default;
  SHELL& operator=(const SHELL&) = default;

  SHELL* next(int = 0) const { return f_.next; }
  void set_next(SHELL* next, int = 1);
  FACE* face() const { return f_.face; }
  void set_face(FACE* face);
  WIRE* wire() const { return f_.wire; }
  void set_wire(WIRE* wire);
  LUMP* lump() const { return f_.lump; }
  void set_lump(LUMP* lump);
  // 1 when every edge of its faces has exactly two coedges of opposite sense
  // from faces of this shell, and the shell has no wire and no double-sided face.
  int is_closed() const;

  ENTITY* owner() const override;
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const SHELL* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    SHELL* next = nullptr;
    FACE* face = nullptr;
    WIRE* wire = nullptr;
    LUMP* lump = nullptr;
  } f_;
};

class FACE : public ENTITY {
  VELM_ENTITY_DECL(FACE, ENTITY, 1)
  FACE() = default;
  // Sets every loop's face; raises the surface's use count.
  FACE(LOOP* first_loop, FACE* next, SURFACE* geometry, sense_type sense);
  FACE(const FACE&) = default;
  FACE& operator=(const FACE&) = default;

  FACE* next(int = 0) const { return f_.next; }
  void set_next(FACE* next, int = 1);
  LOOP* loop() const { return f_.loop; }
  void set_loop(LOOP* loop, int = 1);
  SHELL* shell() const { return f_.shell; }
  void set_shell(SHELL* shell);
  SURFACE* geometry() const { return f_.geometry; }
  void set_geometry(SURFACE* surface, int = 1);
  sense_type sense() const { return f_.sense; }
  void set_sense(sense_type sense, int = 1);
  int sides() const { return f_.sides; }  // 0 single-sided, 1 double-sided
  void set_sides(int sides, int = 1);
  int cont() const { return f_.cont; }  // 0 both sides outside, 1 both inside
  void set_cont(int cont);
  // Cached box or null. set_bound takes a box made with new (null clears).
  QELbox* bound() const;
  void set_bound(QELbox* box);

  ENTITY* owner() const override;
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const FACE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    FACE* next = nullptr;
    LOOP* loop = nullptr;
    SHELL* shell = nullptr;
    SURFACE* geometry = nullptr;
    sense_type sense = FORWARD;
    int sides = 0;
    int cont = 0;
    velm_box_slot bound;
  } f_;
};

class LOOP : public ENTITY {
  VELM_ENTITY_DECL(LOOP, ENTITY, 1)
  LOOP() = default;
  explicit LOOP(COEDGE* start, LOOP* next = nullptr);  // sets the loop of every coedge of the ring
  LOOP(const LOOP&) = default;
  LOOP& operator=(const LOOP&) = default;

  COEDGE* start() const { return f_.start; }
  void set_start(COEDGE* start);
  LOOP* next(int = 0) const { return f_.next; }
  void set_next(LOOP* next, int = 1);
  FACE* face() const { return f_.face; }
  void set_face(FACE* face);
  // Cached loop type; computed through velm_loop_type_hook when 0.
  int get_classification() const;
  void set_classification(int type);
  // Swaps next and previous of every coedge, negates pcurves and flips senses
  // (tolerant coedges also negate their range and 3-D curve); the start stays.
  void reverse();

  ENTITY* owner() const override;
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const LOOP* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    LOOP* next = nullptr;
    COEDGE* start = nullptr;
    FACE* face = nullptr;
    int classification = 0;
  } f_;
};

// Loop typing lives with the geometric queries; they install it here.
extern int (*velm_loop_type_hook)(const LOOP* loop);

class COEDGE : public ENTITY {
  VELM_ENTITY_DECL(COEDGE, ENTITY, 1)
  COEDGE() = default;
  // An edge without coedges takes this one as its first; the partner stays null.
  COEDGE(EDGE* edge, sense_type sense, COEDGE* previous = nullptr, COEDGE* next = nullptr);
  COEDGE(const COEDGE&) = default;
  COEDGE& operator=(const COEDGE&) = default;

  COEDGE* next(int = 0) const { return f_.next; }
  COEDGE* previous(int = 0) const { return f_.previous; }
  COEDGE* partner() const { return f_.partner; }
  EDGE* edge() const { return f_.edge; }
  sense_type sense() const { return f_.sense; }
  LOOP* loop() const;  // null on a wire
  WIRE* wire() const;  // null in a loop
  PCURVE* geometry() const { return f_.geometry; }
  // Sense-aware ends.
  VERTEX* start() const;
  VERTEX* end() const;
  virtual QELposition start_pos() const;
  virtual QELposition end_pos() const;
  // The edge's range, negated for a reversed coedge.
  virtual QELinterval param_range() const;

  void set_next(COEDGE* next, int direction = 0, int = 1);
  void set_previous(COEDGE* previous, int direction = 0, int = 1);
  void set_partner(COEDGE* partner);
  void set_edge(EDGE* edge);
  void set_sense(sense_type sense, int = 1);
  void set_loop(LOOP* loop);
  void set_wire(WIRE* wire);
  void set_owner(ENTITY* owner);  // a loop or a wire
  void set_geometry(PCURVE* pcurve, int = 1);

  ENTITY* owner() const override { return f_.owner; }
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const COEDGE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  friend class LOOP;
  struct fields {
    COEDGE* next = nullptr;
    COEDGE* previous = nullptr;
    COEDGE* partner = nullptr;
    EDGE* edge = nullptr;
    ENTITY* owner = nullptr;
    PCURVE* geometry = nullptr;
    sense_type sense = FORWARD;
  } f_;
};

// Tolerant coedge: its own parameter range and 3-D curve.
class TCOEDGE : public COEDGE {
  VELM_ENTITY_DECL(TCOEDGE, COEDGE, 2)
  TCOEDGE() = default;
  TCOEDGE(EDGE* edge, sense_type sense, COEDGE* previous = nullptr, COEDGE* next = nullptr);
  TCOEDGE(const TCOEDGE&) = default;
  TCOEDGE& operator=(const TCOEDGE&) = default;

  QELinterval param_range() const override;  // its own once set
  void set_param_range(const QELinterval& range);
  CURVE* get_3D_curve() const { return t_.curve; }
  void set_3D_curve(CURVE* curve);
  QELposition start_pos() const override;
  QELposition end_pos() const override;

  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void lose() override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const TCOEDGE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  friend class LOOP;
  struct fields {
    CURVE* curve = nullptr;
    QELinterval range;
  } t_;
};

class EDGE : public ENTITY {
  VELM_ENTITY_DECL(EDGE, ENTITY, 1)
  EDGE() = default;
  // A vertex without edge references gets this edge as its reference. Null
  // range: the curve's range between the vertices, worked out when asked.
  EDGE(VERTEX* start, VERTEX* end, CURVE* curve, sense_type sense,
       int convexity = EDGE_cvty_unknown, const QELinterval* range = nullptr);
  EDGE(const EDGE&) = default;
  EDGE& operator=(const EDGE&) = default;

  VERTEX* start() const { return f_.start; }
  VERTEX* end() const { return f_.end; }
  void set_start(VERTEX* v);
  void set_end(VERTEX* v);
  COEDGE* coedge() const { return f_.coedge; }
  void set_coedge(COEDGE* c);
  CURVE* geometry() const { return f_.geometry; }
  void set_geometry(CURVE* curve, int = 1, int = 1);
  sense_type sense() const { return f_.sense; }
  void set_sense(sense_type sense, int = 1);
  // Range in the edge's own direction; throws when none can be made (no
  // stored range and no curve equation).
  QELinterval param_range() const;
  // Null: recompute from the curve and the vertices (unset when that cannot be done).
  void set_param_range(const QELinterval* range = nullptr);
  double start_param() const { return param_range().start_pt(); }
  double end_param() const { return param_range().end_pt(); }
  bool closed() const;
  double length(bool approx_ok = true) const;
  QELposition mid_pos(bool approx_ok = true) const;
  QELposition start_pos() const;
  QELposition end_pos() const;
  int get_convexity() const { return f_.convexity; }
  virtual double get_tolerance() const { return 0.0; }
  QELbox* bound() const;
  void set_bound(QELbox* box);

  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const EDGE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  // The range the curve gives between the vertices; unset without equation.
  QELinterval range_from_curve() const;
  struct fields {
    VERTEX* start = nullptr;
    VERTEX* end = nullptr;
    COEDGE* coedge = nullptr;
    CURVE* geometry = nullptr;
    sense_type sense = FORWARD;
    int convexity = EDGE_cvty_unknown;
    QELinterval range;
    velm_box_slot bound;
  } f_;
};

class TEDGE : public EDGE {
  VELM_ENTITY_DECL(TEDGE, EDGE, 2)
  TEDGE() = default;
  TEDGE(VERTEX* start, VERTEX* end, CURVE* curve, sense_type sense,
        int convexity = EDGE_cvty_unknown, const QELinterval* range = nullptr,
        double tolerance = 0.0);
  TEDGE(const TEDGE&) = default;
  TEDGE& operator=(const TEDGE&) = default;

  double get_tolerance() const override { return t_.tolerance; }
  void set_tolerance(double tolerance);
  void set_update(int update);
  int get_update() const { return t_.update; }

  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const TEDGE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  struct fields {
    double tolerance = 0.0;
    int update = 0;
  } t_;
};

class VERTEX : public ENTITY {
  VELM_ENTITY_DECL(VERTEX, ENTITY, 1)
  explicit VERTEX(APOINT* point = nullptr);  // raises the point's use count
  VERTEX(const VERTEX&) = default;
  VERTEX& operator=(const VERTEX&) = default;

  APOINT* geometry() const { return f_.geometry; }
  void set_geometry(APOINT* point);
  // Edge references: one per edge group around the vertex.
  EDGE* edge(int i = 0) const;  // null past the last
  int count_edges() const { return f_.edges.size(); }
  void add_edge(EDGE* e);        // appends unless present
  void delete_edge(EDGE* e);     // later references move down
  void set_edge(EDGE* e);        // the list becomes this one edge (null: empty)
  virtual double get_tolerance() const { return 0.0; }
  QELbox* bound() const;
  void set_bound(QELbox* box);

  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const VERTEX* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    APOINT* geometry = nullptr;
    velm_vertex_edges edges;
    velm_box_slot bound;
  } f_;
};

class TVERTEX : public VERTEX {
  VELM_ENTITY_DECL(TVERTEX, VERTEX, 2)
  explicit TVERTEX(APOINT* point = nullptr, double tolerance = 0.0);
  TVERTEX(const TVERTEX&) = default;
  TVERTEX& operator=(const TVERTEX&) = default;

  double get_tolerance() const override { return t_.tolerance; }
  void set_tolerance(double tolerance);
  // 1: the tolerance is to be recomputed by the tolerance routines; 0: keep.
  void set_update(int update);
  int get_update() const { return t_.update; }

  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const TVERTEX* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  struct fields {
    double tolerance = 0.0;
    int update = 0;
  } t_;
};

class WIRE : public ENTITY {
  VELM_ENTITY_DECL(WIRE, ENTITY, 1)
  WIRE() = default;
  // Sets the wire of every coedge reachable from `first` through next and previous.
  explicit WIRE(COEDGE* first, WIRE* next = nullptr);
  WIRE(const WIRE&) = default;
  WIRE& operator=(const WIRE&) = default;

  COEDGE* coedge() const { return f_.coedge; }
  void set_coedge(COEDGE* c);
  WIRE* next(int = 0) const { return f_.next; }
  void set_next(WIRE* next);
  BODY* body() const { return f_.body; }
  void set_body(BODY* body);
  SHELL* shell() const { return f_.shell; }
  void set_shell(SHELL* shell);

  ENTITY* owner() const override;  // the body, else the shell
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const WIRE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend struct velm_topology_io;
  struct fields {
    WIRE* next = nullptr;
    COEDGE* coedge = nullptr;
    BODY* body = nullptr;
    SHELL* shell = nullptr;
  } f_;
};

// Every coedge of a wire: from its first coedge along next, then the ones
// before it along previous (an open wire need not start at its first coedge).
std::vector<COEDGE*> wire_coedges(const WIRE* wire);

class APOINT : public ENTITY {
  VELM_ENTITY_DECL(APOINT, ENTITY, 1)
  APOINT() = default;
  explicit APOINT(const QELposition& p) : coords_(p) {}
  APOINT(double x, double y, double z) : coords_(x, y, z) {}
  APOINT(const APOINT&) = default;
  APOINT& operator=(const APOINT&) = default;

  const QELposition& coords() const { return coords_; }
  void set_coords(const QELposition& p);

  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const APOINT* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  QELposition coords_;
};

// Working coordinate system. Its transform (local -> model) lives in a
// TRANSFORM it holds one use of.
class WCS : public ENTITY {
  VELM_ENTITY_DECL(WCS, ENTITY, 1)
  WCS() = default;
  explicit WCS(const QELtransf& to_model);
  WCS(const QELposition& origin, const QELunit_vector& x_axis, const QELunit_vector& y_axis);
  WCS(const WCS&) = default;
  WCS& operator=(const WCS&) = default;

  QELtransf to_model() const;

  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const WCS* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  void set_transform(TRANSFORM* t);
  TRANSFORM* transform_ = nullptr;
};

// A body with a wire and no face.
bool is_wire_body(const ENTITY* e);

// Every topological entity at or below `root`, once each, in kernel order:
// lumps, shells, faces, loops, coedges (ring order from the loop's start), each
// coedge's edge, its start vertex, its end vertex; then the body's own wires
// and each shell's wires with their coedges, edges and vertices.
void velm_topology_walk(const ENTITY* root, ENTITY_LIST& out);
// The same walk keeping only entities of one kind (LUMP_TYPE ... VERTEX_TYPE,
// WIRE_TYPE), without descending below that kind; `listed`, when given, is
// called with each entity as it joins the list.
void velm_topology_walk(const ENTITY* root, int type, ENTITY_LIST& out,
                        const std::function<void(ENTITY*)>& listed = {});
