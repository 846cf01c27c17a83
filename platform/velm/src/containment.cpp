// Containment of points in loops and faces, in the parameter space of the face.
//
// A point is classified by the nearest boundary segment of the face's loops
// (every periodic copy considered): the straight way to it crosses no other
// boundary, so the point lies on the side of the material exactly when it is
// on the left of that segment. At a polygon corner the two segments decide
// together: both must agree at a convex corner, either suffices at a reflex one.
#include <algorithm>
#include <cmath>
#include <limits>

#include "query_internal.hxx"
#include "velm/api.hxx"

namespace velm_query {
namespace {

double cross(const QELpar_vec& a, const QELpar_vec& b) { return a.du * b.dv - a.dv * b.du; }
double dot(const QELpar_vec& a, const QELpar_vec& b) { return a.du * b.du + a.dv * b.dv; }

struct nearest {
  double d2 = std::numeric_limits<double>::max();
  const par_loop* loop = nullptr;
  long seg = 0;
  double t = 0.0;
  QELpar_pos q;  // the point, moved by whole periods
};

void scan(const par_loop& pl, const QELpar_pos& uv, double pu, double pv, nearest& best) {
  const long n = static_cast<long>(pl.pts.size());
  if (n < 2 && pl.shift.du == 0.0 && pl.shift.dv == 0.0) return;
  const int ku = pu > 0.0 ? 2 : 0, kv = pv > 0.0 ? 2 : 0;
  for (long i = 0; i < n; ++i) {
    QELpar_pos a = pl.at(i), b = pl.at(i + 1);
    QELpar_vec ab = b - a;
    double len2 = dot(ab, ab);
    for (int i_u = -ku; i_u <= ku; ++i_u)
      for (int i_v = -kv; i_v <= kv; ++i_v) {
        QELpar_pos q(uv.u + i_u * pu, uv.v + i_v * pv);
        double t = len2 > 0.0 ? std::clamp(dot(q - a, ab) / len2, 0.0, 1.0) : 0.0;
        QELpar_vec d = q - (a + t * ab);
        double d2 = dot(d, d);
        if (d2 < best.d2) best = {d2, &pl, i, t, q};
      }
  }
}

}  // namespace

point_face_containment classify(const face_frame& fr, const QELpar_pos& uv) {
  nearest best;
  for (const par_loop& pl : fr.loops) scan(pl, uv, fr.period_u, fr.period_v, best);
  if (!best.loop) return pfc_inside;  // no boundary: the whole surface
  const par_loop& pl = *best.loop;
  auto left_of = [&](const QELpar_pos& a, const QELpar_pos& b) {
    return fr.orient * cross(b - a, best.q - a) > 0.0;
  };
  bool inside;
  const double eps = 1e-12;
  if (best.t > eps && best.t < 1.0 - eps) {
    inside = left_of(pl.at(best.seg), pl.at(best.seg + 1));
  } else {
    long v = best.t <= eps ? best.seg : best.seg + 1;
    QELpar_pos prev = pl.at(v - 1), cur = pl.at(v), next = pl.at(v + 1);
    bool la = left_of(prev, cur), lb = left_of(cur, next);
    bool convex = fr.orient * cross(cur - prev, next - cur) >= 0.0;
    inside = convex ? (la && lb) : (la || lb);
  }
  return inside ? pfc_inside : pfc_outside;
}

namespace {
double vertex_tolerance(const VERTEX* v) { return v ? v->get_tolerance() : 0.0; }

bool on_edge(const EDGE* e, const QELposition& p) {
  if (!e) return false;
  const double tol = std::max({QELresabs, e->get_tolerance(), vertex_tolerance(e->start()),
                               vertex_tolerance(e->end())});
  const CURVE* cu = e->geometry();
  QELposition s = e->start_pos();
  if (distance(p, s) <= tol) return true;
  if (!cu || !cu->has_equation()) return false;
  QELposition en = e->end_pos();
  if (distance(p, en) <= tol) return true;
  const curve& eq = cu->equation();
  QELposition foot;
  double t = 0.0;
  eq.point_perp(p, foot, nullptr, &t);
  if (distance(p, foot) > tol) return false;
  QELinterval r = e->param_range();
  if (e->sense() == REVERSED) r = -r;
  double period = eq.param_period();
  if (period > 0.0) {
    t = near_period(t, r.start_pt(), period);
    while (t < r.start_pt()) t += period;
    while (t > r.start_pt() + period) t -= period;
  }
  const double slack = 1e-9 * std::max(1.0, r.length());
  return t >= r.start_pt() - slack && t <= r.end_pt() + slack;
}
}  // namespace

bool on_loop_boundary(const LOOP* loop, const QELposition& p) {
  for (const COEDGE* c : loop_coedges(loop))
    if (on_edge(c->edge(), p)) return true;
  return false;
}

}  // namespace velm_query

using namespace velm_query;

namespace {
// The point in the face's own space, its foot on the surface and parameters.
struct projected {
  QELposition p, foot;
  QELpar_pos uv;
};

projected project(const QELposition& p, const FACE* face, const QELtransf* t, const QELpar_pos* guess) {
  const surface* s = face_surface(face);
  if (!s) velm_api_error_throw(VELM_NULL_ENTITY);
  projected r;
  r.p = t ? p * t->inverse() : p;
  s->point_perp(r.p, r.foot, guess, &r.uv);
  return r;
}

point_face_containment contain(const QELposition& p, const FACE* face, const LOOP* only, const QELtransf* t,
                               const QELpar_pos* guess) {
  projected pr = project(p, face, t, guess);
  if (only ? on_loop_boundary(only, pr.foot) : [&] {
        for (LOOP* l : chain(face->loop()))
          if (on_loop_boundary(l, pr.foot)) return true;
        return false;
      }())
    return pfc_boundary;
  return classify(face_polygons(face, only), pr.uv);
}
}  // namespace

point_face_containment point_in_face(const QELposition& p, const FACE* face, const QELtransf* t,
                                     const QELpar_pos* guess, bool, int) {
  velm_check_call("point_in_face");
  if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
  if (const QELbox* b = face->bound()) {
    QELposition local = t ? p * t->inverse() : p;
    if (!(enlarge_box(*b, QELresabs) >> local)) return pfc_outside;
  }
  return contain(p, face, nullptr, t, guess);
}

point_face_containment point_in_loop(const QELposition& p, const LOOP* loop, const QELtransf* t,
                                     const QELpar_pos* guess) {
  velm_check_call("point_in_loop");
  if (!loop || !loop->face()) velm_api_error_throw(VELM_NULL_ENTITY);
  return contain(p, loop->face(), loop, t, guess);
}
