// Faces made from a surface alone: planar rectangles, spline faces and conical
// faces, bounded by iso-lines of their surface.
#include "velm/surface_build.hxx"

#include <cmath>
#include <memory>
#include <numbers>

#include "velm/api.hxx"
#include "velm/geometry_entity.hxx"

namespace {

using std::numbers::pi;

// Builds the face of a surface over a parameter box (see the header): sides in
// the order bottom (v0, +u), right (u1, +v), top (v1, -u), left (u0, -v), the
// periphery of right-handed parameters.
class iso_box_face {
 public:
  iso_box_face(const surface& srf, const QELpar_box& box, bool closed_u, bool closed_v)
      : srf_(srf), box_(box), closed_u_(closed_u), closed_v_(closed_v) {}

  FACE* make(SURFACE* geometry) {
    const QELinterval& u = box_.u_range();
    const QELinterval& v = box_.v_range();
    if (!u.finite() || !v.finite() || !(u.length() > 0.0) || !(v.length() > 0.0))
      velm_api_error_throw(VELM_BAD_ARGUMENT);
    const QELpar_pos corner[4] = {{u.start_pt(), v.start_pt()}, {u.end_pt(), v.start_pt()},
                                  {u.end_pt(), v.end_pt()}, {u.start_pt(), v.end_pt()}};
    for (int k = 0; k < 4; ++k) corner_[k] = corner[k];
    std::vector<COEDGE*> ring[4];
    if (!closed_u_ || !closed_v_) {
      // Closed in u: bottom and top are loops of their own; closed in v: right and left.
      for (int side = 0; side < 4; ++side) {
        const bool along_u = side % 2 == 0;
        if ((along_u && closed_v_) || (!along_u && closed_u_)) continue;
        COEDGE* c = side_coedge(side);
        if (!c) continue;
        const bool own_loop = closed_u_ || closed_v_;
        ring[own_loop ? side : 0].push_back(c);
      }
    }
    LOOP* first = nullptr;
    LOOP* last = nullptr;
    for (std::vector<COEDGE*>& r : ring) {
      if (r.empty()) continue;
      for (size_t k = 0; k < r.size(); ++k) {
        r[k]->set_next(r[(k + 1) % r.size()]);
        r[(k + 1) % r.size()]->set_previous(r[k]);
      }
      LOOP* loop = velm_require(VELM_NEW LOOP(r.front(), nullptr));
      if (last) last->set_next(loop);
      else first = loop;
      last = loop;
    }
    FACE* face = velm_require(VELM_NEW FACE(first, nullptr, geometry, FORWARD));
    // Left-handed parameters turn the periphery the other way round.
    if (srf_.left_handed_uv())
      for (LOOP* l = face->loop(); l; l = l->next()) l->reverse();
    return face;
  }

 private:
  VERTEX* vertex_at(int k) {
    if (vertex_[k]) return vertex_[k];
    const QELposition p = srf_.eval_position(corner_[k]);
    for (int j = 0; j < 4; ++j)
      if (vertex_[j] && same_point(vertex_[j]->geometry()->coords(), p)) return vertex_[k] = vertex_[j];
    return vertex_[k] = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(p))));
  }

  // The coedge of one side, or null when the surface collapses along it.
  COEDGE* side_coedge(int side) {
    const bool along_u = side % 2 == 0;
    const int from = side, to = (side + 1) % 4;
    // The edge runs with the parameter: from its low end to its high end.
    const bool forward = side < 2;
    const int lo = forward ? from : to, hi = forward ? to : from;
    const double at = along_u ? corner_[from].v : corner_[from].u;
    if (along_u ? srf_.singular_v(at) : srf_.singular_u(at)) return nullptr;
    std::unique_ptr<curve> iso(along_u ? srf_.u_param_line(at) : srf_.v_param_line(at));
    if (!iso) return nullptr;
    const QELinterval range = along_u ? box_.u_range() : box_.v_range();
    CURVE* geometry = make_curve(*iso);
    EDGE* edge = velm_require(VELM_NEW EDGE(vertex_at(lo), vertex_at(hi), geometry, FORWARD, EDGE_cvty_unknown, &range));
    const sense_type sense = forward ? FORWARD : REVERSED;
    auto* coedge = velm_require(VELM_NEW COEDGE(edge, sense, nullptr, nullptr));
    const QELposition ends[2] = {QELposition(corner_[lo].u, corner_[lo].v, 0.0),
                                 QELposition(corner_[hi].u, corner_[hi].v, 0.0)};
    const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
    bs2_curve line = bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, ends, nullptr, QELresabs, 4, knots, QELresnor);
    if (!line) velm_api_error_throw(VELM_BAD_ARGUMENT);
    auto* pc = velm_make_pcurve(line, 0.0, srf_, __FILE__, __LINE__);
    if (sense == REVERSED) pc->negate();
    coedge->set_geometry(pc);
    return coedge;
  }

  const surface& srf_;
  QELpar_box box_;
  bool closed_u_, closed_v_;
  QELpar_pos corner_[4];
  VERTEX* vertex_[4] = {nullptr, nullptr, nullptr, nullptr};
};

