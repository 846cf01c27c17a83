// Faces moved onto B-spline surfaces, with their pcurves refitted.
#include "velm/spline_conversion.hxx"

#include <memory>

#include "velm/api.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

namespace {

const surface* surface_of_face(const FACE* face) {
  return face && face->geometry() ? &face->geometry()->equation() : nullptr;
}

// The coedges of the entity through the kernel's own list query; a failed
// query fails the routine rather than leave some coedges undone.
ENTITY_LIST coedges_of(ENTITY* e) {
  ENTITY_LIST list;
  if (!e) return list;
  const outcome r = api_get_coedges(e, list);
  if (!r.ok()) sys_error(r.error_number());
  return list;
}

void add_pcurve(COEDGE* ce) {
  if (ce->geometry() || !ce->edge() || !ce->edge()->geometry() || !ce->loop()) return;
  const surface* srf = surface_of_face(ce->loop()->face());
  if (!srf) return;
  const EDGE* edge = ce->edge();
  // The edge's range is in the edge's direction; the curve runs the other way
  // for a reversed edge.
  QELinterval range = edge->param_range();
  std::unique_ptr<curve> c(edge->geometry()->equation().make_copy());
  if (edge->sense() == REVERSED) c->negate();
  bs2_curve fit = bs2_curve_for_curve_on_surf(*c, range, *srf, QELresabs);
  if (!fit) return;
  if (ce->sense() == REVERSED) bs2_curve_reverse(fit);
  ce->set_geometry(velm_make_pcurve(fit, QELresfit, *srf, __FILE__, __LINE__));
}

// The spline form of a face's surface over the face, or null when it is a
// spline already in exact form.
bs3_surface spline_form(const FACE* face, double tol, double* achieved) {
  const surface* srf = surface_of_face(face);
  if (!srf) return nullptr;
  const QELbox region = get_face_box(face);
  return bs3_surface_make_sur(*srf, region, tol, achieved);
}

void move_face_to_spline(FACE* face) {
  const surface* srf = surface_of_face(face);
  if (!srf) return;
  if (srf->type() == 10 && static_cast<const spline*>(srf)->get_spl_sur().id() == exact_spl_sur::id) return;
  bs3_surface b = spline_form(face, srf->type() == 10 ? QELresfit : 0.0, nullptr);
  if (!b) velm_api_error_throw(VELM_API_FAILED);
  spline made(b);
  bs3_surface_delete(b);
  // The spline's natural normal may point the other way than the surface's.
  QELpar_box box;
  sg_get_face_par_box(face, box);
  const QELpar_pos mid = box.empty() ? QELpar_pos() : box.mid();
  const QELposition p = srf->eval_position(mid);
  if (made.eval_normal(made.param(p)) % srf->eval_normal(mid) < 0.0) made.negate();
  sg_rm_pcurves_from_entity(face);
  face->set_geometry(make_surface(made));
  sg_add_pcurves_to_entity(face);
}

}  // namespace

void sg_rm_pcurves_from_entity(ENTITY* e, int spline_faces_only, int keep_tolerant) {
  const ENTITY_LIST list = coedges_of(e);
  for (int i = 0; i < list.count(); ++i) {
    COEDGE* ce = static_cast<COEDGE*>(list[i]);
    if (!ce || !ce->geometry()) continue;
    if (keep_tolerant && is_TCOEDGE(ce)) continue;
    const surface* srf = ce->loop() ? surface_of_face(ce->loop()->face()) : nullptr;
    if (spline_faces_only && (!srf || srf->type() != 10)) continue;
    ce->set_geometry(nullptr);
  }
}

void sg_add_pcurves_to_entity(ENTITY* e) {
  const ENTITY_LIST list = coedges_of(e);
  for (int i = 0; i < list.count(); ++i)
    if (list[i]) add_pcurve(static_cast<COEDGE*>(list[i]));
}

outcome api_accurate_bs3_approximation(const FACE* face, double tol, bs3_surface& result, double* achieved) {
  return velm_api("api_accurate_bs3_approximation", [&] {
    if (!surface_of_face(face)) velm_api_error_throw(VELM_NULL_ENTITY);
    result = spline_form(face, tol, achieved);
    if (!result) velm_api_error_throw(VELM_API_FAILED);
  });
}

outcome api_convert_to_spline(ENTITY* in, ENTITY*& out) {
  out = nullptr;
  const outcome r = velm_api("api_convert_to_spline", [&] {
    if (!in) velm_api_error_throw(VELM_NULL_ENTITY);
    ENTITY_LIST faces;
    velm_topology_walk(in, FACE_TYPE, faces);
    for (int i = 0; i < faces.count(); ++i)
      if (faces[i]) move_face_to_spline(static_cast<FACE*>(faces[i]));
  });
  if (r.ok()) out = in;
  return r;
}
