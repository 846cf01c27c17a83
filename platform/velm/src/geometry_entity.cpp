// Geometry entity bases: use-counted, saved and copied; no equations here.
#include "velm/geometry_entity.hxx"

#include "velm/api.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"

VELM_ENTITY_DEF(CURVE, ENTITY, 1, "curve", CURVE_TYPE)
VELM_ENTITY_DEF(SURFACE, ENTITY, 1, "surface", SURFACE_TYPE)

// PCURVE registers by hand: its restore goes through a replaceable factory.
VELM_ENTITY_DEF_MEMBERS(PCURVE, ENTITY, 1, "pcurve", PCURVE_TYPE)
static restore_def PCURVE_restore_def(&ENTITY_subclasses, "pcurve", PCURVE_TYPE,
                                      &PCURVE::restore_pcurve, &PCURVE_subclasses);

namespace {
RESTORE_FN pcurve_factory = nullptr;
}

QELposition CURVE::curve_point(double) const { velm_api_error_throw(VELM_NOT_IMPLEMENTED); }

double CURVE::curve_param(const QELposition&) const { velm_api_error_throw(VELM_NOT_IMPLEMENTED); }

void PCURVE::negate() {
  backup();
  reversed_ = !reversed_;
}

void PCURVE::set_restore_factory(RESTORE_FN factory) { pcurve_factory = factory; }

ENTITY* PCURVE::restore_pcurve() { return pcurve_factory ? pcurve_factory() : velm_restore(); }

void PCURVE::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_logical(reversed_);
}

void PCURVE::restore_common() {
  ENTITY::restore_common();
  reversed_ = read_logical();
}

void PCURVE::copy_common(ENTITY_LIST& list, const PCURVE* from, pointer_map* pm, int skip,
                         SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  reversed_ = from->reversed_;
}

bool is_counted_geometry(const ENTITY* e) {
  return is_CURVE(e) || is_SURFACE(e) || is_PCURVE(e) || is_APOINT(e) || is_TRANSFORM(e);
}
