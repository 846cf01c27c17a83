// Geometry entities: the bare CURVE and SURFACE, their equation-bearing kinds
// and PCURVE.
#include "velm/geometry_entity.hxx"

#include "velm/api.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"

VELM_ENTITY_DEF(CURVE, ENTITY, 1, "curve", CURVE_TYPE)
VELM_ENTITY_DEF(STRAIGHT, CURVE, 2, "straight", STRAIGHT_TYPE)
VELM_ENTITY_DEF(ELLIPSE, CURVE, 2, "ellipse", ELLIPSE_TYPE)
VELM_ENTITY_DEF(INTCURVE, CURVE, 2, "intcurve", INTCURVE_TYPE)
VELM_ENTITY_DEF(DEGENERATE_CURVE, CURVE, 2, "degenerate", DEGENERATE_CURVE_TYPE)
VELM_ENTITY_DEF(SURFACE, ENTITY, 1, "surface", SURFACE_TYPE)
VELM_ENTITY_DEF(PLANE, SURFACE, 2, "plane", PLANE_TYPE)
VELM_ENTITY_DEF(CONE, SURFACE, 2, "cone", CONE_TYPE)
VELM_ENTITY_DEF(SPHERE, SURFACE, 2, "sphere", SPHERE_TYPE)
VELM_ENTITY_DEF(TORUS, SURFACE, 2, "torus", TORUS_TYPE)
VELM_ENTITY_DEF(SPLINE, SURFACE, 2, "spline", SPLINE_TYPE)
VELM_ENTITY_DEF(PCURVE, ENTITY, 1, "pcurve", PCURVE_TYPE)

namespace {
template <class EQ>
const EQ& required(const EQ* e) {
  if (!e) velm_api_error_throw(VELM_NOT_IMPLEMENTED);
  return *e;
}
}  // namespace

// ---------------------------------------------------------------------------
// CURVE
const curve& CURVE::equation() const { return required(equation_ptr()); }

curve& CURVE::equation_for_update() {
  required(equation_ptr());
  backup();
  return *mutable_equation();
}

int CURVE::type() const { return has_equation() ? equation_ptr()->type() : -1; }

QELposition CURVE::curve_point(double t) const { return equation().eval_position(t); }

double CURVE::curve_param(const QELposition& p) const { return equation().param(p); }

double CURVE::curve_length(const QELinterval& r) const {
  if (!has_equation() || r.empty()) return 0.0;
  return equation_ptr()->length(r.start_pt(), r.end_pt());
}

QELinterval CURVE::curve_range() const {
  return has_equation() ? equation_ptr()->param_range() : QELinterval();
}

void CURVE::reverse_equation() {
  if (has_equation()) equation_for_update().negate();
}

bool CURVE::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset) {
  if (done.lookup(this) >= 0) return true;
  if (has_equation()) equation_for_update() *= t;
  return ENTITY::apply_transform(t, done, negate, reset);
}

void CURVE::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (fp && has_equation()) std::fprintf(fp, "\tequation : %s\n", equation_ptr()->type_name());
}

// ---------------------------------------------------------------------------
// SURFACE
const surface& SURFACE::equation() const { return required(equation_ptr()); }

surface& SURFACE::equation_for_update() {
  required(equation_ptr());
  backup();
  return *mutable_equation();
}

int SURFACE::type() const { return has_equation() ? equation_ptr()->type() : -1; }

bool SURFACE::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset) {
  if (done.lookup(this) >= 0) return true;
  if (has_equation()) equation_for_update() *= t;
  return ENTITY::apply_transform(t, done, negate, reset);
}

void SURFACE::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (fp && has_equation()) std::fprintf(fp, "\tequation : %s\n", equation_ptr()->type_name());
}

// ---------------------------------------------------------------------------
// PCURVE
pcurve PCURVE::equation(bool reversed) const {
  pcurve r(def_);
  if (reversed) r.negate();
  return r;
}

void PCURVE::set_def(const pcurve& def) {
  backup();
  def_ = def;
  index_ = 0;
}

void PCURVE::set_def(bs2_curve cur, double fitol, const surface& srf) {
  set_def(pcurve(cur, fitol, srf));
}

PCURVE* velm_make_pcurve(bs2_curve cur, double fitol, const surface& srf, const char* source_file, int line) {
  const pcurve def(cur, fitol, srf);
  return velm_require(new (0, source_file, line, nullptr) PCURVE(def));
}

void PCURVE::negate() {
  backup();
  def_.negate();
  // The pcurve is now its own; an intcurve index would name the other direction.
  index_ = -index_;
}

bool PCURVE::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset) {
  if (done.lookup(this) >= 0) return true;
  backup();
  velm_transform_pcurve(def_, t);
  return ENTITY::apply_transform(t, done, negate, reset);
}

void PCURVE::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (fp) std::fprintf(fp, "\treversed : %d\n\tindex : %d\n", def_.reversed() ? 1 : 0, index_);
}

void PCURVE::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_int(index_);
  velm_save_equation(def_);
}

void PCURVE::restore_common() {
  ENTITY::restore_common();
  index_ = read_int();
  velm_restore_equation(def_);
}

void PCURVE::copy_common(ENTITY_LIST& list, const PCURVE* from, pointer_map* pm, int skip,
                         SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  def_ = from->def_;
  index_ = from->index_;
}

// ---------------------------------------------------------------------------
namespace {
template <class KIND, class EQ, class BASE>
BASE* make_kind(const EQ* e) {
  if (!e) velm_api_error_throw(VELM_WRONG_TYPE);
  return velm_require(VELM_NEW KIND(*e));
}
}  // namespace

CURVE* make_curve(const curve& c) {
  switch (c.type()) {
    case 1: return make_kind<STRAIGHT, straight, CURVE>(dynamic_cast<const straight*>(&c));
    case 2: return make_kind<ELLIPSE, ellipse, CURVE>(dynamic_cast<const ellipse*>(&c));
    case 11: return make_kind<INTCURVE, intcurve, CURVE>(dynamic_cast<const intcurve*>(&c));
    case 0: return make_kind<DEGENERATE_CURVE, degenerate_curve, CURVE>(dynamic_cast<const degenerate_curve*>(&c));
    default: velm_api_error_throw(VELM_WRONG_TYPE);
  }
}

SURFACE* make_surface(const surface& s) {
  switch (s.type()) {
    case 1: return make_kind<PLANE, plane, SURFACE>(dynamic_cast<const plane*>(&s));
    case 2: return make_kind<CONE, cone, SURFACE>(dynamic_cast<const cone*>(&s));
    case 3: return make_kind<SPHERE, sphere, SURFACE>(dynamic_cast<const sphere*>(&s));
    case 4: return make_kind<TORUS, torus, SURFACE>(dynamic_cast<const torus*>(&s));
    case 10: return make_kind<SPLINE, spline, SURFACE>(dynamic_cast<const spline*>(&s));
    default: velm_api_error_throw(VELM_WRONG_TYPE);
  }
}

bool is_counted_geometry(const ENTITY* e) {
  return is_CURVE(e) || is_SURFACE(e) || is_PCURVE(e) || is_APOINT(e) || is_TRANSFORM(e);
}
