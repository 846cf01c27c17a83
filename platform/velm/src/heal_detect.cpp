// Detecting short edges and sliver faces.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "velm/api.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/heal.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kSamples = 32;

// Nearest point of the curve over the range (the nearer end when the foot
// falls outside it).
QELposition nearest_within(const curve& c, const QELinterval& range, const QELposition& p) {
  double t = 0.0;
  QELposition foot;
  c.point_perp(p, foot, nullptr, &t);
  if (!range.finite() || (t >= range.start_pt() && t <= range.end_pt())) return foot;
  const QELposition a = c.eval_position(range.start_pt());
  const QELposition b = c.eval_position(range.end_pt());
  return distance(p, a) <= distance(p, b) ? a : b;
}

bool ranged_curve(const EDGE* e, const curve*& eq, QELinterval& range) {
  const CURVE* cu = e->geometry();
  if (!cu || !cu->has_equation()) return false;
  try {
    range = edge_curve_range(e);
  } catch (const velm_exception&) {
    return false;
  }
  if (!range.finite()) return false;
  eq = &cu->equation();
  return true;
}

// Every sample of every edge lies within tol of another edge of the face.
bool narrow_face(const FACE* face, double tol) {
  ENTITY_LIST list;
  velm_topology_walk(face, EDGE_TYPE, list);
  struct piece {
    const curve* eq;
    QELinterval range;
  };
  std::vector<piece> pieces;
  for (int i = 0; i < list.count(); ++i) {
    piece p{nullptr, QELinterval()};
    if (!ranged_curve(static_cast<const EDGE*>(list[i]), p.eq, p.range)) return false;
    pieces.push_back(p);
  }
  if (pieces.size() < 2) return false;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    for (int k = 0; k <= kSamples; ++k) {
      const QELposition at = pieces[i].eq->eval_position(pieces[i].range.interpolate(double(k) / kSamples));
      double nearest = DBL_MAX;
      for (std::size_t j = 0; j < pieces.size() && nearest > tol; ++j)
        if (j != i) nearest = std::min(nearest, distance(at, nearest_within(*pieces[j].eq, pieces[j].range, at)));
      if (nearest > tol) return false;
    }
  return true;
}

}  // namespace

double determine_sliver_tolerance(const BODY* body) {
  velm_check_call("determine_sliver_tolerance");
  double scale = 1.0;
  if (body) {
    try {
      const QELbox box = get_body_box(body);
      scale = std::max(1.0, distance(box.low(), box.high()) / 1000.0);
    } catch (const velm_exception&) {
      scale = 1.0;  // nothing to box
    }
  }
  return 10.0 * QELresabs * scale;
}

outcome api_detect_short_edges(BODY* body, ENTITY_LIST& short_edges, double tol, int flag) {
  return velm_api("api_detect_short_edges", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    ENTITY_LIST edges;
    velm_topology_walk(body, EDGE_TYPE, edges);
    for (int i = 0; i < edges.count(); ++i) {
      const auto* e = static_cast<const EDGE*>(edges[i]);
      bool small = false;
      if (e->geometry() && e->geometry()->has_equation()) small = e->length() < tol;
      if (!small && flag == 1 && e->start() && e->end() && e->start()->geometry() && e->end()->geometry())
        small = distance(e->start()->geometry()->coords(), e->end()->geometry()->coords()) < tol;
      if (small) short_edges.add(edges[i]);
    }
  });
}

outcome api_detect_sliver_faces(BODY* body, ENTITY_LIST& slivers, double tol, int, const void*) {
  return velm_api("api_detect_sliver_faces", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    ENTITY_LIST faces;
    velm_topology_walk(body, FACE_TYPE, faces);
    for (int i = 0; i < faces.count(); ++i)
      if (narrow_face(static_cast<const FACE*>(faces[i]), tol)) slivers.add(faces[i]);
  });
}

double calculate_curve_tolerance(const curve& a, const QELinterval& range_a, const curve& c,
                                 const QELinterval& range_c) {
  velm_check_call("calculate_curve_tolerance");
  if (!range_a.finite()) velm_api_error_throw(VELM_BAD_ARGUMENT);
  double worst = 0.0;
  for (int k = 0; k <= kSamples; ++k) {
    const QELposition at = a.eval_position(range_a.interpolate(double(k) / kSamples));
    worst = std::max(worst, distance(at, nearest_within(c, range_c, at)));
  }
  return worst;
}
