// Geometry-bearing kernel models for the query, containment and build tests.
// Faces here carry no pcurves unless said, so loops are sampled through their
// edge curves; strip_pcurves turns the other builders' models into such ones.
#pragma once

#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace testkit {

// Sheet: one PLANE face in z = 0 (normal +z, u = x, v = y) bounded by the
// outer polygon (counter-clockwise) and the holes (clockwise), STRAIGHT edges.
BODY* make_polygon_sheet(const std::vector<QELpar_pos>& outer,
                         const std::vector<std::vector<QELpar_pos>>& holes = {});
// The square [0, 10]^2 with the hole [lo, lo + 2]^2 (lo = 4: in the middle).
BODY* make_square_with_hole(double lo = 4.0);
// The square [-5, 5]^2 with a round hole of the radius about the origin: one
// closed circle edge (one vertex) on a face nothing makes periodic.
BODY* make_square_with_round_hole(double radius = 2.0);
// Sheet: the side of a cylinder about +z (radius, z from 0 to height) bounded
// by its two circles and no seam: two loops of one coedge each.
BODY* make_cylinder_band(double radius = 5.0, double height = 8.0);
// Sheet: a cone about +z, radius 5 at z = 0 narrowing to its apex at
// z = 20 / 3, bounded only by the circle at z = 0 (no loop at the apex).
BODY* make_cone_cap();
// Sheet: a band of the torus about +z (major 10, minor 2) between two circles
// and no seam: round the axis (u = 0 and u = pi/2, type-4 loops) or round the
// tube (v = 0 and v = -pi/2, type-3 loops).
BODY* make_torus_band(bool round_axis);
// Sheet: an apple torus about +z (major 1, minor 2) bounded only by its outer
// equator, a circle of radius 3 in z = 0; its apexes get no loop.
BODY* make_apple_cap();
// One lump with two shells: a PLANE box of side 10 at the origin and a box of
// side 2 at `second` (reversed when it lies inside the first: a void).
BODY* make_two_shell_body(const QELposition& second);
// A PLANE box (make_plane_box) moved to the origin given.
BODY* make_plane_box_at(const QELposition& origin, double dx, double dy, double dz);
// Removes every pcurve below the entity.
void strip_pcurves(ENTITY* e);
// Faces of a body in kernel order.
std::vector<FACE*> faces_of(const ENTITY* e);

}  // namespace testkit

namespace testkit {
// The box's corners within tol (GoogleTest expectations).
void expect_box(const QELbox& b, const QELposition& lo, const QELposition& hi, double tol = 1e-6);
}  // namespace testkit
