// Points against face boundaries and bodies; the direction into a face.
//
// A point is classified against a body by the nearest point of its boundary:
// inside a face the side of that face's outward normal decides; on an edge or
// at a vertex the sum of the outward normals of the faces meeting there does
// (the vector from the boundary point to the point lies in their normal cone,
// so the sum tells outside from inside at convex and concave edges alike).
// This is exact for closed bodies and needs no ray to break ties.
#include <algorithm>
#include <cmath>
#include <limits>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/build.hxx"
#include "velm/topology_api.hxx"

namespace velm_query {

double nearest_on_edge(const EDGE* e, const QELposition& p, QELposition& foot, double* param) {
  const QELposition s = e->start_pos(), en = e->end_pos();
  double best = distance(p, s);
  foot = s;
  double t_best = 0.0;
  QELinterval r = e->param_range();
  const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
  if (r.finite()) t_best = sign * r.start_pt();
  if (distance(p, en) < best) best = distance(p, en), foot = en, t_best = r.finite() ? sign * r.end_pt() : 0.0;
  const CURVE* cu = e->geometry();
  if (cu && cu->has_equation() && r.finite()) {
    const curve& eq = cu->equation();
    QELposition f;
    double t = 0.0;
    eq.point_perp(p, f, nullptr, &t);
    QELinterval cr = sign > 0 ? r : -r;
    if (double period = eq.param_period(); period > 0.0) {
      t = near_period(t, cr.start_pt(), period);
      while (t < cr.start_pt()) t += period;
      while (t > cr.start_pt() + period) t -= period;
    }
    const double slack = 1e-9 * std::max(1.0, cr.length());
    if (t >= cr.start_pt() - slack && t <= cr.end_pt() + slack && distance(p, f) < best)
      best = distance(p, f), foot = f, t_best = t;
  }
  if (param) *param = t_best;
  return best;
}

}  // namespace velm_query

using namespace velm_query;

bool sg_point_on_boundary(const FACE* face, const QELposition& p, double tol, ENTITY*& boundary) {
  velm_check_call("sg_point_on_boundary");
  if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
  boundary = nullptr;
  // Vertices first: a point at a corner is on the vertex, not on either edge.
  for (LOOP* l : chain(face->loop()))
    for (COEDGE* c : loop_coedges(l)) {
      VERTEX* v = c->start();
      if (v && v->geometry() && distance(v->geometry()->coords(), p) <= std::max(tol, v->get_tolerance())) {
        boundary = v;
        return true;
      }
    }
  double best = std::numeric_limits<double>::max();
  for (LOOP* l : chain(face->loop()))
    for (COEDGE* c : loop_coedges(l)) {
      if (!c->edge()) continue;
      QELposition foot;
      const double d = nearest_on_edge(c->edge(), p, foot, nullptr);
      if (d <= std::max(tol, c->edge()->get_tolerance()) && d < best) best = d, boundary = c;
    }
  return boundary != nullptr;
}

namespace {
// Outward normal of the face at (the foot of) a point, face sense applied.
QELvector outward_normal(const FACE* f, const QELposition& p) {
  const surface* s = face_surface(f);
  if (!s) return QELvector();
  QELposition foot;
  QELunit_vector n;
  s->point_perp(p, foot, n);
  QELvector out = n;
  return f->sense() == REVERSED ? -out : out;
}

FACE* face_of(const COEDGE* c) { return c && c->loop() ? c->loop()->face() : nullptr; }
}  // namespace

QELunit_vector into_face(const COEDGE* coedge, double edge_param) {
  velm_check_call("into_face");
  const EDGE* e = coedge ? coedge->edge() : nullptr;
  const FACE* f = face_of(coedge);
  if (!e || !f || !e->geometry() || !e->geometry()->has_equation() || !face_surface(f))
    velm_api_error_throw(VELM_NULL_ENTITY);
  QELposition p;
  QELvector d1;
  e->geometry()->equation().eval(edge_param, p, &d1);
  // The coedge's direction: the curve's, turned by the edge and coedge senses.
  if ((e->sense() == REVERSED) != (coedge->sense() == REVERSED)) d1 = -d1;
  const QELvector n = outward_normal(f, p);
  const QELvector in = n * d1;  // material lies on the left, seen from outside
  if (in.len() == 0.0) velm_api_error_throw(VELM_BAD_ARGUMENT);
  return normalise(in);
}

outcome api_point_in_body(const QELposition& point, BODY* body, point_containment& result, int use_boxes) {
  return velm_api("api_point_in_body", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    const TRANSFORM* tr = body->transform();
    const QELposition p = tr ? point * tr->transform().inverse() : point;
    const std::vector<const FACE*> faces = body_faces(body);
    result = pc_outside;
    if (faces.empty()) return;
    if (use_boxes) {
      const QELbox b = get_body_box(body);
      if (!(enlarge_box(b, QELresabs) >> point)) return;
    }
    double best = std::numeric_limits<double>::max();
    QELvector side;  // outward direction at the nearest boundary point
    QELposition nearest;
    for (const FACE* f : faces) {
      const surface* s = face_surface(f);
      if (!s) velm_api_error_throw(VELM_NULL_ENTITY);
      QELposition foot;
      QELunit_vector n;
      s->point_perp(p, foot, n);
      const double d = distance(p, foot);
      if (d >= best || point_in_face(foot, f) != pfc_inside) continue;
      best = d, nearest = foot;
      side = f->sense() == REVERSED ? -QELvector(n) : QELvector(n);
    }
    // Edges (and through their ends, vertices) closer than any face interior.
    ENTITY_LIST edges;
    for (const FACE* f : faces)
      for (LOOP* l : chain(f->loop()))
        for (COEDGE* c : loop_coedges(l))
          if (c->edge()) edges.add(c->edge());
    for (int k = 0; k < edges.count(); ++k) {
      const EDGE* e = static_cast<const EDGE*>(edges[k]);
      QELposition foot;
      const double d = nearest_on_edge(e, p, foot, nullptr);
      if (d >= best - 1e-12) continue;
      std::vector<COEDGE*> around;
      const VERTEX* at_end = distance(foot, e->start_pos()) <= QELresabs ? e->start()
                             : distance(foot, e->end_pos()) <= QELresabs ? e->end()
                                                                           : nullptr;
      if (at_end) {
        ENTITY_LIST cs;
        sg_q_coedges_around_vertex(at_end, &cs);
        for (int j = 0; j < cs.count(); ++j) around.push_back(static_cast<COEDGE*>(cs[j]));
      } else {
        around = edge_coedges(e);
      }
      QELvector sum;
      for (const COEDGE* c : around)
        if (const FACE* f = face_of(c)) sum = sum + outward_normal(f, foot);
      if (sum.len() == 0.0) continue;  // a wire edge or a fin: no side to tell
      best = d, nearest = foot, side = sum;
    }
    if (best == std::numeric_limits<double>::max()) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (best <= QELresabs) {
      result = pc_boundary;
      return;
    }
    result = (p - nearest) % side > 0.0 ? pc_outside : pc_inside;
  });
}
