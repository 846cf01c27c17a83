// The use-counted geometry entities that topology points at: CURVE (edges,
// tolerant coedges), SURFACE (faces) and PCURVE (coedges), and their kinds
// carrying the equations of geometry.hxx.
//
// Each kind holds its equation by value. The bare CURVE and SURFACE carry none
// (equation_ptr() is null, equation() throws); topology asks a curve only
// through the hooks curve_point, curve_param, curve_length, curve_range and
// reverse_equation, which answer from the equation.
//
// Persistence: every equation field is saved (reals bit-exact, B-spline data
// included); pointers to other entities do not occur in equations.
#pragma once

#include "velm/entity.hxx"
#include "velm/geometry.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

class CURVE : public ENTITY {
  VELM_ENTITY_DECL(CURVE, ENTITY, 1)
  CURVE() = default;
  CURVE(const CURVE&) = default;
  CURVE& operator=(const CURVE&) = default;

  // The equation; null on the bare class.
  virtual const curve* equation_ptr() const { return nullptr; }
  // Throws (VELM_NOT_IMPLEMENTED) for a curve without equation.
  const curve& equation() const;
  // Backs up first (bulletin board), then hands out the equation to change.
  curve& equation_for_update();
  // The curve::type() code; -1 without equation.
  int type() const;
  bool has_equation() const { return equation_ptr() != nullptr; }

  // Hooks used by topology.
  QELposition curve_point(double t) const;        // throws without equation
  double curve_param(const QELposition& p) const;  // throws without equation
  double curve_length(const QELinterval& r) const;  // 0 without equation
  QELinterval curve_range() const;                 // unset without equation
  void reverse_equation();                         // t -> -t; nothing without equation

  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void debug_ent(FILE* fp) const override;

 protected:
  virtual curve* mutable_equation() { return nullptr; }
};

class SURFACE : public ENTITY {
  VELM_ENTITY_DECL(SURFACE, ENTITY, 1)
  SURFACE() = default;
  SURFACE(const SURFACE&) = default;
  SURFACE& operator=(const SURFACE&) = default;

  virtual const surface* equation_ptr() const { return nullptr; }
  const surface& equation() const;  // throws without equation
  surface& equation_for_update();   // backs up first
  int type() const;                 // surface::type() code; -1 without equation
  bool has_equation() const { return equation_ptr() != nullptr; }

  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void debug_ent(FILE* fp) const override;

 protected:
  virtual surface* mutable_equation() { return nullptr; }
};

// Save, restore and copy of the equations (geom_io.cpp).
void velm_save_equation(const straight&);
void velm_save_equation(const ellipse&);
void velm_save_equation(const intcurve&);
void velm_save_equation(const degenerate_curve&);
void velm_save_equation(const plane&);
void velm_save_equation(const cone&);
void velm_save_equation(const sphere&);
void velm_save_equation(const torus&);
void velm_save_equation(const spline&);
void velm_save_equation(const pcurve&);
void velm_restore_equation(straight&);
void velm_restore_equation(ellipse&);
void velm_restore_equation(intcurve&);
void velm_restore_equation(degenerate_curve&);
void velm_restore_equation(plane&);
void velm_restore_equation(cone&);
void velm_restore_equation(sphere&);
void velm_restore_equation(torus&);
void velm_restore_equation(spline&);
void velm_restore_equation(pcurve&);
// Transforms a pcurve's surface copy; under a mirror a sphere's or torus's
// (u, v) moves to (u, -v), so the pcurve follows.
void velm_transform_pcurve(pcurve&, const QELtransf&);
// A copied entity owns its equation outright (a spline's shared definition is
// duplicated), so changing the copy never reaches the original or a backup.
template <class EQ>
void velm_own_equation(EQ&) {}
inline void velm_own_equation(spline& s) { s.make_unique(); }

// A geometry entity kind holding an equation EQ under the bare class BASE.
template <class BASE, class EQ, class EQBASE>
class velm_geometry_of : public BASE {
 public:
  const EQ& equation() const { return def_; }
  EQ& equation_for_update() {
    this->backup();
    return def_;
  }
  const EQBASE* equation_ptr() const override { return &def_; }

  void save_common(ENTITY_LIST& list) const {
    BASE::save_common(list);
    velm_save_equation(def_);
  }
  void restore_common() {
    BASE::restore_common();
    velm_restore_equation(def_);
  }
  void copy_common(ENTITY_LIST& list, const velm_geometry_of* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy) {
    BASE::copy_common(list, from, pm, dpcpy_skip, reason);
    def_ = from->def_;
    velm_own_equation(def_);
  }

