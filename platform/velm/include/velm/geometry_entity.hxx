// The use-counted geometry entities that topology points at: CURVE (edges,
// tolerant coedges), SURFACE (faces) and PCURVE (coedges).
//
// These bases carry no equation. The geometry module derives the
// equation-bearing kinds from them (STRAIGHT, ELLIPSE, ... under CURVE; PLANE,
// CONE, ... under SURFACE) and overrides the hooks below, which are all the
// topology needs to ask of a geometry. A bare entity answers "no equation".
#pragma once

#include "velm/entity.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

class CURVE : public ENTITY {
  VELM_ENTITY_DECL(CURVE, ENTITY, 1)
  CURVE() = default;
  CURVE(const CURVE&) = default;
  CURVE& operator=(const CURVE&) = default;

  // Hooks of the equation-bearing kinds.
  virtual bool has_equation() const { return false; }
  // Point at a curve parameter; throws for a curve without equation.
  virtual QELposition curve_point(double t) const;
  // Parameter of the foot of a point; throws for a curve without equation.
  virtual double curve_param(const QELposition& p) const;
  // Arc length over a curve interval; 0 without equation.
  virtual double curve_length(const QELinterval&) const { return 0.0; }
  // Full (or limited) parameter range; unset without equation.
  virtual QELinterval curve_range() const { return QELinterval(); }
  // Reverses the direction of the equation (t -> -t); nothing without one.
  virtual void reverse_equation() {}
};

class SURFACE : public ENTITY {
  VELM_ENTITY_DECL(SURFACE, ENTITY, 1)
  SURFACE() = default;
  SURFACE(const SURFACE&) = default;
  SURFACE& operator=(const SURFACE&) = default;

  virtual bool has_equation() const { return false; }
};

// A pcurve entity. Its definition is the geometry module's; the base keeps
// only the reversal flag, so that negating a bare pcurve is still recorded.
class PCURVE : public ENTITY {
  VELM_ENTITY_DECL(PCURVE, ENTITY, 1)
  PCURVE() = default;
  PCURVE(const PCURVE&) = default;
  PCURVE& operator=(const PCURVE&) = default;

  virtual bool has_equation() const { return false; }
  virtual void negate();
  bool reversed() const { return reversed_; }
  // 0 for a pcurve with its own definition; +-1/+-2 for one taken from an intcurve.
  virtual int index() const { return 0; }

  // The geometry module restores every "pcurve" record through this factory
  // when it sets one (its PCURVE kind carries the definition).
  static void set_restore_factory(RESTORE_FN factory);
  static ENTITY* restore_pcurve();

  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const PCURVE* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  bool reversed_ = false;
};

// True for the geometry entities whose uses topology counts.
bool is_counted_geometry(const ENTITY* e);
