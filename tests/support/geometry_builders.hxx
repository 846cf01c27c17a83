// Kernel models with real geometry for tests. Every builder returns a body
// that passes velm_test_check_model, with equations on every face and edge
// and pcurves wherever the edge is an iso-line of its face's surface.
#pragma once

#include <functional>
#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

namespace testkit {

// Frames a model is built in: the identity, a turn with a shift, and a
// mirror turned and shifted. A third of a turn about (1, 1, 1) takes x to y
// and z to x: a sphere's pole goes to +x and its longitude 0 to +y.
struct KernelFrame {
  const char* name;
  QELtransf transform;
};
std::vector<KernelFrame> kernel_frames();

// Axis-aligned box from the origin: PLANE faces (outward normals), STRAIGHT
// edges with range [0, length] and linear pcurves on every coedge.
BODY* make_plane_box(double dx = 10.0, double dy = 20.0, double dz = 30.0);
// Solid cylinder about +z from z = 0 to z = height: one CONE side face (a
// cylinder, v the angle from +x), two PLANE disks, two ELLIPSE circles
// starting at (-radius, 0, z) with range [-pi, pi], one STRAIGHT seam; pcurves
// on the side face.
BODY* make_cylinder(double radius = 5.0, double height = 8.0);
// The three faces of make_cylinder (wall, floor, roof), each alone in a
// sheet body of its own with edges and vertices of its own, facing outwards:
// the circles are closed edges on either side.
std::vector<BODY*> make_loose_cylinder_sheets(double radius = 5.0, double height = 8.0);
// Solid sector of the cylinder of make_cylinder between the angles 0 and
// `angle` (below pi) about +z: a CONE wall between two ELLIPSE arcs (range
// [0, angle], from (radius, 0, z)), PLANE floor, roof and two sides through
// the axis, STRAIGHT edges; no pcurves. Every corner has three edges.
BODY* make_cylinder_sector(double radius, double height, double angle);
// Sheet: the upper half of a SPHERE about the origin bounded by the equator
// (an ELLIPSE from (-radius, 0, 0), range [-pi, pi]) with its pcurve.
BODY* make_hemisphere(double radius = 4.0);
// Sheet: the quarter of the SPHERE of radius 4 about the origin with y >= 0,
// above the equator (`above`) or below it, bounded by half the equator and
// half a great circle through the pole (ELLIPSE edges, no pcurves); that
// half circle split at the pole into two arcs of it (`split`) or one edge.
BODY* make_quarter_sphere(bool above, bool split = true);
// Sheet: the half y <= 0 of the square [-5, 5]^2 in z = 0 on a B-spline
// surface of degree 1 that runs round the square's rim in u (closed) and in to
// its centre in v, where the surface is singular: at v = 1 (`pole_high`) or at
// v = 0. The boundary: three rim sides and the diameter along the x axis split
// at the centre into two STRAIGHT edges, each with an iso pcurve.
BODY* make_spline_half_square_to_pole(bool pole_high);
// Solids on a ring TORUS about +z through the origin (major > minor) whose
// torus face is a band between two ELLIPSE circles (closed edges, range
// [-pi, pi]) without a seam, or the whole torus; no pcurves. The slice of
// the ring between the tube circles at v0 and v1 (v about the axis, v0 < v1 <
// v0 + 2 pi), closed by two PLANE disks through the axis.
BODY* make_torus_slice(double major, double minor, double v0, double v1);
// Half the tube between the circles at its top and bottom (u = +-pi/2),
// outer (u from -pi/2 to pi/2) or inner (u from pi/2 across the seam at pi to
// 3 pi / 2), closed by the side of the cylinder of the major radius: a CONE
// face between the same circles without a seam either.
BODY* make_torus_half_ring(double major, double minor, bool outer);
// The whole torus: one face without loops.
BODY* make_whole_torus(double major, double minor);
// Wire body: one closed ELLIPSE circle about +z through the origin's
// level, starting and ending at one vertex (-radius, 0, 0), range [-pi, pi].
BODY* make_circle_wire(double radius = 3.0);
// Sheet: one bicubic SPLINE face over [0, 1] x [0, 1] bounded by four INTCURVE
// iso-curves with linear pcurves.
BODY* make_spline_sheet();
// The same sheet over a surface spanning [0, 1] x [0, 1] (taken), of the
// skin kind when skin.
BODY* make_spline_sheet(bs3_surface surface, bool skin);
// make_spline_sheet with its side along u at v = 0 split at u = split into two
// edges: the first keeps a pcurve over the whole side ([0, 1] on the edge's
// parameter), as a file may give it, running on past the edge that stops at
// split.
BODY* make_spline_sheet_split(double split);
// How far the coedge's pcurve, on its face's surface, strays from the edge's
// curve at 17 parameters of the edge's range (the pcurve read at the curve's
// parameter, negated where the coedge runs against the edge's curve).
double worst_pcurve_gap(const COEDGE* c);
// The B-spline surface of make_spline_sheet (caller deletes).
bs3_surface make_test_bs3_surface();
// A tube about +z from z = 0 (u = 0) to z = 4 (u = 1), closed round v: with
// periodic false a square of side 2 (degree 1, v in [0, 4], form closed, the
// seam at a corner); with periodic true a cubic on a hexagon of radius 2
// (wrapped knots, v in [3, 9], form periodic). Caller deletes.
bs3_surface make_tube_bs3_surface(bool periodic);

// A degree-1 2-D B-spline from a to b over the range.
bs2_curve linear_bs2(const QELpar_pos& a, const QELpar_pos& b, const QELinterval& range);
// Puts every pcurve of the face's first loop on the line u = 0.5 (acrossU) or
// v = 0.5, keeping the other parameter of its ends: a face whose parameter
// box is empty in that direction.
void flatten_loop_pcurves(FACE* face, bool acrossU);
// The coedge's pcurve moved by (du, dv) in its surface's parameters, as a
// pcurve of its own (whole periods: the same points, another place).
void shift_pcurve(COEDGE* c, double du, double dv);
// A use of a seam of the face (an edge whose two uses both bound it), both
// uses with pcurves; null when the face has none.
COEDGE* seam_use(FACE* face);
// The widest step in the surface's parameters from a use's pcurve end to the
// next use's pcurve start, over the face's loops (at a pole or apex, or
// where a parameter moves the point at less than a thousandth of its own
// pace, the step along that parameter is not counted: the loop comes out of
// a pole anywhere along its line); `allPCurved` is false when some use has no
// pcurve.
double widest_loop_join_step(const FACE* face, bool& allPCurved);
// The face's coedges, loop by loop, each loop from its start.
std::vector<COEDGE*> loop_uses(FACE* face);

// The edges of the body (in the kernel's list order) that `which` picks, all
// when it is empty, made to run against their curves: each curve turned round
// (the point at edge parameter t is then the old curve's at t), the edge and
// its range where they were.
void reverse_edge_curves(ENTITY* body, const std::function<bool(int)>& which = {});

}  // namespace testkit
