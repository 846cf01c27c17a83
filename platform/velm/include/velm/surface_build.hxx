// Faces made from a surface alone, surface extension and offsets, and the exact
// rational B-spline forms of the analytic surfaces.
//
// Faces bounded by iso-lines: each side of the parameter box is an edge on the
// surface's iso-line over the side's range (the edge's parameter is the surface
// parameter along it) with a linear pcurve. A side along which the surface
// collapses (pole, apex) gives no edge; corners that coincide share one vertex.
// A face closed in one direction has no seam edge: the two sides across it are
// separation loops of one closed edge each; closed in both it has no loop. The
// material lies on the left of every loop seen from outside (loops are reversed
// on surfaces with left-handed parameters).
#pragma once

#include <vector>

#include "velm/bspline.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/topology.hxx"

// ---- faces ----

// A free planar face: the rectangle width x height centred on the root point,
// u along the plane's default u direction (a null normal means +z).
outcome api_face_plane(const QELposition& root, double width, double height, const QELvector* normal, FACE*& face);
// A sheet body of one face on a copy of the spline (make_face_spline).
outcome api_make_spline(const spline& srf, BODY*& body);
// A free face on a copy of the spline over the range (default: the whole
// surface), bounded by its iso-lines. Throws when the range is empty or infinite.
FACE* make_face_spline(const spline& srf, const QELpar_box* range = nullptr);
// A free face on a copy of the cone between its base ellipse (u = 0) and the
// section `height` along its axis (negative: below the base), over the angles
// v_start to v_end in radians; a range of a whole turn or more is a full turn
// [-pi, pi]. A section beyond the apex stops at the apex, which gets no edge.
FACE* make_face_cone(const cone& c, double v_start, double v_end, double height);

// ---- extension and offsets ----

// Extends a spline in place so that its range holds the target box: each end
// the box passes gets a new span continuing the surface with C2 continuity
// (the degree is raised to 3 where it is lower), then the surface is cut to the
// target at that end. Parameters of the old range stay as they were; periodic
// directions are left alone. The infos receive, by order, the join parameters
// where a derivative now jumps: from the knot multiplicities, or with check 1
// measured on the surface (a join found smooth is not reported). A procedural
// spline becomes its B-spline first. Throws when the surface is not a spline,
// the target is infinite at an end to extend, or the extension fails.
void extend_surface(surface& srf, const QELpar_box& target, int check, extension_info& u_info,
                    extension_info& v_info);

// The surface at `distance` along the base's outward normal (new, caller
// deletes). Planes shift; spheres and tori change their signed radius to
// r + distance, which keeps every (u, v) on its offset point and the outward
// side; circular cones keep angle and parameters (base circle moved and
// resized); any other surface becomes a spline on an off_spl_sur over the
// base's parameter box inside base_bound. status 0: ok. A degenerate offset
// (radius through zero, base circle vanishing, normals turning over at
// samples) gives status qelvelm_splsur_errmod 10 and a null result.
surface* offset_surface(const surface& base, const QELbox& base_bound, double distance, int& status,
                        const void* options = nullptr, const FACE* face = nullptr, const QELpar_box* box = nullptr);

// ---- exact forms ----

// Parameters of an exact form against those of its analytic surface. Linear
// directions (plane, a cone along its generators) keep their parameter. An
// angular direction is a chain of rational quadratic arcs whose knots are the
// angles at the arc ends; inside an arc the spline parameter runs ahead of the
// angle and then behind it. No affine map can describe that, so the exact form
// keeps the angle at its knots (the affine part is the identity) and this map
// gives the rest.
class exact_form_map {
 public:
  QELpar_pos to_spline(const QELpar_pos& analytic) const;
  QELpar_pos to_surface(const QELpar_pos& spline_uv) const;
  // Arc ends of an angular direction; empty for a linear one.
  std::vector<double> u_breaks, v_breaks;
};

// The exact rational B-spline of a plane, cone, sphere or torus over the box
// (non-periodic directions cut to the surface's range), quadratic in angular
// directions and linear along planes and generators; poles collapsed and forms
// set. Null for other kinds, an infinite or empty box, or an angular range
// longer than a period.
bs3_surface bs3_surface_exact_form(const surface& srf, const QELpar_box& box, exact_form_map* map = nullptr);