FACE* face_over_box(const surface& srf, const QELpar_box& box, bool closed_u, bool closed_v) {
  return iso_box_face(srf, box, closed_u, closed_v).make(make_surface(srf));
}

bool covers(const QELinterval& part, const QELinterval& whole) {
  return whole.finite() && part.finite() && part.start_pt() <= whole.start_pt() + QELresnor &&
         part.end_pt() >= whole.end_pt() - QELresnor;
}

}  // namespace

outcome api_face_plane(const QELposition& root, double width, double height, const QELvector* normal, FACE*& face) {
  return velm_api("api_face_plane", [&] {
    face = nullptr;
    const QELvector n = normal ? *normal : QELvector(0.0, 0.0, 1.0);
    if (!(width > 0.0) || !(height > 0.0) || n.len() < QELresnor) velm_api_error_throw(VELM_BAD_ARGUMENT);
    const plane pl(root, normalise(n));
    const QELpar_box box(QELinterval(-0.5 * width, 0.5 * width), QELinterval(-0.5 * height, 0.5 * height));
    // u_deriv is a unit vector, so the parameters measure length.
    face = face_over_box(pl, box, false, false);
  });
}

FACE* make_face_spline(const spline& srf, const QELpar_box* range) {
  velm_check_call("make_face_spline");
  const QELpar_box full = srf.param_range();
  const QELpar_box box = range ? QELpar_box(range->u_range() & full.u_range(), range->v_range() & full.v_range())
                               : full;
  if (box.empty()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  const bool closed_u = srf.closed_u() && covers(box.u_range(), full.u_range());
  const bool closed_v = srf.closed_v() && covers(box.v_range(), full.v_range());
  return face_over_box(srf, box, closed_u, closed_v);
}

outcome api_make_spline(const spline& srf, BODY*& body) {
  return velm_api("api_make_spline", [&] {
    body = nullptr;
    FACE* face = make_face_spline(srf);
    body = velm_require(VELM_NEW BODY(velm_require(VELM_NEW LUMP(velm_require(VELM_NEW SHELL(face, nullptr)), nullptr))));
  });
}

FACE* make_face_cone(const cone& c, double v_start, double v_end, double height) {
  velm_check_call("make_face_cone");
  // Height along the axis Z is |cos| sigma u' with u' = -u under reverse-u.
  const double along = std::fabs(c.cosine) * c.sigma() * (c.reverse_u ? -1.0 : 1.0);
  if (!(std::fabs(height) > QELresabs) || !(v_end > v_start) || std::fabs(along) < QELresnor)
    velm_api_error_throw(VELM_BAD_ARGUMENT);
  double u_end = height / along;
  if (!c.is_cylinder()) {
    const double apex = c.apex_u();
    if (apex * u_end > 0.0 && std::fabs(apex) <= std::fabs(u_end)) u_end = apex;
  }
  const bool full_turn = v_end - v_start >= 2.0 * pi - QELresnor;
  const QELinterval v = full_turn ? QELinterval(-pi, pi) : QELinterval(v_start, v_end);
  const QELinterval u(std::min(0.0, u_end), std::max(0.0, u_end));
  return face_over_box(c, QELpar_box(u, v), false, full_turn);
}
