// Boxes, the face parameter box, body and face tests, small accessors.
#include <algorithm>

#include "entity_internal.hxx"
#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/build.hxx"
#include "velm/topology_api.hxx"

namespace velm_query {

std::vector<COEDGE*> loop_coedges(const LOOP* loop) {
  std::vector<COEDGE*> out;
  COEDGE* first = loop ? loop->start() : nullptr;
  const std::size_t limit = velm_walk_limit();
  for (COEDGE* c = first; c; c = c->next()) {
    out.push_back(c);
    if (c->next() == first || out.size() >= limit) break;
  }
  return out;
}

std::vector<const FACE*> body_faces(const BODY* body) {
  std::vector<const FACE*> out;
  if (!body) return out;
  for (LUMP* l : chain(body->lump()))
    for (SHELL* s : chain(l->shell()))
      for (FACE* f : chain(s->face())) out.push_back(f);
  return out;
}

const surface* face_surface(const FACE* face) {
  const SURFACE* s = face ? face->geometry() : nullptr;
  return s && s->has_equation() ? s->equation_ptr() : nullptr;
}

BODY* owning_body(const ENTITY* e) {
  if (is_EDGE(e)) {
    const COEDGE* c = static_cast<const EDGE*>(e)->coedge();
    return c ? owning_body(c) : nullptr;
  }
  if (is_VERTEX(e)) {
    const EDGE* ed = static_cast<const VERTEX*>(e)->edge(0);
    return ed ? owning_body(ed) : nullptr;
  }
  for (int depth = 0; e && depth < 16; ++depth) {
    if (is_BODY(e)) return static_cast<BODY*>(const_cast<ENTITY*>(e));
    const ENTITY* up = e->owner();
    if (up == e) return nullptr;
    e = up;
  }
  return nullptr;
}

}  // namespace velm_query

using namespace velm_query;

namespace {
QELbox transformed(const QELbox& b, const QELtransf* t) { return t && !b.empty() ? b * *t : b; }

QELbox vertex_box(const VERTEX* v) {
  if (!v || !v->geometry()) return QELbox();
  return enlarge_box(QELbox(v->geometry()->coords()), v->get_tolerance());
}

QELbox edge_box_local(const EDGE* e) {
  QELbox b = vertex_box(e->start()) | vertex_box(e->end());
  const CURVE* c = e->geometry();
  if (c && c->has_equation()) {
    QELinterval r = e->param_range();
    b |= c->equation().bound(e->sense() == FORWARD ? r : -r);
  }
  return b.empty() ? b : enlarge_box(b, e->get_tolerance());
}

QELbox loop_box_local(const LOOP* l) {
  QELbox b;
  for (const COEDGE* c : loop_coedges(l))
    if (c->edge()) b |= edge_box_local(c->edge());
  return b;
}

QELbox face_box_local(const FACE* f) {
  if (const QELbox* cached = f->bound()) return *cached;
  QELbox b;
  for (LOOP* l : chain(f->loop())) b |= loop_box_local(l);
  const surface* s = face_surface(f);
  if (s && s->type() != 1) {
    QELpar_box pb;
    if (sg_get_face_par_box(f, pb) && pb.u_range().finite() && pb.v_range().finite()) b |= s->bound(pb);
  }
  return b;
}

QELbox wire_box_local(const WIRE* w) {
  QELbox b;
  for (const COEDGE* c : wire_coedges(w))
    if (c->edge()) b |= edge_box_local(c->edge());
  return b;
}

QELbox body_box_local(const BODY* body) {
  QELbox b;
  for (const FACE* f : body_faces(body)) b |= face_box_local(f);
  for (WIRE* w : chain(body->wire())) b |= wire_box_local(w);
  for (LUMP* l : chain(body->lump()))
    for (SHELL* s : chain(l->shell()))
      for (WIRE* w : chain(s->wire())) b |= wire_box_local(w);
  return b;
}

// The box of one listed entity in its own (body) space; empty when it has none.
QELbox entity_box_local(const ENTITY* e) {
  if (is_BODY(e)) return body_box_local(static_cast<const BODY*>(e));
  if (is_LUMP(e) || is_SHELL(e)) {
    ENTITY_LIST faces;
    velm_topology_walk(e, FACE_TYPE, faces);
    QELbox b;
    for (ENTITY* f = (faces.init(), faces.next()); f; f = faces.next()) b |= face_box_local(static_cast<FACE*>(f));
    return b;
  }
  if (is_FACE(e)) return face_box_local(static_cast<const FACE*>(e));
  if (is_LOOP(e)) return loop_box_local(static_cast<const LOOP*>(e));
  if (is_WIRE(e)) return wire_box_local(static_cast<const WIRE*>(e));
  if (is_COEDGE(e)) {
    const EDGE* ed = static_cast<const COEDGE*>(e)->edge();
    return ed ? edge_box_local(ed) : QELbox();
  }
  if (is_EDGE(e)) return edge_box_local(static_cast<const EDGE*>(e));
  if (is_VERTEX(e)) return vertex_box(static_cast<const VERTEX*>(e));
  if (is_APOINT(e)) return QELbox(static_cast<const APOINT*>(e)->coords());
  if (is_CURVE(e)) {
    const CURVE* c = static_cast<const CURVE*>(e);
    if (c->has_equation() && c->equation().param_range().finite())
      return c->equation().bound(c->equation().param_range());
  }
  return QELbox();
}
}  // namespace