 protected:
  velm_geometry_of() = default;
  explicit velm_geometry_of(const EQ& e) : def_(e) { velm_own_equation(def_); }
  velm_geometry_of(const velm_geometry_of& o) : BASE(o), def_(o.def_) { velm_own_equation(def_); }
  velm_geometry_of& operator=(const velm_geometry_of&) = default;
  EQBASE* mutable_equation() override { return &def_; }

 private:
  EQ def_;
};

#define VELM_GEOMETRY_KIND(CLASS, BASE, EQ, EQBASE)                     \
  class CLASS : public velm_geometry_of<BASE, EQ, EQBASE> {             \
    VELM_ENTITY_DECL(CLASS, BASE, 2)                                    \
    CLASS() = default;                                                  \
    explicit CLASS(const EQ& e) : velm_geometry_of<BASE, EQ, EQBASE>(e) {} \
    CLASS(const CLASS&) = default;                                      \
    CLASS& operator=(const CLASS&) = default;                           \
  };

VELM_GEOMETRY_KIND(STRAIGHT, CURVE, straight, curve)
VELM_GEOMETRY_KIND(ELLIPSE, CURVE, ellipse, curve)
VELM_GEOMETRY_KIND(INTCURVE, CURVE, intcurve, curve)
VELM_GEOMETRY_KIND(PLANE, SURFACE, plane, surface)
VELM_GEOMETRY_KIND(CONE, SURFACE, cone, surface)
VELM_GEOMETRY_KIND(SPHERE, SURFACE, sphere, surface)
VELM_GEOMETRY_KIND(TORUS, SURFACE, torus, surface)
VELM_GEOMETRY_KIND(SPLINE, SURFACE, spline, surface)

class DEGENERATE_CURVE : public velm_geometry_of<CURVE, degenerate_curve, curve> {
  VELM_ENTITY_DECL(DEGENERATE_CURVE, CURVE, 2)
  DEGENERATE_CURVE() = default;
  explicit DEGENERATE_CURVE(const QELposition& p)
      : velm_geometry_of<CURVE, degenerate_curve, curve>(degenerate_curve(p)) {}
  explicit DEGENERATE_CURVE(const degenerate_curve& e)
      : velm_geometry_of<CURVE, degenerate_curve, curve>(e) {}
  DEGENERATE_CURVE(const DEGENERATE_CURVE&) = default;
  DEGENERATE_CURVE& operator=(const DEGENERATE_CURVE&) = default;
};

// A pcurve entity: its definition is a pcurve (bs2 curve on a copy of the
// surface), possibly taken from an intcurve (index +-1/+-2).
class PCURVE : public ENTITY {
  VELM_ENTITY_DECL(PCURVE, ENTITY, 1)
  PCURVE() = default;
  explicit PCURVE(const pcurve& def) : def_(def) {}
  // The intcurve's first (+-1) or second (+-2) pcurve; negative: reversed.
  PCURVE(const intcurve& ic, int index) : def_(ic, index), index_(index) {}
  PCURVE(const PCURVE&) = default;
  PCURVE& operator=(const PCURVE&) = default;

  // A copy of the definition, negated when asked.
  pcurve equation(bool reversed = false) const;
  const pcurve& def() const { return def_; }
  bool has_equation() const { return def_.cur() != nullptr; }
  void set_def(const pcurve& def);
  void set_def(bs2_curve cur, double fitol, const surface& srf);  // takes the B-spline
  void negate();
  bool reversed() const { return def_.reversed(); }
  // 0 for a pcurve with its own definition; +-1/+-2 for one taken from an intcurve.
  int index() const { return index_; }

  // A mirror keeps pcurves, except on spheres and tori, whose images of (u, v)
  // lie at (u, -v).
  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const PCURVE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  pcurve def_;
  int index_ = 0;
};

// A PCURVE of the B-spline on `srf`, made with the caller's file and line.
// The B-spline is taken from the start: when the entity (or its copy of the
// surface) cannot be made it is freed and the kernel's error raised, so a
// caller neither leaks it nor frees it again. (`new PCURVE(pcurve(cur, ...))`
// would leak it: a failed allocation skips the constructor's arguments.)
PCURVE* velm_make_pcurve(bs2_curve cur, double fitol, const surface& srf, const char* source_file = nullptr,
                         int line = 0);


// New entities of the matching kind holding a copy; use count 0.
CURVE* make_curve(const curve& c);
SURFACE* make_surface(const surface& s);

// True for the geometry entities whose uses topology counts.
bool is_counted_geometry(const ENTITY* e);
