// Shared by the query, containment and loop-typing sources: walks, the
// parameter-space polygons of loops and the classification of parameters.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"

namespace velm_query {

template <class T>
std::vector<T*> chain(T* first) {
  std::vector<T*> out;
  for (T* e = first; e; e = e->next()) out.push_back(e);
  return out;
}

// A parameter moved by whole periods to within a period or so of `start`, in
// one step: the callers then step it the last period or two as they like. A
// parameter many periods away (a damaged edge's range, a projection far
// along a curve) would take a step per period, for ever once a period no
// longer changes it.
inline double near_period(double t, double start, double period) {
  if (period > 0.0 && std::fabs(t - start) > 4.0 * period) t -= period * std::floor((t - start) / period);
  return t;
}

std::vector<COEDGE*> loop_coedges(const LOOP* loop);
std::vector<const FACE*> body_faces(const BODY* body);
// The equation of the face's surface; null when it has none.
const surface* face_surface(const FACE* face);
// The body an entity belongs to (through coedges for edges and vertices), or null.
BODY* owning_body(const ENTITY* e);
// A surface closed or collapsed at both ends of both directions (a whole
// sphere or torus): a face on it needs no loop, and may be bounded by
// holes alone.
bool surface_boundless(const surface& s);

// A vertex of an edge that lies off its curve's end there by more than the
// larger of its own and the edge's tolerance (as the kernel's entity check
// finds it), and how far: the start vertex first. None (null) when both lie
// within it, or when the edge has no curve equation or a range that is not
// finite or runs backwards. The check and the restore both judge by it.
struct vertex_off_curve {
  const VERTEX* vertex = nullptr;
  bool at_start = false;
  double gap = 0.0;
  double tolerance = 0.0;
};
// Whether the test kit has asked for faulty edges to be saved and restored
// as they are (velm_test_save_unchecked).
bool saves_unchecked();
vertex_off_curve edge_vertex_off_curve(const EDGE* edge);

// Why no save file may hold the edge, in the restore's words: an edge between
// two vertices with no curve, or with a curve that carries no equation, or
// with a vertex off its curve's end beyond the tolerance ("its end vertex
// lies 14.1 off its curve's end, beyond the tolerance of 1e-06"); "" when
// it may. `record` names the curve or vertex meant ("record 30"; "" names
// none). The save refuses what the restore refuses by this one judgement.
std::string edge_unsavable(const EDGE* edge, const std::function<std::string(const ENTITY*)>& record);
// The same of a face: one without a surface, or whose surface carries no
// equation (every reader of a face evaluates its surface).
std::string face_unsavable(const FACE* face, const std::function<std::string(const ENTITY*)>& record);

}  // namespace velm_query

// A finding of the strict structural check (velm_test_check_model): the
// entity it is about (null for none) and what is wrong with it ("end vertex
// is not the next coedge's start vertex").
struct velm_model_finding {
  const ENTITY* entity;
  std::string what;
};
// The structural check, its findings in the order found; true when none.
bool velm_check_model_findings(const ENTITY* root, std::vector<velm_model_finding>& findings);

namespace velm_query {

// A loop in the parameter space of its face's surface. Samples are unwrapped
// across periods; the ring closes at pts[0] + shift, shift being whole periods.
struct par_loop {
  const LOOP* loop = nullptr;
  std::vector<QELpar_pos> pts;
  QELpar_vec shift;
  int turns_u = 0;
  int turns_v = 0;
  double area = 0.0;  // shoelace area, raw (closed loops only)
  QELpar_box box;
  loop_type type = loop_type_unknown;
  QELpar_pos at(long j) const;  // pts with the ring continued by whole shifts
};

struct face_frame {
  const FACE* face = nullptr;
  const surface* srf = nullptr;
  double period_u = 0.0;
  double period_v = 0.0;
  // +1 when a positive shoelace area runs the periphery way (material on the left).
  double orient = 1.0;
  std::vector<par_loop> loops;  // face order; closed loops moved next to the first
};

// Throws (VELM_NULL_ENTITY) for a face without a surface equation. `density`
// multiplies the samples per coedge; the coarser samples are among the finer.
face_frame face_polygons(const FACE* face, const LOOP* only = nullptr, int density = 1);
QELpar_box frame_par_box(const face_frame& frame);
// The box of a plane face with loops straight from its boundary samples (a
// plane has no period and no singular point); false for any other face.
bool plane_face_par_box(const FACE* face, QELpar_box& box);
// Inside or outside by the side of the nearest boundary segment; a face
// without loops is the whole surface.
point_face_containment classify(const face_frame& frame, const QELpar_pos& uv);
// On one of the loops' edges or vertices, within their tolerances.
bool on_loop_boundary(const LOOP* loop, const QELposition& p);

}  // namespace velm_query