QELbox get_edge_box(const EDGE* edge, const QELtransf* t) {
  if (!edge) velm_api_error_throw(VELM_NULL_ENTITY);
  return transformed(edge_box_local(edge), t);
}

QELbox get_loop_box(const LOOP* loop, const QELtransf* t) {
  if (!loop) velm_api_error_throw(VELM_NULL_ENTITY);
  return transformed(loop_box_local(loop), t);
}

QELbox get_face_box(const FACE* face, const QELtransf* t, int, QELbox* untransformed) {
  if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
  QELbox b = face_box_local(face);
  if (untransformed) *untransformed = b;
  return transformed(b, t);
}

QELbox get_body_box(const BODY* body, const QELtransf* t, int) {
  velm_check_call("get_body_box");
  if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
  QELbox b = body_box_local(body);
  if (b.empty()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  if (body->transform()) b = b * body->transform()->transform();
  return transformed(b, t);
}

outcome api_get_entity_box(const ENTITY_LIST& list, WCS* wcs, QELposition& min_pt, QELposition& max_pt, int) {
  return velm_api("api_get_entity_box", [&] {
    QELbox all;
    for (int k = 0; k < list.count(); ++k) {
      const ENTITY* e = list[k];
      if (!e) continue;
      QELbox b = entity_box_local(e);
      if (b.empty()) continue;
      if (!is_CURVE(e) && !is_APOINT(e)) {
        if (QELtransf t = get_owner_transf(e); !t.identity()) b = b * t;
      }
      all |= b;
    }
    if (all.empty()) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (wcs) all = all * wcs->to_model().inverse();
    min_pt = all.low();
    max_pt = all.high();
  });
}

bool sg_get_face_par_box(const FACE* face, QELpar_box& box) {
  velm_check_call("sg_get_face_par_box");
  if (!face_surface(face)) return false;
  if (!plane_face_par_box(face, box)) box = frame_par_box(face_polygons(face));
  return true;
}

// ---------------------------------------------------------------------------
bool is_closed_solid_body(const BODY* body) {
  if (!body || body->wire()) return false;
  std::vector<const FACE*> faces = body_faces(body);
  if (faces.empty()) return false;
  for (const FACE* f : faces) {
    if (f->sides() != 0 || (f->shell() && f->shell()->wire())) return false;
    for (LOOP* l : chain(f->loop()))
      for (const COEDGE* c : loop_coedges(l)) {
        const COEDGE* p = c->partner();
        if (!p || p == c || p->partner() != c || p->sense() == c->sense() || !p->loop()) return false;
      }
  }
  return true;
}

namespace {
int surface_code(const FACE* f) {
  const surface* s = face_surface(f);
  return s ? s->type() : -1;
}
}  // namespace

bool is_planar_face(const FACE* f) { return surface_code(f) == 1; }
bool is_conical_face(const FACE* f) { return surface_code(f) == 2; }
bool is_spherical_face(const FACE* f) { return surface_code(f) == 3; }
bool is_toroidal_face(const FACE* f) { return surface_code(f) == 4; }
bool is_spline_face(const FACE* f) { return surface_code(f) == 10; }
bool is_cylindrical_face(const FACE* f) {
  return is_conical_face(f) && static_cast<const cone*>(face_surface(f))->is_cylinder();
}

QELposition coedge_start_pos(const COEDGE* coedge) {
  if (!coedge) velm_api_error_throw(VELM_NULL_ENTITY);
  return coedge->start_pos();
}

void sg_get_params(const EDGE* edge, double& start_param, double& end_param) {
  if (!edge) velm_api_error_throw(VELM_NULL_ENTITY);
  QELinterval r = edge->param_range();
  double sign = edge->sense() == FORWARD ? 1.0 : -1.0;
  start_param = sign * r.start_pt();
  end_param = sign * r.end_pt();
}
