// Geometric queries: boxes, loop types, containment of points in loops and
// faces, face-loop counts and small tests of bodies and faces.
//
// Loops are judged in the parameter space of their face's surface: each
// coedge is sampled through its pcurve, or through point_perp of samples of
// its edge curve when it has none; periodic coordinates are unwrapped, so a
// loop that goes once round a periodic direction is a separation loop. A
// closed loop's signed parameter area, corrected for the face sense and the
// surface's left_handed_uv, tells a periphery (positive) from a hole. The
// material of a face lies on the left of every loop seen from its outside.
#pragma once

#include <vector>

#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "velm/topology.hxx"

class surface;

enum loop_type {
  loop_type_unknown = 0,
  loop_type_periphery = 1,
  loop_type_hole = 2,
  loop_type_u_sep = 3,   // goes once round the periodic u direction
  loop_type_v_sep = 4,   // goes once round v (about the axis of cones, spheres, tori)
  loop_type_uv_sep = 5,  // round both
  loop_type_other_sep = 6
};

enum point_face_containment { pfc_unknown = 0, pfc_inside = 1, pfc_boundary = 2, pfc_outside = 3 };
enum point_containment { pc_unknown = 0, pc_inside = 1, pc_boundary = 2, pc_outside = 3 };

// ---- boxes (model space when a transform is given) ----

// The cached bound (FACE::bound) when set; otherwise the box of the face's
// edges, united (except on planes) with the surface's box over the face's
// parameter box. A cap closed by a singular point without a loop there
// (sphere pole, cone apex) reaches only as far as its loops.
QELbox get_face_box(const FACE* face, const QELtransf* t = nullptr, int tight = 0,
                    QELbox* untransformed = nullptr);
QELbox get_edge_box(const EDGE* edge, const QELtransf* t = nullptr);
QELbox get_loop_box(const LOOP* loop, const QELtransf* t = nullptr);
// Faces, wire edges and lone vertices, under the body's own transform and
// then `t`. Throws when the body has nothing to box. `tight` is accepted and
// has no effect: the box is always built from the faces' own boxes.
QELbox get_body_box(const BODY* body, const QELtransf* t = nullptr, int tight = 0);
// Box of every listed entity (bodies, their parts, geometry with a finite
// box), each under its body's transform. Fails when nothing could be boxed.
// `tight` has no effect, as for get_body_box.
outcome api_get_entity_box(const ENTITY_LIST& list, WCS* wcs, QELposition& min_pt,
                           QELposition& max_pt, int tight = 0);

// Parameter box of the face's loops, unwrapped across seams; a direction a
// loop goes round spans the surface's whole period. A face without loops has
// its surface's whole range. False (box untouched) without a surface equation.
bool sg_get_face_par_box(const FACE* face, QELpar_box& box);

// ---- loop types ----

// The parameter-space polygon of a loop. Throws when the loop has no face
// with a surface equation or cannot be sampled.
class ps_polygon {
 public:
  explicit ps_polygon(const LOOP* loop);
  loop_type get_type() const { return type_; }
  // +1 for a closed loop running the periphery way, -1 the hole way; 0 for
  // separation loops and degenerate ones.
  double winding_number() const { return winding_; }
  // Signed parameter-space area, corrected for face sense and handedness.
  double area() const { return area_; }

 private:
  loop_type type_ = loop_type_unknown;
  double winding_ = 0.0;
  double area_ = 0.0;
};

loop_type get_loop_type(const LOOP* loop);
outcome api_loop_type(const LOOP* loop, int& type);
// 1 for the face's outer boundary: its periphery, or on a face without one
// its first separation loop; else 0.
outcome api_loop_external(const LOOP* loop, int& external);

// counts[0] peripheries, [1] holes, [2] v-separations (type 4), [3]
// u-separations (type 3), [4] loops of types 0, 5 and 6. The counts are
// always written; the call fails with VELM_BAD_FACE_LOOPS when there is more
// than one periphery, any loop of the last group, a hole outside the
// periphery, holes without periphery on a surface closed in no direction, or
// an odd number of separation loops round a direction with no singular end.
outcome api_check_face_loops(const FACE* face, int counts[5]);

// ---- containment ----

// The point is projected onto the face's surface and its parameters are
// classified against the loops; on an edge or vertex (within its tolerance,
// at least QELresabs): boundary. With a cached face bound, a point outside it
// is outside. `t` is the transform of the face's body (the point is in model
// space). The cache arguments are accepted and ignored.
point_face_containment point_in_face(const QELposition& p, const FACE* face,
                                     const QELtransf* t = nullptr, const QELpar_pos* guess = nullptr,
                                     bool use_cache = false, int cache_size = 10);
// Against one loop: inside means on its material side (inside a periphery,
// outside a hole).
point_face_containment point_in_loop(const QELposition& p, const LOOP* loop,
                                     const QELtransf* t = nullptr, const QELpar_pos* guess = nullptr);

// ---- tests and small accessors ----

// Every face single-sided, no wire, and every edge used by exactly two
// coedges of opposite sense; false for a body without faces.
bool is_closed_solid_body(const BODY* body);
bool is_planar_face(const FACE* face);
bool is_spline_face(const FACE* face);
bool is_conical_face(const FACE* face);  // cylinders included
bool is_cylindrical_face(const FACE* face);
bool is_spherical_face(const FACE* face);
bool is_toroidal_face(const FACE* face);

QELposition coedge_start_pos(const COEDGE* coedge);
// The edge's start and end parameters on its curve (edge sense applied).
void sg_get_params(const EDGE* edge, double& start_param, double& end_param);

// ---- areas, poles, boundaries and directions ----

class area_property {
 public:
  area_property(double area = 0.0, double accuracy = 0.0) : area_(area), accuracy_(accuracy) {}
  double area() const { return area_; }
  double accuracy() const { return accuracy_; }  // estimated relative error

 private:
  double area_;
  double accuracy_;
};

// Signed area of a face (or the sum over a shell's, lump's or body's faces),
// under the body's transform: positive when the loops run the right way for
// the face sense, negative when against it. A face whose single loop goes
// round the axis is bounded by the surface's singular end on the loop's
// material side; a face without loops is its whole (bounded) surface. Loops
// round both directions of a torus at once are refused (VELM_BAD_ARGUMENT),
// as is a region that no singular end closes. Throws on failure.
area_property ent_area_prop(const ENTITY* e, double requested_rel_accuracy);
outcome api_ent_area(const ENTITY* e, double requested_rel_accuracy, double& area,
                     double& achieved_rel_accuracy);

// The volume a body's faces enclose: the outward flux of P / 3 through every
// face, over the same regions as the face areas (and to the accuracy asked,
// as they are), under the body's transform. Meaningful for closed bodies;
// negative for one turned inside out.
outcome api_body_volume(const BODY* body, double requested_rel_accuracy, double& volume,
                        double& achieved_rel_accuracy);

// A face's signed area (as api_ent_area's) and the outward flux of
// (P - origin) / 3 through it over the same region (its term of
// api_body_volume when origin is 0), in the coordinates of its body with no
// transform applied, so that the figures of a face stay comparable while the
// body moves. Refined as api_ent_area is until the area meets the relative
// accuracy asked and the flux the same accuracy of the larger of itself and
// the flux of the face `reach` away from the origin (reach × |area| / 3: a
// face's own flux may be near zero); the errors are the estimates reached,
// absolute.
struct face_measures {
  double area = 0.0;
  double area_error = 0.0;
  double flux = 0.0;
  double flux_error = 0.0;
};
outcome api_face_measures(const FACE* face, const QELposition& origin, double requested_rel_accuracy,
                          double reach, face_measures& out);

// The singular points of the surface (sphere poles, cone apex, spindle-torus
// apexes, collapsed spline rows inside its range), at most two, u ends first.
int sg_surface_get_poles(const surface& s, QELposition poles[2]);

// Whether the point lies on the face's boundary within tol (or the entity's
// own tolerance): the vertex it is at, else the nearest coedge it is on.
bool sg_point_on_boundary(const FACE* face, const QELposition& p, double tol, ENTITY*& boundary);
// At the edge curve's parameter: the unit direction in the face's tangent
// plane, across the coedge, that points into the face.
QELunit_vector into_face(const COEDGE* coedge, double edge_param);

// Classifies the point (model space) by the nearest point of the body's
// boundary and the outward normals there; meaningful for closed bodies. A
// body without faces has everything outside. With use_boxes a point outside
// the body box is outside at once.
outcome api_point_in_body(const QELposition& point, BODY* body, point_containment& result, int use_boxes = 0);

// ---- curve intersections ----

struct cc_intersection;
// Intersections of the edges' curves, sorted along the first: param1 on the
// first curve, param2 on the second, rel 1 crossing, 2 tangency, 3 an end of
// an overlap (each overlap gives its two ends). Bounded: within the edges;
// otherwise the whole curves, unbounded ones to ten edge lengths (at least
// 10) beyond the edge. Null when they do not meet; the caller frees the list
// with delete_cc_intersections.
outcome api_intersect_curves(EDGE* first, EDGE* second, bool bounded, cc_intersection*& intersections);

struct contact_record {
  int kind;        // 1 a proper crossing, 0 a contact at an entity (a vertex, or touching/overlapping an edge)
  ENTITY* entity;  // a VERTEX or EDGE of the second entity
  double param;    // on the first edge's curve
};

// Where an edge meets another edge or the edges of a face, computed at once,
// sorted by the parameter on the first edge. Kernel allocation; lose() frees it.
class edge_entity_rel : public VELM_OBJECT {
 public:
  edge_entity_rel(EDGE* first, ENTITY* second);
  int status() const { return status_; }  // 0 valid, else the error number
  int n_contacts() const { return static_cast<int>(contacts_.size()); }
  const contact_record& contact(int i) const { return contacts_.at(static_cast<std::size_t>(i)); }
  void lose();

 private:
  ~edge_entity_rel() = default;
  int status_ = 0;
  std::vector<contact_record> contacts_;
};
